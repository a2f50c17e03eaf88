#include "imaging/core/ie_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <new>
#include <thread>

#include "imaging/core/ie_colorspace.h"
#include "imaging/core/ie_icc.h"
#include "imaging/core/ie_render_internal.h"
#include "imaging/core/ie_resample_internal.h"
#include "imaging/core/ie_thread_pool.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"

// ---- zoom maps ----

void IEBuildZoomMap(int32_t* map, int count, double sourceSpan, double destinationSpan, int sourceOrigin,
                    int sourceLimit) {
  const int64_t hi = std::max(sourceLimit - 1, 0);
  for (int i = 0; i < count; ++i) {
    const int64_t v = destinationSpan > 0 ? sourceOrigin + int64_t(IEZoomSourceIndex(i, sourceSpan, destinationSpan))
                                          : sourceOrigin;
    map[i] = static_cast<int32_t>(std::clamp<int64_t>(v, 0, hi));
  }
}

void IEBuildViewZoomTables(double zoom, int screenLength, int bitmapLength, std::vector<int32_t>& viewToBitmap,
                           std::vector<int32_t>& bitmapToView) {
  viewToBitmap.clear();
  bitmapToView.clear();
  if (!(zoom > 0) || screenLength <= 0) return;
  const int32_t cap = std::max(bitmapLength - 1, 0);
  viewToBitmap.assign(size_t(screenLength) + 2, 0);
  bitmapToView.assign(size_t(std::max<int64_t>(Round((screenLength + 1) * 100.0 / zoom), 0)) + 2, 0);
  if (zoom > 100) {
    for (int j = screenLength + 1; j >= 0; --j) {
      const int b = IEZoomSourceIndex(j, 100, zoom);
      if (size_t(b) < bitmapToView.size()) bitmapToView[size_t(b)] = j;
      viewToBitmap[size_t(j)] = std::min(b, cap);
    }
  } else {
    for (int k = int(bitmapToView.size()) - 1; k >= 0; --k) {
      const int64_t s = Round(k * zoom / 100);
      bitmapToView[size_t(k)] = int32_t(s);
      if (s >= 0 && size_t(s) < viewToBitmap.size()) viewToBitmap[size_t(s)] = std::min(k, cap);
    }
  }
}

// ---- the renderer ----

