#include "imaging/formats/bmp_filter.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>

#include "imaging/core/ie_bilevel.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_quantizer.h"
#include "imaging/core/ie_streams.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "platform/graphics/dib_channel.h"
#include "platform/graphics/dib_types.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/byte_order.h"

namespace {

constexpr const char* kHeaderCut = "the header is cut short";
constexpr const char* kTableCut = "the colour table is cut short";

int64_t RowBytes(int width, int bits) { return ((int64_t(width) * bits + 31) >> 5) << 2; }

int DpiFromPelsPerMeter(int32_t ppm, int32_t fallback) {
  const int64_t dpi = Round(ppm / 100.0 * 2.54);
  return dpi == 0 ? fallback : static_cast<int>(std::clamp<int64_t>(dpi, INT32_MIN, INT32_MAX));
}

// A palette index past the declared colours reads as black.
TRGB PaletteAt(const std::vector<TRGB>& palette, unsigned index) {
  return index < palette.size() ? palette[index] : TRGB{};
}

// One channel of a bit-field pixel: the masked bits moved down to bit 0 and
// scaled to eight bits so that a full channel reads 255.
struct TBitField {
  uint32_t mask = 0;
  int shift = 0;
  int width = 0;
  explicit TBitField(uint32_t m) : mask(m) {
    if (m == 0) return;
    shift = std::countr_zero(m);
    width = MaskBitWidth(m);
  }
  uint8_t Get(uint32_t p) const {
    if (mask == 0) return 0;
    const uint32_t v = (p & mask) >> shift;
    return ScaleMaskedChannel(v, width);
  }
};

// Decoder state shared by the RLE4 and RLE8 readers.
class TRleDecoder {
public:
  TRleDecoder(TIEBitmap& bitmap, const std::vector<TRGB>& palette, TProgressRecord& progress, int topRow,
              bool indexed, bool fourBits)
      : FBitmap(bitmap), FPalette(palette), FProgress(progress), FTop(topRow), FIndexed(indexed),
        FFourBits(fourBits), FWidth(bitmap.Width()), FHeight(bitmap.Height()) {}

  void Run(const uint8_t* data, int64_t size) {
    if (FWidth <= 0 || FHeight <= 0) return;
    FRow = FHeight - 1;
    FX = 0;
    int64_t i = 0;
    int lastPer = -1;
    while (i + 2 <= size) {
      const uint8_t n = data[i], v = data[i + 1];
      i += 2;
      if (n > 0) {
        for (int k = 0; k < n; ++k) Put(FFourBits ? ((k & 1) ? v & 0x0F : v >> 4) : v);
        continue;
      }
      if (v == 0) {  // end of line
        if (--FRow < 0) return;
        FX = 0;
        const int per = static_cast<int>((FHeight - FRow) * FProgress.Step);
        if (per != lastPer) {
          lastPer = per;
          FProgress.Report(per);
        }
        if (FProgress.Aborted()) return;
      } else if (v == 1) {  // end of bitmap
        return;
      } else if (v == 2) {  // delta
        if (i + 2 > size) return;
        const int dx = data[i], dy = data[i + 1];
        i += 2;
        if (FX + dx > FWidth || FRow - dy < 0) return;
        FX += dx;
        FRow -= dy;
      } else {  // absolute run of v pixels
        const int64_t bytes = FFourBits ? (v + 1) / 2 : v;
        if (i + bytes > size) return;
        for (int k = 0; k < v; ++k) {
          const uint8_t b = data[i + (FFourBits ? k / 2 : k)];
          Put(FFourBits ? ((k & 1) ? b & 0x0F : b >> 4) : b);
        }
        i += bytes + (bytes & 1);
      }
    }
  }

private:
  // RLE8 pixels past the right edge land on the row's last pixel; RLE4 drops them.
  void Put(unsigned index) {
    int x = FX;
    if (x >= FWidth) {
      if (FFourBits) return;
      x = FWidth - 1;
    } else {
      ++FX;
    }
    // One row look-up per row, not per pixel: a file-backed bitmap maps its
    // row from disk on every look-up, which made long runs crawl.
    if (FRow != FLineRow) {
      FLine = FBitmap.ScanLine(std::abs(FTop - FRow));
      FLineRow = FRow;
    }
    if (FIndexed) {
      FLine[x] = static_cast<uint8_t>(index);
    } else {
      const TRGB c = PaletteAt(FPalette, index);
      std::memcpy(FLine + 3 * int64_t(x), &c, 3);
    }
  }

