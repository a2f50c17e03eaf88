#include "platform/graphics/graphics_metafile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "platform/rtl/byte_order.h"

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr int kScreenDpi = 96;
// Sides beyond this many hundredths of a millimetre (about 21 km) are refused as damaged.
constexpr int64_t kMaxMM = int64_t{1} << 31;

[[noreturn]] void InvalidMetafile() { throw EInvalidGraphic("Metafile is not valid"); }

int PixelsOf(int mm) { return static_cast<int>(std::lround(double(mm) * kScreenDpi / 2540.0)); }
int MMOf(int64_t pixels) { return static_cast<int>(std::clamp<int64_t>(std::llround(pixels * 2540.0 / kScreenDpi), 0, INT32_MAX)); }


[[noreturn]] void OutOfResources() { throw EOutOfMemory("Out of system resources"); }

// A Windows metafile drawn into an enhanced one: its logical box (left, top,
// right, bottom in metafile units) goes onto a frame of the given pixel size.
HENHMETAFILE EnhancedFromWindows(const std::vector<uint8_t>& wmf, const RECT* box, int pxWidth, int pxHeight) {
  HMETAFILE h = SetMetaFileBitsEx(static_cast<UINT>(wmf.size()), wmf.data());
  if (!h) return nullptr;
  HDC rec;
  if (box) {
    RECT frame{0, 0, MMOf(pxWidth), MMOf(pxHeight)};
    rec = CreateEnhMetaFile(nullptr, nullptr, &frame, nullptr);
    SetMapMode(rec, MM_ANISOTROPIC);
    SetWindowOrgEx(rec, box->left, box->top, nullptr);
    SetWindowExtEx(rec, box->right - box->left, box->bottom - box->top, nullptr);
    SetViewportOrgEx(rec, 0, 0, nullptr);
    SetViewportExtEx(rec, pxWidth, pxHeight, nullptr);
  } else {
    // No window: a unit a pixel, framed by what it draws.
    rec = CreateEnhMetaFile(nullptr, nullptr, nullptr, nullptr);
  }
  PlayMetaFile(rec, h);
  DeleteMetaFile(h);
  return CloseEnhMetaFile(rec);
}

// The first window origin and extent a plain Windows metafile sets, if any.
bool FirstWindow(const std::vector<uint8_t>& wmf, RECT& box) {
  size_t at = 18;
  POINT org{};
  while (at + 6 <= wmf.size()) {
    uint64_t size = uint64_t{ReadLE32(wmf.data() + at)} * 2;
    uint16_t fn = ReadLE16(wmf.data() + at + 4);
    if (size < 6 || size > wmf.size() - at || fn == 0) break;
    const uint8_t* p = wmf.data() + at + 6;
    if (fn == 0x020B && size >= 10) org = POINT{ReadLEI16(p + 2), ReadLEI16(p)};
    if (fn == 0x020C && size >= 10) {
      int w = ReadLEI16(p + 2), h = ReadLEI16(p);
      if (w == 0 || h == 0) return false;
      box = RECT{org.x, org.y, org.x + w, org.y + h};
      return true;
    }
    at += static_cast<size_t>(size);
  }
  return false;
}

std::string DescriptionPart(HENHMETAFILE h, int part) {
  if (!h) return std::string();
  UINT n = GetEnhMetaFileDescription(h, 0, nullptr);
  if (n == 0 || n == GDI_ERROR) return std::string();
  std::vector<char> text(n);
  GetEnhMetaFileDescription(h, n, text.data());
  size_t first = strnlen(text.data(), n);
  if (part == 0) return std::string(text.data(), first);
  if (first + 1 >= n) return std::string();
  return std::string(text.data() + first + 1, strnlen(text.data() + first + 1, n - first - 1));
}

HANDLE PictBlock(HMETAFILE wmf, int mmWidth, int mmHeight) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(METAFILEPICT));
  if (!block) return nullptr;
  auto* pict = static_cast<METAFILEPICT*>(GlobalLock(block));
  *pict = METAFILEPICT{MM_ANISOTROPIC, mmWidth, mmHeight, wmf};
  GlobalUnlock(block);
  return block;
}

HMETAFILE WindowsCopy(HENHMETAFILE emf) {
  UINT size = GetWinMetaFileBits(emf, 0, nullptr, MM_ANISOTROPIC, nullptr);
  if (!size) return nullptr;
  std::vector<uint8_t> bytes(size);
  if (!GetWinMetaFileBits(emf, size, bytes.data(), MM_ANISOTROPIC, nullptr)) return nullptr;
  return SetMetaFileBitsEx(size, bytes.data());
}

