#include "platform/ui/controls.h"

#include <algorithm>
#include <unordered_map>

#include "platform/rtl/exceptions.h"
#include "platform/ui/actions.h"
#include "platform/ui/forms.h"
#include "platform/ui/menus.h"
#include "platform/ui/ui_paint.h"
#include "platform/win/system_info.h"

namespace {

std::unordered_map<HWND, TWinControl*>& HandleMap() {
  static std::unordered_map<HWND, TWinControl*> map;
  return map;
}
TControl* gCaptureControl = nullptr;

TRect Intersect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  if (r.right <= r.left || r.bottom <= r.top) return TRect{};
  return r;
}
bool IsEmpty(const TRect& r) { return r.right <= r.left || r.bottom <= r.top; }
TRect Offset(TRect r, int dx, int dy) { return TRect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy}; }

TShiftState ShiftFromKeys(WPARAM keys) {
  TShiftState s;
  if (keys & MK_SHIFT) s += ssShift;
  if (keys & MK_CONTROL) s += ssCtrl;
  if (keys & MK_LBUTTON) s += ssLeft;
  if (keys & MK_RBUTTON) s += ssRight;
  if (keys & MK_MBUTTON) s += ssMiddle;
  if (GetKeyState(VK_MENU) < 0) s += ssAlt;
  return s;
}

}  // namespace

// ---- TControlCanvas ----

std::vector<TControlCanvas*>& LentCanvases() {
  static std::vector<TControlCanvas*> lent;
  return lent;
}

void FreeControlCanvases() {
  std::vector<TControlCanvas*> lent = LentCanvases();
  for (auto it = lent.rbegin(); it != lent.rend(); ++it) (*it)->FreeHandle();
}

TControlCanvas::~TControlCanvas() { FreeHandle(); }

void TControlCanvas::Attach(HDC dc, const TRect& clipInControl) {
  FreeHandle();
  FDC = dc;
  FSaved = SaveDC(dc);
  TRect fr = FControl->FormRect();
  TCustomForm* form = GetParentForm(FControl);
  int top = form ? form->ClientTop() : 0;
  SetViewportOrgEx(dc, fr.left, fr.top + top, nullptr);
  IntersectClipRect(dc, clipInControl.left, clipInControl.top, clipInControl.right, clipInControl.bottom);
  SetHandle(dc);
}

void TControlCanvas::FreeHandle() {
  auto& lent = LentCanvases();
  lent.erase(std::remove(lent.begin(), lent.end(), this), lent.end());
  if (!FDC) return;
  SetHandle(nullptr);
  RestoreDC(FDC, FSaved);
  FDC = nullptr;
}

void TControlCanvas::CreateHandle() {
  // Drawing outside a paint pass (a paint box drawn on directly): the control's
  // visible part of the backing bitmap, shown at the form's next paint pass.
  TCustomForm* form = GetParentForm(FControl);
  if (!form) return;
  HDC dc = form->Backing()->Canvas()->Handle();
  TRect visible = FControl->FormRect();
  for (TWinControl* p = FControl->Parent(); p; p = p->Parent()) {
    if (p == form) break;
    visible = Intersect(visible, p->FormRect());
  }
  TRect fr = FControl->FormRect();
  Attach(dc, Offset(visible, -fr.left, -fr.top));
  form->InvalidateRect(Offset(visible, 0, form->ClientTop()));
  LentCanvases().push_back(this);
}

// ---- TControl ----

TControl::TControl(TComponent* owner) : TComponent(owner), FFont(std::make_unique<TFont>()) {
  FFont->OnChange = [this](TObject*) { FontOwnChanged(); };
}

TControl::~TControl() {
  if (gCaptureControl == this) SetCaptureControl(nullptr);
  if (TCustomForm* form = GetParentForm(this)) {
    if (form->FMouseControl == this) form->FMouseControl = nullptr;
  }
  if (FAction) {
    if (auto* a = dynamic_cast<TCustomAction*>(FAction)) a->UnregisterClient(this);
  }
  FCanvas.reset();
  if (FParent) FParent->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == FParent) return;
  if (parent == this) throw EInvalidOperation("A control cannot have itself as its parent");
  if (FParent) FParent->RemoveControl(this);
  if (parent) parent->InsertControl(this);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (left == FLeft && top == FTop && width == FWidth && height == FHeight) return;
  Invalidate();
  bool sized = width != FWidth || height != FHeight;
  FLeft = left;
  FTop = top;
  FWidth = width;
  FHeight = height;
  if (FParent && !FParent->FAligning) {
    UpdateAnchorRules();
    if (FAlign != alNone) FParent->Realign();
  }
  Invalidate();
  if (sized) Resize();
}

TRect TControl::ClientRect() { return Rect(0, 0, FWidth, FHeight); }

void TControl::SetClientWidth(int value) { SetWidth(value + FWidth - ClientWidth()); }
void TControl::SetClientHeight(int value) { SetHeight(value + FHeight - ClientHeight()); }

void TControl::SetAlign(TAlign value) {
  if (value == FAlign) return;
  FAlign = value;
  if (FParent) FParent->Realign();
}

void TControl::SetAnchors(TAnchors value) {
  FAnchors = value;
  UpdateAnchorRules();
}

void TControl::UpdateAnchorRules() {
  if (!FParent) {
    FAnchorParentWidth = -1;
    return;
  }
  TRect pc = FParent->ClientRect();
  FAnchorParentWidth = pc.right;
  FAnchorParentHeight = pc.bottom;
  FAnchorRight = pc.right - (FLeft + FWidth);
  FAnchorBottom = pc.bottom - (FTop + FHeight);
}

void TControl::SetVisible(bool value) {
  if (value == FVisible) return;
  if (!value) Invalidate();
  FVisible = value;
  if (value) Invalidate();
  VisibleChanged();
}

void TControl::VisibleChanged() {
  if (FParent && FAlign != alNone) FParent->Realign();
  Perform(CM_VISIBLECHANGED, FVisible, 0);
}

bool TControl::Showing() const { return FVisible && FParent && FParent->Showing(); }

