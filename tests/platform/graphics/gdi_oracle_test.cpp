// Stretching in HALFTONE mode against Pillow's box reduction, an outside
// implementation of the same area average.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gdi_test_helpers.h"
#include "test_support.h"

using gditest::Dib;

namespace {

TEST(GdiOracle, HalftoneMatchesPillowBoxReduction) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) GTEST_SKIP() << "Pillow missing";
  const int w = 32, h = 24, f = 4;
  std::vector<uint8_t> rgb(static_cast<size_t>(w * h * 3));
  uint32_t seed = 12345;
  for (uint8_t& b : rgb) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  Dib src(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &rgb[static_cast<size_t>((y * w + x) * 3)];
      SetPixel(src.dc(), x, y, RGB(p[0], p[1], p[2]));
    }
  Dib dest(w / f, h / f, 24);
  SetStretchBltMode(dest.dc(), HALFTONE);
  ASSERT_TRUE(StretchBlt(dest.dc(), 0, 0, w / f, h / f, src.dc(), 0, 0, w, h, SRCCOPY));

  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("in.rgb"), rgb);
  std::string script = "from PIL import Image; im = Image.frombytes('RGB', (" + std::to_string(w) + ", " +
                       std::to_string(h) + "), open('" + dir.File("in.rgb") + "', 'rb').read()); open('" +
                       dir.File("out.rgb") + "', 'wb').write(im.reduce(" + std::to_string(f) + ").tobytes())";
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 -c \"" + script + "\""), 0);
  std::vector<uint8_t> want = qvtest::ReadFileBytes(dir.File("out.rgb"));
  ASSERT_EQ(want.size(), static_cast<size_t>((w / f) * (h / f) * 3));
  for (int y = 0; y < h / f; ++y)
    for (int x = 0; x < w / f; ++x) {
      COLORREF c = GetPixel(dest.dc(), x, y);
      const uint8_t* p = &want[static_cast<size_t>((y * (w / f) + x) * 3)];
      EXPECT_NEAR(GetRValue(c), p[0], 1) << x << "," << y;
      EXPECT_NEAR(GetGValue(c), p[1], 1) << x << "," << y;
      EXPECT_NEAR(GetBValue(c), p[2], 1) << x << "," << y;
    }
}

}  // namespace
