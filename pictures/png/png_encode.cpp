// Encoding of the image data: turn the header's DIB and alpha plane into PNG
// rows, filter them, deflate them and write the result as IDAT chunks.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "base/toolbox/row_convert.h"
#include "pictures/png/png_chunks.h"
#include "pictures/png/png_codec_state.h"
#include "pictures/png/png_image.h"
#include "pictures/png/png_rows.h"

namespace {

// ------------------------------------------------------------ converters
// A converter gathers count pixels at the columns x0, x0 + dx, ... of one DIB
// row and alpha row into a row of PNG samples. 16-bit samples are written as
// value x 257, so that an 8-bit value v reads back as v at either depth.

using TRowGatherer = void (*)(const uint8_t* dib, const uint8_t* alpha, uint8_t* dst, int x0, int dx, int count);

template <int kDepth, bool kSeq>
void GatherPacked(const uint8_t* dib, const uint8_t*, uint8_t* dst, int x0, int dx, int count) {
  const size_t bytes = size_t((int64_t(count) * kDepth + 7) / 8);
  if constexpr (kSeq) {
    std::memcpy(dst, dib, bytes);
  } else {
    constexpr int kPerByte = 8 / kDepth;
    constexpr unsigned kMask = (1u << kDepth) - 1;
    std::memset(dst, 0, bytes);
    for (int i = 0; i < count; i++) {
      const int x = x0 + i * dx;
      const unsigned v = (dib[x / kPerByte] >> ((kPerByte - 1 - x % kPerByte) * kDepth)) & kMask;
      dst[i / kPerByte] = uint8_t(dst[i / kPerByte] | (v << ((kPerByte - 1 - i % kPerByte) * kDepth)));
    }
  }
}

template <bool kSeq>
void GatherGrey16(const uint8_t* dib, const uint8_t*, uint8_t* dst, int x0, int dx, int count) {
  for (int i = 0; i < count; i++) {
    const uint8_t v = dib[kSeq ? i : x0 + i * dx];
    dst[i * 2] = v;
    dst[i * 2 + 1] = v;
  }
}

template <int kStep, bool kSeq>
void GatherRgb(const uint8_t* dib, const uint8_t*, uint8_t* dst, int x0, int dx, int count) {
  if constexpr (kStep == 1 && kSeq) {
    SwapRgbRow(dib, dst, count);
    return;
  }
  for (int i = 0; i < count; i++) {
    const uint8_t* s = dib + size_t(kSeq ? i : x0 + i * dx) * 3;
    uint8_t* d = dst + i * 3 * kStep;
    d[0] = s[2];
    d[kStep] = s[1];
    d[2 * kStep] = s[0];
    if constexpr (kStep == 2) {
      d[1] = s[2];
      d[3] = s[1];
      d[5] = s[0];
    }
  }
}

template <int kStep, bool kSeq>
void GatherGreyAlpha(const uint8_t* dib, const uint8_t* alpha, uint8_t* dst, int x0, int dx, int count) {
  for (int i = 0; i < count; i++) {
    const int x = kSeq ? i : x0 + i * dx;
    uint8_t* d = dst + i * 2 * kStep;
    d[0] = dib[x];
    d[kStep] = alpha[x];
    if constexpr (kStep == 2) {
      d[1] = dib[x];
      d[3] = alpha[x];
    }
  }
}

template <int kStep, bool kSeq>
void GatherRgba(const uint8_t* dib, const uint8_t* alpha, uint8_t* dst, int x0, int dx, int count) {
  if constexpr (kStep == 1 && kSeq) {
    BgrAndAlphaToRgba(dib, alpha, dst, count);
    return;
  }
  for (int i = 0; i < count; i++) {
    const int x = kSeq ? i : x0 + i * dx;
    const uint8_t* s = dib + size_t(x) * 3;
    uint8_t* d = dst + i * 4 * kStep;
    d[0] = s[2];
    d[kStep] = s[1];
    d[2 * kStep] = s[0];
    d[3 * kStep] = alpha[x];
    if constexpr (kStep == 2) {
      d[1] = s[2];
      d[3] = s[1];
      d[5] = s[0];
      d[7] = alpha[x];
    }
  }
}

template <bool kSeq>
TRowGatherer ChooseGatherer(int colorType, int bitDepth) {
  switch (colorType) {
    case 0:
    case 3:
      switch (bitDepth) {
        case 1: return GatherPacked<1, kSeq>;
        case 4: return GatherPacked<4, kSeq>;
        case 8: return GatherPacked<8, kSeq>;
        case 16: return colorType == 0 ? GatherGrey16<kSeq> : nullptr;
      }
      return nullptr;
    case 2: return bitDepth == 16 ? GatherRgb<2, kSeq> : GatherRgb<1, kSeq>;
    case 4: return bitDepth == 16 ? GatherGreyAlpha<2, kSeq> : GatherGreyAlpha<1, kSeq>;
    case 6: return bitDepth == 16 ? GatherRgba<2, kSeq> : GatherRgba<1, kSeq>;
    default: return nullptr;
  }
}

// ------------------------------------------------------------ filters

void FilterSub(const uint8_t* raw, uint8_t* out, size_t n, size_t bpp) {
  const size_t head = std::min(bpp, n);
  std::memcpy(out, raw, head);
  for (size_t i = bpp; i < n; i++) out[i] = uint8_t(raw[i] - raw[i - bpp]);
}

void FilterUp(const uint8_t* raw, const uint8_t* prev, uint8_t* out, size_t n) {
  for (size_t i = 0; i < n; i++) out[i] = uint8_t(raw[i] - prev[i]);
}

void FilterAverage(const uint8_t* raw, const uint8_t* prev, uint8_t* out, size_t n, size_t bpp) {
  const size_t head = std::min(bpp, n);
  for (size_t i = 0; i < head; i++) out[i] = uint8_t(raw[i] - (prev[i] >> 1));
  for (size_t i = bpp; i < n; i++) out[i] = uint8_t(raw[i] - ((unsigned(raw[i - bpp]) + prev[i]) >> 1));
}

void FilterPaeth(const uint8_t* raw, const uint8_t* prev, uint8_t* out, size_t n, size_t bpp) {
  const size_t head = std::min(bpp, n);
  for (size_t i = 0; i < head; i++) out[i] = uint8_t(raw[i] - prev[i]);
  for (size_t i = bpp; i < n; i++) out[i] = uint8_t(raw[i] - PaethPredict(raw[i - bpp], prev[i], prev[i - bpp]));
}

// How many bytes repeat one of the two bytes before them: rows with more
// repetition tend to deflate better.
size_t RepeatCount(const uint8_t* row, size_t n) {
  size_t count = 0;
  for (size_t j = 2; j < n; j++) count += (row[j] == row[j - 1] || row[j] == row[j - 2]) ? 1 : 0;
  return count;
}

// ------------------------------------------------------------ encoder

class TPngRowEncoder {
public:
  TPngRowEncoder(TStream& stream, TChunkIHDR& header, const TPNGImage* image)
      : FStream(stream), FHeader(header) {
    if (image) {
      FRowFilters = image->RowFilters();
      FLevel = image->DeflateLevel();
      FBlockSize = image->IdatBlockSize();
    }
    // 2-bit samples live in 4-bit pixels and go out as 4-bit samples.
    FDepth = header.BitDepth() == 2 ? 4 : header.BitDepth();
    FPixelBytes = size_t(PixelBytesFor(header.ColorType(), FDepth));
    const int64_t rowBytes = RowBytesFor(header.Width(), header.ColorType(), FDepth);
    // Each row buffer carries its filter type byte in front of the samples, so
    // a row goes to deflate in one call.
    FRaw.assign(size_t(rowBytes) + 1, 0);
    FPrev.assign(size_t(rowBytes) + 1, 0);
    for (int f = 1; f <= 4; f++)
      if (FRowFilters & (1u << f)) {
        FFiltered[f].assign(size_t(rowBytes) + 1, 0);
        FFiltered[f][0] = uint8_t(f);
      }
    // Deflate gets the smallest window that holds the whole image (as libpng
    // chooses it), which finds the same matches as the full window; the
    // stream header still names the full window, so the bytes written are
    // those of the full window. The output block is no larger than deflate
    // can produce for the image, which keeps the IDAT chunks where they were.
    const bool interlaced = image ? image->InterlaceMode() == 1 : header.InterlaceMethod() == 1;
    const uint64_t dataBytes = ImageDataBytes(interlaced, uint64_t(rowBytes));
    FDeflate = std::make_unique<TDeflateLease>(FLevel, PngWindowBitsFor(dataBytes));
    FullWindowZlibHeader(FLevel, FFullWindowHeader);
    const uint64_t bound = deflateBound(&FDeflate->Z(), uLong(std::min<uint64_t>(dataBytes, 0xFFFFFFFFu)));
    if (dataBytes < 0xFFFFFFFFu && bound < FBlockSize) FOutSize = uint32_t(std::max<uint64_t>(bound, 64));
    else FOutSize = FBlockSize;
    FOut = std::make_unique<TScratchLease>(psEncodeOutput, FOutSize);
    z_stream& z = FDeflate->Z();
    z.next_out = FOut->Data();
    z.avail_out = uInt(FOutSize);
  }
  TPngRowEncoder(const TPngRowEncoder&) = delete;
  TPngRowEncoder& operator=(const TPngRowEncoder&) = delete;

