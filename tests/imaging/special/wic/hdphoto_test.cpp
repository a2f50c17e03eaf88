// HD Photo through the imaging-component stand-in: files that libjxr's own
// tools write (JxrEncApp) read to their sources' pixels, what we write decodes
// in JxrDecApp to our pixels, and damaged files are refused before the codec
// sees them.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/io_params.h"
#include "imaging/special/wic/wic_codec.h"
#include "platform/rtl/streams.h"
#include "platform/win/ole.h"
#include "tests/imaging/io/io_test_support.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kW = 37, kH = 21;  // odd sizes: partial macroblocks both ways

uint32_t Mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  return x ^ (x >> 16);
}

// Smooth colour with a little texture, the kind of picture a lossy coder
// keeps well.
uint8_t Smooth(int x, int y, int c) {
  return uint8_t(40 + 3 * x + 5 * y + 30 * c + int(Mix(uint32_t(x * 131 + y * 7 + c)) % 5));
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

void Put16(Bytes& b, uint16_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}

Bytes Pnm(int type, int maxval, const Bytes& samples) {
  const std::string h = "P" + std::to_string(type) + "\n" + std::to_string(kW) + " " + std::to_string(kH) + "\n" +
                        std::to_string(maxval) + "\n";
  Bytes b(h.begin(), h.end());
  b.insert(b.end(), samples.begin(), samples.end());
  return b;
}

// A 24-bit BMP of rows given top first (the file stores them bottom up).
Bytes Bmp24(const Bytes& bgrTopDown) {
  const int row = (kW * 3 + 3) & ~3;
  Bytes b(54 + size_t(row) * kH, 0);
  auto put32 = [&b](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  put32(2, uint32_t(b.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, kW);
  put32(22, kH);
  b[26] = 1, b[28] = 24;
  for (int y = 0; y < kH; ++y)
    std::memcpy(&b[54 + size_t(kH - 1 - y) * row], &bgrTopDown[size_t(y) * kW * 3], size_t(kW) * 3);
  return b;
}

// An uncompressed 1-bit TIFF, 0 = black, rows top first.
Bytes Tiff1(const Bytes& packed) {
  struct E {
    uint16_t tag, type;
    uint32_t count, value;
  };
  const int rowBytes = (kW + 7) / 8;
  const E entries[] = {{256, 3, 1, kW}, {257, 3, 1, kH}, {258, 3, 1, 1}, {259, 3, 1, 1}, {262, 3, 1, 1},
                       {273, 4, 1, 0},  {277, 3, 1, 1},  {278, 3, 1, kH}, {279, 4, 1, uint32_t(rowBytes * kH)}};
  const uint32_t n = std::size(entries), dataAt = 8 + 2 + 12 * n + 4;
  Bytes b = {'I', 'I', 42, 0, 8, 0, 0, 0, uint8_t(n), 0};
  for (E e : entries) {
    if (e.tag == 273) e.value = dataAt;
    const uint8_t raw[12] = {uint8_t(e.tag), uint8_t(e.tag >> 8), uint8_t(e.type), 0, uint8_t(e.count), 0, 0, 0,
                             uint8_t(e.value), uint8_t(e.value >> 8), uint8_t(e.value >> 16), uint8_t(e.value >> 24)};
    b.insert(b.end(), raw, raw + 12);
  }
  b.insert(b.end(), 4, 0);
  b.insert(b.end(), packed.begin(), packed.end());
  return b;
}

// libjxr's tools read and write the samples of 16-bit PNM files low byte
// first (the format says high byte first); the oracle's files are taken as
// the tools take them.
uint16_t Sample16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// The samples of a PNM that JxrDecApp wrote.
Bytes PnmSamples(const Bytes& file, int& maxval) {
  size_t at = 2;
  int fields[3] = {};
  for (int& f : fields) {
    while (at < file.size() && std::isspace(file[at])) ++at;
    while (at < file.size() && std::isdigit(file[at])) f = f * 10 + (file[at++] - '0');
  }
  maxval = fields[2];
  return Bytes(file.begin() + std::ptrdiff_t(at + 1), file.end());
}

// A progress record with an abort flag of its own.
struct Progress {
  Progress() { rec.AbortFlag = &flag; }
  std::atomic<bool> flag{false};
  TProgressRecord rec;
};

struct Loaded {
  TIEBitmap bitmap;
  Progress p;
  TProgressRecord& progress = p.rec;
  TIOParamsVals params{nullptr};
};

void Load(const Bytes& file, Loaded& l, bool native, bool paramsOnly = false) {
  TMemoryStream s;
  s.WriteBuffer(file.data(), int64_t(file.size()));
  s.SetPosition(0);
  l.params.NativePixelFormat = native;
  ReadHDPhotoStream(s, paramsOnly ? nullptr : &l.bitmap, l.params, paramsOnly, l.progress);
}

Bytes Save(TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  TMemoryStream s;
  WriteHDPhotoStream(s, bitmap, params, progress);
  Bytes b(size_t(s.Size()));
  s.SetPosition(0);
  if (!b.empty()) s.ReadBuffer(b.data(), int64_t(b.size()));
  return b;
}

Bytes Row(TIEBitmap& b, int y, size_t bytes) { return Bytes(b.ScanLine(y), b.ScanLine(y) + bytes); }

class HDPhotoOracle : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!qvtest::HaveProgram("JxrEncApp") || !qvtest::HaveProgram("JxrDecApp")) return;
    folder = new qvtest::TempDir();
  }
  static void TearDownTestSuite() {
    delete folder;
    folder = nullptr;
  }
  void SetUp() override {
    if (folder == nullptr) GTEST_SKIP() << "JxrEncApp and JxrDecApp are needed";
  }
  // JxrEncApp -q 1 (lossless) of a source file in the given layout.
  static Bytes Encode(const std::string& name, const Bytes& source, int format) {
    const std::string in = folder->File(name), out = folder->File(name + ".jxr");
    qvtest::WriteFileBytes(in, source);
    const std::string cmd = "JxrEncApp -i " + Quote(in) + " -o " + Quote(out) + " -q 1 -c " +
                            std::to_string(format) + " >/dev/null 2>&1";
    EXPECT_EQ(qvtest::RunCommand(cmd), 0) << cmd;
    return qvtest::ReadFileBytes(out);
  }
  // JxrDecApp's decode of our file as a PNM of the given layout.
  static Bytes Decode(const Bytes& file, int format, int& maxval) {
    const std::string in = folder->File("ours.jxr"), out = folder->File("ours.pnm");
    qvtest::WriteFileBytes(in, file);
    std::remove(out.c_str());
    const std::string cmd = "JxrDecApp -i " + Quote(in) + " -o " + Quote(out) + " -c " + std::to_string(format) +
                            " >/dev/null 2>&1";
    EXPECT_EQ(qvtest::RunCommand(cmd), 0) << cmd;
    return PnmSamples(qvtest::ReadFileBytes(out), maxval);
  }
  static qvtest::TempDir* folder;
};
qvtest::TempDir* HDPhotoOracle::folder = nullptr;

