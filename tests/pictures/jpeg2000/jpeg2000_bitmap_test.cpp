// The JPEG 2000 picture on code streams made through OpenJPEG's own encoder:
// component placement, scaling of every precision, colour spaces, the size
// read from the stream, saving and the registry.
#include <gtest/gtest.h>

#include <openjpeg.h>

#include <algorithm>

#include "jpeg2000_test_util.h"
#include "pictures/jpeg2000/jpeg2000_opj.h"
#include "platform/graphics/graphics_picture.h"
#include "test_support.h"

using namespace jp2test;

namespace {

std::vector<int32_t> Ramp(size_t n, int32_t start, int32_t step) {
  std::vector<int32_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = start + static_cast<int32_t>(i) * step;
  return v;
}

TPixels Load(const Bytes& file) {
  TJpeg2000Bitmap picture;
  LoadBytes(picture, file);
  return PixelsOf(picture);
}

TEST(Jpeg2000Bitmap, RgbComponentsGoToRedGreenBlue) {
  TJp2Spec spec{0, 0, 5, 3, OPJ_CLRSPC_SRGB, false, {}};
  spec.comps = {{1, 1, 8, false, Ramp(15, 10, 1)}, {1, 1, 8, false, Ramp(15, 100, 2)}, {1, 1, 8, false, Ramp(15, 200, 3)}};
  TJpeg2000Bitmap picture;
  LoadBytes(picture, MakeJp2(spec));
  EXPECT_EQ(picture.PixelFormat(), pf24bit);
  const TPixels p = PixelsOf(picture);
  ASSERT_EQ(p.width, 5);
  ASSERT_EQ(p.height, 3);
  const uint8_t* px = p.At(4, 2);  // sample 14
  EXPECT_EQ(px[2], 24);
  EXPECT_EQ(px[1], 128);
  EXPECT_EQ(px[0], static_cast<uint8_t>(242));
}

TEST(Jpeg2000Bitmap, GreyIs8BitWithGreyPalette) {
  TJp2Spec spec{0, 0, 4, 2, OPJ_CLRSPC_GRAY, false, {}};
  spec.comps = {{1, 1, 8, false, {0, 1, 2, 3, 128, 129, 254, 255}}};
  TJpeg2000Bitmap picture;
  LoadBytes(picture, MakeJp2(spec));
  EXPECT_EQ(picture.PixelFormat(), pf8bit);
  const TPixels p = PixelsOf(picture);
  EXPECT_EQ(p.At(0, 0)[0], 0);
  EXPECT_EQ(p.At(3, 0)[1], 3);
  EXPECT_EQ(p.At(2, 1)[2], 254);
}

TEST(Jpeg2000Bitmap, GreyWithAlphaKeepsItsAlpha) {
  TJp2Spec spec{0, 0, 3, 1, OPJ_CLRSPC_GRAY, false, {}};
  spec.comps = {{1, 1, 8, false, {10, 20, 30}}, {1, 1, 8, false, {0, 128, 255}}};
  TJpeg2000Bitmap picture;
  LoadBytes(picture, MakeJp2(spec));
  EXPECT_EQ(picture.PixelFormat(), pf32bit);
  const TPixels p = PixelsOf(picture);
  for (int x = 0; x < 3; ++x) {
    const uint8_t grey = static_cast<uint8_t>(10 * (x + 1));
    EXPECT_EQ(p.At(x, 0)[0], grey);
    EXPECT_EQ(p.At(x, 0)[1], grey);
    EXPECT_EQ(p.At(x, 0)[2], grey);
  }
  EXPECT_EQ(p.At(0, 0)[3], 0);
  EXPECT_EQ(p.At(1, 0)[3], 128);
  EXPECT_EQ(p.At(2, 0)[3], 255);
}

TEST(Jpeg2000Bitmap, CmykIsInkNotAlpha) {
  TJp2Spec spec{0, 0, 3, 1, OPJ_CLRSPC_CMYK, false, {}};
  // No ink; full cyan; half black.
  spec.comps = {{1, 1, 8, false, {0, 255, 0}}, {1, 1, 8, false, {0, 0, 0}}, {1, 1, 8, false, {0, 0, 0}},
                {1, 1, 8, false, {0, 0, 128}}};
  TJpeg2000Bitmap picture;
  LoadBytes(picture, MakeJp2(spec));
  EXPECT_EQ(picture.PixelFormat(), pf24bit);
  const TPixels p = PixelsOf(picture);
  EXPECT_EQ(p.At(0, 0)[2], 255);
  EXPECT_EQ(p.At(0, 0)[0], 255);
  EXPECT_EQ(p.At(1, 0)[2], 0);    // cyan takes the red
  EXPECT_EQ(p.At(1, 0)[1], 255);
  EXPECT_EQ(p.At(2, 0)[1], 127);  // 255 * 127 / 255
}

TEST(Jpeg2000Bitmap, FourComponentsAreColourAndAlpha) {
  TJp2Spec spec{0, 0, 1, 1, OPJ_CLRSPC_SRGB, false, {}};
  spec.comps = {{1, 1, 8, false, {1}}, {1, 1, 8, false, {2}}, {1, 1, 8, false, {3}}, {1, 1, 8, false, {4}}};
  TJpeg2000Bitmap picture;
  LoadBytes(picture, MakeJp2(spec));
  EXPECT_EQ(picture.PixelFormat(), pf32bit);
  const TPixels p = PixelsOf(picture);
  const uint8_t* px = p.At(0, 0);
  EXPECT_EQ(px[0], 3);
  EXPECT_EQ(px[1], 2);
  EXPECT_EQ(px[2], 1);
  EXPECT_EQ(px[3], 4);
}

// Samples of every precision are scaled by value x 255 div (2^precision - 1),
// also where that product no longer fits in 32 bits.
struct TScaleCase {
  uint32_t prec;
  bool sgnd;
  int32_t sample;
  uint8_t expected;
};
// How the case reads in the test list and in a failure.
void PrintTo(const TScaleCase& c, std::ostream* os) { *os << c.prec << " bits" << (c.sgnd ? ", signed" : ""); }
class Jpeg2000Scale : public testing::TestWithParam<TScaleCase> {};

TEST_P(Jpeg2000Scale, ScalesToEightBits) {
  const TScaleCase c = GetParam();
  TJp2Spec spec{0, 0, 1, 1, OPJ_CLRSPC_GRAY, false, {}};
  spec.comps = {{1, 1, c.prec, c.sgnd, {c.sample}}};
  const Bytes file = MakeJp2(spec);
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(Load(file).At(0, 0)[0], c.expected);
}

INSTANTIATE_TEST_SUITE_P(Precisions, Jpeg2000Scale,
                         testing::Values(TScaleCase{1, false, 1, 255}, TScaleCase{4, false, 7, 119},
                                         TScaleCase{12, false, 2048, 2048 * 255 / 4095},
                                         TScaleCase{12, false, 4095, 255}, TScaleCase{16, false, 0x8000, 127},
                                         TScaleCase{8, true, -128, 0}, TScaleCase{8, true, 0, 128},
                                         TScaleCase{12, true, 2047, 255},
                                         TScaleCase{24, false, 0xFFFFFF, 255},
                                         TScaleCase{24, false, 0x800000, 127}));

TEST(Jpeg2000Bitmap, SubsampledChromaKeepsFullLumaResolution) {
  // Luma rows differ; chroma is one sample per 2 x 2 block. In sYCC a grey
  // luma ramp with neutral chroma stays a grey ramp row by row.
  TJp2Spec spec{0, 0, 4, 4, OPJ_CLRSPC_SYCC, false, {}};
  spec.comps = {{1, 1, 8, false, Ramp(16, 0, 10)}, {2, 2, 8, false, {128, 128, 128, 128}},
                {2, 2, 8, false, {128, 128, 128, 128}}};
  const TPixels p = Load(MakeJp2(spec));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(p.At(x, y)[2], (y * 4 + x) * 10) << x << "," << y;
      EXPECT_EQ(p.At(x, y)[0], (y * 4 + x) * 10) << x << "," << y;
    }
}

