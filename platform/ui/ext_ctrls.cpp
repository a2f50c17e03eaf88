#include "platform/ui/ext_ctrls.h"

#include <algorithm>

#include "platform/ui/actions.h"
#include "platform/ui/forms.h"
#include "platform/ui/ui_paint.h"

// ---- TTimer ----

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
  FWindow = AllocateHWnd([this](TMessage& m) {
    if (m.Msg != WM_TIMER) return;
    try {
      if (OnTimer) OnTimer(this);
    } catch (...) {
      if (Application) Application->HandleException(this);
    }
  });
  UpdateTimer();
}

TTimer::~TTimer() {
  KillTimer(FWindow, 1);
  DeallocateHWnd(FWindow);
}

void TTimer::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  UpdateTimer();
}

void TTimer::SetInterval(UINT value) {
  if (value == FInterval) return;
  FInterval = value;
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  KillTimer(FWindow, 1);
  if (FEnabled && FInterval > 0) SetTimer(FWindow, 1, FInterval, nullptr);
}

// ---- TCustomPanel ----

TCustomPanel::TCustomPanel(TComponent* owner) : TCustomControl(owner) {
  SetInitialBounds(185, 41);
  SetControlStyle({csAcceptsControls, csCaptureMouse, csClickEvents, csSetCaption, csOpaque, csDoubleClicks});
}

void TCustomPanel::AdjustClientRect(TRect& rect) {
  TCustomControl::AdjustClientRect(rect);
  int w = 0;
  if (FBorderStyle == bsSingle) w += 1;
  if (FBevelOuter != bvNone) w += FBevelWidth;
  if (FBevelInner != bvNone) w += FBevelWidth;
  rect = InflateRect(rect, -w, -w);
}

void TCustomPanel::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  if (FBorderStyle == bsSingle) {
    c->Brush()->SetColor(clWindowFrame);
    c->FrameRect(r);
    r = InflateRect(r, -1, -1);
  }
  auto bevel = [&](TPanelBevel b) {
    if (b == bvNone) return;
    if (b == bvSpace) {
      r = InflateRect(r, -FBevelWidth, -FBevelWidth);
      return;
    }
    Frame3D(c, r, b == bvLowered ? clBtnShadow : clBtnHighlight, b == bvLowered ? clBtnHighlight : clBtnShadow,
            FBevelWidth);
  };
  bevel(FBevelOuter);
  r = InflateRect(r, -BorderWidth(), -BorderWidth());
  bevel(FBevelInner);
  if (Caption().empty()) return;
  UINT f = DT_SINGLELINE | DT_EXPANDTABS;
  f |= FAlignment == taCenter ? DT_CENTER : FAlignment == taRightJustify ? DT_RIGHT : DT_LEFT;
  f |= FVerticalAlignment == taVerticalCenter ? DT_VCENTER : FVerticalAlignment == taAlignBottom ? DT_BOTTOM : DT_TOP;
  DrawTextIn(c, Caption(), r, f, IsEnabledInTree());
}

// ---- TBevel ----

TBevel::TBevel(TComponent* owner) : TGraphicControl(owner) { SetInitialBounds(50, 50); }

void TBevel::Paint() {
  TCanvas* c = Canvas();
  TColor a = FStyle == bsLowered ? clBtnShadow : clBtnHighlight;
  TColor b = FStyle == bsLowered ? clBtnHighlight : clBtnShadow;
  int w = Width(), h = Height();
  auto line = [&](TColor color, int x1, int y1, int x2, int y2) {
    c->Pen()->SetColor(color);
    c->MoveTo(x1, y1);
    c->LineTo(x2, y2);
  };
  TRect r = ClientRect();
  switch (FShape) {
    case bsBox: Frame3D(c, r, a, b, 1); break;
    case bsFrame: {
      TRect r2 = Rect(1, 1, w, h);
      Frame3D(c, r2, b, b, 1);
      r2 = Rect(0, 0, w - 1, h - 1);
      Frame3D(c, r2, a, a, 1);
      break;
    }
    case bsTopLine: line(a, 0, 0, w, 0); line(b, 0, 1, w, 1); break;
    case bsBottomLine: line(a, 0, h - 2, w, h - 2); line(b, 0, h - 1, w, h - 1); break;
    case bsLeftLine: line(a, 0, 0, 0, h); line(b, 1, 0, 1, h); break;
    case bsRightLine: line(a, w - 2, 0, w - 2, h); line(b, w - 1, 0, w - 1, h); break;
    case bsSpacer: break;
  }
}

