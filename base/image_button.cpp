#include "base/image_button.h"

#include <cctype>

#include "base/toolbox/bitmap_utils.h"
#include "platform/ui/actions.h"
#include "platform/ui/forms.h"
#include "platform/ui/menus.h"
#include "platform/ui/ui_paint.h"

namespace {

TImageButton* gHotButton = nullptr;

}  // namespace

TImageButton::TImageButton(TComponent* owner) : TGraphicControl(owner) {
  SetInitialBounds(23, 22);
  SetControlStyle({csCaptureMouse, csDoubleClicks});
  SetShowHint(true);
  SetMessageHandler(CM_BUTTONPRESSED, [this](TMessage& m) { ButtonPressed(m); });
  SetMessageHandler(CM_DIALOGCHAR, [this](TMessage& m) { DialogChar(m); });
  SetMessageHandler(CM_ENABLEDCHANGED, [this](TMessage& m) {
    DefaultHandler(m);
    Repaint();
  });
  for (UINT msg : {CM_FONTCHANGED, CM_TEXTCHANGED, CM_SYSCOLORCHANGE})
    SetMessageHandler(msg, [this](TMessage& m) {
      DefaultHandler(m);
      Invalidate();
    });
  SetMessageHandler(WM_LBUTTONDBLCLK, [this](TMessage& m) { DoubleClick(m); });
}

TImageButton::~TImageButton() {
  if (gHotButton == this) gHotButton = nullptr;
  StopTimer();
}

TImageButton* TImageButton::HotButton() { return gHotButton; }

// ---- properties ----

void TImageButton::SetImages(TCustomImageList* value) {
  if (value == FImages) return;
  if (FImages) FImages->RemoveFreeNotification(this);
  FImages = value;
  if (FImages) FImages->FreeNotification(this);
  Invalidate();
}

void TImageButton::SetImageIndex(int value) {
  if (value == FImageIndex) return;
  FImageIndex = value;
  Invalidate();
}

void TImageButton::SetDrawStyle(TibDrawStyles value) {
  if (value == FDrawStyle) return;
  FDrawStyle = value;
  Invalidate();
}

void TImageButton::SetDropDownMenu(TPopupMenu* value) {
  if (FDropDownMenu) FDropDownMenu->RemoveFreeNotification(this);
  FDropDownMenu = value;
  if (FDropDownMenu) {
    FDropDownMenu->FreeNotification(this);
    FAutoRepeat = false;
  }
  Invalidate();
}

void TImageButton::SetAllowAllUp(bool value) {
  if (value == FAllowAllUp) return;
  FAllowAllUp = value;
  UpdateExclusive();
}

void TImageButton::SetGroupIndex(int value) {
  if (value == FGroupIndex) return;
  FGroupIndex = value;
  UpdateExclusive();
}

void TImageButton::SetDown(bool value) {
  if (FGroupIndex == 0) value = false;
  if (value == FDown || (FDown && !FAllowAllUp)) return;
  FDown = value;
  if (value) {
    if (FState == ibsUp) Invalidate();
    FState = ibsExclusive;
    UpdateExclusive();
  } else {
    FState = ibsUp;
    Repaint();
  }
}

void TImageButton::SetFlat(bool value) {
  if (value == FFlat) return;
  FFlat = value;
  Invalidate();
}

void TImageButton::SetLayout(TButtonLayout value) {
  if (value == FLayout) return;
  FLayout = value;
  Invalidate();
}

void TImageButton::SetMargin(int value) {
  if (value == FMargin || value < -1) return;
  FMargin = value;
  Invalidate();
}

void TImageButton::SetSpacing(int value) {
  if (value == FSpacing) return;
  FSpacing = value;
  Invalidate();
}

void TImageButton::SetTransparent(bool value) {
  if (value == FTransparent) return;
  FTransparent = value;
  TControlStyle style = ControlStyle();
  if (value) style.Exclude(csOpaque);
  else style.Include(csOpaque);
  SetControlStyle(style);
  Invalidate();
}

void TImageButton::Notification(TComponent* component, TOperation operation) {
  TGraphicControl::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == FImages) {
    FImages = nullptr;
    Invalidate();
  }
  if (component == FDropDownMenu) {
    FDropDownMenu = nullptr;
    Invalidate();
  }
}

// ---- groups ----

void TImageButton::UpdateExclusive() {
  if (FGroupIndex == 0 || !Parent()) return;
  TWinControl* parent = Parent();
  for (int i = 0; i < parent->ControlCount(); ++i)
    parent->Controls(i)->Perform(CM_BUTTONPRESSED, static_cast<WPARAM>(FGroupIndex), reinterpret_cast<LPARAM>(this));
}

void TImageButton::ButtonPressed(TMessage& message) {
  auto* sender = reinterpret_cast<TImageButton*>(message.LParam);
  if (static_cast<int>(message.WParam) != FGroupIndex || sender == this || !sender) return;
  if (sender->FDown && FDown) {
    FDown = false;
    FState = ibsUp;
    Invalidate();
  }
  FAllowAllUp = sender->FAllowAllUp;
}

// ---- actions, clicks, drop-down ----