TEST(Jpeg2000Bitmap, SubsampledComponentFollowsTheImageOrigin) {
  // Origin (3, 5) with an alpha step of 2: alpha sample row 0 sits at grid row
  // 6, so picture rows 1 and 2 share it and row 0 comes before any sample.
  TJp2Spec spec{3, 5, 4, 5, OPJ_CLRSPC_GRAY, false, {}};
  const uint32_t aw = CompSide(3, 4, 2), ah = CompSide(5, 5, 2);
  spec.comps = {{1, 1, 8, false, std::vector<int32_t>(20, 50)}, {2, 2, 8, false, Ramp(aw * ah, 10, 10)}};
  ASSERT_EQ(aw, 2u);  // grid columns 4 and 6
  ASSERT_EQ(ah, 2u);  // grid rows 6 and 8
  const TPixels p = Load(MakeJp2(spec));
  const int expected[5][4] = {{10, 10, 10, 20}, {10, 10, 10, 20}, {10, 10, 10, 20}, {30, 30, 30, 40}, {30, 30, 30, 40}};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(p.At(x, y)[3], expected[y][x]) << x << "," << y;
}

TEST(Jpeg2000Bitmap, YccPixelWorkedValues) {
  uint8_t r, g, b;
  YccToRgbPixel(128, 128, 128, r, g, b);
  EXPECT_EQ(r, 128);
  EXPECT_EQ(g, 128);
  EXPECT_EQ(b, 128);
  YccToRgbPixel(100, 200, 50, r, g, b);  // 100 - 109.356, 100 - 24.778 + 55.703, 100 + 127.584
  EXPECT_EQ(r, 0);
  EXPECT_EQ(g, 131);
  EXPECT_EQ(b, 228);
  YccToRgbPixel(255, 255, 255, r, g, b);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(b, 255);
}

