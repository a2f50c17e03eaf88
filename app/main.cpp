// The icon maker's entry: the libraries' start-up, the "-uninstall" switch, the
// desktop (or, without a display, the headless) back end, and the main window.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/program_start.h"
#include "base/path_utils.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/headless/headless_backend.h"
#ifdef QV_HAVE_QT
#include "platform/ui/qt/qt_backend.h"
#endif

namespace {

std::string StartBackend() {
#ifdef QV_HAVE_QT
  return StartUIBackend();
#else
  return UIBackend().Name();
#endif
}

// Where the headless run saves its picture: the name QUORVANE_PICTURE gives,
// else beside the program (the build folder), never the folder the user
// happened to start it from.
std::string WindowPictureFile() {
  if (const char* given = std::getenv("QUORVANE_PICTURE"); given && *given) return given;
  return GetApplicationDir() + "quorvane-window.png";
}

// Without a display the window cannot be used; it is built all the same, its
// picture saved where the user can look at it, and the program ends.
void PictureTheWindowAndClose() {
  const std::string file = WindowPictureFile();
  Headless().Then([file] {
    fmMain->SaveToPng(file);
    std::printf("Quorvane: the main window as it looks now is in %s\n", file.c_str());
    fmMain->Close();
  });
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  StartLibraries();
  if (!HandleUninstallSwitch(arguments)) {
    if (StartBackend() == "headless") {
      std::printf("Quorvane: no display found (or QUORVANE_UI=headless): running without windows.\n");
      PictureTheWindowAndClose();
    }
    ExecuteApplication();
  }
  StopLibraries();
  return 0;
}
