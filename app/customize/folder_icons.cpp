#include "app/customize/folder_icons.h"

#include "app/customize/shell_icon_locations.h"
#include "app/customize/shell_refresh.h"
#include "base/path_utils.h"
#include "base/registry_helpers.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/inifiles.h"
#include "platform/rtl/strings.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/find_files.h"
#include "platform/ui/dialogs.h"
#include "platform/win/kernel_files.h"

namespace {

constexpr const char* kShellClassInfo = ".ShellClassInfo";
constexpr DWORD kShowAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

std::string WithBackslash(const std::string& folder) {
  return folder.empty() || folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\";
}

std::string WithoutBackslash(const std::string& folder) {
  std::string f = folder;
  while (f.size() > 3 && (f.back() == '\\' || f.back() == '/')) f.pop_back();
  return f;
}

std::string ParentFolder(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return std::string();
  std::string parent = path.substr(0, cut);
  if (parent.size() == 2 && parent[1] == ':') parent += '\\';
  return parent;
}

bool HasFolderPart(const std::string& file) { return file.find_first_of("\\/") != std::string::npos || (file.size() >= 2 && file[1] == ':'); }

// Writes an INI file that Windows keeps hidden or read-only: its attributes are
// cleared for the write and put back afterwards.
void WriteIniKeepingAttributes(const std::string& fileName, const std::function<void(TIniFile&)>& write) {
  const DWORD attributes = GetFileAttributes(fileName.c_str());
  const bool restore = attributes != INVALID_FILE_ATTRIBUTES && (attributes & kShowAttributes);
  if (restore) SetFileAttributes(fileName.c_str(), FILE_ATTRIBUTE_NORMAL);
  try {
    TIniFile ini(fileName);
    write(ini);
  } catch (...) {
    if (restore) SetFileAttributes(fileName.c_str(), attributes);
    throw;
  }
  if (restore) SetFileAttributes(fileName.c_str(), attributes);
}

void AddAttributes(const std::string& file, DWORD add, DWORD remove = 0) {
  DWORD attributes = GetFileAttributes(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  attributes &= ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL);
  attributes = (attributes | add) & ~remove;
  SetFileAttributes(file.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
}

void MarkCustomisedFolder(const std::string& folder) {
  if (IsWindows98()) AddAttributes(folder, FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_READONLY);
  else AddAttributes(folder, FILE_ATTRIBUTE_READONLY);
}

void UnmarkCustomisedFolder(const std::string& folder) {
  if (IsWindows98()) AddAttributes(folder, 0, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
  else AddAttributes(folder, 0, FILE_ATTRIBUTE_READONLY);
}

void WriteDesktopIni(const std::string& folder, const std::string& iconFile, int index) {
  const std::string ini = WithBackslash(folder) + "desktop.ini";
  const bool existed = FileExists(ini);
  WriteIniKeepingAttributes(ini, [&](TIniFile& f) {
    f.WriteString(kShellClassInfo, "IconFile", iconFile);
    f.WriteString(kShellClassInfo, "IconIndex", std::to_string(index));
    if (!f.ValueExists(kShellClassInfo, "ConfirmFileOp")) f.WriteString(kShellClassInfo, "ConfirmFileOp", "0");
    f.WriteString(kShellClassInfo, "OriginalIcon", "%");
  });
  MarkCustomisedFolder(WithoutBackslash(folder));
  if (!existed) AddAttributes(ini, FILE_ATTRIBUTE_HIDDEN);
}

std::string DriveRoot(const std::string& drive) { return drive.empty() ? std::string() : std::string(1, drive[0]) + ":\\"; }

std::string DriveIconsKey(const std::string& drive) {
  return std::string(kDriveIconsKey) + std::string(1, drive[0]) + "\\DefaultIcon\\";
}

// A location read from desktop.ini, Autorun.inf or the DriveIcons key.
void ReadDriveLocation(const std::string& text, const std::string& root, std::string& file, int& index) {
  if (!ParseIconLocation(ExpandShellVars(text), file, index)) {
    file.clear();
    index = -1;
    return;
  }
  if (!file.empty() && !root.empty() && !HasFolderPart(file)) file = root + file;
}

}  // namespace

bool IsDriveRoot(const std::string& path) { return !path.empty() && path.size() <= 3; }

void CheckNotSystemFolder(const std::string& folder) {
  const std::string ini = WithBackslash(folder) + "desktop.ini";
  if (!FileExists(ini)) return;
  TIniFile f(ini);
  if (!f.SectionExists(kShellClassInfo)) return;
  for (const char* key : {"UICLSID", "CLSID2", "CLSID"})
    if (f.ReadString(kShellClassInfo, key, "+") != "+")
      throw Exception("It's a system folder. Customize it with other tabsheets");
}

void CheckFolderInModel(const std::string& folder) {
  const std::string f = WithoutBackslash(folder);
  if (f.empty() || !IsInsideWindowsModel(f) || !DirectoryExists(f)) throw Exception(Format("Folder not found: %s", f));
}

bool GetFolderIconLocation(const std::string& folder, std::string& file, int& index) {
  if (WithBackslash(folder).size() == 3) return GetDriveIconLocation(folder, file, index);
  file.clear();
  index = 0;
  const std::string ini = WithBackslash(folder) + "desktop.ini";
  if (!IsInsideWindowsModel(WithoutBackslash(folder)) || !FileExists(ini)) return false;
  TIniFile f(ini);
  file = f.ReadString(kShellClassInfo, "IconFile", "");
  index = f.ReadInteger(kShellClassInfo, "IconIndex", 0);
  if (file.empty()) return false;
  file = ExpandShellVars(file);
  if (!HasFolderPart(file)) file = WithBackslash(folder) + file;
  return FileExists(file);
}

bool GetDriveIconLocation(const std::string& path, std::string& file, int& index) {
  file.clear();
  index = -1;
  if (path.empty()) return false;
  const std::string root = DriveRoot(path);
  const std::string autorun = root + "Autorun.inf";
  std::string text;
  if (FileExists(autorun)) text = TIniFile(autorun).ReadString("AutoRun", "icon", "");
  if (!text.empty()) {
    ReadDriveLocation(text, root, file, index);
  } else {
    text = ReadRegistryString(HKEY_LOCAL_MACHINE, DriveIconsKey(path));
    if (!text.empty()) ReadDriveLocation(text, "", file, index);
  }
  return !file.empty() && FileExists(file);
}

HICON GetFolderIcon(const std::string& folder) {
  std::string file;
  int index = 0;
  GetFolderIconLocation(folder, file, index);
  const bool root = WithBackslash(folder).size() == 3;
  if (root && file.empty()) GetDriveTypeIconLocation(folder, file, index);
  HICON icon = ExtractIconFromFile(file, index);
  if (!icon && !root) icon = GetDefaultFolderIcon();
  if (!icon) icon = GetFallbackIcon();
  return icon;
}

std::string GetShortName(const std::string& path) {
  WIN32_FIND_DATAA data{};
  HANDLE h = FindFirstFile(path.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  FindClose(h);
  return data.cAlternateFileName[0] ? data.cAlternateFileName : data.cFileName;
}

std::string MakeFolderIconName(const std::string& folder) {
  std::string path = WithoutBackslash(folder);
  std::string name;
  do {
    if (!name.empty()) name = "_" + name;
    name = GetShortName(path) + name;
    path = ParentFolder(path);
  } while (path.size() > 3);
  name = folder.substr(0, 1) + LowerCase(name);
  if (name.size() + folder.size() + 4 >= 260) {
    const long keep = std::max<long>(1, 256 - static_cast<long>(folder.size()));
    name = name.substr(0, static_cast<size_t>(keep));
  }
  return name;
}

void DeleteRegistryKey(HKEY root, const std::string& path) {
  std::string key = path;
  if (!root) ParseRegistryRoot(key, root);
  if (key.empty() || !root) return;
  if (key.back() == '\\') key.pop_back();
  RegDeleteTree(root, key.c_str());
  RegDeleteKey(root, key.c_str());
}

void DeleteFileForced(const std::string& file) {
  if (!FileExists(file)) return;
  SetFileAttributes(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFile(file);
}

void SetFolderIcon(const std::string& folder, const std::string& file, int index, bool copy) {
  if (file.empty()) {
    ClearFolderIcon(folder);
    return;
  }
  if (IsDriveRoot(folder)) {
    SetDriveIcon(folder, file, index, copy);
    return;
  }
  CheckFolderInModel(folder);
  const std::string dir = WithBackslash(folder);
  std::string iconFile = file;
  if (copy) {
    const std::string dest = dir + MakeFolderIconName(folder) + ".ico";
    const bool existed = FileExists(dest);
    if (CopyIconToFile(file, index, dest)) {
      iconFile = ExtractFileName(dest);
      if (!existed) AddAttributes(dest, FILE_ATTRIBUTE_HIDDEN);
      index = 0;
    }
  }
  if (HasFolderPart(iconFile) && SameText(WithBackslash(ExtractFileDir(iconFile)), dir)) iconFile = ExtractFileName(iconFile);
  WriteDesktopIni(folder, iconFile, index);
}

void SetDriveIcon(const std::string& drive, const std::string& file, int index, bool copy) {
  const std::string root = DriveRoot(drive);
  CheckFolderInModel(root);
  const std::string autorun = root + "Autorun.inf";
  const bool existed = FileExists(autorun);
  std::string message;
  std::string iconFile = file;
  if (copy) {
    const std::string name = std::string("AutoRun") + drive[0] + ".ico";
    const std::string dest = root + name;
    const bool destExisted = FileExists(dest);
    try {
      if (CopyIconToFile(file, index, dest)) {
        iconFile = name;
        index = 0;
        if (!destExisted) AddAttributes(dest, FILE_ATTRIBUTE_HIDDEN);
      }
    } catch (const Exception& e) {
      message = e.Message();
    }
  }
  if (HasFolderPart(iconFile) && SameText(WithBackslash(ExtractFileDir(iconFile)), root)) iconFile = ExtractFileName(iconFile);
  std::string value = iconFile + "," + std::to_string(index);
  try {
    WriteIniKeepingAttributes(autorun, [&](TIniFile& f) { f.WriteString("AutoRun", "icon", value); });
    const std::string back = TIniFile(autorun).ReadString("AutoRun", "icon", "");
    if (!existed && back == value) AddAttributes(autorun, FILE_ATTRIBUTE_HIDDEN);
    DeleteRegistryKey(HKEY_LOCAL_MACHINE, DriveIconsKey(drive));
  } catch (...) {
    // A read-only medium keeps its Autorun.inf; the DriveIcons value below still names the icon.
  }
  if (!HasFolderPart(iconFile)) value = root + value;
  WriteRegistryString(HKEY_LOCAL_MACHINE, DriveIconsKey(drive), value);
  if (!message.empty()) ShowMessage(message);
}

void SetFolderIconFromIcon(const std::string& folder, TAdvancedIcon* icon) {
  if (!icon) {
    ClearFolderIcon(folder);
    return;
  }
  CheckFolderInModel(folder);
  const std::string dest = WithBackslash(folder) + MakeFolderIconName(folder) + ".ico";
  // Written beside and renamed over the old icon: a failed write leaves the
  // folder's icon and desktop.ini as they were.
  SaveIconReplacing(*icon, dest, FILE_ATTRIBUTE_HIDDEN);
  if (IsDriveRoot(folder)) {
    SetDriveIcon(folder, dest, 0, false);
    return;
  }
  WriteDesktopIni(folder, ExtractFileName(dest), 0);
}

void ClearFolderIcon(const std::string& folder) {
  if (IsDriveRoot(folder)) {
    ClearDriveIcon(folder);
    return;
  }
  CheckFolderInModel(folder);
  const std::string ini = WithBackslash(folder) + "desktop.ini";
  if (!FileExists(ini)) return;
  WriteIniKeepingAttributes(ini, [](TIniFile& f) {
    f.DeleteKey(kShellClassInfo, "IconFile");
    f.DeleteKey(kShellClassInfo, "IconIndex");
  });
  UnmarkCustomisedFolder(WithoutBackslash(folder));
}

void ClearDriveIcon(const std::string& drive) {
  const std::string root = DriveRoot(drive);
  CheckFolderInModel(root);
  const std::string autorun = root + "Autorun.inf";
  if (FileExists(autorun)) {
    // Only the icon is ours: what else the file says (the program to start,
    // the label) stays, and the file goes only when nothing is left in it.
    WriteIniKeepingAttributes(autorun, [](TIniFile& f) { f.DeleteKey("AutoRun", "icon"); });
    TIniFile f(autorun);
    TStringList sections;
    f.ReadSections(&sections);
    bool empty = true;
    for (int i = 0; i < sections.Count() && empty; ++i) {
      TStringList keys;
      f.ReadSection(sections.Strings(i), &keys);
      if (keys.Count() > 0) empty = false;
    }
    if (empty) DeleteFileForced(autorun);
  }
  DeleteRegistryKey(HKEY_LOCAL_MACHINE, DriveIconsKey(drive));
}

void ApplyFolderWrite(const std::string& folder, const std::function<void()>& write) {
  std::string beforeFile, afterFile;
  int beforeIndex = 0, afterIndex = 0;
  GetFolderIconLocation(folder, beforeFile, beforeIndex);
  write();
  GetFolderIconLocation(folder, afterFile, afterIndex);
  const bool same = SameText(beforeFile, afterFile) && beforeIndex == afterIndex;
  const bool removed = afterFile.empty() && !beforeFile.empty();
  if (same || removed) RebuildIconCache();
  RefreshDesktop();
}
