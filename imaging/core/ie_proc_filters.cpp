#include "imaging/core/ie_proc_filters.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "imaging/core/ie_startup.h"
#include "platform/win/clipboard.h"

namespace {

struct TPresetList {
  std::vector<TIEFilterPreset> Records;
  std::vector<std::string> Names;
};

TPresetList& Presets() {
  static TPresetList list;
  return list;
}

unsigned gRawFormat = 0;

uint8_t Clamp255(double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0)); }

// Sums of each channel over the rows ya..yb of one column, leaving out row skip.
void ColumnSums(TIEBitmap& bitmap, int ya, int yb, int skip, std::vector<int64_t>& sums) {
  const int w = bitmap.Width();
  std::fill(sums.begin(), sums.end(), 0);
  for (int r = ya; r <= yb; ++r) {
    if (r == skip) continue;
    const uint8_t* row = bitmap.ScanLine(r);
    for (int i = 0; i < 3 * w; ++i) sums[size_t(i)] += row[i];
  }
}

}  // namespace

void SharpenArea(TIEBitmap& bitmap, int x1, int y1, TObject* sender, const TIEProgressEvent& progress, int size,
                 int amount, int y2, int x2) {
  if (bitmap.PixelFormat() != ie24RGB || bitmap.IsEmpty()) return;
  const int w = bitmap.Width(), hgt = bitmap.Height();
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, w);
  y2 = std::min(y2, hgt);
  if (x1 >= x2 || y1 >= y2) return;
  const int h = size / 2;
  const double factor = amount / 10.0;
  // Sharpened rows are kept aside until the whole rectangle is done: every mean
  // reads the original pixels.
  std::vector<std::vector<uint8_t>> out(size_t(y2 - y1));
  std::vector<int64_t> colSums(size_t(3 * w));
  std::vector<int64_t> prefix(size_t(3 * (w + 1)));
  const int rowCount = y2 - y1;
  for (int y = y1; y < y2; ++y) {
    const int ya = std::max(0, y - h), yb = std::min(hgt - 1, y + h);
    ColumnSums(bitmap, ya, yb, y, colSums);
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) prefix[size_t(3 * (x + 1) + c)] = prefix[size_t(3 * x + c)] + colSums[size_t(3 * x + c)];
    const uint8_t* src = bitmap.ScanLine(y);
    std::vector<uint8_t>& dst = out[size_t(y - y1)];
    dst.assign(src + 3 * int64_t(x1), src + 3 * int64_t(x2));
    for (int x = x1; x < x2; ++x) {
      const int xa = std::max(0, x - h), xb = std::min(w - 1, x + h);
      const int64_t count = int64_t(xb - xa) * (yb - ya);
      if (count <= 0) continue;  // nothing around it: the pixel stays
      for (int c = 0; c < 3; ++c) {
        const int p = src[3 * x + c];
        const int64_t mean = (prefix[size_t(3 * xb + c)] - prefix[size_t(3 * xa + c)]) / count;
        dst[size_t(3 * (x - x1) + c)] = Clamp255(std::trunc((p - mean) * factor + p));
      }
    }
    if (progress) progress(sender, int((y - y1 + 1) * 100 / (rowCount + 0.5)));
  }
  for (int y = y1; y < y2; ++y) {
    const std::vector<uint8_t>& row = out[size_t(y - y1)];
    std::copy(row.begin(), row.end(), bitmap.ScanLine(y) + 3 * int64_t(x1));
  }
}

void ApplyKernel3x3Gray(TIEBitmap& bitmap, const TIEFilterPreset& preset, int x1, int y2, int x2, int y1) {
  if (bitmap.PixelFormat() != ie8g || bitmap.IsEmpty()) return;
  const int w = bitmap.Width(), h = bitmap.Height();
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, w);
  y2 = std::min(y2, h);
  if (x1 >= x2 || y1 >= y2) return;
  // weight x value for every weight and grey level, built once.
  std::vector<int32_t> table(9 * 256);
  for (int k = 0; k < 9; ++k)
    for (int v = 0; v < 256; ++v) table[size_t(k * 256 + v)] = preset.Values[k / 3][k % 3] * v;
  const int32_t divisor = preset.Divisor == 0 ? 1 : preset.Divisor;
  std::vector<std::vector<uint8_t>> out(size_t(y2 - y1), std::vector<uint8_t>(size_t(x2 - x1)));
  std::vector<std::vector<uint8_t>> rows(3);
  for (int y = y1; y < y2; ++y) {
    for (int k = 0; k < 3; ++k) {
      const uint8_t* r = bitmap.ScanLine(std::clamp(y + k - 1, 0, h - 1));
      rows[size_t(k)].assign(r, r + w);
    }
    for (int x = x1; x < x2; ++x) {
      const int cols[3] = {std::max(x - 1, 0), x, std::min(x + 1, w - 1)};
      int64_t sum = 0;
      for (int k = 0; k < 9; ++k) sum += table[size_t(k * 256 + rows[size_t(k / 3)][size_t(cols[k % 3])])];
      out[size_t(y - y1)][size_t(x - x1)] = uint8_t(std::min<int64_t>(std::llabs(sum) / std::abs(divisor), 255));
    }
  }
  for (int y = y1; y < y2; ++y) std::copy(out[size_t(y - y1)].begin(), out[size_t(y - y1)].end(), bitmap.ScanLine(y) + x1);
}

