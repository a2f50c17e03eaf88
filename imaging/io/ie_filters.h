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
#include <string>
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

// A view made for one load of a layered file (code ioIEV 25, ioLYR 26 or ioALL
// 27) when no view of the right class is attached: it reads the layers and
// objects and hands back the whole picture (layers flattened, objects painted
// on). The views install a factory per code at start-up.
class TIETempLayeredView {
public:
  virtual ~TIETempLayeredView() = default;
  // False when nothing was read; the view is then as it was.
  virtual bool LoadLayeredFile(const std::wstring& name) = 0;
  virtual bool LoadLayeredStream(TStream& stream) = 0;
  // The picture of the last successful load, with its alpha channel; owned by the view.
  virtual TIEBitmap& LayeredPicture() = 0;
};
using TIETempLayeredViewFactory = std::function<std::unique_ptr<TIETempLayeredView>(TImageFileType code)>;

struct TIEFilterSlots {

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


  // Specialised readers
  using TSpecialReader = std::function<void(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params,
                                            bool paramsOnly, TProgressRecord& progress)>;

  // Layer and object streams of the views
  TIEStreamTest IsIEVStream;
  TIEStreamTest IsALLStream;
  TIEStreamTest IsLayersStream;
  // Temporary views for layered loads, by code - ioIEV (25, 26, 27); empty
  // until the view that reads the code installs it.
  TIETempLayeredViewFactory TempLayeredViews[3];

  // The "Exif" marker a JPEG save writes, given the marker the picture was
  // read with (nil when none), filled by the TIFF family. While empty an EXIF
  // marker is kept byte for byte through a load and a save.
  std::function<std::vector<uint8_t>(TIOParamsVals& params, const uint8_t* read, int64_t readLength)>
      RebuildEXIFMarker;

  // The library's codec routines, copied into every new parameter set.
  GIFLZWDecoderProc GIFLZWDecompress;
  GIFLZWEncoderProc GIFLZWCompress;
  TIFFLZWDecoderProc TIFFLZWDecompress;
  TIFFLZWEncoderProc TIFFLZWCompress;
};

// The one table of the process. Filled before LibraryStaticInit, read after it.
TIEFilterSlots& IEFilters();
// Installs the factory of code 25, 26 or 27 (other codes are ignored).
void SetTempLayeredViewFactory(TImageFileType code, TIETempLayeredViewFactory factory);
// A new temporary view for code, or nil when none is installed.
std::unique_ptr<TIETempLayeredView> MakeTempLayeredView(TImageFileType code);
