// TIECanvas over both of its paths: GDI+ (anti-aliased and not) and the plain
// framework canvas. Pictures of every figure go to the build's test-output folder.
#include "imaging/core/ie_canvas.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_startup.h"
#include "platform/graphics/gdi_plus.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/exceptions.h"
#include "platform/win/resources.h"
#include "tests/support/test_support.h"

namespace {

// One GDI+ session for a test: the library state starts fresh and every start
// is paired with its stop.
class GdiPlusSession {
public:
  GdiPlusSession() {
    ResetGdiPlusState();
    StartGdiPlus();
  }
  ~GdiPlusSession() { StopGdiPlus(); }
};

std::string OutputPath(const std::string& name) {
  std::filesystem::path dir = std::filesystem::path(QV_BINARY_DIR) / "test-output" / "canvas";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

std::unique_ptr<TBitmap> WhiteBitmap(int w, int h) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(w, h);
  b->Canvas()->Brush()->SetColor(clWhite);
  b->Canvas()->FillRect(TRect{0, 0, w, h});
  return b;
}

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};

Rgb PixelAt(TBitmap& b, int x, int y) {
  const auto* p = static_cast<const uint8_t*>(b.ScanLine(y)) + x * 3;
  return Rgb{p[2], p[1], p[0]};
}

bool IsWhite(const Rgb& c) { return c == Rgb{255, 255, 255}; }

// Pixels that differ from white, row by row.
std::vector<bool> Coverage(TBitmap& b) {
  std::vector<bool> out;
  for (int y = 0; y < b.GetHeight(); ++y)
    for (int x = 0; x < b.GetWidth(); ++x) out.push_back(!IsWhite(PixelAt(b, x, y)));
  return out;
}

int Count(const std::vector<bool>& mask) { return static_cast<int>(std::count(mask.begin(), mask.end(), true)); }

// Every marked pixel of a lies within d pixels of a marked pixel of b.
bool WithinPixels(const std::vector<bool>& a, const std::vector<bool>& b, int w, int h, int d) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (!a[y * w + x]) continue;
      bool near = false;
      for (int dy = -d; dy <= d && !near; ++dy)
        for (int dx = -d; dx <= d && !near; ++dx) {
          int nx = x + dx, ny = y + dy;
          near = nx >= 0 && ny >= 0 && nx < w && ny < h && b[ny * w + nx];
        }
      if (!near) return false;
    }
  return true;
}

bool WithinOnePixel(const std::vector<bool>& a, const std::vector<bool>& b, int w, int h) {
  return WithinPixels(a, b, w, h, 1);
}

void SavePng(TBitmap& b, const std::string& path) {
  std::vector<uint8_t> rgb;
  for (int y = 0; y < b.GetHeight(); ++y)
    for (int x = 0; x < b.GetWidth(); ++x) {
      Rgb c = PixelAt(b, x, y);
      rgb.insert(rgb.end(), {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)});
    }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(b.GetWidth());
  image.height = static_cast<png_uint_32>(b.GetHeight());
  image.format = PNG_FORMAT_RGB;
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr));
}

// The three ways a figure can be drawn.
struct DrawPath {
  const char* name;
  bool gdiPlus;
  bool antialias;
};
const DrawPath kGdi{"gdi", false, false};
const DrawPath kAliased{"gdiplus_aliased", true, false};
const DrawPath kSmooth{"gdiplus_antialiased", true, true};

struct Figure {
  const char* name;
  std::function<void(TIECanvas&)> draw;
  bool straight;  // only horizontal and vertical edges: anti-aliasing adds no shades
};

const std::vector<Figure>& Figures() {
  static const std::vector<Figure> figures = {
      {"line_to", [](TIECanvas& c) { c.MoveTo(4, 6); c.LineTo(58, 40); c.LineTo(20, 58); }, false},
      {"draw_line", [](TIECanvas& c) { c.DrawLine(5, 55, 60, 8); }, false},
      {"fill_rect", [](TIECanvas& c) { c.FillRect(TRect{10, 12, 50, 44}); }, true},
      {"rectangle", [](TIECanvas& c) { c.Rectangle(8, 8, 56, 40); }, true},
      {"ellipse", [](TIECanvas& c) { c.Ellipse(6, 10, 58, 54); }, false},
      {"polygon", [](TIECanvas& c) { c.Polygon({{32, 4}, {58, 56}, {32, 40}, {6, 56}}); }, false},
      {"polyline", [](TIECanvas& c) { c.Polyline({{4, 60}, {20, 8}, {36, 60}, {58, 4}}); }, false},
      {"arc", [](TIECanvas& c) { c.Arc(6, 6, 58, 58, 58, 32, 32, 6); }, false},
      {"round_rect", [](TIECanvas& c) { c.RoundRect(6, 10, 58, 54, 20, 16); }, false},
  };
  return figures;
}

