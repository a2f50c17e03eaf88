#include "imaging/io/pdf_objects.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "imaging/core/ie_file_buffer.h"
#include "imaging/core/ie_streams.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

namespace {

void Put(TStream& stream, const std::string& text) {
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

// Decodes UTF-8 into UTF-16 code units; a byte that does not start a valid
// sequence stands for itself (Latin-1), so no input is lost or refused.
std::vector<uint16_t> Utf16Of(const std::string& text) {
  std::vector<uint16_t> out;
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const uint8_t b = s[i];
    const int extra = b >= 0xF0 && b <= 0xF4 ? 3 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xC2 && b <= 0xDF ? 1 : 0;
    uint32_t cp = 0;
    bool ok = extra > 0 && i + size_t(extra) < n;
    if (ok) {
      cp = b & (0x3Fu >> extra);
      for (int k = 1; k <= extra && ok; ++k) {
        const uint8_t c = s[i + size_t(k)];
        ok = (c & 0xC0) == 0x80;
        cp = (cp << 6) | (c & 0x3Fu);
      }
      const uint32_t minimum[4] = {0, 0x80, 0x800, 0x10000};
      ok = ok && cp >= minimum[extra] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    }
    if (!ok) {
      out.push_back(b);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(uint16_t(0xD800 + (cp >> 10)));
      out.push_back(uint16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(uint16_t(cp));
    }
    i += size_t(extra) + 1;
  }
  return out;
}

bool IsNameRegular(uint8_t c) {
  if (c < '!' || c > '~') return false;
  return std::strchr("#()<>[]{}/%", c) == nullptr;
}

}  // namespace

// ---- numbers and names ----

std::string PDFNumberText(double value) {
  if (!std::isfinite(value)) throw EConvertError("A PDF number must be finite");
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
  std::string text(buf, r.ptr);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

std::string PDFEscapeName(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<uint8_t>(ch);
    if (IsNameRegular(c)) {
      out += ch;
    } else {
      out += '#';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// ---- objects ----

void TIEPDFObject::Write(TStream& stream) {
  FileOffset = stream.Position();
  WriteBody(stream);
}

void TIEPDFRefObject::WriteBody(TStream& stream) {
  Put(stream, std::to_string(Number) + " " + std::to_string(Generation) + " R");
}

void TIEPDFBooleanObject::WriteBody(TStream& stream) { Put(stream, Value ? "true" : "false"); }

TIEPDFNumericObject::TIEPDFNumericObject(double value) : FValue(value) {
  if (!std::isfinite(value)) throw EConvertError("A PDF number must be finite");
}

void TIEPDFNumericObject::WriteBody(TStream& stream) { Put(stream, PDFNumberText(FValue)); }

void TIEPDFStringObject::WriteBody(TStream& stream) {
  bool ascii = true;
  for (const char ch : Text) ascii = ascii && static_cast<uint8_t>(ch) < 0x80;
  if (!ascii) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "<FEFF";
    for (const uint16_t u : Utf16Of(Text)) {
      out += kHex[(u >> 12) & 15];
      out += kHex[(u >> 8) & 15];
      out += kHex[(u >> 4) & 15];
      out += kHex[u & 15];
    }
    out += '>';
    Put(stream, out);
    return;
  }
  std::string out = "(";
  for (const char ch : Text) {
    switch (ch) {
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '(': out += "\\("; break;
      case ')': out += "\\)"; break;
      case '\\': out += "\\\\"; break;
      default: out += ch; break;
    }
  }
  out += ')';
  Put(stream, out);
}

void TIEPDFNameObject::WriteBody(TStream& stream) { Put(stream, "/" + PDFEscapeName(Text)); }

void TIEPDFArrayObject::Add(std::unique_ptr<TIEPDFObject> item) { FItems.emplace_back(std::move(item)); }

void TIEPDFArrayObject::AddBorrowed(TIEPDFObject* item) { FItems.emplace_back(item); }

void TIEPDFArrayObject::WriteBody(TStream& stream) {
  Put(stream, "[");
  for (const TIEPDFItem& item : FItems) {
    item.Get()->Write(stream);
    Put(stream, " ");
  }
  Put(stream, "]");
}

void TIEPDFDictionaryObject::Add(const std::string& key, std::unique_ptr<TIEPDFObject> value) {
  Insert(Count(), key, std::move(value));
}

void TIEPDFDictionaryObject::Insert(int index, const std::string& key, std::unique_ptr<TIEPDFObject> value) {
  index = std::max(0, std::min(index, Count()));
  FEntries.insert(FEntries.begin() + index, {key, TIEPDFItem(std::move(value))});
}

void TIEPDFDictionaryObject::AddBorrowed(const std::string& key, TIEPDFObject* value) {
  FEntries.emplace_back(key, TIEPDFItem(value));
}

void TIEPDFDictionaryObject::Set(const std::string& key, std::unique_ptr<TIEPDFObject> value) {
  const int i = IndexOf(key);
  if (i < 0) return Add(key, std::move(value));
  FEntries.erase(FEntries.begin() + i);
  Insert(i, key, std::move(value));
}

int TIEPDFDictionaryObject::IndexOf(const std::string& key) const {
  for (size_t i = 0; i < FEntries.size(); ++i)
    if (FEntries[i].first == key) return static_cast<int>(i);
  return -1;
}

TIEPDFObject* TIEPDFDictionaryObject::Find(const std::string& key) const {
  const int i = IndexOf(key);
  return i < 0 ? nullptr : FEntries[size_t(i)].second.Get();
}

void TIEPDFDictionaryObject::WriteBody(TStream& stream) {
  Put(stream, "<< ");
  for (const auto& [key, item] : FEntries) {
    Put(stream, "/" + PDFEscapeName(key) + " ");
    item.Get()->Write(stream);
    Put(stream, "\n");
  }
  Put(stream, ">>");
}

TIEPDFStreamObject::TIEPDFStreamObject() { FDictionary.Add("Length", std::make_unique<TIEPDFNumericObject>(0)); }

TIEPDFStreamObject::TIEPDFStreamObject(const void* data, int64_t size) : TIEPDFStreamObject() {
  const auto* p = static_cast<const uint8_t*>(data);
  FData.assign(p, p + size);
  FSize = size;
}

TIEPDFStreamObject::~TIEPDFStreamObject() = default;

void TIEPDFStreamObject::SetData(std::vector<uint8_t> data) {
  FFile.reset();
  FMemory.reset();
  FData = std::move(data);
  FSize = static_cast<int64_t>(FData.size());
}

void TIEPDFStreamObject::SetData(std::unique_ptr<TMemoryStream> data) {
  FFile.reset();
  std::vector<uint8_t>().swap(FData);
  FSize = data ? data->Size() : 0;
  FMemory = std::move(data);
}

const uint8_t* TIEPDFStreamObject::MemoryBytes() const { return FMemory ? FMemory->Memory() : FData.data(); }

void TIEPDFStreamObject::MoveToTempFile() {
  if (FFile) return;
  std::string name;
  if (!NewTempFileName(name)) throw EInOutError("Unable to create a temporary file");
  auto file = std::make_unique<TIETemporaryFileStream>(name);
  if (FSize > 0) file->WriteBuffer(MemoryBytes(), FSize);
  FFile = std::move(file);
  std::vector<uint8_t>().swap(FData);
  FMemory.reset();
}

void TIEPDFStreamObject::WriteBody(TStream& stream) {
  FDictionary.Set("Length", std::make_unique<TIEPDFNumericObject>(static_cast<double>(FSize)));
  FDictionary.Write(stream);
  Put(stream, "\nstream\n");
  if (FFile) {
    FFile->SetPosition(0);
    if (FSize > 0 && stream.CopyFrom(*FFile, FSize) != FSize) throw EWriteError("Stream write error");
  } else if (FSize > 0) {
    stream.WriteBuffer(MemoryBytes(), FSize);
  }
  Put(stream, "\nendstream");
}

// ---- documents ----

void AddPDFIndirect(TIEPDFObjectList& objects, TIEPDFObject* object) {
  objects.push_back(object);
  object->ObjectNumber = static_cast<int32_t>(objects.size());
}

std::unique_ptr<TIEPDFDictionaryObject> AddPDFCatalog(TIEPDFObjectList& objects) {
  auto catalog = std::make_unique<TIEPDFDictionaryObject>();
  catalog->Add("Type", std::make_unique<TIEPDFNameObject>("Catalog"));
  AddPDFIndirect(objects, catalog.get());
  return catalog;
}

std::unique_ptr<TIEPDFDictionaryObject> AddPDFPages(TIEPDFObjectList& objects,
                                                    const std::vector<TIEPDFDictionaryObject*>& pages) {
  auto dict = std::make_unique<TIEPDFDictionaryObject>();
  AddPDFIndirect(objects, dict.get());
  dict->Add("Type", std::make_unique<TIEPDFNameObject>("Pages"));
  auto kids = std::make_unique<TIEPDFArrayObject>();
  for (TIEPDFDictionaryObject* page : pages) {
    kids->Add(std::make_unique<TIEPDFRefObject>(page->ObjectNumber, 0));
    page->Set("Parent", std::make_unique<TIEPDFRefObject>(dict->ObjectNumber, 0));
  }
  dict->Add("Kids", std::move(kids));
  dict->Add("Count", std::make_unique<TIEPDFNumericObject>(static_cast<double>(pages.size())));
  if (!objects.empty()) {
    if (auto* catalog = dynamic_cast<TIEPDFDictionaryObject*>(objects.front()))
      catalog->Set("Pages", std::make_unique<TIEPDFRefObject>(dict->ObjectNumber, 0));
  }
  return dict;
}

std::unique_ptr<TIEPDFDictionaryObject> AddPDFPageObject(TIEPDFObjectList& objects,
                                                         std::vector<TIEPDFDictionaryObject*>& pages,
                                                         TIEPDFObject* resources, int32_t contentsNumber,
                                                         std::unique_ptr<TIEPDFArrayObject> mediaBox) {
  auto page = std::make_unique<TIEPDFDictionaryObject>();
  page->Add("Type", std::make_unique<TIEPDFNameObject>("Page"));
  if (resources) page->Add("Resources", std::make_unique<TIEPDFRefObject>(resources->ObjectNumber, 0));
  page->Add("MediaBox", std::move(mediaBox));
  page->Add("Contents", std::make_unique<TIEPDFRefObject>(contentsNumber, 0));
  AddPDFIndirect(objects, page.get());
  pages.push_back(page.get());
  return page;
}

void WritePDFHeader(TStream& stream) {
  // The comment of high bytes tells transfer programs the file is binary; it
  // must be a comment, or readers take the bytes for a stray token.
  static const uint8_t kHeader[] = {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n', '%', 0xC8, 0xD2, 0xF0, 0xFE, '\n'};
  stream.WriteBuffer(kHeader, sizeof kHeader);
}

void WritePDFObjects(TStream& stream, const TIEPDFObjectList& objects) {
  for (TIEPDFObject* object : objects) {
    const int64_t start = stream.Position();
    Put(stream, std::to_string(object->ObjectNumber) + " 0 obj\n");
    object->Write(stream);
    Put(stream, "\nendobj\n");
    object->FileOffset = start;
  }
}

void WritePDFTrailer(TStream& stream, const TIEPDFObjectList& objects, const TIEPDFObject& info) {
  const int64_t start = stream.Position();
  const std::string size = std::to_string(objects.size() + 1);
  std::string text = "xref\n0 " + size + "\n0000000000 65535 f \n";
  for (const TIEPDFObject* object : objects) text += PadLeft(std::to_string(object->FileOffset), 10, '0') + " 00000 n \n";
  text += "trailer\n<< /Size " + size + "\n/Root 1 0 R\n/Info " + std::to_string(info.ObjectNumber) + " 0 R\n>>\n";
  text += "startxref\n" + std::to_string(start) + "\n%%EOF\n";
  Put(stream, text);
}

void WritePDFLine(TStream& stream, const std::string& text) { Put(stream, text + "\n"); }

void WritePDFText(TStream& stream, const std::string& text) { Put(stream, text); }

std::string PadLeft(const std::string& text, size_t length, char c) {
  return text.size() >= length ? text : std::string(length - text.size(), c) + text;
}

// ---- encoders ----

int ASCII85EncodeGroup(const uint8_t* source, int count, char* destination) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | (i < count ? source[i] : 0u);
  if (value == 0 && count == 4) {
    destination[0] = 'z';
    return 1;
  }
  char digits[5];
  for (int i = 4; i >= 0; --i) {
    digits[i] = static_cast<char>(value % 85 + 33);
    value /= 85;
  }
  std::memcpy(destination, digits, size_t(count) + 1);
  return count + 1;
}

int64_t ASCII85EncodedBound(int64_t length) {
  const int64_t chars = (length + 3) / 4 * 5;
  return chars + (chars / 75 + 1) * 2 + 4;
}

int64_t ASCII85Encode(const uint8_t* source, int64_t length, char* destination, int64_t& counter) {
  char* out = destination;
  int lineLength = 0;
  for (int64_t pos = 0; pos < length; pos += 4) {
    const int count = static_cast<int>(std::min<int64_t>(4, length - pos));
    const int n = ASCII85EncodeGroup(source + pos, count, out);
    out += n;
    counter += n;
    lineLength += n;
    if (lineLength > 74) {
      *out++ = '\r';
      *out++ = '\n';
      lineLength = 0;
    }
  }
  std::memcpy(out, "~>\r\n", 4);
  out += 4;
  return out - destination;
}

int64_t PackBitsEncode(const uint8_t* source, int64_t length, uint8_t* destination) {
  uint8_t* out = destination;
  int64_t i = 0;
  while (i < length) {
    if (i + 1 < length && source[i] == source[i + 1]) {
      int64_t run = 2;
      while (run < 128 && i + run < length && source[i + run] == source[i]) ++run;
      *out++ = static_cast<uint8_t>(1 - run);
      *out++ = source[i];
      i += run;
      continue;
    }
    // A literal stretch runs while each byte differs from the one before; the
    // first byte of a following pair closes it.
    int64_t n = 1;
    while (n < 128 && i + n < length && source[i + n] != source[i + n - 1]) ++n;
    *out++ = static_cast<uint8_t>(n - 1);
    std::memcpy(out, source + i, size_t(n));
    out += n;
    i += n;
  }
  *out++ = 128;
  return out - destination;
}

void WriteLineCRLF(TStream& stream, const std::string& text) { Put(stream, text + "\r\n"); }
