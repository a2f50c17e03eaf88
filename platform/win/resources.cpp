#include "platform/win/resources.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "platform/rtl/paths.h"
#include "platform/win/system_info.h"
#include "platform/win/utf16_text.h"

const HINSTANCE HInstance = reinterpret_cast<HINSTANCE>(uintptr_t{0x00400000});

namespace {

// The pseudo module of the system library whose entry points callers look up.
const HMODULE kKernel32 = reinterpret_cast<HMODULE>(uintptr_t{0x7C800000});

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

struct TModules {
  std::mutex Lock;
  TResourceTable Program;
  std::map<uintptr_t, std::unique_ptr<TModuleResources>> Loaded;
  // The entries handed out as HRSRC per module, so that a stray pointer is refused.
  std::map<uintptr_t, std::set<const TResourceEntry*>> Issued;
  uintptr_t NextHandle = 0x10000000;
  TDataFileLoader Loader;
};

// Built on first use: the registrars of linked-in resources run before main, in
// an order the linker chooses.
TModules& Modules() {
  static TModules modules;
  return modules;
}

bool IsProgram(HMODULE module) { return module == nullptr || module == HInstance; }

// The resources of a module handle; call with the lock held.
const TModuleResources* ModuleFor(TModules& m, HMODULE module) {
  if (IsProgram(module)) return &m.Program;
  auto it = m.Loaded.find(reinterpret_cast<uintptr_t>(module));
  return it == m.Loaded.end() ? nullptr : it->second.get();
}

uintptr_t Key(HMODULE module) { return IsProgram(module) ? 0 : reinterpret_cast<uintptr_t>(module); }

const TResourceEntry* IssuedEntry(TModules& m, HMODULE module, HRSRC resource) {
  auto* entry = reinterpret_cast<const TResourceEntry*>(resource);
  auto it = m.Issued.find(Key(module));
  if (!entry || it == m.Issued.end() || !it->second.count(entry)) return nullptr;
  return entry;
}

}  // namespace

TResourceId TResourceId::From(const char* idOrName) {
  if (IS_INTRESOURCE(idOrName)) return FromInteger(static_cast<WORD>(reinterpret_cast<uintptr_t>(idOrName)));
  std::string text(idOrName);
  // "#123" names the number 123, as the resource compiler writes it.
  if (text.size() > 1 && text[0] == '#' && text.size() <= 6 &&
      std::all_of(text.begin() + 1, text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
    unsigned long v = std::stoul(text.substr(1));
    if (v <= 0xFFFF) return FromInteger(static_cast<WORD>(v));
  }
  TResourceId id;
  id.Name = std::move(text);
  return id;
}

TResourceId TResourceId::FromInteger(WORD value) {
  TResourceId id;
  id.IsInteger = true;
  id.Id = value;
  return id;
}

bool TResourceId::operator==(const TResourceId& other) const {
  if (IsInteger != other.IsInteger) return false;
  if (IsInteger) return Id == other.Id;
  // Compared in place: enumeration compares every name with every other.
  return Name.size() == other.Name.size() &&
         std::equal(Name.begin(), Name.end(), other.Name.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
         });
}

const TResourceEntry* TModuleResources::Find(const TResourceId& type, const TResourceId& name, WORD language) const {
  for (const TResourceEntry* e : Entries())
    if (e->Type == type && e->Name == name && (language == 0 || e->Language == language)) return e;
  return nullptr;
}

void TResourceTable::Add(const TResourceId& type, const TResourceId& name, WORD language,
                         std::vector<uint8_t> bytes) {
  auto item = std::make_unique<TItem>();
  item->Bytes = std::move(bytes);
  item->Entry = TResourceEntry{type, name, language, item->Bytes.data(), static_cast<DWORD>(item->Bytes.size())};
  FItems.push_back(std::move(item));
}

