#include "base/toolbox/bitmap_utils.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/rtl/streams.h"

namespace {

constexpr uint32_t kTransparentWhite = 0x00FFFFFFu;

bool Empty(TBitmap* b) { return !b || b->Width() <= 0 || b->Height() <= 0; }

uint32_t* Row32(const TPixelRows& rows, int y) { return reinterpret_cast<uint32_t*>(rows.Row(y)); }

// The clipped intersection of a rectangle with a width x height picture.
TRect Clip(const TRect& r, int width, int height) {
  return TRect{std::max<LONG>(r.left, 0), std::max<LONG>(r.top, 0), std::min<LONG>(r.right, width),
               std::min<LONG>(r.bottom, height)};
}

bool IsBlackOrWhite(int32_t c) { return c == 0 || c == 0xFFFFFF; }

// A plain framework colour as the value of a new 32-bit pixel: red and blue in
// pixel order, the top byte (0 for a colour) as alpha. clNone leaves pixels 0.
uint32_t ColourAsPixel32(TColor colour) {
  if (colour == clNone) return 0;
  return ColourToPixel(static_cast<uint32_t>(ColorToRGB(colour)));
}

}  // namespace

int PixelFormatBits(TPixelFormat format) {
  static constexpr int kBits[] = {0, 1, 4, 8, 16, 16, 24, 32, 0};
  return format <= pfCustom ? kBits[format] : 0;
}

int PixelFormatColors(TPixelFormat format) {
  static constexpr int kColours[] = {0, 2, 16, 256, 32768, 65536, 16777216, 16777216, 0};
  return format <= pfCustom ? kColours[format] : 0;
}

TPixelFormat BitsToPixelFormat(int bits) {
  switch (bits) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 15: return pf15bit;
    case 16: return pf16bit;
    case 24: return pf24bit;
    case 32: return pf32bit;
    default: return pfDevice;
  }
}

int BytesPerRow(int width, int bits, int alignment) {
  const int64_t v = (static_cast<int64_t>(width) * bits + alignment - 1) & ~static_cast<int64_t>(alignment - 1);
  return static_cast<int>(v / 8);
}

int DwordRowSize(int width, int bits) { return static_cast<int>(DibRowBytes(width, bits)); }

int BitmapRowSize(TBitmap* bitmap) { return DwordRowSize(bitmap->Width(), PixelFormatBits(bitmap->PixelFormat())); }

int DibHeaderSize(const BITMAPINFOHEADER& h) {
  if (h.biBitCount <= 8) {
    const int64_t colours = h.biClrUsed ? h.biClrUsed : (int64_t{1} << h.biBitCount);
    return static_cast<int>(std::min<int64_t>(40 + 4 * colours, INT_MAX));
  }
  return (h.biCompression & 3) ? 52 : 40;
}

int ScreenBitsPerPixel() {
  HDC dc = GetDC(nullptr);
  const int bits = GetDeviceCaps(dc, BITSPIXEL);
  ReleaseDC(nullptr, dc);
  return bits;
}

TPixelRows BitmapRows(TBitmap* bitmap) {
  if (Empty(bitmap)) return {};
  const int bits = PixelFormatBits(bitmap->PixelFormat());
  auto* top = static_cast<uint8_t*>(bitmap->ScanLine(0));
  // Rows are one bottom-up block: each row lies one row size below the next.
  return TPixelRows{top, -static_cast<ptrdiff_t>(DwordRowSize(bitmap->Width(), bits ? bits : 32)), bitmap->Width(),
                    bitmap->Height()};
}

uint32_t* Block32(TBitmap* bitmap) {
  if (Empty(bitmap)) return nullptr;
  return static_cast<uint32_t*>(bitmap->ScanLine(bitmap->Height() - 1));
}

bool Is32(TBitmap* bitmap) { return bitmap && bitmap->PixelFormat() == pf32bit; }

const uint8_t MonoBitmapTemplate[66] = {
    'B', 'M', 66, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,     // file header
    40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0,   // size, width, height, planes, bits
    0, 0, 0, 0, 4, 0, 0, 0, 0xCE, 0x0E, 0, 0, 0xD8, 0x0E, 0, 0,  // compression, image size, 3790, 3800
    0, 0, 0, 0, 0, 0, 0, 0,                             // colours used, important
    0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0,                    // black, white
    0x80, 0, 0, 0,                                      // the one pixel: white
};

void MakeMonochrome(TBitmap* bitmap) {
  if (!bitmap) return;
  TCustomMemoryStream stream(MonoBitmapTemplate, sizeof(MonoBitmapTemplate));
  bitmap->LoadFromStream(stream);
}

void MakeOpaqueMask(TBitmap* mask, int width, int height) {
  mask->SetPixelFormat(pf1bit);
  mask->SetSize(width, height);
  const RGBQUAD blackWhite[2] = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
  SetDIBColorTable(mask->Canvas()->Handle(), 0, 2, blackWhite);
  const size_t rowBytes = size_t(DibRowBytes(width, 1));
  for (int y = 0; y < height; y++) std::memset(mask->ScanLine(y), 0, rowBytes);
}

std::unique_ptr<TBitmap> NewMonoBitmap() {
  auto b = std::make_unique<TBitmap>();
  MakeMonochrome(b.get());
  return b;
}

