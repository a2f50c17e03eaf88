#include "base/rus_clipboard.h"

#include <cstring>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "platform/win/system_info.h"

TRusClipboard::~TRusClipboard() {
  // A clipboard left open would block every other program.
  if (FOpenCount > 0) CloseClipboard();
}

void TRusClipboard::Open() {
  if (FOpenCount == 0) {
    if (!OpenClipboard(FWindow)) throw EClipboardException("Cannot open clipboard");
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

TRusClipboard& SharedClipboard() {
  static TRusClipboard clipboard;
  return clipboard;
}
