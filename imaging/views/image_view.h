#pragma once
// TImageLibView: the library's zoomable, scrollable single-image view. It shows
// the bitmap of its current layer on a background of a chosen style, keeps one
// selection (polygon and mask), and turns mouse input into zooming, scrolling
// and selecting. Painting composes a 24-bit back buffer that is copied to the
// window; every change of zoom, size, bitmap or selection goes through Update.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_proc.h"
#include "imaging/core/ie_progress.h"
#include "imaging/core/ie_resample.h"
#include "imaging/views/ie_view.h"
#include "imaging/views/image_view_layer.h"
#include "imaging/views/transition_link.h"
#include "platform/rtl/tset.h"
#include "platform/ui/std_edits.h"

class TImageLibIO;
class TImageLibView;
class TGraphic;
class TMemoryStream;
class TStream;

enum TIEBackgroundStyle : uint8_t {
  iebsSolid, iebsHorizontal, iebsVertical, iebsFDiagonal, iebsBDiagonal, iebsCross, iebsDiagCross,
  iebsChessboard, iebsDiagonals, iebsCropped, iebsCropShadow, iebsGradient, iebsSoftShadow, iebsPhotoLike
};
enum TIEWallpaperStyle : uint8_t { iewoNormal, iewoStretch, iewoTile };

enum TIEMouseInteractItems : uint8_t {
  miZoom, miScroll, miSelect, miSelectPolygon, miSelectCircle, miSelectZoom, miSelectMagicWand, miSelectLasso,
  miMoveLayers, miResizeLayers, miRotateLayers, miMovingScroll
};
using TIEMouseInteract = TSet<TIEMouseInteractItems>;

enum TIESelectionOptions : uint8_t {
  iesoAnimated, iesoSizeable, iesoMoveable, iesoFilled, iesoCutBorders, iesoMarkOuter, iesoCanScroll,
  iesoSelectTranspLayers, iesoRightButtonSelectLayers, iesoRightButtonTerminatePolySelect,
  iesoDisableOneClickDeselect
};
using TIESelectionOptionsSet = TSet<TIESelectionOptions>;

enum TIESelectionBase : uint8_t { iesbClientArea, iesbBitmap };

// The view's screen cursors (registered from the program's cursor resources).
constexpr TCursor kIECursorZoomOut = 1778;
constexpr TCursor kIECursorZoomIn = 1779;
constexpr TCursor kIECursorHand = 1782;
constexpr TCursor kIECursorCross = 1785;
constexpr TCursor kIECursorMoveNWSE = 1786;
constexpr TCursor kIECursorMoveNS = 1787;
constexpr TCursor kIECursorMoveNESW = 1788;
constexpr TCursor kIECursorMoveWE = 1789;
constexpr TCursor kIECursorMove = 1790;
constexpr TCursor kIECursorCrossAdd = 1791;
constexpr TCursor kIECursorCross2 = 1793;
constexpr TCursor kIECursorCross2Add = 1794;
// Registers cursors 1778 to 1814 with the screen (again harmless).
void LoadViewCursors();
// The resource name a view cursor id is loaded from.
std::string ViewCursorResourceName(int id);

class TIEScrollBarParams : public TObject {
public:
  int32_t LineStep = -1;
  int32_t PageStep = -1;
  bool Tracking = true;
};

class TIEMouseWheelParams : public TObject {
public:
  bool InvertWheel = false;
  uint8_t Action = 2;     // 0 none, 1 scroll, 2 zoom
  uint8_t Variation = 1;  // 0 absolute step, 1 percent
  int32_t Value = 8;
  bool ZoomPosition = false;  // zoom about the mouse instead of the view centre
};

// The outline of the selection: points in bitmap coordinates, sub-polygons
// separated by a point whose x is kIEPolygonSeparator.
struct TIESelectionPolygon {
  std::vector<POINT> Points;
  TColor Color1 = clBlack;
  TColor Color2 = clWhite;
  bool Animated = true;
  int32_t Phase = 0;
  int32_t X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;  // box; right and bottom one past for rectangles
  bool Visible = false;
  bool Sizeable = true;
  int Count() const { return static_cast<int>(Points.size()); }
  void Clear() { Points.clear(); }
  void Add(int x, int y);
  void AddBreak() { Add(kIEPolygonSeparator, 0); }
  void UpdateBox();
  // Exactly four points, consecutive points sharing alternately x and y.
  bool IsRectangle() const;
};

