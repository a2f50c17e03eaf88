// The icon and cursor filter on hand-made files: directory and header sizes,
// every depth with its AND rows, alpha, backgrounds, cursors (offsets, colour
// tables, hot spots), the writer's entries and padded sizes, the probes,
// icon handles, and hostile files.
#include <gtest/gtest.h>

#include <string>

#include "imaging/core/ie_mask.h"
#include "imaging/formats/bmp_filter.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/formats/ico_filter.h"
#include "imaging/io/image_lib_io.h"
#include "tests/imaging/io/io_test_support.h"
#include "platform/win/shell.h"
#include "tests/imaging/formats/filter_test_streams.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qvtest::Le16;
using qvtest::Le32;
using qvtest::Progress;

int64_t RowBytes(int w, int bits) { return ((int64_t(w) * bits + 31) / 32) * 4; }

// One BMP image of an icon: header, colour table, XOR rows, AND rows. pixel(x, y)
// gives the index or the blue-green-red(-alpha) value of the pixel at y from the top.
struct DibImage {
  int width = 0, height = 0, bits = 32;
  int headerWidth = -1, headerHeight = -1;  // -1: width and 2 x height
  uint32_t colorsUsed = 0, compression = 0;
  int tableEntries = -1;  // -1: colorsUsed, else 2^bits for bits <= 8
  std::vector<TRGB> table;
  std::function<uint32_t(int x, int y)> pixel = [](int, int) { return 0u; };
  std::function<bool(int x, int y)> clear = [](int, int) { return false; };
  bool withAnd = true;
  Bytes Build() const {
    Bytes b;
    Le32(b, 40);
    Le32(b, uint32_t(headerWidth >= 0 ? headerWidth : width));
    Le32(b, uint32_t(headerHeight >= 0 ? headerHeight : 2 * height));
    Le16(b, 1);
    Le16(b, uint32_t(bits));
    Le32(b, compression);
    Le32(b, 0);
    Le32(b, 3780), Le32(b, 3780);
    Le32(b, colorsUsed), Le32(b, 0);
    const int entries = tableEntries >= 0 ? tableEntries : bits <= 8 ? (colorsUsed ? int(colorsUsed) : 1 << bits) : 0;
    for (int i = 0; i < entries; ++i) {
      const TRGB c = size_t(i) < table.size() ? table[size_t(i)] : TRGB{};
      b.insert(b.end(), {c.b, c.g, c.r, 0});
    }
    const int64_t xr = RowBytes(width, bits), ar = RowBytes(width, 1);
    for (int y = height - 1; y >= 0; --y) {
      Bytes row(size_t(xr), 0);
      for (int x = 0; x < width; ++x) {
        const uint32_t v = pixel(x, y);
        switch (bits) {
          case 1: if (v) row[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8)); break;
          case 4: row[size_t(x / 2)] |= uint8_t((v & 15) << ((x & 1) ? 0 : 4)); break;
          case 8: row[size_t(x)] = uint8_t(v); break;
          default:
            for (int k = 0; k < bits / 8; ++k) row[size_t(x * (bits / 8) + k)] = uint8_t(v >> (8 * k));
        }
      }
      b.insert(b.end(), row.begin(), row.end());
    }
    if (withAnd)
      for (int y = height - 1; y >= 0; --y) {
        Bytes row(size_t(ar), 0);
        for (int x = 0; x < width; ++x)
          if (clear(x, y)) row[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        b.insert(b.end(), row.begin(), row.end());
      }
    return b;
  }
};

struct Entry {
  int width = 0, height = 0, colors = 0, planes = 1, bitCount = 0;
  Bytes image;
  int64_t offsetShift = 0;  // added to the real offset
};

