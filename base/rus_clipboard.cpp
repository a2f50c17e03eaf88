#include "base/rus_clipboard.h"

#include <cstring>

#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/windows.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "platform/win/system_info.h"

TRusClipboard::~TRusClipboard() {
  // A clipboard left open would block every other program.
  if (FOpenCount > 0) CloseClipboard();
  if (FWindow) DeallocateHWnd(FWindow);
}

void TRusClipboard::Open() {
  if (FOpenCount == 0) {
    // A window of its own owns what the program puts on the clipboard.
    if (!FWindow) FWindow = AllocateHWnd([](TMessage&) {});
    if (!OpenClipboard(FWindow)) {
      DeallocateHWnd(FWindow);
      FWindow = nullptr;
      throw EClipboardException("Cannot open clipboard");
    }
    FEmptied = false;
    FSequenceAtOpen = GetClipboardSequenceNumber();
  }
  ++FOpenCount;
}

void TRusClipboard::Close() {
  if (FOpenCount == 0) return;
  StampLocaleIfWritten();
  if (--FOpenCount == 0) {
    CloseClipboard();
    FEmptied = false;
    DeallocateHWnd(FWindow);
    FWindow = nullptr;
  }
}

void TRusClipboard::StampLocaleIfWritten() {
  // Stamping a clipboard that was only read would change how other programs'
  // text on it is read, so only what this program wrote gets the locale.
  if (GetClipboardSequenceNumber() == FSequenceAtOpen) return;
  SetLocale(kLocale);
  FSequenceAtOpen = GetClipboardSequenceNumber();
}

void TRusClipboard::OpenWithRetries(int n) {
  for (int i = 1; i <= n; ++i) {
    try {
      Open();
      return;
    } catch (const EClipboardException&) {
      Sleep(static_cast<DWORD>(i * 50));
    }
  }
  throw EClipboardException("Can not open Clipboard, times: " + IntToStr(n));
}

void TRusClipboard::Clear() {
  Open();
  try {
    EmptyClipboard();
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

void TRusClipboard::EmptyBeforeAdd() {
  if (FOpenCount > 0 && !FEmptied) {
    Clear();
    FEmptied = true;
  }
}

void TRusClipboard::SetLocale(LCID id) {
  HGLOBAL block = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, sizeof(id));
  if (!block) return;
  if (void* p = GlobalLock(block)) {
    std::memcpy(p, &id, sizeof(id));
    GlobalUnlock(block);
  } else {
    GlobalFree(block);
    return;
  }
  if (!SetClipboardData(CF_LOCALE, block)) GlobalFree(block);
}

namespace {

// Closes the wrapper's clipboard when the work between leaves, also by an exception.
class TClipboardSession {
public:
  explicit TClipboardSession(TRusClipboard& clipboard) : FClipboard(clipboard) { FClipboard.Open(); }
  ~TClipboardSession() { FClipboard.Close(); }
  TClipboardSession(const TClipboardSession&) = delete;
  TClipboardSession& operator=(const TClipboardSession&) = delete;

private:
  TRusClipboard& FClipboard;
};

HPALETTE ClipboardPalette() { return static_cast<HPALETTE>(GetClipboardData(CF_PALETTE)); }

bool IsObjectFormat(UINT format) {
  return format == CF_BITMAP || format == CF_PALETTE || format == CF_ENHMETAFILE ||
         (format >= CF_GDIOBJFIRST && format <= CF_GDIOBJLAST);
}

// Data the clipboard refused still belongs to us.
void PutOrRelease(UINT format, HANDLE data) {
  if (!data || SetClipboardData(format, data)) return;
  if (IsObjectFormat(format)) DeleteObject(static_cast<HGDIOBJ>(data));
  else GlobalFree(data);
}

}  // namespace

void TRusClipboard::AssignTo(TPersistent* dest) {
  if (auto* picture = dynamic_cast<TPicture*>(dest)) {
    TClipboardSession session(*this);
    for (UINT format = EnumClipboardFormats(0); format != 0; format = EnumClipboardFormats(format)) {
      if (format > 0xFFFF || !TPicture::SupportsClipboardFormat(static_cast<WORD>(format))) continue;
      picture->LoadFromClipboardFormat(static_cast<WORD>(format), GetClipboardData(format), ClipboardPalette());
      return;
    }
    throw EInvalidGraphic("Invalid clipboard format");
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    TClipboardSession session(*this);
    bitmap->LoadFromClipboardFormat(static_cast<WORD>(CF_BITMAP), GetClipboardData(CF_BITMAP), ClipboardPalette());
    return;
  }
  if (auto* metafile = dynamic_cast<TMetafile*>(dest)) {
    // A Windows metafile picture; an enhanced one on the clipboard is offered in that form too.
    RegisterMetafileClipboardSupport();
    TClipboardSession session(*this);
    metafile->LoadFromClipboardFormat(static_cast<WORD>(CF_METAFILEPICT), GetClipboardData(CF_METAFILEPICT),
                                      ClipboardPalette());
    return;
  }
  TPersistent::AssignTo(dest);
}

void TRusClipboard::Assign(TPersistent* source) {
  auto* picture = dynamic_cast<TPicture*>(source);
  auto* graphic = dynamic_cast<TGraphic*>(source);
  if (!picture && !graphic) {
    TPersistent::Assign(source);
    return;
  }
  TClipboardSession session(*this);
  EmptyBeforeAdd();
  WORD format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  if (picture) picture->SaveToClipboardFormat(format, data, palette);
  else graphic->SaveToClipboardFormat(format, data, palette);
  PutOrRelease(format, data);
  if (palette) PutOrRelease(CF_PALETTE, palette);
}

TRusClipboard& SharedClipboard() {
  static TRusClipboard clipboard;
  return clipboard;
}
