#include "base/typed_lists.h"

#include <algorithm>
#include <new>
#include <string>
#include <type_traits>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/filer.h"
#include "platform/rtl/sysutils.h"

namespace {

std::string WithNumber(const char* text, int64_t n) {
  std::string s(text);
  const auto at = s.find("%d");
  return s.replace(at, 2, std::to_string(n));
}

}  // namespace

// ---- TListCustom ----

void TListCustom::Sort(int32_t, int32_t) { throw EListError("Sort not available"); }

void TListCustom::AddList(TPersistent* source) {
  throw EConvertError("Cannot add a " + ClassNameOrNil(source) + " to a " + ClassName());
}

void TListCustom::IndexError(int32_t index) const {
  throw EListError(WithNumber("List index out of bounds (%d)", index));
}

void TListCustom::Grow() { SetCapacity(FCapacity + (FCapacity <= 8 ? 4 : 16)); }

void TListCustom::Reverse() {
  if (FCount < 2) return;
  for (int32_t i = 0; i <= (FCount - 1) / 2; ++i) Exchange(i, FCount - 1 - i);
}

// ---- TListOf ----

template <class T>
void TListOf<T>::SetCapacity(int32_t newCapacity) {
  if (newCapacity < FCount || newCapacity > kMaxListItems)
    throw EListError(WithNumber("List capacity out of bounds (%d)", newCapacity));
  if (newCapacity == FCapacity) return;
  try {
    // The item block grows in the list's own small steps; the vector below keeps
    // its geometric reserve so that a long run of Add stays linear.
    FItems.resize(static_cast<size_t>(newCapacity));
    if (FItems.capacity() / 2 > FItems.size()) FItems.shrink_to_fit();
  } catch (const std::bad_alloc&) {
    OutOfMemoryError();
  }
  FCapacity = newCapacity;
}

template <class T>
void TListOf<T>::SetCount(int32_t newCount) {
  if (newCount < 0 || newCount > kMaxListItems)
    throw EListError(WithNumber("List count out of bounds (%d)", newCount));
  if (newCount > FCapacity) SetCapacity(newCount);
  if (newCount > FCount)
    std::fill(FItems.begin() + FCount, FItems.begin() + newCount, T{0});
  FCount = newCount;
}

template <class T>
void TListOf<T>::Clear() {
  SetCount(0);
  SetCapacity(0);
}

template <class T>
int32_t TListOf<T>::Add(T value) {
  if (FCount == FCapacity) Grow();
  FItems[static_cast<size_t>(FCount)] = value;
  return FCount++;
}

template <class T>
void TListOf<T>::Delete(int32_t index) {
  CheckIndex(index);
  std::copy(FItems.begin() + index + 1, FItems.begin() + FCount, FItems.begin() + index);
  --FCount;
}

template <class T>
void TListOf<T>::Exchange(int32_t index1, int32_t index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(FItems[static_cast<size_t>(index1)], FItems[static_cast<size_t>(index2)]);
}

template <class T>
void TListOf<T>::Sort(int32_t low, int32_t high) {
  // An empty or one-item range has nothing to sort; a range outside the list is
  // refused before any item is read.
  if (low >= high) return;
  if (low < 0) IndexError(low);
  if (high >= FCount) IndexError(high);
  while (low < high) {
    const int32_t mid = static_cast<int32_t>((static_cast<uint32_t>(low) + static_cast<uint32_t>(high)) >> 1);
    const T pivot = FItems[static_cast<size_t>(mid)];
    int32_t i = low;
    int32_t j = high;
    do {
      while (FItems[static_cast<size_t>(i)] < pivot) ++i;
      while (FItems[static_cast<size_t>(j)] > pivot) --j;
      if (i <= j) {
        Exchange(i, j);
        ++i;
        --j;
      }
    } while (i <= j);
    // The two halves are disjoint, so their order does not matter: recurse into
    // the smaller one and go on with the larger, which bounds the stack depth.
    if (j - low < high - i) {
      if (low < j) Sort(low, j);
      low = i;
    } else {
      if (i < high) Sort(i, high);
      high = j;
    }
  }
}

