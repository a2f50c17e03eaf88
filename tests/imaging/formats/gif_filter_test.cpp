// The GIF filter on hand-made streams: pixel formats by palette, the frame
// index and count, transparency masks, what undecoded pixels and indices past
// the table become, the writer's palettes and sources, and hostile streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/core/ie_mask.h"
#include "imaging/formats/gif_filter.h"
#include "imaging/io/io_params.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/imaging/formats/gif_bytes.h"

namespace {

using Bytes = std::vector<uint8_t>;
using giftest::Control;
using giftest::GifBytes;
using giftest::HeaderWith;
using giftest::Pixels;
using qvtest::Progress;

struct Read {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  Progress progress;
  TIEMaskOut mask;
  int frames = -1;
  std::vector<int> reports;
};

void UseLibraryCodec(TIOParamsVals& p) {
  p.GifLZWDecoder = GIFLZWDecompress;
  p.GifLZWEncoder = GIFLZWCompress;
}

std::unique_ptr<Read> ReadBytes(const Bytes& bytes, int index = 0, bool nativeFormat = false, bool paramsOnly = false) {
  auto r = std::make_unique<Read>();
  UseLibraryCodec(r->params);
  r->params.GifImageIndex = index;
  r->params.NativePixelFormat = nativeFormat;
  r->progress.rec.ProgressEvent = [&reports = r->reports](TObject*, int per) { reports.push_back(per); };
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  ReadGIFStream(s, r->bitmap, r->frames, false, r->mask, paramsOnly, r->progress.rec, r->params);
  return r;
}

int Index(TIEBitmap& b, int x, int y) {
  if (b.PixelFormat() == ie1g) return (b.ScanLine(y)[x >> 3] >> (7 - (x & 7))) & 1;
  return b.ScanLine(y)[x];
}

TEST(GifFilter, PixelFormatFollowsThePalette) {
  const Bytes nine = {0, 1, 1, 0, 1, 0, 0, 0, 1};
  struct Case {
    const char* name;
    Bytes table;
    bool native;
    TIEBitmapFormat want;
  } cases[] = {
      {"black, white is 1-bit", {0, 0, 0, 255, 255, 255}, false, ie1g},
      {"white, black is colour", {255, 255, 255, 0, 0, 0}, false, ie24RGB},
      {"two colours natively", {10, 20, 30, 40, 50, 60}, true, ie8p},
      {"four colours", {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0}, false, ie24RGB},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GifBytes g = HeaderWith(9, 1, c.table);
    g.Image(0, 0, 9, 1);
    Pixels(g, 1, nine, 9, 1).Trailer();
    auto r = ReadBytes(g.b, 0, c.native);
    ASSERT_FALSE(r->progress.Aborted()) << r->progress.rec.Refusal;
    ASSERT_EQ(r->bitmap.PixelFormat(), c.want);
    for (int x = 0; x < 9; ++x) {
      const TRGB want = MakeRGB(c.table[3 * nine[x]], c.table[3 * nine[x] + 1], c.table[3 * nine[x] + 2]);
      EXPECT_EQ(r->bitmap.GetPixelAsRGB(x, 0), want) << "pixel " << x;
      if (c.want != ie24RGB) {
        EXPECT_EQ(Index(r->bitmap, x, 0), nine[x]);
      }
    }
  }
}

TEST(GifFilter, ReadsTheFrameOfTheIndexAndCountsEveryFrame) {
  GifBytes g = HeaderWith(4, 4, {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255});
  for (int f = 0; f < 3; ++f) {
    Control(g, f, 10 * (f + 1), -1);
    g.Image(f, 1, 2, 2);
    Pixels(g, 2, Bytes(4, uint8_t(f + 1)), 2, 2);
  }
  g.Raw({0x21, 0xFE, 5, 'h', 'e', 'l', 'l', 'o', 0}).Trailer();
  for (int f = 0; f < 3; ++f) {
    auto r = ReadBytes(g.b, f);
    ASSERT_FALSE(r->progress.Aborted()) << r->progress.rec.Refusal;
    EXPECT_EQ(r->frames, 3);
    EXPECT_EQ(r->params.GifImageCount, 3);
    EXPECT_EQ(r->params.GifXPos, f);
    EXPECT_EQ(r->params.GifYPos, 1);
    EXPECT_EQ(r->params.GifDelay, 10 * (f + 1));
    EXPECT_EQ(r->params.GifDisposal, f);
    EXPECT_EQ(r->params.GifWinWidth, 4);
    EXPECT_EQ(r->params.BitsPerSample, 2);
    EXPECT_EQ(r->params.PaletteCount, 4);
    ASSERT_EQ(r->params.GifComments.Count(), 1);
    EXPECT_EQ(r->params.GifComments[0], "hello");
    EXPECT_EQ(r->bitmap.GetPixelAsRGB(1, 1), MakeRGB(f == 0 ? 255 : 0, f == 1 ? 255 : 0, f == 2 ? 255 : 0));
    EXPECT_EQ(r->reports, (std::vector<int>{0, 30, 70, 100}));
  }
  auto beyond = ReadBytes(g.b, 3);
  EXPECT_TRUE(beyond->progress.Aborted());
  EXPECT_EQ(beyond->frames, 3);
  auto params = ReadBytes(g.b, 7, false, true);
  EXPECT_FALSE(params->progress.Aborted());
  EXPECT_EQ(params->frames, 3);
}

TEST(GifFilter, MaskHoldsTheTransparentPixelsOnly) {
  const Bytes table = {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0};
  for (int transparent : {2, 3}) {
    SCOPED_TRACE(transparent);
    GifBytes g = HeaderWith(2, 2, table);
    Control(g, 0, 0, transparent).Image(0, 0, 2, 2);
    Pixels(g, 2, {0, 1, 2, 2}, 2, 2).Trailer();
    auto r = ReadBytes(g.b);
    ASSERT_FALSE(r->progress.Aborted());
    EXPECT_TRUE(r->params.GifTransparent);
    EXPECT_EQ(r->params.GifTransparentColor, MakeRGB(table[3 * transparent], table[3 * transparent + 1], table[3 * transparent + 2]));
    if (transparent == 3) {
      EXPECT_EQ(r->mask, nullptr) << "no pixel uses the index";
    } else {
      ASSERT_NE(r->mask, nullptr);
      EXPECT_EQ(r->mask->GetPixel(0, 0), 255);
      EXPECT_EQ(r->mask->GetPixel(1, 0), 255);
      EXPECT_EQ(r->mask->GetPixel(0, 1), 0);
      EXPECT_EQ(r->mask->GetPixel(1, 1), 0);
    }
  }
}

TEST(GifFilter, UndecodedPixelsAndIndicesPastTheTableHaveDefinedColours) {
  // A table of two entries coded at 2 bits: index 3 is past it, and the codes
  // stop after two pixels of a 2 x 2 frame.
  const Bytes table = {10, 20, 30, 200, 210, 220};
  struct Case {
    const char* name;
    int transparent;
    std::vector<std::pair<int, int>> codes;
    std::vector<TRGB> want;
    std::vector<int> alpha;  // -1: no mask
  } cases[] = {
      {"index past the table is black", -1, {{4, 3}, {3, 3}, {1, 3}, {0, 3}, {3, 4}, {5, 4}},
       {MakeRGB(0, 0, 0), MakeRGB(200, 210, 220), MakeRGB(10, 20, 30), MakeRGB(0, 0, 0)}, {}},
      {"unreached pixels take index 0", -1, {{4, 3}, {1, 3}, {1, 3}, {5, 3}},
       {MakeRGB(200, 210, 220), MakeRGB(200, 210, 220), MakeRGB(10, 20, 30), MakeRGB(10, 20, 30)}, {}},
      {"unreached pixels take the transparent index", 1, {{4, 3}, {0, 3}, {0, 3}, {5, 3}},
       {MakeRGB(10, 20, 30), MakeRGB(10, 20, 30), MakeRGB(200, 210, 220), MakeRGB(200, 210, 220)},
       {255, 255, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GifBytes g = HeaderWith(2, 2, table);
    if (c.transparent >= 0) Control(g, 0, 0, c.transparent);
    g.Image(0, 0, 2, 2).Codes(2, c.codes).Trailer();
    auto r = ReadBytes(g.b);
    ASSERT_FALSE(r->progress.Aborted()) << r->progress.rec.Refusal;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r->bitmap.GetPixelAsRGB(i % 2, i / 2), c.want[size_t(i)]) << i;
    if (c.alpha.empty()) continue;
    ASSERT_NE(r->mask, nullptr);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r->mask->GetPixel(i % 2, i / 2), c.alpha[size_t(i)]) << i;
  }
}

TEST(GifFilter, WithoutAnyTableIndicesAreGrey) {
  GifBytes g;
  g.Header(3, 1, 0).Image(0, 0, 3, 1);
  Pixels(g, 8, {0, 77, 255}, 3, 1).Trailer();
  auto r = ReadBytes(g.b);
  ASSERT_FALSE(r->progress.Aborted()) << r->progress.rec.Refusal;
  EXPECT_EQ(r->bitmap.GetPixelAsRGB(1, 0), MakeRGB(77, 77, 77));
  EXPECT_EQ(r->bitmap.GetPixelAsRGB(2, 0), MakeRGB(255, 255, 255));
}

TEST(GifFilter, HostileStreamsAreRefusedWithAReason) {
  auto valid = [] {
    GifBytes g;
    g.Header(2, 2, 1).Image(0, 0, 2, 2);
    return Pixels(g, 1, {0, 1, 1, 0}, 2, 2);
  };
  struct Case {
    const char* name;
    Bytes bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"not a GIF", {'G', 'I', 'X', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0}});
  cases.push_back({"ends after the header", GifBytes().Header(2, 2, 1).b});
  {
    GifBytes g;
    g.Header(2, 2, 1).Raw({0x2C, 0, 0, 0});
    cases.push_back({"descriptor cut short", g.b});
  }
  {
    GifBytes g;
    g.Header(2, 2, 1).Image(0, 0, 2, 2).Raw({12, 2, 0xFF, 0xFF, 0}).Trailer();
    cases.push_back({"code size 12", g.b});
  }
  {
    GifBytes g;
    g.Header(65535, 65535, 1).Image(0, 0, 65535, 65535).Codes(2, {{4, 3}, {0, 3}, {5, 3}}).Trailer();
    cases.push_back({"a huge frame of three codes", g.b});
  }
  {
    GifBytes g;
    g.Header(4000, 4000, 1).Image(0, 0, 4000, 4000).Codes(2, {{4, 3}, {0, 3}, {5, 3}}).Trailer();
    cases.push_back({"a frame its data cannot fill", g.b});
  }
  {
    GifBytes g;
    g.Header(2, 2, 1).Image(0, 0, 2, 2, 0x87).Raw({1, 2, 3});
    cases.push_back({"local table cut short", g.b});
  }
  {
    GifBytes g = valid();
    g.b.resize(g.b.size() - 3);
    cases.push_back({"data without its terminator still reads", g.b});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = ReadBytes(c.bytes);
    if (std::string(c.name).find("still reads") != std::string::npos) {
      EXPECT_FALSE(r->progress.Aborted()) << r->progress.rec.Refusal;
      continue;
    }
    EXPECT_TRUE(r->progress.Aborted());
    EXPECT_NE(r->progress.rec.Refusal, nullptr);
    EXPECT_EQ(r->mask, nullptr);
    EXPECT_LT(int64_t(r->bitmap.Width()) * r->bitmap.Height(), 1 << 20);
  }
}

