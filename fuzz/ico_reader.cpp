// Feeds arbitrary bytes to the ICO and CUR readers, renders what they keep,
// and writes it again with every image compressed; the same bytes go to the
// icon picture classes (stream, clipboard DIB) and to the DIB image builder.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "icons/advanced_icon.h"
#include "icons/icon_pictures.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

namespace {

void IconModel(const uint8_t* data, size_t size) {
  TCustomMemoryStream stream(data, static_cast<int64_t>(size));
  TAdvancedIcon icon;
  icon.LoadFromStream(stream);
  stream.SetPosition(0);
  TAdvancedCursor cursor;
  try {
    cursor.LoadCursorFromStream(stream);
  } catch (const Exception&) {
  }
  // Small images go through their icon handle, large and 32-bit ones are drawn.
  for (int side : {16, 256}) {
    TPicture picture;
    try {
      DrawBestIconImage(&picture, &icon, side, side, 32, clWhite);
      DrawBestIconImage(&picture, &cursor, side, side, 8, kNoBackground);
    } catch (const Exception&) {
    }
  }
  for (int i = 0; i < icon.Count(); ++i) {
    TSubIcon* im = icon.Images()[i];
    TBitmap raw, mask, composite;
    try {
      // PNG images are decoded on the way; DIB images are also compressed.
      ExtractBitmaps(*im, &composite, &raw, 0xFFFFFF, &mask);
      im->SetStoreAsPNG(true);
    } catch (const Exception&) {
    }
  }
  TMemoryStream out;
  icon.SaveToStream(out);
  out.SetPosition(0);
  TAdvancedIcon back;
  back.LoadFromStream(out);
}

void DibBuilder(const uint8_t* data, size_t size) {
  TCustomMemoryStream stream(data, static_cast<int64_t>(size));
  TSubIconList list;
  list.AddDIB(stream, nullptr, 0, static_cast<int64_t>(size));
}

void Pictures(const uint8_t* data, size_t size) {
  for (bool cursor : {false, true}) {
    try {
      std::unique_ptr<TExIconCursor> picture;
      if (cursor)
        picture = std::make_unique<TExCursor>();
      else
        picture = std::make_unique<TExIcon>();
      TCustomMemoryStream stream(data, static_cast<int64_t>(size));
      picture->LoadFromStream(stream);
      TBitmap canvas;
      canvas.SetPixelFormat(pf24bit);
      canvas.SetSize(16, 16);
      picture->Draw(canvas.Canvas(), Rect(0, 0, 16, 16));
      TMemoryStream out;
      picture->SaveToStream(out);
      WORD format = 0;
      HANDLE handle = nullptr;
      HPALETTE palette = nullptr;
      picture->SaveToClipboardFormat(format, handle, palette);
      if (handle) GlobalFree(handle);
    } catch (const Exception&) {
    }
  }
  // The same bytes as a DIB taken from the clipboard.
  if (size == 0) return;
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!mem) return;
  std::memcpy(GlobalLock(mem), data, size);
  GlobalUnlock(mem);
  try {
    TExIcon icon;
    icon.LoadFromClipboardFormat(CF_DIB, mem, nullptr);
    TBitmap canvas;
    canvas.SetPixelFormat(pf24bit);
    canvas.SetSize(16, 16);
    icon.Draw(canvas.Canvas(), Rect(0, 0, 16, 16));
  } catch (const Exception&) {
  }
  GlobalFree(mem);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (auto run : {IconModel, DibBuilder, Pictures}) {
    try {
      run(data, size);
    } catch (const Exception&) {
    }
  }
  return 0;
}
