// Drawing a whole bitmap onto a canvas (a printer's among others) through
// packed DIBs, and the pass-through calls of the screen DIB drawer.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "imaging/core/ie_dib_exchange.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_io_log.h"
#include "imaging/core/ie_render.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/rtl/rounding.h"
#include "platform/win/global_memory.h"

namespace {

constexpr int kPrintDPI = 200;
constexpr int64_t kStripBytesLimit = 41943040;  // 40 MB

// table[i] = clamp(round((i / 255) ^ (1 / gamma) x 255)).
void GammaTable(double gamma, uint8_t table[256]) {
  for (int i = 0; i < 256; ++i)
    table[i] = static_cast<uint8_t>(std::clamp<int64_t>(Round(std::pow(i / 255.0, 1 / gamma) * 255), 0, 255));
}

// Locks a global block for the lifetime of the guard.
class TGlobalLock {
public:
  explicit TGlobalLock(HGLOBAL block) : FBlock(block), FData(static_cast<uint8_t*>(GlobalLock(block))) {}
  ~TGlobalLock() {
    if (FData) GlobalUnlock(FBlock);
  }
  TGlobalLock(const TGlobalLock&) = delete;
  TGlobalLock& operator=(const TGlobalLock&) = delete;
  uint8_t* Data() const { return FData; }
  size_t Size() const { return FData ? GlobalSize(FBlock) : 0; }

private:
  HGLOBAL FBlock;
  uint8_t* FData;
};

struct TGlobalBlock {
  HGLOBAL handle;
  ~TGlobalBlock() {
    if (handle) GlobalFree(handle);
  }
};

// Where the rows of a packed DIB start, and whether the block holds them all.
bool PackedDIBRows(const uint8_t* data, size_t size, int64_t& offset, int64_t& rowBytes, int64_t& rows) {
  if (!data || size < sizeof(BITMAPINFOHEADER)) return false;
  BITMAPINFOHEADER h;
  std::memcpy(&h, data, sizeof h);
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biBitCount == 0 || h.biBitCount > 32) return false;
  offset = int64_t(sizeof(BITMAPINFOHEADER)) + (h.biBitCount <= 8 ? (int64_t(1) << h.biBitCount) * 4 : 0);
  rowBytes = AlignedRowLength(h.biWidth, h.biBitCount, 32);
  rows = h.biHeight < 0 ? -int64_t(h.biHeight) : h.biHeight;
  return offset + rowBytes * rows <= int64_t(size);
}

void GammaCorrect24BitDIB(HGLOBAL dib, double gamma) {
  TGlobalLock lock(dib);
  int64_t offset = 0, rowBytes = 0, rows = 0;
  if (!PackedDIBRows(lock.Data(), lock.Size(), offset, rowBytes, rows)) return;
  BITMAPINFOHEADER h;
  std::memcpy(&h, lock.Data(), sizeof h);
  if (h.biBitCount != 24 || h.biCompression != BI_RGB) return;
  uint8_t table[256];
  GammaTable(gamma, table);
  uint8_t* p = lock.Data() + offset;
  for (int64_t i = 0; i < rowBytes * rows; ++i) p[i] = table[p[i]];
}

}  // namespace

void DIBDrawTo(TCanvas& canvas, HGLOBAL dib, int x, int y, int width, int height, int sourceX, int sourceY,
               int sourceWidth, int sourceHeight) {
  TGlobalLock lock(dib);
  int64_t offset = 0, rowBytes = 0, rows = 0;
  if (!PackedDIBRows(lock.Data(), lock.Size(), offset, rowBytes, rows)) return;
  HDC dc = canvas.Handle();
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchDIBits(dc, x, y, width, height, sourceX, sourceY, sourceWidth, sourceHeight, lock.Data() + offset,
                reinterpret_cast<const BITMAPINFO*>(lock.Data()), DIB_RGB_COLORS, SRCCOPY);
}

void PrintPict(TCanvas& canvas, int x, int y, int stripHeight, int width, int sourceY, int sourceX, TIEBitmap& bitmap) {
  WriteIOLog("PrintPict: calling _CopyBitmaptoDIBEx");
  TGlobalBlock dib{CopyBitmaptoDIBEx(bitmap, sourceX, sourceY, sourceX + width, sourceY + stripHeight, kPrintDPI,
                                     kPrintDPI)};
  if (!dib.handle) return;
  WriteIOLog("PrintPict: calling _DIBDrawTo");
  DIBDrawTo(canvas, dib.handle, x, y, width, stripHeight, 0, 0, width, stripHeight);
  WriteIOLog("PrintPict: calling GlobalFree");
}