std::unique_ptr<TBitmap> NewBitmap(TPixelFormat format, int width, int height, TColor colour) {
  auto b = std::make_unique<TBitmap>();
  if (format == pf1bit) {
    MakeMonochrome(b.get());
    b->SetSize(width, height);
    if (colour != clNone) FillBitmap(b.get(), colour);
  } else if (format == pf32bit) {
    SetSize32AndFill(b.get(), width, height, ColourAsPixel32(colour));
  } else {
    if (format != pfDevice && format != pfCustom) b->SetPixelFormat(format);
    if (colour != clNone) b->Canvas()->Brush()->SetColor(colour);
    b->SetSize(width, height);
  }
  return b;
}

std::unique_ptr<TBitmap> NewBitmap32(int width, int height) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf32bit);
  b->SetSize(width, height);
  return b;
}

void SetBitmapFormat(TBitmap* bitmap, int width, int height, TPixelFormat format) {
  if (format == pf1bit)
    MakeMonochrome(bitmap);
  else if (format != pfCustom)
    bitmap->SetPixelFormat(format);
  bitmap->SetSize(width, height);
}

void SetBitmapFormatAndFill(TBitmap* bitmap, int width, int height, TColor colour, TPixelFormat format) {
  if (format == pf32bit) {
    SetSize32AndFill(bitmap, width, height, ColourAsPixel32(colour));
    return;
  }
  SetBitmapFormat(bitmap, width, height, format);
  FillBitmap(bitmap, colour);
}

void ResizeAndFill(TBitmap* bitmap, int width, int height, TColor colour) {
  bitmap->SetSize(width, height);
  FillBitmap(bitmap, colour);
}

void FillBitmap(TBitmap* bitmap, TColor colour) {
  if (Empty(bitmap)) return;
  const TPixelFormat pf = bitmap->PixelFormat();
  const TColor rgb = colour == clNone ? colour : ColorToRGB(colour);
  if ((pf == pf1bit || pf == pf24bit) && (rgb == 0 || rgb == 0xFFFFFF)) {
    const size_t bytes = static_cast<size_t>(BitmapRowSize(bitmap)) * bitmap->Height();
    std::memset(bitmap->ScanLine(bitmap->Height() - 1), rgb == 0 ? 0x00 : 0xFF, bytes);
    return;
  }
  FillRectWithColor(bitmap, colour, TRect{0, 0, bitmap->Width(), bitmap->Height()});
}

void FillRectWithColor(TBitmap* bitmap, TColor colour, const TRect& rect) {
  if (Empty(bitmap)) return;
  const TColor rgb = ColorToRGB(colour);
  if (bitmap->PixelFormat() != pf1bit) {
    bitmap->Canvas()->Brush()->SetColor(rgb);
    bitmap->Canvas()->FillRect(rect);
    return;
  }
  const TRect r = Clip(rect, bitmap->Width(), bitmap->Height());
  TColourPixels pixels(bitmap);
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) pixels.Set(x, y, rgb);
}

std::unique_ptr<TBitmap> CloneBitmap(TBitmap* bitmap) {
  auto b = std::make_unique<TBitmap>();
  if (bitmap && bitmap->PixelFormat() == pf1bit) MakeMonochrome(b.get());
  b->Assign(bitmap);
  return b;
}

std::unique_ptr<TBitmap> CopyTo24Bit(TBitmap* bitmap) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(bitmap->Width(), bitmap->Height());
  if (!Empty(bitmap))
    BitBlt(b->Canvas()->Handle(), 0, 0, bitmap->Width(), bitmap->Height(), bitmap->Canvas()->Handle(), 0, 0, SRCCOPY);
  return b;
}

void MakeCheckerBitmap(TBitmap* bitmap, int width, int height, TColor background, TColor colour) {
  bitmap->SetWidth(0);
  bitmap->Canvas()->Brush()->SetColor(background);
  bitmap->SetSize(width, height);
  const TColor rgb = ColorToRGB(colour);
  TColourPixels pixels(bitmap);
  for (int y = 0; y < height; ++y)
    for (int x = y % 2; x < width; x += 2) pixels.Set(x, y, rgb);
}

HBRUSH MakeCheckerBrush(TColor a, TColor b, std::unique_ptr<TBitmap>& bitmap) {
  bitmap = std::make_unique<TBitmap>();
  MakeCheckerBitmap(bitmap.get(), 8, 8, a, b);
  return CreatePatternBrush(bitmap->Handle());
}

// ---- 32-bit blocks ----

void FillRect32(TBitmap* bitmap, uint32_t value, const TRect& rect) {
  if (!Is32(bitmap) || Empty(bitmap)) return;
  const TRect r = Clip(rect, bitmap->Width(), bitmap->Height());
  if (r.right <= r.left || r.bottom <= r.top) return;
  const TPixelRows rows = BitmapRows(bitmap);
  for (int y = r.top; y < r.bottom; ++y) std::fill(Row32(rows, y) + r.left, Row32(rows, y) + r.right, value);
}

void Fill32(TBitmap* bitmap, uint32_t value) {
  bitmap->SetPixelFormat(pf32bit);
  FillRect32(bitmap, value, TRect{0, 0, bitmap->Width(), bitmap->Height()});
}

void SetSize32AndFill(TBitmap* bitmap, int width, int height, uint32_t value) {
  bitmap->SetPixelFormat(pf32bit);
  bitmap->SetSize(width, height);
  FillRect32(bitmap, value, TRect{0, 0, width, height});
}