// What an OnViewChange reports: the view scrolled, or its zoom changed.
enum TIEViewChange : uint8_t { ievcScroll = 0, ievcZoom = 1 };
// What an OnViewChanging announces, with the value it is about to take.
enum TIEViewChanging : uint8_t { ievgHorizontalScroll = 0, ievgVerticalScroll = 1, ievgZoom = 2 };
using TIEViewChangeEvent = std::function<void(TObject* sender, TIEViewChange change)>;
using TIEViewChangingEvent = std::function<void(TObject* sender, TIEViewChanging change, double newValue)>;
using TIEZoomEvent = std::function<void(TObject* sender, double& newZoom)>;
using TIEFinishSmoothTaskEvent = std::function<void(TObject* sender, int task)>;
using TIEDrawCanvasEvent = std::function<void(TObject* sender, TCanvas* canvas, const TRect& rect)>;
using TIEDrawBackgroundEvent = std::function<void(TObject* sender, TCanvas* canvas, const TRect& rect, bool& handled)>;
using TIEDrawLayerEvent = std::function<void(TObject* sender, TIEBitmap* dest, int layerIndex)>;
using TIEMouseInResizingGripEvent = std::function<void(TObject* sender, int grip)>;
using TIESetCursorEvent = std::function<void(TObject* sender, TCursor& cursor)>;
using TIESpecialKeyEvent = std::function<void(TObject* sender, WORD charCode, TShiftState shift, bool& handled)>;
using TIEVirtualKeyEvent = std::function<void(TObject* sender, WORD virtualKey, uint32_t keyData, bool keyDown)>;
using TIELayerNotifyEvent = std::function<void(TObject* sender, int layer, int event)>;
using TIEDrawPolygonEvent =
    std::function<void(TObject* sender, int polygon, int point, TCanvas* canvas, int x, int y)>;

class TImageLibView : public TIEView, public TIELayeredViewLink {
public:
  explicit TImageLibView(TComponent* owner);
  ~TImageLibView() override;

  // ---- the operations of the base, implemented ----
  void SetBackground(uint32_t color) override;
  TBitmap* GetBitmap() override;
  TIEBitmap* GetIEBitmap() override;
  TIEBitmap* GetAlphaChannel() override;
  bool GetHasAlphaChannel() override;
  void RemoveAlphaChannel(bool merge) override;
  void LockPaint() override;
  int UnlockPaint() override;
  int UnlockPaintNoRefresh() override;
  void ImageChange() override;

  // ---- the virtual operations of this class, in their contract order ----
  virtual void SetScrollBars(TScrollStyle style);
  virtual void SetMouseInteract(TIEMouseInteract value);
  virtual void DoViewChange(TIEViewChange change);
  virtual void DoViewChanging(TIEViewChanging change, double newValue);
  virtual void ShiftMousePoints(int dx, int dy);
  virtual int GetViewWidth();
  virtual int GetViewHeight();
  virtual bool HasParentWindow();
  virtual void SetOnProgress(TIEProgressEvent handler);
  virtual void SetOnFinishWork(TNotifyEvent handler);
  virtual TIEProgressEvent GetOnProgress();
  virtual TNotifyEvent GetOnFinishWork();
  virtual bool IsEmptyBitmap();
  virtual bool IsEmpty();
  virtual void SetCurrentLayer(int index);
  virtual void SetLegacyBitmap(bool value);
  virtual void BuildCoordinateTables();
  virtual void ComputeVisibleArea();
  virtual void ComputeImageExtent();
  virtual void DoLayerNotify(int layer, int event);
  virtual void DrawSelectionGrid(TCanvas* canvas, int x1, int y1, int x2, int y2);
  virtual void DrawLayerOverlay(int index, TIEBitmap* dest, const TRect* clip) {}
  virtual void DrawLayers(TIEBitmap* dest, TIEBitmap* destAlpha, bool drawBoxes, bool drawBackground,
                          const TRect* clip);
  virtual void ApplyZoom(double zoom);
  virtual void ApplyZoomX(double zoom);
  virtual void ApplyZoomY(double zoom);
  virtual void Select(int x1, int y1, int x2, int y2, int op = 0);
  virtual void AddSelectionPoint(int x, int y);
  virtual void EndSelect();

