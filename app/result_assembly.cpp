#include "app/result_assembly.h"

#include <algorithm>
#include <cstring>

#include "app/icon_converter.h"
#include "base/colour_values.h"
#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/blend.h"
#include "base/toolbox/geometry_effects.h"
#include "base/toolbox/image_conversion.h"
#include "base/toolbox/shadows_metafile.h"
#include "icons/icon_library.h"
#include "icons/sub_icon_render.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_proc_filters.h"
#include "platform/rtl/rounding.h"

namespace {

constexpr int kPaletteThreshold = 80;
constexpr int kShadowRadius = 2;
constexpr int kShadowOpacity = 191;

bool IsEmpty(TBitmap* b) { return !b || b->Width() <= 0 || b->Height() <= 0; }

bool EffectsActive(const TResultOptions& o) {
  return o.Hue != 0 || o.Saturation != 0 || o.Lightness != 0 || o.Opacity != 0 || o.Sharpness != 0;
}

bool Ticked(const TSizeBoxes& boxes, TSubIcon* image) {
  return image && boxes.TickedFor(image->GetWidth(), image->GetHeight());
}

bool SameShape(TSubIcon* a, TSubIcon* b) {
  return a && b && a->GetWidth() == b->GetWidth() && a->GetHeight() == b->GetHeight() &&
         a->GetBitsPerPixel() == b->GetBitsPerPixel();
}

void Raw(TSubIcon& image, TBitmap* raw, TBitmap* mask) { ExtractBitmaps(image, nullptr, raw, kNoBackground, mask); }

uint32_t* Row32(TBitmap* b, int y) { return static_cast<uint32_t*>(b->ScanLine(y)); }

// 24-bit rows, direct for pf24bit, else through a copy drawn back afterwards.
template <class Fn>
void On24BitCopy(TBitmap* bitmap, Fn fn) {
  auto copy = CopyTo24Bit(bitmap);
  fn(copy.get());
  bitmap->Canvas()->Draw(0, 0, copy.get());
}

void HslPixel(uint8_t* p, double hue, double lightness, double saturation) {
  double h, s, l;
  // Read as a colour whose low byte is red: that is the blue byte here.
  ColorToHSL(h, s, l, uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16);
  uint8_t out[3];
  HSLToBytes(out, h + hue, s + saturation, l + lightness);
  std::memcpy(p, out, 3);
}

void SharpenPlane(TBitmap* plane, int amount, int boxSize, const TPlaneSharpener& sharpen) {
  if (sharpen && !IsEmpty(plane)) sharpen(plane, amount, boxSize);
}

void ShadowAt(TAdvancedIcon& icon, int size) { AddShadowToImage(icon, icon.Images().IndexOfImage(size, size, 32)); }

void ColorizeAndMerge(TAdvancedIcon& icon, const TResultOptions& o) {
  for (int i = 0; i < icon.Count(); ++i) {
    TSubIcon* image = icon.Images().GetItem(i);
    if (!Ticked(o.Effects, image) || image->GetBitsPerPixel() <= 1) continue;
    TBitmap raw, mask, scratch;
    Raw(*image, &raw, &mask);
    if (o.Colorize) ColorizeBitmap(&raw, o.ColorizeColor);
    if (o.MergeBackground) MergeBackgroundColor(&raw, &scratch, &mask, o.BackgroundColor);
    icon.Images().ReplaceWithBitmap(&raw, &mask, i, 0);
  }
}

// The shape at shapeAt and, when it fits the image, the overlay after it.
void StyleImage(TAdvancedIcon& icon, int i, TAdvancedIcon& style, int shapeAt) {
  TSubIcon* image = icon.Images().GetItem(i);
  TBitmap picture, shape, target;
  Raw(*image, &picture, nullptr);
  Raw(*style.Images().GetItem(shapeAt), &shape, nullptr);
  MaskByAlpha(&picture, &shape, &target);
  TSubIcon* overlay = style.Images().GetItem(shapeAt + 1);
  if (SameShape(overlay, image)) {
    TBitmap top;
    Raw(*overlay, &top, nullptr);
    Composite32(&top, &target);
  }
  icon.Images().ReplaceWithBitmap(&target, nullptr, i, 0);
}

void FlattenInto(TBitmap* picture, TColor colour, TBitmap* strip, int row) {
  TBitmap flat;
  flat.SetPixelFormat(pf24bit);
  flat.SetSize(kStyleThumbSize, kStyleThumbSize);
  FlattenOnColor(picture, &flat, static_cast<uint32_t>(colour));
  for (int y = 0; y < kStyleThumbSize; ++y)
    std::memcpy(static_cast<uint8_t*>(strip->ScanLine(row * kStyleThumbSize + y)), flat.ScanLine(y),
                kStyleThumbSize * 3);
}

}  // namespace

