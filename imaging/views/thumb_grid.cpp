// The grid's entries, layout, scrolling, selection, input and playback.
#include "imaging/views/thumb_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_proc.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/views/multi_image_io.h"
#include "platform/graphics/graphics_graphic.h"
#include "platform/ui/windows.h"

namespace {

constexpr UINT_PTR kPlayTimerId = 1;
constexpr int kAutoScrollEdge = 20;
constexpr int kAutoScrollDeadZone = 10;

}  // namespace

bool SplitFrameReference(const std::string& name, std::string& file, int& frame) {
  const size_t at = name.rfind("::");
  if (at == std::string::npos || at + 2 >= name.size()) return false;
  const std::string tail = name.substr(at + 2);
  if (tail.size() > 9 || !std::all_of(tail.begin(), tail.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  file = name.substr(0, at);
  frame = std::atoi(tail.c_str());
  return !file.empty();
}

// ---- TIEMText ----

TIEMText::TIEMText(TIEView* owner, int kind) : FFont(std::make_unique<TFont>()), FKind(kind) {
  auto* grid = dynamic_cast<TImageLibMView*>(owner);
  if (grid) {
    TFont* source = kind == 0 ? grid->TopTextFont() : kind == 1 ? grid->InfoTextFont() : grid->BottomTextFont();
    FFont->Assign(source);
    Background = grid->Background();
  } else {
    Background = clBtnFace;
  }
}

TIEMText::~TIEMText() = default;

// ---- creation ----

TImageLibMView::TImageLibMView(TComponent* owner) : TIEView(owner) {
  FBackBuffer = std::make_unique<TIEBitmap>();
  FBackBuffer->SetLocation(ieTBitmap);
  SetBounds(Left(), Top(), 180, 90);
  for (auto& f : FFonts) f = std::make_unique<TFont>();
  FIO = std::make_unique<TImageLibIO>(nullptr);
  FImageList = std::make_unique<TIEVirtualImageList>("ILIST", true);
  FCacheList = std::make_unique<TIEVirtualImageList>("ICACHE", true);
  FWallPaper = std::make_unique<TPicture>();
  SetTabStop(true);
  SetMessageHandler(WM_HSCROLL, [this](TMessage& m) { HandleScroll(m, true); });
  SetMessageHandler(WM_VSCROLL, [this](TMessage& m) { HandleScroll(m, false); });
  SetMessageHandler(WM_TIMER, [this](TMessage& m) { HandleTimer(m); });
  SetMessageHandler(kIEMViewAutoScrollMsg, [this](TMessage& m) {
    m.Result = 0;
    // The left button is still held while the grid has its press.
    if (!FMouseDownNow) return;
    POINT p{};
    GetCursorPos(&p);
    const TPoint c = ScreenToClient(TPoint{p.x, p.y});
    MouseMove(KeyboardShiftState(), c.x, c.y);
  });
  // A background reader finished: the next paint shows its picture.
  SetMessageHandler(kIEViewMsgUpdate, [this](TMessage& m) {
    m.Result = 0;
    Invalidate();
  });
  FStarter = TThread::New<TIEStarter>(this);
}

TImageLibMView::~TImageLibMView() {
  FDestroying = true;
  if (FPlaying && HandleAllocated()) KillTimer(Handle(), kPlayTimerId);
  FPlaying = false;
  Deselect();
  // Readers still running are told to stop and waited for (StopLoading):
  // freeing one while its thread still writes into its bitmap would be a use
  // after free.
  StopLoading();
  FStarter->Terminate();
  FStarter->WakeUp().SetEvent();
  delete FStarter;
  FStarter = nullptr;
  {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    FJobs.clear();
  }
  FFrameReaders.clear();
  if (FMIO) {
    FMIO->SetAttachedMView(nullptr);
  }
  NotifyViewDestroying();
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FEntries.clear();
  FCurrentBitmap = nullptr;
  FCurrentTBitmapHolder.reset();
  FImageList.reset();
  FCacheList.reset();
}

// ---- entries ----

TIEImageInfo* TImageLibMView::Entry(int index) {
  return ValidIndex(index) ? FEntries[static_cast<size_t>(index)].get() : nullptr;
}

void TImageLibMView::ShiftIndexes(int from, int delta) {
  RemapIndexes([from, delta](int i) { return i >= from ? i + delta : i; });
}

// Queue entries, look-ahead entries and running jobs name entries by index;
// an insertion or deletion while loads run must move them with their entries,
// or a picture lands in another cell.
void TImageLibMView::RemapIndexes(const std::function<int(int)>& map) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (int& q : FQueue) q = map(q);
  for (int& l : FLookahead) l = map(l);
  for (auto& j : FJobs)
    if (j.io->Tag() >= 0) j.io->SetTag(map(static_cast<int>(j.io->Tag())));
}

void TImageLibMView::InsertEntry(int index) {
  SetPlaying(false);
  auto e = std::make_unique<TIEImageInfo>();
  e->background = Background();
  e->topText = std::make_unique<TIEMText>(this, 0);
  e->infoText = std::make_unique<TIEMText>(this, 1);
  e->bottomText = std::make_unique<TIEMText>(this, 2);
  {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    if (index < 0) index = 0;
    if (index >= static_cast<int>(FEntries.size())) {
      index = static_cast<int>(FEntries.size());
      FEntries.push_back(std::move(e));
    } else {
      ShiftIndexes(index, 1);
      FEntries.insert(FEntries.begin() + index, std::move(e));
      if (FSelectedItem >= index) ++FSelectedItem;
      for (int& s : FMultiSelected)
        if (s >= index) ++s;
      if (FAnchor >= index) ++FAnchor;
    }
  }
  if (OnCreateImage) OnCreateImage(this, index);
  FLastChange = 1;
  FLastChangeIndex = index;
  NotifyBitmapChange();
  Relayout();
}

int TImageLibMView::AppendEntry() {
  const int n = ImageCount();
  InsertEntry(n);
  return n;
}

bool TImageLibMView::DeleteEntry(int index) {
  SetPlaying(false);
  if (!ValidIndex(index)) return false;
  CancelLoad(index);
  const int current = FSelectedItem;
  DeselectAllInternal();
  FSelectedItem = -1;
  {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    TIEImageInfo* e = Entry(index);
    if (OnDestroyImage) OnDestroyImage(this, index);
    if (e->image) FImageList->DeleteImage(e->image);
    if (e->cacheImage) FCacheList->DeleteImage(e->cacheImage);
    FEntries.erase(FEntries.begin() + index);
    RemapIndexes([index](int i) { return i > index ? i - 1 : i; });
  }
  const int count = ImageCount();
  int again = current;
  if (current > index) again = current - 1;
  else if (current == index) again = std::min(index, count - 1);
  FAnchor = again;
  if (again >= 0 && again < count) SelectInternal(again);
  FLastChange = 2;
  FLastChangeIndex = index;
  NotifyBitmapChange();
  Relayout();
  return true;
}

void TImageLibMView::ClearEntries() {
  for (int i = ImageCount() - 1; i >= 0; --i) DeleteEntry(i);
}

int TImageLibMView::ImageCount() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return static_cast<int>(FEntries.size());
}

