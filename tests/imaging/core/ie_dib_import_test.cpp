// Packed DIBs and video frames into library bitmaps: Pillow's DIB reader at
// every depth and header version, ffmpeg for the YUV layouts, the import
// rules, gamma, and a table of hostile blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_dib_exchange.h"
#include "imaging/core/ie_raw_stream.h"
#include "imaging/core/ie_yuv.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

Bytes Noise(size_t n, uint32_t seed, int modulo = 256) {
  Bytes b(n);
  for (auto& v : b) {
    seed = seed * 1664525u + 1013904223u;
    v = uint8_t((seed >> 16) % uint32_t(modulo));
  }
  return b;
}

int RowBytes(int width, int bits) { return ((width * bits + 31) / 32) * 4; }

// One packed DIB: header (12, 40 or a version with the masks inside), masks
// after a 40-byte header, the colour table (0x00RRGGBB each) and the pixels
// as stored.
struct TDibSpec {
  int headerSize = 40;
  int32_t width = 0, height = 0;
  int bits = 24;
  uint32_t compression = 0;
  std::array<uint32_t, 4> masks{};
  std::vector<uint32_t> colors;
  uint32_t clrUsed = 0;
  Bytes pixels;
};

TDibSpec Spec(int headerSize, int32_t width, int32_t height, int bits, uint32_t compression = 0,
              std::array<uint32_t, 4> masks = {}, std::vector<uint32_t> colors = {}, uint32_t clrUsed = 0,
              Bytes pixels = {}) {
  TDibSpec s;
  s.headerSize = headerSize;
  s.width = width;
  s.height = height;
  s.bits = bits;
  s.compression = compression;
  s.masks = masks;
  s.colors = std::move(colors);
  s.clrUsed = clrUsed;
  s.pixels = std::move(pixels);
  return s;
}

Bytes BuildDib(const TDibSpec& s) {
  Bytes b;
  if (s.headerSize == 12) {
    Put32(b, 12);
    Put16(b, uint32_t(s.width));
    Put16(b, uint32_t(s.height));
    Put16(b, 1);
    Put16(b, uint32_t(s.bits));
    for (uint32_t c : s.colors) b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    return b;
  }
  Put32(b, uint32_t(s.headerSize));
  Put32(b, uint32_t(s.width));
  Put32(b, uint32_t(s.height));
  Put16(b, 1);
  Put16(b, uint32_t(s.bits));
  Put32(b, s.compression);
  Put32(b, s.compression == 1 || s.compression == 2 ? uint32_t(s.pixels.size()) : 0);
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, s.clrUsed);
  Put32(b, 0);
  if (s.headerSize > 40) {
    for (uint32_t m : s.masks) Put32(b, m);
    b.resize(size_t(s.headerSize), 0);
  } else if (s.compression == 3) {
    for (int i = 0; i < 3; ++i) Put32(b, s.masks[size_t(i)]);
  }
  for (uint32_t c : s.colors) Put32(b, c);
  b.insert(b.end(), s.pixels.begin(), s.pixels.end());
  return b;
}

std::vector<uint32_t> Palette(int n, uint32_t seed) {
  std::vector<uint32_t> p;
  const Bytes bytes = Noise(size_t(n) * 3, seed);
  for (int i = 0; i < n; ++i)
    p.push_back(uint32_t(bytes[size_t(3 * i)]) << 16 | uint32_t(bytes[size_t(3 * i + 1)]) << 8 | bytes[size_t(3 * i + 2)]);
  return p;
}

int Gray(uint32_t c) { return (21 * int(c >> 16 & 255) + 71 * int(c >> 8 & 255) + 8 * int(c & 255)) / 100; }

// How a case is compared with Pillow's pixels: exactly, by the top bits of
// 5-5-5 or 5-6-5 fields (Pillow widens them), or as a 1-bit picture whose
// set bits stand for the lighter table colour.
enum TCompare { kExact, kTop555, kTop565, kOneBit };

