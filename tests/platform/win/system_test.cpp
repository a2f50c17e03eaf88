#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>

#include "model_root.h"
#include "platform/graphics/gdi.h"
#include "platform/win/system_folders.h"
#include "platform/win/system_info.h"

namespace {

class SystemVersion : public ::testing::Test {
protected:
  void TearDown() override { SetWindowsVersion(TWindowsVersion()); }
};

}  // namespace

TEST_F(SystemVersion, DefaultsToWindows7AndCanBeChanged) {
  OSVERSIONINFOEX ex{};
  ex.dwOSVersionInfoSize = sizeof ex;
  ASSERT_TRUE(GetVersionEx(&ex));
  EXPECT_EQ(ex.dwMajorVersion, 6u);
  EXPECT_EQ(ex.dwMinorVersion, 1u);
  EXPECT_EQ(ex.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_STREQ(ex.szCSDVersion, "Service Pack 1");
  EXPECT_EQ(ex.wServicePackMajor, 1);
  EXPECT_EQ(GetVersion() & 0xFFFF, 0x0106u);

  TWindowsVersion xp;
  xp.Major = 5;
  xp.Minor = 1;
  xp.Build = 2600;
  xp.CSDVersion = std::string(200, 'x');  // longer than the record holds
  SetWindowsVersion(xp);
  OSVERSIONINFO info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwMajorVersion, 5u);
  EXPECT_EQ(info.dwMinorVersion, 1u);
  EXPECT_EQ(info.dwBuildNumber, 2600u);
  EXPECT_EQ(std::strlen(info.szCSDVersion), 127u);

  TWindowsVersion w98;
  w98.Major = 4;
  w98.Minor = 10;
  w98.PlatformId = VER_PLATFORM_WIN32_WINDOWS;
  SetWindowsVersion(w98);
  EXPECT_NE(GetVersion() & 0x80000000u, 0u);
}

TEST_F(SystemVersion, RefusesARecordOfUnknownSize) {
  OSVERSIONINFO info{};
  info.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionEx(&info));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(info.dwMajorVersion, 0u);
}

TEST(SystemMetrics, VirtualScreenAndIconSizes) {
  const std::pair<int, int> table[] = {
      {SM_CXSCREEN, 1280}, {SM_CYSCREEN, 1024}, {SM_CXICON, 32},      {SM_CYICON, 32},       {SM_CXSMICON, 16},
      {SM_CYSMICON, 16},   {SM_CXCURSOR, 32},   {SM_CYCURSOR, 32},    {SM_REMOTESESSION, 0}, {SM_SWAPBUTTON, 0},
      {SM_CXEDGE, 2},      {SM_CXBORDER, 1},    {SM_CXVSCROLL, 17},   {SM_CMONITORS, 1},     {9999, 0},
  };
  for (auto [index, value] : table) EXPECT_EQ(GetSystemMetrics(index), value) << index;
  // Documented index values the callers rely on.
  EXPECT_EQ(SM_CXICON, 11);
  EXPECT_EQ(SM_CXSMICON, 49);
  EXPECT_EQ(SM_CXCURSOR, 13);
  EXPECT_EQ(SM_REMOTESESSION, 0x1000);

  SetSystemMetric(SM_REMOTESESSION, 1);
  EXPECT_EQ(GetSystemMetrics(SM_REMOTESESSION), 1);
  ResetSystemMetrics();
  EXPECT_EQ(GetSystemMetrics(SM_REMOTESESSION), 0);
}

TEST(SystemMetrics, ScreenDeviceCapsOfThe96DpiScreen) {
  EXPECT_EQ(ScreenDeviceCaps(BITSPIXEL), 32);
  EXPECT_EQ(ScreenDeviceCaps(PLANES), 1);
  EXPECT_EQ(ScreenDeviceCaps(LOGPIXELSX), 96);
  EXPECT_EQ(ScreenDeviceCaps(LOGPIXELSY), 96);
  EXPECT_EQ(ScreenDeviceCaps(HORZRES), 1280);
  EXPECT_EQ(ScreenDeviceCaps(VERTRES), 1024);
  EXPECT_EQ(ScreenDeviceCaps(HORZSIZE), 339);  // 1280 px / 96 dpi * 25.4 mm
  EXPECT_EQ(ScreenDeviceCaps(NUMCOLORS), -1);
  EXPECT_EQ(ScreenDeviceCaps(RASTERCAPS) & RC_PALETTE, 0);
  TVirtualScreen old = VirtualScreen();
  TVirtualScreen eight = old;
  eight.BitsPerPixel = 8;
  SetVirtualScreen(eight);
  EXPECT_EQ(ScreenDeviceCaps(SIZEPALETTE), 256);
  EXPECT_NE(ScreenDeviceCaps(RASTERCAPS) & RC_PALETTE, 0);
  SetVirtualScreen(old);
}

