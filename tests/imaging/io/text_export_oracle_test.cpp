// The picture as text, checked by outside tools: form 0 read back by a Python
// parser and form 1 compiled by gcc into an array give the bytes SaveStream
// writes, form 2 is what base64 -w 76 writes, form 3 follows the grey formula
// on Pillow's decode of the picture.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "io_test_support.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
const char* kPython = "/usr/bin/python3";

std::string Text(const std::string& path) {
  const Bytes b = qvtest::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

class TextExportOracle : public ::testing::Test {
protected:
  void SetUp() override {
    if (qvtest::RunCommand(std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1") != 0 ||
        !qvtest::HaveProgram("gcc") || !qvtest::HaveProgram("base64"))
      GTEST_SKIP() << "python3 with Pillow, gcc and base64 are needed";
    qvtest::EnsureImageIO();
    RegisterFormatFilters();
    RegisterSpecialFormats();
    TIEBitmap& b = *io.IEBitmap();
    b.Allocate(23, 9, ie24RGB);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 23; ++x) b.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 11), uint8_t(y * 28), uint8_t(x * y * 3)));
    TMemoryStream s;
    io.SaveStream(s, ioPNG);
    png.assign(s.Memory(), s.Memory() + s.Size());
    ASSERT_GT(png.size(), 8u);
  }
  std::wstring W(const std::string& name) { return UTF8ToWide(dir.File(name)); }

  qvtest::FilterSlotsScope slots;
  qvtest::TempDir dir;
  TImageLibIO io{nullptr};
  Bytes png;
};

TEST_F(TextExportOracle, FormZeroReadsBackAsTheSavedBytes) {
  io.SaveFileAsText(W("pic.c.txt"), ioPNG, 0);
  ASSERT_FALSE(io.Aborting());
  const std::string text = Text(dir.File("pic.c.txt"));
  // The identifier is the base name made an identifier; the list parses back.
  EXPECT_EQ(text.rfind("const\n  pic_c_txt_Size = " + std::to_string(png.size()) + ";\n", 0), 0u) << text;
  EXPECT_NE(text.find("  pic_c_txt : array [0..pic_c_txt_Size-1] of byte = (\n"), std::string::npos);
  std::string out;
  qvtest::RunCommand(std::string(kPython) + " -c '\n"
                         "import re, sys\n"
                         "t = open(sys.argv[1]).read()\n"
                         "m = re.fullmatch(r\"const\\n  (\\w+)_Size = (\\d+);\\n  (\\w+) : array \\[0\\.\\.(\\w+)_Size-1\\] of byte = \\(\\n((?:    [$0-9A-F,]+\\n)*    [$0-9A-F,]+\\);\\n)\", t)\n"
                         "assert m and m.group(1) == m.group(3) == m.group(4), t[:200]\n"
                         "lines = m.group(5).split(\"\\n\")[:-1]\n"
                         "assert all(len(l) <= 4 + 75 for l in lines)\n"
                         "body = \"\".join(l[4:] for l in lines).rstrip(\");\")\n"
                         "data = bytes(int(v[1:], 16) for v in body.split(\",\"))\n"
                         "assert len(data) == int(m.group(2))\n"
                         "sys.stdout.buffer.write(data)' '" + dir.File("pic.c.txt") + "'",
                     &out);
  EXPECT_EQ(Bytes(out.begin(), out.end()), png);
}

TEST_F(TextExportOracle, FormOneCompiledByGccGivesTheSavedBytes) {
  io.SaveFileAsText(W("data.txt"), ioPNG, 1);
  ASSERT_FALSE(io.Aborting());
  const std::string text = Text(dir.File("data.txt"));
  EXPECT_EQ(text.rfind("// Size=" + std::to_string(png.size()) + "\n", 0), 0u);
  qvtest::WriteFileBytes(dir.File("main.c"), [] {
    const std::string c =
        "#include <stdio.h>\n"
        "static const unsigned char data[] = {\n"
        "#include \"data.txt\"\n"
        "};\n"
        "int main(void) { fwrite(data, 1, sizeof data, stdout); return 0; }\n";
    return Bytes(c.begin(), c.end());
  }());
  const std::string d = dir.Path().string();
  ASSERT_EQ(qvtest::RunCommand("gcc -Wall -Werror -o '" + d + "/dump' '" + d + "/main.c' 2>&1"), 0);
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("'" + d + "/dump'", &out), 0);
  EXPECT_EQ(Bytes(out.begin(), out.end()), png);
}

TEST_F(TextExportOracle, FormTwoIsBase64InLinesOf76) {
  io.SaveFileAsText(W("pic.b64"), ioPNG, 2);
  ASSERT_FALSE(io.Aborting());
  qvtest::WriteFileBytes(dir.File("pic.png"), png);
  std::string want;
  qvtest::RunCommand("base64 -w 76 '" + dir.File("pic.png") + "'", &want);
  EXPECT_EQ(Text(dir.File("pic.b64")), want);
}

TEST_F(TextExportOracle, FormThreeShadesPillowsDecodeByTheGreyFormula) {
  qvtest::WriteFileBytes(dir.File("pic.png"), png);
  std::string want;
  qvtest::RunCommand(std::string(kPython) + " -c '\n"
                         "import sys, math\n"
                         "from PIL import Image\n"
                         "im = Image.open(sys.argv[1]).convert(\"RGB\")\n"
                         "w, h = im.size\n"
                         "px = im.load()\n"
                         "out = \"\"\n"
                         "for y in range(h):\n"
                         "  for x in range(w):\n"
                         "    r, g, b = px[x, y]\n"
                         "    grey = (r * 21 + g * 71 + b * 8) // 100\n"
                         "    out += \"W@#*+:.,  \"[math.trunc(grey / 255 * 9)]\n"
                         "  out += \"\\n\"\n"
                         "sys.stdout.write(out)' '" + dir.File("pic.png") + "'",
                     &want);
  io.SaveFileAsText(W("pic.txt"), ioPNG, 3);
  ASSERT_FALSE(io.Aborting());
  EXPECT_EQ(Text(dir.File("pic.txt")), want);
  EXPECT_EQ(io.Params().FileName, W("pic.txt"));
}

TEST_F(TextExportOracle, FormThreeOfAGreyPictureConvertsACopy) {
  TIEBitmap& b = *io.IEBitmap();
  b.Allocate(3, 1, ie8g);
  b.ScanLine(0)[0] = 0;
  b.ScanLine(0)[1] = 128;
  b.ScanLine(0)[2] = 255;
  io.SaveFileAsText(W("grey.txt"), ioPNG, 3);
  EXPECT_FALSE(io.Aborting());
  // Black is W, grey 128 the fifth shade (+), white a space.
  EXPECT_EQ(Text(dir.File("grey.txt")), "W+ \n");
  EXPECT_EQ(b.PixelFormat(), ie8g);  // the caller's picture is left as it was
}

TEST_F(TextExportOracle, AFailedOrEmptySaveLeavesNoTextFile) {
  qvtest::WriteFileBytes(dir.File("keep.txt"), {'o', 'l', 'd'});
  for (int form : {0, 1, 2}) {
    io.SaveFileAsText(W("keep.txt"), ioCUR, form);  // no writer
    EXPECT_TRUE(io.Aborting()) << form;
    EXPECT_EQ(Text(dir.File("keep.txt")), "old") << form;
  }
  io.SaveFileAsText(W("none.txt"), ioCUR, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.txt")));
}

}  // namespace
