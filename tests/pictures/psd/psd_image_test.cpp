#include <gtest/gtest.h>

#include <cstring>

#include "base/toolbox/bitmap_utils.h"
#include "exception_text.h"
#include "pictures/common/picture_pixels.h"
#include "pictures/psd/psd_image.h"
#include "pictures/psd/psd_test_util.h"
#include "platform/graphics/graphics_picture.h"

using namespace psdtest;
using pictest::RgbaOf;

namespace {

// A document of one row of pixels given as planes, stored raw.
Bytes RawDocument(uint16_t mode, uint16_t depth, const std::vector<Bytes>& planes, uint32_t width, Bytes modeData = {}) {
  TPsdSpec s;
  s.mode = mode;
  s.depth = depth;
  s.channels = static_cast<uint16_t>(planes.size());
  s.width = width;
  s.height = 1;
  s.modeData = std::move(modeData);
  for (const Bytes& p : planes) s.image.insert(s.image.end(), p.begin(), p.end());
  return MakePsd(s);
}

std::vector<uint8_t> Pixel(TBitmap& bitmap, int x, int y) { return pictest::PixelOf(bitmap, x, y); }

}  // namespace

TEST(PackbitsRLE, UnpacksRunsAndLiteralsWithinBothBuffers) {
  struct TCase {
    const char* name;
    Bytes packed;
    int64_t room;
    Bytes expected;
  } cases[] = {
      {"literal", {2, 'a', 'b', 'c'}, 8, {'a', 'b', 'c'}},
      {"repeat", {0xFD, 7}, 8, {7, 7, 7, 7}},
      {"no-op header skipped", {0x80, 0, 'x'}, 8, {'x'}},
      {"literal cut by the source", {5, 'a', 'b'}, 8, {'a', 'b'}},
      {"repeat without its value", {1, 'a', 'b', 0xFE}, 8, {'a', 'b'}},
      {"repeat cut by the destination", {0x81, 9}, 5, {9, 9, 9, 9, 9}},
      {"literal cut by the destination", {3, 1, 2, 3, 4, 0xFF, 5}, 3, {1, 2, 3}},
  };
  for (const TCase& c : cases) {
    Bytes out(static_cast<size_t>(c.room) + 4, 0xEE);
    const int64_t n = TPackbitsRLE::Unpack(c.packed.data(), static_cast<int64_t>(c.packed.size()), out.data(), c.room);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + n), c.expected) << c.name;
    for (size_t i = static_cast<size_t>(c.room); i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << c.name;
  }
}

TEST(PSDImage, MergedImageOfEveryModeConvertsToScreenColours) {
  struct TCase {
    const char* name;
    Bytes file;
    TPixelFormat format;
    std::vector<uint8_t> first, second;  // red, green, blue, alpha of pixels 0 and 1
  } cases[] = {
      // Stored CMYK is 255 minus the ink: no ink is white, black ink alone black.
      {"cmyk", RawDocument(psdCMYK, 8, {{255, 255}, {255, 255}, {255, 255}, {255, 0}}, 2), pf24bit,
       {255, 255, 255, 255}, {0, 0, 0, 255}},
      {"cmyk half cyan", RawDocument(psdCMYK, 8, {{127}, {255}, {255}, {255}}, 1), pf24bit, {127, 255, 255, 255}, {}},
      // L 255 with neutral a and b is white (254.745 rounds up).
      {"lab", RawDocument(psdLab, 8, {{255, 0}, {128, 128}, {128, 128}}, 2), pf24bit, {255, 255, 255, 255},
       {0, 0, 0, 255}},
      {"rgb", RawDocument(psdRGB, 8, {{10}, {20}, {30}}, 1), pf24bit, {10, 20, 30, 255}, {}},
      {"rgb with alpha", RawDocument(psdRGB, 8, {{10}, {20}, {30}, {40}}, 1), pf32bit, {10, 20, 30, 40}, {}},
      {"rgb 16-bit takes the high byte", RawDocument(psdRGB, 16, {{0x12, 0xFF}, {0x34, 0}, {0x56, 0x80}}, 1), pf24bit,
       {0x12, 0x34, 0x56, 255}, {}},
      {"grey", RawDocument(psdGray, 8, {{0x40, 0xC0}}, 2), pf8bit, {0x40, 0x40, 0x40, 255}, {0xC0, 0xC0, 0xC0, 255}},
      {"grey 16-bit", RawDocument(psdGray, 16, {{0x40, 1, 0xC0, 0xFF}}, 2), pf8bit, {0x40, 0x40, 0x40, 255},
       {0xC0, 0xC0, 0xC0, 255}},
      // Duotone data describe inks the picture does not show: skipped, greys.
      {"duotone", RawDocument(psdDuotone, 8, {{0x33, 0x99}}, 2, Bytes(20, 0xAB)), pf8bit, {0x33, 0x33, 0x33, 255},
       {0x99, 0x99, 0x99, 255}},
      {"bitmap: a set bit is black", RawDocument(psdBitmap, 1, {{0x80}}, 2), pf1bit, {0, 0, 0, 255},
       {255, 255, 255, 255}},
  };
  for (TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TPSDImage picture;
    pictest::LoadBytes(picture, c.file);
    EXPECT_EQ(picture.PixelFormat(), c.format);
    EXPECT_EQ(Pixel(picture, 0, 0), c.first);
    if (!c.second.empty()) { EXPECT_EQ(Pixel(picture, 1, 0), c.second); }
  }
}

