#include "base/path_utils.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/rtl/paths.h"
#include "platform/rtl/strings.h"
#include "platform/win/system_folders.h"
#include "test_support.h"

namespace {

struct TTextCase {
  const char* in;
  const char* out;
};

TEST(PathUtils, AddTrailingBackslash) {
  const TTextCase cases[] = {{"", ""},           {"C:", "C:"},         {"C:\\dir\\", "C:\\dir\\"},
                             {"C:/dir/", "C:/dir/"}, {"c", "c:\\"},       {"Z", "Z:\\"},
                             {"1", "1\\"},       {"C:\\dir", "C:\\dir\\"}, {"ab", "ab\\"}};
  for (const auto& c : cases) {
    EXPECT_EQ(AddTrailingBackslash(c.in), c.out) << c.in;
    EXPECT_EQ(EnsureTrailingBackslash(c.in), c.out) << c.in;
  }
}

TEST(PathUtils, RemoveTrailingBackslash) {
  const TTextCase cases[] = {{"C:\\dir\\", "C:\\dir"}, {"C:/dir/", "C:/dir"}, {"C:", "C:\\"},
                             {"C", "C:\\"},            {"ab", "ab\\"},         {"C:\\dir", "C:\\dir"},
                             {"C:\\", "C:\\"}};
  for (const auto& c : cases) EXPECT_EQ(RemoveTrailingBackslash(c.in), c.out) << c.in;
}

TEST(PathUtils, RemoveTrailingSlashDropsOneOfEitherKind) {
  EXPECT_EQ(RemoveTrailingSlash("a\\"), "a");
  EXPECT_EQ(RemoveTrailingSlash("a//"), "a/");
  EXPECT_EQ(RemoveTrailingSlash("a"), "a");
  EXPECT_EQ(RemoveTrailingSlash(""), "");
}

TEST(PathUtils, AppendExtension) {
  struct {
    const char *name, *ext, *out;
  } cases[] = {{"pic.", "png", "pic.png"},     {"pic.PNG", ".png", "pic.PNG"}, {"pic", "*", "pic"},
               {"pic", "", "pic"},             {"pic.", ".", "pic"},           {"pic", ".ico", "pic.ico"},
               {"pic.bmp", "ico", "pic.bmp.ico"}, {"a.ICO", "ico", "a.ICO"}};
  for (const auto& c : cases) EXPECT_EQ(AppendExtension(c.name, c.ext), c.out) << c.name << " + " << c.ext;
}

TEST(PathUtils, ApplyDefaultExtension) {
  struct {
    const char *name, *ext, *out;
  } cases[] = {{"pic", "ico", "pic.ico"},       {"pic.bmp", "ico", "pic.bmp"}, {"pic.", "ico", "pic.ico"},
               {"pic", ".ico", "pic.ico"},      {"pic", "*", "pic.*"},         {"pic", "", "pic"},
               {"C:\\a.b\\pic", "ico", "C:\\a.b\\pic.ico"}, {"C:/a.b/pic", "ico", "C:/a.b/pic.ico"}};
  for (const auto& c : cases) EXPECT_EQ(ApplyDefaultExtension(c.name, c.ext), c.out) << c.name << " + " << c.ext;
}

TEST(PathUtils, GetLowerExtension) {
  const TTextCase cases[] = {{"C:\\a.b\\file", ""}, {"C:/a.b/file", ""}, {"X.PNG", "png"},
                             {"a.tar.GZ", "gz"},    {"noext", ""},       {"dir\\.Hidden", "hidden"},
                             {"trailing.", ""}};
  for (const auto& c : cases) EXPECT_EQ(GetLowerExtension(c.in), c.out) << c.in;
}

TEST(PathUtils, GetDriveRoot) {
  EXPECT_EQ(GetDriveRoot("C:\\Windows\\notepad.exe"), "C:\\");
  EXPECT_EQ(GetDriveRoot("d:/pics/a.png"), "d:/");
  EXPECT_EQ(GetDriveRoot("E:a.png"), "E:\\");
  EXPECT_EQ(GetDriveRoot("/tmp/a.png"), "/");
}

TEST(PathUtils, DriveIndexToRoot) {
  EXPECT_EQ(DriveIndexToRoot(0), "A:\\");
  EXPECT_EQ(DriveIndexToRoot(2), "C:\\");
  EXPECT_EQ(DriveIndexToRoot(25), "Z:\\");
}

TEST(PathUtils, FileSizeOfIs64BitAndTellsMissingFromEmpty) {
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("empty"), {});
  qvtest::WriteFileBytes(dir.File("three"), {1, 2, 3});
  EXPECT_EQ(FileSizeOf(dir.File("empty")), 0);
  EXPECT_EQ(FileSizeOf(dir.File("three")), 3);
  EXPECT_EQ(FileSizeOf(dir.File("missing")), -1);
  // A sparse file past 4 GB must not wrap around.
  std::filesystem::resize_file(dir.File("three"), 5'000'000'000LL);
  EXPECT_EQ(FileSizeOf(dir.File("three")), 5'000'000'000LL);
}

TEST(PathUtils, FindExistingParentDirWalksUpWithEitherSeparator) {
  qvtest::TempDir dir;
  std::filesystem::create_directories(dir.Path() / "a" / "b");
  const std::string base = dir.Path().string();
  EXPECT_EQ(FindExistingParentDir(base + "/a/b/c/d/"), base + "/a/b");
  EXPECT_EQ(FindExistingParentDir(base + "\\a\\x\\y"), base + "\\a");
  EXPECT_EQ(FindExistingParentDir(base + "/a/b"), base + "/a/b");
  EXPECT_EQ(FindExistingParentDir("nowhere-qv\\deeper"), "");
}

TEST(PathUtils, FindExistingParentDirStopsAtAMissingDriveRoot) {
  qvtest::TempDir dir;
  SetWindowsModelRoot(dir.Path().string());
  EXPECT_EQ(FindExistingParentDir("Q:\\a\\b"), "");
  std::filesystem::create_directories(dir.Path() / "Program Files");
  EXPECT_EQ(FindExistingParentDir("C:\\Program Files\\Gone\\Sub"), "C:\\Program Files");
}

}  // namespace

namespace {

TEST(PathUtils, FoldersOfTheWindowsModelEndInASeparator) {
  qvtest::TempDir dir;
  SetWindowsModelRoot(dir.Path().string());
  EXPECT_EQ(GetWindowsDir(), "C:\\Windows\\");
  EXPECT_EQ(GetSystemDir(), "C:\\Windows\\System32\\");
  const std::string temp = GetTempDir();
  ASSERT_FALSE(temp.empty());
  EXPECT_TRUE(IsPathSeparatorChar(temp.back()));
  const std::string app = GetApplicationDir();
  ASSERT_FALSE(app.empty());
  EXPECT_TRUE(std::filesystem::exists(NativePath(app + "base_tests")));
}

TEST(PathUtils, DrivesOfTheModel) {
  qvtest::TempDir dir;
  SetWindowsModelRoot(dir.Path().string());
  SetModelDrive('D', DRIVE_CDROM);
  SetModelDrive('E', DRIVE_FIXED);
  EXPECT_TRUE(IsDrivePresent(2));
  EXPECT_TRUE(IsDrivePresent(2 + 32)) << "the index is taken modulo 32";
  EXPECT_FALSE(IsDrivePresent(5));
  EXPECT_EQ(GetPathDriveType("D:\\setup\\autorun.inf"), DRIVE_CDROM);
  EXPECT_EQ(GetPathDriveType("c:/Windows/notepad.exe"), DRIVE_FIXED);
  TStringList drives;
  const unsigned fixed[] = {DRIVE_FIXED};
  ListDrives(&drives, fixed, 0, true);
  ASSERT_EQ(drives.Count(), 2);
  EXPECT_EQ(drives[0], "C:\\");
  EXPECT_EQ(drives[1], "E:\\");
  ListDrives(&drives, fixed, 0, false);
  ASSERT_EQ(drives.Count(), 1);
  EXPECT_EQ(drives[0], "D:\\");
  const unsigned both[] = {DRIVE_FIXED, DRIVE_CDROM};
  ListDrives(&drives, both, 1, false);
  EXPECT_EQ(drives.Count(), 3) << "exclude mode keeps a drive that differs from any one type";
  SetModelDrive('D', DRIVE_NO_ROOT_DIR);
  SetModelDrive('E', DRIVE_NO_ROOT_DIR);
}

}  // namespace
