#include "imaging/formats/tiff/tiff_strips.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_icc.h"
#include "imaging/core/ie_mask.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/formats/tiff/tiff_ccitt.h"
#include "imaging/io/io_params.h"
#include "imaging/io/zlib_streams.h"
#include "pictures/psd/psd_image.h"
#include "platform/rtl/streams.h"

namespace {

constexpr const char* kShortStrip = "a strip's data ends before its rows";
constexpr const char* kBadLZW = "the LZW data is damaged";
constexpr const char* kBadDeflate = "the Deflate data is damaged";

uint8_t Reversed(uint8_t b) {
  b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

bool IsFax(int compression) { return compression >= 2 && compression <= 4; }

// The layouts the row converter handles, decided once per image.
enum TLayout {
  lyNone,
  lyRGB8,         // P2, 3 or 4 samples (+ extras), 8 bits
  lyRGB16,        // P2, 3 or 4 samples, 16 bits
  lyRGB555,       // P2, 1 sample, 16 bits
  lyPalette,      // P3, 1 sample, 1 to 8 bits
  lyPaletteAlpha, // P3, 2 samples, 8 bits
  lyGrey,         // P0/1, 1 sample, 2 to 8 bits
  lyGreyAlpha,    // P0/1, 2 or more samples, 8 bits
  lyGrey16,       // P0/1, 1 sample, 16 bits
  lyGrey12,       // P0/1, 1 sample, 12 bits
  lyBilevel,      // P0/1, 1 sample, 1 bit
  lyCMYK8,        // P5, 4 or more samples, 8 bits
  lyCMYK16,       // P5, 4 samples, 16 bits
  lyLab,          // P8, 3 samples, 8 bits
  lyYCbCr         // P6, 3 samples, 8 bits, subsampled
};

TLayout LayoutOf(const TTIFFVars& v) {
  const int p = v.Photometric, s = v.SamplesPerPixel, b = v.BitsPerSample;
  if (p == 2) {
    if (s >= 3 && b == 8) return lyRGB8;
    if ((s == 3 || s == 4) && b == 16) return lyRGB16;
    if (s == 1 && b == 16) return lyRGB555;
  }
  if (p == 3) {
    if (s == 1 && b <= 8) return lyPalette;
    if (s == 2 && b == 8) return lyPaletteAlpha;
  }
  if (p <= 1) {
    if (s == 1 && b == 1) return lyBilevel;
    if (s == 1 && b >= 2 && b <= 8) return lyGrey;
    if (s >= 2 && b == 8) return lyGreyAlpha;
    if (s == 1 && b == 16) return lyGrey16;
    if (s == 1 && b == 12) return lyGrey12;
  }
  if (p == 5 && s >= 4 && b == 8) return lyCMYK8;
  if (p == 5 && s == 4 && b == 16) return lyCMYK16;
  if (p == 8 && s == 3 && b == 8) return lyLab;
  if (p == 6 && s == 3 && b == 8) return lyYCbCr;
  return lyNone;
}

bool HasAlpha(const TTIFFVars& v) { return v.AlphaMask != nullptr && !v.NoAlpha; }

// One strip (or one plane of it): hands out its coded rows one at a time,
// already decompressed, with 16-bit samples in the machine's order and the
// predictor undone.
struct TRowSource {
  const TTIFFVars& v;
  const uint8_t* data;
  int64_t size;
  int64_t rowBytes;
  int width;
  int rows;
  int samples;  // samples per coded pixel (1 for a plane)
  int row = 0;
  int64_t pos = 0;
  int64_t bitPos = 0;
  std::vector<uint8_t> reversed, whole, buffer, reference;
  int64_t wholeBytes = -1;
  void* lzw = nullptr;
  const char* failure = nullptr;

  TRowSource(const TTIFFVars& vars, const uint8_t* d, int64_t n, int64_t rb, int w, int r, int s)
      : v(vars), data(d), size(n), rowBytes(rb), width(w), rows(r), samples(s) {
    // Codecs other than fax read their bytes most significant bit first.
    if (v.FillOrder == 2 && !IsFax(v.Compression)) {
      reversed.resize(size_t(size));
      for (int64_t i = 0; i < size; ++i) reversed[size_t(i)] = Reversed(data[i]);
      data = reversed.data();
    }
    buffer.resize(size_t(rowBytes) + 8);
    if (IsFax(v.Compression)) reference.assign(size_t(rowBytes), 0xFF);
  }
  ~TRowSource() {
    if (lzw != nullptr && v.LZWDecoder) v.LZWDecoder(nullptr, 0, 0, lzw, 1);
  }
  TRowSource(const TRowSource&) = delete;
  TRowSource& operator=(const TRowSource&) = delete;

  const uint8_t* Fail(const char* why) {
    failure = why;
    return nullptr;
  }

  // The whole strip decoded at once (Deflate, PackBits), bounded by its rows.
  const uint8_t* FromWhole(bool deflate) {
    if (wholeBytes < 0) {
      // No more than the strip's bytes can give (Deflate 1,032, PackBits 128 to 1).
      const int64_t need = std::min(rowBytes * rows, size * (deflate ? 1032 : 128));
      if (deflate) {
        try {
          ZDecompressBuffer(data, size, whole, need, need);
        } catch (const Exception&) {
          wholeBytes = 0;
          whole.clear();
          return Fail(kBadDeflate);
        }
      } else {
        whole.resize(size_t(need));
        whole.resize(size_t(TPackbitsRLE::Unpack(data, size, whole.data(), need)));
      }
      wholeBytes = int64_t(whole.size());
    }
    if ((row + 1) * rowBytes > wholeBytes) return Fail(kShortStrip);
    std::memcpy(buffer.data(), whole.data() + row * rowBytes, size_t(rowBytes));
    return buffer.data();
  }

  const uint8_t* Decompress() {
    uint8_t* out = buffer.data();
    switch (v.Compression) {
      case 1:
        if (size - pos < rowBytes) return Fail(kShortStrip);
        std::memcpy(out, data + pos, size_t(rowBytes));
        pos += rowBytes;
        return out;
      case 2:
        if (pos >= size) return Fail(kShortStrip);
        pos += CCITTDecode1D(out, data + pos, size - pos, v.FillOrder, width);
        return out;
      case 3:
        if (bitPos >= size * 8) return Fail(kShortStrip);
        if (v.T4Options & 1) {
          bitPos = CCITTDecode2D(out, data, size, true, v.FillOrder, bitPos, reference.data(), width);
        } else {
          bitPos = CCITTDecodeRow1D(out, data, size, v.FillOrder, bitPos, width);
        }
        return out;
      case 4:
        if (bitPos >= size * 8) return Fail(kShortStrip);
        bitPos = CCITTDecode2D(out, data, size, (v.T4Options & 4) != 0, v.FillOrder, bitPos, reference.data(), width);
        return out;
      case 5: {
        if (!v.LZWDecoder) return Fail("no LZW decoder is installed");
        const uint8_t* p = v.LZWDecoder(data, size, int(rowBytes), lzw, 1);
        if (p == nullptr) return Fail(kBadLZW);
        std::memcpy(out, p, size_t(rowBytes));
        return out;
      }
      case 8:
      case 32946: return FromWhole(true);
      case 32773: return FromWhole(false);
      default: return Fail("a compression that is not read");
    }
  }

  const uint8_t* Next() {
    uint8_t* out = const_cast<uint8_t*>(Decompress());
    if (out == nullptr) return nullptr;
    ++row;
    if (v.BitsPerSample == 16 && !v.LittleEndian)
      for (int64_t i = 0; i + 1 < rowBytes; i += 2) std::swap(out[i], out[i + 1]);
    ApplyTIFFPredictor(v, out, width, samples);
    return out;
  }
};

// Samples of 2 to 7 bits, one byte each, most significant bits first.
void UnpackSamples(const uint8_t* in, uint8_t* out, int64_t count, int bits) {
  const int mask = (1 << bits) - 1;
  int64_t bit = 0;
  for (int64_t i = 0; i < count; ++i, bit += bits) {
    const int64_t byte = bit >> 3;
    const int used = int(bit & 7);
    const int window = in[byte] << 8 | (used + bits > 8 ? in[byte + 1] : 0);
    out[i] = uint8_t((window >> (16 - used - bits)) & mask);
  }
}

// Grey levels of b bits to 8 bits.
uint8_t ScaleGrey(int value, int bits) {
  if (bits == 7) return uint8_t(value * 2);
  const int max = (1 << bits) - 1;
  return uint8_t((value * 255 + max / 2) / max);
}

// Writes decoded rows of one layout into bitmap rows (or a scratch row of the
// strip's width, for tiles).
struct TRowWriter {
  TTIFFVars& v;
  TIEBitmap& bitmap;
  TLayout layout;
  TIEBitmapFormat format;
  TIERowProfiles profiles{};
  std::vector<uint8_t> samples, work;
  bool alphaTouched = false;

  TRowWriter(TTIFFVars& vars, TIEBitmap& b) : v(vars), bitmap(b), layout(LayoutOf(vars)), format(b.PixelFormat()) {
    if (v.Params != nullptr) {
      profiles.InputICC = v.Params->InputICC.get();
      profiles.DefaultInputICC = v.Params->DefaultInputICC.get();
      profiles.OutputICC = v.Params->OutputICC.get();
    }
  }

  void Alpha(uint8_t* maskRow, int x, uint8_t a) {
    if (maskRow == nullptr) return;
    maskRow[x] = a;
    alphaTouched = true;
  }

  // in: the coded row; out: width pixels of the bitmap's format; maskRow:
  // width alpha bytes or nil.
  void Write(const uint8_t* in, uint8_t* out, uint8_t* maskRow, int width) {
    const int s = v.SamplesPerPixel, p = v.Photometric;
    TRGB* rgb = reinterpret_cast<TRGB*>(out);
    switch (layout) {
      case lyRGB8: {
        // Extra samples: alpha (2), premultiplied alpha (1) or unused.
        int alphaAt = -1;
        bool premultiplied = false;
        for (int e = 0; e < v.ExtraSampleCount && 3 + e < s; ++e)
          if (v.ExtraSampleValues[e] == 1 || v.ExtraSampleValues[e] == 2) {
            alphaAt = 3 + e;
            premultiplied = v.ExtraSampleValues[e] == 1;
            break;
          }
        if (alphaAt < 0 && s == 4 && v.ExtraSampleCount == 0) alphaAt = 3;
        if (s == 3 || alphaAt < 0 || maskRow == nullptr) {
          if (s == 3) {
            ConvertRowColorSpace(in, kIccRGB, out, &profiles, width, kIccBGR);
          } else {
            for (int x = 0; x < width; ++x) rgb[x] = TRGB{in[s * x + 2], in[s * x + 1], in[s * x]};
          }
          return;
        }
        for (int x = 0; x < width; ++x) {
          const uint8_t* px = in + int64_t(s) * x;
          const int a = px[alphaAt];
          if (premultiplied && a > 0 && a < 255) {
            const auto un = [a](int c) { return uint8_t(std::min(255, c * 255 / a)); };
            rgb[x] = TRGB{un(px[2]), un(px[1]), un(px[0])};
          } else {
            rgb[x] = TRGB{px[2], px[1], px[0]};
          }
          Alpha(maskRow, x, uint8_t(a));
        }
        return;
      }
      case lyRGB16: {
        const auto* w = reinterpret_cast<const uint16_t*>(in);
        if (format == ieRGB48) {
          auto* o = reinterpret_cast<uint16_t*>(out);
          for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) o[3 * x + c] = w[s * x + c];
        } else {
          for (int x = 0; x < width; ++x) rgb[x] = TRGB{uint8_t(w[s * x + 2] >> 8), uint8_t(w[s * x + 1] >> 8), uint8_t(w[s * x] >> 8)};
        }
        if (s == 4)
          for (int x = 0; x < width; ++x) Alpha(maskRow, x, uint8_t(w[4 * x + 3] >> 8));
        return;
      }
      case lyRGB555: {
        const auto* w = reinterpret_cast<const uint16_t*>(in);
        for (int x = 0; x < width; ++x)
          rgb[x] = TRGB{uint8_t((w[x] & 31) * 8), uint8_t(((w[x] >> 5) & 31) * 8), uint8_t(((w[x] >> 10) & 31) * 8)};
        return;
      }
      case lyPalette:
      case lyPaletteAlpha: {
        const uint8_t* index = in;
        if (v.BitsPerSample < 8) {
          samples.resize(size_t(width));
          if (v.BitsPerSample == 1) {
            for (int x = 0; x < width; ++x) samples[size_t(x)] = (in[x >> 3] >> (7 - (x & 7))) & 1;
          } else {
            UnpackSamples(in, samples.data(), width, v.BitsPerSample);
          }
          index = samples.data();
        }
        const int step = layout == lyPaletteAlpha ? 2 : 1;
        if (format == ie8p) {
          for (int x = 0; x < width; ++x) out[x] = index[step * x];
        } else {
          for (int x = 0; x < width; ++x) {
            const int i = index[step * x];
            rgb[x] = i < v.ColorMapCount ? TRGB{v.ColorMap[3 * i], v.ColorMap[3 * i + 1], v.ColorMap[3 * i + 2]}
                                         : TRGB{0, 0, 0};
          }
        }
        if (layout == lyPaletteAlpha)
          for (int x = 0; x < width; ++x) Alpha(maskRow, x, uint8_t(255 - in[2 * x + 1]));
        return;
      }
      case lyGrey:
      case lyGreyAlpha: {
        const uint8_t* g = in;
        const int step = layout == lyGreyAlpha ? s : 1;
        if (v.BitsPerSample < 8) {
          samples.resize(size_t(width));
          UnpackSamples(in, samples.data(), width, v.BitsPerSample);
          for (auto& value : samples) value = ScaleGrey(value, v.BitsPerSample);
          g = samples.data();
        }
        const uint8_t flip = p == 0 ? 255 : 0;
        if (format == ie8g) {
          for (int x = 0; x < width; ++x) out[x] = uint8_t(g[step * x] ^ flip);
        } else {
          for (int x = 0; x < width; ++x) {
            const uint8_t value = uint8_t(g[step * x] ^ flip);
            rgb[x] = TRGB{value, value, value};
          }
        }
        if (layout == lyGreyAlpha)
          for (int x = 0; x < width; ++x) Alpha(maskRow, x, in[s * x + 1]);
        return;
      }
      case lyGrey16: {
        const auto* w = reinterpret_cast<const uint16_t*>(in);
        const uint16_t flip = p == 0 ? 0xFFFF : 0;
        if (format == ie16g) {
          auto* o = reinterpret_cast<uint16_t*>(out);
          for (int x = 0; x < width; ++x) o[x] = uint16_t(w[x] ^ flip);
          return;
        }
        // Look@Molli writes 12 significant bits in 16-bit samples.
        const int shift = v.Software.compare(0, 15, "Look@Molli v1.1") == 0 ? 4 : 8;
        for (int x = 0; x < width; ++x) {
          const uint8_t value = uint8_t(uint16_t(w[x] ^ flip) >> shift);
          if (format == ie8g) out[x] = value;
          else rgb[x] = TRGB{value, value, value};
        }
        return;
      }
      case lyGrey12: {
        const uint16_t flip = p == 0 ? 0xFFF : 0;
        for (int x = 0; x < width; ++x) {
          const uint8_t* t = in + (x / 2) * 3;
          uint16_t value = x % 2 == 0 ? uint16_t(t[0] << 4 | t[1] >> 4) : uint16_t((t[1] & 15) << 8 | t[2]);
          value ^= flip;
          if (format == ie16g) reinterpret_cast<uint16_t*>(out)[x] = uint16_t(value << 4);
          else if (format == ie8g) out[x] = uint8_t(value >> 4);
          else rgb[x] = TRGB{uint8_t(value >> 4), uint8_t(value >> 4), uint8_t(value >> 4)};
        }
        return;
      }
      case lyBilevel: {
        // Fax rows arrive white = 1; other codings carry the photometric's meaning.
        const bool invert = (p == 0) != IsFax(v.Compression);
        const int64_t bytes = (width + 7) / 8;
        if (format == ie1g) {
          for (int64_t i = 0; i < bytes; ++i) out[i] = invert ? uint8_t(~in[i]) : in[i];
        } else {
          for (int x = 0; x < width; ++x) {
            const bool white = ((in[x >> 3] >> (7 - (x & 7))) & 1) != invert;
            const uint8_t value = white ? 255 : 0;
            if (format == ie8g) out[x] = value;
            else rgb[x] = TRGB{value, value, value};
          }
        }
        return;
      }
      case lyCMYK8:
      case lyCMYK16: {
        work.resize(size_t(width) * 4);
        if (layout == lyCMYK8) {
          for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c) work[size_t(4 * x + c)] = uint8_t(255 - in[s * x + c]);
        } else {
          const auto* w = reinterpret_cast<const uint16_t*>(in);
          for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c) work[size_t(4 * x + c)] = uint8_t(255 - (w[4 * x + c] >> 8));
        }
        if (format == ieCMYK) std::memcpy(out, work.data(), work.size());
        else ConvertRowColorSpace(work.data(), kIccInvCMYK, out, &profiles, width, kIccBGR);
        if (layout == lyCMYK8 && s >= 5 && v.ExtraSamples == 2)
          for (int x = 0; x < width; ++x) Alpha(maskRow, x, in[s * x + 4]);
        return;
      }
      case lyLab: ConvertRowColorSpace(in, kIccLab, out, &profiles, width, kIccBGR); return;
      default: return;
    }
  }
};

