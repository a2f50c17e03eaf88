#include "platform/ui/com_ctrls_pages.h"

#include <algorithm>

#include "platform/rtl/exceptions.h"
#include "platform/ui/actions.h"
#include "platform/ui/forms.h"
#include "platform/ui/img_list.h"
#include "platform/ui/menus.h"
#include "platform/ui/ui_paint.h"

namespace {
constexpr int kTabHeight = 20;
}

// ---- TTabSheet ----

TTabSheet::TTabSheet(TComponent* owner) : TWinControl(owner) {
  SetVisibleFlag(false);
  SetControlStyle({csAcceptsControls, csCaptureMouse, csClickEvents, csDoubleClicks});
}

TTabSheet::~TTabSheet() { SetPageControl(nullptr); }

void TTabSheet::SetPageControl(TPageControl* value) {
  if (value == FPageControl) return;
  if (FPageControl) FPageControl->RemovePage(this);
  FPageControl = value;
  if (value) value->InsertPage(this);
}

int TTabSheet::PageIndex() const {
  if (!FPageControl) return -1;
  auto& pages = FPageControl->FPages;
  return static_cast<int>(std::find(pages.begin(), pages.end(), this) - pages.begin());
}

void TTabSheet::SetTabVisible(bool value) {
  if (value == FTabVisible) return;
  FTabVisible = value;
  if (!FPageControl) return;
  if (!value && FPageControl->FActivePage == this) {
    // The page of a hidden tab gives way to the next visible one.
    auto tabs = FPageControl->VisibleTabs();
    FPageControl->SetActivePage(tabs.empty() ? nullptr : tabs.front());
  }
  FPageControl->Invalidate();
}

void TTabSheet::SetText(const std::string& value) {
  TWinControl::SetText(value);
  if (FPageControl) FPageControl->Invalidate();
}

// ---- TPageControl ----

TPageControl::TPageControl(TComponent* owner) : TWinControl(owner) {
  SetInitialBounds(289, 193);
  SetTabStop(true);
}

TPageControl::~TPageControl() {
  for (TTabSheet* p : std::vector<TTabSheet*>(FPages)) p->FPageControl = nullptr;
}

void TPageControl::InsertPage(TTabSheet* page) {
  FPages.push_back(page);
  page->SetParent(this);
  page->SetAlign(alClient);
  if (!FActivePage && page->TabVisible()) SetActivePage(page);
  Invalidate();
}

void TPageControl::RemovePage(TTabSheet* page) {
  FPages.erase(std::remove(FPages.begin(), FPages.end(), page), FPages.end());
  if (page->Parent() == this) page->SetParent(nullptr);
  if (FActivePage == page) {
    FActivePage = nullptr;
    auto tabs = VisibleTabs();
    if (!tabs.empty()) SetActivePage(tabs.front());
  }
  Invalidate();
}

std::vector<TTabSheet*> TPageControl::VisibleTabs() const {
  std::vector<TTabSheet*> tabs;
  for (TTabSheet* p : FPages)
    if (p->TabVisible()) tabs.push_back(p);
  return tabs;
}

void TPageControl::ShowPage(TTabSheet* page) {
  TTabSheet* old = FActivePage;
  if (old == page) return;
  FActivePage = page;
  if (old) {
    old->SetVisible(false);
    if (old->OnHide) old->OnHide(old);
  }
  if (page) {
    page->SetVisible(true);
    page->BringToFront();
    if (page->OnShow) page->OnShow(page);
  }
  Invalidate();
}

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page && page->FPageControl != this) throw EInvalidOperation("Tab sheet is on another page control");
  ShowPage(page);
}

void TPageControl::SetActivePageIndex(int index) {
  SetActivePage(index >= 0 && index < PageCount() ? FPages[index] : nullptr);
}

bool TPageControl::UserChange(TTabSheet* page) {
  if (page == FActivePage || !page) return false;
  bool allow = true;
  if (OnChanging) OnChanging(this, allow);
  if (!allow) return false;
  ShowPage(page);
  if (OnChange) OnChange(this);
  return true;
}

