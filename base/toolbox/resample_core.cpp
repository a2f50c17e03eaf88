#include "base/toolbox/resample_core.h"

#include <algorithm>
#include <vector>

#include "platform/rtl/rounding.h"

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
struct TAlphaIntermediate {
  TPixelBuffer Colour;  // 4 bytes: blue, green, red, weighted alpha
  TPixelBuffer Alpha;   // 1 byte: plain alpha
};

template <int CB, int AB>
void HorizontalWithAlpha(const TPixelRows& colour, const TPixelRows& alpha, int alphaOffset,
                         const TContributorList& list, TAlphaIntermediate& inter) {
  const int W = list.Size();
  const int32_t* pix = list.Pixel.data();
  const int32_t* wt = list.Weight.data();
  const int32_t unit = list.WeightUnit;
  for (int y = 0; y < colour.Height; ++y) {
    const uint8_t* crow = colour.Row(y);
    const uint8_t* arow = alpha.Row(y) + alphaOffset;
    uint8_t* out = inter.Colour.Bytes.data() + static_cast<size_t>(y) * W * 4;
    uint8_t* outA = inter.Alpha.Bytes.data() + static_cast<size_t>(y) * W;
    for (int x = 0; x < W; ++x) {
      int32_t sv = 0, sb = 0, sg = 0, sr = 0, sa = 0, pa = 0;
      const int first = list.First[x], end = first + list.Count[x];
      for (int t = first; t < end; ++t) {
        const int j = pix[t];
        const int32_t k = wt[t];
        const int32_t a = arow[j * AB];
        const int32_t v = (a * k) / 255;  // truncates toward zero for negative lobes
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

void VerticalWithAlpha(const TAlphaIntermediate& inter, const TContributorList& list, const TPixelRows& dst,
                       bool plainAlpha) {
  const int W = inter.Colour.Width;
  std::vector<int32_t> sv(W), sb(W), sg(W), sr(W), sa(W), pa(W);
  const int32_t unit = list.WeightUnit;
  for (int y = 0; y < list.Size(); ++y) {
    for (auto* v : {&sv, &sb, &sg, &sr, &sa, &pa}) std::fill(v->begin(), v->end(), 0);
    const int first = list.First[y], end = first + list.Count[y];
    for (int t = first; t < end; ++t) {
      const size_t j = static_cast<size_t>(list.Pixel[t]);
      const uint8_t* row = inter.Colour.Bytes.data() + j * W * 4;
      const uint8_t* rowA = inter.Alpha.Bytes.data() + j * W;
      const int32_t k = list.Weight[t];
      for (int x = 0; x < W; ++x) {
        const uint8_t* p = row + x * 4;
        const int32_t a = p[3];
        const int32_t v = (a * k) / 255;
        sv[x] += v;
        sb[x] += v * p[0];
        sg[x] += v * p[1];
        sr[x] += v * p[2];
        sa[x] += v * a;
        pa[x] += k * rowA[x];
      }
    }
    uint8_t* out = dst.Row(y);
    const int32_t weights = list.WeightSum[y];
    for (int x = 0; x < W; ++x) {
      out[x * 4 + 0] = Finish(sb[x], sv[x], unit);
      out[x * 4 + 1] = Finish(sg[x], sv[x], unit);
      out[x * 4 + 2] = Finish(sr[x], sv[x], unit);
      out[x * 4 + 3] = plainAlpha ? Finish(pa[x], weights, unit) : Finish(sa[x], sv[x], unit);
    }
  }
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
  TAlphaIntermediate inter{TPixelBuffer(dst.Width, colour.Height, 4), TPixelBuffer(dst.Width, colour.Height, 1)};
  if (colourPixelBytes == 4 && alphaPixelBytes == 4)
    HorizontalWithAlpha<4, 4>(colour, alpha, alphaOffset, horiz, inter);
  else
    HorizontalWithAlpha<3, 3>(colour, alpha, alphaOffset, horiz, inter);
  const TContributorList vert = BuildContributors(colour.Height, dst.Height, filter);
  VerticalWithAlpha(inter, vert, dst, plainAlpha);
}

bool BorderAlphaAverages(const TPixelRows& rows, uint8_t& left, uint8_t& top, uint8_t& right, uint8_t& bottom) {
  const int w = rows.Width, h = rows.Height;
  if (w < 4 || h < 4 || w / h > 40 || h / w > 40) return false;
  const int k = w / 32;
  auto alpha = [&](int x, int y) -> int64_t { return rows.Row(y)[x * 4 + 3]; };
  int64_t sl = 0, sr = 0, st = 0, sb = 0;
  const int rightStart = std::max(0, w - 1 - k), topEnd = std::min(k, h - 1), bottomStart = std::max(0, h - 1 - k);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x <= k && x < w; ++x) sl += alpha(x, y);
    for (int x = rightStart; x < w; ++x) sr += alpha(x, y);
  }
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y <= topEnd; ++y) st += alpha(x, y);
    for (int y = bottomStart; y < h; ++y) sb += alpha(x, y);
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
    for (int x = 0; x < rows.Width; ++x)
      if (p[x] == 0x00FFFFFFu) p[x] = 0;
  }
}

namespace {

bool HasTransparentWhite(const TPixelRows& rows) {
  for (int y = 0; y < rows.Height; ++y) {
    const uint32_t* p = reinterpret_cast<const uint32_t*>(rows.Row(y));
    for (int x = 0; x < rows.Width; ++x)
      if (p[x] == 0x00FFFFFFu) return true;
  }
  return false;
}

void ResampleDirect32(const TPixelRows& source, const TPixelRows& target, TIconResampleFilter filter,
                      bool transparentWhite) {
  // Colour pixels of alpha 0 weigh nothing in the alpha-weighted passes, so
  // the 32-bit rows serve as colour and alpha at once.
  ResampleRowsWithAlpha(source, 4, source, 4, 3, target, filter, true);
  if (!transparentWhite) ClearTransparentWhiteRows(target);
}

}  // namespace

void ResampleBlock32(const TPixelRows& source, const TPixelRows& target, TIconResampleFilter filter) {
  const int w = source.Width, h = source.Height, W = target.Width, H = target.Height;
  if (w <= 0 || h <= 0 || W <= 0 || H <= 0) return;
  const bool transparentWhite = HasTransparentWhite(source);
  uint8_t l = 0, t = 0, r = 0, b = 0;
  const bool border = BorderAlphaAverages(source, l, t, r, b) && (l >= 1 || t >= 1 || r >= 1 || b >= 1) &&
                      l <= 230 && t <= 230 && r <= 230 && b <= 230 && W >= 4 && H >= 4;
  if (!border) {
    ResampleDirect32(source, target, filter, transparentWhite);
    return;
  }
  constexpr int kFrame = 30;
  TPixelBuffer padded(w + 2 * kFrame, h + 2 * kFrame, 4);
  for (int y = 0; y < h; ++y)
    std::copy_n(source.Row(y), static_cast<size_t>(w) * 4, padded.Rows().Row(y + kFrame) + kFrame * 4);
  const int bx = static_cast<int>(Round(W * static_cast<double>(kFrame) / w));
  const int by = static_cast<int>(Round(H * static_cast<double>(kFrame) / h));
  TPixelBuffer result(W + 2 * bx, H + 2 * by, 4);
  ResampleDirect32(padded.Rows(), result.Rows(), filter, transparentWhite);
  for (int y = 0; y < H; ++y)
    std::copy_n(result.Rows().Row(y + by) + bx * 4, static_cast<size_t>(W) * 4, target.Row(y));
}
