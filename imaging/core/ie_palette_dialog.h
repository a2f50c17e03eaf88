#pragma once
// The palette picker: a grid of 16-pixel cells, 32 to a row, one per palette
// entry; the cell under the pointer is outlined black, cells of the chosen
// colour grey, the others white, and a click chooses the colour of the cell
// under the pointer. This is the picker's painting and hit testing over a
// canvas; the modal form around it (caption "Palette", 520 x 199, a Cancel
// button) comes with the forms layer.
#include <cstdint>

#include "imaging/core/ie_types.h"
#include "platform/rtl/object.h"

class TCanvas;

class TImageLibPaletteDialog : public TObject {
public:
  // The palette stays the caller's; count entries of blue, green, red.
  void SetPalette(const TRGB* palette, int /*unused*/, int count);
  // What Execute checks first: raises Exception "Invalid Palette!" without a palette.
  void CheckPalette() const;
  void PaintCells(TCanvas& canvas);
  // The cell at (x, y) becomes the one under the pointer when it is an entry
  // and another one than before; the cells are then painted again at once.
  // True when that happened.
  bool TrackMouse(int x, int y, TCanvas* canvas);
  // Chooses the colour of the cell under the pointer; false (nothing chosen,
  // the dialog stays open) before the pointer was over any cell.
  bool SelectCell();
  // Windows colour 0x00BBGGRR, or -1 when none was chosen.
  int32_t ChosenColor() const { return FChosenColor; }
  int HotCell() const { return FHotCell; }
  int Count() const { return FCount; }
  // Index of the cell at a point of the client area (any value: check it against Count).
  static int CellAt(int x, int y);

private:
  const TRGB* FPalette = nullptr;
  int32_t FCount = 0;
  int32_t FHotCell = -1;
  int32_t FChosenColor = -1;
};
