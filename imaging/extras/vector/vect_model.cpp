// The stores of the vector view: records, drawing list, selection and the
// table of shared bitmaps, with the small operations that act on them.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_bitmap_compare.h"
#include "imaging/core/ie_canvas.h"
#include "imaging/extras/vector/image_lib_vect.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/sysutils.h"

namespace {

// The record array and the drawing list grow in steps of 522 slots whenever
// their count reaches a multiple of 512.
template <class V>
void GrowLikeTheList(V& v) {
  if (v.size() % 512 == 0) v.reserve(v.size() + 522);
}

// The error picture of the default record: a red disc with a white cross on
// white, drawn here so that no system icon is needed.
std::unique_ptr<TIEBitmap> MakeErrorPicture() {
  auto bitmap = std::make_unique<TIEBitmap>(64, 64, ie24RGB);
  bitmap->Fill(0xFFFFFF);
  const double c = 31.5, r = 30.0;
  for (int y = 0; y < 64; ++y) {
    uint8_t* row = bitmap->ScanLine(y);
    for (int x = 0; x < 64; ++x) {
      const double dx = x - c, dy = y - c;
      const double d = std::sqrt(dx * dx + dy * dy);
      // coverage of the disc's edge over one pixel
      const double disc = std::clamp(r + 0.5 - d, 0.0, 1.0);
      // the cross: two bars 8 pixels wide along the diagonals, inside 15 pixels of the centre
      const double along = std::max(std::abs(dx), std::abs(dy));
      const double bar = std::min(std::abs(dx - dy), std::abs(dx + dy)) / std::sqrt(2.0);
      const double cross = along <= 15 ? std::clamp(4.5 - bar, 0.0, 1.0) : 0.0;
      const double red[3] = {0x20, 0x20, 0xD0};  // blue, green, red
      for (int k = 0; k < 3; ++k) {
        const double inside = red[k] * (1 - cross) + 255 * cross;
        row[3 * x + k] = static_cast<uint8_t>(std::lround(255 * (1 - disc) + inside * disc));
      }
    }
  }
  return bitmap;
}

}  // namespace

TImageLibVect::TImageLibVect(TComponent* owner) : TImageLibView(owner) {
  StartGdiPlus();
  CreateDefaultRecord();
  RecomputeUnitFactors();
}

TImageLibVect::~TImageLibVect() {
  FDestroying = true;
  ResetEditing();
  FreeAllObjects();
  FreeObjectRec(FDefault);
  FSelectedIds.clear();
  FRecords.clear();
  FBitmaps.clear();
  FWorkBitmap.reset();
  ObjClearUndo();
  StopGdiPlus();
}

void TImageLibVect::CreateDefaultRecord() {
  FDefault.X1 = 0;
  FDefault.Y1 = 0;
  FDefault.X2 = 63;
  FDefault.Y2 = 63;
  FDefault.ShapeWidth = 10;
  FDefault.ShapeHeight = 20;
  FDefault.AnglePoints[0] = TPoint{0, 0};
  FDefault.AnglePoints[1] = TPoint{50, 0};
  FDefault.AnglePoints[2] = TPoint{50, 50};
  FDefault.RulerUnit = FMUnit;
  TFont* font = GetCanvas()->Font();
  font->SetName("Arial");
  SetObjFont(IEV_DEFAULT_OBJECT, font);
  std::unique_ptr<TIEBitmap> error = MakeErrorPicture();
  FBitmaps.clear();
  FBitmaps.push_back(TBitmapSlot{std::move(error), 1});
  FDefault.BitmapIndex = 0;
}

// ---- records ----

TIEVObject* TImageLibVect::GetObjectRec(int id) {
  if (id == IEV_DEFAULT_OBJECT) return &FDefault;
  if (id == IEV_PREVIOUS_INSERTED_OBJECT) id = static_cast<int>(FRecords.size()) - 1;
  if (id < 0 || id >= static_cast<int>(FRecords.size())) return nullptr;
  TIEVObject* r = FRecords[static_cast<size_t>(id)].get();
  return r->Live ? r : nullptr;
}