constexpr int kSize = 64;
const Rgb kPenColor{255, 0, 0};
const Rgb kWhite{255, 255, 255};
const Rgb kBrushColor{0, 0, 255};

std::unique_ptr<TBitmap> DrawFigure(const Figure& f, const DrawPath& path) {
  auto b = WhiteBitmap(kSize, kSize);
  TIECanvas canvas(b->Canvas(), path.gdiPlus, path.antialias);
  canvas.Pen()->SetColor(clRed);
  canvas.Brush()->SetColor(clBlue);
  f.draw(canvas);
  return b;
}

// A contact sheet of every figure in one path, for a person to look at.
void SaveSheet(const DrawPath& path) {
  const int n = static_cast<int>(Figures().size());
  auto sheet = WhiteBitmap(n * (kSize + 4), kSize);
  for (int i = 0; i < n; ++i) {
    auto one = DrawFigure(Figures()[i], path);
    BitBlt(sheet->Canvas()->Handle(), i * (kSize + 4), 0, kSize, kSize, one->Canvas()->Handle(), 0, 0, SRCCOPY);
  }
  SavePng(*sheet, OutputPath(std::string("figures_") + path.name + ".png"));
}

TEST(IECanvas, EveryFigureDrawsInBothPathsAndTheyAgreeWithinAPixel) {
  GdiPlusSession session;
  ASSERT_TRUE(GdiPlusAvailable());
  for (const Figure& f : Figures()) {
    SCOPED_TRACE(f.name);
    auto gdi = DrawFigure(f, kGdi);
    auto aliased = DrawFigure(f, kAliased);
    auto smooth = DrawFigure(f, kSmooth);
    std::vector<bool> g = Coverage(*gdi), a = Coverage(*aliased), s = Coverage(*smooth);
    EXPECT_GT(Count(g), 20);
    EXPECT_GT(Count(a), 20);
    // The same figure in the same place: no pixel of one path lies more than a
    // pixel away from the other's.
    EXPECT_TRUE(WithinOnePixel(a, g, kSize, kSize));
    EXPECT_TRUE(WithinOnePixel(g, a, kSize, kSize));
    // The faint fringe reaches a little further, and a sharp join's mitre tip
    // (GDI+ joins lines, GDI's one-pixel pens do not) a pixel more.
    EXPECT_TRUE(WithinPixels(s, g, kSize, kSize, 2));
    // Aliased GDI+ paints only the pen and brush colours; anti-aliased GDI+ shades
    // the slanted and curved edges.
    int alShades = 0, smShades = 0;
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) {
        Rgb ca = PixelAt(*aliased, x, y), cs = PixelAt(*smooth, x, y);
        alShades += !IsWhite(ca) && !(ca == kPenColor) && !(ca == kBrushColor);
        smShades += !IsWhite(cs) && !(cs == kPenColor) && !(cs == kBrushColor);
      }
    EXPECT_EQ(alShades, 0);
    if (f.straight)
      EXPECT_EQ(smShades, 0);
    else
      EXPECT_GT(smShades, 10);
  }
  SaveSheet(kGdi);
  SaveSheet(kAliased);
  SaveSheet(kSmooth);
}

TEST(IECanvas, FillRectFillsTheSamePixelsInEveryPath) {
  GdiPlusSession session;
  for (const DrawPath& path : {kGdi, kAliased, kSmooth}) {
    SCOPED_TRACE(path.name);
    auto b = WhiteBitmap(32, 32);
    TIECanvas canvas(b->Canvas(), path.gdiPlus, path.antialias);
    canvas.Brush()->SetColor(clBlue);
    canvas.FillRect(TRect{10, 10, 20, 20});
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) {
        const bool inside = x >= 10 && x < 20 && y >= 10 && y < 20;
        ASSERT_EQ(PixelAt(*b, x, y), (inside ? kBrushColor : Rgb{255, 255, 255})) << x << "," << y;
      }
  }
}

