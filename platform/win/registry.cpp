#include "platform/win/registry.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/rtl/paths.h"
#include "platform/win/reg_file.h"
#include "platform/win/safe_file.h"
#include "platform/win/system_folders.h"

namespace {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
// Performance data and dynamic data are roots that hold nothing here.
constexpr int kEmptyRoot = -2;

struct TKeyHandle {
  int Root = 0;
  std::vector<std::string> Path;
  REGSAM Access = 0;
};

struct TStore {
  std::string ModelRoot;  // the root this content was read for
  bool Loaded = false;
  bool Unreadable = false;
  TRegStoreTree Tree;
};

std::mutex gLock;
TStore gStore;
std::map<uintptr_t, TKeyHandle> gHandles;
uintptr_t gNextHandle = 0x1000;
bool gReadOnlyRoots[kRegStoreRootCount] = {};

// What a fresh Windows has and the program reads: the shell's folders.
void SeedDefaults(TRegStoreTree& tree) {
  TRegStoreKey* key = &tree.Roots[RegStoreRootIndex("HKEY_CURRENT_USER")];
  for (const char* part : {"Software", "Microsoft", "Windows", "CurrentVersion", "Explorer", "Shell Folders"})
    key = &key->AddSubKey(part);
  std::string appData = GetAppDataFolder();
  std::vector<uint8_t> data(appData.begin(), appData.end());
  data.push_back(0);
  key->SetValue("AppData", REG_SZ, std::move(data));
}

std::string StoreFileFor(const std::string& modelRoot) {
  return modelRoot + "/Windows/System32/config/registry.reg";
}

void EnsureLoaded() {
  std::string modelRoot = WindowsModelRoot();
  if (gStore.Loaded && gStore.ModelRoot == modelRoot) return;
  gStore = TStore();
  gStore.ModelRoot = modelRoot;
  gStore.Loaded = true;
  std::string file = StoreFileFor(modelRoot);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    SeedDefaults(gStore.Tree);
    return;
  }
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  // A store we cannot read is refused as a whole; it is left untouched on disk
  // rather than overwritten by the next change.
  if (!in.good() && !in.eof()) {
    gStore.Unreadable = true;
    return;
  }
  if (!ParseRegExport(text.str(), gStore.Tree)) gStore.Unreadable = true;
}

int RootIndexOf(HKEY key) {
  auto v = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
  auto high = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key)) >> 32;
  if (high != 0 && high != 0xFFFFFFFFu) return -1;
  switch (v) {
    case 0x80000000u: return 0;
    case 0x80000001u: return 1;
    case 0x80000002u: return 2;
    case 0x80000003u: return 3;
    case 0x80000005u: return 4;
    case 0x80000004u:
    case 0x80000006u: return kEmptyRoot;
    default: return -1;
  }
}

bool ResolveHandle(HKEY key, TKeyHandle& out) {
  int root = RootIndexOf(key);
  if (root != -1) {
    out = TKeyHandle{root, {}, KEY_ALL_ACCESS};
    return true;
  }
  auto it = gHandles.find(reinterpret_cast<uintptr_t>(key));
  if (it == gHandles.end()) return false;
  out = it->second;
  return true;
}

