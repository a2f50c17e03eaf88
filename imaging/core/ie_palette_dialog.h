#pragma once
// The palette picker: a modal dialog showing a grid of 16-pixel cells, 32 to a
// row, one per palette entry. The cell under the pointer is outlined black,
// cells of the chosen colour grey, the others white; a click chooses the
// colour of the cell under the pointer and closes the dialog with OK.
#include <cstdint>

#include "imaging/core/ie_types.h"
#include "platform/ui/forms.h"
#include "platform/ui/std_ctrls.h"

class TImageLibPaletteDialog : public TForm {
public:
  explicit TImageLibPaletteDialog(TComponent* owner);
  // The palette stays the caller's; count entries of blue, green, red.
  void SetPalette(const TRGB* palette, int /*unused*/, int count);
  // True when the dialog closed with OK (a colour was chosen). Raises
  // Exception "Invalid Palette!" when no palette was set.
  bool Execute();
  // Windows colour 0x00BBGGRR, or -1 when none was chosen.
  int32_t ChosenColor() const { return FChosenColor; }
  int HotCell() const { return FHotCell; }
  int Count() const { return FCount; }
  TButton* CancelButton() const { return FCancelButton; }

  // The form's paint, mouse-move and click handlers.
  void PaintCells(TCanvas& canvas);
  // The cell at (x, y) becomes the one under the pointer when it is an entry
  // and another one than before; the cells are painted again at once. True
  // when that happened.
  bool TrackMouse(int x, int y);
  // Chooses the colour of the cell under the pointer and closes with OK; does
  // nothing before the pointer was over any cell.
  bool SelectCell();
  // Index of the cell at a point of the client area (check it against Count).
  static int CellAt(int x, int y);

private:
  const TRGB* FPalette = nullptr;
  int32_t FCount = 0;
  int32_t FHotCell = -1;
  int32_t FChosenColor = -1;
  TButton* FCancelButton = nullptr;
};

// The window handle of the first windowed control on the owner chain from the
// component (the component itself first); 0 when there is none or its window
// is not made yet.
HWND OwnerWindowHandle(TComponent* component);