// Columns and rows that the figure touches.
TRect InkBounds(TBitmap& b) {
  TRect r{b.GetWidth(), b.GetHeight(), -1, -1};
  for (int y = 0; y < b.GetHeight(); ++y)
    for (int x = 0; x < b.GetWidth(); ++x)
      if (!IsWhite(PixelAt(b, x, y))) {
        r.left = std::min<int>(r.left, x);
        r.top = std::min<int>(r.top, y);
        r.right = std::max<int>(r.right, x);
        r.bottom = std::max<int>(r.bottom, y);
      }
  return r;
}

TEST(IECanvas, RoundRectWithCornerSize20IsSymmetricAndEndsWhereGdiEnds) {
  GdiPlusSession session;
  for (const DrawPath& path : {kGdi, kAliased, kSmooth}) {
    SCOPED_TRACE(path.name);
    auto b = WhiteBitmap(120, 60);
    TIECanvas canvas(b->Canvas(), path.gdiPlus, path.antialias);
    canvas.Pen()->SetColor(clRed);
    canvas.Brush()->SetStyle(bsClear);
    canvas.RoundRect(10, 10, 110, 50, 20, 20);
    TRect ink = InkBounds(*b);
    EXPECT_EQ(ink.left, 10);
    EXPECT_EQ(ink.top, 10);
    // The last column and row inside the box, as GDI draws it.
    EXPECT_EQ(ink.right, 109);
    EXPECT_EQ(ink.bottom, 49);
    // Left and right corners mirror each other about the box's middle (shades
    // within a little, as each corner's curve is flattened on its own).
    for (int y = 10; y < 50; ++y)
      for (int x = 10; x < 60; ++x) {
        Rgb l = PixelAt(*b, x, y), r = PixelAt(*b, 119 - x, y);
        ASSERT_LE(std::abs(l.g - r.g) + std::abs(l.b - r.b), 16) << x << "," << y;
      }
  }
  // Also a corner as large as the box and no corner at all.
  for (int corner : {0, 200}) {
    auto gdi = WhiteBitmap(64, 64), plus = WhiteBitmap(64, 64);
    for (auto [bmp, gp] : {std::pair{gdi.get(), false}, std::pair{plus.get(), true}}) {
      TIECanvas canvas(bmp->Canvas(), gp, false);
      canvas.RoundRect(8, 8, 56, 48, corner, corner);
    }
    EXPECT_TRUE(WithinOnePixel(Coverage(*plus), Coverage(*gdi), 64, 64)) << corner;
    EXPECT_EQ(InkBounds(*plus).right, 55) << corner;
  }
}

TEST(IECanvas, ClearPenDrawsNothingUnderGdiPlusUntilItIsSolidAgain) {
  GdiPlusSession session;
  auto b = WhiteBitmap(32, 32);
  TIECanvas canvas(b->Canvas(), true, true);
  canvas.Pen()->SetStyle(psClear);
  EXPECT_EQ(canvas.Pen()->GetARGB() >> 24, 0u);
  canvas.DrawLine(2, 2, 30, 20);
  EXPECT_EQ(Count(Coverage(*b)), 0);
  canvas.Pen()->SetStyle(psSolid);
  canvas.DrawLine(2, 2, 30, 20);
  EXPECT_GT(Count(Coverage(*b)), 20);
}

TEST(IECanvas, TransparencyBlendsPenAndBrushOverWhatIsThere) {
  GdiPlusSession session;
  auto b = WhiteBitmap(32, 32);
  TIECanvas canvas(b->Canvas(), true, false);
  canvas.Brush()->SetColor(clBlue);
  canvas.Brush()->SetTransparency(128);
  canvas.FillRect(TRect{0, 0, 16, 32});
  Rgb half = PixelAt(*b, 5, 5);
  EXPECT_NEAR(half.r, 127, 1);
  EXPECT_NEAR(half.b, 255, 0);
  canvas.Pen()->SetColor(clBlack);
  canvas.Pen()->SetTransparency(64);
  canvas.Pen()->SetWidth(3);
  canvas.DrawLine(20, 0, 20, 31);
  Rgb quarter = PixelAt(*b, 20, 10);
  EXPECT_NEAR(quarter.g, 191, 1);
  // The framework pen follows the width, truncated.
  EXPECT_EQ(b->Canvas()->Pen()->Width(), 3);
}

