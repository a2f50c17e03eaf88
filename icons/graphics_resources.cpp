#include "icons/graphics_resources.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "icons/icon_pictures.h"
#include "icons/sub_icon.h"
#include "platform/graphics/dib_header.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/graphics/png_header.h"
#include "platform/rtl/byte_order.h"
#include "platform/rtl/exceptions.h"

namespace {

template <class T>
std::unique_ptr<TResourceDetails> Make(TResourceModule* module, uint32_t language, const std::string& name,
                                       const std::string& type, size_t size, const uint8_t* bytes) {
  return std::make_unique<T>(module, language, name, type, size, bytes);
}

const uint8_t* DataBytes(TResourceDetails& r) { return r.Data().Memory(); }
int64_t DataSize(TResourceDetails& r) { return r.Data().Size(); }

// The info header at an offset of the data, read by the shared DIB reader;
// all 0 where the data holds no sound header. The 12-byte header of OS/2
// bitmaps is widened to the same fields (biSize stays 12, so the colour table
// is still known to hold 3-byte entries).
BITMAPINFOHEADER HeaderAt(TResourceDetails& r, int64_t offset) {
  BITMAPINFOHEADER out;
  out.biSize = 0;
  out.biPlanes = 0;
  const int64_t have = DataSize(r) - offset;
  TDibHeader h;
  if (have <= 0 || ReadDibHeader(DataBytes(r) + offset, static_cast<size_t>(have), h) != drNone) return out;
  out.biSize = h.size;
  out.biWidth = h.width;
  out.biHeight = h.height;
  out.biPlanes = static_cast<WORD>(h.planes);
  out.biBitCount = static_cast<WORD>(h.bitCount);
  out.biCompression = h.compression;
  out.biSizeImage = h.sizeImage;
  out.biXPelsPerMeter = h.xPelsPerMeter;
  out.biYPelsPerMeter = h.yPelsPerMeter;
  out.biClrUsed = h.clrUsed;
  if (!h.core) out.biClrImportant = ReadLE32(DataBytes(r) + offset + 36);
  return out;
}

void ReplaceDataWith(TResourceDetails& r, const void* bytes, int64_t count) {
  r.Data().Clear();
  if (count > 0) r.Data().WriteBuffer(bytes, count);
  r.Data().SetPosition(0);
}

TPixelFormat FormatOfBits(int bits) {
  switch (bits) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    default: return pf24bit;
  }
}

// A format new resources can be made in; anything else falls back to fallback.
TPixelFormat UsableFormat(TPixelFormat pf, TPixelFormat fallback) {
  return BitsOfPixelFormat(pf) ? pf : fallback;
}

// Where the pixel rows begin after the info header: colour table or masks.
int64_t ColourTableEnd(const BITMAPINFOHEADER& h) {
  int64_t end = h.biSize;
  if (h.biSize == sizeof(BITMAPCOREHEADER)) return h.biBitCount <= 8 ? end + 3 * (int64_t(1) << h.biBitCount) : end;
  const uint32_t used = std::min<DWORD>(h.biClrUsed, 256);
  if (h.biBitCount <= 8)
    end += 4 * int64_t(used ? used : (1u << h.biBitCount));
  else
    end += 4 * int64_t(used);
  if (h.biCompression == BI_BITFIELDS && h.biSize == sizeof(BITMAPINFOHEADER)) end += 12;
  return end;
}

void WritePaletteEntries(TStream& out, HPALETTE palette, UINT count) {
  std::vector<PALETTEENTRY> entries(count);
  const UINT n = palette ? GetPaletteEntries(palette, 0, count, entries.data()) : 0;
  for (UINT i = 0; i < count; ++i) {
    const PALETTEENTRY e = i < n ? entries[i] : PALETTEENTRY{};
    const uint8_t quad[4] = {e.peBlue, e.peGreen, e.peRed, 0};
    out.WriteBuffer(quad, 4);
  }
}

