#pragma once
// The shell calls the program makes, as models: nothing is launched and nothing
// outside the Windows model is touched. ShellExecute records each request (a
// desktop back end may plug in a handler that really opens documents and web
// pages); icons of files come from an icon source that the icon layer plugs in.
#include <functional>
#include <string>
#include <vector>

#include "platform/win/win_types.h"

// ShellExecute results at or below 32 are errors.
constexpr int SE_ERR_FNF = 2;
constexpr int SE_ERR_PNF = 3;
constexpr int SE_ERR_ACCESSDENIED = 5;
constexpr int SE_ERR_NOASSOC = 31;

struct TShellExecuteRequest {
  HWND Window = nullptr;
  std::string Verb;  // empty for the default verb
  std::string File;
  std::string Parameters;
  std::string Directory;
  int ShowCommand = 0;
};

// A web address or mail link always succeeds; a file must exist (SE_ERR_FNF
// otherwise). With a handler, a handler that returns false gives SE_ERR_NOASSOC.
// Success is a value above 32.
HINSTANCE ShellExecute(HWND window, const char* verb, const char* file, const char* parameters,
                       const char* directory, int showCommand);
inline HINSTANCE ShellExecuteA(HWND window, const char* verb, const char* file, const char* parameters,
                               const char* directory, int showCommand) {
  return ShellExecute(window, verb, file, parameters, directory, showCommand);
}
// The requests that succeeded, oldest first.
std::vector<TShellExecuteRequest> ShellExecuteLog();
void ClearShellExecuteLog();
void SetShellExecuteHandler(std::function<bool(const TShellExecuteRequest&)> handler);

// Where the shell's icons of files come from.
class TShellIconSource {
public:
  virtual ~TShellIconSource() = default;
  // The icons a file holds (icon groups of an executable, 1 for an icon file);
  // -1 when it is no file with icons.
  virtual int IconCount(const std::string& nativePath) = 0;
  // Icon index (a position from 0, or minus a resource number) at a pixel size;
  // null when there is none. The caller owns the handle.
  virtual HICON Icon(const std::string& nativePath, int index, int size) = 0;
  // The icon the shell shows for the file in a folder view; null by default.
  virtual HICON FileIcon(const std::string& nativePath, int size) { return nullptr; }
};
void SetShellIconSource(TShellIconSource* source);

// index -1 (as UINT): the icon count. A file with no icons gives null; a file
// that holds none at all (no executable or icon file) gives the handle value 1,
// as Windows does.
HICON ExtractIcon(HINSTANCE instance, const char* exeFileName, UINT iconIndex);
inline HICON ExtractIconA(HINSTANCE instance, const char* exeFileName, UINT iconIndex) {
  return ExtractIcon(instance, exeFileName, iconIndex);
}
// Large (SM_CXICON) and small (SM_CXSMICON) icons from iconIndex on; returns how
// many were extracted, or with index -1 and no arrays the icon count.
UINT ExtractIconEx(const char* fileName, int iconIndex, HICON* largeIcons, HICON* smallIcons, UINT icons);
inline UINT ExtractIconExA(const char* fileName, int iconIndex, HICON* largeIcons, HICON* smallIcons, UINT icons) {
  return ExtractIconEx(fileName, iconIndex, largeIcons, smallIcons, icons);
}

struct SHFILEINFOA {
  HICON hIcon;
  int iIcon;
  DWORD dwAttributes;
  char szDisplayName[260];
  char szTypeName[80];
};
using SHFILEINFO = SHFILEINFOA;

constexpr UINT SHGFI_LARGEICON = 0x000000;
constexpr UINT SHGFI_SMALLICON = 0x000001;
constexpr UINT SHGFI_USEFILEATTRIBUTES = 0x000010;
constexpr UINT SHGFI_ICON = 0x000100;
constexpr UINT SHGFI_DISPLAYNAME = 0x000200;
constexpr UINT SHGFI_TYPENAME = 0x000400;
constexpr UINT SHGFI_ATTRIBUTES = 0x000800;
constexpr UINT SHGFI_SYSICONINDEX = 0x004000;

// Nonzero when the file exists (or SHGFI_USEFILEATTRIBUTES says not to look).
DWORD_PTR SHGetFileInfo(const char* path, DWORD fileAttributes, SHFILEINFOA* info, UINT infoSize, UINT flags);
inline DWORD_PTR SHGetFileInfoA(const char* path, DWORD fileAttributes, SHFILEINFOA* info, UINT infoSize,
                                UINT flags) {
  return SHGetFileInfo(path, fileAttributes, info, infoSize, flags);
}

// ---- dropped files ----

QV_DECLARE_HANDLE(HDROP);

// The header of a drop handle's block; the names follow at pFiles, each ended by
// a terminator and the list by another, in UTF-16 when fWide.
struct DROPFILES {
  DWORD pFiles;
  POINT pt;
  BOOL fNC;
  BOOL fWide;
};
static_assert(sizeof(DROPFILES) == 20);

constexpr UINT WM_DROPFILES = 0x0233;

// A window that takes dropped files; the desktop back end asks before it
// delivers WM_DROPFILES.
void DragAcceptFiles(HWND window, BOOL accept);
bool AcceptsDroppedFiles(HWND window);
// index 0xFFFFFFFF: the number of names. A null buffer: the length of the name
// (without terminator). Otherwise copies at most size - 1 characters and a
// terminator and returns the characters copied. A damaged block counts no names.
UINT DragQueryFile(HDROP drop, UINT index, char* file, UINT size);
inline UINT DragQueryFileA(HDROP drop, UINT index, char* file, UINT size) {
  return DragQueryFile(drop, index, file, size);
}
// The drop point; TRUE when it was in the client area.
BOOL DragQueryPoint(HDROP drop, POINT* point);
void DragFinish(HDROP drop);
// Builds the block of a drop (names as given, UTF-8), as the back end hands it
// over with WM_DROPFILES; DragFinish frees it.
HDROP MakeDropFiles(const std::vector<std::string>& files, POINT point, bool inClientArea = true);
