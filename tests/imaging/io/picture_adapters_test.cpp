// The picture adapters: TIEGraphicBase and its subclasses through TPicture,
// failed loads that raise and keep the picture, the form-file data, the
// clipboard DIB, Assign from bitmaps, TTGAImage over the PNG picture and
// TTIFFImage, and their registration. Pillow judges the Targa pixels and
// reads the clipboard's DIB.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/format_filters.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/ie_filters.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/picture_adapters.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/byte_order.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/imaging/io/io_test_support.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

class PictureAdapters : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterFormatFilters();
    InitImageIO();
  }
  // A file of the gradient written by the component.
  std::string WriteFile(const std::string& name, TImageFileType type, bool alpha = false) {
    auto g = qvtest::Gradient(9, 6);
    if (alpha)
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x) g->AlphaChannel()->SetPixel8(x, y, uint8_t(x * 28));
    auto io = TImageLibIO::CreateForBitmap(g.get());
    const std::string path = dir.File(name);
    io->SaveFile(UTF8ToWide(path), type);
    EXPECT_FALSE(io->Aborting());
    return path;
  }
  qvtest::FilterSlotsScope slots;
  qvtest::TempDir dir;
};

TEST_F(PictureAdapters, AFreshPictureIsNotEmptyAndDrawsNothing) {
  TIEGraphicBase picture;
  EXPECT_FALSE(picture.GetEmpty());
  EXPECT_EQ(picture.FileType(), ioUnknown);
  EXPECT_EQ(TIEJ2KImage().FileType(), ioJ2K);
  EXPECT_EQ(TIEPSDImage().FileType(), ioPSD);
  TBitmap canvas;
  canvas.SetSize(4, 4);
  picture.Draw(canvas.Canvas(), TRect{0, 0, 4, 4});
}

TEST_F(PictureAdapters, EachClassLoadsAndSavesItsFormat) {
  struct Case {
    const char* file;
    TImageFileType type;
    std::function<std::unique_ptr<TIEGraphicBase>()> make;
  } cases[] = {
      {"a.png", ioPNG, [] { return std::make_unique<TIEPNGImage>(); }},
      {"a.bmp", ioBMP, [] { return std::make_unique<TIEBMPImage>(); }},
      {"a.tga", ioTGA, [] { return std::make_unique<TIETGAImage>(); }},
      {"a.pcx", ioPCX, [] { return std::make_unique<TIEPCXImage>(); }},
      {"a.ppm", ioPXM, [] { return std::make_unique<TIEPXMImage>(); }},
      {"a.gif", ioGIF, [] { return std::make_unique<TIEGIFImage>(); }},
      {"b.png", ioPNG, [] { return std::make_unique<TIEGraphicBase>(); }},  // by content
  };
  auto want = qvtest::Gradient(9, 6);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = WriteFile(c.file, c.type);
    auto picture = c.make();
    picture->LoadFromFile(path);
    ASSERT_EQ(picture->Width(), 9);
    ASSERT_EQ(picture->Height(), 6);
    if (c.type != ioGIF && c.type != ioPCX) {
      EXPECT_EQ(qvtest::Pixels(*picture->Bitmap()), qvtest::Pixels(*want));
    }
    TMemoryStream saved;
    picture->SaveToStream(saved);
    saved.SetPosition(0);
    auto again = c.make();
    again->LoadFromStream(saved);
    EXPECT_EQ(qvtest::Pixels(*again->Bitmap()), qvtest::Pixels(*picture->Bitmap()));
  }
}

TEST_F(PictureAdapters, AFailedLoadRaisesAndKeepsThePicture) {
  struct Case {
    std::unique_ptr<TIEGraphicBase> picture;
    const char* text;
  };
  std::vector<Case> cases;
  cases.push_back({std::make_unique<TIEBMPImage>(), "Bitmap image is not valid"});
  cases.push_back({std::make_unique<TIETIFFImage>(), "TIFF image is not valid"});
  cases.push_back({std::make_unique<TIEJP2Image>(), "JPEG2000 image is not valid"});
  cases.push_back({std::make_unique<TIEPNGImage>(), "PNG image is not valid"});
  const Bytes junk(100, 0x5A);
  for (Case& c : cases) {
    SCOPED_TRACE(c.text);
    c.picture->Bitmap()->Allocate(3, 2, ie24RGB);
    c.picture->Bitmap()->Fill(0);
    TCustomMemoryStream s(junk.data(), int64_t(junk.size()));
    try {
      c.picture->LoadFromStream(s);
      ADD_FAILURE() << "no exception";
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), c.text);
    }
    EXPECT_EQ(c.picture->Width(), 3);
    EXPECT_EQ(c.picture->Height(), 2);
  }
}

