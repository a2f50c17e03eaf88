// Raster operations and brushes: the ternary truth tables applied to pixel
// values, brush patterns prepared for a destination, and brush fills of spans.
#include <cstring>

#include "platform/graphics/gdi_internal.h"

namespace qvgdi {

uint32_t ApplyRop3(uint8_t rop, uint32_t p, uint32_t s, uint32_t d) {
  switch (rop) {
    case 0x00: return 0;
    case 0xFF: return 0xFFFFFFFFu;
    case 0xCC: return s;
    case 0xF0: return p;
    case 0xAA: return d;
    case 0x55: return ~d;
    case 0x33: return ~s;
    case 0x88: return s & d;
    case 0xEE: return s | d;
    case 0x66: return s ^ d;
    case 0x44: return s & ~d;
    case 0xBB: return ~s | d;
    case 0x11: return ~(s | d);
    case 0xC0: return p & s;
    case 0x5A: return p ^ d;
    case 0xE2: return (d & ~s) | (p & s);  // DSPDxax
    case 0xB8: return (p & ~s) | (d & s);  // PSDPxax
    default: break;
  }
  // The general case: the sum of the minterms whose bit is set in the table.
  uint32_t out = 0;
  for (int i = 0; i < 8; ++i) {
    if (!((rop >> i) & 1)) continue;
    uint32_t term = ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    out |= term;
  }
  return out;
}

uint8_t Rop2ToRop3(int rop2) {
  // R2 codes number the truth tables over pen and destination from 1; the
  // ternary table repeats each entry for both source values.
  int table = (rop2 - 1) & 0xF;
  uint8_t out = 0;
  for (int i = 0; i < 8; ++i) {
    int p = (i >> 2) & 1, d = i & 1;
    if ((table >> (p * 2 + d)) & 1) out |= static_cast<uint8_t>(1 << i);
  }
  return out;
}

namespace {

}  // namespace

// 8x8 hatches, one byte a row, most significant bit leftmost.
const uint8_t kHatches[6][8] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF},  // horizontal
    {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01},  // vertical
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // forward diagonal, top left to bottom right
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // backward diagonal
    {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0xFF},  // cross
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // diagonal cross
};

namespace {

// Patterns up to this many pixels are converted once per fill.
constexpr int64_t kMaxTile = 1 << 16;

int Mod(int a, int m) {
  int r = a % m;
  return r < 0 ? r + m : r;
}

}  // namespace

BrushPainter::BrushPainter(DCObj* dc, const BrushObj* brush, const PixelCodec& codec) : FOrigin(dc->state.brushOrg) {
  if (!brush || brush->style == BS_NULL) {
    FNull = true;
    return;
  }
  if (brush->style == BS_SOLID) {
    FSolidValue = codec.FromColor(brush->color);
    return;
  }
  FSolid = false;
  if (brush->style == BS_HATCHED) {
    FWidth = FHeight = 8;
    FTile.resize(64);
    FPaint.resize(64);
    uint32_t fore = codec.FromColor(brush->color), back = codec.FromColor(dc->state.bkColor);
    bool opaque = dc->state.bkMode == OPAQUE;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        bool on = (kHatches[brush->hatch][y] >> (7 - x)) & 1;
        FTile[y * 8 + x] = on ? fore : back;
        FPaint[y * 8 + x] = on || opaque;
      }
    return;
  }
  const Surface& p = brush->pattern;
  FWidth = p.width;
  FHeight = p.height;
  // A monochrome device bitmap as pattern takes the text and background colours.
  FMonoZero = codec.FromColor(dc->state.textColor);
  FMonoOne = codec.FromColor(dc->state.bkColor);
  if (static_cast<int64_t>(FWidth) * FHeight > kMaxTile) {
    FPattern = &p;
    FPatternCodec.emplace(p);
    FOut = &codec;
    return;
  }
  FTile.resize(static_cast<size_t>(FWidth) * FHeight);
  FPaint.assign(FTile.size(), 1);
  PixelCodec in(p);
  for (int y = 0; y < FHeight; ++y) {
    const uint8_t* row = p.Row(y);
    for (int x = 0; x < FWidth; ++x) {
      uint32_t v = in.Read(row, x);
      FTile[static_cast<size_t>(y) * FWidth + x] = p.mono ? (v ? FMonoOne : FMonoZero) : codec.FromColor(in.ToColor(v));
    }
  }
}