void TResourceTable::AddStatic(const TResourceId& type, const TResourceId& name, const uint8_t* data, DWORD size) {
  auto item = std::make_unique<TItem>();
  item->Entry = TResourceEntry{type, name, 0, data, size};
  FItems.push_back(std::move(item));
}

std::vector<const TResourceEntry*> TResourceTable::Entries() const {
  std::vector<const TResourceEntry*> out;
  for (const auto& item : FItems) out.push_back(&item->Entry);
  return out;
}

void RegisterProgramResource(const char* type, const char* name, const uint8_t* data, size_t size) {
  TModules& m = Modules();
  std::lock_guard<std::mutex> lock(m.Lock);
  TResourceId t = TResourceId::From(type);
  TResourceId n = TResourceId::From(name);
  if (m.Program.Find(t, n, 0)) return;
  m.Program.AddStatic(t, n, data, static_cast<DWORD>(size));
}

HMODULE RegisterResourceModule(std::unique_ptr<TModuleResources> module) {
  if (!module) return nullptr;
  TModules& m = Modules();
  std::lock_guard<std::mutex> lock(m.Lock);
  uintptr_t handle = m.NextHandle;
  m.NextHandle += 0x10000;
  m.Loaded[handle] = std::move(module);
  return reinterpret_cast<HMODULE>(handle);
}

void SetDataFileLoader(TDataFileLoader loader) {
  TModules& m = Modules();
  std::lock_guard<std::mutex> lock(m.Lock);
  m.Loader = std::move(loader);
}

namespace {

// "GdiPlus.dll", "gdiplus" and "C:\\Windows\\System32\\gdiplus.dll" all name one library.
std::string LibraryKey(const char* name) {
  std::string base = Upper(std::filesystem::path(NativePath(name)).filename().string());
  if (base.size() > 4 && base.compare(base.size() - 4, 4, ".DLL") == 0) base.resize(base.size() - 4);
  return base;
}

bool IsKernel32(const char* name) { return name && LibraryKey(name) == "KERNEL32"; }

struct TBuiltinLibrary {
  TBuiltinProcLookup Lookup = nullptr;
  HMODULE Handle = nullptr;
  int References = 0;
  bool Missing = false;
};

// Built-in libraries by key; their handles sit below the kernel's pseudo module.
struct TBuiltinLibraries {
  std::mutex Lock;
  std::map<std::string, TBuiltinLibrary> ByName;
  uintptr_t NextHandle = 0x7C000000;
};

TBuiltinLibraries& Builtins() {
  static TBuiltinLibraries libraries;
  return libraries;
}

TBuiltinLibrary* BuiltinByHandle(TBuiltinLibraries& b, HMODULE module) {
  for (auto& [name, lib] : b.ByName)
    if (lib.Handle == module) return &lib;
  return nullptr;
}

// Handles the names of built-in libraries; false when the name is none of them.
bool LoadBuiltin(const char* fileName, HMODULE& result) {
  TBuiltinLibraries& b = Builtins();
  std::lock_guard<std::mutex> lock(b.Lock);
  auto it = b.ByName.find(LibraryKey(fileName));
  if (it == b.ByName.end() || !it->second.Lookup) return false;
  if (it->second.Missing) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    result = nullptr;
    return true;
  }
  ++it->second.References;
  result = it->second.Handle;
  return true;
}

}  // namespace

void RegisterBuiltinLibrary(const char* fileName, TBuiltinProcLookup lookup) {
  if (!fileName || !*fileName) return;
  TBuiltinLibraries& b = Builtins();
  std::lock_guard<std::mutex> lock(b.Lock);
  TBuiltinLibrary& lib = b.ByName[LibraryKey(fileName)];
  lib.Lookup = lookup;
  if (!lib.Handle) {
    lib.Handle = reinterpret_cast<HMODULE>(b.NextHandle);
    b.NextHandle += 0x10000;
  }
}

void SetBuiltinLibraryMissing(const char* fileName, bool missing) {
  if (!fileName || !*fileName) return;
  TBuiltinLibraries& b = Builtins();
  std::lock_guard<std::mutex> lock(b.Lock);
  b.ByName[LibraryKey(fileName)].Missing = missing;
}

