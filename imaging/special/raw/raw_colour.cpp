// After loading: white balance, the Foveon reconstruction, demosaicing of
// filter-pattern sensors and conversion to red, green and blue with the
// luminance histogram; and the fixed colour matrices of some cameras.
#include <algorithm>
#include <cmath>
#include <vector>

#include "imaging/special/raw/raw_state.h"
#include "platform/rtl/rounding.h"

namespace {

void SetMatrix(TRawDecoderState& s, const float m[3][4]) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) s.Coeff[r][c] = m[r][c];
  s.UseColourMatrix = true;
}

// A right shift of a signed value that rounds toward zero.
int64_t Shr(int64_t v, int n) { return v / (int64_t(1) << n); }

}  // namespace

// ---- matrices ----

void e950_colour_matrix(TRawDecoderState& s) {
  static const float m[3][4] = {{-1.936280f, 1.800443f, -1.448486f, 2.584324f},
                                {1.405365f, -0.524955f, -0.289090f, 0.408680f},
                                {-1.204965f, 1.082304f, 2.941367f, -1.818705f}};
  SetMatrix(s, m);
}

void sony_f828_colour_matrix(TRawDecoderState& s) {
  static const float m[3][4] = {{1.321918f, 0, 0.149829f, -0.471747f},
                                {-0.288764f, 1.129213f, -0.486517f, 0.646067f},
                                {0.061336f, -0.199343f, 1.138007f, 0}};
  SetMatrix(s, m);
}

void dc20_colour_matrix(TRawDecoderState& s, float weight) {
  static const float a[3][4] = {{2.25f, 0.75f, -1.75f, -0.25f}, {-0.25f, 0.75f, 0.75f, -0.25f}, {-0.25f, -1.75f, 0.75f, 2.25f}};
  static const float b[3][4] = {{1, 0, 0, 0}, {0, 0.5f, 0.5f, 0}, {0, 0, 0, 1}};
  float m[3][4];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) m[r][c] = weight * a[r][c] + (1 - weight) * b[r][c];
  SetMatrix(s, m);
}

void foveon_colour_matrix(TRawDecoderState& s) {
  static const float f[3][3] = {{2.034395f, -0.727533f, -0.306746f},
                                {-0.228719f, 1.231793f, -0.002829f},
                                {-0.008615f, -0.153336f, 1.161781f}};
  float m[3][4] = {};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[r][c] = f[r][c] * s.PreMul[r];
  SetMatrix(s, m);
}

void cmyg_colour_matrix(TRawDecoderState& s) {
  static const double table[4][3] = {{0.11, 0.86, 0.08}, {0.50, 0.29, 0.51}, {0.11, 0.92, 0.75}, {0.81, 0.98, 0.08}};
  double coeff[3][4] = {};
  for (int k = 0; k < 4; ++k) {
    double m[3][6];
    for (int j = 0; j < 3; ++j) {
      const int g = j < k ? j : j + 1;
      for (int i = 0; i < 3; ++i) m[j][i] = table[g][i];
      for (int i = 0; i < 3; ++i) m[j][3 + i] = i == j ? 1 : 0;
    }
    for (int i = 0; i < 3; ++i) {
      const double d = m[i][i];
      for (double& v : m[i]) v /= d;
      for (int r = 0; r < 3; ++r) {
        if (r == i) continue;
        const double f = m[r][i];
        for (int c = 0; c < 6; ++c) m[r][c] -= f * m[i][c];
      }
    }
    for (int j = 0; j < 3; ++j) {
      const int g = j < k ? j : j + 1;
      for (int r = 0; r < 3; ++r) coeff[r][g] += m[r][3 + j];
    }
  }
  for (int r = 0; r < 3; ++r) {
    const double sum = coeff[r][0] + coeff[r][1] + coeff[r][2] + coeff[r][3];
    for (int c = 0; c < 4; ++c) s.Coeff[r][c] = float(coeff[r][c] / sum);
  }
  s.UseColourMatrix = true;
}

// ---- white balance ----

