#pragma once
// The registry: the Reg* calls over a store that lives in one text file below the
// Windows model root, in the format Windows' registry editor exports (see
// reg_file.h). Every change is written through at once, atomically, so another
// run of the program (or a test that reloads the store) sees it.
//
// The calls return a Windows error code (ERROR_SUCCESS = 0) as Windows does and do
// not touch GetLastError. Key and value names compare without regard to case and
// keep the case they were created with. Subkeys enumerate in alphabetical order
// (ignoring case), values in the order they were first set.
#include <string>

#include "platform/win/win_types.h"

using REGSAM = DWORD;

// Predefined roots. Windows sign-extends these 32-bit values into the handle,
// so the low 32 bits read 0x80000000 and up on every platform.
#define QV_ROOT_KEY(v) (reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(v))))
#define HKEY_CLASSES_ROOT QV_ROOT_KEY(0x80000000u)
#define HKEY_CURRENT_USER QV_ROOT_KEY(0x80000001u)
#define HKEY_LOCAL_MACHINE QV_ROOT_KEY(0x80000002u)
#define HKEY_USERS QV_ROOT_KEY(0x80000003u)
#define HKEY_PERFORMANCE_DATA QV_ROOT_KEY(0x80000004u)
#define HKEY_CURRENT_CONFIG QV_ROOT_KEY(0x80000005u)
#define HKEY_DYN_DATA QV_ROOT_KEY(0x80000006u)

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_RESOURCE_LIST = 8;
constexpr DWORD REG_QWORD = 11;
constexpr DWORD REG_QWORD_LITTLE_ENDIAN = 11;

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM DELETE = 0x00010000;
constexpr REGSAM READ_CONTROL = 0x00020000;
constexpr REGSAM STANDARD_RIGHTS_READ = READ_CONTROL;
constexpr REGSAM STANDARD_RIGHTS_WRITE = READ_CONTROL;
constexpr REGSAM KEY_READ = 0x00020019;
constexpr REGSAM KEY_WRITE = 0x00020006;
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;
constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;

// Options and dispositions of RegCreateKeyEx.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM desired, HKEY* result);
LONG RegOpenKey(HKEY key, const char* subKey, HKEY* result);
LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options, REGSAM desired,
                    void* security, HKEY* result, DWORD* disposition);
LONG RegCreateKey(HKEY key, const char* subKey, HKEY* result);
LONG RegCloseKey(HKEY key);
LONG RegFlushKey(HKEY key);
LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize);
LONG RegSetValueEx(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LONG RegDeleteValue(HKEY key, const char* valueName);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED when it has some).
LONG RegDeleteKey(HKEY key, const char* subKey);
// Deletes a key with all its subkeys; with no subkey name, empties the key itself.
LONG RegDeleteTree(HKEY key, const char* subKey);
// nameSize: characters of the buffer on entry (terminator included), of the name
// on return (without it).
LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, char* keyClass,
                  DWORD* classSize, FILETIME* lastWriteTime);
LONG RegEnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, DWORD* type, BYTE* data,
                  DWORD* dataSize);
LONG RegQueryInfoKey(HKEY key, char* keyClass, DWORD* classSize, DWORD* reserved, DWORD* subKeys,
                     DWORD* maxSubKeyLen, DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen,
                     DWORD* maxValueLen, DWORD* securityDescriptor, FILETIME* lastWriteTime);

// The store file of the current Windows model root.
std::string RegistryStoreFileName();
// Model of a user without administrator rights: while a root is not writable,
// every change below it fails with ERROR_ACCESS_DENIED (reads still work).
// All roots are writable until a test says otherwise.
void SetRegistryRootWritable(HKEY root, bool writable);

// Forgets what is held in memory; the next call reads the store file again.
// Handles stay valid: they name their keys by path.
void ReloadRegistryStore();
