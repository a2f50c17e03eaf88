// Block transfers between surfaces: BitBlt, StretchBlt with its stretch modes,
// PatBlt, MaskBlt, PlgBlt, the DIB-to-device calls, AlphaBlend, TransparentBlt,
// GradientFill and single pixels.
#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/graphics/gdi_metafile_internal.h"
#include "platform/rtl/row_bands.h"

namespace qvgdi {

namespace {

// Turns pixel values of a source surface into values of the destination's format.
// Monochrome device bitmaps follow the DC colours: towards colour, 0 becomes the
// destination's text colour and 1 its background colour; from colour, pixels of
// the source DC's background colour become 1 and all others 0.
class SourceConverter {
public:
  SourceConverter(const Surface& src, const DCObj* srcDC, const Surface& dest, const DCObj* destDC)
      : FIn(src), FOut(dest) {
    bool sameTable = src.bitCount > 8 || SameColors(src.colors, dest.colors);
    bool sameMasks = std::memcmp(src.masks, dest.masks, sizeof(src.masks)) == 0 ||
                     (src.bitCount == 24 && dest.bitCount == 24);
    if (src.bitCount == dest.bitCount && src.mono == dest.mono && sameTable && sameMasks) {
      FRaw = true;
      return;
    }
    COLORREF srcBk = srcDC ? srcDC->state.bkColor : RGB(255, 255, 255);
    bool toMono = dest.mono && !src.mono && srcDC;
    if (src.bitCount <= 8) {
      FTable.resize(size_t{1} << src.bitCount);
      uint32_t bkIndex = FIn.FromColor(srcBk);
      for (uint32_t i = 0; i < FTable.size(); ++i) {
        if (src.mono && !dest.mono)
          FTable[i] = FOut.FromColor(i ? destDC->state.bkColor : destDC->state.textColor);
        else if (toMono)
          FTable[i] = i == bkIndex ? 1 : 0;
        else
          FTable[i] = FOut.FromColor(FIn.ToColor(i));
      }
      return;
    }
    if (toMono) {
      FToMono = true;
      FBkValue = FIn.FromColor(srcBk) & kColorBits(src);
      FColorMask = kColorBits(src);
    }
  }

  bool Raw() const { return FRaw; }
  const PixelCodec& In() const { return FIn; }
  const PixelCodec& Out() const { return FOut; }

  uint32_t Convert(uint32_t v) const {
    if (FRaw) return v;
    if (!FTable.empty()) return FTable[v];
    if (FToMono) return (v & FColorMask) == FBkValue ? 1 : 0;
    return FOut.FromColor(FIn.ToColor(v));
  }

private:
  static uint32_t kColorBits(const Surface& s) { return s.bitCount == 32 ? 0x00FFFFFFu : 0xFFFFFFFFu; }

  PixelCodec FIn;
  PixelCodec FOut;
  bool FRaw = false;
  bool FToMono = false;
  uint32_t FBkValue = 0;
  uint32_t FColorMask = 0;
  std::vector<uint32_t> FTable;
};

// Source pixel of a destination pixel along one axis: the pixel whose centre is
// nearest (ties to the lower one); -1 outside the source.
struct AxisMap {
  int destStart = 0;
  int64_t destLen = 1;
  int srcStart = 0;
  int64_t srcLen = 1;
  bool flip = false;
  int limit = 0;  // source surface size

