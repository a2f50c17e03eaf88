// PNG-compressed ICO entries checked against icotool (icoutils) and Pillow:
// 256-pixel PNG entries that another program wrote survive our reading and
// writing, and the images we compress are read by both as we hold them.
#include <gtest/gtest.h>

#include <sstream>

#include "icon_png_util.h"
#include "icons/advanced_icon.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/graphics_bitmap.h"
#include "test_support.h"

using namespace icontest;

namespace {

bool HavePillow() { return qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0; }

// The image of that size in an ICO file as Pillow decodes it.
Rgba PillowImage(const qvtest::TempDir& dir, const std::string& ico, int w, int h) {
  const std::string raw = dir.File("pillow.rgba");
  const std::string cmd = "/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + ico +
                          "'); open('" + raw + "', 'wb').write(im.ico.getimage((" + std::to_string(w) + ", " +
                          std::to_string(h) + ")).convert('RGBA').tobytes())\"";
  Rgba img;
  if (qvtest::RunCommand(cmd) != 0) return img;
  img.px = qvtest::ReadFileBytes(raw);
  if (img.px.size() == size_t(w) * size_t(h) * 4) {
    img.w = w;
    img.h = h;
  }
  return img;
}

// The lines of "icotool -l" that describe images.
std::vector<std::string> IcotoolListing(const std::string& ico) {
  std::string out;
  qvtest::RunCommand("icotool -l " + ico + " 2>&1", &out);
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("--icon", 0) == 0) lines.push_back(line);
  return lines;
}

TEST(IcoPngOracle, AnIcotoolPngEntryOf256PixelsRoundTrips) {
  if (!qvtest::HaveProgram("icotool")) GTEST_SKIP() << "icotool is not installed";
  qvtest::TempDir dir;
  IconFixture big{"big", 256, 256, 32, {0x000000, 0x3366CC, 0xF0E0D0, 0x10A040, 0xFFFFFF}, true, true};
  IconFixture small{"small", 48, 48, 32, {0x000000, 0x808080, 0xC02020}, true, false};
  const Rgba bigPixels = big.Pixels(), smallPixels = small.Pixels();
  const auto bigPng = EncodeRgbaPng(bigPixels);
  qvtest::WriteFileBytes(dir.File("big.png"), bigPng);
  qvtest::WriteFileBytes(dir.File("small.png"), EncodeRgbaPng(smallPixels));
  const std::string made = "icotool -c -o " + dir.File("t.ico") + " -r " + dir.File("big.png") + " -b 32 " +
                           dir.File("small.png") + " 2>&1";
  ASSERT_EQ(qvtest::RunCommand(made), 0) << made;

  TAdvancedIcon icon;
  ASSERT_TRUE(icon.LoadFromFile(dir.File("t.ico")));
  ASSERT_EQ(icon.Count(), 2);
  TSubIcon* png = icon.Images()[0];
  ASSERT_TRUE(png->HasPNGBits());
  EXPECT_EQ(png->GetWidth(), 256);
  EXPECT_EQ(FirstDifference(bigPixels, PixelsOf(*png), true), "");
  EXPECT_EQ(FirstDifference(smallPixels, PixelsOf(*icon.Images()[1]), true), "");

  icon.SaveToFile(dir.File("ours.ico"));
  const auto listing = IcotoolListing(dir.File("ours.ico"));
  ASSERT_EQ(listing.size(), 2u);
  EXPECT_NE(listing[0].find("--width=256 --height=256 --bit-depth=32"), std::string::npos) << listing[0];
  EXPECT_NE(listing[1].find("--width=48 --height=48 --bit-depth=32"), std::string::npos) << listing[1];
  const std::string extract = "mkdir " + dir.File("x") + " && icotool -x -i 1 -o " + dir.File("x") + " " +
                              dir.File("ours.ico") + " 2>&1";
  ASSERT_EQ(qvtest::RunCommand(extract), 0) << extract;
  EXPECT_EQ(qvtest::ReadFileBytes(dir.File("x/ours_1_256x256x32.png")), bigPng);

  if (!HavePillow()) GTEST_SKIP() << "Pillow is not installed";
  EXPECT_EQ(FirstDifference(bigPixels, PillowImage(dir, dir.File("ours.ico"), 256, 256), true), "");
  EXPECT_EQ(FirstDifference(smallPixels, PillowImage(dir, dir.File("ours.ico"), 48, 48), true), "");
}