HENHMETAFILE EnhancedFromPict(HANDLE block) {
  auto* pict = static_cast<const METAFILEPICT*>(GlobalLock(block));
  if (!pict || GlobalSize(block) < sizeof(METAFILEPICT)) {
    if (pict) GlobalUnlock(block);
    return nullptr;
  }
  METAFILEPICT copy = *pict;
  GlobalUnlock(block);
  UINT size = GetMetaFileBitsEx(copy.hMF, 0, nullptr);
  if (!size) return nullptr;
  std::vector<uint8_t> bytes(size);
  GetMetaFileBitsEx(copy.hMF, size, bytes.data());
  return SetWinMetaFileBits(size, bytes.data(), nullptr, &copy);
}

void FramePair(HENHMETAFILE h, int& mmWidth, int& mmHeight) {
  ENHMETAHEADER header;
  GetEnhMetaFileHeader(h, sizeof(header), &header);
  int64_t w = int64_t{header.rclFrame.right} - header.rclFrame.left;
  int64_t hh = int64_t{header.rclFrame.bottom} - header.rclFrame.top;
  mmWidth = static_cast<int>(std::clamp<int64_t>(w, 0, INT32_MAX));
  mmHeight = static_cast<int>(std::clamp<int64_t>(hh, 0, INT32_MAX));
}

}  // namespace

void RegisterMetafileClipboardSupport() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetClipboardObjectReleaser(CF_ENHMETAFILE, [](HANDLE h) { DeleteEnhMetaFile(static_cast<HENHMETAFILE>(h)); });
    // The block itself goes with the clipboard; the metafile inside it goes here.
    SetClipboardObjectReleaser(CF_METAFILEPICT, [](HANDLE block) {
      if (GlobalSize(block) < sizeof(METAFILEPICT)) return;
      if (auto* pict = static_cast<METAFILEPICT*>(GlobalLock(block))) {
        DeleteMetaFile(pict->hMF);
        GlobalUnlock(block);
      }
    });
    SetClipboardSynthesizer(CF_METAFILEPICT, CF_ENHMETAFILE, [](HANDLE source) -> HANDLE {
      auto emf = static_cast<HENHMETAFILE>(source);
      HMETAFILE wmf = WindowsCopy(emf);
      if (!wmf) return nullptr;
      int w = 0, h = 0;
      FramePair(emf, w, h);
      HANDLE block = PictBlock(wmf, w, h);
      if (!block) DeleteMetaFile(wmf);
      return block;
    });
    SetClipboardSynthesizer(CF_ENHMETAFILE, CF_METAFILEPICT,
                            [](HANDLE source) -> HANDLE { return EnhancedFromPict(source); });
  });
}

// ---- TMetafile ----

TMetafile::TMetafile() { RegisterMetafileClipboardSupport(); }

TMetafile::~TMetafile() {
  if (FHandle) DeleteEnhMetaFile(FHandle);
}

void TMetafile::TakeHandle(HENHMETAFILE handle, int mmWidth, int mmHeight, int inch) {
  if (FHandle && FHandle != handle) DeleteEnhMetaFile(FHandle);
  FHandle = handle;
  FMMWidth = mmWidth;
  FMMHeight = mmHeight;
  FInch = inch;
  Changed(this);
}

void TMetafile::Clear() {
  if (FHandle) DeleteEnhMetaFile(FHandle);
  FHandle = nullptr;
  FMMWidth = FMMHeight = 0;
  FInch = 0;
  Changed(this);
}

void TMetafile::SetHandle(HENHMETAFILE value) {
  if (value == FHandle) return;
  int w = 0, h = 0;
  if (value) FramePair(value, w, h);
  TakeHandle(value, w, h, 0);
}

HENHMETAFILE TMetafile::ReleaseHandle() {
  HENHMETAFILE h = FHandle;
  FHandle = nullptr;
  FMMWidth = FMMHeight = 0;
  Changed(this);
  return h;
}

int TMetafile::GetWidth() { return PixelsOf(FMMWidth); }
int TMetafile::GetHeight() { return PixelsOf(FMMHeight); }

void TMetafile::SetMMWidth(int value) {
  if (value == FMMWidth) return;
  FMMWidth = std::max(value, 0);
  Changed(this);
}

void TMetafile::SetMMHeight(int value) {
  if (value == FMMHeight) return;
  FMMHeight = std::max(value, 0);
  Changed(this);
}

void TMetafile::DoSetWidth(int value) { SetMMWidth(MMOf(std::max(value, 0))); }
void TMetafile::DoSetHeight(int value) { SetMMHeight(MMOf(std::max(value, 0))); }

