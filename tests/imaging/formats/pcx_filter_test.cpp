// The PCX and DCX filter on hand-made files: every plane layout, runs across
// lines, resolutions, the writer's forms and line coder, DCX page tables, and
// hostile headers and data.
#include <gtest/gtest.h>

#include <string>

#include "imaging/core/ie_view_link.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/formats/pcx_filter.h"
#include "imaging/io/image_lib_io.h"
#include "tests/imaging/formats/filter_test_streams.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/imaging/io/io_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qvtest::Le16;
using qvtest::Le32;
using qvtest::Progress;

struct Pcx {
  int version = 5, encoding = 1, bits = 8, planes = 1;
  int xmin = 0, ymin = 0, xmax = 0, ymax = 0, hdpi = 72, vdpi = 72, bytesPerLine = 0;
  Bytes palette16 = Bytes(48, 0);
  Bytes data;
  Bytes Build() const {
    Bytes b = {10, uint8_t(version), uint8_t(encoding), uint8_t(bits)};
    for (int v : {xmin, ymin, xmax, ymax, hdpi, vdpi}) Le16(b, uint32_t(v));
    b.insert(b.end(), palette16.begin(), palette16.end());
    b.push_back(0);
    b.push_back(uint8_t(planes));
    Le16(b, uint32_t(bytesPerLine));
    Le16(b, 1);
    b.resize(128, 0);
    b.insert(b.end(), data.begin(), data.end());
    return b;
  }
};

struct Read {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  Progress progress;
};

std::unique_ptr<Read> ReadBytes(const Bytes& bytes, bool paramsOnly = false) {
  auto r = std::make_unique<Read>();
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  ReadPCXStream(s, r->bitmap, r->params, paramsOnly, r->progress.rec, int64_t(bytes.size()));
  return r;
}

using qvtest::Pixels;

Bytes Palette16() {
  Bytes p;
  for (int i = 0; i < 16; ++i) p.insert(p.end(), {uint8_t(i * 16), uint8_t(i), uint8_t(255 - i)});
  return p;
}

TEST(PcxFilter, OneBitNineWideIsABilevelBitmapOfTwoBytesALine) {
  Pcx p;
  p.bits = 1, p.xmax = 8, p.ymax = 1, p.bytesPerLine = 2, p.encoding = 0;
  p.data = {0xAA, 0x80, 0x00, 0x80};
  auto r = ReadBytes(p.Build());
  ASSERT_FALSE(r->progress.Aborted());
  ASSERT_EQ(r->bitmap.PixelFormat(), ie1g);
  ASSERT_EQ(r->bitmap.Width(), 9);
  EXPECT_EQ(r->bitmap.ScanLine(0)[0], 0xAA);
  EXPECT_EQ(r->bitmap.ScanLine(0)[1] & 0x80, 0x80);  // the ninth pixel
  EXPECT_EQ(r->bitmap.ScanLine(1)[0], 0x00);
  EXPECT_EQ(r->params.BitsPerSample, 1);
  EXPECT_EQ(r->params.PaletteCount, 2);
}

TEST(PcxFilter, ARunCrossingTheLineEndCarriesIntoTheNextLine) {
  // 8-bit, 4 bytes a line: 0x01 then a run of five 0x00 (3 for this line, 2
  // for the next), then 0x02 0x03.
  Pcx p;
  p.xmax = 3, p.ymax = 1, p.bytesPerLine = 4;
  p.data = {0x01, 0xC5, 0x00, 0x02, 0x03};
  Bytes end(769, 0);
  end[0] = 12;
  for (int i = 0; i < 4; ++i) end[size_t(1 + 3 * i)] = uint8_t(i * 50);  // reds 0, 50, 100, 150
  p.data.insert(p.data.end(), end.begin(), end.end());
  auto r = ReadBytes(p.Build());
  ASSERT_FALSE(r->progress.Aborted());
  EXPECT_EQ(Pixels(r->bitmap), "320000 000000 000000 000000|000000 000000 640000 960000|");
  EXPECT_EQ(r->params.PaletteCount, 256);
  EXPECT_EQ(r->params.Palette[2], MakeRGB(100, 0, 0));
}

