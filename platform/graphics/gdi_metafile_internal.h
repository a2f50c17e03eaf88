#pragma once
// Record numbers and the recorder behind recording DCs; only the gdi_*.cpp
// units include this header.
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/graphics/font_engine.h"
#include "platform/graphics/gdi_internal.h"
#include "platform/rtl/byte_order.h"

namespace qvgdi {

// Enhanced metafile record types.
enum : uint32_t {
  EMR_HEADER = 1, EMR_POLYBEZIER = 2, EMR_POLYGON = 3, EMR_POLYLINE = 4, EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6, EMR_POLYPOLYLINE = 7, EMR_POLYPOLYGON = 8, EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10, EMR_SETVIEWPORTEXTEX = 11, EMR_SETVIEWPORTORGEX = 12, EMR_SETBRUSHORGEX = 13,
  EMR_EOF = 14, EMR_SETPIXELV = 15, EMR_SETMAPPERFLAGS = 16, EMR_SETMAPMODE = 17, EMR_SETBKMODE = 18,
  EMR_SETPOLYFILLMODE = 19, EMR_SETROP2 = 20, EMR_SETSTRETCHBLTMODE = 21, EMR_SETTEXTALIGN = 22,
  EMR_SETTEXTCOLOR = 24, EMR_SETBKCOLOR = 25, EMR_OFFSETCLIPRGN = 26, EMR_MOVETOEX = 27,
  EMR_EXCLUDECLIPRECT = 29, EMR_INTERSECTCLIPRECT = 30, EMR_SCALEVIEWPORTEXTEX = 31,
  EMR_SCALEWINDOWEXTEX = 32, EMR_SAVEDC = 33, EMR_RESTOREDC = 34, EMR_SETWORLDTRANSFORM = 35,
  EMR_MODIFYWORLDTRANSFORM = 36, EMR_SELECTOBJECT = 37, EMR_CREATEPEN = 38, EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40, EMR_ELLIPSE = 42, EMR_RECTANGLE = 43, EMR_ROUNDRECT = 44, EMR_ARC = 45,
  EMR_CHORD = 46, EMR_PIE = 47, EMR_SELECTPALETTE = 48, EMR_LINETO = 54,
  EMR_BEGINPATH = 59, EMR_ENDPATH = 60, EMR_CLOSEFIGURE = 61, EMR_FILLPATH = 62, EMR_STROKEANDFILLPATH = 63,
  EMR_STROKEPATH = 64, EMR_FLATTENPATH = 65, EMR_WIDENPATH = 66, EMR_SELECTCLIPPATH = 67, EMR_ABORTPATH = 68, EMR_GDICOMMENT = 70,
  EMR_FILLRGN = 71, EMR_FRAMERGN = 72, EMR_PAINTRGN = 74, EMR_EXTSELECTCLIPRGN = 75, EMR_BITBLT = 76,
  EMR_STRETCHBLT = 77, EMR_MASKBLT = 78, EMR_PLGBLT = 79, EMR_SETDIBITSTODEVICE = 80, EMR_STRETCHDIBITS = 81, EMR_EXTCREATEFONTINDIRECTW = 82,
  EMR_EXTTEXTOUTA = 83, EMR_EXTTEXTOUTW = 84, EMR_POLYBEZIER16 = 85, EMR_POLYGON16 = 86,
  EMR_POLYLINE16 = 87, EMR_POLYBEZIERTO16 = 88, EMR_POLYLINETO16 = 89, EMR_POLYPOLYLINE16 = 90,
  EMR_POLYPOLYGON16 = 91, EMR_CREATEMONOBRUSH = 93, EMR_CREATEDIBPATTERNBRUSHPT = 94,
  EMR_EXTCREATEPEN = 95, EMR_ALPHABLEND = 114, EMR_TRANSPARENTBLT = 116,
  EMR_GRADIENTFILL = 118, EMR_MAX = 122
};

constexpr uint32_t kStockFlag = 0x80000000u;

// The eight byte fields of a stored LOGFONT (italic to pitch and family), laid out
// alike in EMF and WMF font records.
inline void ReadLogFontBytes(LOGFONTA& lf, const uint8_t* b) {
  lf.lfItalic = b[0];
  lf.lfUnderline = b[1];
  lf.lfStrikeOut = b[2];
  lf.lfCharSet = b[3];
  lf.lfOutPrecision = b[4];
  lf.lfClipPrecision = b[5];
  lf.lfQuality = b[6];
  lf.lfPitchAndFamily = b[7];
}

// Our reference device: the 96 DPI virtual screen.
constexpr int kRefDpi = 96;

// A growing little-endian byte buffer.
struct Bytes {
  std::vector<uint8_t> v;
  void U8(uint8_t x) { v.push_back(x); }
  void U16(uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
  }
  void U32(uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
  }
  void I32(int32_t x) { U32(static_cast<uint32_t>(x)); }
  void F32(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    U32(u);
  }
  void Raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    v.insert(v.end(), b, b + n);
  }
  void Pad4() {
    while (v.size() % 4) v.push_back(0);
  }
  size_t Size() const { return v.size(); }
};


// Text of the records: UTF-16 in enhanced metafiles, UTF-8 (our code page) elsewhere.
using fontengine::AppendUtf8;
std::string Utf8FromUtf16(const std::u16string& units);
std::u16string Utf16Of(const std::vector<uint32_t>& codePoints);
// UTF-16 units stored little-endian at p.
std::u16string Utf16At(const uint8_t* p, size_t units);

// A surface written as a packed DIB: header with colour table, and the bits.
struct PackedDib {
  std::vector<uint8_t> info;
  std::vector<uint8_t> bits;
};
// The rectangle of the surface (clipped to it) as a bottom-up DIB; a monochrome
// device bitmap takes the given foreground and background as its colours.
PackedDib PackSurface(const Surface& s, int x, int y, int w, int h, COLORREF monoZero, COLORREF monoOne);

