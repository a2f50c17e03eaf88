#pragma once
// TImageLibMView: the library's multi-image control, a scrollable grid of
// thumbnails (or one picture at a time, for playback). Each cell shows one
// entry of a list; pictures are set by the caller, asked of the caller by an
// identifier, or read from files: while painting, or in the background by a
// loader thread that keeps at most ThreadPoolSize readers running. Pictures
// live in a paged image store, so only a handful are ever in memory.
//
// The grid's lock is re-entrant and shared with the loaders: the painting
// thread and the readers' completion never touch an entry's image at once.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "imaging/core/ie_resample.h"
#include "imaging/core/ie_virtual_image_list.h"
#include "imaging/views/image_view.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/threads.h"
#include "platform/rtl/rounding.h"

class TImageLibIO;
class TImageLibMIO;
class TImageLibProc;
class TImageLibMView;

enum TIEStoreType : uint8_t { ietNormal, ietThumb };
enum TIEMMouseInteractItems : uint8_t { mmiScroll, mmiSelect };
using TIEMMouseInteract = TSet<TIEMMouseInteractItems>;
enum TIEMKeyInteractItems : uint8_t { mkiMoveSelected };
using TIEMKeyInteract = TSet<TIEMKeyInteractItems>;
enum TIEMDisplayMode : uint8_t { mdGrid, mdSingle };
enum TIEMStyle : uint8_t { iemsFlat, iemsACD };
enum TIESStyle : uint8_t { iessAround, iessACD };
enum TIEMultiSelectionOptionsItems : uint8_t { iemoRegion, iemoSelectOnMouseUp, iemoLeaveOneSelected };
using TIEMultiSelectionOptions = TSet<TIEMultiSelectionOptionsItems>;
enum TIEMNavigation : uint8_t { iedLeft, iedRight, iedUp, iedDown, iedHome, iedEnd, iedPageUp, iedPageDown };

// The message the grid posts itself after an auto-scroll step, to repeat the
// mouse move while the button is held.
constexpr UINT kIEMViewAutoScrollMsg = 8029;

// One text line of a cell: top (kind 0), info (1) or bottom (2).
class TIEMText : public TObject {
public:
  TIEMText(TIEView* owner, int kind);
  ~TIEMText() override;
  std::string Caption;
  TFont* Font() { return FFont.get(); }
  TColor Background;
  TBrushStyle BrushStyle = bsSolid;
  int Kind() const { return FKind; }
  // 0 keeps the start of a text too wide for the cell, 1 its end.
  int TruncSide = 0;

private:
  std::unique_ptr<TFont> FFont;
  int FKind;
};

// One entry of the grid.
struct TIEImageInfo {
  TIEVirtualImageHandle image = nullptr;       // in the image store, nil when not loaded
  TIEVirtualImageHandle cacheImage = nullptr;  // the drawn thumbnail, nil when none
  int32_t X = 0, Y = 0;                        // cell position in content coordinates
  int32_t row = 0, col = 0;
  TColor background = clBtnFace;
  std::string name;  // UTF-8; empty when none
  int32_t ID = -1;
  double DTime = 0;  // milliseconds, used by playback
  std::unique_ptr<TIEMText> topText, infoText, bottomText;
  int32_t internalLeft = 0, internalTop = 0;
  // The last read failed: it is not queued again, but read while painting,
  // where its placeholder is made.
  bool loadFailed = false;
};

class TIEStarter : public TThread {
public:
  explicit TIEStarter(TImageLibMView* grid);
  ~TIEStarter() override;
  TEvent& WakeUp() { return FWakeUp; }

protected:
  void Execute() override;

private:
  TImageLibMView* FGrid;
  TEvent FWakeUp{false, false};  // auto-reset
};

using TIEImageIDRequestEvent = std::function<void(TObject* sender, int ID, TBitmap*& bitmap)>;
using TIEImageIDRequestExEvent = std::function<void(TObject* sender, int ID, TIEBitmap*& bitmap)>;
using TIEImageSelectEvent = std::function<void(TObject* sender, int index)>;
using TIEImageDrawEvent = std::function<void(TObject* sender, int index, int left, int top, TCanvas* canvas)>;
using TIEImageDraw2Event =
    std::function<void(TObject* sender, int index, int left, int top, const TRect& imageRect, TCanvas* canvas)>;