void TControl::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  EnabledChanged();
  Perform(CM_ENABLEDCHANGED, 0, 0);
}

bool TControl::IsEnabledInTree() const {
  for (const TControl* c = this; c; c = c->FParent)
    if (!c->FEnabled) return false;
  return true;
}

void TControl::SetColor(TColor value) {
  if (value == FColor && !FParentColor) return;
  FColor = value;
  FParentColor = false;
  ColorChanged();
  Perform(CM_COLORCHANGED, 0, 0);
}

void TControl::SetParentColor(bool value) {
  FParentColor = value;
  if (value && FParent) ParentColorChanged();
}

void TControl::ParentColorChanged() {
  if (!FParentColor || !FParent) return;
  FColor = FParent->Color();
  ColorChanged();
  if (auto* w = dynamic_cast<TWinControl*>(this))
    for (TControl* c : w->FControls) c->ParentColorChanged();
}

void TControl::FontOwnChanged() {
  if (!FFontFromParent) FParentFont = false;
  FontChanged();
  Perform(CM_FONTCHANGED, 0, 0);
}

void TControl::SetParentFont(bool value) {
  FParentFont = value;
  if (value && FParent) ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (!FParentFont || !FParent) return;
  FFontFromParent = true;
  FFont->Assign(FParent->Font());
  FFontFromParent = false;
  FParentFont = true;
}

void TControl::SetText(const std::string& value) {
  if (value == FText) return;
  FText = value;
  TextChanged();
  Perform(CM_TEXTCHANGED, 0, 0);
}

void TControl::SetShowHint(bool value) {
  FShowHint = value;
  FParentShowHint = false;
}

void TControl::SetParentShowHint(bool value) {
  FParentShowHint = value;
  if (value && FParent) FShowHint = FParent->ShowHint();
}

void TControl::SetCursor(TCursor value) {
  if (value == FCursor) return;
  FCursor = value;
  Perform(CM_CURSORCHANGED, 0, 0);
}

void TControl::SetPopupMenu(TPopupMenu* value) {
  if (FPopupMenu) FPopupMenu->RemoveFreeNotification(this);
  FPopupMenu = value;
  if (value) value->FreeNotification(this);
}

void TControl::SetAction(TBasicAction* value) {
  if (value == FAction) return;
  if (auto* old = dynamic_cast<TCustomAction*>(FAction)) old->UnregisterClient(this);
  if (FAction) FAction->RemoveFreeNotification(this);
  FAction = value;
  if (!value) return;
  value->FreeNotification(this);
  if (auto* a = dynamic_cast<TCustomAction*>(value)) a->RegisterClient(this);
  ActionChange(value);
}

void TControl::ActionChange(TBasicAction* sender) {
  auto* a = dynamic_cast<TCustomAction*>(sender);
  if (!a) return;
  SetCaption(a->Caption());
  SetEnabled(a->Enabled());
  SetVisible(a->Visible());
  SetHint(a->Hint());
}

void TControl::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == FPopupMenu) FPopupMenu = nullptr;
  if (component == FAction) FAction = nullptr;
}

// ---- painting ----

TControlCanvas* TControl::ControlCanvas() {
  if (!FCanvas) FCanvas = std::make_unique<TControlCanvas>(this);
  FCanvas->Font()->Assign(FFont.get());
  return FCanvas.get();
}

void TControl::Invalidate() {
  if (!FVisible) return;
  if (!FParent) {
    // A form has no parent: its whole window repaints (a new colour, a form's Invalidate).
    if (auto* form = dynamic_cast<TCustomForm*>(this)) form->InvalidateRect(form->WindowClientRect());
    return;
  }
  TCustomForm* form = GetParentForm(this);
  if (!form) return;
  form->InvalidateRect(Offset(FormRect(), 0, form->ClientTop()));
}

void TControl::Update() {
  if (TCustomForm* form = GetParentForm(this)) form->PaintDirty();
}

void TControl::Repaint() {
  Invalidate();
  Update();
}

void TControl::EraseBackground(TCanvas* canvas) {
  canvas->Brush()->SetColor(FColor);
  canvas->Brush()->SetStyle(bsSolid);
  canvas->FillRect(ClientRect());
}

TRect TControl::FormRect() {
  int x = FLeft, y = FTop;
  if (auto* form = dynamic_cast<TCustomForm*>(this)) {
    TRect b = form->WindowClientRect();
    return Rect(0, 0, b.right, b.bottom - form->ClientTop());
  }
  for (TWinControl* p = FParent; p && !dynamic_cast<TCustomForm*>(p); p = p->FParent) {
    x += p->FLeft;
    y += p->FTop;
  }
  return Rect(x, y, x + FWidth, y + FHeight);
}

TPoint TControl::ClientOrigin() {
  TCustomForm* form = GetParentForm(this);
  if (!form) return Point(FLeft, FTop);
  TPoint o = form->ClientOrigin();
  TRect fr = FormRect();
  return Point(o.x + fr.left, o.y + fr.top);
}

TPoint TControl::ClientToScreen(TPoint point) {
  TPoint o = ClientOrigin();
  return Point(point.x + o.x, point.y + o.y);
}

TPoint TControl::ScreenToClient(TPoint point) {
  TPoint o = ClientOrigin();
  return Point(point.x - o.x, point.y - o.y);
}

void TControl::PaintTo(TCanvas* canvas, int x, int y) {
  // Paints through the form's own pass, then copies the control's pixels.
  TCustomForm* form = GetParentForm(this);
  if (!form) return;
  Invalidate();
  form->PaintDirty();
  TRect fr = Offset(FormRect(), 0, form->ClientTop());
  canvas->CopyRect(Rect(x, y, x + FWidth, y + FHeight), form->Backing()->Canvas(), fr);
}

// ---- messages ----

LRESULT TControl::Perform(UINT msg, WPARAM wParam, LPARAM lParam) {
  TMessage m{msg, wParam, lParam, 0};
  WndProc(m);
  return m.Result;
}

