#include "base/toolbox/palettes.h"

#include <algorithm>

void LoadPaletteTable(const TPaletteTableEntry* table, int highIndex, TListLongint& list) {
  list.SetCount(highIndex + 1);
  for (int i = 0; i <= highIndex; ++i) list.Put(i, TableColour(table[i]));
}

void AddPaletteTable(const TPaletteTableEntry* table, int highIndex, TListLongint& list, bool all) {
  for (int i = 0; i <= highIndex; ++i) {
    const int32_t c = TableColour(table[i]);
    if (all || list.IndexOf(c) < 0) list.Add(c);
  }
}

void MakeGrayPaletteList(TListLongint& list) {
  list.SetCount(256);
  for (int i = 0; i < 256; ++i) list.Put(i, i * 0x010101);
}

void PadPaletteWithStandard(TListLongint& list, int count) {
  const int old = list.Count();
  list.SetCount(count);  // new slots are 0 and count as present black
  int slot = old;
  for (int i = 0; i < 256 && slot < count; ++i) {
    const int32_t c = TableColour(StandardPalette256[i]);
    if (list.IndexOf(c) < 0) list.Put(slot++, c);
  }
}

bool EnsureBlackAndWhite(TListLongint& list) {
  const bool hasWhite = list.IndexOf(kWhite) >= 0, hasBlack = list.IndexOf(kBlack) >= 0;
  if (hasWhite && hasBlack) return false;
  if (list.Count() < 2) {
    if (!hasBlack) list.Add(kBlack);
    if (!hasWhite) list.Add(kWhite);
    return true;
  }
  if (!hasWhite) list.Put(NearestPaletteIndex(list, kWhite), kWhite);
  if (!hasBlack) list.Put(NearestPaletteIndex(list, kBlack), kBlack);
  return true;
}

int NearestPaletteIndex(const TListLongint& list, int32_t colour) {
  return NearestColourIndex(list.Items(), list.Count(), colour);
}

void SwapRedBlueArray(uint32_t* values, int count) {
  for (int i = 0; i < count; ++i) {
    const uint32_t v = values[i];
    values[i] = ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
  }
}