// ---- TPaintBox ----

TPaintBox::TPaintBox(TComponent* owner) : TGraphicControl(owner) { SetInitialBounds(105, 105); }

void TPaintBox::Paint() {
  if (OnPaint) OnPaint(this);
}

// ---- TImage ----

TImage::TImage(TComponent* owner) : TGraphicControl(owner) {
  SetInitialBounds(105, 105);
  FPicture.OnChange = [this](TObject*) { PictureChanged(); };
}

TImage::~TImage() { FPicture.OnChange = nullptr; }

void TImage::SetTransparent(bool value) {
  FTransparent = value;
  if (FPicture.Graphic()) FPicture.Graphic()->SetTransparent(value);
  Invalidate();
}

void TImage::SetAutoSize(bool value) {
  FAutoSize = value;
  PictureChanged();
}

void TImage::SetAnimate(bool value) {
  FAnimate = value;
  StartAnimation();
}

void TImage::PictureChanged() {
  TGraphic* g = FPicture.Graphic();
  if (g && FTransparent && !dynamic_cast<TIcon*>(g)) g->SetTransparent(true);
  if (FAutoSize && g && !g->Empty()) SetBounds(Left(), Top(), g->Width(), g->Height());
  StartAnimation();
  Invalidate();
}

void TImage::StartAnimation() {
  auto* anim = dynamic_cast<TGraphicAnimation*>(FPicture.Graphic());
  if (!anim || !FAnimate || anim->AnimationFrameCount() < 2) {
    FAnimationTimer.reset();
    return;
  }
  if (!FAnimationTimer) {
    FAnimationTimer = std::make_unique<TTimer>(nullptr);
    FAnimationTimer->OnTimer = [this](TObject*) {
      auto* a = dynamic_cast<TGraphicAnimation*>(FPicture.Graphic());
      if (!a || a->AnimationFrameCount() < 2) return;
      FFrame = (FFrame + 1) % a->AnimationFrameCount();
      a->SetAnimationFrame(FFrame);
      FAnimationTimer->SetInterval(static_cast<UINT>(std::max(a->AnimationFrameDelay(FFrame), 10)));
      Invalidate();
    };
  }
  FFrame = 0;
  anim->SetAnimationFrame(0);
  FAnimationTimer->SetInterval(static_cast<UINT>(std::max(anim->AnimationFrameDelay(0), 10)));
  FAnimationTimer->SetEnabled(true);
}

TRect TImage::DestRect() {
  TGraphic* g = FPicture.Graphic();
  int pw = g ? g->Width() : 0, ph = g ? g->Height() : 0;
  int cw = Width(), ch = Height();
  int w = pw, h = ph;
  if (FStretch || (FProportional && (pw > cw || ph > ch))) {
    if (FProportional && pw > 0 && ph > 0) {
      if (static_cast<int64_t>(cw) * ph > static_cast<int64_t>(ch) * pw) {
        h = ch;
        w = static_cast<int>(static_cast<int64_t>(ch) * pw / ph);
      } else {
        w = cw;
        h = static_cast<int>(static_cast<int64_t>(cw) * ph / pw);
      }
    } else {
      w = cw;
      h = ch;
    }
  }
  int x = 0, y = 0;
  if (FCenter) {
    x = (cw - w) / 2;
    y = (ch - h) / 2;
  }
  return Rect(x, y, x + w, y + h);
}

TCanvas* TImage::PictureCanvas() {
  if (!dynamic_cast<TBitmap*>(FPicture.Graphic())) {
    TBitmap b;
    b.SetSize(Width(), Height());
    FPicture.SetGraphic(&b);
  }
  return FPicture.Bitmap()->Canvas();
}

void TImage::Paint() {
  TGraphic* g = FPicture.Graphic();
  if (!g || g->Empty()) return;
  Canvas()->StretchDraw(DestRect(), g);
}

// ---- glyphs on buttons ----

