// The reader end to end: output sizes and formats, parameter-only reads,
// refusals that leave the picture alone, hostile files, the colour stages on
// small patterns, two decodes at once, and the fuzz target's seeds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "imaging/io/image_lib_io.h"
#include "tests/imaging/special/raw/raw_fixtures.h"
#include "tests/imaging/special/raw/raw_test_util.h"
#include "tests/imaging/io/io_test_support.h"
#include "tests/support/test_support.h"

using namespace rawtest;

namespace {

// An Olympus E-1 file of w x h photosites: a diagonal ramp with a bright mark.
std::vector<uint8_t> E1(int w, int h, bool black = false) {
  TBytes f;
  PutTiffHeader(f, 0, 8);
  const std::vector<uint8_t> strips = {0, 4, 0, 0, 0, 0, 0, 0};
  PutDirectory(f, 0, 8,
               {Long(256, uint32_t(w)), Long(257, uint32_t(h)), Ascii(271, "OLYMPUS OPTICAL CO.,LTD"),
                Ascii(272, "E-1"), {273, 4, 2, 0, strips}},
               0, 256);
  f.Fit(1024 + size_t(w) * size_t(h) * 2);
  if (!black)
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) {
        uint32_t v = uint32_t(200 + 40 * (r + c));
        if (r > h / 3 && r < h / 2 && c > w / 3 && c < w / 2) v = 4000;
        f.Put16(1024 + 2 * size_t(r * w + c), v << 2);
      }
  return f.B;
}

