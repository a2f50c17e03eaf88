#include "icons/icon_resources.h"

#include <algorithm>
#include <cstring>

#include "base/rus_clipboard.h"
#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/shadows_metafile.h"
#include "icons/advanced_icon.h"
#include "icons/resource_model.h"
#include "pictures/png/png_image.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/filer.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "platform/win/resources.h"

UINT IconClipboardFormat() {
  static const UINT format = RegisterClipboardFormat(kIconClipboardFormatName);
  return format;
}

namespace {

// The format is known from start-up on, as other programs expect of a
// registered format.
[[maybe_unused]] const UINT gRegisteredAtStartUp = IconClipboardFormat();

constexpr uint8_t kRecordMarker = 12;
constexpr uint8_t kAlphaThreshold = 80;

// The pointer form a Windows resource call takes for a type or name.
const char* ResourcePointer(const TResourceId& id) {
  return id.IsInteger ? MAKEINTRESOURCE(id.Id) : id.Name.c_str();
}

// The bytes of a group resource of a loaded module; the framework's
// resource-not-found error when the module has no such group.
std::pair<const void*, DWORD> GroupBytes(HMODULE module, const TResourceId& name, const char* type) {
  HRSRC found = FindResource(module, ResourcePointer(name), type);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) throw EResNotFound("Resource " + (name.IsInteger ? std::to_string(name.Id) : name.Name) + " not found");
  return {data, SizeofResource(module, found)};
}

// Reads the group header; the number of entries is what the header says, but
// never more than the group's bytes hold.
bool ReadGroupHeader(TAdvancedIcon& icon, TStream& group, int& count) {
  if (group.Remaining() < static_cast<int64_t>(sizeof(TIconDirHeader))) return false;
  if (!icon.ReadDirectoryHeader(group, count)) return false;
  count = static_cast<int>(std::min<int64_t>(count, group.Remaining() / sizeof(TIconGroupEntry)));
  return true;
}

// Opens the shared clipboard for one read and closes it whatever happens.
struct TClipboardSession {
  TClipboardSession() { SharedClipboard().OpenWithRetries(5); }
  ~TClipboardSession() { SharedClipboard().Close(); }
  TClipboardSession(const TClipboardSession&) = delete;
  TClipboardSession& operator=(const TClipboardSession&) = delete;
};

struct TGlobalLock {
  explicit TGlobalLock(HGLOBAL block) : Block(block), Data(block ? GlobalLock(block) : nullptr) {}
  ~TGlobalLock() {
    if (Data) GlobalUnlock(Block);
  }
  TGlobalLock(const TGlobalLock&) = delete;
  TGlobalLock& operator=(const TGlobalLock&) = delete;
  HGLOBAL Block;
  void* Data;
};

