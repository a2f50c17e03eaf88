#pragma once
// The imaging library's raster image. Every reader, writer, operation and view
// of the library holds its pictures in a TIEBitmap: a width, a height, one pixel
// format, rows of a fixed length, an optional palette and alpha channel, and
// pixels kept in memory, in a paged temporary file or in a framework bitmap.
//
// Row 0 is the top row whatever the storage. A row address of a bitmap kept in
// a temporary file is valid only until the next ScanLine of the same bitmap;
// AcquireRow keeps several rows mapped at once.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_blend.h"
#include "imaging/core/ie_file_buffer.h"
#include "imaging/core/ie_progress.h"
#include "imaging/core/ie_types.h"
#include "platform/rtl/object.h"

class TBitmap;
class TCanvas;
class TIEBitmap;
class TIEDibbitmap;
class TIEMask;
struct RECT;
enum TResampleFilter : uint8_t;  // ie_resample.h

// A source of virtual pixels: the bitmap asks it for rows instead of storing them.
class TIEVirtualBitmapRenderer : public TObject {
public:
  // Address of n blue, green, red pixels of row y from column x.
  virtual uint8_t* GetPixels(TIEBitmap* bitmap, int y, int n, int x) = 0;
  // Draws destination rows firstRow..lastRow, columns firstColumn..lastColumn
  // (24-bit rows in rowTable, indexed by destination row). rowMap[i] is the
  // source row of destination row firstRow + i, columnMap[i] the source column
  // of destination column firstColumn + i. opacity is 255 for plain drawing.
  virtual void DrawRows(TIEBitmap* bitmap, uint8_t* const* rowTable, TIEBlendMode mode, uint8_t opacity,
                        const int32_t* rowMap, const int32_t* columnMap, int lastRow, int lastColumn, int firstRow,
                        int firstColumn) {
    (void)bitmap, (void)rowTable, (void)mode, (void)opacity, (void)rowMap, (void)columnMap;
    (void)lastRow, (void)lastColumn, (void)firstRow, (void)firstColumn;
  }
};

// Fills one 3-byte pixel of a virtual bitmap: (sender, x, pixel, y).
using TIERowCallback = std::function<void(TIEBitmap* sender, int x, TRGB* pixel, int y)>;

class TIEBaseBitmap : public TObject {
public:
  // How rows of a file-backed bitmap are mapped: 1 read, 2 write, 3 both.
  uint8_t Access() const { return FAccess; }
  void SetAccess(uint8_t access) { FAccess = access; }

  virtual uint8_t* ScanLine(int row) = 0;
  virtual int BitCount() = 0;
  virtual int Height() = 0;
  virtual int Width() = 0;
  virtual TIEBitmapFormat PixelFormat() = 0;
  virtual int64_t RowLen() = 0;
  virtual TRGB* Palette() = 0;
  // An index outside the palette leaves rgb as it was.
  virtual void GetPaletteColor(int index, TRGB& rgb) = 0;
  virtual void SetPaletteColor(int index, const TRGB& rgb) = 0;
  virtual int PaletteLength() = 0;
  virtual bool Allocate(int width, int height, TIEBitmapFormat format) = 0;
  virtual void Assign(TObject* source) = 0;
  virtual void CopyPaletteTo(TIEBaseBitmap* destination) = 0;

protected:
  uint8_t FAccess = 3;
};

// Sets the access mode of a bitmap for one pass over its rows and restores it
// when the pass ends, also when it ends by an exception.
class TIEAccessScope {
public:
  TIEAccessScope(TIEBaseBitmap& bitmap, uint8_t access) : FBitmap(bitmap), FSaved(bitmap.Access()) {
    bitmap.SetAccess(access);
  }
  ~TIEAccessScope() { FBitmap.SetAccess(FSaved); }
  TIEAccessScope(const TIEAccessScope&) = delete;
  TIEAccessScope& operator=(const TIEAccessScope&) = delete;

private:
  TIEBaseBitmap& FBitmap;
  uint8_t FSaved;
};

