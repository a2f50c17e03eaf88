// The vector view's settings, measure units, undo list and notices, and the
// painting of its objects into the image.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_colorspace.h"
#include "imaging/extras/vector/image_lib_vect.h"
#include "platform/rtl/streams.h"

// ---- settings ----

void TImageLibVect::RecomputeUnitFactors() {
  FUnitFactorX = UnitFactorXOf(FMUnit);
  FUnitFactorY = UnitFactorYOf(FMUnit);
}

double TImageLibVect::UnitFactorXOf(int unit) const { return IEUnitFactor(unit, DpiX()) * FMeasureScale; }

double TImageLibVect::UnitFactorYOf(int unit) const { return IEUnitFactor(unit, DpiY()) * FMeasureScale; }

void TImageLibVect::SetMUnit(TIEUnits unit) {
  FMUnit = unit;
  FDefault.RulerUnit = unit;
  RecomputeUnitFactors();
}

void TImageLibVect::SetMeasureScale(double value) {
  FMeasureScale = value;
  RecomputeUnitFactors();
  Update();
}

void TImageLibVect::SetDpiX(int32_t value) {
  TImageLibView::SetDpiX(value);
  RecomputeUnitFactors();
  Update();
}

void TImageLibVect::SetDpiY(int32_t value) {
  TImageLibView::SetDpiY(value);
  RecomputeUnitFactors();
  Update();
}

void TImageLibVect::SetZoomObjectsWidth(bool value) {
  FZoomObjectsWidth = value;
  Update();
}

void TImageLibVect::SetBitmapResampleFilter(TResampleFilter filter) {
  FBitmapResampleFilter = filter;
  Update();
}

void TImageLibVect::SetObjAntialias(bool value) {
  if (value == FObjAntialias) return;
  FObjAntialias = value;
  Update();
}

void TImageLibVect::SetSupersampledDrawing(bool value) {
  FSupersampledDrawing = value;
  Update();
}

void TImageLibVect::SetMouseInteractVt(TIEMouseInteractVt value) {
  ResetEditing();
  if (value == FMouseInteractVt) return;
  const TIEMouseInteractVt old = FMouseInteractVt;
  static const TIEMouseInteractVtItems kOrder[] = {
      miArea,         miLineLen, miPutLine,  miPutLineLabel, miPutBox,      miPutEllipse, miPutBitmap,
      miPutText,      miPutMemo, miObjectSelect, miDragLen,  miPutRuler,    miPutPolyLine, miPutAngle,
      miPutExtendedObject};
  TIEMouseInteractVt chosen;
  bool found = false;
  for (TIEMouseInteractVtItems item : kOrder)
    if (value.Contains(item) && !old.Contains(item)) {
      chosen = TIEMouseInteractVt{item};
      found = true;
      if (item != miArea && item != miLineLen) SetMouseInteract(TIEMouseInteract{});
      break;
    }
  if (!found) {
    if (value.Contains(miEditPolyline) && !old.Contains(miEditPolyline)) {
      chosen = TIEMouseInteractVt{miEditPolyline};
      SetMouseInteract(TIEMouseInteract{});
    } else {
      chosen = value;
    }
  }
  if (value.Contains(miUnStampMode)) chosen.Include(miUnStampMode);
  FMouseInteractVt = chosen;
  if (old.Contains(miEditPolyline) || chosen.Contains(miEditPolyline)) Update();
}

void TImageLibVect::SetMouseInteract(TIEMouseInteract value) {
  TImageLibView::SetMouseInteract(value);
  if (!(value == TIEMouseInteract{})) {
    TIEMouseInteractVt kept;
    for (TIEMouseInteractVtItems item : {miArea, miLineLen, miUnStampMode})
      if (FMouseInteractVt.Contains(item)) kept.Include(item);
    FMouseInteractVt = kept;
  }
  ResetEditing();
}

void TImageLibVect::ResetEditing() {
  const bool wasEditing = FTextEditId >= 0;
  FTextEditId = -1;
  if (wasEditing && !FDestroying) Update();
}

// ---- undo ----

void TImageLibVect::ObjSaveUndoAuto() {
  FUndoSavedAtDown = FObjAutoUndo;
  if (!FObjAutoUndo) return;
  if (FObjUndoMode == ieumSeparated)
    ObjSaveUndo();
  else
    GetProc()->SaveUndo(ieuObject);
}

void TImageLibVect::ObjSaveUndo() {
  if (FObjUndoLimit <= 0) return;
  auto stream = std::make_unique<TMemoryStream>();
  SaveObjectsToStream(*stream, IEV_ALL_OBJECTS);
  while (static_cast<int>(FObjUndoList.size()) >= FObjUndoLimit) FObjUndoList.erase(FObjUndoList.begin());
  FObjUndoList.push_back(std::move(stream));
  if (GetOnSaveUndo()) GetOnSaveUndo()(this, ieuObject);
}

