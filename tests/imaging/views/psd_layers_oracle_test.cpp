// PSD documents through the input/output component with a view: ImageMagick
// writes three RLE layers that load as view layers (replacing or added), a
// single layer off the corner gives the picture its alpha, and a view's layers
// saved as PSD read back in psd-tools with names, places and pixels.
#include <string>

#include "imaging/formats/format_filters.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/views/psd_view_layers.h"
#include "tests/support/test_support.h"
#include "tests/imaging/io/io_test_support.h"
#include "view_test_support.h"

namespace {

class PsdLayersOracle : public ViewTest {
protected:
  void SetUp() override {
    ViewTest::SetUp();
    if (!qvtest::HaveProgram("/usr/bin/convert")) GTEST_SKIP() << "no ImageMagick";
    RegisterFormatFilters();
    qvtest::EnsureImageIO();
    RegisterPSDViewLayers();
  }
  std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
  // Three layers (written from 32-bit pictures: ImageMagick 6 writes a broken
  // document from layers of mixed kinds): a blue-grey 60 x 40 ground, red 20 x 10 at (10, 20), a half
  // transparent blue 15 x 15 at (30, 5); the first picture is the composite.
  std::string MakeThree(const qvtest::TempDir& dir) {
    const std::string d = dir.Path().string() + "/";
    const std::string cmd = "cd " + d +
                            " && /usr/bin/convert -size 60x40 xc:'#336699' PNG32:base.png"
                            " && /usr/bin/convert -size 20x10 xc:red PNG32:red.png"
                            " && /usr/bin/convert -size 15x15 xc:'rgba(0,0,255,0.5)' PNG32:blue.png"
                            " && /usr/bin/convert -page +0+0 base.png -page +0+0 base.png -page +10+20 red.png"
                            " -page +30+5 blue.png -compress RLE three.psd";
    EXPECT_EQ(qvtest::RunCommand(cmd + " 2>&1"), 0);
    return d + "three.psd";
  }
};

TEST_F(PsdLayersOracle, ImageMagickLayersBecomeViewLayers) {
  qvtest::TempDir dir;
  const std::string file = MakeThree(dir);
  MakeView(120, 90);
  TImageLibIO* io = view->GetIO();
  io->Params().PsdLoadLayers = true;
  io->Params().PsdReplaceLayers = true;
  io->LoadFile(Wide(file));
  ASSERT_FALSE(io->Aborting());
  ASSERT_EQ(view->GetLayersCount(), 3);
  EXPECT_EQ(view->GetLayer(1)->PosX, 10);
  EXPECT_EQ(view->GetLayer(1)->PosY, 20);
  EXPECT_EQ(view->GetLayer(2)->PosX, 30);
  EXPECT_EQ(view->GetLayer(1)->Bitmap()->GetPixelRGB(3, 3).r, 255);
  EXPECT_NEAR(view->GetLayer(2)->Bitmap()->GetAlpha(5, 5), 128, 1);
  // Added above the layers there are.
  io->Params().PsdReplaceLayers = false;
  io->LoadFile(Wide(file));
  EXPECT_EQ(view->GetLayersCount(), 6);
}

TEST_F(PsdLayersOracle, OneLayerOffTheCornerGivesItsAlphaInPlace) {
  qvtest::TempDir dir;
  const std::string d = dir.Path().string() + "/";
  ASSERT_EQ(qvtest::RunCommand("cd " + d +
                               " && /usr/bin/convert -size 20x10 xc:red PNG32:red.png"
                               " && /usr/bin/convert -size 60x40 xc:none -page +10+20 red.png -flatten PNG32:merged.png"
                               " && /usr/bin/convert -page +0+0 merged.png -page +10+20 red.png -compress RLE one.psd"
                               " 2>&1"),
            0);
  TIEBitmap picture;
  auto io = TImageLibIO::CreateForBitmap(&picture);
  io->Params().PsdLoadLayers = true;
  io->LoadFile(Wide(d + "one.psd"));
  ASSERT_FALSE(io->Aborting());
  ASSERT_EQ(picture.Width(), 60);
  ASSERT_TRUE(picture.HasAlphaChannel());
  EXPECT_EQ(picture.GetAlpha(9, 19), 0);
  EXPECT_EQ(picture.GetAlpha(10, 20), 255);
  EXPECT_EQ(picture.GetAlpha(29, 29), 255);
  EXPECT_EQ(picture.GetAlpha(30, 29), 0);
  EXPECT_EQ(picture.GetAlpha(59, 39), 0);
}

TEST_F(PsdLayersOracle, ViewLayersSavedAsPsdReadBackInPsdTools) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import psd_tools' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no psd-tools";
  qvtest::TempDir dir;
  const std::string file = MakeThree(dir);
  MakeView(120, 90);
  TImageLibIO* io = view->GetIO();
  io->Params().PsdLoadLayers = true;
  io->LoadFile(Wide(file));
  ASSERT_EQ(view->GetLayersCount(), 3);
  view->GetLayer(1)->Name = "red";
  view->GetLayer(1)->PosX = 12;
  const std::string out = dir.File("saved.psd");
  io->SaveFile(Wide(out));
  ASSERT_FALSE(io->Aborting());
  std::string text;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 -c \"\nfrom psd_tools import PSDImage\np=PSDImage.open('" + out +
                                   "')\nfor l in p:\n  px=l.topil().convert('RGBA').getpixel((2,2))\n  print(l.name, "
                                   "l.offset[0], l.offset[1], l.size[0], l.size[1], px[0], px[1], px[2], px[3])\n\"",
                               &text),
            0)
      << text;
  EXPECT_NE(text.find("red 12 20 20 10 255 0 0 255"), std::string::npos) << text;
  EXPECT_NE(text.find(" 30 5 15 15 0 0 255 12"), std::string::npos) << text;
}

}  // namespace
