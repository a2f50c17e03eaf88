#pragma once
// A fresh program for each test of the icon maker's small windows, with the
// Windows model in the test's own folder and a helper to save what a form
// shows into the build's test output.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "../app_data_model.h"
#include "platform/ui/forms.h"
#include "platform/ui/headless/headless_backend.h"
#include "test_support.h"

class AppUiTest : public ::testing::Test {
protected:
  void SetUp() override {
    model = std::make_unique<TAppDataModelScope>(dir.Path().string());
    Headless().ClearScript();
    Headless().SetStallLimit(3000);
    InitializeUI();
  }
  void TearDown() override {
    Headless().ClearScript();
    FinalizeUI();
    model.reset();
  }
  static std::string OutputFile(const std::string& name) {
    const auto out = std::filesystem::path(QV_BINARY_DIR) / "test-output";
    std::filesystem::create_directories(out);
    return (out / name).string();
  }
  qvtest::TempDir dir;
  std::unique_ptr<TAppDataModelScope> model;
};
