#include "base/file_type_sniffer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "base/file_mapping_stream.h"
#include "base/path_utils.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/byte_order.h"

namespace {

constexpr int64_t k1MB = 1048576;
constexpr int64_t k16MB = 16777216;
constexpr int64_t k50MB = 52428800;
constexpr int64_t kMacTagWindow = 5600;

// Reads exactly count bytes at offset; false when the file does not hold them.
// Every read of the sniffer goes through here, so no offset taken from the file
// can lead outside it.
bool ReadAt(TStream& file, int64_t offset, void* buffer, int64_t count) {
  if (offset < 0 || count < 0) return false;
  if (file.Seek(offset, soBeginning) != offset) return false;
  return file.Read(buffer, count) == count;
}

bool ReadDWordAt(TStream& file, int64_t offset, uint32_t& value) {
  uint8_t b[4];
  if (!ReadAt(file, offset, b, 4)) return false;
  value = ReadLE32(b);
  return true;
}


class TPositionKeeper {
public:
  explicit TPositionKeeper(TStream& file) : FFile(file), FPosition(file.Position()) {}
  ~TPositionKeeper() { FFile.Seek(FPosition, soBeginning); }
  TPositionKeeper(const TPositionKeeper&) = delete;
  TPositionKeeper& operator=(const TPositionKeeper&) = delete;

private:
  TStream& FFile;
  int64_t FPosition;
};

const char* const kMacIconTags[] = {
    "ICN#", "ic14", "ic13", "ic12", "ic11", "ic10", "ic09", "ic08", "ic07", "icp6", "icp5", "icp4",
    "ic04", "ic05", "it32", "t8mk", "ich#", "ich4", "ich8", "ih32", "h8mk", "icn#", "icl4", "icl8",
    "il32", "l8mk", "ics#", "ics4", "ics8", "is32", "s8mk", "icm#", "icm4", "icm8"};

bool IsTargaNameChar(uint8_t c) {
  return c == '-' || c == '.' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
}

// Icon or cursor directory, 32-bit resource file or Mac resource fork: the file
// starts with a zero word and a small type word.
void SniffZeroWordHeader(TStream& file, int64_t size, const uint8_t* head, TSniffedFileType& code,
                         int32_t& subValue) {
  uint32_t d = 0;
  if (!ReadDWordAt(file, 4, d)) return;
  if (ReadLE32(head) == 0 && d == 32) {
    uint32_t a = 0, b = 0;
    if (ReadDWordAt(file, 8, a) && ReadDWordAt(file, 12, b) && a == 0x0000FFFF && b == 0x0000FFFF && size > 20) {
      uint32_t c = 1, e = 1;
      if (ReadDWordAt(file, 16, c) && ReadDWordAt(file, 20, e) && c == 0 && e == 0) code = sftRes32;
    }
    return;
  }
  if ((d & 0xFFFF) != 0) {
    code = sftIconOrCursor;
    subValue = ReadLE16(head + 2);
  }
  // A resource fork starts with the big-endian data and map offsets; the map
  // repeats the header.
  const int64_t mapOffset = SwapBytes32(d);
  if (mapOffset > 132 && mapOffset < size - 4) {
    uint32_t copy = 0;
    if (ReadDWordAt(file, mapOffset + 4, copy) && copy == d) {
      file.Seek(mapOffset + 8, soBeginning);
      code = HasMacIconTag(file, size) ? sftMacIcon : sftTooLarge;
    } else if (HasMacResourceMap(file)) {
      code = sftMacIcon;
    }
    if (size > k1MB) code = sftTooLarge;
  }
}

void SniffExecutable(TStream& file, int64_t size, TSniffedFileType& code, int32_t& subValue) {
  // The new header's offset is the 32-bit field at 60.
  uint32_t newHeader = 0;
  if (!ReadDWordAt(file, 60, newHeader)) return;
  uint8_t sig[4];
  if (!ReadAt(file, newHeader, sig, 2)) return;
  if (sig[0] == 'N' && sig[1] == 'E') {
    code = sftExecutable;
    subValue = 1;
  } else if (ReadAt(file, newHeader, sig, 4) && std::memcmp(sig, "PE\0\0", 4) == 0) {
    code = sftExecutable;
    subValue = 2;
  }
}

void SniffRiff(TStream& file, int64_t size, TSniffedFileType& code) {
  uint32_t length = 0;
  if (!ReadDWordAt(file, 4, length)) return;
  const int64_t n = length;
  if (n != size && n != size - 8 && n != size - 4) return;
  uint8_t form[4];
  if (ReadAt(file, 8, form, 4)) {
    if (std::memcmp(form, "ACON", 4) == 0) code = sftAnimatedCursor;
    else if (std::memcmp(form, "PAL ", 4) == 0) code = sftRiffPalette;
  }
  if (size > k1MB) code = sftTooLarge;
}

bool IsJpegStart(const uint8_t* h) {
  if (h[0] != 0xFF || h[1] != 0xD8 || h[2] != 0xFF) return false;
  // JFIF, comment, Exif, a bare quantisation table, Photoshop's block, or the
  // Adobe segment with which libjpeg opens every CMYK file.
  switch (h[3]) {
    case 0xE0: case 0xFE: case 0xE1: case 0xDB: case 0xED: case 0xEE: return true;
    default: return false;
  }
}

void SniffFile(TStream& file, int64_t size, TSniffedFileType& code, int32_t& subValue) {
  uint8_t h[4];
  if (file.Read(h, 4) != 4) return;
  const uint16_t w0 = ReadLE16(h);
  const uint16_t w1 = ReadLE16(h + 2);
  auto is = [&](const char* four) { return std::memcmp(h, four, 4) == 0; };

  if (w0 == 0 && w1 <= 2) {
    SniffZeroWordHeader(file, size, h, code, subValue);
  } else if (w0 == 1) {
    uint32_t headerSize = 0;
    if (ReadDWordAt(file, 18, headerSize) && headerSize == 40) {
      code = sftIconOrCursor;
      subValue = 4;
      if (size > k50MB) code = sftTooLarge;
    }
  } else if (h[0] == 'M' && h[1] == 'Z') {
    SniffExecutable(file, size, code, subValue);
  } else if (is("RIFF")) {
    SniffRiff(file, size, code);
  } else if (IsJpegStart(h)) {
    file.Seek(0, soBeginning);
    subValue = GetJpegComponentCount(file);
    code = subValue == 4 ? sftJpegCmyk : sftJpeg;
    if (size > k50MB) code = sftTooLarge;
  } else if (is("GIF8") || (h[0] == 'G' && h[1] == 'I' && h[2] == 'F' && h[3] == 0)) {
    code = sftGif;
  } else if (h[0] == 'B' && h[1] == 'M') {
    code = sftBmp;
  } else if (h[0] == 0x89 && h[1] == 'P' && h[2] == 'N' && h[3] == 'G') {
    uint8_t tail[4];
    if (ReadAt(file, 4, tail, 4) && tail[0] == 0x0D && tail[1] == 0x0A && tail[2] == 0x1A && tail[3] == 0x0A)
      code = sftPng;
  } else if (is("8BPS")) {
    uint8_t v[2];
    if (ReadAt(file, 4, v, 2)) {
      subValue = ReadBE16(v);
      if (subValue == 1) code = sftPsd;
    }
  } else if (is("ICC0")) {
    uint32_t version = 0;
    uint8_t tag[4];
    if (ReadDWordAt(file, 4, version) && version == 1 && ReadAt(file, 8, tag, 4) && std::memcmp(tag, "ICON", 4) == 0)
      code = sftIconCollection;
  } else if (h[0] == 0xB7 && h[1] == 'I' && h[2] == 'C' && h[3] == 'P') {
    uint8_t b = 0;
    if (ReadAt(file, 4, &b, 1)) {
      code = sftIconProject;
      subValue = b;
    }
  } else if (is("icns") || (h[0] == 0x00 && h[1] == 0x05 && h[2] == 0x16 && h[3] == 0x07)) {
    file.Seek(4, soBeginning);
    code = HasMacIconTag(file, size) ? sftMacIcon : sftTooLarge;
    if (size > k16MB) code = sftTooLarge;
  } else if ((h[0] == 10 || h[0] == 12) && (h[1] == 0 || h[1] == 2 || h[1] == 3 || h[1] == 5) &&
             (h[2] == 0 || h[2] == 1) && (h[3] == 0 || h[3] == 1 || h[3] == 4 || h[3] == 8)) {
    if (size > 128) code = sftPcx;
  } else if (h[0] == 'P' && h[1] == 'K' && h[2] == 3 && h[3] == 4) {
    code = sftArchive;
  } else if (is("Rar!")) {
    code = sftArchive;
    uint8_t tail[3];
    if (ReadAt(file, 4, tail, 3) && tail[0] == 0x1A && tail[1] == 0x07 && tail[2] == 0x00) code = sftRar;
  } else if ((h[0] == 'M' && h[1] == 'M') || (h[0] == 'I' && h[1] == 'I')) {
    if (is("II*\0") || is("MM\0*")) {
      code = sftTiff;
      subValue = 42;
    }
  } else if (h[0] == 0xFF && h[1] == 0x02 && h[2] == 0x00 && IsTargaNameChar(h[3])) {
    if (size > 20) code = sftRes16Component;
  }

  if (code == sftUnknown && (h[1] == 0 || h[1] == 1) && ((h[2] >= 1 && h[2] <= 3) || (h[2] >= 9 && h[2] <= 11))) {
    file.Seek(0, soBeginning);
    if (IsTgaHeader(file, size)) code = sftTarga;
  }
}

}  // namespace

