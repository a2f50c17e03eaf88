#include "platform/graphics/dib_header.h"

#include "platform/graphics/dib_channel.h"

#include <bit>

#include "platform/rtl/byte_order.h"

const char* DibRefusalName(TDibRefusal reason) {
  switch (reason) {
    case drNone: return "sound";
    case drHeaderCutShort: return "header cut short";
    case drHeaderSize: return "header length unknown";
    case drPlanes: return "planes other than 1";
    case drWidth: return "width refused";
    case drHeight: return "height refused";
    case drDepth: return "depth refused";
    case drCompression: return "compression refused";
    case drMasks: return "bit-field masks broken";
    case drColourCount: return "too many colours";
    case drTableCutShort: return "colour table cut short";
    case drTooLarge: return "picture too large";
    case drPixelsCutShort: return "pixels cut short";
    case drRleData: return "run-length data broken";
    case drNotBitmap: return "no bitmap signature";
    case drPixelOffset: return "pixel offset past the end";
  }
  return "unknown";
}

namespace {

bool KnownDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

bool CompressionFits(DWORD compression, int bits) {
  switch (compression) {
    case BI_RGB: return true;
    case BI_RLE8: return bits == 8;
    case BI_RLE4: return bits == 4;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS: return bits == 16 || bits == 32;
    default: return false;
  }
}

bool Contiguous(DWORD mask) {
  if (mask == 0) return true;
  const DWORD shifted = mask >> std::countr_zero(mask);
  return (shifted & (shifted + 1)) == 0;
}

}  // namespace

TDibRefusal ReadDibHeader(const uint8_t* data, size_t size, TDibHeader& out) {
  TDibHeader h;
  if (!data || size < 4) return drHeaderCutShort;
  h.size = ReadLE32(data);
  if (h.size == 12) {
    if (size < 12) return drHeaderCutShort;
    h.core = true;
    h.entryBytes = 3;
    h.width = ReadLE16(data + 4);
    h.height = ReadLE16(data + 6);
    h.planes = ReadLE16(data + 8);
    h.bitCount = ReadLE16(data + 10);
  } else {
    // 40 (info), 52 and 56 (with masks), 64 (OS/2 2.x, info layout first), 108 (V4), 124 (V5).
    if (h.size < 40 || h.size > 124) return drHeaderSize;
    if (size < h.size) return drHeaderCutShort;
    h.width = ReadLEI32(data + 4);
    h.height = ReadLEI32(data + 8);
    h.planes = ReadLE16(data + 12);
    h.bitCount = ReadLE16(data + 14);
    h.compression = ReadLE32(data + 16);
    h.sizeImage = ReadLE32(data + 20);
    h.xPelsPerMeter = ReadLEI32(data + 24);
    h.yPelsPerMeter = ReadLEI32(data + 28);
    h.clrUsed = ReadLE32(data + 32);
  }
  if (h.planes != 1) return drPlanes;
  if (h.width < 0) return drWidth;
  if (h.height == INT32_MIN) return drHeight;
  if (!CompressionFits(h.compression, h.bitCount)) return KnownDepth(h.bitCount) ? drCompression : drDepth;
  if (!KnownDepth(h.bitCount)) return drDepth;
  h.tableOffset = h.size;
  h.bitFields = h.compression == BI_BITFIELDS || h.compression == BI_ALPHABITFIELDS;
  if (h.bitFields) {
    // Longer headers hold the masks themselves; after a 40-byte (or OS/2) header
    // three or four of them follow it.
    const uint8_t* at = data + 40;
    int count = h.compression == BI_ALPHABITFIELDS ? 4 : 3;
    if (h.size < 52 || h.size == 64) {
      if (size - h.size < static_cast<size_t>(count) * 4) return drHeaderCutShort;
      at = data + h.size;
      h.tableOffset += static_cast<uint32_t>(count) * 4;
    } else {
      count = h.size >= 56 ? 4 : 3;
    }
    for (int k = 0; k < count; ++k) h.masks[k] = ReadLE32(at + 4 * k);
  }
  h.tableEntries = h.clrUsed != 0 || h.bitCount > 8 ? h.clrUsed : h.PaletteSize();
  if (h.core) h.tableEntries = h.PaletteSize();
  out = h;
  return drNone;
}

TDibRefusal CheckDibMasks(const TDibHeader& h) {
  const DWORD limit = h.bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
  DWORD seen = 0;
  for (DWORD mask : h.masks) {
    if ((mask & ~limit) || !Contiguous(mask) || (seen & mask)) return drMasks;
    seen |= mask;
  }
  if (h.masks[0] == 0 && h.masks[1] == 0 && h.masks[2] == 0) return drMasks;
  return drNone;
}

TDibRefusal ReadDibColours(const uint8_t* data, size_t size, const TDibHeader& h, size_t count,
                           std::vector<RGBQUAD>& colours) {
  const uint64_t bytes = static_cast<uint64_t>(count) * static_cast<uint64_t>(h.entryBytes);
  if (h.tableOffset > size || bytes > size - h.tableOffset) return drTableCutShort;
  colours.assign(count, RGBQUAD{});
  const uint8_t* e = data + h.tableOffset;
  for (size_t k = 0; k < count; ++k, e += h.entryBytes) {
    colours[k].rgbBlue = e[0];
    colours[k].rgbGreen = e[1];
    colours[k].rgbRed = e[2];
  }
  return drNone;
}

BYTE WidenMaskedChannel(uint32_t value, int bits) {
  if (bits <= 0) return 0;
  if (bits >= 8) return static_cast<BYTE>(value >> (bits - 8));
  uint32_t out = 0;
  int filled = 0;
  while (filled < 8) {
    out = (out << bits) | value;
    filled += bits;
  }
  return static_cast<BYTE>(out >> (filled - 8));
}
