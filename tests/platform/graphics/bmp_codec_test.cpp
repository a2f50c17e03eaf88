#include "platform/graphics/bmp_codec.h"

#include <gtest/gtest.h>

#include <functional>
#include <typeinfo>

#include "bmp_builder.h"
#include "pillow_oracle.h"
#include "platform/graphics/bitmap_refusal.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

using namespace bmpcodec;
using qvtest::BmpSpec;
using qvtest::BuildBmp;
using qvtest::PatternBytes;
using qvtest::TestPalette;

namespace {

Dib ReadBytes(const std::vector<uint8_t>& bytes) {
  TCustomMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  return ReadBmp(s);
}

BmpSpec Uncompressed(int headerSize, int width, int height, int bits, uint32_t seed) {
  BmpSpec s;
  s.headerSize = headerSize;
  s.width = width;
  s.height = height;
  s.bitCount = bits;
  if (bits <= 8) s.palette = TestPalette(1 << bits);
  s.data = PatternBytes(static_cast<size_t>(DibRowBytes(width, bits) * (height < 0 ? -height : height)), seed);
  return s;
}

BmpSpec WithMasks(BmpSpec s, DWORD r, DWORD g, DWORD b, DWORD a = 0) {
  s.compression = BI_BITFIELDS;
  s.masks[0] = r, s.masks[1] = g, s.masks[2] = b, s.masks[3] = a;
  return s;
}

struct Variant {
  const char* name;
  std::function<BmpSpec()> make;
  // Pillow 9.4 reads the two bytes of an RLE delta twice, drops the odd pixel of
  // RLE4 absolute runs and rejects RLE data that ends before the last row; those
  // variants are checked against hand-worked indexes instead.
  bool pillowReadsIt = true;
};

std::vector<Variant> Variants() {
  return {
      {"core 1 bit", [] { return Uncompressed(12, 13, 5, 1, 1); }},
      {"core 4 bit", [] { return Uncompressed(12, 7, 4, 4, 2); }},
      {"core 8 bit", [] { return Uncompressed(12, 9, 3, 8, 3); }},
      {"core 24 bit", [] { return Uncompressed(12, 5, 3, 24, 4); }},
      {"info 1 bit", [] { return Uncompressed(40, 33, 4, 1, 5); }},
      {"info 4 bit", [] { return Uncompressed(40, 11, 6, 4, 6); }},
      {"info 8 bit", [] { return Uncompressed(40, 10, 7, 8, 7); }},
      {"info 8 bit short palette",
       [] {
         BmpSpec s = Uncompressed(40, 6, 4, 8, 8);
         s.palette = TestPalette(5);
         for (auto& b : s.data) b %= 5;
         return s;
       }},
      {"info 16 bit 5-5-5", [] { return Uncompressed(40, 7, 5, 16, 9); }},
      {"info 24 bit", [] { return Uncompressed(40, 7, 5, 24, 10); }},
      {"info 32 bit", [] { return Uncompressed(40, 4, 3, 32, 11); }},
      {"info 16 bit 5-6-5 bit fields", [] { return WithMasks(Uncompressed(40, 5, 4, 16, 12), 0xF800, 0x07E0, 0x001F); }},
      {"info 32 bit bit fields", [] { return WithMasks(Uncompressed(40, 3, 3, 32, 13), 0xFF0000, 0xFF00, 0xFF); }},
      {"V4 32 bit BGRA", [] { return WithMasks(Uncompressed(108, 4, 4, 32, 15), 0xFF0000, 0xFF00, 0xFF, 0xFF000000); }},
      {"V5 32 bit RGBA order",
       [] { return WithMasks(Uncompressed(124, 5, 3, 32, 16), 0xFF, 0xFF00, 0xFF0000, 0xFF000000); }},
      {"V5 16 bit 5-5-5 bit fields", [] { return WithMasks(Uncompressed(124, 6, 2, 16, 17), 0x7C00, 0x03E0, 0x001F); }},
      {"V5 24 bit", [] { return Uncompressed(124, 3, 3, 24, 18); }},
      {"top-down 24 bit", [] { return Uncompressed(40, 5, -4, 24, 19); }},
      {"top-down 8 bit", [] { return Uncompressed(40, 6, -3, 8, 20); }},
      {"top-down 1 bit", [] { return Uncompressed(40, 9, -3, 1, 21); }},
      {"gap before pixels",
       [] {
         BmpSpec s = Uncompressed(40, 4, 2, 24, 22);
         s.offBits = 14 + 40 + 30;
         return s;
       }},
      {"RLE8 runs, absolute, delta, end of line",
       [] {
         BmpSpec s;
         s.width = 8, s.height = 4, s.bitCount = 8, s.compression = BI_RLE8;
         s.palette = TestPalette(256);
         s.data = {3, 7, 0, 3, 1, 2, 3, 0, 0, 0,  // row 0: run, odd absolute run padded, end of line
                   0, 2, 2, 1,                     // delta (2,1): row 1 stays empty
                   2, 9, 0, 0,                     // row 2: run from x 2, end of line
                   0, 4, 10, 11, 12, 13, 4, 200,   // row 3: absolute run of 4, run of 4
                   0, 1};                          // end of bitmap
         return s;
       },
       false},
      {"RLE4 runs and absolute",
       [] {
         BmpSpec s;
         s.width = 7, s.height = 3, s.bitCount = 4, s.compression = BI_RLE4;
         s.palette = TestPalette(16);
         s.data = {5, 0x12, 0, 0,                  // row 0: 1 2 1 2 1
                   0, 5, 0x34, 0x56, 0x70, 0, 0, 0, // row 1: absolute 3 4 5 6 7 (3 bytes, padded)
                   0, 2, 3, 0, 2, 0xAB, 0, 1};     // delta to row 2, x 3; run A B; end of bitmap
         return s;
       },
       false},
      {"RLE8 runs, absolute, end of line",
       [] {
         BmpSpec s;
         s.width = 6, s.height = 3, s.bitCount = 8, s.compression = BI_RLE8;
         s.palette = TestPalette(256);
         s.data = {2, 5, 0, 3, 7, 8, 9, 0, 0, 0, 6, 1, 0, 0, 0, 4, 20, 21, 22, 23, 2, 30, 0, 1};
         return s;
       }},
      {"RLE4 runs, even absolute, end of line",
       [] {
         BmpSpec s;
         s.width = 5, s.height = 2, s.bitCount = 4, s.compression = BI_RLE4;
         s.palette = TestPalette(16);
         s.data = {3, 0x9A, 0, 0, 0, 4, 0x12, 0x34, 1, 0xF0, 0, 1};
         return s;
       }},
      {"RLE8 without end marker",
       [] {
         BmpSpec s;
         s.width = 4, s.height = 2, s.bitCount = 8, s.compression = BI_RLE8;
         s.palette = TestPalette(256);
         s.data = {4, 9};
         return s;
       },
       false},
  };
}

// Channel values reduced to the precision a bit-field channel really has, so that
// readers that widen 5-bit values differently still compare equal.
int Quantise(int v, int bits) { return bits >= 8 ? v : (v * ((1 << bits) - 1) + 127) / 255; }

}  // namespace

