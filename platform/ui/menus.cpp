#include "platform/ui/menus.h"

#include <algorithm>
#include <cctype>

#include "platform/rtl/exceptions.h"
#include "platform/ui/actions.h"
#include "platform/ui/forms.h"
#include "platform/ui/img_list.h"
#include "platform/ui/ui_backend.h"
#include "platform/ui/ui_paint.h"

// ---- TMenuItem ----

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner) {}

TMenuItem::~TMenuItem() {
  SetAction(nullptr);
  if (FParent) FParent->Remove(this);
  for (TMenuItem* item : std::vector<TMenuItem*>(FItems)) {
    item->FParent = nullptr;
    item->FMenu = nullptr;
    // Items without an owner of their own go with their parent.
    if (!item->Owner()) delete item;
  }
}

void TMenuItem::SetChecked(bool value) {
  if (value == FChecked) return;
  FChecked = value;
  if (value && FRadioItem && FParent) {
    for (TMenuItem* other : FParent->FItems)
      if (other != this && other->FRadioItem && other->FGroupIndex == FGroupIndex) other->FChecked = false;
  }
}

void TMenuItem::SetAction(TBasicAction* value) {
  if (value == FAction) return;
  if (auto* old = dynamic_cast<TCustomAction*>(FAction)) old->UnregisterClient(this);
  FAction = value;
  if (auto* a = dynamic_cast<TCustomAction*>(value)) {
    a->RegisterClient(this);
    ActionChange(a);
  }
}

void TMenuItem::ActionChange(TBasicAction* sender) {
  auto* a = dynamic_cast<TCustomAction*>(sender);
  if (!a) return;
  FCaption = a->Caption();
  FEnabled = a->Enabled();
  FVisible = a->Visible();
  FHint = a->Hint();
  FShortCut = a->ShortCut();
  FImageIndex = a->ImageIndex();
  SetChecked(a->Checked());
}

int TMenuItem::MenuIndex() const { return FParent ? FParent->IndexOf(const_cast<TMenuItem*>(this)) : -1; }

void TMenuItem::Add(TMenuItem* item) { Insert(Count(), item); }

void TMenuItem::Insert(int index, TMenuItem* item) {
  if (!item) return;
  if (item->FParent) throw EInvalidOperation("Menu inserted twice");
  index = std::clamp(index, 0, Count());
  FItems.insert(FItems.begin() + index, item);
  item->FParent = this;
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(FItems.begin(), FItems.end(), item);
  if (it == FItems.end()) return;
  FItems.erase(it);
  item->FParent = nullptr;
}

void TMenuItem::Delete(int index) {
  if (index < 0 || index >= Count()) throw EInvalidOperation("Menu index out of range");
  Remove(FItems[index]);
}

void TMenuItem::Clear() {
  for (TMenuItem* item : std::vector<TMenuItem*>(FItems)) delete item;
  FItems.clear();
}

int TMenuItem::IndexOf(TMenuItem* item) const {
  auto it = std::find(FItems.begin(), FItems.end(), item);
  return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

TMenu* TMenuItem::GetParentMenu() const {
  const TMenuItem* i = this;
  while (i->FParent) i = i->FParent;
  return i->FMenu;
}

TMenuItem* TMenuItem::FindShortCut(TShortCut shortCut) {
  if (shortCut == 0) return nullptr;
  if (FShortCut == shortCut && FParent) return this;
  for (TMenuItem* item : FItems)
    if (TMenuItem* found = item->FindShortCut(shortCut)) return found;
  return nullptr;
}

void TMenuItem::Click() {
  if (!FEnabled) return;
  if (FAutoCheck && !(FAction && dynamic_cast<TCustomAction*>(FAction))) SetChecked(!FChecked);
  if (OnClick) OnClick(this);
  else if (FAction) FAction->Execute();
}

// ---- TMenu ----

TMenu::TMenu(TComponent* owner) : TComponent(owner), FItems(new TMenuItem(nullptr)) { FItems->FMenu = this; }

TMenu::~TMenu() { delete FItems; }

bool TMenu::IsShortCut(TShortCut shortCut) {
  TMenuItem* item = FItems->FindShortCut(shortCut);
  if (!item) return false;
  // A disabled item (or one under a disabled parent) swallows nothing.
  for (TMenuItem* i = item; i; i = i->Parent())
    if (!i->Enabled()) return false;
  if (auto* a = dynamic_cast<TCustomAction*>(item->Action())) a->Update();
  if (!item->Enabled()) return false;
  item->Click();
  return true;
}

// ---- the drop-down ----

bool IsMenuAccelerator(char key, const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return std::toupper(static_cast<unsigned char>(caption[i + 1])) == std::toupper(static_cast<unsigned char>(key));
  }
  return false;
}

