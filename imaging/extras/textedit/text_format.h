#pragma once
// The character format record of formatted memo text. The same 280 bytes live
// in memory, in vector-object streams and on the clipboard, so the layout is
// fixed; equal formats share one record, which counts the characters using it.
//
// Memo text is single-byte Windows-1252, one format per byte (the way files
// hold it); the helpers below convert it to and from UTF-8 at the edges
// (typing, CF_TEXT).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/graphics/graphics_canvas.h"

struct TIETextFormat {
  int32_t RefCount = 0;       // characters using the record
  uint8_t FontName[256] = {};  // length byte, then up to 255 characters
  int32_t FontHeight = 0;     // as TFont::Height (negative: character height in pixels)
  uint8_t FontStyle = 0;      // bit 0 bold, 1 italic, 2 underline, 3 strike-out
  uint8_t Reserved1[3] = {};
  int32_t FontColor = 0;      // TColor
  int32_t BackColor = 0;      // TColor of the character background
  uint8_t BackStyle = 0;      // TBrushStyle of the character background
  uint8_t Alignment = 0;      // 0 left, 1 right, 2 centre, 3 justified (the paragraph this character ends)
  uint8_t Reserved2[2] = {};

  std::string Name() const { return std::string(reinterpret_cast<const char*>(FontName + 1), FontName[0]); }
  void SetName(const std::string& name);
  TFontStyles Styles() const;
  void SetStyles(TFontStyles styles);
  // The height as a font may use it: a record from a file can hold any value,
  // and a font millions of pixels high would stall the rasteriser.
  int32_t SafeFontHeight() const;
};
static_assert(sizeof(TIETextFormat) == 280);
static_assert(offsetof(TIETextFormat, FontHeight) == 260);
static_assert(offsetof(TIETextFormat, FontStyle) == 264);
static_assert(offsetof(TIETextFormat, FontColor) == 268);
static_assert(offsetof(TIETextFormat, BackColor) == 272);
static_assert(offsetof(TIETextFormat, BackStyle) == 276);
static_assert(offsetof(TIETextFormat, Alignment) == 277);

constexpr size_t kTextFormatSize = sizeof(TIETextFormat);
// Font heights beyond this (either sign) are drawn at this size.
constexpr int32_t kMaxTextFontHeight = 2048;

// Two records are one format when everything but the count is equal.
bool SameTextFormat(const TIETextFormat& a, const TIETextFormat& b);
// A record of a font and a character background with a paragraph alignment.
TIETextFormat MakeTextFormat(TFont* font, TBrush* back, uint8_t alignment);
// The record as the 280 bytes it is stored as (little-endian), and back.
void TextFormatToBytes(const TIETextFormat& format, uint8_t* out);
TIETextFormat TextFormatFromBytes(const uint8_t* bytes);

// The formats of one memo: the records, and one record index per character.
using TIETextFormats = std::vector<TIETextFormat>;

// Memo text and CF_TEXT: Windows-1252 bytes with LF line breaks on one side,
// UTF-8 with CR LF on the other.
// The Windows-1252 byte of a code point; -1 for one the code page lacks.
int Windows1252Byte(uint32_t codePoint);
uint32_t Windows1252CodePoint(uint8_t byte);
// UTF-8 text to memo bytes: CR is dropped (a CR LF pair becomes LF), characters
// outside the code page are left out.
std::string Utf8ToMemoText(const std::string& utf8);
// Memo bytes to UTF-8, every LF written as CR LF.
std::string MemoTextToUtf8(const std::string& memo);
