// Pixel surfaces: allocation, the default colour tables, and reading and writing
// pixels of every DIB format as values and colours.
#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/graphics/dib_channel.h"
#include "platform/graphics/gdi_internal.h"

namespace qvgdi {

namespace {

bool ValidBitCount(int bitCount) {
  return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

RGBQUAD Quad(BYTE r, BYTE g, BYTE b) {
  RGBQUAD q;
  q.rgbRed = r;
  q.rgbGreen = g;
  q.rgbBlue = b;
  return q;
}

BYTE Widen(uint32_t v, int bits) { return WidenMaskedChannel(v, bits); }

uint32_t Narrow(BYTE c, int bits) {
  if (bits <= 0) return 0;
  if (bits >= 8) return static_cast<uint32_t>(c) << (bits - 8);
  return c >> (8 - bits);
}

}  // namespace

std::unique_lock<std::recursive_mutex> Lock() {
  static std::recursive_mutex mutex;
  return std::unique_lock<std::recursive_mutex>(mutex);
}

void SetDefaultMasks(Surface& s) {
  if (s.bitCount == 16) {
    s.masks[0] = 0x7C00;
    s.masks[1] = 0x03E0;
    s.masks[2] = 0x001F;
  } else if (s.bitCount == 32) {
    s.masks[0] = 0x00FF0000;
    s.masks[1] = 0x0000FF00;
    s.masks[2] = 0x000000FF;
  }
}

bool AllocateSurface(Surface& s, int width, int height, int bitCount) {
  if (!ShapeSurface(s, width, height, bitCount)) return false;
  s.storage = NewSharedBits(s.ImageBytes());
  if (!s.storage) return false;
  s.bits = s.storage.get();
  return true;
}

bool ShapeSurface(Surface& s, int width, int height, int bitCount) {
  if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension || !ValidBitCount(bitCount))
    return false;
  int64_t stride = DibRowBytes(width, bitCount);
  if (stride * height > kMaxBitmapBytes) return false;
  s.width = width;
  s.height = height;
  s.bitCount = bitCount;
  s.compression = BI_RGB;
  s.stride = static_cast<size_t>(stride);
  s.storage.reset();
  s.bits = nullptr;
  SetDefaultMasks(s);
  if (bitCount <= 8) {
    s.colors = DefaultColorTable(bitCount);
    s.colorsUsed = static_cast<UINT>(s.colors.size());
  } else {
    s.colors.clear();
    s.colorsUsed = 0;
  }
  return true;
}

bool CopySurface(Surface& dest, const Surface& src) { return CopySurfaceRows(dest, src, 0, src.height); }

bool CopySurfaceRows(Surface& dest, const Surface& src, int first, int last) {
  Surface out;
  if (!AllocateSurface(out, src.width, src.height, src.bitCount)) return false;
  out.topDown = src.topDown;
  out.mono = src.mono;
  out.compression = src.compression;
  std::memcpy(out.masks, src.masks, sizeof(out.masks));
  out.colors = src.colors;
  out.colorsUsed = src.colorsUsed;
  first = std::max(first, 0);
  last = std::min(last, src.height);
  for (int y = first; y < last; ++y) std::memcpy(out.Row(y), src.Row(y), out.stride);
  dest = std::move(out);
  return true;
}

const std::vector<PALETTEENTRY>& StaticPaletteEntries() {
  static const std::vector<PALETTEENTRY> entries = [] {
    static const BYTE rgb[20][3] = {
        {0, 0, 0},       {0x80, 0, 0},    {0, 0x80, 0},       {0x80, 0x80, 0},    {0, 0, 0x80},
        {0x80, 0, 0x80}, {0, 0x80, 0x80}, {0xC0, 0xC0, 0xC0}, {0xC0, 0xDC, 0xC0}, {0xA6, 0xCA, 0xF0},
        {0xFF, 0xFB, 0xF0}, {0xA0, 0xA0, 0xA4}, {0x80, 0x80, 0x80}, {0xFF, 0, 0}, {0, 0xFF, 0},
        {0xFF, 0xFF, 0},    {0, 0, 0xFF},       {0xFF, 0, 0xFF},    {0, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}};
    std::vector<PALETTEENTRY> v(20);
    for (int i = 0; i < 20; ++i) {
      v[i].peRed = rgb[i][0];
      v[i].peGreen = rgb[i][1];
      v[i].peBlue = rgb[i][2];
    }
    return v;
  }();
  return entries;
}

std::vector<RGBQUAD> DefaultColorTable(int bitCount) {
  std::vector<RGBQUAD> t;
  if (bitCount == 1) {
    t = {Quad(0, 0, 0), Quad(255, 255, 255)};
  } else if (bitCount == 4) {
    // The 16 colours of VGA in their usual order.
    t = {Quad(0, 0, 0),       Quad(0x80, 0, 0),    Quad(0, 0x80, 0),    Quad(0x80, 0x80, 0),
         Quad(0, 0, 0x80),    Quad(0x80, 0, 0x80), Quad(0, 0x80, 0x80), Quad(0xC0, 0xC0, 0xC0),
         Quad(0x80, 0x80, 0x80), Quad(0xFF, 0, 0),    Quad(0, 0xFF, 0),    Quad(0xFF, 0xFF, 0),
         Quad(0, 0, 0xFF),    Quad(0xFF, 0, 0xFF), Quad(0, 0xFF, 0xFF), Quad(0xFF, 0xFF, 0xFF)};
  } else if (bitCount == 8) {
    // The static colours keep the first and last ten places, as on a palette
    // device; a 6x6x6 cube fills the middle.
    t.assign(256, Quad(0, 0, 0));
    const auto& st = StaticPaletteEntries();
    for (int i = 0; i < 10; ++i) {
      t[i] = Quad(st[i].peRed, st[i].peGreen, st[i].peBlue);
      t[246 + i] = Quad(st[10 + i].peRed, st[10 + i].peGreen, st[10 + i].peBlue);
    }
    int k = 10;
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) t[k++] = Quad(static_cast<BYTE>(r * 51), static_cast<BYTE>(g * 51),
                                                   static_cast<BYTE>(b * 51));
  }
  return t;
}

