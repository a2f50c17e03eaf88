#include "imaging/core/ie_utils.h"

#include <algorithm>
#include <vector>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

#include "imaging/core/ie_helpers.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/sysutils.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/win/clipboard.h"
#include "platform/win/system_info.h"

namespace {
constexpr double kTwoPi = 2 * M_PI;
double Length(double dx, double dy) { return std::sqrt(dx * dx + dy * dy); }
}  // namespace

// ---- geometry ----

void IncludePointInRect(RECT& rect, int x, int y) {
  rect.left = std::min<LONG>(rect.left, x);
  rect.right = std::max<LONG>(rect.right, x);
  rect.top = std::min<LONG>(rect.top, y);
  rect.bottom = std::max<LONG>(rect.bottom, y);
}

double SafeArcCos(double x) {
  if (x >= 1) return 0;
  if (x <= -1) return M_PI;
  return std::atan2(std::sqrt(1 - x * x), x);
}

double AngleBetweenSegments(int ax, int ay, int bx, int by, int cx, int cy) {
  const double ux = bx - ax, uy = by - ay, vx = cx - bx, vy = cy - by;
  const double lu = Length(ux, uy), lv = Length(vx, vy);
  if (lu == 0 || lv == 0) return 0;
  const double c = (ux * vx + uy * vy) / (lu * lv);
  if (std::fabs(c) > 1) return 0;
  return SafeArcCos(c);
}

double LineAngle(int x1, int y1, int x2, int y2) {
  const int dx = x2 - x1, dy = y1 - y2;  // upwards positive
  if (dx == 0 && dy == 0) return 0;
  if (dy == 0) return dx > 0 ? 0 : M_PI;
  if (dx == 0) return dy > 0 ? M_PI / 2 : 3 * M_PI / 2;
  double a = std::atan2(double(dy), double(dx));
  if (a < 0) a += kTwoPi;
  return a;
}

int TurnDirection(int ax, int ay, int bx, int by, int cx, int cy) {
  const int64_t dx1 = bx - ax, dy1 = by - ay, dx2 = cx - ax, dy2 = cy - ay;
  if (dx1 * dy2 > dy1 * dx2) return 1;
  if (dx1 * dy2 < dy1 * dx2) return -1;
  if (dx1 * dx2 < 0 || dy1 * dy2 < 0) return -1;
  return dx1 * dx1 + dy1 * dy1 < dx2 * dx2 + dy2 * dy2 ? 1 : 0;
}

double AngleAtVertex(int ax, int ay, int bx, int by, int cx, int cy) {
  double ab = Length(ax - bx, ay - by), bc = Length(cx - bx, cy - by);
  const double ac = Length(cx - ax, cy - ay);
  if (ab == 0) ab = 1;
  if (bc == 0) bc = 1;
  double angle = SafeArcCos((ab * ab + bc * bc - ac * ac) / (2 * ab * bc));
  if (TurnDirection(ax, ay, bx, by, cx, cy) == -1) angle = kTwoPi - angle;
  return angle;
}

void RotatePolygonPoints(POINT* points, int lastIndex, int cx, int cy, double degrees) {
  const double t = -degrees * M_PI / 180, c = std::cos(t), s = std::sin(t);
  for (int i = 0; i <= lastIndex; ++i) {
    const double dx = points[i].x - cx, dy = points[i].y - cy;
    points[i].x = static_cast<LONG>(cx + Trunc(c * dx - s * dy));
    points[i].y = static_cast<LONG>(cy + Trunc(s * dx + c * dy));
  }
}

namespace {
bool EvenOdd(double x, double y, int count, const std::function<void(int, double&, double&)>& at) {
  bool inside = false;
  for (int i = 0, j = count - 1; i < count; j = i++) {
    double xi, yi, xj, yj;
    at(i, xi, yi);
    at(j, xj, yj);
    if (((yi <= y && y < yj) || (yj <= y && y < yi)) && x < (xj - xi) * (y - yi) / (yj - yi) + xi)
      inside = !inside;
  }
  return inside;
}
}  // namespace