bool BrushPainter::ValueAt(int x, int y, uint32_t& value) const {
  if (FSolid) {
    value = FSolidValue;
    return !FNull;
  }
  int tx = Mod(x - FOrigin.x, FWidth), ty = Mod(y - FOrigin.y, FHeight);
  if (FPattern) {
    uint32_t v = FPatternCodec->Read(FPattern->Row(ty), tx);
    value = FPattern->mono ? (v ? FMonoOne : FMonoZero) : FOut->FromColor(FPatternCodec->ToColor(v));
    return true;
  }
  size_t i = static_cast<size_t>(ty) * FWidth + tx;
  value = FTile[i];
  return FPaint[i] != 0;
}

namespace {

// Fills pixels [x0, x1) of a row with one value.
void FillRow(uint8_t* row, const PixelCodec& codec, int x0, int x1, uint32_t value) {
  switch (codec.BitCount()) {
    case 8: std::memset(row + x0, static_cast<int>(value & 0xFF), static_cast<size_t>(x1 - x0)); return;
    case 32: {
      uint32_t* p = reinterpret_cast<uint32_t*>(row) + x0;
      for (int x = x0; x < x1; ++x) std::memcpy(p++, &value, 4);
      return;
    }
    default:
      for (int x = x0; x < x1; ++x) codec.Write(row, x, value);
  }
}

}  // namespace

void FillSpansWithBrush(DCObj* dc, Surface& s, const PixelCodec& codec, const BrushPainter& brush, uint8_t rop,
                        int y, const std::vector<Span>& spans) {
  if (brush.IsNull() || y < 0 || y >= s.height) return;
  uint8_t* row = s.Row(y);
  for (Span sp : spans) {
    int x0 = std::max(sp.x0, 0), x1 = std::min(sp.x1, s.width);
    if (x1 <= x0) continue;
    if (brush.IsSolid() && (rop == 0xF0 || !RopUsesDest(rop))) {
      FillRow(row, codec, x0, x1, ApplyRop3(rop, brush.SolidValue(), 0, 0));
      continue;
    }
    for (int x = x0; x < x1; ++x) {
      uint32_t p;
      if (!brush.ValueAt(x, y, p)) continue;
      codec.Write(row, x, ApplyRop3(rop, p, 0, codec.Read(row, x)));
    }
  }
}

void FillRegionWithBrush(DCObj* dc, const Region& region, const BrushObj* brush, uint8_t rop) {
  Surface* s = DCSurface(dc);
  PixelCodec codec(*s);
  BrushPainter painter(dc, brush, codec);
  if (painter.IsNull()) return;
  Region area = Region::Combine(region, DrawableArea(dc), RGN_AND);
  for (const Band& b : area.Bands())
    for (int y = b.y0; y < b.y1; ++y) FillSpansWithBrush(dc, *s, codec, painter, rop, y, b.spans);
}

void FillRegionSolid(DCObj* dc, const Region& region, COLORREF color) {
  Surface* s = DCSurface(dc);
  PixelCodec codec(*s);
  uint32_t v = codec.FromColor(color);
  for (const Band& b : region.Bands())
    for (int y = b.y0; y < b.y1; ++y) {
      uint8_t* row = s->Row(y);
      for (const Span& sp : b.spans) FillRow(row, codec, sp.x0, sp.x1, v);
    }
}

COLORREF NearestColor(DCObj* dc, COLORREF color) {
  const Surface* s = DCSurface(dc);
  PixelCodec codec(*s);
  return codec.ToColor(codec.FromColor(color));
}

}  // namespace qvgdi
