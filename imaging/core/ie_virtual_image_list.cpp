#include "imaging/core/ie_virtual_image_list.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_memory.h"

namespace {

constexpr int64_t kPaletteBytes = 768;

int64_t RowBytes(int width, int bitsPerPixel) { return AlignedRowLength(width, bitsPerPixel, 32); }

int64_t RowsSize(const TIEVirtualImage& r) { return int64_t(r.height) * RowBytes(r.width, r.bitsPerPixel); }

int64_t PaletteSize(const TIEVirtualImage& r) { return r.pixelFormat == ie8p ? kPaletteBytes : 0; }

// Bytes of one row that hold pixels; the rest is alignment that may differ
// between the bitmap and the store.
int64_t UsedRowBytes(int width, int bitsPerPixel) { return (int64_t(width) * bitsPerPixel + 7) / 8; }

// A bitmap whose rows lie in one memory block, bottom row first, so the bytes
// from its bottom row upward are the whole picture.
bool IsSingleBlock(TIEBitmap& b) {
  return b.Location() == ieMemory && b.SegmentCount() == 0 && !b.TopDown() && !b.IsVirtual();
}

}  // namespace

TIEVirtualImageList::TIEVirtualImageList(const std::string& filePrefix, bool useFile)
    : FStore(std::make_unique<TIEFileBuffer>()), FUseFile(useFile), FFilePrefix(filePrefix) {
  InitStorage();
}

TIEVirtualImageList::~TIEVirtualImageList() { DoneStorage(); }

int64_t TIEVirtualImageList::StoredSize(int width, int height, int bitsPerPixel, TIEBitmapFormat format,
                                        bool hasAlpha) {
  int64_t needed = int64_t(height) * RowBytes(width, bitsPerPixel);
  if (format == ie8p) needed += kPaletteBytes;
  if (hasAlpha) needed += int64_t(height) * RowBytes(width, 8) + 1;
  return needed;
}

// ---- storage ----

void TIEVirtualImageList::InitStorage() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FStoreSize = FGrowthStep;
  FAllocationEnd = 0;
  FMappedCount = 0;
  FLastAllocation = 0;
  ResizeBuffer();
}

void TIEVirtualImageList::DoneStorage() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  ClearAll();
  FStore.reset();
}

bool TIEVirtualImageList::ResizeBuffer() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FFreeBlocks.clear();
  if (FStore->IsAllocated()) {
    UnmapAll();
    // A store that cannot grow (no memory, a file-size limit, a full disk)
    // keeps its size and its images; the caller learns of it from the result.
    if (IEAllocationRefused(FStoreSize)) return false;
    try {
      FStore->SetSize(FStoreSize);
    } catch (const std::exception&) {
      return false;
    }
    return true;
  }
  ClearAll();
  return FStore->AllocateFile(FFilePrefix, FUseFile, FStoreSize);
}

void TIEVirtualImageList::ClearAll() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  while (!FImages.empty()) FreeImageAt(static_cast<int>(FImages.size()) - 1, true);
  FMappedImages.clear();
  FMappedCount = 0;
  FFreeBlocks.clear();
  FCheckedOut.clear();
  if (FStore) FStore->Close();
  FAllocationEnd = 0;
}

// ---- mapping ----

bool TIEVirtualImageList::MapImage(TIEVirtualImageHandle handle, uint8_t access) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (!handle || !FStore->IsAllocated()) return false;
  if (handle->mapped && (handle->access & access) == access) {
    // Already open with what is asked: it becomes the most recently used.
    auto it = std::find(FMappedImages.begin(), FMappedImages.end(), handle);
    if (it != FMappedImages.end()) FMappedImages.erase(it);
    FMappedImages.push_back(handle);
    return true;
  }
  uint8_t wanted = access;
  if (handle->mapped) {
    // A write window holds the only copy of what was written into it: it is
    // written back, and the new window keeps the right to write.
    wanted = static_cast<uint8_t>(wanted | handle->access);
    if (handle->access & 2) wanted = static_cast<uint8_t>(wanted | 1);
    UnmapImage(handle);
  }
  while (FMappedCount > FMaxMapped && !FMappedImages.empty()) UnmapOldest();
  uint8_t* window = FStore->Map(wanted, handle->size, handle->offset);
  if (!window) return false;
  handle->mapped = window;
  handle->access = wanted;
  ++FMappedCount;
  FMappedImages.push_back(handle);
  return true;
}

