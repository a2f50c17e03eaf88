#include "app/config_file.h"

#include <algorithm>

#include "base/path_utils.h"
#include "base/registry_helpers.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/system_folders.h"

namespace {

constexpr int kAbsent = -100000;
constexpr int kMaximizedHeight = -1;

struct TCachedName {
  bool Built = false;
  bool Ready = false;
  std::string Name;
};
TCachedName& Cached() {
  static TCachedName cached;
  return cached;
}

}  // namespace

std::string BuildConfigFileName(bool& ready) {
  // The user's settings folder ($XDG_CONFIG_HOME, else ~/.config, as the
  // profile's application-data folder names it); made when a fresh home has
  // none yet. The program's own folder is never written: an installed program
  // may not, and the settings would be shared by every user.
  std::string appData = RemoveTrailingBackslash(GetAppDataDir());
  if (appData.empty()) appData = GetAppDataFolder();
  const std::string folder = appData + "\\quorvane";
  ready = DirectoryExists(folder) || ForceDirectories(folder);
  return folder + "\\config.ini";
}

const std::string& GetConfigFileName() {
  TCachedName& c = Cached();
  if (!c.Built) {
    c.Name = BuildConfigFileName(c.Ready);
    c.Built = true;
  }
  return c.Name;
}

bool ConfigFolderReady() {
  GetConfigFileName();
  return Cached().Ready;
}

void ResetConfigFileName() { Cached() = TCachedName(); }

TConfigFile::TConfigFile(const std::string& fileName, bool folderReady) : FIni(fileName), FInMemory(!folderReady) {}

std::unique_ptr<TConfigFile> TConfigFile::Open() {
  const std::string& name = GetConfigFileName();
  return std::make_unique<TConfigFile>(name, ConfigFolderReady());
}

bool TConfigFile::Remembered(const std::string& section, const std::string& key, std::string& value) const {
  const auto it = FMemory.find({section, key});
  if (it == FMemory.end()) return false;
  value = it->second;
  return true;
}

std::string TConfigFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  std::string v;
  if (Remembered(section, key, v)) return v;
  try {
    return FIni.ReadString(section, key, def);
  } catch (const std::exception&) {
    return def;
  }
}

int32_t TConfigFile::ReadInteger(const std::string& section, const std::string& key, int32_t def) const {
  return StrToIntDef(ReadString(section, key, IntToStr(def)), def);
}

bool TConfigFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TConfigFile::Write(const std::string& section, const std::string& key, const std::string& value,
                        const std::function<void()>& toFile) {
  if (!FInMemory) {
    try {
      toFile();
      return;
    } catch (const std::exception&) {
      // The INI class raises its own error, and the stream library its own
      // for a name it cannot read; either way the value stays in memory.
      FInMemory = true;
    }
  }
  FMemory[{section, key}] = value;
}

void TConfigFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  Write(section, key, value, [&] { FIni.WriteString(section, key, value); });
}

void TConfigFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  Write(section, key, IntToStr(value), [&] { FIni.WriteInteger(section, key, value); });
}

void TConfigFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  Write(section, key, value ? "1" : "0", [&] { FIni.WriteBool(section, key, value); });
}

std::string TConfigFile::TakeNotice() {
  if (!FInMemory || FNoticeGiven) return {};
  FNoticeGiven = true;
  return "Settings cannot be saved to " + FileName() + "; they are kept until the program ends.";
}

bool LoadWindowPlacement(const TConfigFile& ini, const std::string& section, TWindowPlacement& window, bool def,
                         int screenWidth, int screenHeight, const std::function<void()>& maximizeWithoutAnimation) {
  const bool save = ini.ReadBool(section, "SaveWinSize", def);
  if (window.Maximized) {
    if (maximizeWithoutAnimation) maximizeWithoutAnimation();
    return save;
  }
  if (!save) return save;
  const int h = ini.ReadInteger(section, "WinHeight", 0);
  const int w = ini.ReadInteger(section, "WinWidth", 0);
  int l = ini.ReadInteger(section, "WinLeft", kAbsent);
  int t = ini.ReadInteger(section, "WinTop", kAbsent);
  if (h == kMaximizedHeight) {
    window.Maximized = true;
    return save;
  }
  if (h >= 100) window.Height = std::min(h, screenHeight);
  if (w >= 100) window.Width = std::min(w, screenWidth);
  if (l != kAbsent) {
    l = std::min(l, screenWidth - window.Width / 4);
    window.Left = std::max(l, (-3 * window.Width) / 4);
    window.PositionDesigned = true;
  }
  if (t != kAbsent) {
    t = std::min(t, screenHeight - window.Height / 4);
    window.Top = std::max(t, -5);
    window.PositionDesigned = true;
  }
  return save;
}

void SaveWindowPlacement(TConfigFile& ini, const std::string& section, const TWindowPlacement& window, bool save) {
  ini.WriteBool(section, "SaveWinSize", save);
  if (!save) return;
  if (window.Maximized) {
    ini.WriteInteger(section, "WinHeight", kMaximizedHeight);
    return;
  }
  ini.WriteInteger(section, "WinHeight", window.Height);
  ini.WriteInteger(section, "WinWidth", window.Width);
  ini.WriteInteger(section, "WinLeft", window.Left);
  ini.WriteInteger(section, "WinTop", window.Top);
}

void LoadMainWindowSettings(const TConfigFile& ini, TMainWindowSettings& settings, TWindowPlacement& window,
                            int screenWidth, int screenHeight, const std::function<void()>& maximizeWithoutAnimation) {
  settings.PasteImageAs = ini.ReadInteger("Cfg", "PasteImageAs", 0);
  LoadWindowPlacement(ini, "Cfg", window, true, screenWidth, screenHeight, maximizeWithoutAnimation);
}

void SaveMainWindowSettings(TConfigFile& ini, const TMainWindowSettings& settings, const TWindowPlacement& window) {
  ini.WriteInteger("Cfg", "PasteImageAs", settings.PasteImageAs);
  SaveWindowPlacement(ini, "Cfg", window, true);
  if (!settings.LastOpen.empty()) ini.WriteString("Last", "Open", settings.LastOpen);
}
