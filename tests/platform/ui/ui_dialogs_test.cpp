// Message boxes and the common dialogs, answered by a script.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/ui/dialogs.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/file_dialogs.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "test_support.h"
#include "ui_test_support.h"

namespace {

using namespace headless;

// The button with the caption on the form running now.
TButton* ButtonOf(const std::string& caption) {
  TCustomForm* form = Screen->ActiveForm();
  std::vector<TWinControl*> list;
  form->GetTabOrderList(list);
  for (TWinControl* c : list)
    if (auto* b = dynamic_cast<TButton*>(c); b && b->Caption() == caption) return b;
  ADD_FAILURE() << "no button " << caption << " on " << form->Caption();
  return nullptr;
}

template <class T> T* First() {
  std::vector<TWinControl*> list;
  Screen->ActiveForm()->GetTabOrderList(list);
  for (TWinControl* c : list)
    if (auto* t = dynamic_cast<T*>(c)) return t;
  return nullptr;
}

TEST_F(UiTest, MessageBoxReturnsTheButtonPressed) {
  struct Case {
    UINT type;
    const char* press;
    int expected;
  };
  for (const Case& c : {Case{MB_YESNOCANCEL | MB_ICONQUESTION, "&No", IDNO}, Case{MB_OKCANCEL, "Cancel", IDCANCEL},
                        Case{MB_ABORTRETRYIGNORE, "&Retry", IDRETRY}, Case{MB_OK | MB_ICONSTOP, "OK", IDOK}}) {
    std::string caption;
    Headless().Then([&] {
      caption = Screen->ActiveForm()->Caption();
      Click(ButtonOf(c.press));
    });
    EXPECT_EQ(MessageBox(nullptr, "Replace the icon?", "Quorvane", c.type), c.expected);
    EXPECT_EQ(caption, "Quorvane");
  }
  // Escape gives Cancel where there is one, and the default button takes Return.
  Headless().Then([] { PressKey(VK_ESCAPE); });
  EXPECT_EQ(MessageBox(nullptr, "text", nullptr, MB_YESNOCANCEL), IDCANCEL);
  Headless().Then([] { PressKey(VK_RETURN); });
  EXPECT_EQ(MessageBox(nullptr, "text", nullptr, MB_YESNO | MB_DEFBUTTON2), IDNO);
}

TEST_F(UiTest, MessageDlgAndShowMessageUseTheFrameworksCaptions) {
  Application->SetTitle("Quorvane");
  std::string caption;
  Headless().Then([&] {
    caption = Screen->ActiveForm()->Caption();
    Click(ButtonOf("&Yes"));
  });
  EXPECT_EQ(MessageDlg("Save changes?", mtConfirmation, mbYesNoCancel, 0), mrYes);
  EXPECT_EQ(caption, "Confirm");
  Headless().Then([&] {
    caption = Screen->ActiveForm()->Caption();
    PressKey(VK_RETURN);
  });
  ShowMessage("Done");
  EXPECT_EQ(caption, "Quorvane");
}

class FileDialogTest : public UiTest {
protected:
  void SetUp() override {
    UiTest::SetUp();
    std::filesystem::create_directories(dir.Path() / "sub");
    for (const char* name : {"a.ico", "B.ICO", "c.cur", "notes.txt", "sub/inner.ico"})
      std::ofstream(dir.File(name)) << "x";
  }
  std::vector<std::string> Shown() {
    auto* list = First<TListBox>();
    std::vector<std::string> names;
    for (int i = 0; i < list->Count(); ++i) names.push_back(list->Items()->Strings(i));
    return names;
  }
  qvtest::TempDir dir;
};

TEST_F(FileDialogTest, ListsFiltersNavigatesAndCallsItsHooksInOrder) {
  TOpenDialog dialog(nullptr);
  dialog.SetFilter("Icons (*.ico)|*.ico|All files (*.*)|*.*");
  dialog.SetInitialDir(dir.Path().string());
  dialog.SetTemplate("DLGTEMPLATE");
  dialog.SetOptions({ofFileMustExist});
  dialog.OnShow = [&](TObject*) {
    log.push_back("show");
    // The program fills the area beside the standard controls.
    ASSERT_NE(dialog.TemplateParent(), nullptr);
    auto* preview = new TPanel(dialog.TemplateParent());
    preview->SetParent(dialog.TemplateParent());
    EXPECT_GE(dialog.TemplateParent()->Left(), dialog.GetStaticRect().right);
  };
  dialog.OnFolderChange = [&](TObject*) { log.push_back("folder"); };
  dialog.OnSelectionChange = [&](TObject*) { log.push_back("selection " + std::filesystem::path(dialog.FileName()).filename().string()); };
  dialog.OnTypeChange = [&](TObject*) { log.push_back("type " + std::to_string(dialog.FilterIndex())); };
  dialog.OnCanClose = [&](TObject*, bool& can) { log.push_back("canclose"); can = true; };
  dialog.OnClose = [&](TObject*) { log.push_back("close"); };
  std::vector<std::string> first, all, inner;
  Headless().Then([&] {
first = Shown();
    auto* types = First<TComboBox>();
    types->SetFocus();
    PressKey(VK_DOWN);  // "All files"
  });
  Headless().Then([&] {
all = Shown();
    auto* list = First<TListBox>();
    list->SetFocus();
    list->SetItemIndex(0);  // "[sub]"
    PressKey(VK_RETURN);    // the edit is empty: Return opens nothing yet
  });
  Headless().Then([&] {
    auto* list = First<TListBox>();
    TRect r = list->ItemRect(0);
    DoubleClick(list, r.left + 3, r.top + 2);
  });
  Headless().Then([&] {
inner = Shown();
    auto* list = First<TListBox>();
    TRect r = list->ItemRect(0);
    Click(list, r.left + 3, r.top + 2);
  });
  Headless().Then([&] { Click(ButtonOf("&Open")); });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(first, (std::vector<std::string>{"[sub]", "a.ico", "B.ICO"}));
  EXPECT_EQ(all, (std::vector<std::string>{"[sub]", "a.ico", "B.ICO", "c.cur", "notes.txt"}));
  EXPECT_EQ(inner, (std::vector<std::string>{"inner.ico"}));
  EXPECT_EQ(dialog.FileName(), dir.File("sub/inner.ico"));
  EXPECT_EQ(log, (std::vector<std::string>{"show", "folder", "type 2", "folder", "selection inner.ico", "canclose", "close"}));
}

TEST_F(FileDialogTest, FileMustExistRefusesAMissingFileAndCancelKeepsTheName) {
  TOpenDialog dialog(nullptr);
  dialog.SetFilter("All files (*.*)|*.*");
  dialog.SetInitialDir(dir.Path().string());
  dialog.SetFileName("before.ico");
  dialog.SetOptions({ofFileMustExist});
  std::string warning;
  Headless().Then([&] {
    First<TEdit>()->SetText("missing.ico");
    Click(ButtonOf("&Open"));
  });
  Headless().Then([&] {
    // The warning box is up: note its text and close it; the dialog stays.
    auto* label = dynamic_cast<TLabel*>(Screen->ActiveForm()->Controls(0));
    for (int i = 0; !label && i < Screen->ActiveForm()->ControlCount(); ++i)
      label = dynamic_cast<TLabel*>(Screen->ActiveForm()->Controls(i));
    warning = label ? label->Caption() : "";
    PressKey(VK_RETURN);
  });
  Headless().Then([&] { Click(ButtonOf("Cancel")); });
  EXPECT_FALSE(dialog.Execute());
  EXPECT_NE(warning.find("File not found"), std::string::npos);
  EXPECT_EQ(dialog.FileName(), "before.ico");
}

TEST_F(FileDialogTest, SaveAddsTheDefaultExtensionAndAsksBeforeReplacing) {
  TSaveDialog dialog(nullptr);
  dialog.SetFilter("Icons (*.ico)|*.ico");
  dialog.SetDefaultExt("ico");
  dialog.SetInitialDir(dir.Path().string());
  dialog.SetOptions({ofOverwritePrompt});
  int asked = 0;
  Headless().Then([&] {
    First<TEdit>()->SetText("a");
    PressKey(VK_RETURN);
  });
  Headless().Then([&] {
    ++asked;
    Click(ButtonOf("&Yes"));
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(dialog.FileName(), dir.File("a.ico"));
  EXPECT_EQ(dialog.Files()->Count(), 1);
}

TEST_F(FileDialogTest, FolderChooserWalksDownAndReturnsThePickedFolder) {
  std::string folder = dir.Path().string();
  Headless().Then([&] {
    auto* list = First<TListBox>();
    EXPECT_EQ(list->Items()->Strings(0), "..");
    list->SetItemIndex(list->Items()->IndexOf("sub"));
    Click(ButtonOf("OK"));
  });
  ASSERT_TRUE(SelectDirectory("Pick", "", folder));
  EXPECT_EQ(folder, dir.File("sub"));
  Headless().Then([&] { PressKey(VK_ESCAPE); });
  EXPECT_FALSE(SelectDirectory("Pick", "", folder));
  EXPECT_EQ(folder, dir.File("sub"));
}

TEST_F(UiTest, ColorDialogReturnsTheColourTypedInFullView) {
  TColorDialog dialog(nullptr);
  dialog.SetOptions({cdFullOpen, cdAnyColor});
  dialog.SetColor(clRed);
  Headless().Then([] {
    std::vector<TWinControl*> list;
    Screen->ActiveForm()->GetTabOrderList(list);
    std::vector<TEdit*> edits;
    for (TWinControl* c : list)
      if (auto* e = dynamic_cast<TEdit*>(c)) edits.push_back(e);
    ASSERT_EQ(edits.size(), 3u);
    EXPECT_EQ(edits[0]->Text(), "255");
    edits[1]->SetText("128");
    Click(ButtonOf("OK"));
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.Color(), static_cast<TColor>(RGB(255, 128, 0)));
  EXPECT_EQ(dialog.CustomColors()->Count(), 16);
}

}  // namespace
