#pragma once
// Picture utilities of the icon maker: one icon image (or the whole icon)
// written as ico, bmp, jpg, png, icpr or gif by a save dialog's chosen filter,
// JPEG saving with a fallback quality, an icon image as a GIF with a
// transparent colour or drawn onto a background colour, colorizing icons, and
// toolbar image lists (with their disabled twins) from an image strip.
#include <string>

#include "platform/graphics/graphics_types.h"

class TAdvancedIcon;
class TSubIcon;
class TBitmap;
class TGIFImage;
class TOpenDialog;
class TCustomImageList;

// Writes the image, or for the icon and project formats the whole icon, in the
// format of the dialog's selected filter entry; fileName gets that extension
// and is handed back. A nil image takes the icon's first; a nil icon writes the
// image alone. Raises "Invalid icon. Can not save" when there is no image, and
// an error naming the extension for a filter outside the six formats.
void ExportSubIcon(TAdvancedIcon* icon, TSubIcon* image, TOpenDialog* dialog, std::string& fileName);
// The same with the extension pattern given directly ("ico", "bmp", "jpg",
// "jpeg", "png", "icpr", "gif").
void ExportSubIconAs(TAdvancedIcon* icon, TSubIcon* image, const std::string& ext, std::string& fileName);
// Saves at the quality; when that fails, once more at quality 70, whose
// failure raises.
void SaveBitmapAsJPEG(TBitmap* bitmap, int quality, const std::string& fileName);
// The quality the fallback of SaveBitmapAsJPEG uses.
inline constexpr int kJpegFallbackQuality = 70;
void SubIconToGIF(TSubIcon* image, int alphaThreshold, TGIFImage* gif);
void RenderSubIconOnBitmap(TSubIcon* image, TBitmap* bitmap, TColor colour);
void ColorizeSubIcon(TSubIcon* image, TColor colour);
void ColorizeIcon(TAdvancedIcon* icon, TColor colour);
// Per pixel of alpha a: a = 0 gives transparentColour, else each channel
// colour + a * pixel / 255 - a * colour / 255.
void BlendBitmap32OnColor(TBitmap* source32, TBitmap* target24, TColor colour, TColor transparentColour);
// Fills the list (and the disabled list, when given) from a BMP or PNG strip;
// true when the list holds an image afterwards. Never raises for a bad file.
bool LoadImageListEx(const std::string& fileName, TCustomImageList* list, TCustomImageList* disabledList,
                     TColor background);
bool LoadImageList(const std::string& fileName, TCustomImageList* list, TCustomImageList* disabledList);
// The program's bitmap resource of that name (a packed DIB) into bitmap; false
// when there is none or it cannot be read.
bool LoadBitmapResource(TBitmap* bitmap, const char* name);
