#include "imaging/core/ie_mask.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"

namespace {

// Sets or clears bits x1..x2 of a 1-bit row, whole bytes at once in the middle.
void FillBitRun(uint8_t* row, int x1, int x2, bool on) {
  while (x1 <= x2 && (x1 & 7) != 0) SetBit(row, x1++, on);
  while (x1 <= x2 && (x2 & 7) != 7) SetBit(row, x2--, on);
  if (x1 <= x2) std::memset(row + (x1 >> 3), on ? 0xFF : 0, size_t((x2 - x1 + 1) >> 3));
}

}  // namespace

// ---- shape ----

TIEMask::TIEMask() {
  FDrawInfo.header.biSize = sizeof(BITMAPINFOHEADER);
  FDrawInfo.header.biPlanes = 1;
  FDrawInfo.header.biBitCount = 1;
  FDrawInfo.header.biCompression = BI_RGB;
  FDrawInfo.colors[1] = RGBQUAD{255, 255, 255, 0};
  FDotBitmap = std::make_unique<TBitmap>();
  FDotBitmap->SetPixelFormat(pf24bit);
  FDotBitmap->SetSize(1, 1);
  FDotPixel = static_cast<uint8_t*>(FDotBitmap->ScanLine(0));
}

TIEMask::~TIEMask() {
  FDotBitmap.reset();
  FreeBits();
}

void TIEMask::Allocate(int width, int height, int bitsPerPixel) {
  FreeBits();
  FWidth = std::max(width, 0);
  FHeight = std::max(height, 0);
  FBitsPerPixel = bitsPerPixel == 1 ? 1 : 8;
  FRowLen = AlignedRowLength(FWidth, FBitsPerPixel, 32);
  SetEmptyBox();
  FFull = false;
}

void TIEMask::FreeBits() {
  FreeZoom();
  std::vector<uint8_t>().swap(FBits);
  FWidth = FHeight = FBitsPerPixel = 0;
  FRowLen = 0;
}

void TIEMask::FreeZoom() {
  std::vector<uint8_t>().swap(FZoomBuffer);
  FZoomRows.clear();
  FZoomWidth = FZoomHeight = 0;
  FZoomRowLen = 0;
}

void TIEMask::Resize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  const int64_t rowLen = AlignedRowLength(width, FBitsPerPixel, 32);
  if (!FBits.empty()) {
    std::vector<uint8_t> plane(size_t(rowLen * height), 0);
    const int rows = std::min(height, FHeight);
    const size_t bytes = size_t(std::min(rowLen, FRowLen));
    for (int y = 0; y < rows; ++y)
      std::memcpy(plane.data() + (height - y - 1) * rowLen, ScanLine(y), bytes);
    FBits.swap(plane);
  }
  FRowLen = rowLen;
  FWidth = width;
  FHeight = height;
  if (!IsEmpty()) {
    FX1 = std::min(FX1, FWidth - 1);
    FX2 = std::min(FX2, FWidth - 1);
    FY1 = std::min(FY1, FHeight - 1);
    FY2 = std::min(FY2, FHeight - 1);
  }
}

void TIEMask::EnsureBits() {
  if (!FBits.empty() || FRowLen <= 0 || FHeight <= 0) return;
  try {
    FBits.assign(size_t(FRowLen * FHeight), 0);
  } catch (const std::bad_alloc&) {
    OutOfMemoryError();
  } catch (const std::length_error&) {
    OutOfMemoryError();
  }
}

uint8_t* TIEMask::Bits() {
  EnsureBits();
  return FBits.empty() ? nullptr : FBits.data();
}

uint8_t* TIEMask::ScanLine(int y) {
  EnsureBits();
  if (FBits.empty()) return nullptr;
  return FBits.data() + (int64_t(FHeight) - y - 1) * FRowLen;
}

void TIEMask::SetEmptyBox() {
  FX1 = FY1 = kEmptyX1;
  FX2 = FY2 = 0;
}

void TIEMask::ClampBox() {
  if (IsEmpty()) return;
  FX1 = ClampInt(FX1, 0, std::max(FWidth - 1, 0));
  FX2 = ClampInt(FX2, 0, std::max(FWidth - 1, 0));
  FY1 = ClampInt(FY1, 0, std::max(FHeight - 1, 0));
  FY2 = ClampInt(FY2, 0, std::max(FHeight - 1, 0));
}

