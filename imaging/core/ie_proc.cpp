#include "imaging/core/ie_proc.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "imaging/core/ie_dib_exchange.h"
#include "imaging/core/ie_geometry.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_orientation.h"
#include "imaging/core/ie_proc_filters.h"
#include "imaging/core/ie_proc_fill.h"
#include "imaging/core/ie_quantizer.h"
#include "imaging/core/ie_startup.h"
#include "imaging/core/ie_raw_stream.h"
#include "imaging/core/ie_utils.h"
#include "imaging/core/ie_version.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/streams.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

std::function<bool(TIEBitmap& bitmap, const void* data, size_t size)> IEPasteLoadPNG;
std::function<bool(TIEBitmap& bitmap, HANDLE metafile)> IEPasteRenderMetafile;

namespace {

// Where a format converts to when an operation does not take it, best first.
constexpr TIEBitmapFormat kPreferred[kIEFormatCount][7] = {
    {},
    {ie8g, ie16g, ie32f, ie24RGB},
    {ie24RGB, ieCMYK, ieRGB48, ieCIELab},
    {ie16g, ie32f, ie24RGB, ieCMYK, ieRGB48},
    {ie32f, ie8g, ieRGB48, ie24RGB, ieCMYK},
    {ieCMYK, ieCIELab, ieRGB48, ie8p, ie16g, ie8g},
    {ie16g, ie8g, ie24RGB, ieRGB48, ieCIELab},
    {ie24RGB, ieRGB48, ieCIELab, ie8g},
    {ie24RGB, ieCMYK, ieCIELab, ie16g},
    {ie24RGB, ieCMYK, ieRGB48, ie8g},
    {ie24RGB, ieCMYK, ieRGB48, ie8g},
};

// Smallest layer record: the length word and the GUID.
constexpr int64_t kMinLayerRecord = 20;

std::string Format(const char* pattern, double a) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a);
  return text;
}

// Holds the clipboard open for one operation and closes it on every path.
struct TClipboardSession {
  bool open = OpenClipboardRetry();
  ~TClipboardSession() {
    if (open) CloseClipboard();
  }
};

// Puts bytes on the open clipboard in a new global block; false (the block
// freed) when it cannot be had or placed.
bool PlaceBlock(UINT format, HGLOBAL block) {
  if (!block) return false;
  if (SetClipboardData(format, block)) return true;
  GlobalFree(block);
  return false;
}

HGLOBAL BlockOf(const std::vector<uint8_t>& bytes) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, bytes.size());
  if (!h) return nullptr;
  std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
  GlobalUnlock(h);
  return h;
}

// The packed DIB with four spare bytes after the rows, as other programs'
// readers of the clipboard have always been given it.
HGLOBAL DibBlock(TIEBitmap& bitmap, int x1, int y1, int x2, int y2, int dpiX, int dpiY) {
  std::vector<uint8_t> dib = CopyBitmapToPackedDIB(bitmap, x1, y1, x2, y2, dpiX, dpiY);
  if (dib.empty()) return nullptr;
  dib.resize(dib.size() + 4, 0);
  return BlockOf(dib);
}

void PlaceRaw(TIEBitmap& bitmap) { PlaceBlock(ImageLibRawClipboardFormat(), BlockOf(SaveRawToBytes(bitmap))); }

// Reads one clipboard block with reader into a new bitmap.
template <class Reader>
bool ReadBlock(HANDLE data, TIEBitmap& out, Reader reader) {
  const auto block = static_cast<HGLOBAL>(data);
  const void* p = GlobalLock(block);
  if (!p) return false;
  const bool ok = reader(out, p, GlobalSize(block));
  GlobalUnlock(block);
  return ok;
}

}  // namespace

unsigned FindClipboardFormatByName(const std::string& name) {
  for (UINT f = EnumClipboardFormats(0); f != 0; f = EnumClipboardFormats(f)) {
    char text[256] = {};
    const int n = GetClipboardFormatName(f, text, sizeof text);
    if (n > 0 && strcasecmp(std::string(text, size_t(n)).c_str(), name.c_str()) == 0) return f;
  }
  return 0;
}

void ComputeResampleSize(int& width, int& height, int sourceWidth, int sourceHeight, bool fit) {
  if (width < 1 || height < 1) fit = false;
  if (width < 0 && height < 0) return;
  if (sourceWidth <= 0 || sourceHeight <= 0) return;
  const int askedW = width, askedH = height;
  int w = askedW == -1 ? int(int64_t(sourceWidth) * askedH / sourceHeight)
          : askedW == 0 ? sourceWidth
          : askedW < 0  ? -askedW
                        : askedW;
  w = std::max(w, 1);
  int h = askedH == -1 ? int(int64_t(sourceHeight) * w / sourceWidth)
          : askedH == 0 ? sourceHeight
          : askedH < 0  ? -askedH
                        : askedH;
  h = std::max(h, 1);
  if (fit) {
    const SIZE s = FitSizeInBox(sourceWidth, sourceHeight, w, h, true, false);
    w = std::max<int>(s.cx, 1);
    h = std::max<int>(s.cy, 1);
  }
  width = w;
  height = h;
}

