#pragma once
// A small PDF 1.4 object model that writes itself, the routines that number
// objects and write a document's body, cross-reference table and trailer, and
// the text encoders the PostScript and PDF writers share (ASCII85, PackBits
// run-length, CR LF lines).
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class TMemoryStream;
class TStream;

class TIEPDFObject {
public:
  virtual ~TIEPDFObject() = default;
  // Records where the object starts, then writes its text.
  void Write(TStream& stream);

  int32_t ObjectNumber = 0;  // set when the object joins a document's object list
  int64_t FileOffset = 0;    // where the object was last written
  // Set on objects that several others refer to (the shared resources):
  // containers only ever borrow them (AddBorrowed), their owner frees them.
  bool OwnedElsewhere = false;

protected:
  virtual void WriteBody(TStream& stream) = 0;
};

// One item of an array or dictionary: owned (freed with its container), or
// borrowed from its real owner.
class TIEPDFItem {
public:
  explicit TIEPDFItem(std::unique_ptr<TIEPDFObject> owned) : FOwned(std::move(owned)), FObject(FOwned.get()) {}
  explicit TIEPDFItem(TIEPDFObject* borrowed) : FObject(borrowed) {}
  TIEPDFObject* Get() const { return FObject; }

private:
  std::unique_ptr<TIEPDFObject> FOwned;
  TIEPDFObject* FObject;
};

class TIEPDFRefObject : public TIEPDFObject {
public:
  TIEPDFRefObject(int32_t number, int32_t generation) : Number(number), Generation(generation) {}
  int32_t Number, Generation;

protected:
  void WriteBody(TStream& stream) override;
};

class TIEPDFBooleanObject : public TIEPDFObject {
public:
  explicit TIEPDFBooleanObject(bool value) : Value(value) {}
  bool Value;

protected:
  void WriteBody(TStream& stream) override;
};

class TIEPDFNumericObject : public TIEPDFObject {
public:
  // Raises EConvertError for NaN or an infinite value: no reader could take it.
  explicit TIEPDFNumericObject(double value);
  double Value() const { return FValue; }

protected:
  void WriteBody(TStream& stream) override;

private:
  double FValue;
};

// A text string. Plain ASCII goes out as a literal string; text with bytes of
// 0x80 and above (UTF-8 here) as UTF-16BE with its byte-order mark, which is
// how PDF readers recognise Unicode text.
class TIEPDFStringObject : public TIEPDFObject {
public:
  explicit TIEPDFStringObject(std::string text) : Text(std::move(text)) {}
  std::string Text;

protected:
  void WriteBody(TStream& stream) override;
};

class TIEPDFNameObject : public TIEPDFObject {
public:
  explicit TIEPDFNameObject(std::string text) : Text(std::move(text)) {}
  std::string Text;

protected:
  void WriteBody(TStream& stream) override;
};

class TIEPDFArrayObject : public TIEPDFObject {
public:
  void Add(std::unique_ptr<TIEPDFObject> item);
  void AddBorrowed(TIEPDFObject* item);
  int Count() const { return static_cast<int>(FItems.size()); }
  TIEPDFObject* Item(int index) const { return FItems[size_t(index)].Get(); }

protected:
  void WriteBody(TStream& stream) override;

private:
  std::vector<TIEPDFItem> FItems;
};

class TIEPDFDictionaryObject : public TIEPDFObject {
public:
  void Add(const std::string& key, std::unique_ptr<TIEPDFObject> value);
  void Insert(int index, const std::string& key, std::unique_ptr<TIEPDFObject> value);
  void AddBorrowed(const std::string& key, TIEPDFObject* value);
  // Replaces the value of key in place, or appends it.
  void Set(const std::string& key, std::unique_ptr<TIEPDFObject> value);
  int IndexOf(const std::string& key) const;
  TIEPDFObject* Find(const std::string& key) const;
  int Count() const { return static_cast<int>(FEntries.size()); }
  const std::string& Key(int index) const { return FEntries[size_t(index)].first; }

protected:
  void WriteBody(TStream& stream) override;

private:
  std::vector<std::pair<std::string, TIEPDFItem>> FEntries;
};

