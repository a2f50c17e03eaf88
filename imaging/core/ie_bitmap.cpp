#include "imaging/core/ie_bitmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "imaging/core/ie_colorspace.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_memory.h"
#include "imaging/core/ie_pixel_convert.h"
#include "imaging/core/ie_startup.h"
#include "platform/graphics/graphics_bitmap.h"

namespace {

int64_t DefaultMemoryLimit() {
  if (MemoryLimitOverride != -1) return MemoryLimitOverride;
  const int64_t physical = GetPhysicalMemory(false);
  if (physical > 0) return static_cast<int64_t>(std::trunc(physical / 1.1));
  return 33554432;
}

// Bytes of a row that hold pixels (the rest is padding).
int64_t UsedRowBytes(int64_t width, int bpp) { return (width * bpp + 7) / 8; }

}  // namespace

// ---- construction ----

TIEBitmap::TIEBitmap() : FFileBuffer(std::make_unique<TIEFileBuffer>()), FMemoryLimit(DefaultMemoryLimit()) {}

TIEBitmap::TIEBitmap(int width, int height, TIEBitmapFormat format) : TIEBitmap() {
  Allocate(width, height, format);
}

TIEBitmap::~TIEBitmap() { FreeImage(true); }

std::unique_ptr<TIEBitmap> TIEBitmap::CreateCopy(TIEBitmap& source) {
  auto b = std::make_unique<TIEBitmap>();
  b->Assign(&source);
  return b;
}

std::unique_ptr<TIEBitmap> TIEBitmap::CreateAlphaChannel(int width, int height, TIEStorageLocation location) {
  auto b = std::make_unique<TIEBitmap>();
  b->FIsAlphaChannel = true;
  b->FLocation = location == ieTBitmap ? ieMemory : location;
  if (b->Allocate(width, height, ie8g)) b->Fill(255);
  return b;
}

// ---- geometry ----

// A framework bitmap may have been changed through its canvas: every geometry
// read looks at it first.
#define QV_SYNC_FRAMEWORK() \
  if (FLocation == ieTBitmap) SyncFromTBitmap()

int TIEBitmap::BitCount() {
  QV_SYNC_FRAMEWORK();
  return FBitsPerPixel;
}
int TIEBitmap::Height() {
  QV_SYNC_FRAMEWORK();
  return FHeight;
}
int TIEBitmap::Width() {
  QV_SYNC_FRAMEWORK();
  return FWidth;
}
TIEBitmapFormat TIEBitmap::PixelFormat() {
  QV_SYNC_FRAMEWORK();
  return FPixelFormat;
}
int64_t TIEBitmap::RowLen() {
  QV_SYNC_FRAMEWORK();
  return FRowLength;
}
int TIEBitmap::ChannelCount() {
  QV_SYNC_FRAMEWORK();
  return FChannels;
}

// ---- rows ----

void TIEBitmap::UnmapMappedRow() {
  if (FMappedRow) {
    FFileBuffer->Unmap(FMappedRow);
    FMappedRow = nullptr;
  }
}

uint8_t* TIEBitmap::ScanLine(int row) {
  if (IsVirtual()) {
    if (FRenderer) return FRenderer->GetPixels(this, row, FWidth, 0);
    return PixelAddress(row, 0, FWidth);
  }
  if (FTopDown) row = FHeight - 1 - row;
  switch (FLocation) {
    case ieMemory:
      if (FSegmentCount > 0) {
        auto* seg = static_cast<uint8_t*>(FSegments[static_cast<size_t>(row / FRowsPerSegment)]);
        return seg + int64_t(row % FRowsPerSegment) * FRowLength;
      }
      if (!FMemoryBase) return nullptr;
      return FMemoryBase + int64_t(FHeight - 1 - row) * FRowLength;
    case ieFile:
      if (!FFileBuffer->IsAllocated()) return nullptr;
      UnmapMappedRow();
      FMappedRow = FFileBuffer->Map(FAccess, FRowLength, int64_t(row) * FRowLength);
      return FMappedRow;
    case ieTBitmap:
      // A stale row table after a canvas resize would point into freed pixels.
      if (FFrameworkBitmap && (FFrameworkBitmap->GetHeight() != FHeight || FFrameworkBitmap->GetWidth() != FWidth ||
                               FRowTable.empty() || FFrameworkBitmap->ScanLine(0) != FRowTable[0]))
        SyncFromTBitmap();
      if (row < 0 || static_cast<size_t>(row) >= FRowTable.size()) return nullptr;
      return FRowTable[static_cast<size_t>(row)];
  }
  return nullptr;
}

