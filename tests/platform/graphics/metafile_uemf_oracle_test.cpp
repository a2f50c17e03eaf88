// Metafiles that another program wrote: libUEMF, through the small generator in
// tests/generators, writes an EMF, a placeable WMF and a plain WMF of known
// shapes, and our player must draw each shape where the generator put it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gdi_test_helpers.h"
#include "metafile_test_helpers.h"
#include "platform/graphics/graphics.h"
#include "test_support.h"

using gditest::Dib;

namespace {

constexpr int W = 100, H = 80;

constexpr COLORREF kWhite = RGB(255, 255, 255), kBlack = RGB(0, 0, 0), kRed = RGB(255, 0, 0),
                   kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255), kYellow = RGB(255, 255, 0),
                   kMagenta = RGB(255, 0, 255), kCyan = RGB(0, 255, 255);

struct Probe {
  int x, y;
  COLORREF color;
  const char* what;
  bool enhancedOnly = false;
};

// Points well inside or well outside each shape the generator draws.
const Probe kProbes[] = {
    {5, 5, kWhite, "ground"},
    {25, 22, kRed, "rectangle inside"},
    {10, 20, kBlack, "rectangle's left edge"},
    {39, 20, kBlack, "rectangle's right edge (the box is exclusive)"},
    {41, 20, kWhite, "right of the rectangle"},
    {25, 34, kBlack, "rectangle's bottom edge"},
    {70, 23, kGreen, "ellipse centre"},
    {52, 23, kGreen, "ellipse near its left end"},
    {51, 9, kWhite, "ellipse box corner, outside the ellipse"},
    {25, 49, kBlue, "polyline above its axis"},
    {25, 51, kBlue, "polyline below its axis"},
    {25, 47, kWhite, "above the polyline"},
    {25, 53, kWhite, "below the polyline"},
    {40, 60, kBlue, "polyline's upright"},
    {44, 60, kWhite, "right of the upright"},
    {59, 47, kYellow, "picture's top left"},
    {69, 47, kMagenta, "picture's top right"},
    {59, 57, kCyan, "picture's bottom left"},
    {69, 57, kBlack, "picture's bottom right"},
    {74, 52, kWhite, "right of the picture"},
    {64, 62, kWhite, "below the picture"},
    {87, 68, kBlue, "triangle inside"},
    {78, 50, kWhite, "left of the triangle"},
    {97, 50, kWhite, "right of the triangle"},
    {16, 65, kMagenta, "pie's quarter", true},
    {8, 65, kWhite, "beside the pie's quarter", true},
    {16, 75, kWhite, "below the pie's quarter", true},
};

std::string ColorText(COLORREF c) {
  return "RGB(" + std::to_string(GetRValue(c)) + ", " + std::to_string(GetGValue(c)) + ", " +
         std::to_string(GetBValue(c)) + ")";
}

class UemfMetafileOracle : public ::testing::TestWithParam<const char*> {
protected:
  void SetUp() override {
#ifdef QV_UEMF_METAFILES
    const std::string generator = QV_UEMF_METAFILES;
#else
    const std::string generator;
#endif
    if (generator.empty() || !std::filesystem::exists(generator))
      GTEST_SKIP() << "libUEMF was not found when the tests were built (libuemf-dev)";
    ASSERT_EQ(qvtest::RunCommand("'" + generator + "' '" + dir.Path().string() + "'"), 0);
  }
  qvtest::TempDir dir;
};

TEST_P(UemfMetafileOracle, PlaysTheShapesWhereTheyWereWritten) {
  const std::string name = GetParam();
  TMetafile mf;
  mf.LoadFromFile(dir.File(name));
  const bool enhanced = name.ends_with(".emf");
  EXPECT_EQ(mf.Enhanced(), enhanced);
  // The EMF by its frame, the placeable WMF by its box, the plain one by its window extent.
  EXPECT_EQ(mf.Width(), W);
  EXPECT_EQ(mf.Height(), H);
  Dib d(W, H, 24);
  PatBlt(d.dc(), 0, 0, W, H, BLACKNESS);
  RECT r{0, 0, W, H};
  ASSERT_TRUE(PlayEnhMetaFile(d.dc(), mf.Handle(), &r));
  std::vector<uint8_t> bgr;
  for (int y = 0; y < H; ++y) bgr.insert(bgr.end(), d.Row(y), d.Row(y) + 3 * W);
  metafiletest::SavePicture("uemf_" + name + ".ppm", bgr, W, H);
  for (const Probe& p : kProbes) {
    if (p.enhancedOnly && !enhanced) continue;
    EXPECT_EQ(ColorText(GetPixel(d.dc(), p.x, p.y)), ColorText(p.color))
        << p.what << " at (" << p.x << ", " << p.y << ")";
  }
}

INSTANTIATE_TEST_SUITE_P(Files, UemfMetafileOracle, ::testing::Values("shapes.emf", "shapes.wmf", "plain.wmf"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                           std::string n = p.param;
                           return n.substr(0, n.find('.')) + (n.ends_with(".emf") ? "Emf" : "Wmf");
                         });

}  // namespace