  TIEBitmap& FBitmap;
  const std::vector<TRGB>& FPalette;
  TProgressRecord& FProgress;
  int FTop;
  bool FIndexed, FFourBits;
  int FWidth, FHeight;
  int FRow = 0, FX = 0;
  int FLineRow = -1;
  uint8_t* FLine = nullptr;
};

bool ReadAll(TStream& s, void* buffer, int64_t count) { return s.Read(buffer, count) == count; }


void ReadBMPBody(TStream& stream, TIEBitmap& bitmap, int64_t bmpSize, TIOParamsVals& params,
                 TProgressRecord& progress, bool paramsOnly, bool noFileHeader, TIEMaskOut& alphaMask,
                 bool ignoreAlpha) {
  const int64_t start = stream.Position();
  const int64_t available = stream.Size() - start;
  BITMAPFILEHEADER fh;
  if (noFileHeader || params.HeaderlessImage) {
    fh.bfSize = static_cast<DWORD>(std::min<int64_t>(stream.Size(), UINT32_MAX));
    fh.bfOffBits = 0;
  } else {
    uint8_t raw[14];
    if (!ReadAll(stream, raw, 14)) return progress.Refuse(kHeaderCut);
    if (ReadLE16(raw) != 0x4D42) return progress.Refuse("no BM signature");
    fh.bfSize = ReadLE32(raw + 2);
    fh.bfOffBits = ReadLE32(raw + 10);
  }
  if (fh.bfSize != 0 && bmpSize <= 0) bmpSize = fh.bfSize;
  if (fh.bfOffBits > available) return progress.Refuse("the pixel offset lies past the end");

  uint8_t sizeRaw[4];
  if (!ReadAll(stream, sizeRaw, 4)) return progress.Refuse(kHeaderCut);
  stream.Seek(-4, soCurrent);
  const uint32_t headerSize = ReadLE32(sizeRaw);
  if (headerSize > stream.Size() - stream.Position()) return progress.Refuse("a header size outside the data");
  params.FreePalette();

  int width = 0, height = 0, bitCount = 0;
  uint32_t compression = 0, imageSize = 0;
  bool topDown = false;
  uint32_t masks[3] = {0, 0, 0};
  uint32_t alphaBits = 0;  // the alpha mask of headers of 56 bytes and more; 0: the fourth byte
  bool masksInHeader = false;
  std::vector<TRGB> palette;
  if (headerSize == 12) {
    uint8_t h[12];
    if (!ReadAll(stream, h, 12)) return progress.Refuse(kHeaderCut);
    params.BmpVersion = 2;
    width = ReadLE16(h + 4);
    height = ReadLE16(h + 6);
    bitCount = ReadLE16(h + 10);
    params.SetDpiX(gDefaultDPIX);
    params.SetDpiY(gDefaultDPIY);
    if (bitCount <= 8) {
      const int n = 1 << bitCount;
      std::vector<uint8_t> raw(static_cast<size_t>(3 * n));
      if (!ReadAll(stream, raw.data(), 3 * n)) return progress.Refuse(kTableCut);
      for (int k = 0; k < n; ++k) palette.push_back(TRGB{raw[3 * k], raw[3 * k + 1], raw[3 * k + 2]});
    }
  } else {
    uint8_t h[64] = {};
    const uint32_t take = std::min<uint32_t>(64, headerSize);
    if (!ReadAll(stream, h, take)) return progress.Refuse(kHeaderCut);
    if (headerSize > 64) stream.Seek(headerSize - 64, soCurrent);
    params.BmpVersion = headerSize == 64 ? 3 : headerSize == 40 ? 1 : 0;
    width = static_cast<int32_t>(ReadLE32(h + 4));
    const int32_t rawHeight = static_cast<int32_t>(ReadLE32(h + 8));
    // A negative width, or a height whose magnitude does not fit, is no picture.
    if (width < 0 || rawHeight == INT32_MIN) return progress.Refuse("a negative width or a height of INT32_MIN");
    topDown = rawHeight < 0;
    height = topDown ? -rawHeight : rawHeight;
    bitCount = ReadLE16(h + 14);
    compression = ReadLE32(h + 16);
    imageSize = ReadLE32(h + 20);
    params.SetDpiX(DpiFromPelsPerMeter(static_cast<int32_t>(ReadLE32(h + 24)), gDefaultDPIX));
    params.SetDpiY(DpiFromPelsPerMeter(static_cast<int32_t>(ReadLE32(h + 28)), gDefaultDPIY));
    uint32_t colors = ReadLE32(h + 32);
    if (colors > 256) colors = 0;
    if (colors == 0 && bitCount <= 8) colors = 1u << bitCount;
    // Headers of 52 bytes and more (but the 64-byte one, whose tail means
    // something else) carry the bit-field masks themselves.
    if (headerSize >= 52 && headerSize != 64) {
      masks[0] = ReadLE32(h + 40);
      masks[1] = ReadLE32(h + 44);
      masks[2] = ReadLE32(h + 48);
      if (headerSize >= 56) alphaBits = ReadLE32(h + 52);
      masksInHeader = true;
    }
    if (colors != 0 && bitCount <= 8) {
      std::vector<uint8_t> raw(4 * size_t(colors));
      if (!ReadAll(stream, raw.data(), 4 * int64_t(colors))) return progress.Refuse(kTableCut);
      for (uint32_t k = 0; k < colors; ++k) palette.push_back(TRGB{raw[4 * k], raw[4 * k + 1], raw[4 * k + 2]});
    }
    if (compression == 3 && !masksInHeader) {
      uint8_t m[12];
      if (!ReadAll(stream, m, 12)) return progress.Refuse("the bit-field masks are cut short");
      masks[0] = ReadLE32(m);
      masks[1] = ReadLE32(m + 4);
      masks[2] = ReadLE32(m + 8);
    }
  }
  params.Palette = palette;
  params.PaletteCount = static_cast<int32_t>(palette.size());
  params.SetImageCount(1);
  if (compression == 0 || compression == 3) params.BmpCompression = 0;
  else if (compression == 1 || compression == 2) params.BmpCompression = 1;
  params.Width = params.StoredWidth = width;
  params.Height = params.StoredHeight = height;
  switch (bitCount) {
    case 1: params.BitsPerSample = 1, params.SamplesPerPixel = 1; break;
    case 4: params.BitsPerSample = 4, params.SamplesPerPixel = 1; break;
    case 8: params.BitsPerSample = 8, params.SamplesPerPixel = 1; break;
    case 16: params.BitsPerSample = 5, params.SamplesPerPixel = 3; break;
    case 24: params.BitsPerSample = 8, params.SamplesPerPixel = 3; break;
    case 32: params.BitsPerSample = 8, params.SamplesPerPixel = 4; break;
    default: break;
  }

  if (fh.bfOffBits != 0) stream.SetPosition(start + fh.bfOffBits);
  const int64_t dataStart = stream.Position();
  const int64_t remaining = stream.Size() - dataStart;
  const int64_t dataSize = bmpSize > 0 ? bmpSize - (dataStart - start) : imageSize;

  if (width == 0 || height == 0) paramsOnly = true;
  if (paramsOnly) return;

  const bool native = params.NativePixelFormat;
  const int64_t rowLen = RowBytes(width, bitCount);
  const bool rle = (bitCount == 8 && compression == 1) || (bitCount == 4 && compression == 2);
  if (rle) {
    if (dataSize < 0 || dataSize > remaining) return progress.Refuse("the run-length data runs past the end");
    if (!PictureFitsData(width, height, dataSize, kRatioRle8, progress)) return;
  } else if (bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 ||
             bitCount == 32) {
    // Rows of palette depths are plain, 16-bit ones plain or bit fields: any
    // other compression has no decoder here, and reading nothing is no success.
    if ((bitCount <= 8 && compression != 0) || (bitCount == 16 && compression != 0 && compression != 3))
      return progress.Refuse("a compression the depth does not have");
    // The last row may lack its padding; anything shorter is not this picture.
    const int64_t lastRow = (int64_t(width) * bitCount + 7) / 8;
    if (height > 0 && (remaining - lastRow) / rowLen < height - 1) return progress.Refuse(kRefusedUnfilled);
    if (remaining < lastRow) return progress.Refuse(kRefusedUnfilled);
  } else {
    // No row decoder exists for this depth: nothing could be read, and a claimed
    // row length of that depth must not size a buffer.
    return progress.Refuse("a depth that is not read");
  }

  TIEBitmapFormat format = ie24RGB;
  if (bitCount == 1) format = ie1g;
  else if ((bitCount == 4 || bitCount == 8) && native) format = ie8p;
  if (!bitmap.Allocate(width, height, format)) return progress.Refuse(kRefusedNoMemory);
  progress.Step = 100.0 / height;
  if (format == ie8p) {
    bitmap.SetPaletteColorCount(bitCount == 4 ? 16 : 256);
    for (size_t k = 0; k < palette.size() && k < 256; ++k) bitmap.SetPaletteColor(int(k), palette[k]);
  }

  const int top = topDown ? height - 1 : 0;
  auto destRow = [&](int r) { return bitmap.ScanLine(std::abs(top - r)); };
  TFilterRowProgress rp{progress};
  std::vector<uint8_t> row(static_cast<size_t>(rowLen + 32));
  // Reads one file row; a missing tail of the very last row reads as zeros.
  auto readRow = [&]() {
    const int64_t got = std::max<int64_t>(0, stream.Read(row.data(), rowLen));
    std::memset(row.data() + got, 0, static_cast<size_t>(rowLen - got));
  };

  if (rle) {
    std::vector<uint8_t> data(static_cast<size_t>(dataSize));
    if (!ReadAll(stream, data.data(), dataSize)) return progress.Refuse(kRefusedStreamFailed);
    if (bitCount == 8) {
      if (native) DecodeBMPRLE8Indexed(bitmap, data.data(), dataSize, palette, progress, top);
      else DecodeBMPRLE8(bitmap, data.data(), dataSize, palette, progress, top);
    } else {
      if (native) DecodeBMPRLE4Indexed(bitmap, data.data(), dataSize, palette, progress, top);
      else DecodeBMPRLE4(bitmap, data.data(), dataSize, palette, progress, top);
    }
    return;
  }

  switch (bitCount) {
    case 1: {
      if (compression != 0) return;
      const size_t bytes = static_cast<size_t>((width + 7) / 8);
      for (int r = height - 1; r >= 0 && !progress.Aborted(); --r) {
        rp.Row(height - 1 - r);
        readRow();
        std::memcpy(destRow(r), row.data(), bytes);
      }
      if (palette.size() == 2 && palette[0] == MakeRGB(255, 255, 255) && palette[1] == MakeRGB(0, 0, 0))
        InvertBitmap(bitmap);
      break;
    }
    case 4:
    case 8: {
      if (compression != 0) return;
      for (int r = height - 1; r >= 0 && !progress.Aborted(); --r) {
        rp.Row(height - 1 - r);
        readRow();
        uint8_t* d = destRow(r);
        for (int x = 0; x < width; ++x) {
          const uint8_t index = bitCount == 8 ? row[x] : ((x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4);
          if (native) {
            d[x] = index;
          } else {
            const TRGB c = PaletteAt(palette, index);
            std::memcpy(d + 3 * int64_t(x), &c, 3);
          }
        }
      }
      break;
    }
    case 16: {
      if (compression == 0) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
      } else if (compression != 3) {
        return;
      }
      const TBitField fr(masks[0]), fg(masks[1]), fb(masks[2]);
      for (int r = height - 1; r >= 0 && !progress.Aborted(); --r) {
        rp.Row(height - 1 - r);
        readRow();
        uint8_t* d = destRow(r);
        for (int x = 0; x < width; ++x) {
          const uint32_t p = ReadLE16(row.data() + 2 * x);
          d[3 * x] = fb.Get(p);
          d[3 * x + 1] = fg.Get(p);
          d[3 * x + 2] = fr.Get(p);
        }
      }
      break;
    }
    case 24:
      for (int r = height - 1; r >= 0 && !progress.Aborted(); --r) {
        rp.Row(height - 1 - r);
        readRow();
        std::memcpy(destRow(r), row.data(), size_t(width) * 3);
      }
      break;
    case 32: {
      const bool fields = compression == 3 && !(masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF);
      const TBitField fr(masks[0]), fg(masks[1]), fb(masks[2]);
      // A header's own alpha mask says where alpha is (gdk-pixbuf's
      // mandatory-bitmasks.bmp keeps it in the low byte).
      const TBitField fa(fields ? alphaBits : 0);
      std::unique_ptr<TIEMask> mask;
      if (!ignoreAlpha) {
        mask = alphaMask ? std::move(alphaMask) : std::make_unique<TIEMask>();
        mask->Allocate(width, height, 8);
        mask->Fill(255);
      }
      bool allZero = true, allOpaque = true;
      for (int r = height - 1; r >= 0 && !progress.Aborted(); --r) {
        rp.Row(height - 1 - r);
        readRow();
        uint8_t* d = destRow(r);
        const int y = std::abs(top - r);
        for (int x = 0; x < width; ++x) {
          const uint8_t* s = row.data() + 4 * int64_t(x);
          if (fields) {
            const uint32_t p = ReadLE32(s);
            d[3 * x] = fb.Get(p);
            d[3 * x + 1] = fg.Get(p);
            d[3 * x + 2] = fr.Get(p);
          } else {
            std::memcpy(d + 3 * int64_t(x), s, 3);
          }
          if (mask) {
            const uint8_t a = fa.mask != 0 ? fa.Get(ReadLE32(s)) : s[3];
            mask->SetPixel(x, y, a);
            allZero = allZero && a == 0;
            allOpaque = allOpaque && a == 255;
          }
        }
      }
      // Ordinary 32-bit files leave the fourth byte at 0 or 255: no alpha then.
      if (mask && !(allZero || allOpaque)) {
        mask->SetFull(false);
        alphaMask = std::move(mask);
      }
      break;
    }
    default:
      break;
  }
}

// ---- writing ----

int Pow2(int b) { return int(1u << (b % 32)); }

void Put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }
void Put32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (8 * k));
}

