#include <gtest/gtest.h>

#include <sstream>

#include "pictures/common/picture_pixels.h"
#include "pictures/psd/psd_image.h"
#include "pictures/psd/psd_test_util.h"
#include "platform/graphics/graphics_picture.h"
#include "test_support.h"

using pictest::RgbaOf;

namespace {

bool HaveTools() {
  static const bool have = qvtest::HaveProgram("convert") &&
                           qvtest::RunCommand("/usr/bin/python3 -c 'import PIL.Image, numpy' 2>/dev/null") == 0;
  return have;
}

// A picture of many colours (and, with alpha, a gradient of opacity) that
// ImageMagick writes with the given options.
std::string WriteWithMagick(const qvtest::TempDir& dir, const std::string& options, bool alpha = false) {
  const std::string path = dir.File("in.psd");
  std::string source = "-seed 5 -size 37x19 plasma:";
  if (alpha) source = "\\( " + source + " \\) \\( -size 37x19 gradient: \\) -alpha off -compose CopyOpacity -composite";
  EXPECT_EQ(qvtest::RunCommand("convert " + source + " " + options + " '" + path + "' 2>/dev/null"), 0);
  return path;
}

std::unique_ptr<TPSDImage> LoadFile(const std::string& path) {
  TPicture picture;
  picture.LoadFromFile(path);
  auto* psd = dynamic_cast<TPSDImage*>(picture.Graphic());
  EXPECT_NE(psd, nullptr);
  auto copy = std::make_unique<TPSDImage>();
  if (psd) {
    pictest::LoadBytes(*copy, qvtest::ReadFileBytes(path));
  }
  return copy;
}

// ImageMagick takes the white matte that a merged image with transparency is
// stored over off its colours; put back on white, they are the stored ones.
// A stored colour darker than the matte allows is clipped there, so such
// pixels are compared by their alpha alone.
void ExpectSameAsMagickWithAlpha(const pictest::TRgba& ours, const std::string& path, int tolerance) {
  const pictest::TRgba plain = pictest::MagickRgba(path);
  pictest::TRgba onWhite = pictest::MagickRgba(path, 0, "-background white -alpha remove");
  ASSERT_EQ(plain.rgba.size(), onWhite.rgba.size());
  ASSERT_EQ(ours.rgba.size(), onWhite.rgba.size());
  int compared = 0;
  for (size_t i = 0; i < onWhite.rgba.size(); i += 4) {
    onWhite.rgba[i + 3] = plain.rgba[i + 3];
    const int floor = 255 - ours.rgba[i + 3] + 2;  // 16-bit samples lose a little below a byte
    if (ours.rgba[i] < floor || ours.rgba[i + 1] < floor || ours.rgba[i + 2] < floor)
      std::copy_n(&ours.rgba[i], 3, &onWhite.rgba[i]);
    else
      ++compared;
  }
  EXPECT_GT(compared, static_cast<int>(ours.rgba.size() / 16));
  pictest::ExpectSameRgba(ours, onWhite, tolerance + 1);
}

struct TMagickCase {
  const char* name;
  const char* options;
  bool alpha;
  TPixelFormat format;
  int tolerance;
  bool againstMagick;  // Pillow reads no 16-bit documents
};
// How the case reads in the test list and in a failure.
void PrintTo(const TMagickCase& c, std::ostream* os) { *os << c.name; }

class PSDFromMagickOracle : public testing::TestWithParam<TMagickCase> {};

}  // namespace