void TImageLibVect::ObjDiscardLastUndo() {
  if (!FObjUndoList.empty()) FObjUndoList.pop_back();
}

void TImageLibVect::ObjClearUndo() { FObjUndoList.clear(); }

TStream* TImageLibVect::ObjUndoAt(int index) {
  return index >= 0 && index < ObjUndoCount() ? FObjUndoList[static_cast<size_t>(index)].get() : nullptr;
}

// ---- notices ----

void TImageLibVect::DoVectorialChanged() {
  FChangedInGesture = true;
  FChangedOnceArmed = true;
  if (OnVectorialChanged) OnVectorialChanged(this);
}

void TImageLibVect::DoVectorialChangedOnce() {
  if (!FChangedOnceArmed) return;
  if (OnVectorialChanged) OnVectorialChanged(this);
  FChangedOnceArmed = false;
}

void TImageLibVect::DoNewObject(int hobj) {
  if (OnNewObject) OnNewObject(this, hobj);
}
void TImageLibVect::DoObjectClick(int hobj) {
  if (OnObjectClick) OnObjectClick(this, hobj);
}
void TImageLibVect::DoObjectDblClick(int hobj) {
  if (OnObjectDblClick) OnObjectDblClick(this, hobj);
}
void TImageLibVect::DoObjectOver(int hobj) {
  if (OnObjectOver) OnObjectOver(this, hobj);
}
void TImageLibVect::DoUserSelectObject(int hobj) {
  if (OnUserSelectObject) OnUserSelectObject(this, hobj);
}
void TImageLibVect::DoUserDeselectObject(int hobj) {
  if (OnUserDeselectObject) OnUserDeselectObject(this, hobj);
}
void TImageLibVect::DoObjectMoveResize(int hobj, int grip, int& offsetX, int& offsetY) {
  if (OnObjectMoveResize) OnObjectMoveResize(this, hobj, grip & 0x7F, offsetX, offsetY);
}

// ---- extents ----

TRect TImageLibVect::GetObjectsExtent() {
  if (FObjectIds.empty()) return TRect{0, 0, 0, 0};
  int64_t right = INT32_MIN, bottom = INT32_MIN;
  for (int32_t id : FObjectIds) {
    const TIEVObject* r = GetObjectRec(id);
    if (r == nullptr) continue;
    right = std::max<int64_t>(right, std::max(r->X1, r->X2));
    bottom = std::max<int64_t>(bottom, std::max(r->Y1, r->Y2));
  }
  auto clamp = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v + 1, INT32_MIN, INT32_MAX)); };
  return TRect{0, 0, clamp(right), clamp(bottom)};
}

