// Anti-aliased vector objects cover the area aggdraw (Anti-Grain Geometry)
// covers for the same geometry, within 2 %, opaque and at half opacity, at
// 100 % and at 250 % (coordinates and pen widths multiplied): draw_oracle.py.
#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "platform/graphics/graphics_bitmap.h"
#include "support/test_support.h"
#include "vect_test_support.h"

namespace {

double Covered(TImageLibVect& v, int id, int size) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(size, size);
  b.Canvas()->Brush()->SetColor(clBlack);
  b.Canvas()->FillRect(TRect{0, 0, size, size});
  v.DrawObjectsToBitmap(true, b, nullptr, -1, id, true);
  double sum = 0;
  for (int y = 0; y < size; ++y) {
    const auto* row = static_cast<const uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < size; ++x) sum += row[3 * x + 1];
  }
  return sum / 255;
}

TEST_F(VectTest, DrawOracleAntialiasedObjectsCoverWhatAggdrawCovers) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import aggdraw' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-aggdraw is not installed";
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " QV_SOURCE_DIR "/tests/imaging/extras/vector/draw_oracle.py", &out), 0);
  std::map<std::string, double> expected;
  std::istringstream lines(out);
  std::string name;
  double a;
  while (lines >> name >> a) expected[name] = a;
  StartGdiPlus();
  ASSERT_TRUE(GdiPlusAvailable());
  for (double zoom : {1.0, 2.5}) {
    auto z = [&](double v) { return int(std::lround(v * zoom)); };
    auto w = [&](int v) { return int(v * zoom + 0.5); };
    const int size = int(100 * zoom);
    for (int alpha : {255, 128}) {
      const std::string tag = "_" + std::to_string(int(zoom * 100)) + "_" + std::to_string(alpha);
      struct Fig {
        std::string name;
        std::unique_ptr<TIEVObject> obj;
      };
      std::vector<Fig> figs;
      for (int pen : {1, 3, 8}) {
        auto line = Obj(ievkLine, z(10), z(60), z(90), z(15));
        line->PenWidth = w(pen);
        figs.push_back({"line" + std::to_string(pen) + tag, std::move(line)});
      }
      auto box = Obj(ievkBox, z(10), z(10), z(90) - 1, z(70) - 1);
      box->PenWidth = w(3);
      box->BrushStyle = bsSolid;
      figs.push_back({"box" + tag, std::move(box)});
      auto ellipse = Obj(ievkEllipse, z(10), z(10), z(90) - 1, z(70) - 1);
      ellipse->PenWidth = w(2);
      figs.push_back({"ellipse" + tag, std::move(ellipse)});
      auto polygon = Obj(ievkPolyline, 0, 0, 0, 0);
      polygon->PenWidth = w(1);
      polygon->BrushStyle = bsSolid;
      polygon->Closed = true;
      polygon->Points = {TPoint{z(50), z(8)}, TPoint{z(92), z(90)}, TPoint{z(8), z(90)}};
      polygon->X1 = z(8);
      polygon->Y1 = z(8);
      polygon->X2 = z(92);
      polygon->Y2 = z(90);
      polygon->PointsBase = TRect{z(8), z(8), z(92), z(90)};
      figs.push_back({"polygon" + tag, std::move(polygon)});
      for (Fig& f : figs) {
        SCOPED_TRACE(f.name);
        f.obj->PenColor = clWhite;
        f.obj->BrushColor = clWhite;
        f.obj->Transparency = alpha;
        const int id = Add(*f.obj);
        ASSERT_EQ(expected.count(f.name), 1u);
        const double ours = Covered(*vect, id, size), theirs = expected[f.name];
        // a pixel's worth of blend rounding along the thinnest translucent line
        EXPECT_NEAR(ours, theirs, std::max(theirs * 0.02, 1.0)) << "ours " << ours << ", aggdraw " << theirs;
      }
    }
  }
  StopGdiPlus();
}

}  // namespace
