#include "pictures/gif/gif_image.h"

#include <algorithm>
#include <cstring>

#include "pictures/gif/gif_painter.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

namespace {

bool gPaletteScreenKnown = false;
bool gPaletteScreen = false;

// Copies a palette (the bitmaps and the painter's target own theirs).
HPALETTE CopyOfPalette(HPALETTE palette) {
  if (!palette) return nullptr;
  PALETTEENTRY entries[256];
  const UINT n = GetPaletteEntries(palette, 0, 256, entries);
  return n ? MakePaletteOf(entries, static_cast<int>(n)) : nullptr;
}

}  // namespace

TGIFImage::TGIFImage()
    : FFrames(std::make_unique<TGIFImageList>(this)), FHeader(std::make_unique<TGIFHeader>(this)) {
  ResetContents();
}

TGIFImage::~TGIFImage() {
  StopAllPainters();
  FPainterLock.Enter();
  for (TGIFPainter* p : FPainterList) p->ForgetImage();
  FPainterList.clear();
  FActivePainter = nullptr;
  FPainterLock.Leave();
  FCachedBitmap.reset();
  FFrames->ClearItems();
  FHeader->Reset();
  if (FPaletteCache) DeleteObject(FPaletteCache);
}

UINT TGIFImage::ClipboardFormat() {
  static const UINT format = RegisterClipboardFormat("GIF Image");
  return format;
}

bool TGIFImage::PaletteScreen() {
  if (!gPaletteScreenKnown) {
    HDC dc = GetDC(nullptr);
    gPaletteScreen = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES) < 9;
    ReleaseDC(nullptr, dc);
    gPaletteScreenKnown = true;
  }
  return gPaletteScreen;
}

void TGIFImage::SetPaletteScreen(bool value) {
  gPaletteScreen = value;
  gPaletteScreenKnown = true;
}

bool TGIFImage::GetDitherActive() const {
  return (FDrawFlags & dfDithered) && (!(FDrawFlags & dfDitherOnPaletteScreen) || PaletteScreen());
}

void TGIFImage::Warning(TObject* sender, int severity, const std::string& message) {
  if (OnReportWarning) OnReportWarning(sender, severity, message);
}

void TGIFImage::ReportProgress(TObject* sender, TProgressStage stage, int percent, bool redrawNow,
                               const std::string& msg) {
  Progress(sender, stage, static_cast<uint8_t>(std::clamp(percent, 0, 100)), redrawNow, TRect{}, msg);
}

void TGIFImage::ResetContents() {
  StopAllPainters();
  DropCachedBitmap();
  FFrames->ClearItems();
  FHeader->Reset();
  SetPalette(nullptr);
}

void TGIFImage::DropCachedBitmap() {
  StopActivePainter();
  FCachedBitmap.reset();
}

int TGIFImage::NeededVersion() {
  if (FFrames->Count() == 0) return 0;
  int version = FHeader->NeededVersion();
  for (int i = 0; i < FFrames->Count() && version < 2; ++i) version = std::max(version, FFrames->GetFrame(i)->NeededVersion());
  return version;
}

// ---- Size and palette ----

void TGIFImage::SetLogicalSize(bool width, int value) {
  value = std::clamp(value, 0, 65535);
  for (int i = 0; i < FFrames->Count(); ++i) {
    TGIFSubImage* f = FFrames->GetFrame(i);
    if (width && f->Left() + f->Width() > value) throw GIFException(gifmsg::kImageWidthTooSmall);
    if (!width && f->Top() + f->Height() > value) throw GIFException(gifmsg::kImageHeightTooSmall);
  }
  uint16_t& field = width ? FHeader->ScreenBlock.LogicalWidth : FHeader->ScreenBlock.LogicalHeight;
  if (field == value) return;
  field = static_cast<uint16_t>(value);
  DropCachedBitmap();
  Changed(this);
}

void TGIFImage::DoSetWidth(int value) { SetLogicalSize(true, value); }
void TGIFImage::DoSetHeight(int value) { SetLogicalSize(false, value); }