std::string TMetafile::CreatedBy() { return DescriptionPart(FHandle, 0); }
std::string TMetafile::Description() { return DescriptionPart(FHandle, 1); }

void TMetafile::Assign(TPersistent* source) {
  if (!source) {
    Clear();
    return;
  }
  auto* src = dynamic_cast<TMetafile*>(source);
  if (!src) {
    TGraphic::Assign(source);
    return;
  }
  if (src == this) return;
  HENHMETAFILE copy = src->FHandle ? CopyEnhMetaFile(src->FHandle, nullptr) : nullptr;
  if (src->FHandle && !copy) OutOfResources();
  FEnhanced = src->FEnhanced;
  TakeHandle(copy, src->FMMWidth, src->FMMHeight, src->FInch);
}

void TMetafile::Draw(TCanvas* canvas, const TRect& rect) {
  if (!canvas || !FHandle) return;
  HDC dc = canvas->Handle();
  RECT r = rect;
  PlayEnhMetaFile(dc, FHandle, &r);
}

void TMetafile::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  const int64_t available = stream.Size() - start;
  uint8_t head[88] = {};
  const int64_t got = stream.Read(head, std::min<int64_t>(available, sizeof(head)));
  stream.SetPosition(start);
  if (got >= 88 && ReadLE32(head) == 1 && ReadLE32(head + 40) == 0x464D4520) {
    // Enhanced: nBytes says how long it is; more than there is means a damaged header.
    uint32_t nBytes = ReadLE32(head + 48), nSize = ReadLE32(head + 4);
    if (nBytes < nSize || nBytes > available || nSize < 88) InvalidMetafile();
    std::vector<uint8_t> bytes = stream.ReadBytes(nBytes);
    HENHMETAFILE h = SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());
    if (!h) InvalidMetafile();
    int w = 0, hh = 0;
    FramePair(h, w, hh);
    ENHMETAHEADER header;
    GetEnhMetaFileHeader(h, sizeof(header), &header);
    if (int64_t{header.rclFrame.right} - header.rclFrame.left >= kMaxMM ||
        int64_t{header.rclFrame.bottom} - header.rclFrame.top >= kMaxMM) {
      DeleteEnhMetaFile(h);
      InvalidMetafile();
    }
    FEnhanced = true;
    TakeHandle(h, w, hh, 0);
    return;
  }
  if (got < 18) InvalidMetafile();
  int64_t at = start;
  bool placeable = ReadLE32(head) == kPlaceableKey;
  RECT box{};
  int inch = 0;
  if (placeable) {
    // The checksum is not checked: many writers get it wrong.
    if (got < 22 + 18) InvalidMetafile();
    box = RECT{ReadLEI16(head + 6), ReadLEI16(head + 8), ReadLEI16(head + 10), ReadLEI16(head + 12)};
    inch = ReadLE16(head + 14);
    at += 22;
  }
  const uint8_t* mh = head + (placeable ? 22 : 0);
  if ((ReadLE16(mh) != 1 && ReadLE16(mh) != 2) || ReadLE16(mh + 2) != 9) InvalidMetafile();
  const int64_t left = stream.Size() - at;
  int64_t size = int64_t{ReadLE32(mh + 6)} * 2;
  if (size < 18) InvalidMetafile();
  if (size > left) size = left;  // a short last record is passed over when playing
  stream.SetPosition(at);
  std::vector<uint8_t> bytes = stream.ReadBytes(size);
  if (placeable) {
    int bw = box.right - box.left, bh = box.bottom - box.top;
    if (bw == 0 || bh == 0 || inch == 0) InvalidMetafile();
    int pw = static_cast<int>(std::lround(std::abs(bw) * double(kScreenDpi) / inch));
    int ph = static_cast<int>(std::lround(std::abs(bh) * double(kScreenDpi) / inch));
    HENHMETAFILE h = EnhancedFromWindows(bytes, &box, std::max(pw, 1), std::max(ph, 1));
    if (!h) InvalidMetafile();
    FEnhanced = false;
    TakeHandle(h, static_cast<int>(std::lround(std::abs(bw) * 2540.0 / inch)),
               static_cast<int>(std::lround(std::abs(bh) * 2540.0 / inch)), inch);
    return;
  }
  RECT window;
  HENHMETAFILE h;
  if (FirstWindow(bytes, window)) {
    int pw = std::abs(window.right - window.left), ph = std::abs(window.bottom - window.top);
    h = EnhancedFromWindows(bytes, &window, pw, ph);
  } else {
    h = EnhancedFromWindows(bytes, nullptr, 0, 0);
  }
  if (!h) InvalidMetafile();
  int w = 0, hh = 0;
  FramePair(h, w, hh);
  FEnhanced = false;
  TakeHandle(h, w, hh, kScreenDpi);
}