bool PointInPolygon(int x, int y, const POINT* points, int lastIndex) {
  return EvenOdd(x, y, lastIndex + 1, [&](int i, double& px, double& py) {
    px = points[i].x;
    py = points[i].y;
  });
}

bool PointInScaledPolygon(int x, int y, const POINT* points, int count, int originX, int originY, int offsetX,
                          int offsetY, double scaleX, double scaleY) {
  return EvenOdd(x, y, count, [&](int i, double& px, double& py) {
    px = offsetX + (points[i].x - originX) * scaleX;
    py = offsetY + (points[i].y - originY) * scaleY;
  });
}

int DistanceToEllipse(int px, int py, int x1, int y1, int x2, int y2, bool filled, int penWidth) {
  double best = INT32_MAX;
  bool tried = false;
  const double cx = (x1 + x2) / 2.0, cy = (y1 + y2) / 2.0;
  for (int k = -(penWidth / 2); k <= penWidth / 2; ++k) {
    tried = true;
    const double a = (x2 - x1) / 2 + k, b = (y2 - y1) / 2 + k;
    int v = std::max(2, static_cast<int>(Trunc(kTwoPi * std::min(std::fabs(a), std::fabs(b)))));
    if (!filled) v = std::max(2, v / 8);
    double prevX = cx + a, prevY = cy;
    for (int i = 1; i <= v; ++i) {
      const double t = kTwoPi * i / v;
      const double ex = cx + a * std::cos(t), ey = cy + b * std::sin(t);
      const double d = filled ? DistanceToSegment(px, py, int(cx), int(cy), int(ex), int(ey))
                              : DistanceToSegment(px, py, int(prevX), int(prevY), int(ex), int(ey));
      best = std::min(best, d);
      prevX = ex;
      prevY = ey;
    }
  }
  return tried ? static_cast<int>(Trunc(best)) : INT32_MAX;
}

double DistanceToRectangle(int px, int py, int x1, int y1, int x2, int y2, bool filled, int penWidth) {
  if (filled && px >= std::min(x1, x2) && px <= std::max(x1, x2) && py >= std::min(y1, y2) &&
      py <= std::max(y1, y2))
    return 0;
  double best = INT32_MAX;
  for (int k = -(penWidth / 2); k <= penWidth / 2; ++k) {
    const int ax = x1 + k, ay = y1 + k, bx = x2 + k, by = y2 + k;
    best = std::min({best, DistanceToSegment(px, py, ax, ay, bx, ay), DistanceToSegment(px, py, bx, ay, bx, by),
                     DistanceToSegment(px, py, bx, by, ax, by), DistanceToSegment(px, py, ax, by, ax, ay)});
  }
  return best;
}

void BezierPoints(POINT p0, POINT p1, POINT p2, POINT p3, std::vector<POINT>& points, int n) {
  points.clear();
  for (int i = 1; i <= n; ++i) {
    const double t = double(i) / n, u = 1 - t;
    const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    points.push_back(POINT{static_cast<LONG>(Round(a * p0.x + b * p1.x + c * p2.x + d * p3.x)),
                           static_cast<LONG>(Round(a * p0.y + b * p1.y + c * p2.y + d * p3.y))});
  }
}

void ScaleToFit(int width, int height, int boxWidth, int boxHeight, int& newWidth, int& newHeight) {
  if (width == 0 || height == 0) return;
  const double f = std::min(double(boxHeight) / height, double(boxWidth) / width);
  newWidth = std::max(1, static_cast<int>(Trunc(width * f)));
  newHeight = std::max(1, static_cast<int>(Trunc(height * f)));
}

