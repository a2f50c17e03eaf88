#include "imaging/core/ie_quantizer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "imaging/core/ie_helpers.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/rounding.h"

int32_t QuantizerMethod = -1;
int32_t QuantizerQuality = -1;

namespace {

inline uint32_t PackRGB(TRGB c) { return (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b; }

// 24-bit rows of a picture, whatever holds them.
struct TRowSource {
  int Width = 0;
  int Height = 0;
  std::function<const uint8_t*(int y)> Row;
};

TRowSource RowsOf(TIEBitmap& bitmap) {
  if (bitmap.PixelFormat() != ie24RGB) return {};
  return {bitmap.Width(), bitmap.Height(), [&bitmap](int y) -> const uint8_t* { return bitmap.ScanLine(y); }};
}

TRowSource RowsOf(TBitmap& bitmap) {
  if (bitmap.PixelFormat() != pf24bit) return {};
  return {bitmap.GetWidth(), bitmap.GetHeight(),
          [&bitmap](int y) -> const uint8_t* { return static_cast<const uint8_t*>(bitmap.ScanLine(y)); }};
}

}  // namespace

// ---- the exact palette ----

std::vector<TRGB> GetExactPalette(TIEBitmap& bitmap, int n, TRGB* palette) {
  if (bitmap.PixelFormat() != ie24RGB || n < 1) return {};
  std::vector<TRGB> found;
  // Looked up through a hash instead of a linear search; the order of first
  // appearance is the same.
  std::unordered_map<uint32_t, int> seen;
  TIEAccessScope readOnly(bitmap, 1);
  const int w = bitmap.Width(), h = bitmap.Height();
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const TRGB*>(bitmap.ScanLine(y));
    if (!row) return {};
    uint32_t last = 0xFFFFFFFFu;
    for (int x = 0; x < w; ++x) {
      const uint32_t key = PackRGB(row[x]);
      if (key == last) continue;
      last = key;
      if (seen.contains(key)) continue;
      if (int(found.size()) == n) return {};
      seen.emplace(key, int(found.size()));
      found.push_back(row[x]);
    }
  }
  if (palette) std::copy(found.begin(), found.end(), palette);
  return found;
}

int FindColorInPalette(const TRGB* palette, int n, TRGB color) {
  for (int i = 0; i < n; ++i)
    if (palette[i] == color) return i;
  return -1;
}

// ---- box splitting ----

namespace {

constexpr double kFailedSplitScore = 17523.6;

struct TBox {
  double Variance = 0;
  double Mean[3] = {};  // red, green, blue in bins 0..31
  uint32_t Count = 0;
  uint32_t Hist[3][32] = {};
  int Lo[3] = {};  // inclusive
  int Hi[3] = {};  // exclusive
};

inline int CellIndex(int r, int g, int b) { return r * 1024 + g * 32 + b; }

}  // namespace

struct TIEBoxQuantizer {
  std::vector<uint32_t> Cube;  // 32 x 32 x 32 counts
  std::vector<TBox> Boxes;     // the boxes made
  std::vector<uint8_t> InverseMap;
  uint32_t Total = 0;
};

void TIEBoxQuantizerDeleter::operator()(TIEBoxQuantizer* state) const { delete state; }