void TIEVirtualImageList::UnmapImage(TIEVirtualImageHandle handle) {
  if (!handle || !handle->mapped) return;
  FStore->Unmap(handle->mapped);
  handle->mapped = nullptr;
  handle->access = 0;
  auto it = std::find(FMappedImages.begin(), FMappedImages.end(), handle);
  if (it != FMappedImages.end()) FMappedImages.erase(it);
  --FMappedCount;
}

void TIEVirtualImageList::UnmapOldest() {
  if (!FMappedImages.empty()) UnmapImage(FMappedImages.front());
}

void TIEVirtualImageList::UnmapAll() {
  while (!FMappedImages.empty()) UnmapImage(FMappedImages.front());
  FMappedCount = 0;
}

// ---- space ----

void TIEVirtualImageList::MergeFreeBlocks() {
  // Only neighbours in the list are joined: blocks are appended in order of
  // release, so a run of deletions in store order merges.
  size_t i = 0;
  while (i + 1 < FFreeBlocks.size()) {
    TFreeBlock& a = FFreeBlocks[i];
    const TFreeBlock& b = FFreeBlocks[i + 1];
    if (a.offset + a.size == b.offset) {
      a.size += b.size;
      FFreeBlocks.erase(FFreeBlocks.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    } else {
      ++i;
    }
  }
}

bool TIEVirtualImageList::AllocateSpace(TIEVirtualImageHandle record, int width, int height, int bitsPerPixel,
                                        TIEBitmapFormat format, bool hasAlpha) {
  if (width < 0 || height < 0 || bitsPerPixel <= 0) return false;
  if (!FStore->IsAllocated() && !ResizeBuffer()) return false;
  const int64_t needed = StoredSize(width, height, bitsPerPixel, format, hasAlpha);
  MergeFreeBlocks();
  int64_t offset = -1;
  int freeIndex = -1;
  TFreeBlock taken{};
  for (size_t i = 0; i < FFreeBlocks.size(); ++i)
    if (FFreeBlocks[i].size >= needed) {
      freeIndex = static_cast<int>(i);
      break;
    }
  if (freeIndex >= 0) {
    TFreeBlock& block = FFreeBlocks[static_cast<size_t>(freeIndex)];
    taken = block;
    offset = block.offset;
    if (block.size > needed) {
      block.offset += needed;
      block.size -= needed;
    } else {
      FFreeBlocks.erase(FFreeBlocks.begin() + freeIndex);
    }
  } else {
    if (needed > std::numeric_limits<int64_t>::max() / 4) return false;
    if (needed > FGrowthStep) FGrowthStep = needed + FLastAllocation;
    FLastAllocation = needed;
    if (FAllocationEnd + needed > FStoreSize) {
      const int64_t previous = FStoreSize;
      FStoreSize += FGrowthStep;
      if (!ResizeBuffer()) {
        FStoreSize = previous;
        return false;
      }
    }
    offset = FAllocationEnd;
  }
  record->offset = offset;
  record->size = needed;
  record->mapped = nullptr;
  record->access = 0;
  record->checkedOut = 0;
  record->originalWidth = width;
  record->originalHeight = height;
  record->width = width;
  record->height = height;
  record->hasAlpha = hasAlpha ? 1 : 0;
  record->bitsPerPixel = bitsPerPixel;
  record->pixelFormat = format;
  if (!MapImage(record, 2)) {
    // The block goes back where it was; the end of the store did not move.
    if (freeIndex >= 0) {
      if (taken.size > needed) {
        FFreeBlocks[static_cast<size_t>(freeIndex)] = taken;
      } else {
        FFreeBlocks.insert(FFreeBlocks.begin() + freeIndex, taken);
      }
    }
    record->size = 0;
    return false;
  }
  if (freeIndex < 0) FAllocationEnd = offset + needed;
  return true;
}

// ---- images ----

TIEVirtualImageHandle TIEVirtualImageList::AddImage(int width, int height, int bitsPerPixel,
                                                    TIEBitmapFormat format, bool hasAlpha) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  auto record = std::make_unique<TIEVirtualImage>();
  if (!AllocateSpace(record.get(), width, height, bitsPerPixel, format, hasAlpha)) return nullptr;
  FImages.push_back(record.get());
  return record.release();
}

