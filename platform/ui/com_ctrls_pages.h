#pragma once
// Page controls with their tab sheets, list views of icons, and tool bars.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/controls.h"

class TCustomImageList;
class TPageControl;
class TPopupMenu;
class TMenuItem;

class TTabSheet : public TWinControl {
public:
  explicit TTabSheet(TComponent* owner);
  ~TTabSheet() override;
  TPageControl* PageControl() const { return FPageControl; }
  void SetPageControl(TPageControl* value);
  // A hidden tab keeps its page but shows no tab and cannot be chosen.
  bool TabVisible() const { return FTabVisible; }
  void SetTabVisible(bool value);
  int PageIndex() const;
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int value) { FImageIndex = value; }
  void SetText(const std::string& value) override;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;

private:
  friend class TPageControl;
  TPageControl* FPageControl = nullptr;
  bool FTabVisible = true;
  int FImageIndex = -1;
};

using TTabChangingEvent = std::function<void(TObject* sender, bool& allowChange)>;

class TPageControl : public TWinControl {
public:
  explicit TPageControl(TComponent* owner);
  ~TPageControl() override;
  int PageCount() const { return static_cast<int>(FPages.size()); }
  TTabSheet* Pages(int index) const { return FPages.at(index); }
  TTabSheet* ActivePage() const { return FActivePage; }
  // Changing the page in code fires neither OnChanging nor OnChange.
  void SetActivePage(TTabSheet* page);
  int ActivePageIndex() const { return FActivePage ? FActivePage->PageIndex() : -1; }
  void SetActivePageIndex(int index);
  // The visible tabs, in order (hidden tabs are skipped).
  std::vector<TTabSheet*> VisibleTabs() const;
  TRect TabRect(int visibleIndex);
  int IndexOfTabAt(int x, int y);
  TCustomImageList* Images() const { return FImages; }
  void SetImages(TCustomImageList* value) { FImages = value; Invalidate(); }
  // Moves to the next or previous visible tab as the user would (with events).
  void SelectNextPage(bool goForward);
  bool FocusOnClick() const override { return TabStop(); }
  TNotifyEvent OnChange;
  TTabChangingEvent OnChanging;

protected:
  void AdjustClientRect(TRect& rect) override;
  void Paint() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void KeyDown(WORD& key, TShiftState shift) override;
  // The user's change: OnChanging may refuse, OnChange follows.
  bool UserChange(TTabSheet* page);

private:
  friend class TTabSheet;
  void InsertPage(TTabSheet* page);
  void RemovePage(TTabSheet* page);
  void ShowPage(TTabSheet* page);
  std::vector<TTabSheet*> FPages;
  TTabSheet* FActivePage = nullptr;
  TCustomImageList* FImages = nullptr;
};

// ---- list views ----

class TListView;
class TListItems;

class TListItem {
public:
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& value);
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int value);
  bool Selected() const { return FSelected; }
  // Selecting in code fires OnSelectItem as the framework does.
  void SetSelected(bool value);
  void* Data() const { return FData; }
  void SetData(void* value) { FData = value; }
  int Index() const;
  TListView* ListView() const { return FOwner; }
  std::vector<std::string>& SubItems() { return FSubItems; }
  void MakeVisible(bool partialOK);

private:
  friend class TListItems;
  friend class TListView;
  TListView* FOwner = nullptr;
  std::string FCaption;
  int FImageIndex = -1;
  bool FSelected = false;
  void* FData = nullptr;
  std::vector<std::string> FSubItems;
};

class TListItems {
public:
  explicit TListItems(TListView* owner) : FOwner(owner) {}
  int Count() const { return static_cast<int>(FItems.size()); }
  TListItem* Item(int index) const { return FItems.at(index).get(); }
  TListItem* operator[](int index) const { return Item(index); }
  TListItem* Add();
  TListItem* Insert(int index);
  void Delete(int index);
  void Clear();
  void BeginUpdate() { ++FUpdating; }
  void EndUpdate();
  int IndexOf(const TListItem* item) const;

private:
  friend class TListView;
  TListView* FOwner;
  std::vector<std::unique_ptr<TListItem>> FItems;
  int FUpdating = 0;
};

enum TViewStyle : uint8_t { vsIcon, vsSmallIcon, vsList, vsReport };
using TLVSelectItemEvent = std::function<void(TObject* sender, TListItem* item, bool selected)>;