namespace {

void BuildColorHistogram(TIEBoxQuantizer& q, TBox& first, const TRowSource& rows) {
  q.Cube.assign(32768, 0);
  for (int y = 0; y < rows.Height; ++y) {
    const uint8_t* p = rows.Row(y);
    if (!p) continue;
    for (int x = 0; x < rows.Width; ++x, p += 3) {
      const int r = p[2] >> 3, g = p[1] >> 3, b = p[0] >> 3;
      ++q.Cube[size_t(CellIndex(r, g, b))];
      ++first.Hist[0][r];
      ++first.Hist[1][g];
      ++first.Hist[2][b];
      ++q.Total;
    }
  }
}

void ComputeBoxStats(const TIEBoxQuantizer& q, TBox& box) {
  if (box.Count == 0) {
    box.Variance = 0;
    return;
  }
  double sum = 0;
  for (int c = 0; c < 3; ++c) {
    uint64_t s1 = 0, s2 = 0;
    for (int j = box.Lo[c]; j < box.Hi[c]; ++j) {
      s1 += uint64_t(j) * box.Hist[c][j];
      s2 += uint64_t(j) * j * box.Hist[c][j];
    }
    box.Mean[c] = double(s1) / box.Count;
    sum += double(s2) - box.Mean[c] * box.Mean[c] * box.Count;
  }
  box.Variance = sum / q.Total;
}

void ShrinkBounds(TBox& box) {
  for (int c = 0; c < 3; ++c) {
    int lo = box.Lo[c], hi = box.Hi[c];
    while (lo < hi && box.Hist[c][lo] == 0) ++lo;
    while (hi > lo && box.Hist[c][hi - 1] == 0) --hi;
    box.Lo[c] = lo;
    box.Hi[c] = hi;
  }
}

bool SplitBoxAlongAxis(const TIEBoxQuantizer& q, const TBox& box, int axis, TBox& left, TBox& right) {
  const int lo = box.Lo[axis], hi = box.Hi[axis];
  if (hi - lo <= 1) return false;
  const uint32_t* h = box.Hist[axis];
  const double m = box.Mean[axis];
  const int s = int(Round((lo + m) * 0.5)), e = int(Round((m + hi) * 0.5));
  uint64_t leftCount = 0;
  for (int b = lo; b < s && b < 32; ++b) leftCount += h[b];
  double t = 0, best = -1;
  int split = -1;
  uint64_t leftAtSplit = 0;
  for (int b = std::max(s, 0); b <= e && b < 32; ++b) {
    leftCount += h[b];
    if (leftCount == box.Count) break;
    t += double(uint64_t(h[b]) * b) / box.Count;
    const double score = double(leftCount) / double(box.Count - leftCount) * ((m - t) * (m - t));
    if (score > best) {
      best = score;
      split = b;
      leftAtSplit = leftCount;
    }
  }
  if (split < 0 || leftAtSplit == 0 || leftAtSplit >= box.Count) return false;
  left = box;
  right = box;
  left.Hi[axis] = split + 1;
  right.Lo[axis] = split + 1;
  left.Count = uint32_t(leftAtSplit);
  right.Count = box.Count - left.Count;
  std::memset(left.Hist, 0, sizeof left.Hist);
  for (int r = left.Lo[0]; r < left.Hi[0]; ++r)
    for (int g = left.Lo[1]; g < left.Hi[1]; ++g)
      for (int b = left.Lo[2]; b < left.Hi[2]; ++b) {
        const uint32_t n = q.Cube[size_t(CellIndex(r, g, b))];
        left.Hist[0][r] += n;
        left.Hist[1][g] += n;
        left.Hist[2][b] += n;
      }
  for (int c = 0; c < 3; ++c)
    for (int j = 0; j < 32; ++j) right.Hist[c][j] -= left.Hist[c][j];
  ShrinkBounds(left);
  ShrinkBounds(right);
  ComputeBoxStats(q, left);
  ComputeBoxStats(q, right);
  return true;
}

bool SplitBox(TIEBoxQuantizer& q, size_t index) {
  TBox& box = q.Boxes[index];
  if (box.Variance == 0 || box.Count == 0) {
    box.Variance = 0;
    return false;
  }
  TBox halves[3][2];
  double score[3];
  for (int axis = 0; axis < 3; ++axis)
    score[axis] = SplitBoxAlongAxis(q, box, axis, halves[axis][0], halves[axis][1])
                      ? halves[axis][0].Variance + halves[axis][1].Variance
                      : kFailedSplitScore;
  int axis = -1;
  if (score[0] < kFailedSplitScore && score[0] <= score[1] && score[0] <= score[2]) axis = 0;
  else if (score[1] < kFailedSplitScore && score[1] <= score[0] && score[1] <= score[2]) axis = 1;
  else if (score[2] < kFailedSplitScore) axis = 2;
  if (axis < 0) {
    box.Variance = 0;
    return false;
  }
  box = halves[axis][0];
  q.Boxes.push_back(halves[axis][1]);
  return true;
}

void SplitBoxes(TIEBoxQuantizer& q, int n) {
  while (int(q.Boxes.size()) < n) {
    size_t chosen = 0;
    double largest = 0;
    for (size_t i = 0; i < q.Boxes.size(); ++i)
      if (q.Boxes[i].Variance > largest) {
        largest = q.Boxes[i].Variance;
        chosen = i;
      }
    if (largest <= 0) break;
    SplitBox(q, chosen);
  }
}

void BuildInverseMap(TIEBoxQuantizer& q) {
  q.InverseMap.assign(32768, 0);
  for (size_t i = 0; i < q.Boxes.size(); ++i) {
    const TBox& b = q.Boxes[i];
    for (int r = b.Lo[0]; r < b.Hi[0]; ++r)
      for (int g = b.Lo[1]; g < b.Hi[1]; ++g)
        for (int bl = b.Lo[2]; bl < b.Hi[2]; ++bl) q.InverseMap[size_t(CellIndex(r, g, bl))] = uint8_t(i);
  }
}

TIEBoxQuantizerPtr BuildBoxQuantizer(const TRowSource& rows, TRGB* palette, int n) {
  TIEBoxQuantizerPtr q(new TIEBoxQuantizer);
  // The inverse map holds a byte per cell: never more than 256 boxes.
  n = std::clamp(n, 1, 256);
  TBox first;
  BuildColorHistogram(*q, first, rows);
  for (int c = 0; c < 3; ++c) {
    first.Lo[c] = 0;
    first.Hi[c] = 32;
  }
  first.Count = q->Total;
  ComputeBoxStats(*q, first);
  q->Boxes.reserve(size_t(n));
  q->Boxes.push_back(first);
  SplitBoxes(*q, n);
  for (size_t i = 0; i < q->Boxes.size() && palette; ++i) {
    const TBox& b = q->Boxes[i];
    palette[i] = MakeRGB(uint8_t(Round(b.Mean[0]) * 8), uint8_t(Round(b.Mean[1]) * 8), uint8_t(Round(b.Mean[2]) * 8));
  }
  BuildInverseMap(*q);
  return q;
}

}  // namespace