  int Index(int d) const {
    int64_t i = d - destStart;
    int64_t j = ((2 * i + 1) * srcLen - 1) / (2 * destLen);
    if (flip) j = srcLen - 1 - j;
    int64_t s = srcStart + j;
    return s < 0 || s >= limit ? -1 : static_cast<int>(s);
  }
  // Source pixels a destination pixel covers: [first, last) and the weights of
  // each in 1/65536 (area coverage).
  void Cover(int d, std::vector<std::pair<int, uint32_t>>& out) const {
    out.clear();
    int64_t i = d - destStart;
    if (flip) i = destLen - 1 - i;
    // In units of 1/destLen of a source pixel.
    int64_t a = i * srcLen, b = (i + 1) * srcLen;
    int64_t first = a / destLen, last = (b + destLen - 1) / destLen;
    uint64_t total = static_cast<uint64_t>(b - a);
    for (int64_t j = first; j < last; ++j) {
      int64_t lo = std::max(a, j * destLen), hi = std::min(b, (j + 1) * destLen);
      if (hi <= lo) continue;
      int64_t s = srcStart + j;
      if (s < 0 || s >= limit) continue;
      out.push_back({static_cast<int>(s), static_cast<uint32_t>((static_cast<uint64_t>(hi - lo) << 16) / total)});
    }
  }
};

struct BlitSource {
  const Surface* surface = nullptr;
  const DCObj* dc = nullptr;
  int x = 0, y = 0, width = 0, height = 0;  // device coordinates; negative sizes mirror
};

struct BlitMask {
  const Surface* surface = nullptr;
  int x = 0, y = 0;
};

// Brings a rectangle given by a corner and signed extents into a start and a
// positive length; the extent's sign says whether it runs backwards.
void NormaliseExtent(int& start, int& len, bool& flip) {
  if (len < 0) {
    start += len;
    len = -len;
    flip = !flip;
  }
}

uint32_t DivRound255(uint32_t v) { return (v + 127) / 255; }

// What a transfer decides before its first pixel: the surfaces, the axis
// maps, the raster operation of each mask value and which of pattern, source
// and destination each one reads.
struct TransferOp {
  uint8_t code = 0xAA;
  bool source = false, pattern = false, dest = false;
  explicit TransferOp(uint8_t rop)
      : code(rop), source(RopUsesSource(rop)), pattern(RopUsesPattern(rop)), dest(RopUsesDest(rop)) {}
};

struct TransferPlan {
  Surface* ds = nullptr;
  const PixelCodec* codec = nullptr;
  const BrushPainter* brush = nullptr;
  const BlitSource* src = nullptr;
  const BlitMask* mask = nullptr;
  const PixelCodec* maskCodec = nullptr;
  AxisMap mx, my;
  int x = 0, y = 0;  // destination origin, where the mask's origin lies
  bool usesSource = false;
  TransferOp fore{0xAA}, back{0xAA};
};

// The columns a transfer touches, from the leftmost span to the rightmost.
void AreaColumns(const Region& area, int& x0, int& x1) {
  x0 = INT32_MAX, x1 = INT32_MIN;
  for (const Band& band : area.Bands())
    for (const Span& sp : band.spans) {
      x0 = std::min(x0, sp.x0);
      x1 = std::max(x1, sp.x1);
    }
}

// Source samplers: Row sets up a destination row, Pixel gives the source
// value of a destination pixel (false: nothing to paint there). Column work is
// done once per column when the sampler is made, never per pixel.

// No source pixel is read.
struct NoSource {
  void Row(int, const uint8_t*) {}
  bool Pixel(int, uint32_t&) const { return false; }
};

// The source pixel whose centre is nearest (COLORONCOLOR, and every copy at 1:1).
class NearestSource {
public:
  NearestSource(const TransferPlan& p, const SourceConverter& conv, int x0, int x1)
      : FConv(conv), FIn(conv.In()), FX0(x0), FColumns(static_cast<size_t>(std::max(x1 - x0, 0))) {
    for (int px = x0; px < x1; ++px) FColumns[static_cast<size_t>(px - x0)] = p.mx.Index(px);
  }
  void Row(int, const uint8_t* s) { FRow = s; }
  bool Pixel(int px, uint32_t& sv) const {
    const int sxi = FColumns[static_cast<size_t>(px - FX0)];
    if (sxi < 0) return false;
    sv = FConv.Convert(FIn.Read(FRow, sxi));
    return true;
  }

private:
  const SourceConverter& FConv;
  const PixelCodec& FIn;
  int FX0;
  std::vector<int> FColumns;  // source column of each destination column, -1 outside
  const uint8_t* FRow = nullptr;
};

// BLACKONWHITE and WHITEONBLACK: the nearest pixel, and when shrinking, every
// covered source pixel ANDed (ORed) in, so black (white) pixels that would be
// dropped are kept.
class KeepingSource {
public:
  KeepingSource(const TransferPlan& p, const SourceConverter& conv, int x0, int x1, bool keepBlack)
      : FPlan(p), FNearest(p, conv, x0, x1), FConv(conv), FKeepBlack(keepBlack), FX0(x0) {
    const AxisMap& mx = p.mx;
    for (int px = x0; px < x1; ++px) {
      const int64_t i = px - mx.destStart;
      FSpans.push_back({i * mx.srcLen / mx.destLen, (i + 1) * mx.srcLen / mx.destLen});
    }
  }
  void Row(int row, const uint8_t* s) {
    FNearest.Row(row, s);
    const AxisMap& my = FPlan.my;
    FRowA = (row - my.destStart) * my.srcLen / my.destLen;
    FRowB = (row - my.destStart + 1) * my.srcLen / my.destLen;
  }
  bool Pixel(int px, uint32_t& sv) const {
    if (!FNearest.Pixel(px, sv)) return false;
    const auto [a, b] = FSpans[static_cast<size_t>(px - FX0)];
    if (b - a <= 1 && FRowB - FRowA <= 1) return true;
    const AxisMap &mx = FPlan.mx, &my = FPlan.my;
    const Surface& ss = *FPlan.src->surface;
    for (int64_t jy = FRowA; jy < std::max(FRowB, FRowA + 1); ++jy) {
      const int64_t syy = my.flip ? my.srcStart + my.srcLen - 1 - jy : my.srcStart + jy;
      if (syy < 0 || syy >= my.limit) continue;
      const uint8_t* srow = ss.Row(static_cast<int>(syy));
      for (int64_t jx = a; jx < std::max(b, a + 1); ++jx) {
        const int64_t sxx = mx.flip ? mx.srcStart + mx.srcLen - 1 - jx : mx.srcStart + jx;
        if (sxx < 0 || sxx >= mx.limit) continue;
        const uint32_t v = FConv.Convert(FConv.In().Read(srow, static_cast<int>(sxx)));
        sv = FKeepBlack ? (sv & v) : (sv | v);
      }
    }
    return true;
  }

private:
  const TransferPlan& FPlan;
  NearestSource FNearest;
  const SourceConverter& FConv;
  bool FKeepBlack;
  int FX0;
  std::vector<std::pair<int64_t, int64_t>> FSpans;  // covered source columns of each destination column
  int64_t FRowA = 0, FRowB = 0;
};

// HALFTONE: the average of the covered source pixels, weighted by area. The
// coverage of each destination column is worked out once, of each row once
// per row.
class HalftoneSource {
public:
  HalftoneSource(const TransferPlan& p, const SourceConverter& conv, int x0, int x1)
      : FPlan(p), FIn(conv.In()), FX0(x0) {
    const Surface& ss = *p.src->surface;
    FSourceAlpha = ss.bitCount == 32;
    FKeepAlpha = p.ds->bitCount == 32 && ss.bitCount == 32 && p.ds->compression == BI_RGB;
    std::vector<std::pair<int, uint32_t>> cover;
    FStart.push_back(0);
    for (int px = x0; px < x1; ++px) {
      p.mx.Cover(px, cover);
      FCover.insert(FCover.end(), cover.begin(), cover.end());
      FStart.push_back(FCover.size());
    }
  }
  void Row(int row, const uint8_t*) { FPlan.my.Cover(row, FCoverY); }
  bool Pixel(int px, uint32_t& sv) const {
    const size_t c = static_cast<size_t>(px - FX0);
    const auto* first = FCover.data() + FStart[c];
    const auto* last = FCover.data() + FStart[c + 1];
    const Surface& ss = *FPlan.src->surface;
    uint64_t acc[4] = {0, 0, 0, 0}, wsum = 0;
    for (auto [syi, wy] : FCoverY) {
      const uint8_t* srow = ss.Row(syi);
      for (const auto* e = first; e != last; ++e) {
        const uint64_t w = static_cast<uint64_t>(e->second) * wy;
        const uint32_t raw = FIn.Read(srow, e->first);
        const COLORREF col = FIn.ToColor(raw);
        acc[0] += w * GetRValue(col);
        acc[1] += w * GetGValue(col);
        acc[2] += w * GetBValue(col);
        acc[3] += w * (FSourceAlpha ? raw >> 24 : 0);
        wsum += w;
      }
    }
    if (wsum == 0) return false;
    auto avg = [&](int k) { return static_cast<BYTE>((acc[k] + wsum / 2) / wsum); };
    sv = FPlan.codec->FromColor(RGB(avg(0), avg(1), avg(2)));
    if (FKeepAlpha) sv |= static_cast<uint32_t>(avg(3)) << 24;
    return true;
  }

private:
  const TransferPlan& FPlan;
  const PixelCodec& FIn;
  int FX0;
  bool FSourceAlpha = false, FKeepAlpha = false;
  std::vector<std::pair<int, uint32_t>> FCover;  // source columns and weights of every destination column
  std::vector<size_t> FStart;                    // where each destination column's entries start
  std::vector<std::pair<int, uint32_t>> FCoverY;
};

// Every visible destination pixel gets ROP(pattern, source, destination); with
// a mask, pixels under a 0 in it take the background operation.
template <bool kMask, class Sampler>
void TransferRows(const TransferPlan& p, const Region& area, Sampler& sampler) {
  const PixelCodec& codec = *p.codec;
  for (const Band& band : area.Bands()) {
    for (int row = band.y0; row < band.y1; ++row) {
      const uint8_t* s = nullptr;
      if (p.usesSource) {
        const int srcRow = p.my.Index(row);
        if (srcRow < 0) continue;
        s = p.src->surface->Row(srcRow);
      }
      const uint8_t* m = nullptr;
      if constexpr (kMask) {
        const int maskRow = p.mask->y + (row - p.y);
        if (maskRow < 0 || maskRow >= p.mask->surface->height) continue;
        m = p.mask->surface->Row(maskRow);
      }
      uint8_t* d = p.ds->Row(row);
      sampler.Row(row, s);
      for (const Span& sp : band.spans) {
        for (int px = sp.x0; px < sp.x1; ++px) {
          const TransferOp* op = &p.fore;
          if constexpr (kMask) {
            const int maskX = p.mask->x + (px - p.x);
            if (maskX < 0 || maskX >= p.mask->surface->width) continue;
            if (!p.maskCodec->Read(m, maskX)) op = &p.back;
          }
          uint32_t sv = 0, pv = 0;
          if (op->source && !sampler.Pixel(px, sv)) continue;
          // A null brush, and the background of a hatch in TRANSPARENT mode, paint nothing.
          if (op->pattern && (p.brush->IsNull() || !p.brush->ValueAt(px, row, pv))) continue;
          const uint32_t dv = op->dest ? codec.Read(d, px) : 0;
          codec.Write(d, px, ApplyRop3(op->code, pv, sv, dv));
        }
      }
    }
  }
}

template <class Sampler>
void TransferWith(const TransferPlan& p, const Region& area, Sampler& sampler) {
  if (p.mask)
    TransferRows<true>(p, area, sampler);
  else
    TransferRows<false>(p, area, sampler);
}

// Whether a transfer reads pixels it also writes: source and destination
// rectangles (device coordinates) overlapping on one surface's memory.
bool SharesPixels(const Surface& dest, const RECT& written, const Surface& source, const RECT& read) {
  const uint8_t *d0 = dest.bits, *d1 = dest.bits + dest.ImageBytes();
  const uint8_t *s0 = source.bits, *s1 = source.bits + source.ImageBytes();
  if (d1 <= s0 || s1 <= d0) return false;
  // Views of one block at different places or in different layouts (a DIB's
  // own bits handed back as another DIB): take no chances.
  if (dest.bits != source.bits || dest.stride != source.stride || dest.topDown != source.topDown ||
      dest.height != source.height)
    return true;
  return written.left < read.right && read.left < written.right && written.top < read.bottom &&
         read.top < written.bottom;
}

// Calls copy(destination, source, pixels) for every visible span of an
// unstretched, unflipped transfer, after checking that each span has source
// pixels under both its ends; false (nothing done) when one has not. A large
// copy runs in row bands on several threads (the source never overlaps the
// destination here, see Transfer); the bytes are the same either way.
template <class RowCopy>
bool CopySpansWith(const TransferPlan& p, const Region& area, int sourceBytes, int destBytes, RowCopy copy) {
  for (const Band& band : area.Bands()) {
    for (int row = band.y0; row < band.y1; ++row) {
      const int srcRow = p.my.Index(row);
      if (srcRow < 0) continue;
      for (const Span& sp : band.spans)
        if (p.mx.Index(sp.x0) < 0 || p.mx.Index(sp.x1 - 1) < 0) return false;
    }
  }
  // Rows top..bottom-1 of the area, first..last of them.
  const RECT bounds = area.Bounds();
  auto copyRows = [&](int first, int last) {
    const int y0 = bounds.top + first, y1 = bounds.top + last + 1;
    for (const Band& band : area.Bands()) {
      for (int row = std::max(band.y0, y0); row < std::min(band.y1, y1); ++row) {
        const int srcRow = p.my.Index(row);
        if (srcRow < 0) continue;
        uint8_t* d = p.ds->Row(row);
        const uint8_t* s = p.src->surface->Row(srcRow);
        for (const Span& sp : band.spans)
          copy(d + static_cast<size_t>(sp.x0) * destBytes, s + static_cast<size_t>(p.mx.Index(sp.x0)) * sourceBytes,
               sp.x1 - sp.x0);
      }
    }
  };
  size_t bytes = 0;
  for (const Band& band : area.Bands())
    for (const Span& sp : band.spans)
      bytes += static_cast<size_t>(sp.x1 - sp.x0) * destBytes * static_cast<size_t>(band.y1 - band.y0);
  RunCopyBands(bytes, bounds.bottom - bounds.top, copyRows);
  return true;
}

bool CopySpans(const TransferPlan& p, const Region& area) {
  const int bytesPerPixel = p.ds->bitCount / 8;
  return CopySpansWith(p, area, bytesPerPixel, bytesPerPixel, [bytesPerPixel](uint8_t* d, const uint8_t* s, int n) {
    std::memcpy(d, s, static_cast<size_t>(n) * bytesPerPixel);
  });
}

#if defined(__x86_64__)
// Four pixels a step, one shuffle each: a window-sized widening copy is a good
// share of a frame of the image view. Returns the pixels done; the last
// pixels, whose 16-byte read would pass the end of the span, are left over.
__attribute__((target("ssse3"))) int WidenSsse3(uint8_t* d, const uint8_t* s, int n) {
  const __m128i order = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  int x = 0;
  for (; x + 6 <= n; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * static_cast<size_t>(x)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * static_cast<size_t>(x)), _mm_shuffle_epi8(v, order));
  }
  return x;
}

bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
#endif

// 24-bit pixels into 32-bit ones (alpha 0, as GDI leaves it): what a window's
// back buffer copy to its 32-bit surface does.
void WidenRow(uint8_t* d, const uint8_t* s, int n) {
  int x = 0;
#if defined(__x86_64__)
  if (HasSsse3()) x = WidenSsse3(d, s, n);
#endif
  // Four bytes read for three: all but the last pixel may read one ahead.
  for (; x + 1 < n; ++x) {
    uint32_t v;
    std::memcpy(&v, s + 3 * static_cast<size_t>(x), 4);
    v &= 0x00FFFFFFu;
    std::memcpy(d + 4 * static_cast<size_t>(x), &v, 4);
  }
  for (; x < n; ++x) {
    const uint8_t* q = s + 3 * static_cast<size_t>(x);
    const uint32_t v = q[0] | (uint32_t(q[1]) << 8) | (uint32_t(q[2]) << 16);
    std::memcpy(d + 4 * static_cast<size_t>(x), &v, 4);
  }
}

bool WidenSpans(const TransferPlan& p, const Region& area) { return CopySpansWith(p, area, 3, 4, WidenRow); }

// The general transfer: every destination pixel of the visible destination
// rectangle gets ROP(pattern, source, destination). The plan is made once; a
// loop per stretch mode and per mask does the pixels.
BOOL Transfer(DCObj* dc, int x, int y, int width, int height, const BlitSource* src, uint8_t rop,
              const BlitMask* mask = nullptr, uint8_t backRop = 0xAA, bool stretch = false) {
  Surface* ds = DCSurface(dc);
  bool flipX = false, flipY = false;
  NormaliseExtent(x, width, flipX);
  NormaliseExtent(y, height, flipY);
  if (width == 0 || height == 0) return TRUE;
  TransferPlan p;
  p.ds = ds;
  p.x = x, p.y = y;
  p.fore = TransferOp(rop);
  p.back = TransferOp(mask ? backRop : rop);
  p.usesSource = p.fore.source || (mask && p.back.source);
  const bool usesPattern = p.fore.pattern || (mask && p.back.pattern);
  std::optional<SourceConverter> conv;
  int mode = dc->state.stretchMode;
  BlitSource spare;
  Surface spareSurface;
  if (p.usesSource) {
    if (!src || !src->surface) return FALSE;
    int sx = src->x, sy = src->y, sw = src->width, sh = src->height;
    NormaliseExtent(sx, sw, flipX);
    NormaliseExtent(sy, sh, flipY);
    if (sw == 0 || sh == 0) return TRUE;
    const Surface* from = UnsharedSource(*ds, ExtentRect(x, y, width, height), *src->surface,
                                         ExtentRect(sx, sy, sw, sh), spareSurface);
    if (!from) return FALSE;
    if (from != src->surface) {
      spare = *src;
      spare.surface = from;
      src = &spare;
    }
    p.mx = AxisMap{x, width, sx, sw, flipX, src->surface->width};
    p.my = AxisMap{y, height, sy, sh, flipY, src->surface->height};
    conv.emplace(*src->surface, src->dc, *ds, dc);
    if (!stretch || (sw == width && sh == height)) mode = COLORONCOLOR;
  }
  p.src = src;
  PixelCodec codec(*ds);
  p.codec = &codec;
  BrushObj* brushObj = static_cast<BrushObj*>(FindHeld(dc->state.brush));
  BrushPainter brush(dc, usesPattern ? brushObj : nullptr, codec);
  p.brush = &brush;
  Region area = Region::Combine(DrawableArea(dc), Region::FromRect(x, y, x + width, y + height), RGN_AND);
  if (area.Empty()) return TRUE;
  std::optional<PixelCodec> maskCodec;
  BlitMask spareMask;
  Surface spareMaskSurface;
  if (mask) {
    // A mask may be the destination's own bitmap.
    const Surface* from = UnsharedSource(*ds, ExtentRect(x, y, width, height), *mask->surface,
                                         ExtentRect(mask->x, mask->y, width, height), spareMaskSurface);
    if (!from) return FALSE;
    if (from != mask->surface) {
      spareMask = BlitMask{from, mask->x, mask->y};
      mask = &spareMask;
    }
    maskCodec.emplace(*mask->surface);
    p.mask = mask;
    p.maskCodec = &*maskCodec;
  }

  if (!p.usesSource) {
    NoSource none;
    TransferWith(p, area, none);
    return TRUE;
  }
  const bool plainCopy = !usesPattern && rop == 0xCC && !mask && conv->Raw() && !flipX && src->width == width &&
                         ds->bitCount >= 8 && mode == COLORONCOLOR;
  if (plainCopy && CopySpans(p, area)) return TRUE;
  const Surface& ss = *src->surface;
  const bool widenCopy = !usesPattern && rop == 0xCC && !mask && !flipX && src->width == width &&
                         mode == COLORONCOLOR && ss.bitCount == 24 && !ss.mono && ds->bitCount == 32 && !ds->mono &&
                         ds->compression == BI_RGB;
  if (widenCopy && WidenSpans(p, area)) return TRUE;
  int x0 = 0, x1 = 0;
  AreaColumns(area, x0, x1);
  if (mode == HALFTONE) {
    HalftoneSource sampler(p, *conv, x0, x1);
    TransferWith(p, area, sampler);
  } else if (mode == BLACKONWHITE || mode == WHITEONBLACK) {
    KeepingSource sampler(p, *conv, x0, x1, mode == BLACKONWHITE);
    TransferWith(p, area, sampler);
  } else {
    NearestSource sampler(p, *conv, x0, x1);
    TransferWith(p, area, sampler);
  }
  return TRUE;
}

