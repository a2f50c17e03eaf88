#pragma once
// GDI+ as this platform offers it: "gdiplus.dll" is a built-in library whose flat
// calls callers bind by name (LoadLibrary, GetProcAddress), drawn with Cairo. A
// figure is rasterised, anti-aliased or not, into a 32-bit scratch picture the
// size of its part inside the device context's clip, then laid over the DC's
// bitmap (any depth) through the DC's origin, map and clip.
//
// Only the calls that the imaging library's canvas makes are there; GetProcAddress
// finds no other. Coordinates follow GDI+: pixel centres sit on whole numbers, so
// a one-pixel line along y = 5 covers row 5 and a filled rectangle (10, 10, 9, 9)
// covers the pixels whose centres lie inside it.
#include <cstdint>

#include "platform/graphics/gdi.h"
#include "platform/win/resources.h"

namespace Gdiplus {

using REAL = float;
using ARGB = DWORD;  // alpha << 24 | red << 16 | green << 8 | blue

enum Status : int32_t {
  Ok = 0,
  GenericError = 1,
  InvalidParameter = 2,
  OutOfMemory = 3,
  ObjectBusy = 4,
  InsufficientBuffer = 5,
  NotImplemented = 6,
  Win32Error = 7,
  WrongState = 8,
  Aborted = 9,
  FileNotFound = 10,
  ValueOverflow = 11,
  AccessDenied = 12,
  UnknownImageFormat = 13,
  FontFamilyNotFound = 14,
  FontStyleNotFound = 15,
  NotTrueTypeFont = 16,
  UnsupportedGdiplusVersion = 17,
  GdiplusNotInitialized = 18,
};

enum SmoothingMode : int32_t {
  SmoothingModeInvalid = -1,
  SmoothingModeDefault = 0,
  SmoothingModeHighSpeed = 1,
  SmoothingModeHighQuality = 2,
  SmoothingModeNone = 3,
  SmoothingModeAntiAlias = 4,
  SmoothingModeAntiAlias8x8 = 5,
};

enum Unit : int32_t { UnitWorld = 0, UnitDisplay = 1, UnitPixel = 2, UnitPoint = 3, UnitInch = 4 };
enum FillMode : int32_t { FillModeAlternate = 0, FillModeWinding = 1 };
enum DashStyle : int32_t {
  DashStyleSolid = 0,
  DashStyleDash = 1,
  DashStyleDot = 2,
  DashStyleDashDot = 3,
  DashStyleDashDotDot = 4,
  DashStyleCustom = 5,
};
enum LineJoin : int32_t { LineJoinMiter = 0, LineJoinBevel = 1, LineJoinRound = 2, LineJoinMiterClipped = 3 };
enum HatchStyle : int32_t {
  HatchStyleHorizontal = 0,
  HatchStyleVertical = 1,
  HatchStyleForwardDiagonal = 2,  // top left to bottom right
  HatchStyleBackwardDiagonal = 3,
  HatchStyleCross = 4,
  HatchStyleDiagonalCross = 5,
};

struct GpPoint {
  INT X;
  INT Y;
};

// Opaque objects; every call checks that a pointer is one it handed out.
struct GpGraphics;
struct GpPen;
struct GpBrush;
struct GpPath;
using GpSolidFill = GpBrush;
using GpHatch = GpBrush;

using DebugEventProc = void (*)(int32_t level, char* message);
struct GdiplusStartupInput {
  uint32_t GdiplusVersion = 1;  // 1 is the only version there is
  DebugEventProc DebugEventCallback = nullptr;
  BOOL SuppressBackgroundThread = FALSE;
  BOOL SuppressExternalCodecs = FALSE;
};
struct GdiplusStartupOutput {
  void* NotificationHook;
  void* NotificationUnhook;
};

// The flat calls, as the pointers GetProcAddress hands out.
using TGdiplusStartup = Status (*)(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output);
using TGdiplusShutdown = void (*)(ULONG_PTR token);
using TGdipCreateFromHDC = Status (*)(HDC hdc, GpGraphics** graphics);
using TGdipDeleteGraphics = Status (*)(GpGraphics* graphics);
using TGdipSetSmoothingMode = Status (*)(GpGraphics* graphics, SmoothingMode mode);
using TGdipCreatePen1 = Status (*)(ARGB color, REAL width, Unit unit, GpPen** pen);
using TGdipDeletePen = Status (*)(GpPen* pen);
using TGdipSetPenWidth = Status (*)(GpPen* pen, REAL width);
using TGdipSetPenColor = Status (*)(GpPen* pen, ARGB color);
using TGdipSetPenDashStyle = Status (*)(GpPen* pen, DashStyle style);
using TGdipSetPenLineJoin = Status (*)(GpPen* pen, LineJoin join);
using TGdipCreateSolidFill = Status (*)(ARGB color, GpSolidFill** brush);
using TGdipCreateHatchBrush = Status (*)(HatchStyle style, ARGB foreColor, ARGB backColor, GpHatch** brush);
using TGdipDeleteBrush = Status (*)(GpBrush* brush);
using TGdipDrawLine = Status (*)(GpGraphics* graphics, GpPen* pen, REAL x1, REAL y1, REAL x2, REAL y2);
using TGdipFillRectangle = Status (*)(GpGraphics* graphics, GpBrush* brush, REAL x, REAL y, REAL width, REAL height);
using TGdipDrawRectangle = Status (*)(GpGraphics* graphics, GpPen* pen, REAL x, REAL y, REAL width, REAL height);
using TGdipFillEllipse = Status (*)(GpGraphics* graphics, GpBrush* brush, REAL x, REAL y, REAL width, REAL height);
using TGdipDrawEllipse = Status (*)(GpGraphics* graphics, GpPen* pen, REAL x, REAL y, REAL width, REAL height);
using TGdipDrawPolygonI = Status (*)(GpGraphics* graphics, GpPen* pen, const GpPoint* points, INT count);
using TGdipFillPolygonI = Status (*)(GpGraphics* graphics, GpBrush* brush, const GpPoint* points, INT count,
                                     FillMode fillMode);
using TGdipDrawLinesI = Status (*)(GpGraphics* graphics, GpPen* pen, const GpPoint* points, INT count);
using TGdipDrawArc = Status (*)(GpGraphics* graphics, GpPen* pen, REAL x, REAL y, REAL width, REAL height,
                                REAL startAngle, REAL sweepAngle);
using TGdipCreatePath = Status (*)(FillMode fillMode, GpPath** path);
using TGdipDeletePath = Status (*)(GpPath* path);
using TGdipAddPathArc = Status (*)(GpPath* path, REAL x, REAL y, REAL width, REAL height, REAL startAngle,
                                   REAL sweepAngle);
using TGdipClosePathFigure = Status (*)(GpPath* path);
using TGdipFillPath = Status (*)(GpGraphics* graphics, GpBrush* brush, GpPath* path);
using TGdipDrawPath = Status (*)(GpGraphics* graphics, GpPen* pen, GpPath* path);

// Puts "gdiplus.dll" among the platform's built-in libraries (again and again
// harmless). SetBuiltinLibraryMissing("gdiplus.dll", true) models a system without it.
void RegisterGdiPlusLibrary();

// The model of a GDI+ that refuses to start: GdiplusStartup returns this status
// while it is not Ok (Ok by default).
void SetGdiPlusStartupFailure(Status status);

// Live GDI+ objects (graphics, pens, brushes, paths); 0 after the last shutdown.
int GdiPlusObjectCount();

}  // namespace Gdiplus