bool GetOpaqueBounds(TIEBitmap& bitmap, RECT& bounds) {
  bounds = {0, 0, bitmap.Width() - 1, bitmap.Height() - 1};
  if (!bitmap.HasAlphaChannel()) return !bitmap.IsEmpty();
  TIEBitmap& a = *bitmap.AlphaChannel();
  int left = a.Width(), right = -1, top = -1, bottom = -1;
  for (int y = 0; y < a.Height(); ++y) {
    const uint8_t* row = a.ScanLine(y);
    int first = -1, last = -1;
    for (int x = 0; x < a.Width(); ++x)
      if (row[x]) {
        if (first < 0) first = x;
        last = x;
      }
    if (first < 0) continue;
    if (top < 0) top = y;
    bottom = y;
    left = std::min(left, first);
    right = std::max(right, last);
  }
  if (top < 0) return false;
  bounds = {left, top, right, bottom};
  return true;
}

namespace {

constexpr uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};

void RowProgress(TObject* sender, const TIEProgressEvent& progress, int done, int rows) {
  if (progress) progress(sender, int(done * 100 / (rows + 0.5)));
}

}  // namespace

void QuantizeToColors(TIEBitmap& bitmap, int n, TRGB* palette, TObject* sender, const TIEProgressEvent& progress) {
  if (bitmap.PixelFormat() != ie24RGB || bitmap.IsEmpty() || n <= 0) return;
  std::vector<TRGB> own;
  if (!palette) {
    own.resize(size_t(n));
    palette = own.data();
  }
  TIEQuantizer quantizer(bitmap, n, palette);
  for (int y = 0; y < bitmap.Height(); ++y) {
    auto* row = reinterpret_cast<TRGB*>(bitmap.ScanLine(y));
    for (int x = 0; x < bitmap.Width(); ++x) row[x] = palette[quantizer.GetIndex(row[x])];
    RowProgress(sender, progress, y + 1, bitmap.Height());
  }
}

void DitherToBW(TIEBitmap& bitmap, TObject* sender, const TIEProgressEvent& progress) {
  if (bitmap.PixelFormat() != ie24RGB || bitmap.IsEmpty()) return;
  TIEBitmap bw(bitmap.Width(), bitmap.Height(), ie1g);
  for (int y = 0; y < bitmap.Height(); ++y) {
    const auto* src = reinterpret_cast<const TRGB*>(bitmap.ScanLine(y));
    uint8_t* dst = bw.ScanLine(y);
    std::memset(dst, 0, size_t(bw.RowLen()));
    for (int x = 0; x < bitmap.Width(); ++x) {
      const TRGB p = src[x];
      const int level = (p.r >= 251 && p.g >= 251 && p.b >= 251)
                            ? 64
                            : (IEGrayWeightRed * p.r + IEGrayWeightGreen * p.g + IEGrayWeightBlue * p.b) / 100 / 4;
      if (kBayer[x % 8][y % 8] < level) dst[x / 8] |= kIEBitMask[x % 8];
    }
    RowProgress(sender, progress, y + 1, bitmap.Height());
  }
  bitmap.CopyFromTIEBitmap(bw);
}

void FillTransparentPixels(TIEBitmap& bitmap, TRGB pixel) {
  if (bitmap.PixelFormat() != ie24RGB || bitmap.IsEmpty() || !bitmap.HasAlphaChannel()) return;
  TIEBitmap& alpha = *bitmap.AlphaChannel();
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* a = alpha.ScanLine(y);
    auto* row = reinterpret_cast<TRGB*>(bitmap.ScanLine(y));
    for (int x = 0; x < bitmap.Width(); ++x)
      if (a[x] == 0) row[x] = pixel;
  }
}

namespace {

// Alpha 0 over columns x1..x2 of rows y1..y2, clipped to the channel.
void ClearAlphaBlock(TIEBitmap& alpha, int x1, int y1, int x2, int y2) {
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, alpha.Width() - 1);
  y2 = std::min(y2, alpha.Height() - 1);
  for (int y = y1; y <= y2; ++y)
    if (x1 <= x2) std::memset(alpha.ScanLine(y) + x1, 0, size_t(x2 - x1 + 1));
}

}  // namespace