void TImageLibMView::MoveEntry(int index, int newIndex) {
  if (!ValidIndex(index) || newIndex < 0 || index == newIndex) return;
  StopLoading();
  Deselect();
  {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    if (newIndex >= static_cast<int>(FEntries.size())) newIndex = static_cast<int>(FEntries.size()) - 1;
    auto e = std::move(FEntries[static_cast<size_t>(index)]);
    FEntries.erase(FEntries.begin() + index);
    FEntries.insert(FEntries.begin() + newIndex, std::move(e));
  }
  FLastChange = 3;
  FLastChangeIndex = index;
  FLastChangeIndex2 = newIndex;
  NotifyBitmapChange();
  Relayout();
}

void TImageLibMView::ExchangeEntries(int a, int b) {
  if (!ValidIndex(a) || !ValidIndex(b) || a == b) return;
  StopLoading();
  Deselect();
  {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    std::swap(FEntries[static_cast<size_t>(a)], FEntries[static_cast<size_t>(b)]);
  }
  FLastChange = 4;
  FLastChangeIndex = a;
  FLastChangeIndex2 = b;
  NotifyBitmapChange();
  Relayout();
}

std::string TImageLibMView::ImageFileName(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  return e ? e->name : std::string();
}

void TImageLibMView::SetImageFileName(int index, const std::string& name) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (TIEImageInfo* e = Entry(index)) e->name = name;
}

int32_t TImageLibMView::ImageID(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  return e ? e->ID : -1;
}

void TImageLibMView::SetImageID(int index, int32_t id) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (TIEImageInfo* e = Entry(index)) e->ID = id;
}

double TImageLibMView::ImageDelayTime(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  return e ? e->DTime : 0;
}

void TImageLibMView::SetImageDelayTime(int index, double ms) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (TIEImageInfo* e = Entry(index)) e->DTime = ms;
}

int TImageLibMView::ImageOriginalWidth(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  return e && e->image ? FImageList->GetOriginalWidth(e->image) : 0;
}

int TImageLibMView::ImageOriginalHeight(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  return e && e->image ? FImageList->GetOriginalHeight(e->image) : 0;
}

void TImageLibMView::SetImageOriginalWidth(int index, int value) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (TIEImageInfo* e = Entry(index)) FImageList->SetOriginalWidth(e->image, value);
}

void TImageLibMView::SetImageOriginalHeight(int index, int value) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (TIEImageInfo* e = Entry(index)) FImageList->SetOriginalHeight(e->image, value);
}

TColor TImageLibMView::ImageBackground(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  return e ? e->background : Background();
}

void TImageLibMView::SetImageBackground(int index, TColor color) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (TIEImageInfo* e = Entry(index)) e->background = color;
}