TIEBoxQuantizerPtr CreateBoxQuantizer(TIEBitmap& bitmap, TRGB* palette, int n) {
  TIEAccessScope readOnly(bitmap, 1);
  return BuildBoxQuantizer(RowsOf(bitmap), palette, n);
}

TIEBoxQuantizerPtr CreateBoxQuantizer(TBitmap& bitmap, TRGB* palette, int n) {
  return BuildBoxQuantizer(RowsOf(bitmap), palette, n);
}

int BoxQuantizerIndex(const TIEBoxQuantizer& state, TRGB color) {
  return state.InverseMap[size_t(CellIndex(color.r >> 3, color.g >> 3, color.b >> 3))];
}

int BoxQuantizerColorCount(const TIEBoxQuantizer& state) { return int(state.Boxes.size()); }

// ---- the network ----

namespace {

constexpr int kNetBiasShift = 4;      // colour values are kept times 16
constexpr int kIntBiasShift = 16;     // bias and frequency in 1/65536
constexpr int kBetaShift = 10;        // frequency decays by 1/1024
constexpr int kGammaShift = 10;
constexpr int kRadiusBiasShift = 6;   // radius in 1/64 neurons
constexpr int kRadiusDecrement = 30;
constexpr int kInitialAlpha = 1024;
constexpr int kNeighbourDivisor = 1 << 18;  // alpha 1/1024 times radius power 1/256
constexpr int kPrimes[3] = {499, 491, 487};
constexpr int kLastPrime = 503;

}  // namespace