struct TPillowCase {
  std::string name;
  TDibSpec spec;
  TCompare compare;
};

std::vector<TPillowCase> PillowCases() {
  std::vector<TPillowCase> cases;
  auto add = [&](std::string name, TDibSpec s, TCompare c, uint32_t seed, int modulo = 256) {
    if (s.pixels.empty()) s.pixels = Noise(size_t(RowBytes(s.width, s.bits)) * size_t(std::abs(s.height)), seed, modulo);
    cases.push_back({std::move(name), std::move(s), c});
  };
  add("1 bit", Spec(40, 13, 5, 1, 0, {}, {0x000000, 0xFFFFFF}), kOneBit, 1);
  add("1 bit, lighter colour first", Spec(40, 13, 5, 1, 0, {}, {0xF0F0F0, 0x200000}), kOneBit, 2);
  add("1 bit, two dark colours", Spec(40, 9, 3, 1, 0, {}, {0x402000, 0x000010}), kOneBit, 3);
  add("4 bits, odd width", Spec(40, 3, 4, 4, 0, {}, Palette(16, 4)), kExact, 4);
  {
    // Five table entries: every nibble names one of them.
    TDibSpec s = Spec(40, 7, 3, 4, 0, {}, Palette(5, 5), 5);
    for (int y = 0; y < 3; ++y) {
      const Bytes row = Noise(4, uint32_t(50 + y), 5);
      s.pixels.insert(s.pixels.end(), {uint8_t(row[0] << 4 | row[1]), uint8_t(row[2] << 4 | row[3]), 0x21, 0});
    }
    add("4 bits, short table", s, kExact, 0);
  }
  add("8 bits", Spec(40, 9, 4, 8, 0, {}, Palette(256, 6)), kExact, 6);
  add("8 bits, top-down", Spec(40, 9, -4, 8, 0, {}, Palette(256, 7)), kExact, 7);
  add("8 bits, core header", Spec(12, 6, 3, 8, 0, {}, Palette(256, 8)), kExact, 8);
  add("16 bits, 5-5-5", Spec(40, 5, 3, 16), kTop555, 9);
  add("16 bits, 5-6-5 fields", Spec(40, 5, 3, 16, 3, {0xF800, 0x7E0, 0x1F}), kTop565, 10);
  add("16 bits, V4 header with the fields inside", Spec(108, 6, 2, 16, 3, {0xF800, 0x7E0, 0x1F, 0}), kTop565, 11);
  add("16 bits, top-down", Spec(40, 4, -3, 16), kTop555, 12);
  add("24 bits", Spec(40, 5, 3, 24), kExact, 13);
  add("24 bits, top-down", Spec(40, 5, -3, 24), kExact, 14);
  add("32 bits", Spec(40, 4, 3, 32), kExact, 15);
  add("32 bits, fields", Spec(40, 4, 3, 32, 3, {0xFF0000, 0xFF00, 0xFF}), kExact, 16);
  add("32 bits, V5 header with alpha", Spec(124, 4, 3, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}), kExact, 17);
  // Runs, absolute runs (one padded), ends of line and of the picture.
  // (Deltas and odd absolute runs of nibbles are checked by hand below: the
  // Pillow at hand misreads both.)
  add("RLE8",
      Spec(40, 6, 4, 8, 1, {}, Palette(256, 18), 0,
           Bytes{3, 1, 0, 3, 5, 6, 7, 0, 0, 0, 6, 2, 0, 0, 0, 4, 9, 8, 7, 6, 2, 3, 0, 0, 1, 4, 5, 5, 0, 1}),
      kExact, 0);
  add("RLE4",
      Spec(40, 7, 3, 4, 2, {}, Palette(16, 19), 0,
           Bytes{7, 0x12, 0, 0, 0, 4, 0x34, 0x56, 3, 0xAB, 0, 0, 7, 0x11, 0, 1}),
      kExact, 0);
  return cases;
}

