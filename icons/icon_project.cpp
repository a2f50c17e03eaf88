#include "icons/icon_project.h"

#include <algorithm>
#include <cstring>

#include "base/compact_encoding.h"
#include "base/rus_clipboard.h"
#include "base/text_utils.h"
#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/blend.h"
#include "base/toolbox/shadows_metafile.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/graphics_picture.h"

namespace {

// The smallest layer record: version, depth, width, height, transparency,
// strength, x and y offsets, an empty name, the free value and hidden.
constexpr int64_t kMinLayerRecord = 1 + 1 + 4 + 4 + 1 + 1 + 4 + 4 + 1 + 4 + 1;
// The bytes a layer writes per pixel, and the depth byte of its record.
constexpr int kLayerPixelBytes = 4;
constexpr uint8_t kLayerDepth = 32;
// The block that follows the layer lists of a project with hotspots: written
// as its length and that many zero bytes.
constexpr int32_t kTrailerLength = 4;
// The image the project draws for its picture: the one nearest to 32 x 32, the deepest.
constexpr int kDrawSize = 32;
constexpr int kDrawDepth = 255;

[[noreturn]] void InvalidProject(const std::string& why) { throw Exception("Invalid icon project file: " + why); }

// A count read from the file must be one the rest of the stream can hold when
// each item takes at least minBytes.
int32_t ReadCount(TStream& stream, int64_t minBytes, const char* what) {
  const int32_t count = stream.ReadValue<int32_t>();
  if (count < 0) InvalidProject(std::string("negative ") + what);
  if (static_cast<int64_t>(count) * minBytes > stream.Remaining()) InvalidProject(std::string(what) + " past the end");
  return count;
}

std::unique_ptr<TBitmap> NewLayerBitmap(int width, int height) {
  auto bitmap = std::make_unique<TBitmap>();
  SetSize32AndFill(bitmap.get(), width, height, 0);
  return bitmap;
}

void Ensure32(TBitmap* bitmap) {
  if (bitmap->PixelFormat() != pf32bit) bitmap->SetPixelFormat(pf32bit);
}

// The image's bits become those of an image made from a pf32bit bitmap (mask
// set where alpha is 0). What the bits do not describe stays with the image: a
// cursor keeps its hotspot and a compressed image is compressed again on saving.
void SetImageFromBitmap(TSubIcon& image, TBitmap* bitmap) {
  TSubIconList made;
  made.AddBitmap(bitmap, nullptr, 0);
  const int16_t hotspotX = image.HotspotX(), hotspotY = image.HotspotY();
  const bool storeAsPNG = image.StoreAsPNG();
  image.Assign(made[0]);
  image.SetHotspot(hotspotX, hotspotY);
  image.SetStoreAsPNG(storeAsPNG);
}

// One image record. A record whose bits run past the end of the stream would
// leave the reader inside the record, reading pixels as the next fields: such
// a file is refused.
std::unique_ptr<TSubIcon> ReadImageRecord(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.ReadValue<uint8_t>() != 0) {
    TIconEntryHead head;
    stream.ReadBuffer(&head, sizeof head);
    if (static_cast<int64_t>(head.dwBytesInRes) > stream.Remaining()) InvalidProject("image past the end");
  }
  stream.SetPosition(start);
  auto image = std::make_unique<TSubIcon>();
  image->LoadFromStream(stream);
  return image;
}

bool AnyHotspot(const TAdvancedIcon& icon) {
  for (int i = 0; i < icon.Count(); ++i) {
    const TSubIcon* im = icon.Images()[i];
    if (im->HotspotX() != 0 || im->HotspotY() != 0) return true;
  }
  return false;
}