int NearestIndex(const RGBQUAD* colors, size_t count, COLORREF color) {
  int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
  int best = 0;
  int bestDist = 1 << 30;
  for (size_t i = 0; i < count; ++i) {
    int dr = colors[i].rgbRed - r, dg = colors[i].rgbGreen - g, db = colors[i].rgbBlue - b;
    int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) {
      bestDist = d;
      best = static_cast<int>(i);
      if (d == 0) break;
    }
  }
  return best;
}

PixelCodec::PixelCodec(const Surface& s) : FSurface(&s), FBitCount(s.bitCount) {
  FAllBits = s.bitCount >= 32 ? 0xFFFFFFFFu : ((1u << s.bitCount) - 1);
  if (s.bitCount <= 8) {
    FColors = s.colors.data();
    FColorCount = std::min<size_t>(s.colors.size(), size_t{1} << s.bitCount);
  } else if (s.bitCount == 16 || (s.bitCount == 32 && s.compression == BI_BITFIELDS)) {
    for (int i = 0; i < 3; ++i) {
      FMask[i] = s.masks[i];
      FShift[i] = FMask[i] ? std::countr_zero(FMask[i]) : 0;
      FBits[i] = FMask[i] ? std::popcount(FMask[i]) : 0;
    }
  }
}

uint32_t PixelCodec::Read(const uint8_t* row, int x) const {
  switch (FBitCount) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
    case 8: return row[x];
    case 16: return row[2 * x] | (row[2 * x + 1] << 8);
    case 24: return row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16);
    default: {
      uint32_t v;
      std::memcpy(&v, row + 4 * x, 4);
      return v;
    }
  }
}

