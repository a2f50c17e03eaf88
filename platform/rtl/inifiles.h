#pragma once
// TIniFile: settings in a Windows-style INI file ("[Section]" lines, "Key=Value"
// lines, ';' comments).
//
// Sections and keys are matched without regard to case; names and values are
// trimmed, and a value wrapped in matching quotes loses them, as Windows reads
// them. Every write goes straight to the file: the whole file is written beside
// the old one and renamed over it, so a failed write never loses the old settings.
// Comments, blank lines and the order of everything else are kept.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/object.h"

class TStrings;

class TIniFile : public TObject {
public:
  explicit TIniFile(const std::string& fileName);
  const std::string& FileName() const { return FFileName; }

  std::string ReadString(const std::string& section, const std::string& ident, const std::string& defaultValue) const;
  // Raise EIniFileException "Unable to write to <file>" when the file cannot be
  // written, or when a name or value holds a line break (or a section name ']', a key
  // '='), which the file could not keep apart.
  void WriteString(const std::string& section, const std::string& ident, const std::string& value);
  // Decimal, or hexadecimal after "$" or "0x"; the default for anything else.
  int32_t ReadInteger(const std::string& section, const std::string& ident, int32_t defaultValue) const;
  void WriteInteger(const std::string& section, const std::string& ident, int32_t value);
  // Any integer but 0 is true; written as "1" or "0".
  bool ReadBool(const std::string& section, const std::string& ident, bool defaultValue) const;
  void WriteBool(const std::string& section, const std::string& ident, bool value);
  double ReadFloat(const std::string& section, const std::string& ident, double defaultValue) const;
  void WriteFloat(const std::string& section, const std::string& ident, double value);

  // Fill strings (cleared first) with the keys of a section, the section names, or
  // the "key=value" lines of a section.
  void ReadSection(const std::string& section, TStrings* strings) const;
  void ReadSections(TStrings* strings) const;
  void ReadSectionValues(const std::string& section, TStrings* strings) const;
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& ident);
  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& ident) const;
  // Writes go through at once, so there is nothing left to flush.
  void UpdateFile() {}

private:
  std::vector<std::string> Load(bool forWrite = false) const;
  void ForEachKey(const std::string& section,
                  const std::function<void(const std::string& key, const std::string& value)>& visit) const;
  void Save(const std::vector<std::string>& lines) const;
  [[noreturn]] void WriteError() const;

  std::string FFileName;
};