void DrawButtonGlyphAndText(TCanvas* canvas, const TRect& face, TBitmap* glyph, int numGlyphs, TButtonState state,
                            const std::string& caption, TButtonLayout layout, int margin, int spacing, bool enabled) {
  bool hasGlyph = glyph && !glyph->Empty();
  int gw = hasGlyph ? glyph->Width() / std::max(numGlyphs, 1) : 0;
  int gh = hasGlyph ? glyph->Height() : 0;
  TSize ts{0, 0};
  if (!caption.empty()) {
    TRect calc = Rect(0, 0, face.right - face.left, 0);
    DrawText(canvas->Handle(), caption.c_str(), static_cast<int>(caption.size()), &calc, DT_CALCRECT | DT_SINGLELINE);
    ts = TSize{calc.right - calc.left, calc.bottom - calc.top};
  }
  if (!hasGlyph || caption.empty()) spacing = 0;
  bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
  int fw = face.right - face.left, fh = face.bottom - face.top;
  int total = horizontal ? gw + spacing + ts.cx : gh + spacing + ts.cy;
  int avail = horizontal ? fw : fh;
  int start = margin < 0 ? (avail - total) / 2 : margin;
  TPoint gp, tp;
  if (horizontal) {
    gp.y = face.top + (fh - gh) / 2;
    tp.y = face.top + (fh - ts.cy) / 2;
    if (layout == blGlyphLeft) {
      gp.x = face.left + start;
      tp.x = gp.x + gw + spacing;
    } else {
      tp.x = face.left + start;
      gp.x = tp.x + ts.cx + spacing;
    }
  } else {
    gp.x = face.left + (fw - gw) / 2;
    tp.x = face.left + (fw - ts.cx) / 2;
    if (layout == blGlyphTop) {
      gp.y = face.top + start;
      tp.y = gp.y + gh + spacing;
    } else {
      tp.y = face.top + start;
      gp.y = tp.y + ts.cy + spacing;
    }
  }
  if (hasGlyph) {
    int part = 0;
    if (state == bsDisabled && numGlyphs > 1) part = 1;
    else if (state == bsDown && numGlyphs > 2) part = 2;
    else if (state == bsExclusive && numGlyphs > 3) part = 3;
    // The lower-left pixel of the glyph is its transparent colour.
    COLORREF key = static_cast<COLORREF>(glyph->Canvas()->Pixels(part * gw, gh - 1)) & 0xFFFFFF;
    if (state == bsDisabled && numGlyphs < 2) {
      // Embossed: the glyph's dark pixels as highlight, then as shadow one pixel up-left.
      for (int pass = 0; pass < 2; ++pass) {
        TColor color = pass == 0 ? clBtnHighlight : clBtnShadow;
        int off = pass == 0 ? 1 : 0;
        for (int y = 0; y < gh; ++y)
          for (int x = 0; x < gw; ++x) {
            COLORREF c = static_cast<COLORREF>(glyph->Canvas()->Pixels(part * gw + x, y)) & 0xFFFFFF;
            if (c == key) continue;
            int l = (GetRValue(c) * 30 + GetGValue(c) * 59 + GetBValue(c) * 11) / 100;
            if (l < 192) canvas->SetPixels(gp.x + x + off, gp.y + y + off, color);
          }
      }
    } else {
      TransparentBlt(canvas->Handle(), gp.x, gp.y, gw, gh, glyph->Canvas()->Handle(), part * gw, 0, gw, gh, key);
    }
  }
  if (!caption.empty())
    DrawTextIn(canvas, caption, Rect(tp.x, tp.y, tp.x + ts.cx, tp.y + ts.cy), DT_SINGLELINE | DT_CENTER, enabled);
}

// ---- TSpeedButton ----

TSpeedButton::TSpeedButton(TComponent* owner) : TGraphicControl(owner) {
  SetInitialBounds(23, 22);
  // Clicks come from MouseUp, after OnMouseUp, as speed buttons give them.
  SetControlStyle({csCaptureMouse, csDoubleClicks});
  FGlyph.OnChange = [this](TObject*) { Invalidate(); };
}

void TSpeedButton::SetDown(bool value) {
  if (FGroupIndex == 0) value = false;
  if (value == FDown) return;
  if (FDown && !FAllowAllUp) {
    // The last button down in a group without AllowAllUp stays down.
    bool anotherDown = false;
    if (Parent())
      for (int i = 0; i < Parent()->ControlCount(); ++i)
        if (auto* b = dynamic_cast<TSpeedButton*>(Parent()->Controls(i)); b && b != this && b->FGroupIndex == FGroupIndex && b->FDown)
          anotherDown = true;
    if (!anotherDown && !value) return;
  }
  FDown = value;
  Invalidate();
  if (value) UpdateExclusive();
}

