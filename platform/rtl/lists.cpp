#include "platform/rtl/lists.h"

#include <algorithm>
#include <string>

#include "platform/rtl/exceptions.h"

namespace {
// The framework's limit on list sizes, which also keeps an index from a file
// from asking for an unbounded block.
constexpr int kMaxListSize = 134217727;
}  // namespace

TList::~TList() {
  // Derived lists have gone by now; only the block itself is left to release.
  FList.clear();
}

void TList::Error(const char* message, int data) {
  throw EListError(std::string(message) + " (" + std::to_string(data) + ")");
}

void TList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) Error("List index out of bounds", index);
}

int TList::Add(void* item) {
  int index = Count();
  if (index >= kMaxListSize) Error("List capacity out of bounds", index + 1);
  FList.push_back(item);
  if (item) Notify(item, lnAdded);
  return index;
}

void TList::Insert(int index, void* item) {
  if (index < 0 || index > Count()) Error("List index out of bounds", index);
  if (Count() >= kMaxListSize) Error("List capacity out of bounds", Count() + 1);
  FList.insert(FList.begin() + index, item);
  if (item) Notify(item, lnAdded);
}

void TList::Delete(int index) {
  CheckIndex(index);
  void* item = FList[static_cast<size_t>(index)];
  FList.erase(FList.begin() + index);
  if (item) Notify(item, lnDeleted);
}

int TList::Remove(void* item) {
  int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

void* TList::Extract(void* item) {
  int index = IndexOf(item);
  if (index < 0) return nullptr;
  FList.erase(FList.begin() + index);
  Notify(item, lnExtracted);
  return item;
}

void TList::Clear() {
  SetCount(0);
  SetCapacity(0);
}

void TList::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(FList[static_cast<size_t>(index1)], FList[static_cast<size_t>(index2)]);
}

void TList::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  CheckIndex(curIndex);
  CheckIndex(newIndex);
  void* item = FList[static_cast<size_t>(curIndex)];
  FList.erase(FList.begin() + curIndex);
  FList.insert(FList.begin() + newIndex, item);
}

int TList::IndexOf(void* item) const {
  auto it = std::find(FList.begin(), FList.end(), item);
  return it == FList.end() ? -1 : static_cast<int>(it - FList.begin());
}

void TList::Pack() { FList.erase(std::remove(FList.begin(), FList.end(), nullptr), FList.end()); }

void TList::Sort(const TListSortCompare& compare) {
  if (!compare) return;
  std::stable_sort(FList.begin(), FList.end(), [&](void* a, void* b) { return compare(a, b) < 0; });
}

void TList::Assign(const TList& source) {
  if (&source == this) return;
  Clear();
  FList.reserve(source.FList.size());
  for (void* p : source.FList) Add(p);
}

void* TList::Get(int index) const {
  CheckIndex(index);
  return FList[static_cast<size_t>(index)];
}

void TList::Put(int index, void* item) {
  CheckIndex(index);
  void* old = FList[static_cast<size_t>(index)];
  if (old == item) return;
  FList[static_cast<size_t>(index)] = item;
  if (old) Notify(old, lnDeleted);
  if (item) Notify(item, lnAdded);
}

void TList::SetCount(int newCount) {
  if (newCount < 0 || newCount > kMaxListSize) Error("List count out of bounds", newCount);
  if (newCount > Count()) {
    FList.resize(static_cast<size_t>(newCount), nullptr);
    return;
  }
  for (int i = Count() - 1; i >= newCount; --i) Delete(i);
}

void TList::SetCapacity(int newCapacity) {
  if (newCapacity < Count() || newCapacity > kMaxListSize) Error("List capacity out of bounds", newCapacity);
  if (newCapacity > Capacity()) FList.reserve(static_cast<size_t>(newCapacity));
  else if (newCapacity == 0) FList.shrink_to_fit();
}

// ---- TObjectList ----

TObjectList::~TObjectList() { Clear(); }

void TObjectList::Notify(void* ptr, TListNotification action) {
  if (FOwnsObjects && action == lnDeleted) delete static_cast<TObject*>(ptr);
}
