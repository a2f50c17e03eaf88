// icns files written by png2icns (icnsutils: run-length elements with 8-bit
// masks, JPEG 2000 for the large sizes) and by Pillow (PNG elements) read into
// the sizes and pixels that icns2png and Pillow extract from them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "icons/advanced_icon.h"
#include "mac_icons_test_util.h"
#include "test_support.h"

using namespace mactest;

namespace {

const char* kPython = "/usr/bin/python3";

bool HavePillow() { return qvtest::RunCommand(std::string(kPython) + " -c 'import PIL' 2>/dev/null") == 0; }

int RunTool(const std::string& command) {
  std::string log;
  const int status = qvtest::RunCommand(command + " 2>&1", &log);
  if (status != 0) ADD_FAILURE() << command << "\n" << log;
  return status;
}

// RGBA pictures of the sizes, with colour ramps and every kind of alpha
// (opaque, see-through, invisible), written by Pillow as PNG files.
void WriteSourcePngs(const qvtest::TempDir& dir, const std::vector<int>& sizes) {
  std::string list;
  for (int s : sizes) list += std::to_string(s) + ",";
  RunTool(std::string(kPython) + " -c \"\nfrom PIL import Image\nfor s in [" + list +
      "]:\n  im = Image.new('RGBA', (s, s))\n  im.putdata([((x * 255) // s, (y * 255) // s, (x * y) % 256,"
      " 0 if x < s // 4 else 255 if y < s // 2 else 128) for y in range(s) for x in range(s)])\n"
      "  im.save('" + dir.File("src") + "%d.png' % s)\n\"");
}

// Dumps every PNG in a folder, or every size of an icns as Pillow reads it,
// as raw RGBA files named by their pixel width.
void DumpPngsAsRgba(const std::string& folder, const std::string& out) {
  RunTool(std::string(kPython) + " -c \"\nimport glob, os\nfrom PIL import Image\nfor p in glob.glob('" + folder +
      "/*.png'):\n  im = Image.open(p).convert('RGBA')\n  open(os.path.join('" + out +
      "', '%d.rgba' % im.width), 'wb').write(im.tobytes())\n\"");
}
void DumpIcnsWithPillow(const std::string& file, const std::string& out) {
  RunTool(std::string(kPython) + " -c \"\nimport os\nfrom PIL import Image\nim = Image.open('" + file +
      "')\nfor size in im.info['sizes']:\n  im.size = size\n  im.load()\n  px = im.convert('RGBA')\n"
      "  open(os.path.join('" + out + "', '%d.rgba' % px.width), 'wb').write(px.tobytes())\n\"");
}

// Our image against the RGBA dump: the same alpha everywhere and the same
// colour wherever a pixel can be seen.
void ExpectSamePixels(TBitmap& ours, const Bytes& rgba, const std::string& what) {
  ASSERT_EQ(ours.PixelFormat(), pf32bit) << what;
  ASSERT_EQ(rgba.size(), static_cast<size_t>(ours.Width()) * ours.Height() * 4) << what;
  int shown = 0;
  for (int y = 0; y < ours.Height(); ++y)
    for (int x = 0; x < ours.Width(); ++x) {
      const uint8_t* p = Pixel32(ours, x, y);
      const uint8_t* e = &rgba[(static_cast<size_t>(y) * ours.Width() + x) * 4];
      const bool same = p[3] == e[3] && (e[3] == 0 || (p[2] == e[0] && p[1] == e[1] && p[0] == e[2]));
      if (!same && shown++ < 3)
        ADD_FAILURE() << what << " pixel " << x << "," << y << ": ours " << int(p[2]) << "," << int(p[1]) << ","
                      << int(p[0]) << "," << int(p[3]) << " expected " << int(e[0]) << "," << int(e[1]) << ","
                      << int(e[2]) << "," << int(e[3]);
    }
}

// Every image we read matches the dump of its width, and every dump is matched.
void ExpectImagesMatchDumps(TMacIconImages& images, const std::string& dumps, size_t expectedCount) {
  std::map<int, Bytes> byWidth;
  for (const auto& f : std::filesystem::directory_iterator(dumps))
    byWidth[std::stoi(f.path().stem().string())] = qvtest::ReadFileBytes(f.path().string());
  ASSERT_EQ(byWidth.size(), expectedCount);
  std::map<int, int> seen;
  for (TMacIconImage& image : images) {
    const int w = image.image->Width();
    ASSERT_TRUE(byWidth.count(w)) << image.name << " of width " << w;
    ExpectSamePixels(*image.image, byWidth[w], image.name);
    ++seen[w];
  }
  EXPECT_EQ(seen.size(), byWidth.size());
}

TEST(MacIconsOracle, Png2IcnsFileReadsLikeIcns2png) {
  if (!qvtest::HaveProgram("png2icns") || !qvtest::HaveProgram("icns2png") || !HavePillow())
    GTEST_SKIP() << "icnsutils or Pillow missing";
  qvtest::TempDir dir;
  const std::vector<int> sizes = {16, 32, 48, 128, 256, 512};
  WriteSourcePngs(dir, sizes);
  std::string command = "png2icns '" + dir.File("made.icns") + "'";
  for (int s : sizes) command += " '" + dir.File("src") + std::to_string(s) + ".png'";
  ASSERT_EQ(RunTool(command), 0);
  std::filesystem::create_directory(dir.File("x"));
  std::filesystem::create_directory(dir.File("dump"));
  ASSERT_EQ(RunTool("icns2png -x -o '" + dir.File("x") + "' '" + dir.File("made.icns") + "'"), 0);
  DumpPngsAsRgba(dir.File("x"), dir.File("dump"));

  TMacIconImages images;
  ReadMacIconFile(dir.File("made.icns"), images);
  ASSERT_EQ(images.size(), sizes.size());
  // Run-length elements take their alpha from the 8-bit masks; 256 and 512
  // are JPEG 2000 elements.
  std::map<std::string, bool> names;
  for (const TMacIconImage& i : images) names[i.name] = true;
  for (const char* name : {"is32/s8mk", "il32/l8mk", "ih32/h8mk", "it32/t8mk", "ic08", "ic09"})
    EXPECT_TRUE(names.count(name)) << name;
  ExpectImagesMatchDumps(images, dir.File("dump"), sizes.size());
}

TEST(MacIconsOracle, PillowIcnsReadsLikePillow) {
  if (!HavePillow()) GTEST_SKIP() << "Pillow missing";
  qvtest::TempDir dir;
  WriteSourcePngs(dir, {1024});
  ASSERT_EQ(RunTool(std::string(kPython) + " -c \"from PIL import Image; Image.open('" + dir.File("src1024.png") +
                "').save('" + dir.File("pil.icns") + "')\""),
            0);
  std::filesystem::create_directory(dir.File("dump"));
  DumpIcnsWithPillow(dir.File("pil.icns"), dir.File("dump"));

  TMacIconImages images;
  ReadMacIconFile(dir.File("pil.icns"), images);
  ASSERT_FALSE(images.empty());
  for (const TMacIconImage& i : images) EXPECT_EQ(i.name.substr(0, 2), "ic") << i.name;
  size_t widths = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("dump"))) widths += entry.is_regular_file();
  ExpectImagesMatchDumps(images, dir.File("dump"), widths);

  // The whole icon: the 1024-pixel element is marked high-resolution and kept as PNG.
  TAdvancedIcon icon;
  LoadMacIcon(dir.File("pil.icns"), icon);
  EXPECT_EQ(icon.Count(), static_cast<int>(images.size()));
  bool sawLargest = false;
  for (int i = 0; i < icon.Count(); ++i) {
    TSubIcon* image = icon.Images()[i];
    if (image->GetWidth() != 1024) continue;
    sawLargest = true;
    EXPECT_TRUE(image->IsMacHiResElement());
    EXPECT_TRUE(image->StoreAsPNG());
  }
  EXPECT_TRUE(sawLargest);
}

}  // namespace
