// Decoding of the image data: inflate across the IDAT chunks, undo the row
// filters and Adam7, and place the samples into the header's DIB and alpha plane.
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__x86_64__)
#include <emmintrin.h>
#define QV_PNG_SSE2 1
#endif

#include "base/toolbox/row_convert.h"
#include "pictures/png/png_chunks.h"
#include "pictures/png/png_codec_state.h"
#include "pictures/png/png_image.h"
#include "pictures/png/png_rows.h"

namespace {

constexpr int64_t kInputBlockSize = 65535;
// Rows are inflated many at a time into a block of about this size: zlib's
// fast loop then runs across row ends, and the block stays in the cache while
// its rows are unfiltered and placed.
constexpr size_t kOutputBlockSize = 128 * 1024;
// Image data of up to this many bytes whose zlib stream lies in a memory
// stream (an icon's PNG image) inflates in one call of a whole-buffer
// inflater, about twice as fast as a streaming one on icon art.
constexpr uint64_t kWholeInflateMaxBytes = 1 << 20;

// ------------------------------------------------------------ unfiltering

// The byte loops below take the pixel size as a template argument where it is
// 3, 4, 6 or 8, so the compiler keeps a whole pixel in registers.
#if QV_PNG_SSE2
// Sub adds each byte to the one a pixel to its left: a running sum with a
// stride of the pixel size. Sixteen bytes at a time that is a prefix sum in a
// register (add the block shifted by one pixel, then two, then four), plus the
// last pixel of the block before. For 3-byte pixels a block holds five whole
// pixels and the first byte of the next, which is put back unchanged.
size_t UnfilterSubSse2(uint8_t* row, size_t n, size_t bpp) {
  size_t i = 0;
  __m128i carry = _mm_setzero_si128();
  if (bpp == 3) {
    const __m128i keep = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0);
    const __m128i firstPixel = _mm_setr_epi8(-1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    for (; i + 16 <= n; i += 15) {
      const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
      __m128i v = _mm_add_epi8(raw, carry);
      v = _mm_add_epi8(v, _mm_slli_si128(v, 3));
      v = _mm_add_epi8(v, _mm_slli_si128(v, 6));
      v = _mm_add_epi8(v, _mm_slli_si128(v, 12));
      carry = _mm_and_si128(_mm_srli_si128(v, 12), firstPixel);
      v = _mm_or_si128(_mm_and_si128(v, keep), _mm_andnot_si128(keep, raw));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), v);
    }
  } else if (bpp == 4 || bpp == 8) {
    for (; i + 16 <= n; i += 16) {
      __m128i v = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i)), carry);
      if (bpp == 4) {
        v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
        carry = _mm_srli_si128(v, 12);
      } else {
        v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
        carry = _mm_srli_si128(v, 8);
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), v);
    }
  }
  return i;
}
#endif

template <size_t kBpp>
void UnfilterSub(uint8_t* row, size_t n, size_t bpp) {
  const size_t step = kBpp ? kBpp : bpp;
  size_t i = step;
#if QV_PNG_SSE2
  // The blocks leave the bytes from i on, whose left pixel is done.
  if constexpr (kBpp == 3 || kBpp == 4 || kBpp == 8) i = std::max(step, UnfilterSubSse2(row, n, kBpp));
#endif
  for (; i < n; i++) row[i] = uint8_t(row[i] + row[i - step]);
}

void UnfilterUp(uint8_t* row, const uint8_t* prev, size_t n) {
  for (size_t i = 0; i < n; i++) row[i] = uint8_t(row[i] + prev[i]);
}

template <size_t kBpp>
void UnfilterAverage(uint8_t* row, const uint8_t* prev, size_t n, size_t bpp) {
  const size_t step = kBpp ? kBpp : bpp;
  const size_t head = std::min(step, n);
  for (size_t i = 0; i < head; i++) row[i] = uint8_t(row[i] + (prev[i] >> 1));
  for (size_t i = step; i < n; i++) row[i] = uint8_t(row[i] + ((unsigned(row[i - step]) + prev[i]) >> 1));
}

