// Bitmaps: device bitmaps and DIB sections, and moving pixels between them and
// packed DIBs (GetDIBits, SetDIBits, colour tables, bitmap bits).
#include <algorithm>
#include <cstring>

#include "platform/graphics/gdi_internal.h"

using namespace qvgdi;

namespace {

bool SameFormat(const Surface& a, const Surface& b) {
  if (a.bitCount != b.bitCount) return false;
  if (a.bitCount <= 8) return SameColors(a.colors, b.colors);
  if (a.bitCount == 24) return true;
  return std::memcmp(a.masks, b.masks, sizeof(a.masks)) == 0;
}

// Copies the first `width` pixels of a row between formats through colours;
// rows of the same format are copied as they are (32-bit alpha included).
void CopyRow(const Surface& src, const uint8_t* s, const Surface& dst, uint8_t* d, int width, bool same,
             const PixelCodec& in, const PixelCodec& out) {
  if (same) {
    std::memcpy(d, s, static_cast<size_t>((static_cast<int64_t>(width) * src.bitCount + 7) / 8));
    return;
  }
  for (int x = 0; x < width; ++x) out.Write(d, x, out.FromColor(in.ToColor(in.Read(s, x))));
}

HBITMAP OneByOneMono() {
  Surface s;
  AllocateSurface(s, 1, 1, 1);
  s.mono = true;
  return NewBitmap(std::move(s), false);
}

}  // namespace

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits) {
  auto lock = Lock();
  if (planes != 1 || width < 0 || height < 0) return nullptr;
  if (width == 0 || height == 0) return OneByOneMono();
  Surface s;
  if (!AllocateSurface(s, width, height, static_cast<int>(bitCount))) return nullptr;
  s.topDown = true;
  s.mono = bitCount == 1;
  if (bits) {
    // Device bitmap bits come in WORD-aligned rows, top row first.
    size_t rowBytes = static_cast<size_t>(((static_cast<int64_t>(width) * bitCount + 15) / 16) * 2);
    for (int y = 0; y < height; ++y)
      std::memcpy(s.Row(y), static_cast<const uint8_t*>(bits) + rowBytes * y, std::min(rowBytes, s.stride));
  }
  return NewBitmap(std::move(s), false);
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || width < 0 || height < 0) return nullptr;
  if (width == 0 || height == 0) return OneByOneMono();
  Surface s;
  if (!CompatibleSurface(dc, width, height, s)) return nullptr;
  // With a DIB section selected the result is a DIB section of its format.
  bool dib = !dc->screen && DCBitmap(dc)->dibSection;
  s.topDown = !dib;
  return NewBitmap(std::move(s), dib);
}

namespace {

// The surface of a new DIB section for a header, in the layout and with the
// colour table the header gives: with zeroed rows of its own, or without rows
// for a section over rows from elsewhere.
bool SectionSurface(Surface& s, HDC hdc, const BITMAPINFO* info, UINT usage, bool withRows) {
  DCObj* dc = hdc ? FindDC(hdc) : nullptr;
  if (hdc && !dc) return false;
  Surface view;
  static const uint8_t nothing[4] = {0, 0, 0, 0};
  if (!SurfaceFromDib(view, info, nothing, usage, dc ? DCPaletteEntries(dc) : &StaticPaletteEntries())) return false;
  if (!(withRows ? AllocateSurface : ShapeSurface)(s, view.width, view.height, view.bitCount)) return false;
  s.topDown = view.topDown;
  s.compression = view.compression;
  std::memcpy(s.masks, view.masks, sizeof(s.masks));
  if (s.bitCount <= 8) {
    s.colors = view.colors;
    s.colorsUsed = view.colorsUsed;
  }
  return true;
}

}  // namespace

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset) {
  auto lock = Lock();
  if (bits) *bits = nullptr;
  if (section) return nullptr;  // no file-mapping sections here
  Surface s;
  if (!SectionSurface(s, hdc, info, usage, true)) return nullptr;
  if (bits) *bits = s.bits;
  return NewBitmap(std::move(s), true);
}

HBITMAP CreateDIBSectionOnSharedBits(HDC hdc, const BITMAPINFO* info, UINT usage, const TSharedBits& bits,
                                     size_t size) {
  auto lock = Lock();
  if (!bits) return nullptr;
  Surface s;
  if (!SectionSurface(s, hdc, info, usage, false) || s.ImageBytes() > size) return nullptr;
  s.storage = bits;
  s.bits = s.storage.get();
  return NewBitmap(std::move(s), true);
}

void* UnshareDIBSectionBits(HBITMAP bitmap) {
  auto lock = Lock();
  BitmapObj* b = FindBitmap(bitmap);
  if (!b || !b->dibSection) return nullptr;
  Surface& s = b->surface;
  if (SharedWithOthers(s.storage)) {
    TSharedBits own = CopySharedBits(s.storage, s.ImageBytes());
    if (!own) return nullptr;
    s.storage = std::move(own);
    s.bits = s.storage.get();
  }
  return s.bits;
}