class MetaRecorder {
public:
  MetaRecorder(bool windowsFormat, const RECT* frame, std::string description, std::string fileName)
      : FWindowsFormat(windowsFormat), FDescription(std::move(description)), FFileName(std::move(fileName)) {
    if (frame) {
      FHasFrame = true;
      FFrame = *frame;
    }
  }
  bool WindowsFormat() const { return FWindowsFormat; }
  const std::string& FileName() const { return FFileName; }

  // Appends one record: type, size, then the parameters (padded to 4 bytes).
  void Add(uint32_t type, const Bytes& params);
  void AddValues(uint32_t type, std::initializer_list<uint32_t> values);
  // Widens the bounds by a device rectangle (inclusive-exclusive).
  void Touch(int left, int top, int right, int bottom);
  void TouchPoints(DCObj* dc, const POINT* pts, size_t n, int pad);
  void TouchBox(DCObj* dc, int left, int top, int right, int bottom, int pad);

  // The object index of a handle for a record, writing its creation when it has
  // none yet; stock objects give their flagged number.
  uint32_t ObjectIndex(HGDIOBJ h);
  void Select(HGDIOBJ h);

  // The finished EMF bytes (header, records, end of file).
  std::vector<uint8_t> Finish(DCObj* dc);

private:
  uint32_t FreeSlot();
  bool WriteCreation(GdiObject* o, uint32_t index);
  void ForgetDeleted();

  bool FWindowsFormat;
  std::string FDescription;
  std::string FFileName;
  bool FHasFrame = false;
  RECT FFrame;
  std::vector<uint8_t> FBody;
  uint32_t FRecords = 0;
  bool FTouched = false;
  int64_t FBounds[4] = {0, 0, 0, 0};
  std::unordered_map<uintptr_t, uint32_t> FObjects;
  std::vector<bool> FSlots{true};  // slot 0 stands for the metafile itself
};

// Recording helpers used by the drawing calls: each returns what the call returns.
void RecState(DCObj* dc, uint32_t type, std::initializer_list<uint32_t> values);
BOOL RecBox(DCObj* dc, uint32_t type, int left, int top, int right, int bottom,
            std::initializer_list<int32_t> extra = {});
BOOL RecPoints(DCObj* dc, uint32_t type16, uint32_t type32, const POINT* pts, size_t n);
BOOL RecPolyPoly(DCObj* dc, uint32_t type16, uint32_t type32, const POINT* pts, const uint32_t* counts,
                 size_t polys);
BOOL RecText(DCObj* dc, int x, int y, UINT options, const RECT* rect, const char* text, UINT count, const INT* dx);
BOOL RecRegion(DCObj* dc, uint32_t type, const Region& logical, HBRUSH brush, int w, int h);
// A blit: source pixels (null for a pattern-only operation) drawn into a destination rectangle.
BOOL RecBlit(DCObj* dc, uint32_t type, int x, int y, int w, int h, DCObj* src, int xs, int ys, int ws, int hs,
             uint32_t rop);
// The source rectangle of a blit as a packed DIB (monochrome sources take the
// destination's text and background colours).
PackedDib SourceDib(DCObj* dc, DCObj* src, int xs, int ys, int ws, int hs);
// MaskBlt, PlgBlt and GradientFill records; a null mask or source is left out.
BOOL RecMaskBlt(DCObj* dc, int x, int y, int w, int h, DCObj* src, int xs, int ys, const Surface* mask, int xm, int ym,
                uint32_t rop);
BOOL RecPlgBlt(DCObj* dc, const POINT* points, DCObj* src, int xs, int ys, int w, int h, const Surface* mask, int xm,
               int ym);
BOOL RecGradient(DCObj* dc, const TRIVERTEX* vertices, ULONG vertexCount, const void* mesh, ULONG meshCount,
                 ULONG mode);
BOOL RecDib(DCObj* dc, uint32_t type, const int32_t* values, size_t valueCount, const BITMAPINFO* info,
            const void* bits, UINT usage, int bitsHeight);
void RecSelectClip(DCObj* dc, const Region* region, int mode);
void RecWorld(DCObj* dc, uint32_t type, const XFORM& x, uint32_t mode);

// Bézier segments (3 points each after the start) as a poly-line.
std::vector<POINT> FlattenBeziers(DCObj* dc, POINT start, const POINT* pts, size_t count);

// Plays an enhanced metafile's records one at a time into a small DC of its
// own, so that the map and the path they build can be read as they go by.
class EmfShadow {
public:
  // A surface of the given size (1-bit, each side 1 to 4096) for the rows a
  // widened path may cover; the object table of the given size.
  EmfShadow(int width, int height, size_t handles);
  ~EmfShadow();
  EmfShadow(const EmfShadow&) = delete;
  EmfShadow& operator=(const EmfShadow&) = delete;
  void Play(const uint8_t* rec, size_t size);
  HDC Handle() const { return FHdc; }
  DCObj* DC() const { return FindDC(FHdc); }

private:
  HDC FHdc = nullptr;
  HBITMAP FBitmap = nullptr;
  HGDIOBJ FOld = nullptr;
  std::vector<HGDIOBJ> FTable;
  int FSaves = 0;
};

// The records of a metafile handle after its header, in order; the walk stops
// at the end record or when fn answers false.
void WalkEmfRecords(HENHMETAFILE emf, const std::function<bool(const uint8_t* rec, size_t size)>& fn);
void WalkWmfRecords(HMETAFILE wmf, const std::function<bool(uint16_t fn, const uint8_t* params, size_t n)>& fn);

}  // namespace qvgdi