void UpdateMenuActions(TMenuItem* parent) {
  for (int i = 0; i < parent->Count(); ++i)
    if (auto* a = dynamic_cast<TCustomAction*>(parent->Items(i)->Action())) a->Update();
}

namespace {

constexpr int kItemHeight = 20;
constexpr int kLineHeight = 8;

class TMenuPopupForm : public TCustomForm {
public:
  TMenuPopupForm(TMenuItem* parent, TCustomImageList* images, bool fromBar)
      : TCustomForm(nullptr), FParentItem(parent), FImages(images), FFromBar(fromBar) {
    SetWindowKind(wkPopup);
    SetTakesKeys(true);
    SetBorderStyle(bsNone);
    SetColor(clMenu);
    for (int i = 0; i < parent->Count(); ++i)
      if (parent->Items(i)->Visible()) FVisibleItems.push_back(i);
    TCanvas* c = Canvas();
    int w = 60, h = 2;
    for (int i : FVisibleItems) {
      TMenuItem* item = parent->Items(i);
      h += item->IsLine() ? kLineHeight : kItemHeight;
      std::string sc = ShortCutToText(item->ShortCut());
      w = std::max<int>(w, c->TextWidth(item->Caption()) + (sc.empty() ? 0 : c->TextWidth(sc) + 24) + 48);
    }
    SetBounds(0, 0, w + 2, h + 2);
  }

  const TMenuTrack& Result() const { return FResult; }
  bool Done() const { return FDone; }
  void DismissPopup() override {
    // A click elsewhere closes the whole chain of drop-downs, not only this one.
    FResult.Dismissed = true;
    Finish();
  }
  void Finish() { FDone = true; }
  // Opened from the keyboard: the first item is lit at once.
  void LightFirst() { Step(1); }

  // The item index at a client point (-1 for none or a line).
  int ItemAt(int y) const {
    int top = 1;
    for (int i : FVisibleItems) {
      TMenuItem* item = FParentItem->Items(i);
      int h = item->IsLine() ? kLineHeight : kItemHeight;
      if (y >= top && y < top + h) return item->IsLine() ? -1 : i;
      top += h;
    }
    return -1;
  }

protected:
  void Paint() override {
    TCanvas* c = Canvas();
    TRect r = ClientRect();
    Frame3D(c, r, clBtnHighlight, clBtnShadow, 1);
    int top = 1;
    for (int i : FVisibleItems) {
      TMenuItem* item = FParentItem->Items(i);
      if (item->IsLine()) {
        c->Pen()->SetColor(clBtnShadow);
        c->MoveTo(2, top + 3);
        c->LineTo(ClientWidth() - 2, top + 3);
        c->Pen()->SetColor(clBtnHighlight);
        c->MoveTo(2, top + 4);
        c->LineTo(ClientWidth() - 2, top + 4);
        top += kLineHeight;
        continue;
      }
      TRect ir = Rect(1, top, ClientWidth() - 1, top + kItemHeight);
      bool hot = i == FHot && item->Enabled();
      c->Brush()->SetColor(hot ? clHighlight : clMenu);
      c->FillRect(ir);
      if (item->Checked()) DrawCheckMark(c, 4, top + 3, true, item->Enabled(), item->RadioItem());
      else if (FImages && item->ImageIndex() >= 0)
        FImages->Draw(c, 3, top + (kItemHeight - FImages->Height()) / 2, item->ImageIndex(), item->Enabled());
      c->Font()->SetColor(hot ? clHighlightText : clMenuText);
      TRect tr = Rect(24, top, ClientWidth() - 8, top + kItemHeight);
      DrawTextIn(c, item->Caption(), tr, DT_SINGLELINE | DT_VCENTER | DT_LEFT, item->Enabled() || hot);
      DrawTextIn(c, ShortCutToText(item->ShortCut()), tr, DT_SINGLELINE | DT_VCENTER | DT_RIGHT | DT_NOPREFIX,
                 item->Enabled() || hot);
      if (item->Count() > 0) DrawArrow(c, Rect(ClientWidth() - 12, top, ClientWidth() - 2, top + kItemHeight), adRight, clMenuText);
      top += kItemHeight;
    }
  }

  void MouseMove(TShiftState shift, int x, int y) override {
    int hot = ItemAt(y);
    if (hot != FHot) {
      FHot = hot;
      Invalidate();
    }
    TCustomForm::MouseMove(shift, x, y);
  }

  void MouseUp(TMouseButton, TShiftState, int x, int y) override {
    int i = ItemAt(y);
    if (i >= 0 && FParentItem->Items(i)->Enabled() && x >= 0 && x < Width()) Choose(i, false);
  }

