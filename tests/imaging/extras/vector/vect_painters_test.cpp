// The text and measure painters: positions from their formulas, ruler ticks
// thinned where they would crowd, curve texts that cannot divide by zero.
#include <cmath>

#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "vect_test_support.h"

namespace {


// Left, top, right, bottom (inclusive) of the pixels that are not white; right < left when none.
TRect Ink(TBitmap& b) {
  TRect r{b.GetWidth(), b.GetHeight(), -1, -1};
  for (int y = 0; y < b.GetHeight(); ++y) {
    const auto* row = static_cast<const uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < b.GetWidth(); ++x)
      if (row[3 * x] < 200 || row[3 * x + 1] < 200 || row[3 * x + 2] < 200) {
        r.left = std::min(r.left, x);
        r.top = std::min(r.top, y);
        r.right = std::max(r.right, x);
        r.bottom = std::max(r.bottom, y);
      }
  }
  return r;
}

int DarkPixels(TBitmap& b) {
  int n = 0;
  for (int y = 0; y < b.GetHeight(); ++y) {
    const auto* row = static_cast<const uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < b.GetWidth(); ++x) n += row[3 * x + 1] < 128;
  }
  return n;
}

TEST_F(VectTest, ACentredTextSitsInTheMiddleOfItsBox) {
  auto text = Obj(ievkText, 20, 10, 219, 69);
  text->Text = "Middle";
  text->Font = std::make_unique<LOGFONTA>(Font("Liberation Sans", -30));
  text->TextAlign = 2;
  text->PenStyle = psClear;
  const int id = Add(*text);
  auto b = WhiteDib(240, 80);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, false);
  const TRect ink = Ink(*b);
  ASSERT_GT(ink.right, ink.left);
  // Horizontally the ink is centred on the box within the glyphs' side bearings.
  EXPECT_NEAR((ink.left + ink.right) / 2.0, (20 + 219) / 2.0, 3);
  EXPECT_GT(ink.top, 10);
  EXPECT_LT(ink.bottom, 69);
}

TEST_F(VectTest, AnAutoSizedTurnedTextTakesTheTurnedExtent) {
  auto text = Obj(ievkText, 10, 10, 12, 12);
  text->Text = "Turned";
  text->Font = std::make_unique<LOGFONTA>(Font("Liberation Sans", -20, 900));
  text->TextAutoSize = true;
  text->PenStyle = psClear;
  const int id = Add(*text);
  auto b = WhiteDib(100, 150);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, false);
  const TRect& d = vect->GetObjectRec(id)->DrawnRect;
  // th wide and tw high
  EXPECT_LT(d.right - d.left, 30);
  EXPECT_GT(d.bottom - d.top, 50);
}

TEST_F(VectTest, RulerTicksThinWhereTheyWouldCrowd) {
  // A pixel ruler ticks every tenth of a pixel: thinned, it does not become a band.
  auto ruler = Obj(ievkRuler, 10, 40, 190, 40);
  ruler->RulerType = 0;
  ruler->RulerUnit = ieuPIXELS;
  ruler->Font = std::make_unique<LOGFONTA>(Font("Liberation Sans", 8));
  const int id = Add(*ruler);
  auto b = WhiteDib(200, 80);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, false);
  int ticksOnRow = 0;
  const auto* row = static_cast<const uint8_t*>(b->ScanLine(40 - 5));
  for (int x = 0; x < 200; ++x) ticksOnRow += row[3 * x + 1] < 128;
  EXPECT_GT(ticksOnRow, 5);
  EXPECT_LT(ticksOnRow, 60);
  // Nanometres at 300 dpi would be 10^9 ticks: the drawing ends, with some ticks.
  vect->GetObjectRec(id)->RulerUnit = ieuNANOMETERS;
  auto c = WhiteDib(200, 80);
  vect->DrawObjectsToBitmap(true, *c, nullptr, -1, id, false);
  EXPECT_GT(DarkPixels(*c), 180);
}

TEST_F(VectTest, ARulerShowsItsMeasureAndTheHandlerMayChangeIt) {
  auto ruler = Obj(ievkRuler, 10, 40, 190, 40);
  ruler->RulerType = 2;
  ruler->Font = std::make_unique<LOGFONTA>(Font("Liberation Sans", 10));
  const int id = Add(*ruler);
  std::string shown;
  double value = 0;
  vect->OnPresentMeasure = [&](TObject*, std::string& text, double v, int type) {
    EXPECT_EQ(type, 1);
    shown = text;
    value = v;
    text.clear();
  };
  auto b = WhiteDib(200, 80);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, false);
  EXPECT_EQ(shown, "180.00 pixels");
  EXPECT_DOUBLE_EQ(value, 180);
  // No text: only the line and its end bars.
  const TRect ink = Ink(*b);
  EXPECT_LE(ink.bottom, 40 + 9);
}

TEST_F(VectTest, ACurveTextShorterThanItsCharactersStillDraws) {
  auto text = Obj(ievkText, 10, 10, 11, 11);
  text->Text = "a long text on a tiny curve";
  text->Font = std::make_unique<LOGFONTA>(Font("Liberation Sans", -12));
  text->CurvePoints = {{0, 0}, {0, 0}, {1, 1}, {1, 1}};
  text->PenStyle = psClear;
  const int id = Add(*text);
  auto b = WhiteDib(60, 60);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, false);
  SUCCEED();
  // A curve along a line lays the characters out along it.
  vect->GetObjectRec(id)->X2 = 50;
  vect->GetObjectRec(id)->Y2 = 10;
  vect->GetObjectRec(id)->Text = "abc";
  vect->GetObjectRec(id)->CurvePoints = {{0, 0.5}, {1, 0.5}};
  auto c = WhiteDib(60, 60);
  vect->DrawObjectsToBitmap(true, *c, nullptr, -1, id, false);
  EXPECT_GT(Ink(*c).right - Ink(*c).left, 15);
}

TEST_F(VectTest, ALabelAtTheSecondPointHangsBeyondIt) {
  auto label = Obj(ievkLineLabel, 10, 10, 60, 40);
  label->Text = "L";
  label->Font = std::make_unique<LOGFONTA>(Font("Liberation Sans", -14));
  label->LabelPosition = 1;
  const int id = Add(*label);
  auto b = WhiteDib(120, 80);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, false);
  const TRect& r = vect->GetObjectRec(id)->LabelRect;
  EXPECT_EQ(r.left, 60);
  EXPECT_EQ(r.top, 40);
  vect->GetObjectRec(id)->LabelPosition = 0;
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, false);
  const TRect& s = vect->GetObjectRec(id)->LabelRect;
  EXPECT_EQ(s.right, 10);
  EXPECT_EQ(s.bottom, 10);
}

TEST_F(VectTest, AnAngleWithTwoPointsDrawsOneLine) {
  auto angle = Obj(ievkAngle, 0, 0, 0, 0);
  angle->AnglePoints[0] = TPoint{10, 50};
  angle->AnglePoints[1] = TPoint{50, 10};
  angle->AnglePoints[2] = TPoint{kIEVUnsetPoint, 0};
  const int id = Add(*angle);
  auto b = WhiteDib(80, 80);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, false);
  const TRect ink = Ink(*b);
  EXPECT_GE(ink.left, 9);
  EXPECT_LE(ink.right, 51);
  EXPECT_LE(ink.bottom, 51);
}

}  // namespace
