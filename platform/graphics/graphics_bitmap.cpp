#include "platform/graphics/graphics_bitmap.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/graphics/bitmap_refusal.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

namespace {

// Larger pixel blocks than this are refused as the system would refuse them.
constexpr int64_t kMaxBitmapBytes = int64_t{1} << 30;

[[noreturn]] void OutOfResources() { throw EOutOfMemory("Out of system resources"); }

COLORREF ColorRef(TColor color) { return static_cast<COLORREF>(ColorToRGB(color)) & 0x00FFFFFF; }

// A BITMAPINFO with room for masks or a full colour table.
struct InfoBuffer {
  alignas(BITMAPINFO) uint8_t bytes[sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD)] = {};
  BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(bytes); }
};

// The header of a bottom-up section of the format.
void FillInfo(InfoBuffer& buf, int width, int height, int bitCount, DWORD compression, const DWORD masks[4],
              const std::vector<RGBQUAD>& colors) {
  BITMAPINFOHEADER& h = buf.Info()->bmiHeader;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bitCount);
  h.biCompression = compression;
  h.biSizeImage = static_cast<DWORD>(DibRowBytes(width, bitCount) * height);
  uint8_t* table = buf.bytes + sizeof(BITMAPINFOHEADER);
  if (compression == BI_BITFIELDS) {
    std::memcpy(table, masks, 12);
  } else if (bitCount <= 8) {
    const size_t n = std::min<size_t>(colors.size(), size_t{1} << bitCount);
    h.biClrUsed = static_cast<DWORD>(n);
    std::memcpy(table, colors.data(), n * sizeof(RGBQUAD));
  }
}

HBITMAP CreateSection(int width, int height, int bitCount, DWORD compression, const DWORD masks[4],
                      const std::vector<RGBQUAD>& colors, uint8_t** bits) {
  if (static_cast<int64_t>(DibRowBytes(width, bitCount)) * height > kMaxBitmapBytes) OutOfResources();
  InfoBuffer buf;
  FillInfo(buf, width, height, bitCount, compression, masks, colors);
  void* p = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, buf.Info(), DIB_RGB_COLORS, &p, nullptr, 0);
  if (!bmp || !p) {
    if (bmp) DeleteObject(bmp);
    OutOfResources();
  }
  *bits = static_cast<uint8_t*>(p);
  return bmp;
}

HPALETTE PaletteOf(const PALETTEENTRY* entries, size_t count) {
  if (count == 0) return nullptr;
  std::vector<uint8_t> buf(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(count);
  std::memcpy(lp->palPalEntry, entries, count * sizeof(PALETTEENTRY));
  return CreatePalette(lp);
}

// A palette of our own with the entries of another.
HPALETTE CopyPalette(HPALETTE source) {
  PALETTEENTRY entries[256];
  return source ? PaletteOf(entries, GetPaletteEntries(source, 0, 256, entries)) : nullptr;
}

bool SameColor(const bmpcodec::Rgba& a, COLORREF c) {
  return a.r == GetRValue(c) && a.g == GetGValue(c) && a.b == GetBValue(c);
}

// Matches colours to a colour table once per distinct colour.
class ColorMatcher {
public:
  explicit ColorMatcher(const bmpcodec::DibView& target) : FTarget(target) {}
  void Store(int x, int y, const bmpcodec::Rgba& c) {
    if (FTarget.bitCount > 8) {
      bmpcodec::StorePixel(FTarget, x, y, c);
      return;
    }
    const uint32_t key = static_cast<uint32_t>(c.r) | (c.g << 8) | (c.b << 16);
    auto it = FCache.find(key);
    int index = it != FCache.end() ? it->second
                                   : FCache[key] = bmpcodec::NearestColorIndex(FTarget.colors, FTarget.colorCount, c.r,
                                                                               c.g, c.b);
    uint8_t* row = FTarget.Row(y);
    switch (FTarget.bitCount) {
      case 1:
        row[x >> 3] = static_cast<uint8_t>((row[x >> 3] & ~(0x80 >> (x & 7))) | ((index & 1) << (7 - (x & 7))));
        break;
      case 4:
        row[x >> 1] = (x & 1) ? static_cast<uint8_t>((row[x >> 1] & 0xF0) | (index & 15))
                              : static_cast<uint8_t>((row[x >> 1] & 0x0F) | ((index & 15) << 4));
        break;
      default:
        row[x] = static_cast<uint8_t>(index);
        break;
    }
  }

private:
  bmpcodec::DibView FTarget;
  std::unordered_map<uint32_t, int> FCache;
};

bool HasAlphaChannel(const bmpcodec::DibView& v) {
  return v.bitCount == 32 && (v.compression == BI_RGB || v.masks[3] != 0);
}

bool SameLayout(const bmpcodec::DibView& a, int bitCount, DWORD compression, const DWORD masks[4]) {
  if (a.bitCount != bitCount || a.bitCount <= 8) return false;
  DWORD ma[4], mb[4];
  a.EffectiveMasks(ma);
  bmpcodec::DibView b;
  b.bitCount = bitCount;
  b.compression = compression;
  std::copy(masks, masks + 4, b.masks);
  b.EffectiveMasks(mb);
  return std::equal(ma, ma + 3, mb) && (bitCount != 32 || HasAlphaChannel(a) == HasAlphaChannel(b));
}

}  // namespace