void CopyRect32(TBitmap* source, TBitmap* target, const TRect& sourceRect, int x, int y) {
  if (!Is32(source) || !Is32(target) || Empty(source) || Empty(target)) return;
  const TPixelRows s = BitmapRows(source), t = BitmapRows(target);
  // Clip the source rectangle to the source, then its destination to the target.
  TRect r = Clip(sourceRect, s.Width, s.Height);
  int dx = x + (r.left - sourceRect.left), dy = y + (r.top - sourceRect.top);
  if (dx < 0) r.left -= dx, dx = 0;
  if (dy < 0) r.top -= dy, dy = 0;
  r.right = std::min<LONG>(r.right, r.left + (t.Width - dx));
  r.bottom = std::min<LONG>(r.bottom, r.top + (t.Height - dy));
  if (r.right <= r.left || r.bottom <= r.top) return;
  const size_t n = static_cast<size_t>(r.right - r.left);
  for (int row = r.top; row < r.bottom; ++row)
    std::memmove(Row32(t, dy + row - r.top) + dx, Row32(s, row) + r.left, n * 4);
}

void DrawBitmap32At(TBitmap* source, TBitmap* target, int x, int y) {
  if (!source) return;
  CopyRect32(source, target, TRect{0, 0, source->Width(), source->Height()}, x, y);
}

uint32_t GetPixel32(TBitmap* bitmap, int x, int y) {
  if (!Is32(bitmap) || x < 0 || y < 0 || x >= bitmap->Width() || y >= bitmap->Height()) return 0;
  return Row32(BitmapRows(bitmap), y)[x];
}

void FixZeroAlpha(TBitmap* bitmap) {
  if (!Is32(bitmap) || Empty(bitmap)) return;
  uint32_t* p = Block32(bitmap);
  const size_t n = static_cast<size_t>(bitmap->Width()) * bitmap->Height();
  if (std::any_of(p, p + n, [](uint32_t v) { return (v >> 24) != 0; })) return;
  for (size_t i = 0; i < n; ++i) p[i] |= 0xFF000000u;
}

bool HasPartialAlpha(TBitmap* bitmap) {
  if (!Is32(bitmap) || Empty(bitmap)) return false;
  const uint32_t* p = Block32(bitmap);
  const size_t n = static_cast<size_t>(bitmap->Width()) * bitmap->Height();
  return std::any_of(p, p + n, [](uint32_t v) {
    const uint32_t a = v >> 24;
    return a != 0 && a != 255;
  });
}

void ReplaceColor32(TBitmap* bitmap, uint32_t oldValue, uint32_t newValue, bool keepAlpha) {
  if (!Is32(bitmap) || Empty(bitmap)) return;
  uint32_t* p = Block32(bitmap);
  const size_t n = static_cast<size_t>(bitmap->Width()) * bitmap->Height();
  const uint32_t oldAlpha = oldValue >> 24;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t v = p[i], a = v >> 24;
    const bool match = v == oldValue || (oldAlpha == 255 && a != 0 && ((v ^ oldValue) & 0xFFFFFF) == 0) ||
                       (oldValue == 0 && a == 0);
    if (!match) continue;
    if (keepAlpha && a != 0 && oldAlpha != 0 && (newValue >> 24) == 255)
      p[i] = (newValue & 0xFFFFFF) | (v & 0xFF000000u);
    else
      p[i] = newValue;
  }
}

// ---- colour pixels ----

TColourPixels::TColourPixels(TBitmap* bitmap) : FBitmap(Empty(bitmap) ? nullptr : bitmap) {
  if (!FBitmap) return;
  const TPixelFormat pf = FBitmap->PixelFormat();
  const int bits = pf == pf1bit ? 1 : pf == pf4bit ? 4 : pf == pf8bit ? 8 : pf == pf24bit ? 24 : pf == pf32bit ? 32 : 0;
  if (bits == 0) return;
  if (bits <= 8) {
    FCount = int(GetDIBColorTable(FBitmap->Canvas()->Handle(), 0, 1u << bits, FTable));
    if (FCount <= 0) return;
  }
  FRows = BitmapRows(FBitmap);
  FBits = bits;
}

TColor TColourPixels::Get(int x, int y) const {
  if (!FBitmap) return clBlack;
  if (FBits == 0) return FBitmap->Canvas()->Pixels(x, y);
  const uint8_t* row = FRows.Row(y);
  uint32_t index;
  switch (FBits) {
    case 1: index = (row[x >> 3] >> (7 - (x & 7))) & 1; break;
    case 4: index = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF; break;
    case 8: index = row[x]; break;
    case 24: return TColor(RGB(row[3 * x + 2], row[3 * x + 1], row[3 * x]));
    default: return TColor(RGB(row[4 * x + 2], row[4 * x + 1], row[4 * x]));
  }
  if (index >= uint32_t(FCount)) return clBlack;
  return TColor(RGB(FTable[index].rgbRed, FTable[index].rgbGreen, FTable[index].rgbBlue));
}

uint32_t TColourPixels::IndexOf(TColor colour) {
  for (int i = 0; i < 4; ++i)
    if (FLastColour[i] == colour) return FLastIndex[i];
  const int r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
  uint32_t best = 0;
  int bestDist = 1 << 30;
  for (int i = 0; i < FCount; ++i) {
    const int dr = FTable[i].rgbRed - r, dg = FTable[i].rgbGreen - g, db = FTable[i].rgbBlue - b;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) bestDist = d, best = uint32_t(i);
  }
  FLastColour[FNextSlot] = colour;
  FLastIndex[FNextSlot] = best;
  FNextSlot = (FNextSlot + 1) % 4;
  return best;
}

