#pragma once
// Coordinate spaces (map modes, window and viewport extents, world transforms)
// and metafiles: recording DCs that keep every drawing call as a record,
// enhanced (EMF) and Windows (WMF) metafile handles, playback and the
// conversions between the two formats. Included by gdi.h.
#include <cstdint>
#include "platform/rtl/byte_order.h"

QV_ASSERT_LITTLE_ENDIAN_HOST();

using RECTL = RECT;
using SIZEL = SIZE;
using POINTL = POINT;

// ---------------------------------------------------------------------------
// Coordinate spaces
// ---------------------------------------------------------------------------
constexpr int MM_TEXT = 1;
constexpr int MM_LOMETRIC = 2;
constexpr int MM_HIMETRIC = 3;
constexpr int MM_LOENGLISH = 4;
constexpr int MM_HIENGLISH = 5;
constexpr int MM_TWIPS = 6;
constexpr int MM_ISOTROPIC = 7;
constexpr int MM_ANISOTROPIC = 8;

constexpr int GM_COMPATIBLE = 1;
constexpr int GM_ADVANCED = 2;
constexpr DWORD MWT_IDENTITY = 1;
constexpr DWORD MWT_LEFTMULTIPLY = 2;
constexpr DWORD MWT_RIGHTMULTIPLY = 3;

int SetMapMode(HDC hdc, int mode);
int GetMapMode(HDC hdc);
BOOL SetWindowExtEx(HDC hdc, int x, int y, SIZE* oldSize);
BOOL GetWindowExtEx(HDC hdc, SIZE* size);
BOOL SetViewportExtEx(HDC hdc, int x, int y, SIZE* oldSize);
BOOL GetViewportExtEx(HDC hdc, SIZE* size);
BOOL ScaleViewportExtEx(HDC hdc, int xNum, int xDenom, int yNum, int yDenom, SIZE* oldSize);
BOOL ScaleWindowExtEx(HDC hdc, int xNum, int xDenom, int yNum, int yDenom, SIZE* oldSize);
BOOL OffsetWindowOrgEx(HDC hdc, int dx, int dy, POINT* oldOrg);
int SetGraphicsMode(HDC hdc, int mode);
int GetGraphicsMode(HDC hdc);
// Only in GM_ADVANCED, as on Windows.
BOOL SetWorldTransform(HDC hdc, const XFORM* xform);
BOOL ModifyWorldTransform(HDC hdc, const XFORM* xform, DWORD mode);
BOOL GetWorldTransform(HDC hdc, XFORM* xform);
BOOL LPtoDP(HDC hdc, POINT* points, int count);
BOOL DPtoLP(HDC hdc, POINT* points, int count);
int ExtSelectClipRgn(HDC hdc, HRGN rgn, int mode);
int OffsetClipRgn(HDC hdc, int dx, int dy);

// Béziers: 3n + 1 points (PolyBezierTo: 3n, from the current position).
BOOL PolyBezier(HDC hdc, const POINT* points, DWORD count);
BOOL PolyBezierTo(HDC hdc, const POINT* points, DWORD count);
BOOL PolylineTo(HDC hdc, const POINT* points, DWORD count);
BOOL PolyPolyline(HDC hdc, const POINT* points, const DWORD* counts, DWORD polylines);
BOOL Chord(HDC hdc, int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd);

// Paths: between BeginPath and EndPath, lines, poly-lines, polygons, béziers,
// rectangles, ellipses, arcs, pies, chords and text become figures of the path
// instead of pixels.
BOOL BeginPath(HDC hdc);
BOOL EndPath(HDC hdc);
BOOL AbortPath(HDC hdc);
BOOL CloseFigure(HDC hdc);
BOOL FlattenPath(HDC hdc);
// Makes the ended path the outline of what stroking it with the DC's pen would
// paint; fails for pens that are neither geometric nor wider than a pixel.
BOOL WidenPath(HDC hdc);
BOOL FillPath(HDC hdc);
BOOL StrokePath(HDC hdc);
BOOL StrokeAndFillPath(HDC hdc);
// Combines the path's interior (in the DC's fill mode) with the clip region.
BOOL SelectClipPath(HDC hdc, int mode);

// ---------------------------------------------------------------------------
// Metafiles
// ---------------------------------------------------------------------------
QV_DECLARE_HANDLE(HENHMETAFILE);
QV_DECLARE_HANDLE(HMETAFILE);

