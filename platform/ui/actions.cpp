#include "platform/ui/actions.h"

#include <algorithm>

#include "platform/ui/controls.h"
#include "platform/ui/forms.h"
#include "platform/ui/menus.h"

namespace {
std::vector<TCustomActionList*>& Lists() {
  static std::vector<TCustomActionList*> lists;
  return lists;
}
}  // namespace

const std::vector<TCustomActionList*>& AllActionLists() { return Lists(); }

bool TBasicAction::Execute() {
  if (!OnExecute) return false;
  OnExecute(this);
  return true;
}

bool TBasicAction::Update() {
  if (!OnUpdate) return false;
  OnUpdate(this);
  return true;
}

TContainedAction::~TContainedAction() { SetActionList(nullptr); }

void TContainedAction::SetActionList(TCustomActionList* list) {
  if (list == FActionList) return;
  if (FActionList) {
    auto& v = FActionList->FActions;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  FActionList = list;
  if (list) list->FActions.push_back(this);
}

bool TContainedAction::Execute() {
  if (FActionList && FActionList->ExecuteAction(this)) return true;
  return TBasicAction::Execute();
}

bool TContainedAction::Update() {
  if (FActionList && FActionList->UpdateAction(this)) return true;
  return TBasicAction::Update();
}

TCustomAction::~TCustomAction() {
  std::vector<TComponent*> clients = FClients;
  for (TComponent* c : clients) {
    if (auto* control = dynamic_cast<TControl*>(c)) control->SetAction(nullptr);
    else if (auto* item = dynamic_cast<TMenuItem*>(c)) item->SetAction(nullptr);
  }
}

void TCustomAction::RegisterClient(TComponent* client) {
  if (std::find(FClients.begin(), FClients.end(), client) == FClients.end()) FClients.push_back(client);
}

void TCustomAction::UnregisterClient(TComponent* client) {
  FClients.erase(std::remove(FClients.begin(), FClients.end(), client), FClients.end());
}

void TCustomAction::Changed() {
  std::vector<TComponent*> clients = FClients;
  for (TComponent* c : clients) {
    if (auto* control = dynamic_cast<TControl*>(c)) control->ActionChange(this);
    else if (auto* item = dynamic_cast<TMenuItem*>(c)) item->ActionChange(this);
  }
}

void TCustomAction::SetCaption(const std::string& value) {
  if (value == FCaption) return;
  FCaption = value;
  Changed();
}

void TCustomAction::SetChecked(bool value) {
  if (value == FChecked) return;
  FChecked = value;
  if (value && FGroupIndex > 0 && ActionList()) {
    for (int i = 0; i < ActionList()->ActionCount(); ++i) {
      auto* other = dynamic_cast<TCustomAction*>(ActionList()->Actions(i));
      if (other && other != this && other->FGroupIndex == FGroupIndex) other->SetChecked(false);
    }
  }
  Changed();
}

void TCustomAction::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  Changed();
}

void TCustomAction::SetVisible(bool value) {
  if (value == FVisible) return;
  FVisible = value;
  Changed();
}

void TCustomAction::SetHint(const std::string& value) {
  if (value == FHint) return;
  FHint = value;
  Changed();
}

void TCustomAction::SetImageIndex(int value) {
  if (value == FImageIndex) return;
  FImageIndex = value;
  Changed();
}

void TCustomAction::SetShortCut(TShortCut value) {
  if (value == FShortCut) return;
  FShortCut = value;
  Changed();
}

bool TCustomAction::Execute() {
  Update();
  if (!FEnabled) return false;
  if (FAutoCheck) SetChecked(!FChecked);
  return TContainedAction::Execute();
}

TCustomActionList::TCustomActionList(TComponent* owner) : TComponent(owner) {
  Lists().push_back(this);
  if (auto* form = dynamic_cast<TCustomForm*>(owner)) form->AddActionList(this);
}

TCustomActionList::~TCustomActionList() {
  if (auto* form = dynamic_cast<TCustomForm*>(Owner())) form->RemoveActionList(this);
  Lists().erase(std::remove(Lists().begin(), Lists().end(), this), Lists().end());
  std::vector<TContainedAction*> actions = FActions;
  for (TContainedAction* a : actions) a->SetActionList(nullptr);
}

bool TCustomActionList::IsShortCut(TShortCut shortCut) {
  if (FState != asNormal || shortCut == 0) return false;
  for (TContainedAction* a : std::vector<TContainedAction*>(FActions)) {
    auto* ca = dynamic_cast<TCustomAction*>(a);
    if (!ca) continue;
    bool match = ca->ShortCut() == shortCut ||
                 std::find(ca->SecondaryShortCuts().begin(), ca->SecondaryShortCuts().end(), shortCut) !=
                     ca->SecondaryShortCuts().end();
    if (!match) continue;
    ca->Update();
    if (ca->Enabled()) ca->Execute();
    return true;
  }
  return false;
}

void TCustomActionList::UpdateActions() {
  if (FState != asNormal) return;
  for (TContainedAction* a : std::vector<TContainedAction*>(FActions)) a->Update();
}

bool TCustomActionList::ExecuteAction(TBasicAction* action) {
  bool handled = false;
  if (OnExecute) OnExecute(action, handled);
  return handled;
}

bool TCustomActionList::UpdateAction(TBasicAction* action) {
  bool handled = false;
  if (OnUpdate) OnUpdate(action, handled);
  return handled;
}
