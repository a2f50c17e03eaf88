// Icon and cursor handles: made from bitmaps or from the image data of an icon
// resource (a DIB with its AND mask, or a PNG stream), and drawn with the AND
// and XOR masks or, for 32-bit images with alpha, by alpha blending.
#include <png.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/graphics/gdi_internal.h"
#include "platform/graphics/png_header.h"
#include "platform/win/system_info.h"

namespace qvgdi {

namespace {

bool AnyAlpha(const Surface& s) {
  for (int y = 0; y < s.height; ++y) {
    const uint8_t* r = s.Row(y);
    for (int x = 0; x < s.width; ++x)
      if (r[4 * x + 3]) return true;
  }
  return false;
}

// A colour image of an icon as 32 bits: 32-bit sources keep their alpha bytes.
bool ToColor32(const Surface& src, int width, int height, Surface& out) {
  if (!AllocateSurface(out, width, height, 32)) return false;
  out.topDown = true;
  PixelCodec in(src), to(out);
  for (int y = 0; y < height && y < src.height; ++y) {
    const uint8_t* s = src.Row(y);
    uint8_t* d = out.Row(y);
    if (src.bitCount == 32 && src.compression == BI_RGB) {
      std::memcpy(d, s, static_cast<size_t>(std::min(width, src.width)) * 4);
      continue;
    }
    for (int x = 0; x < width && x < src.width; ++x) to.Write(d, x, to.FromColor(in.ToColor(in.Read(s, x))));
  }
  return true;
}

// A mask as 1 bit: white (and every light colour) is 1, black 0.
bool ToMask(const Surface& src, int width, int height, int srcTop, Surface& out) {
  if (!AllocateSurface(out, width, height, 1)) return false;
  out.topDown = true;
  out.mono = true;
  PixelCodec in(src), to(out);
  for (int y = 0; y < height; ++y) {
    int sy = srcTop + y;
    if (sy < 0 || sy >= src.height) continue;
    const uint8_t* s = src.Row(sy);
    uint8_t* d = out.Row(y);
    for (int x = 0; x < width && x < src.width; ++x) to.Write(d, x, to.FromColor(in.ToColor(in.Read(s, x))));
  }
  return true;
}

// Nearest-pixel scaling of an icon to another size.
bool ScaleSurface(const Surface& src, int width, int height, Surface& out) {
  if (!AllocateSurface(out, width, height, src.bitCount)) return false;
  out.topDown = true;
  out.mono = src.mono;
  out.colors = src.colors;
  PixelCodec in(src), to(out);
  for (int y = 0; y < height; ++y) {
    int sy = static_cast<int>(((2 * int64_t{y} + 1) * src.height - 1) / (2 * int64_t{height}));
    for (int x = 0; x < width; ++x) {
      int sx = static_cast<int>(((2 * int64_t{x} + 1) * src.width - 1) / (2 * int64_t{width}));
      to.Write(out.Row(y), x, in.Read(src.Row(sy), sx));
    }
  }
  return true;
}

HICON RegisterIcon(std::unique_ptr<IconObj> icon) { return static_cast<HICON>(Register(std::move(icon))); }

// The PNG image of an icon resource, through libpng's simplified reader.
bool DecodePng(const BYTE* data, size_t size, Surface& color) {
  png_image image;
  std::memset(&image, 0, sizeof(image));
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return false;
  if (image.width == 0 || image.height == 0 || image.width > static_cast<png_uint_32>(kMaxDimension) ||
      image.height > static_cast<png_uint_32>(kMaxDimension)) {
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_BGRA;
  if (!AllocateSurface(color, static_cast<int>(image.width), static_cast<int>(image.height), 32)) {
    png_image_free(&image);
    return false;
  }
  color.topDown = true;
  if (!png_image_finish_read(&image, nullptr, color.bits, static_cast<png_int_32>(color.stride), nullptr)) {
    png_image_free(&image);
    return false;
  }
  return true;
}

// The DIB image of an icon resource: header, colour table, XOR bits, AND bits.
bool DecodeDib(const BYTE* data, size_t size, Surface& color, Surface& mask) {
  if (size < sizeof(BITMAPINFOHEADER)) return false;
  BITMAPINFOHEADER h;
  std::memcpy(&h, data, sizeof(h));
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > size || h.biHeight <= 0 || (h.biHeight & 1)) return false;
  // The stored height covers both the colour image and the mask.
  BITMAPINFOHEADER one = h;
  one.biHeight = h.biHeight / 2;
  int width, height, bitCount;
  bool topDown;
  if (!ParseDibHeader(&one, width, height, topDown, bitCount)) return false;
  size_t table = 0;
  if (bitCount <= 8) {
    size_t full = size_t{1} << bitCount;
    table = (h.biClrUsed && h.biClrUsed < full ? h.biClrUsed : full) * 4;
  } else if (h.biCompression == BI_BITFIELDS && h.biSize == sizeof(BITMAPINFOHEADER)) {
    table = 12;
  }
  size_t xorBytes = static_cast<size_t>(DibRowBytes(width, bitCount)) * height;
  size_t andBytes = static_cast<size_t>(DibRowBytes(width, 1)) * height;
  size_t bitsAt = h.biSize + table;
  if (bitsAt + xorBytes > size) return false;
  // A header we can hand to the DIB reader, with its colour table after it.
  std::vector<uint8_t> info(h.biSize + table + 12);
  std::memcpy(info.data(), data, h.biSize + table);
  reinterpret_cast<BITMAPINFOHEADER*>(info.data())->biHeight = height;
  Surface xorView;
  if (!SurfaceFromDib(xorView, reinterpret_cast<const BITMAPINFO*>(info.data()), data + bitsAt, DIB_RGB_COLORS,
                      nullptr))
    return false;
  if (!ToColor32(xorView, width, height, color)) return false;
  if (bitsAt + xorBytes + andBytes <= size) {
    BITMAPINFO monoInfo{};
    monoInfo.bmiHeader.biWidth = width;
    monoInfo.bmiHeader.biHeight = height;
    monoInfo.bmiHeader.biBitCount = 1;
    std::vector<uint8_t> mi(sizeof(BITMAPINFOHEADER) + 8);
    std::memcpy(mi.data(), &monoInfo.bmiHeader, sizeof(BITMAPINFOHEADER));
    RGBQUAD white{255, 255, 255, 0};
    std::memcpy(mi.data() + sizeof(BITMAPINFOHEADER) + 4, &white, 4);
    Surface andView;
    if (!SurfaceFromDib(andView, reinterpret_cast<const BITMAPINFO*>(mi.data()), data + bitsAt + xorBytes,
                        DIB_RGB_COLORS, nullptr))
      return false;
    return ToMask(andView, width, height, 0, mask);
  }
  // Without its AND bits only an image with alpha can stand: the mask follows alpha.
  if (bitCount != 32 || !AnyAlpha(color)) return false;
  if (!AllocateSurface(mask, width, height, 1)) return false;
  mask.topDown = true;
  mask.mono = true;
  PixelCodec mc(mask);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) mc.Write(mask.Row(y), x, color.Row(y)[4 * x + 3] == 0 ? 1 : 0);
  return true;
}

}  // namespace

}  // namespace qvgdi