namespace {

constexpr int kFixedOne = 16384;  // 1:1 in the 14-bit fixed-point steps

// Fills the drawing settings that depend on the source's display fields.
void PrepareAdjust(TIEBitmap& source, TIERenderJob& job, bool plain) {
  const TIEBitmapFormat f = job.format;
  const bool adjustable = job.isVirtual || f == ie24RGB || f == ie32RGB || f == ieRGB48;
  const bool rangeSet = source.RangeMin() != 0 || source.RangeMax() != 0;
  job.adjust = adjustable && (source.AdjustDisplay() || source.Contrast() != 0 || job.mode != iebmNormal ||
                              (plain && f == ie24RGB && !job.isVirtual && rangeSet));
  job.blend = adjustable && job.mode != iebmNormal;
  if (!job.adjust) return;
  const int contrast = source.Contrast();
  job.contrastFactor = contrast >= 0 ? 1 + contrast / 10.0 : 1 - std::sqrt(double(-contrast)) / 10;
  const int64_t c = static_cast<int64_t>(std::trunc(job.contrastFactor * 65536));
  job.brightness[0] = source.BrightnessBlue();
  job.brightness[1] = source.BrightnessGreen();
  job.brightness[2] = source.BrightnessRed();
  const double span = source.RangeMax() - source.RangeMin();
  const bool useRange = plain && f == ie24RGB && !job.isVirtual && span != 0;
  const int64_t lo = static_cast<int64_t>(std::trunc(source.RangeMin()));
  const int64_t hi = static_cast<int64_t>(std::trunc(source.RangeMax()));
  for (int ch = 0; ch < 3; ++ch)
    for (int v = 0; v < 256; ++v) {
      int64_t n = std::clamp<int64_t>((c * (v + job.brightness[ch] - 128)) / 65536 + 128, 0, 255);
      if (useRange) {
        const int64_t k = std::min(std::max(n, lo), hi);
        n = TruncByte((double(k) - double(lo)) / span * 255);
      }
      job.lut[ch][v] = static_cast<uint8_t>(n);
    }
}

// Grey of a sample through the value range, by the integer range rule.
void PrepareGreyRange(TIEBitmap& source, TIERenderJob& job) {
  const double span = source.RangeMax() - source.RangeMin();
  job.greyRange = span != 0 && (job.format == ie8g || job.format == ie16g || job.format == ie32f);
  job.rangeMin = source.RangeMin();
  job.rangeMax = source.RangeMax();
  job.rangeSpan = span;
  job.rangeLo = static_cast<int64_t>(std::trunc(source.RangeMin()));
  job.rangeHi = static_cast<int64_t>(std::trunc(source.RangeMax()));
  if (job.format == ie8g)
    for (int v = 0; v < 256; ++v)
      job.greyLut[v] = job.greyRange ? GreyThroughRange(job, v) : static_cast<uint8_t>(v);
}

void PreparePalette(TIEBitmap& source, TIERenderJob& job) {
  job.palette.assign(256, TRGB{});
  const TRGB* p = source.Palette();
  const int n = std::min(source.PaletteLength(), 256);
  job.hasPalette = p != nullptr && n > 0;
  if (job.hasPalette) std::copy(p, p + n, job.palette.begin());
}

// The destination's row addresses: the caller's when they fit, else built.
const std::vector<uint8_t*>& RowTableFor(TIEBitmap& destination, std::vector<uint8_t*>* given,
                                         std::vector<uint8_t*>& own, bool freeMaps) {
  const size_t h = size_t(destination.Height());
  if (given && given->size() == h && h > 0) return *given;
  own.resize(h);
  for (size_t y = 0; y < h; ++y) own[y] = destination.ScanLine(int(y));
  if (given && !freeMaps) {
    *given = own;
    return *given;
  }
  return own;
}

// A passed-in map drops its last entries that fall outside the source; entries
// in the middle that do are clamped, so a bad map cannot read outside a row.
// Returns the last usable index (from the area's origin), or -1.
int UsableMapEnd(const std::vector<int32_t>& map, int lastIndex, int limit, std::vector<int32_t>& safe,
                 const int32_t*& data) {
  lastIndex = std::min<int64_t>(lastIndex, int64_t(map.size()) - 1);
  while (lastIndex >= 0 && (map[size_t(lastIndex)] < 0 || map[size_t(lastIndex)] >= limit)) --lastIndex;
  data = map.data();
  for (int i = 0; i <= lastIndex; ++i)
    if (map[size_t(i)] < 0 || map[size_t(i)] >= limit) {
      safe.assign(map.begin(), map.begin() + lastIndex + 1);
      for (int32_t& v : safe) v = std::clamp(v, 0, limit - 1);
      data = safe.data();
      break;
    }
  return lastIndex;
}

struct TSourceRect {
  int xDst, yDst, dxDst, dyDst, xSrc, ySrc, dxSrc, dySrc;
};

// Negative origins and areas past the destination's edges, then every value
// clamped to its bitmap. False when nothing is left to draw.
bool ClipToBitmaps(TSourceRect& r, int destW, int destH, int srcW, int srcH, double& rx, double& ry) {
  if (r.dxDst <= 0 || r.dyDst <= 0 || r.dxSrc <= 0 || r.dySrc <= 0) return false;
  if (r.xDst >= destW || r.yDst >= destH) return false;
  rx = double(r.dxSrc) / r.dxDst;
  ry = double(r.dySrc) / r.dyDst;
  if (r.yDst < 0) {
    const int skipped = int(Round(-r.yDst * ry));
    r.dyDst += r.yDst;
    r.dySrc -= skipped;
    r.ySrc += skipped;
    r.yDst = 0;
  }
  if (r.xDst < 0) {
    const int skipped = int(Round(-r.xDst * rx));
    r.dxDst += r.xDst;
    r.dxSrc -= skipped;
    r.xSrc += skipped;
    r.xDst = 0;
  }
  if (int64_t(r.yDst) + r.dyDst > destH) {
    const int64_t overflow = int64_t(r.yDst) + r.dyDst - destH;
    r.dySrc -= int(std::trunc(overflow * ry));
    r.dyDst = destH - r.yDst;
  }
  if (int64_t(r.xDst) + r.dxDst > destW) {
    const int64_t overflow = int64_t(r.xDst) + r.dxDst - destW;
    r.dxSrc -= int(std::trunc(overflow * rx));
    r.dxDst = destW - r.xDst;
  }
  r.xDst = std::clamp(r.xDst, 0, destW - 1);
  r.yDst = std::clamp(r.yDst, 0, destH - 1);
  r.dxDst = std::clamp(r.dxDst, 0, destW);
  r.dyDst = std::clamp(r.dyDst, 0, destH);
  r.xSrc = std::clamp(r.xSrc, 0, srcW - 1);
  r.ySrc = std::clamp(r.ySrc, 0, srcH - 1);
  r.dxSrc = std::clamp(r.dxSrc, 0, srcW);
  r.dySrc = std::clamp(r.dySrc, 0, srcH);
  return r.dxDst > 0 && r.dyDst > 0 && r.dxSrc > 0 && r.dySrc > 0;
}

void CopyDisplayFields(TIEBitmap& from, TIEBitmap& to) {
  to.SetRange(from.RangeMin(), from.RangeMax());
  to.SetBrightness(from.BrightnessRed(), from.BrightnessGreen(), from.BrightnessBlue());
  to.SetAdjustDisplay(from.AdjustDisplay());
  to.SetContrast(from.Contrast());
}

// The source rectangle as a bitmap of its own (a virtual source as 24-bit
// colour), with the palette and, when asked, the alpha channel.
bool CopySourceRect(TIEBitmap& source, const TSourceRect& r, bool withAlpha, TIEBitmap& part) {
  const bool isVirtual = source.IsVirtual();
  const TIEBitmapFormat f = isVirtual ? ie24RGB : source.PixelFormat();
  if (!part.Allocate(r.dxSrc, r.dySrc, f)) return false;
  if (isVirtual) {
    for (int y = 0; y < r.dySrc; ++y) {
      const uint8_t* s = source.ScanLine(r.ySrc + y);
      if (s) std::memcpy(part.ScanLine(y), s + 3 * int64_t(r.xSrc), 3 * size_t(r.dxSrc));
    }
  } else {
    source.CopyRectTo(part, r.xSrc, r.ySrc, r.dxSrc, r.dySrc, 0, 0);
    if (f == ie8p) source.CopyPaletteTo(&part);
  }
  if (withAlpha) {
    auto alpha = TIEBitmap::CreateAlphaChannel(r.dxSrc, r.dySrc, ieMemory);
    if (alpha->IsEmpty()) return false;
    source.AlphaChannel()->CopyRectTo(*alpha, r.xSrc, r.ySrc, r.dxSrc, r.dySrc, 0, 0);
    AttachAlphaChannel(part, std::move(alpha));
    part.SetFull(false);
  }
  return true;
}

// The source rectangle resampled to the destination size with the filter.
bool ResampleSourceRect(TIEBitmap& source, const TSourceRect& r, bool alphaUsed, TResampleFilter filter,
                        TIEBitmap& scaled) {
  const TIEBitmapFormat f = source.IsVirtual() ? ie24RGB : source.PixelFormat();
  const bool projection = filter == rfProjectBW || filter == rfProjectWB;
  const bool shrinks = r.dxDst <= r.dxSrc && r.dyDst <= r.dySrc;
  if (f == ie1g && shrinks && !alphaUsed && !projection) {
    if (!scaled.Allocate(r.dxDst, r.dyDst, ie24RGB)) return false;
    Stretch1BitToGray(source, r.xSrc, r.ySrc, r.xSrc + r.dxSrc - 1, r.ySrc + r.dySrc - 1, scaled);
    return true;
  }
  TIEBitmap copy;
  TIEBitmap* part = &source;
  const bool whole = r.xSrc == 0 && r.ySrc == 0 && r.dxSrc == source.Width() && r.dySrc == source.Height();
  if (!whole || source.IsVirtual()) {
    if (!CopySourceRect(source, r, alphaUsed, copy)) return false;
    part = &copy;
  }
  if (!scaled.Allocate(r.dxDst, r.dyDst, f == ie1g && projection ? ie1g : ie24RGB)) return false;
  std::unique_ptr<TIEBitmap> alpha;
  if (alphaUsed) {
    alpha = TIEBitmap::CreateAlphaChannel(r.dxDst, r.dyDst, ieMemory);
    if (alpha->IsEmpty()) return false;
  }
  // The grey resampler runs on one thread: the channel goes alongside the
  // colour, which has workers of its own, unless the rows live in a file or
  // the colour's filter reads the channel too.
  TIEBitmap* sourceAlpha = alphaUsed ? part->AlphaChannel() : nullptr;
  const bool alongside = alphaUsed && part->Location() != ieFile && sourceAlpha->Location() != ieFile &&
                         filter != rfBilinear && filter != rfBicubic;
  std::exception_ptr alphaFailure;
  std::thread alphaThread;
  if (alongside)
    alphaThread = std::thread([&] {
      try {
        ResampleGrayFiltered(*sourceAlpha, *alpha, filter);
      } catch (...) {
        alphaFailure = std::current_exception();
      }
    });
  try {
    if (f == ie1g) Resample1BitEx(*part, scaled, filter);
    else ResampleEx(part, &scaled, sourceAlpha, nullptr, nullptr, filter);
  } catch (...) {
    if (alphaThread.joinable()) alphaThread.join();
    throw;
  }
  if (alphaThread.joinable()) alphaThread.join();
  if (alphaFailure) std::rethrow_exception(alphaFailure);
  if (alphaUsed) {
    if (!alongside) ResampleGrayFiltered(*sourceAlpha, *alpha, filter);
    AttachAlphaChannel(scaled, std::move(alpha));
    scaled.SetFull(false);
  }
  return true;
}

// Below this many drawn pixels one thread does the work: starting workers
// would cost more than it saves.
constexpr int64_t kThreadedPixels = 1 << 16;

// Draws the job's rows straight from the source through its maps.
void DrawRows(TIERenderJob& job, TIEBitmap& source) {
  // Row addresses of the source (and its alpha channel) fetched here, on one
  // thread, when several rows may be held at once; a bitmap kept in a
  // temporary file maps one row at a time, so its rows are fetched while drawing.
  TIEBitmap* alpha = job.alpha;
  const bool fileBacked = source.Location() == ieFile || (alpha && alpha->Location() == ieFile);
  const int rowCount = job.y2 - job.y1 + 1;
  if (!job.isVirtual && !fileBacked) {
    job.sourceRows.resize(size_t(rowCount));
    for (int i = 0; i < rowCount; ++i)
      job.sourceRows[size_t(i)] = source.ScanLine(job.fast ? job.fastY + job.y1 + i : job.ymap[i]);
    if (alpha) {
      job.alphaRows.resize(size_t(rowCount));
      for (int i = 0; i < rowCount; ++i)
        job.alphaRows[size_t(i)] = alpha->ScanLine(job.fast ? job.fastY + job.y1 + i : job.ymap[i]);
    }
  }
  if (!job.isVirtual && !fileBacked && int64_t(rowCount) * (job.x2 - job.x1 + 1) >= kThreadedPixels) {
    IERunRowBands(rowCount, false, [&job](int first, int last) { DrawRowBand(job, job.y1 + first, job.y1 + last); });
  } else {
    DrawRowBand(job, job.y1, job.y2);
  }
}

// A kernel filter on 24-bit colour in memory (and an 8-bit alpha channel in
// memory when it is drawn) is resampled row by row as the rows are drawn, with
// the same arithmetic as ResampleEx and ResampleGrayFiltered; other filters,
// formats and file-backed pictures are resampled to a bitmap first.
bool ResampleWhileDrawing(TIEBitmap& source, TResampleFilter filter, bool alphaUsed) {
  if (filter < rfTriangle || filter > rfLinear) return false;
  if (source.IsVirtual() || source.PixelFormat() != ie24RGB || source.Location() == ieFile) return false;
  if (!alphaUsed) return true;
  TIEBitmap* alpha = source.AlphaChannel();
  return alpha->PixelFormat() == ie8g && alpha->Location() != ieFile;
}

// The job drawn from the rectangle r of the source resampled to r's
// destination size: the job's maps and rows are those of the resampled
// picture at the destination's origin (r.xDst, r.yDst).
void DrawResampled(const TIERenderJob& job, TIEBitmap& source, const TSourceRect& r, TResampleFilter filter) {
  ieresample::TKernelPlan plan;
  ieresample::BuildKernelPlan(plan, r.dxSrc, r.dySrc, r.dxDst, r.dyDst, filter, job.alphaMode);
  // Row addresses fetched on this thread before the workers read them.
  std::vector<const uint8_t*> colourRows(size_t(r.dySrc)), alphaRows(job.alphaMode ? size_t(r.dySrc) : 0);
  for (int y = 0; y < r.dySrc; ++y) {
    const uint8_t* s = source.ScanLine(r.ySrc + y);
    colourRows[size_t(y)] = s ? s + 3 * int64_t(r.xSrc) : nullptr;
    if (job.alphaMode) {
      const uint8_t* a = job.alpha->ScanLine(r.ySrc + y);
      alphaRows[size_t(y)] = a ? a + r.xSrc : nullptr;
    }
  }
  const ieresample::TRowSource colourRow = [&](int y) { return colourRows[size_t(y)]; };
  const ieresample::TRowSource alphaRow = [&](int y) { return alphaRows[size_t(y)]; };
  const int first = job.y1 - r.yDst, rowCount = job.y2 - job.y1 + 1, count = job.x2 - job.x1 + 1;
  auto band = [&](int a, int b) {
    std::vector<TRGB> colour(static_cast<size_t>(count));
    std::vector<TCMYK> cmyk;
    ieresample::ResampleRowRange(plan, first + a, first + b, colourRow, alphaRow,
                                 [&](int y, const uint8_t* rgb, const uint8_t* grey) {
                                   const int row = r.yDst + y;
                                   if (job.rows[row]) DrawSourceRow(job, row, rgb, grey, colour.data(), cmyk);
                                 });
  };
  if (int64_t(r.dxSrc) * r.dySrc + int64_t(rowCount) * count >= kThreadedPixels) IERunRowBands(rowCount, false, band);
  else band(0, rowCount - 1);
}

void Render(TIEBitmap& source, TIEBitmap& destination, std::vector<uint8_t*>* rowTable,
            std::vector<int32_t>* columnMap, std::vector<int32_t>* rowMap, const RECT* clip, TSourceRect r,
            bool enableAlpha, bool rowReuse, uint8_t opacity, TResampleFilter filter, bool freeMaps,
            TIEBlendMode mode) {
  if (destination.PixelFormat() != ie24RGB || destination.Location() == ieFile || destination.IsVirtual()) return;
  if (source.IsEmpty() || source.PixelFormat() == ieNoFormat || source.PixelFormat() >= kIEFormatCount) return;
  const int destW = destination.Width(), destH = destination.Height();
  const int srcW = source.Width(), srcH = source.Height();
  double rx = 0, ry = 0;
  int dxDst0 = r.dxDst, dyDst0 = r.dyDst, dxSrc0 = r.dxSrc, dySrc0 = r.dySrc;
  if (!ClipToBitmaps(r, destW, destH, srcW, srcH, rx, ry)) return;

  // A channel of another size than its picture cannot be read by the maps: it is left out.
  const bool alphaAvailable = enableAlpha && source.HasAlphaChannel() && !source.Full() &&
                              source.AlphaChannel()->Width() == srcW && source.AlphaChannel()->Height() == srcH;
  const bool resample = filter != rfNone && (r.dxSrc != r.dxDst || r.dySrc != r.dyDst);
  const bool resampleWhileDrawing = resample && ResampleWhileDrawing(source, filter, alphaAvailable);
  if (resample && !resampleWhileDrawing) {
    TIEBitmap scaled;
    if (!ResampleSourceRect(source, r, alphaAvailable, filter, scaled)) return;
    CopyDisplayFields(source, scaled);
    Render(scaled, destination, rowTable, nullptr, nullptr, clip,
           TSourceRect{r.xDst, r.yDst, r.dxDst, r.dyDst, 0, 0, r.dxDst, r.dyDst}, enableAlpha, rowReuse, opacity,
           rfNone, freeMaps, mode);
    return;
  }

  // Resampled while drawing, the picture is drawn as if it had first been
  // resampled to the area's size and then drawn one to one.
  const TSourceRect sourceRect = r;
  int mapW = srcW, mapH = srcH;
  if (resampleWhileDrawing) {
    r.xSrc = r.ySrc = 0;
    r.dxSrc = dxSrc0 = dxDst0 = mapW = r.dxDst;
    r.dySrc = dySrc0 = dyDst0 = mapH = r.dyDst;
    columnMap = rowMap = nullptr;
  }

  std::vector<uint8_t*> ownRows;
  const std::vector<uint8_t*>& rows = RowTableFor(destination, rowTable, ownRows, freeMaps);

  // The drawn rows and columns: the area, the clip and the destination.
  int x1 = r.xDst, x2 = r.xDst + r.dxDst - 1, y1 = r.yDst, y2 = r.yDst + r.dyDst - 1;
  if (clip) {
    x1 = std::max<int>(x1, clip->left);
    y1 = std::max<int>(y1, clip->top);
    x2 = std::min<int>(x2, clip->right - 1);
    y2 = std::min<int>(y2, clip->bottom - 1);
  }
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, destW - 1);
  y2 = std::min(y2, destH - 1);
  if (x1 > x2 || y1 > y2) return;