struct ENHMETAHEADER {
  DWORD iType = 1;  // EMR_HEADER
  DWORD nSize = 108;
  RECTL rclBounds;  // device pixels touched, inclusive
  RECTL rclFrame;   // picture frame in 0.01 mm, inclusive
  DWORD dSignature = 0x464D4520;
  DWORD nVersion = 0x10000;
  DWORD nBytes = 0;
  DWORD nRecords = 0;
  WORD nHandles = 1;
  WORD sReserved = 0;
  DWORD nDescription = 0;  // characters (UTF-16 units)
  DWORD offDescription = 0;
  DWORD nPalEntries = 0;
  SIZEL szlDevice;       // reference device in pixels
  SIZEL szlMillimeters;  // reference device in millimetres
  DWORD cbPixelFormat = 0;
  DWORD offPixelFormat = 0;
  DWORD bOpenGL = 0;
  SIZEL szlMicrometers;
};
static_assert(sizeof(ENHMETAHEADER) == 108);

struct ENHMETARECORD {
  DWORD iType;
  DWORD nSize;
  DWORD dParm[1];
};

#pragma pack(push, 2)
struct METAHEADER {
  WORD mtType = 1;        // 1 in memory, 2 on disk
  WORD mtHeaderSize = 9;  // in words
  WORD mtVersion = 0x0300;
  DWORD mtSize = 0;       // in words, header included
  WORD mtNoObjects = 0;
  DWORD mtMaxRecord = 0;  // in words
  WORD mtNoParameters = 0;
};
#pragma pack(pop)
static_assert(sizeof(METAHEADER) == 18);

// The 22-byte header that placeable WMF files carry before the metafile.
#pragma pack(push, 2)
struct PLACEABLEMETAHEADER {
  DWORD Key = 0x9AC6CDD7;
  WORD Hmf = 0;
  SHORT Left = 0, Top = 0, Right = 0, Bottom = 0;
  WORD Inch = 0;
  DWORD Reserved = 0;
  WORD Checksum = 0;
};
#pragma pack(pop)
static_assert(sizeof(PLACEABLEMETAHEADER) == 22);

// CF_METAFILEPICT data: a global block holding this.
struct METAFILEPICT {
  LONG mm = MM_ANISOTROPIC;
  LONG xExt = 0;  // 0.01 mm in MM_ANISOTROPIC and MM_ISOTROPIC
  LONG yExt = 0;
  HMETAFILE hMF = nullptr;
};

using HANDLETABLE = HGDIOBJ;
// Called per record; returning 0 stops the enumeration.
using ENHMFENUMPROC = int (*)(HDC hdc, HANDLETABLE* table, const ENHMETARECORD* record, int objects, LPARAM data);

// Recording DCs. A null reference DC means the virtual screen; a null rect
// frames the picture by what is drawn; the description is two strings (the
// application and the picture), each ending in a zero, or null.
HDC CreateEnhMetaFile(HDC reference, const char* fileName, const RECT* frame, const char* description);
inline HDC CreateEnhMetaFileA(HDC reference, const char* fileName, const RECT* frame, const char* description) {
  return CreateEnhMetaFile(reference, fileName, frame, description);
}
HENHMETAFILE CloseEnhMetaFile(HDC hdc);
HDC CreateMetaFile(const char* fileName);
inline HDC CreateMetaFileA(const char* fileName) { return CreateMetaFile(fileName); }
HMETAFILE CloseMetaFile(HDC hdc);

BOOL DeleteEnhMetaFile(HENHMETAFILE emf);
BOOL DeleteMetaFile(HMETAFILE wmf);
HENHMETAFILE CopyEnhMetaFile(HENHMETAFILE emf, const char* fileName);
HMETAFILE CopyMetaFile(HMETAFILE wmf, const char* fileName);
HENHMETAFILE GetEnhMetaFile(const char* fileName);

// Bytes in and out; a null buffer asks for the size. The bytes are checked: a
// damaged header gives null, damaged records are skipped on playback.
HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* data);
UINT GetEnhMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* data);
UINT GetEnhMetaFileHeader(HENHMETAFILE emf, UINT size, ENHMETAHEADER* header);
// In characters (bytes of UTF-8 here), the terminating zeros included.
UINT GetEnhMetaFileDescription(HENHMETAFILE emf, UINT size, char* description);
HMETAFILE SetMetaFileBitsEx(UINT size, const BYTE* data);
UINT GetMetaFileBitsEx(HMETAFILE wmf, UINT size, LPVOID data);
// WMF to EMF; the picture, when given, sets the frame and mapping.
HENHMETAFILE SetWinMetaFileBits(UINT size, const BYTE* data, HDC reference, const METAFILEPICT* picture);
// EMF to WMF in the given map mode (MM_ANISOTROPIC keeps the device units).
UINT GetWinMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* data, int mapMode, HDC reference);

BOOL PlayEnhMetaFile(HDC hdc, HENHMETAFILE emf, const RECT* rect);
BOOL EnumEnhMetaFile(HDC hdc, HENHMETAFILE emf, ENHMFENUMPROC proc, LPVOID data, const RECT* rect);
BOOL PlayEnhMetaFileRecord(HDC hdc, HANDLETABLE* table, const ENHMETARECORD* record, UINT objects);
BOOL PlayMetaFile(HDC hdc, HMETAFILE wmf);
