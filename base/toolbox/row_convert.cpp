#include "base/toolbox/row_convert.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define QV_ROW_CONVERT_SSSE3 1
#endif

namespace {

void SwapRgbScalar(const uint8_t* s, uint8_t* d, int count) {
  for (int i = 0; i < count; ++i, s += 3, d += 3) {
    const uint8_t r = s[0], g = s[1], b = s[2];
    d[0] = b, d[1] = g, d[2] = r;
  }
}

void RgbaToBgrAndAlphaScalar(const uint8_t* s, uint8_t* bgr, uint8_t* alpha, int count) {
  for (int i = 0; i < count; ++i, s += 4, bgr += 3) {
    bgr[0] = s[2], bgr[1] = s[1], bgr[2] = s[0];
    alpha[i] = s[3];
  }
}

void BgrAndAlphaToRgbaScalar(const uint8_t* bgr, const uint8_t* alpha, uint8_t* d, int count) {
  for (int i = 0; i < count; ++i, bgr += 3, d += 4) {
    d[0] = bgr[2], d[1] = bgr[1], d[2] = bgr[0];
    d[3] = alpha[i];
  }
}

void BgrAndAlphaToBgraScalar(const uint8_t* bgr, const uint8_t* alpha, uint8_t* d, int count) {
  for (int i = 0; i < count; ++i, bgr += 3, d += 4) {
    d[0] = bgr[0], d[1] = bgr[1], d[2] = bgr[2];
    d[3] = alpha[i];
  }
}

void SwapRgbaScalar(const uint8_t* s, uint8_t* d, int count) {
  for (int i = 0; i < count; ++i, s += 4, d += 4) {
    const uint8_t r = s[0], g = s[1], b = s[2], a = s[3];
    d[0] = b, d[1] = g, d[2] = r, d[3] = a;
  }
}

void RgbToOpaqueBgraScalar(const uint8_t* s, uint8_t* d, int count) {
  for (int i = 0; i < count; ++i, s += 3, d += 4) {
    const uint8_t r = s[0], g = s[1], b = s[2];
    d[0] = b, d[1] = g, d[2] = r, d[3] = 255;
  }
}

void ClearTransparentScalar(const uint8_t* alpha, uint8_t* d, int count) {
  for (int i = 0; i < count; ++i, d += 4)
    if (alpha[i] == 0) std::memset(d, 0, 4);
}

void MaskFromAlphaScalar(const uint8_t* alpha, uint8_t* mask, int count) {
  for (int x0 = 0; x0 < count; x0 += 8) {
    unsigned bits = 0;
    for (int i = 0; i < 8 && x0 + i < count; ++i) bits |= unsigned(alpha[x0 + i] == 0) << (7 - i);
    mask[x0 >> 3] = uint8_t(bits);
  }
}

#if QV_ROW_CONVERT_SSSE3

bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

// Each loop reads and writes whole 16-byte blocks, so it stops while a block
// still lies inside the row on both sides; the scalar loop does the rest.

// One byte shuffle per block of kPerBlock pixels of kPixelBytes bytes; the
// block reads and writes 16 bytes, so kAhead more pixels must follow it in
// the row.
template <int kPixelBytes, int kPerBlock, int kAhead>
__attribute__((target("ssse3"))) int ShuffleRowSsse3(const uint8_t* s, uint8_t* d, int count, __m128i order) {
  int i = 0;
  for (; i + kPerBlock + kAhead <= count; i += kPerBlock) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * kPixelBytes));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * kPixelBytes), _mm_shuffle_epi8(v, order));
  }
  return i;
}

// Five pixels per block; the sixteenth byte is rewritten by the next block.
int SwapRgbSsse3(const uint8_t* s, uint8_t* d, int count) {
  return ShuffleRowSsse3<3, 5, 1>(s, d, count, _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15));
}

int SwapRgbaSsse3(const uint8_t* s, uint8_t* d, int count) {
  return ShuffleRowSsse3<4, 4, 0>(s, d, count, _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15));
}

