// Reading PNG streams: the chunk rules, the row decoder's corner cases, and
// damaged files, which must fail with the picture's own errors.
#include <gtest/gtest.h>

#include <functional>

#include "png_test_util.h"

using namespace pngtest;

namespace {

Bytes Be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

// A 4 x 2 truecolour image: rows of filter byte 0 and 12 sample bytes.
Bytes SmallRgbRows() {
  Bytes raw;
  for (int y = 0; y < 2; y++) {
    raw.push_back(0);
    for (int i = 0; i < 12; i++) raw.push_back(uint8_t(y * 100 + i * 7));
  }
  return raw;
}

Bytes SmallRgbPng(std::initializer_list<Bytes> middle = {}) { return SimplePng(4, 2, 8, 2, SmallRgbRows(), middle); }

// ------------------------------------------------------------ chunk model

TEST(PngChunks, CrcMatchesTheFormatsValue) {
  // Every IEND chunk ends with this CRC.
  EXPECT_EQ(ChunkCrc("IEND", nullptr, 0), 0xAE426082u);
}

TEST(PngChunks, RegistryPicksClassByExactName) {
  TPNGImage png;
  EXPECT_NE(dynamic_cast<TChunkPLTE*>(NewChunkForName(&png, MakeChunkName("PLTE")).get()), nullptr);
  auto lower = NewChunkForName(&png, MakeChunkName("plte"));
  EXPECT_EQ(typeid(*lower), typeid(TChunk));
  EXPECT_EQ(ChunkNameText(lower->ChunkName()), "plte");
}

TEST(PngChunks, AncillaryChunksSurviveAndChrmIsDropped) {
  const Bytes priv = Chunk("prIv", {1, 2, 3, 0, 255});
  const Bytes chrm = Chunk("cHRM", Bytes(32, 7));
  const Bytes file = SmallRgbPng({chrm, priv});
  TPNGImage png;
  LoadBytes(png, file);
  const auto chunks = ListChunks(SaveBytes(png));
  std::vector<std::string> names;
  for (const auto& c : chunks) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"IHDR", "prIv", "IDAT", "IEND"}));
  EXPECT_EQ(chunks[1].data, (Bytes{1, 2, 3, 0, 255}));
}

TEST(PngChunks, IdatAfterTheImageIsSkippedEvenPastOtherChunks) {
  const Bytes file = Concat({Signature(), Ihdr(4, 2, 8, 2), Chunk("IDAT", Deflate(SmallRgbRows())),
                             Chunk("tEXt", {'a', 0, 'b'}), Chunk("IDAT", {9, 9, 9}), Chunk("IEND", {})});
  TPNGImage png;
  LoadBytes(png, file);
  EXPECT_EQ(png.ChunkList().Count(), 4);
  EXPECT_EQ(SamplesOf(png).data, ReadWithLibpng(SmallRgbPng()).data);
}

TEST(PngChunks, StreamMayEndWithoutIend) {
  Bytes file = SmallRgbPng();
  file.resize(file.size() - 12);
  TPNGImage png;
  EXPECT_NO_THROW(LoadBytes(png, file));
  EXPECT_EQ(png.GetWidth(), 4);
}

TEST(PngChunks, PaletteLengths) {
  const Bytes rows = {0, 0x01, 0, 0x23};  // 2 x 2 at 4 bits: indices 0,1 / 2,3
  auto load = [&](const Bytes& plte) {
    TPNGImage png;
    LoadBytes(png, SimplePng(2, 2, 4, 3, rows, {Chunk("PLTE", plte)}));
    return png.ChunkList().FirstOfClass<TChunkPLTE>()->Count();
  };
  EXPECT_EQ(load({}), 0);
  EXPECT_EQ(load(Bytes(768, 1)), 256);
  EXPECT_THROW(load(Bytes(771, 1)), EPNGInvalidPalette);
  EXPECT_THROW(load(Bytes(10, 1)), EPNGInvalidPalette);
}

