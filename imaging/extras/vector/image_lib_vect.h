#pragma once
// TImageLibVect: the image view with vector objects over its picture. It keeps
// the objects (records, drawing order, selection, shared bitmaps), saves and
// loads them as IEV streams (and with the layers as ALL streams), draws them
// over the view or into a bitmap, and paints their texts and measures.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_proc.h"
#include "imaging/core/ie_resample.h"
#include "imaging/extras/vector/vect_object.h"
#include "imaging/views/image_view.h"
#include "platform/rtl/tset.h"

class TIECanvas;
class TStream;
class TIEBitmap;

enum TIEMouseInteractVtItems : uint8_t {
  miPutLine, miPutBox, miPutEllipse, miPutBitmap, miPutText, miArea, miLineLen, miPutRuler, miPutPolyLine,
  miPutAngle, miPutMemo, miPutLineLabel, miObjectSelect, miDragLen, miEditPolyline, miUnStampMode,
  miPutExtendedObject
};
using TIEMouseInteractVt = TSet<TIEMouseInteractVtItems>;

enum TIEVUndoMode : uint8_t { ieumSeparated, ieumShared };

using TIEDrawObjectEvent = std::function<void(TObject* sender, int hobj, TBitmap* destination, const TRect& destRect,
                                              bool drawingAlpha, bool& handled)>;
using TIEOnPresentMeasure = std::function<void(TObject* sender, std::string& text, double value, int valType)>;
using TIEVObjectEvent = std::function<void(TObject* sender, int hobj)>;
using TIEVObjectMoveResizeEvent =
    std::function<void(TObject* sender, int hobj, int grip, int& offsetX, int& offsetY)>;

// The version character every IEV stream is written with, and the oldest read.
constexpr char kIEVVersion = 'S';
constexpr char kIEVOldestVersion = '1';

class TImageLibVect : public TImageLibView, public TIEVectViewLink {
public:
  explicit TImageLibVect(TComponent* owner);
  ~TImageLibVect() override;

  TIEViewKind ViewKind() const override { return ievkVectView; }

  // ---- objects ----
  // The record of an id: -1 the default record, -2 the last slot; none for -3,
  // -4, ids outside the record array and freed records.
  TIEVObject* GetObjectRec(int id);
  int AddObjectRec(const TIEVObject& source);
  void FreeObjectRec(TIEVObject& record);
  void FreeObjectTexts(TIEVObject& record);
  void FreeAllObjects();
  void RemoveAllObjects();
  int ObjectsCount() const { return static_cast<int>(FObjectIds.size()); }
  // The id at a place of the drawing list; -4 outside it.
  int GetObjFromIndex(int index) const;
  int SlotCount() const { return static_cast<int>(FRecords.size()); }

  // ---- selection ----
  void AddSelObject(int id);
  void AddSelObjectSilent(int id);
  bool IsSelObject(int id) const;
  void UnSelObject(int id);
  void UnSelAllObjects();
  void UnSelAllObjectsAndUpdate();
  int GetSelObject(int index) const;
  int SelObjectCount() const { return static_cast<int>(FSelectedIds.size()); }

  // ---- bitmaps ----
  TIEBitmap* GetBitmapAt(int index);
  int BitmapRefCount(int index) const;
  int BitmapSlotCount() const { return static_cast<int>(FBitmaps.size()); }
  int FindBitmap(TIEBitmap& bitmap);
  int NewBitmapSlot();
  void ReleaseBitmapRef(int index);
  void SetObjBitmapIndex(int id, int index);
  void SetObjBitmap(int id, TIEBitmap* bitmap);
  void SetObjBitmapICO(int id, int iconResource, int width, int height);
  void PackBitmaps();

