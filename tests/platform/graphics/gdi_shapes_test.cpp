// Lines, shapes, fills and the DC state they use (origins, clipping, saved states).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "gdi_test_helpers.h"
#include "platform/graphics/graphics_types.h"

using gditest::Argb;
using gditest::Dib;

namespace {

constexpr uint32_t kBlank = 0xFF808080;  // opaque grey: every drawing must leave alpha 0 where it paints

struct DrawCase {
  const char* name;
  std::function<void(HDC)> draw;
};
// How the case reads in the test list and in a failure.
void PrintTo(const DrawCase& c, std::ostream* os) { *os << c.name; }

class GdiDrawAlpha : public ::testing::TestWithParam<DrawCase> {};

// Lines, fills and text leave 0 in the alpha byte of the 32-bit pixels they
// touch, and leave the rest alone.
TEST_P(GdiDrawAlpha, PaintedPixelsGetAlphaZero) {
  Dib d(24, 24, 32);
  d.Fill32(kBlank);
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
  HBRUSH brush = CreateSolidBrush(RGB(0, 0, 255));
  HGDIOBJ oldPen = SelectObject(d.dc(), pen), oldBrush = SelectObject(d.dc(), brush);
  GetParam().draw(d.dc());
  int painted = 0, kept = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) {
      uint32_t v = d.Pixel32(x, y);
      if (v == kBlank) {
        ++kept;
        continue;
      }
      ++painted;
      EXPECT_EQ(v >> 24, 0u) << GetParam().name << " at " << x << "," << y;
    }
  EXPECT_GT(painted, 0) << GetParam().name;
  EXPECT_GT(kept, 0) << GetParam().name;
  SelectObject(d.dc(), oldPen);
  SelectObject(d.dc(), oldBrush);
  DeleteObject(pen);
  DeleteObject(brush);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, GdiDrawAlpha,
    ::testing::Values(
        DrawCase{"LineTo", [](HDC dc) { MoveToEx(dc, 2, 2, nullptr); LineTo(dc, 20, 15); }},
        DrawCase{"Rectangle", [](HDC dc) { Rectangle(dc, 2, 2, 12, 12); }},
        DrawCase{"Ellipse", [](HDC dc) { Ellipse(dc, 2, 2, 20, 14); }},
        DrawCase{"RoundRect", [](HDC dc) { RoundRect(dc, 2, 2, 20, 20, 6, 6); }},
        DrawCase{"Polygon", [](HDC dc) { POINT p[3] = {{2, 2}, {20, 4}, {6, 18}}; Polygon(dc, p, 3); }},
        DrawCase{"Polyline", [](HDC dc) { POINT p[3] = {{2, 2}, {20, 4}, {6, 18}}; Polyline(dc, p, 3); }},
        DrawCase{"Arc", [](HDC dc) { Arc(dc, 2, 2, 20, 20, 20, 11, 2, 11); }},
        DrawCase{"Pie", [](HDC dc) { Pie(dc, 2, 2, 20, 20, 20, 11, 11, 2); }},
        DrawCase{"FillRect", [](HDC dc) { RECT r{3, 3, 9, 9}; FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))); }},
        DrawCase{"FrameRect", [](HDC dc) { RECT r{3, 3, 9, 9}; FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))); }},
        DrawCase{"PatBlt", [](HDC dc) { PatBlt(dc, 1, 1, 5, 5, PATCOPY); }},
        DrawCase{"SetPixel", [](HDC dc) { SetPixel(dc, 5, 5, RGB(1, 2, 3)); }},
        DrawCase{"WidePen", [](HDC dc) {
          HPEN wide = CreatePen(PS_SOLID, 4, RGB(0, 255, 0));
          HGDIOBJ old = SelectObject(dc, wide);
          MoveToEx(dc, 3, 3, nullptr);
          LineTo(dc, 18, 10);
          SelectObject(dc, old);
          DeleteObject(wide);
        }},
        DrawCase{"TextOut", [](HDC dc) { TextOut(dc, 1, 1, "Hi", 2); }},
        DrawCase{"DrawEdge", [](HDC dc) { RECT r{2, 2, 14, 14}; DrawEdge(dc, &r, EDGE_RAISED, BF_RECT | BF_MIDDLE); }},
        DrawCase{"GradientFill", [](HDC dc) {
          TRIVERTEX v[2] = {{2, 2, 0, 0, 0, 0}, {10, 10, 0xFF00, 0, 0, 0}};
          GRADIENT_RECT r{0, 1};
          GradientFill(dc, v, 2, &r, 1, GRADIENT_FILL_RECT_V);
        }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(GdiShapes, RectangleOutlineAndInterior) {
  Dib d(8, 8, 32);
  d.Fill32(0x00FFFFFF);
  HBRUSH brush = CreateSolidBrush(RGB(0, 0, 255));
  HGDIOBJ old = SelectObject(d.dc(), brush);
  ASSERT_TRUE(Rectangle(d.dc(), 1, 1, 6, 5));
  // The black pen's frame runs over the box from (1,1) to (5,4); the brush fills inside.
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      bool inBox = x >= 1 && x <= 5 && y >= 1 && y <= 4;
      bool edge = inBox && (x == 1 || x == 5 || y == 1 || y == 4);
      uint32_t want = !inBox ? 0x00FFFFFFu : edge ? 0u : 0x000000FFu;
      EXPECT_EQ(d.Pixel32(x, y), want) << x << "," << y;
    }
  // Without a pen the fill is one pixel smaller to the right and bottom.
  d.Fill32(0x00FFFFFF);
  SelectObject(d.dc(), GetStockObject(NULL_PEN));
  ASSERT_TRUE(Rectangle(d.dc(), 1, 1, 6, 5));
  EXPECT_EQ(d.Pixel32(1, 1), 0x000000FFu);
  EXPECT_EQ(d.Pixel32(4, 3), 0x000000FFu);
  EXPECT_EQ(d.Pixel32(5, 3), 0x00FFFFFFu);
  EXPECT_EQ(d.Pixel32(4, 4), 0x00FFFFFFu);
  SelectObject(d.dc(), old);
  DeleteObject(brush);
}