std::vector<RGBQUAD> DefaultColorTable(int bitCount) {
  auto q = [](uint8_t r, uint8_t g, uint8_t b) {
    RGBQUAD c;
    c.rgbRed = r, c.rgbGreen = g, c.rgbBlue = b;
    return c;
  };
  if (bitCount == 1) return {q(0, 0, 0), q(255, 255, 255)};
  std::vector<RGBQUAD> vga = {q(0, 0, 0),       q(128, 0, 0),   q(0, 128, 0),   q(128, 128, 0),
                              q(0, 0, 128),     q(128, 0, 128), q(0, 128, 128), q(192, 192, 192),
                              q(128, 128, 128), q(255, 0, 0),   q(0, 255, 0),   q(255, 255, 0),
                              q(0, 0, 255),     q(255, 0, 255), q(0, 255, 255), q(255, 255, 255)};
  if (bitCount == 4) return vga;
  std::vector<RGBQUAD> t = vga;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) t.push_back(q(static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51), static_cast<uint8_t>(b * 51)));
  for (int i = 0; t.size() < 256; ++i) {
    const auto v = static_cast<uint8_t>(8 + i * 10);
    t.push_back(q(v, v, v));
  }
  return t;
}

HPALETTE SystemPalette16() {
  static const HPALETTE palette = [] {
    const std::vector<RGBQUAD> vga = DefaultColorTable(4);
    std::vector<uint8_t> buffer(sizeof(LOGPALETTE) + (vga.size() - 1) * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(buffer.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(vga.size());
    for (size_t i = 0; i < vga.size(); ++i)
      lp->palPalEntry[i] = {vga[i].rgbRed, vga[i].rgbGreen, vga[i].rgbBlue, 0};
    return CreatePalette(lp);
  }();
  return palette;
}

// ---- TBitmapCanvas ----

void TBitmapCanvas::CreateHandle() {
  // A canvas got before the bitmap took shared rows draws on rows of its own.
  FBitmap->OwnBits();
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) OutOfResources();
  FDC = dc;
  if (FBitmap->FHandle) FOldBitmap = SelectObject(dc, FBitmap->FHandle);
  if (HPALETTE pal = FBitmap->GetPalette()) {
    FOldPalette = SelectPalette(dc, pal, TRUE);
    RealizePalette(dc);
  }
  SetHandle(dc);
}

void TBitmapCanvas::FreeContext() {
  if (!FDC) return;
  SetHandle(nullptr);
  if (FOldBitmap) SelectObject(FDC, FOldBitmap);
  if (FOldPalette) SelectPalette(FDC, FOldPalette, TRUE);
  DeleteDC(FDC);
  FDC = nullptr;
  FOldBitmap = nullptr;
  FOldPalette = nullptr;
}

// ---- TBitmap ----

void RegisterBitmapClipboardSupport() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (UINT format : {CF_BITMAP, CF_DSPBITMAP, CF_PALETTE})
      SetClipboardObjectReleaser(format, [](HANDLE h) { DeleteObject(static_cast<HGDIOBJ>(h)); });
  });
}

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() {
  FCanvas.reset();
  DestroyImage();
  DropMask();
  if (FPalette) DeleteObject(FPalette);
}

void TBitmap::FreeContext() {
  if (FCanvas) FCanvas->FreeContext();
}

void TBitmap::DestroyImage() {
  FreeContext();
  if (FHandle) DeleteObject(FHandle);
  FHandle = nullptr;
  FBits = nullptr;
  FBitsShared = false;
  FWidth = FHeight = 0;
}

void TBitmap::OwnBits() {
  if (!FBitsShared) return;
  void* own = UnshareDIBSectionBits(FHandle);
  if (!own) OutOfResources();
  FBits = static_cast<uint8_t*>(own);
  FBitsShared = false;
}

HBITMAP TBitmap::Handle() {
  OwnBits();
  return FHandle;
}

