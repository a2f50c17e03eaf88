#include "base/toolbox/resample_core.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/rtl/rounding.h"

int ResampleWorkerCountOverride = 0;

namespace {

// One output channel: the weighted sum over the weight total, truncating toward
// zero; with a zero total (nothing contributed, or weights that cancel) the sum
// over the weight unit.
inline uint8_t Finish(int32_t sum, int32_t weights, int32_t unit) {
  return static_cast<uint8_t>(ClampToByte(weights != 0 ? sum / weights : sum / unit));
}

template <int SB, int C>
void HorizontalPlain(const TPixelRows& src, const TContributorList& list, TPixelBuffer& inter) {
  const int W = list.Size();
  const int32_t* pix = list.Pixel.data();
  const int32_t* wt = list.Weight.data();
  for (int y = 0; y < src.Height; ++y) {
    const uint8_t* row = src.Row(y);
    uint8_t* out = inter.Bytes.data() + static_cast<size_t>(y) * W * C;
    for (int x = 0; x < W; ++x) {
      int32_t sum[C] = {};
      const int first = list.First[x], end = first + list.Count[x];
      for (int t = first; t < end; ++t) {
        const uint8_t* p = row + pix[t] * SB;
        const int32_t k = wt[t];
        for (int c = 0; c < C; ++c) sum[c] += k * p[c];
      }
      for (int c = 0; c < C; ++c) out[x * C + c] = Finish(sum[c], list.WeightSum[x], list.WeightUnit);
    }
  }
}

template <int C>
void VerticalPlain(const TPixelBuffer& inter, const TContributorList& list, const TPixelRows& dst, int dstPixelBytes) {
  const int W = inter.Width;
  const int n = W * C;
  std::vector<int32_t> acc(n);
  for (int y = 0; y < list.Size(); ++y) {
    std::fill(acc.begin(), acc.end(), 0);
    const int first = list.First[y], end = first + list.Count[y];
    for (int t = first; t < end; ++t) {
      const uint8_t* row = inter.Bytes.data() + static_cast<size_t>(list.Pixel[t]) * n;
      const int32_t k = list.Weight[t];
      int32_t* a = acc.data();
      for (int i = 0; i < n; ++i) a[i] += k * row[i];
    }
    uint8_t* out = dst.Row(y);
    const int32_t weights = list.WeightSum[y];
    for (int x = 0; x < W; ++x)
      for (int c = 0; c < C; ++c) out[x * dstPixelBytes + c] = Finish(acc[x * C + c], weights, list.WeightUnit);
  }
}

template <int C>
void PlainPasses(const TPixelRows& src, int srcPixelBytes, const TPixelRows& dst, int dstPixelBytes,
                 TIconResampleFilter filter) {
  const TContributorList horiz = BuildContributors(src.Width, dst.Width, filter);
  TPixelBuffer inter(dst.Width, src.Height, C);
  switch (srcPixelBytes) {
    case 1: HorizontalPlain<1, C>(src, horiz, inter); break;
    case 3: HorizontalPlain<3, C>(src, horiz, inter); break;
    default: HorizontalPlain<4, C>(src, horiz, inter); break;
  }
  const TContributorList vert = BuildContributors(src.Height, dst.Height, filter);
  VerticalPlain<C>(inter, vert, dst, dstPixelBytes);
}

// Intermediate of the alpha-aware path: blue, green, red and the weighted alpha
// per pixel, and the alpha resampled with plain weights in a plane of its own.
// Rows [FirstRow, FirstRow + Rows) of the horizontal result are held.
struct TAlphaIntermediate {
  TPixelBuffer Colour;  // 4 bytes: blue, green, red, weighted alpha
  TPixelBuffer Alpha;   // 1 byte: plain alpha
  int FirstRow = 0;
  const uint8_t* ColourRow(int y) const {
    return Colour.Bytes.data() + static_cast<size_t>(y - FirstRow) * Colour.Width * 4;
  }
  const uint8_t* AlphaRow(int y) const {
    return Alpha.Bytes.data() + static_cast<size_t>(y - FirstRow) * Alpha.Width;
  }
  uint8_t* ColourRow(int y) { return const_cast<uint8_t*>(std::as_const(*this).ColourRow(y)); }
  uint8_t* AlphaRow(int y) { return const_cast<uint8_t*>(std::as_const(*this).AlphaRow(y)); }
};

// The alpha weight of one tap, (a * k) / 255 truncated toward zero, without
// a division: for |a * k| below 65,536 (a a byte, |k| at most 257) the
// quotient is (|a * k| * 0x8081) >> 23, given the sign of k.
inline int32_t AlphaWeight(int32_t a, int32_t k) {
  const int32_t sign = k >> 31;  // 0 or -1
  const uint32_t q = (static_cast<uint32_t>(a * ((k ^ sign) - sign)) * 0x8081u) >> 23;
  return (static_cast<int32_t>(q) ^ sign) - sign;
}

// True when every weight of the list keeps a * |k| within 16 bits, which the
// division-free alpha weight and the 16-bit lanes below rely on.
bool WeightsFit16(const TContributorList& list) {
  for (const int32_t w : list.Weight)
    if (w > 257 || w < -257) return false;
  return true;
}

// Horizontal pass of the alpha-aware path, scalar: rows [y0, y1) of the
// source into the intermediate. Colour and alpha may be different rows.
template <int CB, int AB>
void HorizontalWithAlpha(const TPixelRows& colour, const TPixelRows& alpha, int alphaOffset,
                         const TContributorList& list, TAlphaIntermediate& inter, int y0, int y1, bool fast) {
  const int W = list.Size();
  const int32_t* pix = list.Pixel.data();
  const int32_t* wt = list.Weight.data();
  const int32_t unit = list.WeightUnit;
  for (int y = y0; y < y1; ++y) {
    const uint8_t* crow = colour.Row(y);
    const uint8_t* arow = alpha.Row(y) + alphaOffset;
    uint8_t* out = inter.ColourRow(y);
    uint8_t* outA = inter.AlphaRow(y);
    for (int x = 0; x < W; ++x) {
      int32_t sv = 0, sb = 0, sg = 0, sr = 0, sa = 0, pa = 0;
      const int first = list.First[x], end = first + list.Count[x];
      for (int t = first; t < end; ++t) {
        const int j = pix[t];
        const int32_t k = wt[t];
        const int32_t a = arow[j * AB];
        const int32_t v = fast ? AlphaWeight(a, k) : (a * k) / 255;  // truncates toward zero for negative lobes
        const uint8_t* c = crow + j * CB;
        sv += v;
        sb += v * c[0];
        sg += v * c[1];
        sr += v * c[2];
        sa += v * a;
        pa += k * a;
      }
      out[x * 4 + 0] = Finish(sb, sv, unit);
      out[x * 4 + 1] = Finish(sg, sv, unit);
      out[x * 4 + 2] = Finish(sr, sv, unit);
      out[x * 4 + 3] = Finish(sa, sv, unit);
      outA[x] = Finish(pa, list.WeightSum[x], unit);
    }
  }
}

// One output pixel of the vertical pass from its sums.
inline void FinishVertical(uint8_t* out, const int32_t* sums, int32_t sv, int32_t pa, int32_t weights, int32_t unit,
                           bool plainAlpha) {
  out[0] = Finish(sums[0], sv, unit);
  out[1] = Finish(sums[1], sv, unit);
  out[2] = Finish(sums[2], sv, unit);
  out[3] = plainAlpha ? Finish(pa, weights, unit) : Finish(sums[3], sv, unit);
}

// Vertical pass, scalar: the output columns [x0, x1) of output row y.
void VerticalColumns(const TAlphaIntermediate& inter, const TContributorList& list, int y, uint8_t* out, int x0,
                     int x1, bool plainAlpha, bool fast) {
  const int first = list.First[y], end = first + list.Count[y];
  for (int x = x0; x < x1; ++x) {
    int32_t sums[4] = {}, sv = 0, pa = 0;
    for (int t = first; t < end; ++t) {
      const uint8_t* p = inter.ColourRow(list.Pixel[t]) + x * 4;
      const int32_t k = list.Weight[t];
      const int32_t a = p[3];
      const int32_t v = fast ? AlphaWeight(a, k) : (a * k) / 255;
      sv += v;
      sums[0] += v * p[0];
      sums[1] += v * p[1];
      sums[2] += v * p[2];
      sums[3] += v * a;
      pa += k * inter.AlphaRow(list.Pixel[t])[x];
    }
    FinishVertical(out + x * 4, sums, sv, pa, list.WeightSum[y], list.WeightUnit, plainAlpha);
  }
}

#if defined(__SSE2__)

// The taps of a contributor list in groups of four for the 16-bit lanes: the
// pixel indexes and weights of each output, padded with weight 0 on a pixel
// of its own (which then adds nothing to any sum).
struct TTapGroups {
  std::vector<int32_t> Start, Groups;  // per output: first tap, groups of four
  std::vector<int32_t> Pixel;
  std::vector<int16_t> Weight;
};

TTapGroups GroupTaps(const TContributorList& list) {
  TTapGroups g;
  const int n = list.Size();
  g.Start.resize(n);
  g.Groups.resize(n);
  for (int i = 0; i < n; ++i) {
    const int first = list.First[i], count = list.Count[i];
    g.Start[i] = static_cast<int32_t>(g.Pixel.size());
    g.Groups[i] = (count + 3) / 4;
    for (int t = 0; t < g.Groups[i] * 4; ++t) {
      const bool real = t < count;
      g.Pixel.push_back(real ? list.Pixel[first + t] : (count > 0 ? list.Pixel[first] : 0));
      g.Weight.push_back(static_cast<int16_t>(real ? list.Weight[first + t] : 0));
    }
  }
  return g;
}

inline __m128i Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(static_cast<int>(v));
}

