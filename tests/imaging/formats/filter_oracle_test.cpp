// Icon, cursor, Targa, anymap and wireless bitmap files from icotool, netpbm,
// ImageMagick and Pillow read to the pixels those tools put in; what our
// writers make opens in icotool, tgatoppm, pamfile, wbmptopbm and Pillow with
// the pixels we meant.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/core/ie_mask.h"
#include "imaging/formats/ico_filter.h"
#include "imaging/formats/pnm_filter.h"
#include "imaging/formats/tga_filter.h"
#include "imaging/formats/wbmp_filter.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
const char* kPython = "/usr/bin/python3";

std::string Script() { return std::string(QV_SOURCE_DIR) + "/tests/imaging/formats/filter_oracle.py"; }

bool HaveTools() {
  return qvtest::RunCommand(std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1") == 0 &&
         qvtest::HaveProgram("icotool") && qvtest::HaveProgram("pamtotga") && qvtest::HaveProgram("tgatoppm") &&
         qvtest::HaveProgram("pamfile") && qvtest::HaveProgram("pbmtowbmp") && qvtest::HaveProgram("convert");
}

struct Decoded {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  TIEMaskOut mask;
  qvtest::Progress progress;
  // RGBA rows; alpha from the mask, else from the alpha channel (PNG images), else 255.
  Bytes Rgba() {
    TIEBitmap c;
    c.Assign(&bitmap);
    if (c.PixelFormat() != ie24RGB) c.SetPixelFormat(ie24RGB);
    Bytes out;
    for (int y = 0; y < c.Height(); ++y)
      for (int x = 0; x < c.Width(); ++x) {
        const TRGB p = c.GetPixelRGB(x, y);
        const int a = mask ? mask->GetPixel(x, y) : bitmap.HasAlphaChannel() ? bitmap.GetAlpha(x, y) : 255;
        out.insert(out.end(), {p.r, p.g, p.b, uint8_t(a)});
      }
    return out;
  }
};

std::unique_ptr<Decoded> Decode(const Bytes& bytes, const std::string& ext, int index = 0) {
  auto d = std::make_unique<Decoded>();
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  d->params.IcoImageIndex = d->params.CurImageIndex = index;
  if (ext == "ico") ReadICOStream(s, d->bitmap, d->params, false, d->progress.rec, d->mask, false);
  else if (ext == "cur") ReadCURStream(s, d->bitmap, d->params, false, d->progress.rec, d->mask, false);
  else if (ext == "tga") ReadTGAStream(s, d->bitmap, d->params, d->progress.rec, false, d->mask, false);
  else if (ext == "pnm") ReadPXMStream(s, d->bitmap, d->params, d->progress.rec, false);
  else ReadWBMPStream(s, d->bitmap, d->params, d->progress.rec, false);
  return d;
}

Bytes FromHex(const std::string& hex) {
  Bytes v;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) v.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return v;
}

// Pillow's RGBA of each image ("ico": every image of an icon; "dump": the file).
std::vector<Bytes> Pillow(const std::string& command, const std::string& path, std::vector<int>* sizes = nullptr) {
  std::string out;
  if (qvtest::RunCommand(std::string(kPython) + " " + Script() + " " + command + " " + path, &out) != 0) return {};
  std::istringstream in(out);
  std::vector<Bytes> images;
  int w, h;
  std::string hex;
  while (in >> w >> h >> hex) {
    images.push_back(FromHex(hex));
    if (sizes) sizes->insert(sizes->end(), {w, h});
  }
  return images;
}

// Equal colours where the expected pixel is opaque, equal alpha when asked.
void ExpectPixels(const Bytes& got, const Bytes& want, bool alpha, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  int bad = 0;
  for (size_t i = 0; i < want.size(); i += 4) {
    const bool opaque = want[i + 3] == 255;
    bool same = !opaque || (got[i] == want[i] && got[i + 1] == want[i + 1] && got[i + 2] == want[i + 2]);
    if (alpha) same = same && got[i + 3] == want[i + 3];
    else same = same && got[i + 3] == 255;
    if (!same && bad++ < 3)
      ADD_FAILURE() << what << " pixel " << i / 4 << ": " << int(got[i]) << "," << int(got[i + 1]) << ","
                    << int(got[i + 2]) << "," << int(got[i + 3]) << " want " << int(want[i]) << ","
                    << int(want[i + 1]) << "," << int(want[i + 2]) << "," << int(want[i + 3]);
  }
  EXPECT_EQ(bad, 0) << what;
}

