// File-type icons over the seeded model: the registered extensions, reading a
// type's icon, the customiser's write and restore, the dialog's installed icon
// with "Undo_1" over several Applies, and the refused extensions.
#include <gtest/gtest.h>

#include "app/customize/file_type_icons.h"
#include "app/customize/shell_icon_locations.h"
#include "customize_model.h"
#include "platform/rtl/sysutils.h"

using namespace customizetest;

namespace {

class FileTypeIcons : public CustomizeModel {
protected:
  static std::string Icon(const std::string& type) { return ReadRegistryString(HKEY_CLASSES_ROOT, type + "\\DefaultIcon\\"); }
  static std::string Undo(const std::string& type) { return ReadRegistryString(HKEY_CLASSES_ROOT, type + "\\DefaultIcon\\Undo_1"); }
  void MadeIcon(TAdvancedIcon& icon) { LoadIconFromLocation(System32() + "shell32.dll", "7", &icon); }
};

TEST_F(FileTypeIcons, ListsExtensionsThatNameAFileTypeButNotFourDigitOnes) {
  for (const char* ext : {".1234", ".123", ".12345"}) WriteRegistryString(HKEY_CLASSES_ROOT, std::string(ext) + "\\", "numfile");
  WriteRegistryString(HKEY_CLASSES_ROOT, ".notype\\Content Type", "text/x");
  TStringList list;
  ListRegisteredExtensions(&list);
  std::vector<std::string> names;
  for (int i = 0; i < list.Count(); ++i) names.push_back(list.Strings(i));
  EXPECT_EQ(names, (std::vector<std::string>{"123", "12345", "bat", "bmp", "dll", "doc", "exe", "htm", "ico", "ini",
                                             "jpg", "png", "txt", "zip"}));
  std::string location, type, content;
  EXPECT_TRUE(GetFileTypeIcon("txt", location, type, content));
  EXPECT_EQ(location, "%SystemRoot%\\System32\\shell32.dll,1");
  EXPECT_EQ(type, "txtfile");
  EXPECT_EQ(content, "text/plain");
  EXPECT_FALSE(GetFileTypeIcon(" ", location, type, content));
  EXPECT_EQ(GetUnknownFileTypeIcon(), System32() + "shell32.dll,0");
}

TEST_F(FileTypeIcons, TheCustomisersWriteKeepsUndoAndRestores) {
  SetFileTypeIcon(System32() + "shell32.dll", 5, "txt");
  EXPECT_EQ(Icon("txtfile"), System32() + "shell32.dll,5");
  EXPECT_EQ(Undo("txtfile"), "%SystemRoot%\\System32\\shell32.dll,1");
  SetFileTypeIcon("%1", 4, "txt");
  EXPECT_EQ(Icon("txtfile"), "%1");
  EXPECT_EQ(Undo("txtfile"), System32() + "shell32.dll,5");
  SetFileTypeIcon("#DEFAULT#", 0, ".txt");
  EXPECT_EQ(Icon("txtfile"), System32() + "shell32.dll,5");
  EXPECT_EQ(Undo("txtfile"), "");
  // Built-in defaults win on restore: "exe" shows each file's own icon.
  WriteRegistryString(HKEY_CLASSES_ROOT, "exefile\\DefaultIcon\\", "x.dll,1");
  SetFileTypeIcon("#DEFAULT#", 0, "exe");
  EXPECT_EQ(Icon("exefile"), "%1");
  EXPECT_EQ(GetBuiltInDefaultIcon("bmp"), System32() + "mspaint.exe");
  EXPECT_EQ(GetDefaultFileTypeIcon("txt"), "");
}

TEST_F(FileTypeIcons, UndoSurvivesThreeAppliesOfTheDialog) {
  TAdvancedIcon icon;
  MadeIcon(icon);
  const std::string installed = std::string(kInstalledIconsFolder) + "\\jpg.ico";
  for (int apply = 0; apply < 3; ++apply) {
    EXPECT_TRUE(InstallFileTypeIcon(&icon, "jpg"));
    EXPECT_EQ(Icon("jpegfile"), installed);
    // The location before the first Apply stays, not our own file.
    EXPECT_EQ(Undo("jpegfile"), "%SystemRoot%\\System32\\shell32.dll,41") << apply;
  }
  TAdvancedIcon check;
  ASSERT_TRUE(check.LoadFromFile(installed));
  EXPECT_EQ(check.Count(), icon.Count());
  RestoreInstalledFileTypeIcon("jpg");
  EXPECT_EQ(Icon("jpegfile"), "%SystemRoot%\\System32\\shell32.dll,41");
  EXPECT_EQ(Undo("jpegfile"), "");
  EXPECT_TRUE(FileExists(installed));
  // Restoring again without "Undo_1" changes nothing.
  RestoreInstalledFileTypeIcon("jpg");
  EXPECT_EQ(Icon("jpegfile"), "%SystemRoot%\\System32\\shell32.dll,41");
}

TEST_F(FileTypeIcons, RefusedExtensionsAndTypelessKeysWriteNothing) {
  TAdvancedIcon icon;
  MadeIcon(icon);
  for (const char* ext : {"ico", ".CUR", "ani", "exe", "..\\x", "a/b", "c:d", "x\x01", ".."}) {
    EXPECT_THROW(InstallFileTypeIcon(&icon, ext), Exception) << ext;
    EXPECT_THROW(SetFileTypeIcon(System32() + "shell32.dll", 2, ext), Exception) << ext;
  }
  EXPECT_FALSE(std::filesystem::exists(Native(kInstalledIconsFolder)));
  try {
    CheckExtensionAllowed(".ICO");
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "You are not allowed to customize icon for .ico extension");
  }
  // A key without file type: nothing at the classes' root, no orphan icon file.
  WriteRegistryString(HKEY_CLASSES_ROOT, ".bare\\Content Type", "x/y");
  EXPECT_FALSE(InstallFileTypeIcon(&icon, "bare"));
  SetFileTypeIcon(System32() + "shell32.dll", 3, "bare");
  EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, "DefaultIcon\\"), "");
  EXPECT_FALSE(FileExists(std::string(kInstalledIconsFolder) + "\\bare.ico"));
  // An extension without key changes nothing either.
  SetFileTypeIcon(System32() + "shell32.dll", 3, "nokey");
  EXPECT_FALSE(InstallFileTypeIcon(&icon, "nokey"));
  // A registry that refuses the write reports it.
  SetRegistryRootWritable(HKEY_CLASSES_ROOT, false);
  EXPECT_THROW(SetFileTypeIcon(System32() + "shell32.dll", 3, "txt"), Exception);
  EXPECT_EQ(Icon("txtfile"), "%SystemRoot%\\System32\\shell32.dll,1");
}

}  // namespace
