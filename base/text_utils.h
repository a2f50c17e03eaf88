#pragma once
// Small stateless helpers of text, arrays, numbers and rectangles.
// Positions in texts are 0-based here; all text is single-byte text.
#include <cstdint>
#include <string>

#include "platform/rtl/strings.h"
#include "platform/win/win_types.h"

// ---- text ----

// Every occurrence of oldText (case-sensitive, left to right) replaced; the
// search goes on behind the inserted text, never inside it.
std::string ReplaceSubstring(const std::string& text, const std::string& oldText, const std::string& newText);

struct TFourIntegers {
  int32_t Values[4] = {0, 0, 0, 0};
};
// Reads the first four runs of "0123456789+-" characters as integers; raises
// EConvertError for fewer runs or a run that is no number ("1-2").
void ParseFourIntegers(const std::string& text, TFourIntegers& out);
// Adds one to the decimal number at the end of the text, with carry: "a9" gives
// "a10", "abc" gives "abc1", "" gives "1".
std::string IncrementNumberText(const std::string& text);
// True when one of texts[0..highIndex] equals text exactly.
bool TextInArray(const std::string& text, const std::string* texts, int highIndex);
// The fields between separators; an empty field after the last separator is
// not added.
void SplitToStrings(const std::string& text, char separator, TStrings* strings);
// The n-th field (from 0), "" when the text has fewer.
std::string ExtractField(const std::string& text, char separator, int n);
// Adds each string stored as a length byte and its bytes. Stops when fewer than
// two bytes are left, and at a length byte that runs past the end of the block.
void ReadLengthPrefixedStrings(const uint8_t* block, int64_t length, TStrings* strings);
// Trims every line; deletes those that end up empty.
void TrimAndPackLines(TStrings* strings);

// ---- arrays: reverse elements 0..highIndex in place ----

void ReverseBytes(uint8_t* first, int highIndex);
void ReverseWords(uint16_t* first, int highIndex);
void ReverseIntegers(int32_t* first, int highIndex);
// 3-byte colour triples, moved whole.
void ReverseTriples(uint8_t* first, int highIndex);

// ---- numbers ----

int32_t MaxInteger(int32_t a, int32_t b);
int32_t LargerOf(int32_t a, int32_t b);
int32_t MinInteger(int32_t a, int32_t b);
int32_t SmallerOf(int32_t a, int32_t b);
double MaxFloat(double a, double b);
double MinFloat(double a, double b);
int32_t FloorToInt(double x);
int32_t CeilToInt(double x);
void SwapIntegers(int32_t& a, int32_t& b);

// ---- rectangles (right and bottom exclusive) ----

bool PointInRectangle(const TPoint& point, const TRect& rect);
TRect InflateRectangle(const TRect& rect, int32_t dx, int32_t dy);
// The largest box of the aspect's proportions centred in rect, clipped to it;
// rect itself when any side or aspect term is 0.
void FitAspectRect(const TRect& rect, int32_t aspectWidth, int32_t aspectHeight, TRect& out);
// A rectangle of inner's size centred in outer.
void CenterRectInRect(const TRect& outer, const TRect& inner, TRect& out);
// A width by height box centred in rect (rounding differs from CenterRectInRect
// for odd sizes).
void CenterSizeInRect(const TRect& rect, int32_t width, int32_t height, TRect& out);
