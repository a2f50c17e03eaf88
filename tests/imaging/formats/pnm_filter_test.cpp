// The portable anymap filter: headers and comments, ASCII and binary samples
// scaled by their maximum (P6 as P5), clamped samples, a bounded probe, the
// writer's forms, and hostile headers.
#include <gtest/gtest.h>

#include <string>

#include "imaging/core/ie_startup.h"
#include "imaging/formats/pnm_filter.h"
#include "tests/imaging/formats/filter_test_streams.h"
#include "tests/imaging/formats/format_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qvtest::Progress;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Read {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  Progress progress;
};

std::unique_ptr<Read> ReadBytes(const Bytes& bytes, bool native = false, bool paramsOnly = false) {
  auto r = std::make_unique<Read>();
  r->params.NativePixelFormat = native;
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  ReadPXMStream(s, r->bitmap, r->params, r->progress.rec, paramsOnly);
  return r;
}

// Red, green, blue of each pixel, rows from the top.
std::vector<int> Rgb(TIEBitmap& b) {
  std::vector<int> v;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const TRGB c = b.GetPixelAsRGB(x, y);
      v.insert(v.end(), {c.r, c.g, c.b});
    }
  return v;
}

std::vector<int> Grey(std::initializer_list<int> g) {
  std::vector<int> v;
  for (int x : g) v.insert(v.end(), {x, x, x});
  return v;
}

TEST(PnmFilter, PlainBitmapWithCommentReadsBlackAndWhite) {
  auto r = ReadBytes(B("P1\n# made by hand\n3 2\n1 0 1\n0 1 0\n"));
  ASSERT_FALSE(r->progress.Aborted());
  ASSERT_EQ(r->bitmap.PixelFormat(), ie1g);
  EXPECT_EQ(Rgb(r->bitmap), Grey({0, 255, 0, 255, 0, 255}));
  ASSERT_EQ(r->params.PxmComments.Count(), 1);
  EXPECT_EQ(r->params.PxmComments[0], "made by hand");
  // Without separators, and with a comment inside the data, it reads the same.
  auto packed = ReadBytes(B("P1 3 2 101\n# a note 111\n010"));
  ASSERT_FALSE(packed->progress.Aborted());
  EXPECT_EQ(Rgb(packed->bitmap), Rgb(r->bitmap));
}

TEST(PnmFilter, SamplesScaleByTheMaximumInEveryForm) {
  struct Case {
    const char* name;
    Bytes file;
    std::vector<int> rgb;
  };
  const Case cases[] = {
      {"p5_max15", Cat(B("P5 3 1 15\n"), {15, 7, 0}), Grey({255, 119, 0})},
      {"p5_max255_unchanged", Cat(B("P5 3 1 255\n"), {200, 7, 1}), Grey({200, 7, 1})},
      {"p5_above_max_clamps", Cat(B("P5 2 1 15\n"), {16, 255}), Grey({255, 255})},
      // P6 scales as P5 does (it used to ignore the maximum).
      {"p6_max15", Cat(B("P6 1 1 15\n"), {15, 7, 0}), {255, 119, 0}},
      {"p6_max1023", Cat(B("P6 1 1 1023\n"), {0x03, 0xFF, 0x01, 0xFF, 0x00, 0x04}), {255, 127, 0}},
      {"p6_max1023_clamps", Cat(B("P6 1 1 1023\n"), {0xFF, 0xFF, 0x04, 0x00, 0x02, 0x00}), {255, 255, 127}},
      {"p5_16bit", Cat(B("P5 2 1 65535\n"), {0xFF, 0xFF, 0x80, 0x00}), Grey({255, 127})},
      {"p2_max15", B("P2 3 1 15 15 7 99"), Grey({255, 119, 255})},
      {"p3", B("P3 2 1 255\n255 0 10\n# a comment\n1 2 3\n"), {255, 0, 10, 1, 2, 3}},
      {"comment_between_sizes", Cat(B("P5 2 # width above, height below\n1 255\n"), {9, 8}), Grey({9, 8})},
  };
  for (const Case& c : cases) {
    auto r = ReadBytes(c.file);
    ASSERT_FALSE(r->progress.Aborted()) << c.name;
    EXPECT_EQ(Rgb(r->bitmap), c.rgb) << c.name;
  }
}

TEST(PnmFilter, NativeSixteenBitSamplesScaleToFullWords) {
  auto g = ReadBytes(Cat(B("P5 2 1 1023\n"), {0x03, 0xFF, 0x01, 0xFF}), true);
  ASSERT_EQ(g->bitmap.PixelFormat(), ie16g);
  EXPECT_EQ(g->bitmap.GetPixel16(0, 0), 65535);
  EXPECT_EQ(g->bitmap.GetPixel16(1, 0), 511 * 65535 / 1023);
  EXPECT_EQ(g->params.BitsPerSample, 16);
  auto c = ReadBytes(Cat(B("P6 1 1 1023\n"), {0x03, 0xFF, 0x01, 0xFF, 0x00, 0x00}), true);
  ASSERT_EQ(c->bitmap.PixelFormat(), ieRGB48);
  const TRGB48 p = c->bitmap.GetPixelRGB48(0, 0);
  EXPECT_EQ(p.r, 65535);
  EXPECT_EQ(p.g, 511 * 65535 / 1023);
  EXPECT_EQ(p.b, 0);
  EXPECT_EQ(c->params.SamplesPerPixel, 3);
}

