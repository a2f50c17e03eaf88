#include "icons/sub_icon.h"

#include <algorithm>
#include <cstring>

#include "icons/resource_model.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/dib_header.h"
#include "platform/graphics/dib_types.h"
#include "platform/graphics/png_header.h"
#include "platform/win/resources.h"

namespace {

constexpr UINT kLR_COLOR = 0x0002;  // documented value; the drawing layer does not name it

[[noreturn]] void InvalidImage(const char* reason) { throw EIconImageRefused(reason); }

// The bytes the stream holds from its position on.
int64_t Available(TStream& stream) {
  const int64_t left = stream.Size() - stream.Position();
  return left < 0 ? 0 : left;
}

template <class T> T ReadRecord(TStream& stream) {
  T value{};
  stream.ReadBuffer(&value, sizeof(T));
  return value;
}

template <class T> std::unique_ptr<TSubIcon> CopyAs(const TSubIcon& source) {
  auto copy = std::make_unique<T>();
  CopySubIconInto(source, *copy);
  return copy;
}

}  // namespace

TSubIcon::~TSubIcon() { ReleaseHandle(); }

void TSubIcon::ResetState() {
  ReleaseHandle();
  FBitsPerPixel = 0;
  FHead = TIconEntryHead{};
  FBits.clear();
  FHotspotX = FHotspotY = 0;
  FStoreAsPNG = false;
}

void TSubIcon::SetBits(std::vector<uint8_t> bits) {
  ReleaseHandle();
  FBits = std::move(bits);
  FHead.dwBytesInRes = static_cast<uint32_t>(FBits.size());
  FBitsPerPixel = 0;
}

void TSubIcon::ClearBits() {
  ReleaseHandle();
  FBits.clear();
  FHead.dwBytesInRes = 0;
  FBitsPerPixel = 0;
}

void TSubIcon::ReadBitsFrom(TStream& stream, uint32_t count) {
  // A size the stream cannot fill is refused before any memory is taken for it.
  if (static_cast<int64_t>(count) > Available(stream)) InvalidImage("the image runs past the end");
  FBits.resize(count);
  if (count) stream.ReadBuffer(FBits.data(), count);
  FHead.dwBytesInRes = count;
}

void TSubIcon::LoadBitsStream(TStream& stream) {
  ResetState();
  const int64_t left = Available(stream);
  if (left > 0xFFFFFFFFLL) InvalidImage("an image of 4 GB or more");
  ReadBitsFrom(stream, static_cast<uint32_t>(left));
  ParseBits();
}

void TSubIcon::ReadEntryBits(TStream& stream, int64_t at, uint32_t count, int64_t after) {
  // The stream stands behind the entry afterwards, also when the image fails.
  try {
    if (at < 0 || at > stream.Size()) InvalidImage("the image lies outside the stream");
    stream.SetPosition(at);
    ReadBitsFrom(stream, count);
  } catch (...) {
    stream.SetPosition(after);
    throw;
  }
  stream.SetPosition(after);
  ParseBits();
}

void TSubIcon::LoadDirEntry(TStream& stream, int64_t base) {
  ResetState();
  const auto entry = ReadRecord<TIconDirEntry>(stream);
  const int64_t after = stream.Position();
  FHead = entry.head;
  FHead.dwBytesInRes = 0;
  ReadEntryBits(stream, base + entry.dwImageOffset, entry.head.dwBytesInRes, after);
}

void TSubIcon::LoadEntryAndStream(TStream& stream, const TIconEntryHead& head) {
  ResetState();
  FHead = head;
  FHead.dwBytesInRes = 0;
  ReadBitsFrom(stream, head.dwBytesInRes);
  ParseBits();
}

void TSubIcon::LoadEntryKeepPosition(TStream& stream, const TIconEntryHead& head) {
  const int64_t at = stream.Position();
  try {
    LoadEntryAndStream(stream, head);
  } catch (...) {
    stream.SetPosition(at);
    throw;
  }
  stream.SetPosition(at);
}

