// The wireless bitmap filter: sizes as whole multi-byte integers both ways,
// pictures of any size written uncropped, hostile headers refused.
#include <gtest/gtest.h>

#include "imaging/formats/wbmp_filter.h"
#include "tests/imaging/formats/filter_test_streams.h"
#include "tests/imaging/formats/format_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qvtest::Progress;

struct Read {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  Progress progress;
};

std::unique_ptr<Read> ReadBytes(const Bytes& bytes, bool paramsOnly = false) {
  auto r = std::make_unique<Read>();
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  ReadWBMPStream(s, r->bitmap, r->params, r->progress.rec, paramsOnly);
  return r;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(WbmpFilter, MultiByteIntegersReadWhole) {
  struct Case {
    Bytes bytes;
    int32_t value;
  };
  const Case cases[] = {
      {{0x10}, 16},
      {{0x81, 0x00}, 128},
      {{0x82, 0x2C}, 300},                     // not its low byte 44
      {{0x81, 0xFF, 0x7F}, 32767},
      {{0xFF, 0xFF, 0xFF, 0x7F}, 0x0FFFFFFF},  // four bytes is the most
      {{0x81, 0x80, 0x80, 0x80, 0x00}, -1},    // a fifth byte is not read
      {{0x81}, -1},                            // the stream ends inside it
      {{}, -1},
  };
  for (const Case& c : cases) {
    TCustomMemoryStream s(c.bytes.data(), int64_t(c.bytes.size()));
    EXPECT_EQ(ReadWBMPMultiByteInt(s), c.value) << testing::PrintToString(c.bytes);
  }
  for (uint32_t v : {0u, 1u, 127u, 128u, 255u, 300u, 16383u, 16384u, 0x0FFFFFFFu}) {
    uint8_t out[5];
    const int n = WBMPMultiByteInt(v, out);
    TCustomMemoryStream s(out, n);
    EXPECT_EQ(ReadWBMPMultiByteInt(s), int32_t(v)) << v;
    EXPECT_EQ(s.Position(), n);
  }
}

TEST(WbmpFilter, ReadsRowsOfWholeBytes) {
  Bytes data;
  for (int i = 0; i < 16; ++i) data.push_back(uint8_t(i * 17));
  auto r = ReadBytes(Cat({0, 0, 0x10, 0x08}, data));
  ASSERT_FALSE(r->progress.Aborted());
  ASSERT_EQ(r->bitmap.Width(), 16);
  ASSERT_EQ(r->bitmap.Height(), 8);
  EXPECT_EQ(r->bitmap.PixelFormat(), ie1g);
  for (int y = 0; y < 8; ++y) {
    EXPECT_EQ(r->bitmap.ScanLine(y)[0], data[size_t(2 * y)]);
    EXPECT_EQ(r->bitmap.ScanLine(y)[1], data[size_t(2 * y + 1)]);
  }
  EXPECT_EQ(r->params.BitsPerSample, 1);
  EXPECT_EQ(r->params.Width, 16);
}

TEST(WbmpFilter, HostileHeadersAreRefusedBeforeAllocating) {
  struct Case {
    const char* name;
    Bytes bytes;
    const char* reason;  // the rule that fired, as the progress record names it
  };
  const char* number = "a header number cut short or longer than four bytes";
  const char* zero = "a side of zero";
  const Case cases[] = {
      {"type_1", {1, 0, 4, 4, 0, 0, 0, 0}, "a type other than 0"},
      {"fixed_header", {0, 1, 4, 4, 0, 0, 0, 0}, "extension headers, which are not read"},
      {"width_0", {0, 0, 0, 4, 0, 0, 0, 0}, zero},
      {"height_0", {0, 0, 4, 0}, zero},
      {"empty", {}, number},
      {"header_cut", {0, 0, 0x81}, number},
      {"five_byte_width", {0, 0, 0x81, 0x80, 0x80, 0x80, 0x00, 1, 0}, number},
      // 268 million pixels square from a few bytes.
      {"huge_for_data", {0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0}, "the data cannot fill the rows"},
      {"rows_missing", Cat({0, 0, 16, 8}, Bytes(15, 0)), "the data cannot fill the rows"},
  };
  for (const Case& c : cases) {
    auto r = ReadBytes(c.bytes);
    EXPECT_TRUE(r->progress.Aborted()) << c.name;
    EXPECT_STREQ(r->progress.rec.Refusal, c.reason) << c.name;
    EXPECT_TRUE(r->bitmap.IsEmpty()) << c.name;
  }
  // A header alone still gives the parameters.
  auto p = ReadBytes({0, 0, 0x82, 0x2C, 0x81, 0x48}, true);
  EXPECT_FALSE(p->progress.Aborted());
  EXPECT_EQ(p->params.Width, 300);
  EXPECT_EQ(p->params.Height, 200);
}

TEST(WbmpFilter, AStreamThatEndsEarlyKeepsTheRowsReadAndClearsTheRest) {
  Bytes file = {0, 0, 8, 4, 0xAA, 0xBB};  // two of four rows
  qvtest::TShrunkStream s(file, int64_t(file.size()) + 2);
  TIEBitmap b;
  TIOParamsVals params(nullptr);
  Progress p;
  ReadWBMPStream(s, b, params, p.rec, false);
  EXPECT_TRUE(p.Aborted());
  EXPECT_STREQ(p.rec.Refusal, "the rows are cut short");
  ASSERT_EQ(b.Height(), 4);
  EXPECT_EQ(b.ScanLine(0)[0], 0xAA);
  EXPECT_EQ(b.ScanLine(1)[0], 0xBB);
  EXPECT_EQ(b.ScanLine(2)[0], 0);
  EXPECT_EQ(b.ScanLine(3)[0], 0);
}

TEST(WbmpFilter, WritesEverySizeWholeAndReadsItBack) {
  struct Case {
    int w, h;
    Bytes header;
  };
  const Case cases[] = {{40, 30, {0, 0, 40, 30}},
                        {128, 3, {0, 0, 0x81, 0x00, 3}},
                        {300, 200, {0, 0, 0x82, 0x2C, 0x81, 0x48}},
                        {1, 1, {0, 0, 1, 1}}};
  for (const Case& c : cases) {
    TIEBitmap b(c.w, c.h, ie1g);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < (c.w + 7) / 8; ++x) b.ScanLine(y)[x] = uint8_t(x * 31 + y * 7);
    TMemoryStream out;
    TIOParamsVals params(nullptr);
    Progress p;
    WriteWBMPStream(out, b, params, p.rec);
    ASSERT_FALSE(p.Aborted());
    const Bytes bytes = qvtest::StreamBytes(out);
    const size_t rowBytes = size_t((c.w + 7) / 8);
    ASSERT_EQ(bytes.size(), c.header.size() + rowBytes * size_t(c.h)) << c.w;
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + long(c.header.size())), c.header) << c.w;
    auto r = ReadBytes(bytes);
    ASSERT_FALSE(r->progress.Aborted());
    ASSERT_EQ(r->bitmap.Width(), c.w);
    ASSERT_EQ(r->bitmap.Height(), c.h);
    for (int y = 0; y < c.h; ++y)
      ASSERT_EQ(0, std::memcmp(r->bitmap.ScanLine(y), b.ScanLine(y), rowBytes)) << c.w << " row " << y;
  }
}

TEST(WbmpFilter, ColourSourcesGoThroughACopyAndFailedWritesAbort) {
  auto colour = qvtest::Gradient(20, 10);
  const TRGB before = colour->GetPixelRGB(3, 4);
  TMemoryStream out;
  TIOParamsVals params(nullptr);
  Progress p;
  WriteWBMPStream(out, *colour, params, p.rec);
  EXPECT_FALSE(p.Aborted());
  EXPECT_EQ(out.Size(), 4 + 3 * 10);
  EXPECT_EQ(colour->PixelFormat(), ie24RGB);
  EXPECT_EQ(colour->GetPixelRGB(3, 4), before);

  for (int64_t limit : {0, 3, 20}) {
    qvtest::TFullDiskStream full(limit);
    Progress q;
    WriteWBMPStream(full, *colour, params, q.rec);
    EXPECT_TRUE(q.Aborted()) << limit;
  }
  TIEBitmap empty;
  Progress e;
  WriteWBMPStream(out, empty, params, e.rec);
  EXPECT_TRUE(e.Aborted());
}

}  // namespace
