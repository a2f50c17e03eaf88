#include <gtest/gtest.h>

#include "exception_text.h"
#include "pictures/common/picture_pixels.h"
#include "pictures/pcx/color_manager.h"
#include "test_support.h"

using Bytes = std::vector<uint8_t>;

namespace {

std::vector<PALETTEENTRY> Entries(HPALETTE palette) {
  std::vector<PALETTEENTRY> e(256);
  const UINT n = GetPaletteEntries(palette, 0, 256, e.data());
  e.resize(n);
  DeleteObject(palette);
  return e;
}

void Configure(TColorManager& cm, TRowColorScheme s, TRowColorScheme t, int sBits, int tBits, int sCount, int tCount) {
  cm.SetSourceScheme(s);
  cm.SetTargetScheme(t);
  cm.SetSourceSampleBits(sBits);
  cm.SetTargetSampleBits(tBits);
  cm.SetSourceSampleCount(sCount);
  cm.SetTargetSampleCount(tCount);
}

}  // namespace

TEST(ColorManager, SettersCheckTheirValues) {
  TColorManager cm;
  EXPECT_EQ(MessageOf([&] { cm.SetSourceSampleBits(3); }), kNothingRaised);
  EXPECT_EQ(MessageOf([&] { cm.SetSourceSampleBits(17); }), kColorDepthInvalid);
  EXPECT_EQ(MessageOf([&] { cm.SetTargetSampleBits(0); }), kColorDepthInvalid);
  EXPECT_EQ(MessageOf([&] { cm.SetSourceSampleCount(5); }), kSourceSampleCountInvalid);
  EXPECT_EQ(MessageOf([&] { cm.SetTargetSampleCount(0); }), kTargetSampleCountInvalid);
  EXPECT_THROW(cm.SetSourceSampleCount(0), EColorConversionError);
}

TEST(ColorManager, SchemesWithoutAConversionRaise) {
  struct TCase {
    TRowColorScheme source, target;
    const char* message;
  } cases[] = {
      {rcsIndexed, rcsRGB, kIndexedMismatch},   {rcsRGB, rcsIndexed, kIndexedMismatch},
      {rcsGray, rcsGrayAlpha, kIndexedMismatch}, {rcsIndexed, rcsGrayAlpha, kIndexedMismatch},
      {rcsRGB, rcsGrayAlpha, kNoConverter},     {rcsOther, rcsBGR, kNoConverter},
      {rcsUnknown, rcsBGR, kNoConverter},       {rcsCMYK, rcsCMYK, kNoConverter},
  };
  for (const TCase& c : cases) {
    TColorManager cm;
    cm.SetSourceScheme(c.source);
    cm.SetTargetScheme(c.target);
    uint8_t in[8] = {}, out[8] = {};
    EXPECT_EQ(MessageOf([&] { cm.ConvertRow({in}, out, 1, 0xFF); }), c.message) << int(c.source) << "->" << int(c.target);
    // A failed choice stays failed until the configuration changes.
    EXPECT_NE(MessageOf([&] { cm.ConvertRow({in}, out, 1, 0xFF); }), kNothingRaised);
  }
}