// Calls fn(destination row, x, source row, source x) for every visible
// destination pixel of a stretched copy with a source pixel under it. False
// when the source overlaps the destination and no copy of it can be made.
template <class Fn>
bool ForEachStretched(DCObj* d, int x, int y, int width, int height, const Surface& ss, int sx, int sy, int sw, int sh,
                      Fn fn) {
  Surface* ds = DCSurface(d);
  AxisMap mx{x, width, sx, sw, false, ss.width};
  AxisMap my{y, height, sy, sh, false, ss.height};
  Region area = Region::Combine(DrawableArea(d), Region::FromRect(x, y, x + width, y + height), RGN_AND);
  if (area.Empty()) return true;
  Surface spare;
  const Surface* from = UnsharedSource(*ds, area.Bounds(), ss, ExtentRect(sx, sy, sw, sh), spare);
  if (!from) return false;
  for (const Band& band : area.Bands())
    for (int row = band.y0; row < band.y1; ++row) {
      int sr = my.Index(row);
      if (sr < 0) continue;
      const uint8_t* srow = from->Row(sr);
      uint8_t* drow = ds->Row(row);
      for (const Span& sp : band.spans)
        for (int px = sp.x0; px < sp.x1; ++px) {
          int sxi = mx.Index(px);
          if (sxi >= 0) fn(drow, px, srow, sxi);
        }
    }
  return true;
}

bool SourceFromDC(HDC hdc, int x, int y, int width, int height, BlitSource& out) {
  DCObj* dc = FindDC(hdc);
  if (!dc) return false;
  out.surface = DCSurface(dc);
  out.dc = dc;
  out.x = DevX(dc, x);
  out.y = DevY(dc, y);
  out.width = width;
  out.height = height;
  if (dc->screen) RefreshScreenArea(dc, std::min(out.x, out.x + width), std::min(out.y, out.y + height), std::abs(width),
                                    std::abs(height));
  return true;
}

