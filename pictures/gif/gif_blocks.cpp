#include "pictures/gif/gif_blocks.h"

#include <algorithm>
#include <cstring>

#include "pictures/gif/gif_extensions.h"
#include "pictures/gif/gif_image.h"
#include "pictures/gif/gif_reduction.h"

// ---- stream helpers ----

void ReadExact(TStream& stream, void* buffer, int64_t count, const char* what) {
  if (count <= 0) return;
  if (stream.Read(buffer, count) != count) throw GIFException(gifmsg::kPrematureEnd, what);
}

bool ReadByteValue(TStream& stream, uint8_t& value) { return stream.Read(&value, 1) == 1; }

uint8_t ReadByteValue(TStream& stream) {
  uint8_t b = 0;
  return ReadByteValue(stream, b) ? b : 0;
}

void WriteByteValue(TStream& stream, uint8_t value) { stream.WriteBuffer(&value, 1); }

// ---- TGIFColorMap ----

void TGIFColorMap::Reset() {
  FEntries.clear();
  FEntryCount = 0;
  FEntryCapacity = 0;
  FSorted = false;
}

void TGIFColorMap::Reserve(int n) {
  if (n < FEntryCapacity) return;
  int capacity = n <= 16 ? 16 : (n + 31) / 32 * 32;
  capacity = std::min(capacity, 256);
  FEntries.resize(static_cast<size_t>(capacity) * 3);
  FEntryCapacity = capacity;
}

int TGIFColorMap::IndexBits() const {
  if (FEntryCount == 0) return 0;
  int b = 1;
  while ((1 << b) < FEntryCount) ++b;
  return b;
}

int TGIFColorMap::AppendColor(uint32_t color) {
  if (FEntryCount >= 256) throw GIFException(gifmsg::kColorTableOverflow);
  if (FEntryCount + 1 > FEntryCapacity) Reserve(FEntryCount + 1);
  uint8_t* e = &FEntries[static_cast<size_t>(FEntryCount) * 3];
  e[0] = color & 0xFF;
  e[1] = (color >> 8) & 0xFF;
  e[2] = (color >> 16) & 0xFF;
  const int index = FEntryCount++;
  FSorted = false;
  NotifyChanged();
  return index;
}

int TGIFColorMap::FindOrAppendColor(uint32_t color) {
  const int i = FindColor(color);
  return i >= 0 ? i : AppendColor(color);
}

int TGIFColorMap::FindColor(uint32_t color) const {
  color &= 0xFFFFFF;
  if (FSorted) {
    for (int i = 0; i < FEntryCount; ++i)
      if (RawColor(i) == color) return i;
  } else {
    for (int i = FEntryCount - 1; i >= 0; --i)
      if (RawColor(i) == color) return i;
  }
  return -1;
}

void TGIFColorMap::RemoveEntry(int index) {
  if (index < 0 || index >= FEntryCount) throw GIFException(gifmsg::kInvalidColorIndex);
  FEntries.erase(FEntries.begin() + index * 3, FEntries.begin() + index * 3 + 3);
  FEntries.resize(static_cast<size_t>(FEntryCapacity) * 3);
  --FEntryCount;
  FSorted = false;
  NotifyChanged();
}

uint32_t TGIFColorMap::ColorAt(int index) {
  if (index < 0 || index >= FEntryCount) {
    ReportWarning(1, gifmsg::kInvalidColorIndex);
    if (FEntryCount == 0) throw GIFException(gifmsg::kColorTableEmpty);
    return RawColor(0);
  }
  return RawColor(index);
}

void TGIFColorMap::CopyFromPalette(HPALETTE palette) {
  Reset();
  PALETTEENTRY entries[256];
  const UINT n = palette ? GetPaletteEntries(palette, 0, 256, entries) : 0;
  if (n > 0) {
    Reserve(static_cast<int>(n));
    for (UINT i = 0; i < n; ++i) {
      FEntries[i * 3] = entries[i].peRed;
      FEntries[i * 3 + 1] = entries[i].peGreen;
      FEntries[i * 3 + 2] = entries[i].peBlue;
    }
    FEntryCount = static_cast<int>(n);
  }
  NotifyChanged();
}

