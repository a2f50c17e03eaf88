#pragma once
// Reading and writing pictures through an imaging-component factory of our
// own. Its one codec is HD Photo over libjxr; every other file type gets no
// decoder or encoder, so Open answers false for it.
//
// A reader or writer lives for one call of ReadHDPhotoStream or
// WriteHDPhotoStream. Both initialise OLE for themselves and balance it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_types.h"
#include "imaging/io/format_descriptor.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// Pixel layouts of a frame, as the imaging component names them.
enum TIEWICPixelFormat : uint8_t {
  iewpfOther,
  iewpf1bppIndexed,
  iewpf8bppIndexed,
  iewpfBlackWhite,
  iewpf8bppGray,
  iewpf16bppGray,
  iewpf24bppBGR,
  iewpf48bppRGB,
  iewpf32bppCMYK,  // 0 = no ink
};

// A decoded frame: what the converter of CopyFrame reads. Rows are top first,
// Stride bytes apart; indexed layouts carry their palette.
struct TIEWICBitmapSource {
  TIEWICPixelFormat PixelFormat = iewpfOther;
  int Width = 0;
  int Height = 0;
  size_t Stride = 0;
  std::vector<uint8_t> Pixels;
  std::vector<TRGB> Palette;
};

class TIEWICDecoder;
class TIEWICEncoder;

// The factory: decoders and encoders by file type (29, HD Photo, alone).
class TIEWICImagingFactory {
public:
  std::unique_ptr<TIEWICDecoder> CreateDecoderFromStream(TStream& stream, int fileType, const char*& why);
  std::unique_ptr<TIEWICEncoder> CreateEncoder(int fileType);
};

// Encoder options: a small property bag, name to value.
struct TIEWICOption {
  std::string Name;
  double Value = 0;
  uint16_t VariantType = 0;
};
using TIEWICPropertyBag = std::vector<TIEWICOption>;
constexpr uint16_t VT_UI2 = 18, VT_R4 = 4, VT_BOOL = 11, VT_UI1 = 17;
// Writes one option: the value converted to the variant type, replacing an
// earlier value of that name.
void SetWICEncoderOption(TIEWICPropertyBag& bag, const std::string& name, double value, uint16_t variantType);

class TIEWICReader {
public:
  TIEWICReader();
  ~TIEWICReader();
  bool IsAvailable() const;
  // False when unavailable, for a type without a decoder, or when the decoder
  // refuses the stream (Refusal() says why).
  bool Open(TStream& stream, int fileType);
  void Close();
  // Reads frame index into bitmap (nil: parameters only). Failures set
  // aborting (when given) and leave the bitmap as it was.
  void ReadFrame(int index, TIEBitmap* bitmap, bool* aborting, TIOParamsVals* params);
  // Converts a frame into bitmap by the format table.
  static bool CopyFrame(const TIEWICBitmapSource& source, TIEBitmap& bitmap, bool keepNative);
  int GetFrameWidth() const;
  int GetFrameHeight() const;
  const char* Refusal() const { return FRefusal; }

private:
  bool FOleInitialized = false;
  std::unique_ptr<TIEWICImagingFactory> FFactory;
  std::unique_ptr<TIEWICDecoder> FDecoder;
  bool FHasFrame = false;
  double FDpiX, FDpiY;
  TStream* FStream = nullptr;
  int64_t FStreamPos = 0;
  const char* FRefusal = nullptr;
};

class TIEWICWriter {
public:
  TIEWICWriter();
  ~TIEWICWriter();
  bool IsAvailable() const { return FFactory != nullptr; }
  bool Open(TStream& stream, int fileType);
  // Encodes one frame into memory; false (nothing written) when it fails.
  bool WriteFrame(TIEBitmap& bitmap, TIOParamsVals* params);
  // Puts the encoded file on the stream; false when there is none.
  bool Close();
  const char* Refusal() const { return FRefusal; }
  const TIEWICPropertyBag& Options() const { return FOptions; }

  double ImageQuality = -1.0;
  double CompressionQuality = -1.0;
  bool Lossless = false;
  bool UseCodecOptions = false;
  int Quality = 1;
  int Overlap = 1;
  int Subsampling = 3;
  int HorizontalTileSlices = 0;
  int VerticalTileSlices = 0;
  bool FrequencyOrder = true;
  uint8_t TiffCompressionIndex = 1;

private:
  bool FOleInitialized = false;
  std::unique_ptr<TIEWICImagingFactory> FFactory;
  std::unique_ptr<TIEWICEncoder> FEncoder;
  double FDpiX, FDpiY;
  TStream* FStream = nullptr;
  int64_t FStreamPos = 0;
  TIEWICPropertyBag FOptions;
  const char* FRefusal = nullptr;
};

// True when the factory can be made; asked once per process, then cached.
bool IsWICAvailable();
// How many times the factory was made for IsWICAvailable (for tests).
int WICAvailabilityProbes();

void ReadHDPhotoStream(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, bool paramsOnly,
                       TProgressRecord& progress);
void WriteHDPhotoStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress);

// The TIFF and EXIF tags of an HD Photo file go through these two hooks,
// which the metadata layer fills; empty, files are read and written without
// them. The reader gets the stream at the container's start; the writer gets
// the written file (source and target) at its start.
struct THDPhotoTagHooks {
  std::function<void(TStream& stream, TIOParamsVals& params)> ReadTags;
  std::function<void(TStream& stream, TIOParamsVals& params)> WriteTags;
};
THDPhotoTagHooks& HDPhotoTagHooks();

// The format's registry entry, detection and filter.
TIEFormatDescriptor HDPhotoFormat();