using namespace qvgdi;

HICON CreateIconIndirect(const ICONINFO* info) {
  auto lock = Lock();
  if (!info) return nullptr;
  BitmapObj* mask = FindBitmap(info->hbmMask);
  if (!mask) return nullptr;
  auto icon = std::make_unique<IconObj>();
  icon->isIcon = info->fIcon != 0;
  if (info->hbmColor) {
    BitmapObj* color = FindBitmap(info->hbmColor);
    if (!color) return nullptr;
    icon->width = color->surface.width;
    icon->height = color->surface.height;
    if (!ToColor32(color->surface, icon->width, icon->height, icon->color)) return nullptr;
    if (!ToMask(mask->surface, icon->width, icon->height, 0, icon->mask)) return nullptr;
    icon->hasColor = true;
    icon->hasAlpha = color->surface.bitCount == 32 && AnyAlpha(icon->color);
  } else {
    // A monochrome icon: the AND mask above the XOR mask in one bitmap.
    icon->width = mask->surface.width;
    icon->height = mask->surface.height / 2;
    if (icon->height == 0 || !ToMask(mask->surface, icon->width, icon->height * 2, 0, icon->mask)) return nullptr;
  }
  icon->hotX = icon->isIcon ? static_cast<DWORD>(icon->width / 2) : info->xHotspot;
  icon->hotY = icon->isIcon ? static_cast<DWORD>(icon->height / 2) : info->yHotspot;
  return RegisterIcon(std::move(icon));
}