TIEMText* TImageLibMView::ImageTopText(int index) {
  TIEImageInfo* e = Entry(index);
  return e ? e->topText.get() : nullptr;
}
TIEMText* TImageLibMView::ImageInfoText(int index) {
  TIEImageInfo* e = Entry(index);
  return e ? e->infoText.get() : nullptr;
}
TIEMText* TImageLibMView::ImageBottomText(int index) {
  TIEImageInfo* e = Entry(index);
  return e ? e->bottomText.get() : nullptr;
}
int TImageLibMView::ImageX(int index) {
  TIEImageInfo* e = Entry(index);
  return e ? e->X : 0;
}
int TImageLibMView::ImageY(int index) {
  TIEImageInfo* e = Entry(index);
  return e ? e->Y : 0;
}
int TImageLibMView::ImageRow(int index) {
  TIEImageInfo* e = Entry(index);
  return e ? e->row : 0;
}
int TImageLibMView::ImageCol(int index) {
  TIEImageInfo* e = Entry(index);
  return e ? e->col : 0;
}

bool TImageLibMView::HasImage(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  return e && e->image;
}

int TImageLibMView::StoredImageWidth(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  return e && e->image ? FImageList->ImageWidth(e->image) : 0;
}

int TImageLibMView::StoredImageHeight(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  return e && e->image ? FImageList->ImageHeight(e->image) : 0;
}

TIEBitmap* TImageLibMView::GetEntryBitmap(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  if (!e) return nullptr;
  if (!e->image) LoadImageNow(index);
  e = Entry(index);
  if (!e || !e->image) return nullptr;
  return FImageList->GetBitmap(e->image);
}

void TImageLibMView::ReleaseEntryBitmap(int index, bool writeBack) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  if (e && e->image) {
    FImageList->ReleaseImageBitmap(e->image, writeBack);
    if (writeBack) DropCachedThumbnail(index);
  }
}

// ---- the operations of the base ----

TIEBitmap* TImageLibMView::GetIEBitmap() {
  if (FSelectedItem < 0) return nullptr;
  if (!FCurrentBitmap) FCurrentBitmap = GetEntryBitmap(FSelectedItem);
  return FCurrentBitmap;
}

TBitmap* TImageLibMView::GetBitmap() {
  TIEBitmap* b = GetIEBitmap();
  if (!b) return nullptr;
  if (!FCurrentTBitmapHolder) FCurrentTBitmapHolder = std::make_unique<TBitmap>();
  b->CopyToTBitmap(*FCurrentTBitmapHolder);
  return FCurrentTBitmapHolder.get();
}

void TImageLibMView::ReleaseCurrentBitmap() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (FCurrentBitmap && FImageList) {
    FImageList->ReleaseBitmap(FCurrentBitmap, true);
    if (ValidIndex(FSelectedItem)) DropCachedThumbnail(FSelectedItem);
  }
  FCurrentBitmap = nullptr;
}

int TImageLibMView::UnlockPaint() {
  if (FPaintLock > 0) --FPaintLock;
  if (FPaintLock == 0) Relayout();
  return FPaintLock;
}

int TImageLibMView::UnlockPaintNoRefresh() {
  if (FPaintLock > 0) --FPaintLock;
  return FPaintLock;
}

void TImageLibMView::NotifyBitmapChange() {
  // Under the grid's lock: the handlers (the multi-image component's list
  // among them) change what a finishing reader reads.
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEView::NotifyBitmapChange();
  FLastChange = 0;
}

TImageLibMIO* TImageLibMView::GetMIO() {
  if (!FMIO) {
    FMIO = new TImageLibMIO(this);
    FMIO->SetAttachedMView(this);
    FMIO->OnProgress = FOnProgress;
    FMIO->OnFinishWork = FOnFinishWork;
  }
  return FMIO;
}

TImageLibProc* TImageLibMView::GetProc() {
  if (FSelectedItem < 0 && ImageCount() > 0) SelectIndex(0);
  if (!FProc) {
    FProc = new TImageLibProc(this);
    FProc->SetAttachedImageLib(this);
    FProc->OnProgress = FOnProgress;
    FProc->OnFinishWork = FOnFinishWork;
  } else if (!FCurrentBitmap) {
    // The current picture is checked out afresh: the component follows it.
    FProc->SetAttachedImageLib(this);
  }
  return FProc;
}

void TImageLibMView::SetOnProgress(TIEProgressEvent handler) {
  FOnProgress = handler;
  if (FMIO) FMIO->OnProgress = handler;
  if (FProc) FProc->OnProgress = handler;
}

void TImageLibMView::SetOnFinishWork(TNotifyEvent handler) {
  FOnFinishWork = handler;
  if (FMIO) FMIO->OnFinishWork = handler;
  if (FProc) FProc->OnFinishWork = handler;
}

void TImageLibMView::SetBackground(uint32_t color) {
  TIEView::SetBackground(color);
  Relayout(true);
}

void TImageLibMView::SetThreadPoolSize(int v) {
  FThreadPoolSize = std::max(v, 0);
  WakeLoader();
}

// ---- geometry ----

