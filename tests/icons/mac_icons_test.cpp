// The Mac icon reader on icns files and resource forks built here byte by
// byte: element decoding, pairing of images and masks, the marks an icon
// gets, and damaged or hostile input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "base/toolbox/bitmap_utils.h"
#include "icons/advanced_icon.h"
#include "mac_icons_test_util.h"
#include "pictures/jpeg2000/jpeg2000_bitmap.h"
#include "pictures/png/png_image.h"
#include "test_support.h"

using namespace mactest;

namespace {

// Run-length channels of one value each, for a side x side element.
Bytes SolidChannels(int side, std::initializer_list<uint8_t> values) {
  Bytes out;
  for (uint8_t v : values) RepeatRun(out, static_cast<size_t>(side) * side, v);
  return out;
}

Bytes Mask8(int side, uint8_t value) { return Bytes(static_cast<size_t>(side) * side, value); }

// An RGBA picture saved as PNG by our own writer, only as input for the reader.
Bytes PngOf(int side, uint8_t alpha) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf32bit);
  bitmap.SetSize(side, side);
  Fill32(&bitmap, static_cast<uint32_t>(alpha) << 24 | 0x336699);
  TPNGImage png;
  png.Assign(&bitmap);
  TMemoryStream stream;
  png.SaveToStream(stream);
  Bytes out(static_cast<size_t>(stream.Size()));
  stream.SetPosition(0);
  stream.ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
  return out;
}

void LoadIcon(const Bytes& file, TAdvancedIcon& icon) {
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("icon.icns"), file);
  LoadMacIcon(dir.File("icon.icns"), icon);
}

TEST(MacIcons, UnpackIcnsChannelRuns) {
  struct TCase {
    const char* name;
    Bytes data;
    size_t count;
    std::vector<uint8_t> expected;  // channel values; 0 where not filled
    size_t end;
  };
  const TCase cases[] = {
      {"repeat", {0x80, 7}, 4, {7, 7, 7, 0}, 2},
      {"literal", {0x02, 1, 2, 3, 0x80, 9}, 6, {1, 2, 3, 9, 9, 9}, 6},
      {"overflowing repeat is cut", {0x83, 5, 0x80, 6}, 2, {5, 5}, 2},
      {"overflowing literal is consumed", {0x03, 1, 2, 3, 4, 0x80, 6}, 2, {1, 2}, 5},
      {"data ends in a literal", {0x05, 1, 2}, 4, {1, 2, 0, 0}, 3},
      {"repeat without its value", {0x90}, 4, {0, 0, 0, 0}, 1},
  };
  for (const TCase& c : cases) {
    std::vector<uint8_t> pixels(c.count * 4, 0);
    EXPECT_EQ(UnpackIcnsChannel(c.data.data(), c.data.size(), 0, pixels.data(), c.count, 1), c.end) << c.name;
    for (size_t i = 0; i < c.count; ++i) {
      EXPECT_EQ(pixels[i * 4 + 1], c.expected[i]) << c.name << " pixel " << i;
      EXPECT_EQ(pixels[i * 4], 0) << c.name;
    }
  }
}

TEST(MacIcons, MacPalettes) {
  const int32_t* p = MacPalette256();
  EXPECT_EQ(p[0], 0xFFFFFF);
  EXPECT_EQ(p[1], 0xCCFFFF);      // blue changes fastest: FFFFCC
  EXPECT_EQ(p[214], 0x330000);    // 000033, the cube without black
  EXPECT_EQ(p[215], 0x0000EE);    // the reds
  EXPECT_EQ(p[225], 0x00EE00);    // the greens
  EXPECT_EQ(p[235], 0xEE0000);    // the blues
  EXPECT_EQ(p[254], 0x111111);    // the last grey
  EXPECT_EQ(p[255], 0);
  EXPECT_EQ(MacPalette16[0], 0xFFFFFF);
  EXPECT_EQ(MacPalette16[1], 0x05F3FC);  // FCF305
  EXPECT_EQ(MacPalette16[15], 0);
}

