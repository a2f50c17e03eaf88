#pragma once
// The registry reached by one path text: an optional root name
// ("HKEY_CURRENT_USER\"), the key path, a backslash and the value name.
#include <string>

#include "platform/win/registry.h"

// The value is the text after the last backslash; the key is the text up to
// and including it. A path without a backslash is all value and no key.
void SplitRegistryPath(const std::string& path, std::string& key, std::string& value);
// When the path starts with a root name (any case), sets root and removes the
// name and the character after it from the path; otherwise changes nothing.
void ParseRegistryRoot(std::string& path, HKEY& root);
// root nullptr takes the root from the path. A missing key or value reads as
// empty text; nothing is created.
std::string ReadRegistryString(HKEY root, const std::string& path);
// Creates the key when missing; a failed write raises ERegistryException.
void WriteRegistryString(HKEY root, const std::string& path, const std::string& text);
// Deletes the value; a missing key or value is no error and creates nothing.
void DeleteRegistryValue(HKEY root, const std::string& path);
// The user's application-data folder from the shell's folder list, with a
// trailing backslash; empty when it is not set.
std::string GetAppDataDir();