void TGIFColorMap::CopyFromColorTable(const RGBQUAD* colors, int count) {
  Reset();
  count = std::clamp(count, 0, 256);
  if (count > 0) {
    Reserve(count);
    for (int i = 0; i < count; ++i) {
      FEntries[i * 3] = colors[i].rgbRed;
      FEntries[i * 3 + 1] = colors[i].rgbGreen;
      FEntries[i * 3 + 2] = colors[i].rgbBlue;
    }
    FEntryCount = count;
  }
  NotifyChanged();
}

void TGIFColorMap::CopyFromDeviceColors(HDC dc) {
  RGBQUAD colors[256];
  const UINT n = GetDIBColorTable(dc, 0, 256, colors);
  CopyFromColorTable(colors, static_cast<int>(n));
}

HPALETTE TGIFColorMap::MakePalette() const {
  if (FEntryCount == 0) return nullptr;
  std::vector<PALETTEENTRY> entries(FEntryCount);
  for (int i = 0; i < FEntryCount; ++i)
    entries[i] = {FEntries[i * 3], FEntries[i * 3 + 1], FEntries[i * 3 + 2], PC_NOCOLLAPSE};
  return MakePaletteOf(entries.data(), FEntryCount);
}

void TGIFColorMap::ReadEntries(TStream& stream, int n) {
  Reset();
  n = std::clamp(n, 0, 256);
  Reserve(n);
  ReadExact(stream, FEntries.data(), static_cast<int64_t>(n) * 3, "a colour table runs past the end");
  FEntryCount = n;
}

void TGIFColorMap::WriteEntries(TStream& stream) const {
  if (FEntryCount == 0) return;
  stream.WriteBuffer(FEntries.data(), static_cast<int64_t>(FEntryCount) * 3);
  const int padded = 1 << IndexBits();
  static const uint8_t black[3 * 256] = {};
  if (padded > FEntryCount) stream.WriteBuffer(black, static_cast<int64_t>(padded - FEntryCount) * 3);
}

void TGIFColorMap::Assign(TPersistent* source) {
  if (auto* map = dynamic_cast<TGIFColorMap*>(source)) {
    if (map == this) return;
    FEntries = map->FEntries;
    FEntryCount = map->FEntryCount;
    FEntryCapacity = map->FEntryCapacity;
    FSorted = map->FSorted;
    NotifyChanged();
    return;
  }
  TPersistent::Assign(source);
}

bool TGIFColorMap::SortByUse() {
  if (FEntryCount <= 1) return false;
  FSorted = true;
  std::vector<std::pair<int64_t, int>> pairs;
  CountColorUse(pairs);
  // A colour that the background or a transparent index names stays in the
  // table even when no pixel shows it, so the file keeps meaning what it did.
  MarkReservedIndices(pairs);
  std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  bool identity = true;
  for (int k = 0; k < FEntryCount; ++k)
    if (pairs[k].second != k) identity = false;
  if (identity) return true;
  uint8_t table[256];
  for (int k = 0; k < 256; ++k) table[k] = static_cast<uint8_t>(k);
  for (int k = 0; k < FEntryCount; ++k) table[pairs[k].second] = static_cast<uint8_t>(k);
  RemapPixels(table);
  std::vector<uint8_t> reordered(FEntries.size());
  for (int i = 0; i < FEntryCount; ++i) std::memcpy(&reordered[table[i] * 3], &FEntries[i * 3], 3);
  FEntries.swap(reordered);
  for (int k = 0; k < FEntryCount; ++k)
    if (pairs[k].first == 0) {
      FEntryCount = k;
      break;
    }
  NotifyChanged();
  return true;
}

