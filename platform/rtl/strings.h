#pragma once
// The framework's string lists: TStrings, the abstract list of lines that each may
// carry an object, and TStringList, the concrete one with sorting.
//
// Text files: lines end at CR, LF or CR LF when read and are written with CR LF,
// every line including the last. Bytes pass through unchanged (UTF-8 stays UTF-8).
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/object.h"

class TStream;

enum TDuplicates : uint8_t { dupIgnore, dupAccept, dupError };

class TStrings : public TPersistent {
public:
  ~TStrings() override = default;

  virtual int Add(const std::string& s);
  virtual int AddObject(const std::string& s, TObject* obj);
  void Append(const std::string& s) { Add(s); }
  virtual void AddStrings(TStrings* strings);
  // Takes the lines and objects of another TStrings; anything else raises EConvertError.
  void Assign(TPersistent* source) override;
  virtual void Clear() = 0;
  virtual void Delete(int index) = 0;
  virtual void Insert(int index, const std::string& s) = 0;
  void InsertObject(int index, const std::string& s, TObject* obj);
  virtual void Exchange(int index1, int index2);
  virtual void Move(int curIndex, int newIndex);
  // The first line equal to s (case-insensitive unless the list says otherwise), -1 for none.
  virtual int IndexOf(const std::string& s) const;
  int IndexOfName(const std::string& name) const;
  int IndexOfObject(const TObject* obj) const;
  // Same lines in the same order, compared byte for byte.
  bool Equals(const TStrings& other) const;

  virtual int Count() const = 0;
  std::string Strings(int index) const { return Get(index); }
  void SetStrings(int index, const std::string& s) { Put(index, s); }
  std::string operator[](int index) const { return Get(index); }
  TObject* Objects(int index) const { return GetObject(index); }
  void SetObjects(int index, TObject* obj) { PutObject(index, obj); }

  // "name=value" lines. Names(i) is "" for a line without the separator;
  // Values(name) is "" when no line has the name; SetValues with "" deletes the line.
  std::string Names(int index) const;
  std::string Values(const std::string& name) const;
  void SetValues(const std::string& name, const std::string& value);
  std::string ValueFromIndex(int index) const;
  void SetValueFromIndex(int index, const std::string& value);
  char NameValueSeparator() const { return FNameValueSeparator; }
  void SetNameValueSeparator(char c) { FNameValueSeparator = c; }

  std::string Text() const;
  void SetText(const std::string& text);
  // Lines joined by the delimiter; a line holding a blank, a control character, the
  // delimiter or the quote character is quoted with inner quotes doubled. Reading
  // splits at delimiters and (unless StrictDelimiter) at blanks outside quotes.
  std::string DelimitedText() const;
  void SetDelimitedText(const std::string& text);
  // DelimitedText with ',' and '"'.
  std::string CommaText() const;
  void SetCommaText(const std::string& text);
  char Delimiter() const { return FDelimiter; }
  void SetDelimiter(char c) { FDelimiter = c; }
  char QuoteChar() const { return FQuoteChar; }
  void SetQuoteChar(char c) { FQuoteChar = c; }
  bool StrictDelimiter() const { return FStrictDelimiter; }
  void SetStrictDelimiter(bool strict) { FStrictDelimiter = strict; }

  virtual void LoadFromFile(const std::string& fileName);
  virtual void LoadFromStream(TStream& stream);
  // Replaces the file as a whole: a failed write leaves the old file in place.
  virtual void SaveToFile(const std::string& fileName) const;
  virtual void SaveToStream(TStream& stream) const;

  // Change events wait until the last EndUpdate.
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

  // The comparison IndexOf, IndexOfName and sorting use.
  virtual int CompareStrings(const std::string& a, const std::string& b) const;

protected:
  virtual std::string Get(int index) const = 0;
  virtual void Put(int index, const std::string& s);
  virtual TObject* GetObject(int index) const { return nullptr; }
  virtual void PutObject(int index, TObject* obj) {}
  virtual void SetUpdateState(bool updating) {}
  [[noreturn]] static void Error(const char* message, int data);

private:
  int FUpdateCount = 0;
  char FDelimiter = ',';
  char FQuoteChar = '"';
  char FNameValueSeparator = '=';
  bool FStrictDelimiter = false;
};

// Holds a BeginUpdate for its lifetime, so change events wait even when an
// exception leaves the block.
class TStringsUpdate {
public:
  explicit TStringsUpdate(TStrings& strings) : FStrings(strings), FUncaught(std::uncaught_exceptions()) {
    FStrings.BeginUpdate();
  }
  // A change handler's exception reaches the caller, unless another one is already
  // on its way out, which it must not replace.
  ~TStringsUpdate() noexcept(false) {
    if (std::uncaught_exceptions() == FUncaught) {
      FStrings.EndUpdate();
      return;
    }
    try {
      FStrings.EndUpdate();
    } catch (...) {
    }
  }
  TStringsUpdate(const TStringsUpdate&) = delete;
  TStringsUpdate& operator=(const TStringsUpdate&) = delete;

private:
  TStrings& FStrings;
  int FUncaught;
};

class TStringList;
// Compares the lines at two indexes of the list: negative, zero or positive.
using TStringListSortCompare = std::function<int(TStringList* list, int index1, int index2)>;

class TStringList : public TStrings {
public:
  TStringList() = default;
  ~TStringList() override;

  // On a sorted list Add finds the place of s; a line already there is handled as
  // Duplicates says (dupIgnore returns its index, dupError raises EStringListError).
  int Add(const std::string& s) override;
  int AddObject(const std::string& s, TObject* obj) override;
  void Clear() override;
  void Delete(int index) override;
  // Raises EStringListError on a sorted list.
  void Insert(int index, const std::string& s) override;
  void Exchange(int index1, int index2) override;
  int IndexOf(const std::string& s) const override;
  int Count() const override { return static_cast<int>(FItems.size()); }

  // Binary search of a sorted list: true when found, index is then the first such
  // line, else the place where s would go.
  virtual bool Find(const std::string& s, int& index) const;
  virtual void Sort();
  // Orders an unsorted list by compare; a sorted list stays as it is.
  virtual void CustomSort(const TStringListSortCompare& compare);

  bool Sorted() const { return FSorted; }
  void SetSorted(bool sorted);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates d) { FDuplicates = d; }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool caseSensitive);
  int CompareStrings(const std::string& a, const std::string& b) const override;

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

protected:
  std::string Get(int index) const override;
  void Put(int index, const std::string& s) override;
  TObject* GetObject(int index) const override;
  void PutObject(int index, TObject* obj) override;
  void SetUpdateState(bool updating) override;
  virtual void Changed();
  virtual void Changing();
  void InsertItem(int index, const std::string& s, TObject* obj);

private:
  struct TStringItem {
    std::string FString;
    TObject* FObject = nullptr;
  };
  void CheckIndex(int index) const;
  void ExchangeItems(int index1, int index2);
  void SortWith(const TStringListSortCompare& compare);
  void QuickSort(int l, int r, const TStringListSortCompare& compare);

  std::vector<TStringItem> FItems;
  TDuplicates FDuplicates = dupIgnore;
  bool FSorted = false;
  bool FCaseSensitive = false;
};
