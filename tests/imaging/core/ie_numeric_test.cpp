// The library's numeric, colour, geometry and list routines, the word table
// and the locale it follows.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_lists.h"
#include "imaging/core/ie_word_table.h"
#include "platform/rtl/exceptions.h"
#include "platform/win/locale.h"
#include "tests/support/test_support.h"

TEST(IENumeric, RoundingClampingAndPowers) {
  const struct {
    double v;
    int ceil, floor;
  } rounding[] = {{2.0, 2, 2}, {2.1, 3, 2}, {-2.5, -2, -3}, {2.5, 3, 2}, {-0.0, 0, 0}};
  for (const auto& r : rounding) {
    EXPECT_EQ(IECeil(r.v), r.ceil) << r.v;
    EXPECT_EQ(IEFloor(r.v), r.floor) << r.v;
  }
  EXPECT_EQ(ClampInt(5, 10, 0), 10);  // crossed bounds: the low one wins
  EXPECT_EQ(RealMax(-0.0, 0.0), -0.0);
  const struct {
    double base, exponent, want;
  } powers[] = {{0, 0, 1},   {0, 5, 0},     {3, 1, 3},        {3, 2, 9},     {2, 10, 1024},
                {2, -1, 0.5}, {2, -2, 0.25}, {2, -3, 0.125},  {1.5, 3, 3.375}, {4, 0.5, 2},
                {0, 3e9, 0},  {9, -0.5, 1.0 / 3}};
  for (const auto& p : powers) EXPECT_NEAR(IEPower(p.base, p.exponent), p.want, 1e-12) << p.base << "^" << p.exponent;
  EXPECT_EQ(ColorToARGB(0x00332211, 0x80), 0x80112233u);
  EXPECT_EQ(RGBPixelToColor(0x00112233), 0x00332211u);
  EXPECT_TRUE(SameRGB(0xFF112233, 0x00112233));
}

TEST(IENumeric, BitsAndRowLengths) {
  const struct {
    int64_t n;
    int log;
  } logs[] = {{0, -1}, {1, 0}, {3, 2}, {5, 3}, {6, 3}, {256, 8}};
  for (const auto& l : logs) EXPECT_EQ(CeilLog2(l.n), l.log) << l.n;
  for (auto [mask, width] : {std::pair{0x00F80000u, 5}, {0x0000001Fu, 5}, {0x80000000u, 1}, {0xFFFFFFFFu, 32}})
    EXPECT_EQ(MaskBitWidth(mask), width) << std::hex << mask;
  EXPECT_EQ(AlignedRowLength(3, 24, 32), 12);
  EXPECT_EQ(AlignedRowLength(3, 24, 8), 9);
  EXPECT_EQ(PixelFormatBitCount(pf15bit), 15);
  EXPECT_EQ(PixelFormatBitCount(pfDevice), 0);
  EXPECT_EQ(PixelFormatToIEFormat(pf4bit), ie8p);
  EXPECT_EQ(PixelFormatToIEFormat(pf32bit), ie24RGB);
  EXPECT_EQ(PixelFormatRowLength(3, pf24bit), 12);
  const uint8_t row[2] = {0x41, 0x80};
  EXPECT_EQ(GetRowBit(row, 1), 0x40);
  EXPECT_EQ(GetRowBit(row, 8), 0x80);
  EXPECT_EQ(GetRowBit(row, 2), 0);
}

TEST(IENumeric, HSLEdgeCases) {
  double h, s, l;
  RGBToHSL(0xFF0000, h, s, l);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(l, 0.5);
  RGBToHSL(0x0000FF, h, s, l);
  EXPECT_DOUBLE_EQ(h, 2.0 / 3.0);
  EXPECT_EQ(HSLToRGB(0, 0, 0.5), MakeRGB(128, 128, 128));  // 127.5 to even
  EXPECT_EQ(HSLToRGB(-0.25, 2, 0.5), HSLToRGB(0.75, 1, 0.5));
}

