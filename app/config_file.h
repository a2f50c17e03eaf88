#pragma once
// The settings file "config.ini": where it lives, reading and writing it
// without ever stopping the program over it, and the main window's placement
// and keys.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/rtl/inifiles.h"

// "<application data>\quorvane\config.ini" ($XDG_CONFIG_HOME/quorvane, by
// default ~/.config/quorvane), the folders created when missing; never the
// program's own folder. ready tells whether the folder for the file exists
// afterwards (when not, the settings live in memory for the run).
std::string BuildConfigFileName(bool& ready);
// The name built once and kept for the run.
const std::string& GetConfigFileName();
bool ConfigFolderReady();
// Forgets the kept name (for tests and a changed user profile).
void ResetConfigFileName();

// The settings file. Reads fall back to the defaults; when the folder could not
// be made or a write fails, the values written are kept in memory for the rest
// of the run instead, so that closing the window never fails over its settings.
class TConfigFile {
 public:
  explicit TConfigFile(const std::string& fileName, bool folderReady = true);
  // The file at GetConfigFileName.
  static std::unique_ptr<TConfigFile> Open();

  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

  const std::string& FileName() const { return FIni.FileName(); }
  bool InMemory() const { return FInMemory; }
  // The text telling the user that settings are not stored, once: empty
  // afterwards and while the file works.
  std::string TakeNotice();

 private:
  bool Remembered(const std::string& section, const std::string& key, std::string& value) const;
  void Write(const std::string& section, const std::string& key, const std::string& value,
             const std::function<void()>& toFile);

  TIniFile FIni;
  bool FInMemory = false;
  bool FNoticeGiven = false;
  std::map<std::pair<std::string, std::string>, std::string> FMemory;
};

// The placement of a window as the settings read and write it.
struct TWindowPlacement {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool Maximized = false;
  bool PositionDesigned = false;  // the stored position is used (poDesigned)
};

// Reads "SaveWinSize" (default def) and, when it is true, the size and position
// kept on a screen of screenWidth x screenHeight. A window that is maximised
// already only gets maximizeWithoutAnimation. Returns "SaveWinSize".
bool LoadWindowPlacement(const TConfigFile& ini, const std::string& section, TWindowPlacement& window, bool def,
                         int screenWidth, int screenHeight, const std::function<void()>& maximizeWithoutAnimation);
void SaveWindowPlacement(TConfigFile& ini, const std::string& section, const TWindowPlacement& window, bool save);

// The main window's keys: "PasteImageAs" kept as read, the placement, the last
// opened file.
struct TMainWindowSettings {
  int32_t PasteImageAs = 0;
  std::string LastOpen;
};
void LoadMainWindowSettings(const TConfigFile& ini, TMainWindowSettings& settings, TWindowPlacement& window,
                            int screenWidth, int screenHeight, const std::function<void()>& maximizeWithoutAnimation);
void SaveMainWindowSettings(TConfigFile& ini, const TMainWindowSettings& settings, const TWindowPlacement& window);
