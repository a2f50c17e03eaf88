#pragma once
// The framework's drawing surface: TCanvas over a device context, with its pen,
// brush and font, whose GDI objects are made when a drawing call first needs them.
#include <string>
#include <vector>

#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_types.h"
#include "platform/rtl/object.h"
#include "platform/rtl/tset.h"

class TBitmap;
class TGraphic;

enum TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TPenMode : uint8_t {
  pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
  pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};
enum TBrushStyle : uint8_t { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };
enum TFontStyle : uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;
enum TFontPitch : uint8_t { fpDefault, fpVariable, fpFixed };
enum TFontQuality : uint8_t {
  fqDefault, fqDraft, fqProof, fqNonAntialiased, fqAntialiased, fqClearType, fqClearTypeNatural
};
using TFontCharset = uint8_t;
using TCopyMode = DWORD;

// Pens, brushes and fonts tell their owner when they change.
class TGraphicsObject : public TPersistent {
public:
  TNotifyEvent OnChange;

protected:
  virtual void Changed();
};

class TPen : public TGraphicsObject {
public:
  TPen() = default;
  ~TPen() override;
  void Assign(TPersistent* source) override;

  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  int Width() const { return FWidth; }
  void SetWidth(int value);
  TPenStyle Style() const { return FStyle; }
  void SetStyle(TPenStyle value);
  TPenMode Mode() const { return FMode; }
  void SetMode(TPenMode value);
  // The GDI pen, made on first use; the pen keeps it until a property changes.
  HPEN Handle();
  // Takes the colour, width and style of an existing pen handle (the handle stays the caller's).
  void SetHandle(HPEN pen);

private:
  void Invalidate();
  TColor FColor = clBlack;
  int FWidth = 1;
  TPenStyle FStyle = psSolid;
  TPenMode FMode = pmCopy;
  HPEN FHandle = nullptr;
};

class TBrush : public TGraphicsObject {
public:
  TBrush() = default;
  ~TBrush() override;
  void Assign(TPersistent* source) override;

  TColor Color() const { return FColor; }
  void SetColor(TColor value);  // a solid colour also makes the style bsSolid from bsClear
  TBrushStyle Style() const { return FStyle; }
  void SetStyle(TBrushStyle value);
  // A pattern bitmap (not owned; the caller keeps it alive while the brush uses it).
  TBitmap* Bitmap() const { return FBitmap; }
  void SetBitmap(TBitmap* value);
  HBRUSH Handle();

private:
  void Invalidate();
  TColor FColor = clWhite;
  TBrushStyle FStyle = bsSolid;
  TBitmap* FBitmap = nullptr;
  HBRUSH FHandle = nullptr;
};

class TFont : public TGraphicsObject {
public:
  TFont();
  ~TFont() override;
  void Assign(TPersistent* source) override;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& value);
  // Height in pixels as lfHeight (negative: character height); Size in points at PixelsPerInch.
  int Height() const { return FHeight; }
  void SetHeight(int value);
  int Size() const;
  void SetSize(int points);
  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles value);
  TFontCharset Charset() const { return FCharset; }
  void SetCharset(TFontCharset value);
  TFontPitch Pitch() const { return FPitch; }
  void SetPitch(TFontPitch value);
  TFontQuality Quality() const { return FQuality; }
  void SetQuality(TFontQuality value);
  int Orientation() const { return FOrientation; }  // tenths of a degree
  void SetOrientation(int value);
  int PixelsPerInch() const { return FPixelsPerInch; }
  void SetPixelsPerInch(int value) { FPixelsPerInch = value > 0 ? value : 96; }
  HFONT Handle();
  // Takes the properties of an existing font handle (the handle stays the caller's).
  void SetHandle(HFONT font);

