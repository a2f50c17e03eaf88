#include "imaging/core/ie_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/win/clipboard.h"

TEST(IEUtilsGeometry, Angles) {
  EXPECT_DOUBLE_EQ(LineAngle(0, 0, 10, 0), 0);
  EXPECT_DOUBLE_EQ(LineAngle(0, 0, 0, -10), M_PI / 2);  // up on the screen
  EXPECT_DOUBLE_EQ(LineAngle(0, 0, -10, 0), M_PI);
  EXPECT_DOUBLE_EQ(LineAngle(0, 0, 0, 10), 3 * M_PI / 2);
  EXPECT_DOUBLE_EQ(LineAngle(3, 3, 3, 3), 0);
  EXPECT_NEAR(LineAngle(0, 0, 10, -10) * 180 / M_PI, 45, 1e-9);
  EXPECT_NEAR(LineAngle(0, 0, -10, 5) * 180 / M_PI, 206.565, 1e-3);
  EXPECT_DOUBLE_EQ(SafeArcCos(1), 0);
  EXPECT_DOUBLE_EQ(SafeArcCos(-1), M_PI);
  // A straight line through B is a straight angle at B, whichever way it turns.
  EXPECT_NEAR(AngleAtVertex(0, 0, 5, 0, 10, 0), M_PI, 1e-9);
  // A right angle one way round is three right angles the other way.
  const double one = AngleAtVertex(10, 0, 0, 0, 0, 10), other = AngleAtVertex(0, 10, 0, 0, 10, 0);
  EXPECT_NEAR(std::min(one, other), M_PI / 2, 1e-9);
  EXPECT_NEAR(one + other, 2 * M_PI, 1e-9);
  EXPECT_EQ(AngleBetweenSegments(0, 0, 0, 0, 5, 5), 0);
  EXPECT_NEAR(AngleBetweenSegments(0, 0, 5, 0, 5, 5), M_PI / 2, 1e-9);
  EXPECT_EQ(TurnDirection(0, 0, 10, 0, 20, 0), 1);
  EXPECT_EQ(TurnDirection(0, 0, 10, 0, 5, 0), 0);
  EXPECT_EQ(TurnDirection(0, 0, 10, 0, -5, 0), -1);
  EXPECT_EQ(TurnDirection(0, 0, 10, 0, 5, 5), -TurnDirection(0, 0, 10, 0, 5, -5));
}

TEST(IEUtilsGeometry, Polygons) {
  const POINT square[4] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  EXPECT_TRUE(PointInPolygon(5, 5, square, 3));
  EXPECT_FALSE(PointInPolygon(15, 5, square, 3));
  EXPECT_TRUE(PointInScaledPolygon(25, 25, square, 4, 0, 0, 20, 20, 2, 2));
  EXPECT_FALSE(PointInScaledPolygon(5, 5, square, 4, 0, 0, 20, 20, 2, 2));
  POINT p[1] = {{10, 0}};
  RotatePolygonPoints(p, 0, 0, 0, 90);
  EXPECT_EQ(p[0].x, 0);
  EXPECT_EQ(std::abs(p[0].y), 10);
  RECT r{5, 5, 5, 5};
  IncludePointInRect(r, 1, 9);
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.bottom, 9);
  std::vector<POINT> bez;
  BezierPoints({0, 0}, {0, 10}, {10, 10}, {10, 0}, bez, 2);
  ASSERT_EQ(bez.size(), 2u);
  EXPECT_EQ(bez[0].x, 5);
  EXPECT_EQ(bez[0].y, 8);  // 7.5 rounds to even
  EXPECT_EQ(bez[1].x, 10);
  EXPECT_EQ(DistanceToRectangle(5, 5, 0, 0, 10, 10, true, 1), 0);
  EXPECT_DOUBLE_EQ(DistanceToRectangle(5, 5, 0, 0, 10, 10, false, 1), 5);
  EXPECT_LE(DistanceToEllipse(20, 10, 0, 0, 20, 20, false, 1), 1);
  EXPECT_GE(DistanceToEllipse(10, 10, 0, 0, 20, 20, false, 1), 7);  // chords cut inside the curve
  EXPECT_EQ(DistanceToEllipse(10, 10, 0, 0, 20, 20, true, 1), 0);
}

TEST(IEUtilsGeometry, Fitting) {
  int w = 0, h = 0;
  ScaleToFit(400, 200, 100, 100, w, h);
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 50);
  ScaleToFit(1000, 1, 10, 10, w, h);
  EXPECT_EQ(h, 1);  // never below 1
  SIZE s = FitSizeInBox(400, 200, 100, 100, false, false);
  EXPECT_EQ(s.cx, 100);
  EXPECT_EQ(s.cy, 50);
  s = FitSizeInBox(40, 20, 100, 100, false, false);  // no enlarging asked
  EXPECT_EQ(s.cx, 40);
  s = FitSizeInBox(40, 20, 100, 100, true, false);
  EXPECT_EQ(s.cx, 100);
  s = FitSizeInBox(40, 20, 100, 100, true, true);  // fill: covers the box
  EXPECT_EQ(s.cy, 100);
  const RECT c = FitRectInBox(50, 50, 100, 100, 10, 10, false, true, true, true, 0, false);
  EXPECT_EQ(c.left, 35);
  EXPECT_EQ(c.right, 85);
  const RECT m = FitRectInBox(200, 100, 100, 100, 0, 0, false, true, false, false, 10, false);
  EXPECT_EQ(m.right, 90);
  EXPECT_EQ(FitRectInBox(0, 5, 10, 10, 3, 4, true, true, false, false, 0, false).right, 0);
}