void SavePicture(TIEBitmap& b, const std::string& name) {
  const auto dir = std::filesystem::path(QV_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(dir);
  qvtest::EnsureImageIO();
  auto io = TImageLibIO::CreateForBitmap(&b);
  io->SavePNGFile((dir / name).wstring());
}

TEST(RawReader, DecodesToThePictureLessItsBorder) {
  TDecoded d;
  Decode(E1(64, 48), d);
  ASSERT_EQ(d.Refusal(), nullptr);
  EXPECT_FALSE(d.Abort.load());
  EXPECT_EQ(d.Bitmap.Width(), 62);
  EXPECT_EQ(d.Bitmap.Height(), 46);
  EXPECT_EQ(d.Bitmap.PixelFormat(), ie24RGB);
  EXPECT_EQ(d.Params.Width, 62);
  EXPECT_EQ(d.Params.Height, 46);
  EXPECT_EQ(d.Params.RawCamera, "OLYMPUS E-1 ");
  EXPECT_EQ(d.Params.ImageCount, 1);
  // The ramp grows to the bottom right; the mark is brighter than its row.
  const TRGB first = d.Bitmap.GetPixelRGB(2, 2), last = d.Bitmap.GetPixelRGB(60, 44);
  EXPECT_LT(int(first.g), int(last.g));
  SavePicture(d.Bitmap, "raw_e1_ramp.png");
}

TEST(RawReader, NativeFormatGivesSixteenBitsAndParamsOnlyKeepsThePicture) {
  TDecoded wide;
  wide.Params.NativePixelFormat = true;
  Decode(E1(32, 24), wide);
  ASSERT_EQ(wide.Refusal(), nullptr);
  EXPECT_EQ(wide.Bitmap.PixelFormat(), ieRGB48);
  EXPECT_EQ(wide.Params.BitsPerSample, 16);

  TDecoded params;
  params.Bitmap.Allocate(3, 3, ie24RGB);
  Decode(E1(32, 24), params, true);
  EXPECT_EQ(params.Refusal(), nullptr);
  EXPECT_EQ(params.Params.Width, 30);  // identified size less 2
  EXPECT_EQ(params.Params.Height, 22);
  EXPECT_EQ(params.Bitmap.Width(), 3);
}

TEST(RawReader, AnAllBlackPictureHasAWhitePointOfOne) {
  TDecoded d;
  Decode(E1(16, 16, true), d);
  ASSERT_EQ(d.Refusal(), nullptr);
  for (int y = 0; y < d.Bitmap.Height(); ++y)
    for (int x = 0; x < d.Bitmap.Width(); ++x) ASSERT_EQ(d.Bitmap.GetPixelRGB(x, y), TRGB{}) << x << "," << y;
}

TEST(RawReader, APhotographIsRefusedAndLeftAlone) {
  TIEBitmap photo;
  photo.Allocate(8, 8, ie24RGB);
  photo.Fill(0x336699);
  TMemoryStream jpeg;
  TImageLibIO::CreateForBitmap(&photo)->SaveJPEGStream(jpeg);
  std::vector<uint8_t> bytes(size_t(jpeg.Size()));
  jpeg.SetPosition(0);
  jpeg.ReadBuffer(bytes.data(), int64_t(bytes.size()));

  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  s.SetPosition(5);
  EXPECT_FALSE(IsCameraRawStream(s));
  EXPECT_EQ(s.Position(), 5);

  TDecoded d;
  d.Bitmap.Allocate(1, 1, ie24RGB);
  d.Bitmap.Fill(0xFFFFFF);
  Decode(bytes, d);
  EXPECT_TRUE(d.Abort.load());
  EXPECT_STREQ(d.Refusal(), "not a raw file of a known camera");
  EXPECT_EQ(d.Bitmap.Width(), 1);
  EXPECT_EQ(d.Bitmap.GetPixelRGB(0, 0), (TRGB{255, 255, 255}));
}

// ---- hostile files ----

struct THostile {
  const char* Name;
  std::vector<uint8_t> Bytes;
};

std::vector<uint8_t> SelfLinkedTiff() {
  TBytes f;
  PutTiffHeader(f, 0, 8);
  // The directory's next offset is itself; its EXIF pointer comes back to it too.
  PutDirectory(f, 0, 8, {Ascii(271, "NIKON"), {34665, 4, 1, 8, {}}, {330, 4, 2, 8, {}}}, 8, 200);
  f.Fit(1024);
  return f.B;
}

std::vector<uint8_t> EndlessSubDirectories() {
  TBytes f;
  PutTiffHeader(f, 0, 8);
  PutDirectory(f, 0, 8, {Ascii(271, "OLYMPUS"), Ascii(272, "E-1"), {330, 4, 0xFFFFFFFF, 100, {}}}, 0, 200);
  f.Fit(512);
  return f.B;
}

std::vector<uint8_t> DeepCiff(int depth) {
  // Each heap holds one sub-heap entry covering everything before its
  // directory; the innermost heap is empty.
  TBytes f;
  f.PutText(0, "II", false);
  f.Put32(2, 26);
  f.PutText(6, "HEAPCCDR", false);
  const size_t start = 26;
  const size_t total = size_t(depth) * 16 + 16;
  f.Fit(start + total);
  // Heap k spans [start, start + len_k); its directory sits at its end.
  for (int k = 0; k < depth; ++k) {
    const size_t len = total - size_t(k) * 16;
    const size_t dir = len - 16;
    f.Put16(start + dir, 1);
    f.Put16(start + dir + 2, 0x300a);
    f.Put32(start + dir + 4, uint32_t(len - 16));
    f.Put32(start + dir + 8, 0);
    f.Put32(start + len - 4, uint32_t(dir));
  }
  return f.B;
}

std::vector<uint8_t> FoveonOverflow() {
  TBytes f;
  f.PutText(0, "FOVb", false);
  f.Put32(248, 64), f.Put32(252, 32);
  const std::string props = std::string("CAMMANUF") + '\0' + "SIGMA" + '\0' + "CAMMODEL" + '\0' + "SD9" + '\0';
  // The property list at 7000 (o = 6976 with n = 0), the "CAMF" word after it.
  const size_t camf = 8400, list = 7000;
  f.Put32(camf, 0x464D4143);
  f.Put32(camf + 4, uint32_t(list - 24));
  f.Put32(list - 16, 0);
  for (size_t i = 0; i < props.size(); ++i) f.Put16(list + 2 * i, uint8_t(props[i]));
  const size_t end = camf + 8;
  // Codes that never make a leaf: the tree grows until the table is full.
  TRandom r(9);
  for (int i = 0; i < 1024; ++i) f.Put32(260 + 2048 + 4 * size_t(i), 0x80000000u | r.Next());
  f.Fit(end + 64 * 32 * 4 + 4096);
  f.Put32(f.B.size() - 4, uint32_t(camf));
  return f.B;
}

std::vector<uint8_t> SinarHuge() {
  std::vector<uint8_t> b(12582980, 0);
  std::memcpy(b.data(), "8BPS", 4);
  // Height and width of 2^31 - 1 photosites.
  for (size_t at : {size_t(14), size_t(18)}) b[at] = 0x7F, b[at + 1] = b[at + 2] = b[at + 3] = 0xFF;
  return b;
}

std::vector<uint8_t> Nucore() {
  TBytes f;
  f.PutText(0, "BR", false);
  f.Put32(10, 64), f.Put32(18, 40), f.Put32(22, 30);
  f.PutBytes(64, RandomBytes(40 * 30 * 2, 7));
  return f.B;
}

TEST(RawReader, HostileFilesEndWithARefusal) {
  const THostile cases[] = {
      {"self-linked directories", SelfLinkedTiff()},
      {"sub-directory count 0xFFFFFFFF", EndlessSubDirectories()},
      {"CIFF 200 levels deep", DeepCiff(200)},
  };
  for (const THostile& c : cases) {
    SCOPED_TRACE(c.Name);
    TCustomMemoryStream s(c.Bytes.data(), int64_t(c.Bytes.size()));
    EXPECT_FALSE(IsCameraRawStream(s));
    TDecoded d;
    d.Bitmap.Allocate(2, 2, ie24RGB);
    Decode(c.Bytes, d);
    EXPECT_TRUE(d.Abort.load());
    EXPECT_EQ(d.Bitmap.Width(), 2);
  }
}

TEST(RawReader, HugeSizesAreRefusedBeforeAllocating) {
  const auto bytes = SinarHuge();
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  EXPECT_TRUE(IsCameraRawStream(s));  // a Sinar file by its size and head
  TDecoded d;
  d.Bitmap.Allocate(2, 2, ie24RGB);
  Decode(bytes, d);
  EXPECT_STREQ(d.Refusal(), "the file cannot hold the picture's samples");
  EXPECT_EQ(d.Bitmap.Width(), 2);
}

TEST(RawReader, AnOverflowingTreeRaisesTheDecoderError) {
  const auto bytes = FoveonOverflow();
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  ASSERT_TRUE(IsCameraRawStream(s));
  TDecoded d;
  d.Bitmap.Allocate(2, 2, ie24RGB);
  try {
    Decode(bytes, d);
    ADD_FAILURE() << "no exception";
  } catch (const ERawDecoderError& e) {
    EXPECT_EQ(e.Message(), ": decoder table overflow");
  }
  EXPECT_EQ(d.Bitmap.Width(), 2);
}

TEST(RawReader, TablesWithTooFewSymbolsAreRefused) {
  TCustomMemoryStream none(nullptr, 0);
  TRawDecoderState s(none);
  // Three codes of length 2 announced, one symbol present.
  const uint8_t source[] = {0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7};
  ResetHuffmanTable(s);
  try {
    BuildHuffmanTree(s, source, int(sizeof source), 0);
    ADD_FAILURE() << "accepted";
  } catch (const ERawRefused& r) {
    EXPECT_STREQ(r.Reason, "a decoding table has fewer symbols than codes");
  }
}

TEST(RawReader, CutFilesAreRefusedAtEveryTenth) {
  const auto whole = E1(64, 48);
  for (int tenth = 1; tenth < 10; ++tenth) {
    SCOPED_TRACE(tenth);
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() * size_t(tenth) / 10));
    TDecoded d;
    d.Bitmap.Allocate(2, 2, ie24RGB);
    Decode(cut, d);
    EXPECT_TRUE(d.Abort.load());
    ASSERT_NE(d.Refusal(), nullptr);
    const std::string why = d.Refusal();
    EXPECT_TRUE(why == "raw data cut short" || why == "the file cannot hold the picture's samples" ||
                why == "not a raw file of a known camera")
        << why;
    EXPECT_EQ(d.Bitmap.Width(), 2);
  }
}

