#include "platform/graphics/shared_bits.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

TSharedBits Adopt(void* block) {
  if (!block) return nullptr;
  try {
    return TSharedBits(static_cast<uint8_t*>(block), [](uint8_t* p) { std::free(p); });
  } catch (const std::bad_alloc&) {
    // The pointer's constructor has already freed the block.
    return nullptr;
  }
}

}  // namespace

TSharedBits NewSharedBits(size_t size) { return Adopt(std::calloc(size == 0 ? 1 : size, 1)); }

TSharedBits CopySharedBits(const TSharedBits& bits, size_t size) {
  // Every byte is written next, so the copy needs no zeroing.
  TSharedBits copy = Adopt(std::malloc(size == 0 ? 1 : size));
  if (copy && bits && size) std::memcpy(copy.get(), bits.get(), size);
  return copy;
}