int TImageLibVect::GetObjFromIndex(int index) const {
  return index >= 0 && index < ObjectsCount() ? FObjectIds[static_cast<size_t>(index)] : IEV_NO_OBJECT;
}

int TImageLibVect::AddObjectRec(const TIEVObject& source) {
  GrowLikeTheList(FObjectIds);
  GrowLikeTheList(FRecords);
  const int id = static_cast<int>(FRecords.size());
  auto owned = std::make_unique<TIEVObject>();
  TIEVObject& r = *owned;
  static_cast<TIEVObjectFields&>(r) = source;
  FRecords.push_back(std::move(owned));
  FObjectIds.push_back(id);
  // What the copy must not share with its source.
  r.BitmapIndex = -1;
  r.UserData = nullptr;
  r.UserDataLen = 0;
  r.SoftShadow = source.SoftShadow;
  if (source.Kind == ievkExtended && source.Extended) {
    r.Extended = source.Extended->Clone();
    if (r.Extended) {
      r.Extended->Owner = this;
      r.Extended->Record = &r;
      r.Extended->SetId(id);
    }
  }
  if (source.Kind == ievkBitmap || (source.Kind == ievkMemo && source.MemoHasBitmap))
    SetObjBitmapIndex(id, source.BitmapIndex);
  auto copyFont = [&] {
    if (source.Font) r.Font = std::make_unique<LOGFONTA>(*source.Font);
  };
  switch (source.Kind) {
    case ievkText:
    case ievkLineLabel:
    case ievkExtended:
      r.Text = source.Text;
      copyFont();
      r.CurvePoints = source.CurvePoints;
      break;
    case ievkMemo:
      r.Text = source.Text;
      copyFont();
      if (source.HasCharFormatIndex()) {
        // One entry per character, and one spare.
        r.CharFormatIndex.assign(r.Text.size() + 1, 0);
        std::copy_n(source.CharFormatIndex.begin(), std::min(source.CharFormatIndex.size(), r.CharFormatIndex.size()),
                    r.CharFormatIndex.begin());
        r.CharFormats = source.CharFormats;
      }
      break;
    case ievkRuler:
    case ievkAngle: copyFont(); break;
    default: break;
  }
  r.AuxText = source.AuxText;
  if (source.Kind != ievkLine && source.Kind != ievkRuler && source.Kind != ievkPolyline &&
      source.Kind != ievkLineLabel) {
    if (r.X1 > r.X2) std::swap(r.X1, r.X2);
    if (r.Y1 > r.Y2) std::swap(r.Y1, r.Y2);
  }
  if (source.Kind == ievkPolyline) {
    r.Points = source.Points;
    r.PointCapacity = source.PointCount();
    r.PointsBase = source.PointsBase;
  } else {
    r.Points.clear();
    r.PointCapacity = 0;
    r.PointsBase = TRect{};
    r.Closed = false;
  }
  return id;
}

void TImageLibVect::FreeObjectTexts(TIEVObject& record) {
  record.Text.clear();
  record.CharFormatIndex.clear();
  record.CharFormats.clear();
}

void TImageLibVect::FreeObjectRec(TIEVObject& record) {
  if (record.BitmapIndex >= 0) {
    ReleaseBitmapRef(record.BitmapIndex);
    record.BitmapIndex = -1;
  }
  record.AuxText.clear();
  record.Font.reset();
  FreeObjectTexts(record);
  record.CurvePoints.clear();
  record.Points.clear();
  record.PointCapacity = 0;
  record.PointsBase = TRect{};
  record.Closed = false;
  record.ViewPoints.clear();
  record.Extended.reset();
  record.UserDataStore.clear();
  record.UserData = nullptr;
  record.UserDataLen = 0;
  if (&record != &FDefault) record.Live = false;
}

void TImageLibVect::FreeAllObjects() {
  for (int32_t id : FObjectIds)
    if (TIEVObject* r = GetObjectRec(id)) FreeObjectRec(*r);
  FObjectIds.clear();
}

