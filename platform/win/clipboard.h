#pragma once
// The clipboard: an in-process store of formats and their data, with the
// Windows calls over it.
//
// Data of ordinary formats is a global memory block (GlobalAlloc); once given to
// SetClipboardData the block belongs to the clipboard, which frees it when the
// clipboard is emptied or the format is replaced, and GlobalFree on it fails.
// Formats that carry drawing objects (CF_BITMAP, CF_PALETTE, CF_ENHMETAFILE and
// the CF_GDIOBJ range) hold a handle that the drawing layer releases through a
// releaser it registers here.
//
// Only one thread at a time has the clipboard open. The test switch
// SetClipboardHeldByOtherWindow makes OpenClipboard fail as when another program
// holds the clipboard.
#include <functional>
#include <string>
#include <vector>

#include "platform/win/win_types.h"

constexpr UINT CF_TEXT = 1;
constexpr UINT CF_BITMAP = 2;
constexpr UINT CF_METAFILEPICT = 3;
constexpr UINT CF_SYLK = 4;
constexpr UINT CF_DIF = 5;
constexpr UINT CF_TIFF = 6;
constexpr UINT CF_OEMTEXT = 7;
constexpr UINT CF_DIB = 8;
constexpr UINT CF_PALETTE = 9;
constexpr UINT CF_PENDATA = 10;
constexpr UINT CF_RIFF = 11;
constexpr UINT CF_WAVE = 12;
constexpr UINT CF_UNICODETEXT = 13;
constexpr UINT CF_ENHMETAFILE = 14;
constexpr UINT CF_HDROP = 15;
constexpr UINT CF_LOCALE = 16;
constexpr UINT CF_DIBV5 = 17;
constexpr UINT CF_OWNERDISPLAY = 0x0080;
constexpr UINT CF_DSPTEXT = 0x0081;
constexpr UINT CF_DSPBITMAP = 0x0082;
constexpr UINT CF_DSPMETAFILEPICT = 0x0083;
constexpr UINT CF_DSPENHMETAFILE = 0x008E;
constexpr UINT CF_PRIVATEFIRST = 0x0200;
constexpr UINT CF_PRIVATELAST = 0x02FF;
constexpr UINT CF_GDIOBJFIRST = 0x0300;
constexpr UINT CF_GDIOBJLAST = 0x03FF;

BOOL OpenClipboard(HWND newOwner);
BOOL CloseClipboard();
BOOL EmptyClipboard();
// Returns data on success, null (ERROR_CLIPBOARD_NOT_OPEN, ERROR_INVALID_HANDLE)
// on failure, in which case the caller still owns data.
HANDLE SetClipboardData(UINT format, HANDLE data);
// The clipboard's own handle: the caller reads it and must not free it.
HANDLE GetClipboardData(UINT format);
// The format after format (0 starts), in the order the data was put; 0 at the end
// with ERROR_SUCCESS.
UINT EnumClipboardFormats(UINT format);
int CountClipboardFormats();
BOOL IsClipboardFormatAvailable(UINT format);
// Registered formats are numbered from 0xC000; a name registered again (in any
// case) gets the same number.
UINT RegisterClipboardFormat(const char* formatName);
// Copies at most maxCount - 1 characters and a terminator; 0 for a format that is
// not registered (the predefined formats have no names).
int GetClipboardFormatName(UINT format, char* formatName, int maxCount);
inline int GetClipboardFormatNameA(UINT format, char* formatName, int maxCount) {
  return GetClipboardFormatName(format, formatName, maxCount);
}
HWND GetClipboardOwner();
HWND GetOpenClipboardWindow();
DWORD GetClipboardSequenceNumber();

// ---- model controls ----

// While set, OpenClipboard fails with ERROR_ACCESS_DENIED.
void SetClipboardHeldByOtherWindow(bool held);

// How the drawing layer frees the object handles of its formats. A releaser of
// a block format (CF_METAFILEPICT) frees what the block refers to; the block
// itself is then freed as any other.
void SetClipboardObjectReleaser(UINT format, std::function<void(HANDLE)> releaser);

// A format that can be made from another when asked for (CF_UNICODETEXT from
// CF_TEXT, a DIB from a bitmap). The maker returns a new handle of the target
// format (a global block or an object) that the clipboard then owns, or null.
using TClipboardSynthesizer = std::function<HANDLE(HANDLE source)>;
void SetClipboardSynthesizer(UINT target, UINT source, TClipboardSynthesizer maker);

// The seam to a desktop clipboard: a mirror hears about changes made here and can
// put the desktop's contents in when the program opens the clipboard.
class TClipboardMirror {
public:
  virtual ~TClipboardMirror() = default;
  // Called by OpenClipboard before it opens; may call ReplaceClipboardContents.
  virtual void BeforeOpen() {}
  // Called by CloseClipboard when the contents changed while it was open.
  virtual void ContentsChanged() {}
};
void SetClipboardMirror(TClipboardMirror* mirror);

struct TClipboardItem {
  UINT Format = 0;
  std::vector<uint8_t> Data;
};
// The formats held in global memory, with copies of their bytes.
std::vector<TClipboardItem> ClipboardSnapshot();
// Puts new contents in place of the old (owner none); false while the clipboard is open.
bool ReplaceClipboardContents(const std::vector<TClipboardItem>& items);
