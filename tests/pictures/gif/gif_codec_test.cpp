// Our encoders against giflib's decoder, and our decoder against giflib's encoder.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>

#include "gif_test_util.h"

using namespace giftest;

namespace {

struct Shape {
  int width, height;
};

std::vector<uint8_t> Pixels(int colors, Shape s, bool random) {
  std::vector<uint8_t> p(static_cast<size_t>(s.width) * s.height);
  std::mt19937 rng(colors * 7919 + s.width);
  for (size_t i = 0; i < p.size(); ++i) {
    if (random) {
      p[i] = static_cast<uint8_t>(rng() % colors);
    } else {
      // Runs of varying length, so both encoders meet long and short runs.
      const size_t x = i % s.width, y = i / s.width;
      p[i] = static_cast<uint8_t>(((x / (1 + y % 7)) + y / 3) % colors);
    }
  }
  return p;
}

std::vector<uint32_t> Palette(int colors) {
  std::vector<uint32_t> c;
  for (int i = 0; i < colors; ++i) c.push_back(static_cast<uint32_t>(i * 0x010203 + (i << 16)) & 0xFFFFFF);
  return c;
}

class GifEncoderMatrix : public ::testing::TestWithParam<std::tuple<TGIFCompressionKind, bool, int, int>> {};

TEST_P(GifEncoderMatrix, GiflibDecodesOurPixelsExactlyAndSoDoWe) {
  const auto [kind, interlaced, colors, shapeIndex] = GetParam();
  static const Shape shapes[] = {{1, 1}, {3, 3}, {300, 200}, {512, 512}};
  const Shape s = shapes[shapeIndex];
  const std::vector<uint8_t> pixels = Pixels(colors, s, shapeIndex == 3);
  TGIFImage image;
  image.SetCompressionKind(kind);
  TGIFSubImage* frame = AddIndexedFrame(image, 0, 0, s.width, s.height, pixels, Palette(colors));
  frame->SetInterlaced(interlaced);
  const std::vector<uint8_t> bytes = SaveToBytes(image);

  const LibFile lib = SlurpWithGiflib(bytes);
  ASSERT_TRUE(lib.ok) << "giflib error " << lib.error;
  ASSERT_EQ(lib.frames.size(), 1u);
  EXPECT_EQ(lib.frames[0].interlace, interlaced);
  EXPECT_EQ(lib.frames[0].pixels, pixels);
  // A table is written with a power-of-two count of at least two entries.
  const size_t written = std::max<size_t>(2, size_t{1} << BitsForColors(colors));
  EXPECT_EQ(lib.frames[0].colors.size(), written * 3);

  TGIFImage back;
  LoadFromBytes(back, bytes);
  ASSERT_EQ(back.Frames().Count(), 1);
  EXPECT_EQ(std::vector<uint8_t>(back.Frames()[0]->Pixels(), back.Frames()[0]->Pixels() + pixels.size()), pixels);
}

INSTANTIATE_TEST_SUITE_P(All, GifEncoderMatrix,
                         ::testing::Combine(::testing::Values(ckLZW, ckRunLength), ::testing::Bool(),
                                            ::testing::Values(1, 2, 3, 16, 256), ::testing::Values(0, 1, 2, 3)));

TEST(GifDecoder, ReadsWhatGiflibWritesForEveryDepth) {
  for (int bits : {1, 2, 4, 8}) {
    std::vector<SpewFrame> frames;
    for (int k = 0; k < 3; ++k) {
      SpewFrame f;
      f.width = 97 + k;
      f.height = 61;
      f.pixels = Pixels(1 << bits, Shape{f.width, f.height}, k == 1);
      f.delay = 5 * k;
      frames.push_back(f);
    }
    const std::vector<uint8_t> bytes = SpewWithGiflib(100, 61, bits, frames);
    TGIFImage image;
    LoadFromBytes(image, bytes);
    ASSERT_EQ(image.Frames().Count(), 3) << bits;
    for (int k = 0; k < 3; ++k) {
      TGIFSubImage* f = image.Frames()[k];
      EXPECT_EQ(std::vector<uint8_t>(f->Pixels(), f->Pixels() + f->PixelBytes()), frames[k].pixels) << bits << " " << k;
    }
    EXPECT_EQ(image.GlobalColorMap().EntryCount(), 1 << bits);
  }
}

TEST(GifEncoder, OneColourFrameUsesTwoBitCodesAndATableOfTwo) {
  TGIFImage image;
  AddIndexedFrame(image, 0, 0, 2, 2, {0, 0, 0, 0}, {0x123456});
  const std::vector<uint8_t> bytes = SaveToBytes(image);
  // Header 13, local table flag with size 0 (two entries), then the code size byte.
  ASSERT_GT(bytes.size(), 13u + 10 + 6 + 1);
  EXPECT_EQ(bytes[13 + 9] & 0x87, 0x80);
  EXPECT_EQ(bytes[13 + 10 + 6], 2) << "at least two bits per code";
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 23, bytes.begin() + 29), (std::vector<uint8_t>{0x56, 0x34, 0x12, 0, 0, 0}));
}

