#pragma once
// Small routines of the imaging core that every other part of the library leans
// on: row lengths, bit and byte juggling, colour packing, rectangles.
#include <cstdint>
#include <string>

#include "imaging/core/ie_types.h"
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
int IECeil(double v);
inline double RealMin(double a, double b) { return a < b ? a : b; }

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

// Bit index counts from the most significant bit of the first byte.
bool GetBit(const uint8_t* data, int64_t index);
void SetBit(uint8_t* data, int64_t index, bool on);
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

void OrderRectCorners(int& x1, int& y1, int& x2, int& y2);
bool PointInRect(int x, int y, int x1, int y1, int x2, int y2);
bool RectsOverlap(const RECT& a, const RECT& b);
// 2 wholly inside the client rectangle, 1 partly, 0 outside.
int RectVisibility(const RECT& rect, const RECT& client);
double DistanceToSegment(int px, int py, int x1, int y1, int x2, int y2);

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