TEST(GifFilter, ATableThatFillsUpKeepsDecodingWithoutAClear) {
  // After the table is full (4096 codes) a writer may go on without a clear
  // code; the codes then decode with the table as it stands.
  std::vector<std::pair<int, int>> codes = {{4, 3}};
  int next = 6, width = 3;
  codes.push_back({1, 3});
  while (next < 4096) {
    codes.push_back({1, width});
    ++next;
    if (next == (1 << width) && width < 12) ++width;
  }
  codes.push_back({1, 12});
  codes.push_back({2, 12});
  codes.push_back({5, 12});
  const int pixels = int(codes.size()) - 2;
  GifBytes g = HeaderWith(pixels, 1, {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 255});
  g.Image(0, 0, pixels, 1).Codes(2, codes).Trailer();
  auto r = ReadBytes(g.b);
  ASSERT_FALSE(r->progress.Aborted()) << r->progress.rec.Refusal;
  EXPECT_EQ(r->bitmap.GetPixelAsRGB(pixels - 2, 0), MakeRGB(255, 255, 255));
  EXPECT_EQ(r->bitmap.GetPixelAsRGB(pixels - 1, 0), MakeRGB(255, 0, 0));
}

struct Written {
  Bytes bytes;
  Progress progress;
  std::vector<int> reports;
};

