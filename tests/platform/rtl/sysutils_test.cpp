#include <gtest/gtest.h>

#include <cmath>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/sysutils.h"
#include "test_support.h"

TEST(Format, DirectivesAsTheFrameworkPrintsThem) {
  struct Case {
    std::string got, want;
  } cases[] = {
      {Format("%d of %d", 3, 12), "3 of 12"},
      {Format("%s %0.3d", "styles", 1), "styles 001"},
      {Format("Icon %000d", 3), "Icon 3"},
      {Format("%s%.2x", "#", 10), "#0A"},
      {Format("%s%.6x", "", 0xABCDEF), "ABCDEF"},
      {Format("%x", -1), "FFFFFFFF"},
      {Format("%u", -1), "4294967295"},
      {Format("%.3d", -7), "-007"},
      {Format("[%5d]", 42), "[   42]"},
      {Format("[%-5d]", 42), "[42   ]"},
      {Format("[%*d]", 4, 7), "[   7]"},
      {Format("%.2s", "abcdef"), "ab"},
      {Format("%1:s %0:s", "a", "b"), "b a"},
      {Format("100%%"), "100%"},
      {Format("Rotate %f", 12.5), "Rotate 12.50"},
      {Format("%.1f", 0.25), "0.3"},      // halves away from zero, not to even
      {Format("%.2f", -0.004), "0.00"},
      {Format("%.0f", 2.5), "3"},
      {Format("%g", 0.1), "0.1"},
      {Format("%g", 1e20), "1E20"},
      {Format("%e", 1234.5), "1.23450000000000E+003"},
      {Format("%n", 1234567.891), "1,234,567.89"},
      {Format("%s", 'c'), "c"},
      {Format("%d", uint32_t{4000000000u}), "4000000000"},
      {Format("Fill (%d, %d, %d)", {1, 2, 3}), "Fill (1, 2, 3)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Format, MismatchedOrMissingArgumentsRaise) {
  EXPECT_THROW(Format("%d", "text"), EConvertError);
  EXPECT_THROW(Format("%s", 5), EConvertError);
  EXPECT_THROW(Format("%d %d", 5), EConvertError);
  EXPECT_THROW(Format("%d", 1.5), EConvertError);
  EXPECT_THROW(Format("%q", 1), EConvertError);
  EXPECT_THROW(Format("trailing %"), EConvertError);
}

TEST(Integers, TextConversions) {
  EXPECT_EQ(IntToStr(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(IntToStr(uint64_t{18446744073709551615u}), "18446744073709551615");
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(IntToHex(int32_t{-1}, 2), "FFFFFFFF");
  EXPECT_EQ(IntToHex(int16_t{-1}, 2), "FFFF");
  EXPECT_EQ(IntToHex(uint8_t{0xAB}, 1), "AB");

  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {{"12", true, 12},         {"  -12", true, -12},      {"+7", true, 7},
               {"$FF", true, 255},       {"0x10", true, 16},        {"$FFFFFFFF", true, -1},
               {"2147483647", true, 2147483647}, {"2147483648", false, 0}, {"-2147483649", false, 0},
               {"12 ", false, 0},        {"", false, 0},            {"1a", false, 0},
               {"-", false, 0},          {"$", false, 0},           {"1.0", false, 0}};
  for (const auto& c : cases) {
    int32_t v = 0;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
    EXPECT_EQ(StrToIntDef(c.text, -99), c.ok ? c.value : -99) << c.text;
  }
  try {
    StrToInt("abc");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
  }
  EXPECT_EQ(StrToInt64("9000000000"), 9000000000LL);
}

TEST(Floats, PrintingAndParsing) {
  struct Case {
    std::string got, want;
  } cases[] = {
      {FloatToStr(0.1), "0.1"},
      {FloatToStr(1.0 / 3), "0.333333333333333"},
      {FloatToStr(100), "100"},
      {FloatToStr(-2.5), "-2.5"},
      {FloatToStr(0.0001), "0.0001"},
      {FloatToStr(0.00001), "1E-5"},
      {FloatToStr(1e14), "100000000000000"},
      {FloatToStr(1e15), "1E15"},  // more integer digits than the 15 of precision
      {FloatToStr(0), "0"},
      {FloatToStrF(2.345, ffFixed, 15, 2), "2.35"},  // 2.345 prints as ...500000000000002
      {FloatToStrF(1.23456, ffFixed, 3, 4), "1.2300"},
      {FloatToStrF(9.999, ffFixed, 15, 2), "10.00"},
      {FloatToStrF(1234.5, ffNumber, 15, 1), "1,234.5"},
      {FloatToStrF(0.5, ffExponent, 3, 2), "5.00E-01"},
      {FloatToStrF(NAN, ffGeneral, 15, 0), "NAN"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);

  EXPECT_DOUBLE_EQ(StrToFloat(" 1.5e3 "), 1500.0);
  EXPECT_DOUBLE_EQ(StrToFloat("-.25"), -0.25);
  EXPECT_THROW(StrToFloat("1,5"), EConvertError);
  EXPECT_THROW(StrToFloat("inf"), EConvertError);
  EXPECT_THROW(StrToFloat(""), EConvertError);
  EXPECT_DOUBLE_EQ(StrToFloatDef("x", 2.0), 2.0);
}

TEST(Text, CaseTrimAndReplace) {
  EXPECT_EQ(UpperCase("abc\xC3\xA9z"), "ABC\xC3\xA9Z");  // UTF-8 bytes untouched
  EXPECT_EQ(LowerCase("ABC"), "abc");
  EXPECT_TRUE(SameText("Hello", "hELLO"));
  EXPECT_FALSE(SameText("Hello", "Hell"));
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_GT(CompareText("abcd", "ABC"), 0);
  EXPECT_LT(CompareStr("ABC", "abc"), 0);
  EXPECT_EQ(Trim("\t  a b \r\n"), "a b");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a "), "  a");
  EXPECT_EQ(StringReplace("aXbxc", "x", "-", {rfReplaceAll, rfIgnoreCase}), "a-b-c");
  EXPECT_EQ(StringReplace("aXbxc", "x", "-", {rfReplaceAll}), "aXb-c");
  EXPECT_EQ(StringReplace("xxx", "x", "yx", {}), "yxxx");
  EXPECT_EQ(QuotedStr("it's"), "'it''s'");
  size_t pos = 0;
  EXPECT_EQ(AnsiExtractQuotedStr("\"a\"\"b\"rest", pos, '"'), "a\"b");
  EXPECT_EQ(pos, 6u);
}

TEST(Paths, SplittingAcceptsBothSeparators) {
  struct Case {
    const char* name;
    const char* path;
    const char* dir;
    const char* file;
    const char* ext;
    const char* drive;
  } cases[] = {
      {"C:\\Windows\\System32\\shell32.dll", "C:\\Windows\\System32\\", "C:\\Windows\\System32", "shell32.dll", ".dll", "C:"},
      {"data\\styles.icl", "data\\", "data", "styles.icl", ".icl", ""},
      {"/tmp/a.b/c", "/tmp/a.b/", "/tmp/a.b", "c", "", ""},
      {"C:\\b.txt", "C:\\", "C:\\", "b.txt", ".txt", "C:"},
      {"/b.txt", "/", "/", "b.txt", ".txt", ""},
      {"C:b.txt", "C:", "C:", "b.txt", ".txt", "C:"},
      {"name.", "", "", "name.", ".", ""},
      {"\\\\server\\share\\x.ico", "\\\\server\\share\\", "\\\\server\\share", "x.ico", ".ico", "\\\\server\\share"},
      {"mixed/dir\\f.tar.gz", "mixed/dir\\", "mixed/dir", "f.tar.gz", ".gz", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractFilePath(c.name), c.path) << c.name;
    EXPECT_EQ(ExtractFileDir(c.name), c.dir) << c.name;
    EXPECT_EQ(ExtractFileName(c.name), c.file) << c.name;
    EXPECT_EQ(ExtractFileExt(c.name), c.ext) << c.name;
    EXPECT_EQ(ExtractFileDrive(c.name), c.drive) << c.name;
  }
  EXPECT_EQ(ChangeFileExt("a\\b.c\\pic.png", ".ico"), "a\\b.c\\pic.ico");
  EXPECT_EQ(ChangeFileExt("a.d\\pic", ".ico"), "a.d\\pic.ico");
  EXPECT_EQ(ChangeFileExt("pic.png", ""), "pic");
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\Icons"), "C:\\Icons\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp/icons"), "/tmp/icons/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("data/"), "data/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "\\");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("C:\\Icons\\"), "C:\\Icons");
  EXPECT_EQ(ExpandFileName("C:\\a\\.\\b\\..\\c.ico"), "C:\\a\\c.ico");
  EXPECT_EQ(ExpandFileName("/tmp/x/../y"), "/tmp/y");
  EXPECT_EQ(ExpandFileName("C:\\.."), "C:\\");
  EXPECT_EQ(ExpandFileName("rel\\f"), GetCurrentDir() + "/rel/f");
}

// Points the Windows model at a temporary folder for the length of a test.
class ModelRoot {
public:
  explicit ModelRoot(const std::string& root) : FOld(WindowsModelRoot()) { SetWindowsModelRoot(root); }
  ~ModelRoot() { SetWindowsModelRoot(FOld); }

private:
  std::string FOld;
};

TEST(Files, DriveLettersLandInTheWindowsModel) {
  qvtest::TempDir dir;
  ModelRoot root(dir.File("win"));
  EXPECT_EQ(NativePath("C:\\Windows\\win.ini"), dir.File("win") + "/Windows/win.ini");
  EXPECT_EQ(NativePath("d:/x"), dir.File("win") + "/drives/D/x");
  EXPECT_EQ(NativePath("/usr/share"), "/usr/share");
  EXPECT_EQ(NativePath("data\\styles.icl"), "data/styles.icl");

  ASSERT_TRUE(ForceDirectories("C:\\Program Files\\Quorvane\\data"));
  EXPECT_TRUE(DirectoryExists(dir.File("win") + "/Program Files/Quorvane/data"));
  qvtest::WriteFileBytes(dir.File("win") + "/Program Files/Quorvane/data/a.ico", {1, 2, 3});
  EXPECT_TRUE(FileExists("C:\\Program Files\\Quorvane\\data\\a.ico"));
  EXPECT_FALSE(FileExists("C:\\Program Files\\Quorvane\\data"));  // a folder is not a file
  EXPECT_EQ(FileGetSize("c:/Program Files/Quorvane/data/a.ico"), 3);
  EXPECT_EQ(FileGetSize("C:\\nothing"), -1);
}

TEST(Files, RenameRefusesToReplaceAndDeleteReportsMissing) {
  qvtest::TempDir dir;
  std::string a = dir.File("a.txt"), b = dir.File("b.txt");
  qvtest::WriteFileBytes(a, {'a'});
  qvtest::WriteFileBytes(b, {'b'});
  EXPECT_FALSE(RenameFile(a, b));
  EXPECT_EQ(qvtest::ReadFileBytes(b), std::vector<uint8_t>{'b'});
  EXPECT_TRUE(DeleteFile(b));
  EXPECT_FALSE(DeleteFile(b));
  EXPECT_TRUE(RenameFile(a, b));
  EXPECT_FALSE(FileExists(a));
  EXPECT_TRUE(FileExists(b));
  EXPECT_FALSE(ForceDirectories(""));
  EXPECT_FALSE(ForceDirectories(b + "/sub"));  // a file is in the way
  EXPECT_TRUE(CreateDir(dir.File("d")));
  EXPECT_FALSE(CreateDir(dir.File("d")));
  EXPECT_TRUE(RemoveDir(dir.File("d")));
}

TEST(Dates, EncodeDecodeAndFormat) {
  // Day numbers as the framework counts them from 1899-12-30.
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593);
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_NO_THROW(EncodeDate(2024, 2, 29));
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);

  uint16_t y, m, d, h, n, s, ms;
  TDateTime dt = EncodeDate(2024, 2, 29) + EncodeTime(13, 5, 9, 7);
  DecodeDate(dt, y, m, d);
  DecodeTime(dt, h, n, s, ms);
  EXPECT_EQ(std::vector<int>({y, m, d, h, n, s, ms}), std::vector<int>({2024, 2, 29, 13, 5, 9, 7}));
  // A negative date keeps its time as a positive fraction: -1.25 is 1899-12-29 06:00.
  DecodeDate(-1.25, y, m, d);
  DecodeTime(-1.25, h, n, s, ms);
  EXPECT_EQ(std::vector<int>({y, m, d, h}), std::vector<int>({1899, 12, 29, 6}));

  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", dt), "2024-02-29 13:05:09.007");
  EXPECT_EQ(FormatDateTime("d/m/yy h:mm", dt), "29/2/24 13:05");
  EXPECT_EQ(FormatDateTime("dddd d mmmm yyyy", dt), "Thursday 29 February 2024");
  EXPECT_EQ(FormatDateTime("ddd mmm", dt), "Thu Feb");
  EXPECT_EQ(FormatDateTime("h:nn am/pm", dt), "1:05 pm");
  EXPECT_EQ(FormatDateTime("\"at\" hh 'h'", dt), "at 13 h");
  EXPECT_EQ(DateTimeToStr(dt), "2024-02-29 13:05:09");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 2, 29)), "2024-02-29");
  EXPECT_EQ(DayOfWeek(EncodeDate(2024, 2, 29)), 5);

  // The DOS date of file systems: 2024-02-29 13:05:08.
  int32_t fd = DateTimeToFileDate(dt);
  EXPECT_EQ(static_cast<uint32_t>(fd), (((2024u - 1980) << 9 | 2 << 5 | 29) << 16) | (13u << 11 | 5 << 5 | 4));
  EXPECT_DOUBLE_EQ(FileDateToDateTime(fd), EncodeDate(2024, 2, 29) + EncodeTime(13, 5, 8, 0));
}