RECT FitRectInBox(int width, int height, int boxWidth, int boxHeight, int left, int top, bool enlarge,
                  bool shrink, bool centerH, bool centerV, int marginPercent, bool fill) {
  if (width == 0 || height == 0 || boxWidth == 0 || boxHeight == 0) return RECT{left, top, 0, 0};
  const double rw = double(width) / boxWidth, rh = double(height) / boxHeight;
  const bool byWidth = fill ? rw < rh : rw >= rh;
  double scale = byWidth ? double(boxWidth) / width : double(boxHeight) / height;
  if (marginPercent > 0) {
    scale = scale * (100 - marginPercent) / 100;
    // The other side may still not fit once the margin is taken.
    if (!fill) {
      if (byWidth && height * scale > boxHeight) scale = double(boxHeight) / height;
      if (!byWidth && width * scale > boxWidth) scale = double(boxWidth) / width;
    }
  }
  int w = width, h = height;
  if ((scale < 1 && shrink) || (scale > 1 && enlarge)) {
    w = static_cast<int>(Trunc(width * scale));
    h = static_cast<int>(Trunc(height * scale));
  }
  int x = left, y = top;
  if (centerH) x += (boxWidth - w) / 2;
  if (centerV) y += (boxHeight - h) / 2;
  return RECT{x, y, x + w, y + h};
}

SIZE FitSizeInBox(int width, int height, int boxWidth, int boxHeight, bool enlarge, bool fill) {
  const RECT r = FitRectInBox(width, height, boxWidth, boxHeight, 0, 0, enlarge, true, false, false, 0, fill);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

bool SameGUID(const void* a, const void* b) { return std::memcmp(a, b, 16) == 0; }

int FontStyleBits(const LOGFONTA* font) {
  if (!font) return 0;
  return (font->lfWeight >= 700 ? 1 : 0) | (font->lfItalic ? 2 : 0) | (font->lfUnderline ? 4 : 0) |
         (font->lfStrikeOut ? 8 : 0);
}

// ---- numbers and text ----

std::string FloatToStrDot(double value) {
  std::string s = FloatToStr(value);
  for (char& c : s)
    if (c == ',' || c == DecimalSeparator) c = '.';
  return s;
}

std::string FormatFloatDot(double value) { return FloatToStrDot(value); }

void FloatToFraction(double value, double tolerance, int64_t& numerator, int64_t& denominator) {
  const int64_t sign = value < 0 ? -1 : 1;
  const double mag = std::fabs(value);
  if (mag == std::trunc(mag) && mag < 9e18) {
    numerator = static_cast<int64_t>(value);
    denominator = 1;
    return;
  }
  if (mag < 1e-19) {
    numerator = sign;
    denominator = 999999999;
    return;
  }
  if (mag > 1e19) {
    numerator = sign * 999999999;
    denominator = 1;
    return;
  }
  double z = mag;
  int64_t prevDen = 0, den = 1, num = 0;
  // Continued fractions converge in a few dozen steps for any double.
  for (int step = 0; step < 64; ++step) {
    const double frac = z - std::trunc(z);
    if (frac == 0) break;
    z = 1 / frac;
    const double next = double(den) * std::trunc(z) + double(prevDen);
    if (next > 9e15) break;
    prevDen = den;
    den = static_cast<int64_t>(next);
    num = static_cast<int64_t>(std::trunc(mag * den + 0.5));
    if (std::fabs(mag - double(num) / den) < tolerance) break;
  }
  numerator = sign * num;
  denominator = den;
}

std::string FormatByteSize(int64_t n, int64_t threshold) {
  auto grouped = [](int64_t v) {
    std::string digits = std::to_string(v < 0 ? -v : v), out;
    for (size_t i = 0; i < digits.size(); ++i) {
      if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
      out += digits[i];
    }
    return v < 0 ? "-" + out : out;
  };
  if (n < threshold) return grouped(n) + " bytes";
  return grouped(n / 1024) + " KB";
}

int URLKind(const std::string& text) {
  const std::string s = LowerCase(text);
  if (s.rfind("http://", 0) == 0) return 1;
  if (s.rfind("https://", 0) == 0) return 2;
  if (s.rfind("ftp://", 0) == 0) return 3;
  return 0;
}

int IsURLW(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow += c < 128 ? static_cast<char>(c) : '?';
  return URLKind(narrow);
}

std::string GetFileExtension(const std::string& name, bool withDot) {
  const size_t dot = name.find_last_of('.');
  const size_t sep = name.find_last_of("/\\:");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return std::string();
  return LowerCase(name.substr(withDot ? dot : dot + 1));
}

std::wstring GetFileExtensionW(const std::wstring& name, bool withDot) {
  const size_t dot = name.find_last_of(L'.');
  const size_t sep = name.find_last_of(L"/\\:");
  if (dot == std::wstring::npos || (sep != std::wstring::npos && dot < sep)) return std::wstring();
  std::wstring e = name.substr(withDot ? dot : dot + 1);
  for (wchar_t& c : e)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return e;
}

bool ExtensionInList(const std::string& extension, const std::string& list) {
  if (extension.size() < 2) return false;
  std::string e = LowerCase(extension);
  if (e[0] != '.') e = "." + e;
  return (LowerCase(list) + ";").find(e + ";") != std::string::npos;
}

bool FileHasExtension(const std::string& name, const std::string& list) {
  return ExtensionInList(GetFileExtension(name, true), list);
}

namespace {
void QuickSortRange(int lo, int hi, const std::function<void(int, int)>& swap,
                    const std::function<int(int, int)>& compare) {
  while (lo < hi) {
    int i = lo, j = hi, pivot = lo + (hi - lo) / 2;
    do {
      while (compare(i, pivot) < 0) ++i;
      while (compare(j, pivot) > 0) --j;
      if (i <= j) {
        if (i != j) {
          swap(i, j);
          // The pivot is an index: it follows the element it named.
          if (pivot == i)
            pivot = j;
          else if (pivot == j)
            pivot = i;
        }
        ++i;
        --j;
      }
    } while (i <= j);
    if (lo < j) QuickSortRange(lo, j, swap, compare);
    lo = i;
  }
}
}  // namespace

void QuickSortIndices(int n, const std::function<void(int, int)>& swap, const std::function<int(int, int)>& compare) {
  if (n > 1) QuickSortRange(0, n - 1, swap, compare);
}

void EncodeBase64Group(const uint8_t bytes[3], char out[4], int n) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const uint32_t v = (uint32_t(bytes[0]) << 16) | (uint32_t(n > 1 ? bytes[1] : 0) << 8) | (n > 2 ? bytes[2] : 0);
  out[0] = kAlphabet[(v >> 18) & 63];
  out[1] = kAlphabet[(v >> 12) & 63];
  out[2] = n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
  out[3] = n > 2 ? kAlphabet[v & 63] : '=';
}

