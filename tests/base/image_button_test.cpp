#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/image_button.h"
#include "platform/ui/actions.h"
#include "platform/ui/ui_test_support.h"

using namespace headless;

namespace {

class ImageButtonTest : public UiTest {
protected:
  void SetUp() override {
    UiTest::SetUp();
    form = MakeForm(200, 100);
    images = new TImageList(form);
    TBitmap red;
    red.SetPixelFormat(pf24bit);
    red.SetSize(16, 16);
    red.Canvas()->Brush()->SetColor(clRed);
    red.Canvas()->FillRect(Rect(0, 0, 16, 16));
    images->AddMasked(&red, clFuchsia);
    button = MakeButton(10, 10);
    // A metronome keeps the headless clock moving in small steps.
    auto* metronome = new TTimer(form);
    metronome->SetInterval(10);
    metronome->OnTimer = [](TObject*) {};
    form->Show();
    ProcessMessages();
  }

  TImageButton* MakeButton(int left, int top) {
    auto* b = new TImageButton(form);
    b->SetParent(form);
    b->SetLeft(left);
    b->SetTop(top);
    b->SetImages(images);
    b->SetImageIndex(0);
    b->OnClick = Note("click");
    b->OnDropDown = nullptr;
    b->OnMouseEnter = Note("enter");
    b->OnMouseLeave = Note("leave");
    return b;
  }

  TPopupMenu* MakeMenu() {
    auto* menu = new TPopupMenu(form);
    auto* item = new TMenuItem(form);
    item->SetCaption("Item");
    menu->Items()->Add(item);
    // The menu runs its own loop: it notes where it opened and is dismissed.
    menu->OnPopup = [this](TObject*) {
      log.push_back("menu");
      Headless().Then([] { PressKey(VK_ESCAPE); });
    };
    return menu;
  }

  // Runs the loop until the clock has moved on by ms.
  void RunFor(uint64_t ms) {
    const uint64_t end = Headless().Now() + ms;
    while (Headless().Now() < end) Application->HandleMessage();
  }

  int Count(const std::string& name) const { return static_cast<int>(std::count(log.begin(), log.end(), name)); }

  // The button painted alone, as the screen shows it.
  TColor PixelOf(int x, int y) {
    TBitmap picture;
    picture.SetPixelFormat(pf24bit);
    picture.SetSize(button->Width(), button->Height());
    button->PaintTo(picture.Canvas(), 0, 0);
    return static_cast<TColor>(GetPixel(picture.Canvas()->Handle(), x, y));
  }