void TColourPixels::Set(int x, int y, TColor colour) {
  if (!FBitmap) return;
  if (FBits == 0) {
    FBitmap->Canvas()->SetPixels(x, y, colour);
    return;
  }
  colour = TColor(uint32_t(ColorToRGB(colour)) & 0xFFFFFF);
  uint8_t* row = FRows.Row(y);
  switch (FBits) {
    case 1: {
      const uint8_t bit = uint8_t(0x80 >> (x & 7));
      if (IndexOf(colour) & 1)
        row[x >> 3] |= bit;
      else
        row[x >> 3] &= uint8_t(~bit);
      break;
    }
    case 4: {
      uint8_t& b = row[x >> 1];
      const uint8_t v = uint8_t(IndexOf(colour) & 0xF);
      b = (x & 1) ? uint8_t((b & 0xF0) | v) : uint8_t((b & 0x0F) | (v << 4));
      break;
    }
    case 8: row[x] = uint8_t(IndexOf(colour)); break;
    case 24:
      row[3 * x] = GetBValue(colour), row[3 * x + 1] = GetGValue(colour), row[3 * x + 2] = GetRValue(colour);
      break;
    default: {
      const uint32_t v = (uint32_t(GetRValue(colour)) << 16) | (uint32_t(GetGValue(colour)) << 8) | GetBValue(colour);
      std::memcpy(row + 4 * x, &v, 4);
      break;
    }
  }
}

// ---- mask pixels ----

TMaskPixels::TMaskPixels(TBitmap* mask) : FMask(Empty(mask) ? nullptr : mask) {
  if (!FMask || FMask->PixelFormat() != pf1bit) return;
  RGBQUAD table[2] = {};
  if (GetDIBColorTable(FMask->Canvas()->Handle(), 0, 2, table) == 2) {
    const int sum0 = table[0].rgbRed + table[0].rgbGreen + table[0].rgbBlue;
    const int sum1 = table[1].rgbRed + table[1].rgbGreen + table[1].rgbBlue;
    FWhiteIndex = sum1 >= sum0 ? 1 : 0;
  }
  FRows = BitmapRows(FMask);
  FDirect = true;
}

bool TMaskPixels::IsWhite(int x, int y) {
  if (!FMask || x < 0 || y < 0 || x >= FMask->Width() || y >= FMask->Height()) return false;
  if (FDirect) return ((FRows.Row(y)[x >> 3] >> (7 - (x & 7))) & 1) == FWhiteIndex;
  return (static_cast<uint32_t>(FMask->Canvas()->Pixels(x, y)) & 0xFFFFFF) == 0xFFFFFF;
}

void TMaskPixels::Set(int x, int y, bool white) {
  if (!FMask || x < 0 || y < 0 || x >= FMask->Width() || y >= FMask->Height()) return;
  if (!FDirect) {
    FMask->Canvas()->SetPixels(x, y, white ? clWhite : clBlack);
    return;
  }
  uint8_t& byte = FRows.Row(y)[x >> 3];
  const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
  if ((white ? FWhiteIndex : 1 - FWhiteIndex) == 1)
    byte |= bit;
  else
    byte &= static_cast<uint8_t>(~bit);
}

// ---- rows of any bitmap as 24-bit ----

TRows24::TRows24(TBitmap* bitmap) {
  if (Empty(bitmap)) return;
  if (bitmap->PixelFormat() == pf24bit) {
    FRows = BitmapRows(bitmap);
    return;
  }
  FCopy = CopyTo24Bit(bitmap);
  FRows = BitmapRows(FCopy.get());
}

// ---- masks and alpha ----

namespace {

void SizeMask(TBitmap* mask, TBitmap* like, TColor fill) {
  if (!mask) return;
  mask->SetSize(like->Width(), like->Height());
  FillBitmap(mask, fill);
}

void MaskColorOn24(const TPixelRows& rows, uint32_t rgb, TMaskPixels& mask) {
  const uint8_t r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
  for (int y = 0; y < rows.Height; ++y) {
    uint8_t* p = rows.Row(y);
    for (int x = 0; x < rows.Width; ++x, p += 3)
      if (p[0] == b && p[1] == g && p[2] == r) {
        p[0] = p[1] = p[2] = 0;
        mask.Set(x, y, true);
      }
  }
}

void MaskColor24Impl(TColor colour, TBitmap* bitmap, TBitmap* mask, bool sizeAndClear) {
  if (Empty(bitmap)) return;
  if (sizeAndClear) SizeMask(mask, bitmap, clBlack);
  if (colour == clNone) return;
  const uint32_t rgb = static_cast<uint32_t>(ColorToRGB(colour));
  TMaskPixels m(mask);
  if (bitmap->PixelFormat() == pf24bit) {
    MaskColorOn24(BitmapRows(bitmap), rgb, m);
    return;
  }
  auto copy = CopyTo24Bit(bitmap);
  MaskColorOn24(BitmapRows(copy.get()), rgb, m);
  BitBlt(bitmap->Canvas()->Handle(), 0, 0, bitmap->Width(), bitmap->Height(), copy->Canvas()->Handle(), 0, 0,
         SRCCOPY);
}

}  // namespace

void MaskColor24(TColor colour, TBitmap* bitmap, TBitmap* mask) { MaskColor24Impl(colour, bitmap, mask, true); }

