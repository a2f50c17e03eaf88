#pragma once
// Desktop-wide settings and the session, as models: SystemParametersInfo keeps
// the icon metrics and the window animation switch in the process; ExitWindowsEx
// records the request and never ends the session; privileges are granted.
#include <vector>

#include "platform/win/win_types.h"

constexpr UINT SPI_GETICONMETRICS = 0x002D;
constexpr UINT SPI_SETICONMETRICS = 0x002E;
constexpr UINT SPI_GETWORKAREA = 0x0030;
constexpr UINT SPI_GETANIMATION = 0x0048;
constexpr UINT SPI_SETANIMATION = 0x0049;
constexpr UINT SPIF_UPDATEINIFILE = 0x0001;
constexpr UINT SPIF_SENDCHANGE = 0x0002;
constexpr UINT SPIF_SENDWININICHANGE = 0x0002;

struct ICONMETRICSA {
  UINT cbSize;
  int iHorzSpacing;
  int iVertSpacing;
  int iTitleWrap;
  LOGFONTA lfFont;
};
static_assert(sizeof(ICONMETRICSA) == 76);
using ICONMETRICS = ICONMETRICSA;

struct ANIMATIONINFO {
  UINT cbSize;
  int iMinAnimate;
};
static_assert(sizeof(ANIMATIONINFO) == 8);

// The records' cbSize (and uiParam, where Windows wants it) must be the record's
// size, else FALSE with ERROR_INVALID_PARAMETER. Unknown actions fail the same way.
BOOL SystemParametersInfo(UINT action, UINT uiParam, void* pvParam, UINT winIni);
inline BOOL SystemParametersInfoA(UINT action, UINT uiParam, void* pvParam, UINT winIni) {
  return SystemParametersInfo(action, uiParam, pvParam, winIni);
}
// Back to the model's defaults (spacing 75, title wrap on, 9-point Segoe UI,
// animation on).
void ResetSystemParameters();

constexpr UINT EWX_LOGOFF = 0x0;
constexpr UINT EWX_SHUTDOWN = 0x1;
constexpr UINT EWX_REBOOT = 0x2;
constexpr UINT EWX_FORCE = 0x4;
constexpr UINT EWX_POWEROFF = 0x8;

struct TExitWindowsRequest {
  UINT Flags = 0;
  DWORD Reason = 0;
};
BOOL ExitWindowsEx(UINT flags, DWORD reason);
std::vector<TExitWindowsRequest> ExitWindowsLog();
void ClearExitWindowsLog();

struct LUID {
  DWORD LowPart;
  LONG HighPart;
};
struct LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
};
struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
};
static_assert(sizeof(LUID_AND_ATTRIBUTES) == 12 && sizeof(TOKEN_PRIVILEGES) == 16);

constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
constexpr DWORD ERROR_NO_SUCH_PRIVILEGE = 1313;

// The pseudo handle of the running process.
HANDLE GetCurrentProcess();
// The token is a handle that CloseHandle closes.
BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token);
// Knows the privileges by their documented names ("SeShutdownPrivilege", ...).
BOOL LookupPrivilegeValue(const char* systemName, const char* name, LUID* luid);
inline BOOL LookupPrivilegeValueA(const char* systemName, const char* name, LUID* luid) {
  return LookupPrivilegeValue(systemName, name, luid);
}
// Grants every change; the previous state, when asked for, shows the privileges
// as they were (none enabled).
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* newState, DWORD bufferLength,
                           TOKEN_PRIVILEGES* previousState, DWORD* returnLength);