bool TBitmap::TakeSharedBits(TPixelFormat format, int width, int height, const RGBQUAD* table, int tableCount,
                             const TSharedBits& bits, size_t size) {
  if (format != pf1bit && format != pf4bit && format != pf8bit && format != pf24bit) return false;
  if (width <= 0 || height <= 0 || !bits) return false;
  Format f = FormatFor(format);
  const size_t n = std::min(f.colors.size(), static_cast<size_t>(std::max(tableCount, 0)));
  if (n && table) std::copy(table, table + n, f.colors.begin());
  if (static_cast<int64_t>(DibRowBytes(width, f.bitCount)) * height > kMaxBitmapBytes) return false;
  InfoBuffer buf;
  FillInfo(buf, width, height, f.bitCount, f.compression, f.masks, f.colors);
  HBITMAP h = CreateDIBSectionOnSharedBits(nullptr, buf.Info(), DIB_RGB_COLORS, bits, size);
  if (!h) return false;
  Install(h, bits.get(), width, height, f);
  FBitsShared = true;
  FPixelFormat = format;
  FHandleType = bmDIB;
  Changed(this);
  return true;
}

void TBitmap::DropMask() {
  if (FMaskHandle) DeleteObject(FMaskHandle);
  FMaskHandle = nullptr;
}

void TBitmap::Changed(TObject* sender) {
  DropMask();
  TGraphic::Changed(sender);
}

bmpcodec::DibView TBitmap::View() const {
  bmpcodec::DibView v;
  v.width = FWidth;
  v.height = FHeight;
  v.bitCount = FFormat.bitCount;
  v.compression = FFormat.compression;
  std::copy(FFormat.masks, FFormat.masks + 4, v.masks);
  v.colors = FFormat.colors.data();
  v.colorCount = static_cast<int>(FFormat.colors.size());
  v.bits = FBits;
  return v;
}

TBitmap::Format TBitmap::CurrentFormat() const { return FFormat; }

TBitmap::Format TBitmap::FormatFor(TPixelFormat pf) const {
  Format f;
  switch (pf) {
    case pf1bit: f.bitCount = 1; break;
    case pf4bit: f.bitCount = 4; break;
    case pf8bit: f.bitCount = 8; break;
    case pf15bit: f.bitCount = 16; break;
    case pf16bit:
      f.bitCount = 16;
      f.compression = BI_BITFIELDS;
      f.masks[0] = 0xF800, f.masks[1] = 0x07E0, f.masks[2] = 0x001F;
      break;
    case pf24bit: f.bitCount = 24; break;
    case pfDevice:
    case pf32bit: f.bitCount = 32; break;
    case pfCustom: throw EInvalidGraphic("Invalid pixel format");
  }
  if (f.bitCount <= 8) {
    // A palette picture keeps its colours where the new table can hold them;
    // monochrome is always black and white.
    const size_t room = size_t{1} << f.bitCount;
    if (f.bitCount > 1 && !FFormat.colors.empty() && FFormat.bitCount <= 8 && FFormat.colors.size() <= room) {
      f.colors = FFormat.colors;
    } else {
      f.colors = DefaultColorTable(f.bitCount);
    }
  }
  return f;
}

TColor TBitmap::FillColor() { return FCanvas ? FCanvas->Brush()->Color() : clWhite; }

void TBitmap::Install(HBITMAP handle, uint8_t* bits, int width, int height, const Format& format) {
  DestroyImage();
  FHandle = handle;
  FBits = bits;
  FWidth = width;
  FHeight = height;
  FFormat = format;
  if (FPalette && format.bitCount <= 8) {
    // The palette handle follows the colour table; it is made again on demand.
    DeleteObject(FPalette);
    FPalette = nullptr;
  }
}

