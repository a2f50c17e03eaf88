// The PNG filter: native formats, several PNGs in one stream, the writer's
// colour types and the hostile-input table.
#include <gtest/gtest.h>

#include <png.h>

#include <cstring>

#include "imaging/core/ie_mask.h"
#include "imaging/formats/png_filter.h"
#include "platform/rtl/exceptions.h"
#include "tests/imaging/formats/format_test_util.h"

namespace {

using qvtest::Progress;

std::vector<uint8_t> Write(TIEBitmap& b, TIOParamsVals& params, TIEMask* mask = nullptr) {
  TMemoryStream out;
  Progress p;
  WritePNGStream(out, b, params, mask, p.rec);
  EXPECT_FALSE(p.Aborted());
  return qvtest::StreamBytes(out);
}

struct Read {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  Progress progress;
};

std::unique_ptr<Read> Load(const std::vector<uint8_t>& bytes, bool native = false) {
  auto r = std::make_unique<Read>();
  r->params.NativePixelFormat = native;
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  ReadPNGStream(s, r->bitmap, r->params, false, r->progress.rec);
  return r;
}

// A 1-bit PNG written by libpng itself: palette (black, white) or grey,
// interlaced or not, with a tRNS chunk making index or grey 0 transparent.
std::vector<uint8_t> LibpngOneBit(int w, int h, bool palette, bool interlaced, bool trns,
                                  const std::vector<uint8_t>& bits) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* v = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
        v->insert(v->end(), data, data + n);
      },
      nullptr);
  png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 1, palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_GRAY,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_color colours[2] = {{0, 0, 0}, {255, 255, 255}};
  if (palette) png_set_PLTE(png, info, colours, 2);
  png_byte alpha[1] = {0};
  png_color_16 grey{};
  if (trns) png_set_tRNS(png, info, palette ? alpha : nullptr, palette ? 1 : 0, palette ? nullptr : &grey);
  png_write_info(png, info);
  const size_t rowBytes = size_t(w + 7) / 8;
  std::vector<png_bytep> rows;
  std::vector<uint8_t> copy = bits;
  for (int y = 0; y < h; ++y) rows.push_back(copy.data() + size_t(y) * rowBytes);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

TEST(PngFilter, OneBitPicturesKeepEveryPassAndTheirTransparency) {
  // A 9 x 9 checkerboard: every Adam7 pass holds pixels of both colours.
  const int w = 9, h = 9;
  std::vector<uint8_t> bits(size_t(2 * h), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((x + y) % 2) bits[size_t(y * 2 + x / 8)] |= uint8_t(0x80 >> (x % 8));
  for (bool palette : {true, false})
    for (bool interlaced : {false, true})
      for (bool trns : {false, true}) {
        SCOPED_TRACE(std::string(palette ? "palette" : "grey") + (interlaced ? " Adam7" : "") + (trns ? " tRNS" : ""));
        auto r = Load(LibpngOneBit(w, h, palette, interlaced, trns, bits));
        ASSERT_FALSE(r->progress.Aborted());
        ASSERT_EQ(r->bitmap.Width(), w);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            const bool white = (x + y) % 2 != 0;
            ASSERT_EQ(r->bitmap.GetPixelAsRGB(x, y), white ? MakeRGB(255, 255, 255) : MakeRGB(0, 0, 0)) << x << "," << y;
            // The 0 entry (or grey 0) is transparent where tRNS says so.
            const int alpha = r->bitmap.HasAlphaChannel() ? r->bitmap.GetAlpha(x, y) : 255;
            ASSERT_EQ(alpha, trns && !white ? 0 : 255) << x << "," << y;
          }
      }
}

