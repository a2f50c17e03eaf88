// Text through the font engine: extents, metrics, alignment, DrawText formats.
#include <gtest/gtest.h>

#include <cstring>

#include "gdi_test_helpers.h"

using gditest::Argb;
using gditest::Dib;
using gditest::InkBox;

namespace {

HFONT MakeFont(const char* face, int height) {
  LOGFONTA lf;
  lf.lfHeight = height;
  std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return CreateFontIndirect(&lf);
}

class GdiText : public ::testing::Test {
protected:
  void SetUp() override {
    font = MakeFont("MS Sans Serif", -13);
    old = SelectObject(d.dc(), font);
  }
  void TearDown() override {
    SelectObject(d.dc(), old);
    DeleteObject(font);
  }
  static constexpr int W = 200, H = 60;
  Dib d{W, H, 32};
  HFONT font = nullptr;
  HGDIOBJ old = nullptr;
};

TEST_F(GdiText, OpaqueTextFillsExactlyTheReportedExtent) {
  const char* text = "Hello, World";
  SIZE size;
  ASSERT_TRUE(GetTextExtentPoint32(d.dc(), text, static_cast<int>(std::strlen(text)), &size));
  EXPECT_GT(size.cx, 40);
  TEXTMETRICA tm;
  ASSERT_TRUE(GetTextMetrics(d.dc(), &tm));
  EXPECT_EQ(size.cy, tm.tmHeight);
  EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
  d.Fill32(0xFF00FF00);
  SetBkMode(d.dc(), OPAQUE);
  SetBkColor(d.dc(), RGB(255, 255, 255));
  SetTextColor(d.dc(), RGB(0, 0, 0));
  ASSERT_TRUE(TextOut(d.dc(), 10, 5, text, static_cast<int>(std::strlen(text))));
  RECT box = InkBox(d, W, H, 0xFF00FF00);
  EXPECT_EQ(box.left, 10);
  EXPECT_EQ(box.top, 5);
  EXPECT_EQ(box.right, 10 + size.cx);
  EXPECT_EQ(box.bottom, 5 + size.cy);
  // Drawing leaves the alpha byte at 0; some pixels are dark ink.
  int dark = 0;
  for (int y = box.top; y < box.bottom; ++y)
    for (int x = box.left; x < box.right; ++x) {
      EXPECT_EQ(d.Pixel32(x, y) >> 24, 0u);
      dark += (d.Pixel32(x, y) & 0xFF) < 0x80;
    }
  EXPECT_GT(dark, 20);
}

TEST_F(GdiText, TransparentInkStaysInsideTheExtent) {
  const char* text = "Quorvane";
  SIZE size;
  ASSERT_TRUE(GetTextExtentPoint32(d.dc(), text, 8, &size));
  d.Fill32(0x00FFFFFF);
  SetBkMode(d.dc(), TRANSPARENT);
  SetTextColor(d.dc(), RGB(200, 0, 0));
  ASSERT_TRUE(TextOut(d.dc(), 20, 10, text, 8));
  RECT ink = InkBox(d, W, H, 0x00FFFFFF);
  EXPECT_GE(ink.left, 20);
  EXPECT_LE(ink.left, 22);
  EXPECT_GE(ink.top, 10);
  EXPECT_LE(ink.right, 20 + size.cx + 1);
  EXPECT_GE(ink.right, 20 + size.cx - 3);
  EXPECT_LE(ink.bottom, 10 + size.cy);
  // Right alignment puts the same ink to the left of the reference point.
  d.Fill32(0x00FFFFFF);
  SetTextAlign(d.dc(), TA_RIGHT | TA_TOP);
  ASSERT_TRUE(TextOut(d.dc(), 20 + size.cx, 10, text, 8));
  RECT right = InkBox(d, W, H, 0x00FFFFFF);
  EXPECT_EQ(right.left, ink.left);
  EXPECT_EQ(right.right, ink.right);
}

TEST_F(GdiText, DrawTextFormats) {
  const char* text = "Centre";
  SIZE size;
  ASSERT_TRUE(GetTextExtentPoint32(d.dc(), text, 6, &size));
  RECT calc{0, 0, 0, 0};
  EXPECT_EQ(DrawText(d.dc(), text, -1, &calc, DT_CALCRECT | DT_SINGLELINE), size.cy);
  EXPECT_EQ(calc.right, size.cx);
  EXPECT_EQ(calc.bottom, size.cy);
  d.Fill32(0x00FFFFFF);
  SetBkMode(d.dc(), OPAQUE);
  SetBkColor(d.dc(), RGB(0, 0, 255));
  RECT r{0, 0, W, H};
  DrawText(d.dc(), text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  RECT box = InkBox(d, W, H, 0x00FFFFFF);
  EXPECT_EQ(box.left, (W - size.cx) / 2);
  EXPECT_EQ(box.top, (H - size.cy) / 2);
  EXPECT_EQ(box.right - box.left, size.cx);
  // Word breaks make lines that fit the width, one text height each.
  RECT narrow{0, 0, size.cx + 4, 0};
  int h = DrawText(d.dc(), "Centre Centre Centre", -1, &narrow, DT_CALCRECT | DT_WORDBREAK);
  EXPECT_EQ(h, 3 * size.cy);
  // An ellipsis keeps a long line inside the rectangle.
  d.Fill32(0x00FFFFFF);
  RECT small{0, 0, 30, 20};
  DrawText(d.dc(), "A rather long caption", -1, &small, DT_SINGLELINE | DT_END_ELLIPSIS);
  EXPECT_LE(InkBox(d, W, H, 0x00FFFFFF).right, 30);
  // Prefix characters are hidden unless DT_NOPREFIX.
  RECT a{0, 0, 0, 0}, b{0, 0, 0, 0};
  DrawText(d.dc(), "&File", -1, &a, DT_CALCRECT | DT_SINGLELINE);
  DrawText(d.dc(), "File", -1, &b, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(a.right, b.right);
  DrawText(d.dc(), "&File", -1, &a, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  EXPECT_GT(a.right, b.right);
}

TEST(GdiTextDefault, DefaultFaceTextHasItsExtent) {
  // The DC's own font, no font selected.
  Dib d(120, 40, 32);
  d.Fill32(0x00FFFFFF);
  SIZE size;
  ASSERT_TRUE(GetTextExtentPoint32(d.dc(), "Abc", 3, &size));
  SetBkColor(d.dc(), RGB(0, 255, 0));
  ASSERT_TRUE(TextOut(d.dc(), 0, 0, "Abc", 3));
  RECT box = InkBox(d, 120, 40, 0x00FFFFFF);
  EXPECT_EQ(box.right, size.cx);
  EXPECT_EQ(box.bottom, size.cy);
  LOGFONTA lf;
  ASSERT_EQ(GetObject(GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf), static_cast<int>(sizeof(lf)));
  HFONT copy = CreateFontIndirect(&lf);
  EXPECT_NE(copy, nullptr);
  DeleteObject(copy);
}

}  // namespace