void TBitmap::Rebuild(int width, int height, const Format& format) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == 0 || height == 0) {
    // An empty picture keeps its format for the next size it gets.
    // Width and height are kept even while the other is 0: setting them one
    // after the other must work.
    DestroyImage();
    FFormat = format;
    FWidth = width;
    FHeight = height;
    return;
  }
  uint8_t* bits = nullptr;
  HBITMAP handle = CreateSection(width, height, format.bitCount, format.compression, format.masks, format.colors, &bits);
  bmpcodec::DibView target;
  target.width = width;
  target.height = height;
  target.bitCount = format.bitCount;
  target.compression = format.compression;
  std::copy(format.masks, format.masks + 4, target.masks);
  target.colors = format.colors.data();
  target.colorCount = static_cast<int>(format.colors.size());
  target.bits = bits;

  const bmpcodec::DibView source = View();
  const int keepW = FBits ? std::min(width, FWidth) : 0;
  const int keepH = FBits ? std::min(height, FHeight) : 0;
  ColorMatcher matcher(target);

  // New area: the canvas brush, as a GDI fill leaves it (alpha 0).
  if (keepW < width || keepH < height) {
    const COLORREF c = ColorRef(FillColor());
    const bmpcodec::Rgba fill{GetRValue(c), GetGValue(c), GetBValue(c), 0};
    // Rows that are wholly new repeat one row, so only that one is matched
    // pixel by pixel (a picture may be thousands of pixels a side).
    const size_t rowBytes = static_cast<size_t>(target.RowBytes());
    const int firstNew = keepW > 0 ? keepH : 0;
    for (int y = 0; y < height; ++y) {
      if (y > firstNew) {
        std::memcpy(target.Row(y), target.Row(firstNew), rowBytes);
        continue;
      }
      const int from = y < keepH ? keepW : 0;
      for (int x = from; x < width; ++x) matcher.Store(x, y, fill);
    }
  }
  if (keepW > 0 && keepH > 0) {
    const bool sameBits = source.bitCount == format.bitCount &&
                          (format.bitCount <= 8 ? source.colorCount == target.colorCount &&
                                                      std::memcmp(source.colors, target.colors,
                                                                  sizeof(RGBQUAD) * source.colorCount) == 0
                                                : SameLayout(source, format.bitCount, format.compression, format.masks));
    if (sameBits && (keepW == width || format.bitCount >= 8)) {
      const size_t bytes = static_cast<size_t>(DibRowBytes(keepW, format.bitCount));
      for (int y = 0; y < keepH; ++y) {
        std::memcpy(target.Row(y), source.Row(y), std::min<size_t>(bytes, static_cast<size_t>(target.RowBytes())));
      }
      if (keepW < width && format.bitCount < 8) {
        // Partial bytes of sub-byte rows were copied whole; the fill above is redone.
        const COLORREF c = ColorRef(FillColor());
        for (int y = 0; y < keepH; ++y)
          for (int x = keepW; x < width; ++x) matcher.Store(x, y, {GetRValue(c), GetGValue(c), GetBValue(c), 0});
      }
    } else {
      const bool alpha = HasAlphaChannel(source);
      for (int y = 0; y < keepH; ++y) {
        for (int x = 0; x < keepW; ++x) {
          bmpcodec::Rgba p = bmpcodec::PixelAt(source, x, y);
          if (!alpha) p.a = 0;  // GDI leaves the alpha byte of what it draws at 0
          matcher.Store(x, y, p);
        }
      }
    }
  }
  Install(handle, bits, width, height, format);
}

void TBitmap::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == FWidth && height == FHeight && (FHandle || width == 0 || height == 0)) return;
  const Format f = FBits || FPixelFormat == pfCustom ? FFormat : FormatFor(FPixelFormat);
  Rebuild(width, height, f);
  Changed(this);
}

TPixelFormat TBitmap::PixelFormat() const {
  if (!FBits) return FPixelFormat;
  if (FHandleType == bmDDB) return pfDevice;
  switch (FFormat.bitCount) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 24: return pf24bit;
    case 16:
      if (FFormat.compression == BI_RGB) return pf15bit;
      if (FFormat.masks[0] == 0xF800 && FFormat.masks[1] == 0x07E0 && FFormat.masks[2] == 0x001F) return pf16bit;
      if (FFormat.masks[0] == 0x7C00 && FFormat.masks[1] == 0x03E0 && FFormat.masks[2] == 0x001F) return pf15bit;
      return pfCustom;
    case 32:
      if (FFormat.compression == BI_RGB) return pf32bit;
      return pfCustom;
    default: return pfCustom;
  }
}

void TBitmap::SetPixelFormat(TPixelFormat value) {
  if (value == pfCustom) throw EInvalidGraphic("Invalid pixel format");
  if (value == PixelFormat()) return;
  const Format f = FormatFor(value);
  FPixelFormat = value;
  if (FBits) {
    if (!(f.bitCount == FFormat.bitCount && f.bitCount == 32 && FFormat.compression == BI_RGB)) {
      Rebuild(FWidth, FHeight, f);
    }
  } else {
    FFormat = f;
  }
  FHandleType = value == pfDevice ? bmDDB : bmDIB;
  Changed(this);
}

void TBitmap::SetHandleType(TBitmapHandleType value) {
  if (value == FHandleType) return;
  if (value == bmDDB) {
    SetPixelFormat(pfDevice);
    return;
  }
  // A device bitmap becomes the DIB of the device's own format.
  FHandleType = bmDIB;
  if (FPixelFormat == pfDevice) FPixelFormat = pf32bit;
  Changed(this);
}