TEST(PngFilter, GreyAtSixteenBitsKeepsWholeSamples) {
  TIEBitmap g(3, 1, ie16g);
  const uint16_t v[3] = {0x1234, 0xFF01, 0x0080};
  std::memcpy(g.ScanLine(0), v, 6);
  TIOParamsVals params(nullptr);
  params.SamplesPerPixel = 1;
  params.BitsPerSample = 16;
  auto r = Load(Write(g, params), true);
  ASSERT_FALSE(r->progress.Aborted());
  ASSERT_EQ(r->bitmap.PixelFormat(), ie16g);
  EXPECT_EQ(r->params.BitsPerSample, 16);
  for (int x = 0; x < 3; ++x) EXPECT_EQ(r->bitmap.GetPixel16(x, 0), v[x]);
  // Converted, the high bytes make the grey.
  auto c = Load(Write(g, params));
  EXPECT_EQ(c->bitmap.GetPixelRGB(1, 0), MakeRGB(0xFF, 0xFF, 0xFF));
}

TEST(PngFilter, NativePaletteWithTransparencyAndTwoPngsInOneStream) {
  TIEBitmap src(4, 2, ie24RGB);
  for (int x = 0; x < 4; ++x) {
    src.SetPixelRGB(x, 0, MakeRGB(uint8_t(x * 60), 0, 0));
    src.SetPixelRGB(x, 1, MakeRGB(0, 0, 200));
  }
  TIEMask mask;
  mask.Allocate(4, 2, 8);
  mask.Fill(255);
  mask.SetPixel(1, 0, 254);  // anything short of opaque becomes transparent
  mask.SetFull(false);
  TIOParamsVals params(nullptr);
  params.SamplesPerPixel = 1;
  params.BitsPerSample = 4;
  params.PngBackground = MakeRGB(9, 8, 7);
  std::vector<uint8_t> both = Write(src, params, &mask);
  EXPECT_EQ(params.BitsPerSample, 8);  // normalised in place
  params.SamplesPerPixel = 3;
  const std::vector<uint8_t> second = Write(src, params);
  both.insert(both.end(), second.begin(), second.end());

  TCustomMemoryStream s(both.data(), int64_t(both.size()));
  Read first;
  first.params.NativePixelFormat = true;
  ReadPNGStream(s, first.bitmap, first.params, false, first.progress.rec);
  ASSERT_FALSE(first.progress.Aborted());
  ASSERT_EQ(first.bitmap.PixelFormat(), ie8p);
  EXPECT_EQ(first.bitmap.GetPixel8(1, 0), 0);
  EXPECT_EQ(first.bitmap.GetAlpha(1, 0), 0);
  EXPECT_EQ(first.bitmap.GetAlpha(2, 0), 255);
  EXPECT_EQ(first.params.PngBackground, MakeRGB(9, 8, 7));
  TRGB c;
  first.bitmap.GetPaletteColor(first.bitmap.GetPixel8(2, 0), c);
  EXPECT_EQ(c, MakeRGB(120, 0, 0));
  // The reader stopped right after IEND: the next PNG follows.
  EXPECT_TRUE(IsPNGStream(s));
  Read next;
  ReadPNGStream(s, next.bitmap, next.params, false, next.progress.rec);
  ASSERT_FALSE(next.progress.Aborted());
  EXPECT_EQ(next.bitmap.GetPixelRGB(2, 1), MakeRGB(0, 0, 200));
  EXPECT_EQ(s.Position(), s.Size());
}

