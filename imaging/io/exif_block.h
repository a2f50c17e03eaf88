#pragma once
// The EXIF block of a picture: recognising it, copying its decoded fields
// between parameter sets, and the camera maker's private note that travels with
// it. Parsing and building the block itself are filter slots (ie_filters.h)
// that the TIFF family fills.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/object.h"

class TIOParamsVals;

// How a maker note stores its directory (filled when the note is read).
struct TIEEXIFMakerNoteDeviceInfo {
  std::string Signature;     // may hold zero bytes
  uint8_t OffsetMode = 0;    // 0 from the EXIF data's start, 1 from the note's base
  uint8_t HeaderKind = 0;    // 0 none, 1 an 8-byte TIFF header, 2 a 4-byte directory offset
  uint8_t Header[8] = {};
  uint8_t ByteOrderMode = 0; // 0 the EXIF data's, 1 the note's header, 2 little, 3 big endian
};

// The maker note of one image: the note as read, how its maker lays it out, and
// its entries normalised to little-endian.
class TIETagsHandler : public TObject {
public:
  void Clear();
  void Assign(const TIETagsHandler* other);
  // Takes over the note bytes; empty data means no note.
  void SetRawData(std::vector<uint8_t> data) { FRawData = std::move(data); }
  const std::vector<uint8_t>& RawData() const { return FRawData; }
  TIEEXIFMakerNoteDeviceInfo& DeviceInfo() { return FDevice; }
  const TIEEXIFMakerNoteDeviceInfo& DeviceInfo() const { return FDevice; }
  // Count, 12-byte entries and their out-of-line values, little-endian.
  std::vector<uint8_t>& NormalizedNote() { return FNormalized; }
  const std::vector<uint8_t>& NormalizedNote() const { return FNormalized; }
  // Rebuilds the entry table from the normalised note.
  void IndexEntries();
  int EntryCount() const { return static_cast<int>(FEntries.size() / 12); }
  const std::vector<uint8_t>& Entries() const { return FEntries; }

private:
  std::vector<uint8_t> FRawData;
  TIEEXIFMakerNoteDeviceInfo FDevice;
  std::vector<uint8_t> FNormalized;
  std::vector<uint8_t> FEntries;
};

// The payload, read as text up to its first zero byte, is "Exif".
bool IsEXIFMarker(const uint8_t* data, int64_t length);

// Copies the EXIF and GPS state of source into destination, through the EXIF
// setters so the tag list follows the values.
void CopyEXIFParams(TIOParamsVals& source, TIOParamsVals& destination, bool withThumbnail);
