#include "app/customize/shell_icon_locations.h"

#include <filesystem>

#include "base/file_type_sniffer.h"
#include "base/path_utils.h"
#include "base/registry_helpers.h"
#include "base/system_helpers.h"
#include "base/text_utils.h"
#include "icons/icon_library.h"
#include "icons/icon_list.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/kernel_files.h"
#include "platform/win/shell.h"
#include "platform/win/system_folders.h"
#include "platform/win/system_info.h"

namespace {

bool HasDrivePart(const std::string& file) {
  if (file.size() >= 2 && file[1] == ':') return true;
  return file.size() >= 2 && (file[0] == '\\' || file[0] == '/') && (file[1] == '\\' || file[1] == '/');
}

// A bare name is looked for in the system folder, then the Windows folder.
std::string ResolveBareFile(const std::string& file) {
  if (file.empty() || HasDrivePart(file)) return file;
  for (const std::string& folder : {GetSystemDir(), GetWindowsDir()})
    if (FileExists(folder + file)) return folder + file;
  return file;
}

HICON Usable(HICON icon) {
  // ExtractIcon's handle value 1 means "no icons in this file".
  return reinterpret_cast<uintptr_t>(icon) > 1 ? icon : nullptr;
}

}  // namespace

std::string ExpandShellVars(const std::string& location) {
  char buffer[256] = {};
  GetWindowsDirectory(buffer, sizeof buffer);
  const std::string windows = buffer;
  std::string text = ReplaceSubstring(location, "%WinDir%", windows);
  text = ReplaceSubstring(text, "%SystemRoot%", windows);
  if (windows.size() >= 3) text = ReplaceSubstring(text, "%SystemDrive%", windows.substr(0, 3));
  return text;
}

bool ParseIconLocation(const std::string& location, std::string& file, int& index) {
  file.clear();
  index = -1;
  if (location.empty()) return false;
  file = location;
  std::string indexText;
  bool hasIndexText = false;
  for (size_t i = location.size(); i-- > 0;) {
    if (location[i] == ',') {
      indexText = Trim(location.substr(i + 1));
      file = location.substr(0, i);
      hasIndexText = true;
      break;
    }
    if (location[i] == '.') break;
  }
  if (file.size() > 2 && file.front() == '"' && file.back() == '"') file = file.substr(1, file.size() - 2);
  file = ResolveBareFile(ExpandShellVars(file));
  if (!hasIndexText) {
    index = 0;
    return true;
  }
  int32_t value = 0;
  if (!TryStrToInt(indexText, value)) return false;
  index = value;
  return true;
}

void SplitIconLocation(const std::string& location, std::string& file, std::string& indexText, bool& fromFile) {
  file.clear();
  indexText.clear();
  fromFile = false;
  if (location.empty()) return;
  file = ExpandShellVars(location);
  if (!file.empty() && file[0] == '%') {
    indexText = file.substr(1);
    file.clear();
    fromFile = true;
    return;
  }
  const size_t comma = file.rfind(',');
  if (comma != std::string::npos) {
    indexText = Trim(file.substr(comma + 1));
    file = file.substr(0, comma);
  }
  file = ResolveBareFile(file);
}

HICON ExtractIconFromFile(const std::string& file, int index) {
  if (file.empty() || !FileExists(file)) return nullptr;
  HICON icon = Usable(ExtractIcon(nullptr, file.c_str(), static_cast<UINT>(index)));
  if (!icon) icon = Usable(ExtractIcon(nullptr, file.c_str(), 0));
  return icon;
}

HICON ExtractIconFromLocation(const std::string& location) {
  std::string file;
  int index = 0;
  if (!ParseIconLocation(location, file, index)) return nullptr;
  return ExtractIconFromFile(file, index);
}

HICON GetFallbackIcon() { return ExtractIconFromFile(GetSystemDir() + "shell32.dll", 0); }

void GetShellIconLocation(int stockNumber, std::string& file, int& index) {
  file.clear();
  index = 0;
  const std::string value =
      ReadRegistryString(HKEY_LOCAL_MACHINE, std::string(kShellIconsKey) + "\\" + std::to_string(stockNumber));
  bool named = false;
  if (!value.empty()) named = ParseIconLocation(value, file, index);
  if (!named || !FileExists(file)) {
    file = GetSystemDir() + "shell32.dll";
    index = stockNumber;
  }
}

int DriveTypeStockNumber(const std::string& path) {
  const std::string root = path.empty() ? std::string() : std::string(1, path[0]) + ":\\";
  switch (GetDriveType(root.c_str())) {
    case DRIVE_REMOVABLE: return 7;
    case DRIVE_FIXED: return 8;
    case DRIVE_REMOTE: return 9;
    case DRIVE_CDROM: return 11;
    case DRIVE_RAMDISK: return 12;
    default: return 10;
  }
}

void GetDriveTypeIconLocation(const std::string& path, std::string& file, int& index) {
  GetShellIconLocation(DriveTypeStockNumber(path), file, index);
}

HICON GetDefaultFolderIcon() {
  std::string file;
  int index = 0;
  GetShellIconLocation(3, file, index);
  HICON icon = ExtractIconFromFile(file, index);
  return icon ? icon : GetFallbackIcon();
}