void TIEMask::WriteFullAfter(bool selectsFully) { FFull = FFull && selectsFully; }

// ---- pixels ----

void TIEMask::SetPixel(int x, int y, int value) {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return;
  uint8_t* row = ScanLine(y);
  if (value != 0) {
    RECT box{FX1, FY1, FX2, FY2};
    if (IsEmpty()) box = RECT{x, y, x, y};
    GrowBoundingBox(x, y, box, FWidth, FHeight);
    FX1 = box.left;
    FY1 = box.top;
    FX2 = box.right;
    FY2 = box.bottom;
  }
  if (FBitsPerPixel == 1) {
    SetBit(row, x, value != 0);
    WriteFullAfter(value != 0);
  } else {
    row[x] = uint8_t(value);
    WriteFullAfter(uint8_t(value) == 255);
  }
}

int TIEMask::GetPixel(int x, int y) const {
  if (FBits.empty() || x < 0 || y < 0 || x >= FWidth || y >= FHeight) return 0;
  const uint8_t* row = FBits.data() + (int64_t(FHeight) - y - 1) * FRowLen;
  if (FBitsPerPixel == 1) return GetBit(row, x) ? 1 : 0;
  if (FBitsPerPixel == 8) return row[x];
  return 0;
}

bool TIEMask::IsPointSelected(int x, int y) const { return !FBits.empty() && GetPixel(x, y) != 0; }

int TIEMask::FillSpan(int value, int x1, int x2, int y) {
  // A span on a row outside the plane is clipped away: clamping it onto the
  // first or last row would smear shapes that reach past the picture.
  if (y < 0 || y >= FHeight) return 0;
  x1 = std::max(x1, 0);
  x2 = std::min(x2, FWidth - 1);
  if (x2 < x1) return 0;
  uint8_t* row = ScanLine(y);
  if (!row) return 0;
  if (FBitsPerPixel == 1) {
    FillBitRun(row, x1, x2, value != 0);
    WriteFullAfter(value != 0);
  } else {
    std::memset(row + x1, uint8_t(value), size_t(x2 - x1 + 1));
    WriteFullAfter(uint8_t(value) == 255);
  }
  return x2 - x1 + 1;
}

void TIEMask::Fill(int value) {
  EnsureBits();
  std::fill(FBits.begin(), FBits.end(), uint8_t(value));
  FFull = uint8_t(value) == 255;
  // The box says what is selected: all of the plane, none of it, or (a 1-bit
  // pattern byte) whatever the bytes select.
  if (uint8_t(value) == 0 || FBits.empty())
    SetEmptyBox();
  else if (FBitsPerPixel == 8 || uint8_t(value) == 255) {
    FX1 = FY1 = 0;
    FX2 = FWidth - 1;
    FY2 = FHeight - 1;
  } else {
    UpdateBoundingBox();
  }
}

void TIEMask::Clear() {
  if (!FBits.empty()) Fill(0);
  SetEmptyBox();
  FFull = false;
}

void TIEMask::UpdateBoundingBox() {
  SetEmptyBox();
  if (FBits.empty()) return;
  for (int y = 0; y < FHeight; ++y) {
    const uint8_t* row = ScanLine(y);
    int first = -1, last = -1;
    if (FBitsPerPixel == 1) {
      for (int x = 0; x < FWidth; ++x) {
        if ((x & 7) == 0 && row[x >> 3] == 0) {
          x += 7;
          continue;
        }
        if (GetBit(row, x)) {
          if (first < 0) first = x;
          last = x;
        }
      }
    } else {
      for (int x = 0; x < FWidth; ++x)
        if (row[x]) {
          if (first < 0) first = x;
          last = x;
        }
    }
    if (first < 0) continue;
    if (IsEmpty()) {
      FX1 = first;
      FX2 = last;
      FY1 = FY2 = y;
    } else {
      FX1 = std::min(FX1, first);
      FX2 = std::max(FX2, last);
      FY2 = y;
    }
  }
}