void TControl::WndProc(TMessage& message) {
  if (message.Msg >= WM_MOUSEMOVE && message.Msg <= WM_MBUTTONDBLCLK) {
    if (!IsEnabledInTree()) return;
  }
  Dispatch(message);
}

void TControl::Dispatch(TMessage& message) {
  auto it = FHandlers.find(message.Msg);
  if (it != FHandlers.end() && it->second) {
    it->second(message);
    return;
  }
  DefaultHandler(message);
}

void TControl::SetMessageHandler(UINT msg, TWndMethod handler) {
  if (handler) FHandlers[msg] = std::move(handler);
  else FHandlers.erase(msg);
}

void TControl::DefaultHandler(TMessage& message) {
  switch (message.Msg) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
      HandleMouseMessage(message);
      break;
    case WM_MOUSEWHEEL: {
      TPoint pos = Point(GET_X_LPARAM(message.LParam), GET_Y_LPARAM(message.LParam));
      int delta = static_cast<SHORT>(HIWORD(static_cast<DWORD>(message.WParam)));
      if (DoMouseWheel(ShiftFromKeys(LOWORD(static_cast<DWORD>(message.WParam))), delta, pos)) message.Result = 1;
      else if (FParent) message.Result = FParent->Perform(message.Msg, message.WParam, message.LParam);
      break;
    }
    case CM_MOUSEENTER:
      MouseEnter();
      break;
    case CM_MOUSELEAVE:
      MouseLeave();
      break;
    case WM_GETTEXTLENGTH:
      message.Result = static_cast<LRESULT>(Text().size());
      break;
    case WM_SETTEXT:
      SetText(message.LParam ? reinterpret_cast<const char*>(message.LParam) : "");
      message.Result = TRUE;
      break;
    case WM_GETTEXT: {
      std::string t = Text();
      int max = static_cast<int>(message.WParam);
      char* out = reinterpret_cast<char*>(message.LParam);
      if (!out || max <= 0) break;
      int n = std::min<int>(static_cast<int>(t.size()), max - 1);
      std::copy(t.begin(), t.begin() + n, out);
      out[n] = 0;
      message.Result = n;
      break;
    }
    case WM_CANCELMODE:
      if (MouseCapture()) SetMouseCapture(false);
      break;
    default:
      break;
  }
}

void TControl::HandleMouseMessage(TMessage& message) {
  int x = GET_X_LPARAM(message.LParam);
  int y = GET_Y_LPARAM(message.LParam);
  TShiftState shift = ShiftFromKeys(message.WParam);
  UINT msg = message.Msg;
  if (msg == WM_MOUSEMOVE) {
    MouseMove(shift, x, y);
    return;
  }
  TMouseButton button = mbLeft;
  if (msg >= WM_RBUTTONDOWN && msg <= WM_RBUTTONDBLCLK) button = mbRight;
  if (msg >= WM_MBUTTONDOWN) button = mbMiddle;
  int kind = (msg - WM_LBUTTONDOWN) % 3;  // 0 down, 1 up, 2 double click
  if (kind == 2 && !FControlStyle.Contains(csDoubleClicks)) kind = 0;
  if (kind == 0 || kind == 2) {
    if (FControlStyle.Contains(csCaptureMouse)) SetMouseCapture(true);
    if (button == mbLeft) {
      IncludeState(csLButtonDown);
      if (kind == 0 && FControlStyle.Contains(csClickEvents)) IncludeState(csClicked);
      if (kind == 2 && FControlStyle.Contains(csClickEvents)) DblClick();
    }
    if (kind == 2) shift += ssDouble;
    MouseDown(button, shift, x, y);
    return;
  }
  // Button up: the click comes before OnMouseUp, when the release is over the control.
  if (FControlStyle.Contains(csCaptureMouse) && MouseCapture()) SetMouseCapture(false);
  if (button == mbLeft) {
    ExcludeState(csLButtonDown);
    if (FControlState.Contains(csClicked)) {
      ExcludeState(csClicked);
      if (x >= 0 && y >= 0 && x < FWidth && y < FHeight) UserClick();
    }
  }
  MouseUp(button, shift, x, y);
  if (button == mbRight) {
    bool handled = false;
    if (OnContextPopup) OnContextPopup(this, Point(x, y), handled);
    if (!handled) {
      for (TControl* c = this; c; c = c->FParent) {
        if (c->FPopupMenu) {
          c->FPopupMenu->SetPopupComponent(this);
          TPoint p = ClientToScreen(Point(x, y));
          c->FPopupMenu->Popup(p.x, p.y);
          break;
        }
      }
    }
  }
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}
void TControl::MouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}
void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}
bool TControl::DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) {
  bool handled = false;
  if (OnMouseWheel) OnMouseWheel(this, shift, wheelDelta, mousePos, handled);
  return handled;
}
void TControl::MouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
}
void TControl::MouseLeave() {
  if (OnMouseLeave) OnMouseLeave(this);
}
void TControl::Resize() {
  if (OnResize) OnResize(this);
}

void TControl::Click() {
  // A linked action runs in place of OnClick when OnClick is its own Execute.
  if (OnClick) OnClick(this);
  else if (FAction) FAction->Execute();
}
void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

bool TControl::MouseCapture() { return gCaptureControl == this; }
void TControl::SetMouseCapture(bool value) {
  if (value) SetCaptureControl(this);
  else if (gCaptureControl == this) SetCaptureControl(nullptr);
}

void TControl::BringToFront() {
  if (!FParent) return;
  auto& list = FParent->FControls;
  list.erase(std::find(list.begin(), list.end(), this));
  list.push_back(this);
  Invalidate();
}

void TControl::SendToBack() {
  if (!FParent) return;
  auto& list = FParent->FControls;
  list.erase(std::find(list.begin(), list.end(), this));
  list.insert(list.begin(), this);
  Invalidate();
}

TCustomForm* TControl::FindParentForm() const { return GetParentForm(this); }

TCustomForm* GetParentForm(const TControl* control) {
  const TControl* c = control;
  while (c && c->Parent()) c = c->Parent();
  return const_cast<TCustomForm*>(dynamic_cast<const TCustomForm*>(c));
}

