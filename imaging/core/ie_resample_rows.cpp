// The row kernels of the two-pass kernel resampler in 256-bit integer vectors,
// and the resampling of a picture one output row at a time with only the
// source rows that row reads held in a small ring (the zoomed drawing draws
// each row as it comes, so no work image of the whole picture is made).
//
// The vector kernels give the same bytes as the plain loops: the taps are
// summed as the same 32-bit integers, and the division by the weight sum is
// done by a float reciprocal that is provably exact for the sums it is used
// for (see TDivide).
#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QV_HAVE_X86_VECTORS 1
#endif

#include "imaging/core/ie_resample_internal.h"

namespace ieresample {

int IEResampleVectorKernels = 2;

bool CpuHasAvx2() {
#ifdef QV_HAVE_X86_VECTORS
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has;
#else
  return false;
#endif
}

namespace {

bool FitsInt16(int32_t w) { return w >= -32768 && w <= 32767; }

// Taps of output x read source pixels start, start + 1, ... in order (no
// mirrored index), so one load fetches several of them.
bool ContiguousTaps(const TContributors& list, int x) {
  const int32_t first = list.First[size_t(x)], end = list.First[size_t(x) + 1];
  if (end <= first) return false;
  for (int32_t k = first; k < end; ++k)
    if (list.Index[size_t(k)] != list.Index[size_t(first)] + (k - first) || !FitsInt16(list.Weight[size_t(k)]))
      return false;
  return true;
}

// acc[i] += wa * a[i] + wb * b[i] over samples 0..n-1, from i on.
int64_t AddTwoRows(int32_t* acc, const uint8_t* a, const uint8_t* b, int32_t wa, int32_t wb, int64_t n) {
  int64_t i = 0;
#ifdef __SSE2__
  if (wa >= -32768 && wa <= 32767 && wb >= -32768 && wb <= 32767) {
    // Bytes of the two rows interleaved and widened to 16 bits: pmaddwd gives
    // a * wa + b * wb in each 32-bit lane.
    const __m128i weights = _mm_set1_epi32(int32_t((uint32_t(uint16_t(wb)) << 16) | uint16_t(wa)));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
      const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
      const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
      const __m128i lo = _mm_unpacklo_epi8(ra, rb), hi = _mm_unpackhi_epi8(ra, rb);
      const __m128i parts[4] = {_mm_unpacklo_epi8(lo, zero), _mm_unpackhi_epi8(lo, zero), _mm_unpacklo_epi8(hi, zero),
                                _mm_unpackhi_epi8(hi, zero)};
      for (int k = 0; k < 4; ++k) {
        auto* slot = reinterpret_cast<__m128i*>(acc + i + 4 * k);
        _mm_storeu_si128(slot, _mm_add_epi32(_mm_loadu_si128(slot), _mm_madd_epi16(parts[k], weights)));
      }
    }
  }
#endif
  for (; i < n; ++i) acc[i] += wa * a[i] + wb * b[i];
  return i;
}

}  // namespace

bool VectorKernelsAvailable() { return IEResampleVectorKernels > 0 && CpuHasAvx2(); }

bool WideKernelsAvailable() {
#ifdef QV_HAVE_X86_VECTORS
  static const bool has = CpuHasAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
  return IEResampleVectorKernels > 1 && has;
#else
  return false;
#endif
}

TDivide MakeDivide(int32_t sum) {
  TDivide d;
  d.sum = sum;
  d.vector = sum > 0 && sum <= 4096;
  if (d.vector) {
    d.inverse = 1.0f / float(sum);
    d.bias = 0.5f / float(sum);
    d.limit = 255 * sum;
  }
  return d;
}