HPALETTE TGIFImage::GetPalette() {
  if (FPaletteBusy) throw GIFException(gifmsg::kNoColorTable);
  FPaletteBusy = true;
  struct Busy {
    bool& flag;
    ~Busy() { flag = false; }
  } busy{FPaletteBusy};
  if (FCachedBitmap && FCachedBitmap->HandleAllocated())
    if (HPALETTE p = FCachedBitmap->GetPalette()) return p;
  if (FPaletteCache) return FPaletteCache;
  if (GetDitherActive()) {
    FPaletteCache = MakeCubePalette();
  } else if (FHeader->GlobalMap().EntryCount() == 0) {
    if (FFrames->Count() == 0) return nullptr;
    TGIFSubImage* first = FFrames->GetFrame(0);
    if (first->LocalMap().EntryCount() > 0) return first->FramePalette();
    // No colour table anywhere: index i is drawn as grey i.
    FPaletteCache = MakeGrayRampPalette();
  } else {
    FPaletteCache = FHeader->GlobalMap().MakePalette();
  }
  return FPaletteCache;
}

void TGIFImage::SetPalette(HPALETTE palette) {
  if (palette == FPaletteCache) return;
  if (FPaletteCache) DeleteObject(FPaletteCache);
  FPaletteCache = palette;
  if (FCachedBitmap && FCachedBitmap->HandleAllocated() && FCachedBitmap->GetPalette() != palette) {
    DropCachedBitmap();
    SetPaletteModified(true);
    Changed(this);
  }
}

// ---- Loading and saving ----

void TGIFImage::LoadFromStream(TStream& stream) {
  ReportProgress(this, psStarting, 0, false, gifmsg::kLoading);
  // Read into a picture of our own, taken over only when the whole stream loaded,
  // so a bad file leaves this picture as it was.
  auto loaded = std::make_unique<TGIFImage>();
  loaded->OnReportWarning = [this](TObject* sender, int severity, const std::string& message) {
    Warning(sender, severity, message);
  };
  loaded->OnProgress = [this](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, const TRect& r,
                              const std::string& msg) { Progress(this, stage, percent, redraw, r, msg); };
  const int64_t start = stream.Position();
  try {
    loaded->Header().LoadFromStream(stream);
    loaded->Frames().LoadFromStream(stream, loaded.get());
    TGIFTrailer trailer(loaded.get());
    trailer.LoadFromStream(stream);
  } catch (const Exception& e) {
    FLastRefusal = RefusalOf(e);
    stream.SetPosition(start);
    ReportProgress(this, psEnding, 0, true, gifmsg::kLoading);
    throw;
  } catch (...) {
    FLastRefusal = "an unknown error";
    stream.SetPosition(start);
    ReportProgress(this, psEnding, 0, true, gifmsg::kLoading);
    throw;
  }
  FLastRefusal.clear();
  ResetContents();
  std::swap(FFrames, loaded->FFrames);
  std::swap(FHeader, loaded->FHeader);
  for (TGIFImage* image : {this, loaded.get()}) {
    image->FHeader->SetImage(image);
    image->FFrames->SetImage(image);
  }
  // A logical screen of no size takes the extent of the frames.
  TGIFScreenBlock& screen = FHeader->ScreenBlock;
  if (screen.LogicalWidth == 0 || screen.LogicalHeight == 0) {
    int w = 0, h = 0;
    for (int i = 0; i < FFrames->Count(); ++i) {
      TGIFSubImage* f = FFrames->GetFrame(i);
      w = std::max(w, f->Left() + f->Width());
      h = std::max(h, f->Top() + f->Height());
    }
    if (screen.LogicalWidth == 0) screen.LogicalWidth = static_cast<uint16_t>(std::min(w, 65535));
    if (screen.LogicalHeight == 0) screen.LogicalHeight = static_cast<uint16_t>(std::min(h, 65535));
  }
  SetPalette(nullptr);
  ReportProgress(this, psEnding, 100, true, gifmsg::kLoading);
  Changed(this);
}

void TGIFImage::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
  LoadFromStream(stream);
}

void TGIFImage::SaveToStream(TStream& stream) {
  ReportProgress(this, psStarting, 0, false, gifmsg::kSaving);
  try {
    FHeader->SaveToStream(stream);
    const int count = FFrames->Count();
    for (int i = 0; i < count; ++i) {
      FFrames->GetFrame(i)->SaveToStream(stream);
      ReportProgress(this, psRunning, (i + 1) * 100 / count, false, gifmsg::kSaving);
    }
    TGIFTrailer trailer(this);
    trailer.SaveToStream(stream);
  } catch (...) {
    ReportProgress(this, psEnding, 0, true, gifmsg::kSaving);
    throw;
  }
  ReportProgress(this, psEnding, 100, true, gifmsg::kSaving);
}