uint8_t* TIEBitmap::AcquireRow(int row) {
  if (FLocation != ieFile || IsVirtual()) return ScanLine(row);
  if (!FFileBuffer->IsAllocated()) return nullptr;
  UnmapMappedRow();
  if (FTopDown) row = FHeight - 1 - row;
  uint8_t* w = FFileBuffer->Map(FAccess, FRowLength, int64_t(row) * FRowLength);
  if (w) {
    FAcquiredWindows.push_back(w);
    FAcquiredRows.push_back(row);
  }
  return w;
}

void TIEBitmap::ReleaseRow(int row) {
  if (FLocation != ieFile) return;
  if (FTopDown) row = FHeight - 1 - row;
  for (size_t i = FAcquiredRows.size(); i-- > 0;) {
    if (FAcquiredRows[i] != row) continue;
    FFileBuffer->Unmap(FAcquiredWindows[i]);
    FAcquiredWindows.erase(FAcquiredWindows.begin() + static_cast<std::ptrdiff_t>(i));
    FAcquiredRows.erase(FAcquiredRows.begin() + static_cast<std::ptrdiff_t>(i));
    return;
  }
}

void TIEBitmap::UnmapRows() {
  UnmapMappedRow();
  while (!FAcquiredWindows.empty()) {
    FFileBuffer->Unmap(FAcquiredWindows.back());
    FAcquiredWindows.pop_back();
  }
  FAcquiredRows.clear();
}

uint8_t* TIEBitmap::PixelAddress(int y, int x, int n) {
  if (FRenderer) return FRenderer->GetPixels(this, y, n, x);
  if (FRowCallback) {
    const size_t need = static_cast<size_t>(std::max<int64_t>(FRowLength, int64_t(FWidth) * 3));
    if (FVirtualRowBuffer.size() < need) FVirtualRowBuffer.resize(need);
    auto* px = reinterpret_cast<TRGB*>(FVirtualRowBuffer.data());
    for (int i = 0; i < n; ++i) FRowCallback(this, x + i, &px[i], y);
    return FVirtualRowBuffer.data();
  }
  uint8_t* row = ScanLine(y);
  return row ? row + int64_t(x) * (FBitsPerPixel / 8) : nullptr;
}

void TIEBitmap::SetPixel8(int x, int y, uint8_t v) {
  ScanLine(y)[x] = v;
  if (v != 255) FFull = false;
}

void TIEBitmap::SetPixel16(int x, int y, uint16_t v) {
  reinterpret_cast<uint16_t*>(ScanLine(y))[x] = v;
  if (v != 65535) FFull = false;
}

void TIEBitmap::SetPixelFloat(int x, int y, float v) {
  reinterpret_cast<float*>(ScanLine(y))[x] = v;
  if (!(v >= 1.0f)) FFull = false;
}

void TIEBitmap::SetPixelRGB48(int x, int y, TRGB48 v) {
  reinterpret_cast<TRGB48*>(ScanLine(y))[x] = v;
  if (v.r != 65535 || v.g != 65535 || v.b != 65535) FFull = false;
}

void TIEBitmap::SetPixelCMYK(int x, int y, TCMYK v) { reinterpret_cast<TCMYK*>(ScanLine(y))[x] = v; }

void TIEBitmap::SetPixelRGB(int x, int y, TRGB v) { reinterpret_cast<TRGB*>(ScanLine(y))[x] = v; }

// ---- palette ----

void TIEBitmap::GetPaletteColor(int index, TRGB& rgb) {
  if (index >= 0 && index < FPaletteCount) rgb = FPaletteData[static_cast<size_t>(index)];
}

void TIEBitmap::SetPaletteColor(int index, const TRGB& rgb) {
  if (index < 0 || index >= FPaletteCount) return;
  FPaletteData[static_cast<size_t>(index)] = rgb;
  if (FLocation == ieTBitmap) UpdateTBitmapPalette();
}

void TIEBitmap::CopyPaletteTo(TIEBaseBitmap* destination) {
  auto* dest = dynamic_cast<TIEBitmap*>(destination);
  if (!dest || dest == this) return;
  dest->FPaletteData.clear();
  dest->FPaletteCount = 0;
  dest->FPaletteColorCount = 256;
  if (FPaletteCount == 0) return;
  dest->FPaletteData = FPaletteData;
  dest->FPaletteCount = FPaletteCount;
  dest->FPaletteColorCount = FPaletteColorCount;
  if (dest->FLocation == ieTBitmap) dest->UpdateTBitmapPalette();
}

// ---- allocation ----

