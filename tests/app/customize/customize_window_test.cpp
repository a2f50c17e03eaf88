// The "Customize Windows Icons" window over the seeded model: its seven pages,
// pending changes under OK, Cancel, the close box and F5, and the folder
// browser component.
#include <gtest/gtest.h>

#include "app/customize/customize_icons.h"
#include "app/customize/shell_icon_locations.h"
#include "app/dialogs/browse_folder.h"
#include "app/dialogs/select_color.h"
#include "app/customize/file_type_icons.h"
#include "customize_model.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/com_ctrls_pages.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/shell_browse.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "platform/win/registry_object.h"

using namespace customizetest;

namespace {

class CustomizeWindow : public CustomizeModel {
protected:
  static TfmCIcons& W() { return *OpenCustomizeWindowsDialog(); }
  static void Page(TTabSheet* page) {
    W().pc->SetActivePage(page);
    W().pcChange(W().pc);
  }
  static TCustomIconFileInfo* Entry(const std::string& caption) {
    for (auto& e : W().FIcons)
      if (e->DisplayCaption == caption) return e.get();
    return nullptr;
  }
  static void Select(const std::string& caption) {
    TCustomIconFileInfo* e = Entry(caption);
    ASSERT_NE(e, nullptr);
    Page(e->Item->ListView()->Parent() == W().tsDesktop ? W().tsDesktop
         : e->Item->ListView() == W().lvDrives          ? W().tsDrives
         : e->Item->ListView() == W().lvMiscIcons       ? W().tsMiscIcons
                                                        : W().tsStartMenu);
    e->Item->ListView()->SetSelected(e->Item);
  }
  static std::string Override(int n) {
    return ReadRegistryString(HKEY_LOCAL_MACHINE, std::string(kShellIconsKey) + "\\" + std::to_string(n));
  }
};

TEST_F(CustomizeWindow, ShowsItsSevenPages) {
  UseVersion(v98);
  ForceDirectories("C:\\Games");
  std::vector<int> counts;
  Headless().Then([&] {
    TfmCIcons& w = W();
    for (TListView* lv : {w.lvDeskTop, w.lvStartMenu, w.lvDrives, w.lvMiscIcons}) counts.push_back(lv->Items()->Count());
    const char* names[] = {"desktop", "start_menu", "drives", "misc", "file_types", "folders", "settings"};
    for (int i = 0; i < w.pc->PageCount(); ++i) {
      Page(w.pc->Pages(i));
      if (w.pc->Pages(i) == w.tsFolders) {
        w.edFolder->SetText("C:\\Games");
        w.ShowFolderIcon();
      }
      if (w.pc->Pages(i) == w.tsFileTypes) {
        w.cbExt->SetText("bmp");
        w.cbExtChange(w.cbExt);
      }
      w.SaveToPng(OutputFile(std::string("customize_windows_") + names[i] + ".png"));
    }
    headless::Click(w.btCancel);
  });
  ShowCustomizeWindowsDialog();
  EXPECT_EQ(counts, (std::vector<int>{17, 10, 9, 13}));
}

TEST_F(CustomizeWindow, XPHidesTheStartMenuPage) {
  UseVersion(vXP);
  bool visible = true;
  int startItems = -1;
  Headless().Then([&] {
    visible = W().tsStartMenu->TabVisible();
    startItems = W().lvStartMenu->Items()->Count();
    headless::Click(W().btCancel);
  });
  ShowCustomizeWindowsDialog();
  EXPECT_FALSE(visible);
  EXPECT_EQ(startItems, 0);
}

TEST_F(CustomizeWindow, PendingChangesWaitForApplyOrOk) {
  // Cancel drops them.
  Headless().Then([&] {
    Select("Hard Drive");
    W().btDefaultIconClick(nullptr);
    Entry("Closed Folder")->NewLocation = System32() + "shell32.dll,4";
    EXPECT_TRUE(W().btApply->Enabled());
    headless::Click(W().btCancel);
  });
  WriteRegistryString(HKEY_LOCAL_MACHINE, std::string(kShellIconsKey) + "\\8", System32() + "shell32.dll,9");
  ShowCustomizeWindowsDialog();
  EXPECT_EQ(Override(8), System32() + "shell32.dll,9");
  // The close box drops them too.
  Headless().Then([&] {
    Select("Hard Drive");
    W().btDefaultIconClick(nullptr);
    headless::CloseWindow(&W());
  });
  ShowCustomizeWindowsDialog();
  EXPECT_EQ(Override(8), System32() + "shell32.dll,9");
  // F5 shows the registry again and forgets the choice.
  Headless().Then([&] {
    Select("Hard Drive");
    W().btDefaultIconClick(nullptr);
    EXPECT_EQ(Entry("Hard Drive")->NewLocation, "#DEFAULT#");
    headless::PressKey(VK_F5);
  });
  Headless().Then([&] {
    EXPECT_EQ(Entry("Hard Drive")->NewLocation, "");
    headless::Click(W().btOk);
  });
  ShowCustomizeWindowsDialog();
  EXPECT_EQ(Override(8), System32() + "shell32.dll,9");
  // OK applies once.
  Headless().Then([&] {
    Select("Hard Drive");
    W().btDefaultIconClick(nullptr);
    headless::Click(W().btOk);
  });
  ShowCustomizeWindowsDialog();
  EXPECT_EQ(Override(8), "");
}

TEST_F(CustomizeWindow, SettingsAndTheRestartQuestionAfterANewDepth) {
  bool asked = false;
  Headless().Then([&] {
    W().rgColors->SetItemIndex(2);
    W().rgColors->OnClick(W().rgColors);
    W().edIconSpaceH->SetValue(90);
    headless::Click(W().btApply);
  });
  Headless().Then([&] {
    asked = Screen->ActiveForm() && Screen->ActiveForm()->Caption() == "Query";
    ClickButton(Screen->ActiveForm(), "No");
  });
  Headless().Then([&] { headless::Click(W().btCancel); });
  ShowCustomizeWindowsDialog();
  EXPECT_TRUE(asked);
  EXPECT_TRUE(ExitWindowsLog().empty());
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, std::string(kWindowMetricsKey) + "\\Shell Icon BPP"), "24");
  ICONMETRICSA m{};
  m.cbSize = sizeof m;
  SystemParametersInfo(SPI_GETICONMETRICS, sizeof m, &m, 0);
  EXPECT_EQ(m.iHorzSpacing, 90);
}

