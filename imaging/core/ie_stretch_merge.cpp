// Putting one bitmap into another together with its alpha channel: a scaled
// copy of a rectangle (StretchRectTo) and a blended composite (MergeWithAlpha).
// The vector objects place their bitmaps with them.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/core/ie_stretch_merge.h"
#include "platform/rtl/rounding.h"

namespace {

// Columns (or rows) of the target span [from, to) mapped into the source:
// target offset t reads source offset t x sourceLength / targetLength, exactly.
// (A truncated 14-bit step drifts: at three times, target column 3 would still
// read source column 0.) 64-bit products: a 30,000-pixel target of a source
// eight times wider overflows 32 bits. Clamped into the source, so a rectangle
// that reaches past it repeats its last pixel instead of reading outside.
std::vector<int32_t> StepMap(int from, int to, int origin, int sourceStart, int sourceLength, int targetLength,
                             int sourceSize) {
  std::vector<int32_t> map(size_t(std::max(to - from, 0)));
  const int last = std::max(sourceSize - 1, 0);
  for (int i = from; i < to; ++i) {
    const int64_t v = sourceStart + int64_t(i - origin) * sourceLength / targetLength;
    map[size_t(i - from)] = int32_t(std::clamp<int64_t>(v, 0, last));
  }
  return map;
}

// The source read as ie1g or ie24RGB: other formats carry no colour the copy
// could write, so they are read through a 24-bit copy (alpha kept).
TIEBitmap* ColourReadable(TIEBitmap& source, std::unique_ptr<TIEBitmap>& holder) {
  const TIEBitmapFormat f = source.PixelFormat();
  if (f == ie1g || f == ie24RGB) return &source;
  holder = TIEBitmap::CreateCopy(source);
  if (!holder || !holder->ConvertToPixelFormat(ie24RGB)) return nullptr;
  return holder.get();
}

}  // namespace

void StretchRectTo(TIEBitmap& source, TIEBitmap& dest, int xDst, int yDst, int dxDst, int dyDst, int xSrc, int ySrc,
                   int dxSrc, int dySrc, TResampleFilter filter, int alpha) {
  if (source.IsEmpty() || dxDst <= 0 || dyDst <= 0 || dxSrc <= 0 || dySrc <= 0) return;
  if (dest.PixelFormat() != ie24RGB || dest.IsEmpty()) return;
  alpha = std::clamp(alpha, 0, 255);
  if (filter != rfNone && (dxDst != dxSrc || dyDst != dySrc)) {
    // Resampled to the target size first, then copied at 1:1.
    TIEBitmap sized;
    sized.SetLocation(ieMemory);
    if (source.PixelFormat() == ie1g && !source.HasAlphaChannel() && dxDst < dxSrc && dyDst < dySrc) {
      if (!sized.Allocate(dxDst, dyDst, ie24RGB)) return;
      Stretch1BitToGray(source, xSrc, ySrc, xSrc + dxSrc - 1, ySrc + dySrc - 1, sized);
    } else {
      TIEBitmap part;
      part.SetLocation(ieMemory);
      if (!part.Allocate(dxSrc, dySrc, source.PixelFormat())) return;
      source.CopyPaletteTo(&part);
      source.CopyRectTo(part, xSrc, ySrc, dxSrc, dySrc, 0, 0);
      if (source.HasAlphaChannel()) {
        source.AlphaChannel()->CopyRectTo(*part.AlphaChannel(), xSrc, ySrc, dxSrc, dySrc, 0, 0);
        part.AlphaChannel()->SetFull(source.AlphaChannel()->Full());
      }
      if (!sized.Allocate(dxDst, dyDst, source.PixelFormat() == ie1g ? ie1g : ie24RGB)) return;
      ResampleIEBitmap(&part, &sized, filter);
    }
    StretchRectTo(sized, dest, xDst, yDst, dxDst, dyDst, 0, 0, dxDst, dyDst, rfNone, alpha);
    return;
  }
  std::unique_ptr<TIEBitmap> converted;
  TIEBitmap* src = ColourReadable(source, converted);
  if (src == nullptr) return;
  const int x1 = std::max(xDst, 0), y1 = std::max(yDst, 0);
  const int x2 = int(std::min<int64_t>(int64_t(xDst) + dxDst, dest.Width()));
  const int y2 = int(std::min<int64_t>(int64_t(yDst) + dyDst, dest.Height()));
  if (x1 >= x2 || y1 >= y2) return;
  const bool alphaMode = src->HasAlphaChannel() && !src->AlphaChannel()->Full();
  const std::vector<int32_t> columns = StepMap(x1, x2, xDst, xSrc, dxSrc, dxDst, src->Width());
  const std::vector<int32_t> rows = StepMap(y1, y2, yDst, ySrc, dySrc, dyDst, src->Height());
  const int n = x2 - x1;
  // A straight run of the source: a 1:1 copy inside it moves whole rows.
  const bool straight = dxSrc == dxDst && columns.front() == xSrc + (x1 - xDst) && columns.back() == columns.front() + n - 1;

  TIEBitmap* destAlpha = dest.AlphaChannel();
  TIEBitmap* srcAlpha = alphaMode ? src->AlphaChannel() : nullptr;
  const bool mono = src->PixelFormat() == ie1g;
  for (int y = y1; y < y2; ++y) {
    const int r = rows[size_t(y - y1)];
    uint8_t* da = destAlpha->ScanLine(y) + x1;
    if (srcAlpha) {
      const uint8_t* sa = srcAlpha->ScanLine(r);
      if (straight) std::memcpy(da, sa + columns.front(), size_t(n));
      else
        for (int i = 0; i < n; ++i) da[i] = sa[columns[size_t(i)]];
      for (int i = 0; i < n; ++i) da[i] = uint8_t(std::min<int>(da[i], alpha));
    } else {
      std::memset(da, alpha, size_t(n));
    }
    const uint8_t* s = src->ScanLine(r);
    uint8_t* d = dest.ScanLine(y) + 3 * int64_t(x1);
    if (mono) {
      for (int i = 0; i < n; ++i) {
        const int c = columns[size_t(i)];
        const uint8_t v = (s[c >> 3] & (0x80 >> (c & 7))) ? 255 : 0;
        d[3 * i] = d[3 * i + 1] = d[3 * i + 2] = v;
      }
    } else if (straight) {
      std::memcpy(d, s + 3 * int64_t(columns.front()), 3 * size_t(n));
    } else {
      for (int i = 0; i < n; ++i) std::memcpy(d + 3 * i, s + 3 * int64_t(columns[size_t(i)]), 3);
    }
  }
  destAlpha->SetFull(false);
}

