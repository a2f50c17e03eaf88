#include "imaging/core/ie_dib_exchange.h"

#include <algorithm>
#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_pixel_convert.h"
#include "platform/graphics/bmp_codec.h"
#include "platform/rtl/exceptions.h"
#include "platform/win/global_memory.h"

namespace {

// Grey level of a colour-table entry, by the library's weights.
int EntryGray(const RGBQUAD& q) { return (q.rgbRed * 21 + q.rgbGreen * 71 + q.rgbBlue * 8) / 100; }

bool FillFromDib(const bmpcodec::Dib& dib, TIEBitmap& bitmap) {
  TIEBitmap result;
  if (dib.bitCount == 1) {
    if (!result.Allocate(dib.width, dib.height, ie1g)) return false;
    // ie1g keeps 1 for white: an index stands for white when its entry is light.
    bool white[2] = {false, true};
    for (int i = 0; i < 2 && i < static_cast<int>(dib.colors.size()); ++i) white[i] = EntryGray(dib.colors[i]) >= 128;
    const int64_t bytes = (int64_t(dib.width) + 7) / 8;
    for (int y = 0; y < dib.height; ++y) {
      const uint8_t* src = dib.Row(y);
      uint8_t* dst = result.ScanLine(y);
      if (white[0] == false && white[1] == true) {
        std::memcpy(dst, src, size_t(bytes));
      } else {
        for (int64_t i = 0; i < bytes; ++i) {
          uint8_t out = 0;
          for (int bit = 0; bit < 8; ++bit)
            if (white[(src[i] >> (7 - bit)) & 1]) out |= uint8_t(0x80 >> bit);
          dst[i] = out;
        }
      }
    }
  } else {
    if (!result.Allocate(dib.width, dib.height, ie24RGB)) return false;
    const bmpcodec::DibView view = dib.View();
    for (int y = 0; y < dib.height; ++y) {
      uint8_t* dst = result.ScanLine(y);
      for (int x = 0; x < dib.width; ++x) {
        const bmpcodec::Rgba c = bmpcodec::PixelAt(view, x, y);
        dst[3 * x] = c.b;
        dst[3 * x + 1] = c.g;
        dst[3 * x + 2] = c.r;
      }
    }
  }
  bitmap.Assign(&result);
  return bitmap.Width() == dib.width && bitmap.Height() == dib.height;
}

}  // namespace

int DIBToIEBitmap(const void* dib, size_t size, TIEBitmap& bitmap) {
  if (dib == nullptr || size < sizeof(BITMAPCOREHEADER)) return 0;
  try {
    const bmpcodec::Dib parsed = bmpcodec::ReadPackedDib(dib, size);
    if (parsed.Empty()) return 0;
    return FillFromDib(parsed, bitmap) ? parsed.bitCount : 0;
  } catch (const Exception&) {
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int DIBToIEBitmap(HGLOBAL dib, TIEBitmap& bitmap) {
  if (dib == nullptr) return 0;
  const void* data = GlobalLock(dib);
  if (data == nullptr) return 0;
  const int bits = DIBToIEBitmap(data, GlobalSize(dib), bitmap);
  GlobalUnlock(dib);
  return bits;
}

std::vector<uint8_t> CopyBitmapToPackedDIB(TIEBitmap& bitmap, int x1, int y1, int x2, int y2, int dpiX, int dpiY) {
  if (x2 == 0) x2 = bitmap.Width();
  if (y2 == 0) y2 = bitmap.Height();
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, bitmap.Width());
  y2 = std::min(y2, bitmap.Height());
  if (bitmap.IsEmpty() || x2 <= x1 || y2 <= y1) return {};

  TIEBitmap* source = &bitmap;
  std::unique_ptr<TIEBitmap> converted;
  const TIEBitmapFormat format = bitmap.PixelFormat();
  if (format != ie1g && format != ie8p && format != ie8g && format != ie24RGB) {
    converted = std::make_unique<TIEBitmap>(bitmap.Width(), bitmap.Height(), ie24RGB);
    ConvertBitmapPixels(bitmap, *converted);
    source = converted.get();
  }

  bmpcodec::Dib dib;
  dib.width = x2 - x1;
  dib.height = y2 - y1;
  dib.bitCount = source->BitCount();
  // Pixels per metre from dots per inch, cut toward zero.
  dib.xPelsPerMeter = static_cast<LONG>(dpiX * 39.3700787);
  dib.yPelsPerMeter = static_cast<LONG>(dpiY * 39.3700787);
  switch (source->PixelFormat()) {
    case ie1g:
      dib.colors = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
      break;
    case ie8g:
      dib.colors.resize(256);
      for (int i = 0; i < 256; ++i) dib.colors[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
      break;
    case ie8p:
      dib.colors.resize(256);
      for (int i = 0; i < 256 && i < source->PaletteLength(); ++i) {
        TRGB c;
        source->GetPaletteColor(i, c);
        dib.colors[i] = RGBQUAD{c.b, c.g, c.r, 0};
      }
      break;
    default:
      break;
  }
  dib.bits.assign(size_t(dib.RowBytes()) * size_t(dib.height), 0);
  for (int y = 0; y < dib.height; ++y) {
    const uint8_t* src = source->ScanLine(y1 + y);
    uint8_t* dst = dib.Row(y);
    if (dib.bitCount == 1) {
      for (int x = 0; x < dib.width; ++x) {
        const int sx = x1 + x;
        if (src[sx >> 3] & (0x80 >> (sx & 7))) dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
      }
    } else {
      const int bytes = dib.bitCount / 8;
      std::memcpy(dst, src + int64_t(x1) * bytes, size_t(dib.width) * size_t(bytes));
    }
  }
  return bmpcodec::PackDib(dib);
}

HGLOBAL CopyBitmaptoDIBEx(TIEBitmap& bitmap, int x1, int y1, int x2, int y2, int dpiX, int dpiY) {
  const std::vector<uint8_t> packed = CopyBitmapToPackedDIB(bitmap, x1, y1, x2, y2, dpiX, dpiY);
  if (packed.empty()) return nullptr;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, packed.size());
  if (block == nullptr) return nullptr;
  void* data = GlobalLock(block);
  std::memcpy(data, packed.data(), packed.size());
  GlobalUnlock(block);
  return block;
}
