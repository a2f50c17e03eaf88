// The option rules the main window applies before it rebuilds the base icon.
#include <gtest/gtest.h>

#include "app/icon_converter.h"
#include "app/rebuild_options.h"
#include "base/toolbox/resample_filters.h"

namespace {

TEST(ResolveResampleFilterTest, AutoDependsOnTheSideThatReaches48) {
  struct {
    int filter, w, h;
    bool smooth;
    int expect;
  } cases[] = {
      {irfAuto, 48, 47, true, irfBSpline},  {irfAuto, 49, 10, true, irfLanczos3}, {irfAuto, 10, 48, true, irfLanczos3},
      {irfAuto, 48, 48, true, irfLanczos3}, {irfMitchell, 10, 10, true, irfMitchell}, {irfAuto, 100, 100, false, irfNone},
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