bool TIEBitmap::Allocate(int width, int height, TIEBitmapFormat format) {
  if (!FNeedsReallocation && width == FWidth && height == FHeight && format == FPixelFormat && !IsEmpty())
    return true;
  FreeImage(true);
  FWidth = width;
  FHeight = height;
  FPixelFormat = format;
  const bool ok = AllocateStorage();
  if (!ok) {
    FWidth = 0;
    FHeight = 0;
    FRowLength = 0;
    FBitsPerPixel = 0;
    FChannels = 0;
  }
  FNeedsReallocation = false;
  return ok;
}

bool TIEBitmap::AllocateStorage() {
  if (FWidth < 1 || FHeight < 1 || FPixelFormat == ieNoFormat || FPixelFormat >= kIEFormatCount) return false;
  FCachedObject.reset();
  if (FPixelFormat == ie8p) {
    if (IEAllocationRefused(768)) return false;
    FPaletteData.assign(256, TRGB{});
    FPaletteCount = 256;
  }
  FBitsPerPixel = IEBitsPerPixel(FPixelFormat);
  FChannels = IEChannels(FPixelFormat);
  FRowLength = AlignedRowLength(FWidth, FBitsPerPixel, FRowAlignment);
  if (!IsVirtual()) {
    // Sizes are 64-bit, and a product that would not fit is refused outright.
    if (FRowLength <= 0 || FRowLength > INT64_MAX / FHeight) return false;
    const int64_t size = FRowLength * FHeight;
    if (FLocation == ieFile && size <= FMemoryLimit) FLocation = ieMemory;
    else if (FLocation == ieMemory && size > FMemoryLimit) FLocation = ieFile;
    // Above the memory limit the pixels go to a temporary file only where the
    // program allows it; otherwise the picture is refused, not written to disk.
    const bool overLimit = FLocation == ieFile && !AllowFileFallback;
    bool ok = false;
    if (overLimit) FLocation = ieMemory;
    else switch (FLocation) {
      case ieFile:
        ok = AllocateFileStore(size);
        if (!ok) {
          FLocation = ieMemory;
          ok = AllocateMemory(size);
        }
        break;
      case ieMemory:
        ok = AllocateMemory(size);
        break;
      case ieTBitmap:
        ok = AllocateFrameworkBitmap();
        break;
    }
    if (!ok) {
      FPaletteData.clear();
      FPaletteCount = 0;
      return false;
    }
  }
  FFull = false;
  return true;
}

bool TIEBitmap::AllocateFileStore(int64_t size) { return FFileBuffer->AllocateFile("IMG", true, size); }

bool TIEBitmap::AllocateMemory(int64_t size) {
  const int64_t total = size + 128;
  void* block = nullptr;
  switch (FAllocatorKind) {
    case 0:
      block = IEAllocationRefused(total) ? nullptr : std::malloc(static_cast<size_t>(total));
      break;
    case 1:
      block = GlobalAllocZeroed(total);
      break;
    default:
      block = AllocLargeBlock(total);
      break;
  }
  if (block) {
    FMemoryBlock = block;
    FMemoryBlockKind = FAllocatorKind > 2 ? 2 : FAllocatorKind;
    const auto addr = reinterpret_cast<uintptr_t>(block);
    FMemoryBase = reinterpret_cast<uint8_t*>((addr + 63) & ~uintptr_t(63));
    return true;
  }
  if (AllocateSegments()) return true;
  if (!AllowFileFallback) return false;
  FLocation = ieFile;
  return AllocateFileStore(size);
}

bool TIEBitmap::AllocateSegments() {
  if (!AllowSegments) return false;
  for (int64_t n = 4; n < FHeight; n *= 2) {
    const int64_t rowsPerSegment = (FHeight + n - 1) / n;
    const int64_t segmentSize = rowsPerSegment * FRowLength;
    if (segmentSize < 10485760 && n > 4) return false;
    std::vector<void*> segments(static_cast<size_t>(n), nullptr);
    bool all = true;
    for (auto& s : segments) {
      s = GlobalAllocZeroed(segmentSize);
      if (!s) {
        all = false;
        break;
      }
    }
    if (all) {
      FSegments = std::move(segments);
      FSegmentCount = static_cast<int32_t>(n);
      FRowsPerSegment = static_cast<int32_t>(rowsPerSegment);
      return true;
    }
    for (auto& s : segments) GlobalFreeAndNil(s);
  }
  return false;
}

void TIEBitmap::FreeSegments() {
  for (auto& s : FSegments) GlobalFreeAndNil(s);
  FSegments.clear();
  FSegmentCount = 0;
  FRowsPerSegment = 0;
}

void TIEBitmap::FreeMemoryBlock() {
  if (FMemoryBlock && !FBorrowedMemory) {
    switch (FMemoryBlockKind) {
      case 0: std::free(FMemoryBlock); break;
      case 1: GlobalFreeAndNil(FMemoryBlock); break;
      default: FreeLargeBlock(FMemoryBlock); break;
    }
  }
  FMemoryBlock = nullptr;
  FMemoryBase = nullptr;
}

