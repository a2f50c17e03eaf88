#pragma once
// TPSDImage: a Photoshop document (PSD, PDD) as a bitmap. The merged image
// becomes the bitmap; the layers stay with their channel images so that one of
// them can be drawn on its own. Saving writes a flattened document and carries
// over the layers that were read whole.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/typed_lists.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/streams.h"

inline constexpr const char* kPsdInvalidStream = "Invalid stream format";
// Photoshop's own limit for a document side in this version of the format.
inline constexpr int kPsdMaxSide = 30000;

// The 26-byte file header, numbers in native order.
struct TPSDFileHeader {
  char Signature[4] = {'8', 'B', 'P', 'S'};
  uint16_t Version = 1;
  uint8_t Reserved[6] = {};
  uint16_t Channels = 0;
  uint32_t Height = 0;
  uint32_t Width = 0;
  uint16_t Depth = 0;
  uint16_t Mode = 0;
};

// The header's fields from its 26 bytes on disk, and back; every PSD reader
// and writer goes through these two.
void DecodePSDFileHeader(const uint8_t raw[26], TPSDFileHeader& header);
void EncodePSDFileHeader(const TPSDFileHeader& header, uint8_t raw[26]);

// Photoshop's colour modes that the reader knows.
enum : uint16_t { psdBitmap = 0, psdGray = 1, psdIndexed = 2, psdRGB = 3, psdCMYK = 4, psdDuotone = 8, psdLab = 9 };

// Big-endian numbers of the format.
uint16_t ReadBE16(TStream& stream);
uint32_t ReadBE32(TStream& stream);
void WriteBE16(TStream& stream, uint16_t value);
void WriteBE32(TStream& stream, uint32_t value);

class TPackbitsRLE : public TObject {
public:
  // Unpacks up to sourceCount packed bytes into at most destCount bytes; reads
  // nothing past the source and writes nothing past the destination. Returns
  // the number of bytes written.
  static int64_t Unpack(const uint8_t* source, int64_t sourceCount, uint8_t* dest, int64_t destCount);
};

class TPSDLayer : public TPersistent {
public:
  TPSDLayer();
  ~TPSDLayer() override;

  int32_t Top = 0, Left = 0, Bottom = 0, Right = 0;
  int16_t ChannelCount = 0;
  TListLongint ChannelIDs;
  TListLongint ChannelLengths;
  char BlendModeKey[4] = {'n', 'o', 'r', 'm'};
  uint8_t Opacity = 255;
  uint8_t Clipping = 0;
  uint8_t Flags = 0;
  std::vector<uint8_t> ExtraData;  // layer mask, blending ranges, name: kept as read
  // One per channel, Width() x Height() bytes of 8-bit samples; empty for a
  // channel that was skipped.
  std::vector<std::vector<uint8_t>> ChannelImages;

  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  // Every channel was read (no user mask, whose rectangle is not the layer's);
  // only such layers are written back.
  bool Whole() const;

  // Reads the record; the rules of the document the layer belongs to are the
  // caller's. Raises "Invalid stream format" for a bad blend signature.
  void ReadRecord(TStream& stream, int64_t sectionEnd);
  void WriteRecord(TStream& stream) const;
};

class TPSDImage : public TBitmap {
public:
  TPSDImage();
  ~TPSDImage() override;

  // From a bitmap the header takes its size; the layers are dropped, as they
  // belong to the document that was read.
  void Assign(TPersistent* source) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;

  // The layer alone on a bitmap of the document's size; zero outside the layer.
  // Layers of fewer than two channels empty the bitmap.
  void GetLayerBitmap(int index, TBitmap* bitmap);
  void SetupPalette(int depth, int colorMode);

  uint8_t ColorTable[768] = {};
  std::vector<std::unique_ptr<TPSDLayer>> Layers;
  TPSDFileHeader FileHeader;

  // Why the last load refused the file ("" after a good load).
  const std::string& LastRefusal() const { return FLastRefusal; }

private:
  std::string FLastRefusal;
};