TEST_P(PSDFromMagickOracle, ReadsThePixelsOfAnOutsideDecoder) {
  if (!HaveTools()) GTEST_SKIP() << "ImageMagick or Pillow missing";
  const TMagickCase c = GetParam();
  qvtest::TempDir dir;
  const std::string path = WriteWithMagick(dir, c.options, c.alpha);
  auto picture = LoadFile(path);
  EXPECT_EQ(picture->PixelFormat(), c.format);
  if (c.againstMagick && c.alpha) {
    ExpectSameAsMagickWithAlpha(RgbaOf(*picture), path, c.tolerance);
    return;
  }
  const pictest::TRgba theirs = c.againstMagick ? pictest::MagickRgba(path) : pictest::PillowRgba(path);
  pictest::ExpectSameRgba(RgbaOf(*picture), theirs, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PSDFromMagickOracle,
    testing::Values(TMagickCase{"srgb_rle", "-depth 8 -compress RLE", false, pf24bit, 0, false},
                    TMagickCase{"srgb_raw", "-depth 8 -compress None", false, pf24bit, 0, false},
                    TMagickCase{"linear_rgb", "-colorspace RGB -depth 8 -compress RLE", false, pf24bit, 0, false},
                    TMagickCase{"cmyk_rle", "-colorspace CMYK -depth 8 -compress RLE", false, pf24bit, 1, false},
                    TMagickCase{"cmyk_raw", "-colorspace CMYK -depth 8 -compress None", false, pf24bit, 1, false},
                    TMagickCase{"gray_rle", "-colorspace Gray -depth 8 -compress RLE", false, pf8bit, 0, false},
                    TMagickCase{"gray_raw", "-colorspace Gray -depth 8 -compress None", false, pf8bit, 0, false},
                    TMagickCase{"indexed", "-colors 50 -type Palette -depth 8", false, pf8bit, 0, false},
                    TMagickCase{"alpha_rle", "-depth 8 -compress RLE", true, pf32bit, 0, false},
                    TMagickCase{"alpha_raw", "-depth 8 -compress None", true, pf32bit, 0, false},
                    TMagickCase{"rgb16_rle", "-depth 16 -compress RLE", false, pf24bit, 1, true},
                    TMagickCase{"rgb16_raw", "-depth 16 -compress None", false, pf24bit, 1, true},
                    TMagickCase{"gray16", "-colorspace Gray -depth 16", false, pf8bit, 1, true},
                    TMagickCase{"cmyk16", "-colorspace CMYK -depth 16", false, pf24bit, 2, true},
                    TMagickCase{"alpha16", "-depth 16", true, pf32bit, 1, true}),
    [](const testing::TestParamInfo<TMagickCase>& p) { return std::string(p.param.name); });

TEST(PSDLabOracle, LabSamplesFollowTheFormulaAsNumpyComputesIt) {
  if (!HaveTools()) GTEST_SKIP() << "Pillow or numpy missing";
  // Every 7th L with a spread of a and b, including the linear part below L 8.
  psdtest::Bytes l, a, b;
  for (int i = 0; i < 256; i += 3) {
    l.push_back(static_cast<uint8_t>(i));
    a.push_back(static_cast<uint8_t>((i * 37) % 256));
    b.push_back(static_cast<uint8_t>((i * 91 + 50) % 256));
  }
  psdtest::TPsdSpec s;
  s.mode = psdLab;
  s.width = static_cast<uint32_t>(l.size());
  s.height = 1;
  for (const auto* p : {&l, &a, &b}) s.image.insert(s.image.end(), p->begin(), p->end());
  TPSDImage picture;
  pictest::LoadBytes(picture, psdtest::MakePsd(s));

  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("lab.raw"), s.image);
  const std::string script = R"(
import sys, numpy as np
raw = np.fromfile(sys.argv[1], dtype=np.uint8).reshape(3, -1).astype(np.float64)
L = raw[0] / 2.55; a = raw[1] - 128; b = raw[2] - 128
fy = (L + 16) / 116
Y = np.where(L < 7.9996, L / 903.3, fy ** 3)
X = np.where(L < 7.9996, Y + a / 3893.5, (fy + a / 500) ** 3)
Z = np.where(L < 7.9996, Y - b / 1557.4, (fy - b / 200) ** 3)
rgb = [2.998 * X - 1.458 * Y - 0.541 * Z, -0.952 * X + 1.893 * Y + 0.059 * Z, 0.099 * X - 0.198 * Y + 1.099 * Z]
out = np.stack([np.clip(np.rint(c * 255), 0, 255) for c in rgb], axis=1).astype(np.uint8)
sys.stdout.buffer.write(out.tobytes())
)";
  qvtest::WriteFileBytes(dir.File("lab.py"), psdtest::Bytes(script.begin(), script.end()));
  const pictest::Bytes expected = pictest::CommandBytes("/usr/bin/python3 " + dir.File("lab.py") + " " + dir.File("lab.raw"));
  ASSERT_EQ(expected.size(), l.size() * 3);
  const pictest::TRgba ours = RgbaOf(picture);
  for (size_t x = 0; x < l.size(); ++x)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(ours.At(static_cast<int>(x), 0)[c], expected[x * 3 + c]) << "pixel " << x << " channel " << c;
}

