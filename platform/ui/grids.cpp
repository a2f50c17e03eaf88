#include "platform/ui/grids.h"

#include <algorithm>

#include "platform/ui/ui_paint.h"

TDrawGrid::TDrawGrid(TComponent* owner) : TCustomControl(owner) {
  SetInitialBounds(320, 120);
  SetTabStop(true);
  SetColor(clWindow);
  FColWidths.assign(static_cast<size_t>(FColCount), FDefaultColWidth);
  FRowHeights.assign(static_cast<size_t>(FRowCount), FDefaultRowHeight);
}

void TDrawGrid::SetColCount(int value) {
  value = std::max(value, 1);
  FColWidths.resize(static_cast<size_t>(value), FDefaultColWidth);
  FColCount = value;
  if (FFixedCols >= value) FFixedCols = value - 1;
  FCol = std::clamp(FCol, FFixedCols, value - 1);
  FLeftCol = std::clamp(FLeftCol, FFixedCols, value - 1);
  UpdateScrollBars();
  Invalidate();
}

void TDrawGrid::SetRowCount(int value) {
  value = std::max(value, 1);
  FRowHeights.resize(static_cast<size_t>(value), FDefaultRowHeight);
  FRowCount = value;
  if (FFixedRows >= value) FFixedRows = value - 1;
  FRow = std::clamp(FRow, FFixedRows, value - 1);
  FTopRow = std::clamp(FTopRow, FFixedRows, value - 1);
  UpdateScrollBars();
  Invalidate();
}

// A change of the fixed part starts the grid again at its first movable cell.
void TDrawGrid::SetFixedCols(int value) {
  FFixedCols = std::clamp(value, 0, FColCount - 1);
  FCol = FLeftCol = FFixedCols;
  FRow = FTopRow = FFixedRows;
  UpdateScrollBars();
  Invalidate();
}

void TDrawGrid::SetFixedRows(int value) {
  FFixedRows = std::clamp(value, 0, FRowCount - 1);
  FCol = FLeftCol = FFixedCols;
  FRow = FTopRow = FFixedRows;
  UpdateScrollBars();
  Invalidate();
}

void TDrawGrid::SetDefaultColWidth(int value) {
  FDefaultColWidth = std::max(0, value);
  std::fill(FColWidths.begin(), FColWidths.end(), FDefaultColWidth);
  UpdateScrollBars();
  Invalidate();
}

void TDrawGrid::SetDefaultRowHeight(int value) {
  FDefaultRowHeight = std::max(0, value);
  std::fill(FRowHeights.begin(), FRowHeights.end(), FDefaultRowHeight);
  UpdateScrollBars();
  Invalidate();
}

void TDrawGrid::SetColWidths(int col, int value) {
  FColWidths.at(col) = std::max(0, value);
  Invalidate();
}

void TDrawGrid::SetRowHeights(int row, int value) {
  FRowHeights.at(row) = std::max(0, value);
  Invalidate();
}

TRect TDrawGrid::CellRect(int col, int row) {
  if (col < 0 || row < 0 || col >= FColCount || row >= FRowCount) return TRect{};
  bool colShown = col < FFixedCols || col >= FLeftCol;
  bool rowShown = row < FFixedRows || row >= FTopRow;
  if (!colShown || !rowShown) return TRect{};
  int line = FGridLineWidth;
  int x = 0;
  for (int c = 0; c < FFixedCols && c < col; ++c) x += FColWidths[c] + line;
  if (col >= FFixedCols)
    for (int c = FLeftCol; c < col; ++c) x += FColWidths[c] + line;
  int y = 0;
  for (int r = 0; r < FFixedRows && r < row; ++r) y += FRowHeights[r] + line;
  if (row >= FFixedRows)
    for (int r = FTopRow; r < row; ++r) y += FRowHeights[r] + line;
  return Rect(x, y, x + FColWidths[col], y + FRowHeights[row]);
}

