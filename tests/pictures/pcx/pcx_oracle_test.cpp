#include <gtest/gtest.h>

#include "pictures/common/picture_pixels.h"
#include "pictures/pcx/pcx_image.h"
#include "pictures/pcx/pcx_test_util.h"
#include "platform/graphics/graphics_picture.h"
#include "test_support.h"

using pictest::TRgba;

namespace {

bool HaveTools() {
  return qvtest::HaveProgram("ppmtopcx") && qvtest::HaveProgram("pcxtoppm") && qvtest::HaveProgram("convert") &&
         qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0;
}

TRgba LoadThroughRegistry(const std::string& path) {
  TPicture picture;
  picture.LoadFromFile(path);
  auto* pcx = dynamic_cast<TPCXImage*>(picture.Graphic());
  EXPECT_NE(pcx, nullptr);
  return pcx ? pictest::RgbaOf(*pcx) : TRgba{};
}

TRgba PcxToPpm(const std::string& path) { return pictest::ReadPnm(pictest::CommandBytes("pcxtoppm " + path + " 2>/dev/null")); }

// A picture of the 16 EGA colours, which ppmtopcx's standard palette holds.
void WriteEgaPpm(const std::string& path) {
  static const uint8_t kEga[16][3] = {{0, 0, 0},     {0, 0, 170},    {0, 170, 0},    {0, 170, 170},
                                      {170, 0, 0},   {170, 0, 170},  {170, 170, 0},  {170, 170, 170},
                                      {85, 85, 85},  {85, 85, 255},  {85, 255, 85},  {85, 255, 255},
                                      {255, 85, 85}, {255, 85, 255}, {255, 255, 85}, {255, 255, 255}};
  const std::string head = "P6\n21 9\n255\n";
  pictest::Bytes b(head.begin(), head.end());
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 21; ++x) b.insert(b.end(), kEga[(x * 3 + y * 5) % 16], kEga[(x * 3 + y * 5) % 16] + 3);
  qvtest::WriteFileBytes(path, b);
}

}  // namespace

