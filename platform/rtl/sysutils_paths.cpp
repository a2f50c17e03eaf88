// File names taken apart and put together, as the framework spells them.
#include "platform/rtl/sysutils.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <string_view>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/sysutils_internal.h"

// ---- Paths ----

namespace {
// Plain constants: a std::string here would be built by a static constructor,
// and code that runs in another unit's start-up could see it still empty.
constexpr std::string_view kPathDelims = "\\/:";
constexpr std::string_view kExtDelims = ".\\/:";

int LastDelimiter(std::string_view delimiters, const std::string& s) {
  const size_t p = s.find_last_of(delimiters);
  return p == std::string::npos ? 0 : static_cast<int>(p) + 1;
}
}  // namespace

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

std::string ExtractFilePath(const std::string& fileName) {
  return fileName.substr(0, static_cast<size_t>(LastDelimiter(kPathDelims, fileName)));
}

std::string ExtractFileDir(const std::string& fileName) {
  int i = LastDelimiter(kPathDelims, fileName);
  // Keep the separator of a root ("C:\", "/"); drop any other trailing one.
  if (i > 1 && IsPathSeparator(fileName[static_cast<size_t>(i - 1)]) &&
      kPathDelims.find(fileName[static_cast<size_t>(i - 2)]) == std::string_view::npos)
    --i;
  return fileName.substr(0, static_cast<size_t>(i));
}

std::string ExtractFileName(const std::string& fileName) {
  return fileName.substr(static_cast<size_t>(LastDelimiter(kPathDelims, fileName)));
}

std::string ExtractFileExt(const std::string& fileName) {
  int i = LastDelimiter(kExtDelims, fileName);
  if (i > 0 && fileName[static_cast<size_t>(i - 1)] == '.') return fileName.substr(static_cast<size_t>(i - 1));
  return {};
}

std::string ExtractFileDrive(const std::string& fileName) {
  if (fileName.size() >= 2 && fileName[1] == ':' && std::isalpha(static_cast<unsigned char>(fileName[0])))
    return fileName.substr(0, 2);
  if (fileName.size() >= 2 && IsPathSeparator(fileName[0]) && IsPathSeparator(fileName[1])) {
    // "\\server\share": up to the separator after the share name.
    size_t server = fileName.find_first_of("\\/", 2);
    if (server == std::string::npos) return fileName;
    size_t share = fileName.find_first_of("\\/", server + 1);
    return fileName.substr(0, share);
  }
  return {};
}

std::string ChangeFileExt(const std::string& fileName, const std::string& extension) {
  int i = LastDelimiter(kExtDelims, fileName);
  if (i == 0 || fileName[static_cast<size_t>(i - 1)] != '.') return fileName + extension;
  return fileName.substr(0, static_cast<size_t>(i - 1)) + extension;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (!path.empty() && IsPathSeparator(path.back())) return path;
  bool native = !path.empty() && path[0] == '/' && path.find('\\') == std::string::npos;
  return path + (native ? '/' : PathDelim);
}

std::string ExcludeTrailingPathDelimiter(const std::string& path) {
  if (!path.empty() && IsPathSeparator(path.back())) return path.substr(0, path.size() - 1);
  return path;
}

std::string ExpandFileName(const std::string& fileName) {
  if (fileName.empty()) return fileName;
  std::string prefix;
  std::string rest;
  char sep;
  bool driveRooted = fileName.size() >= 3 && fileName[1] == ':' && IsPathSeparator(fileName[2]);
  bool unc = fileName.size() >= 2 && IsPathSeparator(fileName[0]) && IsPathSeparator(fileName[1]);
  if (driveRooted) {
    sep = '\\';
    prefix = fileName.substr(0, 2);
    rest = fileName.substr(2);
  } else if (unc) {
    sep = '\\';
    prefix = ExtractFileDrive(fileName);
    rest = fileName.substr(prefix.size());
  } else if (IsPathSeparator(fileName[0])) {
    sep = '/';
    rest = fileName;
  } else {
    sep = '/';
    rest = GetCurrentDir() + "/" + fileName;
  }
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t end = rest.find_first_of("\\/", pos);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(pos, end - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = end + 1;
  }
  std::string out = prefix;
  for (const auto& p : parts) out += sep + p;
  bool trailing = IsPathSeparator(fileName.back()) && !parts.empty();
  if (out.size() == prefix.size() || trailing) out += sep;
  return out;
}
