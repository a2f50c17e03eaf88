#pragma once
// The icon grid of the file dialogs: a grid of 32 x 32 cells, one per icon of
// a module, library, icon collection or resource file, that keeps one icon
// handle per cell and makes each handle only when its cell is first painted,
// so that a file with thousands of icons opens at once.
#include <vector>

#include "platform/graphics/gdi.h"
#include "platform/ui/grids.h"

class TIcoDrawGrid : public TDrawGrid {
public:
  explicit TIcoDrawGrid(TComponent* owner);
  ~TIcoDrawGrid() override;

  // One entry per cell: the cell's icon handle, or null while it is not made.
  // The handles belong to the dialog using the grid (FreeIconHandles).
  std::vector<HICON> Handles;
  int CellCount() const { return static_cast<int>(Handles.size()); }
  // Sizes the list for n cells (new entries null) and the rows to hold them.
  void SizeFor(int n);
  // The index of the current cell, or -1 when it holds no icon.
  int CurrentIndex() const;

protected:
  // A left click moves the current cell (only while DefaultDrawing is on), and
  // neither takes the focus nor fires OnMouseDown.
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
};

// Destroys every handle in the list, from the last to the first, and empties it.
void FreeIconHandles(std::vector<HICON>& list);
// Libraries with more cells than this keep no handle after painting a cell.
inline constexpr int kMaxKeptGridHandles = 2000;
