#include "base/ui_helpers.h"

#include <algorithm>

#include "base/text_utils.h"
#include "platform/rtl/sysutils.h"

namespace {

constexpr int kScreenMargin = 30;

// The text behind "*." of the pattern field at fieldIndex, or false when the
// filter has no such field or it holds no "*.".
bool PatternExt(const std::string& filter, int fieldIndex, std::string& ext, bool& exists) {
  size_t from = 0;
  for (int i = 0; i < fieldIndex; ++i) {
    const size_t bar = filter.find('|', from);
    if (bar == std::string::npos) {
      exists = false;
      return false;
    }
    from = bar + 1;
  }
  exists = true;
  const size_t end = filter.find('|', from);
  const std::string pattern = filter.substr(from, end == std::string::npos ? std::string::npos : end - from);
  const size_t star = pattern.find("*.");
  if (star == std::string::npos) return false;
  ext = pattern.substr(star + 2);
  return true;
}

int KeepInside(int pos, int size, int screenSize) {
  pos = std::max(pos, kScreenMargin);
  if (pos + size > screenSize - kScreenMargin) pos = screenSize - kScreenMargin - size;
  return pos;
}

}  // namespace

std::string GetFilterExt(const std::string& filter, int n) {
  if (n <= 0) return {};
  std::string ext;
  bool exists = false;
  return PatternExt(filter, 2 * n - 1, ext, exists) ? ext : std::string();
}

int FindFilterIndex(const std::string& filter, const std::string& extension) {
  const std::string wanted = LowerCase(extension);
  for (int n = 1;; ++n) {
    std::string ext;
    bool exists = false;
    const bool found = PatternExt(filter, 2 * n - 1, ext, exists);
    if (!exists) return 0;
    if (found && ext == wanted) return n;
  }
}

TPoint FormPositionLeftOfCursor(const TPoint& mouse, int width, int height, const TSize& screen) {
  return Point(KeepInside(mouse.x - width, width, screen.cx), KeepInside(mouse.y - height / 2, height, screen.cy));
}

TPoint FormPositionAtCursor(const TPoint& mouse, int width, int height, const TSize& screen) {
  return Point(KeepInside(mouse.x - width / 2, width, screen.cx),
               KeepInside(mouse.y - height / 2, height, screen.cy));
}

void FitPictureInArea(const TRect& client, int pictureWidth, int pictureHeight, int margin, TRect& bounds,
                      bool& stretch) {
  const TRect area = InflateRectangle(client, -margin, -margin);
  stretch = pictureWidth > area.right - area.left || pictureHeight > area.bottom - area.top;
  if (stretch) FitAspectRect(area, pictureWidth, pictureHeight, bounds);
  else CenterSizeInRect(area, pictureWidth, pictureHeight, bounds);
}

TReopenFileHolder::TReopenFileHolder() : FFiles(std::make_unique<TStringList>()), FItems(std::make_unique<TList>()) {}