  // ---- refresh ----
  void Update() override;
  void LockUpdate() override { ++FUpdateLock; }
  void UnlockUpdate();
  void UnlockUpdateNoRefresh() override;
  int UpdateLockCount() const { return FUpdateLock; }
  int PaintLockCount() const { return FPaintLock; }
  void Assign(TObject* source);
  // The framework's Assign does the same, so neither form hides the other.
  void Assign(TPersistent* source) override { Assign(static_cast<TObject*>(source)); }
  void Clear();
  void Blank();

  // ---- zoom ----
  double Zoom() const { return FZoomX; }
  double ZoomX() const { return FZoomX; }
  double ZoomY() const { return FZoomY; }
  void SetZoom(double zoom);
  void SetZoomX(double zoom);
  void SetZoomY(double zoom);
  void ZoomAt(int x, int y, double zoom, bool centre);
  double GetFitZoom();
  void Fit();
  void ZoomSelection(bool keepAspect, bool fireZoomIn);
  TResampleFilter ZoomFilter() const { return FZoomFilter; }
  void SetZoomFilter(TResampleFilter filter);
  bool DelayZoomFilter() const { return FDelayZoomFilter; }
  void SetDelayZoomFilter(bool value) { FDelayZoomFilter = value; }
  int DelayedFilterFrames() const { return FDelayedFilterFrames; }
  bool AutoFit() const { return FAutoFit; }
  void SetAutoFit(bool value);
  bool AutoStretch() const { return FAutoStretch; }
  void SetAutoStretch(bool value);
  bool AutoShrink() const { return FAutoShrink; }
  void SetAutoShrink(bool value);

  // ---- scrolling ----
  int ViewX() const { return FViewX; }
  int ViewY() const { return FViewY; }
  void SetViewX(int x);
  void SetViewY(int y);
  void SetViewXY(int x, int y);
  void GetMaxViewXY(int& maxX, int& maxY);
  void ScrollHorizontal(int kind, int value);
  void ScrollVertical(int kind, int value);
  TScrollStyle ScrollBars() const { return FScrollBars; }
  bool FlatScrollBars() const { return FFlatScrollBars; }
  void SetFlatScrollBars(bool value);
  TIEScrollBarParams& HScrollBarParams() { return FHScrollParams; }
  TIEScrollBarParams& VScrollBarParams() { return FVScrollParams; }
  TIEMouseWheelParams& MouseWheelParams() { return FWheelParams; }
  double HScrollFactor() const { return FHScrollFactor; }
  double VScrollFactor() const { return FVScrollFactor; }
  bool ShowDisabledScrollBars() const { return FShowDisabledBars; }
  void SetShowDisabledScrollBars(bool value) { FShowDisabledBars = value; }

  // ---- geometry ----
  int ScreenToBitmapX(int x);
  int ScreenToBitmapY(int y);
  int BitmapToScreenX(int bx);
  int BitmapToScreenY(int by);
  int ExtentX() const { return FExtentX; }
  int ExtentY() const { return FExtentY; }
  int OffsetX() const { return FOffsetX; }
  int OffsetY() const { return FOffsetY; }
  int DrawWidth() const { return FDrawW; }
  int DrawHeight() const { return FDrawH; }
  // The visible source rectangle and its size on screen.
  TRect VisibleSource() const { return Rect(FSrcX, FSrcY, FSrcX + FSrcW, FSrcY + FSrcH); }
  int ScreenWidthOfSource() const { return FScrW; }
  int ScreenHeightOfSource() const { return FScrH; }
  int IEBitmapWidth() const { return FBmpW; }
  int IEBitmapHeight() const { return FBmpH; }
  int HorizontalAlignment() const { return FHAlign; }
  int VerticalAlignment() const { return FVAlign; }
  void SetHorizontalAlignment(int value);
  void SetVerticalAlignment(int value);
  bool Center() const { return FHAlign == 1 && FVAlign == 1; }
  void SetCenter(bool value);

