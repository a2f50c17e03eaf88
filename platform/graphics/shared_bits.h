#pragma once
// Pixel rows that a picture and the bitmap it was assigned to hold together,
// instead of each keeping a copy. A block is zeroed when it is made (calloc:
// pages that are never written cost nothing) and freed when its last holder
// lets go. A holder that is about to change the rows while another still
// holds them takes a copy of its own first, so that what one side does is
// never seen by the other.
#include <cstddef>
#include <cstdint>
#include <memory>

using TSharedBits = std::shared_ptr<uint8_t[]>;

// A zeroed block of size bytes; null when the memory cannot be had.
TSharedBits NewSharedBits(size_t size);
// A new block holding the first size bytes of bits; null when the memory
// cannot be had.
TSharedBits CopySharedBits(const TSharedBits& bits, size_t size);
// True when a holder other than this reference has the block too.
inline bool SharedWithOthers(const TSharedBits& bits) { return bits && bits.use_count() > 1; }
