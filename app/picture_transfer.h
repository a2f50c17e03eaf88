#pragma once
// Pictures between the imaging library's bitmap (colour plus a separate alpha
// channel) and the framework's 32-bit bitmaps (alpha in the fourth byte), as the
// main window moves its source picture to the converter and back.
#include "imaging/core/ie_bitmap.h"
#include "platform/graphics/graphics.h"

// Without an alpha channel the framework's own copy; with one a pf32bit
// bitmap of colour and alpha. An alpha channel that is 0 everywhere is read as
// opaque: such pictures lost their alpha somewhere on the way.
void IEBitmapToBitmap32(TIEBitmap& source, TBitmap& target);
// A pf32bit bitmap becomes ie24RGB with an alpha channel of its alpha (255
// everywhere when all of it is 0); any other bitmap the library's own copy.
void Bitmap32ToIEBitmap(TBitmap& source, TIEBitmap& target);

// The view's own framework bitmap, for a reader that leaves it as it is: only
// a plain 24-bit picture without alpha channel that already lives in a
// framework bitmap (as the view keeps its picture) is handed out, so that no
// copy of a large picture is made; nullptr otherwise.
TBitmap* SharedFrameworkBitmap(TIEBitmap& picture);

class TAdvancedIcon;
class TStream;
class TGraphic;
// The icon's best image for 48 x 48 at 32 bits as a PNG stream, so that its
// alpha reaches the view; false (nothing written) for an icon without images.
bool IconToPngStream(TAdvancedIcon& icon, TStream& stream);
// A picture as a BMP stream that keeps 32-bit alpha.
void PictureToBmpStream(TGraphic* picture, TStream& stream);
