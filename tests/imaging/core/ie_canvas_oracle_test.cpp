// Anti-aliased TIECanvas figures cover the area that aggdraw (Anti-Grain
// Geometry) covers for the same geometry, within 2 %: canvas_oracle.py.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "imaging/core/ie_canvas.h"
#include "platform/graphics/graphics_bitmap.h"
#include "tests/support/test_support.h"

namespace {

struct Figure {
  const char* name;
  float penWidth;
  std::function<void(TIECanvas&)> draw;
};

double CoveredArea(const Figure& f) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(100, 100);
  b.Canvas()->Brush()->SetColor(clBlack);
  b.Canvas()->FillRect(TRect{0, 0, 100, 100});
  {
    TIECanvas canvas(b.Canvas(), true, true);
    canvas.Pen()->SetColor(clWhite);
    canvas.Pen()->SetWidth(f.penWidth);
    canvas.Brush()->SetColor(clWhite);
    f.draw(canvas);
  }
  double sum = 0;
  for (int y = 0; y < 100; ++y) {
    const auto* row = static_cast<const uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < 100; ++x) sum += row[x * 3 + 1];
  }
  return sum / 255;
}

TEST(IECanvasOracle, AntialiasedFiguresCoverWhatAggdrawCovers) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import aggdraw' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-aggdraw is not installed";
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " QV_SOURCE_DIR "/tests/imaging/core/canvas_oracle.py", &out), 0);
  std::map<std::string, double> expected;
  std::istringstream lines(out);
  std::string name;
  double area;
  while (lines >> name >> area) expected[name] = area;

  const Figure figures[] = {
      {"ellipse", 1, [](TIECanvas& c) { c.Ellipse(10, 10, 90, 70); }},
      {"rectangle", 3, [](TIECanvas& c) { c.Rectangle(10, 10, 90, 70); }},
      {"polygon", 1, [](TIECanvas& c) { c.Polygon({{50, 8}, {92, 90}, {50, 60}, {8, 90}}); }},
      {"round_rect", 1, [](TIECanvas& c) { c.RoundRect(10, 10, 90, 70, 30, 20); }},
      {"thick_line", 6, [](TIECanvas& c) { c.DrawLine(10, 60, 90, 15); }},
      {"thick_polyline", 4, [](TIECanvas& c) { c.Polyline({{10, 80}, {30, 20}, {60, 70}, {90, 30}}); }},
      {"arc", 4, [](TIECanvas& c) { c.Arc(10, 10, 90, 90, 90, 50, 50, 10); }},
  };
  ResetGdiPlusState();
  StartGdiPlus();
  ASSERT_TRUE(GdiPlusAvailable());
  for (const Figure& f : figures) {
    SCOPED_TRACE(f.name);
    ASSERT_EQ(expected.count(f.name), 1u);
    const double ours = CoveredArea(f), theirs = expected[f.name];
    EXPECT_NEAR(ours, theirs, theirs * 0.02) << "ours " << ours << ", aggdraw " << theirs;
  }
  StopGdiPlus();
}

}  // namespace