std::unique_ptr<Written> WriteBitmap(TIEBitmap& b, int bits, const std::function<void(TIOParamsVals&)>& set = {}) {
  auto w = std::make_unique<Written>();
  TIOParamsVals p(nullptr);
  UseLibraryCodec(p);
  p.BitsPerSample = bits;
  if (set) set(p);
  w->progress.rec.ProgressEvent = [&reports = w->reports](TObject*, int per) { reports.push_back(per); };
  TMemoryStream s;
  WriteGIFStream(s, b, p, w->progress.rec);
  w->bytes = qvtest::StreamBytes(s);
  return w;
}

TEST(GifFilter, WriterGivesAlphaTheLastEntry) {
  auto b = qvtest::Gradient(16, 16);
  TIEBitmap* a = b->AlphaChannel();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) a->SetPixel8(x, y, x < 4 ? uint8_t(254) : uint8_t(255));
  auto w = WriteBitmap(*b, 8, [](TIOParamsVals& p) { p.GifTransparentColor = MakeRGB(1, 2, 3); });
  ASSERT_FALSE(w->progress.Aborted());
  EXPECT_EQ(w->reports, (std::vector<int>{0, 30, 70, 100}));
  const Bytes& f = w->bytes;
  ASSERT_GT(f.size(), 13u + 768 + 8);
  EXPECT_EQ(f[10], 0xF7) << "a global table of 256 entries";
  EXPECT_EQ(f[13 + 3 * 255], 1);
  EXPECT_EQ(f[13 + 3 * 255 + 2], 3);
  const size_t gce = 13 + 768;
  EXPECT_EQ(f[gce], 0x21);
  EXPECT_EQ(f[gce + 1], 0xF9);
  EXPECT_EQ(f[gce + 3] & 1, 1);
  EXPECT_EQ(f[gce + 6], 255);
  auto r = ReadBytes(f, 0, true);
  ASSERT_FALSE(r->progress.Aborted());
  ASSERT_NE(r->mask, nullptr);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_EQ(r->mask->GetPixel(x, y), x < 4 ? 0 : 255) << x << "," << y;
}