// Copies a scratch row of width pixels into the bitmap row at column x,
// clipped to the bitmap (tiles overhang the image).
void PutScratch(TIEBitmap& b, const uint8_t* row, int y, int x, int width) {
  const int visible = std::min(width, b.Width() - x);
  if (visible <= 0 || y >= b.Height()) return;
  uint8_t* out = b.ScanLine(y);
  if (b.PixelFormat() == ie1g) {
    // Tiles of bilevel images start on byte boundaries (checked by the reader).
    const int full = visible / 8, rest = visible % 8;
    std::memcpy(out + x / 8, row, size_t(full));
    if (rest > 0) {
      const uint8_t keep = uint8_t(0xFF >> rest);
      out[x / 8 + full] = uint8_t((out[x / 8 + full] & keep) | (row[full] & ~keep));
    }
    return;
  }
  const int bpp = b.BitCount() / 8;
  std::memcpy(out + int64_t(x) * bpp, row, size_t(visible) * size_t(bpp));
}

void ClearRows(TIEBitmap& b, int from, int to, int x, int width) {
  const int64_t len = b.RowLen();
  for (int y = std::max(0, from); y < to && y < b.Height(); ++y) {
    if (x == 0 && width >= b.Width()) {
      std::memset(b.ScanLine(y), 0, size_t(len));
    } else {
      std::vector<uint8_t> zero(size_t(len), 0);
      PutScratch(b, zero.data(), y, x, width);
    }
  }
}

