#include "base/toolbox/resample_core.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QV_RESAMPLE_AVX2 1
#endif

#include "platform/rtl/rounding.h"

int ResampleWorkerCountOverride = 0;
bool ResampleWideVectors = true;

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
// Rows [FirstRow, FirstRow + Rows) of the horizontal result are held, each
// padded to whole groups of eight pixels (the padding is never stored to the
// target). The bytes live in a block the calling thread keeps for its next
// resize when it is small, so that icon-sized work allocates nothing.
struct TAlphaIntermediate {
  int Width = 0, Stride = 0, FirstRow = 0;
  uint8_t *ColourBytes = nullptr, *AlphaBytes = nullptr;
  // Per row: 1 where the pass that wrote it saw every alpha byte 255.
  uint8_t* OpaqueRows = nullptr;
  std::vector<uint8_t> Own;

  TAlphaIntermediate(int width, int rows, int firstRow) : Width(width), Stride((width + 7) & ~7), FirstRow(firstRow) {
    constexpr size_t kKept = size_t(1) << 20;
    thread_local std::vector<uint8_t> kept;
    const size_t colourBytes = static_cast<size_t>(Stride) * rows * 4;
    const size_t alphaBytes = static_cast<size_t>(Stride) * rows;
    const size_t bytes = colourBytes + alphaBytes + rows;
    std::vector<uint8_t>& block = bytes <= kKept ? kept : Own;
    if (block.size() < bytes) block.resize(bytes);
    ColourBytes = block.data();
    AlphaBytes = block.data() + colourBytes;
    OpaqueRows = AlphaBytes + alphaBytes;
    std::memset(OpaqueRows, 0, rows);
  }
  bool Opaque(int y) const { return OpaqueRows[y - FirstRow] != 0; }
  const uint8_t* ColourRow(int y) const { return ColourBytes + static_cast<size_t>(y - FirstRow) * Stride * 4; }
  const uint8_t* AlphaRow(int y) const { return AlphaBytes + static_cast<size_t>(y - FirstRow) * Stride; }
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

// One output of the horizontal pass over 32-bit rows whose fourth byte is the
// alpha, four taps at a time: the alpha weights of the four taps in 16-bit
// lanes, then two taps' blue, green, red and alpha against their weights with
// one multiply-add each.
inline void HorizontalPixel32(const uint8_t* row, const TContributorList& list, const TTapGroups& taps, int x,
                              uint8_t* out, uint8_t* outA) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i ones = _mm_set1_epi16(1);
  const __m128i magic = _mm_set1_epi16(static_cast<int16_t>(0x8081));
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
  const int32_t unit = list.WeightUnit;
  Store4(out + x * 4, Quotients4(accC, _mm_set1_epi32(SumLanes(accV)), unit));
  outA[x] = Finish(SumLanes(accP), list.WeightSum[x], unit);
}

void HorizontalWithAlpha32(const TPixelRows& rows, const TContributorList& list, const TTapGroups& taps,
                           TAlphaIntermediate& inter, int y0, int y1) {
  const int W = list.Size();
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < W; ++x) HorizontalPixel32(rows.Row(y), list, taps, x, inter.ColourRow(y), inter.AlphaRow(y));
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

#if defined(__SSE2__)
// The taps of a horizontal list in groups of eight for the wide lanes, padded
// with weight 0: output x has Groups[x] groups at Weight[At[x] ...] and
// Pixel[At[x] ...]. Where the taps rise along the row (weights of 0 are not
// stored, so they may skip a pixel) the output reads the whole window of
// pixels from Start[x] instead, its weights set out over the window, 0 where
// a pixel is no tap; mirrored taps at the edges (Start -1) are gathered by
// their indexes.
struct TTapWindows {
  std::vector<int32_t> Start, Groups, At;
  std::vector<int32_t> Pixel, Weight;
};

