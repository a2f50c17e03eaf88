// The settings file: its place, writes that cannot reach the disk, and the
// main window's placement.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/config_file.h"
#include "base/path_utils.h"
#include "base/registry_helpers.h"
#include "platform/rtl/paths.h"
#include "platform/win/registry.h"
#include "test_support.h"

namespace {

// A Windows model of our own with the application-data folder at appData.
class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSavedRoot = WindowsModelRoot();
    SetWindowsModelRoot(FTemp.File("model"));
    ReloadRegistryStore();
    FAppData = FTemp.File("appdata");
    std::filesystem::create_directories(FAppData);
    WriteRegistryString(HKEY_CURRENT_USER,
                        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\AppData", FAppData);
    ResetConfigFileName();
  }
  void TearDown() override {
    ResetConfigFileName();
    SetWindowsModelRoot(FSavedRoot);
    ReloadRegistryStore();
  }
  qvtest::TempDir FTemp;
  std::string FAppData;

 private:
  std::string FSavedRoot;
};

TEST_F(ConfigFileTest, LivesInTheProgramsFolderUnderApplicationData) {
  const std::string name = GetConfigFileName();
  EXPECT_EQ(name, FAppData + "\\quorvane\\config.ini");
  EXPECT_TRUE(ConfigFolderReady());
  EXPECT_TRUE(std::filesystem::is_directory(FAppData + "/quorvane"));
  auto ini = TConfigFile::Open();
  ini->WriteInteger("Cfg", "PasteImageAs", 3);
  EXPECT_FALSE(ini->InMemory());
  EXPECT_EQ(TConfigFile(name).ReadInteger("Cfg", "PasteImageAs", 0), 3);
}

TEST_F(ConfigFileTest, FolderThatCannotBeMadeKeepsSettingsInMemoryAndSaysSoOnce) {
  // A file where the program's folder should be.
  std::ofstream(FAppData + "/quorvane") << "in the way";
  auto ini = TConfigFile::Open();
  EXPECT_FALSE(ConfigFolderReady());
  EXPECT_TRUE(ini->InMemory());
  TWindowPlacement w{10, 20, 800, 600, false, false};
  TMainWindowSettings s;
  s.PasteImageAs = 2;
  s.LastOpen = "C:\\pictures\\a.png";
  EXPECT_NO_THROW(SaveMainWindowSettings(*ini, s, w));
  EXPECT_EQ(ini->ReadInteger("Cfg", "WinWidth", 0), 800);
  EXPECT_EQ(ini->ReadString("Last", "Open", ""), "C:\\pictures\\a.png");
  EXPECT_NE(ini->TakeNotice().find("config.ini"), std::string::npos);
  EXPECT_EQ(ini->TakeNotice(), "");
}

TEST_F(ConfigFileTest, WriteThatFailsLaterAlsoFallsBackToMemory) {
  // The file's name is taken by a folder, so the first write fails.
  const std::string name = FTemp.File("blocked.ini");
  std::filesystem::create_directories(name);
  TConfigFile ini(name);
  EXPECT_FALSE(ini.InMemory());
  EXPECT_NO_THROW(ini.WriteBool("Cfg", "SaveWinSize", false));
  EXPECT_TRUE(ini.InMemory());
  EXPECT_FALSE(ini.ReadBool("Cfg", "SaveWinSize", true));
  EXPECT_FALSE(ini.TakeNotice().empty());
}

