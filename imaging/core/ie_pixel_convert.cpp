#include "imaging/core/ie_pixel_convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/core/ie_colorspace.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_icc.h"
#include "imaging/core/ie_proc_fill.h"
#include "imaging/core/ie_quantizer.h"
#include "imaging/core/ie_startup.h"

const uint8_t kIEDitherMatrix[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};

void CMYKToRGBRowPlain(const TCMYK* s, TRGB* d, int count) {
  for (int i = 0; i < count; ++i) {
    const int k = s[i].k;
    d[i] = TRGB{static_cast<uint8_t>(s[i].y * k / 255), static_cast<uint8_t>(s[i].m * k / 255),
                static_cast<uint8_t>(s[i].c * k / 255)};
  }
}

void RGBToCMYKRowPlain(const TRGB* s, TCMYK* d, int count) {
  for (int i = 0; i < count; ++i) d[i] = RGBToCMYKPlain(s[i]);
}

// Through the library's CMYK profile when there is one, else the formulas.
TIECMYKToRGBRow IECMYKToRGBRow = CMYKToRGBRowProfiled;
TIERGBToCMYKRow IERGBToCMYKRow = RGBToCMYKRowProfiled;

namespace {

// Samples of a float picture are kept inside 0..1 before scaling: a value above
// white must stay white rather than wrap round the target field.
inline double Unit(float f) { return f > 1.0f ? 1.0 : (f > 0.0f ? double(f) : 0.0); }
// The small allowance keeps a sample that came from an integer (3 / 255 stored
// as a float) from truncating to the integer below on its way back.
inline uint8_t FloatTo8(float f) { return static_cast<uint8_t>(std::min(255.0, Unit(f) * 255 + 1e-4)); }
inline uint16_t FloatTo16(float f) { return static_cast<uint16_t>(std::min(65535.0, Unit(f) * 65535 + 1e-2)); }

inline int Gray8(TRGB p) { return (p.r * IEGrayWeightRed + p.g * IEGrayWeightGreen + p.b * IEGrayWeightBlue) / 100; }
inline uint16_t Gray16(TRGB p) { return static_cast<uint16_t>((p.r * 54484 + p.g * 183241 + p.b * 19275) / 1000); }
inline float GrayFloat(TRGB p) { return static_cast<float>((p.r * 0.2126 + p.g * 0.7152 + p.b * 0.0722) / 255); }

struct Context {
  const TRGB* palette = nullptr;  // the source's
  bool useRange = false;
  double lo = 0, hi = 0, span = 1;
};

inline uint8_t Stretch(double v, const Context& c) {
  v = std::clamp(v, c.lo, c.hi);
  return static_cast<uint8_t>(std::clamp(std::trunc((v - c.lo) / c.span * 255), 0.0, 255.0));
}

// ---- any source row as 24-bit colour ----
using ToRGBFn = void (*)(const uint8_t* s, TRGB* d, int w, const Context& c);

void RGBFrom1g(const uint8_t* s, TRGB* d, int w, const Context&) {
  for (int x = 0; x < w; ++x) {
    const uint8_t v = (s[x >> 3] & kIEBitMask[x & 7]) ? 255 : 0;
    d[x] = TRGB{v, v, v};
  }
}
void RGBFrom8p(const uint8_t* s, TRGB* d, int w, const Context& c) {
  for (int x = 0; x < w; ++x) d[x] = c.palette ? c.palette[s[x]] : TRGB{};
}
void RGBFrom8g(const uint8_t* s, TRGB* d, int w, const Context& c) {
  for (int x = 0; x < w; ++x) {
    const uint8_t v = c.useRange ? Stretch(s[x], c) : s[x];
    d[x] = TRGB{v, v, v};
  }
}
void RGBFrom16g(const uint8_t* s, TRGB* d, int w, const Context& c) {
  const auto* p = reinterpret_cast<const uint16_t*>(s);
  for (int x = 0; x < w; ++x) {
    const uint8_t v = c.useRange ? Stretch(p[x], c) : static_cast<uint8_t>(p[x] >> 8);
    d[x] = TRGB{v, v, v};
  }
}
void RGBFrom24(const uint8_t* s, TRGB* d, int w, const Context&) { std::memcpy(d, s, size_t(w) * 3); }
void RGBFrom32f(const uint8_t* s, TRGB* d, int w, const Context&) {
  const auto* p = reinterpret_cast<const float*>(s);
  for (int x = 0; x < w; ++x) {
    const uint8_t v = FloatTo8(p[x]);
    d[x] = TRGB{v, v, v};
  }
}
void RGBFromCMYK(const uint8_t* s, TRGB* d, int w, const Context&) {
  IECMYKToRGBRow(reinterpret_cast<const TCMYK*>(s), d, w);
}
void RGBFrom48(const uint8_t* s, TRGB* d, int w, const Context&) {
  const auto* p = reinterpret_cast<const TRGB48*>(s);
  for (int x = 0; x < w; ++x)
    d[x] = TRGB{static_cast<uint8_t>(p[x].b >> 8), static_cast<uint8_t>(p[x].g >> 8), static_cast<uint8_t>(p[x].r >> 8)};
}
void RGBFromLab(const uint8_t* s, TRGB* d, int w, const Context&) {
  const auto* p = reinterpret_cast<const TCIELab*>(s);
  for (int x = 0; x < w; ++x) d[x] = ConvertCIELabToRGB(p[x].l, p[x].a, p[x].b);
}
void RGBFrom32(const uint8_t* s, TRGB* d, int w, const Context&) {
  for (int x = 0; x < w; ++x) d[x] = TRGB{s[4 * x], s[4 * x + 1], s[4 * x + 2]};
}

constexpr ToRGBFn kToRGB[kIEFormatCount] = {nullptr,   RGBFrom1g,   RGBFrom8p, RGBFrom8g, RGBFrom16g, RGBFrom24,
                                            RGBFrom32f, RGBFromCMYK, RGBFrom48, RGBFromLab, RGBFrom32};

// ---- 24-bit colour into any target row ----
using FromRGBFn = void (*)(const TRGB* s, uint8_t* d, int w);

void RGBTo8g(const TRGB* s, uint8_t* d, int w) {
  for (int x = 0; x < w; ++x) d[x] = static_cast<uint8_t>(Gray8(s[x]));
}
void RGBTo16g(const TRGB* s, uint8_t* d, int w) {
  auto* p = reinterpret_cast<uint16_t*>(d);
  for (int x = 0; x < w; ++x) p[x] = Gray16(s[x]);
}
void RGBTo24(const TRGB* s, uint8_t* d, int w) { std::memcpy(d, s, size_t(w) * 3); }
void RGBTo32f(const TRGB* s, uint8_t* d, int w) {
  auto* p = reinterpret_cast<float*>(d);
  for (int x = 0; x < w; ++x) p[x] = GrayFloat(s[x]);
}
void RGBToCMYK(const TRGB* s, uint8_t* d, int w) { IERGBToCMYKRow(s, reinterpret_cast<TCMYK*>(d), w); }
void RGBTo48(const TRGB* s, uint8_t* d, int w) {
  auto* p = reinterpret_cast<TRGB48*>(d);
  for (int x = 0; x < w; ++x)
    p[x] = TRGB48{static_cast<uint16_t>(s[x].r * 257), static_cast<uint16_t>(s[x].g * 257),
                  static_cast<uint16_t>(s[x].b * 257)};
}
void RGBToLab(const TRGB* s, uint8_t* d, int w) {
  auto* p = reinterpret_cast<TCIELab*>(d);
  for (int x = 0; x < w; ++x) p[x] = CIELabOf(s[x]);
}
void RGBTo32(const TRGB* s, uint8_t* d, int w) {
  for (int x = 0; x < w; ++x) {
    d[4 * x] = s[x].b;
    d[4 * x + 1] = s[x].g;
    d[4 * x + 2] = s[x].r;
    d[4 * x + 3] = 255;
  }
}

FromRGBFn FromRGBFor(TIEBitmapFormat f) {
  switch (f) {
    case ie8g: return RGBTo8g;
    case ie16g: return RGBTo16g;
    case ie24RGB: return RGBTo24;
    case ie32f: return RGBTo32f;
    case ieCMYK: return RGBToCMYK;
    case ieRGB48: return RGBTo48;
    case ieCIELab: return RGBToLab;
    case ie32RGB: return RGBTo32;
    default: return nullptr;  // ie1g and ie8p need the whole picture first
  }
}

// ---- pairs kept exact at more than eight bits ----
using DirectFn = void (*)(const uint8_t* s, uint8_t* d, int w);

void Gray16To32f(const uint8_t* s, uint8_t* d, int w) {
  const auto* a = reinterpret_cast<const uint16_t*>(s);
  auto* b = reinterpret_cast<float*>(d);
  for (int x = 0; x < w; ++x) b[x] = static_cast<float>(a[x] / 65535.0);
}
void Gray8To32f(const uint8_t* s, uint8_t* d, int w) {
  auto* b = reinterpret_cast<float*>(d);
  for (int x = 0; x < w; ++x) b[x] = static_cast<float>(s[x] / 255.0);
}
void Gray1To32f(const uint8_t* s, uint8_t* d, int w) {
  auto* b = reinterpret_cast<float*>(d);
  for (int x = 0; x < w; ++x) b[x] = (s[x >> 3] & kIEBitMask[x & 7]) ? 1.0f : 0.0f;
}
void Gray16To48(const uint8_t* s, uint8_t* d, int w) {
  const auto* a = reinterpret_cast<const uint16_t*>(s);
  auto* b = reinterpret_cast<TRGB48*>(d);
  for (int x = 0; x < w; ++x) b[x] = TRGB48{a[x], a[x], a[x]};
}
void FloatTo16g(const uint8_t* s, uint8_t* d, int w) {
  const auto* a = reinterpret_cast<const float*>(s);
  auto* b = reinterpret_cast<uint16_t*>(d);
  for (int x = 0; x < w; ++x) b[x] = FloatTo16(a[x]);
}
void FloatTo48(const uint8_t* s, uint8_t* d, int w) {
  const auto* a = reinterpret_cast<const float*>(s);
  auto* b = reinterpret_cast<TRGB48*>(d);
  for (int x = 0; x < w; ++x) {
    const uint16_t v = FloatTo16(a[x]);
    b[x] = TRGB48{v, v, v};
  }
}
void FloatTo8g(const uint8_t* s, uint8_t* d, int w) {
  const auto* a = reinterpret_cast<const float*>(s);
  for (int x = 0; x < w; ++x) d[x] = FloatTo8(a[x]);
}
void Gray16To8g(const uint8_t* s, uint8_t* d, int w) {
  const auto* a = reinterpret_cast<const uint16_t*>(s);
  for (int x = 0; x < w; ++x) d[x] = static_cast<uint8_t>(a[x] >> 8);
}
void RGB48To16g(const uint8_t* s, uint8_t* d, int w) {
  const auto* a = reinterpret_cast<const TRGB48*>(s);
  auto* b = reinterpret_cast<uint16_t*>(d);
  for (int x = 0; x < w; ++x) b[x] = static_cast<uint16_t>((a[x].r * 212 + a[x].g * 713 + a[x].b * 75) / 1000);
}
void RGB48To32f(const uint8_t* s, uint8_t* d, int w) {
  const auto* a = reinterpret_cast<const TRGB48*>(s);
  auto* b = reinterpret_cast<float*>(d);
  // Weighted high bytes over 255 reach 1.0039 for white: kept at 1.0.
  for (int x = 0; x < w; ++x)
    b[x] = static_cast<float>(
        std::min(1.0, (a[x].r * 0.2126 / 256 + a[x].g * 0.7152 / 256 + a[x].b * 0.0722 / 256) / 255));
}

DirectFn DirectRule(TIEBitmapFormat s, TIEBitmapFormat d) {
  switch (s) {
    case ie1g: return d == ie32f ? Gray1To32f : nullptr;
    case ie8g: return d == ie32f ? Gray8To32f : nullptr;
    case ie16g: return d == ie32f ? Gray16To32f : d == ieRGB48 ? Gray16To48 : d == ie8g ? Gray16To8g : nullptr;
    case ie32f: return d == ie16g ? FloatTo16g : d == ieRGB48 ? FloatTo48 : d == ie8g ? FloatTo8g : nullptr;
    case ieRGB48: return d == ie16g ? RGB48To16g : d == ie32f ? RGB48To32f : nullptr;
    default: return nullptr;
  }
}

// Grey level 0..255 of a source row: the sample itself for grey formats, the
// library's weighted grey of the colour otherwise.
void GrayRow(TIEBitmapFormat f, const uint8_t* s, TRGB* rgb, uint8_t* grey, int w, const Context& c) {
  switch (f) {
    case ie8g: std::memcpy(grey, s, size_t(w)); return;
    case ie16g: Gray16To8g(s, grey, w); return;
    case ie32f: FloatTo8g(s, grey, w); return;
    default:
      kToRGB[f](s, rgb, w, c);
      for (int x = 0; x < w; ++x) grey[x] = static_cast<uint8_t>(Gray8(rgb[x]));
  }
}

void ConvertTo1Bit(TIEBitmap& src, TIEBitmap& dst, const Context& c) {
  // Threshold conversion: the grey of the picture's mean colour decides.
  if (dst.BWConversion() != 0) {
    ConvertToBWThreshold(src, dst, -1, nullptr, nullptr);
    return;
  }
  const int w = src.Width(), h = src.Height();
  const TIEBitmapFormat f = src.PixelFormat();
  std::vector<TRGB> rgb(static_cast<size_t>(w));
  std::vector<uint8_t> grey(static_cast<size_t>(w));
  for (int y = 0; y < h; ++y) {
    GrayRow(f, src.ScanLine(y), rgb.data(), grey.data(), w, c);
    uint8_t* d = dst.ScanLine(y);
    for (int x = 0; x < w; ++x) SetBit(d, x, kIEDitherMatrix[x & 7][y & 7] < (grey[x] >> 2));
  }
}

void ConvertTo8Bit(TIEBitmap& src, TIEBitmap& dst, const Context& c) {
  const int w = src.Width(), h = src.Height();
  const TIEBitmapFormat f = src.PixelFormat();
  TRGB* pal = dst.Palette();
  if (!pal) return;
  if (f == ie1g) {
    pal[0] = TRGB{0, 0, 0};
    pal[1] = TRGB{255, 255, 255};
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = src.ScanLine(y);
      uint8_t* d = dst.ScanLine(y);
      for (int x = 0; x < w; ++x) d[x] = (s[x >> 3] & kIEBitMask[x & 7]) ? 1 : 0;
    }
    return;
  }
  std::vector<TRGB> rgb(static_cast<size_t>(w));
  if (f == ie8g || f == ie16g || f == ie32f) {
    for (int i = 0; i < 256; ++i) pal[i] = TRGB{uint8_t(i), uint8_t(i), uint8_t(i)};
    for (int y = 0; y < h; ++y) GrayRow(f, src.ScanLine(y), rgb.data(), dst.ScanLine(y), w, c);
    return;
  }
  // Colour goes through the library's quantiser on 24-bit rows; other formats
  // are read through a 24-bit copy first.
  TIEBitmap copy;
  TIEBitmap* rgbSource = &src;
  if (f != ie24RGB) {
    if (!copy.Allocate(w, h, ie24RGB)) return;
    for (int y = 0; y < h; ++y) kToRGB[f](src.ScanLine(y), reinterpret_cast<TRGB*>(copy.ScanLine(y)), w, c);
    rgbSource = &copy;
  }
  for (int i = 0; i < 256; ++i) pal[i] = TRGB{};
  TIEQuantizer quantizer(*rgbSource, std::clamp(dst.PaletteColorCount(), 1, 256), pal);
  TIEAccessScope readOnly(*rgbSource, 1);
  for (int y = 0; y < h; ++y) {
    std::memcpy(rgb.data(), rgbSource->ScanLine(y), size_t(w) * 3);
    uint8_t* d = dst.ScanLine(y);
    for (int x = 0; x < w; ++x) d[x] = static_cast<uint8_t>(quantizer.GetIndex(rgb[x]));
  }
}

