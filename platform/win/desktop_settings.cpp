#include "platform/win/desktop_settings.h"

#include <cstring>
#include <mutex>
#include <string>

#include "platform/win/kernel_files.h"
#include "platform/win/system_info.h"

namespace {

struct TSettings {
  ICONMETRICSA IconMetrics{};
  int MinAnimate = 1;
};

std::mutex gLock;
std::vector<TExitWindowsRequest> gExitLog;

TSettings Defaults() {
  TSettings s;
  s.IconMetrics.cbSize = sizeof(ICONMETRICSA);
  s.IconMetrics.iHorzSpacing = 75;
  s.IconMetrics.iVertSpacing = 75;
  s.IconMetrics.iTitleWrap = 1;
  LOGFONTA& f = s.IconMetrics.lfFont;
  f.lfHeight = -12;  // 9 points at 96 DPI
  f.lfWeight = FW_NORMAL;
  f.lfCharSet = DEFAULT_CHARSET;
  f.lfQuality = CLEARTYPE_QUALITY;
  std::strcpy(f.lfFaceName, "Segoe UI");
  return s;
}

TSettings& Settings() {
  static TSettings settings = Defaults();
  return settings;
}

BOOL Invalid() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

const char* const kPrivileges[] = {
    nullptr, nullptr, "SeCreateTokenPrivilege", "SeAssignPrimaryTokenPrivilege", "SeLockMemoryPrivilege",
    "SeIncreaseQuotaPrivilege", "SeMachineAccountPrivilege", "SeTcbPrivilege", "SeSecurityPrivilege",
    "SeTakeOwnershipPrivilege", "SeLoadDriverPrivilege", "SeSystemProfilePrivilege", "SeSystemtimePrivilege",
    "SeProfileSingleProcessPrivilege", "SeIncreaseBasePriorityPrivilege", "SeCreatePagefilePrivilege",
    "SeCreatePermanentPrivilege", "SeBackupPrivilege", "SeRestorePrivilege", "SeShutdownPrivilege",
    "SeDebugPrivilege", "SeAuditPrivilege", "SeSystemEnvironmentPrivilege", "SeChangeNotifyPrivilege",
    "SeRemoteShutdownPrivilege"};

bool SameText(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

}  // namespace

BOOL SystemParametersInfo(UINT action, UINT uiParam, void* pvParam, UINT winIni) {
  std::lock_guard<std::mutex> lock(gLock);
  TSettings& s = Settings();
  switch (action) {
    case SPI_GETICONMETRICS:
    case SPI_SETICONMETRICS: {
      auto* m = static_cast<ICONMETRICSA*>(pvParam);
      if (!m || m->cbSize != sizeof(ICONMETRICSA) || uiParam != sizeof(ICONMETRICSA)) return Invalid();
      if (action == SPI_GETICONMETRICS) {
        *m = s.IconMetrics;
      } else {
        s.IconMetrics = *m;
      }
      return TRUE;
    }
    case SPI_GETANIMATION:
    case SPI_SETANIMATION: {
      auto* a = static_cast<ANIMATIONINFO*>(pvParam);
      if (!a || a->cbSize != sizeof(ANIMATIONINFO) || uiParam != sizeof(ANIMATIONINFO)) return Invalid();
      if (action == SPI_GETANIMATION) {
        a->iMinAnimate = s.MinAnimate;
      } else {
        s.MinAnimate = a->iMinAnimate;
      }
      return TRUE;
    }
    case SPI_GETWORKAREA: {
      auto* r = static_cast<RECT*>(pvParam);
      if (!r) return Invalid();
      // The virtual screen less a 40-pixel task bar at the bottom.
      *r = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) - 40};
      return TRUE;
    }
    default: return Invalid();
  }
}

void ResetSystemParameters() {
  std::lock_guard<std::mutex> lock(gLock);
  Settings() = Defaults();
}

BOOL ExitWindowsEx(UINT flags, DWORD reason) {
  std::lock_guard<std::mutex> lock(gLock);
  gExitLog.push_back(TExitWindowsRequest{flags, reason});
  return TRUE;
}

std::vector<TExitWindowsRequest> ExitWindowsLog() {
  std::lock_guard<std::mutex> lock(gLock);
  return gExitLog;
}

void ClearExitWindowsLog() {
  std::lock_guard<std::mutex> lock(gLock);
  gExitLog.clear();
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token) {
  if (!token || process != GetCurrentProcess()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *token = NewPlaceholderHandle();
  return TRUE;
}

BOOL LookupPrivilegeValue(const char* systemName, const char* name, LUID* luid) {
  if (!name || !luid) return Invalid();
  for (size_t i = 0; i < sizeof kPrivileges / sizeof kPrivileges[0]; ++i) {
    if (kPrivileges[i] && SameText(kPrivileges[i], name)) {
      *luid = LUID{static_cast<DWORD>(i), 0};
      return TRUE;
    }
  }
  SetLastError(ERROR_NO_SUCH_PRIVILEGE);
  return FALSE;
}

BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* newState, DWORD bufferLength,
                           TOKEN_PRIVILEGES* previousState, DWORD* returnLength) {
  if (!IsPlaceholderHandle(token)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!disableAll && !newState) return Invalid();
  DWORD count = newState ? newState->PrivilegeCount : 0;
  DWORD needed = static_cast<DWORD>(sizeof(DWORD) + count * sizeof(LUID_AND_ATTRIBUTES));
  if (previousState) {
    if (bufferLength < needed) {
      if (returnLength) *returnLength = needed;
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    previousState->PrivilegeCount = count;
    for (DWORD i = 0; i < count; ++i) {
      LUID_AND_ATTRIBUTES* dst = &previousState->Privileges[0] + i;
      *dst = LUID_AND_ATTRIBUTES{(&newState->Privileges[0] + i)->Luid, 0};
    }
  }
  if (returnLength) *returnLength = previousState ? needed : 0;
  SetLastError(ERROR_SUCCESS);  // every privilege was assigned
  return TRUE;
}