using TIEImageDrawExEvent = std::function<void(TObject* sender, int index, int left, int top, TRect& rect)>;
using TIEWrongImageEvent = std::function<void(TObject* sender, TIEBitmap* bitmap, int index, bool& handled)>;
using TIEImageAtPosEvent = std::function<void(TObject* sender, int& index, int x, int y)>;
using TIEMProgressEvent = std::function<void(TObject* sender, int per, int index)>;
using TIEPlayFrameEvent = std::function<void(TObject* sender, int frame)>;
using TIEAfterEvent = std::function<void(TObject* sender, int event)>;

class TImageLibMView : public TIEView {
public:
  explicit TImageLibMView(TComponent* owner);
  ~TImageLibMView() override;

  // ---- entries ----
  void InsertEntry(int index);
  // Appends an entry and returns its index.
  int AppendEntry();
  bool DeleteEntry(int index);
  void ClearEntries();
  int ImageCount();
  void MoveEntry(int index, int newIndex);
  void ExchangeEntries(int a, int b);
  std::string ImageFileName(int index);
  void SetImageFileName(int index, const std::string& name);
  int32_t ImageID(int index);
  void SetImageID(int index, int32_t id);
  double ImageDelayTime(int index);
  void SetImageDelayTime(int index, double ms);
  int ImageOriginalWidth(int index);
  int ImageOriginalHeight(int index);
  void SetImageOriginalWidth(int index, int value);
  void SetImageOriginalHeight(int index, int value);
  TColor ImageBackground(int index);
  void SetImageBackground(int index, TColor color);
  TIEMText* ImageTopText(int index);
  TIEMText* ImageInfoText(int index);
  TIEMText* ImageBottomText(int index);
  int ImageX(int index);
  int ImageY(int index);
  int ImageRow(int index);
  int ImageCol(int index);
  // The entry's stored picture: size and whether it is there at all.
  bool HasImage(int index);
  int StoredImageWidth(int index);
  int StoredImageHeight(int index);
  // The last change (1 insert, 2 delete, 3 move, 4 exchange), read by the
  // components that follow the entries.
  int LastChange() const { return FLastChange; }
  int LastChangeIndex() const { return FLastChangeIndex; }
  int LastChangeIndex2() const { return FLastChangeIndex2; }

  // ---- pictures ----
  void SetImage(int index, TIEBitmap* bitmap);
  void SetImageFromTBitmap(int index, TBitmap* bitmap);
  TIEBitmap* GetEntryBitmap(int index);
  void ReleaseEntryBitmap(int index, bool writeBack);
  bool LoadImageNow(int index);
  virtual void DoWrongImage(TIEBitmap* bitmap, int index);
  void DropCachedThumbnail(int index);
  void DropCachedThumbnails();

  // ---- the operations of the base ----
  TBitmap* GetBitmap() override;
  TIEBitmap* GetIEBitmap() override;
  TIEBitmap* GetAlphaChannel() override { return nullptr; }
  bool GetHasAlphaChannel() override { return false; }
  void RemoveAlphaChannel(bool) override {}
  void LockPaint() override { ++FPaintLock; }
  int UnlockPaint() override;
  int UnlockPaintNoRefresh() override;
  void NotifyBitmapChange() override;
  void Update() override { Relayout(false); }
  // A grid has no update lock and no layer files: these do nothing.
  void LockUpdate() override {}
  void UnlockUpdateNoRefresh() override {}
  void SaveLayersToFile(const std::string&) override {}
  void SaveAllToFile(const std::string&) override {}

  TImageLibMIO* GetMIO();
  // The processing component working on the current entry's picture.
  TImageLibProc* GetProc();
  void SetOnProgress(TIEProgressEvent handler);
  void SetOnFinishWork(TNotifyEvent handler);

