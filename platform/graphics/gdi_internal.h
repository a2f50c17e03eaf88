#pragma once
// The object model behind the drawing handles. Only the gdi_*.cpp units include
// this header: one pixel surface model (a DIB) backs every bitmap, a DC is a
// record of drawing state, and handles are keys into one table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/graphics/font_engine.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/dib_header.h"
#include "platform/graphics/shared_bits.h"

namespace qvgdi {

// Every call into the drawing layer holds this lock for its duration.
std::unique_lock<std::recursive_mutex> Lock();

// Bitmaps larger than this are refused rather than allocated.
constexpr int64_t kMaxBitmapBytes = int64_t{1} << 29;
constexpr int kMaxDimension = 1 << 16;

// ---------------------------------------------------------------------------
// Pixel surfaces
// ---------------------------------------------------------------------------
// Nearest table entries found for colours, kept with the surface so that a
// run of single-pixel calls fills the cache once, not once per call. It holds
// the colour table it was filled for and is refilled when the table changes.
struct NearestColorCache {
  std::vector<RGBQUAD> table;
  std::vector<uint32_t> keys;
  std::vector<uint8_t> values;
};

struct Surface {
  int width = 0;
  int height = 0;
  int bitCount = 0;         // 1, 4, 8, 16, 24 or 32
  bool topDown = false;     // row 0 first in memory
  bool mono = false;        // a monochrome device bitmap: text/background colours apply in blits
  DWORD compression = BI_RGB;
  uint32_t masks[3] = {0, 0, 0};  // red, green, blue for 16 and 32 bits
  std::vector<RGBQUAD> colors;    // for <= 8 bits: 2^bitCount entries
  UINT colorsUsed = 0;            // entries of the table that the bitmap declared
  size_t stride = 0;
  uint8_t* bits = nullptr;
  // Zeroed by calloc, so large untouched bitmaps (the screen) cost no page writes;
  // null when the bits belong to someone else. A DIB section made over rows a
  // picture keeps holds them here together with that picture.
  TSharedBits storage;
  // Filled on the first colour-to-index search (indexed surfaces only).
  mutable std::unique_ptr<NearestColorCache> nearest;

  uint8_t* Row(int y) const {
    return bits + static_cast<size_t>(topDown ? y : height - 1 - y) * stride;
  }
  size_t ImageBytes() const { return stride * static_cast<size_t>(height); }
  bool Indexed() const { return bitCount <= 8; }
};

inline bool SameColors(const std::vector<RGBQUAD>& a, const std::vector<RGBQUAD>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(RGBQUAD)) == 0);
}

// Allocates a zeroed surface; false when the size or format is unsupported or too large.
bool AllocateSurface(Surface& s, int width, int height, int bitCount);
// The same without rows: the layout, default masks and colour table only, for
// a surface whose rows come from elsewhere.
bool ShapeSurface(Surface& s, int width, int height, int bitCount);
// Sets the default masks of 16 and 32-bit surfaces (5-5-5, 8-8-8).
void SetDefaultMasks(Surface& s);
// Deep copy.
bool CopySurface(Surface& dest, const Surface& src);
// A copy of the same size and format holding only rows [first, last) of the
// source; the other rows are zero and cost no page writes.
bool CopySurfaceRows(Surface& dest, const Surface& src, int first, int last);

// Default colour tables: black/white, the 16 VGA colours, the 256-colour table of
// the 20 static colours around a 6x6x6 cube.
std::vector<RGBQUAD> DefaultColorTable(int bitCount);
// The 20 static colours of the system palette.
const std::vector<PALETTEENTRY>& StaticPaletteEntries();

// Reads and writes the raw value of one pixel and converts between values and colours.
class PixelCodec {
public:
  explicit PixelCodec(const Surface& s);
  uint32_t Read(const uint8_t* row, int x) const;
  void Write(uint8_t* row, int x, uint32_t value) const;
  COLORREF ToColor(uint32_t value) const;
  // Nearest value for a colour; 32-bit values get alpha 0.
  uint32_t FromColor(COLORREF color) const;
  // The value with every bit of a pixel set (white in the default tables).
  uint32_t AllBits() const { return FAllBits; }
  int BitCount() const { return FBitCount; }

private:
  NearestColorCache& Cache() const;