HICON CreateIconFromResourceEx(const BYTE* bits, DWORD size, BOOL isIcon, DWORD version, int cxDesired,
                               int cyDesired, UINT flags) {
  auto lock = Lock();
  if (!bits || cxDesired < 0 || cyDesired < 0 || cxDesired > kMaxDimension || cyDesired > kMaxDimension)
    return nullptr;
  auto icon = std::make_unique<IconObj>();
  icon->isIcon = isIcon != 0;
  if (!isIcon) {
    // A cursor's image starts with its hot spot.
    if (size < 4) return nullptr;
    WORD hx, hy;
    std::memcpy(&hx, bits, 2);
    std::memcpy(&hy, bits + 2, 2);
    icon->hotX = hx;
    icon->hotY = hy;
    bits += 4;
    size -= 4;
  }
  if (HasPngSignature(bits, size)) {
    if (!DecodePng(bits, size, icon->color)) return nullptr;
    int w = icon->color.width, h = icon->color.height;
    if (!AllocateSurface(icon->mask, w, h, 1)) return nullptr;
    icon->mask.topDown = true;
    icon->mask.mono = true;
    PixelCodec mc(icon->mask);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) mc.Write(icon->mask.Row(y), x, icon->color.Row(y)[4 * x + 3] == 0 ? 1 : 0);
    icon->hasAlpha = true;
    icon->hasColor = true;
  } else if (!DecodeDib(bits, size, icon->color, icon->mask)) {
    return nullptr;
  } else {
    icon->hasAlpha = AnyAlpha(icon->color);
    icon->hasColor = true;
    WORD bitCount;
    std::memcpy(&bitCount, bits + 14, 2);
    if (bitCount == 1 || (flags & LR_MONOCHROME)) {
      // A monochrome icon keeps no colour image: its XOR mask goes below the AND mask.
      Surface both;
      int w = icon->mask.width, h = icon->mask.height;
      if (!ToMask(icon->mask, w, 2 * h, 0, both)) return nullptr;
      Surface xorMask;
      if (!ToMask(icon->color, w, h, 0, xorMask)) return nullptr;
      PixelCodec mc(both);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) mc.Write(both.Row(h + y), x, mc.Read(xorMask.Row(y), x));
      icon->mask = std::move(both);
      icon->color = Surface();
      icon->hasColor = false;
      icon->hasAlpha = false;
    }
  }
  icon->width = icon->mask.width;
  icon->height = icon->hasColor ? icon->mask.height : icon->mask.height / 2;
  bool systemSize = flags & LR_DEFAULTSIZE;
  int cx = cxDesired ? cxDesired : (systemSize ? GetSystemMetrics(isIcon ? SM_CXICON : SM_CXCURSOR) : icon->width);
  int cy = cyDesired ? cyDesired : (systemSize ? GetSystemMetrics(isIcon ? SM_CYICON : SM_CYCURSOR) : icon->height);
  if (cx <= 0 || cy <= 0 || cx > kMaxDimension || cy > kMaxDimension) return nullptr;
  if (cx != icon->width || cy != icon->height) {
    Surface c, m;
    if (icon->hasColor && !ScaleSurface(icon->color, cx, cy, c)) return nullptr;
    if (!ScaleSurface(icon->mask, cx, icon->hasColor ? cy : 2 * cy, m)) return nullptr;
    icon->color = std::move(c);
    icon->mask = std::move(m);
    icon->width = cx;
    icon->height = cy;
  }
  if (icon->isIcon) {
    icon->hotX = static_cast<DWORD>(icon->width / 2);
    icon->hotY = static_cast<DWORD>(icon->height / 2);
  }
  return RegisterIcon(std::move(icon));
}

HICON CreateIconFromResource(const BYTE* bits, DWORD size, BOOL icon, DWORD version) {
  return CreateIconFromResourceEx(bits, size, icon, version, 0, 0, LR_DEFAULTCOLOR);
}

BOOL GetIconInfo(HICON handle, ICONINFO* info) {
  auto lock = Lock();
  IconObj* icon = FindIcon(handle);
  if (!icon || !info) return FALSE;
  Surface mask, color;
  if (!CopySurface(mask, icon->mask)) return FALSE;
  if (icon->hasColor && !CopySurface(color, icon->color)) return FALSE;
  info->fIcon = icon->isIcon ? TRUE : FALSE;
  info->xHotspot = icon->hotX;
  info->yHotspot = icon->hotY;
  info->hbmMask = NewBitmap(std::move(mask), false);
  info->hbmColor = icon->hasColor ? NewBitmap(std::move(color), false) : nullptr;
  return TRUE;
}