TRect TImageLibVect::GetDrawnExtent() {
  TRect u{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (int32_t id : FObjectIds) {
    const TIEVObject* r = GetObjectRec(id);
    if (r == nullptr || r->DrawnRect.right < r->DrawnRect.left) continue;
    const int w = r->DrawnPenWidth;
    u.left = std::min(u.left, r->DrawnRect.left - w);
    u.top = std::min(u.top, r->DrawnRect.top - w);
    u.right = std::max(u.right, r->DrawnRect.right + w + 1);
    u.bottom = std::max(u.bottom, r->DrawnRect.bottom + w + 1);
  }
  if (u.right < u.left) return TRect{0, 0, 0, 0};
  return u;
}

// ---- painting into the image ----

void TImageLibVect::CopyObjectsToBack(int hobj, bool supersample, bool withAlpha, bool force24) {
  std::vector<int> ids;
  if (hobj == IEV_ALL_SELECTED_OBJECTS)
    ids = FSelectedIds;
  else
    ids.push_back(hobj);
  for (int id : ids) {
    if (FObjectsOnLayers) {
      for (int i = 0; i < GetLayersCount(); ++i)
        if (TIEBitmap* b = LayerBitmap(i)) CopyObjectsToBitmap(*b, supersample, force24, withAlpha, i, id);
    } else if (TIEBitmap* b = GetIEBitmap()) {
      CopyObjectsToBitmap(*b, supersample, force24, withAlpha, -1, id);
    }
  }
  Update();
  ImageChange();
}

namespace {

// Writes one colour into a pixel of any format; the pixels that drawing did
// not touch are never passed here, so they keep their exact values.
void PutPixel(TIEBitmap& b, int x, int y, TRGB c) {
  const int grey = (c.r * 299 + c.g * 587 + c.b * 114 + 500) / 1000;
  switch (b.PixelFormat()) {
    case ie1g: {
      uint8_t* p = b.ScanLine(y) + x / 8;
      const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
      *p = grey >= 128 ? (*p | bit) : (*p & ~bit);
      break;
    }
    case ie8p: {
      int best = 0;
      int64_t bestD = INT64_MAX;
      for (int i = 0; i < b.PaletteLength(); ++i) {
        TRGB e;
        b.GetPaletteColor(i, e);
        const int64_t d = int64_t(e.r - c.r) * (e.r - c.r) + int64_t(e.g - c.g) * (e.g - c.g) +
                          int64_t(e.b - c.b) * (e.b - c.b);
        if (d < bestD) {
          bestD = d;
          best = i;
        }
      }
      b.SetPixel8(x, y, static_cast<uint8_t>(best));
      break;
    }
    case ie8g: b.SetPixel8(x, y, static_cast<uint8_t>(grey)); break;
    case ie16g: b.SetPixel16(x, y, static_cast<uint16_t>(grey * 257)); break;
    case ie32f: b.SetPixelFloat(x, y, float(grey / 255.0)); break;
    case ieCMYK: b.SetPixelCMYK(x, y, RGBToCMYKPlain(c)); break;
    case ieRGB48:
      b.SetPixelRGB48(x, y, TRGB48{static_cast<uint16_t>(c.r * 257), static_cast<uint16_t>(c.g * 257),
                                   static_cast<uint16_t>(c.b * 257)});
      break;
    case ieCIELab: {
      const TCIELab lab = CIELabOf(c);
      std::memcpy(b.PixelAddress(y, x), &lab, sizeof(lab));
      break;
    }
    case ie24RGB:
    case ie32RGB: {
      uint8_t* p = b.PixelAddress(y, x);
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
      break;
    }
    default: break;
  }
}

}  // namespace

void TImageLibVect::CopyObjectsToBitmap(TIEBitmap& bitmap, bool supersample, bool force24, bool withAlpha, int layer,
                                        int hobj) {
  if (bitmap.Width() <= 0 || bitmap.Height() <= 0) return;
  const bool savedSuper = FSupersampledDrawing;
  const bool savedMouse = FMouseDrawing;
  if (supersample) FSupersampledDrawing = true;
  FMouseDrawing = false;
  if (bitmap.Location() == ieTBitmap && !(force24 && bitmap.PixelFormat() != ie24RGB) &&
      (bitmap.PixelFormat() == ie24RGB || bitmap.PixelFormat() == ie32RGB)) {
    DrawObjectsToBitmap(true, *bitmap.VclBitmap(), withAlpha ? &bitmap : nullptr, layer, hobj, FObjAntialias);
  } else {
    // A 24-bit copy is drawn on; only the pixels the drawing changed go back,
    // each in the bitmap's own format, so the rest keep their exact values.
    TIEBitmap work(bitmap.Width(), bitmap.Height(), ie24RGB);
    for (int y = 0; y < bitmap.Height(); ++y) {
      uint8_t* row = work.ScanLine(y);
      for (int x = 0; x < bitmap.Width(); ++x) {
        const TRGB c = bitmap.GetPixelAsRGB(x, y);
        row[3 * x] = c.b;
        row[3 * x + 1] = c.g;
        row[3 * x + 2] = c.r;
      }
    }
    const bool alpha = withAlpha;
    if (alpha) {
      TIEBitmap* wa = work.AlphaChannel();
      if (bitmap.HasAlphaChannel()) {
        TIEBitmap* ba = bitmap.AlphaChannel();
        for (int y = 0; y < bitmap.Height(); ++y)
          std::memcpy(wa->ScanLine(y), ba->ScanLine(y), static_cast<size_t>(bitmap.Width()));
        wa->SetFull(false);
      }
    }
    std::unique_ptr<TIEBitmap> before = TIEBitmap::CreateCopy(work);
    work.SetLocation(ieTBitmap);
    DrawObjectsToBitmap(true, *work.VclBitmap(), alpha ? &work : nullptr, layer, hobj, FObjAntialias);
    work.SetLocation(ieMemory);
    for (int y = 0; y < bitmap.Height(); ++y) {
      const uint8_t* now = work.ScanLine(y);
      const uint8_t* was = before->ScanLine(y);
      for (int x = 0; x < bitmap.Width(); ++x)
        if (std::memcmp(now + 3 * x, was + 3 * x, 3) != 0)
          PutPixel(bitmap, x, y, TRGB{now[3 * x], now[3 * x + 1], now[3 * x + 2]});
    }
    if (alpha && work.HasAlphaChannel()) {
      TIEBitmap* wa = work.AlphaChannel();
      TIEBitmap* wb = before->HasAlphaChannel() ? before->AlphaChannel() : nullptr;
      bool changed = false;
      for (int y = 0; y < bitmap.Height() && !changed; ++y)
        for (int x = 0; x < bitmap.Width() && !changed; ++x)
          changed = wa->GetPixel8(x, y) != (wb ? wb->GetPixel8(x, y) : 255);
      if (changed) {
        TIEBitmap* ba = bitmap.AlphaChannel();
        for (int y = 0; y < bitmap.Height(); ++y)
          std::memcpy(ba->ScanLine(y), wa->ScanLine(y), static_cast<size_t>(bitmap.Width()));
        ba->SetFull(false);
      }
    }
  }
  FSupersampledDrawing = savedSuper;
  FMouseDrawing = savedMouse;
}