void AddFilterPreset(const TIEFilterPreset& preset, const std::string& name) {
  Presets().Records.push_back(preset);
  Presets().Names.push_back(name);
}

void InitFilterPresets() {
  FreeFilterPresets();
  const struct {
    const char* name;
    TIEFilterPreset preset;
  } table[] = {
      {"None", {{{0, 0, 0}, {0, 1, 0}, {0, 0, 0}}, 0}},
      {"Blur", {{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, 9}},
      {"Edges", {{{1, 1, 1}, {1, -8, 1}, {1, 1, 1}}, 1}},
      {"Emboss", {{{-1, 0, 1}, {-1, 1, 1}, {-1, 0, 1}}, 1}},
      {"High Pass 1", {{{0, -1, 0}, {-1, 5, -1}, {0, -1, 0}}, 1}},
      {"High Pass 2", {{{-1, -1, -1}, {-1, 9, -1}, {-1, -1, -1}}, 1}},
      {"High Pass 3", {{{1, -2, 1}, {-2, 5, -2}, {1, -2, 1}}, 1}},
      {"Low Pass 1", {{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, 10}},
      {"Low Pass 2", {{{1, 2, 1}, {2, 4, 2}, {1, 2, 1}}, 16}},
  };
  for (const auto& e : table) AddFilterPreset(e.preset, e.name);
}

void FreeFilterPresets() {
  Presets().Records.clear();
  Presets().Names.clear();
}

int FilterPresetCount() { return int(Presets().Records.size()); }

std::string GetFilterPresetName(int index) {
  if (index < 0 || index >= FilterPresetCount()) return {};
  return Presets().Names[size_t(index)];
}

TIEFilterPreset GetFilterPreset(int index) {
  if (index < 0 || index >= FilterPresetCount()) return {};
  return Presets().Records[size_t(index)];
}

unsigned ImageLibRawClipboardFormat() {
  if (gRawFormat == 0) gRawFormat = RegisterClipboardFormat("IMAGELIB RAW FORMAT");
  return gRawFormat;
}

void InitImageProcUnit() {
  InitFilterPresets();
  ImageLibRawClipboardFormat();
}

void DoneImageProcUnit() { FreeFilterPresets(); }

namespace {

template <class T>
void ReorderRows(TIEBitmap& bitmap, const int source[3], TObject* sender, const TIEProgressEvent& progress) {
  const int width = bitmap.Width(), height = bitmap.Height();
  for (int y = 0; y < height; ++y) {
    T* p = reinterpret_cast<T*>(bitmap.ScanLine(y));
    for (int x = 0; x < width; ++x, p += 3) {
      const T old[4] = {p[0], p[1], p[2], 0};
      p[0] = old[source[0]];
      p[1] = old[source[1]];
      p[2] = old[source[2]];
    }
    if (progress) progress(sender, static_cast<int>(int64_t(y + 1) * 100 / height));
  }
}

}  // namespace

bool ReorderChannels(TIEBitmap& bitmap, const std::string& spec, TObject* sender, const TIEProgressEvent& progress) {
  const TIEBitmapFormat format = bitmap.PixelFormat();
  if (spec.size() < 3 || (format != ie24RGB && format != ieRGB48)) return false;
  // Memory order is blue, green, red: a letter names the slot it reads; slot 3
  // reads zero.
  int source[3];
  for (int i = 0; i < 3; ++i) {
    switch (spec[i]) {
      case 'B': case 'b': source[i] = 0; break;
      case 'G': case 'g': source[i] = 1; break;
      case 'R': case 'r': source[i] = 2; break;
      case '0': source[i] = 3; break;
      default: return false;
    }
  }
  if (format == ie24RGB) ReorderRows<uint8_t>(bitmap, source, sender, progress);
  else ReorderRows<uint16_t>(bitmap, source, sender, progress);
  return true;
}
