// The grid's painting, the storing of pictures and their synchronous loading.
#include <algorithm>
#include <cmath>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_proc.h"
#include "imaging/core/ie_proc_blur.h"
#include "imaging/core/ie_resample.h"
#include "imaging/core/ie_utils.h"
#include "imaging/formats/ico_filter.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/views/multi_image_io.h"
#include "imaging/views/shell_thumbnail.h"
#include "imaging/views/thumb_grid.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_graphic.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/windows.h"

namespace {

// Drops the last character (not byte) of a UTF-8 text.
void DropLastChar(std::string& s) {
  if (s.empty()) return;
  size_t i = s.size() - 1;
  while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
  s.erase(i);
}

void DropFirstChar(std::string& s) {
  if (s.empty()) return;
  size_t i = 1;
  while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  s.erase(0, i);
}

size_t CharCount(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The text as drawn in width pixels: shortened a character at a time with
// "..." at the side that goes.
std::string FitText(TCanvas& canvas, const std::string& text, int width, int side) {
  if (canvas.TextWidth(text) <= width) return text;
  std::string s = text;
  std::string shown = text;
  while (CharCount(s) >= 2) {
    if (side == 0) DropLastChar(s);
    else DropFirstChar(s);
    shown = side == 0 ? s + "..." : "..." + s;
    if (canvas.TextWidth(shown) <= width) break;
  }
  return shown;
}

void FrameLines(TCanvas& c, const TRect& r, TColor leftTop, TColor rightBottom) {
  c.Pen()->SetWidth(1);
  c.Pen()->SetColor(leftTop);
  c.MoveTo(r.left, r.bottom - 1);
  c.LineTo(r.left, r.top);
  c.LineTo(r.right - 1, r.top);
  c.Pen()->SetColor(rightBottom);
  c.LineTo(r.right - 1, r.bottom - 1);
  c.LineTo(r.left - 1, r.bottom - 1);
}

void Outline(TCanvas& c, const TRect& r, TColor color) {
  c.Brush()->SetStyle(bsClear);
  c.Pen()->SetWidth(1);
  c.Pen()->SetColor(color);
  c.Rectangle(r.left, r.top, r.right, r.bottom);
  c.Brush()->SetStyle(bsSolid);
}

bool IsMetafileName(const std::string& name) {
  const std::string ext = LowerCase(ExtractFileExt(name));
  return ext == ".emf" || ext == ".wmf";
}

bool IsFrameVideoName(const std::string& name) {
  const std::string ext = LowerCase(ExtractFileExt(name));
  return ext == ".avi" || ext == ".wmv" || ext == ".mpg" || ext == ".mpeg" || ext == ".mpe";
}

}  // namespace

// ---- storing ----

std::unique_ptr<TIEBitmap> TImageLibMView::MakeThumbnail(TIEBitmap& bitmap) {
  const int w = bitmap.Width(), h = bitmap.Height();
  int tw = FThumbWidth, th = FThumbHeight;
  if (w > 0 && h > 0) ScaleToFit(w, h, FThumbWidth, FThumbHeight, tw, th);
  if (tw == w && th == h) return nullptr;
  tw = std::max(tw, 1);
  th = std::max(th, 1);
  TIEBitmap* source = &bitmap;
  std::unique_ptr<TIEBitmap> filled;
  if (bitmap.HasAlphaChannel() && !bitmap.AlphaChannel()->Full() && bitmap.PixelFormat() == ie24RGB) {
    // The caller's picture stays as it was: fully transparent pixels turn grey
    // in a copy, so their colour does not bleed into the reduced edges.
    filled = TIEBitmap::CreateCopy(bitmap);
    FillTransparentPixels(*filled, MakeRGB(128, 128, 128));
    source = filled.get();
  }
  auto thumb = std::make_unique<TIEBitmap>();
  thumb->SetLocation(ieMemory);
  if (w <= 0 || h <= 0) {
    thumb->Allocate(tw, th, ie24RGB);
    thumb->Fill(0xFFFFFF);
    return thumb;
  }
  if (source->PixelFormat() == ie1g) {
    thumb->Allocate(tw, th, ie24RGB);
    Stretch1BitToGray(*source, 0, 0, w - 1, h - 1, *thumb);
  } else if (source->PixelFormat() == ie24RGB && ThumbnailResampleFilter != rfNone) {
    thumb->Allocate(tw, th, ie24RGB);
    if (ThumbnailResampleFilter == rfFastLinear) ResampleFastLinear(*source, *thumb);
    else ResampleEx(source, thumb.get(), nullptr, nullptr, nullptr, ThumbnailResampleFilter);
  } else {
    TIEBitmap stretched;
    stretched.SetLocation(ieMemory);
    stretched.Allocate(tw, th, source->PixelFormat());
    IEBmpStretchEx(source, &stretched);
    stretched.RemoveAlphaChannel(false);
    thumb->Allocate(tw, th, ie24RGB);
    thumb->ConvertFrom(stretched);
  }
  if (bitmap.HasAlphaChannel()) {
    TIEBitmap* a = bitmap.AlphaChannel();
    TIEBitmap* ta = thumb->AlphaChannel();
    if (ThumbnailResampleFilter == rfNone || ThumbnailResampleFilter == rfFastLinear) ResampleGrayFastLinear(*a, *ta);
    else ResampleGrayFiltered(*a, *ta, ThumbnailResampleFilter);
    ta->SetFull(a->Full());
  }
  return thumb;
}

bool TImageLibMView::StoreEntryPicture(int index, TIEBitmap& bitmap) {
  TIEImageInfo* e = Entry(index);
  if (!e) return false;
  TIEBitmap* store = &bitmap;
  std::unique_ptr<TIEBitmap> thumb;
  const bool fits = bitmap.Width() <= FThumbWidth && bitmap.Height() <= FThumbHeight;
  if (FStoreType == ietThumb && !(fits && !EnableResamplingOnMinor)) {
    thumb = MakeThumbnail(bitmap);
    if (thumb) store = thumb.get();
  }
  e->image = FImageList->AddBitmap(store);
  if (!e->image) return false;
  FImageList->SetOriginalWidth(e->image, bitmap.Width());
  FImageList->SetOriginalHeight(e->image, bitmap.Height());
  return true;
}

void TImageLibMView::SetImage(int index, TIEBitmap* bitmap) {
  if (!bitmap) return;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  if (!e) return;
  // The selection belongs to the grid's thread. A reader only stores into an
  // entry that had no picture, so nothing of it is checked out.
  const bool onGridThread = std::this_thread::get_id() == MainThreadID();
  if (onGridThread && index == FSelectedItem) FCurrentBitmap = nullptr;  // its checkout goes with the image
  if (e->image) FImageList->DeleteImage(e->image);
  if (e->cacheImage) FCacheList->DeleteImage(e->cacheImage);
  e->image = nullptr;
  e->cacheImage = nullptr;
  StoreEntryPicture(index, *bitmap);
  if (onGridThread && index == FSelectedItem) NotifyBitmapChange();
}

void TImageLibMView::SetImageFromTBitmap(int index, TBitmap* bitmap) {
  if (!bitmap) return;
  TIEBitmap b;
  b.SetLocation(ieMemory);
  b.CopyFromTBitmap(*bitmap);
  SetImage(index, &b);
}

void TImageLibMView::DropCachedThumbnail(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  if (e && e->cacheImage) {
    FCacheList->DeleteImage(e->cacheImage);
    e->cacheImage = nullptr;
  }
}

void TImageLibMView::DropCachedThumbnails() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (size_t i = 0; i < FEntries.size(); ++i) DropCachedThumbnail(static_cast<int>(i));
}