__attribute__((target("ssse3"))) int RgbaToBgrAndAlphaSsse3(const uint8_t* s, uint8_t* bgr, uint8_t* alpha,
                                                             int count) {
  // Four pixels per block: twelve colour bytes, then the four alphas.
  const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, 3, 7, 11, 15);
  int i = 0;
  for (; i + 6 <= count; i += 4) {
    const __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 4)), order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + i * 3), v);
    const int a = _mm_cvtsi128_si32(_mm_srli_si128(v, 12));
    std::memcpy(alpha + i, &a, 4);
  }
  return i;
}

// Four pixels per block from twelve colour bytes and four alphas; with kClear
// the pixels of alpha 0 become 0.
template <bool kSwap, bool kClear = false>
__attribute__((target("ssse3"))) int BgrAndAlphaToQuadsSsse3(const uint8_t* bgr, const uint8_t* alpha, uint8_t* d,
                                                              int count) {
  const __m128i colour = kSwap ? _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1)
                               : _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i spread = _mm_setr_epi8(-1, -1, -1, 0, -1, -1, -1, 1, -1, -1, -1, 2, -1, -1, -1, 3);
  int i = 0;
  for (; i + 6 <= count; i += 4) {
    const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + i * 3)), colour);
    int a;
    std::memcpy(&a, alpha + i, 4);
    const __m128i al = _mm_shuffle_epi8(_mm_cvtsi32_si128(a), spread);
    __m128i px = _mm_or_si128(c, al);
    if (kClear) px = _mm_andnot_si128(_mm_cmpeq_epi32(al, _mm_setzero_si128()), px);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 4), px);
  }
  return i;
}

// Mask bytes of sixteen pixels a block: a byte compare gives one bit a pixel
// with the first pixel lowest, and a table turns each byte's bits round.
// Byte v with its bits in the opposite order: movemask gives pixel 0 in the
// low bit, a mask row wants it in the high bit.
const std::array<uint8_t, 256>& ReversedBits() {
  static const auto reversed = [] {
    std::array<uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v)
      for (int b = 0; b < 8; ++b)
        if (v & (1 << b)) t[size_t(v)] |= uint8_t(0x80 >> b);
    return t;
  }();
  return reversed;
}

__attribute__((target("sse2"))) int MaskFromAlphaSse2(const uint8_t* alpha, uint8_t* mask, int count) {
  const std::array<uint8_t, 256>& reversed = ReversedBits();
  int i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha + i));
    const unsigned bits = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_setzero_si128())));
    mask[i >> 3] = reversed[bits & 0xFF];
    mask[(i >> 3) + 1] = reversed[bits >> 8];
  }
  return i;
}

// Sixteen pixels per block: those whose alpha byte is 0 are cleared, and
// their mask bits (one per pixel, the first the high bit) gathered.
__attribute__((target("sse2"))) int ClearTransparentBgraSse2(uint8_t* bgra, uint8_t* mask, int count) {
  const std::array<uint8_t, 256>& reversed = ReversedBits();
  const __m128i zero = _mm_setzero_si128();
  int i = 0;
  for (; i + 16 <= count; i += 16) {
    unsigned bits = 0;
    for (int k = 0; k < 4; ++k) {
      auto* at = reinterpret_cast<__m128i*>(bgra + size_t(i + k * 4) * 4);
      const __m128i v = _mm_loadu_si128(at);
      const __m128i clear = _mm_cmpeq_epi32(_mm_srli_epi32(v, 24), zero);
      _mm_storeu_si128(at, _mm_andnot_si128(clear, v));
      bits |= unsigned(_mm_movemask_ps(_mm_castsi128_ps(clear))) << (k * 4);
    }
    if (mask) {
      mask[i >> 3] = reversed[bits & 0xFF];
      mask[(i >> 3) + 1] = reversed[bits >> 8];
    }
  }
  return i;
}

// Four pixels per block from twelve colour bytes (the block reads four more).
__attribute__((target("ssse3"))) int RgbToOpaqueBgraSsse3(const uint8_t* s, uint8_t* d, int count) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
  const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
  int i = 0;
  for (; i + 6 <= count; i += 4) {
    const __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 3)), order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 4), _mm_or_si128(v, opaque));
  }
  return i;
}