void TIEMask::CheckFull() {
  FFull = false;
  if (FBits.empty() || FWidth < 1 || FHeight < 1) return;
  for (int y = 0; y < FHeight; ++y) {
    const uint8_t* row = ScanLine(y);
    if (FBitsPerPixel == 1) {
      const int whole = FWidth / 8;
      for (int i = 0; i < whole; ++i)
        if (row[i] != 0xFF) return;
      for (int x = whole * 8; x < FWidth; ++x)
        if (!GetBit(row, x)) return;
    } else {
      for (int x = 0; x < FWidth; ++x)
        if (row[x] != 255) return;
    }
  }
  FFull = true;
}

void GrowBoundingBox(int x, int y, RECT& box, int width, int height) {
  box.left = std::max(std::min<LONG>(box.left, x), 0);
  box.top = std::max(std::min<LONG>(box.top, y), 0);
  box.right = std::min<LONG>(std::max<LONG>(box.right, x), width - 1);
  box.bottom = std::min<LONG>(std::max<LONG>(box.bottom, y), height - 1);
}

// ---- polygons ----

void TIEMask::FillPolygons(int value, const POINT* points, int count) {
  int start = 0;
  for (int i = 0; i <= count; ++i) {
    if (i < count && points[i].x != kIEPolygonSeparator) continue;
    if (i > start) FillPolygon(value, points + start, i - start);
    start = i + 1;
  }
  CheckFull();
}

namespace {

// One edge of the scan-line fill: x at the current row, the row where it ends
// (exclusive), its run and rise, and the error term of its stepping.
struct TPolygonEdge {
  int64_t x;
  int64_t yEnd;
  int64_t dx;
  int64_t dy;
  int64_t error;
};

// One row down the edge: the whole part of the slope, then a carry whenever the
// accumulated remainder passes half a row.
void StepEdge(TPolygonEdge& e) {
  e.x += e.dx / e.dy;
  e.error += 2 * (e.dx % e.dy);
  if (e.error > e.dy || e.error < -e.dy) {
    if (e.dx <= 0) {
      e.error += 2 * e.dy;
      e.x -= 1;
    } else {
      e.error -= 2 * e.dy;
      e.x += 1;
    }
  }
}

// Products of two coordinate spans need more than 64 bits.
__extension__ typedef __int128 TWide;

// k rows down the edge at once, landing exactly where k calls of StepEdge would:
// after k steps the carries c satisfy -dy < 2k|r| - 2dy c <= dy.
void AdvanceEdge(TPolygonEdge& e, int64_t k) {
  const int64_t q = e.dx / e.dy, r = e.dx % e.dy;
  const TWide twice = TWide(2) * k * (r < 0 ? -r : r);
  const int64_t carries = int64_t((twice + e.dy - 1) / (TWide(2) * e.dy));
  const int64_t rest = int64_t(twice - TWide(2) * e.dy * carries);
  e.x += q * k + (r < 0 ? -carries : carries);
  e.error = r < 0 ? -rest : rest;
}

}  // namespace

