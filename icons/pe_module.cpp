#include "icons/pe_module.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "base/file_mapping_stream.h"
#include "platform/win/utf16_text.h"
#include "platform/rtl/byte_order.h"

namespace {

// Offsets in the PE32 optional header.
constexpr size_t kOptMagic = 0;
constexpr size_t kOptSizeOfInitializedData = 8;
constexpr size_t kOptSectionAlignment = 32;
constexpr size_t kOptFileAlignment = 36;
constexpr size_t kOptSizeOfImage = 56;
constexpr size_t kOptCheckSum = 64;
constexpr size_t kOptNumberOfRvaAndSizes = 92;
constexpr size_t kOptDataDirectories = 96;
constexpr uint16_t kPE32Magic = 0x10B;


// True when [offset, offset + count) lies inside a block of size bytes.
bool Inside(uint64_t offset, uint64_t count, uint64_t size) { return offset <= size && count <= size - offset; }

uint64_t AlignUp(uint64_t x, uint64_t a) { return a == 0 ? x : (x + a - 1) / a * a; }

std::vector<uint8_t> Slice(const uint8_t* image, uint64_t from, uint64_t to) {
  if (to <= from) return {};
  return std::vector<uint8_t>(image + from, image + to);
}

void WriteZeros(TStream& s, uint64_t count) {
  static const uint8_t zeros[4096] = {};
  while (count > 0) {
    const uint64_t n = std::min<uint64_t>(count, sizeof zeros);
    s.WriteBuffer(zeros, static_cast<int64_t>(n));
    count -= n;
  }
}

void WriteBytes(TStream& s, const std::vector<uint8_t>& v) {
  if (!v.empty()) s.WriteBuffer(v.data(), static_cast<int64_t>(v.size()));
}

// A text is written as an identifier only when it is a canonical number that
// fits 16 bits; "007" and "70000" stay strings.
bool IsCanonicalId(const std::string& text) {
  const int64_t v = ResourceNameToNumber(text);
  return v >= 0 && v <= 0xFFFF && std::to_string(v) == text;
}

}  // namespace

// ---- sections ------------------------------------------------------------

std::string TImageSection::SectionName() const {
  return std::string(FHeader.Name, strnlen(FHeader.Name, sizeof FHeader.Name));
}

void TImageSection::LoadData(const uint8_t* image, size_t imageSize) {
  if (FLoaded) return;
  FLoaded = true;
  if (FHeader.Characteristics & IMAGE_SCN_CNT_UNINITIALIZED_DATA) return;
  // A tiny VirtualSize (linkers once left it 0) says nothing about the data:
  // the raw size counts then. The header itself stays as it was read.
  uint32_t count;
  if (FHeader.SizeOfRawData < FHeader.VirtualSize) {
    count = FHeader.SizeOfRawData;
    FUninitializedTail = FHeader.VirtualSize - FHeader.SizeOfRawData;
  } else {
    count = FHeader.VirtualSize < 32 ? FHeader.SizeOfRawData : FHeader.VirtualSize;
  }
  if (count == 0) return;
  if (!Inside(FHeader.PointerToRawData, count, imageSize))
    throw EPEException("Section " + SectionName() + " lies outside the image");
  FData.WriteBuffer(image + FHeader.PointerToRawData, count);
  FData.SetPosition(0);
  FLoadedSize = count;
}

// ---- module --------------------------------------------------------------

uint32_t TPEModule::OptionalValue32(size_t offset) const {
  return offset + 4 <= FOptionalHeader.size() ? ReadLE32(FOptionalHeader.data() + offset) : 0;
}

void TPEModule::SetOptionalValue32(size_t offset, uint32_t value) {
  if (offset + 4 <= FOptionalHeader.size()) WriteLE32(FOptionalHeader.data() + offset, value);
}

uint32_t TPEModule::FileAlignment() const { return OptionalValue32(kOptFileAlignment); }
uint32_t TPEModule::SectionAlignment() const { return OptionalValue32(kOptSectionAlignment); }

int TPEModule::DataDirectoryCount() const {
  // Only the directories really present in the optional header count.
  const uint64_t room = FOptionalHeader.size() > kOptDataDirectories
                            ? (FOptionalHeader.size() - kOptDataDirectories) / sizeof(TImageDataDirectory)
                            : 0;
  return static_cast<int>(std::min<uint64_t>(OptionalValue32(kOptNumberOfRvaAndSizes), room));
}