struct TIENeuralQuantizer {
  int Size = 0;
  int InitialRadius = 0;
  int SamplingFactor = 1;
  std::vector<int32_t> Network;  // 4 per neuron: blue, green, red, index before sorting
  std::vector<int32_t> Bias, Frequency, RadiusPower;
  int32_t GreenIndex[256] = {};
  int32_t* Neuron(int i) { return Network.data() + 4 * size_t(i); }
  const int32_t* Neuron(int i) const { return Network.data() + 4 * size_t(i); }
};

void TIENeuralQuantizerDeleter::operator()(TIENeuralQuantizer* state) const { delete state; }

int AutoSamplingFactor(int64_t pixels) {
  if (pixels < 2000) return 1;
  return int(std::clamp<int64_t>(Round(13.0 * double(pixels - 2000) / 148000.0 + 2.0), 1, 30));
}

namespace {

void InitNetwork(TIENeuralQuantizer& net, int n, int quality, int64_t pixels) {
  net.Size = n;
  net.InitialRadius = n / 8;
  net.SamplingFactor = quality == -1 ? AutoSamplingFactor(pixels)
                                     : int(std::clamp<int64_t>(Trunc((100.0 - quality) / 100.0 * 29.0) + 1, 1, 30));
  net.Network.resize(size_t(n) * 4);
  net.Bias.assign(size_t(n), 0);
  net.Frequency.assign(size_t(n), 65536 / n);
  net.RadiusPower.assign(size_t(std::max(net.InitialRadius, 1)), 0);
  for (int i = 0; i < n; ++i) {
    int32_t* p = net.Neuron(i);
    p[0] = p[1] = p[2] = int32_t(int64_t(i) * 4096 / n);
    p[3] = i;
  }
}

int FindBestNeuron(TIENeuralQuantizer& net, int b, int g, int r) {
  int bestDistance = INT32_MAX, bestBiasedDistance = INT32_MAX, best = 0, bestBiased = 0;
  for (int i = 0; i < net.Size; ++i) {
    const int32_t* p = net.Neuron(i);
    const int distance = std::abs(p[0] - b) + std::abs(p[1] - g) + std::abs(p[2] - r);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
    const int biased = distance - (net.Bias[size_t(i)] >> (kIntBiasShift - kNetBiasShift));
    if (biased < bestBiasedDistance) {
      bestBiasedDistance = biased;
      bestBiased = i;
    }
    const int32_t betaFrequency = net.Frequency[size_t(i)] >> kBetaShift;
    net.Frequency[size_t(i)] -= betaFrequency;
    net.Bias[size_t(i)] += betaFrequency << kGammaShift;
  }
  net.Frequency[size_t(best)] += 1 << (kIntBiasShift - kBetaShift);
  net.Bias[size_t(best)] -= 1 << (kIntBiasShift - kBetaShift + kGammaShift);
  return bestBiased;
}

inline void MoveTowards(int32_t* p, int b, int g, int r, int64_t factor, int64_t divisor) {
  p[0] -= int32_t((p[0] - b) * factor / divisor);
  p[1] -= int32_t((p[1] - g) * factor / divisor);
  p[2] -= int32_t((p[2] - r) * factor / divisor);
}

void MoveNeuronTowards(TIENeuralQuantizer& net, int alpha, int i, int b, int g, int r) {
  MoveTowards(net.Neuron(i), b, g, r, alpha, kInitialAlpha);
}

void MoveNeighboursTowards(TIENeuralQuantizer& net, int rad, int i, int b, int g, int r) {
  const int lo = std::max(i - rad, -1), hi = std::min(i + rad, net.Size);
  int j = i + 1, k = i - 1, m = 1;
  while (j < hi || k > lo) {
    const int32_t a = net.RadiusPower[size_t(m++)];
    if (j < hi) MoveTowards(net.Neuron(j++), b, g, r, a, kNeighbourDivisor);
    if (k > lo) MoveTowards(net.Neuron(k--), b, g, r, a, kNeighbourDivisor);
  }
}

void SetRadiusPowers(TIENeuralQuantizer& net, int rad, int alpha) {
  for (int k = 0; k < rad; ++k)
    net.RadiusPower[size_t(k)] = int32_t(alpha * (((int64_t(rad) * rad - int64_t(k) * k) * 256) / (int64_t(rad) * rad)));
}

void TrainNetwork(TIENeuralQuantizer& net, TIEBitmap& bitmap) {
  const int w = bitmap.Width(), h = bitmap.Height();
  const int64_t pixels = int64_t(w) * h, length = pixels * 3;
  const int alphaDecrement = (net.SamplingFactor - 1) / 3 + 30;
  const int64_t samples = length / (int64_t(net.SamplingFactor) * 3);
  const int64_t cycle = std::max<int64_t>(samples / 100, 1);
  int alpha = kInitialAlpha;
  int radius = net.InitialRadius << kRadiusBiasShift;
  int rad = radius >= 128 ? radius >> kRadiusBiasShift : 0;
  SetRadiusPowers(net, rad, alpha);
  int64_t step = kLastPrime;
  for (int prime : kPrimes)
    if (length % prime != 0) {
      step = prime;
      break;
    }
  int64_t position = 0;
  for (int64_t i = 0; i < samples;) {
    const uint8_t* p = bitmap.ScanLine(int(position / w)) + 3 * (position % w);
    const int b = p[0] << kNetBiasShift, g = p[1] << kNetBiasShift, r = p[2] << kNetBiasShift;
    const int j = FindBestNeuron(net, b, g, r);
    MoveNeuronTowards(net, alpha, j, b, g, r);
    if (rad > 0) MoveNeighboursTowards(net, rad, j, b, g, r);
    // A picture smaller than the step would leave it past the end after one
    // subtraction; the remainder keeps it inside.
    position = (position + step) % pixels;
    ++i;
    if (i % cycle == 0) {
      alpha -= alpha / alphaDecrement;
      radius -= radius / kRadiusDecrement;
      rad = radius >= 128 ? radius >> kRadiusBiasShift : 0;
      SetRadiusPowers(net, rad, alpha);
    }
  }
}

void RemoveNetworkBias(TIENeuralQuantizer& net) {
  for (int i = 0; i < net.Size; ++i) {
    int32_t* p = net.Neuron(i);
    for (int c = 0; c < 3; ++c) p[c] = int32_t(std::min<uint32_t>((uint32_t(p[c]) + 8) >> kNetBiasShift, 255));
    p[3] = i;
  }
}

void ExportNetworkPalette(const TIENeuralQuantizer& net, TRGB* palette) {
  for (int i = 0; i < net.Size; ++i) {
    const int32_t* p = net.Neuron(i);
    palette[i] = TRGB{uint8_t(p[0]), uint8_t(p[1]), uint8_t(p[2])};
  }
}

void BuildGreenIndex(TIENeuralQuantizer& net) {
  const int last = net.Size - 1;
  int previous = 0, start = 0;
  for (int i = 0; i < net.Size; ++i) {
    int smallest = i, smallValue = net.Neuron(i)[1];
    for (int j = i + 1; j < net.Size; ++j)
      if (net.Neuron(j)[1] < smallValue) {
        smallest = j;
        smallValue = net.Neuron(j)[1];
      }
    if (smallest != i) std::swap_ranges(net.Neuron(i), net.Neuron(i) + 4, net.Neuron(smallest));
    if (smallValue != previous) {
      net.GreenIndex[previous] = (start + i) >> 1;
      for (int j = previous + 1; j < smallValue; ++j) net.GreenIndex[j] = i;
      previous = smallValue;
      start = i;
    }
  }
  net.GreenIndex[previous] = (start + last) >> 1;
  for (int j = previous + 1; j < 256; ++j) net.GreenIndex[j] = last;
}

}  // namespace