namespace {

void CountPixels(TGIFSubImage* frame, std::vector<std::pair<int64_t, int>>& pairs) {
  if (frame->IsEmpty()) return;
  int64_t counts[256] = {};
  const uint8_t* p = frame->Pixels();
  const size_t n = frame->PixelBytes();
  for (size_t i = 0; i < n; ++i) ++counts[p[i]];
  for (size_t i = 0; i < pairs.size(); ++i) pairs[i].first += counts[i];
}

void RemapFrame(TGIFSubImage* frame, const uint8_t* table) {
  uint8_t* p = frame->Pixels();
  const size_t n = frame->PixelBytes();
  for (size_t i = 0; i < n; ++i) p[i] = table[p[i]];
  if (frame->IsTransparent() && frame->ControlExtension())
    frame->ControlExtension()->SetTransparentEntry(table[frame->ControlExtension()->TransparentEntry()]);
  frame->DropRendering();
  frame->DropMask();
}

void ReserveTransparent(TGIFSubImage* frame, std::vector<std::pair<int64_t, int>>& pairs) {
  if (!frame->IsTransparent() || !frame->ControlExtension()) return;
  const int t = frame->ControlExtension()->TransparentEntry();
  if (t < static_cast<int>(pairs.size()) && pairs[t].first == 0) pairs[t].first = 1;
}

}  // namespace

// ---- TGIFGlobalColorMap ----

void TGIFGlobalColorMap::ReportWarning(int severity, const std::string& message) {
  if (FHeader->Image()) FHeader->Image()->Warning(this, severity, message);
}

void TGIFGlobalColorMap::CountColorUse(std::vector<std::pair<int64_t, int>>& pairs) {
  pairs.assign(FEntryCount, {0, 0});
  for (int i = 0; i < FEntryCount; ++i) pairs[i].second = i;
  TGIFImage* image = FHeader->Image();
  if (!image) return;
  for (int i = 0; i < image->Frames().Count(); ++i) {
    TGIFSubImage* f = image->Frames()[i];
    if (&f->EffectiveColorMap() == this) CountPixels(f, pairs);
  }
}

void TGIFGlobalColorMap::MarkReservedIndices(std::vector<std::pair<int64_t, int>>& pairs) {
  const int bg = FHeader->ScreenBlock.BackgroundEntry;
  if (bg < static_cast<int>(pairs.size()) && pairs[bg].first == 0) pairs[bg].first = 1;
  TGIFImage* image = FHeader->Image();
  if (!image) return;
  for (int i = 0; i < image->Frames().Count(); ++i) {
    TGIFSubImage* f = image->Frames()[i];
    if (&f->EffectiveColorMap() == this) ReserveTransparent(f, pairs);
  }
}

void TGIFGlobalColorMap::RemapPixels(const uint8_t* table) {
  FHeader->ScreenBlock.BackgroundEntry = table[FHeader->ScreenBlock.BackgroundEntry];
  TGIFImage* image = FHeader->Image();
  if (!image) return;
  for (int i = 0; i < image->Frames().Count(); ++i) {
    TGIFSubImage* f = image->Frames()[i];
    if (&f->EffectiveColorMap() == this) RemapFrame(f, table);
  }
}

bool TGIFGlobalColorMap::SortByUse() {
  TGIFImage* image = FHeader->Image();
  if (!image || image->Frames().Count() == 0) return false;
  return TGIFColorMap::SortByUse();
}

void TGIFGlobalColorMap::NotifyChanged() {
  if (FHeader->Image()) FHeader->Image()->SetPalette(nullptr);
}

// ---- TGIFLocalColorMap ----

void TGIFLocalColorMap::ReportWarning(int severity, const std::string& message) {
  if (FFrame->Image()) FFrame->Image()->Warning(this, severity, message);
}

