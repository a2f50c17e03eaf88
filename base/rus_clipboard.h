#pragma once
// The icon side's access to the clipboard: nested opening with a count, opening
// with bounded retries for a clipboard another program holds, and the locale
// stamp (1049) on what this program puts there.
#include <cstdint>

#include "platform/rtl/object.h"
#include "platform/win/win_types.h"

class TRusClipboard : public TPersistent {
public:
  static constexpr LCID kLocale = 1049;

  ~TRusClipboard() override;

  // Opens the clipboard at the outermost call and counts the nesting. Raises
  // EClipboardException "Cannot open clipboard" when another program holds it.
  void Open();
  // Balances Open; the last one closes the clipboard. When this program wrote
  // to the clipboard since it opened it, the locale is stamped first; a
  // clipboard only read is left exactly as it was.
  void Close();
  // Open, tried up to n times with waits of 50, 100, 150 ... ms after each
  // failure; then EClipboardException "Can not open Clipboard, times: <n>".
  void OpenWithRetries(int n);
  // Open, EmptyClipboard, Close.
  void Clear();
  // Empties the clipboard once per outermost Open, before the first picture is
  // added, so that several formats added under one Open all stay.
  void EmptyBeforeAdd();
  // Puts id on the clipboard as CF_LOCALE; the block is freed when the
  // clipboard refuses it.
  void SetLocale(LCID id);

  int OpenCount() const { return FOpenCount; }

  // From a TPicture or any TGraphic: empties the clipboard (once per outermost
  // Open) and puts the graphic's clipboard data and palette there.
  void Assign(TPersistent* source) override;

protected:
  // Into a TPicture: the first clipboard format, in the clipboard's order, that
  // the picture registry supports ("Invalid clipboard format" when none is).
  // Into a TBitmap: CF_BITMAP. The clipboard is closed again in every case.
  void AssignTo(TPersistent* dest) override;

private:
  void StampLocaleIfWritten();

  int32_t FOpenCount = 0;
  HWND FWindow = nullptr;
  bool FEmptied = false;
  DWORD FSequenceAtOpen = 0;
};

// The process-wide clipboard object, made on first request.
TRusClipboard& SharedClipboard();