void CopySameFormat(TIEBitmap& src, TIEBitmap& dst) {
  const int64_t used = (int64_t(src.Width()) * src.BitCount() + 7) / 8;
  for (int y = 0; y < src.Height(); ++y) std::memcpy(dst.ScanLine(y), src.ScanLine(y), size_t(used));
  if (src.PixelFormat() == ie8p && src.Palette() && dst.Palette())
    std::memcpy(dst.Palette(), src.Palette(), sizeof(TRGB) * size_t(std::min(src.PaletteLength(), dst.PaletteLength())));
}

}  // namespace

void ConvertBitmapPixels(TIEBitmap& src, TIEBitmap& dst) {
  const TIEBitmapFormat sf = src.PixelFormat(), df = dst.PixelFormat();
  if (&src == &dst || dst.Location() == ieTBitmap || sf == ieNoFormat || sf >= kIEFormatCount ||
      df == ieNoFormat || df >= kIEFormatCount || src.Width() != dst.Width() || src.Height() != dst.Height())
    return;
  const int w = src.Width(), h = src.Height();
  const uint8_t savedSrc = src.Access(), savedDst = dst.Access();
  src.SetAccess(1);
  dst.SetAccess(2);
  Context c;
  c.palette = src.Palette();
  const bool stretches = (sf == ie8g || sf == ie16g) && (df == ie24RGB || df == ieCMYK || df == ieCIELab);
  if (stretches && dst.RangeMin() != dst.RangeMax()) {
    c.useRange = true;
    c.lo = std::trunc(dst.RangeMin());
    c.hi = std::trunc(dst.RangeMax());
    c.span = dst.RangeMax() - dst.RangeMin();
  }
  if (sf == df) {
    CopySameFormat(src, dst);
  } else if (df == ie1g) {
    ConvertTo1Bit(src, dst, c);
  } else if (df == ie8p) {
    ConvertTo8Bit(src, dst, c);
  } else if (const DirectFn direct = DirectRule(sf, df)) {
    for (int y = 0; y < h; ++y) direct(src.ScanLine(y), dst.ScanLine(y), w);
  } else {
    const ToRGBFn in = kToRGB[sf];
    const FromRGBFn out = FromRGBFor(df);
    if (df == ie24RGB) {
      for (int y = 0; y < h; ++y) in(src.ScanLine(y), reinterpret_cast<TRGB*>(dst.ScanLine(y)), w, c);
    } else {
      std::vector<TRGB> rgb(static_cast<size_t>(w));
      for (int y = 0; y < h; ++y) {
        in(src.ScanLine(y), rgb.data(), w, c);
        out(rgb.data(), dst.ScanLine(y), w);
      }
    }
  }
  if (c.useRange) dst.SetRange(0, 0);
  src.SetAccess(savedSrc);
  dst.SetAccess(savedDst);
  if (src.HasAlphaChannel() && !dst.IsAlphaChannel()) dst.AlphaChannel()->Assign(src.AlphaChannel());
}