// ICO or CUR data in place of a project: a cursor directory is read as a
// cursor, anything else as an icon. Data that is neither is refused.
void ReadIconData(TStream& stream, TAdvancedIcon& icon) {
  const int64_t start = stream.Position();
  TIconDirHeader header;
  if (stream.Remaining() < static_cast<int64_t>(sizeof header)) InvalidProject("neither a project, an icon nor a cursor");
  stream.ReadBuffer(&header, sizeof header);
  stream.SetPosition(start);
  if (header.idReserved != 0 || (header.idType != 1 && header.idType != 2))
    InvalidProject("neither a project, an icon nor a cursor");
  if (header.idType == 2) {
    TAdvancedCursor cursor;
    cursor.LoadCursorFromStream(stream);
    icon.Assign(&cursor);
  } else {
    icon.LoadFromStream(stream);
  }
}

}  // namespace

// ---------------------------------------------------------------- TIconLayer

TIconLayer::TIconLayer() : FBitmap(NewLayerBitmap(0, 0)) {}
TIconLayer::~TIconLayer() = default;

void TIconLayer::Assign(TPersistent* source) {
  if (auto* image = dynamic_cast<TSubIcon*>(source)) {
    AssignFromImage(*image);
    return;
  }
  if (auto* other = dynamic_cast<TIconLayer*>(source)) {
    if (other == this) return;
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Assign(other->FBitmap.get());
    Ensure32(bitmap.get());
    FBitmap = std::move(bitmap);
    FTransparency = other->FTransparency;
    FShadowStrength = other->FShadowStrength;
    FShadowYOffset = other->FShadowYOffset;
    FShadowXOffset = other->FShadowXOffset;
    FShadowRadius = other->FShadowRadius;
    FXOffset = other->FXOffset;
    FYOffset = other->FYOffset;
    FName = other->FName;
    FTag = other->FTag;
    FHidden = other->FHidden;
    ApplyEffects();
    return;
  }
  TPersistent::Assign(source);
}

void TIconLayer::AssignFromImage(TSubIcon& image) {
  // Whether the image has alpha is told by the colour part it decodes to, not
  // by the depth its bits claim: a compressed image may decode to another
  // depth than its head or its PNG header says (a palette PNG with
  // see-through entries gives 32 bits, a 32-bit PNG under an 8-bit head gives
  // 8), and only a 32-bit colour part carries alpha of its own.
  auto bitmap = std::make_unique<TBitmap>();
  TBitmap mask;
  ExtractBitmaps(image, nullptr, bitmap.get(), kNoBackground, &mask);
  if (bitmap->PixelFormat() != pf32bit) {
    TBitmap raw;
    raw.Assign(bitmap.get());
    SetSize32AndFill(bitmap.get(), raw.GetWidth(), raw.GetHeight(), 0);
    bitmap->Canvas()->Draw(0, 0, &raw);
    SetAlphaFromMask(bitmap.get(), &mask, 255);
  }
  FBitmap = std::move(bitmap);
  // An effect picture of the old bitmap would otherwise go on being shown.
  ApplyEffects();
}

void TIconLayer::AssignTo(TPersistent* dest) {
  if (auto* image = dynamic_cast<TSubIcon*>(dest)) {
    ApplyEffects();
    SetImageFromBitmap(*image, GetDisplayBitmap());
    return;
  }
  TPersistent::AssignTo(dest);
}

TBitmap* TIconLayer::GetDisplayBitmap() { return FEffectBitmap ? FEffectBitmap.get() : FBitmap.get(); }

bool TIconLayer::HasEffects() const {
  return FXOffset != 0 || FYOffset != 0 || FTransparency != 0 || FShadowStrength != 0;
}

