#include "imaging/core/ie_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/core/ie_dib_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_orientation.h"
#include "platform/graphics/graphics_bitmap.h"

// ---- width and height ----

bool TIEBitmap::ChangeSizeKeepingRows(int width, int height) {
  if (FLocation == ieTBitmap) {
    // A framework bitmap is rebuilt through a copy in memory and laid back.
    TIEBitmap copy;
    copy.SetLocation(ieMemory);
    copy.Assign(this);
    if (copy.Width() != Width()) return false;
    std::unique_ptr<TIEBitmap> alpha = AttachAlphaChannel(copy, nullptr);
    if (!copy.ChangeSizeKeepingRows(width, height)) return false;
    std::unique_ptr<TIEBitmap> ownAlpha = AttachAlphaChannel(*this, nullptr);
    Assign(&copy);
    AttachAlphaChannel(*this, std::move(ownAlpha));
    return Width() == width && Height() == height;
  }
  TIEBitmap previous;
  if (!ReallocateKeepingOld(previous, width, height, FPixelFormat)) return false;
  FAlphaBitmap = std::move(previous.FAlphaBitmap);
  if (previous.FPaletteCount && FPaletteCount)
    std::copy_n(previous.FPaletteData.begin(), std::min(previous.FPaletteCount, FPaletteCount), FPaletteData.begin());
  const int64_t len = std::min(FRowLength, previous.FRowLength);
  const int rows = std::min(FHeight, previous.FHeight);
  previous.SetAccess(1);
  for (int y = 0; y < rows; ++y) std::memcpy(ScanLine(y), previous.ScanLine(y), size_t(len));
  FFull = false;
  return true;
}

void TIEBitmap::SetWidth(int width) {
  if (width == Width() || width < 0) return;
  if (FAlphaBitmap) FAlphaBitmap->SetWidth(width);
  if (FPixelFormat == ieNoFormat || FHeight < 1 || width == 0) {
    FWidth = width;
    return;
  }
  ChangeSizeKeepingRows(width, FHeight);
}

void TIEBitmap::SetHeight(int height) {
  if (height == Height() || height < 0) return;
  if (FAlphaBitmap) FAlphaBitmap->SetHeight(height);
  if (FPixelFormat == ieNoFormat || FWidth < 1 || height == 0) {
    FHeight = height;
    return;
  }
  ChangeSizeKeepingRows(FWidth, height);
}

// ---- canvas resize ----

namespace {

void AlignShrink(TIEBitmap& b, int w, int h, double fill, int hAlign, int vAlign) {
  const int w0 = b.Width(), h0 = b.Height();
  if (w < w0 && hAlign != 0) {
    const int x1 = hAlign == 1 ? (w0 - w) / 2 : w0 - w;
    b.MoveRect(x1, 0, x1 + w - 1, h0 - 1, 0, 0, true, fill);
  }
  if (h < h0 && vAlign != 0) {
    const int y1 = vAlign == 1 ? (h0 - h) / 2 : h0 - h;
    b.MoveRect(0, y1, w0 - 1, y1 + h - 1, 0, 0, true, fill);
  }
}

void FillGrown(TIEBitmap& b, int w0, int h0, double fill, int hAlign, int vAlign) {
  const int w = b.Width(), h = b.Height();
  if (w > w0) {
    b.FillRect(w0, 0, w - 1, h - 1, fill);
    if (hAlign != 0) {
      const int by = hAlign == 1 ? (w - w0) / 2 : w - w0;
      b.MoveRect(0, 0, w0 - 1, std::min(h0, h) - 1, by, 0, true, fill);
    }
  }
  if (h > h0) {
    b.FillRect(0, h0, w - 1, h - 1, fill);
    if (vAlign != 0) {
      const int by = vAlign == 1 ? (h - h0) / 2 : h - h0;
      b.MoveRect(0, 0, w - 1, h0 - 1, 0, by, true, fill);
    }
  }
}

}  // namespace

void TIEBitmap::Resize(int width, int height, double background, int alphaFill, int hAlign, int vAlign) {
  if (width < 1 || height < 1) return;
  const int w0 = Width(), h0 = Height();
  AlignShrink(*this, width, height, background, hAlign, vAlign);
  if (FAlphaBitmap) AlignShrink(*FAlphaBitmap, width, height, alphaFill, hAlign, vAlign);
  SetWidth(width);
  SetHeight(height);
  if (Width() != width || Height() != height) return;
  FillGrown(*this, w0, h0, background, hAlign, vAlign);
  if (FAlphaBitmap) FillGrown(*FAlphaBitmap, w0, h0, alphaFill, hAlign, vAlign);
}