TEST(BmpCodec, HandBuiltRleDecodesToTheExpectedIndexes) {
  // Indexes by hand from the escape rules; rows listed from the bottom.
  BmpSpec s = Variants()[21].make();
  Dib dib = ReadBytes(BuildBmp(s));
  ASSERT_EQ(dib.bitCount, 8);
  ASSERT_EQ(dib.compression, BI_RGB);
  const std::vector<std::vector<int>> rows = {
      {7, 7, 7, 1, 2, 3, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 9, 9, 0, 0, 0, 0}, {10, 11, 12, 13, 200, 200, 200, 200}};
  for (int y = 0; y < 4; ++y) {
    const uint8_t* row = dib.bits.data() + y * dib.RowBytes();
    EXPECT_EQ(std::vector<int>(row, row + 8), rows[y]) << "row " << y << " from the bottom";
  }
  // RLE4: nibbles high first, a delta that keeps the row, a padded absolute run.
  Dib four = ReadBytes(BuildBmp(Variants()[22].make()));
  ASSERT_EQ(four.bitCount, 4);
  auto nibble = [&](int x, int yBottom) {
    uint8_t b = four.bits[yBottom * four.RowBytes() + x / 2];
    return (x & 1) ? b & 15 : b >> 4;
  };
  const int expect4[3][7] = {{1, 2, 1, 2, 1, 0, 0}, {3, 4, 5, 6, 7, 0, 0}, {0, 0, 0, 10, 11, 0, 0}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(nibble(x, y), expect4[y][x]) << x << "," << y;
}

TEST(BmpCodec, HeaderLengthsCarryingTheSameMasksReadAlike) {
  // Masks inside a 56-byte header, a V4 header, a V5 header or after a 40-byte header.
  Dib v4 = ReadBytes(BuildBmp(WithMasks(Uncompressed(108, 3, 2, 32, 14), 0xFF0000, 0xFF00, 0xFF, 0xFF000000)));
  for (int headerSize : {56, 124}) {
    Dib other = ReadBytes(BuildBmp(WithMasks(Uncompressed(headerSize, 3, 2, 32, 14), 0xFF0000, 0xFF00, 0xFF, 0xFF000000)));
    EXPECT_EQ(other.bits, v4.bits);
    EXPECT_EQ(std::vector<DWORD>(other.masks, other.masks + 4), std::vector<DWORD>(v4.masks, v4.masks + 4));
  }
  EXPECT_EQ(PixelAt(v4, 0, 0).a, v4.Row(0)[3]);
}

TEST(BmpCodec, VariantsReadToWellFormedDibs) {
  for (const auto& v : Variants()) {
    BmpSpec s = v.make();
    Dib dib = ReadBytes(BuildBmp(s));
    EXPECT_EQ(dib.width, s.width) << v.name;
    EXPECT_EQ(dib.height, s.height < 0 ? -s.height : s.height) << v.name;
    EXPECT_EQ(dib.bits.size(), static_cast<size_t>(dib.RowBytes() * dib.height)) << v.name;
    EXPECT_NE(dib.compression, BI_RLE8) << v.name;
  }
}

TEST(BmpCodec, VariantsReadLikePillowOracle) {
  QV_REQUIRE_PILLOW();
  qvtest::TempDir dir;
  std::vector<const Variant*> checked;
  std::vector<std::string> paths;
  const auto variants = Variants();
  for (const auto& v : variants) {
    if (!v.pillowReadsIt) continue;
    paths.push_back(dir.File("v" + std::to_string(paths.size()) + ".bmp"));
    qvtest::WriteFileBytes(paths.back(), BuildBmp(v.make()));
    checked.push_back(&v);
  }
  const auto images = qvtest::PillowPixelsOfFiles(paths);
  for (size_t k = 0; k < checked.size(); ++k) {
    SCOPED_TRACE(checked[k]->name);
    const auto& pil = images[k].rgba;
    const int w = images[k].width, h = images[k].height;
    ASSERT_FALSE(pil.empty());
    Dib dib = ReadBytes(qvtest::ReadFileBytes(paths[k]));
    ASSERT_EQ(w, dib.width);
    ASSERT_EQ(h, dib.height);
    DWORD masks[4];
    dib.EffectiveMasks(masks);
    const bool bitFields = dib.bitCount == 16 || dib.compression == BI_BITFIELDS;
    const bool alphaIsData = dib.bitCount == 32 && dib.compression == BI_RGB;  // Pillow calls it padding
    int mismatches = 0;
    for (int y = 0; y < h && mismatches < 5; ++y) {
      for (int x = 0; x < w && mismatches < 5; ++x) {
        const Rgba p = PixelAt(dib, x, y);
        const uint8_t* q = &pil[(static_cast<size_t>(y) * w + x) * 4];
        int ours[4] = {p.r, p.g, p.b, p.a};
        for (int c = 0; c < 4; ++c) {
          if (c == 3 && alphaIsData) continue;
          int bits = bitFields && masks[c] ? MaskBits(masks[c]) : 8;
          if (Quantise(ours[c], bits) != Quantise(q[c], bits)) {
            ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": ours " << ours[c] << " Pillow "
                          << int(q[c]);
            ++mismatches;
            break;
          }
        }
      }
    }
  }
}

TEST(BmpCodec, PillowWrittenFilesReadLikePillowOracle) {
  QV_REQUIRE_PILLOW();
  qvtest::TempDir dir;
  std::string out;
  ASSERT_EQ(qvtest::RunPython(
                "from PIL import Image\n"
                "import os\n"
                "d = '" + dir.Path().string() + "'\n"
                "base = Image.new('RGBA', (13, 7))\n"
                "base.putdata([((x*41)%256, (y*67)%256, ((x+y)*29)%256, (x*y*17)%256) for y in range(7) for x in range(13)])\n"
                "base.save(os.path.join(d, 'rgba.bmp'))\n"
                "base.convert('RGB').save(os.path.join(d, 'rgb.bmp'))\n"
                "base.convert('L').save(os.path.join(d, 'l.bmp'))\n"
                "base.convert('1').save(os.path.join(d, '1.bmp'))\n"
                "base.convert('RGB').quantize(40).save(os.path.join(d, 'p.bmp'))\n",
                &out),
            0);
  const std::vector<std::string> names = {"rgba.bmp", "rgb.bmp", "l.bmp", "1.bmp", "p.bmp"};
  std::vector<std::string> paths;
  for (const auto& n : names) paths.push_back(dir.File(n));
  const auto images = qvtest::PillowPixelsOfFiles(paths);
  for (size_t k = 0; k < names.size(); ++k) {
    const std::string& name = names[k];
    SCOPED_TRACE(name);
    const std::string& path = paths[k];
    const int w = images[k].width, h = images[k].height;
    const auto& pil = images[k].rgba;
    ASSERT_FALSE(pil.empty());
    Dib dib = ReadBytes(qvtest::ReadFileBytes(path));
    ASSERT_EQ(dib.width, w);
    ASSERT_EQ(dib.height, h);
    const bool alphaIsData = dib.bitCount == 32 && dib.compression == BI_RGB;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const Rgba p = PixelAt(dib, x, y);
        const uint8_t* q = &pil[(static_cast<size_t>(y) * w + x) * 4];
        ASSERT_EQ(p.r, q[0]) << x << "," << y;
        ASSERT_EQ(p.g, q[1]) << x << "," << y;
        ASSERT_EQ(p.b, q[2]) << x << "," << y;
        if (!alphaIsData) {
          ASSERT_EQ(p.a, q[3]) << x << "," << y;
        }
      }
    }
    if (name == "rgba.bmp") {
      // The fourth byte Pillow writes is the alpha we keep.
      EXPECT_EQ(PixelAt(dib, 3, 2).a, (3 * 2 * 17) % 256);
    }
  }
}