TEST(PngFilter, WriterChoosesGreyOrPaletteAndTexts) {
  TIEBitmap grey(5, 2, ie8g);
  grey.Fill(0);
  grey.SetPixel8(3, 1, 77);
  TIOParamsVals params(nullptr);
  params.SamplesPerPixel = 1;
  params.BitsPerSample = 8;
  params.PngTextKeys.Add("One");
  params.PngTextKeys.Add("Two");
  params.PngTextValues.Add("a");
  params.PngTextValues.Add("b");
  params.PngTextValues.Add("c");
  auto r = Load(Write(grey, params), true);
  ASSERT_EQ(r->bitmap.PixelFormat(), ie8g);
  EXPECT_EQ(r->bitmap.GetPixel8(3, 1), 77);
  EXPECT_EQ(r->params.SamplesPerPixel, 1);
  EXPECT_EQ(r->params.PaletteCount, 0);
  EXPECT_EQ(r->params.PngTextKeys.Count(), 2);

  auto colour = qvtest::Gradient(9, 9);
  auto p = Load(Write(*colour, params), true);
  EXPECT_EQ(p->bitmap.PixelFormat(), ie8p);
  EXPECT_EQ(p->params.PaletteCount, 256);

  // A colour image asked for one 16-bit sample is a 16-bit palette: refused.
  params.BitsPerSample = 16;
  TMemoryStream out;
  Progress pr;
  EXPECT_THROW(WritePNGStream(out, *colour, params, nullptr, pr.rec), EInvalidGraphic);
}

// A stream that takes nothing: the writer ends with the abort flag, no exception.
class TRefusingStream : public TMemoryStream {
public:
  int64_t Write(const void*, int64_t) override { return 0; }
};

TEST(PngFilter, RefusedWritesSetTheAbortFlag) {
  auto b = qvtest::Gradient(4, 4);
  TIOParamsVals params(nullptr);
  TRefusingStream s;
  Progress p;
  EXPECT_NO_THROW(WritePNGStream(s, *b, params, nullptr, p.rec));
  EXPECT_TRUE(p.Aborted());
}

TEST(PngFilter, HostileStreamsSetTheAbortFlag) {
  TIOParamsVals params(nullptr);
  auto b = qvtest::Gradient(6, 5);
  const std::vector<uint8_t> good = Write(*b, params);
  std::vector<std::pair<const char*, std::vector<uint8_t>>> cases;
  cases.push_back({"signature_then_garbage", {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}});
  cases.push_back({"truncated", std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2))});
  auto crc = good;
  crc[29] ^= 0xFF;  // IHDR's CRC
  cases.push_back({"bad_crc", crc});
  {
    // 65,500 x 65,500 claimed by a tiny file: the allocation fails, nothing is read.
    std::vector<uint8_t> huge = good;
    const uint8_t wh[8] = {0, 0, 0xFF, 0xDC, 0, 0, 0xFF, 0xDC};
    std::memcpy(huge.data() + 16, wh, 8);
    // Recompute the IHDR CRC so that only the size is hostile.
    uint32_t c = 0xFFFFFFFFu;
    for (int i = 12; i < 29; ++i) {
      c ^= huge[size_t(i)];
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    c ^= 0xFFFFFFFFu;
    for (int k = 0; k < 4; ++k) huge[size_t(29 + k)] = uint8_t(c >> (24 - 8 * k));
    cases.push_back({"huge_claim", huge});
  }
  for (const auto& [name, bytes] : cases) {
    auto r = Load(bytes);
    EXPECT_TRUE(r->progress.Aborted()) << name;
    // Each says why; the huge claim is refused by the bound on what its
    // deflate data can fill, before any buffer exists.
    ASSERT_NE(r->progress.rec.Refusal, nullptr) << name;
    if (std::string(name) == "huge_claim") {
      EXPECT_STREQ(r->progress.rec.Refusal, "the data cannot fill the rows");
    }
  }
  EXPECT_FALSE(Load(good)->progress.Aborted());

  // The probe: short streams answer false and keep their position.
  const uint8_t sig[3] = {0x89, 'P', 'N'};
  TCustomMemoryStream s(sig, 3);
  s.SetPosition(1);
  EXPECT_FALSE(IsPNGStream(s));
  EXPECT_EQ(s.Position(), 1);
  TCustomMemoryStream g(cases[0].second.data(), 16);
  EXPECT_TRUE(IsPNGStream(g));
  EXPECT_EQ(g.Position(), 0);
}

}  // namespace
