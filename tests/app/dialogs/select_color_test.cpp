// The colour picker driven as a user drives it: preset colours, the system
// colour list, typed values, the eyedropper over the screen and the place the
// window opens at.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/dialogs/select_color.h"
#include "app_ui_test.h"
#include "base/colour_values.h"
#include "base/image_button.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "platform/ui/windows.h"

using namespace headless;

namespace {

class SelectColorTest : public AppUiTest {
protected:
  // Runs SelectColor with the steps scripted before; the last one must close it.
  bool Run(TColor& colour) { return SelectColor(colour); }
  static TfmSelectColor16Ex& Form() { return *SelectColorForm(); }
};

TEST_F(SelectColorTest, PresetsPressTheirButtonAndOkReturnsTheRgbValue) {
  struct Case {
    TColor given;
    std::string hex;
    bool custom;      // btColorEx pressed
    int systemItem;   // list selection after the call (-1 unchanged from none)
    TColor returned;
  } cases[] = {
      {clRed, "#FF0000", false, -1, 0x0000FF},
      {clBtnFace, "#" + Format("%.6X", int(ColorToRGBValue(clBtnFace))), true, 0, ColorToRGB(clBtnFace)},
      {0x123456, "#563412", true, -1, 0x123456},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    TColor colour = c.given;
    bool customDown = false, redDown = false;
    int item = -2;
    std::string hex;
    Headless().Then([&] {
      customDown = Form().btColorEx->Down();
      redDown = Form().bt7->Down();
      item = Form().cbSysColors->ItemIndex();
      hex = Form().edHex->Text();
      Click(Form().btOk);
    });
    ASSERT_TRUE(Run(colour));
    EXPECT_EQ(customDown, c.custom);
    EXPECT_EQ(redDown, c.given == clRed);
    EXPECT_EQ(hex, c.hex);
    if (c.systemItem >= 0) EXPECT_EQ(item, c.systemItem);
    else EXPECT_EQ(item, -1);
    EXPECT_EQ(colour, c.returned);
    EXPECT_FALSE(Form().Visible());
    EXPECT_EQ(Form().cbSysColors->Items()->Count(), 25);
    EXPECT_EQ(Form().cbSysColors->Items()->Strings(0), "BtnFace");
    // The Default button stays hidden without a default colour.
    EXPECT_FALSE(Form().btDefault->Visible());
  }
}

TEST_F(SelectColorTest, TypedHexOrNamesSelectTheCustomSwatchAndGarbageChangesNothing) {
  TColor colour = clWhite;
  TColor afterGreen = 0, afterGarbage = 0, afterName = 0, afterEmpty = 1;
  bool customDown = false;
  Headless().Then([&] {
    Form().edHex->SetText("#00FF00");
    afterGreen = Form().GetSelectedColor();
    customDown = Form().btColorEx->Down();
    Form().edHex->SetText("XYZ");
    afterGarbage = Form().GetSelectedColor();
    Form().edHex->SetText("navy");  // shown upper-case: a colour name in any case
    afterName = Form().GetSelectedColor();
    Form().edHex->SetText("");
    afterEmpty = Form().GetSelectedColor();
    Form().edHex->SetText("#00FF00");
    Click(Form().btOk);
  });
  ASSERT_TRUE(Run(colour));
  EXPECT_EQ(afterGreen, TColor(0x00FF00));
  EXPECT_TRUE(customDown);
  EXPECT_EQ(afterGarbage, TColor(0x00FF00));
  EXPECT_EQ(afterName, clNavy);
  EXPECT_EQ(afterEmpty, clBlack);
  EXPECT_EQ(colour, TColor(0x00FF00));
}

TEST_F(SelectColorTest, AFixedColourClosesAtOnceAndCancelKeepsTheColour) {
  TColor colour = clWhite;
  Headless().Then([&] { Click(Form().Fixed[13]); });  // bt12, green
  ASSERT_TRUE(Run(colour));
  EXPECT_EQ(colour, clGreen);
  colour = clYellow;
  Headless().Then([&] { Click(Form().btCancel); });
  EXPECT_FALSE(Run(colour));
  EXPECT_EQ(colour, clYellow);
}

TEST_F(SelectColorTest, SystemColourItemChoosesItsCurrentValue) {
  TColor colour = clWhite;
  Headless().Then([&] {
    Form().cbSysColors->SetItemIndex(11);  // Highlight
    Form().cbSysColorsChange(Form().cbSysColors);
    Click(Form().btOk);
  });
  ASSERT_TRUE(Run(colour));
  EXPECT_EQ(colour, ColorToRGB(clHighlight));
}

// The screen outside the picker: another form of a known colour.
TEST_F(SelectColorTest, EyedropperFollowsThePointerOutsideAndTakesAClickOrCtrlP) {
  auto* under = new TForm(Application);
  under->SetBorderStyle(bsNone);
  under->SetColor(0x3366CC);
  under->SetBounds(20, 20, 120, 120);
  under->Show();
  ProcessMessages();
  // The picker opens around the pointer, away from the other form.
  SetCursorPos(Screen->Width() - 300, Screen->Height() - 200);
  TColor colour = clWhite;
  bool trackShown = false, trackHiddenInside = true;
  TColor tracked = 0, afterCtrlP = 0, afterClick = 0;
  Headless().Then([&] {
    SetCursorPos(60, 60);
    Headless().AdvanceClock(150);  // one eyedropper tick
  });
  Headless().Then([&] {
    trackShown = Form().btTrack->Visible() && Form().lbTrack->Visible();
    tracked = Form().btTrack->Color();
    PressKey('P', {ssCtrl});
  });
  Headless().Then([&] {
    afterCtrlP = Form().GetSelectedColor();
    Form().SetSelectedColor(clWhite);
    // A left button held down outside the window, as the tick reads it.
    MSG down{};
    down.message = WM_LBUTTONDOWN;
    down.wParam = MK_LBUTTON;
    down.pt = POINT{60, 60};
    NoteInputMessage(down);
    Headless().AdvanceClock(150);
  });
  Headless().Then([&] {
    afterClick = Form().GetSelectedColor();
    MSG up{};
    up.message = WM_LBUTTONUP;
    up.pt = POINT{60, 60};
    NoteInputMessage(up);
    SetCursorPos(Form().Left() + 10, Form().Top() + 10);
    Headless().AdvanceClock(150);
  });
  Headless().Then([&] {
    trackHiddenInside = !Form().btTrack->Visible();
    Click(Form().btOk);
  });
  ASSERT_TRUE(Run(colour));
  EXPECT_TRUE(trackShown);
  EXPECT_EQ(tracked, TColor(0x3366CC));
  EXPECT_EQ(afterCtrlP, TColor(0x3366CC));
  EXPECT_EQ(afterClick, TColor(0x3366CC));
  EXPECT_TRUE(trackHiddenInside);
  EXPECT_EQ(colour, TColor(0x3366CC));
}

// The eyedropper swatch is never what a preset presses: OK keeps the colour
// that was asked for, whatever lies under the pointer.
TEST_F(SelectColorTest, SetSelectedColorNeverPressesTheEyedropperSwatch) {
  TColor colour = clWhite;
  Headless().Then([&] { Click(Form().btCancel); });
  Run(colour);
  Form().btTrack->SetColor(0x010203);
  Form().SetSelectedColor(0x010203);
  EXPECT_FALSE(Form().btTrack->Down());
  EXPECT_TRUE(Form().btColorEx->Down());
  Form().btTrack->SetColor(0x998877);  // the pointer moved on
  EXPECT_EQ(Form().GetSelectedColor(), TColor(0x010203));
}

// The hex field shows a whole colour code, wide letters and all.
TEST_F(SelectColorTest, TheHexFieldShowsAWholeColourCode) {
  TColor colour = 0xECC235;
  std::string shown;
  int widest = 0, room = 0;
  Headless().Then([&] {
    TEdit* hex = Form().edHex;
    shown = hex->Text();
    TBitmap probe;
    probe.Canvas()->Font()->Assign(hex->Font());
    for (const char* code : {"#35C2EC", "#DDDDDD", "#888888", "#C0C0C0"})
      widest = std::max(widest, probe.Canvas()->TextWidth(code));
    room = hex->ClientWidth() - 6;  // the edit's margins
    Form().SaveToPng(OutputFile("select_color_hex.png"));
    Click(Form().btCancel);
  });
  Run(colour);
  EXPECT_EQ(shown, "#35C2EC");
  EXPECT_LE(widest, room);
}

TEST_F(SelectColorTest, OpensCentredOnThePointerAtLeast30PixelsInsideTheScreen) {
  for (TPoint at : {Point(0, 0), Point(Screen->Width() - 1, Screen->Height() - 1), Point(400, 300)}) {
    SetCursorPos(at.x, at.y);
    TColor colour = clWhite;
    TRect bounds{};
    Headless().Then([&] {
      bounds = TRect{Form().Left(), Form().Top(), Form().Left() + Form().Width(), Form().Top() + Form().Height()};
      if (at.x == 400) Form().SaveToPng(OutputFile("select_color.png"));
      Click(Form().btCancel);
    });
    Run(colour);
    EXPECT_GE(bounds.left, 30);
    EXPECT_GE(bounds.top, 30);
    EXPECT_LE(bounds.right, Screen->Width() - 30);
    EXPECT_LE(bounds.bottom, Screen->Height() - 30);
    if (at.x == 400) { EXPECT_EQ((bounds.left + bounds.right) / 2, 400); }
  }
}

}  // namespace
