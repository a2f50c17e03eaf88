// The layout and painting of TIETextControl: lines with word wrap at spaces,
// margins, paragraph alignment (justified lines stretched), line spacing, a
// fixed line height, selection, caret, growth to fit, and drawing at a zoom.
#include <algorithm>
#include <cmath>

#include "imaging/extras/textedit/text_control.h"
#include "platform/graphics/font_engine.h"
#include "platform/graphics/gdi.h"
#include "platform/rtl/rounding.h"
#include "platform/ui/caret.h"

namespace {

constexpr uint8_t kLF = 10;

int TruncD(double v) { return static_cast<int>(std::trunc(v)); }
TColor Inverted(TColor c) { return static_cast<TColor>((static_cast<uint32_t>(ColorToRGB(c)) ^ 0xFFFFFF) & 0xFFFFFF); }
TBrushStyle SafeBrushStyle(uint8_t s) { return s <= bsDiagCross ? static_cast<TBrushStyle>(s) : bsClear; }

// One glyph kept for the zoomed drawing: where the unzoomed layout put it.
struct TPlacedGlyph {
  int x;
  int y;
  int index;
};

}  // namespace

void TIETextControl::ApplyCharFormat(int index, TIECanvas* canvas) {
  TCanvas* c = canvas->Canvas();
  TFont* font = c->Font();
  TBrush* brush = c->Brush();
  std::string name;
  int height;
  TFontStyles styles;
  TColor color, back;
  TBrushStyle backStyle;
  if (FFixedFont || FMemo.CharFormats.empty()) {
    name = Font()->Name();
    height = std::clamp(Font()->Height(), -kMaxTextFontHeight, kMaxTextFontHeight);
    styles = Font()->Style();
    color = Font()->Color();
    back = FCharBackBrush.Color();
    backStyle = FCharBackBrush.Style();
  } else {
    const TIETextFormat& f = *GetCharFormat(index);
    name = f.Name();
    height = f.SafeFontHeight();
    styles = f.Styles();
    color = f.FontColor;
    back = f.BackColor;
    backStyle = SafeBrushStyle(f.BackStyle);
  }
  if (font->Name() != name) font->SetName(name);
  if (font->Height() != height) font->SetHeight(height);
  if (!(font->Style() == styles)) font->SetStyle(styles);
  if (!FDrawingAlpha) {
    if (font->Color() != color) font->SetColor(color);
    if (brush->Color() != back) brush->SetColor(back);
  }
  if (brush->Style() != backStyle) brush->SetStyle(backStyle);
}

void TIETextControl::MeasureChar(int index, TIECanvas* canvas) {
  const auto i = static_cast<size_t>(index);
  if (FCharHeight[i] != 0) return;
  ApplyCharFormat(index, canvas);
  auto ch = static_cast<uint8_t>(FMemo.Text[i]);
  if (ch < 31 || ch == 127) ch = ' ';
  FCharWidth[i] = canvas->Canvas()->TextWidth(std::string(1, static_cast<char>(ch)));
  if (FFixedLineHeight != 0) {
    FCharHeight[i] = FFixedLineHeight;
    FCharLeading[i] = FCharDescent[i] = 0;
  } else {
    // Characters of one format share their font's metrics: ask once a run.
    const int32_t format = FFixedFont || FMemo.CharFormats.empty() ? -1 : FMemo.CharFormatIndex[i];
    if (format != FMetricsFormat) {
      TEXTMETRICA tm{};
      GetTextMetrics(canvas->Canvas()->Handle(), &tm);
      FMetrics[0] = std::max(1, static_cast<int>(tm.tmHeight));
      FMetrics[1] = std::abs(static_cast<int>(tm.tmInternalLeading));
      FMetrics[2] = std::abs(static_cast<int>(tm.tmDescent));
      FMetricsFormat = format;
    }
    FCharHeight[i] = FMetrics[0];
    FCharLeading[i] = FMetrics[1];
    FCharDescent[i] = FMetrics[2];
  }
}

