#include "platform/win/registry_object.h"

#include <cstring>
#include <functional>

namespace {

TRegDataType DataTypeOf(DWORD type) {
  switch (type) {
    case REG_SZ: return rdString;
    case REG_EXPAND_SZ: return rdExpandString;
    case REG_DWORD: return rdInteger;
    case REG_BINARY: return rdBinary;
    default: return rdUnknown;
  }
}

std::string WithoutTrailingBackslash(std::string s) {
  while (!s.empty() && s.back() == '\\') s.pop_back();
  return s;
}

}  // namespace

TRegistry::TRegistry() : TRegistry(KEY_ALL_ACCESS) {}

TRegistry::TRegistry(REGSAM access) : FRootKey(HKEY_CURRENT_USER), FAccess(access) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY key) {
  if (key == FRootKey) return;
  CloseKey();
  FRootKey = key;
}

void TRegistry::CloseKey() {
  if (!FCurrentKey) return;
  if (!FLazyWrite) RegFlushKey(FCurrentKey);
  RegCloseKey(FCurrentKey);
  FCurrentKey = nullptr;
  FCurrentPath.clear();
}

HKEY TRegistry::StartKeyFor(std::string& key) const {
  if (!key.empty() && key[0] == '\\') {
    key.erase(0, 1);
    return FRootKey;
  }
  return BaseKey();
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  std::string sub = key;
  bool relative = sub.empty() || sub[0] != '\\';
  HKEY start = StartKeyFor(sub);
  HKEY opened = nullptr;
  LONG r = canCreate ? RegCreateKeyEx(start, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, FAccess, nullptr,
                                      &opened, nullptr)
                     : RegOpenKeyEx(start, sub.c_str(), 0, FAccess, &opened);
  if (r != ERROR_SUCCESS) return false;
  std::string path = WithoutTrailingBackslash(sub);
  if (relative && FCurrentKey && !FCurrentPath.empty())
    path = path.empty() ? FCurrentPath : FCurrentPath + "\\" + path;
  CloseKey();
  FCurrentKey = opened;
  FCurrentPath = path;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  REGSAM saved = FAccess;
  FAccess = KEY_READ;
  bool ok = OpenKey(key, false);
  if (!ok) FAccess = saved;
  return ok;
}

bool TRegistry::CreateKey(const std::string& key) {
  std::string sub = key;
  HKEY start = StartKeyFor(sub);
  HKEY created = nullptr;
  LONG r = RegCreateKeyEx(start, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, FAccess, nullptr, &created,
                          nullptr);
  if (r != ERROR_SUCCESS) throw ERegistryException("Failed to create key " + key);
  RegCloseKey(created);
  return true;
}

bool TRegistry::DeleteKey(const std::string& key) {
  std::string sub = WithoutTrailingBackslash(key);
  HKEY start = StartKeyFor(sub);
  if (sub.empty()) return false;
  return RegDeleteTree(start, sub.c_str()) == ERROR_SUCCESS;
}

bool TRegistry::DeleteValue(const std::string& name) { return RegDeleteValue(BaseKey(), name.c_str()) == ERROR_SUCCESS; }

