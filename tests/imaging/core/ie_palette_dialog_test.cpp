#include "imaging/core/ie_palette_dialog.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/rtl/exceptions.h"
#include "platform/ui/ui_test_support.h"

using headless::Click;
using headless::MouseMove;

namespace {

class PaletteDialogTest : public UiTest {
protected:
  std::vector<TRGB> palette;
  TImageLibPaletteDialog* dialog = nullptr;
  void Make(int n) {
    for (int i = 0; i < n; ++i) palette.push_back(MakeRGB(uint8_t(i * 6), uint8_t(100), uint8_t(255 - i)));
    dialog = NewForm<TImageLibPaletteDialog>(Application);
    dialog->SetPalette(palette.data(), 0, n);
  }
  TColor Of(int i) const {
    return TColor(palette[size_t(i)].r | palette[size_t(i)].g << 8 | palette[size_t(i)].b << 16);
  }
};

}  // namespace

TEST_F(PaletteDialogTest, LayoutAndFortyEntriesInTwoRows) {
  Make(40);
  EXPECT_EQ(dialog->Caption(), "Palette");
  EXPECT_EQ(dialog->Width(), 520);
  EXPECT_EQ(dialog->Height(), 199);
  EXPECT_EQ(dialog->CancelButton()->Top(), 136);
  EXPECT_EQ(dialog->CancelButton()->Left() + dialog->CancelButton()->Width() + 8, dialog->ClientWidth());
  TBitmap surface;
  surface.SetPixelFormat(pf24bit);
  surface.SetSize(520, 199);
  surface.Canvas()->Brush()->SetColor(0x123456);
  surface.Canvas()->FillRect(TRect{0, 0, 520, 199});
  dialog->PaintCells(*surface.Canvas());
  EXPECT_EQ(surface.Canvas()->Pixels(31 * 16 + 8, 8), Of(31));  // last cell of the first row
  EXPECT_EQ(surface.Canvas()->Pixels(7 * 16 + 8, 16 + 8), Of(39));
  EXPECT_EQ(surface.Canvas()->Pixels(8 * 16 + 8, 16 + 8), 0x123456);  // no entry 40
  EXPECT_EQ(surface.Canvas()->Pixels(1, 1), 0xFFFFFF);  // outline of an ordinary cell
}

TEST_F(PaletteDialogTest, PointingAndClickingChooseTheColour) {
  Make(40);
  EXPECT_FALSE(dialog->SelectCell());  // nothing under the pointer yet: nothing read
  EXPECT_EQ(dialog->ChosenColor(), -1);
  EXPECT_FALSE(dialog->TrackMouse(8 * 16 + 5, 16 + 5));  // cell 40: not an entry
  Headless().Then([&] {
    MouseMove(dialog, 2 * 16 + 5, 16 + 5);  // cell 34
    headless::ProcessMessages();
    log.push_back(dialog->Canvas()->Pixels(2 * 16 + 1, 16 + 1) == 0 ? "outlined black" : "not outlined");
    Click(dialog, 2 * 16 + 5, 16 + 5);
  });
  EXPECT_TRUE(dialog->Execute());
  EXPECT_EQ(dialog->HotCell(), 34);
  EXPECT_EQ(dialog->ChosenColor(), Of(34));
  EXPECT_EQ(log, (std::vector<std::string>{"outlined black"}));
  dialog->TrackMouse(5, 5);
  EXPECT_EQ(dialog->Canvas()->Pixels(2 * 16 + 1, 16 + 1), 0x555555);  // the chosen colour's cell
}

TEST_F(PaletteDialogTest, CancelAndMissingPalette) {
  Make(3);
  Headless().Then([&] { Click(dialog->CancelButton()); });
  EXPECT_FALSE(dialog->Execute());
  EXPECT_EQ(dialog->ChosenColor(), -1);
  auto* empty = NewForm<TImageLibPaletteDialog>(Application);
  try {
    empty->Execute();
    FAIL() << "no palette, yet Execute ran";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid Palette!");
  }
}

TEST_F(PaletteDialogTest, OwnerWindowHandleWalksTheOwners) {
  Make(1);
  auto* inner = new TComponent(dialog);
  TComponent loose(nullptr);
  EXPECT_EQ(OwnerWindowHandle(&loose), HWND{});
  dialog->Show();
  EXPECT_NE(OwnerWindowHandle(inner), HWND{});
  EXPECT_EQ(OwnerWindowHandle(inner), dialog->Handle());
}
