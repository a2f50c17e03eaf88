// Folder and drive icons over the seeded model: desktop.ini, Autorun.inf and the
// DriveIcons key before and after each writer, the icon file names, the cache
// rule, and the hostile cases (folders outside the model, broken files, a
// registry that refuses writes).
#include <gtest/gtest.h>

#include "app/customize/folder_icons.h"
#include "app/customize/shell_icon_locations.h"
#include "app/customize/shell_refresh.h"
#include "customize_model.h"
#include "base/path_utils.h"
#include "platform/rtl/inifiles.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/kernel_files.h"

using namespace customizetest;

namespace {

class FolderIcons : public CustomizeModel {
protected:
  std::string Shell32() const { return System32() + "shell32.dll"; }
  static std::string Ini(const std::string& file, const std::string& section, const std::string& key) {
    return TIniFile(file).ReadString(section, key, "<none>");
  }
  static std::string DriveIconsValue(char letter) {
    return ReadRegistryString(HKEY_LOCAL_MACHINE, std::string(kDriveIconsKey) + letter + "\\DefaultIcon\\");
  }
};

TEST_F(FolderIcons, IconFileNamesFollowTheShortNamesOfTheFolders) {
  ForceDirectories("C:\\Program Files\\Foo");
  ForceDirectories("C:\\Games");
  EXPECT_EQ(MakeFolderIconName("C:\\Program Files\\Foo"), "Cprogra~1_foo");
  EXPECT_EQ(MakeFolderIconName("C:\\Program Files\\Foo\\"), "Cprogra~1_foo");
  EXPECT_EQ(MakeFolderIconName("C:\\Games"), "Cgames");
  EXPECT_EQ(GetShortName("C:\\Program Files"), "PROGRA~1");
  EXPECT_EQ(GetShortName("C:\\Nothing"), "");
  // A folder path of 250 characters cuts the name to 6 characters (kept so).
  std::string deep = "C:\\";
  while (deep.size() < 250) {
    const size_t left = 250 - deep.size();
    deep += left > 41 ? std::string(40, 'd') + "\\" : std::string(left, 'd');
  }
  ASSERT_EQ(deep.size(), 250u);
  ForceDirectories(deep);
  EXPECT_EQ(MakeFolderIconName(deep).size(), 6u);
}

TEST_F(FolderIcons, SetFolderIconCopiesTheIconAndWritesDesktopIni) {
  ForceDirectories("C:\\Program Files\\Foo");
  const std::string folder = "C:\\Program Files\\Foo";
  ApplyFolderWrite(folder, [&] { SetFolderIcon(folder, Shell32(), 4, true); });
  const std::string ini = folder + "\\desktop.ini";
  EXPECT_EQ(Ini(ini, ".ShellClassInfo", "IconFile"), "Cprogra~1_foo.ico");
  EXPECT_EQ(Ini(ini, ".ShellClassInfo", "IconIndex"), "0");
  EXPECT_EQ(Ini(ini, ".ShellClassInfo", "ConfirmFileOp"), "0");
  EXPECT_EQ(Ini(ini, ".ShellClassInfo", "OriginalIcon"), "%");
  EXPECT_TRUE(GetFileAttributes(ini.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(GetFileAttributes((folder + "\\Cprogra~1_foo.ico").c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(GetFileAttributes(folder.c_str()) & FILE_ATTRIBUTE_READONLY);
  std::string file;
  int index = 7;
  EXPECT_TRUE(GetFolderIconLocation(folder, file, index));
  EXPECT_EQ(file, folder + "\\Cprogra~1_foo.ico");
  EXPECT_EQ(index, 0);
  // Without the copy the location names the library; a kept ConfirmFileOp stays.
  {
    SetFileAttributes(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
    TIniFile(ini).WriteString(".ShellClassInfo", "ConfirmFileOp", "1");
    SetFileAttributes(ini.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  }
  SetFolderIcon(folder, Shell32(), -137, false);
  EXPECT_EQ(Ini(ini, ".ShellClassInfo", "IconFile"), Shell32());
  EXPECT_EQ(Ini(ini, ".ShellClassInfo", "IconIndex"), "-137");
  EXPECT_EQ(Ini(ini, ".ShellClassInfo", "ConfirmFileOp"), "1");
  // The attributes of an existing desktop.ini come back after the write.
  EXPECT_EQ(GetFileAttributes(ini.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  // Clearing takes the icon keys away and the folder's read-only mark.
  ClearFolderIcon(folder);
  EXPECT_EQ(Ini(ini, ".ShellClassInfo", "IconFile"), "<none>");
  EXPECT_EQ(Ini(ini, ".ShellClassInfo", "OriginalIcon"), "%");
  EXPECT_FALSE(GetFileAttributes(folder.c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(FolderIcons, Windows98MarksTheFolderAsSystem) {
  UseVersion(v98);
  ForceDirectories("C:\\Games");
  SetFileAttributes("C:\\Games", FILE_ATTRIBUTE_READONLY);
  SetFolderIcon("C:\\Games", Shell32(), 3, false);
  const DWORD a = GetFileAttributes("C:\\Games");
  EXPECT_TRUE(a & FILE_ATTRIBUTE_SYSTEM);
  EXPECT_FALSE(a & FILE_ATTRIBUTE_READONLY);
  ClearFolderIcon("C:\\Games");
  EXPECT_FALSE(GetFileAttributes("C:\\Games") & FILE_ATTRIBUTE_SYSTEM);
}

TEST_F(FolderIcons, DriveRootsUseAutorunInfAndTheDriveIconsKey) {
  // Copied into the root: Autorun.inf names the file alone, the key with the root.
  SetFolderIcon("C:\\", Shell32(), 8, true);
  EXPECT_EQ(Ini("C:\\Autorun.inf", "AutoRun", "icon"), "AutoRunC.ico,0");
  EXPECT_EQ(DriveIconsValue('C'), "C:\\AutoRunC.ico,0");
  EXPECT_TRUE(GetFileAttributes("C:\\Autorun.inf") & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(GetFileAttributes("C:\\AutoRunC.ico") & FILE_ATTRIBUTE_HIDDEN);
  std::string file;
  int index = 0;
  EXPECT_TRUE(GetDriveIconLocation("C:\\", file, index));
  EXPECT_EQ(file, "C:\\AutoRunC.ico");
  // The drive's other autorun entries survive the reset; the file goes only
  // when the icon was all it held.
  SetFileAttributes("C:\\Autorun.inf", FILE_ATTRIBUTE_NORMAL);
  TIniFile("C:\\Autorun.inf").WriteString("AutoRun", "open", "setup.exe");
  ClearDriveIcon("C:\\");
  EXPECT_EQ(Ini("C:\\Autorun.inf", "AutoRun", "icon"), "<none>");
  EXPECT_EQ(Ini("C:\\Autorun.inf", "AutoRun", "open"), "setup.exe");
  EXPECT_EQ(DriveIconsValue('C'), "");
  SetDriveIcon("D:\\", Shell32(), 11, false);
  EXPECT_EQ(DriveIconsValue('D'), Shell32() + ",11");
  ClearDriveIcon("D:");
  EXPECT_FALSE(FileExists("D:\\Autorun.inf"));
  // Without Autorun.inf the DriveIcons key names the icon.
  WriteRegistryString(HKEY_LOCAL_MACHINE, std::string(kDriveIconsKey) + "D\\DefaultIcon\\", "%SystemRoot%\\System32\\shell32.dll,12");
  EXPECT_TRUE(GetDriveIconLocation("D:\\", file, index));
  EXPECT_EQ(file, Shell32());
  EXPECT_EQ(index, 12);
}

TEST_F(FolderIcons, TheCacheIsRebuiltForTheSameIconAgainAndForARemovedOne) {
  ForceDirectories("C:\\Games");
  const std::string sizeValue = std::string(kWindowMetricsKey) + "\\Shell Icon Size";
  auto rebuilt = [&](const std::function<void()>& write) {
    DeleteRegistryValue(HKEY_CURRENT_USER, sizeValue);
    ApplyFolderWrite("C:\\Games", write);
    return ReadRegistryString(HKEY_CURRENT_USER, sizeValue) == "32";
  };
  EXPECT_FALSE(rebuilt([] { SetFolderIcon("C:\\Games", GetSystemDir() + "shell32.dll", 3, false); }));
  EXPECT_TRUE(rebuilt([] { SetFolderIcon("C:\\Games", GetSystemDir() + "shell32.dll", 3, false); }));
  EXPECT_FALSE(rebuilt([] { SetFolderIcon("C:\\Games", GetSystemDir() + "shell32.dll", 4, false); }));
  EXPECT_TRUE(rebuilt([] { SetFolderIcon("C:\\Games", "", 0, false); }));
}

TEST_F(FolderIcons, SystemFoldersAndFoldersOutsideTheModelAreRefusedBeforeAnyWrite) {
  ForceDirectories("C:\\Fonts");
  TIniFile("C:\\Fonts\\desktop.ini").WriteString(".ShellClassInfo", "CLSID", "");
  EXPECT_THROW(CheckNotSystemFolder("C:\\Fonts"), Exception);
  ForceDirectories("C:\\Plain");
  TIniFile("C:\\Plain\\desktop.ini").WriteString(".ShellClassInfo", "CLSID", "+");
  EXPECT_NO_THROW(CheckNotSystemFolder("C:\\Plain"));

  const std::vector<std::string> before = ModelFiles();
  std::filesystem::create_directory_symlink(dir.Path(), Native("C:\\") + "/link");
  for (const std::string& outside : {dir.Path().string(), std::string("C:\\..\\.."), std::string("C:\\link"),
                                     std::string("C:\\missing")}) {
    try {
      SetFolderIcon(outside, Shell32(), 1, true);
      ADD_FAILURE() << outside;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message().rfind("Folder not found: ", 0), 0u) << e.Message();
    }
    TAdvancedIcon icon;
    LoadIconFromLocation(Shell32(), "3", &icon);
    EXPECT_THROW(SetFolderIconFromIcon(outside, &icon), Exception);
    EXPECT_THROW(ClearFolderIcon(outside), Exception);
  }
  EXPECT_EQ(ModelFiles(), before);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "desktop.ini"));
}

TEST_F(FolderIcons, AFailedIconWriteLeavesTheOldIconAndDesktopIni) {
  ForceDirectories("C:\\Games");
  TAdvancedIcon icon;
  LoadIconFromLocation(Shell32(), "3", &icon);
  SetFolderIconFromIcon("C:\\Games", &icon);
  const std::string ico = "C:\\Games\\Cgames.ico";
  const auto oldIcon = qvtest::ReadFileBytes(Native(ico));
  const auto oldIni = qvtest::ReadFileBytes(Native("C:\\Games\\desktop.ini"));
  TAdvancedIcon empty;  // no images: the writer refuses it
  EXPECT_THROW(SetFolderIconFromIcon("C:\\Games", &empty), Exception);
  EXPECT_EQ(qvtest::ReadFileBytes(Native(ico)), oldIcon);
  EXPECT_EQ(qvtest::ReadFileBytes(Native("C:\\Games\\desktop.ini")), oldIni);
  EXPECT_FALSE(FileExists(ico + ".new"));
}

TEST_F(FolderIcons, BrokenFilesAndAReadOnlyRegistry) {
  ForceDirectories("C:\\Games");
  qvtest::WriteFileBytes(Native("C:\\Games\\desktop.ini"), {0xFF, 0, '[', '\n', '=', '=', 0x80, '\n'});
  std::string file;
  int index = 0;
  EXPECT_FALSE(GetFolderIconLocation("C:\\Games", file, index));
  qvtest::WriteFileBytes(Native("C:\\Autorun.inf"), std::vector<uint8_t>(3000, ','));
  EXPECT_FALSE(GetDriveIconLocation("C:\\", file, index));
  // The DriveIcons value cannot be written: the registry's error reaches the caller.
  SetRegistryRootWritable(HKEY_LOCAL_MACHINE, false);
  EXPECT_THROW(SetDriveIcon("D:\\", Shell32(), 11, false), Exception);
}

}  // namespace