int TImageLibMView::ClientW() { return HandleAllocated() ? ClientWidth() : Width(); }
int TImageLibMView::ClientH() { return HandleAllocated() ? ClientHeight() : Height(); }

int TImageLibMView::ColumnCount() {
  const int n = ImageCount();
  if (FGridWidth > 0) return FGridWidth;
  if (FGridWidth == 0) return n;
  if (n == 0) return 0;
  return std::max((ClientW() - FHorizBorder) / std::max(FThumbWidth + FHorizBorder, 1), 1);
}

int TImageLibMView::RowCount() {
  const int n = ImageCount(), c = ColumnCount();
  if (n == 0 || c == 0) return 0;
  return (n + c - 1) / c;
}

void TImageLibMView::ComputePositions() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const int columns = std::max(ColumnCount(), 1);
  int c = 0, r = 0, maxX = 0, maxY = 0;
  const bool single = FDisplayMode == mdSingle || FPlaying;
  for (auto& e : FEntries) {
    if (single) {
      e->col = 0, e->row = 0, e->X = 0, e->Y = 0;
    } else {
      e->col = c, e->row = r;
      e->X = c * (FThumbWidth + FHorizBorder) + FHorizBorder;
      e->Y = r * (FThumbHeight + FVertBorder) + FVertBorder;
      if (++c >= columns) c = 0, ++r;
    }
    maxX = std::max(maxX, e->X);
    maxY = std::max(maxY, e->Y);
  }
  if (FEntries.empty()) {
    FContentW = FContentH = 0;
  } else {
    FContentW = maxX + FThumbWidth + FHorizBorder;
    FContentH = maxY + FThumbHeight + FVertBorder;
  }
}

bool TImageLibMView::CanRelayout() {
  if (FPaintLock > 0 || FInRelayout || FDestroying) return false;
  if (!HandleAllocated() || !Parent()) return false;
  return true;
}

void TImageLibMView::UpdateScrollBars(bool& sizeChanged) {
  const int cw = ClientW(), ch = ClientH();
  const int maxX = std::max(FContentW - cw, 0), maxY = std::max(FContentH - ch, 0);
  if (FViewX > maxX || FViewY > maxY || FViewX < 0 || FViewY < 0) {
    FViewX = std::clamp(FViewX, 0, maxX);
    FViewY = std::clamp(FViewY, 0, maxY);
    DoViewChange(0);
  }
  auto setBar = [&](int bar, bool allowed, int client, int overflow, int scroll, double& factor, bool& shown) {
    if (!allowed) return;
    if (overflow <= 0) {
      ShowScrollBar(Handle(), bar, FALSE);
      shown = false;
      return;
    }
    factor = double(client + overflow - 1) / 65536.0;
    SCROLLINFO si;
    si.fMask = SIF_ALL;
    si.nMin = 0;
    si.nMax = 65535;
    si.nPage = static_cast<UINT>(std::trunc(client / factor));
    si.nPos = static_cast<int>(std::trunc(scroll / factor));
    SetScrollInfo(Handle(), bar, &si, TRUE);
    ShowScrollBar(Handle(), bar, TRUE);
    shown = true;
  };
  try {
    setBar(SB_HORZ, FScrollBars == ssHorizontal || FScrollBars == ssBoth, cw, maxX, FViewX, FHScrollFactor,
           FHBarShown);
    setBar(SB_VERT, FScrollBars == ssVertical || FScrollBars == ssBoth, ch, maxY, FViewY, FVScrollFactor,
           FVBarShown);
  } catch (...) {
  }
  sizeChanged = ClientW() != cw || ClientH() != ch;
}

void TImageLibMView::Relayout(bool rebuildCache) {
  if (!CanRelayout()) return;
  FInRelayout = true;
  try {
    if (rebuildCache) DropCachedThumbnails();
    for (int round = 0; round < 9; ++round) {
      ComputePositions();
      bool changed = false;
      UpdateScrollBars(changed);
      if (!changed) break;
    }
  } catch (...) {
    FInRelayout = false;
    throw;
  }
  FInRelayout = false;
  NotifyBitmapChange();
  Invalidate();
}

void TImageLibMView::Resize() {
  TIEView::Resize();
  Relayout();
}

void TImageLibMView::SetScroll(int x, int y) {
  const int maxX = std::max(FContentW - ClientW(), 0), maxY = std::max(FContentH - ClientH(), 0);
  x = std::clamp(x, 0, maxX);
  y = std::clamp(y, 0, maxY);
  if (x == FViewX && y == FViewY) return;
  FViewX = x;
  FViewY = y;
  Invalidate();
  if (HandleAllocated()) {
    if (FHBarShown) SetScrollPos(Handle(), SB_HORZ, static_cast<int>(std::trunc(FViewX / FHScrollFactor)), TRUE);
    if (FVBarShown) SetScrollPos(Handle(), SB_VERT, static_cast<int>(std::trunc(FViewY / FVScrollFactor)), TRUE);
  }
}

