// Format and the texts of numbers: integers and floating point values written and read.
#include "platform/rtl/sysutils.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <string_view>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/sysutils_internal.h"

namespace {

// ---- decimal digits of a double ----

// value = 0.d1 d2 d3 ... x 10^Exponent, digits without trailing zeros; no digits for 0.
struct TFloatRec {
  int Exponent = 0;
  bool Negative = false;
  std::string Digits;
};

TFloatRec Decimal(double value) {
  TFloatRec r;
  r.Negative = std::signbit(value);
  double a = std::fabs(value);
  if (a == 0) return r;
  // 18 significant digits, the precision the framework's float printing works from.
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17e", a);
  const char* e = std::strchr(buf, 'e');
  for (const char* p = buf; p < e; ++p)
    if (*p != '.') r.Digits += *p;
  r.Exponent = std::atoi(e + 1) + 1;
  while (!r.Digits.empty() && r.Digits.back() == '0') r.Digits.pop_back();
  return r;
}

// Keeps keep significant digits, rounding the rest half away from zero.
void RoundDigits(TFloatRec& r, int keep) {
  if (keep >= static_cast<int>(r.Digits.size())) return;
  if (keep < 0) {
    r.Digits.clear();
    return;
  }
  bool up = r.Digits[static_cast<size_t>(keep)] >= '5';
  r.Digits.resize(static_cast<size_t>(keep));
  if (up) {
    int i = keep - 1;
    while (i >= 0 && r.Digits[static_cast<size_t>(i)] == '9') r.Digits[static_cast<size_t>(i--)] = '0';
    if (i >= 0) {
      ++r.Digits[static_cast<size_t>(i)];
    } else {
      r.Digits.insert(r.Digits.begin(), '1');
      r.Digits.pop_back();
      if (r.Digits.empty()) r.Digits = "1";
      ++r.Exponent;
    }
  }
  while (!r.Digits.empty() && r.Digits.back() == '0') r.Digits.pop_back();
}

char DigitAt(const TFloatRec& r, int i) {
  return i >= 0 && i < static_cast<int>(r.Digits.size()) ? r.Digits[static_cast<size_t>(i)] : '0';
}

std::string ExponentText(int exponent, bool plusSign, int minDigits) {
  std::string digits = std::to_string(std::abs(exponent));
  while (static_cast<int>(digits.size()) < minDigits) digits.insert(digits.begin(), '0');
  return std::string("E") + (exponent < 0 ? "-" : plusSign ? "+" : "") + digits;
}

std::string Sign(const TFloatRec& r) { return r.Negative && !r.Digits.empty() ? "-" : ""; }

std::string FormatGeneral(TFloatRec r, int precision, int expDigits) {
  RoundDigits(r, precision);
  if (r.Digits.empty()) return "0";
  std::string s = Sign(r);
  if (r.Exponent > precision || r.Exponent < -3) {
    s += r.Digits[0];
    if (r.Digits.size() > 1) s += DecimalSeparator + r.Digits.substr(1);
    return s + ExponentText(r.Exponent - 1, false, expDigits);
  }
  if (r.Exponent <= 0) {
    s += "0";
    s += DecimalSeparator;
    s.append(static_cast<size_t>(-r.Exponent), '0');
    return s + r.Digits;
  }
  for (int i = 0; i < r.Exponent; ++i) s += DigitAt(r, i);
  if (static_cast<int>(r.Digits.size()) > r.Exponent) s += DecimalSeparator + r.Digits.substr(static_cast<size_t>(r.Exponent));
  return s;
}

std::string FormatFixed(TFloatRec r, int precision, int decimals, bool thousands) {
  if (r.Exponent > precision) return FormatGeneral(r, precision, 0);
  RoundDigits(r, std::min(precision, r.Exponent + decimals));
  std::string intPart;
  if (r.Digits.empty() || r.Exponent <= 0) {
    intPart = "0";
  } else {
    for (int i = 0; i < r.Exponent; ++i) {
      if (thousands && i > 0 && (r.Exponent - i) % 3 == 0) intPart += ThousandSeparator;
      intPart += DigitAt(r, i);
    }
  }
  std::string s = Sign(r) + intPart;
  if (decimals > 0) {
    s += DecimalSeparator;
    for (int i = 0; i < decimals; ++i) s += r.Digits.empty() ? '0' : DigitAt(r, r.Exponent + i);
  }
  return s;
}

std::string FormatExponent(TFloatRec r, int precision, int expDigits) {
  RoundDigits(r, precision);
  std::string s = Sign(r);
  s += DigitAt(r, 0);
  if (precision > 1) {
    s += DecimalSeparator;
    for (int i = 1; i < precision; ++i) s += DigitAt(r, i);
  }
  return s + ExponentText(r.Digits.empty() ? 0 : r.Exponent - 1, true, expDigits);
}

// ---- Format ----

[[noreturn]] void FormatError(const std::string& format) {
  throw EConvertError("Format '" + format + "' invalid or incompatible with argument");
}

std::string HexText(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
  return buf;
}

// A negative value that fits 32 bits shows as the 32-bit pattern, as an Integer would.
uint64_t UnsignedPattern(const TVarRec& a) {
  int64_t v = a.Int();
  if (a.Kind() == TVarRec::vkInteger && v < 0 && v >= std::numeric_limits<int32_t>::min())
    return static_cast<uint32_t>(v);
  return static_cast<uint64_t>(v);
}

std::string FormatOne(const std::string& format, char type, const TVarRec& a, int precision) {
  bool isInt = a.Kind() == TVarRec::vkInteger || a.Kind() == TVarRec::vkUnsigned;
  switch (type) {
    case 'D': {
      if (!isInt) FormatError(format);
      bool neg = a.Kind() == TVarRec::vkInteger && a.Int() < 0;
      std::string digits = a.Kind() == TVarRec::vkUnsigned ? UIntToStr(static_cast<uint64_t>(a.Int()))
                                                           : UIntToStr(neg ? 0 - static_cast<uint64_t>(a.Int())
                                                                           : static_cast<uint64_t>(a.Int()));
      return (neg ? "-" : "") + PadLeft(digits, precision, '0');
    }
    case 'U':
      if (!isInt) FormatError(format);
      return PadLeft(UIntToStr(UnsignedPattern(a)), precision, '0');
    case 'X':
      if (!isInt) FormatError(format);
      return PadLeft(HexText(UnsignedPattern(a)), precision, '0');
    case 'P':
      if (a.Kind() != TVarRec::vkPointer) FormatError(format);
      return PadLeft(HexText(static_cast<uint64_t>(a.Int())), static_cast<int>(sizeof(void*) * 2), '0');
    case 'S': {
      std::string s;
      if (a.Kind() == TVarRec::vkString) s = a.String();
      else if (a.Kind() == TVarRec::vkChar) s = std::string(1, static_cast<char>(a.Int()));
      else FormatError(format);
      if (precision >= 0 && static_cast<size_t>(precision) < s.size()) s.resize(static_cast<size_t>(precision));
      return s;
    }
    case 'E': case 'F': case 'G': case 'N': case 'M': {
      double v;
      if (a.Kind() == TVarRec::vkFloat) v = a.Float();
      else if (a.Kind() == TVarRec::vkInteger) v = static_cast<double>(a.Int());
      else if (a.Kind() == TVarRec::vkUnsigned) v = static_cast<double>(static_cast<uint64_t>(a.Int()));
      else FormatError(format);
      if (std::isnan(v)) return "NAN";
      if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
      TFloatRec r = Decimal(v);
      switch (type) {
        case 'E': return FormatExponent(r, precision < 0 ? 15 : std::clamp(precision, 1, 18), 3);
        case 'F': return FormatFixed(r, 18, precision < 0 ? 2 : std::min(precision, 18), false);
        case 'G': return FormatGeneral(r, precision < 0 ? 15 : std::clamp(precision, 1, 18), 0);
        default: return FormatFixed(r, 18, precision < 0 ? 2 : std::min(precision, 18), true);
      }
    }
  }
  FormatError(format);
}

}  // namespace

