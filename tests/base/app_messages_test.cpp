#include "base/app_messages.h"
#include "base/form_texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>

#include "base/path_utils.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/sysutils.h"
#include "test_support.h"

namespace {

TEST(AppMessages, TableHolds125TextsWithTheDuplicateFormatCount) {
  const auto table = AppMessageTable();
  ASSERT_EQ(table.size(), 125u);
  EXPECT_TRUE(std::none_of(table.begin(), table.end(), [](const char* t) { return t == nullptr || *t == 0; }));
  EXPECT_EQ(std::count_if(table.begin(), table.end(), [](const char* t) { return std::string(t) == "%d formats"; }), 2);
  EXPECT_EQ(std::set<std::string>(table.begin(), table.end()).size(), 124u) << "only that one text repeats";
}

TEST(AppMessages, TextsWithArgumentsFormatInOrder) {
  EXPECT_EQ(Format(AppMessages.FileExistsOverwrite, "a.ico"), "File a.ico already exists. Overwrite?");
  EXPECT_EQ(Format(AppMessages.ExtensionNotAllowed, "exe"), "You are not allowed to customize icon for .exe extension");
  EXPECT_EQ(Format(AppMessages.ExtraIconsSaved, 3, 2, "C:\\out\\", "lib"),
            "Extra 3 icons were saved into 2 file(s) at C:\\out\\lib*.icl");
  EXPECT_EQ(Format(AppMessages.SaveChangesInQuoted, "x"), "Save changes in \"x\"?");
  EXPECT_STREQ(AppMessages.UnknownFileFormat, "Unknown file format");
}

// A stand-in for the forms layer: components that record what the loader
// gives them.
class TFakeControl : public TComponent {
public:
  TFakeControl(TComponent* owner, const std::string& name, TFormTextRole role, std::string caption = "Old")
      : TComponent(owner), FRole(role), FCaption(std::move(caption)) {
    SetName(name);
  }
  TFormTextRole FRole;
  std::string FCaption, FHint = "OldHint";
  std::vector<std::string> FItems = {"old"};
};

class TfmMain : public TComponent {
public:
  TfmMain() : TComponent(nullptr) {}
  std::string FCaption = "Main";
};

class FormTexts : public ::testing::Test {
protected:
  void SetUp() override {
    TFormTextAccess access;
    access.RoleOf = [](TComponent* c) {
      auto* f = dynamic_cast<TFakeControl*>(c);
      return f ? f->FRole : ftrNone;
    };
    access.SetCaption = [](TComponent* c, const std::string& s) {
      if (auto* f = dynamic_cast<TFakeControl*>(c)) f->FCaption = s;
      if (auto* m = dynamic_cast<TfmMain*>(c)) m->FCaption = s;
    };
    access.SetHint = [](TComponent* c, const std::string& s) { dynamic_cast<TFakeControl*>(c)->FHint = s; };
    access.SetItems = [](TComponent* c, const std::vector<std::string>& items) {
      dynamic_cast<TFakeControl*>(c)->FItems = items;
    };
    SetFormTextAccess(access);
  }
  void TearDown() override { SetFormTextAccess({}); }

  std::string WriteLanguage(const std::string& text) {
    const std::string file = FDir.File("lang.lng");
    std::ofstream(file) << text;
    return file;
  }