void BuildHorizontalPlan(const TContributors& list, int sourceLength, int destinationLength, int channels,
                         THorizontalPlan& plan) {
  plan = THorizontalPlan{};
  plan.channels = channels;
  plan.destinationLength = destinationLength;
  if (!VectorKernelsAvailable()) return;
  // Colour: a group is 4 taps (one 16-byte load: pixels 0..3 and a byte of the
  // fifth); grey: 8 taps (an 8-byte load). Lanes of a colour group are
  // [w0 w1 w0 w1 w0 w1 0 0 | w2 w3 w2 w3 w2 w3 0 0], matching the shuffle that
  // puts blue, green and red of pixel pairs side by side.
  // The wide colour kernel reads two groups (8 taps) with one 32-byte load.
  const bool wide = channels == 3 && WideKernelsAvailable();
  const int perGroup = channels == 3 ? 4 : 8;
  const int lanes = channels == 3 ? 16 : 8;
  // Every vector output gets as many groups as the widest needs, so the tap
  // loop runs the same count each time; the spare taps weigh 0.
  int groups = 0;
  for (int x = 0; x < destinationLength; ++x)
    if (ContiguousTaps(list, x))
      groups = std::max<int>(groups, (list.First[size_t(x) + 1] - list.First[size_t(x)] + perGroup - 1) / perGroup);
  // Very wide windows (strong reductions) keep the plain loop: their weight
  // tables would grow with every tap of every output.
  if (groups == 0 || groups > 16) return;
  if (wide) groups += groups & 1;
  // The last window start whose loads stay inside the row.
  const int64_t loadBytes = wide ? 32 : channels == 3 ? 16 : 8;
  const int64_t loadStep = wide ? 2 * perGroup : perGroup;
  const int64_t room = channels * int64_t(sourceLength) - loadBytes;
  const int64_t lastStart = room < 0 ? -1 : room / channels - loadStep * ((groups * perGroup) / loadStep - 1);
  plan.groups = groups;
  plan.wide = wide;
  plan.start.assign(size_t(destinationLength), -1);
  plan.divide.resize(size_t(destinationLength));
  plan.weights.assign(size_t(destinationLength) * groups * lanes, 0);
  // Padded by 4, so loads of four outputs' values may start at any output.
  plan.inverse.assign(size_t(destinationLength) + 4, 0);
  plan.bias.assign(size_t(destinationLength) + 4, 0);
  plan.limit.assign(size_t(destinationLength) + 4, 0);
  plan.ready.assign(size_t(destinationLength) + 4, 0);
  if (wide) {
    plan.inverse4.assign(4 * (size_t(destinationLength) + 4), 0);
    plan.bias4.assign(4 * (size_t(destinationLength) + 4), 0);
    plan.limit4.assign(4 * (size_t(destinationLength) + 4), 0);
  }
  for (int x = 0; x < destinationLength; ++x) {
    const TDivide d = plan.divide[size_t(x)] = MakeDivide(list.Sum[size_t(x)]);
    plan.inverse[size_t(x)] = d.inverse;
    plan.bias[size_t(x)] = d.bias;
    plan.limit[size_t(x)] = d.limit;
    if (wide)
      for (size_t c = 0; c < 4; ++c) {
        plan.inverse4[4 * size_t(x) + c] = d.inverse;
        plan.bias4[4 * size_t(x) + c] = d.bias;
        plan.limit4[4 * size_t(x) + c] = d.limit;
      }
    if (!ContiguousTaps(list, x)) continue;
    const int32_t first = list.First[size_t(x)];
    const int taps = list.First[size_t(x) + 1] - first;
    const int64_t tapStart = list.Index[size_t(first)];
    // Near the right edge the window moves left and its first taps weigh 0.
    const int64_t start = std::min(tapStart, lastStart);
    if (start < 0 || tapStart + taps > start + int64_t(groups) * perGroup) continue;
    plan.start[size_t(x)] = int32_t(start);
    plan.ready[size_t(x)] = plan.divide[size_t(x)].vector ? 1 : 0;
    int16_t* w = plan.weights.data() + size_t(x) * groups * lanes;
    for (int t = 0; t < taps; ++t) {
      const auto v = int16_t(list.Weight[size_t(first + t)]);
      const int64_t at = tapStart - start + t;
      if (channels == 3) {
        int16_t* lane = w + (at / 4) * 16 + ((at % 4) / 2) * 8 + (at % 2);
        lane[0] = lane[2] = lane[4] = v;
      } else {
        w[at] = v;
      }
    }
  }
}