Bytes IconFile(int type, const std::vector<Entry>& entries) {
  Bytes b = {0, 0, uint8_t(type), 0};
  Le16(b, uint32_t(entries.size()));
  int64_t offset = 6 + 16 * int64_t(entries.size());
  for (const Entry& e : entries) {
    b.insert(b.end(), {uint8_t(e.width), uint8_t(e.height), uint8_t(e.colors), 0});
    Le16(b, uint32_t(e.planes));
    Le16(b, uint32_t(e.bitCount));
    Le32(b, uint32_t(e.image.size()));
    Le32(b, uint32_t(offset + e.offsetShift));
    offset += int64_t(e.image.size());
  }
  for (const Entry& e : entries) b.insert(b.end(), e.image.begin(), e.image.end());
  return b;
}

struct Read {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  Progress progress;
  TIEMaskOut mask;
};

std::unique_ptr<Read> ReadIcon(const Bytes& bytes, bool cursor = false, int index = 0,
                               const std::function<void(TIOParamsVals&)>& setup = nullptr) {
  auto r = std::make_unique<Read>();
  if (setup) setup(r->params);
  if (cursor) r->params.CurImageIndex = index;
  else r->params.IcoImageIndex = index;
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  if (cursor) ReadCURStream(s, r->bitmap, r->params, false, r->progress.rec, r->mask, false);
  else ReadICOStream(s, r->bitmap, r->params, false, r->progress.rec, r->mask, false);
  return r;
}

TRGB Px(Read& r, int x, int y) { return r.bitmap.GetPixelAsRGB(x, y); }
int Alpha(Read& r, int x, int y) { return r.mask ? r.mask->GetPixel(x, y) : 255; }

TEST(IcoFilter, AFileStartingWithBMIsReadAsABitmap) {
  auto picture = qvtest::Gradient(5, 4);
  TMemoryStream bmp;
  TIOParamsVals params(nullptr);
  Progress p;
  WriteBMPStream(bmp, *picture, params, p.rec, false);
  auto r = ReadIcon(qvtest::StreamBytes(bmp));
  ASSERT_FALSE(r->progress.Aborted());
  ASSERT_EQ(r->bitmap.Width(), 5);
  EXPECT_EQ(Px(*r, 4, 3), picture->GetPixelRGB(4, 3));
}

TEST(IcoFilter, TheImageHeaderDecidesTheSize) {
  DibImage img;
  img.width = 32, img.height = 32, img.bits = 32;
  img.pixel = [](int x, int y) { return 0xFF000000u | uint32_t(x) << 8 | uint32_t(y); };
  // The entry says 16 x 16, the header 32 x 64.
  auto r = ReadIcon(IconFile(1, {Entry{16, 16, 0, 1, 32, img.Build()}}));
  ASSERT_FALSE(r->progress.Aborted());
  EXPECT_EQ(r->bitmap.Width(), 32);
  EXPECT_EQ(r->bitmap.Height(), 32);
  EXPECT_EQ(Px(*r, 31, 5), (TRGB{5, 31, 0}));
  // An entry width of 0 takes the header's 256.
  DibImage big;
  big.width = 256, big.height = 256, big.bits = 24;
  auto b = ReadIcon(IconFile(1, {Entry{0, 0, 0, 1, 24, big.Build()}}));
  ASSERT_FALSE(b->progress.Aborted());
  EXPECT_EQ(b->bitmap.Width(), 256);
  EXPECT_EQ(b->bitmap.Height(), 256);
}

TEST(IcoFilter, ThirtyTwoBitAlphaOrTheAndRows) {
  DibImage img;
  img.width = 3, img.height = 2, img.bits = 32;
  img.clear = [](int x, int) { return x == 0; };
  // Real alpha wins over the AND rows.
  img.pixel = [](int x, int) { return uint32_t(100 * x) << 24 | 0x102030; };
  auto a = ReadIcon(IconFile(1, {Entry{3, 2, 0, 1, 32, img.Build()}}));
  ASSERT_FALSE(a->progress.Aborted());
  EXPECT_EQ(Alpha(*a, 0, 0), 0);
  EXPECT_EQ(Alpha(*a, 1, 1), 100);
  EXPECT_EQ(Alpha(*a, 2, 1), 200);
  // Alpha bytes all 0: the AND rows give the transparency.
  img.pixel = [](int, int) { return 0x102030u; };
  auto z = ReadIcon(IconFile(1, {Entry{3, 2, 0, 1, 32, img.Build()}}));
  EXPECT_EQ(Alpha(*z, 0, 1), 0);
  EXPECT_EQ(Alpha(*z, 1, 1), 255);
  EXPECT_EQ(Px(*z, 1, 1), (TRGB{0x30, 0x20, 0x10}));
  // Alpha bytes all 0 and no AND rows: an opaque picture, not an invisible one.
  img.withAnd = false;
  auto n = ReadIcon(IconFile(1, {Entry{3, 2, 0, 1, 32, img.Build()}}));
  ASSERT_FALSE(n->progress.Aborted());
  EXPECT_EQ(n->mask, nullptr);
}