TEST(PcxFilter, FourPlanesOfOneBitReadThroughTheHeaderPalette) {
  Pcx p;
  p.bits = 1, p.planes = 4, p.xmax = 2, p.ymax = 0, p.bytesPerLine = 2, p.encoding = 0;
  p.palette16 = Palette16();
  // Pixel 0: index 1 (plane 0), pixel 1: index 6 (planes 1, 2), pixel 2: index 15.
  p.data = {0xA0, 0, 0x60, 0, 0x60, 0, 0x20, 0};
  auto r = ReadBytes(p.Build());
  ASSERT_FALSE(r->progress.Aborted());
  EXPECT_EQ(r->bitmap.PixelFormat(), ie24RGB);
  EXPECT_EQ(Pixels(r->bitmap), "1001fe 6006f9 f00ff0|");
  EXPECT_EQ(r->params.BitsPerSample, 4);
  EXPECT_EQ(r->params.SamplesPerPixel, 1);
  EXPECT_EQ(r->params.PaletteCount, 16);
}

TEST(PcxFilter, FourBitOddWidthAndThreePlaneRowsRead) {
  Pcx four;
  four.bits = 4, four.xmax = 2, four.bytesPerLine = 2, four.encoding = 0;
  four.palette16 = Palette16();
  four.data = {0x12, 0x3F};
  auto r4 = ReadBytes(four.Build());
  ASSERT_FALSE(r4->progress.Aborted());
  EXPECT_EQ(Pixels(r4->bitmap), "1001fe 2002fd 3003fc|");

  Pcx rgb;
  rgb.planes = 3, rgb.xmax = 1, rgb.bytesPerLine = 2;
  rgb.data = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
  auto r24 = ReadBytes(rgb.Build());
  ASSERT_FALSE(r24->progress.Aborted());
  EXPECT_EQ(Pixels(r24->bitmap), "103050 204060|");
  EXPECT_EQ(r24->params.PaletteCount, 0);
}

TEST(PcxFilter, AZeroResolutionOnEitherAxisGivesTheDefaultOnBoth) {
  Pcx p;
  p.planes = 3, p.xmax = 0, p.bytesPerLine = 2, p.hdpi = 72, p.vdpi = 0;
  p.data = {1, 0, 2, 0, 3, 0};
  auto r = ReadBytes(p.Build());
  EXPECT_EQ(r->params.DpiX, gDefaultDPIX);
  EXPECT_EQ(r->params.DpiY, gDefaultDPIY);
  p.vdpi = 150;
  auto r2 = ReadBytes(p.Build());
  EXPECT_EQ(r2->params.DpiX, 72);
  EXPECT_EQ(r2->params.DpiY, 150);
}

TEST(PcxFilter, AnEightBitFileWithoutItsEndPaletteReadsGrey) {
  Pcx p;
  p.xmax = 1, p.bytesPerLine = 2, p.encoding = 0;
  p.data = {0x40, 0x80};
  auto r = ReadBytes(p.Build());
  ASSERT_FALSE(r->progress.Aborted());
  EXPECT_EQ(Pixels(r->bitmap), "404040 808080|");
}

TEST(PcxFilter, LineCoderRunsLiteralsAndPadding) {
  const uint8_t src[] = {0xC8, 0xC8, 0x10, 0xC1, 0x10};
  uint8_t out[16];
  const int n = EncodePCXLine(out, src, 5, 1, 0);
  EXPECT_EQ(Bytes(out, out + n), (Bytes{0xC2, 0xC8, 0x10, 0xC1, 0xC1, 0x10, 0x00}));
  // A run stops at 63; stride and offset pick one byte of each pixel.
  Bytes same(70 * 3, 0);
  for (size_t i = 1; i < same.size(); i += 3) same[i] = 7;
  const int m = EncodePCXLine(out, same.data() + 0, 0, 3, 1);
  EXPECT_EQ(m, 0);
  uint8_t big[200];
  const int k = EncodePCXLine(big, same.data(), 70, 3, 1);
  EXPECT_EQ(Bytes(big, big + k), (Bytes{0xFF, 7, 0xC7, 7}));
}

struct WriteCase {
  int bitsPerSample, samples;
  bool compressed;
  int bits, planes;
  bool endPalette;
};