void TIEVirtualImageList::CopyBitmapIn(TIEVirtualImageHandle handle, TIEBitmap& bitmap) {
  uint8_t* dst = handle->mapped;
  const int64_t rowBytes = RowBytes(handle->width, handle->bitsPerPixel);
  const int64_t used = std::min<int64_t>(UsedRowBytes(handle->width, handle->bitsPerPixel), rowBytes);
  const int h = handle->height;
  for (int i = 0; i < h; ++i) {
    const uint8_t* src = bitmap.ScanLine(h - 1 - i);
    uint8_t* row = dst + int64_t(i) * rowBytes;
    if (src) std::memcpy(row, src, static_cast<size_t>(std::min<int64_t>(used, bitmap.RowLen())));
    if (rowBytes > used) std::memset(row + used, 0, static_cast<size_t>(rowBytes - used));
  }
  dst += int64_t(h) * rowBytes;
  if (handle->pixelFormat == ie8p) {
    std::memset(dst, 0, kPaletteBytes);
    const TRGB* pal = bitmap.Palette();
    const int n = std::min(bitmap.PaletteLength(), 256);
    if (pal && n > 0) std::memcpy(dst, pal, static_cast<size_t>(n) * 3);
    dst += kPaletteBytes;
  }
  if (handle->hasAlpha) {
    TIEBitmap* alpha = bitmap.AlphaChannel();
    *dst++ = alpha->Full() ? 1 : 0;
    const int64_t alphaRow = RowBytes(handle->width, 8);
    for (int i = 0; i < h; ++i) {
      const uint8_t* src = alpha->ScanLine(h - 1 - i);
      uint8_t* row = dst + int64_t(i) * alphaRow;
      std::memset(row, 255, static_cast<size_t>(alphaRow));
      if (src) std::memcpy(row, src, static_cast<size_t>(std::min<int64_t>(handle->width, alpha->RowLen())));
    }
  }
}

TIEVirtualImageHandle TIEVirtualImageList::AddBitmap(TIEBitmap* bitmap) {
  if (!bitmap) return nullptr;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEVirtualImageHandle handle = AddImage(bitmap->Width(), bitmap->Height(), bitmap->BitCount(),
                                          bitmap->PixelFormat(), bitmap->HasAlphaChannel());
  if (!handle) return nullptr;
  TIEAccessScope scope(*bitmap, 1);
  CopyBitmapIn(handle, *bitmap);
  return handle;
}

bool TIEVirtualImageList::ReadBitmap(TIEVirtualImageHandle handle, TIEBitmap* bitmap) {
  if (!handle || !bitmap) return false;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (!MapImage(handle, 1)) return false;
  if (bitmap->PixelFormat() != handle->pixelFormat || bitmap->Width() != handle->width ||
      bitmap->Height() != handle->height) {
    if (!bitmap->Allocate(handle->width, handle->height, handle->pixelFormat)) return false;
  }
  // Allocating may have evicted nothing, but a bitmap kept in a file maps its
  // rows one by one: the window stays ours through the copy.
  const uint8_t* src = handle->mapped;
  const int64_t rowBytes = RowBytes(handle->width, handle->bitsPerPixel);
  const int64_t used = std::min<int64_t>(UsedRowBytes(handle->width, handle->bitsPerPixel), rowBytes);
  const int h = handle->height;
  {
    TIEAccessScope scope(*bitmap, 2);
    for (int i = 0; i < h; ++i) {
      uint8_t* dst = bitmap->ScanLine(h - 1 - i);
      if (dst) std::memcpy(dst, src + int64_t(i) * rowBytes, static_cast<size_t>(std::min(used, bitmap->RowLen())));
    }
  }
  src += int64_t(h) * rowBytes;
  if (handle->pixelFormat == ie8p) {
    for (int i = 0; i < 256 && i < bitmap->PaletteLength(); ++i) {
      TRGB c;
      c.b = src[i * 3];
      c.g = src[i * 3 + 1];
      c.r = src[i * 3 + 2];
      bitmap->SetPaletteColor(i, c);
    }
    src += kPaletteBytes;
  }
  if (!handle->hasAlpha || src[0] != 0) {
    bitmap->RemoveAlphaChannel(false);
    return true;
  }
  ++src;
  TIEBitmap* alpha = bitmap->AlphaChannel();
  alpha->SetFull(false);
  const int64_t alphaRow = RowBytes(handle->width, 8);
  TIEAccessScope scope(*alpha, 2);
  for (int i = 0; i < h; ++i) {
    uint8_t* dst = alpha->ScanLine(h - 1 - i);
    if (dst) std::memcpy(dst, src + int64_t(i) * alphaRow, static_cast<size_t>(handle->width));
  }
  return true;
}