  // ---- painting ----
  TIEBackgroundStyle BackgroundStyle() const { return FBackgroundStyle; }
  void SetBackgroundStyle(TIEBackgroundStyle value);
  void SetChessboardStyle(int size, TBrushStyle brushStyle);
  int ChessboardSize() const { return FChessSize; }
  TColor GradientEndColor() const { return FGradientEndColor; }
  void SetGradientEndColor(TColor value);
  TGraphic* WallPaper() const { return FWallPaper.get(); }
  void SetWallPaper(TGraphic* picture);
  TIEWallpaperStyle WallPaperStyle() const { return FWallPaperStyle; }
  void SetWallPaperStyle(TIEWallpaperStyle value);
  bool EnableAlphaChannel() const { return FEnableAlpha; }
  void SetEnableAlphaChannel(bool value);
  bool DoubleBuffer() const { return FDoubleBuffer; }
  void SetDoubleBuffer(bool value) { FDoubleBuffer = value; }
  bool DrawVersion() const { return FDrawVersion; }
  void SetDrawVersion(bool value);
  bool EnableInteractionHints() const { return FEnableHints; }
  void SetEnableInteractionHints(bool value) { FEnableHints = value; }
  // The composed picture; nil until the first paint.
  TIEBitmap* BackBuffer() { return FBackBuffer.get(); }
  TBitmap* GetBackBufferBitmap();
  bool BackBufferDirty() const { return FDirty; }
  int Compositions() const { return FCompositions; }
  void InvalidateRectDirty(const TRect& rect);
  void DrawBackground(TCanvas* canvas, int width = -1, int height = -1);
  void PaintToCanvas(TCanvas* canvas, const TRect& rect);

  // ---- selection ----
  bool Selected() override { return FSelected; }
  void Deselect();
  bool SelectRect(int x1, int y1, int x2, int y2, int op, bool constrain, bool shiftInside);
  void MagicWand(int x, int y, bool add);
  void MoveSelection(int dx, int dy, bool cutBorders);
  void MoveSelectionAndEnd(int dx, int dy);
  int ResizeSelection(int grip, int x, int y, bool constrain);
  int GripAtPoint(int x, int y, TShiftState shift = {});
  // Left, top, right, bottom, all inclusive.
  void SelectedRect(int& left, int& top, int& right, int& bottom);
  TIESelectionOptionsSet SelectionOptions() const { return FSelectionOptions; }
  void SetSelectionOptions(TIESelectionOptionsSet value);
  double SelectionAspectRatio() const { return FSelectionAspectRatio; }
  void SetSelectionAspectRatio(double ratio);
  int SelectionFixedWidth() const { return FFixedWidth; }
  int SelectionFixedHeight() const { return FFixedHeight; }
  void SetSelectionFixedSize(int width, int height) {
    FFixedWidth = width;
    FFixedHeight = height;
  }
  TIESelectionBase SelectionBase() const { return FSelectionBase; }
  void SetSelectionBase(TIESelectionBase value) { FSelectionBase = value; }
  int SelectionGridColumns() const { return FGridColumns; }
  int SelectionGridRows() const { return FGridRows; }
  void SetSelectionGrid(int columns, int rows) {
    FGridColumns = columns;
    FGridRows = rows;
  }
  int SelectionGripSize() const { return FGripSize; }
  void SetSelectionGripSize(int value) { FGripSize = value; }
  int MagicWandMode() const { return FWandMode; }
  void SetMagicWandMode(int value) { FWandMode = value; }
  int MagicWandTolerance() const { return FWandTolerance; }
  void SetMagicWandTolerance(int value) { FWandTolerance = value; }
  bool AdditiveSelection() const { return FAdditiveSelection; }
  void SetAdditiveSelection(bool value) { FAdditiveSelection = value; }
  bool ConstrainSelection() const { return FConstrain; }
  void SetConstrainSelection(bool value) { FConstrain = value; }
  TIESelectionPolygon& Polygon() { return FPolygon; }
  TIEMask* SelectionMask() override { return FMask.get(); }
  std::vector<POINT> SelectionPolygon() override { return FPolygon.Points; }
  void SaveSelectionToStream(TStream& stream) override;
  void LoadSelectionFromStream(TStream& stream) override { LoadSelectionFromStream(stream, 1); }
  // False (and nothing changed) for a stream that does not hold a whole selection.
  bool LoadSelectionFromStream(TStream& stream, int mode);
  void SaveSelection();
  bool RestoreSelection(bool pop = true, int mode = 1);
  int SelectionStackCount() const { return static_cast<int>(FSelectionStack.size()); }
  void CopySelectionToIEBitmap(TIEBitmap& dest, bool fill = true);
  void CopySelectionToBitmap(TBitmap& dest);
  int OutlineTimerInterval() const { return FOutlineInterval; }
  // How long the last mask outline took to draw (ms); the interval follows it.
  void NoteOutlineDrawTime(int ms);
  // One tick of the outline timer (the dash phase, the filter countdowns).
  void OutlineTick();
  bool OutlineTimerEnabled() const { return FOutlineTimerOn; }
  // The screen rectangle the last rectangle outline was drawn around.
  TRect OutlineRect() const { return FOutlineRect; }

