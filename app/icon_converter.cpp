#include "app/icon_converter.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "base/text_utils.h"
#include "base/toolbox/bitmap_fix32.h"
#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/image_conversion.h"
#include "icons/icon_pictures.h"

namespace {

constexpr int kReductionMethod = 1;

bool IsEmpty(TBitmap* b) { return !b || b->Width() <= 0 || b->Height() <= 0; }

TPixelFormat DepthFormat(int depth) {
  const TPixelFormat f = BitsToPixelFormat(depth);
  // A depth no bitmap format stands for is made as 24-bit rather than refused.
  return f == pfDevice ? pf24bit : f;
}

void Convert(TBitmap* source, TBitmap* mask, TBitmap* target, TBitmap* targetMask, int depth, int width, int height,
             TIconResampleFilter filter, bool proportions) {
  ConvertImage(source, mask, target, targetMask, DepthFormat(depth), width, height, kReductionMethod,
               kConverterAlphaThreshold, proportions, filter, nullptr, false);
}

// The side a 0 entry stands for in the one-time reduction test.
int DividesLargestSide(int requested, int own) {
  const int side = requested == 0 ? std::min(own, kLargestSide) : requested;
  return side > 0 && kLargestSide % side == 0;
}

// Step 6 of the converter: the picture is reduced once to fit the largest
// side, so that every size is made from a small picture. The reduction goes
// into a bitmap of the converter's own and the caller's picture is only read,
// so that a caller may hand in a picture it keeps showing.
void ReduceOnce(TBitmap*& source, TBitmap& reduced, TBitmap*& mask, int& width, int& height, int& depth,
                TIconResampleFilter filter, bool proportions) {
  TRect box;
  FitAspectRect(TRect{0, 0, kLargestSide, kLargestSide}, width, height, box);
  const int w0 = std::max<int>(1, box.right - box.left), h0 = std::max<int>(1, box.bottom - box.top);
  const int targetDepth = (depth > 24 || mask) ? 32 : 24;
  if (depth >= 24) {
    Convert(source, mask, &reduced, nullptr, targetDepth, w0, h0, filter, proportions);
  } else {
    TBitmap full, fullMask;
    Convert(source, mask, &full, &fullMask, targetDepth, width, height, filter, proportions);
    Convert(&full, &fullMask, &reduced, nullptr, targetDepth, w0, h0, filter, proportions);
  }
  source = &reduced;
  width = w0;
  height = h0;
  depth = targetDepth;
  // The mask's transparency now lives in the alpha of the 32-bit result.
  mask = nullptr;
}

// An unscaled image of w x h at depth d: the source rectangle of the working
// picture at the destination rectangle, the rest transparent.
void PlaceUnscaled(TBitmap* work, TBitmap* workMask, int w, int h, int d, const TRect& src, const TRect& dest,
                   TBitmap& image, TBitmap& mask) {
  const bool fill = dest.right < w || dest.bottom < h;
  if (d == 32) {
    SetSize32AndFill(&image, w, h, 0);
    CopyRect32(work, &image, src, dest.left, dest.top);
    AddAlphaToMask(&image, &mask, kConverterAlphaThreshold, false);
    return;
  }
  // An 8-bit image takes over the working picture first so that it has its palette.
  if (d == 8) image.Assign(work);
  if (d == 1)
    MakeMonochrome(&image);
  else
    image.SetPixelFormat(DepthFormat(d));
  image.SetSize(w, h);
  if (fill) FillBitmap(&image, clBlack);
  image.Canvas()->CopyRect(dest, work->Canvas(), src);
  MakeMonochrome(&mask);
  mask.SetSize(w, h);
  if (fill) FillBitmap(&mask, clWhite);
  if (workMask && !IsEmpty(workMask)) {
    mask.Canvas()->CopyRect(dest, workMask->Canvas(), src);
  } else {
    mask.Canvas()->Brush()->SetColor(clBlack);
    mask.Canvas()->FillRect(dest);
  }
}

}  // namespace