TTapWindows WindowTaps(const TContributorList& list, int sourceExtent) {
  TTapWindows w;
  const int n = list.Size();
  w.Start.assign(n, -1);
  w.Groups.assign(n, 0);
  w.At.assign(n, 0);
  for (int i = 0; i < n; ++i) {
    const int first = list.First[i], count = list.Count[i];
    bool rising = true;
    for (int t = 1; t < count && rising; ++t) rising = list.Pixel[first + t] > list.Pixel[first + t - 1];
    const int at = count > 0 ? list.Pixel[first] : 0;
    const int span = count > 0 ? list.Pixel[first + count - 1] - at + 1 : 0;
    const int start = rising ? std::min(at, sourceExtent - 8 * ((span + 7) / 8)) : -1;
    w.At[i] = static_cast<int32_t>(w.Weight.size());
    if (start >= 0) {
      w.Start[i] = start;
      w.Groups[i] = (span + 7) / 8;
      w.Weight.resize(w.Weight.size() + static_cast<size_t>(8) * w.Groups[i], 0);
      for (int t = 0; t < count; ++t) w.Weight[w.At[i] + (list.Pixel[first + t] - start)] = list.Weight[first + t];
    } else {
      w.Groups[i] = (count + 7) / 8;
      w.Weight.resize(w.Weight.size() + static_cast<size_t>(8) * w.Groups[i], 0);
      for (int t = 0; t < count; ++t) w.Weight[w.At[i] + t] = list.Weight[first + t];
    }
    // Indexes for every output (the padding reads the first tap's pixel).
    w.Pixel.resize(w.Weight.size(), count > 0 ? list.Pixel[first] : 0);
    if (start >= 0)
      for (int t = 0; t < 8 * w.Groups[i]; ++t) w.Pixel[w.At[i] + t] = start + t;
    else
      for (int t = 0; t < count; ++t) w.Pixel[w.At[i] + t] = list.Pixel[first + t];
  }
  return w;
}

#if defined(QV_RESAMPLE_AVX2)

#define QV_AVX2 __attribute__((target("avx2")))

QV_AVX2 inline int32_t SumLanes8(__m256i v) {
  return SumLanes(_mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

// Quotients of eight sums over eight divisors as Finish takes them (the unit
// standing in for a zero divisor), truncated toward zero; in single precision
// when every sum is known to lie below 2^24 in magnitude, which keeps them
// exact: a quotient s / d that is not whole lies at least 1 / |d| from any
// whole number, and rounding to single precision moves it by less than
// |s| / |d| / 2^24. Otherwise in double precision.
QV_AVX2 inline __m256i Quotients8(__m256i sums, __m256i divisors, __m256i unit, bool floats) {
  divisors = _mm256_blendv_epi8(divisors, unit, _mm256_cmpeq_epi32(divisors, _mm256_setzero_si256()));
  if (floats) return _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(sums), _mm256_cvtepi32_ps(divisors)));
  const __m128i lo = _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(sums)),
                                                       _mm256_cvtepi32_pd(_mm256_castsi256_si128(divisors))));
  const __m128i hi = _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(sums, 1)),
                                                       _mm256_cvtepi32_pd(_mm256_extracti128_si256(divisors, 1))));
  return _mm256_set_m128i(hi, lo);
}

// Eight quotients clamped to bytes, in order.
QV_AVX2 inline void StoreBytes8(uint8_t* out, __m256i q) {
  const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
}

// True when every pixel of the row has alpha 255.
QV_AVX2 inline bool OpaqueRow(const uint8_t* row, int width) {
  __m256i all = _mm256_set1_epi32(-1);
  int x = 0;
  for (; x + 8 <= width; x += 8)
    all = _mm256_and_si256(all, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x * 4)));
  uint32_t tail = 0xFFFFFFFFu;
  for (; x < width; ++x) {
    uint32_t pixel;
    std::memcpy(&pixel, row + x * 4, 4);
    tail &= pixel;
  }
  const __m256i alphas = _mm256_and_si256(all, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
  return (tail >> 24) == 0xFF &&
         _mm256_movemask_epi8(_mm256_cmpeq_epi32(alphas, _mm256_set1_epi32(static_cast<int>(0xFF000000u)))) == -1;
}