void PixelCodec::Write(uint8_t* row, int x, uint32_t value) const {
  switch (FBitCount) {
    case 1: {
      uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
      if (value & 1) row[x >> 3] |= bit;
      else row[x >> 3] &= static_cast<uint8_t>(~bit);
      break;
    }
    case 4: {
      uint8_t& b = row[x >> 1];
      if (x & 1) b = static_cast<uint8_t>((b & 0xF0) | (value & 0xF));
      else b = static_cast<uint8_t>((b & 0x0F) | ((value & 0xF) << 4));
      break;
    }
    case 8: row[x] = static_cast<uint8_t>(value); break;
    case 16:
      row[2 * x] = static_cast<uint8_t>(value);
      row[2 * x + 1] = static_cast<uint8_t>(value >> 8);
      break;
    case 24:
      row[3 * x] = static_cast<uint8_t>(value);
      row[3 * x + 1] = static_cast<uint8_t>(value >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(value >> 16);
      break;
    default: std::memcpy(row + 4 * x, &value, 4); break;
  }
}

COLORREF PixelCodec::ToColor(uint32_t value) const {
  if (FBitCount <= 8) {
    if (value >= FColorCount) return 0;
    const RGBQUAD& q = FColors[value];
    return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
  }
  if (FMask[0] | FMask[1] | FMask[2]) {
    return RGB(Widen((value & FMask[0]) >> FShift[0], FBits[0]), Widen((value & FMask[1]) >> FShift[1], FBits[1]),
               Widen((value & FMask[2]) >> FShift[2], FBits[2]));
  }
  return RGB(static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value));
}

NearestColorCache& PixelCodec::Cache() const {
  if (FCache) return *FCache;
  auto& cache = FSurface->nearest;
  const bool sameTable = cache && cache->table.size() == FColorCount &&
                         (FColorCount == 0 || std::memcmp(cache->table.data(), FColors, FColorCount * sizeof(RGBQUAD)) == 0);
  if (!sameTable) {
    if (!cache) cache = std::make_unique<NearestColorCache>();
    cache->table.assign(FColors, FColors + FColorCount);
    cache->keys.assign(4096, 0xFFFFFFFFu);
    cache->values.assign(4096, 0);
  }
  FCache = cache.get();
  return *FCache;
}

uint32_t PixelCodec::FromColor(COLORREF color) const {
  color &= 0xFFFFFF;
  if (FBitCount <= 8) {
    NearestColorCache& cache = Cache();
    size_t slot = (color ^ (color >> 12)) & 4095;
    if (cache.keys[slot] == color) return cache.values[slot];
    uint32_t v = static_cast<uint32_t>(NearestIndex(FColors, FColorCount, color));
    cache.keys[slot] = color;
    cache.values[slot] = static_cast<uint8_t>(v);
    return v;
  }
  if (FMask[0] | FMask[1] | FMask[2]) {
    return ((Narrow(GetRValue(color), FBits[0]) << FShift[0]) & FMask[0]) |
           ((Narrow(GetGValue(color), FBits[1]) << FShift[1]) & FMask[1]) |
           ((Narrow(GetBValue(color), FBits[2]) << FShift[2]) & FMask[2]);
  }
  return (static_cast<uint32_t>(GetRValue(color)) << 16) | (static_cast<uint32_t>(GetGValue(color)) << 8) |
         GetBValue(color);
}