TRGB PixelAsRGB(TIEBitmap& bitmap, int x, int y) {
  const TIEBitmapFormat f = bitmap.PixelFormat();
  if (f == ieNoFormat || f >= kIEFormatCount) return TRGB{};
  Context c;
  c.palette = bitmap.Palette();
  TRGB out[8];
  if (f == ie1g) {
    const uint8_t v = (bitmap.ScanLine(y)[x >> 3] & kIEBitMask[x & 7]) ? 255 : 0;
    return TRGB{v, v, v};
  }
  kToRGB[f](bitmap.PixelAddress(y, x), out, 1, c);
  return out[0];
}

void RowAsRGB(TIEBitmap& bitmap, int y, TRGB* out) {
  const TIEBitmapFormat f = bitmap.PixelFormat();
  if (f == ieNoFormat || f >= kIEFormatCount) return;
  Context c;
  c.palette = bitmap.Palette();
  kToRGB[f](bitmap.ScanLine(y), out, bitmap.Width(), c);
}

// ---- the bitmap's own entry points ----

bool TIEBitmap::ConvertToPixelFormat(TIEBitmapFormat format) {
  if (format >= kIEFormatCount) return false;
  if (FLocation == ieTBitmap) return ConvertFrameworkLocated(format);
  TIEBitmap previous;
  if (format == ieNoFormat || FWidth < 1 || FHeight < 1) {
    ReallocateKeepingOld(previous, FWidth, FHeight, ieNoFormat);
    FPixelFormat = format;
    return true;
  }
  // The picture must survive a conversion that cannot get its memory.
  if (!ReallocateKeepingOld(previous, FWidth, FHeight, format)) return false;
  FNeedsReallocation = false;
  if (previous.FPixelFormat != ieNoFormat) {
    std::unique_ptr<TIEBitmap> alpha = AttachAlphaChannel(previous, nullptr);
    ConvertBitmapPixels(previous, *this);
    if (alpha) AttachAlphaChannel(*this, std::move(alpha));
  }
  return true;
}

