#pragma once
// The main window's picture area: the source picture fitted into the control
// over a chessboard, with one rectangular selection the user drags out. It
// keeps the picture as a library bitmap (colour plus a separate alpha channel)
// and reads files into it through the library's input/output component.
//
// It offers the calls the window makes of an image view by the same names
// (IEBitmap, GetIO, Fit, Select, Deselect, CopySelectionToIEBitmap...), so the
// window's code reads the same whichever view stands behind it.
#include <memory>

#include "imaging/core/ie_bitmap.h"
#include "platform/ui/controls.h"

class TImageLibIO;

class TSourceView : public TCustomControl {
public:
  explicit TSourceView(TComponent* owner);
  ~TSourceView() override;

  // The picture; call Update after changing it.
  TIEBitmap* IEBitmap() { return FBitmap.get(); }
  // The input/output component working on the picture, made on first use.
  TImageLibIO* GetIO();
  // True when the picture is at most 1 x 1 pixel.
  bool IsEmptyBitmap();
  // The picture changed: the selection is dropped when it no longer fits, and
  // the view is fitted again when AutoFit is on.
  void Update();

  bool AutoFit() const { return FAutoFit; }
  void SetAutoFit(bool value);
  // Fits the whole picture into the control (small pictures are enlarged).
  void Fit();
  // Percent: 100 shows one picture pixel per screen pixel.
  double Zoom() const { return FZoom; }
  void SetZoom(double percent);

  // Pictures with an alpha channel show it over the chessboard.
  bool EnableAlphaChannel() const { return FEnableAlphaChannel; }
  void SetEnableAlphaChannel(bool value);

  // ---- coordinates ----
  int ScreenToBitmapX(int x) const;
  int ScreenToBitmapY(int y) const;
  int BitmapToScreenX(int x) const;
  int BitmapToScreenY(int y) const;

  // ---- selection (kept in picture coordinates) ----
  // A new rectangular selection from two corners in view coordinates, clipped
  // to the picture; an empty rectangle leaves no selection.
  void Select(int x1, int y1, int x2, int y2);
  void Deselect();
  bool Selected() const { return FSelected; }
  // Picture coordinates, right and bottom exclusive.
  TRect SelectedRect() const { return FSelection; }
  // The selected area (alpha included), or the whole picture without a selection.
  void CopySelectionToIEBitmap(TIEBitmap& target);
  // The selected area as a framework bitmap (colour only).
  void CopySelectionToBitmap(TBitmap& target);
  // While set, a dragged selection stays square.
  bool KeepSelectionSquare() const { return FKeepSquare; }
  void SetKeepSelectionSquare(bool value) { FKeepSquare = value; }

  // Fired when the user finishes a selection with the mouse.
  TNotifyEvent OnSelectionChange;

protected:
  void Paint() override;
  void Resize() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;

private:
  // Where the picture lies in the control at the current zoom.
  TRect PictureRect() const;
  // The picture at display size over the chessboard, made again when the
  // picture or its display size changed.
  void BuildDisplay();
  void DragTo(int x, int y);

  std::unique_ptr<TIEBitmap> FBitmap;
  TImageLibIO* FIO = nullptr;  // owned as a component
  std::unique_ptr<TBitmap> FDisplay;
  bool FDisplayStale = true;
  bool FAutoFit = true;
  double FZoom = 100;
  bool FEnableAlphaChannel = true;
  bool FSelected = false;
  TRect FSelection{};
  bool FKeepSquare = false;
  bool FDragging = false;
  TPoint FDragStart{};
};
