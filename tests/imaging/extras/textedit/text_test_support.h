#pragma once
// A headless program for the text control's tests: application, a shown form
// holding one control, the private clipboard format registered.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "imaging/extras/textedit/text_control.h"
#include "platform/ui/forms.h"
#include "platform/ui/headless/headless_backend.h"
#include "platform/win/clipboard.h"

class TextControlTest : public ::testing::Test {
protected:
  void SetUp() override {
    Headless().ClearScript();
    Headless().SetStallLimit(3000);
    InitializeUI();
    RegisterTextMemoClipboardFormat();
    SetClipboardHeldByOtherWindow(false);
    form = new TForm(Application);
    form->SetBorderStyle(bsDialog);
    form->SetColor(clWhite);
    form->SetClientWidth(320);
    form->SetClientHeight(200);
    control = new TIETextControl(form);
    control->SetParent(form);
    control->SetBounds(10, 10, 300, 180);
    control->Font()->SetName("DejaVu Sans");
    control->Font()->SetHeight(-14);
    control->Font()->SetColor(clBlack);
    control->CharBackBrush()->SetStyle(bsClear);
    control->BoxBrush()->SetColor(clWhite);
    control->BorderPen()->SetColor(clGray);
    form->Show();
    control->SetFocus();
    headless::ProcessMessages();
  }
  void TearDown() override {
    SetClipboardHeldByOtherWindow(false);
    Headless().ClearScript();
    FinalizeUI();
  }
  // Lends a text in the control's default format and lays it out.
  void Load(const std::string& text) {
    TIEMemoText memo;
    memo.Text = text;
    control->LendMemo(std::move(memo));
    control->LoadText();
    control->Update();
    headless::ProcessMessages();
  }
  void Type(const std::string& text) {
    headless::TypeText(text);
    headless::ProcessMessages();
  }
  void Press(WORD key, TShiftState shift = {}) {
    headless::PressKey(key, shift);
    headless::ProcessMessages();
  }
  std::string Text() const { return control->Memo().Text; }
  static std::string OutputFile(const std::string& name) {
    const auto dir = std::filesystem::path(QV_BINARY_DIR) / "test-output";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
  }
  TForm* form = nullptr;
  TIETextControl* control = nullptr;
};