// The colour table (or the 5-6-5 masks) that a new image of the format carries.
void WriteColourTable(TStream& out, TPixelFormat pf) {
  switch (pf) {
    case pf1bit: WritePaletteEntries(out, SharedTwoColourPalette(), 2); break;
    case pf4bit:
      for (const RGBQUAD& q : DefaultColorTable(4)) out.WriteBuffer(&q, sizeof q);
      break;
    case pf8bit: WritePaletteEntries(out, Shared256ColourPalette(), 256); break;
    case pf16bit:
      for (uint32_t mask : {0xF800u, 0x07E0u, 0x001Fu}) out.WriteValue<uint32_t>(mask);
      break;
    default: break;
  }
}

void WriteFilled(TStream& out, int64_t count, uint8_t value) {
  const std::vector<uint8_t> bytes(static_cast<size_t>(count), value);
  if (count > 0) out.WriteBuffer(bytes.data(), count);
}

// The info header, colour table and zeroed rows of a new bitmap.
void WriteDefaultBitmap(TStream& out) {
  const TGraphicsResourceDefaults& d = GraphicsResourceDefaults();
  const TPixelFormat pf = UsableFormat(d.BitmapPixelFormat, pf24bit);
  BITMAPINFOHEADER h;
  h.biWidth = std::max(d.BitmapWidth, 1);
  h.biHeight = std::max(d.BitmapHeight, 1);
  h.biBitCount = static_cast<WORD>(BitsOfPixelFormat(pf));
  h.biCompression = pf == pf16bit ? BI_BITFIELDS : BI_RGB;
  const int64_t image = DibRowBytes(h.biWidth, h.biBitCount) * h.biHeight;
  h.biSizeImage = static_cast<DWORD>(image);
  out.WriteBuffer(&h, sizeof h);
  WriteColourTable(out, pf);
  WriteFilled(out, image, 0);
}

HPALETTE CopyOfPalette(const PALETTEENTRY* entries, UINT count) {
  std::vector<uint8_t> block(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(block.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(count);
  std::memcpy(lp->palPalEntry, entries, count * sizeof(PALETTEENTRY));
  return CreatePalette(lp);
}

TPixelFormat FormatOfPng(const uint8_t* data, size_t size) {
  switch (PngBitsPerPixel(data, size)) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 24: return pf24bit;
    case 32: return pf32bit;
    default: throw EInvalidGraphic("Pixel Format Not Valid for Icons or Cursors");
  }
}

}  // namespace

TGraphicsResourceDefaults& GraphicsResourceDefaults() {
  static TGraphicsResourceDefaults defaults;
  return defaults;
}

// ---------------------------------------------------------------- base

void TGraphicsResourceDetails::SetImage(TPicture* picture) {
  Data().Clear();
  if (picture && picture->Graphic()) picture->Graphic()->SaveToStream(Data());
  Data().SetPosition(0);
}

// ---------------------------------------------------------------- bitmaps

const TResourceDetailsClass& TBitmapResourceDetails::Class() {
  static const TResourceDetailsClass cls{"2", nullptr, nullptr, &Make<TBitmapResourceDetails>};
  return cls;
}

BITMAPINFOHEADER TBitmapResourceDetails::InfoHeader() { return HeaderAt(*this, InfoHeaderOffset()); }
int TBitmapResourceDetails::GetWidth() { return InfoHeader().biWidth; }
int TBitmapResourceDetails::GetHeight() { return InfoHeader().biHeight; }
TPixelFormat TBitmapResourceDetails::GetPixelFormat() { return PixelFormatOfHeader(InfoHeader()); }

void TBitmapResourceDetails::GetImage(TPicture* picture) {
  if (!picture) return;
  BITMAPFILEHEADER fh;
  fh.bfSize = static_cast<DWORD>(sizeof fh + DataSize(*this));
  fh.bfOffBits = static_cast<DWORD>(sizeof fh + ColourTableEnd(InfoHeader()));
  TMemoryStream file;
  file.WriteBuffer(&fh, sizeof fh);
  file.WriteBuffer(DataBytes(*this), DataSize(*this));
  file.SetPosition(0);
  LoadBitmapFile(picture, file);
}