TEST(PngChunks, PaletteEntriesAndTransparency) {
  const Bytes rows = {0, 0x01, 0, 0x23};
  TPNGImage png;
  LoadBytes(png, SimplePng(2, 2, 4, 3, rows,
                           {Chunk("PLTE", {10, 20, 30, 40, 50, 60}), Chunk("tRNS", {0, 128, 255})}));
  auto* plte = png.ChunkList().FirstOfClass<TChunkPLTE>();
  EXPECT_EQ(plte->PaletteEntry(1), (40u << 16) | (50u << 8) | 60u);
  EXPECT_THROW(plte->PaletteEntry(2), EPngError);
  auto* trns = png.ChunkList().FirstOfClass<TChunktRNS>();
  EXPECT_EQ(trns->Count(), 3);
  EXPECT_EQ(trns->Alpha()[1], 128);
  EXPECT_EQ(trns->Alpha()[3], 255);
  EXPECT_TRUE(png.HasAlphaData());

  TPNGImage longTrns;
  LoadBytes(longTrns, SimplePng(2, 2, 4, 3, rows, {Chunk("PLTE", Bytes(48, 1)), Chunk("tRNS", Bytes(300, 7))}));
  EXPECT_EQ(longTrns.ChunkList().FirstOfClass<TChunktRNS>()->Count(), 256);
}

TEST(PngChunks, GammaTables) {
  TPNGImage png;
  LoadBytes(png, SmallRgbPng({Chunk("gAMA", Be32(45455))}));
  for (int i = 0; i < 256; i++) {
    EXPECT_LE(std::abs(png.DecodeGamma[i] - i), 1) << i;
    EXPECT_LE(std::abs(png.EncodeGamma[i] - i), 1) << i;
  }
  LoadBytes(png, SmallRgbPng({Chunk("gAMA", Be32(0))}));
  for (int i = 0; i < 256; i++) EXPECT_EQ(png.DecodeGamma[i], i);
}

TEST(PngChunks, TextAndTime) {
  TPNGImage png;
  LoadBytes(png, SmallRgbPng({Chunk("tEXt", {'K', 'e', 'y', 0, 'v', 'a', 'l'}), Chunk("tIME", {7, 0xE0, 12, 31, 23, 59, 58})}));
  auto* text = png.ChunkList().FirstOfClass<TChunktEXt>();
  EXPECT_EQ(text->Keyword(), "Key");
  EXPECT_EQ(text->Text(), "val");
  auto* time = png.ChunkList().FirstOfClass<TChunktIME>();
  EXPECT_EQ(time->Month, 12);
  EXPECT_EQ(time->Second, 58);
  const auto chunks = ListChunks(SaveBytes(png));
  EXPECT_EQ(chunks[1].data, (Bytes{'K', 'e', 'y', 0, 'v', 'a', 'l'}));
  EXPECT_EQ(chunks[2].data, (Bytes{7, 0xE0, 12, 31, 23, 59, 58}));
}

TEST(PngChunks, SizeRulesOfThePicture) {
  TPNGImage png;
  EXPECT_TRUE(png.GetEmpty());
  EXPECT_EQ(png.GetWidth(), 0);
  EXPECT_THROW(png.SetWidth(3), EPngError);
  LoadBytes(png, SmallRgbPng());
  EXPECT_THROW(png.SetHeight(3), EPngError);
  png.SetIdatBlockSize(10);
  EXPECT_EQ(png.IdatBlockSize(), 65535u);
}

TEST(PngChunks, WidestImageLoads) {
  Bytes raw(1 + 65535 * 3, 0);
  TPNGImage png;
  LoadBytes(png, SimplePng(65535, 1, 8, 2, raw));
  EXPECT_EQ(png.GetWidth(), 65535);
}

TEST(PngChunks, CopyKeepsChunksSettingsAndSamples) {
  TLibpngImage img;
  img.width = 20;
  img.height = 9;
  img.colorType = 6;
  img.withGamma = true;
  img.withText = true;
  FillRandomRows(img, 3);
  const Bytes file = WriteWithLibpng(img);
  TPNGImage source;
  LoadBytes(source, file);
  source.SetRowFilters(0x1F);
  TPNGImage copy;
  copy.CopyFromPNG(source);
  EXPECT_EQ(copy.RowFilters(), 0x1F);
  EXPECT_EQ(SaveBytes(copy), SaveBytes(source));
  // Loading and saving again under a gAMA keeps the samples as they were.
  EXPECT_EQ(ReadWithLibpng(SaveBytes(copy)).data, ReadWithLibpng(file).data);
}

// ------------------------------------------------------------ row decoder

TEST(PngRows, ManyOneByteIdatChunksDecodeLikeOne) {
  const Bytes z = Deflate(SmallRgbRows());
  Bytes file = Concat({Signature(), Ihdr(4, 2, 8, 2)});
  for (uint8_t b : z) {
    const Bytes c = Chunk("IDAT", {b});
    file.insert(file.end(), c.begin(), c.end());
  }
  const Bytes end = Chunk("IEND", {});
  file.insert(file.end(), end.begin(), end.end());
  TPNGImage png;
  LoadBytes(png, file);
  EXPECT_EQ(SamplesOf(png).data, ReadWithLibpng(SmallRgbPng()).data);
}