void TPageControl::SelectNextPage(bool goForward) {
  auto tabs = VisibleTabs();
  if (tabs.empty()) return;
  auto it = std::find(tabs.begin(), tabs.end(), FActivePage);
  int n = static_cast<int>(tabs.size());
  int i = it == tabs.end() ? 0 : static_cast<int>(it - tabs.begin());
  UserChange(tabs[(i + (goForward ? 1 : n - 1)) % n]);
}

TRect TPageControl::TabRect(int visibleIndex) {
  auto tabs = VisibleTabs();
  TCanvas* c = ControlCanvas();
  int x = 2;
  for (int i = 0; i < static_cast<int>(tabs.size()); ++i) {
    int w = c->TextWidth(tabs[i]->Caption()) + 16;
    if (FImages && tabs[i]->ImageIndex() >= 0) w += FImages->Width() + 4;
    if (i == visibleIndex) return Rect(x, 2, x + w, kTabHeight);
    x += w;
  }
  return TRect{};
}

int TPageControl::IndexOfTabAt(int x, int y) {
  int n = static_cast<int>(VisibleTabs().size());
  for (int i = 0; i < n; ++i)
    if (PtInRect(TabRect(i), Point(x, y))) return i;
  return -1;
}

void TPageControl::AdjustClientRect(TRect& rect) {
  TWinControl::AdjustClientRect(rect);
  rect.top += kTabHeight + 2;
  rect = InflateRect(rect, -2, -2);
  rect.top -= 2;
}

void TPageControl::Paint() {
  TCanvas* c = ControlCanvas();
  TRect body = Rect(0, kTabHeight, Width(), Height());
  TRect r = body;
  Frame3D(c, r, clBtnHighlight, cl3DDkShadow, 1);
  Frame3D(c, r, clBtnFace, clBtnShadow, 1);
  auto tabs = VisibleTabs();
  for (int i = 0; i < static_cast<int>(tabs.size()); ++i) {
    TRect t = TabRect(i);
    bool active = tabs[i] == FActivePage;
    if (active) t = Rect(t.left - 2, t.top - 2, t.right + 2, t.bottom + 1);
    c->Brush()->SetColor(clBtnFace);
    c->FillRect(t);
    c->Pen()->SetColor(clBtnHighlight);
    c->MoveTo(t.left, t.bottom);
    c->LineTo(t.left, t.top);
    c->LineTo(t.right - 1, t.top);
    c->Pen()->SetColor(cl3DDkShadow);
    c->MoveTo(t.right - 1, t.top + 1);
    c->LineTo(t.right - 1, t.bottom);
    TRect tr = t;
    if (FImages && tabs[i]->ImageIndex() >= 0) {
      FImages->Draw(c, tr.left + 6, tr.top + (tr.bottom - tr.top - FImages->Height()) / 2, tabs[i]->ImageIndex(),
                    IsEnabledInTree());
      tr.left += FImages->Width() + 4;
    }
    DrawTextIn(c, tabs[i]->Caption(), tr, DT_SINGLELINE | DT_CENTER | DT_VCENTER, IsEnabledInTree());
    if (active && Focused()) c->DrawFocusRect(InflateRect(t, -3, -3));
  }
}

void TPageControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TWinControl::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  int i = IndexOfTabAt(x, y);
  if (i >= 0) UserChange(VisibleTabs()[i]);
}

void TPageControl::KeyDown(WORD& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  if (key == VK_LEFT || key == VK_RIGHT) {
    SelectNextPage(key == VK_RIGHT);
    key = 0;
  } else if (key == VK_TAB && shift.Contains(ssCtrl)) {
    SelectNextPage(!shift.Contains(ssShift));
    key = 0;
  }
}

// ---- TListItem and TListItems ----

void TListItem::SetCaption(const std::string& value) {
  FCaption = value;
  if (FOwner) FOwner->Invalidate();
}

void TListItem::SetImageIndex(int value) {
  FImageIndex = value;
  if (FOwner) FOwner->Invalidate();
}

void TListItem::SetSelected(bool value) {
  if (value == FSelected) return;
  if (FOwner) FOwner->ItemSelected(this, value);
  else FSelected = value;
}

int TListItem::Index() const { return FOwner ? FOwner->FItems.IndexOf(this) : -1; }