void WriteStreamAsBase64(TStream& stream, std::string& text, int lineLength) {
  const int groupsPerLine = std::max(1, lineLength / 4);
  // Whole lines at a time: the stream is read in blocks, not three bytes a call.
  const size_t lineBytes = size_t(groupsPerLine) * 3;
  std::vector<uint8_t> block(lineBytes * std::max<size_t>(1, 65536 / lineBytes));
  int groups = 0;
  for (;;) {
    size_t filled = 0;
    while (filled < block.size()) {
      const int64_t n = stream.Read(block.data() + filled, int64_t(block.size() - filled));
      if (n <= 0) break;
      filled += size_t(n);
    }
    if (filled == 0) break;
    const size_t start = text.size();
    text.resize(start + (filled + 2) / 3 * 4 + filled / lineBytes + 1);
    char* out = text.data() + start;
    for (size_t i = 0; i < filled; i += 3) {
      const int n = int(std::min<size_t>(3, filled - i));
      uint8_t b[3] = {block[i], n > 1 ? block[i + 1] : uint8_t(0), n > 2 ? block[i + 2] : uint8_t(0)};
      EncodeBase64Group(b, out, n);
      out += 4;
      if (++groups == groupsPerLine) {
        *out++ = '\n';
        groups = 0;
      }
    }
    text.resize(size_t(out - text.data()));
    if (filled < block.size()) break;
  }
  if (groups > 0) text += '\n';
}