TEST(MacIcons, RunLengthImagesTakeAlphaFromTheirMasks) {
  const Bytes file = Icns({Element("is32", SolidChannels(16, {10, 20, 30})), Element("s8mk", Mask8(16, 0x80)),
                           Element("il32", SolidChannels(32, {40, 50, 60})), Element("l8mk", Mask8(32, 0xFF))});
  TMacIconImages images = ReadData(file);
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0].name, "is32/s8mk");
  EXPECT_EQ(images[1].name, "il32/l8mk");
  for (TMacIconImage& i : images) {
    EXPECT_EQ(i.mask, nullptr);
    EXPECT_EQ(i.image->PixelFormat(), pf32bit);
  }
  const uint8_t* small = Pixel32(*images[0].image, 15, 15);
  EXPECT_EQ(small[2], 10);
  EXPECT_EQ(small[1], 20);
  EXPECT_EQ(small[0], 30);
  EXPECT_EQ(small[3], 0x80);
  EXPECT_EQ(Pixel32(*images[1].image, 0, 0)[3], 0xFF);

  TAdvancedIcon icon;
  LoadIcon(file, icon);
  ASSERT_EQ(icon.Count(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(icon.Images()[i]->HotspotX(), kMacImageMarker);
    EXPECT_FALSE(icon.Images()[i]->IsMacHiResElement());
    EXPECT_FALSE(icon.Images()[i]->StoreAsPNG());
  }
}

TEST(MacIcons, It32WithoutMaskIsTransparent) {
  Bytes data = {0, 0, 0, 0};
  const Bytes channels = SolidChannels(128, {200, 100, 50});
  data.insert(data.end(), channels.begin(), channels.end());
  TMacIconImages images = ReadData(Icns({Element("it32", data)}));
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].name, "it32/?");
  TBitmap& image = *images[0].image;
  ASSERT_EQ(image.Width(), 128);
  for (int y : {0, 64, 127}) {
    EXPECT_EQ(Pixel32(image, y, y)[3], 0);
    EXPECT_EQ(Pixel32(image, y, y)[2], 200);
  }
}

TEST(MacIcons, ArgbElementsStoreAlphaFirst) {
  TMacIconImages images;
  ReadMacIconFile(std::string(QV_FIXTURES_DIR) + "/icns/argb_ic04_ic05.icns", images);
  ASSERT_EQ(images.size(), 2u);
  for (TMacIconImage& i : images) {
    const int side = i.name == "ic04" ? 16 : 32;
    ASSERT_EQ(i.image->Width(), side) << i.name;
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        const uint8_t* p = Pixel32(*i.image, x, y);
        ASSERT_EQ(p[2], (x * 7) & 255) << i.name << " " << x << "," << y;
        ASSERT_EQ(p[1], (y * 5 + 3) & 255) << i.name << " " << x << "," << y;
        ASSERT_EQ(p[0], 0x40) << i.name;
        ASSERT_EQ(p[3], x < side / 2 ? 255 : 0x80) << i.name << " " << x << "," << y;
      }
  }
}

