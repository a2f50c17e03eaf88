// The icon maker's main window as a real window on an X server (Xvfb): what the
// screen shows is the window's own rendering, and the screenshot is kept in
// test-output for a person to look at.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "app/data_module.h"
#include "app/main_window.h"
#include "app/program_start.h"
#include "platform/ui/forms.h"
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
  fmMain->InvalidateRect(fmMain->WindowClientRect());
  fmMain->PaintDirty();
  Application->ProcessMessages();
  std::string png;
  EXPECT_EQ(CompareScreenWithForm(fmMain, "main_window_xvfb.png", png), 0) << "see " << png;
  FinalizeUI();
  SetUIBackend(nullptr);
}

}  // namespace
