// Glyph metrics (GetGlyphOutline, GGO_METRICS) and text bytes of a font's
// character set: Greek and Russian single-byte text draws as its letters.
#include <gtest/gtest.h>

#include <cstring>

#include "gdi_test_helpers.h"
#include "platform/graphics/font_engine.h"
#include "platform/graphics/gdi_glyph.h"

using gditest::Dib;
using gditest::InkBox;

namespace {

HFONT MakeFont(const char* face, int height, BYTE charset = ANSI_CHARSET, BYTE quality = 0) {
  LOGFONTA lf;
  lf.lfHeight = height;
  lf.lfCharSet = charset;
  lf.lfQuality = quality;
  std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return CreateFontIndirect(&lf);
}

const MAT2 kIdentity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};

TEST(GdiGlyph, MetricsAreTheInkOfTheGlyph) {
  Dib d(100, 100, 32);
  HFONT font = MakeFont("Liberation Sans", -40);
  HGDIOBJ old = SelectObject(d.dc(), font);
  GLYPHMETRICS gm;
  ASSERT_NE(GetGlyphOutline(d.dc(), 'H', GGO_METRICS, &gm, 0, nullptr, &kIdentity), GDI_ERROR);
  // The glyph drawn alone inks a box of the black box's size.
  RECT all{0, 0, 100, 100};
  FillRect(d.dc(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetBkMode(d.dc(), TRANSPARENT);
  TextOut(d.dc(), 10, 10, "H", 1);
  const RECT ink = InkBox(d, 100, 100, d.Pixel32(99, 99));
  EXPECT_NEAR(int(gm.gmBlackBoxX), ink.right - ink.left + 1, 1);
  EXPECT_NEAR(int(gm.gmBlackBoxY), ink.bottom - ink.top + 1, 1);
  EXPECT_GT(gm.gmCellIncX, 0);
  // Other formats and transforms are not given.
  EXPECT_EQ(GetGlyphOutline(d.dc(), 'H', 1, &gm, 0, nullptr, &kIdentity), GDI_ERROR);
  const MAT2 doubled{{0, 2}, {0, 0}, {0, 0}, {0, 2}};
  EXPECT_EQ(GetGlyphOutline(d.dc(), 'H', GGO_METRICS, &gm, 0, nullptr, &doubled), GDI_ERROR);
  SelectObject(d.dc(), old);
  DeleteObject(font);
}

TEST(GdiGlyph, SingleByteTextDecodesInTheCodePageOfItsCharset) {
  struct Case {
    int charset;
    uint8_t byte;
    uint32_t letter;
  } cases[] = {{161, 0xE1, 0x03B1}, {204, 0xE0, 0x0430}, {0, 0xE9, 0x00E9}, {204, 0x80, 0x0402}, {0, 0x80, 0x20AC}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.charset);
    const int cp = fontengine::CodePageOfCharset(c.charset);
    EXPECT_EQ(fontengine::DecodeText(std::string(1, char(c.byte)), cp), std::vector<uint32_t>{c.letter});
  }
  // UTF-8 passes unchanged in every code page.
  EXPECT_EQ(fontengine::DecodeText("\xCE\xB1", 1251), std::vector<uint32_t>{0x03B1});
  // The same byte measures as the Greek letter in a Greek font, and not as in a Western one.
  Dib d(10, 10, 32);
  SIZE greek{}, western{}, alpha{};
  HFONT g = MakeFont("DejaVu Sans", -30, 161), w = MakeFont("DejaVu Sans", -30, 0);
  HGDIOBJ old = SelectObject(d.dc(), g);
  GetTextExtentPoint32(d.dc(), "\xE1", 1, &greek);
  GetTextExtentPoint32(d.dc(), "\xCE\xB1", 2, &alpha);
  SelectObject(d.dc(), w);
  GetTextExtentPoint32(d.dc(), "\xE1", 1, &western);
  SelectObject(d.dc(), old);
  DeleteObject(g);
  DeleteObject(w);
  EXPECT_EQ(greek.cx, alpha.cx);
  EXPECT_NE(greek.cx, western.cx);
}

TEST(GdiGlyph, NonAntialiasedQualityDrawsTwoLevels) {
  Dib d(80, 60, 32);
  HFONT font = MakeFont("Liberation Sans", -40, 0, NONANTIALIASED_QUALITY);
  HGDIOBJ old = SelectObject(d.dc(), font);
  RECT all{0, 0, 80, 60};
  FillRect(d.dc(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetBkMode(d.dc(), TRANSPARENT);
  TextOut(d.dc(), 5, 5, "O", 1);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) {
      const uint32_t p = d.Pixel32(x, y) & 0xFFFFFF;
      EXPECT_TRUE(p == 0xFFFFFF || p == 0) << x << "," << y;
    }
  SelectObject(d.dc(), old);
  DeleteObject(font);
}

}  // namespace
