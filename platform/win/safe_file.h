#pragma once
// Replacing a file so that a failure midway leaves the old content in place.
#include <string>

// Writes content next to path under a temporary name, flushes it to the disk and
// renames it over path; creates the folders of path. False (the old file intact,
// no temporary left behind) when any step fails.
bool WriteFileAtomically(const std::string& path, const std::string& content);