class TIEBitmap : public TIEBaseBitmap {
public:
  TIEBitmap();
  TIEBitmap(int width, int height, TIEBitmapFormat format);  // Create, then Allocate
  ~TIEBitmap() override;
  static std::unique_ptr<TIEBitmap> CreateCopy(TIEBitmap& source);
  // An opaque ie8g channel (Full); ieTBitmap becomes ieMemory.
  static std::unique_ptr<TIEBitmap> CreateAlphaChannel(int width, int height, TIEStorageLocation location);

  // ---- the virtual operations ----
  uint8_t* ScanLine(int row) override;
  int BitCount() override;
  int Height() override;
  int Width() override;
  TIEBitmapFormat PixelFormat() override;
  int64_t RowLen() override;
  int ChannelCount();
  TRGB* Palette() override { return FPaletteData.empty() ? nullptr : FPaletteData.data(); }
  void GetPaletteColor(int index, TRGB& rgb) override;
  void SetPaletteColor(int index, const TRGB& rgb) override;
  int PaletteLength() override { return FPaletteCount; }
  // Frees everything and allocates anew (pixels not cleared); with
  // NeedsReallocation off and the same geometry it keeps the pixels. On failure
  // the bitmap is left empty and the result is false.
  bool Allocate(int width, int height, TIEBitmapFormat format) override;
  // Copies a TIEBitmap: geometry, pixels, palette, alpha, Full. When the copy's
  // storage cannot be had, this bitmap is left as it was.
  void Assign(TObject* source) override;
  void CopyPaletteTo(TIEBaseBitmap* destination) override;

  // ---- whole-image state ----
  bool IsEmpty() const { return FWidth == 0 || FHeight == 0 || FRowLength == 0 || FBitsPerPixel == 0; }
  bool IsVirtual() const { return FRowCallback != nullptr || FRenderer != nullptr; }
  bool Full() const { return FFull; }
  void SetFull(bool full) { FFull = full; }
  bool CheckFull();
  bool IsAllZero();
  bool IsAlphaChannel() const { return FIsAlphaChannel; }
  bool TopDown() const { return FTopDown; }

  // ---- alpha channel ----
  TIEBitmap* AlphaChannel();  // created opaque on first use; nil for an alpha channel
  bool HasAlphaChannel() const { return FAlphaBitmap != nullptr; }
  void RemoveAlphaChannel(bool merge = false, uint32_t background = 0);
  // Makes alpha the channel of bitmap and returns the previous one to the caller.
  friend std::unique_ptr<TIEBitmap> AttachAlphaChannel(TIEBitmap& bitmap, std::unique_ptr<TIEBitmap> alpha);
  uint8_t GetAlpha(int x, int y);
  void SetAlpha(int x, int y, uint8_t value);

  // ---- pixels (no range checks: callers keep x and y inside) ----
  uint8_t* PixelAddress(int y, int x, int n = 1);
  uint8_t GetPixel8(int x, int y) { return *PixelAddress(y, x); }
  uint16_t GetPixel16(int x, int y) { return *reinterpret_cast<uint16_t*>(PixelAddress(y, x)); }
  float GetPixelFloat(int x, int y) { return *reinterpret_cast<float*>(PixelAddress(y, x)); }
  TCMYK GetPixelCMYK(int x, int y) { return *reinterpret_cast<TCMYK*>(PixelAddress(y, x)); }
  TRGB GetPixelRGB(int x, int y) { return *reinterpret_cast<TRGB*>(PixelAddress(y, x)); }
  TRGB48 GetPixelRGB48(int x, int y) { return *reinterpret_cast<TRGB48*>(PixelAddress(y, x)); }
  uint8_t* PixelAddressRGB(int x, int y) { return ScanLine(y) + 3 * int64_t(x); }
  void SetPixel8(int x, int y, uint8_t v);
  void SetPixel16(int x, int y, uint16_t v);
  void SetPixelFloat(int x, int y, float v);
  void SetPixelRGB48(int x, int y, TRGB48 v);
  void SetPixelCMYK(int x, int y, TCMYK v);
  void SetPixelRGB(int x, int y, TRGB v);