void TBitmapResourceDetails::LoadBitmapFile(TPicture* picture, TStream& file) {
  TBitmap* bitmap = picture->Bitmap();
  bitmap->LoadFromStream(file);
  const BITMAPINFOHEADER h = InfoHeader();
  if (h.biCompression != BI_RLE8 && h.biCompression != BI_RLE4) return;
  // Run-length data is unpacked into whatever the loader found convenient;
  // the picture gets back the depth the resource was made in.
  const int bits = h.biBitCount;
  const TPixelFormat pf = FormatOfBits(bits);
  if (bits == 1 || bits == 4 || bits == 8) {
    PALETTEENTRY entries[256];
    HPALETTE palette = bitmap->GetPalette();
    const UINT n = palette ? GetPaletteEntries(palette, 0, 256, entries) : 0;
    if (n == (1u << bits)) {
      TBitmap redo;
      redo.SetPixelFormat(pf);
      redo.SetSize(bitmap->GetWidth(), bitmap->GetHeight());
      redo.SetPalette(CopyOfPalette(entries, n));
      redo.Canvas()->Draw(0, 0, bitmap);
      picture->Assign(&redo);
      return;
    }
  }
  bitmap->SetPixelFormat(pf);
}

void TBitmapResourceDetails::SetImage(TPicture* picture) {
  TBitmap bitmap;
  if (picture && picture->Graphic()) bitmap.Assign(picture->Graphic());
  TMemoryStream file;
  bitmap.SaveToStream(file);
  const int64_t skip = sizeof(BITMAPFILEHEADER);
  ReplaceDataWith(*this, file.Memory() + std::min(skip, file.Size()), std::max<int64_t>(file.Size() - skip, 0));
}

void TBitmapResourceDetails::FillDefaultData() {
  Data().Clear();
  WriteDefaultBitmap(Data());
  Data().SetPosition(0);
}

const TResourceDetailsClass& TDIBResourceDetails::Class() {
  static const TResourceDetailsClass cls{"DIB", nullptr, &TDIBResourceDetails::ClaimsData, &Make<TDIBResourceDetails>};
  return cls;
}

bool TDIBResourceDetails::ClaimsData(size_t size, const uint8_t* bytes) {
  if (size < 18 || !bytes) return false;
  auto u16 = [&](size_t at) { return uint16_t(bytes[at] | (bytes[at + 1] << 8)); };
  const uint32_t infoSize = u16(14) | (uint32_t(u16(16)) << 16);
  return bytes[0] == 'B' && bytes[1] == 'M' && u16(6) == 0 && u16(8) == 0 &&
         (infoSize == 40 || infoSize == 108 || infoSize == 124);
}

void TDIBResourceDetails::GetImage(TPicture* picture) {
  if (!picture) return;
  TCustomMemoryStream file(DataBytes(*this), DataSize(*this));
  LoadBitmapFile(picture, file);
}

void TDIBResourceDetails::SetImage(TPicture* picture) {
  TBitmap bitmap;
  if (picture && picture->Graphic()) bitmap.Assign(picture->Graphic());
  TMemoryStream file;
  bitmap.SaveToStream(file);
  ReplaceDataWith(*this, file.Memory(), file.Size());
}

void TDIBResourceDetails::FillDefaultData() {
  TMemoryStream dib;
  WriteDefaultBitmap(dib);
  BITMAPINFOHEADER h;
  std::memcpy(&h, dib.Memory(), sizeof h);
  BITMAPFILEHEADER fh;
  fh.bfSize = static_cast<DWORD>(sizeof fh + dib.Size());
  fh.bfOffBits = static_cast<DWORD>(sizeof fh + dib.Size() - h.biSizeImage);
  Data().Clear();
  Data().WriteBuffer(&fh, sizeof fh);
  Data().WriteBuffer(dib.Memory(), dib.Size());
  Data().SetPosition(0);
}

// ---------------------------------------------------------------- icon and cursor images

const TResourceDetailsClass& TIconResourceDetails::Class() {
  static const TResourceDetailsClass cls{"3", nullptr, nullptr, &Make<TIconResourceDetails>};
  return cls;
}

const TResourceDetailsClass& TCursorResourceDetails::Class() {
  static const TResourceDetailsClass cls{"1", nullptr, nullptr, &Make<TCursorResourceDetails>};
  return cls;
}

BITMAPINFOHEADER TIconCursorResourceDetails::InfoHeader() { return HeaderAt(*this, HeaderOffset()); }

