#pragma once
// Result assembly: from the base icon (48, 32 and 16 pixel images at 32 bits)
// the display icon (the previews and the 32-bit images of the saved icon) and
// the result icon (the source of its 8-bit masked images) are derived on every
// change of an option: effects, drop shadows, colorize, background merge and
// the style overlay, per image size as the window's check boxes say. The last
// stage makes the icon that Save writes.
//
// Everything here works on icons and bitmaps only; the main window passes its
// control values in a TResultOptions.
#include <cstdint>
#include <functional>
#include <string>

#include "icons/advanced_icon.h"
#include "platform/graphics/graphics.h"

class TIconLibrary;

// Sharpens one 24-bit plane in place: each channel p + (p - mean of a
// boxSize box) x amount / 10, clamped.
using TPlaneSharpener = std::function<void(TBitmap* plane, int amount, int boxSize)>;
// The imaging library's area sharpener over the whole plane; the options use it
// unless a caller hands in another one.
void SharpenPlaneWithLibrary(TBitmap* plane, int amount, int boxSize);

// One check box per preview size.
struct TSizeBoxes {
  bool Size48 = true;
  bool Size32 = true;
  bool Size16 = true;
  // Only images of exactly 48, 32 or 16 pixels square qualify, and only when
  // their size's box is ticked.
  bool TickedFor(int width, int height) const;
};

struct TResultOptions {
  int Hue = 0;         // -180..180
  int Saturation = 0;  // -100..100
  int Lightness = 0;   // -100..100
  int Opacity = 0;     // -100..100
  int Sharpness = 0;   // 0..48
  bool Colorize = false;
  TColor ColorizeColor = 0xECC235;  // resolved RGB
  bool MergeBackground = false;
  TColor BackgroundColor = 0xFFFFFF;  // resolved RGB
  TSizeBoxes Effects;
  TSizeBoxes Style;
  TSizeBoxes Shadow{false, false, false};
  TAdvancedIcon* StyleIcon = nullptr;  // the chosen style, nil for none
  TPlaneSharpener SharpenPlane = SharpenPlaneWithLibrary;
};

// The whole update, in order: copies of the base icon, effects, shadows,
// colorize and background, the thumbnail copy (taken before the style), the
// style, and the final icon in result.
void UpdateResultIcon(TAdvancedIcon& base, const TResultOptions& options, TAdvancedIcon& display, TAdvancedIcon& result,
                      TAdvancedIcon& thumbnail);

// ---- the stages ----
void ApplyEffects(TAdvancedIcon& display, TAdvancedIcon& result, const TResultOptions& options);
void ApplyEffectsToImage(TAdvancedIcon& icon, int index, const TResultOptions& options, bool allowOpacity);
void ApplyShadows(TAdvancedIcon& display, TAdvancedIcon& result, const TResultOptions& options);
void AddShadowToImage(TAdvancedIcon& icon, int index);
void ApplyColorizeAndBackground(TAdvancedIcon& display, TAdvancedIcon& result, const TResultOptions& options);
void ApplyStyle(TAdvancedIcon& display, TAdvancedIcon& result, const TResultOptions& options);
void AssembleResultIcon(TAdvancedIcon& display, TAdvancedIcon& result);
void AddPaletteImages(TAdvancedIcon& source, TAdvancedIcon& target);
void AddAlphaImages(TAdvancedIcon& source, TAdvancedIcon& target);

// ---- bitmap operations ----
// Hue in degrees, lightness and saturation in percent, added in HSL. The pixel
// is read with its blue byte as red, so +120 turns red into blue.
void AdjustHueSaturationLightness(TBitmap* bitmap, TBitmap* mask, int hue, int lightness, int saturation);
void SharpenBitmap(TBitmap* bitmap, int amount, int boxSize, const TPlaneSharpener& sharpenPlane);
// Moves a picture up and left by one pixel when that makes room for its shadow
// at the bottom right and loses nothing: the rows and columns that wrap round
// or are cleared must be fully transparent.
void MakeRoomForShadow(TBitmap* bitmap);
// True when every pixel of the rectangle (clipped to the bitmap) has alpha 0.
bool IsAreaClear(TBitmap* bitmap, const TRect& rect);
void ClearArea(TBitmap* bitmap, const TRect& rect);
// A three-stop gradient black, colour, white over R + G + B.
void ColorizeBitmap(TBitmap* bitmap, TColor colour);
void MergeBackgroundColor(TBitmap* bitmap, TBitmap* scratch, TBitmap* mask, TColor colour);
// target: the image's colour with alpha shape x image alpha / 255 over the
// common area.
void MaskByAlpha(TBitmap* image, TBitmap* shape, TBitmap* target);

// ---- previews ----
// Where a preview draws its picture along one side of its box: centred, and at
// 0 when that would be below 2.
int PreviewOffset(int boxSide, int bitmapSide);

// ---- style list ----
inline constexpr int kStyleThumbSize = 48;
// Loads the style library; a missing or unreadable file leaves it empty, so
// that the list holds only its first item, "no style". Returns the number of
// styles.
int LoadStyleLibrary(TIconLibrary& library, const std::string& fileName);
// The strip of style thumbnails: row 0 the icon without style, row k+1 with
// style k of the library; each flattened onto the list colour.
void RenderStyleThumbnails(TAdvancedIcon& thumbnail, const TIconLibrary* styles, TColor listColour, TBitmap* strip);
// True when the strip holds the whole row of item index (the strip is empty
// before its first rendering).
bool StyleStripHoldsRow(int index, int stripHeight);