TEST(PSDImage, IndexedDocumentTakesItsColourTable) {
  Bytes table(768, 0);
  table[5] = 200, table[256 + 5] = 100, table[512 + 5] = 50;
  TPSDImage picture;
  pictest::LoadBytes(picture, RawDocument(psdIndexed, 8, {{5}}, 1, table));
  EXPECT_EQ(picture.PixelFormat(), pf8bit);
  EXPECT_EQ(Pixel(picture, 0, 0), (std::vector<uint8_t>{200, 100, 50, 255}));
  EXPECT_EQ(picture.ColorTable[5], 200);
}

TEST(PSDImage, PackBitsAndRawSixteenBitDocumentsGiveTheSamePicture) {
  const uint32_t w = 150, h = 3;  // rows longer than one literal run
  std::vector<Bytes> rows;
  Bytes raw;
  for (int c = 0; c < 3; ++c)
    for (uint32_t y = 0; y < h; ++y) {
      Bytes row;
      for (uint32_t x = 0; x < w; ++x) {
        Put16(row, (x * 37 + y * 101 + c * 59) * 131 % 65536);
      }
      rows.push_back(row);
      raw.insert(raw.end(), row.begin(), row.end());
    }
  TPsdSpec s;
  s.width = w, s.height = h, s.depth = 16;
  s.image = raw;
  TPSDImage a, b;
  pictest::LoadBytes(a, MakePsd(s));
  s.compression = 1;
  s.image = PackRows(rows);
  pictest::LoadBytes(b, MakePsd(s));
  EXPECT_TRUE(BitmapsEqual(&a, &b));
  EXPECT_EQ(Pixel(a, 1, 0)[0], ((37 * 131) >> 8) & 0xFF);
}

namespace {

// A 4 x 3 RGB document with the given layers.
std::unique_ptr<TPSDImage> LoadWithLayers(std::vector<TLayerSpec> layers, uint16_t mode = psdRGB) {
  TPsdSpec s;
  s.width = 4, s.height = 3, s.mode = mode;
  s.channels = mode == psdCMYK ? 4 : mode == psdGray ? 1 : 3;
  s.image.assign(size_t(4) * 3 * s.channels, 0x55);
  s.layers = std::move(layers);
  auto picture = std::make_unique<TPSDImage>();
  pictest::LoadBytes(*picture, MakePsd(s));
  return picture;
}

Bytes RawChannel(size_t count, uint8_t value) {
  Bytes b = {0, 0};
  b.insert(b.end(), count, value);
  return b;
}

}  // namespace

