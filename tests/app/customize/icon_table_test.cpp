// The system icon table over the seeded model for Windows 95, 98, 2000, XP and
// 7: which rows each lists with which captions and locations, the filters, and
// every writer and restorer with the registry before and after.
#include <gtest/gtest.h>

#include <map>

#include "app/customize/icon_table.h"
#include "app/customize/shell_icon_locations.h"
#include "app/customize/shell_refresh.h"
#include "customize_model.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/registry_object.h"

using namespace customizetest;

namespace {

using Rows = std::vector<std::string>;

class IconTable : public CustomizeModel {
protected:
  TCustomIconList Load(TVersion v) {
    UseVersion(v);
    TCustomIconList icons;
    LoadIconTable(icons, TIconTableVersion::Current());
    return icons;
  }
  static std::map<std::string, Rows> Pages(const TCustomIconList& icons) {
    std::map<std::string, Rows> pages;
    for (const auto& e : icons) pages[e->Rec->Page].push_back(e->DisplayCaption);
    return pages;
  }
  static TCustomIconFileInfo* Find(TCustomIconList& icons, const std::string& caption) {
    for (auto& e : icons)
      if (e->DisplayCaption == caption) return e.get();
    return nullptr;
  }
  static bool KeyExists(HKEY root, const std::string& key) {
    TRegistry r(KEY_READ);
    r.SetRootKey(root);
    return r.KeyExists(key);
  }
  static constexpr const char* kBin = "645FF040-5081-101B-9F08-00AA002F954E";
  static constexpr const char* kComputer = "20D04FE0-3AEA-1069-A2D8-08002B30309D";
};

const Rows kMisc = {"Default Icon", "Default Document", "Application", "Closed Folder", "Open Folder",
                    "Sharing Overlay", "Shortcut Overlay", "All the Network", "Network", "Computer", "Printer",
                    "Computers", "Workgroup"};
const Rows kDrives = {"Floppy Drive 5.25", "Floppy Drive 3.5", "Removeable Drive", "Hard Drive", "Network Drive",
                      "Network Drive (Offline)", "CD-ROM Drive", "RAM Drive", "CD-Audio"};
const Rows kDesktop = {"My Computer", "Network Neighborhood", "Recycle Bin (Full)", "Recycle Bin (Empty)",
                       "My Documents", "Briefcase", "Desktop", "Control Panel", "Printers", "History", "Inbox",
                       "Remote Network Access", "Dial-Up Networking", "The Internet", "Internet Explorer",
                       "The Microsoft Network", "Program Group"};
const Rows kStart = {"Programs", "Documents", "Settings", "Find", "Help", "Execute", "Suspend", "Laptop", "Shut Down"};

TEST_F(IconTable, EachVersionListsItsRowsWithTheRegistrysCaptions) {
  for (TVersion v : {v95, v98, v2000, v7}) {
    std::map<std::string, Rows> pages = Pages(Load(v));
    EXPECT_EQ(pages["D"], kDesktop) << VersionName(v);
    EXPECT_EQ(pages["M"], kMisc) << VersionName(v);
    EXPECT_EQ(pages["Dr"], kDrives) << VersionName(v);
    Rows start = kStart;
    // "Close Session" is left out on the NT family.
    if (v == v95 || v == v98) start.push_back("Close Session");
    EXPECT_EQ(pages["S"], start) << VersionName(v);
  }
  std::map<std::string, Rows> xp = Pages(Load(vXP));
  EXPECT_EQ(xp["D"], (Rows{"My Computer", "Recycle Bin (Full)", "Recycle Bin (Empty)", "My Documents", "Desktop",
                           "Control Panel", "Printers", "Inbox", "Remote Network Access", "Dial-Up Networking",
                           "The Internet", "Internet Explorer", "My Network Places", "Program Group"}));
  EXPECT_EQ(xp["Dr"], (Rows{"Floppy Drive 5.25", "Floppy Drive 3.5", "Removeable Drive", "Hard Drive",
                            "Network Drive", "Network Drive (Offline)", "RAM Drive"}));
  EXPECT_EQ(xp["S"], Rows{});
  EXPECT_EQ(xp["M"].size(), kMisc.size() - 1);
}

TEST_F(IconTable, DefaultsFollowTheVersion) {
  TCustomIconList seven = Load(v7);
  EXPECT_EQ(Find(seven, "My Computer")->DefaultLocation, "%SystemRoot%\\System32\\shell32.dll,15");
  EXPECT_EQ(Find(seven, "Internet Explorer")->DefaultLocation, "\"C:\\Program Files\\Internet Explorer\\iexplore.exe\"");
  EXPECT_EQ(Find(seven, "Hard Drive")->DefaultLocation, System32() + "shell32.dll,8");
  TCustomIconList xp = Load(vXP);
  EXPECT_EQ(Find(xp, "My Computer")->DefaultLocation, "%SystemRoot%\\EXPLORER.EXE,0");
  EXPECT_EQ(Find(xp, "Control Panel")->DefaultLocation, "%SystemRoot%\\System32\\shell32.dll,-137");
  EXPECT_EQ(Find(xp, "Recycle Bin (Full)")->DefaultLocation, "%SystemRoot%\\System32\\shell32.dll,32");
  EXPECT_EQ(Find(xp, "Internet Explorer")->DefaultLocation, "C:\\Program Files\\Internet Explorer\\iexplore.exe,0");
  // Windows 95 keeps the first default it saw as a backup of its own.
  TCustomIconList w95 = Load(v95);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, std::string("Software\\Marrowin\\CustomIcons\\DefaultIcons\\") + kBin + "full"),
            "%SystemRoot%\\System32\\shell32.dll,32");
  // A caption-less row takes its name from the class, or stays empty without one.
  WriteRegistryString(HKEY_CLASSES_ROOT, "CLSID\\{00020D76-0000-0000-C000-000000000046}\\", "");
  TCustomIconList again = Load(v7);
  EXPECT_NE(Find(again, ""), nullptr);
  // Rows whose files are all missing are left out: without shell32.dll only
  // the classes whose icons live in other modules stay.
  WriteRegistryString(HKEY_LOCAL_MACHINE, std::string(kShellIconsKey) + "\\40", "C:\\gone.dll,1");
  DeleteFile(System32() + "shell32.dll");
  for (const auto& e : Load(v7)) EXPECT_NE(e->Rec->Key[0], '#') << e->DisplayCaption;
}