bool TIEVirtualImageList::WriteBitmap(TIEVirtualImageHandle handle, TIEBitmap* bitmap) {
  if (!handle || !bitmap) return false;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const bool hasAlpha = bitmap->HasAlphaChannel();
  if (handle->width != bitmap->Width() || handle->height != bitmap->Height() ||
      handle->bitsPerPixel != bitmap->BitCount() || handle->pixelFormat != bitmap->PixelFormat() ||
      (handle->hasAlpha != 0) != hasAlpha) {
    // New space first: when it cannot be had the image keeps its old bytes.
    TIEVirtualImage fresh;
    if (!AllocateSpace(&fresh, bitmap->Width(), bitmap->Height(), bitmap->BitCount(), bitmap->PixelFormat(),
                       hasAlpha))
      return false;
    // The fresh window belongs to the image from now on.
    UnmapImage(handle);
    auto it = std::find(FMappedImages.begin(), FMappedImages.end(), &fresh);
    if (it != FMappedImages.end()) *it = handle;
    const TFreeBlock old{handle->offset, handle->size};
    const int32_t ow = handle->originalWidth, oh = handle->originalHeight;
    const uint8_t checkedOut = handle->checkedOut;
    *handle = fresh;
    handle->originalWidth = ow;
    handle->originalHeight = oh;
    handle->checkedOut = checkedOut;
    if (old.size > 0) FFreeBlocks.push_back(old);
  } else if (!MapImage(handle, 3)) {
    return false;
  }
  TIEAccessScope scope(*bitmap, 1);
  CopyBitmapIn(handle, *bitmap);
  return true;
}

// ---- checkout ----

int TIEVirtualImageList::FindCheckedOut(TIEVirtualImageHandle handle) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (size_t i = 0; i < FCheckedOut.size(); ++i)
    if (FCheckedOut[i].image == handle) return static_cast<int>(i);
  return -1;
}

int TIEVirtualImageList::FindCheckedOutBitmap(TIEBitmap* bitmap) const {
  for (size_t i = 0; i < FCheckedOut.size(); ++i)
    if (FCheckedOut[i].bitmap.get() == bitmap) return static_cast<int>(i);
  return -1;
}

int TIEVirtualImageList::CheckedOutCount(TIEVirtualImageHandle handle) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const int i = FindCheckedOut(handle);
  return i < 0 ? 0 : FCheckedOut[static_cast<size_t>(i)].count;
}

TIEBitmap* TIEVirtualImageList::GetBitmap(TIEVirtualImageHandle handle) {
  if (!handle) return nullptr;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const int i = FindCheckedOut(handle);
  if (i >= 0) {
    ++FCheckedOut[static_cast<size_t>(i)].count;
    return FCheckedOut[static_cast<size_t>(i)].bitmap.get();
  }
  if (!MapImage(handle, 1)) return nullptr;
  auto bitmap = std::make_unique<TIEBitmap>();
  // One block in memory: callers take the bottom row's address as the picture.
  bitmap->SetMemoryLimit(std::numeric_limits<int64_t>::max());
  bitmap->SetLocation(ieMemory);
  if (!ReadBitmap(handle, bitmap.get())) return nullptr;
  if (!bitmap->IsEmpty() && !IsSingleBlock(*bitmap)) return nullptr;
  TIEBitmap* result = bitmap.get();
  FCheckedOut.push_back(TCheckout{handle, std::move(bitmap), 1});
  handle->checkedOut = 1;
  return result;
}

void TIEVirtualImageList::ReleaseBitmap(TIEBitmap* bitmap, bool writeBack) {
  if (!bitmap) return;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const int i = FindCheckedOutBitmap(bitmap);
  if (i < 0) return;
  TCheckout& c = FCheckedOut[static_cast<size_t>(i)];
  if (bitmap->Location() == ieTBitmap) bitmap->SyncFromTBitmap();
  --c.count;
  if (writeBack) WriteBitmap(c.image, bitmap);
  if (c.count <= 0) {
    c.image->checkedOut = 0;
    FCheckedOut.erase(FCheckedOut.begin() + i);
  }
}

void TIEVirtualImageList::ReleaseImageBitmap(TIEVirtualImageHandle handle, bool writeBack) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const int i = FindCheckedOut(handle);
  if (i >= 0) ReleaseBitmap(FCheckedOut[static_cast<size_t>(i)].bitmap.get(), writeBack);
}

// ---- properties ----

int TIEVirtualImageList::ImageWidth(TIEVirtualImageHandle handle) {
  if (!handle) return 0;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const int i = FindCheckedOut(handle);
  return i >= 0 ? FCheckedOut[static_cast<size_t>(i)].bitmap->Width() : handle->width;
}

int TIEVirtualImageList::ImageHeight(TIEVirtualImageHandle handle) {
  if (!handle) return 0;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const int i = FindCheckedOut(handle);
  return i >= 0 ? FCheckedOut[static_cast<size_t>(i)].bitmap->Height() : handle->height;
}