TEST(PSDImage, LayersAreDrawnClippedWithTheirOwnChannels) {
  TLayerSpec rgb;  // 3 x 2 at (2, 1): one column lies outside the document
  rgb.top = 1, rgb.left = 2, rgb.bottom = 3, rgb.right = 5;
  rgb.ids = {0, 1, 2, -1};
  rgb.channels = {RawChannel(6, 200), RawChannel(6, 100), RawChannel(6, 50), RawChannel(6, 128)};
  TLayerSpec grey;  // grey and transparency: grey with alpha
  grey.top = 0, grey.left = 0, grey.bottom = 1, grey.right = 1;
  grey.ids = {0, -1};
  grey.channels = {RawChannel(1, 77), RawChannel(1, 9)};
  TLayerSpec opaque;  // four colour channels, no transparency: opaque
  opaque.bottom = 1, opaque.right = 1;
  opaque.ids = {0, 1, 2, 3};
  opaque.channels = {RawChannel(1, 1), RawChannel(1, 2), RawChannel(1, 3), RawChannel(1, 4)};
  TLayerSpec single;
  single.bottom = 1, single.right = 1;
  single.ids = {0};
  single.channels = {RawChannel(1, 1)};
  auto holder = LoadWithLayers({rgb, grey, opaque, single});
  TPSDImage& picture = *holder;
  ASSERT_EQ(picture.Layers.size(), 4u);

  TBitmap layer;
  picture.GetLayerBitmap(0, &layer);
  EXPECT_EQ(layer.PixelFormat(), pf32bit);
  EXPECT_EQ(layer.Width(), 4);
  EXPECT_EQ(Pixel(layer, 2, 1), (std::vector<uint8_t>{200, 100, 50, 128}));
  EXPECT_EQ(Pixel(layer, 3, 2), (std::vector<uint8_t>{200, 100, 50, 128}));
  EXPECT_EQ(Pixel(layer, 1, 1), (std::vector<uint8_t>{0, 0, 0, 0}));
  picture.GetLayerBitmap(1, &layer);
  EXPECT_EQ(Pixel(layer, 0, 0), (std::vector<uint8_t>{77, 77, 77, 9}));
  picture.GetLayerBitmap(2, &layer);
  EXPECT_EQ(Pixel(layer, 0, 0), (std::vector<uint8_t>{1, 2, 3, 255}));
  picture.GetLayerBitmap(3, &layer);
  EXPECT_TRUE(layer.Empty());
}

TEST(PSDImage, ZipLayerChannelsLeaveTheMergedImageReadable) {
  // ImageMagick packs layer channels with ZIP (2, or 3 with prediction) and
  // stores the merged image plainly: such documents were refused outright.
  TLayerSpec zipped;
  zipped.bottom = 2, zipped.right = 2;
  zipped.ids = {0, 1, 2};
  const Bytes zip = {0, 2, 0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01};
  const Bytes predicted = {0, 3, 0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01};
  zipped.channels = {zip, predicted, zip};
  auto holder = LoadWithLayers({zipped});
  TPSDImage& picture = *holder;
  EXPECT_EQ(picture.LastRefusal(), "");
  ASSERT_EQ(picture.Layers.size(), 1u);
  EXPECT_EQ(picture.Width(), 4);
  EXPECT_EQ(Pixel(picture, 3, 2), (std::vector<uint8_t>{0x55, 0x55, 0x55, 255}));
}

TEST(PSDImage, CmykLayersGoThroughTheDocumentsConversion) {
  TLayerSpec l;
  l.bottom = 1, l.right = 2;
  l.ids = {0, 1, 2, 3, -1};
  // Pixel 0 no ink, pixel 1 black ink alone.
  l.channels = {Bytes{0, 0, 255, 255}, Bytes{0, 0, 255, 255}, Bytes{0, 0, 255, 255}, Bytes{0, 0, 255, 0},
                Bytes{0, 0, 255, 255}};
  auto holder = LoadWithLayers({l}, psdCMYK);
  TPSDImage& picture = *holder;
  TBitmap layer;
  picture.GetLayerBitmap(0, &layer);
  EXPECT_EQ(Pixel(layer, 0, 0), (std::vector<uint8_t>{255, 255, 255, 255}));
  EXPECT_EQ(Pixel(layer, 1, 0), (std::vector<uint8_t>{0, 0, 0, 255}));
}

