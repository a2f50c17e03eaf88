#include "icons/module_readers.h"

#include <algorithm>
#include <cstring>

#include "icons/icon_resources.h"
#include "icons/pe_module.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/resources.h"
#include "platform/rtl/byte_order.h"

QV_ASSERT_LITTLE_ENDIAN_HOST();

namespace {

constexpr const char* kNotICL = "Not a valid ICL File";
constexpr const char* kBadOffset = "Invalid Windows 16 Offset";
constexpr const char* kBadHeader = "Invalid Windows 16 Header";
constexpr const char* kNoResources = "No Resources in file";
constexpr const char* kNoNames = "Names Table not found";
constexpr const char* kTableError = "ResourceTable has an Error";
constexpr const char* kBlockPastEnd = "a block of the resource table runs past the end";
constexpr const char* kResourceNotFound = "Icon Resource Not Found";

// Alignment shifts beyond this would put resources past any file a 16-bit
// loader could open.
constexpr uint16_t kMaxAlignShift = 20;

std::string GeneratedName(const std::string& base, size_t index) {
  return Format("%s %0.3d", base, static_cast<int>(index + 1));
}

// The strings of an "ICL" name list: each a length byte and its characters.
std::vector<std::string> LengthPrefixedStrings(TMemoryStream& data) {
  std::vector<std::string> out;
  const uint8_t* p = data.Memory();
  const int64_t size = data.Size();
  for (int64_t at = 0; at < size;) {
    const uint8_t n = p[at++];
    if (at + n > size) break;
    out.emplace_back(reinterpret_cast<const char*>(p + at), n);
    at += n;
  }
  return out;
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

void ReadPEIconGroups(const TResourceModule& module, TIconList& into) {
  const TResourceIndex images = IndexResourcesOfType(module, "3");
  for (int i = 0; i < module.GetResourceCount(); ++i) {
    TResourceDetails* r = module.GetResource(i);
    if (!SameText(r->ResourceType(), "14")) continue;
    auto icon = std::make_unique<TAdvancedIcon>();
    try {
      // This very group: a name may stand for one group in each language.
      LoadIconGroupResource(*icon, images, *r);
    } catch (const Exception&) {
      // A group that names a missing or bad image keeps the images before it.
    }
    into.AddIcon(r->Name(), std::move(icon));
  }
}

std::unique_ptr<TSubIcon> TICL16IconImage::CreateCopy() const {
  auto copy = std::make_unique<TICL16IconImage>();
  CopySubIconInto(*this, *copy);
  return copy;
}

std::unique_ptr<TSubIcon> TICL16CursorImage::CreateCopy() const {
  auto copy = std::make_unique<TICL16CursorImage>();
  CopySubIconInto(*this, *copy);
  return copy;
}

std::string ResourceIdText(const char* idOrName) {
  const TResourceId id = TResourceId::From(idOrName);
  return id.IsInteger ? std::to_string(id.Id) : id.Name;
}

// ---- the NE resource table -------------------------------------------------

TNEResourceFile::TNEResourceFile(const std::string& fileName)
    : FOwned(std::make_unique<TFileStream>(fileName, fmOpenRead | fmShareDenyWrite)),
      FFile(*FOwned),
      FBaseName(ChangeFileExt(ExtractFileName(fileName), "")) {
  FFileSize = FFile.Size();
  FBudget = FFileSize * 16 + (int64_t{1} << 20);
}

TNEResourceFile::TNEResourceFile(TStream& stream, std::string baseName)
    : FFile(stream), FBaseName(std::move(baseName)) {
  FFileSize = FFile.Size();
  FBudget = FFileSize * 16 + (int64_t{1} << 20);
}

std::vector<uint8_t> TNEResourceFile::ReadAt(int64_t offset, int64_t count) {
  if (offset < 0 || count < 0 || offset > FFileSize || count > FFileSize - offset)
    throw EICLReadError("Resource lies outside the file");
  FFile.SetPosition(offset);
  return FFile.ReadBytes(count);
}

uint16_t TNEResourceFile::Read16At(int64_t offset) {
  const std::vector<uint8_t> b = ReadAt(offset, 2);
  return ReadLE16(b.data());
}

void TNEResourceFile::ReadBlock(int64_t& at, uint16_t count, std::vector<TNEResourceEntry>& into) {
  if (int64_t{count} * 12 > FFileSize - at) throw EICLReadError(kTableError, kBlockPastEnd);
  const std::vector<uint8_t> b = ReadAt(at, int64_t{count} * 12);
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* e = b.data() + size_t{i} * 12;
    auto w = [e](int k) { return ReadLE16(e + k); };
    into.push_back({w(0), w(2), w(4), w(6)});
  }
  at += int64_t{count} * 12;
}

void TNEResourceFile::ReadTable(uint16_t imageType, uint16_t groupType, bool lowByteOnly) {
  FImages.clear();
  FGroups.clear();
  FNames.clear();
  if (FFileSize < 64 || Read16At(0) != 0x5A4D) throw EICLReadError(kNotICL);
  // The offset of the new header is a 32-bit field: reading only its low half
  // would take a far-away header for one near the start.
  const std::vector<uint8_t> lfanew = ReadAt(60, 4);
  FNEOffset = int64_t{ReadLE32(lfanew.data())};
  if (FNEOffset < 60) throw EICLReadError(kBadOffset);
  if (FNEOffset > FFileSize - 64) throw EICLReadError(kBadHeader, "the new header lies past the end");
  if (Read16At(FNEOffset) != 0x454E) throw EICLReadError(kBadHeader, "no NE signature");
  const uint16_t tableRel = Read16At(FNEOffset + 36), namesRel = Read16At(FNEOffset + 38);
  if (tableRel == 0) throw EICLReadError(kNoResources);
  if (namesRel == 0) throw EICLReadError(kNoNames);
  FResourceTable = FNEOffset + tableRel;
  FNameTable = FNEOffset + namesRel;

  try {
    FAlignShift = Read16At(FResourceTable);
  } catch (const EICLReadError&) {
    throw EICLReadError(kTableError, "the resource table lies past the end");
  }
  if (FAlignShift > kMaxAlignShift) throw EICLReadError(kTableError, "an alignment shift above 20");
  const auto matches = [lowByteOnly](uint16_t typeId, uint16_t wanted) {
    if (!(typeId & 0x8000)) return false;
    return lowByteOnly ? (typeId & 0xFF) == wanted : typeId == (0x8000 | wanted);
  };
  bool haveImages = false, haveGroups = false;
  int64_t at = FResourceTable + 2;
  try {
    // Each block moves on by at least 8 bytes and must lie in the file, so the
    // walk ends.
    while (at <= FFileSize - 2) {
      const uint16_t typeId = Read16At(at);
      if (typeId == 0) {
        at += 2;
        ReadNameStrings(at);
        break;
      }
      const uint16_t count = Read16At(at + 2);
      at += 8;
      if (matches(typeId, imageType)) {
        ReadBlock(at, count, FImages);
        haveImages = true;
      } else if (matches(typeId, groupType)) {
        ReadBlock(at, count, FGroups);
        haveGroups = true;
      } else {
        if (int64_t{count} * 12 > FFileSize - at) throw EICLReadError(kTableError, kBlockPastEnd);
        at += int64_t{count} * 12;
      }
    }
  } catch (const EICLReadError& e) {
    if (e.Message() == kTableError) throw;
    throw EICLReadError(kTableError, "the resource table runs past the end");
  }
  if (!haveImages || !haveGroups) throw EICLReadError(kTableError, "no images or no groups of the kind read");
}

void TNEResourceFile::ReadNameStrings(int64_t at) {
  // Strings are found by their offset from the table's start, a 16-bit value.
  while (at < FFileSize && at - FResourceTable <= 0xFFFF) {
    const uint16_t rel = static_cast<uint16_t>(at - FResourceTable);
    const std::vector<uint8_t> n = ReadAt(at, 1);
    if (n[0] == 0 || n[0] > FFileSize - at - 1) break;
    const std::vector<uint8_t> s = ReadAt(at + 1, n[0]);
    FNames.emplace_back(rel, std::string(s.begin(), s.end()));
    at += 1 + n[0];
  }
}

std::vector<uint8_t> TNEResourceFile::ResourceBytes(const TNEResourceEntry& entry) {
  const int64_t offset = int64_t{entry.Offset} << FAlignShift;
  int64_t length = int64_t{entry.Length} << FAlignShift;
  // The last resource's length is counted in whole alignment units and may
  // run past the end of the file by less than one unit.
  if (offset < FFileSize && length > FFileSize - offset && length - (FFileSize - offset) < (int64_t{1} << FAlignShift))
    length = FFileSize - offset;
  if (length > FBudget) throw EICLReadError("Resources exceed the file");
  FBudget -= length;
  return ReadAt(offset, length);
}

const TNEResourceEntry* TNEResourceFile::FindImage(uint16_t id) const {
  for (const TNEResourceEntry& e : FImages)
    if (e.Id == id) return &e;
  return nullptr;
}

std::string TNEResourceFile::GroupName(size_t index) const {
  // A group whose id is not an integer names itself: the id is the offset of
  // its name string from the table's start.
  const uint16_t id = FGroups[index].Id;
  if (!(id & 0x8000))
    for (const auto& [offset, text] : FNames)
      if (offset == id) return text;
  return GeneratedName(FBaseName, index);
}

// ---- 16-bit icons ------------------------------------------------------------

T16BitReader::T16BitReader(const std::string& fileName)
    : TICLReader(fileName), FFile(std::make_unique<TNEResourceFile>(fileName)) {}

std::unique_ptr<TICL16Icon> T16BitReader::ReadGroup(size_t index) {
  auto icon = std::make_unique<TICL16Icon>();
  icon->Name = GeneratedName(FFile->BaseName(), index);
  // A failing entry ends the group; the images read before it stay.
  try {
    const std::vector<uint8_t> bytes = FFile->ResourceBytes(FFile->Groups()[index]);
    TCustomMemoryStream group(bytes.data(), static_cast<int64_t>(bytes.size()));
    int count = 0;
    if (!icon->ReadDirectoryHeader(group, count)) return icon;
    for (int i = 0; i < count; ++i) {
      TIconGroupEntry entry;
      group.ReadBuffer(&entry, sizeof entry);
      const TNEResourceEntry* image = FFile->FindImage(entry.nID | 0x8000);
      if (!image) throw EICLReadError(kResourceNotFound);
      const std::vector<uint8_t> data = FFile->ResourceBytes(*image);
      TIconEntryHead head = entry.head;
      head.dwBytesInRes = static_cast<uint32_t>(data.size());
      TCustomMemoryStream bits(data.data(), static_cast<int64_t>(data.size()));
      icon->Images().Add(TSubIcon::CreateFromEntryAndStream<TICL16IconImage>(bits, head));
    }
  } catch (const Exception& e) {
    if (FLastRefusal.empty()) FLastRefusal = RefusalOf(e);
  }
  return icon;
}

bool T16BitReader::ReadLibrary() {
  FLastRefusal.clear();
  try {
    FResult.Clear();
    FFile->ReadTable(3, 14, true);
    for (size_t g = 0; g < FFile->Groups().size(); ++g) {
      auto icon = ReadGroup(g);
      icon->Name = FFile->GroupName(g);
      const std::string name = icon->Name;
      FResult.AddIcon(name, std::move(icon));
    }
    return true;
  } catch (const Exception& e) {
    FLastRefusal = RefusalOf(e);
    return false;
  }
}

bool T16BitReader::ReadNames() {
  FLastRefusal.clear();
  try {
    FResult.Clear();
    FFile->ReadTable(3, 14, true);
    for (size_t g = 0; g < FFile->Groups().size(); ++g) FResult.Add(FFile->GroupName(g));
    return true;
  } catch (const Exception& e) {
    FLastRefusal = RefusalOf(e);
    return false;
  }
}

// ---- 16-bit cursors ----------------------------------------------------------

T16BitReaderC::T16BitReaderC(const std::string& fileName)
    : TICLReaderC(fileName), FFile(std::make_unique<TNEResourceFile>(fileName)) {}

namespace {
#pragma pack(push, 1)
// A cursor group entry: the sizes are 16-bit words here.
struct TCursorGroupEntry {
  uint16_t wWidth;
  uint16_t wHeight;
  uint16_t wPlanes;
  uint16_t wBitCount;
  uint32_t dwBytesInRes;
  uint16_t nID;
};
#pragma pack(pop)
static_assert(sizeof(TCursorGroupEntry) == 14);
}  // namespace

std::unique_ptr<TICL16Cursor> T16BitReaderC::ReadGroup(size_t index) {
  auto cursor = std::make_unique<TICL16Cursor>();
  cursor->Name = GeneratedName(FFile->BaseName(), index);
  try {
    const std::vector<uint8_t> bytes = FFile->ResourceBytes(FFile->Groups()[index]);
    TCustomMemoryStream group(bytes.data(), static_cast<int64_t>(bytes.size()));
    TIconDirHeader header;
    if (!cursor->ReadCursorDirectoryHeader(group, header)) return cursor;
    for (int i = 0; i < header.idCount; ++i) {
      TCursorGroupEntry entry;
      group.ReadBuffer(&entry, sizeof entry);
      const TNEResourceEntry* image = FFile->FindImage(entry.nID | 0x8000);
      if (!image) throw EICLReadError(kResourceNotFound);
      const std::vector<uint8_t> data = FFile->ResourceBytes(*image);
      // The resource is the hotspot and then the bits the entry counts.
      if (entry.dwBytesInRes < 4 || data.size() < 4 || entry.dwBytesInRes - 4 > data.size() - 4)
        throw EICLReadError(kResourceNotFound);
      TIconEntryHead head;
      std::memcpy(static_cast<void*>(&head), &entry, sizeof head);
      head.dwBytesInRes = entry.dwBytesInRes - 4;
      TCustomMemoryStream bits(data.data() + 4, head.dwBytesInRes);
      auto image16 = TSubIcon::CreateFromEntryAndStream<TICL16CursorImage>(bits, head);
      image16->SetHotspot(ReadLEI16(data.data()), ReadLEI16(data.data() + 2));
      cursor->Images().Add(std::move(image16));
    }
  } catch (const Exception& e) {
    if (FLastRefusal.empty()) FLastRefusal = RefusalOf(e);
  }
  return cursor;
}

bool T16BitReaderC::ReadLibrary() {
  FLastRefusal.clear();
  try {
    FResult.Clear();
    FFile->ReadTable(1, 12, false);
    for (size_t g = 0; g < FFile->Groups().size(); ++g) {
      auto cursor = ReadGroup(g);
      if (cursor->Count() == 0) continue;  // a cursor of no images is no cursor
      cursor->Name = FFile->GroupName(g);
      const std::string name = cursor->Name;
      FResult.AddIcon(name, std::move(cursor));
    }
    return true;
  } catch (const Exception& e) {
    FLastRefusal = RefusalOf(e);
    return false;
  }
}

// ---- 32-bit files --------------------------------------------------------------

T32BitReader::~T32BitReader() {
  if (FModule) FreeLibrary(FModule);
}

bool T32BitReader::ReadLibrary() {
  FResult.Clear();
  TPEResourceModule module;
  try {
    module.LoadFromFile(FFileName);
  } catch (const Exception&) {
    // What was read before the fault is still worth listing.
    if (module.GetResourceCount() == 0) return false;
  }
  ReadPEIconGroups(module, FResult);
  // Icon libraries made as DLLs keep their icons' names in a list of their own:
  // "ICL" and then one name per group.
  for (int i = 0; i < module.GetResourceCount(); ++i) {
    TResourceDetails* r = module.GetResource(i);
    if (r->ResourceType() != "301") continue;
    const std::vector<std::string> names = LengthPrefixedStrings(r->Data());
    bool numbered = true;
    for (int k = 0; k < FResult.Count(); ++k) numbered = numbered && AllDigits(FResult.Strings(k));
    if (numbered && names.size() == size_t(FResult.Count()) + 1 && names[0] == "ICL")
      for (int k = 0; k < FResult.Count(); ++k) FResult.SetStrings(k, names[size_t(k) + 1]);
    break;
  }
  return true;
}

namespace {

BOOL AddIconGroup(HMODULE module, const char*, char* name, LONG_PTR param) {
  auto* result = reinterpret_cast<TIconList*>(param);
  auto icon = std::make_unique<TAdvancedIcon>();
  try {
    icon->LoadFromModuleResource(module, TResourceId::From(name));
  } catch (const Exception&) {
    // A group that names a missing image keeps the images before it.
  }
  result->AddIcon(ResourceIdText(name), std::move(icon));
  return TRUE;
}

BOOL AddCursorGroup(HMODULE module, const char*, char* name, LONG_PTR param) {
  auto* result = reinterpret_cast<TIconList*>(param);
  auto cursor = std::make_unique<TAdvancedCursor>();
  try {
    cursor->LoadCursorFromModuleResource(module, TResourceId::From(name));
  } catch (const Exception&) {
  }
  if (cursor->Count() > 0) result->AddIcon(ResourceIdText(name), std::move(cursor));
  return TRUE;
}

}  // namespace

bool T32BitReader::ReadNames() {
  FResult.Clear();
  if (FModule) FreeLibrary(FModule);  // a second reading loads the file anew
  FModule = LoadLibraryExA(FFileName.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!FModule) return false;
  EnumResourceNamesA(FModule, RT_GROUP_ICON, &AddIconGroup, reinterpret_cast<LONG_PTR>(&FResult));
  return true;
}

T32BitReaderC::~T32BitReaderC() {
  if (FModule) FreeLibrary(FModule);
}

bool T32BitReaderC::ReadLibrary() {
  FResult.Clear();
  if (FModule) FreeLibrary(FModule);
  FModule = LoadLibraryExA(FFileName.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!FModule) return false;
  EnumResourceNamesA(FModule, RT_GROUP_CURSOR, &AddCursorGroup, reinterpret_cast<LONG_PTR>(&FResult));
  return true;
}