TEST(DIBImportOracle, EqualsPillowsDibReaderAtEveryDepthAndHeader) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL.BmpImagePlugin' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "Pillow is not available";
  const auto cases = PillowCases();
  Bytes input;
  Put32(input, uint32_t(cases.size()));
  for (const auto& c : cases) {
    const Bytes dib = BuildDib(c.spec);
    Put32(input, uint32_t(dib.size()));
    input.insert(input.end(), dib.begin(), dib.end());
  }
  std::vector<uint8_t> want;
  std::string log;
  ASSERT_EQ(qvtest::RunOracleScript(std::string(QV_SOURCE_DIR) + "/tests/imaging/core/dib_oracle.py", input, want, &log), 0) << log;
  size_t pos = 0;
  for (const auto& c : cases) {
    ASSERT_LE(pos + 8, want.size());
    const int w = int(want[pos] | want[pos + 1] << 8), h = int(want[pos + 4] | want[pos + 5] << 8);
    pos += 8;
    ASSERT_GT(w, 0) << c.name << ": Pillow refused it";
    const Bytes dib = BuildDib(c.spec);
    TIEBitmap b;
    ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), c.spec.bits) << c.name;
    ASSERT_EQ(b.Width(), w) << c.name;
    ASSERT_EQ(b.Height(), h) << c.name;
    EXPECT_EQ(b.PixelFormat(), c.spec.bits == 1 ? ie1g : ie24RGB) << c.name;
    int wrong = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x, pos += 3) {
        const TRGB got = b.GetPixelAsRGB(x, y);
        TRGB expect = MakeRGB(want[pos], want[pos + 1], want[pos + 2]);
        if (c.compare == kTop555 || c.compare == kTop565) {
          expect.r &= 0xF8;
          expect.g &= c.compare == kTop565 ? 0xFC : 0xF8;
          expect.b &= 0xF8;
        } else if (c.compare == kOneBit) {
          const auto& t = c.spec.colors;
          const uint32_t lighter = Gray(t[0]) > Gray(t[1]) ? t[0] : t[1];
          const bool white = expect == MakeRGB(uint8_t(lighter >> 16), uint8_t(lighter >> 8), uint8_t(lighter));
          expect = white ? MakeRGB(255, 255, 255) : MakeRGB(0, 0, 0);
        }
        if (!(got == expect) && ++wrong <= 3)
          ADD_FAILURE() << c.name << " at " << x << "," << y << ": " << int(got.r) << "," << int(got.g) << ","
                        << int(got.b) << " against " << int(expect.r) << "," << int(expect.g) << "," << int(expect.b);
      }
  }
}

