// Puts any bytes on the clipboard as the text control's private memo format
// (with a CF_TEXT beside it) and pastes into a control holding some text, then
// lays the result out: no read past the block, whatever count or records it
// claims, and no font so large the layout stalls.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/extras/textedit/text_control.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

namespace {

void Put(UINT format, const uint8_t* data, size_t size) {
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!mem) return;
  if (size) std::memcpy(GlobalLock(mem), data, size), GlobalUnlock(mem);
  if (!SetClipboardData(format, mem)) GlobalFree(mem);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = (RegisterTextMemoClipboardFormat(), true);
  (void)registered;
  if (!OpenClipboard(nullptr)) return 0;
  EmptyClipboard();
  Put(TextMemoClipboardFormat(), data, size);
  const uint8_t text[] = {'t', 'e', 'x', 't', 0};
  Put(CF_TEXT, text, sizeof text);
  CloseClipboard();

  TIETextControl control(nullptr);
  TIEMemoText memo;
  memo.Text = "ab\ncd";
  control.LendMemo(std::move(memo));
  control.LoadText();
  control.SetCaret(2);
  control.PasteFromClipboard();
  // Bounded text: the layout of a huge paste is not what this target looks for.
  if (control.TextLength() <= 512) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(64, 64);
    TIECanvas canvas(bitmap.Canvas(), false, false);
    control.LayoutText(&canvas, 0, 0, 64, 64);
  }
  control.PackFormats();
  return 0;
}
