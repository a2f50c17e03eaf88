// PNG-compressed icon images: DIB to PNG and back, drawing them, and the
// places where icons and image records store them compressed.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <utility>

#include "icon_png_util.h"
#include "base/toolbox/bitmap_utils.h"
#include "icons/advanced_icon.h"
#include "icons/icon_pictures.h"
#include "icons/sub_icon_render.h"
#include "pictures/png/png_image.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

using namespace icontest;

namespace {

std::unique_ptr<TSubIcon> FromBits(const std::vector<uint8_t>& bits) {
  TCustomMemoryStream s(bits.data(), int64_t(bits.size()));
  return TSubIcon::CreateFromBitsStream<TFileIconImage>(s);
}

// An image holding bits as a project record keeps them: no parse.
std::unique_ptr<TSubIcon> Unparsed(const std::vector<uint8_t>& bits, int16_t bitCount) {
  auto im = std::make_unique<TFileIconImage>();
  im->SetBits(bits);
  im->Head().wPlanes = 1;
  im->Head().wBitCount = bitCount;
  return im;
}

const std::vector<uint32_t> kMono = {0x000000, 0xFFFFFF};
const std::vector<uint32_t> kSixteen = {0x000000, 0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0, 0x123456,
                                        0x654321, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF,
                                        0x808080, 0xFFFFFF};
// Channels that 5-bit fields hold exactly, however they are widened again.
const std::vector<uint32_t> kFifteenBit = {0x000000, 0x081018, 0x180800, 0x001808, 0x101010, 0x180018};
std::vector<uint32_t> ManyColours(int n) {
  std::vector<uint32_t> v = {0};
  for (int i = 1; i < n; ++i) v.push_back(uint32_t(i * 2654435761u) & 0xFFFFFF);
  return v;
}

struct RoundTripCase {
  IconFixture fixture;
  int colourType, bitDepth;  // of the PNG made
  bool transparentIndex;     // a tRNS chunk
  int decodedDepth;          // of the DIB decoded from it
};

std::ostream& operator<<(std::ostream& os, const RoundTripCase& c) { return os << c.fixture.name; }

class DibPngRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(DibPngRoundTrip, KeepsEveryPixelAndTheEntry) {
  const RoundTripCase& c = GetParam();
  const IconFixture& f = c.fixture;
  const Rgba want = f.Pixels();
  const bool exactAlpha = f.bpp == 32;
  auto dib = FromBits(f.Dib());
  dib->SetHotspot(3, 4);
  ASSERT_EQ(FirstDifference(want, PixelsOf(*dib), exactAlpha), "") << "the fixture itself";

  TFileIconImage png;
  EncodePNG(*dib, png);
  ASSERT_TRUE(png.HasPNGBits());
  EXPECT_TRUE(png.StoreAsPNG());
  EXPECT_EQ(png.BytesInRes(), png.Bits().size());
  EXPECT_EQ(png.Head().wBitCount, f.bpp);
  EXPECT_EQ(png.Head().wPlanes, 1);
  EXPECT_EQ(png.Head().bWidth, uint8_t(f.w));  // 256 is 0
  EXPECT_EQ(png.HotspotX(), 3);
  EXPECT_EQ(png.HotspotY(), 4);
  EXPECT_EQ(PngColourType(png.Bits()), c.colourType);
  EXPECT_EQ(PngBitDepth(png.Bits()), c.bitDepth);
  EXPECT_EQ(PngHasChunk(png.Bits(), "tRNS"), c.transparentIndex);
  EXPECT_EQ(FirstDifference(want, DecodePngWithLibpng(png.Bits()), exactAlpha), "") << "as libpng reads it";

  // Encoding in place gives the same stream and keeps the hotspot.
  auto same = FromBits(f.Dib());
  same->SetHotspot(3, 4);
  EncodePNG(*same, *same);
  EXPECT_EQ(same->Bits(), png.Bits());
  EXPECT_EQ(same->HotspotX(), 3);

