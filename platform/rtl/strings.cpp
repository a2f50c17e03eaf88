#include "platform/rtl/strings.h"

#include <algorithm>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/sysutils.h"

// ---- TStrings ----

void TStrings::Error(const char* message, int data) {
  throw EStringListError(std::string(message) + " (" + std::to_string(data) + ")");
}

int TStrings::Add(const std::string& s) {
  int index = Count();
  Insert(index, s);
  return index;
}

int TStrings::AddObject(const std::string& s, TObject* obj) {
  int index = Add(s);
  PutObject(index, obj);
  return index;
}

void TStrings::AddStrings(TStrings* strings) {
  if (!strings) return;
  TStringsUpdate update(*this);
  // Adding a list to itself takes the lines it had before.
  const int n = strings->Count();
  for (int i = 0; i < n; ++i) AddObject(strings->Get(i), strings->GetObject(i));
}

void TStrings::Assign(TPersistent* source) {
  if (auto* src = dynamic_cast<TStrings*>(source)) {
    if (src == this) return;
    TStringsUpdate update(*this);
    Clear();
    AddStrings(src);
    return;
  }
  TPersistent::Assign(source);
}

void TStrings::InsertObject(int index, const std::string& s, TObject* obj) {
  Insert(index, s);
  PutObject(index, obj);
}

void TStrings::Exchange(int index1, int index2) {
  TStringsUpdate update(*this);
  std::string s = Get(index1);
  TObject* o = GetObject(index1);
  Put(index1, Get(index2));
  PutObject(index1, GetObject(index2));
  Put(index2, s);
  PutObject(index2, o);
}

void TStrings::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  TStringsUpdate update(*this);
  std::string s = Get(curIndex);
  TObject* o = GetObject(curIndex);
  if (newIndex < 0 || newIndex >= Count()) Error("List index out of bounds", newIndex);
  // The entry loses its object before it is deleted: a list that owns its
  // objects frees what it deletes, and this one only changes place.
  PutObject(curIndex, nullptr);
  Delete(curIndex);
  InsertObject(newIndex, s, o);
}

int TStrings::IndexOf(const std::string& s) const {
  for (int i = 0, n = Count(); i < n; ++i)
    if (CompareStrings(Get(i), s) == 0) return i;
  return -1;
}

int TStrings::IndexOfName(const std::string& name) const {
  for (int i = 0, n = Count(); i < n; ++i) {
    std::string line = Get(i);
    size_t p = line.find(FNameValueSeparator);
    if (p != std::string::npos && CompareStrings(line.substr(0, p), name) == 0) return i;
  }
  return -1;
}

int TStrings::IndexOfObject(const TObject* obj) const {
  for (int i = 0, n = Count(); i < n; ++i)
    if (GetObject(i) == obj) return i;
  return -1;
}

bool TStrings::Equals(const TStrings& other) const {
  if (Count() != other.Count()) return false;
  for (int i = 0, n = Count(); i < n; ++i)
    if (Get(i) != other.Get(i)) return false;
  return true;
}

void TStrings::Put(int index, const std::string& s) {
  TObject* o = GetObject(index);
  Delete(index);
  InsertObject(index, s, o);
}

std::string TStrings::Names(int index) const {
  std::string line = Get(index);
  size_t p = line.find(FNameValueSeparator);
  return p == std::string::npos ? std::string() : line.substr(0, p);
}

std::string TStrings::Values(const std::string& name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStrings::SetValues(const std::string& name, const std::string& value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string line = name + FNameValueSeparator + value;
  if (i < 0) {
    Add(line);
    return;
  }
  // A sorted list refuses Put; the new line takes its sorted place instead.
  auto* sorted = dynamic_cast<TStringList*>(this);
  if (sorted && sorted->Sorted()) {
    TObject* o = GetObject(i);
    Delete(i);
    AddObject(line, o);
  } else {
    Put(i, line);
  }
}

std::string TStrings::ValueFromIndex(int index) const {
  std::string line = Get(index);
  size_t p = line.find(FNameValueSeparator);
  return p == std::string::npos ? std::string() : line.substr(p + 1);
}

void TStrings::SetValueFromIndex(int index, const std::string& value) {
  if (value.empty()) {
    Delete(index);
    return;
  }
  Put(index, Names(index) + FNameValueSeparator + value);
}

std::string TStrings::Text() const {
  std::string out;
  for (int i = 0, n = Count(); i < n; ++i) {
    out += Get(i);
    out += "\r\n";
  }
  return out;
}

void TStrings::SetText(const std::string& text) {
  TStringsUpdate update(*this);
  Clear();
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    size_t start = i;
    while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
    Add(text.substr(start, i - start));
    if (i < n && text[i] == '\r') ++i;
    if (i < n && text[i] == '\n') ++i;
  }
}