TEST_F(IconTable, FiltersTheInternetRowWhenTheBrowserIsOnTheDesktop) {
  WriteRegistryString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer\\AdvancedOptions\\BROWSE\\IEONDESKTOP\\RegPath",
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\HideDesktopIcons\\{871c5380-42a0-1069-a2ea-08002b30309d}");
  TCustomIconList icons = Load(v7);
  EXPECT_EQ(Find(icons, "The Internet"), nullptr);
  EXPECT_NE(Find(icons, "Internet Explorer"), nullptr);
}

TEST_F(IconTable, StockRowsWriteAndDeleteTheirOverrideAndRebuildTheCache) {
  TCustomIconList icons = Load(v7);
  TCustomIconFileInfo* folder = Find(icons, "Closed Folder");
  const std::string value = std::string(kShellIconsKey) + "\\3";
  folder->NewLocation = System32() + "shell32.dll,4";
  qvtest::WriteFileBytes(Native(GetShellIconCacheFile()), {1});
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, value), System32() + "shell32.dll,4");
  EXPECT_EQ(folder->IconLocation, System32() + "shell32.dll,4");
  EXPECT_EQ(folder->NewLocation, "");
  EXPECT_FALSE(FileExists(GetShellIconCacheFile()));
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, std::string(kWindowMetricsKey) + "\\Shell Icon Size"), "32");
  folder->NewLocation = "#DEFAULT#";
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  TRegistry r(KEY_READ);
  r.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(r.OpenKeyReadOnly(kShellIconsKey));
  EXPECT_FALSE(r.ValueExists("3"));
  EXPECT_EQ(folder->IconLocation, folder->DefaultLocation);
}

TEST_F(IconTable, UserWriterMirrorsTheRecycleBinAndRestoringRemovesEmptyKeys) {
  TCustomIconList icons = Load(v7);
  const std::string userKey = std::string("Software\\Classes\\CLSID\\{") + kBin + "}\\DefaultIcon";
  TCustomIconFileInfo* full = Find(icons, "Recycle Bin (Full)");
  // The machine's default is the empty bin's icon: only "full" is written.
  full->NewLocation = "C:\\x.ico,0";
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, userKey + "\\full"), "C:\\x.ico,0");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, userKey + "\\"), "");
  full->NewLocation = "#DEFAULT#";
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, userKey));
  // Where the machine shows the full bin, the default follows it.
  WriteRegistryString(HKEY_CLASSES_ROOT, std::string("CLSID\\{") + kBin + "}\\DefaultIcon\\", "%SystemRoot%\\System32\\shell32.dll,32");
  full->NewLocation = "C:\\y.ico,0";
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, userKey + "\\"), "C:\\y.ico,0");
  // The mirror test reads the machine's key without making one.
  const std::string machine = std::string("CLSID\\{") + kBin + "}\\DefaultIcon";
  TRegistry r(KEY_ALL_ACCESS);
  r.SetRootKey(HKEY_CLASSES_ROOT);
  r.DeleteKey(machine);
  RegDeleteTree(HKEY_CURRENT_USER, userKey.c_str());
  RegDeleteKey(HKEY_CURRENT_USER, userKey.c_str());
  full->NewLocation = "C:\\z.ico,0";
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, machine));
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, userKey + "\\full"), "C:\\z.ico,0");
  // My Computer: the last customised value goes, and its key with it.
  TCustomIconFileInfo* computer = Find(icons, "My Computer");
  computer->NewLocation = "C:\\c.ico,0";
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  const std::string computerKey = std::string("Software\\Classes\\CLSID\\{") + kComputer + "}\\DefaultIcon";
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, computerKey + "\\"), "C:\\c.ico,0");
  computer->NewLocation = "#DEFAULT#";
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, computerKey));
}

