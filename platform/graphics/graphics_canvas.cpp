#include "platform/graphics/graphics_canvas.h"

#include <algorithm>
#include <cstring>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_graphic.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"

namespace {

COLORREF ColorRef(TColor color) { return static_cast<COLORREF>(ColorToRGB(color)) & 0x00FFFFFF; }

template <class H> void DeleteHandle(H& h) {
  if (h) DeleteObject(h);
  h = nullptr;
}

}  // namespace

void TGraphicsObject::Changed() {
  if (OnChange) OnChange(this);
}

// ---- TPen ----

TPen::~TPen() { DeleteHandle(FHandle); }

void TPen::Invalidate() {
  DeleteHandle(FHandle);
  Changed();
}

void TPen::Assign(TPersistent* source) {
  if (auto* p = dynamic_cast<TPen*>(source)) {
    FColor = p->FColor;
    FWidth = p->FWidth;
    FStyle = p->FStyle;
    FMode = p->FMode;
    Invalidate();
    return;
  }
  TGraphicsObject::Assign(source);
}

void TPen::SetColor(TColor value) {
  if (value == FColor) return;
  FColor = value;
  Invalidate();
}

void TPen::SetWidth(int value) {
  if (value < 0 || value == FWidth) return;
  FWidth = value;
  Invalidate();
}

void TPen::SetStyle(TPenStyle value) {
  if (value == FStyle) return;
  FStyle = value;
  Invalidate();
}

void TPen::SetHandle(HPEN pen) {
  LOGPEN lp;
  if (!pen || GetObject(pen, sizeof lp, &lp) == 0) return;
  static const TPenStyle styles[] = {psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame};
  const UINT kind = lp.lopnStyle & PS_STYLE_MASK;
  FColor = static_cast<TColor>(lp.lopnColor);
  FWidth = lp.lopnWidth.x;
  FStyle = kind < 7 ? styles[kind] : psSolid;
  Invalidate();
}

void TPen::SetMode(TPenMode value) {
  if (value == FMode) return;
  FMode = value;
  Changed();  // the mode is the DC's (SetROP2), the pen object stays
}

HPEN TPen::Handle() {
  if (!FHandle) {
    static const UINT styles[] = {PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME};
    FHandle = CreatePen(static_cast<int>(styles[FStyle]), FWidth, ColorRef(FColor));
  }
  return FHandle;
}

// ---- TBrush ----

TBrush::~TBrush() {
  DeleteHandle(FHandle);
}

void TBrush::Invalidate() {
  DeleteHandle(FHandle);
  Changed();
}

void TBrush::Assign(TPersistent* source) {
  if (auto* b = dynamic_cast<TBrush*>(source)) {
    FColor = b->FColor;
    FStyle = b->FStyle;
    FBitmap = b->FBitmap;
    Invalidate();
    return;
  }
  TGraphicsObject::Assign(source);
}

void TBrush::SetColor(TColor value) {
  if (value == FColor && FStyle != bsClear) return;
  FColor = value;
  if (FStyle == bsClear) FStyle = bsSolid;
  Invalidate();
}

void TBrush::SetStyle(TBrushStyle value) {
  if (value == FStyle) return;
  FStyle = value;
  Invalidate();
}

void TBrush::SetBitmap(TBitmap* value) {
  FBitmap = value;
  Invalidate();
}

HBRUSH TBrush::Handle() {
  if (FHandle) return FHandle;
  if (FBitmap && !FBitmap->Empty()) {
    FHandle = CreatePatternBrush(FBitmap->Handle());
  } else if (FStyle == bsClear) {
    LOGBRUSH lb;
    lb.lbStyle = BS_NULL;
    FHandle = CreateBrushIndirect(&lb);
  } else if (FStyle == bsSolid) {
    FHandle = CreateSolidBrush(ColorRef(FColor));
  } else {
    static const int hatches[] = {0, 0, HS_HORIZONTAL, HS_VERTICAL, HS_FDIAGONAL, HS_BDIAGONAL, HS_CROSS, HS_DIAGCROSS};
    FHandle = CreateHatchBrush(hatches[FStyle], ColorRef(FColor));
  }
  return FHandle;
}

// ---- TFont ----

TFont::TFont() = default;

TFont::~TFont() {
  DeleteHandle(FHandle);
}

void TFont::Invalidate() {
  DeleteHandle(FHandle);
  Changed();
}

