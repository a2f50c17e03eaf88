#pragma once
// The step procedures of the effect table: the blit-drawn ones (expands,
// slides, wipes, unrolls, build-ups, corners, quarters, pushes, squeezes,
// twists) and the ones that copy the end picture through a clip region.
#include "imaging/extras/transitions/transition_types.h"

// The reached width and height of the frame (wp, hp) at a percent, kept in
// the frame's proportions by working through its longer side. An empty frame
// reaches 0; the reach never leaves 0..W and 0..H.
void ScaleProgress(const TRect& rect, int percent, int& W, int& H, int& wp, int& hp);

// One frame of the given type; nothing for a type that is not theirs.
void BlitStep(int type, TCanvas* canvas, TBitmap* start, TBitmap* end, const TRect& rect, int step, int percent);
void ClippedStep(int type, TCanvas* canvas, TBitmap* start, TBitmap* end, const TRect& rect, int step, int percent);
// Whether BlitStep paints the type (else ClippedStep does, for table types).
constexpr bool IsBlitStepType(int t) {
  return (t >= 31 && t <= 76) || (t >= 151 && t <= 158) || (t >= 223 && t <= 226);
}
