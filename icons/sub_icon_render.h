#pragma once
// Rendering of icon images into framework bitmaps: the colour part as stored,
// the AND mask as a 1-bit bitmap, the image as it looks on a background colour,
// and drawing on a canvas; and the conversions between DIB and PNG images.
//
// A PNG image is kept compressed exactly as it was read; whatever needs its
// pixels decodes it into a temporary DIB image first.
#include "icons/sub_icon.h"
#include "platform/graphics/graphics_bitmap.h"

class TPNGImage;

// The background value that means "no colour".
inline constexpr TColor kNoBackground = 0x1FFFFFFF;

// Fills the bitmaps that are given (nil: not wanted) from the image. A DIB
// whose rows the bits do not hold is "Invalid image"; a short AND mask reads
// as opaque. PNG images are decoded first (DecodePNG) and may raise the PNG
// errors.
void ExtractBitmaps(TSubIcon& image, TBitmap* composite, TBitmap* raw, TColor background, TBitmap* mask);

// Draws the image on a canvas at (x, y) at its own size.
void DrawSubIcon(TCanvas* canvas, int x, int y, TSubIcon& image, TColor background);
void DrawThroughMask(TCanvas* canvas, const TRect& dest, TBitmap& colour, TBitmap& mask);

// Replaces the image's bits by a 32-bit DIB of a pf32bit bitmap; the AND mask
// is set where alpha is below 96.
void SetFrom32BitBitmap(TSubIcon& image, TBitmap& bitmap);

// The image drawn into a bitmap of its size and depth.
void AssignSubIconToBitmap(TSubIcon& image, TBitmap& bitmap);
// When dest is an X bitmap (TXBMImage): the image drawn black and white on it,
// its AND mask as the XBM's mask and its hotspot; false for any other dest.
bool AssignSubIconToXbm(TSubIcon& image, TPersistent* dest);

// The image as a PNG picture: a PNG image as it is; a 32-bit image with its
// alpha; an opaque image at its own depth; a masked 1-, 4- or 8-bit image as
// an 8-bit palette picture with a transparent index; a masked 16- or 24-bit
// image as 32 bits with alpha 0 where masked.
void AssignToPNG(TSubIcon& image, TPNGImage& png);

// Gives target the PNG encoding of source (which may be target itself) and sets
// its store-as-PNG flag; the head keeps the width, height, planes and bit count
// of the DIB. A PNG source is copied as it is. A source without bits is
// "Invalid image".
void EncodePNG(TSubIcon& source, TSubIcon& target);

// True when a PNG stream's sides are within the limit of every icon image and
// its image data is long enough to hold its pixels (deflate expands at most
// 1032 to 1); only such a PNG is worth decoding.
bool PngWithinIconLimits(const std::vector<uint8_t>& bits);

// Gives target (which may be source itself) a DIB decoded from the source's
// PNG bits, chosen by the bit count of the source's entry, and clears its
// store-as-PNG flag; the hotspot stays. A PNG wider or taller than the largest
// image side, or with less compressed data than its size needs, is "Invalid
// image" before anything is decoded.
void DecodePNG(TSubIcon& source, TSubIcon& target);