HICON GetDefaultDriveIcon(const std::string& path) {
  std::string file;
  int index = 0;
  GetDriveTypeIconLocation(path, file, index);
  HICON icon = ExtractIconFromFile(file, index);
  return icon ? icon : GetFallbackIcon();
}

void LoadIconFromLocation(const std::string& file, const std::string& indexText, TAdvancedIcon* icon) {
  if (!icon) return;
  const std::string text = indexText.empty() ? "0" : indexText;
  icon->Clear();
  if (file.empty() || !FileExists(file)) return;
  TIconLibrary library;
  bool loaded = false;
  try {
    loaded = library.LoadFromFile(file);
  } catch (const Exception&) {
    loaded = false;
  }
  TIconList& list = library.Icons();
  if (!loaded) {
    list.Clear();
    bool tried = false;
    bool added = false;
    if (library.IconGroupCount() <= 0) {
      tried = true;
      auto single = std::make_unique<TAdvancedIcon>();
      try {
        if (single->LoadFromFile(file) && single->Count() > 0) {
          list.AddIcon(ExtractFileName(file), std::move(single));
          added = true;
        }
      } catch (const Exception&) {
      }
    }
    if (!tried || !added) {
      TIconList frames;
      try {
        TAdvancedIcon scratch;
        scratch.LoadFromAniFile(file, 0, &frames);
      } catch (const Exception&) {
      }
      const std::string base = ChangeFileExt(ExtractFileName(file), "");
      for (int i = 0; i < frames.Count(); ++i) {
        std::unique_ptr<TAdvancedIcon> frame = frames.ReleaseIcon(i);
        if (!frame || frame->Count() == 0) continue;
        list.AddIcon(frames.Count() > 1 ? base + std::to_string(i) : base, std::move(frame));
      }
    }
  }
  int position = -1;
  if (text[0] == '-') {
    position = list.IndexOf(text.substr(1));
  } else {
    int32_t value = 0;
    position = TryStrToInt(text, value) ? value : -1;
  }
  if (position >= 0 && position < list.Count() && list.GetIconObject(position))
    icon->Assign(list.GetIconObject(position));
}

std::unique_ptr<TAdvancedIcon> PickLibraryIcon(const std::string& file, int index) {
  TIconLibrary library;
  library.LoadFromFile(file);
  TIconList& list = library.Icons();
  int position = -1;
  if (index < 0) {
    position = list.IndexOf(std::to_string(-static_cast<int64_t>(index)));
  } else if (index < list.Count()) {
    position = index;
  }
  if (position < 0) return nullptr;
  return list.ReleaseIcon(position);
}

bool CopyIconToFile(const std::string& file, int index, const std::string& destination) {
  TSniffedFileType type = 0;
  int32_t sub = 0;
  DetectFileType(file, type, sub);
  DWORD attributes = GetFileAttributes(destination.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) attributes = FILE_ATTRIBUTE_NORMAL;
  if (type == sftIconOrCursor) {
    SetFileAttributes(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
    const BOOL copied = CopyFile(file.c_str(), destination.c_str(), FALSE);
    SetFileAttributes(destination.c_str(), attributes);
    return copied && FileExists(destination);
  }
  std::unique_ptr<TAdvancedIcon> icon = PickLibraryIcon(file, index);
  if (!icon) return false;
  SaveIconReplacing(*icon, destination, FILE_ATTRIBUTE_NORMAL);
  return FileExists(destination);
}

void SaveIconReplacing(TAdvancedIcon& icon, const std::string& destination, DWORD newAttributes) {
  const DWORD old = GetFileAttributes(destination.c_str());
  const std::string temp = destination + ".new";
  try {
    icon.SaveToFile(temp);
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove(NativePath(temp), ec);
    throw;
  }
  std::error_code ec;
  std::filesystem::rename(NativePath(temp), NativePath(destination), ec);
  if (ec) {
    std::filesystem::remove(NativePath(temp), ec);
    throw Exception(Format("Cannot create file \"%s\"", destination));
  }
  SetFileAttributes(destination.c_str(), old != INVALID_FILE_ATTRIBUTES ? old : newAttributes);
}

std::string GetWindowsVersionText() {
  return ReadRegistryString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Version");
}

namespace {

bool IsWin9x(const char* mark, bool highMinor) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionEx(&info)) return false;
  if (info.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS || info.dwMajorVersion != 4) return false;
  const std::string text = GetWindowsVersionText();
  if (text.empty()) return highMinor ? info.dwMinorVersion >= 10 : info.dwMinorVersion < 10;
  return text.find(mark) != std::string::npos;
}

}  // namespace

bool IsWindows95() { return IsWin9x("95", false); }
bool IsWindows98() { return IsWin9x("98", true); }

bool IsWindowsNT5() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionEx(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion == 5;
}

bool IsInsideWindowsModel(const std::string& path) {
  if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0]))) return false;
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path root = fs::weakly_canonical(WindowsModelRoot(), ec);
  if (ec) return false;
  const fs::path target = fs::weakly_canonical(NativePath(path), ec);
  if (ec) return false;
  const fs::path rel = target.lexically_relative(root);
  return !rel.empty() && *rel.begin() != "..";
}
