#include "imaging/core/ie_colorspace.h"

#include <algorithm>
#include <cmath>

namespace {

double Linearise(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double LabF(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; }
double LabInverse(double f) {
  const double f3 = f * f * f;
  return f3 > 0.008856 ? f3 : (f - 0.13793103448) / 7.787;
}
double Compand(double v) { return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }
uint8_t ByteOf(double v) {
  const double x = std::nearbyint(v * 255);
  return static_cast<uint8_t>(x < 0 ? 0 : (x > 255 ? 255 : x));
}
uint8_t Clamp255(double v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

uint32_t ConvertRGBToCIELab(uint32_t packedRGB) {
  const double r = Linearise(((packedRGB >> 16) & 0xFF) / 255.0);
  const double g = Linearise(((packedRGB >> 8) & 0xFF) / 255.0);
  const double b = Linearise((packedRGB & 0xFF) / 255.0);
  const double y = 0.212671 * r + 0.71516 * g + 0.072169 * b;
  const double x = (0.412453 * r + 0.35758 * g + 0.180423 * b) / 0.95047;
  // D65 white (0.95047, 1, 1.08883) both ways, so a colour survives the round trip.
  const double z = (0.019334 * r + 0.119193 * g + 0.950227 * b) / 1.08883;
  const double fx = LabF(x), fy = LabF(y), fz = LabF(z);
  const double l = y > 0.008856 ? 116 * fy - 16 : 903.3 * y;
  // Values outside a field are cut into it, not clamped.
  const auto lByte = static_cast<uint32_t>(static_cast<int64_t>(std::trunc(l * 2.55)) & 0xFF);
  const auto aByte = static_cast<uint32_t>(static_cast<int64_t>(std::trunc((fx - fy) * 500)) & 0xFF);
  const auto bByte = static_cast<uint32_t>(static_cast<int64_t>(std::trunc((fy - fz) * 200)) & 0xFF);
  return lByte | (aByte << 8) | (bByte << 16);
}

TRGB ConvertCIELabToRGB(uint8_t l, int8_t a, int8_t b) {
  const double fy = (l * 0.39215686275 + 16) / 116;
  const double fx = fy + a / 500.0;
  const double fz = fy - b / 200.0;
  const double y = LabInverse(fy);
  const double x = LabInverse(fx) * 0.95047;
  const double z = LabInverse(fz) * 1.08883;
  const double r = 3.2406 * x - 1.5372 * y - 0.4986 * z;
  const double g = -0.9689 * x + 1.8758 * y + 0.0415 * z;
  const double bl = 0.0557 * x - 0.204 * y + 1.057 * z;
  return TRGB{ByteOf(Compand(bl)), ByteOf(Compand(g)), ByteOf(Compand(r))};
}

TCMYK RGBToCMYKPlain(TRGB p) {
  const int m = std::max({p.r, p.g, p.b});
  if (m == 0) return TCMYK{255, 255, 255, 0};
  return TCMYK{static_cast<uint8_t>(p.r * 255 / m), static_cast<uint8_t>(p.g * 255 / m),
               static_cast<uint8_t>(p.b * 255 / m), static_cast<uint8_t>(m)};
}

void RGBToYCbCr(uint8_t& y, uint8_t& cb, uint8_t& cr, TRGB pixel) {
  const double r = pixel.r, g = pixel.g, b = pixel.b;
  y = Clamp255(std::trunc(0.299 * r + 0.587 * g + 0.114 * b));
  cb = Clamp255(std::trunc(-0.16874 * r - 0.33126 * g + 0.5 * b + 128));
  cr = Clamp255(std::trunc(0.5 * r - 0.41869 * g - 0.08131 * b + 128));
}

void YCbCrToRGB(TRGB& pixel, uint8_t y, uint8_t cb, uint8_t cr) {
  pixel.r = Clamp255(std::trunc(y + 1.402 * (cr - 128)));
  pixel.g = Clamp255(std::trunc(y - 0.34414 * (cb - 128) - 0.71414 * (cr - 128)));
  pixel.b = Clamp255(std::trunc(y + 1.772 * (cb - 128)));
}