// ---- loading now ----

void TImageLibMView::PrepareReader(TImageLibIO& io, TIEImageInfo& e) {
  io.SetBackground(e.background);
  TIOParamsVals& p = io.Params();
  if (FStoreType == ietThumb) {
    p.JpegScale = jscAuto;  // the smallest DCT scale that still covers the cell
    p.JpegDctMethod = jdmFastInteger;
    p.Width = FThumbWidth;
    p.Height = FThumbHeight;
  } else {
    p.JpegScale = jscFull;
  }
  p.SetApplyOrientation(EnableAdjustOrientation);
  io.AutoAdjustDPI = FMIO ? FMIO->AutoAdjustDPI : false;
}

void TImageLibMView::ReadEntryFile(TImageLibIO& io, TIEImageInfo& e, int index, bool& done) {
  (void)index;
  done = true;
  std::string file = e.name;
  int frame = -1;
  const bool isFrame = SplitFrameReference(e.name, file, frame);
  try {
    if (IsMetafileName(file)) {
      io.LoadMetafileFile(UTF8ToWide(file), FThumbWidth, true, -1);
    } else if (!isFrame && IsVideoFileName(file)) {
      io.SetAborting(!LoadShellThumbnail(*io.IEBitmap(), file, FThumbWidth, FThumbHeight));
    } else if (isFrame && IsFrameVideoName(file)) {
      if (!io.IsVideoOpen()) io.OpenVideoFile(UTF8ToWide(file));
      if (!io.IsVideoOpen()) {
        io.SetAborting(true);
      } else {
        io.ReadVideoFrame(frame);
        // The reader already gives the frame's time in milliseconds.
        e.DTime = io.Params().VideoFrameDelay;
      }
    } else if (isFrame) {
      io.Params().SetImageIndex(frame);
      io.LoadFile(file);
      if (io.Params().FileType == ioGIF) e.DTime = io.Params().GifDelay * 10.0;
    } else {
      io.LoadFile(file);
    }
  } catch (...) {
    io.SetAborting(true);
  }
}

