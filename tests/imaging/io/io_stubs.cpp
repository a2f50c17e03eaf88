#include "io_stubs.h"

#include <algorithm>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
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
  TIEFilterSlots& f = IEFilters();
  auto* self = this;
  f.ReadTIFFStream = [self](TIEBitmap* b, TStream&, int& pages, TIOParamsVals& p, TProgressRecord& pr, bool po,
                            TIEMaskOut& m, bool, bool, bool, bool, bool) {
    pages = 2;
    self->Read(b, p, pr, &m, po);
  };
  f.WriteTIFFStream = [self](TStream& s, bool, TIEBitmap* b, TProgressRecord& pr, TIOParamsVals&) {
    self->Write(s, *b, nullptr, pr);
    return 1;
  };
  f.ReadJpegStream = [self](TStream& s, TStream*, TIEBitmap* b, bool, int, bool, bool, bool, bool, bool, bool po,
                            TProgressRecord& pr, TIOParamsVals& p) {
    // Consume what a JPEG of this stub holds, so stream positions can be checked.
    std::string buf(self->payload.size(), '\0');
    s.Read(buf.data(), int64_t(buf.size()));
    self->Read(b, p, pr, nullptr, po);
    return self->height;
  };
  f.WriteJpegStream = [self](TStream& s, TIEBitmap& b, TIOParamsVals&, TProgressRecord& pr) {
    self->Write(s, b, nullptr, pr);
  };
  f.ReadPNGStream = [self](TStream&, TIEBitmap& b, TIOParamsVals& p, bool po, TProgressRecord& pr) {
    self->Read(&b, p, pr, nullptr, po);
  };
  f.WritePNGStream = [self](TStream& s, TIEBitmap& b, TIOParamsVals&, TIEMask* m, TProgressRecord& pr) {
    self->Write(s, b, m, pr);
  };
  f.ReadGIFStream = [self](TStream&, TIEBitmap& b, int& frames, bool, TIEMaskOut& m, bool po, TProgressRecord& pr,
                           TIOParamsVals& p) {
    frames = 3;
    self->Read(&b, p, pr, &m, po);
  };
  auto simpleWrite = [self](TStream& s, TIEBitmap& b, TIOParamsVals&, TProgressRecord& pr) { self->Write(s, b, nullptr, pr); };
  f.WriteGIFStream = simpleWrite;
  f.ReadPCXStream = [self](TStream&, TIEBitmap& b, TIOParamsVals& p, bool po, TProgressRecord& pr, int64_t size) {
    self->pcxLength = size;
    self->Read(&b, p, pr, nullptr, po);
  };
  f.WritePCXStream = simpleWrite;
  f.ReadDCXStream = [self](TStream&, TIEBitmap& b, TIOParamsVals& p, bool po, TProgressRecord& pr) {
    self->Read(&b, p, pr, nullptr, po);
  };
  f.WriteDCXStream = simpleWrite;
  f.ReadBMPStream = [self](TStream&, TIEBitmap& b, int64_t, TIOParamsVals& p, TProgressRecord& pr, bool po, bool,
                           TIEMaskOut& m, bool) { self->Read(&b, p, pr, &m, po); };
  f.WriteBMPStream = [self](TStream& s, TIEBitmap& b, TIOParamsVals&, TProgressRecord& pr, bool) {
    self->Write(s, b, nullptr, pr);
  };
  auto iconRead = [self](TStream&, TIEBitmap& b, TIOParamsVals& p, bool po, TProgressRecord& pr, TIEMaskOut& m,
                         bool) { self->Read(&b, p, pr, &m, po); };
  f.ReadICOStream = iconRead;
  f.ReadCURStream = iconRead;
  f.WriteICOStream = [self](TStream& s, TIEBitmap& b, TIOParamsVals&, TProgressRecord& pr,
                            const std::vector<std::pair<int, int>>& sizes, const std::vector<int>&) {
    self->icoSizes = sizes;
    self->Write(s, b, nullptr, pr);
  };
  f.ReadTGAStream = [self](TStream&, TIEBitmap& b, TIOParamsVals& p, TProgressRecord& pr, bool po, TIEMaskOut& m,
                           bool) { self->Read(&b, p, pr, &m, po); };
  f.WriteTGAStream = [self](TStream& s, TIEBitmap& b, TIOParamsVals&, TProgressRecord& pr, TIEMask* m) {
    self->Write(s, b, m, pr);
  };
  auto simpleRead = [self](TStream&, TIEBitmap& b, TIOParamsVals& p, TProgressRecord& pr, bool po) {
    self->Read(&b, p, pr, nullptr, po);
  };
  f.ReadPXMStream = simpleRead;
  f.WritePXMStream = simpleWrite;
  f.ReadWBMPStream = simpleRead;
  f.WriteWBMPStream = simpleWrite;
  f.ReadRawPixelStream = [self](TStream&, TIEBitmap& b, TIOParamsVals& p, TProgressRecord& pr) {
    self->Read(&b, p, pr, nullptr, false);
  };
  f.ReadPSDStream = [self](TStream&, TIEBitmap* b, TIOParamsVals& p, TList*, bool, TProgressRecord& pr) {
    self->Read(b, p, pr, nullptr, b == nullptr);
  };
  f.WritePSDStream = [self](TStream& s, TIOParamsVals&, TProgressRecord& pr, TList*, TIEBitmap* b) {
    self->Write(s, *b, nullptr, pr);
  };
  f.WritePSStream = simpleWrite;
  f.WritePDFStream = simpleWrite;
  auto special = [self](TStream&, TIEBitmap* b, TIOParamsVals& p, bool po, TProgressRecord& pr) {
    self->Read(b, p, pr, nullptr, po);
  };
  f.ReadCameraRawStream = special;
  f.ReadDICOMStream = special;
  f.ReadJ2000Stream = special;
  f.ReadHDPhotoStream = special;
  f.WriteJ2000Stream = [self](TStream& s, TIEBitmap& b, TIOParamsVals&, int, TProgressRecord& pr) {
    self->Write(s, b, nullptr, pr);
  };
  f.WriteHDPhotoStream = simpleWrite;
  f.ReadMetafileStream = [self](TStream&, TIEBitmap& b, TIOParamsVals& p, int, bool, int, TProgressRecord& pr) {
    self->Read(&b, p, pr, nullptr, false);
  };
  f.ReadMetafileParams = [self](TStream&, TIOParamsVals& p) {
    TProgressRecord none;
    self->Read(nullptr, p, none, nullptr, true);
  };
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