void TIEBitmap::RenderToCanvas(TCanvas& canvas, int x, int y, int width, int height, TResampleFilter filter,
                               double gamma) {
  WriteIOLog("TIEBitmap.RenderToCanvas: begin");
  if (IsEmpty() || width <= 0 || height <= 0) return;
  // Only a positive gamma means anything: 1 / gamma of 0 or less is no curve.
  const bool applyGamma = gamma > 0 && gamma != 1;
  if (filter == rfNone) {
    TGlobalBlock dib{CopyBitmaptoDIBEx(*this, 0, 0, 0, 0, kPrintDPI, kPrintDPI)};
    if (!dib.handle) return;
    if (applyGamma) GammaCorrect24BitDIB(dib.handle, gamma);
    WriteIOLog("TIEBitmap.RenderToCanvas: filter=none, gamma=1, gamma=0");
    WriteIOLog("TIEBitmap.RenderToCanvas: calling _DIBDrawTo");
    DIBDrawTo(canvas, dib.handle, x, y, width, height, 0, 0, Width(), Height());
    return;
  }
  const int64_t rowBytes = AlignedRowLength(width, 24, 32);
  int64_t strip = std::max<int64_t>(1, std::min<int64_t>(height, (MemoryLimit() / 4) / rowBytes));
  if (strip > 1 && rowBytes * strip > kStripBytesLimit) strip = std::max<int64_t>(1, kStripBytesLimit / rowBytes);
  WriteIOLog("TIEBitmap.RenderToCanvas: stripHeight=" + std::to_string(strip));
  WriteIOLog("TIEBitmap.RenderToCanvas: allocating " + std::to_string(width) + "x" + std::to_string(height));

  const TIEBitmapFormat format = PixelFormat();
  const bool projection = filter == rfProjectBW || filter == rfProjectWB;
  TIEBitmapFormat scaledFormat = format;
  if (format == ie1g) scaledFormat = projection ? ie1g : ie24RGB;
  TIEBitmap scaled;
  if (!scaled.Allocate(width, height, scaledFormat)) return;
  if (format == ie1g) {
    WriteIOLog("TIEBitmap.RenderToCanvas: _Resample1BitEx");
    Resample1BitEx(*this, scaled, filter);
  } else if (format == ie24RGB) {
    WriteIOLog("TIEBitmap.RenderToCanvas: _ResampleEx");
    ResampleEx(this, &scaled, nullptr, nullptr, nullptr, filter);
  } else {
    WriteIOLog("TIEBitmap.RenderToCanvas: _IEBmpStretchEx");
    IEBmpStretchEx(this, &scaled);
  }

  canvas.SetCopyMode(SRCCOPY);
  if (scaled.PixelFormat() == ie24RGB && applyGamma) {
    WriteIOLog("TIEBitmap.RenderToCanvas: gamma");
    uint8_t table[256];
    GammaTable(gamma, table);
    for (int row = 0; row < height; ++row) {
      uint8_t* p = scaled.ScanLine(row);
      for (int64_t i = 0; i < 3 * int64_t(width); ++i) p[i] = table[p[i]];
    }
  }
  for (int row = 0; row < height; row += int(strip)) {
    WriteIOLog("TIEBitmap.RenderToCanvas: PrintPict y=" + std::to_string(row));
    PrintPict(canvas, x, y + row, int(std::min<int64_t>(strip, height - row)), width, row, 0, scaled);
  }
  WriteIOLog("TIEBitmap.RenderToCanvas: end");
}

HDRAWDIB CallDrawDibOpen() { return DrawDibOpen(); }
BOOL CallDrawDibClose(HDRAWDIB hdd) { return DrawDibClose(hdd); }
BOOL CallDrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst, const BITMAPINFOHEADER* lpbi,
                     const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc, UINT wFlags) {
  return DrawDibDraw(hdd, hdc, xDst, yDst, dxDst, dyDst, lpbi, lpBits, xSrc, ySrc, dxSrc, dySrc, wFlags);
}
UINT CallDrawDibRealize(HDRAWDIB hdd, HDC hdc, BOOL fBackground) { return DrawDibRealize(hdd, hdc, fBackground); }