TEST(PSDImage, UserMaskChannelIsSkippedAndItsLayerIsNotWrittenBack) {
  TLayerSpec masked;
  masked.bottom = 1, masked.right = 2;
  masked.ids = {0, 1, 2, -2};
  // The user mask has a rectangle of its own, here of 6 pixels.
  masked.channels = {RawChannel(2, 10), RawChannel(2, 20), RawChannel(2, 30), RawChannel(6, 99)};
  TLayerSpec plain;
  plain.bottom = 1, plain.right = 1;
  plain.ids = {0, 1, 2};
  plain.channels = {RawChannel(1, 1), RawChannel(1, 2), RawChannel(1, 3)};
  auto holder = LoadWithLayers({masked, plain});
  TPSDImage& picture = *holder;
  ASSERT_EQ(picture.Layers.size(), 2u);
  EXPECT_FALSE(picture.Layers[0]->Whole());
  TBitmap layer;
  picture.GetLayerBitmap(0, &layer);
  EXPECT_EQ(Pixel(layer, 1, 0), (std::vector<uint8_t>{10, 20, 30, 255}));
  EXPECT_EQ(Pixel(picture, 0, 0), (std::vector<uint8_t>{0x55, 0x55, 0x55, 255}));

  TPSDImage again;
  pictest::LoadBytes(again, pictest::SaveBytes(picture));
  ASSERT_EQ(again.Layers.size(), 1u);
  EXPECT_EQ(again.Layers[0]->ChannelCount, 3);
  again.GetLayerBitmap(0, &layer);
  EXPECT_EQ(Pixel(layer, 0, 0), (std::vector<uint8_t>{1, 2, 3, 255}));
}

TEST(PSDImage, SavingWritesIndexedOrRgbDocumentsByPixelFormat) {
  struct TCase {
    TPixelFormat format;
    uint16_t channels, mode;
  } cases[] = {{pf1bit, 1, psdIndexed}, {pf4bit, 1, psdIndexed}, {pf8bit, 1, psdIndexed},
               {pf15bit, 3, psdRGB},    {pf24bit, 3, psdRGB},     {pf32bit, 4, psdRGB}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(int(c.format));
    TPSDImage picture;
    picture.SetPixelFormat(c.format);
    picture.SetSize(5, 3);
    picture.Canvas()->Brush()->SetColor(clRed);
    picture.Canvas()->FillRect(TRect{1, 1, 4, 3});
    const Bytes file = pictest::SaveBytes(picture);
    ASSERT_GE(file.size(), 26u);
    EXPECT_EQ(file[13], c.channels);
    EXPECT_EQ(file[25], c.mode);
    if (c.mode == psdIndexed) { EXPECT_EQ(file[28] << 8 | file[29], 768); }
    EXPECT_EQ(picture.FileHeader.Channels, c.channels);
    TPSDImage back;
    pictest::LoadBytes(back, file);
    pictest::ExpectSameRgba(RgbaOf(back), RgbaOf(picture), 0, c.format != pf32bit);
  }
}

TEST(PSDImage, AssignTakesTheSizeAndDropsTheLayers) {
  TLayerSpec l;
  l.bottom = 1, l.right = 1;
  l.ids = {0, 1, 2};
  l.channels = {RawChannel(1, 1), RawChannel(1, 2), RawChannel(1, 3)};
  auto holder = LoadWithLayers({l});
  TPSDImage& picture = *holder;
  TBitmap other;
  other.SetPixelFormat(pf24bit);
  other.SetSize(7, 2);
  picture.Assign(&other);
  EXPECT_TRUE(picture.Layers.empty());
  EXPECT_EQ(picture.FileHeader.Width, 7u);
  EXPECT_EQ(picture.FileHeader.Height, 2u);
}

TEST(PSDImage, RegisteredForPsdAndPdd) {
  EXPECT_TRUE(FileFormatClass("psd") == TGraphicClass::Of<TPSDImage>());
  EXPECT_TRUE(FileFormatClass("PDD") == TGraphicClass::Of<TPSDImage>());
}

// ---- hostile files ----

namespace {

struct THostile {
  const char* name;
  Bytes file;
  const char* message;
  const char* reason;  // part of the refusal reason
};

TPsdSpec Small() {
  TPsdSpec s;
  s.width = 2, s.height = 2;
  s.image.assign(12, 1);
  return s;
}

TPsdSpec With(std::function<void(TPsdSpec&)> change) {
  TPsdSpec s = Small();
  change(s);
  return s;
}

Bytes WithLayer(std::function<void(TLayerSpec&)> change) {
  TLayerSpec l;
  l.bottom = 1, l.right = 2;
  l.ids = {0, 1, 2};
  l.channels = {RawChannel(2, 1), RawChannel(2, 2), RawChannel(2, 3)};
  change(l);
  TPsdSpec s = Small();
  s.layers = {l};
  return MakePsd(s);
}

Bytes Cut(Bytes b, size_t keep) {
  b.resize(keep);
  return b;
}

}  // namespace