class TListView : public TWinControl {
public:
  explicit TListView(TComponent* owner);
  ~TListView() override;
  TListItems* Items() { return &FItems; }
  TViewStyle ViewStyle() const { return FViewStyle; }
  void SetViewStyle(TViewStyle value) { FViewStyle = value; Arrange(); }
  TCustomImageList* LargeImages() const { return FLargeImages; }
  void SetLargeImages(TCustomImageList* value) { FLargeImages = value; Arrange(); }
  TCustomImageList* SmallImages() const { return FSmallImages; }
  void SetSmallImages(TCustomImageList* value) { FSmallImages = value; Arrange(); }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  bool MultiSelect() const { return FMultiSelect; }
  void SetMultiSelect(bool value) { FMultiSelect = value; }
  // Without HideSelection the selection stays shown while the list has no focus.
  bool HideSelection() const { return FHideSelection; }
  void SetHideSelection(bool value) { FHideSelection = value; Invalidate(); }
  // The first selected item, or nullptr.
  TListItem* Selected() const;
  void SetSelected(TListItem* item);
  int ItemIndex() const;
  void SetItemIndex(int index);
  TListItem* ItemFocused() const { return FFocused; }
  TListItem* GetItemAt(int x, int y);
  TRect ItemRect(int index);
  void Arrange();
  bool FocusOnClick() const override { return true; }
  UINT DialogCode() override { return DLGC_WANTARROWS; }
  TLVSelectItemEvent OnSelectItem;
  TNotifyEvent OnChange;

protected:
  void Paint() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void KeyDown(WORD& key, TShiftState shift) override;
  bool DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) override;
  void Resize() override;

private:
  friend class TListItem;
  friend class TListItems;
  void ItemSelected(TListItem* item, bool selected);
  void ItemRemoved(TListItem* item);
  TSize CellSize();
  int Columns();
  void ScrollTo(int top);
  TListItems FItems{this};
  TViewStyle FViewStyle = vsIcon;
  TCustomImageList* FLargeImages = nullptr;
  TCustomImageList* FSmallImages = nullptr;
  bool FReadOnly = false;
  bool FMultiSelect = false;
  bool FHideSelection = true;
  TListItem* FFocused = nullptr;
  int FScrollY = 0;
};

// ---- tool bars ----

class TToolBar;
enum TToolButtonStyle : uint8_t { tbsButton, tbsCheck, tbsDropDown, tbsSeparator, tbsDivider };

class TToolButton : public TGraphicControl {
public:
  explicit TToolButton(TComponent* owner);
  TToolButtonStyle Style() const { return FStyle; }
  void SetStyle(TToolButtonStyle value);
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int value) { FImageIndex = value; Invalidate(); }
  bool Down() const { return FDown; }
  // Setting Down does not click; a grouped check button brings its group up.
  void SetDown(bool value);
  bool Grouped() const { return FGrouped; }
  void SetGrouped(bool value) { FGrouped = value; }
  bool AllowAllUp() const { return FAllowAllUp; }
  void SetAllowAllUp(bool value) { FAllowAllUp = value; }
  TPopupMenu* DropdownMenu() const { return FDropdownMenu; }
  void SetDropdownMenu(TPopupMenu* value) { FDropdownMenu = value; }
  // The index of the button on its bar.
  int Index() const;
  void Click() override;
  void SetParent(TWinControl* parent) override;
  void ActionChange(TBasicAction* sender) override;

protected:
  void Paint() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseEnter() override;
  void MouseLeave() override;

private:
  TToolBar* Bar() const;
  TToolButtonStyle FStyle = tbsButton;
  int FImageIndex = -1;
  bool FDown = false;
  bool FGrouped = false;
  bool FAllowAllUp = false;
  TPopupMenu* FDropdownMenu = nullptr;
  bool FPressing = false;
  bool FHot = false;
};

class TToolBar : public TWinControl {
public:
  explicit TToolBar(TComponent* owner);
  TCustomImageList* Images() const { return FImages; }
  void SetImages(TCustomImageList* value) { FImages = value; LayoutButtons(); }
  TCustomImageList* DisabledImages() const { return FDisabledImages; }
  void SetDisabledImages(TCustomImageList* value) { FDisabledImages = value; Invalidate(); }
  int ButtonWidth() const { return FButtonWidth; }
  void SetButtonWidth(int value) { FButtonWidth = value; LayoutButtons(); }
  int ButtonHeight() const { return FButtonHeight; }
  void SetButtonHeight(int value) { FButtonHeight = value; LayoutButtons(); }
  bool Flat() const { return FFlat; }
  void SetFlat(bool value) { FFlat = value; Invalidate(); }
  bool ShowCaptions() const { return FShowCaptions; }
  void SetShowCaptions(bool value) { FShowCaptions = value; LayoutButtons(); }
  int ButtonCount() const;
  TToolButton* Buttons(int index) const;
  // Places the buttons left to right in the order they were put on the bar.
  void LayoutButtons();

protected:
  void Paint() override;
  void Resize() override;

private:
  TCustomImageList* FImages = nullptr;
  TCustomImageList* FDisabledImages = nullptr;
  int FButtonWidth = 23;
  int FButtonHeight = 22;
  bool FFlat = true;
  bool FShowCaptions = false;
};
