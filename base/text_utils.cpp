#include "base/text_utils.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/sysutils.h"

// ---- text ----

std::string ReplaceSubstring(const std::string& text, const std::string& oldText, const std::string& newText) {
  if (oldText.empty()) return text;
  std::string result;
  size_t from = 0;
  for (size_t at = text.find(oldText); at != std::string::npos; at = text.find(oldText, from)) {
    result.append(text, from, at - from);
    result += newText;
    from = at + oldText.size();
  }
  result.append(text, from, std::string::npos);
  return result;
}

void ParseFourIntegers(const std::string& text, TFourIntegers& out) {
  auto inSet = [](char c) { return (c >= '0' && c <= '9') || c == '+' || c == '-'; };
  size_t pos = 0;
  for (int field = 0; field < 4; ++field) {
    while (pos < text.size() && !inSet(text[pos])) ++pos;
    const size_t start = pos;
    while (pos < text.size() && inSet(text[pos])) ++pos;
    out.Values[field] = StrToInt(text.substr(start, pos - start));
  }
}

std::string IncrementNumberText(const std::string& text) {
  std::string result = text;
  for (size_t i = result.size(); i-- > 0;) {
    char& c = result[i];
    if (c >= '0' && c <= '8') {
      ++c;
      return result;
    }
    if (c == '9') {
      c = '0';
      continue;
    }
    result.insert(i + 1, 1, '1');
    return result;
  }
  return "1" + result;
}

bool TextInArray(const std::string& text, const std::string* texts, int highIndex) {
  for (int i = 0; i <= highIndex; ++i)
    if (texts[i] == text) return true;
  return false;
}

void SplitToStrings(const std::string& text, char separator, TStrings* strings) {
  strings->Clear();
  size_t from = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, from)) {
    strings->Add(text.substr(from, at - from));
    from = at + 1;
  }
  if (from < text.size()) strings->Add(text.substr(from));
}

std::string ExtractField(const std::string& text, char separator, int n) {
  if (n < 0) return {};
  size_t from = 0;
  for (int field = 0; field < n; ++field) {
    const size_t at = text.find(separator, from);
    if (at == std::string::npos) return {};
    from = at + 1;
  }
  const size_t end = text.find(separator, from);
  return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

void ReadLengthPrefixedStrings(const uint8_t* block, int64_t length, TStrings* strings) {
  int64_t pos = 0;
  while (length - pos >= 2) {
    const int64_t n = block[pos];
    // A name table from a file may claim more than it holds: stop there rather
    // than read behind the block.
    if (pos + 1 + n > length) break;
    strings->Add(std::string(reinterpret_cast<const char*>(block + pos + 1), static_cast<size_t>(n)));
    pos += 1 + n;
  }
}

void TrimAndPackLines(TStrings* strings) {
  for (int i = strings->Count() - 1; i >= 0; --i) {
    const std::string line = Trim(strings->Strings(i));
    if (line.empty()) strings->Delete(i);
    else strings->SetStrings(i, line);
  }
}

// ---- arrays ----

namespace {

template <class T> void ReverseRange(T* first, int highIndex) {
  for (int i = 0; i <= highIndex / 2; ++i) std::swap(first[i], first[highIndex - i]);
}

}  // namespace

void ReverseBytes(uint8_t* first, int highIndex) { ReverseRange(first, highIndex); }
void ReverseWords(uint16_t* first, int highIndex) { ReverseRange(first, highIndex); }
void ReverseIntegers(int32_t* first, int highIndex) { ReverseRange(first, highIndex); }

void ReverseTriples(uint8_t* first, int highIndex) {
  for (int i = 0; i <= highIndex / 2; ++i)
    std::swap_ranges(first + 3 * i, first + 3 * i + 3, first + 3 * (highIndex - i));
}

// ---- numbers ----

int32_t MaxInteger(int32_t a, int32_t b) { return a > b ? a : b; }
int32_t LargerOf(int32_t a, int32_t b) { return MaxInteger(a, b); }
int32_t MinInteger(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t SmallerOf(int32_t a, int32_t b) { return MinInteger(a, b); }
double MaxFloat(double a, double b) { return a > b ? a : b; }
double MinFloat(double a, double b) { return a < b ? a : b; }

int32_t FloorToInt(double x) {
  const double t = std::trunc(x);
  return static_cast<int32_t>(x - t < 0 ? t - 1 : t);
}

int32_t CeilToInt(double x) {
  const double t = std::trunc(x);
  return static_cast<int32_t>(x - t > 0 ? t + 1 : t);
}

void SwapIntegers(int32_t& a, int32_t& b) { std::swap(a, b); }

// ---- rectangles ----

bool PointInRectangle(const TPoint& point, const TRect& rect) {
  return point.x >= rect.left && point.x < rect.right && point.y >= rect.top && point.y < rect.bottom;
}

TRect InflateRectangle(const TRect& rect, int32_t dx, int32_t dy) {
  return Rect(rect.left - dx, rect.top - dy, rect.right + dx, rect.bottom + dy);
}

void FitAspectRect(const TRect& rect, int32_t aspectWidth, int32_t aspectHeight, TRect& out) {
  const int64_t w = static_cast<int64_t>(rect.right) - rect.left;
  const int64_t h = static_cast<int64_t>(rect.bottom) - rect.top;
  if (aspectWidth == 0 || aspectHeight == 0 || w == 0 || h == 0) {
    out = rect;
    return;
  }
  const double c = static_cast<double>(aspectWidth) / aspectHeight;
  double boxW, boxH;
  if (static_cast<double>(w) / h >= c) {
    boxH = static_cast<double>(h);
    boxW = h * c;
  } else {
    boxW = static_cast<double>(w);
    boxH = w / c;
  }
  const double sumX = static_cast<double>(rect.left) + rect.right;
  const double sumY = static_cast<double>(rect.top) + rect.bottom;
  out.left = static_cast<LONG>(std::max<int64_t>(Round((sumX - boxW) / 2), rect.left));
  out.right = static_cast<LONG>(std::min<int64_t>(Round((sumX + boxW) / 2), rect.right));
  out.top = static_cast<LONG>(std::max<int64_t>(Round((sumY - boxH) / 2), rect.top));
  out.bottom = static_cast<LONG>(std::min<int64_t>(Round((sumY + boxH) / 2), rect.bottom));
}

void CenterRectInRect(const TRect& outer, const TRect& inner, TRect& out) {
  const int32_t w = inner.right - inner.left;
  const int32_t h = inner.bottom - inner.top;
  out.left = (outer.left + outer.right) / 2 - w / 2;
  out.top = (outer.top + outer.bottom) / 2 - h / 2;
  out.right = out.left + w;
  out.bottom = out.top + h;
}

void CenterSizeInRect(const TRect& rect, int32_t width, int32_t height, TRect& out) {
  out.left = (rect.left + rect.right - width) / 2;
  out.top = (rect.top + rect.bottom - height) / 2;
  out.right = out.left + width;
  out.bottom = out.top + height;
}
