#pragma once
// The block model of a GIF file: the colour tables, the header with the logical
// screen, the frames with their extensions, and the lists that own them. Every
// block knows the TGIFImage it belongs to and reports warnings to it.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pictures/gif/gif_errors.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/object.h"
#include "platform/rtl/streams.h"

class TGIFImage;
class TGIFSubImage;
class TGIFHeader;
class TGIFExtension;
class TGIFGraphicControlExtension;
class TMetafile;

// A frame of more pixels than this is refused rather than allocated.
inline constexpr int64_t kGIFMaxFramePixels = int64_t{1} << 27;

// A colour table of at most 256 entries of red, green, blue.
class TGIFColorMap : public TPersistent {
public:
  void Assign(TPersistent* source) override;

  virtual void ReportWarning(int severity, const std::string& message) = 0;
  // Pair i is (pixels using index i, i) over every frame this table colours.
  virtual void CountColorUse(std::vector<std::pair<int64_t, int>>& pairs) = 0;
  virtual void RemapPixels(const uint8_t* table) = 0;
  virtual bool SortByUse();
  virtual void NotifyChanged() = 0;

  void Reset();
  void Reserve(int n);
  int IndexBits() const;
  int AppendColor(uint32_t color);
  int FindOrAppendColor(uint32_t color);
  int FindColor(uint32_t color) const;
  void RemoveEntry(int index);
  uint32_t ColorAt(int index);
  void CopyFromPalette(HPALETTE palette);
  void CopyFromColorTable(const RGBQUAD* colors, int count);
  void CopyFromDeviceColors(HDC dc);
  // A new palette (the caller owns it), or none for an empty table.
  HPALETTE MakePalette() const;
  void ReadEntries(TStream& stream, int n);
  void WriteEntries(TStream& stream) const;

  int EntryCount() const { return FEntryCount; }
  int EntryCapacity() const { return FEntryCapacity; }
  bool Sorted() const { return FSorted; }
  void SetSorted(bool value) { FSorted = value; }
  const uint8_t* Entries() const { return FEntries.data(); }
  // The entry as a colour 0x00BBGGRR; no check.
  uint32_t RawColor(int index) const {
    const uint8_t* e = &FEntries[static_cast<size_t>(index) * 3];
    return e[0] | (e[1] << 8) | (e[2] << 16);
  }

protected:
  // Indices whose colour must survive a sort even when no pixel uses them.
  virtual void MarkReservedIndices(std::vector<std::pair<int64_t, int>>& pairs) {}

  std::vector<uint8_t> FEntries;
  int FEntryCount = 0;
  int FEntryCapacity = 0;
  bool FSorted = false;
};

class TGIFGlobalColorMap : public TGIFColorMap {
public:
  explicit TGIFGlobalColorMap(TGIFHeader* owner) : FHeader(owner) {}
  void ReportWarning(int severity, const std::string& message) override;
  void CountColorUse(std::vector<std::pair<int64_t, int>>& pairs) override;
  void RemapPixels(const uint8_t* table) override;
  bool SortByUse() override;
  void NotifyChanged() override;

protected:
  void MarkReservedIndices(std::vector<std::pair<int64_t, int>>& pairs) override;

private:
  TGIFHeader* FHeader;
};

class TGIFLocalColorMap : public TGIFColorMap {
public:
  explicit TGIFLocalColorMap(TGIFSubImage* owner) : FFrame(owner) {}
  void ReportWarning(int severity, const std::string& message) override;
  void CountColorUse(std::vector<std::pair<int64_t, int>>& pairs) override;
  void RemapPixels(const uint8_t* table) override;
  void NotifyChanged() override;

protected:
  void MarkReservedIndices(std::vector<std::pair<int64_t, int>>& pairs) override;

private:
  TGIFSubImage* FFrame;
};

// A block of the GIF file.
class TGIFItem : public TPersistent {
public:
  explicit TGIFItem(TGIFImage* image) : FImage(image) {}
  // 1 for "87a", 2 for "89a".
  virtual int NeededVersion() { return 1; }
  virtual void ReportWarning(int severity, const std::string& message);
  virtual void SaveToStream(TStream& stream) = 0;
  virtual void LoadFromStream(TStream& stream) = 0;
  void SaveToFile(const std::string& fileName);
  void LoadFromFile(const std::string& fileName);
  TGIFImage* Image() const { return FImage; }
  void SetImage(TGIFImage* image) { FImage = image; }

protected:
  TGIFImage* FImage;
};

