#pragma once
// Grids of cells that the program draws itself: TDrawGrid.
#include <functional>
#include <vector>

#include "platform/ui/controls.h"

struct TGridCoord {
  int X = 0;
  int Y = 0;
};
struct TGridRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
};

enum TGridDrawStateItem : uint8_t { gdSelected, gdFocused, gdFixed };
using TGridDrawState = TSet<TGridDrawStateItem>;
enum TGridOption : uint8_t {
  goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect, goDrawFocusSelected, goRowSizing,
  goColSizing, goRowMoving, goColMoving, goEditing, goTabs, goRowSelect, goAlwaysShowEditor, goThumbTracking
};
using TGridOptions = TSet<TGridOption>;

using TDrawCellEvent = std::function<void(TObject* sender, int col, int row, const TRect& rect, TGridDrawState state)>;
using TSelectCellEvent = std::function<void(TObject* sender, int col, int row, bool& canSelect)>;

class TDrawGrid : public TCustomControl {
public:
  explicit TDrawGrid(TComponent* owner);
  int ColCount() const { return FColCount; }
  void SetColCount(int value);
  int RowCount() const { return FRowCount; }
  void SetRowCount(int value);
  int FixedCols() const { return FFixedCols; }
  void SetFixedCols(int value);
  int FixedRows() const { return FFixedRows; }
  void SetFixedRows(int value);
  int DefaultColWidth() const { return FDefaultColWidth; }
  void SetDefaultColWidth(int value);
  int DefaultRowHeight() const { return FDefaultRowHeight; }
  void SetDefaultRowHeight(int value);
  int ColWidths(int col) const { return FColWidths.at(col); }
  void SetColWidths(int col, int value);
  int RowHeights(int row) const { return FRowHeights.at(row); }
  void SetRowHeights(int row, int value);
  int GridLineWidth() const { return FGridLineWidth; }
  void SetGridLineWidth(int value) { FGridLineWidth = std::max(0, value); Invalidate(); }
  TGridOptions Options() const { return FOptions; }
  void SetOptions(TGridOptions value) { FOptions = value; Invalidate(); }
  bool DefaultDrawing() const { return FDefaultDrawing; }
  void SetDefaultDrawing(bool value) { FDefaultDrawing = value; }
  TColor FixedColor() const { return FFixedColor; }
  void SetFixedColor(TColor value) { FFixedColor = value; Invalidate(); }

  int Col() const { return FCol; }
  int Row() const { return FRow; }
  // Moving the current cell in code asks OnSelectCell too; a veto leaves it.
  void SetCol(int value) { FocusCell(value, FRow); }
  void SetRow(int value) { FocusCell(FCol, value); }
  TGridRect Selection() const { return TGridRect{FCol, FRow, FCol, FRow}; }
  int TopRow() const { return FTopRow; }
  void SetTopRow(int value);
  int LeftCol() const { return FLeftCol; }
  void SetLeftCol(int value);
  int VisibleRowCount();
  int VisibleColCount();
  // The cell at a client point; -1 for a coordinate outside the cells.
  TGridCoord MouseCoord(int x, int y);
  // The cell's rectangle (empty when the cell is scrolled out of view).
  TRect CellRect(int col, int row);
  bool FocusOnClick() const override { return true; }
  UINT DialogCode() override { return DLGC_WANTARROWS; }

  TDrawCellEvent OnDrawCell;
  TSelectCellEvent OnSelectCell;
  TNotifyEvent OnTopLeftChanged;

protected:
  void Paint() override;
  void KeyDown(WORD& key, TShiftState shift) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  bool DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) override;
  void Resize() override;
  void WndProc(TMessage& message) override;
  virtual bool SelectCell(int col, int row);
  virtual void DrawCell(int col, int row, const TRect& rect, TGridDrawState state);
  // Makes the cell current when OnSelectCell allows it; true when it moved.
  bool FocusCell(int col, int row);

private:
  void UpdateScrollBars();
  void MakeCellVisible(int col, int row);
  int FColCount = 5;
  int FRowCount = 5;
  int FFixedCols = 1;
  int FFixedRows = 1;
  int FDefaultColWidth = 64;
  int FDefaultRowHeight = 24;
  std::vector<int> FColWidths;
  std::vector<int> FRowHeights;
  int FGridLineWidth = 1;
  TGridOptions FOptions{goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect};
  bool FDefaultDrawing = true;
  TColor FFixedColor = clBtnFace;
  int FCol = 1;
  int FRow = 1;
  int FTopRow = 1;
  int FLeftCol = 1;
};