  // ---- geometry and scrolling ----
  int ColumnCount();
  int RowCount();
  int IndexAt(int row, int column) { return row * ColumnCount() + column; }
  int ImageAtPos(int x, int y, bool exact = true);
  int ScrollX() const { return FViewX; }
  int ScrollY() const { return FViewY; }
  void SetScrollX(int value) { SetScroll(value, FViewY); }
  void SetScrollY(int value) { SetScroll(FViewX, value); }
  void SetScroll(int x, int y);
  int ContentWidth() const { return FContentW; }
  int ContentHeight() const { return FContentH; }
  void ScrollToSelected();
  int EntryVisibility(int index);
  void Relayout(bool rebuildCache = false);
  TIEScrollBarParams& HScrollBarParams() { return FHScrollParams; }
  TIEScrollBarParams& VScrollBarParams() { return FVScrollParams; }

  // ---- selection and navigation ----
  int SelectedImage() const { return FSelectedItem; }
  void SelectIndex(int index);
  void Deselect();
  bool IsSelected(int index);
  int MultiSelectedCount() const { return static_cast<int>(FMultiSelected.size()); }
  int MultiSelected(int i) const { return FMultiSelected[static_cast<size_t>(i)]; }
  void Navigate(TIEMNavigation direction);
  virtual void DoImageSelect(int index);
  virtual void DoImageDeselect(int index);
  virtual void DoViewChange(int change);
  void DoAfterEvent(int kind);

  // ---- playback ----
  bool Playing() const { return FPlaying; }
  void SetPlaying(bool value);
  void PlayStep();
  int PlayFrame() const { return FFrame; }

  // ---- painting ----
  void PaintToCanvas(TCanvas* canvas);
  void PaintTo(TIEBitmap& destination);
  void PaintTo(TBitmap* destination);
  void DrawThumbnail(TIEBitmap& destination, int index, bool selected);
  void PaintBackground(TIEBitmap& destination);
  int PaintCount() const { return FPaintCount; }

  // ---- background loading ----
  bool RequestLoad(int index, int position);
  void CancelLoad(int index);
  void StopLoading();
  void PurgeJobs();
  void PruneQueue();
  int QueueIndexOf(int index);
  bool IsCellVisible(int index);
  bool IsInLookahead(int index);
  void LoadDone(TObject* reader);
  // The entries queued, and the readers running (not yet finished), for tests.
  std::vector<int> QueuedEntries();
  int RunningJobs();
  int PeakRunningJobs() const { return FPeakRunning.load(); }
  std::recursive_mutex& GridLock() { return FLock; }

