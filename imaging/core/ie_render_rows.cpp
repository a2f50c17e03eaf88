// The row drawers of the zoomed drawing: for each source format the colour of
// every drawn column is fetched through the column map, then adjusted, blended
// and written (plain) or weighted in by opacity and alpha (alpha drawers).
#include <algorithm>
#include <cstring>

#include "imaging/core/ie_colorspace.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_icc.h"
#include "imaging/core/ie_render_internal.h"
#include "imaging/core/ie_resample_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QV_RENDER_X86_VECTORS 1
#endif

namespace {

uint8_t Adjust48(const TIERenderJob& job, int v, int channel) {
  const int64_t t = static_cast<int64_t>(std::trunc((v + job.brightness[channel] - 32768) * job.contrastFactor + 32768));
  return static_cast<uint8_t>(std::clamp<int64_t>(t / 256, 0, 255));
}

// Colours of the drawn columns of one source row, 8 bits a channel.
void FetchColours(const TIERenderJob& job, const uint8_t* src, TRGB* out, int count, std::vector<TCMYK>& cmyk) {
  const int32_t* xm = job.xmap;
  switch (job.format) {
    case ie24RGB: {
      const TRGB* s = reinterpret_cast<const TRGB*>(src);
      if (job.columnsInOrder) std::memcpy(out, s + xm[0], 3 * size_t(count));
      else for (int k = 0; k < count; ++k) out[k] = s[xm[k]];
      break;
    }
    case ie32RGB:
      for (int k = 0; k < count; ++k) {
        const uint8_t* p = src + 4 * int64_t(xm[k]);
        out[k] = TRGB{p[0], p[1], p[2]};
      }
      break;
    case ie1g:
      for (int k = 0; k < count; ++k) {
        const uint8_t v = GetRowBit(src, xm[k]) ? 255 : 0;
        out[k] = TRGB{v, v, v};
      }
      break;
    case ie8g:
      for (int k = 0; k < count; ++k) {
        const uint8_t v = job.greyLut[src[xm[k]]];
        out[k] = TRGB{v, v, v};
      }
      break;
    case ie8p:
      for (int k = 0; k < count; ++k) out[k] = job.palette[src[xm[k]]];
      break;
    case ie16g: {
      const uint16_t* s = reinterpret_cast<const uint16_t*>(src);
      for (int k = 0; k < count; ++k) {
        const uint16_t w = s[xm[k]];
        const uint8_t v = job.greyRange ? GreyThroughRange(job, w) : static_cast<uint8_t>(w >> 8);
        out[k] = TRGB{v, v, v};
      }
      break;
    }
    case ie32f: {
      const float* s = reinterpret_cast<const float*>(src);
      for (int k = 0; k < count; ++k) {
        double f = s[xm[k]];
        uint8_t v;
        if (job.greyRange) {
          if (f < job.rangeMin) f = job.rangeMin;
          if (f > job.rangeMax) f = job.rangeMax;
          v = TruncByte((f - job.rangeMin) / job.rangeSpan * 255);
        } else {
          v = TruncByte(f * 255);
        }
        out[k] = TRGB{v, v, v};
      }
      break;
    }
    case ieCMYK: {
      const TCMYK* s = reinterpret_cast<const TCMYK*>(src);
      for (int k = 0; k < count; ++k) cmyk[size_t(k)] = s[xm[k]];
      CMYKRowToRGB(cmyk.data(), out, count);
      break;
    }
    case ieCIELab: {
      const TCIELab* s = reinterpret_cast<const TCIELab*>(src);
      for (int k = 0; k < count; ++k) {
        const TCIELab& p = s[xm[k]];
        out[k] = ConvertCIELabToRGB(p.l, p.a, p.b);
      }
      break;
    }
    case ieRGB48: {
      const TRGB48* s = reinterpret_cast<const TRGB48*>(src);
      if (job.adjust) {
        for (int k = 0; k < count; ++k) {
          const TRGB48& p = s[xm[k]];
          out[k] = TRGB{Adjust48(job, p.b, 0), Adjust48(job, p.g, 1), Adjust48(job, p.r, 2)};
        }
      } else {
        for (int k = 0; k < count; ++k) {
          const TRGB48& p = s[xm[k]];
          out[k] = TRGB{uint8_t(p.b >> 8), uint8_t(p.g >> 8), uint8_t(p.r >> 8)};
        }
      }
      break;
    }
    default:
      break;
  }
}

// Brightness, contrast (and range) of the 8-bit colour drawers.
inline void ApplyLut(const TIERenderJob& job, TRGB& p) {
  p.b = job.lut[0][p.b];
  p.g = job.lut[1][p.g];
  p.r = job.lut[2][p.r];
}

// Plain drawers: the colour, blended with the destination when asked.
void WritePlain(const TIERenderJob& job, const TRGB* colour, TRGB* dst, int count, int y) {
  if (job.blend) {
    for (int k = 0; k < count; ++k) BlendPixelByMode(colour[k], dst[k], job.mode, y);
  } else {
    std::memcpy(dst, colour, 3 * size_t(count));
  }
}

#ifdef QV_RENDER_X86_VECTORS
// Pixels 0 .. 16 m - 1 of WeighChannel on every channel, 16 pixels (48 bytes)
// a step, each pixel weighing min(opacity, alpha) (opacity alone without an
// alpha run): the weight spread over the pixel's three bytes, 255 taken as
// 256 (so the colour is written), and d + floor((n - d) w / 256) as the high
// half of (n - d) x 128 times w x 2. Returns how many pixels it did.
__attribute__((target("avx2"))) int WeighRunAvx2(const TRGB* colour, TRGB* dst, const uint8_t* alpha,
                                                 uint8_t opacity, int count) {
  const __m128i spread[3] = {_mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5),
                             _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10),
                             _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15)};
  const __m256i full = _mm256_set1_epi16(255);
  const __m128i most = _mm_set1_epi8(char(opacity));
  int k = 0;
  for (; k + 16 <= count; k += 16) {
    const __m128i w =
        alpha ? _mm_min_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha + k)), most) : most;
    if (_mm_testz_si128(w, w)) continue;  // all transparent: nothing to do
    auto* d = reinterpret_cast<uint8_t*>(dst + k);
    const auto* n = reinterpret_cast<const uint8_t*>(colour + k);
    for (int part = 0; part < 3; ++part) {
      __m256i w16 = _mm256_cvtepu8_epi16(_mm_shuffle_epi8(w, spread[part]));
      w16 = _mm256_sub_epi16(w16, _mm256_cmpeq_epi16(w16, full));
      const __m256i d16 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 16 * part)));
      const __m256i n16 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(n + 16 * part)));
      const __m256i step =
          _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(n16, d16), 7), _mm256_slli_epi16(w16, 1));
      const __m256i r = _mm256_add_epi16(d16, step);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16 * part),
                       _mm_packus_epi16(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1)));
    }
  }
  return k;
}
#endif

