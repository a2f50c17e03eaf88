// GIFs from gifbuild, Pillow, ImageMagick, gifsicle and gdk-pixbuf's test
// suite read, frame by frame, to the indices and palettes giflib's DGifSlurp
// finds, with its delays, disposals, positions and comments; what we write
// decodes in giflib and Pillow to what we hold, and giftext shows our flags.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/core/ie_mask.h"
#include "imaging/formats/gif_filter.h"
#include "imaging/io/io_params.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/pictures/gif/gif_test_util.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

const char* kSuite = "/usr/libexec/installed-tests/gdk-pixbuf/test-images/gif-test-suite";
const char* kPixbufTests = "/usr/libexec/installed-tests/gdk-pixbuf";

std::string Script() { return std::string(QV_SOURCE_DIR) + "/tests/imaging/formats/gif_oracle.py"; }

bool HaveTools() {
  return giftest::HavePillow() && qvtest::HaveProgram("gifbuild") && qvtest::HaveProgram("giftext") &&
         qvtest::HaveProgram("convert") && qvtest::HaveProgram("gifsicle") && fs::exists(kSuite);
}

struct Read {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  qvtest::Progress progress;
  TIEMaskOut mask;
  int frames = 0;
};

std::unique_ptr<Read> ReadFrame(const Bytes& bytes, int index, bool native) {
  auto r = std::make_unique<Read>();
  r->params.GifLZWDecoder = GIFLZWDecompress;
  r->params.GifImageIndex = index;
  r->params.NativePixelFormat = native;
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  ReadGIFStream(s, r->bitmap, r->frames, false, r->mask, false, r->progress.rec, r->params);
  return r;
}

Bytes Indices(TIEBitmap& b) {
  Bytes out;
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < b.Width(); ++x)
      out.push_back(b.PixelFormat() == ie1g ? (row[x >> 3] >> (7 - (x & 7))) & 1 : row[x]);
  }
  return out;
}

// The files the tools make, with the gif-test-suite's and gdk-pixbuf's own.
const char* kGifbuildSpec = R"(screen width 12
screen height 9
screen colors 4
screen background 2
screen map
	rgb 000 000 000 is 0
	rgb 255 000 000 is 1
	rgb 000 255 000 is 2
	rgb 000 000 255 is 3
end
comment
first comment
end
graphics control
	disposal mode 1
	delay 12
	transparent index 3
end
image
image left 2
image top 1
image interlaced
image bits 5 by 7
01230
12301
23012
30123
01230
12301
23333
graphics control
	disposal mode 3
	delay 4
end
image
image left 0
image top 0
image map
	rgb 010 020 030 is 0
	rgb 040 050 060 is 1
	rgb 070 080 090 is 2
	rgb 100 110 120 is 3
	rgb 130 140 150 is 4
	rgb 160 170 180 is 5
	rgb 190 200 210 is 6
	rgb 220 230 240 is 7
end
image bits 12 by 3
012345670123
765432107654
000000007777
comment
last comment
end
)";

std::vector<std::string> MakeFiles(const std::string& dir) {
  std::vector<std::string> files;
  auto run = [&](const std::string& cmd, const std::string& out) {
    EXPECT_EQ(qvtest::RunCommand(cmd), 0) << cmd;
    files.push_back(out);
  };
  const std::string spec = dir + "/spec.txt";
  qvtest::WriteFileBytes(spec, Bytes(kGifbuildSpec, kGifbuildSpec + std::strlen(kGifbuildSpec)));
  run("gifbuild " + spec + " > " + dir + "/gifbuild.gif", dir + "/gifbuild.gif");
  EXPECT_EQ(qvtest::RunCommand("/usr/bin/python3 " + Script() + " make " + dir), 0);
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind("pil_", 0) == 0) files.push_back(e.path().string());
  run("convert -size 37x19 gradient:red-blue -colors 13 -interlace GIF " + dir + "/im_interlaced.gif",
      dir + "/im_interlaced.gif");
  run("convert -size 21x21 xc:none -fill red -draw 'circle 10,10 10,3' " + dir + "/im_transparent.gif",
      dir + "/im_transparent.gif");
  run("convert -size 19x13 pattern:checkerboard -monochrome " + dir + "/im_bw.gif", dir + "/im_bw.gif");
  run("convert -size 16x16 plasma:fractal -seed 3 -colors 256 " + dir + "/im_256.gif", dir + "/im_256.gif");
  run("convert -delay 5 -size 10x10 xc:red -size 6x4 xc:blue -page +2+3 -size 5x5 xc:green -page +4+1 -loop 0 " +
          dir + "/im_anim.gif",
      dir + "/im_anim.gif");
  run("gifsicle --disposal previous -d 3 " + dir + "/im_anim.gif " + dir + "/pil_anim.gif -o " + dir +
          "/sicle_merge.gif",
      dir + "/sicle_merge.gif");
  for (const auto& e : fs::directory_iterator(kSuite))
    if (e.path().extension() == ".gif") files.push_back(e.path().string());
  for (const char* name : {"aero.gif", "1_partyanimsm2.gif", "test-animation.gif"})
    if (fs::exists(std::string(kPixbufTests) + "/" + name)) files.push_back(std::string(kPixbufTests) + "/" + name);
  return files;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string s;
  for (const auto& p : parts) s += p;
  return s;
}

