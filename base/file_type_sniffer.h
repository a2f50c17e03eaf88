#pragma once
// Decides from a file's first bytes and its size which reader opens it, and
// counts the icon groups of NE and PE executables without loading them.
#include <cstdint>
#include <string>

#include "platform/rtl/streams.h"

// The codes of DetectFileType. 3 and 24 are not used.
using TSniffedFileType = int32_t;
constexpr TSniffedFileType sftUnknown = 0;
constexpr TSniffedFileType sftIconOrCursor = 1;
constexpr TSniffedFileType sftExecutable = 2;
constexpr TSniffedFileType sftAnimatedCursor = 4;
constexpr TSniffedFileType sftJpeg = 5;
constexpr TSniffedFileType sftBmp = 6;
constexpr TSniffedFileType sftGif = 7;
constexpr TSniffedFileType sftPng = 8;
constexpr TSniffedFileType sftPsd = 9;
constexpr TSniffedFileType sftRiffPalette = 10;
constexpr TSniffedFileType sftIconCollection = 11;
constexpr TSniffedFileType sftTarga = 12;
constexpr TSniffedFileType sftIconProject = 13;
constexpr TSniffedFileType sftPcx = 14;
constexpr TSniffedFileType sftTiff = 15;
constexpr TSniffedFileType sftMacIcon = 16;
constexpr TSniffedFileType sftArchive = 17;
constexpr TSniffedFileType sftRar = 18;
constexpr TSniffedFileType sftRes32 = 19;
constexpr TSniffedFileType sftRes16Component = 20;
constexpr TSniffedFileType sftTooLarge = 21;
constexpr TSniffedFileType sftEmpty = 22;
constexpr TSniffedFileType sftCannotOpen = 23;
constexpr TSniffedFileType sftJpegCmyk = 25;

// Never raises: a missing file is 0, an empty one 22, one that cannot be opened 23.
void DetectFileType(const std::string& fileName, TSniffedFileType& code, int32_t& subValue);

// Each test restores the stream position it found.
bool IsTgaHeader(TStream& file, int64_t size);
bool HasMacIconTag(TStream& file, int64_t size);
bool HasMacResourceMap(TStream& file);
// The component count of the first SOF0 or SOF2 frame header, walking the
// segments from offset 0; -1 when none is found before the walk ends.
int32_t GetJpegComponentCount(TStream& file);

uint32_t SwapBytes32(uint32_t value);

// The number of icon groups of an NE or PE file; -1 when it is no such file, has
// no resource table, or is a 64-bit image (then is64Bit is set).
int32_t CountIconGroupsInFile(const std::string& fileName, bool& is64Bit);
bool FileHasIconGroups(const std::string& fileName);

// The steps of both, over any stream holding the whole file.
enum TExeSignature : uint8_t { esNone, esNE, esPE };
struct TExeResourceTable {
  TExeSignature Signature = esNone;
  int64_t NewHeaderOffset = 0;
  int64_t TableOffset = 0;  // 0 when no resource table was found
  bool Is64Bit = false;
};
bool SeekToNewHeader(TStream& file, TExeResourceTable& table);
bool LocateResourceTable(TStream& file, TExeResourceTable& table);
bool PEHasIconGroups(TStream& file, const TExeResourceTable& table);
int32_t CountPEIconGroups(TStream& file, const TExeResourceTable& table);
bool NEHasIconGroups(TStream& file, const TExeResourceTable& table);
int32_t CountNEIconGroups(TStream& file, const TExeResourceTable& table);
// The whole walk over a stream; -1 as CountIconGroupsInFile.
int32_t CountIconGroupsInStream(TStream& file, bool& is64Bit);