TEST(IENumericOracle, HSLMatchesColorsys) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import colorsys' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 is not available";
  std::ostringstream colours;
  std::vector<uint32_t> packed;
  for (int r = 0; r < 256; r += 15)
    for (int g = 0; g < 256; g += 17)
      for (int b = 0; b < 256; b += 51) {
        packed.push_back(uint32_t(r << 16 | g << 8 | b));
        colours << r << ' ' << g << ' ' << b << '\n';
      }
  qvtest::TempDir dir;
  const std::string text = colours.str();
  qvtest::WriteFileBytes(dir.File("in.txt"), std::vector<uint8_t>(text.begin(), text.end()));
  const std::string script =
      "import colorsys, sys\n"
      "for line in open(sys.argv[1]):\n"
      "    r, g, b = (int(v) / 255 for v in line.split())\n"
      "    h, l, s = colorsys.rgb_to_hls(r, g, b)\n"
      "    back = colorsys.hls_to_rgb(h, l, s)\n"
      "    print(repr(h), repr(s), repr(l), *(round(v * 255) for v in back))\n";
  qvtest::WriteFileBytes(dir.File("hsl.py"), std::vector<uint8_t>(script.begin(), script.end()));
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " + dir.File("hsl.py") + " " + dir.File("in.txt"), &out), 0);
  std::istringstream lines(out);
  for (uint32_t c : packed) {
    double wh, ws, wl;
    int r, g, b;
    ASSERT_TRUE(lines >> wh >> ws >> wl >> r >> g >> b);
    double h, s, l;
    RGBToHSL(c, h, s, l);
    EXPECT_NEAR(h, wh, 1e-12) << std::hex << c;
    EXPECT_NEAR(s, ws, 1e-12) << std::hex << c;
    EXPECT_NEAR(l, wl, 1e-12) << std::hex << c;
    EXPECT_EQ(HSLToRGB(h, s, l), MakeRGB(uint8_t(r), uint8_t(g), uint8_t(b))) << std::hex << c;
  }
}

TEST(IEGeometry, SnapsOverlapsAndVisibility) {
  const struct {
    int ex, ey, wx, wy;
  } snaps[] = {{150, 90, 150, 100}, {140, 120, 140, 140}, {60, 80, 80, 80},
               {100, 200, 100, 200}, {80, 110, 80, 120}, {110, 70, 130, 70}};
  for (const auto& c : snaps) {
    int x = c.ex, y = c.ey;
    SnapLineAngle(100, 100, x, y);
    EXPECT_EQ(x, c.wx) << c.ex << "," << c.ey;
    EXPECT_EQ(y, c.wy) << c.ex << "," << c.ey;
  }
  const RECT other{10, 10, 20, 20};
  EXPECT_TRUE(RectsOverlap(5, 5, 10, 10, other));   // touching corners overlap
  EXPECT_TRUE(RectsOverlap(25, 25, 15, 15, other)); // corners in any order
  EXPECT_FALSE(RectsOverlap(21, 0, 30, 30, other));
  EXPECT_EQ(RectVisibility(RECT{-5, -5, 50, 50}, RECT{0, 0, 10, 10}), 0);  // covers it, no edge inside
  EXPECT_EQ(RectVisibility(RECT{-5, 2, 5, 50}, RECT{0, 0, 10, 10}), 1);
  EXPECT_TRUE(PointInRectNormalized(3, 3, 5, 5, 1, 1));
}

