#include "platform/win/system_folders.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/rtl/paths.h"

namespace {

std::mutex gDriveLock;
// Types given to model drives, per model root (tests switch roots).
std::map<std::string, UINT> gDriveTypes;

std::string DriveKey(char letter) { return WindowsModelRoot() + '|' + letter; }

// Copies text with the Windows convention for path results.
DWORD CopyResult(const std::string& text, char* buffer, DWORD size) {
  if (!buffer || size < text.size() + 1) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

std::string ModelFolder(const std::string& windowsPath) {
  std::error_code ec;
  std::filesystem::create_directories(NativePath(windowsPath), ec);
  return windowsPath;
}

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

std::string HomeFolder() { return EnvOr("HOME", "/tmp"); }

bool IsDriveLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

UINT TypeOfLetter(char letter) {
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (letter == 'C') return DRIVE_FIXED;
  {
    std::lock_guard<std::mutex> lock(gDriveLock);
    auto it = gDriveTypes.find(DriveKey(letter));
    if (it != gDriveTypes.end()) return it->second;
  }
  std::error_code ec;
  return std::filesystem::is_directory(NativePath(std::string(1, letter) + ":\\"), ec) ? DRIVE_FIXED
                                                                                       : DRIVE_NO_ROOT_DIR;
}

}  // namespace

UINT GetWindowsDirectory(char* buffer, UINT size) { return CopyResult(ModelFolder("C:\\Windows"), buffer, size); }

UINT GetSystemDirectory(char* buffer, UINT size) {
  return CopyResult(ModelFolder("C:\\Windows\\System32"), buffer, size);
}

DWORD GetTempPath(DWORD size, char* buffer) {
  std::error_code ec;
  std::string temp = std::filesystem::temp_directory_path(ec).string();
  if (ec || temp.empty()) temp = "/tmp";
  if (temp.back() != '/') temp += '/';
  return CopyResult(temp, buffer, size);
}

std::string GetProgramFileName() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

DWORD GetModuleFileName(HMODULE module, char* buffer, DWORD size) {
  std::string path = GetProgramFileName();
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() + 1 > size) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

DWORD GetLogicalDrives() {
  DWORD mask = 0;
  for (int i = 0; i < 26; ++i)
    if (TypeOfLetter(static_cast<char>('A' + i)) != DRIVE_NO_ROOT_DIR) mask |= 1u << i;
  return mask;
}

UINT GetDriveType(const char* rootPathName) {
  if (!rootPathName) return DRIVE_FIXED;  // the current folder is a native one
  std::string root(rootPathName);
  if (root.size() >= 2 && IsDriveLetter(root[0]) && root[1] == ':') {
    if (root.size() == 2 || (root.size() == 3 && (root[2] == '\\' || root[2] == '/'))) return TypeOfLetter(root[0]);
    return DRIVE_NO_ROOT_DIR;
  }
  std::error_code ec;
  if (!root.empty() && root[0] == '/' && std::filesystem::is_directory(root, ec)) return DRIVE_FIXED;
  return DRIVE_NO_ROOT_DIR;
}

std::string GetAppDataFolder() { return EnvOr("XDG_CONFIG_HOME", HomeFolder() + "/.config"); }

BOOL SHGetSpecialFolderPath(HWND owner, char* path, int csidl, BOOL create) {
  if (!path) return FALSE;
  std::string folder;
  switch (csidl & ~CSIDL_FLAG_CREATE) {
    case CSIDL_APPDATA: folder = GetAppDataFolder(); break;
    case CSIDL_LOCAL_APPDATA: folder = EnvOr("XDG_DATA_HOME", HomeFolder() + "/.local/share"); break;
    case CSIDL_PERSONAL: folder = HomeFolder(); break;
    case CSIDL_WINDOWS: folder = "C:\\Windows"; break;
    case CSIDL_SYSTEM: folder = "C:\\Windows\\System32"; break;
    case CSIDL_PROGRAM_FILES: folder = "C:\\Program Files"; break;
    default: return FALSE;
  }
  std::error_code ec;
  if (create || (csidl & CSIDL_FLAG_CREATE)) std::filesystem::create_directories(NativePath(folder), ec);
  if (folder.size() + 1 > MAX_PATH) return FALSE;
  std::memcpy(path, folder.c_str(), folder.size() + 1);
  return TRUE;
}

void SetModelDrive(char letter, UINT type) {
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (letter < 'A' || letter > 'Z' || letter == 'C') return;
  if (type != DRIVE_NO_ROOT_DIR) {
    std::error_code ec;
    std::filesystem::create_directories(NativePath(std::string(1, letter) + ":\\"), ec);
  }
  std::lock_guard<std::mutex> lock(gDriveLock);
  gDriveTypes[DriveKey(letter)] = type;
}