void TIconLayer::ApplyEffects() {
  FModified = false;
  if (!HasEffects()) {
    FEffectBitmap.reset();
    return;
  }
  // The layer's own offsets place nothing: every layer stands at (0, 0). A
  // negative y offset, or a negative x offset under a shadow, takes that many
  // rows off the bottom (columns off the right) of the area the effects are
  // rendered in, and that part of the effect picture stays transparent; an
  // offset beyond the layer's size leaves nothing to render.
  Ensure32(FBitmap.get());
  const int width = FBitmap->GetWidth(), height = FBitmap->GetHeight();
  auto shortened = [](int side, int32_t offset) {
    return offset < 0 ? static_cast<int>(std::max<int64_t>(0, int64_t(side) + offset)) : side;
  };
  const int workWidth = FShadowStrength != 0 ? shortened(width, FXOffset) : width;
  const int workHeight = shortened(height, FYOffset);
  TBitmap work;
  SetSize32AndFill(&work, workWidth, workHeight, 0);
  DrawBitmap32At(FBitmap.get(), &work, 0, 0);
  if (FTransparency != 0) FadeAlpha(&work, FTransparency);
  TBitmap shadow;
  TBitmap* rendered = &work;
  if (FShadowStrength != 0) {
    MakeDropShadow(&work, &shadow, FShadowRadius, FShadowXOffset / 100, FShadowYOffset / 100, FShadowStrength,
                   FShadowColor);
    rendered = &shadow;
  }
  // Rendered afresh each time, so nothing of an earlier rendering lingers
  // where the work area no longer reaches.
  FEffectBitmap = NewLayerBitmap(width, height);
  DrawBitmap32At(rendered, FEffectBitmap.get(), 0, 0);
}

void TIconLayer::LoadFromStream(TStream& stream) {
  const uint8_t version = stream.ReadValue<uint8_t>();
  // A record of another version has another layout: reading on would take its
  // fields for ours and every record after it would be read out of step.
  if (version != kIconLayerVersion)
    throw Exception("Unsupported icon layer record version " + std::to_string(version));
  stream.ReadValue<uint8_t>();  // the depth: layers are always read as 32-bit
  const int32_t width = stream.ReadValue<int32_t>();
  const int32_t height = stream.ReadValue<int32_t>();
  if (width < 0 || height < 0 || width > kMaxLayerSide || height > kMaxLayerSide)
    InvalidProject("layer size " + std::to_string(width) + " x " + std::to_string(height));
  const int64_t pixelBytes = static_cast<int64_t>(width) * height * kLayerPixelBytes;
  if (pixelBytes > stream.Remaining()) InvalidProject("layer pixels past the end");
  auto bitmap = NewLayerBitmap(width, height);
  if (pixelBytes > 0) stream.ReadBuffer(Block32(bitmap.get()), pixelBytes);
  const uint8_t transparency = stream.ReadValue<uint8_t>();
  const uint8_t strength = stream.ReadValue<uint8_t>();
  int32_t shadowX = 0, shadowY = 0;
  uint8_t radius = 0;
  if (strength != 0) {
    shadowX = stream.ReadValue<int32_t>();
    shadowY = stream.ReadValue<int32_t>();
    radius = stream.ReadValue<uint8_t>();
  }
  const int32_t x = stream.ReadValue<int32_t>();
  const int32_t y = stream.ReadValue<int32_t>();
  std::string name = ReadCompactString(stream);
  const int32_t tag = stream.ReadValue<int32_t>();
  const bool hidden = stream.ReadValue<uint8_t>() != 0;

  // The layer changes only once the whole record has been read.
  FBitmap = std::move(bitmap);
  FEffectBitmap.reset();  // rendered again when the layer is next shown
  FTransparency = transparency;
  FShadowStrength = strength;
  FShadowXOffset = shadowX;
  FShadowYOffset = shadowY;
  FShadowRadius = radius;
  FXOffset = x;
  FYOffset = y;
  FName = std::move(name);
  FTag = tag;
  FHidden = hidden;
}

