#include "imaging/core/ie_palette_dialog.h"

#include "platform/graphics/graphics_canvas.h"
#include "platform/rtl/exceptions.h"

namespace {

constexpr int kCell = 16;
constexpr int kColumns = 32;

TColor ColorOf(const TRGB& entry) { return TColor(entry.r | (entry.g << 8) | (entry.b << 16)); }

}  // namespace

void TImageLibPaletteDialog::SetPalette(const TRGB* palette, int, int count) {
  FPalette = palette;
  FCount = palette && count > 0 ? count : 0;
  FHotCell = -1;
}

void TImageLibPaletteDialog::CheckPalette() const {
  if (!FPalette) throw Exception("Invalid Palette!");
}

int TImageLibPaletteDialog::CellAt(int x, int y) { return ((y - 1) / kCell) * kColumns + (x - 1) / kCell; }

void TImageLibPaletteDialog::PaintCells(TCanvas& canvas) {
  for (int i = 0; i < FCount; ++i) {
    const int c = i % kColumns, r = i / kColumns;
    const TColor fill = ColorOf(FPalette[i]);
    TColor outline = 0xFFFFFF;
    if (i == FHotCell) outline = 0x000000;
    else if (int32_t(fill) == FChosenColor) outline = 0x555555;
    canvas.Pen()->SetColor(outline);
    canvas.Brush()->SetColor(fill);
    canvas.Rectangle(kCell * c + 1, kCell * r + 1, kCell * c + kCell, kCell * r + kCell);
  }
}

bool TImageLibPaletteDialog::TrackMouse(int x, int y, TCanvas* canvas) {
  // A point left of or above the grid divides towards zero into cell 0's row or
  // column, as the picker always did; only indices outside the palette are ignored.
  const int cell = CellAt(x, y);
  if (cell < 0 || cell >= FCount || cell == FHotCell) return false;
  FHotCell = cell;
  if (canvas) PaintCells(*canvas);
  return true;
}

bool TImageLibPaletteDialog::SelectCell() {
  if (FHotCell < 0 || FHotCell >= FCount) return false;
  FChosenColor = int32_t(ColorOf(FPalette[FHotCell]));
  return true;
}
