#include "base/toolbox/shadow_core.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "base/toolbox/blend.h"
#include "platform/rtl/rounding.h"

namespace {

// Hand-tuned kernels of the small radii, rows dx = -r..r, columns dy = -r..r.
constexpr int kKernel1[3][3] = {{0, 63, 0}, {63, 95, 63}, {0, 63, 0}};
constexpr int kKernel2[3][3] = {{15, 31, 15}, {31, 63, 31}, {15, 31, 15}};
constexpr int kKernel3[5][5] = {
    {3, 6, 9, 6, 3}, {6, 12, 18, 12, 6}, {9, 18, 28, 18, 9}, {6, 12, 18, 12, 6}, {3, 6, 9, 6, 3}};
constexpr int kKernel4[7][7] = {{0, 1, 2, 3, 2, 1, 0}, {1, 3, 5, 7, 5, 3, 1},     {2, 5, 8, 11, 8, 5, 2},
                                {3, 7, 11, 15, 11, 7, 3}, {2, 5, 8, 11, 8, 5, 2}, {1, 3, 5, 7, 5, 3, 1},
                                {0, 1, 2, 3, 2, 1, 0}};
constexpr int kKernel5[9][9] = {
    {0, 0, 1, 1, 2, 1, 1, 0, 0}, {0, 1, 2, 3, 4, 3, 2, 1, 0}, {1, 2, 3, 4, 6, 4, 3, 2, 1},
    {1, 3, 4, 6, 8, 6, 4, 3, 1}, {2, 4, 6, 8, 10, 8, 6, 4, 2}, {1, 3, 4, 6, 8, 6, 4, 3, 1},
    {1, 2, 3, 4, 6, 4, 3, 2, 1}, {0, 1, 2, 3, 4, 3, 2, 1, 0}, {0, 0, 1, 1, 2, 1, 1, 0, 0}};

// The small kernels stand in a square of side 2r + 1, but radius 2's table is 3 x 3.
template <int N>
int FromTable(const int (&k)[N][N], int dx, int dy) {
  const int half = N / 2;
  if (std::abs(dx) > half || std::abs(dy) > half) return 0;
  return k[dx + half][dy + half];
}

}  // namespace

int ShadowKernelWeight(int radius, int strength, int dx, int dy) {
  if (std::abs(dx) > radius || std::abs(dy) > radius) return 0;
  switch (radius) {
    case 0: return dx == 0 && dy == 0 ? 255 : 0;
    case 1: return FromTable(kKernel1, dx, dy);
    case 2: return FromTable(kKernel2, dx, dy);
    case 3: return FromTable(kKernel3, dx, dy);
    case 4: return FromTable(kKernel4, dx, dy);
    case 5: return FromTable(kKernel5, dx, dy);
    default: break;
  }
  // Squares of large radii pass 32 bits.
  const int64_t d2 = int64_t(dx) * dx + int64_t(dy) * dy;
  if (d2 > int64_t(radius) * radius) return 0;
  // (k x 2^s) div 2^r with s = r - round(distance) is k shifted right by the
  // rounded distance; written so, large radii cannot overflow the shift.
  const int64_t dist = Round(std::sqrt(static_cast<double>(d2)));
  const int k = strength / radius;
  return dist >= 31 ? 0 : (k >> dist);
}