// The sums of the outputs [0, W) of one row, eight taps at a time: the alpha
// weights of the eight taps in 32-bit lanes (as AlphaWeight does them), then
// the taps' blue, green, red and alpha regrouped in pairs against pairs of
// weights, one multiply-add per two pixels. The taps come as one load where
// the output has a window, else gathered. In an opaque row every alpha
// weight (255 x k) / 255 is the weight itself and the plain alpha sum is 255
// x the sum of the weights, so neither is worked out tap by tap.
template <bool kOpaque>
QV_AVX2 inline void HorizontalSumsAvx2(const uint8_t* row, const TTapWindows& win, int W, int32_t* colourSums,
                                       int32_t* divisors, int32_t* plainSums) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i magic = _mm256_set1_epi32(0x8081);
  // Per lane of four pixels: blue, green, red, alpha of each pair side by side.
  const __m256i pairUp = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15, 0, 4, 1, 5, 2, 6, 3, 7,
                                          8, 12, 9, 13, 10, 14, 11, 15);
  for (int x = 0; x < W; ++x) {
    const int32_t* k = win.Weight.data() + win.At[x];
    const int32_t* index = win.Pixel.data() + win.At[x];
    const uint8_t* p = row + static_cast<size_t>(std::max(0, win.Start[x])) * 4;
    const bool gather = win.Start[x] < 0;
    __m256i accC = zero, accV = zero, accP = zero;
    for (int g = 0; g < win.Groups[x]; ++g, p += 32, k += 8, index += 8) {
      const __m256i px = gather ? _mm256_i32gather_epi32(reinterpret_cast<const int*>(row),
                                                         _mm256_loadu_si256(reinterpret_cast<const __m256i*>(index)), 4)
                                : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i kk = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k));
      __m256i v = kk;
      if (!kOpaque) {
        const __m256i a = _mm256_srli_epi32(px, 24);
        const __m256i ak = _mm256_mullo_epi16(a, _mm256_abs_epi32(kk));
        v = _mm256_sign_epi32(_mm256_srli_epi16(_mm256_mulhi_epu16(ak, magic), 7), kk);
        accP = _mm256_add_epi32(accP, _mm256_madd_epi16(kk, a));
      }
      accV = _mm256_add_epi32(accV, v);
      const __m256i paired = _mm256_shuffle_epi8(px, pairUp);
      const __m256i vv = _mm256_packs_epi32(v, v);
      const __m256i first = _mm256_madd_epi16(_mm256_unpacklo_epi8(paired, zero), _mm256_shuffle_epi32(vv, 0x00));
      const __m256i second = _mm256_madd_epi16(_mm256_unpackhi_epi8(paired, zero), _mm256_shuffle_epi32(vv, 0x55));
      accC = _mm256_add_epi32(accC, _mm256_add_epi32(first, second));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(colourSums + x * 4),
                     _mm_add_epi32(_mm256_castsi256_si128(accC), _mm256_extracti128_si256(accC, 1)));
    const int32_t sv = SumLanes8(accV);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(divisors + x * 4), _mm_set1_epi32(sv));
    plainSums[x] = kOpaque ? 255 * sv : SumLanes8(accP);
  }
}

