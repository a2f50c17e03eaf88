#include "pictures/xpm/xpm_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "base/colour_values.h"
#include "base/text_utils.h"
#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/palettes.h"
#include "base/toolbox/shadows_metafile.h"
#include "pictures/common/mono_bitmap.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/sysutils.h"

namespace {

struct TX11Color {
  const char* name;
  uint32_t rgb;
};

// The X11 colour names an XPM may use without a number, as 0xRRGGBB. A few
// differ from the X11 database on purpose: the last eleven have the values of
// the web's colour names, and brown is the darkest of X11's browns.
// "florawhite" is an old misspelling that files still carry.
const TX11Color kX11Colors[] = {
    {"black", 0x000000}, {"white", 0xFFFFFF}, {"aliceblue", 0xF0F8FF}, {"antiquewhite", 0xFAEBD7},
    {"aqua", 0x00FFFF}, {"aquamarine", 0x7FFFD4}, {"azure", 0xF0FFFF}, {"beige", 0xF5F5DC},
    {"bisque", 0xFFE4C4}, {"blanchedalmond", 0xFFEBCD}, {"blue", 0x0000FF}, {"blueviolet", 0x8A2BE2},
    {"brown", 0x8B2323}, {"burlywood", 0xDEB887}, {"cadetblue", 0x5F9EA0}, {"chartreuse", 0x7FFF00},
    {"chocolate", 0xD2691E}, {"coral", 0xFF7F50}, {"cornflowerblue", 0x6495ED}, {"cornsilk", 0xFFF8DC},
    {"crimson", 0xDC143C}, {"cyan", 0x00FFFF}, {"darkblue", 0x00008B}, {"darkcyan", 0x008B8B},
    {"darkgoldenrod", 0xB8860B}, {"darkgray", 0xA9A9A9}, {"darkgrey", 0xA9A9A9}, {"darkgreen", 0x006400},
    {"darkkhaki", 0xBDB76B}, {"darkmagenta", 0x8B008B}, {"darkolivegreen", 0x556B2F},
    {"darkorange", 0xFF8C00}, {"darkorchid", 0x9932CC}, {"darkred", 0x8B0000}, {"darksalmon", 0xE9967A},
    {"darkseagreen", 0x8FBC8F}, {"darkslateblue", 0x483D8B}, {"darkslategray", 0x2F4F4F},
    {"darkslategrey", 0x2F4F4F}, {"darkturquoise", 0x00CED1}, {"darkviolet", 0x9400D3},
    {"deeppink", 0xFF1493}, {"deepskyblue", 0x00BFFF}, {"dimgray", 0x696969}, {"dimgrey", 0x696969},
    {"dodgerblue", 0x1E90FF}, {"firebrick", 0xB22222}, {"floralwhite", 0xFFFAF0}, {"florawhite", 0xFFFAF0},
    {"forestgreen", 0x228B22}, {"ghostwhite", 0xF8F8FF}, {"gainsboro", 0xDCDCDC}, {"gold", 0xFFD700},
    {"goldenrod", 0xDAA520}, {"gray", 0xBEBEBE}, {"grey", 0xBEBEBE}, {"green", 0x00FF00},
    {"greenyellow", 0xADFF2F}, {"honeydew", 0xF0FFF0}, {"hotpink", 0xFF69B4}, {"indianred", 0xCD5C5C},
    {"ivory", 0xFFFFF0}, {"khaki", 0xF0E68C}, {"lavender", 0xE6E6FA}, {"lavenderblush", 0xFFF0F5},
    {"lawngreen", 0x7CFC00}, {"lemonchiffon", 0xFFFACD}, {"lightblue", 0xADD8E6}, {"lightcoral", 0xF08080},
    {"lightcyan", 0xE0FFFF}, {"lightgreen", 0x90EE90}, {"lightgrey", 0xD3D3D3}, {"lightgray", 0xD3D3D3},
    {"lightpink", 0xFFB6C1}, {"lightsalmon", 0xFFA07A}, {"lightseagreen", 0x20B2AA},
    {"lightskyblue", 0x87CEFA}, {"lightslategray", 0x778899}, {"lightslategrey", 0x778899},
    {"lightsteelblue", 0xB0C4DE}, {"lightyellow", 0xFFFFE0}, {"limegreen", 0x32CD32}, {"linen", 0xFAF0E6},
    {"magenta", 0xFF00FF}, {"maroon", 0xB03060}, {"mediumblue", 0x0000CD}, {"mediumorchid", 0xBA55D3},
    {"mediumpurple", 0x9370DB}, {"mediumseagreen", 0x3CB371}, {"midnightblue", 0x191970},
    {"mintcream", 0xF5FFFA}, {"mistyrose", 0xFFE4E1}, {"moccasin", 0xFFE4B5}, {"navajowhite", 0xFFDEAD},
    {"navy", 0x000080}, {"oldlace", 0xFDF5E6}, {"olivedrab", 0x6B8E23}, {"orange", 0xFFA500},
    {"orangered", 0xFF4500}, {"orchid", 0xDA70D6}, {"palegoldenrod", 0xEEE8AA}, {"paleturquoise", 0xAFEEEE},
    {"palevioletred", 0xDB7093}, {"papayawhip", 0xFFEFD5}, {"peachpuff", 0xFFDAB9}, {"peru", 0xCD853F},
    {"pink", 0xFFC0CB}, {"plum", 0xDDA0DD}, {"powderblue", 0xB0E0E6}, {"purple", 0xA020F0}, {"red", 0xFF0000},
    {"rosybrown", 0xBC8F8F}, {"royalblue", 0x4169E1}, {"saddlebrown", 0x8B4513}, {"salmon", 0xFA8072},
    {"sandybrown", 0xF4A460}, {"seagreen", 0x2E8B57}, {"seashell", 0xFFF5EE}, {"sienna", 0xA0522D},
    {"skyblue", 0x87CEEB}, {"slateblue", 0x6A5ACD}, {"slategray", 0x708090}, {"slategrey", 0x708090},
    {"snow", 0xFFFAFA}, {"springgreen", 0x00FF7F}, {"steelblue", 0x4682B4}, {"tan", 0xD2B48C},
    {"thistle", 0xD8BFD8}, {"tomato", 0xFF6347}, {"turquoise", 0x40E0D0}, {"violet", 0xEE82EE},
    {"wheat", 0xF5DEB3}, {"whitesmoke", 0xF5F5F5}, {"yellow", 0xFFFF00}, {"yellowgreen", 0x9ACD32},
    {"fuchsia", 0xFF00FF}, {"indigo", 0x4B0082}, {"lightgoldenrodyellow", 0xFAFAD2}, {"lime", 0x00FF00},
    {"mediumaquamarine", 0x66CDAA}, {"mediumslateblue", 0x7B68EE}, {"mediumspringgreen", 0x00FA9A},
    {"mediumvioletred", 0xC71585}, {"olive", 0x808000}, {"palegreen", 0x98FB98}, {"silver", 0xC0C0C0},
    {"teal", 0x008080},
};

// The colour keywords of SVG 1.1 with the standard's values as 0x00BBGGRR,
// alphabetical, after "none" (-2). lightgrey, slategrey and snow are not in
// this list, which stands beside the X11 names for the vector side.
const TSvgColorKeyword kSvgColorKeywords[] = {
    {u"none", -2}, {u"aliceblue", 0xFFF8F0}, {u"antiquewhite", 0xD7EBFA}, {u"aqua", 0xFFFF00},
    {u"aquamarine", 0xD4FF7F}, {u"azure", 0xFFFFF0}, {u"beige", 0xDCF5F5}, {u"bisque", 0xC4E4FF},
    {u"black", 0x000000}, {u"blanchedalmond", 0xCDEBFF}, {u"blue", 0xFF0000}, {u"blueviolet", 0xE22B8A},
    {u"brown", 0x2A2AA5}, {u"burlywood", 0x87B8DE}, {u"cadetblue", 0xA09E5F}, {u"chartreuse", 0x00FF7F},
    {u"chocolate", 0x1E69D2}, {u"coral", 0x507FFF}, {u"cornflowerblue", 0xED9564}, {u"cornsilk", 0xDCF8FF},
    {u"crimson", 0x3C14DC}, {u"cyan", 0xFFFF00}, {u"darkblue", 0x8B0000}, {u"darkcyan", 0x8B8B00},
    {u"darkgoldenrod", 0x0B86B8}, {u"darkgray", 0xA9A9A9}, {u"darkgreen", 0x006400}, {u"darkgrey", 0xA9A9A9},
    {u"darkkhaki", 0x6BB7BD}, {u"darkmagenta", 0x8B008B}, {u"darkolivegreen", 0x2F6B55}, {u"darkorange", 0x008CFF},
    {u"darkorchid", 0xCC3299}, {u"darkred", 0x00008B}, {u"darksalmon", 0x7A96E9}, {u"darkseagreen", 0x8FBC8F},
    {u"darkslateblue", 0x8B3D48}, {u"darkslategray", 0x4F4F2F}, {u"darkslategrey", 0x4F4F2F},
    {u"darkturquoise", 0xD1CE00}, {u"darkviolet", 0xD30094}, {u"deeppink", 0x9314FF}, {u"deepskyblue", 0xFFBF00},
    {u"dimgray", 0x696969}, {u"dimgrey", 0x696969}, {u"dodgerblue", 0xFF901E}, {u"firebrick", 0x2222B2},
    {u"floralwhite", 0xF0FAFF}, {u"forestgreen", 0x228B22}, {u"fuchsia", 0xFF00FF}, {u"gainsboro", 0xDCDCDC},
    {u"ghostwhite", 0xFFF8F8}, {u"gold", 0x00D7FF}, {u"goldenrod", 0x20A5DA}, {u"gray", 0x808080},
    {u"green", 0x008000}, {u"greenyellow", 0x2FFFAD}, {u"grey", 0x808080}, {u"honeydew", 0xF0FFF0},
    {u"hotpink", 0xB469FF}, {u"indianred", 0x5C5CCD}, {u"indigo", 0x82004B}, {u"ivory", 0xF0FFFF},
    {u"khaki", 0x8CE6F0}, {u"lavender", 0xFAE6E6}, {u"lavenderblush", 0xF5F0FF}, {u"lawngreen", 0x00FC7C},
    {u"lemonchiffon", 0xCDFAFF}, {u"lightblue", 0xE6D8AD}, {u"lightcoral", 0x8080F0}, {u"lightcyan", 0xFFFFE0},
    {u"lightgoldenrodyellow", 0xD2FAFA}, {u"lightgray", 0xD3D3D3}, {u"lightgreen", 0x90EE90},
    {u"lightpink", 0xC1B6FF}, {u"lightsalmon", 0x7AA0FF}, {u"lightseagreen", 0xAAB220}, {u"lightskyblue", 0xFACE87},
    {u"lightslategray", 0x998877}, {u"lightslategrey", 0x998877}, {u"lightsteelblue", 0xDEC4B0},
    {u"lightyellow", 0xE0FFFF}, {u"lime", 0x00FF00}, {u"limegreen", 0x32CD32}, {u"linen", 0xE6F0FA},
    {u"magenta", 0xFF00FF}, {u"maroon", 0x000080}, {u"mediumaquamarine", 0xAACD66}, {u"mediumblue", 0xCD0000},
    {u"mediumorchid", 0xD355BA}, {u"mediumpurple", 0xDB7093}, {u"mediumseagreen", 0x71B33C},
    {u"mediumslateblue", 0xEE687B}, {u"mediumspringgreen", 0x9AFA00}, {u"mediumturquoise", 0xCCD148},
    {u"mediumvioletred", 0x8515C7}, {u"midnightblue", 0x701919}, {u"mintcream", 0xFAFFF5}, {u"mistyrose", 0xE1E4FF},
    {u"moccasin", 0xB5E4FF}, {u"navajowhite", 0xADDEFF}, {u"navy", 0x800000}, {u"oldlace", 0xE6F5FD},
    {u"olive", 0x008080}, {u"olivedrab", 0x238E6B}, {u"orange", 0x00A5FF}, {u"orangered", 0x0045FF},
    {u"orchid", 0xD670DA}, {u"palegoldenrod", 0xAAE8EE}, {u"palegreen", 0x98FB98}, {u"paleturquoise", 0xEEEEAF},
    {u"palevioletred", 0x9370DB}, {u"papayawhip", 0xD5EFFF}, {u"peachpuff", 0xB9DAFF}, {u"peru", 0x3F85CD},
    {u"pink", 0xCBC0FF}, {u"plum", 0xDDA0DD}, {u"powderblue", 0xE6E0B0}, {u"purple", 0x800080}, {u"red", 0x0000FF},
    {u"rosybrown", 0x8F8FBC}, {u"royalblue", 0xE16941}, {u"saddlebrown", 0x13458B}, {u"salmon", 0x7280FA},
    {u"sandybrown", 0x60A4F4}, {u"seagreen", 0x578B2E}, {u"seashell", 0xEEF5FF}, {u"sienna", 0x2D52A0},
    {u"silver", 0xC0C0C0}, {u"skyblue", 0xEBCE87}, {u"slateblue", 0xCD5A6A}, {u"slategray", 0x908070},
    {u"springgreen", 0x7FFF00}, {u"steelblue", 0xB48246}, {u"tan", 0x8CB4D2}, {u"teal", 0x808000},
    {u"thistle", 0xD8BFD8}, {u"tomato", 0x4763FF}, {u"turquoise", 0xD0E040}, {u"violet", 0xEE82EE},
    {u"wheat", 0xB3DEF5}, {u"white", 0xFFFFFF}, {u"whitesmoke", 0xF5F5F5}, {u"yellow", 0x00FFFF},
    {u"yellowgreen", 0x32CD9A},
};

}  // namespace