TEST(BmpCodec, WrittenFilesReadBackIdenticallyAndInPillowOracle) {
  struct Case {
    int bits;
    DWORD compression;
    DWORD masks[3];
  } cases[] = {
      {1, BI_RGB, {}}, {4, BI_RGB, {}}, {8, BI_RGB, {}}, {16, BI_RGB, {}},
      {16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}}, {24, BI_RGB, {}}, {32, BI_RGB, {}},
  };
  qvtest::TempDir dir;
  std::vector<Dib> written;
  std::vector<std::string> paths;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bits);
    Dib dib;
    dib.width = 11;
    dib.height = 6;
    dib.bitCount = c.bits;
    dib.compression = c.compression;
    std::copy(c.masks, c.masks + 3, dib.masks);
    if (c.bits <= 8) dib.colors = TestPalette(1 << c.bits);
    dib.bits = PatternBytes(static_cast<size_t>(dib.RowBytes() * dib.height), 100 + c.bits);
    if (c.bits == 16) {
      // Keep the unused top bit of 5-5-5 pixels clear, as writers do.
      for (size_t i = 1; c.compression == BI_RGB && i < dib.bits.size(); i += 2) dib.bits[i] &= 0x7F;
    }
    TMemoryStream s;
    WriteBmp(s, dib);
    // The file layout the framework writes: a 40-byte header, masks only for bit fields.
    const int64_t table = c.bits <= 8 ? (int64_t{4} << c.bits) : 0;
    const int64_t masks = c.compression == BI_BITFIELDS ? 12 : 0;
    EXPECT_EQ(s.Size(), 14 + 40 + masks + table + dib.RowBytes() * dib.height);
    EXPECT_EQ(s.Memory()[14], 40);
    s.SetPosition(0);
    Dib back = ReadBmp(s);
    EXPECT_EQ(s.Position(), s.Size());
    EXPECT_EQ(back.bitCount, dib.bitCount);
    EXPECT_EQ(back.compression, dib.compression);
    EXPECT_EQ(back.bits, dib.bits);
    EXPECT_EQ(back.colors.size(), dib.colors.size());
    paths.push_back(dir.File("ours" + std::to_string(paths.size()) + ".bmp"));
    s.SaveToFile(paths.back());
    written.push_back(std::move(dib));
  }
  if (!qvtest::HavePillow()) return;
  const auto images = qvtest::PillowPixelsOfFiles(paths);
  for (size_t k = 0; k < written.size(); ++k) {
    const Dib& dib = written[k];
    SCOPED_TRACE(dib.bitCount);
    const int w = images[k].width, h = images[k].height;
    const auto& pil = images[k].rgba;
    ASSERT_EQ(w, dib.width);
    ASSERT_EQ(h, dib.height);
    DWORD m[4];
    dib.EffectiveMasks(m);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const Rgba p = PixelAt(dib, x, y);
        const uint8_t* q = &pil[(static_cast<size_t>(y) * w + x) * 4];
        int ours[3] = {p.r, p.g, p.b};
        for (int ch = 0; ch < 3; ++ch) {
          int bits = dib.bitCount == 16 ? MaskBits(m[ch]) : 8;
          ASSERT_EQ(Quantise(ours[ch], bits), Quantise(q[ch], bits)) << x << "," << y << " channel " << ch;
        }
      }
    }
  }
}

