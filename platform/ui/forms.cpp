#include "platform/ui/forms.h"

#include <algorithm>
#include <utility>

#include <unistd.h>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/threads.h"
#include "platform/ui/actions.h"
#include "platform/ui/caret.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/hint_window.h"
#include "platform/ui/menus.h"
#include "platform/ui/picture_file.h"
#include "platform/ui/ui_paint.h"
#include "platform/win/shell.h"
#include "platform/win/system_info.h"

TApplication* Application = nullptr;
TScreen* Screen = nullptr;
TMouse* Mouse = nullptr;

void ForgetHintWindow();

namespace {

TRect Unite(const TRect& a, const TRect& b) {
  return TRect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}
TRect Intersect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  if (r.right <= r.left || r.bottom <= r.top) return TRect{};
  return r;
}
bool IsEmpty(const TRect& r) { return r.right <= r.left || r.bottom <= r.top; }

bool IsMouseMessage(UINT msg) { return msg >= WM_MOUSEMOVE && msg <= WM_MBUTTONDBLCLK; }
bool IsButtonDown(UINT msg) {
  return msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN || msg == WM_LBUTTONDBLCLK ||
         msg == WM_RBUTTONDBLCLK || msg == WM_MBUTTONDBLCLK;
}

constexpr int kMenuBarHeight = 20;

}  // namespace

// ---- TCustomForm ----

void* TCustomForm::operator new(std::size_t size) { return ::operator new(size); }
void TCustomForm::operator delete(void* memory) { ::operator delete(memory); }

void TCustomForm::operator delete(TCustomForm* form, std::destroying_delete_t) {
  if (!form->FDestroyFired) {
    form->FDestroyFired = true;
    form->DoDestroy();
  }
  void* memory = dynamic_cast<void*>(form);
  form->~TCustomForm();
  ::operator delete(memory);
}

TCustomForm::TCustomForm(TComponent* owner) : TScrollingWinControl(owner) {
  InitializeUI();
  SetVisibleFlag(false);
  SetControlStyle({csAcceptsControls, csCaptureMouse, csClickEvents, csDoubleClicks});
  FBacking.SetPixelFormat(pf32bit);
  FIcon.OnChange = [this](TObject*) {
    if (FWindowMade) UIBackend().SetWindowIcon(Handle(), FIcon.Empty() ? nullptr : FIcon.Handle());
  };
  SetBounds(0, 0, 320, 240);
  Screen->AddForm(this);
}

TCustomForm::~TCustomForm() {
  if (Application && Application->FMainForm == this) Application->FMainForm = nullptr;
  if (Screen) Screen->RemoveForm(this);
  if (FWindowMade) UIBackend().DestroyWindow(Handle());
  // Children go before the form's own members (menu, backing) are gone.
  DestroyComponents();
  FActiveControl = nullptr;
}

void TCustomForm::AfterConstruction() { DoCreate(); }

void TCustomForm::DoCreate() {
  if (OnCreate) OnCreate(this);
}
void TCustomForm::DoDestroy() {
  if (OnDestroy) OnDestroy(this);
}
void TCustomForm::DoShow() {
  if (OnShow) OnShow(this);
}
void TCustomForm::DoHide() {
  if (OnHide) OnHide(this);
}
void TCustomForm::DoClose(TCloseAction& action) {
  if (OnClose) OnClose(this, action);
}

int TCustomForm::FrameWidth() const {
  if (FKind == wkPopup) return 0;
  switch (FBorderStyle) {
    case bsNone: return 0;
    case bsSizeable:
    case bsSizeToolWin: return GetSystemMetrics(SM_CXSIZEFRAME);
    default: return GetSystemMetrics(SM_CXFIXEDFRAME);
  }
}

int TCustomForm::CaptionHeight() const {
  if (FKind == wkPopup || FBorderStyle == bsNone) return 0;
  if (FBorderStyle == bsToolWindow || FBorderStyle == bsSizeToolWin) return GetSystemMetrics(SM_CYSMCAPTION);
  return GetSystemMetrics(SM_CYCAPTION);
}

int TCustomForm::ClientTop() {
  if (!FMenu) return 0;
  for (int i = 0; i < FMenu->Items()->Count(); ++i)
    if (FMenu->Items()->Items(i)->Visible()) return kMenuBarHeight;
  return 0;
}

TRect TCustomForm::MenuBarRect() {
  TRect w = WindowClientRect();
  return Rect(0, 0, w.right, ClientTop());
}

TRect TCustomForm::WindowClientRect() const {
  int f = FrameWidth();
  return Rect(0, 0, std::max(0, Width() - 2 * f), std::max(0, Height() - 2 * f - CaptionHeight()));
}

TRect TCustomForm::ClientRect() {
  TRect r = WindowClientRect();
  r.bottom = std::max<LONG>(0, r.bottom - ClientTop());
  if (ScrollBarVisible(Handle(), SB_VERT)) r.right = std::max<LONG>(0, r.right - GetSystemMetrics(SM_CXVSCROLL));
  if (ScrollBarVisible(Handle(), SB_HORZ)) r.bottom = std::max<LONG>(0, r.bottom - GetSystemMetrics(SM_CYHSCROLL));
  return r;
}

TPoint TCustomForm::ClientOrigin() {
  int f = FrameWidth();
  return Point(Left() + f, Top() + f + CaptionHeight() + ClientTop());
}