TEST(GifFilterOracle, EveryFrameReadsToGiflibsIndicesPaletteAndControls) {
  if (!HaveTools()) GTEST_SKIP() << "Pillow, giflib-tools, ImageMagick, gifsicle or gdk-pixbuf-tests missing";
  qvtest::TempDir dir;
  const std::vector<std::string> files = MakeFiles(dir.Path());
  int compared = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const Bytes bytes = qvtest::ReadFileBytes(file);
    const giftest::LibFile lib = giftest::SlurpWithGiflib(bytes);
    if (!lib.ok || lib.frames.empty()) continue;  // damaged on purpose: the hostile tests take those
    bool allDecoded = true;
    for (const auto& f : lib.frames) allDecoded = allDecoded && !f.pixels.empty();
    if (!allDecoded) continue;
    for (size_t i = 0; i < lib.frames.size(); ++i) {
      SCOPED_TRACE("frame " + std::to_string(i));
      const giftest::LibFrame& g = lib.frames[i];
      auto r = ReadFrame(bytes, int(i), true);
      ASSERT_FALSE(r->progress.Aborted()) << r->progress.rec.Refusal;
      EXPECT_EQ(r->frames, int(lib.frames.size()));
      EXPECT_EQ(r->params.GifWinWidth, lib.width);
      EXPECT_EQ(r->params.GifWinHeight, lib.height);
      EXPECT_EQ(r->params.GifXPos, g.left);
      EXPECT_EQ(r->params.GifYPos, g.top);
      EXPECT_EQ(r->params.GifInterlaced, g.interlace);
      ASSERT_EQ(r->bitmap.Width(), g.width);
      ASSERT_EQ(r->bitmap.Height(), g.height);
      // A black-and-white frame is 1-bit: indices past its two entries are black.
      Bytes want = g.pixels;
      if (r->bitmap.PixelFormat() == ie1g)
        for (uint8_t& p : want) p = p == 1 ? 1 : 0;
      EXPECT_EQ(Indices(r->bitmap), want);
      const Bytes& colors = g.colors.empty() ? lib.colors : g.colors;
      for (size_t k = 0; k < colors.size() / 3 && k < r->params.Palette.size(); ++k)
        ASSERT_EQ(r->params.Palette[k], MakeRGB(colors[3 * k], colors[3 * k + 1], colors[3 * k + 2])) << "entry " << k;
      EXPECT_EQ(r->params.GifDelay, std::max(g.delay, 0));
      EXPECT_EQ(r->params.GifDisposal, std::max(g.disposal, 0));
      EXPECT_EQ(r->params.GifTransparent, g.transparent >= 0);
      std::vector<std::string> ours;
      for (int k = 0; k < r->params.GifComments.Count(); ++k) ours.push_back(r->params.GifComments[k]);
      EXPECT_EQ(Joined(ours), Joined(lib.comments));
      ++compared;
    }
  }
  EXPECT_GT(compared, 60);
}

// Fields giftext prints for the one frame of a file.
std::string GiftextFields(const std::string& file) {
  std::string out;
  qvtest::RunCommand("giftext " + file, &out);
  std::istringstream in(out);
  std::string line, kept;
  for (const char* key : {"Disposal Mode", "Transparency on", "DelayTime", "Transparent Index", "Interlaced",
                          "Image Size", "Screen Size"}) {
    in.clear();
    in.seekg(0);
    while (std::getline(in, line))
      if (line.find(key) != std::string::npos) kept += line.substr(line.find_first_not_of('\t')) + "\n";
  }
  return kept;
}

