#include "imaging/core/ie_orientation.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace {

constexpr TIEBitmapFormat kFormats[] = {ie1g, ie8g, ie16g, ie24RGB, ieRGB48, ie32RGB};

// Every pixel of a w x h bitmap gets a value of its own (ie1g: a pattern).
void Number(TIEBitmap& b) {
  const int bytes = b.BitCount() / 8;
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < b.Width(); ++x) {
      if (b.BitCount() == 1) {
        if ((x * 3 + y * 5) % 7 < 3) row[x >> 3] |= kIEBitMask[x & 7];
        else row[x >> 3] &= static_cast<uint8_t>(~kIEBitMask[x & 7]);
      } else {
        for (int i = 0; i < bytes; ++i) row[x * bytes + i] = static_cast<uint8_t>(x * 16 + y + i * 101);
      }
    }
  }
}

std::vector<uint8_t> PixelOf(TIEBitmap& b, int x, int y) {
  const uint8_t* row = b.ScanLine(y);
  if (b.BitCount() == 1) return {static_cast<uint8_t>((row[x >> 3] & kIEBitMask[x & 7]) != 0)};
  const int n = b.BitCount() / 8;
  return std::vector<uint8_t>(row + x * n, row + x * n + n);
}

// Where the pixel at (x, y) of the result comes from in the source, by the
// EXIF definition of each orientation (w, h: the source's size).
std::pair<int, int> SourceOf(int orientation, int x, int y, int w, int h) {
  switch (orientation) {
    case 2: return {w - 1 - x, y};
    case 3: return {w - 1 - x, h - 1 - y};
    case 4: return {x, h - 1 - y};
    case 5: return {y, x};
    case 6: return {y, h - 1 - x};
    case 7: return {w - 1 - y, h - 1 - x};
    case 8: return {w - 1 - y, x};
    default: return {x, y};
  }
}

}  // namespace

class ExifOrientation : public ::testing::TestWithParam<std::tuple<int, TIEBitmapFormat, TIEStorageLocation>> {};

TEST_P(ExifOrientation, PixelsAndAlphaLandWhereTheTagSays) {
  const auto [orientation, format, where] = GetParam();
  const int w = 11, h = 5;
  TIEBitmap src;
  src.SetMemoryLimit(where == ieFile ? 0 : INT64_MAX / 2);
  ASSERT_TRUE(src.Allocate(w, h, format));
  Number(src);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) src.SetAlpha(x, y, static_cast<uint8_t>(x * 20 + y));
  auto b = TIEBitmap::CreateCopy(src);
  ASSERT_TRUE(ApplyExifOrientation(*b, orientation));
  const bool swapped = orientation >= 5 && orientation <= 8;
  ASSERT_EQ(b->Width(), swapped ? h : w);
  ASSERT_EQ(b->Height(), swapped ? w : h);
  EXPECT_EQ(b->PixelFormat(), format);
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x) {
      const auto [sx, sy] = SourceOf(orientation, x, y, w, h);
      ASSERT_EQ(PixelOf(*b, x, y), PixelOf(src, sx, sy)) << x << "," << y;
      ASSERT_EQ(b->GetAlpha(x, y), src.GetAlpha(sx, sy)) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(All, ExifOrientation,
                         ::testing::Combine(::testing::Range(1, 9), ::testing::ValuesIn(kFormats),
                                            ::testing::Values(ieMemory, ieFile)));

// Pillow's exif_transpose table turns the same picture the same way.
TEST(ExifOrientationOracle, AgreesWithPillow) {
  const char* python = "/usr/bin/python3";
  if (!std::filesystem::exists(python) || qvtest::RunCommand(std::string(python) + " -c 'import PIL'") != 0)
    GTEST_SKIP() << "no Pillow";
  const int w = 7, h = 3;
  TIEBitmap src(w, h, ie24RGB);
  std::vector<uint8_t> rgb;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TRGB p = MakeRGB(uint8_t(x * 30), uint8_t(y * 70), uint8_t(x + y));
      src.SetPixelRGB(x, y, p);
      rgb.insert(rgb.end(), {p.r, p.g, p.b});
    }
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("in.rgb"), rgb);
  for (int o = 2; o <= 8; ++o) {
    const std::string out = dir.File("out" + std::to_string(o) + ".rgb");
    const std::string cmd = std::string(python) +
                            " -c \"from PIL import Image, ImageOps; im=Image.frombytes('RGB',(" + std::to_string(w) +
                            "," + std::to_string(h) + "),open('" + dir.File("in.rgb") +
                            "','rb').read()); e=im.getexif(); e[0x0112]=" + std::to_string(o) +
                            "; im.info['exif']=e.tobytes(); r=ImageOps.exif_transpose(im); "
                            "open('" + out + "','wb').write(r.tobytes()); print(r.size[0], r.size[1])\"";
    std::string size;
    ASSERT_EQ(qvtest::RunCommand(cmd, &size), 0) << cmd;
    auto b = TIEBitmap::CreateCopy(src);
    ASSERT_TRUE(ApplyExifOrientation(*b, o));
    EXPECT_EQ(size, std::to_string(b->Width()) + " " + std::to_string(b->Height()) + "\n");
    const auto theirs = qvtest::ReadFileBytes(out);
    std::vector<uint8_t> ours;
    for (int y = 0; y < b->Height(); ++y)
      for (int x = 0; x < b->Width(); ++x) {
        const TRGB p = b->GetPixelRGB(x, y);
        ours.insert(ours.end(), {p.r, p.g, p.b});
      }
    EXPECT_EQ(ours, theirs) << "orientation " << o;
  }
}

TEST(FlipBitmap, MirrorsPaletteIndexesAndKeepsThePalette) {
  TIEBitmap b(3, 2, ie8p);
  b.SetPaletteColor(2, MakeRGB(9, 9, 9));
  for (int x = 0; x < 3; ++x) b.SetPixel8(x, 0, uint8_t(x));
  FlipBitmap(b, 0);
  EXPECT_EQ(b.GetPixel8(0, 0), 2);
  EXPECT_EQ(b.GetPixel8(2, 0), 0);
  TRGB c;
  b.GetPaletteColor(2, c);
  EXPECT_EQ(c, MakeRGB(9, 9, 9));
}