template <size_t kBpp>
void UnfilterPaeth(uint8_t* row, const uint8_t* prev, size_t n, size_t bpp) {
  const size_t step = kBpp ? kBpp : bpp;
  const size_t head = std::min(step, n);
  // With no left neighbour the predictor always picks the byte above.
  for (size_t i = 0; i < head; i++) row[i] = uint8_t(row[i] + prev[i]);
  for (size_t i = step; i < n; i++)
    row[i] = uint8_t(row[i] + PaethPredict(row[i - step], prev[i], prev[i - step]));
}

template <size_t kBpp>
void UnfilterWith(uint8_t filter, uint8_t* row, const uint8_t* prev, size_t n, size_t bpp) {
  switch (filter) {
    case 1: UnfilterSub<kBpp>(row, n, bpp); break;
    case 2: UnfilterUp(row, prev, n); break;
    case 3: UnfilterAverage<kBpp>(row, prev, n, bpp); break;
    case 4: UnfilterPaeth<kBpp>(row, prev, n, bpp); break;
    default: break;
  }
}

// Filter types above 4 are left as they are, like type 0.
void UnfilterRow(uint8_t filter, uint8_t* row, const uint8_t* prev, size_t n, size_t bpp) {
  switch (bpp) {
    case 3: UnfilterWith<3>(filter, row, prev, n, bpp); break;
    case 4: UnfilterWith<4>(filter, row, prev, n, bpp); break;
    case 6: UnfilterWith<6>(filter, row, prev, n, bpp); break;
    case 8: UnfilterWith<8>(filter, row, prev, n, bpp); break;
    default: UnfilterWith<0>(filter, row, prev, n, bpp); break;
  }
}

// ------------------------------------------------------------ converters
// A converter places count pixels of unfiltered samples at the columns
// x0, x0 + dx, ... of one DIB row and alpha row. Sequential rows use x0 = 0,
// dx = 1 through the kSeq instantiations so their loops stay simple.

using TRowConverter = void (*)(const uint8_t* src, uint8_t* dib, uint8_t* alpha, int x0, int dx, int count);

// Grey and palette samples of 1, 4 or 8 bits keep their bits.
template <int kDepth, bool kSeq>
void ConvertPacked(const uint8_t* src, uint8_t* dib, uint8_t*, int x0, int dx, int count) {
  if constexpr (kSeq) {
    std::memcpy(dib, src, size_t((int64_t(count) * kDepth + 7) / 8));
  } else {
    constexpr int kPerByte = 8 / kDepth;
    constexpr unsigned kMask = (1u << kDepth) - 1;
    for (int i = 0; i < count; i++) {
      const unsigned v = (src[i / kPerByte] >> ((kPerByte - 1 - i % kPerByte) * kDepth)) & kMask;
      const int x = x0 + i * dx;
      const int shift = (kPerByte - 1 - x % kPerByte) * kDepth;
      uint8_t& d = dib[x / kPerByte];
      d = uint8_t((d & ~(kMask << shift)) | (v << shift));
    }
  }
}

// 2-bit samples become 4-bit pixels: palette indices as they are, grey levels
// times 5, so that the 16-entry grey table shows them as 0, 85, 170 and 255.
template <bool kGrey, bool kSeq>
void Convert2Bit(const uint8_t* src, uint8_t* dib, uint8_t*, int x0, int dx, int count) {
  constexpr unsigned kScale = kGrey ? 5 : 1;
  if constexpr (kSeq) {
    const int fullBytes = count / 4;
    for (int b = 0; b < fullBytes; b++) {
      const unsigned s = src[b];
      dib[b * 2] = uint8_t((((s >> 6) & 3) * kScale << 4) | (((s >> 4) & 3) * kScale));
      dib[b * 2 + 1] = uint8_t((((s >> 2) & 3) * kScale << 4) | ((s & 3) * kScale));
    }
    for (int i = fullBytes * 4; i < count; i++) {
      const unsigned v = ((src[i / 4] >> ((3 - i % 4) * 2)) & 3) * kScale;
      uint8_t& d = dib[i / 2];
      d = (i & 1) ? uint8_t((d & 0xF0) | v) : uint8_t((d & 0x0F) | (v << 4));
    }
  } else {
    for (int i = 0; i < count; i++) {
      const unsigned v = ((src[i / 4] >> ((3 - i % 4) * 2)) & 3) * kScale;
      const int x = x0 + i * dx;
      uint8_t& d = dib[x / 2];
      d = (x & 1) ? uint8_t((d & 0xF0) | v) : uint8_t((d & 0x0F) | (v << 4));
    }
  }
}