  qvtest::TempDir FDir;
};

TEST_F(FormTexts, AppliesTheFormsSection) {
  TfmMain form;
  auto* open = new TFakeControl(&form, "btOpen", ftrButton);
  auto* label = new TFakeControl(&form, "lbName", ftrCaptioned);
  auto* edit = new TFakeControl(&form, "edName", ftrControl);
  auto* radio = new TFakeControl(&form, "rgSize", ftrRadioGroup);
  auto* combo = new TFakeControl(&form, "cbKind", ftrComboBox);
  auto* timer = new TFakeControl(&form, "tmTick", ftrNone);
  auto* ok = new TFakeControl(&form, "btOK", ftrButton);
  auto* cancel = new TFakeControl(&form, "BtCancel", ftrButton);
  auto* helpLabel = new TFakeControl(&form, "bthelp", ftrCaptioned);
  const std::string file = WriteLanguage(
      "[fmOther]\n"
      "btOpen=Wrong|Wrong\n"
      "\n"
      "  [fmMain]  \n"
      "Caption = Hauptfenster\n"
      "BTOPEN = Open|Opens a file\n"
      "lbName=Name\n"
      "edName = Edit|Type here\n"
      "rgSize=Small!Large!||Size|Pick one\n"
      "cbKind=A!B!||Ignored|Kinds\n"
      "tmTick=Tick|Tock\n"
      "no separator here\n"
      "btOpen=Second|Ignored\n"
      "\n"
      "lbName=After the end\n"
      "[fmMain]\n"
      "lbName=Second section\n");
  TranslateFormFromFile(file, &form);
  EXPECT_EQ(form.FCaption, "Hauptfenster");
  EXPECT_EQ(open->FCaption, "Open");
  EXPECT_EQ(open->FHint, "Opens a file");
  EXPECT_EQ(label->FCaption, "Old") << "a value without '|' is all hint";
  EXPECT_EQ(label->FHint, "Name");
  EXPECT_EQ(edit->FCaption, "Old") << "a plain control takes only the hint";
  EXPECT_EQ(edit->FHint, "Type here");
  EXPECT_EQ(radio->FItems, (std::vector<std::string>{"Small", "Large"}));
  EXPECT_EQ(radio->FCaption, "Size");
  EXPECT_EQ(radio->FHint, "Pick one");
  EXPECT_EQ(combo->FItems, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(combo->FCaption, "Old");
  EXPECT_EQ(combo->FHint, "Kinds");
  EXPECT_EQ(timer->FCaption, "Old");
  EXPECT_EQ(timer->FHint, "OldHint");
  EXPECT_EQ(ok->FCaption, "OK") << "buttons missing from the file get their default caption";
  EXPECT_EQ(cancel->FCaption, "Cancel");
  EXPECT_EQ(helpLabel->FCaption, "Old") << "only buttons get default captions";
}

TEST_F(FormTexts, SectionNamesCompareExactly) {
  TfmMain form;
  auto* open = new TFakeControl(&form, "btOpen", ftrButton);
  TranslateFormFromFile(WriteLanguage("[FMMAIN]\nbtOpen=Open|Opens\n"), &form);
  EXPECT_EQ(open->FCaption, "Old");
  TranslateFormFromFile(WriteLanguage("[fmMain] \nbtOpen=Open\n"), &form);
  EXPECT_EQ(open->FHint, "Open");
  EXPECT_EQ(open->FCaption, "Old");
}

TEST_F(FormTexts, LanguageFilesBesideTheProgramAreReadOnlyWhenALanguageIsSelected) {
  const std::string folder = GetApplicationDir() + "Language";
  ASSERT_TRUE(ForceDirectories(folder));
  const std::string file = folder + "\\english.lng";
  std::ofstream(NativePath(file)) << "[fmMain]\nbtok=Fine\n";
  TfmMain form;
  auto* ok = new TFakeControl(&form, "btok", ftrButton, "Old");
  TranslateForm(&form);
  EXPECT_EQ(ok->FCaption, "Old");
  LanguageName() = "english";
  TranslateForm(&form);
  EXPECT_EQ(ok->FHint, "Fine");
  LanguageName().clear();
  DeleteFile(file);
  RemoveDir(folder);
}

TEST_F(FormTexts, MissingFileOrNoLanguageDoesNothing) {
  TfmMain form;
  auto* ok = new TFakeControl(&form, "btok", ftrButton, "Old");
  TranslateFormFromFile(FDir.File("missing.lng"), &form);
  EXPECT_EQ(ok->FCaption, "Old");
  ASSERT_TRUE(LanguageName().empty());
  TranslateForm(&form);
  EXPECT_EQ(ok->FCaption, "Old") << "no language is selected, so no file is read";
}

}  // namespace