  // Back to a DIB, into another image and in place.
  TFileIconImage back;
  DecodePNG(png, back);
  EXPECT_FALSE(back.HasPNGBits());
  EXPECT_FALSE(back.StoreAsPNG());
  EXPECT_EQ(back.GetBitsPerPixel(), c.decodedDepth);
  EXPECT_EQ(back.Head().wBitCount, c.decodedDepth);
  EXPECT_EQ(back.BytesInRes(), back.Bits().size());
  EXPECT_EQ(back.HotspotX(), 3);
  EXPECT_EQ(back.HotspotY(), 4);
  EXPECT_EQ(FirstDifference(want, PixelsOf(back), exactAlpha), "");
  DecodePNG(*same, *same);
  EXPECT_EQ(same->Bits(), back.Bits());
  EXPECT_EQ(same->HotspotY(), 4);

  // The compressed image itself renders the same pixels.
  EXPECT_EQ(FirstDifference(want, PixelsOf(png), exactAlpha), "");
}

INSTANTIATE_TEST_SUITE_P(
    Depths, DibPngRoundTrip,
    ::testing::Values(
        // Opaque images keep their depth in the PNG; masked palette images
        // become 8-bit palette PNGs with a transparent index; masked 16- and
        // 24-bit images and every 32-bit image become RGBA.
        RoundTripCase{{"mono_opaque", 19, 7, 1, kMono, false, false}, 3, 1, false, 1},
        RoundTripCase{{"mono_masked", 19, 7, 1, kMono, true, false}, 3, 8, true, 1},
        RoundTripCase{{"four_opaque", 16, 16, 4, kSixteen, false, false}, 3, 4, false, 4},
        RoundTripCase{{"four_masked", 13, 9, 4, kSixteen, true, false}, 3, 8, true, 4},
        RoundTripCase{{"eight_opaque", 32, 32, 8, ManyColours(200), false, false}, 3, 8, false, 8},
        RoundTripCase{{"eight_masked", 24, 20, 8, ManyColours(200), true, false}, 3, 8, true, 8},
        RoundTripCase{{"sixteen_opaque", 10, 6, 16, kFifteenBit, false, false}, 2, 8, false, 24},
        RoundTripCase{{"sixteen_masked", 10, 6, 16, kFifteenBit, true, false}, 6, 8, false, 32},
        RoundTripCase{{"true_opaque", 48, 48, 24, ManyColours(300), false, false}, 2, 8, false, 24},
        RoundTripCase{{"true_masked", 17, 5, 24, ManyColours(300), true, false}, 6, 8, false, 24},
        RoundTripCase{{"alpha", 32, 32, 32, ManyColours(300), true, true}, 6, 8, false, 32},
        RoundTripCase{{"alpha_256", 256, 256, 32, ManyColours(300), true, true}, 6, 8, false, 32}),
    [](const auto& testInfo) { return std::string(testInfo.param.fixture.name); });

TEST(EncodePNG, OldThirtyTwoBitImagesWithoutAlphaShowThroughTheirMask) {
  // Every alpha byte 0: such an image is drawn by its AND mask, and so must
  // its PNG be.
  IconFixture f{"no_alpha", 8, 8, 32, kSixteen, true, false};
  auto bits = f.Dib();
  for (size_t i = 0; i < 64; ++i) bits[40 + i * 4 + 3] = 0;
  auto im = FromBits(bits);
  EncodePNG(*im, *im);
  EXPECT_EQ(FirstDifference(f.Pixels(), DecodePngWithLibpng(im->Bits()), false), "");
}

TEST(EncodePNG, CompressedImagesAreKeptAsTheyAre) {
  IconFixture f{"rgba", 6, 6, 32, kSixteen, true, true};
  const auto stream = EncodeRgbaPng(f.Pixels());
  auto source = Unparsed(stream, 32);
  source->SetStoreAsPNG(false);
  TFileIconImage target;
  EncodePNG(*source, target);
  EXPECT_EQ(target.Bits(), stream);
  EXPECT_TRUE(target.StoreAsPNG());
  EncodePNG(*source, *source);
  EXPECT_EQ(source->Bits(), stream);
  EXPECT_TRUE(source->StoreAsPNG());
  TSubIcon empty;
  EXPECT_THROW(EncodePNG(empty, target), Exception);
  EXPECT_EQ(target.Bits(), stream);
}

// A PNG made by another program, read under the depths an entry may name.
struct EntryDepthCase {
  const char* name;
  bool alpha;        // RGBA, else RGB
  bool softAlpha;    // alpha other than 0 and 255
  int colours;
  int16_t bitCount;  // of the entry
  int depth;         // of the DIB decoded
};

std::ostream& operator<<(std::ostream& os, const EntryDepthCase& c) { return os << c.name; }

class DecodeUnderEntry : public ::testing::TestWithParam<EntryDepthCase> {};

TEST_P(DecodeUnderEntry, DepthFollowsTheEntryOnlyWhereNothingIsLost) {
  const EntryDepthCase& c = GetParam();
  const std::vector<uint32_t> palette =
      c.colours == 2 ? kMono : (c.colours == 16 ? kSixteen : ManyColours(c.colours));
  IconFixture f{c.name, 20, 20, 32, palette, c.alpha, c.softAlpha};
  const Rgba want = f.Pixels();
  auto im = Unparsed(EncodeRgbaPng(want, c.alpha), c.bitCount);
  im->SetHotspot(7, 9);
  DecodePNG(*im, *im);
  EXPECT_EQ(im->GetBitsPerPixel(), c.depth);
  EXPECT_EQ(im->HotspotX(), 7);
  EXPECT_EQ(im->HotspotY(), 9);
  EXPECT_FALSE(im->StoreAsPNG());
  EXPECT_EQ(FirstDifference(want, PixelsOf(*im), c.depth == 32 && c.softAlpha), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeUnderEntry,
    ::testing::Values(EntryDepthCase{"mono_entry_1", false, false, 2, 1, 1},
                      EntryDepthCase{"sixteen_entry_4", true, false, 16, 4, 4},
                      EntryDepthCase{"few_entry_8", true, false, 100, 8, 8},
                      EntryDepthCase{"rgb_entry_24", false, false, 300, 24, 24},
                      EntryDepthCase{"binary_alpha_entry_24", true, false, 300, 24, 24},
                      EntryDepthCase{"alpha_entry_32", true, true, 300, 32, 32},
                      // The entry alone does not bring a picture down.
                      EntryDepthCase{"soft_alpha_entry_8", true, true, 100, 8, 32},
                      EntryDepthCase{"many_colours_entry_8", false, false, 300, 8, 24},
                      EntryDepthCase{"many_colours_entry_4", true, false, 100, 4, 32},
                      EntryDepthCase{"soft_alpha_entry_1", true, true, 2, 1, 32}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(DecodePNG, ComplementedDepthsKeepThirtyTwoBitsWithTheMaskBelow96) {
  Rgba pic;
  pic.w = 4;
  pic.h = 1;
  pic.px = {10, 20, 30, 95, 10, 20, 30, 96, 40, 50, 60, 0, 40, 50, 60, 255};
  const auto stream = EncodeRgbaPng(pic);
  for (int16_t bitCount : {int16_t(~1), int16_t(~4), int16_t(~8)}) {
    auto im = Unparsed(stream, bitCount);
    DecodePNG(*im, *im);
    EXPECT_EQ(im->GetBitsPerPixel(), 32) << bitCount;
    EXPECT_EQ(im->Head().wBitCount, 32);
    EXPECT_EQ(im->BytesInRes(), 40u + 16u + 4u);
    TBitmap mask;
    ExtractBitmaps(*im, nullptr, nullptr, 0, &mask);
    EXPECT_EQ(mask.Canvas()->Pixels(0, 0), clWhite);
    EXPECT_EQ(mask.Canvas()->Pixels(1, 0), clBlack);
    EXPECT_EQ(mask.Canvas()->Pixels(2, 0), clWhite);
    EXPECT_EQ(mask.Canvas()->Pixels(3, 0), clBlack);
  }
  // Under bit count 32 the mask is the PNG picture's own at threshold 80.
  TPNGImage png;
  TCustomMemoryStream s(stream.data(), int64_t(stream.size()));
  png.LoadFromStream(s);
  TBitmap colour, pngMask;
  png.ExtractBitmapAndMask(&colour, &pngMask, 80);
  auto im = Unparsed(stream, 32);
  TBitmap mask;
  ExtractBitmaps(*im, nullptr, nullptr, 0, &mask);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(mask.Canvas()->Pixels(x, 0), pngMask.Canvas()->Pixels(x, 0)) << x;
}

// PNG streams no icon image should be decoded from.
struct HostilePngCase {
  const char* name;
  std::vector<uint8_t> bits;
};

std::ostream& operator<<(std::ostream& os, const HostilePngCase& c) { return os << c.name; }

std::vector<uint8_t> WithIdat(std::vector<uint8_t> png, size_t idatBytes, uint8_t fill) {
  // Behind the IHDR chunk (8 + 25 bytes), before IEND.
  std::vector<uint8_t> chunk = {uint8_t(idatBytes >> 24), uint8_t(idatBytes >> 16), uint8_t(idatBytes >> 8),
                                uint8_t(idatBytes), 'I', 'D', 'A', 'T'};
  chunk.insert(chunk.end(), idatBytes, fill);
  chunk.insert(chunk.end(), 4, 0);
  png.insert(png.begin() + 33, chunk.begin(), chunk.end());
  return png;
}

std::vector<HostilePngCase> HostilePngs() {
  IconFixture f{"real", 16, 16, 32, kSixteen, true, true};
  auto real = EncodeRgbaPng(f.Pixels());
  auto cut = real;
  cut.resize(cut.size() / 2);
  auto badCrc = real;
  badCrc[30] ^= 0xFF;  // inside the IHDR CRC
  return {
      {"enormous_in_a_few_bytes", WithIdat(PngHeaderOnly(5999, 5999), 40, 0)},
      {"wider_than_any_image", WithIdat(PngHeaderOnly(6000, 16), 100000, 0)},
      {"taller_than_32_bits", WithIdat(PngHeaderOnly(16, 0xFFFFFFFF), 100, 0)},
      {"zero_width", WithIdat(PngHeaderOnly(0, 16), 100, 0)},
      {"no_image_data", PngHeaderOnly(16, 16)},
      {"bad_colour_type", WithIdat(PngHeaderOnly(16, 16, 8, 5), 2000, 0)},
      {"garbage_image_data", WithIdat(PngHeaderOnly(16, 16), 2000, 0xA5)},
      {"cut_in_half", cut},
      {"bad_header_crc", badCrc},
  };
}

class HostilePng : public ::testing::TestWithParam<HostilePngCase> {};

TEST_P(HostilePng, FailsCleanlyWherePixelsAreWanted) {
  const HostilePngCase& c = GetParam();
  auto im = Unparsed(c.bits, 32);
  TFileIconImage target;
  EXPECT_THROW(DecodePNG(*im, target), Exception);
  TBitmap raw, mask, composite;
  EXPECT_THROW(ExtractBitmaps(*im, &composite, &raw, clWhite, &mask), Exception);
  TBitmap canvas;
  canvas.SetSize(8, 8);
  EXPECT_THROW(DrawSubIcon(canvas.Canvas(), 0, 0, *im, clWhite), Exception);
  // The drawing layer is not asked for a handle of it either.
  EXPECT_EQ(im->GetHandle(), nullptr);
  // Nothing needs the pixels to keep or copy the stream.
  EncodePNG(*im, target);
  EXPECT_EQ(target.Bits(), c.bits);
}

INSTANTIATE_TEST_SUITE_P(Cases, HostilePng, ::testing::ValuesIn(HostilePngs()),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Bits cut short inside the AND mask, or before it: the colour part is
// whole, the missing mask rows read as opaque, and nothing is read past the
// bits however little of the mask is there.
TEST(TruncatedBits, TheColourPartStaysWholeAndMissingMaskRowsAreOpaque) {
  IconFixture f{"cut", 16, 16, 8, ManyColours(50), true, false};
  const auto whole = f.Dib();
  const size_t maskBytes = RowBytes(16, 1) * 16;
  for (size_t cut : {size_t(0), size_t(4), maskBytes / 2, maskBytes - 1}) {
    auto bits = whole;
    bits.resize(whole.size() - maskBytes + cut);
    auto im = Unparsed(bits, 8);
    Rgba want = f.Pixels();
    // Mask rows are stored bottom-up: the bytes kept are the bottom rows.
    const size_t rowsKept = cut / RowBytes(16, 1);
    for (int y = 0; y < 16 - int(rowsKept); ++y)
      for (int x = 0; x < 16; ++x) want.At(x, y)[3] = 255;
    const Rgba got = PixelsOf(*im);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        if (size_t(16 - 1 - y) == rowsKept && cut % RowBytes(16, 1)) continue;  // the row cut in two
        const uint8_t* a = want.At(x, y);
        const uint8_t* b = got.At(x, y);
        ASSERT_EQ(a[3], b[3]) << "cut " << cut << " at " << x << "," << y;
        if (b[3]) {
          ASSERT_EQ(std::vector<uint8_t>(a, a + 3), std::vector<uint8_t>(b, b + 3)) << x << "," << y;
        }
      }
  }
  // Bits that only begin like a PNG are no PNG: the signature has 8 bytes.
  auto fake = whole;
  const uint8_t four[4] = {0x89, 'P', 'N', 'G'};
  std::copy(four, four + 4, fake.begin());
  auto im = Unparsed(fake, 8);
  EXPECT_FALSE(im->HasPNGBits());
  TBitmap raw;
  try {
    ExtractBitmaps(*im, nullptr, &raw, 0, nullptr);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid image");
  }
}

// The screen colour under each pixel after drawing on a background.
std::vector<uint32_t> Drawn(const std::function<void(TCanvas*)>& draw, int w, int h, TColor background) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(w, h);
  b.Canvas()->Brush()->SetColor(background);
  b.Canvas()->FillRect(Rect(0, 0, w, h));
  draw(b.Canvas());
  std::vector<uint32_t> out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out.push_back(uint32_t(b.Canvas()->Pixels(x, y)));
  return out;
}

struct DrawCase {
  IconFixture fixture;
};

std::ostream& operator<<(std::ostream& os, const DrawCase& c) { return os << c.fixture.name; }

class DrawCompressed : public ::testing::TestWithParam<DrawCase> {};

// A pixel shows its colour, or the background where it is transparent, or
// both mixed by its alpha; DrawIconEx of the DIB, DrawSubIcon of the DIB and
// of its PNG, and DrawIconEx of the PNG all show the same.
TEST_P(DrawCompressed, LooksLikeDrawIconExOfTheDib) {
  const IconFixture& f = GetParam().fixture;
  const TColor background = 0x336699;
  const Rgba px = f.Pixels();
  std::vector<uint32_t> want;
  for (int y = 0; y < f.h; ++y)
    for (int x = 0; x < f.w; ++x) {
      const uint8_t* p = px.At(x, y);
      uint32_t c = 0;
      for (int k = 0; k < 3; ++k) {
        const int bg = int((background >> (8 * k)) & 0xFF);
        c |= uint32_t((p[k] * p[3] + bg * (255 - p[3]) + 127) / 255) << (8 * k);
      }
      want.push_back(c);
    }
  auto dib = FromBits(f.Dib());
  auto png = FromBits(f.Dib());
  EncodePNG(*png, *png);
  const std::pair<const char*, std::function<void(TCanvas*)>> drawers[] = {
      {"DrawIconEx of the DIB", [&](TCanvas* c) { dib->Draw(c, 0, 0); }},
      {"DrawSubIcon of the DIB", [&](TCanvas* c) { DrawSubIcon(c, 0, 0, *dib, kNoBackground); }},
      {"DrawSubIcon of the PNG", [&](TCanvas* c) { DrawSubIcon(c, 0, 0, *png, kNoBackground); }},
      {"DrawIconEx of the PNG", [&](TCanvas* c) { png->Draw(c, 0, 0); }},
  };
  for (const auto& [what, draw] : drawers) {
    const auto got = Drawn(draw, f.w, f.h, background);
    for (size_t i = 0; i < want.size(); ++i) {
      int worst = 0;
      for (int k = 0; k < 3; ++k)
        worst = std::max(worst, std::abs(int((got[i] >> (8 * k)) & 0xFF) - int((want[i] >> (8 * k)) & 0xFF)));
      // Blending may round either way.
      ASSERT_LE(worst, f.softAlpha ? 1 : 0) << what << " pixel " << i % size_t(f.w) << "," << i / size_t(f.w);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, DrawCompressed,
                         ::testing::Values(DrawCase{{"mono", 16, 8, 1, kMono, true, false}},
                                           DrawCase{{"four", 16, 8, 4, kSixteen, true, false}},
                                           DrawCase{{"eight", 16, 8, 8, ManyColours(256), true, false}},
                                           DrawCase{{"true", 16, 8, 24, ManyColours(300), true, false}},
                                           DrawCase{{"alpha", 16, 8, 32, ManyColours(300), true, true}}),
                         [](const auto& testInfo) { return std::string(testInfo.param.fixture.name); });

TEST(DrawCompressed, BestImageOfAnIconWithOnlyPngImages) {
  IconFixture f{"alpha", 40, 40, 32, kSixteen, true, false};
  TAdvancedIcon icon;
  icon.Images().Add(Unparsed(EncodeRgbaPng(f.Pixels()), 32));
  TPicture picture;
  DrawBestIconImage(&picture, &icon, 40, 40, 32, 0x0000FF);
  ASSERT_EQ(picture.Width(), 40);
  EXPECT_EQ(picture.Bitmap()->Canvas()->Pixels(0, 0), TColor(0x0000FF));  // transparent
  const uint32_t c = kSixteen[f.Index(1, 0)];
  EXPECT_EQ(picture.Bitmap()->Canvas()->Pixels(1, 0), TColor(((c & 0xFF) << 16) | (c & 0xFF00) | (c >> 16)));
}

TEST(DrawCompressed, IconPicturesDrawTheirPngImagesThroughTheMask) {
  IconFixture f{"binary_alpha", 24, 24, 32, ManyColours(300), true, false};
  Entry e{EncodeRgbaPng(f.Pixels())};
  e.w = e.h = 24;
  const auto file = IcoFile({e});
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  TExIcon icon;
  icon.LoadFromStream(s);
  const TColor background = 0x336699;
  const auto got = Drawn([&](TCanvas* c) { icon.Draw(c, Rect(0, 0, 24, 24)); }, 24, 24, background);
  const Rgba px = f.Pixels();
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) {
      const uint8_t* p = px.At(x, y);
      const uint32_t want = p[3] ? uint32_t(p[0] | (p[1] << 8) | (p[2] << 16)) : uint32_t(background);
      ASSERT_EQ(got[size_t(y) * 24 + size_t(x)], want) << x << "," << y;
    }
  // On the clipboard it is the DIB it decodes to, and looks the same.
  WORD format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  icon.SaveToClipboardFormat(format, data, palette);
  EXPECT_EQ(format, CF_DIB);
  EXPECT_EQ(GlobalSize(data), size_t(40 + 24 * 24 * 4 + 4 * 24));
  TExIcon back;
  back.LoadFromClipboardFormat(CF_DIB, data, nullptr);
  GlobalFree(data);
  EXPECT_EQ(Drawn([&](TCanvas* c) { back.Draw(c, Rect(0, 0, 24, 24)); }, 24, 24, background), got);
}

// ---------------------------------------------------------------- storing

TEST(StoreAsPng, ImageRecordsHoldThePngAndTheImageKeepsItsDib) {
  IconFixture f{"eight", 12, 12, 8, ManyColours(40), true, false};
  auto im = FromBits(f.Dib());
  im->SetStoreAsPNG(true);
  TMemoryStream record;
  im->SaveToStream(record);
  EXPECT_FALSE(im->HasPNGBits());
  EXPECT_EQ(im->Bits(), f.Dib());
  const std::vector<uint8_t> bytes(record.Memory(), record.Memory() + record.Size());
  ASSERT_GT(bytes.size(), 13u + 8u);
  EXPECT_EQ(bytes[0], 12);
  EXPECT_EQ(Get16(bytes, 1 + 6), 8);  // the entry keeps the DIB's bit count
  EXPECT_EQ(Get32(bytes, 1 + 8), bytes.size() - 13);
  EXPECT_TRUE(HasPngSignature(bytes.data() + 13, bytes.size() - 13));
  record.SetPosition(0);
  TSubIcon back;
  back.LoadFromStream(record);
  EXPECT_TRUE(back.HasPNGBits());
  EXPECT_TRUE(back.StoreAsPNG());
  EXPECT_EQ(FirstDifference(f.Pixels(), PixelsOf(back), false), "");

  // A flagged image without bits writes the empty record.
  TSubIcon empty;
  empty.SetStoreAsPNG(true);
  TMemoryStream none;
  empty.SaveToStream(none);
  EXPECT_EQ(none.Size(), 1);
}

TEST(StoreAsPng, IcoFilesHoldFlaggedImagesCompressed) {
  IconFixture big{"alpha", 48, 48, 32, ManyColours(300), true, true};
  IconFixture small{"four", 16, 16, 4, kSixteen, true, false};
  TAdvancedIcon icon;
  icon.Images().Add(FromBits(big.Dib()));
  icon.Images().Add(FromBits(small.Dib()));
  icon.Images()[0]->SetStoreAsPNG(true);
  TMemoryStream s;
  icon.SaveToStream(s);
  EXPECT_EQ(icon.Images()[0]->Bits(), big.Dib());  // the icon in memory keeps its DIB
  const std::vector<uint8_t> f(s.Memory(), s.Memory() + s.Size());
  const uint32_t size0 = Get32(f, 6 + 8), at0 = Get32(f, 6 + 12), at1 = Get32(f, 22 + 12);
  EXPECT_EQ(at0, 38u);
  EXPECT_EQ(at1, at0 + size0);
  EXPECT_TRUE(HasPngSignature(f.data() + at0, size0));
  EXPECT_EQ(Get16(f, 6 + 4), 1);
  EXPECT_EQ(Get16(f, 6 + 6), 32);
  EXPECT_EQ(f[6], 48);
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + at1, f.end()), small.Dib());

  TAdvancedIcon back;
  s.SetPosition(0);
  ASSERT_TRUE(back.LoadFromStream(s));
  ASSERT_EQ(back.Count(), 2);
  EXPECT_TRUE(back.Images()[0]->HasPNGBits());
  EXPECT_TRUE(back.Images()[0]->StoreAsPNG());
  EXPECT_EQ(FirstDifference(big.Pixels(), PixelsOf(*back.Images()[0]), true), "");
  EXPECT_EQ(FirstDifference(small.Pixels(), PixelsOf(*back.Images()[1]), false), "");

  // Cursors are written as held.
  TMemoryStream c;
  icon.SaveCursorToStream(c);
  EXPECT_FALSE(HasPngSignature(c.Memory() + 38, 8 + 1));
}

TEST(StoreAsPng, AFlaggedImageWithoutBitsIsRefusedBeforeAnythingIsWritten) {
  TAdvancedIcon icon;
  icon.Images().Add(FromBits(DibImage(16, 16, 8)));
  auto empty = std::make_unique<TFileIconImage>();
  empty->SetStoreAsPNG(true);
  icon.Images().Add(std::move(empty));
  icon.Images()[0]->SetStoreAsPNG(true);
  TMemoryStream s;
  EXPECT_THROW(icon.SaveToStream(s), Exception);
  EXPECT_EQ(s.Size(), 0);
}

TEST(StoreAsPng, ReplacingAFlaggedImageCompressesTheNewOne) {
  TAdvancedIcon icon;
  icon.Images().Add(FromBits(DibImage(16, 16, 8)));
  icon.Images().Add(FromBits(DibImage(32, 32, 8)));
  icon.Images()[1]->SetStoreAsPNG(true);
  IconFixture f{"alpha", 32, 32, 32, ManyColours(300), true, true};
  TBitmap b;
  b.SetPixelFormat(pf32bit);
  b.SetSize(32, 32);
  const Rgba px = f.Pixels();
  for (int y = 0; y < 32; ++y) {
    auto* row = static_cast<uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < 32; ++x) {
      const uint8_t* p = px.At(x, y);
      row[x * 4] = p[2];
      row[x * 4 + 1] = p[1];
      row[x * 4 + 2] = p[0];
      row[x * 4 + 3] = p[3];
    }
  }
  icon.Images().ReplaceWithBitmap(&b, nullptr, 1, 0);
  ASSERT_EQ(icon.Count(), 2);
  TSubIcon* im = icon.Images()[1];
  EXPECT_TRUE(im->HasPNGBits());
  EXPECT_TRUE(im->StoreAsPNG());
  EXPECT_EQ(im->Head().wBitCount, 32);
  EXPECT_EQ(FirstDifference(px, PixelsOf(*im), true), "");
  EXPECT_FALSE(icon.Images()[0]->HasPNGBits());
}


// RGBA images named 32 bits and RGB images named 24 decode straight into the
// bitmaps; what they give must be what their DIB form (DecodePNG) gives.
TEST(ExtractBitmaps, PngImagesDecodedStraightMatchTheirDibForm) {
  const IconFixture fixtures[] = {
      {"soft", 37, 21, 32, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080}, true, true},
      {"masked", 48, 48, 32, {0x000000, 0x123456, 0xFEDCBA, 0xFFFFFF}, true, false},
  };
  for (const IconFixture& f : fixtures)
    for (bool withAlpha : {true, false}) {
      const auto image = FromBits(EncodeRgbaPng(f.Pixels(), withAlpha));
      ASSERT_EQ(image->Head().wBitCount, withAlpha ? 32 : 24);
      TSubIcon decoded;
      DecodePNG(*image, decoded);
      for (TColor background : {kNoBackground, TColor(0x00336699)}) {
        TBitmap raw, composite, mask, raw2, composite2, mask2;
        // Bitmaps the caller reuses keep nothing of what they held.
        raw.SetPixelFormat(pf32bit);
        raw.SetSize(f.w, f.h);
        Fill32(&raw, 0xFF10E020);
        ExtractBitmaps(*image, &composite, &raw, background, &mask);
        ExtractBitmaps(decoded, &composite2, &raw2, background, &mask2);
        const std::pair<TBitmap*, TBitmap*> pairs[] = {{&raw, &raw2}, {&composite, &composite2}, {&mask, &mask2}};
        for (const auto& [a, b] : pairs) {
          ASSERT_EQ(a->PixelFormat(), b->PixelFormat()) << f.name;
          ASSERT_EQ(a->GetWidth(), b->GetWidth());
          ASSERT_EQ(a->GetHeight(), b->GetHeight());
          const size_t rowBytes = size_t(DibRowBytes(a->GetWidth(), a->View().bitCount));
          for (int y = 0; y < a->GetHeight(); ++y)
            ASSERT_EQ(std::memcmp(a->ScanLine(y), b->ScanLine(y), rowBytes), 0) << f.name << " row " << y;
        }
        TBitmap drawn, drawn2;
        for (TBitmap* d : {&drawn, &drawn2}) {
          d->SetPixelFormat(pf24bit);
          d->SetSize(f.w, f.h);
          d->Canvas()->Brush()->SetColor(TColor(0x00204060));
          d->Canvas()->FillRect(Rect(0, 0, f.w, f.h));
        }
        DrawSubIcon(drawn.Canvas(), 0, 0, *image, background);
        DrawSubIcon(drawn2.Canvas(), 0, 0, decoded, background);
        for (int y = 0; y < f.h; ++y)
          ASSERT_EQ(std::memcmp(drawn.ScanLine(y), drawn2.ScanLine(y), size_t(f.w) * 3), 0) << f.name << " drawn";
      }
    }
}

}  // namespace