TImageDataDirectory TPEModule::GetDataDirectory(int index) const {
  if (index < 0 || index >= DataDirectoryCount()) throw ERangeError("Index exceeds data dictionary count");
  const size_t at = kOptDataDirectories + static_cast<size_t>(index) * sizeof(TImageDataDirectory);
  return {OptionalValue32(at), OptionalValue32(at + 4)};
}

void TPEModule::SetDataDirectory(int index, const TImageDataDirectory& dir) {
  if (index < 0 || index >= DataDirectoryCount()) throw ERangeError("Index exceeds data dictionary count");
  const size_t at = kOptDataDirectories + static_cast<size_t>(index) * sizeof(TImageDataDirectory);
  SetOptionalValue32(at, dir.VirtualAddress);
  SetOptionalValue32(at + 4, dir.Size);
}

int TPEModule::FindDirectorySection(int index) const {
  const uint32_t rva = GetDataDirectory(index).VirtualAddress;
  for (size_t i = 0; i < FSections.size(); ++i)
    if (FSections[i]->Header().VirtualAddress == rva) return static_cast<int>(i);
  return -1;
}

int TPEModule::FindSectionOfRva(uint32_t rva) const {
  for (size_t i = 0; i < FSections.size(); ++i) {
    const TImageSectionHeader& h = FSections[i]->Header();
    const uint32_t extent = std::max(h.VirtualSize, h.SizeOfRawData);
    if (rva >= h.VirtualAddress && rva - h.VirtualAddress < extent) return static_cast<int>(i);
  }
  return -1;
}

TImageSection* TPEModule::GetSection(int index) const {
  if (index < 0 || index >= GetSectionCount()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return FSections[static_cast<size_t>(index)].get();
}

void TPEModule::ParseImage(const uint8_t* image, size_t size) {
  FSections.clear();
  FOriginalRawSizes.clear();
  FHeaderGap.clear();
  FOverlay.clear();
  if (size < 64 || ReadLE16(image) != 0x5A4D) throw EPEException("Invalid DOS signature");
  FDOSHeader = Slice(image, 0, 64);
  const uint32_t e = ReadLE32(image + 60);  // the whole 32 bits: no truncation to 16
  if (!Inside(e, 24, size) || e < 64 || ReadLE32(image + e) != 0x00004550) throw EPEException("Invalid COFF signature");
  FDOSStub = Slice(image, 64, e);
  FFileHeader = Slice(image, e + 4, e + 24);
  const uint16_t sectionCount = ReadLE16(FFileHeader.data() + 2);
  const uint16_t optionalSize = ReadLE16(FFileHeader.data() + 16);
  if (!Inside(e + 24, 2, size) || ReadLE16(image + e + 24) != kPE32Magic) throw EPEException("Invalid Windows Image");
  if (optionalSize < kOptDataDirectories || !Inside(e + 24, optionalSize, size))
    throw EPEException("Invalid Windows Image");
  FOptionalHeader = Slice(image, e + 24, uint64_t(e) + 24 + optionalSize);
  const uint64_t table = uint64_t(e) + 24 + optionalSize;
  if (!Inside(table, uint64_t(sectionCount) * 40, size)) throw EPEException("Section table lies outside the image");
  const uint64_t tableEnd = table + uint64_t(sectionCount) * 40;

  uint64_t firstRaw = size, lastRawEnd = tableEnd;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    TImageSectionHeader h;
    std::memcpy(&h, image + table + uint64_t(i) * 40, 40);
    if (h.SizeOfRawData > 0 && !(h.Characteristics & IMAGE_SCN_CNT_UNINITIALIZED_DATA)) {
      if (!Inside(h.PointerToRawData, h.SizeOfRawData, size) || h.PointerToRawData < tableEnd)
        throw EPEException("Section data lies outside the image");
      firstRaw = std::min<uint64_t>(firstRaw, h.PointerToRawData);
      lastRawEnd = std::max<uint64_t>(lastRawEnd, uint64_t(h.PointerToRawData) + h.SizeOfRawData);
    }
    FSections.push_back(std::make_unique<TImageSection>(this, h));
    FOriginalRawSizes.push_back(h.SizeOfRawData);
  }
  if (firstRaw == size) firstRaw = lastRawEnd;
  FHeaderGap = Slice(image, tableEnd, firstRaw);
  FOverlay = Slice(image, lastRawEnd, size);
  // Writing needs every section, and all of them lie inside the image: take
  // their bytes now so that the image can go when the load returns.
  for (auto& s : FSections) s->LoadData(image, size);
}