// kStep is the bytes per sample (2 for 16 bits, whose high byte counts).
template <int kStep, bool kSeq>
void ConvertGrey16(const uint8_t* src, uint8_t* dib, uint8_t*, int x0, int dx, int count) {
  for (int i = 0; i < count; i++) dib[kSeq ? i : x0 + i * dx] = src[i * kStep];
}

// With kQuads the pixels go to a caller's 32-bit rows, opaque; else to the
// DIB's 3-byte pixels.
template <int kStep, bool kSeq, bool kQuads = false>
void ConvertRgb(const uint8_t* src, uint8_t* dib, uint8_t*, int x0, int dx, int count) {
  if constexpr (kStep == 1 && kSeq) {
    if constexpr (kQuads)
      RgbToOpaqueBgra(src, dib, count);
    else
      SwapRgbRow(src, dib, count);
    return;
  }
  constexpr size_t kOut = kQuads ? 4 : 3;
  for (int i = 0; i < count; i++) {
    const uint8_t* s = src + i * 3 * kStep;
    uint8_t* d = dib + size_t(kSeq ? i : x0 + i * dx) * kOut;
    d[0] = s[2 * kStep];
    d[1] = s[kStep];
    d[2] = s[0];
    if constexpr (kQuads) d[3] = 255;
  }
}

template <int kStep, bool kSeq>
void ConvertGreyAlpha(const uint8_t* src, uint8_t* dib, uint8_t* alpha, int x0, int dx, int count) {
  for (int i = 0; i < count; i++) {
    const int x = kSeq ? i : x0 + i * dx;
    dib[x] = src[i * 2 * kStep];
    alpha[x] = src[i * 2 * kStep + kStep];
  }
}

// With kQuads the alpha goes fourth into a caller's 32-bit rows (the alpha
// row is not used); else to the alpha plane beside the DIB's 3-byte pixels.
template <int kStep, bool kSeq, bool kQuads = false>
void ConvertRgba(const uint8_t* src, uint8_t* dib, uint8_t* alpha, int x0, int dx, int count) {
  if constexpr (kStep == 1 && kSeq) {
    if constexpr (kQuads)
      SwapRgbaRow(src, dib, count);
    else
      RgbaToBgrAndAlpha(src, dib, alpha, count);
    return;
  }
  constexpr size_t kOut = kQuads ? 4 : 3;
  for (int i = 0; i < count; i++) {
    const uint8_t* s = src + i * 4 * kStep;
    const int x = kSeq ? i : x0 + i * dx;
    uint8_t* d = dib + size_t(x) * kOut;
    d[0] = s[2 * kStep];
    d[1] = s[kStep];
    d[2] = s[0];
    if constexpr (kQuads)
      d[3] = s[3 * kStep];
    else
      alpha[x] = s[3 * kStep];
  }
}

template <bool kSeq>
TRowConverter ChooseBgraConverter(int colorType, int bitDepth) {
  if (bitDepth != 8 && bitDepth != 16) return nullptr;
  switch (colorType) {
    case 2: return bitDepth == 16 ? ConvertRgb<2, kSeq, true> : ConvertRgb<1, kSeq, true>;
    case 6: return bitDepth == 16 ? ConvertRgba<2, kSeq, true> : ConvertRgba<1, kSeq, true>;
    default: return nullptr;
  }
}