// A fresh home has no ~/.config yet: it is made, and nothing is written beside
// the program.
TEST_F(ConfigFileTest, AMissingApplicationDataFolderIsMadeNotThePrograms) {
  const std::string missing = FTemp.File("home/.config");
  WriteRegistryString(HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\AppData", missing);
  bool ready = false;
  const std::string name = BuildConfigFileName(ready);
  EXPECT_TRUE(ready);
  EXPECT_EQ(name, missing + "\\quorvane\\config.ini");
  EXPECT_TRUE(std::filesystem::is_directory(missing + "/quorvane"));
  EXPECT_EQ(name.find(GetApplicationDir()), std::string::npos);
}

// ---- placement ----

struct PlacementCase {
  const char* what;
  std::vector<std::pair<const char*, int>> keys;  // "Cfg" integers; SaveWinSize as 0/1
  TWindowPlacement expect;
};

TEST_F(ConfigFileTest, PlacementKeysAreClampedToTheScreen) {
  const TWindowPlacement designed{50, 60, 700, 500, false, false};
  const PlacementCase cases[] = {
      {"nothing stored", {}, designed},
      {"maximised", {{"WinHeight", -1}, {"WinWidth", 900}, {"WinLeft", 5}}, {50, 60, 700, 500, true, false}},
      {"height 99 ignored", {{"WinHeight", 99}, {"WinWidth", 800}}, {50, 60, 800, 500, false, false}},
      {"larger than the screen", {{"WinHeight", 5000}, {"WinWidth", 5000}}, {50, 60, 1024, 768, false, false}},
      {"left absent keeps the framework's place",
       {{"WinLeft", -100000}, {"WinTop", 40}},
       {50, 40, 700, 500, false, true}},
      {"a quarter stays on screen",
       {{"WinLeft", 2000}, {"WinTop", 2000}},
       {1024 - 175, 768 - 125, 700, 500, false, true}},
      {"off the left and top", {{"WinLeft", -2000}, {"WinTop", -50}}, {-525, -5, 700, 500, false, true}},
      {"not saved", {{"SaveWinSize", 0}, {"WinWidth", 800}, {"WinLeft", 5}}, designed},
  };
  for (const auto& c : cases) {
    const std::string file = FTemp.File(std::string("p") + std::to_string(&c - cases) + ".ini");
    TConfigFile ini(file);
    for (auto [k, v] : c.keys) ini.WriteInteger("Cfg", k, v);
    TWindowPlacement w = designed;
    LoadWindowPlacement(ini, "Cfg", w, true, 1024, 768, nullptr);
    EXPECT_EQ(w.Left, c.expect.Left) << c.what;
    EXPECT_EQ(w.Top, c.expect.Top) << c.what;
    EXPECT_EQ(w.Width, c.expect.Width) << c.what;
    EXPECT_EQ(w.Height, c.expect.Height) << c.what;
    EXPECT_EQ(w.Maximized, c.expect.Maximized) << c.what;
    EXPECT_EQ(w.PositionDesigned, c.expect.PositionDesigned) << c.what;
  }
}

TEST_F(ConfigFileTest, MaximisedWindowWritesOnlyItsHeightAndIsMaximisedWithoutAnimation) {
  TConfigFile ini(FTemp.File("max.ini"));
  SaveWindowPlacement(ini, "Cfg", TWindowPlacement{1, 2, 300, 400, false, false}, true);
  SaveWindowPlacement(ini, "Cfg", TWindowPlacement{9, 9, 999, 999, true, false}, true);
  EXPECT_EQ(ini.ReadInteger("Cfg", "WinHeight", 0), -1);
  EXPECT_EQ(ini.ReadInteger("Cfg", "WinWidth", 0), 300);
  EXPECT_EQ(ini.ReadInteger("Cfg", "WinLeft", 0), 1);
  EXPECT_EQ(ini.ReadInteger("Cfg", "WinTop", 0), 2);

  int maximised = 0;
  TWindowPlacement w{0, 0, 300, 400, true, false};
  EXPECT_TRUE(LoadWindowPlacement(ini, "Cfg", w, true, 1024, 768, [&] { ++maximised; }));
  EXPECT_EQ(maximised, 1);
  EXPECT_EQ(w.Width, 300);
}

TEST_F(ConfigFileTest, MainWindowKeysRoundTrip) {
  TConfigFile ini(FTemp.File("main.ini"));
  TMainWindowSettings s;
  s.PasteImageAs = 7;
  TWindowPlacement w{10, 20, 640, 480, false, false};
  SaveMainWindowSettings(ini, s, w);
  EXPECT_EQ(ini.ReadString("Last", "Open", "none"), "none");  // an empty name is not written
  EXPECT_TRUE(ini.ReadBool("Cfg", "SaveWinSize", false));
  TMainWindowSettings back;
  TWindowPlacement w2{0, 0, 500, 300, false, false};
  LoadMainWindowSettings(ini, back, w2, 1920, 1080, nullptr);
  EXPECT_EQ(back.PasteImageAs, 7);
  EXPECT_EQ(w2.Left, 10);
  EXPECT_EQ(w2.Height, 480);
}

}  // namespace
