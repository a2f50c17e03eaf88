// The magic wand's region finders: the connected region against scipy's
// 4-connected labelling in several pixel formats, the contour as the outline
// that fills back to the region, and the seeds and tolerances at the edges.
#include "imaging/core/ie_magic_wand.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_mask.h"
#include "tests/support/test_support.h"

namespace {

void Put32(std::vector<uint8_t>& v, int32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(uint32_t(x) >> (8 * i)));
}

// Three colours, two of them one step apart in red: with tolerance 0 the
// seed's colour forms small islands, with tolerance 1 the two join into large
// winding regions.
const TRGB kColors[3] = {MakeRGB(100, 100, 100), MakeRGB(101, 100, 100), MakeRGB(200, 40, 60)};

std::unique_ptr<TIEBitmap> Patches(int w, int h, uint32_t seed, TIEBitmapFormat format) {
  auto b = std::make_unique<TIEBitmap>(w, h, format);
  if (format == ie8p)
    for (int i = 0; i < 3; ++i) b->SetPaletteColor(i, kColors[i]);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int k = int(seed >> 30) % 3;
      switch (format) {
        case ie8p: b->ScanLine(y)[x] = uint8_t(k); break;
        case ie8g: b->ScanLine(y)[x] = uint8_t(kColors[k].r); break;
        case ie1g: SetBit(b->ScanLine(y), x, k == 2); break;
        default: b->SetPixelRGB(x, y, kColors[k]); break;
      }
    }
  return b;
}

std::vector<uint8_t> MaskPlane(const TIEMask& m, int w, int h) {
  std::vector<uint8_t> out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out.push_back(m.GetPixel(x, y) ? 1 : 0);
  return out;
}

std::vector<uint8_t> ContourPlane(TIEBitmap& b, int x, int y, int tolerance, bool grow) {
  int count = -1;
  auto points = TraceMagicWandContour(b, x, y, count, tolerance, grow);
  TIEMask m;
  m.Allocate(b.Width(), b.Height(), 8);
  if (points) m.FillPolygon(255, points.get(), count);
  return MaskPlane(m, b.Width(), b.Height());
}

TEST(MagicWandOracle, RegionsEqualScipyLabellingInEveryFormat) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import scipy.ndimage' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "scipy is not available";
  struct Case {
    TIEBitmapFormat format;
    int w, h, x, y, tolerance;
  };
  const Case cases[] = {
      {ie24RGB, 40, 30, 0, 0, 0},   {ie24RGB, 40, 30, 17, 12, 1}, {ie24RGB, 40, 30, 39, 29, 1},
      {ie24RGB, 33, 21, 5, 20, 60}, {ie24RGB, 1, 17, 0, 8, 1},    {ie24RGB, 23, 1, 11, 0, 0},
      {ie8p, 37, 29, 20, 3, 1},     {ie8g, 31, 26, 9, 9, 1},      {ie1g, 45, 19, 30, 10, 0},
  };
  std::vector<uint8_t> input;
  std::vector<std::unique_ptr<TIEBitmap>> images;
  Put32(input, int32_t(std::size(cases)));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    images.push_back(Patches(c.w, c.h, uint32_t(i * 7 + 3), c.format));
    for (int v : {c.w, c.h, c.x, c.y, c.tolerance}) Put32(input, v);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        const TRGB p = images.back()->GetPixelAsRGB(x, y);
        input.insert(input.end(), {p.r, p.g, p.b});
      }
  }
  std::vector<uint8_t> want;
  std::string log;
  ASSERT_EQ(qvtest::RunOracleScript(std::string(QV_SOURCE_DIR) + "/tests/imaging/core/wand_oracle.py", input, want, &log), 0) << log;
  size_t pos = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    TIEBitmap& b = *images[i];
    const size_t n = size_t(c.w) * size_t(c.h);
    ASSERT_LE(pos + 3 * n, want.size());
    const std::vector<uint8_t> component(want.begin() + pos, want.begin() + pos + n);
    const std::vector<uint8_t> grown(want.begin() + pos + n, want.begin() + pos + 2 * n);
    const std::vector<uint8_t> similar(want.begin() + pos + 2 * n, want.begin() + pos + 3 * n);
    pos += 3 * n;
    for (int bits : {1, 8}) {
      TIEMask flood, wide, all;
      for (TIEMask* m : {&flood, &wide, &all}) m->Allocate(c.w, c.h, bits);
      FloodFillToMask(b, c.x, c.y, 1, flood, c.tolerance, false);
      FloodFillToMask(b, c.x, c.y, 1, wide, c.tolerance, true);
      SelectColorToMask(b, c.x, c.y, 1, all, c.tolerance);
      EXPECT_EQ(MaskPlane(flood, c.w, c.h), component) << "case " << i << ", " << bits << " bits";
      EXPECT_EQ(MaskPlane(wide, c.w, c.h), grown) << "case " << i << ", " << bits << " bits";
      EXPECT_EQ(MaskPlane(all, c.w, c.h), similar) << "case " << i << ", " << bits << " bits";
    }
  }
}