bool TImageLibMView::LoadImageNow(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  if (!e) return false;
  if (e->ID >= 0 && OnImageIDRequest) {
    TBitmap* b = nullptr;
    OnImageIDRequest(this, e->ID, b);
    if (!b) return false;
    SetImageFromTBitmap(index, b);
    return HasImage(index);
  }
  if (e->ID >= 0 && OnImageIDRequestEx) {
    TIEBitmap* b = nullptr;
    OnImageIDRequestEx(this, e->ID, b);
    if (!b) return false;
    SetImage(index, b);
    return HasImage(index);
  }
  if (e->name.empty()) return false;
  std::string file = e->name;
  int frame = 0;
  TImageLibIO* io = FIO.get();
  if (SplitFrameReference(e->name, file, frame)) {
    io = nullptr;
    for (auto& r : FFrameReaders)
      if (r.first == file) io = r.second.get();
    if (!io) {
      FFrameReaders.emplace_back(file, std::make_unique<TImageLibIO>(nullptr));
      io = FFrameReaders.back().second.get();
    }
  }
  TIEBitmap picture;
  picture.SetLocation(ieMemory);
  io->AttachBitmap(&picture);
  io->OnProgress = OnIOProgress;
  PrepareReader(*io, *e);
  bool done = false;
  ReadEntryFile(*io, *e, index, done);
  bool ok = !io->Aborting() && !picture.IsEmpty();
  if (!ok) DoWrongImage(&picture, index);
  e = Entry(index);
  if (e) {
    if (FMIO && FMIO->ParamsAt(index)) FMIO->ParamsAt(index)->Assign(&io->Params());
    e->background = io->Background();
    SetImage(index, &picture);
    if (ok && e->image && io->Params().StoredWidth > 0 && io->Params().StoredHeight > 0) {
      FImageList->SetOriginalWidth(e->image, io->Params().StoredWidth);
      FImageList->SetOriginalHeight(e->image, io->Params().StoredHeight);
    }
    e->loadFailed = !ok;
  }
  io->AttachBitmap(nullptr);
  io->OnProgress = nullptr;
  return ok;
}