  void KeyDown(WORD& key, TShiftState) override {
    switch (key) {
      case VK_DOWN: Step(1); break;
      case VK_UP: Step(-1); break;
      case VK_ESCAPE: Finish(); break;
      case VK_RETURN:
        if (FHot >= 0) Choose(FHot, true);
        break;
      case VK_RIGHT:
        if (FHot >= 0 && FParentItem->Items(FHot)->Count() > 0) Choose(FHot, true);
        else if (FFromBar) Move(1);
        break;
      case VK_LEFT:
        // A sub-menu closes back to its parent; the bar's drop-down gives way
        // to its neighbour.
        if (FFromBar) Move(-1);
        else Finish();
        break;
      case VK_MENU:
      case VK_F10:
        // The menu key closes the menu, as it opened it.
        FResult.Dismissed = true;
        Finish();
        break;
      default: return;
    }
    key = 0;
  }

  void KeyPress(char& key) override {
    // An item's underlined letter runs it (or opens its sub-menu).
    for (int i : FVisibleItems) {
      TMenuItem* item = FParentItem->Items(i);
      if (!item->IsLine() && item->Enabled() && IsMenuAccelerator(key, item->Caption())) {
        FHot = i;
        Invalidate();
        Choose(i, true);
        return;
      }
    }
  }

private:
  void Step(int dir) {
    int n = static_cast<int>(FVisibleItems.size());
    int pos = static_cast<int>(std::find(FVisibleItems.begin(), FVisibleItems.end(), FHot) - FVisibleItems.begin());
    if (pos == n) pos = dir > 0 ? -1 : n;
    for (int k = 0; k < n; ++k) {
      pos = (pos + dir + n) % n;
      TMenuItem* item = FParentItem->Items(FVisibleItems[pos]);
      if (!item->IsLine() && item->Enabled()) {
        FHot = FVisibleItems[pos];
        break;
      }
    }
    Invalidate();
  }

  void Move(int dir) {
    FResult.Move = dir;
    Finish();
  }

  // An item with items of its own opens them beside it; any other is the choice.
  void Choose(int index, bool byKey) {
    TMenuItem* item = FParentItem->Items(index);
    if (item->Count() == 0) {
      FResult.Chosen = item;
      Finish();
      return;
    }
    int top = 1;
    for (int i : FVisibleItems) {
      if (i == index) break;
      top += FParentItem->Items(i)->IsLine() ? kLineHeight : kItemHeight;
    }
    if (item->OnClick) item->OnClick(item);
    UpdateMenuActions(item);
    const TMenuTrack sub = TrackMenu(item, Left() + Width() - 3, Top() + top - 1, FImages, false, byKey);
    if (sub.Chosen || sub.Dismissed) {
      FResult.Chosen = sub.Chosen;
      FResult.Dismissed = sub.Dismissed;
      Finish();
    } else if (sub.Move != 0 && FFromBar) {
      Move(sub.Move);
    }
  }

  TMenuItem* FParentItem;
  TCustomImageList* FImages;
  bool FFromBar;
  std::vector<int> FVisibleItems;
  int FHot = -1;
  TMenuTrack FResult;
  bool FDone = false;
};

}  // namespace

TMenuTrack TrackMenu(TMenuItem* parent, int x, int y, TCustomImageList* images, bool fromBar, bool byKey) {
  InitializeUI();
  if (!parent || parent->Count() == 0) return {};
  TMenuPopupForm popup(parent, images, fromBar);
  TRect work = Screen->WorkAreaRect();
  if (x + popup.Width() > work.right) x = std::max<int>(work.left, x - popup.Width());
  if (y + popup.Height() > work.bottom) y = std::max<int>(work.top, y - popup.Height());
  popup.SetBounds(x, y, popup.Width(), popup.Height());
  if (byKey) popup.LightFirst();
  popup.Show();
  // The drop-down holds the mouse while it shows, so that a press anywhere
  // else, the title bar of its form included, reaches it and closes it.
  UIBackend().SetCapture(popup.Handle());
  while (!popup.Done() && !Application->Terminated()) Application->HandleMessage();
  popup.Hide();
  // A sub-menu hands the mouse back to the drop-down it came from.
  TCustomForm* parentPopup = ActivePopupForm();
  UIBackend().SetCapture(parentPopup ? parentPopup->Handle() : nullptr);
  return popup.Result();
}

int TrackMenuItems(TMenuItem* parent, int x, int y, TCustomImageList* images) {
  const TMenuTrack result = TrackMenu(parent, x, y, images, false, false);
  if (!result.Chosen) return -1;
  if (result.Chosen->Parent() == parent) return parent->IndexOf(result.Chosen);
  // An item of a sub-menu runs here, the drop-down being closed already.
  result.Chosen->Click();
  return -1;
}

void TPopupMenu::Popup(int x, int y) {
  if (OnPopup) OnPopup(this);
  // Actions are brought up to date before the items show.
  UpdateMenuActions(Items());
  const TMenuTrack result = TrackMenu(Items(), x, y, Images(), false, false);
  if (result.Chosen) result.Chosen->Click();
}