  const Surface* FSurface;
  int FBitCount;
  uint32_t FAllBits;
  const RGBQUAD* FColors = nullptr;
  size_t FColorCount = 0;
  uint32_t FMask[3] = {0, 0, 0};
  int FShift[3] = {0, 0, 0};
  int FBits[3] = {0, 0, 0};
  // The surface's direct-mapped cache of nearest-entry searches, found on the
  // first search: reading pixels never builds one.
  mutable NearestColorCache* FCache = nullptr;
};

// Index of the nearest table colour (squared RGB distance, first wins).
int NearestIndex(const RGBQUAD* colors, size_t count, COLORREF color);

// Views a packed DIB (header, colour table, bits) as a surface without copying the
// bits. usage DIB_PAL_COLORS resolves indexes through palette (may be null).
bool SurfaceFromDib(Surface& s, const BITMAPINFO* info, const void* bits, UINT usage,
                    const std::vector<PALETTEENTRY>* palette);
// Header size and colour-table bytes of a DIB header; false when it is not one we read.
// What the drawing calls let the shared DIB reader look at behind a header they
// are handed: as much as it may need, since the caller vouches for the header.
constexpr size_t kTrustedDibBytes = kDibPrefixBytes;
bool ParseDibHeader(const BITMAPINFOHEADER* header, int& width, int& height, bool& topDown, int& bitCount);

// ---------------------------------------------------------------------------
// Regions: horizontal bands of sorted, disjoint spans
// ---------------------------------------------------------------------------
struct Span {
  int x0;
  int x1;  // exclusive
  bool operator==(const Span&) const = default;
};
// Sorts spans and merges those that overlap or touch.
void Normalise(std::vector<Span>& spans);
// Spans of consecutive rows (row 0 first), as shapes are rasterised; kept flat
// so that tall shapes cost no allocation per row.
struct Rows {
  size_t count = 0;
  std::vector<std::pair<uint32_t, Span>> items;  // row index, span
  void resize(size_t n) { count = n; }
  size_t size() const { return count; }
  void Add(size_t row, Span s) { items.push_back({static_cast<uint32_t>(row), s}); }
};

struct Band {
  int y0;
  int y1;  // exclusive
  std::vector<Span> spans;
};

class Region {
public:
  Region() = default;
  static Region FromRect(int left, int top, int right, int bottom);
  // Rows starting at y, each a list of spans (sorted and disjoint afterwards).
  static Region FromRows(int y, Rows rows);
  static Region Combine(const Region& a, const Region& b, int mode);

  bool Empty() const { return FBands.empty(); }
  RECT Bounds() const;
  int Type() const;
  bool Contains(int x, int y) const;
  bool IntersectsRect(const RECT& r) const;
  void Offset(int dx, int dy);
  std::vector<RECT> Rects() const;
  const std::vector<Band>& Bands() const { return FBands; }
  // The spans covering row y (empty when none).
  const std::vector<Span>* SpansAt(int y) const;
  bool operator==(const Region& other) const;
  // Adds rows below the last band; spans sorted and disjoint.
  void AppendBand(int y0, int y1, std::vector<Span> spans);

private:
  // Adds one row, extending the last band when it has the same spans.
  void AppendRow(int y, const std::vector<Span>& spans);
  std::vector<Band> FBands;
};

// The outlines of a region as closed polygons of device points that, filled in
// either fill mode, cover exactly the region: each runs with the region on its
// right (clockwise on the screen), holes the other way round.
std::vector<std::vector<POINT>> RegionOutlines(const Region& region);

// Rows of a shape clipped to [yMin, yMax): filled ellipse, round rectangle, polygon.
Rows EllipseRows(int left, int top, int right, int bottom, int yMin, int yMax);
Rows RoundRectRows(int left, int top, int right, int bottom, int w, int h, int yMin,
                                             int yMax);