TEST(IEGeometry, DistancesToLinesAndPolylines) {
  EXPECT_DOUBLE_EQ(PointDistance(0, 0, 3, 4), 5);
  EXPECT_DOUBLE_EQ(DistanceToLine(0, 10, -5, 0, 5, 0), 10);
  EXPECT_DOUBLE_EQ(DistanceToSegment(3, 4, 0, 0, 0, 0), 5);
  const POINT square[4] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  EXPECT_DOUBLE_EQ(DistanceToPolyline(5, 12, square, 4, false, 1, 1, 1, 0, 0, 0, 0), 2);
  EXPECT_DOUBLE_EQ(DistanceToPolyline(-3, 5, square, 4, false, 1, 1, 1, 0, 0, 0, 0), std::sqrt(9.0 + 25.0));
  EXPECT_DOUBLE_EQ(DistanceToPolyline(-3, 5, square, 4, true, 1, 1, 1, 0, 0, 0, 0), 3);
  // Scaled by 2 around (5, 5) and moved by 100: the top edge lies on y = 90.
  EXPECT_DOUBLE_EQ(DistanceToPolyline(110, 87, square, 4, true, 1, 2, 2, 5, 5, 100, 100), 3);
  // A pen 5 wide reaches 2 pixels to either side, above the line as below it.
  EXPECT_DOUBLE_EQ(DistanceToPolyline(5, -3, square, 4, true, 5, 1, 1, 0, 0, 0, 0), 1);
  EXPECT_DOUBLE_EQ(DistanceToPolyline(5, 3, square, 2, false, 5, 1, 1, 0, 0, 0, 0), 1);
  EXPECT_EQ(DistanceToPolyline(5, 3, square, 0, false, 1, 1, 1, 0, 0, 0, 0), 1000000.0);
}

TEST(THash1, BucketsAndChains) {
  THash1 h(13);
  int bucket = -1;
  THash1Item* item = nullptr;
  EXPECT_TRUE(h.Insert(5, bucket, item));
  EXPECT_EQ(bucket, 5);
  EXPECT_EQ(item, nullptr);
  // 5 + 2^13 shares the bucket and goes into its chain.
  EXPECT_TRUE(h.Insert(5 + 8192, bucket, item));
  EXPECT_EQ(bucket, 5);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Value, 5u + 8192);
  EXPECT_TRUE(h.Add(5 + 2 * 8192));
  EXPECT_FALSE(h.Add(5 + 8192));
  EXPECT_FALSE(h.Add(5));
  EXPECT_EQ(h.Count(), 3);
}

TEST(TIEByteArray, GrowsShrinksAndReadsShort) {
  TIEByteArray a(4);
  for (int i = 0; i < 6; ++i) a.AppendByte(uint8_t(i));
  EXPECT_EQ(a.Length(), 6);
  EXPECT_EQ(a.Capacity(), 9);  // the fifth byte: 5 + 4
  a.SetLength(2);  // far below the block: it shrinks, keeping the first bytes
  EXPECT_EQ(a.Capacity(), 6);
  EXPECT_EQ(a.Data()[1], 1);
  TMemoryStream m;
  const uint8_t three[3] = {7, 8, 9};
  m.WriteBuffer(three, 3);
  m.SetPosition(0);
  EXPECT_EQ(a.AppendFromStream(m, 10), 3);
  EXPECT_EQ(a.Length(), 5);
  EXPECT_EQ(a.Data()[4], 9);
}

TEST(TIEList, CapacityDeleteAndAssign) {
  TIEIntegerList list;
  EXPECT_EQ(list.ItemSize(), 4);
  for (int32_t v : {10, 20, 30, 40}) list.Add(v);
  EXPECT_EQ(list.Capacity(), 4);
  list.Add(50);
  EXPECT_EQ(list.Capacity(), 8);
  list.Delete(1);
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Capacity(), 4);
  EXPECT_EQ(list.Item(1), 30);
  list.Delete(9);  // ignored
  EXPECT_EQ(list.Count(), 4);
  TIEIntegerList copy;
  list.SetCount(2);
  list.Integers[3] = 7;
  copy.Assign(&list);
  EXPECT_EQ(copy.Capacity(), 2);
  EXPECT_EQ(copy.Integers[3], 7);
  copy.Add(99);
  EXPECT_EQ(copy.Capacity(), 4);
  EXPECT_EQ(copy.Item(2), 99);
  TIEDoubleList doubles;
  EXPECT_THROW(doubles.Assign(&list), EInvalidCast);
  copy.Clear();
  EXPECT_EQ(copy.ChangeFlags(), 0u);
  EXPECT_EQ(copy.ItemSize(), 4);
  TIERecordList records(12);
  const char record[12] = "eleven char";
  records.AddItem(record);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(records.ItemPtr(0))), "eleven char");
  // A count whose bytes would not fit is refused, not wrapped.
  EXPECT_THROW(records.SetCount(INT64_MAX / 4), EOutOfMemory);
}