void TSubIcon::LoadCursorDirEntry(TStream& stream, const TIconDirHeader& header, int64_t base) {
  ResetState();
  const auto entry = ReadRecord<TIconDirEntry>(stream);
  const int64_t after = stream.Position();
  FHead = entry.head;
  FHead.dwBytesInRes = 0;
  if (header.idType == 2) {
    FHotspotX = static_cast<int16_t>(entry.head.wPlanes);
    FHotspotY = entry.head.wBitCount;
    // Those words were the hotspot, not a depth: a PNG image takes its planes
    // and bit count from its own header, as a DIB does.
    FHead.wPlanes = 0;
    FHead.wBitCount = 0;
  }
  ReadEntryBits(stream, base + entry.dwImageOffset, entry.head.dwBytesInRes, after);
}

namespace {

// The bytes of a module resource; the framework's error when there is none.
std::pair<const uint8_t*, DWORD> ModuleResource(HMODULE module, uint16_t id, const char* type) {
  HRSRC found = FindResource(module, MAKEINTRESOURCE(id), type);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const auto* data = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
  if (!data) throw EResNotFound("Resource " + std::to_string(id) + " not found");
  return {data, SizeofResource(module, found)};
}

}  // namespace

void TSubIcon::LoadModuleResource(TStream& groupStream, HMODULE module) {
  ResetState();
  const auto entry = ReadRecord<TIconGroupEntry>(groupStream);
  FHead = entry.head;
  const auto [data, size] = ModuleResource(module, entry.nID, RT_ICON);
  FBits.assign(data, data + size);
  FHead.dwBytesInRes = size;
  ParseBits();
}

void TSubIcon::LoadResourceModuleEntry(TStream& groupStream, const TResourceModule& resourceModule) {
  ResetState();
  const auto entry = ReadRecord<TIconGroupEntry>(groupStream);
  FHead = entry.head;
  FHead.dwBytesInRes = 0;
  TResourceDetails* res = resourceModule.FindByTypeAndName("3", std::to_string(entry.nID));
  if (!res) return;
  TMemoryStream& data = res->Data();
  data.SetPosition(0);
  if (data.Size() > 0xFFFFFFFFLL) InvalidImage("an image of 4 GB or more");
  ReadBitsFrom(data, static_cast<uint32_t>(data.Size()));
  ParseBits();
}

void TSubIcon::LoadCursorResource(TStream& groupStream, HMODULE module) {
  ResetState();
  const auto entry = ReadRecord<TIconGroupEntry>(groupStream);
  FHead = entry.head;
  const auto [data, size] = ModuleResource(module, entry.nID, RT_CURSOR);
  if (size != entry.head.dwBytesInRes || size < 4) throw Exception("Invalid resource size");
  std::memcpy(&FHotspotX, data, 2);
  std::memcpy(&FHotspotY, data + 2, 2);
  FBits.assign(data + 4, data + size);
  FHead.dwBytesInRes = size - 4;
  ParseBits();
}

void CopySubIconInto(const TSubIcon& source, TSubIcon& target) {
  target.Head() = source.Head();
  target.SetBits(source.Bits());
  target.Head() = source.Head();
  target.SetHotspot(source.HotspotX(), source.HotspotY());
  if (!source.Bits().empty()) target.ParseBits();
  target.SetStoreAsPNG(source.StoreAsPNG());
}

std::unique_ptr<TSubIcon> TSubIcon::CreateCopy() const { return CopyAs<TSubIcon>(*this); }
std::unique_ptr<TSubIcon> TFileIconImage::CreateCopy() const { return CopyAs<TFileIconImage>(*this); }
std::unique_ptr<TSubIcon> TResourceIconImage::CreateCopy() const { return CopyAs<TResourceIconImage>(*this); }
std::unique_ptr<TSubIcon> TSubCursor::CreateCopy() const { return CopyAs<TSubCursor>(*this); }
std::unique_ptr<TSubIcon> TFileCursorImage::CreateCopy() const { return CopyAs<TFileCursorImage>(*this); }
std::unique_ptr<TSubIcon> TResourceCursorImage::CreateCopy() const {
  return CopyAs<TResourceCursorImage>(*this);
}