bool TSizeBoxes::TickedFor(int width, int height) const {
  if (width != height) return false;
  switch (width) {
    case 48: return Size48;
    case 32: return Size32;
    case 16: return Size16;
    default: return false;
  }
}

void UpdateResultIcon(TAdvancedIcon& base, const TResultOptions& options, TAdvancedIcon& display, TAdvancedIcon& result,
                      TAdvancedIcon& thumbnail) {
  display.Assign(&base);
  result.Assign(&base);
  ApplyEffects(display, result, options);
  ApplyShadows(display, result, options);
  ApplyColorizeAndBackground(display, result, options);
  thumbnail.Assign(&display);
  ApplyStyle(display, result, options);
  AssembleResultIcon(display, result);
}

void ApplyEffects(TAdvancedIcon& display, TAdvancedIcon& result, const TResultOptions& options) {
  for (int i = 0; i < display.Count(); ++i)
    if (Ticked(options.Effects, display.Images().GetItem(i))) ApplyEffectsToImage(display, i, options, true);
  for (int i = 0; i < result.Count(); ++i)
    if (Ticked(options.Effects, result.Images().GetItem(i)))
      ApplyEffectsToImage(result, i, options, options.MergeBackground);
}

void ApplyEffectsToImage(TAdvancedIcon& icon, int index, const TResultOptions& options, bool allowOpacity) {
  TSubIcon* image = icon.Images().GetItem(index);
  if (!image || !EffectsActive(options)) return;
  TBitmap raw, mask;
  Raw(*image, &raw, &mask);
  if (options.Hue != 0 || options.Saturation != 0 || options.Lightness != 0)
    AdjustHueSaturationLightness(&raw, &mask, options.Hue, options.Lightness, options.Saturation);
  if (options.Sharpness != 0) SharpenBitmap(&raw, options.Sharpness, 4, options.SharpenPlane);
  if (options.Opacity != 0 && raw.PixelFormat() == pf32bit && allowOpacity)
    AdjustAlpha(&raw, &raw, &mask, static_cast<int>(Round(options.Opacity * 255.0 / 100.0)), true);
  icon.Images().ReplaceWithBitmap(&raw, &mask, index, 0);
}

void AdjustHueSaturationLightness(TBitmap* bitmap, TBitmap* mask, int hue, int lightness, int saturation) {
  if (IsEmpty(bitmap)) return;
  const double h = hue / 360.0, l = lightness / 100.0, s = saturation / 100.0;
  const TPixelFormat pf = bitmap->PixelFormat();
  if (pf == pf32bit) {
    for (int y = 0; y < bitmap->Height(); ++y) {
      auto* row = static_cast<uint8_t*>(bitmap->ScanLine(y));
      for (int x = 0; x < bitmap->Width(); ++x) HslPixel(row + x * 4, h, l, s);
    }
    return;
  }
  if (pf == pf24bit) {
    TMaskPixels m(mask && !IsEmpty(mask) ? mask : nullptr);
    for (int y = 0; y < bitmap->Height(); ++y) {
      auto* row = static_cast<uint8_t*>(bitmap->ScanLine(y));
      for (int x = 0; x < bitmap->Width(); ++x)
        if (!m.Valid() || !m.IsWhite(x, y)) HslPixel(row + x * 3, h, l, s);
    }
    return;
  }
  auto copy = CopyTo24Bit(bitmap);
  AdjustHueSaturationLightness(copy.get(), mask, hue, lightness, saturation);
  TBitmap back;
  ConvertImage(copy.get(), nullptr, &back, nullptr, pf, bitmap->Width(), bitmap->Height(), 1, 0, false, irfNone,
               nullptr, false);
  bitmap->Assign(&back);
}

void SharpenPlaneWithLibrary(TBitmap* plane, int amount, int boxSize) {
  if (!plane || plane->PixelFormat() != pf24bit) return;
  TIEBitmap pixels;
  pixels.EncapsulateTBitmap(plane, true);
  SharpenArea(pixels, 0, 0, nullptr, nullptr, boxSize, amount, pixels.Height(), pixels.Width());
}

