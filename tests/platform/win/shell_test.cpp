#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "model_root.h"
#include "platform/win/desktop_settings.h"
#include "platform/win/global_memory.h"
#include "platform/win/internet.h"
#include "platform/win/kernel_files.h"
#include "platform/win/resources.h"
#include "platform/win/shell.h"

namespace {

class Shell : public ModelRootTest {
protected:
  void SetUp() override {
    ModelRootTest::SetUp();
    ClearShellExecuteLog();
  }
  void TearDown() override {
    SetShellExecuteHandler(nullptr);
    SetShellIconSource(nullptr);
    ClearShellExecuteLog();
    ModelRootTest::TearDown();
  }
};

using Bytes = std::vector<uint8_t>;

intptr_t Code(HINSTANCE h) { return reinterpret_cast<intptr_t>(h); }

// Icons of a pretend library: files whose name ends in ".dll" hold three icons,
// ".txt" files hold none. Handles encode the request so a test can read them.
struct FakeIcons : TShellIconSource {
  int IconCount(const std::string& path) override {
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".dll") == 0) return 3;
    return -1;
  }
  HICON Icon(const std::string&, int index, int size) override {
    if (index >= 3) return nullptr;
    return reinterpret_cast<HICON>(static_cast<intptr_t>(0x10000 + (index + 100) * 256 + size));
  }
};

}  // namespace

TEST_F(Shell, ExecuteRecordsRequestsAndLaunchesNothing) {
  qvtest::WriteFileBytes(Root() + "/readme.txt", {'r'});
  struct Case {
    const char* file;
    const char* directory;
    intptr_t result;
  };
  const Case cases[] = {
      {"https://example.org/quorvane/", nullptr, 42},
      {"mailto:support@example.org", nullptr, 42},
      {"C:\\readme.txt", nullptr, 42},
      {"readme.txt", "C:\\", 42},
      {"C:\\missing.chm", nullptr, SE_ERR_FNF},
      {"C:\\no\\such\\help.chm", nullptr, SE_ERR_PNF},
      {"", nullptr, SE_ERR_FNF},
  };
  for (const auto& c : cases) {
    HINSTANCE r = ShellExecute(nullptr, nullptr, c.file, "", c.directory, SW_SHOWNORMAL);
    EXPECT_EQ(Code(r), c.result) << c.file;
  }
  auto log = ShellExecuteLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].File, "https://example.org/quorvane/");
  EXPECT_EQ(log[0].Verb, "");
  EXPECT_EQ(log[0].ShowCommand, SW_SHOWNORMAL);
  EXPECT_EQ(log[3].Directory, "C:\\");

  SetShellExecuteHandler([](const TShellExecuteRequest& r) { return r.File.find("https:") == 0; });
  EXPECT_GT(Code(ShellExecuteA(nullptr, "open", "https://example.org", nullptr, nullptr, SW_SHOW)), 32);
  EXPECT_EQ(Code(ShellExecute(nullptr, "open", "mailto:x@example.org", nullptr, nullptr, SW_SHOW)), SE_ERR_NOASSOC);
  EXPECT_EQ(ShellExecuteLog().size(), 5u);
}

TEST_F(Shell, IconsComeFromThePluggedSource) {
  qvtest::WriteFileBytes(Root() + "/lib.dll", {'M', 'Z'});
  qvtest::WriteFileBytes(Root() + "/note.txt", {'x'});
  EXPECT_EQ(ExtractIcon(HInstance, "C:\\lib.dll", 0), nullptr);  // no source yet
  FakeIcons icons;
  SetShellIconSource(&icons);
  EXPECT_EQ(reinterpret_cast<intptr_t>(ExtractIcon(nullptr, "C:\\lib.dll", 0xFFFFFFFFu)), 3);
  EXPECT_EQ(reinterpret_cast<intptr_t>(ExtractIcon(nullptr, "C:\\lib.dll", 1)), 0x10000 + 101 * 256 + 32);
  EXPECT_EQ(ExtractIcon(nullptr, "C:\\lib.dll", 5), nullptr);
  EXPECT_EQ(reinterpret_cast<intptr_t>(ExtractIconA(nullptr, "C:\\note.txt", 0)), 1);  // no icon file at all
  EXPECT_EQ(ExtractIcon(nullptr, "C:\\missing.dll", 0), nullptr);

  EXPECT_EQ(ExtractIconEx("C:\\lib.dll", -1, nullptr, nullptr, 0), 3u);
  HICON large[4] = {};
  HICON small[4] = {};
  EXPECT_EQ(ExtractIconExA("C:\\lib.dll", 1, large, small, 4), 2u);
  EXPECT_EQ(reinterpret_cast<intptr_t>(large[0]), 0x10000 + 101 * 256 + 32);
  EXPECT_EQ(reinterpret_cast<intptr_t>(small[1]), 0x10000 + 102 * 256 + 16);
  EXPECT_EQ(ExtractIconEx("C:\\note.txt", 0, large, nullptr, 1), 0u);
}

