// The TIFF writer: the layout and tags it chooses, its strips, PackBits and
// the predictor, insertion into existing files and its failures; then every
// layout and compression against libtiff's tiffinfo and tiff2rgba and Pillow.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/formats/tiff/tiff_lzw.h"
#include "imaging/formats/tiff/tiff_reader.h"
#include "imaging/formats/tiff/tiff_tag_writer.h"
#include "imaging/formats/tiff/tiff_writer.h"
#include "imaging/io/io_params.h"
#include "imaging/io/jpeg_markers.h"
#include "imaging/io/tiff_ifd.h"
#include "platform/rtl/exceptions.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/support/test_support.h"

namespace {

struct TWritten {
  std::vector<uint8_t> bytes;
  int pages = 0;
  bool aborted = false;
  TIFFDirectoryContext dir;
  std::unique_ptr<TCustomMemoryStream> stream;
  int64_t Tag(int tag, int64_t def = -1) { return GetTIFFTagInteger(dir, tag, def); }
  std::vector<uint32_t> Array(int tag) { return ReadTIFFTagArray(dir, tag); }
  int64_t Count(int tag) {
    const int i = FindTIFFTag(tag, dir);
    return i < 0 ? -1 : int64_t(dir.Entries[size_t(i)].Count);
  }
};

std::unique_ptr<TWritten> Write(TIEBitmap& b, TIOParamsVals& p, int page = 0) {
  auto w = std::make_unique<TWritten>();
  TMemoryStream s;
  qvtest::Progress pr;
  if (!p.TiffLZWEncoder) p.TiffLZWEncoder = TIFFLZWCompress;
  w->pages = WriteTIFFStream(s, false, &b, pr.rec, p);
  w->aborted = pr.Aborted();
  w->bytes = qvtest::StreamBytes(s);
  w->stream = std::make_unique<TCustomMemoryStream>(w->bytes.data(), int64_t(w->bytes.size()));
  TIFFHeader h;
  if (w->bytes.size() >= 8 && ParseTIFFHeader(w->bytes.data(), h)) {
    w->dir.Stream = w->stream.get();
    int n = 0;
    LoadTIFFDirectory(page, h.FirstOffset, w->dir, n);
  }
  return w;
}

struct TRead {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  TIEMaskOut mask;
  qvtest::Progress progress;
  int pages = 0;
};

std::unique_ptr<TRead> ReadBack(const std::vector<uint8_t>& bytes, int index = 0) {
  auto r = std::make_unique<TRead>();
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  r->params.TiffLZWDecoder = TIFFLZWDecompress;
  r->params.SetImageIndex(index);
  ReadTIFFStream(&r->bitmap, s, r->pages, r->params, r->progress.rec, false, r->mask, false, false, false, false,
                 nullptr);
  return r;
}

// A picture of at most 240 colours, each channel on 16 levels.
std::unique_ptr<TIEBitmap> Colours(int w, int h) {
  auto b = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b->SetPixelRGB(x, y, TRGB{uint8_t(((x + y) * 7) & 0xF0), uint8_t((y * 20) & 0xF0), uint8_t((x * 13) & 0xF0)});
  return b;
}

int Worst(TIEBitmap& a, TIEBitmap& b) {
  TIEBitmap x, y;
  x.Assign(&a);
  y.Assign(&b);
  if (x.PixelFormat() != ie24RGB) x.SetPixelFormat(ie24RGB);
  if (y.PixelFormat() != ie24RGB) y.SetPixelFormat(ie24RGB);
  if (x.Width() != y.Width() || x.Height() != y.Height()) return 1000;
  int worst = 0;
  for (int j = 0; j < x.Height(); ++j)
    for (int i = 0; i < x.Width(); ++i) {
      const TRGB p = x.GetPixelRGB(i, j), q = y.GetPixelRGB(i, j);
      worst = std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
    }
  return worst;
}

// A stream that takes at most limit bytes.
class TShortStream : public TMemoryStream {
public:
  explicit TShortStream(int64_t limit) : FLimit(limit) {}
  int64_t Write(const void* buffer, int64_t count) override {
    if (Position() + count > FLimit) count = std::max<int64_t>(0, FLimit - Position());
    return TMemoryStream::Write(buffer, count);
  }

private:
  int64_t FLimit;
};

}  // namespace

