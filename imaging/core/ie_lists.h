#pragma once
// The imaging library's small containers: a hash set of 32-bit values (the
// colour counter), a growable byte buffer (LZW and PostScript writers, the
// magic wand) and a growable array of fixed-size items with typed descendants.
// Counts and sizes are 64-bit; growth that would not fit raises EOutOfMemory
// instead of wrapping.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/rtl/object.h"
#include "platform/rtl/streams.h"

class THash1Item : public TObject {
public:
  explicit THash1Item(uint32_t value) : Value(value) {}
  uint32_t Value;
  THash1Item* Next = nullptr;  // owned by the hash set
};

// A set of 32-bit values in 2^bits buckets (bucket = value AND (2^bits - 1));
// a bucket holds one value directly or a chain of items.
class THash1 : public TObject {
public:
  explicit THash1(int bits);
  ~THash1() override;
  THash1(const THash1&) = delete;
  THash1& operator=(const THash1&) = delete;
  // True when the value was added, false when it was there; bucket receives the
  // value's bucket either way, newItem the chain item made for it (nil when the
  // value went into the bucket itself or was there).
  bool Insert(uint32_t value, int& bucket, THash1Item*& newItem);
  bool Add(uint32_t value);
  int64_t Count() const { return FCount; }
  int Bits() const { return FBits; }

private:
  enum : uint8_t { kEmpty = 0, kOne = 1, kChain = 2 };
  int FBits;
  uint32_t FMask;
  std::vector<uint32_t> FValues;      // state 1
  std::vector<THash1Item*> FChains;   // state 2
  std::vector<uint8_t> FStates;
  int64_t FCount = 0;
};

class TIEByteArray : public TObject {
public:
  explicit TIEByteArray(int64_t step);
  void SetLength(int64_t n);
  int64_t Length() const { return FLength; }
  int64_t Capacity() const { return FCapacity; }
  void AppendByte(uint8_t b);
  // Bytes actually read (up to n) are appended; the length counts only those.
  int64_t AppendFromStream(TStream& stream, int64_t n);
  uint8_t* Data() { return FData.get(); }
  const uint8_t* Data() const { return FData.get(); }

private:
  void Reallocate(int64_t capacity, int64_t keep);
  int64_t FLength = 0;
  int64_t FCapacity = 0;
  int64_t FStep = 0;
  std::unique_ptr<uint8_t[]> FData;
};

class TIEList : public TObject {
public:
  TIEList();
  ~TIEList() override = default;
  virtual void SetCount(int64_t n);
  virtual void Delete(int64_t index);
  virtual void Clear();
  virtual void Assign(const TIEList* source);
  int64_t AddItem(const void* item);
  // No range check: the caller keeps index inside.
  uint8_t* ItemPtr(int64_t index) { return FData.get() + index * FItemSize; }
  int64_t Count() const { return FCount; }
  int64_t Capacity() const { return FCapacity; }
  int64_t ItemSize() const { return FItemSize; }
  // Bit 0 is set by every change of count or contents; Clear resets it.
  uint32_t ChangeFlags() const { return FChanged; }
  void SetChangeFlags(uint32_t flags) { FChanged = flags; }

protected:
  void Grow(int64_t capacity, int64_t keep);
  void ClearItems();
  int64_t FCapacity = 0;
  int64_t FCount = 0;
  int64_t FItemSize = 0;
  std::unique_ptr<uint8_t[]> FData;
  uint32_t FChanged = 0;
};

class TIEDoubleList : public TIEList {
public:
  TIEDoubleList() { Clear(); }
  void Clear() override;
  void Assign(const TIEList* source) override;  // EInvalidCast for another kind of list
  double& Item(int64_t index) { return *reinterpret_cast<double*>(ItemPtr(index)); }
  int64_t Add(double v) { return AddItem(&v); }
  double Reals[3] = {};
  int32_t Integers[2] = {};
};

class TIEIntegerList : public TIEList {
public:
  TIEIntegerList() { Clear(); }
  void Clear() override;
  void Assign(const TIEList* source) override;  // EInvalidCast for another kind of list
  int32_t& Item(int64_t index) { return *reinterpret_cast<int32_t*>(ItemPtr(index)); }
  int64_t Add(int32_t v) { return AddItem(&v); }
  int32_t Integers[4] = {};
};

class TIERecordList : public TIEList {
public:
  explicit TIERecordList(int64_t recordSize);
};