  // ---- properties ----
  TScrollStyle ScrollBars() const { return FScrollBars; }
  void SetScrollBars(TScrollStyle v) { FScrollBars = v; Relayout(); }
  TIEStoreType StoreType() const { return FStoreType; }
  void SetStoreType(TIEStoreType v) { FStoreType = v; }
  int ThumbWidth() const { return FThumbWidth; }
  int ThumbHeight() const { return FThumbHeight; }
  void SetThumbWidth(int v) { FThumbWidth = v; Relayout(true); }
  void SetThumbHeight(int v) { FThumbHeight = v; Relayout(true); }
  int HorizBorder() const { return FHorizBorder; }
  int VertBorder() const { return FVertBorder; }
  void SetHorizBorder(int v) { FHorizBorder = v; Relayout(); }
  void SetVertBorder(int v) { FVertBorder = v; Relayout(); }
  int BottomGap() const { return FBottomGap; }
  int UpperGap() const { return FUpperGap; }
  void SetBottomGap(int v) { FBottomGap = v; Relayout(true); }
  void SetUpperGap(int v) { FUpperGap = v; Relayout(true); }
  bool VisibleSelection() const { return FVisibleSelection; }
  void SetVisibleSelection(bool v) { FVisibleSelection = v; Relayout(); }
  TIEMMouseInteract MouseInteract() const { return FMouseInteract; }
  void SetMouseInteract(TIEMMouseInteract v) { FMouseInteract = v; }
  TIEMKeyInteract KeyInteract() const { return FKeyInteract; }
  void SetKeyInteract(TIEMKeyInteract v) { FKeyInteract = v; }
  TIEMDisplayMode DisplayMode() const { return FPlaying ? FSavedDisplayMode : FDisplayMode; }
  void SetDisplayMode(TIEMDisplayMode v);
  int GridWidth() const { return FGridWidth; }
  void SetGridWidth(int v) { FGridWidth = v; Relayout(); }
  int SelectionWidth() const { return FSelectionWidth; }
  void SetSelectionWidth(int v) { FSelectionWidth = v; Relayout(); }
  TColor SelectionColor() const { return FSelectionColor; }
  void SetSelectionColor(TColor v) { FSelectionColor = v; Relayout(); }
  bool RemoveCorrupted = false;
  bool DrawImageBackground() const { return FDrawImageBackground; }
  void SetDrawImageBackground(bool v) { FDrawImageBackground = v; Relayout(true); }
  int ImageCacheSize() const { return FImageList->MaxMapped(); }
  void SetImageCacheSize(int v) { FImageList->SetMaxMapped(v); }
  int32_t TransitionEffect = 0;
  int32_t TransitionDuration = 1000;
  TIEMStyle Style() const { return FStyle; }
  void SetStyle(TIEMStyle v) { FStyle = v; Relayout(true); }
  TIESStyle SelectionStyle() const { return FSelectionStyle; }
  void SetSelectionStyle(TIESStyle v) { FSelectionStyle = v; Relayout(true); }
  TColor ThumbnailsBackground() const { return FThumbsBackground; }
  void SetThumbnailsBackground(TColor v) { FThumbsBackground = v; Relayout(true); }
  bool EnableMultiSelect = false;
  TIEMultiSelectionOptions MultiSelectionOptions;
  int ThumbnailsBorderWidth() const { return FThumbsBorderWidth; }
  void SetThumbnailsBorderWidth(int v) { FThumbsBorderWidth = v; Relayout(); }
  TColor ThumbnailsBorderColor() const { return FThumbsBorderColor; }
  void SetThumbnailsBorderColor(TColor v) { FThumbsBorderColor = v; Relayout(); }
  bool ThumbnailsInternalBorder() const { return FInternalBorder; }
  void SetThumbnailsInternalBorder(bool v) { FInternalBorder = v; Relayout(true); }
  TColor ThumbnailsInternalBorderColor() const { return FInternalBorderColor; }
  void SetThumbnailsInternalBorderColor(TColor v) { FInternalBorderColor = v; Relayout(true); }
  TPicture* WallPaper() { return FWallPaper.get(); }
  TIEWallpaperStyle WallPaperStyle = iewoNormal;
  int ThreadPoolSize() const { return FThreadPoolSize; }
  void SetThreadPoolSize(int v);
  bool EnableAlphaChannel() const { return FEnableAlpha; }
  void SetEnableAlphaChannel(bool v) { FEnableAlpha = v; Relayout(true); }
  TIEBackgroundStyle BackgroundStyle() const { return FBackgroundStyle; }
  void SetBackgroundStyle(TIEBackgroundStyle v) { FBackgroundStyle = v; Relayout(); }
  TIEBackgroundStyle ThumbnailsBackgroundStyle() const { return FThumbsBackgroundStyle; }
  void SetThumbnailsBackgroundStyle(TIEBackgroundStyle v) { FThumbsBackgroundStyle = v; Relayout(true); }
  bool FlatScrollBars = false;
  std::string ImageLibVersion() const { return "4.3.0"; }
  void SetBackground(uint32_t color) override;
  // Settings fixed at creation that nothing in the program changes; tests and
  // callers may still reach them.
  TResampleFilter ThumbnailResampleFilter = rfFastLinear;
  TResampleFilter DisplayResampleFilter = rfNone;
  bool EnableAdjustOrientation = false;
  bool EnableImageCaching = true;
  bool EnableResamplingOnMinor = true;
  bool ShowText = true;
  bool RoundedSelection = true;
  int RoundedCornersDivisor = 0;
  bool SoftShadow = false;
  double SoftShadowRadius = 3.0;
  int SoftShadowOffsetX = 3, SoftShadowOffsetY = 3, SoftShadowIntensity = 100;
  TColor SoftShadowColor = clBlack;
  bool PlayLoop = true;
  bool SelectOnScroll = true;  // scroll to the selected entry on selection
  int LookAhead = 0;
  int KeepDistance = 15;
  bool IconWhenWrong = true;  // the file's shell icon as placeholder, else "?"
  bool RubberBand = false;
  int UnfocusedSelectionWidth = 1;
  TFont* TopTextFont() { return FFonts[0].get(); }
  TFont* InfoTextFont() { return FFonts[1].get(); }
  TFont* BottomTextFont() { return FFonts[2].get(); }