void SharpenBitmap(TBitmap* bitmap, int amount, int boxSize, const TPlaneSharpener& sharpenPlane) {
  if (IsEmpty(bitmap) || !sharpenPlane) return;
  if (bitmap->PixelFormat() != pf32bit) {
    SharpenPlane(bitmap, amount, boxSize, sharpenPlane);
    return;
  }
  TBitmap colour, alpha;
  // The split reports an alpha other than 255 and an alpha other than 0.
  bool notAllOpaque = false, anyNonZero = false;
  SplitToColorAndAlpha(bitmap, &colour, &alpha, notAllOpaque, anyNonZero);
  if (!anyNonZero) return;
  SharpenPlane(&colour, amount, boxSize, sharpenPlane);
  if (notAllOpaque) {
    SharpenPlane(&alpha, amount, boxSize, sharpenPlane);
    JoinColorAndAlpha(bitmap, &colour, &alpha);
  } else {
    JoinColorAndAlpha(bitmap, &colour, nullptr);
  }
}

void ApplyShadows(TAdvancedIcon& display, TAdvancedIcon& result, const TResultOptions& options) {
  const std::pair<int, bool> sizes[] = {
      {48, options.Shadow.Size48}, {32, options.Shadow.Size32}, {16, options.Shadow.Size16}};
  for (auto [size, ticked] : sizes)
    if (ticked) ShadowAt(display, size);
  if (!options.MergeBackground) return;
  for (auto [size, ticked] : sizes)
    if (ticked) ShadowAt(result, size);
}

void AddShadowToImage(TAdvancedIcon& icon, int index) {
  TSubIcon* image = icon.Images().GetItem(index);
  if (index < 0 || !image) return;
  TBitmap raw, mask, shadowed;
  Raw(*image, &raw, &mask);
  MakeRoomForShadow(&raw);
  MakeDropShadow(&raw, &shadowed, kShadowRadius, 1, 1, kShadowOpacity, clBlack);
  AlphaToMask(&shadowed, &raw, &mask, 0, false);
  icon.Images().ReplaceWithBitmap(&raw, &mask, index, 0);
}

void MakeRoomForShadow(TBitmap* bitmap) {
  if (!bitmap || bitmap->PixelFormat() != pf32bit || bitmap->Width() <= 1 || bitmap->Height() <= 1) return;
  const int w = bitmap->Width(), h = bitmap->Height();
  const TRect bottom{0, h - 2, w, h}, right{w - 2, 0, w, h};
  // The top row and the left column come round to the bottom and the right,
  // where the clearing below meets them: they must hold nothing either.
  const TRect top{0, 0, w, 1}, left{0, 0, 1, h};
  if (!IsAreaClear(bitmap, bottom) || !IsAreaClear(bitmap, right) || !IsAreaClear(bitmap, top) ||
      !IsAreaClear(bitmap, left))
    return;
  ShiftVertical(bitmap, -1);
  ShiftHorizontal(bitmap, -1);
  ClearArea(bitmap, bottom);
  ClearArea(bitmap, right);
}

bool IsAreaClear(TBitmap* bitmap, const TRect& rect) {
  if (!bitmap || bitmap->PixelFormat() != pf32bit) return true;
  const int x0 = std::max<int>(rect.left, 0), x1 = std::min<int>(rect.right, bitmap->Width());
  const int y0 = std::max<int>(rect.top, 0), y1 = std::min<int>(rect.bottom, bitmap->Height());
  for (int y = y0; y < y1; ++y) {
    const uint32_t* row = Row32(bitmap, y);
    for (int x = x0; x < x1; ++x)
      if (row[x] >> 24) return false;
  }
  return true;
}

void ClearArea(TBitmap* bitmap, const TRect& rect) {
  if (!bitmap || bitmap->PixelFormat() != pf32bit) return;
  const int x0 = std::max<int>(rect.left, 0), x1 = std::min<int>(rect.right, bitmap->Width());
  const int y0 = std::max<int>(rect.top, 0), y1 = std::min<int>(rect.bottom, bitmap->Height());
  for (int y = y0; y < y1; ++y)
    if (x1 > x0) std::memset(Row32(bitmap, y) + x0, 0, static_cast<size_t>(x1 - x0) * 4);
}

void ApplyColorizeAndBackground(TAdvancedIcon& display, TAdvancedIcon& result, const TResultOptions& options) {
  if (!options.Colorize && !options.MergeBackground) return;
  ColorizeAndMerge(display, options);
  ColorizeAndMerge(result, options);
}