TEST_F(HDPhotoOracle, GreyFilesReadToTheirSources) {
  Bytes g8, g16;
  for (int i = 0; i < kW * kH; ++i) {
    g8.push_back(uint8_t(Mix(uint32_t(i))));
    Put16(g16, uint16_t(Mix(uint32_t(i) + 999)));
  }
  const Bytes f8 = Encode("g8.pnm", Pnm(5, 255, g8), 2), f16 = Encode("g16.pnm", Pnm(5, 65535, g16), 3);
  for (bool native : {true, false}) {
    SCOPED_TRACE(native);
    Loaded a, b;
    Load(f8, a, native);
    Load(f16, b, native);
    ASSERT_FALSE(a.progress.Aborted()) << a.progress.Refusal;
    ASSERT_FALSE(b.progress.Aborted()) << b.progress.Refusal;
    EXPECT_EQ(a.bitmap.PixelFormat(), native ? ie8g : ie24RGB);
    EXPECT_EQ(b.bitmap.PixelFormat(), native ? ie16g : ie24RGB);
    EXPECT_EQ(b.params.BitsPerSample, native ? 16 : 8);
    EXPECT_EQ(b.params.SamplesPerPixel, native ? 1 : 3);
    ASSERT_EQ(a.bitmap.Width(), kW);
    ASSERT_EQ(a.bitmap.Height(), kH);
    int wrong = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const size_t i = size_t(y) * kW + x;
        const uint16_t v16 = Sample16(&g16[2 * i]);
        if (native) {
          wrong += a.bitmap.GetPixel8(x, y) != g8[i];
          wrong += b.bitmap.GetPixel16(x, y) != v16;
        } else {
          const uint8_t* p = a.bitmap.ScanLine(y) + 3 * x;
          const uint8_t* q = b.bitmap.ScanLine(y) + 3 * x;
          wrong += p[0] != g8[i] || p[1] != g8[i] || p[2] != g8[i];
          wrong += q[0] != (v16 >> 8) || q[2] != (v16 >> 8);
        }
      }
    EXPECT_EQ(wrong, 0);
  }
}