void RoundImageCorners(TIEBitmap& bitmap, int rx, int ry) {
  if (bitmap.IsEmpty() || rx <= 0 || ry <= 0) return;
  TIEBitmap* alpha = bitmap.AlphaChannel();
  if (!alpha) return;
  const int w = bitmap.Width(), h = bitmap.Height(), n = rx + ry;
  std::vector<POINT> points;
  BezierPoints({0, ry}, {0, 0}, {rx, 0}, {rx, 0}, points, n);
  for (const POINT& p : points) {
    ClearAlphaBlock(*alpha, 0, 0, p.x, p.y);
    ClearAlphaBlock(*alpha, w - 1 - p.x, 0, w - 1, p.y);
  }
  BezierPoints({w, h - ry}, {w, h}, {w - rx, h}, {w - rx, h}, points, n);
  for (const POINT& p : points) {
    const int x = std::max<int>(p.x, 1), y = std::max<int>(p.y, 1);
    ClearAlphaBlock(*alpha, x - 1, y - 1, w - 1, h - 1);
    ClearAlphaBlock(*alpha, 0, y - 1, w - x, h - 1);
  }
  alpha->CheckFull();
}

// ---- construction and attachment ----

TImageLibProc::TImageLibProc(TComponent* owner) : TComponent(owner), FAutoUndo(owner != nullptr) { UseOwnBitmap(); }

TImageLibProc::~TImageLibProc() {
  Detach();
  DetachTImage();
}

std::unique_ptr<TImageLibProc> TImageLibProc::CreateForBitmap(TIEBitmap* bitmap) {
  auto proc = std::make_unique<TImageLibProc>(nullptr);
  proc->SetAutoUndo(false);
  proc->AttachBitmap(bitmap);
  return proc;
}

void TImageLibProc::Detach() {
  if (FAttachedImageLib && FChangeHandle) FAttachedImageLib->RemoveBitmapChangeHandler(FChangeHandle);
  FChangeHandle = nullptr;
  FAttachedImageLib = nullptr;
}

void TImageLibProc::DetachTImage() {
  if (FAttachedTImage) FAttachedTImage->RemoveFreeNotification(this);
  FAttachedTImage = nullptr;
  FAttachedTBitmap = nullptr;
}

void TImageLibProc::WrapAttachedTBitmap() {
  if (FAttachedTBitmap && FOwnBitmap && FBitmap == FOwnBitmap.get()) FBitmap->EncapsulateTBitmap(FAttachedTBitmap, true);
}

void TImageLibProc::SetAttachedTImage(TImage* image) {
  Detach();
  DetachTImage();
  UseOwnBitmap();
  if (!image) return;
  FAttachedTImage = image;
  FAttachedTBitmap = image->Picture()->Bitmap();
  image->FreeNotification(this);
  WrapAttachedTBitmap();
}

void TImageLibProc::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == FAttachedTImage) {
    FAttachedTImage = nullptr;
    FAttachedTBitmap = nullptr;
    UseOwnBitmap();
  }
}

void TImageLibProc::UseOwnBitmap() {
  FOwnBitmap = std::make_unique<TIEBitmap>();
  FBitmap = FOwnBitmap.get();
}

void TImageLibProc::SetAttachedImageLib(TIEViewLink* view) {
  Detach();
  DetachTImage();
  if (!view) {
    UseOwnBitmap();
    return;
  }
  FAttachedImageLib = view;
  if (TIEBitmap* b = view->GetIEBitmap()) {
    FOwnBitmap.reset();
    FBitmap = b;
  } else {
    UseOwnBitmap();
    if (TBitmap* tb = view->GetBitmap()) FBitmap->EncapsulateTBitmap(tb, true);
  }
  FChangeHandle = view->AddBitmapChangeHandler(
      [this](TObject*, TIEViewLink* v, int code) {
        if (v != FAttachedImageLib) return;
        if (code == 1) {
          // The view is going away: its handler goes with it.
          FChangeHandle = nullptr;
          FAttachedImageLib = nullptr;
          UseOwnBitmap();
        } else if (TIEBitmap* b = v->GetIEBitmap()) {
          FOwnBitmap.reset();
          FBitmap = b;
        }
      },
      this);
}

void TImageLibProc::AttachBitmap(TIEBitmap* bitmap) {
  if (!bitmap && FAttachedImageLib) {
    if (FChangeHandle) FAttachedImageLib->RemoveBitmapChangeHandler(FChangeHandle);
    FChangeHandle = nullptr;
    return;
  }
  Detach();
  DetachTImage();
  UseBitmap(bitmap);
}

void TImageLibProc::UseBitmap(TIEBitmap* bitmap) {
  if (!bitmap) {
    UseOwnBitmap();
    return;
  }
  FOwnBitmap.reset();
  FBitmap = bitmap;
}

