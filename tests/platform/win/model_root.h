#pragma once
// Points the Windows model at a fresh temporary root for the life of a test, and
// back at the previous root afterwards.
#include <gtest/gtest.h>

#include "platform/rtl/paths.h"
#include "platform/win/registry.h"
#include "test_support.h"

class ModelRootTest : public ::testing::Test {
protected:
  void SetUp() override {
    FSavedRoot = WindowsModelRoot();
    SetWindowsModelRoot(FTemp.Path().string());
    ReloadRegistryStore();
  }
  void TearDown() override {
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG})
      SetRegistryRootWritable(root, true);
    SetWindowsModelRoot(FSavedRoot);
    ReloadRegistryStore();
  }
  std::string Root() const { return FTemp.Path().string(); }

  qvtest::TempDir FTemp;

private:
  std::string FSavedRoot;
};
