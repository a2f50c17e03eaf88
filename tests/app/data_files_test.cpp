// The data files the generators make at build time, read through the
// program's own readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "base/file_type_sniffer.h"

#include "app/result_assembly.h"
#include "icons/icon_library.h"
#include "test_support.h"
#include "icons/sub_icon_render.h"
#include "pictures/png/png_image.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/win/resources.h"

namespace {

std::string DataFile(const std::string& name) { return std::string(QV_BINARY_DIR) + "/" + name; }

TEST(StyleLibraryFile, EveryStyleHoldsShapeAndOverlayPairsAt48_32_16) {
  TIconLibrary library;
  ASSERT_TRUE(library.LoadFromFile(DataFile("data/styles.icl")));
  ASSERT_GE(library.Icons().Count(), 12);
  EXPECT_EQ(library.Icons().Strings(0), "Rounded Tile");
  EXPECT_EQ(library.Icons().Strings(10), "Glass Disc");
  for (int k = 0; k < library.Icons().Count(); ++k) {
    TAdvancedIcon* style = library.GetIcon(k);
    ASSERT_NE(style, nullptr) << k;
    EXPECT_EQ(style->Count(), 12) << library.Icons().Strings(k);
    for (int s : {48, 32, 16}) {
      const int d = style->Images().IndexOfImage(s, s, 32);
      ASSERT_GE(d, 0) << library.Icons().Strings(k) << " " << s;
      for (int j = 1; j < 4; ++j) {
        TSubIcon* im = style->Images().GetItem(d + j);
        ASSERT_NE(im, nullptr);
        EXPECT_EQ(im->GetWidth(), s);
        EXPECT_EQ(im->GetHeight(), s);
        EXPECT_EQ(im->GetBitsPerPixel(), 32);
      }
    }
  }
}

// icoutils read the same library: wrestool lists the named groups and takes
// each out as an .ico file, which icotool lists.
TEST(StyleLibraryFile, WrestoolAndIcotoolOracleReadTheLibrary) {
  if (!qvtest::HaveProgram("wrestool") || !qvtest::HaveProgram("icotool")) GTEST_SKIP() << "icoutils missing";
  const std::string file = DataFile("data/styles.icl");
  TIconLibrary library;
  ASSERT_TRUE(library.LoadFromFile(file));
  std::string list;
  ASSERT_EQ(qvtest::RunCommand("wrestool -l '" + file + "' 2>/dev/null", &list), 0);
  qvtest::TempDir dir;
  for (int k = 0; k < library.Icons().Count(); ++k) {
    const std::string name = library.Icons().Strings(k);
    EXPECT_NE(list.find("--type=14 --name='" + name + "'"), std::string::npos) << name;
    const std::string ico = dir.File("style.ico");
    ASSERT_EQ(qvtest::RunCommand("wrestool -x -t14 -n '" + name + "' -o '" + ico + "' '" + file + "' 2>/dev/null"), 0);
    std::string images;
    ASSERT_EQ(qvtest::RunCommand("icotool -l '" + ico + "'", &images), 0);
    std::string expect;
    int index = 1;
    for (int s : {48, 32, 16})
      for (int j = 0; j < 4; ++j)
        expect += "--icon --index=" + std::to_string(index++) + " --width=" + std::to_string(s) +
                  " --height=" + std::to_string(s) + " --bit-depth=32 --palette-size=0\n";
    EXPECT_EQ(images, expect) << name;
  }
}

TEST(StyleLibraryFile, MissingOrDamagedLibraryLeavesNoStyles) {
  qvtest::TempDir dir;
  TIconLibrary missing;
  EXPECT_EQ(LoadStyleLibrary(missing, dir.File("none.icl")), 0);
  std::vector<uint8_t> bytes = qvtest::ReadFileBytes(DataFile("data/styles.icl"));
  bytes.resize(300);  // the table without the images
  qvtest::WriteFileBytes(dir.File("cut.icl"), bytes);
  TIconLibrary cut;
  EXPECT_NO_THROW(LoadStyleLibrary(cut, dir.File("cut.icl")));
  qvtest::WriteFileBytes(dir.File("text.icl"), std::vector<uint8_t>(100, 'x'));
  TIconLibrary text;
  EXPECT_EQ(LoadStyleLibrary(text, dir.File("text.icl")), 0);
  TIconLibrary real;
  EXPECT_EQ(LoadStyleLibrary(real, DataFile("data/styles.icl")), 14);
}

TEST(StyleLibraryFile, ThumbnailStripHasARowPerStyleAndTheStylesCutThePicture) {
  TIconLibrary library;
  const int n = LoadStyleLibrary(library, DataFile("data/styles.icl"));
  TAdvancedIcon thumb;
  TBitmap strip;
  RenderStyleThumbnails(thumb, &library, 0x0000FF, &strip);  // red list colour
  ASSERT_EQ(strip.Height(), 48 * (n + 1));
  auto px = [&](int x, int y) {
    const auto* p = static_cast<const uint8_t*>(strip.ScanLine(y)) + x * 3;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  };
  // Row 0: the white square without a style; row 2 (the round button): its
  // corner shows the list colour, its middle the picture under the overlay.
  EXPECT_EQ(px(0, 0), 0xFFFFFFu);
  EXPECT_EQ(px(0, 2 * 48), 0xFF0000u);
  EXPECT_NE(px(24, 2 * 48 + 24), 0xFF0000u);
}

}  // namespace