TEST(BmpCodec, MalformedFilesRaiseInvalidGraphic) {
  auto base = [] { return Uncompressed(40, 4, 4, 8, 30); };
  auto rle = [](std::vector<uint8_t> data) {
    BmpSpec s;
    s.width = 4, s.height = 2, s.bitCount = 8, s.compression = BI_RLE8;
    s.palette = TestPalette(256);
    s.data = std::move(data);
    return BuildBmp(s);
  };
  auto patch32 = [](std::vector<uint8_t> b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    return b;
  };
  const auto good = BuildBmp(base());
  struct Case {
    const char* name;
    TDibRefusal reason;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty", drHeaderCutShort, {}},
      {"only the magic", drHeaderCutShort, {'B', 'M'}},
      {"wrong magic", drNotBitmap, [&] { auto b = good; b[1] = 'X'; return b; }()},
      {"truncated header", drHeaderCutShort, std::vector<uint8_t>(good.begin(), good.begin() + 30)},
      {"header size 200", drHeaderSize, patch32(good, 14, 200)},
      {"header size 20", drHeaderSize, patch32(good, 14, 20)},
      {"width 0", drWidth, patch32(good, 18, 0)},
      {"negative width", drWidth, patch32(good, 18, 0xFFFFFFFF)},
      {"height 0", drHeight, patch32(good, 22, 0)},
      {"height INT_MIN", drHeight, patch32(good, 22, 0x80000000)},
      {"huge size", drTooLarge, patch32(patch32(good, 18, 0x7FFFFFFF), 22, 0x7FFFFFFF)},
      {"huge height", drPixelsCutShort, patch32(good, 22, 0x00FFFFFF)},
      {"3 bits per pixel", drDepth, [&] { auto b = good; b[28] = 3; return b; }()},
      {"two planes", drPlanes, [&] { auto b = good; b[26] = 2; return b; }()},
      {"257 colours", drColourCount, patch32(good, 46, 257)},
      {"4 billion colours", drColourCount, patch32(good, 46, 0xFFFFFFFF)},
      {"offset past the end", drPixelOffset, patch32(good, 10, 0x10000000)},
      {"pixels one byte short", drPixelsCutShort, std::vector<uint8_t>(good.begin(), good.end() - 1)},
      {"colour table cut", drTableCutShort, std::vector<uint8_t>(good.begin(), good.begin() + 14 + 40 + 100)},
      {"JPEG inside", drCompression, patch32(good, 30, BI_JPEG)},
      {"unknown compression", drCompression, patch32(good, 30, 77)},
      {"RLE8 with 24 bits", drCompression, [] { BmpSpec s = Uncompressed(40, 2, 2, 24, 1); s.compression = BI_RLE8; return BuildBmp(s); }()},
      {"top-down RLE", drCompression, [&] { auto b = rle({2, 1, 0, 1}); return patch32(b, 22, static_cast<uint32_t>(-2)); }()},
      {"RLE run below the last row", drRleData, rle({4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 1})},
      {"RLE delta past the image", drRleData, rle({0, 2, 0, 5, 0, 1})},
      {"RLE delta past the row", drRleData, rle({0, 2, 9, 0, 0, 1})},
      {"RLE absolute run cut off", drRleData, rle({0, 6, 1, 2})},
      {"RLE delta cut off", drRleData, rle({0, 2, 1})},
      {"RLE size past the end", drPixelsCutShort, [&] { auto b = rle({2, 1, 0, 1}); return patch32(b, 34, 1000); }()},
      {"bit fields overlapping", drMasks, BuildBmp(WithMasks(Uncompressed(40, 2, 2, 32, 1), 0xFF00, 0xFF00, 0xFF))},
      {"bit fields all zero", drMasks, BuildBmp(WithMasks(Uncompressed(40, 2, 2, 32, 1), 0, 0, 0))},
      {"16-bit mask beyond 16 bits", drMasks, BuildBmp(WithMasks(Uncompressed(40, 2, 2, 16, 1), 0xF0000, 0x7E0, 0x1F))},
      {"bit fields masks cut", drHeaderCutShort, [] {
         auto b = BuildBmp(WithMasks(Uncompressed(40, 1, 1, 32, 1), 0xFF0000, 0xFF00, 0xFF));
         b.resize(14 + 40 + 6);
         return b;
       }()},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(
        {
          try {
            ReadBytes(c.bytes);
          } catch (const EBitmapRefused& e) {
            EXPECT_STREQ(e.what(), "Bitmap image is not valid") << c.name;
            EXPECT_STREQ(DibRefusalName(e.Reason()), DibRefusalName(c.reason)) << c.name;
            throw;
          }
        },
        EInvalidGraphic)
        << c.name;
  }
  EXPECT_NO_THROW(ReadBytes(good));
}

