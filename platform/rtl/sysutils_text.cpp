// Text: case, comparison, trimming, replacing and quoting.
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

// ---- Text ----

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