void TImageLibVect::RemoveAllObjects() {
  ResetEditing();
  if (FObjAutoUndo) ObjSaveUndoAuto();
  FreeAllObjects();
  FRecords.clear();
  FSelectedIds.clear();
  // The default record's bitmap is the one slot of a fresh table.
  std::unique_ptr<TIEBitmap> kept;
  if (FDefault.BitmapIndex >= 0 && FDefault.BitmapIndex < BitmapSlotCount())
    kept = std::move(FBitmaps[static_cast<size_t>(FDefault.BitmapIndex)].Bitmap);
  FBitmaps.clear();
  if (kept) {
    FBitmaps.push_back(TBitmapSlot{std::move(kept), 1});
    FDefault.BitmapIndex = 0;
  } else {
    FDefault.BitmapIndex = -1;
  }
  DoVectorialChanged();
  Update();
}

// ---- selection ----

void TImageLibVect::AddSelObjectSilent(int id) {
  if (id == IEV_PREVIOUS_INSERTED_OBJECT) id = SlotCount() - 1;
  TIEVObject* r = id >= 0 ? GetObjectRec(id) : nullptr;
  if (r != nullptr && (r->Flags & ievfSelectable) != 0) FSelectedIds.push_back(id);
}

void TImageLibVect::AddSelObject(int id) {
  AddSelObjectSilent(id);
  if (OnSelectObject) OnSelectObject(this);
}

bool TImageLibVect::IsSelObject(int id) const {
  if (id == IEV_PREVIOUS_INSERTED_OBJECT) id = static_cast<int>(FRecords.size()) - 1;
  return std::find(FSelectedIds.begin(), FSelectedIds.end(), id) != FSelectedIds.end();
}

void TImageLibVect::UnSelObject(int id) {
  if (id == IEV_PREVIOUS_INSERTED_OBJECT) id = SlotCount() - 1;
  auto it = std::find(FSelectedIds.begin(), FSelectedIds.end(), id);
  if (it == FSelectedIds.end()) return;
  FSelectedIds.erase(it);
  if (OnSelectObject) OnSelectObject(this);
}

void TImageLibVect::UnSelAllObjects() {
  FSelectedIds.clear();
  if (OnSelectObject) OnSelectObject(this);
}

void TImageLibVect::UnSelAllObjectsAndUpdate() {
  UnSelAllObjects();
  Update();
}

int TImageLibVect::GetSelObject(int index) const {
  return index >= 0 && index < SelObjectCount() ? FSelectedIds[static_cast<size_t>(index)] : 0;
}

// ---- bitmaps ----

TIEBitmap* TImageLibVect::GetBitmapAt(int index) {
  return index >= 0 && index < BitmapSlotCount() ? FBitmaps[static_cast<size_t>(index)].Bitmap.get() : nullptr;
}

int TImageLibVect::BitmapRefCount(int index) const {
  return index >= 0 && index < BitmapSlotCount() ? FBitmaps[static_cast<size_t>(index)].Count : 0;
}

int TImageLibVect::FindBitmap(TIEBitmap& bitmap) {
  for (int i = BitmapSlotCount() - 1; i >= 0; --i) {
    TIEBitmap* b = FBitmaps[static_cast<size_t>(i)].Bitmap.get();
    if (b != nullptr && SameBitmaps(*b, bitmap)) return i;
  }
  return -1;
}

int TImageLibVect::NewBitmapSlot() {
  for (int i = 0; i < BitmapSlotCount(); ++i)
    if (!FBitmaps[static_cast<size_t>(i)].Bitmap) return i;
  FBitmaps.emplace_back();
  return BitmapSlotCount() - 1;
}

void TImageLibVect::ReleaseBitmapRef(int index) {
  if (index < 0 || index >= BitmapSlotCount()) return;
  TBitmapSlot& slot = FBitmaps[static_cast<size_t>(index)];
  if (slot.Count <= 1) {
    slot.Bitmap.reset();
    slot.Count = 0;
  } else {
    --slot.Count;
  }
}