std::string TStrings::DelimitedText() const {
  const int n = Count();
  // A single empty line must survive a round trip, so it is written as two quotes.
  if (n == 1 && Get(0).empty()) return std::string(2, FQuoteChar);
  std::string out;
  for (int i = 0; i < n; ++i) {
    std::string s = Get(i);
    bool quote = std::any_of(s.begin(), s.end(), [&](char c) {
      return c == FQuoteChar || c == FDelimiter || (!FStrictDelimiter && static_cast<unsigned char>(c) <= ' ');
    });
    if (i > 0) out += FDelimiter;
    out += quote ? AnsiQuotedStr(s, FQuoteChar) : s;
  }
  return out;
}

void TStrings::SetDelimitedText(const std::string& text) {
  auto blank = [&](size_t p) { return !FStrictDelimiter && p < text.size() && static_cast<unsigned char>(text[p]) <= ' '; };
  TStringsUpdate update(*this);
  Clear();
  size_t p = 0;
  const size_t n = text.size();
  while (blank(p)) ++p;
  while (p < n) {
    std::string s;
    if (text[p] == FQuoteChar) {
      s = AnsiExtractQuotedStr(text, p, FQuoteChar);
    } else {
      size_t start = p;
      while (p < n && text[p] != FDelimiter && !blank(p)) ++p;
      s = text.substr(start, p - start);
    }
    Add(s);
    while (blank(p)) ++p;
    if (p < n && text[p] == FDelimiter) {
      // A delimiter at the very end stands for one more, empty, line.
      if (p + 1 == n) Add(std::string());
      ++p;
      while (blank(p)) ++p;
    }
  }
}

std::string TStrings::CommaText() const {
  auto* self = const_cast<TStrings*>(this);
  char d = FDelimiter, q = FQuoteChar;
  self->FDelimiter = ',';
  self->FQuoteChar = '"';
  std::string s = DelimitedText();
  self->FDelimiter = d;
  self->FQuoteChar = q;
  return s;
}

void TStrings::SetCommaText(const std::string& text) {
  char d = FDelimiter, q = FQuoteChar;
  FDelimiter = ',';
  FQuoteChar = '"';
  try {
    SetDelimitedText(text);
  } catch (...) {
    FDelimiter = d;
    FQuoteChar = q;
    throw;
  }
  FDelimiter = d;
  FQuoteChar = q;
}

void TStrings::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TStrings::LoadFromStream(TStream& stream) {
  int64_t size = stream.Remaining();
  std::string text;
  if (size > 0) {
    text.resize(static_cast<size_t>(size));
    stream.ReadBuffer(text.data(), size);
  }
  SetText(text);
}

void TStrings::SaveToFile(const std::string& fileName) const {
  std::string text = Text();
  SaveBytesToFile(fileName, text.data(), static_cast<int64_t>(text.size()));
}

void TStrings::SaveToStream(TStream& stream) const {
  std::string text = Text();
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TStrings::BeginUpdate() {
  if (FUpdateCount++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0) SetUpdateState(false);
}

int TStrings::CompareStrings(const std::string& a, const std::string& b) const { return CompareText(a, b); }

// ---- TStringList ----

TStringList::~TStringList() {
  // Nobody listens to a list on its way out.
  OnChange = nullptr;
  OnChanging = nullptr;
}

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) Error("List index out of bounds", index);
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::SetUpdateState(bool updating) {
  if (updating) Changing();
  else Changed();
}

int TStringList::Add(const std::string& s) { return AddObject(s, nullptr); }

