#include "pictures/common/lab_colour.h"

#include <algorithm>

#include "platform/rtl/rounding.h"

namespace {
uint8_t ToByte(double v) { return static_cast<uint8_t>(std::clamp<int64_t>(Round(v * 255.0), 0, 255)); }
}  // namespace

void LabToBgr(double L, double a, double b, uint8_t* bgr) {
  double x, y, z;
  // Below the knee of the curve the cube root is replaced by a straight line,
  // as CIE defines it.
  if (L < 7.9996) {
    y = L / 903.3;
    x = y + a / 3893.5;
    z = y - b / 1557.4;
  } else {
    const double fy = (L + 16.0) / 116.0;
    const double fx = fy + a / 500.0, fz = fy - b / 200.0;
    x = fx * fx * fx;
    y = fy * fy * fy;
    z = fz * fz * fz;
  }
  bgr[0] = ToByte(0.099 * x - 0.198 * y + 1.099 * z);
  bgr[1] = ToByte(-0.952 * x + 1.893 * y + 0.059 * z);
  bgr[2] = ToByte(2.998 * x - 1.458 * y - 0.541 * z);
}
