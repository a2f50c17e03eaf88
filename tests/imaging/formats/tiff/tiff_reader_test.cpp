// The TIFF reader on files built byte by byte: the directory chain and its
// damage, tag defaults and corrections, the sample layouts of strip decoding
// and hostile tables.
#include <gtest/gtest.h>

#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/tiff/tiff_lzw.h"
#include "imaging/formats/tiff/tiff_reader.h"
#include "imaging/io/tiff_ifd.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/imaging/formats/tiff/tiff_test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qvtest::SimplePage;
using qvtest::TiffEntry;

struct TRead {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  TIEMaskOut mask;
  qvtest::Progress progress;
  int pages = 0;
  bool Failed() const { return progress.Aborted(); }
  std::string Why() const { return progress.rec.Refusal ? progress.rec.Refusal : ""; }
};

std::unique_ptr<TRead> Read(const Bytes& file, int index = 0, bool native = false, bool paramsOnly = false,
                            bool noAlpha = false) {
  auto r = std::make_unique<TRead>();
  r->params.TiffImageIndex = index;
  r->params.NativePixelFormat = native;
  r->params.TiffLZWDecoder = TIFFLZWDecompress;
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  ReadTIFFStream(&r->bitmap, s, r->pages, r->params, r->progress.rec, paramsOnly, r->mask, false, noAlpha, false,
                 false, nullptr);
  return r;
}

Bytes Grey8(int w, int h, std::vector<TiffEntry> more = {}) {
  Bytes strip(size_t(w * h));
  for (size_t i = 0; i < strip.size(); ++i) strip[i] = uint8_t(i * 7);
  return qvtest::BuildTiff({SimplePage(uint32_t(w), uint32_t(h), 8, 1, 1, 1, strip, more)});
}

int Grey(TIEBitmap& b, int x, int y) { return b.GetPixelAsRGB(x, y).r; }

void SetNext(Bytes& f, size_t page, uint32_t to) {
  // The next-directory field of page (0 or 1) of a file of Grey8 pages.
  TCustomMemoryStream s(f.data(), int64_t(f.size()));
  uint32_t offset = 8;
  for (size_t p = 0;; ++p) {
    const uint16_t n = uint16_t(f[offset] | f[offset + 1] << 8);
    const size_t link = offset + 2 + 12 * size_t(n);
    if (p == page) {
      qvtest::PutLE(f, link, to, 4);
      return;
    }
    offset = uint32_t(f[link] | f[link + 1] << 8 | f[link + 2] << 16 | uint32_t(f[link + 3]) << 24);
  }
}

}  // namespace

TEST(TiffReader, DirectoryChainCountsEachDirectoryOnceAndStopsAtDamage) {
  const Bytes page = Grey8(4, 2);
  Bytes three = qvtest::BuildTiff({SimplePage(4, 2, 8, 1, 1, 1, Bytes(8, 1)), SimplePage(4, 2, 8, 1, 1, 1, Bytes(8, 2)),
                                   SimplePage(4, 2, 8, 1, 1, 1, Bytes(8, 3))});
  EXPECT_EQ(Read(three)->pages, 3);
  EXPECT_EQ(Grey(Read(three, 2)->bitmap, 0, 0), 3);
  // The page count is reported when the asked page does not exist.
  auto past = Read(three, 3);
  EXPECT_TRUE(past->Failed());
  EXPECT_EQ(past->pages, 3);
  Bytes self = page;
  SetNext(self, 0, 8);
  EXPECT_EQ(Read(self)->pages, 1);
  // A -> B -> A ends after two pages.
  Bytes cycle = three;
  SetNext(cycle, 1, 8);
  EXPECT_EQ(Read(cycle)->pages, 2);
  Bytes intoHeader = three, outside = three;
  SetNext(intoHeader, 0, 4);
  SetNext(outside, 0, 0x7FFFFFF0);
  EXPECT_EQ(Read(intoHeader)->pages, 1);
  EXPECT_EQ(Read(outside)->pages, 1);
}