HICON CopyIcon(HICON handle) {
  auto lock = Lock();
  IconObj* icon = FindIcon(handle);
  if (!icon) return nullptr;
  auto copy = std::make_unique<IconObj>();
  copy->isIcon = icon->isIcon;
  copy->hotX = icon->hotX;
  copy->hotY = icon->hotY;
  copy->width = icon->width;
  copy->height = icon->height;
  copy->hasColor = icon->hasColor;
  copy->hasAlpha = icon->hasAlpha;
  if (!CopySurface(copy->mask, icon->mask)) return nullptr;
  if (icon->hasColor && !CopySurface(copy->color, icon->color)) return nullptr;
  return RegisterIcon(std::move(copy));
}

BOOL DestroyIcon(HICON handle) {
  auto lock = Lock();
  if (!FindIcon(handle)) return FALSE;
  Unregister(handle);
  return TRUE;
}

namespace {

// A copy of an icon's image in a memory DC, for recording it as blits; the
// mask becomes a 1-bit DIB of black and white, so it converts by its colours.
class IconPart {
public:
  IconPart(const Surface& s, bool mask) {
    Surface copy;
    if (!CopySurface(copy, s)) return;
    if (mask) {
      copy.mono = false;
      copy.colors = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
    }
    FBitmap = NewBitmap(std::move(copy), true);
    FDC = CreateCompatibleDC(nullptr);
    FOld = SelectObject(FDC, FBitmap);
  }
  ~IconPart() {
    if (FDC) {
      SelectObject(FDC, FOld);
      DeleteDC(FDC);
    }
    if (FBitmap) DeleteObject(FBitmap);
  }
  IconPart(const IconPart&) = delete;
  IconPart& operator=(const IconPart&) = delete;
  HDC DC() const { return FDC; }

private:
  HBITMAP FBitmap = nullptr;
  HDC FDC = nullptr;
  HGDIOBJ FOld = nullptr;
};

// An icon drawn on a recording DC becomes the blits that draw it: the AND mask
// with SRCAND and the image with SRCINVERT, or an alpha blend of the image
// (premultiplied for it) when the icon has alpha.
BOOL RecordIcon(HDC hdc, int x, int y, const IconObj& icon, int cx, int cy, HBRUSH flickerFree, UINT flags) {
  int oldMode = SetStretchBltMode(hdc, COLORONCOLOR);
  if (flickerFree) {
    RECT r{x, y, x + cx, y + cy};
    FillRect(hdc, &r, flickerFree);
  }
  int w = icon.width, h = icon.height;
  if (icon.hasAlpha && (flags & DI_IMAGE)) {
    Surface pre;
    if (CopySurface(pre, icon.color)) {
      for (int row = 0; row < pre.height; ++row) {
        uint8_t* p = pre.Row(row);
        for (int i = 0; i < pre.width; ++i, p += 4)
          for (int k = 0; k < 3; ++k) p[k] = static_cast<uint8_t>((p[k] * p[3] + 127) / 255);
      }
      IconPart image(pre, false);
      BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
      AlphaBlend(hdc, x, y, cx, cy, image.DC(), 0, 0, w, h, bf);
    }
  } else {
    IconPart mask(icon.mask, true);
    std::optional<IconPart> color;
    if (icon.hasColor) color.emplace(icon.color, false);
    HDC image = color ? color->DC() : mask.DC();
    int imageY = color ? 0 : h;  // a monochrome icon keeps its image below the mask
    if ((flags & DI_NORMAL) == DI_NORMAL) {
      StretchBlt(hdc, x, y, cx, cy, mask.DC(), 0, 0, w, h, SRCAND);
      StretchBlt(hdc, x, y, cx, cy, image, 0, imageY, w, h, SRCINVERT);
    } else if (flags & DI_MASK) {
      StretchBlt(hdc, x, y, cx, cy, mask.DC(), 0, 0, w, h, SRCCOPY);
    } else {
      StretchBlt(hdc, x, y, cx, cy, image, 0, imageY, w, h, SRCCOPY);
    }
  }
  SetStretchBltMode(hdc, oldMode);
  return TRUE;
}

}  // namespace