// ---- colour stages on small patterns ----

// A state over a w x h picture with the pattern filled by colour value.
std::unique_ptr<TRawDecoderState> Pattern(TCustomMemoryStream& none, int w, int h, uint32_t filters,
                                          const int values[4]) {
  auto s = std::make_unique<TRawDecoderState>(none);
  s->Width = s->IWidth = w, s->Height = s->IHeight = h, s->Filters = filters, s->Colors = 3;
  s->Maximum = 0xFFFF;
  s->Image.assign(size_t(w * h * 4), 0);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) s->Cell(r, c)[s->FC(r, c)] = uint16_t(values[s->FC(r, c)]);
  return s;
}

TEST(RawColour, FlatPatternsInterpolateToTheirColours) {
  TCustomMemoryStream none(nullptr, 0);
  const int values[4] = {1000, 2000, 3000, 0};
  for (uint32_t filters : {0x94949494u, 0x16161616u, 0x61616161u, 0x49494949u}) {
    SCOPED_TRACE(filters);
    for (bool quick : {true, false}) {
      auto s = Pattern(none, 6, 6, filters, values);
      s->QuickInterpolate = quick;
      vng_interpolate(*s);
      for (int r = 1; r < 5; ++r)
        for (int c = 1; c < 5; ++c)
          for (int k = 0; k < 3; ++k) ASSERT_EQ(s->Cell(r, c)[k], values[k]) << r << "," << c << " " << k;
    }
  }
}

