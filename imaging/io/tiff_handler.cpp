#include "imaging/io/tiff_handler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/sysutils.h"

namespace {

constexpr int kTagStripOffsets = 273, kTagStripByteCounts = 279;
constexpr int kTagTileOffsets = 324, kTagTileByteCounts = 325;
constexpr int kTagJpegIF = 513, kTagJpegIFLength = 514;
constexpr int kTagCompression = 259;
// Sub-directories nest EXIF in the main directory and interoperability in
// EXIF; deeper nesting is damage.
constexpr int kMaxDepth = 4;

void ReadBytesAt(TStream& s, int64_t position, uint8_t* out, int64_t count) {
  s.Seek(position, soBeginning);
  s.ReadBuffer(out, count);
}

std::unique_ptr<TIETIFFTagList> CopyList(const TIETIFFTagList& list);

TIETIFFEntry CopyOf(const TIETIFFEntry& e) {
  TIETIFFEntry c;
  std::memcpy(c.Raw, e.Raw, 12);
  c.Data = e.Data;
  c.Blocks = e.Blocks;
  c.HasBlocks = e.HasBlocks;
  if (e.Sub) c.Sub = CopyList(*e.Sub);
  return c;
}

std::unique_ptr<TIETIFFTagList> CopyList(const TIETIFFTagList& list) {
  auto c = std::make_unique<TIETIFFTagList>();
  for (const TIETIFFEntry& e : list.Entries) c->Entries.push_back(CopyOf(e));
  return c;
}

}  // namespace

TIETIFFHandler::TIETIFFHandler() = default;
TIETIFFHandler::~TIETIFFHandler() { Clear(); }

std::unique_ptr<TIETIFFHandler> TIETIFFHandler::CreateFromFile(const std::string& name) {
  auto h = std::make_unique<TIETIFFHandler>();
  h->ReadFile(name);
  return h;
}

std::unique_ptr<TIETIFFHandler> TIETIFFHandler::CreateFromStream(TStream& stream) {
  auto h = std::make_unique<TIETIFFHandler>();
  h->ReadStream(stream);
  return h;
}

bool TIETIFFHandler::ReadFile(const std::string& name) {
  if (!FileExists(name)) return false;
  try {
    TFileStream f(name, fmOpenRead | fmShareDenyWrite);
    return ReadStream(f);
  } catch (const Exception&) {
    return false;
  }
}

uint16_t TIETIFFHandler::Order16(uint16_t v) const { return FBigEndian ? uint16_t(v >> 8 | v << 8) : v; }

uint32_t TIETIFFHandler::Order32(uint32_t v) const {
  return FBigEndian ? (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24) : v;
}

uint16_t TIETIFFHandler::EntryTag(const TIETIFFEntry& e) const { return TIFFGet16(e.Raw, !FBigEndian); }
uint16_t TIETIFFHandler::EntryType(const TIETIFFEntry& e) const { return TIFFGet16(e.Raw + 2, !FBigEndian); }
uint32_t TIETIFFHandler::EntryCount(const TIETIFFEntry& e) const { return TIFFGet32(e.Raw + 4, !FBigEndian); }

void TIETIFFHandler::SetRaw(TIETIFFEntry& e, uint16_t tag, uint16_t type, uint32_t count) const {
  TIFFPut16(e.Raw, tag, !FBigEndian);
  TIFFPut16(e.Raw + 2, type, !FBigEndian);
  TIFFPut32(e.Raw + 4, count, !FBigEndian);
}

bool TIETIFFHandler::ReadHeader(TStream& stream, uint32_t& first) {
  TIFFHeader h;
  if (!ReadTIFFHeader(stream, h)) return false;
  FBigEndian = !h.LittleEndian;
  FVersion = h.Version;
  first = h.FirstOffset;
  return true;
}

bool TIETIFFHandler::ReadStream(TStream& stream) {
  Clear();
  uint32_t offset = 0;
  try {
    if (!ReadHeader(stream, offset)) return false;
    const int64_t size = stream.Size();
    // Strip data shared by several offsets may repeat, but not without bound.
    FCaptured = 0;
    FCaptureLimit = 4 * size + (1 << 20);
    FSeenOffsets.clear();
    while (offset != 0 && int64_t(offset) < size &&
           std::find(FSeenOffsets.begin(), FSeenOffsets.end(), offset) == FSeenOffsets.end()) {
      FSeenOffsets.push_back(offset);
      auto page = std::make_unique<TIETIFFTagList>();
      uint32_t next = 0;
      if (!ReadIFD(stream, offset, *page, 0, next)) break;
      FPages.push_back(std::move(page));
      offset = next;
    }
  } catch (const Exception&) {
    // A stream error ends the reading; the pages read so far stay.
  }
  return true;
}