inline int32_t SumLanes(__m128i v) {
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
  return _mm_cvtsi128_si32(v);
}

// Four channels at once as Finish does them: sums[i] / divisors[i] truncated
// toward zero (the unit standing in for a zero divisor), clamped to a byte.
// The quotients are taken in double precision, which gives the integer
// quotient exactly wherever it lies between -1 and 256; beyond, both clamp
// alike. Returns the four bytes, the first in the low byte.
inline uint32_t Quotients4(__m128i sums, __m128i divisors, int32_t unit) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i isZero = _mm_cmpeq_epi32(divisors, zero);
  divisors = _mm_or_si128(_mm_andnot_si128(isZero, divisors), _mm_and_si128(isZero, _mm_set1_epi32(unit)));
  const __m128d lo = _mm_div_pd(_mm_cvtepi32_pd(sums), _mm_cvtepi32_pd(divisors));
  const __m128d hi = _mm_div_pd(_mm_cvtepi32_pd(_mm_srli_si128(sums, 8)), _mm_cvtepi32_pd(_mm_srli_si128(divisors, 8)));
  const __m128i q = _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
  const __m128i words = _mm_packs_epi32(q, q);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
}

inline void Store4(uint8_t* out, uint32_t bytes) { std::memcpy(out, &bytes, 4); }