// Emits literal pixels [s, p) in groups of at most 255.
int FlushLiterals(const uint8_t* px, int s, int p, uint8_t* out, bool four) {
  int o = 0;
  while (s < p) {
    const int n = std::min(255, p - s);
    if (n == 1) {
      out[o++] = 1;
      out[o++] = four ? uint8_t(px[s] << 4 | px[s]) : px[s];
    } else if (n == 2) {
      if (four) {
        out[o++] = 2;
        out[o++] = uint8_t(px[s] << 4 | (px[s + 1] & 0x0F));
      } else {
        out[o++] = 1;
        out[o++] = px[s];
        out[o++] = 1;
        out[o++] = px[s + 1];
      }
    } else {
      out[o++] = 0;
      out[o++] = uint8_t(n);
      int bytes = 0;
      if (four) {
        for (int k = 0; k < n; k += 2) {
          out[o++] = uint8_t(px[s + k] << 4 | (k + 1 < n ? px[s + k + 1] & 0x0F : 0));
          ++bytes;
        }
      } else {
        std::memcpy(out + o, px + s, size_t(n));
        o += n;
        bytes = n;
      }
      if (bytes & 1) out[o++] = 0;
    }
    s += n;
  }
  return o;
}

int EncodeRow(const uint8_t* px, int count, uint8_t* out, bool four) {
  int o = 0, s = 0, p = 0;
  while (p < count) {
    if (p - s > 255) {
      o += FlushLiterals(px, s, p, out + o, four);
      s = p;
    }
    if (p + 1 < count && px[p] == px[p + 1]) {
      o += FlushLiterals(px, s, p, out + o, four);
      int e = p + 1;
      while (e < count && px[e] == px[p] && e - p < 255) ++e;
      out[o++] = uint8_t(e - p);
      out[o++] = four ? uint8_t(px[p] << 4 | (px[p] & 0x0F)) : px[p];
      s = p = e;
    } else {
      ++p;
    }
  }
  o += FlushLiterals(px, s, count, out + o, four);
  out[o++] = 0;
  out[o++] = 0;
  return o;
}