TEST(DIBImport, RulesOfTheDepths) {
  // 16 bits keep each field in the top bits of their byte.
  TDibSpec s = Spec(40, 2, 1, 16, 0, {}, {}, 0, {0xFF, 0x7F, 0x1F, 0x00});
  TIEBitmap b;
  Bytes dib = BuildDib(s);
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 16);
  EXPECT_EQ(b.GetPixelRGB(0, 0), MakeRGB(248, 248, 248));
  EXPECT_EQ(b.GetPixelRGB(1, 0), MakeRGB(0, 0, 248));
  s.compression = 3;
  s.masks = {0xF800, 0x7E0, 0x1F};
  s.pixels = {0xFF, 0xFF, 0x20, 0x00};
  dib = BuildDib(s);
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 16);
  EXPECT_EQ(b.GetPixelRGB(0, 0), MakeRGB(248, 252, 248));
  EXPECT_EQ(b.GetPixelRGB(1, 0), MakeRGB(0, 4, 0));

  // Three 4-bit pixels: both nibbles of the first byte, the high one of the second.
  s = Spec(40, 3, 1, 4, 0, {}, Palette(16, 1), 0, {0x1A, 0x5F, 0, 0});
  dib = BuildDib(s);
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 4);
  for (auto [x, index] : {std::pair{0, 1}, {1, 10}, {2, 5}})
    EXPECT_EQ(b.GetPixelRGB(x, 0),
              MakeRGB(uint8_t(s.colors[size_t(index)] >> 16), uint8_t(s.colors[size_t(index)] >> 8),
                      uint8_t(s.colors[size_t(index)])));

  // A 1-bit picture whose table has white first is turned over, so white
  // pixels stay white; with black first its bits are taken as they are.
  s = Spec(40, 8, 1, 1, 0, {}, {0xFFFFFF, 0x000000}, 0, {0x0F, 0, 0, 0});
  dib = BuildDib(s);
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 1);
  EXPECT_EQ(b.ScanLine(0)[0], 0xF0);
  s.colors = {0x000000, 0xFFFFFF};
  dib = BuildDib(s);
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 1);
  EXPECT_EQ(b.ScanLine(0)[0], 0x0F);

  // A delta skips pixels (they stay index 0) and moves up the rows; an odd
  // absolute run of nibbles uses the high nibble of its last byte.
  std::vector<uint32_t> grey(256);
  for (uint32_t i = 0; i < 256; ++i) grey[i] = i * 0x010101;
  s = Spec(40, 4, 3, 8, 1, {}, grey, 0, {2, 7, 0, 2, 1, 1, 1, 8, 0, 1});
  dib = BuildDib(s);
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 8);
  const int rle8[3][4] = {{0, 0, 0, 0}, {0, 0, 0, 8}, {7, 7, 0, 0}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(b.GetPixelRGB(x, y).r, rle8[y][x]) << x << "," << y;
  s = Spec(40, 5, 1, 4, 2, {}, std::vector<uint32_t>(grey.begin(), grey.begin() + 16), 0, {0, 5, 0x12, 0x34, 0x50, 0, 0, 1});
  dib = BuildDib(s);
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 4);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(b.GetPixelRGB(x, 0).r, x + 1);

  // Pixels in a block of their own: the header block holds no rows.
  s = Spec(40, 2, 2, 24);
  const Bytes header = BuildDib(s);
  const Bytes bits = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  ASSERT_EQ(DIBToIEBitmap(header.data(), header.size(), b, bits.data(), bits.size()), 24);
  EXPECT_EQ(b.GetPixelRGB(0, 1), MakeRGB(3, 2, 1));
  EXPECT_EQ(b.GetPixelRGB(1, 0), MakeRGB(12, 11, 10));
  TIEBitmap kept(1, 1, ie8g);
  EXPECT_EQ(DIBToIEBitmap(header.data(), header.size(), kept, bits.data(), bits.size() - 1), 0);
  EXPECT_EQ(kept.Width(), 1);
}

// ---- video frames ----

Bytes Frame(const char* fourcc, int w, int h, const Bytes& frame, int bits = 16) {
  TDibSpec s = Spec(40, w, h, bits, MakeFourCC(fourcc[0], fourcc[1], fourcc[2], fourcc[3]));
  s.pixels = frame;
  return BuildDib(s);
}