void TIEMask::FillPolygon(int value, const POINT* points, int count) {
  if (!points || count < 1) return;
  EnsureBits();
  const int savedBox[4] = {FX1, FY1, FX2, FY2};
  int64_t yMin = points[0].y, yMax = points[0].y;
  for (int i = 0; i < count; ++i) {
    const int64_t x = points[i].x, y = points[i].y;
    yMin = std::min(yMin, y);
    yMax = std::max(yMax, y);
    if (value == 0) continue;
    // The right and bottom edges are exclusive, hence the one less.
    FX1 = int32_t(std::min<int64_t>(FX1, std::max<int64_t>(x, 0)));
    if (x > FX2) FX2 = int32_t(std::min<int64_t>(x - 1, kEmptyX1 - 1));
    FY1 = int32_t(std::min<int64_t>(FY1, std::max<int64_t>(y, 0)));
    if (y > FY2) FY2 = int32_t(std::min<int64_t>(y - 1, kEmptyX1 - 1));
  }
  ClampBox();
  // Only rows of the plane are scanned: the edge table never grows with
  // vertices far outside the picture.
  const int64_t first = std::max<int64_t>(yMin, 0), last = std::min<int64_t>(yMax, int64_t(FHeight) - 1);
  int64_t written = 0;
  if (first <= last) {
    std::vector<std::vector<TPolygonEdge>> buckets(size_t(last - first + 1));
    for (int i = 0; i < count; ++i) {
      const POINT& a = points[i];
      const POINT& b = points[(i + 1) % count];
      if (a.y == b.y) continue;
      const POINT& top = a.y < b.y ? a : b;
      const POINT& bottom = a.y < b.y ? b : a;
      if (bottom.y <= first || top.y > last) continue;
      TPolygonEdge e{top.x, bottom.y, int64_t(bottom.x) - top.x, int64_t(bottom.y) - top.y, 0};
      if (top.y < first) AdvanceEdge(e, first - top.y);
      buckets[size_t(std::max<int64_t>(top.y, first) - first)].push_back(e);
    }
    std::vector<TPolygonEdge> active;
    for (int64_t y = first; y <= last; ++y) {
      std::erase_if(active, [y](const TPolygonEdge& e) { return e.yEnd == y; });
      for (TPolygonEdge& e : active) StepEdge(e);
      const auto& bucket = buckets[size_t(y - first)];
      active.insert(active.end(), bucket.begin(), bucket.end());
      // Kept in order of x, so that edges which cross pair up as an even-odd fill.
      std::stable_sort(active.begin(), active.end(),
                       [](const TPolygonEdge& l, const TPolygonEdge& r) { return l.x < r.x; });
      for (size_t k = 0; k + 1 < active.size(); k += 2) {
        const int64_t left = active[k].x, right = active[k + 1].x - 1;
        if (right < left || right < 0 || left >= FWidth) continue;
        written += FillSpan(value, int(std::max<int64_t>(left, 0)), int(std::min<int64_t>(right, FWidth - 1)),
                            int(y));
      }
    }
  }
  if (written == 0) {
    // Nothing of this polygon reached the plane: the selection stays as it was.
    FX1 = savedBox[0];
    FY1 = savedBox[1];
    FX2 = savedBox[2];
    FY2 = savedBox[3];
  }
}

// ---- moving ----

void TIEMask::MoveBy(int& dx, int& dy, bool cut) {
  if (IsEmpty()) UpdateBoundingBox();
  if (IsEmpty()) return;
  // Worked out in 64 bits: an offset may be anything an int holds.
  int64_t x1 = FX1, y1 = FY1, x2 = FX2, y2 = FY2, ox = dx, oy = dy;
  if (cut) {
    if (x1 + ox < 0) x1 = -ox;
    if (y1 + oy < 0) y1 = -oy;
    if (x2 + ox >= FWidth) x2 = FWidth - ox - 1;
    if (y2 + oy >= FHeight) y2 = FHeight - oy - 1;
  } else {
    if (x1 + ox < 0) ox = -x1;
    if (x2 + ox >= FWidth) ox = FWidth - 1 - x2;
    if (y1 + oy < 0) oy = -y1;
    if (y2 + oy >= FHeight) oy = FHeight - 1 - y2;
    dx = int(ox);
    dy = int(oy);
  }
  if (ox == 0 && oy == 0) return;
  if (x2 < x1 || y2 < y1) {
    // Everything left the plane.
    Clear();
    return;
  }
  FX1 = int32_t(x1);
  FY1 = int32_t(y1);
  FX2 = int32_t(x2);
  FY2 = int32_t(y2);
  if (FBitsPerPixel == 1)
    MoveBits1(int(ox), int(oy));
  else
    MoveBits8(int(ox), int(oy));
  FX1 += int(ox);
  FX2 += int(ox);
  FY1 += int(oy);
  FY2 += int(oy);
  ClampBox();
}

void TIEMask::MoveBits1(int dx, int dy) {
  const int w = FX2 - FX1 + 1, h = FY2 - FY1 + 1;
  const int64_t tempLen = AlignedRowLength(w, 1, 32);
  std::vector<uint8_t> temp(size_t(tempLen * h), 0);
  for (int y = 0; y < h; ++y) CopyBitRun(temp.data() + y * tempLen, ScanLine(FY1 + y), 0, FX1, w, FRowLen);
  std::fill(FBits.begin(), FBits.end(), 0);
  for (int y = 0; y < h; ++y) {
    const int ty = FY1 + dy + y;
    if (ty < 0 || ty >= FHeight) continue;
    CopyBitRun(ScanLine(ty), temp.data() + y * tempLen, int64_t(FX1) + dx, 0, w, tempLen);
  }
}

