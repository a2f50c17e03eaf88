#include "icons/res_module.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "base/toolbox/bitmap_utils.h"
#include "icons/icon_library.h"
#include "icons/icon_resources.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/utf16_text.h"
#include "platform/rtl/byte_order.h"

namespace {

uint64_t Align4(uint64_t x) { return (x + 3) & ~uint64_t{3}; }

// The 32 bytes every RES file begins with: an entry of no data, type and name 0.
constexpr uint8_t kEmptyEntry[32] = {0, 0, 0, 0, 32, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0,
                                     0, 0, 0, 0, 0,  0, 0, 0, 0,    0,    0, 0, 0,    0,    0, 0};

[[noreturn]] void BadEntry(const char* reason) { throw EResEntryRefused(reason); }

// A type or name of an entry header: an ordinal (0xFFFF and a 16-bit value) or
// a zero-terminated UTF-16 text, read without passing end.
std::string ReadResourceNameOrId(const uint8_t* data, uint64_t& at, uint64_t end) {
  if (at + 2 > end) BadEntry("a type or name runs past its header");
  if (ReadLE16(data + at) == 0xFFFF) {
    if (at + 4 > end) BadEntry("a type or name runs past its header");
    const uint16_t id = ReadLE16(data + at + 2);
    at += 4;
    return std::to_string(id);
  }
  const uint64_t start = at;
  while (true) {
    if (at + 2 > end) BadEntry("a type or name runs past its header");
    if (ReadLE16(data + at) == 0) break;
    at += 2;
  }
  const std::string text = Utf16LEToUtf8(data + start, static_cast<size_t>(at - start));
  at += 2;
  return text;
}

void WriteNameOrId(std::vector<uint8_t>& header, const std::string& text) {
  // Numbers past 16 bits cannot be ordinals: they stay names.
  const int64_t v = ResourceNameToNumber(text);
  if (v >= 0 && v <= 0xFFFF) {
    AppendLE16(header, 0xFFFF);
    AppendLE16(header, static_cast<uint16_t>(v));
    return;
  }
  const std::vector<uint8_t> u = Utf8ToUtf16LE(text);
  header.insert(header.end(), u.begin(), u.end());
  AppendLE16(header, 0);
}

}  // namespace

// ---- the RES module -------------------------------------------------------------

void TResModule::LoadFromStream(TStream& stream) {
  ClearResources();
  const std::vector<uint8_t> bytes = stream.ReadBytes(stream.Size() - stream.Position());
  const uint8_t* data = bytes.data();
  const uint64_t size = bytes.size();
  FNoLeadingEntry = true;
  uint64_t at = 0;
  while (size - at > 8) {
    const uint32_t dataSize = ReadLE32(data + at), headerSize = ReadLE32(data + at + 4);
    // The smallest header: the sizes, two ordinals and the 16 bytes of fields.
    if (headerSize < 32) BadEntry("a header shorter than 32 bytes");
    if (headerSize > size - at) BadEntry("a header runs past the end");
    if (dataSize > size - at - headerSize) BadEntry("the data runs past the end");
    const uint64_t headerEnd = at + headerSize;
    uint64_t p = at + 8;
    const std::string type = ReadResourceNameOrId(data, p, headerEnd);
    const std::string name = ReadResourceNameOrId(data, p, headerEnd);
    p = Align4(p);
    if (p + 16 > headerEnd) BadEntry("the fields run past their header");
    const uint32_t dataVersion = ReadLE32(data + p);
    const uint16_t memoryFlags = ReadLE16(data + p + 4);
    const uint16_t language = ReadLE16(data + p + 6);
    const uint32_t version = ReadLE32(data + p + 8);
    const uint32_t characteristics = ReadLE32(data + p + 12);
    if (dataSize == 0 && name == "0") {
      FNoLeadingEntry = false;
    } else {
      auto r = CreateResourceDetailsByType(this, language, name, type, dataSize, data + headerEnd);
      r->SetCharacteristics(characteristics);
      r->SetVersion(version);
      r->SetMemoryFlags(memoryFlags);
      r->SetDataVersion(dataVersion);
      AddResource(std::move(r));
    }
    // headerSize is at least 32, so the walk always moves on.
    at = std::min<uint64_t>(size, Align4(uint64_t{dataSize} + headerSize + at));
  }
}