// Horizontal pass over 32-bit rows whose fourth byte is the alpha, four taps
// at a time: the alpha weights of the four taps in 16-bit lanes, then two
// taps' blue, green, red and alpha against their weights with one
// multiply-add each.
void HorizontalWithAlpha32(const TPixelRows& rows, const TContributorList& list, const TTapGroups& taps,
                           TAlphaIntermediate& inter, int y0, int y1) {
  const int W = list.Size();
  const int32_t unit = list.WeightUnit;
  const __m128i zero = _mm_setzero_si128();
  const __m128i ones = _mm_set1_epi16(1);
  const __m128i magic = _mm_set1_epi16(static_cast<int16_t>(0x8081));
  for (int y = y0; y < y1; ++y) {
    const uint8_t* row = rows.Row(y);
    uint8_t* out = inter.ColourRow(y);
    uint8_t* outA = inter.AlphaRow(y);
    for (int x = 0; x < W; ++x) {
      const int32_t* pix = taps.Pixel.data() + taps.Start[x];
      const int16_t* wt = taps.Weight.data() + taps.Start[x];
      __m128i accC = zero, accV = zero, accP = zero;
      for (int g = 0; g < taps.Groups[x]; ++g, pix += 4, wt += 4) {
        const __m128i q01 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(Load32(row + pix[0] * 4), Load32(row + pix[1] * 4)), zero);
        const __m128i q23 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(Load32(row + pix[2] * 4), Load32(row + pix[3] * 4)), zero);
        const __m128i a = _mm_srli_si128(_mm_unpackhi_epi32(q01, q23), 8);
        const __m128i k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(wt));
        const __m128i sign = _mm_srai_epi16(k, 15);
        const __m128i ak = _mm_mullo_epi16(a, _mm_sub_epi16(_mm_xor_si128(k, sign), sign));
        const __m128i q = _mm_srli_epi16(_mm_mulhi_epu16(ak, magic), 7);
        const __m128i v = _mm_sub_epi16(_mm_xor_si128(q, sign), sign);
        accV = _mm_add_epi32(accV, _mm_madd_epi16(v, ones));
        accP = _mm_add_epi32(accP, _mm_madd_epi16(k, a));
        accC = _mm_add_epi32(accC, _mm_madd_epi16(q01, _mm_shuffle_epi32(v, 0x00)));
        accC = _mm_add_epi32(accC, _mm_madd_epi16(q23, _mm_shuffle_epi32(v, 0x55)));
      }
      Store4(out + x * 4, Quotients4(accC, _mm_set1_epi32(SumLanes(accV)), unit));
      outA[x] = Finish(SumLanes(accP), list.WeightSum[x], unit);
    }
  }
}