TEST(RawColour, BilinearAveragesTheNeighbours) {
  // 0x94949494: R G / G B. The blue at (1, 1) has red at its four corners.
  TCustomMemoryStream none(nullptr, 0);
  const int values[4] = {0, 0, 0, 0};
  auto s = Pattern(none, 6, 6, 0x94949494, values);
  s->Cell(0, 0)[0] = 100, s->Cell(0, 2)[0] = 200, s->Cell(2, 0)[0] = 300, s->Cell(2, 2)[0] = 400;
  s->Cell(0, 1)[1] = 10, s->Cell(1, 0)[1] = 20, s->Cell(1, 2)[1] = 30, s->Cell(2, 1)[1] = 40;
  s->QuickInterpolate = true;
  vng_interpolate(*s);
  EXPECT_EQ(s->Cell(1, 1)[0], 250);  // (100 + 200 + 300 + 400) / 4
  EXPECT_EQ(s->Cell(1, 1)[1], 25);   // edge neighbours
}

TEST(RawColour, WhiteBalanceLeavesAColourWithoutSamplesAlone) {
  TCustomMemoryStream none(nullptr, 0);
  const int values[4] = {1000, 2000, 0, 0};  // no blue at all
  auto s = Pattern(none, 4, 4, 0x94949494, values);
  s->UseAutoWB = true;
  s->Maximum = 0x4000;
  s->PreMul[2] = 1.5f;
  white_balance_scale(*s);
  EXPECT_FLOAT_EQ(s->PreMul[0], 2.0f);
  EXPECT_FLOAT_EQ(s->PreMul[1], 1.0f);
  EXPECT_FLOAT_EQ(s->PreMul[2], 1.5f);
  EXPECT_EQ(s->Cell(0, 0)[0], 2000);
}