TEST(PcxFilter, WriterFormsByParametersReadBack) {
  const WriteCase cases[] = {{8, 1, true, 8, 1, true},   {8, 1, false, 8, 1, true},  {8, 3, true, 8, 3, false},
                             {8, 3, false, 8, 3, false}, {4, 1, true, 4, 1, false},  {1, 1, true, 1, 1, false},
                             {1, 1, false, 1, 1, false}, {8, 4, true, 8, 3, false}};
  auto picture = qvtest::Gradient(13, 5);
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.bitsPerSample) + "x" + std::to_string(c.samples) + (c.compressed ? " rle" : ""));
    TIOParamsVals params(nullptr);
    params.BitsPerSample = c.bitsPerSample, params.SamplesPerPixel = c.samples, params.PcxCompression = c.compressed;
    params.DpiX = 120, params.DpiY = 60;
    TMemoryStream out;
    Progress progress;
    WritePCXStream(out, *picture, params, progress.rec);
    ASSERT_FALSE(progress.Aborted());
    const Bytes b = qvtest::StreamBytes(out);
    ASSERT_GT(b.size(), 128u);
    EXPECT_EQ(b[2], c.compressed ? 1 : 0);
    EXPECT_EQ(b[3], c.bits);
    EXPECT_EQ(b[65], c.planes);
    EXPECT_EQ(ReadLE16(&b[66]) % 2, 0);
    EXPECT_EQ(ReadLE16(&b[12]), 120);
    if (c.endPalette) { EXPECT_EQ(b[b.size() - 769], 12); }
    auto r = ReadBytes(b);
    ASSERT_FALSE(r->progress.Aborted());
    ASSERT_EQ(r->bitmap.Width(), 13);
    ASSERT_EQ(r->bitmap.Height(), 5);
    if (c.bits * c.planes == 24) { EXPECT_EQ(Pixels(r->bitmap), Pixels(*picture)); }
  }
  // Eight colours fit in 16 and 256: those files keep every pixel.
  TIEBitmap few(11, 3, ie24RGB);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 11; ++x) few.SetPixelRGB(x, y, MakeRGB(uint8_t((x % 8) * 30), uint8_t((x % 2) * 80), 9));
  for (int bits : {4, 8}) {
    TIOParamsVals params(nullptr);
    params.BitsPerSample = bits, params.SamplesPerPixel = 1;
    TMemoryStream out;
    Progress progress;
    WritePCXStream(out, few, params, progress.rec);
    auto r = ReadBytes(qvtest::StreamBytes(out));
    ASSERT_FALSE(r->progress.Aborted());
    EXPECT_EQ(Pixels(r->bitmap), Pixels(few)) << bits;
  }
  // Two colours keep their colours in the header palette, darker first.
  TIEBitmap two(10, 2, ie24RGB);
  two.Fill(0x0000C0);  // red 0xC0
  two.SetPixelRGB(3, 1, MakeRGB(0, 0, 0x20));
  TIOParamsVals params(nullptr);
  params.BitsPerSample = 1, params.SamplesPerPixel = 1;
  TMemoryStream out;
  Progress progress;
  WritePCXStream(out, two, params, progress.rec);
  const Bytes b = qvtest::StreamBytes(out);
  EXPECT_EQ(Bytes(b.begin() + 16, b.begin() + 22), (Bytes{0, 0, 0x20, 0xC0, 0, 0}));
}

TEST(PcxFilter, BitTotalsPcxHasNoFormForAbortAndWriteNothing) {
  auto picture = qvtest::Gradient(4, 4);
  for (auto [bits, samples] : {std::pair{16, 1}, {2, 1}, {4, 3}, {16, 3}}) {
    TIOParamsVals params(nullptr);
    params.BitsPerSample = bits, params.SamplesPerPixel = samples;
    TMemoryStream out;
    Progress progress;
    WritePCXStream(out, *picture, params, progress.rec);
    EXPECT_TRUE(progress.Aborted()) << bits << "x" << samples;
    EXPECT_EQ(out.Size(), 0) << bits << "x" << samples;
  }
  // A full disk is an error, not a short file passed off as written.
  TIOParamsVals params(nullptr);
  qvtest::TFullDiskStream full(150);
  Progress progress;
  WritePCXStream(full, *picture, params, progress.rec);
  EXPECT_TRUE(progress.Aborted());
}