void TIconLayer::SaveToStream(TStream& stream) {
  Ensure32(FBitmap.get());
  const int32_t width = FBitmap->GetWidth(), height = FBitmap->GetHeight();
  stream.WriteValue<uint8_t>(kIconLayerVersion);
  stream.WriteValue<uint8_t>(kLayerDepth);
  stream.WriteValue<int32_t>(width);
  stream.WriteValue<int32_t>(height);
  // The pixel block is bottom-up without padding, as the record stores it.
  if (width > 0 && height > 0)
    stream.WriteBuffer(Block32(FBitmap.get()), static_cast<int64_t>(width) * height * kLayerPixelBytes);
  stream.WriteValue<uint8_t>(FTransparency);
  stream.WriteValue<uint8_t>(FShadowStrength);
  if (FShadowStrength != 0) {
    stream.WriteValue<int32_t>(FShadowXOffset);
    stream.WriteValue<int32_t>(FShadowYOffset);
    stream.WriteValue<uint8_t>(FShadowRadius);
  }
  stream.WriteValue<int32_t>(FXOffset);
  stream.WriteValue<int32_t>(FYOffset);
  WriteCompactString(stream, FName);
  stream.WriteValue<int32_t>(FTag);
  stream.WriteValue<uint8_t>(FHidden ? 1 : 0);
}

// ---------------------------------------------------------------- TIconLayersList

TIconLayersList::~TIconLayersList() = default;

void TIconLayersList::Assign(TPersistent* source) {
  if (auto* image = dynamic_cast<TSubIcon*>(source)) {
    auto layer = std::make_unique<TIconLayer>();
    layer->Assign(image);
    Clear();
    Add(std::move(layer));
    return;
  }
  if (auto* other = dynamic_cast<TIconLayersList*>(source)) {
    if (other == this) return;
    std::vector<std::unique_ptr<TIconLayer>> copies;
    copies.reserve(other->FItems.size());
    for (const auto& layer : other->FItems) {
      copies.push_back(std::make_unique<TIconLayer>());
      copies.back()->Assign(layer.get());
    }
    FItems = std::move(copies);
    return;
  }
  TPersistent::Assign(source);
}

TIconLayer* TIconLayersList::GetItem(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(index)].get();
}

TIconLayer* TIconLayersList::Add(std::unique_ptr<TIconLayer> layer) {
  FItems.push_back(std::move(layer));
  return FItems.back().get();
}

TIconLayer* TIconLayersList::Insert(int index, std::unique_ptr<TIconLayer> layer) {
  index = std::clamp(index, 0, Count());
  return FItems.insert(FItems.begin() + index, std::move(layer))->get();
}

void TIconLayersList::Delete(int index) {
  if (index >= 0 && index < Count()) FItems.erase(FItems.begin() + index);
}

void TIconLayersList::Clear() { FItems.clear(); }

bool TIconLayersList::IsModified() const {
  return std::any_of(FItems.begin(), FItems.end(), [](const auto& layer) { return layer->Modified(); });
}

void TIconLayersList::Flatten(TBitmap* bitmap, TColor background) {
  if (!bitmap || FItems.empty()) return;
  Ensure32(bitmap);
  if (bitmap->GetWidth() == 0) {
    TBitmap* first = FItems.front()->Bitmap();
    SetSize32AndFill(bitmap, first->GetWidth(), first->GetHeight(), 0);
  }
  TBitmap work;
  TBitmap* target = bitmap;
  if (background != kNoBackground) {
    SetSize32AndFill(&work, bitmap->GetWidth(), bitmap->GetHeight(), 0);
    target = &work;
  }
  bool first = true;
  for (auto it = FItems.rbegin(); it != FItems.rend(); ++it) {
    TIconLayer& layer = **it;
    if (layer.Hidden()) continue;
    layer.ApplyEffects();
    TBitmap* shown = layer.GetDisplayBitmap();
    if (first) {
      DrawBitmap32At(shown, target, 0, 0);
      first = false;
    } else {
      Composite32(shown, target);
    }
  }
  if (background != kNoBackground) FlattenOnColor(&work, bitmap, static_cast<uint32_t>(ColorToRGB(background)));
}

void TIconLayersList::AssignTo(TPersistent* dest) {
  if (auto* image = dynamic_cast<TSubIcon*>(dest)) {
    auto bitmap = NewLayerBitmap(0, 0);
    Flatten(bitmap.get(), kNoBackground);
    SetImageFromBitmap(*image, bitmap.get());
    return;
  }
  TPersistent::AssignTo(dest);
}