void TImageLibMView::HandleScroll(TMessage& message, bool horizontal) {
  const WORD code = LOWORD(static_cast<DWORD>(message.WParam));
  const int pos = HIWORD(static_cast<DWORD>(message.WParam));
  const TIEScrollBarParams& p = horizontal ? FHScrollParams : FVScrollParams;
  const double factor = horizontal ? FHScrollFactor : FVScrollFactor;
  const int line = p.LineStep == -1 ? (horizontal ? FThumbWidth + FHorizBorder : FThumbHeight + FVertBorder)
                                    : p.LineStep;
  const int page = p.PageStep == -1 ? (horizontal ? ClientW() : ClientH()) : p.PageStep;
  int v = horizontal ? FViewX : FViewY;
  const int maximum = horizontal ? FContentW : FContentH;
  bool moved = true;
  switch (code) {
    case SB_LINEUP: v -= line; break;
    case SB_LINEDOWN: v += line; break;
    case SB_PAGEUP: v -= page; break;
    case SB_PAGEDOWN: v += page; break;
    case SB_TOP: v = 0; break;
    case SB_BOTTOM: v = maximum; break;
    case SB_THUMBPOSITION: v = static_cast<int>(std::trunc(pos * factor)); break;
    case SB_THUMBTRACK:
      if (p.Tracking) v = static_cast<int>(std::trunc(pos * factor));
      else moved = false;
      break;
    default: moved = false; break;
  }
  message.Result = 0;
  if (!moved) return;
  if (horizontal) SetScrollX(v);
  else SetScrollY(v);
  FInUserEvent = true;
  DoViewChange(0);
  FInUserEvent = false;
}

bool TImageLibMView::DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) {
  bool handled = false;
  if (OnMouseWheel) OnMouseWheel(this, shift, wheelDelta, mousePos, handled);
  if (handled) return true;
  const int step = FThumbHeight + FVertBorder;
  SetScrollY(FViewY + (wheelDelta > 0 ? -step : step));
  FInUserEvent = true;
  DoViewChange(0);
  FInUserEvent = false;
  return true;
}

int TImageLibMView::ImageAtPos(int x, int y, bool exact) {
  int index = -1;
  const int n = ImageCount();
  if (FDisplayMode == mdSingle || FPlaying) {
    index = FPlaying ? FFrame : FSelectedItem;
    if (index >= n) index = -1;
  } else if (n > 0) {
    const int columns = std::max(ColumnCount(), 1), rows = std::max(RowCount(), 1);
    const int column = std::min((x + FViewX) / std::max(FHorizBorder + FThumbWidth, 1), columns - 1);
    const int row = std::min((y + FViewY) / std::max(FVertBorder + FThumbHeight, 1), rows - 1);
    if (column >= 0 && row >= 0) {
      index = IndexAt(FGridWidth != 0 ? row : 0, column);
      if (index >= n) index = MultiSelectionOptions.Contains(iemoRegion) ? n - 1 : -1;
      if (index >= 0 && exact) {
        TIEImageInfo* e = Entry(index);
        const int cx = e->X - FViewX, cy = e->Y - FViewY;
        if (x < cx || y < cy || x >= cx + FThumbWidth || y >= cy + FThumbHeight) index = -1;
      }
    }
  }
  if (OnImageAtPos) OnImageAtPos(this, index, x, y);
  return index;
}

int TImageLibMView::EntryVisibility(int index) {
  TIEImageInfo* e = Entry(index);
  if (!e) return 0;
  RECT r{e->X - FViewX, e->Y - FViewY, e->X - FViewX + FThumbWidth, e->Y - FViewY + FThumbHeight};
  RECT c{0, 0, ClientW(), ClientH()};
  return RectVisibility(r, c);
}

void TImageLibMView::ScrollToSelected() {
  TIEImageInfo* e = Entry(FSelectedItem);
  if (!e || FDisplayMode == mdSingle) return;
  int x = FViewX, y = FViewY;
  const int cw = ClientW(), ch = ClientH();
  if (e->X - FHorizBorder < x) x = e->X - FHorizBorder;
  else if (e->X + FThumbWidth + FHorizBorder > x + cw) x = e->X + FThumbWidth + FHorizBorder - cw;
  if (e->Y - FVertBorder < y) y = e->Y - FVertBorder;
  else if (e->Y + FThumbHeight + FVertBorder > y + ch) y = e->Y + FThumbHeight + FVertBorder - ch;
  SetScroll(x, y);
}

// ---- selection ----

bool TImageLibMView::IsSelected(int index) {
  if (index == FSelectedItem && index >= 0) return true;
  return std::find(FMultiSelected.begin(), FMultiSelected.end(), index) != FMultiSelected.end();
}

void TImageLibMView::DoImageSelect(int index) {
  if (FInUserEvent && OnImageSelect) OnImageSelect(this, index);
}

void TImageLibMView::DoImageDeselect(int index) {
  if (FInUserEvent && !FDestroying && OnImageDeselect) OnImageDeselect(this, index);
}

void TImageLibMView::DoViewChange(int change) {
  if (FInUserEvent && OnViewChange) OnViewChange(this, static_cast<TIEViewChange>(change));
}

