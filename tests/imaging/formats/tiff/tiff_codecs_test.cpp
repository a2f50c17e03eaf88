// The LZW and fax codecs: the code sequences their rules name, round trips of
// varied rows in both bit orders, and data that ends or lies.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "imaging/formats/tiff/tiff_ccitt.h"
#include "imaging/formats/tiff/tiff_lzw.h"
#include "imaging/io/tiff_ifd.h"
#include "platform/rtl/streams.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Codes of width bits packed most significant bit first.
Bytes Pack(const std::vector<int>& codes, int width = 9) {
  Bytes out;
  uint32_t acc = 0;
  int n = 0;
  for (int c : codes) {
    acc = acc << width | uint32_t(c);
    n += width;
    while (n >= 8) out.push_back(uint8_t(acc >> (n -= 8)));
  }
  if (n > 0) out.push_back(uint8_t(acc << (8 - n)));
  return out;
}

// Every row of rowBytes the decoder gives, until it gives none.
std::vector<Bytes> LzwRows(const Bytes& data, int rowBytes, int rows, int fillOrder = 1) {
  std::vector<Bytes> out;
  void* state = nullptr;
  for (int r = 0; r < rows; ++r) {
    const uint8_t* p = TIFFLZWDecompress(data.data(), int64_t(data.size()), rowBytes, state, fillOrder);
    if (p == nullptr) break;
    out.emplace_back(p, p + rowBytes);
  }
  TIFFLZWDecompress(nullptr, 0, 0, state, 1);
  return out;
}

Bytes LzwEncode(const std::vector<Bytes>& parts) {
  TMemoryStream s;
  void* state = nullptr;
  for (const Bytes& p : parts) TIFFLZWCompress(p.data(), int64_t(p.size()), &s, state);
  TIFFLZWCompress(nullptr, 0, &s, state);
  Bytes out(size_t(s.Size()));
  s.SetPosition(0);
  s.Read(out.data(), s.Size());
  return out;
}

uint8_t Reverse(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = uint8_t(r | (((b >> i) & 1) << (7 - i)));
  return r;
}

}  // namespace

TEST(TiffLzw, CodeSequencesDecodeAsTheTableGrows) {
  struct Case {
    std::vector<int> codes;
    Bytes expected;
  };
  const Case cases[] = {
      {{256, 65, 66, 258, 257}, {65, 66, 65, 66}},
      {{256, 65, 258, 257}, {65, 65, 65}},  // the code being made
      {{256, 256, 7, 257}, {7}},            // repeated Clear
  };
  for (const Case& c : cases) {
    const auto rows = LzwRows(Pack(c.codes), int(c.expected.size()), 1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], c.expected);
  }
  // A code beyond the table right after Clear is damage.
  EXPECT_TRUE(LzwRows(Pack({256, 300, 257}), 1, 1).empty());
}

TEST(TiffLzw, CodesWidenOneCodeEarly) {
  // 253 new entries take the next free code to 511: the code after them is 10 bits.
  std::vector<int> codes = {256, 0};
  for (int i = 0; i < 253; ++i) codes.push_back(1);
  Bytes data = Pack(codes);
  // Append code 258 (the string 0 1) at 10 bits and End at 10 bits.
  Bytes bits;
  const int total = int(codes.size()) * 9;
  std::vector<int> widths(codes.size(), 9);
  widths.push_back(10), widths.push_back(10);
  codes.push_back(258), codes.push_back(257);
  Bytes packed;
  uint64_t acc = 0;
  int n = 0;
  for (size_t i = 0; i < codes.size(); ++i) {
    acc = acc << widths[i] | uint64_t(codes[i]);
    n += widths[i];
    while (n >= 8) packed.push_back(uint8_t(acc >> (n -= 8)));
  }
  if (n > 0) packed.push_back(uint8_t(acc << (8 - n)));
  (void)total;
  const auto rows = LzwRows(packed, 256, 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][253], 1);
  EXPECT_EQ(rows[0][254], 0);
  EXPECT_EQ(rows[0][255], 1);
}