// ---------------------------------------------------------------- TIconProject

TIconProject::TIconProject() : FIcon(std::make_unique<TAdvancedIcon>()) {}
TIconProject::~TIconProject() = default;

TIconLayersList* TIconProject::LayerList(int index) const {
  if (index < 0 || index >= LayerListCount()) return nullptr;
  return FLayerLists[static_cast<size_t>(index)].get();
}

TIconLayersList* TIconProject::AddLayerList() {
  FLayerLists.push_back(std::make_unique<TIconLayersList>());
  return FLayerLists.back().get();
}

void TIconProject::ClearLayerLists() { FLayerLists.clear(); }

void TIconProject::ResetLayerLists() {
  ClearLayerLists();
  SyncLayerLists();
}

void TIconProject::SyncLayerLists() {
  while (LayerListCount() < FIcon->Count()) AddLayerList();
}

void TIconProject::FlattenLayers(bool force) {
  const int n = std::min(LayerListCount(), FIcon->Count());
  for (int i = 0; i < n; ++i) {
    TIconLayersList* list = LayerList(i);
    if (list->Count() > 0 && (force || list->IsModified())) FIcon->Images()[i]->Assign(list);
  }
}

void TIconProject::Assign(TPersistent* source) {
  if (auto* icon = dynamic_cast<TAdvancedIcon*>(source)) {
    if (icon == FIcon.get()) return;
    ClearLayerLists();
    FIcon->Assign(icon);
    ResetLayerLists();
    Changed(this);
    return;
  }
  if (dynamic_cast<TRusClipboard*>(source)) {
    PasteFromClipboard();
    return;
  }
  TGraphic::Assign(source);
}

void TIconProject::PasteFromClipboard() {
  // Pasted into a separate icon first: a clipboard without a usable picture
  // leaves the project, layers and all, as it was.
  TAdvancedIcon pasted;
  pasted.PasteFromClipboard();
  if (pasted.Count() == 0) return;
  ClearLayerLists();
  FIcon->Clear();
  FIcon->Images().TakeAllImages(&pasted);
  // Every pasted image gets its (empty) layer list, so a project holding
  // images never reports itself empty.
  ResetLayerLists();
  Changed(this);
}

void TIconProject::AssignTo(TPersistent* dest) {
  if (auto* icon = dynamic_cast<TAdvancedIcon*>(dest)) {
    FlattenLayers(false);
    icon->Assign(FIcon.get());
    return;
  }
  if (auto* project = dynamic_cast<TIconProject*>(dest)) {
    if (project == this) return;
    project->Clear();
    project->FIcon->Assign(FIcon.get());
    for (const auto& list : FLayerLists) project->AddLayerList()->Assign(list.get());
    project->Changed(project);
    return;
  }
  TGraphic::AssignTo(dest);
}

void TIconProject::Draw(TCanvas* canvas, const TRect& rect) {
  TSubIcon* image = FIcon->GetBestImage(kDrawSize, kDrawSize, kDrawDepth);
  if (!image) return;
  DrawSubIconStretched(canvas, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, *image,
                       kNoBackground);
}

bool TIconProject::GetEmpty() { return FLayerLists.empty() && FIcon->Count() == 0; }

int TIconProject::GetWidth() {
  int width, height, depth;
  FIcon->GetMaxDimensions(width, height, depth);
  return width;
}

int TIconProject::GetHeight() {
  int width, height, depth;
  FIcon->GetMaxDimensions(width, height, depth);
  return height;
}