TGridCoord TDrawGrid::MouseCoord(int x, int y) {
  TGridCoord g{-1, -1};
  auto find = [&](int pos, int fixed, int first, int count, const std::vector<int>& sizes) {
    int at = 0;
    for (int i = 0; i < fixed; ++i) {
      if (pos >= at && pos < at + sizes[i] + FGridLineWidth) return i;
      at += sizes[i] + FGridLineWidth;
    }
    for (int i = first; i < count; ++i) {
      if (pos >= at && pos < at + sizes[i] + FGridLineWidth) return i;
      at += sizes[i] + FGridLineWidth;
    }
    return -1;
  };
  TRect cr = ClientRect();
  if (x < 0 || y < 0 || x >= cr.right || y >= cr.bottom) return g;
  g.X = find(x, FFixedCols, FLeftCol, FColCount, FColWidths);
  g.Y = find(y, FFixedRows, FTopRow, FRowCount, FRowHeights);
  if (g.X < 0 || g.Y < 0) g = TGridCoord{-1, -1};
  return g;
}

int TDrawGrid::VisibleRowCount() {
  int h = ClientHeight();
  for (int r = 0; r < FFixedRows; ++r) h -= FRowHeights[r] + FGridLineWidth;
  int n = 0;
  for (int r = FTopRow; r < FRowCount && h >= FRowHeights[r] + FGridLineWidth; ++r, ++n) h -= FRowHeights[r] + FGridLineWidth;
  return n;
}

int TDrawGrid::VisibleColCount() {
  int w = ClientWidth();
  for (int c = 0; c < FFixedCols; ++c) w -= FColWidths[c] + FGridLineWidth;
  int n = 0;
  for (int c = FLeftCol; c < FColCount && w >= FColWidths[c] + FGridLineWidth; ++c, ++n) w -= FColWidths[c] + FGridLineWidth;
  return n;
}

void TDrawGrid::SetTopRow(int value) {
  value = std::clamp(value, FFixedRows, std::max(FFixedRows, FRowCount - 1));
  if (value == FTopRow) return;
  FTopRow = value;
  UpdateScrollBars();
  Invalidate();
  if (OnTopLeftChanged) OnTopLeftChanged(this);
}

void TDrawGrid::SetLeftCol(int value) {
  value = std::clamp(value, FFixedCols, std::max(FFixedCols, FColCount - 1));
  if (value == FLeftCol) return;
  FLeftCol = value;
  UpdateScrollBars();
  Invalidate();
  if (OnTopLeftChanged) OnTopLeftChanged(this);
}

void TDrawGrid::UpdateScrollBars() {
  int scrollRows = FRowCount - FFixedRows;
  int visible = std::max(1, VisibleRowCount());
  bool need = scrollRows > visible;
  ShowScrollBar(Handle(), SB_VERT, need);
  if (need) {
    SCROLLINFO si;
    si.fMask = SIF_ALL;
    si.nMin = FFixedRows;
    si.nMax = FRowCount - 1;
    si.nPage = static_cast<UINT>(visible);
    si.nPos = FTopRow;
    SetScrollInfo(Handle(), SB_VERT, &si, TRUE);
  }
}

bool TDrawGrid::SelectCell(int col, int row) {
  bool can = true;
  if (OnSelectCell) OnSelectCell(this, col, row, can);
  return can;
}

bool TDrawGrid::FocusCell(int col, int row) {
  col = std::clamp(col, FFixedCols, FColCount - 1);
  row = std::clamp(row, FFixedRows, FRowCount - 1);
  if (col == FCol && row == FRow) return false;
  if (!SelectCell(col, row)) return false;
  FCol = col;
  FRow = row;
  MakeCellVisible(col, row);
  Invalidate();
  Click();
  return true;
}

void TDrawGrid::MakeCellVisible(int col, int row) {
  if (row < FTopRow) SetTopRow(row);
  else
    while (row >= FTopRow + std::max(1, VisibleRowCount()) && FTopRow < row) SetTopRow(FTopRow + 1);
  if (col < FLeftCol) SetLeftCol(col);
  else
    while (col >= FLeftCol + std::max(1, VisibleColCount()) && FLeftCol < col) SetLeftCol(FLeftCol + 1);
}

void TDrawGrid::DrawCell(int col, int row, const TRect& rect, TGridDrawState state) {
  if (OnDrawCell) OnDrawCell(this, col, row, rect, state);
}