void TListItem::MakeVisible(bool) {
  if (!FOwner) return;
  TRect r = FOwner->ItemRect(Index());
  TRect cr = FOwner->ClientRect();
  if (r.top < 0) FOwner->ScrollTo(FOwner->FScrollY + r.top);
  else if (r.bottom > cr.bottom) FOwner->ScrollTo(FOwner->FScrollY + r.bottom - cr.bottom);
}

TListItem* TListItems::Add() { return Insert(Count()); }

TListItem* TListItems::Insert(int index) {
  index = std::clamp(index, 0, Count());
  auto item = std::make_unique<TListItem>();
  item->FOwner = FOwner;
  TListItem* raw = item.get();
  FItems.insert(FItems.begin() + index, std::move(item));
  if (!FUpdating) FOwner->Arrange();
  return raw;
}

void TListItems::Delete(int index) {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  FOwner->ItemRemoved(FItems[index].get());
  FItems.erase(FItems.begin() + index);
  if (!FUpdating) FOwner->Arrange();
}

void TListItems::Clear() {
  for (auto& i : FItems) FOwner->ItemRemoved(i.get());
  FItems.clear();
  FOwner->Arrange();
}

void TListItems::EndUpdate() {
  if (FUpdating > 0 && --FUpdating == 0) FOwner->Arrange();
}

int TListItems::IndexOf(const TListItem* item) const {
  for (int i = 0; i < Count(); ++i)
    if (FItems[i].get() == item) return i;
  return -1;
}

// ---- TListView ----

TListView::TListView(TComponent* owner) : TWinControl(owner) {
  SetInitialBounds(250, 150);
  SetTabStop(true);
  SetColor(clWindow);
}

TListView::~TListView() = default;

TListItem* TListView::Selected() const {
  for (int i = 0; i < FItems.Count(); ++i)
    if (FItems[i]->FSelected) return FItems[i];
  return nullptr;
}

void TListView::SetSelected(TListItem* item) {
  for (int i = 0; i < FItems.Count(); ++i)
    if (FItems[i] != item && FItems[i]->FSelected) FItems[i]->SetSelected(false);
  if (item) item->SetSelected(true);
}

int TListView::ItemIndex() const {
  TListItem* s = Selected();
  return s ? s->Index() : -1;
}

void TListView::SetItemIndex(int index) { SetSelected(index >= 0 && index < FItems.Count() ? FItems[index] : nullptr); }

void TListView::ItemSelected(TListItem* item, bool selected) {
  if (selected && !FMultiSelect) {
    for (int i = 0; i < FItems.Count(); ++i) {
      TListItem* other = FItems[i];
      if (other != item && other->FSelected) {
        other->FSelected = false;
        if (OnSelectItem) OnSelectItem(this, other, false);
      }
    }
  }
  item->FSelected = selected;
  if (selected) FFocused = item;
  Invalidate();
  if (OnSelectItem) OnSelectItem(this, item, selected);
  if (OnChange) OnChange(this);
}

void TListView::ItemRemoved(TListItem* item) {
  if (FFocused == item) FFocused = nullptr;
}

TSize TListView::CellSize() {
  TCanvas* c = ControlCanvas();
  int th = c->TextHeight("Ag");
  if (FViewStyle == vsIcon) {
    int iw = FLargeImages ? FLargeImages->Width() : 32, ih = FLargeImages ? FLargeImages->Height() : 32;
    return TSize{std::max(iw + 24, 76), ih + th * 2 + 10};
  }
  int iw = FSmallImages ? FSmallImages->Width() : 16, ih = FSmallImages ? FSmallImages->Height() : 16;
  return TSize{std::max(120, iw + 100), std::max(ih, th) + 2};
}

int TListView::Columns() {
  if (FViewStyle == vsReport || FViewStyle == vsList) return 1;
  return std::max(1, static_cast<int>(ClientWidth() / CellSize().cx));
}

TRect TListView::ItemRect(int index) {
  TSize cell = CellSize();
  int cols = Columns();
  int x = (index % cols) * cell.cx + 2, y = (index / cols) * cell.cy + 2 - FScrollY;
  return Rect(x, y, x + cell.cx, y + cell.cy);
}