TEST_F(IconTable, Windows95WritesTheMachinesKey) {
  TCustomIconList icons = Load(v95);
  const std::string machine = std::string("CLSID\\{") + kComputer + "}\\DefaultIcon\\";
  TCustomIconFileInfo* computer = Find(icons, "My Computer");
  computer->NewLocation = "C:\\c.ico,0";
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, machine), "C:\\c.ico,0");
  computer->NewLocation = "#DEFAULT#";
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, machine), "%SystemRoot%\\System32\\shell32.dll,15");
}

TEST_F(IconTable, WindowsXPWritesTheUsersShellKeys) {
  TCustomIconList icons = Load(vXP);
  auto shellKey = [](const char* clsid) {
    return std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\CLSID\\{") + clsid + "}\\DefaultIcon";
  };
  TCustomIconFileInfo* computer = Find(icons, "My Computer");
  computer->NewLocation = "C:\\c.ico,0";
  TCustomIconFileInfo* docs = Find(icons, "My Documents");
  docs->NewLocation = "#DEFAULT#";
  TCustomIconFileInfo* panel = Find(icons, "Control Panel");
  panel->NewLocation = "C:\\p.ico,0";
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, shellKey(kComputer) + "\\"), "C:\\c.ico,0");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, shellKey("450d8fba-ad25-11d0-98a8-0800361b1103") + "\\"),
            "%SystemRoot%\\System32\\mydocs.dll,0");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER,
                               "Software\\Classes\\CLSID\\{21EC2020-3AEA-1069-A2DD-08002B30309D}\\DefaultIcon\\"),
            "C:\\p.ico,0");
  computer->NewLocation = "#DEFAULT#";
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, shellKey(kComputer)));
  // The Recycle Bin's restore writes its default back as a value.
  TCustomIconFileInfo* empty = Find(icons, "Recycle Bin (Empty)");
  empty->NewLocation = "#DEFAULT#";
  ApplyIconTable(icons, TIconTableVersion::Current(), false);
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, shellKey(kBin) + "\\empty"), "%SystemRoot%\\System32\\shell32.dll,31");
}

TEST_F(IconTable, ARegistryErrorEndsTheApplyWithTheChoiceStillPending) {
  TCustomIconList icons = Load(v7);
  TCustomIconFileInfo* computer = Find(icons, "My Computer");
  const std::string before = computer->IconLocation;
  computer->NewLocation = "C:\\c.ico,0";
  SetRegistryRootWritable(HKEY_CURRENT_USER, false);
  EXPECT_THROW(ApplyIconTable(icons, TIconTableVersion::Current(), false), Exception);
  EXPECT_EQ(computer->IconLocation, before);
  EXPECT_EQ(computer->NewLocation, "C:\\c.ico,0");
  SetRegistryRootWritable(HKEY_CURRENT_USER, true);
  SetRegistryRootWritable(HKEY_LOCAL_MACHINE, false);
  Find(icons, "Hard Drive")->NewLocation = "C:\\h.ico,0";
  computer->NewLocation.clear();
  EXPECT_THROW(ApplyIconTable(icons, TIconTableVersion::Current(), false), Exception);
  EXPECT_EQ(Find(icons, "Hard Drive")->NewLocation, "C:\\h.ico,0");
}

TEST(ColorizedIconNames, KeepLettersDigitsDashAndUnderscore) {
  EXPECT_EQ(MakeColorizedIconName(kCustomIcons[2]), "RecycleFull");
  EXPECT_EQ(MakeColorizedIconName(kCustomIcons[23]), "FloppyDrive525");
  EXPECT_EQ(MakeColorizedIconName(kCustomIcons[28]), "NetworkDriveOffline");
}

}  // namespace