bool ParseDibHeader(const BITMAPINFOHEADER* header, int& width, int& height, bool& topDown, int& bitCount) {
  TDibHeader h;
  // A caller of the drawing calls vouches for the header it passes, as Windows
  // expects; the shared reader then touches only the bytes the header says it has.
  if (!header || ReadDibHeader(reinterpret_cast<const uint8_t*>(header), kTrustedDibBytes, h) != drNone) return false;
  // Drawing takes plain and bit-field pixels only: run-length DIBs are files' business.
  if (h.compression != BI_RGB && h.compression != BI_BITFIELDS) return false;
  width = h.width;
  height = static_cast<int>(std::min<int64_t>(h.Rows(), INT32_MAX));
  topDown = h.TopDown();
  bitCount = h.bitCount;
  if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) return false;
  return h.ImageBytes() <= kMaxBitmapBytes;
}

bool SurfaceFromDib(Surface& s, const BITMAPINFO* info, const void* bits, UINT usage,
                    const std::vector<PALETTEENTRY>* palette) {
  int width, height, bitCount;
  bool topDown;
  if (!info || !ParseDibHeader(&info->bmiHeader, width, height, topDown, bitCount)) return false;
  if (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS) return false;
  s = Surface();
  s.width = width;
  s.height = height;
  s.bitCount = bitCount;
  s.topDown = topDown;
  s.stride = static_cast<size_t>(DibRowBytes(width, bitCount));
  s.bits = static_cast<uint8_t*>(const_cast<void*>(bits));
  SetDefaultMasks(s);
  TDibHeader h;
  ReadDibHeader(reinterpret_cast<const uint8_t*>(info), kTrustedDibBytes, h);
  const uint8_t* table = reinterpret_cast<const uint8_t*>(info) + h.tableOffset;
  const bool core = h.core;
  if (h.bitFields) {
    s.compression = BI_BITFIELDS;
    std::memcpy(s.masks, h.masks, sizeof(s.masks));
    if (!s.masks[0] && !s.masks[1] && !s.masks[2]) SetDefaultMasks(s);
  }
  if (bitCount <= 8) {
    // More colours than the depth indexes are ignored, as GDI ignores them.
    size_t full = h.PaletteSize();
    size_t used = static_cast<size_t>(std::min<uint64_t>(h.tableEntries, full));
    if (used == 0) used = full;
    s.colors.assign(full, RGBQUAD());
    s.colorsUsed = static_cast<UINT>(used);
    for (size_t i = 0; i < used; ++i) {
      if (usage == DIB_PAL_COLORS) {
        WORD index;
        std::memcpy(&index, table + 2 * i, 2);
        if (palette && index < palette->size()) {
          const PALETTEENTRY& e = (*palette)[index];
          s.colors[i] = Quad(e.peRed, e.peGreen, e.peBlue);
        }
      } else if (core) {
        const uint8_t* t = table + 3 * i;
        s.colors[i] = Quad(t[2], t[1], t[0]);
      } else {
        std::memcpy(&s.colors[i], table + 4 * i, 4);
        s.colors[i].rgbReserved = 0;
      }
    }
  }
  return true;
}

bool ConvertSurface(const Surface& src, Surface& dest, int bitCount, const std::vector<RGBQUAD>* colors) {
  Surface out;
  if (!AllocateSurface(out, src.width, src.height, bitCount)) return false;
  if (bitCount <= 8 && colors && !colors->empty()) {
    out.colors = *colors;
    out.colors.resize(size_t{1} << bitCount);
    out.colorsUsed = static_cast<UINT>(std::min(colors->size(), out.colors.size()));
  }
  PixelCodec in(src), to(out);
  bool raw = src.bitCount == bitCount && bitCount > 8 && std::memcmp(src.masks, out.masks, sizeof(out.masks)) == 0;
  for (int y = 0; y < src.height; ++y) {
    const uint8_t* s = src.Row(y);
    uint8_t* d = out.Row(y);
    if (raw) {
      std::memcpy(d, s, out.stride);
      continue;
    }
    for (int x = 0; x < src.width; ++x) to.Write(d, x, to.FromColor(in.ToColor(in.Read(s, x))));
  }
  dest = std::move(out);
  return true;
}

}  // namespace qvgdi