TEST_F(Shell, FileInfoNamesAndTypes) {
  qvtest::WriteFileBytes(Root() + "/photo.png", {1});
  SHFILEINFO info{};
  ASSERT_NE(SHGetFileInfo("C:\\photo.png", 0, &info, sizeof info, SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_ICON), 0u);
  EXPECT_STREQ(info.szDisplayName, "photo.png");
  EXPECT_STREQ(info.szTypeName, "PNG File");
  EXPECT_EQ(info.hIcon, nullptr);
  EXPECT_EQ(SHGetFileInfo("C:\\none.png", 0, &info, sizeof info, SHGFI_TYPENAME), 0u);
  EXPECT_NE(SHGetFileInfoA("C:\\none.png", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                           SHGFI_TYPENAME | SHGFI_USEFILEATTRIBUTES),
            0u);
}

TEST(DesktopSettings, IconMetricsAndAnimationKeepWhatIsSet) {
  ResetSystemParameters();
  ICONMETRICS metrics{};
  metrics.cbSize = sizeof metrics;
  ASSERT_TRUE(SystemParametersInfo(SPI_GETICONMETRICS, sizeof metrics, &metrics, 0));
  EXPECT_EQ(metrics.iHorzSpacing, 75);
  EXPECT_STREQ(metrics.lfFont.lfFaceName, "Segoe UI");
  metrics.iHorzSpacing = 100;
  ASSERT_TRUE(SystemParametersInfo(SPI_SETICONMETRICS, sizeof metrics, &metrics, SPIF_SENDCHANGE));
  ICONMETRICS again{};
  again.cbSize = sizeof again;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETICONMETRICS, sizeof again, &again, 0));
  EXPECT_EQ(again.iHorzSpacing, 100);
  again.cbSize = 60;
  EXPECT_FALSE(SystemParametersInfo(SPI_GETICONMETRICS, 60, &again, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  ANIMATIONINFO anim{sizeof(ANIMATIONINFO), 0};
  ASSERT_TRUE(SystemParametersInfo(SPI_GETANIMATION, sizeof anim, &anim, 0));
  EXPECT_NE(anim.iMinAnimate, 0);
  anim.iMinAnimate = 0;
  ASSERT_TRUE(SystemParametersInfo(SPI_SETANIMATION, sizeof anim, &anim, 0));
  anim.iMinAnimate = 5;
  SystemParametersInfo(SPI_GETANIMATION, sizeof anim, &anim, 0);
  EXPECT_EQ(anim.iMinAnimate, 0);
  EXPECT_FALSE(SystemParametersInfo(0x7FFF, 0, nullptr, 0));
  ResetSystemParameters();
}

// The restart path: privilege, then the request, which is only recorded.
TEST(DesktopSettings, RestartIsRecordedWithTheShutdownPrivilege) {
  ClearExitWindowsLog();
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid));
  EXPECT_EQ(privileges.Privileges[0].Luid.LowPart, 19u);  // SE_SHUTDOWN_PRIVILEGE
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  TOKEN_PRIVILEGES previous{};
  DWORD length = 0;
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, sizeof previous, &previous, &length));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(length, 16u);
  EXPECT_TRUE(CloseHandle(token));
  EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
  LUID luid{};
  EXPECT_FALSE(LookupPrivilegeValue(nullptr, "SeNoSuchPrivilege", &luid));

  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
  auto log = ExitWindowsLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].Flags, 6u);
  ClearExitWindowsLog();
}