void TIEBitmap::MoveRect(int x1, int y1, int x2, int y2, int dx, int dy, bool fill, double value) {
  OrderRectCorners(x1, y1, x2, y2);
  const int w = x2 - x1 + 1, h = y2 - y1 + 1;
  if (IsEmpty() || w < 1 || h < 1) return;
  TIEBitmap temp;
  temp.SetLocation(ieMemory);
  if (!temp.Allocate(w, h, PixelFormat())) return;
  CopyRectTo(temp, x1, y1, w, h, 0, 0);
  if (fill) FillRect(x1, y1, x2, y2, value);
  temp.CopyRectTo(*this, 0, 0, w, h, dx, dy);
}

// ---- rectangles between bitmaps ----

namespace {

void CopyRectSameFormat(TIEBitmap& s, TIEBitmap& d, int sx, int sy, int w, int h, int dx, int dy) {
  const int bpp = s.BitCount();
  if (bpp == 1) {
    for (int y = 0; y < h; ++y) {
      std::vector<uint8_t> row(s.ScanLine(sy + y), s.ScanLine(sy + y) + s.RowLen());
      CopyBitRun(d.ScanLine(dy + y), row.data(), dx, sx, w, s.RowLen());
    }
    return;
  }
  const size_t n = size_t(w) * size_t(bpp / 8);
  for (int y = 0; y < h; ++y) std::memmove(d.PixelAddress(dy + y, dx, w), s.PixelAddress(sy + y, sx, w), n);
}

}  // namespace

namespace {

// A rectangle copy clipped to both bitmaps: where it starts in each and its size.
struct TClippedRect {
  int sx, sy, dx, dy, width, height;
};

bool ClipCopyRect(TIEBitmap& s, TIEBitmap& d, int sx, int sy, int width, int height, int dx, int dy,
                  TClippedRect& r) {
  const int sw = s.Width(), sh = s.Height(), dw = d.Width(), dh = d.Height();
  if (sw < 1 || sh < 1 || dw < 1 || dh < 1 || s.PixelFormat() == ieNoFormat || d.PixelFormat() == ieNoFormat)
    return false;
  r.dx = std::min(std::max(dx, 0), dw - 1);
  r.dy = std::min(std::max(dy, 0), dh - 1);
  r.sx = std::min(std::max(dx < 0 ? sx - dx : sx, 0), sw - 1);
  r.sy = std::min(std::max(dy < 0 ? sy - dy : sy, 0), sh - 1);
  if (dx < 0) width += dx;
  if (dy < 0) height += dy;
  r.width = std::min({width, sw - r.sx, dw - r.dx});
  r.height = std::min({height, sh - r.sy, dh - r.dy});
  return r.width >= 1 && r.height >= 1;
}

}  // namespace

void TIEBitmap::CopyRectTo(TIEBitmap& d, int sx, int sy, int width, int height, int dx, int dy) {
  TClippedRect r;
  if (!ClipCopyRect(*this, d, sx, sy, width, height, dx, dy, r)) return;
  const int sxs = r.sx, sys = r.sy, dxs = r.dx, dys = r.dy;
  width = r.width;
  height = r.height;
  const TIEBitmapFormat sf = PixelFormat(), df = d.PixelFormat();
  if (sf == df) {
    CopyRectSameFormat(*this, d, sxs, sys, width, height, dxs, dys);
    return;
  }
  // No direct rule: the rectangle goes through a copy in the destination's
  // format, an indexed destination taking the nearest entries of its palette.
  TIEBitmap part;
  part.SetLocation(ieMemory);
  if (!part.Allocate(width, height, sf)) return;
  CopyRectSameFormat(*this, part, sxs, sys, width, height, 0, 0);
  if (sf == ie8p) CopyPaletteTo(&part);
  if (df == ie8p) {
    if (!part.ConvertToPixelFormat(ie24RGB) || !d.Palette()) return;
    for (int y = 0; y < height; ++y) {
      uint8_t* row = d.ScanLine(dys + y) + dxs;
      const TRGB* src = reinterpret_cast<const TRGB*>(part.ScanLine(y));
      for (int x = 0; x < width; ++x) row[x] = uint8_t(FindNearestPaletteEntry(d.Palette(), d.PaletteLength(), src[x]));
    }
    return;
  }
  if (!part.ConvertToPixelFormat(df)) return;
  CopyRectSameFormat(part, d, 0, 0, width, height, dxs, dys);
}

// ---- alpha, selections and masks ----

void TIEBitmap::MaxAlphaRectTo(TIEBitmap& destination, int sx, int sy, int width, int height, int dx, int dy) {
  TIEBitmap* s = AlphaChannel();
  TIEBitmap* d = destination.AlphaChannel();
  if (!s || !d || s->PixelFormat() != ie8g || d->PixelFormat() != ie8g) return;
  TClippedRect r;
  if (!ClipCopyRect(*s, *d, sx, sy, width, height, dx, dy, r)) return;
  for (int y = 0; y < r.height; ++y) {
    const uint8_t* src = s->ScanLine(r.sy + y) + r.sx;
    uint8_t* dst = d->ScanLine(r.dy + y) + r.dx;
    for (int x = 0; x < r.width; ++x) dst[x] = std::max(dst[x], src[x]);
  }
}