TEST(IcoFilter, OpaqueIconsReturnNoMaskButCursorsDo) {
  DibImage img;
  img.width = 2, img.height = 2, img.bits = 24;
  img.pixel = [](int, int) { return 0x445566u; };
  auto icon = ReadIcon(IconFile(1, {Entry{2, 2, 0, 1, 24, img.Build()}}));
  ASSERT_FALSE(icon->progress.Aborted());
  EXPECT_EQ(icon->mask, nullptr);
  auto cursor = ReadIcon(IconFile(2, {Entry{2, 2, 0, 3, 4, img.Build()}}), true);
  ASSERT_FALSE(cursor->progress.Aborted());
  ASSERT_NE(cursor->mask, nullptr);
  EXPECT_EQ(cursor->mask->GetPixel(1, 1), 255);
  EXPECT_EQ(cursor->params.CurHotSpotX, 3);
  EXPECT_EQ(cursor->params.CurHotSpotY, 4);
}

TEST(IcoFilter, TwentyImagesFillSixteenSizesAndAnyCanBeRead) {
  std::vector<Entry> entries;
  for (int i = 0; i < 20; ++i) {
    DibImage img;
    img.width = img.height = i + 1, img.bits = 24;
    img.pixel = [i](int, int) { return uint32_t(i); };
    entries.push_back(Entry{i + 1, i + 1, 0, 1, 24, img.Build()});
  }
  auto r = ReadIcon(IconFile(1, entries), false, 18);
  ASSERT_FALSE(r->progress.Aborted());
  EXPECT_EQ(r->params.ImageCount, 20);
  EXPECT_EQ(r->bitmap.Width(), 19);
  EXPECT_EQ(Px(*r, 0, 0).b, 18);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(r->params.IcoSizes[i].Width, i + 1);
    EXPECT_EQ(r->params.IcoBitCounts[i], 24);
  }
  // An index out of range reads nothing and is no error.
  auto out = ReadIcon(IconFile(1, entries), false, 20);
  EXPECT_FALSE(out->progress.Aborted());
  EXPECT_TRUE(out->bitmap.IsEmpty());
}

TEST(IcoFilter, OneBitTransparencyFollowsTheBackground) {
  // Pixels: 0 black opaque, 1 white opaque, 2 transparent (AND 1, XOR 0), 3 inverting (AND 1, XOR 1).
  DibImage img;
  img.width = 4, img.height = 1, img.bits = 1;
  img.table = {MakeRGB(0, 0, 0), MakeRGB(255, 255, 255)};
  img.pixel = [](int x, int) { return uint32_t(x == 1 || x == 3); };
  img.clear = [](int x, int) { return x >= 2; };
  const Bytes file = IconFile(1, {Entry{4, 1, 2, 0, 0, img.Build()}});
  auto white = ReadIcon(file);
  ASSERT_FALSE(white->progress.Aborted());
  const TRGB k{}, w = MakeRGB(255, 255, 255);
  EXPECT_EQ(Px(*white, 0, 0), k);
  EXPECT_EQ(Px(*white, 1, 0), w);
  EXPECT_EQ(Px(*white, 2, 0), w);
  EXPECT_EQ(Px(*white, 3, 0), k);
  EXPECT_EQ(Alpha(*white, 2, 0), 0);
  auto black = ReadIcon(file, false, 0, [](TIOParamsVals& p) { p.IcoBackground = MakeRGB(0, 0, 0); });
  EXPECT_EQ(Px(*black, 2, 0), k);
  EXPECT_EQ(Px(*black, 3, 0), w);
}

