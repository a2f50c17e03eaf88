#include "platform/ui/cursors.h"

#include <cstdlib>
#include <cstring>

#include "platform/win/resources.h"
#include "platform/win/system_info.h"
#include "platform/rtl/byte_order.h"

namespace {


const uint8_t* ResourceBytes(HINSTANCE module, const char* name, const char* type, DWORD* size) {
  HRSRC r = FindResource(module, name, type);
  if (!r) return nullptr;
  HGLOBAL g = LoadResource(module, r);
  if (!g) return nullptr;
  *size = SizeofResource(module, r);
  return static_cast<const uint8_t*>(LockResource(g));
}

}  // namespace

HCURSOR LoadCursor(HINSTANCE module, const char* name) {
  if (!module) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  DWORD size = 0;
  const uint8_t* group = ResourceBytes(module, name, RT_GROUP_CURSOR, &size);
  if (!group) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  // The group: reserved, type 2, count, then 14-byte entries (width, height
  // doubled for the mask, planes, bit count, bytes in resource, image id).
  if (size < 6 || ReadLE16(group + 2) != 2) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  int count = ReadLE16(group + 4);
  if (count == 0 || size < 6u + 14u * static_cast<DWORD>(count)) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  int want = GetSystemMetrics(SM_CXCURSOR);
  int best = 0, bestDist = 1 << 30;
  for (int i = 0; i < count; ++i) {
    int w = ReadLE16(group + 6 + 14 * i);
    int d = std::abs(w - want);
    if (d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  WORD id = ReadLE16(group + 6 + 14 * best + 12);
  DWORD imageSize = 0;
  const uint8_t* image = ResourceBytes(module, MAKEINTRESOURCE(id), RT_CURSOR, &imageSize);
  if (!image || imageSize <= 4) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  HCURSOR cursor = CreateIconFromResourceEx(image, imageSize, FALSE, 0x00030000, 0, 0, 0);
  if (!cursor) SetLastError(ERROR_INVALID_DATA);
  return cursor;
}