void MakeIconFromBitmap(TBitmap* source, TAdvancedIcon* icon, bool zoomToFit, TColor colour, int mode,
                        TIconResampleFilter filter, bool constrainProportions, bool shrinkToFit) {
  TListLongint widths, heights, depths;
  for (int size : {48, 32, 16}) {
    widths.Add(size);
    heights.Add(size);
  }
  depths.Add(32);
  auto workMask = NewMonoBitmap();
  ConvertBitmapToIcon(source, workMask.get(), icon, depths, heights, widths, colour, mode, filter, constrainProportions,
                      shrinkToFit, zoomToFit);
}

void GetTransparentColor(TBitmap* bitmap, int mode, TColor& colour) {
  const bool is32 = bitmap->PixelFormat() == pf32bit;
  if (mode == itmNone) {
    colour = clNone;
    return;
  }
  if (mode == itmColor) return;
  if (mode > itmBottomRight || mode < itmNone) {
    if (is32) colour = clNone;
    return;
  }
  if (IsEmpty(bitmap)) {
    colour = clNone;
    return;
  }
  const int right = bitmap->Width() - 1, bottom = bitmap->Height() - 1;
  const int x = (mode == itmTopRight || mode == itmBottomRight) ? right : 0;
  const int y = (mode == itmBottomLeft || mode == itmBottomRight) ? bottom : 0;
  if (is32 && (GetPixel32(bitmap, x, y) >> 24) == 0) {
    colour = clNone;
    return;
  }
  colour = bitmap->Canvas()->Pixels(x, y);
}

void DropEmptyAlpha(TBitmap* bitmap) {
  if (!bitmap || bitmap->PixelFormat() != pf32bit || IsEmpty(bitmap)) return;
  const uint32_t* p = Block32(bitmap);
  const size_t n = static_cast<size_t>(bitmap->Width()) * bitmap->Height();
  for (size_t i = 0; i < n; ++i)
    if (p[i] >> 24) return;
  bitmap->SetPixelFormat(pf24bit);
}

void ComputePlacement(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, bool shrinkToFit,
                      bool zoomToFit, bool& placeAsIs, TRect& sourceRect, TRect& destRect) {
  const int W = sourceWidth, H = sourceHeight;
  int w = targetWidth, h = targetHeight;
  if (w == 0) {
    w = W;
    h = H;
  }
  const bool scale = (shrinkToFit && (W >= w || H >= h)) || (zoomToFit && W <= w && H <= h);
  placeAsIs = !scale;
  if (scale) {
    sourceRect = TRect{0, 0, W, H};
    FitAspectRect(TRect{0, 0, w, h}, W, H, destRect);
  } else if (w < W || h < H) {
    sourceRect = TRect{0, 0, std::min(w, W), std::min(h, H)};
    destRect = sourceRect;
  } else {
    sourceRect = TRect{0, 0, W, H};
    CenterRectInRect(TRect{0, 0, w, h}, sourceRect, destRect);
  }
}

bool NeedsOneTimeReduction(int width, int height, int depth, const TListLongint& depths, const TListLongint& heights,
                           const TListLongint& widths) {
  if (widths.Count() <= 1) return false;
  bool anyOwnDepth = false;
  for (int j = 0; j < depths.Count(); ++j) anyOwnDepth = anyOwnDepth || depths[j] == 0;
  if (anyOwnDepth && depth != 24 && depth != 32) return false;
  if (width <= kReduceAbove && height <= kReduceAbove) return false;
  for (int i = 0; i < widths.Count(); ++i)
    if (!DividesLargestSide(widths[i], width)) return false;
  for (int i = 0; i < heights.Count(); ++i)
    if (!DividesLargestSide(heights[i], height)) return false;
  return true;
}