bool TIETIFFHandler::ReadIFD(TStream& stream, uint32_t offset, TIETIFFTagList& list, int depth, uint32_t& next) {
  std::vector<TIFFTagEntry> entries;
  const bool le = !FBigEndian;
  if (!ReadTIFFEntries(stream, 0, offset, le, entries, next)) return false;
  const int64_t size = stream.Size();
  for (const TIFFTagEntry& t : entries) {
    TIETIFFEntry e;
    SetRaw(e, t.Tag, t.Type, t.Count);
    std::memcpy(e.Raw + 8, t.Value, 4);
    const int64_t bytes = TIFFValueBytes(t);
    if (bytes >= size) break;  // a count no file can hold: the rest of the table is damage
    if (bytes > 4) {
      const int64_t at = TIFFGet32(t.Value, le);
      if (at + bytes > size) continue;
      e.Data.resize(size_t(bytes));
      ReadBytesAt(stream, at, e.Data.data(), bytes);
    }
    if (IsSubIFDTag(t.Tag)) {
      const uint32_t subOffset = TIFFGet32(t.Value, le);
      if (depth >= kMaxDepth || subOffset == 0 ||
          std::find(FSeenOffsets.begin(), FSeenOffsets.end(), subOffset) != FSeenOffsets.end())
        continue;
      FSeenOffsets.push_back(subOffset);
      e.Sub = std::make_unique<TIETIFFTagList>();
      uint32_t ignored = 0;
      if (!ReadIFD(stream, subOffset, *e.Sub, depth + 1, ignored)) continue;
      e.Data.clear();
    }
    list.Entries.push_back(std::move(e));
  }
  CaptureData(stream, list);
  // Old-style JPEG pages keep only the interchange data.
  if (GetIntegerValue(list, kTagCompression, 0) == 6 && FindEntry(list, kTagStripOffsets) >= 0 &&
      FindEntry(list, kTagJpegIF) >= 0)
    for (int tag : {kTagStripOffsets, 519, 520, 521}) DeleteEntry(list, FindEntry(list, tag), true);
  SortTags(list);
  return true;
}

void TIETIFFHandler::CaptureData(TStream& stream, TIETIFFTagList& list) {
  const int64_t size = stream.Size();
  for (TIETIFFEntry& e : list.Entries) {
    int offsetsTag = 0, countsTag = 0;
    if (!DataTagPair(EntryTag(e), offsetsTag, countsTag) || offsetsTag != EntryTag(e)) continue;
    const int counts = FindEntry(list, countsTag);
    const uint32_t n = EntryCount(e);
    if (n > uint32_t(size)) continue;
    e.Blocks.resize(n);
    for (uint32_t k = 0; k < n; ++k) {
      const int64_t at = GetValue(list, int(&e - list.Entries.data()), int(k));
      int64_t len = counts >= 0 ? GetValue(list, counts, int(k)) : 0;
      // Blocks are bounded by the stream and by what all blocks together may take.
      len = std::clamp<int64_t>(std::min(len, size - at), 0, std::max<int64_t>(0, FCaptureLimit - FCaptured));
      e.Blocks[k].resize(size_t(len));
      if (len > 0) ReadBytesAt(stream, at, e.Blocks[k].data(), len);
      FCaptured += len;
      if (counts >= 0 && len != GetValue(list, counts, int(k))) {
        // Say what was really captured, so the counts written match the data.
        TIETIFFEntry& c = list.Entries[size_t(counts)];
        uint8_t* p = ValuePointer(c, int(k));
        if (EntryType(c) == ttSHORT) TIFFPut16(p, uint16_t(len), !FBigEndian);
        else if (EntryType(c) == ttLONG) TIFFPut32(p, uint32_t(len), !FBigEndian);
      }
    }
    e.HasBlocks = true;
    e.Data.clear();
    SetRaw(e, EntryTag(e), ttLONG, n);
  }
}

void TIETIFFHandler::Clear() {
  FPages.clear();
  FSeenOffsets.clear();
}

