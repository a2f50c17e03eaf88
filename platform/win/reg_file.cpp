#include "platform/win/reg_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/win/utf16_text.h"

namespace {

const char* const kRootNames[kRegStoreRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                                    "HKEY_USERS", "HKEY_CURRENT_CONFIG"};
const char* const kRootShortNames[kRegStoreRootCount] = {"HKCR", "HKCU", "HKLM", "HKU", "HKCC"};

const char* const kHeader5 = "Windows Registry Editor Version 5.00";
const char* const kHeader4 = "REGEDIT4";

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

template <class Vec> auto FindByName(Vec& items, const std::string& name) {
  return std::find_if(items.begin(), items.end(), [&](const auto& item) { return RegNamesEqual(item.Name, name); });
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// True when the text survives a trip through UTF-16, which the export's hex(1),
// hex(2) and hex(7) forms take.
bool IsValidUtf8(const std::string& text) { return Utf16LEToUtf8(Utf8ToUtf16LE(text)) == text; }

// The length of the well-formed UTF-8 sequence at p (at most n bytes) and its
// code point; 0 when the bytes there start none (overlong forms, surrogates
// and values past U+10FFFF included).
int Utf8Sequence(const uint8_t* p, size_t n, uint32_t& cp) {
  const uint8_t b = p[0];
  int len = 0;
  uint32_t min = 0;
  if (b < 0x80) {
    cp = b;
    return 1;
  } else if ((b & 0xE0) == 0xC0) {
    len = 2, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, cp = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (size_t(len) > n) return 0;
  for (int i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

void PutUnit(std::vector<uint8_t>& out, uint32_t unit) {
  out.push_back(static_cast<uint8_t>(unit));
  out.push_back(static_cast<uint8_t>(unit >> 8));
}

// A stored text as the UTF-16 of the hex(1), hex(2) and hex(7) forms. A byte
// that starts no UTF-8 sequence goes out as the lone surrogate U+DC00 + byte,
// which no well-formed text holds, so every byte string comes back exactly
// (text set through the API need not be UTF-8).
std::vector<uint8_t> StoreTextToUtf16(const std::vector<uint8_t>& text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const int len = Utf8Sequence(text.data() + i, text.size() - i, cp);
    if (len == 0) {
      PutUnit(out, 0xDC00 + text[i]);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      PutUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
      PutUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      PutUnit(out, cp);
    }
    i += size_t(len);
  }
  return out;
}

void PutUtf8(std::vector<uint8_t>& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<uint8_t>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<uint8_t>(0xC0 | cp >> 6));
    out.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<uint8_t>(0xE0 | cp >> 12));
    out.push_back(static_cast<uint8_t>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<uint8_t>(0xF0 | cp >> 18));
    out.push_back(static_cast<uint8_t>(0x80 | (cp >> 12 & 0x3F)));
    out.push_back(static_cast<uint8_t>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
  }
}

// The reverse: U+DC80..U+DCFF standing alone are the bytes they escape; other
// lone surrogates (from another writer) keep their three-byte form.
std::vector<uint8_t> Utf16ToStoreText(const std::vector<uint8_t>& utf16) {
  std::vector<uint8_t> out;
  const size_t n = utf16.size() / 2;
  auto unit = [&](size_t i) { return uint32_t(utf16[2 * i]) | uint32_t(utf16[2 * i + 1]) << 8; };
  for (size_t i = 0; i < n; ++i) {
    const uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      PutUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out.push_back(static_cast<uint8_t>(u - 0xDC00));
    } else {
      PutUtf8(out, u);
    }
  }
  if (utf16.size() % 2) out.push_back(utf16.back());
  return out;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A REG_SZ that the quoted form holds exactly: one terminator at the end and
// no line breaks. Its bytes go out as they are, UTF-8 or not, and read back
// the same; anything else goes out as hex(1).
bool FitsQuotedForm(const std::vector<uint8_t>& data) {
  if (data.empty() || data.back() != 0) return false;
  std::string text(data.begin(), data.end() - 1);
  return text.find_first_of(std::string("\0\r\n", 3)) == std::string::npos;
}

void AppendHex(std::string& out, const std::string& prefix, const std::vector<uint8_t>& bytes) {
  std::string line = prefix;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
    line += buf;
    if (i + 1 < bytes.size()) {
      line += ',';
      // The editor wraps long data at about 80 columns and goes on indented.
      if (line.size() > 76) {
        out += line + "\\\r\n";
        line = "  ";
      }
    }
  }
  out += line + "\r\n";
}

void FormatValue(std::string& out, const TRegStoreValue& value) {
  std::string prefix = (value.Name.empty() ? std::string("@") : Quote(value.Name)) + "=";
  const auto& data = value.Data;
  switch (value.Type) {
    case REG_SZ:
      if (FitsQuotedForm(data)) {
        out += prefix + Quote(std::string(data.begin(), data.end() - 1)) + "\r\n";
        return;
      }
      AppendHex(out, prefix + "hex(1):", StoreTextToUtf16(data));
      return;
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.Type));
      AppendHex(out, prefix + buf, StoreTextToUtf16(data));
      return;
    }
    case REG_DWORD:
      if (data.size() == 4) {
        char buf[16];
        uint32_t v = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
        std::snprintf(buf, sizeof buf, "dword:%08x", v);
        out += prefix + buf + "\r\n";
        return;
      }
      break;
    case REG_BINARY:
      AppendHex(out, prefix + "hex:", data);
      return;
    default:
      break;
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.Type));
  AppendHex(out, prefix + buf, data);
}