void LoadX11ColorNames(std::vector<std::string>& names, std::vector<uint32_t>& values) {
  names.clear();
  values.clear();
  names.reserve(std::size(kX11Colors));
  values.reserve(std::size(kX11Colors));
  for (const TX11Color& c : kX11Colors) {
    names.emplace_back(c.name);
    values.push_back(c.rgb);
  }
}

std::span<const TSvgColorKeyword> SvgColorKeywords() { return kSvgColorKeywords; }

namespace {

const std::unordered_map<std::string, uint32_t>& X11Table() {
  static const std::unordered_map<std::string, uint32_t> table = [] {
    std::vector<std::string> names;
    std::vector<uint32_t> values;
    LoadX11ColorNames(names, values);
    std::unordered_map<std::string, uint32_t> t;
    for (size_t i = 0; i < names.size(); ++i) t.emplace(names[i], values[i]);
    return t;
  }();
  return table;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "#" and n digits a channel, n of 1 to 4: each channel's top 8 bits of the
// 16-bit value that X11 makes of it.
bool ParseHexChannels(const std::string& value, uint32_t& rgb) {
  const size_t digits = value.size() - 1;
  if (digits % 3 != 0 || digits == 0 || digits > 12) return false;
  const size_t n = digits / 3;
  rgb = 0;
  for (size_t c = 0; c < 3; ++c) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) {
      const int d = HexDigit(value[1 + c * n + i]);
      if (d < 0) return false;
      v = v << 4 | static_cast<uint32_t>(d);
    }
    const uint32_t top = static_cast<uint32_t>((v << (16 - 4 * n)) >> 8);
    rgb = rgb << 8 | top;
  }
  return true;
}

