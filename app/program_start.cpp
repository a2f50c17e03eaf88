#include "app/program_start.h"

#include "app/customize/model_seed.h"

#include "app/data_module.h"
#include "app/main_window.h"
#include "base/app_messages.h"
#include "base/ui_windows.h"
#include "base/toolbox/bitmap_fix32.h"
#include "icons/graphics_resources.h"
#include "icons/icon_project.h"
#include "icons/icon_library.h"
#include "imaging/core/ie_startup.h"
#include "imaging/extras/extras_registration.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/views/image_view.h"
#include "imaging/views/psd_view_layers.h"
#include "imaging/special/video/video_frames.h"
#include "base/system_helpers.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/shell.h"

const char* const kFeedbackPage = "https://www.marrowin.com/quorvane/feedback/";

bool HandleUninstallSwitch(const std::vector<std::string>& arguments) {
  if (arguments.size() != 1 || arguments[0] != "-uninstall") return false;
  if (IsInternetAvailable()) ShellExecute(nullptr, nullptr, kFeedbackPage, "", "", SW_SHOWNORMAL);
  return true;
}

std::string NameThatWillBeWritten(const std::string& fileName, const std::string& filterExtension) {
  if (filterExtension.empty() || filterExtension == "*") return fileName;
  return ChangeFileExt(fileName, "." + filterExtension);
}

bool SaveDialogCanClose(const std::string& fileName, const std::string& filterExtension,
                        const std::function<bool(const std::string& question)>& askOverwrite) {
  const std::string name = NameThatWillBeWritten(fileName, filterExtension);
  if (!FileExists(name)) return true;
  return askOverwrite && askOverwrite(Format(AppMessages.FileExistsOverwrite, name));
}

void StartLibraries() {
  RegisterFormatFilters();
  RegisterSpecialFormats();
  RegisterPSDViewLayers();
  RegisterLayersStream();
  RegisterImagingExtras();
  RegisterVideoFrameReader();
  LibraryStaticInit();
  RegisterExecutableLoaders();
  RegisterGraphicsResourceClasses();
  // The picture registry reads BMP files keeping their 32-bit alpha, and
  // knows icon projects (the file dialogs' previews load through it).
  RegisterBitmapFix32();
  RegisterIconProjectClass();
  RegisterDataModuleClasses();
}

void StopLibraries() { LibraryStaticDone(); }

void ExecuteApplication() {
  InitializeUI();
  // The customisers of the desktop's icons look at the model's shell.
  SeedWindowsModel();
  LoadToolCursors();
  Application->Initialize();
  Application->CreateForm(fmMain);
  dm = new Tdm(Application);
  Application->Run();
}
