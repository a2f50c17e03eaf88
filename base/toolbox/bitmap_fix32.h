#pragma once
// TBitmapFix32, the framework bitmap that keeps the alpha of 32-bit BMP files
// in and out, and THiResIcon, the icon that reports and draws the true pixel
// size of its handle.
#include "platform/graphics/graphics.h"

class TBitmapFix32 : public TBitmap {
public:
  // Reads a BMP whose pixels may be followed by other data: the picture takes
  // exactly its own bytes and the stream is left behind its declared pixels.
  // Raises EInvalidGraphic "Bitmap image is not valid" for a stream without "BM".
  void LoadFromStream(TStream& stream) override;
  // pf32bit: a 54-byte header and the rows bottom-up with their alpha.
  void SaveToStream(TStream& stream) override;
};

class THiResIcon : public TIcon {
public:
  THiResIcon();
  void Draw(TCanvas* canvas, const TRect& rect) override;
  int GetWidth() override;
  int GetHeight() override;
  virtual void UpdateTrueSize();

protected:
  void Changed(TObject* sender) override;

private:
  int32_t FTrueWidth;
  int32_t FTrueHeight;
  bool FReadSize = false;
};

// The 24-bit bitmap the program draws icons through into image lists.
TBitmap* SharedDrawBitmap();
// Start-up: "BMP" and CF_BITMAP are opened by TBitmapFix32.
void RegisterBitmapFix32();