  // ---- interaction ----
  TIEMouseInteract MouseInteract() const { return FMouseInteract; }
  TIEMouseInteract GetMouseInteract() const { return FMouseInteract; }
  TCursor ViewCursor() const { return FDefaultCursor; }
  TCursor ShownCursor() const { return FShownCursor; }
  void SetViewCursor(TCursor cursor);
  void SetTempCursor(TCursor cursor);
  void RestoreCursor() { SetTempCursor(FDefaultCursor); }
  void SetInteractionHint(const std::string& text, int x, int y, const std::string& widthTemplate);
  const std::string& InteractionHint() const { return FHintText; }
  bool AutoScrollWhileDragging();
  void SmoothScrollTo(int x, int y);
  bool SmoothScrolling() const { return FSmoothTimer != 0; }
  double ScrollDragFactor() const { return FScrollDragFactor; }
  void SetScrollDragFactor(double value) { FScrollDragFactor = value; }
  int SmoothScrollDivisor() const { return FSmoothDivisor; }
  void SetSmoothScrollDivisor(int value) { FSmoothDivisor = value; }
  double RotationSnap() const { return FRotationSnap; }
  void SetRotationSnap(double value) { FRotationSnap = value; }
  // The angle a rotation drag shows with Shift held; a snap of 0 or below leaves it as it is.
  double SnapRotation(double angle) const;

  // ---- layers (layer 0) ----
  int GetLayersCount() override { return static_cast<int>(FLayers.size()); }
  TIELayer* GetLayer(int index);
  TIELayer* CurrentLayerRecord() { return GetLayer(FCurrentLayer); }
  int CurrentLayer() override { return FCurrentLayer; }
  TIEBitmap* LayerBitmap(int index) override;
  std::array<uint8_t, 16> LayerGUID(int index) override;
  void SaveLayerToStream(int index, TStream& stream, bool withBitmap) override;
  void LoadLayerFromStream(int index, TStream& stream) override;
  void SaveLayersToStream(TStream& stream, int code) override;
  void LoadLayersFromStream(TStream& stream) override;
  void SaveLayersToFile(const std::string& fileName) override;
  void SaveAllToFile(const std::string& fileName) override {}
  void SyncLayers();
  void AttachBitmap(TIEBitmap* bitmap);

  // ---- services ----
  TImageLibIO* GetIO();
  TImageLibProc* GetProc();
  bool HasIO() const { return FIO != nullptr; }
  bool HasProc() const { return FProc != nullptr; }
  TIESaveUndoEvent GetOnSaveUndo() { return FOnSaveUndo; }
  void SetOnSaveUndo(TIESaveUndoEvent handler);
  bool LegacyBitmap() const { return FLegacyBitmap; }
  bool Playing() const { return FPlaying; }
  void SetPlaying(bool value);
  bool PlayLoop() const { return FPlayLoop; }
  void SetPlayLoop(bool value) { FPlayLoop = value; }
  void StartPlayTimer();
  void StopPlayTimer();
  int PlayTimerDelay() const { return FPlayDelay; }
  void SetNavigator(TImageLibView* navigator, int options = 0);
  TImageLibView* Navigator() const { return FNavigator; }
  bool IsNavigator() const { return FIsNavigator; }
  void SyncNavigator();
  std::string GetImageLibVersion() const { return "4.3.0"; }
  void SetImageLibVersion(const std::string&) {}
  void AddAuxObject(std::unique_ptr<TObject> object) { FAuxObjects.push_back(std::move(object)); }
  void RemoveAuxObject(int index);
  int AuxObjectCount() const { return static_cast<int>(FAuxObjects.size()); }

