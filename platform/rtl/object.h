#pragma once
// Root classes of the component framework: TObject, TPersistent and TComponent.
#include <functional>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
  // The class name as the source spells it ("TListLongint"); messages quote it.
  std::string ClassName() const;
  template <class T> bool InheritsFrom() const { return dynamic_cast<const T*>(this) != nullptr; }
};

// The class name of an object, or "nil" for none, as conversion errors quote it.
std::string ClassNameOrNil(const TObject* obj);

using TNotifyEvent = std::function<void(TObject* sender)>;

class TFiler;
class TComponent;

class TPersistent : public TObject {
public:
  // Copies source into this object; when this class cannot, asks source to
  // AssignTo this object, which raises EConvertError when it cannot either.
  virtual void Assign(TPersistent* source);
  virtual void DefineProperties(TFiler* filer) {}

protected:
  virtual void AssignTo(TPersistent* dest);
  friend class TPersistentAccess;
};

// The class registry: classes registered by name can be made from that name, as
// component streams and data modules need. A TComponent class is made without owner.
struct TPersistentClassInfo {
  std::string Name;
  std::function<TPersistent*()> Create;
};
using TPersistentClass = const TPersistentClassInfo*;

// The class name as ClassName() reports it, from the type alone.
std::string ClassNameOf(const std::type_info& type);
// Registers a class under its name; the same name for another class raises
// EFilerError "A class named %s already exists". Registering again is harmless.
TPersistentClass RegisterClassInfo(const std::string& name, const std::type_info& type,
                                   std::function<TPersistent*()> create);
template <class T> TPersistentClass RegisterClass() {
  return RegisterClassInfo(ClassNameOf(typeid(T)), typeid(T), []() -> TPersistent* {
    if constexpr (std::is_constructible_v<T, TComponent*>) return new T(nullptr);
    else return new T();
  });
}
void UnRegisterClass(const std::string& name);
// nil when no class has the name (compared without regard to case).
TPersistentClass GetClass(const std::string& name);
// Raises EClassNotFound "Class %s not found" when no class has the name.
TPersistentClass FindClass(const std::string& name);

enum TOperation : uint8_t { opInsert, opRemove };

// A component is owned by another component, which frees it. Components that ask
// for FreeNotification hear when a partner goes away, so they can drop pointers.
class TComponent : public TPersistent {
public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const;
  int ComponentIndex() const;
  const std::string& Name() const { return FName; }
  void SetName(const std::string& name);
  TComponent* FindComponent(const std::string& name) const;

  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);
  void DestroyComponents();
  bool Destroying() const { return FDestroying; }

  intptr_t Tag() const { return FTag; }
  void SetTag(intptr_t tag) { FTag = tag; }

protected:
  virtual void Notification(TComponent* component, TOperation operation);

private:
  void Insert(TComponent* component);
  void Remove(TComponent* component);
  void DropFreeNotification(TComponent* component);

  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  std::string FName;
  intptr_t FTag = 0;
  bool FDestroying = false;
};
