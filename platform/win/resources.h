#pragma once
// Resources: data linked into the program (qv_embed_resource in CMake) and data of
// modules registered later (executables read as data files), reached with the
// Windows calls FindResource, LoadResource, SizeofResource and LockResource.
//
// A module is a TModuleResources behind a module handle. HInstance (and a null
// module) stands for the program's own table.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win/win_types.h"

#define RT_CURSOR MAKEINTRESOURCE(1)
#define RT_BITMAP MAKEINTRESOURCE(2)
#define RT_ICON MAKEINTRESOURCE(3)
#define RT_MENU MAKEINTRESOURCE(4)
#define RT_DIALOG MAKEINTRESOURCE(5)
#define RT_STRING MAKEINTRESOURCE(6)
#define RT_FONTDIR MAKEINTRESOURCE(7)
#define RT_FONT MAKEINTRESOURCE(8)
#define RT_ACCELERATOR MAKEINTRESOURCE(9)
#define RT_RCDATA MAKEINTRESOURCE(10)
#define RT_MESSAGETABLE MAKEINTRESOURCE(11)
#define RT_GROUP_CURSOR MAKEINTRESOURCE(12)
#define RT_GROUP_ICON MAKEINTRESOURCE(14)
#define RT_VERSION MAKEINTRESOURCE(16)
#define RT_ANICURSOR MAKEINTRESOURCE(21)
#define RT_ANIICON MAKEINTRESOURCE(22)
#define RT_HTML MAKEINTRESOURCE(23)
#define RT_MANIFEST MAKEINTRESOURCE(24)

constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_RESOURCE_ENUM_USER_STOP = 15106;
constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;

// The program itself (the address a Windows program is loaded at).
extern const HINSTANCE HInstance;

// A resource type or name: a 16-bit number or a text. Texts keep the case the
// module stores them in (enumeration hands them out as stored) and compare
// without regard to case, so that a look-up finds a name however it is spelt.
struct TResourceId {
  bool IsInteger = false;
  WORD Id = 0;
  std::string Name;  // as stored or as asked for

  // From the pointer form of the Windows calls: MAKEINTRESOURCE(n), "#n" or a name.
  static TResourceId From(const char* idOrName);
  static TResourceId FromInteger(WORD id);
  bool operator==(const TResourceId& other) const;
};

// One resource. Its address is its HRSRC and must stay put while its module lives.
struct TResourceEntry {
  TResourceId Type;
  TResourceId Name;
  WORD Language = 0;
  const uint8_t* Data = nullptr;
  DWORD Size = 0;
};

// The resources of one module.
class TModuleResources {
public:
  virtual ~TModuleResources() = default;
  // The entry of type and name (in any language when language is 0), or null.
  virtual const TResourceEntry* Find(const TResourceId& type, const TResourceId& name, WORD language) const;
  // Every entry, types and names in their order in the module.
  virtual std::vector<const TResourceEntry*> Entries() const = 0;
};

// A module that holds copies of its resources' bytes; the program's table is one,
// and readers of executables can fill one.
class TResourceTable : public TModuleResources {
public:
  void Add(const TResourceId& type, const TResourceId& name, WORD language, std::vector<uint8_t> bytes);
  // Adds without copying: the bytes must outlive the table (data linked in).
  void AddStatic(const TResourceId& type, const TResourceId& name, const uint8_t* data, DWORD size);
  std::vector<const TResourceEntry*> Entries() const override;

private:
  struct TItem {
    TResourceEntry Entry;
    std::vector<uint8_t> Bytes;
  };
  std::vector<std::unique_ptr<TItem>> FItems;
};

// Called by the code that qv_embed_resource generates, before main runs (so
// look-ups belong in main or later, not in other static initialisers). A second
// resource of the same type and name is ignored.
void RegisterProgramResource(const char* type, const char* name, const uint8_t* data, size_t size);
struct TProgramResourceRegistrar {
  TProgramResourceRegistrar(const char* type, const char* name, const uint8_t* data, size_t size) {
    RegisterProgramResource(type, name, data, size);
  }
};

