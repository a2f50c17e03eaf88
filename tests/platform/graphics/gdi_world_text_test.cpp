// Text under a world transform that leans, stretches or mirrors it: the glyphs,
// their advances, the alignment, the background and lines, and text drawn into
// a path all go through the whole map.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "gdi_test_helpers.h"
#include "platform/graphics/gdi_metafile.h"

using gditest::Dib;
using gditest::SavePng;

namespace {

constexpr int W = 240, H = 200;

HFONT SansFont(int height, bool underline = false, int escapement = 0) {
  LOGFONTA lf;
  lf.lfHeight = height;
  lf.lfEscapement = lf.lfOrientation = escapement;
  lf.lfUnderline = underline ? 1 : 0;
  std::strncpy(lf.lfFaceName, "DejaVu Sans", LF_FACESIZE - 1);
  return CreateFontIndirect(&lf);
}

// How much of each pixel black text covers on white, 0..255, rows top-down.
struct Ink {
  std::vector<int> cov = std::vector<int>(W * H, 0);
  int At(int x, int y) const { return cov[static_cast<size_t>(y) * W + x]; }
  int Total() const {
    int t = 0;
    for (int c : cov) t += c;
    return t;
  }
  // Pixels covered at least half: the glyphs' solid shape.
  int Solid(int x, int y) const { return At(x, y) >= 128; }
  RECT Box() const {
    RECT r{W, H, -1, -1};
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (Solid(x, y)) {
          r.left = std::min<LONG>(r.left, x);
          r.top = std::min<LONG>(r.top, y);
          r.right = std::max<LONG>(r.right, x + 1);
          r.bottom = std::max<LONG>(r.bottom, y + 1);
        }
    return r;
  }
  // The slope dx/dy of the rows' coverage centroids: how far the ink leans.
  double Lean() const {
    std::vector<std::pair<double, double>> pts;
    for (int y = 0; y < H; ++y) {
      double sum = 0, sx = 0;
      for (int x = 0; x < W; ++x) {
        sum += At(x, y);
        sx += double(At(x, y)) * x;
      }
      if (sum > 2 * 255) pts.emplace_back(y, sx / sum);
    }
    double my = 0, mx = 0;
    for (auto [y, x] : pts) {
      my += y;
      mx += x;
    }
    my /= pts.size();
    mx /= pts.size();
    double num = 0, den = 0;
    for (auto [y, x] : pts) {
      num += (y - my) * (x - mx);
      den += (y - my) * (y - my);
    }
    return den > 0 ? num / den : 0;
  }
};

struct Draw {
  XFORM world{1, 0, 0, 1, 0, 0};
  const char* text = "l";
  int x = 0, y = 0;
  UINT align = TA_BASELINE | TA_LEFT;
  int height = -40;
  bool path = false;  // drawn as a filled path instead
  int escapement = 0;
};

Ink Capture(const Dib& d) {
  Ink ink;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) ink.cov[static_cast<size_t>(y) * W + x] = 255 - static_cast<int>(d.Pixel32(x, y) & 0xFF);
  return ink;
}

Ink DrawInk(const Draw& c) {
  Dib d(W, H, 32);
  d.Fill32(0x00FFFFFF);
  HDC dc = d.dc();
  HFONT font = SansFont(c.height, false, c.escapement);
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  SetTextAlign(dc, c.align);
  EXPECT_TRUE(SetGraphicsMode(dc, GM_ADVANCED));
  EXPECT_TRUE(SetWorldTransform(dc, &c.world));
  const int n = static_cast<int>(std::strlen(c.text));
  if (c.path) {
    BeginPath(dc);
    TextOut(dc, c.x, c.y, c.text, n);
    EndPath(dc);
    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    FillPath(dc);
  } else {
    EXPECT_TRUE(TextOut(dc, c.x, c.y, c.text, n));
  }
  SelectObject(dc, old);
  DeleteObject(font);
  return Capture(d);
}

// A lean of the logical y axis into x moves a tall stroke's x with its row by
// the lean, and keeps the glyph as tall as it stands upright.
TEST(GdiWorldText, ShearLeansTheGlyphs) {
  const RECT upright = DrawInk({{1, 0, 0, 1, 120, 120}}).Box();
  for (float k : {0.5f, -0.3f, 1.0f}) {
    SCOPED_TRACE(k);
    Ink ink = DrawInk({{1, 0, k, 1, 120, 120}});
    EXPECT_NEAR(ink.Lean(), k, 0.04);
    RECT box = ink.Box();
    EXPECT_NEAR(box.bottom - box.top, upright.bottom - upright.top, 1);
    EXPECT_NEAR(box.bottom, 120, 1);  // still standing on the baseline
  }
  EXPECT_NEAR(DrawInk({{1, 0, 0, 1, 120, 120}}).Lean(), 0, 0.02);
}