void TResModule::SaveToStream(TStream& stream) {
  if (!FNoLeadingEntry) stream.WriteBuffer(kEmptyEntry, sizeof kEmptyEntry);
  static const uint8_t zeros[4] = {};
  for (int i = 0; i < GetResourceCount(); ++i) {
    TResourceDetails* r = GetResource(i);
    std::vector<uint8_t> header;
    WriteNameOrId(header, r->ResourceType());
    WriteNameOrId(header, r->Name());
    while ((header.size() + 8) % 4) header.push_back(0);
    AppendLE32(header, r->DataVersion());
    AppendLE16(header, r->MemoryFlags());
    AppendLE16(header, static_cast<uint16_t>(r->Language()));
    AppendLE32(header, r->Version());
    AppendLE32(header, r->Characteristics());
    const int64_t dataSize = r->Data().Size();
    if (dataSize > 0xFFFFFFFFLL) throw Exception("Resource too large for a RES file");
    stream.WriteValue<uint32_t>(static_cast<uint32_t>(dataSize));
    stream.WriteValue<uint32_t>(static_cast<uint32_t>(header.size() + 8));
    stream.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
    if (dataSize) stream.WriteBuffer(r->Data().Memory(), dataSize);
    if (dataSize % 4) stream.WriteBuffer(zeros, 4 - dataSize % 4);
  }
  ClearModified();
}

// ---- import -----------------------------------------------------------------------

namespace {

struct TGroupKinds {
  const char* group;  // "14" or "12"
  const char* image;  // "3" or "1"
  bool cursor;
};
constexpr TGroupKinds kIconGroups{"14", "3", false};
constexpr TGroupKinds kCursorGroups{"12", "1", true};

// The image ids a group directory names.
std::vector<uint16_t> GroupIds(TResourceDetails& group) {
  std::vector<uint16_t> ids;
  TMemoryStream& d = group.Data();
  if (d.Size() < 6 || ReadLE16(d.Memory()) != 0) return ids;
  const uint64_t count = std::min<uint64_t>(ReadLE16(d.Memory() + 4), (uint64_t(d.Size()) - 6) / 14);
  for (uint64_t i = 0; i < count; ++i) ids.push_back(ReadLE16(d.Memory() + 6 + 14 * i + 12));
  return ids;
}

std::unique_ptr<TSubIcon> ImageFromResource(TResourceDetails& r, bool cursor) {
  std::unique_ptr<TSubIcon> image;
  if (cursor)
    image = std::make_unique<TResourceCursorImage>();
  else
    image = std::make_unique<TResourceIconImage>();
  image->LoadFromResourceData(r.Data(), cursor);
  return image;
}

// The images of a group, taken by the ids its directory names (an image the
// module lacks or that does not parse is left out).
void AddGroupImages(const TResourceIndex& images, TResourceDetails& group, const TGroupKinds& kinds,
                    TAdvancedIcon& icon) {
  for (uint16_t id : GroupIds(group)) {
    const auto found = images.find(std::to_string(id));
    if (found == images.end()) continue;
    TResourceDetails* r = found->second;
    try {
      icon.Images().Add(ImageFromResource(*r, kinds.cursor));
    } catch (const Exception&) {
    }
  }
}

// Walks the module in file order: each group becomes an entry under its name
// with the images it names; images no group names, in runs between groups and
// bitmaps, become entries of their own; bitmaps (when asked for) one-image
// icons under their names.
int ImportModule(const TResModule& module, const std::vector<TGroupKinds>& kinds, bool bitmaps, bool asCursors,
                 TIconList& list) {
  auto newIcon = [asCursors]() -> std::unique_ptr<TAdvancedIcon> {
    if (asCursors) return std::make_unique<TAdvancedCursor>();
    return std::make_unique<TAdvancedIcon>();
  };
  std::set<std::pair<std::string, std::string>> claimed;
  for (int i = 0; i < module.GetResourceCount(); ++i) {
    TResourceDetails* r = module.GetResource(i);
    for (const TGroupKinds& k : kinds)
      if (r->ResourceType() == k.group)
        for (uint16_t id : GroupIds(*r)) claimed.insert({k.image, std::to_string(id)});
  }
  // The images of each kind by name, looked up once for all groups.
  std::vector<TResourceIndex> images;
  for (const TGroupKinds& k : kinds) images.push_back(IndexResourcesOfType(module, k.image));
  const int before = list.Count();
  std::unique_ptr<TAdvancedIcon> pending;
  auto finishPending = [&]() {
    if (pending && pending->Count() > 0) list.AddIcon("", std::move(pending));
    pending.reset();
  };
  for (int i = 0; i < module.GetResourceCount(); ++i) {
    TResourceDetails* r = module.GetResource(i);
    const std::string& type = r->ResourceType();
    try {
      for (size_t kind = 0; kind < kinds.size(); ++kind) {
        const TGroupKinds& k = kinds[kind];
        if (type == k.image && !claimed.count({type, r->Name()})) {
          auto image = ImageFromResource(*r, k.cursor);
          if (!pending) pending = newIcon();
          pending->Images().Add(std::move(image));
        } else if (type == k.group) {
          finishPending();
          auto icon = newIcon();
          AddGroupImages(images[kind], *r, k, *icon);
          if (icon->Count() > 0) list.AddIcon(r->Name(), std::move(icon));
        }
      }
      if (bitmaps && type == "2") {
        finishPending();
        auto icon = newIcon();
        TMemoryStream& d = r->Data();
        d.SetPosition(0);
        icon->Images().AddDIB(d, nullptr, 0, d.Size());
        list.AddIcon(r->Name(), std::move(icon));
      }
    } catch (const Exception&) {
      // A resource that does not read is skipped.
    }
  }
  finishPending();
  return list.Count() - before;
}

bool HasEmptyEntry(TStream& file) {
  uint8_t head[32];
  file.SetPosition(0);
  if (file.Read(head, 32) != 32) return false;
  return std::memcmp(head, kEmptyEntry, 32) == 0;
}

// Reads what it can: entries before a damaged one still import.
void ReadModule(TStream& stream, TResModule& module) {
  try {
    module.LoadFromStream(stream);
  } catch (const Exception&) {
  }
}

// When the module reader finds nothing, DIB entries are taken by hand, each
// under the name in its header.
void ScanResEntries(TStream& file, TIconLibrary& library) {
  const int64_t size = file.Size();
  int64_t at = 32;
  while (at + 8 <= size) {
    file.SetPosition(at);
    const uint32_t dataSize = file.ReadValue<uint32_t>(), headerSize = file.ReadValue<uint32_t>();
    if (dataSize < 100 || dataSize > 36000000 || headerSize < 16 || headerSize > 1024) break;
    const int64_t dataAt = at + headerSize;
    if (dataAt + int64_t{dataSize} > size) break;
    std::vector<uint8_t> header = file.ReadBytes(headerSize - 8);
    // The type, then the name; a name that is an ordinal is its number.
    uint64_t p = ReadLE16(header.data()) == 0xFFFF ? 4 : 0;
    if (p == 0)
      while (p + 2 <= header.size() && ReadLE16(header.data() + p) != 0) p += 2;
    std::string name;
    if (p + 4 <= header.size() && ReadLE16(header.data() + p) == 0xFFFF) {
      name = std::to_string(ReadLE16(header.data() + p + 2));
    } else {
      for (; p + 2 <= header.size() && header[p] != 0; p += 2) name += static_cast<char>(header[p]);
    }
    file.SetPosition(dataAt);
    if (file.ReadValue<uint32_t>() == 40) {
      try {
        file.SetPosition(dataAt);
        auto icon = std::make_unique<TAdvancedIcon>();
        icon->Images().AddDIB(file, nullptr, 0, dataSize);
        library.Icons().AddIcon(name, std::move(icon));
      } catch (const Exception&) {
      }
    }
    at = static_cast<int64_t>(Align4(uint64_t(dataAt) + dataSize));
  }
}

}  // namespace

