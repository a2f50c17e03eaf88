// New picture resources opened by Pillow: the default icon images as ICO
// files and the default DIB as a BMP file.
#include <gtest/gtest.h>

#include "icon_test_util.h"
#include "icons/graphics_resources.h"
#include "test_support.h"

namespace {

bool HavePillow() { return qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0; }

// Pillow's size and alpha range of a file, as "w h lo hi".
std::string PillowSizeAndAlpha(const std::string& path) {
  std::string out;
  qvtest::RunCommand("/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + path +
                         "'); im.load(); a = im.convert('RGBA').getextrema()[3]; "
                         "print(im.size[0], im.size[1], a[0], a[1])\" 2>&1",
                     &out);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

TEST(GraphicsResourcesOracle, DefaultImagesOpenInPillow) {
  if (!HavePillow()) GTEST_SKIP() << "Pillow is not installed";
  const TGraphicsResourceDefaults saved = GraphicsResourceDefaults();
  qvtest::TempDir dir;
  struct Case {
    int w, h;
    TPixelFormat pf;
  };
  // The default mask is all set: every pixel transparent.
  for (const Case& k : {Case{32, 32, pf4bit}, Case{16, 16, pf1bit}, Case{24, 8, pf8bit}, Case{20, 20, pf24bit}}) {
    GraphicsResourceDefaults().IconWidth = k.w;
    GraphicsResourceDefaults().IconHeight = k.h;
    GraphicsResourceDefaults().IconPixelFormat = k.pf;
    auto image = CreateNewResource(TIconResourceDetails::Class(), nullptr, 0, "1");
    TMemoryStream& data = image->Data();
    icontest::Entry entry;
    entry.bits.assign(data.Memory(), data.Memory() + data.Size());
    entry.bitCount = uint16_t(icontest::Get16(entry.bits, 14));
    const std::string path = dir.File("default.ico");
    qvtest::WriteFileBytes(path, icontest::IcoFile({entry}));
    EXPECT_EQ(PillowSizeAndAlpha(path), std::to_string(k.w) + " " + std::to_string(k.h) + " 0 0") << k.w;
  }
  GraphicsResourceDefaults() = saved;

  auto dib = CreateNewResource(TDIBResourceDetails::Class(), nullptr, 0, "1");
  const std::string bmp = dir.File("default.bmp");
  qvtest::WriteFileBytes(bmp, std::vector<uint8_t>(dib->Data().Memory(), dib->Data().Memory() + dib->Data().Size()));
  EXPECT_EQ(PillowSizeAndAlpha(bmp), "128 96 255 255");
}

}  // namespace