private:
  void Invalidate();
  std::string FName = "MS Sans Serif";
  int FHeight = -11;
  TColor FColor = clWindowText;
  TFontStyles FStyle;
  TFontCharset FCharset = DEFAULT_CHARSET;
  TFontPitch FPitch = fpDefault;
  TFontQuality FQuality = fqDefault;
  int FOrientation = 0;
  int FPixelsPerInch = 96;
  HFONT FHandle = nullptr;
};

class TCanvas : public TPersistent {
public:
  TCanvas();
  ~TCanvas() override;

  // The device context with the canvas's pen, brush and font selected; a canvas
  // that makes its own (a bitmap's) makes it here. Raises EInvalidOperation "Canvas does not allow drawing" when there is none.
  HDC Handle();
  // Draws on a foreign DC, which stays the caller's.
  void SetHandle(HDC dc);
  bool HandleAllocated() const { return FHandle != nullptr; }

  TPen* Pen() { return &FPen; }
  TBrush* Brush() { return &FBrush; }
  TFont* Font() { return &FFont; }
  void SetPen(TPen* value) { FPen.Assign(value); }
  void SetBrush(TBrush* value) { FBrush.Assign(value); }
  void SetFont(TFont* value) { FFont.Assign(value); }
  TCopyMode CopyMode() const { return FCopyMode; }
  void SetCopyMode(TCopyMode value) { FCopyMode = value; }
  TPoint PenPos();
  void SetPenPos(TPoint value) { MoveTo(value.x, value.y); }
  // ExtTextOut options used by TextOut and TextRect (ETO_...).
  int TextFlags() const { return FTextFlags; }
  void SetTextFlags(int value) { FTextFlags = value; }

  TColor Pixels(int x, int y);
  void SetPixels(int x, int y, TColor color);
  TRect ClipRect();

  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect& r) { Rectangle(r.left, r.top, r.right, r.bottom); }
  void Ellipse(int x1, int y1, int x2, int y2);
  void Ellipse(const TRect& r) { Ellipse(r.left, r.top, r.right, r.bottom); }
  void RoundRect(int x1, int y1, int x2, int y2, int cornerWidth, int cornerHeight);
  void Polygon(const std::vector<TPoint>& points);
  void Polyline(const std::vector<TPoint>& points);
  void Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  void Pie(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  void FillRect(const TRect& rect);
  void FrameRect(const TRect& rect);
  void DrawFocusRect(const TRect& rect);

  // A picture at its own size with its top-left corner at (x, y); nothing for none or an empty one.
  void Draw(int x, int y, TGraphic* graphic);
  void StretchDraw(const TRect& rect, TGraphic* graphic);
  // Copies a rectangle of another canvas, stretched to dest, through CopyMode.
  void CopyRect(const TRect& dest, TCanvas* canvas, const TRect& source);

  void TextOut(int x, int y, const std::string& text);
  void TextRect(const TRect& rect, int x, int y, const std::string& text);
  TSize TextExtent(const std::string& text);
  int TextWidth(const std::string& text) { return TextExtent(text).cx; }
  int TextHeight(const std::string& text) { return TextExtent(text).cy; }

  // Selects the stock objects back and forgets the DC's own selections.
  void Refresh();

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

protected:
  // A canvas that owns its DC makes it here (and calls SetHandle); the base has none.
  virtual void CreateHandle() {}
  // Lets go of the DC: stock objects are selected back first.
  void DeselectHandles();
  virtual void Changing();
  virtual void Changed();

private:
  enum State : uint8_t { csHandleValid, csFontValid, csPenValid, csBrushValid };
  void RequiredState(TSet<State> states);
  void PenChanged();
  void BrushChanged();
  void FontChanged();

  HDC FHandle = nullptr;
  TSet<State> FState;
  TPen FPen;
  TBrush FBrush;
  TFont FFont;
  TCopyMode FCopyMode = SRCCOPY;
  int FTextFlags = 0;
  HGDIOBJ FOldPen = nullptr;
  HGDIOBJ FOldBrush = nullptr;
  HGDIOBJ FOldFont = nullptr;
};
