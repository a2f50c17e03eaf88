// The other roads of the zoomed drawing: resampling first with a filter,
// virtual pixel sources, drawing onto canvases in strips with gamma, and the
// packed-DIB helpers; and the default resolution of the library's start-up.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_dib_exchange.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_io_log.h"
#include "imaging/core/ie_render.h"
#include "imaging/core/ie_startup.h"
#include "imaging/core/ie_view_link.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/win/global_memory.h"
#include "test_support.h"

namespace {

std::unique_ptr<TIEBitmap> Target(int w, int h, TRGB fill = TRGB{0, 0, 0}) {
  auto t = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) t->SetPixelRGB(x, y, fill);
  return t;
}

std::unique_ptr<TIEBitmap> Pattern(int w, int h) {
  auto s = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) s->SetPixelRGB(x, y, TRGB{uint8_t(x * 9), uint8_t(y * 13), uint8_t((x * y) & 0xFF)});
  return s;
}

bool SameRows(TIEBitmap& a, int ax, int ay, TIEBitmap& b, int w, int h) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (!(a.GetPixelRGB(ax + x, ay + y) == b.GetPixelRGB(x, y))) return false;
  return true;
}

TEST(RenderFiltered, ResamplesTheRectangleThenDrawsItOneToOne) {
  auto src = Pattern(30, 20);
  // The reference: the rectangle cut out, resampled by the library to the target size.
  TIEBitmap part(20, 12, ie24RGB), want(9, 5, ie24RGB);
  src->CopyRectTo(part, 5, 4, 20, 12, 0, 0);
  ResampleEx(&part, &want, nullptr, nullptr, nullptr, rfTriangle);
  auto dst = Target(12, 8, TRGB{1, 2, 3});
  src->RenderToTIEBitmapEx(*dst, nullptr, nullptr, nullptr, nullptr, 2, 1, 9, 5, 5, 4, 20, 12, true, false, 255,
                           rfTriangle, true, iebmNormal);
  EXPECT_TRUE(SameRows(*dst, 2, 1, want, 9, 5));
  EXPECT_EQ(dst->GetPixelRGB(0, 0), (TRGB{1, 2, 3}));
  EXPECT_EQ(dst->GetPixelRGB(11, 7), (TRGB{1, 2, 3}));
  // The whole picture takes the same road without a copy.
  TIEBitmap whole(10, 7, ie24RGB);
  ResampleEx(src.get(), &whole, nullptr, nullptr, nullptr, rfLanczos3);
  auto all = Target(10, 7);
  src->RenderToTIEBitmapEx(*all, nullptr, nullptr, nullptr, nullptr, 0, 0, 10, 7, 0, 0, 30, 20, true, false, 255,
                           rfLanczos3, true, iebmNormal);
  EXPECT_TRUE(SameRows(*all, 0, 0, whole, 10, 7));
}

TEST(RenderFiltered, AlphaOpacityAndClipDrawWhatTheResampledRectangleDraws) {
  // Noise colour and alpha, a rectangle of it shrunk (and one enlarged) into a
  // clipped area over a chequered destination at opacity 200: the same pixels
  // as resampling the rectangle by the library and drawing that one to one.
  auto src = std::make_unique<TIEBitmap>(41, 33, ie24RGB);
  uint32_t seed = 7;
  for (int y = 0; y < 33; ++y) {
    for (int x = 0; x < 41; ++x) {
      seed = seed * 1103515245u + 12345u;
      src->SetPixelRGB(x, y, TRGB{uint8_t(seed >> 24), uint8_t(seed >> 16), uint8_t(seed >> 8)});
      src->SetAlpha(x, y, uint8_t(seed >> 13));
    }
  }
  src->SetFull(false);
  struct Case {
    int sx, sy, sw, sh, dx, dy, dw, dh;
    TResampleFilter filter;
  };
  for (const Case& c : {Case{3, 2, 35, 29, 4, 5, 17, 12, rfTriangle}, Case{5, 4, 9, 7, 1, 2, 25, 19, rfLanczos3}}) {
    TIEBitmap part(c.sw, c.sh, ie24RGB), scaled(c.dw, c.dh, ie24RGB);
    src->CopyRectTo(part, c.sx, c.sy, c.sw, c.sh, 0, 0);
    src->AlphaChannel()->CopyRectTo(*part.AlphaChannel(), c.sx, c.sy, c.sw, c.sh, 0, 0);
    part.SetFull(false);
    ResampleIEBitmap(&part, &scaled, c.filter);
    auto got = Target(30, 24), want = Target(30, 24);
    for (TIEBitmap* t : {got.get(), want.get()})
      for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 30; ++x) t->SetPixelRGB(x, y, ((x / 4 + y / 4) & 1) ? TRGB{200, 208, 212} : TRGB{255, 255, 255});
    const RECT clip{6, 3, 19, 15};
    src->RenderToTIEBitmapEx(*got, nullptr, nullptr, nullptr, &clip, c.dx, c.dy, c.dw, c.dh, c.sx, c.sy, c.sw, c.sh,
                             true, false, 200, c.filter, true, iebmNormal);
    scaled.RenderToTIEBitmapEx(*want, nullptr, nullptr, nullptr, &clip, c.dx, c.dy, c.dw, c.dh, 0, 0, c.dw, c.dh, true,
                               false, 200, rfNone, true, iebmNormal);
    EXPECT_TRUE(SameRows(*got, 0, 0, *want, 30, 24)) << c.filter;
    EXPECT_NE(got->GetPixelRGB(10, 8), (TRGB{255, 255, 255}));
  }
}

