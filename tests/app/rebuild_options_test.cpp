// The option rules the main window applies before it rebuilds the base icon.
#include <gtest/gtest.h>

#include "app/icon_converter.h"
#include "app/rebuild_options.h"
#include "base/toolbox/resample_filters.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/graphics_bitmap.h"

#include <memory>

namespace {

TEST(ResolveResampleFilterTest, AutoDependsOnTheSideThatReaches48) {
  struct {
    TIconResampleFilter filter;
    int w, h;
    bool smooth;
    int expect;
  } cases[] = {
      {irfAuto, 48, 47, true, irfBSpline},      {irfAuto, 49, 10, true, irfLanczos3},
      {irfAuto, 10, 48, true, irfLanczos3},     {irfAuto, 48, 48, true, irfLanczos3},
      {irfMitchell, 10, 10, true, irfMitchell}, {irfAuto, 100, 100, false, irfNone},
      {irfHermite, 100, 100, false, irfNone},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ResolveResampleFilter(c.filter, c.w, c.h, c.smooth), c.expect) << c.w << "x" << c.h;
}

TEST(TransparencyFromChoiceTest, ModeAndColourPerRadioButton) {
  int mode = -1;
  TColor colour = 0;
  TransparencyFromChoice(tcAsIs, 0x123456, mode, colour);
  EXPECT_EQ(mode, itmNone);
  EXPECT_EQ(colour, clNone);
  TransparencyFromChoice(tcCustomColor, 0x123456, mode, colour);
  EXPECT_EQ(mode, itmColor);
  EXPECT_EQ(colour, TColor(0x123456));
  TransparencyFromChoice(tcCustomColor, clNone, mode, colour);
  EXPECT_EQ(mode, itmNone);
  TransparencyFromChoice(tcLeftBottom, 0x123456, mode, colour);
  EXPECT_EQ(mode, itmBottomLeft);
  EXPECT_EQ(colour, clNone);
}

TEST(SharpnessPresetTest, JpegAndTiffSourcesLargerThan48) {
  EXPECT_EQ(SharpnessPreset(48, 100, sftJpeg, "jpg"), 0);
  EXPECT_EQ(SharpnessPreset(49, 49, sftJpeg, "jpg"), 6);
  EXPECT_EQ(SharpnessPreset(49, 49, sftTiff, "tif"), 6);
  EXPECT_EQ(SharpnessPreset(200, 200, sftUnknown, "jp2"), 6);
  EXPECT_EQ(SharpnessPreset(200, 200, sftUnknown, "j2c"), 6);
  EXPECT_EQ(SharpnessPreset(200, 200, sftPng, "png"), 0);
  EXPECT_EQ(SharpnessPreset(200, 200, sftJpegCmyk, "jpg"), 6);
}

TEST(SourceMessages, NameTheFile) {
  EXPECT_EQ(UnknownSourceMessage("C:\\a.xyz"), "Unknown file format: C:\\a.xyz");
  EXPECT_NE(NoImageSourceMessage("x.ico").find("x.ico"), std::string::npos);
}

}  // namespace

namespace {

TEST(BuildBaseIconTest, TransparencyControlsReachTheConverter) {
  auto picture = [] {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(16, 16);
    b->Canvas()->Brush()->SetColor(TColor(0x00FF00));
    b->Canvas()->FillRect(TRect{0, 0, 16, 16});
    b->Canvas()->SetPixels(0, 15, TColor(0x0000FF));
    return b;
  };
  struct {
    TTransparencyChoice choice;
    TColor custom;
    bool cornerKeyed, greenKeyed;
  } cases[] = {{tcAsIs, clNone, false, false},
               {tcLeftBottom, clNone, true, false},
               {tcCustomColor, TColor(0x00FF00), false, true},
               {tcCustomColor, clNone, false, false}};
  for (const auto& c : cases) {
    TBaseIconOptions o;
    o.Transparency = c.choice;
    o.CustomColor = c.custom;
    TAdvancedIcon base;
    auto p = picture();
    BuildBaseIcon(p.get(), o, base);
    TSubIcon* im = base.FindImage(16, 16, 32);
    ASSERT_NE(im, nullptr);
    TBitmap raw;
    ExtractBitmaps(*im, nullptr, &raw, kNoBackground, nullptr);
    EXPECT_EQ(static_cast<uint32_t*>(raw.ScanLine(15))[0] >> 24 == 0, c.cornerKeyed) << c.choice;
    EXPECT_EQ(static_cast<uint32_t*>(raw.ScanLine(5))[5] >> 24 == 0, c.greenKeyed) << c.choice;
  }
}

}  // namespace