struct PointD {
  double x;
  double y;
};
Rows PolygonRowsD(const std::vector<std::vector<PointD>>& polygons, int fillMode,
                                            int yMin, int yMax, int& firstRow);
Rows PolygonRows(const std::vector<std::vector<POINT>>& polygons, int fillMode,
                                           int yMin, int yMax, int& firstRow);

// ---------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------
enum class Kind : uint8_t { DC, Bitmap, Pen, Brush, Font, Palette, Region, Icon, EnhMetaFile, MetaFile };

struct GdiObject {
  explicit GdiObject(Kind k) : kind(k) {}
  virtual ~GdiObject() = default;
  Kind kind;
  bool stock = false;
  bool deletePending = false;  // deleted while selected: freed when the last DC lets go
  int selections = 0;          // DCs (and their saved states) that hold it
};

struct BitmapObj : GdiObject {
  BitmapObj() : GdiObject(Kind::Bitmap) {}
  Surface surface;
  bool dibSection = false;
  HDC selectedInto = nullptr;
};

struct PenObj : GdiObject {
  PenObj() : GdiObject(Kind::Pen) {}
  UINT style = PS_SOLID;  // the full style word, with end cap, join and type
  int width = 1;
  COLORREF color = 0;
  bool extended = false;
  UINT Kind() const { return style & PS_STYLE_MASK; }
};

struct BrushObj : GdiObject {
  BrushObj() : GdiObject(Kind::Brush) {}
  UINT style = BS_SOLID;
  COLORREF color = 0;
  int hatch = 0;
  Surface pattern;       // BS_PATTERN / BS_DIBPATTERN tile
};

struct FontObj : GdiObject {
  FontObj() : GdiObject(Kind::Font) {}
  LOGFONTA logFont;
  std::shared_ptr<fontengine::Face> face;  // opened on first use
  // The face at another device size, for DCs whose map scales logical units.
  std::shared_ptr<fontengine::Face> scaledFace;
  int scaledHeight = 0;
  int scaledWidth = 0;
  int scaledEscapement = 0;
  std::array<double, 4> scaledMatrix{1, 0, 0, 1};
};

struct PaletteObj : GdiObject {
  PaletteObj() : GdiObject(Kind::Palette) {}
  std::vector<PALETTEENTRY> entries;
};

struct RegionObj : GdiObject {
  RegionObj() : GdiObject(Kind::Region) {}
  Region region;
};

struct IconObj : GdiObject {
  IconObj() : GdiObject(Kind::Icon) {}
  bool isIcon = true;
  DWORD hotX = 0;
  DWORD hotY = 0;
  int width = 0;
  int height = 0;
  Surface mask;            // 1 bit, black/white; twice the height when there is no colour image
  bool hasColor = false;
  Surface color;           // 32 bits
  bool hasAlpha = false;   // any non-zero alpha in the colour image
};

// An affine map of the plane: x' = m11 x + m21 y + dx, y' = m12 x + m22 y + dy.
struct Matrix {
  double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
  bool operator==(const Matrix&) const = default;
  // This map after the other one.
  Matrix After(const Matrix& first) const {
    return Matrix{first.m11 * m11 + first.m12 * m21, first.m11 * m12 + first.m12 * m22,
                  first.m21 * m11 + first.m22 * m21, first.m21 * m12 + first.m22 * m22,
                  first.dx * m11 + first.dy * m21 + dx, first.dx * m12 + first.dy * m22 + dy};
  }
  bool AxisAligned() const { return m12 == 0 && m21 == 0; }
};

// A path: figures of device points collected between BeginPath and EndPath,
// kept in device units as the map stood when each call was made.
struct PathFigure {
  std::vector<POINT> points;
  bool closed = false;
};
struct DCPath {
  bool open = false;   // between BeginPath and EndPath: drawing calls add figures
  bool ready = false;  // ended and not yet used
  std::vector<PathFigure> figures;
  size_t points = 0;   // in all figures, kept within kMaxPathPoints
};
// A path holds at most this many points (32 MB); what a metafile adds beyond
// is dropped, so a file of endless lines or text cannot take all memory.
constexpr size_t kMaxPathPoints = size_t{1} << 22;