TEST(IcoFilter, IndexedImagesTakeTheBackgroundAndTheirTable) {
  DibImage img;
  img.width = 5, img.height = 2, img.bits = 4;  // an odd width: the last low nibble is padding
  img.table = {MakeRGB(1, 1, 1), MakeRGB(200, 0, 0), MakeRGB(0, 200, 0)};
  img.colorsUsed = 3;  // a short table: 3 entries, not 16
  img.pixel = [](int x, int y) { return uint32_t(y == 0 ? x % 3 : 9); };
  img.clear = [](int x, int y) { return y == 0 && x == 4; };
  for (bool cursor : {false, true}) {
    auto r = ReadIcon(IconFile(cursor ? 2 : 1, {Entry{5, 2, 16, 0, 0, img.Build()}}), cursor, 0,
                      [](TIOParamsVals& p) { p.IcoBackground = p.CurBackground = MakeRGB(7, 8, 9); });
    ASSERT_FALSE(r->progress.Aborted()) << cursor;
    EXPECT_EQ(Px(*r, 1, 0), MakeRGB(200, 0, 0)) << cursor;
    EXPECT_EQ(Px(*r, 2, 0), MakeRGB(0, 200, 0)) << cursor;
    EXPECT_EQ(Px(*r, 4, 0), MakeRGB(7, 8, 9)) << cursor;
    EXPECT_EQ(Px(*r, 0, 1), TRGB{}) << cursor;  // index 9 is past the table: black
    EXPECT_EQ(Alpha(*r, 4, 0), 0) << cursor;
    EXPECT_EQ(r->params.PaletteCount, 3) << cursor;
  }
  // Native reading keeps the indices and the table.
  auto n = ReadIcon(IconFile(1, {Entry{5, 2, 16, 0, 0, img.Build()}}), false, 0,
                    [](TIOParamsVals& p) { p.NativePixelFormat = true; });
  ASSERT_EQ(n->bitmap.PixelFormat(), ie8p);
  EXPECT_EQ(n->bitmap.GetPixel8(2, 0), 2);
  EXPECT_EQ(n->bitmap.GetPixel8(3, 1), 9);
}

TEST(IcoFilter, IconsAtAPositionAreFoundReadAndWrittenFromThere) {
  DibImage img;
  img.width = img.height = 2, img.bits = 24;
  img.pixel = [](int x, int y) { return uint32_t(x * 16 + y); };
  Bytes file = Bytes(7, 0xEE);
  const Bytes icon = IconFile(1, {Entry{2, 2, 0, 1, 24, img.Build()}});
  file.insert(file.end(), icon.begin(), icon.end());
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  s.SetPosition(7);
  EXPECT_TRUE(IsICOStream(s));
  EXPECT_FALSE(IsCURStream(s));
  EXPECT_EQ(s.Position(), 7);
  TIEBitmap b;
  TIOParamsVals params(nullptr);
  Progress p;
  TIEMaskOut mask;
  ReadICOStream(s, b, params, false, p.rec, mask, false);
  ASSERT_FALSE(p.Aborted());
  EXPECT_EQ(b.GetPixelRGB(1, 0).b, 16);

  TMemoryStream out;
  out.WriteBuffer("head", 4);
  WriteICOStream(out, b, params, p.rec, {{2, 2}}, {24});
  const Bytes written = qvtest::StreamBytes(out);
  EXPECT_EQ(written[4 + 6 + 12], 22);  // the image right after this icon's own directory
  out.SetPosition(4);
  EXPECT_TRUE(IsICOStream(out));
}