void MaskColor32(TColor colour, TBitmap* bitmap, TBitmap* mask) {
  if (colour == clNone || !Is32(bitmap) || Empty(bitmap)) return;
  const uint32_t px = ColourToPixel(static_cast<uint32_t>(ColorToRGB(colour)));
  const TPixelRows rows = BitmapRows(bitmap);
  TMaskPixels m(mask);
  for (int y = 0; y < rows.Height; ++y) {
    uint32_t* p = Row32(rows, y);
    for (int x = 0; x < rows.Width; ++x)
      if ((p[x] & 0xFFFFFF) == px) {
        p[x] = 0;
        m.Set(x, y, true);
      }
  }
}

void ClearColor32(TBitmap* bitmap, TColor colour) { MaskColor32(colour, bitmap, nullptr); }

void MaskColor(TColor colour, TBitmap* bitmap, TBitmap* mask) {
  if (Is32(bitmap))
    MaskColor32(colour, bitmap, mask);
  else
    MaskColor24Impl(colour, bitmap, mask, false);
}

void ToBitmap32(TBitmap* source, TBitmap* mask, TBitmap* target) {
  if (!source || !target) return;
  if (source == target) {
    if (Is32(source)) return;
    TBitmap temp;
    ToBitmap32(source, mask, &temp);
    target->Assign(&temp);
    return;
  }
  if (source->Width() == 0) return;
  target->SetPixelFormat(pf32bit);
  target->SetSize(source->Width(), source->Height());
  if (Empty(source)) return;
  if (Is32(source)) {
    std::memcpy(Block32(target), Block32(source), static_cast<size_t>(source->Width()) * source->Height() * 4);
    return;
  }
  const TRows24 src(source);
  const TPixelRows t = BitmapRows(target);
  TMaskPixels m(mask);
  for (int y = 0; y < t.Height; ++y) {
    const uint8_t* s = src.Rows().Row(y);
    uint32_t* d = Row32(t, y);
    for (int x = 0; x < t.Width; ++x, s += 3) {
      const uint32_t rgb = s[0] | (s[1] << 8) | (s[2] << 16);
      if (m.Valid() && m.IsWhite(x, y))
        d[x] = rgb == 0xFFFFFF ? kTransparentWhite : 0;
      else
        d[x] = rgb | 0xFF000000u;
    }
  }
}

void AlphaToKeyMask(TBitmap* bitmap, TBitmap* mask) {
  if (!Is32(bitmap) || Empty(bitmap) || !mask) return;
  const TPixelRows rows = BitmapRows(bitmap);
  TMaskPixels m(mask);
  for (int y = 0; y < rows.Height; ++y) {
    const uint32_t* p = Row32(rows, y);
    for (int x = 0; x < rows.Width; ++x) m.Set(x, y, (p[x] >> 24) == 0);
  }
}

void AlphaToMask(TBitmap* source, TBitmap* target, TBitmap* mask, int threshold, bool keepWhite) {
  if (!source || !target) return;
  if (mask) SizeMask(mask, source, clWhite);
  if (target != source) {
    target->Assign(source);
    target->SetPixelFormat(pf32bit);
  }
  if (!Is32(target) || Empty(target)) return;
  const TPixelRows rows = BitmapRows(target);
  TMaskPixels m(mask);
  for (int y = 0; y < rows.Height; ++y) {
    uint32_t* p = Row32(rows, y);
    for (int x = 0; x < rows.Width; ++x) {
      if (static_cast<int>(p[x] >> 24) > threshold)
        m.Set(x, y, false);
      else if (!(keepWhite && p[x] == kTransparentWhite))
        p[x] = 0;
    }
  }
}

void AddAlphaToMask(TBitmap* source, TBitmap* mask, int threshold, bool keep) {
  if (!Is32(source) || Empty(source) || !mask) return;
  if (!keep) SizeMask(mask, source, clBlack);
  const TPixelRows rows = BitmapRows(source);
  TMaskPixels m(mask);
  for (int y = 0; y < rows.Height; ++y) {
    const uint32_t* p = Row32(rows, y);
    for (int x = 0; x < rows.Width; ++x)
      if (static_cast<int>(p[x] >> 24) <= threshold) m.Set(x, y, true);
  }
}

void AlphaThresholdMask(TBitmap* source, TBitmap* mask, int threshold) {
  if (!Is32(source) || !mask) return;
  mask->SetSize(source->Width(), source->Height());
  if (Empty(source)) return;
  const TPixelRows rows = BitmapRows(source);
  TMaskPixels m(mask);
  for (int y = 0; y < rows.Height; ++y) {
    const uint32_t* p = Row32(rows, y);
    for (int x = 0; x < rows.Width; ++x) m.Set(x, y, static_cast<int>(p[x] >> 24) < threshold);
  }
}