TEST(RenderFiltered, AlphaIsResampledAlongside) {
  auto src = Pattern(8, 8);
  src->Fill(0xFFFFFF);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) src->SetAlpha(x, y, x < 4 ? 0 : 255);
  auto dst = Target(4, 4);
  src->RenderToTIEBitmapEx(*dst, nullptr, nullptr, nullptr, nullptr, 0, 0, 4, 4, 0, 0, 8, 8, true, false, 255,
                           rfTriangle, true, iebmNormal);
  EXPECT_EQ(dst->GetPixelRGB(0, 0), (TRGB{0, 0, 0}));
  EXPECT_EQ(dst->GetPixelRGB(3, 3), (TRGB{255, 255, 255}));
  EXPECT_GT(dst->GetPixelRGB(2, 0).r, 0);  // the edge is softened
  EXPECT_LT(dst->GetPixelRGB(2, 0).r, 255);
}

TEST(RenderFiltered, OneBitShrinkIsAreaAveraged) {
  TIEBitmap src(8, 8, ie1g);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) SetRowBit(src.ScanLine(y), x, (x + y) % 2 == 0);
  auto dst = Target(4, 4);
  src.RenderToTIEBitmapEx(*dst, nullptr, nullptr, nullptr, nullptr, 0, 0, 4, 4, 0, 0, 8, 8, true, false, 255,
                          rfTriangle, true, iebmNormal);
  TIEBitmap want(4, 4, ie24RGB);
  Stretch1BitToGray(src, 0, 0, 7, 7, want);
  EXPECT_TRUE(SameRows(*dst, 0, 0, want, 4, 4));
}

TEST(RenderFiltered, SameSizeDrawsWithoutResampling) {
  auto src = Pattern(6, 6);
  auto dst = Target(6, 6);
  src->RenderToTIEBitmapEx(*dst, nullptr, nullptr, nullptr, nullptr, 0, 0, 6, 6, 0, 0, 6, 6, true, false, 255,
                           rfLanczos3, true, iebmNormal);
  EXPECT_TRUE(SameRows(*dst, 0, 0, *src, 6, 6));
}

// A virtual source paints through its row callback, and its renderer is
// called once with the drawn area.
class TRecordingRenderer : public TIEVirtualBitmapRenderer {
public:
  uint8_t* GetPixels(TIEBitmap*, int, int, int) override { return nullptr; }
  void DrawRows(TIEBitmap*, uint8_t* const*, TIEBlendMode mode, uint8_t opacity, const int32_t* rowMap,
                const int32_t* columnMap, int lastRow, int lastColumn, int firstRow, int firstColumn) override {
    calls.push_back({mode, opacity, rowMap[0], columnMap[lastColumn - firstColumn], lastRow, lastColumn, firstRow,
                     firstColumn});
  }
  struct Call {
    int mode, opacity, firstSourceRow, lastSourceColumn, lastRow, lastColumn, firstRow, firstColumn;
  };
  std::vector<Call> calls;
};

