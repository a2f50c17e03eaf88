// The data files the generators make at build time, read through the
// program's own readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "base/file_type_sniffer.h"

#include "icons/icon_library.h"

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