void TImageLibMView::DoAfterEvent(int kind) {
  if (OnAfterEvent) OnAfterEvent(this, kind);
}

void TImageLibMView::DeselectAllInternal() {
  ReleaseCurrentBitmap();
  std::vector<int> was;
  was.swap(FMultiSelected);
  for (int i : was) DoImageDeselect(i);
}

void TImageLibMView::SelectInternal(int index) {
  if (!ValidIndex(index) || FPlaying) return;
  ReleaseCurrentBitmap();
  if (EnableMultiSelect) {
    if (!FAddMode) {
      std::vector<int> was;
      was.swap(FMultiSelected);
      for (int i : was) DoImageDeselect(i);
    } else {
      auto it = std::find(FMultiSelected.begin(), FMultiSelected.end(), index);
      if (it != FMultiSelected.end()) {
        const bool keepOne = MultiSelectionOptions.Contains(iemoLeaveOneSelected) && FMultiSelected.size() == 1;
        if (!keepOne) {
          FMultiSelected.erase(it);
          DoImageDeselect(index);
          if (!FRangeMode) {
            FSelectedItem = FMultiSelected.empty() ? -1 : FMultiSelected.back();
            NotifyBitmapChange();
            return;
          }
        }
      }
    }
    if (std::find(FMultiSelected.begin(), FMultiSelected.end(), index) == FMultiSelected.end())
      FMultiSelected.push_back(index);
  }
  FSelectedItem = index;
  FCurrentBitmap = nullptr;
  NotifyBitmapChange();
  DoImageSelect(index);
}

void TImageLibMView::SelectIndex(int index) {
  if (!ValidIndex(index)) return;
  if (index == FSelectedItem && !FAddMode) return;
  SelectInternal(index);
  if (SelectOnScroll) ScrollToSelected();
  Relayout();
}

void TImageLibMView::Deselect() {
  DeselectAllInternal();
  FSelectedItem = -1;
}

void TImageLibMView::SelectRange(int from, int to) {
  // Every entry in the span (or, with regions, in the rectangle of rows and
  // columns) between the two, the end one left to the caller.
  const bool saveRange = FRangeMode, saveAdd = FAddMode;
  FRangeMode = true;
  FAddMode = true;
  if (MultiSelectionOptions.Contains(iemoRegion)) {
    TIEImageInfo* a = Entry(from);
    TIEImageInfo* b = Entry(to);
    if (a && b) {
      const int r1 = std::min(a->row, b->row), r2 = std::max(a->row, b->row);
      const int c1 = std::min(a->col, b->col), c2 = std::max(a->col, b->col);
      for (int i = 0; i < ImageCount(); ++i) {
        TIEImageInfo* e = Entry(i);
        if (i != to && e->row >= r1 && e->row <= r2 && e->col >= c1 && e->col <= c2 && !IsSelected(i))
          SelectInternal(i);
      }
    }
  } else {
    const int lo = std::min(from, to), hi = std::max(from, to);
    for (int i = lo + 1; i < hi; ++i)
      if (!IsSelected(i)) SelectInternal(i);
    if (!IsSelected(from)) SelectInternal(from);
  }
  FRangeMode = saveRange;
  FAddMode = saveAdd;
}

void TImageLibMView::SelectRubberBand(int x1, int y1, int x2, int y2) {
  // Content coordinates; every entry whose cell meets the rectangle.
  Deselect();
  const bool saveAdd = FAddMode, saveRange = FRangeMode;
  FAddMode = true;
  FRangeMode = true;
  const int lx = std::min(x1, x2), rx = std::max(x1, x2), ty = std::min(y1, y2), by = std::max(y1, y2);
  for (int i = 0; i < ImageCount(); ++i) {
    TIEImageInfo* e = Entry(i);
    if (e->X <= rx && e->X + FThumbWidth >= lx && e->Y <= by && e->Y + FThumbHeight >= ty) SelectInternal(i);
  }
  FAddMode = saveAdd;
  FRangeMode = saveRange;
}

void TImageLibMView::SelectAt(int x, int y, TShiftState shift) {
  FAddMode = shift.Contains(ssShift) || shift.Contains(ssCtrl);
  const bool moved = x != FPressX || y != FPressY;
  if (!MultiSelectionOptions.Contains(iemoRegion) || !moved || !EnableMultiSelect) {
    const int index = ImageAtPos(x, y, true);
    if (index >= 0) {
      if (EnableMultiSelect && shift.Contains(ssShift) && FSelectedItem >= 0 && index != FSelectedItem)
        SelectRange(FSelectedItem, index);
      SelectInternal(index);
      if (FVisibleSelection) Relayout();
    }
  } else {
    SelectRubberBand(FPressX + FPressScrollX, FPressY + FPressScrollY, x + FViewX, y + FViewY);
    Relayout();
  }
  FAddMode = false;
}

