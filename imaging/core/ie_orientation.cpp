#include "imaging/core/ie_orientation.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_thread_pool.h"

namespace {

void MirrorRow(uint8_t* row, int width, int bpp) {
  if (bpp == 1) {
    for (int a = 0, b = width - 1; a < b; ++a, --b) {
      const bool va = GetBit(row, a), vb = GetBit(row, b);
      SetBit(row, a, vb);
      SetBit(row, b, va);
    }
    return;
  }
  const int n = bpp / 8;
  uint8_t tmp[8];
  for (int a = 0, b = width - 1; a < b; ++a, --b) {
    std::memcpy(tmp, row + int64_t(a) * n, n);
    std::memcpy(row + int64_t(a) * n, row + int64_t(b) * n, n);
    std::memcpy(row + int64_t(b) * n, tmp, n);
  }
}

void FlipOne(TIEBitmap& b, int direction) {
  const int w = b.Width(), h = b.Height(), bpp = b.BitCount();
  if (b.IsEmpty() || b.IsVirtual()) return;
  const int64_t len = b.RowLen();
  if (direction == 0) {
    for (int y = 0; y < h; ++y) MirrorRow(b.ScanLine(y), w, bpp);
  } else {
    // Rows are copied out: a file-backed row address lasts only until the next.
    std::vector<uint8_t> top(static_cast<size_t>(len)), bottom(static_cast<size_t>(len));
    for (int a = 0, z = h - 1; a < z; ++a, --z) {
      std::memcpy(top.data(), b.ScanLine(a), top.size());
      std::memcpy(bottom.data(), b.ScanLine(z), bottom.size());
      std::memcpy(b.ScanLine(z), top.data(), top.size());
      std::memcpy(b.ScanLine(a), bottom.data(), bottom.size());
    }
  }
  b.UnmapRows();
}

// A block of k source rows becomes k neighbouring pixels of each band row:
// the writes of one band row are contiguous, so the turn walks memory in runs
// instead of touching a new page for every pixel. N is the pixel width.
template <int N>
void CopyBlock(const uint8_t* block, int64_t srcLen, int k, int xFirst, int xStep, uint8_t* const* out0, int y0,
               int y1, int ws, bool reversed) {
  for (int y = y0; y < y1; ++y) {
    const int col = reversed ? ws - 1 - y : y;
    uint8_t* out = out0[y - y0];
    const uint8_t* in = block + int64_t(col) * N;
    int x = xFirst;
    for (int i = 0; i < k; ++i, x += xStep, in += srcLen) std::memcpy(out + int64_t(x) * N, in, N);
  }
}

enum QuarterKind { qkTranspose, qkClockwise, qkTransverse, qkCounterClockwise };

// Both bitmaps in memory: the rows stay where they are, so every worker reads
// its own blocks of source rows straight from the source and writes their
// columns into the destination rows (workers touch other bytes of each row).
template <int N>
void QuarterTurnInMemory(TIEBitmap& src, TIEBitmap& dst, bool columnReversed, bool rowReversed) {
  const int ws = src.Width(), hs = src.Height();
  std::vector<uint8_t*> out(static_cast<size_t>(ws));
  std::vector<const uint8_t*> in(static_cast<size_t>(hs));
  for (int y = 0; y < ws; ++y) out[size_t(y)] = dst.ScanLine(y);
  for (int r = 0; r < hs; ++r) in[size_t(r)] = src.ScanLine(r);
  constexpr int kBlock = 32;
  const int blocks = (hs + kBlock - 1) / kBlock;
  IERunRowBands(blocks, false, [&](int firstBlock, int lastBlock) {
    for (int b = firstBlock; b <= lastBlock; ++b) {
      const int r0 = b * kBlock, k = std::min(kBlock, hs - r0);
      const uint8_t* const* rows = in.data() + r0;
      const int xFirst = rowReversed ? hs - 1 - r0 : r0;
      const int xStep = rowReversed ? -1 : 1;
      for (int y = 0; y < ws; ++y) {
        const int64_t col = int64_t(columnReversed ? ws - 1 - y : y) * N;
        uint8_t* o = out[size_t(y)];
        int x = xFirst;
        for (int i = 0; i < k; ++i, x += xStep) std::memcpy(o + int64_t(x) * N, rows[i] + col, N);
      }
    }
  });
}

// Fills dst (already Hs wide and Ws high) from src. Destination rows are built
// in bands held in memory, and the source is read row by row once per band, so
// file-backed bitmaps are streamed rather than mapped pixel by pixel.
void QuarterTurn(TIEBitmap& src, TIEBitmap& dst, QuarterKind kind) {
  const int ws = src.Width(), hs = src.Height(), bpp = src.BitCount();
  const int64_t dstLen = dst.RowLen();
  const int bytes = bpp / 8;
  const bool columnReversed = kind == qkTransverse || kind == qkCounterClockwise;  // src col = ws-1-y
  const bool rowReversed = kind == qkClockwise || kind == qkTransverse;           // src row = hs-1-x
  if (src.Location() != ieFile && dst.Location() != ieFile && !src.IsVirtual()) {
    switch (bpp) {
      case 8: QuarterTurnInMemory<1>(src, dst, columnReversed, rowReversed); return;
      case 16: QuarterTurnInMemory<2>(src, dst, columnReversed, rowReversed); return;
      case 24: QuarterTurnInMemory<3>(src, dst, columnReversed, rowReversed); return;
      case 32: QuarterTurnInMemory<4>(src, dst, columnReversed, rowReversed); return;
      case 48: QuarterTurnInMemory<6>(src, dst, columnReversed, rowReversed); return;
      default: break;  // 1-bit pixels share bytes: one worker, below
    }
  }
  const int64_t bandRows = std::max<int64_t>(1, std::min<int64_t>(ws, (int64_t(64) << 20) / std::max<int64_t>(dstLen, 1)));
  const int64_t srcLen = src.RowLen();
  constexpr int kBlock = 32;
  std::vector<uint8_t> block(static_cast<size_t>(srcLen * kBlock));
  // A destination in memory is written in place; one in a temporary file
  // through a band, as its rows stay mapped only one at a time.
  const bool direct = dst.Location() != ieFile;
  std::vector<uint8_t*> rows;
  for (int y0 = 0; y0 < ws; y0 += static_cast<int>(bandRows)) {
    const int y1 = static_cast<int>(std::min<int64_t>(ws, y0 + bandRows));
    std::vector<uint8_t> band(direct ? 0 : static_cast<size_t>(int64_t(y1 - y0) * dstLen), 0);
    rows.assign(size_t(y1 - y0), nullptr);
    for (int y = y0; y < y1; ++y) {
      rows[size_t(y - y0)] = direct ? dst.ScanLine(y) : band.data() + int64_t(y - y0) * dstLen;
      if (direct && bpp == 1) std::memset(rows[size_t(y - y0)], 0, static_cast<size_t>(dstLen));
    }
    for (int r0 = 0; r0 < hs; r0 += kBlock) {
      const int k = std::min(kBlock, hs - r0);
      for (int i = 0; i < k; ++i) std::memcpy(block.data() + i * srcLen, src.ScanLine(r0 + i), static_cast<size_t>(srcLen));
      const int xFirst = rowReversed ? hs - 1 - r0 : r0;
      const int xStep = rowReversed ? -1 : 1;
      if (bpp == 1) {
        for (int y = y0; y < y1; ++y) {
          const int col = columnReversed ? ws - 1 - y : y;
          uint8_t* out = rows[size_t(y - y0)];
          for (int i = 0; i < k; ++i) SetBit(out, xFirst + i * xStep, GetBit(block.data() + i * srcLen, col));
        }
        continue;
      }
      switch (bytes) {
        case 1: CopyBlock<1>(block.data(), srcLen, k, xFirst, xStep, rows.data(), y0, y1, ws, columnReversed); break;
        case 2: CopyBlock<2>(block.data(), srcLen, k, xFirst, xStep, rows.data(), y0, y1, ws, columnReversed); break;
        case 3: CopyBlock<3>(block.data(), srcLen, k, xFirst, xStep, rows.data(), y0, y1, ws, columnReversed); break;
        case 4: CopyBlock<4>(block.data(), srcLen, k, xFirst, xStep, rows.data(), y0, y1, ws, columnReversed); break;
        case 6: CopyBlock<6>(block.data(), srcLen, k, xFirst, xStep, rows.data(), y0, y1, ws, columnReversed); break;
      }
    }
    if (!direct)
      for (int y = y0; y < y1; ++y)
        std::memcpy(dst.ScanLine(y), band.data() + int64_t(y - y0) * dstLen, static_cast<size_t>(dstLen));
  }
  src.UnmapRows();
  dst.UnmapRows();
}

// A bitmap with the same storage wishes as b, Hs wide and Ws high.
std::unique_ptr<TIEBitmap> TurnedLike(TIEBitmap& b, QuarterKind kind) {
  auto t = std::make_unique<TIEBitmap>();
  t->SetMemoryLimit(b.MemoryLimit());
  t->SetLocation(b.Location() == ieTBitmap ? ieMemory : b.Location());
  t->SetRowAlignment(b.RowAlignment());
  t->SetAllocatorKind(b.AllocatorKind());
  t->SetBWConversion(b.BWConversion());
  if (!t->Allocate(b.Height(), b.Width(), b.PixelFormat())) return nullptr;
  QuarterTurn(b, *t, kind);
  b.CopyPaletteTo(t.get());
  t->SetFull(b.Full());
  return t;
}

bool TurnQuarter(TIEBitmap& b, QuarterKind kind) {
  if (b.IsEmpty() || b.IsVirtual()) return true;
  auto turned = TurnedLike(b, kind);
  if (!turned) return false;
  if (b.HasAlphaChannel()) {
    auto alpha = TurnedLike(*b.AlphaChannel(), kind);
    if (!alpha) return false;
    AttachAlphaChannel(*turned, std::move(alpha));
  }
  turned->MoveStorageTo(b);
  return true;
}

}  // namespace