bool TBitmap::Monochrome() { return (FBits ? FFormat.bitCount : FormatFor(FPixelFormat == pfCustom ? pfDevice : FPixelFormat).bitCount) == 1; }

void TBitmap::SetMonochrome(bool value) {
  if (value == Monochrome()) return;
  SetPixelFormat(value ? pf1bit : pfDevice);
}

void* TBitmap::ScanLine(int row) {
  if (!FBits || row < 0 || row >= FHeight) throw EInvalidGraphicOperation("Scan line index out of range");
  OwnBits();
  if (FHandleType == bmDDB) {
    // Direct access needs a DIB; the device format's DIB has the same bytes.
    FHandleType = bmDIB;
    FPixelFormat = pf32bit;
  }
  GdiFlush();
  return FBits + static_cast<size_t>(FHeight - 1 - row) * static_cast<size_t>(DibRowBytes(FWidth, FFormat.bitCount));
}

TCanvas* TBitmap::Canvas() {
  OwnBits();
  if (!FCanvas) {
    FCanvas = std::make_unique<TBitmapCanvas>(this);
    FCanvas->OnChange = [this](TObject*) { Changed(this); };
  }
  return FCanvas.get();
}

HPALETTE TBitmap::GetPalette() {
  if (!FPalette && FBits && FFormat.bitCount <= 8 && !FFormat.colors.empty()) {
    std::vector<PALETTEENTRY> entries(FFormat.colors.size());
    for (size_t i = 0; i < entries.size(); ++i)
      entries[i] = PALETTEENTRY{FFormat.colors[i].rgbRed, FFormat.colors[i].rgbGreen, FFormat.colors[i].rgbBlue, 0};
    FPalette = PaletteOf(entries.data(), entries.size());
  }
  return FPalette;
}

void TBitmap::ReplacePaletteHandle(HPALETTE palette) {
  FreeContext();
  if (FPalette && FPalette != palette) DeleteObject(FPalette);
  FPalette = palette;
}

void TBitmap::SetPalette(HPALETTE palette) {
  if (palette == FPalette) return;
  ReplacePaletteHandle(palette);
  if (palette && FFormat.bitCount <= 8) {
    // The colour table follows the palette; the pixels keep their indexes.
    const UINT room = 1u << FFormat.bitCount;
    PALETTEENTRY entries[256];
    UINT n = GetPaletteEntries(palette, 0, room, entries);
    if (n > 0) {
      FFormat.colors.resize(n);
      for (UINT i = 0; i < n; ++i) {
        FFormat.colors[i].rgbRed = entries[i].peRed;
        FFormat.colors[i].rgbGreen = entries[i].peGreen;
        FFormat.colors[i].rgbBlue = entries[i].peBlue;
        FFormat.colors[i].rgbReserved = 0;
      }
      if (FHandle) {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, FHandle);
        SetDIBColorTable(dc, 0, n, FFormat.colors.data());
        SelectObject(dc, old);
        DeleteDC(dc);
      }
    }
  }
  Changed(this);
}

HPALETTE TBitmap::ReleasePalette() {
  HPALETTE p = GetPalette();
  FreeContext();
  FPalette = nullptr;
  return p;
}

TColor TBitmap::TransparentColor() {
  if (FTransparentMode == tmFixed && FTransparentColor != clDefault) return ColorToRGB(FTransparentColor);
  if (!FBits) return clDefault;
  if (Monochrome()) return clWhite;
  // The bottom-left pixel decides, as the framework takes it.
  const bmpcodec::Rgba p = bmpcodec::PixelAt(View(), 0, FHeight - 1);
  return static_cast<TColor>(RGB(p.r, p.g, p.b));
}

void TBitmap::SetTransparentColor(TColor value) {
  if (value == FTransparentColor) return;
  FTransparentColor = value;
  FTransparentMode = value == clDefault ? tmAuto : tmFixed;
  Changed(this);
}

void TBitmap::SetTransparentMode(TTransparentMode value) {
  if (value == FTransparentMode) return;
  if (value == tmAuto) {
    SetTransparentColor(clDefault);
  } else {
    SetTransparentColor(TransparentColor());
  }
}