// The number of physical cores: lscpu lists one line per logical processor
// with its core and socket.
TEST(Processors, CoreRecordsMatchLscpuOracle) {
  if (!qvtest::HaveProgram("lscpu")) GTEST_SKIP() << "lscpu missing";
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("lscpu -p=core,socket", &out), 0);
  std::set<std::string> cores;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line[0] != '#') cores.insert(line);

  DWORD length = 0;
  EXPECT_FALSE(GetLogicalProcessorInformation(nullptr, &length));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_GT(length, 0u);
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> records(length / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION));
  ASSERT_TRUE(GetLogicalProcessorInformation(records.data(), &length));
  size_t coreRecords = 0;
  for (const auto& r : records) coreRecords += r.Relationship == RelationProcessorCore;
  EXPECT_EQ(coreRecords, cores.size());
}

TEST(Processors, SystemInfoCountsLogicalProcessorsLikeNprocOracle) {
  if (!qvtest::HaveProgram("nproc")) GTEST_SKIP() << "nproc missing";
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("nproc --all", &out), 0);
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  EXPECT_EQ(info.dwNumberOfProcessors, static_cast<DWORD>(std::stoul(out)));
  EXPECT_GT(info.dwPageSize, 0u);
}

TEST(Memory, PhysicalSizeMatchesFreeOracle) {
  if (!qvtest::HaveProgram("free")) GTEST_SKIP() << "free missing";
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("free -b | awk '/^Mem:/ {print $2}'", &out), 0);
  MEMORYSTATUSEX ex{};
  ex.dwLength = sizeof ex;
  ASSERT_TRUE(GlobalMemoryStatusEx(&ex));
  uint64_t total = std::stoull(out);
  // free counts what the kernel manages, the page count may differ by reserved pages.
  EXPECT_NEAR(static_cast<double>(ex.ullTotalPhys), static_cast<double>(total), total * 0.02);
}

TEST(Memory, StatusRecordsAreConsistent) {
  MEMORYSTATUSEX ex{};
  ex.dwLength = 40;
  EXPECT_FALSE(GlobalMemoryStatusEx(&ex));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  ex.dwLength = sizeof ex;
  ASSERT_TRUE(GlobalMemoryStatusEx(&ex));
  EXPECT_GT(ex.ullTotalPhys, 0u);
  EXPECT_LE(ex.ullAvailPhys, ex.ullTotalPhys);
  EXPECT_LE(ex.dwMemoryLoad, 100u);
  MEMORYSTATUS old{};
  GlobalMemoryStatus(&old);
  EXPECT_EQ(old.dwLength, 32u);
  uint64_t expected = ex.ullTotalPhys > 0xFFFFFFFFull ? 0xFFFFFFFFull : ex.ullTotalPhys;
  EXPECT_EQ(old.dwTotalPhys, expected);
}

TEST(Clock, TickCountFollowsTheMonotonicClock) {
  DWORD before = GetTickCount();
  Sleep(20);
  DWORD elapsed = GetTickCount() - before;  // unsigned difference survives a wrap
  EXPECT_GE(elapsed, 19u);
  // Read in a fixed order: the later reading may be a tick further on, never
  // behind (the two operands of a subtraction are read in either order).
  const DWORD low = GetTickCount();
  const uint64_t wide = GetTickCount64();
  EXPECT_LT(static_cast<DWORD>(wide) - low, 1000u);
}

namespace {
class Folders : public ModelRootTest {};
}  // namespace

