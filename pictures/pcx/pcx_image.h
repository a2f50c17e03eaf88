#pragma once
// TPCXImage: PCX pictures (header versions 0 to 5, run-length encoded or
// stored), read through a TColorManager into a bitmap. Writing is not offered.
#include <cstdint>
#include <memory>
#include <string>

#include "pictures/pcx/color_manager.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/streams.h"

inline constexpr const char* kPcxInvalidImage = "Invalid PCX image";
inline constexpr const char* kPcxInvalidColorFormat = "Invalid Color Format";
inline constexpr const char* kPcxCannotSave = "PCX images cannot be saved";

// The 128-byte file header, little-endian on disk.
struct TPCXHeader {
  uint8_t Manufacturer, Version, Encoding, BitsPerPixel;
  uint16_t XMin, YMin, XMax, YMax, HDpi, VDpi;
  uint8_t ColorMap[48];
  uint8_t Reserved, Planes;
  uint16_t BytesPerLine, PaletteInfo;
  uint8_t Filler[58];
};
static_assert(sizeof(TPCXHeader) == 128);

// The header's fields from its 128 bytes on disk, and back. Every PCX reader
// and writer goes through these two.
void DecodePCXHeader(const uint8_t raw[128], TPCXHeader& header);
void EncodePCXHeader(const TPCXHeader& header, uint8_t raw[128]);

struct TImageProperties {
  int32_t Width = 0, Height = 0;
  TRowColorScheme ColorScheme = rcsUnknown;
  uint8_t BitsPerSample = 0, SamplesPerPixel = 0, BitsPerPixel = 0;
  uint8_t Compression = 0;  // 2 run-length encoded, 1 stored
  float Gamma = 0, XResolution = 0, YResolution = 0;
};

class TDecoder : public TObject {
public:
  virtual void Decode(const uint8_t* source, uint8_t* target, int64_t unpackedSize, int64_t packedSize) = 0;
  virtual void DecodeInit() {}
  virtual void DecodeEnd() {}
  virtual void Encode(const uint8_t* source, uint8_t* target, int64_t& size) = 0;
  virtual void EncodeInit() {}
  virtual void EncodeEnd() {}
};

class TPCXRLEDecoder : public TDecoder {
public:
  // Writes at most unpackedSize bytes from at most packedSize; stops where a
  // run lacks its value byte.
  void Decode(const uint8_t* source, uint8_t* target, int64_t unpackedSize, int64_t packedSize) override;
  void Encode(const uint8_t* source, uint8_t* target, int64_t& size) override {}
  // Bytes the last Decode wrote: fewer than asked when the data ran out.
  int64_t Written() const { return FWritten; }

private:
  int64_t FWritten = 0;
};

class TPCXImage : public TBitmap {
public:
  TPCXImage();
  ~TPCXImage() override;

  // "Invalid PCX image" for a bad manufacturer byte, an upside-down window,
  // rows wider than their bytes per line or data that cannot fill the rows;
  // "Invalid Color Format" for plane layouts not read. The picture stays as it was.
  void LoadFromStream(TStream& stream) override;
  // Raises EInvalidGraphic: the format is only read.
  void SaveToStream(TStream& stream) override;

  // Fills the properties from the header at the stream's position; false when
  // the manufacturer byte is not PCX's.
  bool ReadHeader(TStream& stream);
  const TImageProperties& ImageProperties() const { return FImageProperties; }
  const TPCXHeader& Header() const { return FHeader; }
  TColorManager& ColorManager() { return *FColorManager; }

  const std::string& LastRefusal() const { return FLastRefusal; }

private:
  std::unique_ptr<TColorManager> FColorManager;
  TImageProperties FImageProperties;
  TPCXHeader FHeader{};
  std::string FLastRefusal;
};
