#pragma once
// Helpers of the user interface that need no window: the extension patterns of
// file dialog filters, where the small pop-up windows go, how a preview picture
// fits its panel, and the recent-file holder.
#include <memory>
#include <string>

#include "platform/rtl/lists.h"
#include "platform/rtl/object.h"
#include "platform/rtl/strings.h"
#include "platform/win/win_types.h"

// The text behind "*." of the n-th (1-based) pattern of a filter text that
// alternates descriptions and patterns separated by "|"; empty when n is 0 or
// less, beyond the filter's entries, or the pattern holds no "*.".
std::string GetFilterExt(const std::string& filter, int n);
// The 1-based number of the first entry whose pattern text behind "*." equals
// the lower-cased extension exactly; 0 when there is none.
int FindFilterIndex(const std::string& filter, const std::string& extension);

// Where a window of the given size goes so that its right edge is at the mouse
// and its vertical middle at the mouse, kept 30 pixels inside the screen.
TPoint FormPositionLeftOfCursor(const TPoint& mouse, int width, int height, const TSize& screen);
// Where a window goes so that it is centred on the mouse, kept 30 pixels inside
// the screen.
TPoint FormPositionAtCursor(const TPoint& mouse, int width, int height, const TSize& screen);

// The bounds of a picture in a panel's client rectangle less margin on each side:
// a picture larger than that area is fitted keeping its aspect and stretched,
// a smaller one is centred at its own size.
void FitPictureInArea(const TRect& client, int pictureWidth, int pictureHeight, int margin, TRect& bounds,
                      bool& stretch);

// The recent-file list the application creates at start-up; it holds the
// names and their registry place but does nothing with them yet.
class TReopenFileHolder : public TObject {
public:
  TReopenFileHolder();
  TStringList& Files() { return *FFiles; }
  TList& Items() { return *FItems; }
  int Limit() const { return FLimit; }
  const std::string& Section() const { return FSection; }
  const std::string& ValueName() const { return FValueName; }

private:
  std::unique_ptr<TStringList> FFiles;
  std::unique_ptr<TList> FItems;
  int FLimit = 5;
  std::string FSection = "Shell";
  std::string FValueName = "Reopen";
};