// The bitmap the rows come from at B bits: a converted copy where the source
// format cannot give such rows directly.
TIEBitmap* WorkBitmap(TIEBitmap& source, int bits, std::unique_ptr<TIEBitmap>& copy) {
  const TIEBitmapFormat f = source.PixelFormat();
  bool ok;
  switch (bits) {
    case 1: ok = f == ie1g; break;
    case 4: ok = (f == ie8p && source.PaletteLength() <= 16) || f == ie24RGB; break;
    case 8: ok = (f == ie8p && source.PaletteLength() <= 256) || f == ie8g || f == ie24RGB; break;
    default: ok = f == ie24RGB; break;
  }
  if (ok || bits == 1) return &source;
  copy = TIEBitmap::CreateCopy(source);
  copy->SetPixelFormat(ie24RGB);
  return copy.get();
}

void WriteBMPBody(TStream& stream, TIEBitmap& source, TIOParamsVals& params, TProgressRecord& progress,
                  bool saveAlpha) {
  const int width = source.Width(), height = source.Height();
  if (source.IsEmpty() || width <= 0 || height <= 0) return progress.Abort();
  int bits;
  if (params.BitsPerSample == 1 || params.BitsPerSample == 4) bits = params.BitsPerSample;
  else if (params.SamplesPerPixel == 1) bits = 8;
  else bits = source.HasAlphaChannel() ? 32 : 24;
  const int version = params.BmpVersion;
  if (version == 2 && (width > 0xFFFF || height > 0xFFFF)) return progress.Abort();
  const bool compress = params.BmpCompression == 1 && version != 2 && (bits == 4 || bits == 8);

  TFilterWriter w{stream, progress};
  const int64_t start = stream.Position();
  uint8_t fileHeader[14] = {'B', 'M'};
  w.Put(fileHeader, 14);
  const int headerSize = version == 2 ? 12 : version == 3 ? 64 : 40;
  uint8_t header[64] = {};
  Put32(header, uint32_t(headerSize));
  if (version == 2) {
    Put16(header + 4, uint32_t(width));
    Put16(header + 6, uint32_t(height));
    Put16(header + 8, 1);
  } else {
    Put32(header + 4, uint32_t(width));
    Put32(header + 8, uint32_t(height));
    Put16(header + 12, 1);
    Put32(header + 16, compress ? (bits == 4 ? 2u : 1u) : 0u);
    Put32(header + 24, uint32_t(Round(params.DpiX / 2.54 * 100)));
    Put32(header + 28, uint32_t(Round(params.DpiY / 2.54 * 100)));
    if (bits <= 8) Put32(header + 32, uint32_t(Pow2(bits)));
    Put32(header + 36, uint32_t(Pow2(bits)));
  }
  w.Put(header, headerSize);

  progress.Step = 100.0 / height;
  const int64_t rowLen = RowBytes(width, bits);
  std::vector<uint8_t> row(static_cast<size_t>(rowLen), 0);
  TFilterRowProgress rp{progress};
  int64_t dataStart = 0;
  std::unique_ptr<TIEBitmap> copy;

  auto writePalette = [&](const std::vector<TRGB>& pal) {
    params.FreePalette();
    params.Palette = pal;
    params.PaletteCount = static_cast<int32_t>(pal.size());
    for (const TRGB& c : pal) {
      const uint8_t e[4] = {c.b, c.g, c.r, 0};
      w.Put(e, version == 2 ? 3 : 4);
    }
  };

  if (bits == 4 || bits == 8) {
    TIEBitmap* work = WorkBitmap(source, bits, copy);
    const int n = Pow2(bits);
    std::vector<TRGB> pal(static_cast<size_t>(n));
    TIEQuantizer quantizer(*work, n, pal.data());
    writePalette(pal);
    dataStart = stream.Position();
    const bool direct = work->PixelFormat() == ie8p || work->PixelFormat() == ie8g;
    std::vector<uint8_t> indices(static_cast<size_t>(width));
    std::vector<uint8_t> encoded(compress ? size_t(width) * 10 + 16 : 0);
    for (int y = height - 1; y >= 0 && !progress.Aborted(); --y) {
      rp.Row(height - 1 - y);
      const uint8_t* src = work->ScanLine(y);
      if (direct) {
        std::memcpy(indices.data(), src, size_t(width));
      } else {
        for (int x = 0; x < width; ++x)
          indices[x] = uint8_t(quantizer.GetIndex(*reinterpret_cast<const TRGB*>(src + 3 * int64_t(x))));
      }
      if (compress) {
        const int len = bits == 4 ? EncodeBMPRLE4Row(indices.data(), width, encoded.data())
                                  : EncodeBMPRLE8Row(indices.data(), width, encoded.data());
        w.Put(encoded.data(), len);
        continue;
      }
      std::fill(row.begin(), row.end(), 0);
      if (bits == 8) {
        std::memcpy(row.data(), indices.data(), size_t(width));
      } else {
        for (int x = 0; x < width; ++x) row[x >> 1] |= uint8_t((indices[x] & 0x0F) << ((x & 1) ? 0 : 4));
      }
      w.Put(row.data(), rowLen);
    }
    // The end-of-bitmap code belongs to RLE data only.
    if (compress && !progress.Aborted()) {
      const uint8_t eob[2] = {0, 1};
      w.Put(eob, 2);
    }
  } else if (bits == 1) {
    TIEBitmap* work = &source;
    std::vector<TRGB> pal = {MakeRGB(0, 0, 0), MakeRGB(255, 255, 255)};
    if (source.PixelFormat() != ie1g) {
      TRGB c1, c2;
      copy = ConvertTwoColorTo1Bit(source, c1, c2);
      if (copy) {
        pal = {c1, c2};
      } else {
        copy = TIEBitmap::CreateCopy(source);
        copy->SetPixelFormat(ie1g);
      }
      work = copy.get();
    }
    writePalette(pal);
    dataStart = stream.Position();
    const size_t bytes = size_t((width + 7) / 8);
    for (int y = height - 1; y >= 0 && !progress.Aborted(); --y) {
      rp.Row(height - 1 - y);
      std::memcpy(row.data(), work->ScanLine(y), bytes);
      w.Put(row.data(), rowLen);
    }
  } else {
    TIEBitmap* work = WorkBitmap(source, 24, copy);
    dataStart = stream.Position();
    for (int y = height - 1; y >= 0 && !progress.Aborted(); --y) {
      rp.Row(height - 1 - y);
      const uint8_t* src = work->ScanLine(y);
      if (bits == 24) {
        std::memcpy(row.data(), src, size_t(width) * 3);
      } else {
        for (int x = 0; x < width; ++x) {
          std::memcpy(&row[4 * size_t(x)], src + 3 * int64_t(x), 3);
          row[4 * size_t(x) + 3] = saveAlpha ? source.GetAlpha(x, y) : 255;
        }
      }
      w.Put(row.data(), rowLen);
    }
  }
  if (progress.Aborted()) return;

  const int64_t end = stream.Position();
  Put32(fileHeader + 2, uint32_t(end - start));
  Put32(fileHeader + 10, uint32_t(dataStart - start));
  if (version == 2) {
    Put16(header + 10, uint32_t(bits));
  } else {
    Put16(header + 14, uint32_t(bits));
    Put32(header + 20, uint32_t(end - dataStart));
  }
  stream.SetPosition(start);
  w.Put(fileHeader, 14);
  w.Put(header, headerSize);
  stream.SetPosition(end);
}

}  // namespace