void TImageLibMView::MakePlaceholder(TIEBitmap& bitmap, int index) {
  (void)index;
  bitmap.Allocate(std::max(FThumbWidth, 1), std::max(FThumbHeight, 1), ie24RGB);
  bitmap.Fill(0xFFFFFF);
  TCanvas* c = bitmap.Canvas();
  if (!c) return;
  c->Font()->SetName("Arial");
  c->Font()->SetStyle(TFontStyles{fsBold});
  c->Font()->SetSize(FThumbHeight);
  c->Brush()->SetStyle(bsClear);
  const int tw = c->TextWidth("?"), th = c->TextHeight("?");
  const int x = (FThumbWidth - tw) / 2, y = (FThumbHeight - th) / 2;
  c->Font()->SetColor(TColor(0x808080));
  c->TextOut(x + 3, y + 3, "?");
  c->Font()->SetColor(TColor(0xFF0000));
  c->TextOut(x, y, "?");
  c->Brush()->SetStyle(bsSolid);
}

void TImageLibMView::DoWrongImage(TIEBitmap* bitmap, int index) {
  if (!bitmap) return;
  if (OnWrongImage) {
    bitmap->Allocate(std::max(FThumbWidth, 1), std::max(FThumbHeight, 1), ie24RGB);
    bool handled = false;
    OnWrongImage(this, bitmap, index, handled);
    if (handled) return;
  }
  const std::string name = ImageFileName(index);
  if (IconWhenWrong && !name.empty()) {
    std::string file = name;
    int frame = 0;
    SplitFrameReference(name, file, frame);
    if (LoadFileIconBitmap(file, *bitmap)) return;
  }
  MakePlaceholder(*bitmap, index);
  bitmap->SetLocation(ieMemory);
}

// ---- painting ----

void TImageLibMView::EnsureBackBuffer() {
  const int w = std::max(ClientW(), 1), h = std::max(ClientH(), 1);
  if (FBackBuffer->Width() != w || FBackBuffer->Height() != h || FBackBuffer->PixelFormat() != ie24RGB)
    FBackBuffer->Allocate(w, h, ie24RGB);
}

void TImageLibMView::Paint() {
  if (FPaintLock > 0 || !HandleAllocated()) return;
  FPostTarget = Handle();
  if (ClientW() <= 0 || ClientH() <= 0) return;
  PaintToCanvas(Canvas());
  DoAfterEvent(4);
}

void TImageLibMView::PaintToCanvas(TCanvas* canvas) {
  if (FPaintLock > 0 || !canvas) return;
  EnsureBackBuffer();
  PaintTo(*FBackBuffer);
  TCanvas* source = FBackBuffer->Canvas();
  if (!source) return;
  if (RubberBand && FMouseDownNow) {
    source->Brush()->SetStyle(bsClear);
    source->Pen()->SetColor(TColor(8742479));
    source->Rectangle(std::min(FPressX, FMouseX), std::min(FPressY, FMouseY), std::max(FPressX, FMouseX) + 1,
                      std::max(FPressY, FMouseY) + 1);
    source->Brush()->SetStyle(bsSolid);
  }
  BitBlt(canvas->Handle(), 0, 0, FBackBuffer->Width(), FBackBuffer->Height(), source->Handle(), 0, 0, SRCCOPY);
}

void TImageLibMView::PaintTo(TBitmap* destination) {
  if (!destination) return;
  TIEBitmap b;
  b.SetLocation(ieTBitmap);
  b.Allocate(std::max(ClientW(), 1), std::max(ClientH(), 1), ie24RGB);
  PaintTo(b);
  b.CopyToTBitmap(*destination);
}