TEST(PcxFilter, HostileFilesFailCleanly) {
  auto base = [] {
    Pcx p;
    p.planes = 3, p.xmax = 3, p.ymax = 3, p.bytesPerLine = 4;
    return p;
  };
  struct Case {
    const char* name;
    Bytes bytes;
    const char* reason;  // the rule that fired, as the progress record names it
  } cases[] = {
      {"empty", {}, "the header is cut short"},
      {"truncated header", [&] {
         Bytes b = base().Build();
         b.resize(60);
         return b;
       }(), "the header is cut short"},
      {"manufacturer", [&] {
         Bytes b = base().Build();
         b[0] = 11;
         return b;
       }(), "the manufacturer byte is not 10"},
      {"bits above 8", [&] {
         Pcx p = base();
         p.bits = 16;
         return p.Build();
       }(), "more than 8 bits a plane"},
      {"encoding 2", [&] {
         Pcx p = base();
         p.encoding = 2;
         return p.Build();
       }(), "an encoding other than 0 or 1"},
      {"xmax below xmin", [&] {
         Pcx p = base();
         p.xmin = 5, p.xmax = 4;
         return p.Build();
       }(), "the window is upside down"},
      {"ymax below ymin", [&] {
         Pcx p = base();
         p.ymin = 9, p.ymax = 1;
         return p.Build();
       }(), "the window is upside down"},
      {"line shorter than its pixels", [&] {
         Pcx p = base();
         p.xmax = 99, p.bytesPerLine = 4, p.data = Bytes(2000, 1);
         return p.Build();
       }(), "rows wider than their bytes per line"},
      {"zero planes", [&] {
         Pcx p = base();
         p.planes = 0;
         return p.Build();
       }(), "no planes or no bits"},
      {"two planes", [&] {
         Pcx p = base();
         p.planes = 2, p.data = Bytes(100, 1);
         return p.Build();
       }(), "a plane layout that is not read"},
      {"huge size, little data", [&] {
         Pcx p = base();
         p.xmax = 65533, p.ymax = 65535, p.bytesPerLine = 65534, p.data = Bytes(100, 0xFF);
         return p.Build();
       }(), "the data cannot fill the rows"},
      {"stored data short", [&] {
         Pcx p = base();
         p.encoding = 0, p.data = Bytes(20, 1);
         return p.Build();
       }(), "the data cannot fill the rows"},
  };
  for (const Case& c : cases) {
    auto r = ReadBytes(c.bytes);
    EXPECT_TRUE(r->progress.Aborted()) << c.name;
    EXPECT_STREQ(r->progress.rec.Refusal, c.reason) << c.name;
  }
  // The parameters of a header whose lines are too short are not taken either.
  Pcx p = base();
  p.xmax = 99;
  auto r = ReadBytes(p.Build(), true);
  EXPECT_TRUE(r->progress.Aborted());
  EXPECT_EQ(r->params.Width, 0);
}

TEST(PcxFilter, AShortStreamKeepsTheRowsReadAndClearsTheRest) {
  Pcx p;
  p.planes = 3, p.xmax = 1, p.ymax = 3, p.bytesPerLine = 2;
  // Two whole rows of runs, then a run without its value byte.
  p.data = {0xC6, 0x11, 0xC6, 0x22, 0xC6};
  auto r = ReadBytes(p.Build());
  EXPECT_TRUE(r->progress.Aborted());
  EXPECT_STREQ(r->progress.rec.Refusal, "the rows are cut short");
  ASSERT_EQ(r->bitmap.Height(), 4);
  EXPECT_EQ(Pixels(r->bitmap), "111111 111111|222222 222222|000000 000000|000000 000000|");
}

// ---- DCX ----

Bytes Page(uint8_t value) {
  Pcx p;
  p.planes = 3, p.xmax = 1, p.ymax = 0, p.bytesPerLine = 2, p.encoding = 0;
  p.data = Bytes(6, value);
  return p.Build();
}

Bytes Dcx(const std::vector<Bytes>& pages) {
  Bytes b;
  Le32(b, kDCXMagic);
  uint32_t at = uint32_t(4 * (pages.size() + 2));
  for (const Bytes& p : pages) {
    Le32(b, at);
    at += uint32_t(p.size());
  }
  Le32(b, 0);
  for (const Bytes& p : pages) b.insert(b.end(), p.begin(), p.end());
  return b;
}

// The red of the page's first pixel, 0xEE when the DCX was refused (and why in refusal).
uint8_t PageValue(const Bytes& dcx, int index, int* count = nullptr, const char** refusal = nullptr) {
  TCustomMemoryStream s(dcx.data(), int64_t(dcx.size()));
  TIEBitmap b;
  TIOParamsVals params(nullptr);
  params.DcxImageIndex = index;
  Progress progress;
  ReadDCXStream(s, b, params, false, progress.rec);
  if (count) *count = params.ImageCount;
  if (refusal) *refusal = progress.rec.Refusal;
  return progress.Aborted() ? 0xEE : b.GetPixelAsRGB(0, 0).r;
}

TEST(PcxFilter, DcxPagesAreChosenByIndexAndClamped) {
  const Bytes dcx = Dcx({Page(1), Page(2), Page(3)});
  int count = 0;
  EXPECT_EQ(PageValue(dcx, 0, &count), 1);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(PageValue(dcx, 2), 3);
  EXPECT_EQ(PageValue(dcx, 7), 3);
  EXPECT_EQ(PageValue(dcx, -2), 1);
}