TEST_F(HDPhotoOracle, ColourFilesReadToTheirSources) {
  Bytes bgr, rgb48;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 3; ++c) {
        bgr.push_back(uint8_t(Mix(uint32_t(y * 1000 + x * 3 + c))));
        Put16(rgb48, uint16_t(Mix(uint32_t(y * 1000 + x * 3 + c + 77))));
      }
  const Bytes f24 = Encode("c24.bmp", Bmp24(bgr), 0), f48 = Encode("c48.pnm", Pnm(6, 65535, rgb48), 10);
  for (bool native : {true, false}) {
    SCOPED_TRACE(native);
    Loaded a, b;
    Load(f24, a, native);
    Load(f48, b, native);
    ASSERT_FALSE(a.progress.Aborted()) << a.progress.Refusal;
    ASSERT_FALSE(b.progress.Aborted()) << b.progress.Refusal;
    EXPECT_EQ(a.bitmap.PixelFormat(), ie24RGB);
    EXPECT_EQ(b.bitmap.PixelFormat(), native ? ieRGB48 : ie24RGB);
    int wrong = 0;
    for (int y = 0; y < kH; ++y) {
      wrong += Row(a.bitmap, y, kW * 3) != Bytes(bgr.begin() + y * kW * 3, bgr.begin() + (y + 1) * kW * 3);
      for (int x = 0; x < kW; ++x) {
        const size_t i = (size_t(y) * kW + x) * 6;
        const uint16_t r = Sample16(&rgb48[i]), b16 = Sample16(&rgb48[i + 4]);
        if (native) {
          const TRGB48 p = b.bitmap.GetPixelRGB48(x, y);
          wrong += p.r != r || p.b != b16;
        } else {
          const uint8_t* p = b.bitmap.ScanLine(y) + 3 * x;
          wrong += p[2] != (r >> 8) || p[0] != (b16 >> 8);
        }
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST_F(HDPhotoOracle, BlackAndWhiteReadsAsOneBit) {
  const int rowBytes = (kW + 7) / 8;
  Bytes packed;
  for (int i = 0; i < rowBytes * kH; ++i) packed.push_back(uint8_t(Mix(uint32_t(i) * 3)));
  for (int y = 0; y < kH; ++y) packed[size_t(y) * rowBytes + rowBytes - 1] &= uint8_t(0xFF << (rowBytes * 8 - kW));
  const Bytes f = Encode("bw.tif", Tiff1(packed), 1);
  for (bool native : {true, false}) {
    Loaded l;
    Load(f, l, native);
    ASSERT_FALSE(l.progress.Aborted()) << l.progress.Refusal;
    ASSERT_EQ(l.bitmap.PixelFormat(), ie1g);
    int wrong = 0;
    for (int y = 0; y < kH; ++y) wrong += Row(l.bitmap, y, rowBytes) != Bytes(&packed[size_t(y) * rowBytes], &packed[size_t(y + 1) * rowBytes]);
    EXPECT_EQ(wrong, 0);
  }
}

TEST_F(HDPhotoOracle, WhatWeWriteDecodesInTheirDecoder) {
  struct Case {
    TIEBitmapFormat format;
    int decodeAs;  // JxrDecApp layout
    int channels;
  };
  for (const Case c : {Case{ie24RGB, 9, 3}, Case{ie8g, 2, 1}, Case{ieRGB48, 10, 3}}) {
    SCOPED_TRACE(int(c.format));
    TIEBitmap b(kW, kH, c.format);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        if (c.format == ie8g) b.SetPixel8(x, y, Smooth(x, y, 0));
        if (c.format == ie24RGB) b.SetPixelRGB(x, y, TRGB{Smooth(x, y, 0), Smooth(x, y, 1), Smooth(x, y, 2)});
        if (c.format == ieRGB48)
          b.SetPixelRGB48(x, y, TRGB48{uint16_t(Smooth(x, y, 2) * 257 + x), uint16_t(Smooth(x, y, 1) * 251),
                                       uint16_t(Smooth(x, y, 0) * 256 + y)});
      }
    TIOParamsVals params(nullptr);
    params.HdpLossless = true;
    Progress p;
    TProgressRecord& progress = p.rec;
    const Bytes file = Save(b, params, progress);
    ASSERT_FALSE(progress.Aborted()) << progress.Refusal;
    int maxval = 0;
    const Bytes theirs = Decode(file, c.decodeAs, maxval);
    ASSERT_EQ(theirs.size(), size_t(kW) * kH * c.channels * (maxval > 255 ? 2 : 1));
    int wrong = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const size_t i = (size_t(y) * kW + x) * c.channels;
        if (c.format == ie8g) wrong += theirs[i] != b.GetPixel8(x, y);
        if (c.format == ie24RGB) {
          const TRGB px = b.GetPixelRGB(x, y);
          wrong += theirs[i] != px.r || theirs[i + 1] != px.g || theirs[i + 2] != px.b;
        }
        if (c.format == ieRGB48) {
          const TRGB48 px = b.GetPixelRGB48(x, y);
          wrong += Sample16(&theirs[2 * i]) != px.r || Sample16(&theirs[2 * i + 4]) != px.b;
        }
      }
    EXPECT_EQ(wrong, 0);
  }
}

TEST_F(HDPhotoOracle, QualityNineTenthsKeepsFortyDecibels) {
  constexpr int w = 160, h = 120;
  TIEBitmap b(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixelRGB(x, y, TRGB{Smooth(x / 2, y / 2, 0), Smooth(x / 2, y / 2, 1), Smooth(x, y, 2)});
  TIOParamsVals params(nullptr);
  params.HdpQuality = 0.9;
  Progress p;
  TProgressRecord& progress = p.rec;
  const Bytes file = Save(b, params, progress);
  ASSERT_FALSE(progress.Aborted()) << progress.Refusal;
  int maxval = 0;
  const Bytes theirs = Decode(file, 9, maxval);
  ASSERT_EQ(theirs.size(), size_t(w) * h * 3);
  double se = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TRGB px = b.GetPixelRGB(x, y);
      const uint8_t* q = &theirs[(size_t(y) * w + x) * 3];
      se += std::pow(q[0] - px.r, 2) + std::pow(q[1] - px.g, 2) + std::pow(q[2] - px.b, 2);
    }
  const double mse = se / (double(w) * h * 3);
  const double psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
  EXPECT_GE(psnr, 40.0);
  EXPECT_LT(psnr, 99.0);  // lossy, not lossless
}

// ---- our own round trips and the faults mended ----

Bytes SaveOf(TIEBitmap& b, bool lossless = true) {
  TIOParamsVals params(nullptr);
  params.HdpLossless = lossless;
  Progress p;
  TProgressRecord& progress = p.rec;
  Bytes f = Save(b, params, progress);
  EXPECT_FALSE(progress.Aborted()) << progress.Refusal;
  return f;
}

TEST(HDPhoto, CMYKKeepsItsBytesThroughLoadAndSave) {
  TIEBitmap b(kW, kH, ieCMYK);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) b.SetPixelCMYK(x, y, TCMYK{uint8_t(x * 6), uint8_t(y * 11), uint8_t(x + y), uint8_t(200 - x)});
  const Bytes once = SaveOf(b);
  Loaded l;
  Load(once, l, true);
  ASSERT_FALSE(l.progress.Aborted()) << l.progress.Refusal;
  ASSERT_EQ(l.bitmap.PixelFormat(), ieCMYK);
  int wrong = 0;
  for (int y = 0; y < kH; ++y) wrong += Row(l.bitmap, y, kW * 4) != Row(b, y, kW * 4);
  EXPECT_EQ(wrong, 0);
  // Saved again, the file is the same: no inversion creeps in.
  EXPECT_EQ(SaveOf(l.bitmap), once);
}