void TSubIcon::ParseBits() {
  if (FBits.empty()) return;
  FBitsPerPixel = 0;
  if (HasPngSignature(FBits.data(), FBits.size())) {
    // A PNG image stays compressed until it is drawn; its header alone must
    // be readable and within the size limit every image obeys.
    const uint32_t w = PngWidth(FBits), h = PngHeight(FBits);
    if (FindPngHeader(FBits) < 0) InvalidImage("PNG header unreadable");
    if (w == 0 || h == 0) InvalidImage("side of zero");
    if (w > kMaxIconSide || h > kMaxIconSide) InvalidImage("side above the limit");
    FHead.bWidth = w <= 255 ? static_cast<uint8_t>(w) : 0;
    FHead.bHeight = h <= 255 ? static_cast<uint8_t>(h) : 0;
    if (FHead.wBitCount == 0) {
      FHead.wPlanes = 1;
      FHead.wBitCount = static_cast<int16_t>(PngBitsPerPixel(FBits));
    }
    FStoreAsPNG = true;
    return;
  }
  FStoreAsPNG = false;
  // The image must be sound before any field of it is believed.
  TIconDibLayout layout;
  if (const char* reason = ReadIconDibLayout(FBits.data(), FBits.size(), layout)) InvalidImage(reason);
  const BITMAPINFOHEADER& bih = layout.header;
  FHead.wPlanes = bih.biPlanes;
  FHead.wBitCount = static_cast<int16_t>(bih.biBitCount);
  const uint32_t bpp = static_cast<uint32_t>(bih.biPlanes) * bih.biBitCount;
  FHead.bColorCount = bpp < 8 ? static_cast<uint8_t>(1u << bpp) : 0;
  uint32_t w = static_cast<uint32_t>(bih.biWidth);
  uint32_t h = static_cast<uint32_t>(bih.biHeight) >> 1;
  if (w == 0)
    w = h;
  else if (h == 0)
    h = w;
  FHead.bWidth = w <= 255 ? static_cast<uint8_t>(w) : 0;
  FHead.bHeight = h <= 255 ? static_cast<uint8_t>(h) : 0;
  FBitsPerPixel = static_cast<int32_t>(bpp);
}

namespace {

// The icon's text for a refusal of the shared DIB reader.
const char* IconRefusal(TDibRefusal reason, size_t size) {
  switch (reason) {
    case drHeaderCutShort: return size < sizeof(BITMAPINFOHEADER) ? "header cut short" : "header size outside the data";
    case drHeaderSize: return "header size outside the data";
    case drWidth:
    case drHeight: return "negative side";
    case drPlanes:
    case drDepth: return "depth without pixels";
    case drCompression: return "unknown compression";
    default: return "colour rows missing";
  }
}

}  // namespace

const char* ReadIconDibLayout(const uint8_t* bytes, size_t size, TIconDibLayout& l) {
  l = TIconDibLayout{};
  if (!bytes || size < sizeof(BITMAPINFOHEADER)) return "header cut short";
  TDibHeader h;
  if (const TDibRefusal reason = ReadDibHeader(bytes, size, h); reason != drNone) return IconRefusal(reason, size);
  // An icon image has an info header; its height counts the colour rows and
  // the mask rows, both bottom-up.
  if (h.core) return "header size outside the data";
  if (h.height < 0) return "negative side";
  std::memcpy(&l.header, bytes, sizeof l.header);
  l.width = h.width;
  l.height = h.height / 2;
  if (l.width > int(kMaxIconSide) || l.height > int(kMaxIconSide)) return "side above the limit";
  l.bpp = h.bitCount;
  // Icons are plain rows or bit fields; run-length rows are not drawn.
  if (h.compression != BI_RGB && h.compression != BI_BITFIELDS) return "unknown compression";
  // Only a palette depth has a colour table in an icon: a count of colours at
  // a deeper one is not followed by entries.
  const uint64_t headerBytes = h.tableOffset + (h.bitCount <= 8 ? h.TableBytes() : 0);
  const uint64_t colourBytes = uint64_t(DibRowBytes(l.width, l.bpp)) * uint64_t(l.height);
  if (headerBytes > size || colourBytes > size - headerBytes) return "colour rows missing";
  l.headerBytes = size_t(headerBytes);
  l.colourBytes = size_t(colourBytes);
  l.maskBytes = size_t(DibRowBytes(l.width, 1)) * size_t(l.height);
  l.maskPresent = std::min(size - l.headerBytes - l.colourBytes, l.maskBytes);
  return nullptr;
}