std::string GetShortHint(const std::string& hint) {
  auto bar = hint.find('|');
  return bar == std::string::npos ? hint : hint.substr(0, bar);
}
std::string GetLongHint(const std::string& hint) {
  auto bar = hint.find('|');
  return bar == std::string::npos ? hint : hint.substr(bar + 1);
}

TControl* GetCaptureControl() { return gCaptureControl; }

void SetCaptureControl(TControl* control) {
  if (control == gCaptureControl) return;
  gCaptureControl = control;
  TCustomForm* form = control ? GetParentForm(control) : nullptr;
  HWND window = form ? form->Handle() : nullptr;
  if (window) {
    SetCapture(window);
    UIBackend().SetCapture(window);
  } else {
    ReleaseCapture();
    UIBackend().SetCapture(nullptr);
  }
}

// ---- TWinControl ----

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {
  FHandle = AllocateHWnd([this](TMessage& m) { WndProc(m); });
  HandleMap()[FHandle] = this;
}

TWinControl::~TWinControl() {
  if (TCustomForm* form = GetParentForm(this)) form->DefocusControl(this, true);
  // Children not owned by this control leave the tree; the owner frees them.
  while (!FControls.empty()) RemoveControl(FControls.back());
  HandleMap().erase(FHandle);
  DeallocateHWnd(FHandle);
}

TWinControl* TWinControl::FindControl(HWND window) {
  auto it = HandleMap().find(window);
  return it == HandleMap().end() ? nullptr : it->second;
}

void TWinControl::InsertControl(TControl* control) {
  control->FParent = this;
  FControls.push_back(control);
  if (auto* w = dynamic_cast<TWinControl*>(control)) FTabList.push_back(w);
  if (control->FParentFont) control->ParentFontChanged();
  if (control->FParentColor) control->ParentColorChanged();
  if (control->FParentShowHint) control->FShowHint = ShowHint();
  control->UpdateAnchorRules();
  if (control->FAlign != alNone) Realign();
  control->Invalidate();
}

void TWinControl::RemoveControl(TControl* control) {
  auto it = std::find(FControls.begin(), FControls.end(), control);
  if (it == FControls.end()) return;
  control->Invalidate();
  if (auto* w = dynamic_cast<TWinControl*>(control)) {
    if (TCustomForm* form = GetParentForm(this)) form->DefocusControl(w, true);
    FTabList.erase(std::remove(FTabList.begin(), FTabList.end(), w), FTabList.end());
  }
  if (TCustomForm* form = GetParentForm(this)) {
    if (form->FMouseControl == control) form->FMouseControl = nullptr;
  }
  FControls.erase(it);
  control->FParent = nullptr;
  if (control->FAlign != alNone) Realign();
}

bool TWinControl::ContainsControl(TControl* control) const {
  for (TControl* c = control; c; c = c->Parent())
    if (c == this) return true;
  return false;
}

TControl* TWinControl::ControlAtPos(TPoint pos, bool allowDisabled, bool allowWinControls) {
  // Window children lie above graphic ones; later siblings above earlier ones.
  auto hit = [&](TControl* c) {
    return c->Visible() && (allowDisabled || c->Enabled()) && pos.x >= c->Left() && pos.y >= c->Top() &&
           pos.x < c->Left() + c->Width() && pos.y < c->Top() + c->Height();
  };
  if (allowWinControls) {
    for (auto it = FControls.rbegin(); it != FControls.rend(); ++it)
      if (dynamic_cast<TWinControl*>(*it) && hit(*it)) return *it;
  }
  for (auto it = FControls.rbegin(); it != FControls.rend(); ++it)
    if (!dynamic_cast<TWinControl*>(*it) && hit(*it)) return *it;
  return nullptr;
}

int TWinControl::TabOrder() const {
  if (!Parent()) return -1;
  auto& list = Parent()->FTabList;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int value) {
  if (!Parent()) return;
  auto& list = Parent()->FTabList;
  list.erase(std::find(list.begin(), list.end(), this));
  value = std::clamp(value, 0, static_cast<int>(list.size()));
  list.insert(list.begin() + value, this);
}

bool TWinControl::CanFocus() const {
  for (const TControl* c = this; c; c = c->Parent()) {
    if (!c->Visible() || !c->Enabled()) return false;
  }
  TCustomForm* form = GetParentForm(this);
  return form && form->Visible();
}

bool TWinControl::Focused() const {
  TCustomForm* form = GetParentForm(this);
  return form && form->ActiveControl() == this;
}

void TWinControl::SetFocus() {
  TCustomForm* form = GetParentForm(this);
  if (!form) return;
  if (form == this) {
    form->BringToFront();
    return;
  }
  if (!CanFocus()) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  form->FocusControl(this);
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& list) {
  for (TWinControl* w : FTabList) {
    list.push_back(w);
    w->GetTabOrderList(list);
  }
}

TWinControl* TWinControl::FindNextControl(TWinControl* current, bool goForward, bool checkTabStop,
                                          bool checkParent) {
  std::vector<TWinControl*> list;
  GetTabOrderList(list);
  if (list.empty()) return nullptr;
  int n = static_cast<int>(list.size());
  int start = -1;
  for (int i = 0; i < n; ++i)
    if (list[i] == current) start = i;
  if (start < 0) start = goForward ? n - 1 : 0;
  int i = start;
  for (int step = 0; step < n; ++step) {
    i = goForward ? (i + 1) % n : (i + n - 1) % n;
    TWinControl* c = list[i];
    if (c == current) break;
    if ((!checkTabStop || c->TabStop()) && (!checkParent || c->Parent() == this) && c->CanFocus()) return c;
  }
  return nullptr;
}

void TWinControl::SelectNext(TWinControl* current, bool goForward, bool checkTabStop) {
  if (TWinControl* next = FindNextControl(current, goForward, checkTabStop, false)) next->SetFocus();
}

void TWinControl::SetBorderWidth(int value) {
  FBorderWidth = std::max(value, 0);
  Realign();
  Invalidate();
}