TEST(GdiShapes, LineToLeavesOutItsLastPointAndMovesThePosition) {
  Dib d(8, 3, 32);
  d.Fill32(0x00FFFFFF);
  MoveToEx(d.dc(), 1, 1, nullptr);
  ASSERT_TRUE(LineTo(d.dc(), 6, 1));
  for (int x = 0; x < 8; ++x) EXPECT_EQ(d.Pixel32(x, 1), x >= 1 && x < 6 ? 0u : 0x00FFFFFFu) << x;
  POINT pos;
  GetCurrentPositionEx(d.dc(), &pos);
  EXPECT_EQ(pos.x, 6);
  // A three-pixel pen covers three rows around the line.
  HPEN wide = CreatePen(PS_SOLID, 3, RGB(255, 0, 0));
  HGDIOBJ old = SelectObject(d.dc(), wide);
  d.Fill32(0x00FFFFFF);
  MoveToEx(d.dc(), 2, 1, nullptr);
  LineTo(d.dc(), 5, 1);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(d.Pixel32(3, y), 0x00FF0000u) << y;
  SelectObject(d.dc(), old);
  DeleteObject(wide);
}

TEST(GdiShapes, XorPenAndFocusRectUndoThemselves) {
  Dib d(10, 10, 32);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) d.SetPixel32(x, y, Argb(0x40, x * 20, y * 20, 77));
  std::vector<uint32_t> before;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) before.push_back(d.Pixel32(x, y));
  RECT r{1, 1, 9, 8};
  DrawFocusRect(d.dc(), &r);
  EXPECT_NE(d.Pixel32(1, 1), before[11]);
  DrawFocusRect(d.dc(), &r);
  SetROP2(d.dc(), R2_NOT);
  MoveToEx(d.dc(), 0, 0, nullptr);
  LineTo(d.dc(), 9, 9);
  EXPECT_EQ(d.Pixel32(3, 3) & 0xFFFFFF, ~before[33] & 0xFFFFFF);
  MoveToEx(d.dc(), 0, 0, nullptr);
  LineTo(d.dc(), 9, 9);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(d.Pixel32(i % 10, i / 10), before[static_cast<size_t>(i)]) << i;
}