TEST(TiffLzw, EncoderWritesTheCodesItsRulesNameAndRoundTrips) {
  EXPECT_EQ(LzwEncode({{65, 66, 65, 66}}), Pack({256, 65, 66, 258, 257}));
  EXPECT_EQ(LzwEncode({{65, 66}, {65, 66}}), LzwEncode({{65, 66, 65, 66}}));
  std::mt19937 rng(5);
  for (int kind = 0; kind < 3; ++kind) {
    // Noise (the table fills and clears), runs and a repeating pattern.
    std::vector<Bytes> rows(64, Bytes(1500));
    for (size_t r = 0; r < rows.size(); ++r)
      for (size_t i = 0; i < rows[r].size(); ++i)
        rows[r][i] = kind == 0 ? uint8_t(rng()) : kind == 1 ? uint8_t(i / 97 + r) : uint8_t((i * r) % 7);
    const Bytes data = LzwEncode(rows);
    EXPECT_EQ(LzwRows(data, 1500, 64), rows) << kind;
    Bytes reversed = data;
    for (uint8_t& b : reversed) b = Reverse(b);
    EXPECT_EQ(LzwRows(reversed, 1500, 64, 2), rows) << kind;
  }
}

TEST(TiffLzw, ShortDataPadsTheRowWithZerosThenStops) {
  Bytes data = LzwEncode({{9, 9, 9, 9, 9, 9, 9, 9, 9, 9}});
  data.resize(data.size() - 2);  // cut the last codes and End
  void* state = nullptr;
  const uint8_t* p = TIFFLZWDecompress(data.data(), int64_t(data.size()), 16, state, 1);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 9);
  EXPECT_EQ(p[15], 0);
  EXPECT_EQ(TIFFLZWDecompress(data.data(), int64_t(data.size()), 16, state, 1), nullptr);
  TIFFLZWDecompress(nullptr, 0, 0, state, 1);
  EXPECT_EQ(state, nullptr);
}

namespace {

// Rows to encode: set bit black.
std::vector<Bytes> FaxRows(int width, int rows, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Bytes> out;
  for (int r = 0; r < rows; ++r) {
    Bytes row(size_t((width + 31) / 32 * 4), 0);
    int x = 0;
    bool black = r % 3 == 0;
    while (x < width) {
      const int run = r % 5 == 0 ? int(rng() % 3000) : int(rng() % 40);
      for (int i = x; i < std::min(width, x + run); ++i)
        if (black) row[size_t(i / 8)] |= uint8_t(0x80 >> (i % 8));
      x += run;
      black = !black;
    }
    out.push_back(row);
  }
  return out;
}

// Decoded rows (set = white) against the encoded ones (set = black).
void ExpectInverse(const Bytes& decoded, const Bytes& encoded, int width, int row) {
  for (int x = 0; x < width; ++x) {
    const bool white = (decoded[size_t(x / 8)] >> (7 - x % 8)) & 1;
    const bool black = (encoded[size_t(x / 8)] >> (7 - x % 8)) & 1;
    ASSERT_NE(white, black) << "row " << row << " pixel " << x;
  }
}

Bytes Written(TMemoryStream& s) {
  Bytes out(size_t(s.Size()));
  s.SetPosition(0);
  s.Read(out.data(), s.Size());
  return out;
}

}  // namespace