TIENeuralQuantizerPtr CreateNeuralQuantizer(TIEBitmap& bitmap, TRGB* palette, int quality, int n) {
  if (n < 1 || bitmap.PixelFormat() != ie24RGB || bitmap.IsEmpty()) return nullptr;
  TIENeuralQuantizerPtr net(new TIENeuralQuantizer);
  TIEAccessScope readOnly(bitmap, 1);
  InitNetwork(*net, n, quality, int64_t(bitmap.Width()) * bitmap.Height());
  TrainNetwork(*net, bitmap);
  RemoveNetworkBias(*net);
  if (palette) ExportNetworkPalette(*net, palette);
  BuildGreenIndex(*net);
  return net;
}

int NeuralQuantizerIndex(const TIENeuralQuantizer& net, TRGB color) {
  const int b = color.b, g = color.g, r = color.r;
  int bestDistance = 1000, best = -1;
  int i = net.GreenIndex[g], j = i - 1;
  while (i < net.Size || j >= 0) {
    if (i < net.Size) {
      const int32_t* p = net.Neuron(i);
      int distance = p[1] - g;
      if (distance >= bestDistance) {
        i = net.Size;
      } else {
        ++i;
        distance = std::abs(distance) + std::abs(p[0] - b);
        if (distance < bestDistance) {
          distance += std::abs(p[2] - r);
          if (distance < bestDistance) {
            bestDistance = distance;
            best = p[3];
          }
        }
      }
    }
    if (j >= 0) {
      const int32_t* p = net.Neuron(j);
      int distance = g - p[1];
      if (distance >= bestDistance) {
        j = -1;
      } else {
        --j;
        distance = std::abs(distance) + std::abs(p[0] - b);
        if (distance < bestDistance) {
          distance += std::abs(p[2] - r);
          if (distance < bestDistance) {
            bestDistance = distance;
            best = p[3];
          }
        }
      }
    }
  }
  return best < 0 ? 0 : best;
}