void FormatKey(std::string& out, const TRegStoreKey& key, const std::string& path) {
  out += "[" + path + "]\r\n";
  for (const auto& value : key.Values) FormatValue(out, value);
  out += "\r\n";
  for (const auto& sub : key.SubKeys) FormatKey(out, sub, path + "\\" + sub.Name);
}

// ---- reading ----

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  return s;
}

std::string TrimLeft(const std::string& s) {
  size_t i = s.find_first_not_of(" \t");
  return i == std::string::npos ? std::string() : s.substr(i);
}

std::string DecodeText(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE)
    return Utf16LEToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()) + 2, bytes.size() - 2);
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  return bytes;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(TrimRight(text.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

// Reads a quoted text starting at s[pos] == '"'; pos ends after the closing quote.
bool ReadQuoted(const std::string& s, size_t& pos, std::string& out) {
  out.clear();
  if (pos >= s.size() || s[pos] != '"') return false;
  for (size_t i = pos + 1; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (s[i] == '"') {
      pos = i + 1;
      return true;
    } else {
      out += s[i];
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Upper(c);
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexNumber(const std::string& s, uint32_t& v) {
  if (s.empty() || s.size() > 8) return false;
  v = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  return true;
}

bool ParseHexBytes(const std::string& s, std::vector<uint8_t>& out) {
  out.clear();
  std::string compact;
  for (char c : s)
    if (c != ' ' && c != '\t') compact += c;
  if (compact.empty()) return true;
  size_t pos = 0;
  while (pos <= compact.size()) {
    size_t comma = compact.find(',', pos);
    if (comma == std::string::npos) comma = compact.size();
    std::string item = compact.substr(pos, comma - pos);
    uint32_t v = 0;
    if (item.size() > 2 || !ParseHexNumber(item, v)) return false;
    out.push_back(static_cast<uint8_t>(v));
    pos = comma + 1;
  }
  return true;
}

bool ParseData(const std::string& text, bool unicode, TRegStoreValue& value) {
  if (!text.empty() && text[0] == '"') {
    size_t pos = 0;
    std::string s;
    if (!ReadQuoted(text, pos, s) || pos != text.size()) return false;
    value.Type = REG_SZ;
    value.Data.assign(s.begin(), s.end());
    value.Data.push_back(0);
    return true;
  }
  std::string lower;
  for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.rfind("dword:", 0) == 0) {
    uint32_t v = 0;
    if (!ParseHexNumber(text.substr(6), v)) return false;
    value.Type = REG_DWORD;
    value.Data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24)};
    return true;
  }
  size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  std::string kind = lower.substr(0, colon);
  DWORD type = REG_BINARY;
  if (kind != "hex") {
    if (kind.size() < 6 || kind.rfind("hex(", 0) != 0 || kind.back() != ')') return false;
    uint32_t t = 0;
    if (!ParseHexNumber(kind.substr(4, kind.size() - 5), t)) return false;
    type = t;
  }
  std::vector<uint8_t> bytes;
  if (!ParseHexBytes(text.substr(colon + 1), bytes)) return false;
  value.Type = type;
  if (unicode && IsStringType(type)) {
    value.Data = Utf16ToStoreText(bytes);
  } else {
    // Text in the hex forms is written back through UTF-16: bytes that are
    // no UTF-8 would come back changed, so they are refused here.
    if (IsStringType(type) && !IsValidUtf8(std::string(bytes.begin(), bytes.end()))) return false;
    value.Data = std::move(bytes);
  }
  return true;
}

// Splits "ROOT\a\b" into its root index and path; false for an unknown root or
// an empty name along the path.
bool ParseKeyPath(const std::string& path, int& root, std::vector<std::string>& parts) {
  parts.clear();
  size_t start = 0;
  std::vector<std::string> all;
  while (true) {
    size_t end = path.find('\\', start);
    all.push_back(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  root = RegStoreRootIndex(all[0]);
  if (root < 0) return false;
  for (size_t i = 1; i < all.size(); ++i) {
    if (all[i].empty()) return false;
    parts.push_back(all[i]);
  }
  return true;
}

}  // namespace

bool RegNamesEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

bool RegNameLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(Upper(x)) < static_cast<unsigned char>(Upper(y));
  });
}

TRegStoreKey* TRegStoreKey::FindSubKey(const std::string& name) {
  auto it = FindByName(SubKeys, name);
  return it == SubKeys.end() ? nullptr : &*it;
}

const TRegStoreKey* TRegStoreKey::FindSubKey(const std::string& name) const {
  auto it = FindByName(SubKeys, name);
  return it == SubKeys.end() ? nullptr : &*it;
}