void TWinControl::EnableAlign() {
  if (--FAlignLevel <= 0) {
    FAlignLevel = 0;
    Realign();
  }
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
  bool sized = width != Width() || height != Height();
  TControl::SetBounds(left, top, width, height);
  if (sized) Realign();
}

void TWinControl::Invalidate() { TControl::Invalidate(); }

void TWinControl::AdjustClientRect(TRect& rect) {
  rect.left += FBorderWidth;
  rect.top += FBorderWidth;
  rect.right -= FBorderWidth;
  rect.bottom -= FBorderWidth;
}

TRect TWinControl::ClientRect() {
  TRect r = TControl::ClientRect();
  if (ScrollBarVisible(FHandle, SB_VERT)) r.right = std::max<LONG>(0, r.right - GetSystemMetrics(SM_CXVSCROLL));
  if (ScrollBarVisible(FHandle, SB_HORZ)) r.bottom = std::max<LONG>(0, r.bottom - GetSystemMetrics(SM_CYHSCROLL));
  return r;
}

void TWinControl::Realign() {
  if (FAlignLevel > 0 || FAligning) return;
  TRect r = ClientRect();
  AdjustClientRect(r);
  AlignControls(nullptr, r);
}

void TWinControl::AlignControls(TControl*, TRect& rect) {
  FAligning = true;
  // Each side in turn, in the order the controls were put there, as the framework lays them out.
  for (TAlign side : {alTop, alBottom, alLeft, alRight, alClient}) {
    for (TControl* c : FControls) {
      if (c->Align() != side || !c->Visible()) continue;
      int w = c->Width(), h = c->Height();
      int rw = std::max<int>(rect.right - rect.left, 0), rh = std::max<int>(rect.bottom - rect.top, 0);
      switch (side) {
        case alTop:
          c->SetBounds(rect.left, rect.top, rw, h);
          rect.top += h;
          break;
        case alBottom:
          c->SetBounds(rect.left, rect.bottom - h, rw, h);
          rect.bottom -= h;
          break;
        case alLeft:
          c->SetBounds(rect.left, rect.top, w, rh);
          rect.left += w;
          break;
        case alRight:
          c->SetBounds(rect.right - w, rect.top, w, rh);
          rect.right -= w;
          break;
        default:
          c->SetBounds(rect.left, rect.top, rw, rh);
          break;
      }
    }
  }
  // Anchored controls keep their distances to the right and bottom edges.
  TRect pc = ClientRect();
  for (TControl* c : FControls) {
    if (c->Align() != alNone || c->FAnchorParentWidth < 0) continue;
    TAnchors a = c->Anchors();
    int l = c->Left(), t = c->Top(), w = c->Width(), h = c->Height();
    if (a.Contains(akRight)) {
      if (a.Contains(akLeft)) w = pc.right - c->FAnchorRight - l;
      else l = pc.right - c->FAnchorRight - w;
    }
    if (a.Contains(akBottom)) {
      if (a.Contains(akTop)) h = pc.bottom - c->FAnchorBottom - t;
      else t = pc.bottom - c->FAnchorBottom - h;
    }
    c->SetBounds(l, t, w, h);
  }
  FAligning = false;
}

void TWinControl::VisibleChanged() {
  TControl::VisibleChanged();
  if (!Visible()) {
    if (TCustomForm* form = GetParentForm(this)) {
      if (form != this) form->DefocusControl(this, false);
    }
  }
}

void TWinControl::EnabledChanged() {
  TControl::EnabledChanged();
  if (!Enabled()) {
    if (TCustomForm* form = GetParentForm(this)) {
      if (form != this) form->DefocusControl(this, false);
    }
  }
  for (TControl* c : FControls) c->Invalidate();
}

void TWinControl::FontChanged() {
  TControl::FontChanged();
  for (TControl* c : FControls) c->ParentFontChanged();
}

void TWinControl::ColorChanged() {
  TControl::ColorChanged();
  for (TControl* c : FControls) c->ParentColorChanged();
}

namespace {

// A press on one of a window's own scroll bars: arrows and the track send line
// and page requests, the thumb is dragged with the mouse captured, and the
// window hears WM_HSCROLL or WM_VSCROLL as from a real bar.
struct TBarDrag {
  int bar = -1;
  int grab = 0;      // pointer offset inside the thumb
  int position = 0;  // the last tracked position
  bool thumb = false;
};
std::map<HWND, TBarDrag>& BarDrags() {
  static std::map<HWND, TBarDrag> drags;
  return drags;
}

}  // namespace

