// The main window's commands driven as a user drives them: open and save
// through the dialogs with the name Save proposes, dropped, pasted and
// captured sources, rotation and flipping, the filter chooser rebuilding the
// previews while it is open, colour-pick mode with its selection kept, the
// test window, and the enabled state of every command in idle.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/data_module.h"
#include "app/dialogs/select_resample_filter.h"
#include "app/dialogs/test_icon.h"
#include "app/main_window.h"
#include "app/picture_transfer.h"
#include "app/program_start.h"
#include "app_data_model.h"
#include "app_test_util.h"
#include "main_window_fixture.h"
#include "base/image_button.h"
#include "imaging/core/ie_proc.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/views/image_view.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/actions.h"
#include "platform/ui/com_ctrls.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/headless/headless_backend.h"
#include "platform/ui/menus.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "test_support.h"

using namespace apptest;
using namespace headless;

namespace {

void WritePicture(const std::string& file, TBitmap& picture) {
  TIEBitmap ie;
  Bitmap32ToIEBitmap(picture, ie);
  if (picture.PixelFormat() != pf32bit) ie.RemoveAlphaChannel();
  auto io = TImageLibIO::CreateForBitmap(&ie);
  io->SaveFile(file);
  ASSERT_FALSE(io->Aborting()) << file;
}

// The named control of the kind on the form that is active now.
template <class T> T* OnActiveForm(const std::function<bool(T*)>& match = nullptr) {
  std::vector<TWinControl*> all;
  Screen->ActiveForm()->GetTabOrderList(all);
  for (TWinControl* c : all)
    if (auto* t = dynamic_cast<T*>(c); t && (!match || match(t))) return t;
  return nullptr;
}

void TypeNameAndPress(const std::string& name, const std::string& button) {
  OnActiveForm<TEdit>()->SetText(name);
  Click(OnActiveForm<TButton>([&](TButton* b) { return b->Caption() == button; }));
}

class MainActions : public MainWindowFixture {
protected:
  void SetUp() override {
    MainWindowFixture::SetUp();
    Idle();
  }
  static void Idle() {
    // The idle round: the pending work, then every action's update.
    ProcessMessages();
    fmMain->ProcessPendingUpdates();
    fmMain->ActionList->UpdateActions();
    ProcessMessages();
  }
  std::string Picture(const std::string& name, int w = 40, int h = 20) {
    auto p = Bitmap24(w, h, [](int x, int y) { return uint32_t(x * 6) << 16 | uint32_t(y * 12) << 8 | 0x30u; });
    WritePicture(dir.File(name), *p);
    return dir.File(name);
  }
  static TfmMain& F() { return *fmMain; }
};

TEST_F(MainActions, EveryCommandIsThereWithItsShortcutAndTheToolbarHoldsNineteenButtons) {
  TfmMain& f = F();
  struct Named {
    TAction* action;
    const char* caption;
    TShortCut shortCut;
  } named[] = {
      {f.aFileOpen, "Open...", ShortCut('O', {ssCtrl})},   {f.aFileSave, "Save", ShortCut('S', {ssCtrl})},
      {f.aEditCopy, "&Copy", ShortCut('C', {ssCtrl})},     {f.aEditPaste, "&Paste", ShortCut('V', {ssCtrl})},
      {f.aEditSelectAll, "Select &All", ShortCut('A', {ssCtrl})}, {f.aTest, "Test Icon", ShortCut('T', {ssCtrl})},
      {f.aHelpContents, "&Contents", ShortCut(VK_F1, {})}, {f.aDisplayZoomIn, "Zoom In", ShortCut(VK_ADD, {})},
      {f.aDisplayZoomOut, "Zoom Out", ShortCut(VK_SUBTRACT, {})},  {f.aDisplayAutoZoom, "Automatic Zoom", ShortCut(VK_MULTIPLY, {})},
      {f.aRotate90, "&Right", 0},                          {f.aFlipV, "&Vertically", 0},
  };
  for (const Named& n : named) {
    EXPECT_EQ(n.action->Caption(), n.caption);
    EXPECT_EQ(n.action->ShortCut(), n.shortCut) << n.caption;
  }
  EXPECT_EQ(f.ToolButtons.size(), 19u);
  std::vector<std::string> menus;
  for (int i = 0; i < f.mnMain->Items()->Count(); ++i)
    if (f.mnMain->Items()->Items(i)->Visible()) menus.push_back(f.mnMain->Items()->Items(i)->Caption());
  EXPECT_EQ(menus, (std::vector<std::string>{"&File", "&Edit", "&Tools", "&View", "&Help"}));
  EXPECT_EQ(f.mnHiddenPaste->ShortCut(), ShortCut(VK_INSERT, {ssShift}));
  EXPECT_EQ(f.mnHiddenCopy->ShortCut(), ShortCut(VK_INSERT, {ssCtrl}));
  EXPECT_FALSE(f.mnArbitrary->Visible());
  // The toolbar's buttons show the program's pictures.
  EXPECT_EQ(f.il->Count(), 21);
}

TEST_F(MainActions, EnabledStatesFollowTheirRulesInIdle) {
  TfmMain& f = F();
  OpenClipboard(nullptr);
  EmptyClipboard();
  CloseClipboard();
  Idle();
  EXPECT_TRUE(f.aFileSave->Enabled());
  EXPECT_TRUE(f.aTest->Enabled());
  EXPECT_FALSE(f.aEditPaste->Enabled());
  // The customisers that take the result icon follow it; the others are always there.
  EXPECT_TRUE(f.aCustomizeFolders->Enabled());
  EXPECT_TRUE(f.aCustomizeFileTypes->Enabled());
  EXPECT_TRUE(f.aHelpAbout->Enabled());
  EXPECT_TRUE(f.mnCustomizeWin->Enabled());
  EXPECT_TRUE(f.aDisplayAutoZoom->Checked());
  EXPECT_TRUE(f.aDrawSelection->Checked());
  EXPECT_FALSE(f.aPickTransparentColor->Checked());
  // A picture on the clipboard enables Paste; zooming by hand unticks Automatic Zoom.
  f.aEditCopy->Execute();
  f.aDisplayZoomIn->Execute();
  Idle();
  EXPECT_TRUE(f.aEditPaste->Enabled());
  EXPECT_FALSE(f.aDisplayAutoZoom->Checked());
  f.aPickTransparentColor->Execute();
  Idle();
  EXPECT_TRUE(f.aPickTransparentColor->Checked());
  EXPECT_FALSE(f.aDrawSelection->Checked());
  // An empty result disables what takes it.
  f.ResultIcon->Clear();
  Idle();
  EXPECT_FALSE(f.aFileSave->Enabled());
  EXPECT_FALSE(f.aTest->Enabled());
}

TEST_F(MainActions, OpenThenSaveProposesTheSourceNameAndAlwaysWritesIco) {
  const std::string b = Picture("b.png");
  Headless().Then([&] { TypeNameAndPress(b, "&Open"); });
  F().aFileOpen->Execute();
  EXPECT_EQ(F().lbSource->Caption(), b);
  std::string proposed;
  Headless().Then([&] {
    proposed = dm->SaveIconDialog->FileName();
    TypeNameAndPress(dir.File("c.png"), "&Save");
  });
  F().aFileSave->Execute();
  EXPECT_EQ(proposed, dir.File("b.ico"));
  EXPECT_TRUE(FileExists(dir.File("c.ico")));
  EXPECT_FALSE(FileExists(dir.File("c.png")));
  TAdvancedIcon saved;
  ASSERT_TRUE(saved.LoadFromFile(dir.File("c.ico")));
  EXPECT_EQ(saved.Count(), F().ResultIcon->Count());
  Headless().Then([&] {
    proposed = dm->SaveIconDialog->FileName();
    Click(OnActiveForm<TButton>([](TButton* x) { return x->Caption() == "Cancel"; }));
  });
  F().aFileSave->Execute();
  EXPECT_EQ(proposed, dir.File("c.ico"));
}

TEST_F(MainActions, DropsAcceptOnlyFilesAndSaveThenProposesTheDroppedOneOrNoneAfterAPaste) {
  const std::string d = Picture("dropped.png", 30, 30);
  std::filesystem::create_directories(dir.File("folder"));
  for (const auto& files : std::vector<std::vector<std::string>>{{dir.File("folder"), d}, {d, dir.File("folder")}}) {
    DropFiles(F().img, files, 10, 10);
    ProcessMessages();
    EXPECT_NE(F().lbSource->Caption(), d);
  }
  DropFiles(F().img, {d}, 10, 10);
  ProcessMessages();
  EXPECT_EQ(F().lbSource->Caption(), d);
  EXPECT_EQ(F().SaveProposal(), dir.File("dropped.ico"));
  F().aEditCopy->Execute();
  F().aEditPasteExecute(nullptr);
  EXPECT_EQ(F().SaveProposal(), "");
}

TEST_F(MainActions, ScreenCaptureReplacesTheSourceAtActualSize) {
  TfmMain& f = F();
  const int rebuilds = f.RebuildCount();
  f.mnToolsCaptureImageClick(nullptr);
  EXPECT_EQ(f.lbSource->Caption(), "Screenshot");
  EXPECT_EQ(f.img->GetIEBitmap()->Width(), Screen->Width());
  EXPECT_EQ(f.img->GetIEBitmap()->Height(), Screen->Height());
  EXPECT_DOUBLE_EQ(f.img->Zoom(), 100);
  EXPECT_TRUE(f.mnScale1->Checked());
  EXPECT_EQ(f.RebuildCount(), rebuilds + 1);
  EXPECT_EQ(f.WindowState(), wsNormal);
  EXPECT_EQ(f.SaveProposal(), "");
}

TEST_F(MainActions, RotationTurnsClockwiseAndFlipsMirrorWithAlpha) {
  TfmMain& f = F();
  // A 4 x 2 picture with one red pixel at the top left, half transparent elsewhere.
  auto p = Bitmap32(4, 2, [](int x, int y) { return x == 0 && y == 0 ? 0xFFFF0000u : 0x800000FFu; });
  WritePicture(dir.File("r.png"), *p);
  ASSERT_TRUE(f.LoadSourceImage(dir.File("r.png")));
  auto red = [&](int x, int y) {
    TBitmap b;
    IEBitmapToBitmap32(*f.img->GetIEBitmap(), b);
    return (Pixel32(b, x, y) & 0xFFFFFF) == 0xFF0000;
  };
  f.aRotate90->Execute();  // clockwise: the top-left pixel goes to the top right
  EXPECT_EQ(f.img->GetIEBitmap()->Width(), 2);
  EXPECT_TRUE(red(1, 0));
  f.aFlipH->Execute();
  EXPECT_TRUE(red(0, 0));
  f.aFlipV->Execute();
  EXPECT_TRUE(red(0, 3));
  EXPECT_TRUE(f.img->GetIEBitmap()->HasAlphaChannel());
  f.aRotate270->Execute();
  EXPECT_EQ(f.img->GetIEBitmap()->Width(), 4);
}

TEST_F(MainActions, TheFilterChooserRebuildsWhileOpenAndCancelPutsTheFilterBack) {
  TfmMain& f = F();
  const int rebuilds = f.RebuildCount();
  int filterWhileOpen = -1, rebuildsWhileOpen = 0;
  auto clickItem = [](int i) {
    TListBox* list = OpenResampleFilterChooser()->ListBox;
    const TRect r = list->ItemRect(i);
    Click(list, r.left + 4, r.top + 2);
  };
  Headless().Then([&] { clickItem(5); });  // Lanczos3
  Headless().Then([&] {
    // The idle round runs while the chooser is open.
    filterWhileOpen = f.FilterIndex;
    rebuildsWhileOpen = f.RebuildCount();
    Click(OpenResampleFilterChooser()->btCancel);
  });
  f.btSelrfClick(nullptr);
  EXPECT_EQ(filterWhileOpen, 5);
  EXPECT_GT(rebuildsWhileOpen, rebuilds);
  EXPECT_EQ(f.FilterIndex, 9);
  EXPECT_TRUE(f.RebuildPending);
  Idle();
  // None with OK unticks Smooth resample; another filter ticks it again.
  Headless().Then([&] { clickItem(0); });
  Headless().Then([&] { Click(OpenResampleFilterChooser()->btOk); });
  f.btSelrfClick(nullptr);
  EXPECT_EQ(f.FilterIndex, 0);
  EXPECT_FALSE(f.cbSmoothResample->Checked());
  Headless().Then([&] { clickItem(2); });
  Headless().Then([&] { Click(OpenResampleFilterChooser()->btOk); });
  f.btSelrfClick(nullptr);
  EXPECT_EQ(f.FilterIndex, 2);
  EXPECT_TRUE(f.cbSmoothResample->Checked());
}

TEST_F(MainActions, ColourPickModeTakesThePixelAndGivesTheSelectionBack) {
  TfmMain& f = F();
  auto p = Bitmap32(20, 20, [](int x, int) { return x < 10 ? 0xFF102030u : 0x00000000u; });
  WritePicture(dir.File("pick.png"), *p);
  ASSERT_TRUE(f.LoadSourceImage(dir.File("pick.png")));
  f.img->Select(f.img->BitmapToScreenX(2), f.img->BitmapToScreenY(2), f.img->BitmapToScreenX(8), f.img->BitmapToScreenY(8));
  ASSERT_TRUE(f.img->Selected());
  const int stack = f.img->SelectionStackCount();
  f.aPickTransparentColor->Execute();
  EXPECT_TRUE(f.InColorPickMode());
  EXPECT_TRUE(f.rbCustomColor->Checked());
  EXPECT_FALSE(f.img->Selected());
  EXPECT_EQ(f.img->SelectionStackCount(), stack + 1);
  // Over a transparent pixel no colour; over an opaque one its colour.
  const int tx = f.img->BitmapToScreenX(15), ox = f.img->BitmapToScreenX(4), y = f.img->BitmapToScreenY(10);
  MouseMove(f.img, tx, y);
  ProcessMessages();
  EXPECT_EQ(uint32_t(f.btIcontrColor24->Color()), 0x1FFFFFFFu);
  MouseMove(f.img, ox, y);
  ProcessMessages();
  EXPECT_EQ(uint32_t(f.btIcontrColor24->Color()), 0x302010u);
  MouseUp(f.img, ox, y);
  ProcessMessages();
  EXPECT_FALSE(f.InColorPickMode());
  EXPECT_TRUE(f.img->Selected());
  EXPECT_EQ(f.img->SelectionStackCount(), stack);
  EXPECT_TRUE(f.RebuildPending);
  // Leaving the mode through Selection gives the selection back as well.
  f.aPickTransparentColor->Execute();
  f.aDrawSelection->Execute();
  EXPECT_FALSE(f.InColorPickMode());
  EXPECT_TRUE(f.img->Selected());
  EXPECT_EQ(f.img->SelectionStackCount(), stack);
}

TEST_F(MainActions, SideGripsFreeTheSquareRuleAndShiftToo) {
  TfmMain& f = F();
  for (int grip : {0, 1, 4}) {
    f.img->SetConstrainSelection(false);
    f.imgMouseInResizingGrip(f.img, grip);
    EXPECT_TRUE(f.img->ConstrainSelection()) << grip;
  }
  for (int grip : {5, 8}) {
    f.imgMouseInResizingGrip(f.img, grip);
    EXPECT_FALSE(f.img->ConstrainSelection()) << grip;
  }
  f.imgMouseInResizingGrip(f.img, 0);
  f.imgMouseMove(f.img, {ssShift}, 5, 5);
  EXPECT_FALSE(f.img->ConstrainSelection());
}

TEST_F(MainActions, DefaultSettingsKeepTheFilterAndTheCustomColour) {
  TfmMain& f = F();
  f.FilterIndex = irfLanczos3;
  f.btIcontrColor24->SetColor(0x123456);
  f.trHue->SetPosition(40);
  f.cbShadow32->SetChecked(true);
  f.lbStyles->SetItemIndex(3);
  f.rbLeftBottom->SetChecked(true);
  Click(f.btDefault);
  ProcessMessages();
  EXPECT_EQ(f.FilterIndex, 5);
  EXPECT_EQ(uint32_t(f.btIcontrColor24->Color()), 0x123456u);
  EXPECT_EQ(f.trHue->Position(), 0);
  EXPECT_FALSE(f.cbShadow32->Checked());
  EXPECT_EQ(f.lbStyles->ItemIndex(), 0);
  EXPECT_TRUE(f.rbAsIs->Checked());
  EXPECT_TRUE(f.RebuildPending);
}

TEST_F(MainActions, TestShowsTheResultInTheTestWindowAndKeypadZooms) {
  TfmMain& f = F();
  int images = 0;
  Headless().Then([&] {
    images = OpenTestIconWindow()->Icon_->Count();
    Click(OpenTestIconWindow()->btClose);
  });
  PressKey('T', {ssCtrl});
  ProcessMessages();
  EXPECT_EQ(images, f.ResultIcon->Count());
  Click(f.img);
  ProcessMessages();
  const double zoom = f.img->Zoom();
  PressKey(VK_ADD);
  ProcessMessages();
  EXPECT_DOUBLE_EQ(f.img->Zoom(), zoom * 2);
  f.mnScale200->Click();
  EXPECT_TRUE(f.mnScale200->Checked());
  f.aDisplayAutoZoom->Execute();
  EXPECT_TRUE(f.img->AutoFit());
}

}  // namespace