TEST(IcoFilter, ProbesCheckEveryEntry) {
  DibImage img;
  img.width = img.height = 2, img.bits = 24;
  const Bytes good = IconFile(1, {Entry{2, 2, 0, 1, 24, img.Build()}});
  struct Case {
    const char* name;
    Bytes file;
    bool icon, cursor;
  };
  Bytes reserved = good;
  reserved[9] = 1;
  Bytes twoListed(good.begin(), good.begin() + 23);
  twoListed[4] = 2;
  Bytes inside = good;
  inside[18] = 10;  // the offset points into the directory
  const Case cases[] = {
      {"icon", good, true, false},
      {"cursor", IconFile(2, {Entry{2, 2, 0, 1, 1, img.Build()}}), false, true},
      {"short", Bytes(good.begin(), good.begin() + 22), false, false},
      {"reserved_byte", reserved, false, false},
      {"offset_inside_directory", inside, false, false},
      {"no_entries", {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, false},
      {"entries_missing", twoListed, false, false},
  };
  for (const Case& c : cases) {
    TCustomMemoryStream s(c.file.data(), int64_t(c.file.size()));
    EXPECT_EQ(IsICOStream(s), c.icon) << c.name;
    EXPECT_EQ(IsCURStream(s), c.cursor) << c.name;
    EXPECT_EQ(s.Position(), 0) << c.name;
  }
}

TEST(IcoFilter, HostileFilesFailCleanly) {
  DibImage img;
  img.width = img.height = 4, img.bits = 8;
  img.table = {MakeRGB(1, 2, 3)};
  const Bytes image = img.Build();
  auto file = [&](const std::function<void(Entry&, Bytes&)>& change, int type = 1) {
    Entry e{4, 4, 0, 0, 0, image};
    change(e, e.image);
    return IconFile(type, {e});
  };
  const Bytes plain = file([](Entry&, Bytes&) {});
  struct Case {
    const char* name;
    Bytes file;
    bool cursor;
    const char* reason;  // the rule that fired, as the progress record names it
  };
  const char* past = "the image lies past the end";
  const char* depth = "a depth the icon reader does not take";
  const char* headerSize = "a header size outside the data";
  const Case cases[] = {
      {"empty", {}, false, "the directory header is cut short"},
      {"directory_cut", Bytes(plain.begin(), plain.begin() + 12), false, "the directory is cut short"},
      {"offset_past_end", file([](Entry& e, Bytes&) { e.offsetShift = 100000; }), false, past},
      {"cursor_offset_past_end", file([](Entry& e, Bytes&) { e.offsetShift = 100000; }, 2), true, past},
      {"offset_huge", file([](Entry& e, Bytes&) { e.offsetShift = 0x7FFFFFF0; }), false, past},
      {"no_depth", file([](Entry&, Bytes& b) { b[14] = 0; }), false, "a depth of zero"},
      {"depth_16", file([](Entry&, Bytes& b) { b[14] = 16; }), false, depth},
      {"depth_huge", file([](Entry&, Bytes& b) { b[14] = 0xFF, b[15] = 0xFF; }), false, depth},
      {"rle", file([](Entry&, Bytes& b) { b[16] = 1; }), false, "a compression the icon reader does not take"},
      {"header_size_small", file([](Entry&, Bytes& b) { b[0] = 12; }), false, headerSize},
      {"header_size_huge", file([](Entry&, Bytes& b) { b[3] = 0x7F; }), false, headerSize},
      {"width_negative", file([](Entry& e, Bytes& b) { e.width = 0, b[7] = 0x80; }), false,
       "a side that is not a positive number"},
      {"huge_for_data", file([](Entry& e, Bytes& b) { e.width = e.height = 0, b[6] = 0x70, b[10] = 0x70; }), false,
       "the data cannot fill the rows"},
      {"rows_cut", file([](Entry&, Bytes& b) { b.resize(40 + 1024 + 10); }), false, "the data cannot fill the rows"},
      {"table_cut", file([](Entry&, Bytes& b) { b.resize(40 + 100); }), false, "the colour table is cut short"},
  };
  for (const Case& c : cases) {
    auto r = ReadIcon(c.file, c.cursor);
    EXPECT_TRUE(r->progress.Aborted()) << c.name;
    EXPECT_STREQ(r->progress.rec.Refusal, c.reason) << c.name;
    EXPECT_TRUE(r->bitmap.IsEmpty()) << c.name;
  }
  // Indexed rows without their AND rows: the picture stays, the short data is reported.
  auto noAnd = ReadIcon(file([](Entry&, Bytes& b) { b.resize(b.size() - 16); }));
  EXPECT_TRUE(noAnd->progress.Aborted());
  EXPECT_STREQ(noAnd->progress.rec.Refusal, "the transparency rows are missing");
  EXPECT_EQ(noAnd->bitmap.Width(), 4);
}

TEST(IcoFilter, WrittenEntriesAndPaddedSizes) {
  auto picture = qvtest::Gradient(60, 60);
  picture->AlphaChannel()->Fill(255);
  picture->SetAlpha(0, 0, 0);
  TIOParamsVals params(nullptr);
  TMemoryStream out;
  Progress p;
  WriteICOStream(out, *picture, params, p.rec, {{48, 48}, {32, 32}, {20, 20}, {256, 256}}, {32, 8, 4, 24});
  ASSERT_FALSE(p.Aborted());
  const Bytes b = qvtest::StreamBytes(out);
  ASSERT_EQ(b[4], 4);
  auto entry = [&](int i) { return b.data() + 6 + 16 * i; };
  auto le32 = [](const uint8_t* q) { return uint32_t(q[0] | q[1] << 8 | q[2] << 16 | uint32_t(q[3]) << 24); };
  struct Want {
    int size, colors, planes, bits;
  };
  const Want want[] = {{48, 0, 1, 32}, {32, 255, 0, 0}, {20, 16, 0, 0}, {0, 0, 1, 24}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(entry(i)[0], want[i].size) << i;
    EXPECT_EQ(entry(i)[1], want[i].size) << i;
    EXPECT_EQ(entry(i)[2], want[i].colors) << i;
    EXPECT_EQ(entry(i)[4], want[i].planes) << i;
    EXPECT_EQ(entry(i)[6], want[i].bits) << i;
  }
  // The header's image size counts the padded rows of both sets.
  const uint8_t* four = b.data() + le32(entry(2) + 12);
  EXPECT_EQ(le32(four + 20), uint32_t(12 * 20 + 4 * 20));
  EXPECT_EQ(le32(entry(2) + 8), uint32_t(40 + 64 + 12 * 20 + 4 * 20));
  const uint8_t* eight = b.data() + le32(entry(1) + 12);
  EXPECT_EQ(le32(eight + 20), uint32_t(32 * 32 + 4 * 32));
  EXPECT_EQ(le32(b.data() + le32(entry(0) + 12) + 20), 0u);

  // Each image reads back at its size; the transparent corner is transparent at every depth.
  for (int i = 0; i < 3; ++i) {
    auto r = ReadIcon(b, false, i);
    ASSERT_FALSE(r->progress.Aborted()) << i;
    EXPECT_EQ(r->bitmap.Width(), want[i].size) << i;
    EXPECT_EQ(Alpha(*r, 0, 0), 0) << i;
    EXPECT_EQ(Alpha(*r, 5, 5), 255) << i;
  }
  auto big = ReadIcon(b, false, 3);
  EXPECT_EQ(big->bitmap.Width(), 256);
}

TEST(IcoFilter, RoundTripsKeepPixelsAndAlpha) {
  auto picture = qvtest::Gradient(16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) picture->SetAlpha(x, y, uint8_t(x * 16 + y));
  TIOParamsVals params(nullptr);
  TMemoryStream out;
  Progress p;
  WriteICOStream(out, *picture, params, p.rec, {{16, 16}}, {32});
  auto r = ReadIcon(qvtest::StreamBytes(out));
  ASSERT_FALSE(r->progress.Aborted());
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      ASSERT_EQ(Px(*r, x, y), picture->GetPixelRGB(x, y));
      ASSERT_EQ(Alpha(*r, x, y), x * 16 + y);
    }
  // A 1-bit source: 1-bit by default, its bits as they were.
  TIEBitmap mono(9, 3, ie1g);
  for (int y = 0; y < 3; ++y) mono.ScanLine(y)[0] = uint8_t(0x3C << y), mono.ScanLine(y)[1] = 0x80;
  TMemoryStream m;
  WriteICOStream(m, mono, params, p.rec, {{9, 3}}, {0});
  auto q = ReadIcon(qvtest::StreamBytes(m));
  ASSERT_EQ(q->bitmap.PixelFormat(), ie1g);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(q->bitmap.ScanLine(y)[0], uint8_t(0x3C << y));
}