uint32_t ShadeX11Color(uint32_t rgb, int64_t n) {
  static const int kFactor[5] = {255, 255, 238, 205, 139};
  if (n > 4) return 0;
  const int f = kFactor[std::max<int64_t>(n, 0)];
  uint32_t out = 0;
  for (int shift = 16; shift >= 0; shift -= 8)
    out |= static_cast<uint32_t>(Round(((rgb >> shift) & 0xFF) * f / 255.0)) << shift;
  return out;
}

// The text of a picture stream, whole.
std::string ReadText(TStream& stream) {
  std::string s(static_cast<size_t>(std::max<int64_t>(stream.Remaining(), 0)), '\0');
  if (!s.empty()) stream.ReadBuffer(s.data(), static_cast<int64_t>(s.size()));
  return s;
}

// Control characters dropped, tabs made spaces.
std::string Flatten(const std::string& s) {
  std::string d;
  d.reserve(s.size());
  for (char c : s) {
    if (c == '\t') d += ' ';
    else if (static_cast<unsigned char>(c) >= 32) d += c;
  }
  return d;
}

// The next double-quoted string at or after from; its content, and from moves
// past its closing quote.
bool NextQuoted(const std::string& text, size_t& from, std::string& content) {
  const size_t open = text.find('"', from);
  if (open == std::string::npos) return false;
  const size_t close = text.find('"', open + 1);
  if (close == std::string::npos) return false;
  content.assign(text, open + 1, close - open - 1);
  from = close + 1;
  return true;
}

