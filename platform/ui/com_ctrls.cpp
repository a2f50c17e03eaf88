#include "platform/ui/com_ctrls.h"

#include <algorithm>

#include "platform/ui/forms.h"
#include "platform/ui/ui_paint.h"

// ---- TTrackBar ----

TTrackBar::TTrackBar(TComponent* owner) : TWinControl(owner) {
  SetInitialBounds(150, 45);
  SetTabStop(true);
}

void TTrackBar::SetMin(int value) {
  FMin = value;
  if (FMax < FMin) FMax = FMin;
  SetPosition(FPosition);
  Invalidate();
}

void TTrackBar::SetMax(int value) {
  FMax = value;
  if (FMin > FMax) FMin = FMax;
  SetPosition(FPosition);
  Invalidate();
}

void TTrackBar::SetPosition(int value) {
  value = std::clamp(value, FMin, FMax);
  if (value == FPosition) return;
  FPosition = value;
  Invalidate();
  if (OnChange) OnChange(this);
}

void TTrackBar::SetOrientation(TTrackBarOrientation value) {
  if (value == FOrientation) return;
  FOrientation = value;
  SetBounds(Left(), Top(), Height(), Width());
}

TRect TTrackBar::ChannelRect() {
  if (FOrientation == trHorizontal) return Rect(8, 8 + 6, Width() - 8, 8 + 10);
  return Rect(8 + 6, 8, 8 + 10, Height() - 8);
}

TRect TTrackBar::ThumbRect() {
  TRect ch = ChannelRect();
  int span = std::max(FMax - FMin, 1);
  if (FOrientation == trHorizontal) {
    int x = ch.left + static_cast<int>(static_cast<int64_t>(ch.right - ch.left) * (FPosition - FMin) / span);
    return Rect(x - 5, 4, x + 6, 24);
  }
  int y = ch.top + static_cast<int>(static_cast<int64_t>(ch.bottom - ch.top) * (FPosition - FMin) / span);
  return Rect(4, y - 5, 24, y + 6);
}

int TTrackBar::PositionAt(int x, int y) {
  TRect ch = ChannelRect();
  int length = FOrientation == trHorizontal ? ch.right - ch.left : ch.bottom - ch.top;
  int at = FOrientation == trHorizontal ? x - ch.left : y - ch.top;
  if (length <= 0) return FMin;
  at = std::clamp(at, 0, length);
  return FMin + static_cast<int>((static_cast<int64_t>(at) * (FMax - FMin) + length / 2) / length);
}

void TTrackBar::Paint() {
  TCanvas* c = ControlCanvas();
  TRect ch = ChannelRect();
  TRect r = ch;
  Frame3D(c, r, clBtnShadow, clBtnHighlight, 1);
  c->Brush()->SetColor(clWindow);
  c->FillRect(r);
  if (FTickStyle != tsNone) {
    c->Pen()->SetColor(clBtnText);
    int span = std::max(FMax - FMin, 1);
    for (int v = FMin; v <= FMax; v += FFrequency) {
      if (FOrientation == trHorizontal) {
        int x = ch.left + static_cast<int>(static_cast<int64_t>(ch.right - ch.left) * (v - FMin) / span);
        c->MoveTo(x, 27);
        c->LineTo(x, (v == FMin || v == FMax) ? 32 : 30);
      } else {
        int y = ch.top + static_cast<int>(static_cast<int64_t>(ch.bottom - ch.top) * (v - FMin) / span);
        c->MoveTo(27, y);
        c->LineTo((v == FMin || v == FMax) ? 32 : 30, y);
      }
      if (FFrequency <= 0) break;
    }
  }
  TRect t = ThumbRect();
  DrawButtonFace(c, t, false, false);
  if (Focused()) c->DrawFocusRect(ClientRect());
}

void TTrackBar::KeyDown(WORD& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  switch (key) {
    case VK_LEFT:
    case VK_UP: SetPosition(FPosition - FLineSize); break;
    case VK_RIGHT:
    case VK_DOWN: SetPosition(FPosition + FLineSize); break;
    case VK_PRIOR: SetPosition(FPosition - FPageSize); break;
    case VK_NEXT: SetPosition(FPosition + FPageSize); break;
    case VK_HOME: SetPosition(FMin); break;
    case VK_END: SetPosition(FMax); break;
    default: return;
  }
  key = 0;
}

void TTrackBar::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TWinControl::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  if (PtInRect(ThumbRect(), Point(x, y))) {
    FDragging = true;
    return;
  }
  // A click beside the thumb moves it by a page towards the click.
  int at = PositionAt(x, y);
  SetPosition(at < FPosition ? FPosition - FPageSize : FPosition + FPageSize);
}

