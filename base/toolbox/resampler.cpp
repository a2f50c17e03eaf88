#include "base/toolbox/resampler.h"

#include "base/toolbox/bitmap_utils.h"

namespace {

bool Usable24(TBitmap* b) { return b && b->PixelFormat() == pf24bit && b->Width() > 0 && b->Height() > 0; }

void StretchWhole(TBitmap* source, TBitmap* target) {
  StretchBlt(target->Canvas()->Handle(), 0, 0, target->Width(), target->Height(), source->Canvas()->Handle(), 0, 0,
             source->Width(), source->Height(), SRCCOPY);
}

}  // namespace

void ResampleBitmap(TBitmap* source, TBitmap* target, TIconResampleFilter filter) {
  if (!source || !target) return;
  const int w = source->Width(), h = source->Height(), W = target->Width(), H = target->Height();
  if (w == W && h == H) {
    target->Assign(source);
    return;
  }
  if (w == 0 || h == 0) {
    SetSize32AndFill(target, W, H, 0);
    return;
  }
  if (W == 0 || H == 0) return;
  // The filtering paths read 32-bit pixels; another source is taken as opaque.
  std::unique_ptr<TBitmap> converted;
  if (!Is32(source)) {
    converted = std::make_unique<TBitmap>();
    ToBitmap32(source, nullptr, converted.get());
    source = converted.get();
  }
  target->SetPixelFormat(pf32bit);
  if (W == 1 && w == 1) {
    // A single column is resampled as two equal columns, then cut back.
    auto twice = NewBitmap32(2, h);
    CopyRect32(source, twice.get(), TRect{0, 0, 1, h}, 0, 0);
    CopyRect32(source, twice.get(), TRect{0, 0, 1, h}, 1, 0);
    target->SetWidth(2);
    ResampleBitmap(twice.get(), target, filter);
    target->SetWidth(1);
    return;
  }
  if (h == 1 && H == 1) {
    auto twice = NewBitmap32(w, 2);
    CopyRect32(source, twice.get(), TRect{0, 0, w, 1}, 0, 0);
    CopyRect32(source, twice.get(), TRect{0, 0, w, 1}, 0, 1);
    target->SetHeight(2);
    ResampleBitmap(twice.get(), target, filter);
    target->SetHeight(1);
    return;
  }
  if (W == 1) {
    if (h == H) {
      StretchWhole(source, target);
      return;
    }
    auto temp = NewBitmap32(w, H);
    ResampleBitmap(source, temp.get(), filter);
    ResampleBitmap(temp.get(), target, filter);
    return;
  }
  if (H == 1) {
    if (w == W) {
      StretchWhole(source, target);
      return;
    }
    auto temp = NewBitmap32(W, h);
    ResampleBitmap(source, temp.get(), filter);
    ResampleBitmap(temp.get(), target, filter);
    return;
  }
  if (filter < irfTriangle || filter > irfLinear || (w <= 1 && h <= 1)) {
    StretchWhole(source, target);
    return;
  }
  ResampleBlock32(BitmapRows(source), BitmapRows(target), filter);
}

void ResampleBitmap24(TBitmap* source, TBitmap* target, TIconResampleFilter filter) {
  if (!Usable24(source) || !target || target->Width() <= 0 || target->Height() <= 0) return;
  target->SetPixelFormat(pf24bit);
  if (filter < irfTriangle || filter > irfLinear || (source->Width() == 1 && source->Height() == 1)) {
    StretchWhole(source, target);
    return;
  }
  if (source->Width() == target->Width() && source->Height() == target->Height()) {
    BitBlt(target->Canvas()->Handle(), 0, 0, target->Width(), target->Height(), source->Canvas()->Handle(), 0, 0,
           SRCCOPY);
    return;
  }
  ResampleRowsPlain(BitmapRows(source), 3, BitmapRows(target), 3, 3, filter);
}

void ResampleColorWithAlpha(TBitmap* colour, TBitmap* alpha, TBitmap* target, TIconResampleFilter filter) {
  if (!Usable24(colour) || !Usable24(alpha) || !target || filter < irfTriangle || filter > irfLinear) return;
  if (alpha->Width() != colour->Width() || alpha->Height() != colour->Height()) return;
  target->SetPixelFormat(pf32bit);
  if (target->Width() <= 0 || target->Height() <= 0) return;
  ResampleRowsWithAlpha(BitmapRows(colour), 3, BitmapRows(alpha), 3, 0, BitmapRows(target), filter, false);
}

void ResampleAlphaPlane(TBitmap* alpha, TBitmap* target, TIconResampleFilter filter) {
  if (!Usable24(alpha) || !target || filter < irfTriangle || filter > irfLinear) return;
  target->SetPixelFormat(pf32bit);
  if (target->Width() <= 0 || target->Height() <= 0) return;
  TPixelRows alphaBytes = BitmapRows(target);
  alphaBytes.Base += 3;  // only the alpha byte of each target pixel
  ResampleRowsPlain(BitmapRows(alpha), 3, alphaBytes, 4, 1, filter);
}

void SplitToColor24(TBitmap* source, TBitmap* colour, bool& transparentWhite) {
  transparentWhite = false;
  if (!Is32(source) || !colour) return;
  colour->SetPixelFormat(pf24bit);
  colour->SetSize(source->Width(), source->Height());
  if (source->Width() <= 0 || source->Height() <= 0) return;
  const TPixelRows s = BitmapRows(source), c = BitmapRows(colour);
  for (int y = 0; y < s.Height; ++y) {
    const uint32_t* p = reinterpret_cast<const uint32_t*>(s.Row(y));
    uint8_t* d = c.Row(y);
    for (int x = 0; x < s.Width; ++x, d += 3) {
      const uint32_t v = (p[x] >> 24) ? p[x] : 0;
      transparentWhite |= p[x] == 0x00FFFFFFu;
      d[0] = v & 0xFF, d[1] = (v >> 8) & 0xFF, d[2] = (v >> 16) & 0xFF;
    }
  }
}

void ExtractAlphaPlane(TBitmap* source, TBitmap* alpha) {
  if (!Is32(source) || !alpha) return;
  alpha->SetPixelFormat(pf24bit);
  alpha->SetSize(source->Width(), source->Height());
  if (source->Width() <= 0 || source->Height() <= 0) return;
  const TPixelRows s = BitmapRows(source), a = BitmapRows(alpha);
  for (int y = 0; y < s.Height; ++y)
    for (int x = 0; x < s.Width; ++x) a.Row(y)[x * 3] = s.Row(y)[x * 4 + 3];
}

void ClearTransparentWhite(TBitmap* bitmap) {
  if (Is32(bitmap)) ClearTransparentWhiteRows(BitmapRows(bitmap));
}

bool BorderAlphaAverages(TBitmap* bitmap, uint8_t& left, uint8_t& top, uint8_t& right, uint8_t& bottom) {
  if (!Is32(bitmap)) return false;
  return BorderAlphaAverages(BitmapRows(bitmap), left, top, right, bottom);
}