// Where converted rows go: straight into the bitmap row for strips, through a
// scratch row clipped to the bitmap for tiles; alpha into the mask likewise.
struct TRowTarget {
  TIEBitmap& bitmap;
  TIEMask* mask;
  int x, width;
  bool direct;
  std::vector<uint8_t> scratch, maskScratch;

  TRowTarget(TTIFFVars& v, TIEBitmap& b, int column, int w)
      : bitmap(b), mask(HasAlpha(v) ? v.AlphaMask : nullptr), x(column), width(w), direct(column == 0 && w <= b.Width()) {
    // A tile may be wider than the picture: its scratch row holds the whole tile row.
    if (!direct) scratch.assign(size_t(std::max<int64_t>(b.RowLen(), (int64_t(w) * b.BitCount() + 7) / 8) + 16), 0);
    if (mask != nullptr) maskScratch.resize(size_t(width));
  }
  void Put(TRowWriter& writer, const uint8_t* in, int y) {
    uint8_t* out = direct ? bitmap.ScanLine(y) : scratch.data();
    writer.Write(in, out, mask != nullptr ? maskScratch.data() : nullptr, width);
    if (!direct) PutScratch(bitmap, out, y, x, width);
    if (mask != nullptr && writer.alphaTouched && y < mask->Height()) {
      const int visible = std::min(width, mask->Width() - x);
      if (visible > 0) std::memcpy(mask->ScanLine(y) + x, maskScratch.data(), size_t(visible));
    }
  }
  void Finish(const TRowWriter& writer) {
    if (mask != nullptr && writer.alphaTouched) mask->SetFull(false);
  }
};