void TImageLibMView::Navigate(TIEMNavigation direction) {
  const int n = ImageCount();
  if (n == 0) return;
  const int columns = std::max(ColumnCount(), 1);
  const int page = columns * std::max((ClientH() - FVertBorder) / std::max(FVertBorder + FThumbHeight, 1), 1);
  int cur = FSelectedItem;
  int next = cur;
  switch (direction) {
    case iedLeft: next = cur - 1; break;
    case iedRight: next = cur + 1; break;
    case iedUp: next = FGridWidth == 0 ? cur - 1 : cur - columns; break;
    case iedDown:
      if (FGridWidth == 0) next = cur + 1;
      else next = cur + columns < n ? cur + columns : cur;
      break;
    case iedHome: next = 0; break;
    case iedEnd: next = n - 1; break;
    case iedPageDown: next = std::min(cur + page, n - 1); break;
    case iedPageUp: next = std::max(cur - page, 0); break;
  }
  if (next < 0 || next >= n) return;
  const bool saveScroll = SelectOnScroll;
  SelectOnScroll = false;
  if (next != cur || FAddMode) SelectInternal(next);
  SelectOnScroll = saveScroll;
  if (EntryVisibility(next) != 2 && FDisplayMode == mdGrid) {
    TIEImageInfo* e = Entry(next);
    const bool topLeft =
        direction == iedLeft || direction == iedUp || direction == iedHome || direction == iedPageUp;
    if (topLeft) SetScroll(e->X - FHorizBorder, e->Y - FVertBorder);
    else SetScroll(e->X + FThumbWidth + FHorizBorder - ClientW(), e->Y + FThumbHeight + FVertBorder - ClientH());
  }
}

UINT TImageLibMView::DialogCode() { return DLGC_WANTARROWS; }

void TImageLibMView::KeyDown(WORD& key, TShiftState shift) {
  TIEView::KeyDown(key, shift);
  if (FPlaying || !FKeyInteract.Contains(mkiMoveSelected)) return;
  static const struct {
    WORD key;
    TIEMNavigation dir;
  } kKeys[] = {{VK_PRIOR, iedPageUp}, {VK_NEXT, iedPageDown}, {VK_END, iedEnd},   {VK_HOME, iedHome},
               {VK_LEFT, iedLeft},    {VK_UP, iedUp},         {VK_RIGHT, iedRight}, {VK_DOWN, iedDown}};
  for (const auto& k : kKeys) {
    if (k.key != key) continue;
    const bool modifier = shift.Contains(ssShift) || shift.Contains(ssCtrl);
    FAddMode = EnableMultiSelect && modifier;
    FInUserEvent = true;
    if (FAddMode && shift.Contains(ssShift) && FAnchor >= 0) {
      // Shift extends from the anchor: the range is made again each step.
      const int before = FSelectedItem;
      FAddMode = false;
      Navigate(k.dir);
      const int now = FSelectedItem;
      if (now != before) {
        FAddMode = true;
        FRangeMode = true;
        SelectRange(FAnchor, now);
        if (!IsSelected(FAnchor)) SelectInternal(FAnchor);
        FSelectedItem = now;
        FRangeMode = false;
      }
    } else {
      Navigate(k.dir);
    }
    DoViewChange(0);
    FInUserEvent = false;
    FAddMode = false;
    if (!modifier) FAnchor = FSelectedItem;
    Relayout();
    key = 0;
    break;
  }
  DoAfterEvent(2);
}

// ---- mouse ----

void TImageLibMView::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TIEView::MouseDown(button, shift, x, y);
  if (FSkipNextPress) {
    FSkipNextPress = false;
    return;
  }
  if (CanFocus()) SetFocus();
  FMouseDownNow = true;
  SetMouseCapture(true);
  FPressX = x, FPressY = y, FPressScrollX = FViewX, FPressScrollY = FViewY;
  FMouseX = x, FMouseY = y;
  FPressIndex = ImageAtPos(x, y, true);
  FLastMoveIndex = FPressIndex;
  FRangeSelectedDuringDrag = false;
  FPressChangedSelection = false;
  FInUserEvent = true;
  if (button == mbLeft && !MultiSelectionOptions.Contains(iemoSelectOnMouseUp) &&
      FMouseInteract.Contains(mmiSelect)) {
    if (EnableMultiSelect && shift.Contains(ssShift) && FAnchor >= 0 && FPressIndex >= 0) {
      Deselect();
      SelectRange(FAnchor, FPressIndex);
      FAddMode = true;
      SelectInternal(FPressIndex);
      FAddMode = false;
      FPressChangedSelection = true;
      Relayout();
    } else if (FPressIndex >= 0 && IsSelected(FPressIndex) && !shift.Contains(ssCtrl)) {
      FAnchor = FPressIndex;  // a drag keeps the selection
      FPressChangedSelection = true;
    } else {
      FAnchor = FPressIndex >= 0 ? FPressIndex : FAnchor;
      SelectAt(x, y, shift);
      FPressChangedSelection = true;
    }
  }
  FInUserEvent = false;
  DoAfterEvent(0);
}