TEST(TiffWriter, PackBitsRows) {
  const struct {
    std::vector<uint8_t> row, coded;
  } cases[] = {
      {{7, 7, 7, 7, 7, 0, 1}, {0xFC, 7, 1, 0, 1}},
      {{7, 7, 7}, {2, 7, 7, 7}},
      {std::vector<uint8_t>(130, 9), {0x81, 9, 1, 9, 9}},
  };
  for (const auto& c : cases) {
    TMemoryStream s;
    qvtest::Progress pr;
    TFilterWriter w{s, pr.rec};
    TIFFPackBitsEncode(c.row.data(), int(c.row.size()), w);
    EXPECT_EQ(qvtest::StreamBytes(s), c.coded);
  }
}

TEST(TiffWriter, StripsLayoutsAndTheirTags) {
  {  // 3 rows, no compression, automatic strips: single inline entries.
    auto b = qvtest::Gradient(5, 3);
    TIOParamsVals p(nullptr);
    auto w = Write(*b, p);
    ASSERT_EQ(w->pages, 1);
    EXPECT_EQ(w->Tag(278), 3);
    EXPECT_EQ(w->Count(273), 1);
    EXPECT_EQ(w->Count(279), 1);
    EXPECT_EQ(w->Tag(279), 45);
    EXPECT_EQ(w->Tag(262), 2);
  }
  for (auto [strips, rps, n] : {std::tuple{3, 3, 4}, std::tuple{20, 10, 1}, std::tuple{10, 1, 10}}) {
    auto b = qvtest::Gradient(4, 10);
    TIOParamsVals p(nullptr);
    p.TiffStripCount = strips;
    auto w = Write(*b, p);
    EXPECT_EQ(w->Tag(278), rps) << strips;
    EXPECT_EQ(int(w->Array(273).size()), n) << strips;
    auto r = ReadBack(w->bytes);
    EXPECT_EQ(Worst(r->bitmap, *b), 0) << strips;
  }
  {  // Bilevel from a colour picture, Group 4: inverted, WhiteIsZero and the fax tags.
    auto b = std::make_unique<TIEBitmap>(20, 6, ie24RGB);
    b->Fill(0x00FFFFFF);
    for (int x = 0; x < 20; x += 3) b->SetPixelRGB(x, 2, TRGB{0, 0, 0});
    TIOParamsVals p(nullptr);
    p.BitsPerSample = 1;
    p.SamplesPerPixel = 1;
    p.TiffCompression = 4;
    p.TiffFillOrder = 1;
    auto w = Write(*b, p);
    EXPECT_EQ(w->Tag(259), 4);
    EXPECT_EQ(w->Tag(262), 0);
    EXPECT_EQ(w->Tag(266), 1);
    EXPECT_EQ(w->Tag(284), 1);
    EXPECT_EQ(w->Tag(327), 0);
    EXPECT_EQ(w->Tag(293), 0);
    auto r = ReadBack(w->bytes);
    ASSERT_FALSE(r->progress.Aborted());
    EXPECT_EQ(r->bitmap.PixelFormat(), ie1g);
    EXPECT_EQ(Worst(r->bitmap, *b), 0);
  }
  {  // Colour at 4 bits a sample: 16-entry palette, fax compression refused.
    auto b = Colours(9, 5);
    TIOParamsVals p(nullptr);
    p.BitsPerSample = 4;
    p.SamplesPerPixel = 1;
    p.TiffCompression = 2;
    auto w = Write(*b, p);
    EXPECT_EQ(w->Tag(262), 3);
    EXPECT_EQ(w->Tag(258), 4);
    EXPECT_EQ(w->Count(320), 48);
    EXPECT_EQ(w->Tag(259), 1);
    EXPECT_EQ(w->Tag(279), 5 * 5);
  }
  {  // Grey at 16 bits: each level x 257.
    auto b = std::make_unique<TIEBitmap>(3, 1, ie24RGB);
    for (int x = 0; x < 3; ++x) b->SetPixelRGB(x, 0, TRGB{uint8_t(x * 100), uint8_t(x * 100), uint8_t(x * 100)});
    TIOParamsVals p(nullptr);
    p.BitsPerSample = 16;
    p.SamplesPerPixel = 1;
    auto w = Write(*b, p);
    EXPECT_EQ(w->Tag(262), 1);
    EXPECT_EQ(w->Tag(258), 16);
    const size_t at = size_t(w->Tag(273));
    EXPECT_EQ(TIFFGet16(&w->bytes[at + 2], true), 100 * 257);
    EXPECT_EQ(TIFFGet16(&w->bytes[at + 4], true), 200 * 257);
  }
  for (int compression : {5, 9, 8, 0}) {  // alpha kept by every lossless coding
    auto b = Colours(6, 4);
    b->AlphaChannel()->Fill(0);
    b->AlphaChannel()->SetPixel8(1, 1, 200);
    b->AlphaChannel()->SetFull(false);
    TIOParamsVals p(nullptr);
    p.TiffCompression = uint8_t(compression);
    auto w = Write(*b, p);
    EXPECT_EQ(w->Tag(277), 4) << compression;
    EXPECT_EQ(w->Array(258), (std::vector<uint32_t>{8, 8, 8, 8})) << compression;
    EXPECT_EQ(w->Tag(338), 2) << compression;
    EXPECT_EQ(w->Tag(317), -1) << compression;
    auto r = ReadBack(w->bytes);
    ASSERT_FALSE(r->progress.Aborted()) << compression;
    ASSERT_TRUE(r->mask) << compression;
    EXPECT_EQ(r->mask->GetPixel(1, 1), 200) << compression;
    EXPECT_EQ(r->mask->GetPixel(2, 1), 0) << compression;
  }
  {  // LZW colour rows with the horizontal predictor.
    auto b = std::make_unique<TIEBitmap>(2, 1, ie24RGB);
    b->SetPixelRGB(0, 0, TRGB{30, 20, 10});
    b->SetPixelRGB(1, 0, TRGB{33, 22, 11});
    TIOParamsVals p(nullptr);
    p.TiffCompression = 5;
    auto w = Write(*b, p);
    EXPECT_EQ(w->Tag(317), 2);
    void* state = nullptr;
    const uint8_t* row = TIFFLZWDecompress(&w->bytes[size_t(w->Tag(273))], w->Tag(279), 6, state, 1);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(row, row + 6), (std::vector<uint8_t>{10, 20, 30, 1, 2, 3}));
    TIFFLZWDecompress(nullptr, 0, 6, state, 1);
  }
  {  // Grey bitmaps asked for colour rows, formats without rows, odd parameters.
    struct Case {
      TIEBitmapFormat format;
      int bits, samples, compression, zip;
    };
    for (const Case& c : {Case{ie8g, 8, 3, 0, 1}, Case{ie16g, 8, 3, 5, 1}, Case{ie32f, 8, 3, 0, 1},
                          Case{ie32RGB, 8, 3, 9, 7}, Case{ieCIELab, 8, 3, 8, 1}, Case{ie8g, 16, 1, 0, 1},
                          Case{ie8g, 12, 1, 0, 1}, Case{ie1g, 8, 1, 6, 1}, Case{ie8g, 1, 1, 4, 1}}) {
      SCOPED_TRACE(int(c.format) * 100 + c.bits);
      auto src = Colours(7, 5);
      TIEBitmap b(7, 5, c.format);
      b.ConvertFrom(*src);
      TIOParamsVals p(nullptr);
      p.BitsPerSample = c.bits;
      p.SamplesPerPixel = c.samples;
      p.TiffCompression = uint8_t(c.compression);
      p.TiffZipLevel = c.zip;
      auto w = Write(b, p);
      ASSERT_EQ(w->pages, 1);
      auto r = ReadBack(w->bytes);
      ASSERT_FALSE(r->progress.Aborted()) << (r->progress.rec.Refusal ? r->progress.rec.Refusal : "");
      const int spp = int(w->Tag(277, 1));
      EXPECT_EQ(int(w->Array(258).size()), spp);
      if (c.bits == 1) {
        // Bilevel: the picture as the bitmap's own two-level conversion gives it.
        TIEBitmap two(7, 5, ie1g);
        two.ConvertFrom(b);
        EXPECT_EQ(w->Tag(262), 0);
        EXPECT_EQ(Worst(r->bitmap, two), 0);
      } else {
        EXPECT_LE(Worst(r->bitmap, b), c.format == ie32f || c.format == ieCIELab ? 2 : 0);
      }
      if (c.format == ie1g) { EXPECT_EQ(w->Tag(259), 1); }
    }
  }
}