void TIEBitmap::FreeImage(bool withAlpha) {
  if (withAlpha) FAlphaBitmap.reset();
  FPaletteData.clear();
  UnmapRows();
  FFileBuffer->Close();
  FreeMemoryBlock();
  FreeFrameworkBitmap();
  FRowTable.clear();
  FreeSegments();
  FVirtualRowBuffer.clear();
  FVirtualRowBuffer.shrink_to_fit();
  FCachedObject.reset();
  FWidth = 0;
  FHeight = 0;
  FBitsPerPixel = 0;
  FChannels = 0;
  FRowLength = 0;
  FPaletteCount = 0;
  FFull = false;
  FBorrowedTBitmap = false;
  FBorrowedMemory = false;
  FTopDown = false;
}

// ---- moving content ----

void TIEBitmap::MoveStorageTo(TIEBitmap& d) {
  if (&d == this) return;
  d.FreeImage(true);
  UnmapMappedRow();
  d.FFileBuffer = std::move(FFileBuffer);
  FFileBuffer = std::make_unique<TIEFileBuffer>();
  d.FMappedRow = nullptr;
  d.FAcquiredWindows = std::move(FAcquiredWindows);
  d.FAcquiredRows = std::move(FAcquiredRows);
  FAcquiredWindows.clear();
  FAcquiredRows.clear();
  d.FPaletteData = std::move(FPaletteData);
  FPaletteData.clear();
  d.FPaletteCount = std::exchange(FPaletteCount, 0);
  d.FAlphaBitmap = std::move(FAlphaBitmap);
  d.FMemoryBase = std::exchange(FMemoryBase, nullptr);
  d.FMemoryBlock = std::exchange(FMemoryBlock, nullptr);
  d.FMemoryBlockKind = FMemoryBlockKind;
  d.FFrameworkBitmap = std::exchange(FFrameworkBitmap, nullptr);
  d.FOwnedTBitmap = std::move(FOwnedTBitmap);
  d.FRowTable = std::move(FRowTable);
  FRowTable.clear();
  d.FTopDown = std::exchange(FTopDown, false);
  d.FWidth = std::exchange(FWidth, 0);
  d.FHeight = std::exchange(FHeight, 0);
  d.FBitsPerPixel = std::exchange(FBitsPerPixel, 0);
  d.FChannels = std::exchange(FChannels, 0);
  d.FRowLength = std::exchange(FRowLength, 0);
  d.FPixelFormat = FPixelFormat;
  d.FIsAlphaChannel = FIsAlphaChannel;
  d.FLocation = FLocation;
  d.FFull = std::exchange(FFull, false);
  d.FBorrowedTBitmap = std::exchange(FBorrowedTBitmap, false);
  d.FBorrowedMemory = std::exchange(FBorrowedMemory, false);
  d.FRowAlignment = FRowAlignment;
  d.FAllocatorKind = FAllocatorKind;
  d.FBWConversion = FBWConversion;
  d.FPaletteColorCount = FPaletteColorCount;
  d.FCachedObject = std::move(FCachedObject);
  d.FSegmentCount = std::exchange(FSegmentCount, 0);
  d.FRowsPerSegment = std::exchange(FRowsPerSegment, 0);
  d.FSegments = std::move(FSegments);
  FSegments.clear();
  d.FRowCallback = std::move(FRowCallback);
  FRowCallback = nullptr;
  d.FRenderer = std::move(FRenderer);
  d.FVirtualRowBuffer = std::move(FVirtualRowBuffer);
  FVirtualRowBuffer.clear();
  FNeedsReallocation = true;
}

void TIEBitmap::CopyRowsFrom(TIEBitmap& source) {
  TIEAccessScope readOnly(source, 1);
  TIEAccessScope writeOnly(*this, 2);
  if (FLocation == ieFile && source.FLocation == ieFile && !IsVirtual() && !source.IsVirtual() &&
      FRowLength == source.FRowLength && !FTopDown && !source.FTopDown && FFileBuffer->IsAllocated() &&
      source.FFileBuffer->IsAllocated()) {
    UnmapRows();
    source.UnmapRows();
    source.FFileBuffer->CopyTo(*FFileBuffer, int64_t(FHeight) * FRowLength, 0);
    return;
  }
  const int64_t n = std::min(FRowLength, source.FRowLength);
  const int rows = std::min(FHeight, source.FHeight);
  for (int y = 0; y < rows; ++y) {
    const uint8_t* s = source.ScanLine(y);
    uint8_t* d = ScanLine(y);
    if (s && d) std::memcpy(d, s, static_cast<size_t>(n));
  }
  UnmapMappedRow();
  source.UnmapMappedRow();
}

