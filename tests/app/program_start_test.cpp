// The "-uninstall" switch and the save dialogs' overwrite check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/program_start.h"
#include "platform/rtl/object.h"
#include "platform/win/internet.h"
#include "platform/win/shell.h"
#include "test_support.h"

namespace {

TEST(UninstallSwitch, OnlyTheExactSwitchAloneEndsTheProgram) {
  SetInternetModel(imConnected);
  ClearShellExecuteLog();
  EXPECT_FALSE(HandleUninstallSwitch({}));
  EXPECT_FALSE(HandleUninstallSwitch({"-UNINSTALL"}));
  EXPECT_FALSE(HandleUninstallSwitch({"-uninstall", "x"}));
  EXPECT_TRUE(ShellExecuteLog().empty());
  EXPECT_TRUE(HandleUninstallSwitch({"-uninstall"}));
  ASSERT_EQ(ShellExecuteLog().size(), 1u);
  EXPECT_EQ(ShellExecuteLog()[0].File, kFeedbackPage);
  EXPECT_EQ(ShellExecuteLog()[0].Verb, "");
  // Offline: nothing opens, and the program still ends.
  SetInternetModel(imOffline);
  ClearShellExecuteLog();
  EXPECT_TRUE(HandleUninstallSwitch({"-uninstall"}));
  EXPECT_TRUE(ShellExecuteLog().empty());
  SetInternetModel(imMachine);
}

TEST(OverwriteCheck, TestsTheNameThatSaveWrites) {
  EXPECT_EQ(NameThatWillBeWritten("a", "ico"), "a.ico");
  EXPECT_EQ(NameThatWillBeWritten("a.ico", "ico"), "a.ico");
  EXPECT_EQ(NameThatWillBeWritten("a.png", "ico"), "a.ico");
  EXPECT_EQ(NameThatWillBeWritten("a.png", "*"), "a.png");

  qvtest::TempDir dir;
  std::ofstream(dir.File("a.ico")) << "x";
  std::string asked;
  auto no = [&](const std::string& q) {
    asked = q;
    return false;
  };
  EXPECT_FALSE(SaveDialogCanClose(dir.File("a.png"), "ico", no));
  EXPECT_EQ(asked, "File " + dir.File("a.ico") + " already exists. Overwrite?");
  EXPECT_TRUE(SaveDialogCanClose(dir.File("a.png"), "ico", [](const std::string&) { return true; }));
  asked.clear();
  EXPECT_TRUE(SaveDialogCanClose(dir.File("b.png"), "ico", no));
  EXPECT_TRUE(asked.empty());
}

}  // namespace

namespace {

// Forms streamed from resources may hold icon lists: the start-up makes their
// holder's class known by name.
TEST(StartLibrariesTest, TheIconListHolderClassIsKnownByName) {
  StartLibraries();
  TPersistentClass c = GetClass("TIconListHolder");
  ASSERT_NE(c, nullptr);
}

}  // namespace

namespace {

// The program as a new user starts it, with a home of its own and no desktop:
// the settings go under that home's .config/quorvane, the window's picture to
// the name given, and nothing is written beside the program.
TEST(ProgramRun, AFreshHomeGetsTheSettingsAndNothingGoesBesideTheProgram) {
  const std::string program = std::string(QV_BINARY_DIR) + "/quorvane";
  if (!std::filesystem::exists(program)) GTEST_SKIP() << "the program is not built";
  const std::string besideProgram = std::string(QV_BINARY_DIR) + "/config.ini";
  const bool wasThere = std::filesystem::exists(besideProgram);
  const auto before = wasThere ? std::filesystem::last_write_time(besideProgram) : std::filesystem::file_time_type{};
  qvtest::TempDir home;
  const std::string picture = home.File("window.png");
  std::string out;
  const int status = qvtest::RunCommand("cd '" + home.Path().string() + "' && env -u XDG_CONFIG_HOME -u XDG_DATA_HOME HOME='" +
                                            home.Path().string() + "' QUORVANE_UI=headless QUORVANE_PICTURE='" + picture +
                                            "' '" + program + "' 2>&1",
                                        &out);
  ASSERT_EQ(status, 0) << out;
  EXPECT_TRUE(std::filesystem::exists(home.File(".config/quorvane/config.ini"))) << out;
  EXPECT_TRUE(std::filesystem::exists(picture)) << out;
  EXPECT_FALSE(std::filesystem::exists(home.File("quorvane-window.png")));
  EXPECT_EQ(std::filesystem::exists(besideProgram), wasThere);
  if (wasThere) { EXPECT_EQ(std::filesystem::last_write_time(besideProgram), before); }
}

}  // namespace