#endif

}  // namespace

void SwapRgbRow(const uint8_t* src, uint8_t* dst, int count) {
  int done = 0;
#if QV_ROW_CONVERT_SSSE3
  if (HasSsse3()) done = SwapRgbSsse3(src, dst, count);
#endif
  SwapRgbScalar(src + done * 3, dst + done * 3, count - done);
}

void RgbaToBgrAndAlpha(const uint8_t* src, uint8_t* bgr, uint8_t* alpha, int count) {
  int done = 0;
#if QV_ROW_CONVERT_SSSE3
  if (HasSsse3()) done = RgbaToBgrAndAlphaSsse3(src, bgr, alpha, count);
#endif
  RgbaToBgrAndAlphaScalar(src + done * 4, bgr + done * 3, alpha + done, count - done);
}

void BgrAndAlphaToRgba(const uint8_t* bgr, const uint8_t* alpha, uint8_t* dst, int count) {
  int done = 0;
#if QV_ROW_CONVERT_SSSE3
  if (HasSsse3()) done = BgrAndAlphaToQuadsSsse3<true>(bgr, alpha, dst, count);
#endif
  BgrAndAlphaToRgbaScalar(bgr + done * 3, alpha + done, dst + done * 4, count - done);
}

void BgrAndAlphaToBgra(const uint8_t* bgr, const uint8_t* alpha, uint8_t* dst, int count) {
  int done = 0;
#if QV_ROW_CONVERT_SSSE3
  if (HasSsse3()) done = BgrAndAlphaToQuadsSsse3<false>(bgr, alpha, dst, count);
#endif
  BgrAndAlphaToBgraScalar(bgr + done * 3, alpha + done, dst + done * 4, count - done);
}

void SwapRgbaRow(const uint8_t* src, uint8_t* dst, int count) {
  int done = 0;
#if QV_ROW_CONVERT_SSSE3
  if (HasSsse3()) done = SwapRgbaSsse3(src, dst, count);
#endif
  SwapRgbaScalar(src + done * 4, dst + done * 4, count - done);
}

void RgbToOpaqueBgra(const uint8_t* src, uint8_t* dst, int count) {
  int done = 0;
#if QV_ROW_CONVERT_SSSE3
  if (HasSsse3()) done = RgbToOpaqueBgraSsse3(src, dst, count);
#endif
  RgbToOpaqueBgraScalar(src + done * 3, dst + done * 4, count - done);
}

void BgrAndAlphaToBgraClearingTransparent(const uint8_t* bgr, const uint8_t* alpha, uint8_t* dst, uint8_t* mask,
                                          int count) {
  int done = 0;
#if QV_ROW_CONVERT_SSSE3
  if (HasSsse3()) done = BgrAndAlphaToQuadsSsse3<false, true>(bgr, alpha, dst, count);
#endif
  BgrAndAlphaToBgraScalar(bgr + done * 3, alpha + done, dst + done * 4, count - done);
  ClearTransparentScalar(alpha + done, dst + done * 4, count - done);
  if (!mask) return;
  int masked = 0;
#if QV_ROW_CONVERT_SSSE3
  masked = MaskFromAlphaSse2(alpha, mask, count);
#endif
  MaskFromAlphaScalar(alpha + masked, mask + masked / 8, count - masked);
}

void ClearTransparentBgra(uint8_t* bgra, uint8_t* mask, int count) {
  int done = 0;
#if QV_ROW_CONVERT_SSSE3
  done = ClearTransparentBgraSse2(bgra, mask, count);
#endif
  uint8_t* d = bgra + size_t(done) * 4;
  for (int x0 = done; x0 < count; x0 += 8) {
    unsigned bits = 0;
    for (int i = 0; i < 8 && x0 + i < count; ++i, d += 4)
      if (d[3] == 0) {
        std::memset(d, 0, 4);
        bits |= 0x80u >> i;
      }
    if (mask) mask[x0 >> 3] = uint8_t(bits);
  }
}