void TPEModule::LoadFromFile(const std::string& fileName) {
  { TFileStream probe(fileName, fmOpenRead | fmShareDenyNone); }  // a missing file is an error of its own
  TFileMappingStream mapping(fileName);
  ParseImage(mapping.Memory(), static_cast<size_t>(mapping.Size()));
}

void TPEModule::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  const std::vector<uint8_t> bytes = stream.ReadBytes(stream.Size());
  ParseImage(bytes.data(), bytes.size());
}

void TPEModule::SaveToFile(const std::string& fileName) {
  TMemoryStream out;
  SaveToStream(out);
  SaveBytesToFile(fileName, out.Memory(), out.Size());
  ClearModified();
}

void TPEModule::PrepareImage() {
  // Sections keep their file offsets and virtual addresses; only a section
  // whose data changed gets new sizes, and it may grow only where nothing
  // follows it in the file or in memory.
  // Alignments are powers of two, the file's at most 64K and never above the
  // memory's; any other value would pad a rebuilt section to gigabytes.
  const uint32_t fa = FileAlignment(), sa = SectionAlignment();
  const auto powerOfTwo = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
  if (!powerOfTwo(fa) || !powerOfTwo(sa) || fa > 0x10000 || sa < fa) throw EPEException("Image has no valid alignment");
  uint32_t imageEnd = static_cast<uint32_t>(AlignUp(OptionalValue32(60), sa));
  int64_t initialisedDelta = 0;
  for (size_t i = 0; i < FSections.size(); ++i) {
    TImageSectionHeader& h = FSections[i]->Header();
    const uint64_t dataSize = static_cast<uint64_t>(FSections[i]->DataSize());
    const uint64_t virtualSize = dataSize + FSections[i]->UninitializedTail();
    if (h.Characteristics & IMAGE_SCN_CNT_UNINITIALIZED_DATA || dataSize == FSections[i]->LoadedSize()) {
      imageEnd = std::max<uint32_t>(imageEnd, static_cast<uint32_t>(AlignUp(uint64_t(h.VirtualAddress) + h.VirtualSize, sa)));
      continue;
    }
    const uint64_t rawNeeded = AlignUp(dataSize, fa);
    bool lastInFile = true, lastInMemory = true;
    for (size_t j = 0; j < FSections.size(); ++j) {
      if (j == i) continue;
      const TImageSectionHeader& o = FSections[j]->Header();
      if (o.SizeOfRawData > 0 && o.PointerToRawData > h.PointerToRawData) lastInFile = false;
      if (o.VirtualAddress > h.VirtualAddress) lastInMemory = false;
    }
    if (rawNeeded > FOriginalRawSizes[i] && !lastInFile)
      throw EPEException("Section " + FSections[i]->SectionName() + " cannot grow: other sections follow it in the file");
    if (AlignUp(virtualSize, sa) > AlignUp(std::max(h.VirtualSize, FOriginalRawSizes[i]), sa) && !lastInMemory)
      throw EPEException("Section " + FSections[i]->SectionName() + " cannot grow: other sections follow it in memory");
    const uint32_t newRaw = static_cast<uint32_t>(lastInFile ? rawNeeded : std::max<uint64_t>(rawNeeded, FOriginalRawSizes[i]));
    if (virtualSize != h.VirtualSize || newRaw != h.SizeOfRawData) {
      if (h.Characteristics & IMAGE_SCN_CNT_INITIALIZED_DATA)
        initialisedDelta += int64_t(AlignUp(newRaw, fa)) - int64_t(AlignUp(h.SizeOfRawData, fa));
      h.VirtualSize = static_cast<uint32_t>(virtualSize);
      h.SizeOfRawData = newRaw;
    }
    imageEnd = std::max<uint32_t>(imageEnd, static_cast<uint32_t>(AlignUp(uint64_t(h.VirtualAddress) + h.VirtualSize, sa)));
  }
  SetOptionalValue32(kOptSizeOfImage, imageEnd);
  SetOptionalValue32(kOptSizeOfInitializedData,
                     static_cast<uint32_t>(int64_t(OptionalValue32(kOptSizeOfInitializedData)) + initialisedDelta));
  SetOptionalValue32(kOptCheckSum, 0);
  WriteLE16(FFileHeader.data() + 2, static_cast<uint16_t>(FSections.size()));
}

