#pragma once
// TPNGImage: the program's own PNG picture, held as the list of its chunks.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "pictures/png/png_chunks.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_graphic.h"
#include "platform/rtl/object.h"
#include "platform/rtl/streams.h"

// A caller's 32-bit rows of blue, green, red, alpha, top row first: row y
// starts at top + y * stride (a negative stride for a bottom-up DIB).
struct TBgraRows {
  uint8_t* top = nullptr;
  ptrdiff_t stride = 0;
};
// Asked for the rows once a picture's size is known; rows with a null top
// refuse the picture (the decode raises EPNGOutMemory).
using TBgraRowsFor = std::function<TBgraRows(int width, int height)>;

class TPNGImage : public TGraphic {
public:
  TPNGImage();
  ~TPNGImage() override;

  // From another PNG picture (a copy) or from a bitmap: 1-, 4- and 8-bit
  // bitmaps become palette images, pf32bit truecolour with alpha, the others
  // truecolour.
  void Assign(TPersistent* source) override;
  void Draw(TCanvas* canvas, const TRect& rect) override;
  bool GetEmpty() override { return FChunkList->Count() == 0; }
  int GetWidth() override;
  int GetHeight() override;

  // Reads a whole PNG stream; raises the PNG errors on a bad one, leaving the
  // picture as it was.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // CF_BITMAP only: the bitmap is copied in as by Assign.
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) override;
  // Gives a packed DIB (CF_DIB; 32-bit with alpha when the picture has an alpha
  // channel or transparent palette entries) and, when the clipboard is open,
  // also puts the PNG stream itself there under the registered format "PNG".
  void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) override;

  void ClearChunks();
  void ResetGammaTables();
  TChunkIHDR* Header() const;
  bool HasAlphaData() const;
  // The row of the alpha plane (grey or truecolour with alpha), else nil.
  uint8_t* AlphaRow(int row) const;
  // Makes this picture a copy of source with its own chunks and settings.
  void CopyFromPNG(const TPNGImage& source);

  // Builds the picture from a palette bitmap (1, 4 or 8 bits) whose entry
  // transparentIndex is fully transparent.
  void SetFromPaletteBitmap(TBitmap* bitmap, int transparentIndex);
  // The picture as a colour bitmap and, when mask is given, a 1-bit mask
  // (white transparent, black opaque) for an icon image; palette and grey
  // images with alpha use the threshold to tell the two apart.
  void ExtractBitmapAndMask(TBitmap* picture, TBitmap* mask, uint8_t threshold);

  // Sample value to displayed value and back, from the gAMA chunk (identity
  // without one). They describe the file for callers that correct for display;
  // the stored samples and colours are the file's own, so a picture loaded and
  // saved again keeps them.
  uint8_t DecodeGamma[256] = {};
  uint8_t EncodeGamma[256] = {};

  uint8_t RowFilters() const { return FRowFilters; }
  void SetRowFilters(uint8_t v) { FRowFilters = v; }
  uint8_t DeflateLevel() const { return FDeflateLevel; }
  void SetDeflateLevel(uint8_t v) { FDeflateLevel = v; }
  uint32_t IdatBlockSize() const { return FIdatBlockSize; }
  // Values below 65,535 become 65,535; the format caps a chunk at 2^31 - 1 bytes.
  void SetIdatBlockSize(uint32_t v);
  uint8_t InterlaceMode() const { return FInterlaceMode; }
  void SetInterlaceMode(uint8_t v) { FInterlaceMode = v; }
  TPNGList& ChunkList() const { return *FChunkList; }
  // Set while DecodePngToBgra reads the picture: its pixels go to these rows,
  // and the picture holds no DIB of its own.
  const TBgraRowsFor* BgraRowsTarget() const { return FBgraRows; }

protected:
  void AssignTo(TPersistent* dest) override;
  // A PNG cannot be resized through its size: both always raise EPngError.
  void DoSetWidth(int value) override;
  void DoSetHeight(int value) override;

private:
  // The chunks of a stream into this (fresh) picture; raises on a bad one.
  void ReadChunks(TStream& stream);
  bool AssignBitmapHandle(HBITMAP bitmap, bool withTransparency);
  void HeaderFromBitmap(HBITMAP bitmap, const BITMAP& info);
  void AssignFromBitmap(TBitmap* bitmap);
  void CopyAlphaFromBitmap(TBitmap* bitmap);
  void AssignToBitmap(TBitmap* bitmap);
  void PaletteToIndexBitmap(TBitmap* bitmap, int threshold);
  void ExtractPaletteImage(TBitmap* picture, TBitmap* mask, uint8_t threshold);
  void DrawWithAlpha(TCanvas* canvas, const TRect& rect);
  // The picture as a packed DIB in a global memory block (null when empty).
  HANDLE MakePackedDib();

  uint8_t FRowFilters = 2;
  uint8_t FDeflateLevel = 7;
  uint32_t FIdatBlockSize = 65535;
  uint8_t FInterlaceMode = 0;
  const TBgraRowsFor* FBgraRows = nullptr;
  std::unique_ptr<TPNGList> FChunkList;

  friend bool DecodePngToBgra(TStream& stream, const TBgraRowsFor& rowsFor);
};

// Decodes a truecolour PNG stream (red, green, blue with or without alpha, 8
// or 16 bits a sample, interlaced or not) straight into the caller's 32-bit
// rows: each pixel is written once, with no picture or DIB in between; the
// alpha is the file's, or 255 where it has none. False, with the stream where
// it was and nothing asked or written, for the kinds it leaves to a TPNGImage:
// palette and grey pictures, and truecolour ones with a transparent colour
// (tRNS). Raises the PNG errors of LoadFromStream on a bad stream; rows the
// image data does not reach are left as they were.
bool DecodePngToBgra(TStream& stream, const TBgraRowsFor& rowsFor);

// The id of a clipboard format whose data begin with the PNG signature, 0
// when there is none; the format found is remembered for the next call.
UINT FindClipboardPNGFormat();
// Loads the picture from the clipboard's PNG data; false (never an exception)
// when there is none or it does not load.
bool LoadPNGFromClipboard(TPNGImage& picture);

// Row filter bits of RowFilters.
inline constexpr uint8_t kRowFilterNone = 1, kRowFilterSub = 2, kRowFilterUp = 4, kRowFilterAverage = 8,
                          kRowFilterPaeth = 16;