uint32_t TImageLibProc::Background() const {
  return FAttachedImageLib ? FAttachedImageLib->Background() : FOwnBackground;
}

void TImageLibProc::SetBackground(uint32_t color) {
  if (FAttachedImageLib)
    FAttachedImageLib->SetBackground(color);
  else
    FOwnBackground = color;
}

int32_t TImageLibProc::GetDpiX() const { return FAttachedImageLib ? FAttachedImageLib->DpiX() : gDefaultDPIX; }
int32_t TImageLibProc::GetDpiY() const { return FAttachedImageLib ? FAttachedImageLib->DpiY() : gDefaultDPIY; }

std::string TImageLibProc::ImageLibVersion() const { return "4.3.0"; }

TIELayeredViewLink* TImageLibProc::Layered() const { return dynamic_cast<TIELayeredViewLink*>(FAttachedImageLib); }
TIEVectViewLink* TImageLibProc::Vect() const { return dynamic_cast<TIEVectViewLink*>(FAttachedImageLib); }

// ---- undo and redo ----

namespace {
const std::string kNoCaption;
}

std::string TImageLibProc::GetUndoCaption(int position) const {
  if (position < 0 || position >= UndoCount()) return kNoCaption;
  return FUndo[size_t(UndoCount() - position - 1)].caption;
}

std::string TImageLibProc::GetRedoCaption(int position) const {
  if (position < 0 || position >= RedoCount()) return kNoCaption;
  return FRedo[size_t(RedoCount() - position - 1)].caption;
}

int TImageLibProc::GetUndoKind(int index) const {
  if (index < 0 || index >= UndoCount()) return 0;
  return FUndo[size_t(index)].kind;
}

bool TImageLibProc::CanSnapshot() {
  return PrepareBitmap() && FBitmap->Width() >= 2 && FBitmap->Height() >= 2;
}

bool TImageLibProc::MakeEntry(TIEUndoSource kind, TUndoEntry& entry) {
  entry.kind = kind;
  TIELayeredViewLink* view = Layered();
  if (kind == ieuImage) {
    if (FBitmap->Width() < 2 || FBitmap->Height() < 2) return false;
    auto copy = std::make_unique<TIEBitmap>();
    copy->SetMemoryLimit(0);
    copy->SetLocation(ieFile);
    copy->Assign(FBitmap);
    copy->SetSpare(view ? view->CurrentLayer() : -1);
    entry.image = std::move(copy);
    return true;
  }
  if (kind < ieuSelection || kind > ieuFullReserved) return false;
  TIEVectViewLink* vect = Vect();
  // Objects live only in a vector view; everything else needs a view with layers.
  if (kind == ieuObject ? !vect : (!view && !(kind == ieuFullReserved && vect))) return false;
  auto stream = std::make_unique<TMemoryStream>();
  if (kind == ieuObject) {
    vect->SaveObjectsToStream(*stream, -3);
  } else if (kind == ieuSelection) {
    view->SaveSelectionToStream(*stream);
  } else if (kind == ieuFullReserved) {
    if (vect)
      vect->SaveAllToStream(*stream, -1);
    else
      view->SaveLayersToStream(*stream, -2);
  } else {
    const int current = view->CurrentLayer();
    for (int i = 0; i < view->GetLayersCount(); ++i)
      view->SaveLayerToStream(i, *stream, kind == ieuLayerAndBitmap && i == current);
  }
  entry.stream = std::move(stream);
  return true;
}

bool TImageLibProc::Push(TStack& stack, TIEUndoSource kind) {
  // A negative limit means no entries, as 0 does.
  if (FUndoLimit <= 0) return false;
  if (kind == ieuImage && !PrepareBitmap()) return false;
  TUndoEntry entry;
  if (!MakeEntry(kind, entry)) return false;
  while (int(stack.size()) >= FUndoLimit) stack.erase(stack.begin());
  stack.push_back(std::move(entry));
  return true;
}

bool TImageLibProc::SaveUndoEntry(TIEUndoSource kind) {
  if (FUndoLimit <= 0) return false;
  if (kind == ieuImage && !PrepareBitmap()) return false;
  const bool pushed = Push(FUndo, kind);
  if (OnSaveUndo) OnSaveUndo(this, kind);
  return pushed;
}

void TImageLibProc::SaveUndo(TIEUndoSource kind) { SaveUndoEntry(kind); }

void TImageLibProc::SaveRedo(TIEUndoSource kind) { Push(FRedo, kind); }

void TImageLibProc::SaveUndoCaptioned(const std::string& caption, TIEUndoSource kind) {
  if (!CanSnapshot()) return;
  if (SaveUndoEntry(kind)) FUndo.back().caption = caption;
}

