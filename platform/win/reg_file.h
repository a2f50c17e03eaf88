#pragma once
// The registry store's file format: the text that Windows' registry editor
// exports ("Windows Registry Editor Version 5.00"), so a store can be read by
// eye and moved to and from a real Windows. Pure data in, text out and back.
#include <string>
#include <vector>

#include "platform/win/registry.h"

struct TRegStoreValue {
  std::string Name;  // empty: the key's default value ("@" in the file)
  DWORD Type = REG_NONE;
  std::vector<uint8_t> Data;  // string types hold UTF-8 with their terminators
};

struct TRegStoreKey {
  std::string Name;
  std::vector<TRegStoreValue> Values;  // order of first setting
  std::vector<TRegStoreKey> SubKeys;   // sorted by name, ignoring case

  TRegStoreKey* FindSubKey(const std::string& name);
  const TRegStoreKey* FindSubKey(const std::string& name) const;
  // Finds the subkey or inserts it at its place in the order.
  TRegStoreKey& AddSubKey(const std::string& name, bool* created = nullptr);
  bool RemoveSubKey(const std::string& name);
  TRegStoreValue* FindValue(const std::string& name);
  const TRegStoreValue* FindValue(const std::string& name) const;
  // Replaces the data and type of a value, keeping its place and the case of its name.
  void SetValue(const std::string& name, DWORD type, std::vector<uint8_t> data);
  bool RemoveValue(const std::string& name);
};

// Names of keys and values compare like Windows compares them: ignoring case.
bool RegNamesEqual(const std::string& a, const std::string& b);
bool RegNameLess(const std::string& a, const std::string& b);

// The roots a store holds, in the order the file lists them.
constexpr int kRegStoreRootCount = 5;
struct TRegStoreTree {
  TRegStoreTree();
  TRegStoreKey Roots[kRegStoreRootCount];
};
// The index in TRegStoreTree::Roots of a root's full or short name ("HKEY_CURRENT_USER",
// "HKCU"), ignoring case; -1 when the name is no stored root.
int RegStoreRootIndex(const std::string& name);

std::string FormatRegExport(const TRegStoreTree& tree);

// Reads an export into tree (which is emptied first). Accepts UTF-8 with or without
// a byte-order mark, UTF-16LE with its mark, CRLF or LF lines, and the older
// "REGEDIT4" header. Lines that do not parse are skipped and described in problems.
// Returns false, leaving tree empty, when the text has no export header at all.
bool ParseRegExport(const std::string& bytes, TRegStoreTree& tree, std::vector<std::string>* problems = nullptr);