void TImageButton::ActionChange(TBasicAction* sender) {
  TGraphicControl::ActionChange(sender);
  if (auto* action = dynamic_cast<TCustomAction*>(sender)) {
    if (action->ActionList()) SetImages(action->ActionList()->Images());
    SetImageIndex(action->ImageIndex());
  }
}

bool TImageButton::HasDropDown() const { return static_cast<bool>(OnDropDown) || FDropDownMenu != nullptr; }

void TImageButton::Click() {
  TGraphicControl::Click();
  if (HasDropDown() && FDropDownDelay == 0) DropDown();
}

void TImageButton::DropDown() {
  if (OnDropDown) OnDropDown(this);
  if (!FDropDownMenu) return;
  // Whatever the form was doing with the mouse ends before the menu takes it.
  if (TCustomForm* form = GetParentForm(this)) form->Perform(WM_CANCELMODE, 0, 0);
  if (GetCaptureControl()) SetCaptureControl(nullptr);
  FDropDownMenu->SetPopupComponent(this);
  const TPoint at = ClientToScreen(Point(-1, Height()));
  FDropDownMenu->Popup(at.x, at.y);
}

bool TImageButton::InDropDownCorner(int x, int y) const {
  return x >= 0 && x < Width() && y >= 0 && y < Height() && x + y >= Width() + Height() - 10;
}

// ---- the mouse ----

bool TImageButton::InsideForPress(int x, int y) { return x >= 0 && x < ClientWidth() && y >= 0 && y <= ClientHeight(); }

void TImageButton::StartTimer(UINT interval) {
  if (!FRepeatTimer) {
    FRepeatTimer = std::make_unique<TTimer>(nullptr);
    FRepeatTimer->OnTimer = [this](TObject* sender) {
      FInTick = true;
      try {
        TimerTick(sender);
      } catch (...) {
        FInTick = false;
        throw;
      }
      FInTick = false;
    };
  }
  FRepeatTimer->SetInterval(interval);
  FRepeatTimer->SetEnabled(true);
}

// A timer cannot be freed inside its own tick: it is stopped there and freed
// at the next press, release or the button's end.
void TImageButton::StopTimer() {
  if (!FRepeatTimer) return;
  FRepeatTimer->SetEnabled(false);
  if (!FInTick) FRepeatTimer.reset();
}

void TImageButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TGraphicControl::MouseDown(button, shift, x, y);
  if (button != mbLeft || !IsEnabledInTree()) return;
  if (!FDown) {
    FState = ibsDown;
    Invalidate();
  }
  FPressed = true;
  if ((FAutoRepeat && !FDropDownMenu) || (HasDropDown() && FDropDownDelay != 0))
    StartTimer(HasDropDown() && !FAutoRepeat ? static_cast<UINT>(FDropDownDelay) : kImageButtonFirstRepeat);
  if (!FAutoRepeat && HasDropDown() && InDropDownCorner(x, y)) {
    // The arrow drops the menu at once, before the release.
    TimerTick(nullptr);
    StopTimer();
  }
}

void TImageButton::MouseMove(TShiftState shift, int x, int y) {
  TGraphicControl::MouseMove(shift, x, y);
  if (FPressed) {
    const TibButtonState before = FState;
    if (InsideForPress(x, y)) FState = FDown ? ibsExclusive : ibsDown;
    else FState = FDown ? ibsExclusive : ibsUp;
    if (FState != before) Invalidate();
  } else if (!FHot) {
    UpdateHotState();
  }
}

void TImageButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  TGraphicControl::MouseUp(button, shift, x, y);
  if (FPressed) {
    FPressed = false;
    const bool inside = InsideForPress(x, y);
    if (inside) {
      if (FGroupIndex != 0) {
        const bool wasDown = FDown;
        SetDown(!FDown);
        if (!wasDown && FDown) Repaint();
      } else {
        FState = ibsUp;
        FHot = false;
        Invalidate();
      }
    } else if (FGroupIndex == 0) {
      FState = ibsUp;
      FHot = false;
      Invalidate();
    } else if (FDown) {
      FState = ibsExclusive;
      Repaint();
    }
    StopTimer();
    if (inside) Click();
    UpdateHotState();
  }
  StopTimer();
}

void TImageButton::TimerTick(TObject* sender) {
  if (HasDropDown() && !FAutoRepeat) {
    StopTimer();
    if (MouseCapture()) EndPressAndDropDown();
    return;
  }
  if (FRepeatTimer) FRepeatTimer->SetInterval(kImageButtonRepeat);
  if (!MouseCapture()) return;
  try {
    Click();
  } catch (...) {
    StopTimer();
    throw;
  }
}

void TImageButton::EndPressAndDropDown() {
  if (FPressed) {
    FPressed = false;
    if (FGroupIndex != 0) {
      SetDown(!FDown);
    } else {
      FState = ibsUp;
      FHot = false;
      Invalidate();
    }
    if (FDown) Repaint();
    UpdateHotState();
  }
  SetMouseCapture(false);
  DropDown();
}