uint32_t SwapBytes32(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

void DetectFileType(const std::string& fileName, TSniffedFileType& code, int32_t& subValue) {
  code = sftUnknown;
  subValue = 0;
  const int64_t size = FileSizeOf(fileName);
  if (size == 0) {
    code = sftEmpty;
    return;
  }
  if (size <= 4) return;
  std::unique_ptr<TFileStream> file;
  try {
    file = std::make_unique<TFileStream>(fileName, fmOpenRead | fmShareDenyNone);
  } catch (const Exception&) {
    code = sftCannotOpen;
    return;
  }
  try {
    SniffFile(*file, size, code, subValue);
  } catch (const Exception&) {
    // A read error of the file system: the codes found so far stand.
  }
}

bool IsTgaHeader(TStream& file, int64_t size) {
  TPositionKeeper keep(file);
  if (size - file.Position() < 19) return false;
  uint8_t h[18];
  if (file.Read(h, 18) != 18) return false;
  const bool type = (h[2] >= 1 && h[2] <= 3) || (h[2] >= 9 && h[2] <= 11);
  const bool mapType = h[1] == 0 || h[1] == 1;
  const bool entrySize = h[7] == 0 || h[7] == 15 || h[7] == 16 || h[7] == 24 || h[7] == 32;
  const bool depth = h[16] == 8 || h[16] == 15 || h[16] == 16 || h[16] == 24 || h[16] == 32;
  return type && mapType && entrySize && depth;
}

bool HasMacIconTag(TStream& file, int64_t size) {
  TPositionKeeper keep(file);
  const int64_t count = std::min<int64_t>(size - file.Position(), kMacTagWindow);
  if (count < 4) return false;
  std::vector<uint8_t> buf(static_cast<size_t>(count));
  const int64_t got = file.Read(buf.data(), count);
  if (got < 4) return false;
  const auto end = buf.begin() + got;
  for (const char* tag : kMacIconTags)
    if (std::search(buf.begin(), end, tag, tag + 4) != end) return true;
  return false;
}

bool HasMacResourceMap(TStream& file) {
  TPositionKeeper keep(file);
  for (int64_t offset : {271, 287}) {
    uint8_t b[10];
    if (!ReadAt(file, offset, b, 10)) continue;
    int w[5];
    for (int i = 0; i < 5; ++i) w[i] = ReadLE16(b + 2 * i);
    if (w[1] - w[0] == 1 && w[2] - w[1] == 1 && w[3] - w[2] == 2 && w[3] - w[4] == 1) return true;
  }
  return false;
}

namespace {

// Reads of the JPEG walk come from a window of the file held in memory: a file
// of many tiny segments then costs no system call per segment.
class TWindowReader {
public:
  explicit TWindowReader(TStream& file) : FFile(file) {}
  bool ReadAt(int64_t offset, void* buffer, int64_t count) {
    if (offset < FStart || offset + count > FStart + FLength) {
      FStart = offset;
      FLength = 0;
      if (FFile.Seek(offset, soBeginning) != offset) return false;
      FLength = FFile.Read(FWindow.data(), static_cast<int64_t>(FWindow.size()));
      if (count > FLength) return false;
    }
    std::memcpy(buffer, FWindow.data() + (offset - FStart), static_cast<size_t>(count));
    return true;
  }

private:
  TStream& FFile;
  std::vector<uint8_t> FWindow = std::vector<uint8_t>(65536);
  int64_t FStart = 0;
  int64_t FLength = 0;
};

}  // namespace

int32_t GetJpegComponentCount(TStream& file) {
  TWindowReader reader(file);
  int64_t pos = 0;
  for (;;) {
    uint8_t m[2];
    if (!reader.ReadAt(pos, m, 2) || m[0] != 0xFF) return -1;
    pos += 2;
    const uint8_t marker = m[1];
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9)) continue;
    uint8_t l[2];
    if (!reader.ReadAt(pos, l, 2)) return -1;
    const int length = ReadBE16(l);
    // The length counts its own two bytes; anything less would never move on.
    if (length < 2) return -1;
    if (marker == 0xC0 || marker == 0xC2) {
      uint8_t components = 0;
      if (!reader.ReadAt(pos + 7, &components, 1)) return -1;
      return components;
    }
    pos += length;
  }
}

