#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "pictures/common/picture_pixels.h"
#include "pictures/xpm/xpm_image.h"
#include "platform/graphics/graphics_picture.h"
#include "test_support.h"

using pictest::Bytes;
using pictest::TRgba;

namespace {

bool HaveNetpbm() { return qvtest::HaveProgram("xpmtoppm") && qvtest::HaveProgram("ppmtoxpm") && qvtest::HaveProgram("convert"); }

// xpmtoppm's pixels with the alpha of its mask (black there is transparent).
TRgba XpmToPpm(const qvtest::TempDir& dir, const std::string& path) {
  const std::string alpha = dir.File("alpha.pbm");
  std::filesystem::remove(alpha);
  TRgba p = pictest::ReadPnm(pictest::CommandBytes("xpmtoppm --alphaout=" + alpha + " " + path + " 2>/dev/null"));
  if (std::filesystem::exists(alpha)) {
    const TRgba a = pictest::ReadPnm(qvtest::ReadFileBytes(alpha));
    if (a.rgba.size() == p.rgba.size())
      for (size_t i = 3; i < p.rgba.size(); i += 4) p.rgba[i] = a.rgba[i - 3];
  }
  return p;
}

TRgba LoadThroughRegistry(const std::string& path) {
  TPicture picture;
  picture.LoadFromFile(path);
  auto* bitmap = dynamic_cast<TBitmap*>(picture.Graphic());
  EXPECT_NE(bitmap, nullptr);
  return bitmap ? pictest::RgbaOf(*bitmap) : TRgba{};
}

// Transparent pixels are black in both; only their alpha matters.
void ExpectSameXpmPixels(const TRgba& ours, const TRgba& theirs, int tolerance = 0) {
  pictest::ExpectSameRgba(ours, theirs, tolerance);
}

}  // namespace

TEST(XPMOracle, ReadsWhatPpmtoxpmAndImageMagickWrite) {
  if (!HaveNetpbm()) GTEST_SKIP() << "netpbm or ImageMagick missing";
  qvtest::TempDir dir;
  const std::string make = "convert -seed 5 -size 23x11 plasma: ";
  ASSERT_EQ(qvtest::RunCommand(make + "-depth 8 " + dir.File("p.ppm")), 0);
  ASSERT_EQ(qvtest::RunCommand(make + "-depth 16 " + dir.File("p16.ppm")), 0);
  ASSERT_EQ(qvtest::RunCommand(make + "-colors 60 -depth 8 " + dir.File("few.ppm")), 0);
  ASSERT_EQ(qvtest::RunCommand("convert -size 23x11 gradient: -threshold 50% " + dir.File("mask.pbm")), 0);
  ASSERT_EQ(qvtest::RunCommand("convert -size 23x11 xc:red xc:black xc:white -append -crop 23x11+0+7 +repage -depth 8 " + dir.File("named.ppm")), 0);
  const struct TCase {
    const char* name;
    std::string command;
    int tolerance;
  } cases[] = {
      {"names", "ppmtoxpm " + dir.File("named.ppm"), 0},
      {"two characters a pixel", "ppmtoxpm " + dir.File("p.ppm"), 0},
      {"one character a pixel", "ppmtoxpm " + dir.File("few.ppm"), 0},
      {"hex only", "ppmtoxpm -hexonly " + dir.File("few.ppm"), 0},
      {"sixteen-bit colours", "ppmtoxpm " + dir.File("p16.ppm"), 1},
      {"alpha mask", "ppmtoxpm -alphamask=" + dir.File("mask.pbm") + " " + dir.File("p.ppm"), 0},
      // netpbm's reader wants "static char": ImageMagick's "static const char" is made so for it.
      {"imagemagick", "convert " + dir.File("few.ppm") + " xpm:- | sed 's/static const char/static char/'", 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("t.xpm");
    ASSERT_EQ(qvtest::RunCommand(c.command + " > " + path + " 2>/dev/null"), 0);
    ExpectSameXpmPixels(LoadThroughRegistry(path), XpmToPpm(dir, path), c.tolerance);
  }
}

TEST(XPMOracle, ReadsTheXpmsDebianShips) {
  if (!HaveNetpbm()) GTEST_SKIP() << "netpbm missing";
  qvtest::TempDir dir;
  int compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/share/pixmaps")) {
    if (entry.path().extension() != ".xpm" || compared >= 6) continue;
    SCOPED_TRACE(entry.path().string());
    const TRgba theirs = XpmToPpm(dir, entry.path().string());
    if (theirs.width == 0) continue;
    ExpectSameXpmPixels(LoadThroughRegistry(entry.path().string()), theirs);
    ++compared;
  }
  if (compared == 0) GTEST_SKIP() << "no XPM files in /usr/share/pixmaps";
}