void TFont::Assign(TPersistent* source) {
  if (auto* f = dynamic_cast<TFont*>(source)) {
    FName = f->FName;
    // Heights travel as point sizes when the two fonts differ in resolution.
    FHeight = f->FPixelsPerInch == FPixelsPerInch ? f->FHeight
                                                 : static_cast<int>(-Round(f->Size() * FPixelsPerInch / 72.0));
    FColor = f->FColor;
    FStyle = f->FStyle;
    FCharset = f->FCharset;
    FPitch = f->FPitch;
    FQuality = f->FQuality;
    FOrientation = f->FOrientation;
    Invalidate();
    return;
  }
  TGraphicsObject::Assign(source);
}

void TFont::SetName(const std::string& value) {
  if (value.empty() || value == FName) return;
  FName = value.substr(0, LF_FACESIZE - 1);
  Invalidate();
}

void TFont::SetHeight(int value) {
  if (value == FHeight) return;
  FHeight = value;
  Invalidate();
}

int TFont::Size() const { return static_cast<int>(-Round(static_cast<double>(FHeight) * 72 / FPixelsPerInch)); }

void TFont::SetSize(int points) { SetHeight(static_cast<int>(-Round(static_cast<double>(points) * FPixelsPerInch / 72))); }

void TFont::SetColor(TColor value) {
  if (value == FColor) return;
  FColor = value;
  Changed();  // the colour is the DC's text colour, the font object stays
}

void TFont::SetStyle(TFontStyles value) {
  if (value == FStyle) return;
  FStyle = value;
  Invalidate();
}

void TFont::SetCharset(TFontCharset value) {
  if (value == FCharset) return;
  FCharset = value;
  Invalidate();
}

void TFont::SetPitch(TFontPitch value) {
  if (value == FPitch) return;
  FPitch = value;
  Invalidate();
}

void TFont::SetQuality(TFontQuality value) {
  if (value == FQuality) return;
  FQuality = value;
  Invalidate();
}

void TFont::SetOrientation(int value) {
  if (value == FOrientation) return;
  FOrientation = value;
  Invalidate();
}

HFONT TFont::Handle() {
  if (FHandle) return FHandle;
  LOGFONTA lf;
  lf.lfHeight = FHeight;
  lf.lfEscapement = FOrientation;
  lf.lfOrientation = FOrientation;
  lf.lfWeight = FStyle.Contains(fsBold) ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = FStyle.Contains(fsItalic) ? 1 : 0;
  lf.lfUnderline = FStyle.Contains(fsUnderline) ? 1 : 0;
  lf.lfStrikeOut = FStyle.Contains(fsStrikeOut) ? 1 : 0;
  lf.lfCharSet = FCharset;
  lf.lfQuality = static_cast<BYTE>(FQuality);
  lf.lfPitchAndFamily = FPitch == fpFixed ? FIXED_PITCH : FPitch == fpVariable ? VARIABLE_PITCH : DEFAULT_PITCH;
  std::strncpy(lf.lfFaceName, FName.c_str(), LF_FACESIZE - 1);
  FHandle = CreateFontIndirect(&lf);
  return FHandle;
}

void TFont::SetHandle(HFONT font) {
  LOGFONTA lf;
  if (!font || GetObject(font, sizeof lf, &lf) == 0) return;
  FName = std::string(lf.lfFaceName, strnlen(lf.lfFaceName, LF_FACESIZE));
  FHeight = lf.lfHeight;
  TFontStyles style;
  if (lf.lfWeight >= FW_BOLD) style.Include(fsBold);
  if (lf.lfItalic) style.Include(fsItalic);
  if (lf.lfUnderline) style.Include(fsUnderline);
  if (lf.lfStrikeOut) style.Include(fsStrikeOut);
  FStyle = style;
  FCharset = lf.lfCharSet;
  FQuality = lf.lfQuality <= fqClearTypeNatural ? static_cast<TFontQuality>(lf.lfQuality) : fqDefault;
  FOrientation = lf.lfEscapement;
  Invalidate();
}

// ---- TCanvas ----

TCanvas::TCanvas() {
  FPen.OnChange = [this](TObject*) { PenChanged(); };
  FBrush.OnChange = [this](TObject*) { BrushChanged(); };
  FFont.OnChange = [this](TObject*) { FontChanged(); };
}

TCanvas::~TCanvas() { SetHandle(nullptr); }

void TCanvas::PenChanged() {
  if (FState.Contains(csPenValid)) {
    FState.Exclude(csPenValid);
    SelectObject(FHandle, GetStockObject(BLACK_PEN));
  }
}

void TCanvas::BrushChanged() {
  if (FState.Contains(csBrushValid)) {
    FState.Exclude(csBrushValid);
    SelectObject(FHandle, GetStockObject(HOLLOW_BRUSH));
  }
}

