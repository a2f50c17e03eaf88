#pragma once
// The framework's pointer list TList and TObjectList, which can own its objects.
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/rtl/object.h"

enum TListNotification : uint8_t { lnAdded, lnExtracted, lnDeleted };

// Compares two items: negative, zero or positive.
using TListSortCompare = std::function<int(void* item1, void* item2)>;

// A growable list of untyped pointers. Index errors raise EListError
// "List index out of bounds (%d)" with the bad index.
class TList : public TObject {
public:
  TList() = default;
  ~TList() override;

  int Add(void* item);
  void Insert(int index, void* item);
  void Delete(int index);
  // Removes the first occurrence; returns its former index or -1.
  int Remove(void* item);
  // Removes the first occurrence without it counting as deleted (TObjectList does not free it).
  void* Extract(void* item);
  virtual void Clear();
  void Exchange(int index1, int index2);
  void Move(int curIndex, int newIndex);
  int IndexOf(void* item) const;
  void* First() const { return Get(0); }
  void* Last() const { return Get(Count() - 1); }
  // Removes every nil item.
  void Pack();
  void Sort(const TListSortCompare& compare);
  // Copies the items of source (replacing ours).
  void Assign(const TList& source);

  void* Get(int index) const;
  void Put(int index, void* item);
  void* operator[](int index) const { return Get(index); }
  int Count() const { return static_cast<int>(FList.size()); }
  // Growing adds nil items; shrinking deletes (with notification) the items beyond.
  void SetCount(int newCount);
  int Capacity() const { return static_cast<int>(FList.capacity()); }
  void SetCapacity(int newCapacity);
  void** List() { return FList.data(); }

protected:
  // Called after an item was added, and before it leaves the list.
  virtual void Notify(void* ptr, TListNotification action) {}
  [[noreturn]] static void Error(const char* message, int data);

private:
  void CheckIndex(int index) const;
  std::vector<void*> FList;
};

// A list of objects; with OwnsObjects (the default) it frees what it deletes,
// clears or holds when it is destroyed. Extract hands an object back without freeing it.
class TObjectList : public TList {
public:
  explicit TObjectList(bool ownsObjects = true) : FOwnsObjects(ownsObjects) {}
  ~TObjectList() override;
  bool OwnsObjects() const { return FOwnsObjects; }
  void SetOwnsObjects(bool owns) { FOwnsObjects = owns; }

  int Add(TObject* obj) { return TList::Add(obj); }
  void Insert(int index, TObject* obj) { TList::Insert(index, obj); }
  int Remove(TObject* obj) { return TList::Remove(obj); }
  TObject* Extract(TObject* obj) { return static_cast<TObject*>(TList::Extract(obj)); }
  int IndexOf(TObject* obj) const { return TList::IndexOf(obj); }
  TObject* Items(int index) const { return static_cast<TObject*>(Get(index)); }
  void SetItems(int index, TObject* obj) { Put(index, obj); }
  TObject* operator[](int index) const { return Items(index); }
  TObject* First() const { return Items(0); }
  TObject* Last() const { return Items(Count() - 1); }

protected:
  void Notify(void* ptr, TListNotification action) override;

private:
  bool FOwnsObjects;
};