void TPEModule::SaveToStream(TStream& stream) {
  if (FDOSHeader.empty()) throw EPEException("No image to write");
  PrepareImage();
  // Certificates are found by file offset in the overlay; a section that grew
  // would move them out from under their directory entry.
  bool grew = false;
  for (size_t i = 0; i < FSections.size(); ++i) grew |= FSections[i]->Header().SizeOfRawData > FOriginalRawSizes[i];
  if (grew && !FOverlay.empty() && DataDirectoryCount() > IMAGE_DIRECTORY_ENTRY_SECURITY &&
      GetDataDirectory(IMAGE_DIRECTORY_ENTRY_SECURITY).Size != 0)
    throw EPEException("A signed image cannot grow its last section");

  TMemoryStream out;
  const uint32_t e = static_cast<uint32_t>(64 + FDOSStub.size());
  std::vector<uint8_t> dos = FDOSHeader;
  WriteLE32(dos.data() + 60, e);
  WriteBytes(out, dos);
  WriteBytes(out, FDOSStub);
  out.WriteValue<uint32_t>(0x00004550);
  WriteBytes(out, FFileHeader);
  WriteBytes(out, FOptionalHeader);
  for (auto& s : FSections) out.WriteBuffer(&s->Header(), 40);
  WriteBytes(out, FHeaderGap);

  // Raw data in file order, each at its own offset.
  std::vector<TImageSection*> order;
  for (auto& s : FSections)
    if (s->Header().SizeOfRawData > 0 && !(s->Header().Characteristics & IMAGE_SCN_CNT_UNINITIALIZED_DATA))
      order.push_back(s.get());
  std::stable_sort(order.begin(), order.end(), [](TImageSection* a, TImageSection* b) {
    return a->Header().PointerToRawData < b->Header().PointerToRawData;
  });
  for (TImageSection* s : order) {
    const TImageSectionHeader& h = s->Header();
    if (uint64_t(out.Position()) > h.PointerToRawData) throw EPEException("Sections overlap in the file");
    WriteZeros(out, h.PointerToRawData - uint64_t(out.Position()));
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(s->DataSize()), h.SizeOfRawData);
    if (n) out.WriteBuffer(s->DataBytes(), static_cast<int64_t>(n));
    WriteZeros(out, h.SizeOfRawData - n);
  }
  WriteBytes(out, FOverlay);

  const size_t checksumAt = e + 24 + kOptCheckSum;
  if (out.Size() >= int64_t(checksumAt + 4))
    WriteLE32(out.Memory() + checksumAt, ComputePEChecksum(out.Memory(), static_cast<size_t>(out.Size()), checksumAt));
  SetOptionalValue32(kOptCheckSum, ReadLE32(out.Memory() + checksumAt));
  stream.WriteBuffer(out.Memory(), out.Size());
}

uint32_t ComputePEChecksum(const uint8_t* image, size_t size, size_t checksumOffset) {
  // Sum of the 16-bit words with the carries folded back in, the checksum field
  // counted as zero, plus the length of the file.
  uint64_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    if (i >= checksumOffset && i < checksumOffset + 4) continue;
    uint32_t word = image[i];
    if (i + 1 < size) word |= uint32_t(image[i + 1]) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + size);
}

// ---- resources -----------------------------------------------------------

int TPEResourceModule::MoveResource(int fromIndex, int toIndex) {
  const int n = GetResourceCount();
  if (fromIndex < 0 || fromIndex >= n || toIndex < 0 || toIndex >= n) return -1;
  auto r = std::move(FResources[static_cast<size_t>(fromIndex)]);
  FResources.erase(FResources.begin() + fromIndex);
  FResources.insert(FResources.begin() + toIndex, std::move(r));
  return 1;
}

