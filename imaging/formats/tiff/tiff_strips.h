#pragma once
// Turns the bytes of one TIFF strip or tile into rows of the bitmap the reader
// allocated: undoes the compression row by row, unpacks samples narrower than
// a byte, undoes the horizontal predictor and converts each photometric
// interpretation and sample layout into the bitmap's pixel format, sending
// alpha samples to the reader's mask.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/io/ie_filters.h"

class TIEBitmap;
class TIEMask;
class TIOParamsVals;
struct TProgressRecord;

// What the reader learnt about the image being decoded.
struct TTIFFVars {
  int32_t ImageWidth = 0, ImageLength = 0;
  int32_t SamplesPerPixel = 1, BitsPerSample = 1;
  int32_t RowsPerStrip = 0, TileWidth = -1, TileLength = -1;
  uint16_t Photometric = 2, PlanarConfiguration = 1, Orientation = 1, Compression = 1;
  std::vector<uint32_t> StripOffsets, StripByteCounts, TileOffsets, TileByteCounts;
  std::vector<uint8_t> ColorMap;  // 3 bytes an entry: blue, green, red
  int32_t ColorMapCount = 0;
  int32_t Predictor = 1;
  std::vector<uint8_t> JPEGTables;
  int32_t T4Options = 0, T6Options = 0, FillOrder = 1;
  std::string Software;
  int32_t YCbCrSubSampling[2] = {2, 2};
  int32_t JPEGProc = 0, JPEGInterchangeFormat = 0, JPEGInterchangeFormatLength = 0;
  TIFFLZWDecoderProc LZWDecoder;
  bool LittleEndian = true;
  TIOParamsVals* Params = nullptr;
  TIEMask* AlphaMask = nullptr;
  bool NoAlpha = false;
  int32_t ExtraSamples = 0;
  int32_t ExtraSampleCount = 0;
  int32_t ExtraSampleValues[10] = {};
  int32_t StripCount = 0;  // strips or tiles of the image, for progress
};

// Bytes of one coded row of width pixels (all samples, or one plane).
int64_t TIFFRowBytes(const TTIFFVars& vars, int width, bool onePlane);

// False, with a reason, for a layout no conversion handles; checked before
// anything is allocated.
bool TIFFLayoutSupported(const TTIFFVars& vars, const char*& why);

// Decodes rows rows of width pixels from the strip's dataSize bytes into the
// bitmap at row firstRow, column x (0 for strips). Bad or short data sets the
// abort flag with a reason; the rows decoded stay, the rest of the strip is
// cleared.
void DecodeTIFFImage(TTIFFVars& vars, TIEBitmap& bitmap, int firstRow, TProgressRecord& progress, int rows, int width,
                     int64_t dataSize, const uint8_t* data, int x);
// The same for one strip index of every plane (separate planes).
void DecodeTIFFPlanes(TTIFFVars& vars, TIEBitmap& bitmap, int firstRow, TProgressRecord& progress, int rows, int width,
                      const std::vector<std::vector<uint8_t>>& planes, int x);

// Undoes predictor 2 on one row of width pixels of samples samples each.
void ApplyTIFFPredictor(const TTIFFVars& vars, uint8_t* row, int width, int samples);