  TIERenderJob job;
  job.source = &source;
  job.isVirtual = source.IsVirtual();
  job.format = source.PixelFormat();
  job.mode = mode;
  job.opacity = opacity;
  job.rows = rows.data();
  job.alphaMode = alphaAvailable;
  const int stepX = int(std::trunc(double(r.dxSrc) / r.dxDst * kFixedOne));
  const int stepY = int(std::trunc(double(r.dySrc) / r.dyDst * kFixedOne));
  const bool plain = opacity == 255 && !job.alphaMode;
  job.plain = plain;
  // Runs are copied only where the source has them all; past its edges the
  // maps repeat its last column or row.
  job.fast = stepX == kFixedOne && stepY == kFixedOne && job.format == ie24RGB && !job.isVirtual && plain &&
             int64_t(r.xSrc) + r.dxDst <= mapW && int64_t(r.ySrc) + r.dyDst <= mapH &&
             !source.AdjustDisplay() && source.Contrast() == 0 && mode == iebmNormal && source.RangeMin() == 0 &&
             source.RangeMax() == 0;
  (void)dxDst0, (void)dyDst0, (void)dxSrc0, (void)dySrc0;

  std::vector<int32_t> ownX, ownY, safeX, safeY;
  if (job.fast) {
    job.fastX = r.xSrc + (x1 - r.xDst);
    job.fastY = r.ySrc - r.yDst;
  } else {
    const int32_t* xm = nullptr;
    const int32_t* ym = nullptr;
    if (columnMap && !columnMap->empty()) {
      x2 = r.xDst + UsableMapEnd(*columnMap, x2 - r.xDst, mapW, safeX, xm);
    } else {
      ownX.resize(size_t(r.dxDst));
      IEBuildZoomMap(ownX.data(), r.dxDst, dxSrc0, dxDst0, r.xSrc, mapW);
      xm = ownX.data();
    }
    if (rowMap && !rowMap->empty()) {
      y2 = r.yDst + UsableMapEnd(*rowMap, y2 - r.yDst, mapH, safeY, ym);
    } else {
      ownY.resize(size_t(r.dyDst));
      IEBuildZoomMap(ownY.data(), r.dyDst, dySrc0, dyDst0, r.ySrc, mapH);
      ym = ownY.data();
    }
    if (x1 > x2 || y1 > y2) return;
    job.xmap = xm + (x1 - r.xDst);
    job.ymap = ym + (y1 - r.yDst);
    job.columnsInOrder = true;
    for (int k = 1; k <= x2 - x1 && job.columnsInOrder; ++k) job.columnsInOrder = job.xmap[k] == job.xmap[0] + k;
  }
  job.x1 = x1;
  job.x2 = x2;
  job.y1 = y1;
  job.y2 = y2;
  job.rowReuse = rowReuse && plain && mode == iebmNormal &&
                 (job.isVirtual ? false : (job.format == ie24RGB || job.format == ie32RGB || job.format == ie1g));