bool ImportResStreamIcons(TStream& stream, TIconLibrary& library) {
  TResModule module;
  ReadModule(stream, module);
  return ImportModule(module, {kIconGroups, kCursorGroups}, true, false, library.Icons()) > 0;
}

bool ImportResStreamCursors(TStream& stream, TCursorLibrary& library) {
  TResModule module;
  ReadModule(stream, module);
  return ImportModule(module, {kCursorGroups}, false, true, library.Cursors()) > 0;
}

void ImportResIcons(const std::string& fileName, TIconLibrary& library) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
  if (file.Size() < 76) return;
  if (HasEmptyEntry(file)) {
    file.SetPosition(0);
    bool added = false;
    try {
      added = ImportResStreamIcons(file, library);
    } catch (const Exception&) {
    }
    if (!added) ScanResEntries(file, library);
    return;
  }
  uint8_t marker[3] = {};
  file.SetPosition(0);
  file.ReadBuffer(marker, 3);
  if (marker[0] == 0xFF && marker[1] == 0x02 && marker[2] == 0x00) {
    file.SetPosition(0);
    TMemoryStream res;
    ConvertDcrToRes(file, res);
    ImportDcrBitmapIcon(res, library);
  }
}

void ImportResCursors(const std::string& fileName, TCursorLibrary& library) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
  if (file.Size() < 76 || !HasEmptyEntry(file)) return;
  file.SetPosition(0);
  try {
    ImportResStreamCursors(file, library);
  } catch (const Exception&) {
  }
}

