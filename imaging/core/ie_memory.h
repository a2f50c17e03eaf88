#pragma once
// Memory blocks for pixels: large blocks aligned for every pixel type, zeroed
// blocks, and the physical-memory probe that sets the bitmaps' memory limit.
#include <cstdint>
#include <functional>

// Alignment of every block AllocLargeBlock returns: enough for any pixel type
// and for vector loads over whole rows.
constexpr int64_t kIEBlockAlignment = 64;

// A block of size bytes: below 1 MB from the heap, 1 MB or more zeroed from the
// system. The byte before the returned address tags how it was had (0 heap,
// 1 system). Nil when it cannot be had or the size is out of range.
void* AllocLargeBlock(int64_t size);
// Frees a block of AllocLargeBlock and sets the address to nil; nil is ignored.
void FreeLargeBlock(void*& address);

// A zeroed block of size bytes from the system, nil when it cannot be had;
// freed by GlobalFreeAndNil.
void* GlobalAllocZeroed(int64_t size);
void GlobalFreeAndNil(void*& block);

// Total (or, when asked, available) physical memory in bytes; 0 when unknown.
int64_t GetPhysicalMemory(bool available);

// Tests make allocations fail on purpose: when set and returning true for a
// size, the pixel allocators of the library treat that request as failed.
extern std::function<bool(int64_t size)> IEAllocationFaultHook;
bool IEAllocationRefused(int64_t size);