void TTrackBar::MouseMove(TShiftState shift, int x, int y) {
  TWinControl::MouseMove(shift, x, y);
  if (FDragging) SetPosition(PositionAt(x, y));
}

void TTrackBar::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (FDragging) SetPosition(PositionAt(x, y));
  FDragging = false;
  TWinControl::MouseUp(button, shift, x, y);
}

bool TTrackBar::DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) {
  if (TWinControl::DoMouseWheel(shift, wheelDelta, mousePos)) return true;
  SetPosition(FPosition - wheelDelta / WHEEL_DELTA * FLineSize);
  return true;
}

// ---- TProgressBar ----

TProgressBar::TProgressBar(TComponent* owner) : TWinControl(owner) { SetInitialBounds(150, 17); }

void TProgressBar::SetPosition(int value) {
  value = std::clamp(value, FMin, std::max(FMin, FMax));
  if (value == FPosition) return;
  FPosition = value;
  Invalidate();
}

void TProgressBar::Paint() {
  TCanvas* c = ControlCanvas();
  TRect r = ClientRect();
  Frame3D(c, r, clBtnShadow, clBtnHighlight, 1);
  c->Brush()->SetColor(clBtnFace);
  c->FillRect(r);
  int span = std::max(FMax - FMin, 1);
  bool horizontal = FOrientation == pbHorizontal;
  int length = horizontal ? r.right - r.left : r.bottom - r.top;
  int filled = static_cast<int>(static_cast<int64_t>(length) * (FPosition - FMin) / span);
  c->Brush()->SetColor(clHighlight);
  if (FSmooth) {
    c->FillRect(horizontal ? Rect(r.left, r.top, r.left + filled, r.bottom) : Rect(r.left, r.bottom - filled, r.right, r.bottom));
    return;
  }
  // Blocks, as the classic bar draws them.
  int block = std::max<int>(2, ((horizontal ? r.bottom - r.top : r.right - r.left) * 2) / 3);
  for (int at = 0; at + 1 < filled; at += block + 2) {
    int end = std::min(at + block, filled);
    c->FillRect(horizontal ? Rect(r.left + at + 1, r.top + 1, r.left + end, r.bottom - 1)
                           : Rect(r.left + 1, r.bottom - end, r.right - 1, r.bottom - at - 1));
  }
}

// ---- TStatusBar ----

void TStatusPanel::SetText(const std::string& value) {
  FText = value;
  if (FBar) FBar->Invalidate();
}
void TStatusPanel::SetWidth(int value) {
  FWidth = value;
  if (FBar) FBar->Invalidate();
}
void TStatusPanel::SetAlignment(TAlignment value) {
  FAlignment = value;
  if (FBar) FBar->Invalidate();
}
void TStatusPanel::SetStyle(TStatusPanelStyle value) {
  FStyle = value;
  if (FBar) FBar->Invalidate();
}
void TStatusPanel::SetBevel(TStatusPanelBevel value) {
  FBevel = value;
  if (FBar) FBar->Invalidate();
}

TStatusBar::TStatusBar(TComponent* owner) : TWinControl(owner) {
  SetInitialBounds(200, 19);
  SetAlign(alBottom);
}

TStatusBar::~TStatusBar() = default;

TStatusPanel* TStatusBar::AddPanel() {
  auto p = std::make_unique<TStatusPanel>();
  p->FBar = this;
  p->FIndex = PanelCount();
  FPanels.push_back(std::move(p));
  Invalidate();
  return FPanels.back().get();
}

void TStatusBar::ClearPanels() {
  FPanels.clear();
  Invalidate();
}

TRect TStatusBar::PanelRect(int index) {
  int left = 0;
  for (int i = 0; i < PanelCount(); ++i) {
    // The last panel takes the rest of the bar.
    int w = i == PanelCount() - 1 ? std::max(Width() - left, 0) : FPanels[i]->Width();
    if (i == index) return Rect(left, 2, left + w - 2, Height());
    left += w;
  }
  return TRect{};
}