void TGIFLocalColorMap::CountColorUse(std::vector<std::pair<int64_t, int>>& pairs) {
  pairs.assign(FEntryCount, {0, 0});
  for (int i = 0; i < FEntryCount; ++i) pairs[i].second = i;
  CountPixels(FFrame, pairs);
}

void TGIFLocalColorMap::MarkReservedIndices(std::vector<std::pair<int64_t, int>>& pairs) {
  ReserveTransparent(FFrame, pairs);
}

void TGIFLocalColorMap::RemapPixels(const uint8_t* table) { RemapFrame(FFrame, table); }

void TGIFLocalColorMap::NotifyChanged() { FFrame->ReplacePalette(nullptr); }

// ---- TGIFItem, TGIFList ----

void TGIFItem::ReportWarning(int severity, const std::string& message) {
  if (FImage) FImage->Warning(this, severity, message);
}

void TGIFItem::SaveToFile(const std::string& fileName) {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(stream);
}

void TGIFItem::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TGIFList::ReportWarning(int severity, const std::string& message) {
  if (FImage) FImage->Warning(this, severity, message);
}

void TGIFList::SaveToStream(TStream& stream) {
  for (auto& item : FItems) item->SaveToStream(stream);
}

TGIFItem* TGIFList::ItemAt(int index) const {
  if (index < 0 || index >= GetItemCount()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return FItems[index].get();
}

int TGIFList::AppendItem(std::unique_ptr<TGIFItem> item) {
  FItems.push_back(std::move(item));
  return GetItemCount() - 1;
}

void TGIFList::InsertItem(int index, std::unique_ptr<TGIFItem> item) {
  index = std::clamp(index, 0, GetItemCount());
  FItems.insert(FItems.begin() + index, std::move(item));
}

void TGIFList::DeleteItem(int index) {
  ItemAt(index);
  std::unique_ptr<TGIFItem> item = std::move(FItems[index]);
  FItems.erase(FItems.begin() + index);
}

std::unique_ptr<TGIFItem> TGIFList::RemoveItem(TGIFItem* item) {
  const int i = IndexOf(item);
  if (i < 0) return nullptr;
  std::unique_ptr<TGIFItem> p = std::move(FItems[i]);
  FItems.erase(FItems.begin() + i);
  return p;
}

void TGIFList::ClearItems() {
  while (!FItems.empty()) DeleteItem(0);
}

int TGIFList::IndexOf(const TGIFItem* item) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == item) return static_cast<int>(i);
  return -1;
}

void TGIFList::SetImage(TGIFImage* image) {
  FImage = image;
  for (auto& item : FItems) {
    item->SetImage(image);
    if (auto* frame = dynamic_cast<TGIFSubImage*>(item.get())) frame->ExtensionBlocks().SetImage(image);
  }
}

TGIFSubImage* TGIFImageList::GetFrame(int index) const { return static_cast<TGIFSubImage*>(ItemAt(index)); }

TGIFExtension* TGIFExtensionList::GetExtensionAt(int index) const { return static_cast<TGIFExtension*>(ItemAt(index)); }

// ---- TGIFHeader ----

TGIFHeader::TGIFHeader(TGIFImage* image) : TGIFItem(image), FGlobalMap(std::make_unique<TGIFGlobalColorMap>(this)) {
  Reset();
}

void TGIFHeader::Reset() {
  FGlobalMap->Reset();
  ScreenBlock = TGIFScreenBlock{};
}

void TGIFHeader::Assign(TPersistent* source) {
  if (auto* h = dynamic_cast<TGIFHeader*>(source)) {
    if (h == this) return;
    ScreenBlock = h->ScreenBlock;
    FGlobalMap->Assign(&h->GlobalMap());
    return;
  }
  if (auto* map = dynamic_cast<TGIFColorMap*>(source)) {
    FGlobalMap->Reset();
    FGlobalMap->Assign(map);
    return;
  }
  TGIFItem::Assign(source);
}