TEST(Jpeg2000Bitmap, ReadsDataSizeBytesOrTheRestOfTheStream) {
  TJp2Spec spec{0, 0, 2, 2, OPJ_CLRSPC_GRAY, false, {}};
  spec.comps = {{1, 1, 8, false, {1, 2, 3, 4}}};
  const Bytes file = MakeJp2(spec);
  TMemoryStream stream;
  const uint8_t before[3] = {9, 9, 9};
  stream.WriteBuffer(before, 3);
  stream.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
  stream.WriteBuffer(before, 3);

  TJpeg2000Bitmap sized;
  sized.SetDataSize(static_cast<uint32_t>(file.size()));
  stream.SetPosition(3);
  sized.LoadFromStream(stream);
  EXPECT_EQ(stream.Position(), 3 + static_cast<int64_t>(file.size()));
  EXPECT_EQ(PixelsOf(sized).At(1, 1)[0], 4);

  TJpeg2000Bitmap unsized;
  stream.SetPosition(3);
  unsized.LoadFromStream(stream);
  EXPECT_EQ(stream.Position(), stream.Size());
  EXPECT_EQ(unsized.Width(), 2);
}

TEST(Jpeg2000Bitmap, BareCodeStreamLoads) {
  TJp2Spec spec{0, 0, 3, 2, OPJ_CLRSPC_GRAY, true, {}};
  spec.comps = {{1, 1, 8, false, {1, 2, 3, 4, 5, 6}}};
  const Bytes file = MakeJp2(spec);
  ASSERT_GE(file.size(), 4u);
  ASSERT_EQ(file[1], 0x4F);
  EXPECT_EQ(Load(file).At(2, 1)[0], 6);
}