TEST(PnmFilter, HostileHeadersAreRefusedBeforeAllocating) {
  struct Case {
    const char* name;
    Bytes file;
    const char* reason;  // the rule that fired, as the progress record names it
  };
  const char* magic = "a magic word that is not an anymap's";
  const char* side = "a side that is missing or not a positive number";
  const char* maximum = "a maximum that is missing or outside 1..65535";
  const char* unfilled = "the data cannot fill the rows";
  const Case cases[] = {
      {"empty", {}, magic},
      {"magic_only", B("P5"), side},
      {"unknown_magic", B("P7 2 2 255\n...."), magic},
      {"width_0", B("P5 0 2 255\n.."), side},
      {"height_overflows", B("P5 2 99999999999 255\n...."), side},
      {"missing_maximum", B("P5 2 2"), maximum},
      {"maximum_0", B("P5 2 1 0\n\x01\x02"), maximum},
      {"maximum_too_large", B("P5 1 1 65536\n\x01\x02"), maximum},
      {"not_a_number", B("P6 two 2 255\n"), side},
      {"huge_for_data", B("P6 60000 60000 255\n\x01\x02\x03"), unfilled},
      {"p1_huge_for_data", B("P1 100000 100000 0101"), unfilled},
      {"p4_rows_missing", B("P4 16 2\n\x01\x02\x03"), unfilled},
      {"p5_rows_missing", B("P5 4 2 255\n\x01\x02\x03\x04\x05"), unfilled},
      // A sign is part of the number (gdk-pixbuf's fail/invalid.6.ppm and .7.ppm):
      // "-1" read as 1 made a 1 x 1 picture and a maximum of 1.
      {"negative_sides", B("P6\n-1 -1\n255\n  xxxxxx  xxxxxx"), side},
      {"negative_maximum", B("P6 10 10 -1\n  xxxxxx   xxxxxx"), maximum},
  };
  for (const Case& c : cases) {
    auto r = ReadBytes(c.file);
    EXPECT_TRUE(r->progress.Aborted()) << c.name;
    EXPECT_STREQ(r->progress.rec.Refusal, c.reason) << c.name;
    EXPECT_TRUE(r->bitmap.IsEmpty()) << c.name;
  }
}

TEST(PnmFilter, ShortAsciiDataKeepsTheRowsReadAndClearsTheRest) {
  auto r = ReadBytes(B("P2 2 3 255 10 20 30"));
  EXPECT_TRUE(r->progress.Aborted());
  EXPECT_STREQ(r->progress.rec.Refusal, "the rows are cut short");
  ASSERT_EQ(r->bitmap.Height(), 3);
  EXPECT_EQ(Rgb(r->bitmap), Grey({10, 20, 30, 0, 0, 0}));
  // Binary data that ends before the size the stream claimed when opened.
  Bytes file = B("P5 300 300 255\n");
  const size_t header = file.size();
  file.resize(header + 70000, 9);
  qvtest::TShrunkStream s(file, int64_t(header) + 90000);
  TIEBitmap b;
  TIOParamsVals params(nullptr);
  Progress p;
  ReadPXMStream(s, b, params, p.rec, false);
  EXPECT_TRUE(p.Aborted());
  ASSERT_EQ(b.Height(), 300);
  EXPECT_EQ(b.GetPixelRGB(299, 232).g, 9);
  EXPECT_EQ(b.GetPixelRGB(0, 233).g, 0);
  EXPECT_EQ(b.GetPixelRGB(299, 299).g, 0);
}

TEST(PnmFilter, TheProbeReadsHeadersOnlyAndRestoresThePosition) {
  struct Case {
    Bytes head;
    bool expected;
  };
  const Case cases[] = {{B("P1 3 2\n"), true},      {B("P4\n# c\n8 8\n"), true}, {B("P6 1 1 255\n"), true},
                        {B("P3 0 2 255\n"), false}, {B("P9 2 2 255\n"), false},  {B("GIF89a"), false},
                        {B("P5 4"), false},         {B(""), false}};
  for (const Case& c : cases) {
    Bytes data = Cat(B("xx"), c.head);
    TCustomMemoryStream s(data.data(), int64_t(data.size()));
    s.SetPosition(2);
    EXPECT_EQ(IsPXMStream(s), c.expected) << std::string(c.head.begin(), c.head.end());
    EXPECT_EQ(s.Position(), 2);
  }
  // Megabytes of one token or of one comment: the probe looks at a bounded window.
  Bytes digits = Cat(B("P5 "), Bytes(8 << 20, '7'));
  TCustomMemoryStream d(digits.data(), int64_t(digits.size()));
  EXPECT_FALSE(IsPXMStream(d));
  Bytes comment = Cat(B("P5 #"), Bytes(8 << 20, 'x'));
  TCustomMemoryStream c(comment.data(), int64_t(comment.size()));
  EXPECT_FALSE(IsPXMStream(c));
  // The reader keeps at most the limit of a long token.
  Bytes t = Bytes(10000, 'a');
  TCustomMemoryStream ts(t.data(), int64_t(t.size()));
  std::string token;
  ReadPXMToken(ts, token);
  EXPECT_EQ(token.size(), kPXMTokenLimit);
}