void TImageButton::UpdateHotState() {
  if (!IsEnabledInTree()) return;
  const TPoint p = ScreenToClient(Mouse ? Mouse->CursorPos() : Point(-1, -1));
  const bool inside = PtInRect(ClientRect(), p);
  // The handlers act on a change only: start from the other side.
  FHot = !inside;
  if (inside) MouseEnter();
  else MouseLeave();
}

void TImageButton::MouseEnter() {
  if (FHot || !IsEnabledInTree() || GetCaptureControl()) return;
  FHot = true;
  if (FFlat) Repaint();
  if (gHotButton && gHotButton != this) {
    gHotButton->FHot = false;
    gHotButton->Invalidate();
  }
  gHotButton = this;
  TGraphicControl::MouseEnter();
}

void TImageButton::MouseLeave() {
  if (!FHot || !IsEnabledInTree() || FPressed) return;
  FHot = false;
  if (FFlat) Invalidate();
  TGraphicControl::MouseLeave();
}

void TImageButton::DialogChar(TMessage& message) {
  const char key = static_cast<char>(message.WParam);
  if (IsMenuAccelerator(key, Caption()) && IsEnabledInTree() && Visible() && Parent() && Parent()->Showing()) {
    Click();
    message.Result = 1;
    return;
  }
  DefaultHandler(message);
}

void TImageButton::DoubleClick(TMessage& message) {
  DefaultHandler(message);
  if (FDown) DblClick();
}

// ---- painting ----

void TImageButton::DrawFlatFrame(TCanvas* canvas, TRect rect) {
  const bool sunken = FState == ibsDown || FState == ibsExclusive;
  DrawEdge(canvas->Handle(), &rect, sunken ? BDR_SUNKENOUTER : BDR_RAISEDINNER,
           BF_RECT | (FTransparent ? 0 : BF_MIDDLE));
}

void TImageButton::Paint() {
  if (!IsEnabledInTree()) {
    FState = ibsDisabled;
    FPressed = false;
  } else if (FState == ibsDisabled) {
    FState = FDown && FGroupIndex != 0 ? ibsExclusive : ibsUp;
  }
  TCanvas* canvas = Canvas();
  canvas->Font()->Assign(Font());
  const int w = Width(), h = Height();
  TRect r = Rect(0, 0, w, h);
  const bool sunken = FState == ibsDown || FState == ibsExclusive;
  bool framed = false;
  if (FFlat) {
    if (sunken || (FHot && FState != ibsDisabled)) {
      DrawFlatFrame(canvas, r);
      framed = true;
    } else if (!FTransparent) {
      canvas->Brush()->SetColor(Color());
      canvas->FillRect(r);
    }
    r = Rect(r.left + 1, r.top + 1, r.right - 1, r.bottom - 1);
  } else {
    DrawFrameControl(canvas->Handle(), &r, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (sunken ? DFCS_PUSHED : 0));
  }
  int offset = 0;
  if (sunken) {
    if (FState == ibsExclusive && !(FFlat && FHot)) {
      std::unique_ptr<TBitmap> pattern;
      HBRUSH brush = MakeCheckerBrush(clBtnFace, clBtnHighlight, pattern);
      ::FillRect(canvas->Handle(), &r, brush);
      DeleteObject(brush);
    }
    offset = 1;
  }
  if (FDrawStyle.Contains(ibdsColored)) {
    const TColor saved = canvas->Brush()->Color();
    canvas->Brush()->SetColor(Color());
    canvas->FillRect(Rect(2, 2, w - 2, h - 2));
    canvas->Brush()->SetColor(saved);
  }
  if (FImages && FImageIndex >= 0 && FImageIndex < FImages->Count()) {
    FImages->Draw(canvas, (w - FImages->Width()) / 2 + offset, (h - FImages->Height()) / 2 + offset, FImageIndex,
                  IsEnabledInTree());
    // A large image covers the frame: it is drawn again over it.
    if (framed && (FImages->Width() >= w || FImages->Height() >= h)) DrawFlatFrame(canvas, Rect(0, 0, w, h));
  }
  if (FDrawStyle.Contains(ibdsPalEntry) && !FHot) {
    TRect frame = Rect(0, 0, w, h);
    Frame3D(canvas, frame, clBtnShadow, clBtnHighlight, 1);
    canvas->Pen()->SetColor(cl3DDkShadow);
    canvas->Polyline({Point(frame.right - 1, frame.top), Point(frame.left, frame.top), Point(frame.left, frame.bottom)});
  }
  if (IsEnabledInTree() &&
      (FDrawStyle.Contains(ibdsAlwaysDropDown) || (FDrawStyle.Contains(ibdsDropDown) && FDropDownMenu))) {
    canvas->Pen()->SetColor(clWhite);
    canvas->Polyline({Point(w - 8, h - 2), Point(w - 2, h - 2), Point(w - 2, h - 8), Point(w - 8, h - 2)});
    canvas->Pen()->SetColor(clBlack);
    for (int i = 0; i <= 3; ++i) {
      canvas->MoveTo(w - 6 + i, h - 3 - i);
      canvas->LineTo(w - 2, h - 3 - i);
    }
  }
}
