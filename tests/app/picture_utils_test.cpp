// Exporting one icon image (or the whole icon) in each format of a save
// dialog's filter, each file read back by Pillow or icotool; the refusals; the
// JPEG fallback; toolbar strips into image lists.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "app/picture_utils.h"
#include "app/program_start.h"
#include "app_test_util.h"
#include "base/toolbox/bitmap_fix32.h"
#include "icons/advanced_icon.h"
#include "icons/icon_project.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/file_dialogs.h"
#include "platform/ui/img_list.h"
#include "test_support.h"

using namespace apptest;

namespace {

// JPEG and the other library formats are written through the format filters,
// which the program registers at start-up; a case run alone must do the same.
void StartOnce() {
  static const bool started = (StartLibraries(), true);
  (void)started;
}

// A 32 x 32 icon: its 32-bit image has a transparent left half and an opaque
// right half of 0x20A040 (red 0x20, green 0xA0, blue 0x40); a 16 x 16 image follows.
std::unique_ptr<TAdvancedIcon> TwoImages() {
  auto icon = std::make_unique<TAdvancedIcon>();
  auto big = Bitmap32(32, 32, [](int x, int) { return x < 16 ? 0x00000000u : 0xFF20A040u; });
  icon->Images().AddBitmap(big.get(), nullptr, 80);
  auto small = Bitmap32(16, 16, [](int, int) { return 0xFFFFFFFFu; });
  icon->Images().AddBitmap(small.get(), nullptr, 80);
  return icon;
}

std::string Pillow(const std::string& file) {
  const std::string script =
      "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
      "rgba = im.convert('RGBA')\n"
      "print(im.format, im.size[0], im.size[1], '%02x%02x%02x%02x' % rgba.getpixel((24, 8)), "
      "'%02x%02x%02x%02x' % rgba.getpixel((4, 8)))\n";
  qvtest::TempDir d;
  std::ofstream(d.File("read.py")) << script;
  std::string out;
  if (qvtest::RunCommand("/usr/bin/python3 '" + d.File("read.py") + "' '" + file + "' 2>&1", &out) != 0) return "error " + out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

struct ExportCase {
  const char* filter;  // the dialog's filter with the chosen entry first
  const char* written; // the name handed back for "out"
  const char* pillow;  // what Pillow reads: format, size, right pixel, left pixel
};
// How the case reads in the test list and in a failure.
void PrintTo(const ExportCase& c, std::ostream* os) { *os << c.written; }

class ExportOracle : public ::testing::TestWithParam<ExportCase> {};

TEST_P(ExportOracle, WritesTheChosenFormatThatPillowReads) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no Pillow";
  StartOnce();
  const ExportCase& c = GetParam();
  qvtest::TempDir dir;
  auto icon = TwoImages();
  TOpenDialog dialog(nullptr);
  dialog.SetFilter(c.filter);
  dialog.SetFilterIndex(1);
  std::string name = dir.File("out");
  ExportSubIcon(icon.get(), nullptr, &dialog, name);
  EXPECT_EQ(name, dir.File(c.written));
  EXPECT_EQ(Pillow(name), c.pillow);
  if (std::string(c.written) == "out.bmp") {
    // The fourth byte of each pixel is its alpha: rows bottom-up behind 54 bytes.
    const std::vector<uint8_t> bytes = qvtest::ReadFileBytes(name);
    ASSERT_EQ(bytes.size(), 54u + 32 * 32 * 4);
    EXPECT_EQ(bytes[54 + (31 - 8) * 128 + 4 * 4 + 3], 0);
    EXPECT_EQ(bytes[54 + (31 - 8) * 128 + 24 * 4 + 3], 255);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ExportOracle,
    ::testing::Values(
        // The whole icon; Pillow opens its largest image.
        ExportCase{"Icon (*.ico)|*.ico", "out.ico", "ICO 32 32 20a040ff 00000000"},
        // A 32-bit image: Pillow reads the colour of a 32-bit bitmap and takes
        // it as opaque; the alpha bytes are checked below.
        ExportCase{"Bitmap (*.bmp)|*.bmp", "out.bmp", "BMP 32 32 20a040ff 000000ff"},
        // Composited on white, at quality 100 (libjpeg rounds green by one).
        ExportCase{"JPEG (*.jpeg)|*.jpeg", "out.jpeg", "JPEG 32 32 20a041ff ffffffff"},
        ExportCase{"PNG (*.png)|*.png", "out.png", "PNG 32 32 20a040ff 00000000"},
        // The transparent half becomes the transparent colour.
        ExportCase{"GIF (*.gif)|*.gif", "out.gif", "GIF 32 32 20a040ff 00000000"}),
    [](const auto& p) { return std::string(std::strchr(p.param.written, '.') + 1); });

TEST(ExportOracleIcotool, TheIconFormatHoldsEveryImage) {
  if (!qvtest::HaveProgram("icotool")) GTEST_SKIP() << "no icotool";
  qvtest::TempDir dir;
  auto icon = TwoImages();
  std::string name = dir.File("whole");
  ExportSubIconAs(icon.get(), nullptr, "ico", name);
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("icotool -l '" + name + "'", &out), 0);
  EXPECT_NE(out.find("--width=32 --height=32 --bit-depth=32"), std::string::npos) << out;
  EXPECT_NE(out.find("--width=16 --height=16 --bit-depth=32"), std::string::npos) << out;
}

TEST(Export, AProjectHoldsTheWholeIconAndReadsBack) {
  qvtest::TempDir dir;
  auto icon = TwoImages();
  std::string name = dir.File("project");
  ExportSubIconAs(icon.get(), nullptr, "icpr", name);
  EXPECT_EQ(name, dir.File("project.icpr"));
  TAdvancedIcon back;
  LoadProjectIcon(&back, name);
  EXPECT_EQ(Shapes(back), Shapes(*icon));
}

TEST(Export, AnImageWithoutIconIsWrittenAloneAndStaysTheCallers) {
  qvtest::TempDir dir;
  auto icon = TwoImages();
  TSubIcon* small = icon->Images().GetItem(1);
  std::string name = dir.File("alone.ico");
  ExportSubIconAs(nullptr, small, "ico", name);
  TAdvancedIcon back;
  ASSERT_TRUE(back.LoadFromFile(name));
  EXPECT_EQ(Shapes(back), (std::vector<std::string>{"16x16x32"}));
  EXPECT_EQ(icon->Count(), 2);
  EXPECT_EQ(small->GetWidth(), 16);
}

TEST(Export, RefusesOtherExtensionsAndEmptyIconsWritingNothing) {
  qvtest::TempDir dir;
  auto icon = TwoImages();
  std::string name = dir.File("notes");
  try {
    ExportSubIconAs(icon.get(), nullptr, "txt", name);
    ADD_FAILURE() << "a text file was taken for saved";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("txt"), std::string::npos) << e.what();
  }
  EXPECT_EQ(name, dir.File("notes"));  // no saved name handed back
  EXPECT_FALSE(FileExists(dir.File("notes.txt")));
  TAdvancedIcon empty;
  for (const char* ext : {"ico", "bmp", "jpg", "png", "icpr", "gif"}) {
    std::string n = dir.File("empty");
    try {
      ExportSubIconAs(&empty, nullptr, ext, n);
      ADD_FAILURE() << ext;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Invalid icon. Can not save") << ext;
    }
    EXPECT_FALSE(FileExists(dir.File(std::string("empty.") + ext))) << ext;
  }
}