// ---- DCR ----------------------------------------------------------------------------

namespace {

// A DCR bitmap larger than this is no component palette image.
constexpr uint64_t kMaxDcrImage = 64u << 20;

}  // namespace

void ConvertDcrToRes(TStream& file, TMemoryStream& out) {
  out.Clear();
  file.SetPosition(0);
  std::vector<uint8_t> head(103, 0);
  const int64_t got = file.Read(head.data(), 103);
  if (got < 4 || head[0] != 0xFF || head[1] != 2 || head[2] != 0) throw Exception("Header bad: is this a DCR?");
  const auto terminator = std::find(head.begin() + 3, head.begin() + got, uint8_t{0});
  const size_t nameLength = static_cast<size_t>(terminator - (head.begin() + 3));
  if (terminator == head.begin() + got || nameLength < 1 || nameLength > 64)
    throw Exception("DCR name is unrecoverable");
  out.WriteBuffer(head.data(), static_cast<int64_t>(nameLength + 4));

  file.SetPosition(static_cast<int64_t>(nameLength + 4));
  uint8_t sizes[6];
  file.ReadBuffer(sizes, 6);
  out.WriteBuffer(sizes, 6);

  uint8_t bih[40];
  file.ReadBuffer(bih, 40);
  const uint32_t biSize = ReadLE32(bih);
  if (biSize != 40) throw Exception("Bad TBITMAPINFOHEADER biSize: " + std::to_string(biSize));
  const int32_t width = static_cast<int32_t>(ReadLE32(bih + 4)), height = static_cast<int32_t>(ReadLE32(bih + 8));
  const uint16_t planes = ReadLE16(bih + 12), bits = ReadLE16(bih + 14);
  const uint32_t compression = ReadLE32(bih + 16);
  if (planes != 1) throw Exception("Bad biPlanes");
  if (bits != 1 && bits != 4 && bits != 8) throw Exception("Bad biBitCount");
  if (compression == 1 && bits != 8) throw Exception("RLE8 mismatch");
  if (compression == 2 && bits != 4) throw Exception("RLE4 mismatch");
  if (compression != 0 && compression != 1 && compression != 2 && compression != 3)
    throw Exception("Bad biCompression");
  out.WriteBuffer(bih, 40);

  const uint32_t used = ReadLE32(bih + 32);
  const uint64_t colours = used != 0 && used < (1u << bits) ? used : (1u << bits);
  const bool compressed = compression == 1 || compression == 2;
  const uint64_t present = uint64_t(std::max<int64_t>(0, file.Size() - file.Position()));
  const uint64_t table = colours * 4;
  // Rows of plain bitmaps say how much data there is, whatever the image size
  // field claims; compressed data can be no longer than what the file holds.
  uint64_t imageSize = ReadLE32(bih + 20);
  if (!compressed)
    imageSize = width > 0 && height != 0 ? uint64_t(DwordRowSize(width, bits)) * uint64_t(std::abs(int64_t{height})) : 0;
  else if (imageSize == 0 || imageSize > present - std::min(present, table))
    imageSize = present - std::min(present, table);
  if (imageSize > kMaxDcrImage) throw Exception("DCR bitmap is too large");
  const uint64_t want = table + imageSize;
  const uint64_t have = std::min<uint64_t>(want, present);
  // A file that ends a little early is made up with zeros; one that holds less
  // than half of what it claims is no bitmap, and must not become a large one.
  if (want - have > have) throw Exception("DCR bitmap is cut short");
  std::vector<uint8_t> rest = file.ReadBytes(static_cast<int64_t>(have));
  rest.resize(want, 0);
  out.WriteBuffer(rest.data(), static_cast<int64_t>(rest.size()));
  out.SetPosition(0);
}

void ImportDcrBitmapIcon(TMemoryStream& stream, TIconLibrary& library) {
  std::string name;
  int64_t at = 3;
  while (at < stream.Size() && stream.Memory()[at] != 0 && name.size() < 100)
    name += static_cast<char>(stream.Memory()[at++]);
  stream.SetPosition(at + 1);
  stream.ReadValue<uint16_t>();  // memory flags
  const uint32_t dataSize = stream.ReadValue<uint32_t>();
  auto icon = std::make_unique<TAdvancedIcon>();
  // The converted bitmap holds at least what its header counts, also when
  // the DCR's own size field says less.
  icon->Images().AddDIB(stream, nullptr, 0, std::max<int64_t>(dataSize, stream.Size() - stream.Position()));
  library.Icons().AddIcon(name, std::move(icon));
}