HBITMAP CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* header, DWORD init, const void* bits, const BITMAPINFO* info,
                       UINT usage) {
  auto lock = Lock();
  int width, height, bitCount;
  bool topDown;
  if (!header) return nullptr;
  if (header->biSize == sizeof(BITMAPCOREHEADER)) {
    if (!ParseDibHeader(header, width, height, topDown, bitCount)) return nullptr;
  } else {
    if (header->biSize < sizeof(BITMAPINFOHEADER) || header->biWidth <= 0 || header->biHeight == 0 ||
        header->biHeight == INT32_MIN)
      return nullptr;
    width = header->biWidth;
    height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  }
  DCObj* dc = hdc ? FindDC(hdc) : nullptr;
  if (hdc && !dc) return nullptr;
  Surface s;
  if (!CompatibleSurface(dc, width, height, s)) return nullptr;
  s.topDown = true;
  HBITMAP bmp = NewBitmap(std::move(s), false);
  if ((init & CBM_INIT) && bits && info) {
    if (!SetDIBits(hdc, bmp, 0, static_cast<UINT>(height), bits, info, usage)) {
      DeleteObject(bmp);
      return nullptr;
    }
  }
  return bmp;
}

namespace {

// Whether a caller's buffer shares memory with a bitmap's pixels: then the
// rows are copied as the pixels were before any of them is written.
bool SharesPixels(const void* buffer, size_t bytes, const Surface& s) {
  const auto* b = static_cast<const uint8_t*>(buffer);
  return s.bits && bytes > 0 && b < s.bits + s.ImageBytes() && s.bits < b + bytes;
}

}  // namespace

int GetDIBits(HDC hdc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info, UINT usage) {
  auto lock = Lock();
  BitmapObj* b = FindBitmap(bitmap);
  if (!b || !info || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER) ||
      (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS))
    return 0;
  const Surface& s = b->surface;
  BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biBitCount == 0) {
    if (bits) return 0;
    // Describe the bitmap itself.
    h.biWidth = s.width;
    h.biHeight = s.height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(s.bitCount);
    h.biCompression = s.compression;
    h.biSizeImage = static_cast<DWORD>(s.ImageBytes());
    h.biClrUsed = 0;
    h.biClrImportant = 0;
    return 1;
  }
  int width, height, bitCount;
  bool topDown;
  if (!ParseDibHeader(&h, width, height, topDown, bitCount)) return 0;
  Surface out;
  out.width = width;
  out.height = height;
  out.bitCount = bitCount;
  out.topDown = topDown;
  out.compression = h.biCompression;
  out.stride = static_cast<size_t>(DibRowBytes(width, bitCount));
  SetDefaultMasks(out);
  uint8_t* table = reinterpret_cast<uint8_t*>(info) + h.biSize;
  if (bitCount <= 8) {
    out.colors = s.bitCount == bitCount && !s.colors.empty() ? s.colors : DefaultColorTable(bitCount);
    out.colors.resize(size_t{1} << bitCount);
    for (size_t i = 0; i < out.colors.size(); ++i) {
      if (usage == DIB_PAL_COLORS) {
        WORD index = static_cast<WORD>(i);
        std::memcpy(table + 2 * i, &index, 2);
      } else {
        std::memcpy(table + 4 * i, &out.colors[i], 4);
      }
    }
    h.biClrUsed = 0;
  } else if (h.biCompression == BI_BITFIELDS) {
    if (s.bitCount == bitCount && s.compression == BI_BITFIELDS) std::memcpy(out.masks, s.masks, sizeof(out.masks));
    if (h.biSize == sizeof(BITMAPINFOHEADER)) std::memcpy(table, out.masks, sizeof(out.masks));
    else std::memcpy(reinterpret_cast<uint8_t*>(info) + 40, out.masks, sizeof(out.masks));
  }
  h.biSizeImage = static_cast<DWORD>(out.ImageBytes());
  if (!bits) return 1;
  if (start >= static_cast<UINT>(height)) return 0;
  int count = static_cast<int>(std::min<UINT>(lines, static_cast<UINT>(height) - start));
  bool same = SameFormat(s, out);
  PixelCodec in(s), to(out);
  int copyWidth = std::min(width, s.width);
  const size_t outBytes = out.stride * static_cast<size_t>(count);
  std::vector<uint8_t> staged;
  uint8_t* target = static_cast<uint8_t*>(bits);
  if (SharesPixels(bits, outBytes, s)) {
    staged.resize(outBytes);
    target = staged.data();
  }
  for (int k = 0; k < count; ++k) {
    int scan = static_cast<int>(start) + k;
    int row = topDown ? scan : height - 1 - scan;  // bitmap row, top first
    uint8_t* d = target + out.stride * static_cast<size_t>(k);
    std::memset(d, 0, out.stride);
    if (row < 0 || row >= s.height) continue;
    CopyRow(s, s.Row(row), out, d, copyWidth, same, in, to);
  }
  if (!staged.empty()) std::memcpy(bits, staged.data(), outBytes);
  return count;
}

