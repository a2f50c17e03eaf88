// The shell's folder browser over the Windows model (its tree, the callback
// protocol, selection and OK from the caller, item lists), and the window list
// calls EnumWindows and FindWindow.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../win/model_root.h"
#include "platform/ui/shell_browse.h"
#include "platform/ui/window_list.h"
#include "platform/win/system_folders.h"
#include "test_support.h"
#include "ui_test_support.h"

using namespace headless;

namespace {

class ShellBrowse : public UiTest {
protected:
  void SetUp() override {
    UiTest::SetUp();
    saved = WindowsModelRoot();
    SetWindowsModelRoot(dir.Path().string());
    for (const char* f : {"Program Files/Foo", "Windows/System32", "drives/D/Music"})
      std::filesystem::create_directories(dir.Path() / f);
    SetModelDrive('D', DRIVE_CDROM);
    // A link out of the model is never listed.
    std::filesystem::create_directory_symlink("/", dir.Path() / "Escape");
  }
  void TearDown() override {
    SetModelDrive('D', DRIVE_NO_ROOT_DIR);
    SetWindowsModelRoot(saved);
    UiTest::TearDown();
  }
  static std::string OutputFile(const std::string& name) {
    const auto out = std::filesystem::path(QV_BINARY_DIR) / "test-output";
    std::filesystem::create_directories(out);
    return (out / name).string();
  }
  qvtest::TempDir dir;
  std::string saved;
};

struct TCallbackLog {
  std::vector<std::string> events;
  HWND window = nullptr;
};

int Callback(HWND window, UINT msg, LPARAM lParam, LPARAM data) {
  auto* log = reinterpret_cast<TCallbackLog*>(data);
  log->window = window;
  if (msg == BFFM_INITIALIZED) {
    log->events.push_back("initialized");
    SendMessage(window, BFFM_SETSELECTIONA, 1, reinterpret_cast<LPARAM>("C:\\Program Files"));
  } else if (msg == BFFM_SELCHANGED) {
    char path[MAX_PATH];
    log->events.push_back(SHGetPathFromIDList(reinterpret_cast<LPCITEMIDLIST>(lParam), path) ? path : "(no path)");
  }
  return 0;
}

TEST_F(ShellBrowse, ShowsTheModelsDrivesAndFoldersAndHandsBackTheChosenPath) {
  TCallbackLog log;
  char display[MAX_PATH] = {};
  BROWSEINFOA info{};
  info.pszDisplayName = display;
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = Callback;
  info.lParam = reinterpret_cast<LPARAM>(&log);
  std::vector<std::string> rows;
  int selected = -1;
  bool okOnFolder = false, okOnComputer = true;
  Headless().Then([&] {
    HWND b = ActiveBrowseDialog();
    rows = BrowseDialogRows(b);
    selected = BrowseDialogSelection(b);
    okOnFolder = BrowseDialogOkEnabled(b);
    Screen->ActiveForm()->SaveToPng(OutputFile("shell_browse_for_folder.png"));
    BrowseDialogSelectRow(b, 1);  // My Computer: no file-system path
    okOnComputer = BrowseDialogOkEnabled(b);
    BrowseDialogSelectRow(b, selected);
    BrowseDialogPress(b, true);
  });
  LPITEMIDLIST item = SHBrowseForFolder(&info);
  ASSERT_NE(item, nullptr);
  char path[MAX_PATH] = {};
  EXPECT_TRUE(SHGetPathFromIDList(item, path));
  EXPECT_STREQ(path, "C:\\Program Files");
  EXPECT_STREQ(display, "Program Files");
  CoTaskMemFree(item);
  EXPECT_EQ(LiveItemIdLists(), 0);
  EXPECT_EQ(rows, (std::vector<std::string>{"Desktop", "  My Computer", "    Local Disk (C:)", "      Program Files",
                                            "      Windows", "    CD Drive (D:)"}));
  EXPECT_EQ(selected, 3);
  EXPECT_TRUE(okOnFolder);
  EXPECT_FALSE(okOnComputer);
  ASSERT_GE(log.events.size(), 2u);
  EXPECT_EQ(log.events[0], "initialized");
  EXPECT_EQ(log.events[1], "C:\\Program Files");
  EXPECT_EQ(log.events.back(), "C:\\Program Files");
}

TEST_F(ShellBrowse, CancelGivesNoItemAndTheCallerCanDisableOk) {
  BROWSEINFOA info{};
  bool okAfter = true;
  info.lpfn = [](HWND window, UINT msg, LPARAM, LPARAM) {
    if (msg == BFFM_SELCHANGED) SendMessage(window, BFFM_ENABLEOK, 0, 0);
    return 0;
  };
  Headless().Then([&] {
    HWND b = ActiveBrowseDialog();
    BrowseDialogSelectRow(b, 2);
    okAfter = BrowseDialogOkEnabled(b);
    BrowseDialogPress(b, false);
  });
  EXPECT_EQ(SHBrowseForFolder(&info), nullptr);
  EXPECT_FALSE(okAfter);
  EXPECT_EQ(LiveItemIdLists(), 0);
}

TEST_F(ShellBrowse, RootsOfTheTreeAndTheHookSeeTheMessagesFirst) {
  LPITEMIDLIST drives = nullptr, network = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives), S_OK);
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_NETWORK, &network), S_OK);
  LPITEMIDLIST other = nullptr;
  EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, 0x7777, &other), E_INVALIDARG);
  char path[MAX_PATH] = "x";
  EXPECT_FALSE(SHGetPathFromIDList(drives, path));
  EXPECT_STREQ(path, "");

  BROWSEINFOA info{};
  info.pidlRoot = drives;
  std::vector<std::string> rows;
  std::vector<UINT> heard;
  bool closed = false;
  Headless().Then([&] {
    HWND b = ActiveBrowseDialog();
    SetBrowseDialogHook(b, [&](TMessage& m) {
      heard.push_back(m.Msg);
      if (m.Msg == WM_NCDESTROY) closed = true;
      // The hook keeps the Help command to itself.
      return m.Msg == WM_COMMAND;
    });
    HWND help = AddBrowseDialogButton(b, "Help", 0xFFFF, 12);
    EXPECT_NE(help, nullptr);
    EXPECT_NE(FindBrowseDialogButton(b), nullptr);
    Click(static_cast<TControl*>(TWinControl::FindControl(help)));
  });
  Headless().Then([&] {
    HWND b = ActiveBrowseDialog();
    rows = BrowseDialogRows(b);
    BrowseDialogPress(b, false);
  });
  EXPECT_EQ(SHBrowseForFolder(&info), nullptr);
  EXPECT_EQ(rows, (std::vector<std::string>{"My Computer", "  Local Disk (C:)", "  CD Drive (D:)"}));
  EXPECT_NE(std::find(heard.begin(), heard.end(), WM_COMMAND), heard.end());
  EXPECT_TRUE(closed);

  info.pidlRoot = network;
  Headless().Then([&] {
    rows = BrowseDialogRows(ActiveBrowseDialog());
    BrowseDialogPress(ActiveBrowseDialog(), false);
  });
  EXPECT_EQ(SHBrowseForFolder(&info), nullptr);
  EXPECT_EQ(rows, (std::vector<std::string>{"Entire Network"}));
  CoTaskMemFree(drives);
  CoTaskMemFree(network);
  EXPECT_EQ(LiveItemIdLists(), 0);
}

TEST_F(UiTest, EnumWindowsAndFindWindowSeeTheProgramsOwnForms) {
  TForm* a = MakeForm();
  a->SetCaption("First");
  TForm* b = MakeForm();
  b->SetCaption("Second");
  std::vector<HWND> seen;
  EnumWindows([](HWND w, LPARAM data) {
        reinterpret_cast<std::vector<HWND>*>(data)->push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&seen));
  EXPECT_NE(std::find(seen.begin(), seen.end(), a->Handle()), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), b->Handle()), seen.end());
  int calls = 0;
  EnumWindows([](HWND, LPARAM data) {
        ++*reinterpret_cast<int*>(data);
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&calls));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(FindWindow("TForm", "second"), b->Handle());
  EXPECT_EQ(FindWindow(nullptr, "First"), a->Handle());
  EXPECT_EQ(FindWindow("Progman", "Program Manager"), nullptr);
  char name[16];
  EXPECT_EQ(GetClassName(a->Handle(), name, sizeof name), 5);
  EXPECT_STREQ(name, "TForm");
}

}  // namespace