bool TCustomForm::Showing() const { return Visible(); }

void TCustomForm::SetBorderStyle(TFormBorderStyle value) {
  if (value == FBorderStyle) return;
  TRect before = ClientRect();
  FBorderStyle = value;
  // The client area keeps its size, as a designed form does.
  SetBounds(Left(), Top(), before.right + 2 * FrameWidth(), before.bottom + 2 * FrameWidth() + CaptionHeight() + ClientTop());
}

void TCustomForm::Notification(TComponent* component, TOperation operation) {
  TScrollingWinControl::Notification(component, operation);
  if (operation == opRemove && component == FMenu) FMenu = nullptr;
}

void TCustomForm::SetMenu(TMainMenu* value) {
  if (value == FMenu) return;
  int oldTop = ClientTop();
  if (FMenu) FMenu->RemoveFreeNotification(this);
  FMenu = value;
  if (value) value->FreeNotification(this);
  SetBounds(Left(), Top(), Width(), Height() + ClientTop() - oldTop);
  ResizeBacking();
  InvalidateRect(WindowClientRect());
}

void TCustomForm::SetBounds(int left, int top, int width, int height) {
  TScrollingWinControl::SetBounds(left, top, width, height);
  ResizeBacking();
  SyncBounds();
}

void TCustomForm::ResizeBacking() {
  TRect w = WindowClientRect();
  if (FBacking.Width() != w.right || FBacking.Height() != w.bottom) {
    FreeControlCanvases();
    FBacking.SetSize(w.right, w.bottom);
    InvalidateRect(w);
  }
}

void TCustomForm::SyncBounds() {
  if (!FWindowMade) return;
  TPoint o = ClientOrigin();
  TRect w = WindowClientRect();
  int top = ClientTop();
  UIBackend().SetWindowBounds(Handle(), Rect(o.x, o.y - top, o.x + w.right, o.y - top + w.bottom));
}

