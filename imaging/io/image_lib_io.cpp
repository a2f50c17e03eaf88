#include "imaging/io/image_lib_io.h"

#include <chrono>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_pixel_convert.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/io/ie_io_thread.h"
#include "imaging/io/ie_video_reader.h"
#include "imaging/io/io_params.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/ui/ext_ctrls.h"

TImageLibIO::TImageLibIO(TComponent* owner)
    : TComponent(owner), FOwnedBitmap(std::make_unique<TIEBitmap>()), FPreviewFont(std::make_unique<TFont>()) {
  FIEBitmap = FOwnedBitmap.get();
  FAcquireParams = new TIEAcquireParams(this);
  FTwainParams = new TIETwainParams(this);
  FDcimAcquire = new TIEDcimAcquire(this);
  FParams = std::make_unique<TIOParamsVals>(this);
}

std::unique_ptr<TImageLibIO> TImageLibIO::CreateForBitmap(TIEBitmap* bitmap) {
  auto io = std::make_unique<TImageLibIO>(nullptr);
  io->AttachBitmap(bitmap);
  return io;
}

TImageLibIO::~TImageLibIO() {
  // A worker may still use the bitmap, the parameters or the view.
  WaitThreads(false);
  CloseVideoFile();
  CloseAVIFile();
  // An output's end can fail (a full disk): the component still goes.
  try {
    ClosePSFile();
  } catch (...) {
  }
  try {
    ClosePDFFile();
  } catch (...) {
  }
  UnregisterFromView();
  // Our bitmap may lie over the control's: let go before either goes away.
  if (FAttachedTImage != nullptr && FIEBitmap != nullptr) FIEBitmap->FreeImage(true);
}

// ---- multi-page outputs ----

namespace {

void CloseOutput(std::unique_ptr<TStream>& stream, std::unique_ptr<TIEOpenOutput>& document, TIOParamsVals& params) {
  // Both references go whatever happens while the document ends.
  std::unique_ptr<TStream> s = std::move(stream);
  std::unique_ptr<TIEOpenOutput> d = std::move(document);
  if (s && d) d->Finish(*s, params);
}

}  // namespace

void TImageLibIO::ClosePSFile() { CloseOutput(FPSStream, FPSDocument, *FParams); }

void TImageLibIO::ClosePDFFile() { CloseOutput(FPDFStream, FPDFDocument, *FParams); }

void TImageLibIO::SetPSOutput(std::unique_ptr<TStream> stream, std::unique_ptr<TIEOpenOutput> document) {
  ClosePSFile();
  FPSStream = std::move(stream);
  FPSDocument = std::move(document);
}

void TImageLibIO::SetPDFOutput(std::unique_ptr<TStream> stream, std::unique_ptr<TIEOpenOutput> document) {
  ClosePDFFile();
  FPDFStream = std::move(stream);
  FPDFDocument = std::move(document);
}

// ---- attachment ----

void TImageLibIO::UnregisterFromView() {
  if (FAttachedView != nullptr && FViewCallbackHandle != nullptr) FAttachedView->RemoveBitmapChangeHandler(FViewCallbackHandle);
  FViewCallbackHandle = nullptr;
}

void TImageLibIO::ReplaceBitmap(TIEBitmap* bitmap) {
  FVclBitmapLink = nullptr;
  FOwnedBitmap.reset();
  FOwnsBitmap = false;
  FIEBitmap = bitmap;
}

void TImageLibIO::AttachBitmap(TIEBitmap* bitmap) {
  UnregisterFromView();
  if (bitmap == nullptr && (FAttachedView != nullptr || FAttachedTImage != nullptr)) return;
  ReplaceBitmap(bitmap);
  if (bitmap != nullptr && FAttachedView != nullptr) {
    if (TComponent* c = FAttachedView->ViewComponent()) RemoveFreeNotification(c);
    FAttachedView = nullptr;
  }
  if (bitmap != nullptr && FAttachedTImage != nullptr) {
    RemoveFreeNotification(FAttachedTImage);
    FAttachedTImage = nullptr;
  }
}