// Vertical pass over four output pixels at a time, their sums in registers
// across the taps.
void VerticalWithAlpha4(const TAlphaIntermediate& inter, const TContributorList& list, int y, uint8_t* out, int W,
                        bool plainAlpha) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i magic = _mm_set1_epi16(static_cast<int16_t>(0x8081));
  const int first = list.First[y], end = first + list.Count[y];
  const int blocks = W / 4;
  for (int b = 0; b < blocks; ++b) {
    const int x = b * 4;
    __m128i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero, accV = zero, accP = zero;
    for (int t = first; t < end; ++t) {
      const int j = list.Pixel[t];
      const int32_t k = list.Weight[t];
      const int32_t sign = k >> 31;
      const __m128i signs = _mm_set1_epi32(sign);
      const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inter.ColourRow(j) + x * 4));
      const __m128i a = _mm_srli_epi32(p, 24);
      const __m128i ak = _mm_mullo_epi16(a, _mm_set1_epi32((k ^ sign) - sign));
      const __m128i q = _mm_srli_epi16(_mm_mulhi_epu16(ak, magic), 7);
      const __m128i v = _mm_sub_epi32(_mm_xor_si128(q, signs), signs);
      accV = _mm_add_epi32(accV, v);
      const __m128i lo = _mm_unpacklo_epi8(p, zero), hi = _mm_unpackhi_epi8(p, zero);
      acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(lo, zero), _mm_shuffle_epi32(v, 0x00)));
      acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(lo, zero), _mm_shuffle_epi32(v, 0x55)));
      acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi16(hi, zero), _mm_shuffle_epi32(v, 0xAA)));
      acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi16(hi, zero), _mm_shuffle_epi32(v, 0xFF)));
      const __m128i pa = _mm_unpacklo_epi16(_mm_unpacklo_epi8(Load32(inter.AlphaRow(j) + x), zero), zero);
      accP = _mm_add_epi32(accP, _mm_madd_epi16(pa, _mm_set1_epi32(k & 0xFFFF)));
    }
    // Per pixel: blue, green, red over its alpha weights; alpha over the
    // same, or the plain alpha over the weight sum.
    alignas(16) int32_t sv[4], pa[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(sv), accV);
    _mm_store_si128(reinterpret_cast<__m128i*>(pa), accP);
    const __m128i accs[4] = {acc0, acc1, acc2, acc3};
    const int32_t weights = list.WeightSum[y], unit = list.WeightUnit;
    for (int i = 0; i < 4; ++i) {
      __m128i sums = accs[i], divisors = _mm_set1_epi32(sv[i]);
      if (plainAlpha) {
        sums = _mm_insert_epi16(_mm_insert_epi16(sums, pa[i] & 0xFFFF, 6), (pa[i] >> 16) & 0xFFFF, 7);
        divisors = _mm_set_epi32(weights, sv[i], sv[i], sv[i]);
      }
      Store4(out + (x + i) * 4, Quotients4(sums, divisors, unit));
    }
  }
  VerticalColumns(inter, list, y, out, blocks * 4, W, plainAlpha, true);
}