void TIEMask::MoveBits8(int dx, int dy) {
  const std::vector<uint8_t> old = FBits;
  std::fill(FBits.begin(), FBits.end(), 0);
  for (int y = FY1; y <= FY2; ++y) {
    const int ty = y + dy;
    if (ty < 0 || ty >= FHeight) continue;
    const uint8_t* src = old.data() + (int64_t(FHeight) - y - 1) * FRowLen;
    uint8_t* dst = ScanLine(ty);
    for (int x = FX1; x <= FX2; ++x) {
      const int tx = x + dx;
      if (tx >= 0 && tx < FWidth) dst[tx] = src[x];
    }
  }
}

// ---- drawing ----

void TIEMask::DrawInverted(TCanvas* canvas, int xDest, int yDest, int dstW, int dstH, int srcX, int srcY, int srcW,
                           int srcH) {
  if (!canvas || FBitsPerPixel != 1 || IsEmpty() || !Bits()) return;
  FDrawInfo.header.biWidth = FWidth;
  FDrawInfo.header.biHeight = FHeight;
  // Bottom-up rows count the source's y from the last row.
  StretchDIBits(canvas->Handle(), xDest, yDest, dstW, dstH, srcX, FHeight - srcH - srcY, srcW, srcH, Bits(),
                reinterpret_cast<const BITMAPINFO*>(&FDrawInfo), DIB_RGB_COLORS, SRCINVERT);
}

void TIEMask::StretchMaskBits(int dstW, int dstH, int srcX, int srcY, int srcW, int srcH) {
  if (dstW < 1 || dstH < 1) return;
  if (dstW != FZoomWidth || dstH != FZoomHeight || FZoomRows.empty()) {
    FreeZoom();
    FZoomRowLen = AlignedRowLength(dstW, FBitsPerPixel == 1 ? 1 : 8, 32);
    FZoomBuffer.assign(size_t(FZoomRowLen * dstH), 0);
    FZoomWidth = dstW;
    FZoomHeight = dstH;
    FZoomRows.resize(size_t(dstH));
    for (int i = 0; i < dstH; ++i) FZoomRows[size_t(i)] = FZoomBuffer.data() + int64_t(dstH - 1 - i) * FZoomRowLen;
  } else {
    std::fill(FZoomBuffer.begin(), FZoomBuffer.end(), 0);
  }
  if (IsEmpty() || FBits.empty() || srcW < 1 || srcH < 1) return;
  const int64_t stepX = int64_t(double(srcW) / dstW * 16384), stepY = int64_t(double(srcH) / dstH * 16384);
  const int c0 = int(std::max<int64_t>(0, (int64_t(FX1) - srcX) * dstW / srcW));
  const int c1 = int(std::min<int64_t>(int64_t(double(dstW) / srcW * (int64_t(FX2) - srcX + 1)), dstW - 1));
  const int r0 = int(std::max<int64_t>(0, (int64_t(FY1) - srcY) * dstH / srcH));
  const int r1 = int(std::min<int64_t>(int64_t(double(dstH) / srcH * (int64_t(FY2) - srcY + 1)), dstH - 1));
  std::vector<int64_t> columns;
  for (int c = c0; c <= c1; ++c) columns.push_back(srcX + ((c * stepX) >> 14));
  for (int r = r0; r <= r1; ++r) {
    const int64_t sy = std::min<int64_t>(FHeight - 1, srcY + ((stepY * r) >> 14));
    if (sy < 0) continue;
    const uint8_t* src = ScanLine(int(sy));
    uint8_t* dst = FZoomRows[size_t(r)];
    for (int c = c0; c <= c1; ++c) {
      const int64_t sx = columns[size_t(c - c0)];
      if (sx < 0 || sx >= FWidth) continue;
      if (FBitsPerPixel == 1) {
        if (GetBit(src, sx)) SetBit(dst, c, true);
      } else {
        dst[c] = src[sx];
      }
    }
  }
}

int TIEMask::ZoomPixel(int row, int column) const {
  const uint8_t* r = FZoomRows[size_t(row)];
  return FBitsPerPixel == 1 ? (GetBit(r, column) ? 1 : 0) : r[column];
}

