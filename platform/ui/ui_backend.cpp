#include "platform/ui/ui_backend.h"

#include <cstring>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/headless/headless_backend.h"

namespace {
std::unique_ptr<TUIBackend>& Current() {
  static std::unique_ptr<TUIBackend> backend;
  return backend;
}

// The screen DC reads the screen of whichever back end runs: the desktop's
// under Qt, the forms on the desktop colour when headless.
bool ReadScreen(const RECT& area, std::vector<uint32_t>& pixels) {
  TBitmap shot;
  const TRect r = Rect(area.left, area.top, area.right, area.bottom);
  if (!UIBackend().CaptureScreen(r, &shot)) return false;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (shot.Width() != w || shot.Height() != h || shot.PixelFormat() != pf32bit) return false;
  pixels.resize(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y) std::memcpy(&pixels[size_t(y) * size_t(w)], shot.ScanLine(y), size_t(w) * 4);
  return true;
}

void InstallScreenReader() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  SetScreenReader(ReadScreen);
}
}  // namespace

TUIBackend& UIBackend() {
  auto& b = Current();
  if (!b) {
    b = std::make_unique<THeadlessBackend>();
    InstallScreenReader();
  }
  return *b;
}

void SetUIBackend(std::unique_ptr<TUIBackend> backend) {
  Current() = std::move(backend);
  InstallScreenReader();
}
