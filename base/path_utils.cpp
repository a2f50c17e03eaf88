#include "base/path_utils.h"

#include <cctype>

#include "platform/rtl/paths.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/system_folders.h"

bool IsPathSeparatorChar(char c) { return c == '\\' || c == '/'; }

namespace {

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
  if (tail.size() > text.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    const auto a = static_cast<unsigned char>(text[text.size() - tail.size() + i]);
    const auto b = static_cast<unsigned char>(tail[i]);
    if (std::tolower(a) != std::tolower(b)) return false;
  }
  return true;
}

// The index of the dot that starts the name's extension, or npos: the last dot
// behind the last separator or drive colon.
size_t ExtensionDot(const std::string& name) {
  for (size_t i = name.size(); i-- > 0;) {
    if (name[i] == '.') return i;
    if (IsPathSeparatorChar(name[i]) || name[i] == ':') break;
  }
  return std::string::npos;
}

// ext with a dot in front, or "" when ext names no extension.
std::string NormalisedExtension(const std::string& ext, bool starMeansNone) {
  if (ext.empty() || ext == "." || (starMeansNone && ext == "*")) return {};
  return ext.front() == '.' ? ext : "." + ext;
}

}  // namespace

std::string AddTrailingBackslash(const std::string& path) {
  if (path.empty()) return path;
  const char last = path.back();
  if (last == ':' || IsPathSeparatorChar(last)) return path;
  if (path.size() == 1 && IsDriveLetter(path[0])) return path + ":\\";
  return path + "\\";
}

std::string EnsureTrailingBackslash(const std::string& path) { return AddTrailingBackslash(path); }

std::string RemoveTrailingBackslash(const std::string& path) {
  std::string result = AddTrailingBackslash(path);
  // A bare drive ("C:") comes out as its root, like a bare drive letter does.
  if (result.size() == 2 && result[1] == ':') result += '\\';
  if (result.size() > 3) result.pop_back();
  return result;
}

std::string GetDriveRoot(const std::string& path) {
  // A native absolute path has no drive letter: its root is "/".
  if (!path.empty() && path[0] == '/') return "/";
  // The directory part: up to the last separator or colon, keeping a separator
  // that follows a drive colon.
  size_t cut = std::string::npos;
  for (size_t i = path.size(); i-- > 0;)
    if (IsPathSeparatorChar(path[i]) || path[i] == ':') {
      cut = i;
      break;
    }
  std::string dir;
  if (cut != std::string::npos) {
    size_t end = cut + 1;
    if (IsPathSeparatorChar(path[cut]) && cut > 0 && path[cut - 1] != ':' && !IsPathSeparatorChar(path[cut - 1])) end = cut;
    dir = path.substr(0, end);
  }
  if (dir.empty()) {
    dir = GetCurrentDir();
    if (!dir.empty() && dir[0] == '/') return "/";
  }
  if (dir.size() == 2 && dir[1] == ':') dir += '\\';
  return dir.substr(0, 3);
}

std::string AppendExtension(const std::string& name, const std::string& ext) {
  std::string result = name;
  if (!result.empty() && result.back() == '.') result.pop_back();
  const std::string dotted = NormalisedExtension(ext, true);
  if (dotted.empty() || EndsWithNoCase(result, dotted)) return result;
  return result + dotted;
}

std::string ApplyDefaultExtension(const std::string& name, const std::string& ext) {
  const size_t dot = ExtensionDot(name);
  if (dot != std::string::npos && dot + 1 < name.size()) return name;
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  return stem + NormalisedExtension(ext, false);
}

std::string GetLowerExtension(const std::string& name) {
  for (size_t i = name.size(); i-- > 0;) {
    if (IsPathSeparatorChar(name[i])) return {};
    if (name[i] == '.') {
      std::string ext = name.substr(i + 1);
      for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return ext;
    }
  }
  return {};
}

std::string RemoveTrailingSlash(const std::string& text) {
  if (!text.empty() && IsPathSeparatorChar(text.back())) return text.substr(0, text.size() - 1);
  return text;
}

std::string GetApplicationDir() {
  // The program lives in a native folder, so its separator is the native one.
  const std::string dir = ExtractFileDir(GetProgramFileName());
  return dir.empty() ? dir : IncludeTrailingPathDelimiter(dir);
}

namespace {

// The Windows calls fill a buffer of 261 characters.
constexpr UINT kPathBuffer = 261;

std::string FolderFrom(UINT (*call)(char*, UINT)) {
  char buffer[kPathBuffer] = {};
  const UINT n = call(buffer, kPathBuffer);
  if (n == 0 || n >= kPathBuffer) return {};
  return AddTrailingBackslash(std::string(buffer, n));
}

}  // namespace

std::string GetWindowsDir() { return FolderFrom(&GetWindowsDirectory); }
std::string GetSystemDir() { return FolderFrom(&GetSystemDirectory); }

std::string GetTempDir() {
  char buffer[kPathBuffer] = {};
  const DWORD n = GetTempPath(kPathBuffer, buffer);
  const std::string temp = n > 0 && n < kPathBuffer ? std::string(buffer, n) : std::string();
  if (!temp.empty() && GetDriveType(GetDriveRoot(temp).c_str()) == DRIVE_FIXED) return temp;
  return GetDriveRoot(GetWindowsDir());
}

int64_t FileSizeOf(const std::string& name) {
  // A folder is found as well, with no size of its own.
  if (name.empty()) return -1;
  if (DirectoryExists(name)) return 0;
  return FileGetSize(name);
}

std::string DriveIndexToRoot(int n) { return std::string(1, static_cast<char>(n + 65)) + ":\\"; }

std::string FindExistingParentDir(const std::string& path) {
  std::string dir = RemoveTrailingBackslash(path);
  for (int step = 0; step < 21; ++step) {
    if (!dir.empty() && DirectoryExists(dir)) return dir;
    if (!dir.empty() && IsPathSeparatorChar(dir.back())) break;
    size_t cut = std::string::npos;
    for (size_t i = dir.size(); i-- > 0;)
      if (IsPathSeparatorChar(dir[i]) || dir[i] == ':') {
        cut = i;
        break;
      }
    if (cut == std::string::npos) {
      dir.clear();
    } else if (dir[cut] == ':') {
      dir = dir.substr(0, cut + 1);
    } else {
      const bool keep = cut > 0 && (dir[cut - 1] == ':' || IsPathSeparatorChar(dir[cut - 1]));
      dir = dir.substr(0, keep ? cut + 1 : cut);
    }
  }
  return {};
}

bool IsDrivePresent(int n) { return (GetLogicalDrives() >> (static_cast<unsigned>(n) % 32)) & 1; }

unsigned GetPathDriveType(const std::string& path) { return GetDriveType(GetDriveRoot(path).c_str()); }

void ListDrives(TStrings* strings, const unsigned* driveTypes, int highIndex, bool include) {
  strings->Clear();
  for (int n = 0; n < 26; ++n) {
    if (!IsDrivePresent(n)) continue;
    const std::string root = DriveIndexToRoot(n);
    const unsigned type = GetDriveType(root.c_str());
    bool matchesAny = false, differsFromAny = false;
    for (int i = 0; i <= highIndex; ++i) {
      if (driveTypes[i] == type) matchesAny = true;
      else differsFromAny = true;
    }
    if (include ? matchesAny : differsFromAny) strings->Add(root);
  }
}