void TDrawGrid::Paint() {
  TCanvas* c = Canvas();
  TRect cr = ClientRect();
  c->Brush()->SetColor(Color());
  c->FillRect(cr);
  for (int row = 0; row < FRowCount; ++row) {
    if (row >= FFixedRows && row < FTopRow) continue;
    for (int col = 0; col < FColCount; ++col) {
      if (col >= FFixedCols && col < FLeftCol) continue;
      TRect r = CellRect(col, row);
      if (r.left >= cr.right || r.top >= cr.bottom) continue;
      TGridDrawState state;
      bool fixed = col < FFixedCols || row < FFixedRows;
      if (fixed) state += gdFixed;
      bool current = FOptions.Contains(goRowSelect) ? row == FRow : (col == FCol && row == FRow);
      if (!fixed && current) {
        state += gdSelected;
        if (Focused()) state += gdFocused;
      }
      if (FDefaultDrawing) {
        c->Brush()->SetColor(fixed ? FFixedColor
                             : state.Contains(gdSelected) && (!state.Contains(gdFocused) || FOptions.Contains(goDrawFocusSelected))
                                 ? clHighlight
                                 : Color());
        c->FillRect(r);
        c->Font()->SetColor(state.Contains(gdSelected) && !fixed ? clHighlightText : Font()->Color());
      }
      DrawCell(col, row, r, state);
      c->Font()->Assign(Font());
      if (FDefaultDrawing && fixed) {
        TRect f = Rect(r.left, r.top, r.right + 1, r.bottom + 1);
        Frame3D(c, f, clBtnHighlight, clBtnShadow, 1);
      }
      if (FDefaultDrawing && state.Contains(gdFocused) && !FOptions.Contains(goRowSelect)) c->DrawFocusRect(r);
      // Grid lines to the right and below each cell.
      if (FGridLineWidth > 0) {
        bool vert = fixed ? FOptions.Contains(goFixedVertLine) : FOptions.Contains(goVertLine);
        bool horz = fixed ? FOptions.Contains(goFixedHorzLine) : FOptions.Contains(goHorzLine);
        c->Brush()->SetColor(fixed ? clBlack : clSilver);
        if (vert) c->FillRect(Rect(r.right, r.top, r.right + FGridLineWidth, r.bottom + FGridLineWidth));
        if (horz) c->FillRect(Rect(r.left, r.bottom, r.right + FGridLineWidth, r.bottom + FGridLineWidth));
      }
    }
  }
}

void TDrawGrid::KeyDown(WORD& key, TShiftState shift) {
  TCustomControl::KeyDown(key, shift);
  int col = FCol, row = FRow;
  int page = std::max(1, VisibleRowCount());
  switch (key) {
    case VK_LEFT: --col; break;
    case VK_RIGHT: ++col; break;
    case VK_UP: --row; break;
    case VK_DOWN: ++row; break;
    case VK_PRIOR: row -= page; break;
    case VK_NEXT: row += page; break;
    case VK_HOME: col = FFixedCols; if (shift.Contains(ssCtrl)) row = FFixedRows; break;
    case VK_END: col = FColCount - 1; if (shift.Contains(ssCtrl)) row = FRowCount - 1; break;
    default: return;
  }
  FocusCell(col, row);
  key = 0;
}

void TDrawGrid::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == mbLeft) {
    if (CanFocus() && !Focused()) SetFocus();
    TGridCoord g = MouseCoord(x, y);
    if (g.X >= FFixedCols && g.Y >= FFixedRows) FocusCell(g.X, g.Y);
  }
  TCustomControl::MouseDown(button, shift, x, y);
}

void TDrawGrid::MouseMove(TShiftState shift, int x, int y) {
  TCustomControl::MouseMove(shift, x, y);
}

bool TDrawGrid::DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) {
  if (TCustomControl::DoMouseWheel(shift, wheelDelta, mousePos)) return true;
  SetTopRow(FTopRow - wheelDelta / WHEEL_DELTA);
  return true;
}

void TDrawGrid::Resize() {
  TCustomControl::Resize();
  UpdateScrollBars();
}

void TDrawGrid::WndProc(TMessage& message) {
  if (message.Msg == WM_VSCROLL) {
    switch (LOWORD(static_cast<DWORD>(message.WParam))) {
      case SB_LINEUP: SetTopRow(FTopRow - 1); break;
      case SB_LINEDOWN: SetTopRow(FTopRow + 1); break;
      case SB_PAGEUP: SetTopRow(FTopRow - std::max(1, VisibleRowCount())); break;
      case SB_PAGEDOWN: SetTopRow(FTopRow + std::max(1, VisibleRowCount())); break;
      case SB_THUMBPOSITION:
      case SB_THUMBTRACK: SetTopRow(static_cast<SHORT>(HIWORD(static_cast<DWORD>(message.WParam)))); break;
      default: break;
    }
    return;
  }
  TCustomControl::WndProc(message);
}
