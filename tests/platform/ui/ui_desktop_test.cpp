// What the desktop sees of the program's windows: taskbar buttons of owned
// forms, the screen's pixels through the screen DC, and open menus closing
// when the program loses the focus.
#include <gtest/gtest.h>

#include "platform/graphics/gdi.h"
#include "platform/ui/menus.h"
#include "platform/ui/windows.h"
#include "ui_test_support.h"

namespace {

using namespace headless;

TEST_F(UiTest, OwnedFormsShareTheTaskbarButtonUnlessTheyAskForTheirOwn) {
  TForm* main = MakeForm();
  main->Show();
  auto* before = new TForm(main);  // asks before its window exists
  SetWindowLong(before->Handle(), GWL_EXSTYLE, GetWindowLong(before->Handle(), GWL_EXSTYLE) | WS_EX_APPWINDOW);
  before->Show();
  auto* plain = new TForm(main);
  plain->Show();
  EXPECT_TRUE(Headless().HasTaskbarButton(main->Handle()));
  EXPECT_TRUE(Headless().HasTaskbarButton(before->Handle()));
  EXPECT_FALSE(Headless().HasTaskbarButton(plain->Handle()));
  // Asking after the window is shown, and giving it back.
  EXPECT_EQ(SetWindowLong(plain->Handle(), GWL_EXSTYLE, WS_EX_APPWINDOW), 0);
  EXPECT_TRUE(Headless().HasTaskbarButton(plain->Handle()));
  EXPECT_EQ(SetWindowLong(plain->Handle(), GWL_EXSTYLE, 0), WS_EX_APPWINDOW);
  EXPECT_FALSE(Headless().HasTaskbarButton(plain->Handle()));
  // Other indexes and unknown windows keep nothing.
  EXPECT_EQ(SetWindowLong(plain->Handle(), 12345, 7), 0);
  EXPECT_EQ(GetWindowLong(plain->Handle(), 12345), 0);
  EXPECT_EQ(SetWindowLong(nullptr, GWL_EXSTYLE, WS_EX_APPWINDOW), 0);
}

TEST_F(UiTest, TheScreenDcReadsWhatTheScreenShows) {
  TForm* form = MakeForm(120, 80);
  form->SetColor(RGB(10, 200, 30));
  form->SetBounds(50, 60, form->Width(), form->Height());
  form->Show();
  ProcessMessages();
  POINT inside{60, 40};
  ClientToScreen(form->Handle(), &inside);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetPixel(screen, inside.x, inside.y), RGB(10, 200, 30));
  // Off every form: the desktop's colour.
  EXPECT_EQ(GetPixel(screen, 2, 2), GetSysColor(COLOR_BACKGROUND));
  // A blit from the screen copies the same pixels.
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
  HGDIOBJ old = SelectObject(memory, bitmap);
  EXPECT_TRUE(BitBlt(memory, 0, 0, 4, 4, screen, inside.x - 2, inside.y - 2, SRCCOPY));
  EXPECT_EQ(GetPixel(memory, 3, 3), RGB(10, 200, 30));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  // The form changed (a form's own colour repaints its whole window): the next read sees it.
  form->SetColor(RGB(250, 0, 0));
  ProcessMessages();
  EXPECT_EQ(GetPixel(screen, inside.x, inside.y), RGB(250, 0, 0));
  ReleaseDC(nullptr, screen);
}

TEST_F(UiTest, AnOpenMenuClosesWhenTheProgramLosesTheFocus) {
  TForm* form = MakeForm();
  auto* popup = new TPopupMenu(form);
  auto* item = new TMenuItem(form);
  item->SetCaption("Item");
  item->OnClick = Note("click");
  popup->Items()->Add(item);
  form->Show();
  bool wasOpen = false;
  Headless().Then([&] {
    wasOpen = ActivePopupForm() != nullptr;
    // The desktop took the focus: the form hears it is no longer active.
    PostMessage(form->Handle(), WM_ACTIVATE, 0, 0);
  });
  popup->Popup(20, 20);
  EXPECT_TRUE(wasOpen);
  EXPECT_EQ(ActivePopupForm(), nullptr);
  EXPECT_TRUE(log.empty());
}

}  // namespace
