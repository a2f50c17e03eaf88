// The "-uninstall" switch and the save dialogs' overwrite check.
#include <gtest/gtest.h>

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
