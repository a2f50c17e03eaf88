#pragma once
// A fresh program for each test: application, screen and headless back end,
// torn down again afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/forms.h"
#include "platform/ui/headless/headless_backend.h"

class UiTest : public ::testing::Test {
protected:
  void SetUp() override {
    Headless().ClearScript();
    Headless().SetStallLimit(3000);
    InitializeUI();
  }
  void TearDown() override {
    Headless().ClearScript();
    FinalizeUI();
  }
  // A shown form of the given client size, owned by the application.
  TForm* MakeForm(int width = 300, int height = 200) {
    auto* form = new TForm(Application);
    form->SetBorderStyle(bsDialog);
    form->SetClientWidth(width);
    form->SetClientHeight(height);
    return form;
  }
  std::vector<std::string> log;
  // An event handler that writes its name into the log.
  TNotifyEvent Note(const std::string& name) {
    return [this, name](TObject*) { log.push_back(name); };
  }
  TMouseEvent NoteMouse(const std::string& name) {
    return [this, name](TObject*, TMouseButton, TShiftState, int, int) { log.push_back(name); };
  }
};
