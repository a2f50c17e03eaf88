#include "app/customize/shell_refresh.h"

#include <cstring>

#include "base/registry_helpers.h"
#include "base/system_helpers.h"
#include "base/ui_windows.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/window_list.h"
#include "platform/ui/windows.h"
#include "platform/win/kernel_files.h"
#include "platform/win/registry.h"
#include "platform/win/system_folders.h"

void CopyIconState(const TCustomIconState& source, TCustomIconState& target) {
  target.Size = source.Size;
  target.BitsPerPixel = source.BitsPerPixel;
  std::memcpy(&target.Metrics, &source.Metrics, sizeof target.Metrics);
  target.ShortcutOverlay = source.ShortcutOverlay;
}

namespace {

BOOL SendIniChange(HWND window, LPARAM) {
  SendMessage(window, WM_WININICHANGE, 0, 0);
  return TRUE;
}

const std::string kIconSizeValue = std::string(kWindowMetricsKey) + "\\Shell Icon Size";

}  // namespace

void BroadcastIniChange() { EnumWindows(SendIniChange, 0); }

bool ApplyActiveDesktop() { return false; }

void RefreshDesktop() {
  if (ApplyActiveDesktop()) return;
  if (HWND desktop = FindWindow("Progman", "Program Manager")) {
    SendMessage(desktop, WM_COMMAND, 0xA065, 0);
    return;
  }
  BroadcastIniChange();
}

std::string GetShellIconCacheFile() {
  char buffer[MAX_PATH] = {};
  GetWindowsDirectory(buffer, MAX_PATH);
  return IncludeTrailingPathDelimiter(buffer) + "ShellIconCache";
}

void RebuildIconCache() {
  ShowBusyCursor();
  try {
    DeleteFile(GetShellIconCacheFile());
    const std::string old = ReadRegistryString(HKEY_CURRENT_USER, kIconSizeValue);
    int32_t size = 0;
    if (!TryStrToInt(old, size)) size = 32;
    WriteRegistryString(HKEY_CURRENT_USER, kIconSizeValue, std::to_string(size + 1));
    BroadcastIniChange();
    WriteRegistryString(HKEY_CURRENT_USER, kIconSizeValue, old.empty() ? "32" : old);
    BroadcastIniChange();
    RefreshDesktop();
  } catch (...) {
    RestoreCursor();
    throw;
  }
  RestoreCursor();
}

void RepairIconCache() {
  const std::string cache = GetShellIconCacheFile();
  if (FileExists(cache) && !DeleteFile(cache)) ShowMessage("Can not erase file: " + cache);
  AskRestartWindows();
}

void AskRestartWindows() {
  if (MessageBox(nullptr, "Restart Windows?", "Query", MB_ICONQUESTION | MB_YESNO) == IDYES) RestartWindows();
}

bool RestartWindows() {
  // EWX_FORCE would close other programs without letting them save their work.
  if (IsWindowsNT()) EnablePrivilege("SeShutdownPrivilege", true);
  return ExitWindowsEx(EWX_REBOOT, 0) != FALSE;
}

bool EnablePrivilege(const std::string& name, bool on) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  bool result = false;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  if (LookupPrivilegeValue(nullptr, name.c_str(), &privileges.Privileges[0].Luid)) {
    privileges.Privileges[0].Attributes = on ? SE_PRIVILEGE_ENABLED : 0;
    TOKEN_PRIVILEGES previous{};
    DWORD length = 0;
    result = AdjustTokenPrivileges(token, FALSE, &privileges, sizeof previous, &previous, &length) != FALSE;
  }
  CloseHandle(token);
  return result;
}

bool GetShortcutOverlay() {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, "lnkfile", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  const bool present = RegQueryValueEx(key, "IsShortcut", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(key);
  return present;
}

bool SetShortcutOverlay(bool on) {
  HKEY key = nullptr;
  if (RegCreateKeyEx(HKEY_CLASSES_ROOT, "lnkfile", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  bool result = false;
  if (on) {
    const BYTE empty[1] = {0};
    RegSetValueEx(key, "IsShortcut", 0, REG_SZ, empty, 1);
    result = RegQueryValueEx(key, "IsShortcut", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  } else {
    result = RegDeleteValue(key, "IsShortcut") == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return result;
}