LONG SplitSubKey(const char* subKey, std::vector<std::string>& parts) {
  parts.clear();
  if (!subKey || !*subKey) return ERROR_SUCCESS;
  std::string s(subKey);
  if (s[0] == '\\') return ERROR_BAD_PATHNAME;
  if (s.back() == '\\') s.pop_back();
  size_t start = 0;
  while (true) {
    size_t end = s.find('\\', start);
    std::string part = s.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty()) return ERROR_BAD_PATHNAME;
    if (part.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

const TRegStoreKey& EmptyKey() {
  static const TRegStoreKey empty;
  return empty;
}

TRegStoreKey* Walk(TRegStoreTree& tree, int root, const std::vector<std::string>& path) {
  if (root < 0) return nullptr;
  TRegStoreKey* key = &tree.Roots[root];
  for (const auto& part : path) {
    key = key->FindSubKey(part);
    if (!key) return nullptr;
  }
  return key;
}

REGSAM MapAccess(REGSAM desired) {
  REGSAM access = desired & 0x000F003Fu;
  if (desired & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= KEY_ALL_ACCESS;
  if (desired & GENERIC_READ) access |= KEY_READ;
  if (desired & GENERIC_WRITE) access |= KEY_WRITE;
  if (desired & GENERIC_EXECUTE) access |= KEY_EXECUTE;
  return access;
}

// The key a handle names, for reading. Sets *error when there is none.
const TRegStoreKey* KeyForRead(HKEY key, REGSAM need, LONG* error) {
  TKeyHandle h;
  if (!ResolveHandle(key, h)) {
    *error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if ((h.Access & need) != need) {
    *error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  EnsureLoaded();
  if (gStore.Unreadable) {
    *error = ERROR_REGISTRY_CORRUPT;
    return nullptr;
  }
  if (h.Root == kEmptyRoot) return &EmptyKey();
  const TRegStoreKey* k = Walk(gStore.Tree, h.Root, h.Path);
  if (!k) *error = ERROR_KEY_DELETED;
  return k;
}

// Applies a change to a copy of the tree and writes the copy through; only a
// change that reached the disk becomes the store's content.
template <class Fn> LONG Change(Fn&& fn) {
  TRegStoreTree copy = gStore.Tree;
  bool changed = false;
  LONG result = fn(copy, changed);
  if (result != ERROR_SUCCESS || !changed) return result;
  if (!WriteFileAtomically(StoreFileFor(gStore.ModelRoot), FormatRegExport(copy))) return ERROR_REGISTRY_IO_FAILED;
  gStore.Tree = std::move(copy);
  return ERROR_SUCCESS;
}

// Resolves a handle for a change: checks access and the store, and gives root and path.
LONG PrepareChange(HKEY key, REGSAM need, TKeyHandle& h) {
  if (!ResolveHandle(key, h)) return ERROR_INVALID_HANDLE;
  if ((h.Access & need) != need) return ERROR_ACCESS_DENIED;
  EnsureLoaded();
  if (gStore.Unreadable) return ERROR_REGISTRY_CORRUPT;
  if (h.Root == kEmptyRoot || gReadOnlyRoots[h.Root]) return ERROR_ACCESS_DENIED;
  if (!Walk(gStore.Tree, h.Root, h.Path)) return ERROR_KEY_DELETED;
  return ERROR_SUCCESS;
}

HKEY NewHandle(int root, std::vector<std::string> path, REGSAM access) {
  uintptr_t id = gNextHandle;
  gNextHandle += 4;
  gHandles[id] = TKeyHandle{root, std::move(path), access};
  return reinterpret_cast<HKEY>(id);
}

// The path of an existing key spelled as the store spells it.
std::vector<std::string> StoredPath(int root, const std::vector<std::string>& path) {
  std::vector<std::string> out;
  TRegStoreKey* key = &gStore.Tree.Roots[root];
  for (const auto& part : path) {
    key = key->FindSubKey(part);
    out.push_back(key ? key->Name : part);
    if (!key) break;
  }
  return out;
}

LONG OpenOrCreate(HKEY key, const char* subKey, REGSAM desired, bool create, HKEY* result, DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::lock_guard<std::mutex> lock(gLock);
  TKeyHandle base;
  if (!ResolveHandle(key, base)) return ERROR_INVALID_HANDLE;
  std::vector<std::string> parts;
  if (LONG r = SplitSubKey(subKey, parts); r != ERROR_SUCCESS) return r;
  EnsureLoaded();
  if (gStore.Unreadable) return ERROR_REGISTRY_CORRUPT;
  if (base.Root == kEmptyRoot) {
    if (!parts.empty()) return create ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    *result = key;
    if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  }
  if (!Walk(gStore.Tree, base.Root, base.Path)) return ERROR_KEY_DELETED;
  std::vector<std::string> full = base.Path;
  full.insert(full.end(), parts.begin(), parts.end());
  bool exists = Walk(gStore.Tree, base.Root, full) != nullptr;
  if (!exists) {
    if (!create) return ERROR_FILE_NOT_FOUND;
    if (!(base.Access & KEY_CREATE_SUB_KEY) || gReadOnlyRoots[base.Root]) return ERROR_ACCESS_DENIED;
    LONG r = Change([&](TRegStoreTree& tree, bool& changed) {
      TRegStoreKey* k = &tree.Roots[base.Root];
      for (const auto& part : full) k = &k->AddSubKey(part);
      changed = true;
      return ERROR_SUCCESS;
    });
    if (r != ERROR_SUCCESS) return r;
  }
  if (disposition) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  if (full.empty() && RootIndexOf(key) != -1) {
    *result = key;  // a root opens as itself
  } else {
    *result = NewHandle(base.Root, StoredPath(base.Root, full), MapAccess(desired));
  }
  return ERROR_SUCCESS;
}

LONG CopyData(const std::vector<uint8_t>& src, BYTE* data, DWORD* dataSize) {
  if (!dataSize) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  LONG r = ERROR_SUCCESS;
  if (data) {
    if (*dataSize < src.size())
      r = ERROR_MORE_DATA;
    else if (!src.empty())
      std::memcpy(data, src.data(), src.size());
  }
  *dataSize = static_cast<DWORD>(src.size());
  return r;
}

LONG CopyName(const std::string& src, char* name, DWORD* nameSize) {
  if (!name || !nameSize) return ERROR_INVALID_PARAMETER;
  if (src.size() + 1 > *nameSize) return ERROR_MORE_DATA;
  std::memcpy(name, src.c_str(), src.size() + 1);
  *nameSize = static_cast<DWORD>(src.size());
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM desired, HKEY* result) {
  return OpenOrCreate(key, subKey, desired, false, result, nullptr);
}

LONG RegOpenKey(HKEY key, const char* subKey, HKEY* result) {
  return OpenOrCreate(key, subKey, MAXIMUM_ALLOWED, false, result, nullptr);
}

LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options, REGSAM desired,
                    void* security, HKEY* result, DWORD* disposition) {
  return OpenOrCreate(key, subKey, desired, true, result, disposition);
}

LONG RegCreateKey(HKEY key, const char* subKey, HKEY* result) {
  return OpenOrCreate(key, subKey, MAXIMUM_ALLOWED, true, result, nullptr);
}

LONG RegCloseKey(HKEY key) {
  std::lock_guard<std::mutex> lock(gLock);
  if (RootIndexOf(key) != -1) return ERROR_SUCCESS;
  return gHandles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegFlushKey(HKEY key) {
  std::lock_guard<std::mutex> lock(gLock);
  TKeyHandle h;
  return ResolveHandle(key, h) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;  // every change is already on disk
}

LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize) {
  std::lock_guard<std::mutex> lock(gLock);
  LONG error = ERROR_SUCCESS;
  const TRegStoreKey* k = KeyForRead(key, KEY_QUERY_VALUE, &error);
  if (!k) return error;
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  const TRegStoreValue* v = k->FindValue(valueName ? valueName : "");
  if (!v) return ERROR_FILE_NOT_FOUND;
  if (type) *type = v->Type;
  return CopyData(v->Data, data, dataSize);
}

LONG RegSetValueEx(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize) {
  std::lock_guard<std::mutex> lock(gLock);
  if (!data && dataSize > 0) return ERROR_INVALID_PARAMETER;
  std::string name = valueName ? valueName : "";
  if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  TKeyHandle h;
  if (LONG r = PrepareChange(key, KEY_SET_VALUE, h); r != ERROR_SUCCESS) return r;
  return Change([&](TRegStoreTree& tree, bool& changed) {
    Walk(tree, h.Root, h.Path)->SetValue(name, type, std::vector<uint8_t>(data, data + dataSize));
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValue(HKEY key, const char* valueName) {
  std::lock_guard<std::mutex> lock(gLock);
  TKeyHandle h;
  if (LONG r = PrepareChange(key, KEY_SET_VALUE, h); r != ERROR_SUCCESS) return r;
  return Change([&](TRegStoreTree& tree, bool& changed) {
    changed = Walk(tree, h.Root, h.Path)->RemoveValue(valueName ? valueName : "");
    return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

namespace {

LONG DeleteKeyImpl(HKEY key, const char* subKey, bool tree) {
  std::lock_guard<std::mutex> lock(gLock);
  if (!subKey && !tree) return ERROR_INVALID_PARAMETER;
  TKeyHandle h;
  if (LONG r = PrepareChange(key, 0, h); r != ERROR_SUCCESS) return r;
  std::vector<std::string> parts;
  if (LONG r = SplitSubKey(subKey, parts); r != ERROR_SUCCESS) return r;
  std::vector<std::string> full = h.Path;
  full.insert(full.end(), parts.begin(), parts.end());
  return Change([&](TRegStoreTree& t, bool& changed) -> LONG {
    TRegStoreKey* target = Walk(t, h.Root, full);
    if (!target) return ERROR_FILE_NOT_FOUND;
    if (tree && !subKey) {  // empty the key, keep it
      changed = !target->SubKeys.empty() || !target->Values.empty();
      target->SubKeys.clear();
      target->Values.clear();
      return ERROR_SUCCESS;
    }
    if (full.empty()) return ERROR_ACCESS_DENIED;  // a root cannot go
    if (!tree && !target->SubKeys.empty()) return ERROR_ACCESS_DENIED;
    std::vector<std::string> parentPath(full.begin(), full.end() - 1);
    changed = Walk(t, h.Root, parentPath)->RemoveSubKey(full.back());
    return ERROR_SUCCESS;
  });
}

}  // namespace

LONG RegDeleteKey(HKEY key, const char* subKey) { return DeleteKeyImpl(key, subKey, false); }

LONG RegDeleteTree(HKEY key, const char* subKey) { return DeleteKeyImpl(key, subKey, true); }

LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, char* keyClass,
                  DWORD* classSize, FILETIME* lastWriteTime) {
  std::lock_guard<std::mutex> lock(gLock);
  LONG error = ERROR_SUCCESS;
  const TRegStoreKey* k = KeyForRead(key, KEY_ENUMERATE_SUB_KEYS, &error);
  if (!k) return error;
  if (index >= k->SubKeys.size()) return ERROR_NO_MORE_ITEMS;
  if (LONG r = CopyName(k->SubKeys[index].Name, name, nameSize); r != ERROR_SUCCESS) return r;
  if (keyClass && classSize && *classSize > 0) keyClass[0] = 0;
  if (classSize) *classSize = 0;
  if (lastWriteTime) *lastWriteTime = FILETIME{};
  return ERROR_SUCCESS;
}

LONG RegEnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, DWORD* type, BYTE* data,
                  DWORD* dataSize) {
  std::lock_guard<std::mutex> lock(gLock);
  LONG error = ERROR_SUCCESS;
  const TRegStoreKey* k = KeyForRead(key, KEY_QUERY_VALUE, &error);
  if (!k) return error;
  if (index >= k->Values.size()) return ERROR_NO_MORE_ITEMS;
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  const TRegStoreValue& v = k->Values[index];
  if (LONG r = CopyName(v.Name, name, nameSize); r != ERROR_SUCCESS) return r;
  if (type) *type = v.Type;
  return CopyData(v.Data, data, dataSize);
}

LONG RegQueryInfoKey(HKEY key, char* keyClass, DWORD* classSize, DWORD* reserved, DWORD* subKeys,
                     DWORD* maxSubKeyLen, DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen,
                     DWORD* maxValueLen, DWORD* securityDescriptor, FILETIME* lastWriteTime) {
  std::lock_guard<std::mutex> lock(gLock);
  LONG error = ERROR_SUCCESS;
  const TRegStoreKey* k = KeyForRead(key, KEY_QUERY_VALUE, &error);
  if (!k) return error;
  size_t maxSub = 0, maxName = 0, maxData = 0;
  for (const auto& s : k->SubKeys) maxSub = std::max(maxSub, s.Name.size());
  for (const auto& v : k->Values) {
    maxName = std::max(maxName, v.Name.size());
    maxData = std::max(maxData, v.Data.size());
  }
  if (keyClass && classSize && *classSize > 0) keyClass[0] = 0;
  if (classSize) *classSize = 0;
  if (subKeys) *subKeys = static_cast<DWORD>(k->SubKeys.size());
  if (maxSubKeyLen) *maxSubKeyLen = static_cast<DWORD>(maxSub);
  if (maxClassLen) *maxClassLen = 0;
  if (values) *values = static_cast<DWORD>(k->Values.size());
  if (maxValueNameLen) *maxValueNameLen = static_cast<DWORD>(maxName);
  if (maxValueLen) *maxValueLen = static_cast<DWORD>(maxData);
  if (securityDescriptor) *securityDescriptor = 0;
  if (lastWriteTime) *lastWriteTime = FILETIME{};
  return ERROR_SUCCESS;
}

void SetRegistryRootWritable(HKEY root, bool writable) {
  std::lock_guard<std::mutex> lock(gLock);
  int index = RootIndexOf(root);
  if (index >= 0) gReadOnlyRoots[index] = !writable;
}

std::string RegistryStoreFileName() { return StoreFileFor(WindowsModelRoot()); }

void ReloadRegistryStore() {
  std::lock_guard<std::mutex> lock(gLock);
  gStore = TStore();
}
