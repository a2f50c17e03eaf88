// The containers and loaders over synthetic files: each file carries samples
// whose value says where they belong, so a wrong offset, byte order, shift
// or cell shows.
#include <gtest/gtest.h>

#include "tests/imaging/special/raw/raw_fixtures.h"
#include "tests/imaging/special/raw/raw_test_util.h"

using namespace rawtest;

namespace {

// The value a test stores for photosite (r, c): distinct across a small picture.
uint32_t Mark(int64_t r, int64_t c, uint32_t bits) { return uint32_t((r * 37 + c * 11 + 5) & ((1u << bits) - 1)); }

uint16_t Sample(TRawDecoderState& s, int64_t r, int64_t c) { return s.Cell(r, c)[s.FC(r, c)]; }

// The stream over the bytes lives as long as the test's state.
struct TOver {
  TCustomMemoryStream Stream;
  explicit TOver(std::vector<uint8_t>& b) : Stream(b.data(), int64_t(b.size())) {}
};

// ---- TIFF: Olympus E-1, little-endian 16-bit words shifted right by 2 ----

std::vector<uint8_t> E1File(int w, int h) {
  TBytes f;
  PutTiffHeader(f, 0, 8);
  const std::vector<uint8_t> strips = {0, 16, 0, 0, 0, 0, 0, 0};
  PutDirectory(f, 0, 8,
               {Long(256, uint32_t(w)), Long(257, uint32_t(h)), Ascii(271, "OLYMPUS OPTICAL CO.,LTD"),
                Ascii(272, "E-1"), {273, 4, 2, 0, strips}},
               0, 512);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) f.Put16(4096 + 2 * size_t(r * w + c), Mark(r, c, 12) << 2 | 3);
  return f.B;
}

TEST(RawContainers, OlympusE1LittleEndianWords) {
  auto bytes = E1File(64, 48);
  TOver m(bytes);
  auto s = Load(m.Stream);
  ASSERT_NE(s, nullptr);
  for (int r : {0, 1, 17, 47})
    for (int c : {0, 1, 30, 63}) EXPECT_EQ(Sample(*s, r, c), Mark(r, c, 12)) << r << "," << c;
  EXPECT_EQ(s->FC(0, 0), 1);  // 0x61616161: green first
}

// ---- TIFF: Nikon D70 with a compressed strip and its tone curve ----

const uint8_t kNikonSource[] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 5, 4, 3, 6, 2, 7, 1, 0, 8, 9, 11, 10, 12, 13};

// Encodes samples by the camera's prediction: the first two columns against
// the previous same-colour row start, the others against the sample two to the left.
std::vector<uint8_t> NikonCompress(const std::vector<std::vector<int>>& v, const int vpredStart[4]) {
  auto codes = CanonicalCodes(kNikonSource);
  TBitWriter w;
  int vpred[4] = {vpredStart[0], vpredStart[1], vpredStart[2], vpredStart[3]};
  for (size_t r = 0; r < v.size(); ++r) {
    int hpred[2] = {0, 0};
    for (size_t c = 0; c < v[r].size(); ++c) {
      int diff;
      if (c < 2) {
        int& p = vpred[2 * (r & 1) + (c & 1)];
        diff = v[r][c] - p;
        p = v[r][c];
        hpred[c] = v[r][c];
      } else {
        diff = v[r][c] - hpred[c & 1];
        hpred[c & 1] = v[r][c];
      }
      PutDiff(w, codes, diff);
    }
  }
  w.Flush();
  return w.Out;
}