TEST(IECanvas, HatchedBrushPaintsGdisHatchLinesLeavingTheBackground) {
  GdiPlusSession session;
  for (TBrushStyle style : {bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross}) {
    SCOPED_TRACE(int(style));
    auto gdi = WhiteBitmap(32, 32), plus = WhiteBitmap(32, 32);
    for (auto [bmp, gp] : {std::pair{gdi.get(), false}, std::pair{plus.get(), true}}) {
      TIECanvas canvas(bmp->Canvas(), gp, true);
      SetBkMode(canvas.GetHandle(), TRANSPARENT);
      canvas.Brush()->SetColor(clGreen);
      canvas.Brush()->SetStyle(style);
      canvas.FillRect(TRect{0, 0, 32, 32});
    }
    EXPECT_EQ(Coverage(*plus), Coverage(*gdi));
    EXPECT_GT(Count(Coverage(*plus)), 30);
  }
}

TEST(IECanvas, ArcRunsCounterClockwiseFromStartToEndInBothPaths) {
  GdiPlusSession session;
  for (const DrawPath& path : {kGdi, kAliased}) {
    SCOPED_TRACE(path.name);
    auto b = WhiteBitmap(64, 64);
    TIECanvas canvas(b->Canvas(), path.gdiPlus, path.antialias);
    // From the right (3 o'clock) to the top: the upper right quarter only.
    canvas.Arc(4, 4, 60, 60, 60, 32, 32, 4);
    int upperRight = 0, elsewhere = 0;
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x)
        if (!IsWhite(PixelAt(*b, x, y))) (x >= 30 && y <= 34 ? upperRight : elsewhere)++;
    EXPECT_GT(upperRight, 30);
    EXPECT_EQ(elsewhere, 0);
  }
}

TEST(IECanvas, WithoutGdiPlusAskedForTheCanvasDrawsThroughGdiWhilePenAndBrushKeepTheirs) {
  GdiPlusSession session;
  auto gdi = WhiteBitmap(kSize, kSize);
  {
    TIECanvas canvas(gdi->Canvas(), false, true);
    EXPECT_FALSE(canvas.UsesGdiPlus());
    EXPECT_NE(canvas.Pen()->GdiPlusHandle(), nullptr);
    EXPECT_NE(canvas.Brush()->GdiPlusHandle(), nullptr);
    canvas.Ellipse(6, 10, 58, 54);
  }
  auto reference = WhiteBitmap(kSize, kSize);
  reference->Canvas()->Ellipse(6, 10, 58, 54);
  EXPECT_EQ(Coverage(*gdi), Coverage(*reference));
}

TEST(IECanvas, MissingGdiPlusLeavesEveryCanvasOnGdiAndTheCountPaired) {
  SetBuiltinLibraryMissing("gdiplus.dll", true);
  {
    GdiPlusSession session;
    EXPECT_FALSE(GdiPlusLoaded());
    EXPECT_EQ(GdiPlusStartCount(), 1);
    auto b = WhiteBitmap(kSize, kSize);
    TIECanvas canvas(b->Canvas(), true, true);
    EXPECT_FALSE(canvas.UsesGdiPlus());
    EXPECT_EQ(canvas.Pen()->GdiPlusHandle(), nullptr);
    canvas.Ellipse(6, 10, 58, 54);
    auto reference = WhiteBitmap(kSize, kSize);
    reference->Canvas()->Ellipse(6, 10, 58, 54);
    EXPECT_EQ(Coverage(*b), Coverage(*reference));
  }
  EXPECT_EQ(GdiPlusStartCount(), 0);
  SetBuiltinLibraryMissing("gdiplus.dll", false);
}

TEST(IECanvas, StartsAndStopsAreCountedAndTheLastStopUnloads) {
  ResetGdiPlusState();
  StartGdiPlus();
  StartGdiPlus();
  EXPECT_TRUE(GdiPlusLoaded());
  EXPECT_NE(GetModuleHandle("gdiplus.dll"), nullptr);
  StopGdiPlus();
  EXPECT_TRUE(GdiPlusLoaded());
  StopGdiPlus();
  EXPECT_FALSE(GdiPlusLoaded());
  EXPECT_EQ(GetModuleHandle("gdiplus.dll"), nullptr);
  EXPECT_EQ(Gdiplus::GdiPlusObjectCount(), 0);
  // A stop too many leaves the count at 0 and the next start loads again.
  StopGdiPlus();
  EXPECT_EQ(GdiPlusStartCount(), 0);
  StartGdiPlus();
  EXPECT_TRUE(GdiPlusAvailable());
  StopGdiPlus();
  // With the switch off nothing is loaded, but the count still pairs.
  IEGdiPlusEnabled = false;
  StartGdiPlus();
  EXPECT_FALSE(GdiPlusLoaded());
  EXPECT_EQ(GdiPlusStartCount(), 1);
  StopGdiPlus();
  ResetGdiPlusState();
  EXPECT_TRUE(IEGdiPlusEnabled);
}