  void Encode(bool interlaced) {
    if (interlaced)
      EncodeInterlaced();
    else
      EncodeSequential();
    FinishDeflate();
  }

private:
  void EncodeSequential() {
    const TRowGatherer gather = ChooseGatherer<true>(FHeader.ColorType(), FDepth);
    if (!gather || !FHeader.ImageBits()) return;
    const size_t rowBytes = FRaw.size() - 1;
    for (int y = 0; y < FHeader.Height(); y++) {
      gather(FHeader.DibRow(y), FHeader.AlphaRowOf(y), FRaw.data() + 1, 0, 1, FHeader.Width());
      WriteRow(rowBytes);
    }
  }

  void EncodeInterlaced() {
    const TRowGatherer gather = ChooseGatherer<false>(FHeader.ColorType(), FDepth);
    if (!gather || !FHeader.ImageBits()) return;
    for (const TPngPass& pass : kAdam7Passes) {
      const int passWidth = PassWidth(pass, FHeader.Width());
      const size_t rowBytes = size_t(RowBytesFor(passWidth, FHeader.ColorType(), FDepth));
      if (rowBytes == 0) continue;
      std::fill(FPrev.begin(), FPrev.end(), 0);
      for (int y = pass.firstRow; y < FHeader.Height(); y += pass.rowStep) {
        gather(FHeader.DibRow(y), FHeader.AlphaRowOf(y), FRaw.data() + 1, pass.firstColumn, pass.columnStep,
               passWidth);
        WriteRow(rowBytes);
      }
    }
  }

