#pragma once
// Files and mapped views through the kernel's handle calls, over open and mmap.
// Names go through NativePath, so "C:\..." lands in the Windows model. Share
// modes are accepted but not enforced (this system has no mandatory locks).
#include "platform/win/win_types.h"

constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x100;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD PAGE_WRITECOPY = 0x08;
constexpr DWORD SEC_COMMIT = 0x08000000;
constexpr DWORD FILE_MAP_COPY = 0x1;
constexpr DWORD FILE_MAP_WRITE = 0x2;
constexpr DWORD FILE_MAP_READ = 0x4;
constexpr DWORD FILE_MAP_ALL_ACCESS = 0xF001F;

constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_INVALID_ADDRESS = 487;
constexpr DWORD ERROR_MAPPED_ALIGNMENT = 1132;

constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

// File attributes. Read-only is the file's write permission (and stops CreateFile
// from opening the file for writing, as on Windows, whoever runs the program);
// hidden, system and archive are kept with the file in an extended attribute
// (for this run only where the file system has none). A file never given
// attributes reads as FILE_ATTRIBUTE_ARCHIVE, which Windows puts on new files.
DWORD GetFileAttributes(const char* fileName);
BOOL SetFileAttributes(const char* fileName, DWORD attributes);
inline DWORD GetFileAttributesA(const char* fileName) { return GetFileAttributes(fileName); }
inline BOOL SetFileAttributesA(const char* fileName, DWORD attributes) {
  return SetFileAttributes(fileName, attributes);
}
// Copies contents and attributes; a read-only target is not replaced
// (ERROR_ACCESS_DENIED), nor an existing one when failIfExists (ERROR_FILE_EXISTS).
BOOL CopyFile(const char* existingFileName, const char* newFileName, BOOL failIfExists);
inline BOOL CopyFileA(const char* existingFileName, const char* newFileName, BOOL failIfExists) {
  return CopyFile(existingFileName, newFileName, failIfExists);
}

// INVALID_HANDLE_VALUE on failure, with ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_FILE_EXISTS, ERROR_ACCESS_DENIED (also for a folder). CREATE_ALWAYS and
// OPEN_ALWAYS on an existing file succeed with ERROR_ALREADY_EXISTS.
HANDLE CreateFile(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* security,
                  DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
inline HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* security,
                          DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  return CreateFile(fileName, desiredAccess, shareMode, security, creationDisposition, flagsAndAttributes,
                    templateFile);
}
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, void* overlapped);
// The low 32 bits; the high ones in *sizeHigh when given.
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);

// file INVALID_HANDLE_VALUE: a mapping of fresh zeroed memory of the given size.
// A maximum size of 0 maps the whole file; an empty file cannot be mapped
// (ERROR_FILE_INVALID). The mapping stays usable after the file handle is closed.
HANDLE CreateFileMapping(HANDLE file, void* security, DWORD protect, DWORD maximumSizeHigh, DWORD maximumSizeLow,
                         const char* name);
inline HANDLE CreateFileMappingA(HANDLE file, void* security, DWORD protect, DWORD maximumSizeHigh,
                                 DWORD maximumSizeLow, const char* name) {
  return CreateFileMapping(file, security, protect, maximumSizeHigh, maximumSizeLow, name);
}
// The offset must be a multiple of 64 KB; 0 bytes maps to the end of the mapping.
LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID baseAddress);
// Memory straight from the system, zeroed and page aligned: only a whole
// reservation with committed pages (MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE),
// released whole (VirtualFree with size 0 and MEM_RELEASE).
constexpr DWORD MEM_COMMIT = 0x1000;
constexpr DWORD MEM_RESERVE = 0x2000;
constexpr DWORD MEM_RELEASE = 0x8000;
LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect);
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);

// Closes a file, mapping or token handle; a file made with
// FILE_FLAG_DELETE_ON_CLOSE goes.
BOOL CloseHandle(HANDLE object);

// A kernel handle with nothing behind it, for the objects this model only
// pretends to have (access tokens); CloseHandle releases it.
HANDLE NewPlaceholderHandle();
bool IsPlaceholderHandle(HANDLE object);