void TIEBitmap::CopySelection(TIEBitmap& destination, TIEMask& mask) {
  if (mask.IsEmpty() || &destination == this) return;
  const int w = mask.X2() - mask.X1() + 1, h = mask.Y2() - mask.Y1() + 1;
  destination.SetNeedsReallocation(true);
  if (!destination.Allocate(w, h, PixelFormat())) return;
  CopyPaletteTo(&destination);
  CopyRectTo(destination, mask.X1(), mask.Y1(), w, h, 0, 0);
  mask.CopyBitmapMasked(destination, *this, true, false, true);
}

void CopyMaskedArea(TIEBitmap& source, TIEBitmap& destination, TIEMask& mask, double background) {
  if (mask.IsEmpty() || &destination == &source) return;
  const int w = mask.X2() - mask.X1() + 1, h = mask.Y2() - mask.Y1() + 1;
  destination.SetNeedsReallocation(true);
  if (!destination.Allocate(w, h, source.PixelFormat())) return;
  source.CopyPaletteTo(&destination);
  destination.Fill(background);
  mask.CopyBitmapMasked(destination, source, true, false, true);
}

void TIEBitmap::CopyFromMask(TIEMask* mask) {
  if (!mask) {
    Fill(255);
    return;
  }
  if (mask->BitsPerPixel() != 1 && mask->BitsPerPixel() != 8) return;
  if (!Allocate(mask->Width(), mask->Height(), mask->BitsPerPixel() == 1 ? ie1g : ie8g)) return;
  const int64_t len = std::min(RowLen(), mask->RowLen());
  for (int y = 0; y < Height(); ++y) std::memcpy(ScanLine(y), mask->ScanLine(y), size_t(len));
  FFull = mask->Full();
}

void CopyBitmapToMask(TIEBitmap& bitmap, TIEMask& mask) {
  const TIEBitmapFormat f = bitmap.PixelFormat();
  if (bitmap.IsEmpty() || (f != ie1g && f != ie8g && f != ie24RGB)) return;
  const int w = bitmap.Width(), h = bitmap.Height();
  mask.Allocate(w, h, f == ie1g ? 1 : 8);
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = bitmap.ScanLine(y);
    uint8_t* dst = mask.ScanLine(y);
    if (f == ie24RGB) {
      // A colour picture becomes a mask of its grey divided by 4 (0 to 63):
      // the writers that take such a mask as alpha rely on that range.
      const TRGB* p = reinterpret_cast<const TRGB*>(src);
      for (int x = 0; x < w; ++x)
        dst[x] = uint8_t(RGBToGray(uint32_t(p[x].r) << 16 | uint32_t(p[x].g) << 8 | p[x].b) / 4);
    } else {
      std::memcpy(dst, src, size_t(std::min(bitmap.RowLen(), mask.RowLen())));
    }
  }
  // A colour picture leaves the mask's full flag as allocation left it.
  if (f != ie24RGB) mask.SetFull(bitmap.Full());
  mask.UpdateBoundingBox();
}

void TIEBitmap::CopyFromDibbitmap(TIEDibbitmap* dib) {
  if (!dib || dib->Width() < 1 || dib->Height() < 1) return;
  const int bits = dib->BitCount();
  const TIEBitmapFormat f = bits == 1 ? ie1g : bits == 8 ? ie8g : bits == 24 ? ie24RGB : ieNoFormat;
  if (f == ieNoFormat) return;
  GdiFlush();
  if (FLocation == ieTBitmap) {
    if (f == ie8g) return;  // a framework bitmap here holds 1 or 24 bits
    TBitmap picture;
    picture.SetPixelFormat(f == ie1g ? pf1bit : pf24bit);
    picture.SetSize(dib->Width(), dib->Height());
    if (picture.GetWidth() != dib->Width()) return;
    const int64_t len = std::min<int64_t>(picture.View().RowBytes(), dib->RowLen());
    for (int y = 0; y < dib->Height(); ++y) std::memcpy(picture.ScanLine(y), dib->ScanLine(y), size_t(len));
    CopyFromTBitmap(picture);
    return;
  }
  if (!Allocate(dib->Width(), dib->Height(), f)) return;
  const int64_t len = std::min(RowLen(), dib->RowLen());
  for (int y = 0; y < Height(); ++y) std::memcpy(ScanLine(y), dib->ScanLine(y), size_t(len));
}
