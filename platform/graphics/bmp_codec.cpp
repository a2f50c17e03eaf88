// BMP reading follows what Windows accepts: core (12-byte) and info (40-byte and
// longer) headers, colour tables of 3- or 4-byte entries, BI_BITFIELDS masks after
// a 40-byte header or inside a longer one, RLE4/RLE8 and top-down rows. Every
// size read from the file is checked against what the stream really holds before
// anything is allocated or read.
#include "platform/graphics/bmp_codec.h"

#include <algorithm>
#include <cstring>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

namespace bmpcodec {
namespace {

// The largest pixel block we build. Uncompressed data is bounded by the file as
// well; RLE data can describe far more pixels than it holds, so it has a lower cap.
constexpr int64_t kMaxDibBytes = int64_t{1} << 30;
constexpr int64_t kMaxRleDibBytes = int64_t{256} << 20;

[[noreturn]] void Invalid(TDibRefusal reason) { throw EBitmapRefused(reason); }
void Check(TDibRefusal reason) {
  if (reason != drNone) Invalid(reason);
}

// Reads exactly count bytes or raises the invalid-bitmap error (a truncated file).
void ReadExact(TStream& s, void* buf, int64_t count, TDibRefusal reason) {
  if (count < 0 || s.Read(buf, count) != count) Invalid(reason);
}

// What a BMP takes beyond what every DIB must be: a width and height, RLE rows
// only bottom-up, sound masks, at most 256 colours, and a size we agree to hold.
void CheckBmpRules(const TDibHeader& h) {
  if (h.width <= 0) Invalid(drWidth);
  if (h.height == 0) Invalid(drHeight);
  if ((h.compression == BI_RLE8 || h.compression == BI_RLE4) && h.TopDown()) Invalid(drCompression);
  if (h.ImageBytes() > kMaxDibBytes) Invalid(drTooLarge);
  if (h.bitFields) Check(CheckDibMasks(h));
  if (h.bitCount <= 8 && h.clrUsed > 256) Invalid(drColourCount);
}

// Expands RLE8 or RLE4 data into bottom-up rows. Pixels never written stay 0.
// A run that would leave its row is cut at the row's end; moving below the last
// row, or a truncated escape, is a broken file.
void DecodeRle(const std::vector<uint8_t>& src, Dib& dib, bool rle4) {
  const int64_t rowBytes = dib.RowBytes();
  int64_t x = 0, y = 0;  // y counts rows from the bottom
  size_t i = 0;
  auto put = [&](int index) {
    if (x < dib.width) {
      uint8_t* row = dib.bits.data() + y * rowBytes;
      if (rle4) {
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (index & 0x0F)) : static_cast<uint8_t>((b & 0x0F) | (index << 4));
      } else {
        row[x] = static_cast<uint8_t>(index);
      }
    }
    ++x;
  };
  while (i + 1 < src.size()) {
    const uint8_t count = src[i];
    const uint8_t value = src[i + 1];
    i += 2;
    if (count > 0) {
      if (y >= dib.height) Invalid(drRleData);
      for (int k = 0; k < count; ++k) put(rle4 ? ((k & 1) ? value & 0x0F : value >> 4) : value);
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        return;
      case 2: {  // delta
        if (i + 2 > src.size()) Invalid(drRleData);
        x += src[i];
        y += src[i + 1];
        i += 2;
        if (x > dib.width || (y >= dib.height && !(y == dib.height && x == 0))) Invalid(drRleData);
        break;
      }
      default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
        const size_t bytes = rle4 ? (value + 1u) / 2u : value;
        if (i + bytes > src.size() || y >= dib.height) Invalid(drRleData);
        for (int k = 0; k < value; ++k) {
          const uint8_t b = src[i + (rle4 ? k / 2 : k)];
          put(rle4 ? ((k & 1) ? b & 0x0F : b >> 4) : b);
        }
        i += (bytes + 1) & ~size_t{1};
        break;
      }
    }
  }
}

// Run-length rows, expanded into a picture the size the header gives; the data
// runs to the header's image size or the end of the stream.
void ReadRlePixels(TStream& s, const TDibHeader& h, int64_t available, Dib& dib) {
  const int64_t imageBytes = dib.RowBytes() * dib.height;
  if (imageBytes > kMaxRleDibBytes) Invalid(drTooLarge);
  const int64_t dataSize = h.sizeImage != 0 ? h.sizeImage : available;
  if (dataSize > available) Invalid(drPixelsCutShort);
  std::vector<uint8_t> data(static_cast<size_t>(dataSize));
  ReadExact(s, data.data(), dataSize, drPixelsCutShort);
  dib.bits.assign(static_cast<size_t>(imageBytes), 0);
  DecodeRle(data, dib, h.compression == BI_RLE4);
}