bool TIEBitmap::CanReuseStorageFor(const TIEBitmap& source, bool takeAlignment) const {
  // The same geometry in storage of our own: the pixels are simply overwritten,
  // which needs no second block and so cannot fail for want of memory.
  return !IsEmpty() && !IsVirtual() && !FBorrowedMemory && !FBorrowedTBitmap && FLocation != ieTBitmap &&
         FWidth == source.FWidth && FHeight == source.FHeight && FPixelFormat == source.FPixelFormat &&
         (!takeAlignment || FRowAlignment == source.FRowAlignment) && !FTopDown;
}

void TIEBitmap::CopyContentFrom(TIEBitmap& source, bool withAlpha, bool takeAlignment) {
  if (&source == this) return;
  if (CanReuseStorageFor(source, takeAlignment)) {
    FCachedObject.reset();
    CopyRowsFrom(source);
    FinishCopyFrom(source, withAlpha, nullptr);
    return;
  }
  FNeedsReallocation = true;
  // The present picture stays whole until the copy's storage exists, so a
  // failed allocation leaves this bitmap as it was.
  TIEBitmap previous;
  MoveStorageTo(previous);
  FLocation = previous.FLocation;
  FRowAlignment = previous.FRowAlignment;
  FAllocatorKind = previous.FAllocatorKind;
  FIsAlphaChannel = previous.FIsAlphaChannel;
  if (takeAlignment) FRowAlignment = source.FRowAlignment;
  FWidth = source.FWidth;
  FHeight = source.FHeight;
  FPixelFormat = source.FPixelFormat;
  if (!AllocateStorage()) {
    FreeImage(true);
    previous.MoveStorageTo(*this);
    return;
  }
  FNeedsReallocation = false;
  CopyRowsFrom(source);
  FinishCopyFrom(source, withAlpha, &previous);
}

void TIEBitmap::FinishCopyFrom(TIEBitmap& source, bool withAlpha, TIEBitmap* previous) {
  FNeedsReallocation = false;
  if (withAlpha) {
    if (!FIsAlphaChannel) {
      if (source.HasAlphaChannel()) {
        AlphaChannel()->Assign(source.FAlphaBitmap.get());
      } else {
        FAlphaBitmap.reset();
      }
    }
    FFull = source.FFull;
    FBWConversion = source.FBWConversion;
  } else {
    if (previous) FAlphaBitmap = std::move(previous->FAlphaBitmap);
    FFull = false;
  }
  source.CopyPaletteTo(this);
}

void TIEBitmap::Assign(TObject* source) {
  if (auto* framework = dynamic_cast<TBitmap*>(source)) {
    CopyFromTBitmap(*framework);
    return;
  }
  auto* src = dynamic_cast<TIEBitmap*>(source);
  if (!src || src == this) return;
  if (FLocation == ieTBitmap && FFrameworkBitmap) {
    AssignIntoFrameworkBitmap(*src);
    return;
  }
  CopyContentFrom(*src, true, true);
}

void TIEBitmap::CopyFromTIEBitmap(TIEBitmap& source) {
  if (source.IsEmpty()) return;
  CopyContentFrom(source, false, false);
}

bool TIEBitmap::SetLocation(TIEStorageLocation location) {
  if (FLocation == location) return true;
  FNeedsReallocation = true;
  if (IsEmpty()) {
    FLocation = location;
    return true;
  }
  TIEBitmap previous;
  MoveStorageTo(previous);
  FLocation = location;
  if (!Allocate(previous.FWidth, previous.FHeight, previous.FPixelFormat)) {
    // Nothing could be had at the new place: the picture stays where it was.
    previous.MoveStorageTo(*this);
    return false;
  }
  if (FLocation == previous.FLocation) {
    previous.MoveStorageTo(*this);
    return true;
  }
  CopyRowsFrom(previous);
  for (int i = 0; i < std::min(FPaletteCount, previous.FPaletteCount); ++i)
    FPaletteData[static_cast<size_t>(i)] = previous.FPaletteData[static_cast<size_t>(i)];
  FFull = previous.FFull;
  FIsAlphaChannel = previous.FIsAlphaChannel;
  FAlphaBitmap = std::move(previous.FAlphaBitmap);
  return true;
}

