// The preset frames: the list the start-up builds, and the PNG data itself
// as pngcheck and Pillow read it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/extras/presets/preset_images.h"
#include "support/test_support.h"

namespace {

TEST(PresetImages, BuildListsFourPngFramesWithTheirOpeningsAndFreeEmptiesIt) {
  BuildPresetImages();
  ASSERT_NE(PresetImages, nullptr);
  ASSERT_EQ(PresetImages->Count(), 4);
  const TRect openings[] = {{18, 29, 140, 119}, {13, 1, 95, 98}, {30, 14, 147, 92}, {17, 17, 131, 131}};
  for (int i = 0; i < 4; ++i) {
    const auto* item = static_cast<const TIEPresetImage*>(PresetImages->Get(i));
    ASSERT_NE(item->Data, nullptr) << i;
    EXPECT_GT(item->DataSize, 100) << i;
    EXPECT_EQ(std::memcmp(item->Data, "\x89PNG\r\n\x1a\n", 8), 0) << i;
    EXPECT_EQ(item->FileType, 8);
    const TRect& r = item->InnerRect;
    EXPECT_EQ((std::vector<LONG>{r.left, r.top, r.right, r.bottom}),
              (std::vector<LONG>{openings[i].left, openings[i].top, openings[i].right, openings[i].bottom}))
        << i;
  }
  FreePresetImages();
  EXPECT_EQ(PresetImages, nullptr);
  FreePresetImages();  // twice is harmless
}

TEST(PresetImagesOracle, PngcheckAndPillowSeeTheKindsSizesAndOpenings) {
  if (!qvtest::HaveProgram("pngcheck") ||
      qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "pngcheck or Pillow is not available";
  BuildPresetImages();
  qvtest::TempDir dir;
  const char* kinds[] = {"RGB+alpha", "RGB", "palette", "palette"};
  for (int i = 0; i < 4; ++i) {
    const auto* item = static_cast<const TIEPresetImage*>(PresetImages->Get(i));
    const auto* bytes = static_cast<const uint8_t*>(item->Data);
    const std::string file = dir.File("frame" + std::to_string(i) + ".png");
    qvtest::WriteFileBytes(file, std::vector<uint8_t>(bytes, bytes + item->DataSize));
    std::string out;
    ASSERT_EQ(qvtest::RunCommand("pngcheck -v " + file + " 2>&1", &out), 0) << out;
    EXPECT_NE(out.find(kinds[i]), std::string::npos) << out;
    EXPECT_NE(out.find("chunk bKGD"), std::string::npos) << out;
    EXPECT_NE(out.find("chunk pHYs"), std::string::npos) << out;
    EXPECT_EQ(out.find("chunk tRNS") != std::string::npos, i == 2) << out;
  }
  // Sizes, modes, and an opening that shows one even panel, unlike the frame.
  const std::string script =
      "import sys\nfrom PIL import Image\n"
      "want=[((162,159),'RGBA',(18,29,140,119)),((112,100),'RGB',(13,1,95,98)),"
      "((163,108),'P',(30,14,147,92)),((150,150),'P',(17,17,131,131))]\n"
      "for i,(size,mode,box) in enumerate(want):\n"
      "  im=Image.open(sys.argv[1]+'/frame%d.png'%i)\n"
      "  assert im.size==size and im.mode==mode, (i, im.size, im.mode)\n"
      "  rgb=im.convert('RGB')\n"
      "  inner=rgb.crop(box)\n"
      "  lo,hi=zip(*inner.getextrema())\n"
      "  assert max(h-l for l,h in zip(lo,hi))<=16, (i, inner.getextrema())\n"
      "  edge=rgb.getpixel((box[0]-3, (box[1]+box[3])//2)) if box[0]>=3 else rgb.getpixel((box[2]+3,(box[1]+box[3])//2))\n"
      "  centre=rgb.getpixel(((box[0]+box[2])//2,(box[1]+box[3])//2))\n"
      "  assert max(abs(a-b) for a,b in zip(edge,centre))>24, (i, edge, centre)\n"
      "print('ok')\n";
  qvtest::WriteFileBytes(dir.File("check.py"), std::vector<uint8_t>(script.begin(), script.end()));
  std::string out;
  EXPECT_EQ(qvtest::RunCommand("/usr/bin/python3 " + dir.File("check.py") + " " + dir.Path().string() + " 2>&1", &out), 0)
      << out;
  // A contact sheet of the four frames for a person to look at.
  std::filesystem::create_directories(std::string(QV_BINARY_DIR) + "/test-output");
  qvtest::RunCommand("cd " + dir.Path().string() +
                     " && /usr/bin/python3 -c \"from PIL import Image\nims=[Image.open('frame%d.png'%i).convert('RGBA') for i in range(4)]\n"
                     "s=Image.new('RGBA',(sum(i.width for i in ims)+50,170),(200,200,200,255))\nx=10\n"
                     "for i in ims:\n  s.alpha_composite(i,(x,5)); x+=i.width+10\n"
                     "s.save('" + std::string(QV_BINARY_DIR) + "/test-output/preset_frames_sheet.png')\"");
  FreePresetImages();
}

}  // namespace
