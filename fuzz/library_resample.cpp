// Drives ResampleIEBitmap with arbitrary sizes up to 64 x 64, every source and
// destination format, every filter value (and some past the last), with and
// without alpha, any worker count and the source in memory or in a temporary
// file: it must fill the destination without reading or writing out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/core/ie_resample.h"
#include "imaging/core/ie_thread_pool.h"

namespace {

struct TReader {
  const uint8_t* Data;
  size_t Size;
  size_t Pos = 0;
  uint8_t Next() { return Pos < Size ? Data[Pos++] : 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TReader in{data, size};
  const int sw = in.Next() % 65, sh = in.Next() % 65, dw = in.Next() % 65, dh = in.Next() % 65;
  const auto sourceFormat = TIEBitmapFormat(in.Next() % kIEFormatCount);
  const auto destinationFormat = TIEBitmapFormat(in.Next() % kIEFormatCount);
  const auto filter = TResampleFilter(in.Next() % 16);
  const uint8_t flags = in.Next();
  IEWorkerCountOverride = 1 + (flags >> 4) % 4;
  TIEBitmap source;
  source.SetMemoryLimit((flags & 2) ? 0 : INT64_MAX / 2);
  source.Allocate(sw, sh, sourceFormat);
  if (!source.IsEmpty()) {
    for (int y = 0; y < sh; ++y) {
      uint8_t* row = source.ScanLine(y);
      for (int64_t i = 0; i < source.RowLen(); ++i) row[i] = in.Next();
    }
    // Float samples must be numbers for the conversions to mean anything.
    if (sourceFormat == ie32f)
      for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) source.SetPixelFloat(x, y, float(source.GetPixel8(x, y)) / 255.0f);
    if (sourceFormat == ie8p)
      for (int i = 0; i < 256; ++i) source.SetPaletteColor(i, MakeRGB(in.Next(), in.Next(), in.Next()));
    if (flags & 1) {
      TIEBitmap* alpha = source.AlphaChannel();
      for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) alpha->SetPixel8(x, y, in.Next());
      alpha->SetFull(false);
    }
  }
  TIEBitmap destination;
  destination.Allocate(dw, dh, destinationFormat);
  ResampleIEBitmap(&source, &destination, filter);
  IEWorkerCountOverride = 0;
  return 0;
}
