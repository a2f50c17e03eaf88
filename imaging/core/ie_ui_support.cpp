#include "imaging/core/ie_ui_support.h"

#include <algorithm>
#include <memory>

#include "imaging/core/ie_startup.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/forms.h"
#include "platform/ui/windows.h"
#include "platform/win/system_info.h"

bool IsPrimaryMouseButtonDown() {
  bool swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
  return (!swapped && GetAsyncKeyState(VK_LBUTTON) < 0) || (swapped && GetAsyncKeyState(VK_RBUTTON) < 0);
}

TFont* GetDefaultUIFont() {
  static std::unique_ptr<TFont> font;
  if (!font) {
    font = std::make_unique<TFont>();
    font->SetCharset(DEFAULT_CHARSET);
    font->SetColor(clWindowText);
    font->SetStyle({});
    InitializeUI();
    std::vector<std::string> fonts = Screen->Fonts();
    bool segoe = std::find(fonts.begin(), fonts.end(), "Segoe UI") != fonts.end();
    if (IsVistaOrLater() && segoe) {
      font->SetName("Segoe UI");
      font->SetHeight(-12);
    } else {
      font->SetName("Tahoma");
      font->SetHeight(-11);
    }
  }
  return font.get();
}

void DrawOutsideShade(TCanvas* canvas, const TRect& outer, const TRect& inner) {
  if (inner.right <= inner.left || inner.bottom <= inner.top) return;
  TBitmap black;
  black.SetPixelFormat(pf32bit);
  black.SetSize(1, 1);
  std::fill_n(static_cast<uint8_t*>(black.ScanLine(0)), 4, uint8_t{0});
  BLENDFUNCTION blend{};
  blend.BlendOp = AC_SRC_OVER;
  blend.SourceConstantAlpha = 150;
  blend.AlphaFormat = 0;
  HDC dc = canvas->Handle();
  HDC src = black.Canvas()->Handle();
  const TRect bands[4] = {
      Rect(outer.left, outer.top, outer.right, inner.top),
      Rect(outer.left, inner.bottom, outer.right, outer.bottom),
      Rect(outer.left, std::max(outer.top, inner.top), inner.left, std::min(outer.bottom, inner.bottom)),
      Rect(inner.right, std::max(outer.top, inner.top), outer.right, std::min(outer.bottom, inner.bottom)),
  };
  for (const TRect& b : bands) {
    if (b.right <= b.left || b.bottom <= b.top) continue;
    AlphaBlend(dc, b.left, b.top, b.right - b.left, b.bottom - b.top, src, 0, 0, 1, 1, blend);
  }
}