// Plain rows, stored bottom-up as they are, or turned over when the file keeps them top-down.
void ReadPlainPixels(TStream& s, bool topDown, int64_t available, Dib& dib) {
  const int64_t rowBytes = dib.RowBytes();
  const int64_t imageBytes = rowBytes * dib.height;
  if (imageBytes > available) Invalid(drPixelsCutShort);
  dib.bits.resize(static_cast<size_t>(imageBytes));
  if (!topDown) {
    ReadExact(s, dib.bits.data(), imageBytes, drPixelsCutShort);
    return;
  }
  for (int y = 0; y < dib.height; ++y) ReadExact(s, dib.Row(y), rowBytes, drPixelsCutShort);
}

// An empty picture of the header's size and format; the rows come later.
Dib DibOfHeader(const TDibHeader& h) {
  Dib dib;
  dib.width = h.width;
  dib.height = static_cast<int>(h.Rows());
  dib.bitCount = h.bitCount;
  dib.xPelsPerMeter = h.xPelsPerMeter;
  dib.yPelsPerMeter = h.yPelsPerMeter;
  dib.sourceHeaderSize = h.size;
  if (h.bitFields) {
    dib.compression = BI_BITFIELDS;
    std::copy(h.masks, h.masks + 4, dib.masks);
  }
  return dib;
}

// Where the rows start: where the file header says, unless that points into
// the headers (some writers leave it 0); then right after the colour table.
// Deeper formats may carry a palette for display on 8-bit screens; it is skipped.
int64_t PixelStart(const TDibHeader& h, int64_t headerStart, int64_t fileStart, DWORD offBits, int64_t streamSize) {
  int64_t bitsPos = headerStart + static_cast<int64_t>(h.BitsOffset());
  if (fileStart >= 0 && offBits != 0) {
    const int64_t declared = fileStart + offBits;
    if (declared > streamSize) Invalid(drPixelOffset);
    if (declared >= bitsPos) bitsPos = declared;
  }
  if (bitsPos > streamSize) Invalid(drPixelsCutShort);
  return bitsPos;
}

// The header, its rules and the colour table of a DIB in memory, into dib
// (without rows). Colour table: the entries the header asks for, all of them
// when it says 0; entries past what the depth indexes are read over, not kept.
TDibHeader ReadHead(const uint8_t* data, size_t size, Dib& dib) {
  TDibHeader h;
  Check(ReadDibHeader(data, size, h));
  CheckBmpRules(h);
  dib = DibOfHeader(h);
  if (h.bitCount <= 8) {
    Check(ReadDibColours(data, size, h, static_cast<size_t>(h.tableEntries), dib.colors));
    dib.colors.resize(std::min<size_t>(dib.colors.size(), h.PaletteSize()));
  }
  return h;
}

// Reads a DIB whose info header starts at the stream's position. fileStart is the
// position of the BMP file header (-1 for a packed DIB) and offBits its pixel offset.
Dib ReadDibBody(TStream& s, int64_t fileStart, DWORD offBits) {
  const int64_t streamSize = s.Size();
  const int64_t headerStart = s.Position();
  // The header, masks and a full colour table fit in this prefix; what the
  // prefix lacks, the stream lacks too.
  uint8_t prefix[kDibPrefixBytes];
  const int64_t got = s.Read(prefix, std::min<int64_t>(sizeof prefix, std::max<int64_t>(streamSize - headerStart, 0)));
  Dib dib;
  const TDibHeader h = ReadHead(prefix, static_cast<size_t>(got), dib);

  const int64_t bitsPos = PixelStart(h, headerStart, fileStart, offBits, streamSize);
  s.SetPosition(bitsPos);
  const int64_t available = streamSize - bitsPos;
  if (h.compression == BI_RLE8 || h.compression == BI_RLE4) {
    ReadRlePixels(s, h, available, dib);
  } else {
    ReadPlainPixels(s, h.TopDown(), available, dib);
  }
  return dib;
}

}  // namespace

int MaskShift(DWORD mask) {
  if (mask == 0) return 0;
  int n = 0;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++n;
  }
  return n;
}