HBITMAP TBitmap::ColorMask(COLORREF key, uint8_t** bits) const {
  const std::vector<RGBQUAD> mono = DefaultColorTable(1);
  const DWORD noMasks[4] = {0, 0, 0, 0};
  HBITMAP h = CreateSection(FWidth, FHeight, 1, BI_RGB, noMasks, mono, bits);
  const bmpcodec::DibView src = View();
  const int64_t rowBytes = DibRowBytes(FWidth, 1);
  for (int y = 0; y < FHeight; ++y) {
    uint8_t* row = *bits + static_cast<size_t>(FHeight - 1 - y) * static_cast<size_t>(rowBytes);
    std::memset(row, 0, static_cast<size_t>(rowBytes));
    for (int x = 0; x < FWidth; ++x)
      if (SameColor(bmpcodec::PixelAt(src, x, y), key)) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  return h;
}

HBITMAP TBitmap::MaskHandle() {
  if (FMaskHandle || !FBits) return FMaskHandle;
  uint8_t* bits = nullptr;
  FMaskHandle = ColorMask(ColorRef(TransparentColor()), &bits);
  return FMaskHandle;
}

HBITMAP TBitmap::ReleaseMaskHandle() {
  HBITMAP h = MaskHandle();
  FMaskHandle = nullptr;
  return h;
}

void TBitmap::Mask(TColor transparentColor) {
  if (!FBits) return;
  uint8_t* bits = nullptr;
  HBITMAP h = ColorMask(ColorRef(transparentColor), &bits);
  Format mono;
  mono.bitCount = 1;
  mono.colors = DefaultColorTable(1);
  Install(h, bits, FWidth, FHeight, mono);
  FPixelFormat = pf1bit;
  FHandleType = bmDIB;
  Changed(this);
}

void TBitmap::Dormant() {
  FreeContext();
  DropMask();
}

void TBitmap::FreeImage() { Dormant(); }

void TBitmap::LoadDib(const bmpcodec::DibView& dib) {
  Format f;
  f.bitCount = dib.bitCount;
  f.compression = dib.compression;
  std::copy(dib.masks, dib.masks + 4, f.masks);
  if (dib.colorCount > 0) f.colors.assign(dib.colors, dib.colors + dib.colorCount);
  // Bit fields that spell the plain layout are stored as it, so the picture
  // reports pf15bit or pf32bit; a 32-bit alpha mask at the top byte is the plain
  // layout's fourth byte.
  if (f.compression == BI_BITFIELDS) {
    const bool rgb555 = f.bitCount == 16 && f.masks[0] == 0x7C00 && f.masks[1] == 0x03E0 && f.masks[2] == 0x001F &&
                        (f.masks[3] == 0 || f.masks[3] == 0x8000);
    const bool bgra = f.bitCount == 32 && f.masks[0] == 0xFF0000 && f.masks[1] == 0xFF00 && f.masks[2] == 0xFF &&
                      (f.masks[3] == 0 || f.masks[3] == 0xFF000000);
    if (rgb555 || bgra) {
      f.compression = BI_RGB;
      std::fill(f.masks, f.masks + 4, 0);
    }
  }
  uint8_t* bits = nullptr;
  HBITMAP h = CreateSection(dib.width, dib.height, f.bitCount, f.compression, f.masks, f.colors, &bits);
  std::memcpy(bits, dib.bits, size_t(dib.RowBytes()) * size_t(dib.height));
  Install(h, bits, dib.width, dib.height, f);
  FHandleType = bmDIB;
  FPixelFormat = PixelFormat();
}

namespace {
thread_local const char* gLastBitmapRefusal = nullptr;
}  // namespace

const char* LastBitmapRefusal() { return gLastBitmapRefusal; }

void TBitmap::LoadFromStream(TStream& stream) {
  gLastBitmapRefusal = nullptr;
  if (stream.Position() >= stream.Size()) {
    // An empty stream is an empty picture.
    DestroyImage();
    Changed(this);
    return;
  }
  bmpcodec::Dib dib;
  try {
    dib = bmpcodec::ReadBmp(stream);
  } catch (const bmpcodec::EBitmapRefused& e) {
    // The codec's own class stays inside: callers catch the framework's.
    gLastBitmapRefusal = DibRefusalName(e.Reason());
    throw EInvalidGraphic(bmpcodec::kInvalidBitmap);
  }
  LoadDib(dib.View());
  Changed(this);
}

void TBitmap::LoadFromDibView(const bmpcodec::DibView& dib) {
  LoadDib(dib);
  Changed(this);
}

void TBitmap::SaveToStream(TStream& stream) {
  if (!FBits) return;
  GdiFlush();
  bmpcodec::Dib dib;
  dib.width = FWidth;
  dib.height = FHeight;
  dib.bitCount = FFormat.bitCount;
  dib.compression = FFormat.compression;
  std::copy(FFormat.masks, FFormat.masks + 4, dib.masks);
  dib.colors = FFormat.colors;
  dib.bits.assign(FBits, FBits + DibRowBytes(FWidth, FFormat.bitCount) * FHeight);
  bmpcodec::WriteBmp(stream, dib);
}

void TBitmap::TakeBitmap(HBITMAP bitmap, bool adopt) {
  DIBSECTION ds;
  const int got = GetObject(bitmap, sizeof ds, &ds);
  if (got == 0) throw EInvalidGraphic("Bitmap image is not valid");
  Format f;
  const int width = ds.dsBm.bmWidth;
  const int height = ds.dsBm.bmHeight < 0 ? -ds.dsBm.bmHeight : ds.dsBm.bmHeight;
  const bool isSection = got == static_cast<int>(sizeof(DIBSECTION)) && ds.dsBm.bmBits != nullptr;
  if (isSection) {
    f.bitCount = ds.dsBmih.biBitCount;
    f.compression = ds.dsBmih.biCompression == BI_BITFIELDS ? BI_BITFIELDS : BI_RGB;
    if (f.compression == BI_BITFIELDS) std::copy(ds.dsBitfields, ds.dsBitfields + 3, f.masks);
    if (f.bitCount <= 8) {
      HDC dc = CreateCompatibleDC(nullptr);
      HGDIOBJ old = SelectObject(dc, bitmap);
      RGBQUAD table[256];
      UINT n = GetDIBColorTable(dc, 0, 1u << f.bitCount, table);
      SelectObject(dc, old);
      DeleteDC(dc);
      f.colors.assign(table, table + n);
      if (f.colors.empty()) f.colors = DefaultColorTable(f.bitCount);
    }
  } else {
    f.bitCount = ds.dsBm.bmBitsPixel == 1 ? 1 : 32;
    if (f.bitCount == 1) f.colors = DefaultColorTable(1);
  }
  if (width <= 0 || height <= 0) {
    if (adopt) DeleteObject(bitmap);
    DestroyImage();
    return;
  }
  const bool bottomUp = isSection && ds.dsBmih.biHeight > 0;
  if (adopt && bottomUp) {
    Install(bitmap, static_cast<uint8_t*>(ds.dsBm.bmBits), width, height, f);
  } else {
    // Copy through GetDIBits into a section of our own layout.
    uint8_t* bits = nullptr;
    HBITMAP own = CreateSection(width, height, f.bitCount, f.compression, f.masks, f.colors, &bits);
    InfoBuffer buf;
    BITMAPINFOHEADER& h = buf.Info()->bmiHeader;
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(f.bitCount);
    h.biCompression = f.compression;
    uint8_t* table = buf.bytes + sizeof(BITMAPINFOHEADER);
    if (f.compression == BI_BITFIELDS) std::memcpy(table, f.masks, 12);
    if (f.bitCount <= 8) {
      h.biClrUsed = static_cast<DWORD>(f.colors.size());
      std::memcpy(table, f.colors.data(), f.colors.size() * sizeof(RGBQUAD));
    }
    HDC dc = CreateCompatibleDC(nullptr);
    const int lines = GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), bits, buf.Info(), DIB_RGB_COLORS);
    DeleteDC(dc);
    if (adopt) DeleteObject(bitmap);
    if (lines == 0) {
      DeleteObject(own);
      throw EInvalidGraphic("Bitmap image is not valid");
    }
    Install(own, bits, width, height, f);
  }
  FHandleType = bmDIB;
  FPixelFormat = PixelFormat();
}

