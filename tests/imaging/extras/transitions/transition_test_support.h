#pragma once
// Pictures and a prepared engine for the transition tests.
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/extras/transitions/transition_engine.h"
#include "platform/graphics/graphics_bitmap.h"

namespace transitiontest {

// A 24-bit picture whose pixel (x, y), bytes blue, green, red, the function sets.
template <class F>
std::unique_ptr<TBitmap> PaintedPicture(int w, int h, F&& pixel) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint8_t*>(b->ScanLine(y));
    for (int x = 0; x < w; ++x) pixel(x, y, row + 3 * x);
  }
  return b;
}

// A 24-bit picture of random colours (a fixed sequence per seed).
inline std::unique_ptr<TBitmap> RandomPicture(int w, int h, uint32_t seed) {
  return PaintedPicture(w, h, [&seed](int, int, uint8_t* p) {
    for (int i = 0; i < 3; ++i) {
      seed = seed * 1664525u + 1013904223u;
      p[i] = uint8_t(seed >> 24);
    }
  });
}

// The frame's pixels, rows top-down, 3 bytes a pixel (B, G, R).
inline std::vector<uint8_t> Pixels(TBitmap* b) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b->GetHeight(); ++y) {
    auto* row = static_cast<const uint8_t*>(b->ScanLine(y));
    out.insert(out.end(), row, row + size_t(b->GetWidth()) * 3);
  }
  return out;
}

// The frame of the type at a step, painted right after the first frame (which
// shows the start picture), as the second tick of a transition paints it.
inline std::vector<uint8_t> FrameAt(TIETransitionEffects& e, TIETransitionType type, int step) {
  e.Transition = type;
  e.PreviousCount = 0;
  e.CurrentStep = 0;
  e.FirstStep = true;
  e.PaintStep(nullptr);
  e.FirstStep = false;
  e.CurrentStep = step;
  e.PaintStep(nullptr);
  return Pixels(e.FrameImage());
}

}  // namespace transitiontest