#ifdef QV_HAVE_X86_VECTORS
namespace {

__attribute__((target("avx2,fma"))) inline __m128i DivideLanes(__m128i s, const TDivide& d) {
  s = _mm_min_epi32(_mm_max_epi32(s, _mm_setzero_si128()), _mm_set1_epi32(d.limit));
  const __m128 f = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(s), _mm_set1_ps(d.inverse)), _mm_set1_ps(d.bias));
  return _mm_cvttps_epi32(f);
}

// The sums of one colour output (both lanes added give blue, green, red, 0).
template <int Groups>
__attribute__((target("avx2,fma"))) inline __m256i ColourSums(const uint8_t* p, const int16_t* w, int groups) {
  const __m256i pairs = _mm256_setr_epi8(0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1,  //
                                         6, -1, 9, -1, 7, -1, 10, -1, 8, -1, 11, -1, -1, -1, -1, -1);
  if (Groups > 0) groups = Groups;
  __m256i acc = _mm256_setzero_si256();
  for (int g = 0; g < groups; ++g) {
    const __m256i px = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12 * g)));
    const __m256i wv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 16 * g));
    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_shuffle_epi8(px, pairs), wv));
  }
  return acc;
}

// Output x on its own: three bytes written, none beside them.
template <int Groups>
__attribute__((target("avx2,fma"))) void ColourOne(const uint8_t* source, uint8_t* out, const TContributors& list,
                                                   const THorizontalPlan& plan, int x) {
  uint8_t* o = out + 3 * int64_t(x);
  const int32_t start = plan.start[size_t(x)];
  if (start < 0) {
    OneOutput<3>(source, o, list, x);
    return;
  }
  const __m256i acc = ColourSums<Groups>(source + 3 * int64_t(start), plan.weights.data() + size_t(x) * 16 * plan.groups,
                                         plan.groups);
  const __m128i s = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  const TDivide& d = plan.divide[size_t(x)];
  alignas(16) int32_t lanes[4];
  if (d.vector) {
    const __m128i q = DivideLanes(s, d);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), q);
    for (int ch = 0; ch < 3; ++ch) o[ch] = uint8_t(lanes[ch]);
  } else {
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), s);
    for (int ch = 0; ch < 3; ++ch) o[ch] = Normalise(lanes[ch], d.sum);
  }
}

template <int Groups>
__attribute__((target("avx2,fma"))) void HorizontalColourAvx2(const uint8_t* source, uint8_t* out,
                                                                const TContributors& list,
                                                                const THorizontalPlan& plan) {
  const int n = plan.destinationLength;
  const int groups = Groups > 0 ? Groups : plan.groups;
  const int32_t* starts = plan.start.data();
  const int16_t* w = plan.weights.data();
  const __m256i zero = _mm256_setzero_si256();
  const __m256i spread = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
  int x = 0;
  // Two outputs a step while a third follows (its bytes take the spill of the
  // four-byte stores); the lanes hold output x and output x + 1.
  for (; x + 2 < n; x += 2) {
    if (!(plan.ready[size_t(x)] & plan.ready[size_t(x) + 1])) {
      ColourOne<Groups>(source, out, list, plan, x);
      ColourOne<Groups>(source, out, list, plan, x + 1);
      continue;
    }
    const __m256i a = ColourSums<Groups>(source + 3 * int64_t(starts[x]), w + size_t(x) * 16 * groups, groups);
    const __m256i b =
        ColourSums<Groups>(source + 3 * int64_t(starts[x + 1]), w + size_t(x + 1) * 16 * groups, groups);
    __m256i s = _mm256_add_epi32(_mm256_permute2x128_si256(a, b, 0x20), _mm256_permute2x128_si256(a, b, 0x31));
    const __m256i limit = _mm256_permutevar8x32_epi32(
        _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(plan.limit.data() + x))), spread);
    const __m256 inverse = _mm256_permutevar8x32_ps(
        _mm256_castps128_ps256(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(plan.inverse.data() + x)))),
        spread);
    const __m256 bias = _mm256_permutevar8x32_ps(
        _mm256_castps128_ps256(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(plan.bias.data() + x)))),
        spread);
    s = _mm256_min_epi32(_mm256_max_epi32(s, zero), limit);
    __m256i q = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(s), inverse), bias));
    q = _mm256_packus_epi16(_mm256_packs_epi32(q, q), q);
    // Four bytes each; the fourth is the next output's, written after.
    uint8_t* o = out + 3 * int64_t(x);
    _mm_storeu_si32(o, _mm256_castsi256_si128(q));
    _mm_storeu_si32(o + 3, _mm256_extracti128_si256(q, 1));
  }
  for (; x < n; ++x) ColourOne<Groups>(source, out, list, plan, x);
}