HMODULE LoadLibrary(const char* fileName) { return LoadLibraryEx(fileName, nullptr, 0); }

HMODULE LoadLibraryEx(const char* fileName, HANDLE file, DWORD flags) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (IsKernel32(fileName)) return kKernel32;
  if (HMODULE builtin; !(flags & LOAD_LIBRARY_AS_DATAFILE) && LoadBuiltin(fileName, builtin)) return builtin;
  if (!(flags & LOAD_LIBRARY_AS_DATAFILE)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::string path = NativePath(fileName);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  TDataFileLoader loader;
  {
    TModules& m = Modules();
    std::lock_guard<std::mutex> lock(m.Lock);
    loader = m.Loader;
  }
  std::unique_ptr<TModuleResources> module;
  try {
    if (loader) module = loader(path);
  } catch (...) {
    module.reset();  // a reader that gives up on a file means the same as no module
  }
  if (!module) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  return RegisterResourceModule(std::move(module));
}

HMODULE GetModuleHandle(const char* moduleName) {
  if (!moduleName) return HInstance;
  if (IsKernel32(moduleName)) return kKernel32;
  {
    TBuiltinLibraries& b = Builtins();
    std::lock_guard<std::mutex> lock(b.Lock);
    auto it = b.ByName.find(LibraryKey(moduleName));
    if (it != b.ByName.end() && it->second.References > 0) return it->second.Handle;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  if (module == kKernel32 && procName && !IS_INTRESOURCE(procName)) {
    std::string name(procName);
    if (name == "GetLogicalProcessorInformation")
      return reinterpret_cast<FARPROC>(&GetLogicalProcessorInformation);
    if (name == "GlobalMemoryStatusEx") return reinterpret_cast<FARPROC>(&GlobalMemoryStatusEx);
    if (name == "GlobalMemoryStatus") return reinterpret_cast<FARPROC>(&GlobalMemoryStatus);
  }
  TBuiltinProcLookup lookup = nullptr;
  {
    TBuiltinLibraries& b = Builtins();
    std::lock_guard<std::mutex> lock(b.Lock);
    TBuiltinLibrary* lib = BuiltinByHandle(b, module);
    if (lib && lib->References > 0) lookup = lib->Lookup;
  }
  if (lookup && procName && !IS_INTRESOURCE(procName))
    if (FARPROC proc = lookup(procName)) return proc;
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
  if (module == kKernel32 || IsProgram(module)) return TRUE;
  {
    TBuiltinLibraries& b = Builtins();
    std::lock_guard<std::mutex> lock(b.Lock);
    if (TBuiltinLibrary* lib = BuiltinByHandle(b, module)) {
      if (lib->References <= 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
      }
      --lib->References;
      return TRUE;
    }
  }
  TModules& m = Modules();
  std::lock_guard<std::mutex> lock(m.Lock);
  auto key = reinterpret_cast<uintptr_t>(module);
  if (!m.Loaded.erase(key)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  m.Issued.erase(key);
  return TRUE;
}

HRSRC FindResourceEx(HMODULE module, const char* type, const char* name, WORD language) {
  if (!type || !name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  TModules& m = Modules();
  std::lock_guard<std::mutex> lock(m.Lock);
  const TModuleResources* res = ModuleFor(m, module);
  if (!res) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  TResourceId t = TResourceId::From(type);
  TResourceId n = TResourceId::From(name);
  const TResourceEntry* entry = res->Find(t, n, language);
  if (!entry) {
    auto entries = res->Entries();
    bool typeKnown = std::any_of(entries.begin(), entries.end(), [&](const TResourceEntry* e) { return e->Type == t; });
    SetLastError(typeKnown ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  m.Issued[Key(module)].insert(entry);
  return reinterpret_cast<HRSRC>(const_cast<TResourceEntry*>(entry));
}

HRSRC FindResource(HMODULE module, const char* name, const char* type) { return FindResourceEx(module, type, name, 0); }

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  TModules& m = Modules();
  std::lock_guard<std::mutex> lock(m.Lock);
  const TResourceEntry* entry = IssuedEntry(m, module, resource);
  if (!entry) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return entry->Size;
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  TModules& m = Modules();
  std::lock_guard<std::mutex> lock(m.Lock);
  const TResourceEntry* entry = IssuedEntry(m, module, resource);
  if (!entry) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // As in 32-bit Windows, the handle of a loaded resource is its address.
  static const uint8_t kEmpty = 0;
  return const_cast<uint8_t*>(entry->Data ? entry->Data : &kEmpty);
}

LPVOID LockResource(HGLOBAL resData) { return resData; }

BOOL FreeResource(HGLOBAL) { return FALSE; }

std::string LoadStr(HINSTANCE module, UINT id) {
  const UINT block = id / 16 + 1;
  if (block > 0xFFFF) return {};
  HRSRC found = FindResource(module, MAKEINTRESOURCE(block), RT_STRING);
  if (!found) return {};
  const DWORD size = SizeofResource(module, found);
  const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  if (!data) return {};
  // Walk the counted strings before ours, each bounded by the block's size.
  size_t at = 0;
  for (UINT i = 0; i <= id % 16; ++i) {
    if (at + 2 > size) return {};
    const size_t units = size_t(data[at]) | (size_t(data[at + 1]) << 8);
    at += 2;
    if (units * 2 > size - at) return {};
    if (i == id % 16) return Utf16LEToUtf8(data + at, units * 2);
    at += units * 2;
  }
  return {};
}

int LoadString(HINSTANCE module, UINT id, char* buffer, int bufferMax) {
  if (!buffer || bufferMax <= 0) return 0;
  const std::string text = LoadStr(module, id);
  size_t n = std::min(text.size(), size_t(bufferMax - 1));
  // Never end inside a multi-byte character.
  while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

namespace {

// The distinct types (no type given) or the distinct names of one type that a
// module holds, in the module's order. False, with the error set, for an unknown module.
bool CollectIds(HMODULE module, const TResourceId* type, std::vector<TResourceId>& ids) {
  TModules& m = Modules();
  std::lock_guard<std::mutex> lock(m.Lock);
  const TModuleResources* res = ModuleFor(m, module);
  if (!res) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  for (const TResourceEntry* e : res->Entries()) {
    if (type && !(e->Type == *type)) continue;
    const TResourceId& id = type ? e->Name : e->Type;
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
  return true;
}

// Hands each id to the callback in its pointer form. Runs without the lock, so
// the callback may find and load what it is given.
BOOL WalkIds(const std::vector<TResourceId>& ids, const std::function<BOOL(char*)>& callback) {
  for (const auto& id : ids) {
    std::string text = id.Name;
    char* arg = id.IsInteger ? const_cast<char*>(MAKEINTRESOURCE(id.Id)) : text.data();
    if (!callback(arg)) {
      SetLastError(ERROR_RESOURCE_ENUM_USER_STOP);
      return FALSE;
    }
  }
  return TRUE;
}

}  // namespace

BOOL EnumResourceNames(HMODULE module, const char* type, ENUMRESNAMEPROC callback, LONG_PTR param) {
  if (!type || !callback) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  TResourceId t = TResourceId::From(type);
  std::vector<TResourceId> names;
  if (!CollectIds(module, &t, names)) return FALSE;
  if (names.empty()) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  return WalkIds(names, [&](char* name) { return callback(module, type, name, param); });
}

BOOL EnumResourceTypes(HMODULE module, ENUMRESTYPEPROC callback, LONG_PTR param) {
  if (!callback) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<TResourceId> types;
  if (!CollectIds(module, nullptr, types)) return FALSE;
  return WalkIds(types, [&](char* t) { return callback(module, t, param); });
}