TIETIFFTagList* TIETIFFHandler::Page(int page) {
  return page >= 0 && page < int(FPages.size()) ? FPages[size_t(page)].get() : nullptr;
}

void TIETIFFHandler::DeletePage(int page) {
  if (Page(page) != nullptr) FPages.erase(FPages.begin() + page);
}

void TIETIFFHandler::DeletePageTag(int page, int entry, bool freeCaptured) {
  if (TIETIFFTagList* l = Page(page)) DeleteEntry(*l, entry, freeCaptured);
}

// Each entry owns its data, so deleting it always frees what it holds.
void TIETIFFHandler::DeleteEntry(TIETIFFTagList& list, int entry, bool) {
  if (entry < 0 || entry >= int(list.Entries.size())) return;
  list.Entries.erase(list.Entries.begin() + entry);
}

int TIETIFFHandler::FindEntry(const TIETIFFTagList& list, int tag) const {
  for (size_t i = 0; i < list.Entries.size(); ++i)
    if (EntryTag(list.Entries[i]) == tag) return int(i);
  return -1;
}

int TIETIFFHandler::FindTag(int page, int tag) {
  TIETIFFTagList* l = Page(page);
  return l == nullptr ? -1 : FindEntry(*l, tag);
}

uint8_t* TIETIFFHandler::ValuePointer(TIETIFFEntry& e, int element) {
  const int size = TIFFTypeSize(EntryType(e));
  if (element < 0 || uint32_t(element) >= EntryCount(e) || e.HasBlocks) return nullptr;
  if (int64_t(EntryCount(e)) * size <= 4) return e.Raw + 8 + element * size;
  const size_t at = size_t(element) * size_t(size);
  return at + size_t(size) <= e.Data.size() ? e.Data.data() + at : nullptr;
}

int64_t TIETIFFHandler::GetValue(TIETIFFTagList& list, int entry, int element) {
  if (entry < 0 || entry >= int(list.Entries.size())) return 0;
  TIETIFFEntry& e = list.Entries[size_t(entry)];
  const uint8_t* p = ValuePointer(e, element);
  if (p == nullptr) return 0;
  switch (EntryType(e)) {
    case ttBYTE:
    case ttASCII:
    case ttUNDEFINED: return p[0];
    case ttSBYTE: return int8_t(p[0]);
    case ttSHORT:
    case ttSSHORT: return TIFFGet16(p, !FBigEndian);
    case ttLONG:
    case ttSLONG: return TIFFGet32(p, !FBigEndian);
    default: return 0;
  }
}

int64_t TIETIFFHandler::GetIntegerValue(TIETIFFTagList& list, int tag, int element) {
  return GetValue(list, FindEntry(list, tag), element);
}

void TIETIFFHandler::SetTag(TIETIFFTagList& list, int tag, const TIETIFFValue& value, int type) {
  DeleteEntry(list, FindEntry(list, tag), true);
  const auto asInt = [&]() -> int64_t {
    if (const auto* i = std::get_if<int64_t>(&value)) return *i;
    if (const auto* d = std::get_if<double>(&value)) return int64_t(std::trunc(*d));
    return StrToInt64Def(std::get<std::string>(value), 0);
  };
  const auto asReal = [&]() -> double {
    if (const auto* i = std::get_if<int64_t>(&value)) return double(*i);
    if (const auto* d = std::get_if<double>(&value)) return *d;
    return StrToFloatDef(std::get<std::string>(value), 0);
  };
  const bool le = !FBigEndian;
  std::vector<uint8_t> bytes;
  switch (type) {
    case ttASCII: {
      const std::string text = std::holds_alternative<std::string>(value) ? std::get<std::string>(value)
                                                                           : std::to_string(asInt());
      bytes.assign(text.begin(), text.end());
      bytes.push_back(0);
      break;
    }
    case ttSHORT:
    case ttSSHORT:
      bytes.resize(2);
      TIFFPut16(bytes.data(), uint16_t(asInt()), le);
      break;
    case ttLONG:
    case ttSLONG:
    case ttIFD:
      bytes.resize(4);
      TIFFPut32(bytes.data(), uint32_t(asInt()), le);
      break;
    case ttRATIONAL:
    case ttSRATIONAL:
      bytes.resize(8);
      TIFFPut32(bytes.data(), uint32_t(int64_t(std::trunc(asReal() * 10000))), le);
      TIFFPut32(bytes.data() + 4, 10000, le);
      break;
    case ttFLOAT: {
      const float f = float(asReal());
      uint32_t u;
      std::memcpy(&u, &f, 4);
      bytes.resize(4);
      TIFFPut32(bytes.data(), u, le);
      break;
    }
    case ttDOUBLE: {
      const double d = asReal();
      uint64_t u;
      std::memcpy(&u, &d, 8);
      bytes.resize(8);
      for (int i = 0; i < 8; ++i) bytes[size_t(le ? i : 7 - i)] = uint8_t(u >> (8 * i));
      break;
    }
    default: bytes.push_back(uint8_t(asInt())); break;
  }
  TIETIFFEntry e;
  const int size = TIFFTypeSize(type);
  SetRaw(e, uint16_t(tag), uint16_t(type), uint32_t(bytes.size() / size_t(size)));
  if (bytes.size() <= 4) std::memcpy(e.Raw + 8, bytes.data(), bytes.size());
  else e.Data = std::move(bytes);
  list.Entries.push_back(std::move(e));
}