namespace {

// The PNG data of an image resource, or nil when it holds a DIB.
const uint8_t* PngOf(TResourceDetails& r, int64_t offset, size_t& size) {
  const int64_t have = DataSize(r) - offset;
  if (have <= 8 || !HasPngSignature(DataBytes(r) + offset, static_cast<size_t>(have))) return nullptr;
  size = static_cast<size_t>(have);
  return DataBytes(r) + offset;
}

}  // namespace

int TIconCursorResourceDetails::GetWidth() {
  size_t size = 0;
  if (const uint8_t* png = PngOf(*this, HeaderOffset(), size)) return static_cast<int>(PngWidth(png, size));
  return InfoHeader().biWidth;
}

int TIconCursorResourceDetails::GetHeight() {
  size_t size = 0;
  if (const uint8_t* png = PngOf(*this, HeaderOffset(), size)) return static_cast<int>(PngHeight(png, size));
  return InfoHeader().biHeight / 2;
}

TPixelFormat TIconCursorResourceDetails::GetPixelFormat() {
  size_t size = 0;
  if (const uint8_t* png = PngOf(*this, HeaderOffset(), size)) return FormatOfPng(png, size);
  return PixelFormatOfHeader(InfoHeader());
}

void TIconCursorResourceDetails::GetImage(TPicture* picture) {
  if (!picture || DataSize(*this) == 0) return;
  const BITMAPINFOHEADER h = InfoHeader();
  const int w = GetWidth(), hh = GetHeight();
  TIconDirHeader head;
  head.idType = IsCursor() ? 2 : 1;
  head.idCount = 1;
  TIconDirEntry entry;
  entry.head.bWidth = static_cast<uint8_t>(w);
  entry.head.bHeight = static_cast<uint8_t>(hh);
  entry.head.bColorCount = static_cast<uint8_t>(HeaderColorCount(h));
  entry.head.wPlanes = h.biPlanes;
  entry.head.wBitCount = static_cast<int16_t>(h.biBitCount);
  entry.head.dwBytesInRes = static_cast<uint32_t>(DataSize(*this));
  entry.dwImageOffset = sizeof head + sizeof entry;
  TMemoryStream stream;
  stream.WriteBuffer(&head, sizeof head);
  stream.WriteBuffer(&entry, sizeof entry);
  stream.WriteBuffer(DataBytes(*this), DataSize(*this));
  stream.SetPosition(0);
  if (IsCursor()) {
    TExCursor cursor;
    cursor.LoadFromStream(stream);
    picture->Assign(&cursor);
  } else {
    TExIcon icon;
    icon.LoadFromStream(stream);
    picture->Assign(&icon);
  }
}