struct TProgressRows {
  TProgressRecord& progress;
  int last = -1;
  void Row() {
    ++progress.Counter;
    const int per = int(progress.Counter * progress.Step);
    if (per != last) {
      last = per;
      progress.Report(per);
    }
  }
};

// YCbCr blocks of h x v luma samples and one Cb, Cr pair; a strip holds
// ceil(rows / v) block rows of ceil(width / h) blocks.
void DecodeYCbCr(TTIFFVars& v, TIEBitmap& b, int firstRow, TProgressRecord& progress, int rows, int width,
                 int64_t size, const uint8_t* data, int x) {
  const int h = v.YCbCrSubSampling[0], vs = v.YCbCrSubSampling[1];
  const int blocks = (width + h - 1) / h;
  const int64_t blockBytes = int64_t(h) * vs + 2;
  const int64_t rowBytes = blocks * blockBytes;
  const int blockRows = (rows + vs - 1) / vs;
  TRowSource source(v, data, size, rowBytes, width, blockRows, 1);
  std::vector<uint8_t> ycc(size_t(width) * 3), scratch(size_t(width) * 3);
  TProgressRows report{progress};
  for (int br = 0; br < blockRows && !progress.Aborted(); ++br) {
    const uint8_t* in = source.Decompress();
    if (in == nullptr) {
      ClearRows(b, firstRow + br * vs, firstRow + rows, x, width);
      progress.Refuse(source.failure);
      return;
    }
    ++source.row;
    for (int dy = 0; dy < vs && br * vs + dy < rows; ++dy) {
      for (int bx = 0; bx < blocks; ++bx) {
        const uint8_t* blk = in + bx * blockBytes;
        for (int dx = 0; dx < h && bx * h + dx < width; ++dx) {
          uint8_t* o = ycc.data() + 3 * (bx * h + dx);
          o[0] = blk[dy * h + dx];
          o[1] = blk[h * vs];
          o[2] = blk[h * vs + 1];
        }
      }
      const int y = firstRow + br * vs + dy;
      if (y >= b.Height()) break;
      uint8_t* out = x == 0 && width <= b.Width() ? b.ScanLine(y) : scratch.data();
      ConvertRowColorSpace(ycc.data(), kIccYCbCr, out, nullptr, width, kIccBGR);
      if (out == scratch.data()) PutScratch(b, scratch.data(), y, x, width);
      report.Row();
    }
  }
}