// Scaling one axis stretches the glyphs along it only.
TEST(GdiWorldText, UnevenScaleStretchesTheGlyphs) {
  const RECT plain = DrawInk({{1, 0, 0, 1, 60, 150}, "H"}).Box();
  const int w0 = plain.right - plain.left, h0 = plain.bottom - plain.top;
  ASSERT_GT(w0, 15);
  struct Case {
    float sx, sy;
  } cases[] = {{2, 1}, {1, 2}, {3, 1.5f}, {0.5f, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sx << " x " << c.sy);
    RECT box = DrawInk({{c.sx, 0, 0, c.sy, 60, 150}, "H"}).Box();
    EXPECT_NEAR(box.right - box.left, w0 * c.sx, 2.5);
    EXPECT_NEAR(box.bottom - box.top, h0 * c.sy, 2.5);
    EXPECT_NEAR(box.bottom, 150, 1);
  }
}

// The escapement turns the glyphs in logical space, before the map: text
// turned upright and then stretched along x gets glyphs twice as tall (now
// lying along x) and a run as long as before.
TEST(GdiWorldText, EscapementTurnsBeforeTheMap) {
  const RECT plain = DrawInk({{1, 0, 0, 1, 0, 0}, "IIII", 80, 150, TA_BASELINE, -30, false, 900}).Box();
  const RECT wide = DrawInk({{2, 0, 0, 1, 0, 0}, "IIII", 40, 150, TA_BASELINE, -30, false, 900}).Box();
  ASSERT_GT(plain.bottom - plain.top, 20);
  EXPECT_NEAR(wide.right - wide.left, 2 * (plain.right - plain.left), 2.5);
  EXPECT_NEAR(wide.bottom - wide.top, plain.bottom - plain.top, 1.5);
  EXPECT_NEAR(wide.bottom, plain.bottom, 1);
}

// A mirroring world flips the glyphs about the mirror line through the
// reference point, and the alignment follows the mirrored baseline.
TEST(GdiWorldText, MirrorFlipsTheGlyphs) {
  const Ink plain = DrawInk({{1, 0, 0, 1, 0, 0}, "Fg", 100, 100});
  struct Case {
    const char* name;
    XFORM world;
    bool flipX;
  } cases[] = {
      {"left-right", {-1, 0, 0, 1, 200, 0}, true},
      {"upside down", {1, 0, 0, -1, 0, 200}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Ink ink = DrawInk({c.world, "Fg", 100, 100});
    long diff = 0;
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 200; ++x) diff += std::abs(ink.At(x, y) - plain.At(c.flipX ? 199 - x : x, c.flipX ? y : 199 - y));
    EXPECT_GT(plain.Total(), 100 * 255);
    EXPECT_LT(diff, plain.Total() / 20);
  }
  // Right alignment under the left-right mirror ends the run at the reference
  // point on the logical right, which the mirror puts on the device's left.
  SIZE size;
  {
    Dib d(8, 8, 32);
    HFONT font = SansFont(-40);
    HGDIOBJ old = SelectObject(d.dc(), font);
    GetTextExtentPoint32(d.dc(), "Fg", 2, &size);
    SelectObject(d.dc(), old);
    DeleteObject(font);
  }
  const RECT left = plain.Box();
  const RECT right = DrawInk({{-1, 0, 0, 1, 200, 0}, "Fg", 100, 100, TA_BASELINE | TA_RIGHT}).Box();
  EXPECT_NEAR(right.left, 100 + (100 + size.cx - left.right), 1);
  EXPECT_NEAR(right.right, 100 + (100 + size.cx - left.left), 1);
}