// An owning list of blocks.
class TGIFList : public TPersistent {
public:
  explicit TGIFList(TGIFImage* image) : FImage(image) {}
  ~TGIFList() override { ClearItems(); }
  virtual void ReportWarning(int severity, const std::string& message);
  virtual void SaveToStream(TStream& stream);

  TGIFItem* ItemAt(int index) const;
  int GetItemCount() const { return static_cast<int>(FItems.size()); }
  int AppendItem(std::unique_ptr<TGIFItem> item);
  void InsertItem(int index, std::unique_ptr<TGIFItem> item);
  void DeleteItem(int index);
  // Takes the item out of the list; the caller owns it then.
  std::unique_ptr<TGIFItem> RemoveItem(TGIFItem* item);
  void ClearItems();
  int IndexOf(const TGIFItem* item) const;
  TGIFImage* Image() const { return FImage; }
  // Moves the list and its items to another image (a load finished elsewhere).
  void SetImage(TGIFImage* image);

protected:
  std::vector<std::unique_ptr<TGIFItem>> FItems;
  TGIFImage* FImage;
};

class TGIFImageList : public TGIFList {
public:
  using TGIFList::TGIFList;
  TGIFSubImage* GetFrame(int index) const;
  TGIFSubImage* operator[](int index) const { return GetFrame(index); }
  int Count() const { return GetItemCount(); }
  void LoadFromStream(TStream& stream, TGIFImage* owner);
};

class TGIFExtensionList : public TGIFList {
public:
  TGIFExtensionList(TGIFImage* image, TGIFSubImage* frame) : TGIFList(image), FFrame(frame) {}
  TGIFExtension* GetExtensionAt(int index) const;
  int Count() const { return GetItemCount(); }
  void LoadFromStream(TStream& stream, TGIFSubImage* owner);

private:
  TGIFSubImage* FFrame;
};

// The logical screen descriptor as stored.
struct TGIFScreenBlock {
  uint16_t LogicalWidth = 0;
  uint16_t LogicalHeight = 0;
  uint8_t Flags = 0;
  uint8_t BackgroundEntry = 0;
  uint8_t PixelAspect = 0;
};

class TGIFHeader : public TGIFItem {
public:
  explicit TGIFHeader(TGIFImage* image);
  void Assign(TPersistent* source) override;
  int NeededVersion() override;
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
  void Reset();
  uint32_t BackgroundColor();
  int IndexBits() const { return FGlobalMap->IndexBits(); }
  int ResolutionBits() const { return IndexBits() - 1; }

  TGIFScreenBlock ScreenBlock;
  TGIFGlobalColorMap& GlobalMap() { return *FGlobalMap; }

private:
  std::unique_ptr<TGIFGlobalColorMap> FGlobalMap;
};

// The image descriptor as stored.
struct TGIFImageBlock {
  uint8_t SeparatorByte = 0x2C;
  uint16_t ImageLeft = 0;
  uint16_t ImageTop = 0;
  uint16_t ImageWidth = 0;
  uint16_t ImageHeight = 0;
  uint8_t Flags = 0;
};

// One frame: an image block and the extensions before it.
class TGIFSubImage : public TGIFItem {
public:
  explicit TGIFSubImage(TGIFImage* image);
  ~TGIFSubImage() override;