template <bool kSeq>
TRowConverter ChooseConverter(int colorType, int bitDepth) {
  switch (colorType) {
    case 0:
    case 3:
      switch (bitDepth) {
        case 1: return ConvertPacked<1, kSeq>;
        case 2: return colorType == 0 ? Convert2Bit<true, kSeq> : Convert2Bit<false, kSeq>;
        case 4: return ConvertPacked<4, kSeq>;
        case 8: return ConvertPacked<8, kSeq>;
        case 16: return ConvertGrey16<2, kSeq>;
      }
      return nullptr;
    case 2: return bitDepth == 16 ? ConvertRgb<2, kSeq> : ConvertRgb<1, kSeq>;
    case 4: return bitDepth == 16 ? ConvertGreyAlpha<2, kSeq> : ConvertGreyAlpha<1, kSeq>;
    case 6: return bitDepth == 16 ? ConvertRgba<2, kSeq> : ConvertRgba<1, kSeq>;
    default: return nullptr;
  }
}

// ------------------------------------------------------------ pipeline

// A large picture's rows are placed (converted into the DIB, which also
// faults its fresh pages in) on other threads while the decoding thread
// inflates and unfilters the next block: placing costs about as much as
// inflating, and rows land in rows of their own, so any thread may place any
// block. Small pictures are not worth the threads.
constexpr uint64_t kPipelineMinBytes = 4u << 20;
constexpr size_t kPipelineBlockBytes = 256 * 1024;

class TRowPipeline {
public:
  struct TBlock {
    uint8_t* bytes = nullptr;
    int firstRow = 0, rows = 0;
  };
  using TPlace = std::function<void(int y, const uint8_t* samples)>;

  // Running() is false when the threads or blocks could not be had; the
  // caller then decodes on its own.
  TRowPipeline(size_t rowBytes, TPlace place) : FStride(rowBytes + 1), FPlace(std::move(place)) {
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores < 2) return;
    const int workers = int(std::min(3u, cores - 1));
    FRowsPerBlock = int(std::max<size_t>(1, kPipelineBlockBytes / FStride));
    const size_t blockBytes = size_t(FRowsPerBlock) * FStride;
    const int blocks = workers + 2;
    FMemory.reset(new (std::nothrow) uint8_t[blockBytes * size_t(blocks)]);
    if (!FMemory) return;
    FBlocks.resize(size_t(blocks));
    for (int i = 0; i < blocks; i++) {
      FBlocks[size_t(i)].bytes = FMemory.get() + blockBytes * size_t(i);
      FFree.push_back(&FBlocks[size_t(i)]);
    }
    // Without a thread (none to be had, or no memory for one) the caller
    // decodes on its own; any started are stopped first.
    try {
      FThreads.reserve(size_t(workers));
      for (int i = 0; i < workers; i++) FThreads.emplace_back([this] { Work(); });
    } catch (...) {
      Stop();
    }
  }
  // Waits until every block handed over is placed, also when the decoding
  // stops on an error.
  ~TRowPipeline() { Stop(); }
  TRowPipeline(const TRowPipeline&) = delete;
  TRowPipeline& operator=(const TRowPipeline&) = delete;

  bool Running() const { return !FThreads.empty(); }
  int RowsPerBlock() const { return FRowsPerBlock; }

  // A block to fill, once one is free.
  TBlock& Take() {
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait(lock, [&] { return !FFree.empty(); });
    TBlock* b = FFree.back();
    FFree.pop_back();
    return *b;
  }
  // Hands over a block whose rows, from image row firstRow on, are unfiltered.
  void Give(TBlock& block, int firstRow, int rows) {
    block.firstRow = firstRow;
    block.rows = rows;
    {
      std::lock_guard<std::mutex> lock(FLock);
      FFull.push_back(&block);
    }
    FChanged.notify_all();
  }

private:
  void Work() {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
      FChanged.wait(lock, [&] { return !FFull.empty() || FStopping; });
      if (FFull.empty()) return;
      TBlock* b = FFull.front();
      FFull.pop_front();
      lock.unlock();
      for (int j = 0; j < b->rows; j++) FPlace(b->firstRow + j, b->bytes + size_t(j) * FStride + 1);
      lock.lock();
      FFree.push_back(b);
      FChanged.notify_all();
    }
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FStopping = true;
    }
    FChanged.notify_all();
    for (std::thread& t : FThreads) t.join();
    FThreads.clear();
  }

  const size_t FStride;
  const TPlace FPlace;
  int FRowsPerBlock = 1;
  std::unique_ptr<uint8_t[]> FMemory;
  std::vector<TBlock> FBlocks;
  std::vector<TBlock*> FFree;
  std::deque<TBlock*> FFull;
  std::vector<std::thread> FThreads;
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FStopping = false;
};