// A JPEG-compressed strip or tile (compression 7), decoded by the JPEG filter.
void DecodeJPEGStrip(TTIFFVars& v, TIEBitmap& b, int firstRow, TProgressRecord& progress, int rows, int width,
                     int64_t size, const uint8_t* data, int x) {
  if (v.Params == nullptr) return;
  TIOParamsVals& params = *v.Params;
  TMemoryStream strip;
  strip.WriteBuffer(data, size);
  strip.SetPosition(0);
  TMemoryStream tables;
  if (!v.JPEGTables.empty()) {
    tables.WriteBuffer(v.JPEGTables.data(), int64_t(v.JPEGTables.size()));
    tables.SetPosition(0);
  }
  TIEBitmap temp;
  // RGB data (not YCbCr) is decoded as it is stored: libjpeg sees that by the
  // component ids when they are R, G, B; otherwise the colour conversion is
  // switched off and the components taken as red, green, blue.
  bool rawRGB = false;
  // The JPEG reader fills the parameters; the TIFF's own values stay.
  const int32_t dpiX = params.DpiX, dpiY = params.DpiY, w = params.Width, h = params.Height;
  const int32_t sw = params.StoredWidth, sh = params.StoredHeight, count = params.ImageCount;
  const auto jpegColorSpace = params.JpegColorSpace;
  std::atomic<bool> localAbort{false};
  TProgressRecord local;
  local.AbortFlag = &localAbort;
  TProgressRecord& used = v.StripCount <= 1 ? progress : local;
  const auto read = [&](bool raw) {
    strip.SetPosition(0);
    tables.SetPosition(0);
    try {
      TJpegReadOptions options;
      options.NativeFormat = params.NativePixelFormat;
      options.ApplyICC = false;
      options.InvertCMYK = true;
      options.ReadMetadata = false;
      options.RawYCbCr = raw;
      ReadJpegStream(strip, v.JPEGTables.empty() ? nullptr : &tables, &temp, options, used, params);
    } catch (const Exception&) {
      used.Refuse("the JPEG data is damaged");
    }
  };
  read(false);
  if (v.Photometric == 2 && params.JpegColorSpace == 2 && !used.Aborted()) {
    rawRGB = true;
    read(true);
  }
  params.JpegColorSpace = jpegColorSpace;
  params.DpiX = dpiX, params.DpiY = dpiY, params.Width = w, params.Height = h;
  params.StoredWidth = sw, params.StoredHeight = sh, params.ImageCount = count;
  if (&used == &local && localAbort.load()) progress.Refuse(local.Refusal ? local.Refusal : "the JPEG data is damaged");
  if (v.StripCount > 1) {
    ++progress.Counter;
    progress.Report(int(progress.Counter * progress.Step2));
  }
  if (progress.Aborted() || temp.IsEmpty()) return;
  if (temp.PixelFormat() != b.PixelFormat()) temp.SetPixelFormat(b.PixelFormat());
  if (rawRGB && temp.PixelFormat() == ie24RGB)
    for (int y = 0; y < temp.Height(); ++y) {
      uint8_t* r = temp.ScanLine(y);
      for (int i = 0; i < temp.Width(); ++i) std::swap(r[3 * i], r[3 * i + 2]);
    }
  const int copyW = std::min({width, temp.Width(), b.Width() - x});
  const int copyH = std::min({rows, temp.Height(), b.Height() - firstRow});
  if (copyW > 0 && copyH > 0) temp.CopyRectTo(b, 0, 0, copyW, copyH, x, firstRow);
}

}  // namespace

