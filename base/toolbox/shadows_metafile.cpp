#include "base/toolbox/shadows_metafile.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/rus_clipboard.h"
#include "base/toolbox/blend.h"
#include "base/toolbox/bitmap_utils.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

void MakeDropShadow(TBitmap* source, TBitmap* target, int radius, int xOffset, int yOffset, int strength,
                    TColor colour) {
  if (!Is32(source) || !target) return;
  SetSize32AndFill(target, source->Width(), source->Height(), 0);
  if (source->Width() <= 0 || source->Height() <= 0) return;
  const uint32_t shadow = ColourToPixel(static_cast<uint32_t>(ColorToRGB(colour)));
  SpreadShadow(BitmapRows(source), BitmapRows(target), std::max(radius, 0), xOffset, yOffset,
               std::clamp(strength, 0, 255), shadow);
  CompositeShadowUnder(source, target);
}

void CompositeShadowUnder(TBitmap* source, TBitmap* target) {
  if (!Is32(source) || !Is32(target) || source->Width() != target->Width() || source->Height() != target->Height())
    return;
  if (source->Width() > 0 && source->Height() > 0) CompositeShadowUnder(BitmapRows(source), BitmapRows(target));
}

namespace {

constexpr int kMaxSide = 32768;
constexpr int64_t kBandBudget = 48 << 20;  // bytes of one oversized 24-bit band

std::unique_ptr<TBitmap> Filled24(int w, int h, TColor colour) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(w, h);
  FillBitmap(b.get(), colour);
  return b;
}

}  // namespace

void MetafileToBitmap32(TGraphic* metafile, TBitmap* bitmap, int width, int height) {
  if (!metafile || !bitmap) return;
  const int mw = metafile->Width(), mh = metafile->Height();
  const int W = width ? width : mw, H = height ? height : mh;
  bitmap->SetPixelFormat(pf32bit);
  bitmap->SetPalette(nullptr);
  if (W <= 0 || H <= 0 || W > kMaxSide || H > kMaxSide) {
    bitmap->SetSize(0, 0);
    return;
  }
  bitmap->SetSize(W, H);
  const int64_t bigW = int64_t{8} * W, bigH = int64_t{8} * H;
  // A small drawing blown up far is first drawn at a middle size, then stretched.
  std::unique_ptr<TBitmap> midBlack, midWhite;
  if (mw > 0 && mh > 0 && (bigW / mw > 24 || bigH / mh > 24)) {
    const int64_t k = std::max<int64_t>(((bigW + bigH) / (mw + mh)) / 12, 1);
    const int w = static_cast<int>(std::max<int64_t>(bigW / k, 1)), h = static_cast<int>(std::max<int64_t>(bigH / k, 1));
    midBlack = Filled24(w, h, clBlack);
    midWhite = Filled24(w, h, clWhite);
    midBlack->Canvas()->StretchDraw(TRect{0, 0, w, h}, metafile);
    midWhite->Canvas()->StretchDraw(TRect{0, 0, w, h}, metafile);
  }
  // Rows of the result are read band by band, so the eightfold pictures stay
  // within the budget whatever the size asked for.
  const int bandRows = static_cast<int>(std::clamp<int64_t>(kBandBudget / (bigW * 3 * 8), 1, H));
  const TPixelRows out = BitmapRows(bitmap);
  for (int y0 = 0; y0 < H; y0 += bandRows) {
    const int rows = std::min(bandRows, H - y0);
    auto black = Filled24(static_cast<int>(bigW), rows * 8, clBlack);
    auto white = Filled24(static_cast<int>(bigW), rows * 8, clWhite);
    for (auto* big : {black.get(), white.get()}) {
      TBitmap* mid = big == black.get() ? midBlack.get() : midWhite.get();
      if (mid) {
        StretchBlt(big->Canvas()->Handle(), 0, -static_cast<int>(int64_t{8} * y0), static_cast<int>(bigW),
                   static_cast<int>(bigH), mid->Canvas()->Handle(), 0, 0, mid->Width(), mid->Height(), SRCCOPY);
      } else {
        big->Canvas()->StretchDraw(
            TRect{0, -8 * y0, static_cast<LONG>(bigW), static_cast<LONG>(bigH - int64_t{8} * y0)}, metafile);
      }
    }
    TPixelRows target = out;
    target.Base = out.Row(y0);
    target.Height = rows;
    CombineBlackWhiteBlocks(BitmapRows(black.get()), BitmapRows(white.get()), target);
  }
}

void DrawAlphaStretched(TBitmap* bitmap, HDC dc, int x, int y, int width, int height, TColor background) {
  if (!Is32(bitmap) || !dc || width <= 0 || height <= 0 || bitmap->Width() <= 0 || bitmap->Height() <= 0) return;
  if (background == clNone) {
    auto stretched = NewBitmap32(width, height);
    StretchBlt(stretched->Canvas()->Handle(), 0, 0, width, height, bitmap->Canvas()->Handle(), 0, 0,
               bitmap->Width(), bitmap->Height(), SRCCOPY);
    TBitmap under;
    under.SetPixelFormat(pf24bit);
    under.SetSize(width, height);
    BitBlt(under.Canvas()->Handle(), 0, 0, width, height, dc, x, y, SRCCOPY);
    DrawAlphaOver(stretched.get(), &under);
    BitBlt(dc, x, y, width, height, under.Canvas()->Handle(), 0, 0, SRCCOPY);
    return;
  }
  TBitmap flat;
  flat.SetPixelFormat(pf24bit);
  flat.SetSize(bitmap->Width(), bitmap->Height());
  FlattenOnColor(bitmap, &flat, static_cast<uint32_t>(ColorToRGB(background)));
  StretchBlt(dc, x, y, width, height, flat.Canvas()->Handle(), 0, 0, flat.Width(), flat.Height(), SRCCOPY);
}

namespace {

// Holds the shared clipboard open for one read.
struct TClipboardSession {
  TClipboardSession() { SharedClipboard().OpenWithRetries(5); }
  ~TClipboardSession() { SharedClipboard().Close(); }
};

}  // namespace

bool GetClipboardFormats(TListLongint& list) {
  TClipboardSession session;
  list.Clear();
  for (UINT f = EnumClipboardFormats(0); f != 0; f = EnumClipboardFormats(f)) list.Add(static_cast<int32_t>(f));
  return true;
}

bool ReadClipboardData(UINT format, void* buffer, int64_t count) {
  TClipboardSession session;
  HANDLE data = GetClipboardData(format);
  if (!data || count < 0) return false;
  if (static_cast<int64_t>(GlobalSize(data)) < count) return false;
  const void* p = GlobalLock(data);
  if (!p) return false;
  std::memcpy(buffer, p, static_cast<size_t>(count));
  GlobalUnlock(data);
  return true;
}

bool ReadClipboardToStream(UINT format, TStream& stream) {
  TClipboardSession session;
  HANDLE data = GetClipboardData(format);
  if (!data) return false;
  const void* p = GlobalLock(data);
  if (!p) return false;
  try {
    stream.WriteBuffer(p, static_cast<int64_t>(GlobalSize(data)));
  } catch (...) {
    GlobalUnlock(data);
    throw;
  }
  GlobalUnlock(data);
  return true;
}