TListItem* TListView::GetItemAt(int x, int y) {
  for (int i = 0; i < FItems.Count(); ++i)
    if (PtInRect(ItemRect(i), Point(x, y))) return FItems[i];
  return nullptr;
}

void TListView::ScrollTo(int top) {
  TSize cell = CellSize();
  int rows = (FItems.Count() + Columns() - 1) / Columns();
  int total = rows * cell.cy + 4;
  FScrollY = std::clamp(top, 0, std::max(0, total - Height()));
  Arrange();
}

void TListView::Arrange() {
  TSize cell = CellSize();
  int rows = (FItems.Count() + Columns() - 1) / Columns();
  int total = rows * cell.cy + 4;
  bool need = total > Height();
  ShowScrollBar(Handle(), SB_VERT, need);
  if (need) {
    SCROLLINFO si;
    si.fMask = SIF_ALL;
    si.nMax = total - 1;
    si.nPage = static_cast<UINT>(std::max(1, ClientHeight()));
    si.nPos = FScrollY;
    SetScrollInfo(Handle(), SB_VERT, &si, TRUE);
  } else {
    FScrollY = 0;
  }
  Invalidate();
}

void TListView::Resize() {
  TWinControl::Resize();
  Arrange();
}

void TListView::Paint() {
  TCanvas* c = ControlCanvas();
  TRect r = ClientRect();
  TRect box = Rect(0, 0, Width(), Height());
  DrawSunkenBox(c, box, Color());
  bool showSel = Focused() || !FHideSelection;
  for (int i = 0; i < FItems.Count(); ++i) {
    TRect cell = ItemRect(i);
    if (cell.bottom < 0 || cell.top > r.bottom) continue;
    TListItem* item = FItems[i];
    bool sel = item->FSelected && showSel;
    if (FViewStyle == vsIcon) {
      TCustomImageList* images = FLargeImages;
      int iw = images ? images->Width() : 32, ih = images ? images->Height() : 32;
      int ix = cell.left + (cell.right - cell.left - iw) / 2;
      if (images && item->FImageIndex >= 0) images->Draw(c, ix, cell.top + 2, item->FImageIndex, IsEnabledInTree());
      TRect tr = Rect(cell.left + 2, cell.top + ih + 6, cell.right - 2, cell.bottom);
      TRect calc = tr;
      DrawText(c->Handle(), item->FCaption.c_str(), static_cast<int>(item->FCaption.size()), &calc,
               DT_CALCRECT | DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
      int tw = calc.right - calc.left;
      TRect back = Rect(tr.left + (tr.right - tr.left - tw) / 2 - 1, tr.top, tr.left + (tr.right - tr.left + tw) / 2 + 1,
                        tr.top + (calc.bottom - calc.top));
      if (sel) {
        c->Brush()->SetColor(Focused() ? clHighlight : clBtnFace);
        c->FillRect(back);
      }
      c->Font()->SetColor(sel && Focused() ? clHighlightText : Font()->Color());
      DrawTextIn(c, item->FCaption, tr, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX, IsEnabledInTree());
      c->Font()->SetColor(Font()->Color());
      if (Focused() && item == FFocused) c->DrawFocusRect(back);
    } else {
      TCustomImageList* images = FSmallImages;
      int x = cell.left + 2;
      if (images && item->FImageIndex >= 0) {
        images->Draw(c, x, cell.top + (cell.bottom - cell.top - images->Height()) / 2, item->FImageIndex, IsEnabledInTree());
        x += images->Width() + 4;
      }
      TRect tr = Rect(x, cell.top, cell.right, cell.bottom);
      if (sel) {
        c->Brush()->SetColor(Focused() ? clHighlight : clBtnFace);
        c->FillRect(tr);
      }
      c->Font()->SetColor(sel && Focused() ? clHighlightText : Font()->Color());
      DrawTextIn(c, item->FCaption, tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, IsEnabledInTree());
      c->Font()->SetColor(Font()->Color());
    }
  }
}

void TListView::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TListItem* item = GetItemAt(x, y);
  if (button == mbLeft || button == mbRight) {
    if (item) {
      if (FMultiSelect && shift.Contains(ssCtrl)) item->SetSelected(!item->Selected());
      else if (!item->Selected()) SetSelected(item);
      FFocused = item;
    } else if (button == mbLeft && !FMultiSelect) {
      // A click on empty space leaves the selection as it is.
    }
  }
  TWinControl::MouseDown(button, shift, x, y);
}