void TCustomForm::EnsureWindow() {
  if (FWindowMade) return;
  FWindowMade = true;
  HWND owner = nullptr;
  if (auto* o = dynamic_cast<TCustomForm*>(Owner())) owner = o->Handle();
  else if (Application && Application->MainForm() && Application->MainForm() != this)
    owner = Application->MainForm()->Handle();
  UIBackend().CreateWindow(Handle(), FKind, owner);
  if (GetWindowLong(Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW) UIBackend().SetWindowTaskbarButton(Handle(), true);
  UIBackend().SetWindowCaption(Handle(), Caption());
  if (!FIcon.Empty()) UIBackend().SetWindowIcon(Handle(), FIcon.Handle());
  SyncBounds();
}

void TCustomForm::SetText(const std::string& value) {
  TScrollingWinControl::SetText(value);
  if (FWindowMade) UIBackend().SetWindowCaption(Handle(), value);
}

void TCustomForm::SetWindowState(TWindowState value) {
  if (value == FWindowState) return;
  FWindowState = value;
  if (!FWindowMade || !Visible()) return;
  UIBackend().ShowWindow(Handle(), value == wsMinimized   ? SW_SHOWMINIMIZED
                                   : value == wsMaximized ? SW_SHOWMAXIMIZED
                                                          : SW_RESTORE);
}

void TCustomForm::PlaceForShow() {
  TRect work = Screen->WorkAreaRect();
  auto centreOn = [&](const TRect& r) {
    SetBounds(r.left + (r.right - r.left - Width()) / 2, r.top + (r.bottom - r.top - Height()) / 2, Width(), Height());
  };
  switch (FPosition) {
    case poScreenCenter:
    case poDesktopCenter:
      centreOn(Screen ? Rect(0, 0, Screen->Width(), Screen->Height()) : work);
      break;
    case poMainFormCenter:
    case poOwnerFormCenter: {
      TCustomForm* by = FPosition == poOwnerFormCenter ? dynamic_cast<TCustomForm*>(Owner()) : nullptr;
      if (!by && Application) by = Application->MainForm();
      if (by && by != this) centreOn(by->BoundsRect());
      else centreOn(work);
      break;
    }
    case poDefault:
    case poDefaultPosOnly:
      SetBounds(work.left + 40, work.top + 40, Width(), Height());
      break;
    default:
      break;
  }
  if (FPosition != poDesigned) FPosition = poDesigned;  // placed once, as the framework does
}

void TCustomForm::SetVisible(bool value) {
  if (value == Visible()) return;
  if (value) {
    FFormState += fsShowing;
    PlaceForShow();
    EnsureWindow();
    SetVisibleFlag(true);
    Realign();
    InvalidateRect(WindowClientRect());
    try {
      DoShow();
    } catch (...) {
      FFormState -= fsShowing;
      throw;
    }
    FFormState -= fsShowing;
    if (!Visible()) return;  // OnShow hid it again
    int cmd = FWindowState == wsMinimized ? SW_SHOWMINIMIZED : FWindowState == wsMaximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    UIBackend().ShowWindow(Handle(), cmd);
    PaintDirty();
    BringToFront();
    if (!FActiveControl) {
      if (TWinControl* first = FindNextControl(nullptr, true, true, false)) SetFocusedControl(first);
    } else if (FActiveControl->CanFocus()) {
      // The control chosen before the form showed is entered now, as a control
      // the keyboard moves to is: an edit selects its text, so what the user
      // types replaces it.
      TWinControl* preset = std::exchange(FActiveControl, nullptr);
      SetFocusedControl(preset);
    }
  } else {
    SetVisibleFlag(false);
    if (FWindowMade) UIBackend().ShowWindow(Handle(), SW_HIDE);
    DoHide();
    if (Screen && Screen->FActiveForm == this) {
      Deactivate();
      Screen->FActiveForm = nullptr;
      // The most recently shown visible form takes over.
      for (auto it = Screen->FForms.rbegin(); it != Screen->FForms.rend(); ++it) {
        if (*it != this && (*it)->Visible() && (*it)->FKind == wkForm) {
          (*it)->BringToFront();
          break;
        }
      }
    }
  }
}

void TCustomForm::VisibleChanged() {}

void TCustomForm::Show() {
  SetVisible(true);
  BringToFront();
}

void TCustomForm::Hide() { SetVisible(false); }

void TCustomForm::BringToFront() {
  if (!Visible()) return;
  if (FKind == wkForm && Screen) {
    auto& forms = Screen->FForms;
    forms.erase(std::find(forms.begin(), forms.end(), this));
    forms.push_back(this);
  }
  if (FWindowMade) UIBackend().ActivateWindow(Handle());
  if (!Screen || Screen->FActiveForm == this) return;
  if (FKind == wkPopup) return;  // a menu does not take activation from its form
  TCustomForm* old = Screen->FActiveForm;
  Screen->FActiveForm = this;
  if (old) old->Deactivate();
  Activate();
}

void TCustomForm::Activate() {
  FActive = true;
  if (OnActivate) OnActivate(this);
}

void TCustomForm::Deactivate() {
  FActive = false;
  if (OnDeactivate) OnDeactivate(this);
}

bool TCustomForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

void TCustomForm::Close() {
  if (FFormState.Contains(fsModal)) {
    FModalResult = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  DoClose(action);
  if (action == caNone) return;
  if (Application && Application->MainForm() == this) {
    Application->Terminate();
    return;
  }
  switch (action) {
    case caHide: Hide(); break;
    case caMinimize: SetWindowState(wsMinimized); break;
    default: Release(); break;
  }
}

void TCustomForm::CloseModal() {
  TCloseAction action = caNone;
  if (CloseQuery()) {
    action = caHide;
    DoClose(action);
  }
  switch (action) {
    case caNone: FModalResult = mrNone; break;
    case caFree: Release(); break;
    default: break;
  }
}

TCustomForm* TCustomForm::TopModalForm() {
  if (!Screen) return nullptr;
  for (auto it = Screen->FForms.rbegin(); it != Screen->FForms.rend(); ++it)
    if ((*it)->Visible() && (*it)->FFormState.Contains(fsModal)) return *it;
  return nullptr;
}

TModalResult TCustomForm::ShowModal() {
  if (Visible() || !Enabled() || FFormState.Contains(fsModal))
    throw EInvalidOperation("Cannot make a visible window modal");
  if (GetCaptureControl()) SetCaptureControl(nullptr);
  // The other forms take no input while this one runs.
  std::vector<TCustomForm*> disabled;
  for (TCustomForm* f : Screen->FForms) {
    if (f != this && f->Visible() && f->Enabled()) {
      disabled.push_back(f);
      f->SetEnabled(false);
      if (f->FWindowMade) UIBackend().EnableWindow(f->Handle(), false);
    }
  }
  TCustomForm* previous = Screen->ActiveForm();
  FFormState += fsModal;
  ++Application->FModalLevel;
  FModalResult = mrNone;
  auto restore = [&] {
    --Application->FModalLevel;
    FFormState -= fsModal;
    for (TCustomForm* f : disabled) {
      if (std::find(Screen->FForms.begin(), Screen->FForms.end(), f) == Screen->FForms.end()) continue;
      f->SetEnabled(true);
      if (f->FWindowMade) UIBackend().EnableWindow(f->Handle(), true);
    }
  };
  try {
    Show();
    do {
      Application->HandleMessage();
      if (Application->Terminated()) FModalResult = mrCancel;
      else if (FModalResult != mrNone) CloseModal();
    } while (FModalResult == mrNone);
    Hide();
  } catch (...) {
    restore();
    throw;
  }
  restore();
  if (previous && previous != this && previous->Visible()) previous->BringToFront();
  return FModalResult;
}

void TCustomForm::Release() { PostMessage(Handle(), CM_RELEASE, 0, 0); }

// ---- focus ----

void TCustomForm::SetActiveControl(TWinControl* control) {
  if (control == FActiveControl) return;
  if (control && (!ContainsControl(control) || control == this))
    throw EInvalidOperation("Invalid parent for the active control");
  if (Visible() && control) {
    if (!control->CanFocus()) throw EInvalidOperation("Cannot focus a disabled or invisible window");
    SetFocusedControl(control);
  } else {
    FActiveControl = control;
  }
}

bool TCustomForm::SetFocusedControl(TWinControl* control) {
  if (control == FActiveControl) return true;
  TWinControl* old = FActiveControl;
  // OnExit of the controls being left, from the old control up to the common parent.
  if (old) {
    for (TWinControl* c = old; c && c != this && !c->ContainsControl(control); c = c->Parent()) {
      c->DoExit();
      if (FActiveControl != old) return false;  // OnExit moved the focus itself
    }
    old->Perform(WM_KILLFOCUS, control ? reinterpret_cast<WPARAM>(control->Handle()) : 0, 0);
  }
  FActiveControl = control;
  if (control) {
    std::vector<TWinControl*> entered;
    for (TWinControl* c = control; c && c != this && !(old && c->ContainsControl(old)); c = c->Parent())
      entered.insert(entered.begin(), c);
    for (TWinControl* c : entered) c->DoEnter();
    control->Perform(WM_SETFOCUS, old ? reinterpret_cast<WPARAM>(old->Handle()) : 0, 0);
  }
  return true;
}

void TCustomForm::FocusControl(TWinControl* control) {
  if (!Visible()) {
    FActiveControl = control;
    return;
  }
  BringToFront();
  SetFocusedControl(control);
}

void TCustomForm::DefocusControl(TWinControl* control, bool removing) {
  if (!FActiveControl || !control->ContainsControl(FActiveControl)) return;
  if (removing) {
    FActiveControl = nullptr;
    return;
  }
  TWinControl* next = FindNextControl(FActiveControl, true, true, false);
  if (next && control->ContainsControl(next)) next = nullptr;
  SetFocusedControl(next);
}

// ---- keys ----

bool TCustomForm::IsShortCut(const MSG& msg) {
  bool handled = false;
  if (OnShortCut) OnShortCut(msg, handled);
  if (handled) return true;
  TShortCut sc = ShortCut(static_cast<WORD>(msg.wParam), KeyboardShiftState());
  if (FMenu && FMenu->IsShortCut(sc)) return true;
  for (TCustomActionList* list : std::vector<TCustomActionList*>(FActionLists))
    if (list->IsShortCut(sc)) return true;
  // Action lists of data modules serve every form.
  for (TCustomActionList* list : std::vector<TCustomActionList*>(AllActionLists()))
    if (!dynamic_cast<TCustomForm*>(list->Owner()) && list->IsShortCut(sc)) return true;
  return false;
}

bool TCustomForm::DialogKey(WORD key, TShiftState shift) {
  // Buttons answer CM_DIALOGKEY for Return (the default button) and Escape (the cancel button).
  std::vector<TWinControl*> list;
  GetTabOrderList(list);
  for (TWinControl* c : list) {
    if (!c->Showing() || !c->IsEnabledInTree()) continue;
    if (c->Perform(CM_DIALOGKEY, key, 0)) return true;
  }
  return false;
}

void TCustomForm::AddActionList(TCustomActionList* list) { FActionLists.push_back(list); }
void TCustomForm::RemoveActionList(TCustomActionList* list) {
  FActionLists.erase(std::remove(FActionLists.begin(), FActionLists.end(), list), FActionLists.end());
}

void TCustomForm::UpdateActions() {
  for (TCustomActionList* list : std::vector<TCustomActionList*>(FActionLists)) list->UpdateActions();
}

void TCustomForm::RouteKey(TMessage& message) {
  TWinControl* target = FActiveControl && FActiveControl->IsEnabledInTree() ? FActiveControl : this;
  WORD key = static_cast<WORD>(message.WParam);
  TShiftState shift = KeyboardShiftState();
  if (message.Msg == WM_KEYDOWN || message.Msg == WM_SYSKEYDOWN) {
    MSG msg;
    msg.hwnd = target->Handle();
    msg.message = message.Msg;
    msg.wParam = message.WParam;
    msg.lParam = message.LParam;
    // Shortcuts first: the popup menus of the control and its parents, then the form's.
    TShortCut sc = ShortCut(key, shift);
    for (TControl* c = target; c; c = c->Parent()) {
      if (c->PopupMenu() && c->PopupMenu()->IsShortCut(sc)) return;
    }
    if (IsShortCut(msg)) return;
    // Alt with a menu's underlined letter, or F10, opens the menu bar. A
    // system key comes with Alt held, whether or not Alt's own press was seen.
    TShiftState menuShift = shift;
    if (message.Msg == WM_SYSKEYDOWN) menuShift.Include(ssAlt);
    if (MenuKey(key, menuShift)) return;
    UINT code = target->DialogCode();
    // A control may claim the keys the form would use for navigation (the
    // framework's special-key query); it then gets them as ordinary keys.
    const bool navigation = key == VK_TAB || key == VK_RETURN || key == VK_ESCAPE || key == VK_CANCEL ||
                            (key >= VK_LEFT && key <= VK_DOWN);
    if (navigation && target != this && target->Perform(CM_WANTSPECIALKEY, key, message.LParam) != 0)
      code |= DLGC_WANTALLKEYS | DLGC_WANTTAB;
    if (key == VK_TAB && !(code & (DLGC_WANTTAB | DLGC_WANTALLKEYS)) && !shift.Contains(ssCtrl)) {
      SelectNext(FActiveControl, !shift.Contains(ssShift), true);
      return;
    }
    if ((key == VK_RETURN || key == VK_ESCAPE) && !(code & DLGC_WANTALLKEYS)) {
      if (DialogKey(key, shift)) return;
    }
  }
  if (target == this) {
    WORD k = key;
    if (message.Msg == WM_KEYDOWN || message.Msg == WM_SYSKEYDOWN) KeyDown(k, shift);
    else if (message.Msg == WM_KEYUP || message.Msg == WM_SYSKEYUP) KeyUp(k, shift);
    else if (message.Msg == WM_CHAR) {
      char c = message.WParam < 0x80 ? static_cast<char>(message.WParam) : '?';
      KeyPress(c);
    }
    return;
  }
  // A character goes to the control first as the notification CN_CHAR; a
  // control that answers it non-zero has taken it.
  if (message.Msg == WM_CHAR && target->Perform(CN_CHAR, message.WParam, message.LParam) != 0) return;
  target->Perform(message.Msg, message.WParam, message.LParam);
}

// ---- mouse ----

void TCustomForm::RouteMouse(TMessage& message) {
  int x = GET_X_LPARAM(message.LParam), y = GET_Y_LPARAM(message.LParam);
  TCustomForm* popup = ActivePopupForm();
  if (popup && popup != this && IsButtonDown(message.Msg)) {
    DismissActivePopup();
    return;
  }
  // An open menu holds the mouse: a press outside it (on its form's title bar,
  // say) closes it, as a press on another form does.
  if (popup == this && IsButtonDown(message.Msg) && (x < 0 || y < 0 || x >= Width() || y >= Height())) {
    DismissPopup();
    return;
  }
  if (!Enabled()) return;
  TControl* target = GetCaptureControl();
  if (target && GetParentForm(target) != this) target = nullptr;
  int top = ClientTop();
  if (!target && y < top) {
    if (message.Msg == WM_LBUTTONDOWN) MenuBarClick(x, y);
    return;
  }
  TPoint pos = Point(x, y - top);
  if (!target) {
    TWinControl* w = this;
    target = this;
    for (;;) {
      TPoint local = pos;
      TRect fr = w->FormRect();
      local.x -= fr.left;
      local.y -= fr.top;
      if (w == this) local = pos;
      TControl* c = w->ControlAtPos(local, true);
      if (!c) break;
      target = c;
      auto* cw = dynamic_cast<TWinControl*>(c);
      if (!cw) break;
      w = cw;
    }
    // A disabled control swallows the mouse.
    if (!target->IsEnabledInTree()) {
      if (message.Msg == WM_MOUSEMOVE) target = nullptr;
      else return;
    }
  }
  if (message.Msg == WM_MOUSEMOVE && target != FMouseControl) {
    TControl* old = FMouseControl;
    FMouseControl = target;
    if (old) old->Perform(CM_MOUSELEAVE, 0, 0);
    if (target) {
      target->Perform(CM_MOUSEENTER, 0, 0);
      if (Application) Application->SetHint(GetLongHint(target->Hint()));
    }
    if (FKind == wkForm) HintMouseEntered(target);
  }
  if (!target) return;
  if (IsButtonDown(message.Msg)) {
    CancelHint();
    if (auto* w = dynamic_cast<TWinControl*>(target); w && w != this && w->FocusOnClick() && w->CanFocus() && !w->Focused())
      SetFocusedControl(w);
    if (!Active()) BringToFront();
  }
  TRect fr = target == this ? Rect(0, 0, 0, 0) : target->FormRect();
  TPoint local = Point(pos.x - fr.left, pos.y - fr.top);
  UINT msg = message.Msg;
  if (msg == WM_LBUTTONDBLCLK && !target->ControlStyle().Contains(csDoubleClicks)) msg = WM_LBUTTONDOWN;
  if (target == this) TScrollingWinControl::WndProc(message = TMessage{msg, message.WParam, MAKELPARAM(local.x, local.y), 0});
  else target->Perform(msg, message.WParam, MAKELPARAM(local.x, local.y));
}

int TCustomForm::MenuBarItemAt(int x) {
  if (!FMenu) return -1;
  TCanvas* c = Backing()->Canvas();
  c->Font()->Assign(Screen->MenuFont());
  int edge = 0;
  for (int i = 0; i < FMenu->Items()->Count(); ++i) {
    TMenuItem* item = FMenu->Items()->Items(i);
    if (!item->Visible()) continue;
    int w = c->TextWidth(item->Caption()) + 16;
    if (x >= edge && x < edge + w) return i;
    edge += w;
  }
  return -1;
}

int TCustomForm::MenuBarItemLeft(int index) {
  TCanvas* c = Backing()->Canvas();
  c->Font()->Assign(Screen->MenuFont());
  int edge = 0;
  for (int i = 0; i < index; ++i)
    if (FMenu->Items()->Items(i)->Visible()) edge += c->TextWidth(FMenu->Items()->Items(i)->Caption()) + 16;
  return edge;
}

bool TCustomForm::MenuBarClick(int x, int) {
  const int index = MenuBarItemAt(x);
  if (index < 0) return false;
  OpenMenuBarItem(index, false);
  return true;
}

void TCustomForm::OpenMenuBarItem(int index, bool byKey) {
  TMenuItem* bar = FMenu->Items();
  for (;;) {
    TMenuItem* item = bar->Items(index);
    if (!item->Enabled()) return;
    if (item->Count() == 0) {
      item->Click();
      return;
    }
    UpdateMenuActions(item);
    if (item->OnClick) item->OnClick(item);
    TPoint o = ClientOrigin();
    const TMenuTrack result = TrackMenu(item, o.x + MenuBarItemLeft(index), o.y, FMenu->Images(), true, byKey);
    if (!FMenu) return;  // the form lost its menu meanwhile
    if (result.Chosen) {
      result.Chosen->Click();
      return;
    }
    if (result.Move == 0) return;
    // Left and Right go round the bar's visible, enabled menus.
    const int n = bar->Count();
    int next = index;
    for (int k = 0; k < n; ++k) {
      next = (next + result.Move + n) % n;
      if (bar->Items(next)->Visible() && bar->Items(next)->Enabled()) break;
    }
    index = next;
    byKey = true;
  }
}

bool TCustomForm::MenuKey(WORD key, TShiftState shift) {
  if (!FMenu) return false;
  TMenuItem* bar = FMenu->Items();
  auto usable = [&](int i) {
    TMenuItem* item = bar->Items(i);
    return item->Visible() && item->Enabled() && !item->Caption().empty();
  };
  if (key == VK_F10 && !shift.Contains(ssShift) && !shift.Contains(ssCtrl)) {
    for (int i = 0; i < bar->Count(); ++i)
      if (usable(i)) {
        OpenMenuBarItem(i, true);
        return true;
      }
    return false;
  }
  if (!shift.Contains(ssAlt) || shift.Contains(ssCtrl)) return false;
  const bool letter = (key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9');
  if (!letter) return false;
  for (int i = 0; i < bar->Count(); ++i)
    if (usable(i) && IsMenuAccelerator(static_cast<char>(key), bar->Items(i)->Caption())) {
      OpenMenuBarItem(i, true);
      return true;
    }
  return false;
}

void TCustomForm::PaintMenuBar(TCanvas* canvas) {
  TRect bar = MenuBarRect();
  canvas->Brush()->SetColor(clMenu);
  canvas->Brush()->SetStyle(bsSolid);
  canvas->FillRect(bar);
  canvas->Font()->Assign(Screen->MenuFont());
  int left = 0;
  for (int i = 0; i < FMenu->Items()->Count(); ++i) {
    TMenuItem* item = FMenu->Items()->Items(i);
    if (!item->Visible()) continue;
    int w = canvas->TextWidth(item->Caption()) + 16;
    DrawTextIn(canvas, item->Caption(), Rect(left, 0, left + w, bar.bottom), DT_SINGLELINE | DT_VCENTER | DT_CENTER,
               item->Enabled());
    left += w;
  }
}

// ---- painting ----

void TCustomForm::InvalidateRect(const TRect& rect) {
  TRect r = Intersect(rect, WindowClientRect());
  if (IsEmpty(r)) return;
  FDirty = FHasDirty ? Unite(FDirty, r) : r;
  FHasDirty = true;
}

bool TCustomForm::PaintDirty() {
  if (!FHasDirty) return false;
  FreeControlCanvases();
  TRect clip = FDirty;
  FHasDirty = false;
  FDirty = TRect{};
  TCanvas* canvas = FBacking.Canvas();
  HDC dc = canvas->Handle();
  CaretBeforePaint(this);
  try {
    if (ClientTop() > 0 && clip.top < ClientTop()) PaintMenuBar(canvas);
    PaintTree(dc, clip);
  } catch (...) {
    CaretAfterPaint(this, clip);
    throw;
  }
  canvas->Refresh();
  CaretAfterPaint(this, clip);
  if (FWindowMade && Visible()) UIBackend().Present(Handle(), &FBacking, clip);
  return true;
}

void TCustomForm::Paint() {
  if (OnPaint) OnPaint(this);
}

void TCustomForm::Resize() {
  TScrollingWinControl::Resize();
}

void TCustomForm::SaveToPng(const std::string& fileName) {
  InvalidateRect(WindowClientRect());
  PaintDirty();
  SavePicturePng(&FBacking, fileName);
}

// ---- messages ----

void TCustomForm::WndProc(TMessage& message) {
  UINT msg = message.Msg;
  if (IsMouseMessage(msg)) {
    RouteMouse(message);
    return;
  }
  switch (msg) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
      // An open menu or drop-down takes the keyboard, whichever window the
      // desktop hands the keys to (a popup never takes the activation).
      if (TCustomForm* popup = ActivePopupForm(); popup && popup != this) {
        popup->Perform(msg, message.WParam, message.LParam);
        return;
      }
      if (Enabled()) RouteKey(message);
      return;
    case WM_MOUSEWHEEL: {
      if (!Enabled()) return;
      TWinControl* target = FActiveControl ? FActiveControl : this;
      if (target == this) TScrollingWinControl::WndProc(message);
      else message.Result = target->Perform(msg, message.WParam, message.LParam);
      return;
    }
    case WM_CLOSE:
      Close();
      return;
    case CM_RELEASE:
      delete this;
      return;
    case WM_SIZE:
      // The window was resized, maximised, minimised or restored by its user
      // (wParam says which; the new client size in lParam). The form's state
      // follows without asking the window again, so that what the form saves
      // of itself (a maximised window, say) is what the desktop shows.
      if (message.WParam == SIZE_MINIMIZED) {
        FWindowState = wsMinimized;  // the size is the one before, not a new one
        return;
      }
      FWindowState = message.WParam == SIZE_MAXIMIZED ? wsMaximized : wsNormal;
      SetBounds(Left(), Top(), LOWORD(static_cast<DWORD>(message.LParam)) + 2 * FrameWidth(),
                HIWORD(static_cast<DWORD>(message.LParam)) + 2 * FrameWidth() + CaptionHeight());
      return;
    case WM_MOVE: {
      int x = GET_X_LPARAM(message.LParam), y = GET_Y_LPARAM(message.LParam);
      TScrollingWinControl::SetBounds(x - FrameWidth(), y - FrameWidth() - CaptionHeight(), Width(), Height());
      return;
    }
    case WM_ACTIVATE:
      if (LOWORD(static_cast<DWORD>(message.WParam)) != 0) {
        // A form that a modal one has disabled hands the activation to that
        // form, as the desktop does: an activation that reaches it late (from
        // before the dialog opened) would otherwise raise it over the dialog.
        if (TCustomForm* modal = Enabled() ? nullptr : TopModalForm()) modal->BringToFront();
        else BringToFront();
      }
      // The desktop took the focus away (a click outside the program): an
      // open menu or drop-down closes, as it would on a click on another form.
      else if (FKind == wkForm) DismissActivePopup();
      return;
    case WM_PAINT:
      InvalidateRect(WindowClientRect());
      PaintDirty();
      return;
    case WM_DROPFILES: {
      // The drop goes to the window under the point that takes files (or to a parent of it).
      auto drop = reinterpret_cast<HDROP>(message.WParam);
      POINT pt{};
      DragQueryPoint(drop, &pt);
      TPoint pos = Point(pt.x, pt.y - ClientTop());
      TWinControl* w = this;
      TWinControl* hit = this;
      for (;;) {
        TRect fr = w == this ? Rect(0, 0, 0, 0) : w->FormRect();
        auto* c = dynamic_cast<TWinControl*>(w->ControlAtPos(Point(pos.x - fr.left, pos.y - fr.top), false));
        if (!c) break;
        hit = w = c;
      }
      for (TWinControl* c = hit; c; c = c->Parent()) {
        if (c != this && AcceptsDroppedFiles(c->Handle())) {
          message.Result = c->Perform(msg, message.WParam, message.LParam);
          return;
        }
      }
      TScrollingWinControl::WndProc(message);
      return;
    }
    default:
      TScrollingWinControl::WndProc(message);
      return;
  }
}

// ---- TDataModule ----

TDataModule::~TDataModule() {
  if (OnDestroy) OnDestroy(this);
}

void TDataModule::AfterConstruction() {
  if (OnCreate) OnCreate(this);
}

// ---- TApplication ----

TApplication::TApplication(TComponent* owner) : TComponent(owner) {}

TApplication::~TApplication() {
  // Forms go first, each with its OnDestroy, while the application still stands.
  while (ComponentCount() > 0) {
    TComponent* c = Components(ComponentCount() - 1);
    if (auto* form = dynamic_cast<TCustomForm*>(c)) delete form;
    else delete c;
  }
}

void TApplication::Initialize() {}

std::string TApplication::ExeName() const {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

void TApplication::SetHint(const std::string& value) {
  if (value == FHint) return;
  FHint = value;
  if (OnHint) OnHint(this);
}

void TApplication::Terminate() {
  FTerminated = true;
  PostQuitMessage(0);
}

void TApplication::Minimize() {
  if (FMinimized) return;
  FMinimized = true;
  for (TCustomForm* f : Screen->FForms)
    if (f->Visible() && f->FWindowMade) UIBackend().ShowWindow(f->Handle(), SW_SHOWMINIMIZED);
  if (OnMinimize) OnMinimize(this);
}

void TApplication::Restore() {
  if (!FMinimized) return;
  FMinimized = false;
  for (TCustomForm* f : Screen->FForms)
    if (f->Visible() && f->FWindowMade) UIBackend().ShowWindow(f->Handle(), SW_RESTORE);
  if (OnRestore) OnRestore(this);
}

bool TApplication::HelpCommand(int, intptr_t) { return !FHelpFile.empty(); }

bool TApplication::ProcessMessage(MSG& msg) {
  if (!PeekMessage(&msg, true)) return false;
  if (msg.message == WM_QUIT) {
    FTerminated = true;
    return true;
  }
  bool handled = false;
  if (OnMessage) OnMessage(msg, handled);
  if (handled) return true;
  NoteInputMessage(msg);
  // An exception from a handler ends that message only, as a window procedure's would.
  try {
    DispatchMessage(&msg);
  } catch (...) {
    HandleException(this);
  }
  return true;
}

void TApplication::ProcessMessages() {
  MSG msg;
  for (;;) {
    CheckSynchronize(0);
    if (ProcessMessage(msg)) continue;
    if (DispatchDueTimers()) continue;
    break;
  }
  PaintForms();
}

void TApplication::PaintForms() {
  if (!Screen) return;
  for (TCustomForm* f : std::vector<TCustomForm*>(Screen->FForms)) f->PaintDirty();
}

void TApplication::Idle() {
  PaintForms();
  bool done = true;
  try {
    if (OnIdle) OnIdle(this, done);
    if (done) {
      for (TCustomActionList* list : std::vector<TCustomActionList*>(AllActionLists())) {
        auto* form = dynamic_cast<TCustomForm*>(list->Owner());
        if (!form || form->Visible()) list->UpdateActions();
      }
    }
  } catch (...) {
    HandleException(this);
  }
  bool busy = false;
  try {
    PaintForms();
    busy = !done || MessagesWaiting() || FTerminated || CheckSynchronize(0) || DispatchDueTimers();
  } catch (...) {
    HandleException(this);
    return;
  }
  if (!busy) UIBackend().WaitForEvents(NextTimerDue());
  try {
    CheckSynchronize(0);
    DispatchDueTimers();
  } catch (...) {
    HandleException(this);
  }
}

void TApplication::HandleMessage() {
  MSG msg;
  bool processed = false;
  try {
    processed = ProcessMessage(msg);
  } catch (...) {
    HandleException(this);
    return;
  }
  // Idle handles the exceptions of its handlers itself; a back end that cannot
  // wait any longer (a headless script that ran dry) ends the loop through here.
  if (!processed) Idle();
}

void TApplication::Run() {
  if (FMainForm) FMainForm->Show();
  while (!FTerminated) HandleMessage();
}

void TApplication::HandleException(TObject* sender) {
  std::exception_ptr e = std::current_exception();
  if (!e) return;
  try {
    std::rethrow_exception(e);
  } catch (const EAbort&) {
    // The silent exception leaves without a word.
  } catch (const std::exception& ex) {
    if (OnException) OnException(sender, ex);
    else ShowException(ex);
  } catch (...) {
    Exception unknown("Unknown exception");
    if (OnException) OnException(sender, unknown);
    else ShowException(unknown);
  }
}

void TApplication::ShowException(const std::exception& e) {
  std::string text = e.what();
  if (!text.empty() && text.back() > '.') text += '.';
  MessageBox(nullptr, text.c_str(), FTitle.c_str(), MB_OK | MB_ICONSTOP);
}

// ---- TScreen ----

TScreen::TScreen(TComponent* owner) : TComponent(owner) {
  FMenuFont.SetName("Tahoma");
  FMenuFont.SetHeight(-11);
  FHintFont.Assign(&FMenuFont);
  FHintFont.SetColor(clInfoText);
  FIconFont.Assign(&FMenuFont);
}

TScreen::~TScreen() {
  for (auto& [index, handle] : FCursors) DestroyCursor(handle);
}

int TScreen::Width() { TRect r = UIBackend().ScreenRect(); return r.right - r.left; }
int TScreen::Height() { TRect r = UIBackend().ScreenRect(); return r.bottom - r.top; }
TRect TScreen::WorkAreaRect() { return UIBackend().WorkArea(); }

void TScreen::SetCursor(TCursor value) {
  if (value == FCursor) return;
  FCursor = value;
  ApplyCursor();
}

void TScreen::ApplyCursor() {
  for (TCustomForm* f : FForms) {
    if (!f->FWindowMade) continue;
    TCursor c = FCursor;
    if (c == crDefault) c = f->FMouseControl ? f->FMouseControl->Cursor() : f->Cursor();
    UIBackend().SetCursor(f->Handle(), c, c > 0 ? Cursors(c) : nullptr);
  }
}

HCURSOR TScreen::Cursors(int index) {
  auto it = FCursors.find(index);
  return it == FCursors.end() ? nullptr : it->second;
}

void TScreen::SetCursors(int index, HCURSOR handle) {
  auto it = FCursors.find(index);
  if (it != FCursors.end()) {
    if (it->second == handle) return;
    DestroyCursor(it->second);
  }
  if (handle) FCursors[index] = handle;
  else if (it != FCursors.end()) FCursors.erase(it);
}

TWinControl* TScreen::ActiveControl() const { return FActiveForm ? FActiveForm->ActiveControl() : nullptr; }

std::vector<std::string> TScreen::Fonts() {
  return {"Arial", "Courier New", "MS Sans Serif", "Segoe UI", "Tahoma", "Times New Roman", "Verdana"};
}

void TScreen::AddForm(TCustomForm* form) { FForms.push_back(form); }

void TScreen::RemoveForm(TCustomForm* form) {
  FForms.erase(std::remove(FForms.begin(), FForms.end(), form), FForms.end());
  if (FActiveForm == form) FActiveForm = nullptr;
}

// ---- popups ----

TCustomForm* ActivePopupForm() {
  if (!Screen) return nullptr;
  for (int i = Screen->FormCount() - 1; i >= 0; --i) {
    TCustomForm* f = Screen->Forms(i);
    if (f->WindowKind() == wkPopup && f->TakesKeys() && f->Visible()) return f;
  }
  return nullptr;
}

void DismissActivePopup() {
  if (TCustomForm* popup = ActivePopupForm()) popup->DismissPopup();
}

// ---- TMouse ----

TPoint TMouse::CursorPos() {
  POINT p;
  ::GetCursorPos(&p);
  return p;
}

void TMouse::SetCursorPos(TPoint point) { ::SetCursorPos(point.x, point.y); }

// ---- the globals ----

void InitializeUI() {
  if (Application) return;
  Application = new TApplication(nullptr);
  Screen = new TScreen(nullptr);
  Mouse = new TMouse();
  SetWakeMainThread([] { UIBackend().Wake(); });
}

void FinalizeUI() {
  if (!Application) return;
  ForgetHintWindow();
  TApplication* app = Application;
  delete app;
  Application = nullptr;
  // Forms made without an owner are freed here too.
  while (Screen && !Screen->FForms.empty()) delete Screen->FForms.back();
  delete Screen;
  Screen = nullptr;
  delete Mouse;
  Mouse = nullptr;
  SetWakeMainThread(nullptr);
  // Nothing posted to the program that was is left for the next one.
  MSG msg;
  while (PeekMessage(&msg, true)) {
  }
}