  void WriteRow(size_t rowBytes) {
    const uint8_t filter = ChooseRowFilter(rowBytes);
    DeflateBytes(filter == 0 ? FRaw.data() : FFiltered[filter].data(), rowBytes + 1);
    // Only Up, Average and Paeth look at the row above.
    if (FRowFilters & (kRowFilterUp | kRowFilterAverage | kRowFilterPaeth))
      std::memcpy(FPrev.data() + 1, FRaw.data() + 1, rowBytes);
  }

  // Filters the raw row with every allowed filter and picks one: the only one
  // allowed, else the one whose bytes repeat most (ties to the lower type).
  uint8_t ChooseRowFilter(size_t n) {
    const uint8_t* raw = FRaw.data() + 1;
    const uint8_t* prev = FPrev.data() + 1;
    if (FRowFilters & (1u << 1)) FilterSub(raw, FFiltered[1].data() + 1, n, FPixelBytes);
    if (FRowFilters & (1u << 2)) FilterUp(raw, prev, FFiltered[2].data() + 1, n);
    if (FRowFilters & (1u << 3)) FilterAverage(raw, prev, FFiltered[3].data() + 1, n, FPixelBytes);
    if (FRowFilters & (1u << 4)) FilterPaeth(raw, prev, FFiltered[4].data() + 1, n, FPixelBytes);
    const unsigned allowed = FRowFilters & 0x1F;
    if (allowed == 0 || allowed == 1) return 0;
    size_t best = 0;
    uint8_t result = 0;
    for (int f = 0; f <= 4; f++) {
      if (!(allowed & (1u << f))) continue;
      if (allowed == (1u << f)) return uint8_t(f);
      const size_t count = RepeatCount(f == 0 ? raw : FFiltered[f].data() + 1, n);
      if (count > best) {
        best = count;
        result = uint8_t(f);
      }
    }
    return result;
  }