TEST(GdiShapes, EllipseStaysInItsBoxAndIsSymmetric) {
  Dib d(16, 12, 32);
  d.Fill32(0x00FFFFFF);
  SelectObject(d.dc(), GetStockObject(BLACK_BRUSH));
  ASSERT_TRUE(Ellipse(d.dc(), 2, 1, 14, 11));
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) {
      bool ink = d.Pixel32(x, y) != 0x00FFFFFFu;
      if (x < 2 || x >= 14 || y < 1 || y >= 11) {
        EXPECT_FALSE(ink) << x << "," << y;
      }
      EXPECT_EQ(ink, d.Pixel32(15 - x, y) != 0x00FFFFFFu) << x << "," << y;
      EXPECT_EQ(ink, d.Pixel32(x, 11 - y) != 0x00FFFFFFu) << x << "," << y;
    }
  EXPECT_EQ(d.Pixel32(8, 6), 0u);       // centre
  EXPECT_EQ(d.Pixel32(2, 1), 0x00FFFFFFu);  // corner of the box
}

TEST(GdiShapes, PolygonFillModes) {
  // Two overlapping squares drawn as one path in the same direction: the
  // overlap is outside with ALTERNATE and inside with WINDING.
  POINT pts[8] = {{0, 0}, {6, 0}, {6, 6}, {0, 6}, {3, 3}, {9, 3}, {9, 9}, {3, 9}};
  INT counts[2] = {4, 4};
  Dib d(10, 10, 32);
  SelectObject(d.dc(), GetStockObject(NULL_PEN));
  SelectObject(d.dc(), GetStockObject(BLACK_BRUSH));
  d.Fill32(0x00FFFFFF);
  SetPolyFillMode(d.dc(), ALTERNATE);
  PolyPolygon(d.dc(), pts, counts, 2);
  EXPECT_EQ(d.Pixel32(4, 4), 0x00FFFFFFu);
  EXPECT_EQ(d.Pixel32(1, 1), 0u);
  d.Fill32(0x00FFFFFF);
  SetPolyFillMode(d.dc(), WINDING);
  PolyPolygon(d.dc(), pts, counts, 2);
  EXPECT_EQ(d.Pixel32(4, 4), 0u);
  EXPECT_EQ(d.Pixel32(8, 8), 0u);
  EXPECT_EQ(d.Pixel32(9, 9), 0x00FFFFFFu);  // right and bottom edges stay outside
}

TEST(GdiShapes, OriginsClipsAndSavedStates) {
  Dib d(10, 10, 32);
  d.Fill32(0x00FFFFFF);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  int saved = SaveDC(d.dc());
  ASSERT_GT(saved, 0);
  SetViewportOrgEx(d.dc(), 2, 3, nullptr);
  IntersectClipRect(d.dc(), 0, 0, 4, 4);  // logical: device (2,3)-(6,7)
  RECT box;
  EXPECT_EQ(GetClipBox(d.dc(), &box), SIMPLEREGION);
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.right, 4);
  RECT all{-5, -5, 20, 20};
  FillRect(d.dc(), &all, red);
  SetTextColor(d.dc(), RGB(1, 1, 1));
  ASSERT_TRUE(RestoreDC(d.dc(), -1));
  EXPECT_EQ(GetTextColor(d.dc()), RGB(0, 0, 0));
  EXPECT_EQ(d.Pixel32(2, 3), 0x00FF0000u);
  EXPECT_EQ(d.Pixel32(5, 6), 0x00FF0000u);
  EXPECT_EQ(d.Pixel32(6, 6), 0x00FFFFFFu);
  EXPECT_EQ(d.Pixel32(1, 3), 0x00FFFFFFu);
  // Restored: no origin, no clip.
  RECT one{0, 0, 1, 1};
  FillRect(d.dc(), &one, red);
  EXPECT_EQ(d.Pixel32(0, 0), 0x00FF0000u);
  // A region as clip is in device coordinates.
  HRGN ellipse = CreateEllipticRgn(0, 0, 10, 10);
  SelectClipRgn(d.dc(), ellipse);
  d.Fill32(0x00FFFFFF);
  FillRect(d.dc(), &all, red);
  EXPECT_EQ(d.Pixel32(0, 0), 0x00FFFFFFu);
  EXPECT_EQ(d.Pixel32(5, 5), 0x00FF0000u);
  SelectClipRgn(d.dc(), nullptr);
  DeleteObject(ellipse);
  DeleteObject(red);
}

