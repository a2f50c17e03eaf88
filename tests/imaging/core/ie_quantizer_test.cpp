#include "imaging/core/ie_quantizer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

namespace {

// Colours from a small generator: every pixel its own colour unless the
// period repeats them.
std::unique_ptr<TIEBitmap> Colours(int w, int h, int period) {
  auto b = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t i = uint32_t(y * w + x) % uint32_t(period);
      const uint32_t v = i * 2654435761u;
      b->SetPixelRGB(x, y, MakeRGB(uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)));
    }
  return b;
}

struct MethodScope {
  explicit MethodScope(int method) { QuantizerMethod = method; }
  ~MethodScope() { QuantizerMethod = -1; }
};

}  // namespace

TEST(TIEQuantizer, ExactColoursInOrderOfFirstAppearance) {
  TIEBitmap b(3, 2, ie24RGB);
  const TRGB c[6] = {MakeRGB(9, 9, 1), MakeRGB(1, 2, 3), MakeRGB(9, 9, 1),
                     MakeRGB(200, 0, 0), MakeRGB(1, 2, 3), MakeRGB(0, 0, 77)};
  for (int i = 0; i < 6; ++i) b.SetPixelRGB(i % 3, i / 3, c[i]);
  std::vector<TRGB> palette(6, MakeRGB(5, 5, 5));
  TIEQuantizer q(b, 4, palette.data());
  EXPECT_EQ(q.Method(), -1);
  EXPECT_EQ(palette[0], c[0]);
  EXPECT_EQ(palette[1], c[1]);
  EXPECT_EQ(palette[2], c[3]);
  EXPECT_EQ(palette[3], c[5]);
  EXPECT_EQ(palette[4], MakeRGB(5, 5, 5));  // beyond N: not written
  EXPECT_EQ(q.GetIndex(c[3]), 2);
  // A colour the picture lacks gets the nearest entry, never -1.
  EXPECT_EQ(q.GetIndex(MakeRGB(190, 5, 0)), 2);
  // Fewer colours than N: the entries left over are black.
  TIEQuantizer wide(b, 6, palette.data());
  EXPECT_EQ(palette[4], TRGB{});
  EXPECT_EQ(palette[5], TRGB{});
  // One more colour than N goes to a quantiser.
  TIEQuantizer tight(b, 3, palette.data());
  EXPECT_EQ(tight.Method(), 1);
}

TEST(TIEQuantizer, AutomaticMethodFollowsTheColourCount) {
  auto b = Colours(40, 40, 1600);
  std::vector<TRGB> palette(256);
  EXPECT_EQ(TIEQuantizer(*b, 127, palette.data()).Method(), 1);
  EXPECT_EQ(TIEQuantizer(*b, 128, palette.data()).Method(), 0);
  MethodScope box(1);
  EXPECT_EQ(TIEQuantizer(*b, 200, palette.data()).Method(), 1);
}

TEST(TIEQuantizer, GreyPicturesGetTheRamp) {
  TIEBitmap b(2, 1, ie24RGB);
  b.SetPixelRGB(0, 0, MakeRGB(10, 10, 10));
  b.SetPixelRGB(1, 0, MakeRGB(250, 250, 250));
  std::vector<TRGB> palette(4);
  TIEQuantizer q(b, 4, palette.data());
  ASSERT_TRUE(q.IsGray());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(palette[size_t(i)], MakeRGB(uint8_t(64 * i), uint8_t(64 * i), uint8_t(64 * i)));
  EXPECT_EQ(q.GetIndex(MakeRGB(200, 200, 200)), 3);
  TIEBitmap g(3, 1, ie16g);
  std::vector<TRGB> sixteen(16);
  TIEQuantizer ramp(g, 16, sixteen.data());
  EXPECT_EQ(sixteen[15], MakeRGB(240, 240, 240));
  EXPECT_TRUE(ramp.IsGray());
}

TEST(TIEQuantizer, PaletteBitmapsAnswerFromTheirOwnPalette) {
  // Every entry grey, yet the indices are those of the palette handed out.
  TIEBitmap b(1, 1, ie8p);
  for (int i = 0; i < 256; ++i) b.SetPaletteColor(i, MakeRGB(uint8_t(255 - i), uint8_t(255 - i), uint8_t(255 - i)));
  std::vector<TRGB> palette(16);
  TIEQuantizer q(b, 16, palette.data());
  EXPECT_EQ(palette[3], MakeRGB(252, 252, 252));
  EXPECT_EQ(q.GetIndex(MakeRGB(252, 252, 252)), 3);
  EXPECT_EQ(q.GetIndex(MakeRGB(0, 0, 0)), 15);  // not in the 16 entries: the nearest
}

