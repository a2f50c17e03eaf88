// Writing PNG streams: the rows, filters and IDAT chunking of the encoder.
#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include "png_test_util.h"

using namespace pngtest;

namespace {

TPNGImage& Loaded(TPNGImage& png, uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, const Bytes& raw,
                  uint8_t interlace = 0) {
  LoadBytes(png, Concat({Signature(), Ihdr(w, h, depth, colorType, interlace), Chunk("IDAT", Deflate(raw)),
                         Chunk("IEND", {})}));
  return png;
}

TEST(PngSave, EmptyPictureIsTheSignatureAlone) {
  TPNGImage png;
  EXPECT_EQ(SaveBytes(png), Signature());
}

TEST(PngSave, OnePixelTruecolourIsSubFilteredSamples) {
  TPNGImage png;
  Loaded(png, 1, 1, 8, 2, {0, 200, 100, 50});
  const Bytes file = SaveBytes(png);
  int idats = 0;
  for (const auto& c : ListChunks(file)) idats += c.name == "IDAT";
  EXPECT_EQ(idats, 1);
  EXPECT_EQ(Inflate(IdatData(file)), (Bytes{1, 200, 100, 50}));
}

TEST(PngSave, LargeDataIsSplitIntoFullBlocks) {
  TLibpngImage img;
  img.width = 300;
  img.height = 300;
  img.colorType = 2;
  img.filters = 0x08;  // none: the noise stays incompressible
  img.rows.resize(PngRowBytes(300, 2, 8) * 300);
  uint32_t x = 12345;
  for (auto& b : img.rows) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
  TPNGImage png;
  LoadBytes(png, WriteWithLibpng(img));
  const auto chunks = ListChunks(SaveBytes(png));
  std::vector<size_t> sizes;
  for (const auto& c : chunks)
    if (c.name == "IDAT") sizes.push_back(c.data.size());
  ASSERT_GE(sizes.size(), 3u);
  for (size_t i = 0; i + 1 < sizes.size(); i++) EXPECT_EQ(sizes[i], 65535u);
  EXPECT_GT(sizes.back(), 0u);
  EXPECT_LT(sizes.back(), 65535u);
}

TEST(PngSave, FilterChoiceFollowsRepeatedBytes) {
  // Row 0 rises by one, so its Sub form repeats; row 1 gives no repeats in
  // either form, so it goes out unfiltered.
  const Bytes raw = {0, 0, 1, 2, 3, 4, 5, 6, 7, 0, 0, 10, 30, 60, 100, 150, 210, 15};
  TPNGImage png;
  Loaded(png, 8, 2, 8, 0, raw);
  png.SetRowFilters(kRowFilterSub | kRowFilterUp);
  const Bytes data = Inflate(IdatData(SaveBytes(png)));
  ASSERT_EQ(data.size(), 18u);
  EXPECT_EQ(data[0], 1);
  EXPECT_EQ(data[9], 0);
  // With Paeth alone allowed every row uses it, and libpng reads the result back.
  png.SetRowFilters(kRowFilterPaeth);
  const Bytes file = SaveBytes(png);
  const Bytes paeth = Inflate(IdatData(file));
  EXPECT_EQ(paeth[0], 4);
  EXPECT_EQ(paeth[9], 4);
  EXPECT_EQ(ReadWithLibpng(file).data, SamplesOf(png).data);
}

TEST(PngSave, NarrowInterlacedImagesSkipEmptyPasses) {
  TPNGImage png;
  Loaded(png, 1, 1, 8, 0, {0, 77}, 1);
  EXPECT_EQ(Inflate(IdatData(SaveBytes(png))), (Bytes{1, 77}));
  // 3 x 3: passes 2 and 3 have no pixels, the others one row each or more.
  TPNGImage three;
  Loaded(three, 3, 3, 8, 0, {0, 1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9}, 0);
  three.SetInterlaceMode(1);
  const Bytes data = Inflate(IdatData(SaveBytes(three)));
  // pass 1: 1 px; pass 4: 1 px; pass 5: row 2, 2 px; pass 6: rows 0 and 2, 1 px; pass 7: row 1, 3 px
  EXPECT_EQ(data.size(), size_t(2 + 2 + 3 + 2 * 2 + 4));
}

TEST(PngSave, SixteenBitSamplesAreValueTimes257) {
  TPNGImage png;
  Loaded(png, 1, 1, 16, 0, {0, 0x12, 0xAB});
  EXPECT_EQ(Inflate(IdatData(SaveBytes(png))), (Bytes{1, 0x12, 0x12}));
  TPNGImage rgba;
  Loaded(rgba, 1, 1, 16, 6, {0, 0x12, 0xAB, 0x34, 0xCD, 0x56, 0xEF, 0x80, 0x01});
  EXPECT_EQ(Inflate(IdatData(SaveBytes(rgba))), (Bytes{1, 0x12, 0x12, 0x34, 0x34, 0x56, 0x56, 0x80, 0x80}));
}

TEST(PngSave, TwoBitImagesAreWrittenAtFourBits) {
  TPNGImage png;
  Loaded(png, 4, 1, 2, 0, {0, 0x1B});
  const Bytes file = SaveBytes(png);
  EXPECT_EQ(ListChunks(file)[0].data[8], 4);
  EXPECT_EQ(ReadWithLibpng(file).data, (Bytes{0, 5, 10, 15}));
}

TEST(PngSave, BadCompressionLevelIsAZlibError) {
  TPNGImage png;
  Loaded(png, 1, 1, 8, 0, {0, 1});
  png.SetDeflateLevel(12);
  TMemoryStream out;
  EXPECT_THROW(png.SaveToStream(out), EPNGZLIBError);
}


// Deflate works on a small picture with the smallest window that holds it; the
// stream must still be byte for byte what zlib writes with its full window.
TEST(PngSave, SmallPicturesDeflateAsWithTheFullWindow) {
  const std::pair<int, int> sizes[] = {{1, 1}, {16, 16}, {48, 48}, {30, 40}, {90, 60}, {200, 100}};
  for (const auto& [w, h] : sizes)
    for (int level : {1, 6, 7, 9})
      for (bool smooth : {false, true}) {
        Bytes raw;
        uint32_t seed = uint32_t(w * 131 + h);
        for (int y = 0; y < h; y++) {
          raw.push_back(0);
          for (int x = 0; x < w * 3; x++)
            raw.push_back(smooth ? uint8_t(x / 7 + y) : uint8_t((seed = seed * 1103515245u + 12345u) >> 24));
        }
        TPNGImage png;
        Loaded(png, uint32_t(w), uint32_t(h), 8, 2, raw);
        png.SetRowFilters(kRowFilterNone);
        png.SetDeflateLevel(uint8_t(level));
        EXPECT_EQ(IdatData(SaveBytes(png)), Deflate(raw, level)) << w << "x" << h << " level " << level;
      }
}

// The decoder reads a memory stream in place and other streams through a
// block; pictures decoded on several threads at once use states of their own.
TEST(PngLoad, StreamKindsAndThreadsDecodeAlike) {
  std::vector<Bytes> files;
  for (int colorType : {2, 6}) {
    TLibpngImage img;
    img.width = 257;
    img.height = 300;
    img.colorType = colorType;
    FillRandomRows(img, uint32_t(colorType));
    files.push_back(WriteWithLibpng(img));
  }
  for (const Bytes& file : files) {
    const TSamples expected = ReadWithLibpng(file);
    ASSERT_TRUE(expected.ok);
    TStringStream text(std::string(file.begin(), file.end()));
    TPNGImage fromText;
    fromText.LoadFromStream(text);
    EXPECT_EQ(SamplesOf(fromText).data, expected.data);
    std::vector<Bytes> got(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < got.size(); t++)
      threads.emplace_back([&, t] {
        for (int round = 0; round < 3; round++) {
          TPNGImage png;
          LoadBytes(png, file);
          got[t] = SamplesOf(png).data;
        }
      });
    for (auto& t : threads) t.join();
    for (const Bytes& g : got) EXPECT_EQ(g, expected.data);
  }
}

}  // namespace
