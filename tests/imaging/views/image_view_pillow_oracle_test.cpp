// The view's picture against Pillow's: enlargements equal its NEAREST resize of
// the visible crop, and a fitted picture with the triangle filter is within a
// few levels of its BILINEAR resize.
#include <cmath>
#include <cstdlib>

#include "platform/ui/picture_file.h"
#include "test_support.h"
#include "view_test_support.h"

namespace {

class PillowOracle : public ViewTest {
protected:
  void SetUp() override {
    ViewTest::SetUp();
    if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "Pillow is not available";
  }
  // The view's picture as a PNG, and Pillow's answer as RGB rows.
  std::vector<uint8_t> Ask(const std::string& args) {
    TBitmap b;
    view->GetIEBitmap()->CopyToTBitmap(b);
    SavePicturePng(&b, dir.File("in.png"));
    const std::string script = std::string(QV_SOURCE_DIR) + "/tests/imaging/views/view_pillow_oracle.py";
    std::string log;
    EXPECT_EQ(qvtest::RunCommand("/usr/bin/python3 " + script + " " + dir.File("in.png") + " " + dir.File("out.rgb") +
                                     " " + args + " 2>&1",
                                 &log),
              0)
        << log;
    return qvtest::ReadFileBytes(dir.File("out.rgb"));
  }
  qvtest::TempDir dir;
};

TEST_F(PillowOracle, EnlargementsEqualNearestOfTheVisibleCrop) {
  MakeView(180, 130);
  view->SetScrollBars(ssNone);
  ShowPattern(150, 120);
  for (int zoom : {200, 300, 800}) {
    view->SetZoom(zoom);
    const int z = zoom / 100;
    view->SetViewXY(z * 11, z * 7);
    Paint();
    ASSERT_EQ(view->OffsetX(), 0);
    const int w = view->DrawWidth(), h = view->DrawHeight();
    const int cw = (w + z - 1) / z, ch = (h + z - 1) / z;
    const std::vector<uint8_t> want = Ask("nearest 11 7 " + std::to_string(cw) + " " + std::to_string(ch) + " " +
                                          std::to_string(z));
    ASSERT_EQ(want.size(), size_t(cw * z) * size_t(ch * z) * 3);
    int bad = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* p = &want[(size_t(y) * size_t(cw * z) + size_t(x)) * 3];
        const TColor expected = TColor(p[0] | (p[1] << 8) | (p[2] << 16));
        if (Shown(x, y) != expected && ++bad < 5) ADD_FAILURE() << zoom << "% at " << x << "," << y;
      }
  }
}

TEST_F(PillowOracle, FitWithTheTriangleFilterIsWithinAFewLevelsOfPillow) {
  MakeView(200, 150);
  view->SetZoomFilter(rfTriangle);
  TIEBitmap& b = *view->GetIEBitmap();
  b.Allocate(640, 480, ie24RGB);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      b.SetPixelRGB(x, y, MakeRGB(uint8_t(128 + 100 * std::sin(x / 23.0)), uint8_t((x + y) / 5),
                                  uint8_t(128 + 90 * std::cos(y / 17.0 + x / 41.0))));
  view->SetAutoFit(true);
  view->Update();
  Paint();
  const int w = view->ScreenWidthOfSource(), h = view->ScreenHeightOfSource();
  const std::vector<uint8_t> want = Ask("fit " + std::to_string(w) + " " + std::to_string(h));
  ASSERT_EQ(want.size(), size_t(w) * size_t(h) * 3);
  double total = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TColor c = Shown(view->OffsetX() + x, view->OffsetY() + y);
      const uint8_t* p = &want[(size_t(y) * size_t(w) + size_t(x)) * 3];
      total += std::abs(int(c & 0xFF) - p[0]) + std::abs(int((c >> 8) & 0xFF) - p[1]) +
               std::abs(int((c >> 16) & 0xFF) - p[2]);
    }
  EXPECT_LT(total / (double(w) * h * 3), 3.0);
}

}  // namespace
