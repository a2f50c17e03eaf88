#pragma once
// The one reading of a packed DIB's start: its header (core or info, 12 to 124
// bytes), the bit-field masks and where the colour table and the pixels lie.
// Every reader of bitmaps, icons and clipboard DIBs goes through it, so the
// bounds are checked in one place; each reader then adds only its own rules
// (which depths and compressions it takes, how it treats a colour count).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/graphics/dib_types.h"

// BI_BITFIELDS with a fourth, alpha mask, as some writers store it.
constexpr DWORD BI_ALPHABITFIELDS = 6;

// Why a DIB was refused. Readers keep their user-facing text; tests and
// callers read this to know which rule fired.
enum TDibRefusal : uint8_t {
  drNone,
  drHeaderCutShort,  // the data ends inside the header or its masks
  drHeaderSize,      // a header length no DIB has
  drPlanes,          // planes other than 1
  drWidth,           // a width the reader cannot take (zero, negative, too wide)
  drHeight,          // a height the reader cannot take (zero, INT32_MIN, too tall, top-down)
  drDepth,           // bits per pixel no DIB has, or one the reader does not take
  drCompression,     // compression unknown, or not one the depth allows
  drMasks,           // bit-field masks overlapping, broken, wider than a pixel or all zero
  drColourCount,     // more colours than the reader allows
  drTableCutShort,   // the colour table is not all there
  drTooLarge,        // more pixel bytes than the reader's limit
  drPixelsCutShort,  // the rows are not all there
  drRleData,         // run-length data leaves the picture or stops inside an escape
  drNotBitmap,       // a file without the "BM" signature
  drPixelOffset,     // the file header's pixel offset lies past the end
};
const char* DibRefusalName(TDibRefusal reason);

struct TDibHeader {
  DWORD size = 0;  // 12 for a core header, 40 to 124 otherwise
  bool core = false;
  int32_t width = 0;
  int32_t height = 0;  // as stored: negative for rows top-down
  int planes = 1;
  int bitCount = 0;
  DWORD compression = BI_RGB;
  DWORD sizeImage = 0;
  LONG xPelsPerMeter = 0;
  LONG yPelsPerMeter = 0;
  DWORD clrUsed = 0;
  DWORD masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  bool bitFields = false;         // BI_BITFIELDS or BI_ALPHABITFIELDS
  uint32_t tableOffset = 0;       // from the header's first byte: header and masks stored after it
  int entryBytes = 4;             // 3 in a core header's colour table
  uint64_t tableEntries = 0;      // as declared: biClrUsed, or 2^bitCount when that is 0 at 8 bits or less

  bool TopDown() const { return height < 0; }
  int64_t Rows() const { return height < 0 ? -int64_t{height} : height; }
  // Entries a pixel can index: 2^bitCount up to 8 bits, none above.
  uint32_t PaletteSize() const { return bitCount <= 8 ? 1u << bitCount : 0; }
  uint64_t TableBytes() const { return tableEntries * static_cast<uint64_t>(entryBytes); }
  // Where the rows start when they follow the declared table right away.
  uint64_t BitsOffset() const { return tableOffset + TableBytes(); }
  // Bytes of the uncompressed rows; INT64_MAX where that does not fit.
  int64_t ImageBytes() const {
    const int64_t row = DibRowBytes(width, bitCount), rows = Rows();
    return rows != 0 && row > INT64_MAX / rows ? INT64_MAX : row * rows;
  }
};

// The most bytes ReadDibHeader and ReadDibColours look at: the longest header,
// four masks and 256 four-byte colours. A stream reader hands over this much.
constexpr size_t kDibPrefixBytes = 124 + 16 + 256 * 4;

// Reads the header and the masks that follow a short header. The data must hold
// both. Refuses what no DIB is: an unknown header length, planes other than 1,
// a depth other than 1, 4, 8, 16, 24 or 32, a compression that does not fit the
// depth (RLE8 at 8 bits, RLE4 at 4, bit fields at 16 and 32; JPEG and PNG are
// printers' forms and never ours), a negative width or an INT32_MIN height.
TDibRefusal ReadDibHeader(const uint8_t* data, size_t size, TDibHeader& header);

// The masks are sound: each one contiguous, inside the pixel, none overlapping,
// and not all of red, green and blue zero.
TDibRefusal CheckDibMasks(const TDibHeader& header);

// The first count entries of the colour table, reserved bytes zero. The data
// (from the header's first byte) must hold them.
TDibRefusal ReadDibColours(const uint8_t* data, size_t size, const TDibHeader& header, size_t count,
                           std::vector<RGBQUAD>& colours);