// Horizontal pass over 32-bit rows with the alpha in the fourth byte, eight
// taps at a time; the sums of a row are kept and divided eight quotients at a
// time.
QV_AVX2 void HorizontalWithAlpha32Avx2(const TPixelRows& rows, const TContributorList& list, const TTapWindows& win,
                                       bool floats, TAlphaIntermediate& inter, int y0, int y1) {
  const int W = list.Size(), padded = (W + 7) & ~7;
  const __m256i unit = _mm256_set1_epi32(list.WeightUnit);
  // Per output: its four colour sums, the sum of its alpha weights (four
  // times, as the divisor of each), its plain alpha sum; the weight sums.
  // What lies past the last output only reaches the padding.
  thread_local std::vector<int32_t> colourSums, divisors, plainSums, weightSums;
  colourSums.resize(static_cast<size_t>(padded) * 4);
  divisors.resize(static_cast<size_t>(padded) * 4);
  plainSums.resize(padded);
  weightSums.resize(padded);
  std::copy(list.WeightSum.begin(), list.WeightSum.end(), weightSums.begin());
  for (int y = y0; y < y1; ++y) {
    const uint8_t* row = rows.Row(y);
    const bool opaque = OpaqueRow(row, rows.Width);
    if (opaque)
      HorizontalSumsAvx2<true>(row, win, W, colourSums.data(), divisors.data(), plainSums.data());
    else
      HorizontalSumsAvx2<false>(row, win, W, colourSums.data(), divisors.data(), plainSums.data());
    uint8_t* out = inter.ColourRow(y);
    uint8_t* outA = inter.AlphaRow(y);
    // Two outputs' colour per eight quotients; the padding of the
    // intermediate's rows takes what lies past the last output.
    for (int x = 0; x < W; x += 2)
      StoreBytes8(out + x * 4, Quotients8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(&colourSums[x * 4])),
                                          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&divisors[x * 4])), unit,
                                          floats));
    for (int x = 0; x < W; x += 8)
      StoreBytes8(outA + x, Quotients8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(&plainSums[x])),
                                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&weightSums[x])), unit,
                                       floats));
    inter.OpaqueRows[y - inter.FirstRow] = opaque && OpaqueRow(out, W);
  }
}

// Two taps of one output row of the vertical pass: their intermediate rows,
// their weights as the 16-bit lanes of the alpha weights want them (the first
// tap's for four pixels, then the second's, in each half) and as one pair for
// the plain alpha. With an odd count the last pair's second tap is the first
// again with weight 0.
struct TTapPair {
  const uint8_t *Colour0, *Colour1, *Alpha0, *Alpha1;
  int16_t Lanes[16];
  int32_t Pair;
};