// A damaged or hostile file raises the decoding error and nothing else.
TEST(Jpeg2000Bitmap, BadFilesRaiseTheDecodingError) {
  TJp2Spec spec{0, 0, 8, 8, OPJ_CLRSPC_SRGB, true, {}};
  spec.comps = {{1, 1, 8, false, Ramp(64, 0, 3)}, {1, 1, 8, false, Ramp(64, 1, 3)}, {1, 1, 8, false, Ramp(64, 2, 3)}};
  const Bytes good = MakeJp2(spec);
  ASSERT_GT(good.size(), 20u);
  auto withSize = [&](uint32_t w, uint32_t h) {
    Bytes b = good;  // Xsiz and Ysiz of the SIZ marker, big-endian
    for (int i = 0; i < 4; ++i) b[8 + i] = static_cast<uint8_t>(w >> (24 - 8 * i)), b[12 + i] = static_cast<uint8_t>(h >> (24 - 8 * i));
    return b;
  };
  const char* header = "OpenJPEG refused the header";
  const char* budgets = "code stream sizes beyond the budgets";
  const struct {
    const char* name;
    Bytes bytes;
    const char* reason;  // the rule that fired, as LastRefusal names it
  } cases[] = {
      {"empty", {}, header},
      {"garbage", Bytes(100, 0x5A), header},
      {"signature only", Bytes{0, 0, 0, 12, 'j', 'P', ' ', ' ', 13, 10, 0x87, 10}, header},
      {"truncated", Bytes(good.begin(), good.begin() + good.size() / 2), "OpenJPEG could not decode the code stream"},
      {"huge", withSize(60000, 60000), budgets},
      {"widest", withSize(0xFFFFFFF0u, 8), budgets},
  };
  TJpeg2000Bitmap held;
  LoadBytes(held, good);
  const TPixels before = PixelsOf(held);
  for (const auto& [name, bytes, reason] : cases) {
    TJpeg2000Bitmap picture;
    try {
      LoadBytes(picture, bytes);
      ADD_FAILURE() << name << " loaded";
    } catch (const EJpeg2000Error& e) {
      EXPECT_STREQ(e.what(), kJpeg2000DecodeFailed) << name;
    }
    EXPECT_EQ(picture.LastRefusal(), reason) << name;
    // A picture that held an image keeps it.
    EXPECT_THROW(LoadBytes(held, bytes), EJpeg2000Error) << name;
    EXPECT_EQ(held.GetWidth(), 8) << name;
    EXPECT_EQ(PixelsOf(held).bgra, before.bgra) << name;
  }
}

// OpenJPEG calls the sink from C: a size no vector can hold is reported
// through the return value, never by an exception, and changes nothing.
TEST(Jpeg2000Sink, CallbacksReportWhatCannotBeHad) {
  jp2::TMemorySink sink;
  uint8_t four[4] = {1, 2, 3, 4};
  ASSERT_EQ(jp2::WriteToMemory(four, 4, &sink), 4u);
  const OPJ_OFF_T huge = OPJ_OFF_T(1) << 62;
  EXPECT_EQ(jp2::SeekInSink(huge, &sink), OPJ_FALSE);
  EXPECT_EQ(jp2::SkipInSink(huge, &sink), -1);
  EXPECT_EQ(jp2::SkipInSink(-5, &sink), -1);
  EXPECT_EQ(sink.position, 4u);
  EXPECT_EQ(sink.bytes.size(), 4u);
  sink.position = SIZE_MAX - 1;
  EXPECT_EQ(jp2::WriteToMemory(four, 4, &sink), jp2::kEndOfStream);
  sink.position = 2;
  EXPECT_EQ(jp2::SkipInSink(-2, &sink), -2);
  EXPECT_EQ(jp2::WriteToMemory(four, 4, &sink), 4u);
  EXPECT_EQ(sink.bytes, (std::vector<uint8_t>{1, 2, 3, 4}));
}

// A flat picture beyond the free samples still brings enough code stream.
TEST(Jpeg2000Bitmap, FlatPictureBeyondTheFreeSamplesLoads) {
  TJp2Spec spec{0, 0, 2100, 2100, OPJ_CLRSPC_GRAY, true, {}};
  spec.comps = {{1, 1, 8, false, std::vector<int32_t>(2100 * 2100, 77)}};
  ASSERT_GT(uint64_t(2100) * 2100, kJpeg2000FreeSamples);
  const Bytes file = MakeJp2(spec);
  ASSERT_FALSE(file.empty());
  const TPixels p = Load(file);
  ASSERT_EQ(p.width, 2100);
  EXPECT_EQ(p.At(2099, 2099)[0], 77);
}

