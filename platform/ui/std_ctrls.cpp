#include "platform/ui/std_ctrls.h"

#include <algorithm>

#include "platform/ui/actions.h"
#include "platform/ui/forms.h"
#include "platform/ui/ui_paint.h"

void DrawControlCaption(TCanvas* canvas, const std::string& text, TRect rect, UINT format, bool enabled, bool focused) {
  DrawTextIn(canvas, text, rect, format, enabled);
  if (!focused || text.empty()) return;
  TRect calc = rect;
  HDC dc = canvas->Handle();
  DrawText(dc, text.c_str(), static_cast<int>(text.size()), &calc, format | DT_CALCRECT);
  int h = calc.bottom - calc.top;
  int top = (format & DT_VCENTER) ? rect.top + (rect.bottom - rect.top - h) / 2 : rect.top;
  TRect focus = Rect(calc.left - 1, top - 1, calc.right + 1, top + h + 1);
  canvas->DrawFocusRect(focus);
}

// ---- TButtonControl ----

TButtonControl::TButtonControl(TComponent* owner) : TWinControl(owner) {
  SetTabStop(true);
  SetControlStyle({csCaptureMouse, csClickEvents, csSetCaption, csDoubleClicks});
}

void TButtonControl::KeyDown(WORD& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  if (key == VK_SPACE) {
    FSpaceDown = true;
    FPressed = true;
    Invalidate();
  }
}

void TButtonControl::KeyUp(WORD& key, TShiftState shift) {
  TWinControl::KeyUp(key, shift);
  if (key == VK_SPACE && FSpaceDown) {
    FSpaceDown = false;
    FPressed = false;
    Invalidate();
    UserClick();
  }
}

void TButtonControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == mbLeft) {
    FPressed = true;
    Invalidate();
  }
  TWinControl::MouseDown(button, shift, x, y);
}

void TButtonControl::MouseMove(TShiftState shift, int x, int y) {
  if (ControlState().Contains(csLButtonDown)) {
    bool inside = x >= 0 && y >= 0 && x < Width() && y < Height();
    if (inside != FPressed) {
      FPressed = inside;
      Invalidate();
    }
  }
  TWinControl::MouseMove(shift, x, y);
}

void TButtonControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == mbLeft && FPressed) {
    FPressed = false;
    Invalidate();
  }
  TWinControl::MouseUp(button, shift, x, y);
}

// ---- TButton ----

TButton::TButton(TComponent* owner) : TButtonControl(owner) { SetInitialBounds(75, 25); }

void TButton::Click() {
  if (TCustomForm* form = GetParentForm(this)) {
    if (FModalResult != 0) form->SetModalResult(FModalResult);
  }
  TButtonControl::Click();
}

void TButton::DefaultHandler(TMessage& message) {
  if (message.Msg == CM_DIALOGKEY) {
    WORD key = static_cast<WORD>(message.WParam);
    // Return goes to the focused button, else to the default one; Escape to the cancel one.
    TCustomForm* form = GetParentForm(this);
    TWinControl* focused = form ? form->ActiveControl() : nullptr;
    bool active = Focused() || (FDefault && !dynamic_cast<TButton*>(focused));
    if (((key == VK_RETURN && active) || (key == VK_ESCAPE && FCancel)) && CanFocus()) {
      Click();
      message.Result = 1;
    }
    return;
  }
  TButtonControl::DefaultHandler(message);
}

void TButton::Paint() {
  TCanvas* c = ControlCanvas();
  TRect r = ClientRect();
  TCustomForm* form = GetParentForm(this);
  TWinControl* focused = form ? form->ActiveControl() : nullptr;
  bool showDefault = Focused() || (FDefault && !dynamic_cast<TButton*>(focused));
  DrawButtonFace(c, r, Pressed(), showDefault);
  PaintContent(c, r);
  if (Focused()) c->DrawFocusRect(InflateRect(r, -1, -1));
}

void TButton::PaintContent(TCanvas* canvas, TRect face) {
  if (Pressed()) face = Rect(face.left + 1, face.top + 1, face.right + 1, face.bottom + 1);
  UINT format = DT_CENTER | (WordWrap() ? DT_WORDBREAK : DT_SINGLELINE | DT_VCENTER);
  if (WordWrap()) {
    TRect calc = face;
    DrawText(canvas->Handle(), Caption().c_str(), static_cast<int>(Caption().size()), &calc, format | DT_CALCRECT);
    int h = calc.bottom - calc.top;
    face.top += (face.bottom - face.top - h) / 2;
  }
  DrawTextIn(canvas, Caption(), face, format, IsEnabledInTree());
}

