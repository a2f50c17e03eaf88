// rfBilinear and rfBicubic for same-format grey and RGB pairs: every output
// pixel gathers the exact areas in which it overlaps source pixels, taking the
// samples as they are on a reducing axis and interpolated at the end of each
// overlap on an enlarging one.
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/core/ie_resample.h"
#include "imaging/core/ie_resample_internal.h"
#include "platform/rtl/rounding.h"

using namespace ieresample;

double CubicInterpolate(double pm1, double p0, double p1, double p2, double t, double low, double high) {
  const auto v = [](double u) { return u * u * u - 2.0 * u * u + 1.0; };
  const auto w = [](double u) { return -u * u * u + 5.0 * u * u - 8.0 * u + 4.0; };
  const double r =
      pm1 * w(std::abs(t + 1.0)) + p0 * v(std::abs(t)) + p1 * v(std::abs(t - 1.0)) + p2 * w(std::abs(t - 2.0));
  return r < low ? low : (r > high ? high : r);
}

void AlphaRowToReals(double* reals, const uint8_t* alpha, int n) {
  for (int i = 0; i < n; ++i) reals[i] = alpha[i] / 255.0;
}

void FillRealsWithOne(double* reals, int n) { std::fill(reals, reals + n, 1.0); }

namespace {

// Where source and destination boundaries meet within this distance they count as one.
constexpr double kBoundaryTolerance = 1e-4;

// One overlap of a destination pixel with a source pixel along an axis: its
// length, and where an enlarging axis interpolates (the overlap's end inside
// the source pixel, 1.0 at the source pixel's end). EndsOutput is set on the
// last overlap of each destination pixel.
struct TSegment {
  int Source;
  int Destination;
  double Length;
  double T;
  bool EndsOutput;
};

std::vector<TSegment> BuildSegments(int sourceLength, int destinationLength) {
  const double ratio = double(sourceLength) / destinationLength;
  std::vector<TSegment> segments;
  segments.reserve(size_t(sourceLength) + size_t(destinationLength));
  double position = 0.0;
  int s = 0;
  for (int d = 0; d < destinationLength;) {
    const double sourceEnd = s + 1.0;
    const double destinationEnd = (d + 1.0) * ratio;
    const int source = std::min(s, sourceLength - 1);
    if (destinationEnd <= sourceEnd + kBoundaryTolerance) {
      const bool both = destinationEnd >= sourceEnd - kBoundaryTolerance;
      segments.push_back({source, d, destinationEnd - position, both ? 1.0 : destinationEnd - s, true});
      position = destinationEnd;
      ++d;
      if (both) ++s;
    } else {
      segments.push_back({source, d, sourceEnd - position, 1.0, false});
      position = sourceEnd;
      ++s;
    }
  }
  return segments;
}

// Source rows as reals, each read once, kept four at a time (the walk needs a
// row and up to one before and two after it, always in rising order).
class TRowCache {
public:
  TRowCache(TIEBitmap* bitmap, int samples) : FBitmap(bitmap), FSamples(samples) {
    for (auto& row : FRows) row.resize(size_t(samples));
  }
  const double* Row(int y) {
    const size_t slot = size_t(y) & 3;
    if (FIndex[slot] != y) {
      Load(y, FRows[slot].data());
      FIndex[slot] = y;
    }
    return FRows[slot].data();
  }

private:
  void Load(int y, double* out) {
    const uint8_t* row = FBitmap ? FBitmap->ScanLine(y) : nullptr;
    if (!row) {
      std::fill(out, out + FSamples, 0.0);
      return;
    }
    if (FBitmap->BitCount() / FBitmap->ChannelCount() == 16) {
      const auto* words = reinterpret_cast<const uint16_t*>(row);
      for (int i = 0; i < FSamples; ++i) out[i] = words[i];
    } else {
      for (int i = 0; i < FSamples; ++i) out[i] = row[i];
    }
  }
  TIEBitmap* FBitmap;
  int FSamples;
  std::vector<double> FRows[4];
  int FIndex[4] = {-1, -1, -1, -1};
};

struct TNeighbours {
  int Previous, Current, Next, NextButOne;
};

inline TNeighbours NeighboursOf(int i, int n) {
  const int next = i < n - 1 ? i + 1 : i;
  return {i > 0 ? i - 1 : i, i, next, i + 2 <= n - 1 ? i + 2 : next};
}

template <class Store>
void WriteOutputRow(std::vector<double>& acc, double factor, double high, Store store) {
  for (size_t i = 0; i < acc.size(); ++i) {
    const int64_t v = Round(acc[i] * factor);
    store(i, v < 0 ? 0.0 : (v > high ? high : double(v)));
    acc[i] = 0.0;
  }
}

// The walk over both axes for C channels of samples 0..high.
template <int C>
void AreaResample(TIEBitmap& source, TIEBitmap& destination, TIEBitmap* sourceAlpha, TObject* sender,
                  const TIEProgressEvent& progress, bool cubic, double high) {
  const int sw = source.Width(), sh = source.Height(), dw = destination.Width(), dh = destination.Height();
  const double ax = double(sw) / dw, ay = double(sh) / dh;
  const bool enlargeX = ax < 1.0, enlargeY = ay < 1.0;
  const std::vector<TSegment> columns = BuildSegments(sw, dw), rows = BuildSegments(sh, dh);
  if (sourceAlpha && (sourceAlpha->Width() != sw || sourceAlpha->Height() != sh || sourceAlpha->BitCount() != 8))
    sourceAlpha = nullptr;
  const bool alphaRule = C == 3 && enlargeX && enlargeY && !cubic;
  TIEAccessScope readScope(source, 1);
  TIEAccessScope writeScope(destination, 2);
  TRowCache cache(&source, sw * C);
  TRowCache alphaCache(alphaRule ? sourceAlpha : nullptr, sw);
  std::vector<double> ones(static_cast<size_t>(sw), 1.0);
  std::vector<double> acc(static_cast<size_t>(dw) * C, 0.0);
  std::vector<uint8_t> out(static_cast<size_t>(destination.RowLen()), 0);
  const double factor = 1.0 / (ax * ay);
  const bool sixteen = high > 255.0;
  TIEProgressReporter reporter(sender, progress);

  for (const TSegment& vs : rows) {
    const TNeighbours ry = NeighboursOf(vs.Source, sh);
    const double* cur = cache.Row(ry.Current);
    const double* nxt = enlargeY ? cache.Row(ry.Next) : cur;
    const double* prv = enlargeY && cubic ? cache.Row(ry.Previous) : cur;
    const double* nx2 = enlargeY && cubic ? cache.Row(ry.NextButOne) : cur;
    const double* alphaCur = alphaRule ? (sourceAlpha ? alphaCache.Row(ry.Current) : ones.data()) : nullptr;
    const double* alphaNext = alphaRule ? (sourceAlpha ? alphaCache.Row(ry.Next) : ones.data()) : nullptr;
    for (const TSegment& hs : columns) {
      const double area = hs.Length * vs.Length;
      double* a = acc.data() + size_t(hs.Destination) * C;
      const TNeighbours rx = NeighboursOf(hs.Source, sw);
      const int xc = rx.Current * C, xn = rx.Next * C, xp = rx.Previous * C, xn2 = rx.NextButOne * C;
      if (!enlargeX && !enlargeY) {
        for (int ch = 0; ch < C; ++ch) a[ch] += cur[xc + ch] * area;
      } else if (enlargeX && !enlargeY) {
        const double t = hs.T;
        for (int ch = 0; ch < C; ++ch) {
          const double value = cubic ? CubicInterpolate(cur[xp + ch], cur[xc + ch], cur[xn + ch], cur[xn2 + ch], t, 0, high)
                                     : (1.0 - t) * cur[xc + ch] + t * cur[xn + ch];
          a[ch] += value * area;
        }
      } else if (!enlargeX && enlargeY) {
        const double t = vs.T;
        for (int ch = 0; ch < C; ++ch) {
          const double value = cubic ? CubicInterpolate(prv[xc + ch], cur[xc + ch], nxt[xc + ch], nx2[xc + ch], t, 0, high)
                                     : (1.0 - t) * cur[xc + ch] + t * nxt[xc + ch];
          a[ch] += value * area;
        }
      } else if (cubic) {
        const double* four[4] = {prv, cur, nxt, nx2};
        for (int ch = 0; ch < C; ++ch) {
          double across[4];
          for (int k = 0; k < 4; ++k)
            across[k] = double(Round(CubicInterpolate(four[k][xp + ch], four[k][xc + ch], four[k][xn + ch],
                                                      four[k][xn2 + ch], hs.T, 0, high)));
          a[ch] += CubicInterpolate(across[0], across[1], across[2], across[3], vs.T, 0, high) * area;
        }
      } else {
        // Corners: this row left and right, the next row left and right.
        const double* corner[4] = {cur + xc, cur + xn, nxt + xc, nxt + xn};
        if (alphaRule) {
          const double alpha[4] = {alphaCur[rx.Current], alphaCur[rx.Next], alphaNext[rx.Current],
                                   alphaNext[rx.Next]};
          const double lowest = std::min(std::min(alpha[0], alpha[1]), std::min(alpha[2], alpha[3]));
          int chosen = -1;
          for (int k = 0; k < 4; ++k)
            if (alpha[k] > lowest) chosen = k;
          // Colour of a transparent pixel must not bleed into an opaque border.
          if (chosen >= 0) {
            const double* keep = corner[chosen];
            for (auto& c : corner) c = keep;
          }
        }
        const double th = hs.T, tv = vs.T;
        for (int ch = 0; ch < C; ++ch) {
          const double top = (1.0 - th) * corner[0][ch] + th * corner[1][ch];
          const double bottom = (1.0 - th) * corner[2][ch] + th * corner[3][ch];
          a[ch] += ((1.0 - tv) * top + tv * bottom) * area;
        }
      }
    }
    if (!vs.EndsOutput) continue;
    if (sixteen) {
      auto* words = reinterpret_cast<uint16_t*>(out.data());
      WriteOutputRow(acc, factor, high, [words](size_t i, double v) { words[i] = uint16_t(v); });
    } else {
      uint8_t* bytes = out.data();
      WriteOutputRow(acc, factor, high, [bytes](size_t i, double v) { bytes[i] = uint8_t(v); });
    }
    if (uint8_t* d = destination.ScanLine(vs.Destination)) std::memcpy(d, out.data(), out.size());
    reporter.Report(int(Trunc(double(vs.Destination + 1) / dh * 100.0)));
  }
}

bool ReadyPair(TIEBitmap& source, TIEBitmap& destination) {
  return HavePixels(source, destination) && source.PixelFormat() == destination.PixelFormat();
}

}  // namespace

void ResampleBilinearBicubic(TIEBitmap& source, TIEBitmap& destination, TIEBitmap* sourceAlpha, TObject* sender,
                             const TIEProgressEvent& progress, bool cubic) {
  if (!ReadyPair(source, destination)) return;
  if (source.PixelFormat() == ie24RGB) AreaResample<3>(source, destination, sourceAlpha, sender, progress, cubic, 255.0);
  else if (source.PixelFormat() == ie8g) AreaResample<1>(source, destination, nullptr, sender, progress, cubic, 255.0);
}

void ResampleBilinearBicubic16(TIEBitmap& source, TIEBitmap& destination, bool cubic, TObject* sender,
                               const TIEProgressEvent& progress) {
  if (!ReadyPair(source, destination)) return;
  if (source.PixelFormat() == ieRGB48) AreaResample<3>(source, destination, nullptr, sender, progress, cubic, 65535.0);
  else if (source.PixelFormat() == ie16g) AreaResample<1>(source, destination, nullptr, sender, progress, cubic, 65535.0);
}