// A code stream of three components with its first 16 x 16 tile only: the
// output of opj_compress for a small picture whose SIZ marker a fuzzer then
// widened. OpenJPEG decodes such a stream, filling every absent tile, but it
// sets up each tile of the grid while reading the header, so a few bytes may
// claim a picture that costs seconds (tiny tiles) or a great deal of memory
// (a large picture).
Bytes SparseCodeStream(uint32_t width, uint32_t height, uint32_t tile, int levels) {
  static const char* const kHex =
      "ff4fff51002f0000000029100000007a0000000000000000000000100000001000000000000000000003070101070101"
      "070101ff52000c00000001010204040001ff5c000a4040484850484850ff640025000143726561746564206279204f70"
      "656e4a5045472076657273696f6e20322e352e30ff90000a0000000000230001ff93cfb028115054a303a00002ff7f80"
      "80808080808080ffd9";
  Bytes b;
  for (const char* p = kHex; p[0] && p[1]; p += 2) b.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  put(8, width);  // Xsiz, Ysiz, then XTsiz and YTsiz
  put(12, height);
  put(24, tile);
  put(28, tile);
  b[60] = static_cast<uint8_t>(levels);  // decomposition levels of the COD marker
  return b;
}

TEST(Jpeg2000Bitmap, SparseCodeStreamsWithinTheBudgetsLoad) {
  struct Case {
    const char* name;
    uint32_t width, height, tile;
    int levels;
    bool loads;
  };
  const Case cases[] = {
      {"few tiles", 100, 60, 16, 2, true},
      {"more than the free tile components, each large enough", 1600, 1024, 32, 2, true},
      {"tiny tiles", 200, 200, 1, 0, false},
      {"many small tiles", 10512, 122, 16, 2, false},
      {"more samples than its bytes stand for", 2000, 2000, 256, 2, false},
  };
  // The same code streams inside a JP2 file of three components.
  TJp2Spec spec{0, 0, 2, 2, OPJ_CLRSPC_SRGB, false, {}};
  spec.comps = {{1, 1, 8, false, {1, 2, 3, 4}}, {1, 1, 8, false, {1, 2, 3, 4}}, {1, 1, 8, false, {1, 2, 3, 4}}};
  const Bytes jp2 = MakeJp2(spec);
  static const uint8_t kJp2c[4] = {'j', 'p', '2', 'c'};
  const size_t box = static_cast<size_t>(std::search(jp2.begin(), jp2.end(), kJp2c, kJp2c + 4) - jp2.begin()) - 4;
  ASSERT_LT(box + 8, jp2.size());
  static const uint8_t kIhdr[4] = {'i', 'h', 'd', 'r'};
  const size_t ihdr = static_cast<size_t>(std::search(jp2.begin(), jp2.end(), kIhdr, kIhdr + 4) - jp2.begin()) + 4;
  ASSERT_LT(ihdr + 8, box);
  auto wrapped = [&](const Bytes& codeStream) {
    Bytes file(jp2.begin(), jp2.begin() + static_cast<std::ptrdiff_t>(box));
    // The image header box gives height and width as the code stream does.
    std::copy(codeStream.begin() + 12, codeStream.begin() + 16, file.begin() + static_cast<std::ptrdiff_t>(ihdr));
    std::copy(codeStream.begin() + 8, codeStream.begin() + 12, file.begin() + static_cast<std::ptrdiff_t>(ihdr) + 4);
    const uint32_t length = static_cast<uint32_t>(codeStream.size() + 8);
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(length >> (24 - 8 * i)));
    file.insert(file.end(), kJp2c, kJp2c + 4);
    file.insert(file.end(), codeStream.begin(), codeStream.end());
    return file;
  };
  for (const Case& c : cases)
    for (bool inJp2 : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (inJp2 ? " in a JP2 file" : ""));
      TJpeg2000Bitmap picture;
      try {
        const Bytes codeStream = SparseCodeStream(c.width, c.height, c.tile, c.levels);
        LoadBytes(picture, inJp2 ? wrapped(codeStream) : codeStream);
        EXPECT_TRUE(c.loads);
        EXPECT_EQ(picture.Width(), static_cast<int>(c.width));
      } catch (const EJpeg2000Error& e) {
        EXPECT_FALSE(c.loads);
        EXPECT_STREQ(e.what(), kJpeg2000DecodeFailed);
      }
    }
}