void ColorizeBitmap(TBitmap* bitmap, TColor colour) {
  if (IsEmpty(bitmap)) return;
  TListLongint colours, positions;
  colours.Add(0);
  colours.Add(static_cast<int32_t>(colour & 0xFFFFFF));
  colours.Add(0xFFFFFF);
  positions.Add(0);
  positions.Add(382);
  positions.Add(765);
  // The gradient gives colours laid out 0x00BBGGRR; pixels keep blue first.
  auto mapped = [&](int sum) { return ColourToPixel(GradientColorAt(colours, positions, sum / 765.0)); };
  auto mapRow = [&](uint8_t* p, int count, int step) {
    for (int x = 0; x < count; ++x, p += step) {
      const uint32_t c = mapped(p[0] + p[1] + p[2]);
      p[0] = uint8_t(c), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c >> 16);
    }
  };
  const TPixelFormat pf = bitmap->PixelFormat();
  if (pf == pf8bit) {
    int32_t entries[256];
    const int n = ReadPaletteColours(bitmap, entries, 256);
    for (int i = 0; i < n; ++i) {
      const uint32_t e = static_cast<uint32_t>(entries[i]);
      entries[i] = static_cast<int32_t>(PixelToColour(mapped((e & 0xFF) + ((e >> 8) & 0xFF) + ((e >> 16) & 0xFF))));
    }
    WritePaletteColours(bitmap, entries, n);
  } else if (pf == pf32bit || pf == pf24bit) {
    const int step = pf == pf32bit ? 4 : 3;
    for (int y = 0; y < bitmap->Height(); ++y)
      mapRow(static_cast<uint8_t*>(bitmap->ScanLine(y)), bitmap->Width(), step);
  } else {
    On24BitCopy(bitmap, [&](TBitmap* copy) { ColorizeBitmap(copy, colour); });
  }
}

void MergeBackgroundColor(TBitmap* bitmap, TBitmap* scratch, TBitmap* mask, TColor colour) {
  if (IsEmpty(bitmap)) return;
  if (bitmap->PixelFormat() == pf32bit) {
    CompositeOverColor32(bitmap, ColorToOpaqueARGB(static_cast<uint32_t>(colour)));
    return;
  }
  // Transparent pixels take the colour, the others keep theirs; then nothing is masked.
  if (scratch) {
    scratch->Assign(bitmap);
    scratch->SetPixelFormat(pf24bit);
  }
  const uint32_t px = ColourToPixel(static_cast<uint32_t>(colour) & 0xFFFFFF);
  TMaskPixels m(mask && !IsEmpty(mask) ? mask : nullptr);
  if (m.Valid()) {
    On24BitCopy(bitmap, [&](TBitmap* copy) {
      for (int y = 0; y < copy->Height(); ++y) {
        auto* row = static_cast<uint8_t*>(copy->ScanLine(y));
        for (int x = 0; x < copy->Width(); ++x)
          if (m.IsWhite(x, y))
            row[x * 3] = uint8_t(px), row[x * 3 + 1] = uint8_t(px >> 8), row[x * 3 + 2] = uint8_t(px >> 16);
      }
    });
  }
  if (mask) {
    if (IsEmpty(mask)) {
      MakeMonochrome(mask);
      mask->SetSize(bitmap->Width(), bitmap->Height());
    }
    FillBitmap(mask, clBlack);
  }
}

void ApplyStyle(TAdvancedIcon& display, TAdvancedIcon& result, const TResultOptions& options) {
  TAdvancedIcon* style = options.StyleIcon;
  if (!style) return;
  const TSubIconList& shapes = style->Images();
  for (int i = 0; i < display.Count(); ++i) {
    TSubIcon* image = display.Images().GetItem(i);
    if (!Ticked(options.Style, image) || image->GetBitsPerPixel() != 32) continue;
    const int d = shapes.IndexOfImage(image->GetWidth(), image->GetHeight(), 32);
    if (d >= 0) StyleImage(display, i, *style, d);
  }
  for (int i = 0; i < result.Count(); ++i) {
    TSubIcon* image = result.Images().GetItem(i);
    if (!Ticked(options.Style, image) || image->GetBitsPerPixel() != 32) continue;
    const int d = shapes.IndexOfImage(image->GetWidth(), image->GetHeight(), 32);
    if (d >= 0 && SameShape(shapes.GetItem(d + 2), image)) StyleImage(result, i, *style, d + 2);
  }
}