// A logical rectangle's device origin and size (the size keeps its sign).
struct DevBox {
  int x, y, w, h;
};
DevBox DeviceRect(DCObj* d, int x, int y, int w, int h) {
  if (d->state.plain) return DevBox{DevX(d, x), DevY(d, y), w, h};
  int x0 = DevX(d, x), y0 = DevY(d, y);
  return DevBox{x0, y0, DevX(d, x + w) - x0, DevY(d, y + h) - y0};
}

bool ValidSize(int w, int h) { return w > -kMaxDimension * 64 && w < kMaxDimension * 64 && h > -kMaxDimension * 64 &&
                                      h < kMaxDimension * 64; }

}  // namespace

RECT ExtentRect(int64_t x, int64_t y, int64_t width, int64_t height) {
  auto clamp = [](int64_t v) { return static_cast<LONG>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  return RECT{clamp(std::min(x, x + width)), clamp(std::min(y, y + height)), clamp(std::max(x, x + width)),
              clamp(std::max(y, y + height))};
}

const Surface* UnsharedSource(const Surface& dest, const RECT& written, const Surface& source, const RECT& read,
                              Surface& spare) {
  if (!SharesPixels(dest, written, source, read)) return &source;
  if (!CopySurfaceRows(spare, source, read.top, read.bottom)) return nullptr;
  return &spare;
}

}  // namespace qvgdi

using namespace qvgdi;

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop) {
  auto lock = Lock();
  DCObj* d = FindDC(dest);
  if (!d || !ValidSize(width, height)) return FALSE;
  uint8_t code = static_cast<uint8_t>(rop >> 16);
  BlitSource s;
  if (RopUsesSource(code)) {
    if (!SourceFromDC(src, xSrc, ySrc, width, height, s)) return FALSE;
  }
  if (d->recorder)
    return RecBlit(d, EMR_BITBLT, x, y, width, height, RopUsesSource(code) ? FindDC(src) : nullptr, xSrc, ySrc, width,
                   height, rop);
  if (!AxisAligned(d)) {
    TurnedSource t{s.surface, s.x, s.y, width, height};
    return TurnedTransfer(d, x, y, width, height, &t, code);
  }
  DevBox b = DeviceRect(d, x, y, width, height);
  if (b.w != width || b.h != height) {
    // Scaled by the map: the copy stretches.
    if (!RopUsesSource(code)) {
      s.width = b.w;
      s.height = b.h;
    }
    return Transfer(d, b.x, b.y, b.w, b.h, &s, code, nullptr, 0xAA, true);
  }
  return Transfer(d, b.x, b.y, width, height, &s, code);
}

BOOL StretchBlt(HDC dest, int xDest, int yDest, int destWidth, int destHeight, HDC src, int xSrc, int ySrc,
                int srcWidth, int srcHeight, DWORD rop) {
  auto lock = Lock();
  DCObj* d = FindDC(dest);
  if (!d || !ValidSize(destWidth, destHeight) || !ValidSize(srcWidth, srcHeight)) return FALSE;
  uint8_t code = static_cast<uint8_t>(rop >> 16);
  BlitSource s;
  if (RopUsesSource(code)) {
    if (!SourceFromDC(src, xSrc, ySrc, srcWidth, srcHeight, s)) return FALSE;
  }
  if (d->recorder)
    return RecBlit(d, RopUsesSource(code) ? EMR_STRETCHBLT : EMR_BITBLT, xDest, yDest, destWidth, destHeight,
                   RopUsesSource(code) ? FindDC(src) : nullptr, xSrc, ySrc, srcWidth, srcHeight, rop);
  if (!AxisAligned(d)) {
    TurnedSource t{s.surface, s.x, s.y, srcWidth, srcHeight};
    return TurnedTransfer(d, xDest, yDest, destWidth, destHeight, &t, code);
  }
  DevBox b = DeviceRect(d, xDest, yDest, destWidth, destHeight);
  if (!RopUsesSource(code)) {
    s.width = b.w;
    s.height = b.h;
  }
  return Transfer(d, b.x, b.y, b.w, b.h, &s, code, nullptr, 0xAA, true);
}

BOOL PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop) {
  auto lock = Lock();
  DCObj* d = FindDC(hdc);
  uint8_t code = static_cast<uint8_t>(rop >> 16);
  if (!d || RopUsesSource(code) || !ValidSize(width, height)) return FALSE;
  if (d->recorder) return RecBlit(d, EMR_BITBLT, x, y, width, height, nullptr, 0, 0, 0, 0, rop);
  if (!AxisAligned(d)) return TurnedTransfer(d, x, y, width, height, nullptr, code);
  DevBox b = DeviceRect(d, x, y, width, height);
  return Transfer(d, b.x, b.y, b.w, b.h, nullptr, code);
}

BOOL MaskBlt(HDC dest, int xDest, int yDest, int width, int height, HDC src, int xSrc, int ySrc, HBITMAP mask,
             int xMask, int yMask, DWORD rop) {
  auto lock = Lock();
  DCObj* d = FindDC(dest);
  if (!d || !ValidSize(width, height)) return FALSE;
  uint8_t fore = static_cast<uint8_t>(rop >> 16), back = static_cast<uint8_t>(rop >> 24);
  BlitSource s;
  if ((RopUsesSource(fore) || (mask && RopUsesSource(back))) && !SourceFromDC(src, xSrc, ySrc, width, height, s))
    return FALSE;
  bool withSource = RopUsesSource(fore) || (mask && RopUsesSource(back));
  if (!mask) {
    if (d->recorder)
      return RecBlit(d, EMR_BITBLT, xDest, yDest, width, height, withSource ? FindDC(src) : nullptr, xSrc, ySrc, width,
                     height, (rop & 0x00FFFFFF) | (uint32_t{fore} << 16));
    return Transfer(d, DevX(d, xDest), DevY(d, yDest), width, height, &s, fore);
  }
  BitmapObj* m = FindBitmap(mask);
  if (!m || m->surface.bitCount != 1 || width < 0 || height < 0) return FALSE;
  if (xMask < 0 || yMask < 0 || xMask + width > m->surface.width || yMask + height > m->surface.height)
    return FALSE;
  if (d->recorder)
    return RecMaskBlt(d, xDest, yDest, width, height, withSource ? FindDC(src) : nullptr, xSrc, ySrc, &m->surface,
                      xMask, yMask, rop);
  BlitMask bm{&m->surface, xMask, yMask};
  return Transfer(d, DevX(d, xDest), DevY(d, yDest), width, height, &s, fore, &bm, back);
}