TEST(PCXOracle, ReadsWhatPpmtoppcxWritesAsPcxtoppmAndPillowDo) {
  if (!HaveTools()) GTEST_SKIP() << "netpbm, ImageMagick or Pillow missing";
  qvtest::TempDir dir;
  ASSERT_EQ(qvtest::RunCommand("cd " + dir.Path().string() +
                               " && convert -seed 5 -size 21x9 plasma: -depth 8 full.ppm && for n in 2 4 16 200; do "
                               "convert full.ppm -colors $n c$n.ppm; done"),
            0);
  WriteEgaPpm(dir.File("ega.ppm"));
  // Pillow reads no packed 2- or 4-bit files; a single bit plane is black and
  // white to Pillow and to us, while pcxtoppm paints it with header colours.
  const struct TCase {
    const char* name;
    std::string arguments;
    TPixelFormat format;
    bool netpbm, pillow;
  } cases[] = {
      {"two planes by default", "c4.ppm", pf4bit, true, true},
      {"packed two bits", "-packed c4.ppm", pf4bit, true, false},
      {"one plane", "-planes 1 c2.ppm", pf1bit, false, true},
      {"two planes", "-planes 2 c4.ppm", pf4bit, true, true},
      {"four planes", "-planes 4 c16.ppm", pf4bit, true, true},
      {"packed four bits", "-packed c16.ppm", pf4bit, true, false},
      {"eight bits", "-8bit c16.ppm", pf8bit, true, true},
      {"eight bits of many colours", "c200.ppm", pf8bit, true, true},
      {"24 bits", "-24bit c16.ppm", pf24bit, true, true},
      {"true colour", "-24bit full.ppm", pf24bit, true, true},
      {"standard palette", "-stdpalette ega.ppm", pf4bit, true, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("t.pcx");
    ASSERT_EQ(qvtest::RunCommand("cd " + dir.Path().string() + " && ppmtopcx " + c.arguments + " > " + path + " 2>/dev/null"), 0);
    TPCXImage picture;
    pictest::LoadBytes(picture, qvtest::ReadFileBytes(path));
    EXPECT_EQ(picture.PixelFormat(), c.format);
    const TRgba ours = LoadThroughRegistry(path);
    if (c.netpbm) pictest::ExpectSameRgba(ours, PcxToPpm(path));
    if (c.pillow) pictest::ExpectSameRgba(ours, pictest::PillowRgba(path));
  }
}

TEST(PCXOracle, HandMadeFilesReadAsPcxtoppmAndPillowDo) {
  if (!HaveTools()) GTEST_SKIP() << "netpbm or Pillow missing";
  using namespace pcxtest;
  TPcxSpec version3;  // version 3 with the system colours in its header, as such files carry them
  version3.version = 3, version3.planes = 4, version3.width = 16;
  for (int y = 0; y < 3; ++y) {
    Bytes row;
    for (int plane = 0; plane < 4; ++plane) {
      // Pixel x has index (x + y) % 16.
      uint8_t hi = 0, lo = 0;
      for (int x = 0; x < 16; ++x) {
        const int bit = ((x + y) % 16 >> plane) & 1;
        if (x < 8) hi = static_cast<uint8_t>(hi | bit << (7 - x));
        else lo = static_cast<uint8_t>(lo | bit << (15 - x));
      }
      row.push_back(hi);
      row.push_back(lo);
    }
    version3.rows.push_back(row);
  }
  Bytes v3 = MakePcx(version3);
  const std::vector<RGBQUAD> system = DefaultColorTable(4);
  for (int i = 0; i < 16; ++i) {
    v3[static_cast<size_t>(16 + i * 3)] = system[static_cast<size_t>(i)].rgbRed;
    v3[static_cast<size_t>(17 + i * 3)] = system[static_cast<size_t>(i)].rgbGreen;
    v3[static_cast<size_t>(18 + i * 3)] = system[static_cast<size_t>(i)].rgbBlue;
  }
  // 8 bits, palette information 2 and no trailer: grey levels. Long enough
  // for Pillow's look for a trailer, and never the trailer's mark 12.
  TPcxSpec grey;
  grey.bits = 8, grey.width = 40, grey.paletteInfo = 2;
  for (int y = 0; y < 20; ++y) {
    Bytes row;
    for (int x = 0; x < 40; ++x) {
      const auto v = static_cast<uint8_t>(x * 13 + y * 29);
      row.push_back(v == 12 ? 13 : v);
    }
    grey.rows.push_back(row);
  }
  TPcxSpec stored = grey;  // the same, stored without encoding, with a trailer
  stored.encoding = 0, stored.trailer = true, stored.paletteInfo = 1;
  // pcxtoppm wants the trailer of every 8-bit file and refuses stored data;
  // Pillow decodes every file as run-length encoded; ImageMagick reads stored data.
  const struct TCase {
    const char* name;
    Bytes file;
    bool netpbm, pillow, magick;
  } cases[] = {{"version 3", v3, true, true, false},
               {"grey information", MakePcx(grey), false, true, false},
               {"stored", MakePcx(stored), false, false, true}};
  qvtest::TempDir dir;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("t.pcx");
    qvtest::WriteFileBytes(path, c.file);
    const TRgba ours = LoadThroughRegistry(path);
    if (c.netpbm) pictest::ExpectSameRgba(ours, PcxToPpm(path));
    if (c.pillow) pictest::ExpectSameRgba(ours, pictest::PillowRgba(path));
    if (c.magick) pictest::ExpectSameRgba(ours, pictest::MagickRgba(path));
  }
}

TEST(PCXOracle, FourPlanesOfEightBitsReadAsImageMagickDoes) {
  if (!HaveTools()) GTEST_SKIP() << "ImageMagick missing";
  qvtest::TempDir dir;
  const std::string path = dir.File("alpha.pcx");
  ASSERT_EQ(qvtest::RunCommand("convert -seed 5 -size 21x9 plasma: \\( -size 21x9 gradient: \\) -alpha off "
                               "-compose CopyOpacity -composite -depth 8 " + path),
            0);
  TPCXImage picture;
  pictest::LoadBytes(picture, qvtest::ReadFileBytes(path));
  EXPECT_EQ(picture.PixelFormat(), pf32bit);
  pictest::ExpectSameRgba(pictest::RgbaOf(picture), pictest::MagickRgba(path));
}
