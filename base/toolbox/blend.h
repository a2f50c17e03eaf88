#pragma once
// Alpha compositing of unpremultiplied pixels (bytes blue, green, red, alpha;
// read as a 32-bit value 0xAARRGGBB) and the shared 64 KB blend table that holds
// the colour weight of the upper pixel for every pair of alphas.
#include <cstdint>
#include <string>

#include "platform/graphics/graphics.h"

// The weight 0..255 of the source colour when a source of alpha sa is put over
// a destination of alpha da: round(255 sa / (sa + da - sa da / 255)), 0 when
// both are 0. The blend table holds this value at index da * 256 + sa.
uint8_t BlendWeight(uint8_t da, uint8_t sa);

constexpr int kBlendTableSize = 65536;

// Loads the table from a file of exactly 65,536 bytes or more (the first 65,536
// count). A missing file leaves things as they are; a shorter file is refused,
// since a table with zeroed tail weights would silently drop source colours.
// Returns true when a table is in place afterwards from this file.
bool LoadBlendTable(const std::string& fileName);
// "data\\blend.dat" beside the program, when it is there; BlendTable() calls it
// on first use unless a table was loaded or dropped before.
void InitBlendTable();
void UnloadBlendTable();
// The loaded table, or nullptr when none was found.
const uint8_t* BlendTable();

// The source pixel composited over the destination pixel.
uint32_t BlendPixel(uint32_t s, uint32_t d);
// The source pixel composited over an opaque colour given as 0x00BBGGRR; the
// result is opaque.
uint32_t BlendPixelOverOpaque(uint32_t s, uint32_t colour);

// Block routines on contiguous pixel arrays of count pixels.
void BlendRowOver(const uint32_t* src, uint32_t* dst, int count);
void FadeAlphaRow(uint32_t* px, int count, int amount);

// ---- compositing of framework bitmaps ----

// Source over target, both pf32bit, over their common top-left area.
void Composite32(TBitmap* source, TBitmap* target);
// A pf32bit source over a pf32bit or pf24bit target.
void DrawAlphaOver(TBitmap* source, TBitmap* target);
// Every pixel of a pf32bit bitmap composited over the pixel value.
void CompositeOverColor32(TBitmap* bitmap, uint32_t value);
// The pf32bit source composited over an opaque colour (0x00BBGGRR) into a
// target of the same size.
void FlattenOnColor(TBitmap* source, TBitmap* target, uint32_t colour);
// The rectangle, clipped to the bitmap, covered with the pixel value.
void FillRectAlpha(uint32_t value, TBitmap* bitmap, const RECT& rect);
void FillAlpha(uint32_t value, TBitmap* bitmap);
// Work becomes a pf32bit copy of the source whose alphas are scaled by amount
// (-255..255), then the mask marks the fully transparent pixels.
void AdjustAlpha(TBitmap* source, TBitmap* work, TBitmap* mask, int amount, bool skipEmpty);
void FadeAlpha(TBitmap* bitmap, int amount);