BOOL PlgBlt(HDC dest, const POINT* points, HDC src, int xSrc, int ySrc, int width, int height, HBITMAP mask,
            int xMask, int yMask) {
  auto lock = Lock();
  DCObj* d = FindDC(dest);
  BlitSource s;
  if (!d || !points || width <= 0 || height <= 0 || !SourceFromDC(src, xSrc, ySrc, width, height, s)) return FALSE;
  const Surface* mk = nullptr;
  if (mask) {
    BitmapObj* m = FindBitmap(mask);
    if (!m || m->surface.bitCount != 1) return FALSE;
    mk = &m->surface;
  }
  if (d->recorder) return RecPlgBlt(d, points, FindDC(src), xSrc, ySrc, width, height, mk, xMask, yMask);
  // The source rectangle maps onto the parallelogram spanned from the upper left
  // corner by the vectors to the upper right and lower left corners, all three
  // points through the map.
  POINT p0 = DevPoint(d, points[0].x, points[0].y), p1 = DevPoint(d, points[1].x, points[1].y),
        p2 = DevPoint(d, points[2].x, points[2].y);
  double ox = p0.x, oy = p0.y;
  double ux = p1.x - p0.x, uy = p1.y - p0.y;
  double vx = p2.x - p0.x, vy = p2.y - p0.y;
  double det = ux * vy - uy * vx;
  if (std::abs(det) < 1e-9) return FALSE;
  POINT corners[4] = {{LONG(ox), LONG(oy)},
                      {LONG(ox + ux), LONG(oy + uy)},
                      {LONG(ox + ux + vx), LONG(oy + uy + vy)},
                      {LONG(ox + vx), LONG(oy + vy)}};
  int top = INT32_MAX, bottom = INT32_MIN;
  for (const POINT& c : corners) {
    top = std::min<int>(top, c.y);
    bottom = std::max<int>(bottom, c.y);
  }
  Surface* ds = DCSurface(d);
  int first = 0;
  auto rows = PolygonRows({std::vector<POINT>(corners, corners + 4)}, ALTERNATE, std::max(top, 0),
                          std::min(bottom, ds->height), first);
  Region shape = Region::Combine(Region::FromRows(first, std::move(rows)), DrawableArea(d), RGN_AND);
  if (shape.Empty()) return TRUE;
  // The source, and the mask, may lie under the parallelogram on the same surface.
  Surface spare, spareMask;
  s.surface = UnsharedSource(*ds, shape.Bounds(), *s.surface, ExtentRect(s.x, s.y, width, height), spare);
  if (!s.surface) return FALSE;
  if (mk) {
    mk = UnsharedSource(*ds, shape.Bounds(), *mk, ExtentRect(xMask, yMask, width, height), spareMask);
    if (!mk) return FALSE;
  }
  SourceConverter conv(*s.surface, s.dc, *ds, d);
  PixelCodec codec(*ds);
  PixelCodec maskCodec = mk ? PixelCodec(*mk) : codec;
  for (const Band& band : shape.Bands())
    for (int y = band.y0; y < band.y1; ++y) {
      uint8_t* drow = ds->Row(y);
      for (const Span& sp : band.spans)
        for (int x = sp.x0; x < sp.x1; ++x) {
          double px = x + 0.5 - ox, py = y + 0.5 - oy;
          double u = (px * vy - py * vx) / det, v = (ux * py - uy * px) / det;
          int i = static_cast<int>(std::floor(u * width)), j = static_cast<int>(std::floor(v * height));
          if (i < 0 || j < 0 || i >= width || j >= height) continue;
          if (mk) {
            int mx = xMask + i, my = yMask + j;
            if (mx < 0 || my < 0 || mx >= mk->width || my >= mk->height || !maskCodec.Read(mk->Row(my), mx)) continue;
          }
          int sx = s.x + i, sy = s.y + j;
          if (sx < 0 || sy < 0 || sx >= s.surface->width || sy >= s.surface->height) continue;
          codec.Write(drow, x, conv.Convert(conv.In().Read(s.surface->Row(sy), sx)));
        }
    }
  return TRUE;
}

int StretchDIBits(HDC hdc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
  auto lock = Lock();
  DCObj* d = FindDC(hdc);
  Surface view;
  if (!d || !bits || !ValidSize(destWidth, destHeight) || !ValidSize(srcWidth, srcHeight) ||
      !SurfaceFromDib(view, info, bits, usage, DCPaletteEntries(d)))
    return 0;
  if (d->recorder) {
    int32_t v[9] = {xDest, yDest, xSrc, ySrc, srcWidth, srcHeight, static_cast<int32_t>(rop), destWidth, destHeight};
    return RecDib(d, EMR_STRETCHDIBITS, v, 9, info, bits, usage, view.height) ? std::abs(srcHeight) : 0;
  }
  // Source coordinates of a bottom-up DIB count from its lower left corner.
  int sy = view.topDown ? ySrc : view.height - ySrc - srcHeight;
  BlitSource s{&view, nullptr, xSrc, sy, srcWidth, srcHeight};
  uint8_t code = static_cast<uint8_t>(rop >> 16);
  if (!AxisAligned(d)) {
    TurnedSource t{&view, xSrc, sy, srcWidth, srcHeight};
    return TurnedTransfer(d, xDest, yDest, destWidth, destHeight, &t, code) ? std::abs(srcHeight) : 0;
  }
  DevBox b = DeviceRect(d, xDest, yDest, destWidth, destHeight);
  if (!Transfer(d, b.x, b.y, b.w, b.h, &s, code, nullptr, 0xAA, true)) return 0;
  return std::abs(srcHeight);
}

int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc, UINT startScan,
                      UINT lines, const void* bits, const BITMAPINFO* info, UINT usage) {
  auto lock = Lock();
  DCObj* d = FindDC(hdc);
  Surface full;
  if (!d || !bits || lines == 0 || !SurfaceFromDib(full, info, bits, usage, DCPaletteEntries(d))) return 0;
  if (width > static_cast<DWORD>(kMaxDimension) || height > static_cast<DWORD>(kMaxDimension)) return 0;
  int total = full.height;
  if (startScan >= static_cast<UINT>(total)) return 0;
  int count = static_cast<int>(std::min<UINT>(lines, static_cast<UINT>(total) - startScan));
  if (d->recorder) {
    int32_t v[8] = {xDest, yDest, xSrc, ySrc, static_cast<int32_t>(width), static_cast<int32_t>(height),
                    static_cast<int32_t>(startScan), count};
    return RecDib(d, EMR_SETDIBITSTODEVICE, v, 8, info, bits, usage, count) ? count : 0;
  }
  // The bits hold only the scan lines [startScan, startScan + count); for a
  // bottom-up DIB scan 0 is the bottom row and ySrc counts from the bottom too.
  Surface view = std::move(full);
  int firstRow = view.topDown ? static_cast<int>(startScan) : total - static_cast<int>(startScan) - count;
  view.height = count;
  int top = view.topDown ? ySrc : total - ySrc - static_cast<int>(height);
  BlitSource s{&view, nullptr, xSrc, top - firstRow, static_cast<int>(width), static_cast<int>(height)};
  if (!Transfer(d, DevX(d, xDest), DevY(d, yDest), static_cast<int>(width), static_cast<int>(height), &s, 0xCC))
    return 0;
  return count;
}

