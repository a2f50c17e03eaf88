#pragma once
// The framework's registry object: one open key at a time over the Reg* calls,
// with typed reads and writes that raise ERegistryException when they fail.
//
// Key paths starting with a backslash are taken from the root key; others from
// the open key when there is one. Operations on values act on the open key, or on
// the root key when none is open.
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/object.h"
#include "platform/rtl/strings.h"
#include "platform/win/registry.h"

enum TRegDataType : uint8_t { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

struct TRegDataInfo {
  TRegDataType RegData = rdUnknown;
  int DataSize = 0;
};

struct TRegKeyInfo {
  int NumSubKeys = 0;
  int MaxSubKeyLen = 0;
  int NumValues = 0;
  int MaxValueLen = 0;
  int MaxDataLen = 0;
  FILETIME FileTime;
};

class TRegistry : public TObject {
public:
  TRegistry();  // HKEY_CURRENT_USER, KEY_ALL_ACCESS
  explicit TRegistry(REGSAM access);
  ~TRegistry() override;

  HKEY RootKey() const { return FRootKey; }
  void SetRootKey(HKEY key);  // closes the open key
  HKEY CurrentKey() const { return FCurrentKey; }
  const std::string& CurrentPath() const { return FCurrentPath; }
  REGSAM Access() const { return FAccess; }
  void SetAccess(REGSAM access) { FAccess = access; }
  bool LazyWrite() const { return FLazyWrite; }
  void SetLazyWrite(bool lazy) { FLazyWrite = lazy; }

  // Opens the key with Access, creating it first when canCreate; the key becomes
  // the open key. False when it does not exist or cannot be opened.
  bool OpenKey(const std::string& key, bool canCreate);
  // Opens with KEY_READ, which also becomes Access.
  bool OpenKeyReadOnly(const std::string& key);
  void CloseKey();
  // Creates a key without opening it; raises "Failed to create key <key>".
  bool CreateKey(const std::string& key);
  // Deletes a key with everything below it.
  bool DeleteKey(const std::string& key);
  bool DeleteValue(const std::string& name);
  bool KeyExists(const std::string& key);
  bool ValueExists(const std::string& name);
  bool HasSubKeys();
  bool GetKeyInfo(TRegKeyInfo& info);
  // Clear the list and fill it, subkeys in their order, values in theirs.
  void GetKeyNames(TStrings* strings);
  void GetValueNames(TStrings* strings);
  void GetKeyNames(std::vector<std::string>& names);
  void GetValueNames(std::vector<std::string>& names);

  bool GetDataInfo(const std::string& name, TRegDataInfo& info);
  int GetDataSize(const std::string& name);  // -1 when the value is missing
  TRegDataType GetDataType(const std::string& name);

  // A missing value reads as empty text; a value that is no string raises
  // "Invalid data type for '<name>'".
  std::string ReadString(const std::string& name);
  void WriteString(const std::string& name, const std::string& value);
  void WriteExpandString(const std::string& name, const std::string& value);
  // A missing value raises "Failed to get data for '<name>'".
  int ReadInteger(const std::string& name);
  void WriteInteger(const std::string& name, int value);
  bool ReadBool(const std::string& name);
  void WriteBool(const std::string& name, bool value);
  // Returns the bytes read (0 for a missing value); raises when the buffer is too
  // small or the value is not binary.
  int ReadBinaryData(const std::string& name, void* buffer, int bufSize);
  void WriteBinaryData(const std::string& name, const void* buffer, int bufSize);

private:
  HKEY BaseKey() const { return FCurrentKey ? FCurrentKey : FRootKey; }
  // The key to start from and the path below it for a key argument.
  HKEY StartKeyFor(std::string& key) const;
  void PutData(const std::string& name, const void* data, size_t size, DWORD type);
  void GetData(const std::string& name, void* buffer, size_t size, TRegDataType expected);

  HKEY FRootKey;
  HKEY FCurrentKey = nullptr;
  std::string FCurrentPath;
  REGSAM FAccess;
  bool FLazyWrite = true;
};