void TMetafile::SaveToStream(TStream& stream) {
  if (!FHandle) return;
  if (FEnhanced) {
    UINT size = GetEnhMetaFileBits(FHandle, 0, nullptr);
    std::vector<uint8_t> bytes(size);
    GetEnhMetaFileBits(FHandle, size, bytes.data());
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return;
  }
  UINT size = GetWinMetaFileBits(FHandle, 0, nullptr, MM_ANISOTROPIC, nullptr);
  if (!size) InvalidMetafile();
  std::vector<uint8_t> bytes(size);
  GetWinMetaFileBits(FHandle, size, bytes.data(), MM_ANISOTROPIC, nullptr);
  int inch = FInch > 0 ? FInch : kScreenDpi;
  PLACEABLEMETAHEADER ph;
  ph.Left = 0;
  ph.Top = 0;
  ph.Right = static_cast<SHORT>(std::clamp<int64_t>(std::llround(FMMWidth * double(inch) / 2540.0), 0, INT16_MAX));
  ph.Bottom = static_cast<SHORT>(std::clamp<int64_t>(std::llround(FMMHeight * double(inch) / 2540.0), 0, INT16_MAX));
  ph.Inch = static_cast<WORD>(inch);
  uint8_t raw[22];
  std::memcpy(raw, &ph, sizeof(raw));
  WORD sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= ReadLE16(raw + 2 * i);
  ph.Checksum = sum;
  stream.WriteBuffer(&ph, sizeof(ph));
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TMetafile::LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE) {
  RegisterMetafileClipboardSupport();
  HENHMETAFILE h = nullptr;
  if (format == CF_ENHMETAFILE && data) h = CopyEnhMetaFile(static_cast<HENHMETAFILE>(data), nullptr);
  else if (format == CF_METAFILEPICT && data) h = EnhancedFromPict(data);
  else throw EInvalidGraphic("Unsupported clipboard format");
  if (!h) InvalidMetafile();
  int w = 0, hh = 0;
  FramePair(h, w, hh);
  FEnhanced = format == CF_ENHMETAFILE;
  TakeHandle(h, w, hh, 0);
}

void TMetafile::SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) {
  RegisterMetafileClipboardSupport();
  palette = nullptr;
  data = nullptr;
  format = FEnhanced ? CF_ENHMETAFILE : CF_METAFILEPICT;
  if (!FHandle) return;
  if (FEnhanced) {
    data = CopyEnhMetaFile(FHandle, nullptr);
    return;
  }
  HMETAFILE wmf = WindowsCopy(FHandle);
  if (!wmf) InvalidMetafile();
  data = PictBlock(wmf, FMMWidth, FMMHeight);
  if (!data) {
    DeleteMetaFile(wmf);
    OutOfResources();
  }
}

// ---- TMetafileCanvas ----

TMetafileCanvas::TMetafileCanvas(TMetafile* metafile, HDC referenceDevice)
    : TMetafileCanvas(metafile, referenceDevice, std::string(), std::string()) {}

TMetafileCanvas::TMetafileCanvas(TMetafile* metafile, HDC referenceDevice, const std::string& createdBy,
                                 const std::string& description)
    : FMetafile(metafile) {
  std::string desc;
  if (!createdBy.empty() || !description.empty()) desc = createdBy + '\0' + description + '\0' + '\0';
  RECT frame{0, 0, metafile ? metafile->MMWidth() : 0, metafile ? metafile->MMHeight() : 0};
  bool framed = frame.right > 0 && frame.bottom > 0;
  FDC = CreateEnhMetaFile(referenceDevice, nullptr, framed ? &frame : nullptr, desc.empty() ? nullptr : desc.c_str());
  if (!FDC) OutOfResources();
  // What the metafile already shows stays under the new drawing.
  if (metafile && metafile->Handle()) {
    RECT r{0, 0, metafile->Width(), metafile->Height()};
    PlayEnhMetaFile(FDC, metafile->Handle(), &r);
  }
  SetHandle(FDC);
}

TMetafileCanvas::~TMetafileCanvas() {
  SetHandle(nullptr);
  HENHMETAFILE h = CloseEnhMetaFile(FDC);
  if (!FMetafile || !h) {
    if (h) DeleteEnhMetaFile(h);
    return;
  }
  int w = 0, hh = 0;
  FramePair(h, w, hh);
  FMetafile->TakeHandle(h, w, hh, 0);
}