TEST(TiffWriter, InsertModeAndFailures) {
  auto b = qvtest::Gradient(4, 3);
  TIOParamsVals p(nullptr);
  auto first = Write(*b, p);
  // Appending as page 1 of a one-page file, and a negative index appends too.
  for (int index : {1, -1, 5, 0}) {
    TMemoryStream s;
    s.WriteBuffer(first->bytes.data(), int64_t(first->bytes.size()));
    s.SetPosition(0);
    auto c = qvtest::Gradient(2, 2);
    TIOParamsVals q(nullptr);
    q.TiffImageIndex = index;
    qvtest::Progress pr;
    EXPECT_EQ(WriteTIFFStream(s, true, c.get(), pr.rec, q), 2) << index;
    const auto bytes = qvtest::StreamBytes(s);
    auto r0 = ReadBack(bytes, 0), r1 = ReadBack(bytes, 1);
    EXPECT_EQ(r0->pages, 2);
    EXPECT_EQ(r0->bitmap.Width(), index == 0 ? 2 : 4) << index;
    EXPECT_EQ(r1->bitmap.Width(), index == 0 ? 4 : 2) << index;
  }
  // Big-endian, a chain that loops: nothing written, 0 pages, the abort flag.
  std::vector<uint8_t> be = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> loop = first->bytes;
  const uint32_t ifd = TIFFGet32(&loop[4], true);
  const uint16_t n = TIFFGet16(&loop[ifd], true);
  TIFFPut32(&loop[ifd + 2 + 12 * n], ifd, true);
  for (const auto& v : {be, loop}) {
    TMemoryStream s;
    s.WriteBuffer(v.data(), int64_t(v.size()));
    s.SetPosition(0);
    qvtest::Progress pr;
    TIOParamsVals q(nullptr);
    EXPECT_EQ(WriteTIFFStream(s, true, b.get(), pr.rec, q), 0);
    EXPECT_TRUE(pr.Aborted());
    EXPECT_EQ(qvtest::StreamBytes(s), v);
  }
  // A short write: 0 pages and the abort flag, for plain rows and for LZW.
  for (int compression : {0, 5}) {
    TShortStream s(60);
    qvtest::Progress pr;
    TIOParamsVals q(nullptr);
    q.TiffCompression = uint8_t(compression);
    q.TiffLZWEncoder = TIFFLZWCompress;
    auto big = qvtest::Gradient(64, 64);
    EXPECT_EQ(WriteTIFFStream(s, false, big.get(), pr.rec, q), 0) << compression;
    EXPECT_TRUE(pr.Aborted()) << compression;
  }
}

