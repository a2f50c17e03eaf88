#pragma once
// A Windows model of the test's own whose application-data folder is a
// temporary one, so the settings the program writes stay inside the test.
#include <filesystem>
#include <string>

#include "app/config_file.h"
#include "base/registry_helpers.h"
#include "platform/rtl/paths.h"
#include "platform/win/registry.h"

class TAppDataModelScope {
public:
  explicit TAppDataModelScope(const std::string& folder) : FSavedRoot(WindowsModelRoot()) {
    SetWindowsModelRoot(folder + "/model");
    ReloadRegistryStore();
    std::filesystem::create_directories(folder + "/appdata");
    WriteRegistryString(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\AppData",
                        folder + "/appdata");
    ResetConfigFileName();
  }
  ~TAppDataModelScope() {
    ResetConfigFileName();
    SetWindowsModelRoot(FSavedRoot);
    ReloadRegistryStore();
  }
  TAppDataModelScope(const TAppDataModelScope&) = delete;
  TAppDataModelScope& operator=(const TAppDataModelScope&) = delete;

private:
  std::string FSavedRoot;
};