int MaskBits(DWORD mask) {
  mask >>= MaskShift(mask);
  int n = 0;
  while (mask & 1u) {
    mask >>= 1;
    ++n;
  }
  return n;
}

DibView Dib::View() const {
  DibView v;
  v.width = width;
  v.height = height;
  v.bitCount = bitCount;
  v.compression = compression;
  std::copy(masks, masks + 4, v.masks);
  v.colors = colors.data();
  v.colorCount = static_cast<int>(colors.size());
  v.bits = const_cast<uint8_t*>(bits.data());
  return v;
}

void Dib::EffectiveMasks(DWORD out[4]) const { View().EffectiveMasks(out); }

void DibView::EffectiveMasks(DWORD out[4]) const {
  if (compression == BI_BITFIELDS) {
    std::copy(masks, masks + 4, out);
  } else if (bitCount == 16) {
    out[0] = 0x7C00, out[1] = 0x03E0, out[2] = 0x001F, out[3] = 0;
  } else {
    out[0] = 0xFF0000, out[1] = 0xFF00, out[2] = 0xFF, out[3] = 0;
  }
}

BITMAPINFOHEADER Dib::InfoHeader() const {
  BITMAPINFOHEADER h;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = static_cast<WORD>(bitCount);
  h.biCompression = compression;
  h.biSizeImage = static_cast<DWORD>(RowBytes() * height);
  h.biXPelsPerMeter = xPelsPerMeter;
  h.biYPelsPerMeter = yPelsPerMeter;
  const size_t full = bitCount <= 8 ? size_t{1} << bitCount : 0;
  h.biClrUsed = bitCount <= 8 && colors.size() < full ? static_cast<DWORD>(colors.size()) : 0;
  return h;
}

Dib ReadBmp(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t fh[14];
  ReadExact(stream, fh, sizeof fh, drHeaderCutShort);
  if (fh[0] != 'B' || fh[1] != 'M') Invalid(drNotBitmap);
  return ReadDibBody(stream, start, ReadLE32(fh + 10));
}

Dib ReadDibHead(const void* data, size_t size) {
  Dib dib;
  ReadHead(static_cast<const uint8_t*>(data), size, dib);
  return dib;
}

Dib ReadPackedDib(const void* data, size_t size) {
  TCustomMemoryStream s(data, static_cast<int64_t>(size));
  return ReadDibBody(s, -1, 0);
}

namespace {

void WriteInfo(TStream& s, const Dib& dib) {
  BITMAPINFOHEADER h = dib.InfoHeader();
  s.WriteBuffer(&h, sizeof h);
  if (dib.compression == BI_BITFIELDS) s.WriteBuffer(dib.masks, 12);
  if (dib.bitCount <= 8) {
    for (const RGBQUAD& c : dib.colors) {
      RGBQUAD q = c;
      q.rgbReserved = 0;
      s.WriteBuffer(&q, sizeof q);
    }
  }
}

int64_t InfoSize(const Dib& dib) {
  return 40 + (dib.compression == BI_BITFIELDS ? 12 : 0) +
         (dib.bitCount <= 8 ? static_cast<int64_t>(dib.colors.size()) * 4 : 0);
}

}  // namespace

void WriteBmp(TStream& stream, const Dib& dib) {
  const int64_t info = InfoSize(dib);
  const int64_t image = dib.RowBytes() * dib.height;
  BITMAPFILEHEADER fh;
  fh.bfOffBits = static_cast<DWORD>(14 + info);
  fh.bfSize = static_cast<DWORD>(14 + info + image);
  stream.WriteBuffer(&fh, sizeof fh);
  WriteInfo(stream, dib);
  stream.WriteBuffer(dib.bits.data(), image);
}

