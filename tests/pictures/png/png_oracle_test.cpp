// Every colour type and bit depth, interlaced or not, with and without tRNS,
// gAMA and text chunks, as libpng writes them: our decoder must give libpng's
// samples, and what we write back must pass pngcheck and read back the same
// through libpng.
#include <gtest/gtest.h>

#include "png_test_util.h"
#include "test_support.h"

using namespace pngtest;

namespace {

enum TExtras { exNone, exTrns, exGammaText };

struct TOracleCase {
  int colorType, bitDepth;
  bool interlaced;
  TExtras extras;
  int width, height;
};
// How the case reads in the test list and in a failure.
void PrintTo(const TOracleCase& c, std::ostream* os) { *os << "colour type " << c.colorType << ", " << c.bitDepth << " bits" << (c.interlaced ? ", interlaced" : ""); }

std::vector<TOracleCase> AllCases() {
  const std::pair<int, std::vector<int>> combos[] = {
      {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
  const std::pair<int, int> sizes[] = {{3, 3}, {37, 19}};
  std::vector<TOracleCase> out;
  for (const auto& [ct, depths] : combos)
    for (int d : depths)
      for (bool il : {false, true})
        for (TExtras ex : {exNone, exTrns, exGammaText})
          for (auto [w, h] : sizes) out.push_back({ct, d, il, ex, w, h});
  return out;
}

std::string CaseName(const testing::TestParamInfo<TOracleCase>& info) {
  const TOracleCase& c = info.param;
  static const char* extras[] = {"plain", "trns", "gammatext"};
  return "ct" + std::to_string(c.colorType) + "_d" + std::to_string(c.bitDepth) + (c.interlaced ? "_adam7" : "_seq") +
         "_" + extras[c.extras] + "_" + std::to_string(c.width) + "x" + std::to_string(c.height);
}

Bytes MakeCaseFile(const TOracleCase& c, uint32_t seed) {
  TLibpngImage img;
  img.width = c.width;
  img.height = c.height;
  img.colorType = c.colorType;
  img.bitDepth = c.bitDepth;
  img.interlaced = c.interlaced;
  img.withTrns = c.extras == exTrns;
  img.withGamma = img.withText = c.extras == exGammaText;
  FillRandomRows(img, seed);
  return WriteWithLibpng(img);
}

// A truecolour or other picture of random samples as libpng writes it.
Bytes LibpngFile(int colorType, int bitDepth, int width, int height, uint32_t seed, int level = 6,
                 bool interlaced = false, bool withTrns = false) {
  TLibpngImage img;
  img.width = width;
  img.height = height;
  img.colorType = colorType;
  img.bitDepth = bitDepth;
  img.level = level;
  img.interlaced = interlaced;
  img.withTrns = withTrns;
  FillRandomRows(img, seed);
  return WriteWithLibpng(img);
}

class PngOracle : public testing::TestWithParam<TOracleCase> {};

TEST_P(PngOracle, DecodesToLibpngSamples) {
  const Bytes file = MakeCaseFile(GetParam(), 1234);
  const TSamples expected = ReadWithLibpng(file);
  ASSERT_TRUE(expected.ok) << expected.error;
  TPNGImage png;
  LoadBytes(png, file);
  const TSamples actual = SamplesOf(png);
  ASSERT_TRUE(actual.ok);
  EXPECT_EQ(actual.width, expected.width);
  EXPECT_EQ(actual.channels, expected.channels);
  EXPECT_EQ(actual.data, expected.data);
}

TEST_P(PngOracle, WritesWhatLibpngAndPngcheckAccept) {
  const TOracleCase& c = GetParam();
  const Bytes file = MakeCaseFile(c, 99);
  const TSamples original = ReadWithLibpng(file);
  ASSERT_TRUE(original.ok) << original.error;
  TPNGImage png;
  LoadBytes(png, file);

  // Once as loaded, once with every filter allowed and the other interlacing.
  for (int variant = 0; variant < 2; variant++) {
    if (variant == 1) {
      png.SetRowFilters(0x1F);
      png.SetInterlaceMode(c.interlaced ? 0 : 1);
    }
    const Bytes saved = SaveBytes(png);
    const TSamples reread = ReadWithLibpng(saved);
    ASSERT_TRUE(reread.ok) << reread.error;
    Bytes expected = original.data;
    // 2-bit grey is held as 4-bit levels g x 5 and written at 4 bits.
    if (c.colorType == 0 && c.bitDepth == 2)
      for (auto& v : expected) v = uint8_t(v * 5);
    EXPECT_EQ(reread.data, expected) << "variant " << variant;
  }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, PngOracle, testing::ValuesIn(AllCases()), CaseName);

// pngcheck runs once over everything we write for the table above.
TEST(PngcheckOracle, EveryWrittenFormatPasses) {
  if (!qvtest::HaveProgram("pngcheck")) GTEST_SKIP() << "pngcheck is not installed";
  qvtest::TempDir dir;
  int n = 0;
  for (const TOracleCase& c : AllCases()) {
    TPNGImage png;
    LoadBytes(png, MakeCaseFile(c, 5));
    qvtest::WriteFileBytes(dir.File("f" + std::to_string(n++) + ".png"), SaveBytes(png));
    png.SetRowFilters(0x1F);
    png.SetInterlaceMode(c.interlaced ? 0 : 1);
    qvtest::WriteFileBytes(dir.File("f" + std::to_string(n++) + ".png"), SaveBytes(png));
  }
  std::string out;
  EXPECT_EQ(qvtest::RunCommand("pngcheck -q " + dir.Path().string() + "/*.png 2>&1", &out), 0) << out;
}

// Larger pictures through every filter libpng may pick, in many IDAT chunks.
TEST(PngOracleLarge, PhotoSizedImagesMatchLibpng) {
  for (int ct : {2, 6}) {
    TLibpngImage img;
    img.width = 301;
    img.height = 257;
    img.colorType = ct;
    img.bitDepth = 8;
    FillRandomRows(img, 7);
    const Bytes file = WriteWithLibpng(img);
    TPNGImage png;
    LoadBytes(png, file);
    EXPECT_EQ(SamplesOf(png).data, ReadWithLibpng(file).data);
    const Bytes saved = SaveBytes(png);
    EXPECT_EQ(ReadWithLibpng(saved).data, ReadWithLibpng(file).data);
  }
}

}  // namespace

// Pictures of several megabytes are placed into the DIB on other threads while
// the next rows inflate: every filter, both alpha layouts and 16-bit samples
// (8-byte pixels) must still give libpng's samples, and a picture whose data
// breaks off or goes bad part way fails as a small one does, without hanging.
TEST(PngOracleLarge, MultiMegabytePicturesMatchLibpng) {
  struct TCase {
    int colorType, bitDepth, width, height;
  };
  for (const TCase& c : {TCase{2, 8, 1531, 1024}, TCase{6, 8, 1201, 1100}, TCase{6, 16, 700, 800}}) {
    SCOPED_TRACE(std::to_string(c.colorType) + "/" + std::to_string(c.bitDepth));
    const Bytes file = LibpngFile(c.colorType, c.bitDepth, c.width, c.height, 11, 1);
    TPNGImage png;
    LoadBytes(png, file);
    EXPECT_EQ(SamplesOf(png).data, ReadWithLibpng(file).data);
  }
}

TEST(PngOracleLarge, MultiMegabytePictureCutShortOrDamagedFails) {
  const Bytes file = LibpngFile(2, 8, 1400, 1000, 3, 1);
  TPNGImage png;
  EXPECT_THROW(LoadBytes(png, Bytes(file.begin(), file.begin() + ptrdiff_t(file.size() * 2 / 3))), EPNGMissingMultipleIDAT);
  Bytes damaged = file;
  damaged[file.size() * 2 / 3] ^= 0x40;  // inside an IDAT chunk: its CRC fails, or the data before it
  EXPECT_THROW(LoadBytes(png, damaged), Exception);
}

// A zlib stream that ends after half the rows leaves the rest zero, on the
// threaded path as on the plain one.
TEST(PngOracleLarge, MultiMegabyteDataEndingEarlyLeavesZeroRows) {
  const int width = 1500, height = 1000;
  const size_t stride = size_t(width) * 3 + 1;
  Bytes raw(stride * size_t(height / 2));
  for (size_t i = 0; i < raw.size(); i++) raw[i] = uint8_t(i % stride == 0 ? 1 : (i * 2654435761u) >> 13);
  TPNGImage png;
  LoadBytes(png, SimplePng(width, height, 8, 2, raw));
  const Bytes s = SamplesOf(png).data;
  ASSERT_EQ(s.size(), size_t(width) * 3 * height);
  const size_t half = size_t(width) * 3 * (height / 2);
  EXPECT_EQ(std::count(s.begin() + ptrdiff_t(half), s.end(), 0), ptrdiff_t(s.size() - half));
  // The first rows are Sub-filtered bytes summed along each row.
  uint8_t left[3] = {};
  bool same = true;
  for (int x = 0; x < width * 3; x++) {
    const uint8_t v = uint8_t(raw[size_t(1 + x)] + (x >= 3 ? left[x % 3] : 0));
    left[x % 3] = v;
    same = same && s[size_t(x)] == v;
  }
  EXPECT_TRUE(same);
}

// Every row filter on rows of 1 to 40 pixels of 3, 4, 6 and 8 bytes: the wide
// loops work in blocks and leave a tail, and each width ends a block
// differently.
TEST(PngOracleRows, EveryFilterAtEveryShortWidthMatchesLibpng) {
  struct TKind {
    int colorType, bitDepth, pixelBytes;
  };
  for (const TKind& k : {TKind{2, 8, 3}, TKind{6, 8, 4}, TKind{2, 16, 6}, TKind{6, 16, 8}})
    for (int width = 1; width <= 40; width++) {
      SCOPED_TRACE(std::to_string(k.pixelBytes) + " bytes, width " + std::to_string(width));
      const int height = 5;
      const size_t stride = size_t(width) * size_t(k.pixelBytes) + 1;
      Bytes raw(stride * height);
      uint32_t seed = uint32_t(width) * 77u + uint32_t(k.pixelBytes);
      for (size_t i = 0; i < raw.size(); i++) {
        seed = seed * 1664525u + 1013904223u;
        raw[i] = i % stride == 0 ? uint8_t((i / stride) % 5) : uint8_t(seed >> 24);
      }
      const Bytes file = SimplePng(uint32_t(width), height, uint8_t(k.bitDepth), uint8_t(k.colorType), raw);
      TPNGImage png;
      LoadBytes(png, file);
      EXPECT_EQ(SamplesOf(png).data, ReadWithLibpng(file).data);
    }
}

// ------------------------------------------------------------ straight into 32-bit rows

// What the caller's rows must hold: libpng's samples as blue, green, red,
// alpha (255 without an alpha channel).
Bytes ExpectedBgra(const TSamples& s) {
  Bytes out;
  for (size_t i = 0; i + size_t(s.channels) <= s.data.size(); i += size_t(s.channels)) {
    out.insert(out.end(), {s.data[i + 2], s.data[i + 1], s.data[i]});
    out.push_back(s.channels == 4 ? s.data[i + 3] : 255);
  }
  return out;
}

// Decodes into rows of a buffer with a guard band around them and room past
// each row, bottom-up when asked; returns the pixels top row first, or
// nothing when the decoder declined. Guard and padding bytes must survive.
Bytes DecodeIntoRows(const Bytes& file, bool bottomUp) {
  constexpr uint8_t kGuard = 0x5A;
  Bytes buffer;
  int width = 0, height = 0;
  size_t stride = 0;
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  const bool done = DecodePngToBgra(s, [&](int w, int h) {
    width = w, height = h;
    stride = size_t(w) * 4 + 12;
    buffer.assign(stride * size_t(h) + 64, kGuard);
    uint8_t* first = buffer.data() + 32;
    return bottomUp ? TBgraRows{first + stride * size_t(h - 1), -ptrdiff_t(stride)}
                    : TBgraRows{first, ptrdiff_t(stride)};
  });
  if (!done) return {};
  Bytes pixels;
  for (int y = 0; y < height; y++) {
    const size_t row = 32 + stride * size_t(bottomUp ? height - 1 - y : y);
    pixels.insert(pixels.end(), buffer.begin() + ptrdiff_t(row), buffer.begin() + ptrdiff_t(row + size_t(width) * 4));
    EXPECT_EQ(std::count(buffer.begin() + ptrdiff_t(row + size_t(width) * 4), buffer.begin() + ptrdiff_t(row + stride),
                         kGuard),
              12);
  }
  EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + 32, kGuard), 32);
  EXPECT_EQ(std::count(buffer.end() - 32, buffer.end(), kGuard), 32);
  return pixels;
}

