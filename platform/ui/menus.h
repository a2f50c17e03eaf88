#pragma once
// Menus: TMenuItem trees under a TMainMenu (the form's menu bar) or a TPopupMenu
// (shown at a point), with shortcuts, images, check and radio items.
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/object.h"
#include "platform/ui/messages.h"

class TBasicAction;
class TCustomImageList;
class TMenu;
class TCanvas;

class TMenuItem : public TComponent {
public:
  explicit TMenuItem(TComponent* owner);
  ~TMenuItem() override;

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& value) { FCaption = value; }
  // A caption of "-" makes a separator line.
  bool IsLine() const { return FCaption == "-"; }
  bool Checked() const { return FChecked; }
  // Setting Checked does not click the item; a checked radio item unchecks the
  // others of its group.
  void SetChecked(bool value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value) { FEnabled = value; }
  bool Visible() const { return FVisible; }
  void SetVisible(bool value) { FVisible = value; }
  bool RadioItem() const { return FRadioItem; }
  void SetRadioItem(bool value) { FRadioItem = value; }
  uint8_t GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(uint8_t value) { FGroupIndex = value; }
  bool AutoCheck() const { return FAutoCheck; }
  void SetAutoCheck(bool value) { FAutoCheck = value; }
  bool Default() const { return FDefault; }
  void SetDefault(bool value) { FDefault = value; }
  TShortCut ShortCut() const { return FShortCut; }
  void SetShortCut(TShortCut value) { FShortCut = value; }
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int value) { FImageIndex = value; }
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& value) { FHint = value; }
  TBasicAction* Action() const { return FAction; }
  void SetAction(TBasicAction* value);
  void ActionChange(TBasicAction* sender);

  // ---- the tree ----
  int Count() const { return static_cast<int>(FItems.size()); }
  TMenuItem* Items(int index) const { return FItems.at(index); }
  TMenuItem* Parent() const { return FParent; }
  int MenuIndex() const;
  void Add(TMenuItem* item);
  void Insert(int index, TMenuItem* item);
  void Remove(TMenuItem* item);
  void Delete(int index);
  void Clear();
  int IndexOf(TMenuItem* item) const;
  // The menu the item belongs to (nullptr while it hangs nowhere).
  TMenu* GetParentMenu() const;
  // The item (this one or below) with the shortcut, visible or not.
  TMenuItem* FindShortCut(TShortCut shortCut);

  // Runs the item: AutoCheck flips Checked, then OnClick or the linked action.
  virtual void Click();
  TNotifyEvent OnClick;

private:
  friend class TMenu;
  std::string FCaption;
  bool FChecked = false;
  bool FEnabled = true;
  bool FVisible = true;
  bool FRadioItem = false;
  uint8_t FGroupIndex = 0;
  bool FAutoCheck = false;
  bool FDefault = false;
  TShortCut FShortCut = 0;
  int FImageIndex = -1;
  std::string FHint;
  TBasicAction* FAction = nullptr;
  std::vector<TMenuItem*> FItems;
  TMenuItem* FParent = nullptr;
  TMenu* FMenu = nullptr;
};

class TMenu : public TComponent {
public:
  explicit TMenu(TComponent* owner);
  ~TMenu() override;
  TMenuItem* Items() { return FItems; }
  TCustomImageList* Images() const { return FImages; }
  void SetImages(TCustomImageList* value) { FImages = value; }
  // Clicks the enabled item with the shortcut; true when an item had it.
  bool IsShortCut(TShortCut shortCut);
  TMenuItem* FindItem(TShortCut shortCut) { return FItems->FindShortCut(shortCut); }

private:
  TMenuItem* FItems;
  TCustomImageList* FImages = nullptr;
};

class TMainMenu : public TMenu {
public:
  explicit TMainMenu(TComponent* owner) : TMenu(owner) {}
};

enum TPopupAlignment : uint8_t { paLeft, paRight, paCenter };

class TPopupMenu : public TMenu {
public:
  explicit TPopupMenu(TComponent* owner) : TMenu(owner) {}
  // Shows the menu at the screen point and runs it until an item is chosen or
  // the menu is dismissed; the chosen item is clicked after the menu has closed.
  virtual void Popup(int x, int y);
  // The control whose right click opened the menu.
  TComponent* PopupComponent() const { return FPopupComponent; }
  void SetPopupComponent(TComponent* value) { FPopupComponent = value; }
  TPopupAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TPopupAlignment value) { FAlignment = value; }
  bool AutoPopup() const { return FAutoPopup; }
  void SetAutoPopup(bool value) { FAutoPopup = value; }
  TNotifyEvent OnPopup;

private:
  TComponent* FPopupComponent = nullptr;
  TPopupAlignment FAlignment = paLeft;
  bool FAutoPopup = true;
};

// How a drop-down ended: the item chosen (at any depth of sub-menus), or none;
// Dismissed when a click elsewhere (or the menu key) closed every drop-down;
// Move -1 or 1 when the user asked for the bar's neighbouring menu by arrow.
struct TMenuTrack {
  TMenuItem* Chosen = nullptr;
  bool Dismissed = false;
  int Move = 0;
};

// Runs a drop-down list of items at a screen point until an item is chosen or
// the list is closed; items with items of their own open them beside it. The
// popup takes the keyboard: arrows move, Return or an item's underlined letter
// runs it, Escape closes. fromBar: Left and Right ask for the neighbouring menu;
// byKey: the first item is lit at once.
TMenuTrack TrackMenu(TMenuItem* parent, int x, int y, TCustomImageList* images, bool fromBar, bool byKey);
// The index chosen among parent's items, -1 when dismissed (an item of a
// sub-menu is clicked here and gives -1). Tool buttons use it.
int TrackMenuItems(TMenuItem* parent, int x, int y, TCustomImageList* images);
// True when key is the caption's underlined letter ("&View": V or v; "&&" is
// a plain ampersand). Menus and buttons with accelerators use it.
bool IsMenuAccelerator(char key, const std::string& caption);
// Brings the actions of the items up to date before they show.
void UpdateMenuActions(TMenuItem* parent);
