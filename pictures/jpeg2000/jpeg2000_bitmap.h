#pragma once
// TJpeg2000Bitmap: a bitmap that reads and writes JPEG 2000 pictures through
// OpenJPEG. Loading takes JP2 files and bare J2K code streams (told apart by
// their first bytes); saving always writes a JP2 file.
#include <cstdint>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

class EJpeg2000Error : public EInvalidGraphic {
public:
  explicit EJpeg2000Error(std::string message) : EInvalidGraphic(std::move(message)) {}
};

inline constexpr const char* kJpeg2000DecodeFailed = "JPEG 2000 image decoding failed";
inline constexpr const char* kJpeg2000CreateFailed = "Failed to create JPEG 2000 image struct for saving";
inline constexpr const char* kJpeg2000EncodeFailed = "JPEG 2000 image encoding failed";

// A decoded picture may hold at most this many samples over all its
// components, so that a small hostile header cannot make the decoder allocate
// gigabytes.
inline constexpr uint64_t kMaxJpeg2000Samples = uint64_t(1) << 27;
// OpenJPEG fills in whatever a code stream leaves out, so a few hundred bytes
// may claim a picture of hundreds of megabytes. Up to the free samples
// (the largest icon element, 1024 x 1024 with alpha) any picture is decoded;
// beyond them a picture needs a byte of code stream per this many samples,
// which even a flat picture brings.
inline constexpr uint64_t kJpeg2000FreeSamples = uint64_t(1) << 22;
inline constexpr uint64_t kJpeg2000SamplesPerByte = uint64_t(1) << 15;
// Every component of every tile costs the decoder time and memory of its own,
// present in the stream or not, so a picture of tiny tiles is slow whatever
// its size. Past the free tile components each must average this many samples.
inline constexpr uint64_t kJpeg2000FreeTileComponents = 4096;
inline constexpr uint64_t kJpeg2000SamplesPerTileComponent = 32 * 32;

class TJpeg2000Bitmap : public TBitmap {
public:
  TJpeg2000Bitmap() = default;

  // Reads DataSize bytes from the stream's position (the rest of the stream
  // when DataSize is 0) and decodes them; EJpeg2000Error when OpenJPEG gives
  // no image.
  void LoadFromStream(TStream& stream) override;
  // Encodes the picture as JP2 at the stream's position; DataSize becomes the
  // number of bytes written.
  void SaveToStream(TStream& stream) override;

  bool Lossless() const { return FLossless; }
  void SetLossless(bool value) { FLossless = value; }
  // 0 to 100; larger values are held to 100.
  uint8_t Quality() const { return FQuality; }
  void SetQuality(uint8_t value) { FQuality = value > 100 ? 100 : value; }
  uint32_t DataSize() const { return FDataSize; }
  void SetDataSize(uint32_t value) { FDataSize = value; }
  // Why the last load refused the data ("" after a good load); the user sees
  // only that decoding failed.
  const std::string& LastRefusal() const { return FLastRefusal; }

private:
  bool FLossless = false;
  uint8_t FQuality = 80;
  uint32_t FDataSize = 0;
  std::string FLastRefusal;
};

// The type code the encoder gives component i of an image (1 red, 2 green,
// 3 blue, 7 alpha).
int ComponentTypeFor(int index);
// The compression ratio asked of OpenJPEG for a picture of samples values
// (width x height x components) at the quality.
float Jpeg2000CompressionRatio(int64_t samples, int components, int quality);
// One sYCC pixel as red, green and blue, each rounded (halves to even) and
// held to 0..255.
void YccToRgbPixel(uint8_t y, uint8_t cb, uint8_t cr, uint8_t& red, uint8_t& green, uint8_t& blue);