TEST(IcoPngOracle, ImagesWeCompressAreReadAsWeHoldThem) {
  if (!qvtest::HaveProgram("icotool")) GTEST_SKIP() << "icotool is not installed";
  qvtest::TempDir dir;
  const IconFixture fixtures[] = {
      {"alpha_256", 256, 256, 32, {0x000000, 0x3366CC, 0xF0E0D0, 0x10A040}, true, true},
      {"eight", 32, 32, 8, {0x000000, 0x3366CC, 0xF0E0D0, 0x10A040, 0xFF8000}, true, false},
      {"four", 16, 16, 4, {0x000000, 0x800000, 0x008000, 0xFFFFFF}, true, false},
      {"true", 24, 24, 24, {0x000000, 0x123456, 0xABCDEF}, true, false},
  };
  // icotool names a PNG entry by the depth of the PNG: masked palette images
  // become 8-bit palette PNGs, masked true-colour images RGBA.
  const int pngDepths[] = {32, 8, 8, 32};
  TAdvancedIcon icon;
  for (const auto& f : fixtures) {
    const auto dib = f.Dib();
    TCustomMemoryStream s(dib.data(), int64_t(dib.size()));
    icon.Images().Add(TSubIcon::CreateFromBitsStream<TFileIconImage>(s));
    icon.Images()[icon.Count() - 1]->SetStoreAsPNG(true);
  }
  icon.SaveToFile(dir.File("ours.ico"));
  const auto file = qvtest::ReadFileBytes(dir.File("ours.ico"));
  const auto listing = IcotoolListing(dir.File("ours.ico"));
  ASSERT_EQ(listing.size(), std::size(fixtures));
  ASSERT_EQ(qvtest::RunCommand("mkdir " + dir.File("x") + " && icotool -x -o " + dir.File("x") + " " +
                               dir.File("ours.ico") + " 2>&1"),
            0);
  for (size_t i = 0; i < std::size(fixtures); ++i) {
    const IconFixture& f = fixtures[i];
    const uint32_t at = Get32(file, 6 + 16 * i + 12), size = Get32(file, 6 + 16 * i + 8);
    EXPECT_TRUE(HasPngSignature(file.data() + at, size)) << f.name;
    const std::string depth = std::to_string(pngDepths[i]);
    const std::string geometry =
        "--width=" + std::to_string(f.w) + " --height=" + std::to_string(f.h) + " --bit-depth=" + depth;
    EXPECT_NE(listing[i].find(geometry), std::string::npos) << listing[i];
    const Rgba ours = PixelsOf(*icon.Images()[int(i)]);
    const bool exactAlpha = f.bpp == 32;
    EXPECT_EQ(FirstDifference(f.Pixels(), ours, exactAlpha), "") << f.name << " in memory";
    const std::string name = dir.File("x/ours_" + std::to_string(i + 1) + "_" + std::to_string(f.w) + "x" +
                                      std::to_string(f.h) + "x" + depth + ".png");
    EXPECT_EQ(FirstDifference(ours, DecodePngWithLibpng(qvtest::ReadFileBytes(name)), exactAlpha), "")
        << f.name << " as icotool extracts it";
  }
  if (!HavePillow()) GTEST_SKIP() << "Pillow is not installed";
  for (size_t i = 0; i < std::size(fixtures); ++i) {
    const IconFixture& f = fixtures[i];
    const Rgba pillow = PillowImage(dir, dir.File("ours.ico"), f.w, f.h);
    EXPECT_EQ(FirstDifference(PixelsOf(*icon.Images()[int(i)]), pillow, f.bpp == 32), "")
        << f.name << " as Pillow reads it";
  }
}

}  // namespace
