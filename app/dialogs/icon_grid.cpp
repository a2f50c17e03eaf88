#include "app/dialogs/icon_grid.h"

#include <algorithm>

TIcoDrawGrid::TIcoDrawGrid(TComponent* owner) : TDrawGrid(owner) {}

TIcoDrawGrid::~TIcoDrawGrid() = default;

void TIcoDrawGrid::SizeFor(int n) {
  Handles.resize(static_cast<size_t>(std::max(0, n)), nullptr);
  SetRowCount(1);
  SetRow(0);
  const int cols = std::max(1, ColCount());
  SetRowCount(std::max(1, n / cols + (n % cols != 0 ? 1 : 0)));
}

int TIcoDrawGrid::CurrentIndex() const {
  const int index = Row() * ColCount() + Col();
  return index < CellCount() ? index : -1;
}

void TIcoDrawGrid::MouseDown(TMouseButton button, TShiftState, int x, int y) {
  if (!DefaultDrawing() || button != mbLeft) return;
  const TGridCoord c = MouseCoord(x, y);
  if (c.X >= 0 && c.X < ColCount()) SetCol(c.X);
  if (c.Y >= 0 && c.Y < RowCount()) SetRow(c.Y);
}

void FreeIconHandles(std::vector<HICON>& list) {
  for (auto it = list.rbegin(); it != list.rend(); ++it)
    if (*it) DestroyIcon(*it);
  list.clear();
}