  // ---- transitions ----
  // The engine is made (by the installed factory) the first time one of the
  // three events is assigned; the events live in it. Nil until then.
  TIETransitionEngine* TransitionEngine() const { return FTransition.get(); }
  TNotifyEvent OnTransitionStop() const;
  void SetOnTransitionStop(TNotifyEvent handler);
  TIETransitionStepEvent OnTransitionStep() const;
  void SetOnTransitionStep(TIETransitionStepEvent handler);
  TIEOnTransitionPaint OnTransitionPaint() const;
  void SetOnTransitionPaint(TIEOnTransitionPaint handler);
  // The view's background (style, colours, wallpaper) over (0, 0, width,
  // height) of the canvas; -1 means the view's own size.
  void PaintBackgroundTo(TCanvas* canvas, int width = -1, int height = -1);

  // TIEViewLink
  TIEViewKind ViewKind() const override { return ievkImageView; }

  // ---- events ----
  TIEViewChangeEvent OnViewChange;
  TIEViewChangingEvent OnViewChanging;
  TNotifyEvent OnImageChange;
  TIEFinishSmoothTaskEvent OnFinishSmoothTask;
  TIEZoomEvent OnZoomIn;
  TIEZoomEvent OnZoomOut;
  TNotifyEvent OnPaint;
  TIEDrawCanvasEvent OnDrawCanvas;
  TNotifyEvent OnDrawBackBuffer;
  TIEDrawBackgroundEvent OnDrawBackground;
  TIEDrawLayerEvent OnDrawLayer;
  TNotifyEvent OnBeforeSelectionChange;
  TNotifyEvent OnSelectionChanging;
  TNotifyEvent OnSelectionChange;
  TNotifyEvent OnMouseInSel;
  TIEMouseInResizingGripEvent OnMouseInResizingGrip;
  TIEDrawPolygonEvent OnDrawPolygon;
  TIESetCursorEvent OnSetCursor;
  TIESpecialKeyEvent OnSpecialKey;
  TIEVirtualKeyEvent OnVirtualKey;
  TIELayerNotifyEvent OnLayerNotify;

protected:
  void Paint() override;
  void EraseBackground(TCanvas* canvas) override {}
  void Resize() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  bool DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) override;
  void DblClick() override;
  void KeyDown(WORD& key, TShiftState shift) override;
  void KeyUp(WORD& key, TShiftState shift) override;
  UINT DialogCode() override;
  void Notification(TComponent* component, TOperation operation) override;
  void RecreateWindow() override;