void TIEMask::StampDot(TCanvas* canvas, int x, int y, const TRGB& color) {
  FDotPixel[0] = color.b;
  FDotPixel[1] = color.g;
  FDotPixel[2] = color.r;
  canvas->Draw(x, y, FDotBitmap.get());
}

void TIEMask::DrawOutline(TCanvas* canvas, int xDest, int yDest, int dstW, int dstH, int srcX, int srcY, int srcW,
                          int srcH, int phase, TColor colorA, TColor colorB, RECT* outRect) {
  if (!canvas || dstW < 1 || dstH < 1 || srcW < 1 || srcH < 1 || IsEmpty()) return;
  TRGB a, b;
  ColorToRGBPixel(uint32_t(colorA), a);
  ColorToRGBPixel(uint32_t(colorB), b);
  StretchMaskBits(dstW, dstH, srcX, srcY, srcW, srcH);
  const int64_t stepX = std::max<int64_t>(1, int64_t(double(srcW) / dstW * 16384));
  const int64_t stepY = std::max<int64_t>(1, int64_t(double(srcH) / dstH * 16384));
  const int left = int(std::max<int64_t>(0, ((int64_t(FX1) - srcX) << 14) / stepX));
  const int right = int(std::min<int64_t>(((int64_t(FX2) - srcX + 1) << 14) / stepX + 1, dstW - 1));
  const int top = int(std::max<int64_t>(0, ((int64_t(FY1) - srcY) << 14) / stepY));
  const int bottom = int(std::min<int64_t>(((int64_t(FY2) - srcY + 1) << 14) / stepY + 1, dstH - 1));
  if (outRect) *outRect = RECT{left + xDest + 1, top + yDest + 1, right + xDest - 1, bottom + yDest - 1};
  canvas->Pen()->SetStyle(psSolid);
  canvas->Pen()->SetMode(pmCopy);
  auto sourceColumn = [&](int c) { return srcX + ((c * stepX) >> 14); };
  auto sourceRow = [&](int r) { return srcY + ((r * stepY) >> 14); };
  for (int r = top; r <= bottom; ++r) {
    const int up = std::max(r - 1, 0), down = std::min(r + 1, dstH - 1);
    for (int c = left; c <= right; ++c) {
      if (!ZoomPixel(r, c)) continue;
      bool stamp;
      if (c == 0)
        stamp = sourceColumn(c) <= FX1;
      else if (c == right)
        stamp = sourceColumn(c) >= FX2 || srcW == FWidth;
      else if (r == 0)
        stamp = sourceRow(r) <= FY1;
      else if (r == bottom)
        stamp = sourceRow(r) >= FY2 || srcH == FHeight;
      else
        stamp = !ZoomPixel(up, c - 1) || !ZoomPixel(up, c) || !ZoomPixel(up, c + 1) || !ZoomPixel(r, c - 1) ||
                !ZoomPixel(r, c + 1) || !ZoomPixel(down, c - 1) || !ZoomPixel(down, c) || !ZoomPixel(down, c + 1);
      if (!stamp) continue;
      const int x = c + xDest, y = r + yDest;
      StampDot(canvas, x, y, (x + y + phase) % 8 < 4 ? b : a);
    }
  }
}