  // ---- filling ----
  // value: a grey level, a float sample or a colour 0x00BBGGRR, by format.
  void Fill(double value);
  void FillRect(int x1, int y1, int x2, int y2, double value);

  // ---- copying ----
  // As Assign, but keeps this bitmap's alpha channel and row alignment.
  void CopyFromTIEBitmap(TIEBitmap& source);
  // Hands all content to destination (whose storage is freed first); this bitmap
  // is left empty with its location and settings.
  void MoveStorageTo(TIEBitmap& destination);

  // ---- storage ----
  bool AllocateStorage();
  void FreeImage(bool withAlpha);
  uint8_t* AcquireRow(int row);
  void ReleaseRow(int row);
  void UnmapRows();
  TIEStorageLocation Location() const { return FLocation; }
  // Moves the pixels to another location; false (and nothing changed) when the
  // new storage cannot be had.
  bool SetLocation(TIEStorageLocation location);
  int RowAlignment() const { return FRowAlignment; }
  void SetRowAlignment(int bits);
  // ---- the framework bitmap location ----
  // Moves the picture into a framework bitmap and returns it; nil (the picture
  // kept where it was) when the format cannot live there or no bitmap can be had.
  TBitmap* VclBitmap();
  // The framework bitmap's canvas (moving the picture there first); nil as above.
  TCanvas* Canvas();
  // Lays the bitmap over a caller's framework bitmap. 1-, 8-, 24- and 32-bit
  // bitmaps are taken as they are; any other depth is first converted to 24 bits
  // (colours kept), as no library format reads those rows.
  void EncapsulateTBitmap(TBitmap* bitmap, bool freeFirst);
  void SyncFromTBitmap();
  void BuildRowTable();
  void FreeRowTable() { FRowTable.clear(); }
  void UpdateTBitmapPalette();
  void CopyPaletteFromTBitmap(TBitmap* bitmap, int n);
  void UpdateTBitmapOrientation();

  // Lays the bitmap over a caller's buffer of height x row length bytes.
  void EncapsulateMemory(void* buffer, int width, int height, TIEBitmapFormat format, bool topDown,
                         bool freeFirst);

  // ---- settings ----
  int64_t MemoryLimit() const { return FMemoryLimit; }
  void SetMemoryLimit(int64_t limit) { FMemoryLimit = limit; }
  uint8_t AllocatorKind() const { return FAllocatorKind; }
  void SetAllocatorKind(uint8_t kind) { FAllocatorKind = kind; }
  uint8_t BWConversion() const { return FBWConversion; }
  void SetBWConversion(uint8_t v) { FBWConversion = v; }
  int PaletteColorCount() const { return FPaletteColorCount; }
  void SetPaletteColorCount(int n) { FPaletteColorCount = n; }
  bool NeedsReallocation() const { return FNeedsReallocation; }
  void SetNeedsReallocation(bool v) { FNeedsReallocation = v; }
  double RangeMin() const { return FRangeMin; }
  double RangeMax() const { return FRangeMax; }
  void SetRange(double lo, double hi) {
    FRangeMin = lo;
    FRangeMax = hi;
  }
  int BrightnessRed() const { return FBrightnessRed; }
  int BrightnessGreen() const { return FBrightnessGreen; }
  int BrightnessBlue() const { return FBrightnessBlue; }
  void SetBrightness(int red, int green, int blue) {
    FBrightnessRed = red;
    FBrightnessGreen = green;
    FBrightnessBlue = blue;
  }
  // A value free for the owner's use (the processing component keeps a layer index).
  int32_t Spare() const { return FSpare; }
  void SetSpare(int32_t v) { FSpare = v; }
  bool AdjustDisplay() const { return FAdjustDisplay; }
  void SetAdjustDisplay(bool v) { FAdjustDisplay = v; }
  int Contrast() const { return FContrast; }
  void SetContrast(int v) { FContrast = v; }
  int SegmentCount() const { return FSegmentCount; }
  TIEFileBuffer* FileBuffer() { return FFileBuffer.get(); }
  void SetRowCallback(TIERowCallback callback) { FRowCallback = std::move(callback); }
  void SetRenderer(std::unique_ptr<TIEVirtualBitmapRenderer> renderer) { FRenderer = std::move(renderer); }
  const TIERowCallback& RowCallback() const { return FRowCallback; }
  TIEVirtualBitmapRenderer* Renderer() const { return FRenderer.get(); }
  TObject* CachedObject() const { return FCachedObject.get(); }
  void SetCachedObject(std::unique_ptr<TObject> object) { FCachedObject = std::move(object); }