TEST(FilterOracle, ToolFilesReadToTheToolsPixels) {
  if (!HaveTools()) GTEST_SKIP() << "Pillow, icoutils, netpbm or ImageMagick missing";
  qvtest::TempDir dir;
  ASSERT_EQ(qvtest::RunCommand(std::string(kPython) + " " + Script() + " make " + dir.File("") + " 2>/dev/null"), 0);
  std::ifstream manifest(dir.File("manifest"));
  std::string name, ext;
  int index, w, h, alpha, hotX, hotY, count = 0;
  while (manifest >> name >> ext >> index >> w >> h >> alpha >> hotX >> hotY) {
    ++count;
    const std::string file = ext == "ico" ? "all.ico" : name + "." + ext;
    auto d = Decode(qvtest::ReadFileBytes(dir.File(file)), ext, index);
    ASSERT_FALSE(d->progress.Aborted()) << name;
    ASSERT_EQ(d->bitmap.Width(), w) << name;
    ASSERT_EQ(d->bitmap.Height(), h) << name;
    ExpectPixels(d->Rgba(), qvtest::ReadFileBytes(dir.File(name + ".rgba")), alpha != 0, name);
    if (ext == "cur") {
      EXPECT_EQ(d->params.CurHotSpotX, hotX) << name;
      EXPECT_EQ(d->params.CurHotSpotY, hotY) << name;
    }
    if (ext == "ico") {
      // The size table agrees with what icotool -l lists.
      EXPECT_EQ(d->params.ImageCount, 6);
      const int bits[] = {1, 4, 8, 24, 32, 32};
      for (int i = 0; i < 6; ++i) EXPECT_EQ(d->params.IcoBitCounts[i], bits[i]) << i;
      EXPECT_EQ(d->params.IcoSizes[5].Width, 256);
    }
  }
  EXPECT_EQ(count, 33);
}

// What icotool -l says about a file.
std::string IcotoolList(const std::string& path) {
  std::string out;
  qvtest::RunCommand("icotool -l " + path, &out);
  return out;
}

TEST(FilterOracle, OurIconsOpenInIcotoolAndPillow) {
  if (!HaveTools()) GTEST_SKIP() << "Pillow or icoutils missing";
  qvtest::TempDir dir;
  auto picture = qvtest::Gradient(23, 13);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 23; ++x) picture->SetAlpha(x, y, uint8_t(x < 3 ? 0 : y < 6 ? 255 : (x * 11 + y * 17) % 256));
  TIOParamsVals params(nullptr);
  TMemoryStream out;
  qvtest::Progress p;
  WriteICOStream(out, *picture, params, p.rec, {{23, 13}, {48, 48}, {32, 32}, {16, 16}, {256, 256}, {24, 24}},
                 {32, 32, 8, 4, 24, 1});
  ASSERT_FALSE(p.Aborted());
  const std::string path = dir.File("ours.ico");
  qvtest::WriteFileBytes(path, qvtest::StreamBytes(out));
  const std::string list = IcotoolList(path);
  for (const char* line : {"--index=1 --width=23 --height=13 --bit-depth=32", "--index=2 --width=48 --height=48 --bit-depth=32",
                           "--index=3 --width=32 --height=32 --bit-depth=8", "--index=4 --width=16 --height=16 --bit-depth=4",
                           "--index=5 --width=256 --height=256 --bit-depth=24", "--index=6 --width=24 --height=24 --bit-depth=1"})
    EXPECT_NE(list.find(line), std::string::npos) << line << "\n" << list;
  std::vector<int> sizes;
  const std::vector<Bytes> frames = Pillow("ico", path, &sizes);
  ASSERT_EQ(frames.size(), 6u) << "Pillow opens every image";
  // Each image as Pillow decodes it is the image we read back from our file.
  const int order[][2] = {{23, 13}, {48, 48}, {32, 32}, {16, 16}, {256, 256}, {24, 24}};
  const Bytes bytes = qvtest::StreamBytes(out);
  for (size_t f = 0; f < frames.size(); ++f) {
    int i = -1;
    for (int k = 0; k < 6; ++k)
      if (order[k][0] == sizes[2 * f] && order[k][1] == sizes[2 * f + 1]) i = k;
    ASSERT_GE(i, 0);
    auto d = Decode(bytes, "ico", i);
    ExpectPixels(frames[f], d->Rgba(), true, "image " + std::to_string(i));
  }
  // The unscaled 32-bit image is the picture itself.
  auto first = Decode(bytes, "ico", 0);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 23; ++x) {
      ASSERT_EQ(first->bitmap.GetPixelRGB(x, y), picture->GetPixelRGB(x, y));
      ASSERT_EQ(first->mask->GetPixel(x, y), picture->GetAlpha(x, y));
    }
}