void ReadBMPStream(TStream& stream, TIEBitmap& bitmap, int64_t bmpSize, TIOParamsVals& params,
                   TProgressRecord& progress, bool paramsOnly, bool noFileHeader, TIEMaskOut& alphaMask,
                   bool ignoreAlpha) {
  try {
    ReadBMPBody(stream, bitmap, bmpSize, params, progress, paramsOnly, noFileHeader, alphaMask, ignoreAlpha);
  } catch (...) {
    progress.Refuse(kRefusedStreamFailed);
  }
}

void WriteBMPStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                    bool saveAlpha) {
  try {
    WriteBMPBody(stream, bitmap, params, progress, saveAlpha);
  } catch (...) {
    progress.Abort();
  }
}

void DecodeBMPRLE8(TIEBitmap& bitmap, const uint8_t* data, int64_t size, const std::vector<TRGB>& palette,
                   TProgressRecord& progress, int topRow) {
  TRleDecoder(bitmap, palette, progress, topRow, false, false).Run(data, size);
}
void DecodeBMPRLE8Indexed(TIEBitmap& bitmap, const uint8_t* data, int64_t size, const std::vector<TRGB>& palette,
                          TProgressRecord& progress, int topRow) {
  TRleDecoder(bitmap, palette, progress, topRow, true, false).Run(data, size);
}
void DecodeBMPRLE4(TIEBitmap& bitmap, const uint8_t* data, int64_t size, const std::vector<TRGB>& palette,
                   TProgressRecord& progress, int topRow) {
  TRleDecoder(bitmap, palette, progress, topRow, false, true).Run(data, size);
}
void DecodeBMPRLE4Indexed(TIEBitmap& bitmap, const uint8_t* data, int64_t size, const std::vector<TRGB>& palette,
                          TProgressRecord& progress, int topRow) {
  TRleDecoder(bitmap, palette, progress, topRow, true, true).Run(data, size);
}