TEST(Internet, ConnectionFollowsTheModelAndHandlesClose) {
  SetInternetModel(imOffline);
  DWORD flags = 0;
  EXPECT_FALSE(InternetGetConnectedState(&flags, 0));
  EXPECT_EQ(flags, INTERNET_CONNECTION_OFFLINE);
  EXPECT_EQ(InternetOpenA("Mozilla/5.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0), nullptr);
  SetInternetModel(imConnected);
  EXPECT_TRUE(InternetGetConnectedState(&flags, 0));
  EXPECT_EQ(flags, INTERNET_CONNECTION_LAN);
  HINTERNET h = InternetOpen("Mozilla/5.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(InternetCloseHandle(h));
  EXPECT_FALSE(InternetCloseHandle(h));
  SetInternetModel(imMachine);
}

TEST(MemoryProbe, IntegerIdentifiersAreBadStringPointers) {
  EXPECT_TRUE(IsBadStringPtrA(MAKEINTRESOURCE(137), 63));
  EXPECT_TRUE(IsBadStringPtr(nullptr, 63));
  EXPECT_FALSE(IsBadStringPtr("MAINICON", 63));
}

TEST(DroppedFiles, NamesPointAndRelease) {
  size_t baseline = GlobalBlockCount();
  HWND window = reinterpret_cast<HWND>(uintptr_t{0x77});
  DragAcceptFiles(window, TRUE);
  EXPECT_TRUE(AcceptsDroppedFiles(window));
  HDROP drop = MakeDropFiles({"C:\\pictures\\a.png", "/home/u/b.ico"}, POINT{10, 20});
  EXPECT_EQ(DragQueryFile(drop, 0xFFFFFFFFu, nullptr, 0), 2u);
  EXPECT_EQ(DragQueryFile(drop, 0, nullptr, 0), 17u);
  char name[1025];
  EXPECT_EQ(DragQueryFileA(drop, 1, name, sizeof name), 13u);
  EXPECT_STREQ(name, "/home/u/b.ico");
  EXPECT_EQ(DragQueryFile(drop, 0, name, 4), 3u);
  EXPECT_STREQ(name, "C:\\");
  EXPECT_EQ(DragQueryFile(drop, 2, name, sizeof name), 0u);
  POINT pt{};
  EXPECT_TRUE(DragQueryPoint(drop, &pt));
  EXPECT_EQ(pt.x, 10);
  EXPECT_EQ(pt.y, 20);
  DragFinish(drop);
  EXPECT_EQ(GlobalBlockCount(), baseline);
  DragAcceptFiles(window, FALSE);
  EXPECT_FALSE(AcceptsDroppedFiles(window));
}

// Blocks made elsewhere (the desktop hands over wide names) and damaged ones.
TEST(DroppedFiles, WideAndDamagedBlocks) {
  auto block = [](const Bytes& tail, DWORD offset, BOOL wide) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, sizeof(DROPFILES) + tail.size());
    auto* p = static_cast<uint8_t*>(GlobalLock(h));
    DROPFILES header{offset, POINT{}, FALSE, wide};
    std::memcpy(p, &header, sizeof header);
    if (!tail.empty()) std::memcpy(p + sizeof header, tail.data(), tail.size());
    GlobalUnlock(h);
    return reinterpret_cast<HDROP>(h);
  };
  char name[64];
  HDROP wide = block({'x', 0, 0xFC, 0, 0, 0, 'y', 0, 0, 0, 0, 0}, 20, TRUE);
  EXPECT_EQ(DragQueryFile(wide, 0xFFFFFFFFu, nullptr, 0), 2u);
  DragQueryFile(wide, 0, name, sizeof name);
  EXPECT_STREQ(name, "x\xC3\xBC");
  DragFinish(wide);
  const std::pair<Bytes, DWORD> damaged[] = {
      {{'a', 'b'}, 20},         // no terminator
      {{'a', 0, 0}, 0xFFFFFF},  // names beyond the block
      {{'a', 0, 0}, 4},         // names inside the header
  };
  for (const auto& [tail, offset] : damaged) {
    HDROP d = block(tail, offset, FALSE);
    EXPECT_EQ(DragQueryFile(d, 0xFFFFFFFFu, nullptr, 0), 0u);
    DragFinish(d);
  }
  EXPECT_EQ(DragQueryFile(nullptr, 0xFFFFFFFFu, nullptr, 0), 0u);
}
