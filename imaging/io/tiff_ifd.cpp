#include "imaging/io/tiff_ifd.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "platform/rtl/streams.h"

namespace {

// Texts longer than this are taken for damage, not read.
constexpr int64_t kMaxText = 0xFFFFF;

bool ReadAt(TStream& s, int64_t position, void* buffer, int64_t count) {
  if (position < 0 || count < 0 || position > s.Size() || s.Size() - position < count) return false;
  s.Seek(position, soBeginning);
  return s.Read(buffer, count) == count;
}

const TIFFTagEntry* Find(const TIFFDirectoryContext& c, int tag) {
  const int i = FindTIFFTag(tag, c);
  return i < 0 ? nullptr : &c.Entries[size_t(i)];
}

// The entry's value bytes: the value field when they fit in it, else read
// from the offset; false when they do not lie inside the stream.
bool ValueBytes(const TIFFDirectoryContext& c, const TIFFTagEntry& e, std::vector<uint8_t>& out) {
  const int64_t n = TIFFValueBytes(e);
  if (n <= 4) {
    out.assign(e.Value, e.Value + n);
    return true;
  }
  if (c.Stream == nullptr || n > c.Stream->Size()) return false;
  out.resize(size_t(n));
  return ReadAt(*c.Stream, c.Base + TIFFGet32(e.Value, c.LittleEndian), out.data(), n);
}

// Element index of the values as an unsigned integer; false for other types.
bool ElementAt(const TIFFDirectoryContext& c, const TIFFTagEntry& e, int64_t index, uint32_t& v) {
  const int size = TIFFTypeSize(e.Type);
  if (index < 0 || index >= int64_t(e.Count)) return false;
  if (e.Type != ttBYTE && e.Type != ttSHORT && e.Type != ttLONG && e.Type != ttUNDEFINED && e.Type != ttSSHORT &&
      e.Type != ttSLONG && e.Type != ttIFD && e.Type != ttSBYTE)
    return false;
  uint8_t b[4] = {};
  if (TIFFValueBytes(e) <= 4) {
    std::memcpy(b, e.Value + index * size, size_t(size));
  } else if (c.Stream == nullptr ||
             !ReadAt(*c.Stream, c.Base + int64_t(TIFFGet32(e.Value, c.LittleEndian)) + index * size, b, size)) {
    return false;
  }
  v = size == 1 ? b[0] : size == 2 ? TIFFGet16(b, c.LittleEndian) : TIFFGet32(b, c.LittleEndian);
  return true;
}

}  // namespace

int TIFFTypeSize(int type) {
  static constexpr int kSizes[14] = {1, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type >= 0 && type <= 13 ? kSizes[type] : 1;
}

void TIFFSwapValues(uint8_t* p, int type, int64_t count) {
  const int size = TIFFTypeSize(type);
  if (size == 1) return;
  const int word = (type == ttRATIONAL || type == ttSRATIONAL) ? 4 : size;
  const int64_t words = count * size / word;
  for (int64_t i = 0; i < words; ++i) std::reverse(p + i * word, p + (i + 1) * word);
}

int64_t TIFFValueBytes(const TIFFTagEntry& e) { return int64_t(e.Count) * TIFFTypeSize(e.Type); }

uint16_t TIFFGet16(const uint8_t* p, bool le) { return le ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[0] << 8 | p[1]); }