TEST(PngBgraOracle, TruecolourPicturesLandInTheCallersRows) {
  struct TCase {
    int colorType, bitDepth;
    bool interlaced;
    int width, height;
  };
  const TCase cases[] = {{6, 8, false, 37, 19}, {6, 8, true, 37, 19}, {2, 8, false, 41, 7},  {2, 8, true, 3, 3},
                         {6, 16, false, 9, 5},  {2, 16, true, 11, 13}, {6, 8, false, 1, 1}, {6, 8, false, 1200, 1000}};
  for (const TCase& c : cases)
    for (bool bottomUp : {false, true}) {
      SCOPED_TRACE(std::to_string(c.colorType) + "/" + std::to_string(c.bitDepth) + (c.interlaced ? " adam7 " : " ") +
                   std::to_string(c.width) + "x" + std::to_string(c.height) + (bottomUp ? " bottom-up" : ""));
      const Bytes file = LibpngFile(c.colorType, c.bitDepth, c.width, c.height, 21, 1, c.interlaced);
      EXPECT_EQ(DecodeIntoRows(file, bottomUp), ExpectedBgra(ReadWithLibpng(file)));
    }
}

TEST(PngBgraOracle, OtherKindsAreLeftToThePicture) {
  struct TCase {
    int colorType, bitDepth;
    bool trns;
  };
  for (const TCase& c : {TCase{3, 8, false}, TCase{0, 8, false}, TCase{4, 8, false}, TCase{0, 16, false},
                         TCase{2, 8, true}}) {
    SCOPED_TRACE(std::to_string(c.colorType) + "/" + std::to_string(c.bitDepth) + (c.trns ? " tRNS" : ""));
    const Bytes file = LibpngFile(c.colorType, c.bitDepth, 7, 5, 4, 6, false, c.trns);
    TCustomMemoryStream s(file.data(), int64_t(file.size()));
    s.SetPosition(0);
    int asked = 0;
    EXPECT_FALSE(DecodePngToBgra(s, [&](int, int) {
      ++asked;
      return TBgraRows{};
    }));
    EXPECT_EQ(asked, 0);
    // The stream stands where it stood, so the picture reads it from there.
    EXPECT_EQ(s.Position(), 0);
    TPNGImage png;
    png.LoadFromStream(s);
    EXPECT_EQ(png.GetWidth(), 7);
  }
}

TEST(PngBgraOracle, BadStreamsAndRefusedRowsRaise) {
  const Bytes file = LibpngFile(6, 8, 16, 16, 8);
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  EXPECT_THROW(DecodePngToBgra(s, [](int, int) { return TBgraRows{}; }), EPNGOutMemory);

  Bytes broken = Concat({Signature(), Ihdr(4, 2, 8, 6), Chunk("IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 1}), Chunk("IEND", {})});
  uint8_t rows[4 * 4 * 2];
  TCustomMemoryStream b(broken.data(), int64_t(broken.size()));
  EXPECT_THROW(DecodePngToBgra(b, [&](int, int) { return TBgraRows{rows, 16}; }), EPNGZLIBError);

  const Bytes cut(file.begin(), file.begin() + ptrdiff_t(file.size() / 2));
  EXPECT_THROW(DecodeIntoRows(cut, false), EPNGMissingMultipleIDAT);
}