TEST(XPMOracle, WhatWeWritePassesCxpmAndXpmtoppm) {
  if (!HaveNetpbm() || !qvtest::HaveProgram("cxpm")) GTEST_SKIP() << "xpmutils or netpbm missing";
  qvtest::TempDir dir;
  for (int colours : {40, 200}) {  // one and two characters a pixel
    SCOPED_TRACE(colours);
    TXPMImage picture;
    picture.SetSize(23, 11);
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 23; ++x) {
        const int k = (x + y * 23) % colours;
        static_cast<uint32_t*>(picture.ScanLine(y))[x] = (x + y) % 7 == 0 ? 0 : 0xFF000000u | (k * 97 % 256) << 16 | (k * 31 % 256) << 8 | k;
      }
    const std::string path = dir.File("ours.xpm");
    qvtest::WriteFileBytes(path, pictest::SaveBytes(picture));
    std::string out;
    EXPECT_EQ(qvtest::RunCommand("cxpm " + path + " 2>&1", &out), 0) << out;
    // netpbm's reader wants "static char" where we write "static const unsigned char".
    const std::string plain = dir.File("plain.xpm");
    ASSERT_EQ(qvtest::RunCommand("sed 's/static const unsigned char/static char/' " + path + " > " + plain), 0);
    pictest::ExpectSameRgba(pictest::RgbaOf(picture), XpmToPpm(dir, plain));
  }
}

TEST(XPMOracle, X11TableAgreesWithRgbTxt) {
  std::ifstream in("/usr/share/X11/rgb.txt");
  if (!in) GTEST_SKIP() << "x11-common's rgb.txt missing";
  // Brown is the darkest X11 brown here, and these carry the web's values.
  const std::string kOwn[] = {"brown", "fuchsia", "indigo", "lime", "olive", "silver", "teal", "mediumaquamarine",
                              "mediumslateblue", "mediumspringgreen", "mediumvioletred", "lightgoldenrodyellow",
                              "palegreen", "gray", "grey", "green", "maroon", "purple"};
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '!') continue;
    std::istringstream fields(line);
    int r, g, b;
    std::string word, name;
    fields >> r >> g >> b;
    while (fields >> word) name += word;
    for (char& ch : name) ch = static_cast<char>(std::tolower(ch));
    uint32_t ours = 0;
    if (!FindX11Color(name, ours)) continue;
    const bool own = std::find(std::begin(kOwn), std::end(kOwn), name) != std::end(kOwn);
    if (own && name != "gray" && name != "grey" && name != "green" && name != "maroon" && name != "purple") continue;
    EXPECT_EQ(ours, static_cast<uint32_t>(r << 16 | g << 8 | b)) << name;
    ++checked;
  }
  EXPECT_GT(checked, 120);
}

// ---- XBM ----

namespace {
// Pillow takes a set bit for white, X11 and netpbm for black.
TRgba PillowXbm(const std::string& path) {
  TRgba p = pictest::PillowRgba(path);
  for (size_t i = 0; i < p.rgba.size(); ++i)
    if (i % 4 != 3) p.rgba[i] = static_cast<uint8_t>(255 - p.rgba[i]);
  return p;
}
}  // namespace

