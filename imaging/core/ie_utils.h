#pragma once
// Small shared services of the imaging library: geometry for selections and
// vector objects, number and text formatting, file extensions, the clipboard
// with retries, a callback quicksort, Base64 and byte-order choices.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/graphics/gdi.h"

class TBitmap;
#include "platform/rtl/streams.h"
#include "platform/win/win_types.h"

// ---- geometry (radians unless said otherwise) ----
void IncludePointInRect(RECT& rect, int x, int y);
// Arc cosine through ArcTan2; gives pi at -1 (a straight angle) and 0 at 1.
double SafeArcCos(double x);
// Angle between segment A->B and segment B->C; 0 for a zero-length segment.
double AngleBetweenSegments(int ax, int ay, int bx, int by, int cx, int cy);
// Direction from the first point to the second on the screen (y grows
// downwards): 0 right, pi/2 up, pi left, 3pi/2 down; 0 for equal points.
double LineAngle(int x1, int y1, int x2, int y2);
// 1 or -1 by the side C lies on from A->B; for collinear points -1 when they fold
// back, else 1 when C lies farther than B, 0 otherwise.
int TurnDirection(int ax, int ay, int bx, int by, int cx, int cy);
// Angle at B between A and C in 0..2pi.
double AngleAtVertex(int ax, int ay, int bx, int by, int cx, int cy);
void RotatePolygonPoints(POINT* points, int lastIndex, int cx, int cy, double degrees);
bool PointInPolygon(int x, int y, const POINT* points, int lastIndex);
bool PointInScaledPolygon(int x, int y, const POINT* points, int count, int originX, int originY, int offsetX,
                          int offsetY, double scaleX, double scaleY);
int DistanceToEllipse(int px, int py, int x1, int y1, int x2, int y2, bool filled, int penWidth);
double DistanceToRectangle(int px, int py, int x1, int y1, int x2, int y2, bool filled, int penWidth);
// n points of the cubic Bezier curve at t = 1/n .. 1, rounded.
void BezierPoints(POINT p0, POINT p1, POINT p2, POINT p3, std::vector<POINT>& points, int n);
void ScaleToFit(int width, int height, int boxWidth, int boxHeight, int& newWidth, int& newHeight);
RECT FitRectInBox(int width, int height, int boxWidth, int boxHeight, int left, int top, bool enlarge,
                  bool shrink, bool centerH, bool centerV, int marginPercent, bool fill);
SIZE FitSizeInBox(int width, int height, int boxWidth, int boxHeight, bool enlarge, bool fill);
bool SameGUID(const void* a, const void* b);
// 1 bold, 2 italic, 4 underline, 8 strike-out; 0 for nil.
int FontStyleBits(const LOGFONTA* font);

// ---- numbers and text ----
std::string FloatToStrDot(double value);
std::string FormatFloatDot(double value);
void FloatToFraction(double value, double tolerance, int64_t& numerator, int64_t& denominator);
std::string FormatByteSize(int64_t n, int64_t threshold);
// 1 http, 2 https, 3 ftp, 0 anything else.
int URLKind(const std::string& text);
int IsURLW(const std::wstring& text);
std::string GetFileExtension(const std::string& name, bool withDot);
std::wstring GetFileExtensionW(const std::wstring& name, bool withDot);
bool ExtensionInList(const std::string& extension, const std::string& list);
bool FileHasExtension(const std::string& name, const std::string& list);
inline uint16_t SwapWordIf(uint16_t v, bool swap) { return swap ? static_cast<uint16_t>((v >> 8) | (v << 8)) : v; }
inline uint32_t SwapDWordIf(uint32_t v, bool swap) {
  return swap ? (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24) : v;
}
inline int IfThenInt(bool c, int a, int b) { return c ? a : b; }
inline double IfThenFloat(bool c, double a, double b) { return c ? a : b; }
inline int64_t ZeroExtend64(uint32_t v) { return static_cast<int64_t>(v); }
inline uint64_t PointerToInt64(const void* p) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)); }

// Sorts indices 0..n-1 through the caller's compare(i, j) and swap(i, j).
void QuickSortIndices(int n, const std::function<void(int, int)>& swap, const std::function<int(int, int)>& compare);
// Standard Base64 of n significant bytes of three; the rest of the group is "=".
void EncodeBase64Group(const uint8_t bytes[3], char out[4], int n);
// From the stream's position to its end, lineLength characters to a line.
void WriteStreamAsBase64(TStream& stream, std::string& text, int lineLength);

// Thin wrappers of the run-time library's text routines.
std::string TrimString(const std::string& s);
std::string UpperCaseString(const std::string& s);
std::string IELowerCase(const std::string& s);
std::string IntegerToString(int64_t v);
std::string IntegerToHex(int64_t v, int digits);
int32_t StringToIntDefault(const std::string& s, int32_t defaultValue);
// Count characters from the 1-based index, as the framework's Copy.
std::string CopySubstring(const std::string& s, int index, int count);
// 1-based position of the first occurrence, 0 when absent.
int SubstringPos(const std::string& sub, const std::string& s);
std::string FormatFloatF(double value, int precision, int digits);

// ---- preview backgrounds ----
// n values of a Gaussian bell over -1..1, scaled to low..high.
std::vector<double> GaussianCurve(int n, double low, double high, double spread);
// Grey stripes (levels 240, 251, 255, 251 by row) on a 24-bit bitmap of that size.
void FillStripedBackground(TBitmap& bitmap, int width, int height);
// A brushed-metal grey: a bell of levels across the columns with a random grain.
void FillBrushedBackground(TBitmap& bitmap, int width, int height);

// ---- system ----
bool IsRemoteSession();

// ---- clipboard ----
// Opens the clipboard, up to 10 tries 20 ms apart.
bool OpenClipboardRetry();
struct TIEClipboardFormatName {
  std::string name;
  UINT format;
};
// Registered formats on the (open) clipboard with their names.
std::vector<TIEClipboardFormatName> ListClipboardFormats();
// The format of that name on the (open) clipboard (case-insensitive), 0 when absent.
UINT FindClipboardFormat(const std::string& name);