void MaskByAlpha(TBitmap* image, TBitmap* shape, TBitmap* target) {
  if (!image || !shape || !target) return;
  SetSize32AndFill(target, shape->Width(), shape->Height(), 0);
  if (image->PixelFormat() != pf32bit || shape->PixelFormat() != pf32bit) return;
  const int w = std::min(image->Width(), shape->Width()), h = std::min(image->Height(), shape->Height());
  for (int y = 0; y < h; ++y) {
    const uint32_t* a = Row32(image, y);
    const uint32_t* s = Row32(shape, y);
    uint32_t* t = Row32(target, y);
    for (int x = 0; x < w; ++x) t[x] = (a[x] & 0xFFFFFF) | (((s[x] >> 24) * (a[x] >> 24) / 255) << 24);
  }
}

void AssembleResultIcon(TAdvancedIcon& display, TAdvancedIcon& result) {
  TAdvancedIcon saved;
  AddPaletteImages(result, saved);
  AddAlphaImages(display, saved);
  result.Assign(&saved);
  SortSubIcons(&result);
}

void AddPaletteImages(TAdvancedIcon& source, TAdvancedIcon& target) {
  for (int i = 0; i < source.Count(); ++i) {
    TBitmap raw, palette, mask;
    Raw(*source.Images().GetItem(i), &raw, nullptr);
    ConvertImage(&raw, nullptr, &palette, &mask, pf8bit, raw.Width(), raw.Height(), 1, kPaletteThreshold, false,
                 irfNone, nullptr, false);
    target.Images().AddBitmap(&palette, &mask, 0);
  }
}

void AddAlphaImages(TAdvancedIcon& source, TAdvancedIcon& target) {
  for (int i = 0; i < source.Count(); ++i) {
    TSubIcon* image = source.Images().GetItem(i);
    if (image->GetBitsPerPixel() != 32) continue;
    TBitmap raw, mask;
    Raw(*image, &raw, nullptr);
    MakeMonochrome(&mask);
    AlphaThresholdMask(&raw, &mask, kPaletteThreshold);
    target.Images().AddBitmap(&raw, &mask, 0);
  }
}

int LoadStyleLibrary(TIconLibrary& library, const std::string& fileName) {
  try {
    library.LoadFromFile(fileName);
  } catch (const std::exception&) {
    library.Icons().Clear();
  }
  return library.Icons().Count();
}

void RenderStyleThumbnails(TAdvancedIcon& thumbnail, const TIconLibrary* styles, TColor listColour, TBitmap* strip) {
  if (!strip) return;
  TBitmap picture;
  if (TSubIcon* image = thumbnail.FindImage(kStyleThumbSize, kStyleThumbSize, 32))
    Raw(*image, &picture, nullptr);
  else
    SetSize32AndFill(&picture, kStyleThumbSize, kStyleThumbSize, 0xFFFFFFFF);
  const int count = styles ? styles->Icons().Count() : 0;
  const TColor bg = ColorToRGB(listColour);
  strip->SetPixelFormat(pf24bit);
  strip->SetSize(kStyleThumbSize, kStyleThumbSize * (count + 1));
  FlattenInto(&picture, bg, strip, 0);
  for (int k = 0; k < count; ++k) {
    TAdvancedIcon* style = styles->GetIcon(k);
    const int g = style ? style->Images().IndexOfImage(kStyleThumbSize, kStyleThumbSize, 32) : -1;
    if (g < 0) {
      FlattenInto(&picture, bg, strip, k + 1);
      continue;
    }
    TBitmap shape, target;
    Raw(*style->Images().GetItem(g), &shape, nullptr);
    MaskByAlpha(&picture, &shape, &target);
    TSubIcon* overlay = style->Images().GetItem(g + 1);
    if (overlay && overlay->GetWidth() == kStyleThumbSize && overlay->GetHeight() == kStyleThumbSize &&
        overlay->GetBitsPerPixel() == 32) {
      TBitmap top;
      Raw(*overlay, &top, nullptr);
      Composite32(&top, &target);
    }
    FlattenInto(&target, bg, strip, k + 1);
  }
}

bool StyleStripHoldsRow(int index, int stripHeight) {
  return index >= 0 && (static_cast<int64_t>(index) + 1) * kStyleThumbSize <= stripHeight;
}

int PreviewOffset(int boxSide, int bitmapSide) {
  const int offset = (boxSide - bitmapSide) / 2;
  return offset < 2 ? 0 : offset;
}