TImageSection* TPEResourceModule::GetResourceSection() const {
  if (DataDirectoryCount() <= IMAGE_DIRECTORY_ENTRY_RESOURCE) return nullptr;
  const TImageDataDirectory dir = GetDataDirectory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
  if (dir.VirtualAddress == 0) return nullptr;
  const int i = FindDirectorySection(IMAGE_DIRECTORY_ENTRY_RESOURCE);
  return i >= 0 ? GetSection(i) : nullptr;
}

void TPEResourceModule::ParseImage(const uint8_t* image, size_t size) {
  ClearResources();
  TPEModule::ParseImage(image, size);
  GetDataDirectory(IMAGE_DIRECTORY_ENTRY_RESOURCE);  // fewer than three directories is an error
  FLoadedResourceTree.clear();
  FResourceSectionRebuilt = false;
  if (TImageSection* section = GetResourceSection()) {
    ParseDirectory(image, size, *section);
    try {
      FLoadedResourceTree = BuildResourceSection(*section);
    } catch (const EPEException&) {
      FResourceSectionRebuilt = true;  // it cannot be written back as it stands
    }
  }
}

namespace {

struct TDirectoryWalk {
  TPEResourceModule* module;
  const uint8_t* data;  // the resource section's data
  uint64_t size;
  uint32_t sectionRva;
  std::set<uint32_t> visitedTables;
  // The bytes all resources may copy together: shared data entries cannot
  // multiply a small file into a huge allocation.
  uint64_t budget;
  std::string path[2];
  bool nameIsText = false;
};

std::string ReadDirectoryString(const TDirectoryWalk& w, uint32_t offset) {
  if (!Inside(offset, 2, w.size)) throw EPEException("Resource name lies outside the resource section");
  const uint16_t length = ReadLE16(w.data + offset);
  if (!Inside(uint64_t(offset) + 2, uint64_t(length) * 2, w.size))
    throw EPEException("Resource name lies outside the resource section");
  return Utf16LEToUtf8(w.data + offset + 2, size_t(length) * 2);
}

}  // namespace

void TPEResourceModule::ParseDirectory(const uint8_t* image, size_t imageSize, TImageSection& section) {
  TDirectoryWalk w{this, section.DataBytes(), static_cast<uint64_t>(section.DataSize()),
                   section.Header().VirtualAddress, {}, uint64_t(imageSize) * 2 + (1u << 20), {}, false};

  // Three levels (type, name, language); a table met twice is a cycle.
  std::function<void(uint32_t, int)> walkTable = [&](uint32_t offset, int level) {
    if (!w.visitedTables.insert(offset).second) throw EPEException("Resource directory contains a cycle");
    if (!Inside(offset, 16, w.size)) throw EPEException("Resource directory lies outside the resource section");
    const uint8_t* table = w.data + offset;
    const uint32_t characteristics = ReadLE32(table);
    const uint16_t major = ReadLE16(table + 8), minor = ReadLE16(table + 10);
    const uint32_t named = ReadLE16(table + 12), ids = ReadLE16(table + 14);
    if (!Inside(uint64_t(offset) + 16, uint64_t(named + ids) * 8, w.size))
      throw EPEException("Resource directory lies outside the resource section");
    for (uint32_t k = 0; k < named + ids; ++k) {
      const uint8_t* entry = table + 16 + k * 8;
      const uint32_t nameOrId = ReadLE32(entry), target = ReadLE32(entry + 4);
      const bool isNamed = k < named;
      std::string text;
      if (level == 2) {
        if (isNamed) throw EPEException("Unsupported non-integer language ID in resource");
      } else {
        text = isNamed ? ReadDirectoryString(w, nameOrId & 0x7FFFFFFF) : std::to_string(nameOrId & 0xFFFF);
        w.path[level] = text;
        if (level == 1) w.nameIsText = isNamed;
      }
      if (target & 0x80000000) {
        if (level >= 2) throw EPEException("Resource directory is nested too deeply");
        walkTable(target & 0x7FFFFFFF, level + 1);
        continue;
      }
      if (level != 2) throw EPEException("Resource data entry above the language level");
      if (!Inside(target, 16, w.size)) throw EPEException("Resource data entry lies outside the resource section");
      const uint32_t rva = ReadLE32(w.data + target);
      uint32_t dataSize = ReadLE32(w.data + target + 4);
      const uint32_t codePage = ReadLE32(w.data + target + 8);
      const uint8_t* bytes = nullptr;
      if (rva - w.sectionRva < w.size) {
        const uint64_t at = rva - w.sectionRva;
        dataSize = static_cast<uint32_t>(std::min<uint64_t>(dataSize, w.size - at));
        bytes = w.data + at;
      } else {
        const int other = FindSectionOfRva(rva);
        if (other < 0) throw EPEException("Resource data lies outside the image");
        TImageSection* s = GetSection(other);
        s->LoadData(image, imageSize);
        const uint64_t at = rva - s->Header().VirtualAddress;
        if (at >= static_cast<uint64_t>(s->DataSize())) throw EPEException("Resource data lies outside the image");
        dataSize = static_cast<uint32_t>(std::min<uint64_t>(dataSize, uint64_t(s->DataSize()) - at));
        bytes = s->DataBytes() + at;
      }
      if (dataSize > w.budget) throw EPEException("Resource data exceeds the image");
      w.budget -= dataSize;
      auto r = CreateResourceDetailsByType(this, nameOrId & 0xFFFF, w.path[1], w.path[0], dataSize, bytes);
      r->SetCodePage(codePage);
      r->SetNameIsText(w.nameIsText);
      r->SetCharacteristics(characteristics);
      r->SetDataVersion(uint32_t(major) * 65536u + minor);
      AddResource(std::move(r));
    }
  };
  walkTable(0, 0);
}