void white_balance_scale(TRawDecoderState& s) {
  s.Maximum -= s.Black;
  const int64_t cells = s.IHeight * s.IWidth;
  const bool cameraAuto = s.UseCameraWB && s.CameraRed == -1;
  if (s.UseAutoWB || cameraAuto) {
    double sum[4] = {}, count[4] = {};
    for (int64_t i = 0; i < cells; ++i) {
      const uint16_t* cell = &s.Image[size_t(i * 4)];
      for (int c = 0; c < s.Colors; ++c) {
        int v = cell[c];
        if (v == 0) continue;
        v = std::max(v - s.Black, 0);
        if (v > s.Maximum - 100) continue;
        sum[c] += v;
        count[c] += 1;
      }
    }
    double avg[4] = {}, largest = 0;
    for (int c = 0; c < s.Colors; ++c) {
      avg[c] = count[c] > 0 ? sum[c] / count[c] : 0;
      largest = std::max(largest, avg[c]);
    }
    // A colour without samples keeps its multiplier.
    for (int c = 0; c < s.Colors; ++c)
      if (avg[c] > 0) s.PreMul[c] = float(largest / avg[c]);
  }
  if (s.UseCameraWB && s.CameraRed != -1) {
    double sum[4] = {}, count[4] = {};
    for (int row = 0; row < 8; ++row)
      for (int col = 0; col < 8; ++col) {
        const int c = s.FC(row, col);
        const int v = s.WhiteSample[row][col] - s.Black;
        if (v > 0) sum[c] += v;
        count[c] += 1;
      }
    double avg[4] = {}, smallest = 1.7e308, largest = 0;
    for (int c = 0; c < s.Colors; ++c) {
      avg[c] = count[c] > 0 ? sum[c] / count[c] : 0;
      smallest = std::min(smallest, avg[c]);
      largest = std::max(largest, avg[c]);
    }
    if (smallest > 0) {
      for (int c = 0; c < s.Colors; ++c) s.PreMul[c] = float(largest / avg[c]);
    } else if (s.CameraRed != 0 && s.CameraBlue != 0) {
      s.PreMul[0] = s.CameraRed;
      s.PreMul[1] = 1;
      s.PreMul[2] = s.CameraBlue;
      s.PreMul[3] = 1;
    }
  }
  if (!s.UseColourMatrix) {
    s.PreMul[0] *= s.RedScale;
    s.PreMul[2] *= s.BlueScale;
  }
  const int64_t top = std::max(s.Maximum, 0);
  for (int64_t i = 0; i < cells; ++i) {
    uint16_t* cell = &s.Image[size_t(i * 4)];
    for (int c = 0; c < s.Colors; ++c) {
      if (cell[c] == 0) continue;
      const double m = std::isfinite(s.PreMul[c]) ? s.PreMul[c] : 1.0;
      const int64_t v = Round((cell[c] - s.Black) * m);
      cell[c] = uint16_t(std::clamp<int64_t>(v, 0, top));
    }
  }
}

// ---- demosaicing ----