void MergeWithAlpha(TIEBitmap& dest, TIEBitmap& source, int x, int y, int width, int height, int sourceX, int sourceY,
                    bool resize, TResampleFilter filter, TIEBlendMode blendMode, int opacity) {
  // Composites onto 24-bit pictures only; any other destination stays as it is.
  if (dest.PixelFormat() != ie24RGB || dest.IsEmpty() || source.IsEmpty()) return;
  if (width < 0) width = source.Width();
  if (height < 0) height = source.Height();
  if (width <= 0 || height <= 0) return;
  opacity = std::clamp(opacity, 0, 255);
  std::unique_ptr<TIEBitmap> resized, converted;
  TIEBitmap* src = &source;
  if (resize && (source.Width() != width || source.Height() != height)) {
    resized = std::make_unique<TIEBitmap>();
    resized->SetLocation(ieMemory);
    if (!resized->Allocate(width, height, source.PixelFormat())) return;
    source.CopyPaletteTo(resized.get());
    ResampleIEBitmap(&source, resized.get(), filter);
    src = resized.get();
  }
  if (src->PixelFormat() != ie24RGB) {
    converted = TIEBitmap::CreateCopy(*src);
    if (!converted || !converted->ConvertToPixelFormat(ie24RGB)) return;
    src = converted.get();
  }
  // Columns left of the picture are taken from further into the source.
  int sx = sourceX, sy = sourceY;
  if (x < 0) {
    sx -= x;
    x = 0;
  }
  if (y < 0) {
    sy -= y;
    y = 0;
  }
  if (sx < 0 || sy < 0) return;
  const int placedW = std::min(width, src->Width()), placedH = std::min(height, src->Height());
  const int cols = std::min(dest.Width() - x, placedW - sx);
  const int rowsN = std::min(dest.Height() - y, placedH - sy);
  if (cols <= 0 || rowsN <= 0) return;
  // A source without an alpha channel is opaque; the caller's bitmap gains none.
  TIEBitmap* srcAlpha = src->HasAlphaChannel() ? src->AlphaChannel() : nullptr;
  TIEBitmap* dstAlpha = dest.AlphaChannel();
  std::vector<uint8_t> opaque(srcAlpha ? 0 : size_t(cols), 255);
  for (int r = 0; r < rowsN; ++r) {
    const int dy = y + r;
    const TRGB* s = reinterpret_cast<const TRGB*>(src->ScanLine(sy + r)) + sx;
    const uint8_t* sa = srcAlpha ? srcAlpha->ScanLine(sy + r) + sx : opaque.data();
    TRGB* d = reinterpret_cast<TRGB*>(dest.ScanLine(dy)) + x;
    uint8_t* da = dstAlpha->ScanLine(dy) + x;
    for (int i = 0; i < cols; ++i) {
      const double c = std::min<int>(sa[i], opacity) / 255.0;
      const double dc = (1.0 - c) * da[i] / 255.0;
      const double e = c + dc;
      TRGB b = d[i];
      if (blendMode == iebmNormal) b = s[i];
      else BlendPixelByMode(s[i], b, blendMode, dy);
      if (e > 0) {
        auto mix = [&](uint8_t bv, uint8_t dv) {
          return uint8_t(std::clamp<int64_t>(int64_t(Round((bv * c + dv * dc) / e)), 0, 255));
        };
        d[i] = MakeRGB(mix(b.r, d[i].r), mix(b.g, d[i].g), mix(b.b, d[i].b));
      } else {
        d[i] = b;
      }
      da[i] = uint8_t(std::clamp<int64_t>(int64_t(Round(e * 255.0)), 0, 255));
    }
  }
  dstAlpha->SetFull(false);
}