void TCanvas::FontChanged() {
  if (FState.Contains(csFontValid)) {
    FState.Exclude(csFontValid);
    SelectObject(FHandle, GetStockObject(SYSTEM_FONT));
  }
}

void TCanvas::DeselectHandles() {
  if (FHandle && (FState.Contains(csPenValid) || FState.Contains(csBrushValid) || FState.Contains(csFontValid))) {
    if (FState.Contains(csPenValid)) SelectObject(FHandle, FOldPen ? FOldPen : GetStockObject(BLACK_PEN));
    if (FState.Contains(csBrushValid)) SelectObject(FHandle, FOldBrush ? FOldBrush : GetStockObject(HOLLOW_BRUSH));
    if (FState.Contains(csFontValid)) SelectObject(FHandle, FOldFont ? FOldFont : GetStockObject(SYSTEM_FONT));
  }
  FState.Exclude(csPenValid).Exclude(csBrushValid).Exclude(csFontValid);
  FOldPen = FOldBrush = FOldFont = nullptr;
}

void TCanvas::SetHandle(HDC dc) {
  if (dc == FHandle) return;
  if (FHandle) DeselectHandles();
  FHandle = dc;
  if (dc) {
    FState.Include(csHandleValid);
  } else {
    FState.Exclude(csHandleValid);
  }
}

HDC TCanvas::Handle() {
  // Code that draws on the handle itself expects the canvas's pen, brush and font in it.
  RequiredState({csHandleValid, csFontValid, csPenValid, csBrushValid});
  return FHandle;
}

void TCanvas::Refresh() { DeselectHandles(); }

void TCanvas::RequiredState(TSet<State> states) {
  if (states.Contains(csHandleValid) || !FHandle) {
    if (!FHandle) CreateHandle();
    if (!FHandle) throw EInvalidOperation("Canvas does not allow drawing");
  }
  if (states.Contains(csPenValid) && !FState.Contains(csPenValid)) {
    HGDIOBJ old = SelectObject(FHandle, FPen.Handle());
    if (!FOldPen) FOldPen = old;
    static const int rop2[] = {R2_BLACK,       R2_WHITE,       R2_NOP,        R2_NOT,        R2_COPYPEN,    R2_NOTCOPYPEN,
                               R2_MERGEPENNOT, R2_MASKPENNOT,  R2_MERGENOTPEN, R2_MASKNOTPEN, R2_MERGEPEN,   R2_NOTMERGEPEN,
                               R2_MASKPEN,     R2_NOTMASKPEN,  R2_XORPEN,     R2_NOTXORPEN};
    SetROP2(FHandle, rop2[FPen.Mode()]);
    FState.Include(csPenValid);
  }
  if (states.Contains(csBrushValid) && !FState.Contains(csBrushValid)) {
    HGDIOBJ old = SelectObject(FHandle, FBrush.Handle());
    if (!FOldBrush) FOldBrush = old;
    // Hatches and clear brushes draw no background; the framework also sets the
    // inverse colour as background for them.
    if (FBrush.Style() == bsSolid) {
      SetBkColor(FHandle, ColorRef(FBrush.Color()));
      SetBkMode(FHandle, OPAQUE);
    } else {
      SetBkColor(FHandle, ~ColorRef(FBrush.Color()) & 0x00FFFFFF);
      SetBkMode(FHandle, TRANSPARENT);
    }
    FState.Include(csBrushValid);
  }
  if (states.Contains(csFontValid) && !FState.Contains(csFontValid)) {
    HGDIOBJ old = SelectObject(FHandle, FFont.Handle());
    if (!FOldFont) FOldFont = old;
    SetTextColor(FHandle, ColorRef(FFont.Color()));
    FState.Include(csFontValid);
  }
}

void TCanvas::Changing() {
  if (OnChanging) OnChanging(this);
}

void TCanvas::Changed() {
  if (OnChange) OnChange(this);
}

TPoint TCanvas::PenPos() {
  RequiredState({csHandleValid});
  POINT p;
  GetCurrentPositionEx(FHandle, &p);
  return p;
}

TColor TCanvas::Pixels(int x, int y) {
  RequiredState({csHandleValid});
  COLORREF c = GetPixel(FHandle, x, y);
  return c == CLR_INVALID ? TColor(-1) : static_cast<TColor>(c);
}

void TCanvas::SetPixels(int x, int y, TColor color) {
  Changing();
  RequiredState({csHandleValid, csPenValid});
  SetPixel(FHandle, x, y, ColorRef(color));
  Changed();
}

TRect TCanvas::ClipRect() {
  RequiredState({csHandleValid});
  RECT r;
  GetClipBox(FHandle, &r);
  return r;
}

