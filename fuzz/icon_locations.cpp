// Icon location texts and the bytes of desktop.ini and Autorun.inf, as the
// customisers of the desktop's icons read them. The first byte chooses: 0 a
// location for ParseIconLocation and SplitIconLocation, 1 a folder's
// desktop.ini for GetFolderIconLocation, 2 a drive's Autorun.inf for
// GetDriveIconLocation. Everything stays inside a Windows model of this process.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "app/customize/folder_icons.h"
#include "app/customize/shell_icon_locations.h"
#include "platform/rtl/paths.h"
#include "platform/win/system_folders.h"

namespace {

bool Setup() {
  const std::string root = "/tmp/qv_fuzz_model_" + std::to_string(getpid());
  std::filesystem::create_directories(root + "/F");
  SetWindowsModelRoot(root);
  SetModelDrive('E', DRIVE_REMOVABLE);
  return true;
}

void WriteModelFile(const std::string& windowsPath, const std::string& bytes) {
  std::ofstream(NativePath(windowsPath), std::ios::binary) << bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Setup();
  (void)ready;
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string file, indexText;
  int index = 0;
  bool fromFile = false;
  switch (data[0] % 3) {
    case 0:
      ParseIconLocation(text, file, index);
      SplitIconLocation(text, file, indexText, fromFile);
      break;
    case 1:
      WriteModelFile("C:\\F\\desktop.ini", text);
      GetFolderIconLocation("C:\\F", file, index);
      break;
    default:
      WriteModelFile("E:\\Autorun.inf", text);
      GetDriveIconLocation("E:\\", file, index);
      break;
  }
  return 0;
}
