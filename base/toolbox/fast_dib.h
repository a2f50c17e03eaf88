#pragma once
// Light bitmaps that keep their pixels in a device-independent section with a
// table of row addresses: TFastBMP with 24-bit rows and TFast256 with 8-bit rows
// and a 256-entry colour table. The icon side reduces pictures to 8 bits through
// them: BMP stream in, median cut, BMP stream out.
#include <cstdint>
#include <vector>

#include "platform/graphics/dib_types.h"
#include "platform/graphics/gdi.h"
#include "platform/rtl/object.h"
#include "platform/rtl/streams.h"

class TFastRGB : public TObject {
public:
  ~TFastRGB() override;
  virtual void SetSize(int width, int height);

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int RowGap() const { return FGap; }
  int Stride() const { return FStride; }
  int ImageSize() const { return FSize; }
  uint8_t* Bits() const { return FBits; }
  HDC DC() const { return FDC; }
  // Row i in memory order (row 0 is the bottom row of the picture).
  uint8_t* Row(int i) const { return FBits + static_cast<ptrdiff_t>(i) * FStride; }

protected:
  explicit TFastRGB(int bitCount);
  // The header and the colour table behind it, as the section is made from them.
  struct TInfo {
    BITMAPINFOHEADER Header;
    RGBQUAD Colors[256];
  } FInfo;

  int FGap = 0, FStride = 0, FSize = 0, FWidth = 0, FHeight = 0;
  uint8_t* FBits = nullptr;
  HDC FDC = nullptr;
  HBITMAP FSection = nullptr;
};

class TFastBMP : public TFastRGB {
public:
  TFastBMP() : TFastRGB(24) {}
  // Reads any BMP into 24-bit rows. Returns false (leaving the picture empty)
  // for a stream that is no usable BMP.
  bool LoadFromBmpStream(TStream& stream);
};

class TFast256 : public TFastRGB {
public:
  TFast256() : TFastRGB(8) {}
  void SetSize(int width, int height) override;
  RGBQUAD* Colors() { return FInfo.Colors; }

  // Pictures deeper than 8 bits are quantised with the mode and colour count;
  // others keep their own palette. False for a stream that is no usable BMP.
  bool LoadFromBmpStream(TStream& stream, int mode, int colourCount);
  void SaveToBmpStream(TStream& stream);
  void LoadGrayFromFastBMP(TFastBMP& source);
  void Quantize(TFastBMP& source, int mode, int colourCount);

private:
  void ApplyColorTable();
};