TEST_F(Folders, WindowsAndSystemFoldersLiveInTheModelRoot) {
  char buf[MAX_PATH];
  UINT n = GetWindowsDirectory(buf, sizeof buf);
  EXPECT_EQ(std::string(buf, n), "C:\\Windows");
  EXPECT_TRUE(std::filesystem::is_directory(Root() + "/Windows"));
  n = GetSystemDirectory(buf, sizeof buf);
  EXPECT_EQ(std::string(buf, n), "C:\\Windows\\System32");
  EXPECT_EQ(NativePath(std::string(buf) + "\\shell32.dll"), Root() + "/Windows/System32/shell32.dll");
  // Too small: the size needed, terminator included, and nothing copied.
  char small[4] = "abc";
  EXPECT_EQ(GetWindowsDirectory(small, sizeof small), 11u);
  EXPECT_STREQ(small, "abc");
  ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, buf, CSIDL_SYSTEM, FALSE));
  EXPECT_STREQ(buf, "C:\\Windows\\System32");
  EXPECT_FALSE(SHGetSpecialFolderPath(nullptr, buf, 0x7777, FALSE));
}

TEST_F(Folders, TempAppDataAndProgramAreRealFolders) {
  char buf[MAX_PATH];
  DWORD n = GetTempPath(sizeof buf, buf);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(buf[n - 1], '/');
  EXPECT_TRUE(std::filesystem::is_directory(buf));
  EXPECT_EQ(GetDriveType(buf), DRIVE_FIXED);  // what the program checks before using it
  ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, buf, CSIDL_APPDATA, FALSE));
  EXPECT_EQ(std::string(buf), GetAppDataFolder());

  n = GetModuleFileName(nullptr, buf, sizeof buf);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::filesystem::path(std::string(buf, n)).filename(), "platform_tests");
  char tiny[5];
  EXPECT_EQ(GetModuleFileName(nullptr, tiny, sizeof tiny), 5u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::strlen(tiny), 4u);
}

TEST_F(Folders, DrivesAreTheModelRootAndItsDrivesFolders) {
  EXPECT_EQ(GetLogicalDrives(), 1u << 2);  // C only
  std::filesystem::create_directories(Root() + "/drives/E");
  SetModelDrive('d', DRIVE_CDROM);
  SetModelDrive('C', DRIVE_CDROM);  // drive C stays the fixed model root
  EXPECT_EQ(GetLogicalDrives(), (1u << 2) | (1u << 3) | (1u << 4));
  EXPECT_TRUE(std::filesystem::is_directory(Root() + "/drives/D"));

  const std::pair<const char*, UINT> table[] = {
      {"C:\\", DRIVE_FIXED},       {"c:", DRIVE_FIXED},        {"C:/", DRIVE_FIXED},
      {"D:\\", DRIVE_CDROM},       {"E:\\", DRIVE_FIXED},      {"F:\\", DRIVE_NO_ROOT_DIR},
      {"C:\\Windows\\", DRIVE_NO_ROOT_DIR}, {"/", DRIVE_FIXED}, {"/no/such/folder", DRIVE_NO_ROOT_DIR},
      {"", DRIVE_NO_ROOT_DIR},
  };
  for (auto [root, type] : table) EXPECT_EQ(GetDriveType(root), type) << root;
  EXPECT_EQ(GetDriveType(nullptr), DRIVE_FIXED);

  SetModelDrive('D', DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(GetDriveType("D:\\"), DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(GetLogicalDrives() & (1u << 3), 0u);
  // Types belong to their model root.
  SetModelDrive('G', DRIVE_REMOTE);
  qvtest::TempDir other;
  SetWindowsModelRoot(other.Path().string());
  EXPECT_EQ(GetDriveType("G:\\"), DRIVE_NO_ROOT_DIR);
  SetWindowsModelRoot(Root());
  EXPECT_EQ(GetDriveType("G:\\"), DRIVE_REMOTE);
}

TEST(MulDiv, RoundsHalvesAwayFromZeroAndFailsAsWindowsDoes) {
  struct Case {
    int a, b, c, want;
  };
  const Case cases[] = {{10, 1, 4, 3},   {10, 1, 3, 3},     {-10, 1, 4, -3},         {5, 1, 2, 3},  {-5, 1, 2, -3},
                        {5, -1, 2, -3},  {200, 50, 100, 100}, {7, 3, 0, -1},         {0, 0, 5, 0},
                        {INT32_MAX, 2, 1, -1}, {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}, {-65536, 32768, 1, INT32_MIN}};
  for (const Case& c : cases) EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.want) << c.a << " " << c.b << " " << c.c;
}
