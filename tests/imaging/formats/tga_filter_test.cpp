// The Targa filter on hand-made files: row order and right-to-left rows at
// every depth, colour maps (past 255 too), run-length packets across rows,
// alpha, 4-bit files, the extension area, the writer's forms and hostile input.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "imaging/core/ie_mask.h"
#include "imaging/formats/tga_filter.h"
#include "platform/rtl/sysutils.h"
#include "tests/imaging/formats/filter_test_streams.h"
#include "tests/imaging/formats/format_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qvtest::Le16;
using qvtest::Progress;

struct Tga {
  int type = 2, depth = 24, descriptor = 0, width = 0, height = 0;
  int mapType = 0, mapFirst = 0, mapLength = 0, mapEntry = 0;
  std::string id;
  Bytes map, pixels;
  Bytes Build() const {
    Bytes b = {uint8_t(id.size()), uint8_t(mapType), uint8_t(type)};
    Le16(b, uint32_t(mapFirst));
    Le16(b, uint32_t(mapLength));
    b.push_back(uint8_t(mapEntry));
    Le16(b, 0), Le16(b, 0);
    Le16(b, uint32_t(width)), Le16(b, uint32_t(height));
    b.push_back(uint8_t(depth));
    b.push_back(uint8_t(descriptor));
    b.insert(b.end(), id.begin(), id.end());
    b.insert(b.end(), map.begin(), map.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
  }
};

struct Read {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  Progress progress;
  TIEMaskOut mask;
};

std::unique_ptr<Read> ReadBytes(const Bytes& bytes, bool paramsOnly = false) {
  auto r = std::make_unique<Read>();
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  ReadTGAStream(s, r->bitmap, r->params, r->progress.rec, paramsOnly, r->mask, false);
  return r;
}

// "rgb" of each pixel from the top, as hex pairs; alpha appended when a mask came back.
std::string Pixels(Read& r) {
  std::string out;
  char buf[16];
  for (int y = 0; y < r.bitmap.Height(); ++y)
    for (int x = 0; x < r.bitmap.Width(); ++x) {
      const TRGB c = r.bitmap.GetPixelAsRGB(x, y);
      std::snprintf(buf, sizeof buf, "%02x%02x%02x", c.r, c.g, c.b);
      out += buf;
      if (r.mask) {
        std::snprintf(buf, sizeof buf, "/%02x", r.mask->GetPixel(x, y));
        out += buf;
      }
      out += x + 1 < r.bitmap.Width() ? " " : "|";
    }
  return out;
}

// A 3 x 2 picture at each depth as rows in file order (bottom row first for a
// bottom-up file): row A = pixels 1 2 3, row B = pixels 4 5 6.
struct DepthCase {
  const char* name;
  int type, depth, mapEntry;
  Bytes map, rowA, rowB;
  std::string topA_B;  // what a top-down file reads: row A above row B
  std::string topA_B_mirrored;
};
// How the case reads in the test list and in a failure.
void PrintTo(const DepthCase& c, std::ostream* os) { *os << c.name; }

class TgaRowOrder : public ::testing::TestWithParam<DepthCase> {};

TEST_P(TgaRowOrder, BitFiveAlonePicksTheOrderAndBitFourMirrors) {
  const DepthCase& c = GetParam();
  auto file = [&](int descriptor) {
    Tga t;
    t.type = c.type, t.depth = c.depth, t.width = 3, t.height = 2, t.descriptor = descriptor;
    if (!c.map.empty()) t.mapType = 1, t.mapLength = int(c.map.size()) / (c.mapEntry / 8), t.mapEntry = c.mapEntry;
    t.map = c.map;
    const bool top = descriptor & 0x20;
    t.pixels = top ? c.rowA : c.rowB;
    const Bytes& second = top ? c.rowB : c.rowA;
    t.pixels.insert(t.pixels.end(), second.begin(), second.end());
    return t.Build();
  };
  auto topDown = ReadBytes(file(0x20));
  auto bottomUp = ReadBytes(file(0x00));
  auto mirroredBottomUp = ReadBytes(file(0x10));
  auto mirroredTopDown = ReadBytes(file(0x30));
  for (Read* r : {topDown.get(), bottomUp.get(), mirroredBottomUp.get(), mirroredTopDown.get()})
    ASSERT_FALSE(r->progress.Aborted()) << c.name;
  EXPECT_EQ(Pixels(*topDown), c.topA_B) << c.name;
  EXPECT_EQ(Pixels(*bottomUp), c.topA_B) << c.name;
  EXPECT_EQ(Pixels(*mirroredBottomUp), c.topA_B_mirrored) << c.name;
  EXPECT_EQ(Pixels(*mirroredTopDown), c.topA_B_mirrored) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Depths, TgaRowOrder,
    ::testing::Values(
        DepthCase{"d24", 2, 24, 0, {}, {1, 0, 0, 2, 0, 0, 3, 0, 0}, {4, 0, 0, 5, 0, 0, 6, 0, 0},
                  "000001 000002 000003|000004 000005 000006|", "000003 000002 000001|000006 000005 000004|"},
        DepthCase{"d32_alpha", 2, 32, 0, {}, {1, 0, 0, 10, 2, 0, 0, 20, 3, 0, 0, 30},
                  {4, 0, 0, 40, 5, 0, 0, 50, 6, 0, 0, 60},
                  "000001/0a 000002/14 000003/1e|000004/28 000005/32 000006/3c|",
                  "000003/1e 000002/14 000001/0a|000006/3c 000005/32 000004/28|"},
        DepthCase{"d16", 2, 16, 0, {}, {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00}, {0xFF, 0x7F, 0x00, 0x00, 0x21, 0x04},
                  "ff0000 00ff00 0000ff|ffffff 000000 080808|", "0000ff 00ff00 ff0000|080808 000000 ffffff|"},
        // Grey and alpha bytes in a 16-bit grey file (types 3 and 11): they
        // were read as 5-5-5 colour.
        DepthCase{"d16_grey_alpha", 3, 16, 0, {}, {10, 100, 20, 200, 30, 255}, {40, 0, 50, 1, 60, 2},
                  "0a0a0a/64 141414/c8 1e1e1e/ff|282828/00 323232/01 3c3c3c/02|",
                  "1e1e1e/ff 141414/c8 0a0a0a/64|3c3c3c/02 323232/01 282828/00|"},
        DepthCase{"d8_grey", 3, 8, 0, {}, {1, 2, 3}, {4, 5, 6}, "010101 020202 030303|040404 050505 060606|",
                  "030303 020202 010101|060606 050505 040404|"},
        DepthCase{"d8_mapped", 1, 8, 24, {0, 0, 9, 0, 9, 0, 9, 0, 0}, {0, 1, 2}, {2, 1, 0},
                  "090000 000900 000009|000009 000900 090000|", "000009 000900 090000|090000 000900 000009|"},
        DepthCase{"d1", 3, 1, 0, {}, {0xA0}, {0x40}, "ffffff 000000 ffffff|000000 ffffff 000000|",
                  "ffffff 000000 ffffff|000000 ffffff 000000|"}),
    [](const ::testing::TestParamInfo<DepthCase>& c) { return std::string(c.param.name); });

TEST(TgaFilter, AlphaAllZeroGivesNoMaskAndAllOpaqueAFullOne) {
  for (uint8_t a : {0, 255}) {
    Tga t;
    t.depth = 32, t.width = 2, t.height = 1;
    t.pixels = {1, 2, 3, a, 4, 5, 6, a};
    auto r = ReadBytes(t.Build());
    ASSERT_FALSE(r->progress.Aborted());
    if (a == 0) {
      EXPECT_EQ(r->mask, nullptr);
    } else {
      ASSERT_NE(r->mask, nullptr);
      EXPECT_EQ(r->mask->GetPixel(0, 0), 255);
      EXPECT_EQ(r->mask->GetPixel(1, 0), 255);
    }
  }
}

TEST(TgaFilter, ColourMapsKeepTheFixedPaletteAroundThemAndSkipEntriesPast255) {
  // 16 entries from index 0: indices 16..255 keep the 3-3-2 colours.
  Tga t;
  t.type = 1, t.depth = 8, t.width = 3, t.height = 1, t.descriptor = 0x20;
  t.mapType = 1, t.mapLength = 16, t.mapEntry = 24;
  for (int i = 0; i < 16; ++i) t.map.insert(t.map.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
  t.pixels = {5, 16, 255};
  auto r = ReadBytes(t.Build());
  ASSERT_FALSE(r->progress.Aborted());
  EXPECT_EQ(Pixels(*r), "050505 1c9c3c fcfcfc|");
  EXPECT_EQ(r->params.PaletteCount, 16);

  // A map from 250 of 10 entries: 250..255 are taken, the other four passed over,
  // and the pixels after the map are read from their own place.
  Tga p;
  p.type = 1, p.depth = 8, p.width = 2, p.height = 1, p.descriptor = 0x20;
  p.mapType = 1, p.mapFirst = 250, p.mapLength = 10, p.mapEntry = 24;
  for (int i = 0; i < 10; ++i) p.map.insert(p.map.end(), {uint8_t(i), 0, 0x40});
  p.pixels = {250, 255};
  auto q = ReadBytes(p.Build());
  ASSERT_FALSE(q->progress.Aborted());
  EXPECT_EQ(Pixels(*q), "400000 400005|");
  EXPECT_EQ(q->params.PaletteCount, 256);

  // 32-bit map entries bring alpha.
  Tga a;
  a.type = 1, a.depth = 8, a.width = 2, a.height = 1, a.descriptor = 0x20;
  a.mapType = 1, a.mapLength = 2, a.mapEntry = 32;
  a.map = {1, 2, 3, 0, 4, 5, 6, 200};
  a.pixels = {0, 1};
  auto m = ReadBytes(a.Build());
  EXPECT_EQ(Pixels(*m), "030201/00 060504/c8|");
}

TEST(TgaFilter, FourBitFilesAndRunsAcrossRowsRead) {
  Tga f;
  f.type = 1, f.depth = 4, f.width = 3, f.height = 1, f.descriptor = 0x20;
  f.mapType = 1, f.mapLength = 16, f.mapEntry = 24;
  for (int i = 0; i < 16; ++i) f.map.insert(f.map.end(), {uint8_t(i * 16), 0, 0});
  f.pixels = {0x1F, 0x20};
  auto r = ReadBytes(f.Build());
  ASSERT_FALSE(r->progress.Aborted());
  EXPECT_EQ(Pixels(*r), "000010 0000f0 000020|");
  EXPECT_EQ(r->params.BitsPerSample, 4);

  // A run of 10 fills the last 4 pixels of one row and the first 6 of the
  // next; a literal packet of 2 ends the picture.
  Tga t;
  t.type = 10, t.depth = 24, t.width = 8, t.height = 2, t.descriptor = 0x20;
  t.pixels = {0x83, 1, 1, 1, 0x89, 2, 2, 2, 0x01, 3, 3, 3, 4, 4, 4};
  auto q = ReadBytes(t.Build());
  ASSERT_FALSE(q->progress.Aborted());
  EXPECT_EQ(Pixels(*q),
            "010101 010101 010101 010101 020202 020202 020202 020202|"
            "020202 020202 020202 020202 020202 020202 030303 040404|");
}

TEST(TgaFilter, HostileFilesFailCleanly) {
  Tga ok;
  ok.width = 4, ok.height = 4, ok.pixels = Bytes(48, 7);
  struct Case {
    const char* name;
    Bytes file;
    bool allocated;      // the data ran short after the picture was made
    const char* reason;  // the rule that fired, as the progress record names it
  };
  auto with = [&](auto change) {
    Tga t = ok;
    change(t);
    return t.Build();
  };
  const Bytes good = ok.Build();
  const char* unfilled = "the data cannot fill the rows";
  const char* cut = "the rows are cut short";
  const Case cases[] = {
      {"empty", {}, false, "the header is cut short"},
      {"header_cut", Bytes(good.begin(), good.begin() + 10), false, "the header is cut short"},
      {"type_4", with([](Tga& t) { t.type = 4; }), false, "an image type that is not read"},
      {"depth_15", with([](Tga& t) { t.depth = 15; }), false, "a depth that is not read"},
      {"map_type_2", with([](Tga& t) { t.mapType = 2; }), false, "a colour map type that is not read"},
      {"width_0", with([](Tga& t) { t.width = 0; }), false, "a side of zero"},
      {"id_past_end", [&] { Bytes f = with([](Tga& t) { t.id = "abc"; }); f.resize(19); return f; }(), false,
       "the image ID runs past the end"},
      {"pixels_after_id_missing", with([](Tga& t) { t.id = "abc"; t.pixels.clear(); }), false, unfilled},
      {"map_past_end", with([](Tga& t) { t.mapType = 1, t.mapLength = 1000, t.mapEntry = 24; }), false,
       "the colour map runs past the end"},
      {"raw_rows_missing", with([](Tga& t) { t.pixels.resize(47); }), false, unfilled},
      {"huge_raw", with([](Tga& t) { t.width = t.height = 65535; }), false, unfilled},
      {"huge_rle", with([](Tga& t) { t.type = 10, t.width = t.height = 65535, t.pixels = {0xFF, 1, 2, 3}; }), false,
       unfilled},
      {"rle_one_bit", with([](Tga& t) { t.type = 11, t.depth = 1; }), false, "run-length data below 8 bits"},
      {"rle_runs_short", with([](Tga& t) { t.type = 10, t.pixels = {0x85, 1, 2, 3}; }), true, cut},
      {"rle_literal_cut", with([](Tga& t) { t.type = 10, t.pixels = {0x7F, 1, 2, 3, 4}; }), true, cut},
  };
  for (const Case& c : cases) {
    auto r = ReadBytes(c.file);
    EXPECT_TRUE(r->progress.Aborted()) << c.name;
    EXPECT_STREQ(r->progress.rec.Refusal, c.reason) << c.name;
    EXPECT_EQ(!r->bitmap.IsEmpty(), c.allocated) << c.name;
  }
  // What the short runs did reach stays, the rows below are cleared.
  auto r = ReadBytes(with([](Tga& t) { t.type = 10, t.descriptor = 0x20, t.pixels = {0x85, 1, 2, 3}; }));
  EXPECT_EQ(r->bitmap.GetPixelRGB(1, 1), (TRGB{1, 2, 3}));
  EXPECT_EQ(r->bitmap.GetPixelRGB(2, 1), TRGB{});
  EXPECT_EQ(r->bitmap.GetPixelRGB(3, 3), TRGB{});
}

TEST(TgaFilter, RatioFractionsFitSixteenBits) {
  struct Case {
    double value;
    int n, d;
  };
  const Case cases[] = {{1.5, 15000, 10000}, {2.2, 22000, 10000}, {6.5535, 65535, 10000}, {8.0, 8, 1},
                        {0.0, 0, 0},         {-1.0, 0, 0},        {1e9, 65535, 1}};
  for (const Case& c : cases) {
    uint16_t n = 1, d = 1;
    TGARatioFraction(c.value, n, d);
    EXPECT_EQ(n, c.n) << c.value;
    EXPECT_EQ(d, c.d) << c.value;
  }
  uint16_t n, d;
  TGARatioFraction(123.4567, n, d);
  EXPECT_NEAR(double(n) / d, 123.4567, 0.001);
}

struct Written {
  Bytes bytes;
  Progress progress;
};

std::unique_ptr<Written> Write(TIEBitmap& b, TIOParamsVals& params, TIEMask* mask = nullptr) {
  auto w = std::make_unique<Written>();
  TMemoryStream out;
  WriteTGAStream(out, b, params, w->progress.rec, mask);
  w->bytes = qvtest::StreamBytes(out);
  return w;
}

TEST(TgaFilter, WrittenFilesCarryTheExtensionAreaAndReadBack) {
  auto picture = qvtest::Gradient(9, 5);
  TIOParamsVals params(nullptr);
  params.TgaAuthor = "Someone with a name longer than forty characters in all";
  params.TgaJobName = "job";
  params.TgaKeyColor = MakeRGB(10, 20, 30);
  params.TgaAspectRatio = 8.0;
  params.TgaGamma = 2.2;
  params.TgaDateTime = EncodeDate(2024, 2, 29) + EncodeTime(13, 14, 15, 0);
  params.TgaImageID = std::string(300, 'i');
  for (bool compressed : {false, true}) {
    params.TgaCompressed = compressed;
    auto w = Write(*picture, params);
    ASSERT_FALSE(w->progress.Aborted());
    const Bytes& b = w->bytes;
    EXPECT_EQ(b[0], 255);  // 254 characters of the ID and its 0 byte
    EXPECT_EQ(b[2], compressed ? 10 : 2);
    EXPECT_EQ(b[17] & 0x20, 0x20);
    ASSERT_GT(b.size(), 26u);
    EXPECT_EQ(std::string(b.end() - 18, b.end() - 1), "TRUEVISION-XFILE.");
    auto r = ReadBytes(b);
    ASSERT_FALSE(r->progress.Aborted());
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 9; ++x) ASSERT_EQ(r->bitmap.GetPixelRGB(x, y), picture->GetPixelRGB(x, y));
    EXPECT_EQ(r->params.TgaImageID, std::string(254, 'i'));
    EXPECT_EQ(r->params.TgaAuthor, params.TgaAuthor.substr(0, 40));
    EXPECT_EQ(r->params.TgaJobName, "job");
    EXPECT_EQ(r->params.TgaKeyColor, params.TgaKeyColor);
    EXPECT_DOUBLE_EQ(r->params.TgaAspectRatio, 8.0);
    EXPECT_DOUBLE_EQ(r->params.TgaGamma, 2.2);
    EXPECT_NEAR(r->params.TgaDateTime, params.TgaDateTime, 1e-6);
    EXPECT_EQ(r->params.TgaCompressed, compressed);
  }
}

TEST(TgaFilter, WriterFormsByParameters) {
  auto picture = qvtest::Gradient(6, 4);
  // Alpha makes a 32-bit file, uncompressed, with eight alpha bits.
  {
    TIOParamsVals params(nullptr);
    TIEMask mask;
    mask.Allocate(6, 4, 8);
    mask.Fill(255);
    mask.SetPixel(2, 1, 77);
    auto w = Write(*picture, params, &mask);
    EXPECT_EQ(w->bytes[16], 32);
    EXPECT_EQ(w->bytes[17], 0x28);
    EXPECT_EQ(w->bytes[2], 2);
    auto r = ReadBytes(w->bytes);
    ASSERT_NE(r->mask, nullptr);
    EXPECT_EQ(r->mask->GetPixel(2, 1), 77);
    EXPECT_EQ(r->mask->GetPixel(3, 1), 255);
  }
  // Sixteen colours: an 8-bit file with a 16-entry map that reads back.
  {
    TIEBitmap few(8, 2, ie24RGB);
    for (int x = 0; x < 8; ++x)
      for (int y = 0; y < 2; ++y) few.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 30), uint8_t(y * 100), 7));
    TIOParamsVals params(nullptr);
    params.SamplesPerPixel = 1, params.BitsPerSample = 4;
    for (bool compressed : {false, true}) {
      params.TgaCompressed = compressed;
      auto w = Write(few, params);
      EXPECT_EQ(w->bytes[1], 1);
      EXPECT_EQ(w->bytes[2], compressed ? 9 : 1);
      EXPECT_EQ(w->bytes[5] | w->bytes[6] << 8, 16);
      EXPECT_EQ(w->bytes[16], 8);
      auto r = ReadBytes(w->bytes);
      ASSERT_FALSE(r->progress.Aborted());
      for (int x = 0; x < 8; ++x) EXPECT_EQ(r->bitmap.GetPixelRGB(x, 1), few.GetPixelRGB(x, 1)) << x;
    }
  }
  // Grey levels as pixel values, type 3 or 11.
  {
    TIEBitmap grey(4, 1, ie24RGB);
    for (int x = 0; x < 4; ++x) grey.SetPixelRGB(x, 0, MakeRGB(uint8_t(x * 60), uint8_t(x * 60), uint8_t(x * 60)));
    TIOParamsVals params(nullptr);
    params.SamplesPerPixel = 1, params.BitsPerSample = 8, params.TgaGrayscale = true;
    params.TgaCompressed = false;
    auto w = Write(grey, params);
    EXPECT_EQ(w->bytes[2], 3);
    EXPECT_EQ(w->bytes[1], 0);
    EXPECT_EQ(Bytes(w->bytes.begin() + 18 + 1, w->bytes.begin() + 18 + 1 + 4), (Bytes{0, 60, 120, 180}));
    params.TgaCompressed = true;
    EXPECT_EQ(Write(grey, params)->bytes[2], 11);
  }
  // One bit, never compressed.
  {
    TIEBitmap mono(10, 3, ie1g);
    for (int y = 0; y < 3; ++y) mono.ScanLine(y)[0] = uint8_t(0x5A + y), mono.ScanLine(y)[1] = 0x80;
    TIOParamsVals params(nullptr);
    params.SamplesPerPixel = 1, params.BitsPerSample = 1, params.TgaCompressed = true;
    auto w = Write(mono, params);
    EXPECT_EQ(w->bytes[2], 3);
    EXPECT_EQ(w->bytes[16], 1);
    auto r = ReadBytes(w->bytes);
    ASSERT_EQ(r->bitmap.PixelFormat(), ie1g);
    for (int y = 0; y < 3; ++y) EXPECT_EQ(r->bitmap.ScanLine(y)[0], uint8_t(0x5A + y));
  }
}