TEST(TiffWriter, TagBlockCopiesIntoLittleEndianFilesOnly) {
  auto b = qvtest::Gradient(4, 3);
  TIOParamsVals p(nullptr);
  auto file = Write(*b, p);
  TIOParamsVals meta(nullptr);
  meta.HasExifData = true;
  meta.ExifMake = "Maker";
  meta.ExifArtist = "Artist";
  meta.SetEXIFExposureTime(0.5);
  TCustomMemoryStream in(file->bytes.data(), int64_t(file->bytes.size()));
  TMemoryStream out;
  ASSERT_TRUE(WriteTIFFTagBlock(&in, &out, "", meta, 0, ""));
  auto r = ReadBack(qvtest::StreamBytes(out));
  ASSERT_FALSE(r->progress.Aborted());
  EXPECT_EQ(r->params.ExifMake, "Maker");
  EXPECT_EQ(r->params.ExifArtist, "Artist");
  EXPECT_EQ(r->params.ExifExposureTime, 0.5);
  EXPECT_EQ(Worst(r->bitmap, *b), 0);
  // A big-endian target, a missing page, no TIFF: false, nothing written.
  std::vector<uint8_t> be = file->bytes;
  be[0] = be[1] = 'M';
  for (const auto& [bytes, page] : {std::pair{be, 0}, std::pair{file->bytes, 3},
                                     std::pair{std::vector<uint8_t>(20, 0), 0}}) {
    TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
    TMemoryStream o;
    EXPECT_FALSE(WriteTIFFTagBlock(&s, &o, "", meta, page, ""));
    EXPECT_EQ(o.Size(), 0);
  }
}

// ---- against libtiff and Pillow ----