namespace {

struct TTerm {
  int Y1, X1, Y2, X2, Weight, Mask;
};

const TTerm kTerms[64] = {
    {-2, -2, 0, -1, 0, 0x01}, {-2, -2, 0, 0, 1, 0x01},  {-2, -1, -1, 0, 0, 0x01}, {-2, -1, 0, -1, 0, 0x02},
    {-2, -1, 0, 0, 0, 0x03},  {-2, -1, 0, 1, 1, 0x01},  {-2, 0, 0, -1, 0, 0x06},  {-2, 0, 0, 0, 1, 0x02},
    {-2, 0, 0, 1, 0, 0x03},   {-2, 1, -1, 0, 0, 0x04},  {-2, 1, 0, -1, 1, 0x04},  {-2, 1, 0, 0, 0, 0x06},
    {-2, 1, 0, 1, 0, 0x02},   {-2, 2, 0, 0, 1, 0x04},   {-2, 2, 0, 1, 0, 0x04},   {-1, -2, -1, 0, 0, 0x80},
    {-1, -2, 0, -1, 0, 0x01}, {-1, -2, 1, -1, 0, 0x01}, {-1, -2, 1, 0, 1, 0x01},  {-1, -1, -1, 1, 0, 0x88},
    {-1, -1, 1, -2, 0, 0x40}, {-1, -1, 1, -1, 0, 0x22}, {-1, -1, 1, 0, 0, 0x33},  {-1, -1, 1, 1, 1, 0x11},
    {-1, 0, -1, 2, 0, 0x08},  {-1, 0, 0, -1, 0, 0x44},  {-1, 0, 0, 1, 0, 0x11},   {-1, 0, 1, -2, 1, 0x40},
    {-1, 0, 1, -1, 0, 0x66},  {-1, 0, 1, 0, 1, 0x22},   {-1, 0, 1, 1, 0, 0x33},   {-1, 0, 1, 2, 1, 0x10},
    {-1, 1, 1, -1, 1, 0x44},  {-1, 1, 1, 0, 0, 0x66},   {-1, 1, 1, 1, 0, 0x22},   {-1, 1, 1, 2, 0, 0x10},
    {-1, 2, 0, 1, 0, 0x04},   {-1, 2, 1, 0, 1, 0x04},   {-1, 2, 1, 1, 0, 0x04},   {0, -2, 0, 0, 1, 0x80},
    {0, -1, 0, 1, 1, 0x88},   {0, -1, 1, -2, 0, 0x40},  {0, -1, 1, 0, 0, 0x11},   {0, -1, 2, -2, 0, 0x40},
    {0, -1, 2, -1, 0, 0x20},  {0, -1, 2, 0, 0, 0x30},   {0, -1, 2, 1, 1, 0x10},   {0, 0, 0, 2, 1, 0x08},
    {0, 0, 2, -2, 1, 0x40},   {0, 0, 2, -1, 0, 0x60},   {0, 0, 2, 0, 1, 0x20},    {0, 0, 2, 1, 0, 0x30},
    {0, 0, 2, 2, 1, 0x10},    {0, 1, 1, 0, 0, 0x44},    {0, 1, 1, 2, 0, 0x10},    {0, 1, 2, -1, 1, 0x40},
    {0, 1, 2, 0, 0, 0x60},    {0, 1, 2, 1, 0, 0x20},    {0, 1, 2, 2, 0, 0x10},    {1, -2, 1, 0, 0, 0x80},
    {1, -1, 1, 1, 0, 0x88},   {1, 0, 1, 2, 0, 0x08},    {1, 0, 2, -1, 0, 0x40},   {1, 0, 2, 1, 0, 0x10},
};

const int kDirs[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}};

// The pattern colour of a position relative to the pattern origin (the
// pattern repeats every eight rows and two columns).
int PatternColour(const TRawDecoderState& s, int row, int col) { return s.FC(row + 16, col + 16); }

struct TNeighbour {
  int64_t Offset;  // sample index offset: cell offset x 4 + colour
  int Shift, Colour;
};

struct TBilinear {
  TNeighbour N[8];
  int Missing[3][2];  // colour, total
  int MissingCount = 0;
};

void Bilinear(TRawDecoderState& s) {
  const int64_t w = s.Width, h = s.Height;
  TBilinear codes[8][2];
  for (int row = 0; row < 8; ++row)
    for (int col = 0; col < 2; ++col) {
      TBilinear& b = codes[row][col];
      int total[4] = {};
      int n = 0;
      for (int y = -1; y <= 1; ++y)
        for (int x = -1; x <= 1; ++x) {
          if (y == 0 && x == 0) continue;
          const int shift = (y == 0 || x == 0) ? 1 : 0;
          const int colour = PatternColour(s, row + y, col + x);
          b.N[n++] = {(y * w + x) * 4 + colour, shift, colour};
          total[colour] += 1 << shift;
        }
      const int own = PatternColour(s, row, col);
      for (int c = 0; c < s.Colors; ++c) {
        if (c == own) continue;
        b.Missing[b.MissingCount][0] = c;
        b.Missing[b.MissingCount][1] = total[c];
        ++b.MissingCount;
      }
    }
  uint16_t* image = s.Image.data();
  for (int64_t row = 1; row < h - 1; ++row) {
    for (int64_t col = 1; col < w - 1; ++col) {
      const TBilinear& b = codes[row & 7][col & 1];
      uint16_t* pix = image + (row * w + col) * 4;
      int sum[4] = {};
      for (const TNeighbour& n : b.N) sum[n.Colour] += pix[n.Offset] << n.Shift;
      for (int i = 0; i < b.MissingCount; ++i) {
        const int c = b.Missing[i][0], total = b.Missing[i][1];
        // A colour absent from the neighbourhood keeps what was loaded.
        if (total != 0) pix[c] = uint16_t(sum[c] / total);
      }
    }
  }
}

