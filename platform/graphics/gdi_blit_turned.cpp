// Block transfers under a map that turns or shears: the destination rectangle
// becomes a parallelogram on the device, and every device pixel whose centre
// lies inside it takes the source pixel under its centre mapped back into the
// logical rectangle (nearest pixel), mixed through the raster operation or the
// blend function.
#include <algorithm>
#include <cmath>

#include "platform/graphics/gdi_metafile_internal.h"

namespace qvgdi {

namespace {

uint32_t DivRound255(uint32_t v) { return (v + 127) / 255; }

}  // namespace

BOOL TurnedTransfer(DCObj* dc, int x, int y, int w, int h, const TurnedSource* src, uint8_t rop,
                    const BLENDFUNCTION* blend) {
  if (w == 0 || h == 0) return TRUE;
  bool usesSource = blend || RopUsesSource(rop);
  if (usesSource && (!src || !src->surface)) return FALSE;
  if (usesSource && (src->width == 0 || src->height == 0)) return TRUE;
  Matrix m = DeviceMatrix(dc);
  double det = m.m11 * m.m22 - m.m12 * m.m21;
  if (det == 0) return TRUE;
  auto map = [&](double lx, double ly) { return PointD{m.m11 * lx + m.m21 * ly + m.dx, m.m12 * lx + m.m22 * ly + m.dy}; };
  std::vector<PointD> quad{map(x, y), map(x + w, y), map(x + w, y + h), map(x, y + h)};
  Surface* ds = DCSurface(dc);
  int first = 0;
  auto rows = PolygonRowsD({quad}, ALTERNATE, 0, ds->height, first);
  Region area = Region::Combine(Region::FromRows(first, std::move(rows)), DrawableArea(dc), RGN_AND);
  if (area.Empty()) return TRUE;

  TurnedSource spare;
  Surface spareSurface;
  if (usesSource) {
    const RECT read = ExtentRect(src->x, src->y, src->width, src->height);
    const Surface* from = UnsharedSource(*ds, area.Bounds(), *src->surface, read, spareSurface);
    if (!from) return FALSE;
    spare = *src;
    spare.surface = from;
    src = &spare;
  }

  PixelCodec out(*ds);
  std::optional<PixelCodec> in;
  bool raw = false;
  if (usesSource) {
    in.emplace(*src->surface);
    raw = src->surface->bitCount == ds->bitCount && src->surface->bitCount > 8 &&
          std::equal(std::begin(src->surface->masks), std::end(src->surface->masks), std::begin(ds->masks));
  }
  BrushObj* brushObj = static_cast<BrushObj*>(FindHeld(dc->state.brush));
  bool usesPattern = !blend && RopUsesPattern(rop);
  BrushPainter brush(dc, usesPattern ? brushObj : nullptr, out);
  bool destAlpha = ds->bitCount == 32 && ds->compression == BI_RGB;

  for (const Band& band : area.Bands())
    for (int row = band.y0; row < band.y1; ++row) {
      uint8_t* d = ds->Row(row);
      for (const Span& sp : band.spans)
        for (int px = sp.x0; px < sp.x1; ++px) {
          uint32_t sv = 0, pv = 0;
          if (usesSource) {
            // The pixel centre back in logical units, then in the source rectangle.
            double cx = px + 0.5 - m.dx, cy = row + 0.5 - m.dy;
            double lx = (cx * m.m22 - cy * m.m21) / det, ly = (cy * m.m11 - cx * m.m12) / det;
            double fu = (lx - x) / w, fv = (ly - y) / h;
            if (fu < 0 || fu >= 1 || fv < 0 || fv >= 1) continue;
            // A negative source extent mirrors the picture.
            int64_t sw = std::abs(int64_t{src->width}), sh = std::abs(int64_t{src->height});
            int64_t i = static_cast<int64_t>(fu * sw), j = static_cast<int64_t>(fv * sh);
            if (src->width < 0) i = sw - 1 - i;
            if (src->height < 0) j = sh - 1 - j;
            int64_t sx = std::min<int64_t>(src->x, int64_t{src->x} + src->width) + i;
            int64_t sy = std::min<int64_t>(src->y, int64_t{src->y} + src->height) + j;
            if (sx < 0 || sy < 0 || sx >= src->surface->width || sy >= src->surface->height) continue;
            sv = in->Read(src->surface->Row(static_cast<int>(sy)), static_cast<int>(sx));
            if (blend) {
              COLORREF sc = in->ToColor(sv);
              uint32_t sa = src->surface->bitCount == 32 ? sv >> 24 : 0;
              uint32_t sca = blend->SourceConstantAlpha;
              uint32_t comp[4] = {GetRValue(sc), GetGValue(sc), GetBValue(sc), sa};
              for (uint32_t& c : comp) c = DivRound255(c * sca);
              uint32_t inv = (blend->AlphaFormat & AC_SRC_ALPHA) ? 255 - comp[3] : 255 - sca;
              uint32_t draw = out.Read(d, px);
              COLORREF dcol = out.ToColor(draw);
              uint32_t dcomp[4] = {GetRValue(dcol), GetGValue(dcol), GetBValue(dcol), destAlpha ? draw >> 24 : 0};
              uint32_t res[4];
              for (int k = 0; k < 4; ++k) res[k] = std::min<uint32_t>(255, comp[k] + DivRound255(dcomp[k] * inv));
              uint32_t v =
                  out.FromColor(RGB(static_cast<BYTE>(res[0]), static_cast<BYTE>(res[1]), static_cast<BYTE>(res[2])));
              if (destAlpha) v |= res[3] << 24;
              out.Write(d, px, v);
              continue;
            }
            if (!raw) sv = out.FromColor(in->ToColor(sv));
          }
          if (usesPattern && (brush.IsNull() || !brush.ValueAt(px, row, pv))) continue;
          uint32_t dv = RopUsesDest(rop) ? out.Read(d, px) : 0;
          out.Write(d, px, ApplyRop3(rop, pv, sv, dv));
        }
    }
  return TRUE;
}

}  // namespace qvgdi