TEST(PSDLayersOracle, LayersLieWherePillowPlacesThemWithImageMagicksPixels) {
  if (!HaveTools()) GTEST_SKIP() << "ImageMagick or Pillow missing";
  qvtest::TempDir dir;
  const std::string path = dir.File("layers.psd");
  ASSERT_EQ(qvtest::RunCommand("convert -size 9x5 xc:green -alpha set "
                               "\\( -seed 3 -size 4x3 plasma: -alpha set -channel A -evaluate set 60% +channel "
                               "-repage +2+1 \\) \\( -size 3x2 xc:blue -alpha set -repage +5+3 \\) -depth 8 '" +
                               path + "' 2>/dev/null"),
            0);
  std::string boxes;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + path +
                                   "'); print(' '.join('%d %d %d %d' % l[2] for l in im.layers))\"",
                               &boxes),
            0);
  std::istringstream in(boxes);
  auto picture = LoadFile(path);
  ASSERT_EQ(picture->Layers.size(), 2u);
  for (size_t i = 0; i < picture->Layers.size(); ++i) {
    SCOPED_TRACE(i);
    const TPSDLayer& layer = *picture->Layers[i];
    int left, top, right, bottom;
    in >> left >> top >> right >> bottom;
    EXPECT_EQ(layer.Left, left);
    EXPECT_EQ(layer.Top, top);
    EXPECT_EQ(layer.Right, right);
    EXPECT_EQ(layer.Bottom, bottom);
    TBitmap bitmap;
    picture->GetLayerBitmap(static_cast<int>(i), &bitmap);
    const pictest::TRgba whole = RgbaOf(bitmap);
    const pictest::TRgba theirs = pictest::MagickRgba(path, static_cast<int>(i) + 1);
    ASSERT_EQ(theirs.width, right - left);
    for (int y = 0; y < theirs.height; ++y)
      for (int x = 0; x < theirs.width; ++x)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(whole.At(left + x, top + y)[c], theirs.At(x, y)[c]);
    EXPECT_EQ(whole.At(0, 0)[3], 0);  // outside the layer
  }
}

TEST(PSDSaveOracle, WhatWeWriteReadsTheSameInPillowAndImageMagick) {
  if (!HaveTools()) GTEST_SKIP() << "ImageMagick or Pillow missing";
  struct TCase {
    const char* options;
    bool alpha;
  } cases[] = {{"-depth 8", false}, {"-depth 8", true}, {"-colors 40 -type Palette -depth 8", false}};
  // ImageMagick 6 takes indexed documents only in the shape it writes itself,
  // so those are checked with Pillow alone.
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.options);
    qvtest::TempDir dir;
    auto picture = LoadFile(WriteWithMagick(dir, c.options, c.alpha));
    const std::string ours = dir.File("ours.psd");
    qvtest::WriteFileBytes(ours, pictest::SaveBytes(*picture));
    const pictest::TRgba expected = RgbaOf(*picture);
    pictest::ExpectSameRgba(expected, pictest::PillowRgba(ours));
    if (c.alpha)
      ExpectSameAsMagickWithAlpha(expected, ours, 0);
    else if (picture->PixelFormat() != pf8bit)
      pictest::ExpectSameRgba(expected, pictest::MagickRgba(ours));
  }
}
