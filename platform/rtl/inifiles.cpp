#include "platform/rtl/inifiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/strings.h"
#include "platform/rtl/sysutils.h"

namespace {

bool IsSectionLine(const std::string& trimmed) { return !trimmed.empty() && trimmed[0] == '['; }

std::string SectionName(const std::string& trimmed) {
  size_t end = trimmed.find(']');
  return Trim(trimmed.substr(1, end == std::string::npos ? std::string::npos : end - 1));
}

bool IsComment(const std::string& trimmed) { return !trimmed.empty() && trimmed[0] == ';'; }

// Splits a key line; false for lines that hold no key.
bool SplitKey(const std::string& line, std::string& key, std::string& value) {
  std::string t = Trim(line);
  if (t.empty() || IsComment(t) || IsSectionLine(t)) return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(t.substr(0, eq));
  value = Trim(t.substr(eq + 1));
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    value = value.substr(1, value.size() - 2);
  return !key.empty();
}

// The lines of a section: from the line after its header to the next header.
struct TSectionRange {
  size_t Header = std::string::npos;
  size_t First = 0;
  size_t End = 0;
  bool Found() const { return Header != std::string::npos; }
};

TSectionRange FindSection(const std::vector<std::string>& lines, const std::string& section, size_t from = 0) {
  TSectionRange r;
  for (size_t i = from; i < lines.size(); ++i) {
    std::string t = Trim(lines[i]);
    if (!IsSectionLine(t)) continue;
    if (r.Found()) {
      r.End = i;
      return r;
    }
    if (SameText(SectionName(t), Trim(section))) {
      r.Header = i;
      r.First = i + 1;
    }
  }
  r.End = lines.size();
  return r;
}

size_t FindKey(const std::vector<std::string>& lines, const TSectionRange& r, const std::string& ident) {
  std::string key, value;
  for (size_t i = r.First; i < r.End; ++i)
    if (SplitKey(lines[i], key, value) && SameText(key, Trim(ident))) return i;
  return std::string::npos;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// Blanks at either end, or quotes around the whole, would be lost when read back;
// quotes keep the value as written.
std::string StoredValue(const std::string& value) {
  if (value.empty()) return value;
  bool blankEnds = static_cast<unsigned char>(value.front()) <= ' ' || static_cast<unsigned char>(value.back()) <= ' ';
  bool quoted = value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
  return blankEnds || quoted ? "\"" + value + "\"" : value;
}

}  // namespace

TIniFile::TIniFile(const std::string& fileName) : FFileName(fileName) {}

void TIniFile::WriteError() const { throw EIniFileException("Unable to write to " + FFileName); }

std::vector<std::string> TIniFile::Load(bool forWrite) const {
  std::vector<std::string> lines;
  std::ifstream in(NativePath(FFileName), std::ios::binary);
  if (!in) {
    // No file yet: every value has its default. A file that is there but cannot be
    // read must not be replaced by one holding only the new value.
    if (forWrite && std::filesystem::exists(NativePath(FFileName))) WriteError();
    return lines;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad() && forWrite) WriteError();
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i;
    while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
    lines.push_back(text.substr(start, i - start));
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
  }
  return lines;
}

void TIniFile::Save(const std::vector<std::string>& lines) const {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  try {
    SaveBytesToFile(FFileName, text.data(), static_cast<int64_t>(text.size()));
  } catch (const EStreamError&) {
    WriteError();
  }
}

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& defaultValue) const {
  std::vector<std::string> lines = Load();
  TSectionRange r = FindSection(lines, section);
  if (!r.Found()) return defaultValue;
  size_t k = FindKey(lines, r, ident);
  if (k == std::string::npos) return defaultValue;
  std::string key, value;
  SplitKey(lines[k], key, value);
  return value;
}

void TIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
  std::string sec = Trim(section), key = Trim(ident);
  if (sec.empty() || key.empty() || HasLineBreak(sec) || HasLineBreak(key) || HasLineBreak(value) ||
      sec.find(']') != std::string::npos || key.find('=') != std::string::npos || key[0] == '[' || key[0] == ';')
    WriteError();
  std::vector<std::string> lines = Load(true);
  std::string line = key + "=" + StoredValue(value);
  TSectionRange r = FindSection(lines, sec);
  if (!r.Found()) {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + sec + "]");
    lines.push_back(line);
  } else if (size_t k = FindKey(lines, r, key); k != std::string::npos) {
    lines[k] = line;
  } else {
    // After the last non-blank line of the section, so blank separators stay below it.
    size_t at = r.End;
    while (at > r.First && Trim(lines[at - 1]).empty()) --at;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), line);
  }
  Save(lines);
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& ident, int32_t defaultValue) const {
  return StrToIntDef(ReadString(section, ident, ""), defaultValue);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& ident, int32_t value) {
  WriteString(section, ident, IntToStr(value));
}

bool TIniFile::ReadBool(const std::string& section, const std::string& ident, bool defaultValue) const {
  return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

double TIniFile::ReadFloat(const std::string& section, const std::string& ident, double defaultValue) const {
  return StrToFloatDef(ReadString(section, ident, ""), defaultValue);
}

void TIniFile::WriteFloat(const std::string& section, const std::string& ident, double value) {
  WriteString(section, ident, FloatToStr(value));
}

void TIniFile::ForEachKey(const std::string& section,
                          const std::function<void(const std::string&, const std::string&)>& visit) const {
  std::vector<std::string> lines = Load();
  TSectionRange r = FindSection(lines, section);
  std::string key, value;
  if (r.Found())
    for (size_t i = r.First; i < r.End; ++i)
      if (SplitKey(lines[i], key, value)) visit(key, value);
}

void TIniFile::ReadSection(const std::string& section, TStrings* strings) const {
  if (!strings) return;
  TStringsUpdate update(*strings);
  strings->Clear();
  ForEachKey(section, [&](const std::string& key, const std::string&) { strings->Add(key); });
}

void TIniFile::ReadSections(TStrings* strings) const {
  if (!strings) return;
  TStringsUpdate update(*strings);
  strings->Clear();
  for (const auto& l : Load()) {
    std::string t = Trim(l);
    if (IsSectionLine(t)) strings->Add(SectionName(t));
  }
}

void TIniFile::ReadSectionValues(const std::string& section, TStrings* strings) const {
  if (!strings) return;
  TStringsUpdate update(*strings);
  strings->Clear();
  ForEachKey(section, [&](const std::string& key, const std::string& value) { strings->Add(key + "=" + value); });
}

void TIniFile::EraseSection(const std::string& section) {
  std::vector<std::string> lines = Load(true);
  bool changed = false;
  // Every copy of the section goes, so none can come back into view.
  for (TSectionRange r = FindSection(lines, section); r.Found(); r = FindSection(lines, section, r.Header)) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(r.Header), lines.begin() + static_cast<std::ptrdiff_t>(r.End));
    changed = true;
  }
  if (changed) Save(lines);
}

void TIniFile::DeleteKey(const std::string& section, const std::string& ident) {
  std::vector<std::string> lines = Load(true);
  TSectionRange r = FindSection(lines, section);
  if (!r.Found()) return;
  size_t k = FindKey(lines, r, ident);
  if (k == std::string::npos) return;
  // Repeated keys go too, so an older copy cannot take the deleted one's place.
  for (; k != std::string::npos; k = FindKey(lines, r, ident)) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(k));
    --r.End;
  }
  Save(lines);
}

bool TIniFile::SectionExists(const std::string& section) const { return FindSection(Load(), section).Found(); }

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) const {
  std::vector<std::string> lines = Load();
  TSectionRange r = FindSection(lines, section);
  return r.Found() && FindKey(lines, r, ident) != std::string::npos;
}
