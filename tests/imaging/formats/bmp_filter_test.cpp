// The BMP filter on hand-built files: RLE codes, header forms, bit fields,
// alpha, round trips at every depth and hostile input.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "imaging/core/ie_bilevel.h"
#include "imaging/core/ie_mask.h"
#include "imaging/formats/bmp_filter.h"
#include "tests/imaging/formats/format_test_util.h"

namespace {

using qvtest::Le16;
using qvtest::Le32;
using qvtest::Progress;

std::vector<uint8_t> RowIndices(TIEBitmap& b, int y) {
  return std::vector<uint8_t>(b.ScanLine(y), b.ScanLine(y) + b.Width());
}

struct RleCase {
  const char* name;
  int width, height;
  bool fourBits;
  std::vector<uint8_t> data;
  std::vector<std::vector<uint8_t>> rows;  // top row first, 9 = untouched
};
// How the case reads in the test list and in a failure.
void PrintTo(const RleCase& c, std::ostream* os) { *os << c.name; }

class BmpRle : public ::testing::TestWithParam<RleCase> {};

TEST_P(BmpRle, DecodesIndices) {
  const RleCase& c = GetParam();
  TIEBitmap b(c.width, c.height, ie8p);
  for (int y = 0; y < c.height; ++y) std::memset(b.ScanLine(y), 9, size_t(c.width));
  Progress p;
  p.rec.Step = 100.0 / c.height;
  if (c.fourBits) DecodeBMPRLE4Indexed(b, c.data.data(), int64_t(c.data.size()), {}, p.rec, 0);
  else DecodeBMPRLE8Indexed(b, c.data.data(), int64_t(c.data.size()), {}, p.rec, 0);
  for (int y = 0; y < c.height; ++y) EXPECT_EQ(RowIndices(b, y), c.rows[size_t(y)]) << c.name << " row " << y;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, BmpRle,
    ::testing::Values(
        // An absolute run of 3 keeps 16-bit alignment with one pad byte, then end of bitmap.
        RleCase{"absolute_run_pad", 6, 1, false, {3, 5, 0, 3, 1, 2, 3, 0, 0, 1}, {{5, 5, 5, 1, 2, 3}}},
        // Delta from column 4 by (2, 1): the next row (upwards) at column 6.
        RleCase{"delta", 8, 2, false, {4, 1, 0, 2, 2, 1, 2, 7, 0, 1}, {{9, 9, 9, 9, 9, 9, 7, 7}, {1, 1, 1, 1, 9, 9, 9, 9}}},
        // A delta that leaves the bitmap ends decoding.
        RleCase{"delta_out", 4, 1, false, {1, 1, 0, 2, 0, 1, 1, 2}, {{1, 9, 9, 9}}},
        // RLE8 pixels past the right edge overwrite the last pixel.
        RleCase{"rle8_overrun", 3, 1, false, {2, 1, 3, 4}, {{1, 1, 4}}},
        // RLE4 alternates nibbles and drops pixels past the edge.
        RleCase{"rle4_run", 3, 1, true, {5, 0x12}, {{1, 2, 1}}},
        RleCase{"rle4_absolute", 5, 1, true, {0, 5, 0x12, 0x34, 0x50, 0, 0, 1}, {{1, 2, 3, 4, 5}}},
        // A truncated absolute run stops without reading past the data.
        RleCase{"truncated_run", 4, 1, false, {1, 8, 0, 6, 1, 2}, {{8, 9, 9, 9}}},
        // End of line past the last row ends decoding.
        RleCase{"eol_past_end", 2, 1, false, {1, 3, 0, 0, 2, 4}, {{3, 9}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(BmpRleEncode, RowsDecodeBackAndFollowTheRunRules) {
  const std::vector<std::vector<uint8_t>> rows = {
      {7}, {1, 2}, {3, 3, 3, 1, 2, 3, 4, 4}, std::vector<uint8_t>(300, 5), {}, [] {
        std::vector<uint8_t> v(600);
        for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(i * 7 % 16);
        return v;
      }()};
  for (bool four : {false, true}) {
    for (const auto& row : rows) {
      if (row.empty()) continue;
      std::vector<uint8_t> out(row.size() * 10 + 16);
      const int n = four ? EncodeBMPRLE4Row(row.data(), int(row.size()), out.data())
                         : EncodeBMPRLE8Row(row.data(), int(row.size()), out.data());
      ASSERT_GE(n, 2);
      EXPECT_EQ(out[size_t(n) - 2], 0);
      EXPECT_EQ(out[size_t(n) - 1], 0);
      TIEBitmap b(int(row.size()), 1, ie8p);
      Progress p;
      if (four) DecodeBMPRLE4Indexed(b, out.data(), n, {}, p.rec, 0);
      else DecodeBMPRLE8Indexed(b, out.data(), n, {}, p.rec, 0);
      EXPECT_EQ(RowIndices(b, 0), row) << (four ? "rle4 " : "rle8 ") << row.size();
    }
  }
  // Two pixels in RLE8 are two runs of one, in RLE4 one run of two.
  const uint8_t two[2] = {1, 2};
  uint8_t out[32];
  ASSERT_EQ(EncodeBMPRLE8Row(two, 2, out), 6);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{1, 1, 1, 2, 0, 0}));
  ASSERT_EQ(EncodeBMPRLE4Row(two, 2, out), 4);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{2, 0x12, 0, 0}));
}

// A BMP file from its parts; the data offset points right after the extras.
std::vector<uint8_t> BmpFile(const std::vector<uint8_t>& header, const std::vector<uint8_t>& extras,
                             const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> f = {'B', 'M'};
  Le32(f, uint32_t(14 + header.size() + extras.size() + pixels.size()));
  Le32(f, 0);
  Le32(f, uint32_t(14 + header.size() + extras.size()));
  f.insert(f.end(), header.begin(), header.end());
  f.insert(f.end(), extras.begin(), extras.end());
  f.insert(f.end(), pixels.begin(), pixels.end());
  return f;
}

std::vector<uint8_t> InfoHeader(uint32_t size, int32_t w, int32_t h, int bits, uint32_t compression,
                                uint32_t colors = 0, const std::vector<uint32_t>& masks = {}) {
  std::vector<uint8_t> v;
  Le32(v, size);
  Le32(v, uint32_t(w));
  Le32(v, uint32_t(h));
  Le16(v, 1);
  Le16(v, uint32_t(bits));
  Le32(v, compression);
  Le32(v, 0);
  Le32(v, 3780);
  Le32(v, 3780);
  Le32(v, colors);
  Le32(v, 0);
  for (uint32_t m : masks) Le32(v, m);
  v.resize(size, 0);
  return v;
}

struct Loaded {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  TIEMaskOut mask;
  Progress progress;
};

std::unique_ptr<Loaded> Load(const std::vector<uint8_t>& file, bool native = false, bool ignoreAlpha = false) {
  auto l = std::make_unique<Loaded>();
  l->params.NativePixelFormat = native;
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  ReadBMPStream(s, l->bitmap, 0, l->params, l->progress.rec, false, false, l->mask, ignoreAlpha);
  return l;
}

TEST(BmpRead, BitFieldsInEveryHeaderForm) {
  // Two pixels: pure red and pure blue in 5-6-5, then in a 10-bit-wide BGR order
  // held inside a 124-byte header.
  auto h565 = Load(BmpFile(InfoHeader(40, 2, 1, 16, 3), {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0},
                           {0x00, 0xF8, 0x1F, 0x00}));
  ASSERT_FALSE(h565->progress.Aborted());
  // Narrow channels widen so that full is 255, as Pillow and the framework's
  // own codec read them (shifting alone gave 248).
  EXPECT_EQ(h565->bitmap.GetPixelRGB(0, 0), MakeRGB(255, 0, 0));
  EXPECT_EQ(h565->bitmap.GetPixelRGB(1, 0), MakeRGB(0, 0, 255));

  // 32 bits, masks blue 0x3FF00000 green 0x000FFC00 red 0x000003FF, inside the header.
  std::vector<uint8_t> px;
  Le32(px, 0x3FF);       // red full
  Le32(px, 0x3FF00000);  // blue full
  auto v5 = Load(BmpFile(InfoHeader(124, 2, 1, 32, 3, 0, {0x000003FF, 0x000FFC00, 0x3FF00000}), {}, px));
  ASSERT_FALSE(v5->progress.Aborted());
  EXPECT_EQ(v5->params.BmpVersion, 0);
  EXPECT_EQ(v5->bitmap.GetPixelRGB(0, 0), MakeRGB(255, 0, 0));
  EXPECT_EQ(v5->bitmap.GetPixelRGB(1, 0), MakeRGB(0, 0, 255));

  // 16 bits without bit fields is 5-5-5.
  auto h555 = Load(BmpFile(InfoHeader(40, 1, 1, 16, 0), {}, {0x00, 0x7C, 0, 0}));
  EXPECT_EQ(h555->bitmap.GetPixelRGB(0, 0), MakeRGB(255, 0, 0));
  // 4-bit channels (a 4-4-4 mask set): 0xF reads 255, 0x8 reads 0x88.
  auto h444 = Load(BmpFile(InfoHeader(40, 1, 1, 16, 3), {0, 0x0F, 0, 0, 0xF0, 0, 0, 0, 0x0F, 0, 0, 0},
                           {0x8F, 0x0F, 0, 0}));
  EXPECT_EQ(h444->bitmap.GetPixelRGB(0, 0), MakeRGB(255, 0x88, 0xFF));
}

TEST(BmpRead, PalettesAndOrientation) {
  // 1 bit with palette white, black reads inverted into ie1g (1 = white).
  const std::vector<uint8_t> wb = {255, 255, 255, 0, 0, 0, 0, 0};
  auto one = Load(BmpFile(InfoHeader(40, 8, 1, 1, 0, 2), wb, {0x0F, 0, 0, 0}));
  ASSERT_EQ(one->bitmap.PixelFormat(), ie1g);
  EXPECT_EQ(one->bitmap.ScanLine(0)[0], 0xF0);

  // 8 bits, colours used 300 counts as 256; an index past the declared colours is black.
  std::vector<uint8_t> pal;
  for (int i = 0; i < 256; ++i) Le32(pal, uint32_t(i) << 8);  // green ramp
  auto eight = Load(BmpFile(InfoHeader(40, 2, 1, 8, 0, 300), pal, {7, 200, 0, 0}));
  EXPECT_EQ(eight->params.PaletteCount, 256);
  EXPECT_EQ(eight->bitmap.GetPixelRGB(1, 0), MakeRGB(0, 200, 0));
  auto few = Load(BmpFile(InfoHeader(40, 2, 1, 8, 0, 2), {0, 0, 255, 0, 255, 0, 0, 0}, {1, 200, 0, 0}));
  EXPECT_EQ(few->bitmap.GetPixelRGB(0, 0), MakeRGB(0, 0, 255));
  EXPECT_EQ(few->bitmap.GetPixelRGB(1, 0), MakeRGB(0, 0, 0));

  // Native 4 bits keeps indices; top-down and bottom-up rows give the same bitmap.
  const std::vector<uint8_t> pal16(64, 0);
  auto up = Load(BmpFile(InfoHeader(40, 2, 2, 4, 0), pal16, {0x12, 0, 0, 0, 0x34, 0, 0, 0}), true);
  auto down = Load(BmpFile(InfoHeader(40, 2, -2, 4, 0), pal16, {0x34, 0, 0, 0, 0x12, 0, 0, 0}), true);
  ASSERT_EQ(up->bitmap.PixelFormat(), ie8p);
  for (int y = 0; y < 2; ++y) EXPECT_EQ(RowIndices(up->bitmap, y), RowIndices(down->bitmap, y));
  EXPECT_EQ(RowIndices(up->bitmap, 0), (std::vector<uint8_t>{3, 4}));
  EXPECT_EQ(up->params.DpiX, 96);
}

TEST(BmpRead, AlphaOfThirtyTwoBitFiles) {
  auto px = [](uint8_t a0, uint8_t a1) { return std::vector<uint8_t>{1, 2, 3, a0, 4, 5, 6, a1}; };
  for (auto [a0, a1] : {std::pair<uint8_t, uint8_t>{0, 0}, {255, 255}}) {
    auto l = Load(BmpFile(InfoHeader(40, 1, 2, 32, 0), {}, px(a0, a1)));
    EXPECT_FALSE(l->mask) << int(a0);
  }
  // Top-down: the alpha goes to the same row as its colour.
  auto l = Load(BmpFile(InfoHeader(40, 1, -2, 32, 0), {}, px(10, 200)));
  ASSERT_TRUE(l->mask);
  EXPECT_EQ(l->bitmap.GetPixelRGB(0, 0), MakeRGB(3, 2, 1));
  EXPECT_EQ(l->mask->GetPixel(0, 0), 10);
  EXPECT_EQ(l->mask->GetPixel(0, 1), 200);
  EXPECT_FALSE(Load(BmpFile(InfoHeader(40, 1, -2, 32, 0), {}, px(10, 200)), false, true)->mask);
}

struct WriteCase {
  const char* name;
  int bits, samples, version, compression;
  TIEBitmapFormat source;
};
// How the case reads in the test list and in a failure.
void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class BmpRoundTrip : public ::testing::TestWithParam<WriteCase> {};

TEST_P(BmpRoundTrip, ReadsBackWhatWasWritten) {
  const WriteCase& c = GetParam();
  // Few colours, so every depth holds them exactly.
  const TRGB colours[4] = {MakeRGB(0, 0, 0), MakeRGB(255, 255, 255), MakeRGB(200, 30, 40), MakeRGB(10, 90, 250)};
  const int w = 37, h = 5;
  TIEBitmap src(w, h, ie24RGB);
  const int used = c.bits == 1 ? 2 : 4;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) src.SetPixelRGB(x, y, colours[(x / 3 + y) % used]);
  if (c.source != ie24RGB) src.SetPixelFormat(c.source);
  TIOParamsVals params(nullptr);
  params.BitsPerSample = c.bits;
  params.SamplesPerPixel = c.samples;
  params.BmpVersion = uint8_t(c.version);
  params.BmpCompression = uint8_t(c.compression);
  params.SetDpiX(300);
  params.SetDpiY(300);
  TMemoryStream out;
  Progress wp;
  WriteBMPStream(out, src, params, wp.rec, false);
  ASSERT_FALSE(wp.Aborted());
  const auto bytes = qvtest::StreamBytes(out);
  const bool rle = c.compression == 1 && c.version != 2 && (c.bits == 4 || c.bits == 8);
  // The end-of-bitmap code follows RLE data only.
  EXPECT_EQ(bytes[bytes.size() - 2] == 0 && bytes[bytes.size() - 1] == 1, rle);
  auto back = Load(bytes);
  ASSERT_FALSE(back->progress.Aborted());
  EXPECT_EQ(back->params.BmpVersion, c.version == 0 ? 1 : c.version);
  if (c.version != 2) { EXPECT_EQ(back->params.DpiX, 300); }
  TIEBitmap expect;
  expect.Assign(&src);
  expect.SetPixelFormat(ie24RGB);
  TIEBitmap got;
  got.Assign(&back->bitmap);
  got.SetPixelFormat(ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(got.GetPixelRGB(x, y), expect.GetPixelRGB(x, y)) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Depths, BmpRoundTrip,
    ::testing::Values(WriteCase{"bits1", 1, 1, 1, 0, ie24RGB}, WriteCase{"bits1_from_1g", 1, 1, 1, 0, ie1g},
                      WriteCase{"bits4", 4, 1, 1, 0, ie24RGB}, WriteCase{"rle4", 4, 1, 1, 1, ie24RGB},
                      WriteCase{"bits8", 8, 1, 1, 0, ie24RGB}, WriteCase{"rle8", 8, 1, 3, 1, ie24RGB},
                      WriteCase{"bits8_from_8p", 8, 1, 1, 1, ie8p}, WriteCase{"core_never_rle", 8, 1, 2, 1, ie24RGB},
                      WriteCase{"bits24", 8, 3, 1, 0, ie24RGB}, WriteCase{"bits24_from_48", 8, 3, 1, 0, ieRGB48}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(BmpWrite, HeaderFieldsAndAlpha) {
  TIEBitmap src(3, 2, ie24RGB);
  src.Fill(0);
  src.AlphaChannel()->SetPixel8(1, 0, 77);
  TIOParamsVals params(nullptr);
  params.SetDpiX(300);
  params.SetDpiY(300);
  TMemoryStream out;
  Progress p;
  WriteBMPStream(out, src, params, p.rec, true);
  const auto b = qvtest::StreamBytes(out);
  auto le32 = [&](size_t o) { return uint32_t(b[o] | b[o + 1] << 8 | b[o + 2] << 16 | uint32_t(b[o + 3]) << 24); };
  EXPECT_EQ(b[14 + 14], 32);
  EXPECT_EQ(le32(14 + 24), 11811u);  // 300 DPI in pixels per metre
  EXPECT_EQ(le32(14 + 36), 1u);      // colours important 2^(32 mod 32)
  EXPECT_EQ(le32(2), b.size());
  auto back = Load(b, false, false);
  ASSERT_TRUE(back->mask);
  EXPECT_EQ(back->mask->GetPixel(1, 0), 77);
  EXPECT_EQ(back->params.DpiY, 300);

  // An empty bitmap is an error, not an empty file.
  TIEBitmap empty;
  TMemoryStream none;
  Progress ep;
  WriteBMPStream(none, empty, params, ep.rec, false);
  EXPECT_TRUE(ep.Aborted());
}

TEST(BmpWrite, TwoColourPictureKeepsItsColours) {
  TIEBitmap src(9, 2, ie24RGB);
  for (int x = 0; x < 9; ++x) {
    src.SetPixelRGB(x, 0, x % 2 ? MakeRGB(255, 0, 0) : MakeRGB(0, 0, 255));
    src.SetPixelRGB(x, 1, MakeRGB(255, 0, 0));
  }
  TRGB c1, c2;
  auto one = ConvertTwoColorTo1Bit(src, c1, c2);
  ASSERT_TRUE(one);
  EXPECT_EQ(c1, MakeRGB(0, 0, 255));  // blue is darker
  EXPECT_EQ(c2, MakeRGB(255, 0, 0));
  EXPECT_EQ(one->ScanLine(0)[0], 0x55);
  TIOParamsVals params(nullptr);
  params.BitsPerSample = 1;
  params.SamplesPerPixel = 1;
  TMemoryStream out;
  Progress p;
  WriteBMPStream(out, src, params, p.rec, false);
  auto back = Load(qvtest::StreamBytes(out));
  EXPECT_EQ(back->params.Palette, (std::vector<TRGB>{MakeRGB(0, 0, 255), MakeRGB(255, 0, 0)}));
}

TEST(BmpRead, HostileFilesSetTheAbortFlag) {
  const std::vector<uint8_t> tiny24 = BmpFile(InfoHeader(40, 2, 2, 24, 0), {}, std::vector<uint8_t>(16, 1));
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    const char* reason;  // the rule that fired, as the progress record names it
  };
  const char* unfilled = "the data cannot fill the rows";
  const char* compression = "a compression the depth does not have";
  std::vector<Case> cases = {
      {"empty", {}, "the header is cut short"},
      {"signature", {'B', 'X', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "no BM signature"},
      // Cut inside the info header: the file header's pixel offset is past the end first.
      {"header_only", std::vector<uint8_t>(tiny24.begin(), tiny24.begin() + 20), "the pixel offset lies past the end"},
      {"negative_width", BmpFile(InfoHeader(40, -2, 2, 24, 0), {}, std::vector<uint8_t>(16, 1)),
       "a negative width or a height of INT32_MIN"},
      {"height_min", BmpFile(InfoHeader(40, 2, INT_MIN, 24, 0), {}, std::vector<uint8_t>(16, 1)),
       "a negative width or a height of INT32_MIN"},
      {"huge_claim", BmpFile(InfoHeader(40, 65500, 65500, 24, 0), {}, std::vector<uint8_t>(16, 1)), unfilled},
      {"truncated_rows", std::vector<uint8_t>(tiny24.begin(), tiny24.end() - 9), unfilled},
      {"header_size_huge", BmpFile(InfoHeader(40, 2, 2, 24, 0), {}, {}), "a header size outside the data"},
      {"rle_past_stream", BmpFile(InfoHeader(40, 4, 4, 8, 1), std::vector<uint8_t>(1024, 0), {1, 1}),
       "the run-length data runs past the end"},
      // A depth with no row decoder reads nothing: not a success.
      {"depth_without_rows", BmpFile(InfoHeader(40, 4, 2, 0xFFFF, 0), {}, std::vector<uint8_t>(16, 1)),
       "a depth that is not read"},
      // Nor does a compression the depth has no decoder for (RLE8 at 4 bits,
      // RLE4 at 1 bit, RLE8 at 16 bits): these read as black pictures before.
      {"rle8_at_4_bits", BmpFile(InfoHeader(40, 4, 2, 4, 1), std::vector<uint8_t>(64, 0), std::vector<uint8_t>(8, 1)),
       compression},
      {"rle4_at_1_bit", BmpFile(InfoHeader(40, 4, 2, 1, 2), std::vector<uint8_t>(8, 0), std::vector<uint8_t>(8, 1)),
       compression},
      {"rle8_at_16_bits", BmpFile(InfoHeader(40, 2, 2, 16, 1), {}, std::vector<uint8_t>(8, 1)), compression},
      // Run-length pictures far larger than their runs can fill (255 pixels per
      // two bytes): refused before any buffer or temporary file exists.
      {"rle8_bomb", BmpFile(InfoHeader(40, 318000000, 13, 8, 1), std::vector<uint8_t>(1024, 0),
                            std::vector<uint8_t>(600, 0)), unfilled},
      {"rle4_bomb", BmpFile(InfoHeader(40, 60000, 60000, 4, 2), std::vector<uint8_t>(64, 0),
                            std::vector<uint8_t>(600, 0)), unfilled},
  };
  cases[7].file[14] = 0xFF, cases[7].file[15] = 0xFF, cases[7].file[16] = 0xFF;
  {  // cut inside the info header, with no pixel offset to trip over first
    std::vector<uint8_t> f(tiny24.begin(), tiny24.begin() + 20);
    f[10] = f[11] = 0;
    cases.push_back({"info_header_cut", f, "a header size outside the data"});
  }
  {  // data offset past the stream
    auto f = tiny24;
    f[10] = 0xFF, f[11] = 0xFF, f[12] = 0x0F;
    cases.push_back({"offset_past_stream", f, "the pixel offset lies past the end"});
  }
  // The RLE data is declared by the file size: make it claim more than is there.
  cases[8].file[2] = 0xFF, cases[8].file[3] = 0xFF;
  for (const Case& c : cases) {
    auto l = Load(c.file);
    EXPECT_TRUE(l->progress.Aborted()) << c.name;
    EXPECT_STREQ(l->progress.rec.Refusal, c.reason) << c.name;
  }
  EXPECT_FALSE(Load(tiny24)->progress.Aborted());
}

}  // namespace