void TStatusBar::Paint() {
  TCanvas* c = ControlCanvas();
  auto panel = [&](TRect r, const std::string& text, TAlignment align, TStatusPanelBevel bevel) {
    if (bevel != pbNone)
      Frame3D(c, r, bevel == pbLowered ? clBtnShadow : clBtnHighlight, bevel == pbLowered ? clBtnHighlight : clBtnShadow, 1);
    UINT f = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS;
    f |= align == taCenter ? DT_CENTER : align == taRightJustify ? DT_RIGHT : DT_LEFT;
    r.left += 2;
    DrawTextIn(c, text, r, f, true);
  };
  if (FSimplePanel || FPanels.empty()) {
    panel(Rect(0, 2, Width(), Height()), FSimpleText, taLeftJustify, FSimplePanel ? pbLowered : pbNone);
  } else {
    for (int i = 0; i < PanelCount(); ++i) {
      TRect r = PanelRect(i);
      if (FPanels[i]->Style() == psOwnerDraw && OnDrawPanel) {
        OnDrawPanel(this, FPanels[i].get(), r);
        continue;
      }
      panel(r, FPanels[i]->Text(), FPanels[i]->Alignment(), FPanels[i]->Bevel());
    }
  }
  if (FSizeGrip) {
    int w = Width(), h = Height();
    for (int k = 0; k < 3; ++k) {
      c->Pen()->SetColor(clBtnHighlight);
      c->MoveTo(w - 12 + k * 4, h - 1);
      c->LineTo(w, h - 13 + k * 4);
      c->Pen()->SetColor(clBtnShadow);
      c->MoveTo(w - 11 + k * 4, h - 1);
      c->LineTo(w, h - 12 + k * 4);
    }
  }
}

// ---- TUpDown ----

TUpDown::TUpDown(TComponent* owner) : TWinControl(owner) { SetInitialBounds(16, 24); }

void TUpDown::SetPosition(int value) {
  value = std::clamp(value, std::min(FMin, FMax), std::max(FMin, FMax));
  if (value == FPosition) return;
  FPosition = value;
  UpdateAssociate();
}

void TUpDown::UpdateAssociate() {
  if (!FAssociate) return;
  std::string text = std::to_string(FPosition);
  if (FThousands) {
    int start = FPosition < 0 ? 1 : 0;
    for (int i = static_cast<int>(text.size()) - 3; i > start; i -= 3) text.insert(static_cast<size_t>(i), 1, ',');
  }
  FAssociate->SetText(text);
}

void TUpDown::SetAssociate(TWinControl* value) {
  if (FAssociate && FAssociate != value) FAssociate->RemoveFreeNotification(this);
  FAssociate = value;
  if (!value) return;
  value->FreeNotification(this);
  if (value->Parent() && Parent() != value->Parent()) SetParent(value->Parent());
  int w = Width();
  // The up-down takes its place at the edit's side, the edit giving up the room.
  if (FAlignButton == udRight) {
    value->SetWidth(std::max(value->Width() - w, 0));
    SetBounds(value->Left() + value->Width(), value->Top(), w, value->Height());
  } else {
    SetBounds(value->Left(), value->Top(), w, value->Height());
    value->SetBounds(value->Left() + w, value->Top(), std::max(value->Width() - w, 0), value->Height());
  }
  UpdateAssociate();
}

void TUpDown::Notification(TComponent* component, TOperation operation) {
  TWinControl::Notification(component, operation);
  if (operation == opRemove && component == FAssociate) FAssociate = nullptr;
}

void TUpDown::Step(TUDBtnType button) {
  bool allow = true;
  if (OnChanging) OnChanging(this, allow);
  if (!allow) return;
  int v = FPosition + (button == btNext ? FIncrement : -FIncrement);
  int lo = std::min(FMin, FMax), hi = std::max(FMin, FMax);
  if (v > hi) v = FWrap ? lo : hi;
  if (v < lo) v = FWrap ? hi : lo;
  SetPosition(v);
  if (OnClick) OnClick(this, button);
}

void TUpDown::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TWinControl::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  bool first = FOrientation == udVertical ? y < Height() / 2 : x < Width() / 2;
  FPressedHalf = first ? 0 : 1;
  Invalidate();
  // The upper (or right) half steps up.
  Step(FOrientation == udVertical ? (first ? btNext : btPrev) : (first ? btPrev : btNext));
}

void TUpDown::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  FPressedHalf = -1;
  Invalidate();
  TWinControl::MouseUp(button, shift, x, y);
}

void TUpDown::Paint() {
  TCanvas* c = ControlCanvas();
  bool vertical = FOrientation == udVertical;
  TRect a = vertical ? Rect(0, 0, Width(), Height() / 2) : Rect(0, 0, Width() / 2, Height());
  TRect b = vertical ? Rect(0, Height() / 2, Width(), Height()) : Rect(Width() / 2, 0, Width(), Height());
  TColor arrow = IsEnabledInTree() ? clBtnText : clGrayText;
  TRect f = a;
  DrawButtonFace(c, f, FPressedHalf == 0, false);
  DrawArrow(c, a, vertical ? adUp : adLeft, arrow);
  f = b;
  DrawButtonFace(c, f, FPressedHalf == 1, false);
  DrawArrow(c, b, vertical ? adDown : adRight, arrow);
}
