#include "base/system_helpers.h"

#include <gtest/gtest.h>

#include "platform/win/internet.h"
#include "platform/win/system_info.h"

namespace {

TEST(SystemHelpers, VersionTests) {
  const TWindowsVersion saved = WindowsVersion();
  struct {
    DWORD major, minor, platform;
    bool xp, nt, alpha;
  } cases[] = {{5, 1, VER_PLATFORM_WIN32_NT, true, true, true},
               {6, 1, VER_PLATFORM_WIN32_NT, false, true, true},
               {10, 0, VER_PLATFORM_WIN32_NT, false, true, true},
               {5, 0, VER_PLATFORM_WIN32_NT, false, true, false},
               {4, 10, VER_PLATFORM_WIN32_WINDOWS, false, false, false}};
  for (const auto& c : cases) {
    TWindowsVersion v;
    v.Major = c.major;
    v.Minor = c.minor;
    v.PlatformId = c.platform;
    SetWindowsVersion(v);
    EXPECT_EQ(IsWindowsXP(), c.xp) << c.major << "." << c.minor;
    EXPECT_EQ(IsWindowsNT(), c.nt) << c.major << "." << c.minor;
    EXPECT_EQ(DrawsAlphaIcons(), c.alpha) << c.major << "." << c.minor;
  }
  SetWindowsVersion(saved);
}

TEST(SystemHelpers, InternetFollowsTheConnectionModel) {
  SetInternetModel(imOffline);
  EXPECT_FALSE(IsInternetAvailable());
  SetInternetModel(imConnected);
  EXPECT_TRUE(IsInternetAvailable());
  SetInternetModel(imMachine);
}

}  // namespace