void TSpeedButton::SetAllowAllUp(bool value) {
  FAllowAllUp = value;
  if (!Parent()) return;
  for (int i = 0; i < Parent()->ControlCount(); ++i)
    if (auto* b = dynamic_cast<TSpeedButton*>(Parent()->Controls(i)); b && b->FGroupIndex == FGroupIndex && FGroupIndex)
      b->FAllowAllUp = value;
}

void TSpeedButton::UpdateExclusive() {
  if (!Parent() || FGroupIndex == 0) return;
  for (int i = 0; i < Parent()->ControlCount(); ++i) {
    auto* b = dynamic_cast<TSpeedButton*>(Parent()->Controls(i));
    if (b && b != this && b->FGroupIndex == FGroupIndex && b->FDown) {
      b->FDown = false;
      b->Invalidate();
    }
  }
}

void TSpeedButton::Click() { TGraphicControl::Click(); }

void TSpeedButton::ActionChange(TBasicAction* sender) {
  TGraphicControl::ActionChange(sender);
  if (auto* a = dynamic_cast<TCustomAction*>(sender)) {
    if (FGroupIndex > 0) SetDown(a->Checked());
  }
}

void TSpeedButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TGraphicControl::MouseDown(button, shift, x, y);
  if (button != mbLeft || !IsEnabledInTree()) return;
  FPressing = true;
  Invalidate();
}

void TSpeedButton::MouseMove(TShiftState shift, int x, int y) {
  TGraphicControl::MouseMove(shift, x, y);
  if (!ControlState().Contains(csLButtonDown)) return;
  bool inside = x >= 0 && y >= 0 && x < Width() && y < Height();
  if (inside != FPressing) {
    FPressing = inside;
    Invalidate();
  }
}

void TSpeedButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  bool wasPressing = FPressing && button == mbLeft;
  FPressing = false;
  Invalidate();
  TGraphicControl::MouseUp(button, shift, x, y);
  if (!wasPressing) return;
  bool inside = x >= 0 && y >= 0 && x < Width() && y < Height();
  if (!inside) return;
  if (FGroupIndex != 0) {
    if (!FDown) SetDown(true);
    else if (FAllowAllUp) SetDown(false);
  }
  Click();
}

void TSpeedButton::MouseEnter() {
  FMouseInside = true;
  if (FFlat) Invalidate();
  TGraphicControl::MouseEnter();
}

void TSpeedButton::MouseLeave() {
  FMouseInside = false;
  if (FFlat) Invalidate();
  TGraphicControl::MouseLeave();
}

void TSpeedButton::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  bool enabled = IsEnabledInTree();
  bool sunken = FPressing || FDown;
  if (!FFlat) {
    DrawButtonFace(c, r, sunken, false);
  } else if (sunken || (FMouseInside && enabled)) {
    c->Brush()->SetColor(Color());
    c->FillRect(r);
    Frame3D(c, r, sunken ? clBtnShadow : clBtnHighlight, sunken ? clBtnHighlight : clBtnShadow, 1);
  } else {
    c->Brush()->SetColor(Color());
    c->FillRect(r);
  }
  if (FDown && !FPressing) {
    // A button held down shows a dotted face, as the classic look has it.
    c->Brush()->SetColor(cl3DLight);
    c->FillRect(r);
  }
  if (sunken) r = Rect(r.left + 1, r.top + 1, r.right + 1, r.bottom + 1);
  TButtonState state = !enabled ? bsDisabled : FDown ? bsExclusive : FPressing ? bsDown : bsUp;
  DrawButtonGlyphAndText(c, r, &FGlyph, FNumGlyphs, state, Caption(), FLayout, FMargin, FSpacing, enabled);
}

// ---- TBitBtn ----

TBitBtn::TBitBtn(TComponent* owner) : TButton(owner) {
  FGlyph.OnChange = [this](TObject*) { Invalidate(); };
}

void TBitBtn::SetKind(TBitBtnKind value) {
  static const char* const kCaptions[] = {"", "OK", "Cancel", "&Help", "&Yes", "&No", "&Close", "Abort", "&Retry", "&Ignore", "&All"};
  static const TModalResult kResults[] = {mrNone, mrOk, mrCancel, mrNone, mrYes, mrNo, mrNone, mrAbort, mrRetry, mrIgnore, mrAll};
  FKind = value;
  if (value == bkCustom) return;
  SetCaption(kCaptions[value]);
  SetModalResult(kResults[value]);
  if (value == bkOK || value == bkYes) SetDefault(true);
  if (value == bkCancel || value == bkNo) SetCancel(true);
}