TEST(GifFilterOracle, WhatWeWriteDecodesInGiflibAndPillowAsWeHoldIt) {
  if (!HaveTools()) GTEST_SKIP() << "Pillow, giflib-tools, ImageMagick, gifsicle or gdk-pixbuf-tests missing";
  qvtest::TempDir dir;
  struct Case {
    const char* name;
    int bits;
    bool alpha, interlaced, oneBit;
    int disposal, delay;
    const char* giftext;
  } cases[] = {
      {"photo_8", 8, false, false, false, 2, 0,
       "Disposal Mode: 2\nTransparency on: no\nDelayTime: 0\nTransparent Index: -1\nImage is Non Interlaced.\n"},
      {"alpha_8", 8, true, true, false, 1, 25,
       "Disposal Mode: 1\nTransparency on: yes\nDelayTime: 25\nTransparent Index: 255\nImage is Interlaced.\n"},
      {"alpha_3", 3, true, false, false, 3, 7,
       "Disposal Mode: 3\nTransparency on: yes\nDelayTime: 7\nTransparent Index: 7\nImage is Non Interlaced.\n"},
      {"bw_1", 1, false, true, true, 0, 1,
       "Disposal Mode: 0\nTransparency on: no\nDelayTime: 1\nTransparent Index: -1\nImage is Interlaced.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TIEBitmap> b = qvtest::Gradient(33, 21);
    if (c.oneBit) {
      auto bw = std::make_unique<TIEBitmap>(33, 21, ie1g);
      bw->ConvertFrom(*b);
      b = std::move(bw);
    }
    if (c.alpha)
      for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 33; ++x) b->AlphaChannel()->SetPixel8(x, y, (x + y) % 5 == 0 ? 0 : 255);
    TIOParamsVals p(nullptr);
    p.GifLZWEncoder = GIFLZWCompress;
    p.BitsPerSample = c.bits;
    p.GifInterlaced = c.interlaced;
    p.GifDisposal = uint8_t(c.disposal);
    p.GifDelay = c.delay;
    p.GifComments.Add("written by the filter");
    qvtest::Progress progress;
    TMemoryStream s;
    WriteGIFStream(s, *b, p, progress.rec);
    ASSERT_FALSE(progress.Aborted());
    const Bytes bytes = qvtest::StreamBytes(s);
    const std::string file = dir.File(std::string(c.name) + ".gif");
    qvtest::WriteFileBytes(file, bytes);

    auto ours = ReadFrame(bytes, 0, true);
    ASSERT_FALSE(ours->progress.Aborted()) << ours->progress.rec.Refusal;
    const giftest::LibFile lib = giftest::SlurpWithGiflib(bytes);
    ASSERT_TRUE(lib.ok);
    ASSERT_EQ(lib.frames.size(), 1u);
    EXPECT_EQ(lib.frames[0].pixels, Indices(ours->bitmap));
    ASSERT_EQ(lib.comments.size(), 1u);
    EXPECT_EQ(lib.comments[0], "written by the filter");
    EXPECT_EQ(GiftextFields(file).substr(0, std::strlen(c.giftext)), c.giftext);

    // Pillow's RGBA of the file against our colours and mask.
    EXPECT_EQ(qvtest::RunCommand("/usr/bin/python3 " + Script() + " frames " + file + " " + file + ".pil"), 0);
    const Bytes pil = qvtest::ReadFileBytes(file + ".pil.0");
    ASSERT_EQ(pil.size(), 8u + 33 * 21 * 4);
    auto rgb = ReadFrame(bytes, 0, false);
    for (int y = 0; y < 21; ++y)
      for (int x = 0; x < 33; ++x) {
        const uint8_t* q = &pil[8 + (size_t(y) * 33 + x) * 4];
        const int alpha = rgb->mask ? rgb->mask->GetPixel(x, y) : 255;
        ASSERT_EQ(q[3], alpha) << x << "," << y;
        if (alpha == 0) continue;
        const TRGB c2 = rgb->bitmap.GetPixelAsRGB(x, y);
        ASSERT_EQ(MakeRGB(q[0], q[1], q[2]), c2) << x << "," << y;
      }
  }
}

TEST(GifFilterOracle, TablesThatFillUpReadLikeGiflib) {
  if (!HaveTools()) GTEST_SKIP() << "gdk-pixbuf-tests missing";
  for (const char* name : {"4095-codes.gif", "4095-codes-clear.gif", "255-codes.gif"}) {
    SCOPED_TRACE(name);
    const Bytes bytes = qvtest::ReadFileBytes(std::string(kSuite) + "/" + name);
    const giftest::LibFile lib = giftest::SlurpWithGiflib(bytes);
    ASSERT_TRUE(lib.ok);
    auto r = ReadFrame(bytes, 0, true);
    ASSERT_FALSE(r->progress.Aborted()) << r->progress.rec.Refusal;
    EXPECT_EQ(Indices(r->bitmap), lib.frames[0].pixels);
  }
}

}  // namespace