BOOL DrawIconEx(HDC hdc, int x, int y, HICON handle, int cxWidth, int cyWidth, UINT step, HBRUSH flickerFree,
                UINT flags) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  IconObj* icon = FindIcon(handle);
  if (!dc || !icon || !(flags & DI_NORMAL) || cxWidth < 0 || cyWidth < 0) return FALSE;
  bool systemSize = flags & DI_DEFAULTSIZE;
  int cx = cxWidth ? cxWidth : (systemSize ? GetSystemMetrics(icon->isIcon ? SM_CXICON : SM_CXCURSOR) : icon->width);
  int cy = cyWidth ? cyWidth : (systemSize ? GetSystemMetrics(icon->isIcon ? SM_CYICON : SM_CYCURSOR) : icon->height);
  if (cx <= 0 || cy <= 0 || cx > kMaxDimension || cy > kMaxDimension) return FALSE;
  if (dc->recorder) return RecordIcon(hdc, x, y, *icon, cx, cy, flickerFree, flags);
  // The size is logical like the position: a scaling map scales the icon.
  int left = DevX(dc, x), top = DevY(dc, y);
  if (!dc->state.plain) {
    int right = DevX(dc, x + cx), bottom = DevY(dc, y + cy);
    if (right < left) std::swap(left, right);
    if (bottom < top) std::swap(top, bottom);
    cx = right - left;
    cy = bottom - top;
    if (cx <= 0 || cy <= 0) return TRUE;
  }
  if (flickerFree) {
    auto* brush = FindAs<BrushObj>(flickerFree, Kind::Brush);
    if (!brush) return FALSE;
    FillRegionWithBrush(dc, Region::FromRect(left, top, left + cx, top + cy), brush, 0xF0);
  }
  Surface* ds = DCSurface(dc);
  PixelCodec out(*ds), maskCodec(icon->mask);
  std::optional<PixelCodec> colorCodec;
  if (icon->hasColor) colorCodec.emplace(icon->color);
  // The mask as the destination sees it: 1 is white, 0 black.
  uint32_t white = out.FromColor(RGB(255, 255, 255)), black = out.FromColor(RGB(0, 0, 0));
  bool destAlpha = ds->bitCount == 32 && ds->compression == BI_RGB;
  bool blend = icon->hasAlpha && (flags & DI_IMAGE);
  bool colorRaw = ds->bitCount == 32 && ds->compression == BI_RGB;
  Region area = Region::Combine(DrawableArea(dc), Region::FromRect(left, top, left + cx, top + cy), RGN_AND);
  for (const Band& band : area.Bands())
    for (int row = band.y0; row < band.y1; ++row) {
      int sy = static_cast<int>(((2 * int64_t{row - top} + 1) * icon->height - 1) / (2 * int64_t{cy}));
      const uint8_t* andRow = icon->mask.Row(sy);
      const uint8_t* xorRow = icon->hasColor ? icon->color.Row(sy) : icon->mask.Row(sy + icon->height);
      uint8_t* d = ds->Row(row);
      for (const Span& sp : band.spans)
        for (int px = sp.x0; px < sp.x1; ++px) {
          int sx = static_cast<int>(((2 * int64_t{px - left} + 1) * icon->width - 1) / (2 * int64_t{cx}));
          if (blend) {
            // Icon bits are not premultiplied; blend them as AlphaBlend would blend premultiplied ones.
            const uint8_t* s = xorRow + 4 * sx;
            uint32_t a = s[3];
            if (a == 0) continue;
            uint32_t dv = out.Read(d, px);
            COLORREF dcol = out.ToColor(dv);
            auto mix = [&](uint32_t sc, uint32_t dch) { return static_cast<BYTE>((sc * a + dch * (255 - a) + 127) / 255); };
            uint32_t v = out.FromColor(RGB(mix(s[2], GetRValue(dcol)), mix(s[1], GetGValue(dcol)), mix(s[0], GetBValue(dcol))));
            if (destAlpha) v |= static_cast<uint32_t>(a + ((dv >> 24) * (255 - a) + 127) / 255) << 24;
            out.Write(d, px, v);
            continue;
          }
          uint32_t mv = maskCodec.Read(andRow, sx) ? white : black;
          uint32_t cv;
          if (icon->hasColor) {
            uint32_t raw = colorCodec->Read(xorRow, sx);
            cv = colorRaw ? raw : out.FromColor(colorCodec->ToColor(raw));
          } else {
            cv = maskCodec.Read(xorRow, sx) ? white : black;
          }
          uint32_t dv = out.Read(d, px);
          uint32_t v;
          if ((flags & DI_NORMAL) == DI_NORMAL) v = (dv & mv) ^ cv;
          else if (flags & DI_MASK) v = mv;
          else v = cv;
          out.Write(d, px, v);
        }
    }
  return TRUE;
}

BOOL DrawIcon(HDC hdc, int x, int y, HICON icon) {
  return DrawIconEx(hdc, x, y, icon, 0, 0, 0, nullptr, DI_NORMAL | DI_COMPAT | DI_DEFAULTSIZE);
}