  // ---- other object properties ----
  void SetObjUserData(int id, void* data);
  void SetObjUserDataLen(int id, int32_t length);
  void SetObjText(int id, const std::string& text);
  void SetObjPolylineClosed(int id, bool closed);
  int GetObjPolylinePointCount(int id);
  TPoint GetObjPolylinePoint(int id, int index);
  void ClearPolylinePoints(TIEVObject& record);
  void AddPolylinePoint(int id, int x, int y);
  void SetObjFont(int id, TFont* font);
  TFontStyles GetObjFontStyles(int id);
  static int GetAnglePointCount(const TPoint* points);

  // ---- streams ----
  // Writes an IEV stream of all objects (ids -3). Other ids are refused: the
  // count written would not match the records.
  bool SaveObjectsToStream(TStream& stream, int ids) override;
  // All or nothing: a stream that does not read whole leaves objects, slots,
  // scale and default bitmap as they were; LastLoadError says why.
  bool LoadObjectsFromStream(TStream& stream, bool append) override;
  bool LoadObjectsFromFile(const std::string& fileName, bool append);
  bool SaveObjectsToFile(const std::string& fileName);
  bool SaveAllToStream(TStream& stream, int layerSelector) override;
  bool LoadAllFromStream(TStream& stream) override;
  void SaveAllToFile(const std::string& fileName) override;
  bool SaveAllToFileChecked(const std::string& fileName);
  bool LoadAllFromFile(const std::string& fileName);
  static bool IsIEVStream(TStream& stream);
  static bool IsALLStream(TStream& stream);
  const std::string& LastLoadError() const { return FLastLoadError; }
  // How deep groups may nest in a stream.
  static constexpr int kMaxGroupDepth = 32;

  // ---- settings ----
  TIEUnits MUnit() const { return FMUnit; }
  void SetMUnit(TIEUnits unit);
  int FloatDigits() const { return FFloatDigits; }
  void SetFloatDigits(int value) { FFloatDigits = value; }
  int FloatPrecision() const { return FFloatPrecision; }
  void SetFloatPrecision(int value) { FFloatPrecision = value; }
  bool ShareBitmaps() const { return FShareBitmaps; }
  void SetShareBitmaps(bool value) { FShareBitmaps = value; }
  bool ZoomObjectsWidth() const { return FZoomObjectsWidth; }
  void SetZoomObjectsWidth(bool value);
  TResampleFilter BitmapResampleFilter() const { return FBitmapResampleFilter; }
  void SetBitmapResampleFilter(TResampleFilter filter);
  bool ObjAntialias() const { return FObjAntialias; }
  void SetObjAntialias(bool value);
  bool SupersampledDrawing() const { return FSupersampledDrawing; }
  void SetSupersampledDrawing(bool value);
  bool SelectOnMouseDown() const { return FSelectOnMouseDown; }
  void SetSelectOnMouseDown(bool value) { FSelectOnMouseDown = value; }
  bool ObjectsOnLayers() const { return FObjectsOnLayers; }
  void SetObjectsOnLayers(bool value) { FObjectsOnLayers = value; }
  double MeasureScale() const { return FMeasureScale; }
  void SetMeasureScale(double value);
  double UnitFactorX() const { return FUnitFactorX; }
  double UnitFactorY() const { return FUnitFactorY; }
  // The factors of any unit at the view's resolution, the measure scale included.
  double UnitFactorXOf(int unit) const;
  double UnitFactorYOf(int unit) const;
  void SetDpiX(int32_t value) override;
  void SetDpiY(int32_t value) override;
  TIEMouseInteractVt MouseInteractVt() const { return FMouseInteractVt; }
  TIEMouseInteractVt GetMouseInteractVt() const { return FMouseInteractVt; }
  void SetMouseInteractVt(TIEMouseInteractVt value);
  void SetMouseInteract(TIEMouseInteract value) override;
  void ResetEditing();
  int TextEditId() const { return FTextEditId; }
  bool IsTextEditing() const { return FTextEditId >= 0; }