TEST(Jpeg2000Bitmap, LosslessSaveLoadsBackTheSamePixels) {
  for (TPixelFormat format : {pf24bit, pf32bit, pf8bit}) {
    TJpeg2000Bitmap picture;
    picture.SetPixelFormat(pf32bit);
    picture.SetSize(19, 7);
    for (int y = 0; y < 7; ++y) {
      auto* row = static_cast<uint8_t*>(picture.ScanLine(y));
      for (int x = 0; x < 19 * 4; ++x) row[x] = static_cast<uint8_t>(x * 7 + y * 31);
    }
    picture.SetPixelFormat(format);
    const TPixels before = PixelsOf(picture);
    picture.SetLossless(true);
    const Bytes file = SaveBytes(picture);
    EXPECT_EQ(picture.DataSize(), file.size());
    TJpeg2000Bitmap back;
    LoadBytes(back, file);
    EXPECT_EQ(back.PixelFormat(), format == pf32bit ? pf32bit : pf24bit);
    const TPixels after = PixelsOf(back);
    EXPECT_EQ(after.bgra, before.bgra) << "format " << int(format);
  }
}

TEST(Jpeg2000Bitmap, SavesPicturesTooSmallForSixResolutions) {
  for (int side : {1, 2, 16, 31}) {
    TJpeg2000Bitmap picture;
    picture.SetPixelFormat(pf24bit);
    picture.SetSize(side, 40);
    EXPECT_FALSE(SaveBytes(picture).empty()) << side;
  }
}

TEST(Jpeg2000Bitmap, EmptyPictureCannotBeSaved) {
  TJpeg2000Bitmap picture;
  try {
    SaveBytes(picture);
    ADD_FAILURE() << "saved";
  } catch (const EJpeg2000Error& e) {
    EXPECT_STREQ(e.what(), kJpeg2000CreateFailed);
  }
}

TEST(Jpeg2000Bitmap, EncoderSettings) {
  TJpeg2000Bitmap picture;
  EXPECT_FALSE(picture.Lossless());
  EXPECT_EQ(picture.Quality(), 80);
  EXPECT_EQ(picture.DataSize(), 0u);
  // (115 - 80)^2 / 100 for a large picture; the fixed overhead lowers it for small ones.
  EXPECT_NEAR(Jpeg2000CompressionRatio(int64_t(4000) * 4000 * 3, 3, 80), 12.25f, 0.01f);
  EXPECT_LT(Jpeg2000CompressionRatio(16 * 16 * 3, 3, 80), 2.0f);
  EXPECT_NEAR(Jpeg2000CompressionRatio(int64_t(4000) * 4000 * 3, 3, 100), 2.25f, 0.01f);
  EXPECT_EQ(ComponentTypeFor(0), 1);
  EXPECT_EQ(ComponentTypeFor(2), 3);
  EXPECT_EQ(ComponentTypeFor(3), 7);
}

TEST(Jpeg2000Bitmap, RegisteredForItsExtensions) {
  for (const char* extension : {"jp2", "j2k", "jpc"})
    EXPECT_TRUE(FileFormatClass(extension) == TGraphicClass::Of<TJpeg2000Bitmap>()) << extension;
  TJp2Spec spec{0, 0, 3, 2, OPJ_CLRSPC_GRAY, false, {}};
  spec.comps = {{1, 1, 8, false, {1, 2, 3, 4, 5, 6}}};
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("grey.jp2"), MakeJp2(spec));
  TPicture picture;
  picture.LoadFromFile(dir.File("grey.jp2"));
  ASSERT_NE(dynamic_cast<TJpeg2000Bitmap*>(picture.Graphic()), nullptr);
  EXPECT_EQ(picture.Width(), 3);
  EXPECT_EQ(picture.Height(), 2);
}

}  // namespace