void TIEMask::ShadeUnselected(TBitmap* bitmap, int xDest, int yDest, int dstW, int dstH, int srcX, int srcY,
                              int srcW, int srcH, int opacity, TColor color) {
  if (!bitmap || bitmap->PixelFormat() != pf24bit || dstW <= 0 || dstH <= 0 || srcW <= 0 || srcH <= 0 || IsEmpty())
    return;
  // A destination starting above or left of the bitmap: the hidden part is
  // taken off the source at the same scale.
  if (yDest < 0) {
    const int k = int(Round(double(-yDest) * srcH / dstH));
    srcY += k;
    srcH -= k;
    dstH += yDest;
    yDest = 0;
  }
  if (xDest < 0) {
    const int k = int(Round(double(-xDest) * srcW / dstW));
    srcX += k;
    srcW -= k;
    dstW += xDest;
    xDest = 0;
  }
  if (dstW <= 0 || dstH <= 0 || srcW <= 0 || srcH <= 0) return;
  StretchMaskBits(dstW, dstH, srcX, srcY, srcW, srcH);
  const int64_t stepX = int64_t(double(srcW) / dstW * 16384), stepY = int64_t(double(srcH) / dstH * 16384);
  const int rows = std::min(dstH, bitmap->GetHeight() - yDest), cols = std::min(dstW, bitmap->GetWidth() - xDest);
  TRGB shade;
  ColorToRGBPixel(uint32_t(color), shade);
  const double alpha = opacity / 255.0;
  for (int i = 0; i < rows; ++i) {
    const int64_t sy = srcY + ((stepY * i) >> 14);
    if (sy < 0 || sy >= FHeight) continue;  // below the plane there is nothing to shade
    uint8_t* row = static_cast<uint8_t*>(bitmap->ScanLine(yDest + i)) + int64_t(xDest) * 3;
    for (int j = 0; j < cols; ++j) {
      const int64_t sx = srcX + ((stepX * j) >> 14);
      if (sx < 0 || sx >= FWidth || ZoomPixel(i, j)) continue;
      uint8_t* p = row + int64_t(j) * 3;
      if (opacity == -1) {
        if ((i + j) % 2 == 0) p[0] = p[1] = p[2] = 97;
        continue;
      }
      p[0] = uint8_t(alpha * shade.b + (1 - alpha) * p[0]);
      p[1] = uint8_t(alpha * shade.g + (1 - alpha) * p[1]);
      p[2] = uint8_t(alpha * shade.r + (1 - alpha) * p[2]);
    }
  }
}

// ---- copying through the mask ----

// The part of the box that lies in both bitmaps, in mask coordinates, and where
// each bitmap's origin lies in them.
struct TIEMask::Region {
  int x1, y1, x2, y2;
  int sourceX, sourceY;
  int destX, destY;
};

bool TIEMask::ClipRegion(TIEBitmap& destination, TIEBitmap& source, bool destinationBoxSized, bool sourceBoxSized,
                         Region& region) const {
  if (IsEmpty() || FBits.empty() || source.IsEmpty() || destination.IsEmpty()) return false;
  region.sourceX = sourceBoxSized ? FX1 : 0;
  region.sourceY = sourceBoxSized ? FY1 : 0;
  region.destX = destinationBoxSized ? FX1 : 0;
  region.destY = destinationBoxSized ? FY1 : 0;
  region.x1 = std::max({FX1, region.sourceX, region.destX});
  region.y1 = std::max({FY1, region.sourceY, region.destY});
  region.x2 = int(std::min<int64_t>({FX2, FWidth - 1, int64_t(region.sourceX) + source.Width() - 1,
                                     int64_t(region.destX) + destination.Width() - 1}));
  region.y2 = int(std::min<int64_t>({FY2, FHeight - 1, int64_t(region.sourceY) + source.Height() - 1,
                                     int64_t(region.destY) + destination.Height() - 1}));
  return region.x1 <= region.x2 && region.y1 <= region.y2;
}

void TIEMask::CopyBitmapMasked(TIEBitmap& destination, TIEBitmap& source, bool destinationBoxSized,
                               bool sourceBoxSized, bool withAlpha) {
  Region region;
  if (&destination == &source || !ClipRegion(destination, source, destinationBoxSized, sourceBoxSized, region))
    return;
  if (source.PixelFormat() == destination.PixelFormat()) {
    CopyRegion(destination, source, region);
  } else {
    // Pixels of another format are first brought into the destination's, an
    // indexed destination lending its palette.
    TIEBitmap part;
    part.SetLocation(ieMemory);
    const int w = region.x2 - region.x1 + 1, h = region.y2 - region.y1 + 1;
    if (!part.Allocate(w, h, destination.PixelFormat())) return;
    destination.CopyPaletteTo(&part);
    source.CopyRectTo(part, region.x1 - region.sourceX, region.y1 - region.sourceY, w, h, 0, 0);
    Region inPart = region;
    inPart.sourceX = region.x1;
    inPart.sourceY = region.y1;
    CopyRegion(destination, part, inPart);
  }
  if (withAlpha) CopyAlphaRegion(destination, source, region, destinationBoxSized);
}