int TStringList::AddObject(const std::string& s, TObject* obj) {
  int index = Count();
  if (FSorted && Find(s, index)) {
    if (FDuplicates == dupIgnore) return index;
    if (FDuplicates == dupError) throw EStringListError("String list does not allow duplicates");
    // dupAccept: after the equal lines already there.
    while (index < Count() && CompareStrings(FItems[static_cast<size_t>(index)].FString, s) == 0) ++index;
  }
  InsertItem(index, s, obj);
  return index;
}

void TStringList::InsertItem(int index, const std::string& s, TObject* obj) {
  Changing();
  FItems.insert(FItems.begin() + index, TStringItem{s, obj});
  Changed();
}

void TStringList::Clear() {
  if (FItems.empty()) return;
  Changing();
  FItems.clear();
  FItems.shrink_to_fit();
  Changed();
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  Changing();
  FItems.erase(FItems.begin() + index);
  Changed();
}

void TStringList::Insert(int index, const std::string& s) {
  if (FSorted) throw EStringListError("Operation not allowed on sorted list");
  if (index < 0 || index > Count()) Error("List index out of bounds", index);
  InsertItem(index, s, nullptr);
}

void TStringList::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  Changing();
  ExchangeItems(index1, index2);
  Changed();
}

void TStringList::ExchangeItems(int index1, int index2) {
  std::swap(FItems[static_cast<size_t>(index1)], FItems[static_cast<size_t>(index2)]);
}

int TStringList::IndexOf(const std::string& s) const {
  if (!FSorted) return TStrings::IndexOf(s);
  int index;
  return Find(s, index) ? index : -1;
}

bool TStringList::Find(const std::string& s, int& index) const {
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = lo + (hi - lo) / 2;
    int c = CompareStrings(FItems[static_cast<size_t>(mid)].FString, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      // Keep going left on a match so that the first equal line is found.
      hi = mid - 1;
      if (c == 0) found = true;
    }
  }
  index = lo;
  return found;
}

void TStringList::QuickSort(int l, int r, const TStringListSortCompare& compare) {
  // The framework's own scheme: middle pivot, followed as the items move. The scans
  // stay inside l..r even when a comparison function is not a consistent order.
  while (l < r) {
    int i = l, j = r, p = l + (r - l) / 2;
    do {
      while (i < r && compare(this, i, p) < 0) ++i;
      while (j > l && compare(this, j, p) > 0) --j;
      if (i <= j) {
        if (i != j) ExchangeItems(i, j);
        if (p == i) p = j;
        else if (p == j) p = i;
        ++i;
        --j;
      }
    } while (i <= j);
    if (l < j) QuickSort(l, j, compare);
    l = i;
  }
}

void TStringList::Sort() {
  SortWith([](TStringList* list, int a, int b) {
    return list->CompareStrings(list->FItems[static_cast<size_t>(a)].FString,
                                list->FItems[static_cast<size_t>(b)].FString);
  });
}

void TStringList::CustomSort(const TStringListSortCompare& compare) {
  // A sorted list keeps its own order, which Find depends on.
  if (!FSorted) SortWith(compare);
}

void TStringList::SortWith(const TStringListSortCompare& compare) {
  if (Count() < 2 || !compare) return;
  Changing();
  QuickSort(0, Count() - 1, compare);
  Changed();
}

void TStringList::SetSorted(bool sorted) {
  if (FSorted == sorted) return;
  if (sorted) Sort();
  FSorted = sorted;
}

void TStringList::SetCaseSensitive(bool caseSensitive) {
  if (FCaseSensitive == caseSensitive) return;
  FCaseSensitive = caseSensitive;
  if (FSorted) Sort();
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
  return FCaseSensitive ? CompareStr(a, b) : CompareText(a, b);
}

std::string TStringList::Get(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)].FString;
}

void TStringList::Put(int index, const std::string& s) {
  if (FSorted) throw EStringListError("Operation not allowed on sorted list");
  CheckIndex(index);
  Changing();
  FItems[static_cast<size_t>(index)].FString = s;
  Changed();
}

TObject* TStringList::GetObject(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)].FObject;
}

void TStringList::PutObject(int index, TObject* obj) {
  CheckIndex(index);
  Changing();
  FItems[static_cast<size_t>(index)].FObject = obj;
  Changed();
}