TIEBitmapFormat TIEVirtualImageList::ImagePixelFormat(TIEVirtualImageHandle handle) {
  if (!handle) return ieNoFormat;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const int i = FindCheckedOut(handle);
  return i >= 0 ? FCheckedOut[static_cast<size_t>(i)].bitmap->PixelFormat() : handle->pixelFormat;
}

bool TIEVirtualImageList::ImageHasAlpha(TIEVirtualImageHandle handle) {
  if (!handle) return false;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return handle->hasAlpha != 0;
}

uint8_t* TIEVirtualImageList::ImageBits(TIEVirtualImageHandle handle) {
  if (!handle) return nullptr;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (handle->checkedOut) {
    const int i = FindCheckedOut(handle);
    if (i < 0) return nullptr;
    TIEBitmap* b = FCheckedOut[static_cast<size_t>(i)].bitmap.get();
    if (b->IsEmpty() || !IsSingleBlock(*b)) return nullptr;
    return b->ScanLine(b->Height() - 1);
  }
  if (!MapImage(handle, 1)) return nullptr;
  return handle->mapped;
}

uint8_t* TIEVirtualImageList::ImagePalette(TIEVirtualImageHandle handle) {
  if (!handle) return nullptr;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (handle->checkedOut) {
    const int i = FindCheckedOut(handle);
    if (i < 0) return nullptr;
    return reinterpret_cast<uint8_t*>(FCheckedOut[static_cast<size_t>(i)].bitmap->Palette());
  }
  if (handle->pixelFormat != ie8p || !MapImage(handle, 1)) return nullptr;
  return handle->mapped + RowsSize(*handle);
}

uint8_t* TIEVirtualImageList::ImageAlphaBits(TIEVirtualImageHandle handle) {
  if (!handle || !handle->hasAlpha) return nullptr;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (handle->checkedOut) {
    const int i = FindCheckedOut(handle);
    if (i < 0) return nullptr;
    TIEBitmap* b = FCheckedOut[static_cast<size_t>(i)].bitmap.get();
    if (!b->HasAlphaChannel()) return nullptr;
    TIEBitmap* a = b->AlphaChannel();
    if (a->IsEmpty() || !IsSingleBlock(*a)) return nullptr;
    return a->ScanLine(a->Height() - 1);
  }
  if (!MapImage(handle, 1)) return nullptr;
  uint8_t* p = handle->mapped + RowsSize(*handle) + PaletteSize(*handle);
  return p[0] != 0 ? nullptr : p + 1;
}

// ---- deletion ----

int TIEVirtualImageList::IndexOfImage(TIEVirtualImageHandle handle) const {
  auto it = std::find(FImages.begin(), FImages.end(), handle);
  return it == FImages.end() ? -1 : static_cast<int>(it - FImages.begin());
}

void TIEVirtualImageList::FreeImageAt(int index, bool deleteEntry) {
  if (index < 0 || index >= static_cast<int>(FImages.size())) return;
  TIEVirtualImage* r = FImages[static_cast<size_t>(index)];
  const int c = FindCheckedOut(r);
  if (c >= 0) FCheckedOut.erase(FCheckedOut.begin() + c);
  UnmapImage(r);
  delete r;
  if (deleteEntry) FImages.erase(FImages.begin() + index);
  else FImages[static_cast<size_t>(index)] = nullptr;
}

void TIEVirtualImageList::DeleteImage(TIEVirtualImageHandle handle) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const int index = IndexOfImage(handle);
  if (index < 0) return;
  if (handle->size > 0) FFreeBlocks.push_back(TFreeBlock{handle->offset, handle->size});
  FreeImageAt(index, true);
  if (FImages.empty()) {
    FStoreSize = FGrowthStep;
    FAllocationEnd = 0;
    ResizeBuffer();
  }
}

int TIEVirtualImageList::ImageCount() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return static_cast<int>(FImages.size());
}

TIEVirtualImageHandle TIEVirtualImageList::Image(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (index < 0 || index >= static_cast<int>(FImages.size())) return nullptr;
  return FImages[static_cast<size_t>(index)];
}

int TIEVirtualImageList::MappedCount() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return FMappedCount;
}

int64_t TIEVirtualImageList::StoreSize() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return FStoreSize;
}

int64_t TIEVirtualImageList::AllocationEnd() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return FAllocationEnd;
}

bool TIEVirtualImageList::StoreOpen() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return FStore && FStore->IsAllocated();
}

int TIEVirtualImageList::FreeBlockCount() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return static_cast<int>(FFreeBlocks.size());
}
