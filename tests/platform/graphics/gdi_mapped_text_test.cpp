// Text measured under a map that scales: the face is opened at the size the map
// gives the font, and what it measures comes back in the DC's logical units.
// Each map is checked against the same face opened at that device size on a
// DC without a map, its measures taken back through the map.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <ostream>
#include <string>

#include "gdi_test_helpers.h"

using gditest::Dib;
using gditest::InkBox;
using gditest::SavePng;

namespace {

HFONT SansFont(int height) {
  LOGFONTA lf;
  lf.lfHeight = height;
  std::strncpy(lf.lfFaceName, "DejaVu Sans", LF_FACESIZE - 1);
  return CreateFontIndirect(&lf);
}

// A map and how many device pixels one logical unit makes of the font's
// height (across the baseline) and of its advances (along it).
struct Map {
  const char* name;
  int mode = MM_TEXT;
  SIZE window{1, 1}, viewport{1, 1};  // for MM_ANISOTROPIC
  XFORM world{1, 0, 0, 1, 0, 0};      // set in GM_ADVANCED when it is not the identity
  double across = 1, along = 1;
  int height = -16;  // the font's logical height, one the map turns into whole pixels
};

// Test names and failure messages show the map by its name.
void PrintTo(const Map& m, std::ostream* os) { *os << m.name; }

constexpr float kCos30 = 0.8660254f;

const Map kMaps[] = {
    {"twips", MM_TWIPS, {}, {}, {1, 0, 0, 1, 0, 0}, 1 / 15.0, 1 / 15.0, -360},
    {"lometric", MM_LOMETRIC, {}, {}, {1, 0, 0, 1, 0, 0}, 96 / 254.0, 96 / 254.0, -127},
    // Without a world transform an uneven page scales the font's height; the
    // glyphs keep their own width, which the x axis maps back.
    {"anisotropic 3:2", MM_ANISOTROPIC, {1, 1}, {3, 2}, {1, 0, 0, 1, 0, 0}, 2, 3, -13},
    {"world x2", MM_TEXT, {}, {}, {2, 0, 0, 2, 0, 0}, 2, 2, -13},
    {"world x0.5", MM_TEXT, {}, {}, {0.5f, 0, 0, 0.5f, 0, 0}, 0.5, 0.5, -40},
    // A world that stretches the glyphs opens the face at the height the
    // logical height maps to and stretches what it draws.
    {"world 3 by 1.5", MM_TEXT, {}, {}, {3, 0, 0, 1.5f, 0, 0}, 1.5, 1.5, -16},
    {"world turned 30 x1.5", MM_TEXT, {}, {}, {1.5f * kCos30, 0.75f, -0.75f, 1.5f * kCos30, 0, 0}, 1.5, 1.5, -16},
    {"twips in world x2", MM_TWIPS, {}, {}, {2, 0, 0, 2, 0, 0}, 2 / 15.0, 2 / 15.0, -180},
};

void Apply(HDC dc, const Map& m) {
  ASSERT_NE(SetMapMode(dc, m.mode), 0);
  if (m.mode == MM_ANISOTROPIC) {
    SetWindowExtEx(dc, m.window.cx, m.window.cy, nullptr);
    SetViewportExtEx(dc, m.viewport.cx, m.viewport.cy, nullptr);
  }
  const XFORM& w = m.world;
  if (w.eM11 != 1 || w.eM12 != 0 || w.eM21 != 0 || w.eM22 != 1) {
    ASSERT_TRUE(SetGraphicsMode(dc, GM_ADVANCED));
    ASSERT_TRUE(SetWorldTransform(dc, &w));
  }
}

// A DC with a font selected, under a map or none.
class FontDC {
public:
  FontDC(int height, const Map* map = nullptr, int w = 8, int h = 8) : FDib(w, h, 32), FFont(SansFont(height)) {
    FOld = SelectObject(FDib.dc(), FFont);
    if (map) Apply(FDib.dc(), *map);
  }
  ~FontDC() {
    SelectObject(FDib.dc(), FOld);
    DeleteObject(FFont);
  }
  HDC dc() const { return FDib.dc(); }
  const Dib& dib() const { return FDib; }
  SIZE Extent(const char* text) const {
    SIZE s{};
    EXPECT_TRUE(GetTextExtentPoint32(dc(), text, static_cast<int>(std::strlen(text)), &s));
    return s;
  }
  TEXTMETRICA Metrics() const {
    TEXTMETRICA tm{};
    EXPECT_TRUE(GetTextMetrics(dc(), &tm));
    return tm;
  }

private:
  Dib FDib;
  HFONT FFont;
  HGDIOBJ FOld = nullptr;
};

// The height a font of a logical height gets on the device.
int DeviceHeight(const Map& m, int height) { return static_cast<int>(std::lround(height * m.across)); }

constexpr const char* kSample = "Quorvane makes icons";

class MappedText : public ::testing::TestWithParam<Map> {};

// Extents and metrics are the device face's, mapped back: within the
// rounding to a logical unit.
TEST_P(MappedText, ExtentsAndMetricsAreLogical) {
  const Map& m = GetParam();
  const FontDC device(DeviceHeight(m, m.height));
  const FontDC mapped(m.height, &m);
  const SIZE dev = device.Extent(kSample), logical = mapped.Extent(kSample);
  const TEXTMETRICA dtm = device.Metrics(), tm = mapped.Metrics();
  ASSERT_GT(dev.cx, 50);
  EXPECT_NEAR(logical.cx, dev.cx / m.along, 0.5 + 1e-6);
  EXPECT_NEAR(logical.cy, dev.cy / m.across, 0.5 + 1e-6);
  EXPECT_EQ(logical.cy, tm.tmHeight);
  // A font asked for by its character height keeps it as the em, with the
  // internal leading on top; ascent and descent make the height.
  EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, -m.height);
  EXPECT_EQ(tm.tmAscent + tm.tmDescent, tm.tmHeight);
  EXPECT_NEAR(tm.tmAscent, dtm.tmAscent / m.across, 0.5 + 1e-6);
  EXPECT_NEAR(tm.tmAveCharWidth, dtm.tmAveCharWidth / m.along, 0.5 + 1e-6);
  EXPECT_NEAR(tm.tmMaxCharWidth, dtm.tmMaxCharWidth / m.along, 0.5 + 1e-6);
  // One asked for by its cell height gets that height.
  const FontDC cell(-m.height, &m);
  EXPECT_EQ(cell.Metrics().tmHeight, -m.height);
}