void TIEMask::CopyAlphaMasked(TIEBitmap& destination, TIEBitmap& source, bool destinationBoxSized,
                              bool sourceBoxSized) {
  Region region;
  if (&destination == &source || !ClipRegion(destination, source, destinationBoxSized, sourceBoxSized, region))
    return;
  CopyAlphaRegion(destination, source, region, destinationBoxSized);
}

namespace {

// d moves m/256 of the way to s; a fully selected pixel (255) takes s.
template <typename T>
T Blend(T d, T s, int m) {
  if (m == 255) return s;
  return static_cast<T>(int64_t(d) + ((int64_t(s) - int64_t(d)) * m >> 8));
}

void BlendPixel(TIEBitmapFormat format, uint8_t* d, const uint8_t* s, int m) {
  switch (format) {
    case ie16g:
    case ieRGB48: {
      const int n = format == ie16g ? 1 : 3;
      for (int i = 0; i < n; ++i) {
        uint16_t dv, sv;
        std::memcpy(&dv, d + 2 * i, 2);
        std::memcpy(&sv, s + 2 * i, 2);
        dv = Blend<uint16_t>(dv, sv, m);
        std::memcpy(d + 2 * i, &dv, 2);
      }
      return;
    }
    case ie32f: {
      float dv, sv;
      std::memcpy(&dv, d, 4);
      std::memcpy(&sv, s, 4);
      dv = m == 255 ? sv : dv + (sv - dv) * float(m) / 256.0f;
      std::memcpy(d, &dv, 4);
      return;
    }
    case ieCIELab:
      d[0] = Blend<uint8_t>(d[0], s[0], m);
      for (int i = 1; i < 3; ++i)
        d[i] = uint8_t(Blend<int8_t>(static_cast<int8_t>(d[i]), static_cast<int8_t>(s[i]), m));
      return;
    default:
      for (int i = 0; i < IEBitsPerPixel(format) / 8; ++i) d[i] = Blend<uint8_t>(d[i], s[i], m);
      return;
  }
}

}  // namespace

void TIEMask::CopyRegion(TIEBitmap& destination, TIEBitmap& source, const Region& region) {
  const TIEBitmapFormat format = destination.PixelFormat();
  const int bytes = IEBitsPerPixel(format) / 8;
  const bool oneBit = format == ie1g;
  for (int y = region.y1; y <= region.y2; ++y) {
    const uint8_t* mask = ScanLine(y);
    const uint8_t* s = source.ScanLine(y - region.sourceY);
    uint8_t* d = destination.ScanLine(y - region.destY);
    for (int x = region.x1; x <= region.x2; ++x) {
      const int m = FBitsPerPixel == 1 ? (GetBit(mask, x) ? 255 : 0) : mask[x];
      if (m == 0) continue;
      const int64_t sx = x - region.sourceX, dx = x - region.destX;
      if (oneBit)
        SetBit(d, dx, GetBit(s, sx));
      else if (m == 255)
        std::memcpy(d + dx * bytes, s + sx * bytes, size_t(bytes));
      else
        BlendPixel(format, d + dx * bytes, s + sx * bytes, m);
    }
  }
}

void TIEMask::CopyAlphaRegion(TIEBitmap& destination, TIEBitmap& source, const Region& region, bool cutOut) {
  TIEBitmap* target = destination.AlphaChannel();
  if (!target || target->Width() != destination.Width() || target->Height() != destination.Height()) return;
  TIEBitmap* alpha = source.HasAlphaChannel() ? source.AlphaChannel() : nullptr;
  for (int y = region.y1; y <= region.y2; ++y) {
    const uint8_t* mask = ScanLine(y);
    const uint8_t* s = alpha ? alpha->ScanLine(y - region.sourceY) : nullptr;
    uint8_t* d = target->ScanLine(y - region.destY);
    for (int x = region.x1; x <= region.x2; ++x) {
      const int m = FBitsPerPixel == 1 ? (GetBit(mask, x) ? 255 : 0) : mask[x];
      const uint8_t sv = s ? s[x - region.sourceX] : 255;
      uint8_t& dv = d[x - region.destX];
      if (cutOut)
        dv = m ? uint8_t(std::min<int>(sv, m)) : 0;
      else if (m)
        dv = Blend<uint8_t>(dv, sv, m);
    }
  }
  target->SetFull(false);
}
