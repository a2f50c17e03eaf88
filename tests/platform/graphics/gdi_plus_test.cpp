// The built-in "gdiplus.dll": found through LoadLibrary, its flat calls through
// GetProcAddress, figures laid over DCs of every depth through origin and clip.
#include "platform/graphics/gdi_plus.h"

#include <gtest/gtest.h>

#include "gdi_test_helpers.h"
#include "platform/win/resources.h"

namespace {

using namespace Gdiplus;
using gditest::Dib;

// The library loaded and started, its calls bound by name as callers bind them.
struct Session {
  Session() {
    RegisterGdiPlusLibrary();
    module = LoadLibraryA("gdiplus.dll");
    EXPECT_NE(module, nullptr);
    Bind(startup, "GdiplusStartup");
    Bind(shutdown, "GdiplusShutdown");
    Bind(createFromHDC, "GdipCreateFromHDC");
    Bind(deleteGraphics, "GdipDeleteGraphics");
    Bind(setSmoothing, "GdipSetSmoothingMode");
    Bind(createPen, "GdipCreatePen1");
    Bind(deletePen, "GdipDeletePen");
    Bind(createSolidFill, "GdipCreateSolidFill");
    Bind(deleteBrush, "GdipDeleteBrush");
    Bind(fillRectangle, "GdipFillRectangle");
    Bind(drawLine, "GdipDrawLine");
    Bind(fillPolygon, "GdipFillPolygonI");
    Bind(createPath, "GdipCreatePath");
    GdiplusStartupInput input;
    EXPECT_EQ(startup(&token, &input, nullptr), Ok);
  }
  ~Session() {
    shutdown(token);
    FreeLibrary(module);
  }
  template <class F>
  void Bind(F& f, const char* name) {
    f = reinterpret_cast<F>(GetProcAddress(module, name));
    EXPECT_NE(f, nullptr) << name;
  }
  // A graphics object on a DC with the given smoothing mode.
  GpGraphics* Graphics(HDC dc, SmoothingMode mode) {
    GpGraphics* g = nullptr;
    EXPECT_EQ(createFromHDC(dc, &g), Ok);
    EXPECT_EQ(setSmoothing(g, mode), Ok);
    return g;
  }
  GpBrush* Solid(ARGB color) {
    GpSolidFill* b = nullptr;
    EXPECT_EQ(createSolidFill(color, &b), Ok);
    return b;
  }