// Up to four code characters as one number, for hashing.
uint32_t CodeKey(const char* p, int cpp) {
  uint32_t k = 0;
  for (int i = 0; i < cpp; ++i) k = k << 8 | static_cast<uint8_t>(p[i]);
  return k;
}

bool IsColorKey(const std::string& t) { return t == "c" || t == "m" || t == "s" || t == "g" || t == "g4"; }

// The value of the "c" key of a colour line, or false when it has none.
bool ColorKeyValue(const std::string& rest, std::string& value) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && rest[i] == ' ') ++i;
    const size_t start = i;
    while (i < rest.size() && rest[i] != ' ') ++i;
    if (i > start) tokens.emplace_back(rest, start, i - start);
  }
  for (size_t k = 0; k < tokens.size(); ++k) {
    if (tokens[k] != "c") continue;
    value.clear();
    for (size_t j = k + 1; j < tokens.size() && !IsColorKey(tokens[j]); ++j) value += tokens[j];
    return true;
  }
  return false;
}

// A copy of the picture as pf32bit; pictures without alpha become opaque.
std::unique_ptr<TBitmap> Opaque32Copy(TBitmap* bitmap) {
  auto copy = std::make_unique<TBitmap>();
  copy->Assign(bitmap);
  if (copy->PixelFormat() != pf32bit) {
    copy->SetPixelFormat(pf32bit);
    for (int y = 0; y < copy->Height(); ++y) {
      auto* p = static_cast<uint32_t*>(copy->ScanLine(y));
      for (int x = 0; x < copy->Width(); ++x) p[x] |= 0xFF000000u;
    }
  }
  return copy;
}

}  // namespace