void TListView::KeyDown(WORD& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  int n = FItems.Count();
  if (n == 0) return;
  int cols = Columns();
  int i = FFocused ? FFocused->Index() : -1;
  int target = i;
  switch (key) {
    case VK_LEFT: target = i - 1; break;
    case VK_RIGHT: target = i + 1; break;
    case VK_UP: target = i - cols; break;
    case VK_DOWN: target = i < 0 ? 0 : i + cols; break;
    case VK_HOME: target = 0; break;
    case VK_END: target = n - 1; break;
    default: return;
  }
  target = std::clamp(target, 0, n - 1);
  if (target != i || !FItems[target]->Selected()) {
    SetSelected(FItems[target]);
    FItems[target]->MakeVisible(false);
  }
  key = 0;
}

bool TListView::DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) {
  if (TWinControl::DoMouseWheel(shift, wheelDelta, mousePos)) return true;
  ScrollTo(FScrollY - wheelDelta / WHEEL_DELTA * CellSize().cy);
  return true;
}

// ---- TToolButton ----

TToolButton::TToolButton(TComponent* owner) : TGraphicControl(owner) { SetInitialBounds(23, 22); }

TToolBar* TToolButton::Bar() const { return dynamic_cast<TToolBar*>(Parent()); }

void TToolButton::SetParent(TWinControl* parent) {
  TGraphicControl::SetParent(parent);
  if (TToolBar* bar = Bar()) bar->LayoutButtons();
}

void TToolButton::SetStyle(TToolButtonStyle value) {
  FStyle = value;
  if (TToolBar* bar = Bar()) bar->LayoutButtons();
  Invalidate();
}

int TToolButton::Index() const {
  TToolBar* bar = Bar();
  if (!bar) return -1;
  for (int i = 0; i < bar->ButtonCount(); ++i)
    if (bar->Buttons(i) == this) return i;
  return -1;
}

void TToolButton::SetDown(bool value) {
  if (value == FDown) return;
  FDown = value;
  if (value && FGrouped && Bar()) {
    // The neighbouring grouped check buttons form one group.
    TToolBar* bar = Bar();
    int i = Index();
    for (int dir : {-1, 1}) {
      for (int k = i + dir; k >= 0 && k < bar->ButtonCount(); k += dir) {
        TToolButton* b = bar->Buttons(k);
        if (!b->FGrouped || b->FStyle != tbsCheck) break;
        if (b->FDown) {
          b->FDown = false;
          b->Invalidate();
        }
      }
    }
  }
  Invalidate();
}

void TToolButton::Click() {
  if (FStyle == tbsCheck) {
    if (!FDown) SetDown(true);
    else if (!FGrouped || FAllowAllUp) SetDown(false);
  }
  TGraphicControl::Click();
}

void TToolButton::ActionChange(TBasicAction* sender) {
  TGraphicControl::ActionChange(sender);
  if (auto* a = dynamic_cast<TCustomAction*>(sender)) {
    FImageIndex = a->ImageIndex();
    if (FStyle == tbsCheck) SetDown(a->Checked());
  }
}

void TToolButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TGraphicControl::MouseDown(button, shift, x, y);
  if (button != mbLeft || FStyle == tbsSeparator || FStyle == tbsDivider) return;
  FPressing = true;
  Invalidate();
  // The arrow part of a drop-down button (or a button without OnClick) opens its menu.
  if (FStyle == tbsDropDown && FDropdownMenu && (x >= Width() - 12 || !OnClick)) {
    FPressing = false;
    SetMouseCapture(false);
    ExcludeState(csClicked);
    TPoint p = ClientToScreen(Point(0, Height()));
    FDropdownMenu->SetPopupComponent(this);
    FDropdownMenu->Popup(p.x, p.y);
    Invalidate();
  }
}

void TToolButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  FPressing = false;
  Invalidate();
  TGraphicControl::MouseUp(button, shift, x, y);
}

void TToolButton::MouseEnter() {
  FHot = true;
  Invalidate();
  TGraphicControl::MouseEnter();
}

void TToolButton::MouseLeave() {
  FHot = false;
  Invalidate();
  TGraphicControl::MouseLeave();
}

void TToolButton::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  TToolBar* bar = Bar();
  if (FStyle == tbsSeparator) return;
  if (FStyle == tbsDivider) {
    int x = Width() / 2 - 1;
    c->Pen()->SetColor(clBtnShadow);
    c->MoveTo(x, 2);
    c->LineTo(x, Height() - 2);
    c->Pen()->SetColor(clBtnHighlight);
    c->MoveTo(x + 1, 2);
    c->LineTo(x + 1, Height() - 2);
    return;
  }
  bool enabled = IsEnabledInTree();
  bool sunken = FPressing || FDown;
  bool flat = !bar || bar->Flat();
  if (sunken) {
    if (FDown && !FPressing) {
      c->Brush()->SetColor(cl3DLight);
      c->FillRect(r);
    }
    TRect f = r;
    Frame3D(c, f, clBtnShadow, clBtnHighlight, 1);
  } else if (!flat || (FHot && enabled)) {
    TRect f = r;
    Frame3D(c, f, clBtnHighlight, clBtnShadow, 1);
  }
  int arrow = FStyle == tbsDropDown ? 12 : 0;
  TCustomImageList* images = bar ? bar->Images() : nullptr;
  if (!enabled && bar && bar->DisabledImages()) images = bar->DisabledImages();
  int off = sunken ? 1 : 0;
  int textTop = Height();
  if (images && FImageIndex >= 0) {
    int x = (Width() - arrow - images->Width()) / 2 + off;
    int y = bar && bar->ShowCaptions() ? 3 + off : (Height() - images->Height()) / 2 + off;
    images->Draw(c, x, y, FImageIndex, enabled || (bar && bar->DisabledImages()));
    textTop = y + images->Height() + 1;
  }
  if (bar && bar->ShowCaptions())
    DrawTextIn(c, Caption(), Rect(off, textTop, Width() - arrow + off, Height()), DT_SINGLELINE | DT_CENTER | DT_TOP, enabled);
  if (arrow) DrawArrow(c, Rect(Width() - arrow, 0, Width(), Height()), adDown, enabled ? clBtnText : clGrayText);
}

// ---- TToolBar ----

TToolBar::TToolBar(TComponent* owner) : TWinControl(owner) {
  SetInitialBounds(150, 29);
  SetAlign(alTop);
  SetControlStyle({csAcceptsControls, csCaptureMouse, csClickEvents, csDoubleClicks});
}

int TToolBar::ButtonCount() const {
  int n = 0;
  for (int i = 0; i < ControlCount(); ++i)
    if (dynamic_cast<TToolButton*>(Controls(i))) ++n;
  return n;
}

TToolButton* TToolBar::Buttons(int index) const {
  for (int i = 0; i < ControlCount(); ++i)
    if (auto* b = dynamic_cast<TToolButton*>(Controls(i)); b && index-- == 0) return b;
  return nullptr;
}

void TToolBar::LayoutButtons() {
  int x = 1;
  int h = FButtonHeight;
  if (FShowCaptions) h += ControlCanvas()->TextHeight("Ag");
  for (int i = 0; i < ButtonCount(); ++i) {
    TToolButton* b = Buttons(i);
    if (!b->Visible()) continue;
    int w = FButtonWidth;
    if (b->Style() == tbsSeparator) w = 8;
    else if (b->Style() == tbsDivider) w = 8;
    else if (b->Style() == tbsDropDown) w += 12;
    b->SetBounds(x, 2, w, h);
    x += w;
  }
  if (Height() < h + 4) SetHeight(h + 4);
}

void TToolBar::Resize() {
  TWinControl::Resize();
}

void TToolBar::Paint() {
  TCanvas* c = ControlCanvas();
  c->Pen()->SetColor(clBtnHighlight);
  c->MoveTo(0, 0);
  c->LineTo(Width(), 0);
}