TEST(IcoFilter, WriterRefusals) {
  auto picture = qvtest::Gradient(8, 8);
  TIOParamsVals params(nullptr);
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> sizes;
  };
  for (const Case& c : {Case{"none", {}}, Case{"zero", {{0, 16}}}, Case{"negative", {{16, -1}}}}) {
    TMemoryStream out;
    Progress p;
    WriteICOStream(out, *picture, params, p.rec, c.sizes, std::vector<int>(c.sizes.size(), 32));
    EXPECT_TRUE(p.Aborted()) << c.name;
    EXPECT_EQ(out.Size(), 0) << c.name;
  }
  for (int64_t limit : {0, 10, 100, 2000}) {
    qvtest::TFullDiskStream full(limit);
    Progress p;
    WriteICOStream(full, *picture, params, p.rec, {{32, 32}, {16, 16}}, {32, 8});
    EXPECT_TRUE(p.Aborted()) << limit;
  }
}

// ---- icon handles ----

HICON IconFromImage(const Bytes& image) {
  return CreateIconFromResourceEx(image.data(), DWORD(image.size()), TRUE, ICON_RESOURCE_VERSION, 0, 0,
                                  LR_DEFAULTCOLOR);
}

TEST(IcoFilter, IconHandlesBecomeStreamsAndBitmaps) {
  DibImage img;
  img.width = img.height = 4, img.bits = 32;
  img.pixel = [](int x, int y) { return uint32_t(x == 0 ? 0 : 255) << 24 | uint32_t(x * 40) << 16 | uint32_t(y * 50); };
  HICON icon = IconFromImage(img.Build());
  ASSERT_NE(icon, nullptr);
  TMemoryStream s;
  ASSERT_TRUE(TryIconHandleToStream(s, icon));
  s.SetPosition(0);
  EXPECT_TRUE(IsICOStream(s));
  TIEBitmap b(1, 1, ie8g);
  ASSERT_TRUE(IconHandleToBitmap(icon, b));
  ASSERT_EQ(b.Width(), 4);
  ASSERT_EQ(b.PixelFormat(), ie24RGB);
  EXPECT_EQ(b.GetPixelRGB(3, 2), MakeRGB(120, 0, 100));
  ASSERT_TRUE(b.HasAlphaChannel());
  EXPECT_EQ(b.GetAlpha(0, 1), 0);
  EXPECT_EQ(b.GetAlpha(2, 1), 255);
  DestroyIcon(icon);

  // A monochrome icon (no colour bitmap): its mask bitmap holds both sets of rows.
  DibImage mono;
  mono.width = 8, mono.height = 2, mono.bits = 1;
  mono.table = {MakeRGB(0, 0, 0), MakeRGB(255, 255, 255)};
  mono.pixel = [](int x, int) { return uint32_t(x % 2); };
  mono.clear = [](int x, int y) { return y == 1 && x < 2; };
  HICON m = IconFromImage(mono.Build());
  ASSERT_NE(m, nullptr);
  TIEBitmap mb;
  ASSERT_TRUE(IconHandleToBitmap(m, mb));
  EXPECT_EQ(mb.Width(), 8);
  EXPECT_EQ(mb.Height(), 2);
  EXPECT_EQ(mb.GetPixelAsRGB(3, 0), MakeRGB(255, 255, 255));
  EXPECT_EQ(mb.GetPixelAsRGB(4, 0), TRGB{});
  ASSERT_TRUE(mb.HasAlphaChannel());
  EXPECT_EQ(mb.GetAlpha(0, 1), 0);
  EXPECT_EQ(mb.GetAlpha(2, 1), 255);
  DestroyIcon(m);

  // No handle: nothing written, the bitmap left alone.
  TMemoryStream none;
  EXPECT_FALSE(TryIconHandleToStream(none, nullptr));
  EXPECT_EQ(none.Size(), 0);
  TIEBitmap kept(2, 2, ie8g);
  EXPECT_FALSE(IconHandleToBitmap(nullptr, kept));
  EXPECT_EQ(kept.Width(), 2);
  EXPECT_EQ(kept.PixelFormat(), ie8g);
}

