#pragma once
// TIEView: the window control every image view of the library descends from.
// It keeps what the views share: the background colour, the border, the
// resolution reported for the shown picture, and the list of handlers through
// which the input/output and processing components follow the view's bitmap.
// It paints nothing itself.
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/core/ie_view_link.h"
#include "platform/ui/controls.h"

class TIEBitmap;

class TIEView : public TCustomControl, public TIEViewLink {
public:
  explicit TIEView(TComponent* owner);
  ~TIEView() override;

  // ---- the virtual operations, in their contract order ----
  virtual void SetBackground(uint32_t color) override;
  virtual TBitmap* GetBitmap() override;
  virtual TIEBitmap* GetIEBitmap() override;
  virtual TIEBitmap* GetAlphaChannel() = 0;
  virtual bool GetHasAlphaChannel() = 0;
  virtual void RemoveAlphaChannel(bool merge) = 0;
  virtual void LockPaint() = 0;
  // Both return the paint-lock count that remains.
  virtual int UnlockPaint() = 0;
  virtual int UnlockPaintNoRefresh() = 0;
  // 0 leaves the value as it was.
  virtual void SetDpiX(int32_t value) override;
  virtual void SetDpiY(int32_t value) override;
  virtual void SetDPI(int32_t x, int32_t y) override;
  virtual void ImageChange() override {}
  virtual void NotifyBitmapChange();

  // ---- bitmap-change handlers ----
  // The record returned is the handle; a handler added twice is called twice.
  void* AddBitmapChangeHandler(TIEBitmapChangeEvent callback, TObject* data) override;
  // A nil or unknown handle is ignored.
  void RemoveBitmapChangeHandler(void* handle) override;
  int BitmapChangeHandlerCount() const { return static_cast<int>(FHandlers.size()); }

  // ---- properties ----
  uint32_t Background() const override { return FBackground; }
  int32_t DpiX() const override { return FDpiX; }
  int32_t DpiY() const override { return FDpiY; }
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle value);
  bool Ctl3D() const { return FCtl3D; }
  void SetCtl3D(bool value);
  bool ParentCtl3D() const { return FParentCtl3D; }
  void SetParentCtl3D(bool value) { FParentCtl3D = value; }
  TCanvas* GetCanvas() { return Canvas(); }

  // TIEViewLink
  TComponent* ViewComponent() override { return this; }
  TIEViewKind ViewKind() const override { return ievkBase; }
  bool PostToWindow(uint32_t message, uintptr_t wParam) override;

protected:
  // Walks the handlers when the view goes away: each hears code 1 once.
  void NotifyViewDestroying();
  // The border and Ctl3D changed: the window would be made again.
  virtual void RecreateWindow() { Invalidate(); }

  uint32_t FBackground;
  int32_t FDpiX = 0;
  int32_t FDpiY = 0;

private:
  struct HandlerRecord {
    TIEBitmapChangeEvent callback;
    TObject* data = nullptr;
  };
  TBorderStyle FBorderStyle = bsSingle;
  std::vector<std::unique_ptr<HandlerRecord>> FHandlers;
  bool FCtl3D = true;
  bool FParentCtl3D = true;
};
