#include "platform/graphics/graphics_types.h"

#include <array>

namespace {

// The classic Windows scheme ("Windows Standard"): what forms drawn headless
// should look like, and what the program's own defaults were chosen against.
constexpr std::array<DWORD, 31> kSysColors = {
    RGB(212, 208, 200),  // scroll bar
    RGB(58, 110, 165),   // desktop
    RGB(10, 36, 106),    // active caption
    RGB(128, 128, 128),  // inactive caption
    RGB(212, 208, 200),  // menu
    RGB(255, 255, 255),  // window
    RGB(0, 0, 0),        // window frame
    RGB(0, 0, 0),        // menu text
    RGB(0, 0, 0),        // window text
    RGB(255, 255, 255),  // caption text
    RGB(212, 208, 200),  // active border
    RGB(212, 208, 200),  // inactive border
    RGB(128, 128, 128),  // application workspace
    RGB(10, 36, 106),    // highlight
    RGB(255, 255, 255),  // highlight text
    RGB(212, 208, 200),  // button face
    RGB(128, 128, 128),  // button shadow
    RGB(128, 128, 128),  // grey text
    RGB(0, 0, 0),        // button text
    RGB(212, 208, 200),  // inactive caption text
    RGB(255, 255, 255),  // button highlight
    RGB(64, 64, 64),     // 3D dark shadow
    RGB(212, 208, 200),  // 3D light
    RGB(0, 0, 0),        // tooltip text
    RGB(255, 255, 225),  // tooltip background
    RGB(181, 181, 181),  // (unused index 25)
    RGB(0, 0, 128),      // hot-tracked item
    RGB(166, 202, 240),  // gradient of the active caption
    RGB(192, 192, 192),  // gradient of the inactive caption
    RGB(49, 106, 197),   // highlighted menu item
    RGB(212, 208, 200),  // menu bar
};

}  // namespace

DWORD GetSysColor(int index) {
  if (index < 0 || index >= static_cast<int>(kSysColors.size())) return 0;
  return kSysColors[static_cast<size_t>(index)];
}

TColor ColorToRGB(TColor color) {
  if (color < 0) return static_cast<TColor>(GetSysColor(color & 0xFF));
  return color;
}