TEST(MacIcons, ClassicImageSharesTheOneBitMask) {
  // icn#: a black top half; the mask opaque in the left half only.
  Bytes oneBit(256, 0);
  for (int row = 0; row < 16; ++row)
    for (int b = 0; b < 4; ++b) oneBit[row * 4 + b] = 0xFF;
  for (int row = 0; row < 32; ++row) oneBit[128 + row * 4] = oneBit[128 + row * 4 + 1] = 0xFF;
  Bytes eight(1024, 5);  // palette entry 5: FFFF00
  TMacIconImages images = ReadData(Icns({Element("icl8", eight), Element("icn#", oneBit)}));
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0].name, "icl8/icn#");
  EXPECT_EQ(images[1].name, "icn#/icn#");
  EXPECT_EQ(images[0].image->PixelFormat(), pf8bit);
  EXPECT_EQ(images[1].image->PixelFormat(), pf1bit);
  ASSERT_NE(images[0].mask, nullptr);
  EXPECT_EQ(images[0].mask.get(), images[1].mask.get());
  TMaskPixels mask(images[0].mask.get());
  EXPECT_FALSE(mask.IsWhite(0, 0));
  EXPECT_TRUE(mask.IsWhite(31, 0));
  // The 1-bit image: black where set, and black under the transparent half.
  TBitmap& picture = *images[1].image;
  EXPECT_EQ(static_cast<uint32_t>(picture.Canvas()->Pixels(0, 0)) & 0xFFFFFF, 0u);
  EXPECT_EQ(static_cast<uint32_t>(picture.Canvas()->Pixels(0, 20)) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(static_cast<uint32_t>(picture.Canvas()->Pixels(31, 20)) & 0xFFFFFF, 0u);
  EXPECT_EQ(static_cast<uint32_t>(images[0].image->Canvas()->Pixels(3, 3)) & 0xFFFFFF, 0x00FFFFu);

  TAdvancedIcon icon;
  LoadIcon(Icns({Element("icl8", eight), Element("icn#", oneBit)}), icon);
  EXPECT_EQ(icon.Count(), 2);
}

TEST(MacIcons, FourBitImageUsesTheMacPalette) {
  Bytes four(128, 0x1F);  // left pixel 1 (FCF305), right pixel 15 (black)
  TMacIconImages images = ReadData(Icns({Element("ics4", four)}));
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].name, "ics4/?");
  TBitmap& image = *images[0].image;
  EXPECT_EQ(image.PixelFormat(), pf4bit);
  EXPECT_EQ(static_cast<uint32_t>(image.Canvas()->Pixels(0, 0)) & 0xFFFFFF, 0x05F3FCu);
  EXPECT_EQ(static_cast<uint32_t>(image.Canvas()->Pixels(1, 15)) & 0xFFFFFF, 0u);
}

TEST(MacIcons, CompressedElementsAndTheirMarks) {
  TJpeg2000Bitmap jp2;
  jp2.SetPixelFormat(pf32bit);
  jp2.SetSize(64, 64);
  Fill32(&jp2, 0x80112233);
  jp2.SetLossless(true);
  TMemoryStream jp2Stream;
  jp2.SaveToStream(jp2Stream);
  Bytes jp2Bytes(static_cast<size_t>(jp2Stream.Size()));
  jp2Stream.SetPosition(0);
  jp2Stream.ReadBuffer(jp2Bytes.data(), static_cast<int64_t>(jp2Bytes.size()));

  const Bytes file = Icns({Element("ic10", PngOf(1024, 255)), Element("ic08", PngOf(256, 200)),
                           Element("icp6", jp2Bytes), Element("info", Bytes(30, 1))});
  TMacIconImages images = ReadData(file);
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(images[0].name, "ic10");
  EXPECT_EQ(images[0].image->Width(), 1024);
  EXPECT_EQ(Pixel32(*images[1].image, 5, 5)[3], 200);
  EXPECT_EQ(images[2].image->Width(), 64);
  const uint8_t* p = Pixel32(*images[2].image, 10, 10);
  EXPECT_EQ(p[0], 0x33);
  EXPECT_EQ(p[3], 0x80);

  TAdvancedIcon icon;
  LoadIcon(file, icon);
  ASSERT_EQ(icon.Count(), 3);
  for (int i = 0; i < icon.Count(); ++i) {
    TSubIcon* image = icon.Images()[i];
    EXPECT_EQ(image->HotspotX(), kMacImageMarker);
    EXPECT_EQ(image->IsMacHiResElement(), image->GetWidth() == 1024) << image->GetWidth();
    EXPECT_EQ(image->StoreAsPNG(), image->GetWidth() > 255) << image->GetWidth();
  }
}

