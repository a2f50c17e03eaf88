#include "imaging/core/ie_palette_dialog.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/rtl/exceptions.h"

namespace {

struct Picker {
  std::vector<TRGB> palette;
  TBitmap surface;
  TImageLibPaletteDialog dialog;
  explicit Picker(int n) {
    for (int i = 0; i < n; ++i) palette.push_back(MakeRGB(uint8_t(i * 6), uint8_t(100), uint8_t(255 - i)));
    surface.SetPixelFormat(pf24bit);
    surface.SetSize(520, 199);
    surface.Canvas()->Brush()->SetColor(0x123456);
    surface.Canvas()->FillRect(TRect{0, 0, 520, 199});
    dialog.SetPalette(palette.data(), 0, n);
  }
  TColor At(int x, int y) { return surface.Canvas()->Pixels(x, y); }
  TColor Of(int i) { return TColor(palette[size_t(i)].r | palette[size_t(i)].g << 8 | palette[size_t(i)].b << 16); }
};

}  // namespace

TEST(TImageLibPaletteDialog, FortyEntriesMakeTwoRows) {
  Picker p(40);
  p.dialog.PaintCells(*p.surface.Canvas());
  EXPECT_EQ(p.At(31 * 16 + 8, 8), p.Of(31));  // last cell of the first row
  EXPECT_EQ(p.At(7 * 16 + 8, 16 + 8), p.Of(39));
  EXPECT_EQ(p.At(8 * 16 + 8, 16 + 8), 0x123456);  // no entry 40
  EXPECT_EQ(p.At(1, 1), 0xFFFFFF);              // outline of an ordinary cell
}

TEST(TImageLibPaletteDialog, TrackingAndChoosing) {
  Picker p(40);
  EXPECT_FALSE(p.dialog.SelectCell());  // nothing under the pointer yet: nothing read
  EXPECT_EQ(p.dialog.ChosenColor(), -1);
  EXPECT_FALSE(p.dialog.TrackMouse(8 * 16 + 5, 16 + 5, p.surface.Canvas()));  // cell 40: not an entry
  EXPECT_TRUE(p.dialog.TrackMouse(2 * 16 + 5, 16 + 5, p.surface.Canvas()));   // cell 34
  EXPECT_EQ(p.dialog.HotCell(), 34);
  EXPECT_EQ(p.At(2 * 16 + 1, 16 + 1), 0x000000);  // painted again, outlined black
  EXPECT_FALSE(p.dialog.TrackMouse(2 * 16 + 9, 16 + 9, p.surface.Canvas()));  // same cell
  EXPECT_TRUE(p.dialog.SelectCell());
  EXPECT_EQ(p.dialog.ChosenColor(), p.Of(34));
  p.dialog.TrackMouse(5, 5, p.surface.Canvas());
  EXPECT_EQ(p.At(2 * 16 + 1, 16 + 1), 0x555555);  // the chosen colour's cell
}

TEST(TImageLibPaletteDialog, NoPaletteIsRefused) {
  TImageLibPaletteDialog d;
  EXPECT_THROW(d.CheckPalette(), Exception);
  try {
    d.CheckPalette();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid Palette!");
  }
}