BOOL AlphaBlend(HDC dest, int xDest, int yDest, int destWidth, int destHeight, HDC src, int xSrc, int ySrc,
                int srcWidth, int srcHeight, BLENDFUNCTION blend) {
  auto lock = Lock();
  DCObj* d = FindDC(dest);
  BlitSource s;
  if (!d || !SourceFromDC(src, xSrc, ySrc, srcWidth, srcHeight, s)) return FALSE;
  if (destWidth < 0 || destHeight < 0 || srcWidth < 0 || srcHeight < 0 || blend.BlendOp != AC_SRC_OVER) return FALSE;
  if (!ValidSize(destWidth, destHeight)) return FALSE;
  const Surface& ss = *s.surface;
  bool perPixel = (blend.AlphaFormat & AC_SRC_ALPHA) != 0;
  if (perPixel && ss.bitCount != 32) return FALSE;
  // The source rectangle must lie inside the source.
  if (s.x < 0 || s.y < 0 || s.x + srcWidth > ss.width || s.y + srcHeight > ss.height) return FALSE;
  if (destWidth == 0 || destHeight == 0 || srcWidth == 0 || srcHeight == 0) return TRUE;
  if (d->recorder) {
    uint32_t packed = blend.BlendOp | (blend.BlendFlags << 8) | (uint32_t{blend.SourceConstantAlpha} << 16) |
                      (uint32_t{blend.AlphaFormat} << 24);
    return RecBlit(d, EMR_ALPHABLEND, xDest, yDest, destWidth, destHeight, FindDC(src), xSrc, ySrc, srcWidth,
                   srcHeight, packed);
  }
  if (!AxisAligned(d)) {
    TurnedSource t{s.surface, s.x, s.y, srcWidth, srcHeight};
    return TurnedTransfer(d, xDest, yDest, destWidth, destHeight, &t, 0xCC, &blend);
  }
  DevBox box = DeviceRect(d, xDest, yDest, destWidth, destHeight);
  int x = box.x, y = box.y;
  destWidth = box.w;
  destHeight = box.h;
  if (destWidth <= 0 || destHeight <= 0) return TRUE;
  Surface* ds = DCSurface(d);
  PixelCodec in(ss), out(*ds);
  uint32_t sca = blend.SourceConstantAlpha;
  bool destAlpha = ds->bitCount == 32 && ds->compression == BI_RGB;
  return ForEachStretched(d, x, y, destWidth, destHeight, ss, s.x, s.y, srcWidth, srcHeight,
                   [&](uint8_t* drow, int px, const uint8_t* srow, int sx) {
    uint32_t raw = in.Read(srow, sx);
    COLORREF sc = in.ToColor(raw);
    uint32_t sa = ss.bitCount == 32 ? raw >> 24 : 0;
    uint32_t comp[4] = {GetRValue(sc), GetGValue(sc), GetBValue(sc), sa};
    for (uint32_t& c : comp) c = DivRound255(c * sca);
    uint32_t inv = perPixel ? 255 - comp[3] : 255 - sca;
    uint32_t draw = out.Read(drow, px);
    COLORREF dcol = out.ToColor(draw);
    uint32_t dcomp[4] = {GetRValue(dcol), GetGValue(dcol), GetBValue(dcol), destAlpha ? draw >> 24 : 0};
    uint32_t res[4];
    for (int k = 0; k < 4; ++k) res[k] = std::min<uint32_t>(255, comp[k] + DivRound255(dcomp[k] * inv));
    uint32_t v = out.FromColor(RGB(static_cast<BYTE>(res[0]), static_cast<BYTE>(res[1]), static_cast<BYTE>(res[2])));
    if (destAlpha) v |= res[3] << 24;
    out.Write(drow, px, v);
  }) ? TRUE : FALSE;
}

BOOL TransparentBlt(HDC dest, int xDest, int yDest, int destWidth, int destHeight, HDC src, int xSrc, int ySrc,
                    int srcWidth, int srcHeight, UINT transparent) {
  auto lock = Lock();
  DCObj* d = FindDC(dest);
  BlitSource s;
  if (!d || !SourceFromDC(src, xSrc, ySrc, srcWidth, srcHeight, s)) return FALSE;
  if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0 || !ValidSize(destWidth, destHeight))
    return FALSE;
  if (d->recorder)
    return RecBlit(d, EMR_TRANSPARENTBLT, xDest, yDest, destWidth, destHeight, FindDC(src), xSrc, ySrc, srcWidth,
                   srcHeight, transparent & 0xFFFFFF);
  // The destination is logical: it scales with the map like the other blits.
  DevBox box = DeviceRect(d, xDest, yDest, destWidth, destHeight);
  int x = box.x, y = box.y;
  destWidth = box.w;
  destHeight = box.h;
  if (destWidth <= 0 || destHeight <= 0) return TRUE;
  Surface* ds = DCSurface(d);
  const Surface& ss = *s.surface;
  SourceConverter conv(ss, s.dc, *ds, d);
  PixelCodec out(*ds);
  COLORREF key = transparent & 0xFFFFFF;
  return ForEachStretched(d, x, y, destWidth, destHeight, ss, s.x, s.y, srcWidth, srcHeight,
                   [&](uint8_t* drow, int px, const uint8_t* srow, int sx) {
    uint32_t raw = conv.In().Read(srow, sx);
    if (conv.In().ToColor(raw) != key) out.Write(drow, px, conv.Convert(raw));
  }) ? TRUE : FALSE;
}

namespace {

struct Rgba {
  double c[4];
};

Rgba VertexColor(const TRIVERTEX& v) { return Rgba{{double(v.Red), double(v.Green), double(v.Blue), double(v.Alpha)}}; }

void WriteGradientPixel(const PixelCodec& codec, uint8_t* row, int x, const Rgba& c, bool alpha) {
  auto ch = [&](int k) { return static_cast<BYTE>(std::clamp(c.c[k], 0.0, 65535.0) / 256); };
  uint32_t v = codec.FromColor(RGB(ch(0), ch(1), ch(2)));
  if (alpha) v |= static_cast<uint32_t>(ch(3)) << 24;
  codec.Write(row, x, v);
}

}  // namespace

