#pragma once
// File-type icons: the DefaultIcon of the file type an extension names under
// HKEY_CLASSES_ROOT, changed to another location or to an icon the program
// installs, and put back from the "Undo_1" value the system keeps beside it.
#include <string>

#include "icons/advanced_icon.h"
#include "platform/rtl/strings.h"

// Where the program keeps the icons it installs for file types.
inline constexpr const char* kInstalledIconsFolder = "C:\\Program Files\\Quorvane\\InstalledIcons";

// The extensions (without dot) whose keys name a file type, sorted ignoring
// case; extensions of four digits are left out.
void ListRegisteredExtensions(TStrings* target);
// Raises "You are not allowed to customize icon for .%s extension" for the
// extensions whose icon is the file's own (ico, cur, ani, exe) and for texts
// that cannot be an extension (a path separator, "..", ":", control characters).
void CheckExtensionAllowed(const std::string& extension);
// The file type an extension's key names ("" when the key or the name is missing).
std::string GetFileTypeName(const std::string& extension);
bool GetFileTypeIcon(const std::string& extension, std::string& location, std::string& typeName,
                     std::string& contentType);
std::string GetUnknownFileTypeIcon();
std::string GetBuiltInDefaultIcon(const std::string& extension);
std::string GetDefaultFileTypeIcon(const std::string& extension);
// The customiser's write; file "#DEFAULT#" restores. Nothing is written for an
// extension without a file type.
void SetFileTypeIcon(const std::string& file, int index, const std::string& extension);
void RestoreFileTypeIcon(const std::string& extension);
// The dialog's write: the icon saved as the extension's installed icon file and
// named as its file type's icon. Nothing is written for an extension whose key
// names no file type. True when the icon was installed.
bool InstallFileTypeIcon(TAdvancedIcon* icon, const std::string& extension);
// The dialog's restore: "Undo_1" back as the icon (the installed file stays).
void RestoreInstalledFileTypeIcon(const std::string& extension);