// ---- TIEQuantizer ----

TIEQuantizer::TIEQuantizer(TIEBitmap& bitmap, int n, TRGB* palette) : FBitmap(bitmap), FColorCount(n) {
  if (n < 1) return;
  // Entries no colour is found for are black, never what the buffer held before.
  FPalette.assign(size_t(n), TRGB{});
  FGray = IsGrayBitmap(bitmap);
  const TIEBitmapFormat format = bitmap.PixelFormat();
  if (format == ie8p) {
    FOwnPalette = true;
    for (int i = 0; i < n; ++i) bitmap.GetPaletteColor(i, FPalette[size_t(i)]);
  } else if (FGray) {
    for (int i = 0; i < n; ++i) {
      const uint8_t v = uint8_t(Trunc(256.0 / n * i));
      FPalette[size_t(i)] = TRGB{v, v, v};
    }
  } else if (format == ie24RGB) {
    FExact = GetExactPalette(bitmap, n, FPalette.data());
    if (!FExact.empty()) {
      for (size_t i = 0; i < FExact.size(); ++i) FExactIndex.emplace(PackRGB(FExact[i]), int(i));
    } else {
      const bool box = QuantizerMethod == 1 || (QuantizerMethod == -1 && n < 128);
      if (box) {
        FMethod = 1;
        FBox = CreateBoxQuantizer(bitmap, FPalette.data(), n);
      } else {
        FMethod = 0;
        FNetwork = CreateNeuralQuantizer(bitmap, FPalette.data(), QuantizerQuality, n);
      }
    }
  }
  if (palette) std::copy(FPalette.begin(), FPalette.end(), palette);
}

TIEQuantizer::~TIEQuantizer() = default;

int TIEQuantizer::GetIndex(TRGB color) {
  if (FColorCount < 1) return 0;
  if (!FExactIndex.empty()) {
    const auto it = FExactIndex.find(PackRGB(color));
    return it != FExactIndex.end() ? it->second : FindNearestPaletteEntry(FExact.data(), int(FExact.size()), color);
  }
  // An ie8p bitmap handed out its own palette, so its indices come from that
  // palette even when every entry is grey.
  if (FOwnPalette) {
    const int n = std::min(FColorCount, FBitmap.PaletteLength());
    const int i = FindColorInPalette(FPalette.data(), n, color);
    return i >= 0 ? i : FindNearestPaletteEntry(FPalette.data(), n, color);
  }
  if (FGray) return int(int64_t(color.r) * FColorCount / 256);
  if (FNetwork) return CachedNetworkIndex(color);
  if (FBox) return BoxQuantizerIndex(*FBox, color);
  return 0;
}