TEST(HDPhoto, FormatsWithoutALayoutGoAsColour) {
  TIEBitmap p(kW, kH, ie8p);
  for (int i = 0; i < 4; ++i) p.SetPaletteColor(i, TRGB{uint8_t(60 * i), uint8_t(255 - 60 * i), 7});
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) p.SetPixel8(x, y, uint8_t((x + y) % 4));
  Loaded l;
  Load(SaveOf(p), l, true);
  ASSERT_FALSE(l.progress.Aborted()) << l.progress.Refusal;
  ASSERT_EQ(l.bitmap.PixelFormat(), ie24RGB);
  const TRGB c = l.bitmap.GetPixelRGB(5, 3);
  EXPECT_EQ(c.b, 60 * ((5 + 3) % 4));
  EXPECT_EQ(c.g, 255 - 60 * ((5 + 3) % 4));
}

TEST(HDPhoto, AnIndexedSourceKeepsItsPalette) {
  TIEWICBitmapSource s;
  s.PixelFormat = iewpf1bppIndexed;
  s.Width = 10, s.Height = 2, s.Stride = 2;
  s.Pixels = {0xA0, 0x40, 0xFF, 0xC0};
  s.Palette = {TRGB{1, 2, 3}, TRGB{200, 100, 50}};
  TIEBitmap b;
  ASSERT_TRUE(TIEWICReader::CopyFrame(s, b, true));
  ASSERT_EQ(b.PixelFormat(), ie8p);
  EXPECT_EQ(b.GetPixel8(0, 0), 1);
  EXPECT_EQ(b.GetPixel8(1, 0), 0);
  TRGB c;
  b.GetPaletteColor(1, c);
  EXPECT_EQ(c.r, 50);
  EXPECT_EQ(c.b, 200);
  ASSERT_TRUE(TIEWICReader::CopyFrame(s, b, false));
  ASSERT_EQ(b.PixelFormat(), ie24RGB);
  EXPECT_EQ(b.GetPixelRGB(0, 1).g, 100);
}