template <int Groups>
__attribute__((target("avx2,fma"))) inline __m128i GreySums(const uint8_t* p, const int16_t* w, int groups) {
  if (Groups > 0) groups = Groups;
  __m128i acc = _mm_setzero_si128();
  for (int g = 0; g < groups; ++g) {
    const __m128i px = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 8 * g)));
    acc = _mm_add_epi32(acc, _mm_madd_epi16(px, _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 8 * g))));
  }
  return acc;
}

template <int Groups>
__attribute__((target("avx2,fma"))) void GreyOne(const uint8_t* source, uint8_t* out, const TContributors& list,
                                                 const THorizontalPlan& plan, int x) {
  const int32_t start = plan.start[size_t(x)];
  if (start < 0) {
    OneOutput<1>(source, out + x, list, x);
    return;
  }
  __m128i acc = GreySums<Groups>(source + start, plan.weights.data() + size_t(x) * 8 * plan.groups, plan.groups);
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
  const TDivide& d = plan.divide[size_t(x)];
  out[x] = d.vector ? uint8_t(_mm_cvtsi128_si32(DivideLanes(acc, d))) : Normalise(_mm_cvtsi128_si32(acc), d.sum);
}

template <int Groups>
__attribute__((target("avx2,fma"))) void HorizontalGreyAvx2(const uint8_t* source, uint8_t* out,
                                                              const TContributors& list, const THorizontalPlan& plan) {
  const int n = plan.destinationLength;
  const int groups = Groups > 0 ? Groups : plan.groups;
  const int32_t* starts = plan.start.data();
  const int16_t* w = plan.weights.data();
  const size_t stride = size_t(8) * groups;
  int x = 0;
  // Four outputs a step: their sums gathered into one vector and divided together.
  for (; x + 4 <= n; x += 4) {
    uint32_t ready;
    std::memcpy(&ready, plan.ready.data() + x, 4);
    if (ready != 0x01010101u) {
      for (int k = x; k < x + 4; ++k) GreyOne<Groups>(source, out, list, plan, k);
      continue;
    }
    const __m128i a0 = GreySums<Groups>(source + starts[x], w + size_t(x) * stride, groups);
    const __m128i a1 = GreySums<Groups>(source + starts[x + 1], w + size_t(x + 1) * stride, groups);
    const __m128i a2 = GreySums<Groups>(source + starts[x + 2], w + size_t(x + 2) * stride, groups);
    const __m128i a3 = GreySums<Groups>(source + starts[x + 3], w + size_t(x + 3) * stride, groups);
    __m128i s = _mm_hadd_epi32(_mm_hadd_epi32(a0, a1), _mm_hadd_epi32(a2, a3));
    s = _mm_min_epi32(_mm_max_epi32(s, _mm_setzero_si128()),
                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(plan.limit.data() + x)));
    const __m128 f = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(s), _mm_loadu_ps(plan.inverse.data() + x)),
                                _mm_loadu_ps(plan.bias.data() + x));
    __m128i q = _mm_cvttps_epi32(f);
    q = _mm_packus_epi16(_mm_packs_epi32(q, q), q);
    _mm_storeu_si32(out + x, q);
  }
  for (; x < n; ++x) GreyOne<Groups>(source, out, list, plan, x);
}