void TBitBtn::Click() {
  if (FKind == bkClose) {
    if (TCustomForm* form = GetParentForm(this)) form->Close();
  }
  TButton::Click();
}

void TBitBtn::PaintContent(TCanvas* canvas, TRect face) {
  if (Pressed()) face = Rect(face.left + 1, face.top + 1, face.right + 1, face.bottom + 1);
  bool enabled = IsEnabledInTree();
  DrawButtonGlyphAndText(canvas, face, &FGlyph, FNumGlyphs, !enabled ? bsDisabled : Pressed() ? bsDown : bsUp, Caption(),
                         FLayout, FMargin, FSpacing, enabled);
}

// ---- TCustomRadioGroup ----

TCustomRadioGroup::TCustomRadioGroup(TComponent* owner) : TCustomGroupBox(owner) {
  FItems.OnChange = [this](TObject*) { ItemsChanged(); };
}

TCustomRadioGroup::~TCustomRadioGroup() {
  FItems.OnChange = nullptr;
  for (TRadioButton* b : FButtons) delete b;
  FButtons.clear();
}

void TCustomRadioGroup::ItemsChanged() {
  FUpdating = true;
  while (static_cast<int>(FButtons.size()) > FItems.Count()) {
    delete FButtons.back();
    FButtons.pop_back();
  }
  while (static_cast<int>(FButtons.size()) < FItems.Count()) {
    auto* b = new TRadioButton(nullptr);
    b->OnClick = [this, b](TObject*) { ButtonClick(b); };
    b->SetParent(this);
    FButtons.push_back(b);
  }
  for (int i = 0; i < FItems.Count(); ++i) {
    FButtons[i]->SetCaption(FItems[i]);
    FButtons[i]->SetEnabled(Enabled());
    FButtons[i]->SetChecked(i == FItemIndex);
    FButtons[i]->SetTabStop(i == FItemIndex);
  }
  if (FItemIndex >= FItems.Count()) FItemIndex = -1;
  FUpdating = false;
  ArrangeButtons();
}

void TCustomRadioGroup::ArrangeButtons() {
  if (FButtons.empty()) return;
  TRect r = ClientRect();
  AdjustClientRect(r);
  int n = static_cast<int>(FButtons.size());
  int cols = std::max(1, FColumns);
  int rows = (n + cols - 1) / cols;
  int colWidth = (r.right - r.left) / cols;
  int rowHeight = std::max(1, static_cast<int>((r.bottom - r.top) / std::max(rows, 1)));
  for (int i = 0; i < n; ++i) {
    int col = i / rows, row = i % rows;
    int h = std::min(rowHeight, 17);
    FButtons[i]->SetBounds(r.left + 6 + col * colWidth, r.top + row * rowHeight + (rowHeight - h) / 2, colWidth - 8, h);
  }
}

void TCustomRadioGroup::ButtonClick(TRadioButton* button) {
  if (FUpdating || !button->Checked()) return;
  auto it = std::find(FButtons.begin(), FButtons.end(), button);
  FItemIndex = static_cast<int>(it - FButtons.begin());
  for (TRadioButton* b : FButtons) b->SetTabStop(b == button);
  Click();
}

void TCustomRadioGroup::SetItemIndex(int value) {
  if (value < -1 || value >= FItems.Count()) value = -1;
  if (value == FItemIndex) return;
  if (value < 0) {
    FUpdating = true;
    for (TRadioButton* b : FButtons) b->SetChecked(false);
    FUpdating = false;
    FItemIndex = -1;
    return;
  }
  FButtons[value]->SetChecked(true);  // ButtonClick takes the index and fires OnClick
}

void TCustomRadioGroup::SetColumns(int value) {
  FColumns = std::clamp(value, 1, 16);
  ArrangeButtons();
  Invalidate();
}

void TCustomRadioGroup::Resize() {
  TCustomGroupBox::Resize();
  ArrangeButtons();
}

void TCustomRadioGroup::EnabledChanged() {
  TCustomGroupBox::EnabledChanged();
  for (TRadioButton* b : FButtons) b->SetEnabled(Enabled());
}