bool TRegistry::KeyExists(const std::string& key) {
  std::string sub = key;
  HKEY start = StartKeyFor(sub);
  HKEY opened = nullptr;
  if (RegOpenKeyEx(start, sub.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return false;
  if (opened != start) RegCloseKey(opened);
  return true;
}

bool TRegistry::ValueExists(const std::string& name) {
  TRegDataInfo info;
  return GetDataInfo(name, info);
}

bool TRegistry::GetKeyInfo(TRegKeyInfo& info) {
  info = TRegKeyInfo();
  DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
  if (RegQueryInfoKey(BaseKey(), nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values, &maxName, &maxData,
                      nullptr, &info.FileTime) != ERROR_SUCCESS)
    return false;
  info.NumSubKeys = static_cast<int>(subKeys);
  info.MaxSubKeyLen = static_cast<int>(maxSub);
  info.NumValues = static_cast<int>(values);
  info.MaxValueLen = static_cast<int>(maxName);
  info.MaxDataLen = static_cast<int>(maxData);
  return true;
}

bool TRegistry::HasSubKeys() {
  TRegKeyInfo info;
  return GetKeyInfo(info) && info.NumSubKeys > 0;
}

namespace {

// Names from an enumeration call until it reports no more (or fails).
std::vector<std::string> EnumNames(size_t bufferSize, const std::function<LONG(DWORD, char*, DWORD*)>& enumerate) {
  std::vector<std::string> names;
  std::vector<char> buffer(bufferSize);
  for (DWORD i = 0;; ++i) {
    DWORD size = static_cast<DWORD>(buffer.size());
    if (enumerate(i, buffer.data(), &size) != ERROR_SUCCESS) break;
    names.emplace_back(buffer.data(), size);
  }
  return names;
}

}  // namespace

void TRegistry::GetKeyNames(std::vector<std::string>& names) {
  names = EnumNames(256, [&](DWORD i, char* name, DWORD* size) {
    return RegEnumKeyEx(BaseKey(), i, name, size, nullptr, nullptr, nullptr, nullptr);
  });
}

void TRegistry::GetValueNames(std::vector<std::string>& names) {
  names = EnumNames(16384, [&](DWORD i, char* name, DWORD* size) {
    return RegEnumValue(BaseKey(), i, name, size, nullptr, nullptr, nullptr, nullptr);
  });
}

namespace {

void Fill(TStrings* strings, const std::vector<std::string>& names) {
  if (!strings) return;
  strings->Clear();
  for (const auto& name : names) strings->Add(name);
}

}  // namespace

void TRegistry::GetKeyNames(TStrings* strings) {
  std::vector<std::string> names;
  GetKeyNames(names);
  Fill(strings, names);
}

void TRegistry::GetValueNames(TStrings* strings) {
  std::vector<std::string> names;
  GetValueNames(names);
  Fill(strings, names);
}

bool TRegistry::GetDataInfo(const std::string& name, TRegDataInfo& info) {
  info = TRegDataInfo();
  DWORD type = REG_NONE, size = 0;
  if (RegQueryValueEx(BaseKey(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  info.RegData = DataTypeOf(type);
  info.DataSize = static_cast<int>(size);
  return true;
}

int TRegistry::GetDataSize(const std::string& name) {
  TRegDataInfo info;
  return GetDataInfo(name, info) ? info.DataSize : -1;
}

TRegDataType TRegistry::GetDataType(const std::string& name) {
  TRegDataInfo info;
  return GetDataInfo(name, info) ? info.RegData : rdUnknown;
}

void TRegistry::PutData(const std::string& name, const void* data, size_t size, DWORD type) {
  if (RegSetValueEx(BaseKey(), name.c_str(), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)) !=
      ERROR_SUCCESS)
    throw ERegistryException("Failed to set data for '" + name + "'");
}

void TRegistry::GetData(const std::string& name, void* buffer, size_t size, TRegDataType expected) {
  DWORD type = REG_NONE;
  DWORD got = static_cast<DWORD>(size);
  if (RegQueryValueEx(BaseKey(), name.c_str(), nullptr, &type, static_cast<BYTE*>(buffer), &got) != ERROR_SUCCESS)
    throw ERegistryException("Failed to get data for '" + name + "'");
  if (DataTypeOf(type) != expected || got != size) throw ERegistryException("Invalid data type for '" + name + "'");
}

std::string TRegistry::ReadString(const std::string& name) {
  TRegDataInfo info;
  if (!GetDataInfo(name, info)) return std::string();
  if (info.RegData != rdString && info.RegData != rdExpandString)
    throw ERegistryException("Invalid data type for '" + name + "'");
  std::vector<char> buffer(static_cast<size_t>(info.DataSize) + 1, 0);
  DWORD size = static_cast<DWORD>(info.DataSize);
  DWORD type = REG_NONE;
  if (RegQueryValueEx(BaseKey(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS)
    throw ERegistryException("Failed to get data for '" + name + "'");
  // The text ends at the first terminator, whether or not the writer stored one.
  return std::string(buffer.data(), strnlen(buffer.data(), size));
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  PutData(name, value.c_str(), value.size() + 1, REG_SZ);
}

void TRegistry::WriteExpandString(const std::string& name, const std::string& value) {
  PutData(name, value.c_str(), value.size() + 1, REG_EXPAND_SZ);
}

int TRegistry::ReadInteger(const std::string& name) {
  int32_t value = 0;
  GetData(name, &value, sizeof value, rdInteger);
  return value;
}

void TRegistry::WriteInteger(const std::string& name, int value) {
  int32_t v = value;
  PutData(name, &v, sizeof v, REG_DWORD);
}

bool TRegistry::ReadBool(const std::string& name) { return ReadInteger(name) != 0; }

void TRegistry::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

int TRegistry::ReadBinaryData(const std::string& name, void* buffer, int bufSize) {
  TRegDataInfo info;
  if (!GetDataInfo(name, info)) return 0;
  if (info.RegData != rdBinary && info.RegData != rdUnknown)
    throw ERegistryException("Invalid data type for '" + name + "'");
  if (bufSize < info.DataSize) throw ERegistryException("Failed to get data for '" + name + "'");
  DWORD size = static_cast<DWORD>(bufSize);
  if (RegQueryValueEx(BaseKey(), name.c_str(), nullptr, nullptr, static_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
    throw ERegistryException("Failed to get data for '" + name + "'");
  return static_cast<int>(size);
}

void TRegistry::WriteBinaryData(const std::string& name, const void* buffer, int bufSize) {
  if (bufSize < 0) throw ERegistryException("Failed to set data for '" + name + "'");
  PutData(name, buffer, static_cast<size_t>(bufSize), REG_BINARY);
}