TEST(TIEQuantizer, ColourWithoutRuleAndNoColours) {
  TIEBitmap b(2, 1, ieRGB48);
  b.SetPixelRGB48(0, 0, TRGB48{1000, 0, 65535});
  std::vector<TRGB> palette(4, MakeRGB(1, 1, 1));
  TIEQuantizer q(b, 4, palette.data());
  EXPECT_EQ(palette[0], TRGB{});
  EXPECT_EQ(q.GetIndex(MakeRGB(3, 4, 5)), 0);
  std::vector<TRGB> untouched(2, MakeRGB(1, 1, 1));
  auto c = Colours(4, 4, 16);
  TIEQuantizer none(*c, 0, untouched.data());
  EXPECT_EQ(none.GetIndex(MakeRGB(1, 2, 3)), 0);
  EXPECT_EQ(untouched[0], MakeRGB(1, 1, 1));
}

TEST(BoxQuantizer, PalettesAreMultiplesOfEightAndIndicesComeFromTheMap) {
  auto b = Colours(70000, 2, 5000);  // wider than 16 bits can count
  std::vector<TRGB> palette(300, MakeRGB(1, 1, 1));
  MethodScope box(1);
  TIEQuantizer q(*b, 300, palette.data());  // more than the 256 boxes the map holds
  std::set<uint32_t> seen;
  for (int i = 0; i < 256; ++i) {
    const TRGB p = palette[size_t(i)];
    EXPECT_EQ(p.r % 8 + p.g % 8 + p.b % 8, 0) << i;
  }
  EXPECT_EQ(palette[299], TRGB{});
  for (int x = 0; x < 70000; x += 997) {
    const int i = q.GetIndex(b->GetPixelRGB(x, 1));
    EXPECT_GE(i, 0);
    EXPECT_LT(i, 256);
  }
}

TEST(NeuralQuantizer, SamplingFactorFollowsThePixelCount) {
  EXPECT_EQ(AutoSamplingFactor(1999), 1);
  EXPECT_EQ(AutoSamplingFactor(2000), 2);
  EXPECT_EQ(AutoSamplingFactor(100000), 11);
  EXPECT_EQ(AutoSamplingFactor(1000000), 30);
}

TEST(NeuralQuantizer, TinyPicturesTrainWithoutLeavingThem) {
  // Fewer pixels than the prime step: positions wrap inside the picture.
  auto b = Colours(3, 2, 6);
  std::vector<TRGB> palette(256);
  auto net = CreateNeuralQuantizer(*b, palette.data(), -1, 256);
  ASSERT_TRUE(net);
  for (int i = 0; i < 6; ++i) {
    const int k = NeuralQuantizerIndex(*net, b->GetPixelRGB(i % 3, i / 3));
    EXPECT_GE(k, 0);
    EXPECT_LT(k, 256);
  }
}

TEST(ConvertRowBitDepth, Pairs) {
  const TRGB pal[3] = {MakeRGB(0, 0, 0), MakeRGB(255, 255, 255), MakeRGB(1, 2, 3)};
  uint8_t d[16];
  const uint8_t bits[1] = {0xA0};  // 1 0 1 0 0
  std::memset(d, 0, sizeof d);
  EXPECT_EQ(ConvertRowBitDepth(bits, d, 1, nullptr, pal, 5, 8), 5);
  EXPECT_EQ(std::vector<uint8_t>(d, d + 5), (std::vector<uint8_t>{1, 0, 1, 0, 0}));
  std::memset(d, 0, sizeof d);
  EXPECT_EQ(ConvertRowBitDepth(bits, d, 1, nullptr, pal, 3, 4), 2);
  EXPECT_EQ(d[0], 0x10);
  EXPECT_EQ(d[1], 0x10);
  const uint8_t bytes[3] = {1, 0, 1};
  EXPECT_EQ(ConvertRowBitDepth(bytes, d, 8, nullptr, pal, 3, 1), 1);
  EXPECT_EQ(d[0], 0xA0);
  const uint8_t nibbles[1] = {0x21};
  EXPECT_EQ(ConvertRowBitDepth(nibbles, d, 4, nullptr, pal, 2, 24), 6);
  EXPECT_EQ(std::vector<uint8_t>(d, d + 6), (std::vector<uint8_t>{3, 2, 1, 255, 255, 255}));
  EXPECT_EQ(ConvertRowBitDepth(nibbles, d, 4, nullptr, pal, 2, 16), 0);
  // 24 -> 4 with a quantiser of more colours than a nibble holds: the index
  // stays in its own nibble.
  auto b = Colours(20, 1, 20);
  std::vector<TRGB> qp(20);
  TIEQuantizer q(*b, 20, qp.data());
  std::memset(d, 0, sizeof d);
  EXPECT_EQ(ConvertRowBitDepth(b->ScanLine(0) + 3 * 16, d, 24, &q, qp.data(), 2, 4), 1);
  EXPECT_EQ(d[0], ((16 & 15) << 4) | (17 & 15));
}