struct TGradTerm {
  int64_t Off1, Off2;
  int Weight;
  int Mask;
};

struct TVngCode {
  std::vector<TGradTerm> Terms;
  int64_t Dir[8];
  int64_t TwoStep[8];  // 0: none
  int Colour;
};

void Gradients(TRawDecoderState& s) {
  const int64_t w = s.Width, h = s.Height;
  if (w < 5 || h < 5) return;
  TVngCode codes[8][2];
  for (int row = 0; row < 8; ++row)
    for (int col = 0; col < 2; ++col) {
      TVngCode& v = codes[row][col];
      const int colour = PatternColour(s, row, col);
      v.Colour = colour;
      const int diag = PatternColour(s, row, col + 1) == PatternColour(s, row + 1, col) ? 2 : 1;
      for (const TTerm& t : kTerms) {
        const int c1 = PatternColour(s, row + t.Y1, col + t.X1), c2 = PatternColour(s, row + t.Y2, col + t.X2);
        if (c1 != c2) continue;
        if (std::abs(t.Y2 - t.Y1) == diag && std::abs(t.X2 - t.X1) == diag) continue;
        v.Terms.push_back({(t.Y1 * w + t.X1) * 4 + c1, (t.Y2 * w + t.X2) * 4 + c2, t.Weight, t.Mask});
      }
      for (int d = 0; d < 8; ++d) {
        const int y = kDirs[d][0], x = kDirs[d][1];
        v.Dir[d] = (y * w + x) * 4;
        const int cn = PatternColour(s, row + y, col + x);
        const int c2 = PatternColour(s, row + 2 * y, col + 2 * x);
        v.TwoStep[d] = (cn != colour && c2 == colour) ? (2 * y * w + 2 * x) * 4 + colour : 0;
      }
    }
  auto rows = RawBuffer<uint16_t>(size_t(3 * w * 4), "vng_interpolate");
  uint16_t* image = s.Image.data();
  auto writeBack = [&](int64_t row) {
    std::memcpy(image + (row * w + 2) * 4, &rows[size_t(((row % 3) * w + 2) * 4)], size_t(w - 4) * 8);
  };
  for (int64_t row = 2; row < h - 2; ++row) {
    for (int64_t col = 2; col < w - 2; ++col) {
      const TVngCode& v = codes[row & 7][col & 1];
      const uint16_t* pix = image + (row * w + col) * 4;
      uint16_t* out = &rows[size_t(((row % 3) * w + col) * 4)];
      int64_t gval[8] = {};
      for (const TGradTerm& t : v.Terms) {
        const int64_t diff = std::abs(int64_t(pix[t.Off1]) - int64_t(pix[t.Off2])) << t.Weight;
        for (int g = 0; g < 8; ++g)
          if (t.Mask & (1 << g)) gval[g] += diff;
      }
      int64_t gmin = gval[0], gmax = gval[0];
      for (int64_t g : gval) gmin = std::min(gmin, g), gmax = std::max(gmax, g);
      std::memcpy(out, pix, 8);
      if (gmax == 0) continue;
      const int64_t thold = gmin + (gmax >> 1);
      int64_t sum[4] = {};
      int num = 0;
      for (int d = 0; d < 8; ++d) {
        if (gval[d] > thold) continue;
        for (int c = 0; c < s.Colors; ++c) {
          if (c == v.Colour && v.TwoStep[d] != 0)
            sum[c] += (pix[c] + pix[v.TwoStep[d]]) / 2;
          else
            sum[c] += pix[v.Dir[d] + c];
        }
        ++num;
      }
      for (int c = 0; c < s.Colors; ++c) {
        if (c == v.Colour) continue;
        const int64_t t = pix[v.Colour] + (sum[c] - sum[v.Colour]) / num;
        out[c] = uint16_t(std::clamp<int64_t>(t, 0, std::max(s.Maximum, 0)));
      }
    }
    if (row > 3) writeBack(row - 2);
  }
  for (int64_t row = std::max<int64_t>(2, h - 4); row < h - 2; ++row) writeBack(row);
}

}  // namespace