TEST(IECanvas, AFailedGdiPlusStartupUnloadsWithoutUnbalancingTheCount) {
  ResetGdiPlusState();
  StartGdiPlus();  // a user from before, whose session stays
  StopGdiPlus();
  Gdiplus::SetGdiPlusStartupFailure(Gdiplus::GenericError);
  StartGdiPlus();
  EXPECT_FALSE(GdiPlusLoaded());
  EXPECT_EQ(GdiPlusStartCount(), 1);
  Gdiplus::SetGdiPlusStartupFailure(Gdiplus::Ok);
  StartGdiPlus();  // a second user finds it working
  EXPECT_TRUE(GdiPlusAvailable());
  EXPECT_EQ(GdiPlusStartCount(), 2);
  StopGdiPlus();
  EXPECT_TRUE(GdiPlusLoaded());  // the second user still holds it
  StopGdiPlus();
  EXPECT_FALSE(GdiPlusLoaded());
  EXPECT_EQ(GdiPlusStartCount(), 0);
}

TEST(IECanvas, RefusedDeviceContextRaisesAndLeaksNothing) {
  GdiPlusSession session;
  TMetafile metafile;
  TMetafileCanvas recording(&metafile, nullptr);
  const int before = Gdiplus::GdiPlusObjectCount();
  try {
    TIECanvas canvas(&recording, true, true);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot create TIECanvas. GdipCreateFromHDC failed.");
  }
  EXPECT_EQ(Gdiplus::GdiPlusObjectCount(), before);
  // Through GDI the same canvas draws.
  TIECanvas plain(&recording, false, true);
  plain.Rectangle(0, 0, 10, 10);
}

TEST(IECanvas, PenAndBrushMirrorTheFrameworkObjects) {
  GdiPlusSession session;
  auto b = WhiteBitmap(8, 8);
  TCanvas* c = b->Canvas();
  c->Pen()->SetColor(clGreen);
  c->Pen()->SetWidth(4);
  c->Brush()->SetStyle(bsCross);
  TIECanvas canvas(c, true, true);
  EXPECT_EQ(canvas.Pen()->Color(), clGreen);
  EXPECT_EQ(canvas.Pen()->Width(), 4.0f);
  EXPECT_EQ(canvas.Pen()->GetARGB(), 0xFF008000u);
  EXPECT_EQ(canvas.Brush()->Style(), bsCross);
  canvas.Pen()->SetWidth(2.75f);
  EXPECT_EQ(c->Pen()->Width(), 2);
  canvas.Pen()->SetStyle(psDash);
  EXPECT_EQ(c->Pen()->Style(), psDash);
  canvas.Brush()->SetColor(clRed);
  canvas.Brush()->SetTransparency(10);
  EXPECT_EQ(c->Brush()->Color(), clRed);
  EXPECT_EQ(canvas.Brush()->GetARGB(), 0x0AFF0000u);
  canvas.Brush()->SetStyle(bsClear);
  EXPECT_EQ(canvas.Brush()->GetARGB() >> 24, 0u);
  EXPECT_EQ(canvas.GetFont(), c->Font());
  EXPECT_EQ(canvas.GetHandle(), c->Handle());
  HPEN pen = CreatePen(PS_DOT, 1, RGB(1, 2, 3));
  canvas.Pen()->SetHandle(pen);
  EXPECT_EQ(c->Pen()->Color(), TColor(RGB(1, 2, 3)));
  EXPECT_EQ(c->Pen()->Style(), psDot);
  DeleteObject(pen);
}

TEST(IECanvas, TextRectExClipsTheTextToTheRectangle) {
  GdiPlusSession session;
  auto b = WhiteBitmap(80, 30);
  TIECanvas canvas(b->Canvas(), true, true);
  canvas.GetFont()->SetHeight(-16);
  canvas.TextRectEx(TRect{0, 0, 20, 30}, 2, 4, "WWWWWWWW");
  TRect ink = InkBounds(*b);
  EXPECT_GE(ink.left, 2);
  EXPECT_LT(ink.right, 20);
  EXPECT_GT(canvas.TextWidth("WWWWWWWW"), 40);
}

}  // namespace