// A stream object: its dictionary (which always holds /Length) and its data,
// in memory or, once moved, in a temporary file that vanishes when closed.
class TIEPDFStreamObject : public TIEPDFObject {
public:
  TIEPDFStreamObject();
  TIEPDFStreamObject(const void* data, int64_t size);
  ~TIEPDFStreamObject() override;
  TIEPDFDictionaryObject& Dictionary() { return FDictionary; }
  void SetData(std::vector<uint8_t> data);
  // Takes the stream's bytes over without copying them.
  void SetData(std::unique_ptr<TMemoryStream> data);
  int64_t DataSize() const { return FSize; }
  // Moves the data into a new temporary file and frees the memory.
  void MoveToTempFile();
  bool InTempFile() const { return FFile != nullptr; }

protected:
  void WriteBody(TStream& stream) override;

private:
  TIEPDFDictionaryObject FDictionary;
  const uint8_t* MemoryBytes() const;
  std::vector<uint8_t> FData;
  std::unique_ptr<TMemoryStream> FMemory;
  std::unique_ptr<TStream> FFile;
  int64_t FSize = 0;
};

using TIEPDFObjectList = std::vector<TIEPDFObject*>;

// Appends object to the list and numbers it by its place (numbers start at 1).
void AddPDFIndirect(TIEPDFObjectList& objects, TIEPDFObject* object);
std::unique_ptr<TIEPDFDictionaryObject> AddPDFCatalog(TIEPDFObjectList& objects);
// The pages dictionary over pages, numbered before its items are filled; each
// page gets its /Parent and the catalog (the list's first object) its /Pages.
std::unique_ptr<TIEPDFDictionaryObject> AddPDFPages(TIEPDFObjectList& objects,
                                                    const std::vector<TIEPDFDictionaryObject*>& pages);
std::unique_ptr<TIEPDFDictionaryObject> AddPDFPageObject(TIEPDFObjectList& objects,
                                                         std::vector<TIEPDFDictionaryObject*>& pages,
                                                         TIEPDFObject* resources, int32_t contentsNumber,
                                                         std::unique_ptr<TIEPDFArrayObject> mediaBox);
void WritePDFHeader(TStream& stream);
void WritePDFObjects(TStream& stream, const TIEPDFObjectList& objects);
void WritePDFTrailer(TStream& stream, const TIEPDFObjectList& objects, const TIEPDFObject& info);
void WritePDFLine(TStream& stream, const std::string& text);
void WritePDFText(TStream& stream, const std::string& text);
std::string PadLeft(const std::string& text, size_t length, char c);

// A number in PDF's and PostScript's syntax: fixed notation, at most six
// decimals, no trailing zeros, never "-0" and never an exponent, whatever the
// locale. Raises EConvertError for NaN or infinity.
std::string PDFNumberText(double value);
// A name's bytes with '#', delimiters and bytes outside '!'..'~' as #xx.
std::string PDFEscapeName(const std::string& text);

// ---- encoders ----
// Encodes count (1..4) bytes as ASCII85 into destination; returns the
// characters written (1 for "z", else count + 1).
int ASCII85EncodeGroup(const uint8_t* source, int count, char* destination);
// Upper bound of what ASCII85Encode writes for length bytes.
int64_t ASCII85EncodedBound(int64_t length);
// All of source as ASCII85 lines of at most 75 characters ended by CR LF, then
// "~>" and CR LF. Returns the characters written; counter grows by the group
// characters only.
int64_t ASCII85Encode(const uint8_t* source, int64_t length, char* destination, int64_t& counter);
// Upper bound of what PackBitsEncode writes for length bytes. A literal takes
// in the first byte of a following pair, so pairs in a row ("a b b c c d d")
// cost a code byte every two bytes: half as much again, not a 128th.
inline int64_t PackBitsEncodedBound(int64_t length) { return length + (length + 1) / 2 + 2; }
// Run-length codes of the RunLengthDecode filter, ended by the byte 128.
int64_t PackBitsEncode(const uint8_t* source, int64_t length, uint8_t* destination);
void WriteLineCRLF(TStream& stream, const std::string& text);