// ---- TCheckBox ----

TCheckBox::TCheckBox(TComponent* owner) : TButtonControl(owner) { SetInitialBounds(97, 17); }

void TCheckBox::SetState(TCheckBoxState value) {
  if (value == FState) return;
  FState = value;
  Invalidate();
  Click();
}

void TCheckBox::Toggle() {
  switch (FState) {
    case cbUnchecked: SetState(FAllowGrayed ? cbGrayed : cbChecked); break;
    case cbChecked: SetState(cbUnchecked); break;
    case cbGrayed: SetState(cbChecked); break;
  }
}

void TCheckBox::ActionChange(TBasicAction* sender) {
  TButtonControl::ActionChange(sender);
  if (auto* a = dynamic_cast<TCustomAction*>(sender)) {
    // Taking the action's state is no click.
    FState = a->Checked() ? cbChecked : cbUnchecked;
    Invalidate();
  }
}

void TCheckBox::Paint() {
  TCanvas* c = ControlCanvas();
  int box = 13;
  int y = (Height() - box) / 2;
  bool right = FAlignment == taRightText;
  int bx = right ? 0 : Width() - box;
  DrawCheckMark(c, bx, y, FState != cbUnchecked, IsEnabledInTree(), false, FState == cbGrayed);
  TRect tr = right ? Rect(box + 4, 0, Width(), Height()) : Rect(0, 0, Width() - box - 4, Height());
  UINT format = DT_SINGLELINE | DT_VCENTER | (WordWrap() ? DT_WORDBREAK : 0);
  if (WordWrap()) format = DT_WORDBREAK;
  DrawControlCaption(c, Caption(), tr, format, IsEnabledInTree(), Focused());
}

// ---- TRadioButton ----

TRadioButton::TRadioButton(TComponent* owner) : TButtonControl(owner) { SetInitialBounds(113, 17); }

void TRadioButton::SetChecked(bool value) {
  if (value == FChecked) return;
  FChecked = value;
  Invalidate();
  if (!value) return;
  if (Parent()) {
    for (int i = 0; i < Parent()->ControlCount(); ++i) {
      auto* other = dynamic_cast<TRadioButton*>(Parent()->Controls(i));
      if (other && other != this) other->SetChecked(false);
    }
  }
  Click();
}

void TRadioButton::KeyDown(WORD& key, TShiftState shift) {
  TButtonControl::KeyDown(key, shift);
  if (key != VK_UP && key != VK_DOWN && key != VK_LEFT && key != VK_RIGHT) return;
  // The arrows move the focus and the check among the group's radio buttons.
  if (!Parent()) return;
  std::vector<TRadioButton*> group;
  for (int i = 0; i < Parent()->ControlCount(); ++i)
    if (auto* r = dynamic_cast<TRadioButton*>(Parent()->Controls(i)); r && r->CanFocus()) group.push_back(r);
  auto it = std::find(group.begin(), group.end(), this);
  if (group.size() < 2 || it == group.end()) return;
  int n = static_cast<int>(group.size()), i = static_cast<int>(it - group.begin());
  i = (key == VK_UP || key == VK_LEFT) ? (i + n - 1) % n : (i + 1) % n;
  group[i]->SetFocus();
  group[i]->SetChecked(true);
  key = 0;
}

void TRadioButton::Paint() {
  TCanvas* c = ControlCanvas();
  int box = 12;
  int y = (Height() - box) / 2;
  bool right = FAlignment == taRightText;
  DrawCheckMark(c, right ? 0 : Width() - box, y, FChecked, IsEnabledInTree(), true);
  TRect tr = right ? Rect(box + 5, 0, Width(), Height()) : Rect(0, 0, Width() - box - 5, Height());
  DrawControlCaption(c, Caption(), tr, WordWrap() ? DT_WORDBREAK : DT_SINGLELINE | DT_VCENTER, IsEnabledInTree(),
                     Focused());
}

// ---- TCustomLabel ----

TCustomLabel::TCustomLabel(TComponent* owner) : TGraphicControl(owner) {
  SetInitialBounds(65, 17);
  SetControlStyle({csCaptureMouse, csClickEvents, csSetCaption, csDoubleClicks, csReplicatable});
}