void TBitmap::SetHandle(HBITMAP bitmap) {
  if (bitmap == FHandle) return;
  if (!bitmap) {
    DestroyImage();
  } else {
    TakeBitmap(bitmap, true);
  }
  Changed(this);
}

HBITMAP TBitmap::ReleaseHandle() {
  OwnBits();
  FreeContext();
  HBITMAP h = FHandle;
  FHandle = nullptr;
  FBits = nullptr;
  FWidth = FHeight = 0;
  Changed(this);
  return h;
}

void TBitmap::LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) {
  if (format == CF_DIB && data) {
    // A packed DIB in a global block, as other programs put pictures there.
    const auto* p = static_cast<const uint8_t*>(GlobalLock(data));
    if (!p) throw EInvalidGraphic("Bitmap image is not valid");
    try {
      const bmpcodec::Dib dib = bmpcodec::ReadPackedDib(p, GlobalSize(data));
      GlobalUnlock(data);
      LoadDib(dib.View());
    } catch (...) {
      GlobalUnlock(data);
      throw;
    }
    Changed(this);
    return;
  }
  if (format != CF_BITMAP || !data) throw EInvalidGraphic("Unsupported clipboard format");
  TakeBitmap(static_cast<HBITMAP>(data), false);
  if (palette && FFormat.bitCount <= 8) {
    if (HPALETTE own = CopyPalette(palette)) {
      SetPalette(own);
      return;
    }
  }
  Changed(this);
}