// Moves the content into previous and allocates this bitmap anew with its own
// location and settings; on failure the content comes back and the result is false.
bool TIEBitmap::ReallocateKeepingOld(TIEBitmap& previous, int width, int height, TIEBitmapFormat format) {
  const TIEStorageLocation location = FLocation;
  const int32_t alignment = FRowAlignment;
  const uint8_t allocator = FAllocatorKind;
  const bool isAlpha = FIsAlphaChannel;
  MoveStorageTo(previous);
  FLocation = location;
  FRowAlignment = alignment;
  FAllocatorKind = allocator;
  FIsAlphaChannel = isAlpha;
  FWidth = width;
  FHeight = height;
  FPixelFormat = format;
  if (format == ieNoFormat) {
    FBitsPerPixel = FChannels = 0;
    FRowLength = 0;
    return true;
  }
  if (!AllocateStorage()) {
    FreeImage(true);
    previous.MoveStorageTo(*this);
    FLocation = location;
    return false;
  }
  FNeedsReallocation = false;
  return true;
}

bool TIEBitmap::ConvertFrameworkLocated(TIEBitmapFormat format) {
  // A framework bitmap holds 1, 8, 24 and 32 bits only; the conversion is made
  // on a copy in memory and laid back.
  if (format != ie1g && format != ie8p && format != ie8g && format != ie24RGB && format != ie32RGB) return false;
  if (IsEmpty()) {
    FPixelFormat = format;
    return AllocateStorage();
  }
  TIEBitmap copy;
  copy.SetLocation(ieMemory);
  copy.Assign(this);
  if (copy.PixelFormat() != PixelFormat()) return false;
  copy.SetBWConversion(FBWConversion);
  copy.SetPaletteColorCount(FPaletteColorCount);
  if (!copy.ConvertToPixelFormat(format)) return false;
  Assign(&copy);
  return PixelFormat() == format;
}

void TIEBitmap::SetPixelFormat(TIEBitmapFormat format) {
  if (format != PixelFormat()) ConvertToPixelFormat(format);
}

void TIEBitmap::ConvertFrom(TIEBitmap& source) { ConvertBitmapPixels(source, *this); }

TRGB TIEBitmap::GetPixelAsRGB(int x, int y) { return PixelAsRGB(*this, x, y); }