TEST(HDPhoto, AFailedWriteLeavesTheStreamAlone) {
  TIEBitmap empty;
  TIOParamsVals params(nullptr);
  Progress p;
  TProgressRecord& progress = p.rec;
  int tagWrites = 0;
  HDPhotoTagHooks().WriteTags = [&tagWrites](TStream&, TIOParamsVals&) { ++tagWrites; };
  TMemoryStream s;
  s.WriteBuffer("keep", 4);
  WriteHDPhotoStream(s, empty, params, progress);
  EXPECT_TRUE(progress.Aborted());
  EXPECT_EQ(s.Size(), 4);
  EXPECT_EQ(tagWrites, 0);
  // A written file gets its tags.
  TIEBitmap b(8, 8, ie8g);
  Progress okp;
  TProgressRecord& ok = okp.rec;
  WriteHDPhotoStream(s, b, params, ok);
  EXPECT_FALSE(ok.Aborted());
  EXPECT_EQ(tagWrites, 1);
  HDPhotoTagHooks().WriteTags = nullptr;
}

TEST(HDPhoto, ParametersOnlyReadsTheHeaders) {
  TIEBitmap b(kW, kH, ie16g);
  TIOParamsVals params(nullptr);
  params.HdpLossless = true;
  params.SetDpiX(150);
  params.SetDpiY(75);
  Progress p;
  TProgressRecord& progress = p.rec;
  const Bytes f = Save(b, params, progress);
  Loaded l;
  Load(f, l, true, true);
  ASSERT_FALSE(l.progress.Aborted()) << l.progress.Refusal;
  EXPECT_EQ(l.params.Width, kW);
  EXPECT_EQ(l.params.Height, kH);
  EXPECT_EQ(l.params.BitsPerSample, 16);
  EXPECT_EQ(l.params.SamplesPerPixel, 1);
  EXPECT_EQ(l.params.DpiX, 150);
  EXPECT_EQ(l.params.DpiY, 75);
  EXPECT_TRUE(l.bitmap.IsEmpty());
}