uint32_t TIFFGet32(const uint8_t* p, bool le) {
  return le ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
            : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void TIFFPut16(uint8_t* p, uint16_t v, bool le) {
  p[le ? 0 : 1] = uint8_t(v);
  p[le ? 1 : 0] = uint8_t(v >> 8);
}

void TIFFPut32(uint8_t* p, uint32_t v, bool le) {
  for (int i = 0; i < 4; ++i) p[le ? i : 3 - i] = uint8_t(v >> (8 * i));
}

bool ParseTIFFHeader(const uint8_t* b, TIFFHeader& h) {
  if (b[0] == 'I' && b[1] == 'I') h.LittleEndian = true;
  else if (b[0] == 'M' && b[1] == 'M') h.LittleEndian = false;
  else return false;
  h.Version = TIFFGet16(b + 2, h.LittleEndian);
  h.FirstOffset = TIFFGet32(b + 4, h.LittleEndian);
  return true;
}

bool ReadTIFFHeader(TStream& stream, TIFFHeader& header) {
  uint8_t b[8];
  return stream.Read(b, 8) == 8 && ParseTIFFHeader(b, header);
}

bool ReadTIFFEntries(TStream& s, int64_t base, uint32_t offset, bool le, std::vector<TIFFTagEntry>& entries,
                     uint32_t& next) {
  entries.clear();
  next = 0;
  uint8_t b[2];
  const int64_t at = base + offset;
  if (!ReadAt(s, at, b, 2)) return false;
  const uint16_t count = TIFFGet16(b, le);
  if (count == 0) return false;
  std::vector<uint8_t> raw(size_t(count) * 12 + 4);
  // A table cut by the end of the stream keeps its whole entries; its next
  // offset counts as 0.
  const int64_t have = s.Read(raw.data(), int64_t(raw.size()));
  const int64_t whole = have < 0 ? 0 : std::min<int64_t>(count, have / 12);
  if (whole == 0) return false;
  entries.resize(size_t(whole));
  for (int64_t i = 0; i < whole; ++i) {
    const uint8_t* p = raw.data() + i * 12;
    TIFFTagEntry& e = entries[size_t(i)];
    e.Tag = TIFFGet16(p, le);
    e.Type = TIFFGet16(p + 2, le);
    e.Count = TIFFGet32(p + 4, le);
    std::memcpy(e.Value, p + 8, 4);
  }
  if (have == int64_t(raw.size())) next = TIFFGet32(raw.data() + size_t(count) * 12, le);
  return true;
}

bool LoadTIFFDirectory(int index, uint32_t firstOffset, TIFFDirectoryContext& c, int& directoryCount) {
  c.Entries.clear();
  directoryCount = 0;
  if (c.Stream == nullptr) return false;
  TStream& s = *c.Stream;
  const int64_t size = s.Size();
  std::unordered_set<uint32_t> seen;
  bool loaded = false;
  uint32_t offset = firstOffset;
  while (offset != 0 && seen.insert(offset).second) {
    uint8_t b[2];
    if (!ReadAt(s, c.Base + offset, b, 2)) break;
    const uint16_t count = TIFFGet16(b, c.LittleEndian);
    if (count == 0) break;
    const int64_t tableEnd = c.Base + offset + 2 + int64_t(count) * 12;
    // The next offset must follow the table inside the stream.
    if (tableEnd + 4 > size) {
      if (directoryCount == index) {
        uint32_t ignored;
        loaded = ReadTIFFEntries(s, c.Base, offset, c.LittleEndian, c.Entries, ignored);
        if (loaded) ++directoryCount;
      }
      break;
    }
    uint32_t next = 0;
    if (directoryCount == index) {
      loaded = ReadTIFFEntries(s, c.Base, offset, c.LittleEndian, c.Entries, next);
    } else {
      uint8_t n[4];
      if (!ReadAt(s, tableEnd, n, 4)) break;
      next = TIFFGet32(n, c.LittleEndian);
    }
    if (next < 8 || c.Base + int64_t(next) >= size) next = 0;
    ++directoryCount;
    offset = next;
  }
  return loaded;
}

int FindTIFFTag(int tag, const TIFFDirectoryContext& c) {
  for (size_t i = 0; i < c.Entries.size(); ++i)
    if (c.Entries[i].Tag == tag) return int(i);
  return -1;
}

int64_t GetTIFFTagInteger(const TIFFDirectoryContext& c, int tag, int64_t def) {
  const TIFFTagEntry* e = Find(c, tag);
  if (e == nullptr) return def;
  if (e->Type == ttBYTE || e->Type == ttSBYTE || e->Type == ttUNDEFINED) return e->Value[0];
  if (e->Type == ttSHORT || e->Type == ttSSHORT) return TIFFGet16(e->Value, c.LittleEndian);
  return TIFFGet32(e->Value, c.LittleEndian);
}

double GetTIFFTagRational(const TIFFDirectoryContext& c, int tag, double def) {
  return GetTIFFTagRationalAt(c, tag, 0, def);
}

double GetTIFFTagRationalAt(const TIFFDirectoryContext& c, int tag, int index, double def) {
  const TIFFTagEntry* e = Find(c, tag);
  if (e == nullptr || index < 0 || index >= int64_t(e->Count) || c.Stream == nullptr) return def;
  if (e->Type != ttRATIONAL && e->Type != ttSRATIONAL) {
    uint32_t v;
    return ElementAt(c, *e, index, v) ? double(v) : def;
  }
  uint8_t b[8];
  if (!ReadAt(*c.Stream, c.Base + int64_t(TIFFGet32(e->Value, c.LittleEndian)) + int64_t(index) * 8, b, 8))
    return def;
  const uint32_t num = TIFFGet32(b, c.LittleEndian), den = TIFFGet32(b + 4, c.LittleEndian);
  if (e->Type == ttSRATIONAL) return double(int32_t(num)) / (den == 0 ? 1.0 : double(int32_t(den)));
  return double(num) / (den == 0 ? 1.0 : double(den));
}

int64_t GetTIFFTagArrayInteger(const TIFFDirectoryContext& c, int tag, int index, int64_t def) {
  const TIFFTagEntry* e = Find(c, tag);
  uint32_t v;
  return e != nullptr && ElementAt(c, *e, index, v) ? int64_t(v) : def;
}

std::vector<uint32_t> ReadTIFFTagArray(const TIFFDirectoryContext& c, int tag) {
  std::vector<uint32_t> values;
  const TIFFTagEntry* e = Find(c, tag);
  if (e == nullptr || (e->Type != ttBYTE && e->Type != ttSHORT && e->Type != ttLONG && e->Type != ttIFD)) return values;
  std::vector<uint8_t> bytes;
  if (!ValueBytes(c, *e, bytes)) return values;
  const int size = TIFFTypeSize(e->Type);
  values.resize(e->Count);
  for (size_t i = 0; i < values.size(); ++i) {
    const uint8_t* p = bytes.data() + i * size_t(size);
    values[i] = size == 1 ? p[0] : size == 2 ? TIFFGet16(p, c.LittleEndian) : TIFFGet32(p, c.LittleEndian);
  }
  return values;
}

std::vector<uint8_t> ReadTIFFTagBlock(const TIFFDirectoryContext& c, int tag) {
  std::vector<uint8_t> bytes;
  const TIFFTagEntry* e = Find(c, tag);
  if (e != nullptr && !ValueBytes(c, *e, bytes)) bytes.clear();
  return bytes;
}

std::string GetTIFFTagString(const TIFFDirectoryContext& c, int tag, bool stopAtNul) {
  const TIFFTagEntry* e = Find(c, tag);
  if (e == nullptr || e->Count > kMaxText) return {};
  std::vector<uint8_t> bytes;
  if (!ValueBytes(c, *e, bytes)) return {};
  std::string text(bytes.begin(), bytes.end());
  if (stopAtNul) {
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
  }
  return text;
}

std::wstring GetTIFFTagWideString(const TIFFDirectoryContext& c, int tag) {
  const TIFFTagEntry* e = Find(c, tag);
  if (e == nullptr || e->Count > kMaxText) return {};
  std::vector<uint8_t> bytes;
  if (!ValueBytes(c, *e, bytes)) return {};
  // Windows writes these as BYTE arrays of little-endian UTF-16 whatever the
  // file's order; SHORT arrays follow the file's order.
  const bool le = e->Type == ttSHORT ? c.LittleEndian : true;
  std::wstring text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const wchar_t ch = wchar_t(TIFFGet16(bytes.data() + i, le));
    if (ch == 0) break;
    text.push_back(ch);
  }
  return text;
}
