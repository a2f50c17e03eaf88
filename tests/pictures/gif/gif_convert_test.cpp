// Colour reduction, frames made from bitmaps and masks, rendering and masked drawing.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "gif_test_util.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_metafile.h"
#include "test_support.h"

using namespace giftest;

namespace {

// A pf24bit bitmap from rows of 0x00BBGGRR colours.
void Fill24(TBitmap& b, int w, int h, const std::function<uint32_t(int, int)>& colour) {
  b.SetPixelFormat(pf24bit);
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < w; ++x) {
      const uint32_t c = colour(x, y);
      row[x * 3] = (c >> 16) & 0xFF;
      row[x * 3 + 1] = (c >> 8) & 0xFF;
      row[x * 3 + 2] = c & 0xFF;
    }
  }
}

std::vector<PALETTEENTRY> PaletteOf(TBitmap& b) {
  std::vector<PALETTEENTRY> e(256);
  e.resize(GetPaletteEntries(b.GetPalette(), 0, 256, e.data()));
  return e;
}

TEST(GifReduction, LookupsMapAsTheirRulesSay) {
  TMonochromeLookup mono;
  int r = 128, g = 128, b = 128;
  EXPECT_EQ(mono.FindIndex(r, g, b), 1);
  EXPECT_EQ(r, 255);
  r = g = b = 127;
  EXPECT_EQ(mono.FindIndex(r, g, b), 0);
  TNetscapeColorLookup cube;
  r = 47, g = 48, b = 255;
  EXPECT_EQ(cube.FindIndex(r, g, b), 5 + 6 * 1 + 0);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(g, 51);
  TGrayScaleLookup grey;
  r = 255, g = 0, b = 0;
  EXPECT_EQ(grey.FindIndex(r, g, b), 76);
}

TEST(GifReduction, MethodsGiveTheirPalettesAndLeaveTheSourceAlone) {
  // A grey ramp through the four system greys, nearest colour only.
  TBitmap ramp;
  Fill24(ramp, 256, 2, [](int x, int) { return static_cast<uint32_t>(x * 0x010101); });
  std::unique_ptr<TBitmap> four = ReduceBitmapColors(&ramp, rdSystemGray4, dkNearest, nullptr, 8);
  ASSERT_EQ(four->PixelFormat(), pf8bit);
  std::set<int> used;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 256; ++x) used.insert(static_cast<uint8_t*>(four->ScanLine(y))[x]);
  EXPECT_EQ(used, (std::set<int>{0, 1, 2, 3}));

  // Octree of a picture of three colours: exactly those first, black after.
  TBitmap three;
  Fill24(three, 9, 3, [](int x, int) { return x < 3 ? 0x0000F0u : x < 6 ? 0x00F000u : 0x102030u; });
  std::unique_ptr<TBitmap> oct = ReduceBitmapColors(&three, rdOctree, dkNearest, nullptr, 8);
  std::vector<PALETTEENTRY> p = PaletteOf(*oct);
  ASSERT_GE(p.size(), 3u);
  std::set<uint32_t> firstThree;
  for (int i = 0; i < 3; ++i) firstThree.insert(p[i].peRed | (p[i].peGreen << 8) | (p[i].peBlue << 16));
  EXPECT_EQ(firstThree, (std::set<uint32_t>{0x0000F0, 0x00F000, 0x102030}));
  for (size_t i = 3; i < p.size(); ++i) EXPECT_EQ(p[i].peRed | p[i].peGreen | p[i].peBlue, 0);

  // A 32-bit source with alpha is read through a copy: it keeps its format and alpha.
  TBitmap alpha;
  alpha.SetPixelFormat(pf32bit);
  alpha.SetSize(4, 4);
  for (int y = 0; y < 4; ++y) std::memset(alpha.ScanLine(y), 0x80, 16);
  std::unique_ptr<TBitmap> cube = ReduceBitmapColors(&alpha, rdCube216, dkFloydSteinberg, nullptr, 8);
  EXPECT_EQ(alpha.PixelFormat(), pf32bit);
  EXPECT_EQ(static_cast<uint8_t*>(alpha.ScanLine(2))[3], 0x80);
  EXPECT_EQ(cube->PixelFormat(), pf8bit);
  EXPECT_EQ(ReduceBitmapColors(&alpha, static_cast<TGIFReductionMethod>(12), dkNearest, nullptr, 8)->Empty(), true);
}