// ---- Conversions ----

TBitmap* TGIFImage::RenderedImage() {
  if (GetEmpty()) return nullptr;
  if (FCachedBitmap) return FCachedBitmap.get();
  auto bitmap = std::make_unique<TBitmap>();
  TGIFSubImage* first = FFrames->GetFrame(0);
  if (first->Left() == 0 && first->Top() == 0 && first->Width() == Width() && first->Height() == Height()) {
    if (TBitmap* r = first->GetRendering()) bitmap->Assign(r);
  } else {
    bitmap->SetSize(Width(), Height());
    bitmap->SetPalette(CopyOfPalette(GetPalette()));
    first->DrawFrame(bitmap->Canvas(), TRect{0, 0, Width(), Height()}, false, false);
  }
  FCachedBitmap = std::move(bitmap);
  return FCachedBitmap.get();
}

void TGIFImage::AssignTo(TPersistent* dest) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    TBitmap* rendered = RenderedImage();
    if (rendered) bitmap->Assign(rendered);
    else bitmap->Assign(nullptr);
    return;
  }
  TGraphic::AssignTo(dest);
}

void TGIFImage::Assign(TPersistent* source) {
  if (source == this) return;
  if (!source) {
    ResetContents();
    return;
  }
  if (auto* gif = dynamic_cast<TGIFImage*>(source)) {
    // The copy keeps this picture's own handlers.
    ResetContents();
    ReportProgress(this, psStarting, 0, false, gifmsg::kCopying);
    try {
      FHeader->Assign(&gif->Header());
      FPainterPriority = gif->FPainterPriority;
      FPaintBackground = gif->FPaintBackground;
      FDrawFlags = gif->FDrawFlags;
      FReductionMethod = gif->FReductionMethod;
      FDitherKind = gif->FDitherKind;
      const int count = gif->Frames().Count();
      for (int i = 0; i < count; ++i) {
        auto frame = std::make_unique<TGIFSubImage>(this);
        frame->Assign(gif->Frames()[i]);
        AddFrame(std::move(frame));
        ReportProgress(this, psRunning, (i + 1) * 100 / count, false, gifmsg::kCopying);
      }
    } catch (...) {
      ReportProgress(this, psEnding, 0, true, gifmsg::kCopying);
      throw;
    }
    ReportProgress(this, psEnding, 100, true, gifmsg::kCopying);
    return;
  }
  ResetContents();
  auto frame = std::make_unique<TGIFSubImage>(this);
  try {
    frame->Assign(source);
  } catch (const EConvertError&) {
    frame.reset();
    TGraphic::Assign(source);
    return;
  }
  AddFrame(std::move(frame));
}

int TGIFImage::AddFrame(std::unique_ptr<TGIFSubImage> frame) {
  frame->SetImage(this);
  frame->ExtensionBlocks().SetImage(this);
  const int index = FFrames->AppendItem(std::move(frame));
  DropCachedBitmap();
  Changed(this);
  return index;
}

int TGIFImage::AddFrame(TPersistent* item) {
  if (dynamic_cast<TGraphic*>(item) || dynamic_cast<TGIFSubImage*>(item)) {
    // A frame of another image is copied, so each image owns its own frames.
    auto frame = std::make_unique<TGIFSubImage>(this);
    frame->Assign(item);
    return AddFrame(std::move(frame));
  }
  throw GIFException(gifmsg::kObjectNotSupported);
}

void TGIFImage::SetFromBitmapAndMask(TBitmap* bitmap, TBitmap* mask, int transparentIndex) {
  ResetContents();
  auto frame = std::make_unique<TGIFSubImage>(this);
  try {
    frame->SetFromBitmap(bitmap, mask, transparentIndex);
  } catch (const EConvertError&) {
    frame.reset();
    TGraphic::Assign(bitmap);
    return;
  }
  AddFrame(std::move(frame));
}

// ---- Clipboard ----

void TGIFImage::LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) {
  if (!data) data = GetClipboardData(format);
  if (format == ClipboardFormat() && data) {
    const SIZE_T size = GlobalSize(data);
    const void* p = GlobalLock(data);
    TMemoryStream stream;
    if (p && size) stream.WriteBuffer(p, static_cast<int64_t>(size));
    GlobalUnlock(data);
    stream.SetPosition(0);
    LoadFromStream(stream);
    return;
  }
  if (format == CF_BITMAP && data) {
    TBitmap bitmap;
    bitmap.LoadFromClipboardFormat(format, data, palette);
    Assign(&bitmap);
    return;
  }
  throw GIFException(gifmsg::kUnsupportedClipboard);
}

