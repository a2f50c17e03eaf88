#include "platform/rtl/object.h"

#include <algorithm>
#include <cctype>
#include <cxxabi.h>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <typeindex>
#include <typeinfo>

#include "platform/rtl/exceptions.h"

std::string TObject::ClassName() const { return ClassNameOf(typeid(*this)); }

std::string ClassNameOf(const std::type_info& type) {
  const char* mangled = type.name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                   std::free);
  std::string name = (status == 0 && demangled) ? demangled.get() : mangled;
  // Classes inside namespaces keep only their own name, as the framework reports it.
  auto colon = name.rfind("::");
  return colon == std::string::npos ? name : name.substr(colon + 2);
}

namespace {

struct TClassEntry {
  TPersistentClassInfo Info;
  std::type_index Type;
};

std::mutex gClassLock;
// Entries stay where they are once made, so handed-out pointers stay good.
std::vector<std::unique_ptr<TClassEntry>>& Classes() {
  static std::vector<std::unique_ptr<TClassEntry>> classes;
  return classes;
}

TClassEntry* FindEntry(const std::string& name) {
  for (auto& e : Classes())
    if (e->Info.Name.size() == name.size() &&
        std::equal(name.begin(), name.end(), e->Info.Name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      return e.get();
  return nullptr;
}

}  // namespace

TPersistentClass RegisterClassInfo(const std::string& name, const std::type_info& type,
                                   std::function<TPersistent*()> create) {
  std::lock_guard<std::mutex> lock(gClassLock);
  if (TClassEntry* e = FindEntry(name)) {
    if (e->Type != std::type_index(type)) throw EFilerError("A class named " + name + " already exists");
    return &e->Info;
  }
  Classes().push_back(std::make_unique<TClassEntry>(TClassEntry{{name, std::move(create)}, std::type_index(type)}));
  return &Classes().back()->Info;
}

void UnRegisterClass(const std::string& name) {
  std::lock_guard<std::mutex> lock(gClassLock);
  // The entry stays allocated (callers may hold its pointer) but is no longer found.
  if (TClassEntry* e = FindEntry(name)) e->Info.Name.insert(0, 1, '\0');
}

TPersistentClass GetClass(const std::string& name) {
  std::lock_guard<std::mutex> lock(gClassLock);
  TClassEntry* e = name.empty() ? nullptr : FindEntry(name);
  return e ? &e->Info : nullptr;
}

TPersistentClass FindClass(const std::string& name) {
  TPersistentClass c = GetClass(name);
  if (!c) throw EClassNotFound("Class " + name + " not found");
  return c;
}

std::string ClassNameOrNil(const TObject* obj) { return obj ? obj->ClassName() : std::string("nil"); }

void TPersistent::Assign(TPersistent* source) {
  if (source) {
    source->AssignTo(this);
    return;
  }
  // Nothing to ask: the error names the missing source first, as for any other.
  throw EConvertError("Cannot assign a nil to a " + ClassName());
}

void TPersistent::AssignTo(TPersistent* dest) {
  // The framework names the source first: "Cannot assign a TFoo to a TBar".
  throw EConvertError("Cannot assign a " + ClassNameOrNil(this) + " to a " + ClassNameOrNil(dest));
}

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  FDestroying = true;
  // Partners that asked to hear of our end drop their pointers to us first.
  while (!FFreeNotifies.empty()) {
    TComponent* partner = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    partner->DropFreeNotification(this);
    partner->Notification(this, opRemove);
  }
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return FComponents[static_cast<size_t>(index)];
}

int TComponent::ComponentIndex() const {
  if (!FOwner) return -1;
  auto& list = FOwner->FComponents;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TComponent::SetName(const std::string& name) {
  if (name == FName) return;
  if (!name.empty() && FOwner) {
    TComponent* other = FOwner->FindComponent(name);
    if (other && other != this)
      throw EComponentError("A component named " + name + " already exists");
  }
  FName = name;
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  auto same = [&](const std::string& a) {
    return a.size() == name.size() &&
           std::equal(a.begin(), a.end(), name.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
  };
  for (TComponent* c : FComponents)
    if (same(c->FName)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component || component->FOwner == this) return;
  if (component->FOwner) component->FOwner->RemoveComponent(component);
  Insert(component);
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (!component || component->FOwner != this) return;
  Notification(component, opRemove);
  Remove(component);
}

void TComponent::Insert(TComponent* component) {
  FComponents.push_back(component);
  component->FOwner = this;
}

void TComponent::Remove(TComponent* component) {
  auto it = std::find(FComponents.begin(), FComponents.end(), component);
  if (it != FComponents.end()) FComponents.erase(it);
  component->FOwner = nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  // The link goes both ways, so whichever of the two goes first tells the other.
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) == FFreeNotifies.end())
    FFreeNotifies.push_back(component);
  if (std::find(component->FFreeNotifies.begin(), component->FFreeNotifies.end(), this) ==
      component->FFreeNotifies.end())
    component->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (!component) return;
  DropFreeNotification(component);
  component->DropFreeNotification(this);
}

void TComponent::DropFreeNotification(TComponent* component) {
  auto it = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component);
  if (it != FFreeNotifies.end()) FFreeNotifies.erase(it);
}

void TComponent::DestroyComponents() {
  // Owned components go last-created first; each removes itself from our list.
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    Remove(c);
    delete c;
  }
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component) DropFreeNotification(component);
  for (TComponent* c : std::vector<TComponent*>(FComponents)) c->Notification(component, operation);
}