TEST(GifReduction, EveryDithererKeepsTheAverageGrey) {
  TBitmap gradient;
  Fill24(gradient, 64, 16, [](int x, int y) { return static_cast<uint32_t>(96 + (x + y) % 8) * 0x010101; });
  double want = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 64; ++x) want += 96 + (x + y) % 8;
  want /= 64 * 16;
  for (int kind = dkNearest; kind <= dkBurkes; ++kind) {
    std::unique_ptr<TBitmap> out = ReduceBitmapColors(&gradient, rdMonochrome, static_cast<TGIFDitherKind>(kind), nullptr, 8);
    double got = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 64; ++x) got += static_cast<uint8_t*>(out->ScanLine(y))[x] * 255;
    got /= 64 * 16;
    if (kind == dkNearest) EXPECT_EQ(got, 0) << "no diffusion: every grey is nearer black";
    else EXPECT_NEAR(got, want, 6) << "ditherer " << kind;
  }
}

TEST(GifConvert, FramesFromBitmapsTakeTheirColoursAndMasks) {
  TGIFImage image;
  image.SetReductionMethod(rdNone);
  TBitmap three;
  Fill24(three, 3, 2, [](int x, int y) { return (x + y) % 3 == 0 ? 0x0000FFu : (x + y) % 3 == 1 ? 0x00FF00u : 0xFF0000u; });
  auto frame = std::make_unique<TGIFSubImage>(&image);
  frame->Assign(&three);
  EXPECT_EQ(frame->LocalMap().EntryCount(), 3);
  EXPECT_EQ(frame->LocalMap().RawColor(0), 0x0000FFu) << "colours in the order they first appear";
  EXPECT_EQ(frame->LocalMap().RawColor(1), 0x00FF00u);

  TBitmap emptyMask;
  emptyMask.SetPixelFormat(pf1bit);
  emptyMask.SetSize(3, 2);
  emptyMask.Canvas()->Brush()->SetColor(clBlack);
  emptyMask.Canvas()->FillRect(TRect{0, 0, 3, 2});
  frame->SetFromBitmap(&three, &emptyMask, -1);
  EXPECT_EQ(frame->LocalMap().EntryCount(), 3);
  EXPECT_EQ(frame->ControlExtension(), nullptr);
  frame->SetFromBitmap(&three, &emptyMask, 5);
  EXPECT_EQ(frame->ControlExtension(), nullptr);

  TBitmap mask;
  mask.Assign(&emptyMask);
  mask.Canvas()->SetPixels(1, 0, clWhite);
  frame->SetFromBitmap(&three, &mask, -1);
  ASSERT_TRUE(frame->IsTransparent());
  EXPECT_EQ(frame->PixelAt(1, 0), frame->TransparentIndex());
  EXPECT_EQ(frame->LocalMap().EntryCount(), 4);

  // A full table cannot take a transparent colour: the mask is ignored.
  TBitmap many;
  Fill24(many, 256, 1, [](int x, int) { return static_cast<uint32_t>(x); });
  TBitmap wide;
  wide.SetPixelFormat(pf1bit);
  wide.SetSize(256, 1);
  wide.Canvas()->Brush()->SetColor(clWhite);
  wide.Canvas()->FillRect(TRect{0, 0, 256, 1});
  frame->SetFromBitmap(&many, &wide, -1);
  EXPECT_FALSE(frame->IsTransparent());
  EXPECT_EQ(frame->LocalMap().EntryCount(), 256);
}

TEST(GifConvert, IconMakerSaveShowsTheMaskTransparent) {
  if (!HavePillow()) GTEST_SKIP() << "Pillow is not installed";
  TBitmap picture;
  Fill24(picture, 16, 16, [](int x, int y) { return static_cast<uint32_t>(x * 16) | (static_cast<uint32_t>(y * 16) << 8); });
  TBitmap mask;
  mask.SetPixelFormat(pf1bit);
  mask.SetSize(16, 16);
  mask.Canvas()->Brush()->SetColor(clBlack);
  mask.Canvas()->FillRect(TRect{0, 0, 16, 16});
  mask.Canvas()->Brush()->SetColor(clWhite);
  mask.Canvas()->FillRect(TRect{0, 0, 16, 4});
  TGIFImage image;
  image.SetFromBitmapAndMask(&picture, &mask, -1);
  image.OptimizeFrames(ofMerge | ofCleanup | ofColorTables, rdNone, dkNearest, 8);
  qvtest::TempDir dir;
  const std::string file = dir.File("icon.gif");
  qvtest::WriteFileBytes(file, SaveToBytes(image));
  std::string out;
  ASSERT_EQ(RunPython("from PIL import Image\nim = Image.open('" + file +
                          "').convert('RGBA')\nprint(im.getpixel((3, 2))[3], im.getpixel((3, 9))[3], im.size)\n",
                      &out),
            0);
  EXPECT_EQ(out, "0 255 (16, 16)\n");
}

