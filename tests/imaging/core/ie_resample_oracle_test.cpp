// ResampleIEBitmap against resample_oracle.py, a plain Python account of the
// same rules, over every filter, the formats the library resamples in place or
// through 24 bits, with and without alpha, enlarging, reducing and mixed, with
// 1, 2, 3 and all workers and a source kept in a temporary file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/core/ie_resample.h"
#include "imaging/core/ie_thread_pool.h"
#include "tests/support/test_support.h"

namespace {

struct Case {
  int sw, sh, dw, dh;
  TIEBitmapFormat format;
  TResampleFilter filter;
  bool alpha;
};

int64_t PackedRowBytes(TIEBitmapFormat f, int w) {
  return f == ie1g ? (w + 7) / 8 : int64_t(w) * IEBitsPerPixel(f) / 8;
}

void Put16(std::vector<uint8_t>& out, int v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

std::unique_ptr<TIEBitmap> MakeSource(const Case& c, uint32_t seed, bool inFile) {
  auto b = std::make_unique<TIEBitmap>();
  b->SetMemoryLimit(inFile ? 0 : INT64_MAX / 2);
  b->Allocate(c.sw, c.sh, c.format);
  const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 13; };
  for (int y = 0; y < c.sh; ++y) {
    std::vector<uint8_t> row(size_t(b->RowLen()));
    // Runs of equal pixels beside noise, so that smooth and sharp parts both show.
    for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t((next() & 3) ? (i * 37 + y * 11) : next());
    std::memcpy(b->ScanLine(y), row.data(), row.size());
  }
  if (c.format == ie8p)
    for (int i = 0; i < 256; ++i) b->SetPaletteColor(i, MakeRGB(uint8_t(next()), uint8_t(next()), uint8_t(next())));
  if (c.alpha) {
    TIEBitmap* a = b->AlphaChannel();
    for (int y = 0; y < c.sh; ++y)
      for (int x = 0; x < c.sw; ++x) a->SetPixel8(x, y, uint8_t((next() & 1) ? 255 : next()));
    a->SetFull(false);
  }
  return b;
}

void AppendRows(std::vector<uint8_t>& out, TIEBitmap& b) {
  const int64_t n = PackedRowBytes(b.PixelFormat(), b.Width());
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* row = b.ScanLine(y);
    std::vector<uint8_t> copy(row, row + n);
    if (b.PixelFormat() == ie1g && b.Width() % 8) copy.back() &= uint8_t(0xFF00 >> (b.Width() % 8));
    out.insert(out.end(), copy.begin(), copy.end());
  }
  if (b.PixelFormat() == ie8p) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(b.Palette());
    out.insert(out.end(), p, p + 768);
  }
}

void AppendInput(std::vector<uint8_t>& out, const Case& c, TIEBitmap& src) {
  for (int v : {c.sw, c.sh, c.dw, c.dh}) Put16(out, v);
  out.push_back(c.format);
  out.push_back(c.filter);
  out.push_back(c.alpha ? 1 : 0);
  AppendRows(out, src);
  if (c.alpha)
    for (int y = 0; y < c.sh; ++y)
      for (int x = 0; x < c.sw; ++x) out.push_back(src.GetAlpha(x, y));
}

std::vector<uint8_t> Result(TIEBitmap& dst) {
  std::vector<uint8_t> out;
  out.push_back(dst.PixelFormat());
  Put16(out, dst.Width());
  Put16(out, dst.Height());
  AppendRows(out, dst);
  out.push_back(dst.HasAlphaChannel() ? 1 : 0);
  if (dst.HasAlphaChannel())
    for (int y = 0; y < dst.Height(); ++y)
      for (int x = 0; x < dst.Width(); ++x) out.push_back(dst.GetAlpha(x, y));
  return out;
}

std::vector<Case> Cases() {
  const int sizes[][4] = {{1, 1, 3, 2},  {2, 3, 7, 7},  {3, 7, 2, 1},   {7, 2, 64, 3}, {64, 64, 7, 3},
                          {64, 3, 2, 64}, {3, 2, 64, 64}, {7, 7, 3, 64}, {2, 1, 1, 2},  {64, 7, 64, 2}};
  const TIEBitmapFormat formats[] = {ie1g, ie8p, ie8g, ie16g, ie24RGB, ieRGB48};
  std::vector<Case> cases;
  int n = 0;
  for (const auto& s : sizes)
    for (int f = 0; f < kResampleFilterCount; ++f)
      for (TIEBitmapFormat format : formats)
        cases.push_back({s[0], s[1], s[2], s[3], format, TResampleFilter(f), (n++ % 3) != 1});
  return cases;
}

}  // namespace

TEST(ResampleOracle, EveryFilterFormatAndWorkerCountMatchesThePythonAccount) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import math' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 is not available";
  const std::vector<Case> cases = Cases();
  std::vector<uint8_t> input;
  for (int i = 0; i < 4; ++i) input.push_back(uint8_t(cases.size() >> (8 * i)));
  for (size_t i = 0; i < cases.size(); ++i) AppendInput(input, cases[i], *MakeSource(cases[i], uint32_t(i + 1), false));
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("in.bin"), input);
  const std::string script = std::string(QV_SOURCE_DIR) + "/tests/imaging/core/resample_oracle.py";
  std::string log;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " + script + " " + dir.File("in.bin") + " " + dir.File("out.bin") +
                                   " 2>&1",
                               &log),
            0)
      << log;
  const std::vector<uint8_t> want = qvtest::ReadFileBytes(dir.File("out.bin"));
  size_t pos = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    std::vector<uint8_t> expected;
    // Workers 1, 2, 3 and one per core, then a source in a temporary file; only
    // the kernel filters share rows out among workers.
    const bool banded = c.filter >= rfTriangle && c.filter <= rfLinear;
    for (int variant = 0; variant < 5; ++variant) {
      if (!banded && variant > 0 && variant < 4) continue;
      IEWorkerCountOverride = variant < 3 ? variant + 1 : 0;
      auto src = MakeSource(c, uint32_t(i + 1), variant == 4);
      TIEBitmap dst(c.dw, c.dh, c.format);
      ResampleIEBitmap(src.get(), &dst, c.filter);
      IEWorkerCountOverride = 0;
      const std::vector<uint8_t> got = Result(dst);
      if (variant == 0) {
        ASSERT_LE(pos + got.size(), want.size()) << "case " << i;
        expected.assign(want.begin() + int64_t(pos), want.begin() + int64_t(pos + got.size()));
        pos += got.size();
      }
      ASSERT_EQ(got, expected) << "case " << i << ": " << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh
                               << " format " << int(c.format) << " filter " << int(c.filter) << " alpha "
                               << c.alpha << " variant " << variant;
    }
  }
  EXPECT_EQ(pos, want.size());
}
