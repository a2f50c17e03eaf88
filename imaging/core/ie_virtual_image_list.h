#pragma once
// TIEVirtualImageList: many images kept in one growable backing store (a
// temporary file or a memory stream), of which only a few are mapped into
// memory at a time. The thumbnail grid keeps its pictures and its drawn cells
// here, so a thousand files cost a handful of resident images.
//
// An image is a handle to a small record saying where its bytes lie. Callers
// work on the raw mapped bytes (valid until another call may unmap the image)
// or check out a TIEBitmap copy, shared and reference counted. Every
// operation runs under one re-entrant lock, so the painting thread and the
// background loaders can share a list.
//
// Bytes of an image, in this order: the rows, bottom row first, each aligned
// to 32 bits; for ie8p 256 palette entries of 3 bytes (blue, green, red); with
// alpha one byte holding the channel's full flag (non-zero: fully opaque),
// then the alpha rows, 8 bits each, bottom row first.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "imaging/core/ie_file_buffer.h"
#include "imaging/core/ie_types.h"
#include "platform/rtl/object.h"

class TIEBitmap;

// The record behind an image handle.
struct TIEVirtualImage {
  int64_t offset = 0;
  int64_t size = 0;
  uint8_t* mapped = nullptr;  // the open window, nil when not mapped
  uint8_t checkedOut = 0;
  int32_t originalWidth = 0;
  int32_t originalHeight = 0;
  uint8_t hasAlpha = 0;
  uint8_t access = 0;  // of the open window: 1 read, 2 write, 3 both
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitsPerPixel = 0;
  TIEBitmapFormat pixelFormat = ieNoFormat;
};
using TIEVirtualImageHandle = TIEVirtualImage*;

class TIEVirtualImageList : public TObject {
public:
  TIEVirtualImageList(const std::string& filePrefix, bool useFile);
  ~TIEVirtualImageList() override;

  // Bytes an image of this geometry takes in the store (64-bit).
  static int64_t StoredSize(int width, int height, int bitsPerPixel, TIEBitmapFormat format, bool hasAlpha);

  // A new image of that geometry, left mapped for writing so the caller fills it
  // through ImageBits and friends; nil when the store cannot hold it (it could
  // not be opened or grown, or no window could be had).
  TIEVirtualImageHandle AddImage(int width, int height, int bitsPerPixel, TIEBitmapFormat format, bool hasAlpha);
  // A new image holding the bitmap's rows, palette and alpha; nil as above.
  TIEVirtualImageHandle AddBitmap(TIEBitmap* bitmap);
  // The image into bitmap (reallocated when its format or size differ); false
  // when the image cannot be mapped.
  bool ReadBitmap(TIEVirtualImageHandle handle, TIEBitmap* bitmap);
  // Stores the bitmap over the image. A new geometry or format takes new space
  // and returns the old one to the free blocks; false (the image left as it
  // was) when no space or window can be had.
  bool WriteBitmap(TIEVirtualImageHandle handle, TIEBitmap* bitmap);
  // A shared copy of the image (one memory block), nil when it cannot be had.
  TIEBitmap* GetBitmap(TIEVirtualImageHandle handle);
  void ReleaseBitmap(TIEBitmap* bitmap, bool writeBack);
  void ReleaseImageBitmap(TIEVirtualImageHandle handle, bool writeBack);
  int FindCheckedOut(TIEVirtualImageHandle handle);
  int CheckedOutCount(TIEVirtualImageHandle handle);

  int ImageWidth(TIEVirtualImageHandle handle);
  int ImageHeight(TIEVirtualImageHandle handle);
  TIEBitmapFormat ImagePixelFormat(TIEVirtualImageHandle handle);
  bool ImageHasAlpha(TIEVirtualImageHandle handle);
  int GetOriginalWidth(TIEVirtualImageHandle handle) const { return handle ? handle->originalWidth : 0; }
  int GetOriginalHeight(TIEVirtualImageHandle handle) const { return handle ? handle->originalHeight : 0; }
  void SetOriginalWidth(TIEVirtualImageHandle handle, int value) {
    if (handle) handle->originalWidth = value;
  }
  void SetOriginalHeight(TIEVirtualImageHandle handle, int value) {
    if (handle) handle->originalHeight = value;
  }

  // The bottom row of the image (its rows lie upwards from there), its palette
  // and its alpha rows (nil when it has none or it is fully opaque). Valid
  // until another call may unmap the image.
  uint8_t* ImageBits(TIEVirtualImageHandle handle);
  uint8_t* ImagePalette(TIEVirtualImageHandle handle);
  uint8_t* ImageAlphaBits(TIEVirtualImageHandle handle);

  void DeleteImage(TIEVirtualImageHandle handle);
  void ClearAll();
  int ImageCount();
  TIEVirtualImageHandle Image(int index);

  // Opens a window on the image with at least that access; a window with less
  // is written back and opened again. False when no window can be had.
  bool MapImage(TIEVirtualImageHandle handle, uint8_t access);

  // ---- settings and state ----
  int MaxMapped() const { return FMaxMapped; }
  void SetMaxMapped(int value) { FMaxMapped = value < 0 ? 0 : value; }
  int MappedCount();
  int64_t StoreSize();
  int64_t AllocationEnd();
  int64_t GrowthStep() const { return FGrowthStep; }
  bool UseFile() const { return FUseFile; }
  bool StoreOpen();
  int FreeBlockCount();
  std::recursive_mutex& Lock() { return FLock; }

private:
  struct TFreeBlock {
    int64_t offset;
    int64_t size;
  };
  struct TCheckout {
    TIEVirtualImageHandle image;
    std::unique_ptr<TIEBitmap> bitmap;
    int32_t count;
  };

  void InitStorage();
  void DoneStorage();
  bool ResizeBuffer();
  void UnmapImage(TIEVirtualImageHandle handle);
  void UnmapOldest();
  void UnmapAll();
  bool AllocateSpace(TIEVirtualImageHandle record, int width, int height, int bitsPerPixel,
                     TIEBitmapFormat format, bool hasAlpha);
  void MergeFreeBlocks();
  void FreeImageAt(int index, bool deleteEntry);
  int IndexOfImage(TIEVirtualImageHandle handle) const;
  int FindCheckedOutBitmap(TIEBitmap* bitmap) const;
  void CopyBitmapIn(TIEVirtualImageHandle handle, TIEBitmap& bitmap);

  std::recursive_mutex FLock;
  std::unique_ptr<TIEFileBuffer> FStore;
  bool FUseFile;
  int64_t FStoreSize = 0;
  std::vector<TIEVirtualImage*> FImages;
  std::vector<TIEVirtualImage*> FMappedImages;
  std::vector<TFreeBlock> FFreeBlocks;
  int64_t FAllocationEnd = 0;
  int64_t FGrowthStep = 0x40000;
  int32_t FMaxMapped = 10;
  int32_t FMappedCount = 0;
  std::vector<TCheckout> FCheckedOut;
  int64_t FLastAllocation = 0;
  std::string FFilePrefix;
};
