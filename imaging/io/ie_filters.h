#pragma once
// The slots through which the input/output component reaches the format
// filters, the specialised readers and the view-side stream tests. The layers
// above fill them, each with its own routines, from one registration call made
// before LibraryStaticInit. An empty slot makes its load or save fail (the
// abort flag set) and detection skip its test.
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "imaging/io/io_types.h"

class TIEBitmap;
class TIEMask;
class TIOParamsVals;
class TList;
class TStream;

// Codec routines a parameter set carries (the library's own unless a caller
// gives others).
// Fills a width x height buffer of palette indices from the LZW data at the position.
using GIFLZWDecoderProc = std::function<void(TStream& stream, int height, int width, uint8_t* indices, bool interlaced)>;
using GIFLZWEncoderProc =
    std::function<void(TStream& stream, int height, int width, int bitsPerPixel, const uint8_t* indices, bool interlaced)>;
// Each call returns the next row of rowBytes bytes of a strip of inputSize bytes;
// state is nil before the first call; a nil input releases the state.
using TIFFLZWDecoderProc =
    std::function<const uint8_t*(const uint8_t* input, int64_t inputSize, int rowBytes, void*& state, int fillOrder)>;
// Compresses length bytes into stream, continuing the strip in state; nil data ends it.
using TIFFLZWEncoderProc = std::function<void(const uint8_t* data, int64_t length, TStream* stream, void*& state)>;

using TIEMaskOut = std::unique_ptr<TIEMask>;
using TIEStreamTest = std::function<bool(TStream& stream)>;

struct TIEFilterSlots {
  // TIFF
  std::function<void(TIEBitmap* bitmap, TStream& stream, int& pageCount, TIOParamsVals& params,
                     TProgressRecord& progress, bool paramsOnly, TIEMaskOut& alphaMask, bool fromPosition,
                     bool noAlpha, bool exifThumbnail, bool exifBlock, bool header)>
      ReadTIFFStream;
  // Returns the page count written.
  std::function<int(TStream& stream, bool insert, TIEBitmap* bitmap, TProgressRecord& progress, TIOParamsVals& params)>
      WriteTIFFStream;
  TIEStreamTest IsTIFFStream;
  TIEStreamTest IsRawTIFFStream;