void TImageLibIO::SetAttachedImageLib(TIEViewLink* view) {
  UnregisterFromView();
  if (FAttachedView != nullptr)
    if (TComponent* c = FAttachedView->ViewComponent()) RemoveFreeNotification(c);
  FAttachedView = view;
  if (view == nullptr) {
    FVclBitmapLink = nullptr;
    FOwnedBitmap = std::make_unique<TIEBitmap>();
    FIEBitmap = FOwnedBitmap.get();
    FOwnsBitmap = true;
    return;
  }
  FOwnedBitmap.reset();
  FOwnsBitmap = false;
  FVclBitmapLink = view->GetBitmap();
  FIEBitmap = view->GetIEBitmap();
  if (FIEBitmap != nullptr) {
    FVclBitmapLink = nullptr;
  } else {
    // The view shows a framework bitmap only: lay a bitmap of our own over it,
    // sharing its pixels.
    FOwnedBitmap = std::make_unique<TIEBitmap>();
    FOwnsBitmap = true;
    FIEBitmap = FOwnedBitmap.get();
    if (FVclBitmapLink != nullptr) FIEBitmap->EncapsulateTBitmap(FVclBitmapLink, true);
  }
  if (TComponent* c = view->ViewComponent()) FreeNotification(c);
  if (FAttachedTImage != nullptr) {
    RemoveFreeNotification(FAttachedTImage);
    FAttachedTImage = nullptr;
  }
  FViewCallbackHandle = view->AddBitmapChangeHandler(
      [this](TObject*, TIEViewLink*, int code) { ViewBitmapChanged(code == 1); }, this);
}

void TImageLibIO::SetAttachedTImage(TImage* image) {
  UnregisterFromView();
  if (FAttachedTImage != nullptr && FAttachedTImage != image) RemoveFreeNotification(FAttachedTImage);
  FAttachedTImage = image;
  if (image == nullptr) {
    FVclBitmapLink = nullptr;
    if (FIEBitmap != nullptr) FIEBitmap->FreeImage(true);
    return;
  }
  if (FAttachedView != nullptr) {
    if (TComponent* c = FAttachedView->ViewComponent()) RemoveFreeNotification(c);
    FAttachedView = nullptr;
  }
  // Laid over the control's bitmap through a bitmap of our own: a caller's
  // bitmap is never turned into a view of another picture.
  if (!FOwnsBitmap) {
    FOwnedBitmap = std::make_unique<TIEBitmap>();
    FIEBitmap = FOwnedBitmap.get();
    FOwnsBitmap = true;
  }
  FVclBitmapLink = image->Picture()->Bitmap();
  FIEBitmap->EncapsulateTBitmap(FVclBitmapLink, true);
  FreeNotification(image);
}

void TImageLibIO::ViewBitmapChanged(bool destroying) {
  if (destroying) {
    FViewCallbackHandle = nullptr;
    FAttachedView = nullptr;
    FIEBitmap = FOwnsBitmap ? FOwnedBitmap.get() : nullptr;
    return;
  }
  if (FAttachedView == nullptr) return;
  if (TIEBitmap* b = FAttachedView->GetIEBitmap()) {
    FOwnedBitmap.reset();
    FOwnsBitmap = false;
    FIEBitmap = b;
  }
  FVclBitmapLink = nullptr;
  FParams->SetDpiX(FAttachedView->DpiX());
  FParams->SetDpiY(FAttachedView->DpiY());
}

void TImageLibIO::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && FAttachedView != nullptr && FAttachedView->ViewComponent() == component) {
    UnregisterFromView();
    FAttachedView = nullptr;
    FIEBitmap = FOwnsBitmap ? FOwnedBitmap.get() : nullptr;
  }
  if (operation == opRemove && component == FAttachedTImage) {
    // The control's bitmap goes with it: let go of it first.
    if (FIEBitmap != nullptr) FIEBitmap->FreeImage(true);
    FVclBitmapLink = nullptr;
    FAttachedTImage = nullptr;
  }
}

TBitmap* TImageLibIO::GetVclBitmap() {
  if (FIEBitmap != nullptr && FIEBitmap->Location() == ieTBitmap) return FIEBitmap->VclBitmap();
  return FVclBitmapLink;
}

// ---- settings ----

void TImageLibIO::SetAborting(bool value) {
  FAborting = value;
  FAcquireParams->Aborting = value;
  FDcimAcquire->Aborting = value;
}

void TImageLibIO::SetPreviewFont(TFont* font) {
  if (font != nullptr) FPreviewFont->Assign(font);
}

uint32_t TImageLibIO::Background() const { return FAttachedView != nullptr ? FAttachedView->Background() : FBackground; }

void TImageLibIO::SetBackground(uint32_t color) {
  if (FAttachedView == nullptr) {
    FBackground = color;
  } else if (FAttachedView->ViewKind() != ievkMultiView && ViewBackgroundSync) {
    FAttachedView->SetBackground(color);
  }
}

bool TImageLibIO::NativePixelFormat() const { return FParams && FParams->NativePixelFormat; }
void TImageLibIO::SetNativePixelFormat(bool value) {
  if (FParams) FParams->NativePixelFormat = value;
}

void TImageLibIO::SetMonoConversion(uint8_t value) {
  if (FIEBitmap != nullptr) FIEBitmap->SetBWConversion(value);
  FMonoConversion = value;
}

// ---- frame ----

