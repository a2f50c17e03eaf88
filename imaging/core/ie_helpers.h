#pragma once
// Small routines of the imaging core that every other part of the library leans
// on: row lengths, bit and byte juggling, colour packing, rectangles.
#include <cstdint>
#include <string>
#include <utility>

#include "imaging/core/ie_types.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/streams.h"
#include "platform/win/win_types.h"

// Bytes per row of width pixels of bpp bits, padded to alignment bits.
int64_t AlignedRowLength(int64_t width, int bitsPerPixel, int alignmentBits);

// Bits needed for n values: 2 -> 1, 3 -> 2, 16 -> 4; -1 for 0.
int CeilLog2(int64_t n);
// (2^bits)^samples; 1 for 0 samples.
int64_t ColorCountForBits(int bitsPerSample, int samplesPerPixel);

// A colour 0x00BBGGRR as a blue, green, red record; a system colour
// (0x80000000 | index) is resolved to its current value first.
void ColorToRGBPixel(uint32_t color, TRGB& pixel);
void MakeRGBPixel(uint8_t red, uint8_t green, uint8_t blue, TRGB& pixel);
// Grey of a colour packed red << 16 | green << 8 | blue, by the library's grey weights.
int RGBToGray(uint32_t packedRGB);

inline int32_t IntMin(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t IntMax(int32_t a, int32_t b) { return a > b ? a : b; }
inline int32_t ClampInt(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }
inline uint8_t ClampByte(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }
inline uint32_t PackBytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t(b0) | (uint32_t(b1) << 8) | (uint32_t(b2) << 16) | (uint32_t(b3) << 24);
}
// trunc(v), one more when v has a positive fraction; IEFloor one less for a negative one.
int IECeil(double v);
int IEFloor(double v);
// The smaller (larger) of two reals; the first on equality.
inline double RealMin(double a, double b) { return a <= b ? a : b; }
inline double RealMax(double a, double b) { return a >= b ? a : b; }
inline void SwapInts(int& a, int& b) { std::swap(a, b); }
inline void SwapBytes(uint8_t& a, uint8_t& b) { std::swap(a, b); }
// A colour packed red << 16 | green << 8 | blue as 0x00BBGGRR.
inline uint32_t RGBPixelToColor(uint32_t packedRGB) {
  return ((packedRGB & 0xFF) << 16) | (packedRGB & 0xFF00) | ((packedRGB >> 16) & 0xFF);
}
// alpha << 24 | red << 16 | green << 8 | blue of a colour (system colours resolved).
uint32_t ColorToARGB(uint32_t color, uint8_t alpha);
// Equal in the three low bytes.
inline bool SameRGB(uint32_t a, uint32_t b) { return ((a ^ b) & 0xFFFFFF) == 0; }

// Hue, saturation and lightness in 0..1 of a colour packed red << 16 | green << 8 | blue.
void RGBToHSL(uint32_t packedRGB, double& hue, double& saturation, double& lightness);
// The reverse: the hue wraps once into 0..1, saturation and lightness are
// clamped; each channel round(v * 255), halves to even.
TRGB HSLToRGB(double hue, double saturation, double lightness);
// One channel of HSLToRGB from the two levels m1, m2 at hue h.
double HueToChannel(double m1, double m2, double h);

// base^exponent: square-and-multiply for whole exponents (0^0 = 1, 0^n = 0),
// otherwise 2^(exponent * log2 base).
double IEPower(double base, double exponent);