std::vector<uint8_t> D70File(int w, int h, int curveSize, std::vector<std::vector<int>>* values = nullptr) {
  std::vector<std::vector<int>> v{size_t(h), std::vector<int>(size_t(w))};
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) v[size_t(r)][size_t(c)] = curveSize > 0 ? int(Mark(r, c, 8)) % curveSize : 0;
  if (values) *values = v;
  const int vstart[4] = {100, 50, 25, 12};
  const std::vector<uint8_t> data = NikonCompress(v, vstart);
  TBytes f;
  f.Big = true;
  PutTiffHeader(f, 0, 8);
  // The maker note: "Nikon", its own TIFF header and tag 150 (curve).
  TBytes note;
  note.Big = true;
  note.PutText(0, "Nikon", true);
  note.Put16(6, 0x0210);
  PutTiffHeader(note, 10, 8);
  PutDirectory(note, 10, 8, {Long(150, 128), {151, 7, 64, 0, std::vector<uint8_t>(64, 0)}}, 0, 40);
  // Tag 151 of the D70: white balance at +20 (w1/w2 red, w3/w4 blue).
  note.Put16(10 + 40 + 20, 600), note.Put16(10 + 40 + 22, 300), note.Put16(10 + 40 + 24, 500), note.Put16(10 + 40 + 26, 250);
  // The curve: four vertical predictors, the size, the entries (x 3).
  const size_t curveAt = 10 + 128 + 2;
  for (int k = 0; k < 4; ++k) note.Put16(curveAt + 2 * size_t(k), uint32_t(vstart[k]));
  note.Put16(curveAt + 8, uint32_t(curveSize));
  for (int k = 0; k < curveSize; ++k) note.Put16(curveAt + 10 + 2 * size_t(k), uint32_t(3 * k));
  const size_t exifAt = 300, noteAt = 400, subAt = 200;
  const size_t dataAt = 4096;
  PutDirectory(f, 0, 8,
               {Ascii(271, "NIKON CORPORATION"), Ascii(272, "NIKON D70"), {330, 4, 1, uint32_t(subAt), {}},
                {34665, 4, 1, uint32_t(exifAt), {}}},
               0, 100);
  PutDirectory(f, 0, subAt,
               {Long(256, uint32_t(w)), Long(257, uint32_t(h)), Short(259, 34713), Long(273, uint32_t(dataAt))}, 0, 260);
  PutDirectory(f, 0, exifAt, {{37500, 7, uint32_t(note.B.size()), uint32_t(noteAt), {}}}, 0, 380);
  f.PutBytes(noteAt, note.B);
  f.PutBytes(dataAt, data);
  return f.B;
}

TEST(RawContainers, NikonCompressedRoundTripsThroughItsCurve) {
  std::vector<std::vector<int>> v;
  auto bytes = D70File(48, 32, 200, &v);
  TOver m(bytes);
  const char* why = nullptr;
  auto s = Load(m.Stream, &why);
  ASSERT_NE(s, nullptr) << why;
  EXPECT_STREQ(s->Make, "NIKON");
  EXPECT_STREQ(s->Model, "D70");
  EXPECT_STREQ(RawLoaderName(s->Loader), "nikon_compressed_load_raw");
  EXPECT_FLOAT_EQ(s->CameraRed, 2.0f);   // w1 / w2
  EXPECT_FLOAT_EQ(s->CameraBlue, 2.0f);  // w3 / w4
  for (int r = 0; r < 32; ++r)
    for (int c = 0; c < 48; ++c) ASSERT_EQ(Sample(*s, r, c), 3 * v[size_t(r)][size_t(c)] << 2) << r << "," << c;
}

TEST(RawContainers, NikonEmptyCurveIsRefused) {
  auto bytes = D70File(16, 8, 0);
  TOver m(bytes);
  const char* why = nullptr;
  EXPECT_EQ(Load(m.Stream, &why), nullptr);
  EXPECT_STREQ(why, "the tone curve is empty");
}

// ---- CIFF: PowerShot 600, uncompressed 10-bit rows ----

// Rows of 1120 bytes from offset 26, stored in the order 0, 2, 4, ... then
// 1, 3, ...; ten bytes hold eight 10-bit values.
std::vector<uint8_t> PowerShot600Rows() {
  std::vector<uint8_t> all(26 + size_t(613) * 1120);
  for (int i = 0; i < 613; ++i) {
    const int row = i < 307 ? 2 * i : 2 * (i - 307) + 1;
    uint8_t* line = &all[26 + size_t(i) * 1120];
    for (int g = 0; g < 112; ++g) {
      uint16_t v[8];
      for (int k = 0; k < 8; ++k) v[k] = uint16_t(Mark(row, g * 8 + k, 10));
      uint8_t* b = line + 10 * g;
      const int hi[8] = {0, 2, 3, 4, 5, 6, 7, 8};
      for (int k = 0; k < 8; ++k) b[hi[k]] = uint8_t(v[k] >> 2);
      b[1] = uint8_t((v[0] & 3) << 6 | (v[1] & 3) << 4 | (v[2] & 3) << 2 | (v[3] & 3));
      b[9] = uint8_t((v[4] & 3) | (v[5] & 3) << 2 | (v[6] & 3) << 4 | (v[7] & 3) << 6);
    }
  }
  return all;
}