int TGIFHeader::NeededVersion() { return FGlobalMap->Sorted() || ScreenBlock.PixelAspect != 0 ? 2 : 1; }

uint32_t TGIFHeader::BackgroundColor() { return FGlobalMap->ColorAt(ScreenBlock.BackgroundEntry); }

// ---- TGIFSubImage: the model ----

TGIFSubImage::TGIFSubImage(TGIFImage* image)
    : TGIFItem(image),
      FLocalMap(std::make_unique<TGIFLocalColorMap>(this)),
      FExtensions(std::make_unique<TGIFExtensionList>(image, this)) {}

TGIFSubImage::~TGIFSubImage() {
  // Extensions reach back into the frame as they go, so they go first.
  FExtensions->ClearItems();
  FControlExtension = nullptr;
  FRenderedBitmap.reset();
  if (FTransparencyMask) DeleteObject(FTransparencyMask);
  if (FPaletteCache) DeleteObject(FPaletteCache);
}

void TGIFSubImage::Reset() {
  FExtensions->ClearItems();
  FLocalMap->Reset();
  FPixels.clear();
  FPixels.shrink_to_fit();
  ImageBlock.ImageWidth = 0;
  ImageBlock.ImageHeight = 0;
  FIsTransparent = false;
  FControlExtension = nullptr;
  DropRendering();
  DropMask();
}

bool TGIFSubImage::IsEmpty() const { return FPixels.empty() || Width() == 0 || Height() == 0; }

int TGIFSubImage::BoundValue(int which) const {
  switch (which) {
    case 1: return Left();
    case 2: return Top();
    case 3: return Width();
    case 4: return Height();
    default: return 0;
  }
}

void TGIFSubImage::SetBoundValue(int which, int value) {
  int v[4] = {Left(), Top(), Width(), Height()};
  if (which < 1 || which > 4) return;
  v[which - 1] = value;
  PlaceFrame(v[0], v[1], v[2], v[3]);
}

void TGIFSubImage::PlaceFrame(int left, int top, int width, int height) {
  left = std::clamp(left, 0, 65535);
  top = std::clamp(top, 0, 65535);
  width = std::clamp(width, 0, 65535);
  height = std::clamp(height, 0, 65535);
  const bool resized = width != Width() || height != Height();
  ImageBlock.ImageLeft = static_cast<uint16_t>(left);
  ImageBlock.ImageTop = static_cast<uint16_t>(top);
  if (resized) {
    DropRendering();
    DropMask();
    FPixels.clear();
    ImageBlock.ImageWidth = static_cast<uint16_t>(width);
    ImageBlock.ImageHeight = static_cast<uint16_t>(height);
    AllocatePixels();
  }
  if (!FImage) return;
  bool warned = false;
  if (left + width > FImage->Width()) {
    if (FImage->Width() > 0) {
      ReportWarning(1, gifmsg::kImageWidthTooSmall);
      warned = true;
    }
    FImage->Header().ScreenBlock.LogicalWidth = static_cast<uint16_t>(std::min(left + width, 65535));
    FImage->DropCachedBitmap();
  }
  if (top + height > FImage->Height()) {
    if (FImage->Height() > 0) {
      ReportWarning(1, gifmsg::kImageHeightTooSmall);
      warned = true;
    }
    FImage->Header().ScreenBlock.LogicalHeight = static_cast<uint16_t>(std::min(top + height, 65535));
    FImage->DropCachedBitmap();
  }
  if (warned) ReportWarning(1, gifmsg::kExceedsScreen);
}

TRect TGIFSubImage::FrameRect() const { return TRect{Left(), Top(), Left() + Width(), Top() + Height()}; }

void TGIFSubImage::AllocatePixels() {
  FPixels.clear();
  const int64_t n = int64_t{Width()} * Height();
  if (n == 0) return;
  if (n > kGIFMaxFramePixels)
    throw GIFException(gifmsg::kFrameTooLarge, "a frame of more pixels than the reader holds");
  try {
    FPixels.assign(static_cast<size_t>(n), 0);
  } catch (const std::bad_alloc&) {
    throw GIFException(gifmsg::kFrameTooLarge, "no memory for the frame");
  }
}