// The colour picture and, from PNG data, its mask: the first of PNG data and a
// bitmap that the clipboard holds and that loads. False when none does.
bool ClipboardPicture(TBitmap& bitmap, TBitmap& mask, bool& haveMask) {
  haveMask = false;
  try {
    TPNGImage png;
    if (FindClipboardPNGFormat() != 0 && LoadPNGFromClipboard(png)) {
      png.ExtractBitmapAndMask(&bitmap, &mask, kAlphaThreshold);
      if (bitmap.GetWidth() > 0) {
        haveMask = true;
        return true;
      }
    }
  } catch (const Exception&) {
  }
  try {
    if (IsClipboardFormatAvailable(CF_BITMAP)) {
      bitmap.Assign(&SharedClipboard());
      if (bitmap.GetWidth() > 0) {
        // What was drawn with GDI carries alpha 0 everywhere; read as alpha it
        // would paste a wholly transparent icon, so such a picture is opaque.
        FixZeroAlpha(&bitmap);
        return true;
      }
    }
  } catch (const Exception&) {
  }
  try {
    if (IsClipboardFormatAvailable(CF_ENHMETAFILE)) {
      // The clipboard keeps its handle: we draw from a copy, at the picture's own size.
      TMetafile metafile;
      {
        TClipboardSession session;
        auto handle = static_cast<HENHMETAFILE>(GetClipboardData(CF_ENHMETAFILE));
        if (handle) metafile.SetHandle(CopyEnhMetaFile(handle, nullptr));
      }
      if (!metafile.Empty()) {
        MetafileToBitmap32(&metafile, &bitmap, 0, 0);
        if (bitmap.GetWidth() > 0) return true;
      }
    }
  } catch (const Exception&) {
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------- module resources

namespace {

// Appends one image per entry of a group of a loaded module, each read by
// makeImage from the group's bytes.
template <class MakeImage>
bool LoadModuleGroup(TAdvancedIcon& icon, HMODULE module, const TResourceId& name, const char* type,
                     MakeImage makeImage) {
  const auto [data, size] = GroupBytes(module, name, type);
  TCustomMemoryStream group(data, size);
  int count = 0;
  if (!ReadGroupHeader(icon, group, count)) return false;
  for (int i = 0; i < count; ++i) icon.Images().Add(makeImage(group));
  return true;
}

}  // namespace

bool TAdvancedIcon::LoadFromModuleResource(HMODULE module, const TResourceId& name) {
  return LoadModuleGroup(*this, module, name, RT_GROUP_ICON, [module](TStream& group) {
    return TSubIcon::CreateFromModuleResource<TResourceIconImage>(group, module);
  });
}

bool TAdvancedIcon::LoadFromModuleResource(HMODULE module, const char* name) {
  return LoadFromModuleResource(module, TResourceId::From(name));
}

bool TAdvancedIcon::LoadCursorFromModuleResource(HMODULE module, const TResourceId& name) {
  return LoadModuleGroup(*this, module, name, RT_GROUP_CURSOR, [module](TStream& group) {
    return TSubIcon::CreateFromCursorResource<TResourceCursorImage>(group, module);
  });
}

bool TAdvancedIcon::LoadCursorFromModuleResource(HMODULE module, const char* name) {
  return LoadCursorFromModuleResource(module, TResourceId::From(name));
}

bool TAdvancedIcon::LoadFromPEResource(const TResourceModule& module, const std::string& name) {
  TResourceDetails* resource = module.FindByTypeAndName("14", name);
  return resource && LoadIconGroupResource(*this, IndexResourcesOfType(module, "3"), *resource);
}

TResourceIndex IndexResourcesOfType(const TResourceModule& module, const std::string& type) {
  TResourceIndex index;
  for (int i = 0; i < module.GetResourceCount(); ++i) {
    TResourceDetails* r = module.GetResource(i);
    if (r->ResourceType() == type) index.emplace(r->Name(), r);  // the first of a name stays
  }
  return index;
}

bool LoadIconGroupResource(TAdvancedIcon& icon, const TResourceIndex& images, TResourceDetails& resource) {
  // A view of the bytes, so that the resource's own stream keeps its position.
  TCustomMemoryStream group(resource.Data().Memory(), resource.Data().Size());
  int count = 0;
  if (!ReadGroupHeader(icon, group, count)) return false;
  for (int i = 0; i < count; ++i) {
    TIconGroupEntry entry;
    group.ReadBuffer(&entry, sizeof entry);
    const auto found = images.find(std::to_string(entry.nID));
    if (found == images.end()) continue;  // an image the module lacks
    TMemoryStream& data = found->second->Data();
    if (data.Size() > 0xFFFFFFFFLL) throw Exception(kInvalidImage);
    TCustomMemoryStream bits(data.Memory(), data.Size());
    TIconEntryHead head = entry.head;
    head.dwBytesInRes = static_cast<uint32_t>(data.Size());
    icon.Images().Add(TSubIcon::CreateFromEntryAndStream<TResourceIconImage>(bits, head));
  }
  return true;
}

// ---------------------------------------------------------------- clipboard

bool TAdvancedIcon::PasteIconFormat() {
  const UINT format = IconClipboardFormat();
  if (!IsClipboardFormatAvailable(format)) return false;
  TMemoryStream stream;
  {
    TClipboardSession session;
    TGlobalLock block(GetClipboardData(format));
    if (!block.Data) return false;
    stream.WriteBuffer(block.Data, static_cast<int64_t>(GlobalSize(block.Block)));
  }
  stream.SetPosition(0);
  // Read aside first: data that is no icon leaves this one as it was.
  std::unique_ptr<TAdvancedIcon> pasted = Create();
  if (!pasted->LoadFromStream(stream)) return false;
  Clear();
  Images().TakeAllImages(pasted.get());
  return true;
}

void TAdvancedIcon::PasteFromClipboard() {
  try {
    if (PasteIconFormat()) return;
  } catch (const Exception&) {
    // Icon data that does not load: the next format is tried.
  }
  TBitmap bitmap, mask;
  bool haveMask = false;
  if (!ClipboardPicture(bitmap, mask, haveMask)) return;
  std::unique_ptr<TAdvancedIcon> pasted = Create();
  pasted->Images().AddBitmap(&bitmap, haveMask ? &mask : nullptr, 0);
  Clear();
  Images().TakeAllImages(pasted.get());
}

// ---------------------------------------------------------------- component streams

void TSubIcon::WriteToFiler(TWriter& writer) const {
  const uint8_t marker = FBits.empty() ? 0 : kRecordMarker;
  writer.Write(&marker, 1);
  if (!marker) return;
  writer.Write(&FHead, sizeof FHead);
  writer.Write(&FHotspotX, sizeof FHotspotX);
  writer.Write(&FHotspotY, sizeof FHotspotY);
  writer.Write(FBits.data(), static_cast<int64_t>(FBits.size()));
}

void TSubIcon::ReadFromFiler(TReader& reader) {
  ClearBits();
  try {
    uint8_t marker = 0;
    reader.Read(&marker, 1);
    if (marker == 0) return;
    TIconEntryHead head;
    reader.Read(&head, sizeof head);
    int16_t hotspot[2];
    reader.Read(hotspot, sizeof hotspot);
    // A length the stream cannot fill is refused before memory is taken for it.
    if (static_cast<int64_t>(head.dwBytesInRes) > reader.Stream()->Remaining())
      throw EReadError("Stream read error");
    std::vector<uint8_t> bits(head.dwBytesInRes);
    reader.Read(bits.data(), static_cast<int64_t>(bits.size()));
    FHead = head;
    FHotspotX = hotspot[0];
    FHotspotY = hotspot[1];
    FBits = std::move(bits);
    FStoreAsPNG = HasPNGBits();
  } catch (const Exception&) {
    ClearBits();
  }
}

void TAdvancedIcon::WriteToFiler(TWriter& writer) const {
  writer.WriteInteger(static_cast<int32_t>(Count()));
  for (int i = 0; i < Count(); ++i) Images().GetItem(i)->WriteToFiler(writer);
}

void TAdvancedIcon::ReadFromFiler(TReader& reader) {
  Clear();
  const int32_t count = reader.ReadInteger();
  // Every record takes at least its marker byte, so the stream bounds the count.
  if (count < 0 || count > TSubIconList::kMaxImages || count > reader.Stream()->Remaining())
    throw EReadError("Invalid property value");
  Images().SetCapacity(count);
  for (int32_t i = 0; i < count; ++i) {
    auto image = std::make_unique<TSubIcon>();
    image->ReadFromFiler(reader);
    Images().Add(std::move(image));
  }
}