TEST(GifFilter, WriterConvertsEverySourceFormat) {
  struct Case {
    const char* name;
    TIEBitmapFormat format;
    int bits;
    bool alpha;
    int wantBits;
  } cases[] = {
      {"grey", ie8g, 8, false, 8},
      {"16-bit grey", ie16g, 8, false, 8},
      {"32-bit colour", ie32RGB, 8, false, 8},
      {"1-bit", ie1g, 1, false, 1},
      {"1-bit with alpha", ie1g, 1, true, 2},
      {"palette", ie8p, 4, false, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIEBitmap b(8, 4, c.format);
    auto g = qvtest::Gradient(8, 4);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) {
        const uint8_t v = uint8_t((x * 4 + y) * 8);
        g->SetPixelRGB(x, y, c.format == ie1g ? (x & 1 ? MakeRGB(255, 255, 255) : TRGB{}) : MakeRGB(v, v, v));
      }
    if (c.format == ie8p) {
      for (int i = 0; i < 16; ++i) b.SetPaletteColor(i, MakeRGB(uint8_t(i * 16), uint8_t(i * 16), uint8_t(i * 16)));
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
          b.ScanLine(y)[x] = uint8_t((x + y) & 15);
          g->SetPixelRGB(x, y, MakeRGB(uint8_t(((x + y) & 15) * 16), uint8_t(((x + y) & 15) * 16), uint8_t(((x + y) & 15) * 16)));
        }
    } else {
      b.ConvertFrom(*g);
    }
    if (c.alpha) b.AlphaChannel()->SetPixel8(0, 0, 0);
    auto w = WriteBitmap(b, c.bits);
    ASSERT_FALSE(w->progress.Aborted()) << w->progress.rec.Refusal;
    EXPECT_EQ((w->bytes[10] & 7) + 1, c.wantBits);
    auto r = ReadBytes(w->bytes);
    ASSERT_FALSE(r->progress.Aborted());
    for (int y = 0; y < 4; ++y)
      for (int x = c.alpha ? 1 : 0; x < 8; ++x) {
        const TRGB want = g->GetPixelRGB(x, y);
        const TRGB got = r->bitmap.GetPixelAsRGB(x, y);
        EXPECT_NEAR(got.r, want.r, 1) << x << "," << y;
        EXPECT_NEAR(got.g, want.g, 1) << x << "," << y;
      }
    if (c.alpha) {
      ASSERT_NE(r->mask, nullptr);
      EXPECT_EQ(r->mask->GetPixel(0, 0), 0);
      EXPECT_EQ(r->mask->GetPixel(1, 0), 255);
    }
  }
}