std::string Text(TMemoryStream& s) {
  const Bytes b = qvtest::StreamBytes(s);
  return std::string(b.begin(), b.end());
}

TEST(PnmFilter, WriterHeadersCarryTheComments) {
  auto b = qvtest::Gradient(3, 2);
  TIOParamsVals params(nullptr);
  params.BitsPerSample = 8, params.SamplesPerPixel = 3;
  TMemoryStream plain;
  Progress p;
  WritePXMStream(plain, *b, params, p.rec);
  EXPECT_EQ(Text(plain).substr(0, 11), "P6 3 2 255\n");
  EXPECT_EQ(plain.Size(), 11 + 18);
  params.PxmComments.Add("abc");
  TMemoryStream commented;
  WritePXMStream(commented, *b, params, p.rec);
  EXPECT_EQ(Text(commented).substr(0, 18), "P6 \n# abc\n3 2 255\n");
  ASSERT_FALSE(p.Aborted());
  auto r = ReadBytes(qvtest::StreamBytes(commented));
  EXPECT_EQ(Rgb(r->bitmap), Rgb(*b));
  EXPECT_EQ(r->params.PxmComments[0], "abc");
}

TEST(PnmFilter, WriterFormsReadBack) {
  auto colour = qvtest::Gradient(5, 3);
  // 1 bit: P4 with the bits inverted; reading restores the picture.
  TIEBitmap mono(10, 2, ie1g);
  mono.ScanLine(0)[0] = 0xF0, mono.ScanLine(0)[1] = 0x40;
  mono.ScanLine(1)[0] = 0x0F, mono.ScanLine(1)[1] = 0x80;
  {
    TIOParamsVals params(nullptr);
    TMemoryStream out;
    Progress p;
    WritePXMStream(out, mono, params, p.rec);
    const Bytes bytes = qvtest::StreamBytes(out);
    EXPECT_EQ(Text(out).substr(0, 8), "P4 10 2\n");
    EXPECT_EQ(bytes[8], 0x0F);
    auto r = ReadBytes(bytes);
    EXPECT_EQ(Rgb(r->bitmap), Rgb(mono));
  }
  // 8-bit grey through the library's grey weights.
  {
    TIOParamsVals params(nullptr);
    params.BitsPerSample = 8, params.SamplesPerPixel = 1;
    TMemoryStream out;
    Progress p;
    WritePXMStream(out, *colour, params, p.rec);
    EXPECT_EQ(Text(out).substr(0, 10), "P5 5 3 255");
    auto r = ReadBytes(qvtest::StreamBytes(out));
    const TRGB c = colour->GetPixelRGB(4, 2);
    const int grey = (c.r * IEGrayWeightRed + c.g * IEGrayWeightGreen + c.b * IEGrayWeightBlue) / 100;
    EXPECT_EQ(r->bitmap.GetPixelRGB(4, 2).g, grey);
  }
  // 16 bits from 8: each sample v as v x 257, most significant byte first.
  {
    TIOParamsVals params(nullptr);
    params.BitsPerSample = 16, params.SamplesPerPixel = 3;
    TMemoryStream out;
    Progress p;
    WritePXMStream(out, *colour, params, p.rec);
    const std::string t = Text(out);
    ASSERT_EQ(t.substr(0, 13), "P6 5 3 65535\n");
    const TRGB c = colour->GetPixelRGB(0, 0);
    EXPECT_EQ(uint8_t(t[13]), c.r);
    EXPECT_EQ(uint8_t(t[14]), c.r);
    EXPECT_EQ(uint8_t(t[15]), c.g);
    auto r = ReadBytes(qvtest::StreamBytes(out));
    EXPECT_EQ(Rgb(r->bitmap), Rgb(*colour));
  }
}

TEST(PnmFilter, WritesThatCannotBeMadeOrFinishedAbort) {
  auto colour = qvtest::Gradient(5, 3);
  TIOParamsVals params(nullptr);
  params.BitsPerSample = 16, params.SamplesPerPixel = 1;
  TIEBitmap grey(4, 4, ie8g);
  TMemoryStream out;
  Progress p;
  WritePXMStream(out, grey, params, p.rec);  // no 16-bit grey form
  EXPECT_TRUE(p.Aborted());
  EXPECT_EQ(out.Size(), 0);
  params.BitsPerSample = 8, params.SamplesPerPixel = 3;
  for (int64_t limit : {0, 5, 30}) {
    qvtest::TFullDiskStream full(limit);
    Progress q;
    WritePXMStream(full, *colour, params, q.rec);
    EXPECT_TRUE(q.Aborted()) << limit;
  }
}

}  // namespace