TEST(FilterOracle, OurTargaFilesOpenInNetpbmAndPillow) {
  if (!HaveTools()) GTEST_SKIP() << "Pillow or netpbm missing";
  qvtest::TempDir dir;
  auto picture = qvtest::Gradient(23, 13);
  struct Form {
    const char* name;
    int spp, bps;
    bool compressed, grey, alpha;
  };
  const Form forms[] = {{"raw24", 3, 8, false, false, false}, {"rle24", 3, 8, true, false, false},
                        {"alpha32", 3, 8, false, false, true}, {"cmap256", 1, 8, false, false, false},
                        {"cmap256_rle", 1, 8, true, false, false}, {"cmap16", 1, 4, true, false, false},
                        {"grey", 1, 8, true, true, false}, {"mono", 1, 1, false, false, false}};
  // Every file first, then one run of each tool over all of them.
  std::vector<Bytes> want;
  std::string tgaPaths, ppmPaths;
  for (const Form& f : forms) {
    TIOParamsVals params(nullptr);
    params.SamplesPerPixel = f.spp, params.BitsPerSample = f.bps;
    params.TgaCompressed = f.compressed, params.TgaGrayscale = f.grey;
    TIEMask mask;
    if (f.alpha) {
      mask.Allocate(23, 13, 8);
      for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 23; ++x) mask.SetPixel(x, y, (x * 11 + y * 17) % 256);
    }
    TMemoryStream out;
    qvtest::Progress p;
    WriteTGAStream(out, *picture, params, p.rec, f.alpha ? &mask : nullptr);
    ASSERT_FALSE(p.Aborted()) << f.name;
    const Bytes bytes = qvtest::StreamBytes(out);
    const std::string path = dir.File(std::string(f.name) + ".tga");
    qvtest::WriteFileBytes(path, bytes);
    tgaPaths += " " + path;
    auto ours = Decode(bytes, "tga");
    ASSERT_FALSE(ours->progress.Aborted()) << f.name;
    want.push_back(ours->Rgba());
    if (f.spp == 3) {  // true colour is written exactly
      for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 23; ++x) ASSERT_EQ(ours->bitmap.GetPixelRGB(x, y), picture->GetPixelRGB(x, y)) << f.name;
    }
    // tgatoppm gives the colours (it reads no 1-bit Targa; Pillow does).
    if (f.bps != 1) {
      const std::string ppm = dir.File(std::string(f.name) + ".ppm");
      ASSERT_EQ(qvtest::RunCommand("tgatoppm " + path + " > " + ppm + " 2>/dev/null"), 0) << f.name;
      ppmPaths += " " + ppm;
    }
  }
  // Pillow gives colours and alpha of our files, and reads what tgatoppm made of them.
  const std::vector<Bytes> pil = Pillow("dump", tgaPaths);
  const std::vector<Bytes> netpbm = Pillow("dump", ppmPaths);
  ASSERT_EQ(pil.size(), std::size(forms));
  ASSERT_EQ(netpbm.size(), std::size(forms) - 1);
  for (size_t i = 0, k = 0; i < std::size(forms); ++i) {
    const Form& f = forms[i];
    ExpectPixels(pil[i], want[i], f.alpha, std::string("Pillow ") + f.name);
    if (f.bps == 1) continue;
    Bytes opaque = want[i];
    for (size_t j = 3; j < opaque.size(); j += 4) opaque[j] = 255;
    ExpectPixels(netpbm[k++], opaque, false, std::string("tgatoppm ") + f.name);
  }
}