  // ---- events ----
  TIEViewChangeEvent OnViewChange;
  TIEImageAtPosEvent OnImageAtPos;
  TIEImageSelectEvent OnCreateImage, OnDestroyImage;
  TIEImageIDRequestEvent OnImageIDRequest;
  TIEImageIDRequestExEvent OnImageIDRequestEx;
  TIEImageDrawEvent OnBeforeImageDraw;
  TIEImageDrawExEvent OnBeforeImageDrawEx;
  TIEImageDrawEvent OnImageDraw;
  TIEImageDraw2Event OnImageDraw2;
  TIEImageSelectEvent OnImageSelect, OnImageDeselect;
  TIEProgressEvent OnIOProgress;
  TIEMProgressEvent OnDrawProgress;
  TIEWrongImageEvent OnWrongImage;
  TNotifyEvent OnAllDisplayed;
  TIEPlayFrameEvent OnPlayFrame;
  TIEAfterEvent OnAfterEvent;
  TIEProgressEvent OnProgress() const { return FOnProgress; }
  TNotifyEvent OnFinishWork() const { return FOnFinishWork; }

protected:
  void Paint() override;
  void EraseBackground(TCanvas*) override {}
  void Resize() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  bool DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) override;
  void DblClick() override;
  void KeyDown(WORD& key, TShiftState shift) override;
  UINT DialogCode() override;