TEST(RawColour, CameraWhiteBalanceFallsBackToTheFileRatios) {
  TCustomMemoryStream none(nullptr, 0);
  const int values[4] = {100, 100, 100, 0};
  auto s = Pattern(none, 4, 4, 0x94949494, values);
  s->UseCameraWB = true;
  s->CameraRed = 1.25f, s->CameraBlue = 1.5f;
  white_balance_scale(*s);  // the white sample is black
  EXPECT_FLOAT_EQ(s->PreMul[0], 1.25f);
  EXPECT_FLOAT_EQ(s->PreMul[2], 1.5f);
  auto t = Pattern(none, 4, 4, 0x94949494, values);
  t->UseCameraWB = true;
  t->PreMul[0] = 1.7f;
  white_balance_scale(*t);  // no ratios either: the table's multipliers stay
  EXPECT_FLOAT_EQ(t->PreMul[0], 1.7f);
}

TEST(RawColour, FourColourMatrixInvertsTheResponses) {
  TCustomMemoryStream none(nullptr, 0);
  TRawDecoderState s(none);
  cmyg_colour_matrix(s);
  ASSERT_TRUE(s.UseColourMatrix);
  // Each row sums to 1, and for each choice of three colours the rows are the
  // inverse of their responses (summed over the four choices): a grey input
  // of the four responses of white maps to equal outputs.
  for (int r = 0; r < 3; ++r) EXPECT_NEAR(s.Coeff[r][0] + s.Coeff[r][1] + s.Coeff[r][2] + s.Coeff[r][3], 1.0, 1e-6);
  // Independent check: the matrix applied to the responses of a pure red,
  // green or blue light (the table's columns) is diagonal up to the row scale.
  static const double table[4][3] = {{0.11, 0.86, 0.08}, {0.50, 0.29, 0.51}, {0.11, 0.92, 0.75}, {0.81, 0.98, 0.08}};
  double m[3][3];
  for (int r = 0; r < 3; ++r)
    for (int light = 0; light < 3; ++light) {
      m[r][light] = 0;
      for (int c = 0; c < 4; ++c) m[r][light] += s.Coeff[r][c] * table[c][light];
    }
  for (int r = 0; r < 3; ++r)
    for (int light = 0; light < 3; ++light)
      if (r != light) {
        EXPECT_NEAR(m[r][light], 0.0, 1e-5) << r << "," << light;
      }
}

// ---- two at once ----

TEST(RawReader, TwoDecodesAtOnceGiveTheSamePictures) {
  const auto a = E1(64, 48), b = E1(48, 32);
  TDecoded alone;
  Decode(a, alone);
  TDecoded x, y;
  std::thread t1([&] { Decode(a, x); });
  std::thread t2([&] { Decode(b, y); });
  t1.join();
  t2.join();
  ASSERT_EQ(x.Bitmap.Width(), alone.Bitmap.Width());
  for (int r = 0; r < x.Bitmap.Height(); ++r)
    ASSERT_EQ(std::memcmp(x.Bitmap.ScanLine(r), alone.Bitmap.ScanLine(r), size_t(x.Bitmap.Width()) * 3), 0);
  EXPECT_EQ(y.Bitmap.Width(), 46);
}

// ---- fuzz seeds ----

TEST(FuzzSeeds, CameraRawSeedsWrittenWhenAskedAndPresent) {
  const std::pair<const char*, std::vector<uint8_t>> seeds[] = {
      {"olympus_e1.orf", E1(16, 12)},
      {"self_linked.tif", SelfLinkedTiff()},
      {"deep_ciff.crw", DeepCiff(12)},
      {"foveon_overflow.x3f", FoveonOverflow()},
      {"kodak_dc20.k25", RandomBytes(62464, 20)},
      {"nucore.raw", Nucore()},
  };
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (const auto& [name, bytes] : seeds) {
    if (out && *out) {
      const auto dir = std::filesystem::path(out) / "camera_raw";
      std::filesystem::create_directories(dir);
      qvtest::WriteFileBytes((dir / name).string(), bytes);
      continue;
    }
    const auto file = std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus" / "camera_raw" / name;
    EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
  }
}

}  // namespace