void TImageLibMView::PaintBackground(TIEBitmap& destination) {
  const int w = destination.Width(), h = destination.Height();
  PaintViewBackground(destination, FBackgroundStyle, Background(), clWhite, 16, Rect(0, 0, w, h), w, h);
  TGraphic* g = FWallPaper->Graphic();
  if (!g || g->Empty()) return;
  TCanvas* c = destination.Canvas();
  if (!c) return;
  switch (WallPaperStyle) {
    case iewoNormal: c->Draw(0, 0, g); break;
    case iewoStretch: c->StretchDraw(Rect(0, 0, w, h), g); break;
    case iewoTile:
      for (int y = 0; y < h; y += std::max(g->Height(), 1))
        for (int x = 0; x < w; x += std::max(g->Width(), 1)) c->Draw(x, y, g);
      break;
  }
}

bool TImageLibMView::Reloadable(TIEImageInfo& e) {
  return !e.name.empty() || (e.ID >= 0 && (OnImageIDRequest || OnImageIDRequestEx));
}

void TImageLibMView::PaintTo(TIEBitmap& dest) {
  ++FPaintCount;
  {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    FLoadView = TRect{FViewX, FViewY, FViewX + dest.Width(), FViewY + dest.Height()};
  }
  bool loadedNow = false;
  bool complete = true;
  int firstVisible = -1, lastVisible = -1;
  for (int restarts = 0;; ++restarts) {
    PaintBackground(dest);
    complete = true;
    firstVisible = lastVisible = -1;
    const int n = ImageCount();
    const bool single = FDisplayMode == mdSingle || FPlaying;
    int from = 0, to = n - 1;
    if (single) {
      const int current = FPlaying ? FFrame : std::max(FSelectedItem, 0);
      from = to = std::clamp(current, 0, std::max(n - 1, 0));
      if (n == 0) to = -1;
    }
    bool restart = false;
    int drawn = 0;
    for (int i = from; i <= to; ++i) {
      TIEImageInfo* e = Entry(i);
      if (!e) break;
      if (!single && !IsCellVisible(i)) continue;
      if (firstVisible < 0) firstVisible = i;
      lastVisible = i;
      if (n > 1 && OnDrawProgress) OnDrawProgress(this, int(double(i) / n * 100), i);
      bool has;
      {
        std::lock_guard<std::recursive_mutex> guard(FLock);
        has = e->image || e->cacheImage;
      }
      if (!has) {
        if (i != FSelectedItem && FThreadPoolSize > 0 && !single && RequestLoad(i, drawn)) {
          complete = false;
        } else {
          loadedNow = true;
          if (!LoadImageNow(i) && RemoveCorrupted) {
            DeleteEntry(i);
            restart = true;
            break;
          }
        }
      }
      ++drawn;
      DrawThumbnail(dest, i, (i == FSelectedItem || IsSelected(i)) && FVisibleSelection && !single);
    }
    if (!restart || restarts > 100000) break;
  }
  // Look-ahead: the next entries after the visible ones start loading too.
  if (LookAhead > 0 && FThreadPoolSize > 0 && lastVisible >= 0) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    FLookahead.clear();
    for (int i = lastVisible + 1; i < ImageCount() && static_cast<int>(FLookahead.size()) < LookAhead; ++i)
      if (!Entry(i)->image) FLookahead.push_back(i);
  }
  for (int i : std::vector<int>(FLookahead)) RequestLoad(i, -1);
  // Entries far from the visible range give their pictures back to the store.
  if (firstVisible >= 0) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    const int keep = std::max(LookAhead, KeepDistance < 0 ? 15 : KeepDistance);
    for (int i = 0; i < ImageCount(); ++i) {
      if (i >= firstVisible - keep && i <= lastVisible + keep) continue;
      TIEImageInfo* e = Entry(i);
      if (!e->image || !Reloadable(*e) || i == FSelectedItem || FImageList->FindCheckedOut(e->image) >= 0) continue;
      FImageList->DeleteImage(e->image);
      e->image = nullptr;
      DropCachedThumbnail(i);
    }
  }
  if (OnDrawProgress) OnDrawProgress(this, 100, -1);
  // Once each time the display becomes complete.
  const bool fire = complete && (!FAllDisplayedLast || loadedNow);
  FAllDisplayedLast = complete;
  if (fire && OnAllDisplayed) OnAllDisplayed(this);
}

