// ICO and CUR files checked against icotool (icoutils) and Pillow.
#include <png.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "icon_test_util.h"
#include "icons/advanced_icon.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/graphics_bitmap.h"
#include "test_support.h"

using namespace icontest;

namespace {

struct Rgba {
  int w = 0, h = 0;
  std::vector<uint8_t> px;  // r, g, b, a; rows top-down
  uint8_t* at(int x, int y) { return px.data() + (size_t(y) * size_t(w) + size_t(x)) * 4; }
};

void WritePng(const std::string& path, const Rgba& img) {
  png_image p{};
  p.version = PNG_IMAGE_VERSION;
  p.width = uint32_t(img.w);
  p.height = uint32_t(img.h);
  p.format = PNG_FORMAT_RGBA;
  ASSERT_TRUE(png_image_write_to_file(&p, path.c_str(), 0, img.px.data(), 0, nullptr)) << path;
}

Rgba ReadPng(const std::string& path) {
  png_image p{};
  p.version = PNG_IMAGE_VERSION;
  Rgba img;
  if (!png_image_begin_read_from_file(&p, path.c_str())) return img;
  p.format = PNG_FORMAT_RGBA;
  img.w = int(p.width);
  img.h = int(p.height);
  img.px.resize(PNG_IMAGE_SIZE(p));
  if (!png_image_finish_read(&p, nullptr, img.px.data(), 0, nullptr)) img.w = img.h = 0;
  return img;
}

// Pictures with few colours where the depth asks for it, and alpha that is
// either 0 or 255 except in the 32-bit ones.
Rgba Picture(int size, int colours, bool softAlpha) {
  Rgba img;
  img.w = img.h = size;
  img.px.resize(size_t(size) * size_t(size) * 4);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      uint8_t* p = img.at(x, y);
      const int k = (x / 2 + y) % colours;
      p[0] = uint8_t(k * 255 / (colours > 1 ? colours - 1 : 1));
      p[1] = uint8_t(colours == 2 ? p[0] : (k * 37) & 0xFF);
      p[2] = uint8_t(colours == 2 ? p[0] : 255 - p[0]);
      p[3] = softAlpha ? uint8_t((x * 255) / (size - 1)) : (x < size / 4 ? 0 : 255);
    }
  return img;
}

// The pixels of a DIB image as we hold them: colour rows and alpha (from the
// alpha byte of 32-bit images, else from the AND mask).
Rgba PixelsWeHold(TSubIcon& im) {
  TBitmap raw, mask;
  ExtractBitmaps(im, nullptr, &raw, kNoBackground, &mask);
  raw.SetPixelFormat(pf32bit == raw.PixelFormat() ? pf32bit : pf24bit);
  Rgba out;
  out.w = raw.GetWidth();
  out.h = raw.GetHeight();
  out.px.resize(size_t(out.w) * size_t(out.h) * 4);
  const bool alpha = raw.PixelFormat() == pf32bit;
  for (int y = 0; y < out.h; ++y) {
    const auto* row = static_cast<const uint8_t*>(raw.ScanLine(y));
    for (int x = 0; x < out.w; ++x) {
      uint8_t* p = out.at(x, y);
      const uint8_t* s = row + x * (alpha ? 4 : 3);
      p[0] = s[2];
      p[1] = s[1];
      p[2] = s[0];
      p[3] = alpha ? s[3] : (mask.Canvas()->Pixels(x, y) == clWhite ? 0 : 255);
    }
  }
  return out;
}