int64_t TIFFRowBytes(const TTIFFVars& v, int width, bool onePlane) {
  const int64_t samples = onePlane ? 1 : v.SamplesPerPixel;
  return (samples * width * v.BitsPerSample + 7) / 8;
}

bool TIFFLayoutSupported(const TTIFFVars& v, const char*& why) {
  if (v.Compression == 7 || v.Compression == 6) return true;
  if (LayoutOf(v) == lyNone) {
    why = "a sample layout that is not read";
    return false;
  }
  if (LayoutOf(v) == lyYCbCr) {
    const int h = v.YCbCrSubSampling[0], s = v.YCbCrSubSampling[1];
    if ((h != 1 && h != 2 && h != 4) || (s != 1 && s != 2 && s != 4) || v.PlanarConfiguration == 2) {
      why = "a YCbCr subsampling that is not read";
      return false;
    }
  }
  if (IsFax(v.Compression) && (v.BitsPerSample != 1 || v.SamplesPerPixel != 1)) {
    why = "fax coding of more than one bit";
    return false;
  }
  return true;
}

void ApplyTIFFPredictor(const TTIFFVars& v, uint8_t* row, int width, int samples) {
  if (v.Predictor != 2 || (v.Compression != 5 && v.Compression != 8 && v.Compression != 32946)) return;
  const int64_t count = int64_t(width) * samples;
  if (v.BitsPerSample == 8) {
    for (int64_t i = samples; i < count; ++i) row[i] = uint8_t(row[i] + row[i - samples]);
  } else if (v.BitsPerSample == 16) {
    auto* w = reinterpret_cast<uint16_t*>(row);
    for (int64_t i = samples; i < count; ++i) w[i] = uint16_t(w[i] + w[i - samples]);
  }
}

