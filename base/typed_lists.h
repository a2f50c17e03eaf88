#pragma once
// Growable arrays of plain values with range checks, sorting and persistence:
// TListLongint (signed 32-bit items: palettes, colour lists, index lists, frame
// delays) and TListByte, over the abstract TListCustom.
#include <cstdint>
#include <vector>

#include "platform/rtl/lists.h"
#include "platform/rtl/object.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/strings.h"

// The largest count and capacity of either list (2^27 - 1 items).
constexpr int32_t kMaxListItems = 134217727;

class TListCustom : public TPersistent {
public:
  ~TListCustom() override = default;

  int32_t Count() const { return FCount; }
  int32_t Capacity() const { return FCapacity; }

  virtual void SetCapacity(int32_t newCapacity) = 0;
  virtual void SetCount(int32_t newCount) = 0;
  // Ascending sort of the index range low..high. The base class cannot sort.
  virtual void Sort(int32_t low, int32_t high);
  virtual void Clear() = 0;
  virtual void Delete(int32_t index) = 0;
  virtual void Exchange(int32_t index1, int32_t index2) = 0;
  // Appends the items of source; the base class accepts nothing.
  virtual void AddList(TPersistent* source);
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) = 0;

  // Reverses the item order by exchanging the ends towards the middle.
  void Reverse();

protected:
  [[noreturn]] void IndexError(int32_t index) const;
  void CheckIndex(int32_t index) const {
    if (index < 0 || index >= FCount) IndexError(index);
  }
  // Raises the capacity by 4 while it is at most 8, else by 16.
  void Grow();

  int32_t FCount = 0;
  int32_t FCapacity = 0;
};

// The shared body of both lists; T is the item type.
template <class T>
class TListOf : public TListCustom {
public:
  ~TListOf() override { FItems.clear(); }

  void SetCapacity(int32_t newCapacity) override;
  void SetCount(int32_t newCount) override;
  void Sort(int32_t low, int32_t high) override;
  void Clear() override;
  void Delete(int32_t index) override;
  void Exchange(int32_t index1, int32_t index2) override;

  int32_t Add(T value);
  T Get(int32_t index) const {
    CheckIndex(index);
    return FItems[static_cast<size_t>(index)];
  }
  T operator[](int32_t index) const { return Get(index); }
  void Put(int32_t index, T value) {
    CheckIndex(index);
    FItems[static_cast<size_t>(index)] = value;
  }
  // Unchecked access to the item block for callers that walk it.
  T* Items() { return FItems.data(); }
  const T* Items() const { return FItems.data(); }

  // From a list of the same class, or StrToInt of each line of a TStrings.
  void Assign(TPersistent* source) override;
  // Appends a list of the same class, or StrToInt of each line of a TStrings.
  void AddList(TPersistent* source) override;

protected:
  // Into a list of the same class, or one decimal line per item into a TStrings.
  void AssignTo(TPersistent* dest) override;
  void CopyFrom(const TListOf<T>& source);
  void Append(const TListOf<T>& source);
  // Adds StrToInt of every line, in order; a bad line raises EConvertError with
  // the lines before it added.
  void AddLines(const TStrings& lines);
  void WriteLines(TStrings& lines) const;

  std::vector<T> FItems;  // capacity items; those past the count are unused
};

class TListLongint : public TListOf<int32_t> {
public:
  TListLongint() = default;
  ~TListLongint() override { Clear(); }

  int32_t IndexOf(int32_t value) const;
  void Insert(int32_t index, int32_t value);
  void Fill(int32_t value);
  // Adds each item of other that this list does not hold yet.
  void AddMissing(const TListLongint& other);

  // Form streaming: the property "Longs", the count and then each item as
  // integer values; stored only when the list is not empty.
  void DefineProperties(TFiler* filer) override;
  // A 32-bit count, then count 32-bit items, all little-endian.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
};

class TListByte : public TListOf<uint8_t> {
public:
  TListByte() = default;
  ~TListByte() override { Clear(); }

  // Form streaming: the property "Bytes", the count as an integer value and
  // then the raw item bytes; stored only when the list is not empty.
  void DefineProperties(TFiler* filer) override;
  // A count byte (0..250 the count itself, 251 a 32-bit count follows), then
  // the items.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
};

// Operations on a TList of objects that the list's user owns.

// Frees every distinct object of the list once, however often it occurs, and
// clears the list.
void FreeListObjects(TList* list);
// Frees the object at index when the list holds it only there; deletes the slot.
void DeleteListObject(TList* list, int index);
void SwapListContents(TList* a, TList* b);
void CopyListContents(const TList* source, TList* dest);