int TIEQuantizer::CachedNetworkIndex(TRGB color) {
  if (FMemo.empty()) {
    // About a slot per pixel, between 4 K and 4 M slots.
    const int64_t pixels = int64_t(FBitmap.Width()) * FBitmap.Height();
    int bits = 12;
    while (bits < 22 && (int64_t(1) << bits) < pixels) ++bits;
    FMemo.assign(size_t(1) << bits, 0);
    FMemoShift = 32 - bits;
  }
  const uint32_t key = PackRGB(color);
  uint64_t& slot = FMemo[size_t((key * 2654435761u) >> FMemoShift)];
  if (slot && uint32_t(slot >> 32) == key + 1) return int(slot & 0xFFFFFFFFu);
  const int index = NeuralQuantizerIndex(*FNetwork, color);
  slot = (uint64_t(key + 1) << 32) | uint32_t(index);
  return index;
}

// ---- rows between bit depths ----

namespace {

int RowBytesFor(int bits, int width) {
  switch (bits) {
    case 1: return (width + 7) / 8;
    case 4: return (width + 1) / 2;
    case 8: return width;
    case 24: return 3 * width;
    default: return 0;
  }
}

void WriteRGB(uint8_t* d, const TRGB& c) {
  d[0] = c.b;
  d[1] = c.g;
  d[2] = c.r;
}

}  // namespace

namespace {

// Writes the row's indices (get(x)) as destinationBits 1, 4, 8 or 24 (through the palette).
template <class Get>
void SpreadIndices(Get get, uint8_t* d, const TRGB* palette, int width, int destinationBits) {
  switch (destinationBits) {
    case 1:
      std::memset(d, 0, size_t(RowBytesFor(1, width)));
      for (int x = 0; x < width; ++x) d[x >> 3] |= uint8_t((get(x) & 1) << (7 - (x & 7)));
      break;
    case 4:
      // An index above 15 must not spill into the neighbour's nibble.
      for (int x = 0; x < width; ++x) d[x >> 1] |= uint8_t((get(x) & 0x0F) << ((x & 1) ? 0 : 4));
      break;
    case 8:
      for (int x = 0; x < width; ++x) d[x] = uint8_t(get(x));
      break;
    case 24:
      for (int x = 0; x < width; ++x) WriteRGB(d + 3 * size_t(x), palette[get(x) & 0xFF]);
      break;
    default:
      break;
  }
}

}  // namespace

int ConvertRowBitDepth(const uint8_t* s, uint8_t* d, int sourceBits, TIEQuantizer* quantizer, const TRGB* palette,
                       int width, int destinationBits) {
  const int bytes = RowBytesFor(destinationBits, width);
  const int pair = sourceBits * 100 + destinationBits;
  if (sourceBits == destinationBits && bytes > 0) {
    std::memcpy(d, s, size_t(bytes));
  } else if (pair == 3224) {
    for (int x = 0; x < width; ++x) std::memcpy(d + 3 * size_t(x), s + 4 * size_t(x), 3);
  } else if (pair == 2404 || pair == 2408) {
    const auto* rgb = reinterpret_cast<const TRGB*>(s);
    SpreadIndices([&](int x) { return quantizer ? quantizer->GetIndex(rgb[x]) : 0; }, d, palette, width,
                  destinationBits);
  } else if (pair == 801 || pair == 824) {
    SpreadIndices([&](int x) { return int(s[x]); }, d, palette, width, destinationBits);
  } else if (pair == 104 || pair == 108 || pair == 124) {
    SpreadIndices([&](int x) { return (s[x >> 3] >> (7 - (x & 7))) & 1; }, d, palette, width, destinationBits);
  } else if (pair == 408 || pair == 424) {
    SpreadIndices([&](int x) { return (x & 1) ? (s[x >> 1] & 0x0F) : (s[x >> 1] >> 4); }, d, palette, width,
                  destinationBits);
  }
  return bytes;
}