// DrawText breaks its lines where the same face at the device size breaks them
// in a box as wide as the logical box maps to, and reports the logical size.
TEST_P(MappedText, DrawTextWrapsAsOnTheDevice) {
  const Map& m = GetParam();
  const char* text = "The quick brown fox jumps over the lazy dog and keeps running";
  const FontDC device(DeviceHeight(m, m.height));
  const FontDC mapped(m.height, &m);
  const int boxWidth = static_cast<int>(std::lround(160 / m.along));
  RECT d{0, 0, static_cast<LONG>(std::lround(boxWidth * m.along)), 0};
  const int devHeight = DrawText(device.dc(), text, -1, &d, DT_CALCRECT | DT_WORDBREAK);
  const int lines = devHeight / device.Metrics().tmHeight;
  ASSERT_GE(lines, 3);
  RECT l{0, 0, boxWidth, 0};
  const int height = DrawText(mapped.dc(), text, -1, &l, DT_CALCRECT | DT_WORDBREAK);
  EXPECT_EQ(height, lines * mapped.Metrics().tmHeight);
  // A map with y up grows the rectangle downwards on the screen, to smaller y.
  EXPECT_EQ(std::abs(l.bottom - l.top), height);
  EXPECT_NEAR(l.right, d.right / m.along, 0.5 + 1e-6);
  // A single line is as wide as its extent.
  RECT one{0, 0, 0, 0};
  DrawText(mapped.dc(), text, -1, &one, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(std::abs(one.right - one.left), mapped.Extent(text).cx);
  EXPECT_EQ(std::abs(one.bottom - one.top), mapped.Metrics().tmHeight);
}

// TA_UPDATECP moves the logical current position by the run's logical width.
TEST_P(MappedText, UpdateCPAdvancesByTheLogicalWidth) {
  const Map& m = GetParam();
  const FontDC mapped(m.height, &m);
  const double width = FontDC(DeviceHeight(m, m.height)).Extent(kSample).cx / m.along;
  struct Case {
    UINT align;
    int sign;
  } cases[] = {{TA_LEFT, 1}, {TA_RIGHT, -1}, {TA_CENTER, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.align);
    SetTextAlign(mapped.dc(), c.align | TA_UPDATECP);
    MoveToEx(mapped.dc(), 300, -200, nullptr);
    TextOut(mapped.dc(), 0, 0, kSample, static_cast<int>(std::strlen(kSample)));
    POINT p{};
    GetCurrentPositionEx(mapped.dc(), &p);
    EXPECT_NEAR(p.x - 300, c.sign * width, 1);
    EXPECT_EQ(p.y, -200);
  }
}

INSTANTIATE_TEST_SUITE_P(Maps, MappedText, ::testing::ValuesIn(kMaps), [](const auto& p) {
  std::string name = p.param.name;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

// Measuring under worlds at the edge of what a transform may hold answers in
// range and in bounded time: the face stops growing at its largest size and
// shrinking at a pixel, so blown-up text measures next to nothing and squeezed
// text a great deal, but neither overflows.
TEST(MappedTextExtremes, MeasuresStayInRange) {
  const XFORM worlds[] = {{1e7f, 0, 0, 1e7f, 0, 0}, {1e-7f, 0, 0, 1e-7f, 0, 0}, {1e7f, 0, 0, 1e-7f, 0, 0},
                          {1e-6f, 1e6f, -1e6f, 1e-6f, 5, 5}};
  for (const XFORM& w : worlds) {
    SCOPED_TRACE(testing::Message() << w.eM11 << " " << w.eM12 << " " << w.eM22);
    Map m{"extreme"};
    m.world = w;
    const FontDC mapped(-30, &m);
    const SIZE size = mapped.Extent(kSample);
    const TEXTMETRICA tm = mapped.Metrics();
    EXPECT_GE(size.cx, 0);
    EXPECT_GE(size.cy, 0);
    EXPECT_EQ(tm.tmAscent + tm.tmDescent, tm.tmHeight);
    EXPECT_GE(tm.tmInternalLeading, 0);
    RECT r{0, 0, 100, 0};
    const int height = DrawText(mapped.dc(), kSample, -1, &r, DT_CALCRECT | DT_WORDBREAK);
    EXPECT_GE(height, 0);
    EXPECT_LT(height, INT32_MAX / 2);
    RECT box{0, 0, 100, 100};
    EXPECT_GE(DrawText(mapped.dc(), kSample, -1, &box, DT_CENTER | DT_WORDBREAK), 0);
  }
}

const Map kMirrored{"mirrored page", MM_ANISOTROPIC, {1, 1}, {-2, 2}, {1, 0, 0, 1, 0, 0}, 2, 2, -13};

// Lines drawn by DrawText under a map that scales land where the same text
// drawn with a font of the device size lands in the device box: the same
// words on the same lines, centred and stacked alike (within the rounding of
// positions to logical units).
TEST(MappedDrawText, DrawsTheDeviceLayout) {
  constexpr int PW = 320, PH = 160;
  const char* text = "Scaled text wraps at the same words";
  // Device boxes, and the logical box of each map that lands on them.
  struct Case {
    const char* name;
    Map map;
    RECT logical;
    UINT format;
  } cases[] = {
      {"world x2 wrapped", kMaps[3], {20, 10, 140, 70}, DT_CENTER | DT_WORDBREAK},
      {"twips wrapped", kMaps[0], {300, -150, 4500, -2250}, DT_RIGHT | DT_WORDBREAK},
      {"anisotropic wrapped", kMaps[2], {10, 5, 100, 70}, DT_CENTER | DT_WORDBREAK},
      {"world x2 centred", kMaps[3], {20, 10, 140, 70}, DT_CENTER | DT_VCENTER | DT_SINGLELINE},
      {"twips bottom right", kMaps[0], {300, -150, 4500, -2250}, DT_RIGHT | DT_BOTTOM | DT_SINGLELINE},
      {"lometric centred", kMaps[1], {50, -30, 800, -380}, DT_CENTER | DT_VCENTER | DT_SINGLELINE},
      {"world x2 ellipsis", kMaps[3], {20, 10, 90, 40}, DT_SINGLELINE | DT_END_ELLIPSIS},
      {"twips ellipsis", kMaps[0], {300, -150, 2400, -900}, DT_SINGLELINE | DT_END_ELLIPSIS},
      // A page mirrored left to right keeps text reading forwards: the box runs
      // from its left edge in reading order, the larger x, to its right.
      {"mirrored page", kMirrored, {-10, 5, -100, 70}, DT_CENTER | DT_WORDBREAK},
      {"mirrored page right", kMirrored, {-10, 5, -100, 70}, DT_RIGHT | DT_BOTTOM | DT_SINGLELINE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Map& m = c.map;
    FontDC mapped(m.height, &m, PW, PH);
    FontDC device(DeviceHeight(m, m.height), nullptr, PW, PH);
    POINT corners[2] = {{c.logical.left, c.logical.top}, {c.logical.right, c.logical.bottom}};
    LPtoDP(mapped.dc(), corners, 2);
    RECT box{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
    for (const FontDC* f : {&mapped, &device}) {
      f->dib().Fill32(0x00FFFFFF);
      SetBkMode(f->dc(), TRANSPARENT);
    }
    RECT r = c.logical;
    DrawText(mapped.dc(), text, -1, &r, c.format);
    r = box;
    DrawText(device.dc(), text, -1, &r, c.format);
    const RECT want = InkBox(device.dib(), PW, PH, 0x00FFFFFF), got = InkBox(mapped.dib(), PW, PH, 0x00FFFFFF);
    ASSERT_LT(want.left, want.right);
    const double slack = std::max({1.0, m.along, m.across}) + 0.5;
    EXPECT_NEAR(got.left, want.left, slack);
    EXPECT_NEAR(got.right, want.right, slack);
    EXPECT_NEAR(got.top, want.top, slack);
    // Lines stack by the logical line height, each within a pixel's rounding.
    EXPECT_NEAR(got.bottom, want.bottom, 2 * slack);
  }
}

// A picture of wrapped, centred text under a doubling world and in twips, each
// in its box, for a person to look at.
TEST(MappedDrawText, Picture) {
  constexpr int PW = 420, PH = 200;
  Dib d(PW, PH, 32);
  d.Fill32(0x00FFFFFF);
  HDC dc = d.dc();
  HFONT font = SansFont(-11);
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  SetGraphicsMode(dc, GM_ADVANCED);
  XFORM twice{2, 0, 0, 2, 0, 0};
  SetWorldTransform(dc, &twice);
  RECT r{5, 5, 100, 95};
  Rectangle(dc, r.left, r.top, r.right, r.bottom);
  SetTextColor(dc, RGB(0, 0, 160));
  DrawText(dc, "Doubled by the world transform, wrapped and centred in its box", -1, &r,
           DT_CENTER | DT_WORDBREAK);
  ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
  SetGraphicsMode(dc, GM_COMPATIBLE);
  SetMapMode(dc, MM_TWIPS);
  SetViewportOrgEx(dc, 210, 0, nullptr);
  HFONT twips = SansFont(-300);
  SelectObject(dc, twips);
  RECT t{75, -75, 2925, -2925};
  Rectangle(dc, t.left, t.top, t.right, t.bottom);
  SetTextColor(dc, RGB(160, 0, 0));
  DrawText(dc, "In twips the lines go down the page, centred too", -1, &t, DT_CENTER | DT_WORDBREAK);
  RECT calc = t;
  const int height = DrawText(dc, "In twips the lines go down the page, centred too", -1, &calc,
                              DT_CALCRECT | DT_CENTER | DT_WORDBREAK);
  EXPECT_EQ(calc.top - calc.bottom, height);
  SelectObject(dc, old);
  DeleteObject(font);
  DeleteObject(twips);
  SavePng("mapped_draw_text.png", d, PW, PH);
  // Each block's ink keeps within its box.
  struct Block {
    RECT box;
    bool blue;
  } blocks[] = {{{10, 10, 200, 190}, true}, {{215, 5, 405, 195}, false}};
  for (const Block& b : blocks) {
    int inside = 0, outside = 0;
    for (int y = 0; y < PH; ++y)
      for (int x = 0; x < PW; ++x) {
        const uint32_t p = d.Pixel32(x, y);
        const int red = (p >> 16) & 0xFF, blue = p & 0xFF;
        if (!(b.blue ? blue > red + 40 : red > blue + 40)) continue;
        const bool in = x >= b.box.left && x < b.box.right && y >= b.box.top && y < b.box.bottom;
        (in ? inside : outside) += 1;
      }
    EXPECT_GT(inside, 300);
    EXPECT_EQ(outside, 0);
  }
}

}  // namespace
