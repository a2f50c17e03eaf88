#pragma once
// Actions: a command with its caption, state and shortcut, shared by the menu
// items, buttons and tool buttons linked to it. TActionList groups them; idle
// processing runs their OnUpdate.
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/object.h"
#include "platform/ui/messages.h"

class TCustomActionList;
class TCustomImageList;

class TBasicAction : public TComponent {
public:
  explicit TBasicAction(TComponent* owner) : TComponent(owner) {}
  // Runs OnExecute (through the list's OnExecute first); true when anything handled it.
  virtual bool Execute();
  // Runs OnUpdate (through the list's OnUpdate first); true when anything handled it.
  virtual bool Update();
  TNotifyEvent OnExecute;
  TNotifyEvent OnUpdate;
};

class TContainedAction : public TBasicAction {
public:
  explicit TContainedAction(TComponent* owner) : TBasicAction(owner) {}
  ~TContainedAction() override;
  TCustomActionList* ActionList() const { return FActionList; }
  void SetActionList(TCustomActionList* list);
  const std::string& Category() const { return FCategory; }
  void SetCategory(const std::string& value) { FCategory = value; }
  bool Execute() override;
  bool Update() override;

private:
  TCustomActionList* FActionList = nullptr;
  std::string FCategory;
};

// Anything an action keeps in step with itself (controls, menu items).
class TActionClient {
public:
  virtual ~TActionClient() = default;
};

class TCustomAction : public TContainedAction {
public:
  explicit TCustomAction(TComponent* owner) : TContainedAction(owner) {}
  ~TCustomAction() override;

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& value);
  bool Checked() const { return FChecked; }
  // Changing Checked does not run the action; in a group it unchecks the others.
  void SetChecked(bool value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  bool Visible() const { return FVisible; }
  void SetVisible(bool value);
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& value);
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int value);
  TShortCut ShortCut() const { return FShortCut; }
  void SetShortCut(TShortCut value);
  std::vector<TShortCut>& SecondaryShortCuts() { return FSecondaryShortCuts; }
  int GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(int value) { FGroupIndex = value; }
  bool AutoCheck() const { return FAutoCheck; }
  void SetAutoCheck(bool value) { FAutoCheck = value; }
  int HelpContext() const { return FHelpContext; }
  void SetHelpContext(int value) { FHelpContext = value; }
  // An enabled action with AutoCheck flips Checked first; a disabled one does nothing.
  bool Execute() override;

  // The linked clients (controls, menu items), told of every change.
  void RegisterClient(TComponent* client);
  void UnregisterClient(TComponent* client);

private:
  void Changed();
  std::string FCaption;
  bool FChecked = false;
  bool FEnabled = true;
  bool FVisible = true;
  std::string FHint;
  int FImageIndex = -1;
  TShortCut FShortCut = 0;
  std::vector<TShortCut> FSecondaryShortCuts;
  int FGroupIndex = 0;
  bool FAutoCheck = false;
  int FHelpContext = 0;
  std::vector<TComponent*> FClients;
};

class TAction : public TCustomAction {
public:
  explicit TAction(TComponent* owner) : TCustomAction(owner) {}
};

using TActionEvent = std::function<void(TBasicAction* action, bool& handled)>;
enum TActionListState : uint8_t { asNormal, asSuspended, asSuspendedEnabled };

class TCustomActionList : public TComponent {
public:
  explicit TCustomActionList(TComponent* owner);
  ~TCustomActionList() override;
  int ActionCount() const { return static_cast<int>(FActions.size()); }
  TContainedAction* Actions(int index) const { return FActions.at(index); }
  TCustomImageList* Images() const { return FImages; }
  void SetImages(TCustomImageList* value) { FImages = value; }
  TActionListState State() const { return FState; }
  void SetState(TActionListState value) { FState = value; }
  // Runs the enabled action whose shortcut (or secondary shortcut) this is.
  bool IsShortCut(TShortCut shortCut);
  // OnUpdate of every action (idle processing).
  void UpdateActions();
  virtual bool ExecuteAction(TBasicAction* action);
  virtual bool UpdateAction(TBasicAction* action);

  TActionEvent OnExecute;
  TActionEvent OnUpdate;

private:
  friend class TContainedAction;
  std::vector<TContainedAction*> FActions;
  TCustomImageList* FImages = nullptr;
  TActionListState FState = asNormal;
};

class TActionList : public TCustomActionList {
public:
  explicit TActionList(TComponent* owner) : TCustomActionList(owner) {}
};

// Every action list alive (idle processing updates them all).
const std::vector<TCustomActionList*>& AllActionLists();