TEST(Dates, NowAndFileAgeAgreeWithTheClock) {
  qvtest::TempDir dir;
  std::string f = dir.File("x");
  qvtest::WriteFileBytes(f, {1});
  TDateTime age = 0;
  ASSERT_TRUE(FileAge(f, age));
  EXPECT_LT(std::fabs(age - Now()), 1.0 / 24);  // written within the hour
  EXPECT_NE(FileAge(f), -1);
  EXPECT_EQ(FileAge(dir.File("none")), -1);
  EXPECT_EQ(Date(), std::trunc(Date()));
}

TEST(Files, FindFirstListsMatchesWithWindowsRules) {
  qvtest::TempDir dir;
  ModelRoot root(dir.File("win"));
  ASSERT_TRUE(ForceDirectories("C:\\Icons\\sub"));
  std::string base = dir.File("win") + "/Icons/";
  qvtest::WriteFileBytes(base + "b.ICO", {1, 2, 3});
  qvtest::WriteFileBytes(base + "a.ico", {1});
  qvtest::WriteFileBytes(base + "readme", {1, 2});
  qvtest::WriteFileBytes(base + ".hidden.ico", {1});

  auto names = [](const std::string& path, int attr) {
    std::vector<std::string> found;
    TSearchRec rec;
    if (FindFirst(path, attr, rec) == 0) {
      do found.push_back(rec.Name);
      while (FindNext(rec) == 0);
    }
    FindClose(rec);
    return found;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(names("C:\\Icons\\*.ico", 0), (V{"a.ico", "b.ICO"}));
  EXPECT_EQ(names("C:\\Icons\\*.*", 0), (V{"a.ico", "b.ICO", "readme"}));
  EXPECT_EQ(names("C:\\Icons\\?.ico", faAnyFile), (V{"a.ico", "b.ICO"}));
  EXPECT_EQ(names("C:\\Icons\\*", faAnyFile), (V{".", "..", ".hidden.ico", "a.ico", "b.ICO", "readme", "sub"}));
  // Asking for folders adds them; files come all the same.
  EXPECT_EQ(names("C:\\Icons\\*", faDirectory), (V{".", "..", "a.ico", "b.ICO", "readme", "sub"}));
  EXPECT_EQ(names("C:\\Icons\\README", faAnyFile), (V{"readme"}));

  TSearchRec rec;
  ASSERT_EQ(FindFirst("C:\\Icons\\b.ico", faAnyFile, rec), 0);
  EXPECT_EQ(rec.Size, 3);
  EXPECT_EQ(rec.Attr & faDirectory, 0);
  EXPECT_NE(rec.Time, 0);
  EXPECT_EQ(FindNext(rec), kErrorNoMoreFiles);
  ASSERT_EQ(FindFirst("C:\\Icons\\sub", faAnyFile, rec), 0);
  EXPECT_EQ(rec.Size, 0);  // a folder's entry has no size
  EXPECT_NE(rec.Attr & faDirectory, 0);
  EXPECT_EQ(FindFirst("C:\\Icons\\*.png", faAnyFile, rec), kErrorFileNotFound);
  EXPECT_EQ(FindFirst("C:\\Nowhere\\*.*", faAnyFile, rec), kErrorPathNotFound);
  EXPECT_EQ(FindNext(rec), kErrorNoMoreFiles);
}