// A lean keeps the pen's advance along x: the current position moves as far as
// for upright text, to the right and back.
TEST(GdiWorldText, ShearKeepsTheAdvance) {
  auto advance = [](const XFORM& world, UINT align) {
    Dib d(W, H, 32);
    HFONT font = SansFont(-24);
    HGDIOBJ old = SelectObject(d.dc(), font);
    SetGraphicsMode(d.dc(), GM_ADVANCED);
    SetWorldTransform(d.dc(), &world);
    SetTextAlign(d.dc(), align | TA_UPDATECP);
    MoveToEx(d.dc(), 50, 60, nullptr);
    TextOut(d.dc(), 0, 0, "Quorvane", 8);
    POINT p{};
    GetCurrentPositionEx(d.dc(), &p);
    SelectObject(d.dc(), old);
    DeleteObject(font);
    return p.x - 50;
  };
  const int upright = advance({1, 0, 0, 1, 0, 0}, TA_LEFT);
  ASSERT_GT(upright, 60);
  EXPECT_EQ(advance({1, 0, 0.5f, 1, 0, 0}, TA_LEFT), upright);
  EXPECT_EQ(advance({1, 0, -0.8f, 1, 10, 0}, TA_RIGHT), -upright);
  EXPECT_EQ(advance({1, 0, 0, 1, 0, 0}, TA_RIGHT), -upright);
  EXPECT_EQ(advance({1, 0, 0.5f, 1, 0, 0}, TA_CENTER), 0);
  // The ink of a leaned run ends where the upright run's does, give or take
  // the lean of its last stroke's top and bottom.
  const RECT a = DrawInk({{1, 0, 0, 1, 20, 100}, "mmmm", 0, 0, TA_BASELINE}).Box();
  const RECT b = DrawInk({{1, 0, 0.25f, 1, 20, 100}, "mmmm", 0, 0, TA_BASELINE}).Box();
  EXPECT_NEAR(b.right, a.right, 1);
  EXPECT_NEAR(b.left, a.left - 0.25 * (100 - a.top), 1.5);
}

// Text drawn into a path under a lean, a stretch and a mirror fills what the
// drawn text covers.
TEST(GdiWorldText, PathMatchesTheDrawnText) {
  const XFORM worlds[] = {{1, 0, 0.5f, 1, 40, 120}, {2, 0, 0, 1, 20, 120}, {-1, 0, 0, 1, 220, 120},
                          {0.8f, 0.3f, -0.4f, 1.1f, 60, 100}};
  for (const XFORM& w : worlds) {
    SCOPED_TRACE(testing::Message() << w.eM11 << " " << w.eM12 << " " << w.eM21 << " " << w.eM22);
    Ink drawn = DrawInk({w, "Rbx"});
    Ink path = DrawInk({w, "Rbx", 0, 0, TA_BASELINE, -40, true});
    int solid = 0, differ = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        solid += drawn.Solid(x, y);
        differ += drawn.Solid(x, y) != (path.At(x, y) > 0);
      }
    ASSERT_GT(solid, 300);
    EXPECT_LT(differ, solid / 5);
    RECT a = drawn.Box(), b = path.Box();
    EXPECT_NEAR(a.left, b.left, 1);
    EXPECT_NEAR(a.top, b.top, 1);
    EXPECT_NEAR(a.right, b.right, 1);
    EXPECT_NEAR(a.bottom, b.bottom, 1);
  }
}

// DrawText under a leaning or mirroring world draws each line as the text call
// its record plays back as: leaned or mirrored within the mapped box, not
// upright and off to one side.
TEST(GdiWorldText, DrawTextLinesGoThroughTheMap) {
  const XFORM worlds[] = {{-1, 0, 0, 1, 240, 0}, {1, 0, -0.5f, 1, 40, 0}, {1.5f, 0, 0, 1, 0, 0}};
  for (const XFORM& w : worlds) {
    SCOPED_TRACE(testing::Message() << w.eM11 << " " << w.eM21);
    auto draw = [&](bool drawText) {
      Dib d(W, H, 32);
      d.Fill32(0x00FFFFFF);
      HFONT font = SansFont(-20);
      HGDIOBJ old = SelectObject(d.dc(), font);
      SetBkMode(d.dc(), TRANSPARENT);
      SetGraphicsMode(d.dc(), GM_ADVANCED);
      SetWorldTransform(d.dc(), &w);
      RECT r{20, 30, 150, 90};
      if (drawText) DrawText(d.dc(), "Boxed", -1, &r, DT_SINGLELINE);
      else ExtTextOut(d.dc(), 20, 30, ETO_CLIPPED, &r, "Boxed", 5, nullptr);
      SelectObject(d.dc(), old);
      DeleteObject(font);
      return Capture(d);
    };
    const Ink text = draw(true);
    EXPECT_GT(text.Total(), 50 * 255);
    EXPECT_EQ(text.cov, draw(false).cov);
  }
}