void TIEBitmap::SetRowAlignment(int bits) {
  if (bits == FRowAlignment) return;
  if (bits != 8 && bits != 16 && bits != 32 && bits != 64) return;  // only whole bytes per row
  FNeedsReallocation = true;
  if (FLocation != ieMemory) return;
  if (IsEmpty()) {
    FRowAlignment = bits;
    return;
  }
  TIEBitmap previous;
  MoveStorageTo(previous);
  FRowAlignment = bits;
  if (!Allocate(previous.FWidth, previous.FHeight, previous.FPixelFormat)) {
    previous.MoveStorageTo(*this);
    FRowAlignment = previous.FRowAlignment;
    return;
  }
  CopyRowsFrom(previous);
  previous.CopyPaletteTo(this);
  FFull = previous.FFull;
  FAlphaBitmap = std::move(previous.FAlphaBitmap);
}

void TIEBitmap::EncapsulateMemory(void* buffer, int width, int height, TIEBitmapFormat format, bool topDown,
                                  bool freeFirst) {
  if (freeFirst) FreeImage(true);
  if (!buffer) return;
  FWidth = width;
  FHeight = height;
  FPixelFormat = format;
  FBitsPerPixel = IEBitsPerPixel(format);
  FChannels = IEChannels(format);
  FRowLength = AlignedRowLength(width, FBitsPerPixel, FRowAlignment);
  FLocation = ieMemory;
  FBorrowedMemory = true;
  FMemoryBlock = buffer;
  FMemoryBase = static_cast<uint8_t*>(buffer);
  FTopDown = topDown;
  if (format == ie8p && FPaletteData.empty()) {
    FPaletteData.assign(256, TRGB{});
    FPaletteCount = 256;
  }
  FCachedObject.reset();
  FRowTable.clear();
}


// ---- alpha channel ----

TIEBitmap* TIEBitmap::AlphaChannel() {
  if (FIsAlphaChannel) return nullptr;
  if (!FAlphaBitmap) FAlphaBitmap = CreateAlphaChannel(FWidth, FHeight, FLocation);
  return FAlphaBitmap.get();
}

std::unique_ptr<TIEBitmap> AttachAlphaChannel(TIEBitmap& bitmap, std::unique_ptr<TIEBitmap> alpha) {
  std::unique_ptr<TIEBitmap> previous = std::move(bitmap.FAlphaBitmap);
  if (alpha) alpha->FIsAlphaChannel = true;
  bitmap.FAlphaBitmap = std::move(alpha);
  return previous;
}

void TIEBitmap::RemoveAlphaChannel(bool merge, uint32_t background) {
  if (FIsAlphaChannel || !FAlphaBitmap) return;
  if (merge && FPixelFormat == ie24RGB && FAlphaBitmap->FWidth == FWidth && FAlphaBitmap->FHeight == FHeight) {
    TRGB bg;
    ColorToRGBPixel(background, bg);
    const int bgc[3] = {bg.b, bg.g, bg.r};
    for (int y = 0; y < FHeight; ++y) {
      // Both rows are needed at once; the alpha row is copied out first.
      std::vector<uint8_t> a(static_cast<size_t>(FWidth));
      std::memcpy(a.data(), FAlphaBitmap->ScanLine(y), a.size());
      uint8_t* p = ScanLine(y);
      for (int x = 0; x < FWidth; ++x, p += 3) {
        const int64_t alpha = a[static_cast<size_t>(x)];
        // 255 keeps the colour as it is, 0 gives the background.
        if (alpha == 255) continue;
        for (int c = 0; c < 3; ++c)
          p[c] = static_cast<uint8_t>(bgc[c] + (((p[c] - bgc[c]) * alpha * 1024) >> 18));
      }
    }
    UnmapMappedRow();
  }
  FAlphaBitmap.reset();
}

uint8_t TIEBitmap::GetAlpha(int x, int y) {
  if (FIsAlphaChannel) return GetPixel8(x, y);
  return AlphaChannel()->GetPixel8(x, y);
}

void TIEBitmap::SetAlpha(int x, int y, uint8_t value) {
  if (FIsAlphaChannel) {
    SetPixel8(x, y, value);
    return;
  }
  AlphaChannel()->SetPixel8(x, y, value);
  if (value != 255) FFull = false;
}

// ---- whole-image tests ----

bool TIEBitmap::CheckFull() {
  if (IsEmpty()) {
    FFull = false;
    return false;
  }
  TIEAccessScope readOnly(*this, 1);
  bool full = true;
  if (FPixelFormat == ie32f) {
    for (int y = 0; y < FHeight && full; ++y) {
      const auto* p = reinterpret_cast<const float*>(ScanLine(y));
      for (int x = 0; x < FWidth; ++x)
        if (!(p[x] >= 1.0f)) {
          full = false;
          break;
        }
    }
  } else {
    const int64_t used = UsedRowBytes(FWidth, FBitsPerPixel);
    // The unused low bits of a last, partial ie1g byte do not count.
    const int spare = static_cast<int>(used * 8 - int64_t(FWidth) * FBitsPerPixel);
    const uint8_t lastMask = static_cast<uint8_t>(0xFF << spare);
    for (int y = 0; y < FHeight && full; ++y) {
      const uint8_t* p = ScanLine(y);
      for (int64_t i = 0; i + 1 < used; ++i)
        if (p[i] != 0xFF) {
          full = false;
          break;
        }
      if (full && (p[used - 1] & lastMask) != lastMask) full = false;
    }
  }
  UnmapMappedRow();
  FFull = full;
  return full;
}