void TImageLibMView::DrawCellBackground(TIEBitmap& dest, const TRect& r, TColor color) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  if (FThumbsBackgroundStyle == iebsSolid) {
    dest.FillRect(r.left, r.top, r.right - 1, r.bottom - 1, double(color));
    return;
  }
  TIEBitmap cell(w, h, ie24RGB);
  PaintViewBackground(cell, FThumbsBackgroundStyle, color, clWhite, 8, Rect(0, 0, w, h), w, h);
  cell.CopyRectTo(dest, 0, 0, w, h, r.left, r.top);
}

void TImageLibMView::DrawTexts(TCanvas& c, TIEImageInfo& e, TRect& cell, bool selected, int& infoBand) {
  const int cw = cell.right - cell.left, ch = cell.bottom - cell.top;
  const bool acd = selected && FSelectionStyle == iessACD;
  auto prepare = [&](TIEMText& t) {
    c.Font()->Assign(t.Font());
    c.Brush()->SetStyle(t.BrushStyle);
    if (acd) {
      c.Font()->SetColor(clHighlightText);
      if (t.BrushStyle != bsClear) c.Brush()->SetColor(clHighlight);
    } else if (t.BrushStyle != bsClear) {
      c.Brush()->SetColor(t.Background);
    }
  };
  infoBand = 0;
  if (!e.topText->Caption.empty()) {
    TIEMText& t = *e.topText;
    prepare(t);
    const std::string s = FitText(c, t.Caption, cw, t.TruncSide);
    const int th = c.TextHeight(s);
    if (FStyle == iemsFlat && t.BrushStyle != bsSolid) c.FillRect(Rect(cell.left, cell.top, cell.right, cell.top + th));
    c.TextOut(cell.left + (cw - c.TextWidth(s)) / 2, cell.top, s);
  }
  if (!e.bottomText->Caption.empty()) {
    TIEMText& t = *e.bottomText;
    prepare(t);
    const std::string s = FitText(c, t.Caption, cw, t.TruncSide);
    const int th = c.TextHeight(s);
    const int top = cell.top + ch - FBottomGap - th;
    if (FStyle == iemsFlat && t.BrushStyle == bsSolid) c.FillRect(Rect(cell.left, top, cell.right, top + th));
    c.TextOut(cell.left + (cw - c.TextWidth(s)) / 2, top, s);
  }
  if (!e.infoText->Caption.empty()) {
    TIEMText& t = *e.infoText;
    prepare(t);
    const std::string s = FitText(c, t.Caption, cw, t.TruncSide);
    const int th = c.TextHeight(s);
    const int top = cell.bottom - th - 1;
    if (t.BrushStyle == bsSolid) c.FillRect(Rect(cell.left, top, cell.right, cell.bottom));
    c.TextOut(cell.left + (cw - c.TextWidth(s) - 2) / 2 + 1, top, s);
    infoBand = th + 3;
  }
  c.Brush()->SetStyle(bsSolid);
}