// Pixels from..count - 1 weighed one at a time.
void WeighPixels(const TRGB* colour, TRGB* dst, const uint8_t* alpha, uint8_t opacity, int from, int count) {
  for (int k = from; k < count; ++k) {
    const int w = alpha ? std::min(opacity, alpha[k]) : opacity;
    if (w == 0) continue;
    const TRGB& c = colour[k];
    TRGB& d = dst[k];
    d.b = WeighChannel(d.b, c.b, w);
    d.g = WeighChannel(d.g, c.g, w);
    d.r = WeighChannel(d.r, c.r, w);
  }
}

// Weighs in a run of pixels whose alpha values (if any) lie side by side.
void WeighRun(const TRGB* colour, TRGB* dst, const uint8_t* alpha, uint8_t opacity, int count) {
  int k = 0;
#ifdef QV_RENDER_X86_VECTORS
  if (ieresample::CpuHasAvx2()) k = WeighRunAvx2(colour, dst, alpha, opacity, count);
#endif
  WeighPixels(colour, dst, alpha, opacity, k, count);
}

// Weight min(opacity, alpha) of the colour; alpha values read through the
// column map are gathered a run at a time first.
void WeighInNormal(const TIERenderJob& job, const TRGB* colour, TRGB* dst, int count, const uint8_t* alphaRow) {
  if (!alphaRow || job.columnsInOrder) {
    WeighRun(colour, dst, alphaRow ? alphaRow + job.xmap[0] : nullptr, job.opacity, count);
    return;
  }
  uint8_t alpha[256];
  for (int start = 0; start < count; start += 256) {
    const int n = std::min(256, count - start);
    const int32_t* xm = job.xmap + start;
    for (int k = 0; k < n; ++k) alpha[k] = alphaRow[xm[k]];
    WeighRun(colour + start, dst + start, alpha, job.opacity, n);
  }
}

// Alpha drawers: weight min(opacity, alpha) of the colour, or of the colour
// blended into a copy of the destination pixel.
void WeighIn(const TIERenderJob& job, const TRGB* colour, TRGB* dst, int count, const uint8_t* alphaRow, int y) {
  if (!job.blend) {
    WeighInNormal(job, colour, dst, count, alphaRow);
    return;
  }
  const int opacity = job.opacity;
  for (int k = 0; k < count; ++k) {
    const int w = alphaRow ? std::min<int>(opacity, alphaRow[job.xmap[k]]) : opacity;
    if (w == 0) continue;
    TRGB n = colour[k];
    if (job.blend) {
      TRGB d = dst[k];
      BlendPixelByMode(n, d, job.mode, y);
      n = d;
    }
    TRGB& d = dst[k];
    d.b = WeighChannel(d.b, n.b, w);
    d.g = WeighChannel(d.g, n.g, w);
    d.r = WeighChannel(d.r, n.r, w);
  }
}