TEST(RenderVirtual, RowCallbackAndRendererSlot) {
  TIEBitmap src;
  src.SetRowCallback([](TIEBitmap*, int x, TRGB* p, int y) { *p = TRGB{uint8_t(x), uint8_t(y), 100}; });
  src.Allocate(10, 10, ie24RGB);
  ASSERT_TRUE(src.IsVirtual());
  auto dst = Target(20, 20);
  RECT clip{2, 4, 12, 20};
  src.RenderToTIEBitmapEx(*dst, nullptr, nullptr, nullptr, &clip, 0, 0, 20, 20, 0, 0, 10, 10, true, false, 255, rfNone,
                          true, iebmNormal);
  EXPECT_EQ(dst->GetPixelRGB(11, 19), (TRGB{5, 9, 100}));
  EXPECT_EQ(dst->GetPixelRGB(2, 4), (TRGB{1, 2, 100}));
  EXPECT_EQ(dst->GetPixelRGB(1, 4), (TRGB{0, 0, 0}));
  // Adjusted: the callback fills a pixel of its own, then contrast applies.
  src.SetContrast(-100);
  src.RenderToTIEBitmapEx(*dst, nullptr, nullptr, nullptr, nullptr, 0, 0, 20, 20, 0, 0, 10, 10, true, false, 255,
                          rfNone, true, iebmNormal);
  EXPECT_EQ(dst->GetPixelRGB(7, 7), (TRGB{128, 128, 128}));
  src.SetContrast(0);
  // At half opacity the callback's colour is weighed in.
  auto half = Target(10, 10, TRGB{0, 0, 200});
  src.RenderToTIEBitmapEx(*half, nullptr, nullptr, nullptr, nullptr, 0, 0, 10, 10, 0, 0, 10, 10, true, false, 128,
                          rfNone, true, iebmNormal);
  EXPECT_EQ(half->GetPixelRGB(8, 6), (TRGB{4, 3, 150}));

  TIEBitmap virt;
  auto renderer = std::make_unique<TRecordingRenderer>();
  TRecordingRenderer* r = renderer.get();
  virt.SetRenderer(std::move(renderer));
  virt.Allocate(10, 10, ie24RGB);
  virt.RenderToTIEBitmapEx(*dst, nullptr, nullptr, nullptr, &clip, 0, 0, 20, 20, 0, 0, 10, 10, true, false, 90,
                           rfNone, true, iebmScreen);
  ASSERT_EQ(r->calls.size(), 1u);
  const auto& c = r->calls[0];
  EXPECT_EQ(c.mode, iebmScreen);
  EXPECT_EQ(c.opacity, 90);
  EXPECT_EQ(c.firstRow, 4);
  EXPECT_EQ(c.lastRow, 19);
  EXPECT_EQ(c.firstColumn, 2);
  EXPECT_EQ(c.lastColumn, 11);
  EXPECT_EQ(c.firstSourceRow, 2);
  EXPECT_EQ(c.lastSourceColumn, 5);
}

// ---- canvases ----

struct TCanvasTarget {
  TBitmap bitmap;
  TCanvasTarget(int w, int h) {
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(w, h);
    TIEBitmap fill(w, h, ie24RGB);
    fill.Fill(0x010203);
    fill.CopyToTBitmap(bitmap);
  }
  TRGB At(int x, int y) {
    TIEBitmap back;
    back.CopyFromTBitmap(bitmap);
    return back.GetPixelRGB(x, y);
  }
};

TEST(RenderToCanvas, WithoutFilterStretchesByNearestPixel) {
  auto src = Pattern(4, 3);
  TCanvasTarget t(20, 20);
  src->RenderToCanvas(*t.bitmap.Canvas(), 2, 3, 8, 6, rfNone, 1);
  EXPECT_EQ(t.At(2, 3), src->GetPixelRGB(0, 0));
  EXPECT_EQ(t.At(9, 8), src->GetPixelRGB(3, 2));
  EXPECT_EQ(t.At(4, 5), src->GetPixelRGB(1, 1));
  EXPECT_EQ(t.At(10, 3), (TRGB{1, 2, 3}));
}

TEST(RenderToCanvas, GammaOnlyAboveZero) {
  TIEBitmap src(2, 2, ie24RGB);
  src.Fill(0x404040);  // 64
  for (TResampleFilter filter : {rfNone, rfTriangle}) {
    for (double gamma : {-2.0, 0.0, 1.0, 2.0}) {
      TCanvasTarget t(4, 4);
      src.RenderToCanvas(*t.bitmap.Canvas(), 0, 0, filter == rfNone ? 2 : 4, filter == rfNone ? 2 : 4, filter, gamma);
      // (64 / 255) ^ (1 / 2) x 255 = 127.75
      EXPECT_EQ(t.At(1, 1).g, gamma == 2.0 ? 128 : 64) << int(filter) << " " << gamma;
    }
  }
}