void TBitmap::SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) {
  RegisterBitmapClipboardSupport();
  format = CF_BITMAP;
  data = nullptr;
  palette = nullptr;
  if (!FBits) return;
  TBitmap copy;
  copy.Assign(this);
  data = copy.ReleaseHandle();
  if (FFormat.bitCount <= 8) palette = copy.ReleasePalette();
}

void TBitmap::Assign(TPersistent* source) {
  if (!source) {
    DestroyImage();
    Changed(this);
    return;
  }
  auto* src = dynamic_cast<TBitmap*>(source);
  if (!src) {
    TGraphic::Assign(source);
    return;
  }
  if (src == this) return;
  GdiFlush();
  if (src->FBits) {
    uint8_t* bits = nullptr;
    HBITMAP h = CreateSection(src->FWidth, src->FHeight, src->FFormat.bitCount, src->FFormat.compression,
                              src->FFormat.masks, src->FFormat.colors, &bits);
    std::memcpy(bits, src->FBits, static_cast<size_t>(DibRowBytes(src->FWidth, src->FFormat.bitCount) * src->FHeight));
    Install(h, bits, src->FWidth, src->FHeight, src->FFormat);
  } else {
    DestroyImage();
    FFormat = src->FFormat;
  }
  FPixelFormat = src->FPixelFormat;
  FHandleType = src->FHandleType;
  FTransparentColor = src->FTransparentColor;
  FTransparentMode = src->FTransparentMode;
  FAlphaFormat = src->FAlphaFormat;
  SetTransparent(src->GetTransparent());
  if (FFormat.bitCount > 8 && src->FPalette) ReplacePaletteHandle(CopyPalette(src->FPalette));
  Changed(this);
}

void TBitmap::Draw(TCanvas* canvas, const TRect& rect) {
  if (!canvas || !FBits) return;
  HDC dest = canvas->Handle();
  HDC src = Canvas()->Handle();
  HPALETTE oldPalette = nullptr;
  if (HPALETTE pal = GetPalette()) {
    oldPalette = SelectPalette(dest, pal, TRUE);
    RealizePalette(dest);
  }
  const int w = rect.right - rect.left;
  const int h = rect.bottom - rect.top;
  if (GetTransparent()) {
    TransparentBlt(dest, rect.left, rect.top, w, h, src, 0, 0, FWidth, FHeight, ColorRef(TransparentColor()));
  } else if (FFormat.bitCount == 32 && FFormat.compression == BI_RGB && FAlphaFormat != afIgnored) {
    BLENDFUNCTION bf;
    bf.BlendOp = AC_SRC_OVER;
    bf.SourceConstantAlpha = 255;
    bf.AlphaFormat = AC_SRC_ALPHA;
    if (FAlphaFormat == afPremultiplied) {
      AlphaBlend(dest, rect.left, rect.top, w, h, src, 0, 0, FWidth, FHeight, bf);
    } else {
      // AlphaBlend wants premultiplied colours; ours are not.
      TBitmap pre;
      pre.Assign(this);
      pre.SetAlphaFormat(afIgnored);
      uint8_t* p = pre.FBits;
      const size_t n = static_cast<size_t>(FWidth) * FHeight;
      for (size_t i = 0; i < n; ++i, p += 4) {
        p[0] = static_cast<uint8_t>((p[0] * p[3] + 127) / 255);
        p[1] = static_cast<uint8_t>((p[1] * p[3] + 127) / 255);
        p[2] = static_cast<uint8_t>((p[2] * p[3] + 127) / 255);
      }
      AlphaBlend(dest, rect.left, rect.top, w, h, pre.Canvas()->Handle(), 0, 0, FWidth, FHeight, bf);
    }
  } else {
    COLORREF oldText = 0, oldBk = 0;
    const bool mono = FFormat.bitCount == 1;
    if (mono) {
      oldText = SetTextColor(dest, RGB(0, 0, 0));
      oldBk = SetBkColor(dest, RGB(255, 255, 255));
    }
    const int oldMode = SetStretchBltMode(dest, COLORONCOLOR);
    StretchBlt(dest, rect.left, rect.top, w, h, src, 0, 0, FWidth, FHeight, canvas->CopyMode());
    SetStretchBltMode(dest, oldMode);
    if (mono) {
      SetTextColor(dest, oldText);
      SetBkColor(dest, oldBk);
    }
  }
  if (oldPalette) SelectPalette(dest, oldPalette, TRUE);
}