void TIconCursorResourceDetails::SetImage(TPicture* picture) {
  auto* graphic = picture ? dynamic_cast<TExIconCursor*>(picture->Graphic()) : nullptr;
  if (!graphic) throw EInvalidGraphic("An icon or cursor picture is needed for an icon or cursor resource");
  const TExIconImage* image = graphic->CurrentImage();
  std::vector<uint8_t> bytes = image->bytes;
  // A cursor image begins with its hotspot, an icon image does not: an icon
  // given to a cursor resource gets the hotspot 0, 0, a cursor given to an
  // icon resource loses its hotspot.
  if (IsCursor() && image->isIcon && !bytes.empty())
    bytes.insert(bytes.begin(), 4, 0);
  else if (!IsCursor() && !image->isIcon)
    bytes.erase(bytes.begin(), bytes.begin() + std::min<size_t>(4, bytes.size()));
  ReplaceDataWith(*this, bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TIconCursorResourceDetails::FillDefaultData() {
  const TGraphicsResourceDefaults& d = GraphicsResourceDefaults();
  const TPixelFormat pf = UsableFormat(d.IconPixelFormat, pf4bit);
  const int w = std::max(d.IconWidth, 1), h = std::max(d.IconHeight, 1);
  TMemoryStream& out = Data();
  out.Clear();
  if (IsCursor()) {
    out.WriteValue<int16_t>(d.CursorHotspotX);
    out.WriteValue<int16_t>(d.CursorHotspotY);
  }
  BITMAPINFOHEADER header;
  header.biWidth = w;
  header.biHeight = 2 * h;
  header.biBitCount = static_cast<WORD>(BitsOfPixelFormat(pf));
  header.biCompression = pf == pf16bit ? BI_BITFIELDS : BI_RGB;
  header.biClrUsed = header.biClrImportant = static_cast<DWORD>(ColorCountOfPixelFormat(pf));
  out.WriteBuffer(&header, sizeof header);
  WriteColourTable(out, pf);
  WriteFilled(out, DibRowBytes(w, header.biBitCount) * h, 0);
  // The AND mask has DWORD-aligned rows like every other DIB row.
  WriteFilled(out, DibRowBytes(w, 1) * h, 0xFF);
  out.SetPosition(0);
}

void TIconCursorResourceDetails::NotifyDeleting() {
  TResourceModule* module = Module();
  const int64_t id = ResourceNameToNumber(Name());
  if (!module || id < 0) return;
  for (int i = 0; i < module->GetResourceCount(); ++i) {
    auto* group = dynamic_cast<TIconCursorGroupResourceDetails*>(module->GetResource(i));
    if (!group || !group->ContainsImage(this)) continue;
    group->RemoveEntry(group->IndexOfId(id));
    if (group->GetImageCount() == 0 && !group->Deleting()) module->DeleteResource(module->IndexOfResource(group));
    return;
  }
}

// ---------------------------------------------------------------- groups

const TResourceDetailsClass& TIconGroupResourceDetails::Class() {
  static const TResourceDetailsClass cls{"14", nullptr, nullptr, &Make<TIconGroupResourceDetails>};
  return cls;
}

const TResourceDetailsClass& TCursorGroupResourceDetails::Class() {
  static const TResourceDetailsClass cls{"12", nullptr, nullptr, &Make<TCursorGroupResourceDetails>};
  return cls;
}

namespace {
constexpr int64_t kGroupHead = sizeof(TIconDirHeader);
constexpr int64_t kGroupEntry = sizeof(TIconGroupEntry);
}  // namespace

int TIconCursorGroupResourceDetails::GetImageCount() {
  const int64_t size = DataSize(*this);
  if (size < kGroupHead) return 0;
  TIconDirHeader head;
  std::memcpy(&head, DataBytes(*this), sizeof head);
  return static_cast<int>(std::min<int64_t>(head.idCount, (size - kGroupHead) / kGroupEntry));
}

int TIconCursorGroupResourceDetails::IndexOfId(int64_t id) {
  const int count = GetImageCount();
  for (int n = 0; n < count; ++n) {
    TIconGroupEntry entry;
    std::memcpy(&entry, DataBytes(*this) + kGroupHead + n * kGroupEntry, sizeof entry);
    if (entry.nID == id) return n;
  }
  return -1;
}

TIconCursorResourceDetails* TIconCursorGroupResourceDetails::GetImageResource(int n) {
  TResourceModule* module = Module();
  if (!module || n < 0 || n >= GetImageCount()) return nullptr;
  TIconGroupEntry entry;
  std::memcpy(&entry, DataBytes(*this) + kGroupHead + n * kGroupEntry, sizeof entry);
  const std::string type = ImageType();
  for (int i = 0; i < module->GetResourceCount(); ++i) {
    auto* image = dynamic_cast<TIconCursorResourceDetails*>(module->GetResource(i));
    if (image && image->ResourceType() == type && ResourceNameToNumber(image->Name()) == entry.nID) return image;
  }
  return nullptr;
}

bool TIconCursorGroupResourceDetails::ContainsImage(const TIconCursorResourceDetails* image) {
  if (!image) return false;
  const int64_t imageType = ResourceNameToNumber(image->ResourceType());
  const int64_t id = ResourceNameToNumber(image->Name());
  return imageType >= 0 && imageType + 11 == ResourceNameToNumber(ResourceType()) && id >= 0 && IndexOfId(id) >= 0;
}

void TIconCursorGroupResourceDetails::RemoveEntry(int n) {
  const int count = GetImageCount();
  if (n < 0 || n >= count) return;
  std::vector<uint8_t> bytes(DataBytes(*this), DataBytes(*this) + DataSize(*this));
  const auto at = bytes.begin() + kGroupHead + n * kGroupEntry;
  bytes.erase(at, at + kGroupEntry);
  const uint16_t left = static_cast<uint16_t>(count - 1);
  std::memcpy(bytes.data() + 4, &left, 2);
  ReplaceDataWith(*this, bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TIconCursorGroupResourceDetails::FillDefaultData() {
  const TGraphicsResourceDefaults& d = GraphicsResourceDefaults();
  const TPixelFormat pf = UsableFormat(d.IconPixelFormat, pf4bit);
  TResourceModule* module = Module();
  TResourceDetails* image = nullptr;
  if (module) {
    const TResourceDetailsClass& cls = IsCursorGroup() ? TCursorResourceDetails::Class() : TIconResourceDetails::Class();
    image = CreateNewResourceIn(cls, *module, Language(), NextResourceName(module, ImageType()));
  }
  TIconDirHeader head;
  head.idType = IsCursorGroup() ? 2 : 1;
  head.idCount = image ? 1 : 0;  // without a module there is no image to list
  TMemoryStream& out = Data();
  out.Clear();
  out.WriteBuffer(&head, sizeof head);
  if (image) {
    TIconGroupEntry entry;
    const int w = std::max(d.IconWidth, 1), h = std::max(d.IconHeight, 1);
    if (IsCursorGroup()) {
      // A cursor group's entry holds width and height as two 16-bit values.
      entry.head.bWidth = static_cast<uint8_t>(w);
      entry.head.bHeight = static_cast<uint8_t>(w >> 8);
      entry.head.bColorCount = static_cast<uint8_t>(h);
      entry.head.bReserved = static_cast<uint8_t>(h >> 8);
    } else {
      entry.head.bWidth = w <= 255 ? static_cast<uint8_t>(w) : 0;
      entry.head.bHeight = h <= 255 ? static_cast<uint8_t>(h) : 0;
      entry.head.bColorCount = static_cast<uint8_t>(ColorCountOfPixelFormat(pf));
    }
    entry.head.wPlanes = 1;
    entry.head.wBitCount = static_cast<int16_t>(BitsOfPixelFormat(pf));
    entry.head.dwBytesInRes = static_cast<uint32_t>(image->Data().Size());
    entry.nID = static_cast<uint16_t>(ResourceNameToNumber(image->Name()));
    out.WriteBuffer(&entry, sizeof entry);
  }
  out.SetPosition(0);
}

void TIconCursorGroupResourceDetails::NotifyDeleting() {
  TResourceModule* module = Module();
  FDeleting = true;
  try {
    while (GetImageCount() > 0) {
      const int before = GetImageCount();
      if (TIconCursorResourceDetails* image = module ? GetImageResource(0) : nullptr)
        module->DeleteResource(module->IndexOfResource(image));
      // The image takes its entry with it; an entry whose image is missing (or
      // that another group lists first) is dropped here, so the loop always ends
      // and a damaged group can still be deleted.
      if (GetImageCount() == before) RemoveEntry(0);
    }
  } catch (...) {
    FDeleting = false;
    throw;
  }
  FDeleting = false;
}

// ---------------------------------------------------------------- registration

namespace {

const TResourceDetailsClass* const kGraphicsClasses[] = {
    &TBitmapResourceDetails::Class(),    &TDIBResourceDetails::Class(),  &TIconGroupResourceDetails::Class(),
    &TCursorGroupResourceDetails::Class(), &TIconResourceDetails::Class(), &TCursorResourceDetails::Class(),
};

bool gGraphicsClassesRegistered = false;

}  // namespace

void RegisterGraphicsResourceClasses() {
  if (gGraphicsClassesRegistered) return;
  for (const TResourceDetailsClass* cls : kGraphicsClasses) RegisterResourceDetailsClass(cls);
  RegisterIconPictureClasses();
  gGraphicsClassesRegistered = true;
}

void UnregisterGraphicsResourceClasses() {
  if (!gGraphicsClassesRegistered) return;
  for (const TResourceDetailsClass* cls : kGraphicsClasses) UnregisterResourceDetailsClass(cls);
  UnregisterIconPictureClasses();
  gGraphicsClassesRegistered = false;
}