TEST(PSDImage, HostileFilesAreRefusedAndLeaveThePictureAsItWas) {
  const char* kInvalid = kPsdInvalidStream;
  const char* kShort = "Stream read error";
  Bytes badSignature = MakePsd(Small());
  badSignature[0] = 'X';
  Bytes packedHuge = MakePsd(With([](TPsdSpec& s) {
    s.width = 30000, s.height = 30000, s.compression = 1;
    s.image.assign(size_t(30000) * 3 * 2, 0);  // counts of zero cannot fill a row
  }));
  const THostile cases[] = {
      {"empty", {}, kShort, "ends early"},
      {"signature", badSignature, kInvalid, "signature"},
      {"version 2", MakePsd(With([](TPsdSpec& s) { s.version = 2; })), kInvalid, "version"},
      {"32-bit samples", MakePsd(With([](TPsdSpec& s) { s.depth = 32; })), kInvalid, "depth"},
      {"multichannel mode", MakePsd(With([](TPsdSpec& s) { s.mode = 7; })), kInvalid, "colour mode"},
      {"rgb of two channels", MakePsd(With([](TPsdSpec& s) { s.channels = 2; })), kInvalid, "too few"},
      {"cmyk of three channels", MakePsd(With([](TPsdSpec& s) { s.mode = psdCMYK; })), kInvalid, "too few"},
      {"zip compression", MakePsd(With([](TPsdSpec& s) { s.compression = 2; })), kInvalid, "compression"},
      {"zero width", MakePsd(With([](TPsdSpec& s) { s.width = 0; })), kInvalid, "size"},
      {"huge height", MakePsd(With([](TPsdSpec& s) { s.height = 0x7FFFFFFF; })), kInvalid, "size"},
      {"raw rows past the end", Cut(MakePsd(Small()), 45), kShort, "merged image"},
      {"row counts past the end", MakePsd(With([](TPsdSpec& s) { s.compression = 1; s.image = {0, 2}; })), kShort,
       "merged image"},
      {"packed rows cannot fill a huge picture", packedHuge, kInvalid, "cannot fill"},
      {"mode data past the end", MakePsd(With([](TPsdSpec& s) { s.modeData.clear(); s.image.clear(); })),
       kShort, "colour mode data"},
      {"upside-down layer", WithLayer([](TLayerSpec& l) { l.bottom = -5; }), kInvalid, "upside down"},
      {"layer right of left", WithLayer([](TLayerSpec& l) { l.right = -1; }), kInvalid, "upside down"},
      {"huge layer", WithLayer([](TLayerSpec& l) { l.right = 0x7FFFFFF0; }), kInvalid, "too large"},
      {"channel length past the section", WithLayer([](TLayerSpec& l) { l.lengths = {2, 2, 0x7FFFFFFF}; }),
       kShort, "layer channel"},
      {"channel data beyond its length", WithLayer([](TLayerSpec& l) { l.lengths = {4, 3, 4}; }), kShort,
       "layer channel"},
      {"layer count past the section", WithLayer([](TLayerSpec& l) {}), kInvalid, "layer count"},
  };
  for (const THostile& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = c.file;
    if (std::string(c.name) == "layer count past the section") {
      // The count sits after the section and info lengths.
      const size_t at = 26 + 4 + 4 + 8;
      file[at] = 0x7F;
    }
    if (std::string(c.name) == "mode data past the end") {
      file[26] = 0x10;  // a colour mode data length of 256 MB
    }
    TPSDImage picture;
    picture.SetPixelFormat(pf24bit);
    picture.SetSize(3, 3);
    EXPECT_EQ(MessageOf([&] { pictest::LoadBytes(picture, file); }), c.message);
    EXPECT_NE(picture.LastRefusal().find(c.reason), std::string::npos) << picture.LastRefusal();
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(picture.PixelFormat(), pf24bit);
  }
}