BOOL GradientFill(HDC hdc, TRIVERTEX* vertices, ULONG vertexCount, void* mesh, ULONG meshCount, ULONG mode) {
  auto lock = Lock();
  DCObj* d = FindDC(hdc);
  if (!d || !vertices || !mesh || vertexCount == 0 || meshCount > (1u << 20) || mode > GRADIENT_FILL_TRIANGLE)
    return FALSE;
  if (d->recorder) {
    // Every mesh entry must name vertices that exist, or nothing is kept.
    size_t words = mode == GRADIENT_FILL_TRIANGLE ? 3 : 2;
    const auto* m = static_cast<const ULONG*>(mesh);
    for (size_t i = 0; i < size_t{meshCount} * words; ++i)
      if (m[i] >= vertexCount) return FALSE;
    if (vertexCount > (1u << 20)) return FALSE;
    return RecGradient(d, vertices, vertexCount, mesh, meshCount, mode);
  }
  Surface* ds = DCSurface(d);
  PixelCodec codec(*ds);
  bool alpha = ds->bitCount == 32 && ds->compression == BI_RGB;
  Region drawable = DrawableArea(d);
  for (ULONG m = 0; m < meshCount; ++m) {
    if (mode == GRADIENT_FILL_TRIANGLE) {
      const auto& t = static_cast<const GRADIENT_TRIANGLE*>(mesh)[m];
      if (t.Vertex1 >= vertexCount || t.Vertex2 >= vertexCount || t.Vertex3 >= vertexCount) return FALSE;
      const TRIVERTEX* v[3] = {&vertices[t.Vertex1], &vertices[t.Vertex2], &vertices[t.Vertex3]};
      std::vector<POINT> pts;
      for (const TRIVERTEX* p : v) pts.push_back(DevPoint(d, p->x, p->y));
      double x0 = pts[0].x, y0 = pts[0].y, x1 = pts[1].x, y1 = pts[1].y, x2 = pts[2].x, y2 = pts[2].y;
      double det = (y1 - y2) * (x0 - x2) + (x2 - x1) * (y0 - y2);
      if (std::abs(det) < 1e-9) continue;
      int first = 0;
      auto rows = PolygonRows({pts}, ALTERNATE, 0, ds->height, first);
      Region shape = Region::Combine(Region::FromRows(first, std::move(rows)), drawable, RGN_AND);
      Rgba c0 = VertexColor(*v[0]), c1 = VertexColor(*v[1]), c2 = VertexColor(*v[2]);
      for (const Band& band : shape.Bands())
        for (int y = band.y0; y < band.y1; ++y)
          for (const Span& sp : band.spans)
            for (int x = sp.x0; x < sp.x1; ++x) {
              double px = x + 0.5, py = y + 0.5;
              double a = ((y1 - y2) * (px - x2) + (x2 - x1) * (py - y2)) / det;
              double b = ((y2 - y0) * (px - x2) + (x0 - x2) * (py - y2)) / det;
              double g = 1 - a - b;
              Rgba c;
              for (int k = 0; k < 4; ++k) c.c[k] = a * c0.c[k] + b * c1.c[k] + g * c2.c[k];
              WriteGradientPixel(codec, ds->Row(y), x, c, alpha);
            }
      continue;
    }
    const auto& r = static_cast<const GRADIENT_RECT*>(mesh)[m];
    if (r.UpperLeft >= vertexCount || r.LowerRight >= vertexCount) return FALSE;
    TRIVERTEX a = vertices[r.UpperLeft], b = vertices[r.LowerRight];
    // The colours follow the vertices even when they come in the other order.
    bool horizontal = mode == GRADIENT_FILL_RECT_H;
    if (horizontal ? a.x > b.x : a.y > b.y) std::swap(a, b);
    int left = DevX(d, std::min(a.x, b.x)), right = DevX(d, std::max(a.x, b.x));
    int top = DevY(d, std::min(a.y, b.y)), bottom = DevY(d, std::max(a.y, b.y));
    Region area = Region::Combine(drawable, Region::FromRect(left, top, right, bottom), RGN_AND);
    Rgba ca = VertexColor(a), cb = VertexColor(b);
    int64_t len = horizontal ? right - left : bottom - top;
    for (const Band& band : area.Bands())
      for (int y = band.y0; y < band.y1; ++y)
        for (const Span& sp : band.spans)
          for (int x = sp.x0; x < sp.x1; ++x) {
            double t = len > 0 ? double(horizontal ? x - left : y - top) / double(len) : 0;
            Rgba c;
            for (int k = 0; k < 4; ++k) c.c[k] = ca.c[k] + (cb.c[k] - ca.c[k]) * t;
            WriteGradientPixel(codec, ds->Row(y), x, c, alpha);
          }
  }
  return TRUE;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  auto lock = Lock();
  DCObj* d = FindDC(hdc);
  if (!d) return CLR_INVALID;
  int dx = DevX(d, x), dy = DevY(d, y);
  Surface* s = DCSurface(d);
  if (dx < 0 || dy < 0 || dx >= s->width || dy >= s->height) return CLR_INVALID;
  if (d->state.clip && !d->state.clip->Contains(dx, dy)) return CLR_INVALID;
  if (d->screen) RefreshScreenArea(d, dx, dy, 1, 1);
  PixelCodec codec(*s);
  return codec.ToColor(codec.Read(s->Row(dy), dx));
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
  auto lock = Lock();
  DCObj* d = FindDC(hdc);
  if (!d) return CLR_INVALID;
  if (d->recorder) {
    RecState(d, EMR_SETPIXELV, {static_cast<uint32_t>(x), static_cast<uint32_t>(y), color & 0xFFFFFF});
    POINT pt{x, y};
    d->recorder->TouchPoints(d, &pt, 1, 0);
    return color & 0xFFFFFF;
  }
  int dx = DevX(d, x), dy = DevY(d, y);
  Surface* s = DCSurface(d);
  if (dx < 0 || dy < 0 || dx >= s->width || dy >= s->height) return CLR_INVALID;
  if (d->state.clip && !d->state.clip->Contains(dx, dy)) return CLR_INVALID;
  PixelCodec codec(*s);
  uint32_t v = codec.FromColor(color);
  codec.Write(s->Row(dy), dx, v);
  return codec.ToColor(v);
}

BOOL SetPixelV(HDC hdc, int x, int y, COLORREF color) { return SetPixel(hdc, x, y, color) != CLR_INVALID; }

COLORREF GetNearestColor(HDC hdc, COLORREF color) {
  auto lock = Lock();
  DCObj* d = FindDC(hdc);
  return d ? NearestColor(d, color) : CLR_INVALID;
}