TEST(YUVImport, SampleFormulaLineOrderAndPartialGroups) {
  EXPECT_EQ(YUVToRGB(16, 128, 128), MakeRGB(0, 0, 0));
  EXPECT_EQ(YUVToRGB(235, 128, 128), MakeRGB(255, 255, 255));
  EXPECT_EQ(YUVToRGB(81, 90, 240), MakeRGB(254, 0, 0));

  // A 4 x 2 YUY2 frame with a positive height fills row 0 from its first line.
  const Bytes yuy2 = {235, 128, 235, 128, 16, 128, 16, 128, 16, 128, 16, 128, 235, 128, 235, 128};
  TIEBitmap b;
  Bytes dib = Frame("YUY2", 4, 2, yuy2);
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 16);
  EXPECT_EQ(b.GetPixelRGB(0, 0), MakeRGB(255, 255, 255));
  EXPECT_EQ(b.GetPixelRGB(3, 0), MakeRGB(0, 0, 0));
  EXPECT_EQ(b.GetPixelRGB(3, 1), MakeRGB(255, 255, 255));
  // A negative height puts it in the last row; Y41P and cyuv read the other way.
  dib = Frame("YUY2", 4, -2, yuy2);
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 16);
  EXPECT_EQ(b.GetPixelRGB(0, 1), MakeRGB(255, 255, 255));
  dib = Frame("cyuv", 4, 2, {128, 235, 128, 235, 128, 16, 128, 16, 128, 16, 128, 16, 128, 235, 128, 235});
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 16);
  EXPECT_EQ(b.GetPixelRGB(0, 1), MakeRGB(255, 255, 255));

  // A 10-pixel Y41P line holds one group of 8: the last two pixels stay black.
  Bytes y41p(12, 235);
  y41p[0] = y41p[2] = y41p[4] = y41p[6] = 128;
  dib = Frame("Y41P", 10, 1, y41p, 12);
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 12);
  EXPECT_EQ(b.GetPixelRGB(7, 0), MakeRGB(255, 255, 255));
  EXPECT_EQ(b.GetPixelRGB(9, 0), MakeRGB(0, 0, 0));

  // A planar frame of odd size: the last column and line share the chroma before them.
  Bytes i420(5 * 3 + 2 * 2, 128);
  std::fill(i420.begin(), i420.begin() + 15, 235);
  i420[15] = 240;  // U of the first chroma block
  dib = Frame("I420", 5, 3, i420, 12);
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 12);
  EXPECT_EQ(b.GetPixelRGB(4, 2), YUVToRGB(235, 128, 128));
  EXPECT_EQ(b.GetPixelRGB(1, 1), YUVToRGB(235, 240, 128));
  // The frame in a block of its own.
  const Bytes header = Frame("YUY2", 4, 2, {});
  ASSERT_EQ(DIBToIEBitmap(header.data(), header.size(), b, yuy2.data(), yuy2.size()), 16);
  EXPECT_EQ(b.GetPixelRGB(3, 1), MakeRGB(255, 255, 255));
}

// An 8-bit sample grid of w x h, in the video range.
Bytes Samples(int w, int h, uint32_t seed, int lo, int hi) {
  Bytes b = Noise(size_t(w) * size_t(h), seed, hi - lo + 1);
  for (auto& v : b) v = uint8_t(v + lo);
  return b;
}

// The first video chunk of an AVI file.
Bytes AviFrame(const Bytes& avi) {
  const std::string data(avi.begin(), avi.end());
  const size_t movi = data.find("movi");
  if (movi == std::string::npos) return {};
  size_t at = std::min(data.find("00dc", movi), data.find("00db", movi));
  if (at == std::string::npos || at + 8 > avi.size()) return {};
  const size_t n = avi[at + 4] | avi[at + 5] << 8 | avi[at + 6] << 16 | size_t(avi[at + 7]) << 24;
  if (at + 8 + n > avi.size()) return {};
  return Bytes(avi.begin() + long(at + 8), avi.begin() + long(at + 8 + n));
}