// ---- rebuilding the resource section -------------------------------------

namespace {

struct TResourceNode;
struct TNodeEntry {
  std::string name;
  bool numeric = false;
  bool leaf = false;
  std::unique_ptr<TResourceNode> child;
  TResourceDetails* data = nullptr;  // leaves: not owned
  uint32_t codePage = 0;
};
struct TResourceNode {
  std::vector<TNodeEntry> entries;
  TNodeEntry* Find(const std::string& name) {
    for (auto& e : entries)
      if (e.name == name) return &e;
    return nullptr;
  }
};

struct TLayout {
  uint64_t tables = 0, leaves = 0, strings = 0, data = 0;
};

void Measure(const TResourceNode& node, TLayout& l) {
  l.tables += 16 + 8 * node.entries.size();
  for (const auto& e : node.entries) {
    if (!e.numeric) l.strings += 2 + Utf8ToUtf16LE(e.name).size();
    if (e.leaf) {
      l.leaves += 16;
      l.data += AlignUp(static_cast<uint64_t>(e.data->Data().Size()), 4);
    } else {
      Measure(*e.child, l);
    }
  }
}

struct TWriter {
  std::vector<uint8_t>& out;
  uint32_t tableBase, leafBase, stringBase, dataBase, sectionRva;
  uint32_t nextTable = 0, nextLeaf = 0, nextString = 0, nextData = 0;
  uint32_t timeDateStamp;
  uint16_t major, minor;

  uint32_t WriteTable(const TResourceNode& node) {
    const uint32_t at = nextTable;
    nextTable += static_cast<uint32_t>(16 + 8 * node.entries.size());
    uint16_t named = 0, ids = 0;
    for (const auto& e : node.entries) (e.numeric ? ids : named)++;
    uint8_t* t = out.data() + tableBase + at;
    WriteLE32(t, 0);
    WriteLE32(t + 4, timeDateStamp);
    WriteLE16(t + 8, major);
    WriteLE16(t + 10, minor);
    WriteLE16(t + 12, named);
    WriteLE16(t + 14, ids);
    uint32_t slot = at + 16;
    // Named entries first, then identifiers, each group in entry order.
    for (int pass = 0; pass < 2; ++pass)
      for (const auto& e : node.entries) {
        if (e.numeric != (pass == 1)) continue;
        uint32_t first, second;
        if (e.numeric) {
          first = static_cast<uint32_t>(ResourceNameToNumber(e.name));
        } else {
          const std::vector<uint8_t> u = Utf8ToUtf16LE(e.name);
          first = 0x80000000u + stringBase + nextString;
          uint8_t* s = out.data() + stringBase + nextString;
          WriteLE16(s, static_cast<uint16_t>(u.size() / 2));
          if (!u.empty()) std::memcpy(s + 2, u.data(), u.size());
          nextString += static_cast<uint32_t>(2 + u.size());
        }
        if (e.leaf) {
          second = leafBase + nextLeaf;
          uint8_t* d = out.data() + leafBase + nextLeaf;
          nextLeaf += 16;
          const uint32_t size = static_cast<uint32_t>(e.data->Data().Size());
          WriteLE32(d, sectionRva + dataBase + nextData);
          WriteLE32(d + 4, size);
          WriteLE32(d + 8, e.codePage);
          WriteLE32(d + 12, 0);
          if (size) std::memcpy(out.data() + dataBase + nextData, e.data->Data().Memory(), size);
          nextData += static_cast<uint32_t>(AlignUp(size, 4));
        } else {
          second = 0x80000000u + WriteTable(*e.child);
        }
        WriteLE32(out.data() + tableBase + slot, first);
        WriteLE32(out.data() + tableBase + slot + 4, second);
        slot += 8;
      }
    return at;
  }
};

}  // namespace