  PrepareAdjust(source, job, plain);
  PrepareGreyRange(source, job);
  if (job.format == ie8p && !job.isVirtual) {
    PreparePalette(source, job);
    if (!job.hasPalette) return;
  }
  if (job.isVirtual) {
    job.renderer = source.Renderer();
    job.rowCallback = source.RowCallback() ? &source.RowCallback() : nullptr;
  }

  TIEBitmap* alpha = job.alphaMode ? source.AlphaChannel() : nullptr;
  job.alpha = alpha;
  if (resampleWhileDrawing) DrawResampled(job, source, sourceRect, filter);
  else DrawRows(job, source);

  if (!freeMaps) {
    if (columnMap && columnMap->empty() && !ownX.empty()) *columnMap = std::move(ownX);
    if (rowMap && rowMap->empty() && !ownY.empty()) *rowMap = std::move(ownY);
  }
}

}  // namespace

void TIEBitmap::RenderToTIEBitmapEx(TIEBitmap& destination, std::vector<uint8_t*>* rowTable,
                                    std::vector<int32_t>* columnMap, std::vector<int32_t>* rowMap, const RECT* clip,
                                    int xDst, int yDst, int dxDst, int dyDst, int xSrc, int ySrc, int dxSrc, int dySrc,
                                    bool enableAlpha, bool rowReuse, uint8_t opacity, TResampleFilter filter,
                                    bool freeMaps, TIEBlendMode blendMode) {
  if (&destination == this) return;
  TIEAccessScope access(*this, 1);
  // A repaint never raises: what could not be drawn stays as it was.
  try {
    Render(*this, destination, rowTable, columnMap, rowMap, clip,
           TSourceRect{xDst, yDst, dxDst, dyDst, xSrc, ySrc, dxSrc, dySrc}, enableAlpha, rowReuse, opacity, filter,
           freeMaps, blendMode);
  } catch (const std::bad_alloc&) {
  } catch (const Exception&) {
  }
}

