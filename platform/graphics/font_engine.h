#pragma once
// Glyph rasterisation for the drawing layer: FreeType renders, fontconfig maps a
// Windows face name ("Arial", "MS Sans Serif", "Tahoma") onto an installed face.
// The drawing layer composes coverage masks into bitmaps itself.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fontengine {

struct FontSpec {
  std::string face;       // Windows face name; empty or unknown maps to a default sans face
  int height = 0;         // as lfHeight: < 0 character height in pixels, > 0 cell height, 0 default (-13 at 96 DPI)
  int width = 0;          // average width in pixels, 0 for the face's own
  int weight = 400;       // 100..900, 700 bold
  bool italic = false;
  bool underline = false;
  bool strikeout = false;
  int escapement = 0;     // tenths of a degree, counter-clockwise
  // The glyphs' shape on the device after the turn by the escapement, as
  // {xx, xy, yx, yy} with y up: x' = xx x + xy y, y' = yx x + yy y. A map that
  // leans, stretches or mirrors text sets it; the pixel size above stays the
  // size along the glyphs' own up direction.
  std::array<double, 4> matrix{1, 0, 0, 1};
  bool antialiased = true;  // false renders 1-bit (NONANTIALIASED_QUALITY)
};

struct Glyph {
  int width = 0;      // of the coverage mask
  int height = 0;
  int left = 0;       // pen x to the mask's left edge
  int top = 0;        // baseline to the mask's top edge (up is positive)
  int advance = 0;    // pen advance in whole pixels
  std::vector<uint8_t> coverage;  // width*height, 0..255, rows top-down
  // The pen advance as a vector (y up) in 1/64 pixel. Equals (advance*64, 0)
  // for plain text; turned or reshaped text (escapement, matrix) moves the pen
  // along its own baseline. advance stays the untransformed width.
  int advanceX64 = 0;
  int advanceY64 = 0;
};

// A glyph's outline: closed contours of points in pixels from the pen position
// (x to the right, y up), curves flattened, turned and shaped like the glyph's
// coverage.
struct OutlinePoint {
  double x;
  double y;
};
using GlyphOutline = std::vector<std::vector<OutlinePoint>>;

struct Metrics {
  int height = 0;            // ascent + descent
  int ascent = 0;
  int descent = 0;
  int internalLeading = 0;
  int externalLeading = 0;
  int aveCharWidth = 0;
  int maxCharWidth = 0;
  int weight = 400;
  bool italic = false;
  std::string faceName;      // the face actually used
  // Decoration lines, in pixels below (underline) or above (strike-out) the baseline.
  int underlinePosition = 1;
  int underlineThickness = 1;
  int strikeoutPosition = 0;
  int strikeoutThickness = 1;
};

class Face {
public:
  virtual ~Face() = default;
  virtual const Metrics& GetMetrics() const = 0;
  // Glyph of a Unicode code point; cached, valid while the face lives.
  virtual const Glyph& GetGlyph(uint32_t codePoint) = 0;
  // Kerning adjustment in pixels between two code points (0 when none).
  virtual int Kerning(uint32_t left, uint32_t right) = 0;
  // Outline of a Unicode code point (empty when the glyph has none); not cached,
  // as only text drawn into a path asks for it.
  virtual GlyphOutline GetOutline(uint32_t codePoint) = 0;
};

// Opens (or returns from a cache) the face that best matches the request. Never
// fails while any font is installed; throws Exception when none is.
std::shared_ptr<Face> OpenFace(const FontSpec& spec);

// Decodes single-byte text of the system code page (UTF-8 here) into code points;
// bytes that are not valid UTF-8 are taken as Windows-1252.
std::vector<uint32_t> DecodeText(const std::string& text);
// The code point of a Windows-1252 byte (the bytes 0x81, 0x8D, 0x8F, 0x90 and
// 0x9D, which the code page leaves free, stay as they are).
uint32_t Windows1252ToCodePoint(uint8_t byte);

// The families installed (fontconfig's list), sorted, each once; what a font
// dialog offers.
std::vector<std::string> InstalledFamilies();

// The same, with bytes that are not UTF-8 taken in a Windows code page: 1251
// (Cyrillic), 1253 (Greek), anything else 1252.
std::vector<uint32_t> DecodeText(const std::string& text, int codePage);
// The code page of a font's character set: 161 (Greek) 1253, 204 (Russian)
// 1251, any other 1252.
int CodePageOfCharset(int charset);

// The installed family a Windows face name is drawn with ("Arial" -> "DejaVu Sans"
// when Liberation is missing); what OpenFace would pick for a regular weight.
std::string ResolveFamily(const std::string& windowsFace);

// Appends the UTF-8 bytes of a code point.
void AppendUtf8(std::string& out, uint32_t codePoint);

}  // namespace fontengine