private:
  friend class TIEStarter;
  struct TJob {
    std::unique_ptr<TImageLibIO> io;
    std::unique_ptr<TIEBitmap> bitmap;
    bool started = false;
    bool finishing = false;  // its completion runs (outside the lock for a while)
  };

  TIEImageInfo* Entry(int index);
  bool ValidIndex(int index) const { return index >= 0 && index < static_cast<int>(FEntries.size()); }
  void ComputePositions();
  int ClientW();
  int ClientH();
  bool CanRelayout();
  void UpdateScrollBars(bool& sizeChanged);
  void HandleScroll(TMessage& message, bool horizontal);
  void HandleTimer(TMessage& message);
  void SelectInternal(int index);
  void SelectAt(int x, int y, TShiftState shift);
  void SelectRange(int from, int to);
  void SelectRubberBand(int x1, int y1, int x2, int y2);
  void DeselectAllInternal();
  void ReleaseCurrentBitmap();
  void ShiftIndexes(int from, int delta);
  void RemapIndexes(const std::function<int(int)>& map);
  void AutoScrollStep(int x, int y);
  // Painting helpers.
  void EnsureBackBuffer();
  void DrawCellBackground(TIEBitmap& dest, const TRect& r, TColor color);
  void DrawTexts(TCanvas& canvas, TIEImageInfo& e, TRect& cell, bool selected, int& infoBand);
  bool StoreEntryPicture(int index, TIEBitmap& bitmap);
  std::unique_ptr<TIEBitmap> MakeThumbnail(TIEBitmap& bitmap);
  void PrepareReader(TImageLibIO& io, TIEImageInfo& e);
  void ReadEntryFile(TImageLibIO& io, TIEImageInfo& e, int index, bool& done);
  void FinishJob(TImageLibIO* reader, bool aborted);
  bool Reloadable(TIEImageInfo& e);
  void StartJobs();
  // Every job, cancelled and out of the list, for the caller to wait for.
  std::vector<TJob> TakeJobs();
  void WakeLoader();
  void MakePlaceholder(TIEBitmap& bitmap, int index);

  std::recursive_mutex FLock;
  std::vector<std::unique_ptr<TIEImageInfo>> FEntries;
  int FSelectedItem = -1;
  std::vector<int> FMultiSelected;
  int FAnchor = -1;
  bool FAddMode = false;
  bool FRangeMode = false;
  TIEBitmap* FCurrentBitmap = nullptr;
  TBitmap* FCurrentTBitmap = nullptr;
  std::unique_ptr<TBitmap> FCurrentTBitmapHolder;
  std::unique_ptr<TIEVirtualImageList> FImageList;
  std::unique_ptr<TIEVirtualImageList> FCacheList;
  int FViewX = 0, FViewY = 0;
  int FContentW = 0, FContentH = 0;
  double FHScrollFactor = 1, FVScrollFactor = 1;
  bool FHBarShown = false, FVBarShown = false;
  std::unique_ptr<TIEBitmap> FBackBuffer;
  int FPaintLock = 0;
  bool FInRelayout = false;
  std::unique_ptr<TImageLibIO> FIO;
  // One reader per multi-frame file that frame references name, kept open.
  std::vector<std::pair<std::string, std::unique_ptr<TImageLibIO>>> FFrameReaders;
  // Background loading, guarded by FLock.
  std::vector<int> FQueue;
  std::vector<TJob> FJobs;
  std::vector<int> FLookahead;
  std::atomic<int> FPeakRunning{0};
  TIEStarter* FStarter = nullptr;
  // Playback.
  bool FPlaying = false;
  int FFrame = 0;
  TIEMDisplayMode FSavedDisplayMode = mdGrid;
  int FSavedSelected = -1;
  // Last change.
  int FLastChange = 0, FLastChangeIndex = 0, FLastChangeIndex2 = 0;
  TImageLibMIO* FMIO = nullptr;
  TImageLibProc* FProc = nullptr;
  std::unique_ptr<TFont> FFonts[3];
  std::atomic<bool> FDestroying{false};
  // Where readers post their completion; set once the window exists.
  std::atomic<HWND> FPostTarget{nullptr};
  // The scrolled client area as the last paint saw it (guarded by FLock).
  TRect FLoadView{0, 0, 0, 0};
  bool FInUserEvent = false;
  bool FAllDisplayedLast = false;
  int FPaintCount = 0;
  // Mouse.
  bool FMouseDownNow = false;
  int FPressX = 0, FPressY = 0, FPressScrollX = 0, FPressScrollY = 0, FPressIndex = -1;
  int FLastMoveIndex = -1;
  bool FRangeSelectedDuringDrag = false;
  bool FPressChangedSelection = false;
  bool FSkipNextPress = false;
  int FMouseX = 0, FMouseY = 0;

  TScrollStyle FScrollBars = ssBoth;
  TIEStoreType FStoreType = ietNormal;
  int FThumbWidth = 100, FThumbHeight = 100;
  int FHorizBorder = 4, FVertBorder = 4;
  int FBottomGap = 0, FUpperGap = 0;
  bool FVisibleSelection = true;
  TIEMMouseInteract FMouseInteract{mmiSelect};
  TIEMKeyInteract FKeyInteract{mkiMoveSelected};
  TIEMDisplayMode FDisplayMode = mdGrid;
  int FGridWidth = 0;
  int FSelectionWidth = 2;
  TColor FSelectionColor = 16752800;
  bool FDrawImageBackground = false;
  TIEMStyle FStyle = iemsACD;
  TIESStyle FSelectionStyle = iessAround;
  TColor FThumbsBackground = clBtnFace;
  int FThumbsBorderWidth = 0;
  TColor FThumbsBorderColor = clBtnFace;
  bool FInternalBorder = false;
  TColor FInternalBorderColor = clBlack;
  std::unique_ptr<TPicture> FWallPaper;
  int FThreadPoolSize = 5;
  bool FEnableAlpha = true;
  TIEBackgroundStyle FBackgroundStyle = iebsSolid;
  TIEBackgroundStyle FThumbsBackgroundStyle = iebsSolid;
  TIEScrollBarParams FHScrollParams, FVScrollParams;
  TIEProgressEvent FOnProgress;
  TNotifyEvent FOnFinishWork;
};

// A frame reference: "name::n" names frame n of a multi-frame file. Only a
// number after the last "::" makes one (a folder may hold "::" in its name).
bool SplitFrameReference(const std::string& name, std::string& file, int& frame);
