#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/inifiles.h"
#include "platform/rtl/strings.h"
#include "string_lines.h"
#include "test_support.h"

namespace {
std::string FileText(const std::string& name) {
  auto b = qvtest::ReadFileBytes(name);
  return std::string(b.begin(), b.end());
}
}  // namespace

TEST(IniFile, RoundTripWithSectionsAndOddKeys) {
  qvtest::TempDir dir;
  std::string name = dir.File("settings.ini");
  {
    TIniFile ini(name);
    ini.WriteString("Main", "Last Folder", "C:\\Icons\\My Pictures");
    ini.WriteString("Main", "equation", "a=b=c");
    ini.WriteString("Main", "padded", "  two spaces  ");
    ini.WriteString("Main", "quoted", "\"q\"");
    ini.WriteString("Main", "empty", "");
    ini.WriteString("Main", "caf\xC3\xA9", "\xE2\x82\xAC");
    ini.WriteInteger("Sizes", "Icon16", 16);
    ini.WriteBool("Sizes", "Show", true);
    ini.WriteFloat("Sizes", "Zoom", 1.25);
    ini.WriteString("main", "LAST FOLDER", "D:\\Other");  // same key, other case
  }
  TIniFile ini(name);
  EXPECT_EQ(ini.ReadString("MAIN", "last folder", "?"), "D:\\Other");
  EXPECT_EQ(ini.ReadString("Main", "equation", "?"), "a=b=c");
  EXPECT_EQ(ini.ReadString("Main", "padded", "?"), "  two spaces  ");
  EXPECT_EQ(ini.ReadString("Main", "quoted", "?"), "\"q\"");
  EXPECT_EQ(ini.ReadString("Main", "empty", "?"), "");
  EXPECT_EQ(ini.ReadString("Main", "CAF\xC3\xA9", "?"), "\xE2\x82\xAC");
  EXPECT_EQ(ini.ReadString("Main", "missing", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("Nowhere", "x", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("Sizes", "Icon16", 0), 16);
  EXPECT_TRUE(ini.ReadBool("Sizes", "Show", false));
  EXPECT_DOUBLE_EQ(ini.ReadFloat("Sizes", "Zoom", 0), 1.25);
  EXPECT_EQ(ini.ReadInteger("Main", "equation", -5), -5);  // not a number: the default
  EXPECT_TRUE(ini.ValueExists("main", "EMPTY"));
  EXPECT_FALSE(ini.ValueExists("main", "missing"));

  TStringList list;
  ini.ReadSections(&list);
  EXPECT_EQ(Lines(list), (V{"Main", "Sizes"}));
  ini.ReadSection("Sizes", &list);
  EXPECT_EQ(Lines(list), (V{"Icon16", "Show", "Zoom"}));
  ini.ReadSectionValues("Sizes", &list);
  EXPECT_EQ(Lines(list), (V{"Icon16=16", "Show=1", "Zoom=1.25"}));

  ini.DeleteKey("Sizes", "show");
  EXPECT_FALSE(ini.ValueExists("Sizes", "Show"));
  ini.EraseSection("MAIN");
  EXPECT_FALSE(ini.SectionExists("Main"));
  EXPECT_TRUE(ini.SectionExists("sizes"));
  EXPECT_EQ(FileText(name), "[Sizes]\r\nIcon16=16\r\nZoom=1.25\r\n");
}

TEST(IniFile, ReadsWindowsStyleFilesAndKeepsTheirComments) {
  qvtest::TempDir dir;
  std::string name = dir.File("win.ini");
  qvtest::WriteFileBytes(name, [] {
    std::string t = "; top comment\n[Display]\n  Width = 640 \n'Q'='single'\nHex=0x1F\nDollar=$10\n\n"
                    "[Empty]\n[Display]\nWidth=999\n";
    return std::vector<uint8_t>(t.begin(), t.end());
  }());
  TIniFile ini(name);
  EXPECT_EQ(ini.ReadInteger("display", "width", 0), 640);  // the first section and key win
  EXPECT_EQ(ini.ReadString("Display", "'Q'", ""), "single");
  EXPECT_EQ(ini.ReadInteger("Display", "Hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("Display", "Dollar", 0), 16);
  EXPECT_TRUE(ini.SectionExists("Empty"));
  ini.WriteString("Display", "Height", "480");
  ini.WriteString("New", "k", "v");
  EXPECT_EQ(FileText(name),
            "; top comment\r\n[Display]\r\n  Width = 640 \r\n'Q'='single'\r\nHex=0x1F\r\nDollar=$10\r\nHeight=480\r\n\r\n"
            "[Empty]\r\n[Display]\r\nWidth=999\r\n\r\n[New]\r\nk=v\r\n");
}

TEST(IniFile, FailedWritesRaiseAndKeepTheOldFile) {
  qvtest::TempDir dir;
  std::string name = dir.File("keep.ini");
  TIniFile ini(name);
  ini.WriteString("S", "k", "v");
  const std::string before = FileText(name);
  // Line breaks and separators inside names could not be read back apart.
  EXPECT_THROW(ini.WriteString("S", "k", "two\nlines"), EIniFileException);
  EXPECT_THROW(ini.WriteString("S", "a=b", "v"), EIniFileException);
  EXPECT_THROW(ini.WriteString("S]", "k", "v"), EIniFileException);
  EXPECT_THROW(ini.WriteString("", "k", "v"), EIniFileException);
  EXPECT_EQ(FileText(name), before);

  TIniFile nowhere(dir.File("no/such/folder/x.ini"));
  EXPECT_EQ(nowhere.ReadString("S", "k", "d"), "d");
  try {
    nowhere.WriteString("S", "k", "v");
    FAIL();
  } catch (const EIniFileException& e) {
    EXPECT_NE(e.Message().find("Unable to write to"), std::string::npos);
  }

  if (geteuid() != 0) {  // root reads anything
    ::chmod(name.c_str(), 0);
    EXPECT_THROW(ini.WriteString("S", "other", "v"), EIniFileException);
    ::chmod(name.c_str(), 0644);
    EXPECT_EQ(FileText(name), before);
  }
}

TEST(IniFile, OracleConfigParserReadsWhatWeWrite) {
  if (!qvtest::HaveProgram("python3")) GTEST_SKIP() << "python3 not installed";
  qvtest::TempDir dir;
  std::string name = dir.File("o.ini");
  TIniFile ini(name);
  ini.WriteString("Main", "Folder", "C:\\Icons");
  ini.WriteInteger("Main", "Count", -12);
  ini.WriteString("Other Section", "Key With Spaces", "x=y");
  ini.WriteString("Main", "Folder", "D:\\Icons");
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("python3 -c \"import configparser,sys; c=configparser.RawConfigParser(); "
                               "c.read(sys.argv[1]); print(c['Main']['folder'], c['Main']['count'], "
                               "c['Other Section']['key with spaces'], sorted(c.sections()))\" " + name,
                               &out),
            0);
  EXPECT_EQ(out, "D:\\Icons -12 x=y ['Main', 'Other Section']\n");
}