// Makes a module handle for a set of resources; FreeLibrary releases it.
HMODULE RegisterResourceModule(std::unique_ptr<TModuleResources> module);
// How LoadLibraryEx with LOAD_LIBRARY_AS_DATAFILE reads a file: the reader of
// executable files sets this; it returns null for a file it cannot read.
using TDataFileLoader = std::function<std::unique_ptr<TModuleResources>(const std::string& nativePath)>;
void SetDataFileLoader(TDataFileLoader loader);

using FARPROC = void (*)();
using ENUMRESNAMEPROC = BOOL (*)(HMODULE module, const char* type, char* name, LONG_PTR param);
using ENUMRESTYPEPROC = BOOL (*)(HMODULE module, char* type, LONG_PTR param);

// Programs cannot be loaded to run here: LoadLibrary knows only "kernel32.dll",
// whose GetProcAddress offers GetLogicalProcessorInformation, GlobalMemoryStatus
// and GlobalMemoryStatusEx, and the built-in libraries registered below. Other
// libraries are missing (ERROR_MOD_NOT_FOUND), so callers take their documented
// fallbacks. As a data file, any file the data-file loader reads becomes a module.
// A system library whose code lives in another part of the platform layer (the
// drawing layer's "gdiplus.dll", say): GetProcAddress asks the look-up for its
// entry points. Registering a name again replaces the look-up. LoadLibrary and
// FreeLibrary count references; GetModuleHandle finds the library while it is loaded.
using TBuiltinProcLookup = FARPROC (*)(const char* procName);
void RegisterBuiltinLibrary(const char* fileName, TBuiltinProcLookup lookup);
// The model of a system without that library: while missing, LoadLibrary fails
// with ERROR_MOD_NOT_FOUND as for any unknown one. Handles already loaded stay valid.
void SetBuiltinLibraryMissing(const char* fileName, bool missing);

HMODULE LoadLibrary(const char* fileName);
HMODULE LoadLibraryEx(const char* fileName, HANDLE file, DWORD flags);
inline HMODULE LoadLibraryA(const char* fileName) { return LoadLibrary(fileName); }
inline HMODULE LoadLibraryExA(const char* fileName, HANDLE file, DWORD flags) {
  return LoadLibraryEx(fileName, file, flags);
}
HMODULE GetModuleHandle(const char* moduleName);
FARPROC GetProcAddress(HMODULE module, const char* procName);
BOOL FreeLibrary(HMODULE module);

HRSRC FindResource(HMODULE module, const char* name, const char* type);
HRSRC FindResourceEx(HMODULE module, const char* type, const char* name, WORD language);
inline HRSRC FindResourceA(HMODULE module, const char* name, const char* type) {
  return FindResource(module, name, type);
}
DWORD SizeofResource(HMODULE module, HRSRC resource);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL resData);
BOOL FreeResource(HGLOBAL resData);
// The string id of a module's string table: block id / 16 + 1 of RT_STRING,
// string id mod 16 of its sixteen counted UTF-16 strings (a length word, then
// that many units). Copies it as text of the system code page, cut to fit
// bufferMax - 1 bytes (never inside a character) and terminated; returns its
// length in bytes, 0 when the string is missing, empty or the buffer is none.
int LoadString(HINSTANCE module, UINT id, char* buffer, int bufferMax);
inline int LoadStringA(HINSTANCE module, UINT id, char* buffer, int bufferMax) {
  return LoadString(module, id, buffer, bufferMax);
}
// The same string whole, empty when missing.
std::string LoadStr(HINSTANCE module, UINT id);
// Names (as MAKEINTRESOURCE or a text valid during the call) of every resource of
// a type. FALSE with ERROR_RESOURCE_TYPE_NOT_FOUND when there is none, with
// ERROR_RESOURCE_ENUM_USER_STOP when the callback stopped the walk.
BOOL EnumResourceNames(HMODULE module, const char* type, ENUMRESNAMEPROC callback, LONG_PTR param);
inline BOOL EnumResourceNamesA(HMODULE module, const char* type, ENUMRESNAMEPROC callback, LONG_PTR param) {
  return EnumResourceNames(module, type, callback, param);
}
BOOL EnumResourceTypes(HMODULE module, ENUMRESTYPEPROC callback, LONG_PTR param);