bool TIETIFFHandler::CopyTag(int sourcePage, int entry, int destinationPage, TIETIFFHandler& source) {
  TIETIFFTagList* from = source.Page(sourcePage);
  TIETIFFTagList* to = Page(destinationPage);
  return from != nullptr && to != nullptr && CopyEntry(*from, entry, *to, source);
}

bool TIETIFFHandler::CopyEntry(TIETIFFTagList& sourceList, int entry, TIETIFFTagList& destinationList,
                               TIETIFFHandler& source) {
  if (entry < 0 || entry >= int(sourceList.Entries.size()) || source.FBigEndian != FBigEndian) return false;
  TIETIFFEntry copy = CopyOf(sourceList.Entries[size_t(entry)]);
  DeleteEntry(destinationList, FindEntry(destinationList, EntryTag(copy)), true);
  destinationList.Entries.push_back(std::move(copy));
  return true;
}

void TIETIFFHandler::SortPage(int page) {
  if (TIETIFFTagList* l = Page(page)) SortTags(*l);
}

void TIETIFFHandler::SortTags(TIETIFFTagList& list) {
  std::stable_sort(list.Entries.begin(), list.Entries.end(),
                   [this](const TIETIFFEntry& a, const TIETIFFEntry& b) { return EntryTag(a) < EntryTag(b); });
}

bool TIETIFFHandler::IsSubIFDTag(int tag) { return tag == 34665 || tag == 34853 || tag == 40965; }

bool TIETIFFHandler::DataTagPair(int tag, int& offsetsTag, int& countsTag) const {
  static constexpr int kPairs[][2] = {{kTagStripOffsets, kTagStripByteCounts},
                                      {kTagTileOffsets, kTagTileByteCounts},
                                      {kTagJpegIF, kTagJpegIFLength},
                                      {48320, 48321},
                                      {48322, 48323}};
  for (int i = 0; i < 5; ++i) {
    if (i >= 3 && FVersion != 444) break;
    if (tag == kPairs[i][0] || tag == kPairs[i][1]) {
      offsetsTag = kPairs[i][0];
      countsTag = kPairs[i][1];
      return true;
    }
  }
  return false;
}

int64_t AlignStreamEven(TStream& stream) {
  int64_t p = stream.Position();
  if (p & 1) {
    const uint8_t zero = 0;
    stream.WriteBuffer(&zero, 1);
    ++p;
  }
  return p;
}

