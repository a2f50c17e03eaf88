// Icon locations of the shell over the seeded model: parsing and splitting,
// placeholders, stock icons and overrides, drive types, icons loaded from
// locations, and the Windows version tests.
#include <gtest/gtest.h>

#include "app/customize/folder_icons.h"
#include "app/customize/shell_icon_locations.h"
#include "app/customize/shell_refresh.h"
#include "customize_model.h"
#include "platform/graphics/gdi.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/window_list.h"
#include "platform/win/kernel_files.h"

using namespace customizetest;

namespace {

class ShellIconLocations : public CustomizeModel {};

TEST_F(ShellIconLocations, ParseIconLocationReadsFileAndIndex) {
  ForceDirectories("C:\\Windows\\Fonts, old");
  struct Case {
    const char* location;
    bool named;
    const char* file;
    int index;
  } cases[] = {
      {"%SystemRoot%\\System32\\shell32.dll,-137", true, "C:\\Windows\\System32\\shell32.dll", -137},
      // -1 is the icon resource 1, not "no icon".
      {"C:\\Windows\\System32\\shell32.dll,-1", true, "C:\\Windows\\System32\\shell32.dll", -1},
      {"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\"", true,
       "C:\\Program Files\\Internet Explorer\\iexplore.exe", 0},
      {"C:\\Windows\\EXPLORER.EXE", true, "C:\\Windows\\EXPLORER.EXE", 0},
      {"", false, "", -1},
      // A comma inside a folder name and no dot after it: the text before it, no icon.
      {"C:\\Windows\\Fonts, old\\x", false, "C:\\Windows\\Fonts", -1},
      {"shell32.dll, 5 ", true, "C:\\Windows\\System32\\shell32.dll", 5},
      {"EXPLORER.EXE,2", true, "C:\\Windows\\EXPLORER.EXE", 2},
      {"nothere.dll,3", true, "nothere.dll", 3},
      {"%systemroot%\\x.dll,1", true, "%systemroot%\\x.dll", 1},
      {"%SystemDrive%x.dll,abc", false, "C:\\x.dll", -1},
  };
  for (const Case& c : cases) {
    std::string file;
    int index = 7;
    EXPECT_EQ(ParseIconLocation(c.location, file, index), c.named) << c.location;
    EXPECT_EQ(file, c.file) << c.location;
    EXPECT_EQ(index, c.index) << c.location;
  }
}

TEST_F(ShellIconLocations, SplitIconLocationKeepsTheIndexTextAndSeesOwnIcons) {
  struct Case {
    const char* location;
    const char* file;
    const char* indexText;
    bool fromFile;
  } cases[] = {
      {"%1", "", "1", true},
      {"%SystemRoot%\\System32\\shell32.dll,-137", "C:\\Windows\\System32\\shell32.dll", "-137", false},
      {"shell32.dll", "C:\\Windows\\System32\\shell32.dll", "", false},
      {"a.b,c.d,4", "a.b,c.d", "4", false},
      {"", "", "", false},
  };
  for (const Case& c : cases) {
    std::string file, indexText;
    bool fromFile = !c.fromFile;
    SplitIconLocation(c.location, file, indexText, fromFile);
    EXPECT_EQ(file, c.file) << c.location;
    EXPECT_EQ(indexText, c.indexText) << c.location;
    EXPECT_EQ(fromFile, c.fromFile) << c.location;
  }
}

TEST_F(ShellIconLocations, StockIconsTheirOverridesAndDriveTypes) {
  std::string file;
  int index = 0;
  GetShellIconLocation(8, file, index);
  EXPECT_EQ(file, System32() + "shell32.dll");
  EXPECT_EQ(index, 8);
  WriteRegistryString(HKEY_LOCAL_MACHINE, std::string(kShellIconsKey) + "\\8", "%SystemRoot%\\EXPLORER.EXE,3");
  GetShellIconLocation(8, file, index);
  EXPECT_EQ(file, "C:\\Windows\\EXPLORER.EXE");
  EXPECT_EQ(index, 3);
  // An override whose file is missing falls back to the shell's own icon.
  WriteRegistryString(HKEY_LOCAL_MACHINE, std::string(kShellIconsKey) + "\\8", "C:\\gone.dll,3");
  GetShellIconLocation(8, file, index);
  EXPECT_EQ(index, 8);
  SetModelDrive('E', DRIVE_REMOVABLE);
  SetModelDrive('F', DRIVE_RAMDISK);
  EXPECT_EQ(DriveTypeStockNumber("C:\\"), 8);
  EXPECT_EQ(DriveTypeStockNumber("D:\\"), 11);
  EXPECT_EQ(DriveTypeStockNumber("e:\\x"), 7);
  EXPECT_EQ(DriveTypeStockNumber("F:"), 12);
  EXPECT_EQ(DriveTypeStockNumber("Q:\\"), 10);
  SetModelDrive('E', DRIVE_NO_ROOT_DIR);
  SetModelDrive('F', DRIVE_NO_ROOT_DIR);
}

TEST_F(ShellIconLocations, IconsFromLocationsWithTheFirstIconAsFallback) {
  HICON a = ExtractIconFromLocation("%SystemRoot%\\System32\\shell32.dll,-137");
  HICON b = ExtractIconFromLocation("shell32.dll,5");
  HICON missing = ExtractIconFromLocation("C:\\none.dll,1");
  // A position past the end falls back to icon 0, kept on purpose.
  HICON past = ExtractIconFromFile(System32() + "shell32.dll", 400);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(missing, nullptr);
  EXPECT_NE(past, nullptr);
  EXPECT_EQ(ExtractIconFromLocation(""), nullptr);
  for (HICON h : {a, b, past}) DestroyIcon(h);
  HICON fallback = GetFallbackIcon();
  EXPECT_NE(fallback, nullptr);
  DestroyIcon(fallback);

  TAdvancedIcon icon;
  LoadIconFromLocation(System32() + "shell32.dll", "-137", &icon);
  EXPECT_EQ(icon.Count(), 3);
  LoadIconFromLocation(System32() + "shell32.dll", "999", &icon);
  EXPECT_EQ(icon.Count(), 0);
  LoadIconFromLocation(System32() + "shell32.dll", "x", &icon);
  EXPECT_EQ(icon.Count(), 0);
}

TEST_F(ShellIconLocations, CopyIconToFileWritesTheIconOrRefuses) {
  const std::string dest = "C:\\copy.ico";
  EXPECT_TRUE(CopyIconToFile(System32() + "shell32.dll", -138, dest));
  TAdvancedIcon icon;
  ASSERT_TRUE(icon.LoadFromFile(dest));
  EXPECT_EQ(icon.Count(), 3);
  // An icon file is copied as it is; the target keeps its attributes.
  ASSERT_TRUE(CopyIconToFile(dest, 0, "C:\\copy2.ico"));
  SetFileAttributes("C:\\copy2.ico", FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(CopyIconToFile(System32() + "shell32.dll", 3, "C:\\copy2.ico"));
  EXPECT_EQ(GetFileAttributes("C:\\copy2.ico") & FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(CopyIconToFile(System32() + "shell32.dll", -5000, "C:\\none.ico"));
  EXPECT_FALSE(FileExists("C:\\none.ico"));
}

TEST_F(ShellIconLocations, VersionTests) {
  struct Case {
    TVersion version;
    bool is95, is98, isNT5;
  } cases[] = {{v95, true, false, false}, {v98, false, true, false}, {v2000, false, false, true},
               {vXP, false, false, true}, {v7, false, false, false}};
  for (const Case& c : cases) {
    UseVersion(c.version);
    EXPECT_EQ(IsWindows95(), c.is95) << VersionName(c.version);
    EXPECT_EQ(IsWindows98(), c.is98) << VersionName(c.version);
    EXPECT_EQ(IsWindowsNT5(), c.isNT5) << VersionName(c.version);
  }
  // Without a version text the minor version decides.
  UseVersion(v98);
  DeleteRegistryValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Version");
  EXPECT_TRUE(IsWindows98());
  EXPECT_FALSE(IsWindows95());
}

TEST_F(ShellIconLocations, ConfinementKeepsPathsInsideTheModel) {
  std::filesystem::create_directory_symlink("/tmp", Native("C:\\") + "/out");
  ForceDirectories("C:\\In");
  for (const char* outside : {"/tmp", "C:\\..\\..", "C:\\out", "C:\\out\\x", "relative", ""})
    EXPECT_FALSE(IsInsideWindowsModel(outside)) << outside;
  for (const char* inside : {"C:\\In", "C:\\In\\..\\In", "C:\\", "D:\\", "C:\\not yet"})
    EXPECT_TRUE(IsInsideWindowsModel(inside)) << inside;
}

// ---- refresh, cache, restart ----

struct TIniChangeCounter : public TForm {
  explicit TIniChangeCounter(TComponent* owner) : TForm(owner) {}
  void WndProc(TMessage& m) override {
    if (m.Msg == WM_WININICHANGE) ++Count;
    TForm::WndProc(m);
  }
  int Count = 0;
};

TEST_F(ShellIconLocations, RebuildIconCacheBumpsTheSizeAndBroadcasts) {
  auto* window = new TIniChangeCounter(Application);
  qvtest::WriteFileBytes(Native(GetShellIconCacheFile()), {1});
  const std::string sizeValue = std::string(kWindowMetricsKey) + "\\Shell Icon Size";
  RebuildIconCache();
  EXPECT_FALSE(FileExists(GetShellIconCacheFile()));
  // Absent before: 33 was written, then 32 (kept so).
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, sizeValue), "32");
  // Two broadcasts and the desktop's refresh, which falls back to a third.
  EXPECT_EQ(window->Count, 3);
  WriteRegistryString(HKEY_CURRENT_USER, sizeValue, "48");
  RebuildIconCache();
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, sizeValue), "48");
  EXPECT_EQ(window->Count, 6);
}

