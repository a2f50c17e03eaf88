#pragma once
// A seeded Windows model of the test's own for the customisers of the desktop's
// icons: the shell library and classes, the file types, drive D as a CD drive,
// and a Windows version the test chooses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "../dialogs/app_ui_test.h"
#include "app/customize/model_seed.h"
#include "app/program_start.h"
#include "base/registry_helpers.h"
#include "platform/rtl/paths.h"
#include "platform/ui/std_ctrls.h"
#include "platform/win/desktop_settings.h"
#include "platform/win/shell.h"
#include "platform/win/system_folders.h"
#include "platform/win/system_info.h"

namespace customizetest {

enum TVersion { v95, v98, v2000, vXP, v7 };

inline const char* VersionName(TVersion v) {
  switch (v) {
    case v95: return "95";
    case v98: return "98";
    case v2000: return "2000";
    case vXP: return "XP";
    default: return "7";
  }
}

inline void UseVersion(TVersion v) {
  TWindowsVersion w;
  std::string text;
  switch (v) {
    case v95: w = {4, 0, 950, VER_PLATFORM_WIN32_WINDOWS, "", 0, 0}; text = "Windows 95"; break;
    case v98: w = {4, 10, 1998, VER_PLATFORM_WIN32_WINDOWS, "", 0, 0}; text = "Windows 98"; break;
    case v2000: w = {5, 0, 2195, VER_PLATFORM_WIN32_NT, "Service Pack 4", 4, 0}; break;
    case vXP: w = {5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3", 3, 0}; break;
    default: break;
  }
  SetWindowsVersion(w);
  if (!text.empty()) WriteRegistryString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Version", text);
}

// Clicks the form's button whose caption, without "&", is the text.
inline bool ClickButton(TWinControl* form, const std::string& caption) {
  if (!form) return false;
  for (int i = 0; i < form->ControlCount(); ++i) {
    TControl* c = form->Controls(i);
    std::string text = c->Caption();
    text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
    if (dynamic_cast<TButton*>(c) && text == caption) {
      headless::Click(c);
      return true;
    }
    if (auto* w = dynamic_cast<TWinControl*>(c))
      if (ClickButton(w, caption)) return true;
  }
  return false;
}

inline std::string ShellLibrary() { return std::string(QV_BINARY_DIR) + "/data/shell32.dll"; }

class CustomizeModel : public AppUiTest {
protected:
  static void SetUpTestSuite() { StartLibraries(); }
  void SetUp() override {
    AppUiTest::SetUp();
    ASSERT_TRUE(SeedWindowsModel(ShellLibrary())) << "data/shell32.dll is built with the program";
    ClearExitWindowsLog();
    ResetSystemParameters();
  }
  void TearDown() override {
    SetWindowsVersion(TWindowsVersion{});
    SetModelDrive('D', DRIVE_NO_ROOT_DIR);
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) SetRegistryRootWritable(root, true);
    AppUiTest::TearDown();
  }
  // The native path of a Windows path of the model.
  static std::string Native(const std::string& windowsPath) { return NativePath(windowsPath); }
  static std::string System32() { return "C:\\Windows\\System32\\"; }
  // Every file below the model root, as relative paths (to see what was written).
  std::vector<std::string> ModelFiles() const {
    std::vector<std::string> files;
    const std::filesystem::path root = WindowsModelRoot();
    for (auto& e : std::filesystem::recursive_directory_iterator(root))
      if (e.is_regular_file()) files.push_back(std::filesystem::relative(e.path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
  }
};

}  // namespace customizetest
