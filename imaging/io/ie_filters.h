#pragma once
// The slots through which the input/output component reaches services that the
// layers above install: the readers of the formats whose filters are still to
// come (their descriptors call these), the views' layer files and stream tests,
// EXIF blocks and the LZW codecs. A format with a filter of its own has a
// descriptor (format_descriptor.h) instead. An empty slot makes its load or
// save fail (the abort flag set) and detection skip its test.
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "imaging/io/format_descriptor.h"
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

  // GIF: reads the frame GifImageIndex; frameCount gets the frames of the stream.
  std::function<void(TStream& stream, TIEBitmap& bitmap, int& frameCount, bool ignoreTransparency,
                     TIEMaskOut& mask, bool paramsOnly, TProgressRecord& progress, TIOParamsVals& params)>
      ReadGIFStream;
  std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress)>
      WriteGIFStream;

  using TSimpleWriter =
      std::function<void(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress)>;

  // The layered PSD reader and writer of the views: bitmap may be nil
  // (parameters only); layers is a list of view layers or nil. Loads and saves
  // of the component go through the PSD format's own descriptor, without layers.
  std::function<void(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, TList* layers, bool loadLayers,
                     TProgressRecord& progress)>
      ReadPSDStream;
  std::function<void(TStream& stream, TIOParamsVals& params, TProgressRecord& progress, TList* layers,
                     TIEBitmap* bitmap)>
      WritePSDStream;

  // PostScript and PDF output
  TSimpleWriter WritePSStream;
  TSimpleWriter WritePDFStream;

  // Specialised readers
  using TSpecialReader = std::function<void(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params,
                                            bool paramsOnly, TProgressRecord& progress)>;
  TSpecialReader ReadCameraRawStream;
  TIEStreamTest IsCameraRawStream;
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