bool TWinControl::ScrollBarMouse(TMessage& message) {
  const UINT msg = message.Msg;
  if (msg != WM_LBUTTONDOWN && msg != WM_LBUTTONDBLCLK && msg != WM_MOUSEMOVE && msg != WM_LBUTTONUP) return false;
  const bool h = ScrollBarVisible(FHandle, SB_HORZ), v = ScrollBarVisible(FHandle, SB_VERT);
  auto found = BarDrags().find(FHandle);
  if (!h && !v && found == BarDrags().end()) return false;
  const TPoint p = Point(GET_X_LPARAM(message.LParam), GET_Y_LPARAM(message.LParam));
  const TRect cr = ClientRect();
  const int cx = GetSystemMetrics(SM_CXVSCROLL), cy = GetSystemMetrics(SM_CYHSCROLL);
  auto barRect = [&](int bar) {
    return bar == SB_VERT ? Rect(cr.right, 0, cr.right + cx, cr.bottom) : Rect(0, cr.bottom, cr.right, cr.bottom + cy);
  };
  auto send = [&](int bar, WORD code, int pos) {
    Perform(bar == SB_HORZ ? WM_HSCROLL : WM_VSCROLL, MAKELONG(code, static_cast<WORD>(pos)), 0);
  };
  if (found != BarDrags().end()) {
    TBarDrag& d = found->second;
    const bool horizontal = d.bar == SB_HORZ;
    SCROLLINFO si;
    si.fMask = SIF_ALL;
    GetScrollInfo(FHandle, d.bar, &si);
    const TRect r = barRect(d.bar);
    if (msg == WM_MOUSEMOVE && d.thumb) {
      const int thick = horizontal ? r.bottom - r.top : r.right - r.left;
      const int offset = (horizontal ? p.x - r.left : p.y - r.top) - thick - d.grab;
      d.position = ScrollBarPositionAt(r, horizontal, si, offset);
      send(d.bar, SB_THUMBTRACK, d.position);
    } else if (msg == WM_LBUTTONUP) {
      const TBarDrag done = d;
      BarDrags().erase(found);
      SetMouseCapture(false);
      if (done.thumb) send(done.bar, SB_THUMBPOSITION, done.position);
      send(done.bar, SB_ENDSCROLL, 0);
    }
    return true;
  }
  if (msg != WM_LBUTTONDOWN && msg != WM_LBUTTONDBLCLK) return false;
  for (int bar : {SB_VERT, SB_HORZ}) {
    if (!(bar == SB_VERT ? v : h)) continue;
    const TRect r = barRect(bar);
    if (!PtInRect(r, p)) continue;
    const bool horizontal = bar == SB_HORZ;
    SCROLLINFO si;
    si.fMask = SIF_ALL;
    GetScrollInfo(FHandle, bar, &si);
    const int thick = horizontal ? r.bottom - r.top : r.right - r.left;
    const int along = horizontal ? p.x - r.left : p.y - r.top;
    const int length = horizontal ? r.right - r.left : r.bottom - r.top;
    const TRect t = ScrollBarThumbRect(r, horizontal, si);
    const int t1 = horizontal ? t.left - r.left : t.top - r.top, t2 = horizontal ? t.right - r.left : t.bottom - r.top;
    TBarDrag d;
    d.bar = bar;
    if (along < thick) send(bar, SB_LINEUP, 0);
    else if (along >= length - thick) send(bar, SB_LINEDOWN, 0);
    else if (t2 > t1 && along < t1) send(bar, SB_PAGEUP, 0);
    else if (t2 > t1 && along >= t2) send(bar, SB_PAGEDOWN, 0);
    else if (t2 > t1) {
      d.thumb = true;
      d.grab = along - t1;
      d.position = si.nPos;
    }
    BarDrags()[FHandle] = d;
    SetMouseCapture(true);
    return true;
  }
  return false;
}

void TWinControl::WndProc(TMessage& message) {
  if (ScrollBarMouse(message)) return;
  TControl::WndProc(message);
}

void TWinControl::DefaultHandler(TMessage& message) {
  switch (message.Msg) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      Invalidate();
      break;
    case WM_PAINT:
      Repaint();
      break;
    case WM_GETDLGCODE:
      message.Result = DialogCode();
      break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      WORD key = static_cast<WORD>(message.WParam);
      message.Result = DoKeyDown(key, KeyboardShiftState()) ? 1 : 0;
      break;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      WORD key = static_cast<WORD>(message.WParam);
      message.Result = DoKeyUp(key, KeyboardShiftState()) ? 1 : 0;
      break;
    }
    case WM_CHAR: {
      char c = message.WParam < 0x80 ? static_cast<char>(message.WParam) : '?';
      message.Result = DoKeyPress(c) ? 1 : 0;
      break;
    }
    case WM_SETFONT:
      break;
    default:
      TControl::DefaultHandler(message);
      break;
  }
}

bool TWinControl::DoKeyDown(WORD& key, TShiftState shift) {
  TCustomForm* form = GetParentForm(this);
  if (form && form != this && form->KeyPreview()) {
    form->KeyDown(key, shift);
    if (key == 0) return true;
  }
  KeyDown(key, shift);
  return key == 0;
}

bool TWinControl::DoKeyUp(WORD& key, TShiftState shift) {
  TCustomForm* form = GetParentForm(this);
  if (form && form != this && form->KeyPreview()) {
    form->KeyUp(key, shift);
    if (key == 0) return true;
  }
  KeyUp(key, shift);
  return key == 0;
}

bool TWinControl::DoKeyPress(char& key) {
  TCustomForm* form = GetParentForm(this);
  if (form && form != this && form->KeyPreview()) {
    form->KeyPress(key);
    if (key == 0) return true;
  }
  KeyPress(key);
  return key == 0;
}

void TWinControl::KeyDown(WORD& key, TShiftState shift) {
  if (OnKeyDown) OnKeyDown(this, key, shift);
}
void TWinControl::KeyUp(WORD& key, TShiftState shift) {
  if (OnKeyUp) OnKeyUp(this, key, shift);
}
void TWinControl::KeyPress(char& key) {
  if (OnKeyPress) OnKeyPress(this, key);
}
void TWinControl::DoEnter() {
  if (OnEnter) OnEnter(this);
}
void TWinControl::DoExit() {
  if (OnExit) OnExit(this);
}

void TWinControl::PaintControl(TControl* control, HDC dc, const TRect& clip, const std::vector<TRect>& covered) {
  TRect fr = control->FormRect();
  TCustomForm* form = GetParentForm(control);
  int top = form ? form->ClientTop() : 0;
  TRect area = Intersect(Offset(fr, 0, top), clip);
  if (IsEmpty(area)) return;
  TControlCanvas* canvas = control->ControlCanvas();
  canvas->Attach(dc, Offset(area, -fr.left, -fr.top - top));
  for (const TRect& r : covered) {
    const TRect own = Offset(r, -fr.left, -fr.top - top);
    ExcludeClipRect(dc, own.left, own.top, own.right, own.bottom);
  }
  canvas->Brush()->SetColor(control->Color());
  canvas->Brush()->SetStyle(bsSolid);
  canvas->Pen()->SetColor(clBlack);
  canvas->Pen()->SetStyle(psSolid);
  canvas->Pen()->SetWidth(1);
  try {
    if (!control->Transparent()) control->EraseBackground(canvas);
    control->Paint();
    if (auto* w = dynamic_cast<TWinControl*>(control)) w->PaintScrollBars(canvas);
  } catch (...) {
    canvas->FreeHandle();
    throw;
  }
  canvas->FreeHandle();
}

