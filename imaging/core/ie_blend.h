#pragma once
// The blend modes of the library: how one 24-bit pixel laid over another mixes
// with it. The zoomed drawing, the alpha merge and the view's layers call
// BlendPixelByMode for every pixel whose mode is not plain copying; weighting by
// alpha and opacity happens afterwards, on the pixel this produced.
#include <cstdint>

#include "imaging/core/ie_types.h"

enum TIEBlendMode : uint8_t {
  iebmNormal = 0,
  iebmAdd = 1,
  iebmDifference = 2,
  iebmDivide = 3,
  iebmMultiply = 4,
  iebmOr = 5,
  iebmAnd = 6,
  iebmXor = 7,
  iebmLighten = 8,
  iebmDarken = 9,
  iebmAverage = 10,
  iebmScreen = 11,
  iebmNegation = 12,
  iebmExclusion = 13,
  iebmOverlay = 14,
  iebmHardLight = 15,
  iebmSoftLight = 16,
  iebmSoftLightAlt = 17,
  iebmColorDodge = 18,
  iebmColorBurn = 19,
  iebmInverseColorDodge = 20,
  iebmInverseColorBurn = 21,
  iebmSoftDodge = 22,
  iebmSoftBurn = 23,
  iebmReflect = 24,
  iebmGlow = 25,
  iebmFreeze = 26,
  iebmHeat = 27,
  iebmSubtractive = 28,
  iebmInterpolation = 29,
  iebmStamp = 30,
  iebmRedOnly = 31,
  iebmGreenOnly = 32,
  iebmBlueOnly = 33,
  iebmHue = 34,
  iebmSaturation = 35,
  iebmColor = 36,
  iebmLuminosity = 37,
  iebmStereoGray = 38,
  iebmStereoColor = 39,
  iebmStereoDubois = 40,
  iebmStereoEven = 41,
  iebmStereoOdd = 42,
  iebmLuminosityYCbCr = 43,
};
constexpr int kIEBlendModeCount = 44;

// Mixes source into destination by mode; row is the destination row being
// drawn (only the two row-interleaving stereo modes look at it). A mode value
// of 44 or more leaves the destination as it was. The interpolation mode reads
// the library's cosine table, which the library's start-up fills.
void BlendPixelByMode(const TRGB& source, TRGB& destination, TIEBlendMode mode, int row);