void TIETextControl::LayoutText(TIECanvas* canvas, int x, int y, int width, int height) {
  if (width <= 1 || height <= 1) return;
  FLayoutStopped = false;
  FMetricsFormat = -2;
  GrowCaches();
  TCanvas* c = canvas->Canvas();
  const double zoom = FZoom;
  const bool zoomed = zoom != 1.0;
  std::vector<TPlacedGlyph> glyphs;

  // The box.
  canvas->Pen()->SetWidth(1);
  c->Font()->SetColor(Font()->Color());
  canvas->Pen()->SetColor(Font()->Color());
  canvas->Pen()->SetStyle(FBorderPen.Style());
  if (!FDrawingAlpha) canvas->Pen()->SetColor(FBorderPen.Color());
  canvas->Pen()->SetMode(pmCopy);
  canvas->Brush()->SetColor(FBoxBrush.Color());
  canvas->Brush()->SetStyle(FBoxBrush.Style());
  if (FBoxBrush.Style() != bsClear || FBorderPen.Style() != psClear)
    canvas->Rectangle(x, y, x + static_cast<int>(Round(width * zoom)), y + static_cast<int>(Round(height * zoom)));
  canvas->Pen()->SetStyle(psSolid);

  // The inner box, from the margins.
  const double left = FMargins[0], top = FMargins[1], right = FMargins[2], bottom = FMargins[3];
  const int W = TruncD(width - width * right / 100 - width * left / 100) - 2;
  const int H = TruncD(height - height * bottom / 100 - height * top / 100) - 2;
  const int ox = TruncD(width * left / 100) + 1;
  const int oy = TruncD(height * top / 100) + 1;
  const TRect clip{TruncD(ox * zoom + x), TruncD(oy * zoom + y), TruncD(ox * zoom + x + zoom * W),
                   TruncD(oy * zoom + y + zoom * H)};
  HDC dc = c->Handle();
  const UINT oldAlign = SetTextAlign(dc, TA_BASELINE);

  const std::string& text = FMemo.Text;
  const auto* t = reinterpret_cast<const uint8_t*>(text.c_str());
  const int n = TextLength();
  const bool autoGrow = FAutoHeight && Visible() && Parent();
  const bool hasSelection = FSelStart < FSelEnd;
  auto selected = [&](int i) { return hasSelection && i >= FSelStart && i < FSelEnd; };
  // Draws text in character i's format at a baseline point, the selection
  // inverted; dx (one advance a character) places each glyph where the layout put it.
  auto drawText = [&](int i, int gx, int gy, const std::string& utf8, const INT* dx, const TRect& area) {
    const bool inverted = selected(i);
    if (inverted) {
      c->Brush()->SetStyle(bsSolid);
      c->Brush()->SetColor(Inverted(c->Brush()->Color()));
      c->Font()->SetColor(Inverted(c->Font()->Color()));
    }
    HDC h = canvas->GetHandle();
    const UINT flags = static_cast<UINT>(c->TextFlags()) | ETO_CLIPPED;
    ExtTextOutA(h, gx, gy, flags, &area, utf8.data(), static_cast<UINT>(utf8.size()), dx);
    if (inverted) ApplyCharFormat(i, canvas);
  };
  // Line breaks and other control characters only take room.
  auto shownChar = [&](std::string& out, uint8_t ch) { fontengine::AppendUtf8(out, Windows1252CodePoint(ch < 32 ? ' ' : ch)); };
  auto drawGlyph = [&](int i, int gx, int gy, uint8_t ch, const TRect& area) {
    std::string one;
    shownChar(one, ch);
    drawText(i, gx, gy, one, nullptr, area);
  };
  // The characters of one format and selection state on a line go out in one
  // call, their advances spanning a stretched line's gaps, so backgrounds and
  // underlines run through.
  struct TRun {
    int first = -1;
    int x = 0;
    int y = 0;
    int lastX = 0;
    std::string text;
    std::vector<INT> dx;
  } run;
  auto flush = [&] {
    if (run.first < 0) return;
    ApplyCharFormat(run.first, canvas);
    drawText(run.first, run.x, run.y, run.text, run.dx.data(), clip);
    run.first = -1;
    run.text.clear();
    run.dx.clear();
  };
  auto sameFormat = [&](int a, int b) {
    return FFixedFont || FMemo.CharFormatIndex[static_cast<size_t>(a)] == FMemo.CharFormatIndex[static_cast<size_t>(b)];
  };

  int start = 0;
  int lineY = 0;
  int lastD = 0;
  // Where a caret at the end of the text would stand.
  int endX = ox, endY = oy, endH = 0;
  FCaretX = ox;
  FCaretY = oy;
  FCaretHeight = 0;
  bool stop = false;
  while (start < n && !stop) {
    // Measure pass: up to a line break, the end, or the first character that
    // would reach the inner width.
    int p = start;
    int lineX = 0;
    int brk = n;
    for (p = start; p < n; ++p) {
      MeasureChar(p, canvas);
      const int w = FCharWidth[static_cast<size_t>(p)];
      if (t[p] == kLF) {
        brk = p + 1;
        break;
      }
      if (lineX + w + 2 >= W) {
        // Word wrap: after the last space of the line, else before this character.
        int q = p - 1;
        while (q > start && t[q] != ' ') --q;
        brk = q > start ? q + 1 : p;
        break;
      }
      lineX += w;
    }
    if (brk == start) break;  // not even one character fits
    int L = 0, IL = 0, D = 0;
    for (int i = start; i < brk; ++i) {
      const auto k = static_cast<size_t>(i);
      L = std::max(L, FCharHeight[k]);
      IL = std::max(IL, FCharLeading[k]);
      D = std::max(D, FCharDescent[k]);
    }
    // Alignment from the line's last character (before its line break and one trailing space).
    int last = brk - 1;
    if (last >= start && (t[last] == 0 || t[last] == kLF)) --last;
    if (last >= start && t[last] == ' ') --last;
    int offset = 0;
    double factor = 1.0;
    if (last >= start) {
      int lastEnd = 0;
      for (int i = start; i <= last; ++i) lastEnd += FCharWidth[static_cast<size_t>(i)];
      const uint8_t align = FFixedFont ? FDefaultAlignment : GetCharFormat(last)->Alignment;
      const bool paragraphEnd = brk >= n || t[brk - 1] == kLF;
      switch (align) {
        case 1: offset = W - lastEnd - 1; break;
        case 2: offset = (W - lastEnd) / 2; break;
        case 3:
          if (!paragraphEnd) factor = static_cast<double>(W) / (lastEnd + 1);
          break;
        default: break;
      }
    }
    // Draw pass.
    const int baseline = y + oy + lineY + L - IL;
    int sum = 0;
    for (int i = start; i < brk; ++i) {
      const auto k = static_cast<size_t>(i);
      const int w = FCharWidth[k];
      const int xi = TruncD(sum * factor) + offset;
      FCharX[k] = xi + ox;
      FCharLineTop[k] = oy + lineY;
      const int gx = xi + ox + x;
      if (zoomed) {
        glyphs.push_back({gx, baseline, i});
      } else {
        if (run.first >= 0 && sameFormat(run.first, i) && selected(run.first) == selected(i)) {
          run.dx.back() = gx - run.lastX;
        } else {
          flush();
          run.first = i;
          run.x = gx;
          run.y = baseline;
        }
        shownChar(run.text, t[i]);
        run.dx.push_back(w);
        run.lastX = gx;
      }
      sum += w;
      if (FCaret == i) {
        FCaretX = xi + ox;
        FCaretY = oy + lineY;
        FCaretHeight = L;
      } else if (i < FCaret) {
        FCaretX = xi + ox + w;
        FCaretY = oy + lineY;
        FCaretHeight = L;
        if (t[i] == kLF) {
          FCaretX = ox;
          FCaretY = oy + lineY + L;
        }
      }
      endX = t[i] == kLF ? ox : xi + ox + w;
      endY = t[i] == kLF ? oy + lineY + L : oy + lineY;
      endH = L;
      if (autoGrow && baseline + D > y + oy + H) {
        flush();
        SetHeight(TruncD((baseline + D + L) * zoom));
        FLayoutStopped = true;
        stop = true;
        break;
      }
    }
    flush();
    lastD = D;
    start = brk;
    lineY += L + FLineSpacing;
  }
  if (n == 0) {
    FCaretX = ox;
    FCaretY = oy;
    FCaretHeight = std::abs(c->Font()->Height());
    endH = FCaretHeight;
  }
  if (zoomed) {
    auto sx = [&](int gx) { return x + TruncD((gx - x) * zoom); };
    auto sy = [&](int gy) { return y + TruncD((gy - y) * zoom); };
    for (size_t g = 0; g < glyphs.size(); ++g) {
      const TPlacedGlyph& gl = glyphs[g];
      ApplyCharFormat(gl.index, canvas);
      c->Font()->SetHeight(TruncD(c->Font()->Height() * zoom));
      const int px = sx(gl.x), py = sy(gl.y);
      if (g + 1 < glyphs.size() && glyphs[g + 1].y == gl.y) {
        // Zoomed glyphs are not as wide as the scaled layout: spaces, one
        // width apart, fill up to the next glyph so backgrounds run through.
        const int next = sx(glyphs[g + 1].x);
        const int sw = std::max(1, c->TextWidth(" "));
        TRect gapArea = clip;
        gapArea.left = std::max(clip.left, px);
        gapArea.right = std::min(clip.right, next);
        for (int gap = px; gap < next; gap += sw) drawGlyph(gl.index, gap, py, ' ', gapArea);
      }
      drawGlyph(gl.index, px, py, t[gl.index], clip);
    }
    for (int i = 0; i < n; ++i) {
      const auto k = static_cast<size_t>(i);
      if (FCharX[k] >= 0) FCharX[k] = TruncD(FCharX[k] * zoom);
      if (FCharLineTop[k] >= 0) FCharLineTop[k] = TruncD(FCharLineTop[k] * zoom);
    }
    FCaretX = TruncD(FCaretX * zoom);
    FCaretY = TruncD(FCaretY * zoom);
    FCaretHeight = TruncD(FCaretHeight * zoom);
    endX = TruncD(endX * zoom);
    endY = TruncD(endY * zoom);
    endH = TruncD(endH * zoom);
  }
  SetTextAlign(dc, oldAlign);
  if (autoGrow && !FLayoutStopped && FCaretY + FCaretHeight > TruncD(H * zoom))
    SetHeight(TruncD(FCaretY + FCaretHeight + lastD));
  // The end of the text is a caret place too (mouse and line moves use it).
  if (!stop && start >= n) {
    FCharX[static_cast<size_t>(n)] = endX;
    FCharLineTop[static_cast<size_t>(n)] = endY;
  }
  (void)endH;
  const auto ck = static_cast<size_t>(std::clamp(FCaret, 0, n));
  FCharX[ck] = FCaretX;
  FCharLineTop[ck] = FCaretY;
}