std::vector<TRect> TWinControl::OpaqueChildAreas(const TRect& inner) {
  // A windowed child that is not transparent paints every pixel of its
  // rectangle (background, drawing, scroll bars), so, as with a window that
  // clips its children, its parent and the graphic controls under it leave
  // that part alone: a full-window picture view is not first filled with the
  // form's colour at every frame.
  std::vector<TRect> covered;
  TCustomForm* form = GetParentForm(this);
  const int top = form ? form->ClientTop() : 0;
  for (TControl* c : FControls) {
    auto* w = dynamic_cast<TWinControl*>(c);
    if (!w || !w->Visible() || w->Transparent() || !w->HandleAllocated()) continue;
    const TRect r = Intersect(Offset(w->FormRect(), 0, top), inner);
    if (!IsEmpty(r)) covered.push_back(r);
  }
  return covered;
}

void TWinControl::PaintTree(HDC dc, const TRect& clip) {
  TCustomForm* form = GetParentForm(this);
  int top = form ? form->ClientTop() : 0;
  TRect area = Intersect(Offset(FormRect(), 0, top), clip);
  if (IsEmpty(area)) return;
  // Children stay inside the client area (less scroll bars).
  TRect fr = FormRect();
  TRect cr = ClientRect();
  TRect inner = Intersect(area, Offset(cr, fr.left, fr.top + top));
  const std::vector<TRect> covered = IsEmpty(inner) ? std::vector<TRect>{} : OpaqueChildAreas(inner);
  PaintControl(this, dc, area, covered);
  if (IsEmpty(inner)) return;
  std::vector<TControl*> children = FControls;
  for (TControl* c : children)
    if (c->Visible() && !dynamic_cast<TWinControl*>(c)) PaintControl(c, dc, inner, covered);
  for (TControl* c : children)
    if (c->Visible())
      if (auto* w = dynamic_cast<TWinControl*>(c)) w->PaintTree(dc, inner);
}

void TWinControl::PaintScrollBars(TCanvas* canvas) {
  bool h = ScrollBarVisible(FHandle, SB_HORZ), v = ScrollBarVisible(FHandle, SB_VERT);
  if (!h && !v) return;
  TRect cr = ClientRect();
  int cx = GetSystemMetrics(SM_CXVSCROLL), cy = GetSystemMetrics(SM_CYHSCROLL);
  SCROLLINFO si;
  si.fMask = SIF_ALL;
  if (v) {
    GetScrollInfo(FHandle, SB_VERT, &si);
    DrawScrollBar(canvas, Rect(cr.right, 0, cr.right + cx, cr.bottom), false, si, IsEnabledInTree());
  }
  if (h) {
    GetScrollInfo(FHandle, SB_HORZ, &si);
    DrawScrollBar(canvas, Rect(0, cr.bottom, cr.right, cr.bottom + cy), true, si, IsEnabledInTree());
  }
  if (h && v) {
    canvas->Brush()->SetColor(clBtnFace);
    canvas->FillRect(Rect(cr.right, cr.bottom, cr.right + cx, cr.bottom + cy));
  }
}

// ---- the two painted bases ----

TGraphicControl::TGraphicControl(TComponent* owner) : TControl(owner) {}

TCustomControl::TCustomControl(TComponent* owner) : TWinControl(owner) {}

// ---- scrolling ----

void TControlScrollBar::SetPosition(int value) {
  if (!FControl) {
    FPosition = value;
    return;
  }
  TRect cr = FControl->ClientRect();
  int page = FKind == SB_HORZ ? cr.right : cr.bottom;
  value = std::clamp(value, 0, std::max(FRange - page, 0));
  if (value == FPosition) return;
  int delta = FPosition - value;
  FPosition = value;
  if (FKind == SB_HORZ) FControl->ScrollBy(delta, 0);
  else FControl->ScrollBy(0, delta);
  SetScrollPos(FControl->Handle(), FKind, value, TRUE);
}

void TControlScrollBar::SetRange(int value) {
  FRange = std::max(value, 0);
  if (FControl) FControl->UpdateScrollBars();
}

void TControlScrollBar::SetVisible(bool value) {
  FVisible = value;
  if (FControl) FControl->UpdateScrollBars();
}

bool TControlScrollBar::IsScrollBarVisible() { return FControl && ScrollBarVisible(FControl->Handle(), FKind); }

TScrollingWinControl::TScrollingWinControl(TComponent* owner) : TWinControl(owner) {
  FHorz.FControl = this;
  FHorz.FKind = SB_HORZ;
  FVert.FControl = this;
  FVert.FKind = SB_VERT;
}

void TScrollingWinControl::SetAutoScroll(bool value) {
  FAutoScroll = value;
  UpdateScrollBars();
}

void TScrollingWinControl::ScrollBy(int dx, int dy) {
  DisableAlign();
  for (int i = 0; i < ControlCount(); ++i) {
    TControl* c = Controls(i);
    c->SetBounds(c->Left() + dx, c->Top() + dy, c->Width(), c->Height());
  }
  --FAlignLevel;
  Invalidate();
}

void TScrollingWinControl::UpdateScrollBars() {
  for (TControlScrollBar* bar : {&FHorz, &FVert}) {
    TRect r = TControl::ClientRect();
    int page = bar->FKind == SB_HORZ ? r.right : r.bottom;
    bool show = bar->FVisible && bar->FRange > page;
    ShowScrollBar(Handle(), bar->FKind, show);
    if (show) {
      SCROLLINFO si;
      si.fMask = SIF_ALL;
      si.nMin = 0;
      si.nMax = bar->FRange - 1;
      si.nPage = static_cast<UINT>(page);
      si.nPos = bar->FPosition;
      SetScrollInfo(Handle(), bar->FKind, &si, TRUE);
    } else if (bar->FPosition != 0) {
      bar->SetPosition(0);
    }
  }
  Invalidate();
}