TEST(ColorManager, RowsConvertUnderTheirMask) {
  struct TCase {
    const char* name;
    TRowColorScheme s, t;
    int sBits, tBits, sCount, tCount;
    std::vector<Bytes> source;
    int count;
    uint8_t mask;
    Bytes target, expected;  // target holds what is there before
  } cases[] = {
      {"rgb planes into bgr", rcsRGB, rcsBGR, 8, 8, 3, 3, {{1, 2}, {3, 4}, {5, 6}}, 2, 0xFF, Bytes(6, 0),
       {5, 3, 1, 6, 4, 2}},
      {"interleaved rgb into bgr", rcsRGB, rcsBGR, 8, 8, 3, 3, {{1, 3, 5, 2, 4, 6}}, 2, 0xFF, Bytes(6, 0),
       {5, 3, 1, 6, 4, 2}},
      {"bgr into bgr with alpha slot left", rcsBGR, rcsBGRA, 8, 8, 3, 4, {{1, 2, 3}}, 1, 0xFF, Bytes(4, 9),
       {1, 2, 3, 9}},
      {"rgba planes into bgra", rcsRGBA, rcsBGRA, 8, 8, 4, 4, {{1}, {2}, {3}, {4}}, 1, 0xFF, Bytes(4, 0), {3, 2, 1, 4}},
      {"16-bit rgb to 8-bit bgr", rcsRGB, rcsBGR, 16, 8, 3, 3, {{0xFF, 0xFF, 0, 0x80, 0, 0}}, 1, 0xFF, Bytes(3, 0),
       {0, 127, 255}},
      {"mask 0xAA", rcsIndexed, rcsIndexed, 8, 8, 1, 1, {{10, 11, 12, 13}}, 8, 0xAA, Bytes(8, 99),
       {10, 99, 11, 99, 12, 99, 13, 99}},
      {"2-bit to 4-bit", rcsIndexed, rcsIndexed, 2, 4, 1, 1, {{0x1B}}, 4, 0xFF, Bytes(2, 0), {0x05, 0xAF}},
      {"1-bit to 3-bit by bit position", rcsIndexed, rcsIndexed, 1, 3, 1, 1, {{0xA0}}, 4, 0xFF, Bytes(2, 0),
       {0xE3, 0x80}},
      {"4-bit to 8-bit", rcsGray, rcsGray, 4, 8, 1, 1, {{0xF1}}, 2, 0xFF, Bytes(2, 0), {255, 17}},
      {"16-bit grey to 8", rcsGray, rcsGray, 16, 8, 1, 1, {{0x00, 0x80, 0xFF, 0xFF}}, 2, 0xFF, Bytes(2, 0),
       {127, 255}},
      {"grey with alpha skips alpha", rcsGrayAlpha, rcsGray, 8, 8, 2, 1, {{40, 1, 50, 2}}, 2, 0xFF, Bytes(2, 0),
       {40, 50}},
      {"cmyk no ink and black", rcsCMYK, rcsBGR, 8, 8, 4, 3, {{0, 0, 0, 0, 0, 0, 0, 255}}, 2, 0xFF, Bytes(6, 7),
       {255, 255, 255, 0, 0, 0}},
      {"cmyk cyan into rgb", rcsCMYK, rcsRGB, 8, 8, 4, 3, {{255, 0, 0, 0}}, 1, 0xFF, Bytes(3, 7), {0, 255, 255}},
      {"16-bit cmyk", rcsCMYK, rcsBGR, 16, 8, 4, 3, {{0, 0, 0, 0, 0, 0, 0xFF, 0xFF}}, 1, 0xFF, Bytes(3, 7), {0, 0, 0}},
      {"lab white", rcsCIELab, rcsBGR, 8, 8, 3, 3, {{100, 0, 0}}, 1, 0xFF, Bytes(3, 0), {255, 255, 255}},
      {"ycbcr grey", rcsYCbCr, rcsBGR, 8, 8, 3, 3, {{77, 128, 128}}, 1, 0xFF, Bytes(3, 0), {77, 77, 77}},
  };
  for (TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TColorManager cm;
    Configure(cm, c.s, c.t, c.sBits, c.tBits, c.sCount, c.tCount);
    std::vector<const void*> source;
    for (const Bytes& b : c.source) source.push_back(b.data());
    cm.ConvertRow(source, c.target.data(), c.count, c.mask);
    EXPECT_EQ(c.target, c.expected);
  }
}

TEST(ColorManager, GammaTableSpansTheSourceRange) {
  TColorManager cm;
  cm.SetSourceSampleBits(4);
  cm.SetTargetSampleBits(8);
  cm.SetGammaValues(1.0f, 1.0f);
  // Source values 0..15 reach the full target range; nothing past them.
  EXPECT_EQ(cm.GammaTable()[15], 255);
  EXPECT_EQ(cm.GammaTable()[5], 85);
  EXPECT_EQ(cm.GammaTable()[16], 0);
  cm.SetSourceSampleBits(8);
  cm.SetGammaValues(-1, 0);  // the defaults 1.0 and 2.2
  EXPECT_EQ(cm.GammaTable()[255], 255);
  EXPECT_EQ(cm.GammaTable()[64], 136);  // 255 x (64 / 255)^(1 / 2.2)

  Configure(cm, rcsRGB, rcsBGR, 8, 8, 3, 3);
  cm.SetTargetOptions({rcoApplyGamma});
  const Bytes in = {64, 0, 255};
  Bytes out(3);
  cm.ConvertRow({in.data()}, out.data(), 1, 0xFF);
  EXPECT_EQ(out, (Bytes{255, 0, 136}));
}