// ---- the folder browser component ----

class BrowseFolder : public CustomizeModel {};

class THelpRecorder : public TBrowseFolderDlg {
public:
  using TBrowseFolderDlg::TBrowseFolderDlg;
  std::vector<int> Topics;

protected:
  void ShowHelpTopic(int context) override { Topics.push_back(context); }
};

TEST_F(BrowseFolder, PreselectsTheFolderAndGivesPathsWithoutTrailingBackslash) {
  ForceDirectories("C:\\Program Files\\Foo");
  std::string selectedAtStart;
  bool okOnMissing = true;
  Headless().Then([&] {
    HWND b = ActiveBrowseDialog();
    const auto rows = BrowseDialogRows(b);
    selectedAtStart = rows[BrowseDialogSelection(b)];
    Screen->ActiveForm()->SaveToPng(OutputFile("customize_browse_for_folder.png"));
    BrowseDialogToggleRow(b, BrowseDialogSelection(b));
    BrowseDialogSelectRow(b, BrowseDialogSelection(b) + 1);
    BrowseDialogPress(b, true);
  });
  std::string folder = "C:\\Program Files";
  EXPECT_TRUE(BrowseForFolder(folder, "", 0));
  EXPECT_EQ(selectedAtStart, "      Program Files");
  EXPECT_EQ(folder, "C:\\Program Files\\Foo");
  // A drive root keeps its backslash; Cancel leaves the folder alone.
  Headless().Then([&] {
    HWND b = ActiveBrowseDialog();
    BrowseDialogSelectRow(b, 2);
    BrowseDialogPress(b, true);
  });
  folder = "C:\\nowhere";
  EXPECT_TRUE(BrowseForFolder(folder, "", 0));
  EXPECT_EQ(folder, "C:\\");
  Headless().Then([&] {
    HWND b = ActiveBrowseDialog();
    okOnMissing = BrowseDialogSelection(b) >= 0 && BrowseDialogRows(b)[BrowseDialogSelection(b)] == "Desktop";
    BrowseDialogPress(b, false);
  });
  folder = "C:\\nowhere";
  EXPECT_FALSE(BrowseForFolder(folder, "", 0));
  EXPECT_EQ(folder, "C:\\nowhere");
  EXPECT_TRUE(okOnMissing);
  EXPECT_EQ(LiveItemIdLists(), 0);
}

