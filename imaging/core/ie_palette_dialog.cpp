#include "imaging/core/ie_palette_dialog.h"

#include "platform/graphics/graphics_canvas.h"
#include "platform/rtl/exceptions.h"

namespace {

constexpr int kCell = 16;
constexpr int kColumns = 32;

TColor ColorOf(const TRGB& entry) { return TColor(entry.r | (entry.g << 8) | (entry.b << 16)); }

}  // namespace

TImageLibPaletteDialog::TImageLibPaletteDialog(TComponent* owner) : TForm(owner) {
  SetBorderStyle(bsDialog);
  SetBorderIcons(TBorderIcons{biSystemMenu});
  SetCaption("Palette");
  SetWidth(520);
  SetHeight(199);
  SetPosition(poScreenCenter);
  FCancelButton = new TButton(this);
  FCancelButton->SetParent(this);
  FCancelButton->SetCaption("Cancel");
  FCancelButton->SetModalResult(mrCancel);
  FCancelButton->SetCancel(true);
  FCancelButton->SetTop(136);
  FCancelButton->SetLeft(ClientWidth() - FCancelButton->Width() - 8);
  OnPaint = [this](TObject*) { PaintCells(*Canvas()); };
  OnMouseMove = [this](TObject*, TShiftState, int x, int y) { TrackMouse(x, y); };
  OnClick = [this](TObject*) { SelectCell(); };
}

void TImageLibPaletteDialog::SetPalette(const TRGB* palette, int, int count) {
  FPalette = palette;
  FCount = palette && count > 0 ? count : 0;
  FHotCell = -1;
}

bool TImageLibPaletteDialog::Execute() {
  if (!FPalette) throw Exception("Invalid Palette!");
  return ShowModal() == mrOk;
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

bool TImageLibPaletteDialog::TrackMouse(int x, int y) {
  // Points left of or above the grid divide towards zero into the first row or
  // column, as the picker always did; only indices outside the palette are ignored.
  const int cell = CellAt(x, y);
  if (cell < 0 || cell >= FCount || cell == FHotCell) return false;
  FHotCell = cell;
  PaintCells(*Canvas());
  return true;
}

bool TImageLibPaletteDialog::SelectCell() {
  // Before the pointer was over any cell there is no entry to choose.
  if (FHotCell < 0 || FHotCell >= FCount) return false;
  FChosenColor = int32_t(ColorOf(FPalette[FHotCell]));
  SetModalResult(mrOk);
  return true;
}

HWND OwnerWindowHandle(TComponent* component) {
  for (TComponent* c = component; c; c = c->Owner())
    if (auto* control = dynamic_cast<TWinControl*>(c)) return control->HandleAllocated() ? control->Handle() : HWND{};
  return HWND{};
}