void TIETIFFHandler::WriteIFD(TStream& stream, TIETIFFTagList& list, int64_t& endPosition) {
  const bool le = !FBigEndian;
  const bool auxStrip = FindEntry(list, kTagJpegIF) >= 0 && FindEntry(list, kTagStripOffsets) < 0;
  const size_t count = list.Entries.size() + (auxStrip ? 1 : 0);
  const int64_t table = stream.Position();
  // The table is written last, once every value has its position.
  std::vector<uint8_t> placeholder(2 + 12 * count + 4, 0);
  stream.WriteBuffer(placeholder.data(), int64_t(placeholder.size()));
  std::vector<std::array<uint8_t, 12>> raws;
  for (TIETIFFEntry& e : list.Entries) {
    std::array<uint8_t, 12> raw;
    std::memcpy(raw.data(), e.Raw, 12);
    if (e.HasBlocks) {
      std::vector<uint32_t> positions;
      for (const std::vector<uint8_t>& b : e.Blocks) {
        positions.push_back(uint32_t(stream.Position()));
        if (!b.empty()) stream.WriteBuffer(b.data(), int64_t(b.size()));
      }
      if (positions.size() == 1) {
        TIFFPut32(raw.data() + 8, positions[0], le);
      } else if (!positions.empty()) {
        const int64_t at = AlignStreamEven(stream);
        std::vector<uint8_t> array(positions.size() * 4);
        for (size_t k = 0; k < positions.size(); ++k) TIFFPut32(array.data() + 4 * k, positions[k], le);
        stream.WriteBuffer(array.data(), int64_t(array.size()));
        TIFFPut32(raw.data() + 8, uint32_t(at), le);
      }
      if (EntryTag(e) == kTagJpegIF && auxStrip) {
        // The image data of an old-style JPEG page starts at its SOS marker.
        const std::vector<uint8_t> jpeg = e.Blocks.empty() ? std::vector<uint8_t>() : e.Blocks[0];
        size_t sos = 0;
        while (sos + 1 < jpeg.size() && !(jpeg[sos] == 0xFF && jpeg[sos + 1] == 0xDA)) ++sos;
        std::array<uint8_t, 12> strip{};
        TIFFPut16(strip.data(), kTagStripOffsets, le);
        TIFFPut16(strip.data() + 2, ttIFD, le);
        TIFFPut32(strip.data() + 4, 1, le);
        TIFFPut32(strip.data() + 8, positions.empty() ? 0 : uint32_t(positions[0] + sos), le);
        raws.push_back(strip);
      }
    } else if (e.Sub) {
      const int64_t at = AlignStreamEven(stream);
      int64_t end = 0;
      WriteIFD(stream, *e.Sub, end);
      TIFFPut32(raw.data() + 8, uint32_t(at), le);
    } else if (!e.Data.empty()) {
      const int64_t at = AlignStreamEven(stream);
      stream.WriteBuffer(e.Data.data(), int64_t(e.Data.size()));
      TIFFPut32(raw.data() + 8, uint32_t(at), le);
    }
    raws.push_back(raw);
  }
  std::stable_sort(raws.begin(), raws.end(), [le](const auto& a, const auto& b) {
    return TIFFGet16(a.data(), le) < TIFFGet16(b.data(), le);
  });
  endPosition = stream.Position();
  std::vector<uint8_t> out(placeholder.size(), 0);
  TIFFPut16(out.data(), uint16_t(raws.size()), le);
  for (size_t i = 0; i < raws.size(); ++i) std::memcpy(out.data() + 2 + 12 * i, raws[i].data(), 12);
  stream.Seek(table, soBeginning);
  stream.WriteBuffer(out.data(), int64_t(out.size()));
  stream.Seek(endPosition, soBeginning);
}

void TIETIFFHandler::WriteStream(TStream& stream, int page) {
  const bool le = !FBigEndian;
  uint8_t header[8] = {uint8_t(le ? 'I' : 'M'), uint8_t(le ? 'I' : 'M')};
  TIFFPut16(header + 2, FVersion, le);
  const int64_t start = stream.Position();
  stream.WriteBuffer(header, 8);
  std::vector<int> pages;
  if (page < 0 || page >= PageCount())
    for (int i = 0; i < PageCount(); ++i) pages.push_back(i);
  else
    pages.push_back(page);
  int64_t linkAt = start + 4;  // where the offset of the next directory goes
  for (int p : pages) {
    SortPage(p);
    const int64_t at = AlignStreamEven(stream);
    uint8_t link[4];
    TIFFPut32(link, uint32_t(at), le);
    stream.Seek(linkAt, soBeginning);
    stream.WriteBuffer(link, 4);
    stream.Seek(at, soBeginning);
    int64_t end = 0;
    TIETIFFTagList& list = *FPages[size_t(p)];
    const size_t count = list.Entries.size() + (FindEntry(list, kTagJpegIF) >= 0 && FindEntry(list, kTagStripOffsets) < 0);
    WriteIFD(stream, list, end);
    linkAt = at + 2 + 12 * int64_t(count);
  }
}

bool TIETIFFHandler::WriteFile(const std::string& name, int page) {
  try {
    TFileStream f(name, fmCreate);
    WriteStream(f, page);
    return true;
  } catch (const Exception&) {
    return false;
  }
}
