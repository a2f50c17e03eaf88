// Shape and rectangle-list regions: their edge cases, and the shapes against
// scikit-image's polygon and ellipse rasterising of the same points.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "imaging/extras/transitions/transition_regions.h"
#include "platform/rtl/random.h"
#include "support/test_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct TRegion {
  HRGN h;
  explicit TRegion(HRGN r) : h(r) {}
  ~TRegion() {
    if (h) DeleteObject(h);
  }
};

RECT Box(HRGN r) {
  RECT box{};
  GetRgnBox(r, &box);
  return box;
}

// The region's pixels inside (0, 0, w, h), row by row, and how many lie outside.
std::vector<uint8_t> Mask(HRGN r, int w, int h) {
  std::vector<uint8_t> m(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) m[size_t(y) * w + x] = PtInRegion(r, x, y) ? 1 : 0;
  return m;
}

int Covered(HRGN r, int w, int h) {
  int n = 0;
  for (uint8_t v : Mask(r, w, h)) n += v;
  return n;
}

TEST(ShapeRegions, CodesAreTakenModulo128AndUnknownOnesGiveNone) {
  EXPECT_EQ(BuildShapeRegion(16, 0, 0, 50, 50), nullptr);
  EXPECT_EQ(BuildShapeRegion(255, 0, 0, 50, 50), nullptr);
  TRegion star(BuildShapeRegion(0, 0, 0, 50, 50)), same(BuildShapeRegion(128, 0, 0, 50, 50));
  ASSERT_NE(star.h, nullptr);
  EXPECT_TRUE(EqualRgn(star.h, same.h));
}

TEST(ShapeRegions, SquaredShapesAreCentredAndExplosionsFillTheBox) {
  for (int code : {0, 1, 15}) {
    TRegion r(BuildShapeRegion(code, 0, 0, 100, 50));
    const RECT b = Box(r.h);
    EXPECT_GE(b.left, 25) << code;
    EXPECT_LE(b.right, 75) << code;
    EXPECT_GE(b.right - b.left, 38) << code;  // the six-pointed star is 0.8 of its box wide
  }
  TRegion bolt(BuildShapeRegion(6, 0, 0, 100, 50));
  EXPECT_GE(Box(bolt.h).left, 25);
  EXPECT_LE(Box(bolt.h).right, 75);
  TRegion boom(BuildShapeRegion(8, 0, 0, 100, 50));
  EXPECT_LE(Box(boom.h).left, 3);  // its outermost points are sharp spikes
  EXPECT_GE(Box(boom.h).right, 97);
}

TEST(ComplexRegion, GrowsBy500AndIsNoneWhenEmpty) {
  TComplexRegion list;
  EXPECT_EQ(list.CreateRegion(), nullptr);
  for (int i = 0; i < 501; ++i) list.AddRect(i, 0, i + 1, 1);
  EXPECT_EQ(list.Capacity(), 1000);
  EXPECT_EQ(list.Count(), 501);
  const RECT bounds = list.Bounds();
  EXPECT_EQ((std::vector<LONG>{bounds.left, bounds.top, bounds.right, bounds.bottom}), (std::vector<LONG>{0, 0, 501, 1}));
  TRegion r(list.CreateRegion());
  ASSERT_NE(r.h, nullptr);
  EXPECT_EQ(Covered(r.h, 520, 2), 501);
  list.Clear();
  EXPECT_EQ(list.CreateRegion(), nullptr);
}

