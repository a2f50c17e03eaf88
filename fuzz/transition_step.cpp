// Starts and paints any transition type on frames up to 64 x 64 with any
// steps, pan-zoom rectangles and source size: every frame must stay inside
// its pictures (no read or write out of bounds), whatever the numbers.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/extras/transitions/transition_engine.h"

namespace {

struct TReader {
  const uint8_t* Data;
  size_t Size;
  size_t Pos = 0;
  uint8_t Next() { return Pos < Size ? Data[Pos++] : 0; }
  int Signed16() { return int(int16_t(uint16_t(Next()) | uint16_t(Next() << 8))); }
};

std::unique_ptr<TBitmap> Picture(TReader& in, int w, int h) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(w, h);
  const uint8_t seed = in.Next();
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint8_t*>(b->ScanLine(y));
    for (int i = 0; i < w * 3; ++i) row[i] = uint8_t(seed + i * 7 + y * 13);
  }
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TReader in{data, size};
  const int w = in.Next() % 65, h = in.Next() % 65;
  TIETransitionEffects engine(nullptr);
  auto start = Picture(in, w > 0 ? w : 1, h > 0 ? h : 1);
  auto end = Picture(in, w > 0 ? w : 1, h > 0 ? h : 1);
  engine.Prepare(start.get(), end.get(), w, h);
  engine.Transition = TIETransitionType(in.Next() % kTransitionTypeCount);
  engine.BackgroundColor = TColor(in.Next() * 0x010101);
  TIEBitmap source(in.Next() % 70, in.Next() % 70, ie24RGB);
  engine.PanZoomSource = &source;
  engine.PanZoomStartRect = TRect{in.Signed16(), in.Signed16(), in.Signed16(), in.Signed16()};
  engine.PanZoomEndRect = TRect{in.Signed16(), in.Signed16(), in.Signed16(), in.Signed16()};
  engine.FirstStep = true;
  const int frames = 1 + in.Next() % 8;
  for (int i = 0; i < frames; ++i) {
    engine.CurrentStep = in.Signed16();
    engine.PaintStep(nullptr);
    engine.FirstStep = false;
  }
  return 0;
}