TEST(PcxFilter, DcxWritingInsertsPagesAndAppendsPastTheEnd) {
  auto write = [](TMemoryStream& s, uint8_t value, int index) {
    TIEBitmap page(2, 1, ie24RGB);
    page.Fill(double(value));  // red = value
    TIOParamsVals params(nullptr);
    params.DcxImageIndex = index;
    Progress progress;
    WriteDCXStream(s, page, params, progress.rec);
    return !progress.Aborted();
  };
  // Into an empty stream: one offset (8 + 4) and the ending 0.
  TMemoryStream empty;
  ASSERT_TRUE(write(empty, 9, 0));
  const Bytes one = qvtest::StreamBytes(empty);
  EXPECT_EQ(ReadLE32(&one[0]), kDCXMagic);
  EXPECT_EQ(ReadLE32(&one[4]), 12u);
  EXPECT_EQ(ReadLE32(&one[8]), 0u);

  const Bytes three = Dcx({Page(1), Page(2), Page(3)});
  TMemoryStream s;
  s.WriteBuffer(three.data(), int64_t(three.size()));
  s.SetPosition(0);
  ASSERT_TRUE(write(s, 9, 1));
  Bytes four = qvtest::StreamBytes(s);
  int count = 0;
  EXPECT_EQ(PageValue(four, 0, &count), 1);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(PageValue(four, 1), 9);
  EXPECT_EQ(PageValue(four, 2), 2);
  EXPECT_EQ(PageValue(four, 3), 3);
  // An index past the pages appends the page instead of leaving it out.
  s.SetPosition(0);
  ASSERT_TRUE(write(s, 5, 40));
  const Bytes five = qvtest::StreamBytes(s);
  EXPECT_EQ(PageValue(five, 4, &count), 5);
  EXPECT_EQ(count, 5);

  // A stream holding something else is left as it was.
  TMemoryStream other;
  other.WriteBuffer("not a dcx", 9);
  other.SetPosition(0);
  EXPECT_FALSE(write(other, 1, 0));
  EXPECT_EQ(other.Size(), 9);
}

TEST(PcxFilter, DcxProbeAndHostileTables) {
  const Bytes good = Dcx({Page(1), Page(2)});
  TCustomMemoryStream s(good.data(), int64_t(good.size()));
  EXPECT_TRUE(IsDCXStream(s));
  EXPECT_EQ(s.Position(), 0);
  Bytes past = good;
  WriteLE32(&past[8], uint32_t(good.size()));  // the second page at the stream's end
  TCustomMemoryStream s2(past.data(), int64_t(past.size()));
  EXPECT_FALSE(IsDCXStream(s2));
  const char* refusal = nullptr;
  EXPECT_EQ(PageValue(past, 0, nullptr, &refusal), 0xEE);
  EXPECT_STREQ(refusal, "a DCX page lies past the end");
  Bytes none;
  Le32(none, kDCXMagic);
  Le32(none, 0);
  EXPECT_EQ(PageValue(none, 0, nullptr, &refusal), 0xEE);
  EXPECT_STREQ(refusal, "a DCX without pages");
  Bytes endless;
  Le32(endless, kDCXMagic);
  for (int i = 0; i < 3000; ++i) Le32(endless, 8);
  int count = 0;
  PageValue(endless, 0, &count);
  TCustomMemoryStream s3(endless.data(), int64_t(endless.size()));
  s3.SetPosition(4);
  EXPECT_EQ(ReadDCXPageTable(s3).size(), size_t(kDCXMaxPages));
  Bytes truncated(good.begin(), good.begin() + 3);
  EXPECT_EQ(PageValue(truncated, 0, nullptr, &refusal), 0xEE);
  EXPECT_STREQ(refusal, "the DCX magic is missing");
}

}  // namespace

TEST(PcxFilter, TheComponentDetectsLoadsAndSavesPcxAndDcx) {
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  RegisterFormatFilters();
  RegisterSpecialFormats();
  auto picture = qvtest::Gradient(12, 9);
  for (TImageFileType type : {ioPCX, ioDCX}) {
    TIEBitmap source;
    source.Assign(picture.get());
    auto io = TImageLibIO::CreateForBitmap(&source);
    io->Params().BitsPerSample = 8, io->Params().SamplesPerPixel = 3;
    TMemoryStream stream;
    io->SaveStream(stream, type);
    ASSERT_FALSE(io->Aborting()) << type;
    stream.SetPosition(0);
    TIEBitmap loaded;
    auto in = TImageLibIO::CreateForBitmap(&loaded);
    in->LoadStream(stream);
    ASSERT_FALSE(in->Aborting()) << type;
    EXPECT_EQ(in->Params().FileType, type);
    ASSERT_EQ(loaded.Width(), 12) << type;
    EXPECT_EQ(loaded.GetPixelAsRGB(7, 5), picture->GetPixelRGB(7, 5)) << type;
  }
}