TEST(RawContainers, PowerShot600TenBitRowsInTwoFields) {
  auto bytes = PowerShot600Rows();
  TCustomMemoryStream m(bytes.data(), int64_t(bytes.size()));
  TRawDecoderState s(m);
  std::strcpy(s.Make, "Canon");
  s.Height = 613, s.Width = 854, s.RawWidth = 896, s.Filters = 0xe1e4e1e4, s.Colors = 4;
  s.IHeight = s.Height, s.IWidth = s.Width;
  s.Image.assign(size_t(s.Height * s.Width * 4), 0);
  s.In.Seek(26);
  powershot_600_load_raw(s);
  for (int r : {0, 1, 2, 305, 612})
    for (int c : {0, 7, 8, 853}) EXPECT_EQ(Sample(s, r, c), Mark(r, c, 10) << 4) << r << "," << c;
  EXPECT_GT(s.Black, 0);  // columns 854..895 are masked
}

// ---- Fuji: S5000 stores the picture turned by 45 degrees ----

TEST(RawContainers, FujiS5000IsStoredDiagonallyAndStraightened) {
  TBytes f;
  f.PutText(0, "FUJIFILMCCD-RAW ", false);
  f.Big = true;
  const size_t tiffBase = 200;
  f.Put32(84, uint32_t(tiffBase - 12));
  f.Big = false;
  PutTiffHeader(f, tiffBase, 8);
  PutDirectory(f, tiffBase, 8, {Ascii(271, "FUJIFILM"), Ascii(272, "FinePix S5000")}, 0, 100);
  f.Big = true;
  const uint32_t dataAt = 1024;
  f.Put32(100, dataAt);
  f.Big = false;
  // 2152 rows of 1472 little-endian words after 11824 bytes.
  const size_t start = dataAt + 11824;
  f.Fit(start + size_t(2152) * 1472 * 2);
  for (int r = 0; r < 2152; ++r)
    for (int c = 0; c < 1424; ++c) f.Put16(start + (size_t(r) * 1472 + size_t(c)) * 2, 100 + (r % 200) * 20);
  TCustomMemoryStream m(f.B.data(), int64_t(f.B.size()));
  const char* why = nullptr;
  auto s = Load(m, &why);
  ASSERT_NE(s, nullptr) << why;
  EXPECT_STREQ(s->Make, "FUJIFILM");
  EXPECT_STREQ(s->Model, "FinePix S5000");
  EXPECT_TRUE(s->Straighten);
  // Stored row 0, column 0 lands at (1423, 0) of the sensor.
  EXPECT_EQ(Sample(*s, 1423, 0), 100 << 2);

  TDecoded d;
  d.Params.RawHalfSize = true;
  Decode(f.B, d);
  ASSERT_EQ(d.Refusal(), nullptr);
  EXPECT_FALSE(d.Bitmap.IsEmpty());
  EXPECT_EQ(d.Bitmap.Width() % 2, 0);  // twice the half width of the first row
}

// ---- Phase One: keys and paired words ----

TEST(RawContainers, PhaseOneUnscramblesWordPairs) {
  TBytes f;
  f.Big = true;
  const size_t k = 4;
  f.PutText(k, "MMMMRawT", false);
  f.Put32(k + 8, 0);  // n
  // raw width at k + 12 + 136, raw height 12 bytes further
  f.Put32(k + 148, 200);
  f.Put32(k + 164, 2060);
  // keys at k + 8 + 4 + 0 + 296
  const uint16_t a = 0x1234, b = 0x8421;
  f.Put16(k + 308, a), f.Put16(k + 310, b);
  const int64_t rw = 200, top = 5, left = 22;
  // LightPhase: H 2048, W 3080, but the test keeps the stored width of 200;
  // only the first columns inside the width are checked.
  (void)left;
  f.Fit(size_t(k + 12 + (top + 8) * rw * 2));
  for (int64_t r = 0; r < 8; ++r)
    for (int64_t c = 0; c + 1 < rw; c += 2) {
      const uint16_t p2 = uint16_t(Mark(r, c, 16)), q2 = uint16_t(Mark(r, c + 1, 16));
      // Inverse of the unscrambling: p' = (q & AAAA) | (p & 5555), q' = (p & AAAA) | (q & 5555).
      const uint16_t p = uint16_t((q2 & 0xAAAA) | (p2 & 0x5555)), q = uint16_t((p2 & 0xAAAA) | (q2 & 0x5555));
      const size_t at = size_t(k + 12 + ((top + r) * rw + c) * 2);
      f.Put16(at, uint16_t(p ^ a));
      f.Put16(at + 2, uint16_t(q ^ b));
    }
  TCustomMemoryStream m(f.B.data(), int64_t(f.B.size()));
  TIdentified id(f.B);
  ASSERT_EQ(id.Result, 0);
  EXPECT_STREQ(id.S->Make, "Phase One");
  EXPECT_STREQ(id.S->Model, "LightPhase");
  EXPECT_EQ(id.S->Filters, 0x94949494u);  // odd top margin
  // Load the first rows with the stored width as the picture width.
  TRawDecoderState& s = *id.S;
  s.Height = 8, s.Width = rw, s.LeftMargin = 0, s.IHeight = 8, s.IWidth = rw;
  s.Image.assign(size_t(8 * rw * 4), 0);
  phase_one_load_raw(s);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < rw; ++c) ASSERT_EQ(Sample(s, r, c), Mark(r, c, 16)) << r << "," << c;
}