bool TIEBitmap::IsAllZero() {
  TIEAccessScope readOnly(*this, 1);
  const int64_t used = UsedRowBytes(FWidth, FBitsPerPixel);
  bool zero = true;
  for (int y = 0; y < FHeight && zero; ++y) {
    const uint8_t* p = ScanLine(y);
    for (int64_t i = 0; i < used; ++i)
      if (p[i] != 0) {
        zero = false;
        break;
      }
  }
  UnmapMappedRow();
  return zero;
}

// ---- filling ----

namespace {

struct FillPattern {
  std::vector<uint8_t> pixel;  // one pixel's bytes (none for ie1g)
  bool keepFourth = false;     // ie32RGB keeps the byte that drawing ignores
  bool full = false;
  bool bitValue = false;
};

FillPattern PatternFor(TIEBitmapFormat format, double value) {
  FillPattern f;
  const auto integer = static_cast<int64_t>(std::trunc(value));
  auto bytesOf = [&](const void* p, size_t n) {
    f.pixel.assign(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
  };
  TRGB rgb;
  ColorToRGBPixel(static_cast<uint32_t>(integer), rgb);
  const bool white = rgb.r == 255 && rgb.g == 255 && rgb.b == 255;
  switch (format) {
    case ie1g:
      f.bitValue = value != 0;
      f.full = f.bitValue;
      break;
    case ie8p:
    case ie8g: {
      const auto b = static_cast<uint8_t>(integer & 0xFF);
      bytesOf(&b, 1);
      f.full = integer == 255;
      break;
    }
    case ie16g: {
      const auto w = static_cast<uint16_t>(integer & 0xFFFF);
      bytesOf(&w, 2);
      f.full = integer == 65535;
      break;
    }
    case ie32f: {
      const auto v = static_cast<float>(value);
      bytesOf(&v, 4);
      f.full = value == 1.0;
      break;
    }
    case ie24RGB:
      bytesOf(&rgb, 3);
      f.full = white;
      break;
    case ie32RGB:
      bytesOf(&rgb, 3);
      f.keepFourth = true;
      f.full = white;
      break;
    case ieCMYK: {
      // The same way as any colour into CMYK: through the library's CMYK
      // profile when one is installed, else the formula.
      TCMYK c;
      IERGBToCMYKRow(&rgb, &c, 1);
      bytesOf(&c, 4);
      f.full = white;
      break;
    }
    case ieRGB48: {
      const TRGB48 w{static_cast<uint16_t>(rgb.r * 257), static_cast<uint16_t>(rgb.g * 257),
                     static_cast<uint16_t>(rgb.b * 257)};
      bytesOf(&w, 6);
      f.full = white;
      break;
    }
    case ieCIELab: {
      const TCIELab l = CIELabOf(rgb);
      bytesOf(&l, 3);
      f.full = white;
      break;
    }
    default:
      break;
  }
  return f;
}

// Writes the pattern into pixels x1..x2 of a row.
void FillRowPixels(uint8_t* row, const FillPattern& f, int x1, int x2) {
  if (f.pixel.empty()) {  // ie1g
    for (int x = x1; x <= x2; ++x) SetBit(row, x, f.bitValue);
    return;
  }
  const size_t stride = f.keepFourth ? 4 : f.pixel.size();
  uint8_t* p = row + int64_t(x1) * int64_t(stride);
  const int n = x2 - x1 + 1;
  const uint8_t* v = f.pixel.data();
  // Fixed-size stores per pixel width keep the loop free of calls and branches.
  switch (f.pixel.size()) {
    case 1:
      std::memset(p, v[0], static_cast<size_t>(n));
      return;
    case 3:
      for (int i = 0; i < n; ++i, p += stride) {
        p[0] = v[0];
        p[1] = v[1];
        p[2] = v[2];
      }
      return;
    case 2:
      for (int i = 0; i < n; ++i, p += 2) std::memcpy(p, v, 2);
      return;
    case 4:
      for (int i = 0; i < n; ++i, p += 4) std::memcpy(p, v, 4);
      return;
    default:
      for (int i = 0; i < n; ++i, p += stride) std::memcpy(p, v, f.pixel.size());
  }
}

}  // namespace

void TIEBitmap::Fill(double value) {
  if (IsEmpty() || IsVirtual()) return;
  const FillPattern f = PatternFor(FPixelFormat, value);
  // Rows are written whole, except that ie32RGB keeps its fourth byte, so its
  // rows must be read as well as written.
  TIEAccessScope access(*this, f.keepFourth ? 3 : 2);
  // One finished row is built once and copied into every row.
  std::vector<uint8_t> pattern(static_cast<size_t>(FRowLength), 0);
  if (f.pixel.empty())
    std::memset(pattern.data(), f.bitValue ? 0xFF : 0x00, pattern.size());
  else if (!f.keepFourth)
    FillRowPixels(pattern.data(), f, 0, FWidth - 1);
  for (int y = 0; y < FHeight; ++y) {
    uint8_t* row = ScanLine(y);
    if (!row) continue;
    if (f.keepFourth)
      FillRowPixels(row, f, 0, FWidth - 1);
    else
      std::memcpy(row, pattern.data(), pattern.size());
  }
  UnmapMappedRow();
  FFull = f.full;
}

void TIEBitmap::FillRect(int x1, int y1, int x2, int y2, double value) {
  if (IsEmpty() || IsVirtual()) return;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, FWidth - 1);
  y2 = std::min(y2, FHeight - 1);
  if (x1 > x2 || y1 > y2) return;
  const FillPattern f = PatternFor(FPixelFormat, value);
  for (int y = y1; y <= y2; ++y) {
    uint8_t* row = ScanLine(y);
    if (row) FillRowPixels(row, f, x1, x2);
  }
  UnmapMappedRow();
  if (FIsAlphaChannel && (FPixelFormat == ie8p || FPixelFormat == ie8g)) CheckFull();
}

