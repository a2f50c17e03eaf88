#include "platform/graphics/drawdib.h"

#include <memory>
#include <mutex>
#include <unordered_set>

namespace {

struct DrawDibState {};

struct DrawDibTable {
  std::mutex lock;
  std::unordered_set<HDRAWDIB> open;
};

DrawDibTable& Table() {
  static DrawDibTable table;
  return table;
}

bool IsOpen(HDRAWDIB hdd) {
  DrawDibTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  return hdd != nullptr && t.open.count(hdd) != 0;
}

// Colour-table entries that follow the header: biClrUsed, else 2^bits up to 8 bits.
int64_t ColorTableEntries(const BITMAPINFOHEADER& h) {
  if (h.biClrUsed != 0) return h.biClrUsed;
  return h.biBitCount <= 8 ? int64_t(1) << h.biBitCount : 0;
}

}  // namespace

HDRAWDIB DrawDibOpen() {
  auto* state = new DrawDibState;
  auto hdd = reinterpret_cast<HDRAWDIB>(state);
  DrawDibTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  t.open.insert(hdd);
  return hdd;
}

BOOL DrawDibClose(HDRAWDIB hdd) {
  DrawDibTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  if (hdd == nullptr || t.open.erase(hdd) == 0) return FALSE;
  delete reinterpret_cast<DrawDibState*>(hdd);
  return TRUE;
}

BOOL DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst, const BITMAPINFOHEADER* lpbi,
                 const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc, UINT wFlags) {
  if (!IsOpen(hdd) || !lpbi || lpbi->biSize < sizeof(BITMAPINFOHEADER)) return FALSE;
  if (wFlags & DDF_UPDATE) return FALSE;
  if (wFlags & DDF_DONTDRAW) return TRUE;
  const int width = lpbi->biWidth;
  const int height = lpbi->biHeight < 0 ? -lpbi->biHeight : lpbi->biHeight;
  if (dxSrc == -1) dxSrc = width;
  if (dySrc == -1) dySrc = height;
  if (dxDst == -1) dxDst = dxSrc;
  if (dyDst == -1) dyDst = dySrc;
  if (!lpBits) {
    const int64_t masks = lpbi->biCompression == BI_BITFIELDS ? 12 : 0;
    lpBits = reinterpret_cast<const uint8_t*>(lpbi) + lpbi->biSize + masks + ColorTableEntries(*lpbi) * 4;
  }
  // DrawDib counts source rows from the top of the picture, StretchDIBits from
  // the bottom of a bottom-up DIB.
  const int stretchY = lpbi->biHeight < 0 ? ySrc : height - ySrc - dySrc;
  const int previous = SetStretchBltMode(hdc, (wFlags & DDF_HALFTONE) ? HALFTONE : COLORONCOLOR);
  const int lines = StretchDIBits(hdc, xDst, yDst, dxDst, dyDst, xSrc, stretchY, dxSrc, dySrc, lpBits,
                                  reinterpret_cast<const BITMAPINFO*>(lpbi), DIB_RGB_COLORS, SRCCOPY);
  if (previous != 0) SetStretchBltMode(hdc, previous);
  return lines != 0 ? TRUE : FALSE;
}

UINT DrawDibRealize(HDRAWDIB hdd, HDC hdc, BOOL fBackground) {
  (void)hdd;
  (void)hdc;
  (void)fBackground;
  return 0;
}