#endif

// Runs work(first, last) over [0, count) in consecutive bands, one per worker
// thread, when the whole is worth the threads (cost: about the multiply-adds
// of one item); the calling thread takes the first band. The bands write
// disjoint rows, so they need no locking.
void RunInBands(int count, int64_t cost, const std::function<void(int, int)>& work) {
  constexpr int64_t kWorthAThread = 250000;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int64_t total = cost * count;
  const int workers =
      ResampleWorkerCountOverride > 0
          ? std::clamp(ResampleWorkerCountOverride, 1, std::max(count, 1))
          : static_cast<int>(std::clamp<int64_t>(total / kWorthAThread, 1, std::max(1, std::min({cores, 8, count}))));
  if (workers <= 1) {
    work(0, count);
    return;
  }
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(workers - 1));
  const int band = count / workers;
  int started = 1;
  try {
    for (; started < workers; ++started) {
      const int first = started * band, last = started == workers - 1 ? count : first + band;
      threads.emplace_back(work, first, last);
    }
  } catch (const std::system_error&) {
    // No more threads to be had: the calling thread does the rest.
    work(started * band, count);
  }
  work(0, band);
  for (auto& t : threads) t.join();
}

// Horizontal, then vertical, with the intermediate held only for the rows the
// vertical pass reads.
void AlphaPasses(const TPixelRows& colour, int colourPixelBytes, const TPixelRows& alpha, int alphaPixelBytes,
                 int alphaOffset, const TPixelRows& dst, const TContributorList& horiz, const TContributorList& vert,
                 bool plainAlpha) {
  int rowFirst = colour.Height, rowLast = -1;
  for (const int32_t j : vert.Pixel) {
    rowFirst = std::min(rowFirst, static_cast<int>(j));
    rowLast = std::max(rowLast, static_cast<int>(j));
  }
  const int W = horiz.Size();
  const int rows = rowLast >= rowFirst ? rowLast - rowFirst + 1 : 0;
  TAlphaIntermediate inter{TPixelBuffer(W, rows, 4), TPixelBuffer(W, rows, 1), rowFirst};
  const bool fast = WeightsFit16(horiz) && WeightsFit16(vert);
  const bool interleaved = colourPixelBytes == 4 && alphaPixelBytes == 4 && alphaOffset == 3 &&
                           colour.Base == alpha.Base && colour.Stride == alpha.Stride;
  const int64_t hCost = static_cast<int64_t>(horiz.Pixel.size()) + W;
  if (rows > 0) {
#if defined(__SSE2__)
    if (fast && interleaved) {
      const TTapGroups taps = GroupTaps(horiz);
      RunInBands(rows, hCost, [&](int a, int b) {
        HorizontalWithAlpha32(colour, horiz, taps, inter, rowFirst + a, rowFirst + b);
      });
    } else
#endif
      RunInBands(rows, hCost * 3, [&](int a, int b) {
        if (colourPixelBytes == 4 && alphaPixelBytes == 4)
          HorizontalWithAlpha<4, 4>(colour, alpha, alphaOffset, horiz, inter, rowFirst + a, rowFirst + b, fast);
        else
          HorizontalWithAlpha<3, 3>(colour, alpha, alphaOffset, horiz, inter, rowFirst + a, rowFirst + b, fast);
      });
  }
  const int64_t vCost = (static_cast<int64_t>(vert.Pixel.size()) / std::max(1, vert.Size()) + 1) * W;
  RunInBands(vert.Size(), vCost, [&](int a, int b) {
    for (int y = a; y < b; ++y) {
#if defined(__SSE2__)
      if (fast) {
        VerticalWithAlpha4(inter, vert, y, dst.Row(y), W, plainAlpha);
        continue;
      }
#endif
      VerticalColumns(inter, vert, y, dst.Row(y), 0, W, plainAlpha, fast);
    }
  });
}

