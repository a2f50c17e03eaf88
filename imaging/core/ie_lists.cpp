#include "imaging/core/ie_lists.h"

#include <algorithm>
#include <cstring>

#include "platform/rtl/exceptions.h"

namespace {

// a * b, or EOutOfMemory when the product would not fit a 64-bit size.
int64_t CheckedBytes(int64_t a, int64_t b) {
  if (a < 0 || b < 0 || (b != 0 && a > INT64_MAX / b)) throw EOutOfMemory("Out of memory");
  return a * b;
}

int64_t CheckedSum(int64_t a, int64_t b) {
  if (a < 0 || b < 0 || a > INT64_MAX - b) throw EOutOfMemory("Out of memory");
  return a + b;
}

std::unique_ptr<uint8_t[]> NewBlock(int64_t bytes) {
  if (bytes <= 0) return nullptr;
  return std::unique_ptr<uint8_t[]>(new uint8_t[size_t(bytes)]);
}

}  // namespace

// ---- THash1 ----

THash1::THash1(int bits) : FBits(std::clamp(bits, 0, 30)), FMask((uint32_t(1) << FBits) - 1) {
  const size_t n = size_t(1) << FBits;
  FValues.assign(n, 0);
  FChains.assign(n, nullptr);
  FStates.assign(n, kEmpty);
}

THash1::~THash1() {
  for (THash1Item* item : FChains)
    while (item) {
      THash1Item* next = item->Next;
      delete item;
      item = next;
    }
}

bool THash1::Insert(uint32_t value, int& bucket, THash1Item*& newItem) {
  bucket = int(value & FMask);
  newItem = nullptr;
  const size_t k = size_t(bucket);
  switch (FStates[k]) {
    case kEmpty:
      FValues[k] = value;
      FStates[k] = kOne;
      break;
    case kOne: {
      if (FValues[k] == value) return false;
      auto first = std::make_unique<THash1Item>(FValues[k]);
      first->Next = new THash1Item(value);
      newItem = first->Next;
      FChains[k] = first.release();
      FStates[k] = kChain;
      break;
    }
    default: {
      THash1Item* item = FChains[k];
      for (;; item = item->Next) {
        if (item->Value == value) return false;
        if (!item->Next) break;
      }
      item->Next = new THash1Item(value);
      newItem = item->Next;
      break;
    }
  }
  ++FCount;
  return true;
}

bool THash1::Add(uint32_t value) {
  int bucket = 0;
  THash1Item* item = nullptr;
  return Insert(value, bucket, item);
}

// ---- TIEByteArray ----

TIEByteArray::TIEByteArray(int64_t step) : FStep(std::max<int64_t>(step, 1)) { Reallocate(FStep, 0); }

void TIEByteArray::Reallocate(int64_t capacity, int64_t keep) {
  std::unique_ptr<uint8_t[]> block = NewBlock(capacity);
  if (keep > 0) std::memcpy(block.get(), FData.get(), size_t(keep));
  FData = std::move(block);
  FCapacity = capacity;
}

void TIEByteArray::SetLength(int64_t n) {
  if (n < 0) n = 0;
  if (n > FCapacity) {
    Reallocate(CheckedSum(n, FStep), FLength);
  } else if (n < FCapacity - FStep) {
    // Far below the block: give the rest back.
    Reallocate(n + FStep, std::min(n, FLength));
  }
  FLength = n;
}

void TIEByteArray::AppendByte(uint8_t b) {
  SetLength(CheckedSum(FLength, 1));
  FData[size_t(FLength - 1)] = b;
}

int64_t TIEByteArray::AppendFromStream(TStream& stream, int64_t n) {
  if (n <= 0) return 0;
  const int64_t old = FLength;
  SetLength(CheckedSum(old, n));
  const int64_t got = std::max<int64_t>(stream.Read(FData.get() + old, n), 0);
  if (got < n) SetLength(old + got);
  return got;
}

// ---- TIEList ----

TIEList::TIEList() { TIEList::ClearItems(); }

void TIEList::Grow(int64_t capacity, int64_t keep) {
  std::unique_ptr<uint8_t[]> block = NewBlock(CheckedBytes(capacity, FItemSize));
  if (keep > 0 && FData) std::memcpy(block.get(), FData.get(), size_t(keep * FItemSize));
  FData = std::move(block);
  FCapacity = capacity;
}

void TIEList::SetCount(int64_t n) {
  if (n < 0) n = 0;
  if (n > FCapacity) Grow(std::max(CheckedBytes(FCapacity, 2), n), std::min(FCount, n));
  FCount = n;
  FChanged |= 1;
}

int64_t TIEList::AddItem(const void* item) {
  const int64_t index = FCount;
  SetCount(CheckedSum(FCount, 1));
  if (FItemSize > 0) std::memcpy(ItemPtr(index), item, size_t(FItemSize));
  FChanged |= 1;
  return index;
}

void TIEList::Delete(int64_t index) {
  if (index < 0 || index >= FCount) return;
  std::unique_ptr<uint8_t[]> block = NewBlock((FCount - 1) * FItemSize);
  const size_t before = size_t(index * FItemSize), after = size_t((FCount - index - 1) * FItemSize);
  if (before) std::memcpy(block.get(), FData.get(), before);
  if (after) std::memcpy(block.get() + before, FData.get() + before + FItemSize, after);
  FData = std::move(block);
  FCount = FCapacity = FCount - 1;
  FChanged |= 1;
}

void TIEList::ClearItems() {
  FData.reset();
  FCapacity = FCount = 0;
  FChanged = 0;
}

void TIEList::Clear() { ClearItems(); }

void TIEList::Assign(const TIEList* source) {
  if (!source || source == this) return;
  const int64_t bytes = CheckedBytes(source->FCount, source->FItemSize);
  std::unique_ptr<uint8_t[]> block = NewBlock(bytes);
  if (bytes > 0) std::memcpy(block.get(), source->FData.get(), size_t(bytes));
  FData = std::move(block);
  FCount = FCapacity = source->FCount;
  FItemSize = source->FItemSize;
  FChanged = source->FChanged;
}

void TIEDoubleList::Clear() {
  ClearItems();
  FItemSize = 8;
  std::fill(std::begin(Reals), std::end(Reals), 0.0);
  std::fill(std::begin(Integers), std::end(Integers), 0);
}

void TIEDoubleList::Assign(const TIEList* source) {
  if (!source) return;
  const auto* typed = dynamic_cast<const TIEDoubleList*>(source);
  if (!typed) throw EInvalidCast("Invalid class typecast");
  TIEList::Assign(source);
  std::copy(std::begin(typed->Reals), std::end(typed->Reals), Reals);
  std::copy(std::begin(typed->Integers), std::end(typed->Integers), Integers);
}

void TIEIntegerList::Clear() {
  ClearItems();
  FItemSize = 4;
  std::fill(std::begin(Integers), std::end(Integers), 0);
}

void TIEIntegerList::Assign(const TIEList* source) {
  if (!source) return;
  const auto* typed = dynamic_cast<const TIEIntegerList*>(source);
  if (!typed) throw EInvalidCast("Invalid class typecast");
  TIEList::Assign(source);
  std::copy(std::begin(typed->Integers), std::end(typed->Integers), Integers);
}

TIERecordList::TIERecordList(int64_t recordSize) { FItemSize = std::max<int64_t>(recordSize, 0); }