TEST(IEUtilsText, NumbersAndFractions) {
  int64_t n = 0, d = 0;
  FloatToFraction(0.75, 1e-6, n, d);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(d, 4);
  FloatToFraction(2, 1e-6, n, d);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(d, 1);
  FloatToFraction(-0.5, 1e-6, n, d);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(d, 2);
  FloatToFraction(M_PI, 1e-6, n, d);
  EXPECT_NEAR(double(n) / d, M_PI, 1e-6);
  FloatToFraction(1e-25, 1e-6, n, d);
  EXPECT_EQ(d, 999999999);
  EXPECT_EQ(FormatByteSize(1536, 1024), "1 KB");
  EXPECT_EQ(FormatByteSize(1000, 1024), "1,000 bytes");
  EXPECT_EQ(FloatToStrDot(1.5), "1.5");
}

TEST(IEUtilsText, ExtensionsAndUrls) {
  EXPECT_TRUE(ExtensionInList("PNG", "*.jpg;*.png"));
  EXPECT_TRUE(ExtensionInList(".png", "*.JPG;*.PNG"));
  EXPECT_FALSE(ExtensionInList("p", "*.p;*.png"));
  EXPECT_FALSE(ExtensionInList("pn", "*.png"));
  EXPECT_EQ(GetFileExtension("C:\\a.dir\\Photo.JPEG", true), ".jpeg");
  EXPECT_EQ(GetFileExtension("a.dir/photo", false), "");
  EXPECT_EQ(GetFileExtensionW(L"x.TIF", false), L"tif");
  EXPECT_TRUE(FileHasExtension("shot.Png", "*.gif;*.png"));
  EXPECT_EQ(URLKind("HTTP://x"), 1);
  EXPECT_EQ(URLKind("https://x"), 2);
  EXPECT_EQ(URLKind("ftp://x"), 3);
  EXPECT_EQ(URLKind("file://x"), 0);
  EXPECT_EQ(IsURLW(L"https://x"), 2);
  EXPECT_EQ(SwapWordIf(0x1234, true), 0x3412);
  EXPECT_EQ(SwapDWordIf(0x12345678u, false), 0x12345678u);
}

TEST(IEUtilsText, QuickSortThroughCallbacks) {
  std::mt19937 r(3);
  for (int n : {0, 1, 2, 17, 500}) {
    std::vector<int> v(static_cast<size_t>(n));
    for (auto& x : v) x = static_cast<int>(r() % 50);
    QuickSortIndices(
        n, [&](int i, int j) { std::swap(v[size_t(i)], v[size_t(j)]); },
        [&](int i, int j) { return v[size_t(i)] < v[size_t(j)] ? -1 : (v[size_t(i)] > v[size_t(j)] ? 1 : 0); });
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end())) << n;
  }
}

// Golden values from RFC 4648's test vectors.
TEST(IEUtilsText, Base64) {
  TMemoryStream m;
  m.WriteBuffer("foob", 4);
  m.SetPosition(0);
  std::string text;
  WriteStreamAsBase64(m, text, 76);
  EXPECT_EQ(text, "Zm9vYg==\n");
  TMemoryStream m2;
  m2.WriteBuffer("foobar", 6);
  m2.SetPosition(0);
  text.clear();
  WriteStreamAsBase64(m2, text, 4);
  EXPECT_EQ(text, "Zm9v\nYmFy\n");
  char out[4];
  const uint8_t f[3] = {'f', 'o', 0};
  EncodeBase64Group(f, out, 2);
  EXPECT_EQ(std::string(out, 4), "Zm8=");
}

TEST(IEUtilsClipboard, FormatsByName) {
  ASSERT_TRUE(OpenClipboardRetry());
  EmptyClipboard();
  const UINT raw = RegisterClipboardFormat("IMAGELIB RAW FORMAT");
  SetClipboardData(raw, nullptr);
  const UINT found = FindClipboardFormat("imagelib raw format");
  CloseClipboard();
  EXPECT_EQ(found, raw);
}

TEST(IEUtilsBackgrounds, StripesAndBellCurve) {
  const auto v = GaussianCurve(4, 130, 255, 0.5);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(int(v[0]), 240);
  EXPECT_EQ(int(v[1]), 251);
  EXPECT_EQ(int(v[2]), 255);
  EXPECT_EQ(int(v[3]), 251);
  TBitmap b;
  FillStripedBackground(b, 3, 5);
  EXPECT_EQ(b.PixelFormat(), pf24bit);
  EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(1))[2], 251);
  EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(4))[0], 240);
  TBitmap brushed;
  FillBrushedBackground(brushed, 300, 2);
  const auto* row = static_cast<uint8_t*>(brushed.ScanLine(0));
  EXPECT_GE(row[0], 160);
  EXPECT_LE(row[0], 170);
  EXPECT_GE(row[150 * 3], 208);
}

TEST(IEUtilsText, RuntimeWrappers) {
  EXPECT_EQ(CopySubstring("abcdef", 2, 3), "bcd");
  EXPECT_EQ(CopySubstring("abc", 5, 3), "");
  EXPECT_EQ(SubstringPos("cd", "abcdef"), 3);
  EXPECT_EQ(SubstringPos("x", "abc"), 0);
  EXPECT_EQ(StringToIntDefault("12x", 7), 7);
  EXPECT_EQ(TrimString("  a "), "a");
}