TEST_F(ShellIconLocations, RestartAsksAndNeverForcesOtherProgramsClosed) {
  for (int answer : {IDNO, IDYES}) {
    Headless().Then([&] {
      if (answer == IDYES) Screen->ActiveForm()->SaveToPng(OutputFile("customize_restart_question.png"));
      ClickButton(Screen->ActiveForm(), answer == IDYES ? "Yes" : "No");
    });
    AskRestartWindows();
  }
  ASSERT_EQ(ExitWindowsLog().size(), 1u);
  EXPECT_EQ(ExitWindowsLog()[0].Flags, EWX_REBOOT);
}

TEST_F(ShellIconLocations, ShortcutOverlayIsTheValueOfLnkfile) {
  EXPECT_TRUE(GetShortcutOverlay());
  EXPECT_TRUE(SetShortcutOverlay(false));
  EXPECT_FALSE(GetShortcutOverlay());
  EXPECT_TRUE(SetShortcutOverlay(true));
  EXPECT_TRUE(GetShortcutOverlay());
  SetRegistryRootWritable(HKEY_CLASSES_ROOT, false);
  EXPECT_FALSE(SetShortcutOverlay(false));
  EXPECT_TRUE(GetShortcutOverlay());
}

}  // namespace

namespace {

// Hostile location texts and configuration files, and the seeds of the
// fuzz target that feeds the same readers.
struct THostile {
  const char* name;
  uint8_t mode;  // 0 location, 1 desktop.ini, 2 Autorun.inf (the fuzz target's first byte)
  std::string text;
};

std::vector<THostile> HostileInputs() {
  return {
      {"quotes.txt", 0, "\"\""},
      {"quote.txt", 0, "\""},
      {"commas.txt", 0, std::string(300, ',')},
      {"own_icon.txt", 0, "%1"},
      {"large.txt", 0, std::string(10240, 'a') + ",3"},
      {"placeholders.txt", 0, "%SystemRoot%\\%WinDir%\\%SystemDrive%shell32.dll,-137"},
      {"desktop.ini", 1, "[.ShellClassInfo]\r\nIconFile=%SystemRoot%\\System32\\shell32.dll\r\nIconIndex=-137\r\n"},
      {"broken_desktop.ini", 1, std::string("[.ShellClassInfo\n=\nIconFile\nIconIndex=99999999999999999999\n\0\xff", 64)},
      {"autorun.inf", 2, "[AutoRun]\r\nicon=AutoRunE.ico,0\r\nopen=setup.exe\r\n"},
      {"broken_autorun.inf", 2, "[AutoRun]\nicon=" + std::string(5000, ',') + "\n[AutoRun\n"},
  };
}

TEST_F(ShellIconLocations, HostileLocationsAndFilesGiveNoIconAndNoCrash) {
  SetModelDrive('E', DRIVE_REMOVABLE);
  ForceDirectories("C:\\F");
  for (const THostile& h : HostileInputs()) {
    std::string file, indexText;
    int index = 0;
    bool fromFile = false;
    if (h.mode == 0) {
      ParseIconLocation(h.text, file, index);
      SplitIconLocation(h.text, file, indexText, fromFile);
      HICON icon = ExtractIconFromLocation(h.text);
      if (h.text != "%SystemRoot%\\%WinDir%\\%SystemDrive%shell32.dll,-137") {
        EXPECT_EQ(icon, nullptr) << h.name;
      }
      if (icon) DestroyIcon(icon);
    } else {
      qvtest::WriteFileBytes(Native(h.mode == 1 ? "C:\\F\\desktop.ini" : "E:\\Autorun.inf"),
                             std::vector<uint8_t>(h.text.begin(), h.text.end()));
      const bool found = h.mode == 1 ? GetFolderIconLocation("C:\\F", file, index) : GetDriveIconLocation("E:\\", file, index);
      EXPECT_EQ(found, std::string(h.name) == "desktop.ini") << h.name;
    }
  }
  std::string file;
  int index = 0;
  EXPECT_TRUE(ParseIconLocation("\"\"", file, index));
  EXPECT_EQ(file, "\"\"");
  EXPECT_FALSE(ParseIconLocation(std::string(300, ','), file, index));
  SetModelDrive('E', DRIVE_NO_ROOT_DIR);
}

TEST(FuzzSeeds, IconLocationSeedsWrittenWhenAskedAndPresent) {
  const std::filesystem::path corpus =
      std::getenv("QV_WRITE_FUZZ_SEEDS") && *std::getenv("QV_WRITE_FUZZ_SEEDS")
          ? std::filesystem::path(std::getenv("QV_WRITE_FUZZ_SEEDS"))
          : std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus";
  const bool write = std::getenv("QV_WRITE_FUZZ_SEEDS") && *std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (const THostile& h : HostileInputs()) {
    const std::filesystem::path file = corpus / "icon_locations" / h.name;
    std::vector<uint8_t> bytes(h.text.size() + 1, h.mode);
    std::copy(h.text.begin(), h.text.end(), bytes.begin() + 1);
    if (write) {
      std::filesystem::create_directories(file.parent_path());
      qvtest::WriteFileBytes(file.string(), bytes);
    } else {
      EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
    }
  }
}

}  // namespace
