#pragma once
// Single colour values: bytes, red/blue exchange between TColor (0x00BBGGRR)
// and pixel order, HSL and HSV, colour names, multi-stop gradients.
#include <cstdint>
#include <string>

#include "base/typed_lists.h"
#include "platform/graphics/graphics_types.h"
#include "platform/win/win_types.h"

// ---- values ----

// Bytes 0, 1, 2 of the colour (red, green, blue of a TColor).
void ColorToRGBBytes(uint32_t color, uint8_t bytes[3]);
// Bytes 2, 1, 0 of the colour.
void ColorToBGRBytes(uint32_t color, uint8_t bytes[3]);
// A system colour resolved to its RGB value, then red and blue exchanged
// (0x00RRGGBB).
uint32_t ColorToRGBValue(TColor color);
// Red and blue exchanged and alpha 0xFF; system colours are not resolved.
uint32_t ColorToOpaqueARGB(uint32_t color);
uint32_t ColorLow24(uint32_t value);
// Bytes 0 and 2 exchanged, bytes 1 and 3 kept.
uint32_t SwapRedBlue(uint32_t value);
int32_t ClampColorByte(int32_t value);
void MaxMin3(int32_t a, int32_t b, int32_t c, int32_t& min, int32_t& max);

// ---- colour spaces (byte 0 red, byte 1 green, byte 2 blue) ----

// Hue, saturation and lightness, each 0..1.
void ColorToHSL(double& hue, double& saturation, double& lightness, uint32_t color);
void ColorToHSL2(uint32_t color, double& hue, double& saturation, double& lightness);
// A hue out of 0..1 is brought back by one turn; saturation and lightness are
// clamped to 0..1. bytes are red, green, blue.
void HSLToBytes(uint8_t bytes[3], double hue, double saturation, double lightness);
// The low three bytes become red, green, blue; the top byte stays.
void HSLToColor(uint32_t& color, double hue, double saturation, double lightness);
double HueToRGBChannel(double t, double q, double p);
double HueToRGBChannel2(double t, double q, double p);
// Integers: hue 0..359, saturation and value 0..99.
void ColorToHSV(int32_t& hue, int32_t& saturation, int32_t& value, uint32_t color);

// The colour of the screen pixel at the point.
TColor ScreenPixel(const TPoint& point);

// ---- names ----

// The colour of a framework colour identifier ("clBtnFace", any case); false
// for a text that names none.
bool IdentToColor(const std::string& ident, TColor& color);
// A colour written as "#RRGGBB", "$BBGGRR", a decimal number, "0x" and
// hexadecimal digits, a framework colour name with or without its "cl", or
// "Default" (any case). Raises Exception for an empty text and EConvertError
// for a text that is neither a number nor a colour name.
TColor ParseColorName(const std::string& text);

// ---- gradients ----

// The colour at fraction x (0..1) of a gradient whose ascending stop positions
// run from positions[0] to the last position.
uint32_t GradientColorAt(const TListLongint& colors, const TListLongint& positions, double x);