void vng_interpolate(TRawDecoderState& s) {
  Bilinear(s);
  if (s.QuickInterpolate) return;
  Gradients(s);
}

// ---- Foveon ----

void foveon_interpolate(TRawDecoderState& s) {
  static const int weight[3][9] = {{4141, 37726, 11265, -30437, 16066, -41102, 326, -413, 362},
                                   {1770, -1316, 3480, -2139, 213, -4998, -2381, 3496, -2008},
                                   {-3838, -24025, -12968, 20144, -12195, 30272, -631, -2025, 822}};
  static const double gain[3] = {1.0321, 1.0, 1.1124};
  static const int trans[3][3] = {{7576, -2933, 1279}, {-11594, 29911, -12394}, {4000, -18850, 20772}};
  const int64_t w = s.Width, h = s.Height;
  uint16_t* image = s.Image.data();

  // Tone and cross-talk.
  for (int64_t row = 0; row < h; ++row) {
    int64_t prev[3];
    for (int c = 0; c < 3; ++c) prev[c] = image[row * w * 4 + c];
    for (int64_t col = 0; col < w; ++col) {
      uint16_t* pix = image + (row * w + col) * 4;
      int64_t p[3], w0[3], w1[3], w2[3];
      for (int c = 0; c < 3; ++c) {
        const int64_t v = pix[c];
        const int64_t d = v - prev[c];
        prev[c] = v;
        p[c] = v + Shr((d + d * d / 16384) * 13107, 14);
      }
      for (int c = 0; c < 3; ++c) {
        w0[c] = Shr(p[c] * p[c], 14);
        w2[c] = Shr(p[c] * w0[c], 14);
        w1[2 - c] = Shr(p[(c + 1) % 3] * p[(c + 2) % 3], 14);
      }
      for (int c = 0; c < 3; ++c) {
        int64_t sum = 0;
        const int64_t* terms[3] = {w0, w1, w2};
        for (int i = 0; i < 3; ++i)
          for (int j = 0; j < 3; ++j) sum += weight[c][i * 3 + j] * terms[i][j];
        const int64_t v = Round(double(p[c] + Shr(sum, 14)) * gain[c]);
        pix[c] = uint16_t(std::clamp<int64_t>(v, 0, 32000));
      }
    }
  }

  // Red correction from a smoothed red.
  if (w > 4 && h > 4) {
    auto smooth = RawBuffer<int32_t>(size_t(w * h), "foveon_interpolate");
    for (int64_t row = 0; row < h; ++row)
      for (int64_t col = 2; col < w - 2; ++col) {
        auto red = [&](int64_t c) { return int32_t(image[(row * w + c) * 4]); };
        smooth[size_t(row * w + col)] =
            ((red(col - 1) + red(col + 1)) * 4 + red(col) * 6 + red(col - 2) + red(col + 2) + 8) >> 4;
      }
    for (int64_t row = 2; row < h - 2; ++row) {
      int32_t sprev = 0;
      for (int64_t col = 2; col < w - 2; ++col) {
        auto hs = [&](int64_t r) { return smooth[size_t(r * w + col)]; };
        const int32_t sv = ((hs(row - 1) + hs(row + 1)) * 4 + hs(row) * 6 + hs(row - 2) + hs(row + 2) + 8) >> 4;
        if (col == 2) sprev = sv;
        const int32_t t = (sv * 7 + sprev) >> 3;
        sprev = sv;
        uint16_t& red = image[(row * w + col) * 4];
        red = uint16_t(std::clamp<int32_t>(red + ((red - t) >> 2), 0, 10000));
      }
    }
  }

  // Each channel stays within the range of its eight neighbours.
  for (int64_t row = 1; row < h - 1; ++row) {
    uint16_t left[3];
    for (int c = 0; c < 3; ++c) left[c] = image[(row * w) * 4 + c];
    for (int64_t col = 1; col < w - 1; ++col) {
      uint16_t* pix = image + (row * w + col) * 4;
      uint16_t own[3] = {pix[0], pix[1], pix[2]};
      for (int c = 0; c < 3; ++c) {
        int lo = left[c], hi = left[c];
        for (int y = -1; y <= 1; ++y)
          for (int x = -1; x <= 1; ++x) {
            if ((y == 0 && x == 0) || (y == 0 && x == -1)) continue;
            const int v = pix[(y * w + x) * 4 + c];
            lo = std::min(lo, v), hi = std::max(hi, v);
          }
        pix[c] = uint16_t(std::clamp<int>(pix[c], lo, hi));
      }
      std::memcpy(left, own, sizeof left);
    }
  }

  // The sensor's curves for the luminance-guided smoothing and the final
  // smoothing are not built in; those steps are left out.

  for (int64_t i = 0; i < w * h; ++i) {
    uint16_t* pix = image + i * 4;
    int64_t out[3];
    for (int r = 0; r < 3; ++r) {
      int64_t sum = 4096;
      for (int c = 0; c < 3; ++c) sum += trans[r][c] * int64_t(pix[c]);
      out[r] = std::clamp<int64_t>(Shr(sum, 13), 0, 24000);
    }
    for (int r = 0; r < 3; ++r) pix[r] = uint16_t(out[r]);
  }
}