  // ---- pixel formats, geometry and exchange (ie_pixel_convert.cpp, ie_geometry.cpp) ----
  // Changes the format in place; false (the picture kept as it was) when the new
  // storage cannot be had or a framework bitmap cannot hold the format.
  bool ConvertToPixelFormat(TIEBitmapFormat format);
  void SetPixelFormat(TIEBitmapFormat format);
  // Fills this bitmap (allocated at the source's size) from source; the source is not changed.
  void ConvertFrom(TIEBitmap& source);
  TRGB GetPixelAsRGB(int x, int y);
  // Width and height changed with the content kept at the top-left; new
  // columns and rows are not cleared. The alpha channel changes alongside.
  void SetWidth(int width);
  void SetHeight(int height);
  // Canvas resize: alignment 0 keeps the origin, 1 centres, 2 aligns right or
  // bottom; the new area takes background and, in the alpha channel, alphaFill.
  void Resize(int width, int height, double background, int alphaFill, int hAlign, int vAlign);
  // Copies the inclusive rectangle to (dx, dy), filling its old place with value when fill is set.
  void MoveRect(int x1, int y1, int x2, int y2, int dx, int dy, bool fill, double value);
  // Copies a rectangle into destination, clipped to both; pairs of formats
  // without a direct rule go through the destination's format.
  void CopyRectTo(TIEBitmap& destination, int sx, int sy, int width, int height, int dx, int dy);
  // Turns the picture and its alpha channel counter-clockwise by angle degrees
  // (ie_proc_rotate.h): right angles exactly in every format; other angles
  // without antiAlias, or for formats other than ie24RGB and ie1g, by nearest
  // pixel; with it by three shears (quality 0, and ie1g by plain mapping) or
  // bilinear (1) or bicubic (2, or more) sampling. Uncovered corners take
  // background (a TColor) and are transparent.
  void Rotate(bool antiAlias, int quality, TObject* sender, const TIEProgressEvent& progress, uint32_t background,
              double angle);
  // Each destination alpha value in the rectangle (clipped as CopyRectTo) becomes
  // the larger of itself and the source's; both channels are created when missing.
  void MaxAlphaRectTo(TIEBitmap& destination, int sx, int sy, int width, int height, int dx, int dy);
  // The selection's bounding box into destination (allocated in this format),
  // then the selected pixels again with their alpha; nothing for an empty mask.
  void CopySelection(TIEBitmap& destination, TIEMask& mask);