  // ---- undo ----
  int ObjUndoLimit() const { return FObjUndoLimit; }
  void SetObjUndoLimit(int value) { FObjUndoLimit = value; }
  bool ObjAutoUndo() const { return FObjAutoUndo; }
  void SetObjAutoUndo(bool value) { FObjAutoUndo = value; }
  TIEVUndoMode ObjUndoMode() const { return FObjUndoMode; }
  void SetObjUndoMode(TIEVUndoMode value) { FObjUndoMode = value; }
  void ObjSaveUndoAuto();
  void ObjSaveUndo();
  void ObjDiscardLastUndo();
  void ObjClearUndo();
  int ObjUndoCount() const { return static_cast<int>(FObjUndoList.size()); }
  TStream* ObjUndoAt(int index);

  // ---- painting into the image ----
  void CopyObjectsToBack(int hobj, bool supersample, bool withAlpha, bool force24);
  void CopyAllObjectsToBack(bool supersample, bool withAlpha, bool force24) {
    CopyObjectsToBack(IEV_ALL_OBJECTS, supersample, withAlpha, force24);
  }
  void CopyObjectsToBitmap(TIEBitmap& bitmap, bool supersample, bool force24, bool withAlpha, int layer, int hobj);
  TRect GetObjectsExtent();
  // The union of the DrawnRects of the last drawing, in its coordinates;
  // empty (right <= left) when nothing was drawn.
  TRect GetDrawnExtent();

  // ---- drawing ----
  void DrawObjectsToBitmap(bool imageCoords, TBitmap& destination, TIEBitmap* alphaTarget, int layer, int id,
                           bool antialias);
  bool DrawObject(TIEVObject& record, int id, int layer, bool drawingAlpha, int f, TIEBitmap* workTarget, bool zoomed,
                  bool clipToView, TBitmap& destination);
  void DrawAllObjects(TBitmap& destination);
  void DrawPolylineVertexMarks(TCanvas& canvas);
  void DrawLayers(TIEBitmap* dest, TIEBitmap* destAlpha, bool drawBoxes, bool drawBackground,
                  const TRect* clip) override;
  void DrawLayerOverlay(int index, TIEBitmap* dest, const TRect* clip) override;
  int DrawnObjectCount() const { return FDrawnObjectCount; }
  bool MouseDrawing() const { return FMouseDrawing; }
  int64_t ObjToViewX(int64_t x, int layer);
  int64_t ObjToViewY(int64_t y, int layer);
  int ViewToObjX(int x, int layer);
  int ViewToObjY(int y, int layer);
  int ObjToDrawX(int64_t x, bool zoomed, int layer, int f);
  int ObjToDrawY(int64_t y, bool zoomed, int layer, int f);
  TRect GetLayerViewRect(int layer);
  TIEBitmap* ObjWorkBitmap() { return FWorkBitmap.get(); }

  // ---- painters ----
  void DrawTextObject(TIECanvas& canvas, TIEVObject& record, int id, int x1, int y1, int x2, int y2, double zx,
                      double zy, bool drawingAlpha);
  void DrawLineLabel(TIECanvas& canvas, TIEVObject& record, int x1, int y1, int x2, int y2, double zx, double zy);
  void DrawRuler(TIECanvas& canvas, TIEVObject* record, int x1, int y1, int x2, int y2, const LOGFONTA* font,
                 double iy, double ix, int rulerType, int penWidth, TColor color, int unit, double length);
  void DrawAngle(TIECanvas& canvas, TIEVObject* record, const TPoint* points, int layer, const LOGFONTA* font,
                 double iy, double ix, int f, bool zoomed, int penWidth, TColor color);

  // ---- event dispatchers ----
  void DoVectorialChanged();
  void DoVectorialChangedOnce();
  void DoNewObject(int hobj);
  void DoObjectClick(int hobj);
  void DoObjectDblClick(int hobj);
  void DoObjectOver(int hobj);
  void DoUserSelectObject(int hobj);
  void DoUserDeselectObject(int hobj);
  void DoObjectMoveResize(int hobj, int grip, int& offsetX, int& offsetY);
  // Nothing until the mouse editing of objects lands.
  void DrawSelectionGrips(TCanvas& canvas) {}

