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
class TStream;

// How a maker note stores its directory (filled when the note is read).
struct TIEEXIFMakerNoteDeviceInfo {
  std::string Signature;     // may hold zero bytes
  uint8_t OffsetMode = 0;    // 0 from the EXIF data's start, 1 from the note's base
  uint8_t HeaderKind = 0;    // 0 none, 1 an 8-byte TIFF header, 2 a 4-byte directory offset
  uint8_t Header[8] = {};
  uint8_t ByteOrderMode = 0; // 0 the EXIF data's, 1 the note's header, 2 little, 3 big endian
};

// The maker note of one image: the note as read, how its maker lays it out, and
// its entries normalised to little-endian (every value swapped by its type).
class TIETagsHandler : public TObject {
public:
  void Clear();
  // Finds the maker's row of the device table by the note's first bytes.
  void IdentifyMaker();
  // Reads size bytes at the stream's position as a maker note of EXIF data in
  // the given byte order whose offsets count from base. A note that breaks the
  // rules (more than 256 entries, a table past its end) leaves the handler clear.
  void ReadMakerNote(TStream& stream, int64_t size, bool littleEndian, int64_t base = 0);
  // The note's byte order as read (the writer keeps it).
  bool BigEndian() const { return FBigEndian; }
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
  friend int64_t WriteMakerNote(TIETagsHandler& handler, TStream& stream, int64_t base);
  std::vector<uint8_t> FRawData;
  bool FBigEndian = false;
  int64_t FReadStart = -1;  // where the note stood, counted from the EXIF data's base
  TIEEXIFMakerNoteDeviceInfo FDevice;
  std::vector<uint8_t> FNormalized;
  std::vector<uint8_t> FEntries;
};

// The payload, read as text up to its first zero byte, is "Exif".
bool IsEXIFMarker(const uint8_t* data, int64_t length);

// Copies the EXIF and GPS state of source into destination, through the EXIF
// setters so the tag list follows the values.
void CopyEXIFParams(TIOParamsVals& source, TIOParamsVals& destination, bool withThumbnail);

// Writes the note at the stream's position (offsets of the EXIF data counting
// from base) in the byte order it was read in; returns the bytes written, 0
// (nothing written) for an empty note or one of 65,001 bytes or more. A note
// written back where it was read, unchanged, keeps its bytes.
int64_t WriteMakerNote(TIETagsHandler& handler, TStream& stream, int64_t base = 0);