void TImageLibProc::SaveRedoCaptioned(const std::string& caption, TIEUndoSource kind) {
  if (!CanSnapshot()) return;
  if (Push(FRedo, kind)) FRedo.back().caption = caption;
}

void TImageLibProc::DiscardLastUndo() {
  if (!FUndo.empty()) FUndo.pop_back();
}

void TImageLibProc::DiscardLastRedo() {
  if (!FRedo.empty()) FRedo.pop_back();
}

void TImageLibProc::DiscardUndoAt(int position) {
  if (position < 0 || position >= UndoCount()) return;
  FUndo.erase(FUndo.begin() + (UndoCount() - position - 1));
}

void TImageLibProc::UndoAt(int position, bool saveRedo) {
  if (!PrepareBitmap() || position < 0 || position >= UndoCount()) return;
  const size_t index = size_t(UndoCount() - position - 1);
  if (saveRedo) SaveRedo(FUndo[index].kind);
  Restore(FUndo[index]);
}

void TImageLibProc::RedoAt(int position) {
  if (!PrepareBitmap() || position < 0 || position >= RedoCount()) return;
  Restore(FRedo[size_t(RedoCount() - position - 1)]);
}

void TImageLibProc::Restore(TUndoEntry& entry) {
  TIELayeredViewLink* view = Layered();
  if (entry.kind == ieuImage) {
    const int layer = entry.image->Spare();
    TIEBitmap* target = FBitmap;
    if (view && layer >= 0 && view->GetLayersCount() > 0)
      target = view->LayerBitmap(std::clamp(layer, 0, view->GetLayersCount() - 1));
    if (target) target->Assign(entry.image.get());
    Update();
    return;
  }
  if (!entry.stream) return;
  TIEVectViewLink* vect = Vect();
  TStream& s = *entry.stream;
  s.SetPosition(0);
  if (entry.kind == ieuObject) {
    if (vect) vect->LoadObjectsFromStream(s, false);
    return;
  }
  if (entry.kind == ieuFullReserved && vect) {
    vect->LoadAllFromStream(s);
    return;
  }
  if (!view) return;
  switch (entry.kind) {
    case ieuSelection: view->LoadSelectionFromStream(s); break;
    case ieuLayer:
    case ieuLayerAndBitmap:
      RestoreLayerRecords(s, *view);
      FAttachedImageLib->Update();
      break;
    case ieuFullReserved: view->LoadLayersFromStream(s); break;
    default: break;
  }
}

void TImageLibProc::RestoreLayerRecords(TStream& s, TIELayeredViewLink& view) {
  const int64_t size = s.Size();
  while (s.Position() < size) {
    const int64_t start = s.Position();
    int32_t length = 0;
    uint8_t guid[16];
    // A record shorter than its own head or reaching past the end ends the walk.
    if (s.Read(&length, 4) != 4 || length < kMinLayerRecord || length > size - start) return;
    if (s.Read(guid, 16) != 16) return;
    int found = -1;
    for (int i = 0; i < view.GetLayersCount() && found < 0; ++i)
      if (SameGUID(view.LayerGUID(i).data(), guid)) found = i;
    if (found >= 0) {
      s.SetPosition(start);
      view.LoadLayerFromStream(found, s);
    }
    // Layers deleted since are skipped; every record ends where its length says.
    s.SetPosition(start + length);
  }
}

// ---- the operation frame ----

bool TImageLibProc::PrepareBitmap(const TIEFormatSet& allowed) {
  if (!FBitmap) return false;
  // The image's bitmap may have changed size or format since the last operation.
  WrapAttachedTBitmap();
  return EnsurePixelFormat(allowed);
}

bool TImageLibProc::EnsurePixelFormat(const TIEFormatSet& allowed) {
  const TIEBitmapFormat current = FBitmap->PixelFormat();
  if (allowed.Empty() || allowed.Contains(current)) return true;
  if (!FAutoConvertFormat) return false;
  if (current < kIEFormatCount)
    for (TIEBitmapFormat f : kPreferred[current])
      if (f != ieNoFormat && allowed.Contains(f)) {
        FBitmap->SetPixelFormat(f);
        return true;
      }
  for (int f = 10; f >= 0; --f)
    if (allowed.Contains(TIEBitmapFormat(f))) {
      FBitmap->SetPixelFormat(TIEBitmapFormat(f));
      return true;
    }
  return false;
}

void TImageLibProc::Update() {
  if (FAttachedTBitmap) {
    FBitmap->RemoveAlphaChannel(false);
    // Operations that build a new picture leave it in memory: it goes back
    // into the image's bitmap, which the image draws.
    if (FBitmap->Location() != ieTBitmap) {
      FBitmap->CopyToTBitmap(*FAttachedTBitmap);
      WrapAttachedTBitmap();
    }
  }
  if (FAttachedImageLib) {
    FAttachedImageLib->Update();
    FAttachedImageLib->ImageChange();
  } else if (FAttachedTBitmap) {
    FAttachedTBitmap->SetModified(true);
  }
}

