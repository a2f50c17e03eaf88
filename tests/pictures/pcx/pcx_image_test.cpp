#include <gtest/gtest.h>

#include "base/toolbox/bitmap_utils.h"
#include "exception_text.h"
#include "pictures/common/picture_pixels.h"
#include "pictures/pcx/pcx_image.h"
#include "pictures/pcx/pcx_test_util.h"
#include "platform/graphics/graphics_picture.h"

using namespace pcxtest;
using pictest::RgbaOf;

namespace {

std::vector<uint8_t> Pixel(TBitmap& b, int x, int y) { return pictest::PixelOf(b, x, y, 3); }

}  // namespace

TEST(PCXRLEDecoder, RunsAndLiteralsStopAtEitherEnd) {
  struct TCase {
    const char* name;
    Bytes packed;
    int64_t room;
    Bytes expected;
  } cases[] = {
      {"run", {0xC5, 0x07}, 8, {7, 7, 7, 7, 7, 0, 0, 0}},
      {"literal", {0x01, 0xBF}, 8, {1, 0xBF, 0, 0, 0, 0, 0, 0}},
      {"run cut at the end", {0xFF, 0x02}, 3, {2, 2, 2}},
      {"run without its value", {0x05, 0xC3}, 4, {5, 0, 0, 0}},
      {"zero-length run", {0xC0, 0x09, 0x04}, 2, {4, 0}},
  };
  for (const TCase& c : cases) {
    Bytes out(static_cast<size_t>(c.room), 0);
    TPCXRLEDecoder().Decode(c.packed.data(), out.data(), c.room, static_cast<int64_t>(c.packed.size()));
    EXPECT_EQ(out, c.expected) << c.name;
  }
}

