// Regions: shapes, combinations, data blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/graphics/gdi.h"

namespace {

std::vector<RECT> RectsOf(HRGN rgn) {
  DWORD size = GetRegionData(rgn, 0, nullptr);
  std::vector<uint8_t> buf(size);
  auto* data = reinterpret_cast<RGNDATA*>(buf.data());
  EXPECT_EQ(GetRegionData(rgn, size, data), size);
  std::vector<RECT> out(data->rdh.nCount);
  std::memcpy(out.data(), data->Buffer, out.size() * sizeof(RECT));
  return out;
}

int64_t Area(HRGN rgn) {
  int64_t a = 0;
  for (const RECT& r : RectsOf(rgn)) a += int64_t{r.right - r.left} * (r.bottom - r.top);
  return a;
}

struct CombineCase {
  const char* name;
  int mode;
  int type;
  int64_t area;
  POINT in, out;
};
// How the case reads in the test list and in a failure.
void PrintTo(const CombineCase& c, std::ostream* os) { *os << c.name; }

class GdiCombine : public ::testing::TestWithParam<CombineCase> {};

// (0,0)-(10,10) with (5,5)-(15,15): overlap 25, union 175.
TEST_P(GdiCombine, TwoOverlappingSquares) {
  const CombineCase& c = GetParam();
  HRGN a = CreateRectRgn(0, 0, 10, 10), b = CreateRectRgn(5, 5, 15, 15), r = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(CombineRgn(r, a, b, c.mode), c.type);
  EXPECT_EQ(Area(r), c.area);
  EXPECT_TRUE(PtInRegion(r, c.in.x, c.in.y));
  EXPECT_FALSE(PtInRegion(r, c.out.x, c.out.y));
  // Rectangles come in bands, top to bottom and left to right, without overlap.
  auto rects = RectsOf(r);
  for (size_t i = 1; i < rects.size(); ++i)
    EXPECT_TRUE(rects[i].top > rects[i - 1].top ||
                (rects[i].top == rects[i - 1].top && rects[i].left >= rects[i - 1].right));
  DeleteObject(a);
  DeleteObject(b);
  DeleteObject(r);
}

INSTANTIATE_TEST_SUITE_P(Modes, GdiCombine,
                         ::testing::Values(CombineCase{"and", RGN_AND, SIMPLEREGION, 25, {6, 6}, {4, 4}},
                                           CombineCase{"or", RGN_OR, COMPLEXREGION, 175, {14, 14}, {14, 2}},
                                           CombineCase{"xor", RGN_XOR, COMPLEXREGION, 150, {2, 2}, {7, 7}},
                                           CombineCase{"diff", RGN_DIFF, COMPLEXREGION, 75, {2, 7}, {7, 7}},
                                           CombineCase{"copy", RGN_COPY, SIMPLEREGION, 100, {9, 9}, {10, 10}}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(GdiRegion, DataRoundTripsThroughExtCreateRegion) {
  HRGN e = CreateEllipticRgn(0, 0, 21, 13);
  DWORD size = GetRegionData(e, 0, nullptr);
  std::vector<uint8_t> buf(size + 4);
  ASSERT_EQ(GetRegionData(e, size, reinterpret_cast<RGNDATA*>(buf.data())), size);
  const auto* data = reinterpret_cast<RGNDATA*>(buf.data());
  EXPECT_EQ(data->rdh.dwSize, 32u);
  EXPECT_EQ(data->rdh.iType, RDH_RECTANGLES);
  EXPECT_EQ(data->rdh.nRgnSize, data->rdh.nCount * 16);
  EXPECT_EQ(data->rdh.rcBound.left, 0);
  EXPECT_EQ(data->rdh.rcBound.right, 21);
  EXPECT_EQ(data->rdh.rcBound.bottom, 13);
  HRGN again = ExtCreateRegion(nullptr, size + 4, data);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(EqualRgn(e, again));
  EXPECT_TRUE(PtInRegion(e, 10, 6));
  EXPECT_FALSE(PtInRegion(e, 0, 0));
  EXPECT_EQ(GetRegionData(e, size - 1, reinterpret_cast<RGNDATA*>(buf.data())), 0u);
  // Overlapping rectangles in a data block merge.
  struct {
    RGNDATAHEADER h;
    RECT r[2];
  } block;
  block.h.nCount = 2;
  block.r[0] = RECT{0, 0, 4, 4};
  block.r[1] = RECT{2, 2, 6, 6};
  HRGN merged = ExtCreateRegion(nullptr, sizeof(block), reinterpret_cast<RGNDATA*>(&block));
  EXPECT_EQ(Area(merged), 28);
  // Malformed blocks are refused.
  block.h.nCount = 3;
  EXPECT_EQ(ExtCreateRegion(nullptr, sizeof(block), reinterpret_cast<RGNDATA*>(&block)), nullptr);
  block.h.nCount = 2;
  block.h.dwSize = 16;
  EXPECT_EQ(ExtCreateRegion(nullptr, sizeof(block), reinterpret_cast<RGNDATA*>(&block)), nullptr);
  EXPECT_EQ(ExtCreateRegion(nullptr, 8, reinterpret_cast<RGNDATA*>(&block)), nullptr);
  DeleteObject(e);
  DeleteObject(again);
  DeleteObject(merged);
}

// A move past the end of the coordinate range stops at the end instead of
// wrapping round to the other side (a metafile can ask for any offset).
TEST(GdiRegion, MovesStopAtTheEndsOfTheRange) {
  HRGN r = CreateRectRgn(-10, 0, 10, 20);
  OffsetRgn(r, INT32_MIN, 0);
  RECT box;
  ASSERT_EQ(GetRgnBox(r, &box), SIMPLEREGION);
  EXPECT_EQ(box.left, INT32_MIN);
  EXPECT_EQ(box.right, INT32_MIN + 10);
  OffsetRgn(r, 0, INT32_MIN);
  OffsetRgn(r, 0, -100);
  EXPECT_EQ(GetRgnBox(r, &box), NULLREGION) << "squeezed to nothing";
  DeleteObject(r);
}

TEST(GdiRegion, ShapesMovesAndBoxes) {
  POINT tri[3] = {{0, 0}, {10, 0}, {0, 10}};
  HRGN t = CreatePolygonRgn(tri, 3, ALTERNATE);
  EXPECT_TRUE(PtInRegion(t, 1, 1));
  EXPECT_FALSE(PtInRegion(t, 8, 8));
  EXPECT_EQ(Area(t), 45);  // rows 0..8 hold 9, 8, ... 1 pixel centres
  EXPECT_EQ(OffsetRgn(t, 100, 50), COMPLEXREGION);
  RECT box;
  EXPECT_EQ(GetRgnBox(t, &box), COMPLEXREGION);
  EXPECT_EQ(box.left, 100);
  EXPECT_EQ(box.top, 50);
  EXPECT_EQ(box.right, 109);
  EXPECT_EQ(box.bottom, 59);
  RECT probe{108, 58, 120, 70};
  EXPECT_FALSE(RectInRegion(t, &probe));
  probe = RECT{100, 50, 101, 51};
  EXPECT_TRUE(RectInRegion(t, &probe));
  HRGN rr = CreateRoundRectRgn(0, 0, 20, 20, 10, 10);
  EXPECT_FALSE(PtInRegion(rr, 0, 0));
  EXPECT_TRUE(PtInRegion(rr, 10, 0));
  EXPECT_TRUE(PtInRegion(rr, 0, 10));
  HRGN empty = CreateRectRgn(5, 5, 5, 9);
  EXPECT_EQ(GetRgnBox(empty, &box), NULLREGION);
  // Huge shapes stay bounded.
  HRGN huge = CreateEllipticRgn(-2000000000, -2000000000, 2000000000, 2000000000);
  EXPECT_NE(huge, nullptr);
  EXPECT_EQ(CreatePolygonRgn(tri, 1, ALTERNATE), nullptr);
  DeleteObject(t);
  DeleteObject(rr);
  DeleteObject(empty);
  DeleteObject(huge);
}

}  // namespace