// GCC 12 takes the undefined pass-through lanes inside some AVX-512
// intrinsics for uninitialised values.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// The sums of one colour output, 8 taps a step: the 24 bytes of 8 pixels
// permuted into four lanes of [b b g g r r 0 0] pairs (taps 0-1, 2-3, 4-5,
// 6-7) and multiplied with the same weight layout as the AVX2 kernel; the four
// lanes added give blue, green, red, 0.
template <int Steps>
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) inline __m512i WideSums(const uint8_t* p,
                                                                                        const int16_t* w,
                                                                                        int steps) {
  // Lane j takes pixels 2j and 2j + 1: bytes 6j, 6j + 3, 6j + 1, 6j + 4, 6j + 2, 6j + 5.
  alignas(64) static constexpr uint8_t kPairs[64] = {
      0,  0, 3,  0, 1,  0, 4,  0, 2,  0, 5,  0, 0, 0, 0, 0, 6,  0, 9,  0, 7,  0, 10, 0, 8,  0, 11, 0, 0, 0, 0, 0,
      12, 0, 15, 0, 13, 0, 16, 0, 14, 0, 17, 0, 0, 0, 0, 0, 18, 0, 21, 0, 19, 0, 22, 0, 20, 0, 23, 0, 0, 0, 0, 0};
  const __m512i pairs = _mm512_load_si512(kPairs);
  // Bytes 0, 2, ..., 10 of each lane: the samples; the rest are zeroed.
  const __mmask64 samples = 0x0555055505550555ull;
  if (Steps > 0) steps = Steps;
  __m512i acc = _mm512_setzero_si512();
  for (int g = 0; g < steps; ++g) {
    const __m512i px = _mm512_zextsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 24 * g)));
    const __m512i wv = _mm512_loadu_si512(w + 32 * g);
    acc = _mm512_add_epi32(acc, _mm512_madd_epi16(_mm512_maskz_permutexvar_epi8(samples, pairs, px), wv));
  }
  return acc;
}

// Colour outputs four at a time: the four outputs' lane sums folded into one
// vector of [b g r 0] x 4, divided together and stored as 12 bytes.
template <int Steps>
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) void HorizontalColourAvx512(
    const uint8_t* source, uint8_t* out, const TContributors& list, const THorizontalPlan& plan) {
  const int n = plan.destinationLength;
  const int steps = Steps > 0 ? Steps : plan.groups / 2;
  const int32_t* starts = plan.start.data();
  const int16_t* w = plan.weights.data();
  const size_t stride = size_t(16) * plan.groups;
  const __m128i compact = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  int x = 0;
  for (; x + 4 <= n; x += 4) {
    uint32_t ready;
    std::memcpy(&ready, plan.ready.data() + x, 4);
    if (ready != 0x01010101u) {
      for (int k = x; k < x + 4; ++k) ColourOne<0>(source, out, list, plan, k);
      continue;
    }
    const __m512i a = WideSums<Steps>(source + 3 * int64_t(starts[x]), w + size_t(x) * stride, steps);
    const __m512i b = WideSums<Steps>(source + 3 * int64_t(starts[x + 1]), w + size_t(x + 1) * stride, steps);
    const __m512i c = WideSums<Steps>(source + 3 * int64_t(starts[x + 2]), w + size_t(x + 2) * stride, steps);
    const __m512i d = WideSums<Steps>(source + 3 * int64_t(starts[x + 3]), w + size_t(x + 3) * stride, steps);
    // [a0 a1 b0 b1] + [a2 a3 b2 b3], then the halves of each pair added.
    const __m512i ab = _mm512_add_epi32(_mm512_shuffle_i32x4(a, b, 0x44), _mm512_shuffle_i32x4(a, b, 0xEE));
    const __m512i cd = _mm512_add_epi32(_mm512_shuffle_i32x4(c, d, 0x44), _mm512_shuffle_i32x4(c, d, 0xEE));
    __m512i s = _mm512_add_epi32(_mm512_shuffle_i32x4(ab, cd, 0x88), _mm512_shuffle_i32x4(ab, cd, 0xDD));
    s = _mm512_min_epi32(_mm512_max_epi32(s, _mm512_setzero_si512()), _mm512_loadu_si512(plan.limit4.data() + 4 * x));
    const __m512 f = _mm512_add_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(s), _mm512_loadu_ps(plan.inverse4.data() + 4 * x)),
                                   _mm512_loadu_ps(plan.bias4.data() + 4 * x));
    const __m128i bytes = _mm_shuffle_epi8(_mm512_cvtepi32_epi8(_mm512_cvttps_epi32(f)), compact);
    _mm_mask_storeu_epi8(out + 3 * int64_t(x), 0x0FFF, bytes);
  }
  for (; x < n; ++x) ColourOne<0>(source, out, list, plan, x);
}