TEST(TNulStream, MeasuresWithoutStoring) {
  TNulStream s;
  char buffer[10] = {};
  s.Write(buffer, 10);
  s.Write(buffer, 5);
  EXPECT_EQ(s.Position(), 15);
  EXPECT_EQ(s.Size(), 15);
  EXPECT_EQ(s.Seek(0, soBeginning), 0);
  EXPECT_EQ(s.Size(), 15);
  EXPECT_EQ(s.Seek(0, soEnd), 15);
  EXPECT_EQ(s.Seek(5, soCurrent), 20);
  EXPECT_EQ(s.Size(), 20);
  TMemoryStream m;
  WriteStringToStream(m, "");
  EXPECT_EQ(m.Size(), 4);
}

TEST(WordTable, LanguagesFallBackToEnglishButTheSystemRowDoesNot) {
  SetLanguageWord(msEnglish, 7, "Width");
  SetLanguageWord(msGerman, 7, "");
  SetLanguageWord(msGerman, 8, "H\xC3\xB6he");
  SetLanguageWord(msChineseTraditional, 7, "T");
  SetLanguageWord(msChinese, 7, "S");
  EXPECT_EQ(GetLanguageWord(7, msGerman), L"Width");
  EXPECT_EQ(GetLanguageWord(8, msGerman), L"H\u00F6he");
  SetThreadLocale(0x0407);  // German
  EXPECT_EQ(GetLanguageWord(7, msSystem), L"");
  EXPECT_EQ(GetLanguageWord(8, msSystem), L"H\u00F6he");
  const struct {
    LCID lcid;
    const wchar_t* word;
  } chinese[] = {{0x0404, L"T"}, {0x0C04, L"T"}, {0x1404, L"T"}, {0x0804, L"S"}, {0x1004, L"S"}, {0x7C04, L"S"}};
  for (const auto& c : chinese) {
    SetThreadLocale(c.lcid);
    EXPECT_EQ(GetLanguageWord(7, msSystem), c.word) << std::hex << c.lcid;
  }
  SetThreadLocale(0x0436);  // Afrikaans: no row of its own
  EXPECT_EQ(GetLanguageWord(7, msSystem), L"Width");
  SetThreadLocale(0);
  EXPECT_EQ(GetLanguageWord(kIEWordCount, msEnglish), L"");
  ClearWordTables();
  EXPECT_EQ(GetLanguageWord(7, msEnglish), L"");
}

TEST(Locale, NamesMapToWindowsIds) {
  EXPECT_EQ(LocaleNameToLCID("de_DE.UTF-8"), 0x0407u);
  EXPECT_EQ(LocaleNameToLCID("zh_TW"), 0x0404u);
  EXPECT_EQ(LocaleNameToLCID("zh_CN.GB2312"), 0x0804u);
  EXPECT_EQ(LocaleNameToLCID("zh_HK"), 0x0C04u);
  EXPECT_EQ(LocaleNameToLCID("C"), 0x0409u);
  EXPECT_EQ(LocaleNameToLCID("fa_IR"), 0x0429u);
  EXPECT_EQ(LocaleNameToLCID("sr_RS@latin"), 0x041Au);
}
