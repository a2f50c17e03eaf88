#include "imaging/views/ie_view.h"

#include <algorithm>

#include "platform/ui/windows.h"

TIEView::TIEView(TComponent* owner) : TCustomControl(owner), FBackground(clBtnFace) {
  TControlStyle style = ControlStyle();
  style.Include(csAcceptsControls);
  style.Include(csOpaque);
  style.Include(csReplicatable);
  SetControlStyle(style);
}

TIEView::~TIEView() { NotifyViewDestroying(); }

void TIEView::NotifyViewDestroying() {
  // Each record leaves the list before its handler runs, so a handler that
  // removes itself (or another) from inside the call finds nothing to free.
  while (!FHandlers.empty()) {
    std::unique_ptr<HandlerRecord> record = std::move(FHandlers.front());
    FHandlers.erase(FHandlers.begin());
    if (record && record->callback) record->callback(record->data, this, 1);
  }
}

void TIEView::SetBackground(uint32_t color) { FBackground = color; }
TBitmap* TIEView::GetBitmap() { return nullptr; }
TIEBitmap* TIEView::GetIEBitmap() { return nullptr; }

void TIEView::SetDpiX(int32_t value) {
  if (value != 0) FDpiX = value;
}
void TIEView::SetDpiY(int32_t value) {
  if (value != 0) FDpiY = value;
}
void TIEView::SetDPI(int32_t x, int32_t y) {
  SetDpiX(x);
  SetDpiY(y);
}

void TIEView::NotifyBitmapChange() {
  // The count is taken once: handlers added meanwhile wait for the next change.
  const size_t count = FHandlers.size();
  for (size_t i = 0; i < count && i < FHandlers.size(); ++i) {
    HandlerRecord* record = FHandlers[i].get();
    if (record && record->callback) record->callback(record->data, this, 0);
  }
}

void* TIEView::AddBitmapChangeHandler(TIEBitmapChangeEvent callback, TObject* data) {
  auto record = std::make_unique<HandlerRecord>();
  record->callback = std::move(callback);
  record->data = data;
  void* handle = record.get();
  FHandlers.push_back(std::move(record));
  return handle;
}

void TIEView::RemoveBitmapChangeHandler(void* handle) {
  if (!handle) return;
  auto it = std::find_if(FHandlers.begin(), FHandlers.end(),
                         [handle](const std::unique_ptr<HandlerRecord>& r) { return r.get() == handle; });
  if (it != FHandlers.end()) FHandlers.erase(it);
}

void TIEView::SetBorderStyle(TBorderStyle value) {
  if (value == FBorderStyle) return;
  FBorderStyle = value;
  RecreateWindow();
}

void TIEView::SetCtl3D(bool value) {
  if (value == FCtl3D) return;
  FCtl3D = value;
  RecreateWindow();
}

bool TIEView::PostToWindow(uint32_t message, uintptr_t wParam) {
  // Only a window that stands on a form has a message loop behind it.
  if (Parent() == nullptr || !HandleAllocated()) return false;
  return PostMessage(Handle(), message, WPARAM(wParam), 0) != FALSE;
}