// A region drawn as text: '#' is the seed's colour, '.' another one.
std::unique_ptr<TIEBitmap> Drawn(const std::vector<std::string>& rows) {
  auto b = std::make_unique<TIEBitmap>(int(rows[0].size()), int(rows.size()), ie24RGB);
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x)
      b->SetPixelRGB(x, y, rows[size_t(y)][size_t(x)] == '#' ? MakeRGB(10, 200, 30) : MakeRGB(250, 250, 250));
  return b;
}

TEST(MagicWand, ContourFillsBackToTheRegion) {
  const std::vector<std::vector<std::string>> shapes = {
      {"..........", "..####....", "..####....", "..####....", ".........."},
      {"##########", "##########", "##......##", "##......##", "##########"},
      {"..........", ".##.......", ".##.......", ".######...", ".######...", ".........."},
      {"....##....", "...####...", "..######..", ".########.", "..######..", "...####...", "....##...."},
      {"#"},
  };
  for (size_t i = 0; i < shapes.size(); ++i) {
    auto b = Drawn(shapes[i]);
    int sx = 0, sy = 0;
    while (shapes[i][size_t(sy)][size_t(sx)] != '#')
      if (++sx == b->Width()) sx = 0, ++sy;
    TIEMask region;
    region.Allocate(b->Width(), b->Height(), 8);
    FloodFillToMask(*b, sx, sy, 255, region, 0, false);
    // The outline of a ring is its outer edge: the hole fills too.
    std::vector<uint8_t> want = MaskPlane(region, b->Width(), b->Height());
    if (i == 1)
      for (int y = 2; y <= 3; ++y)
        for (int x = 2; x <= 7; ++x) want[size_t(y * b->Width() + x)] = 1;
    EXPECT_EQ(ContourPlane(*b, sx, sy, 0, false), want) << "shape " << i;
  }
}

TEST(MagicWand, IsolatedPixelGrowAndSeedsOutside) {
  auto b = Drawn({".......", ".......", ".......", "...#...", ".......", "......."});
  int count = -1;
  auto points = TraceMagicWandContour(*b, 3, 3, count, 0, false);
  ASSERT_TRUE(points);
  std::set<std::pair<int, int>> corners;
  for (int i = 0; i < count; ++i) corners.insert({points[size_t(i)].x, points[size_t(i)].y});
  EXPECT_EQ(corners, (std::set<std::pair<int, int>>{{3, 3}, {4, 3}, {4, 4}, {3, 4}}));

  // Grown, the outline is that of the 3 x 3 block around it.
  points = TraceMagicWandContour(*b, 3, 3, count, 0, true);
  ASSERT_TRUE(points);
  corners.clear();
  for (int i = 0; i < count; ++i) corners.insert({points[size_t(i)].x, points[size_t(i)].y});
  EXPECT_EQ(corners, (std::set<std::pair<int, int>>{{2, 2}, {5, 2}, {5, 5}, {2, 5}}));

  // Grown at the image's corner, the block is clipped to the image.
  auto corner = Drawn({"#..", "...", "..."});
  EXPECT_EQ(ContourPlane(*corner, 0, 0, 0, true), (std::vector<uint8_t>{1, 1, 0, 1, 1, 0, 0, 0, 0}));

  for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {7, 0}, {0, 6}}) {
    TIEMask m;
    m.Allocate(7, 6, 1);
    FloodFillToMask(*b, x, y, 1, m, 255, true);
    SelectColorToMask(*b, x, y, 1, m, 255);
    EXPECT_TRUE(m.IsEmpty());
    count = -1;
    EXPECT_EQ(TraceMagicWandContour(*b, x, y, count, 255, false), nullptr);
    EXPECT_EQ(count, 0);
  }
  TIEBitmap empty;
  int n = -1;
  EXPECT_EQ(TraceMagicWandContour(empty, 0, 0, n, 0, false), nullptr);
  EXPECT_EQ(n, 0);
}

TEST(MagicWand, MaskValueAndSelectionsAddUp) {
  // Two blocks of one colour joined only at a corner: the fill takes one, the
  // colour selection both; an 8-bit mask keeps the value given.
  auto b = Drawn({"##..", "##..", "..##", "..##"});
  TIEMask m;
  m.Allocate(4, 4, 8);
  FloodFillToMask(*b, 0, 0, 77, m, 0, false);
  EXPECT_EQ(m.GetPixel(1, 1), 77);
  EXPECT_EQ(m.GetPixel(2, 2), 0);
  EXPECT_EQ(m.X2(), 1);
  SelectColorToMask(*b, 0, 0, 200, m, 0);
  EXPECT_EQ(m.GetPixel(1, 1), 200);
  EXPECT_EQ(m.GetPixel(3, 3), 200);
  EXPECT_EQ(m.GetPixel(2, 0), 0);
  EXPECT_EQ(m.X2(), 3);
}

}  // namespace