TEST(YUVImportOracle, EveryLayoutEqualsFfmpegWithinTwo) {
  if (!qvtest::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not available";
  const int w = 16, h = 8;
  const Bytes Y = Samples(w, h, 1, 16, 235);
  qvtest::TempDir dir;
  // ffmpeg's reading of raw planes or packed samples of pixFmt, as 8-bit RGB.
  auto ffmpegRGB = [&](const std::string& input, const Bytes& bytes, const std::string& pixFmt) {
    qvtest::WriteFileBytes(dir.File("in.raw"), bytes);
    const std::string source = input.empty() ? "-f rawvideo -pix_fmt " + pixFmt + " -s " + std::to_string(w) + "x" +
                                                   std::to_string(h) + " -i " + dir.File("in.raw")
                                             : "-i " + input;
    std::string log;
    if (qvtest::RunCommand("ffmpeg -v error -y " + source +
                               " -sws_flags neighbor+accurate_rnd+bitexact -f rawvideo -pix_fmt rgb48le " +
                               dir.File("out.raw") + " 2>&1",
                           &log) != 0)
      return Bytes{};
    const Bytes wide = qvtest::ReadFileBytes(dir.File("out.raw"));
    Bytes rgb;
    for (size_t i = 0; i + 1 < wide.size(); i += 2) rgb.push_back(uint8_t(((wide[i] | wide[i + 1] << 8) + 128) / 257));
    return rgb;
  };
  auto planes = [](std::initializer_list<const Bytes*> list) {
    Bytes out;
    for (const Bytes* p : list) out.insert(out.end(), p->begin(), p->end());
    return out;
  };
  struct Case {
    const char* fourcc;
    Bytes frame;
    Bytes rgb;  // ffmpeg's
  };
  std::vector<Case> cases;
  {
    const Bytes U = Samples(w / 2, h / 2, 2, 16, 240), V = Samples(w / 2, h / 2, 3, 16, 240);
    const Bytes i420 = planes({&Y, &U, &V});
    cases.push_back({"I420", i420, ffmpegRGB("", i420, "yuv420p")});
    cases.push_back({"YV12", planes({&Y, &V, &U}), cases.back().rgb});
  }
  {
    const Bytes U = Samples(w / 4, h / 4, 4, 16, 240), V = Samples(w / 4, h / 4, 5, 16, 240);
    cases.push_back({"YVU9", planes({&Y, &V, &U}), ffmpegRGB("", planes({&Y, &U, &V}), "yuv410p")});
  }
  {
    // 4:2:2 packed: ffmpeg reads the same bytes.
    const Bytes U = Samples(w / 2, h, 6, 16, 240), V = Samples(w / 2, h, 7, 16, 240);
    const struct {
      const char* fourcc;
      const char* pixFmt;
      int order[4];  // where Y0, U, Y1, V go in a group
    } packed[] = {{"YUY2", "yuyv422", {0, 1, 2, 3}}, {"UYVY", "uyvy422", {1, 0, 3, 2}}, {"YVYU", "yvyu422", {0, 3, 2, 1}}};
    for (const auto& p : packed) {
      Bytes frame(size_t(w) * size_t(h) * 2);
      for (int y = 0; y < h; ++y)
        for (int g = 0; g < w / 2; ++g) {
          uint8_t* d = &frame[size_t(y * w * 2 + g * 4)];
          d[p.order[0]] = Y[size_t(y * w + 2 * g)];
          d[p.order[1]] = U[size_t(y * w / 2 + g)];
          d[p.order[2]] = Y[size_t(y * w + 2 * g + 1)];
          d[p.order[3]] = V[size_t(y * w / 2 + g)];
        }
      cases.push_back({p.fourcc, frame, ffmpegRGB("", frame, p.pixFmt)});
    }
    cases.push_back({"YUNV", cases[cases.size() - 3].frame, cases[cases.size() - 3].rgb});
  }
  {
    const Bytes U = Samples(w, h, 8, 16, 240), V = Samples(w, h, 9, 16, 240);
    Bytes iyu2;
    for (size_t i = 0; i < Y.size(); ++i) iyu2.insert(iyu2.end(), {U[i], Y[i], V[i]});
    cases.push_back({"IYU2", iyu2, ffmpegRGB("", planes({&Y, &U, &V}), "yuv444p")});
  }
  {
    // 4:1:1: IYU1 and Y211 against planar frames, Y41P and CLJR through
    // ffmpeg's own coders of those layouts.
    const Bytes U = Samples(w / 4, h, 10, 16, 240), V = Samples(w / 4, h, 11, 16, 240);
    Bytes iyu1, y211, yShared = Y;
    for (int y = 0; y < h; ++y)
      for (int g = 0; g < w / 4; ++g) {
        const uint8_t* l = &Y[size_t(y * w + 4 * g)];
        const uint8_t u = U[size_t(y * w / 4 + g)], v = V[size_t(y * w / 4 + g)];
        iyu1.insert(iyu1.end(), {u, l[0], l[1], v, l[2], l[3]});
        y211.insert(y211.end(), {l[0], u, l[2], v});
        uint8_t* s = &yShared[size_t(y * w + 4 * g)];
        s[1] = s[0];
        s[3] = s[2];
      }
    const Bytes yuv411 = planes({&Y, &U, &V});
    cases.push_back({"IYU1", iyu1, ffmpegRGB("", yuv411, "yuv411p")});
    cases.push_back({"Y211", y211, ffmpegRGB("", planes({&yShared, &U, &V}), "yuv411p")});
    qvtest::WriteFileBytes(dir.File("411.raw"), yuv411);
    for (const char* coder : {"y41p", "cljr"}) {
      const std::string avi = dir.File(std::string(coder) + ".avi");
      std::string log;
      ASSERT_EQ(qvtest::RunCommand("ffmpeg -v error -y -f rawvideo -pix_fmt yuv411p -s " + std::to_string(w) + "x" +
                                       std::to_string(h) + " -i " + dir.File("411.raw") + " -c:v " + coder +
                                       " -f avi " + avi + " 2>&1",
                                   &log),
                0)
          << log;
      const Bytes frame = AviFrame(qvtest::ReadFileBytes(avi));
      ASSERT_FALSE(frame.empty()) << coder;
      cases.push_back({coder[0] == 'y' ? "Y41P" : "CLJR", frame, ffmpegRGB(avi, {}, "")});
    }
  }
  for (const Case& c : cases) {
    ASSERT_EQ(c.rgb.size(), size_t(w * h * 3)) << c.fourcc;
    const Bytes dib = Frame(c.fourcc, w, h, c.frame);
    TIEBitmap b;
    ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), b), 16) << c.fourcc;
    ASSERT_EQ(b.Width(), w);
    int worst = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const TRGB p = b.GetPixelRGB(x, y);
        const uint8_t* q = &c.rgb[size_t((y * w + x) * 3)];
        worst = std::max({worst, std::abs(p.r - q[0]), std::abs(p.g - q[1]), std::abs(p.b - q[2])});
      }
    EXPECT_LE(worst, 2) << c.fourcc;
  }
}

