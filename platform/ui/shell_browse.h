#pragma once
// The shell's folder browser (SHBrowseForFolder) as a modal dialog of this layer:
// a tree of the Windows model's drives and folders below "Desktop" and "My
// Computer", with OK and Cancel. Item lists are opaque allocations that the
// caller frees with CoTaskMemFree; SHGetPathFromIDList gives their path.
//
// The browser talks to its caller through the browse callback (BFFM_INITIALIZED
// once the dialog is set up, BFFM_SELCHANGED after each change of the
// selection) and takes BFFM_SETSELECTION and BFFM_ENABLEOK sent to its window.
// Where a Windows program would subclass the browser's window, a caller here
// installs a message hook on it (SetBrowseDialogHook): the hook sees each
// message first and keeps those it handles.
//
// Only the model is shown: folders of drive letters (no native paths), and no
// symbolic link is followed out of the folder it lies in. The network has no
// computers.
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/messages.h"
#include "platform/win/ole.h"

// An item of the shell's namespace; its contents are the browser's own.
struct ITEMIDLIST;
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;

constexpr int CSIDL_DESKTOP = 0x0000;
constexpr int CSIDL_DRIVES = 0x0011;
constexpr int CSIDL_NETWORK = 0x0012;

// The item of a special folder (desktop, My Computer, the network); E_INVALIDARG
// for another folder.
HRESULT SHGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST* pidl);
// path holds MAX_PATH characters; FALSE (and an empty path) for an item with no
// file-system path (Desktop, My Computer, the network).
BOOL SHGetPathFromIDList(LPCITEMIDLIST pidl, char* path);
inline BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, char* path) { return SHGetPathFromIDList(pidl, path); }
void* CoTaskMemAlloc(size_t size);
// Frees item lists and CoTaskMemAlloc blocks; null is ignored.
void CoTaskMemFree(void* block);
// Item lists handed out and not yet freed (tests look for leaks).
int LiveItemIdLists();

using BFFCALLBACK = int (*)(HWND window, UINT msg, LPARAM lParam, LPARAM data);

struct BROWSEINFOA {
  HWND hwndOwner;
  LPCITEMIDLIST pidlRoot;
  char* pszDisplayName;  // MAX_PATH characters
  const char* lpszTitle;
  UINT ulFlags;
  BFFCALLBACK lpfn;
  LPARAM lParam;
  int iImage;
};
using BROWSEINFO = BROWSEINFOA;

constexpr UINT BIF_RETURNONLYFSDIRS = 0x0001;
constexpr UINT BIF_DONTGOBELOWDOMAIN = 0x0002;
constexpr UINT BIF_RETURNFSANCESTORS = 0x0008;
constexpr UINT BIF_BROWSEFORCOMPUTER = 0x1000;

constexpr UINT BFFM_INITIALIZED = 1;
constexpr UINT BFFM_SELCHANGED = 2;
constexpr UINT BFFM_ENABLEOK = WM_USER + 101;
constexpr UINT BFFM_SETSELECTIONA = WM_USER + 102;
constexpr UINT BFFM_SETSELECTION = BFFM_SETSELECTIONA;

// Runs the browser modally; the chosen item (the caller frees it), or null for
// Cancel. The display name and image index of the choice go into the record.
LPITEMIDLIST SHBrowseForFolder(BROWSEINFOA* info);
inline LPITEMIDLIST SHBrowseForFolderA(BROWSEINFOA* info) { return SHBrowseForFolder(info); }

// The hook of an open browser window: true when it handled the message (its
// Result is then the answer); false passes the message on to the browser.
using TBrowseDialogHook = std::function<bool(TMessage& message)>;
// Replaces the hook of the browser window (an empty hook removes it); FALSE for
// a window that is no open browser.
BOOL SetBrowseDialogHook(HWND browser, TBrowseDialogHook hook);
// A push button added to the browser at the given left edge, in line with its
// own buttons (their top and size) and with its font; a click sends WM_COMMAND
// with the id (notification 0) to the browser window. Null for no browser.
HWND AddBrowseDialogButton(HWND browser, const std::string& caption, WORD id, int left);
// The first push button of the browser (its OK button), as FindWindowEx with
// the class "BUTTON" finds it; null for no browser.
HWND FindBrowseDialogButton(HWND browser);

// The open browser window, for tests that drive it (null when none is shown).
HWND ActiveBrowseDialog();
// The rows of the open browser's tree, as shown (indented by two blanks a level),
// and the selected row (-1 for none).
std::vector<std::string> BrowseDialogRows(HWND browser);
int BrowseDialogSelection(HWND browser);
// Selects a row as a click does, and opens or closes it as a double click does.
void BrowseDialogSelectRow(HWND browser, int row);
void BrowseDialogToggleRow(HWND browser, int row);
// Whether the OK button can be pressed; pressing OK and Cancel.
bool BrowseDialogOkEnabled(HWND browser);
void BrowseDialogPress(HWND browser, bool ok);