void TImageLibVect::SetObjBitmapIndex(int id, int index) {
  TIEVObject* r = GetObjectRec(id);
  if (r == nullptr) return;
  if (r->BitmapIndex >= 0) ReleaseBitmapRef(r->BitmapIndex);
  // A slot that holds no bitmap cannot be referred to: the object shows the placeholder.
  if (index < 0 || GetBitmapAt(index) == nullptr) {
    r->BitmapIndex = -1;
    return;
  }
  if (FShareBitmaps) {
    r->BitmapIndex = index;
    ++FBitmaps[static_cast<size_t>(index)].Count;
    return;
  }
  auto copy = TIEBitmap::CreateCopy(*GetBitmapAt(index));
  const int slot = NewBitmapSlot();
  FBitmaps[static_cast<size_t>(slot)] = TBitmapSlot{std::move(copy), 1};
  r->BitmapIndex = slot;
}

void TImageLibVect::SetObjBitmap(int id, TIEBitmap* bitmap) {
  TIEVObject* r = GetObjectRec(id);
  if (r == nullptr) return;
  if (r->BitmapIndex >= 0) ReleaseBitmapRef(r->BitmapIndex);
  r->BitmapIndex = -1;
  if (bitmap == nullptr) return;
  if (FShareBitmaps) {
    const int found = FindBitmap(*bitmap);
    if (found >= 0) {
      r->BitmapIndex = found;
      ++FBitmaps[static_cast<size_t>(found)].Count;
      return;
    }
  }
  auto copy = TIEBitmap::CreateCopy(*bitmap);
  const int slot = NewBitmapSlot();
  FBitmaps[static_cast<size_t>(slot)] = TBitmapSlot{std::move(copy), 1};
  r->BitmapIndex = slot;
}

void TImageLibVect::SetObjBitmapICO(int id, int iconResource, int width, int height) {
  if (width <= 0 || height <= 0) return;
  // No system icon set exists here; the object gets our error picture at the size asked.
  std::unique_ptr<TIEBitmap> picture = MakeErrorPicture();
  (void)iconResource;
  TIEBitmap sized(width, height, ie24RGB);
  picture->RenderToTIEBitmap(sized, 0, 0, width, height, 0, 0, 64, 64, rfTriangle);
  SetObjBitmap(id, &sized);
}

void TImageLibVect::PackBitmaps() {
  std::vector<int> map(FBitmaps.size(), -1);
  std::vector<TBitmapSlot> packed;
  for (size_t i = 0; i < FBitmaps.size(); ++i) {
    if (!FBitmaps[i].Bitmap) continue;
    map[i] = static_cast<int>(packed.size());
    packed.push_back(std::move(FBitmaps[i]));
  }
  FBitmaps = std::move(packed);
  auto remap = [&](TIEVObject& r) {
    if (r.BitmapIndex >= 0) r.BitmapIndex = r.BitmapIndex < static_cast<int>(map.size()) ? map[r.BitmapIndex] : -1;
  };
  remap(FDefault);
  // Every record: one outside the drawing list keeps no stale index either.
  for (auto& r : FRecords)
    if (r->Live) remap(*r);
}

// ---- other properties ----

void TImageLibVect::SetObjUserData(int id, void* data) {
  if (TIEVObject* r = GetObjectRec(id)) {
    r->UserDataStore.clear();
    r->UserData = data;
  }
}

void TImageLibVect::SetObjUserDataLen(int id, int32_t length) {
  if (TIEVObject* r = GetObjectRec(id)) r->UserDataLen = length;
}

void TImageLibVect::SetObjText(int id, const std::string& text) {
  TIEVObject* r = GetObjectRec(id);
  if (r == nullptr) return;
  r->Text = text;
  if (r->Kind == ievkMemo && r->HasCharFormatIndex()) r->CharFormatIndex.resize(text.size() + 1, 0);
  if (id != IEV_DEFAULT_OBJECT) Update();
}