  HMODULE module = nullptr;
  ULONG_PTR token = 0;
  TGdiplusStartup startup = nullptr;
  TGdiplusShutdown shutdown = nullptr;
  TGdipCreateFromHDC createFromHDC = nullptr;
  TGdipDeleteGraphics deleteGraphics = nullptr;
  TGdipSetSmoothingMode setSmoothing = nullptr;
  TGdipCreatePen1 createPen = nullptr;
  TGdipDeletePen deletePen = nullptr;
  TGdipCreateSolidFill createSolidFill = nullptr;
  TGdipDeleteBrush deleteBrush = nullptr;
  TGdipFillRectangle fillRectangle = nullptr;
  TGdipDrawLine drawLine = nullptr;
  TGdipFillPolygonI fillPolygon = nullptr;
  TGdipCreatePath createPath = nullptr;
};

TEST(GdiPlusLibrary, IsABuiltInLibraryWithReferencesAndAModelSwitch) {
  RegisterGdiPlusLibrary();
  HMODULE a = LoadLibraryA("GdiPlus.dll");
  HMODULE b = LoadLibraryA("C:\\Windows\\System32\\gdiplus.dll");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(GetModuleHandle("gdiplus"), a);
  EXPECT_NE(GetProcAddress(a, "GdipDrawArc"), nullptr);
  // Calls nobody here makes are not offered.
  EXPECT_EQ(GetProcAddress(a, "GdipDrawPie"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_NE(GetModuleHandle("gdiplus.dll"), nullptr);
  EXPECT_TRUE(FreeLibrary(b));
  EXPECT_EQ(GetModuleHandle("gdiplus.dll"), nullptr);
  EXPECT_FALSE(FreeLibrary(a));
  EXPECT_EQ(GetProcAddress(a, "GdipDrawArc"), nullptr);

  SetBuiltinLibraryMissing("gdiplus.dll", true);
  EXPECT_EQ(LoadLibraryA("gdiplus.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  SetBuiltinLibraryMissing("gdiplus.dll", false);
  HMODULE c = LoadLibraryA("gdiplus.dll");
  EXPECT_EQ(c, a);
  FreeLibrary(c);
}

TEST(GdiPlusLibrary, CallsCheckTheSessionAndEveryObjectTheyAreGiven) {
  RegisterGdiPlusLibrary();
  HMODULE module = LoadLibraryA("gdiplus.dll");
  auto startup = reinterpret_cast<TGdiplusStartup>(GetProcAddress(module, "GdiplusStartup"));
  auto createPen = reinterpret_cast<TGdipCreatePen1>(GetProcAddress(module, "GdipCreatePen1"));
  GpPen* pen = nullptr;
  EXPECT_EQ(createPen(0xFF000000, 1, UnitPixel, &pen), GdiplusNotInitialized);
  ULONG_PTR token = 0;
  GdiplusStartupInput input;
  input.GdiplusVersion = 2;
  EXPECT_EQ(startup(&token, &input, nullptr), UnsupportedGdiplusVersion);
  input.GdiplusVersion = 1;
  input.SuppressBackgroundThread = TRUE;
  EXPECT_EQ(startup(&token, &input, nullptr), InvalidParameter);  // the hooks need somewhere to go
  FreeLibrary(module);

  Session s;
  Dib dib(8, 8, 24);
  GpGraphics* g = s.Graphics(dib.dc(), SmoothingModeAntiAlias);
  EXPECT_EQ(s.setSmoothing(g, SmoothingMode(9)), InvalidParameter);
  GpBrush* brush = s.Solid(0xFF000000);
  GpPoint two[2] = {{0, 0}, {4, 4}};
  EXPECT_EQ(s.fillPolygon(g, brush, two, 2, FillModeAlternate), InvalidParameter);
  EXPECT_EQ(s.fillPolygon(g, brush, nullptr, 3, FillModeAlternate), InvalidParameter);
  EXPECT_EQ(s.deleteBrush(brush), Ok);
  EXPECT_EQ(s.deleteBrush(brush), InvalidParameter);  // stale: refused, not freed twice
  EXPECT_EQ(s.fillRectangle(g, brush, 0, 0, 4, 4), InvalidParameter);
  EXPECT_EQ(s.createPen(0xFF000000, -1, UnitPixel, &pen), InvalidParameter);
  GpGraphics* none = nullptr;
  EXPECT_NE(s.createFromHDC(reinterpret_cast<HDC>(uintptr_t{0x1234}), &none), Ok);
  EXPECT_EQ(none, nullptr);
  // What callers leave behind goes with the last shutdown.
  EXPECT_EQ(s.createPen(0xFF000000, 2, UnitPixel, &pen), Ok);
  EXPECT_EQ(GdiPlusObjectCount(), 2);
  s.shutdown(s.token);
  EXPECT_EQ(GdiPlusObjectCount(), 0);
  EXPECT_EQ(s.startup(&s.token, &input, nullptr), InvalidParameter);
  input.SuppressBackgroundThread = FALSE;
  EXPECT_EQ(s.startup(&s.token, &input, nullptr), Ok);
}

TEST(GdiPlusDrawing, PixelCentresSitOnWholeNumbers) {
  Session s;
  Dib dib(32, 32, 32);
  dib.Fill32(0x00FFFFFF);
  GpGraphics* g = s.Graphics(dib.dc(), SmoothingModeHighSpeed);
  GpBrush* black = s.Solid(0xFF000000);
  // Aliased, a rectangle covers the pixels whose centres lie inside it.
  EXPECT_EQ(s.fillRectangle(g, black, 10, 10, 9, 9), Ok);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const bool inside = x >= 10 && x < 19 && y >= 10 && y < 19;
      ASSERT_EQ(dib.Pixel32(x, y), inside ? 0u : 0x00FFFFFFu) << x << "," << y;
    }
  // A one-pixel line along y = 25 fills row 25 exactly, anti-aliased or not.
  GpPen* pen = nullptr;
  ASSERT_EQ(s.createPen(0xFF000000, 1, UnitPixel, &pen), Ok);
  ASSERT_EQ(s.setSmoothing(g, SmoothingModeAntiAlias), Ok);
  EXPECT_EQ(s.drawLine(g, pen, 2, 25, 28, 25), Ok);
  for (int x = 3; x < 28; ++x) {
    EXPECT_EQ(dib.Pixel32(x, 24), 0x00FFFFFFu);
    EXPECT_EQ(dib.Pixel32(x, 25), 0u);
    EXPECT_EQ(dib.Pixel32(x, 26), 0x00FFFFFFu);
  }
  s.deleteGraphics(g);
}

// Every depth, through the DC's viewport origin and clip region: black only inside the clip.
TEST(GdiPlusDrawing, FiguresLandThroughOriginAndClipAtEveryDepth) {
  Session s;
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    Dib dib(24, 24, bits);
    PatBlt(dib.dc(), 0, 0, 24, 24, WHITENESS);
    HRGN clip = CreateRectRgn(6, 4, 18, 16);
    SelectClipRgn(dib.dc(), clip);
    DeleteObject(clip);
    SetViewportOrgEx(dib.dc(), 5, 3, nullptr);
    GpGraphics* g = s.Graphics(dib.dc(), SmoothingModeAntiAlias);
    GpBrush* black = s.Solid(0xFF000000);
    // Logical (0, 0)-(8, 8) lands on device (5, 3)-(13, 11) after the pixel-centre half.
    EXPECT_EQ(s.fillRectangle(g, black, -0.5f, -0.5f, 8, 8), Ok);
    s.deleteBrush(black);
    s.deleteGraphics(g);
    SetViewportOrgEx(dib.dc(), 0, 0, nullptr);
    SelectClipRgn(dib.dc(), nullptr);
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 24; ++x) {
        const bool painted = x >= 6 && x < 13 && y >= 4 && y < 11;
        ASSERT_EQ(GetPixel(dib.dc(), x, y), painted ? RGB(0, 0, 0) : RGB(255, 255, 255)) << x << "," << y;
      }
    if (bits == 32) { EXPECT_EQ(dib.Pixel32(8, 8) >> 24, 0u); }  // as every GDI drawing, alpha stays 0
  }
}

TEST(GdiPlusDrawing, TranslucentPaintBlendsToTheNearestColourOfTheTarget) {
  Session s;
  Dib grey(4, 4, 8);  // a 256-level grey table
  PatBlt(grey.dc(), 0, 0, 4, 4, WHITENESS);
  GpGraphics* g = s.Graphics(grey.dc(), SmoothingModeHighSpeed);
  GpBrush* half = s.Solid(0x80000000);
  EXPECT_EQ(s.fillRectangle(g, half, -0.5f, -0.5f, 4, 4), Ok);
  EXPECT_NEAR(grey.Index(1, 1), 127, 1);
  // A recording DC is not drawn through here.
  HDC recording = CreateEnhMetaFile(nullptr, nullptr, nullptr, nullptr);
  GpGraphics* none = nullptr;
  EXPECT_EQ(s.createFromHDC(recording, &none), NotImplemented);
  DeleteEnhMetaFile(CloseEnhMetaFile(recording));
}

}  // namespace