  // ---- zoomed drawing (ie_render.cpp) ----
  // Draws the source rectangle (xSrc, ySrc, dxSrc, dySrc), scaled, into the
  // rectangle (xDst, yDst, dxDst, dyDst) of destination, an ie24RGB bitmap in
  // memory or in a framework bitmap (anything else is not drawn into), limited
  // to clip (right and bottom exclusive) when given. Opacity 255 and no used
  // alpha channel copy the colour; otherwise each pixel moves toward the new
  // colour by min(opacity, alpha) / 256, 255 writing it and 0 leaving the
  // destination. With a filter other than rfNone and different sizes the
  // rectangle is resampled first. rowReuse lets repeated source rows be copied
  // from the row drawn above (only for a solid background under opaque plain
  // drawing). rowTable, columnMap and rowMap may be null; a non-empty one is
  // used as it is (maps are indexed from the clipped destination origin), an
  // empty one receives what was built unless freeMaps is set. Never raises: a
  // failure (memory, library errors) leaves the destination partly drawn.
  void RenderToTIEBitmapEx(TIEBitmap& destination, std::vector<uint8_t*>* rowTable, std::vector<int32_t>* columnMap,
                           std::vector<int32_t>* rowMap, const RECT* clip, int xDst, int yDst, int dxDst, int dyDst,
                           int xSrc, int ySrc, int dxSrc, int dySrc, bool enableAlpha, bool rowReuse,
                           uint8_t opacity, TResampleFilter filter, bool freeMaps, TIEBlendMode blendMode);
  // No clip, alpha used, no row reuse, maps freed.
  void RenderToTIEBitmap(TIEBitmap& destination, int xDst, int yDst, int dxDst, int dyDst, int xSrc, int ySrc,
                         int dxSrc, int dySrc, TResampleFilter filter, uint8_t opacity = 255,
                         TIEBlendMode blendMode = iebmNormal);
  // The same into a 24-bit framework bitmap.
  void RenderToTBitmapEx(TBitmap& destination, std::vector<uint8_t*>* rowTable, std::vector<int32_t>* columnMap,
                         std::vector<int32_t>* rowMap, const RECT* clip, int xDst, int yDst, int dxDst, int dyDst,
                         int xSrc, int ySrc, int dxSrc, int dySrc, bool enableAlpha, bool rowReuse, uint8_t opacity,
                         TResampleFilter filter, bool freeMaps, TIEBlendMode blendMode);
  void RenderToTBitmap(TBitmap& destination, int xDst, int yDst, int dxDst, int dyDst, int xSrc, int ySrc, int dxSrc,
                       int dySrc, TResampleFilter filter, uint8_t opacity = 255, TIEBlendMode blendMode = iebmNormal);
  // The whole bitmap scaled onto a canvas (a printer's among others): without a
  // filter stretched as a DIB, with one resampled and drawn in strips. A gamma
  // above 0 and other than 1 is applied to 24-bit colour.
  void RenderToCanvas(TCanvas& canvas, int x, int y, int width, int height, TResampleFilter filter, double gamma);

  // ---- exchange with framework bitmaps, masks and DIB sections ----
  // ieCMYK, ieRGB48 and ieCIELab raise EInvalidGraphic; ie16g and ie32f become
  // 8-bit grey; ie32RGB keeps its fourth byte.
  void CopyToTBitmap(TBitmap& bitmap);
  // Every framework depth: 1 bit (black and white, else indexed), 4 and 8 bits
  // indexed, 15 and 16 bits widened to 24, 24 and 32 bits as they are; device
  // layouts through a 24-bit copy. The caller's bitmap is not changed.
  void CopyFromTBitmap(TBitmap& bitmap);
  // A 1-bit mask gives ie1g, an 8-bit one ie8g, no mask an opaque fill; the
  // mask's Full flag comes along. Turns a transparency mask into an alpha channel.
  void CopyFromMask(TIEMask* mask);
  // The rows of a 1-bit DIB as ie1g, of a 24-bit one as ie24RGB (8 bits as ie8g).
  void CopyFromDibbitmap(TIEDibbitmap* dib);

private:
  bool ConvertFrameworkLocated(TIEBitmapFormat format);
  bool ChangeSizeKeepingRows(int width, int height);
  bool ReallocateKeepingOld(TIEBitmap& previous, int width, int height, TIEBitmapFormat format);
  void CopyDisplaySettingsFrom(const TIEBitmap& source);
  void CopyContentFrom(TIEBitmap& source, bool withAlpha, bool takeAlignment);
  bool CanReuseStorageFor(const TIEBitmap& source, bool takeAlignment) const;
  void FinishCopyFrom(TIEBitmap& source, bool withAlpha, TIEBitmap* previous);
  void CopyRowsFrom(TIEBitmap& source);
  bool AllocateMemory(int64_t size);
  bool AllocateSegments();
  bool AllocateFileStore(int64_t size);
  bool AllocateFrameworkBitmap();
  bool AssignIntoFrameworkBitmap(TIEBitmap& source);
  void TakeGeometryFromTBitmap();
  void FreeSegments();
  void FreeMemoryBlock();
  void FreeFrameworkBitmap();
  void UnmapMappedRow();
  void FillRowRange(uint8_t* row, int x1, int x2, double value);