// Output row y of the vertical pass, eight pixels at a time over pairs of
// taps: the two rows' bytes interleaved so that one multiply-add takes both
// taps of a channel, the pair's alpha weights in 16-bit lanes. The
// intermediate is padded to whole groups of eight pixels.
QV_AVX2 void VerticalWithAlphaAvx2(const TAlphaIntermediate& inter, const TContributorList& list, int y, uint8_t* out,
                                   int W, bool plainAlpha, bool floats, std::vector<TTapPair>& pairs) {
  const int first = list.First[y], count = list.Count[y];
  pairs.resize(static_cast<size_t>(count + 1) / 2);
  for (int t = 0; t < count; t += 2) {
    const int j0 = list.Pixel[first + t], j1 = t + 1 < count ? list.Pixel[first + t + 1] : j0;
    const int16_t k0 = static_cast<int16_t>(list.Weight[first + t]);
    const int16_t k1 = static_cast<int16_t>(t + 1 < count ? list.Weight[first + t + 1] : 0);
    TTapPair& tp = pairs[t / 2];
    tp.Colour0 = inter.ColourRow(j0), tp.Colour1 = inter.ColourRow(j1);
    tp.Alpha0 = inter.AlphaRow(j0), tp.Alpha1 = inter.AlphaRow(j1);
    for (int i = 0; i < 16; ++i) tp.Lanes[i] = (i & 4) ? k1 : k0;
    tp.Pair = static_cast<int32_t>(static_cast<uint16_t>(k0) | static_cast<uint32_t>(static_cast<uint16_t>(k1)) << 16);
  }
  const __m256i zero = _mm256_setzero_si256();
  const __m256i ones = _mm256_set1_epi16(1);
  const __m256i magic = _mm256_set1_epi16(static_cast<int16_t>(0x8081));
  const __m256i unit = _mm256_set1_epi32(list.WeightUnit);
  const __m256i weights = _mm256_set1_epi32(list.WeightSum[y]);
  // Where every row read is opaque each alpha weight is the weight itself:
  // the same for every pixel, their sum that of the weights.
  bool opaque = true;
  int32_t weightTotal = 0;
  for (int t = first; t < first + count; ++t) {
    opaque = opaque && inter.Opaque(list.Pixel[t]);
    weightTotal += list.Weight[t];
  }
  for (int x = 0; x < W; x += 8) {
    __m256i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero, accV = zero, accP = zero;
    if (opaque) {
      for (const TTapPair& tp : pairs) {
        const __m256i k = _mm256_set1_epi32(tp.Pair);
        const __m256i p0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tp.Colour0 + x * 4));
        const __m256i p1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tp.Colour1 + x * 4));
        const __m256i lo = _mm256_unpacklo_epi8(p0, p1), hi = _mm256_unpackhi_epi8(p0, p1);
        acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), k));
        acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), k));
        acc2 = _mm256_add_epi32(acc2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), k));
        acc3 = _mm256_add_epi32(acc3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), k));
        const __m128i pa = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(tp.Alpha0 + x)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(tp.Alpha1 + x)));
        accP = _mm256_add_epi32(accP, _mm256_madd_epi16(_mm256_cvtepu8_epi16(pa), k));
      }
      accV = _mm256_set1_epi32(weightTotal);
    }
    for (const TTapPair& tp : opaque ? std::span<const TTapPair>() : std::span<const TTapPair>(pairs)) {
      const __m256i k = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tp.Lanes));
      const __m256i p0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tp.Colour0 + x * 4));
      const __m256i p1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tp.Colour1 + x * 4));
      // Per lane of four pixels: the first tap's four alphas, then the second's.
      const __m256i a = _mm256_packs_epi32(_mm256_srli_epi32(p0, 24), _mm256_srli_epi32(p1, 24));
      const __m256i ak = _mm256_mullo_epi16(a, _mm256_abs_epi16(k));
      const __m256i v = _mm256_sign_epi16(_mm256_srli_epi16(_mm256_mulhi_epu16(ak, magic), 7), k);
      // Per pixel the pair of its two alpha weights.
      const __m256i vp = _mm256_unpacklo_epi16(v, _mm256_srli_si256(v, 8));
      accV = _mm256_add_epi32(accV, _mm256_madd_epi16(vp, ones));
      const __m256i lo = _mm256_unpacklo_epi8(p0, p1), hi = _mm256_unpackhi_epi8(p0, p1);
      acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), _mm256_shuffle_epi32(vp, 0x00)));
      acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), _mm256_shuffle_epi32(vp, 0x55)));
      acc2 = _mm256_add_epi32(acc2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), _mm256_shuffle_epi32(vp, 0xAA)));
      acc3 = _mm256_add_epi32(acc3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), _mm256_shuffle_epi32(vp, 0xFF)));
      const __m128i pa = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(tp.Alpha0 + x)),
                                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(tp.Alpha1 + x)));
      accP = _mm256_add_epi32(accP, _mm256_madd_epi16(_mm256_cvtepu8_epi16(pa), _mm256_set1_epi32(tp.Pair)));
    }
    // acc0 holds pixels 0 and 4 (one per half), acc1 1 and 5, ...; accV and
    // accP pixels 0-3 and 4-7 by half. The alpha byte is the plain alpha over
    // the weight sum, or the weighted alpha over the alpha weights.
    const __m256i sums[4] = {acc0, acc1, acc2, acc3};
    const __m256i divisors[4] = {_mm256_shuffle_epi32(accV, 0x00), _mm256_shuffle_epi32(accV, 0x55),
                                 _mm256_shuffle_epi32(accV, 0xAA), _mm256_shuffle_epi32(accV, 0xFF)};
    const __m256i plain[4] = {_mm256_shuffle_epi32(accP, 0x00), _mm256_shuffle_epi32(accP, 0x55),
                              _mm256_shuffle_epi32(accP, 0xAA), _mm256_shuffle_epi32(accP, 0xFF)};
    __m256i q[4];
    for (int i = 0; i < 4; ++i)
      q[i] = plainAlpha ? Quotients8(_mm256_blend_epi32(sums[i], plain[i], 0x88),
                                     _mm256_blend_epi32(divisors[i], weights, 0x88), unit, floats)
                        : Quotients8(sums[i], divisors[i], unit, floats);
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(q[0], q[1]), _mm256_packs_epi32(q[2], q[3]));
    if (x + 8 <= W) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x * 4), bytes);
    } else {
      alignas(32) uint8_t last[32];
      _mm256_store_si256(reinterpret_cast<__m256i*>(last), bytes);
      std::memcpy(out + x * 4, last, static_cast<size_t>(W - x) * 4);
    }
  }
}