void TImageLibProc::DoFinishWork() {
  if (OnProgress) OnProgress(this, 100);
  if (OnFinishWork) OnFinishWork(this);
}

bool TImageLibProc::GetSelectionInfo(int& x1, int& y1, int& x2, int& y2, TIEMask*& mask) {
  WrapAttachedTBitmap();
  x1 = y1 = 0;
  x2 = FBitmap ? FBitmap->Width() : 0;
  y2 = FBitmap ? FBitmap->Height() : 0;
  mask = nullptr;
  TIELayeredViewLink* view = Layered();
  if (!view) return false;
  mask = view->SelectionMask();
  if (!view->Selected()) return false;
  if (mask && !mask->IsEmpty()) {
    x1 = mask->X1();
    y1 = mask->Y1();
    x2 = mask->X2() + 1;
    y2 = mask->Y2() + 1;
  }
  return true;
}

TImageLibProc::TImageProcessing TImageLibProc::BeginImageProcessing(const TIEFormatSet& allowed,
                                                                    const std::string& caption) {
  TImageProcessing p;
  if (FAutoUndo) SaveUndoCaptioned(caption, ieuImage);
  if (!PrepareBitmap(allowed)) return p;
  GetSelectionInfo(p.x1, p.y1, p.x2, p.y2, p.mask);
  if (!p.mask || p.mask->IsEmpty()) {
    p.work = FBitmap;
    return p;
  }
  // The selection's box goes into a copy of its own; the rest stays untouched.
  const int w = p.x2 - p.x1, h = p.y2 - p.y1;
  auto box = std::make_unique<TIEBitmap>();
  if (!box->Allocate(w, h, FBitmap->PixelFormat())) return p;
  FBitmap->CopyPaletteTo(box.get());
  FBitmap->CopyRectTo(*box, p.x1, p.y1, w, h, 0, 0);
  if (FBitmap->HasAlphaChannel()) {
    FBitmap->AlphaChannel()->CopyRectTo(*box->AlphaChannel(), p.x1, p.y1, w, h, 0, 0);
    box->AlphaChannel()->CheckFull();
  }
  p.x1 = p.y1 = 0;
  p.x2 = w;
  p.y2 = h;
  p.box = std::move(box);
  p.work = p.box.get();
  return p;
}

void TImageLibProc::EndImageProcessing(TImageProcessing& p) {
  if (p.box && p.mask) {
    p.mask->CopyBitmapMasked(*FBitmap, *p.box, false, true, false);
    if (p.box->HasAlphaChannel() && !p.box->AlphaChannel()->Full()) {
      p.mask->CopyAlphaMasked(*FBitmap, *p.box, false, true);
      FBitmap->AlphaChannel()->SetFull(false);
    }
  }
  p.box.reset();
  p.work = nullptr;
  Update();
}

// ---- operations ----

void TImageLibProc::Fill(uint32_t color) {
  char caption[64];
  std::snprintf(caption, sizeof caption, "Fill (%d, %d, %d)", int(color >> 16 & 0xFF), int(color >> 8 & 0xFF),
                int(color & 0xFF));
  TImageProcessing p = BeginImageProcessing({}, caption);
  if (!p.work) return;
  FillBitmapRect(*p.work, p.x1, p.y1, this, OnProgress, color, p.y2, p.x2);
  EndImageProcessing(p);
  DoFinishWork();
}

void TImageLibProc::ConvertToGray() {
  TImageProcessing p = BeginImageProcessing(TIEFormatSet{ie24RGB}, "ConvertToGray");
  if (!p.work) return;
  ConvertRectToGray(*p.work, p.x1, p.y1, p.y2, p.x2, this, OnProgress);
  EndImageProcessing(p);
  DoFinishWork();
}

void TImageLibProc::Flip(int direction) {
  if (!PrepareBitmap()) return;
  if (FAutoUndo) SaveUndoCaptioned("Flip");
  FlipBitmap(*FBitmap, direction);
  Update();
  DoFinishWork();
}

void TImageLibProc::Rotate(double angle, bool antiAlias, int quality, int64_t background) {
  if (angle == 0 || !PrepareBitmap()) return;
  if (FAutoUndo) SaveUndoCaptioned(Format("Rotate %.2f", angle));
  const uint32_t bg = background == -1 ? Background() : uint32_t(background);
  FBitmap->Rotate(antiAlias, quality, this, OnProgress, bg, angle);
  Update();
  DoFinishWork();
}

