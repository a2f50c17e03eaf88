#include <gtest/gtest.h>

#include "base/toolbox/bitmap_utils.h"
#include "exception_text.h"
#include "pictures/common/picture_pixels.h"
#include "pictures/wbmp/wbmp_image.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/win/clipboard.h"
#include "test_support.h"

using pictest::Bytes;

namespace {

// A black-and-white pattern of the size as WBMP rows (bit 1 white).
Bytes Rows(int width, int height) {
  Bytes rows;
  const int rowBytes = (width + 7) / 8;
  for (int y = 0; y < height; ++y)
    for (int i = 0; i < rowBytes; ++i) {
      uint8_t b = static_cast<uint8_t>((y * 131 + i * 29) ^ (y >> 1));
      if (i == rowBytes - 1 && width % 8) b &= static_cast<uint8_t>(0xFF << (8 - width % 8));
      rows.push_back(b);
    }
  return rows;
}

Bytes Integer(uint32_t v) {
  TMemoryStream s;
  WriteWbmpInteger(s, v);
  return Bytes(s.Memory(), s.Memory() + s.Size());
}

Bytes File(int width, int height) {
  Bytes b = {0, 0};
  for (int v : {width, height}) {
    const Bytes n = Integer(static_cast<uint32_t>(v));
    b.insert(b.end(), n.begin(), n.end());
  }
  const Bytes rows = Rows(width, height);
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

// Pixels of a PBM the size of the rows (bit 1 black, the other way round).
Bytes Pbm(int width, int height) {
  const std::string head = "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
  Bytes b(head.begin(), head.end());
  for (uint8_t r : Rows(width, height)) b.push_back(static_cast<uint8_t>(~r));
  return b;
}

}  // namespace

TEST(WapBitmap, SizesAreMultiByteIntegers) {
  struct TCase {
    uint32_t value;
    Bytes bytes;
  } cases[] = {{0, {0x00}},          {127, {0x7F}},          {128, {0x81, 0x00}}, {200, {0x81, 0x48}},
               {255, {0x81, 0x7F}}, {256, {0x82, 0x00}},    {1000, {0x87, 0x68}}, {65535, {0x83, 0xFF, 0x7F}}};
  for (const TCase& c : cases) {
    EXPECT_EQ(Integer(c.value), c.bytes) << c.value;
    TCustomMemoryStream s(c.bytes.data(), static_cast<int64_t>(c.bytes.size()));
    uint32_t v = 0;
    EXPECT_TRUE(ReadWbmpInteger(s, v));
    EXPECT_EQ(v, c.value);
  }
  // The older two-byte form 0x80 n is the same number.
  const Bytes older = {0x80, 0x05};
  TCustomMemoryStream s(older.data(), 2);
  uint32_t v = 0;
  EXPECT_TRUE(ReadWbmpInteger(s, v));
  EXPECT_EQ(v, 5u);
}

TEST(WapBitmap, LoadsAndSavesTheSameBytes) {
  for (int side : {1, 9, 200, 300}) {
    SCOPED_TRACE(side);
    TWapBitmap picture;
    const Bytes file = File(side, side / 2 + 1);
    pictest::LoadBytes(picture, file);
    EXPECT_EQ(picture.Width(), side);
    EXPECT_EQ(picture.Bitmap()->PixelFormat(), pf1bit);
    EXPECT_EQ(pictest::SaveBytes(picture), file);
  }
}

TEST(WapBitmap, BadFilesAreRefusedAndLeaveThePicture) {
  Bytes truncated = File(16, 4);
  truncated.pop_back();
  const struct TCase {
    const char* name;
    Bytes file;
    const char* message;
    const char* reason;  // the rule that fired, as LastRefusal names it
  } cases[] = {
      {"type 1", {1, 0, 1, 1, 0}, kWbmpInvalidHeader, "a type other than 0"},
      {"extension header", {0, 0x80, 1, 1, 0}, kWbmpInvalidHeader, "extension headers, which are not read"},
      {"empty", {}, "Stream read error", "the header is cut short"},
      {"size without its end", {0, 0, 0x81}, kWbmpInvalidHeader, "a size cut short or longer than four bytes"},
      {"five-byte size", {0, 0, 0x81, 0x80, 0x80, 0x80, 0x01, 1}, kWbmpInvalidHeader,
       "a size cut short or longer than four bytes"},
      {"huge size", {0, 0, 0x8F, 0xFF, 0xFF, 0x7F, 0x8F, 0xFF, 0xFF, 0x7F}, kWbmpInvalidHeader, "a side above the limit"},
      {"largest sides without rows", {0, 0, 0x83, 0xFF, 0x7F, 0x83, 0xFF, 0x7F}, "Stream read error",
       "the data cannot fill the rows"},
      {"one row byte short", truncated, "Stream read error", "the data cannot fill the rows"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TWapBitmap picture;
    pictest::LoadBytes(picture, File(3, 2));
    EXPECT_EQ(MessageOf([&] { pictest::LoadBytes(picture, c.file); }), c.message);
    EXPECT_EQ(picture.LastRefusal(), c.reason);
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(picture.Height(), 2);
  }
}

TEST(WapBitmap, AssignTakesOnlyOneBitPictures) {
  TBitmap colour;
  colour.SetPixelFormat(pf24bit);
  colour.SetSize(4, 4);
  TWapBitmap picture;
  EXPECT_NE(MessageOf([&] { picture.Assign(&colour); }), kNothingRaised);
  std::unique_ptr<TBitmap> mono = NewBitmap(pf1bit, 5, 3, clWhite);
  picture.Assign(mono.get());
  EXPECT_EQ(picture.Width(), 5);
  TBitmap out;
  out.Assign(&picture);
  EXPECT_EQ(out.Width(), 5);
  EXPECT_EQ(out.PixelFormat(), pf1bit);
  TWapBitmap copy;
  copy.Assign(&picture);
  EXPECT_EQ(copy.Height(), 3);
}

TEST(WapBitmap, ColourFromTheClipboardIsSavedBlackAndWhite) {
  TBitmap colour;
  colour.SetPixelFormat(pf24bit);
  colour.SetSize(10, 1);
  colour.Canvas()->Brush()->SetColor(clWhite);
  colour.Canvas()->FillRect(TRect{0, 0, 10, 1});
  colour.Canvas()->Brush()->SetColor(clNavy);
  colour.Canvas()->FillRect(TRect{0, 0, 5, 1});
  TWapBitmap picture;
  picture.LoadFromClipboardFormat(CF_BITMAP, colour.Handle(), nullptr);
  const Bytes file = pictest::SaveBytes(picture);
  EXPECT_EQ(file, (Bytes{0, 0, 10, 1, 0x07, 0xC0}));
  EXPECT_EQ(picture.Bitmap()->PixelFormat(), pf1bit);
}

TEST(WapBitmap, RegisteredForWbmp) { EXPECT_TRUE(FileFormatClass("wbmp") == TGraphicClass::Of<TWapBitmap>()); }

TEST(WapBitmapOracle, AgreesBothWaysWithNetpbmAndImageMagick) {
  if (!qvtest::HaveProgram("pbmtowbmp") || !qvtest::HaveProgram("convert")) GTEST_SKIP() << "netpbm missing";
  for (int side : {1, 127, 128, 200, 255, 256, 1000}) {
    SCOPED_TRACE(side);
    const int height = side == 1000 ? 3 : side;  // keep the big one small in bytes
    qvtest::TempDir dir;
    qvtest::WriteFileBytes(dir.File("in.pbm"), Pbm(side, height));
    const Bytes theirs = pictest::CommandBytes("pbmtowbmp " + dir.File("in.pbm"));
    const Bytes ours = File(side, height);
    EXPECT_EQ(theirs, ours);

    TWapBitmap picture;
    pictest::LoadBytes(picture, theirs);
    qvtest::WriteFileBytes(dir.File("ours.wbmp"), pictest::SaveBytes(picture));
    const pictest::TRgba expected = pictest::ReadPnm(Pbm(side, height));
    pictest::ExpectSameRgba(pictest::RgbaOf(*picture.Bitmap()), expected);
    pictest::ExpectSameRgba(pictest::ReadPnm(pictest::CommandBytes("wbmptopbm " + dir.File("ours.wbmp"))), expected);
    pictest::ExpectSameRgba(pictest::MagickRgba(dir.File("ours.wbmp")), expected);

    ASSERT_EQ(qvtest::RunCommand("convert " + dir.File("in.pbm") + " " + dir.File("magick.wbmp")), 0);
    TWapBitmap fromMagick;
    pictest::LoadBytes(fromMagick, qvtest::ReadFileBytes(dir.File("magick.wbmp")));
    pictest::ExpectSameRgba(pictest::RgbaOf(*fromMagick.Bitmap()), expected);
  }
}
