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
#include <fcntl.h>
#include <limits>
#include <string_view>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/rounding.h"

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

std::string PadLeft(std::string s, int minDigits, char pad) {
  if (static_cast<int>(s.size()) < minDigits) s.insert(0, static_cast<size_t>(minDigits) - s.size(), pad);
  return s;
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

// ---- Text ----

namespace {
char Up(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
char Low(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
}  // namespace

std::string UpperCase(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = Up(c);
  return r;
}

std::string LowerCase(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = Low(c);
  return r;
}

int CompareStr(const std::string& a, const std::string& b) {
  int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int CompareText(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(Up(a[i]));
    auto y = static_cast<unsigned char>(Up(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool SameText(const std::string& a, const std::string& b) { return a.size() == b.size() && CompareText(a, b) == 0; }

namespace {
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
}  // namespace

std::string Trim(const std::string& s) { return TrimLeft(TrimRight(s)); }

std::string TrimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

std::string TrimRight(const std::string& s) {
  size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  return s.substr(0, n);
}

std::string StringReplace(const std::string& s, const std::string& oldPattern, const std::string& newPattern,
                          TReplaceFlags flags) {
  if (oldPattern.empty()) return s;
  const bool ignoreCase = flags.Contains(rfIgnoreCase);
  const std::string hay = ignoreCase ? UpperCase(s) : s;
  const std::string needle = ignoreCase ? UpperCase(oldPattern) : oldPattern;
  std::string out;
  size_t pos = 0;
  while (true) {
    size_t hit = hay.find(needle, pos);
    if (hit == std::string::npos) break;
    out.append(s, pos, hit - pos);
    out += newPattern;
    pos = hit + needle.size();
    if (!flags.Contains(rfReplaceAll)) break;
  }
  out.append(s, pos, std::string::npos);
  return out;
}

std::string AnsiQuotedStr(const std::string& s, char quote) {
  std::string r(1, quote);
  for (char c : s) {
    r += c;
    if (c == quote) r += quote;
  }
  return r + quote;
}

std::string QuotedStr(const std::string& s) { return AnsiQuotedStr(s, '\''); }

std::string AnsiExtractQuotedStr(const std::string& s, size_t& pos, char quote) {
  std::string r;
  if (pos >= s.size() || s[pos] != quote) return r;
  ++pos;
  while (pos < s.size()) {
    char c = s[pos++];
    if (c == quote) {
      if (pos < s.size() && s[pos] == quote) {
        r += quote;
        ++pos;
        continue;
      }
      break;
    }
    r += c;
  }
  return r;
}

int LastDelimiter(const std::string& delimiters, const std::string& s) {
  size_t p = s.find_last_of(delimiters);
  return p == std::string::npos ? 0 : static_cast<int>(p) + 1;
}

// ---- Paths ----

namespace {
// Plain constants: a std::string here would be built by a static constructor,
// and code that runs in another unit's start-up could see it still empty.
constexpr std::string_view kPathDelims = "\\/:";
constexpr std::string_view kExtDelims = ".\\/:";

int LastDelimiter(std::string_view delimiters, const std::string& s) {
  const size_t p = s.find_last_of(delimiters);
  return p == std::string::npos ? 0 : static_cast<int>(p) + 1;
}
}  // namespace

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

std::string ExtractFilePath(const std::string& fileName) {
  return fileName.substr(0, static_cast<size_t>(LastDelimiter(kPathDelims, fileName)));
}

std::string ExtractFileDir(const std::string& fileName) {
  int i = LastDelimiter(kPathDelims, fileName);
  // Keep the separator of a root ("C:\", "/"); drop any other trailing one.
  if (i > 1 && IsPathSeparator(fileName[static_cast<size_t>(i - 1)]) &&
      kPathDelims.find(fileName[static_cast<size_t>(i - 2)]) == std::string_view::npos)
    --i;
  return fileName.substr(0, static_cast<size_t>(i));
}

std::string ExtractFileName(const std::string& fileName) {
  return fileName.substr(static_cast<size_t>(LastDelimiter(kPathDelims, fileName)));
}

std::string ExtractFileExt(const std::string& fileName) {
  int i = LastDelimiter(kExtDelims, fileName);
  if (i > 0 && fileName[static_cast<size_t>(i - 1)] == '.') return fileName.substr(static_cast<size_t>(i - 1));
  return {};
}

std::string ExtractFileDrive(const std::string& fileName) {
  if (fileName.size() >= 2 && fileName[1] == ':' && std::isalpha(static_cast<unsigned char>(fileName[0])))
    return fileName.substr(0, 2);
  if (fileName.size() >= 2 && IsPathSeparator(fileName[0]) && IsPathSeparator(fileName[1])) {
    // "\\server\share": up to the separator after the share name.
    size_t server = fileName.find_first_of("\\/", 2);
    if (server == std::string::npos) return fileName;
    size_t share = fileName.find_first_of("\\/", server + 1);
    return fileName.substr(0, share);
  }
  return {};
}

std::string ChangeFileExt(const std::string& fileName, const std::string& extension) {
  int i = LastDelimiter(kExtDelims, fileName);
  if (i == 0 || fileName[static_cast<size_t>(i - 1)] != '.') return fileName + extension;
  return fileName.substr(0, static_cast<size_t>(i - 1)) + extension;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (!path.empty() && IsPathSeparator(path.back())) return path;
  bool native = !path.empty() && path[0] == '/' && path.find('\\') == std::string::npos;
  return path + (native ? '/' : PathDelim);
}

std::string ExcludeTrailingPathDelimiter(const std::string& path) {
  if (!path.empty() && IsPathSeparator(path.back())) return path.substr(0, path.size() - 1);
  return path;
}

std::string ExpandFileName(const std::string& fileName) {
  if (fileName.empty()) return fileName;
  std::string prefix;
  std::string rest;
  char sep;
  bool driveRooted = fileName.size() >= 3 && fileName[1] == ':' && IsPathSeparator(fileName[2]);
  bool unc = fileName.size() >= 2 && IsPathSeparator(fileName[0]) && IsPathSeparator(fileName[1]);
  if (driveRooted) {
    sep = '\\';
    prefix = fileName.substr(0, 2);
    rest = fileName.substr(2);
  } else if (unc) {
    sep = '\\';
    prefix = ExtractFileDrive(fileName);
    rest = fileName.substr(prefix.size());
  } else if (IsPathSeparator(fileName[0])) {
    sep = '/';
    rest = fileName;
  } else {
    sep = '/';
    rest = GetCurrentDir() + "/" + fileName;
  }
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t end = rest.find_first_of("\\/", pos);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(pos, end - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = end + 1;
  }
  std::string out = prefix;
  for (const auto& p : parts) out += sep + p;
  bool trailing = IsPathSeparator(fileName.back()) && !parts.empty();
  if (out.size() == prefix.size() || trailing) out += sep;
  return out;
}

// ---- Files ----

namespace {
bool StatOf(const std::string& name, struct stat& st) {
  return !name.empty() && ::stat(NativePath(name).c_str(), &st) == 0;
}
}  // namespace

bool FileExists(const std::string& fileName) {
  struct stat st{};
  return StatOf(fileName, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& directory) {
  struct stat st{};
  return StatOf(directory, st) && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& directory) {
  return !directory.empty() && ::mkdir(NativePath(directory).c_str(), 0777) == 0;
}

bool RemoveDir(const std::string& directory) {
  return !directory.empty() && ::rmdir(NativePath(directory).c_str()) == 0;
}

bool ForceDirectories(const std::string& directory) {
  std::string dir = ExcludeTrailingPathDelimiter(directory);
  if (dir.empty()) return false;
  if (DirectoryExists(dir)) return true;
  std::string parent = ExtractFileDir(dir);
  // Stop at a root ("C:", "/") or when the name has no parent part.
  if (!parent.empty() && parent != dir && !(parent.size() == 2 && parent[1] == ':') && !ForceDirectories(parent))
    return false;
  return CreateDir(dir) || DirectoryExists(dir);
}

bool DeleteFile(const std::string& fileName) {
  if (!FileExists(fileName)) return false;
  return ::unlink(NativePath(fileName).c_str()) == 0;
}

bool RenameFile(const std::string& oldName, const std::string& newName) {
  std::string from = NativePath(oldName);
  std::string to = NativePath(newName);
  if (oldName.empty() || newName.empty()) return false;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the no-replace flag: check, then rename.
  struct stat st{};
  if (::lstat(to.c_str(), &st) == 0) return false;
  return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string GetCurrentDir() {
  std::error_code ec;
  auto p = std::filesystem::current_path(ec);
  return ec ? std::string() : p.string();
}

bool SetCurrentDir(const std::string& directory) {
  return !directory.empty() && ::chdir(NativePath(directory).c_str()) == 0;
}

int64_t FileGetSize(const std::string& fileName) {
  struct stat st{};
  if (!StatOf(fileName, st) || S_ISDIR(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

// ---- Searching folders ----

namespace {
TDateTime FromUnixMillis(int64_t ms, bool local);
}  // namespace

struct TFindState {
  std::vector<TSearchRec> Entries;
  size_t Next = 0;
};

namespace {

// Windows-style wildcard match without regard to ASCII case.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* starP = nullptr;
  const char* starN = nullptr;
  while (*name) {
    if (*pattern == '*') {
      starP = ++pattern;
      starN = name;
    } else if (*pattern == '?' || Up(*pattern) == Up(*name)) {
      ++pattern;
      ++name;
    } else if (starP) {
      pattern = starP;
      name = ++starN;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  // "*.*" and "name.*" also match names without a dot, as on Windows.
  if (pattern[0] == '.' && pattern[1] == '*' && pattern[2] == '\0') return true;
  return *pattern == '\0';
}

int FindFillNext(TSearchRec& rec) {
  TFindState* state = rec.FindHandle.get();
  if (!state || state->Next >= state->Entries.size()) return kErrorNoMoreFiles;
  TSearchRec& e = state->Entries[state->Next++];
  rec.Time = e.Time;
  rec.Size = e.Size;
  rec.Attr = e.Attr;
  rec.Name = e.Name;
  return 0;
}

}  // namespace

int FindFirst(const std::string& path, int attr, TSearchRec& rec) {
  FindClose(rec);
  std::string folder = ExtractFilePath(path);
  std::string pattern = ExtractFileName(path);
  if (pattern.empty()) return kErrorFileNotFound;
  std::string nativeFolder = folder.empty() ? std::string(".") : NativePath(folder);
  if (!DirectoryExists(folder.empty() ? std::string(".") : folder)) return kErrorPathNotFound;
  rec.ExcludeAttr = ~attr & (faHidden | faSysFile | faVolumeID | faDirectory);

  auto state = std::make_shared<TFindState>();
  std::error_code ec;
  std::vector<std::string> names;
  std::string canonical = std::filesystem::weakly_canonical(nativeFolder, ec).string();
  bool driveRoot = (folder.size() == 2 || folder.size() == 3) && folder[1] == ':';
  if (canonical != "/" && !driveRoot) {
    names.push_back(".");
    names.push_back("..");
  }
  for (const auto& entry : std::filesystem::directory_iterator(nativeFolder, ec)) names.push_back(entry.path().filename().string());
  for (const std::string& name : names) {
    if (!WildcardMatch(pattern.c_str(), name.c_str())) continue;
    std::string full = nativeFolder + "/" + name;
    struct stat st{};
    if (::stat(full.c_str(), &st) != 0) continue;
    TSearchRec e;
    e.Name = name;
    bool dir = S_ISDIR(st.st_mode);
    e.Attr = dir ? faDirectory : faArchive;
    if (name[0] == '.' && name != "." && name != "..") e.Attr |= faHidden;
    if (::access(full.c_str(), W_OK) != 0) e.Attr |= faReadOnly;
    if (e.Attr & rec.ExcludeAttr) continue;
    e.Size = dir ? 0 : static_cast<int64_t>(st.st_size);
    int64_t ms = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    e.Time = DateTimeToFileDate(FromUnixMillis(ms, true));
    state->Entries.push_back(std::move(e));
  }
  std::stable_sort(state->Entries.begin(), state->Entries.end(), [](const TSearchRec& a, const TSearchRec& b) {
    return CompareText(a.Name, b.Name) < 0;
  });
  rec.FindHandle = state;
  int r = FindFillNext(rec);
  if (r != 0) {
    FindClose(rec);
    return kErrorFileNotFound;
  }
  return 0;
}

int FindNext(TSearchRec& rec) { return FindFillNext(rec); }

void FindClose(TSearchRec& rec) { rec.FindHandle.reset(); }

// ---- Date and time ----

namespace {
constexpr int kDaysTo1970 = 25569;  // 1899-12-30 to 1970-01-01
const uint16_t kMonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

// Days from 0001-01-01 (day 1) in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;  // days since 1970-01-01
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

TDateTime FromUnixMillis(int64_t ms, bool local) {
  time_t secs = static_cast<time_t>(ms / 1000);
  struct tm t{};
  if (local) localtime_r(&secs, &t);
  else gmtime_r(&secs, &t);
  TDateTime date = static_cast<double>(DaysFromCivil(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday) + kDaysTo1970);
  double time = (t.tm_hour * 3600000.0 + t.tm_min * 60000.0 + t.tm_sec * 1000.0 + static_cast<double>(ms % 1000)) /
                MSecsPerDay;
  return date + time;
}

// Milliseconds of the time of day. The fraction of a negative date still counts
// forward from midnight, as the framework stores it.
int64_t TimeMillis(TDateTime t) {
  double frac = std::fabs(t - std::trunc(t));
  int64_t ms = static_cast<int64_t>(Round(frac * MSecsPerDay));
  return std::min<int64_t>(ms, 86399999);
}
}  // namespace

TDateTime Now() {
  using namespace std::chrono;
  int64_t ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return FromUnixMillis(ms, true);
}

TDateTime Date() { return std::trunc(Now()); }

TDateTime Time() {
  TDateTime n = Now();
  return n - std::trunc(n);
}

bool IsLeapYear(uint16_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

bool TryEncodeDate(uint16_t year, uint16_t month, uint16_t day, TDateTime& date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > kMonthDays[IsLeapYear(year)][month - 1])
    return false;
  date = static_cast<double>(DaysFromCivil(year, month, day) + kDaysTo1970);
  return true;
}

TDateTime EncodeDate(uint16_t year, uint16_t month, uint16_t day) {
  TDateTime d;
  if (!TryEncodeDate(year, month, day, d)) throw EConvertError("Invalid argument to date encode");
  return d;
}

bool TryEncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec, TDateTime& time) {
  if (hour >= 24 || min >= 60 || sec >= 60 || msec >= 1000) return false;
  time = (hour * 3600000.0 + min * 60000.0 + sec * 1000.0 + msec) / MSecsPerDay;
  return true;
}

TDateTime EncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec) {
  TDateTime t;
  if (!TryEncodeTime(hour, min, sec, msec, t)) throw EConvertError("Invalid argument to time encode");
  return t;
}

void DecodeDate(TDateTime date, uint16_t& year, uint16_t& month, uint16_t& day) {
  int y, m, d;
  if (!std::isfinite(date) || std::fabs(date) > 1e7) {
    year = month = day = 0;
    return;
  }
  CivilFromDays(static_cast<int64_t>(std::trunc(date)) - kDaysTo1970, y, m, d);
  year = static_cast<uint16_t>(y > 0 ? y : 0);
  month = static_cast<uint16_t>(m);
  day = static_cast<uint16_t>(d);
}

void DecodeTime(TDateTime time, uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec) {
  int64_t ms = std::isfinite(time) ? TimeMillis(time) : 0;
  hour = static_cast<uint16_t>(ms / 3600000);
  min = static_cast<uint16_t>(ms / 60000 % 60);
  sec = static_cast<uint16_t>(ms / 1000 % 60);
  msec = static_cast<uint16_t>(ms % 1000);
}

int DayOfWeek(TDateTime date) {
  // 1899-12-30 was a Saturday.
  int64_t d = static_cast<int64_t>(std::trunc(date));
  return static_cast<int>(((d - 1) % 7 + 7) % 7) + 1;
}

const char* const ShortDateFormat = "yyyy-mm-dd";
const char* const LongTimeFormat = "hh:nn:ss";

namespace {
const char* const kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};
const char* const kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

std::string Two(int v) { return PadLeft(std::to_string(v), 2, '0'); }

bool StartsTextAt(const std::string& s, size_t i, const char* what) {
  size_t n = std::strlen(what);
  return s.size() - i >= n && SameText(s.substr(i, n), what);
}

void AppendDateTime(std::string& out, const std::string& f, TDateTime dt, int depth) {
  uint16_t year, month, day, hour, min, sec, msec;
  DecodeDate(dt, year, month, day);
  DecodeTime(dt, hour, min, sec, msec);
  bool lastWasHour = false;
  // Twelve-hour clock when the pattern holds am/pm or a/p anywhere.
  std::string upper = UpperCase(f);
  bool twelve = upper.find("AM/PM") != std::string::npos || upper.find("A/P") != std::string::npos;
  size_t i = 0;
  while (i < f.size()) {
    char c = f[i];
    char u = Up(c);
    size_t run = 1;
    while (i + run < f.size() && Up(f[i + run]) == u) ++run;
    if (c == '"' || c == '\'') {
      size_t end = f.find(c, i + 1);
      if (end == std::string::npos) end = f.size();
      out += f.substr(i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    if (StartsTextAt(f, i, "am/pm")) {
      out += hour < 12 ? "am" : "pm";
      if (std::isupper(static_cast<unsigned char>(c))) out.replace(out.size() - 2, 2, hour < 12 ? "AM" : "PM");
      i += 5;
      continue;
    }
    if (StartsTextAt(f, i, "a/p")) {
      out += (std::isupper(static_cast<unsigned char>(c)) ? (hour < 12 ? "A" : "P") : (hour < 12 ? "a" : "p"));
      i += 3;
      continue;
    }
    switch (u) {
      case 'Y':
        out += run <= 2 ? Two(year % 100) : PadLeft(std::to_string(year), 4, '0');
        break;
      case 'M':
        if (lastWasHour) {
          out += run == 1 ? std::to_string(min) : Two(min);
        } else if (run == 1) {
          out += std::to_string(month);
        } else if (run == 2) {
          out += Two(month);
        } else if (month >= 1 && month <= 12) {
          out += run == 3 ? kShortMonths[month - 1] : kLongMonths[month - 1];
        }
        break;
      case 'D': {
        int wd = DayOfWeek(dt) - 1;
        if (run == 1) out += std::to_string(day);
        else if (run == 2) out += Two(day);
        else if (run == 3) out += kShortDays[wd];
        else if (run == 4) out += kLongDays[wd];
        else if (depth == 0) AppendDateTime(out, ShortDateFormat, dt, 1);
        break;
      }
      case 'H': {
        int h = twelve ? (hour % 12 == 0 ? 12 : hour % 12) : hour;
        out += run == 1 ? std::to_string(h) : Two(h);
        break;
      }
      case 'N': out += run == 1 ? std::to_string(min) : Two(min); break;
      case 'S': out += run == 1 ? std::to_string(sec) : Two(sec); break;
      case 'Z': out += run >= 3 ? PadLeft(std::to_string(msec), 3, '0') : std::to_string(msec); break;
      case 'T':
        if (depth == 0) AppendDateTime(out, run >= 2 ? LongTimeFormat : "hh:nn", dt, 1);
        break;
      case 'C':
        if (depth == 0) {
          AppendDateTime(out, ShortDateFormat, dt, 1);
          if (TimeMillis(dt) != 0) {
            out += ' ';
            AppendDateTime(out, LongTimeFormat, dt, 1);
          }
        }
        break;
      default: out.append(run, c); break;
    }
    // Only letters count: in "h:mm" the m still follows the hour.
    if (u >= 'A' && u <= 'Z') lastWasHour = u == 'H';
    i += run;
  }
}
}  // namespace

std::string FormatDateTime(const std::string& format, TDateTime dateTime) {
  std::string out;
  AppendDateTime(out, format.empty() ? "c" : format, dateTime, 0);
  return out;
}

std::string DateTimeToStr(TDateTime dateTime) { return FormatDateTime("c", dateTime); }
std::string DateToStr(TDateTime date) { return FormatDateTime(ShortDateFormat, date); }
std::string TimeToStr(TDateTime time) { return FormatDateTime(LongTimeFormat, time); }

TDateTime FileDateToDateTime(int32_t fileDate) {
  auto u = static_cast<uint32_t>(fileDate);
  uint16_t date = static_cast<uint16_t>(u >> 16);
  uint16_t time = static_cast<uint16_t>(u & 0xFFFF);
  TDateTime d = 0, t = 0;
  TryEncodeDate(static_cast<uint16_t>((date >> 9) + 1980), (date >> 5) & 15, date & 31, d);
  TryEncodeTime(time >> 11, (time >> 5) & 63, static_cast<uint16_t>((time & 31) * 2), 0, t);
  return d + t;
}

int32_t DateTimeToFileDate(TDateTime dateTime) {
  uint16_t y, m, d, h, n, s, ms;
  DecodeDate(dateTime, y, m, d);
  if (y < 1980 || y > 2107) return 0;
  DecodeTime(dateTime, h, n, s, ms);
  uint32_t date = (static_cast<uint32_t>(y - 1980) << 9) | (static_cast<uint32_t>(m) << 5) | d;
  uint32_t time = (static_cast<uint32_t>(h) << 11) | (static_cast<uint32_t>(n) << 5) | (s / 2u);
  return static_cast<int32_t>((date << 16) | time);
}

int32_t FileAge(const std::string& fileName) {
  TDateTime dt;
  return FileAge(fileName, dt) ? DateTimeToFileDate(dt) : -1;
}

bool FileAge(const std::string& fileName, TDateTime& fileDateTime) {
  struct stat st{};
  if (!StatOf(fileName, st) || S_ISDIR(st.st_mode)) return false;
  int64_t ms = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
  fileDateTime = FromUnixMillis(ms, true);
  return true;
}
