#pragma once
// Palette lists (TListLongint of 0x00BBGGRR colours) and the palettes of 1-,
// 4- and 8-bit framework bitmaps: standard, grey and given palettes, completing
// a palette, exact 8-bit conversion, black and white entries.
#include <cstdint>

#include "base/toolbox/palette_tables.h"
#include "base/typed_lists.h"
#include "platform/graphics/graphics.h"

// The list's count becomes highIndex + 1, entry i the table's entry i.
void LoadPaletteTable(const TPaletteTableEntry* table, int highIndex, TListLongint& list);
// Appends entries 0..highIndex; without all only those the list lacks.
void AddPaletteTable(const TPaletteTableEntry* table, int highIndex, TListLongint& list, bool all);
void MakeGrayPaletteList(TListLongint& list);
// Grows the list to count entries, filling the new slots with the 256-colour
// palette's entries that the list lacks, in table order.
void PadPaletteWithStandard(TListLongint& list, int count);
// Makes white and black present, replacing the entries nearest to them. A list
// of fewer than two entries cannot hold both by replacement: the missing ones
// are appended, black first. True when anything changed.
bool EnsureBlackAndWhite(TListLongint& list);
// The first index with the smallest squared distance; -1 for an empty list.
int NearestPaletteIndex(const TListLongint& list, int32_t colour);
// Exchanges red and blue of each value and clears the top byte.
void SwapRedBlueArray(uint32_t* values, int count);

// ---- palettes of bitmaps ----

// Appends every 24-bit colour of the bitmap that the list lacks, in scan order.
void CollectColors(TBitmap* bitmap, TListLongint& list);

void SetStandardPalette(TBitmap* bitmap);
void Set16ColorPalette(TBitmap* bitmap);
void SetMonoPalette(TBitmap* bitmap);
void SetPaletteFromList(TBitmap* bitmap, const TListLongint& list);
void SetGrayPalette(TBitmap* bitmap);
void SetGrayPalette8(TBitmap* bitmap);
void SetPaletteEntry(TBitmap* bitmap, int index, int32_t colour);
void SetPaletteEntriesOf(TBitmap* bitmap, const int32_t* entries, int count);
// The bitmap's palette becomes the palette handle's entries completed with
// standard colours to the format's colour count (up to 256).
void CompletePalette(TBitmap* bitmap, HPALETTE palette, bool forceBlackAndWhite);
// An 8-bit copy with a palette of exactly the picture's colours; false when
// they are more than 256.
bool ConvertExactTo8Bit(TBitmap* source, TBitmap* target, bool blackAndWhiteFirst, bool padWithStandard);
// Makes black and white present in an 8-bit palette, replacing the darkest and
// the brightest entries, and turns masked pixels black or white.
void ForceBlackWhiteEntries(TBitmap* bitmap, TBitmap* mask);
