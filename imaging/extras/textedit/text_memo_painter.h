#pragma once
// Drawing a memo's formatted text onto any canvas: what the vector view's memo
// painter and its in-place editor share. The look of a memo object (its
// default font, character background, alignment, box, border, margins, spacing
// and zoom) goes into TIEMemoLook; DrawMemoText lays the memo out with a
// temporary control that has no window, exactly as the editor shows it.
//
//   TIEMemoLook look;
//   look.FontName = "Arial"; look.FontHeight = -13; ...
//   DrawMemoText(&canvas, memo, look, x1, y1, width, height);
//
// The memo is lent for the drawing and comes back in place: its index and
// format lists are made when missing and its record counts recounted (the
// caller stores them as they come back).
#include <string>

#include "imaging/extras/textedit/text_control.h"

struct TIEMemoLook {
  // The default format (the only one in fixed-font mode).
  std::string FontName = "Arial";
  int FontHeight = -13;
  TFontStyles FontStyles;
  TColor FontColor = clBlack;
  // The default character background.
  TColor CharBackColor = clWhite;
  TBrushStyle CharBackStyle = bsClear;
  uint8_t Alignment = 0;  // 0 left, 1 right, 2 centre, 3 justified
  // The whole box and its outline.
  TColor BoxColor = clWhite;
  TBrushStyle BoxStyle = bsClear;
  TColor BorderColor = clBlack;
  TPenStyle BorderStyle = psClear;
  // Percent of the box: left, top, right, bottom.
  double Margins[4] = {0, 0, 0, 0};
  double Zoom = 1.0;
  bool DrawingAlpha = false;  // keep the canvas's colours (an alpha pass)
  bool FixedFont = false;
  bool AutoHeight = false;
  int LineSpacing = 0;
  int FixedLineHeight = 0;
};

// Gives a control the look (the in-place editor takes it this way too).
void ApplyMemoLook(TIETextControl& control, const TIEMemoLook& look);

// Lays the memo out into the box at (x, y), width x height unzoomed pixels,
// and draws it onto the canvas scaled by look.Zoom.
void DrawMemoText(TIECanvas* canvas, TIEMemoText& memo, const TIEMemoLook& look, int x, int y, int width, int height);