void TImageLibProc::Clear() {
  if (!PrepareBitmap()) return;
  if (FAutoUndo) SaveUndoCaptioned("Clear");
  FBitmap->Fill(Background());
  Update();
  DoFinishWork();
}

bool TImageLibProc::CopyImageToClipboard(bool withRaw) {
  if (!PrepareBitmap()) return false;
  TClipboardSession clipboard;
  if (!clipboard.open) return false;
  EmptyClipboard();
  if (!PlaceBlock(CF_DIB, DibBlock(*FBitmap, 0, 0, 0, 0, GetDpiX(), GetDpiY()))) return false;
  if (withRaw) PlaceRaw(*FBitmap);
  return true;
}

bool TImageLibProc::CopySelectionToClipboard(bool withRaw) {
  if (!PrepareBitmap()) return false;
  int x1, y1, x2, y2;
  TIEMask* mask = nullptr;
  if (!GetSelectionInfo(x1, y1, x2, y2, mask)) return CopyImageToClipboard(withRaw);
  TClipboardSession clipboard;
  if (!clipboard.open) return false;
  EmptyClipboard();
  const bool masked = mask && !mask->IsEmpty();
  HGLOBAL dib = nullptr;
  TIEBitmap cut;
  if (masked) {
    CopyMaskedArea(*FBitmap, cut, *mask, Background());
    dib = DibBlock(cut, 0, 0, 0, 0, GetDpiX(), GetDpiY());
  } else {
    dib = DibBlock(*FBitmap, x1, y1, x2, y2, GetDpiX(), GetDpiY());
  }
  if (!PlaceBlock(CF_DIB, dib)) return false;
  if (withRaw) {
    TIEBitmap raw;
    if (masked) {
      FBitmap->CopySelection(raw, *mask);
    } else {
      raw.Allocate(x2 - x1, y2 - y1, FBitmap->PixelFormat());
      FBitmap->CopyPaletteTo(&raw);
      FBitmap->CopyRectTo(raw, x1, y1, x2 - x1, y2 - y1, 0, 0);
      if (FBitmap->HasAlphaChannel())
        FBitmap->AlphaChannel()->CopyRectTo(*raw.AlphaChannel(), x1, y1, x2 - x1, y2 - y1, 0, 0);
    }
    PlaceRaw(raw);
  }
  return true;
}

void TImageLibProc::PasteFromClipboard() {
  if (!PrepareBitmap()) return;
  TClipboardSession clipboard;
  if (!clipboard.open) return;
  const UINT raw = ImageLibRawClipboardFormat();
  const UINT png = FindClipboardFormatByName("PNG");
  TIEBitmap pasted;
  bool ok = false;
  // The first format present decides; a failed read pastes nothing.
  if (IsClipboardFormatAvailable(raw)) {
    ok = ReadBlock(GetClipboardData(raw), pasted, LoadRawFromMemory);
  } else if (png && IEPasteLoadPNG) {
    ok = ReadBlock(GetClipboardData(png), pasted, IEPasteLoadPNG);
  } else if (IsClipboardFormatAvailable(CF_DIB)) {
    ok = ReadBlock(GetClipboardData(CF_DIB), pasted,
                   [](TIEBitmap& b, const void* p, size_t n) { return DIBToIEBitmap(p, n, b) > 0; });
  } else if (IsClipboardFormatAvailable(CF_ENHMETAFILE) && IEPasteRenderMetafile) {
    const HANDLE metafile = GetClipboardData(CF_ENHMETAFILE);
    ok = metafile && IEPasteRenderMetafile(pasted, metafile);
  }
  if (!ok) return;
  if (FAutoUndo) SaveUndoCaptioned("PasteFromClipboard");
  FBitmap->Assign(&pasted);
  if (!pasted.HasAlphaChannel()) FBitmap->RemoveAlphaChannel();
  Update();
}

void TImageLibProc::ReduceColors(int n, TRGB* palette, bool useThreshold, const std::string& caption) {
  if (!PrepareBitmap(TIEFormatSet{ie24RGB})) return;
  if (FAutoUndo) SaveUndoCaptioned(caption);
  if (n < 3) {
    if (useThreshold)
      ThresholdToBW(*FBitmap, -1, this, OnProgress);
    else
      DitherToBW(*FBitmap, this, OnProgress);
    // Only as many entries as the caller's palette holds.
    if (palette && n >= 1) palette[0] = MakeRGB(0, 0, 0);
    if (palette && n >= 2) palette[1] = MakeRGB(255, 255, 255);
  } else if (n <= 1024) {
    QuantizeToColors(*FBitmap, n, palette, this, OnProgress);
  }
  Update();
  DoFinishWork();
}