void FlipBitmap(TIEBitmap& bitmap, int direction) {
  FlipOne(bitmap, direction);
  if (bitmap.HasAlphaChannel()) FlipOne(*bitmap.AlphaChannel(), direction);
}

bool QuarterTurnInto(TIEBitmap& source, TIEBitmap& destination, bool clockwise) {
  if (source.IsEmpty() || source.IsVirtual() || &source == &destination) return false;
  if (!destination.Allocate(source.Height(), source.Width(), source.PixelFormat())) return false;
  QuarterTurn(source, destination, clockwise ? qkClockwise : qkCounterClockwise);
  source.CopyPaletteTo(&destination);
  return true;
}

bool ApplyExifOrientation(TIEBitmap& bitmap, int orientation) {
  switch (orientation) {
    case 2: FlipBitmap(bitmap, 0); return true;
    case 3:
      FlipBitmap(bitmap, 1);
      FlipBitmap(bitmap, 0);
      return true;
    case 4: FlipBitmap(bitmap, 1); return true;
    case 5: return TurnQuarter(bitmap, qkTranspose);
    case 6: return TurnQuarter(bitmap, qkClockwise);
    case 7: return TurnQuarter(bitmap, qkTransverse);
    case 8: return TurnQuarter(bitmap, qkCounterClockwise);
    default: return true;
  }
}