TEST(HDPhoto, AFrameIndexPastTheLastAborts) {
  TIEBitmap b(9, 9, ie8g);
  const Bytes f = SaveOf(b);
  Loaded l;
  l.bitmap.Allocate(3, 3, ie24RGB);
  l.params.ImageIndex = 1;
  Load(f, l, true);
  EXPECT_TRUE(l.progress.Aborted());
  EXPECT_EQ(l.bitmap.Width(), 3);
}

TEST(HDPhoto, AvailabilityIsAskedOnceAndOLEStaysBalanced) {
  const int ole = OleInitCount();
  EXPECT_TRUE(IsWICAvailable());
  const int probes = WICAvailabilityProbes();
  EXPECT_TRUE(IsWICAvailable());
  EXPECT_EQ(WICAvailabilityProbes(), probes);
  {
    TIEWICReader r;
    TIEWICWriter w;
    EXPECT_EQ(OleInitCount(), ole + 2);
  }
  EXPECT_EQ(OleInitCount(), ole);
  TMemoryStream s;
  TIEWICReader r;
  EXPECT_FALSE(r.Open(s, 8));  // PNG: no decoder here
}

TEST(HDPhoto, DetectionFindsWhatWeWrite) {
  qvtest::EnsureImageIO();
  TIEBitmap b(9, 9, ie24RGB);
  const Bytes f = SaveOf(b);
  TMemoryStream s;
  s.WriteBuffer(f.data(), int64_t(f.size()));
  s.SetPosition(0);
  EXPECT_EQ(DetectStreamFileType(s), ioHDP);
  EXPECT_EQ(s.Position(), 0);
}

// ---- hostile files ----

uint32_t Get32(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; }
void Set32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
// The value field of the directory entry with the tag.
size_t EntryValue(const Bytes& b, uint16_t tag) {
  const size_t dir = Get32(b, 4);
  const int n = b[dir] | b[dir + 1] << 8;
  for (int i = 0; i < n; ++i) {
    const size_t e = dir + 2 + 12 * size_t(i);
    if ((b[e] | b[e + 1] << 8) == tag) return e + 8;
  }
  ADD_FAILURE() << "no tag " << tag;
  return 0;
}