void DecodeTIFFImage(TTIFFVars& v, TIEBitmap& b, int firstRow, TProgressRecord& progress, int rows, int width,
                     int64_t size, const uint8_t* data, int x) {
  if (rows <= 0 || width <= 0) return;
  if (v.Compression == 7) {
    DecodeJPEGStrip(v, b, firstRow, progress, rows, width, size, data, x);
    return;
  }
  if (LayoutOf(v) == lyYCbCr) {
    DecodeYCbCr(v, b, firstRow, progress, rows, width, size, data, x);
    return;
  }
  const int64_t rowBytes = TIFFRowBytes(v, width, false);
  TRowSource source(v, data, size, rowBytes, width, rows, v.SamplesPerPixel);
  TRowWriter writer(v, b);
  TRowTarget target(v, b, x, width);
  TProgressRows report{progress};
  for (int r = 0; r < rows && !progress.Aborted(); ++r) {
    const int y = firstRow + r;
    if (y >= b.Height()) break;
    const uint8_t* in = source.Next();
    if (in == nullptr) {
      ClearRows(b, y, firstRow + rows, x, width);
      progress.Refuse(source.failure);
      break;
    }
    target.Put(writer, in, y);
    report.Row();
  }
  target.Finish(writer);
}

void DecodeTIFFPlanes(TTIFFVars& v, TIEBitmap& b, int firstRow, TProgressRecord& progress, int rows, int width,
                      const std::vector<std::vector<uint8_t>>& planes, int x) {
  const int s = v.SamplesPerPixel;
  if (rows <= 0 || width <= 0 || int(planes.size()) != s || v.BitsPerSample < 8 || v.BitsPerSample % 8 != 0) {
    progress.Refuse("a separate-plane layout that is not read");
    return;
  }
  const int64_t planeBytes = TIFFRowBytes(v, width, true);
  const int bytes = v.BitsPerSample / 8;
  std::vector<std::unique_ptr<TRowSource>> sources;
  for (const auto& p : planes)
    sources.push_back(std::make_unique<TRowSource>(v, p.data(), int64_t(p.size()), planeBytes, width, rows, 1));
  std::vector<uint8_t> chunky(size_t(planeBytes) * size_t(s) + 8);
  TRowWriter writer(v, b);
  TRowTarget target(v, b, x, width);
  TProgressRows report{progress};
  for (int r = 0; r < rows && !progress.Aborted(); ++r) {
    const int y = firstRow + r;
    if (y >= b.Height()) break;
    for (int p = 0; p < s; ++p) {
      const uint8_t* in = sources[size_t(p)]->Next();
      if (in == nullptr) {
        ClearRows(b, y, firstRow + rows, x, width);
        progress.Refuse(sources[size_t(p)]->failure);
        return;
      }
      for (int i = 0; i < width; ++i)
        std::memcpy(chunky.data() + (int64_t(i) * s + p) * bytes, in + int64_t(i) * bytes, size_t(bytes));
    }
    // 16-bit planes are already in the machine's order.
    target.Put(writer, chunky.data(), y);
    report.Row();
  }
  target.Finish(writer);
}