// ---- text helpers ----

std::string MakeCIdentifier(const std::string& name) {
  std::string s = LowerCase(name);
  for (char& c : s)
    if (!((c >= '0' && c <= '9') || c == '_' || (c >= 'a' && c <= 'z'))) c = '_';
  if (s.empty()) return "noname";
  if (!(s[0] == '_' || (s[0] >= 'a' && s[0] <= 'z'))) s = "s" + s;
  return s;
}

uint8_t ReverseBits8(uint8_t value) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r << 1 | ((value >> i) & 1));
  return r;
}

int64_t ReadNumberAfter(size_t position, const std::string& text) {
  size_t i = position;
  while (i < text.size() && !(text[i] >= '0' && text[i] <= '9')) ++i;
  int64_t v = 0;
  // Held below 2^40: larger values are refused by every caller anyway.
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) v = std::min<int64_t>(v * 10 + (text[i] - '0'), int64_t(1) << 40);
  return v;
}

std::string RemoveComments(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      out += c;
      if (c == '"' || c == '\n') inString = false;
      continue;
    }
    if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      const size_t end = text.find("*/", i + 2);
      if (end == std::string::npos) break;
      i = end + 1;
      continue;
    }
    if (c == '"') inString = true;
    out += c;
  }
  return out;
}

bool FindX11Color(const std::string& name, uint32_t& rgb) {
  const auto& table = X11Table();
  const auto it = table.find(name);
  if (it == table.end()) return false;
  rgb = it->second;
  return true;
}

bool XpmColorValue(const std::string& raw, uint32_t& rgb) {
  std::string value;
  for (char c : LowerCase(raw))
    if (c != ' ') value += c;
  rgb = 0;
  if (value.empty() || value == "none") return false;
  if (value[0] == '#') {
    if (!ParseHexChannels(value, rgb)) rgb = ColorToRGBValue(ParseColorName(value));
    return true;
  }
  if (!(value.back() >= '0' && value.back() <= '9')) {
    FindX11Color(value, rgb);
    return true;
  }
  size_t split = value.size();
  while (split > 0 && value[split - 1] >= '0' && value[split - 1] <= '9') --split;
  const std::string name = value.substr(0, split);
  const int64_t n = ReadNumberAfter(split, value);
  if (name == "grey" || name == "gray") {
    if (n <= 100) {
      const uint32_t g = static_cast<uint32_t>(Round(n * 255 / 100.0));  // 2.55 is not exact in binary
      rgb = g * 0x010101;
    }
    return true;
  }
  uint32_t base = 0;
  if (FindX11Color(name, base)) rgb = ShadeX11Color(base, n);
  return true;
}

// ---- TXPMImage ----

TXPMImage::TXPMImage() { SetPixelFormat(pf32bit); }

void TXPMImage::Assign(TPersistent* source) {
  if (auto* xpm = dynamic_cast<TXPMImage*>(source)) XpmName = xpm->XpmName;
  TBitmap::Assign(source);
}

