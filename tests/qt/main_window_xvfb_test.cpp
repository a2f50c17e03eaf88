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
#include "base/registry_helpers.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/paths.h"
#include "platform/ui/forms.h"
#include "platform/ui/picture_file.h"
#include "platform/ui/qt/qt_backend.h"
#include "platform/win/registry.h"
#include "test_support.h"

namespace {

TEST(MainWindowXvfbOracle, ShowsTheExampleWithItsPreviewsAsARealWindow) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform || std::string(platform) != "xcb") GTEST_SKIP() << "needs an X server";
  qvtest::TempDir dir;
  const std::string savedRoot = WindowsModelRoot();
  SetWindowsModelRoot(dir.File("model"));
  ReloadRegistryStore();
  std::filesystem::create_directories(dir.File("appdata"));
  WriteRegistryString(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\AppData",
                      dir.File("appdata"));
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
  const TPoint o = fmMain->ClientOrigin();
  TBitmap* own = fmMain->Backing();
  const TRect place = Rect(o.x, o.y - fmMain->ClientTop(), o.x + own->Width(), o.y - fmMain->ClientTop() + own->Height());
  TBitmap shot;
  ASSERT_TRUE(UIBackend().CaptureScreen(place, &shot));
  const auto out = std::filesystem::path(QV_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(out);
  SavePicturePng(&shot, (out / "main_window_xvfb.png").string());
  ASSERT_EQ(shot.Width(), own->Width());
  ASSERT_EQ(shot.Height(), own->Height());
  int differing = 0;
  for (int y = 0; y < own->Height(); ++y)
    for (int x = 0; x < own->Width(); ++x)
      if ((static_cast<const uint32_t*>(shot.ScanLine(y))[x] & 0xFFFFFF) !=
          (static_cast<const uint32_t*>(own->ScanLine(y))[x] & 0xFFFFFF))
        ++differing;
  EXPECT_EQ(differing, 0) << "see " << (out / "main_window_xvfb.png").string();
  FinalizeUI();
  SetUIBackend(nullptr);
  ResetConfigFileName();
  SetWindowsModelRoot(savedRoot);
  ReloadRegistryStore();
}

}  // namespace
