#pragma once
// What the zoomed drawing decides once per call and its row drawers read: one
// record per call, shared read-only by the worker threads.
#include <cmath>
#include <cstdint>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_blend.h"

struct TIERenderJob {
  TIEBitmap* source = nullptr;
  TIEBitmap* alpha = nullptr;  // the alpha channel in alpha mode, else null
  TIEBitmapFormat format = ieNoFormat;
  bool isVirtual = false;
  TIEBlendMode mode = iebmNormal;
  uint8_t opacity = 255;
  bool alphaMode = false;
  bool plain = true;      // opacity 255 and no alpha mode: the plain drawer
  bool fast = false;      // 24-bit 1:1 copy: no maps
  bool adjust = false;    // brightness, contrast, range through lut
  bool blend = false;     // BlendPixelByMode with the destination
  bool rowReuse = false;
  uint8_t* const* rows = nullptr;  // destination row table
  // Drawn destination rows y1..y2 and columns x1..x2; xmap[k] is the source
  // column of column x1 + k, ymap[i] the source row of row y1 + i.
  int x1 = 0, x2 = -1, y1 = 0, y2 = -1;
  const int32_t* xmap = nullptr;
  const int32_t* ymap = nullptr;
  bool columnsInOrder = false;  // xmap[k] = xmap[0] + k: rows are read as runs
  int fastX = 0;  // fast case: source column of x1
  int fastY = 0;  // fast case: source row = fastY + destination row
  // Adjusting path: per channel (blue, green, red) lookup of brightness,
  // contrast and the 24-bit plain drawer's range; the 48-bit drawer computes
  // on words with the factor and the offsets instead.
  double contrastFactor = 1;
  int brightness[3] = {0, 0, 0};
  uint8_t lut[3][256] = {};
  // Grey value range (ie8g, ie16g, ie32f).
  bool greyRange = false;
  double rangeMin = 0, rangeMax = 0, rangeSpan = 0;
  int64_t rangeLo = 0, rangeHi = 0;
  uint8_t greyLut[256] = {};
  bool hasPalette = false;
  std::vector<TRGB> palette;
  // Row addresses fetched before drawing, indexed from y1; empty when rows
  // are fetched while drawing (file-backed or virtual sources).
  std::vector<uint8_t*> sourceRows;
  std::vector<uint8_t*> alphaRows;
  TIEVirtualBitmapRenderer* renderer = nullptr;
  const TIERowCallback* rowCallback = nullptr;
};

// trunc(x) kept to 0..255 (a NaN gives 0).
inline uint8_t TruncByte(double x) {
  if (!(x > 0)) return 0;
  if (x >= 255) return 255;
  return static_cast<uint8_t>(x);
}

// An integer sample through the grey value range.
inline uint8_t GreyThroughRange(const TIERenderJob& job, int64_t v) {
  if (v < job.rangeLo) v = job.rangeLo;
  if (v > job.rangeHi) v = job.rangeHi;
  return TruncByte(double(v - job.rangeLo) / job.rangeSpan * 255);
}

// Moves the destination channel d toward n by weight w / 256, rounding down;
// 255 writes n and 0 keeps d, so an opaque pixel comes out as it is.
inline uint8_t WeighChannel(int d, int n, int w) {
  if (w >= 255) return static_cast<uint8_t>(n);
  return static_cast<uint8_t>(d + (((n - d) * w * 1024) >> 18));
}

// Draws destination rows yFirst..yLast of the job (any part of y1..y2).
void DrawRowBand(const TIERenderJob& job, int yFirst, int yLast);
// Draws destination row y (which has an address) from the given source row and,
// in alpha mode, its alpha row; colour and cmyk are room for x2 - x1 + 1 pixels.
void DrawSourceRow(const TIERenderJob& job, int y, const uint8_t* src, const uint8_t* alphaRow, TRGB* colour,
                   std::vector<TCMYK>& cmyk);