bool TImageLibIO::PrepareBitmap(std::initializer_list<TIEBitmapFormat> allowed) {
  if (FIEBitmap == nullptr) return false;
  // A change of the framework bitmap's size or format made from outside is seen.
  if (FVclBitmapLink != nullptr) FIEBitmap->EncapsulateTBitmap(FVclBitmapLink, false);
  if (allowed.size() == 0) return true;
  for (TIEBitmapFormat f : allowed)
    if (f == FIEBitmap->PixelFormat()) return true;
  return false;
}

void TImageLibIO::UpdateAttached() {
  if (FVclBitmapLink != nullptr && FIEBitmap != nullptr) {
    FIEBitmap->RemoveAlphaChannel(false);
    // A reader that allocated the picture anew has left the framework bitmap
    // behind: the control is given what was read, and we lie over it again.
    const bool over = FIEBitmap->Location() == ieTBitmap && FIEBitmap->VclBitmap() == FVclBitmapLink;
    if (!over && !FIEBitmap->IsEmpty()) {
      try {
        FIEBitmap->CopyToTBitmap(*FVclBitmapLink);
        FIEBitmap->EncapsulateTBitmap(FVclBitmapLink, true);
      } catch (const std::exception&) {
        // Formats a framework bitmap cannot hold stay in the working bitmap only.
      }
    }
  }
  if (FAttachedView != nullptr) {
    if (!InIOThread()) {
      FAttachedView->Update();
      FAttachedView->ImageChange();
    } else if (!PostToView(kIEViewMsgUpdate, 1)) {
      // A view without a window to post to: it is not shown, so only its
      // image-changed hook runs, here.
      FAttachedView->ImageChange();
    }
  } else if (FVclBitmapLink != nullptr) {
    FVclBitmapLink->SetModified(true);
  }
}

void TImageLibIO::FixDefaultDPI() {
  if (FParams->DpiX < 2) FParams->SetDpiX(gDefaultDPIX);
  if (FParams->DpiY < 2) FParams->SetDpiY(gDefaultDPIY);
}

void TImageLibIO::SyncViewDPI() {
  if (FAttachedView == nullptr) return;
  if (FAttachedView->ViewKind() != ievkImageView && FAttachedView->ViewKind() != ievkVectView) return;
  FAttachedView->LockUpdate();
  FAttachedView->SetDPI(FParams->DpiX, FParams->DpiY);
  FAttachedView->UnlockUpdateNoRefresh();
}

void TImageLibIO::NotifyProgress(TObject* sender, int per) {
  if (!OnProgress) return;
  if (InIOThread() && PostToView(kIEViewMsgProgress, uintptr_t(per))) return;
  OnProgress(sender, per);
}

void TImageLibIO::NotifyFinishWork() {
  NotifyProgress(this, 100);
  if (!OnFinishWork) return;
  if (InIOThread() && PostToView(kIEViewMsgFinish, 0)) return;
  OnFinishWork(this);
}

bool TImageLibIO::PostToView(uint32_t message, uintptr_t wParam) {
  return FAttachedView != nullptr && FAttachedView->PostToWindow(message, wParam);
}

// ---- background threads ----

bool TImageLibIO::InIOThread() {
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> guard(FThreadLock);
  for (TIEIOThread* t : FRunningThreads)
    if (t->ThreadId() == self) return true;
  return false;
}

void TImageLibIO::WaitThreads(bool abort) {
  std::unique_lock<std::mutex> guard(FThreadLock);
  auto done = [this] { return FRunningThreads.empty(); };
  if (!abort) {
    FAllDone.wait(guard, done);
    return;
  }
  // Every operation clears Aborting when it starts: a worker that had not got
  // going yet would lose a single abort, so it is asked again until all end.
  while (!done()) {
    SetAborting(true);
    FAllDone.wait_for(guard, std::chrono::milliseconds(5), done);
  }
}

bool TImageLibIO::DeferCall() { return !FOwnsBitmap && Asynchronous && !InIOThread(); }

TIEBitmap* TImageLibIO::WriterBitmap(std::unique_ptr<TIEBitmap>& holder, bool keep8g) {
  const TIEBitmapFormat format = FIEBitmap->PixelFormat();
  if (format == ie24RGB || format == ie1g || (keep8g && format == ie8g)) return FIEBitmap;
  // The working bitmap is the caller's picture: convert a copy, never it.
  holder = std::make_unique<TIEBitmap>();
  if (!holder->Allocate(FIEBitmap->Width(), FIEBitmap->Height(), ie24RGB)) return nullptr;
  ConvertBitmapPixels(*FIEBitmap, *holder);
  return holder.get();
}

TProgressRecord TImageLibIO::MakeProgress() {
  TProgressRecord p;
  p.ProgressEvent = [this](TObject* sender, int per) { NotifyProgress(sender, per); };
  p.Sender = this;
  p.AbortFlag = &FAborting;
  return p;
}