void TScrollingWinControl::ScrollInView(TControl* control) {
  if (!control || !ContainsControl(control)) return;
  TRect cr = ClientRect();
  if (control->Left() < 0) FHorz.SetPosition(FHorz.Position() + control->Left());
  else if (control->Left() + control->Width() > cr.right)
    FHorz.SetPosition(FHorz.Position() + control->Left() + control->Width() - cr.right);
  if (control->Top() < 0) FVert.SetPosition(FVert.Position() + control->Top());
  else if (control->Top() + control->Height() > cr.bottom)
    FVert.SetPosition(FVert.Position() + control->Top() + control->Height() - cr.bottom);
}

void TScrollingWinControl::Resize() {
  if (FHorz.FRange || FVert.FRange) UpdateScrollBars();
  TWinControl::Resize();
}

void TScrollingWinControl::WndProc(TMessage& message) {
  if (message.Msg == WM_HSCROLL || message.Msg == WM_VSCROLL) {
    TControlScrollBar* bar = message.Msg == WM_HSCROLL ? &FHorz : &FVert;
    TRect cr = ClientRect();
    int page = message.Msg == WM_HSCROLL ? cr.right : cr.bottom;
    int pos = bar->Position();
    switch (LOWORD(static_cast<DWORD>(message.WParam))) {
      case SB_LINEUP: pos -= bar->Increment(); break;
      case SB_LINEDOWN: pos += bar->Increment(); break;
      case SB_PAGEUP: pos -= page; break;
      case SB_PAGEDOWN: pos += page; break;
      case SB_THUMBPOSITION:
      case SB_THUMBTRACK: pos = static_cast<SHORT>(HIWORD(static_cast<DWORD>(message.WParam))); break;
      case SB_TOP: pos = 0; break;
      case SB_BOTTOM: pos = bar->Range(); break;
      default: break;
    }
    bar->SetPosition(pos);
    return;
  }
  TWinControl::WndProc(message);
}

// ---- Windows calls on control windows ----

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL) {
  TWinControl* c = TWinControl::FindControl(window);
  if (!c) return FALSE;
  if (!rect) {
    c->Invalidate();
    return TRUE;
  }
  TCustomForm* form = GetParentForm(c);
  if (!form) return TRUE;
  TRect fr = c->FormRect();
  int top = form->ClientTop();
  TRect r = Intersect(Offset(*rect, fr.left, fr.top + top), Offset(fr, 0, top));
  if (!IsEmpty(r)) form->InvalidateRect(r);
  return TRUE;
}

BOOL UpdateWindow(HWND window) {
  TWinControl* c = TWinControl::FindControl(window);
  if (!c) return FALSE;
  c->Update();
  return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
  TWinControl* c = TWinControl::FindControl(window);
  if (!c || !rect) return FALSE;
  *rect = c->ClientRect();
  return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
  TWinControl* c = TWinControl::FindControl(window);
  if (!c || !rect) return FALSE;
  if (auto* form = dynamic_cast<TCustomForm*>(c)) {
    *rect = form->BoundsRect();
    return TRUE;
  }
  TPoint o = c->ClientOrigin();
  *rect = Rect(o.x, o.y, o.x + c->Width(), o.y + c->Height());
  return TRUE;
}

BOOL IsWindowVisible(HWND window) {
  TWinControl* c = TWinControl::FindControl(window);
  return c && c->Showing() ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND window) {
  TWinControl* c = TWinControl::FindControl(window);
  return c && c->Enabled() ? TRUE : FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable) {
  TWinControl* c = TWinControl::FindControl(window);
  if (!c) return FALSE;
  BOOL wasDisabled = c->Enabled() ? FALSE : TRUE;
  c->SetEnabled(enable != FALSE);
  return wasDisabled;
}

BOOL ClientToScreen(HWND window, POINT* point) {
  TWinControl* c = TWinControl::FindControl(window);
  if (!c || !point) return FALSE;
  *point = c->ClientToScreen(*point);
  return TRUE;
}

BOOL ScreenToClient(HWND window, POINT* point) {
  TWinControl* c = TWinControl::FindControl(window);
  if (!c || !point) return FALSE;
  *point = c->ScreenToClient(*point);
  return TRUE;
}

HWND SetFocus(HWND window) {
  HWND old = GetFocus();
  if (TWinControl* c = TWinControl::FindControl(window)) {
    if (c->CanFocus() || dynamic_cast<TCustomForm*>(c)) c->SetFocus();
  }
  return old;
}

HWND GetFocus() {
  if (!Screen || !Screen->ActiveForm()) return nullptr;
  TWinControl* c = Screen->ActiveForm()->ActiveControl();
  return c ? c->Handle() : Screen->ActiveForm()->Handle();
}

HWND GetActiveWindow() { return Screen && Screen->ActiveForm() ? Screen->ActiveForm()->Handle() : nullptr; }
HWND GetForegroundWindow() { return GetActiveWindow(); }

BOOL SetForegroundWindow(HWND window) {
  auto* form = dynamic_cast<TCustomForm*>(TWinControl::FindControl(window));
  if (!form) return FALSE;
  form->BringToFront();
  return TRUE;
}

BOOL ShowWindow(HWND window, int showCommand) {
  TWinControl* c = TWinControl::FindControl(window);
  if (!c) return FALSE;
  BOOL was = c->Visible() ? TRUE : FALSE;
  auto* form = dynamic_cast<TCustomForm*>(c);
  switch (showCommand) {
    case SW_HIDE: c->SetVisible(false); break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
    case SW_SHOWMINNOACTIVE:
      if (form) form->SetWindowState(wsMinimized);
      break;
    case SW_MAXIMIZE:
      if (form) form->SetWindowState(wsMaximized);
      break;
    case SW_RESTORE:
      if (form) form->SetWindowState(wsNormal);
      c->SetVisible(true);
      break;
    default: c->SetVisible(true); break;
  }
  return was;
}

BOOL SetWindowText(HWND window, const char* text) {
  TWinControl* c = TWinControl::FindControl(window);
  if (!c) return FALSE;
  c->SetText(text ? text : "");
  return TRUE;
}

int GetWindowText(HWND window, char* text, int maxCount) {
  return static_cast<int>(SendMessage(window, WM_GETTEXT, static_cast<WPARAM>(maxCount), reinterpret_cast<LPARAM>(text)));
}