TEST(TgaFilter, RunLengthRowsDecodeBackAndPacketsStayInBounds) {
  const std::vector<Bytes> rows = {{7}, {1, 2}, {3, 3, 3, 1, 2, 3, 4, 4}, Bytes(300, 5), [] {
                                     Bytes v(700);
                                     for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(i * 7 % 5);
                                     return v;
                                   }()};
  for (const Bytes& row : rows) {
    Bytes out(row.size() * 2 + 16);
    const int n = EncodeTGARLERow(row.data(), int(row.size()), 1, out.data());
    Bytes back;
    for (int i = 0; i < n;) {
      const int count = (out[size_t(i)] & 0x7F) + 1;
      ASSERT_LE(count, 128);
      if (out[size_t(i)] & 0x80) {
        back.insert(back.end(), size_t(count), out[size_t(i) + 1]);
        i += 2;
      } else {
        back.insert(back.end(), out.begin() + i + 1, out.begin() + i + 1 + count);
        i += 1 + count;
      }
    }
    EXPECT_EQ(back, row);
  }
}

TEST(TgaFilter, WriterRefusesWhatItCannotWrite) {
  TIOParamsVals params(nullptr);
  TIEBitmap grey(4, 4, ie8g);
  Progress p;
  TMemoryStream out;
  WriteTGAStream(out, grey, params, p.rec, nullptr);
  EXPECT_TRUE(p.Aborted());
  EXPECT_EQ(out.Size(), 0);
  auto picture = qvtest::Gradient(20, 20);
  for (int64_t limit : {0, 10, 500, 1300}) {
    qvtest::TFullDiskStream full(limit);
    Progress q;
    WriteTGAStream(full, *picture, params, q.rec, nullptr);
    EXPECT_TRUE(q.Aborted()) << limit;
  }
}

}  // namespace