// ---- Nucore BR, Rollei, Contax, Foveon: identification numbers ----

TEST(RawContainers, NucoreRolleiContaxAndFoveonIdentify) {
  {
    TBytes f;
    f.PutText(0, "BR", false);
    f.Put32(10, 64), f.Put32(18, 40), f.Put32(22, 30);
    f.Fit(64 + 40 * 30 * 2);
    TIdentified id(f.B);
    ASSERT_EQ(id.Result, 0);
    EXPECT_STREQ(id.S->Make, "Nucore");
    EXPECT_STREQ(id.S->Model, "RAW");
    EXPECT_EQ(id.S->Width, 40);
    EXPECT_EQ(id.S->DataOffset, 64);
  }
  {
    TBytes f;
    const char* lines[] = {"DSC-Image", "HDR=1024", "X  =1316", "Y  =1032", "TX =16", "TY =8", "EOHD"};
    for (size_t i = 0; i < std::size(lines); ++i) f.PutText(128 * i, lines[i]);
    f.Fit(4096);
    TIdentified id(f.B);
    ASSERT_EQ(id.Result, 0);
    EXPECT_STREQ(id.S->Make, "Rollei");
    EXPECT_EQ(id.S->DataOffset, 1024 + 16 * 8 * 2);
    EXPECT_EQ(id.S->Width, 1300);
    EXPECT_EQ(id.S->TopMargin, 1);
  }
  {
    TBytes f;
    f.PutText(25, "ARECOYK", false);
    f.Fit(6656 + 3072 * 2047 * 3 / 2);
    TIdentified id(f.B);
    ASSERT_EQ(id.Result, 0);
    EXPECT_STREQ(id.S->Make, "CONTAX");
    EXPECT_STREQ(id.S->Model, "N DIGITAL");
  }
  {
    // FOVb: the directory at the end points at a "CAMF" word, the property
    // list follows.
    TBytes f;
    f.PutText(0, "FOVb", false);
    f.Put32(248, 1152), f.Put32(252, 763);
    const size_t camf = 300;
    f.Put32(camf, 0x464D4143);
    f.Put32(camf + 4, 400);  // o
    f.Put32(408, 0);         // n
    const size_t list = 400 + 24;
    const std::string props = std::string("CAMMANUF") + '\0' + "SIGMA" + '\0' + "CAMMODEL" + '\0' + "SD9" + '\0';
    for (size_t i = 0; i < props.size(); ++i) f.Put16(list + 2 * i, uint8_t(props[i]));
    const size_t dirAt = list + 2 * props.size();
    f.Put32(dirAt, 0x464D4143);  // the scan finds it from d
    f.Put32(dirAt + 4, 400);
    f.Fit(dirAt + 8 + 4);
    f.Put32(f.B.size() - 4, uint32_t(dirAt));
    f.Fit(1 << 20);
    f.Put32(f.B.size() - 4, uint32_t(dirAt));
    TIdentified id(f.B);
    EXPECT_STREQ(id.S->Make, "SIGMA");
    EXPECT_STREQ(id.S->Model, "SD9");
    EXPECT_EQ(id.S->Width, 1136);
    EXPECT_EQ(id.S->Height, 756);
    EXPECT_TRUE(id.S->IsFoveon);
  }
}

// ---- the Sony F828 descrambler ----

TEST(RawContainers, SonyDescramblerIsItsOwnInverse) {
  std::vector<uint32_t> data(64);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint32_t(i * 0x01010101u);
  const auto original = data;
  TSonyPad a{}, b{};
  SonyDescramble(a, data.data(), 64, 0xC0FFEE, true);
  EXPECT_NE(data, original);
  SonyDescramble(b, data.data(), 64, 0xC0FFEE, true);
  EXPECT_EQ(data, original);
  // The pad's first word follows from the key: k x 48828125 + 1, byte-swapped.
  TSonyPad p{};
  uint32_t one = 0;
  SonyDescramble(p, &one, 0, 7, true);
  const uint32_t k0 = 7u * 48828125u + 1;
  EXPECT_EQ(p.Pad[0], (k0 >> 24) | (k0 >> 8 & 0xFF00) | (k0 << 8 & 0xFF0000) | (k0 << 24));
}

}  // namespace
