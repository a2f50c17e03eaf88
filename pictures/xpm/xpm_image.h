#pragma once
// The X11 pictures that are C source text: TXPMImage (X pixmaps, held 32-bit
// with alpha; also xv's "P7 332" thumbnails) and TXBMImage (X bitmaps, 1-bit,
// with an optional ".mask" companion file and a hotspot).
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/streams.h"

inline constexpr const char* kXpmErr1 = "Invalid XPM image data, err. 1";
inline constexpr const char* kXpmErr2 = "Invalid XPM image data, err. 2";
inline constexpr const char* kXpmErr3 = "Invalid XPM image data, err. 3";
inline constexpr const char* kXpmErr4 = "Invalid XPM image data, err. 4";
inline constexpr const char* kXpmErr5 = "Invalid XPM image data, err. 5";
inline constexpr const char* kXpmZeroFile = "Zero file";
inline constexpr const char* kXpmNoEndOfComments = "#END_OF_COMMENTS: not found";

// ---- the text helpers both formats share ----

// Lower case, every character but digits, "_" and lower-case letters made "_";
// "noname" for nothing; "s" in front of a name that would start with a digit.
std::string MakeCIdentifier(const std::string& name);
uint8_t ReverseBits8(uint8_t value);
// The first run of decimal digits at or after the position, 0 when none.
int64_t ReadNumberAfter(size_t position, const std::string& text);
// The text without its C comments; comments inside double-quoted strings are
// text. An unterminated comment runs to the end.
std::string RemoveComments(const std::string& text);
// An X11 colour name ("light grey" and "LightGrey" alike, numbered shades,
// grey0 to grey100) or "#" with 3, 6, 9 or 12 hexadecimal digits as 0xRRGGBB;
// false for "none" and an empty value (transparent). Unknown names are black.
bool XpmColorValue(const std::string& value, uint32_t& rgb);
// The built-in X11 table: false when the name is not there.
bool FindX11Color(const std::string& name, uint32_t& rgb);
// The built-in X11 colour names in their table order, and beside each its
// value as 0xRRGGBB (lower-case names without blanks).
void LoadX11ColorNames(std::vector<std::string>& names, std::vector<uint32_t>& values);

// One colour keyword of SVG: its name, and its colour as 0x00BBGGRR (-2 for "none").
struct TSvgColorKeyword {
  std::u16string_view Name;
  int32_t Color;
};
// The 145 SVG colour keywords, "none" first, then alphabetical.
std::span<const TSvgColorKeyword> SvgColorKeywords();

class TXPMImage : public TBitmap {
public:
  TXPMImage();

  void Assign(TPersistent* source) override;
  void Draw(TCanvas* canvas, const TRect& rect) override;
  bool GetTransparent() override { return false; }
  // Format errors raise the texts above (conversion errors of the values line
  // pass through); the picture stays as it was.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) override;

  // The picture as a 24-bit colour bitmap and a mask, white where alpha is 0.
  void SplitColorAndMask(TBitmap* color, TBitmap* mask);

  std::string XpmName;
  const std::string& LastRefusal() const { return FLastRefusal; }

private:
  void LoadP7Thumbnail(const std::string& text);
  std::string FLastRefusal;
};

class TXBMImage : public TBitmap {
public:
  TXBMImage();
  ~TXBMImage() override;

  void Assign(TPersistent* source) override;
  void Draw(TCanvas* canvas, const TRect& rect) override;
  bool GetTransparent() override { return false; }
  // With "name.mask" beside the file the mask is read too. The picture stays
  // as it was when either file is refused.
  void LoadFromFile(const std::string& fileName) override;
  // Writes the picture and, with a mask that has transparent pixels, the mask
  // file; a mask file left from before is deleted otherwise.
  void SaveToFile(const std::string& fileName) override;

  // Inverts the pixels that lie under white (transparent) mask pixels.
  void ApplyMaskInversion();

  std::string XbmName;
  int32_t HotSpotX = -1;
  int32_t HotSpotY = 0;
  std::unique_ptr<TBitmap> MaskBitmap;  // white marks transparent pixels
  // Why the last load refused a file ("" after a good load).
  const std::string& LastRefusal() const { return FLastRefusal; }

private:
  std::string FLastRefusal;
};

// Reads one XBM file into a black-and-white bitmap (a set bit is black) and
// gives its hotspot (0 when the file names none). A refused file raises the
// reader's message; refusal, when given, gets the rule that fired.
void ReadXbmFile(const std::string& fileName, TBitmap* bitmap, int32_t& hotX, int32_t& hotY,
                 std::string* refusal = nullptr);
// The text of an XBM file of the bitmap; for a mask, transparent tells whether
// any byte had a clear bit.
std::string XbmText(TBitmap* bitmap, const std::string& name, bool mask, int32_t hotX, int32_t hotY,
                    bool* transparent = nullptr);
