#pragma once
// EXIF data read and written through the TIFF reader and writer: the "Exif"
// marker of JPEG files, the EXIF of TIFF-structured camera raw files and of
// HD Photo files. Camera raw, HD Photo and the JPEG filter call these.
#include <cstdint>
#include <vector>

class TIOParamsVals;
class TStream;

// Parses an "Exif" marker payload (the 6 bytes "Exif", 0, 0 and a TIFF) into
// the EXIF and GPS fields, the maker note and ExifThumbnail (turned upright by
// the orientation). False, with every field untouched, when the payload is not
// "Exif" or its TIFF cannot be read.
bool ParseEXIFMarker(const uint8_t* data, int64_t length, TIOParamsVals& params);

// The EXIF block of the parameters: a tag-only TIFF with the EXIF and GPS
// directories and, when there is an ExifThumbnail, a second page holding it as
// JPEG (stored turned to the orientation the block gives). With header the
// block starts "Exif", 0, 0. Empty when the block could not be built.
std::vector<uint8_t> BuildEXIFBlock(TIOParamsVals& params, bool withHeader);

// The "Exif" marker a JPEG save writes. The marker read from the file (read,
// may be nil) goes back byte for byte when the parameters still hold what it
// held; otherwise the block is rebuilt and keeps every entry read that the
// parameters do not hold (ComponentsConfiguration, the interoperability
// directory, lens data and the like).
std::vector<uint8_t> EXIFMarkerForSave(TIOParamsVals& params, const uint8_t* read, int64_t readLength);

// Position of a TIFF header ("II" or "MM", version 42, 0x4F52 or 0x5352, a
// first directory inside the stream) within the 131,072 bytes from the
// position, relative to it; -1 when there is none. The position is restored.
int64_t FindTIFFHeader(TStream& stream);

// The EXIF fields of the TIFF-structured raw file at the position, and as
// ExifThumbnail the smaller of its first two pages that holds something.
// The position is restored; false when no TIFF directory could be read.
bool ReadRawEXIF(TStream& stream, TIOParamsVals& params);

// The EXIF, GPS, XMP and IPTC fields of the TIFF at the position (HD Photo
// files too), without decoding pixels or touching the picture's size. The
// position is restored; false when no TIFF directory could be read.
bool ReadTIFFEXIF(TStream& stream, TIOParamsVals& params);