TEST(MacIcons, ResourceForkIconsShareTheirMask) {
  Bytes oneBit(256, 0);
  for (int i = 128; i < 256; ++i) oneBit[i] = 0xFF;  // all opaque
  const Bytes eight(1024, 7);
  for (bool appleDouble : {false, true}) {
    Bytes head(appleDouble ? 338 : 256, 0);
    if (appleDouble) head[1] = 0x05, head[2] = 0x16, head[3] = 0x07;
    TMacIconImages images = ReadData(ResourceFork({oneBit, eight}, head));
    ASSERT_EQ(images.size(), 2u) << appleDouble;
    EXPECT_EQ(images[0].image->PixelFormat(), pf1bit);
    EXPECT_EQ(images[1].image->PixelFormat(), pf8bit);
    EXPECT_EQ(images[1].image->Width(), 32);
    EXPECT_NE(images[0].mask, nullptr);
    EXPECT_EQ(images[0].mask.get(), images[1].mask.get());
  }
}

TEST(MacIcons, ResourceForkLengthsAndSkips) {
  Bytes text(64, 0);
  std::memcpy(text.data() + 10, "TEXT", 4);
  Bytes fork(256, 0);
  for (uint8_t b : {0xFF, 0x00, 0x00, 0x00}) fork.push_back(b);  // a word with a top byte: skipped
  const Bytes rest = ResourceFork({Bytes(128, 0x11), text, Bytes(64, 0), Bytes(2312, 3), Bytes(40, 0),
                                   Bytes(128, 0x11)},
                                  {});
  fork.insert(fork.end(), rest.begin(), rest.end());
  TMacIconImages images = ReadData(fork);
  // 16 x 16 4-bit, 16 x 16 1-bit (the "TEXT" resource is not one), 48 x 48
  // 8-bit; the second identical 4-bit image is a duplicate.
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(images[0].image->PixelFormat(), pf4bit);
  EXPECT_EQ(images[1].image->PixelFormat(), pf1bit);
  EXPECT_EQ(images[2].image->Width(), 48);
  // The 4-bit image borrowed the 16 x 16 1-bit mask.
  EXPECT_EQ(images[0].mask.get(), images[1].mask.get());
}

TEST(MacIcons, EmbeddedIcnsReplacesClassicImagesOfItsSizes) {
  const Bytes icns = Icns({Element("icl8", Bytes(1024, 9)), Element("is32", SolidChannels(16, {1, 2, 3}))});
  const Bytes fork = ResourceFork({Bytes(1024, 7), Bytes(128, 0x22), icns});
  TMacIconImages images = ReadData(fork);
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(images[0].name, "icl8/?");
  EXPECT_EQ(images[1].name, "is32/?");
  EXPECT_EQ(images[2].name, "");
  EXPECT_EQ(images[2].image->PixelFormat(), pf4bit);
}

TEST(MacIcons, LoadingClearsTheIconAndSorts) {
  TAdvancedIcon icon;
  TBitmap extra;
  extra.SetPixelFormat(pf24bit);
  extra.SetSize(8, 8);
  icon.Images().AddBitmap(&extra, nullptr, 0);
  LoadIcon(Icns({Element("ics8", Bytes(256, 1)), Element("il32", SolidChannels(32, {1, 2, 3}))}), icon);
  ASSERT_EQ(icon.Count(), 2);
  EXPECT_EQ(icon.Images()[0]->GetWidth(), 32);  // the deeper image first
}