// ---- free routines ----

bool IsGrayBitmap(TIEBitmap& bitmap) {
  const int w = bitmap.Width(), h = bitmap.Height();
  switch (bitmap.PixelFormat()) {
    case ie8p: {
      const TRGB* pal = bitmap.Palette();
      for (int i = 0; pal && i < bitmap.PaletteLength(); ++i)
        if (pal[i].r != pal[i].g || pal[i].g != pal[i].b) return false;
      return true;
    }
    case ie24RGB:
    case ie32RGB: {
      const int step = bitmap.PixelFormat() == ie24RGB ? 3 : 4;
      TIEAccessScope readOnly(bitmap, 1);
      for (int y = 0; y < h; ++y) {
        const uint8_t* p = bitmap.ScanLine(y);
        for (int x = 0; x < w; ++x, p += step)
          if (p[0] != p[1] || p[1] != p[2]) return false;
      }
      return true;
    }
    case ieRGB48: {
      TIEAccessScope readOnly(bitmap, 1);
      for (int y = 0; y < h; ++y) {
        const auto* p = reinterpret_cast<const uint16_t*>(bitmap.ScanLine(y));
        for (int x = 0; x < w; ++x, p += 3)
          if (p[0] != p[1] || p[1] != p[2]) return false;
      }
      return true;
    }
    default:
      return true;
  }
}

void ComputeValueRange(TIEBitmap& bitmap) {
  const int w = bitmap.Width(), h = bitmap.Height();
  TIEAccessScope readOnly(bitmap, 1);
  switch (bitmap.PixelFormat()) {
    case ie8g:
    case ie24RGB: {
      int lo = 255, hi = -255;
      const int64_t n = int64_t(w) * (bitmap.PixelFormat() == ie8g ? 1 : 3);
      for (int y = 0; y < h; ++y) {
        const uint8_t* p = bitmap.ScanLine(y);
        for (int64_t i = 0; i < n; ++i) {
          lo = std::min<int>(lo, p[i]);
          hi = std::max<int>(hi, p[i]);
        }
      }
      bitmap.SetRange(lo, hi);
      break;
    }
    case ie16g: {
      int lo = 65535, hi = -65535;
      for (int y = 0; y < h; ++y) {
        const auto* p = reinterpret_cast<const uint16_t*>(bitmap.ScanLine(y));
        for (int x = 0; x < w; ++x) {
          lo = std::min<int>(lo, p[x]);
          hi = std::max<int>(hi, p[x]);
        }
      }
      bitmap.SetRange(lo, hi);
      break;
    }
    case ie32f: {
      double lo = 100000000.0, hi = -100000000.0;
      for (int y = 0; y < h; ++y) {
        const auto* p = reinterpret_cast<const float*>(bitmap.ScanLine(y));
        for (int x = 0; x < w; ++x) {
          lo = std::min<double>(lo, p[x]);
          hi = std::max<double>(hi, p[x]);
        }
      }
      bitmap.SetRange(lo, hi);
      break;
    }
    default:
      break;
  }
}