// ------------------------------------------------------------ decoder

class TPngRowDecoder {
public:
  // Without rows the pixels go to the header's DIB and alpha plane.
  TPngRowDecoder(TStream& stream, TChunkIHDR& header, int64_t firstLength, TBgraRows rows)
      : FStream(stream), FHeader(header), FRows(rows), FDataLeft(firstLength),
        FMemory(dynamic_cast<TCustomMemoryStream*>(&stream)) {
    FCrc = Crc32Update(0xFFFFFFFFu, "IDAT", 4);
  }
  TPngRowDecoder(const TPngRowDecoder&) = delete;
  TPngRowDecoder& operator=(const TPngRowDecoder&) = delete;

  void Decode(bool interlaced) {
    const int64_t fullRowBytes = RowBytesFor(FHeader.Width(), FHeader.ColorType(), FHeader.BitDepth());
    FPixelBytes = size_t(PixelBytesFor(FHeader.ColorType(), FHeader.BitDepth()));
    const size_t stride = size_t(fullRowBytes) + 1;
    // The block holds as many rows as fit in kOutputBlockSize, and no more
    // than the picture has: a 16-pixel icon needs 1 KB, not 128.
    const uint64_t allBytes = PngImageDataBytes(FHeader.Width(), FHeader.Height(), FHeader.ColorType(),
                                                FHeader.BitDepth(), interlaced);
    const bool tryWhole = FMemory && allBytes > 0 && allBytes <= kWholeInflateMaxBytes;
    FBlockSize = tryWhole ? size_t(allBytes)
                          : std::max(stride, std::min(kOutputBlockSize, stride * size_t(std::max(FHeader.Height(), 1))));
    TScratchLease block(psDecodeRows, FBlockSize + stride);
    FBlock = block.Data();
    FPrevRow = block.Data() + FBlockSize;
    if (tryWhole) InflateWhole();
    if (!FMemory) {
      FInputLease = std::make_unique<TScratchLease>(psDecodeInput, size_t(kInputBlockSize));
      FInput = FInputLease->Data();
    }
    if (interlaced)
      DecodeInterlaced();
    else
      DecodeSequential(size_t(fullRowBytes));
    FinishChunk();
  }

private:
  TRowConverter Converter(bool sequential) const {
    const int ct = FHeader.ColorType(), depth = FHeader.BitDepth();
    const TRowConverter convert = FRows.top ? (sequential ? ChooseBgraConverter<true>(ct, depth)
                                                          : ChooseBgraConverter<false>(ct, depth))
                                            : (sequential ? ChooseConverter<true>(ct, depth)
                                                          : ChooseConverter<false>(ct, depth));
    if (!convert) throw EPngInvalidIHDR();
    return convert;
  }
  uint8_t* PixelRow(int y) const { return FRows.top ? FRows.top + FRows.stride * y : FHeader.DibRow(y); }
  uint8_t* AlphaRow(int y) const { return FRows.top ? nullptr : FHeader.AlphaRowOf(y); }

  void DecodeSequential(size_t rowBytes) {
    const TRowConverter convert = Converter(true);
    const int width = FHeader.Width();
    if ((rowBytes + 1) * uint64_t(std::max(FHeader.Height(), 0)) >= kPipelineMinBytes) {
      TRowPipeline pipeline(rowBytes, [&](int y, const uint8_t* samples) {
        convert(samples, PixelRow(y), AlphaRow(y), 0, 1, width);
      });
      if (pipeline.Running()) {
        DecodeRowsPipelined(pipeline, rowBytes, FHeader.Height());
        return;
      }
    }
    DecodeRows(rowBytes, FHeader.Height(), [&](int y, const uint8_t* samples) {
      convert(samples, PixelRow(y), AlphaRow(y), 0, 1, width);
    });
  }

