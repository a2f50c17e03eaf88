#include "app/customize/file_type_icons.h"

#include <algorithm>
#include <cctype>

#include "app/customize/shell_icon_locations.h"
#include "base/path_utils.h"
#include "base/registry_helpers.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/kernel_files.h"
#include "platform/win/registry.h"

namespace {

std::string WithoutDot(const std::string& extension) {
  return !extension.empty() && extension[0] == '.' ? extension.substr(1) : extension;
}

std::string WithDot(const std::string& extension) {
  return !extension.empty() && extension[0] == '.' ? extension : "." + extension;
}

// Blanks typed around the extension go; control characters stay, to be refused.
std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string DefaultIconPath(const std::string& typeName) { return typeName + "\\DefaultIcon\\"; }
std::string UndoPath(const std::string& typeName) { return typeName + "\\DefaultIcon\\Undo_1"; }

// Reads a value of an existing key without creating anything.
std::string ReadKeyValue(const std::string& key, const std::string& value) {
  HKEY h = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return std::string();
  std::string text;
  DWORD type = 0, size = 0;
  if (RegQueryValueEx(h, value.empty() ? nullptr : value.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    text.resize(size);
    if (RegQueryValueEx(h, value.empty() ? nullptr : value.c_str(), nullptr, &type,
                        reinterpret_cast<BYTE*>(text.data()), &size) == ERROR_SUCCESS)
      text.resize(std::min<size_t>(text.find('\0') == std::string::npos ? size : text.find('\0'), size));
    else
      text.clear();
  }
  RegCloseKey(h);
  return text;
}

bool IsInstalledIconFile(const std::string& location) {
  const std::string folder = std::string(kInstalledIconsFolder) + "\\";
  return location.size() > folder.size() && SameText(location.substr(0, folder.size()), folder) &&
         location.find_first_of("\\/", folder.size()) == std::string::npos && FileExists(location);
}

// The new icon location of the type, keeping the one before as "Undo_1" unless
// that one is an icon this program installed (which would lose the original).
void WriteTypeIcon(const std::string& typeName, const std::string& value) {
  const std::string old = ReadRegistryString(HKEY_CLASSES_ROOT, DefaultIconPath(typeName));
  const std::string undo = ReadRegistryString(HKEY_CLASSES_ROOT, UndoPath(typeName));
  if (!old.empty() && old != undo && !IsInstalledIconFile(old)) WriteRegistryString(HKEY_CLASSES_ROOT, UndoPath(typeName), old);
  WriteRegistryString(HKEY_CLASSES_ROOT, DefaultIconPath(typeName), value);
}

}  // namespace

void ListRegisteredExtensions(TStrings* target) {
  TStringList list;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyEx(HKEY_CLASSES_ROOT, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::string key(name, size);
    if (key.size() < 2 || key[0] != '.') continue;
    const std::string ext = key.substr(1);
    if (ext.size() == 4 && std::all_of(ext.begin(), ext.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    if (ReadKeyValue(key, "").empty()) continue;
    list.Add(ext);
  }
  list.Sort();
  target->Assign(&list);
}

namespace {

// The extension becomes part of a registry key and of a file name: a text that
// could climb out of either is refused like a protected extension.
void CheckExtensionText(const std::string& extension) {
  const std::string ext = LowerCase(WithoutDot(extension));
  bool refused = ext.empty() || ext[0] == '.';
  if (ext.find_first_of("\\/:") != std::string::npos || ext.find("..") != std::string::npos) refused = true;
  if (std::any_of(ext.begin(), ext.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
    refused = true;
  if (refused) throw Exception(Format("You are not allowed to customize icon for .%s extension", ext));
}

}  // namespace

void CheckExtensionAllowed(const std::string& extension) {
  CheckExtensionText(extension);
  const std::string ext = LowerCase(WithoutDot(extension));
  if (ext == "ico" || ext == "cur" || ext == "ani" || ext == "exe")
    throw Exception(Format("You are not allowed to customize icon for .%s extension", ext));
}

std::string GetFileTypeName(const std::string& extension) {
  if (Trim(extension).empty()) return std::string();
  return ReadKeyValue(WithDot(extension), "");
}

bool GetFileTypeIcon(const std::string& extension, std::string& location, std::string& typeName,
                     std::string& contentType) {
  location.clear();
  typeName.clear();
  contentType.clear();
  if (Trim(extension).empty()) return false;
  typeName = ReadKeyValue(WithDot(extension), "");
  contentType = ReadKeyValue(WithDot(extension), "Content Type");
  if (!typeName.empty()) location = ReadKeyValue(typeName + "\\DefaultIcon", "");
  return !location.empty();
}

std::string GetUnknownFileTypeIcon() {
  const std::string value = ReadRegistryString(HKEY_LOCAL_MACHINE, std::string(kShellIconsKey) + "\\0");
  return value.empty() ? GetSystemDir() + "shell32.dll,0" : value;
}

std::string GetBuiltInDefaultIcon(const std::string& extension) {
  const std::string ext = WithoutDot(extension);
  for (const char* own : {"exe", "ico", "cur", "ani", "icl", "nil"})
    if (ext == own) return "%1";
  if (ext == "bmp") {
    if (FileExists(GetWindowsDir() + "mspaint.exe")) return GetWindowsDir() + "mspaint.exe,1";
    if (FileExists(GetSystemDir() + "mspaint.exe")) return GetSystemDir() + "mspaint.exe,1";
    return GetSystemDir() + "mspaint.exe";
  }
  return std::string();
}

std::string GetDefaultFileTypeIcon(const std::string& extension) {
  if (Trim(extension).empty()) return std::string();
  const std::string builtIn = GetBuiltInDefaultIcon(extension);
  if (!builtIn.empty()) return builtIn;
  const std::string typeName = GetFileTypeName(extension);
  return typeName.empty() ? std::string() : ReadKeyValue(typeName + "\\DefaultIcon", "Undo_1");
}

void SetFileTypeIcon(const std::string& file, int index, const std::string& extension) {
  if (file.empty() || Trim(extension).empty()) return;
  CheckExtensionText(extension);
  if (file == "#DEFAULT#") {
    RestoreFileTypeIcon(extension);
    return;
  }
  CheckExtensionAllowed(extension);
  const std::string value = file[0] != '%' && index != 0 ? file + "," + std::to_string(index) : file;
  // Without a file type the key path would start at the root of the classes.
  const std::string typeName = GetFileTypeName(extension);
  if (typeName.empty()) return;
  WriteTypeIcon(typeName, value);
}

void RestoreFileTypeIcon(const std::string& extension) {
  if (Trim(extension).empty()) return;
  CheckExtensionText(extension);
  const std::string typeName = GetFileTypeName(extension);
  if (typeName.empty()) return;
  std::string value = GetBuiltInDefaultIcon(extension);
  if (value.empty()) value = ReadKeyValue(typeName + "\\DefaultIcon", "Undo_1");
  if (value.empty()) return;
  WriteRegistryString(HKEY_CLASSES_ROOT, DefaultIconPath(typeName), value);
  DeleteRegistryValue(HKEY_CLASSES_ROOT, UndoPath(typeName));
}

bool InstallFileTypeIcon(TAdvancedIcon* icon, const std::string& extension) {
  const std::string ext = WithoutDot(TrimBlanks(extension));
  if (ext.empty() || !icon) return false;
  CheckExtensionAllowed(ext);
  const std::string typeName = GetFileTypeName(ext);
  // An icon file that no file type names would be left behind for nothing.
  if (typeName.empty()) return false;
  ForceDirectories(kInstalledIconsFolder);
  const std::string file = std::string(kInstalledIconsFolder) + "\\" + ext + ".ico";
  SaveIconReplacing(*icon, file, FILE_ATTRIBUTE_NORMAL);
  WriteTypeIcon(typeName, file);
  return true;
}

void RestoreInstalledFileTypeIcon(const std::string& extension) {
  const std::string ext = WithoutDot(TrimBlanks(extension));
  if (ext.empty()) return;
  CheckExtensionAllowed(ext);
  const std::string typeName = GetFileTypeName(ext);
  if (typeName.empty()) return;
  const std::string undo = ReadKeyValue(typeName + "\\DefaultIcon", "Undo_1");
  if (undo.empty()) return;
  WriteRegistryString(HKEY_CLASSES_ROOT, DefaultIconPath(typeName), undo);
  DeleteRegistryValue(HKEY_CLASSES_ROOT, UndoPath(typeName));
}
