#include <gtest/gtest.h>

#include "base/toolbox/bitmap_utils.h"
#include "icons/sub_icon.h"
#include "icons/sub_icon_render.h"
#include "pictures/xpm/xpm_image.h"

// An icon image handed to an X bitmap: black-and-white pixels, the AND mask
// as the XBM's mask and the hotspot carried over.
TEST(SubIconToXbm, TakesPixelsMaskAndHotspot) {
  TBitmap source;
  source.SetPixelFormat(pf32bit);
  source.SetSize(8, 4);
  for (int y = 0; y < 4; ++y) {
    auto* row = static_cast<uint32_t*>(source.ScanLine(y));
    // Left half opaque white, right half transparent.
    for (int x = 0; x < 8; ++x) row[x] = x < 4 ? 0xFFFFFFFFu : 0;
  }
  TSubIcon image;
  SetFrom32BitBitmap(image, source);
  image.SetHotspot(3, 2);

  TXBMImage xbm;
  xbm.Assign(&image);
  EXPECT_EQ(xbm.PixelFormat(), pf1bit);
  EXPECT_EQ(xbm.Width(), 8);
  EXPECT_EQ(xbm.HotSpotX, 3);
  EXPECT_EQ(xbm.HotSpotY, 2);
  ASSERT_NE(xbm.MaskBitmap, nullptr);
  TMaskPixels mask(xbm.MaskBitmap.get()), pixels(&xbm);
  EXPECT_FALSE(mask.IsWhite(1, 1));
  EXPECT_TRUE(mask.IsWhite(6, 1));
  EXPECT_TRUE(pixels.IsWhite(1, 1));
  EXPECT_FALSE(pixels.IsWhite(6, 1));  // drawn on black
}