TEST(IcoFilter, IconBitsSizesFollowTheColoursAskedFor) {
  HBITMAP bitmap = CreateBitmap(5, 3, 1, 32, nullptr);
  struct Case {
    int colors, headerSize, bitsSize;
  };
  const Case cases[] = {{2, 48, 4 * 3}, {16, 40 + 64, 4 * 3}, {256, 40, 20 * 3}, {0, 40, 20 * 3}};
  for (const Case& c : cases) {
    int headerSize = -1, bitsSize = -1;
    GetIconBitsSize(bitmap, headerSize, bitsSize, c.colors);
    EXPECT_EQ(headerSize, c.headerSize) << c.colors;
    EXPECT_EQ(bitsSize, c.bitsSize) << c.colors;
  }
  DeleteObject(bitmap);
}

class TOneIconSource : public TShellIconSource {
public:
  explicit TOneIconSource(Bytes image) : FImage(std::move(image)) {}
  int IconCount(const std::string&) override { return 1; }
  HICON Icon(const std::string&, int, int) override { return nullptr; }
  HICON FileIcon(const std::string&, int) override { return IconFromImage(FImage); }

private:
  Bytes FImage;
};

TEST(IcoFilter, FileIconsComeFromTheShell) {
  DibImage img;
  img.width = img.height = 2, img.bits = 24;
  img.pixel = [](int, int) { return 0x00AA00u; };
  TOneIconSource source(img.Build());
  SetShellIconSource(&source);
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("doc.txt"), {1, 2, 3});
  TIEBitmap b;
  EXPECT_TRUE(LoadFileIconBitmap(dir.File("doc.txt"), b));
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.GetPixelRGB(1, 1), MakeRGB(0, 0xAA, 0));
  EXPECT_EQ(GetFileIconHandle(dir.File("missing.txt")), nullptr);
  SetShellIconSource(nullptr);
}

}  // namespace

