#include "base/system_helpers.h"

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

bool IsWindowsNT() {
  OSVERSIONINFOA info;
  return QueryVersion(info) && info.dwPlatformId > 1;
}