#pragma GCC diagnostic pop

// Samples 0 .. (samples & ~15) - 1 of one vertical output; returns how many.
__attribute__((target("avx2,fma"))) int64_t VerticalAvx2(const uint8_t* const* rows, const int32_t* weight, int taps,
                                                          const TDivide& d, int64_t samples, uint8_t* out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256 inverse = _mm256_set1_ps(d.inverse), bias = _mm256_set1_ps(d.bias);
  const __m256i limit = _mm256_set1_epi32(d.limit);
  int64_t i = 0;
  for (; i + 16 <= samples; i += 16) {
    __m256i lo = zero, hi = zero;
    int k = 0;
    for (; k + 1 < taps; k += 2) {
      const __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i)));
      const __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + i)));
      const __m256i w = _mm256_set1_epi32(int32_t((uint32_t(uint16_t(weight[k + 1])) << 16) | uint16_t(weight[k])));
      lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
      hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
    }
    if (k < taps) {
      const __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i)));
      const __m256i w = _mm256_set1_epi32(int32_t(uint16_t(weight[k])));
      lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, zero), w));
      hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, zero), w));
    }
    // Lanes hold samples 0-3 | 8-11 (lo) and 4-7 | 12-15 (hi); the in-lane
    // packs put them back in order.
    lo = _mm256_min_epi32(_mm256_max_epi32(lo, zero), limit);
    hi = _mm256_min_epi32(_mm256_max_epi32(hi, zero), limit);
    lo = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(lo), inverse), bias));
    hi = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(hi), inverse), bias));
    const __m256i words = _mm256_packs_epi32(lo, hi);
    const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
  }
  return i;
}

}  // namespace
#endif

void HorizontalRowPlanned(const uint8_t* source, uint8_t* out, const TContributors& list,
                          const THorizontalPlan& plan) {
#ifdef QV_HAVE_X86_VECTORS
  if (plan.groups > 0) {
    if (plan.wide) {
      switch (plan.groups) {
        case 2: HorizontalColourAvx512<1>(source, out, list, plan); break;
        case 4: HorizontalColourAvx512<2>(source, out, list, plan); break;
        default: HorizontalColourAvx512<0>(source, out, list, plan); break;
      }
    } else if (plan.channels == 3) {
      switch (plan.groups) {
        case 1: HorizontalColourAvx2<1>(source, out, list, plan); break;
        case 2: HorizontalColourAvx2<2>(source, out, list, plan); break;
        case 3: HorizontalColourAvx2<3>(source, out, list, plan); break;
        default: HorizontalColourAvx2<0>(source, out, list, plan); break;
      }
    } else {
      switch (plan.groups) {
        case 1: HorizontalGreyAvx2<1>(source, out, list, plan); break;
        case 2: HorizontalGreyAvx2<2>(source, out, list, plan); break;
        default: HorizontalGreyAvx2<0>(source, out, list, plan); break;
      }
    }
    return;
  }
#endif
  if (plan.channels == 3) HorizontalRow<3>(source, out, list, plan.destinationLength);
  else HorizontalRow<1>(source, out, list, plan.destinationLength);
}

void VerticalRowFrom(const uint8_t* const* rows, const int32_t* weight, int taps, int32_t sum, int64_t samples,
                     int32_t* acc, uint8_t* out) {
  int64_t done = 0;
#ifdef QV_HAVE_X86_VECTORS
  const TDivide d = MakeDivide(sum);
  bool fits = d.vector && VectorKernelsAvailable();
  for (int k = 0; fits && k < taps; ++k) fits = FitsInt16(weight[k]);
  if (fits) done = VerticalAvx2(rows, weight, taps, d, samples, out);
#endif
  if (done == samples) return;
  const int64_t n = samples - done;
  std::fill(acc, acc + n, 0);
  int k = 0;
  for (; k + 1 < taps; k += 2) AddTwoRows(acc, rows[k] + done, rows[k + 1] + done, weight[k], weight[k + 1], n);
  if (k < taps) AddTwoRows(acc, rows[k] + done, rows[k] + done, weight[k], 0, n);
  for (int64_t i = 0; i < n; ++i) out[done + i] = Normalise(acc[i], sum);
}