// ---- through the input and output component ----

TEST(IcoFilter, TheComponentDetectsLoadsAndSavesTheseFormats) {
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  RegisterFormatFilters();
  RegisterSpecialFormats();
  auto picture = qvtest::Gradient(12, 9);
  picture->AlphaChannel()->Fill(255);
  picture->SetAlpha(1, 1, 0);
  for (TImageFileType type : {ioICO, ioTGA, ioPXM, ioWBMP}) {
    TIEBitmap source;
    source.Assign(picture.get());
    auto io = TImageLibIO::CreateForBitmap(&source);
    io->Params().IcoSizes[0] = TIOIcoSize{12, 9};
    io->Params().IcoBitCounts[0] = 32;
    TMemoryStream stream;
    io->SaveStream(stream, type);
    ASSERT_FALSE(io->Aborting()) << type;
    stream.SetPosition(0);
    TIEBitmap loaded;
    auto in = TImageLibIO::CreateForBitmap(&loaded);
    if (type == ioWBMP) in->LoadStreamAsType(stream, type);  // no content probe: known by its suffix
    else in->LoadStream(stream);
    ASSERT_FALSE(in->Aborting()) << type;
    EXPECT_EQ(in->Params().FileType, type);
    ASSERT_EQ(loaded.Width(), 12) << type;
    if (type == ioWBMP) continue;
    EXPECT_EQ(loaded.GetPixelAsRGB(7, 5), picture->GetPixelRGB(7, 5)) << type;
    if (type == ioICO || type == ioTGA) {
      ASSERT_TRUE(loaded.HasAlphaChannel()) << type;
      EXPECT_EQ(loaded.GetAlpha(1, 1), 0) << type;
      EXPECT_EQ(loaded.GetAlpha(2, 1), 255) << type;
    }
  }
}
