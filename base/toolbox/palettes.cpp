#include "base/toolbox/palettes.h"

#include <algorithm>

#include "base/toolbox/bitmap_utils.h"

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

// ---- palettes of bitmaps ----

namespace {

bool HasPaletteFormat(TBitmap* b) {
  const TPixelFormat pf = b ? b->PixelFormat() : pfDevice;
  return pf == pf1bit || pf == pf4bit || pf == pf8bit;
}

void SetTable(TBitmap* bitmap, const TPaletteTableEntry* table, int count) {
  TListLongint list;
  LoadPaletteTable(table, count - 1, list);
  SetPaletteFromList(bitmap, list);
}

// Perceived brightness: green weighs most, blue least.
int Luminance(int32_t c) { return 299 * (c & 0xFF) + 587 * ((c >> 8) & 0xFF) + 114 * ((c >> 16) & 0xFF); }

}  // namespace

void CollectColors(TBitmap* bitmap, TListLongint& list) {
  if (!bitmap || bitmap->Width() <= 0 || bitmap->Height() <= 0) return;
  const TRows24 rows(bitmap);
  int32_t previous = -1;
  for (int y = 0; y < rows.Rows().Height; ++y) {
    const uint8_t* p = rows.Rows().Row(y);
    for (int x = 0; x < rows.Rows().Width; ++x, p += 3) {
      const int32_t c = p[2] | (p[1] << 8) | (p[0] << 16);
      if (c == previous) continue;
      previous = c;
      if (list.IndexOf(c) < 0) list.Add(c);
    }
  }
}

void SetStandardPalette(TBitmap* bitmap) {
  switch (bitmap ? bitmap->PixelFormat() : pfDevice) {
    case pf1bit: SetTable(bitmap, StandardPalette2, 2); break;
    case pf4bit: SetTable(bitmap, StandardPalette16, 16); break;
    case pf8bit: SetTable(bitmap, StandardPalette256, 256); break;
    default: break;
  }
}

void Set16ColorPalette(TBitmap* bitmap) { SetTable(bitmap, StandardPalette16, 16); }
void SetMonoPalette(TBitmap* bitmap) { SetTable(bitmap, StandardPalette2, 2); }

void SetPaletteFromList(TBitmap* bitmap, const TListLongint& list) {
  WritePaletteColours(bitmap, list.Items(), list.Count());
}

void SetGrayPalette(TBitmap* bitmap) {
  TListLongint list;
  MakeGrayPaletteList(list);
  SetPaletteFromList(bitmap, list);
}

void SetGrayPalette8(TBitmap* bitmap) {
  bitmap->SetPixelFormat(pf8bit);
  SetGrayPalette(bitmap);
}

void SetPaletteEntry(TBitmap* bitmap, int index, int32_t colour) {
  if (!HasPaletteFormat(bitmap) || !bitmap->GetPalette() || index < 0 || index > 255) return;
  int32_t colours[256];
  const int n = ReadPaletteColours(bitmap, colours, 256);
  if (index >= n) return;
  colours[index] = colour & 0xFFFFFF;
  WritePaletteColours(bitmap, colours, n);
}

void SetPaletteEntriesOf(TBitmap* bitmap, const int32_t* entries, int count) {
  if (!entries || count <= 0 || !HasPaletteFormat(bitmap)) return;
  int32_t colours[256];
  const int room = 1 << PixelFormatBits(bitmap->PixelFormat());
  const int n = std::max(ReadPaletteColours(bitmap, colours, 256), std::min(count, room));
  for (int i = 0; i < std::min(count, n); ++i) colours[i] = entries[i] & 0xFFFFFF;
  WritePaletteColours(bitmap, colours, n);
}