// ---- gamma and hostile blocks ----

TEST(DIBImport, GammaCorrectsOnlyUncompressed24BitRows) {
  TDibSpec s = Spec(40, 2, 2, 24, 0, {}, {}, 0, {0, 64, 255, 128, 1, 2, 0, 0, 64, 64, 64, 64, 64, 64, 0, 0});
  Bytes dib = BuildDib(s);
  GammaCorrectDIB(dib.data(), dib.size(), 2.0);
  EXPECT_EQ(Bytes(dib.begin() + 40, dib.begin() + 48), (Bytes{0, 128, 255, 181, 16, 23, 0, 0}));
  // A block holding only part of the rows changes only those.
  Bytes cut = BuildDib(s);
  cut.resize(40 + 8 + 5);
  GammaCorrectDIB(cut.data(), cut.size(), 2.0);
  EXPECT_EQ(cut[48], 64);
  EXPECT_EQ(cut[41], 128);
  s.bits = 32;
  s.width = 1;
  Bytes other = BuildDib(s);
  const Bytes before = other;
  GammaCorrectDIB(other.data(), other.size(), 2.0);
  EXPECT_EQ(other, before);
}

TEST(DIBImport, HostileBlocksReturnZeroAndLeaveTheBitmap) {
  const Bytes good = BuildDib(Spec(40, 4, 3, 8, 0, {}, Palette(256, 1), 0, Noise(12, 1)));
  const Bytes yuy2 = Frame("YUY2", 4, 2, Bytes(16, 128));
  auto with = [](Bytes b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
    return b;
  };
  auto cut = [](Bytes b, size_t n) {
    b.resize(n);
    return b;
  };
  const struct {
    const char* name;
    Bytes block;
  } cases[] = {
      {"shorter than any header", cut(good, 11)},
      {"header size past the block", with(good, 0, 5000)},
      {"header cut", cut(good, 30)},
      {"colour table cut", cut(good, 40 + 500)},
      {"rows one byte short", cut(good, good.size() - 1)},
      {"colour count past 256", with(good, 32, 1000000)},
      {"zero width", with(good, 4, 0)},
      {"negative width", with(good, 4, uint32_t(-4))},
      {"zero height", with(good, 8, 0)},
      {"most negative height", with(good, 8, 0x80000000u)},
      {"width no rows can hold", with(good, 4, 0x7FFFFFFF)},
      {"depth 7", with(good, 14, 7)},
      {"fields without their masks", cut(BuildDib(Spec(40, 2, 2, 16, 3, {0xF800, 0x7E0, 0x1F})), 40)},
      {"overlapping masks", BuildDib(Spec(40, 2, 2, 16, 3, {0xF800, 0xFFE0, 0x1F}, {}, 0, Bytes(8)))},
      {"run past the picture", BuildDib(Spec(40, 2, 2, 8, 1, {}, Palette(256, 2), 0, Bytes{0, 2, 0, 9, 0, 1}))},
      {"run-length top-down", BuildDib(Spec(40, 2, -2, 8, 1, {}, Palette(256, 2), 0, Bytes{2, 1, 0, 1}))},
      {"frame one byte short", cut(yuy2, yuy2.size() - 1)},
      {"frame of no whole group", Frame("Y41P", 6, 2, Bytes(100))},
      {"unknown FOURCC", Frame("ABCD", 4, 2, Bytes(100))},
      {"frame of negative width", Frame("YUY2", -4, 2, Bytes(100))},
      {"frame of most negative height", with(yuy2, 8, 0x80000000u)},
  };
  for (const auto& c : cases) {
    TIEBitmap target(1, 1, ie8g);
    target.SetPixel8(0, 0, 42);
    EXPECT_EQ(DIBToIEBitmap(c.block.data(), c.block.size(), target), 0) << c.name;
    EXPECT_EQ(target.Width(), 1) << c.name;
    EXPECT_EQ(target.PixelFormat(), ie8g) << c.name;
    EXPECT_EQ(target.GetPixel8(0, 0), 42) << c.name;
  }
}

