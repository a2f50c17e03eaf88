// Opens arbitrary bytes as a video file, counts its frames and reads three of
// them (first, middle, last, out of order): it may refuse, never crash, hang
// or allocate without bound.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/special/video/video_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  IEVideoPixelLimit = 4096 * 4096;
  static bool quiet = [] {
    RegisterVideoFrameReader();
    return true;
  }();
  (void)quiet;
  const std::string file = qvfuzz::InputFile(data, size, ".avi");
  std::string why;
  auto reader = OpenVideoFrameReader(file, why);
  if (reader == nullptr) return 0;
  const int64_t count = reader->Info().FrameCount;
  TIEBitmap bitmap;
  for (int64_t k : {count - 1, int64_t(0), count / 2}) reader->ReadFrame(k, bitmap, why);
  return 0;
}
