#pragma once
// Folder and drive icons: desktop.ini in a folder, Autorun.inf in a drive root
// and the per-machine DriveIcons key; copying the icon into the folder or root,
// and the attributes the shell wants. Every write stays inside the Windows
// model: a folder outside it is refused with "Folder not found: %s" before
// anything is written.
#include <functional>
#include <string>

#include "icons/advanced_icon.h"
#include "platform/graphics/gdi.h"
#include "platform/win/registry.h"

inline constexpr const char* kDriveIconsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\explorer\\DriveIcons\\";

bool IsDriveRoot(const std::string& path);
// Raises "It's a system folder. Customize it with other tabsheets".
void CheckNotSystemFolder(const std::string& folder);
// Raises "Folder not found: %s" for a folder that is missing or lies outside
// the Windows model.
void CheckFolderInModel(const std::string& folder);
// File, index and whether the file exists.
bool GetFolderIconLocation(const std::string& folder, std::string& file, int& index);
bool GetDriveIconLocation(const std::string& path, std::string& file, int& index);
// Never null (the fallback icon at worst, unless shell32.dll is missing too).
HICON GetFolderIcon(const std::string& folder);
void SetFolderIcon(const std::string& folder, const std::string& file, int index, bool copy);
void SetDriveIcon(const std::string& drive, const std::string& file, int index, bool copy);
// The dialog's write: the icon saved into the folder (or drive root) as its
// icon file; no icon clears the folder's icon.
void SetFolderIconFromIcon(const std::string& folder, TAdvancedIcon* icon);
void ClearFolderIcon(const std::string& folder);
void ClearDriveIcon(const std::string& drive);
std::string MakeFolderIconName(const std::string& folder);
std::string GetShortName(const std::string& path);
void DeleteRegistryKey(HKEY root, const std::string& path);
void DeleteFileForced(const std::string& file);
// Runs the write between two reads of the folder's icon location: the same
// location again, or a removed one, rebuilds the icon cache; the desktop is
// refreshed after every write.
void ApplyFolderWrite(const std::string& folder, const std::function<void()>& write);
