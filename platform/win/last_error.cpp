#include "platform/win/win_types.h"

namespace {
thread_local DWORD gLastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return gLastError; }
void SetLastError(DWORD code) { gLastError = code; }
