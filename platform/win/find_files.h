#pragma once
// Listing a folder through the kernel's search calls. Names go through
// NativePath, so "C:\..." searches the Windows model. Each entry carries, as
// cAlternateFileName, the short (8.3) alias the model gives names that are no
// valid short names: the first six valid characters upper-cased, "~" and the
// entry's rank among the folder's names that share those six characters and the
// extension, in alphabetical order (ignoring case), then up to three characters
// of the extension ("Program Files" -> "PROGRA~1"). A valid short name (in any
// case) has no alias, as on Windows.
#include <string>
#include <vector>

#include "platform/win/win_types.h"

constexpr DWORD ERROR_NO_MORE_FILES = 18;

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[260];
  char cAlternateFileName[14];
};
static_assert(sizeof(WIN32_FIND_DATAA) == 320);
using WIN32_FIND_DATA = WIN32_FIND_DATAA;

// The pattern's last part may hold "*" and "?" ("*.*" matches every name); it is
// matched against the long and the short name, ignoring case. A path without
// wildcards finds that one entry. INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND
// when nothing matches (ERROR_PATH_NOT_FOUND when the folder is missing).
HANDLE FindFirstFile(const char* fileName, WIN32_FIND_DATAA* findData);
// FALSE with ERROR_NO_MORE_FILES after the last entry.
BOOL FindNextFile(HANDLE findFile, WIN32_FIND_DATAA* findData);
BOOL FindClose(HANDLE findFile);
inline HANDLE FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData) {
  return FindFirstFile(fileName, findData);
}
inline BOOL FindNextFileA(HANDLE findFile, WIN32_FIND_DATAA* findData) { return FindNextFile(findFile, findData); }

// The short names the model gives the names of one folder, in the order given
// (empty where the name is a valid short name itself).
std::vector<std::string> ShortNameAliases(const std::vector<std::string>& names);
