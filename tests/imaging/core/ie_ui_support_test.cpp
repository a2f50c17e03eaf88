#include <gtest/gtest.h>

#include "imaging/core/ie_ui_support.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/forms.h"
#include "platform/ui/windows.h"
#include "platform/win/system_info.h"

namespace {

void Button(UINT msg, WPARAM keys) {
  MSG m;
  m.message = msg;
  m.wParam = keys;
  NoteInputMessage(m);
}

TEST(IeUiSupport, PrimaryButtonFollowsSwappedButtons) {
  Button(WM_LBUTTONDOWN, MK_LBUTTON);
  EXPECT_TRUE(IsPrimaryMouseButtonDown());
  SetSystemMetric(SM_SWAPBUTTON, 1);
  EXPECT_FALSE(IsPrimaryMouseButtonDown());
  Button(WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON);
  EXPECT_TRUE(IsPrimaryMouseButtonDown());
  ResetSystemMetrics();
  Button(WM_LBUTTONUP, 0);
  EXPECT_FALSE(IsPrimaryMouseButtonDown());
}

TEST(IeUiSupport, DefaultFontIsSharedAndNamedByTheSystem) {
  TFont* font = GetDefaultUIFont();
  EXPECT_EQ(font, GetDefaultUIFont());
  EXPECT_TRUE(font->Name() == "Segoe UI" || font->Name() == "Tahoma");
  EXPECT_EQ(font->Height(), font->Name() == "Segoe UI" ? -12 : -11);
  EXPECT_EQ(font->Color(), clWindowText);
}

TEST(IeUiSupport, OutsideShadeDarkensOnlyTheBandsAroundTheCrop) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(10, 10);
  b.Canvas()->Brush()->SetColor(clWhite);
  b.Canvas()->FillRect(Rect(0, 0, 10, 10));
  DrawOutsideShade(b.Canvas(), Rect(0, 0, 10, 10), Rect(3, 3, 7, 7));
  // 255 * (255 - 150) / 255 = 105, give or take the rounding of the blend.
  int shaded = GetRValue(static_cast<COLORREF>(b.Canvas()->Pixels(1, 1)));
  EXPECT_NEAR(shaded, 105, 1);
  EXPECT_NEAR(GetRValue(static_cast<COLORREF>(b.Canvas()->Pixels(1, 5))), 105, 1);
  EXPECT_EQ(b.Canvas()->Pixels(5, 5), clWhite);
  // Each band once: the corners are no darker than the sides.
  EXPECT_EQ(b.Canvas()->Pixels(0, 0), b.Canvas()->Pixels(5, 0));
  DrawOutsideShade(b.Canvas(), Rect(0, 0, 10, 10), Rect(4, 4, 4, 9));
  EXPECT_EQ(b.Canvas()->Pixels(5, 5), clWhite);
}

}  // namespace