void TXPMImage::Draw(TCanvas* canvas, const TRect& rect) {
  if (!canvas || Empty()) return;
  if (PixelFormat() == pf32bit) {
    DrawAlphaStretched(this, canvas->Handle(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                       clNone);
    return;
  }
  StretchBlt(canvas->Handle(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
             Canvas()->Handle(), 0, 0, Width(), Height(), SRCCOPY);
}

void TXPMImage::LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) {
  TBitmap::LoadFromClipboardFormat(format, data, palette);
  // Clipboard pictures have no alpha: they come in opaque.
  if (PixelFormat() != pf32bit) {
    std::unique_ptr<TBitmap> copy = Opaque32Copy(this);
    TBitmap::Assign(copy.get());
  }
}

void TXPMImage::LoadP7Thumbnail(const std::string& text) {
  const size_t marker = text.find("#END_OF_COMMENTS");
  if (marker == std::string::npos) throw Exception(kXpmNoEndOfComments);
  const size_t lineStart = text.find('\n', marker);
  const size_t lineEnd = lineStart == std::string::npos ? std::string::npos : text.find('\n', lineStart + 1);
  if (lineEnd == std::string::npos) {
    FLastRefusal = "thumbnail without its size line";
    throw Exception(kXpmErr3);
  }
  TFourIntegers v;
  ParseFourIntegers(text.substr(lineStart + 1, lineEnd - lineStart - 1) + " 0", v);
  const int64_t w = v.Values[0], h = v.Values[1], maximum = v.Values[2];
  if (w <= 0 || w >= 65536 || h <= 0 || h >= 65536 || maximum <= 0 || maximum >= 16777215) {
    FLastRefusal = "thumbnail size or maximum out of range";
    throw Exception(kXpmErr3);
  }
  const size_t data = lineEnd + 1;
  if (static_cast<int64_t>(text.size() - data) < w * h) {
    FLastRefusal = "thumbnail pixels past the end of the text";
    throw Exception(kXpmErr3);
  }
  TBitmap work;
  work.SetPixelFormat(pf32bit);
  work.SetSize(static_cast<int>(w), static_cast<int>(h));
  const auto* p = reinterpret_cast<const uint8_t*>(text.data() + data);
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint32_t*>(work.ScanLine(y));
    for (int x = 0; x < w; ++x, ++p) {
      // Three bits of red, three of green, two of blue.
      const uint32_t r = ((*p >> 5) * 255 + 3) / 7, g = (((*p >> 2) & 7) * 255 + 3) / 7, b = (*p & 3) * 85;
      row[x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
  }
  TBitmap::Assign(&work);
}

void TXPMImage::LoadFromStream(TStream& stream) {
  FLastRefusal.clear();
  const std::string s = ReadText(stream);
  if (s.rfind("P7 332", 0) == 0) {
    LoadP7Thumbnail(s);
    return;
  }
  const std::string d = Flatten(RemoveComments(s));

  std::string name;
  const size_t brackets = d.find("[]");
  if (brackets != std::string::npos) {
    const size_t star = d.rfind('*', brackets);
    if (star != std::string::npos && brackets - star > 2) {
      name = Trim(d.substr(star + 1, brackets - star - 1));
      const size_t xpm = name.find("_xpm");
      if (xpm != std::string::npos) name.resize(xpm);
    }
  }

  size_t at = d.find('{');
  std::string values;
  if (at == std::string::npos || !NextQuoted(d, at, values)) {
    FLastRefusal = "no values string after the opening brace";
    throw Exception(kXpmErr1);
  }
  TFourIntegers v;
  ParseFourIntegers(Trim(values), v);
  const int64_t width = v.Values[0], height = v.Values[1], colours = v.Values[2], cpp = v.Values[3];
  if (width <= 0 || width >= 65536 || height <= 0 || height >= 65536 || colours <= 0 || colours >= 16777215 ||
      cpp < 0 || cpp > 4) {
    FLastRefusal = "size, colour count or characters per pixel out of range";
    throw Exception(kXpmErr2);
  }
  const int codeChars = static_cast<int>(cpp);

  std::unordered_map<uint32_t, uint32_t> codes;
  std::string line, value;
  for (int64_t i = 0; i < colours; ++i) {
    if (!NextQuoted(d, at, line)) break;
    if (static_cast<int>(line.size()) < codeChars) continue;
    if (!ColorKeyValue(line.substr(static_cast<size_t>(codeChars)), value)) continue;
    uint32_t rgb = 0;
    const uint32_t colour = XpmColorValue(value, rgb) ? 0xFF000000u | rgb : 0;
    codes.emplace(CodeKey(line.data(), codeChars), colour);
  }
  // Each row needs its codes and two quotes: a text that cannot hold them
  // is refused before the picture is made.
  const int64_t rowChars = width * std::max(codeChars, 1) + 2;
  if (static_cast<int64_t>(d.size() - at) / rowChars < height) {
    FLastRefusal = "the text cannot hold the rows";
    throw Exception(kXpmErr2);
  }

  TBitmap work;
  work.SetPixelFormat(pf32bit);
  work.SetSize(static_cast<int>(width), static_cast<int>(height));
  for (int y = 0; y < height; ++y) std::memset(work.ScanLine(y), 0, static_cast<size_t>(width) * 4);
  for (int y = 0; y < height && NextQuoted(d, at, line); ++y) {
    auto* row = static_cast<uint32_t*>(work.ScanLine(y));
    const int64_t available = std::min<int64_t>(width, static_cast<int64_t>(line.size()) / std::max(codeChars, 1));
    for (int64_t x = 0; x < available; ++x) {
      const auto it = codes.find(CodeKey(line.data() + x * codeChars, codeChars));
      if (it != codes.end()) row[x] = it->second;
    }
  }
  TBitmap::Assign(&work);
  XpmName = name;
}

void TXPMImage::SplitColorAndMask(TBitmap* color, TBitmap* mask) {
  if (PixelFormat() != pf32bit) {
    std::unique_ptr<TBitmap> copy = Opaque32Copy(this);
    TBitmap::Assign(copy.get());
  }
  SplitAlphaToColorAndMask(this, color, mask, 1, false);
}

void TXPMImage::SaveToStream(TStream& stream) {
  // Saving leaves the picture as it is: the split works on a copy.
  TXPMImage copy;
  copy.TBitmap::Assign(this);
  TBitmap colour;
  std::unique_ptr<TBitmap> mask = NewMonoBitmap();
  copy.SplitColorAndMask(&colour, mask.get());

  static const std::string kAlphabet = [] {
    std::string a;
    for (int c = 32; c <= 126; ++c)
      if (c != '"' && c != '/' && c != '\\') a += static_cast<char>(c);
    return a;
  }();
  const int base = static_cast<int>(kAlphabet.size());
  XpmName = MakeCIdentifier(XpmName);

  TListLongint list;
  list.Add(0x20000001);  // the transparent entry, always first
  CollectColors(&colour, list);
  const int n = list.Count();
  const int cpp = n <= base ? 1 : n <= base * base ? 2 : n <= base * base * base ? 3 : 4;
  auto code = [&](int k) {
    std::string s;
    for (int i = 0; i < cpp; ++i, k /= base) s += kAlphabet[static_cast<size_t>(k % base)];
    return s;
  };

  std::string text = "/* XPM */ \nstatic const unsigned char * " + XpmName + "_xpm[] = {\n";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "\"%d %d %d %d\",\n", Width(), Height(), n, cpp);
  text += buffer;
  text += "\"" + code(0) + "\tc None\",\n";
  std::unordered_map<int32_t, int> index;
  for (int i = 1; i < n; ++i) {
    const int32_t c = list[i];
    index.emplace(c, i);
    std::string value;
    if (c == 0) value = "black";
    else if (c == 0xFFFFFF) value = "white";
    else {
      std::snprintf(buffer, sizeof buffer, "#%.6x", ColourToPixel(static_cast<uint32_t>(c)));
      value = buffer;
    }
    text += "\"" + code(i) + "\tc " + value + "\",\n";
  }
  TMaskPixels m(mask.get());
  const int w = colour.Width(), h = colour.Height();
  for (int y = 0; y < h; ++y) {
    text += '"';
    const auto* p = static_cast<const uint8_t*>(colour.ScanLine(y));
    for (int x = 0; x < w; ++x, p += 3) {
      const int32_t c = p[2] | p[1] << 8 | p[0] << 16;
      text += code(m.IsWhite(x, y) ? 0 : index[c]);
    }
    text += y + 1 < h ? "\",\n" : "\"};";
  }
  if (h == 0) text += "};";
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}
