// Builds the video graph over arbitrary bytes, then pauses it, seeks in both
// time formats, grabs and runs it a little: it may refuse, never crash or
// hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/io/ie_video_reader.h"
#include "imaging/special/video/direct_show.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  IEVideoPixelLimit = 4096 * 4096;
  const std::string file = qvfuzz::InputFile(data, size, ".avi");
  TIEDirectShow ds;
  ds.SourceFile = file;
  ds.SampleGrabber = true;
  ds.BuildGraph();
  if (!ds.IsGraphBuilt()) return 0;
  ds.PauseGraph();
  ds.SetTimeFormat(1);
  const int64_t frames = ds.GetDuration();
  TIEBitmap bitmap;
  for (int64_t k : {frames - 1, int64_t(0), frames / 2}) {
    ds.SeekTo(k);
    ds.GrabFrame(bitmap, false);
  }
  ds.SetTimeFormat(5);
  ds.SeekTo(ds.GetDuration() / 3);
  ds.GrabFrame(bitmap, true);
  ds.ReleaseGraph();
  return 0;
}