void TCanvas::MoveTo(int x, int y) {
  RequiredState({csHandleValid});
  MoveToEx(FHandle, x, y, nullptr);
}

void TCanvas::LineTo(int x, int y) {
  Changing();
  RequiredState({csHandleValid, csPenValid, csBrushValid});
  ::LineTo(FHandle, x, y);
  Changed();
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  Changing();
  RequiredState({csHandleValid, csPenValid, csBrushValid});
  ::Rectangle(FHandle, x1, y1, x2, y2);
  Changed();
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  Changing();
  RequiredState({csHandleValid, csPenValid, csBrushValid});
  ::Ellipse(FHandle, x1, y1, x2, y2);
  Changed();
}

void TCanvas::RoundRect(int x1, int y1, int x2, int y2, int cornerWidth, int cornerHeight) {
  Changing();
  RequiredState({csHandleValid, csPenValid, csBrushValid});
  ::RoundRect(FHandle, x1, y1, x2, y2, cornerWidth, cornerHeight);
  Changed();
}

void TCanvas::Polygon(const std::vector<TPoint>& points) {
  if (points.empty()) return;
  Changing();
  RequiredState({csHandleValid, csPenValid, csBrushValid});
  ::Polygon(FHandle, points.data(), static_cast<int>(points.size()));
  Changed();
}

void TCanvas::Polyline(const std::vector<TPoint>& points) {
  if (points.empty()) return;
  Changing();
  RequiredState({csHandleValid, csPenValid, csBrushValid});
  ::Polyline(FHandle, points.data(), static_cast<int>(points.size()));
  Changed();
}

void TCanvas::Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  Changing();
  RequiredState({csHandleValid, csPenValid, csBrushValid});
  ::Arc(FHandle, x1, y1, x2, y2, x3, y3, x4, y4);
  Changed();
}

void TCanvas::Pie(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  Changing();
  RequiredState({csHandleValid, csPenValid, csBrushValid});
  ::Pie(FHandle, x1, y1, x2, y2, x3, y3, x4, y4);
  Changed();
}

void TCanvas::FillRect(const TRect& rect) {
  Changing();
  RequiredState({csHandleValid, csBrushValid});
  ::FillRect(FHandle, &rect, FBrush.Handle());
  Changed();
}

void TCanvas::FrameRect(const TRect& rect) {
  Changing();
  RequiredState({csHandleValid, csBrushValid});
  ::FrameRect(FHandle, &rect, FBrush.Handle());
  Changed();
}

void TCanvas::DrawFocusRect(const TRect& rect) {
  Changing();
  RequiredState({csHandleValid, csBrushValid});
  ::DrawFocusRect(FHandle, &rect);
  Changed();
}

void TCanvas::Draw(int x, int y, TGraphic* graphic) {
  if (!graphic || graphic->Empty()) return;
  Changing();
  RequiredState({csHandleValid});
  graphic->Draw(this, Rect(x, y, x + graphic->Width(), y + graphic->Height()));
  Changed();
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic* graphic) {
  if (!graphic) return;
  Changing();
  RequiredState({csHandleValid});
  graphic->Draw(this, rect);
  Changed();
}

void TCanvas::CopyRect(const TRect& dest, TCanvas* canvas, const TRect& source) {
  if (!canvas) return;
  Changing();
  RequiredState({csHandleValid, csFontValid, csBrushValid});
  HDC src = canvas->Handle();
  StretchBlt(FHandle, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, src, source.left,
             source.top, source.right - source.left, source.bottom - source.top, FCopyMode);
  Changed();
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  Changing();
  RequiredState({csHandleValid, csFontValid, csBrushValid});
  ExtTextOut(FHandle, x, y, static_cast<UINT>(FTextFlags), nullptr, text.data(), static_cast<UINT>(text.size()),
             nullptr);
  MoveTo(x + TextWidth(text), y);
  Changed();
}

void TCanvas::TextRect(const TRect& rect, int x, int y, const std::string& text) {
  Changing();
  RequiredState({csHandleValid, csFontValid, csBrushValid});
  UINT options = ETO_CLIPPED | static_cast<UINT>(FTextFlags);
  if (FBrush.Style() != bsClear) options |= ETO_OPAQUE;
  ExtTextOut(FHandle, x, y, options, &rect, text.data(), static_cast<UINT>(text.size()), nullptr);
  Changed();
}

TSize TCanvas::TextExtent(const std::string& text) {
  RequiredState({csHandleValid, csFontValid});
  SIZE size;
  GetTextExtentPoint32(FHandle, text.data(), static_cast<int>(text.size()), &size);
  return size;
}