void TGIFSubImage::EnsurePixels() {
  if (!FPixels.empty()) return;
  if (Width() == 0 || Height() == 0) throw GIFException(gifmsg::kImageEmpty);
  AllocatePixels();
}

void TGIFSubImage::ReleasePixels() {
  FPixels.clear();
  FPixels.shrink_to_fit();
}

uint8_t* TGIFSubImage::RowAddress(int y) {
  if (y < 0 || y >= Height()) throw GIFException(gifmsg::kInvalidPixelCoordinates);
  EnsurePixels();
  return FPixels.data() + static_cast<size_t>(y) * Width();
}

uint8_t TGIFSubImage::PixelAt(int x, int y) {
  if (x < 0 || x >= Width()) throw GIFException(gifmsg::kInvalidPixelCoordinates);
  return RowAddress(y)[x];
}

TGIFColorMap& TGIFSubImage::EffectiveColorMap() {
  if (FLocalMap->EntryCount() == 0 && FImage && FImage->GlobalColorMap().EntryCount() > 0)
    return FImage->GlobalColorMap();
  return *FLocalMap;
}

void TGIFSubImage::SetInterlaced(bool value) {
  ImageBlock.Flags = static_cast<uint8_t>(value ? ImageBlock.Flags | 0x40 : ImageBlock.Flags & ~0x40);
}

int TGIFSubImage::NeededVersion() { return FLocalMap->Sorted() || FExtensions->Count() > 0 ? 2 : 1; }

int TGIFSubImage::TransparentIndex() const {
  return FControlExtension ? FControlExtension->TransparentEntry() : 0;
}

HPALETTE TGIFSubImage::FramePalette() {
  if (FRenderedBitmap && FRenderedBitmap->HandleAllocated())
    if (HPALETTE p = FRenderedBitmap->GetPalette()) return p;
  if (FPaletteCache) return FPaletteCache;
  if (FImage && FImage->GetDitherActive()) {
    FPaletteCache = MakeCubePalette();
  } else if (FLocalMap->EntryCount() == 0) {
    return FImage ? FImage->GetPalette() : nullptr;
  } else {
    FPaletteCache = FLocalMap->MakePalette();
  }
  return FPaletteCache;
}

void TGIFSubImage::ReplacePalette(HPALETTE palette) {
  if (palette == FPaletteCache) return;
  if (FPaletteCache) DeleteObject(FPaletteCache);
  FPaletteCache = palette;
  if (FRenderedBitmap && FRenderedBitmap->HandleAllocated() && FRenderedBitmap->GetPalette() != palette) {
    DropRendering();
    if (FImage) {
      FImage->SetPaletteModified(true);
      FImage->NotifyChanged(this);
    }
  }
}

bool TGIFSubImage::EnsureMask() {
  if (FMaskPending && FIsTransparent) {
    DropRendering();
    GetRendering();
  }
  return FTransparencyMask != nullptr;
}

void TGIFSubImage::DropRendering() { FRenderedBitmap.reset(); }

void TGIFSubImage::CreateEmptyBitmap() { FRenderedBitmap = std::make_unique<TBitmap>(); }

void TGIFSubImage::DropMask() {
  if (FTransparencyMask) DeleteObject(FTransparencyMask);
  FTransparencyMask = nullptr;
  FMaskPending = true;
}

// ---- TGIFTrailer ----

void TGIFTrailer::SaveToStream(TStream& stream) { WriteByteValue(stream, 0x3B); }

void TGIFTrailer::LoadFromStream(TStream& stream) {
  uint8_t b = 0;
  if (ReadByteValue(stream, b) && b != 0x3B) ReportWarning(1, gifmsg::kInvalidTrailer);
}