int EncodeBMPRLE8Row(const uint8_t* indices, int count, uint8_t* output) {
  return EncodeRow(indices, count, output, false);
}
int EncodeBMPRLE4Row(const uint8_t* indices, int count, uint8_t* output) {
  return EncodeRow(indices, count, output, true);
}

// ---- the format ----

namespace {

void ReadBMPFormat(TIEFormatReadArgs& a) {
  // A load reads the data as its headers size it; a parameters-only read is
  // bounded by the stream. Loads drop the alpha channel unless it is asked for.
  const bool ignoreAlpha = !a.ParamsOnly && !a.Params.BmpAlphaChannel;
  ReadBMPStream(a.Stream, *a.Bitmap, a.ParamsOnly ? a.Size : 0, a.Params, a.Progress, a.ParamsOnly, false,
                a.AlphaMask, ignoreAlpha);
}

void WriteBMPFormat(TIEFormatWriteArgs& a) {
  WriteBMPStream(a.Stream, a.Bitmap, a.Params, a.Progress, a.Params.BmpAlphaChannel);
}

}  // namespace

TIEFormatDescriptor BMPFormat() {
  return {
      .FileType = ioBMP,
      .FullName = "Windows Bitmap",
      .Suffixes = "BMP;DIB;RLE",
      .Access = ieaReadWrite,
      .DialogPage = iedpBMP,
      .Read = ReadBMPFormat,
      .ReadParams = ReadBMPFormat,
      .Write = WriteBMPFormat,
      .LoadOptions = {ielAlphaFromMask, ielFixDPI, ielAdjustDPI, ielSyncView, ielResetMetadata},
      .LoadOpenFailure = ieofKeepFlag,
      .SaveOpenFailure = ieofAbortQuietly,
      .SaveOrder = 90,
      .SaveSuffixes = "BMP;DIB;RLE",
  };
}