TEST(TiffFax, RowsRoundTripInEveryCodingAndBitOrder) {
  BuildCCITTTrees();
  for (int width : {1, 8, 61, 1728, 5000}) {
    const auto rows = FaxRows(width, 24, unsigned(width));
    for (int coding = 0; coding < 4; ++coding)
      for (int fillOrder : {1, 2}) {
        SCOPED_TRACE("width " + std::to_string(width) + " coding " + std::to_string(coding) + " fill " +
                     std::to_string(fillOrder));
        TMemoryStream s;
        TCCITTEncoderState state;
        std::vector<int64_t> starts;
        for (const Bytes& r : rows) {
          starts.push_back(s.Position());
          if (coding == 0) CCITTEncodeHuffman(r.data(), width, s, fillOrder);
          if (coding == 1) CCITTEncodeG3(r.data(), width, s, fillOrder, state);
          if (coding == 2) CCITTEncodeG3_2D(r.data(), width, s, fillOrder, state);
          if (coding == 3) CCITTEncodeG4(r.data(), width, s, fillOrder, state);
        }
        if (coding == 1) CCITTEncodeG3(nullptr, width, s, fillOrder, state);
        if (coding == 2) CCITTEncodeG3_2D(nullptr, width, s, fillOrder, state);
        if (coding == 3) CCITTEncodeG4(nullptr, width, s, fillOrder, state);
        const Bytes data = Written(s);
        Bytes row(size_t((width + 7) / 8)), ref(row.size(), 0xFF);
        int64_t pos = 0;
        for (size_t r = 0; r < rows.size(); ++r) {
          if (coding == 0) {
            pos += CCITTDecode1D(row.data(), data.data() + pos, int64_t(data.size()) - pos, fillOrder, width);
          } else if (coding == 1) {
            pos = CCITTDecodeRow1D(row.data(), data.data(), int64_t(data.size()), fillOrder, pos, width);
          } else {
            pos = CCITTDecode2D(row.data(), data.data(), int64_t(data.size()), coding == 2, fillOrder, pos, ref.data(),
                                width);
          }
          ExpectInverse(row, rows[r], width, int(r));
        }
      }
  }
}

TEST(TiffFax, CodesOfTheRulesWorkedExamples) {
  BuildCCITTTrees();
  // Modified Huffman, width 8: white 3 (1000), black 2 (11), white 3 (1000).
  const Bytes mh = {0x8E, 0x00};
  uint8_t row[4] = {};
  EXPECT_EQ(CCITTDecode1D(row, mh.data(), 2, 1, 8), 2);
  EXPECT_EQ(row[0], 0xE7);
  // A leading EOL is skipped; a second one ends the row all white.
  const Bytes eol = {0x00, 0x18, 0xE0};  // EOL 000000000001 then 1000 11 1000
  CCITTDecodeRow1D(row, eol.data(), 3, 1, 0, 8);
  EXPECT_EQ(row[0], 0xE7);
  const Bytes twoEol = {0x00, 0x10, 0x01, 0x8E};
  CCITTDecodeRow1D(row, twoEol.data(), 4, 1, 0, 8);
  EXPECT_EQ(row[0], 0xFF);
  // Group 4, one white row of 8: V0, EOL, EOL, zero fill.
  TMemoryStream s;
  TCCITTEncoderState state;
  const uint8_t white[4] = {};
  CCITTEncodeG4(white, 8, s, 1, state);
  CCITTEncodeG4(nullptr, 8, s, 1, state);
  EXPECT_EQ(Written(s), (Bytes{0x80, 0x08, 0x00, 0x80}));
  EXPECT_EQ(state.PendingBits, 0);
  // A black run of 2600: the 2560 code then black 40 (000001101100).
  TMemoryStream h;
  Bytes black(328, 0xFF);
  CCITTEncodeHuffman(black.data(), 2600, h, 1);
  const Bytes coded = Written(h);
  // white 0 (00110101), 2560 (000000011111), black 40 (000001101100), zero fill.
  EXPECT_EQ(coded, (Bytes{0x35, 0x01, 0xF0, 0x6C}));
  // A Group 3 two-dimensional strip starts with EOL and a 1 bit.
  TMemoryStream g;
  TCCITTEncoderState s2;
  CCITTEncodeG3_2D(white, 8, g, 1, s2);
  const Bytes g3 = Written(g);
  ASSERT_GE(g3.size(), 2u);
  EXPECT_EQ(g3[0], 0x00);
  EXPECT_EQ(g3[1] & 0xF8, 0x18);
}

