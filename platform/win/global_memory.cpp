#include "platform/win/global_memory.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace {

constexpr SIZE_T kMaxBlock = 0x7FFFFFFF;

struct TBlock {
  uint8_t* Data = nullptr;
  SIZE_T Size = 0;
  UINT Flags = 0;
  int LockCount = 0;
  bool ClipboardOwned = false;
};

std::mutex gLock;
std::map<uintptr_t, TBlock> gBlocks;
uintptr_t gNextMoveable = 0x10000;

TBlock* Find(HGLOBAL mem) {
  auto it = gBlocks.find(reinterpret_cast<uintptr_t>(mem));
  return it == gBlocks.end() ? nullptr : &it->second;
}

bool Moveable(const TBlock& b) { return (b.Flags & GMEM_MOVEABLE) != 0; }

void Release(HGLOBAL mem) {
  auto it = gBlocks.find(reinterpret_cast<uintptr_t>(mem));
  if (it == gBlocks.end()) return;
  std::free(it->second.Data);
  gBlocks.erase(it);
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (bytes > kMaxBlock) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // One byte at least, so that every fixed block has an address of its own.
  void* data = (flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  if (!data) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(gLock);
  TBlock block{static_cast<uint8_t*>(data), bytes, flags, 0, false};
  uintptr_t handle = reinterpret_cast<uintptr_t>(data);
  if (flags & GMEM_MOVEABLE) {
    handle = gNextMoveable;
    gNextMoveable += 8;
  }
  gBlocks[handle] = block;
  return reinterpret_cast<HGLOBAL>(handle);
}

HGLOBAL GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags) {
  std::lock_guard<std::mutex> lock(gLock);
  TBlock* b = Find(mem);
  // A block on the clipboard is the clipboard's; resizing it would pull it from
  // under the clipboard's handle.
  if (!b || b->ClipboardOwned) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (flags & GMEM_MODIFY) return mem;
  if (bytes > kMaxBlock || (!Moveable(*b) && bytes > b->Size && !(flags & GMEM_MOVEABLE))) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* data = std::realloc(b->Data, bytes ? bytes : 1);
  if (!data) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if ((flags & GMEM_ZEROINIT) && bytes > b->Size) std::memset(static_cast<uint8_t*>(data) + b->Size, 0, bytes - b->Size);
  b->Data = static_cast<uint8_t*>(data);
  b->Size = bytes;
  if (Moveable(*b)) return mem;
  TBlock moved = *b;
  gBlocks.erase(reinterpret_cast<uintptr_t>(mem));
  gBlocks[reinterpret_cast<uintptr_t>(data)] = moved;
  return reinterpret_cast<HGLOBAL>(data);
}

LPVOID GlobalLock(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(gLock);
  TBlock* b = Find(mem);
  if (!b) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!Moveable(*b)) return b->Data;
  if (b->Size == 0) return nullptr;  // an empty moveable block has no address
  ++b->LockCount;
  return b->Data;
}

BOOL GlobalUnlock(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(gLock);
  TBlock* b = Find(mem);
  if (!b) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (b->LockCount == 0) {
    SetLastError(ERROR_NOT_LOCKED);
    return FALSE;
  }
  if (--b->LockCount > 0) return TRUE;
  SetLastError(ERROR_SUCCESS);
  return FALSE;
}

SIZE_T GlobalSize(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(gLock);
  TBlock* b = Find(mem);
  if (!b) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return b->Size;
}

HGLOBAL GlobalFree(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(gLock);
  TBlock* b = Find(mem);
  if (!b || b->ClipboardOwned) {
    SetLastError(ERROR_INVALID_HANDLE);
    return mem;
  }
  Release(mem);
  return nullptr;
}

size_t GlobalBlockCount() {
  std::lock_guard<std::mutex> lock(gLock);
  return gBlocks.size();
}

bool IsGlobalBlock(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(gLock);
  return Find(mem) != nullptr;
}

void SetGlobalBlockOwnedByClipboard(HGLOBAL mem, bool owned) {
  std::lock_guard<std::mutex> lock(gLock);
  if (TBlock* b = Find(mem)) b->ClipboardOwned = owned;
}

void FreeClipboardOwnedBlock(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(gLock);
  Release(mem);
}

BOOL IsBadStringPtr(const char* text, UINT_PTR maxLength) {
  if (maxLength == 0) return FALSE;  // nothing to read
  return (!text || IS_INTRESOURCE(text)) ? TRUE : FALSE;
}