void SpreadShadow(const TPixelRows& source, const TPixelRows& target, int radius, int xOffset, int yOffset,
                  int strength, uint32_t shadowPixel) {
  const int w = source.Width, h = source.Height;
  const uint32_t colour = shadowPixel & 0x00FFFFFFu;
  if (radius < 0) return;
  // Cells that land outside the picture add nothing, so the reach is cut to
  // the offsets that can land inside (at most twice the picture's side): a
  // huge radius or offset stays cheap.
  const int64_t r = radius;
  const int64_t dxLo = std::max<int64_t>(-r, -int64_t(xOffset) - (w - 1));
  const int64_t dxHi = std::min<int64_t>(r, int64_t(w - 1) - xOffset);
  const int64_t dyLo = std::max<int64_t>(-r, -int64_t(yOffset) - (h - 1));
  const int64_t dyHi = std::min<int64_t>(r, int64_t(h - 1) - yOffset);
  if (w <= 0 || h <= 0 || dxLo > dxHi || dyLo > dyHi) return;
  // The kernel is the same for every source pixel: weigh it once (a large
  // radius costs a square root per cell otherwise).
  const size_t side = static_cast<size_t>(dyHi - dyLo + 1);
  std::vector<int> kernel(static_cast<size_t>(dxHi - dxLo + 1) * side);
  for (int64_t dx = dxLo; dx <= dxHi; ++dx)
    for (int64_t dy = dyLo; dy <= dyHi; ++dy)
      kernel[static_cast<size_t>(dx - dxLo) * side + static_cast<size_t>(dy - dyLo)] =
          ShadowKernelWeight(radius, strength, static_cast<int>(dx), static_cast<int>(dy));
  // What each cell adds for one source alpha; neighbouring pixels mostly
  // share their alpha, so the table is rebuilt only when it changes.
  std::vector<int> spread(kernel.size());
  uint32_t spreadAlpha = 0;
  for (int y = 0; y < h; ++y) {
    const uint32_t* srow = reinterpret_cast<const uint32_t*>(source.Row(y));
    for (int x = 0; x < w; ++x) {
      const uint32_t a = srow[x] >> 24;
      if (a == 0) continue;
      if (a != spreadAlpha) {
        for (size_t i = 0; i < kernel.size(); ++i)
          spread[i] = static_cast<int>(Round(static_cast<double>(kernel[i]) * strength * a / 65025.0));
        spreadAlpha = a;
      }
      for (int64_t dx = dxLo; dx <= dxHi; ++dx) {
        const int64_t tx = x + dx + xOffset;
        if (tx < 0 || tx >= w) continue;
        const int* cells = spread.data() + static_cast<size_t>(dx - dxLo) * side;
        for (int64_t dy = dyLo; dy <= dyHi; ++dy) {
          const int64_t ty = y + dy + yOffset;
          if (ty < 0 || ty >= h) continue;
          const int v = cells[dy - dyLo];
          uint32_t* t = reinterpret_cast<uint32_t*>(target.Row(ty)) + tx;
          const int e = static_cast<int>(*t >> 24);
          const int alpha = Min(v + e + (e > 0 ? 1 : 0), strength);
          *t = colour | (static_cast<uint32_t>(Max(alpha, 0)) << 24);
        }
      }
    }
  }
}

void CompositeShadowUnder(const TPixelRows& source, const TPixelRows& target) {
  for (int y = 0; y < source.Height; ++y)
    BlendRowOver(reinterpret_cast<const uint32_t*>(source.Row(y)), reinterpret_cast<uint32_t*>(target.Row(y)),
                 source.Width);
}

void CombineBlackWhiteBlocks(const TPixelRows& onBlack, const TPixelRows& onWhite, const TPixelRows& target) {
  for (int y = 0; y < target.Height; ++y) {
    uint32_t* out = reinterpret_cast<uint32_t*>(target.Row(y));
    for (int x = 0; x < target.Width; ++x) {
      int n = 0, sb = 0, sg = 0, sr = 0;
      for (int sy = 0; sy < 8; ++sy) {
        const uint8_t* b = onBlack.Row(y * 8 + sy) + x * 24;
        const uint8_t* wt = onWhite.Row(y * 8 + sy) + x * 24;
        for (int sx = 0; sx < 8; ++sx, b += 3, wt += 3) {
          if (b[0] != wt[0] || b[1] != wt[1] || b[2] != wt[2]) continue;
          ++n;
          sb += b[0];
          sg += b[1];
          sr += b[2];
        }
      }
      if (n == 0) {
        out[x] = 0;
        continue;
      }
      const uint32_t alpha = n == 64 ? 255 : 4 * n;
      out[x] = (alpha << 24) | (static_cast<uint32_t>(sr / n) << 16) | (static_cast<uint32_t>(sg / n) << 8) |
               static_cast<uint32_t>(sb / n);
    }
  }
}