void TGIFImage::SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) {
  if (GetEmpty()) return;
  if (TBitmap* rendered = RenderedImage()) rendered->SaveToClipboardFormat(format, data, palette);
  TMemoryStream stream;
  SaveToStream(stream);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(stream.Size()));
  if (!block) throw GIFException(gifmsg::kClipboardFailed);
  if (void* p = GlobalLock(block)) {
    std::memcpy(p, stream.Memory(), static_cast<size_t>(stream.Size()));
    GlobalUnlock(block);
  }
  if (!SetClipboardData(ClipboardFormat(), block)) {
    GlobalFree(block);
    throw GIFException(gifmsg::kClipboardFailed);
  }
}

// ---- Drawing ----

void TGIFImage::DrawRendered(TCanvas* canvas, const TRect& rect) {
  TBitmap* rendered = RenderedImage();
  if (!rendered) return;
  if (!(FDrawFlags & dfTiled)) {
    canvas->StretchDraw(rect, rendered);
    return;
  }
  const int w = Width(), h = Height();
  if (w <= 0 || h <= 0) return;
  for (int y = rect.top; y < rect.bottom; y += h)
    for (int x = rect.left; x < rect.right; x += w) canvas->StretchDraw(TRect{x, y, x + w, y + h}, rendered);
}

void TGIFImage::Draw(TCanvas* canvas, const TRect& rect) {
  if (FDrawBusy || GetEmpty() || !canvas) return;
  FDrawBusy = true;
  struct Busy {
    bool& flag;
    ~Busy() { flag = false; }
  } busy{FDrawBusy};
  const bool tiled = FDrawFlags & dfTiled;
  const bool masked = FDrawFlags & dfMasked;
  if (FFrames->Count() == 1 || !(FDrawFlags & dfAnimated)) {
    FFrames->GetFrame(0)->DrawFrame(canvas, rect, tiled, masked);
    return;
  }
  const bool inPlace = FDrawFlags & dfPaintInPlace;
  if (FCachedBitmap && !inPlace) {
    DrawRendered(canvas, rect);
    return;
  }
  FPainterLock.Enter();
  const bool same = FActivePainter && FActivePainter->TargetCanvas() == canvas &&
                    std::memcmp(&FActivePainter->TargetRect(), &rect, sizeof rect) == 0;
  FPainterLock.Leave();
  if (same) return;  // it keeps animating there
  StopActivePainter();
  TCanvas* target = canvas;
  TRect targetRect = rect;
  if (!inPlace) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetSize(Width(), Height());
    bitmap->SetPalette(CopyOfPalette(GetPalette()));
    bitmap->Canvas()->CopyRect(TRect{0, 0, Width(), Height()}, canvas, rect);
    FCachedBitmap = std::move(bitmap);
    target = FCachedBitmap->Canvas();
    targetRect = TRect{0, 0, Width(), Height()};
  }
  TGIFPainter* painter = StartPainter(&FActivePainter, target, FDrawFlags, targetRect);
  if (!painter) {
    // Played inside the start; what it left in our bitmap is shown.
    if (!inPlace) DrawRendered(canvas, rect);
    return;
  }
  painter->Start();
  if (inPlace) return;
  // Until the first frame is there (or the painter is gone), keep the painter's
  // calls to the main thread running.
  while (true) {
    FPainterLock.Enter();
    const bool waiting = FActivePainter == painter && !painter->Started() && !painter->Terminated();
    FPainterLock.Leave();
    if (!waiting || std::this_thread::get_id() != MainThreadID()) break;
    PumpForPainter(5);
  }
  DrawRendered(canvas, rect);
}

// The picture registry knows GIF files and the "GIF Image" clipboard format from the start.
namespace {
struct TGifRegistration {
  TGifRegistration() {
    TPicture::RegisterFileFormat("gif", "GIF Image", TGraphicClass::Of<TGIFImage>());
    TPicture::RegisterClipboardFormat(static_cast<WORD>(TGIFImage::ClipboardFormat()), TGraphicClass::Of<TGIFImage>());
  }
} gifRegistration;
}  // namespace