  TForm* form = nullptr;
  TImageList* images = nullptr;
  TImageButton* button = nullptr;
};

TEST_F(ImageButtonTest, StateMachineCases) {
  struct TCase {
    const char* name;
    std::function<void()> run;
  };
  const TCase cases[] = {
      {"a press on the corner arrow drops the menu before the release",
       [this] {
         button->SetDropDownMenu(MakeMenu());
         button->OnDropDown = Note("dropdown");
         MouseDown(button, 20, 19);
         ProcessMessages();
         EXPECT_EQ(log, (std::vector<std::string>{"dropdown", "menu"}));
         EXPECT_FALSE(button->Pressed());
         EXPECT_EQ(button->Timer(), nullptr);
         MouseUp(button, 20, 19);
         ProcessMessages();
         EXPECT_EQ(Count("click"), 0);
       }},
      {"a press elsewhere with no delay clicks, then drops down",
       [this] {
         button->SetDropDownMenu(MakeMenu());
         Click(button, 5, 5);
         ProcessMessages();
         EXPECT_EQ(Count("click"), 1);
         EXPECT_EQ(Count("menu"), 1);
       }},
      {"a press held for the delay drops the menu and ends the press",
       [this] {
         button->SetDropDownMenu(MakeMenu());
         button->SetDropDownDelay(500);
         MouseDown(button, 5, 5);
         ProcessMessages();
         RunFor(490);
         EXPECT_EQ(Count("menu"), 0);
         RunFor(20);
         EXPECT_EQ(Count("menu"), 1);
         EXPECT_FALSE(button->Pressed());
         EXPECT_EQ(button->State(), ibsUp);
         MouseUp(button, 5, 5);
         ProcessMessages();
         EXPECT_EQ(Count("click"), 0);
       }},
      {"a shorter press clicks without the menu",
       [this] {
         button->SetDropDownMenu(MakeMenu());
         button->SetDropDownDelay(500);
         MouseDown(button, 5, 5);
         ProcessMessages();
         RunFor(200);
         MouseUp(button, 5, 5);
         ProcessMessages();
         RunFor(600);
         EXPECT_EQ(Count("click"), 1);
         EXPECT_EQ(Count("menu"), 0);
       }},
      {"auto-repeat clicks after 400 ms, then every 100 ms",
       [this] {
         button->SetAutoRepeat(true);
         MouseDown(button, 5, 5);
         ProcessMessages();
         RunFor(390);
         EXPECT_EQ(Count("click"), 0);
         RunFor(20);
         EXPECT_EQ(Count("click"), 1);
         RunFor(100);
         EXPECT_EQ(Count("click"), 2);
         RunFor(100);
         EXPECT_EQ(Count("click"), 3);
         MouseUp(button, 5, 5);
         ProcessMessages();
         EXPECT_EQ(Count("click"), 4);  // the release clicks too
         EXPECT_EQ(button->Timer(), nullptr);
         RunFor(300);
         EXPECT_EQ(Count("click"), 4);
       }},
      {"a drop-down menu turns auto-repeat off",
       [this] {
         button->SetAutoRepeat(true);
         button->SetDropDownMenu(MakeMenu());
         EXPECT_FALSE(button->AutoRepeat());
       }},
      {"the press stays inside down to the client height itself",
       [this] {
         MouseDown(button, 5, 5);
         ProcessMessages();
         MouseMove(button, 5, button->ClientHeight());
         ProcessMessages();
         EXPECT_EQ(button->State(), ibsDown);
         MouseMove(button, 5, button->ClientHeight() + 1);
         ProcessMessages();
         EXPECT_EQ(button->State(), ibsUp);
         MouseMove(button, button->ClientWidth(), 5);
         ProcessMessages();
         EXPECT_EQ(button->State(), ibsUp);
         MouseMove(button, 5, 5);
         ProcessMessages();
         EXPECT_EQ(button->State(), ibsDown);
         MouseUp(button, 5, button->ClientHeight());
         ProcessMessages();
         EXPECT_EQ(Count("click"), 1);
       }},
      {"a group keeps one button down",
       [this] {
         TImageButton* second = MakeButton(40, 10);
         button->SetGroupIndex(1);
         second->SetGroupIndex(1);
         Click(button, 5, 5);
         ProcessMessages();
         EXPECT_TRUE(button->Down());
         Click(second, 5, 5);
         ProcessMessages();
         EXPECT_TRUE(second->Down());
         EXPECT_FALSE(button->Down());
         // Without AllowAllUp the down button stays down when clicked.
         Click(second, 5, 5);
         ProcessMessages();
         EXPECT_TRUE(second->Down());
         EXPECT_EQ(second->State(), ibsExclusive);
         second->SetAllowAllUp(true);
         EXPECT_TRUE(button->AllowAllUp());  // the group shares it
         Click(second, 5, 5);
         ProcessMessages();
         EXPECT_FALSE(second->Down());
       }},
      {"a plain button never stays down",
       [this] {
         button->SetDown(true);
         EXPECT_FALSE(button->Down());
         EXPECT_EQ(button->State(), ibsUp);
       }},
      {"after a click a flat button under the mouse is hot again",
       [this] {
         button->SetFlat(true);
         MouseMove(button, 5, 5);
         ProcessMessages();
         EXPECT_TRUE(button->Hot());
         EXPECT_EQ(TImageButton::HotButton(), button);
         Click(button, 5, 5);
         ProcessMessages();
         EXPECT_TRUE(button->Hot());
         EXPECT_EQ(log, (std::vector<std::string>{"enter", "click", "enter"}));
         MouseMove(button, 100, 60);
         ProcessMessages();
         EXPECT_FALSE(button->Hot());
         EXPECT_EQ(log.back(), "leave");
       }},
      {"another button taking the mouse takes the hot flag",
       [this] {
         TImageButton* second = MakeButton(40, 10);
         MouseMove(button, 5, 5);
         ProcessMessages();
         MouseMove(second, 5, 5);
         ProcessMessages();
         EXPECT_FALSE(button->Hot());
         EXPECT_TRUE(second->Hot());
         EXPECT_EQ(TImageButton::HotButton(), second);
         delete second;
         EXPECT_EQ(TImageButton::HotButton(), nullptr);
       }},
      {"the caption's accelerator clicks",
       [this] {
         button->SetCaption("&Open");
         EXPECT_EQ(button->Perform(CM_DIALOGCHAR, 'o', 0), 1);
         EXPECT_EQ(button->Perform(CM_DIALOGCHAR, 'x', 0), 0);
         EXPECT_EQ(Count("click"), 1);
       }},
      {"an action gives its image list and index",
       [this] {
         auto* list = new TActionList(form);
         auto* other = new TImageList(form);
         list->SetImages(other);
         auto* action = new TAction(form);
         action->SetActionList(list);
         action->SetImageIndex(3);
         button->SetAction(action);
         EXPECT_EQ(button->Images(), other);
         EXPECT_EQ(button->ImageIndex(), 3);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    log.clear();
    SetUp();
    c.run();
  }
}

TEST_F(ImageButtonTest, PaintsFrameDownStateImageAndArrow) {
  const int w = button->Width(), h = button->Height();
  // A raised push button, the image in the middle, no arrow without a menu.
  EXPECT_EQ(PixelOf(0, 0), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(PixelOf(w - 1, h - 1), ColorToRGB(cl3DDkShadow));
  EXPECT_EQ(PixelOf(w / 2, h / 2), ColorToRGB(clRed));
  EXPECT_EQ(PixelOf(w - 3, h - 3), ColorToRGB(clBtnFace));

  button->SetDropDownMenu(MakeMenu());
  EXPECT_EQ(PixelOf(w - 3, h - 3), ColorToRGB(clBlack));  // the arrow's top line
  EXPECT_EQ(PixelOf(w - 5, h - 2), ColorToRGB(clWhite));  // its outline

  // Flat: no frame until hot, then a raised inner edge.
  button->SetFlat(true);
  button->SetDropDownMenu(nullptr);
  EXPECT_EQ(PixelOf(0, 0), PixelOf(1, 1));
  EXPECT_EQ(PixelOf(w - 1, h - 1), PixelOf(1, 1));
  MouseMove(button, 5, 5);
  ProcessMessages();
  EXPECT_EQ(PixelOf(0, 0), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(PixelOf(w - 1, h - 1), ColorToRGB(clBtnShadow));

  // Down: a sunken edge and the image moved by one pixel.
  MouseDown(button, 5, 5);
  ProcessMessages();
  EXPECT_EQ(PixelOf(0, 0), ColorToRGB(clBtnShadow));
  EXPECT_EQ(PixelOf(w - 1, h - 1), ColorToRGB(clBtnHighlight));
  const int left = (w - 16) / 2, top = (h - 16) / 2;
  EXPECT_EQ(PixelOf(left + 16, top + 16), ColorToRGB(clRed));
  EXPECT_NE(PixelOf(left, top), ColorToRGB(clRed));
  MouseUp(button, 5, 5);
  ProcessMessages();

  // An index past the list draws nothing and raises nothing.
  button->SetImageIndex(5);
  EXPECT_NE(PixelOf(w / 2, h / 2), ColorToRGB(clRed));
}

}  // namespace