void ApplyAlphaThreshold(TBitmap* source, TBitmap* target, TBitmap* mask, int threshold, bool keepWhite) {
  if (!Is32(source) || Empty(source) || !target) return;
  const int w = std::min(source->Width(), target->Width()), h = std::min(source->Height(), target->Height());
  const TPixelRows s = BitmapRows(source);
  TMaskPixels m(mask);
  const TPixelFormat tf = target->PixelFormat();
  TPixelRows t = (tf == pf24bit || tf == pf8bit) ? BitmapRows(target) : TPixelRows{};
  // An 8-bit target takes the palette entries nearest to black and white, as
  // the device would match them.
  uint8_t blackIndex = 0, whiteIndex = 0;
  if (tf == pf8bit) {
    int32_t colours[256] = {};
    const int n = ReadPaletteColours(target, colours, 256);
    blackIndex = static_cast<uint8_t>(std::max(0, NearestColourIndex(colours, n, 0)));
    whiteIndex = static_cast<uint8_t>(std::max(0, NearestColourIndex(colours, n, 0xFFFFFF)));
  }
  TColourPixels other(tf == pf24bit || tf == pf8bit ? nullptr : target);
  for (int y = 0; y < h; ++y) {
    const uint32_t* p = Row32(s, y);
    for (int x = 0; x < w; ++x) {
      if (static_cast<int>(p[x] >> 24) >= threshold) {
        m.Set(x, y, false);
        continue;
      }
      m.Set(x, y, true);
      const bool white = keepWhite && p[x] == kTransparentWhite;
      if (tf == pf24bit) {
        uint8_t* d = t.Row(y) + x * 3;
        d[0] = d[1] = d[2] = white ? 0xFF : 0x00;
      } else if (tf == pf8bit) {
        t.Row(y)[x] = white ? whiteIndex : blackIndex;
      } else {
        other.Set(x, y, white ? clWhite : clBlack);
      }
    }
  }
}

void SplitAlphaToColorAndMask(TBitmap* source, TBitmap* target, TBitmap* mask, int threshold, bool keepWhite) {
  if (!Is32(source) || !target) return;
  target->SetPixelFormat(pf24bit);
  target->SetSize(source->Width(), source->Height());
  if (mask) mask->SetSize(source->Width(), source->Height());
  if (Empty(source)) return;
  const TPixelRows s = BitmapRows(source), t = BitmapRows(target);
  TMaskPixels m(mask);
  for (int y = 0; y < s.Height; ++y) {
    const uint32_t* p = Row32(s, y);
    uint8_t* d = t.Row(y);
    for (int x = 0; x < s.Width; ++x, d += 3) {
      const uint32_t v = p[x];
      if (static_cast<int>(v >> 24) < threshold) {
        m.Set(x, y, true);
        d[0] = d[1] = d[2] = (keepWhite && v == kTransparentWhite) ? 0xFF : 0x00;
      } else {
        m.Set(x, y, false);
        d[0] = v & 0xFF, d[1] = (v >> 8) & 0xFF, d[2] = (v >> 16) & 0xFF;
      }
    }
  }
}

void SetAlphaFromMask(TBitmap* bitmap, TBitmap* mask, uint8_t alpha) {
  if (!Is32(bitmap) || Empty(bitmap)) return;
  const TPixelRows rows = BitmapRows(bitmap);
  TMaskPixels m(mask);
  const uint32_t a = static_cast<uint32_t>(alpha) << 24;
  for (int y = 0; y < rows.Height; ++y) {
    uint32_t* p = Row32(rows, y);
    for (int x = 0; x < rows.Width; ++x) {
      const bool clear = m.Valid() && m.IsWhite(x, y);
      p[x] = (p[x] & 0xFFFFFF) | (clear ? 0 : a);
    }
  }
}

void ApplyMaskBlack(TBitmap* bitmap, TBitmap* mask, bool keepWhite) {
  if (Empty(bitmap) || !mask) return;
  TMaskPixels m(mask);
  const TPixelFormat pf = bitmap->PixelFormat();
  const TPixelRows rows = (pf == pf24bit || pf == pf32bit) ? BitmapRows(bitmap) : TPixelRows{};
  TColourPixels other(pf == pf24bit || pf == pf32bit ? nullptr : bitmap);
  for (int y = 0; y < bitmap->Height(); ++y)
    for (int x = 0; x < bitmap->Width(); ++x) {
      if (!m.IsWhite(x, y)) continue;
      if (pf == pf32bit) {
        uint32_t& p = Row32(rows, y)[x];
        if (!(keepWhite && (p & 0xFFFFFF) == 0xFFFFFF)) p = 0;
      } else if (pf == pf24bit) {
        uint8_t* p = rows.Row(y) + x * 3;
        if (!(keepWhite && p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF)) p[0] = p[1] = p[2] = 0;
      } else {
        const bool white = (static_cast<uint32_t>(other.Get(x, y)) & 0xFFFFFF) == 0xFFFFFF;
        if (!(keepWhite && white)) other.Set(x, y, clBlack);
      }
    }
}

void SplitToColorAndAlpha(TBitmap* source, TBitmap* colour, TBitmap* alpha, bool& anyAlpha, bool& notAllOpaque) {
  anyAlpha = false;
  notAllOpaque = false;
  if (!Is32(source) || !colour || !alpha) return;
  colour->SetPixelFormat(pf24bit);
  colour->SetSize(source->Width(), source->Height());
  alpha->SetPixelFormat(pf24bit);
  alpha->SetSize(source->Width(), source->Height());
  if (Empty(source)) return;
  const TPixelRows s = BitmapRows(source), c = BitmapRows(colour), a = BitmapRows(alpha);
  for (int y = 0; y < s.Height; ++y) {
    const uint32_t* p = Row32(s, y);
    uint8_t* dc = c.Row(y);
    uint8_t* da = a.Row(y);
    for (int x = 0; x < s.Width; ++x, dc += 3, da += 3) {
      const uint32_t v = p[x], av = v >> 24;
      dc[0] = v & 0xFF, dc[1] = (v >> 8) & 0xFF, dc[2] = (v >> 16) & 0xFF;
      da[0] = da[1] = da[2] = static_cast<uint8_t>(av);
      anyAlpha |= av != 255;
      notAllOpaque |= av != 0;
    }
  }
}

