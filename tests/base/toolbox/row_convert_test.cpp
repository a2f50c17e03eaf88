// Whole-row byte-order conversions: every length around the 16-byte blocks,
// against the pixel-at-a-time definition, and nothing written past the row.
#include <gtest/gtest.h>

#include <vector>

#include "base/toolbox/row_convert.h"

namespace {

std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> b(n);
  for (auto& v : b) v = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
  return b;
}

constexpr uint8_t kGuard = 0xA5;

TEST(RowConvert, EveryLengthMatchesThePixelOrder) {
  for (int n = 0; n <= 41; ++n) {
    const auto rgb = Bytes(size_t(n) * 3, 1 + n), rgba = Bytes(size_t(n) * 4, 2 + n), alpha = Bytes(size_t(n), 3 + n);
    std::vector<uint8_t> out3(size_t(n) * 3 + 16, kGuard), out4(size_t(n) * 4 + 16, kGuard), outA(size_t(n) + 16, kGuard);

    SwapRgbRow(rgb.data(), out3.data(), n);
    for (int i = 0; i < n; ++i)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(out3[size_t(i) * 3 + c], rgb[size_t(i) * 3 + 2 - c]) << n;
    for (size_t i = size_t(n) * 3; i < out3.size(); ++i) ASSERT_EQ(out3[i], kGuard) << n;

    std::fill(out3.begin(), out3.end(), kGuard);
    RgbaToBgrAndAlpha(rgba.data(), out3.data(), outA.data(), n);
    for (int i = 0; i < n; ++i) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(out3[size_t(i) * 3 + c], rgba[size_t(i) * 4 + 2 - c]) << n;
      ASSERT_EQ(outA[size_t(i)], rgba[size_t(i) * 4 + 3]) << n;
    }
    for (size_t i = size_t(n) * 3; i < out3.size(); ++i) ASSERT_EQ(out3[i], kGuard) << n;
    for (size_t i = size_t(n); i < outA.size(); ++i) ASSERT_EQ(outA[i], kGuard) << n;

    BgrAndAlphaToRgba(rgb.data(), alpha.data(), out4.data(), n);
    for (int i = 0; i < n; ++i) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(out4[size_t(i) * 4 + c], rgb[size_t(i) * 3 + 2 - c]) << n;
      ASSERT_EQ(out4[size_t(i) * 4 + 3], alpha[size_t(i)]) << n;
    }
    for (size_t i = size_t(n) * 4; i < out4.size(); ++i) ASSERT_EQ(out4[i], kGuard) << n;

    std::fill(out4.begin(), out4.end(), kGuard);
    BgrAndAlphaToBgra(rgb.data(), alpha.data(), out4.data(), n);
    for (int i = 0; i < n; ++i) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(out4[size_t(i) * 4 + c], rgb[size_t(i) * 3 + c]) << n;
      ASSERT_EQ(out4[size_t(i) * 4 + 3], alpha[size_t(i)]) << n;
    }
    for (size_t i = size_t(n) * 4; i < out4.size(); ++i) ASSERT_EQ(out4[i], kGuard) << n;

    std::fill(out4.begin(), out4.end(), kGuard);
    SwapRgbaRow(rgba.data(), out4.data(), n);
    for (int i = 0; i < n; ++i) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(out4[size_t(i) * 4 + c], rgba[size_t(i) * 4 + 2 - c]) << n;
      ASSERT_EQ(out4[size_t(i) * 4 + 3], rgba[size_t(i) * 4 + 3]) << n;
    }
    for (size_t i = size_t(n) * 4; i < out4.size(); ++i) ASSERT_EQ(out4[i], kGuard) << n;

    std::fill(out4.begin(), out4.end(), kGuard);
    RgbToOpaqueBgra(rgb.data(), out4.data(), n);
    for (int i = 0; i < n; ++i) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(out4[size_t(i) * 4 + c], rgb[size_t(i) * 3 + 2 - c]) << n;
      ASSERT_EQ(out4[size_t(i) * 4 + 3], 255) << n;
    }
    for (size_t i = size_t(n) * 4; i < out4.size(); ++i) ASSERT_EQ(out4[i], kGuard) << n;
  }
}

TEST(RowConvert, ClearingTransparentPixelsAlsoGivesTheirMaskBits) {
  for (int n = 0; n <= 41; ++n) {
    const auto bgr = Bytes(size_t(n) * 3, 5 + n);
    auto alpha = Bytes(size_t(n), 6 + n);
    for (int i = 0; i < n; i += 3) alpha[size_t(i)] = 0;
    std::vector<uint8_t> out(size_t(n) * 4 + 16, kGuard), mask((size_t(n) + 7) / 8 + 4, kGuard);
    BgrAndAlphaToBgraClearingTransparent(bgr.data(), alpha.data(), out.data(), mask.data(), n);
    for (int i = 0; i < n; ++i) {
      const bool clear = alpha[size_t(i)] == 0;
      for (int c = 0; c < 3; ++c) ASSERT_EQ(out[size_t(i) * 4 + c], clear ? 0 : bgr[size_t(i) * 3 + c]) << n;
      ASSERT_EQ(out[size_t(i) * 4 + 3], alpha[size_t(i)]) << n;
      ASSERT_EQ((mask[size_t(i) / 8] >> (7 - i % 8)) & 1, clear ? 1 : 0) << n << " " << i;
    }
    if (n % 8) {
      ASSERT_EQ(mask[size_t(n) / 8] & (0xFF >> (n % 8)), 0) << n;
    }
    for (size_t i = size_t(n) * 4; i < out.size(); ++i) ASSERT_EQ(out[i], kGuard) << n;
    for (size_t i = (size_t(n) + 7) / 8; i < mask.size(); ++i) ASSERT_EQ(mask[i], kGuard) << n;
    // Without a mask only the pixels are written.
    std::vector<uint8_t> again(out.size(), kGuard);
    BgrAndAlphaToBgraClearingTransparent(bgr.data(), alpha.data(), again.data(), nullptr, n);
    ASSERT_EQ(again, out) << n;
    // In place on rows already interleaved: the same pixels and mask bytes.
    std::vector<uint8_t> inPlace(out.size(), kGuard), inPlaceMask(mask.size(), kGuard);
    BgrAndAlphaToBgra(bgr.data(), alpha.data(), inPlace.data(), n);
    ClearTransparentBgra(inPlace.data(), inPlaceMask.data(), n);
    ASSERT_EQ(inPlace, out) << n;
    ASSERT_EQ(inPlaceMask, mask) << n;
    BgrAndAlphaToBgra(bgr.data(), alpha.data(), inPlace.data(), n);
    ClearTransparentBgra(inPlace.data(), nullptr, n);
    ASSERT_EQ(inPlace, out) << n;
  }
}

}  // namespace