  // Model (gif_blocks.cpp).
  void Reset();
  bool IsEmpty() const;
  int BoundValue(int which) const;
  void SetBoundValue(int which, int value);
  void PlaceFrame(int left, int top, int width, int height);
  TRect FrameRect() const;
  void AllocatePixels();
  void EnsurePixels();
  void ReleasePixels();
  uint8_t* RowAddress(int y);
  uint8_t PixelAt(int x, int y);
  TGIFColorMap& EffectiveColorMap();
  bool IsInterlaced() const { return (ImageBlock.Flags & 0x40) != 0; }
  void SetInterlaced(bool value);
  int IndexBits() const { return FLocalMap->IndexBits(); }
  int ResolutionBits() const { return IndexBits() - 1; }
  int NeededVersion() override;
  HPALETTE FramePalette();
  void ReplacePalette(HPALETTE palette);
  bool EnsureMask();
  void DropRendering();
  void CreateEmptyBitmap();
  bool HasRendering() const { return FRenderedBitmap != nullptr; }
  void DropMask();
  int Left() const { return ImageBlock.ImageLeft; }
  int Top() const { return ImageBlock.ImageTop; }
  int Width() const { return ImageBlock.ImageWidth; }
  int Height() const { return ImageBlock.ImageHeight; }
  // The transparent index of the control extension (0 without one).
  int TransparentIndex() const;

  // Reading and writing (gif_reader.cpp, gif_writer.cpp).
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // The extensions, the image descriptor and the local table, up to the pixel
  // data; false when no image descriptor follows the extensions.
  bool LoadBlocks(TStream& stream);
  void DecodePixels(TStream& stream);
  void EncodePixels(TStream& stream);
  void UpdateImageFlags();

  // Conversion, rendering and drawing (gif_frame.cpp).
  void Assign(TPersistent* source) override;
  void SetFromBitmap(TBitmap* bitmap, TBitmap* mask, int transparentIndex);
  void ApplyTransparencyMask(TBitmap* mask, int transparentIndex);
  TBitmap* GetRendering();
  void DrawFrame(TCanvas* canvas, const TRect& rect, bool tiled, bool masked);
  void StretchDrawFrame(TCanvas* canvas, const TRect& rect, bool tiled, bool masked);
  TRect ScaleFrameRect(const TRect& rect);

  // Optimisation (gif_optimize.cpp).
  void TrimTransparentBorder();
  void MergeWithPrevious(TGIFSubImage* previous);

  TGIFImageBlock ImageBlock;
  TGIFExtensionList& ExtensionBlocks() { return *FExtensions; }
  TGIFLocalColorMap& LocalMap() { return *FLocalMap; }
  uint8_t* Pixels() { return FPixels.empty() ? nullptr : FPixels.data(); }
  size_t PixelBytes() const { return FPixels.size(); }
  bool IsTransparent() const { return FIsTransparent; }
  void SetIsTransparent(bool value) { FIsTransparent = value; }
  TGIFGraphicControlExtension* ControlExtension() const { return FControlExtension; }
  void SetControlExtension(TGIFGraphicControlExtension* value) { FControlExtension = value; }
  HBITMAP TransparencyMask() const { return FTransparencyMask; }
  bool MaskPending() const { return FMaskPending; }

protected:
  void AssignTo(TPersistent* dest) override;

private:
  void AssignFromFrame(TGIFSubImage* source);
  void AssignFromBitmap(TBitmap* bitmap);
  void AssignFromGraphic(TGraphic* graphic);
  void ImportBitmap(TBitmap* bitmap, bool reportProgress);
  bool ApplyAppendedColorMask(TBitmap* mask);
  void ApplyMetafileMask(TMetafile* metafile);
  std::unique_ptr<TBitmap> RenderPlain();
  std::unique_ptr<TBitmap> RenderDithered();

  std::unique_ptr<TBitmap> FRenderedBitmap;
  HBITMAP FTransparencyMask = nullptr;
  bool FMaskPending = true;
  HPALETTE FPaletteCache = nullptr;
  std::vector<uint8_t> FPixels;
  std::unique_ptr<TGIFLocalColorMap> FLocalMap;
  std::unique_ptr<TGIFExtensionList> FExtensions;
  bool FIsTransparent = false;
  TGIFGraphicControlExtension* FControlExtension = nullptr;
};

class TGIFTrailer : public TGIFItem {
public:
  using TGIFItem::TGIFItem;
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
};

// Reads exactly count bytes or raises "Premature end of data".
void ReadExact(TStream& stream, void* buffer, int64_t count, const char* what);
// One byte, or 0 when none can be read; the second form tells which.
uint8_t ReadByteValue(TStream& stream);
bool ReadByteValue(TStream& stream, uint8_t& value);
void WriteByteValue(TStream& stream, uint8_t value);
