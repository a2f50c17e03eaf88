#include "base/system_helpers.h"

#include "platform/win/internet.h"
#include "platform/win/system_info.h"

namespace {

bool QueryVersion(OSVERSIONINFOA& info) {
  info = OSVERSIONINFOA{};
  info.dwOSVersionInfoSize = sizeof(info);
  return GetVersionEx(&info) != FALSE;
}

}  // namespace

bool IsWindowsXP() {
  OSVERSIONINFOA info;
  return QueryVersion(info) && info.dwMajorVersion == 5 && info.dwMinorVersion == 1;
}

bool DrawsAlphaIcons() {
  OSVERSIONINFOA info;
  if (!QueryVersion(info) || info.dwPlatformId <= 1) return false;
  return info.dwMajorVersion > 5 || (info.dwMajorVersion == 5 && info.dwMinorVersion >= 1);
}

bool IsWindowsNT() {
  OSVERSIONINFOA info;
  return QueryVersion(info) && info.dwPlatformId > 1;
}

bool IsInternetAvailable() {
  DWORD flags = 0;
  if (!InternetGetConnectedState(&flags, 0)) return false;
  HINTERNET handle = InternetOpen("Mozilla/5.0 (Windows NT 6.1; WOW64; rv:11.0) Gecko/20100101 Firefox/11.0",
                                  INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!handle) return false;
  InternetCloseHandle(handle);
  return true;
}