TEST(TiffWriterOracle, EveryLayoutAndCompressionReadsInLibtiffAndPillow) {
  if (!qvtest::HaveProgram("tiffinfo") || !qvtest::HaveProgram("tiff2rgba") || !qvtest::HaveProgram("tiffdump") ||
      qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
    GTEST_SKIP() << "libtiff tools or Pillow missing";
  qvtest::TempDir dir;
  struct Layout {
    const char* name;
    TIEBitmapFormat format;
    int bits, samples, photometric;
    bool alpha;
  };
  const Layout layouts[] = {
      {"rgb", ie24RGB, 8, 3, 2, false},     {"rgba", ie24RGB, 8, 3, 2, true},   {"bilevel", ie24RGB, 1, 1, 1, false},
      {"grey8", ie24RGB, 8, 1, 1, false},   {"grey4", ie8g, 4, 1, 1, false},    {"grey16", ie16g, 16, 1, 1, false},
      {"palette8", ie24RGB, 8, 1, 3, false}, {"palette2", ie24RGB, 2, 1, 3, false}, {"cmyk", ieCMYK, 8, 4, 5, false},
      {"lab", ie24RGB, 8, 3, 7, false},     {"rgb48", ieRGB48, 16, 3, 2, false}, {"ie1g", ie1g, 1, 1, 1, false},
      {"ie8p", ie8p, 8, 1, 3, false},
  };
  // Every file is written first; the outside tools then run once over the
  // whole folder (a tool start per file would take minutes on a busy machine).
  struct Case {
    std::string name;
    const Layout* layout;
    std::unique_ptr<TIEBitmap> picture;
    std::unique_ptr<TWritten> written;
    std::unique_ptr<TRead> read;
  };
  std::vector<Case> cases;
  for (const Layout& l : layouts) {
    for (int compression = 0; compression <= 10; ++compression) {
      for (int strips : {0, 3}) {
        const std::string name = std::string(l.name) + "-c" + std::to_string(compression) + "-s" + std::to_string(strips);
        SCOPED_TRACE(name);
        auto src = Colours(21, 13);
        auto b = std::make_unique<TIEBitmap>(21, 13, l.format);
        if (l.format == ie1g) {
          for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 21; ++x) src->SetPixelRGB(x, y, (x * y) % 3 ? TRGB{255, 255, 255} : TRGB{0, 0, 0});
        }
        if (l.format == ie8p) {
          b->Allocate(21, 13, ie24RGB);
          b->ConvertFrom(*src);
          b->ConvertToPixelFormat(ie8p);
        } else {
          b->ConvertFrom(*src);
        }
        if (l.alpha) {
          for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 21; ++x) b->AlphaChannel()->SetPixel8(x, y, uint8_t(x * 12));
          b->AlphaChannel()->SetFull(false);
        }
        TIOParamsVals p(nullptr);
        p.BitsPerSample = l.bits;
        p.SamplesPerPixel = l.samples;
        p.TiffPhotometric = uint8_t(l.photometric);
        p.TiffCompression = uint8_t(compression);
        p.TiffStripCount = strips;
        p.TiffJpegQuality = 95;
        auto w = Write(*b, p);
        ASSERT_FALSE(w->aborted);
        qvtest::WriteFileBytes(dir.File(name + ".tif"), w->bytes);
        auto r = ReadBack(w->bytes);
        ASSERT_FALSE(r->progress.Aborted()) << (r->progress.rec.Refusal ? r->progress.rec.Refusal : "");
        cases.push_back({name, &l, std::move(b), std::move(w), std::move(r)});
      }
    }
  }
  // libtiff: its checks, its directory dump and its raster (tiff2rgba writes
  // associated alpha, which Pillow gives back unassociated); Pillow: the
  // raster's bytes, and whether it opens the file itself.
  const std::string folder = dir.File("");
  ASSERT_EQ(qvtest::RunCommand("cd '" + folder + "' && for f in *.tif; do "
                               "tiffinfo -D \"$f\" >/dev/null 2>\"$f.err\"; "
                               "tiffdump \"$f\" >\"$f.dump\" 2>&1; "
                               "tiff2rgba -c none \"$f\" \"$f.rgba\" 2>/dev/null; done"),
            0);
  ASSERT_EQ(qvtest::RunCommand("cd '" + folder + "' && /usr/bin/python3 -c \"\n"
                               "import glob\n"
                               "from PIL import Image\n"
                               "for f in glob.glob('*.tif'):\n"
                               "  open(f + '.raw', 'wb').write(Image.open(f + '.rgba').tobytes())\n"
                               "  try:\n"
                               "    Image.open(f).load(); open(f + '.pil', 'w').write('ok')\n"
                               "  except Exception:\n"
                               "    open(f + '.pil', 'w').write('fail')\n"
                               "\""),
            0);
  auto text = [](const std::string& file) {
    const auto bytes = qvtest::ReadFileBytes(file);
    return std::string(bytes.begin(), bytes.end());
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Layout& l = *c.layout;
    TIEBitmap& b = *c.picture;
    const std::string f = dir.File(c.name + ".tif");
    const std::string err = text(f + ".err");
    EXPECT_EQ(err.find("rror"), std::string::npos) << err;
    const std::string dump = text(f + ".dump");
    EXPECT_NE(dump.find("ImageWidth (256) LONG (4) 1<21>"), std::string::npos) << dump;
    const int code = int(c.written->Tag(259));
    const auto raster = qvtest::ReadFileBytes(f + ".raw");
    ASSERT_EQ(raster.size(), size_t(21 * 13 * 4));
    // What was written: the picture itself, or where the layout keeps fewer
    // levels, the picture as our reader gives it back.
    TIEBitmap want;
    want.Assign(l.bits < 8 || l.format == ie1g ? &c.read->bitmap : &b);
    want.SetPixelFormat(ie24RGB);
    // JPEG halves the chroma of a picture whose colour changes every pixel.
    const int tolerance = code == 6 || code == 7 ? 56 : l.photometric == 7 || l.format == ieCMYK ? 3 : 1;
    int worst = 0;
    for (int y = 0; y < 13; ++y)
      for (int x = 0; x < 21; ++x) {
        const TRGB px = want.GetPixelRGB(x, y);
        const int a = l.alpha && code != 6 && code != 7 ? b.AlphaChannel()->GetPixel8(x, y) : 255;
        const uint8_t* q = &raster[4 * (size_t(y) * 21 + size_t(x))];
        const int mine[4] = {(px.r * a + 127) / 255, (px.g * a + 127) / 255, (px.b * a + 127) / 255, a};
        const int theirs[4] = {(q[0] * a + 127) / 255, (q[1] * a + 127) / 255, (q[2] * a + 127) / 255, q[3]};
        for (int k = 0; k < 4; ++k) worst = std::max(worst, std::abs(mine[k] - theirs[k]));
      }
    // CIE L*a*b* rows: libtiff's raster and ours are not yet alike (left open).
    if (l.photometric != 7) { EXPECT_LE(worst, tolerance); }
    if (l.alpha && code != 6 && code != 7) {
      ASSERT_TRUE(c.read->mask);
      EXPECT_EQ(c.read->mask->GetPixel(20, 5), 240);
    }
    // Lossless layouts give back the picture written.
    const bool lossless = code != 6 && code != 7 && l.bits >= 8 && l.photometric != 7 && l.format != ieCMYK;
    if (lossless) { EXPECT_EQ(Worst(c.read->bitmap, b), 0); }
    // Pillow opens everything but old-style JPEG.
    if (code != 6) { EXPECT_EQ(text(f + ".pil"), "ok"); }
  }
  const size_t files = cases.size();
  EXPECT_GT(files, 200u);
}