std::string TrimString(const std::string& s) { return Trim(s); }
std::string UpperCaseString(const std::string& s) { return UpperCase(s); }
std::string IELowerCase(const std::string& s) { return LowerCase(s); }
std::string IntegerToString(int64_t v) { return IntToStr(v); }
std::string IntegerToHex(int64_t v, int digits) { return IntToHex(v, digits); }
int32_t StringToIntDefault(const std::string& s, int32_t defaultValue) { return StrToIntDef(s, defaultValue); }
std::string CopySubstring(const std::string& s, int index, int count) {
  if (index < 1) index = 1;
  if (count <= 0 || size_t(index) > s.size()) return std::string();
  return s.substr(size_t(index - 1), size_t(count));
}
int SubstringPos(const std::string& sub, const std::string& s) {
  if (sub.empty()) return 0;
  const size_t p = s.find(sub);
  return p == std::string::npos ? 0 : static_cast<int>(p) + 1;
}
std::string FormatFloatF(double value, int precision, int digits) {
  return FloatToStrF(value, ffGeneral, precision, digits);
}

// ---- preview backgrounds ----

std::vector<double> GaussianCurve(int n, double low, double high, double spread) {
  std::vector<double> v(static_cast<size_t>(std::max(n, 0)));
  double top = 0;
  for (int i = 0; i < n; ++i) {
    const double t = 2.0 * i / n - 1;
    v[size_t(i)] = std::exp(-0.5 * spread * spread * t * t) / (spread * std::sqrt(kTwoPi));
    top = std::max(top, v[size_t(i)]);
  }
  for (double& x : v) x = top > 0 ? x / top * (high - low) + low : low;
  return v;
}

void FillStripedBackground(TBitmap& bitmap, int width, int height) {
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetSize(width, height);
  const auto levels = GaussianCurve(4, 130, 255, 0.5);
  for (int y = 0; y < height; ++y) {
    auto* row = static_cast<uint8_t*>(bitmap.ScanLine(y));
    std::memset(row, static_cast<int>(Trunc(levels[size_t(y % 4)])), size_t(width) * 3);
  }
}

void FillBrushedBackground(TBitmap& bitmap, int width, int height) {
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetSize(width, height);
  if (width <= 0) return;
  const auto levels = GaussianCurve(width, 160, 208, 3);
  static thread_local std::mt19937 random(std::random_device{}());
  int grain = 0, counter = 0;
  for (int y = 0; y < height; ++y) {
    auto* row = static_cast<uint8_t*>(bitmap.ScanLine(y));
    for (int x = 0; x < width; ++x) {
      const int v = std::min(255, grain + static_cast<int>(Trunc(levels[size_t(x)])));
      std::memset(row + 3 * x, v, 3);
      if (++counter > static_cast<int>(random() % unsigned(width)) + 100) {
        counter = 0;
        grain = static_cast<int>(random() % 11);
      }
    }
  }
}

// ---- system ----

bool IsRemoteSession() { return GetSystemMetrics(SM_REMOTESESSION) != 0; }

// ---- clipboard ----

bool OpenClipboardRetry() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (OpenClipboard(nullptr)) return true;
    if (attempt < 9) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::vector<TIEClipboardFormatName> ListClipboardFormats() {
  std::vector<TIEClipboardFormatName> list;
  for (UINT f = EnumClipboardFormats(0); f != 0; f = EnumClipboardFormats(f)) {
    char name[512];
    const int n = GetClipboardFormatNameA(f, name, sizeof name);
    if (n > 0) list.push_back({std::string(name, static_cast<size_t>(n)), f});
  }
  return list;
}

UINT FindClipboardFormat(const std::string& name) {
  for (const auto& item : ListClipboardFormats())
    if (SameText(item.name, name)) return item.format;
  return 0;
}