void JoinColorAndAlpha(TBitmap* target, TBitmap* colour, TBitmap* alpha) {
  if (!target || !colour) return;
  target->SetPixelFormat(pf32bit);
  target->SetSize(colour->Width(), colour->Height());
  if (Empty(colour)) return;
  const TRows24 c(colour);
  std::unique_ptr<TRows24> a;
  if (alpha && alpha->Width() >= colour->Width() && alpha->Height() >= colour->Height())
    a = std::make_unique<TRows24>(alpha);
  const TPixelRows t = BitmapRows(target);
  for (int y = 0; y < t.Height; ++y) {
    const uint8_t* s = c.Rows().Row(y);
    const uint8_t* sa = a ? a->Rows().Row(y) : nullptr;
    uint32_t* d = Row32(t, y);
    for (int x = 0; x < t.Width; ++x, s += 3) {
      const uint32_t av = sa ? sa[x * 3] : 255;
      d[x] = s[0] | (s[1] << 8) | (s[2] << 16) | (av << 24);
    }
  }
}

void SetChannelFromPlane(TBitmap* bitmap, TBitmap* plane, char letter) {
  if (!Is32(bitmap) || !plane) return;
  plane->SetSize(bitmap->Width(), bitmap->Height());
  if (Empty(bitmap) || plane->PixelFormat() != pf8bit) return;
  // Pixels are blue, green, red, alpha in memory.
  const int byteIndex = letter == 'B' ? 0 : letter == 'G' ? 1 : letter == 'R' ? 2 : 3;
  const TPixelRows rows = BitmapRows(bitmap), src = BitmapRows(plane);
  for (int y = 0; y < rows.Height; ++y) {
    uint8_t* p = rows.Row(y);
    const uint8_t* s = src.Row(y);
    for (int x = 0; x < rows.Width; ++x) {
      p[x * 4 + byteIndex] = s[x];
      if (letter == 'a') {
        uint32_t& v = Row32(rows, y)[x];
        if (v == kTransparentWhite) v = 0;
      }
    }
  }
}

// ---- palettes for transparency ----

int ReadPaletteColours(TBitmap* bitmap, int32_t* colours, int room) {
  std::fill(colours, colours + room, 0);
  if (!bitmap) return 0;
  HPALETTE pal = bitmap->GetPalette();
  if (!pal) return 0;
  PALETTEENTRY entries[256] = {};
  const int n = static_cast<int>(GetPaletteEntries(pal, 0, static_cast<UINT>(std::min(room, 256)), entries));
  for (int i = 0; i < n; ++i) colours[i] = entries[i].peRed | (entries[i].peGreen << 8) | (entries[i].peBlue << 16);
  return n;
}

void WritePaletteColours(TBitmap* bitmap, const int32_t* colours, int count) {
  if (!bitmap || count <= 0) return;
  count = std::min(count, 256);
  std::vector<uint8_t> buf(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * static_cast<size_t>(count));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(count);
  PALETTEENTRY* e = lp->palPalEntry;
  for (int i = 0; i < count; ++i)
    e[i] = PALETTEENTRY{static_cast<BYTE>(colours[i] & 0xFF), static_cast<BYTE>((colours[i] >> 8) & 0xFF),
                        static_cast<BYTE>((colours[i] >> 16) & 0xFF), 0};
  bitmap->SetPalette(CreatePalette(lp));  // the bitmap owns the handle and updates its colour table
}

namespace {

struct TIndexedPicture {
  TPixelRows Rows;
  int32_t Colours[256] = {};
  int Count[256] = {};  // use counts, stopping at 255
};

bool ReadIndexed(TBitmap* bitmap, TIndexedPicture& pic) {
  if (Empty(bitmap) || bitmap->PixelFormat() != pf8bit || !bitmap->GetPalette()) return false;
  ReadPaletteColours(bitmap, pic.Colours, 256);
  pic.Rows = BitmapRows(bitmap);
  for (int y = 0; y < pic.Rows.Height; ++y) {
    const uint8_t* p = pic.Rows.Row(y);
    for (int x = 0; x < pic.Rows.Width; ++x)
      if (pic.Count[p[x]] < 255) ++pic.Count[p[x]];
  }
  return true;
}

void ReplaceIndex(const TPixelRows& rows, uint8_t from, uint8_t to) {
  for (int y = 0; y < rows.Height; ++y) {
    uint8_t* p = rows.Row(y);
    for (int x = 0; x < rows.Width; ++x)
      if (p[x] == from) p[x] = to;
  }
}

// Merges the two closest entries into one and returns the index set free.
int MergeClosestEntries(TIndexedPicture& pic) {
  int bi = 0, bj = 1, bestDist = INT_MAX, bestUse = INT_MAX;
  for (int i = 0; i < 256; ++i)
    for (int j = i + 1; j < 256; ++j) {
      const int d = ColourDistance(pic.Colours[i], pic.Colours[j]);
      const int use = pic.Count[i] + pic.Count[j];
      if (d < bestDist || (d == bestDist && use < bestUse)) bestDist = d, bestUse = use, bi = i, bj = j;
    }
  const bool dropJ = pic.Count[bj] < pic.Count[bi] || IsBlackOrWhite(pic.Colours[bi]);
  const int d = dropJ ? bj : bi, k = dropJ ? bi : bj;
  if (!IsBlackOrWhite(pic.Colours[k])) {
    const int cd = pic.Count[d], ck = pic.Count[k];
    int32_t merged = 0;
    for (int s = 0; s < 24; s += 8) {
      const int v = (cd * ((pic.Colours[d] >> s) & 0xFF) + ck * ((pic.Colours[k] >> s) & 0xFF)) / std::max(cd + ck, 1);
      merged |= v << s;
    }
    pic.Colours[k] = merged;
  }
  ReplaceIndex(pic.Rows, static_cast<uint8_t>(d), static_cast<uint8_t>(k));
  pic.Count[k] = std::min(255, pic.Count[k] + pic.Count[d]);
  pic.Count[d] = 0;
  return d;
}

int IndexOfColour(const int32_t* colours, int32_t c) {
  for (int i = 0; i < 256; ++i)
    if (colours[i] == c) return i;
  return -1;
}

}  // namespace