TEST(PCXImage, PlaneLayoutsLoadToTheirFormats) {
  TPcxSpec four;  // 4 planes of 1 bit: pixel 0 index 9 (planes 0 and 3), pixel 1 index 6
  four.planes = 4, four.bits = 1, four.width = 2;
  four.rows = {{0x80, 0x40, 0x40, 0x80}};
  TPcxSpec two = four;  // 2 planes of 1 bit: pixel 0 index 1, pixel 1 index 2
  two.planes = 2;
  two.rows = {{0x80, 0x40}};
  TPcxSpec crumbs;  // one plane of 2 bits: 0, 1, 2, 3
  crumbs.bits = 2, crumbs.width = 4;
  crumbs.rows = {{0x1B}};
  TPcxSpec rgb;
  rgb.planes = 3, rgb.bits = 8, rgb.width = 2;
  rgb.rows = {{10, 11, 20, 21, 30, 31}};
  TPcxSpec rgba = rgb;
  rgba.planes = 4;
  rgba.rows = {{10, 11, 20, 21, 30, 31, 40, 41}};
  TPcxSpec indexed;
  indexed.bits = 8, indexed.width = 2, indexed.trailer = true;
  indexed.rows = {{3, 200}};
  TPcxSpec stored = indexed;
  stored.encoding = 0;
  TPcxSpec greyInfo = indexed;
  greyInfo.trailer = false, greyInfo.paletteInfo = 2;
  TPcxSpec version3 = four;
  version3.version = 3;
  const struct TCase {
    const char* name;
    TPcxSpec spec;
    TPixelFormat format;
    std::vector<uint8_t> first, second;
  } cases[] = {
      {"four bit planes", four, pf4bit, HeaderColour(9), HeaderColour(6)},
      {"two bit planes", two, pf4bit, HeaderColour(1), HeaderColour(2)},
      {"two bits spread to four", crumbs, pf4bit, HeaderColour(0), HeaderColour(1)},
      {"24 bits", rgb, pf24bit, {10, 20, 30}, {11, 21, 31}},
      {"trailer palette", indexed, pf8bit, TrailerColour(3), TrailerColour(200)},
      {"stored", stored, pf8bit, TrailerColour(3), TrailerColour(200)},
      {"grey levels without trailer", greyInfo, pf8bit, {3, 3, 3}, {200, 200, 200}},
      {"version 3 uses the system colours", version3, pf4bit, {255, 0, 0}, {0, 128, 128}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TPCXImage picture;
    pictest::LoadBytes(picture, MakePcx(c.spec));
    EXPECT_EQ(picture.PixelFormat(), c.format);
    EXPECT_EQ(Pixel(picture, 0, 0), c.first);
    EXPECT_EQ(Pixel(picture, 1, 0), c.second);
  }
  TPCXImage picture;
  pictest::LoadBytes(picture, MakePcx(rgba));
  EXPECT_EQ(picture.PixelFormat(), pf32bit);
  EXPECT_EQ(static_cast<uint32_t*>(picture.ScanLine(0))[1], 0x290B151Fu);  // alpha 41, red 11, green 21, blue 31
  TPCXImage spread;
  pictest::LoadBytes(spread, MakePcx(crumbs));
  EXPECT_EQ(static_cast<uint8_t*>(spread.ScanLine(0))[0], 0x05);
  EXPECT_EQ(static_cast<uint8_t*>(spread.ScanLine(0))[1], 0xAF);
}

TEST(PCXImage, ReportsProgressInTwoStages) {
  TPcxSpec s;
  s.bits = 8, s.width = 1;
  s.rows = {{1}, {2}, {3}, {4}};
  TPCXImage picture;
  std::vector<std::string> seen;
  picture.OnProgress = [&](TObject*, TProgressStage stage, uint8_t percent, bool, const TRect& rect, const std::string& msg) {
    seen.push_back(std::to_string(stage) + ":" + std::to_string(percent) + ":" + msg);
  };
  pictest::LoadBytes(picture, MakePcx(s));
  const std::vector<std::string> expected = {"0:0:Preparing...", "2:0:", "0:0:Transfering...", "1:0:", "1:25:", "1:50:",
                                             "1:75:", "2:100:"};
  EXPECT_EQ(seen, expected);
}

TEST(PCXImage, HostileFilesAreRefusedAndLeaveThePicture) {
  TPcxSpec good;
  good.bits = 8, good.width = 2;
  good.rows = {{1, 2}};
  auto with = [&](std::function<void(TPcxSpec&)> change) {
    TPcxSpec s = good;
    change(s);
    return MakePcx(s);
  };
  Bytes badMaker = MakePcx(good);
  badMaker[0] = 11;
  Bytes upsideDown = MakePcx(good);
  upsideDown[8] = 0, upsideDown[9] = 0, upsideDown[4] = 5;  // Xmax 0 below Xmin 5
  Bytes flat = MakePcx(good);
  flat[10] = 0xFF, flat[11] = 0xFF, flat[6] = 0, flat[7] = 0;  // 65536 rows from a few bytes
  Bytes narrow = MakePcx(good);
  narrow[66] = 1;  // one byte per line for two 8-bit pixels
  Bytes shortStored = with([](TPcxSpec& s) { s.encoding = 0; });
  shortStored.pop_back();
  // Run-length rows cut off at the end: the missing rows read as zeros before,
  // where the PCX filter and every other reader refuse.
  Bytes cutRuns = with([](TPcxSpec& s) { s.rows = {{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}, {11, 12}}; });
  cutRuns.resize(cutRuns.size() - 5);
  const char* layout = "a plane layout that is not read";
  const char* unfilled = "the data cannot fill the rows";
  const struct TCase {
    const char* name;
    Bytes file;
    const char* message;
    const char* reason;  // the rule that fired, as LastRefusal names it
  } cases[] = {
      {"manufacturer", badMaker, kPcxInvalidImage, "the manufacturer byte is not 10 or 205"},
      {"short header", Bytes(100, 10), "Stream read error", ""},
      {"upside-down window", upsideDown, kPcxInvalidImage, "the window is upside down"},
      {"rows the data cannot fill", flat, kPcxInvalidImage, unfilled},
      {"bytes per line below the row", narrow, kPcxInvalidImage, "rows wider than their bytes per line"},
      {"stored data short", shortStored, kPcxInvalidImage, unfilled},
      {"run-length rows cut short", cutRuns, kPcxInvalidImage, "the rows are cut short"},
      {"two planes of eight bits", with([](TPcxSpec& s) { s.planes = 2; s.rows = {{1, 2, 3, 4}}; }),
       kPcxInvalidColorFormat, layout},
      {"three planes of four bits", with([](TPcxSpec& s) { s.planes = 3; s.bits = 4; s.rows = {{1, 2, 3}}; }),
       kPcxInvalidColorFormat, layout},
      {"sixteen bits", with([](TPcxSpec& s) { s.bits = 16; s.rows = {{1, 2, 3, 4}}; }), kPcxInvalidColorFormat,
       layout},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TPCXImage picture;
    pictest::LoadBytes(picture, MakePcx(good));
    EXPECT_EQ(MessageOf([&] { pictest::LoadBytes(picture, c.file); }), c.message);
    EXPECT_EQ(picture.LastRefusal(), c.reason);
    EXPECT_EQ(picture.Width(), 2);
    EXPECT_EQ(picture.PixelFormat(), pf8bit);
  }
}

TEST(PCXImage, SavingIsRefusedAndRegisteredForPcx) {
  TPCXImage picture;
  TMemoryStream out;
  EXPECT_EQ(MessageOf([&] { picture.SaveToStream(out); }), kPcxCannotSave);
  EXPECT_EQ(out.Size(), 0);
  EXPECT_TRUE(FileFormatClass("pcx") == TGraphicClass::Of<TPCXImage>());
}