void TIconProject::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t magic[4] = {};
  const bool isProject =
      stream.Remaining() >= 4 && (stream.ReadBuffer(magic, 4), std::memcmp(magic, kIconProjectMagic, 4) == 0);
  // Everything is read into new objects first, so that a refused file leaves
  // the project as it was.
  auto icon = std::make_unique<TAdvancedIcon>();
  std::vector<std::unique_ptr<TIconLayersList>> lists;
  if (!isProject) {
    stream.SetPosition(start);
    ReadIconData(stream, *icon);
    for (int i = 0; i < icon->Count(); ++i) lists.push_back(std::make_unique<TIconLayersList>());
  } else {
    const bool hotspots = stream.ReadValue<uint8_t>() != 0;
    const int32_t imageCount = ReadCount(stream, hotspots ? 5 : 1, "image count");
    if (imageCount > TSubIconList::kMaxImages) InvalidProject("too many images");
    icon->Images().SetCapacity(imageCount);
    for (int32_t i = 0; i < imageCount; ++i) {
      auto image = ReadImageRecord(stream);
      if (hotspots) {
        const int16_t x = stream.ReadValue<int16_t>();
        const int16_t y = stream.ReadValue<int16_t>();
        image->SetHotspot(x, y);
      }
      icon->Images().Add(std::move(image));
    }
    const int32_t listCount = ReadCount(stream, 4, "layer list count");
    lists.reserve(static_cast<size_t>(listCount));
    for (int32_t i = 0; i < listCount; ++i) {
      auto list = std::make_unique<TIconLayersList>();
      const int32_t layerCount = ReadCount(stream, kMinLayerRecord, "layer count");
      for (int32_t j = 0; j < layerCount; ++j) {
        auto layer = std::make_unique<TIconLayer>();
        layer->LoadFromStream(stream);
        list->Add(std::move(layer));
      }
      lists.push_back(std::move(list));
    }
    if (hotspots) {
      const int32_t length = stream.ReadValue<int32_t>();
      if (length < 0 || length > stream.Remaining()) InvalidProject("trailing block past the end");
      stream.Seek(length, soCurrent);
    }
  }
  FIcon = std::move(icon);
  FLayerLists = std::move(lists);
  Changed(this);
}

void TIconProject::SaveToStream(TStream& stream) {
  const bool hotspots = AnyHotspot(*FIcon);
  stream.WriteBuffer(kIconProjectMagic, 4);
  stream.WriteValue<uint8_t>(hotspots ? 1 : 0);
  stream.WriteValue<int32_t>(FIcon->Count());
  for (int i = 0; i < FIcon->Count(); ++i) {
    TSubIcon* image = FIcon->Images()[i];
    image->SaveToStream(stream);
    if (hotspots) {
      stream.WriteValue<int16_t>(image->HotspotX());
      stream.WriteValue<int16_t>(image->HotspotY());
    }
  }
  stream.WriteValue<int32_t>(LayerListCount());
  for (const auto& list : FLayerLists) {
    stream.WriteValue<int32_t>(list->Count());
    for (int j = 0; j < list->Count(); ++j) list->GetItem(j)->SaveToStream(stream);
  }
  if (hotspots) {
    stream.WriteValue<int32_t>(kTrailerLength);
    stream.WriteValue<uint32_t>(0);
  }
}

void TIconProject::Clear() {
  ClearLayerLists();
  FIcon->Clear();
}

void TIconProject::MoveImage(int from, int to) {
  if (from == to) return;
  SyncLayerLists();
  FIcon->Images().Move(from, to);
  auto list = std::move(FLayerLists[static_cast<size_t>(from)]);
  FLayerLists.erase(FLayerLists.begin() + from);
  FLayerLists.insert(FLayerLists.begin() + to, std::move(list));
}

void TIconProject::DeleteImage(int index) {
  if (index < 0 || index >= FIcon->Count()) return;
  if (index < LayerListCount()) FLayerLists.erase(FLayerLists.begin() + index);
  FIcon->Images().Delete(index);
}

int TIconProject::AddImage(std::unique_ptr<TSubIcon> image) {
  if (!image) return FIcon->Count();
  SyncLayerLists();
  auto list = std::make_unique<TIconLayersList>();
  list->Assign(image.get());
  FIcon->Images().Add(std::move(image));
  FLayerLists.insert(FLayerLists.begin() + (FIcon->Count() - 1), std::move(list));
  return FIcon->Count();
}