TEST(BmpCodec, ReaderLeavesStreamBehindPixelsAndKeepsTrailingBytes) {
  auto bytes = BuildBmp(Uncompressed(40, 3, 2, 24, 40));
  const size_t bmpSize = bytes.size();
  bytes.insert(bytes.end(), 100, 0xEE);
  TCustomMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  ReadBmp(s);
  EXPECT_EQ(s.Position(), static_cast<int64_t>(bmpSize));
}

TEST(BmpCodec, PackedDibSkipsTheFileHeader) {
  auto bytes = BuildBmp(Uncompressed(40, 5, 3, 4, 41));
  Dib fromFile = ReadBytes(bytes);
  Dib packed = ReadPackedDib(bytes.data() + 14, bytes.size() - 14);
  EXPECT_EQ(packed.bits, fromFile.bits);
  EXPECT_EQ(PackDib(packed), std::vector<uint8_t>(bytes.begin() + 14, bytes.end()));
}

TEST(BmpCodec, TBitmapRaisesTheFrameworksErrorAndKeepsTheReason) {
  // The codec's own class (EBitmapRefused) stayed inside: callers of the
  // framework's bitmap catch EInvalidGraphic itself, with its text.
  auto bytes = BuildBmp(Uncompressed(40, 2, 2, 24, 1));
  bytes.resize(bytes.size() - 9);
  TCustomMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  TBitmap bitmap;
  try {
    bitmap.LoadFromStream(s);
    ADD_FAILURE() << "a cut bitmap loaded";
  } catch (const Exception& e) {
    EXPECT_TRUE(typeid(e) == typeid(EInvalidGraphic)) << typeid(e).name();
    EXPECT_STREQ(e.what(), "Bitmap image is not valid");
  }
  ASSERT_NE(LastBitmapRefusal(), nullptr);
  EXPECT_STREQ(LastBitmapRefusal(), DibRefusalName(drPixelsCutShort));
  TCustomMemoryStream good(nullptr, 0);
  bitmap.LoadFromStream(good);
  EXPECT_EQ(LastBitmapRefusal(), nullptr);
}