template <class T>
void TListOf<T>::CopyFrom(const TListOf<T>& source) {
  SetCount(source.FCount);
  std::copy(source.FItems.begin(), source.FItems.begin() + source.FCount, FItems.begin());
}

template <class T>
void TListOf<T>::Append(const TListOf<T>& source) {
  const int32_t oldCount = FCount;
  const int32_t addCount = source.FCount;  // read first: source may be this list
  const int64_t total = static_cast<int64_t>(oldCount) + addCount;
  if (total > kMaxListItems) throw EListError(WithNumber("List count out of bounds (%d)", total));
  SetCount(static_cast<int32_t>(total));
  std::copy(source.FItems.begin(), source.FItems.begin() + addCount, FItems.begin() + oldCount);
}

template <class T>
void TListOf<T>::AddLines(const TStrings& lines) {
  for (int i = 0; i < lines.Count(); ++i) Add(static_cast<T>(StrToInt(lines.Strings(i))));
}

template <class T>
void TListOf<T>::WriteLines(TStrings& lines) const {
  lines.Clear();
  for (int32_t i = 0; i < FCount; ++i) lines.Add(IntToStr(static_cast<int32_t>(FItems[static_cast<size_t>(i)])));
}

template <class T>
void TListOf<T>::Assign(TPersistent* source) {
  if (auto* list = dynamic_cast<TListOf<T>*>(source)) {
    CopyFrom(*list);
    return;
  }
  if (auto* lines = dynamic_cast<TStrings*>(source)) {
    Clear();
    AddLines(*lines);
    return;
  }
  TListCustom::Assign(source);
}

template <class T>
void TListOf<T>::AssignTo(TPersistent* dest) {
  if (auto* list = dynamic_cast<TListOf<T>*>(dest)) {
    list->CopyFrom(*this);
    return;
  }
  if (auto* lines = dynamic_cast<TStrings*>(dest)) {
    // The integer list batches the change events of the lines; the byte list
    // never did.
    const bool batch = std::is_same_v<T, int32_t>;
    if (batch) lines->BeginUpdate();
    try {
      WriteLines(*lines);
    } catch (...) {
      if (batch) lines->EndUpdate();
      throw;
    }
    if (batch) lines->EndUpdate();
    return;
  }
  TListCustom::AssignTo(dest);
}

template <class T>
void TListOf<T>::AddList(TPersistent* source) {
  if (auto* list = dynamic_cast<TListOf<T>*>(source)) {
    Append(*list);
    return;
  }
  if (auto* lines = dynamic_cast<TStrings*>(source)) {
    AddLines(*lines);
    return;
  }
  throw EConvertError("Cannot assign a " + ClassNameOrNil(source) + " to a " + ClassName());
}

template class TListOf<int32_t>;
template class TListOf<uint8_t>;

// ---- TListLongint ----

int32_t TListLongint::IndexOf(int32_t value) const {
  for (int32_t i = 0; i < FCount; ++i)
    if (FItems[static_cast<size_t>(i)] == value) return i;
  return -1;
}

void TListLongint::Insert(int32_t index, int32_t value) {
  if (index < 0 || index > FCount) IndexError(index);
  if (FCount == FCapacity) Grow();
  std::copy_backward(FItems.begin() + index, FItems.begin() + FCount, FItems.begin() + FCount + 1);
  FItems[static_cast<size_t>(index)] = value;
  ++FCount;
}

void TListLongint::Fill(int32_t value) { std::fill(FItems.begin(), FItems.begin() + FCount, value); }

void TListLongint::AddMissing(const TListLongint& other) {
  const int32_t n = other.Count();  // other may be this list
  for (int32_t i = 0; i < n; ++i) {
    const int32_t v = other.FItems[static_cast<size_t>(i)];
    if (IndexOf(v) < 0) Add(v);
  }
}

