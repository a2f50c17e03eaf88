#pragma once
// The one reading of an ICO/CUR directory: the six-byte header (reserved 0,
// type 1 for icons or 2 for cursors, an image count) and the 16-byte entries
// after it. The icon model, the icon pictures, the framework's TIcon and the
// imaging library's ICO filter read directories through it; each then adds its
// own rules (which type it takes, how many images, where an image may lie).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/rtl/byte_order.h"
#include "platform/rtl/streams.h"

QV_ASSERT_LITTLE_ENDIAN_HOST();

#pragma pack(push, 1)
// The first 12 bytes of an ICO/CUR directory entry. For cursors the planes and
// bit-count words hold the hotspot in a file.
struct TIconEntryHead {
  uint8_t bWidth = 0;
  uint8_t bHeight = 0;
  uint8_t bColorCount = 0;
  uint8_t bReserved = 0;
  uint16_t wPlanes = 0;
  int16_t wBitCount = 0;
  uint32_t dwBytesInRes = 0;
};
struct TIconDirEntry {
  TIconEntryHead head;
  uint32_t dwImageOffset = 0;
};
struct TIconDirHeader {
  uint16_t idReserved = 0;
  uint16_t idType = 0;
  uint16_t idCount = 0;
};
// An entry of an icon or cursor group resource: the head and the resource id.
struct TIconGroupEntry {
  TIconEntryHead head;
  uint16_t nID = 0;
};
#pragma pack(pop)
static_assert(sizeof(TIconEntryHead) == 12);
static_assert(sizeof(TIconDirEntry) == 16);
static_assert(sizeof(TIconDirHeader) == 6);
static_assert(sizeof(TIconGroupEntry) == 14);

inline constexpr int kIconDirHeaderBytes = 6;
inline constexpr int kIconDirEntryBytes = 16;

// Field by field from little-endian bytes; the data holds 6 (header) or 16 (entry) bytes.
TIconDirHeader ParseIconDirHeader(const uint8_t* data);
TIconDirEntry ParseIconDirEntry(const uint8_t* data);

// The same from the stream's position; a stream that ends early raises
// the stream's read error, as ReadBuffer does.
TIconDirHeader ReadIconDirHeader(TStream& stream);
TIconDirEntry ReadIconDirEntry(TStream& stream);

// Why a directory was refused; each caller keeps its own user-facing text.
enum TIconDirRefusal : uint8_t {
  idrNone,
  idrHeaderCutShort,  // fewer than six bytes
  idrNotDirectory,    // reserved word not 0, or a type other than 1 and 2
  idrNoImages,        // a count of 0
  idrTooManyImages,   // more images than the caller takes
  idrEntriesCutShort,  // the entries run past the end of the data
};
const char* IconDirRefusalName(TIconDirRefusal reason);

// Reads the header and up to maxEntries of its entries (all of them when the
// count is not above maxEntries; tooMany decides whether a larger count is
// refused or only cut) from the stream's position. Every entry asked for must
// lie inside the stream; image offsets are left for the caller to check.
// The stream is left after the last entry read.
TIconDirRefusal ReadIconDirectory(TStream& stream, TIconDirHeader& header, std::vector<TIconDirEntry>& entries,
                                  uint32_t maxEntries = UINT16_MAX, bool refuseTooMany = false);
