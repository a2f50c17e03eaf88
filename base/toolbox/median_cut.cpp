#include "base/toolbox/median_cut.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

struct TBox {
  uint8_t Min[3];  // red, green, blue in 5-bit cells
  uint8_t Max[3];
};

inline int Cell(int r, int g, int b) { return (r << 10) | (g << 5) | b; }

void Shrink(const std::vector<uint8_t>& map, TBox& box) {
  uint8_t lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
  for (int r = box.Min[0]; r <= box.Max[0]; ++r)
    for (int g = box.Min[1]; g <= box.Max[1]; ++g)
      for (int b = box.Min[2]; b <= box.Max[2]; ++b) {
        if (!map[Cell(r, g, b)]) continue;
        const uint8_t c[3] = {uint8_t(r), uint8_t(g), uint8_t(b)};
        for (int i = 0; i < 3; ++i) {
          lo[i] = std::min(lo[i], c[i]);
          hi[i] = std::max(hi[i], c[i]);
        }
      }
  if (lo[0] > hi[0]) return;  // no colour inside: leave the box as it was
  for (int i = 0; i < 3; ++i) box.Min[i] = lo[i], box.Max[i] = hi[i];
}

std::vector<TBox> SplitBoxes(std::vector<uint8_t>& map, int colourCount) {
  std::vector<TBox> boxes{{{0, 0, 0}, {31, 31, 31}}};
  Shrink(map, boxes[0]);
  while (static_cast<int>(boxes.size()) < colourCount) {
    int best = 1, bestBox = -1, bestAxis = 0;
    for (size_t k = 0; k < boxes.size(); ++k)
      for (int axis = 0; axis < 3; ++axis) {
        const int extent = boxes[k].Max[axis] - boxes[k].Min[axis];
        if (extent > best) best = extent, bestBox = static_cast<int>(k), bestAxis = axis;
      }
    if (bestBox < 0) break;
    TBox cut = boxes[bestBox];
    const int m = (cut.Min[bestAxis] + cut.Max[bestAxis]) / 2;
    boxes[bestBox].Max[bestAxis] = static_cast<uint8_t>(m);
    cut.Min[bestAxis] = static_cast<uint8_t>(m + 1);
    Shrink(map, boxes[bestBox]);
    Shrink(map, cut);
    boxes.push_back(cut);
  }
  return boxes;
}

int NearestEntry(const RGBQUAD* table, int boxes, int r, int g, int b) {
  int best = boxes - 1, bestDist = 1 << 30;
  for (int k = boxes - 1; k >= 0; --k) {
    const int dr = r - table[k].rgbRed, dg = g - table[k].rgbGreen, db = b - table[k].rgbBlue;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) bestDist = d, best = k;
  }
  return best;
}

inline int ScaledToByte(int v) { return v > 4095 ? 255 : (v < 0 ? 0 : v / 16); }

void Diffuse(const TPixelRows& source, const TPixelRows& target, const RGBQUAD* table, int boxes,
             std::vector<uint8_t>& map) {
  const int w = source.Width;
  // One guard entry at each end: errors pushed past the row edge land there.
  std::vector<std::array<int32_t, 3>> cur(w + 2), next(w + 2);
  for (int y = 0; y < source.Height; ++y) {
    const uint8_t* src = source.Row(y);
    uint8_t* dst = target.Row(y);
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) cur[x + 1][c] += src[x * 3 + (2 - c)] * 16;  // red, green, blue
    std::fill(next.begin(), next.end(), std::array<int32_t, 3>{0, 0, 0});
    const bool leftToRight = (y % 2) == 0;
    const int step = leftToRight ? 1 : -1;
    for (int i = 0; i < w; ++i) {
      const int x = leftToRight ? i : w - 1 - i;
      const int p = x + 1;
      int v[3];
      for (int c = 0; c < 3; ++c) v[c] = ScaledToByte(cur[p][c]);
      uint8_t& cell = map[Cell(v[0] >> 3, v[1] >> 3, v[2] >> 3)];
      if (cell == 255) cell = static_cast<uint8_t>(NearestEntry(table, boxes, v[0], v[1], v[2]));
      const int index = cell;
      dst[x] = static_cast<uint8_t>(index);
      const int pal[3] = {table[index].rgbRed, table[index].rgbGreen, table[index].rgbBlue};
      for (int c = 0; c < 3; ++c) {
        const int e = v[c] - pal[c];
        cur[p + step][c] += 7 * e;
        next[p - step][c] += 3 * e;
        next[p][c] += 5 * e;
        next[p + step][c] += e;
      }
    }
    std::swap(cur, next);
  }
}

}  // namespace

int MedianCutQuantize(const TPixelRows& source, const TPixelRows& target, RGBQUAD* table, int mode,
                      int colourCount) {
  colourCount = std::clamp(colourCount, 2, 256);
  std::vector<uint8_t> map(32768, 0);
  for (int y = 0; y < source.Height; ++y) {
    const uint8_t* p = source.Row(y);
    for (int x = 0; x < source.Width; ++x, p += 3) map[Cell(p[2] >> 3, p[1] >> 3, p[0] >> 3)] = 1;
  }
  const std::vector<TBox> boxes = SplitBoxes(map, colourCount);
  const int n = static_cast<int>(boxes.size());
  for (int k = 0; k < n; ++k) {
    table[k].rgbRed = static_cast<uint8_t>((boxes[k].Min[0] + boxes[k].Max[0]) * 4);
    table[k].rgbGreen = static_cast<uint8_t>((boxes[k].Min[1] + boxes[k].Max[1]) * 4);
    table[k].rgbBlue = static_cast<uint8_t>((boxes[k].Min[2] + boxes[k].Max[2]) * 4);
    table[k].rgbReserved = 0;
  }
  if (mode == 2) std::fill(map.begin(), map.end(), 255);
  for (int k = 0; k < n; ++k)
    for (int r = boxes[k].Min[0]; r <= boxes[k].Max[0]; ++r)
      for (int g = boxes[k].Min[1]; g <= boxes[k].Max[1]; ++g)
        for (int b = boxes[k].Min[2]; b <= boxes[k].Max[2]; ++b) map[Cell(r, g, b)] = static_cast<uint8_t>(k);
  if (mode == 2) {
    Diffuse(source, target, table, n, map);
    return n;
  }
  for (int y = 0; y < source.Height; ++y) {
    const uint8_t* p = source.Row(y);
    uint8_t* out = target.Row(y);
    for (int x = 0; x < source.Width; ++x, p += 3) out[x] = map[Cell(p[2] >> 3, p[1] >> 3, p[0] >> 3)];
  }
  return n;
}

void GrayQuantize(const TPixelRows& source, const TPixelRows& target, RGBQUAD* table) {
  for (int i = 0; i < 256; ++i) table[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
  for (int y = 0; y < source.Height; ++y) {
    const uint8_t* p = source.Row(y);
    uint8_t* out = target.Row(y);
    for (int x = 0; x < source.Width; ++x, p += 3) out[x] = static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
  }
}