void TIETextControl::PaintBackground() {
  if (FBackBitmap.Width() <= 0 || FBackBitmap.Height() <= 0) return;
  if (FBoxBrush.Style() != bsSolid && FBackgroundBitmap)
    FBackBitmap.Canvas()->CopyRect(Rect(0, 0, Width(), Height()), FBackgroundBitmap->Canvas(),
                                   Rect(Left(), Top(), Left() + Width(), Top() + Height()));
  if (FBoxBrush.Style() == bsClear) return;
  FBackBitmap.Canvas()->Brush()->Assign(&FBoxBrush);
  FBackBitmap.Canvas()->FillRect(Rect(0, 0, FBackBitmap.Width(), FBackBitmap.Height()));
}

void TIETextControl::Paint() {
  if (!Visible() || !Parent()) return;
  FPainting = true;
  if (HandleAllocated() && CaretOwner() == Handle()) DestroyCaret();
  const int cw = ClientWidth(), ch = ClientHeight();
  if (FBackBitmap.Width() != cw || FBackBitmap.Height() != ch) FBackBitmap.SetSize(cw, ch);
  PaintBackground();
  {
    TIECanvas canvas(FBackBitmap.Canvas(), true, false);
    LayoutText(&canvas, 0, 0, TruncD(cw / FZoom), TruncD(ch / FZoom));
  }
  Canvas()->Draw(0, 0, &FBackBitmap);
  if (Focused()) {
    CreateCaret(Handle(), nullptr, 0, FCaretHeight);
    SetCaretPos(FCaretX, FCaretY);
    ShowCaret(Handle());
  }
  FPainting = false;
}
