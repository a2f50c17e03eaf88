#pragma once
// Path, extension, folder, file-size and drive helpers. Paths are Windows-style
// text; both "\" and "/" count as separators wherever a backslash would.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/strings.h"

// An empty path stays empty; one ending in ":" or a separator is unchanged; a
// single drive letter gets ":\"; anything else gets "\".
std::string AddTrailingBackslash(const std::string& path);
std::string EnsureTrailingBackslash(const std::string& path);
// Drops the separator that AddTrailingBackslash gives, unless the result would
// be 3 characters or fewer ("C:\" stays).
std::string RemoveTrailingBackslash(const std::string& path);
// The first three characters of the path's directory part ("C:\").
std::string GetDriveRoot(const std::string& path);
// Adds ext (with or without its dot) unless the name already ends in it;
// "", "." and "*" mean no extension.
std::string AppendExtension(const std::string& name, const std::string& ext);
// Gives ext to a name that has no extension (or only a bare dot).
std::string ApplyDefaultExtension(const std::string& name, const std::string& ext);
// The lower-cased text after the name's last dot, "" when the name has none.
std::string GetLowerExtension(const std::string& name);
std::string RemoveTrailingSlash(const std::string& text);

// The folder of the running program, with a trailing separator.
std::string GetApplicationDir();
std::string GetWindowsDir();
std::string GetSystemDir();
std::string GetTempDir();

// The file's size in bytes (64-bit), 0 for a folder, -1 when nothing is found.
int64_t FileSizeOf(const std::string& name);

// "A:\" for 0 up to "Z:\" for 25.
std::string DriveIndexToRoot(int n);
bool IsDrivePresent(int n);
unsigned GetPathDriveType(const std::string& path);
// The root of each present drive A..Z whose type is one of driveTypes[0..
// highIndex] (include), or differs from at least one of them (exclude).
void ListDrives(TStrings* strings, const unsigned* driveTypes, int highIndex, bool include);
// The last folder of path (or of its parents, up to 21 steps) that exists; ""
// when none does.
std::string FindExistingParentDir(const std::string& path);

bool IsPathSeparatorChar(char c);