void TImageLibMView::AutoScrollStep(int x, int y) {
  const int cw = ClientW(), ch = ClientH();
  if (std::abs(x - FPressX) <= kAutoScrollDeadZone && std::abs(y - FPressY) <= kAutoScrollDeadZone) return;
  int dx = 0, dy = 0;
  if (x < kAutoScrollEdge) dx = -std::max((kAutoScrollEdge - x) / 3, 10);
  else if (x > cw - kAutoScrollEdge) dx = std::max((x - (cw - kAutoScrollEdge)) / 2, 10);
  if (y < kAutoScrollEdge) dy = -std::max((kAutoScrollEdge - y) / 3, 10);
  else if (y > ch - kAutoScrollEdge) dy = std::max((y - (ch - kAutoScrollEdge)) / 2, 10);
  if (dx == 0 && dy == 0) return;
  const int ox = FViewX, oy = FViewY;
  SetScroll(FViewX + dx, FViewY + dy);
  if ((FViewX != ox || FViewY != oy) && HandleAllocated()) PostMessage(Handle(), kIEMViewAutoScrollMsg, 0, 0);
}

void TImageLibMView::MouseMove(TShiftState shift, int x, int y) {
  TIEView::MouseMove(shift, x, y);
  FMouseX = x, FMouseY = y;
  if (!FMouseDownNow) return;
  FInUserEvent = true;
  if (FMouseInteract.Contains(mmiScroll)) {
    SetScroll(FPressScrollX - (x - FPressX), FPressScrollY - (y - FPressY));
  } else if (FMouseInteract.Contains(mmiSelect) && EnableMultiSelect) {
    const int index = ImageAtPos(x, y, false);
    if (index >= 0 && index != FLastMoveIndex && FPressIndex >= 0) {
      FLastMoveIndex = index;
      Deselect();
      SelectRange(FPressIndex, index);
      FAddMode = true;
      SelectInternal(index);
      FAddMode = false;
      FRangeSelectedDuringDrag = true;
      Relayout();
    }
    AutoScrollStep(x, y);
  }
  FInUserEvent = false;
}

void TImageLibMView::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  TIEView::MouseUp(button, shift, x, y);
  if (!FMouseDownNow) return;
  FMouseDownNow = false;
  SetMouseCapture(false);
  FInUserEvent = true;
  if (button == mbLeft && FMouseInteract.Contains(mmiSelect)) {
    const bool onUp = MultiSelectionOptions.Contains(iemoSelectOnMouseUp);
    if ((onUp && !FRangeSelectedDuringDrag) || (!onUp && !FPressChangedSelection)) SelectAt(x, y, shift);
    else if (!onUp && MultiSelectionOptions.Contains(iemoRegion) && EnableMultiSelect && FPressIndex < 0 &&
             (x != FPressX || y != FPressY))
      SelectAt(x, y, shift);
  }
  if (FMouseInteract.Contains(mmiScroll)) {
    SetScroll(FPressScrollX - (x - FPressX), FPressScrollY - (y - FPressY));
    DoViewChange(0);
  }
  FInUserEvent = false;
  DoAfterEvent(1);
}

void TImageLibMView::DblClick() {
  TIEView::DblClick();
  FSkipNextPress = true;
}

// ---- playback ----

void TImageLibMView::SetDisplayMode(TIEMDisplayMode v) {
  if (FPlaying) {
    FSavedDisplayMode = v;
    return;
  }
  FDisplayMode = v;
  Relayout(true);
}

void TImageLibMView::SetPlaying(bool value) {
  if (value == FPlaying) return;
  if (value) {
    if (ImageCount() == 0) return;
    FSavedDisplayMode = FDisplayMode;
    FSavedSelected = FSelectedItem;
    Deselect();
    FDisplayMode = mdSingle;
    FPlaying = true;
    FFrame = 0;
    Relayout(true);
    PlayStep();
  } else {
    FPlaying = false;
    if (HandleAllocated()) KillTimer(Handle(), kPlayTimerId);
    FDisplayMode = FSavedDisplayMode;
    Relayout(true);
    if (ValidIndex(FSavedSelected)) SelectInternal(FSavedSelected);
  }
}

void TImageLibMView::PlayStep() {
  if (!FPlaying) return;
  const int n = ImageCount();
  if (n == 0) {
    SetPlaying(false);
    return;
  }
  if (FFrame >= n) FFrame = 0;
  if (OnPlayFrame) OnPlayFrame(this, FFrame);
  if (HandleAllocated()) Invalidate();
  // The shown frame stays on screen for its own display time.
  const double delay = ImageDelayTime(FFrame);
  if (HandleAllocated())
    SetTimer(Handle(), kPlayTimerId, UINT(std::max<int64_t>(int64_t(Round(delay)), 10)), nullptr);
}

void TImageLibMView::HandleTimer(TMessage& message) {
  message.Result = 0;
  if (message.WParam == kPlayTimerId) {
    if (FPlaying) {
      if (++FFrame >= ImageCount()) {
        FFrame = 0;
        if (!PlayLoop) {
          SetPlaying(false);
          return;
        }
      }
      PlayStep();
    } else if (HandleAllocated()) KillTimer(Handle(), kPlayTimerId);
  }
}