  void DecodeInterlaced() {
    const TRowConverter convert = Converter(false);
    const int height = FHeader.Height();
    for (const TPngPass& pass : kAdam7Passes) {
      const int passWidth = PassWidth(pass, FHeader.Width());
      const size_t rowBytes = size_t(RowBytesFor(passWidth, FHeader.ColorType(), FHeader.BitDepth()));
      const int rows = height > pass.firstRow ? (height - pass.firstRow + pass.rowStep - 1) / pass.rowStep : 0;
      if (rowBytes == 0 || rows == 0) continue;
      const bool whole = DecodeRows(rowBytes, rows, [&](int i, const uint8_t* samples) {
        const int y = pass.firstRow + i * pass.rowStep;
        convert(samples, PixelRow(y), AlphaRow(y), pass.firstColumn, pass.columnStep, passWidth);
      });
      if (!whole) return;
    }
  }

  // Inflates rowCount rows of rowBytes samples (each after its filter byte)
  // into the output block, as many rows at a time as fit, unfilters them there
  // and hands each to emit. The first row unfilters against zeros. Returns
  // false when the image data ends before the last row is whole; the rows
  // left out stay zero.
  template <class TEmit>
  bool DecodeRows(size_t rowBytes, int rowCount, TEmit&& emit) {
    const size_t stride = rowBytes + 1;
    const int rowsPerBlock = FWholeSize ? rowCount : int(std::max<size_t>(1, FBlockSize / stride));
    std::memset(FPrevRow, 0, stride);
    const uint8_t* prev = FPrevRow + 1;
    for (int done = 0; done < rowCount;) {
      const int want = std::min(rowsPerBlock, rowCount - done);
      uint8_t* block = FBlock;
      size_t got;
      if (FWholeSize) {
        // Inflated already: the rows are the next bytes of the block.
        block = FBlock + FWholeUsed;
        got = std::min(size_t(want) * stride, FWholeSize - FWholeUsed);
        FWholeUsed += got;
      } else {
        got = InflateBytes(FBlock, size_t(want) * stride);
      }
      const int whole = int(got / stride);
      for (int j = 0; j < whole; j++) {
        uint8_t* row = block + size_t(j) * stride;
        UnfilterRow(row[0], row + 1, prev, rowBytes, FPixelBytes);
        emit(done + j, row + 1);
        prev = row + 1;
      }
      if (whole < want) return false;
      // The block is refilled next; its last row is the next one's row above.
      std::memcpy(FPrevRow + 1, prev, rowBytes);
      prev = FPrevRow + 1;
      done += want;
    }
    return true;
  }

  // As DecodeRows, with the rows placed by the pipeline's threads: this one
  // inflates and unfilters a block while they place the blocks before it.
  void DecodeRowsPipelined(TRowPipeline& pipeline, size_t rowBytes, int rowCount) {
    const size_t stride = rowBytes + 1;
    std::memset(FPrevRow, 0, stride);
    for (int done = 0; done < rowCount;) {
      TRowPipeline::TBlock& block = pipeline.Take();
      const int want = std::min(pipeline.RowsPerBlock(), rowCount - done);
      const size_t got = InflateBytes(block.bytes, size_t(want) * stride);
      const int whole = int(got / stride);
      const uint8_t* prev = FPrevRow + 1;
      for (int j = 0; j < whole; j++) {
        uint8_t* row = block.bytes + size_t(j) * stride;
        UnfilterRow(row[0], row + 1, prev, rowBytes, FPixelBytes);
        prev = row + 1;
      }
      // The block goes to another thread and may come back refilled before
      // the next one is unfiltered: its last row is kept here.
      if (whole > 0) std::memcpy(FPrevRow + 1, prev, rowBytes);
      pipeline.Give(block, done, whole);
      if (whole < want) return;
      done += want;
    }
  }