TEST(Export, An8BitImageOnABitmapGetsWhiteWhereItIsMasked) {
  qvtest::TempDir dir;
  // Two colours, no white in the palette; the left column masked.
  auto b = Bitmap24(8, 8, [](int x, int) { return x < 4 ? 0x800000u : 0x000080u; });
  b->SetPixelFormat(pf8bit);
  TBitmap mask;
  mask.SetPixelFormat(pf1bit);
  mask.SetSize(8, 8);
  mask.Canvas()->Brush()->SetColor(clBlack);
  mask.Canvas()->FillRect(TRect{0, 0, 8, 8});
  mask.Canvas()->Brush()->SetColor(clWhite);
  mask.Canvas()->FillRect(TRect{0, 0, 1, 8});
  TAdvancedIcon icon;
  icon.Images().AddBitmap(b.get(), &mask, 0);
  ASSERT_EQ(icon.Images().GetItem(0)->GetBitsPerPixel(), 8);
  std::string name = dir.File("eight.bmp");
  ExportSubIconAs(&icon, nullptr, "bmp", name);
  TBitmap back;
  back.LoadFromFile(name);
  EXPECT_EQ(back.Canvas()->Pixels(0, 3) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(back.Canvas()->Pixels(6, 3) & 0xFFFFFF, 0x800000u);
}

TEST(Export, JpegFallsBackToQuality70AndRaisesWhenThatFailsToo) {
  StartOnce();
  qvtest::TempDir dir;
  auto b = Bitmap24(8, 8, [](int, int) { return 0x336699u; });
  // An out-of-range quality the writer refuses first.
  SaveBitmapAsJPEG(b.get(), 1000, dir.File("q.jpg"));
  EXPECT_GT(qvtest::ReadFileBytes(dir.File("q.jpg")).size(), 100u);
  EXPECT_THROW(SaveBitmapAsJPEG(b.get(), 100, dir.File("missing/folder/q.jpg")), Exception);
}

TEST(ImageList, A32BitStripDropsItsTransparentPixelsAndMakesGreyTwins) {
  qvtest::TempDir dir;
  // Two 16 x 16 glyphs: a red square in the middle of each, transparent around.
  auto strip = Bitmap32(32, 16, [](int x, int y) {
    const int gx = x % 16;
    return gx >= 4 && gx < 12 && y >= 4 && y < 12 ? 0xFFFF0000u : 0x00000000u;
  });
  const std::string file = dir.File("buttons.bmp");
  {
    TBitmapFix32 copy;
    copy.Assign(strip.get());
    copy.SaveToFile(file);
  }
  TImageList list(nullptr), disabled(nullptr);
  list.SetWidth(16);
  list.SetHeight(16);
  disabled.SetWidth(16);
  disabled.SetHeight(16);
  ASSERT_TRUE(LoadImageListEx(file, &list, &disabled, clBtnFace));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(disabled.Count(), 2);
  // Drawn over blue: the transparent frame shows the blue, the square is red
  // in the list and grey in the twin.
  TBitmap canvas;
  canvas.SetPixelFormat(pf24bit);
  canvas.SetSize(16, 16);
  for (auto* l : {&list, &disabled}) {
    canvas.Canvas()->Brush()->SetColor(clBlue);
    canvas.Canvas()->FillRect(TRect{0, 0, 16, 16});
    l->Draw(canvas.Canvas(), 0, 0, 1);
    EXPECT_EQ(canvas.Canvas()->Pixels(1, 1) & 0xFFFFFF, uint32_t(clBlue));
    const uint32_t mid = canvas.Canvas()->Pixels(8, 8) & 0xFFFFFF;
    if (l == &list) EXPECT_EQ(mid, 0x0000FFu);
    else EXPECT_TRUE((mid & 0xFF) == ((mid >> 8) & 0xFF) && (mid & 0xFF) == ((mid >> 16) & 0xFF)) << std::hex << mid;
  }
  TImageList none(nullptr);
  EXPECT_FALSE(LoadImageList(dir.File("missing.png"), &none, nullptr));
  qvtest::WriteFileBytes(dir.File("bad.png"), {0x89, 'P', 'N', 'G', 1, 2, 3});
  EXPECT_FALSE(LoadImageList(dir.File("bad.png"), &none, nullptr));
}

}  // namespace