TEST(GifEncoder, RunLengthOfTenAfterAClearSendsPixelThenRunsOfTwoThreeFour) {
  TGIFImage image;
  image.SetCompressionKind(ckRunLength);
  AddIndexedFrame(image, 0, 0, 10, 1, std::vector<uint8_t>(10, 1), {0, 0xFFFFFF, 0xFF, 0xFF00});
  const std::vector<uint8_t> bytes = SaveToBytes(image);
  // Code size 2: clear 4, end 5, base 6; codes are 3 bits: clear, 1, 6, 7, then
  // width 4 after three codes: 8, end.
  const size_t data = 13 + 10 + 12;
  ASSERT_EQ(bytes[data], 2);
  const uint32_t v = bytes[data + 2] | (bytes[data + 3] << 8) | (bytes[data + 4] << 16);
  EXPECT_EQ(v & 7, 4u);
  EXPECT_EQ((v >> 3) & 7, 1u);
  EXPECT_EQ((v >> 6) & 7, 6u);
  EXPECT_EQ((v >> 9) & 7, 7u);
  EXPECT_EQ((v >> 12) & 15, 8u);
  EXPECT_EQ((v >> 16) & 15, 5u);
  const LibFile lib = SlurpWithGiflib(bytes);
  ASSERT_TRUE(lib.ok);
  EXPECT_EQ(lib.frames[0].pixels, std::vector<uint8_t>(10, 1));
}

TEST(GifEncoder, SubBlocksHoldAtMost255Bytes) {
  // Random pixels of 256 colours cost about 9 bits each: a frame of 226 pixels
  // (1 + 226 + 1 codes at 9 bits) fills 255 bytes and one more.
  for (int n : {220, 227, 1000}) {
    TGIFImage image;
    std::vector<uint8_t> p(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) p[i] = static_cast<uint8_t>((i * 97) % 256);
    AddIndexedFrame(image, 0, 0, n, 1, p, Palette(256));
    const std::vector<uint8_t> bytes = SaveToBytes(image);
    size_t at = 13 + 10 + 768 + 1;
    int total = 0;
    while (bytes.at(at) != 0) {
      EXPECT_GE(bytes[at], 1);
      total += bytes[at];
      if (bytes[at + bytes[at] + 1] != 0) { EXPECT_EQ(bytes[at], 255) << "only the last block is short"; }
      at += bytes[at] + 1;
    }
    EXPECT_EQ(bytes.at(at + 1), 0x3B);
    EXPECT_GT(total, 0);
    EXPECT_EQ(SlurpWithGiflib(bytes).frames.at(0).pixels, p);
  }
}

TEST(GifEncoder, NeverAssignsCode4095) {
  // Long random data runs the table full many times; giflib refuses a 4096th code.
  std::vector<uint8_t> p(200000);
  std::mt19937 rng(5);
  for (auto& v : p) v = static_cast<uint8_t>(rng() % 4);
  TGIFImage image;
  AddIndexedFrame(image, 0, 0, 1000, 200, p, Palette(4));
  const LibFile lib = SlurpWithGiflib(SaveToBytes(image));
  ASSERT_TRUE(lib.ok);
  EXPECT_EQ(lib.frames[0].pixels, p);
}

TEST(GifEncoder, PixelOutsideTheTableAndEmptyImageRaise) {
  TGIFImage empty;
  TMemoryStream s;
  EXPECT_THROW(
      {
        try {
          empty.SaveToStream(s);
        } catch (const GIFException& e) {
          EXPECT_EQ(e.Message(), "Unsupported GIF version");
          throw;
        }
      },
      GIFException);
  TGIFImage image;
  AddIndexedFrame(image, 0, 0, 2, 1, {0, 2}, {0, 0xFFFFFF});
  try {
    SaveToBytes(image);
    FAIL() << "no error";
  } catch (const GIFException& e) {
    EXPECT_EQ(e.Message(), "Color not in color table");
  }
}

TEST(GifEncoder, FrameWithoutAnyTableTakesItsBitsFromThePixels) {
  TGIFImage image;
  auto frame = std::make_unique<TGIFSubImage>(&image);
  frame->PlaceFrame(0, 0, 4, 1);
  const uint8_t p[4] = {0, 5, 9, 2};
  std::memcpy(frame->Pixels(), p, 4);
  image.AddFrame(std::move(frame));
  const LibFile lib = SlurpWithGiflib(SaveToBytes(image));
  ASSERT_TRUE(lib.ok);
  EXPECT_EQ(lib.frames[0].pixels, std::vector<uint8_t>(p, p + 4));
}

}  // namespace