void TImageLibProc::ConvertTo(int n, bool useThreshold) {
  ReduceColors(n, nullptr, useThreshold, "ConvertTo " + std::to_string(n));
}

void TImageLibProc::ConvertToPalette(int n, TRGB* palette, bool useThreshold) {
  if (n == 0) return;
  ReduceColors(n, palette, useThreshold, "ConvertToPalette");
}

void TImageLibProc::ImageResize(int newWidth, int newHeight, int hAlign, int vAlign, int alpha) {
  if (!PrepareBitmap() || newWidth <= 0 || newHeight <= 0) return;
  if (newWidth == FBitmap->Width() && newHeight == FBitmap->Height()) return;
  if (FAutoUndo) SaveUndoCaptioned("ImageResize " + std::to_string(newWidth) + "," + std::to_string(newHeight));
  if (FBitmap->Width() < 2 && FBitmap->Height() < 2) Clear();
  if (alpha < 255) FBitmap->AlphaChannel();
  FBitmap->Resize(newWidth, newHeight, Background(), alpha, hAlign, vAlign);
  Update();
  DoFinishWork();
}

void TImageLibProc::Resample(int newWidth, int newHeight, TResampleFilter filter, bool fit) {
  if (!PrepareBitmap() || FBitmap->IsEmpty()) return;
  if (newWidth == FBitmap->Width() && newHeight == FBitmap->Height()) return;
  if (newWidth < 0 && newHeight < 0) return;  // no size can be made of that
  char caption[64];
  std::snprintf(caption, sizeof caption, "Resample %d, %d", newWidth, newHeight);
  if (FAutoUndo) SaveUndoCaptioned(caption);
  TIEBitmap target;
  ResampleTo(target, newWidth, newHeight, filter, fit);
  if (target.IsEmpty()) return;
  FBitmap->Assign(&target);
  if (!target.HasAlphaChannel()) FBitmap->RemoveAlphaChannel();
  Update();
  DoFinishWork();
}

void TImageLibProc::ResampleTo(TIEBitmap& target, int newWidth, int newHeight, TResampleFilter filter, bool fit) {
  if (!PrepareBitmap() || FBitmap->Width() == 0 || FBitmap->Height() == 0) return;
  if (newWidth < 0 && newHeight < 0) return;
  ComputeResampleSize(newWidth, newHeight, FBitmap->Width(), FBitmap->Height(), fit);
  if (!target.Allocate(newWidth, newHeight, FBitmap->PixelFormat())) return;
  ResampleIEBitmap(FBitmap, &target, filter, this, OnProgress);
  DoFinishWork();
}

void TImageLibProc::Crop(int x1, int y1, int x2, int y2) {
  if (!PrepareBitmap() || FBitmap->IsEmpty()) return;
  const int w = FBitmap->Width(), h = FBitmap->Height();
  // The crop keeps only what lies inside the image; nothing inside, nothing done.
  const int cx1 = std::max(x1, 0), cy1 = std::max(y1, 0), cx2 = std::min(x2, w - 1), cy2 = std::min(y2, h - 1);
  if (cx1 > cx2 || cy1 > cy2) return;
  if (cx1 == 0 && cy1 == 0 && cx2 == w - 1 && cy2 == h - 1) return;
  char caption[96];
  std::snprintf(caption, sizeof caption, "Crop %d, %d, %d, %d", x1, y1, x2, y2);
  if (FAutoUndo) SaveUndoCaptioned(caption);
  const int nw = cx2 - cx1 + 1, nh = cy2 - cy1 + 1;
  TIEBitmap cut;
  if (!cut.Allocate(nw, nh, FBitmap->PixelFormat())) return;
  FBitmap->CopyPaletteTo(&cut);
  FBitmap->CopyRectTo(cut, cx1, cy1, nw, nh, 0, 0);
  std::unique_ptr<TIEBitmap> alpha;
  if (FBitmap->HasAlphaChannel()) {
    alpha = TIEBitmap::CreateAlphaChannel(nw, nh, ieMemory);
    FBitmap->AlphaChannel()->CopyRectTo(*alpha, cx1, cy1, nw, nh, 0, 0);
    alpha->CheckFull();
  }
  FBitmap->CopyFromTIEBitmap(cut);
  if (alpha) AttachAlphaChannel(*FBitmap, std::move(alpha));
  Update();
  DoFinishWork();
}

void TImageLibProc::CropTransparentBorder() {
  if (!PrepareBitmap()) return;
  RECT r;
  if (!GetOpaqueBounds(*FBitmap, r)) return;  // all transparent: nothing to keep
  const bool saved = FAutoUndo;
  FAutoUndo = false;
  Crop(r.left, r.top, r.right, r.bottom);
  FAutoUndo = saved;
}
