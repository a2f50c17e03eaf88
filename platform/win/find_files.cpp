#include "platform/win/find_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/rtl/paths.h"
#include "platform/win/kernel_files.h"

namespace {

struct TSearch {
  std::vector<WIN32_FIND_DATAA> Entries;
  size_t Next = 0;
};

std::mutex gLock;
std::map<uintptr_t, TSearch> gSearches;
// Search handles live in a range of their own, apart from the kernel's file handles.
uintptr_t gNextSearch = 0x51000000;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool IsShortNameChar(char c) {
  if (std::isalnum(static_cast<unsigned char>(c))) return true;
  return std::strchr("!#$%&'()-@^_`{}~", c) != nullptr && c != '\0';
}

bool IsValidShortName(const std::string& name) {
  if (name == "." || name == "..") return true;
  size_t dot = name.find('.');
  std::string base = name.substr(0, dot);
  std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
  if (dot != std::string::npos && ext.empty()) return false;
  for (char c : base + ext)
    if (!IsShortNameChar(c)) return false;
  return true;
}

// Spaces and dots go; characters a short name cannot hold become "_".
std::string ShortNamePart(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '.') continue;
    out += IsShortNameChar(c) || static_cast<unsigned char>(c) >= 0x80 ? c : '_';
  }
  // Bytes of UTF-8 sequences have no short form either.
  for (char& c : out)
    if (static_cast<unsigned char>(c) >= 0x80) c = '_';
  return Upper(out);
}

void SplitForAlias(const std::string& name, std::string& base, std::string& ext) {
  size_t dot = name.rfind('.');
  // A leading dot (".profile") starts no extension.
  if (dot == std::string::npos || dot == 0) {
    base = ShortNamePart(name);
    ext.clear();
  } else {
    base = ShortNamePart(name.substr(0, dot));
    ext = ShortNamePart(name.substr(dot + 1)).substr(0, 3);
  }
  if (base.empty()) base = "_";
}

bool WildcardMatch(const char* pattern, const char* text) {
  while (*pattern) {
    if (*pattern == '*') {
      while (*pattern == '*') ++pattern;
      if (!*pattern) return true;
      for (const char* t = text; *t; ++t)
        if (WildcardMatch(pattern, t)) return true;
      return WildcardMatch(pattern, "");
    }
    if (!*text) return false;
    if (*pattern != '?' &&
        std::tolower(static_cast<unsigned char>(*pattern)) != std::tolower(static_cast<unsigned char>(*text)))
      return false;
    ++pattern;
    ++text;
  }
  return *text == '\0';
}

bool PatternMatches(const std::string& pattern, const std::string& name) {
  // "*.*" and "*." keep their old meaning: every name, also those without a dot.
  if (pattern == "*.*" || pattern == "*") return true;
  if (WildcardMatch(pattern.c_str(), name.c_str())) return true;
  if (name.find('.') == std::string::npos && pattern.size() > 1 && pattern.back() == '.')
    return WildcardMatch(pattern.substr(0, pattern.size() - 1).c_str(), name.c_str());
  return false;
}

FILETIME ToFileTime(const struct timespec& ts) {
  // 100-nanosecond steps since 1601-01-01.
  uint64_t t = (static_cast<uint64_t>(ts.tv_sec) + 11644473600ull) * 10000000ull + ts.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

void CopyName(char* target, size_t size, const std::string& name) {
  std::memset(target, 0, size);
  std::memcpy(target, name.data(), std::min(name.size(), size - 1));
}

bool Fill(const std::string& folder, const std::string& name, const std::string& alias, WIN32_FIND_DATAA& data) {
  std::string native = (std::filesystem::path(folder) / name).string();
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) return false;
  data = WIN32_FIND_DATAA{};
  // Attributes as the kernel calls read them (hidden, system, read-only).
  data.dwFileAttributes = GetFileAttributes(native.c_str());
  if (data.dwFileAttributes == INVALID_FILE_ATTRIBUTES) return false;
  data.ftCreationTime = ToFileTime(st.st_ctim);
  data.ftLastAccessTime = ToFileTime(st.st_atim);
  data.ftLastWriteTime = ToFileTime(st.st_mtim);
  if (!S_ISDIR(st.st_mode)) {
    uint64_t size = static_cast<uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
  }
  CopyName(data.cFileName, sizeof data.cFileName, name);
  CopyName(data.cAlternateFileName, sizeof data.cAlternateFileName, alias);
  return true;
}

}  // namespace

std::vector<std::string> ShortNameAliases(const std::vector<std::string>& names) {
  std::vector<std::string> aliases(names.size());
  // Names needing an alias, grouped by their six characters and extension.
  std::map<std::string, std::vector<size_t>> groups;
  std::vector<std::pair<std::string, std::string>> parts(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (IsValidShortName(names[i])) continue;
    SplitForAlias(names[i], parts[i].first, parts[i].second);
    groups[parts[i].first.substr(0, 6) + "." + parts[i].second].push_back(i);
  }
  for (auto& [key, members] : groups) {
    std::sort(members.begin(), members.end(),
              [&](size_t a, size_t b) { return Upper(names[a]) < Upper(names[b]); });
    for (size_t rank = 0; rank < members.size(); ++rank) {
      size_t i = members[rank];
      std::string tail = "~" + std::to_string(rank + 1);
      std::string alias = parts[i].first.substr(0, 8 - tail.size()) + tail;
      if (!parts[i].second.empty()) alias += "." + parts[i].second;
      aliases[i] = alias;
    }
  }
  return aliases;
}

HANDLE FindFirstFile(const char* fileName, WIN32_FIND_DATAA* findData) {
  if (!fileName || !*fileName || !findData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string path = fileName;
  size_t cut = path.find_last_of("\\/");
  std::string folderPart = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  std::string pattern = cut == std::string::npos ? path : path.substr(cut + 1);
  if (pattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string folder = NativePath(folderPart.empty() ? std::string(".") : folderPart);
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return Upper(a) < Upper(b); });
  std::vector<std::string> aliases = ShortNameAliases(names);
  TSearch search;
  for (size_t i = 0; i < names.size(); ++i) {
    if (!PatternMatches(pattern, names[i]) && (aliases[i].empty() || !PatternMatches(pattern, aliases[i]))) continue;
    WIN32_FIND_DATAA data;
    if (Fill(folder, names[i], aliases[i], data)) search.Entries.push_back(data);
  }
  if (search.Entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *findData = search.Entries[0];
  search.Next = 1;
  std::lock_guard<std::mutex> lock(gLock);
  uintptr_t id = gNextSearch;
  gNextSearch += 4;
  gSearches[id] = std::move(search);
  return reinterpret_cast<HANDLE>(id);
}

BOOL FindNextFile(HANDLE findFile, WIN32_FIND_DATAA* findData) {
  std::lock_guard<std::mutex> lock(gLock);
  auto it = gSearches.find(reinterpret_cast<uintptr_t>(findFile));
  if (it == gSearches.end() || !findData) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (it->second.Next >= it->second.Entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *findData = it->second.Entries[it->second.Next++];
  return TRUE;
}

BOOL FindClose(HANDLE findFile) {
  std::lock_guard<std::mutex> lock(gLock);
  if (gSearches.erase(reinterpret_cast<uintptr_t>(findFile)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