TEST(PatternRegions, StayInTheFrameGrowWithTheReachAndFillItAtFullReach) {
  const int W = 97, H = 61;
  EXPECT_EQ(BuildBarsRegion(50, 50, W, H, 0, 0), nullptr);
  TRegion zero(BuildBarsRegion(0, 0, W, H, 1, 0));
  ASSERT_NE(zero.h, nullptr);  // bars of width 0: a region covering nothing
  EXPECT_EQ(Covered(zero.h, W, H), 0);
  using TBuild = HRGN (*)(int, int, int, int, int, int);
  struct Case {
    const char* name;
    TBuild build;
    int modes[2];
    int fullX, fullY;
  };
  const Case cases[] = {{"bars", BuildBarsRegion, {2, 0}, 2 * W, 0}, {"bars", BuildBarsRegion, {0, 5}, 0, 2 * H},
                        {"bars", BuildBarsRegion, {3, 3}, W, H},       {"shredded", BuildShreddedRegion, {1, 0}, W, 0},
                        {"shredded", BuildShreddedRegion, {0, 2}, 0, H}, {"speckled", BuildSpeckledRegion, {2, 0}, W, 0},
                        {"speckled", BuildSpeckledRegion, {0, 1}, 0, H}};
  for (const Case& c : cases) {
    int last = -1;
    for (int part : {10, 40, 70, 100}) {
      RandSeed = 7;
      TRegion r(c.build(c.fullX * part / 100, c.fullY * part / 100, W, H, c.modes[0], c.modes[1]));
      ASSERT_NE(r.h, nullptr) << c.name;
      const int n = Covered(r.h, W, H);
      EXPECT_GT(n, last) << c.name << " " << part;
      last = n;
      if (part == 100) {
        EXPECT_EQ(n, W * H) << c.name;
      }
    }
  }
}

TEST(PatternRegions, ShreddedWithoutJitterAsksRandomForNothing) {
  // At full reach the jitter is 0 and Random(0) gives 0, never garbage.
  RandSeed = 99;
  TRegion r(BuildShreddedRegion(97, 61, 97, 61, 2, 2));
  EXPECT_EQ(Covered(r.h, 97, 61), 97 * 61);
  EXPECT_EQ(Random(0), 0);
  EXPECT_EQ(Random(-5), 0);
}

TEST(PieRegion, OneStepIsEmptyAndAFullTurnCoversTheCircle) {
  TRegion none(BuildPieRegion(50, 50, 40, 1, 0, -kPi / 2));
  EXPECT_EQ(Covered(none.h, 100, 100), 0);
  TRegion all(BuildPieRegion(50, 50, 40, 100, 2 * kPi - kPi / 2, -kPi / 2));
  EXPECT_GT(Covered(all.h, 100, 100), int(0.95 * kPi * 40 * 40));
}

TEST(RegionHelpers, RotateAndPolarPointTurnClockwiseOnScreen) {
  POINT p[1] = {{10, 0}};
  RotatePoints(p, 0, 0, 0, kPi / 2);
  EXPECT_EQ(p[0].x, 0);
  EXPECT_EQ(p[0].y, 10);
  const TPoint up = PolarPoint(TPoint{50, 50}, 10, 0), right = PolarPoint(TPoint{50, 50}, 10, 90);
  EXPECT_EQ(up.x, 50);
  EXPECT_EQ(up.y, 40);
  EXPECT_EQ(right.x, 60);
  EXPECT_EQ(right.y, 50);
}

void Put32(std::vector<uint8_t>& v, int32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(uint32_t(x) >> (8 * i)));
}

TEST(ShapeRegionsOracle, MatchScikitImageOutsideAOnePixelBand) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import skimage, numpy' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "scikit-image is not available";
  const int boxes[][2] = {{100, 50}, {50, 100}, {7, 3}, {1, 1}};
  std::vector<uint8_t> input;
  int count = 0;
  for (size_t i = 0; i < std::size(boxes); ++i) count += 16;
  Put32(input, count);
  for (const auto& b : boxes)
    for (int code = 0; code <= 15; ++code) {
      // The box sits at (3, 2) in a canvas 4 pixels larger on each side.
      const int cw = b[0] + 8, ch = b[1] + 8;
      TRegion r(BuildShapeRegion(code, 3, 2, b[0], b[1]));
      Put32(input, code), Put32(input, b[0]), Put32(input, b[1]), Put32(input, cw), Put32(input, ch);
      if (r.h) {
        const std::vector<uint8_t> m = Mask(r.h, cw, ch);
        input.insert(input.end(), m.begin(), m.end());
      } else {
        input.resize(input.size() + size_t(cw) * ch, 0);
      }
    }
  std::vector<uint8_t> output;
  std::string log;
  ASSERT_EQ(qvtest::RunOracleScript(std::string(QV_SOURCE_DIR) + "/tests/imaging/extras/transitions/regions_oracle.py",
                                    input, output, &log),
            0)
      << log;
  EXPECT_EQ(std::string(output.begin(), output.end()), "") << log;
}

}  // namespace
