// The raw pixel reader: channel order, text samples, row alignment, planes,
// header bytes, progress, and data that ends early.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "imaging/formats/raw_pixel_filter.h"
#include "tests/imaging/formats/format_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qvtest::Progress;

struct RawLayout {
  int planar = 0, order = 0, align = 8, header = 0, format = 0;
};

// Reads bytes into a fresh bitmap of the size and format given; the bitmap
// starts filled with 0xEE so that untouched bytes show.
std::unique_ptr<TIEBitmap> ReadRaw(const Bytes& data, int w, int h, TIEBitmapFormat f, const RawLayout& s,
                                   Progress& progress, std::vector<int>* reports = nullptr) {
  auto b = std::make_unique<TIEBitmap>(w, h, f);
  for (int y = 0; y < h; ++y) std::memset(b->ScanLine(y), 0xEE, size_t(b->RowLen()));
  TIOParamsVals params(nullptr);
  params.RawPixelPlanar = uint8_t(s.planar), params.RawPixelChannelOrder = uint8_t(s.order);
  params.RawPixelRowAlign = s.align, params.RawPixelHeaderSize = s.header;
  params.RawPixelDataFormat = uint8_t(s.format);
  if (reports) progress.rec.ProgressEvent = [reports](TObject*, int per) { reports->push_back(per); };
  TCustomMemoryStream stream(data.data(), int64_t(data.size()));
  ReadRawPixelStream(stream, *b, params, progress.rec);
  return b;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Row(TIEBitmap& b, int y, int n) { return Bytes(b.ScanLine(y), b.ScanLine(y) + n); }

TEST(RawPixelFilter, RedFirstDataIsStoredBlueFirst) {
  const Bytes data = {10, 20, 30, 11, 21, 31, 12, 22, 32, 13, 23, 33};
  Progress p;
  auto b = ReadRaw(data, 2, 2, ie24RGB, {}, p);
  ASSERT_FALSE(p.Aborted());
  EXPECT_EQ(Row(*b, 0, 6), (Bytes{30, 20, 10, 31, 21, 11}));
  EXPECT_EQ(Row(*b, 1, 6), (Bytes{32, 22, 12, 33, 23, 13}));
  RawLayout bgr;
  bgr.order = 1;
  Progress p2;
  auto b2 = ReadRaw(data, 2, 2, ie24RGB, bgr, p2);
  EXPECT_EQ(Row(*b2, 0, 6), (Bytes{10, 20, 30, 11, 21, 31}));
}

TEST(RawPixelFilter, Rgb48WordsAreRedFirstAlreadyAndTurnOnlyForBlueFirstData) {
  Bytes data;
  for (uint16_t v : {0x1111, 0x2222, 0x3333}) qvtest::Le16(data, v);
  for (int order : {0, 1}) {
    RawLayout s;
    s.order = order;
    Progress p;
    auto b = ReadRaw(data, 1, 1, ieRGB48, s, p);
    ASSERT_FALSE(p.Aborted());
    const TRGB48 px = b->GetPixelRGB48(0, 0);
    EXPECT_EQ(px.r, order == 0 ? 0x1111 : 0x3333) << order;
    EXPECT_EQ(px.b, order == 0 ? 0x3333 : 0x1111) << order;
  }
}

TEST(RawPixelFilter, TextSamplesInDecimalAndHexadecimal) {
  struct Case {
    const char* name;
    std::string text;
    int format;
    TIEBitmapFormat pixel;
    int w;
    Bytes want;
  } cases[] = {
      {"decimal separators", "10,20;30 40", 1, ie8g, 4, {10, 20, 30, 40}},
      {"hex, lower case separates", "FF ff 1A", 2, ie8g, 2, {255, 26}},
      {"decimal above a byte clamps", "300 7", 1, ie8g, 2, {255, 7}},
      {"decimal words", "513\n2", 1, ie16g, 2, {1, 2, 2, 0}},
      {"bits, one a pixel", "1 0 1 1 0 0 0 1", 1, ie1g, 8, {0xB1}},
  };
  for (const Case& c : cases) {
    RawLayout s;
    s.format = c.format;
    Progress p;
    auto b = ReadRaw(Text(c.text), c.w, 1, c.pixel, s, p);
    ASSERT_FALSE(p.Aborted()) << c.name;
    EXPECT_EQ(Row(*b, 0, int(c.want.size())), c.want) << c.name;
  }
  // Floats take either separator; hexadecimal floats are not read.
  RawLayout dec;
  dec.format = 1;
  Progress p;
  auto f = ReadRaw(Text("0.5 0,25"), 2, 1, ie32f, dec, p);
  ASSERT_FALSE(p.Aborted());
  EXPECT_FLOAT_EQ(f->GetPixelFloat(0, 0), 0.5f);
  EXPECT_FLOAT_EQ(f->GetPixelFloat(1, 0), 0.25f);
  RawLayout hex;
  hex.format = 2;
  Progress p2;
  ReadRaw(Text("FF"), 1, 1, ie32f, hex, p2);
  EXPECT_TRUE(p2.Aborted());
  EXPECT_STREQ(p2.rec.Refusal, "floats in hexadecimal");
}

TEST(RawPixelFilter, RowAlignmentHeaderBytesAndSixteenBitGrey) {
  // 32-bit rows of a 3-pixel grey picture: the fourth byte is padding.
  RawLayout aligned;
  aligned.align = 32;
  Progress p;
  auto b = ReadRaw({1, 2, 3, 99, 4, 5, 6, 99}, 3, 2, ie8g, aligned, p);
  ASSERT_FALSE(p.Aborted());
  EXPECT_EQ(Row(*b, 0, 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(Row(*b, 1, 3), (Bytes{4, 5, 6}));
  // A 64-bit alignment is longer than the bitmap's rows: the rest is skipped.
  RawLayout wide;
  wide.align = 64;
  Progress p2;
  Bytes data(16, 99);
  data[0] = 1, data[8] = 4;
  auto b2 = ReadRaw(data, 3, 2, ie8g, wide, p2);
  ASSERT_FALSE(p2.Aborted());
  EXPECT_EQ(b2->GetPixel8(0, 1), 4);
  RawLayout headed;
  headed.header = 128;
  Bytes file(128, 0xAB);
  for (uint8_t v : {0x34, 0x12, 0x78, 0x56}) file.push_back(v);
  Progress p3;
  auto g = ReadRaw(file, 2, 1, ie16g, headed, p3);
  ASSERT_FALSE(p3.Aborted());
  EXPECT_EQ(g->GetPixel16(0, 0), 0x1234);
  EXPECT_EQ(g->GetPixel16(1, 0), 0x5678);
}

TEST(RawPixelFilter, PlanesFillTheirChannelsAndReportProgress) {
  // Planes red, green, blue of a 2 x 1 picture.
  std::vector<int> reports;
  RawLayout planar;
  planar.planar = 1;
  Progress p;
  auto b = ReadRaw({1, 2, 3, 4, 5, 6}, 2, 1, ie24RGB, planar, p, &reports);
  ASSERT_FALSE(p.Aborted());
  EXPECT_EQ(Row(*b, 0, 6), (Bytes{5, 3, 1, 6, 4, 2}));
  EXPECT_EQ(reports, (std::vector<int>{0, 33, 66, 100}));
  reports.clear();
  Progress p2;
  auto c = ReadRaw({1, 2, 3, 4, 5, 6, 7, 8}, 2, 1, ieCMYK, planar, p2, &reports);
  EXPECT_EQ(Row(*c, 0, 8), (Bytes{1, 3, 5, 7, 2, 4, 6, 8}));
  EXPECT_EQ(reports, (std::vector<int>{0, 25, 50, 75, 100}));
  Progress p3;
  Bytes words;
  for (uint16_t v : {1, 2, 3, 4, 5, 6}) qvtest::Le16(words, v);
  auto w = ReadRaw(words, 2, 1, ieRGB48, planar, p3);
  EXPECT_EQ(w->GetPixelRGB48(1, 0), (TRGB48{2, 4, 6}));
}

TEST(RawPixelFilter, ShortDataAbortsKeepingTheRowsRead) {
  struct Case {
    const char* name;
    Bytes data;
    TIEBitmapFormat f;
    RawLayout s;
    const char* reason;  // the rule that fired, as the progress record names it
  } cases[] = {
      {"binary", {1, 2, 3, 4, 5, 6, 7}, ie8g, {}, "the rows are cut short"},
      {"decimal", Text("1 2 3 4 5 6 7"), ie8g, {0, 0, 8, 0, 1}, "the rows are cut short"},
      {"header past the data", {1, 2, 3}, ie8g, {0, 0, 8, 100, 0}, "the header lies past the end"},
  };
  for (const Case& c : cases) {
    Progress p;
    auto b = ReadRaw(c.data, 3, 4, c.f, c.s, p);
    EXPECT_TRUE(p.Aborted()) << c.name;
    EXPECT_STREQ(p.rec.Refusal, c.reason) << c.name;
    if (std::string(c.name) != "header past the data") {
      EXPECT_EQ(Row(*b, 1, 3), (Bytes{4, 5, 6})) << c.name;
    }
    EXPECT_EQ(Row(*b, 2, 3), (Bytes{0, 0, 0})) << c.name;
    EXPECT_EQ(Row(*b, 3, 3), (Bytes{0, 0, 0})) << c.name;
  }
  // Formats without a raw layout read nothing and say so.
  Progress p;
  ReadRaw(Bytes(100, 1), 2, 2, ieCIELab, {}, p);
  EXPECT_TRUE(p.Aborted());
  EXPECT_STREQ(p.rec.Refusal, "a pixel format without a raw layout");
  TIEBitmap empty;
  TIOParamsVals params(nullptr);
  Progress p2;
  TCustomMemoryStream s(nullptr, 0);
  ReadRawPixelStream(s, empty, params, p2.rec);
  EXPECT_TRUE(p2.Aborted());
  EXPECT_STREQ(p2.rec.Refusal, "no picture size given");
}

}  // namespace
