// The picture registry, colours and font sizes: the parts of the graphics
// classes that stand without a drawing surface.
#include <gtest/gtest.h>

#include "platform/graphics/graphics.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

namespace {

class TTestPicture : public TBitmap {};
class TOtherPicture : public TIcon {};

// Restores the start-up registrations whatever a test changed.
class PictureRegistry : public ::testing::Test {
protected:
  void TearDown() override {
    TPicture::UnregisterGraphicClass(TGraphicClass::Of<TTestPicture>());
    TPicture::UnregisterGraphicClass(TGraphicClass::Of<TOtherPicture>());
    if (!FileFormatClass("ico")) TPicture::RegisterFileFormat("ico", "Icons", TGraphicClass::Of<TIcon>());
  }
};

}  // namespace

TEST_F(PictureRegistry, StartsWithBitmapAndIcon) {
  EXPECT_TRUE(FileFormatClass("bmp") == TGraphicClass::Of<TBitmap>());
  EXPECT_TRUE(FileFormatClass(".BMP") == TGraphicClass::Of<TBitmap>());
  EXPECT_TRUE(FileFormatClass("ico") == TGraphicClass::Of<TIcon>());
  EXPECT_FALSE(FileFormatClass("png"));
  EXPECT_TRUE(TPicture::SupportsClipboardFormat(2));  // CF_BITMAP
  EXPECT_FALSE(TPicture::SupportsClipboardFormat(8));
  EXPECT_EQ(GraphicExtension(TGraphicClass::Of<TBitmap>()), "bmp");
}

TEST_F(PictureRegistry, LatestRegistrationWinsAndUnregisterRemovesDescendants) {
  TPicture::RegisterFileFormat("BMP", "Test bitmaps", TGraphicClass::Of<TTestPicture>());
  EXPECT_TRUE(FileFormatClass("bmp") == TGraphicClass::Of<TTestPicture>());
  auto made = FileFormatClass("bmp").Create();
  EXPECT_NE(dynamic_cast<TTestPicture*>(made.get()), nullptr);

  // The icon side takes "ico" over: the framework's icon class goes, its own comes.
  TPicture::RegisterFileFormat("ico", "Other icons", TGraphicClass::Of<TOtherPicture>());
  TPicture::UnregisterGraphicClass(TGraphicClass::Of<TIcon>());
  EXPECT_FALSE(FileFormatClass("ico"));  // TOtherPicture derives from TIcon, so it went too
  TPicture::RegisterFileFormat("ico", "Other icons", TGraphicClass::Of<TOtherPicture>());
  EXPECT_TRUE(FileFormatClass("ico") == TGraphicClass::Of<TOtherPicture>());

  TPicture::UnregisterGraphicClass(TGraphicClass::Of<TTestPicture>());
  EXPECT_TRUE(FileFormatClass("bmp") == TGraphicClass::Of<TBitmap>());
}

TEST_F(PictureRegistry, FilterListsTheClassAndItsDescendants) {
  TPicture::RegisterFileFormat("tbm", "Test bitmaps", TGraphicClass::Of<TTestPicture>());
  EXPECT_EQ(GraphicFileMask(TGraphicClass::Of<TBitmap>()), "*.tbm;*.bmp");
  EXPECT_EQ(GraphicFilter(TGraphicClass::Of<TBitmap>()),
            "All (*.tbm;*.bmp)|*.tbm;*.bmp|Test bitmaps (*.tbm)|*.tbm|Bitmaps (*.bmp)|*.bmp");
  EXPECT_EQ(GraphicFileMask(TGraphicClass::Of<TIcon>()), "*.ico");
}

TEST_F(PictureRegistry, UnknownExtensionAndBadFilesRaiseInvalidGraphic) {
  qvtest::TempDir dir;
  TPicture picture;
  const std::string unknown = dir.File("x.xyz");
  qvtest::WriteFileBytes(unknown, {1, 2, 3});
  try {
    picture.LoadFromFile(unknown);
    FAIL() << "no exception";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Unknown picture file extension (.xyz)");
  }
  const std::string badBmp = dir.File("bad.BMP");
  qvtest::WriteFileBytes(badBmp, {'B', 'M', 0, 0});
  EXPECT_THROW(picture.LoadFromFile(badBmp), EInvalidGraphic);
  const std::string badIco = dir.File("bad.ico");
  qvtest::WriteFileBytes(badIco, {0, 0, 1, 0, 1, 0, 32, 32, 0, 0, 1, 0, 32, 0, 0xFF, 0xFF, 0, 0, 22, 0, 0, 0});
  EXPECT_THROW(picture.LoadFromFile(badIco), EInvalidGraphic);
  EXPECT_EQ(picture.Graphic(), nullptr);  // a failed load leaves the picture as it was
  EXPECT_THROW(picture.LoadFromClipboardFormat(0x7777, nullptr, nullptr), EInvalidGraphic);
}