TEST_F(PictureAdapters, FormFileDataHoldsItsLengthAndNoMore) {
  TIEPNGImage picture;
  picture.LoadFromFile(WriteFile("d.png", ioPNG));
  TMemoryStream data;
  picture.WriteData(data);
  const Bytes tail = {1, 2, 3};
  data.WriteBuffer(tail.data(), 3);
  const Bytes bytes = qvtest::StreamBytes(data);
  EXPECT_EQ(int64_t(ReadLE32(bytes.data())), int64_t(bytes.size()) - 4 - 3);

  TIEPNGImage back;
  TCustomMemoryStream in(bytes.data(), int64_t(bytes.size()));
  back.ReadData(in);
  EXPECT_EQ(in.Position(), int64_t(bytes.size()) - 3);
  EXPECT_EQ(qvtest::Pixels(*back.Bitmap()), qvtest::Pixels(*picture.Bitmap()));

  // A stored length of 0 loads nothing.
  const Bytes zero = {0, 0, 0, 0};
  TCustomMemoryStream z(zero.data(), 4);
  back.ReadData(z);
  EXPECT_EQ(back.Width(), 9);
  // A length past the data is refused without reading on.
  Bytes cut = bytes;
  cut.resize(40);
  TCustomMemoryStream c(cut.data(), int64_t(cut.size()));
  EXPECT_THROW(back.ReadData(c), EInvalidGraphic);
  EXPECT_EQ(back.Width(), 9);
}

TEST_F(PictureAdapters, AssignFromABitmapConvertsACopy) {
  TBitmap eight;
  eight.SetPixelFormat(pf8bit);
  eight.SetSize(4, 3);
  TIEPNGImage picture;
  picture.Assign(&eight);
  EXPECT_EQ(eight.PixelFormat(), pf8bit);
  EXPECT_EQ(picture.Bitmap()->PixelFormat(), ie24RGB);
  TBitmap one;
  one.SetPixelFormat(pf1bit);
  one.SetSize(5, 2);
  picture.Assign(&one);
  EXPECT_EQ(one.PixelFormat(), pf1bit);
  EXPECT_EQ(picture.Bitmap()->PixelFormat(), ie1g);
  TBitmap out;
  out.Assign(&picture);
  EXPECT_EQ(out.Width(), 5);
}

TEST_F(PictureAdapters, ClipboardTakesOnlyADIBAndGivesOneAt200Dpi) {
  TIEBMPImage picture;
  picture.Bitmap()->Allocate(10, 3, ie1g);
  picture.Bitmap()->Fill(0);
  for (int x = 0; x < 10; x += 3) picture.Bitmap()->ScanLine(1)[x / 8] |= uint8_t(0x80 >> (x % 8));
  picture.LoadFromClipboardFormat(CF_BITMAP, nullptr, nullptr);
  EXPECT_EQ(picture.Width(), 10);

  WORD format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  picture.SaveToClipboardFormat(format, data, palette);
  ASSERT_EQ(format, CF_DIB);
  ASSERT_NE(data, nullptr);
  const auto* dib = static_cast<const uint8_t*>(GlobalLock(static_cast<HGLOBAL>(data)));
  const size_t size = GlobalSize(static_cast<HGLOBAL>(data));
  Bytes block(dib, dib + size);
  GlobalUnlock(static_cast<HGLOBAL>(data));
  EXPECT_EQ(ReadLE16(&block[14]), 1) << "1 bit a pixel";
  EXPECT_EQ(ReadLE32(&block[24]), 7874u) << "200 dots per inch as pixels per metre";

  TIEPNGImage back;
  back.LoadFromClipboardFormat(CF_DIB, data, nullptr);
  EXPECT_EQ(qvtest::Pixels(*back.Bitmap()), qvtest::Pixels(*picture.Bitmap()));
  GlobalFree(static_cast<HGLOBAL>(data));

  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0) return;
  // Pillow reads the DIB behind a file header as a BMP.
  Bytes file = {'B', 'M'};
  qvtest::Le32(file, uint32_t(14 + block.size()));
  qvtest::Le32(file, 0);
  qvtest::Le32(file, 14 + 40 + 8);
  file.insert(file.end(), block.begin(), block.end());
  const std::string path = dir.File("clip.bmp");
  qvtest::WriteFileBytes(path, file);
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + path +
                                   "'); print(im.mode, im.size, [round(v) for v in im.info['dpi']], "
                                   "''.join('1' if im.getpixel((x, 1)) else '0' for x in range(10)))\"",
                               &out),
            0);
  EXPECT_EQ(out, "1 (10, 3) [200, 200] 1001001001\n");
}