// Compares colour where both are visible and visibility everywhere.
void ExpectSamePixels(Rgba& want, Rgba& got, bool exactAlpha, const std::string& what) {
  ASSERT_EQ(got.w, want.w) << what;
  ASSERT_EQ(got.h, want.h) << what;
  int bad = 0;
  for (int y = 0; y < want.h && bad < 5; ++y)
    for (int x = 0; x < want.w && bad < 5; ++x) {
      const uint8_t* a = want.at(x, y);
      const uint8_t* b = got.at(x, y);
      const bool visibleA = a[3] != 0, visibleB = b[3] != 0;
      bool same = exactAlpha ? a[3] == b[3] : visibleA == visibleB;
      if (visibleA && visibleB) same = same && a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
      if (!same) {
        ++bad;
        ADD_FAILURE() << what << " pixel " << x << "," << y << " want " << int(a[0]) << "," << int(a[1]) << ","
                      << int(a[2]) << "," << int(a[3]) << " got " << int(b[0]) << "," << int(b[1]) << ","
                      << int(b[2]) << "," << int(b[3]);
      }
    }
}

struct Made {
  std::string file;
  int size, depth;
  int colours;
  bool softAlpha;
};

TEST(IcoOracle, FilesWrittenByIcotoolReadIntoTheirImages) {
  if (!qvtest::HaveProgram("icotool")) GTEST_SKIP() << "icotool is not installed";
  qvtest::TempDir dir;
  const Made made[] = {{"p1.png", 16, 1, 2, false},   {"p4.png", 16, 4, 15, false}, {"p8.png", 32, 8, 200, false},
                       {"p24.png", 32, 24, 250, false}, {"p32.png", 48, 32, 250, true}};
  std::map<std::string, Rgba> pictures;
  std::string cmd = "icotool -c -o " + dir.File("t.ico");
  for (const auto& m : made) {
    pictures[m.file] = Picture(m.size, m.colours, m.softAlpha);
    WritePng(dir.File(m.file), pictures[m.file]);
    cmd += " -b " + std::to_string(m.depth) + " " + dir.File(m.file);
  }
  Rgba big = Picture(256, 250, true);
  WritePng(dir.File("p256.png"), big);
  cmd += " -r " + dir.File("p256.png");
  cmd += " && icotool -c --cursor -X 5 -Y 7 -o " + dir.File("t.cur") + " " + dir.File("p32.png");
  ASSERT_EQ(qvtest::RunCommand(cmd + " 2>&1"), 0) << cmd;

  TAdvancedIcon icon;
  ASSERT_TRUE(icon.LoadFromFile(dir.File("t.ico")));
  ASSERT_EQ(icon.Count(), 6);
  for (int i = 0; i < 5; ++i) {
    TSubIcon* im = icon.Images()[i];
    const Made& m = made[i];
    EXPECT_EQ(im->GetWidth(), m.size) << m.file;
    EXPECT_EQ(im->GetHeight(), m.size) << m.file;
    EXPECT_EQ(im->GetBitsPerPixel(), m.depth) << m.file;
    Rgba got = PixelsWeHold(*im);
    ExpectSamePixels(pictures[m.file], got, m.depth == 32, m.file);
  }
  TSubIcon* png = icon.Images()[5];
  EXPECT_TRUE(png->HasPNGBits());
  EXPECT_EQ(png->GetWidth(), 256);
  EXPECT_EQ(png->Bits(), qvtest::ReadFileBytes(dir.File("p256.png")));

  TAdvancedCursor cursor;
  const auto cur = qvtest::ReadFileBytes(dir.File("t.cur"));
  TCustomMemoryStream s(cur.data(), int64_t(cur.size()));
  ASSERT_TRUE(cursor.LoadCursorFromStream(s));
  ASSERT_EQ(cursor.Count(), 1);
  EXPECT_EQ(cursor.Images()[0]->HotspotX(), 5);
  EXPECT_EQ(cursor.Images()[0]->HotspotY(), 7);
  EXPECT_EQ(cursor.Images()[0]->GetWidth(), 48);
}

