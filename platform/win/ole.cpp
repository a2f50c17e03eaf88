#include "platform/win/ole.h"

namespace {
thread_local int tOleCount = 0;
}

HRESULT OleInitialize(void* reserved) {
  if (reserved != nullptr) return E_UNEXPECTED;
  return tOleCount++ == 0 ? S_OK : S_FALSE;
}

void OleUninitialize() {
  if (tOleCount > 0) --tOleCount;
}

int OleInitCount() { return tOleCount; }