void ReserveTransparentIndex(TBitmap* bitmap, TBitmap* mask, int& index, TColor colour) {
  index = 0;
  // One byte per pixel: only 8-bit pictures can be read so.
  TIndexedPicture pic;
  if (!ReadIndexed(bitmap, pic)) return;
  int f = -1;
  for (int i = 0; i < 256 && f < 0; ++i)
    if (pic.Count[i] == 0) f = i;
  if (f < 0) f = MergeClosestEntries(pic);
  pic.Colours[f] = 0;
  int32_t c = colour == clNone ? -1 : ColorToRGB(colour);
  if (c < 0) {
    c = 0;
    while (IndexOfColour(pic.Colours, c) >= 0) ++c;
  }
  for (int i = f; i > 0; --i) pic.Colours[i] = pic.Colours[i - 1];
  pic.Colours[0] = c;
  WritePaletteColours(bitmap, pic.Colours, 256);
  const TPixelRows rows = BitmapRows(bitmap);
  TMaskPixels m(mask);
  for (int y = 0; y < rows.Height; ++y) {
    uint8_t* p = rows.Row(y);
    for (int x = 0; x < rows.Width; ++x) {
      if (m.IsWhite(x, y))
        p[x] = 0;
      else if (p[x] < f)
        ++p[x];
    }
  }
}

void PaintMaskedWithColor(TBitmap* bitmap, TBitmap* mask, TColor colour) {
  TIndexedPicture pic;
  if (!ReadIndexed(bitmap, pic)) return;
  const int32_t c = ColorToRGB(colour);
  int index = IndexOfColour(pic.Colours, c);
  if (index < 0) {
    for (int i = 0; i < 256 && index < 0; ++i) {
      if (pic.Count[i] != 0) continue;
      const int32_t e = pic.Colours[i];
      // Black and white are kept unless another entry holds the same colour.
      if (!IsBlackOrWhite(e) || std::count(pic.Colours, pic.Colours + 256, e) > 1) index = i;
    }
    if (index < 0) index = MergeClosestEntries(pic);
    pic.Colours[index] = c;
    WritePaletteColours(bitmap, pic.Colours, 256);
  }
  const TPixelRows rows = BitmapRows(bitmap);
  TMaskPixels m(mask);
  for (int y = 0; y < rows.Height; ++y)
    for (int x = 0; x < rows.Width; ++x)
      if (m.IsWhite(x, y)) rows.Row(y)[x] = static_cast<uint8_t>(index);
}

void ApplyMaskIndex8(TBitmap* bitmap, TBitmap* mask, TColor colour) {
  if (Empty(bitmap) || bitmap->PixelFormat() != pf8bit) return;
  int32_t colours[256];
  ReadPaletteColours(bitmap, colours, 256);
  const int found = IndexOfColour(colours, ColorToRGB(colour));
  const uint8_t index = static_cast<uint8_t>(found < 0 ? 0 : found);
  const TPixelRows rows = BitmapRows(bitmap);
  TMaskPixels m(mask);
  for (int y = 0; y < rows.Height; ++y)
    for (int x = 0; x < rows.Width; ++x)
      if (m.IsWhite(x, y)) rows.Row(y)[x] = index;
}

// ---- queries ----

bool BitmapsEqual(TBitmap* a, TBitmap* b) {
  if (!a || !b || a->Width() != b->Width() || a->Height() != b->Height()) return false;
  if (Empty(a)) return true;
  const TRows24 ra(a), rb(b);
  const size_t n = static_cast<size_t>(a->Width()) * 3;
  for (int y = 0; y < a->Height(); ++y)
    if (std::memcmp(ra.Rows().Row(y), rb.Rows().Row(y), n) != 0) return false;
  return true;
}

bool BitmapHasColor(TBitmap* bitmap, TColor colour) {
  if (Empty(bitmap)) return false;
  const uint32_t rgb = static_cast<uint32_t>(ColorToRGB(colour)) & 0xFFFFFF;
  if (Is32(bitmap)) {
    const uint32_t px = ColourToPixel(rgb);
    const uint32_t* p = Block32(bitmap);
    const size_t n = static_cast<size_t>(bitmap->Width()) * bitmap->Height();
    return std::any_of(p, p + n, [px](uint32_t v) { return (v & 0xFFFFFF) == px; });
  }
  const TRows24 rows(bitmap);
  for (int y = 0; y < rows.Rows().Height; ++y) {
    const uint8_t* p = rows.Rows().Row(y);
    for (int x = 0; x < rows.Rows().Width; ++x, p += 3)
      if ((p[2] | (p[1] << 8) | (p[0] << 16)) == static_cast<int>(rgb)) return true;
  }
  return false;
}
