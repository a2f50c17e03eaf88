// The helpers of the user interface that work on forms, driven headless.
#include <gtest/gtest.h>

#include "base/form_texts.h"
#include "base/rus_clipboard.h"
#include "base/ui_windows.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/file_dialogs.h"
#include "platform/ui/headless/headless_backend.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "platform/win/clipboard.h"
#include "platform/win/system_info.h"
#include "platform/ui/ui_test_support.h"

namespace {

class UiWindows : public UiTest {};

TEST_F(UiWindows, ErrorListShowsTheTextsReadOnlyAndClosesWithItsButton) {
  std::string caption, text;
  bool readOnly = false;
  int width = 0;
  Headless().Then([&] {
    TCustomForm* form = Screen->ActiveForm();
    caption = form->Caption();
    width = form->Width();
    auto* memo = dynamic_cast<TMemo*>(form->FindComponent("me"));
    ASSERT_NE(memo, nullptr);
    text = memo->Text();
    readOnly = memo->ReadOnly();
    headless::PressKey(VK_ESCAPE);
  });
  ShowErrorList({"first failed", "second failed"});
  EXPECT_EQ(caption, "Errors");
  EXPECT_EQ(width, 444);
  EXPECT_EQ(text, "first failed\r\nsecond failed");
  EXPECT_TRUE(readOnly);
}

TEST_F(UiWindows, BusyCursorCoversTheScreenUntilRestored) {
  ShowBusyCursor();
  EXPECT_EQ(Screen->Cursor(), crHourGlass);
  RestoreCursor();
  EXPECT_EQ(Screen->Cursor(), crDefault);
}

TEST_F(UiWindows, SmallWindowsGoBesideTheMouseInsideTheScreen) {
  auto* form = new TForm(Application);
  form->SetBounds(0, 0, 200, 100);
  Mouse->SetCursorPos(Point(0, 0));
  PlaceFormAtCursor(form);
  EXPECT_EQ(form->Left(), 30);
  EXPECT_EQ(form->Top(), 30);
  Mouse->SetCursorPos(Point(600, 500));
  PlaceFormLeftOfCursor(form);
  EXPECT_EQ(form->Left(), 400);
  EXPECT_EQ(form->Top(), 450);
}

TEST_F(UiWindows, FitImageInPanelStretchesOnlyPicturesThatDoNotFit) {
  auto* form = new TForm(Application);
  auto* panel = new TPanel(form);
  panel->SetParent(form);
  panel->SetBevelOuter(bvNone);
  panel->SetBounds(0, 0, 104, 54);
  auto* image = new TImage(form);
  image->SetParent(panel);
  FitImageInPanel(image, panel, 400, 100, 2);
  EXPECT_TRUE(image->Stretch());
  EXPECT_EQ(image->Width(), 100);
  EXPECT_NEAR(image->Height(), 25, 1);  // the aspect kept, to the fitting's rounding
  FitImageInPanel(image, panel, 20, 10, 2);
  EXPECT_FALSE(image->Stretch());
  EXPECT_EQ(image->BoundsRect().left, 42);
  EXPECT_EQ(image->Width(), 20);
}

TEST_F(UiWindows, HelpWithoutAnyFileSaysSo) {
  Application->SetTitle("Quorvane");
  Application->SetHelpFile("/nonexistent/quorvane.chm");
  std::string caption;
  Headless().Then([&] {
    caption = Screen->ActiveForm()->Caption();
    headless::PressKey(VK_RETURN);
  });
  ShowHelp();
  EXPECT_EQ(caption, "Quorvane");
}

TEST_F(UiWindows, SelectedFilterExtFollowsTheFilterIndex) {
  TOpenDialog dialog(nullptr);
  dialog.SetFilter("Icons|*.ico|Cursors|*.cur");
  dialog.SetFilterIndex(2);
  EXPECT_EQ(GetSelectedFilterExt(&dialog), "cur");
  dialog.SetFilterIndex(7);
  EXPECT_EQ(GetSelectedFilterExt(&dialog), "");
}

TEST_F(UiWindows, LanguageFilesReachCaptionsHintsAndItems) {
  InstallFormTextAccess();
  const TFormTextAccess& access = FormTextAccess();
  auto* form = new TForm(Application);
  auto* button = new TButton(form);
  auto* group = new TRadioGroup(form);
  group->SetParent(form);
  group->Items()->Add("one");
  group->Items()->Add("two");
  group->SetItemIndex(1);
  EXPECT_EQ(access.RoleOf(button), ftrButton);
  EXPECT_EQ(access.RoleOf(group), ftrRadioGroup);
  EXPECT_EQ(access.RoleOf(Application), ftrNone);
  access.SetCaption(button, "Schliessen");
  access.SetItems(group, {"eins", "zwei"});
  EXPECT_EQ(button->Caption(), "Schliessen");
  EXPECT_EQ(group->Items()->Strings(0), "eins");
  EXPECT_EQ(group->ItemIndex(), 1);
  SetFormTextAccess({});
}

TEST_F(UiWindows, TheClipboardHasAnOwnerWindowWhileTheProgramWrites) {
  TRusClipboard clipboard;
  clipboard.Open();
  EmptyClipboard();
  HWND owner = GetClipboardOwner();
  EXPECT_NE(owner, nullptr);
  EXPECT_TRUE(IsWindow(owner));
  clipboard.Close();
  EXPECT_FALSE(IsWindow(owner));
}

}  // namespace