// ---- output colours ----

void convert_to_output_rgb(TRawDecoderState& s) {
  if (s.DocumentMode) s.Colors = 1;
  std::memset(s.Histogram, 0, sizeof s.Histogram);
  const int64_t top = std::max(s.Maximum, 0);
  for (int64_t row = s.Trim; row < s.Height - s.Trim; ++row) {
    for (int64_t col = s.Trim; col < s.Width - s.Trim; ++col) {
      uint16_t* pix = s.Cell(row, col);
      if (s.Colors == 4 && !s.UseColourMatrix) pix[1] = uint16_t((pix[1] + pix[3]) >> 1);
      double rgb[3];
      bool set = true;
      if (s.Colors == 1) {
        const int c = s.DocumentMode ? s.FC(row, col) : 0;
        rgb[0] = rgb[1] = rgb[2] = pix[c];
      } else if (s.UseColourMatrix) {
        for (int r = 0; r < 3; ++r) {
          rgb[r] = 0;
          for (int c = 0; c < s.Colors; ++c) rgb[r] += pix[c] * double(s.Coeff[r][c]);
        }
      } else if (s.UseCMY) {
        rgb[0] = double(pix[0]) + pix[1] - pix[2];
        rgb[1] = double(pix[1]) + pix[2] - pix[0];
        rgb[2] = double(pix[2]) + pix[0] - pix[1];
      } else {
        set = false;
      }
      if (set)
        for (int c = 0; c < 3; ++c) pix[c] = uint16_t(std::clamp<int64_t>(Round(std::clamp(rgb[c], -1.0, 1e9)), 0, top));
      const double lum = std::sqrt(double(pix[0]) * pix[0] + double(pix[1]) * pix[1] + double(pix[2]) * pix[2]) / 2;
      pix[3] = uint16_t(std::min<int64_t>(Round(std::min(lum, 65535.0)), 65535));
      ++s.Histogram[pix[3] >> 3];
    }
  }
}
