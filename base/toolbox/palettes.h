#pragma once
// Palette lists (TListLongint of 0x00BBGGRR colours) and the palettes of 1-,
// 4- and 8-bit framework bitmaps: standard, grey and given palettes, completing
// a palette, exact 8-bit conversion, black and white entries.
#include <cstdint>

#include "base/toolbox/palette_tables.h"
#include "base/typed_lists.h"

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