TEST(TiffReader, TagRulesAndCorrections) {
  // BitsPerSample (8, 8, 8) reads as 8; (8, 8, 16) fails.
  Bytes rgb(4 * 2 * 3, 100);
  EXPECT_FALSE(Read(qvtest::BuildTiff({SimplePage(4, 2, 8, 3, 2, 1, rgb)}))->Failed());
  qvtest::TiffPage mixed = SimplePage(4, 2, 8, 3, 2, 1, rgb);
  mixed.entries[2].values = {8, 8, 16};
  auto m = Read(qvtest::BuildTiff({mixed}));
  EXPECT_TRUE(m->Failed());
  EXPECT_EQ(m->Why(), "the samples differ in depth");
  // RowsPerStrip absent, 0 or 2^32 - 1: one strip of the whole image.
  for (uint32_t rows : {0u, 0xFFFFFFFFu, 100u}) {
    auto r = Read(Grey8(5, 3, {{278, 4, {rows}, {}}}));
    EXPECT_FALSE(r->Failed()) << rows;
    EXPECT_EQ(Grey(r->bitmap, 4, 2), (14 * 7) % 256) << rows;
  }
  // Resolution: 72 per centimetre is 182.88 dpi, 183 whole; 0/1 gives the default.
  auto cm = Read(Grey8(2, 2, {{282, 5, {72, 1}, {}}, {283, 5, {0, 1}, {}}, {296, 3, {3}, {}}}));
  EXPECT_EQ(cm->params.DpiX, 183);
  EXPECT_EQ(cm->params.DpiY, gDefaultDPIY);
  // A FillOrder of 3 reads as 1.
  EXPECT_EQ(Read(Grey8(2, 2, {{266, 3, {3}, {}}}))->params.TiffFillOrder, 1);
}

TEST(TiffReader, BilevelRgbReadsByItsCoding) {
  // One row of width 8: 0xF0. With no coding, RGB means 1 = white (BlackIsZero).
  auto plain = Read(qvtest::BuildTiff({SimplePage(8, 1, 1, 1, 2, 1, {0xF0})}));
  ASSERT_FALSE(plain->Failed());
  EXPECT_EQ(plain->bitmap.PixelFormat(), ie1g);
  EXPECT_EQ(Grey(plain->bitmap, 0, 0), 255);
  EXPECT_EQ(Grey(plain->bitmap, 7, 0), 0);
  // Modified Huffman of the row white 3, black 2, white 3 (1000 11 1000), RGB: WhiteIsZero.
  auto mh = Read(qvtest::BuildTiff({SimplePage(8, 1, 1, 1, 2, 2, {0x8E, 0x00})}));
  ASSERT_FALSE(mh->Failed()) << mh->Why();
  EXPECT_EQ(Grey(mh->bitmap, 0, 0), 255);
  EXPECT_EQ(Grey(mh->bitmap, 3, 0), 0);
  // The same code as BlackIsZero (Pillow writes that) comes out the other way round.
  auto mhBlack = Read(qvtest::BuildTiff({SimplePage(8, 1, 1, 1, 1, 2, {0x8E, 0x00})}));
  EXPECT_EQ(Grey(mhBlack->bitmap, 0, 0), 0);
  EXPECT_EQ(Grey(mhBlack->bitmap, 3, 0), 255);
}

TEST(TiffReader, SampleLayoutsDecodeToTheirValues) {
  struct Case {
    const char* name;
    qvtest::TiffPage page;
    std::vector<int> reds;  // red of each pixel of row 0
  };
  const Case cases[] = {
      {"4-bit BlackIsZero", SimplePage(4, 1, 4, 1, 1, 1, {0x0F, 0xF0}), {0, 255, 255, 0}},
      {"2-bit WhiteIsZero", SimplePage(4, 1, 2, 1, 0, 1, {0xC0}), {0, 255, 255, 255}},
      {"7-bit BlackIsZero", SimplePage(1, 1, 7, 1, 1, 1, {0xFE}), {254}},
      {"PackBits", SimplePage(6, 1, 8, 1, 1, 32773, {0xFE, 0xAA, 0x80, 0x02, 0x01, 0x02, 0x03}),
       {0xAA, 0xAA, 0xAA, 1, 2, 3}},
      {"16-bit grey", SimplePage(2, 1, 16, 1, 1, 1, {0xFF, 0x0F, 0x00, 0x80}), {15, 128}},
      {"16-bit Look@Molli", SimplePage(1, 1, 16, 1, 1, 1, {0xFF, 0x0F}, {{305, 2, {}, {'L', 'o', 'o', 'k', '@', 'M', 'o', 'l', 'l', 'i', ' ', 'v', '1', '.', '1', 0}}}),
       {255}},
      {"12-bit BlackIsZero", SimplePage(2, 1, 12, 1, 1, 1, {0xFF, 0xF0, 0x80}), {255, 8}},
      {"12-bit WhiteIsZero", SimplePage(2, 1, 12, 1, 0, 1, {0xFF, 0xF0, 0x80}), {0, 247}},
  };
  for (const Case& c : cases) {
    auto r = Read(qvtest::BuildTiff({c.page}));
    ASSERT_FALSE(r->Failed()) << c.name << ": " << r->Why();
    for (size_t x = 0; x < c.reds.size(); ++x) EXPECT_EQ(Grey(r->bitmap, int(x), 0), c.reds[x]) << c.name << " " << x;
  }
}