// ---- Icon groups of executables ----

bool SeekToNewHeader(TStream& file, TExeResourceTable& table) {
  uint8_t dos[64];
  if (!ReadAt(file, 0, dos, 64) || dos[0] != 'M' || dos[1] != 'Z') return false;
  table.NewHeaderOffset = ReadLE32(dos + 60);
  return file.Seek(table.NewHeaderOffset, soBeginning) == table.NewHeaderOffset;
}

namespace {

constexpr int kPEFileHeaderSize = 20;
constexpr int kPEOptionalKept = 224;
constexpr int kPEResourceDirectoryAt = 112;
constexpr int kPESectionHeaderSize = 40;

bool LocatePEResourceTable(TStream& file, TExeResourceTable& table) {
  const int64_t fileHeaderAt = table.NewHeaderOffset + 4;
  uint8_t fh[kPEFileHeaderSize];
  if (!ReadAt(file, fileHeaderAt, fh, kPEFileHeaderSize)) return false;
  const int sections = ReadLE16(fh + 2);
  const int optionalSize = ReadLE16(fh + 16);
  const int64_t optionalAt = fileHeaderAt + kPEFileHeaderSize;
  // Only the part of the optional header that the file declares is read; the
  // rest stays zero, and the section table starts where the file says.
  uint8_t oh[kPEOptionalKept] = {};
  const int kept = std::min(optionalSize, kPEOptionalKept);
  if (kept < 2 || !ReadAt(file, optionalAt, oh, kept)) return false;
  const uint16_t magic = ReadLE16(oh);
  if (magic == 0x20B) table.Is64Bit = true;
  if (magic != 0x10B && magic != 0x107) return false;
  if (optionalSize < kPEResourceDirectoryAt + 4) return false;
  const uint32_t resourceVA = ReadLE32(oh + kPEResourceDirectoryAt);
  if (resourceVA == 0) return false;
  const int64_t size = file.Size();
  int64_t sectionAt = optionalAt + optionalSize;
  for (int i = 0; i < sections; ++i, sectionAt += kPESectionHeaderSize) {
    uint8_t sh[kPESectionHeaderSize];
    if (!ReadAt(file, sectionAt, sh, kPESectionHeaderSize)) break;
    if (ReadLE32(sh + 12) == resourceVA) table.TableOffset = ReadLE32(sh + 20);
  }
  if (table.TableOffset >= size) table.TableOffset = 0;
  return table.TableOffset != 0;
}

}  // namespace