UINT TCustomLabel::TextFlags() const {
  UINT f = FWordWrap ? DT_WORDBREAK : 0;
  if (FAlignment == taRightJustify) f |= DT_RIGHT;
  else if (FAlignment == taCenter) f |= DT_CENTER;
  if (!FShowAccelChar) f |= DT_NOPREFIX;
  f |= DT_EXPANDTABS;
  return f;
}

void TCustomLabel::AdjustBounds() {
  if (!FAutoSize) {
    Invalidate();
    return;
  }
  TBitmap probe;
  probe.SetSize(1, 1);
  probe.Canvas()->Font()->Assign(Font());
  std::string text = Caption().empty() ? " " : Caption();
  TRect r = Rect(0, 0, FWordWrap ? Width() : 0x7FFF, 0);
  DrawText(probe.Canvas()->Handle(), text.c_str(), static_cast<int>(text.size()), &r, TextFlags() | DT_CALCRECT);
  int w = FWordWrap ? Width() : static_cast<int>(r.right - r.left);
  int h = r.bottom - r.top;
  int left = Left();
  if (!FWordWrap && FAlignment == taRightJustify) left += Width() - w;
  else if (!FWordWrap && FAlignment == taCenter) left += (Width() - w) / 2;
  SetBounds(left, Top(), w, h);
}

void TCustomLabel::SetWordWrap(bool value) {
  FWordWrap = value;
  AdjustBounds();
}

void TCustomLabel::SetAutoSize(bool value) {
  FAutoSize = value;
  AdjustBounds();
}

void TCustomLabel::TextChanged() { AdjustBounds(); }
void TCustomLabel::FontChanged() { AdjustBounds(); }

void TCustomLabel::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  UINT f = TextFlags();
  if (FLayout != tlTop) {
    TRect calc = r;
    DrawText(c->Handle(), Caption().c_str(), static_cast<int>(Caption().size()), &calc, f | DT_CALCRECT);
    int h = calc.bottom - calc.top;
    r.top = FLayout == tlBottom ? r.bottom - h : (r.bottom - h) / 2;
  }
  DrawTextIn(c, Caption(), r, f, IsEnabledInTree());
}

// ---- TStaticText ----

TStaticText::TStaticText(TComponent* owner) : TWinControl(owner) { SetInitialBounds(65, 17); }

void TStaticText::Paint() {
  TCanvas* c = ControlCanvas();
  TRect r = ClientRect();
  if (FBorderStyle == sbsSingle) {
    c->Brush()->SetColor(clWindowFrame);
    c->FrameRect(r);
    r = InflateRect(r, -1, -1);
  } else if (FBorderStyle == sbsSunken) {
    Frame3D(c, r, clBtnShadow, clBtnHighlight, 1);
  }
  UINT f = FAlignment == taRightJustify ? DT_RIGHT : FAlignment == taCenter ? DT_CENTER : DT_LEFT;
  DrawTextIn(c, Caption(), r, f | DT_WORDBREAK, IsEnabledInTree());
}

// ---- TCustomGroupBox ----

TCustomGroupBox::TCustomGroupBox(TComponent* owner) : TCustomControl(owner) {
  SetInitialBounds(185, 105);
  SetControlStyle({csAcceptsControls, csCaptureMouse, csClickEvents, csSetCaption, csDoubleClicks});
}

void TCustomGroupBox::AdjustClientRect(TRect& rect) {
  TCustomControl::AdjustClientRect(rect);
  int h = Canvas()->TextHeight("0");
  rect.top += h;
  rect = InflateRect(rect, -2, -2);
}

void TCustomGroupBox::Paint() {
  TCanvas* c = Canvas();
  int h = c->TextHeight("0");
  TRect r = Rect(0, h / 2, Width(), Height());
  TRect inner = r;
  Frame3D(c, inner, clBtnShadow, clBtnHighlight, 1);
  inner = Rect(r.left + 1, r.top + 1, r.right, r.bottom);
  Frame3D(c, inner, clBtnHighlight, clBtnShadow, 1);
  if (Caption().empty()) return;
  int w = c->TextWidth(Caption());
  TRect tr = Rect(8, 0, 8 + w + 2, h);
  c->Brush()->SetColor(Color());
  c->FillRect(tr);
  DrawTextIn(c, Caption(), Rect(9, 0, 9 + w, h), DT_SINGLELINE | DT_LEFT, IsEnabledInTree());
}