int TSubIcon::GetWidth() const {
  if (FBits.empty()) return 0;
  if (HasPngSignature(FBits.data(), FBits.size())) return static_cast<int>(PngWidth(FBits));
  if (FBits.size() < sizeof(BITMAPINFOHEADER)) return 0;
  BITMAPINFOHEADER bih;
  std::memcpy(&bih, FBits.data(), sizeof bih);
  return bih.biWidth;
}

int TSubIcon::GetHeight() const {
  if (FBits.empty()) return 0;
  if (HasPngSignature(FBits.data(), FBits.size())) return static_cast<int>(PngHeight(FBits));
  if (FBits.size() < sizeof(BITMAPINFOHEADER)) return 0;
  BITMAPINFOHEADER bih;
  std::memcpy(&bih, FBits.data(), sizeof bih);
  return static_cast<int>(static_cast<uint32_t>(bih.biHeight) >> 1);
}

void TSubIcon::UpdateBitsPerPixel() {
  FBitsPerPixel = 0;
  if (FBits.size() < sizeof(BITMAPINFOHEADER) || FHead.dwBytesInRes == 0) return;
  BITMAPINFOHEADER bih;
  std::memcpy(&bih, FBits.data(), sizeof bih);
  // Both fields are 16 bits: their product can pass what an int holds, and
  // any such depth is one no image has.
  FBitsPerPixel = static_cast<int32_t>(
      std::min<uint32_t>(uint32_t(bih.biPlanes) * uint32_t(bih.biBitCount), uint32_t(INT32_MAX)));
}

int TSubIcon::GetBitsPerPixel() {
  if (FBits.empty()) return 0;
  if (HasPngSignature(FBits.data(), FBits.size())) return PngBitsPerPixel(FBits);
  if (FBitsPerPixel == 0) UpdateBitsPerPixel();
  return FBitsPerPixel;
}

bool TSubIcon::HasPNGBits() const { return HasPngSignature(FBits.data(), FBits.size()); }

std::string TSubIcon::GetDescription() {
  const char* word = "";
  switch (GetBitsPerPixel()) {
    case 1: word = "2"; break;
    case 4: word = "16"; break;
    case 8: word = "256"; break;
    case 16: word = "65k"; break;
    case 24: word = "16M"; break;
    case 32: word = "32bpp"; break;
    default: break;
  }
  return std::to_string(GetWidth()) + "x" + std::to_string(GetHeight()) + "x" + word;
}

HICON TSubIcon::GetHandle() {
  // A PNG that cannot be an icon image is not handed to the drawing layer,
  // which would take the memory its header asks for.
  if (!FHandle && HasPNGBits() && !PngWithinIconLimits(FBits)) return nullptr;
  if (!FHandle && !FBits.empty())
    FHandle = CreateIconFromResourceEx(FBits.data(), FHead.dwBytesInRes, TRUE, 0x30000, GetWidth(), GetHeight(),
                                       kLR_COLOR);
  return FHandle;
}

void TSubIcon::ReleaseHandle() {
  if (FHandle) DestroyIcon(FHandle);
  FHandle = nullptr;
}

void TSubIcon::Draw(TCanvas* canvas, int x, int y) {
  HICON icon = GetHandle();
  if (icon && canvas) DrawIconEx(canvas->Handle(), x, y, icon, 0, 0, 0, nullptr, DI_NORMAL);
}