private:
  friend class TIELayer;
  // ---- geometry helpers ----
  void SetZoomValues(double zx, double zy);
  void SetViewXY(int x, int y, bool horizontal, bool vertical);
  int Snap(int v, bool horizontal) const;
  void BuildAxisTable(bool horizontal);
  void ComputeVisibleAxis(bool horizontal);
  void ArmDelayedFilter(bool changedX, bool changedY);
  void ScrollAxis(bool horizontal, int kind, int value);
  void HandleScrollMessage(TMessage& message, bool horizontal);
  void UpdateScrollBarsPass(bool& viewSizeChanged);
  void ApplyAutoZoom();
  double ComputeAutoZoom(int width, int height, bool shrink, bool stretch, int areaW, int areaH);
  void FitMargins(int& mx, int& my);
  bool BorderedNoCtl3D() const;
  void CheckMaskAndAlphaSize();
  // ---- painting helpers ----
  void EnsureBackBuffer();
  void RenderLayerImage(TIEBitmap& source, TIEBitmap& dest, bool firstSolid, TResampleFilter filter);
  void PaintLayerBackground(TIEBitmap* dest, bool whole, const TRect* clip);
  void PaintViewBackground(TIEBitmap* dest, const TRect& imageRect, int width, int height,
                           const TRect* keep = nullptr);
  void DrawHintBox(TCanvas* canvas, int& x, int& y, const std::string& widthTemplate, const std::string& text);
  void DrawSelectionOutline(TCanvas* canvas);
  void DrawPolygonDashes(TCanvas* canvas);
  void PlotDash(TCanvas* canvas, int x, int y, int& counter);
  void DrawGrips(TCanvas* canvas);
  void DrawSelectionFill(TIEBitmap* dest);
  void StartOutlineTimer();
  void UpdateOutlineTimer();
  // ---- selection helpers ----
  void ToBitmapCoordinates(int& x, int& y);
  POINT ClampToBitmap(int x, int y);
  void MovePolygon(int dx, int dy, bool cutBorders);
  void FinishPolygonSelection(bool add, bool dropLast);
  void SelectRectFromMouse(int x, int y, TShiftState shift);
  void SelectEllipseFromMouse(int x, int y, TShiftState shift);
  int SelectionMoveHit(int x, int y);
  void RemoveLastSubPolygon(int countAtDown);
  void FireSelectionChanging();
  void FireSelectionChange();
  // ---- interaction helpers ----
  void UpdateHoverCursor(TShiftState shift, int x, int y);
  void ApplyZoomClick(TMouseButton button, int x, int y);
  void SmoothScrollStep();
  void StopSmoothScroll();
  void HandleTimer(TMessage& message);
  bool ScrollableImage();
  // ---- services ----
  void CopyHandlersToComponents();
  void PlayTimerFired();
  void NavigatorSelectionChanging(TObject* sender);
  void NavigatorMouseWheel(TObject* sender, TShiftState shift, int delta, TPoint mousePos, bool& handled);
  TIELayer* Layer0() { return FLayers.empty() ? nullptr : FLayers.front().get(); }

  // image
  TIEBitmap* FIEBitmap = nullptr;  // the current layer's bitmap
  int32_t FBmpW = 0;
  int32_t FBmpH = 0;
  bool FImageSet = false;
  bool FLegacyBitmap = true;
  // zoom
  double FZoomX = 100, FZoomY = 100;
  double FZZX = 1, FZZY = 1, FIZX = 1, FIZY = 1;  // zoom / 100 and 100 / zoom
  // scroll
  int32_t FViewX = 0, FViewY = 0;
  double FHScrollFactor = 1.0, FVScrollFactor = 1.0;
  // computed geometry
  int32_t FExtentX = 0, FExtentY = 0;
  int32_t FDrawW = 0, FDrawH = 0;
  int32_t FOffsetX = 0, FOffsetY = 0;
  int32_t FHAlign = 1, FVAlign = 1;
  int32_t FSrcX = 0, FSrcY = 0, FSrcW = 0, FSrcH = 0;
  int32_t FScrW = 0, FScrH = 0;
  // coordinate tables (absolute: screen column of the zoomed image -> bitmap column, and back)
  struct AxisTables {
    std::vector<int32_t> v2b, b2v;
    double zoom = -1;
    int32_t span = -1;
    int32_t bitmapSize = -1;
  } FTablesX, FTablesY;
  // the renderer's column and row maps of the last frame, kept for the next
  std::vector<int32_t> FFrameColumns, FFrameRows;
  // locks
  int32_t FUpdateLock = 0;
  int32_t FPaintLock = 0;
  bool FInsideUpdate = false;
  bool FUpdateReentered = false;
  int32_t FUpdateReason = 0;
  int32_t FLastViewW = -1, FLastViewH = -1;
  // zoom filter
  TResampleFilter FZoomFilter = rfNone;
  TResampleFilter FSavedZoomFilter = rfNone;
  bool FDelayZoomFilter = false;
  int32_t FDelayedFilterFrames = 0;
  int32_t FOutlinePause = 0;
  bool FAutoFit = false, FAutoStretch = false, FAutoShrink = false;
  // scroll bars
  TScrollStyle FScrollBars = ssBoth;
  bool FFlatScrollBars = false;
  bool FShowDisabledBars = false;
  bool FHBarShown = false, FVBarShown = false;
  TIEScrollBarParams FHScrollParams, FVScrollParams;
  TIEMouseWheelParams FWheelParams;
  // painting
  std::unique_ptr<TIEBitmap> FBackBuffer;
  bool FDirty = true;
  bool FWholeDirty = true;
  int32_t FCompositions = 0;
  TIEBackgroundStyle FBackgroundStyle = iebsSolid;
  int32_t FChessSize = 16;
  TBrushStyle FChessBrush = bsSolid;
  TColor FGradientEndColor = 0xFF0000;
  std::unique_ptr<TGraphic> FWallPaper;
  TIEWallpaperStyle FWallPaperStyle = iewoNormal;
  bool FEnableAlpha = true;
  bool FDoubleBuffer = true;
  bool FDrawVersion = false;
  bool FEnableHints = true;
  std::string FHintText, FHintTemplate;
  int32_t FHintX = 0, FHintY = 0;
  // selection
  TIESelectionPolygon FPolygon;
  std::unique_ptr<TIEMask> FMask;
  bool FSelected = false;
  bool FBuildingPolygon = false, FLasso = false, FBuildingRect = false, FBuildingEllipse = false;
  int32_t FGrip = 0;
  int32_t FMoveIndex = -1;
  bool FRectMoved = false;
  TIESelectionBase FSelectionBase = iesbClientArea;
  TIESelectionBase FSavedSelectionBase = iesbClientArea;
  TIESelectionOptionsSet FSelectionOptions{iesoAnimated, iesoSizeable, iesoMoveable, iesoCanScroll};
  double FSelectionAspectRatio = -1;
  int32_t FFixedWidth = 100, FFixedHeight = 100;
  int32_t FMaskDepth = 1;
  int32_t FMaskFill = 1;
  int32_t FWandMode = 0, FWandTolerance = 15;
  bool FWandOption = false;
  int32_t FGripSize = 5;
  TColor FGripPen = clBlack, FGripBrush = 0xBAFFFF;
  int32_t FGripShape = 1;
  bool FEdgeGrips = true;
  int32_t FGridColumns = 1, FGridRows = 1;
  bool FAdditiveSelection = true;
  bool FConstrain = false;
  std::vector<std::unique_ptr<TMemoryStream>> FSelectionStack;
  UINT_PTR FOutlineTimer = 0;
  bool FOutlineTimerOn = false;
  int32_t FOutlineInterval = 210;
  bool FOutlineAutoInterval = true;
  int32_t FDashCounter = 0;
  TRect FOutlineRect{};
  RECT FGripBox{};  // the box when a grip was taken
  // interaction
  TIEMouseInteract FMouseInteract;
  TPoint FDownRaw{}, FDownClamped{}, FDownImage{}, FLastRaw{}, FLastClamped{}, FRubber{};
  int32_t FDownViewX = 0, FDownViewY = 0;
  int32_t FDownPointCount = 0;
  TMouseButton FDownButton = mbLeft;
  bool FMouseDown = false;
  bool FMoved = false;
  bool FChanged = false;
  bool FDragScrolling = false;
  double FRotationSnap = 45;
  double FScrollDragFactor = 1.0;
  int32_t FSmoothDivisor = 8;
  int32_t FSmoothTargetX = 0, FSmoothTargetY = 0;
  UINT_PTR FSmoothTimer = 0;
  bool FAutoScrolling = false;
  TCursor FDefaultCursor = kIECursorCross;
  TCursor FShownCursor = kIECursorCross;
  bool FCreatedWithOwner = false;
  // layers
  std::vector<std::unique_ptr<TIELayer>> FLayers;
  int32_t FCurrentLayer = 0;
  int32_t FChangedLayer = -1;
  bool FLayersExtend = false;
  // services
  TImageLibIO* FIO = nullptr;
  TImageLibProc* FProc = nullptr;
  TIEProgressEvent FOnProgress;
  TNotifyEvent FOnFinishWork;
  TIESaveUndoEvent FOnSaveUndo;
  bool FPlaying = false;
  bool FPlayLoop = true;
  bool FPlayTimerRunning = false;
  int32_t FPlayDelay = 0;
  TImageLibView* FNavigator = nullptr;
  TImageLibView* FNavigatorOf = nullptr;
  bool FIsNavigator = false;
  int32_t FNavigatorOptions = 0;
  bool FNavigatorReentered = false;
  std::vector<std::unique_ptr<TObject>> FAuxObjects;
  std::unique_ptr<TIETransitionEngine> FTransition;
  TIETransitionEngine* EnsureTransitionEngine();
  void StopTransition();
};

// The background painter the views and the thumbnail grid share: fills the
// 24-bit bitmap's area (0, 0, width, height) in the style, imageRect being
// where the picture goes. With keep, the plain and chessboard styles leave
// that rectangle alone (an opaque picture paints it anyway); the others paint
// it too.
void PaintViewBackground(TIEBitmap& dest, TIEBackgroundStyle style, TColor color, TColor gradientColor,
                         int chessSize, const TRect& imageRect, int width, int height, const TRect* keep = nullptr);

class TIECanvas;
// A one-pixel raised frame: leftTop along the left and top edges, rightBottom
// along the right and bottom ones.
void Draw3DFrameIE(TIECanvas& canvas, int left, int top, TColor rightBottom, TColor leftTop, int bottom, int right);
