#pragma once
// Global memory blocks, the currency of the clipboard and of some old interfaces.
// A moveable block is reached through its handle and GlobalLock; a fixed block's
// handle is its address, as on Windows.
#include "platform/win/win_types.h"

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_NOCOMPACT = 0x0010;
constexpr UINT GMEM_NODISCARD = 0x0020;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GMEM_MODIFY = 0x0080;
constexpr UINT GMEM_DISCARDABLE = 0x0100;
constexpr UINT GMEM_SHARE = 0x2000;
constexpr UINT GMEM_DDESHARE = 0x2000;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// Null with ERROR_NOT_ENOUGH_MEMORY when the memory is not there; blocks are
// limited to what a 32-bit process could hold (below 2 GB).
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
// Grows or shrinks a block (new bytes zeroed with GMEM_ZEROINIT); a fixed block
// moves only when flags hold GMEM_MOVEABLE. Null on failure, the block unchanged;
// a block the clipboard owns is refused (ERROR_INVALID_HANDLE).
HGLOBAL GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags);
// The block's address (null for an unknown handle or an empty moveable block).
LPVOID GlobalLock(HGLOBAL mem);
// Nonzero while the block stays locked; 0 with ERROR_SUCCESS when this was the
// last lock, with ERROR_NOT_LOCKED when it was not locked.
BOOL GlobalUnlock(HGLOBAL mem);
SIZE_T GlobalSize(HGLOBAL mem);
// Null on success. A block the clipboard owns is not freed: the handle comes back
// with ERROR_INVALID_HANDLE, as for any handle that is not the caller's to free.
HGLOBAL GlobalFree(HGLOBAL mem);

// The number of blocks alive, for tests that check nothing leaks.
size_t GlobalBlockCount();

// For the clipboard, which takes over the blocks put on it.
bool IsGlobalBlock(HGLOBAL mem);
void SetGlobalBlockOwnedByClipboard(HGLOBAL mem, bool owned);
void FreeClipboardOwnedBlock(HGLOBAL mem);

// Whether a text pointer cannot be read. Memory is not probed here: null and the
// integer identifiers that travel in pointers (below 0x10000) are refused, any
// other pointer is taken as readable.
BOOL IsBadStringPtr(const char* text, UINT_PTR maxLength);
inline BOOL IsBadStringPtrA(const char* text, UINT_PTR maxLength) { return IsBadStringPtr(text, maxLength); }