// Nothing here may hang, crash or allocate without bound; the reader keeps
// what it could read.
TEST(MacIcons, HostileFilesAreReadWithoutHarm) {
  auto rawElement = [](const char* type, uint32_t length, const Bytes& data) {
    Bytes e(type, type + 4);
    PutBig32(e, length);
    e.insert(e.end(), data.begin(), data.end());
    return e;
  };
  auto container = [](uint32_t length, const Bytes& body) {
    Bytes f = {'i', 'c', 'n', 's'};
    PutBig32(f, length);
    f.insert(f.end(), body.begin(), body.end());
    return f;
  };
  const Bytes is32 = Element("is32", SolidChannels(16, {1, 2, 3}));
  Bytes zeroThenImage = rawElement("ics8", 0, {});
  zeroThenImage.insert(zeroThenImage.end(), is32.begin(), is32.end());
  struct TCase {
    const char* name;
    Bytes data;
    size_t images;
    const char* reason;  // the first rule that stopped the reader or passed data over
  };
  const char* none = "no icon image in the data";
  const std::vector<TCase> cases = {
      {"empty", {}, 0, none},
      {"tag only", {'i', 'c', 'n', 's'}, 0, "the container head is cut short"},
      {"element length 0", container(100, zeroThenImage), 0, "an element shorter than its head"},
      {"element length 4", container(100, rawElement("is32", 4, Bytes(50, 0))), 0, "an element shorter than its head"},
      {"element past the end", container(100, rawElement("icl8", 0x7FFFFFFF, Bytes(20, 0))), 0,
       "an element of a size its type does not have"},
      {"container past the end", container(0xFFFFFFFF, is32), 1, "the container runs past the end"},
      {"container shorter than its head", container(3, is32), 0, "a container shorter than its head"},
      // What the channels hold is kept; the rest of the picture stays as it began.
      {"truncated run-length data", Icns({Element("il32", {0xFF, 1})}), 1, "a run-length channel is cut short"},
      {"last channel cut short", Icns({Element("is32", [] {
         Bytes d = SolidChannels(16, {1, 2, 3});
         d.pop_back();
         return d;
       }())}), 1, "a run-length channel is cut short"},
      {"whole channels", Icns({Element("is32", SolidChannels(16, {1, 2, 3}))}), 1, ""},
      {"wrong classic sizes", Icns({Element("icl8", Bytes(1000, 0)), Element("icn#", Bytes(255, 0)),
                                    Element("l8mk", Bytes(3, 0))}), 0, "an element of a size its type does not have"},
      {"fork of zero lengths", Bytes(4096, 0), 0, none},
      {"fork of top bytes", Bytes(4096, 0xFF), 0, none},
      // A ten-byte resource whose length claims 1024.
      {"fork resource past the end", [] {
         Bytes f = ResourceFork({Bytes(10, 0)});
         f[258] = 4;
         return f;
       }(), 0, "a resource runs past the end"},
  };
  for (const TCase& c : cases) {
    TMacIconImages images;
    std::string refusal;
    EXPECT_NO_THROW(ReadMacIconData(c.data.data(), c.data.size(), images, &refusal)) << c.name;
    EXPECT_EQ(images.size(), c.images) << c.name;
    EXPECT_EQ(refusal, c.reason) << c.name;
  }
  // Fork resource past the end: its length field claims more than is there.
  Bytes fork(256, 0);
  PutBig32(fork, 1024);
  fork.resize(fork.size() + 100);
  EXPECT_TRUE(ReadData(fork).empty());

  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    Bytes data = round % 2 ? Icns({is32, Element("s8mk", Mask8(16, 9))}) : ResourceFork({Bytes(1024, 1)});
    for (int k = 0; k < 8; ++k) data[random() % data.size()] = static_cast<uint8_t>(random());
    TMacIconImages images;
    try {
      ReadMacIconData(data.data(), data.size(), images);
    } catch (const Exception&) {
    }
  }
}

TEST(MacIcons, BrokenCompressedElementsReachTheCaller) {
  Bytes png = PngOf(32, 255);
  png.resize(png.size() / 2);
  TMacIconImages images;
  const Bytes brokenPng = Icns({Element("ic11", png)});
  EXPECT_THROW(ReadMacIconData(brokenPng.data(), brokenPng.size(), images), Exception);
  const Bytes brokenJp2 = Icns({Element("ic08", Bytes(100, 0x33))});
  EXPECT_THROW(ReadMacIconData(brokenJp2.data(), brokenJp2.size(), images), EJpeg2000Error);
  // Only the whole 8-byte signature makes a PNG element; anything else is taken for JPEG 2000.
  const Bytes halfSignature = Icns({Element("ic08", Bytes{0x89, 'P', 'N', 'G', 0, 0, 0, 0, 0, 0, 0, 0})});
  EXPECT_THROW(ReadMacIconData(halfSignature.data(), halfSignature.size(), images), EJpeg2000Error);
}

}  // namespace