inline uint16_t SwapWord(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
inline uint32_t SwapDWord(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
void SwapWordArray(uint16_t* words, int64_t count);
void SwapRedBlue24(void* row, int64_t count);
void SwapRedBlue48(void* row, int64_t count);
void SwapPaletteRedBlue(TRGB* palette, int count);
void CopyRGBSwapped(const void* source, void* destination, int64_t count);
void InvertBytes(void* buffer, int64_t count);

// Pixel x of a 1-bit row is bit 0x80 >> (x mod 8) of byte x div 8.
// GetRowBit gives that byte masked with the bit (non-zero when set).
inline uint8_t GetRowBit(const uint8_t* row, int64_t x) { return row[x >> 3] & kIEBitMask[x & 7]; }
inline void SetRowBit(uint8_t* row, int64_t x, bool on) {
  if (on) row[x >> 3] |= kIEBitMask[x & 7];
  else row[x >> 3] &= static_cast<uint8_t>(~kIEBitMask[x & 7]);
}
inline bool GetBit(const uint8_t* data, int64_t index) { return GetRowBit(data, index) != 0; }
inline void SetBit(uint8_t* data, int64_t index, bool on) { SetRowBit(data, index, on); }
void ReverseByteBits(uint8_t& value);
void ReverseDWordBits(uint32_t& value);
// Width of the run of set bits starting at the lowest set bit: 0x7C00 -> 5.
int MaskBitWidth(uint32_t mask);
// Copies bitCount bits from source at sourceBit to destination at destBit, keeping
// the destination bits around the run.
void CopyBitRun(uint8_t* destination, const uint8_t* source, int64_t destBit, int64_t sourceBit,
                int64_t bitCount, int64_t sourceRowBytes);
void CopyBitsOneByOne(uint8_t* destination, const uint8_t* source, int64_t destBit, int64_t unusedBound,
                      int64_t count, int64_t sourceBit);

// Entry with the least sum of absolute channel differences (first of equals); 0 when n is 0.
int FindNearestPaletteEntry(const TRGB* palette, int count, TRGB color);

// Bits per pixel of a framework pixel format (0 for device and custom), the
// library format that holds it, and its row length padded to 32 bits.
int PixelFormatBitCount(TPixelFormat format);
TIEBitmapFormat PixelFormatToIEFormat(TPixelFormat format);
int64_t PixelFormatRowLength(int width, TPixelFormat format);

// ---- integer geometry ----
void OrderRectCorners(int& x1, int& y1, int& x2, int& y2);
bool PointInRect(int x, int y, int left, int top, int right, int bottom);
// The same after ordering the corners.
bool PointInRectNormalized(int x, int y, int x1, int y1, int x2, int y2);
// The rectangle of corners (x1, y1), (x2, y2) in any order against a second
// one: true unless it lies wholly beside, above or below it (touching counts).
bool RectsOverlap(int x1, int y1, int x2, int y2, const RECT& other);
// By its edges: 2 when all four lie inside the client's ranges, 1 when enough
// of them do (see the source), 0 otherwise, also for a rectangle that covers
// the client without an edge inside.
int RectVisibility(const RECT& rect, const RECT& client);
// Moves the end point onto the horizontal, vertical or diagonal through the
// anchor, whichever it is within 30 pixels of.
void SnapLineAngle(int anchorX, int anchorY, int& endX, int& endY);
double PointDistance(int x1, int y1, int x2, int y2);
// Distance to the infinite line through two different points.
double DistanceToLine(int x, int y, int x1, int y1, int x2, int y2);
// Distance to the segment; 1,000,000 for an end point 45,001 or more away on an axis.
double DistanceToSegment(int x, int y, int x1, int y1, int x2, int y2);
// Distance to the polyline whose points are mapped by
// (round(scaleX * (p.x - originX) + offsetX), round(scaleY * (p.y - originY) + offsetY));
// a pen wider than 1 also tests the segments shifted by up to half the pen
// width on either axis. 1,000,000 for no points.
double DistanceToPolyline(int x, int y, const POINT* points, int count, bool closed, int penWidth, double scaleX,
                          double scaleY, int originX, int originY, int offsetX, int offsetY);

// An ANSI string as an int32 length and its characters. Reading refuses a length
// that is negative or longer than what is left of the stream.
void WriteStringToStream(TStream& stream, const std::string& s);
void ReadStringFromStream(TStream& stream, std::string& s);

// A stream that stores nothing: it measures the length of an encoding.
class TNulStream : public TStream {
public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return FSize; }

private:
  int64_t FPosition = 0;
  int64_t FSize = 0;
};
