#include "io_stubs.h"

#include <algorithm>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/formats/ico_filter.h"
#include "imaging/io/format_descriptor.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/exceptions.h"

namespace qvtest {

void StubFilters::Read(TIEBitmap* bitmap, TIOParamsVals& params, TProgressRecord& progress, TIEMaskOut* mask,
                       bool paramsOnly) {
  ++reads;
  lastParamsOnly = paramsOnly;
  progress.Report(50);
  if (mode == Throw) throw EReadError("stub reader fails");
  params.Width = width;
  params.Height = height;
  params.DpiX = readDpiX;
  params.DpiY = readDpiY;
  params.XmpPacket = "read";
  if (bitmap != nullptr && !paramsOnly) {
    bitmap->Allocate(width, height, ie24RGB);
    bitmap->Fill(0x00404040);
  }
  if (mask != nullptr && !paramsOnly) {
    *mask = std::make_unique<TIEMask>();
    (*mask)->Allocate(width, height, 8);
    (*mask)->Fill(128);
  }
  if (mode == Abort) progress.Abort();
}

void StubFilters::Write(TStream& stream, TIEBitmap& bitmap, TIEMask* mask, TProgressRecord& progress) {
  ++writes;
  writtenFormat = bitmap.PixelFormat();
  writtenMask = mask != nullptr;
  stream.WriteBuffer(payload.data(), int64_t(payload.size()));
  if (mode == Throw) throw EWriteError("stub writer fails");
  if (mode == Abort) progress.Abort();
}

void StubFilters::Install() {
  auto* self = this;
  // Every format has a filter of its own: the stubs take its descriptor's entry points.
  // A reader gets the picture only on loads, as the filters that take one do.
  auto read = [self](TIEFormatReadArgs& a) {
    self->Read(a.ParamsOnly ? nullptr : a.Bitmap, a.Params, a.Progress, &a.AlphaMask, a.ParamsOnly);
  };
  auto readNoMask = [self](TIEFormatReadArgs& a) {
    self->Read(a.ParamsOnly ? nullptr : a.Bitmap, a.Params, a.Progress, nullptr, a.ParamsOnly);
  };
  auto write = [self](TIEFormatWriteArgs& a) { self->Write(a.Stream, a.Bitmap, nullptr, a.Progress); };
  auto writeMask = [self](TIEFormatWriteArgs& a) { self->Write(a.Stream, a.Bitmap, a.AlphaMask, a.Progress); };
  auto stub = [](TImageFileType code, const TIEFormatRead& r, const TIEFormatWrite& w) {
    TIEFormatDescriptor* d = FindFormatDescriptor(code);
    if (d == nullptr) return;
    if (d->Read) d->Read = r;
    if (d->ReadParams) d->ReadParams = r;
    if (d->Write) d->Write = w;
  };
  stub(ioJPEG,
       [self](TIEFormatReadArgs& a) {
         // Consume what a JPEG of this stub holds, so stream positions can be checked.
         std::string buf(self->payload.size(), '\0');
         a.Stream.Read(buf.data(), int64_t(buf.size()));
         self->Read(a.ParamsOnly ? nullptr : a.Bitmap, a.Params, a.Progress, nullptr, a.ParamsOnly);
       },
       write);
  stub(ioPNG, readNoMask, writeMask);
  stub(ioPCX,
       [self](TIEFormatReadArgs& a) {
         self->pcxLength = a.Size;
         self->Read(a.Bitmap, a.Params, a.Progress, nullptr, a.ParamsOnly);
       },
       write);
  stub(ioDCX, readNoMask, write);
  stub(ioGIF, read, write);
  stub(ioBMP, read, write);
  stub(ioICO, read, [self](TIEFormatWriteArgs& a) {
    std::vector<int> bitCounts;
    IcoSaveSizes(a.Params, self->icoSizes, bitCounts);
    self->Write(a.Stream, a.Bitmap, nullptr, a.Progress);
  });
  stub(ioCUR, read, write);
  stub(ioTGA, read, writeMask);
  stub(ioPXM, readNoMask, write);
  stub(ioRAW, [self](TIEFormatReadArgs& a) { self->Read(a.Bitmap, a.Params, a.Progress, nullptr, a.ParamsOnly); },
       write);
  stub(ioWBMP, readNoMask, write);
  stub(ioBMPRAW, [self](TIEFormatReadArgs& a) { self->Read(a.Bitmap, a.Params, a.Progress, nullptr, false); }, write);
  stub(ioPSD, readNoMask, write);
  stub(ioTIFF,
       [self](TIEFormatReadArgs& a) {
         self->Read(a.ParamsOnly ? nullptr : a.Bitmap, a.Params, a.Progress, &a.AlphaMask, a.ParamsOnly);
         a.Params.TiffImageCount = 2;
       },
       write);
  stub(ioPS, readNoMask, write);
  stub(ioPDF, readNoMask, write);
  stub(ioHDP, readNoMask, write);
  stub(ioDICOM, readNoMask, write);
  stub(ioJP2, readNoMask, write);
  stub(ioJ2K, readNoMask, write);
}

// ---- the view ----

FakeView::FakeView(TIEViewKind kind) : TComponent(nullptr), FKind(kind), FBitmap(std::make_unique<TIEBitmap>()) {}

FakeView::~FakeView() {
  // Handlers hear of the end first, in registration order.
  auto handlers = std::move(FHandlers);
  for (auto& h : handlers) h->callback(h->data, this, 1);
}

void* FakeView::AddBitmapChangeHandler(TIEBitmapChangeEvent callback, TObject* data) {
  FHandlers.push_back(std::make_unique<Handler>(Handler{std::move(callback), data}));
  return FHandlers.back().get();
}

void FakeView::RemoveBitmapChangeHandler(void* handle) {
  std::erase_if(FHandlers, [handle](const std::unique_ptr<Handler>& h) { return h.get() == handle; });
}

void FakeView::ChangeBitmap() {
  FBitmap = std::make_unique<TIEBitmap>(2, 2, ie24RGB);
  for (auto& h : FHandlers) h->callback(h->data, this, 0);
}

}  // namespace qvtest