// Seeds of the fuzz targets over DIB import and the raw bitmap stream: run with
// QV_WRITE_FUZZ_SEEDS set to fuzz/corpus to write them; otherwise checks that
// they are committed. A DIB seed's first byte steers the target (below 0x80:
// one block; else the header block and the pixels apart).
TEST(FuzzSeeds, DibImportAndRawStreamSeedsWrittenWhenAskedAndPresent) {
  std::vector<std::pair<std::string, Bytes>> seeds;
  int n = 0;
  for (const auto& c : PillowCases()) {
    Bytes seed = {0};
    const Bytes dib = BuildDib(c.spec);
    seed.insert(seed.end(), dib.begin(), dib.end());
    seeds.push_back({"dib_import/case" + std::to_string(n++), seed});
  }
  for (const char* fourcc : {"YUY2", "I420", "Y41P", "CLJR", "YVU9", "IYU1"}) {
    Bytes seed = {0x80};
    const Bytes dib = Frame(fourcc, 8, 4, Noise(8 * 4 * 3, 7));
    seed.insert(seed.end(), dib.begin(), dib.end());
    seeds.push_back({std::string("dib_import/") + fourcc, seed});
  }
  for (TIEBitmapFormat f : {ie1g, ie8p, ie24RGB, ieRGB48}) {
    TIEBitmap b(5, 3, f);
    b.Fill(0);
    if (f == ie24RGB) b.AlphaChannel()->Fill(7);
    seeds.push_back({"raw_stream/format" + std::to_string(int(f)), SaveRawToBytes(b)});
  }
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (const auto& [name, bytes] : seeds) {
    if (out && *out) {
      const std::filesystem::path file = std::filesystem::path(out) / name;
      std::filesystem::create_directories(file.parent_path());
      qvtest::WriteFileBytes(file.string(), bytes);
      continue;
    }
    const std::filesystem::path file = std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus" / name;
    EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
  }
}

}  // namespace