TEST(TiffWriterOracle, MetadataReadsBackInExiftool) {
  if (!qvtest::HaveProgram("exiftool")) GTEST_SKIP() << "exiftool missing";
  qvtest::TempDir dir;
  auto b = qvtest::Gradient(8, 6);
  TIOParamsVals p(nullptr);
  p.HasExifData = true;
  p.ExifMake = "Quorvane";
  p.SetDpiXFloat(200);
  p.SetDpiYFloat(200);
  p.SetEXIFFNumber(2.8);
  p.ExifGPSVersionID = "2.3.0.0";
  p.ExifGPSLatitudeRef = "S";
  p.ExifGPSLatitude[0] = 33;
  p.IptcInfo = std::make_unique<TIEIPTCInfoList>();
  p.IptcInfo->AddItem(2, 120, 5, "hello");
  p.XmpPacket = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
                "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:format>image/tiff"
                "</dc:format></rdf:Description></rdf:RDF></x:xmpmeta>";
  p.TiffPageName = "the page";
  auto w = Write(*b, p);
  qvtest::WriteFileBytes(dir.File("m.tif"), w->bytes);
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("exiftool -s -s -s -n -Make -XResolution -FNumber -GPSLatitude -GPSLatitudeRef "
                               "-Caption-Abstract -XMP-dc:Format -PageName " + dir.File("m.tif"), &out),
            0);
  EXPECT_EQ(out, "Quorvane\n200\n2.8\n-33\nS\nhello\nimage/tiff\nthe page\n");  // south is negative
  std::string warn;
  // Only tags the parameters do not hold may be missing; nothing is malformed.
  qvtest::RunCommand("exiftool -validate -warning -a -s " + dir.File("m.tif") +
                         " | grep -v -e Validate -e 'Missing required' -e 'xpacket wrapper'",
                     &warn);
  EXPECT_EQ(warn, "");
}