// The outputs [firstOut, firstOut + count) of a list, with every source index
// moved down by shift; taps that then fall outside [0, extent) are left out.
// Used where the source is a picture inside a transparent frame: the frame's
// pixels have alpha 0 and so add nothing to any sum, and the weight sums
// (which count them) stay as they were.
TContributorList WindowOf(const TContributorList& list, int firstOut, int count, int shift, int extent) {
  TContributorList w;
  w.WeightUnit = list.WeightUnit;
  w.First.resize(count);
  w.Count.resize(count);
  w.WeightSum.resize(count);
  for (int i = 0; i < count; ++i) {
    const int o = firstOut + i;
    w.First[i] = static_cast<int32_t>(w.Pixel.size());
    for (int t = list.First[o]; t < list.First[o] + list.Count[o]; ++t) {
      const int j = list.Pixel[t] - shift;
      if (j < 0 || j >= extent) continue;
      w.Pixel.push_back(j);
      w.Weight.push_back(list.Weight[t]);
    }
    w.Count[i] = static_cast<int32_t>(w.Pixel.size()) - w.First[i];
    w.WeightSum[i] = list.WeightSum[o];
  }
  return w;
}

}  // namespace

void ResampleRowsPlain(const TPixelRows& src, int srcPixelBytes, const TPixelRows& dst, int dstPixelBytes,
                       int channels, TIconResampleFilter filter) {
  if (src.Width <= 0 || src.Height <= 0 || dst.Width <= 0 || dst.Height <= 0) return;
  if (channels == 1)
    PlainPasses<1>(src, srcPixelBytes, dst, dstPixelBytes, filter);
  else
    PlainPasses<3>(src, srcPixelBytes, dst, dstPixelBytes, filter);
}

void ResampleRowsWithAlpha(const TPixelRows& colour, int colourPixelBytes, const TPixelRows& alpha,
                           int alphaPixelBytes, int alphaOffset, const TPixelRows& dst, TIconResampleFilter filter,
                           bool plainAlpha) {
  if (colour.Width <= 0 || colour.Height <= 0 || dst.Width <= 0 || dst.Height <= 0) return;
  const TContributorList horiz = BuildContributors(colour.Width, dst.Width, filter);
  const TContributorList vert = BuildContributors(colour.Height, dst.Height, filter);
  AlphaPasses(colour, colourPixelBytes, alpha, alphaPixelBytes, alphaOffset, dst, horiz, vert, plainAlpha);
}