  void DeflateBytes(const uint8_t* bytes, size_t n) {
    z_stream& z = FDeflate->Z();
    z.next_in = const_cast<Bytef*>(bytes);
    z.avail_in = uInt(n);
    while (z.avail_in > 0) {
      if (z.avail_out == 0) FlushBlock();
      const int r = deflate(&z, Z_NO_FLUSH);
      if (r != Z_OK) RaisePngZlibError(r);
    }
  }

  void FinishDeflate() {
    z_stream& z = FDeflate->Z();
    z.next_in = nullptr;
    z.avail_in = 0;
    for (;;) {
      if (z.avail_out == 0) FlushBlock();
      const int r = deflate(&z, Z_FINISH);
      if (r == Z_STREAM_END) break;
      if (r != Z_OK) RaisePngZlibError(r);
    }
    if (z.avail_out < FOutSize) FlushBlock();
  }

  // Writes what the output block holds as one IDAT chunk. A smaller block
  // than the chunk size is only used when the whole stream fits in it, so a
  // full smaller block never ends a chunk early.
  void FlushBlock() {
    z_stream& z = FDeflate->Z();
    uint8_t* out = FOut->Data();
    const size_t n = FOutSize - z.avail_out;
    if (FFirstBlock && n >= 2) {
      out[0] = FFullWindowHeader[0];
      out[1] = FFullWindowHeader[1];
      FFirstBlock = false;
    }
    WriteIdatChunk(out, n);
    z.next_out = out;
    z.avail_out = uInt(FOutSize);
  }

  // The bytes deflate gets: each row of every pass with its filter byte.
  uint64_t ImageDataBytes(bool interlaced, uint64_t rowBytes) const {
    const uint64_t height = uint64_t(std::max(FHeader.Height(), 0));
    if (!interlaced) return (rowBytes + 1) * height;
    uint64_t total = 0;
    for (const TPngPass& pass : kAdam7Passes) {
      const int passWidth = PassWidth(pass, FHeader.Width());
      const uint64_t passRowBytes = uint64_t(RowBytesFor(passWidth, FHeader.ColorType(), FDepth));
      const int64_t rows = FHeader.Height() > pass.firstRow
                               ? (FHeader.Height() - pass.firstRow + pass.rowStep - 1) / pass.rowStep
                               : 0;
      if (passRowBytes > 0) total += (passRowBytes + 1) * uint64_t(rows);
    }
    return total;
  }

  void WriteIdatChunk(const uint8_t* bytes, size_t n) {
    uint8_t head[8];
    WriteBE32(head, uint32_t(n));
    std::memcpy(head + 4, "IDAT", 4);
    FStream.WriteBuffer(head, 8);
    FStream.WriteBuffer(bytes, int64_t(n));
    uint8_t crc[4];
    WriteBE32(crc, ChunkCrc("IDAT", bytes, n));
    FStream.WriteBuffer(crc, 4);
  }

  TStream& FStream;
  const TChunkIHDR& FHeader;  // read only: the rows may be shared with a bitmap
  uint8_t FRowFilters = 2;
  int FLevel = 7;
  uint32_t FBlockSize = 65535;
  int FDepth = 8;
  size_t FPixelBytes = 1;
  std::vector<uint8_t> FRaw, FPrev, FFiltered[5];
  std::unique_ptr<TDeflateLease> FDeflate;
  std::unique_ptr<TScratchLease> FOut;
  uint32_t FOutSize = 0;
  uint8_t FFullWindowHeader[2] = {};
  bool FFirstBlock = true;
};

}  // namespace

bool TChunkIDAT::SaveToStream(TStream& stream) {
  TChunkIHDR* header = OwnerHeader();
  if (!header) return true;
  const bool interlaced = OwnerImage() ? OwnerImage()->InterlaceMode() == 1 : header->InterlaceMethod() == 1;
  TPngRowEncoder encoder(stream, *header, OwnerImage());
  encoder.Encode(interlaced);
  return true;
}
