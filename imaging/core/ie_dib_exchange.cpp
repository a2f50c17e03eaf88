#include "imaging/core/ie_dib_exchange.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_pixel_convert.h"
#include "imaging/core/ie_yuv.h"
#include "platform/graphics/bmp_codec.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"
#include "platform/win/global_memory.h"

namespace {

// Grey level of a colour-table entry, by the library's weights.
int EntryGray(const RGBQUAD& q) { return (q.rgbRed * 21 + q.rgbGreen * 71 + q.rgbBlue * 8) / 100; }

// A bit-field channel as 8 bits: its top bits, a narrower field shifted up.
uint8_t FieldTopBits(uint32_t pixel, DWORD mask) {
  if (mask == 0) return 0;
  const int n = bmpcodec::MaskBits(mask);
  const uint32_t v = (pixel & mask) >> bmpcodec::MaskShift(mask);
  return n >= 8 ? uint8_t(v >> (n - 8)) : uint8_t(v << (8 - n));
}

// The rows of a 1-bit DIB as they are (a set bit white), turned over when the
// table puts the lighter colour first, so the picture does not paste inverted.
void Fill1Bit(const bmpcodec::Dib& dib, TIEBitmap& result) {
  const bool invert = dib.colors.size() >= 2 && EntryGray(dib.colors[0]) > EntryGray(dib.colors[1]);
  const size_t bytes = size_t((int64_t(dib.width) + 7) / 8);
  for (int y = 0; y < dib.height; ++y) {
    const uint8_t* src = dib.Row(y);
    uint8_t* dst = result.ScanLine(y);
    for (size_t i = 0; i < bytes; ++i) dst[i] = invert ? uint8_t(~src[i]) : src[i];
  }
}

void FillIndexed(const bmpcodec::Dib& dib, TIEBitmap& result) {
  const int colors = int(dib.colors.size());
  for (int y = 0; y < dib.height; ++y) {
    const uint8_t* src = dib.Row(y);
    auto* dst = reinterpret_cast<TRGB*>(result.ScanLine(y));
    for (int x = 0; x < dib.width; ++x) {
      // High nibble first; an index past the table reads black.
      const int index = dib.bitCount == 8 ? src[x] : (x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4;
      const RGBQUAD q = index < colors ? dib.colors[size_t(index)] : RGBQUAD{};
      dst[x] = MakeRGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
  }
}

void FillMasked(const bmpcodec::Dib& dib, TIEBitmap& result) {
  DWORD masks[4];
  dib.EffectiveMasks(masks);
  const int bytes = dib.bitCount / 8;
  for (int y = 0; y < dib.height; ++y) {
    const uint8_t* src = dib.Row(y);
    auto* dst = reinterpret_cast<TRGB*>(result.ScanLine(y));
    for (int x = 0; x < dib.width; ++x) {
      const uint8_t* p = src + size_t(x) * size_t(bytes);
      uint32_t v = 0;
      for (int k = bytes - 1; k >= 0; --k) v = v << 8 | p[k];
      dst[x] = MakeRGB(FieldTopBits(v, masks[0]), FieldTopBits(v, masks[1]), FieldTopBits(v, masks[2]));
    }
  }
}

bool FillFromDib(const bmpcodec::Dib& dib, TIEBitmap& bitmap) {
  TIEBitmap result;
  // A large picture goes where the caller's would: to a temporary file.
  result.SetMemoryLimit(bitmap.MemoryLimit());
  if (!result.Allocate(dib.width, dib.height, dib.bitCount == 1 ? ie1g : ie24RGB)) return false;
  switch (dib.bitCount) {
    case 1: Fill1Bit(dib, result); break;
    case 4:
    case 8: FillIndexed(dib, result); break;
    case 24:
      for (int y = 0; y < dib.height; ++y) std::memcpy(result.ScanLine(y), dib.Row(y), size_t(dib.width) * 3);
      break;
    default: FillMasked(dib, result); break;
  }
  bitmap.Assign(&result);
  if (bitmap.HasAlphaChannel()) bitmap.RemoveAlphaChannel();
  return bitmap.Width() == dib.width && bitmap.Height() == dib.height;
}

// The info header's fields when the block starts with a full one.
bool PeekInfoHeader(const uint8_t* block, size_t size, BITMAPINFOHEADER& header) {
  if (size < sizeof header) return false;
  std::memcpy(&header, block, sizeof header);
  return header.biSize >= sizeof header && header.biSize <= size;
}

// Compressions below this are the RGB, run-length and bit-field layouts; the
// rest name a frame layout by its FOURCC.
constexpr DWORD kFirstFourCC = 0x100;

int ReadYUVFrame(const BITMAPINFOHEADER& h, const uint8_t* frame, size_t frameSize, TIEBitmap& bitmap) {
  const int height = h.biHeight == INT32_MIN ? 0 : std::abs(h.biHeight);
  const int64_t need = YUVFrameSize(h.biCompression, h.biWidth, height);
  if (need <= 0 || int64_t(frameSize) < need) return 0;
  TIEBitmap result;
  result.SetMemoryLimit(bitmap.MemoryLimit());
  if (!result.Allocate(h.biWidth, height, ie24RGB)) return 0;
  // Pixels past a packed line's last whole group stay black.
  result.Fill(0);
  if (!ConvertYUVFrame(h.biCompression, frame, frameSize, result, YUVFrameTopDown(h.biCompression, h.biHeight)))
    return 0;
  bitmap.Assign(&result);
  if (bitmap.HasAlphaChannel()) bitmap.RemoveAlphaChannel();
  if (bitmap.Width() != h.biWidth) return 0;
  return h.biBitCount > 0 ? h.biBitCount : 24;
}

int ReadRGB(const void* dib, size_t size, TIEBitmap& bitmap) {
  const bmpcodec::Dib parsed = bmpcodec::ReadPackedDib(dib, size);
  if (parsed.Empty()) return 0;
  return FillFromDib(parsed, bitmap) ? parsed.bitCount : 0;
}

}  // namespace

int DIBToIEBitmap(const void* dib, size_t size, TIEBitmap& bitmap) { return DIBToIEBitmap(dib, size, bitmap, nullptr, 0); }

int DIBToIEBitmap(const void* dib, size_t size, TIEBitmap& bitmap, const void* bits, size_t bitsSize) {
  if (dib == nullptr || size < sizeof(BITMAPCOREHEADER)) return 0;
  const auto* block = static_cast<const uint8_t*>(dib);
  try {
    BITMAPINFOHEADER h;
    if (PeekInfoHeader(block, size, h) && h.biCompression >= kFirstFourCC) {
      if (bits) return ReadYUVFrame(h, static_cast<const uint8_t*>(bits), bitsSize, bitmap);
      return ReadYUVFrame(h, block + h.biSize, size - h.biSize, bitmap);
    }
    if (!bits) return ReadRGB(dib, size, bitmap);
    // The caller's pixels follow the header block (header, masks, table) as if
    // they were stored behind it.
    std::vector<uint8_t> joined(block, block + size);
    joined.insert(joined.end(), static_cast<const uint8_t*>(bits), static_cast<const uint8_t*>(bits) + bitsSize);
    return ReadRGB(joined.data(), joined.size(), bitmap);
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

void GammaCorrectDIB(void* dib, size_t size, double gamma) {
  BITMAPINFOHEADER h;
  auto* block = static_cast<uint8_t*>(dib);
  if (!block || !(gamma > 0) || !PeekInfoHeader(block, size, h)) return;
  if (h.biBitCount != 24 || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN)
    return;
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = uint8_t(std::clamp<int64_t>(Round(std::pow(i / 255.0, 1 / gamma) * 255), 0, 255));
  const int64_t rowBytes = DibRowBytes(h.biWidth, 24);
  // Only the rows the block really holds.
  const int64_t rows = std::min<int64_t>(std::abs(int64_t(h.biHeight)), int64_t(size - h.biSize) / rowBytes);
  uint8_t* p = block + h.biSize;
  for (int64_t i = 0; i < rows * rowBytes; ++i) p[i] = table[p[i]];
}

void GammaCorrectDIB(HGLOBAL dib, double gamma) {
  if (dib == nullptr) return;
  void* data = GlobalLock(dib);
  if (data == nullptr) return;
  GammaCorrectDIB(data, GlobalSize(dib), gamma);
  GlobalUnlock(dib);
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