TEST(XBMOracle, ReadsXbitmapsWithTheirHotspots) {
  if (!qvtest::HaveProgram("xbmtopbm")) GTEST_SKIP() << "netpbm missing";
  int compared = 0;
  for (const char* name : {"left_ptr", "cntr_ptr", "opendot", "star", "xlogo32", "escherknot", "dot", "boxes"}) {
    const std::string path = std::string("/usr/include/X11/bitmaps/") + name;
    if (!std::filesystem::exists(path)) continue;
    SCOPED_TRACE(name);
    qvtest::TempDir dir;
    const std::string copy = dir.File(std::string(name) + ".xbm");
    std::filesystem::copy_file(path, copy);
    TXBMImage picture;
    picture.LoadFromFile(copy);
    pictest::ExpectSameRgba(pictest::RgbaOf(picture), pictest::ReadPnm(pictest::CommandBytes("xbmtopbm " + path)));
    const Bytes text = qvtest::ReadFileBytes(path);
    const std::string s(text.begin(), text.end());
    const size_t hot = s.find("_x_hot ");
    if (hot != std::string::npos) { EXPECT_EQ(picture.HotSpotX, std::stoi(s.substr(hot + 7))); }
    ++compared;
  }
  if (compared == 0) GTEST_SKIP() << "xbitmaps missing";
}

TEST(XBMOracle, PillowAndNetpbmReadOursAndWeReadPillows) {
  if (!qvtest::HaveProgram("xbmtopbm") || qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
    GTEST_SKIP() << "netpbm or Pillow missing";
  qvtest::TempDir dir;
  // Pillow writes one with a hotspot.
  const std::string pillow = dir.File("pillow.xbm");
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 -c \"from PIL import Image; im = Image.radial_gradient('L').resize((21, 13))"
                               ".point(lambda v: 255 if v > 100 else 0).convert('1'); im.save('" + pillow +
                               "', hotspot=(5, 7))\""),
            0);
  TXBMImage picture;
  picture.LoadFromFile(pillow);
  pictest::ExpectSameRgba(pictest::RgbaOf(picture), PillowXbm(pillow));
  EXPECT_EQ(picture.HotSpotX, 5);
  EXPECT_EQ(picture.HotSpotY, 7);

  const std::string ours = dir.File("ours.xbm");
  picture.SaveToFile(ours);
  pictest::ExpectSameRgba(pictest::RgbaOf(picture), PillowXbm(ours));
  pictest::ExpectSameRgba(pictest::RgbaOf(picture), pictest::ReadPnm(pictest::CommandBytes("xbmtopbm " + ours)));
  std::string hotspot;
  qvtest::RunCommand("/usr/bin/python3 -c \"from PIL import Image; print(Image.open('" + ours + "').info.get('hotspot'))\"",
                     &hotspot);
  EXPECT_EQ(hotspot, "(5, 7)\n");
}

// ImageMagick marks the colour names that SVG defines; its values are the
// standard's, except gray and grey, which it keeps from its own tables ("none"
// is not a colour there).
TEST(XPMOracle, SvgColorKeywordsAgreeWithImageMagick) {
  std::string listing;
  if (qvtest::RunCommand("convert -list color 2>/dev/null", &listing) != 0 || listing.empty())
    GTEST_SKIP() << "ImageMagick's convert missing";
  std::map<std::string, int32_t> magick;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find("SVG") == std::string::npos) continue;
    std::istringstream fields(line);
    std::string name, value;
    fields >> name >> value;
    int r, g, b;
    if (std::sscanf(value.c_str(), "srgb(%d,%d,%d)", &r, &g, &b) != 3) continue;
    for (char& ch : name) ch = static_cast<char>(std::tolower(ch));
    magick[name] = int32_t(b << 16 | g << 8 | r);
  }
  int checked = 0;
  for (const auto& k : SvgColorKeywords()) {
    const std::string name(k.Name.begin(), k.Name.end());
    if (name == "none" || name == "gray" || name == "grey") continue;
    const auto it = magick.find(name);
    if (it == magick.end()) continue;
    EXPECT_EQ(k.Color, it->second) << name;
    ++checked;
  }
  EXPECT_GT(checked, 130);
}
