// The icon maker's main window as a real window on an X server (Xvfb): what the
// screen shows is the window's own rendering, and the screenshot is kept in
// test-output for a person to look at.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "app/data_module.h"
#include "app/dialogs/icon_file_dialogs.h"
#include "app/dialogs/test_icon.h"
#include "app/main_window.h"
#include "app/program_start.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/forms.h"
#include "platform/ui/std_edits.h"
#include "platform/ui/qt/qt_backend.h"
#include "test_support.h"
#include "app_data_model.h"
#include "window_shot.h"

namespace {

TEST(MainWindowXvfbOracle, ShowsTheExampleWithItsPreviewsAsARealWindow) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform || std::string(platform) != "xcb") GTEST_SKIP() << "needs an X server";
  qvtest::TempDir dir;
  TAppDataModelScope model(dir.Path().string());
  StartLibraries();
  auto qt = MakeQtBackend();
  ASSERT_TRUE(qt);
  SetUIBackend(std::move(qt));
  InitializeUI();
  TfmMain::SetProgramFolder(std::string(QV_BINARY_DIR) + "/");
  Application->CreateForm(fmMain);
  dm = new Tdm(Application);
  fmMain->Show();
  // The loop as the program runs it, until the window manager has shown it.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
  while (std::chrono::steady_clock::now() < until) {
    Application->ProcessMessages();
    fmMain->ProcessPendingUpdates();
    UIBackend().WaitForEvents(20);
  }
  EXPECT_EQ(fmMain->ResultIcon->Count(), 6);
  std::string png;
  EXPECT_EQ(SettledScreenDiff(fmMain, "main_window_xvfb.png", png), 0) << "see " << png;

  // The test window and the open dialog with a preview, each shot by a timer
  // while it runs modally and then closed.
  int ticks = 0;
  bool shooting = false;  // the shot's own message loop must not shoot again
  int testDiffers = -2, dialogDiffers = -2;
  auto* timer = new TTimer(Application);
  timer->SetInterval(700);
  timer->OnTimer = [&](TObject*) {
    // The first tick gives the window manager time to show the window.
    if (shooting || ++ticks < 2) return;
    if (TfmTestIcon* t = OpenTestIconWindow()) {
      shooting = true;
      std::string file;
      testDiffers = SettledScreenDiff(t, "test_icon_xvfb.png", file);
      t->SetModalResult(mrCancel);
      shooting = false;
    }
  };
  ShowTestIcon(fmMain->ResultIcon.get());
  EXPECT_EQ(testDiffers, 0);

  TOpenIcoDialog dialog(nullptr);
  dialog.SetFilter("All files (*.*)|*.*");
  dialog.SetInitialDir(std::string(QV_BINARY_DIR) + "/data");
  ticks = 0;
  timer->OnTimer = [&](TObject*) {
    TCustomForm* form = dialog.DialogForm();
    if (!form || shooting) return;
    if (++ticks == 1) {
      std::vector<TWinControl*> all;
      form->GetTabOrderList(all);
      for (TWinControl* c : all)
        if (auto* list = dynamic_cast<TListBox*>(c)) {
          list->SetItemIndex(list->Items()->IndexOf("example.jpg"));
          if (list->OnClick) list->OnClick(list);
        }
      return;
    }
    if (ticks == 2) return;  // the preview is shown by now
    shooting = true;
    std::string file;
    dialogDiffers = SettledScreenDiff(form, "open_dialog_xvfb.png", file);
    form->SetModalResult(mrCancel);
    shooting = false;
  };
  dialog.Execute();
  EXPECT_EQ(dialog.Caption(), "JPEG 400x300");  // Pillow reads the same size
  EXPECT_EQ(dialogDiffers, 0);
  timer->SetEnabled(false);
  FinalizeUI();
  SetUIBackend(nullptr);
}

}  // namespace