int SetDIBits(HDC hdc, HBITMAP bitmap, UINT start, UINT lines, const void* bits, const BITMAPINFO* info,
              UINT usage) {
  auto lock = Lock();
  BitmapObj* b = FindBitmap(bitmap);
  DCObj* dc = hdc ? FindDC(hdc) : nullptr;
  Surface src;
  if (!b || !bits || !SurfaceFromDib(src, info, bits, usage, dc ? DCPaletteEntries(dc) : nullptr)) return 0;
  Surface& s = b->surface;
  int height = src.height;
  if (start >= static_cast<UINT>(height)) return 0;
  int count = static_cast<int>(std::min<UINT>(lines, static_cast<UINT>(height) - start));
  std::vector<uint8_t> snapshot;
  const size_t srcBytes = src.stride * static_cast<size_t>(count);
  if (SharesPixels(src.bits, srcBytes, s)) {
    snapshot.assign(src.bits, src.bits + srcBytes);
    src.bits = snapshot.data();
  }
  bool same = SameFormat(src, s);
  PixelCodec in(src), to(s);
  int copyWidth = std::min(src.width, s.width);
  for (int k = 0; k < count; ++k) {
    int scan = static_cast<int>(start) + k;
    int row = src.topDown ? scan : height - 1 - scan;
    if (row < 0 || row >= s.height) continue;
    const uint8_t* p = src.bits + src.stride * static_cast<size_t>(k);
    CopyRow(src, p, s, s.Row(row), copyWidth, same, in, to);
  }
  return count;
}

UINT GetDIBColorTable(HDC hdc, UINT start, UINT count, RGBQUAD* colors) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !colors) return 0;
  BitmapObj* b = DCBitmap(dc);
  const Surface& s = b->surface;
  if (!b->dibSection || s.bitCount > 8 || start >= s.colors.size()) return 0;
  UINT n = std::min<UINT>(count, static_cast<UINT>(s.colors.size()) - start);
  std::memcpy(colors, s.colors.data() + start, n * sizeof(RGBQUAD));
  return n;
}

UINT SetDIBColorTable(HDC hdc, UINT start, UINT count, const RGBQUAD* colors) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !colors) return 0;
  BitmapObj* b = DCBitmap(dc);
  Surface& s = b->surface;
  if (!b->dibSection || s.bitCount > 8 || start >= s.colors.size()) return 0;
  UINT n = std::min<UINT>(count, static_cast<UINT>(s.colors.size()) - start);
  std::memcpy(s.colors.data() + start, colors, n * sizeof(RGBQUAD));
  s.colorsUsed = std::max<UINT>(s.colorsUsed, start + n);
  return n;
}

namespace {

size_t DdbRowBytes(const Surface& s) { return static_cast<size_t>(((static_cast<int64_t>(s.width) * s.bitCount + 15) / 16) * 2); }

}  // namespace

LONG GetBitmapBits(HBITMAP bitmap, LONG count, LPVOID bits) {
  auto lock = Lock();
  BitmapObj* b = FindBitmap(bitmap);
  if (!b || count < 0) return 0;
  const Surface& s = b->surface;
  size_t rowBytes = DdbRowBytes(s);
  size_t total = rowBytes * s.height;
  if (!bits) return static_cast<LONG>(std::min<size_t>(total, INT32_MAX));
  size_t want = std::min(total, static_cast<size_t>(count));
  auto* out = static_cast<uint8_t*>(bits);
  for (size_t done = 0, y = 0; done < want; ++y) {
    size_t n = std::min(rowBytes, want - done);
    std::memcpy(out + done, s.Row(static_cast<int>(y)), std::min(n, s.stride));
    done += n;
  }
  return static_cast<LONG>(want);
}

LONG SetBitmapBits(HBITMAP bitmap, DWORD count, const void* bits) {
  auto lock = Lock();
  BitmapObj* b = FindBitmap(bitmap);
  if (!b || !bits) return 0;
  Surface& s = b->surface;
  size_t rowBytes = DdbRowBytes(s);
  size_t want = std::min(rowBytes * s.height, static_cast<size_t>(count));
  const auto* in = static_cast<const uint8_t*>(bits);
  for (size_t done = 0, y = 0; done < want; ++y) {
    size_t n = std::min(rowBytes, want - done);
    std::memcpy(s.Row(static_cast<int>(y)), in + done, std::min(n, s.stride));
    done += n;
  }
  return static_cast<LONG>(want);
}
