#include "imaging/extras/textedit/text_memo_painter.h"

void ApplyMemoLook(TIETextControl& control, const TIEMemoLook& look) {
  TFont* font = control.Font();
  font->SetName(look.FontName);
  font->SetHeight(look.FontHeight);
  font->SetStyle(look.FontStyles);
  font->SetColor(look.FontColor);
  control.CharBackBrush()->SetColor(look.CharBackColor);
  control.CharBackBrush()->SetStyle(look.CharBackStyle);
  control.SetDefaultAlignment(look.Alignment);
  control.BoxBrush()->SetColor(look.BoxColor);
  control.BoxBrush()->SetStyle(look.BoxStyle);
  control.BorderPen()->SetColor(look.BorderColor);
  control.BorderPen()->SetStyle(look.BorderStyle);
  control.SetMargins(look.Margins[0], look.Margins[1], look.Margins[2], look.Margins[3]);
  control.SetZoom(look.Zoom);
  control.SetDrawingAlpha(look.DrawingAlpha);
  control.SetFixedFont(look.FixedFont);
  control.SetAutoHeight(look.AutoHeight);
  control.SetLineSpacing(look.LineSpacing);
  control.SetFixedLineHeight(look.FixedLineHeight);
}

void DrawMemoText(TIECanvas* canvas, TIEMemoText& memo, const TIEMemoLook& look, int x, int y, int width, int height) {
  TIETextControl control(nullptr);
  ApplyMemoLook(control, look);
  control.LendMemo(std::move(memo));
  control.LoadText();
  control.LayoutText(canvas, x, y, width, height);
  memo = control.TakeMemo();
}