std::vector<uint8_t> PackDib(const Dib& dib) {
  TMemoryStream s;
  WriteInfo(s, dib);
  s.WriteBuffer(dib.bits.data(), dib.RowBytes() * dib.height);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

namespace {

uint8_t Widen(uint32_t value, int bits) {
  if (bits <= 0) return 0;
  if (bits >= 8) return static_cast<uint8_t>(value >> (bits - 8));
  // Repeat the top bits so that the full channel maps to 255.
  uint32_t v = value << (8 - bits);
  for (int have = bits; have < 8; have += bits) v |= v >> bits;
  return static_cast<uint8_t>(v);
}

}  // namespace

Rgba PixelAt(const DibView& dib, int x, int yFromTop) {
  Rgba out;
  if (x < 0 || yFromTop < 0 || x >= dib.width || yFromTop >= dib.height) return out;
  const uint8_t* row = dib.Row(yFromTop);
  if (dib.bitCount <= 8) {
    int index = 0;
    switch (dib.bitCount) {
      case 1: index = (row[x >> 3] >> (7 - (x & 7))) & 1; break;
      case 4: index = (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4; break;
      default: index = row[x]; break;
    }
    if (index < dib.colorCount) {
      out.r = dib.colors[index].rgbRed;
      out.g = dib.colors[index].rgbGreen;
      out.b = dib.colors[index].rgbBlue;
    } else {
      out.r = out.g = out.b = 0;
    }
    return out;
  }
  if (dib.bitCount == 24) {
    out.b = row[x * 3], out.g = row[x * 3 + 1], out.r = row[x * 3 + 2];
    return out;
  }
  if (dib.bitCount == 32 && dib.compression == BI_RGB) {
    const uint8_t* p = row + x * 4;
    out.b = p[0], out.g = p[1], out.r = p[2], out.a = p[3];
    return out;
  }
  const uint32_t raw = dib.bitCount == 16 ? ReadLE16(row + x * 2) : ReadLE32(row + x * 4);
  DWORD m[4];
  dib.EffectiveMasks(m);
  uint8_t* channels[4] = {&out.r, &out.g, &out.b, &out.a};
  for (int c = 0; c < 4; ++c) {
    if (m[c] == 0) continue;
    *channels[c] = Widen((raw & m[c]) >> MaskShift(m[c]), MaskBits(m[c]));
  }
  return out;
}

int NearestColorIndex(const RGBQUAD* colors, int count, uint8_t r, uint8_t g, uint8_t b) {
  int best = 0;
  int bestDistance = INT32_MAX;
  for (int i = 0; i < count; ++i) {
    const int dr = colors[i].rgbRed - r, dg = colors[i].rgbGreen - g, db = colors[i].rgbBlue - b;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
      if (d == 0) break;
    }
  }
  return best;
}

void StorePixel(const DibView& dib, int x, int yFromTop, Rgba c) {
  if (x < 0 || yFromTop < 0 || x >= dib.width || yFromTop >= dib.height) return;
  uint8_t* row = dib.Row(yFromTop);
  switch (dib.bitCount) {
    case 1: {
      const int i = NearestColorIndex(dib.colors, dib.colorCount, c.r, c.g, c.b) & 1;
      uint8_t& byte = row[x >> 3];
      const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
      byte = i ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
      return;
    }
    case 4: {
      const int i = NearestColorIndex(dib.colors, dib.colorCount, c.r, c.g, c.b) & 15;
      uint8_t& byte = row[x >> 1];
      byte = (x & 1) ? static_cast<uint8_t>((byte & 0xF0) | i) : static_cast<uint8_t>((byte & 0x0F) | (i << 4));
      return;
    }
    case 8:
      row[x] = static_cast<uint8_t>(NearestColorIndex(dib.colors, dib.colorCount, c.r, c.g, c.b));
      return;
    case 24:
      row[x * 3] = c.b, row[x * 3 + 1] = c.g, row[x * 3 + 2] = c.r;
      return;
    default:
      break;
  }
  if (dib.bitCount == 32 && dib.compression == BI_RGB) {
    uint8_t* p = row + x * 4;
    p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = c.a;
    return;
  }
  DWORD m[4];
  dib.EffectiveMasks(m);
  const uint8_t channels[4] = {c.r, c.g, c.b, c.a};
  uint32_t raw = 0;
  for (int ch = 0; ch < 4; ++ch) {
    if (m[ch] == 0) continue;
    const int bits = MaskBits(m[ch]);
    const uint32_t v = bits >= 8 ? static_cast<uint32_t>(channels[ch]) << (bits - 8) : channels[ch] >> (8 - bits);
    raw |= (v << MaskShift(m[ch])) & m[ch];
  }
  uint8_t* p = row + x * (dib.bitCount / 8);
  p[0] = static_cast<uint8_t>(raw);
  p[1] = static_cast<uint8_t>(raw >> 8);
  if (dib.bitCount == 32) {
    p[2] = static_cast<uint8_t>(raw >> 16);
    p[3] = static_cast<uint8_t>(raw >> 24);
  }
}

}  // namespace bmpcodec