struct DCState {
  HBITMAP bitmap = nullptr;
  HPEN pen = nullptr;
  HBRUSH brush = nullptr;
  HFONT font = nullptr;
  HPALETTE palette = nullptr;
  COLORREF bkColor = 0xFFFFFF;
  COLORREF textColor = 0;
  int bkMode = OPAQUE;
  int rop2 = R2_COPYPEN;
  int stretchMode = BLACKONWHITE;
  int polyFillMode = ALTERNATE;
  UINT textAlign = TA_TOP | TA_LEFT;
  POINT brushOrg;
  POINT viewportOrg;
  POINT windowOrg;
  POINT position;
  std::optional<Region> clip;  // device coordinates
  // Logical to device: the world transform, then the page (window to viewport),
  // then the placement of a metafile being played. plain: all three are the
  // identity but for the origins, the fast path of ordinary drawing.
  int mapMode = MM_TEXT;
  SIZE windowExt{1, 1};
  SIZE viewportExt{1, 1};
  int graphicsMode = GM_COMPATIBLE;
  Matrix world;
  Matrix play;
  bool plain = true;
  // The clip that a metafile's own clipping is combined with while it plays.
  std::optional<Region> metaClip;
  bool playing = false;
  DCPath path;
};

class MetaRecorder;
struct RecorderDeleter {
  void operator()(MetaRecorder* r) const;
};

struct DCObj : GdiObject {
  DCObj() : GdiObject(Kind::DC) {}
  bool screen = false;
  // Set on a recording DC (CreateEnhMetaFile, CreateMetaFile): drawing calls
  // become records instead of pixels.
  std::unique_ptr<MetaRecorder, RecorderDeleter> recorder;
  DCState state;
  std::vector<DCState> saved;
};

// Handle table.
void* Register(std::unique_ptr<GdiObject> object);
GdiObject* Find(const void* handle);  // null for unknown or deleted handles
template <class T>
T* FindAs(const void* handle, Kind kind) {
  GdiObject* o = Find(handle);
  return o && o->kind == kind ? static_cast<T*>(o) : nullptr;
}
inline DCObj* FindDC(HDC h) { return FindAs<DCObj>(h, Kind::DC); }
// A screen DC's pixels in the device rectangle fetched from the screen reader
// (nothing for other DCs or without a reader).
void RefreshScreenArea(DCObj* dc, int x, int y, int width, int height);
inline BitmapObj* FindBitmap(const void* h) { return FindAs<BitmapObj>(h, Kind::Bitmap); }
inline RegionObj* FindRegion(const void* h) { return FindAs<RegionObj>(h, Kind::Region); }
inline PaletteObj* FindPalette(const void* h) { return FindAs<PaletteObj>(h, Kind::Palette); }
inline IconObj* FindIcon(const void* h) { return FindAs<IconObj>(h, Kind::Icon); }
// Looks up objects a DC holds, also when their deletion is pending.
GdiObject* FindHeld(const void* handle);
// Removes the handle and frees the object.
void Unregister(const void* handle);
// A DC takes or lets go of an object (frees a pending deletion at the last release).
void Hold(const void* handle);
void Release(const void* handle);

HBITMAP NewBitmap(Surface surface, bool dibSection);
// The surface a DC draws on (never null for a valid DC).
Surface* DCSurface(DCObj* dc);
BitmapObj* DCBitmap(DCObj* dc);
// The default 1x1 monochrome bitmap of a fresh memory DC.
HBITMAP DefaultBitmap();
HPALETTE DefaultPalette();
// Creates a surface of a DC's format: 32 bits for the screen, the selected bitmap's
// format otherwise (monochrome for a fresh memory DC).
bool CompatibleSurface(DCObj* dc, int width, int height, Surface& out);
// The entries of the palette selected into a DC.
const std::vector<PALETTEENTRY>* DCPaletteEntries(DCObj* dc);