  // JPEG; returns the rows decoded.
  std::function<int32_t(TStream& stream, TStream* tablesStream, TIEBitmap* bitmap, bool nativeFormat, int linesToRead,
                        bool readICC, bool applyICC, bool invertCMYK, bool readMetadata, bool rawYCbCr,
                        bool paramsOnly, TProgressRecord& progress, TIOParamsVals& params)>
      ReadJpegStream;
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress)>
      WriteJpegStream;
  // Position of FF D8 FF at or after the current one (searching 150 bytes when
  // search is set), or -1; the position is restored.
  std::function<int64_t(TStream& stream, bool search)> FindJpegStart;

  // PNG
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                     TProgressRecord& progress)>
      ReadPNGStream;
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TIEMask* mask,
                     TProgressRecord& progress)>
      WritePNGStream;
  TIEStreamTest IsPNGStream;

  // GIF: reads the frame GifImageIndex; frameCount gets the frames of the stream.
  std::function<void(TStream& stream, TIEBitmap& bitmap, int& frameCount, bool ignoreTransparency,
                     TIEMaskOut& mask, bool paramsOnly, TProgressRecord& progress, TIOParamsVals& params)>
      ReadGIFStream;
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress)>
      WriteGIFStream;

  // PCX and DCX; size is the length of the PCX data from the position.
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                     TProgressRecord& progress, int64_t size)>
      ReadPCXStream;
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress)>
      WritePCXStream;
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                     TProgressRecord& progress)>
      ReadDCXStream;
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress)>
      WriteDCXStream;
  TIEStreamTest IsDCXStream;

  // BMP
  std::function<void(TStream& stream, TIEBitmap& bitmap, int64_t bmpSize, TIOParamsVals& params,
                     TProgressRecord& progress, bool paramsOnly, bool noFileHeader, TIEMaskOut& alphaMask,
                     bool ignoreAlpha)>
      ReadBMPStream;
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                     bool saveAlpha)>
      WriteBMPStream;

  // Icons and cursors
  using TIconReader = std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                                         TProgressRecord& progress, TIEMaskOut& alphaMask, bool ignoreAlpha)>;
  TIconReader ReadICOStream;
  TIconReader ReadCURStream;
  // One image per element of the two equal-length lists.
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                     const std::vector<std::pair<int, int>>& sizes, const std::vector<int>& bitCounts)>
      WriteICOStream;
  TIEStreamTest IsICOStream;
  TIEStreamTest IsCURStream;

  // Targa
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                     bool paramsOnly, TIEMaskOut& alphaMask, bool ignoreAlpha)>
      ReadTGAStream;
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                     TIEMask* alphaMask)>
      WriteTGAStream;
  TIEStreamTest IsTGAStream;

  // Portable anymap, wireless bitmap, raw pixels
  using TSimpleReader = std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params,
                                           TProgressRecord& progress, bool paramsOnly)>;
  using TSimpleWriter =
      std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress)>;
  TSimpleReader ReadPXMStream;
  TSimpleWriter WritePXMStream;
  TIEStreamTest IsPXMStream;
  TSimpleReader ReadWBMPStream;
  TSimpleWriter WriteWBMPStream;
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress)>
      ReadRawPixelStream;

  // PSD: bitmap may be nil (parameters only); layers is a list of view layers or nil.
  std::function<void(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, TList* layers, bool loadLayers,
                     TProgressRecord& progress)>
      ReadPSDStream;
  std::function<void(TStream& stream, TIOParamsVals& params, TProgressRecord& progress, TList* layers,
                     TIEBitmap* bitmap)>
      WritePSDStream;
  TIEStreamTest IsPSDStream;

  // PostScript and PDF output
  TSimpleWriter WritePSStream;
  TSimpleWriter WritePDFStream;

  // Metafiles: width or height -1 keeps the picture's own size.
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, int width, bool withAlpha,
                     int height, TProgressRecord& progress)>
      ReadMetafileStream;
  std::function<void(TStream& stream, TIOParamsVals& params)> ReadMetafileParams;
  TIEStreamTest IsWMFStream;
  TIEStreamTest IsEMFStream;

  // Specialised readers
  using TSpecialReader = std::function<void(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params,
                                            bool paramsOnly, TProgressRecord& progress)>;
  TSpecialReader ReadCameraRawStream;
  TIEStreamTest IsCameraRawStream;
  TSpecialReader ReadDICOMStream;
  TIEStreamTest IsDICOMStream;
  TSpecialReader ReadJ2000Stream;
  // codeStream: 0 a JP2 file, 1 a bare code stream.
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, int codeStream,
                     TProgressRecord& progress)>
      WriteJ2000Stream;
  TIEStreamTest IsJP2Stream;
  TIEStreamTest IsJ2KStream;
  TSpecialReader ReadHDPhotoStream;
  TSimpleWriter WriteHDPhotoStream;
  TIEStreamTest IsHDPhotoStream;
  std::function<bool()> IsWICAvailable;

  // Layer and object streams of the views
  TIEStreamTest IsIEVStream;
  TIEStreamTest IsALLStream;
  TIEStreamTest IsLayersStream;

  // EXIF blocks, filled by the TIFF family. While empty an EXIF marker is kept
  // byte for byte through a load and a save.
  std::function<bool(const uint8_t* data, int64_t length, TIOParamsVals& params)> ParseEXIFMarker;
  // The block, with the "Exif" header when withHeader is set.
  std::function<std::vector<uint8_t>(TIOParamsVals& params, bool withHeader)> BuildEXIFBlock;

  // The library's codec routines, copied into every new parameter set.
  GIFLZWDecoderProc GIFLZWDecompress;
  GIFLZWEncoderProc GIFLZWCompress;
  TIFFLZWDecoderProc TIFFLZWDecompress;
  TIFFLZWEncoderProc TIFFLZWCompress;
};

// The one table of the process. Filled before LibraryStaticInit, read after it.
TIEFilterSlots& IEFilters();