bool LocateResourceTable(TStream& file, TExeResourceTable& table) {
  table.TableOffset = 0;
  table.Signature = esNone;
  uint8_t sig[4];
  if (!ReadAt(file, table.NewHeaderOffset, sig, 4)) return false;
  if (sig[0] == 'N' && sig[1] == 'E') {
    table.Signature = esNE;
    uint8_t ne[64];
    if (!ReadAt(file, table.NewHeaderOffset, ne, 64)) return false;
    table.TableOffset = table.NewHeaderOffset + ReadLE16(ne + 36);
    if (table.TableOffset >= file.Size()) table.TableOffset = 0;
    return table.TableOffset != 0;
  }
  if (std::memcmp(sig, "PE\0\0", 4) == 0) {
    table.Signature = esPE;
    return LocatePEResourceTable(file, table);
  }
  return false;
}

namespace {

constexpr uint16_t kNEIconGroupType = 0x800E;
constexpr uint32_t kRTGroupIcon = 14;
constexpr int kNEEntrySize = 12;

// Walks the NE type blocks; returns the icon-group block's count, or -1 when
// there is none. Every block is at least 8 bytes, so the walk always moves on.
int32_t FindNEIconGroupBlock(TStream& file, const TExeResourceTable& table) {
  const int64_t size = file.Size();
  int64_t pos = table.TableOffset + 2;  // behind the alignment shift
  for (;;) {
    uint8_t block[8];
    if (!ReadAt(file, pos, block, 8)) return -1;
    const uint16_t typeId = ReadLE16(block);
    if (typeId == 0) return -1;
    const uint16_t count = ReadLE16(block + 2);
    if (typeId == kNEIconGroupType) return count;
    pos += 8 + static_cast<int64_t>(count) * kNEEntrySize;
    if (size < pos) return -1;
  }
}

struct TPEDirectory {
  int64_t At = 0;
  int Entries = 0;
};

bool ReadPEDirectory(TStream& file, const TExeResourceTable& table, uint32_t offset, TPEDirectory& dir) {
  uint8_t head[16];
  dir.At = table.TableOffset + (offset & 0x7FFFFFFF);
  if (!ReadAt(file, dir.At, head, 16)) return false;
  dir.Entries = ReadLE16(head + 12) + ReadLE16(head + 14);
  // The entries must lie inside the file as well.
  return dir.At + 16 + static_cast<int64_t>(dir.Entries) * 8 <= file.Size();
}

bool ReadPEEntry(TStream& file, const TPEDirectory& dir, int index, uint32_t& name, uint32_t& offset) {
  uint8_t e[8];
  if (!ReadAt(file, dir.At + 16 + static_cast<int64_t>(index) * 8, e, 8)) return false;
  name = ReadLE32(e);
  offset = ReadLE32(e + 4);
  return true;
}

// The offset of the root's RT_GROUP_ICON entry. Only the first is followed: a
// valid root holds each type once, and following copies of it would let a small
// file make the walk quadratic.
bool FindPEIconGroupEntry(TStream& file, const TExeResourceTable& table, uint32_t& offset) {
  TPEDirectory root;
  if (!ReadPEDirectory(file, table, 0, root)) return false;
  for (int i = 0; i < root.Entries; ++i) {
    uint32_t name = 0;
    if (!ReadPEEntry(file, root, i, name, offset)) return false;
    if (name == kRTGroupIcon) return true;
  }
  return false;
}

}  // namespace