TEST(GifFilter, TwoColourPictureAtOneBitKeepsItsColours) {
  TIEBitmap b(5, 2, ie24RGB);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) b.SetPixelRGB(x, y, (x + y) & 1 ? MakeRGB(200, 0, 0) : MakeRGB(0, 0, 90));
  auto w = WriteBitmap(b, 1);
  auto r = ReadBytes(w->bytes);
  ASSERT_FALSE(r->progress.Aborted());
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(r->bitmap.GetPixelAsRGB(x, y), b.GetPixelRGB(x, y));
}

TEST(GifFilter, InterlacedRoundTripAndLongComments) {
  TIEBitmap b(7, 11, ie8p);
  for (int i = 0; i < 16; ++i) b.SetPaletteColor(i, MakeRGB(uint8_t(i * 16), uint8_t(255 - i * 16), uint8_t(i)));
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 7; ++x) b.ScanLine(y)[x] = uint8_t((x * 3 + y * 5) & 15);
  const std::string longText(300, 'c');
  auto w = WriteBitmap(b, 4, [&](TIOParamsVals& p) {
    p.GifInterlaced = true;
    p.GifComments.Add(longText);
    p.GifComments.Add("short");
  });
  ASSERT_FALSE(w->progress.Aborted());
  auto r = ReadBytes(w->bytes);
  ASSERT_FALSE(r->progress.Aborted());
  EXPECT_TRUE(r->params.GifInterlaced);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 7; ++x) {
      TRGB want;
      b.GetPaletteColor(b.ScanLine(y)[x], want);
      EXPECT_EQ(r->bitmap.GetPixelAsRGB(x, y), want);
    }
  // Sub-blocks of at most 255 bytes: the long comment comes back in two parts.
  ASSERT_EQ(r->params.GifComments.Count(), 3);
  EXPECT_EQ(r->params.GifComments[0] + r->params.GifComments[1], longText);
  EXPECT_EQ(r->params.GifComments[2], "short");
}

}  // namespace