#undef QV_AVX2

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

#endif

#endif

// Runs work(first, last) over [0, count) in consecutive bands, one per worker
// thread, when the whole is worth the threads (cost: about the multiply-adds
// of one item); the calling thread takes the first band. The bands write
// disjoint rows, so they need no locking.
void RunInBands(int count, int64_t cost, const std::function<void(int, int)>& work) {
  // Starting and joining a thread costs about what a million multiply-adds of
  // the vector passes take, so a band must be well above that to gain.
  constexpr int64_t kWorthAThread = 4000000;
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

// Everything one axis of a resize needs from its weights, built once.
struct TAxisPlan {
  TContributorList List;
  int PixelFirst = 0, PixelLast = -1;  // the source indexes read
  // Every weight within 257, for the division-free alpha weights and 16-bit lanes.
  bool Fits16 = false;
  // 255 x the largest sum of |weight| of an output (and x every weight sum)
  // stays below 2^24, so that every sum of weight x byte and every divisor is
  // a float exactly.
  bool FloatSums = false;
#if defined(__SSE2__)
  TTapGroups Gathered;
  TTapWindows Windows;
#endif
};

std::shared_ptr<const TAxisPlan> MakePlan(TContributorList list, int sourceExtent) {
  auto plan = std::make_shared<TAxisPlan>();
  plan->PixelFirst = sourceExtent;
  for (const int32_t j : list.Pixel) {
    plan->PixelFirst = std::min(plan->PixelFirst, static_cast<int>(j));
    plan->PixelLast = std::max(plan->PixelLast, static_cast<int>(j));
  }
  plan->Fits16 = WeightsFit16(list);
  int64_t largest = 0;
  for (int i = 0; i < list.Size(); ++i) {
    int64_t sum = 0;
    for (int t = list.First[i]; t < list.First[i] + list.Count[i]; ++t)
      sum += std::abs(static_cast<int64_t>(list.Weight[t]));
    // The weight sum divides the plain alpha; a framed list keeps the sum of
    // taps it left out.
    largest = std::max({largest, sum, std::abs(static_cast<int64_t>(list.WeightSum[i]))});
  }
  plan->FloatSums = largest * 255 < (int64_t(1) << 24);
#if defined(__SSE2__)
  if (plan->Fits16) {
    plan->Gathered = GroupTaps(list);
    plan->Windows = WindowTaps(list, sourceExtent);
  }
#endif
  plan->List = std::move(list);
  return plan;
}

constexpr int kFrame = 30;

// The plan of one axis, plain or for a picture inside a transparent frame of
// kFrame pixels (the frame's pixels have alpha 0 and add nothing to any sum,
// so the list reads the picture itself and keeps only the outputs inside the
// target's own frame). The last few plans are kept per thread: previews of
// one picture at 48, 32 and 16 pixels, redone on every slider move, ask for
// the same few again and again, and their weights cost sines to build.
std::shared_ptr<const TAxisPlan> PlanFor(int sourceExtent, int targetExtent, TIconResampleFilter filter, bool framed) {
  struct TKept {
    int Source = 0, Target = 0;
    TIconResampleFilter Filter = irfNone;
    bool Framed = false;
    std::shared_ptr<const TAxisPlan> Plan;
  };
  thread_local std::array<TKept, 8> kept;
  thread_local size_t next = 0;
  for (const TKept& k : kept)
    if (k.Plan && k.Source == sourceExtent && k.Target == targetExtent && k.Filter == filter && k.Framed == framed)
      return k.Plan;
  std::shared_ptr<const TAxisPlan> plan;
  if (framed) {
    const int b = static_cast<int>(Round(targetExtent * static_cast<double>(kFrame) / sourceExtent));
    plan = MakePlan(WindowOf(BuildContributors(sourceExtent + 2 * kFrame, targetExtent + 2 * b, filter), b,
                             targetExtent, kFrame, sourceExtent),
                    sourceExtent);
  } else {
    plan = MakePlan(BuildContributors(sourceExtent, targetExtent, filter), sourceExtent);
  }
  // Plans of huge reductions are not worth the memory they would hold on to.
  if (plan->List.Pixel.size() <= (size_t(1) << 18))
    kept[next++ % kept.size()] = TKept{sourceExtent, targetExtent, filter, framed, plan};
  return plan;
}

bool UseAvx2() {
#if defined(QV_RESAMPLE_AVX2)
  return ResampleWideVectors && HasAvx2();
#else
  return false;
#endif
}

// Horizontal, then vertical, with the intermediate held only for the rows the
// vertical pass reads.
void AlphaPasses(const TPixelRows& colour, int colourPixelBytes, const TPixelRows& alpha, int alphaPixelBytes,
                 int alphaOffset, const TPixelRows& dst, const TAxisPlan& horizPlan, const TAxisPlan& vertPlan,
                 bool plainAlpha) {
  const TContributorList& horiz = horizPlan.List;
  const TContributorList& vert = vertPlan.List;
  const int rowFirst = vertPlan.PixelFirst, rowLast = vertPlan.PixelLast;
  const int W = horiz.Size();
  const int rows = rowLast >= rowFirst ? rowLast - rowFirst + 1 : 0;
  TAlphaIntermediate inter(W, rows, rowFirst);
  const bool fast = horizPlan.Fits16 && vertPlan.Fits16;
  const bool interleaved = colourPixelBytes == 4 && alphaPixelBytes == 4 && alphaOffset == 3 &&
                           colour.Base == alpha.Base && colour.Stride == alpha.Stride;
  const bool wide = UseAvx2();
  const int64_t hCost = static_cast<int64_t>(horiz.Pixel.size()) + W;
  if (rows > 0) {
#if defined(__SSE2__)
    if (fast && interleaved) {
      RunInBands(rows, hCost, [&](int a, int b) {
#if defined(QV_RESAMPLE_AVX2)
        if (wide) {
          HorizontalWithAlpha32Avx2(colour, horiz, horizPlan.Windows, horizPlan.FloatSums, inter, rowFirst + a,
                                    rowFirst + b);
          return;
        }
#endif
        HorizontalWithAlpha32(colour, horiz, horizPlan.Gathered, inter, rowFirst + a, rowFirst + b);
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
#if defined(QV_RESAMPLE_AVX2)
    if (fast && wide) {
      thread_local std::vector<TTapPair> pairs;
      for (int y = a; y < b; ++y)
        VerticalWithAlphaAvx2(inter, vert, y, dst.Row(y), W, plainAlpha, vertPlan.FloatSums, pairs);
      return;
    }
#endif
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
  const auto horiz = PlanFor(colour.Width, dst.Width, filter, false);
  const auto vert = PlanFor(colour.Height, dst.Height, filter, false);
  AlphaPasses(colour, colourPixelBytes, alpha, alphaPixelBytes, alphaOffset, dst, *horiz, *vert, plainAlpha);
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
    int x = 0;
#if defined(__SSE2__)
    const __m128i white = _mm_set1_epi32(0x00FFFFFF);
    __m128i found = _mm_setzero_si128();
    for (; x + 4 <= rows.Width; x += 4)
      found = _mm_or_si128(found, _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x)), white));
    if (_mm_movemask_epi8(found)) return true;
#endif
    for (; x < rows.Width; ++x)
      if (p[x] == 0x00FFFFFFu) return true;
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
  // Colour pixels of alpha 0 weigh nothing in the alpha-weighted passes, so
  // the 32-bit rows serve as colour and alpha at once. With a partly
  // transparent border the picture is resampled as if inside a transparent
  // frame of kFrame pixels into a target with a frame of its own, of which
  // only the middle is kept (see PlanFor).
  const auto horiz = PlanFor(w, W, filter, border);
  const auto vert = PlanFor(h, H, filter, border);
  AlphaPasses(source, 4, source, 4, 3, target, *horiz, *vert, true);
  // Pixels of exactly transparent white are cleared unless the source had
  // some; the source is searched only when the (smaller) result has any.
  if (HasTransparentWhite(target) && !HasTransparentWhite(source)) ClearTransparentWhiteRows(target);
}