void TImageLibVect::SetObjPolylineClosed(int id, bool closed) {
  if (TIEVObject* r = GetObjectRec(id)) {
    r->Closed = closed;
    if (id != IEV_DEFAULT_OBJECT) Update();
  }
}

int TImageLibVect::GetObjPolylinePointCount(int id) {
  TIEVObject* r = GetObjectRec(id);
  return r ? r->PointCount() : 0;
}

namespace {

double PolylineFactor(int32_t boxA, int32_t boxB, int32_t baseA, int32_t baseB) {
  const int64_t base = int64_t(baseB) - baseA;
  return base == 0 ? 1.0 : double(int64_t(boxB) - boxA) / double(base);
}

}  // namespace

TPoint TImageLibVect::GetObjPolylinePoint(int id, int index) {
  TIEVObject* r = GetObjectRec(id);
  if (r == nullptr || index < 0 || index >= r->PointCount()) return TPoint{-1, -1};
  const double sx = PolylineFactor(r->X1, r->X2, r->PointsBase.left, r->PointsBase.right);
  const double sy = PolylineFactor(r->Y1, r->Y2, r->PointsBase.top, r->PointsBase.bottom);
  const TPoint p = r->Points[static_cast<size_t>(index)];
  return TPoint{r->X1 + static_cast<int>(std::lround((double(p.x) - r->PointsBase.left) * sx)),
                r->Y1 + static_cast<int>(std::lround((double(p.y) - r->PointsBase.top) * sy))};
}

void TImageLibVect::ClearPolylinePoints(TIEVObject& record) {
  record.Points.clear();
  record.Points.shrink_to_fit();
  record.PointCapacity = 0;
  record.PointsBase = TRect{};
  record.Closed = false;
}

void TImageLibVect::AddPolylinePoint(int id, int x, int y) {
  TIEVObject* r = GetObjectRec(id);
  if (r == nullptr) return;
  if (!r->Points.empty() && r->Points.back().x == x && r->Points.back().y == y) return;
  const int count = r->PointCount() + 1;
  if (count > r->PointCapacity) {
    r->PointCapacity = 2 * count;
    r->Points.reserve(static_cast<size_t>(r->PointCapacity));
  }
  r->Points.push_back(TPoint{x, y});
  if (count == 1) {
    r->X1 = r->X2 = x;
    r->Y1 = r->Y2 = y;
  } else {
    r->X1 = std::min(r->X1, x);
    r->X2 = std::max(r->X2, x);
    r->Y1 = std::min(r->Y1, y);
    r->Y2 = std::max(r->Y2, y);
  }
  r->PointsBase = TRect{r->X1, r->Y1, r->X2, r->Y2};
}

void TImageLibVect::SetObjFont(int id, TFont* font) {
  TIEVObject* r = GetObjectRec(id);
  if (r == nullptr || font == nullptr) return;
  if (!r->Font) r->Font = std::make_unique<LOGFONTA>();
  LOGFONTA lf{};
  GetObject(font->Handle(), sizeof(LOGFONTA), &lf);
  *r->Font = lf;
  r->PenColor = ColorToRGB(font->Color());
  if (id != IEV_DEFAULT_OBJECT) Update();
}

TFontStyles TImageLibVect::GetObjFontStyles(int id) {
  TFontStyles styles;
  TIEVObject* r = GetObjectRec(id);
  if (r == nullptr || !r->Font) return styles;
  if (r->Font->lfWeight >= 700) styles.Include(fsBold);
  if (r->Font->lfItalic) styles.Include(fsItalic);
  if (r->Font->lfUnderline) styles.Include(fsUnderline);
  if (r->Font->lfStrikeOut) styles.Include(fsStrikeOut);
  return styles;
}

int TImageLibVect::GetAnglePointCount(const TPoint* points) {
  int n = 0;
  while (n < 3 && points[n].x != kIEVUnsetPoint) ++n;
  return n;
}