TEST(RenderToCanvas, FilteredDrawingGoesInStripsAndLogs) {
  auto src = Pattern(10, 10);
  qvtest::TempDir dir;
  SetIOLogFileName(dir.File("io.log"));
  // A quarter of the memory limit holds three target rows.
  src->SetMemoryLimit(4 * 3 * AlignedRowLength(20, 24, 32));
  TCanvasTarget t(20, 20);
  src->RenderToCanvas(*t.bitmap.Canvas(), 0, 0, 20, 10, rfTriangle, 1);
  SetIOLogFileName("");
  // Each line is "date time : message".
  std::vector<std::string> log;
  {
    std::ifstream in(dir.File("io.log"));
    for (std::string line; std::getline(in, line);) {
      const size_t at = line.find(" : ");
      ASSERT_NE(at, std::string::npos) << line;
      log.push_back(line.substr(at + 3));
    }
  }
  std::vector<std::string> strips;
  for (const std::string& m : log)
    if (m.rfind("TIEBitmap.RenderToCanvas: PrintPict y=", 0) == 0) strips.push_back(m.substr(38));
  EXPECT_EQ(strips, (std::vector<std::string>{"0", "3", "6", "9"}));
  EXPECT_EQ(log.front(), "TIEBitmap.RenderToCanvas: begin");
  EXPECT_EQ(log.back(), "TIEBitmap.RenderToCanvas: end");
  TIEBitmap want(20, 10, ie24RGB);
  ResampleEx(src.get(), &want, nullptr, nullptr, nullptr, rfTriangle);
  TIEBitmap back;
  back.CopyFromTBitmap(t.bitmap);
  EXPECT_TRUE(SameRows(back, 0, 0, want, 20, 10));
  EXPECT_EQ(t.At(5, 15), (TRGB{1, 2, 3}));
}

TEST(RenderToCanvas, GreyPicturesScaleByNearestPixelWhateverTheFilter) {
  TIEBitmap grey(3, 1, ie8g);
  grey.SetPixel8(0, 0, 10);
  grey.SetPixel8(1, 0, 100);
  grey.SetPixel8(2, 0, 250);
  TCanvasTarget t(9, 1);
  grey.RenderToCanvas(*t.bitmap.Canvas(), 0, 0, 9, 1, rfLanczos3, 1);
  for (int x = 0; x < 9; ++x) EXPECT_EQ(t.At(x, 0).g, grey.GetPixel8(x / 3, 0)) << x;
}

TEST(DIBDrawTo, DrawsPackedDIBsAndRefusesShortBlocks) {
  auto src = Pattern(5, 4);
  HGLOBAL dib = CopyBitmaptoDIBEx(*src, 0, 0, 0, 0, 200, 200);
  ASSERT_NE(dib, nullptr);
  TCanvasTarget t(10, 8);
  DIBDrawTo(*t.bitmap.Canvas(), dib, 0, 0, 10, 8, 0, 0, 5, 4);
  EXPECT_EQ(t.At(9, 7), src->GetPixelRGB(4, 3));
  EXPECT_EQ(t.At(0, 0), src->GetPixelRGB(0, 0));
  // The same header over a block cut in the middle of the rows draws nothing.
  const size_t size = GlobalSize(dib);
  HGLOBAL shorter = GlobalAlloc(GMEM_MOVEABLE, size - 8);
  std::memcpy(GlobalLock(shorter), GlobalLock(dib), size - 8);
  GlobalUnlock(shorter);
  GlobalUnlock(dib);
  TCanvasTarget u(10, 8);
  DIBDrawTo(*u.bitmap.Canvas(), shorter, 0, 0, 10, 8, 0, 0, 5, 4);
  EXPECT_EQ(u.At(9, 7), (TRGB{1, 2, 3}));
  GlobalFree(shorter);
  GlobalFree(dib);
}

TEST(PrintPict, DrawsOneStripOneToOne) {
  auto src = Pattern(6, 6);
  TCanvasTarget t(10, 10);
  PrintPict(*t.bitmap.Canvas(), 4, 5, 2, 3, 2, 1, *src);
  EXPECT_EQ(t.At(4, 5), src->GetPixelRGB(1, 2));
  EXPECT_EQ(t.At(6, 6), src->GetPixelRGB(3, 3));
  EXPECT_EQ(t.At(7, 5), (TRGB{1, 2, 3}));
  EXPECT_EQ(t.At(4, 7), (TRGB{1, 2, 3}));
}

TEST(LibraryStartup, DefaultResolutionIs300) {
  if (LibraryStartupCount() != 0) GTEST_SKIP() << "the library is already started";
  gDefaultDPIX = 72;
  gDefaultDPIY = 96;
  LibraryStaticInit();
  EXPECT_EQ(gDefaultDPIX, 300);
  EXPECT_EQ(gDefaultDPIY, 300);
  LibraryStaticDone();
}

}  // namespace