TEST(GifRender, DitheredAndPlainRenderingsAndMaskedDrawingAtAnySize) {
  TGIFImage image;
  TGIFSubImage* f = AddIndexedFrame(image, 0, 0, 4, 4, {0, 1, 1, 0, 1, 2, 2, 1, 1, 2, 2, 1, 0, 1, 1, 0},
                                    {0xFFFFFF, 0x0000FF, 0x336699});
  auto g = std::make_unique<TGIFGraphicControlExtension>(f);
  g->SetTransparentEntry(0);
  g->SetTransparencyFlag(true);
  f->ExtensionBlocks().AppendItem(std::move(g));

  for (int size : {4, 8, 6}) {
    TBitmap target;
    target.SetPixelFormat(pf32bit);
    target.SetSize(size, size);
    target.Canvas()->Brush()->SetColor(TColor(0x00FF00));
    target.Canvas()->FillRect(TRect{0, 0, size, size});
    image.Draw(target.Canvas(), TRect{0, 0, size, size});
    const int k = (size + 3) / 4;  // the first column that shows source column 1
    EXPECT_EQ(target.Canvas()->Pixels(0, 0), TColor(0x00FF00)) << "destination kept where transparent, size " << size;
    EXPECT_EQ(target.Canvas()->Pixels(size - 1, size - 1), TColor(0x00FF00));
    EXPECT_EQ(target.Canvas()->Pixels(k, 0), TColor(0x0000FF)) << "source where opaque, size " << size;
    EXPECT_EQ(target.Canvas()->Pixels(size / 2, size / 2), TColor(0x336699));
  }

  // The dithered rendering is over the cube: its palette is the cube's, every
  // opaque pixel a cube colour, and transparent bytes a valid cube index.
  TGIFImage::SetPaletteScreen(true);
  image.SetDrawFlags(kGIFDefaultDrawFlags);
  ASSERT_TRUE(image.GetDitherActive());
  f->DropRendering();
  f->DropMask();
  TBitmap* r = f->GetRendering();
  TGIFImage::SetPaletteScreen(false);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(PaletteOf(*r).size(), 256u);
  const std::vector<PALETTEENTRY> cube = PaletteOf(*r);
  EXPECT_EQ(cube[215].peRed, 255);
  EXPECT_EQ(cube[43].peGreen, 51);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_LE(static_cast<uint8_t*>(r->ScanLine(y))[x], 215);
  EXPECT_EQ(static_cast<uint8_t*>(r->ScanLine(1))[0], 36 * 5) << "pure red stays red";
  EXPECT_NE(f->TransparencyMask(), nullptr);
}

}  // namespace

namespace {

TEST(GifConvert, MetafileFrameIsTransparentWhereNothingWasPainted) {
  TMetafile mf;
  mf.SetWidth(20);
  mf.SetHeight(10);
  {
    TMetafileCanvas canvas(&mf, nullptr);
    canvas.Brush()->SetColor(TColor(0x0000FF));
    canvas.FillRect(TRect{5, 2, 15, 8});
  }
  TGIFImage image;
  image.SetReductionMethod(rdNone);
  image.Assign(&mf);
  ASSERT_EQ(image.Frames().Count(), 1);
  TGIFSubImage* f = image.Frames()[0];
  ASSERT_TRUE(f->IsTransparent());
  EXPECT_EQ(f->PixelAt(1, 1), f->TransparentIndex());
  EXPECT_NE(f->PixelAt(10, 5), f->TransparentIndex());
  EXPECT_EQ(f->LocalMap().RawColor(f->PixelAt(10, 5)), 0x0000FFu);
}

}  // namespace