bool BorderAlphaAverages(const TPixelRows& rows, uint8_t& left, uint8_t& top, uint8_t& right, uint8_t& bottom) {
  const int w = rows.Width, h = rows.Height;
  if (w < 4 || h < 4 || w / h > 40 || h / w > 40) return false;
  const int k = w / 32;
  int64_t sl = 0, sr = 0, st = 0, sb = 0;
  const int rightStart = std::max(0, w - 1 - k), topEnd = std::min(k, h - 1), bottomStart = std::max(0, h - 1 - k);
  const int leftEnd = std::min(k, w - 1);
  // Row by row: the strips along the top and bottom are whole rows.
  for (int y = 0; y < h; ++y) {
    const uint8_t* a = rows.Row(y) + 3;
    for (int x = 0; x <= leftEnd; ++x) sl += a[x * 4];
    for (int x = rightStart; x < w; ++x) sr += a[x * 4];
    const bool inTop = y <= topEnd, inBottom = y >= bottomStart;
    if (!inTop && !inBottom) continue;
    int64_t whole = 0;
    for (int x = 0; x < w; ++x) whole += a[x * 4];
    if (inTop) st += whole;
    if (inBottom) sb += whole;
  }
  left = static_cast<uint8_t>(sl / ((k + 1) * static_cast<int64_t>(h)));
  right = static_cast<uint8_t>(sr / ((k + 1) * static_cast<int64_t>(h)));
  top = static_cast<uint8_t>(st / ((k + 1) * static_cast<int64_t>(w)));
  bottom = static_cast<uint8_t>(sb / ((k + 1) * static_cast<int64_t>(w)));
  return true;
}

void ClearTransparentWhiteRows(const TPixelRows& rows) {
  for (int y = 0; y < rows.Height; ++y) {
    uint32_t* p = reinterpret_cast<uint32_t*>(rows.Row(y));
    for (int x = 0; x < rows.Width; ++x) p[x] = p[x] == 0x00FFFFFFu ? 0 : p[x];
  }
}

namespace {

bool HasTransparentWhite(const TPixelRows& rows) {
  for (int y = 0; y < rows.Height; ++y) {
    const uint32_t* p = reinterpret_cast<const uint32_t*>(rows.Row(y));
    uint32_t found = 0;
    for (int x = 0; x < rows.Width; ++x) found |= p[x] == 0x00FFFFFFu ? 1u : 0u;
    if (found) return true;
  }
  return false;
}

}  // namespace

void ResampleBlock32(const TPixelRows& source, const TPixelRows& target, TIconResampleFilter filter) {
  const int w = source.Width, h = source.Height, W = target.Width, H = target.Height;
  if (w <= 0 || h <= 0 || W <= 0 || H <= 0) return;
  uint8_t l = 0, t = 0, r = 0, b = 0;
  const bool border = BorderAlphaAverages(source, l, t, r, b) && (l >= 1 || t >= 1 || r >= 1 || b >= 1) &&
                      l <= 230 && t <= 230 && r <= 230 && b <= 230 && W >= 4 && H >= 4;
  if (!border) {
    // Colour pixels of alpha 0 weigh nothing in the alpha-weighted passes, so
    // the 32-bit rows serve as colour and alpha at once.
    AlphaPasses(source, 4, source, 4, 3, target, BuildContributors(w, W, filter), BuildContributors(h, H, filter),
                true);
  } else {
    // The picture is resampled as if inside a transparent frame of kFrame
    // pixels into a target with a frame of (bx, by), of which only the
    // middle is kept. The frame's pixels add nothing to any sum, so the
    // passes read the picture itself through lists of the framed extents cut
    // to the outputs that are kept.
    constexpr int kFrame = 30;
    const int bx = static_cast<int>(Round(W * static_cast<double>(kFrame) / w));
    const int by = static_cast<int>(Round(H * static_cast<double>(kFrame) / h));
    const TContributorList horiz =
        WindowOf(BuildContributors(w + 2 * kFrame, W + 2 * bx, filter), bx, W, kFrame, w);
    const TContributorList vert = WindowOf(BuildContributors(h + 2 * kFrame, H + 2 * by, filter), by, H, kFrame, h);
    AlphaPasses(source, 4, source, 4, 3, target, horiz, vert, true);
  }
  // Pixels of exactly transparent white are cleared unless the source had
  // some; the source is searched only when the (smaller) result has any.
  if (HasTransparentWhite(target) && !HasTransparentWhite(source)) ClearTransparentWhiteRows(target);
}