TEST(FilterOracle, OurAnymapsOpenInPamfileAndPillow) {
  if (!HaveTools()) GTEST_SKIP() << "Pillow or netpbm missing";
  qvtest::TempDir dir;
  auto picture = qvtest::Gradient(23, 13);
  TIEBitmap mono(23, 13, ie1g);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 3; ++x) mono.ScanLine(y)[x] = uint8_t(0x5A ^ (y * 17 + x));
  struct Form {
    const char* name;
    TIEBitmap* bitmap;
    int bps, spp;
    const char* pamfile;
  };
  const Form forms[] = {{"p4", &mono, 1, 1, "PBM raw, 23 by 13"},
                        {"p5", picture.get(), 8, 1, "PGM raw, 23 by 13  maxval 255"},
                        {"p6", picture.get(), 8, 3, "PPM raw, 23 by 13  maxval 255"},
                        {"p6_16", picture.get(), 16, 3, "PPM raw, 23 by 13  maxval 65535"}};
  for (const Form& f : forms) {
    TIOParamsVals params(nullptr);
    params.BitsPerSample = f.bps, params.SamplesPerPixel = f.spp;
    params.PxmComments.Add("made by quorvane");
    TMemoryStream out;
    qvtest::Progress p;
    WritePXMStream(out, *f.bitmap, params, p.rec);
    ASSERT_FALSE(p.Aborted()) << f.name;
    const std::string path = dir.File(std::string(f.name) + ".pnm");
    qvtest::WriteFileBytes(path, qvtest::StreamBytes(out));
    std::string info;
    ASSERT_EQ(qvtest::RunCommand("pamfile " + path, &info), 0) << f.name;
    EXPECT_NE(info.find(f.pamfile), std::string::npos) << info;
    auto ours = Decode(qvtest::StreamBytes(out), "pnm");
    const std::vector<Bytes> pil = Pillow("dump", path);
    ASSERT_EQ(pil.size(), 1u) << f.name;
    ExpectPixels(pil[0], ours->Rgba(), false, f.name);
    if (f.spp == 3) {
      for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 23; ++x) ASSERT_EQ(ours->bitmap.GetPixelRGB(x, y), picture->GetPixelRGB(x, y)) << f.name;
    }
  }
}

TEST(FilterOracle, OurWirelessBitmapsOpenInWbmptopbm) {
  if (!HaveTools() || !qvtest::HaveProgram("wbmptopbm")) GTEST_SKIP() << "netpbm missing";
  qvtest::TempDir dir;
  for (int w : {100, 200, 300}) {
    TIEBitmap b(w, 7, ie1g);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < (w + 7) / 8; ++x) b.ScanLine(y)[x] = uint8_t(x * 29 + y * 83);
    TMemoryStream out;
    TIOParamsVals params(nullptr);
    qvtest::Progress p;
    WriteWBMPStream(out, b, params, p.rec);
    ASSERT_FALSE(p.Aborted());
    const std::string path = dir.File("w.wbmp");
    qvtest::WriteFileBytes(path, qvtest::StreamBytes(out));
    ASSERT_EQ(qvtest::RunCommand("wbmptopbm " + path + " > " + dir.File("w.pbm")), 0) << w;
    const std::vector<Bytes> pil = Pillow("dump", dir.File("w.pbm"));
    ASSERT_EQ(pil.size(), 1u) << w;
    ASSERT_EQ(pil[0].size(), size_t(4 * w * 7)) << w;
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t want = (b.ScanLine(y)[x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
        ASSERT_EQ(pil[0][size_t(4 * (y * w + x))], want) << w << " " << x << "," << y;
      }
  }
}

}  // namespace