  // Inflates the whole image data into the block in one call when its zlib
  // stream lies in memory: in the first chunk, or in the run of IDAT chunks
  // from it, whose data are then joined (copying compressed bytes costs far
  // less than inflating them). Anything else (more data than the image needs,
  // damaged data, a run too long) leaves the chunks unread for the streaming
  // inflater, which decodes, stops and reports errors as it always does.
  void InflateWhole() {
    libdeflate_decompressor* inflater = ThreadWholeInflater();
    if (!inflater || FDataLeft <= 0) return;
    const uint8_t* base = FMemory->Memory();
    const int64_t size = FMemory->Size();
    const uint8_t* in = base + FMemory->Position();
    size_t inSize = size_t(FDataLeft);
    std::unique_ptr<TScratchLease> joined;
    int64_t next = FMemory->Position() + FDataLeft + 4;  // past the chunk's CRC
    if (next + 8 <= size && IdatLength(base + next, size - next - 8) >= 0) {
      // Incompressible data grows by a few bytes a block; more than this is
      // not an image of this size.
      const size_t limit = FBlockSize + FBlockSize / 8 + 1024;
      joined = std::make_unique<TScratchLease>(psDecodeInput, limit);
      if (inSize > limit) return;
      std::memcpy(joined->Data(), in, inSize);
      for (int64_t length; next + 8 <= size && (length = IdatLength(base + next, size - next - 8)) >= 0;) {
        if (inSize + size_t(length) > limit) return;
        std::memcpy(joined->Data() + inSize, base + next + 8, size_t(length));
        inSize += size_t(length);
        next += 8 + length + 4;
      }
      in = joined->Data();
    }
    size_t used = 0, produced = 0;
    const libdeflate_result r =
        libdeflate_zlib_decompress_ex(inflater, in, inSize, FBlock, FBlockSize, &used, &produced);
    if (r != LIBDEFLATE_SUCCESS || produced == 0) return;
    // The stream's bytes are read through the chunks as the streaming
    // inflater would read them, each chunk's CRC checked on leaving it.
    for (size_t left = used; left > 0;) {
      while (FDataLeft == 0) NextChunk();
      const int64_t take = std::min<int64_t>(int64_t(left), FDataLeft);
      NextInput(take);
      left -= size_t(take);
    }
    FEnded = true;
    FWholeSize = produced;
  }

  // Inflates exactly n bytes, or fewer when the image data ends.
  size_t InflateBytes(uint8_t* dest, size_t n) {
    if (FEnded) return 0;
    inflate_state& z = FInflate.State();
    z.next_out = dest;
    z.avail_out = uint32_t(n);
    // The state may hold decoded bytes that did not fit last time, or bits of
    // input it already took: it gets its turn before more input is fed.
    for (;;) {
      const uint32_t inBefore = z.avail_in, outBefore = z.avail_out;
      const int r = isal_inflate(&z);
      // Every failure of the compressed data (a bad block, symbol, distance,
      // header or check value, or a preset dictionary PNG does not allow)
      // reads as zlib's data error.
      if (r != ISAL_DECOMP_OK) RaisePngZlibError(Z_DATA_ERROR);
      if (z.block_state == ISAL_BLOCK_FINISH) {
        FEnded = true;
        break;
      }
      if (z.avail_out == 0) break;
      if (z.avail_in > 0) {
        if (z.avail_in == inBefore && z.avail_out == outBefore) RaisePngZlibError(Z_DATA_ERROR);
        continue;
      }
      while (FDataLeft == 0) NextChunk();
      const int64_t want = std::min(FDataLeft, kInputBlockSize);
      z.next_in = const_cast<uint8_t*>(NextInput(want));
      z.avail_in = uint32_t(want);
    }
    return n - z.avail_out;
  }

  // The next count bytes of the chunk, counted into its CRC: read from a
  // memory stream in place, else through the input block.
  const uint8_t* NextInput(int64_t count) {
    const uint8_t* bytes;
    if (FMemory) {
      bytes = FMemory->Memory() + FMemory->Position();
      FMemory->Seek(count, soCurrent);
    } else {
      ReadExactly(FInput, count);
      bytes = FInput;
    }
    FCrc = Crc32Update(FCrc, bytes, size_t(count));
    FDataLeft -= count;
    return bytes;
  }