TEST(PngRows, UnknownFilterTypeLeavesRowAsIs) {
  Bytes raw = SmallRgbRows();
  raw[13] = 5;  // second row
  TPNGImage png;
  LoadBytes(png, SimplePng(4, 2, 8, 2, raw));
  const Bytes s = SamplesOf(png).data;
  EXPECT_EQ(Bytes(s.begin() + 12, s.end()), Bytes(raw.begin() + 14, raw.end()));
}

TEST(PngRows, SixteenBitSamplesKeepTheirHighByte) {
  TPNGImage png;
  LoadBytes(png, SimplePng(1, 1, 16, 2, {0, 0x12, 0xAB, 0x34, 0xCD, 0x56, 0xEF}));
  EXPECT_EQ(SamplesOf(png).data, (Bytes{0x12, 0x34, 0x56}));
}

TEST(PngRows, TwoBitGreyShowsFourEvenGreys) {
  for (uint8_t interlace : {0, 1}) {
    // 4 x 1 pixels of levels 0, 1, 2, 3; interlaced, x0 is in pass 1, x2 in
    // pass 4 and x1, x3 in pass 6.
    const Bytes raw = interlace == 0 ? Bytes{0, 0x1B} : Bytes{0, 0x00, 0, 0x80, 0, 0x70};
    Bytes file = Concat({Signature(), Ihdr(4, 1, 2, 0, interlace), Chunk("IDAT", Deflate(raw)), Chunk("IEND", {})});
    TPNGImage png;
    LoadBytes(png, file);
    TChunkIHDR* h = png.Header();
    const uint8_t* row = h->DibRow(0);
    int greys[4];
    for (int x = 0; x < 4; x++) greys[x] = h->BitmapInfo().bmiColors[(row[x / 2] >> ((x & 1) ? 0 : 4)) & 15].rgbRed;
    EXPECT_EQ(greys[0], 0) << int(interlace);
    EXPECT_EQ(greys[1], 85) << int(interlace);
    EXPECT_EQ(greys[2], 170) << int(interlace);
    EXPECT_EQ(greys[3], 255) << int(interlace);
  }
}

TEST(PngRows, DataStoppingHalfWayLeavesZeroRows) {
  Bytes raw = SmallRgbRows();
  raw.resize(13);  // only the first row
  TPNGImage png;
  LoadBytes(png, SimplePng(4, 2, 8, 2, raw));
  const Bytes s = SamplesOf(png).data;
  EXPECT_EQ(Bytes(s.begin(), s.begin() + 12), Bytes(raw.begin() + 1, raw.end()));
  EXPECT_EQ(Bytes(s.begin() + 12, s.end()), Bytes(12, 0));
}

TEST(PngRows, ExtraDataAfterTheImageInALongIdatLoads) {
  // Valid files may carry more than the image needs in their last IDAT chunk;
  // the CRC covers all of it.
  Bytes z = Deflate(SmallRgbRows());
  Bytes junk(70000, 0x5A);
  z.insert(z.end(), junk.begin(), junk.end());
  const Bytes file = Concat({Signature(), Ihdr(4, 2, 8, 2), Chunk("IDAT", z), Chunk("tEXt", {'k', 0, 'v'}),
                             Chunk("IEND", {})});
  TPNGImage png;
  LoadBytes(png, file);
  EXPECT_EQ(SamplesOf(png).data, ReadWithLibpng(SmallRgbPng()).data);
  EXPECT_NE(png.ChunkList().FirstOfClass<TChunktEXt>(), nullptr);
}

// ------------------------------------------------------------ damaged files

struct TBadCase {
  const char* name;
  std::function<Bytes()> make;
  std::function<void(const Bytes&)> expect;
};

Bytes SavedBytes(TPNGImage& png) {
  TMemoryStream out;
  png.SaveToStream(out);
  return Bytes(out.Memory(), out.Memory() + out.Size());
}

