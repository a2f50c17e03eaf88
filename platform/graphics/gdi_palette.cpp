// Logical palettes. The virtual screen has 32 bits per pixel, so a palette
// selected into a DC only resolves DIB_PAL_COLORS tables; realising maps nothing.
#include <algorithm>
#include <cstring>

#include "platform/graphics/gdi_internal.h"

using namespace qvgdi;

HPALETTE CreatePalette(const LOGPALETTE* palette) {
  auto lock = Lock();
  if (!palette || palette->palVersion != 0x300 || palette->palNumEntries == 0) return nullptr;
  auto p = std::make_unique<PaletteObj>();
  p->entries.assign(palette->palPalEntry, palette->palPalEntry + palette->palNumEntries);
  return static_cast<HPALETTE>(Register(std::move(p)));
}

HPALETTE SelectPalette(HDC hdc, HPALETTE palette, BOOL) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !FindPalette(palette)) return nullptr;
  HPALETTE old = dc->state.palette;
  if (old == palette) return old;
  Hold(palette);
  dc->state.palette = palette;
  Release(old);
  return old;
}

UINT RealizePalette(HDC hdc) {
  auto lock = Lock();
  return FindDC(hdc) ? 0 : GDI_ERROR;
}

UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries) {
  auto lock = Lock();
  PaletteObj* p = FindPalette(palette);
  if (!p) return 0;
  if (!entries) return static_cast<UINT>(p->entries.size());
  if (start >= p->entries.size()) return 0;
  UINT n = std::min<UINT>(count, static_cast<UINT>(p->entries.size()) - start);
  std::copy_n(p->entries.begin() + start, n, entries);
  return n;
}

UINT SetPaletteEntries(HPALETTE palette, UINT start, UINT count, const PALETTEENTRY* entries) {
  auto lock = Lock();
  PaletteObj* p = FindPalette(palette);
  if (!p || !entries || p->stock || start >= p->entries.size()) return 0;
  UINT n = std::min<UINT>(count, static_cast<UINT>(p->entries.size()) - start);
  std::copy_n(entries, n, p->entries.begin() + start);
  return n;
}

UINT GetNearestPaletteIndex(HPALETTE palette, COLORREF color) {
  auto lock = Lock();
  PaletteObj* p = FindPalette(palette);
  if (!p || p->entries.empty()) return CLR_INVALID;
  std::vector<RGBQUAD> quads(p->entries.size());
  for (size_t i = 0; i < quads.size(); ++i) {
    quads[i].rgbRed = p->entries[i].peRed;
    quads[i].rgbGreen = p->entries[i].peGreen;
    quads[i].rgbBlue = p->entries[i].peBlue;
  }
  return static_cast<UINT>(NearestIndex(quads.data(), quads.size(), color));
}
