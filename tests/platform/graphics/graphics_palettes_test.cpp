// The shared palettes pictures select when they draw, and the progress and
// palette marks of a picture.
#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"

namespace {

std::vector<PALETTEENTRY> Entries(HPALETTE palette) {
  std::vector<PALETTEENTRY> e(GetPaletteEntries(palette, 0, 0, nullptr));
  GetPaletteEntries(palette, 0, static_cast<UINT>(e.size()), e.data());
  return e;
}

TEST(Palettes, HalftoneHoldsTheStaticColoursTheCubeAndGreysOnce) {
  HPALETTE p = CreateHalftonePalette(nullptr);
  ASSERT_NE(p, nullptr);
  std::vector<PALETTEENTRY> e = Entries(p);
  ASSERT_EQ(e.size(), 256u);
  std::vector<PALETTEENTRY> statics(20);
  GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0, 20, statics.data());
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(e[i].peRed, statics[i].peRed);
    EXPECT_EQ(e[246 + i].peBlue, statics[10 + i].peBlue);
  }
  std::set<std::tuple<int, int, int>> cube;
  for (int i = 10; i < 246; ++i) cube.emplace(e[i].peRed, e[i].peGreen, e[i].peBlue);
  EXPECT_EQ(cube.size(), 236u) << "every place between the static colours is a colour of its own";
  EXPECT_TRUE(cube.count({51, 153, 255}));
  // Each call makes a palette of its own, which the caller deletes.
  HPALETTE q = CreateHalftonePalette(nullptr);
  EXPECT_NE(p, q);
  EXPECT_TRUE(DeleteObject(p));
  EXPECT_TRUE(DeleteObject(q));
}

TEST(Palettes, SystemPalette16IsTheVgaTableAndShared) {
  HPALETTE p = SystemPalette16();
  EXPECT_EQ(p, SystemPalette16());
  std::vector<PALETTEENTRY> e = Entries(p);
  std::vector<RGBQUAD> vga = DefaultColorTable(4);
  ASSERT_EQ(e.size(), 16u);
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(e[i].peRed, vga[i].rgbRed);
    EXPECT_EQ(e[i].peGreen, vga[i].rgbGreen);
    EXPECT_EQ(e[i].peBlue, vga[i].rgbBlue);
  }
}

class ProgressProbe : public TBitmap {
public:
  void Report(TProgressStage stage, uint8_t percent) { Progress(this, stage, percent, true, TRect{}, "Loading..."); }
};

TEST(GraphicMarks, ProgressReachesTheHandlerOnlyWhenSetAndPaletteMarkIsPlain) {
  ProgressProbe g;
  g.Report(psStarting, 0);  // no handler: nothing happens
  std::vector<int> seen;
  g.OnProgress = [&](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, const TRect&,
                     const std::string& msg) {
    EXPECT_EQ(sender, &g);
    EXPECT_EQ(msg, "Loading...");
    seen.push_back(stage * 1000 + percent);
  };
  g.Report(psStarting, 0);
  g.Report(psRunning, 50);
  g.Report(psEnding, 100);
  EXPECT_EQ(seen, (std::vector<int>{0, 1050, 2100}));
  EXPECT_FALSE(g.PaletteModified());
  g.SetPaletteModified(true);
  EXPECT_TRUE(g.PaletteModified());
  EXPECT_FALSE(g.Modified()) << "the palette mark is no content change";
}

}  // namespace
