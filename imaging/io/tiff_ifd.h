#pragma once
// The one reader of TIFF directories: the 8-byte header, the chain of image
// file directories and the values of their entries. The TIFF filter, the
// structure editor, EXIF blocks, camera raw files and HD Photo all read their
// directories through it.
//
// Every read is bounded by the stream: a count, offset or chain that points
// outside it gives the default value, an empty block or the end of the chain.
#include <cstdint>
#include <string>
#include <vector>

class TStream;

// Entry types.
enum TTIFFType : uint16_t {
  ttBYTE = 1,
  ttASCII = 2,
  ttSHORT = 3,
  ttLONG = 4,
  ttRATIONAL = 5,
  ttSBYTE = 6,
  ttUNDEFINED = 7,
  ttSSHORT = 8,
  ttSLONG = 9,
  ttSRATIONAL = 10,
  ttFLOAT = 11,
  ttDOUBLE = 12,
  ttIFD = 13
};

// Bytes of one value of a type; types 0 and above 13 count as 1 byte.
int TIFFTypeSize(int type);

// A 12-byte directory entry: tag, type and count in the machine's order, the
// value field as the file stores it (a value of at most 4 bytes stands in it,
// left-justified; a longer one at the offset it holds).
struct TIFFTagEntry {
  uint16_t Tag = 0;
  uint16_t Type = 0;
  uint32_t Count = 0;
  uint8_t Value[4] = {};
};
static_assert(sizeof(TIFFTagEntry) == 12, "a directory entry is 12 bytes");

// Bytes the entry's values take (count x type size).
int64_t TIFFValueBytes(const TIFFTagEntry& e);

// Turns count values of a type from one byte order to the other, element by
// element (a rational's two halves each on their own).
void TIFFSwapValues(uint8_t* p, int type, int64_t count);

uint16_t TIFFGet16(const uint8_t* p, bool littleEndian);
uint32_t TIFFGet32(const uint8_t* p, bool littleEndian);
void TIFFPut16(uint8_t* p, uint16_t v, bool littleEndian);
void TIFFPut32(uint8_t* p, uint32_t v, bool littleEndian);

struct TIFFHeader {
  bool LittleEndian = true;
  uint16_t Version = 0;
  uint32_t FirstOffset = 0;
};
// The 8 header bytes: false unless they start "II" or "MM".
bool ParseTIFFHeader(const uint8_t* bytes, TIFFHeader& header);
// Reads the 8 bytes at the position.
bool ReadTIFFHeader(TStream& stream, TIFFHeader& header);

// Reads the directory at base + offset: its entries and its next-directory
// offset. False when the directory does not lie inside the stream (nothing
// read) or has no entries.
bool ReadTIFFEntries(TStream& stream, int64_t base, uint32_t offset, bool littleEndian,
                     std::vector<TIFFTagEntry>& entries, uint32_t& nextOffset);

// One loaded directory and what its values need.
struct TIFFDirectoryContext {
  bool LittleEndian = true;
  TStream* Stream = nullptr;
  std::vector<TIFFTagEntry> Entries;
  int64_t Base = 0;
};

// Walks the chain from firstOffset and loads directory index into context
// (Stream, Base and LittleEndian set by the caller). directoryCount gets the
// number of directories of the chain: a directory seen before (a cycle), one
// that points into the header or outside the stream ends it. False when the
// chain has no directory index.
bool LoadTIFFDirectory(int index, uint32_t firstOffset, TIFFDirectoryContext& context, int& directoryCount);

// Tag accessors; each gives def when the tag is absent or its values do not lie
// inside the stream.
int FindTIFFTag(int tag, const TIFFDirectoryContext& context);
// BYTE: the byte; SHORT: the 16-bit value; any other type the 32-bit field.
int64_t GetTIFFTagInteger(const TIFFDirectoryContext& context, int tag, int64_t def);
// The first rational (a zero denominator counts as 1).
double GetTIFFTagRational(const TIFFDirectoryContext& context, int tag, double def);
double GetTIFFTagRationalAt(const TIFFDirectoryContext& context, int tag, int index, double def);
// Element index of a BYTE, SHORT or LONG array.
int64_t GetTIFFTagArrayInteger(const TIFFDirectoryContext& context, int tag, int index, int64_t def);
// Every element of a BYTE, SHORT or LONG array; empty when absent or when the
// values do not lie inside the stream.
std::vector<uint32_t> ReadTIFFTagArray(const TIFFDirectoryContext& context, int tag);
// The entry's value bytes (count x type size), in file order; empty when absent
// or outside the stream.
std::vector<uint8_t> ReadTIFFTagBlock(const TIFFDirectoryContext& context, int tag);
// A text: the value bytes, ending before the first NUL when stopAtNul is set;
// empty above 1,048,575 bytes.
std::string GetTIFFTagString(const TIFFDirectoryContext& context, int tag, bool stopAtNul);
// A UTF-16 text in the file's byte order, ending at its terminator.
std::wstring GetTIFFTagWideString(const TIFFDirectoryContext& context, int tag);