// ---- one output row at a time ----

void BuildKernelPlan(TKernelPlan& plan, int sourceWidth, int sourceHeight, int width, int height,
                     TResampleFilter filter, bool withGrey) {
  plan.sourceWidth = sourceWidth;
  plan.sourceHeight = sourceHeight;
  plan.width = width;
  plan.height = height;
  plan.columns = BuildContributors(sourceWidth, width, filter);
  plan.rows = BuildContributors(sourceHeight, height, filter);
  BuildHorizontalPlan(plan.columns, sourceWidth, width, 3, plan.colour);
  if (withGrey) BuildHorizontalPlan(plan.columns, sourceWidth, width, 1, plan.grey);
  plan.withGrey = withGrey;
  // The ring holds the widest run of source rows one output reads, so the
  // rows of one output never push each other out.
  plan.span = 1;
  plan.taps = 1;
  for (int y = 0; y < height; ++y) {
    const int32_t first = plan.rows.First[size_t(y)], end = plan.rows.First[size_t(y) + 1];
    if (end <= first) continue;
    const auto [lo, hi] = std::minmax_element(plan.rows.Index.begin() + first, plan.rows.Index.begin() + end);
    plan.span = std::max(plan.span, int(*hi - *lo + 1));
    plan.taps = std::max(plan.taps, int(end - first));
  }
}

void ResampleRowRange(const TKernelPlan& plan, int yFirst, int yLast, const TRowSource& colourRow,
                      const TRowSource& greyRow, const TRowSink& sink) {
  const int ring = plan.span;
  const int64_t colourBytes = 3 * int64_t(plan.width), greyBytes = plan.width;
  // 16 bytes of slack: the vector stores write a little past a row's end.
  std::vector<uint8_t> colourRing(size_t(ring * (colourBytes + 16)));
  std::vector<uint8_t> greyRing(plan.withGrey ? size_t(ring * (greyBytes + 16)) : 0);
  std::vector<int> held(size_t(ring), -1);
  std::vector<const uint8_t*> colourTaps(size_t(plan.taps)), greyTaps(size_t(plan.taps));
  std::vector<int32_t> acc(static_cast<size_t>(colourBytes));
  std::vector<uint8_t> colourOut(size_t(colourBytes + 16)), greyOut(size_t(greyBytes + 16));
  for (int y = yFirst; y <= yLast; ++y) {
    const int32_t first = plan.rows.First[size_t(y)], end = plan.rows.First[size_t(y) + 1];
    for (int32_t k = first; k < end; ++k) {
      const int sourceRow = plan.rows.Index[size_t(k)];
      const int slot = sourceRow % ring;
      uint8_t* colour = colourRing.data() + slot * (colourBytes + 16);
      uint8_t* grey = plan.withGrey ? greyRing.data() + slot * (greyBytes + 16) : nullptr;
      if (held[size_t(slot)] != sourceRow) {
        held[size_t(slot)] = sourceRow;
        // A row that cannot be read counts as black (and transparent).
        if (const uint8_t* s = colourRow(sourceRow)) HorizontalRowPlanned(s, colour, plan.columns, plan.colour);
        else std::fill(colour, colour + colourBytes, 0);
        if (grey) {
          if (const uint8_t* s = greyRow(sourceRow)) HorizontalRowPlanned(s, grey, plan.columns, plan.grey);
          else std::fill(grey, grey + greyBytes, 0);
        }
      }
      colourTaps[size_t(k - first)] = colour;
      greyTaps[size_t(k - first)] = grey;
    }
    const int taps = end - first;
    const int32_t* weight = plan.rows.Weight.data() + first;
    const int32_t sum = plan.rows.Sum[size_t(y)];
    VerticalRowFrom(colourTaps.data(), weight, taps, sum, colourBytes, acc.data(), colourOut.data());
    if (plan.withGrey) VerticalRowFrom(greyTaps.data(), weight, taps, sum, greyBytes, acc.data(), greyOut.data());
    sink(y, colourOut.data(), plan.withGrey ? greyOut.data() : nullptr);
  }
}

}  // namespace ieresample
