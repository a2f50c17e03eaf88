#include "platform/rtl/random.h"

#include <chrono>

uint32_t RandSeed = 0;

namespace {
uint32_t NextSeed() {
  RandSeed = RandSeed * 0x08088405u + 1u;
  return RandSeed;
}
}  // namespace

int32_t Random(int32_t range) {
  // The generator steps also for an empty range, as the framework's does.
  const uint32_t seed = NextSeed();
  if (range <= 0) return 0;
  return static_cast<int32_t>((static_cast<uint64_t>(seed) * static_cast<uint32_t>(range)) >> 32);
}

double Random() { return NextSeed() / 4294967296.0; }

void Randomize() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  RandSeed = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
