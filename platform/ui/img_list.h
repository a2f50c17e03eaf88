#pragma once
// Image lists: pictures of one size kept with their transparency, drawn by index
// onto a canvas, enabled or greyed out.
#include <cstdint>
#include <vector>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_icon.h"
#include "platform/rtl/object.h"

class TCustomImageList : public TComponent {
public:
  explicit TCustomImageList(TComponent* owner);
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // Changing the size empties the list, as the framework does.
  void SetWidth(int value);
  void SetHeight(int value);
  int Count() const { return static_cast<int>(FImages.size()); }
  TColor BkColor() const { return FBkColor; }
  void SetBkColor(TColor value) { FBkColor = value; }

  // Adds the bitmap, cut into as many images as its width holds; mask pixels
  // that are set (white) are transparent. Returns the index of the first, -1 for none.
  int Add(TBitmap* image, TBitmap* mask);
  // The same with every pixel of maskColor transparent.
  int AddMasked(TBitmap* image, TColor maskColor);
  int AddIcon(TIcon* icon);
  void Replace(int index, TBitmap* image, TBitmap* mask);
  void ReplaceMasked(int index, TBitmap* image, TColor maskColor);
  void ReplaceIcon(int index, TIcon* icon);
  void Delete(int index);
  void Clear();
  void Move(int curIndex, int newIndex);

  // Draws the image with its top-left at (x, y); a disabled image is drawn grey.
  void Draw(TCanvas* canvas, int x, int y, int index, bool enabled = true);
  // The image over BkColor (or white) as a bitmap of the list's size.
  void GetBitmap(int index, TBitmap* image);
  // The image as a 32-bit icon with its transparency.
  void GetIcon(int index, TIcon* icon);

  TNotifyEvent OnChange;

private:
  // One image: blue, green, red, alpha, top-down rows.
  using Pixels = std::vector<uint8_t>;
  Pixels FromBitmap(TBitmap* image, int left, bool (*transparent)(TBitmap*, int, int, const void*), const void* arg);
  Pixels FromIcon(TIcon* icon);
  void CheckIndex(int index) const;
  void Changed();
  int FWidth = 16;
  int FHeight = 16;
  TColor FBkColor = clNone;
  std::vector<Pixels> FImages;
};

class TImageList : public TCustomImageList {
public:
  explicit TImageList(TComponent* owner) : TCustomImageList(owner) {}
};