  // ---- events ----
  TNotifyEvent OnSelectObject;
  TIEVObjectEvent OnUserSelectObject;
  TIEVObjectEvent OnUserDeselectObject;
  TIEOnPresentMeasure OnPresentMeasure;
  TIEVObjectEvent OnNewObject;
  TIEVObjectMoveResizeEvent OnObjectMoveResize;
  TIEVObjectEvent OnObjectClick;
  TIEVObjectEvent OnObjectDblClick;
  TIEVObjectEvent OnObjectOver;
  TNotifyEvent OnVectorialChanged;
  TNotifyEvent OnBeforeVectorialChanged;
  TIEDrawObjectEvent OnBeforeDrawObject;
  TIEDrawObjectEvent OnAfterDrawObject;
  TNotifyEvent OnActivateTextEdit;
  TNotifyEvent OnDeactivateTextEdit;

private:
  struct TBitmapSlot {
    std::unique_ptr<TIEBitmap> Bitmap;
    int32_t Count = 0;
  };
  struct LoadState;
  friend struct TIEVStreamReader;
  friend struct TIEVStreamWriter;

  void CreateDefaultRecord();
  void RecomputeUnitFactors();
  void ExtendDrawn(TIEVObject& record, int x, int y);
  void DrawKind(TIECanvas& canvas, TIEVObject& record, int id, int layer, bool drawingAlpha, int f,
                TIEBitmap* workTarget, bool zoomed, TBitmap& destination, int x1, int y1, int x2, int y2, double zx,
                double zy, int pw);
  void DrawLineShape(TIECanvas& canvas, TIEVObject& record, int shape, TPoint tip, TPoint other, int sw, int sl);
  void DrawObjectBitmap(TBitmap& destination, TIEVObject& record, int pw, TIEBitmap* workTarget, int x1, int y1,
                        int x2, int y2);
  void DrawThroughWork(TIEVObject& record, int id, int layer, int f, bool antialias, bool zoomed, TBitmap& destination,
                       TIEBitmap* alphaTarget, bool supersampled);
  void EnsureWorkBitmap(int width, int height);
  std::vector<int> IdsToDraw(int id) const;
  void WriteObjectRecord(TStream& stream, int id);

  // stores
  std::vector<std::unique_ptr<TIEVObject>> FRecords;
  std::vector<int32_t> FObjectIds;
  std::vector<int32_t> FSelectedIds;
  std::vector<TBitmapSlot> FBitmaps;
  TIEVObject FDefault;
  // settings
  TIEUnits FMUnit = ieuPIXELS;
  int FFloatDigits = 2;
  int FFloatPrecision = 15;
  bool FShareBitmaps = true;
  bool FZoomObjectsWidth = true;
  TResampleFilter FBitmapResampleFilter = rfNone;
  int FObjUndoLimit = 1;
  bool FObjAutoUndo = false;
  TIEVUndoMode FObjUndoMode = ieumSeparated;
  bool FObjAntialias = true;
  bool FSelectOnMouseDown = true;
  bool FSupersampledDrawing = false;
  bool FObjectsOnLayers = true;
  double FMeasureScale = 1.0;
  double FUnitFactorX = 1.0, FUnitFactorY = 1.0;
  TIEMouseInteractVt FMouseInteractVt;
  int FTextEditId = -1;
  // drawing
  std::unique_ptr<TIEBitmap> FWorkBitmap;
  bool FMouseDrawing = false;
  bool FObjectDragging = false;
  int FDrawnObjectCount = 0;
  // The size of the bitmap being drawn on.
  int FDrawWidth = 0, FDrawHeight = 0;
  // undo and notices
  std::vector<std::unique_ptr<TStream>> FObjUndoList;
  bool FUndoSavedAtDown = false;
  bool FChangedInGesture = false;
  bool FChangedOnceArmed = true;
  std::string FLastLoadError;
  bool FDestroying = false;
};

// Registers the vector view with the input/output layer: the IEV and ALL
// probes and the temporary view that renders files of types 25 and 27.
void RegisterVectorObjectFormats();
