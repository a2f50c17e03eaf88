#include "base/path_utils.h"

#include <cctype>
#include <filesystem>
#include <system_error>

#include "platform/rtl/paths.h"

namespace fs = std::filesystem;

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
    std::error_code ec;
    dir = fs::current_path(ec).string();
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
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return EnsureTrailingBackslash(exe.parent_path().string());
}

int64_t FileSizeOf(const std::string& name) {
  if (name.empty()) return -1;
  std::error_code ec;
  const fs::path native(NativePath(name));
  const fs::file_status st = fs::status(native, ec);
  if (ec || !fs::exists(st)) return -1;
  if (!fs::is_regular_file(st)) return 0;
  const auto size = fs::file_size(native, ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

std::string DriveIndexToRoot(int n) { return std::string(1, static_cast<char>(n + 65)) + ":\\"; }

std::string FindExistingParentDir(const std::string& path) {
  std::string dir = RemoveTrailingBackslash(path);
  for (int step = 0; step < 21; ++step) {
    std::error_code ec;
    if (!dir.empty() && fs::is_directory(NativePath(dir), ec)) return dir;
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
