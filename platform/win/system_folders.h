#pragma once
// Folders and drives as Windows reports them, mapped onto this machine.
//
// The Windows and system folders live in the Windows model ("C:\Windows",
// "C:\Windows\System32", drive C being the model root); the temporary folder, the
// application-data folder and the program's own path are the real ones of this
// machine, given as native paths (NativePath passes them through unchanged).
// Drives: C is always there; any other letter X exists when the model root has
// the folder "drives/X".
#include <string>

#include "platform/win/win_types.h"

constexpr UINT MAX_PATH = 260;

// Result convention of the path calls: the length copied without the terminator,
// or, when the buffer is too small, the size needed with the terminator (and
// nothing copied).
UINT GetWindowsDirectory(char* buffer, UINT size);
UINT GetSystemDirectory(char* buffer, UINT size);
// With a trailing separator.
DWORD GetTempPath(DWORD size, char* buffer);
// The running program file (for a null module or HInstance). A buffer too small
// gets the truncated, terminated path, the result is size and the last error
// ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileName(HMODULE module, char* buffer, DWORD size);

// Drive types.
constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;

// Bit n set: drive 'A' + n exists.
DWORD GetLogicalDrives();
// Of a drive root ("D:\", also "D:" or "D:/"); a null root asks about the current
// folder's drive; a native folder counts as a fixed drive; a path below a root
// gives DRIVE_NO_ROOT_DIR, as on Windows.
UINT GetDriveType(const char* rootPathName);

// Shell folder identifiers that the calls below know.
constexpr int CSIDL_PERSONAL = 0x0005;
constexpr int CSIDL_APPDATA = 0x001A;
constexpr int CSIDL_LOCAL_APPDATA = 0x001C;
constexpr int CSIDL_WINDOWS = 0x0024;
constexpr int CSIDL_SYSTEM = 0x0025;
constexpr int CSIDL_PROGRAM_FILES = 0x0026;
constexpr int CSIDL_FLAG_CREATE = 0x8000;

// path must hold MAX_PATH characters. FALSE for a folder this model does not have.
BOOL SHGetSpecialFolderPath(HWND owner, char* path, int csidl, BOOL create);

// The application-data folder: $XDG_CONFIG_HOME, else ~/.config (native, no
// trailing separator).
std::string GetAppDataFolder();
// The program file's path as a string (empty when it cannot be found).
std::string GetProgramFileName();

// Model set-up for tests and for the desktop back end: makes drive letter
// ('A'..'Z', not 'C') exist with the given type, or (DRIVE_NO_ROOT_DIR) gives its
// folder up from the model's list; the folder itself is left alone.
void SetModelDrive(char letter, UINT type);
