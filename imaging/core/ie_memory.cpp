#include "imaging/core/ie_memory.h"

#include <cstdlib>
#include <cstring>

#include "platform/win/kernel_files.h"
#include "platform/win/system_info.h"

std::function<bool(int64_t size)> IEAllocationFaultHook;

bool IEAllocationRefused(int64_t size) { return IEAllocationFaultHook && IEAllocationFaultHook(size); }

namespace {

constexpr int64_t kLargeThreshold = 1048576;
// Room for the block's length and its tag in front of the aligned address.
constexpr int64_t kHeader = kIEBlockAlignment;
// No single block may exceed what a 64-bit address space can map sensibly.
constexpr int64_t kMaxBlock = int64_t(1) << 46;

struct BlockHeader {
  int64_t mappedLength;  // the whole mapping for system blocks, 0 for heap blocks
};

}  // namespace

void* AllocLargeBlock(int64_t size) {
  if (size < 0 || size > kMaxBlock || IEAllocationRefused(size)) return nullptr;
  uint8_t* raw = nullptr;
  uint8_t tag = 0;
  if (size < kLargeThreshold) {
    raw = static_cast<uint8_t*>(std::aligned_alloc(kIEBlockAlignment, static_cast<size_t>(kHeader + size + kIEBlockAlignment - 1) / kIEBlockAlignment * kIEBlockAlignment));
    if (raw) reinterpret_cast<BlockHeader*>(raw)->mappedLength = 0;
  }
  if (!raw) {
    // Large blocks come straight from the system: zeroed, page aligned, and
    // handed back whole when freed.
    const int64_t length = kHeader + size;
    void* p = VirtualAlloc(nullptr, static_cast<SIZE_T>(length), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!p) return nullptr;
    raw = static_cast<uint8_t*>(p);
    reinterpret_cast<BlockHeader*>(raw)->mappedLength = length;
    tag = 1;
  }
  raw[kHeader - 1] = tag;
  return raw + kHeader;
}

void FreeLargeBlock(void*& address) {
  if (!address) return;
  uint8_t* raw = static_cast<uint8_t*>(address) - kHeader;
  if (raw[kHeader - 1] != 0)
    VirtualFree(raw, 0, MEM_RELEASE);
  else
    std::free(raw);
  address = nullptr;
}

void* GlobalAllocZeroed(int64_t size) {
  if (size < 0 || size > kMaxBlock || IEAllocationRefused(size)) return nullptr;
  return std::calloc(1, static_cast<size_t>(size > 0 ? size : 1));
}

void GlobalFreeAndNil(void*& block) {
  std::free(block);
  block = nullptr;
}

int64_t GetPhysicalMemory(bool available) {
  MEMORYSTATUSEX ex{};
  ex.dwLength = sizeof ex;
  if (GlobalMemoryStatusEx(&ex)) return static_cast<int64_t>(available ? ex.ullAvailPhys : ex.ullTotalPhys);
  MEMORYSTATUS st{};
  st.dwLength = sizeof st;
  GlobalMemoryStatus(&st);
  return available ? st.dwAvailPhys : st.dwTotalPhys;
}