void ConvertBitmapToIcon(TBitmap* source, TBitmap* workMask, TAdvancedIcon* icon, const TListLongint& depths,
                         const TListLongint& heights, const TListLongint& widths, TColor colour, int mode,
                         TIconResampleFilter filter, bool constrainProportions, bool shrinkToFit, bool zoomToFit) {
  if (!icon) return;
  icon->Clear();
  if (!source) return;
  DropEmptyAlpha(source);
  int W = source->Width(), H = source->Height(), D = BitsOfPixelFormat(source->PixelFormat());
  TBitmap* mask = nullptr;

  GetTransparentColor(source, mode, colour);
  if (colour != clNone && !IsEmpty(source)) {
    if (source->PixelFormat() == pf32bit) {
      ClearColor32(source, colour);
    } else if (workMask) {
      MaskColor24(colour, source, workMask);
      mask = workMask;
    }
  }

  TBitmapFix32 reduced;
  if (NeedsOneTimeReduction(W, H, D, depths, heights, widths))
    ReduceOnce(source, reduced, mask, W, H, D, filter, constrainProportions);

  TSubIconList& images = icon->Images();
  // Sizes are paired by position; a height list shorter than the widths has no
  // partner for the rest, which are skipped rather than read past the list.
  const int sizes = std::min(widths.Count(), heights.Count());
  for (int i = 0; i < sizes; ++i) {
    for (int j = 0; j < depths.Count(); ++j) {
      int w = widths[i] ? widths[i] : W;
      int h = heights[i] ? heights[i] : H;
      const int d = depths[j] ? depths[j] : D;
      w = std::min(w, kLargestSide);
      h = std::min(h, kLargestSide);
      if (w <= 0 || h <= 0) continue;
      if (images.IndexOfImage(w, h, d) >= 0) continue;
      if (w == W && h == H && d == D) {
        images.AddBitmap(source, mask, static_cast<uint8_t>(D == 32 ? kConverterAlphaThreshold : 0));
        continue;
      }
      TBitmapFix32 image;
      TBitmap imageMask;
      if (w == W && h == H) {
        Convert(source, mask, &image, &imageMask, d, w, h, irfNone, constrainProportions);
      } else {
        bool asIs = false;
        TRect src, dest;
        ComputePlacement(W, H, w, h, shrinkToFit, zoomToFit, asIs, src, dest);
        if (!asIs) {
          Convert(source, mask, &image, &imageMask, d, w, h, filter, constrainProportions);
        } else if (d == D) {
          PlaceUnscaled(source, mask, w, h, d, src, dest, image, imageMask);
        } else {
          TBitmap work, workMaskD;
          Convert(source, mask, &work, &workMaskD, d, W, H, irfNone, false);
          PlaceUnscaled(&work, &workMaskD, w, h, d, src, dest, image, imageMask);
        }
      }
      images.AddBitmap(&image, &imageMask, 0);
    }
  }
  if (icon->Count() > 0) SortSubIcons(icon);
}

bool SortSubIcons(TAdvancedIcon* icon) {
  if (!icon || icon->Count() < 2) return false;
  TSubIconList& images = icon->Images();
  struct Shape {
    int w, h, d;
    bool operator==(const Shape&) const = default;
  };
  auto shapeOf = [&](int i) {
    TSubIcon* s = images.GetItem(i);
    return Shape{s->GetWidth(), s->GetHeight(), s->GetBitsPerPixel()};
  };
  const Shape first = shapeOf(0);
  bool allSame = true, heightMatchesFirstWidth = false;
  std::vector<Shape> before;
  for (int i = 0; i < images.Count(); ++i) {
    const Shape s = shapeOf(i);
    before.push_back(s);
    allSame = allSame && s == first;
    heightMatchesFirstWidth = heightMatchesFirstWidth || s.h == first.w;
  }
  if (allSame || !heightMatchesFirstWidth) return false;

  TAdvancedIcon sorted;
  for (int depth : {4, 8, 32}) {
    int below = 257;
    for (;;) {
      int pick = -1, pickWidth = -1;
      for (int i = 0; i < images.Count(); ++i) {
        const Shape s = shapeOf(i);
        if (s.d == depth && s.w == s.h && s.w < below && s.w > pickWidth) {
          pick = i;
          pickWidth = s.w;
        }
      }
      if (pick < 0) break;
      sorted.Images().TakeImage(icon, pick);
      below = pickWidth;
    }
  }
  sorted.Images().TakeAllImages(icon);
  images.TakeAllImages(&sorted);

  for (int i = 0; i < images.Count(); ++i)
    if (!(shapeOf(i) == before[static_cast<size_t>(i)])) return true;
  return false;
}
