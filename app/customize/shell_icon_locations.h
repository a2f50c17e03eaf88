#pragma once
// Icon locations of the shell: the text "file,index" that the registry,
// desktop.ini and Autorun.inf hold, and what the customisers do with it:
// expanding the Windows placeholders, turning it into an icon handle or an icon
// object, the stock icons and their overrides, the drive icons, copying the
// icon of a location into an .ico file, and the Windows version tests that pick
// between registry layouts. Paths are those of the Windows model.
#include <string>

#include "icons/advanced_icon.h"
#include "platform/graphics/gdi.h"

// The key of the stock icon overrides under HKEY_LOCAL_MACHINE.
inline constexpr const char* kShellIconsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Icons";

// "%WinDir%", "%SystemRoot%" and "%SystemDrive%", exactly in this case.
std::string ExpandShellVars(const std::string& location);
// File and index of a location. The result says whether the location names an
// icon at all: an empty location or an index that is no number give false (and
// index -1). An index of -1 with a true result is the icon resource 1.
bool ParseIconLocation(const std::string& location, std::string& file, int& index);
// File, index text and whether each file shows its own icon ("%1").
void SplitIconLocation(const std::string& location, std::string& file, std::string& indexText, bool& fromFile);
// The icon at a position (0 and up) or a resource number (negative) of the
// file; the first icon when the file has no such one; null when the file is
// missing or has no icon. The caller destroys the handle.
HICON ExtractIconFromFile(const std::string& file, int index);
HICON ExtractIconFromLocation(const std::string& location);
// Icon 0 of the system's shell32.dll (null when even that is missing).
HICON GetFallbackIcon();
// The location of a stock icon: its override, or the icon of that number in
// the system's shell32.dll.
void GetShellIconLocation(int stockNumber, std::string& file, int& index);
// The stock number that GetDriveType of the path's drive gives.
int DriveTypeStockNumber(const std::string& path);
void GetDriveTypeIconLocation(const std::string& path, std::string& file, int& index);
HICON GetDefaultFolderIcon();
HICON GetDefaultDriveIcon(const std::string& path);
// Fills the icon from a location's file: an icon of a library by position or by
// "-" and its name, an icon file, or a frame of an animated cursor. The icon
// stays empty when the entry is not there.
void LoadIconFromLocation(const std::string& file, const std::string& indexText, TAdvancedIcon* icon);
// Writes the icon of the location as an .ico file (an icon or cursor file is
// copied as it is). False when the source holds no such icon. The destination
// is written beside and renamed over, so a failed write leaves it as it was.
bool CopyIconToFile(const std::string& file, int index, const std::string& destination);
// The icon of a library file by position (0 and up) or by resource number
// (negative), taken out of the library; null when there is none.
std::unique_ptr<TAdvancedIcon> PickLibraryIcon(const std::string& file, int index);

// Saves the icon beside the destination and renames it over it, so that a
// failed write leaves the file that was there; raises on failure. The
// destination's attributes are kept (a new file gets the given ones).
void SaveIconReplacing(TAdvancedIcon& icon, const std::string& destination, DWORD newAttributes);

std::string GetWindowsVersionText();
bool IsWindows95();
bool IsWindows98();
bool IsWindowsNT5();

// Whether a Windows path names a place inside the Windows model: a drive
// letter, no ".." that climbs out, no link that leads out of the model root.
bool IsInsideWindowsModel(const std::string& path);