const uint8_t* AlphaRow(const TIERenderJob& job, int i, int sourceRow) {
  if (!job.alpha) return nullptr;
  return job.alphaRows.empty() ? job.alpha->ScanLine(sourceRow) : job.alphaRows[size_t(i)];
}

// Virtual sources: the renderer draws its rows, then the row callback gives
// each pixel (straight into the destination when nothing is done to it).
void DrawVirtualRows(const TIERenderJob& job, int yFirst, int yLast) {
  const int count = job.x2 - job.x1 + 1;
  if (job.renderer)
    job.renderer->DrawRows(job.source, job.rows, job.mode, job.plain ? 255 : job.opacity, job.ymap + (yFirst - job.y1),
                           job.xmap, yLast, job.x2, yFirst, job.x1);
  if (!job.rowCallback) return;
  const TIERowCallback& callback = *job.rowCallback;
  std::vector<TRGB> colour(static_cast<size_t>(count));
  for (int y = yFirst; y <= yLast; ++y) {
    const int i = y - job.y1;
    const int sy = job.ymap[i];
    if (!job.rows[y]) continue;
    TRGB* dst = reinterpret_cast<TRGB*>(job.rows[y]) + job.x1;
    if (job.plain && !job.adjust) {
      for (int k = 0; k < count; ++k) callback(job.source, job.xmap[k], &dst[k], sy);
      continue;
    }
    for (int k = 0; k < count; ++k) {
      colour[size_t(k)] = TRGB{};
      callback(job.source, job.xmap[k], &colour[size_t(k)], sy);
      if (job.adjust) ApplyLut(job, colour[size_t(k)]);
    }
    if (job.plain) WritePlain(job, colour.data(), dst, count, y);
    else WeighIn(job, colour.data(), dst, count, AlphaRow(job, i, sy), y);
  }
}

}  // namespace

void DrawSourceRow(const TIERenderJob& job, int y, const uint8_t* src, const uint8_t* alphaRow, TRGB* colour,
                   std::vector<TCMYK>& cmyk) {
  const int count = job.x2 - job.x1 + 1;
  TRGB* dst = reinterpret_cast<TRGB*>(job.rows[y]) + job.x1;
  if (job.fast) {
    std::memcpy(dst, src + 3 * int64_t(job.fastX), 3 * size_t(count));
    return;
  }
  if (job.plain && !job.adjust) {  // colours straight into the destination
    FetchColours(job, src, dst, count, cmyk);
    return;
  }
  if (job.columnsInOrder && job.format == ie24RGB && !job.adjust && !job.blend) {
    // Nothing is done to the colours before they are weighed in: read them in place.
    WeighIn(job, reinterpret_cast<const TRGB*>(src) + job.xmap[0], dst, count, alphaRow, y);
    return;
  }
  FetchColours(job, src, colour, count, cmyk);
  if (job.adjust && job.format != ieRGB48)
    for (int k = 0; k < count; ++k) ApplyLut(job, colour[k]);
  if (job.plain) WritePlain(job, colour, dst, count, y);
  else WeighIn(job, colour, dst, count, alphaRow, y);
}

void DrawRowBand(const TIERenderJob& job, int yFirst, int yLast) {
  if (job.isVirtual) {
    DrawVirtualRows(job, yFirst, yLast);
    return;
  }
  const int count = job.x2 - job.x1 + 1;
  const bool direct = job.plain && !job.adjust;
  std::vector<TRGB> colour(direct ? 0 : size_t(count));
  std::vector<TCMYK> cmyk(job.format == ieCMYK ? size_t(count) : 0);
  int previousSourceRow = -1;
  for (int y = yFirst; y <= yLast; ++y) {
    const int i = y - job.y1;
    if (!job.rows[y]) {
      previousSourceRow = -1;
      continue;
    }
    const int sy = job.fast ? job.fastY + y : job.ymap[i];
    // A repeated source row of an opaque plain drawing: only the drawn columns
    // of the row above are copied, whatever lies beside them.
    if (job.rowReuse && y > yFirst && sy == previousSourceRow) {
      std::memcpy(reinterpret_cast<TRGB*>(job.rows[y]) + job.x1, reinterpret_cast<const TRGB*>(job.rows[y - 1]) + job.x1,
                  3 * size_t(count));
      continue;
    }
    previousSourceRow = sy;
    const uint8_t* src = job.sourceRows.empty() ? job.source->ScanLine(sy) : job.sourceRows[size_t(i)];
    if (!src) continue;
    DrawSourceRow(job, y, src, job.plain ? nullptr : AlphaRow(job, i, sy), colour.data(), cmyk);
  }
}