void CompletePalette(TBitmap* bitmap, HPALETTE palette, bool forceBlackAndWhite) {
  if (!bitmap) return;
  const int n = PixelFormatColors(bitmap->PixelFormat());
  if (n > 256 || n <= 0) return;
  PALETTEENTRY entries[256] = {};
  const int r = palette ? static_cast<int>(GetPaletteEntries(palette, 0, 256, entries)) : 0;
  TListLongint list;
  for (int i = 0; i < std::min(r, n); ++i)
    list.Add(entries[i].peRed | (entries[i].peGreen << 8) | (entries[i].peBlue << 16));
  if (list.Count() < n) PadPaletteWithStandard(list, n);
  if (forceBlackAndWhite) EnsureBlackAndWhite(list);
  SetPaletteFromList(bitmap, list);
}

bool ConvertExactTo8Bit(TBitmap* source, TBitmap* target, bool blackAndWhiteFirst, bool padWithStandard) {
  if (!source || !target) return false;
  TListLongint list;
  if (blackAndWhiteFirst) {
    list.Add(0);
    list.Add(0xFFFFFF);
  }
  target->SetPixelFormat(pf8bit);
  target->SetSize(source->Width(), source->Height());
  if (source->Width() > 0 && source->Height() > 0) {
    const TRows24 rows(source);
    const TPixelRows out = BitmapRows(target);
    int32_t previous = -1;
    int previousIndex = 0;
    for (int y = 0; y < rows.Rows().Height; ++y) {
      const uint8_t* p = rows.Rows().Row(y);
      for (int x = 0; x < rows.Rows().Width; ++x, p += 3) {
        const int32_t c = p[2] | (p[1] << 8) | (p[0] << 16);
        if (c != previous) {
          previous = c;
          previousIndex = list.IndexOf(c);
          if (previousIndex < 0) {
            if (list.Count() >= 256) return false;
            previousIndex = list.Add(c);
          }
        }
        out.Row(y)[x] = static_cast<uint8_t>(previousIndex);
      }
    }
  }
  if (padWithStandard)
    PadPaletteWithStandard(list, 256);
  else
    list.SetCount(256);
  SetPaletteEntriesOf(target, list.Items(), 256);
  return true;
}

void ForceBlackWhiteEntries(TBitmap* bitmap, TBitmap* mask) {
  if (!bitmap || bitmap->PixelFormat() != pf8bit || bitmap->Width() <= 0 || bitmap->Height() <= 0 ||
      !bitmap->GetPalette())
    return;
  int32_t colours[256];
  const int n = ReadPaletteColours(bitmap, colours, 256);
  if (n <= 0) return;
  auto find = [&](int32_t c) { return static_cast<int>(std::find(colours, colours + n, c) - colours); };
  // The darkest entry turns black and the brightest white, by how light they
  // look: a pure green is far from black.
  if (find(0) == n) {
    int darkest = 0;
    for (int i = 1; i < n; ++i)
      if (Luminance(colours[i]) < Luminance(colours[darkest])) darkest = i;
    colours[darkest] = 0;
  }
  if (find(0xFFFFFF) == n) {
    int brightest = -1;
    for (int i = 0; i < n; ++i)
      if (colours[i] != 0 && (brightest < 0 || Luminance(colours[i]) > Luminance(colours[brightest]))) brightest = i;
    if (brightest >= 0) colours[brightest] = 0xFFFFFF;
  }
  WritePaletteColours(bitmap, colours, n);
  if (!mask) return;
  const int black = find(0), white = find(0xFFFFFF);
  const TPixelRows rows = BitmapRows(bitmap);
  TMaskPixels m(mask);
  for (int y = 0; y < rows.Height; ++y)
    for (int x = 0; x < rows.Width; ++x) {
      if (!m.IsWhite(x, y)) continue;
      const int32_t e = colours[rows.Row(y)[x]];
      const int sum = (e & 0xFF) + ((e >> 8) & 0xFF) + ((e >> 16) & 0xFF);
      const int index = sum < 385 ? black : white;
      if (index < n) rows.Row(y)[x] = static_cast<uint8_t>(index);
    }
}
