#pragma once
// The icon maker's main window on the headless back end, made as the program
// makes it, with its settings kept in the test's own folder.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/data_module.h"
#include "app/main_window.h"
#include "app/program_start.h"
#include "app_data_model.h"
#include "platform/ui/forms.h"
#include "platform/ui/headless/headless_backend.h"
#include "test_support.h"

class MainWindowFixture : public ::testing::Test {
protected:
  void SetUp() override {
    // The libraries start once per process, as in the program.
    static const bool started = (StartLibraries(), true);
    (void)started;
    model = std::make_unique<TAppDataModelScope>(dir.Path().string());
    Headless().ClearScript();
    Headless().SetStallLimit(3000);
    InitializeUI();
    TfmMain::SetProgramFolder(ProgramFolder());
    Application->CreateForm(fmMain);
    dm = new Tdm(Application);
    fmMain->Show();
    headless::ProcessMessages();
  }
  void TearDown() override {
    Headless().ClearScript();
    FinalizeUI();
    model.reset();
  }
  // Where the window finds its data files.
  virtual std::string ProgramFolder() { return std::string(QV_BINARY_DIR) + "/"; }

  qvtest::TempDir dir;
  std::unique_ptr<TAppDataModelScope> model;
};