TEST(TiffReader, PredictorPremultipliedAlphaAndNoAlpha) {
  // Predictor 2 on LZW RGB: (10, 20, 30), (1, 2, 3) give (10, 20, 30), (11, 22, 33).
  TMemoryStream lzw;
  void* state = nullptr;
  const uint8_t row[6] = {10, 20, 30, 1, 2, 3};
  TIFFLZWCompress(row, 6, &lzw, state);
  TIFFLZWCompress(nullptr, 0, &lzw, state);
  auto p = Read(qvtest::BuildTiff({SimplePage(2, 1, 8, 3, 2, 5, qvtest::StreamBytes(lzw), {{317, 3, {2}, {}}})}));
  ASSERT_FALSE(p->Failed()) << p->Why();
  const TRGB second = p->bitmap.GetPixelAsRGB(1, 0);
  EXPECT_EQ(std::vector<int>({second.r, second.g, second.b}), std::vector<int>({11, 22, 33}));
  // Five samples (64, 32, 0, 128, 0), extra samples premultiplied and unspecified.
  auto five = Read(qvtest::BuildTiff({SimplePage(1, 1, 8, 5, 2, 1, {64, 32, 0, 128, 0}, {{338, 3, {1, 0}, {}}})}));
  ASSERT_FALSE(five->Failed()) << five->Why();
  const TRGB c = five->bitmap.GetPixelAsRGB(0, 0);
  EXPECT_EQ(std::vector<int>({c.r, c.g, c.b}), std::vector<int>({127, 63, 0}));
  ASSERT_TRUE(five->mask);
  EXPECT_EQ(five->mask->GetPixel(0, 0), 128);
  // RGBA with NoAlpha: the colours and no mask.
  auto rgba = Read(qvtest::BuildTiff({SimplePage(1, 1, 8, 4, 2, 1, {1, 2, 3, 4}, {{338, 3, {2}, {}}})}), 0, false,
                   false, true);
  EXPECT_FALSE(rgba->mask);
  EXPECT_EQ(rgba->bitmap.GetPixelAsRGB(0, 0).b, 3);
}

TEST(TiffReader, YCbCrSubsampledStripsOfOddWidth) {
  // 3 x 2 pixels, 2 x 2 blocks of four Y then Cb, Cr: two blocks in one block row.
  const Bytes ycc = {100, 110, 120, 130, 128, 128, 200, 210, 220, 230, 128, 128};
  auto r = Read(qvtest::BuildTiff({SimplePage(3, 2, 8, 3, 6, 1, ycc, {{530, 3, {2, 2}, {}}})}));
  ASSERT_FALSE(r->Failed()) << r->Why();
  EXPECT_NEAR(Grey(r->bitmap, 0, 0), 100, 1);
  EXPECT_NEAR(Grey(r->bitmap, 1, 1), 130, 1);
  EXPECT_NEAR(Grey(r->bitmap, 2, 0), 200, 1);
  // 4:2:2 rows are 4 x ceil(W / 2) bytes.
  const Bytes row422 = {50, 60, 128, 128, 70, 80, 128, 128};
  auto h = Read(qvtest::BuildTiff({SimplePage(3, 1, 8, 3, 6, 1, row422, {{530, 3, {2, 1}, {}}})}));
  ASSERT_FALSE(h->Failed()) << h->Why();
  EXPECT_NEAR(Grey(h->bitmap, 2, 0), 70, 1);
}