TEST_F(PictureAdapters, TargaPicturesOpenThroughTheRegistryWithPillowsPixels) {
  const std::string path = WriteFile("t.tga", ioTGA, true);
  TPicture picture;
  picture.LoadFromFile(path);
  auto* tga = dynamic_cast<TTGAImage*>(picture.Graphic());
  ASSERT_NE(tga, nullptr);
  ASSERT_EQ(tga->Width(), 9);
  ASSERT_TRUE(tga->HasAlphaData());
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0) {
    std::string out;
    ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + path +
                                     "').convert('RGBA'); print(' '.join('%d,%d,%d,%d' % im.getpixel((x, y)) "
                                     "for y in range(6) for x in range(9)))\"",
                                 &out),
              0);
    TBitmap bitmap;
    TMemoryStream png;
    tga->SaveToStream(png);  // Targa of what the picture holds
    png.SetPosition(0);
    TIEBitmap back;
    auto io = TImageLibIO::CreateForBitmap(&back);
    io->LoadTGAStream(png);
    std::string ours;
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 9; ++x) {
        const TRGB c = back.GetPixelRGB(x, y);
        ours += (ours.empty() ? "" : " ") + std::to_string(c.r) + "," + std::to_string(c.g) + "," +
                std::to_string(c.b) + "," + std::to_string(back.GetAlpha(x, y));
      }
    EXPECT_EQ(ours + "\n", out);
  }
  // Saving writes what the picture holds now, not what was loaded.
  TBitmap other;
  other.SetPixelFormat(pf24bit);
  other.SetSize(2, 2);
  tga->Assign(&other);
  TMemoryStream saved;
  tga->SaveToStream(saved);
  saved.SetPosition(0);
  TTGAImage again;
  again.LoadFromStream(saved);
  EXPECT_EQ(again.Width(), 2);
}

// A plain little-endian RGB TIFF of w x h, one uncompressed strip.
Bytes PlainTiff(int w, int h) {
  Bytes b{'I', 'I', 42, 0, 8, 0, 0, 0};
  auto put16 = [&](int v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); };
  auto put32 = [&](uint32_t v) { put16(int(v & 0xFFFF)); put16(int(v >> 16)); };
  const int entries = 9;
  const uint32_t bitsAt = 8 + 2 + entries * 12 + 4, dataAt = bitsAt + 6;
  const uint32_t bytes = uint32_t(w) * h * 3;
  put16(entries);
  auto entry = [&](int tag, int type, uint32_t count, uint32_t value) {
    put16(tag);
    put16(type);
    put32(count);
    put32(value);
  };
  entry(256, 4, 1, uint32_t(w));
  entry(257, 4, 1, uint32_t(h));
  entry(258, 3, 3, bitsAt);
  entry(259, 3, 1, 1);
  entry(262, 3, 1, 2);
  entry(273, 4, 1, dataAt);
  entry(277, 3, 1, 3);
  entry(278, 4, 1, uint32_t(h));
  entry(279, 4, 1, bytes);
  put32(0);
  for (int i = 0; i < 3; ++i) put16(8);
  for (uint32_t i = 0; i < bytes; ++i) b.push_back(uint8_t(i * 7));
  return b;
}

TEST_F(PictureAdapters, TiffPicturesGoThroughTheLibrary) {
  TPicture picture;
  const std::string path = dir.File("x.tif");
  qvtest::WriteFileBytes(path, PlainTiff(9, 6));
  picture.LoadFromFile(path);
  auto* tiff = dynamic_cast<TTIFFImage*>(picture.Graphic());
  ASSERT_NE(tiff, nullptr);
  EXPECT_EQ(tiff->Width(), 9);
  EXPECT_EQ(tiff->Height(), 6);

  qvtest::WriteFileBytes(path, Bytes{'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0});
  try {
    picture.LoadFromFile(path);
    ADD_FAILURE() << "no exception";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "TIFF image is not valid");
  }
}

TEST_F(PictureAdapters, RegisteredByStartUpAndRemovedByShutDown) {
  EXPECT_TRUE(FileFormatClass("tga") == TGraphicClass::Of<TTGAImage>());
  EXPECT_TRUE(FileFormatClass("TIF") == TGraphicClass::Of<TTIFFImage>());
  EXPECT_TRUE(FileFormatClass("tiff") == TGraphicClass::Of<TTIFFImage>());
  DoneImageIO();
  EXPECT_FALSE(FileFormatClass("tga"));
  EXPECT_FALSE(FileFormatClass("tif"));
  InitImageIO();
  EXPECT_TRUE(FileFormatClass("tga") == TGraphicClass::Of<TTGAImage>());
}

}  // namespace