std::string Format(const std::string& format, std::initializer_list<TVarRec> argList) {
  const TVarRec* args = argList.begin();
  const int argCount = static_cast<int>(argList.size());
  std::string out;
  int next = 0;
  size_t i = 0;
  const size_t n = format.size();
  auto number = [&](int& value) -> bool {
    // A run of digits or "*" (the next argument, which must be an integer).
    if (i < n && format[i] == '*') {
      ++i;
      if (next >= argCount || args[next].Kind() != TVarRec::vkInteger) FormatError(format);
      value = static_cast<int>(args[next++].Int());
      return true;
    }
    if (i >= n || !std::isdigit(static_cast<unsigned char>(format[i]))) return false;
    value = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(format[i]))) {
      value = std::min(value * 10 + (format[i] - '0'), 1 << 20);
      ++i;
    }
    return true;
  };
  while (i < n) {
    char c = format[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i < n && format[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    bool left = false;
    int width = 0, precision = -1, value = 0;
    // An argument index ("%1:s") comes first; without its colon the number was the width.
    const size_t save = i;
    const int saveNext = next;
    if (number(value)) {
      if (i < n && format[i] == ':') {
        next = value;
        ++i;
      } else {
        i = save;
        next = saveNext;
      }
    }
    if (i < n && format[i] == '-') {
      left = true;
      ++i;
    }
    if (number(value)) width = value;
    if (i < n && format[i] == '.') {
      ++i;
      precision = number(value) ? value : 0;
    }
    if (i >= n) FormatError(format);
    char type = static_cast<char>(std::toupper(static_cast<unsigned char>(format[i++])));
    if (next < 0 || next >= argCount) FormatError(format);
    std::string text = FormatOne(format, type, args[next++], precision);
    if (static_cast<int>(text.size()) < width) {
      std::string pad(static_cast<size_t>(width) - text.size(), ' ');
      text = left ? text + pad : pad + text;
    }
    out += text;
  }
  return out;
}

// ---- Integers ----

std::string IntToStr(int64_t value) { return std::to_string(value); }
std::string UIntToStr(uint64_t value) { return std::to_string(value); }

std::string IntToHexBits(uint64_t value, int digits) { return PadLeft(HexText(value), std::min(digits, 32), '0'); }

bool TryStrToInt64(const std::string& s, int64_t& value) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return false;
  uint64_t mag = 0;
  const char* first = s.data() + i;
  const char* last = s.data() + s.size();
  auto [end, ec] = std::from_chars(first, last, mag, base);
  if (ec != std::errc() || end != last) return false;
  if (base == 16) {
    // Hexadecimal gives a bit pattern: "$FFFFFFFF" is -1 as a 32-bit value would be
    // read by the caller, and the full 64-bit range is accepted here.
    value = neg ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
    return true;
  }
  if (neg) {
    if (mag > uint64_t(1) << 63) return false;
    value = static_cast<int64_t>(0 - mag);
  } else {
    if (mag > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    value = static_cast<int64_t>(mag);
  }
  return true;
}

bool TryStrToInt(const std::string& s, int32_t& value) {
  int64_t v;
  if (!TryStrToInt64(s, v)) return false;
  bool hex = s.find_first_of("$xX") != std::string::npos;
  if (hex) {
    // A hexadecimal text is a 32-bit pattern: "$FFFFFFFF" is -1.
    if (v < std::numeric_limits<int32_t>::min() || v > static_cast<int64_t>(UINT32_MAX)) return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
  }
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(const std::string& s) {
  int32_t v;
  if (!TryStrToInt(s, v)) throw EConvertError("'" + s + "' is not a valid integer value");
  return v;
}

int64_t StrToInt64(const std::string& s) {
  int64_t v;
  if (!TryStrToInt64(s, v)) throw EConvertError("'" + s + "' is not a valid integer value");
  return v;
}

int32_t StrToIntDef(const std::string& s, int32_t defaultValue) {
  int32_t v;
  return TryStrToInt(s, v) ? v : defaultValue;
}

int64_t StrToInt64Def(const std::string& s, int64_t defaultValue) {
  int64_t v;
  return TryStrToInt64(s, v) ? v : defaultValue;
}

// ---- Floating point ----

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  precision = std::clamp(precision, 1, 18);
  TFloatRec r = Decimal(value);
  switch (format) {
    case ffGeneral: return FormatGeneral(r, precision, std::clamp(digits, 0, 4));
    case ffExponent: return FormatExponent(r, precision, std::clamp(digits, 0, 4));
    case ffFixed: return FormatFixed(r, precision, std::clamp(digits, 0, 18), false);
    case ffNumber:
    case ffCurrency: return FormatFixed(r, precision, std::clamp(digits, 0, 18), true);
  }
  return FormatGeneral(r, precision, 0);
}

std::string FloatToStr(double value) { return FloatToStrF(value, ffGeneral, 15, 0); }

bool TryStrToFloat(const std::string& s, double& value) {
  std::string t = Trim(s);
  size_t i = 0;
  bool neg = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
  // Only digits or a decimal point may start the number: no "inf", "nan" or hex floats.
  if (i >= t.size() || !(std::isdigit(static_cast<unsigned char>(t[i])) || t[i] == DecimalSeparator)) return false;
  double v = 0;
  auto [end, ec] = std::from_chars(t.data() + i, t.data() + t.size(), v, std::chars_format::general);
  if (ec != std::errc() || end != t.data() + t.size()) return false;
  value = neg ? -v : v;
  return true;
}

double StrToFloat(const std::string& s) {
  double v;
  if (!TryStrToFloat(s, v)) throw EConvertError("'" + s + "' is not a valid floating point value");
  return v;
}

double StrToFloatDef(const std::string& s, double defaultValue) {
  double v;
  return TryStrToFloat(s, v) ? v : defaultValue;
}