TRegStoreKey& TRegStoreKey::AddSubKey(const std::string& name, bool* created) {
  auto it = std::lower_bound(SubKeys.begin(), SubKeys.end(), name,
                             [](const TRegStoreKey& k, const std::string& n) { return RegNameLess(k.Name, n); });
  if (created) *created = false;
  if (it != SubKeys.end() && RegNamesEqual(it->Name, name)) return *it;
  if (created) *created = true;
  TRegStoreKey key;
  key.Name = name;
  return *SubKeys.insert(it, std::move(key));
}

bool TRegStoreKey::RemoveSubKey(const std::string& name) {
  auto it = FindByName(SubKeys, name);
  if (it == SubKeys.end()) return false;
  SubKeys.erase(it);
  return true;
}

TRegStoreValue* TRegStoreKey::FindValue(const std::string& name) {
  auto it = FindByName(Values, name);
  return it == Values.end() ? nullptr : &*it;
}

const TRegStoreValue* TRegStoreKey::FindValue(const std::string& name) const {
  auto it = FindByName(Values, name);
  return it == Values.end() ? nullptr : &*it;
}

void TRegStoreKey::SetValue(const std::string& name, DWORD type, std::vector<uint8_t> data) {
  TRegStoreValue* v = FindValue(name);
  if (!v) {
    Values.push_back(TRegStoreValue{name, type, {}});
    v = &Values.back();
  }
  v->Type = type;
  v->Data = std::move(data);
}

bool TRegStoreKey::RemoveValue(const std::string& name) {
  auto it = FindByName(Values, name);
  if (it == Values.end()) return false;
  Values.erase(it);
  return true;
}

TRegStoreTree::TRegStoreTree() {
  for (int i = 0; i < kRegStoreRootCount; ++i) Roots[i].Name = kRootNames[i];
}

int RegStoreRootIndex(const std::string& name) {
  for (int i = 0; i < kRegStoreRootCount; ++i)
    if (RegNamesEqual(name, kRootNames[i]) || RegNamesEqual(name, kRootShortNames[i])) return i;
  return -1;
}

std::string FormatRegExport(const TRegStoreTree& tree) {
  std::string out = std::string(kHeader5) + "\r\n\r\n";
  for (const auto& root : tree.Roots) FormatKey(out, root, root.Name);
  return out;
}

bool ParseRegExport(const std::string& bytes, TRegStoreTree& tree, std::vector<std::string>* problems) {
  tree = TRegStoreTree();
  std::vector<std::string> lines = SplitLines(DecodeText(bytes));
  size_t first = 0;
  while (first < lines.size() && lines[first].empty()) ++first;
  if (first == lines.size()) return false;
  bool unicode = lines[first] == kHeader5;
  if (!unicode && lines[first] != kHeader4) return false;

  auto problem = [&](size_t line, const std::string& what) {
    if (problems) problems->push_back("line " + std::to_string(line + 1) + ": " + what);
  };
  TRegStoreKey* current = nullptr;
  for (size_t i = first + 1; i < lines.size(); ++i) {
    size_t lineNo = i;
    std::string line = TrimLeft(lines[i]);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      current = nullptr;
      if (line.back() != ']') {
        problem(lineNo, "unterminated key name");
        continue;
      }
      std::string path = line.substr(1, line.size() - 2);
      bool remove = !path.empty() && path[0] == '-';
      if (remove) path.erase(0, 1);
      int root = -1;
      std::vector<std::string> parts;
      if (!ParseKeyPath(path, root, parts)) {
        problem(lineNo, "bad key name");
        continue;
      }
      TRegStoreKey* key = &tree.Roots[root];
      if (remove) {
        for (size_t k = 0; key && k + 1 < parts.size(); ++k) key = key->FindSubKey(parts[k]);
        if (key && !parts.empty()) key->RemoveSubKey(parts.back());
        continue;
      }
      for (const auto& part : parts) key = &key->AddSubKey(part);
      current = key;
      continue;
    }
    if (line[0] != '"' && line[0] != '@') {
      problem(lineNo, "not a key or a value");
      continue;
    }
    // Long hex data goes on over lines that end in a backslash.
    while (!line.empty() && line.back() == '\\' && i + 1 < lines.size()) {
      line.pop_back();
      line += TrimLeft(lines[++i]);
    }
    if (!current) {
      problem(lineNo, "value outside a key");
      continue;
    }
    std::string name;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ReadQuoted(line, pos, name)) {
      problem(lineNo, "unterminated value name");
      continue;
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size() || line[pos] != '=') {
      problem(lineNo, "missing '='");
      continue;
    }
    std::string data = TrimLeft(line.substr(pos + 1));
    if (data == "-") {
      current->RemoveValue(name);
      continue;
    }
    TRegStoreValue value;
    if (!ParseData(data, unicode, value)) {
      problem(lineNo, "bad value data");
      continue;
    }
    current->SetValue(name, value.Type, std::move(value.Data));
  }
  return true;
}