// The error, and a picture that held an image before still holds it, chunks,
// size and gamma tables alike.
template <class E> std::function<void(const Bytes&)> Raises() {
  return [](const Bytes& file) {
    TPNGImage png;
    EXPECT_THROW(LoadBytes(png, file), E);
    TPNGImage held;
    LoadBytes(held, SimplePng(3, 2, 8, 2, Bytes(20, 0x40), {Chunk("gAMA", {0, 0, 0xAF, 0xC8})}));
    const Bytes before = SavedBytes(held);
    const uint8_t decode100 = held.DecodeGamma[100];
    EXPECT_THROW(LoadBytes(held, file), E);
    EXPECT_EQ(held.GetWidth(), 3);
    EXPECT_EQ(held.DecodeGamma[100], decode100);
    EXPECT_EQ(SavedBytes(held), before);
  };
}

Bytes WithByteChanged(Bytes b, size_t pos, uint8_t xorMask) {
  b[pos] ^= xorMask;
  return b;
}

Bytes PaletteRows() { return {0, 0x01, 0, 0x23}; }

TEST(PngDamaged, EachFailsWithItsError) {
  const Bytes good = SmallRgbPng();
  const size_t idatAt = 8 + 25;
  const TBadCase cases[] = {
      {"signature", [&] { return WithByteChanged(good, 3, 0x20); }, Raises<EPNGInvalidFileHeader>()},
      {"empty stream", [] { return Bytes{}; }, Raises<EPNGInvalidFileHeader>()},
      {"header crc", [&] { return WithByteChanged(good, 8 + 21, 1); }, Raises<EPngInvalidCRC>()},
      {"data crc", [&] { return WithByteChanged(good, good.size() - 13, 1); }, Raises<EPngInvalidCRC>()},
      {"crc of a middle IDAT",
       [] {
         const Bytes z = Deflate(SmallRgbRows());
         Bytes a(z.begin(), z.begin() + 5), b(z.begin() + 5, z.end());
         Bytes first = Chunk("IDAT", a);
         first.back() ^= 1;
         return Concat({Signature(), Ihdr(4, 2, 8, 2), first, Chunk("IDAT", b), Chunk("IEND", {})});
       },
       Raises<EPngInvalidCRC>()},
      {"truncated IDAT", [&] { return Bytes(good.begin(), good.begin() + long(idatAt + 12)); },
       Raises<EPNGMissingMultipleIDAT>()},
      {"truncated ancillary chunk", [] { return Concat({Signature(), Ihdr(4, 2, 8, 2), Bytes{0, 0, 0, 40, 't', 'E', 'X', 't', 1, 2}}); },
       Raises<EPngInvalidCRC>()},
      {"data continues in another chunk",
       [] {
         const Bytes z = Deflate(SmallRgbRows());
         Bytes a(z.begin(), z.begin() + 5);
         return Concat({Signature(), Ihdr(4, 2, 8, 2), Chunk("IDAT", a), Chunk("tEXt", {'k', 0}), Chunk("IEND", {})});
       },
       Raises<EPNGMissingMultipleIDAT>()},
      {"unknown critical chunk", [] { return SmallRgbPng({Chunk("ABCD", {1})}); }, Raises<EPNGUnknownCriticalChunk>()},
      {"header not first", [] { return Concat({Signature(), Chunk("tEXt", {'k', 0}), Ihdr(4, 2, 8, 2)}); },
       Raises<EPNGIHDRNotFirst>()},
      {"second header", [] { return SmallRgbPng({Ihdr(4, 2, 8, 2)}); }, Raises<EPngInvalidIHDR>()},
      {"no image data", [] { return Concat({Signature(), Ihdr(4, 2, 8, 2), Chunk("IEND", {})}); },
       Raises<EPNGNoImageData>()},
      {"short header", [] { return Concat({Signature(), Chunk("IHDR", Bytes(12, 0))}); }, Raises<EPngInvalidIHDR>()},
      {"width 65536", [] { return SimplePng(65536, 1, 8, 2, {0}); }, Raises<EPNGSizeExceeds>()},
      {"height 2^32-1", [] { return SimplePng(1, 0xFFFFFFFF, 8, 2, {0}); }, Raises<EPNGSizeExceeds>()},
      {"huge image from a tiny file", [] { return SimplePng(65535, 65535, 8, 6, {0}); }, Raises<EPNGOutMemory>()},
      {"zero width", [] { return SimplePng(0, 5, 8, 2, {0}); }, Raises<EPngInvalidIHDR>()},
      {"zero height", [] { return SimplePng(5, 0, 8, 2, {0}); }, Raises<EPngInvalidIHDR>()},
      {"compression method",
       [] {
         Bytes d = {0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 1, 0, 0};
         return Concat({Signature(), Chunk("IHDR", d)});
       },
       Raises<EPNGUnknownCompression>()},
      {"interlace method", [] { return Concat({Signature(), Ihdr(1, 1, 8, 2, 2)}); }, Raises<EPNGUnknownInterlace>()},
      {"palette at 16 bits", [] { return SimplePng(1, 1, 16, 3, {0, 0, 0}, {Chunk("PLTE", {1, 2, 3})}); },
       Raises<EPngInvalidIHDR>()},
      {"grey alpha at 4 bits", [] { return SimplePng(2, 1, 4, 4, {0, 0xFF}); }, Raises<EPngInvalidIHDR>()},
      {"truecolour at 4 bits", [] { return SimplePng(2, 1, 4, 2, {0, 0xFF, 0xFF, 0xFF}); }, Raises<EPngInvalidIHDR>()},
      {"colour type 5", [] { return SimplePng(1, 1, 8, 5, {0, 0}); }, Raises<EPngInvalidIHDR>()},
      {"palette image with tRNS and no PLTE", [] { return SimplePng(2, 2, 4, 3, PaletteRows(), {Chunk("tRNS", {0})}); },
       Raises<EPNGInvalidPalette>()},
      {"palette image without PLTE", [] { return SimplePng(2, 2, 4, 3, PaletteRows()); }, Raises<EPNGInvalidPalette>()},
      {"huge chunk length",
       [] { return Concat({Signature(), Ihdr(4, 2, 8, 2), Bytes{0xFF, 0xFF, 0xFF, 0xF0, 't', 'E', 'X', 't'}}); },
       Raises<EPngInvalidCRC>()},
      {"huge IDAT length",
       [] { return Concat({Signature(), Ihdr(4, 2, 8, 2), Bytes{0x7F, 0xFF, 0xFF, 0xFF, 'I', 'D', 'A', 'T', 1}}); },
       Raises<EPNGMissingMultipleIDAT>()},
      {"chunk header cut short", [&] { return Concat({Signature(), Ihdr(4, 2, 8, 2), Bytes{0, 0, 0}}); },
       Raises<EPngInvalidCRC>()},
      {"zlib garbage", [] { return Concat({Signature(), Ihdr(4, 2, 8, 2), Chunk("IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 1}), Chunk("IEND", {})}); },
       [](const Bytes& file) {
         TPNGImage png;
         try {
           LoadBytes(png, file);
           ADD_FAILURE() << "no error";
         } catch (const EPNGZLIBError& e) {
           EXPECT_NE(e.Message().find("\r\n Description: data error (-3)"), std::string::npos) << e.Message();
         }
       }},
      {"bad zlib header", [] { return Concat({Signature(), Ihdr(4, 2, 8, 2), Chunk("IDAT", {0x12, 0x34, 0, 0}), Chunk("IEND", {})}); },
       Raises<EPNGZLIBError>()},
  };
  for (const TBadCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.expect(c.make());
  }
}

TEST(PngDamaged, BadSignatureLeavesThePictureAsItWas) {
  TPNGImage png;
  LoadBytes(png, SmallRgbPng());
  for (size_t i = 0; i < 8; i++) {
    EXPECT_THROW(LoadBytes(png, WithByteChanged(SmallRgbPng(), i, 0x01)), EPNGInvalidFileHeader);
    EXPECT_FALSE(png.GetEmpty());
    EXPECT_EQ(png.GetWidth(), 4);
  }
  TPNGImage empty;
  EXPECT_THROW(LoadBytes(empty, WithByteChanged(SmallRgbPng(), 0, 0x01)), EPNGInvalidFileHeader);
  EXPECT_TRUE(empty.GetEmpty());
}

// Every prefix and every single-byte change of a small file either loads or
// raises an Exception; none crashes or hangs.
TEST(PngDamaged, PrefixesAndBitFlipsNeverCrash) {
  TLibpngImage img;
  img.width = 9;
  img.height = 7;
  img.colorType = 3;
  img.bitDepth = 4;
  img.interlaced = true;
  img.withTrns = true;
  FillRandomRows(img, 11);
  const Bytes file = WriteWithLibpng(img);
  for (size_t n = 0; n <= file.size(); n++) {
    TPNGImage png;
    try {
      LoadBytes(png, Bytes(file.begin(), file.begin() + long(n)));
    } catch (const Exception&) {
    }
  }
  for (size_t i = 8; i < file.size(); i++)
    for (uint8_t mask : {0x01, 0x80, 0xFF}) {
      TPNGImage png;
      try {
        LoadBytes(png, WithByteChanged(file, i, mask));
      } catch (const Exception&) {
      }
    }
}

}  // namespace