TEST(ColorManager, PalettesOfGreysAndColours) {
  TColorManager cm;
  cm.SetTargetSampleBits(4);
  cm.SetTargetSampleCount(1);
  std::vector<PALETTEENTRY> grey = Entries(cm.MakeGrayPalette(false));
  ASSERT_EQ(grey.size(), 16u);
  EXPECT_EQ(grey[1].peRed, 17);
  EXPECT_EQ(grey[15].peBlue, 255);
  grey = Entries(cm.MakeGrayPalette(true));
  EXPECT_EQ(grey[0].peGreen, 255);
  EXPECT_EQ(grey[15].peGreen, 0);
  cm.SetTargetSampleBits(1);
  grey = Entries(cm.MakeGrayPalette(false));
  ASSERT_EQ(grey.size(), 2u);
  EXPECT_EQ(grey[1].peRed, 255);

  // A 2-bit picture shown as 4 bits finds its colours at 0, 5, 10 and 15.
  cm.SetSourceSampleBits(2);
  cm.SetTargetSampleBits(4);
  Bytes triples(48);
  for (int i = 0; i < 48; ++i) triples[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 5);
  const std::vector<PALETTEENTRY> spread = Entries(cm.MakeColorPalette({triples.data()}, 0, false, 16));
  ASSERT_EQ(spread.size(), 16u);
  for (int j : {0, 5, 10, 15}) EXPECT_EQ(spread[static_cast<size_t>(j)].peRed, triples[static_cast<size_t>(j / 5 * 3)]) << j;
  cm.SetSourceSampleBits(8);
  cm.SetTargetSampleBits(8);
  const std::vector<PALETTEENTRY> bgr = Entries(cm.MakeColorPalette({triples.data()}, 0, true, 2));
  EXPECT_EQ(bgr[1].peRed, triples[5]);
  EXPECT_EQ(bgr[1].peBlue, triples[3]);
}

TEST(ColorManager, PixelFormatOfEachSide) {
  struct TCase {
    int samples, bits;
    TPixelFormat format;
  } cases[] = {{1, 1, pf1bit},  {1, 2, pf4bit},  {1, 4, pf4bit},    {1, 8, pf8bit},   {1, 16, pf8bit},
               {1, 5, pfCustom}, {3, 5, pf15bit}, {3, 8, pf24bit},  {4, 8, pf32bit}, {4, 1, pfCustom},
               {2, 8, pfCustom}};
  for (const TCase& c : cases) {
    TColorManager cm;
    cm.SetTargetSampleCount(c.samples);
    cm.SetTargetSampleBits(c.bits);
    EXPECT_EQ(cm.PixelFormatForSide(1), c.format) << c.samples << " x " << c.bits;
  }
}

TEST(ColorManagerOracle, YCbCrRowsAreWithinOneOfPillows) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) GTEST_SKIP() << "Pillow missing";
  Bytes ycc;
  for (int i = 0; i < 64 * 3; ++i) ycc.push_back(static_cast<uint8_t>((i * 67 + i / 3 * 13) % 256));
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("ycc.raw"), ycc);
  const Bytes rgb = pictest::CommandBytes(
      "/usr/bin/python3 -c \"import sys; from PIL import Image; sys.stdout.buffer.write(Image.frombytes('YCbCr', (64, 1), "
      "open('" + dir.File("ycc.raw") + "', 'rb').read()).convert('RGB').tobytes())\"");
  ASSERT_EQ(rgb.size(), ycc.size());
  TColorManager cm;
  Configure(cm, rcsYCbCr, rcsRGB, 8, 8, 3, 3);
  Bytes out(ycc.size());
  cm.ConvertRow({ycc.data()}, out.data(), 64, 0xFF);
  for (size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], rgb[i], 1) << "sample " << i;
}
