#pragma once
// What the screen shows of a form, captured from the X server, kept as a PNG in
// the build's test-output folder, and compared with the form's own rendering.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/forms.h"
#include "platform/ui/picture_file.h"
#include "platform/ui/ui_backend.h"

// The number of client-area pixels whose colour differs on the screen; -1
// when the screen could not be read or its size differs. pngPath receives the
// file the screenshot went to.
inline int CompareScreenWithForm(TCustomForm* form, const std::string& pngName, std::string& pngPath) {
  const TPoint o = form->ClientOrigin();
  TBitmap* own = form->Backing();
  const TRect place = Rect(o.x, o.y - form->ClientTop(), o.x + own->Width(), o.y - form->ClientTop() + own->Height());
  TBitmap shot;
  if (!UIBackend().CaptureScreen(place, &shot)) return -1;
  const auto dir = std::filesystem::path(QV_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(dir);
  pngPath = (dir / pngName).string();
  SavePicturePng(&shot, pngPath);
  // The form's own picture beside it, so a difference can be seen.
  SavePicturePng(own, (dir / ("form_" + pngName)).string());
  if (shot.Width() != own->Width() || shot.Height() != own->Height()) return -1;
  int differing = 0;
  for (int y = 0; y < own->Height(); ++y)
    for (int x = 0; x < own->Width(); ++x)
      if ((static_cast<const uint32_t*>(shot.ScanLine(y))[x] & 0xFFFFFF) !=
          (static_cast<const uint32_t*>(own->ScanLine(y))[x] & 0xFFFFFF))
        ++differing;
  return differing;
}

// The same after the form has been repainted and the X server has caught up:
// on a loaded machine a window manager can take seconds to map and draw a
// window, so the comparison is repeated until it agrees or a deadline passes.
inline int SettledScreenDiff(TCustomForm* form, const std::string& pngName, std::string& pngPath) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int differing = -1;
  do {
    form->InvalidateRect(form->WindowClientRect());
    form->PaintDirty();
    Application->ProcessMessages();
    UIBackend().WaitForEvents(50);
    Application->ProcessMessages();
    differing = CompareScreenWithForm(form, pngName, pngPath);
  } while (differing != 0 && std::chrono::steady_clock::now() < until);
  return differing;
}
