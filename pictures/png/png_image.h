#pragma once
// TPNGImage: the program's own PNG picture, held as the list of its chunks.
#include <cstdint>
#include <memory>

#include "pictures/png/png_chunks.h"
#include "platform/rtl/object.h"
#include "platform/rtl/streams.h"

class TPNGImage : public TPersistent {
public:
  TPNGImage();
  ~TPNGImage() override;

  // Reads a whole PNG stream; raises the PNG errors on a bad one, leaving the
  // chunks read before the error in the list.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream);

  bool GetEmpty() const { return FChunkList->Count() == 0; }
  int GetWidth() const;
  int GetHeight() const;
  // A PNG cannot be resized through its size: both always raise EPngError.
  void SetWidth(int value);
  void SetHeight(int value);

  void ClearChunks();
  void ResetGammaTables();
  TChunkIHDR* Header() const;
  bool HasAlphaData() const;
  // The row of the alpha plane (grey or truecolour with alpha), else nil.
  uint8_t* AlphaRow(int row) const;
  // Makes this picture a copy of source with its own chunks and settings.
  void CopyFromPNG(const TPNGImage& source);

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

private:
  uint8_t FRowFilters = 2;
  uint8_t FDeflateLevel = 7;
  uint32_t FIdatBlockSize = 65535;
  uint8_t FInterlaceMode = 0;
  std::unique_ptr<TPNGList> FChunkList;
};

// Row filter bits of RowFilters.
inline constexpr uint8_t kRowFilterNone = 1, kRowFilterSub = 2, kRowFilterUp = 4, kRowFilterAverage = 8,
                          kRowFilterPaeth = 16;