std::vector<uint8_t> TPEResourceModule::BuildResourceSection(const TImageSection& section) const {
  // The tree of types, names and languages, in list order.
  TResourceNode root;
  for (int i = 0; i < GetResourceCount(); ++i) {
    TResourceDetails* r = GetResource(i);
    TNodeEntry* type = root.Find(r->ResourceType());
    if (!type) {
      root.entries.push_back({r->ResourceType(), IsCanonicalId(r->ResourceType()), false,
                              std::make_unique<TResourceNode>(), nullptr, 0});
      type = &root.entries.back();
    }
    TNodeEntry* name = type->child->Find(r->Name());
    if (!name) {
      type->child->entries.push_back({r->Name(), IsCanonicalId(r->Name()) && !r->NameIsText(), false,
                                      std::make_unique<TResourceNode>(), nullptr, 0});
      name = &type->child->entries.back();
    }
    const std::string language = std::to_string(r->Language() & 0xFFFF);
    if (TNodeEntry* lang = name->child->Find(language))
      lang->data = r;  // the later resource wins; the code page stays
    else
      name->child->entries.push_back({language, true, true, nullptr, r, r->CodePage()});
  }

  const uint8_t* old = section.DataBytes();
  const bool hasRoot = section.DataSize() >= 16;
  const uint32_t stamp = hasRoot ? ReadLE32(old + 4) : 0;
  const uint16_t major = hasRoot ? ReadLE16(old + 8) : 0, minor = hasRoot ? ReadLE16(old + 10) : 0;

  TLayout l;
  Measure(root, l);
  const uint64_t dataStart = AlignUp(l.tables + l.leaves + l.strings, 16);
  const uint64_t total = dataStart + l.data;
  if (total > 0x7FFFFFFF) throw EPEException("Resources too large for a resource section");
  std::vector<uint8_t> bytes(total, 0);
  TWriter w{bytes,
            0,
            static_cast<uint32_t>(l.tables),
            static_cast<uint32_t>(l.tables + l.leaves),
            static_cast<uint32_t>(dataStart),
            section.Header().VirtualAddress,
            0, 0, 0, 0, stamp, major, minor};
  w.WriteTable(root);

  return bytes;
}

void TPEResourceModule::PrepareImage() {
  TImageSection* section = GetResourceSection();
  if (!section) {
    if (GetResourceCount() > 0) throw EPEException("The image has no resource section to hold its resources");
    TPEModule::PrepareImage();
    return;
  }
  std::vector<uint8_t> bytes = BuildResourceSection(*section);
  // Resources as they were loaded leave the section as it was read: its
  // layout, padding and sizes are the file's own, and a load and save of an
  // unchanged module gives its bytes back.
  if (!FResourceSectionRebuilt && bytes == FLoadedResourceTree) {
    TPEModule::PrepareImage();
    return;
  }
  FResourceSectionRebuilt = true;
  const uint64_t total = bytes.size();
  section->Data().Clear();
  section->Data().WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  section->Data().SetPosition(0);
  TPEModule::PrepareImage();
  TImageDataDirectory dir = GetDataDirectory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
  dir.VirtualAddress = section->Header().VirtualAddress;
  dir.Size = static_cast<uint32_t>(total);
  SetDataDirectory(IMAGE_DIRECTORY_ENTRY_RESOURCE, dir);
}
