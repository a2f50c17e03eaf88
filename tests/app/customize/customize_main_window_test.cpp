// The main window's customisers and about box: enabled with a result icon, and
// the two small customise dialogs opened from it with the icon just made.
#include <gtest/gtest.h>

#include <filesystem>

#include "../main_window_fixture.h"
#include "app/customize/ext_icon_dialog.h"
#include "app/customize/file_type_icons.h"
#include "app/customize/folder_icon_dialog.h"
#include "app/customize/folder_icons.h"
#include "app/customize/model_seed.h"
#include "app/dialogs/about_box.h"
#include "base/registry_helpers.h"
#include "icons/advanced_icon.h"
#include "platform/rtl/inifiles.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/actions.h"
#include "platform/ui/menus.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "platform/win/shell.h"

namespace {

class CustomizeFromMainWindow : public MainWindowFixture {
protected:
  void SetUp() override {
    MainWindowFixture::SetUp();
    ASSERT_TRUE(SeedWindowsModel(std::string(QV_BINARY_DIR) + "/data/shell32.dll"));
    headless::ProcessMessages();
    fmMain->ProcessPendingUpdates();
    headless::ProcessMessages();
  }
  static std::string OutputFile(const std::string& name) {
    const auto out = std::filesystem::path(QV_BINARY_DIR) / "test-output";
    std::filesystem::create_directories(out);
    return (out / name).string();
  }
  static void Update(TAction* a) {
    if (a->OnUpdate) a->OnUpdate(a);
  }
};

TEST_F(CustomizeFromMainWindow, TheFourItemsAreEnabledWithAResult) {
  TfmMain& f = *fmMain;
  ASSERT_GT(f.ResultIcon->Count(), 0);
  for (TAction* a : {f.aCustomizeFolders, f.aCustomizeFileTypes, f.aHelpAbout}) {
    Update(a);
    EXPECT_TRUE(a->Enabled()) << a->Caption();
  }
  EXPECT_TRUE(f.mnCustomizeWin->Enabled());
  EXPECT_TRUE(f.mnCustomizeWin->OnClick != nullptr);
  f.SaveToPng(OutputFile("customize_main_window.png"));
  // Without a result the two that take it are disabled again.
  f.ResultIcon->Clear();
  Update(f.aCustomizeFolders);
  EXPECT_FALSE(f.aCustomizeFolders->Enabled());
}

TEST_F(CustomizeFromMainWindow, TheFolderDialogGivesAFolderTheResultIcon) {
  ForceDirectories("C:\\Games");
  std::string shot;
  Headless().Then([&] {
    TfmFolderIcon* d = OpenFolderIconDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(d->btApply->Enabled());
    d->edFolder->SetText("C:\\Games");
    d->RefreshPreview();
    EXPECT_TRUE(d->btApply->Enabled());
    EXPECT_EQ(d->imgnew48->Width(), 32);  // the size of the shell's current icon
    d->SaveToPng(OutputFile("customize_folder_icon_dialog.png"));
    headless::Click(d->btApply);
  });
  Headless().Then([&] { headless::Click(OpenFolderIconDialog()->btCancel); });
  fmMain->aCustomizeFolders->Execute();
  EXPECT_EQ(TIniFile("C:\\Games\\desktop.ini").ReadString(".ShellClassInfo", "IconFile", ""), "Cgames.ico");
  TAdvancedIcon written;
  ASSERT_TRUE(written.LoadFromFile("C:\\Games\\Cgames.ico"));
  EXPECT_EQ(written.Count(), fmMain->ResultIcon->Count());
}

TEST_F(CustomizeFromMainWindow, TheExtensionDialogInstallsTheResultIcon) {
  Headless().Then([&] {
    TfmExtIcon* d = OpenExtIconDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_GT(d->cbExt->Items()->Count(), 10);
    d->cbExt->SetText("txt");
    d->cbExtChange(d->cbExt);
    EXPECT_EQ(d->edDescr->Text(), "txtfile - text/plain");
    d->SaveToPng(OutputFile("customize_ext_icon_dialog.png"));
    headless::Click(d->btApply);
  });
  Headless().Then([&] {
    TfmExtIcon* d = OpenExtIconDialog();
    d->cbExt->SetText("exe");
    d->cbExtChange(d->cbExt);
    EXPECT_TRUE(d->lbFromFile->Visible());
    headless::Click(d->btCancel);
  });
  fmMain->aCustomizeFileTypes->Execute();
  EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, "txtfile\\DefaultIcon\\"), std::string(kInstalledIconsFolder) + "\\txt.ico");
  EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, "txtfile\\DefaultIcon\\Undo_1"), "%SystemRoot%\\System32\\shell32.dll,1");
}

TEST_F(CustomizeFromMainWindow, TheAboutBoxNamesTheProgramAndOpensItsLinks) {
  ClearShellExecuteLog();
  std::string caption, version, link;
  Headless().Then([&] {
    TfmAbout* a = OpenAboutBox();
    ASSERT_NE(a, nullptr);
    caption = a->Caption();
    version = a->lbVer->Caption();
    link = a->lbWWW->Caption();
    a->SaveToPng(OutputFile("customize_about_box.png"));
    a->lbWWWClick(a->lbWWW);
    a->lbEmailClick(a->lbSupport);
    a->pmCopy->SetPopupComponent(a->lbWWW);
    a->pmCopyhyperlinkClick(a->pmCopyhyperlink);
    EXPECT_EQ(ClipboardText(), kIndexPageAddress);
    a->pmCopy->SetPopupComponent(a->lbSupport);
    a->pmCopyhyperlinkClick(a->pmCopyhyperlink);
    EXPECT_EQ(ClipboardText(), std::string("mailto:") + kSupportEmail);
    headless::PressKey(VK_ESCAPE);
  });
  fmMain->aHelpAbout->Execute();
  EXPECT_EQ(caption, "About Marrowin Quorvane");
  EXPECT_EQ(version.rfind("Version 1.0 (", 0), 0u);
  EXPECT_EQ(link, "https://www.marrowin.com");
  const auto log = ShellExecuteLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].File, kProgramPageAddress);
  EXPECT_EQ(log[1].File, kSupportPageAddress);
}

}  // namespace