TEST(GdiShapes, RaisedEdgeUsesLightThenDarkColours) {
  Dib d(6, 6, 32);
  d.Fill32(0x00000001);
  RECT r{0, 0, 6, 6};
  ASSERT_TRUE(DrawEdge(d.dc(), &r, EDGE_RAISED, BF_RECT | BF_ADJUST));
  EXPECT_EQ(r.left, 2);
  EXPECT_EQ(r.right, 4);
  // Top-left of the inner edge is the highlight (white), bottom-right of the outer the dark shadow.
  EXPECT_EQ(d.Pixel32(1, 1), 0x00FFFFFFu);
  uint32_t outerBottom = d.Pixel32(3, 5), innerBottom = d.Pixel32(3, 4);
  EXPECT_LT(outerBottom & 0xFF, innerBottom & 0xFF);
  EXPECT_EQ(d.Pixel32(3, 3), 0x00000001u);  // no BF_MIDDLE: the inside stays
}

TEST(GdiShapes, PushButtonFrameRaisedOrPushed) {
  // Pixel values of system colours: 0x00RRGGBB as a 32-bit DIB holds them.
  auto px = [](int index) {
    const DWORD c = GetSysColor(index);
    return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
  };
  struct TCase {
    UINT state;
    uint32_t outerTopLeft, outerBottomRight, innerTopLeft, innerBottomRight;
  } cases[] = {
      {DFCS_BUTTONPUSH, px(COLOR_3DHIGHLIGHT), px(COLOR_3DDKSHADOW), px(COLOR_3DLIGHT), px(COLOR_3DSHADOW)},
      {DFCS_BUTTONPUSH | DFCS_PUSHED, px(COLOR_3DDKSHADOW), px(COLOR_3DDKSHADOW), px(COLOR_3DSHADOW),
       px(COLOR_3DSHADOW)},
  };
  for (const TCase& c : cases) {
    Dib d(8, 8, 32);
    d.Fill32(0x00000001);
    RECT r{0, 0, 8, 8};
    ASSERT_TRUE(DrawFrameControl(d.dc(), &r, DFC_BUTTON, c.state | DFCS_ADJUSTRECT));
    EXPECT_EQ(r.left, 2);
    EXPECT_EQ(r.bottom, 6);
    EXPECT_EQ(d.Pixel32(0, 3), c.outerTopLeft);
    EXPECT_EQ(d.Pixel32(7, 3), c.outerBottomRight);
    EXPECT_EQ(d.Pixel32(3, 1), c.innerTopLeft);
    EXPECT_EQ(d.Pixel32(3, 6), c.innerBottomRight);
    EXPECT_EQ(d.Pixel32(4, 4), px(COLOR_3DFACE));
  }
  // Without DFCS_ADJUSTRECT the rectangle stays; other kinds are not drawn.
  Dib d(8, 8, 32);
  RECT r{0, 0, 8, 8};
  ASSERT_TRUE(DrawFrameControl(d.dc(), &r, DFC_BUTTON, DFCS_BUTTONPUSH));
  EXPECT_EQ(r.left, 0);
  EXPECT_FALSE(DrawFrameControl(d.dc(), &r, DFC_BUTTON, DFCS_BUTTONCHECK));
  EXPECT_FALSE(DrawFrameControl(d.dc(), &r, DFC_SCROLL, 0));
}

TEST(GdiObjects, SelectionRulesOfBitmapsAndDeletedObjects) {
  HDC a = CreateCompatibleDC(nullptr), b = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateBitmap(4, 4, 1, 32, nullptr);
  HGDIOBJ oldA = SelectObject(a, bmp);
  EXPECT_NE(oldA, nullptr);
  EXPECT_EQ(SelectObject(b, bmp), nullptr);  // one DC at a time
  EXPECT_FALSE(DeleteObject(bmp));           // still selected
  HPEN pen = CreatePen(PS_SOLID, 1, 0);
  HGDIOBJ oldPen = SelectObject(a, pen);
  EXPECT_TRUE(DeleteObject(pen));  // goes when the DC lets go
  EXPECT_EQ(GetObjectType(pen), 0u);
  EXPECT_EQ(SelectObject(a, oldPen), pen);
  SelectObject(a, oldA);
  EXPECT_EQ(GetObjectType(bmp), OBJ_BITMAP);
  EXPECT_TRUE(DeleteObject(bmp));
  EXPECT_EQ(GetObjectType(bmp), 0u);
  EXPECT_EQ(GetObjectType(a), OBJ_MEMDC);
  EXPECT_TRUE(DeleteDC(a));
  EXPECT_TRUE(DeleteDC(b));
  EXPECT_FALSE(DeleteDC(a));
  EXPECT_EQ(SelectObject(nullptr, GetStockObject(BLACK_PEN)), nullptr);
  EXPECT_TRUE(DeleteObject(GetStockObject(WHITE_BRUSH)));  // stock objects survive
  EXPECT_EQ(GetObjectType(GetStockObject(WHITE_BRUSH)), OBJ_BRUSH);
}

