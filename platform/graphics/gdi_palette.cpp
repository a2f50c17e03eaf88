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

HPALETTE CreateHalftonePalette(HDC) {
  std::vector<PALETTEENTRY> entries(256);
  const auto& statics = StaticPaletteEntries();
  for (int i = 0; i < 10; ++i) {
    entries[i] = statics[i];
    entries[246 + i] = statics[10 + i];
  }
  int k = 10;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) {
        entries[k].peRed = static_cast<BYTE>(r * 51);
        entries[k].peGreen = static_cast<BYTE>(g * 51);
        entries[k].peBlue = static_cast<BYTE>(b * 51);
        ++k;
      }
  // The cube has six greys of its own; twenty more, 8 to 236 in steps of 12 (none
  // of them a cube level), fill the places 226 to 245.
  for (int i = 0; k < 246; ++i, ++k) {
    const BYTE v = static_cast<BYTE>(8 + i * 12);
    entries[k].peRed = entries[k].peGreen = entries[k].peBlue = v;
  }
  std::vector<uint8_t> buffer(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buffer.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = 256;
  std::copy(entries.begin(), entries.end(), lp->palPalEntry);
  return CreatePalette(lp);
}
