#pragma once
// The TIFF reader: header, chain of directories and tags; one image of it (a
// page, a sub-image or a single tile) decoded into a bitmap with an optional
// alpha mask; the TIFF, EXIF and GPS fields and the metadata blocks into the
// parameter set. Also the content probes of format detection.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/io/ie_filters.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TIFFDirectoryContext;
struct TProgressRecord;

// Reads the image TiffImageIndex (sub-image TiffSubIndex, tile TiffTileIndex)
// of the TIFF at the position (offsets from there when fromPosition is set,
// else from 0). bitmap may be nil with paramsOnly. header points to the 8
// header bytes when the caller has read them, else nil. pageCount receives the
// directories of the main chain. Never raises: a bad file sets the abort flag
// with a reason and keeps the rows decoded.
void ReadTIFFStream(TIEBitmap* bitmap, TStream& stream, int& pageCount, TIOParamsVals& params,
                    TProgressRecord& progress, bool paramsOnly, TIEMaskOut& alphaMask, bool fromPosition,
                    bool noAlpha, bool exifThumbnail, bool exifBlock, const uint8_t* header);

// The probes restore the position and never raise.
bool IsTIFFStream(TStream& stream);
bool IsRawTIFFStream(TStream& stream);
bool IsHDPhotoStream(TStream& stream);

// GPS version bytes as "2.2.0.0".
std::string GPSVersionToText(const std::vector<uint8_t>& bytes);
// The EXIF user comment (tag 37510): its 8-byte code and the text after it.
void DecodeEXIFUserComment(const TIFFDirectoryContext& context, TIOParamsVals& params);