// Worlds at the edge of what a transform may hold draw in bounded time and
// memory, with their background and underline, into a path too.
TEST(GdiWorldText, ExtremeWorldsStayBounded) {
  const XFORM worlds[] = {{1e7f, 0, 0, 1e-7f, 0, 0}, {1e-7f, 0, 0, 1e7f, 0, 0}, {1, 0, 1e7f, 1, 0, 0},
                          {1e-6f, 1e6f, -1e6f, 1e-6f, 5, 5}, {-1e7f, 0, 0, -1e7f, 100, 100}};
  for (const XFORM& w : worlds) {
    Dib d(W, H, 32);
    HFONT font = SansFont(-30, true);
    HGDIOBJ old = SelectObject(d.dc(), font);
    SetBkMode(d.dc(), OPAQUE);
    SetGraphicsMode(d.dc(), GM_ADVANCED);
    ASSERT_TRUE(SetWorldTransform(d.dc(), &w));
    RECT r{0, 0, 50, 20};
    EXPECT_TRUE(ExtTextOut(d.dc(), 1, 1, ETO_OPAQUE, &r, "Wide W", 6, nullptr));
    const INT far[6] = {1 << 29, -(1 << 29), 1 << 29, 1 << 29, 1 << 29, 7};
    EXPECT_TRUE(ExtTextOut(d.dc(), 1, 1, 0, nullptr, "Wide W", 6, far));
    BeginPath(d.dc());
    TextOut(d.dc(), 1, 1, "Wide W", 6);
    EndPath(d.dc());
    FillPath(d.dc());
    SelectObject(d.dc(), old);
    DeleteObject(font);
  }
}

// The opaque background and the underline lie along the leaned cell, centred
// on the reference point; a picture of leaned, stretched and mirrored text goes
// to the test output.
TEST(GdiWorldText, BackgroundAndUnderlineLeanWithTheText) {
  constexpr int PW = 360, PH = 300;
  Dib d(PW, PH, 32);
  d.Fill32(0x00FFFFFF);
  HDC dc = d.dc();
  HFONT font = SansFont(-28, true);
  HGDIOBJ old = SelectObject(dc, font);
  SetGraphicsMode(dc, GM_ADVANCED);
  SetTextColor(dc, RGB(150, 0, 0));
  SetBkColor(dc, RGB(255, 230, 120));
  SetBkMode(dc, OPAQUE);
  SetTextAlign(dc, TA_CENTER | TA_BASELINE);
  XFORM lean{1, 0, -0.4f, 1, 0, 0};
  SetWorldTransform(dc, &lean);
  TextOut(dc, 120, 50, "Leaned", 6);
  // Each row of the background starts further left the lower it is.
  std::vector<std::pair<int, int>> starts;
  for (int y = 10; y < 60; ++y)
    for (int x = 0; x < PW; ++x)
      if (d.Pixel32(x, y) != 0x00FFFFFF) {
        starts.emplace_back(y, x);
        break;
      }
  ASSERT_GT(starts.size(), 25u);
  const auto [yTop, xTop] = starts.front();
  const auto [yBottom, xBottom] = starts.back();
  EXPECT_NEAR(double(xBottom - xTop) / (yBottom - yTop), -0.4, 0.08);
  // On the baseline row the cell is centred where the lean puts the reference.
  int first = PW, last = -1;
  for (int x = 0; x < PW; ++x)
    if (d.Pixel32(x, 49) != 0x00FFFFFF) {
      first = std::min(first, x);
      last = x;
    }
  EXPECT_NEAR((first + last + 1) / 2.0, 120 - 0.4 * 50, 2);
  // The underline: a run of text colour below the baseline, as long as the cell.
  int underline = 0;
  for (int y = 50; y < 56; ++y) {
    int n = 0;
    for (int x = 0; x < PW; ++x) n += d.Pixel32(x, y) == 0x00960000;
    underline = std::max(underline, n);
  }
  EXPECT_GT(underline, (last - first) * 3 / 4);

  XFORM stretch{2.2f, 0, 0, 1, 0, 0};
  SetWorldTransform(dc, &stretch);
  TextOut(dc, 82, 120, "Wide", 4);
  XFORM mirror{-1, 0, 0, 1, 360, 0};
  SetWorldTransform(dc, &mirror);
  TextOut(dc, 180, 180, "Mirrored", 8);
  XFORM flip{1, 0, 0, -1, 0, 400};
  SetWorldTransform(dc, &flip);
  TextOut(dc, 90, 170, "Flipped", 7);
  XFORM turnLean{0.866f, -0.5f, 0.9f, 0.866f, 0, 0};
  SetWorldTransform(dc, &turnLean);
  TextOut(dc, 22, 290, "Turned", 6);
  SelectObject(dc, old);
  DeleteObject(font);
  SavePng("world_text.png", d, PW, PH);
}

}  // namespace