// An icon as the icon maker saves it, plus a 256-pixel PNG entry, listed and
// extracted by icotool and opened by Pillow.
TEST(IcoOracle, WhatWeWriteListsAndExtractsToOurPixels) {
  if (!qvtest::HaveProgram("icotool")) GTEST_SKIP() << "icotool is not installed";
  qvtest::TempDir dir;
  TAdvancedIcon icon;
  for (int bpp : {8, 32})
    for (int size : {48, 32, 16}) {
      Rgba pic = Picture(size, bpp == 8 ? 200 : 250, bpp == 32);
      TBitmap b;
      b.SetPixelFormat(pf32bit);
      b.SetSize(size, size);
      for (int y = 0; y < size; ++y) {
        auto* row = static_cast<uint8_t*>(b.ScanLine(y));
        for (int x = 0; x < size; ++x) {
          const uint8_t* p = pic.at(x, y);
          row[x * 4] = p[2];
          row[x * 4 + 1] = p[1];
          row[x * 4 + 2] = p[0];
          row[x * 4 + 3] = p[3];
        }
      }
      if (bpp == 8) {
        TBitmap mask;
        mask.SetPixelFormat(pf1bit);
        mask.SetSize(size, size);
        mask.Canvas()->Brush()->SetColor(clBlack);
        mask.Canvas()->FillRect(Rect(0, 0, size, size));
        for (int y = 0; y < size; ++y)
          for (int x = 0; x < size; ++x)
            if (pic.at(x, y)[3] < 80) mask.Canvas()->SetPixels(x, y, clWhite);
        b.SetPixelFormat(pf8bit);
        icon.Images().AddBitmap(&b, &mask, 0);
      } else {
        icon.Images().AddBitmap(&b, nullptr, 80);
      }
    }
  WritePng(dir.File("big.png"), Picture(256, 250, true));
  const auto pngBytes = qvtest::ReadFileBytes(dir.File("big.png"));
  TCustomMemoryStream ps(pngBytes.data(), int64_t(pngBytes.size()));
  icon.Images().Add(TSubIcon::CreateFromBitsStream<TFileIconImage>(ps));
  icon.SaveToFile(dir.File("ours.ico"));

  std::string listing;
  ASSERT_EQ(qvtest::RunCommand("icotool -l " + dir.File("ours.ico") + " && mkdir " + dir.File("x") +
                                   " && icotool -x -o " + dir.File("x") + " " + dir.File("ours.ico") + " 2>&1",
                               &listing),
            0)
      << listing;
  std::istringstream lines(listing);
  std::string line;
  int index = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("--icon", 0) != 0) continue;
    ASSERT_LT(index, icon.Count());
    TSubIcon* im = icon.Images()[index];
    ++index;
    EXPECT_NE(line.find("--index=" + std::to_string(index) + " "), std::string::npos) << line;
    EXPECT_NE(line.find("--width=" + std::to_string(im->GetWidth()) + " "), std::string::npos) << line;
    EXPECT_NE(line.find("--height=" + std::to_string(im->GetHeight()) + " "), std::string::npos) << line;
    EXPECT_NE(line.find("--bit-depth=" + std::to_string(im->GetBitsPerPixel()) + " "), std::string::npos)
        << line;
  }
  EXPECT_EQ(index, 7);
  for (int i = 0; i < 6; ++i) {
    TSubIcon* im = icon.Images()[i];
    const std::string name = dir.File("x/ours_" + std::to_string(i + 1) + "_" + std::to_string(im->GetWidth()) +
                                      "x" + std::to_string(im->GetHeight()) + "x" +
                                      std::to_string(im->GetBitsPerPixel()) + ".png");
    Rgba extracted = ReadPng(name);
    Rgba ours = PixelsWeHold(*im);
    ExpectSamePixels(ours, extracted, true, name);
  }
  EXPECT_EQ(qvtest::ReadFileBytes(dir.File("x/ours_7_256x256x32.png")), pngBytes);

  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) {
    GTEST_SKIP() << "Pillow is not installed";
  }
  std::string sizes;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" +
                                   dir.File("ours.ico") + "'); print(sorted(im.info['sizes']))\"",
                               &sizes),
            0);
  EXPECT_EQ(sizes, "[(16, 16), (32, 32), (48, 48), (256, 256)]\n");
}

}  // namespace
