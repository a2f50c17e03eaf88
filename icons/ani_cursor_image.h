#pragma once
// TAniCursorImage: an animated cursor opened as a picture. Loading reads the
// cursor and turns every step into a GIF frame with the step's delay, so the
// GIF painter shows the animation; saving writes the GIF.
#include <cstdint>

#include "icons/animated_cursor.h"
#include "pictures/gif/gif_image.h"

class TAniCursorImage : public TGIFImage {
public:
  TAniCursorImage();
  // Raises "Invalid stream format" for data that is no animated cursor; the
  // frames are replaced only once the cursor was read.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override { TGIFImage::SaveToStream(stream); }

  // The frames of the cursor's steps composited on the background colour, or
  // kept transparent when the background is 0x1FFFFFFF.
  void BuildFrames(TAnimatedCursor& cursor, TColor background);
  int AddStepFrame(TBitmap* colour, TBitmap* mask);
  int AddOpaqueFrame(TBitmap* bitmap);

  int StepCount() const { return FStepCount; }
  int Depth() const { return FDepth; }
  TColor Background() const { return FBackground; }
  void SetBackground(TColor value) { FBackground = value; }

private:
  int FStepCount = 0;
  int FDepth = 0;
  TColor FBackground = clBtnFace;
};

// The picture registry's "ANI" entry ("Animated cursor"); made at start and
// removed again at shutdown.
void RegisterAniCursorImage();
void UnregisterAniCursorImage();