TEST(TiffReader, HostileFilesRefuseWithAReasonAndKeepTheRowsDecoded) {
  // A short uncompressed strip keeps its whole rows and clears the rest.
  auto shortStrip = Read(Grey8(4, 4, {{279, 4, {100}, {}}}), 0);
  Bytes cut = Grey8(4, 4);
  cut.resize(cut.size() - 6);  // the strip is last: rows 0 and 1 stay whole
  auto c = Read(cut);
  EXPECT_TRUE(c->Failed());
  EXPECT_EQ(Grey(c->bitmap, 3, 1), (7 * 7) % 256);
  EXPECT_EQ(Grey(c->bitmap, 0, 3), 0);
  (void)shortStrip;
  struct Case {
    const char* name;
    Bytes file;
    const char* why;
  };
  qvtest::TiffPage huge = SimplePage(60000, 60000, 8, 3, 2, 5, {0x80, 0x00});
  qvtest::TiffPage palette16 = SimplePage(2, 1, 16, 1, 3, 1, {0, 0, 0, 0});
  qvtest::TiffPage noCase = SimplePage(2, 1, 8, 2, 5, 1, {0, 0, 0, 0});
  qvtest::TiffPage noStrips = SimplePage(2, 1, 8, 1, 1, 1, {});
  const Case cases[] = {
      {"not TIFF", {'I', 'X', 42, 0, 8, 0, 0, 0}, "the byte order mark is neither II nor MM"},
      {"no directory", {'I', 'I', 42, 0, 0, 0, 0, 0}, "the first directory offset is 0"},
      {"huge LZW picture from two bytes", qvtest::BuildTiff({huge}), "the data cannot fill the rows"},
      {"16-bit palette", qvtest::BuildTiff({palette16}), "a sample layout that is not read"},
      {"two-sample CMYK", qvtest::BuildTiff({noCase}), "a sample layout that is not read"},
      {"no strips", qvtest::BuildTiff({noStrips}), "the image has no strip offsets"},
  };
  for (const Case& k : cases) {
    auto r = Read(k.file);
    EXPECT_TRUE(r->Failed()) << k.name;
    EXPECT_EQ(r->Why(), k.why) << k.name;
  }
  // Damaged LZW: the rows before the damage stay.
  auto bad = Read(qvtest::BuildTiff({SimplePage(2, 2, 8, 1, 1, 5, {0x80, 0x0A, 0x0A, 0xFF, 0xFF})}));
  EXPECT_TRUE(bad->Failed());
}

TEST(TiffReader, OneTileOfATiledImage) {
  // 32 x 32 in four 16 x 16 tiles of grey 1, 2, 3, 4; tile 2 is the lower left.
  Bytes tiles;
  for (int t = 0; t < 4; ++t) tiles.insert(tiles.end(), 256, uint8_t(t + 1));
  qvtest::TiffPage page = SimplePage(32, 32, 8, 1, 1, 1, {},
                                     {{322, 3, {16}, {}}, {323, 3, {16}, {}}, {325, 4, {256, 256, 256, 256}, {}}});
  Bytes file = qvtest::BuildTiff({page});
  const uint32_t data = uint32_t(file.size() + 16);
  page.entries.push_back({324, 4, {data, data + 256, data + 512, data + 768}, {}});
  file = qvtest::BuildTiff({page});
  // Place the tile data where the offsets say (the directory grew by one entry).
  const uint32_t at = uint32_t(file.size());
  page.entries.back().values = {at, at + 256, at + 512, at + 768};
  file = qvtest::BuildTiff({page});
  ASSERT_EQ(file.size(), at);
  file.insert(file.end(), tiles.begin(), tiles.end());
  auto whole = Read(file);
  ASSERT_FALSE(whole->Failed()) << whole->Why();
  EXPECT_EQ(Grey(whole->bitmap, 31, 0), 2);
  EXPECT_EQ(Grey(whole->bitmap, 0, 31), 3);
  auto one = std::make_unique<TRead>();
  one->params.TiffTileIndex = 2;
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  ReadTIFFStream(&one->bitmap, s, one->pages, one->params, one->progress.rec, false, one->mask, false, false, false,
                 false, nullptr);
  ASSERT_FALSE(one->Failed()) << one->Why();
  EXPECT_EQ(one->bitmap.Width(), 16);
  EXPECT_EQ(Grey(one->bitmap, 5, 5), 3);
}

TEST(TiffReader, ProbesAndSmallTexts) {
  const Bytes grey = Grey8(2, 2);
  TCustomMemoryStream s(grey.data(), int64_t(grey.size()));
  EXPECT_TRUE(IsTIFFStream(s));
  EXPECT_FALSE(IsRawTIFFStream(s));
  EXPECT_EQ(s.Position(), 0);
  Bytes mm = {'M', 'M', 0, 42, 0, 0, 0, 8, 0xBA, 0, 0, 0, 0, 0, 0, 0};
  TCustomMemoryStream m(mm.data(), int64_t(mm.size()));
  EXPECT_FALSE(IsTIFFStream(m));
  const Bytes dng = Grey8(2, 2, {{50706, 1, {}, {1, 4, 0, 0}}});
  TCustomMemoryStream d(dng.data(), int64_t(dng.size()));
  EXPECT_TRUE(IsRawTIFFStream(d));
  EXPECT_EQ(GPSVersionToText({2, 2, 0, 0}), "2.2.0.0");
}
