// Folder listings through FindFirstFile and FindNextFile, with the short (8.3)
// aliases the model gives long names.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "model_root.h"
#include "platform/win/find_files.h"
#include "platform/win/kernel_files.h"

namespace {

TEST(ShortNameAliases, FollowTheShortNameRules) {
  struct Case {
    std::vector<std::string> names;
    std::vector<std::string> aliases;
  };
  const Case cases[] = {
      // Valid short names (in any case) have none.
      {{"Foo", "README.TXT", "a.b", "x~1"}, {"", "", "", ""}},
      {{"Program Files"}, {"PROGRA~1"}},
      // Collisions are numbered in alphabetical order, whatever the given order.
      {{"Program Files (x86)", "Program Files", "ProgramData"}, {"PROGRA~2", "PROGRA~1", "PROGRA~3"}},
      // Up to three characters of the last extension; other dots and blanks go.
      {{"Long Name.text", "my.archive.tar.gz"}, {"LONGNA~1.TEX", "MYARCH~1.GZ"}},
      // Characters a short name cannot hold become "_".
      {{"a+b=c[1].txt"}, {"A_B_C_~1.TXT"}},
      {{"averylongname", "a name"}, {"AVERYL~1", "ANAME~1"}},
  };
  for (const Case& c : cases) EXPECT_EQ(ShortNameAliases(c.names), c.aliases) << c.names[0];
  // Ten and more keep the whole number within eight characters.
  std::vector<std::string> many;
  for (int i = 0; i < 12; ++i) many.push_back("Document number " + std::string(1, char('a' + i)));
  EXPECT_EQ(ShortNameAliases(many)[11], "DOCUM~12");
}

class FindFiles : public ModelRootTest {
protected:
  void Make(const std::string& relative, bool folder = false) {
    const std::filesystem::path p = Root() + "/" + relative;
    std::filesystem::create_directories(folder ? p : p.parent_path());
    if (!folder) qvtest::WriteFileBytes(p.string(), {1, 2, 3});
  }
  std::vector<std::pair<std::string, std::string>> List(const std::string& pattern) {
    std::vector<std::pair<std::string, std::string>> found;
    WIN32_FIND_DATAA data{};
    HANDLE h = FindFirstFile(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return found;
    do found.emplace_back(data.cFileName, data.cAlternateFileName);
    while (FindNextFile(h, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    return found;
  }
};

TEST_F(FindFiles, ListsAFolderOfTheModelWithAliasesSizesAndAttributes) {
  Make("Program Files/Foo", true);
  Make("Program Files/Quorvane.readme.txt");
  Make("Program Files/a.ico");
  using Entries = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(List("C:\\Program Files\\*"),
            (Entries{{"a.ico", ""}, {"Foo", ""}, {"Quorvane.readme.txt", "QUORVA~1.TXT"}}));
  EXPECT_EQ(List("C:\\Program Files\\*.ico"), (Entries{{"a.ico", ""}}));
  EXPECT_EQ(List("C:\\Program Files\\QUORVA~1.TXT"), (Entries{{"Quorvane.readme.txt", "QUORVA~1.TXT"}}));
  // The folder itself, as MakeFolderIconName asks for it.
  EXPECT_EQ(List("C:\\Program Files"), (Entries{{"Program Files", "PROGRA~1"}}));
  WIN32_FIND_DATAA data{};
  HANDLE h = FindFirstFile("C:\\Program Files\\a.ico", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 3u);
  EXPECT_FALSE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);
  h = FindFirstFile("C:\\Program Files\\Foo", &data);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);
}

TEST_F(FindFiles, ReportsWhatIsMissingAndRefusesUnknownHandles) {
  Make("Windows", true);
  WIN32_FIND_DATAA data{};
  EXPECT_EQ(FindFirstFile("C:\\Windows\\*.dll", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFile("C:\\No such folder\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(FindFirstFile("", &data), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextFile(reinterpret_cast<HANDLE>(uintptr_t{12345}), &data));
  EXPECT_FALSE(FindClose(reinterpret_cast<HANDLE>(uintptr_t{12345})));
}

}  // namespace
