#include "imaging/core/ie_blend.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "imaging/core/ie_colorspace.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_startup.h"
#include "platform/rtl/rounding.h"

namespace {

inline int Clamp(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

int ColorDodge(int s, int d) { return s == 255 ? 255 : std::min(255, (d * 256) / (255 - s)); }
int ColorBurn(int s, int d) { return s == 0 ? 0 : std::max(0, 255 - ((255 - d) << 8) / s); }
int SoftDodge(int s, int d) {
  if (s + d < 256) return s == 255 ? 255 : std::min(255, (d * 128) / (255 - s));
  return std::max(0, 255 - ((255 - s) << 7) / d);
}
int Reflect(int s, int d) { return s == 255 ? 255 : std::min(255, (d * d) / (255 - s)); }
int Freeze(int s, int d) { return s == 0 ? 0 : std::max(0, 255 - ((255 - d) * (255 - d)) / s); }

int SoftLight(int s, int d) {
  const double a = s / 255.0, b = d / 255.0;
  const double v = a >= 0.5 ? std::sqrt(b) * (2 * a - 1) + 2 * b * (1 - a) : b * b * (1 - 2 * a) + 2 * a * b;
  return Clamp(static_cast<int>(std::trunc(v * 255)));
}

// One channel of the modes that treat red, green and blue alike; the result
// is what a byte keeps of it.
int Channel(int s, int d, TIEBlendMode mode) {
  switch (mode) {
    case iebmNormal: return s;
    case iebmAdd: return std::min(255, d + s);
    case iebmDifference: return std::abs(d - s);
    case iebmDivide: return d / std::max(1, s);
    case iebmMultiply: return (s * d) >> 8;
    case iebmOr: return d | s;
    case iebmAnd: return d & s;
    case iebmXor: return d ^ s;
    case iebmLighten: return std::max(d, s);
    case iebmDarken: return std::min(d, s);
    case iebmAverage: return (d + s) >> 1;
    case iebmScreen: return static_cast<int>(std::trunc(255 - (255 - d) * (255 - s) / 255.0));
    case iebmNegation: return 255 - std::abs(255 - s - d);
    case iebmExclusion: return (d + s - (s * d) / 128) & 0xFF;
    case iebmOverlay: return d < 128 ? (s * d) >> 7 : 255 - (((255 - s) * (255 - d)) >> 7);
    case iebmHardLight: return s < 128 ? (s * d) >> 7 : 255 - (((255 - s) * (255 - d)) >> 7);
    case iebmSoftLight: return SoftLight(s, d);
    case iebmSoftLightAlt: {
      const int c = 255 - (((255 - d) * (255 - s)) >> 8) - ((s * d) >> 8);
      return (((s * d) >> 8) + ((d * c) >> 8)) & 0xFF;
    }
    case iebmColorDodge: return ColorDodge(s, d);
    case iebmColorBurn: return ColorBurn(s, d);
    case iebmInverseColorDodge: return ColorDodge(d, s);
    case iebmInverseColorBurn: return ColorBurn(d, s);
    case iebmSoftDodge: return SoftDodge(s, d);
    case iebmSoftBurn: return SoftDodge(d, s);
    case iebmReflect: return Reflect(s, d);
    case iebmGlow: return Reflect(d, s);
    case iebmFreeze: return Freeze(s, d);
    case iebmHeat: return Freeze(d, s);
    case iebmSubtractive: return Clamp(d + s - 256);
    case iebmInterpolation: return std::min(255, InterpolationTable[s] + InterpolationTable[d]);
    case iebmStamp: return Clamp(d + 2 * s - 256);
    default: return d;
  }
}

uint32_t Packed(const TRGB& p) { return (uint32_t(p.r) << 16) | (uint32_t(p.g) << 8) | p.b; }

void BlendHSL(const TRGB& source, TRGB& destination, TIEBlendMode mode) {
  double sh, ss, sl, dh, ds, dl;
  RGBToHSL(Packed(source), sh, ss, sl);
  RGBToHSL(Packed(destination), dh, ds, dl);
  switch (mode) {
    case iebmHue: dh = sh; break;
    case iebmSaturation: ds = ss; break;
    case iebmColor: dh = sh; ds = ss; break;
    default: dl = sl; break;  // iebmLuminosity
  }
  destination = HSLToRGB(dh, ds, dl);
}

int Gray(const TRGB& p) {
  return (p.r * IEGrayWeightRed + p.g * IEGrayWeightGreen + p.b * IEGrayWeightBlue) / 100;
}

uint8_t RoundedByte(double v) { return static_cast<uint8_t>(Clamp(static_cast<int>(Round(v)))); }

// Red-cyan anaglyph: the destination is the left eye, the source the right.
void BlendDubois(const TRGB& s, TRGB& d) {
  const double dR = d.r, dG = d.g, dB = d.b, sR = s.r, sG = s.g, sB = s.b;
  const double r = 0.4561 * dR + 0.500484 * dG + 0.176381 * dB - 0.0434706 * sR - 0.0879388 * sG - 0.00155529 * sB;
  const double g = -0.0400822 * dR - 0.0378246 * dG - 0.0157589 * dB + 0.378476 * sR + 0.73364 * sG - 0.0184503 * sB;
  const double b = -0.0152161 * dR - 0.0205971 * dG - 0.00546856 * dB - 0.0721527 * sR - 0.112961 * sG + 1.2264 * sB;
  d.r = RoundedByte(r);
  d.g = RoundedByte(g);
  d.b = RoundedByte(b);
}

}  // namespace

void BlendPixelByMode(const TRGB& source, TRGB& destination, TIEBlendMode mode, int row) {
  if (mode <= iebmStamp) {
    destination.r = static_cast<uint8_t>(Channel(source.r, destination.r, mode));
    destination.g = static_cast<uint8_t>(Channel(source.g, destination.g, mode));
    destination.b = static_cast<uint8_t>(Channel(source.b, destination.b, mode));
    return;
  }
  switch (mode) {
    case iebmRedOnly: destination.r = source.r; break;
    case iebmGreenOnly: destination.g = source.g; break;
    case iebmBlueOnly: destination.b = source.b; break;
    case iebmHue:
    case iebmSaturation:
    case iebmColor:
    case iebmLuminosity: BlendHSL(source, destination, mode); break;
    case iebmStereoGray: {
      const uint8_t right = static_cast<uint8_t>(Gray(source));
      destination.r = static_cast<uint8_t>(Gray(destination));
      destination.g = right;
      destination.b = right;
      break;
    }
    case iebmStereoColor:
      destination.g = source.g;
      destination.b = source.b;
      break;
    case iebmStereoDubois: BlendDubois(source, destination); break;
    case iebmStereoEven:
      if ((row & 1) == 0) destination = source;
      break;
    case iebmStereoOdd:
      if ((row & 1) != 0) destination = source;
      break;
    case iebmLuminosityYCbCr: {
      uint8_t sy, scb, scr, dy, dcb, dcr;
      RGBToYCbCr(sy, scb, scr, source);
      RGBToYCbCr(dy, dcb, dcr, destination);
      YCbCrToRGB(destination, sy, dcb, dcr);
      break;
    }
    default: break;
  }
}