TEST_F(BrowseFolder, HelpButtonOnlyWithAHelpContextAndItsClickOpensTheTopic) {
  for (int context : {0, 77}) {
    THelpRecorder dialog(Application);
    dialog.SetHelpContext(context);
    dialog.SetPosition(dpScreenCenter);
    int buttons = 0;
    std::vector<std::string> events;
    dialog.OnInitialized = [&](TObject*) { events.push_back("initialized"); };
    dialog.OnSelChanged = [&](TObject*) { events.push_back("selchanged " + dialog.SelectedName()); };
    Headless().Then([&] {
      TCustomForm* form = Screen->ActiveForm();
      for (int i = 0; i < form->ControlCount(); ++i)
        if (form->Controls(i)->Caption() == "Help") {
          ++buttons;
          headless::Click(form->Controls(i));
        }
      // Centred on the screen of 1280 x 1024.
      EXPECT_EQ(form->Left(), (1280 - form->Width()) / 2);
      EXPECT_EQ(dialog.Handle(), ActiveBrowseDialog());
    });
    Headless().Then([&] { BrowseDialogPress(ActiveBrowseDialog(), false); });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(buttons, context ? 1 : 0);
    EXPECT_EQ(dialog.Topics, context ? std::vector<int>{77} : std::vector<int>{});
    EXPECT_EQ(dialog.Handle(), nullptr);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0], "initialized");
  }
}

}  // namespace

namespace {

TEST(CurrentLocations, ChangeStartsFromThePendingChoiceOrTheDefault) {
  TCustomIconFileInfo e;
  e.IconLocation = "a.dll,1";
  e.DefaultLocation = "b.dll,2";
  EXPECT_EQ(TfmCIcons::CurrentLocation(e), "a.dll,1");
  e.NewLocation = "#DEFAULT#";
  EXPECT_EQ(TfmCIcons::CurrentLocation(e), "b.dll,2");
  e.NewLocation = "c.dll,3";
  EXPECT_EQ(TfmCIcons::CurrentLocation(e), "c.dll,3");
}

TEST(ProposedIconFileNames, DropWhatAFileNameCannotHold) {
  EXPECT_EQ(ProposedIconFileName("Recycle Bin (Full)"), "Recycle Bin (Full).ico");
  EXPECT_EQ(ProposedIconFileName("A/B: C*?\"<>|\\..\\x"), "AB C..x.ico");
}

TEST_F(CustomizeWindow, ColorizingTwiceWritesTheSameFileAndAsksForARebuild) {
  std::vector<std::string> locations;
  std::vector<bool> force;
  auto colorize = [&] {
    Headless().Then([&] { headless::Click(SelectColorForm()->btOk); });
    W().pmColorizeIconClick(nullptr);
    locations.push_back(Entry("Closed Folder")->NewLocation);
    force.push_back(W().FForceRebuild);
  };
  Headless().Then([&] {
    Select("Closed Folder");
    colorize();
    W().btApplyClick(nullptr);
    colorize();
    headless::Click(W().btCancel);
  });
  ShowCustomizeWindowsDialog();
  const std::string file = std::string(kInstalledIconsFolder) + "\\ClosedFolder.ico,0";
  EXPECT_EQ(locations, (std::vector<std::string>{file, file}));
  EXPECT_EQ(force, (std::vector<bool>{false, true}));
  EXPECT_EQ(Override(3), file);
}

}  // namespace