void ExpectRefused(const Bytes& f, const char* reason) {
  Loaded l;
  l.bitmap.Allocate(2, 3, ie8g);
  Load(f, l, true);
  EXPECT_TRUE(l.progress.Aborted());
  if (reason) {
    ASSERT_NE(l.progress.Refusal, nullptr);
    EXPECT_STREQ(l.progress.Refusal, reason);
  }
  EXPECT_EQ(l.bitmap.Width(), 2);
  EXPECT_EQ(l.bitmap.Height(), 3);
}

TEST(HDPhoto, HostileContainersAreRefusedBeforeTheCodec) {
  TIEBitmap b(40, 40, ie24RGB);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) b.SetPixelRGB(x, y, TRGB{uint8_t(x * 5), uint8_t(y * 3), uint8_t(x ^ y)});
  const Bytes good = SaveOf(b);
  {
    Bytes f = good;
    Set32(f, 4, uint32_t(f.size() + 100));
    ExpectRefused(f, "the directory lies past the end");
  }
  {
    Bytes f = good;
    Set32(f, EntryValue(f, 0xBC80), 65535);
    Set32(f, EntryValue(f, 0xBC81), 65535);
    ExpectRefused(f, "a picture too large to decode");
  }
  {
    Bytes f = good;
    Set32(f, EntryValue(f, 0xBC80), 41);
    ExpectRefused(f, "the image header and the directory give different sizes");
  }
  {
    Bytes f = good;
    Set32(f, EntryValue(f, 0xBCC0), uint32_t(f.size() + 8));
    ExpectRefused(f, "the image data lies past the end");
  }
  {
    Bytes f = good;
    Set32(f, EntryValue(f, 0xBCC1), Get32(f, EntryValue(f, 0xBCC1)) + 1);
    ExpectRefused(f, "the image data lies past the end");
  }
  ExpectRefused({}, nullptr);
  ExpectRefused(Bytes(good.begin(), good.begin() + 4), nullptr);
  // Cut at each tenth: refused, never a crash.
  for (int k = 1; k < 10; ++k) ExpectRefused(Bytes(good.begin(), good.begin() + std::ptrdiff_t(good.size() * k / 10)), nullptr);
  // Flipped bytes in the container and the image header, which are checked
  // before the codec runs: a picture or a refusal, never a crash. (Flipped
  // coded data can crash libjxr's entropy decoder itself, which no check
  // before it can see.)
  const uint32_t headerEnd = Get32(good, EntryValue(good, 0xBCC0)) + 16;
  for (uint32_t k = 0; k < 400; ++k) {
    Bytes f = good;
    for (uint32_t j = 0; j < 1 + k % 3; ++j) f[Mix(k * 7 + j) % headerEnd] ^= uint8_t(1 + Mix(k + 99 * j) % 255);
    Loaded l;
    l.bitmap.Allocate(2, 3, ie8g);
    Load(f, l, k % 2 == 0);
    if (l.progress.Aborted()) {
      EXPECT_EQ(l.bitmap.Width(), 2) << k;
    }
  }
  // Cut tiles: the image data ends early but the directory says so. The codec
  // reads what is there (zeros beyond): a whole picture or a refusal, never a
  // crash or a half-changed bitmap.
  for (int k = 2; k < 10; k += 3) {
    Bytes f(good.begin(), good.begin() + std::ptrdiff_t(good.size() * k / 10));
    const uint32_t offset = Get32(f, EntryValue(f, 0xBCC0));
    if (f.size() <= offset + 16) continue;
    Set32(f, EntryValue(f, 0xBCC1), uint32_t(f.size() - offset));
    Loaded l;
    l.bitmap.Allocate(2, 3, ie8g);
    Load(f, l, true);
    if (l.progress.Aborted())
      EXPECT_EQ(l.bitmap.Width(), 2) << k;
    else
      EXPECT_EQ(l.bitmap.Width(), 40) << k;
  }
}

}  // namespace