void TImageLibMView::DrawThumbnail(TIEBitmap& dest, int index, bool selected) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  if (!e) return;
  TCanvas* canvas = dest.Canvas();
  if (!canvas) return;
  TRect cell = Rect(e->X - FViewX, e->Y - FViewY, e->X - FViewX + FThumbWidth, e->Y - FViewY + FThumbHeight);
  if (FDisplayMode == mdSingle || FPlaying) cell = Rect(0, 0, dest.Width(), dest.Height());
  const int upper = ShowText ? FUpperGap : 0, bottom = ShowText ? FBottomGap : 0;
  if (OnBeforeImageDraw) OnBeforeImageDraw(this, index, cell.left, cell.top, canvas);
  bool movedCell = false;
  if (OnBeforeImageDrawEx) {
    TRect r = cell;
    OnBeforeImageDrawEx(this, index, cell.left, cell.top, r);
    movedCell = true;
    cell = r;
  }
  const int cw = cell.right - cell.left, ch = cell.bottom - cell.top;
  int bottomTextH = 0;
  if (ShowText && !e->bottomText->Caption.empty()) {
    canvas->Font()->Assign(e->bottomText->Font());
    bottomTextH = canvas->TextHeight(e->bottomText->Caption);
  }
  const int areaH = std::max(ch - upper - bottom - bottomTextH, 1);
  const TColor back = selected && FSelectionStyle == iessACD ? TColor(clHighlight)
                      : FDrawImageBackground                   ? e->background
                                                               : FThumbsBackground;
  DrawCellBackground(dest, cell, ColorToRGB(back));
  // The picture, fitted into the image area.
  TRect imageRect = Rect(cell.left, cell.top + upper, cell.left, cell.top + upper);
  TIEVirtualImageList* list = e->cacheImage ? FCacheList.get() : e->image ? FImageList.get() : nullptr;
  TIEVirtualImageHandle h = e->cacheImage ? e->cacheImage : e->image;
  if (list && h) {
    const int sw = list->ImageWidth(h), sh = list->ImageHeight(h);
    int fw = sw, fh = sh;
    if (EnableResamplingOnMinor || sw > cw || sh > areaH) ScaleToFit(sw, sh, cw, areaH, fw, fh);
    fw = std::max(fw, 1), fh = std::max(fh, 1);
    const int x = cell.left + (cw - fw) / 2, y = cell.top + upper + (areaH - fh) / 2;
    imageRect = Rect(x, y, x + fw, y + fh);
    e->internalLeft = x - cell.left;
    e->internalTop = y - cell.top;
    // The stored rows are wrapped where they lie, not copied.
    TIEBitmap wrapped;
    const TIEBitmapFormat format = list->ImagePixelFormat(h);
    uint8_t* bits = list->ImageBits(h);
    std::unique_ptr<TIEBitmap> owned;
    TIEBitmap* drawn = nullptr;
    if (bits) {
      wrapped.EncapsulateMemory(bits, sw, sh, format, false, true);
      if (format == ie8p)
        if (const uint8_t* pal = list->ImagePalette(h))
          for (int i = 0; i < 256; ++i) wrapped.SetPaletteColor(i, MakeRGB(pal[i * 3 + 2], pal[i * 3 + 1], pal[i * 3]));
      if (uint8_t* alpha = list->ImageAlphaBits(h)) {
        auto a = std::make_unique<TIEBitmap>();
        a->EncapsulateMemory(alpha, sw, sh, ie8g, false, true);
        a->SetFull(false);
        AttachAlphaChannel(wrapped, std::move(a));
      }
      drawn = &wrapped;
      if (fw != sw || fh != sh) {
        owned = std::make_unique<TIEBitmap>();
        owned->SetLocation(ieMemory);
        if (format == ie1g && (fw < sw || fh < sh)) {
          owned->Allocate(fw, fh, ie24RGB);
          ResampleIEBitmap(&wrapped, owned.get(), rfFastLinear);
        } else {
          owned->Allocate(fw, fh, format);
          ResampleIEBitmap(&wrapped, owned.get(), DisplayResampleFilter);
        }
        drawn = owned.get();
      }
      const bool fromStore = list == FImageList.get();
      if (fromStore && (RoundedCornersDivisor > 0 || SoftShadow)) {
        if (drawn == &wrapped) {
          owned = TIEBitmap::CreateCopy(wrapped);
          drawn = owned.get();
        }
        if (RoundedCornersDivisor > 0) {
          const int r = std::min(cw, ch) / RoundedCornersDivisor;
          RoundImageCorners(*drawn, r, r);
        }
        if (SoftShadow) {
          drawn->ConvertToPixelFormat(ie24RGB);
          AddSoftShadow(*drawn, SoftShadowOffsetX, SoftShadowOffsetY, nullptr, nullptr, SoftShadowColor, true,
                        SoftShadowIntensity, SoftShadowRadius);
          auto back2 = std::make_unique<TIEBitmap>();
          back2->SetLocation(ieMemory);
          back2->Allocate(fw, fh, ie24RGB);
          ResampleIEBitmap(drawn, back2.get(), rfTriangle);
          owned = std::move(back2);
          drawn = owned.get();
        }
      }
      const RECT clip{cell.left, cell.top, cell.right, cell.bottom};
      drawn->RenderToTIEBitmapEx(dest, nullptr, nullptr, nullptr, &clip, x, y, fw, fh, 0, 0, drawn->Width(),
                                 drawn->Height(), FEnableAlpha, false, 255, rfNone, true, iebmNormal);
      if (EnableImageCaching && fromStore && !e->cacheImage) {
        e->cacheImage = FCacheList->AddBitmap(drawn);
        if (e->cacheImage) {
          FCacheList->SetOriginalWidth(e->cacheImage, FImageList->GetOriginalWidth(e->image));
          FCacheList->SetOriginalHeight(e->cacheImage, FImageList->GetOriginalHeight(e->image));
        }
      }
    }
  }
  if (FInternalBorder && imageRect.right > imageRect.left)
    Outline(*canvas, Rect(imageRect.left - 1, imageRect.top - 1, imageRect.right + 1, imageRect.bottom + 1),
            FInternalBorderColor);
  int infoBand = 0;
  if (ShowText) DrawTexts(*canvas, *e, cell, selected, infoBand);
  if (FStyle == iemsACD && imageRect.right > imageRect.left) {
    FrameLines(*canvas, Rect(imageRect.left - 1, imageRect.top - 1, imageRect.right + 1, imageRect.bottom + 1),
               clWhite, TColor(0x808080));
    if (upper > 0 || bottom > 0 || bottomTextH > 0)
      FrameLines(*canvas, Rect(cell.left, cell.top, cell.right, cell.bottom - infoBand), clBlack, clWhite);
    if (infoBand > 0)
      FrameLines(*canvas, Rect(cell.left, cell.bottom - infoBand, cell.right, cell.bottom), clWhite,
                 TColor(0x808080));
  }
  if (OnImageDraw) OnImageDraw(this, index, cell.left, cell.top, canvas);
  if (OnImageDraw2) OnImageDraw2(this, index, cell.left, cell.top, imageRect, canvas);
  for (int i = 1; i <= FThumbsBorderWidth; ++i) {
    const TRect r = Rect(cell.left - i, cell.top - i, cell.right + i, cell.bottom + i);
    if (RoundedCornersDivisor > 0) {
      const int rr = std::min(cw, ch) / RoundedCornersDivisor;
      canvas->Brush()->SetStyle(bsClear);
      canvas->Pen()->SetColor(FThumbsBorderColor);
      canvas->Pen()->SetWidth(1);
      canvas->RoundRect(r.left, r.top, r.right, r.bottom, rr, rr);
      canvas->Brush()->SetStyle(bsSolid);
    } else {
      Outline(*canvas, r, FThumbsBorderColor);
    }
  }
  if (selected && FSelectionStyle == iessAround && !movedCell) {
    const int w = Focused() ? FSelectionWidth : UnfocusedSelectionWidth;
    if (RoundedSelection) {
      const int g = w / 2 + 1;
      canvas->Brush()->SetStyle(bsClear);
      canvas->Pen()->SetColor(FSelectionColor);
      canvas->Pen()->SetWidth(std::max(w, 1));
      canvas->RoundRect(cell.left - g, cell.top - g, cell.right + g, cell.bottom + g, 4, 4);
      canvas->Pen()->SetWidth(1);
      canvas->Brush()->SetStyle(bsSolid);
    } else {
      for (int i = 1; i <= w; ++i)
        Outline(*canvas, Rect(cell.left - i, cell.top - i, cell.right + i, cell.bottom + i), FSelectionColor);
    }
  }
}