// ---------------------------------------------------------------------------
// Drawing helpers shared by the units
// ---------------------------------------------------------------------------
// Logical to device coordinates, kept within a range where sums of a coordinate
// and an extent cannot overflow.
constexpr int kCoordLimit = 1 << 29;
inline int ClampCoord(int64_t v) {
  return static_cast<int>(v < -kCoordLimit ? -kCoordLimit : v > kCoordLimit ? kCoordLimit : v);
}
// The whole logical-to-device map of a DC.
Matrix DeviceMatrix(const DCObj* dc);
// Logical to device through the window and viewport alone.
Matrix PageMatrix(const DCState& s);
// Recomputes DCState::plain after a change of map mode, extents or transforms.
void UpdatePlain(DCState& s);
inline int RoundDevice(double v) {
  return ClampCoord(static_cast<int64_t>(std::floor(std::clamp(v, -4.0 * kCoordLimit, 4.0 * kCoordLimit) + 0.5)));
}
// One axis of a point; exact only when the map keeps axes apart (no rotation or
// shear), which DevPoint handles.
inline int DevX(const DCObj* dc, int x) {
  if (dc->state.plain) return ClampCoord(int64_t{x} - dc->state.windowOrg.x + dc->state.viewportOrg.x);
  Matrix m = DeviceMatrix(dc);
  return RoundDevice(m.m11 * x + m.dx);
}
inline int DevY(const DCObj* dc, int y) {
  if (dc->state.plain) return ClampCoord(int64_t{y} - dc->state.windowOrg.y + dc->state.viewportOrg.y);
  Matrix m = DeviceMatrix(dc);
  return RoundDevice(m.m22 * y + m.dy);
}
inline POINT DevPoint(const DCObj* dc, int x, int y) {
  if (dc->state.plain) return POINT{DevX(dc, x), DevY(dc, y)};
  Matrix m = DeviceMatrix(dc);
  return POINT{RoundDevice(m.m11 * x + m.m21 * y + m.dx), RoundDevice(m.m12 * x + m.m22 * y + m.dy)};
}
// How many device pixels one logical unit spans (the mean of the two axes).
double DeviceScale(const DCObj* dc);
// A pen's width in device pixels: one-pixel pens stay one pixel, wider ones scale.
int DevPenWidth(const DCObj* dc, int width);
// True when logical rectangles stay rectangles on the device.
inline bool AxisAligned(const DCObj* dc) { return dc->state.plain || DeviceMatrix(dc).AxisAligned(); }

// The area a DC may paint, in device coordinates: the clip region cut to the surface.
Region DrawableArea(DCObj* dc);

// Applies a ternary raster operation (the truth-table byte) bitwise.
uint32_t ApplyRop3(uint8_t rop, uint32_t pattern, uint32_t source, uint32_t dest);
// Truth-table byte of a binary (pen) raster operation in pattern and destination.
uint8_t Rop2ToRop3(int rop2);
inline bool RopUsesSource(uint8_t rop) { return ((rop >> 2) ^ rop) & 0x33; }
inline bool RopUsesPattern(uint8_t rop) { return ((rop >> 4) ^ rop) & 0x0F; }
inline bool RopUsesDest(uint8_t rop) { return ((rop >> 1) ^ rop) & 0x55; }

// A brush prepared for one destination: pixel values per device position, with
// the hatch background left out in TRANSPARENT mode.
class BrushPainter {
public:
  BrushPainter(DCObj* dc, const BrushObj* brush, const PixelCodec& codec);
  bool IsNull() const { return FNull; }
  bool IsSolid() const { return FSolid; }
  uint32_t SolidValue() const { return FSolidValue; }
  // Pattern value at a device position; false when that pixel is not painted.
  bool ValueAt(int x, int y, uint32_t& value) const;

private:
  bool FNull = false;
  bool FSolid = true;
  uint32_t FSolidValue = 0;
  int FWidth = 0;
  int FHeight = 0;
  std::vector<uint32_t> FTile;
  std::vector<uint8_t> FPaint;
  POINT FOrigin;
  // Large pattern bitmaps are read pixel by pixel instead of being converted up front.
  const Surface* FPattern = nullptr;
  std::optional<PixelCodec> FPatternCodec;
  const PixelCodec* FOut = nullptr;
  uint32_t FMonoZero = 0;
  uint32_t FMonoOne = 0;
};

