#include "base/colour_values.h"

#include <algorithm>

#include "platform/graphics/gdi.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/sysutils.h"

// ---- values ----

void ColorToRGBBytes(uint32_t color, uint8_t bytes[3]) {
  bytes[0] = static_cast<uint8_t>(color);
  bytes[1] = static_cast<uint8_t>(color >> 8);
  bytes[2] = static_cast<uint8_t>(color >> 16);
}

void ColorToBGRBytes(uint32_t color, uint8_t bytes[3]) {
  bytes[0] = static_cast<uint8_t>(color >> 16);
  bytes[1] = static_cast<uint8_t>(color >> 8);
  bytes[2] = static_cast<uint8_t>(color);
}

uint32_t ColorToRGBValue(TColor color) { return SwapRedBlue(static_cast<uint32_t>(ColorToRGB(color))); }

uint32_t ColorToOpaqueARGB(uint32_t color) { return SwapRedBlue(color) | 0xFF000000u; }

uint32_t ColorLow24(uint32_t value) { return value & 0x00FFFFFFu; }

uint32_t SwapRedBlue(uint32_t value) {
  return (value & 0xFF00FF00u) | ((value & 0xFF) << 16) | ((value >> 16) & 0xFF);
}

int32_t ClampColorByte(int32_t value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

void MaxMin3(int32_t a, int32_t b, int32_t c, int32_t& min, int32_t& max) {
  min = std::min({a, b, c});
  max = std::max({a, b, c});
}

// ---- colour spaces ----

void ColorToHSL(double& hue, double& saturation, double& lightness, uint32_t color) {
  const double r = (color & 0xFF) / 255.0;
  const double g = ((color >> 8) & 0xFF) / 255.0;
  const double b = ((color >> 16) & 0xFF) / 255.0;
  const double max = std::max({r, g, b});
  const double min = std::min({r, g, b});
  lightness = (max + min) / 2;
  if (max == min) {
    saturation = 0;
    hue = 0;
    return;
  }
  const double delta = max - min;
  saturation = lightness >= 0.5 ? delta / (2 - max - min) : delta / (max + min);
  double h;
  if (max == r) h = (g - b) / delta;
  else if (max == g) h = (b - r) / delta + 2;
  else h = (r - g) / delta + 4;
  hue = h / 6;
  if (hue < 0) hue += 1;
}

void ColorToHSL2(uint32_t color, double& hue, double& saturation, double& lightness) {
  ColorToHSL(hue, saturation, lightness, color);
}

double HueToRGBChannel(double t, double q, double p) {
  if (t < 0) t += 1;
  if (t > 1) t -= 1;
  if (6 * t < 1) return p + (q - p) * 6 * t;
  if (2 * t < 1) return q;
  if (3 * t < 2) return p + (q - p) * (2.0 / 3 - t) * 6;
  return p;
}

double HueToRGBChannel2(double t, double q, double p) { return HueToRGBChannel(t, q, p); }

void HSLToBytes(uint8_t bytes[3], double hue, double saturation, double lightness) {
  if (hue < 0) hue += 1;
  else if (hue > 1) hue -= 1;
  const double s = std::clamp(saturation, 0.0, 1.0);
  const double l = std::clamp(lightness, 0.0, 1.0);
  double r, g, b;
  if (s != 0) {
    const double q = l > 0.5 ? s + l - s * l : l * (s + 1);
    const double p = 2 * l - q;
    r = HueToRGBChannel(hue + 1.0 / 3, q, p);
    g = HueToRGBChannel(hue, q, p);
    b = HueToRGBChannel(hue - 1.0 / 3, q, p);
  } else {
    r = g = b = l;
  }
  bytes[0] = static_cast<uint8_t>(ClampColorByte(static_cast<int32_t>(Round(r * 255))));
  bytes[1] = static_cast<uint8_t>(ClampColorByte(static_cast<int32_t>(Round(g * 255))));
  bytes[2] = static_cast<uint8_t>(ClampColorByte(static_cast<int32_t>(Round(b * 255))));
}

void HSLToColor(uint32_t& color, double hue, double saturation, double lightness) {
  uint8_t rgb[3];
  HSLToBytes(rgb, hue, saturation, lightness);
  color = (color & 0xFF000000u) | rgb[0] | (static_cast<uint32_t>(rgb[1]) << 8) | (static_cast<uint32_t>(rgb[2]) << 16);
}

void ColorToHSV(int32_t& hue, int32_t& saturation, int32_t& value, uint32_t color) {
  const auto scaled = [](uint32_t byte) { return static_cast<int32_t>(Round(byte / 255.0 * 99)); };
  const int32_t r = scaled(color & 0xFF);
  const int32_t g = scaled((color >> 8) & 0xFF);
  const int32_t b = scaled((color >> 16) & 0xFF);
  int32_t min, max;
  MaxMin3(r, g, b, min, max);
  value = max;
  saturation = max == 0 ? 0 : (max - min) * 99 / max;
  if (saturation == 0) {
    hue = 0;
    return;
  }
  const int32_t delta = max - min;
  if (max == r) hue = (g - b) * 60 / delta;
  else if (max == g) hue = (b - r) * 60 / delta + 120;
  else hue = (r - g) * 60 / delta + 240;
  if (hue < 0) hue += 360;
}

TColor ScreenPixel(const TPoint& point) {
  HDC screen = GetDC(nullptr);
  const COLORREF pixel = GetPixel(screen, point.x, point.y);
  ReleaseDC(nullptr, screen);
  return static_cast<TColor>(pixel);
}

// ---- names ----

namespace {

struct TColorName {
  const char* Name;
  TColor Color;
};

// The framework's colour names; the graphics layer keeps the values but not
// the names, which only this parser needs.
const TColorName kColorNames[] = {
    {"clBlack", clBlack}, {"clMaroon", clMaroon}, {"clGreen", clGreen}, {"clOlive", clOlive},
    {"clNavy", clNavy}, {"clPurple", clPurple}, {"clTeal", clTeal}, {"clGray", clGray},
    {"clSilver", clSilver}, {"clRed", clRed}, {"clLime", clLime}, {"clYellow", clYellow},
    {"clBlue", clBlue}, {"clFuchsia", clFuchsia}, {"clAqua", clAqua}, {"clWhite", clWhite},
    {"clLtGray", clLtGray}, {"clDkGray", clDkGray}, {"clMoneyGreen", clMoneyGreen}, {"clSkyBlue", clSkyBlue},
    {"clCream", clCream}, {"clMedGray", clMedGray}, {"clActiveBorder", clActiveBorder},
    {"clActiveCaption", clActiveCaption}, {"clAppWorkSpace", clAppWorkSpace}, {"clBackground", clBackground},
    {"clBtnFace", clBtnFace}, {"clBtnHighlight", clBtnHighlight}, {"clBtnShadow", clBtnShadow},
    {"clBtnText", clBtnText}, {"clCaptionText", clCaptionText}, {"clDefault", clDefault},
    {"clGradientActiveCaption", clGradientActiveCaption}, {"clGradientInactiveCaption", clGradientInactiveCaption},
    {"clGrayText", clGrayText}, {"clHighlight", clHighlight}, {"clHighlightText", clHighlightText},
    {"clHotLight", clHotLight}, {"clInactiveBorder", clInactiveBorder}, {"clInactiveCaption", clInactiveCaption},
    {"clInactiveCaptionText", clInactiveCaptionText}, {"clInfoBk", clInfoBk}, {"clInfoText", clInfoText},
    {"clMenu", clMenu}, {"clMenuBar", clMenuBar}, {"clMenuHighlight", clMenuHighlight},
    {"clMenuText", clMenuText}, {"clNone", clNone}, {"clScrollBar", clScrollBar}, {"cl3DDkShadow", cl3DDkShadow},
    {"cl3DLight", cl3DLight}, {"clWindow", clWindow}, {"clWindowFrame", clWindowFrame},
    {"clWindowText", clWindowText}};

// A colour name (any case), else the text as an integer.
TColor StringToColorValue(const std::string& text) {
  for (const auto& c : kColorNames)
    if (SameText(text, c.Name)) return c.Color;
  return StrToInt(text);
}

}  // namespace

bool IdentToColor(const std::string& ident, TColor& color) {
  for (const auto& c : kColorNames)
    if (SameText(ident, c.Name)) {
      color = c.Color;
      return true;
    }
  return false;
}

TColor ParseColorName(const std::string& text) {
  if (text.empty()) throw Exception(Format("''%s'' is not a valid integer value", ""));
  const std::string s = LowerCase(text);
  if (s[0] == '#') return static_cast<TColor>(ColorToRGBValue(StrToInt("$" + s.substr(1))));
  // "0x" before the digits: its "0" would otherwise make it a decimal number.
  if (s.rfind("0x", 0) == 0) return StrToInt("$" + s.substr(2));
  if (s[0] == '$' || (s[0] >= '0' && s[0] <= '9')) return StrToInt(s);
  if (s.rfind("cl", 0) == 0) return s == "cldefault" ? clDefault : StringToColorValue(s);
  if (s == "default") return clDefault;
  return StringToColorValue("cl" + s);
}

// ---- gradients ----

uint32_t GradientColorAt(const TListLongint& colors, const TListLongint& positions, double x) {
  const int32_t last = positions.Count() - 1;
  const int64_t first = positions.Get(0);
  const int64_t end = positions.Get(last);
  // x is a fraction of the gradient's own span, which starts at the first stop.
  const int64_t t = first + Round(static_cast<double>(end - first) * x);
  if (t <= first) return static_cast<uint32_t>(colors.Get(0));
  if (t >= end) return static_cast<uint32_t>(colors.Get(last));
  int32_t c = 1;
  while (c < last && !(positions.Get(c - 1) <= t && t < positions.Get(c))) ++c;
  // Positions out of order leave no stop pair around t: take the stop reached.
  if (t == positions.Get(c) || positions.Get(c) <= positions.Get(c - 1)) return static_cast<uint32_t>(colors.Get(c));
  const double f = static_cast<double>(t - positions.Get(c - 1)) / (positions.Get(c) - positions.Get(c - 1));
  const uint32_t c0 = static_cast<uint32_t>(colors.Get(c - 1));
  const uint32_t c1 = static_cast<uint32_t>(colors.Get(c));
  uint32_t result = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int32_t b0 = (c0 >> shift) & 0xFF;
    const int32_t b1 = (c1 >> shift) & 0xFF;
    result |= static_cast<uint32_t>(ClampColorByte(b0 + static_cast<int32_t>(Round((b1 - b0) * f)))) << shift;
  }
  return result;
}