void TIconProject::InsertImage(int index, std::unique_ptr<TSubIcon> image) {
  if (!image) return;
  SyncLayerLists();
  if (index < 0 || index >= FIcon->Count()) index = FIcon->Count();
  FIcon->Images().Insert(index, std::move(image));
  FLayerLists.insert(FLayerLists.begin() + index, std::make_unique<TIconLayersList>());
}

TSubIcon* TIconProject::AddGraphic(TBitmap* bitmap, TBitmap* mask, uint8_t byte) {
  return AddBitmap(bitmap, mask, byte);
}

TSubIcon* TIconProject::AddBitmap(TBitmap* bitmap, TBitmap* mask, uint8_t byte) {
  SyncLayerLists();
  TSubIcon* image = FIcon->Images().AddBitmap(bitmap, mask, byte);
  SyncLayerLists();
  return image;
}

void TIconProject::TakeImagesFrom(TAdvancedIcon* icon) {
  if (!icon || icon == FIcon.get()) return;
  SyncLayerLists();
  FIcon->Images().TakeAllImages(icon);
  SyncLayerLists();
}

void TIconProject::AppendProject(TPersistent* project) {
  auto* other = dynamic_cast<TIconProject*>(project);
  if (!other) return;
  SyncLayerLists();
  // Counts first: a project may be appended to itself.
  const int listCount = other->LayerListCount(), imageCount = other->FIcon->Count();
  for (int i = 0; i < listCount; ++i) AddLayerList()->Assign(other->LayerList(i));
  for (int i = 0; i < imageCount; ++i) FIcon->Images().Add(other->FIcon->Images()[i]->CreateCopy());
  SyncLayerLists();
}

void TIconProject::PutEditedLayer(int index, TPersistent* picture, const std::string& name) {
  if (index < 0 || index >= FIcon->Count() || !picture) return;
  SyncLayerLists();
  TIconLayersList& list = *LayerList(index);
  TIconLayer* edited = nullptr;
  for (int i = 0; i < list.Count(); ++i) {
    TIconLayer* layer = list[i];
    if (layer->Edited())
      edited = layer;
    else
      layer->SetHidden(true);
  }
  if (edited) {
    edited->Assign(picture);
  } else {
    auto layer = std::make_unique<TIconLayer>();
    layer->Assign(picture);
    layer->SetName(list.Count() > 0 ? IncrementNumberText(list[0]->Name()) : "1");
    edited = list.Insert(0, std::move(layer));
  }
  edited->SetHidden(false);
  edited->SetEdited(true);
  if (!name.empty()) edited->SetName(name);
}

// ---------------------------------------------------------------- free functions

void DrawSubIconStretched(TCanvas* canvas, int x, int y, int width, int height, TSubIcon& image, TColor background) {
  if (!canvas || !image.HasBits()) return;
  // A compressed image may decode to another depth than its head claims; the
  // colour part it decodes to says whether it is blended by its alpha.
  TBitmap raw, mask;
  ExtractBitmaps(image, nullptr, &raw, background, &mask);
  if (raw.PixelFormat() == pf32bit)
    DrawAlphaStretched(&raw, canvas->Handle(), x, y, width, height, background);
  else
    DrawThroughMask(canvas, Rect(x, y, x + width, y + height), raw, mask);
}

void LoadProjectIcon(TAdvancedIcon* icon, const std::string& fileName) {
  if (!icon) return;
  TIconProject project;
  project.LoadFromFile(fileName);
  icon->Assign(&project.Icon());
}

void RegisterIconProjectClass() {
  TPicture::RegisterFileFormat("ICPR", "Icon Project", TGraphicClass::Of<TIconProject>());
}

void UnregisterIconProjectClass() { TPicture::UnregisterGraphicClass(TGraphicClass::Of<TIconProject>()); }