void TListLongint::DefineProperties(TFiler* filer) {
  filer->DefineProperty(
      "Longs",
      [this](TReader* reader) {
        const int32_t count = reader->ReadInteger();
        // Every integer value takes at least two bytes: a count beyond that is
        // not backed by the stream.
        if (count < 0 || static_cast<int64_t>(count) * 2 > reader->Stream()->Remaining())
          throw EReadError("Stream read error");
        SetCount(count);
        for (int32_t i = 0; i < count; ++i) FItems[static_cast<size_t>(i)] = reader->ReadInteger();
      },
      [this](TWriter* writer) {
        writer->WriteInteger(FCount);
        for (int32_t i = 0; i < FCount; ++i) writer->WriteInteger(FItems[static_cast<size_t>(i)]);
      },
      FCount > 0);
}

void TListLongint::LoadFromStream(TStream& stream) {
  const int32_t count = stream.ReadValue<int32_t>();
  // The count comes from the file: it must fit the bytes that are really left
  // before anything is allocated.
  if (count < 0 || static_cast<int64_t>(count) * 4 > stream.Remaining()) throw EReadError("Stream read error");
  SetCount(count);
  if (count != 0) stream.ReadBuffer(FItems.data(), static_cast<int64_t>(count) * 4);
}

void TListLongint::SaveToStream(TStream& stream) {
  stream.WriteValue<int32_t>(FCount);
  if (FCount != 0) stream.WriteBuffer(FItems.data(), static_cast<int64_t>(FCount) * 4);
}

// ---- TListByte ----

void TListByte::DefineProperties(TFiler* filer) {
  filer->DefineProperty(
      "Bytes",
      [this](TReader* reader) {
        const int32_t count = reader->ReadInteger();
        if (count < 0 || count > reader->Stream()->Remaining()) throw EReadError("Stream read error");
        SetCount(count);
        if (count != 0) reader->Read(FItems.data(), count);
      },
      [this](TWriter* writer) {
        writer->WriteInteger(FCount);
        if (FCount != 0) writer->Write(FItems.data(), FCount);
      },
      FCount > 0);
}

namespace {
constexpr uint8_t kLongCountFollows = 251;
}

void TListByte::LoadFromStream(TStream& stream) {
  const uint8_t head = stream.ReadValue<uint8_t>();
  int64_t count = head;
  if (head == kLongCountFollows) {
    count = stream.ReadValue<int32_t>();
  } else if (head > kLongCountFollows) {
    // 252..255 are never written: this is not a list record.
    throw EReadError("Stream read error");
  }
  if (count < 0 || count > stream.Remaining()) throw EReadError("Stream read error");
  SetCount(static_cast<int32_t>(count));
  if (count != 0) stream.ReadBuffer(FItems.data(), count);
}

void TListByte::SaveToStream(TStream& stream) {
  if (FCount <= 250) {
    stream.WriteValue<uint8_t>(static_cast<uint8_t>(FCount));
  } else {
    stream.WriteValue<uint8_t>(kLongCountFollows);
    stream.WriteValue<int32_t>(FCount);
  }
  if (FCount != 0) stream.WriteBuffer(FItems.data(), FCount);
}

// ---- object lists ----

void FreeListObjects(TList* list) {
  for (int i = list->Count() - 1; i >= 0; --i) {
    void* p = list->Get(i);
    if (!p) continue;
    // Blank every slot holding the object before it goes, so it is freed once.
    for (int j = 0; j < list->Count(); ++j)
      if (list->Get(j) == p) list->Put(j, nullptr);
    delete static_cast<TObject*>(p);  // the list's user owns what it put there
  }
  list->Clear();
}

void DeleteListObject(TList* list, int index) {
  void* p = list->Get(index);
  int occurrences = 0;
  if (p)
    for (int j = 0; j < list->Count(); ++j)
      if (list->Get(j) == p) ++occurrences;
  if (occurrences == 1) delete static_cast<TObject*>(p);
  list->Delete(index);
}

void SwapListContents(TList* a, TList* b) {
  TList temp;
  CopyListContents(a, &temp);
  CopyListContents(b, a);
  CopyListContents(&temp, b);
}

void CopyListContents(const TList* source, TList* dest) {
  dest->SetCount(source->Count());
  for (int i = 0; i < source->Count(); ++i) dest->Put(i, source->Get(i));
}