TEST(Colors, SystemColoursResolveThroughGetSysColor) {
  EXPECT_EQ(ColorToRGB(clBtnFace), static_cast<TColor>(GetSysColor(COLOR_BTNFACE)));
  EXPECT_EQ(ColorToRGB(clWindow), clWhite);
  EXPECT_EQ(ColorToRGB(clWindowText), clBlack);
  EXPECT_EQ(ColorToRGB(clRed), 0x0000FF);
  EXPECT_EQ(ColorToRGB(clNone), clNone);  // special values pass unchanged
  EXPECT_EQ(ColorToRGB(clDefault), clDefault);
  EXPECT_LT(clBtnFace, 0);
  EXPECT_EQ(static_cast<uint32_t>(clBtnFace), 0x8000000Fu);
  EXPECT_EQ(GetSysColor(99), 0u);
}

TEST(Font, SizeAndHeightConvertAtTheScreenResolution) {
  TFont f;
  EXPECT_EQ(f.Height(), -11);
  EXPECT_EQ(f.Size(), 8);
  f.SetSize(10);
  EXPECT_EQ(f.Height(), -13);
  f.SetSize(12);
  EXPECT_EQ(f.Height(), -16);
  int changes = 0;
  f.OnChange = [&](TObject*) { ++changes; };
  f.SetStyle({fsBold, fsItalic});
  f.SetStyle({fsBold, fsItalic});
  EXPECT_EQ(changes, 1);
  TFont g;
  g.Assign(&f);
  EXPECT_EQ(g.Height(), -16);
  EXPECT_TRUE(g.Style().Contains(fsItalic));
}

TEST(Brush, SettingAColourEndsAClearStyle) {
  TBrush b;
  b.SetStyle(bsClear);
  b.SetColor(clRed);
  EXPECT_EQ(b.Style(), bsSolid);
}

TEST(BitmapState, NewBitmapIsEmptyDeviceFormatAndKeepsAFormatSetWhileEmpty) {
  TBitmap b;
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
  EXPECT_EQ(b.PixelFormat(), pfDevice);
  EXPECT_EQ(b.HandleType(), bmDDB);
  EXPECT_EQ(b.Handle(), nullptr);
  b.SetPixelFormat(pf8bit);
  EXPECT_EQ(b.PixelFormat(), pf8bit);
  EXPECT_EQ(b.HandleType(), bmDIB);
  EXPECT_FALSE(b.Monochrome());
  b.SetMonochrome(true);
  EXPECT_EQ(b.PixelFormat(), pf1bit);
  EXPECT_THROW(b.SetPixelFormat(pfCustom), EInvalidGraphic);
  EXPECT_THROW(b.ScanLine(0), EInvalidGraphicOperation);
  // Width and height set one after the other, as forms do.
  TBitmap c;
  c.SetWidth(5);
  EXPECT_EQ(c.Width(), 5);
  EXPECT_TRUE(c.Empty());
  c.SetHeight(0);
  EXPECT_EQ(c.Width(), 5);
  TMemoryStream out;
  b.SaveToStream(out);
  EXPECT_EQ(out.Size(), 0);  // nothing to write for an empty bitmap
  TMemoryStream empty;
  EXPECT_NO_THROW(b.LoadFromStream(empty));
  EXPECT_TRUE(b.Empty());
}

TEST(BitmapState, BadStreamsRaiseTheFrameworkText) {
  TBitmap b;
  const std::vector<uint8_t> bad = {'B', 'M', 1, 2, 3};
  TCustomMemoryStream s(bad.data(), static_cast<int64_t>(bad.size()));
  try {
    b.LoadFromStream(s);
    FAIL() << "no exception";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Bitmap image is not valid");
  }
}