  void ReadExactly(uint8_t* buffer, int64_t count) {
    if (FStream.Read(buffer, count) != count) throw EPNGMissingMultipleIDAT();
  }

  void CheckCrc() {
    uint8_t stored[4];
    ReadExactly(stored, 4);
    if (ReadBE32(stored) != ~FCrc) throw EPngInvalidCRC();
  }

  // The length of the chunk whose 8 header bytes are head, with remaining
  // bytes of the stream after them: -1 unless it is an IDAT chunk that lies
  // whole within the stream.
  static int64_t IdatLength(const uint8_t* head, int64_t remaining) {
    if (std::memcmp(head + 4, "IDAT", 4) != 0) return -1;
    const int64_t length = ReadBE32(head);
    if (length > kPngMaxChunkLength || length + 4 > remaining) return -1;
    return length;
  }

  // The image data goes on in the next chunk, which must be an IDAT chunk that
  // lies whole within the stream.
  void NextChunk() {
    CheckCrc();
    uint8_t head[8];
    if (FStream.Read(head, 8) != 8) throw EPNGMissingMultipleIDAT();
    const int64_t length = IdatLength(head, FStream.Remaining());
    if (length < 0) throw EPNGMissingMultipleIDAT();
    FCrc = Crc32Update(0xFFFFFFFFu, "IDAT", 4);
    FDataLeft = length;
  }

  // Reads whatever the image did not need of the current chunk, so that its
  // CRC covers all of it and the stream stands at the next chunk.
  void FinishChunk() {
    while (FDataLeft > 0) NextInput(std::min(FDataLeft, kInputBlockSize));
    CheckCrc();
  }

  TStream& FStream;
  TChunkIHDR& FHeader;
  const TBgraRows FRows;
  int64_t FDataLeft;
  // A memory stream whose bytes inflate reads in place; null for others.
  TCustomMemoryStream* FMemory;
  uint32_t FCrc = 0;
  TInflateLease FInflate;
  bool FEnded = false;
  std::unique_ptr<TScratchLease> FInputLease;
  uint8_t* FInput = nullptr;
  uint8_t* FBlock = nullptr;
  size_t FBlockSize = 0;
  // Bytes the whole-buffer inflater put in the block (0 when it did not) and
  // how many of them rows have taken.
  size_t FWholeSize = 0, FWholeUsed = 0;
  uint8_t* FPrevRow = nullptr;
  size_t FPixelBytes = 1;
};

// Grey images take their colours from a table of evenly spaced greys.
void BuildGreyPalette(TChunkIHDR& header) {
  const int n = 1 << header.BitmapInfo().bmiHeader.biBitCount;
  for (int i = 0; i < n; i++) {
    const uint8_t g = uint8_t((i * 255 + (n - 1) / 2) / (n - 1));
    header.BitmapInfo().bmiColors[i] = RGBQUAD{g, g, g, 0};
  }
}

}  // namespace

bool TChunkIDAT::LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) {
  TChunkIHDR* header = OwnerHeader();
  const TBgraRowsFor* target = OwnerImage() ? OwnerImage()->BgraRowsTarget() : nullptr;
  if (!header || (!target && !header->ImageBits())) throw EPngInvalidIHDR();
  if (length < 0 || int64_t(length) + 4 > stream.Remaining()) throw EPNGMissingMultipleIDAT();
  if (header->HasPalette() && (header->ColorType() == 0 || header->ColorType() == 4)) BuildGreyPalette(*header);
  const bool interlaced = OwnerImage() ? OwnerImage()->InterlaceMode() == 1 : header->InterlaceMethod() == 1;
  TBgraRows rows;
  if (target) {
    // A transparent colour would need the samples compared before they are
    // placed; such pictures go the way of the DIB.
    if (OwnerImage()->ChunkList().FirstOfClass<TChunktRNS>()) throw EPngBgraDeclined();
    rows = (*target)(header->Width(), header->Height());
    if (!rows.top) throw EPNGOutMemory();
  }
  TPngRowDecoder decoder(stream, *header, length, rows);
  decoder.Decode(interlaced);
  return true;
}