// Coordinates far outside the surface are cut, not walked.
TEST(GdiShapes, HugeCoordinatesStayBounded) {
  Dib d(16, 16, 32);
  d.Fill32(0x00FFFFFF);
  HDC dc = d.dc();
  SelectObject(dc, GetStockObject(BLACK_BRUSH));
  const int big = 2000000000;
  EXPECT_TRUE(Ellipse(dc, -big, -big, big, big));
  EXPECT_TRUE(Arc(dc, -big, -big, big, big, big, 0, -big, 0));
  EXPECT_TRUE(Pie(dc, -big, -big, big, big, big, 0, 0, -big));
  EXPECT_TRUE(RoundRect(dc, -big, -big, big, big, big, big));
  EXPECT_TRUE(Rectangle(dc, -big, -big, big, big));
  MoveToEx(dc, -big, -big, nullptr);
  EXPECT_TRUE(LineTo(dc, big, big));
  POINT pts[3] = {{-big, 0}, {big, 5}, {0, big}};
  EXPECT_TRUE(Polygon(dc, pts, 3));
  SetViewportOrgEx(dc, big, big, nullptr);
  RECT r{big, big, big, big};
  EXPECT_TRUE(FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))));
  EXPECT_TRUE(BitBlt(dc, big, big, 1000000, 1000000, dc, -big, -big, SRCCOPY));
  EXPECT_FALSE(BitBlt(dc, 0, 0, big, big, dc, 0, 0, SRCCOPY));
  EXPECT_EQ(d.Pixel32(8, 8), 0u);
}

TEST(GdiShapes, PatternBrushesTileFromTheBrushOrigin) {
  // A monochrome device bitmap as pattern: 0 bits take the text colour, 1 bits the background.
  BYTE bits[4] = {0x80, 0, 0x40, 0};  // 2x2: (0,0) and (1,1) set
  HBITMAP pattern = CreateBitmap(2, 2, 1, 1, bits);
  HBRUSH brush = CreatePatternBrush(pattern);
  Dib d(4, 4, 32);
  SetTextColor(d.dc(), RGB(255, 0, 0));
  SetBkColor(d.dc(), RGB(0, 0, 255));
  RECT r{0, 0, 4, 4};
  FillRect(d.dc(), &r, brush);
  EXPECT_EQ(d.Pixel32(0, 0), 0x000000FFu);
  EXPECT_EQ(d.Pixel32(1, 0), 0x00FF0000u);
  EXPECT_EQ(d.Pixel32(3, 3), 0x000000FFu);
  SetBrushOrgEx(d.dc(), 1, 0, nullptr);
  FillRect(d.dc(), &r, brush);
  EXPECT_EQ(d.Pixel32(0, 0), 0x00FF0000u);
  EXPECT_EQ(d.Pixel32(1, 0), 0x000000FFu);
  DeleteObject(brush);
  DeleteObject(pattern);
  // A large colour pattern is read as it is.
  Dib big(300, 300, 24);
  SetPixel(big.dc(), 299, 299, RGB(9, 8, 7));
  HBRUSH large = CreatePatternBrush(big.bitmap());
  SetBrushOrgEx(d.dc(), 0, 0, nullptr);
  SelectObject(d.dc(), large);
  PatBlt(d.dc(), 0, 0, 4, 4, PATCOPY);
  EXPECT_EQ(d.Pixel32(0, 0), 0u);
  SetBrushOrgEx(d.dc(), 1, 1, nullptr);
  PatBlt(d.dc(), 0, 0, 4, 4, PATCOPY);
  EXPECT_EQ(d.Pixel32(0, 0), 0x00090807u);
  SelectObject(d.dc(), GetStockObject(WHITE_BRUSH));
  DeleteObject(large);
}

}  // namespace
