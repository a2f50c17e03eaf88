// JPEG 2000 files written by opj_compress load to the samples opj_decompress
// gives, and what we save decodes with opj_decompress.
#include <gtest/gtest.h>

#include <cstdlib>

#include "jpeg2000_test_util.h"
#include "pictures/png/png_test_util.h"
#include "platform/graphics/graphics_picture.h"
#include "test_support.h"

using namespace jp2test;

namespace {

bool HaveTools() { return qvtest::HaveProgram("opj_compress") && qvtest::HaveProgram("opj_decompress"); }

// The pixel the picture should hold for the oracle's samples at (x, y).
void ExpectedPixel(const TOpjPlanes& o, int x, int y, uint8_t out[4]) {
  const size_t i = static_cast<size_t>(y) * o.width + x;
  auto v = [&](int c) { return Scale(o.planes[c][i], o.precision[c]); };
  switch (o.planes.size()) {
    case 2: out[0] = out[1] = out[2] = v(0), out[3] = v(1); break;
    case 3: out[2] = v(0), out[1] = v(1), out[0] = v(2), out[3] = 255; break;
    case 4: out[2] = v(0), out[1] = v(1), out[0] = v(2), out[3] = v(3); break;
    default: out[0] = out[1] = out[2] = v(0), out[3] = 255; break;
  }
}

// Every pixel within the tolerance; the first few differences are shown.
void ExpectMatchesOracle(const TPixels& ours, const TOpjPlanes& o, int tolerance, int skipColumns = 0, int skipRows = 0) {
  ASSERT_TRUE(o.ok) << o.log;
  ASSERT_EQ(ours.width, o.width);
  ASSERT_EQ(ours.height, o.height);
  int shown = 0;
  for (int y = skipRows; y < o.height; ++y)
    for (int x = skipColumns; x < o.width; ++x) {
      uint8_t expected[4];
      ExpectedPixel(o, x, y, expected);
      for (int b = 0; b < 4; ++b)
        if (std::abs(ours.At(x, y)[b] - expected[b]) > tolerance && shown++ < 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " byte " << b << ": " << int(ours.At(x, y)[b]) << " vs "
                        << int(expected[b]);
    }
}

TPixels LoadThroughRegistry(const std::string& path) {
  TPicture picture;
  picture.LoadFromFile(path);
  auto* bitmap = dynamic_cast<TBitmap*>(picture.Graphic());
  EXPECT_NE(dynamic_cast<TJpeg2000Bitmap*>(bitmap), nullptr);
  return bitmap ? PixelsOf(*bitmap) : TPixels{};
}

struct TPngCase {
  const char* name;
  int colorType, bitDepth;
  TPixelFormat format;
};
// How the case reads in the test list and in a failure.
void PrintTo(const TPngCase& c, std::ostream* os) { *os << c.name; }

class Jpeg2000FromOpjOracle : public testing::TestWithParam<TPngCase> {};

TEST_P(Jpeg2000FromOpjOracle, LoadsToOpjDecompressSamples) {
  if (!HaveTools()) GTEST_SKIP() << "opj_compress/opj_decompress missing";
  const TPngCase c = GetParam();
  pngtest::TLibpngImage png;
  png.width = 23;
  png.height = 17;
  png.colorType = c.colorType;
  png.bitDepth = c.bitDepth;
  pngtest::FillRandomRows(png, 77);
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("in.png"), pngtest::WriteWithLibpng(png));
  const Bytes file = CompressWithOpj(dir.File("in.png"), "-n 3");
  ASSERT_FALSE(file.empty());
  qvtest::WriteFileBytes(dir.File("picture.jp2"), file);

  TPicture picture;
  picture.LoadFromFile(dir.File("picture.jp2"));
  auto* bitmap = dynamic_cast<TJpeg2000Bitmap*>(picture.Graphic());
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap->PixelFormat(), c.format);
  ExpectMatchesOracle(PixelsOf(*bitmap), DecodeWithOpj(file), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Jpeg2000FromOpjOracle,
                         testing::Values(TPngCase{"grey8", 0, 8, pf8bit}, TPngCase{"grey16", 0, 16, pf8bit},
                                         TPngCase{"greyalpha8", 4, 8, pf32bit}, TPngCase{"rgb8", 2, 8, pf24bit},
                                         TPngCase{"rgb16", 2, 16, pf24bit}, TPngCase{"rgba8", 6, 8, pf32bit},
                                         TPngCase{"rgba16", 6, 16, pf32bit}),
                         [](const testing::TestParamInfo<TPngCase>& p) { return std::string(p.param.name); });

// A raw input of planar components, each at its own grid step.
struct TRawComp {
  uint32_t dx, dy;
  uint8_t seed;
};
std::string WriteRaw(const qvtest::TempDir& dir, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h,
                     const std::vector<TRawComp>& comps) {
  Bytes raw;
  for (const TRawComp& c : comps) {
    const uint32_t cw = CompSide(x0, w, c.dx), ch = CompSide(y0, h, c.dy);
    for (uint32_t y = 0; y < ch; ++y)
      for (uint32_t x = 0; x < cw; ++x) raw.push_back(static_cast<uint8_t>(c.seed + x * 29 + y * 13 + (x * y) % 7));
  }
  // opj_compress may size the last component without the origin; spare bytes
  // at the end keep it from running out.
  raw.resize(raw.size() + 256);
  const std::string path = dir.File("in.raw");
  qvtest::WriteFileBytes(path, raw);
  return path;
}

TEST(Jpeg2000SubsampledOracle, SubsampledYccLoadsLikeOpjDecompress) {
  if (!HaveTools()) GTEST_SKIP() << "opj_compress/opj_decompress missing";
  qvtest::TempDir dir;
  const std::string raw = WriteRaw(dir, 0, 0, 37, 21, {{1, 1, 90}, {2, 2, 100}, {2, 2, 150}});
  const Bytes file = CompressWithOpj(raw, "-n 3 -F 37,21,3,8,u@1x1:2x2:2x2");
  ASSERT_FALSE(file.empty());
  qvtest::WriteFileBytes(dir.File("ycc.jp2"), file);
  // opj_decompress converts sYCC with its own arithmetic, a unit or two from
  // ours; the layout of the subsampled chroma must be the same.
  ExpectMatchesOracle(LoadThroughRegistry(dir.File("ycc.jp2")), DecodeWithOpj(file), 2);
}

TEST(Jpeg2000SubsampledOracle, SubsampledComponentHonoursTheOrigin) {
  if (!HaveTools()) GTEST_SKIP() << "opj_compress/opj_decompress missing";
  qvtest::TempDir dir;
  // Alpha every 3 columns and 2 rows from origin (4, 5): its first sample sits
  // at grid (6, 6), two columns and one row into the picture. opj_decompress
  // leaves the pixels before the first sample empty, so they are not compared.
  const std::string raw = WriteRaw(dir, 4, 5, 37, 21, {{1, 1, 40}, {3, 2, 60}});
  const Bytes file = CompressWithOpj(raw, "-n 2 -d 4,5 -F 37,21,2,8,u@1x1:3x2");
  ASSERT_FALSE(file.empty());
  qvtest::WriteFileBytes(dir.File("origin.jp2"), file);
  const TPixels ours = LoadThroughRegistry(dir.File("origin.jp2"));
  const TOpjPlanes oracle = DecodeWithOpj(file);
  ExpectMatchesOracle(ours, oracle, 0, 2, 1);
  // The leading pixels repeat the first sample.
  ASSERT_EQ(ours.width, 37);
  EXPECT_EQ(ours.At(0, 0)[3], ours.At(2, 1)[3]);
  EXPECT_EQ(ours.At(4, 0)[3], ours.At(4, 1)[3]);
}

TEST(Jpeg2000SaveOracle, LosslessSaveDecodesToTheSamePixels) {
  if (!HaveTools()) GTEST_SKIP() << "opj_decompress missing";
  for (TPixelFormat format : {pf24bit, pf32bit}) {
    TJpeg2000Bitmap picture;
    picture.SetPixelFormat(format);
    picture.SetSize(29, 13);
    const int bytes = format == pf32bit ? 4 : 3;
    for (int y = 0; y < 13; ++y) {
      auto* row = static_cast<uint8_t*>(picture.ScanLine(y));
      for (int x = 0; x < 29 * bytes; ++x) row[x] = static_cast<uint8_t>(x * 11 + y * 37 + (x ^ y));
    }
    picture.SetLossless(true);
    const Bytes file = SaveBytes(picture);
    const TOpjPlanes oracle = DecodeWithOpj(file);
    ASSERT_EQ(oracle.planes.size(), static_cast<size_t>(bytes));
    ExpectMatchesOracle(PixelsOf(picture), oracle, 0);
  }
}

TEST(Jpeg2000SaveOracle, LossySaveDecodesCloseToThePicture) {
  if (!HaveTools()) GTEST_SKIP() << "opj_decompress missing";
  TJpeg2000Bitmap picture;
  picture.SetPixelFormat(pf24bit);
  picture.SetSize(64, 48);
  for (int y = 0; y < 48; ++y) {
    auto* row = static_cast<uint8_t*>(picture.ScanLine(y));
    for (int x = 0; x < 64; ++x) row[x * 3] = static_cast<uint8_t>(x * 4), row[x * 3 + 1] = static_cast<uint8_t>(y * 5),
                                row[x * 3 + 2] = static_cast<uint8_t>(128);
  }
  Bytes lossless;
  {
    TJpeg2000Bitmap copy;
    copy.Assign(&picture);
    copy.SetLossless(true);
    lossless = SaveBytes(copy);
  }
  const Bytes file = SaveBytes(picture);
  EXPECT_LT(file.size(), lossless.size());
  const TOpjPlanes oracle = DecodeWithOpj(file);
  ASSERT_TRUE(oracle.ok) << oracle.log;
  const TPixels ours = PixelsOf(picture);
  double error = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      uint8_t expected[4];
      ExpectedPixel(oracle, x, y, expected);
      for (int b = 0; b < 3; ++b) error += std::abs(ours.At(x, y)[b] - expected[b]);
    }
  EXPECT_LT(error / (64 * 48 * 3), 4.0);
}

}  // namespace