bool NEHasIconGroups(TStream& file, const TExeResourceTable& table) {
  return FindNEIconGroupBlock(file, table) >= 0;
}

int32_t CountNEIconGroups(TStream& file, const TExeResourceTable& table) {
  return std::max(FindNEIconGroupBlock(file, table), 0);
}

bool PEHasIconGroups(TStream& file, const TExeResourceTable& table) {
  uint32_t offset = 0;
  return FindPEIconGroupEntry(file, table, offset);
}

int32_t CountPEIconGroups(TStream& file, const TExeResourceTable& table) {
  uint32_t offset = 0;
  if (!FindPEIconGroupEntry(file, table, offset)) return 0;
  TPEDirectory names;
  if (!ReadPEDirectory(file, table, offset, names)) return 0;
  int32_t total = 0;
  for (int i = 0; i < names.Entries; ++i) {
    uint32_t name = 0, languagesAt = 0;
    if (!ReadPEEntry(file, names, i, name, languagesAt)) break;
    TPEDirectory languages;
    if (ReadPEDirectory(file, table, languagesAt, languages)) total += languages.Entries;
  }
  return total;
}

int32_t CountIconGroupsInStream(TStream& file, bool& is64Bit) {
  is64Bit = false;
  TExeResourceTable table;
  if (!SeekToNewHeader(file, table)) return -1;
  const bool found = LocateResourceTable(file, table);
  is64Bit = table.Is64Bit;
  if (!found) return -1;
  return table.Signature == esNE ? CountNEIconGroups(file, table) : CountPEIconGroups(file, table);
}

int32_t CountIconGroupsInFile(const std::string& fileName, bool& is64Bit) {
  TFileMappingStream file(fileName);
  return CountIconGroupsInStream(file, is64Bit);
}

bool FileHasIconGroups(const std::string& fileName) {
  TFileMappingStream file(fileName);
  TExeResourceTable table;
  if (!SeekToNewHeader(file, table) || !LocateResourceTable(file, table)) return false;
  return table.Signature == esNE ? NEHasIconGroups(file, table) : PEHasIconGroups(file, table);
}