TEST(TiffFax, DamagedDataEndsRowsInsideTheData) {
  BuildCCITTTrees();
  // Horizontal mode runs that reach the data's end, fill zeros to the end,
  // vertical codes off the row: rows end, nothing is read past the data.
  const std::vector<Bytes> cases = {{0x20}, {0x00, 0x00}, {0x02, 0x02, 0x02}, {0xFF, 0xFF}, {0x03}, {0x04, 0x00}};
  for (const Bytes& data : cases) {
    for (bool eolHandling : {false, true}) {
      Bytes copy = data;  // exactly sized, so a read past it shows under the sanitizer
      uint8_t row[8], ref[8];
      std::fill(std::begin(ref), std::end(ref), 0xFF);
      const int64_t p = CCITTDecode2D(row, copy.data(), int64_t(copy.size()), eolHandling, 1, 0, ref, 61);
      EXPECT_LE(p, int64_t(copy.size()) * 8 + 12);
      const int64_t q = CCITTDecodeRow1D(row, copy.data(), int64_t(copy.size()), 2, 0, 61);
      EXPECT_LE(q, int64_t(copy.size()) * 8 + 32);
    }
  }
}

// Our raw Group 3 rows, one- and two-dimensional in both bit orders, go through
// libtiff's fax2tiff with no bad rows and come out as the rows we coded.
TEST(TiffFaxOracle, Fax2tiffReadsOurGroup3Rows) {
  if (!qvtest::HaveProgram("fax2tiff") || !qvtest::HaveProgram("tiffcp")) GTEST_SKIP() << "libtiff tools missing";
  BuildCCITTTrees();
  const int width = 1728;
  const auto rows = FaxRows(width, 40, 99);
  qvtest::TempDir dir;
  for (bool twoD : {false, true})
    for (int fillOrder : {1, 2}) {
      SCOPED_TRACE(std::string(twoD ? "2D" : "1D") + " fill " + std::to_string(fillOrder));
      TMemoryStream s;
      TCCITTEncoderState state;
      for (const Bytes& r : rows) {
        if (twoD) CCITTEncodeG3_2D(r.data(), width, s, fillOrder, state);
        else CCITTEncodeG3(r.data(), width, s, fillOrder, state);
      }
      if (twoD) CCITTEncodeG3_2D(nullptr, width, s, fillOrder, state);
      else CCITTEncodeG3(nullptr, width, s, fillOrder, state);
      qvtest::WriteFileBytes(dir.File("page.g3"), Written(s));
      std::string log;
      const std::string cmd = std::string("fax2tiff -3 ") + (twoD ? "-2" : "-1") + (fillOrder == 1 ? " -M" : " -L") +
                              " -X 1728 -m -v -o " + dir.File("page.tif") + " " + dir.File("page.g3") + " 2>&1";
      ASSERT_EQ(qvtest::RunCommand(cmd, &log), 0) << log;
      // The two-dimensional strip ends with an EOL, which fax2tiff takes for one more (white) row.
      EXPECT_NE(log.find(twoD ? "41 rows" : "40 rows"), std::string::npos) << log;
      EXPECT_NE(log.find("0 total bad rows"), std::string::npos) << log;
      // The page uncompressed, white = 0: compare the strip bytes with our rows.
      ASSERT_EQ(qvtest::RunCommand("tiffcp -c none -r 1000 " + dir.File("page.tif") + " " + dir.File("plain.tif")), 0);
      const Bytes plain = qvtest::ReadFileBytes(dir.File("plain.tif"));
      const size_t rowBytes = width / 8;
      ASSERT_GE(plain.size(), 8 + rowBytes * rows.size());
      TCustomMemoryStream ps(plain.data(), int64_t(plain.size()));
      TIFFHeader h;
      ASSERT_TRUE(ReadTIFFHeader(ps, h));
      TIFFDirectoryContext c;
      c.Stream = &ps;
      c.LittleEndian = h.LittleEndian;
      int pages = 0;
      ASSERT_TRUE(LoadTIFFDirectory(0, h.FirstOffset, c, pages));
      const size_t at = size_t(GetTIFFTagArrayInteger(c, 273, 0, 0));
      ASSERT_EQ(GetTIFFTagInteger(c, 262, -1), 0);  // WhiteIsZero: set bits black, as we coded
      ASSERT_LE(at + rowBytes * rows.size(), plain.size());
      for (size_t r = 0; r < rows.size(); ++r)
        ASSERT_TRUE(std::equal(rows[r].begin(), rows[r].begin() + std::ptrdiff_t(rowBytes),
                               plain.begin() + std::ptrdiff_t(at + r * rowBytes)))
            << "row " << r;
    }
}