  std::unique_ptr<TIEFileBuffer> FFileBuffer;
  uint8_t* FMappedRow = nullptr;
  std::vector<TRGB> FPaletteData;
  int32_t FPaletteCount = 0;
  std::unique_ptr<TIEBitmap> FAlphaBitmap;
  uint8_t* FMemoryBase = nullptr;
  void* FMemoryBlock = nullptr;
  uint8_t FMemoryBlockKind = 0;  // the allocator that gave FMemoryBlock
  TBitmap* FFrameworkBitmap = nullptr;           // ours (FOwnedTBitmap) or the caller's
  std::unique_ptr<TBitmap> FOwnedTBitmap;
  std::vector<uint8_t*> FRowTable;
  std::vector<uint8_t*> FAcquiredWindows;
  std::vector<int> FAcquiredRows;
  bool FTopDown = false;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FBitsPerPixel = 0;
  int32_t FChannels = 0;
  int64_t FRowLength = 0;
  TIEBitmapFormat FPixelFormat = ieNoFormat;
  bool FIsAlphaChannel = false;
  TIEStorageLocation FLocation = ieFile;
  bool FFull = false;
  bool FBorrowedTBitmap = false;
  bool FBorrowedMemory = false;
  int64_t FMemoryLimit = 0;
  uint8_t FBWConversion = 1;
  int32_t FPaletteColorCount = 256;
  double FRangeMin = 0;
  double FRangeMax = 0;
  int32_t FBrightnessRed = 0;
  int32_t FBrightnessGreen = 0;
  int32_t FBrightnessBlue = 0;
  int32_t FSpare = 0;
  bool FAdjustDisplay = false;
  int32_t FContrast = 0;
  int32_t FRowAlignment = 32;
  uint8_t FAllocatorKind = 2;
  bool FNeedsReallocation = true;
  std::unique_ptr<TObject> FCachedObject;
  int32_t FSegmentCount = 0;
  int32_t FRowsPerSegment = 0;
  std::vector<void*> FSegments;
  TIERowCallback FRowCallback;
  std::unique_ptr<TIEVirtualBitmapRenderer> FRenderer;
  std::vector<uint8_t> FVirtualRowBuffer;
};

std::unique_ptr<TIEBitmap> AttachAlphaChannel(TIEBitmap& bitmap, std::unique_ptr<TIEBitmap> alpha);

// ie8p: every palette entry grey; ie24RGB, ieRGB48, ie32RGB: every pixel grey;
// every other format counts as grey.
bool IsGrayBitmap(TIEBitmap& bitmap);
// A 256-entry grey colour table (entry i = grey i) for an 8-bit framework bitmap.
void SetGrayColorTable(TBitmap& bitmap);
bool HasGrayColorTable(TBitmap& bitmap);
// Colour table of a pf8bit bitmap into the palette of an ie8p bitmap.
void CopyColorTableToBitmap(TBitmap& bitmap, TIEBitmap& target);

// The selected pixels of source (alpha included) into destination, allocated at
// the mask's bounding box in the source's format and filled with background
// first; nothing for an empty mask.
void CopyMaskedArea(TIEBitmap& source, TIEBitmap& destination, TIEMask& mask, double background);
// ie1g and ie8g rows become a 1- or 8-bit mask of the bitmap's size; ie24RGB an
// 8-bit mask of grey / 4 (0..63); other formats leave the mask alone.
void CopyBitmapToMask(TIEBitmap& bitmap, TIEMask& mask);

// Smallest and largest sample into RangeMin / RangeMax (ie8g, ie24RGB, ie16g, ie32f).
void ComputeValueRange(TIEBitmap& bitmap);
