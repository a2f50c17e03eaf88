#include "imaging/views/image_view_render.h"

#include <algorithm>

namespace {

// Weight 255 writes the colour and 0 keeps the destination, exactly.
inline uint8_t Weigh(uint8_t d, uint8_t n, int w) {
  if (w >= 255) return n;
  if (w <= 0) return d;
  return uint8_t(d + (((int(n) - int(d)) * w * 1024) >> 18));
}

void DrawMapped(TIEBitmap& source, TIEBitmap& dest, int destX, int destY, const std::vector<int>& columns,
                const std::vector<int>& rows, bool alphaMode, uint8_t opacity) {
  TIEBitmap* alpha = alphaMode ? source.AlphaChannel() : nullptr;
  const bool rgb24 = source.PixelFormat() == ie24RGB;
  const int dw = dest.Width(), dh = dest.Height();
  std::vector<TRGB> row(columns.size());
  for (size_t j = 0; j < rows.size(); ++j) {
    const int y = destY + int(j);
    if (y < 0 || y >= dh) continue;
    const int sy = rows[j];
    if (rgb24) {
      const auto* s = reinterpret_cast<const TRGB*>(source.ScanLine(sy));
      for (size_t i = 0; i < columns.size(); ++i) row[i] = s[columns[i]];
    } else {
      for (size_t i = 0; i < columns.size(); ++i) row[i] = source.GetPixelAsRGB(columns[i], sy);
    }
    const uint8_t* a = alpha ? alpha->ScanLine(sy) : nullptr;
    auto* d = reinterpret_cast<TRGB*>(dest.ScanLine(y));
    for (size_t i = 0; i < columns.size(); ++i) {
      const int x = destX + int(i);
      if (x < 0 || x >= dw) continue;
      const int w = a ? std::min<int>(opacity, a[columns[i]]) : opacity;
      TRGB& p = d[x];
      p.r = Weigh(p.r, row[i].r, w);
      p.g = Weigh(p.g, row[i].g, w);
      p.b = Weigh(p.b, row[i].b, w);
    }
  }
}

}  // namespace

void RenderViewLayer(TIEBitmap& source, TIEBitmap& dest, const TIEViewRenderArea& area, bool useAlpha,
                     uint8_t opacity, TResampleFilter filter, uint8_t operation) {
  (void)operation;
  if (area.destW <= 0 || area.destH <= 0 || area.srcW <= 0 || area.srcH <= 0 || source.IsEmpty()) return;
  TIEAccessScope access(source, 1);
  const bool alphaMode = useAlpha && source.HasAlphaChannel() && !source.AlphaChannel()->Full();
  try {
    if (filter != rfNone && (area.srcW != area.scrW || area.srcH != area.scrH) && area.scrW > 0 && area.scrH > 0) {
      // Resampled first, then drawn one to one.
      TIEBitmap crop(area.srcW, area.srcH, source.PixelFormat());
      source.CopyPaletteTo(&crop);
      source.CopyRectTo(crop, area.srcX, area.srcY, area.srcW, area.srcH, 0, 0);
      if (alphaMode) {
        TIEBitmap* ca = crop.AlphaChannel();
        source.AlphaChannel()->CopyRectTo(*ca, area.srcX, area.srcY, area.srcW, area.srcH, 0, 0);
        ca->SetFull(false);
      }
      TIEBitmap scaled(area.scrW, area.scrH, ie24RGB);
      ResampleIEBitmap(&crop, &scaled, filter);
      std::vector<int> columns(size_t(area.destW)), rows(size_t(area.destH));
      for (int i = 0; i < area.destW; ++i) columns[size_t(i)] = std::min(i, area.scrW - 1);
      for (int i = 0; i < area.destH; ++i) rows[size_t(i)] = std::min(i, area.scrH - 1);
      const bool scaledAlpha = alphaMode && scaled.HasAlphaChannel();
      DrawMapped(scaled, dest, area.destX, area.destY, columns, rows, scaledAlpha, opacity);
      return;
    }
    DrawMapped(source, dest, area.destX, area.destY, area.columnMap, area.rowMap, alphaMode, opacity);
  } catch (const std::exception&) {
    // A failed repaint leaves the buffer partly drawn; it never raises.
  }
}
