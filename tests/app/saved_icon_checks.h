#pragma once
// What every icon the main road saves must be: six images (48, 32, 16 at 8 bits,
// then at 32 bits) with the first at offset 102, palettes beginning with black
// and white, 32-bit AND masks exactly alpha below 80, the picture in the
// expected rows; and icotool and Pillow must read it alike.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

struct SavedIconExpectation {
  const char* name;
  bool background;  // merged onto white: everything opaque
  int style;        // item of the style list: 0 none, k the library's icon k - 1
  // Rows of the centre column that hold the picture in the 48, 32 and 16 images;
  // first < 0: not checked.
  int rows[3][2];
};

inline uint16_t SavedU16(const std::vector<uint8_t>& v, size_t at) { return uint16_t(v[at] | v[at + 1] << 8); }
inline uint32_t SavedU32(const std::vector<uint8_t>& v, size_t at) {
  return uint32_t(v[at]) | uint32_t(v[at + 1]) << 8 | uint32_t(v[at + 2]) << 16 | uint32_t(v[at + 3]) << 24;
}

inline void ExpectSavedIcon(const std::string& file, const SavedIconExpectation& c) {
  const std::vector<uint8_t> ico = qvtest::ReadFileBytes(file);
  qvtest::TempDir dir;
  ASSERT_GE(ico.size(), 102u);
  EXPECT_EQ(SavedU16(ico, 0), 0);
  EXPECT_EQ(SavedU16(ico, 2), 1);
  ASSERT_EQ(SavedU16(ico, 4), 6);
  const int sizes[6] = {48, 32, 16, 48, 32, 16}, depths[6] = {8, 8, 8, 32, 32, 32};
  for (int i = 0; i < 6; ++i) {
    const size_t e = 6 + 16 * size_t(i);
    const int s = sizes[i];
    EXPECT_EQ(ico[e], s) << i;
    EXPECT_EQ(ico[e + 1], s) << i;
    const uint32_t bytes = SavedU32(ico, e + 8), offset = SavedU32(ico, e + 12);
    if (i == 0) {
      EXPECT_EQ(offset, 102u);
    }
    ASSERT_LE(size_t(offset) + bytes, ico.size());
    EXPECT_EQ(SavedU32(ico, offset), 40u);
    EXPECT_EQ(int32_t(SavedU32(ico, offset + 4)), s);
    EXPECT_EQ(int32_t(SavedU32(ico, offset + 8)), 2 * s);
    ASSERT_EQ(SavedU16(ico, offset + 14), depths[i]) << "image " << i;
    const size_t maskRow = size_t((s + 31) / 32) * 4;
    if (depths[i] == 8) {
      // Palettes begin with black and white.
      EXPECT_EQ(SavedU32(ico, offset + 40) & 0xFFFFFF, 0x000000u) << i;
      EXPECT_EQ(SavedU32(ico, offset + 44) & 0xFFFFFF, 0xFFFFFFu) << i;
      if (c.background) {
        const size_t colours = SavedU32(ico, offset + 32) ? SavedU32(ico, offset + 32) : 256;
        const size_t maskAt = offset + 40 + colours * 4 + size_t((s + 3) / 4 * 4) * size_t(s);
        for (size_t k = 0; k < maskRow * size_t(s); ++k) ASSERT_EQ(ico[maskAt + k] & 0xFF, 0) << "opaque on white";
      }
      continue;
    }
    // 32-bit: the AND mask is exactly alpha below 80.
    const size_t pixels = offset + 40, maskAt = pixels + size_t(s) * size_t(s) * 4;
    int rowTop = -1, rowBottom = -1;
    for (int y = 0; y < s; ++y)  // bottom-up rows
      for (int x = 0; x < s; ++x) {
        const uint8_t a = ico[pixels + (size_t(y) * size_t(s) + size_t(x)) * 4 + 3];
        const bool bit = (ico[maskAt + size_t(y) * maskRow + size_t(x / 8)] >> (7 - x % 8)) & 1;
        ASSERT_EQ(bit, a < 80) << c.name << " " << s << " at " << x << "," << (s - 1 - y) << " alpha " << int(a);
        if (c.background) {
          ASSERT_EQ(a, 255);
        }
        if (x == s / 2 && a >= 80) {
          const int top = s - 1 - y;
          if (rowBottom < 0) rowBottom = top;
          rowTop = top;
        }
      }
    const int k = i - 3;
    if (c.style > 0) {
      // The style's rounded corner cuts the opaque picture's top-left pixel.
      EXPECT_TRUE((ico[maskAt + size_t(s - 1) * maskRow] >> 7) & 1) << "style corner " << s;
    }
    if (c.rows[k][0] >= 0) {
      EXPECT_EQ(rowTop, c.rows[k][0]) << c.name << " size " << s;
      EXPECT_EQ(rowBottom, c.rows[k][1]) << c.name << " size " << s;
    }
  }

  if (qvtest::HaveProgram("icotool")) {
    std::string out;
    ASSERT_EQ(qvtest::RunCommand("icotool -l '" + file + "'", &out), 0);
    // Palette sizes are icotool's count of used entries; the rest is the directory.
    std::vector<std::string> lines;
    for (size_t at = 0; at < out.size();) {
      const size_t end = out.find('\n', at);
      lines.push_back(out.substr(at, end - at));
      at = end == std::string::npos ? out.size() : end + 1;
    }
    ASSERT_EQ(lines.size(), 6u) << out;
    for (int i = 0; i < 6; ++i) {
      const std::string want = "--icon --index=" + std::to_string(i + 1) + " --width=" + std::to_string(sizes[i]) +
                               " --height=" + std::to_string(sizes[i]) + " --bit-depth=" + std::to_string(depths[i]);
      EXPECT_EQ(lines[size_t(i)].substr(0, want.size()), want);
    }
  }
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0) {
    // Pillow's 48 x 48 picture has the alpha we wrote into the 32-bit image.
    const std::string script =
        "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
        "print(sorted(im.info['sizes']))\nim.size = (48, 48)\nim = im.convert('RGBA')\n"
        "print(sum(1 for p in im.getdata() if p[3] >= 80))\n";
    qvtest::WriteFileBytes(dir.File("check.py"), std::vector<uint8_t>(script.begin(), script.end()));
    std::string out;
    ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 '" + dir.File("check.py") + "' '" + file + "'", &out), 0) << out;
    const size_t off = SavedU32(ico, 6 + 16 * 3 + 12);
    int opaque = 0;
    for (int p = 0; p < 48 * 48; ++p) opaque += ico[off + 40 + size_t(p) * 4 + 3] >= 80;
    EXPECT_EQ(out, "[(16, 16), (32, 32), (48, 48)]\n" + std::to_string(opaque) + "\n");
  }
}