namespace {

// Until the program's JPEG filter is there, libjpeg itself reads the picture.
TEST(ExamplePictureFile, IsABaselineJpegWithTheBlossomInTheMiddle) {
  const std::string file = DataFile("data/example.jpg");
  TSniffedFileType type;
  int32_t sub = 0;
  DetectFileType(file, type, sub);
  EXPECT_EQ(type, 5);
  std::FILE* f = std::fopen(file.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  jpeg_decompress_struct d{};
  jpeg_error_mgr err{};
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_stdio_src(&d, f);
  ASSERT_EQ(jpeg_read_header(&d, TRUE), JPEG_HEADER_OK);
  d.out_color_space = JCS_RGB;
  jpeg_start_decompress(&d);
  EXPECT_EQ(d.output_width, 400u);
  EXPECT_EQ(d.output_height, 300u);
  std::vector<uint8_t> rows(size_t(d.output_width) * d.output_height * 3);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = rows.data() + size_t(d.output_scanline) * d.output_width * 3;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  std::fclose(f);
  auto px = [&](int x, int y) { return rows.data() + (size_t(y) * 400 + size_t(x)) * 3; };
  // Sky at the top is blue; a petal left of the centre is pink.
  EXPECT_GT(px(20, 10)[2], px(20, 10)[0] + 80);
  const uint8_t* petal = px(140, 140);
  EXPECT_GT(petal[0], 150);
  EXPECT_LT(petal[1], 100);
}

}  // namespace

namespace {

constexpr int kToolbarGlyphs = 21;

std::vector<uint8_t> ProgramResource(const char* name, const char* type) {
  HRSRC r = FindResource(HInstance, name, type);
  if (!r) return {};
  const auto* p = static_cast<const uint8_t*>(LockResource(LoadResource(HInstance, r)));
  return std::vector<uint8_t>(p, p + SizeofResource(HInstance, r));
}

// A bitmap resource is a packed DIB: with a file header in front the
// framework's bitmap reads it.
void LoadBitmapResource(const char* name, TBitmap& bitmap) {
  const std::vector<uint8_t> dib = ProgramResource(name, RT_BITMAP);
  ASSERT_GE(dib.size(), 40u) << name;
  const uint32_t colours = uint32_t(dib[32] | dib[33] << 8);
  const uint32_t bits = uint32_t(dib[14] | dib[15] << 8);
  const uint32_t table = (colours ? colours : (bits <= 8 ? 1u << bits : 0)) * 4;
  TMemoryStream s;
  const uint32_t size = uint32_t(14 + dib.size()), off = 14 + 40 + table;
  const uint8_t head[14] = {
      'B', 'M', uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), 0, 0, 0, 0, 0, uint8_t(off), uint8_t(off >> 8),
      0,   0};
  s.WriteBuffer(head, 14);
  s.WriteBuffer(dib.data(), int64_t(dib.size()));
  s.SetPosition(0);
  bitmap.LoadFromStream(s);
}

TEST(ToolbarPictures, ButtonsPngAndTheIlmainBitmapHoldTheSameStrip) {
  TPNGImage png;
  png.LoadFromFile(DataFile("buttons.png"));
  EXPECT_EQ(png.GetWidth(), 16 * kToolbarGlyphs);
  EXPECT_EQ(png.GetHeight(), 16);
  TBitmap fromPng;
  fromPng.Assign(&png);
  ASSERT_EQ(fromPng.PixelFormat(), pf32bit);

  TBitmap ilmain;
  LoadBitmapResource("ILMAIN", ilmain);
  ASSERT_EQ(ilmain.Width(), 16 * kToolbarGlyphs);
  ASSERT_EQ(ilmain.Height(), 16);
  ilmain.SetPixelFormat(pf24bit);
  // Where the PNG is clear the bitmap shows the mask colour, where it is
  // opaque the bitmap shows the same colour.
  int clear = 0, opaque = 0;
  for (int y = 0; y < 16; ++y) {
    const auto* a = static_cast<const uint8_t*>(fromPng.ScanLine(y));
    const auto* b = static_cast<const uint8_t*>(ilmain.ScanLine(y));
    for (int x = 0; x < ilmain.Width(); ++x) {
      const uint8_t* p = a + x * 4;
      const uint8_t* q = b + x * 3;
      if (p[3] == 0) {
        ++clear;
        ASSERT_TRUE(q[0] == 0xFF && q[1] == 0 && q[2] == 0xFF) << x << "," << y;
      } else if (p[3] == 255) {
        ++opaque;
        ASSERT_TRUE(q[0] == p[0] && q[1] == p[1] && q[2] == p[2])
            << x << "," << y << " png " << int(p[0]) << " " << int(p[1]) << " " << int(p[2]) << " bmp " << int(q[0])
            << " " << int(q[1]) << " " << int(q[2]);
      }
    }
  }
  EXPECT_GT(clear, 16 * kToolbarGlyphs / 4);
  EXPECT_GT(opaque, 16 * kToolbarGlyphs / 4);
}

TEST(ProgramResources, PreviewGlyphIsA16ColourBitmap) {
  TBitmap glyph;
  LoadBitmapResource("PREVIEWGLYPH", glyph);
  EXPECT_EQ(glyph.Width(), 16);
  EXPECT_EQ(glyph.Height(), 16);
  EXPECT_EQ(glyph.PixelFormat(), pf4bit);
  // The bottom-left pixel, the glyph's transparent colour, is the mask colour.
  EXPECT_EQ(glyph.Canvas()->Pixels(0, 15), TColor(0xFF00FF));
}

TEST(ProgramResources, ColourPickCursorHasItsHotspotAtTheTip) {
  TAdvancedCursor cursor;
  ASSERT_TRUE(cursor.LoadCursorFromModuleResource(HInstance, "COLORPICK"));
  ASSERT_EQ(cursor.Count(), 1);
  TSubIcon* im = cursor.Images().GetItem(0);
  EXPECT_EQ(im->GetWidth(), 32);
  EXPECT_EQ(im->GetHeight(), 32);
  EXPECT_EQ(im->HotspotX(), 1);
  EXPECT_EQ(im->HotspotY(), 30);
  TBitmap raw;
  ExtractBitmaps(*im, nullptr, &raw, kNoBackground, nullptr);
  EXPECT_GT(static_cast<uint32_t*>(raw.ScanLine(30))[1] >> 24, 0u);  // the tip is drawn
}

TEST(ProgramResources, ApplicationIconHolds48_32_16At32Bits) {
  TAdvancedIcon icon;
  ASSERT_TRUE(icon.LoadFromModuleResource(HInstance, "MAINICON"));
  ASSERT_EQ(icon.Count(), 3);
  for (int s : {48, 32, 16}) EXPECT_NE(icon.FindImage(s, s, 32), nullptr) << s;
}

}  // namespace