void TIEBitmap::RenderToTIEBitmap(TIEBitmap& destination, int xDst, int yDst, int dxDst, int dyDst, int xSrc, int ySrc,
                                  int dxSrc, int dySrc, TResampleFilter filter, uint8_t opacity,
                                  TIEBlendMode blendMode) {
  RenderToTIEBitmapEx(destination, nullptr, nullptr, nullptr, nullptr, xDst, yDst, dxDst, dyDst, xSrc, ySrc, dxSrc,
                      dySrc, true, false, opacity, filter, true, blendMode);
}

void TIEBitmap::RenderToTBitmapEx(TBitmap& destination, std::vector<uint8_t*>* rowTable,
                                  std::vector<int32_t>* columnMap, std::vector<int32_t>* rowMap, const RECT* clip,
                                  int xDst, int yDst, int dxDst, int dyDst, int xSrc, int ySrc, int dxSrc, int dySrc,
                                  bool enableAlpha, bool rowReuse, uint8_t opacity, TResampleFilter filter,
                                  bool freeMaps, TIEBlendMode blendMode) {
  TIEBitmap target;
  try {
    target.EncapsulateTBitmap(&destination, false);
  } catch (const std::bad_alloc&) {
    return;
  } catch (const Exception&) {
    return;
  }
  RenderToTIEBitmapEx(target, rowTable, columnMap, rowMap, clip, xDst, yDst, dxDst, dyDst, xSrc, ySrc, dxSrc, dySrc,
                      enableAlpha, rowReuse, opacity, filter, freeMaps, blendMode);
}

void TIEBitmap::RenderToTBitmap(TBitmap& destination, int xDst, int yDst, int dxDst, int dyDst, int xSrc, int ySrc,
                                int dxSrc, int dySrc, TResampleFilter filter, uint8_t opacity,
                                TIEBlendMode blendMode) {
  RenderToTBitmapEx(destination, nullptr, nullptr, nullptr, nullptr, xDst, yDst, dxDst, dyDst, xSrc, ySrc, dxSrc,
                    dySrc, true, false, opacity, filter, true, blendMode);
}