// The 8x8 tiles of the six hatch styles (HS_HORIZONTAL .. HS_DIAGCROSS), one
// byte a row, most significant bit leftmost.
extern const uint8_t kHatches[6][8];

// Paints spans of one row with a brush through a ternary raster operation.
void FillSpansWithBrush(DCObj* dc, Surface& s, const PixelCodec& codec, const BrushPainter& brush, uint8_t rop,
                        int y, const std::vector<Span>& spans);
// Paints a region (device coordinates) with a brush, clipped to the drawable area.
void FillRegionWithBrush(DCObj* dc, const Region& region, const BrushObj* brush, uint8_t rop);

// Paints a region (device coordinates, already clipped) in one colour.
void FillRegionSolid(DCObj* dc, const Region& region, COLORREF color);

// Paths. While a path is open the line and shape calls add device points to it
// instead of drawing.
inline bool PathOpen(const DCObj* dc) { return dc->state.path.open; }
// Starts a new figure at a device point.
void PathMove(DCObj* dc, POINT device);
// Adds lines through device points: as a new figure from the first point, or on
// from the current figure's end; a closed figure ends there.
void PathAdd(DCObj* dc, const std::vector<POINT>& device, bool newFigure, bool close);
// Strokes device points with the DC's pen, and fills device polygons with its
// brush in a fill mode, as the line and shape calls do.
void StrokeDevicePoints(DCObj* dc, const std::vector<POINT>& device, bool closed);
// The area a pen of a device width covers along device points, in rows
// [yMin, yMax): a band round every segment with the pen's caps and joins.
Region PenStrokeRegion(const PenObj* pen, int width, const std::vector<POINT>& device, bool closed, int yMin,
                       int yMax);
void FillDevicePolygons(DCObj* dc, const std::vector<std::vector<POINT>>& polygons, int fillMode);

// The surface a transfer reading the device rectangle `read` of `source` and
// writing the device rectangle `written` of `dest` takes its pixels from. When
// the two share pixels (one surface copied onto itself, a window scrolling its
// contents) the rows under `read` are copied into `spare` first, so every pixel
// is read as it was before the transfer wrote any (what Windows does; reading
// in place smears). Otherwise the source itself, with no copy. Null when the
// copy cannot be made.
const Surface* UnsharedSource(const Surface& dest, const RECT& written, const Surface& source, const RECT& read,
                              Surface& spare);
// The rectangle of a corner and signed extents, however large, with its
// edges in order and held inside the int range.
RECT ExtentRect(int64_t x, int64_t y, int64_t width, int64_t height);

// A block transfer under a map that turns or shears the destination rectangle
// (logical x, y, w, h): the source rectangle in the source's pixels (negative
// extents mirror), null for a pattern-only operation; with a blend function the
// source is alpha blended instead of mixed through the raster operation.
struct TurnedSource {
  const Surface* surface = nullptr;
  int x = 0, y = 0, width = 0, height = 0;
};
BOOL TurnedTransfer(DCObj* dc, int x, int y, int w, int h, const TurnedSource* src, uint8_t rop,
                    const BLENDFUNCTION* blend = nullptr);

// Converts one colour through a DC's surface (GetNearestColor).
COLORREF NearestColor(DCObj* dc, COLORREF color);

// Copies a rectangle of a surface into a new surface of the given format.
bool ConvertSurface(const Surface& src, Surface& dest, int bitCount, const std::vector<RGBQUAD>* colors);

}  // namespace qvgdi