void TSubIcon::AssignTo(TPersistent* dest) {
  if (auto* target = dynamic_cast<TSubIcon*>(dest)) {
    if (target == this) return;
    target->ReleaseHandle();
    target->FHead = FHead;
    target->FBits = FHead.dwBytesInRes ? FBits : std::vector<uint8_t>{};
    target->FHead.dwBytesInRes = static_cast<uint32_t>(target->FBits.size());
    target->FHotspotX = FHotspotX;
    target->FHotspotY = FHotspotY;
    target->FStoreAsPNG = FStoreAsPNG;
    target->FBitsPerPixel = 0;
    return;
  }
  if (AssignSubIconToXbm(*this, dest)) return;
  if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    AssignSubIconToBitmap(*this, *bitmap);
    return;
  }
  TPersistent::AssignTo(dest);
}

void TSubIcon::SaveToStream(TStream& stream) {
  if (FBits.empty()) {
    stream.WriteValue<uint8_t>(0);
    return;
  }
  if (FStoreAsPNG && !HasPNGBits()) {
    // The record holds the compressed image; the one in memory stays a DIB.
    TSubIcon encoded;
    EncodePNG(*this, encoded);
    encoded.SaveToStream(stream);
    return;
  }
  stream.WriteValue<uint8_t>(12);
  stream.WriteBuffer(&FHead, sizeof FHead);
  WriteBits(stream);
}

void TSubIcon::LoadFromStream(TStream& stream) {
  ReleaseHandle();
  FBits.clear();
  FHead.dwBytesInRes = 0;
  FBitsPerPixel = 0;
  try {
    if (stream.ReadValue<uint8_t>() == 0) return;
    const auto head = ReadRecord<TIconEntryHead>(stream);
    FHead = head;
    FHead.dwBytesInRes = 0;
    ReadBitsFrom(stream, head.dwBytesInRes);
    FStoreAsPNG = HasPNGBits();
  } catch (const Exception&) {
    FBits.clear();
    FHead.dwBytesInRes = 0;
  }
}

void TSubIcon::SkipRecord(TStream& stream) {
  if (stream.ReadValue<uint8_t>() == 0) return;
  const auto head = ReadRecord<TIconEntryHead>(stream);
  try {
    stream.Seek(head.dwBytesInRes, soCurrent);
  } catch (const Exception&) {
  }
}

void TSubIcon::WriteBits(TStream& stream) const {
  if (!FBits.empty()) stream.WriteBuffer(FBits.data(), static_cast<int64_t>(FBits.size()));
}

void TSubIcon::LoadFromResourceData(TStream& stream, bool isCursor) {
  ReleaseHandle();
  FBits.clear();
  FHead.dwBytesInRes = 0;
  FBitsPerPixel = 0;
  try {
    stream.SetPosition(0);
    int64_t size = stream.Size();
    if (isCursor) {
      FHotspotX = stream.ReadValue<int16_t>();
      FHotspotY = stream.ReadValue<int16_t>();
      size -= 4;
    }
    if (size < 0 || size > 0xFFFFFFFFLL) InvalidImage("an image of 4 GB or more");
    ReadBitsFrom(stream, static_cast<uint32_t>(size));
  } catch (const Exception&) {
    FBits.clear();
    FHead.dwBytesInRes = 0;
  }
  ParseBits();
}

void TSubIcon::LoadFromSingleEntryFile(TStream& stream) {
  ReleaseHandle();
  FBits.clear();
  FHead.dwBytesInRes = 0;
  FBitsPerPixel = 0;
  try {
    stream.SetPosition(10);
    const uint32_t size = stream.ReadValue<uint32_t>();
    stream.SetPosition(18);
    ReadBitsFrom(stream, size);
  } catch (const Exception&) {
    FBits.clear();
    FHead.dwBytesInRes = 0;
  }
  ParseBits();
}

void TSubIcon::MarkAsMacImage(bool on) {
  FHotspotX = on ? kMacImageMarker : 0;
  if (FHotspotY != kMacHiResMarker) FHotspotY = 0;
}

void TSubIcon::MarkAsMacHiResElement(bool on) {
  if (on) {
    FHotspotX = kMacImageMarker;
    FHotspotY = kMacHiResMarker;
  } else {
    FHotspotY = 0;
  }
}
