// Metafiles against direct drawing: a scene of drawing calls recorded on a
// metafile canvas, saved, loaded and played must give exactly the pixels of the
// same calls drawn into a bitmap; played into twice the rectangle, the pixels of
// the calls drawn under a map that doubles every unit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gdi_test_helpers.h"
#include "metafile_test_helpers.h"
#include "platform/graphics/graphics.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

using gditest::Dib;
using metafiletest::LoadBytes;
using metafiletest::SaveBytes;
using metafiletest::SavePicture;

namespace {

constexpr int W = 96, H = 72;

HFONT Font(const char* face, int height, int escapement = 0, int weight = FW_NORMAL) {
  LOGFONTA lf;
  lf.lfHeight = height;
  lf.lfEscapement = lf.lfOrientation = escapement;
  lf.lfWeight = weight;
  std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return CreateFontIndirect(&lf);
}

// A font with underline and strike-out.
HFONT LinedFont(const char* face, int height, int escapement = 0) {
  LOGFONTA lf;
  lf.lfHeight = height;
  lf.lfEscapement = lf.lfOrientation = escapement;
  lf.lfUnderline = lf.lfStrikeOut = 1;
  std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return CreateFontIndirect(&lf);
}

// A small DIB of any depth with a recognisable pattern, as a packed header + bits.
struct PackedDib {
  std::vector<uint8_t> info;
  std::vector<uint8_t> bits;
  const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(info.data()); }
};

PackedDib MakeDib(int bitCount, int w = 7, int h = 5) {
  PackedDib d;
  d.info.resize(sizeof(BITMAPINFOHEADER) + 256 * 4);
  auto* bih = reinterpret_cast<BITMAPINFOHEADER*>(d.info.data());
  *bih = BITMAPINFOHEADER();
  bih->biWidth = w;
  bih->biHeight = h;
  bih->biBitCount = static_cast<WORD>(bitCount);
  if (bitCount <= 8) {
    int n = 1 << bitCount;
    bih->biClrUsed = static_cast<DWORD>(n);
    for (int i = 0; i < n; ++i) {
      RGBQUAD q{static_cast<BYTE>(i * 37), static_cast<BYTE>(255 - i * 11), static_cast<BYTE>(i * 73), 0};
      std::memcpy(d.info.data() + sizeof(BITMAPINFOHEADER) + 4 * i, &q, 4);
    }
  }
  size_t stride = static_cast<size_t>(DibRowBytes(w, bitCount));
  d.bits.resize(stride * h);
  for (size_t i = 0; i < d.bits.size(); ++i) d.bits[i] = static_cast<uint8_t>(i * 29 + 7);
  return d;
}

// A memory DC with a 24-bit picture to blit from.
struct Source {
  Dib dib{16, 12, 24};
  Source() {
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 16; ++x) SetPixel(dib.dc(), x, y, RGB(x * 15, y * 20, (x ^ y) * 16));
  }
};

using Scene = std::function<void(HDC)>;

struct Case {
  const char* name;
  Scene draw;
  bool scalable;  // drawn the same under a doubling map (no map or clip region of its own)
  bool windows;   // the Windows metafile format can say every call
};

// CTest lists each case under its scene's name rather than the struct's bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

void Lines(HDC dc) {
  HPEN dash = CreatePen(PS_DASH, 1, RGB(200, 0, 0));
  HGDIOBJ old = SelectObject(dc, dash);
  MoveToEx(dc, 3, 3, nullptr);
  LineTo(dc, 90, 20);
  POINT poly[] = {{5, 60}, {30, 30}, {50, 65}, {70, 35}};
  LOGBRUSH lb{BS_SOLID, RGB(0, 90, 200), 0};
  HPEN wide = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_SQUARE | PS_JOIN_BEVEL, 5, &lb, 0, nullptr);
  SelectObject(dc, wide);
  Polyline(dc, poly, 4);
  HPEN round = CreatePen(PS_SOLID, 4, RGB(0, 160, 0));
  SelectObject(dc, round);
  POINT to[] = {{80, 60}, {88, 40}};
  MoveToEx(dc, 60, 68, nullptr);
  PolylineTo(dc, to, 2);
  POINT pp[] = {{10, 10}, {20, 15}, {30, 10}, {40, 40}, {50, 45}};
  DWORD counts[] = {3, 2};
  PolyPolyline(dc, pp, counts, 2);
  SelectObject(dc, old);
  DeleteObject(dash);
  DeleteObject(wide);
  DeleteObject(round);
}

void Shapes(HDC dc) {
  HBRUSH hatch = CreateHatchBrush(HS_DIAGCROSS, RGB(0, 0, 160));
  HPEN pen = CreatePen(PS_SOLID, 3, RGB(120, 60, 0));
  SelectObject(dc, hatch);
  SelectObject(dc, pen);
  Rectangle(dc, 4, 4, 40, 30);
  SetBkMode(dc, TRANSPARENT);
  RoundRect(dc, 44, 4, 92, 34, 16, 12);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, RGB(250, 240, 0));
  Ellipse(dc, 4, 36, 34, 68);
  SelectObject(dc, GetStockObject(NULL_PEN));
  Pie(dc, 36, 36, 66, 70, 66, 50, 36, 40);
  SelectObject(dc, pen);
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  Arc(dc, 60, 36, 92, 70, 92, 53, 60, 53);
  SelectObject(dc, GetStockObject(GRAY_BRUSH));
  Chord(dc, 66, 40, 94, 66, 94, 60, 66, 44);
  SelectObject(dc, GetStockObject(BLACK_PEN));
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(hatch);
  DeleteObject(pen);
}

void Polygons(HDC dc) {
  HBRUSH b = CreateSolidBrush(RGB(30, 150, 90));
  SelectObject(dc, b);
  POINT star[] = {{20, 2}, {32, 40}, {2, 15}, {38, 15}, {8, 40}};
  Polygon(dc, star, 5);
  SetPolyFillMode(dc, WINDING);
  POINT star2[] = {{60, 2}, {72, 40}, {42, 15}, {78, 15}, {48, 40}};
  Polygon(dc, star2, 5);
  POINT two[] = {{5, 45}, {40, 45}, {40, 70}, {5, 70}, {50, 45}, {90, 50}, {70, 70}};
  INT counts[] = {4, 3};
  PolyPolygon(dc, two, counts, 2);
  POINT bez[] = {{50, 60}, {60, 20}, {80, 90}, {94, 50}, {70, 40}, {60, 45}, {55, 68}};
  PolyBezier(dc, bez, 7);
  MoveToEx(dc, 2, 2, nullptr);
  POINT to[] = {{30, 60}, {60, 0}, {94, 30}};
  PolyBezierTo(dc, to, 3);
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(b);
}

void PatternBrushes(HDC dc) {
  Dib tile(8, 8, 24);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) SetPixel(tile.dc(), x, y, (x + y) % 3 ? RGB(200, 30, 30) : RGB(20, 20, 220));
  HBRUSH colour = CreatePatternBrush(tile.bitmap());
  const uint8_t monoBits[16] = {0xAA, 0, 0x55, 0, 0xF0, 0, 0x0F, 0, 0xCC, 0, 0x33, 0, 0xFF, 0, 0x00, 0};
  HBITMAP mono = CreateBitmap(8, 8, 1, 1, monoBits);
  HBRUSH monoBrush = CreatePatternBrush(mono);
  PackedDib dib = MakeDib(4, 8, 8);
  std::vector<uint8_t> packed = dib.info;
  packed.resize(sizeof(BITMAPINFOHEADER) + 16 * 4);
  packed.insert(packed.end(), dib.bits.begin(), dib.bits.end());
  LOGBRUSH lb{BS_DIBPATTERNPT, DIB_RGB_COLORS, reinterpret_cast<ULONG_PTR>(packed.data())};
  HBRUSH dibBrush = CreateBrushIndirect(&lb);
  SelectObject(dc, colour);
  Rectangle(dc, 2, 2, 40, 30);
  SetTextColor(dc, RGB(0, 128, 0));
  SetBkColor(dc, RGB(255, 200, 200));
  SelectObject(dc, monoBrush);
  SetBrushOrgEx(dc, 3, 1, nullptr);
  Ellipse(dc, 44, 2, 94, 34);
  SelectObject(dc, dibBrush);
  RECT r{4, 36, 60, 70};
  FillRect(dc, &r, dibBrush);
  RECT f{62, 36, 92, 70};
  FrameRect(dc, &f, colour);
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(colour);
  DeleteObject(monoBrush);
  DeleteObject(dibBrush);
  DeleteObject(mono);
}

void RasterOps(HDC dc) {
  HBRUSH b = CreateSolidBrush(RGB(90, 200, 40));
  SelectObject(dc, b);
  Rectangle(dc, 0, 0, 60, 50);
  SetROP2(dc, R2_XORPEN);
  HPEN p = CreatePen(PS_SOLID, 6, RGB(255, 0, 255));
  SelectObject(dc, p);
  MoveToEx(dc, 0, 0, nullptr);
  LineTo(dc, 90, 70);
  SetROP2(dc, R2_NOT);
  Ellipse(dc, 30, 20, 90, 70);
  SetROP2(dc, R2_COPYPEN);
  SetBkMode(dc, TRANSPARENT);
  HPEN dot = CreatePen(PS_DOT, 1, RGB(0, 0, 0));
  SelectObject(dc, dot);
  MoveToEx(dc, 0, 65, nullptr);
  LineTo(dc, 95, 65);
  SelectObject(dc, GetStockObject(BLACK_PEN));
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(b);
  DeleteObject(p);
  DeleteObject(dot);
}

void Text(HDC dc) {
  HFONT sans = Font("DejaVu Sans", -14);
  HFONT serif = Font("DejaVu Serif", -17, 0, FW_BOLD);
  HFONT turned = Font("DejaVu Sans", -12, 450);
  SelectObject(dc, sans);
  SetTextColor(dc, RGB(0, 0, 160));
  TextOut(dc, 2, 2, "Metafile", 8);
  SelectObject(dc, serif);
  SetBkColor(dc, RGB(255, 255, 0));
  RECT r{2, 22, 70, 42};
  INT dx[] = {9, 12, 8, 14, 10};
  ExtTextOut(dc, 4, 22, ETO_OPAQUE | ETO_CLIPPED, &r, "Wide!", 5, dx);
  SelectObject(dc, turned);
  SetBkMode(dc, TRANSPARENT);
  SetTextAlign(dc, TA_BASELINE | TA_LEFT);
  TextOut(dc, 20, 68, "up", 2);
  SetTextAlign(dc, TA_TOP | TA_LEFT);
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(sans);
  DeleteObject(serif);
  DeleteObject(turned);
}

// DrawText lays its lines out from their top left corners whatever alignment
// the DC has; the text after it is aligned as the DC says again. Under a map
// that scales, it lays them out in logical units.
void AlignedDrawText(HDC dc) {
  HFONT sans = Font("DejaVu Sans", -11);
  SelectObject(dc, sans);
  SetTextColor(dc, RGB(0, 100, 0));
  SetBkColor(dc, RGB(255, 220, 220));
  SetTextAlign(dc, TA_BASELINE | TA_RIGHT | TA_UPDATECP);
  MoveToEx(dc, 94, 68, nullptr);
  RECT r{4, 2, 92, 40};
  DrawText(dc, "Boxed words centred on lines", -1, &r, DT_CENTER | DT_WORDBREAK);
  SetBkMode(dc, TRANSPARENT);
  TextOut(dc, 0, 0, "cp", 2);
  TextOut(dc, 0, 0, "more", 4);
  // Under a map with y up the lines go down the page, to smaller y.
  SetMapMode(dc, MM_LOMETRIC);
  SetViewportOrgEx(dc, 0, 42, nullptr);
  HFONT metric = Font("DejaVu Sans", -30);
  SelectObject(dc, metric);
  SetTextColor(dc, RGB(0, 0, 150));
  RECT m{0, 0, 180, -80};
  DrawText(dc, "Two lines down", -1, &m, DT_CENTER | DT_WORDBREAK);
  SetMapMode(dc, MM_TEXT);
  SetViewportOrgEx(dc, 0, 0, nullptr);
  SetTextAlign(dc, TA_TOP | TA_LEFT);
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(sans);
  DeleteObject(metric);
}

void Dibs(HDC dc) {
  int x = 0;
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    PackedDib d = MakeDib(bits);
    StretchDIBits(dc, x, 2, 14, 10, 0, 0, 7, 5, d.bits.data(), d.Info(), DIB_RGB_COLORS, SRCCOPY);
    SetDIBitsToDevice(dc, x + 2, 20, 7, 5, 0, 0, 0, 5, d.bits.data(), d.Info(), DIB_RGB_COLORS);
    x += 16;
  }
  PackedDib big = MakeDib(24, 30, 20);
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchDIBits(dc, 80, 60, -10, -8, 0, 0, 30, 20, big.bits.data(), big.Info(), DIB_RGB_COLORS, SRCCOPY);
  StretchDIBits(dc, 4, 30, 60, 40, 0, 0, 30, 20, big.bits.data(), big.Info(), DIB_RGB_COLORS, SRCINVERT);
}

void Blits(HDC dc) {
  Source src;
  BitBlt(dc, 2, 2, 16, 12, src.dib.dc(), 0, 0, SRCCOPY);
  StretchBlt(dc, 20, 2, 40, 30, src.dib.dc(), 2, 2, 10, 8, SRCCOPY);
  HBRUSH b = CreateHatchBrush(HS_CROSS, RGB(0, 90, 0));
  SelectObject(dc, b);
  PatBlt(dc, 0, 40, 50, 30, PATINVERT);
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(b);
  Dib alpha(8, 8, 32);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      uint32_t a = static_cast<uint32_t>(x * 32);
      alpha.SetPixel32(x, y, (a << 24) | ((a * 200 / 255) << 16) | ((a * y * 30 / 255) << 0));
    }
  BLENDFUNCTION bf{AC_SRC_OVER, 0, 200, AC_SRC_ALPHA};
  AlphaBlend(dc, 60, 36, 32, 32, alpha.dc(), 0, 0, 8, 8, bf);
  RECT inv{70, 4, 90, 20};
  InvertRect(dc, &inv);
  SetPixel(dc, 94, 70, RGB(1, 2, 3));
}

void SaveRestore(HDC dc) {
  HPEN red = CreatePen(PS_SOLID, 2, RGB(255, 0, 0));
  SelectObject(dc, red);
  SaveDC(dc);
  HPEN blue = CreatePen(PS_SOLID, 5, RGB(0, 0, 255));
  SelectObject(dc, blue);
  SetBkColor(dc, RGB(0, 255, 0));
  SetViewportOrgEx(dc, 10, 10, nullptr);
  Rectangle(dc, 0, 0, 30, 30);
  RestoreDC(dc, -1);
  Rectangle(dc, 40, 20, 80, 60);
  SelectObject(dc, GetStockObject(BLACK_PEN));
  DeleteObject(red);
  DeleteObject(blue);
}

void Clipping(HDC dc) {
  HBRUSH b = CreateSolidBrush(RGB(200, 100, 0));
  SelectObject(dc, b);
  IntersectClipRect(dc, 4, 4, 80, 60);
  ExcludeClipRect(dc, 20, 20, 40, 40);
  Rectangle(dc, 0, 0, 96, 72);
  HRGN e = CreateEllipticRgn(30, 10, 90, 70);
  SelectClipRgn(dc, e);
  HBRUSH g = CreateHatchBrush(HS_BDIAGONAL, RGB(0, 0, 0));
  SelectObject(dc, g);
  Rectangle(dc, 0, 0, 96, 72);
  HRGN r = CreateRectRgn(0, 0, 50, 30);
  ExtSelectClipRgn(dc, r, RGN_OR);
  ExtSelectClipRgn(dc, r, RGN_XOR);
  HRGN r2 = CreateRectRgn(60, 0, 96, 72);
  ExtSelectClipRgn(dc, r2, RGN_DIFF);
  SelectObject(dc, GetStockObject(BLACK_BRUSH));
  Ellipse(dc, 10, 10, 95, 70);
  SelectClipRgn(dc, nullptr);
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(b);
  DeleteObject(g);
  DeleteObject(e);
  DeleteObject(r);
  DeleteObject(r2);
}

void Regions(HDC dc) {
  HRGN a = CreateRoundRectRgn(2, 2, 50, 40, 12, 12);
  HBRUSH b = CreateSolidBrush(RGB(0, 120, 255));
  FillRgn(dc, a, b);
  HRGN c = CreateEllipticRgn(40, 20, 94, 70);
  FrameRgn(dc, c, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)), 3, 2);
  HRGN d = CreateRectRgn(5, 50, 30, 70);
  SelectObject(dc, GetStockObject(DKGRAY_BRUSH));
  PaintRgn(dc, d);
  RECT fr{60, 2, 90, 16};
  FillRect(dc, &fr, reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_HIGHLIGHT + 1)));
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(a);
  DeleteObject(b);
  DeleteObject(c);
  DeleteObject(d);
}

void MapModes(HDC dc) {
  SetMapMode(dc, MM_ANISOTROPIC);
  SetWindowOrgEx(dc, 100, 100, nullptr);
  SetWindowExtEx(dc, 200, 100, nullptr);
  SetViewportExtEx(dc, 96, 72, nullptr);
  HPEN p = CreatePen(PS_SOLID, 6, RGB(0, 0, 0));
  SelectObject(dc, p);
  Ellipse(dc, 110, 110, 290, 190);
  HFONT f = Font("DejaVu Sans", -30);
  SelectObject(dc, f);
  TextOut(dc, 120, 120, "Map", 3);
  SetMapMode(dc, MM_LOMETRIC);
  SetWindowOrgEx(dc, 0, 0, nullptr);
  SetViewportOrgEx(dc, 0, 72, nullptr);
  Rectangle(dc, 20, 20, 120, 90);
  SelectObject(dc, GetStockObject(BLACK_PEN));
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(p);
  DeleteObject(f);
}

void WorldTransforms(HDC dc) {
  SetGraphicsMode(dc, GM_ADVANCED);
  XFORM scale{1.5f, 0, 0, 0.75f, 10, 4};
  SetWorldTransform(dc, &scale);
  HBRUSH b = CreateSolidBrush(RGB(100, 0, 100));
  SelectObject(dc, b);
  Rectangle(dc, 0, 0, 40, 40);
  Ellipse(dc, 20, 40, 50, 90);
  XFORM turn{0.8660254f, 0.5f, -0.5f, 0.8660254f, 0, 0};
  ModifyWorldTransform(dc, &turn, MWT_LEFTMULTIPLY);
  POINT tri[] = {{40, 0}, {50, 30}, {30, 30}};
  Polygon(dc, tri, 3);
  MoveToEx(dc, 0, 0, nullptr);
  LineTo(dc, 50, 0);
  ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(b);
}

void Paths(HDC dc) {
  HBRUSH b = CreateHatchBrush(HS_FDIAGONAL, RGB(0, 100, 200));
  HPEN pen = CreatePen(PS_SOLID, 3, RGB(150, 0, 60));
  SelectObject(dc, b);
  SelectObject(dc, pen);
  BeginPath(dc);
  MoveToEx(dc, 4, 4, nullptr);
  LineTo(dc, 40, 8);
  POINT bez[] = {{50, 20}, {20, 40}, {36, 44}};
  PolyBezierTo(dc, bez, 3);
  CloseFigure(dc);
  Rectangle(dc, 48, 4, 70, 30);
  EndPath(dc);
  StrokeAndFillPath(dc);
  SetPolyFillMode(dc, WINDING);
  BeginPath(dc);
  Ellipse(dc, 4, 40, 44, 70);
  POINT star[] = {{70, 34}, {82, 70}, {52, 46}, {90, 46}, {58, 70}};
  Polygon(dc, star, 5);
  EndPath(dc);
  FillPath(dc);
  LOGBRUSH lb{BS_SOLID, RGB(0, 140, 0), 0};
  HPEN wide = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, 5, &lb, 0, nullptr);
  SelectObject(dc, wide);
  BeginPath(dc);
  POINT open[] = {{74, 4}, {92, 14}, {76, 24}};
  Polyline(dc, open, 3);
  EndPath(dc);
  StrokePath(dc);
  // An aborted path draws nothing, and a path used up cannot be used again.
  BeginPath(dc);
  Rectangle(dc, 0, 0, 96, 72);
  AbortPath(dc);
  FillPath(dc);
  SelectObject(dc, GetStockObject(BLACK_PEN));
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(b);
  DeleteObject(pen);
  DeleteObject(wide);
}

void ClipPaths(HDC dc) {
  BeginPath(dc);
  Ellipse(dc, 6, 6, 66, 66);
  EndPath(dc);
  SelectClipPath(dc, RGN_COPY);
  HBRUSH g = CreateHatchBrush(HS_CROSS, RGB(120, 0, 0));
  SelectObject(dc, g);
  Rectangle(dc, 0, 0, 96, 72);
  BeginPath(dc);
  POINT tri[] = {{30, 0}, {95, 36}, {30, 71}};
  Polygon(dc, tri, 3);
  EndPath(dc);
  SelectClipPath(dc, RGN_XOR);
  SelectObject(dc, GetStockObject(DKGRAY_BRUSH));
  Rectangle(dc, 10, 10, 90, 60);
  BeginPath(dc);
  Rectangle(dc, 40, 20, 60, 50);
  EndPath(dc);
  SelectClipPath(dc, RGN_DIFF);
  SelectObject(dc, GetStockObject(BLACK_BRUSH));
  Ellipse(dc, 20, 15, 80, 65);
  SelectClipRgn(dc, nullptr);
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(g);
}

// Turns the world by 30 degrees about a point, with a shear on top when asked.
void Turn(HDC dc, float cx, float cy, float shear = 0) {
  SetGraphicsMode(dc, GM_ADVANCED);
  XFORM move{1, 0, 0, 1, -cx, -cy};
  XFORM turn{0.8660254f, 0.5f, -0.5f, 0.8660254f, 0, 0};
  XFORM skew{1, 0, shear, 1, 0, 0};
  XFORM back{1, 0, 0, 1, cx, cy};
  SetWorldTransform(dc, &move);
  ModifyWorldTransform(dc, &turn, MWT_RIGHTMULTIPLY);
  ModifyWorldTransform(dc, &skew, MWT_RIGHTMULTIPLY);
  ModifyWorldTransform(dc, &back, MWT_RIGHTMULTIPLY);
}

void Unturn(HDC dc) {
  ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
  SetGraphicsMode(dc, GM_COMPATIBLE);
}

void TurnedShapes(HDC dc) {
  Turn(dc, 48, 36);
  HBRUSH hatch = CreateHatchBrush(HS_DIAGCROSS, RGB(0, 0, 160));
  HPEN pen = CreatePen(PS_SOLID, 3, RGB(120, 60, 0));
  SelectObject(dc, hatch);
  SelectObject(dc, pen);
  Rectangle(dc, 10, 8, 44, 30);
  SelectObject(dc, GetStockObject(LTGRAY_BRUSH));
  Ellipse(dc, 50, 6, 90, 30);
  SelectObject(dc, GetStockObject(BLACK_PEN));
  RoundRect(dc, 8, 38, 40, 64, 12, 10);
  Pie(dc, 44, 36, 70, 66, 70, 50, 44, 40);
  Chord(dc, 70, 36, 94, 64, 94, 60, 70, 44);
  SelectObject(dc, pen);
  Arc(dc, 30, 20, 70, 56, 70, 38, 30, 38);
  Unturn(dc);
  Turn(dc, 48, 36, 0.4f);
  SelectObject(dc, GetStockObject(NULL_PEN));
  SelectObject(dc, hatch);
  Rectangle(dc, 60, 40, 86, 60);
  Unturn(dc);
  SelectObject(dc, GetStockObject(BLACK_PEN));
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(hatch);
  DeleteObject(pen);
}

void TurnedText(HDC dc) {
  HFONT sans = Font("DejaVu Sans", -13);
  HFONT serif = Font("DejaVu Serif", -15, 0, FW_BOLD);
  Turn(dc, 48, 36);
  SelectObject(dc, sans);
  SetTextColor(dc, RGB(0, 0, 160));
  SetBkMode(dc, TRANSPARENT);
  TextOut(dc, 8, 10, "Turned", 6);
  SelectObject(dc, serif);
  SetBkColor(dc, RGB(255, 255, 0));
  RECT r{10, 36, 80, 56};
  INT dx[] = {11, 12, 9, 14, 10};
  SetTextAlign(dc, TA_CENTER | TA_BASELINE);
  ExtTextOut(dc, 46, 52, ETO_OPAQUE | ETO_CLIPPED, &r, "Wide!", 5, dx);
  SetTextAlign(dc, TA_TOP | TA_LEFT);
  Unturn(dc);
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(sans);
  DeleteObject(serif);
}

void TurnedBlits(HDC dc) {
  Source src;
  Turn(dc, 48, 36);
  BitBlt(dc, 4, 4, 16, 12, src.dib.dc(), 0, 0, SRCCOPY);
  StretchBlt(dc, 26, 2, 40, 30, src.dib.dc(), 2, 2, 10, 8, SRCCOPY);
  StretchBlt(dc, 70, 4, -20, 16, src.dib.dc(), 0, 0, 16, 12, SRCINVERT);
  PackedDib d = MakeDib(8);
  StretchDIBits(dc, 4, 40, 28, 20, 0, 0, 7, 5, d.bits.data(), d.Info(), DIB_RGB_COLORS, SRCCOPY);
  HBRUSH b = CreateHatchBrush(HS_CROSS, RGB(0, 90, 0));
  SelectObject(dc, b);
  PatBlt(dc, 36, 40, 20, 24, PATINVERT);
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(b);
  Dib alpha(8, 8, 32);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      uint32_t a = static_cast<uint32_t>(x * 32);
      alpha.SetPixel32(x, y, (a << 24) | ((a * 200 / 255) << 16) | ((a * y * 30 / 255) << 0));
    }
  BLENDFUNCTION bf{AC_SRC_OVER, 0, 200, AC_SRC_ALPHA};
  AlphaBlend(dc, 60, 36, 30, 30, alpha.dc(), 0, 0, 8, 8, bf);
  Unturn(dc);
}

// Text, a pie and a chord drawn into an open path, then an arc and a line
// widened by a geometric pen, the widened outline stroked and filled.
void CurvedPaths(HDC dc) {
  HFONT bold = Font("DejaVu Sans", -22, 0, FW_BOLD);
  HBRUSH hatch = CreateHatchBrush(HS_DIAGCROSS, RGB(0, 90, 160));
  HPEN red = CreatePen(PS_SOLID, 1, RGB(160, 0, 0));
  SelectObject(dc, bold);
  SelectObject(dc, hatch);
  SelectObject(dc, red);
  BeginPath(dc);
  TextOut(dc, 2, 0, "Qv", 2);
  Pie(dc, 40, 2, 72, 34, 72, 18, 56, 2);
  Chord(dc, 68, 4, 94, 30, 94, 24, 68, 10);
  EndPath(dc);
  StrokeAndFillPath(dc);
  LOGBRUSH lb{BS_SOLID, RGB(0, 120, 0), 0};
  HPEN wide = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, 7, &lb, 0, nullptr);
  SelectObject(dc, wide);
  BeginPath(dc);
  Arc(dc, 4, 36, 44, 70, 44, 53, 4, 53);
  MoveToEx(dc, 52, 40, nullptr);
  LineTo(dc, 90, 66);
  EndPath(dc);
  WidenPath(dc);
  SelectObject(dc, red);
  SelectObject(dc, GetStockObject(LTGRAY_BRUSH));
  StrokeAndFillPath(dc);
  SelectObject(dc, GetStockObject(BLACK_PEN));
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(bold);
  DeleteObject(hatch);
  DeleteObject(red);
  DeleteObject(wide);
}

// Underlined and struck-out text on an opaque background under a turned and a
// sheared world and in a font turned by its escapement, and text drawn into a
// path under a turned world.
void TurnedTextLines(HDC dc) {
  HFONT lined = LinedFont("DejaVu Sans", -14);
  HFONT steep = LinedFont("DejaVu Sans", -12, 600);
  HFONT big = Font("DejaVu Sans", -20, 0, FW_BOLD);
  SelectObject(dc, lined);
  SetTextColor(dc, RGB(120, 0, 0));
  SetBkColor(dc, RGB(255, 255, 0));
  SetBkMode(dc, OPAQUE);
  Turn(dc, 48, 36);
  TextOut(dc, 10, 10, "Lined", 5);
  Unturn(dc);
  Turn(dc, 48, 36, 0.4f);
  SetTextAlign(dc, TA_CENTER | TA_BASELINE);
  SetBkColor(dc, RGB(0, 200, 255));
  TextOut(dc, 50, 44, "Sheared", 7);
  SetTextAlign(dc, TA_TOP | TA_LEFT);
  SelectObject(dc, big);
  SelectObject(dc, GetStockObject(GRAY_BRUSH));
  BeginPath(dc);
  TextOut(dc, 20, 50, "Path", 4);
  EndPath(dc);
  StrokeAndFillPath(dc);
  Unturn(dc);
  SelectObject(dc, steep);
  SetBkColor(dc, RGB(160, 255, 160));
  TextOut(dc, 80, 58, "Up", 2);
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(lined);
  DeleteObject(big);
  DeleteObject(steep);
}

// A 16 x 16 icon of AND mask and colour image (no alpha).
HICON MaskIcon() {
  Dib color(16, 16, 24);
  const uint8_t maskBits[32] = {0xF0, 0x0F, 0xE0, 0x07, 0xC0, 0x03, 0x80, 0x01, 0, 0, 0, 0, 0, 0, 0, 0,
                                0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x01, 0xC0, 0x03, 0xE0, 0x07, 0xF0, 0x0F};
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) SetPixel(color.dc(), x, y, RGB(x * 16, 255 - y * 16, (x * y) % 256));
  HBITMAP mask = CreateBitmap(16, 16, 1, 1, maskBits);
  ICONINFO ii{TRUE, 0, 0, mask, color.bitmap()};
  HICON icon = CreateIconIndirect(&ii);
  DeleteObject(mask);
  return icon;
}

void NewRecords(HDC dc) {
  RECT edge{2, 2, 30, 22};
  DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT | BF_MIDDLE);
  RECT sunk{32, 2, 60, 22};
  DrawEdge(dc, &sunk, EDGE_SUNKEN, BF_RECT);
  RECT focus{62, 2, 94, 22};
  DrawFocusRect(dc, &focus);
  Source src;
  const uint8_t maskBits[24] = {0xFF, 0x00, 0x81, 0x00, 0xBD, 0x00, 0xA5, 0x00, 0xA5, 0x00, 0xBD, 0x00,
                                0x81, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x00, 0x00};
  HBITMAP mask = CreateBitmap(12, 12, 1, 1, maskBits);
  HBRUSH b = CreateHatchBrush(HS_BDIAGONAL, RGB(200, 0, 0));
  SelectObject(dc, b);
  MaskBlt(dc, 2, 26, 12, 12, src.dib.dc(), 2, 0, mask, 0, 0, MAKEROP4(SRCCOPY, PATCOPY));
  POINT plg[3] = {{20, 26}, {44, 32}, {16, 44}};
  PlgBlt(dc, plg, src.dib.dc(), 0, 0, 16, 12, nullptr, 0, 0);
  POINT plgMasked[3] = {{50, 26}, {62, 26}, {50, 38}};
  PlgBlt(dc, plgMasked, src.dib.dc(), 0, 0, 12, 12, mask, 0, 0);
  TransparentBlt(dc, 66, 26, 28, 20, src.dib.dc(), 0, 0, 16, 12, RGB(0, 0, 0));
  TRIVERTEX v[4] = {{2, 48, 0xFF00, 0, 0, 0}, {30, 70, 0, 0, 0xFF00, 0}, {34, 48, 0, 0xFF00, 0, 0},
                    {60, 70, 0xFF00, 0xFF00, 0, 0}};
  GRADIENT_RECT gr{0, 1};
  GradientFill(dc, v, 2, &gr, 1, GRADIENT_FILL_RECT_H);
  GRADIENT_TRIANGLE gt{1, 2, 3};
  GradientFill(dc, v, 4, &gt, 1, GRADIENT_FILL_TRIANGLE);
  HICON icon = MaskIcon();
  DrawIconEx(dc, 62, 50, icon, 0, 0, 0, nullptr, DI_NORMAL);
  DrawIconEx(dc, 80, 48, icon, 12, 20, 0, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)), DI_NORMAL);
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DestroyIcon(icon);
  DeleteObject(mask);
  DeleteObject(b);
}

const Case kCases[] = {
    {"Lines", Lines, true, true},
    {"Shapes", Shapes, true, true},
    {"Polygons", Polygons, true, true},
    {"PatternBrushes", PatternBrushes, true, false},  // a monochrome tile takes the DC's colours only in EMF
    {"RasterOps", RasterOps, true, true},
    {"Text", Text, true, true},
    {"Dibs", Dibs, true, true},
    {"Blits", Blits, true, false},  // no alpha blend in WMF
    {"SaveRestore", SaveRestore, false, true},
    {"Clipping", Clipping, false, false},
    {"Regions", Regions, true, true},
    {"MapModes", MapModes, false, false},
    {"WorldTransforms", WorldTransforms, false, false},
    {"Paths", Paths, true, true},
    {"ClipPaths", ClipPaths, true, false},
    {"CurvedPaths", CurvedPaths, true, true},
    {"TurnedShapes", TurnedShapes, true, false},  // no world transforms in WMF
    {"TurnedText", TurnedText, true, false},
    {"TurnedTextLines", TurnedTextLines, true, false},
    {"TurnedBlits", TurnedBlits, true, false},
    {"NewRecords", NewRecords, true, false},
    // DrawText places its lines by the face at the size it is recorded at.
    {"AlignedDrawText", AlignedDrawText, false, true},
};

// Every target starts from the same non-uniform background, so operations that
// read the destination are checked too.
void Background(const Dib& d, int w, int h) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) SetPixel(d.dc(), x, y, RGB(255 - (x * 2) % 64, 250 - (y * 3) % 50, 240));
}

std::vector<uint8_t> Pixels(const Dib& d, int w, int h) {
  std::vector<uint8_t> out;
  for (int y = 0; y < h; ++y) out.insert(out.end(), d.Row(y), d.Row(y) + 3 * w);
  return out;
}

// Position of the first differing pixel, for the failure message.
std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int w) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (a[i] != b[i]) {
      size_t px = i / 3;
      return "(" + std::to_string(px % w) + ", " + std::to_string(px / w) + ")";
    }
  return "none";
}

// The scene recorded on a metafile canvas of W x H.
void Record(TMetafile& mf, const Scene& scene) {
  mf.SetWidth(W);
  mf.SetHeight(H);
  TMetafileCanvas canvas(&mf, nullptr);
  scene(canvas.Handle());
}

// The scene drawn directly, through a canvas like the recording, at a scale.
std::vector<uint8_t> Direct(const Scene& scene, int scale) {
  Dib d(W * scale, H * scale, 24);
  Background(d, W * scale, H * scale);
  TCanvas canvas;
  canvas.SetHandle(d.dc());
  HDC dc = canvas.Handle();
  if (scale != 1) {
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowExtEx(dc, 1, 1, nullptr);
    SetViewportExtEx(dc, scale, scale, nullptr);
  }
  scene(dc);
  canvas.SetHandle(nullptr);
  return Pixels(d, W * scale, H * scale);
}

std::vector<uint8_t> Played(TMetafile& mf, int scale) {
  Dib d(W * scale, H * scale, 24);
  Background(d, W * scale, H * scale);
  RECT r{0, 0, W * scale, H * scale};
  EXPECT_TRUE(PlayEnhMetaFile(d.dc(), mf.Handle(), &r));
  return Pixels(d, W * scale, H * scale);
}

class MetafileExactness : public ::testing::TestWithParam<Case> {};

TEST_P(MetafileExactness, SavedLoadedAndPlayedEqualsDirectDrawing) {
  const Case& c = GetParam();
  TMetafile recorded;
  Record(recorded, c.draw);
  ASSERT_FALSE(recorded.Empty());
  EXPECT_EQ(recorded.Width(), W);
  EXPECT_EQ(recorded.Height(), H);
  TMetafile loaded;
  LoadBytes(loaded, SaveBytes(recorded));
  EXPECT_TRUE(loaded.Enhanced());
  EXPECT_EQ(loaded.Width(), W);
  auto want = Direct(c.draw, 1);
  auto got = Played(loaded, 1);
  SavePicture(std::string("metafile_") + c.name + ".ppm", got, W, H);
  ASSERT_NE(want, Direct([](HDC) {}, 1)) << "the scene draws nothing";
  EXPECT_TRUE(want == got) << "first difference at " << FirstDifference(want, got, W);
}

TEST_P(MetafileExactness, PlayedTwiceAsLargeEqualsDoublingMap) {
  const Case& c = GetParam();
  if (!c.scalable) GTEST_SKIP() << "the scene sets its own map or device clip";
  TMetafile mf;
  Record(mf, c.draw);
  auto want = Direct(c.draw, 2);
  auto got = Played(mf, 2);
  EXPECT_TRUE(want == got) << "first difference at " << FirstDifference(want, got, 2 * W);
}

TEST_P(MetafileExactness, ThroughPlaceableWindowsMetafile) {
  const Case& c = GetParam();
  if (!c.windows) GTEST_SKIP() << "the Windows format cannot say every call of the scene";
  TMetafile recorded;
  Record(recorded, c.draw);
  recorded.SetEnhanced(false);
  std::vector<uint8_t> bytes = SaveBytes(recorded);
  ASSERT_GE(bytes.size(), 40u);
  EXPECT_EQ(bytes[0], 0xD7);  // the placeable key
  TMetafile loaded;
  LoadBytes(loaded, bytes);
  EXPECT_FALSE(loaded.Enhanced());
  EXPECT_EQ(loaded.Width(), W);
  EXPECT_EQ(loaded.Height(), H);
  auto want = Direct(c.draw, 1);
  auto got = Played(loaded, 1);
  EXPECT_TRUE(want == got) << "first difference at " << FirstDifference(want, got, W);
}

// Shapes under a world transform reach the Windows format as the polygons and
// lines of their outlines: the same picture but for pixels along the edges,
// where they used to be drawn as if the world had not moved.
TEST(MetafileWindowsFormat, TurnedShapesKeepTheirPlaceAsPolygons) {
  const std::pair<const char*, Scene> scenes[] = {{"TurnedShapes", TurnedShapes}, {"WorldTransforms", WorldTransforms}};
  for (const auto& [name, scene] : scenes) {
    TMetafile recorded;
    Record(recorded, scene);
    recorded.SetEnhanced(false);
    TMetafile loaded;
    LoadBytes(loaded, SaveBytes(recorded));
    auto want = Direct(scene, 1), got = Played(loaded, 1), ground = Direct([](HDC) {}, 1);
    int painted = 0, differing = 0;
    for (size_t i = 0; i < want.size(); i += 3) {
      bool diff = want[i] != got[i] || want[i + 1] != got[i + 1] || want[i + 2] != got[i + 2];
      painted += want[i] != ground[i] || want[i + 1] != ground[i + 1] || want[i + 2] != ground[i + 2];
      differing += diff;
    }
    SavePicture(std::string("metafile_wmf_") + name + ".ppm", got, W, H);
    EXPECT_GT(painted, W * H / 5) << name;
    EXPECT_LT(differing, painted / 10) << name << ": " << differing << " of " << painted << " painted pixels";
  }
}

INSTANTIATE_TEST_SUITE_P(Scenes, MetafileExactness, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

// A path is made once and used once; the calls that use it fail without one.
TEST(GdiPaths, UsedOnceAndOnlyWhenEnded) {
  Dib d(40, 30, 24);
  HDC dc = d.dc();
  PatBlt(dc, 0, 0, 40, 30, WHITENESS);
  EXPECT_FALSE(FillPath(dc));  // no path yet
  EXPECT_FALSE(CloseFigure(dc));
  EXPECT_FALSE(EndPath(dc));
  ASSERT_TRUE(BeginPath(dc));
  SelectObject(dc, GetStockObject(BLACK_BRUSH));
  Rectangle(dc, 5, 5, 25, 20);
  EXPECT_FALSE(FillPath(dc));  // still open
  EXPECT_EQ(GetPixel(dc, 10, 10), RGB(255, 255, 255)) << "drawing into an open path paints nothing";
  ASSERT_TRUE(EndPath(dc));
  EXPECT_TRUE(FillPath(dc));
  EXPECT_EQ(GetPixel(dc, 10, 10), RGB(0, 0, 0));
  EXPECT_FALSE(StrokePath(dc));  // used up
  EXPECT_FALSE(SelectClipPath(dc, RGN_COPY));
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
}

TEST(GdiPaths, ClipPathLimitsDrawingAndSurvivesSaveAndRestore) {
  Dib d(40, 30, 24);
  HDC dc = d.dc();
  BeginPath(dc);
  POINT tri[] = {{0, 0}, {40, 0}, {0, 30}};
  Polygon(dc, tri, 3);
  EndPath(dc);
  PatBlt(dc, 0, 0, 40, 30, WHITENESS);
  int saved = SaveDC(dc);
  ASSERT_TRUE(SelectClipPath(dc, RGN_COPY));
  SelectObject(dc, GetStockObject(BLACK_BRUSH));
  SelectObject(dc, GetStockObject(NULL_PEN));
  Rectangle(dc, 0, 0, 41, 31);
  EXPECT_EQ(GetPixel(dc, 3, 3), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(d.dc(), 36, 26), CLR_INVALID) << "outside the clip";
  RestoreDC(dc, saved);
  EXPECT_EQ(GetPixel(dc, 36, 26), RGB(255, 255, 255)) << "the clip went with the restore";
  EXPECT_FALSE(SelectClipPath(dc, 0));
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  SelectObject(dc, GetStockObject(BLACK_PEN));
}

// Counts the pixels of a colour in a rectangle of a DIB.
int CountColor(const Dib& d, const RECT& r, COLORREF c) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) n += GetPixel(d.dc(), x, y) == c;
  return n;
}

// Text, arcs, pies and chords in an open path paint nothing until the path is
// used, and then paint where they would have been drawn.
TEST(GdiPaths, TextAndCurvesJoinTheOpenPath) {
  Dib drawn(80, 40, 24), pathed(80, 40, 24);
  HFONT font = Font("DejaVu Sans", -24, 0, FW_BOLD);
  for (const Dib* d : {&drawn, &pathed}) {
    PatBlt(d->dc(), 0, 0, 80, 40, WHITENESS);
    SelectObject(d->dc(), font);
    SelectObject(d->dc(), GetStockObject(NULL_PEN));
    SelectObject(d->dc(), GetStockObject(BLACK_BRUSH));
    SetBkMode(d->dc(), TRANSPARENT);
  }
  TextOut(drawn.dc(), 2, 4, "HO", 2);
  Pie(drawn.dc(), 44, 2, 76, 34, 76, 18, 60, 2);
  HDC dc = pathed.dc();
  ASSERT_TRUE(BeginPath(dc));
  TextOut(dc, 2, 4, "HO", 2);
  Pie(dc, 44, 2, 76, 34, 76, 18, 60, 2);
  Chord(dc, 44, 2, 76, 34, 44, 18, 60, 34);
  Arc(dc, 0, 0, 10, 10, 10, 5, 0, 5);
  EXPECT_EQ(CountColor(pathed, RECT{0, 0, 80, 40}, RGB(0, 0, 0)), 0) << "drawing into an open path paints nothing";
  ASSERT_TRUE(EndPath(dc));
  ASSERT_TRUE(FillPath(dc));
  // The glyphs: filled outlines against drawn coverage of half or more, equal but for the edges.
  auto dark = [](const Dib& d) {
    int n = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 42; ++x) n += GetRValue(GetPixel(d.dc(), x, y)) < 128;
    return n;
  };
  int textDrawn = dark(drawn), textPathed = dark(pathed);
  EXPECT_GT(textDrawn, 100);
  EXPECT_NEAR(textPathed, textDrawn, textDrawn / 4);
  EXPECT_EQ(GetPixel(dc, 6, 18), RGB(0, 0, 0)) << "the H's left stem";
  EXPECT_EQ(GetPixel(dc, 20, 10), RGB(255, 255, 255)) << "between the H's stems";
  // The pie's quarter and the chord's cap below it, each a closed figure.
  EXPECT_EQ(GetPixel(dc, 66, 10), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 52, 28), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 54, 10), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(dc, 66, 26), RGB(255, 255, 255));
  SelectObject(drawn.dc(), GetStockObject(SYSTEM_FONT));
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(font);
}

// A path keeps a bounded number of points: what comes after the bound is
// dropped instead of growing the path without end.
TEST(GdiPaths, HoldABoundedNumberOfPoints) {
  Dib d(20, 20, 24);
  HDC dc = d.dc();
  PatBlt(dc, 0, 0, 20, 20, WHITENESS);
  // Four poly-lines of 2^20 points, off the surface, fill the path to its bound.
  std::vector<POINT> far(size_t{1} << 20);
  for (size_t i = 0; i < far.size(); ++i) far[i] = POINT{-100 - static_cast<LONG>(i % 50), -50 - static_cast<LONG>(i % 7)};
  BeginPath(dc);
  for (int i = 0; i < 4; ++i) Polyline(dc, far.data(), static_cast<int>(far.size()));
  SelectObject(dc, GetStockObject(BLACK_BRUSH));
  Rectangle(dc, 2, 2, 18, 18);
  EndPath(dc);
  ASSERT_TRUE(FillPath(dc));
  EXPECT_EQ(GetPixel(dc, 10, 10), RGB(255, 255, 255)) << "the rectangle came after the bound";
  BeginPath(dc);
  Rectangle(dc, 2, 2, 18, 18);
  EndPath(dc);
  ASSERT_TRUE(FillPath(dc));
  EXPECT_EQ(GetPixel(dc, 10, 10), RGB(0, 0, 0)) << "a new path starts from nothing";
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
}

// A widened path, filled, paints exactly what stroking the path with the pen
// paints: round and flat ends, a crossing that leaves a hole, a closed ring.
TEST(GdiPaths, WidenedPathFillsWhatThePenStrokes) {
  const DWORD styles[] = {PS_ENDCAP_ROUND | PS_JOIN_ROUND, PS_ENDCAP_FLAT | PS_JOIN_BEVEL, PS_ENDCAP_SQUARE};
  for (DWORD style : styles) {
    Dib stroked(60, 50, 24), filled(60, 50, 24);
    LOGBRUSH lb{BS_SOLID, RGB(0, 0, 200), 0};
    HPEN pen = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | style, 7, &lb, 0, nullptr);
    HBRUSH brush = CreateSolidBrush(RGB(0, 0, 200));
    for (const Dib* d : {&stroked, &filled}) {
      HDC dc = d->dc();
      PatBlt(dc, 0, 0, 60, 50, WHITENESS);
      SelectObject(dc, pen);
      BeginPath(dc);
      POINT loop[] = {{4, 40}, {40, 6}, {54, 30}, {8, 10}};
      Polyline(dc, loop, 4);
      Rectangle(dc, 20, 30, 50, 46);
      EndPath(dc);
    }
    ASSERT_TRUE(StrokePath(stroked.dc()));
    ASSERT_TRUE(WidenPath(filled.dc()));
    SelectObject(filled.dc(), GetStockObject(NULL_PEN));
    SelectObject(filled.dc(), brush);
    ASSERT_TRUE(FillPath(filled.dc()));
    for (int y = 0; y < 50; ++y)
      for (int x = 0; x < 60; ++x)
        ASSERT_EQ(GetPixel(filled.dc(), x, y), GetPixel(stroked.dc(), x, y)) << style << " at " << x << ", " << y;
    EXPECT_EQ(GetPixel(filled.dc(), 35, 38), RGB(255, 255, 255)) << "the ring's hole";
    for (const Dib* d : {&stroked, &filled}) {
      SelectObject(d->dc(), GetStockObject(BLACK_PEN));
      SelectObject(d->dc(), GetStockObject(WHITE_BRUSH));
    }
    DeleteObject(pen);
    DeleteObject(brush);
  }
}

TEST(GdiPaths, WidenPathNeedsAnEndedPathAndAPenWithWidth) {
  Dib d(20, 20, 24);
  HDC dc = d.dc();
  EXPECT_FALSE(WidenPath(dc)) << "no path";
  BeginPath(dc);
  MoveToEx(dc, 2, 2, nullptr);
  LineTo(dc, 18, 18);
  EXPECT_FALSE(WidenPath(dc)) << "still open";
  EndPath(dc);
  EXPECT_FALSE(WidenPath(dc)) << "a cosmetic pen one pixel wide";
  SelectObject(dc, GetStockObject(NULL_PEN));
  EXPECT_FALSE(WidenPath(dc)) << "no pen";
  HPEN pen = CreatePen(PS_SOLID, 3, RGB(0, 0, 0));
  SelectObject(dc, pen);
  EXPECT_TRUE(WidenPath(dc));
  SelectObject(dc, GetStockObject(BLACK_PEN));
  DeleteObject(pen);
}

// Under a turned world, and in a font turned by its escapement, underlined and
// struck-out text on an opaque background paints its background and both
// lines along the turned baseline.
TEST(GdiTurnedText, HasBackgroundAndLines) {
  for (bool world : {true, false}) {
    const int escapement = world ? 0 : 3300;
    HFONT plain = Font("DejaVu Sans", -16, escapement), lined = LinedFont("DejaVu Sans", -16, escapement);
    auto draw = [world](HFONT font, int bkMode) {
      auto d = std::make_unique<Dib>(90, 90, 24);
      HDC dc = d->dc();
      PatBlt(dc, 0, 0, 90, 90, WHITENESS);
      SelectObject(dc, font);
      SetTextColor(dc, RGB(200, 0, 0));
      SetBkColor(dc, RGB(0, 0, 200));
      SetBkMode(dc, bkMode);
      if (world) Turn(dc, 45, 45);
      TextOut(dc, 10, world ? 36 : 14, "mmmmm", 5);
      if (world) Unturn(dc);
      SelectObject(dc, GetStockObject(SYSTEM_FONT));
      return d;
    };
    const RECT all{0, 0, 90, 90};
    auto bare = draw(plain, TRANSPARENT), withLines = draw(lined, TRANSPARENT), opaque = draw(plain, OPAQUE);
    int text = CountColor(*bare, all, RGB(200, 0, 0));
    int lines = CountColor(*withLines, all, RGB(200, 0, 0)) - text;
    // Two lines of about one pixel along a run of some 60 pixels.
    EXPECT_GT(lines, 60) << world;
    EXPECT_LT(lines, 4 * 80) << world;
    EXPECT_EQ(CountColor(*bare, all, RGB(0, 0, 200)), 0) << world;
    // The cell of a 16-pixel font along the run: well over half of 60 x 19.
    EXPECT_GT(CountColor(*opaque, all, RGB(0, 0, 200)), 60 * 19 / 2) << world;
    std::vector<uint8_t> bgr;
    for (int y = 0; y < 90; ++y) bgr.insert(bgr.end(), withLines->Row(y), withLines->Row(y) + 3 * 90);
    SavePicture(std::string("turned_text_") + (world ? "world" : "escapement") + ".ppm", bgr, 90, 90);
    DeleteObject(plain);
    DeleteObject(lined);
  }
}

// A metafile handle is not a drawing object: DeleteObject refuses it and it
// stays usable, where it used to be freed behind its owner's back.
TEST(MetafileHandles, DeleteObjectLeavesThemAlone) {
  HDC rec = CreateEnhMetaFile(nullptr, nullptr, nullptr, nullptr);
  Rectangle(rec, 0, 0, 10, 10);
  HENHMETAFILE emf = CloseEnhMetaFile(rec);
  ASSERT_NE(emf, nullptr);
  EXPECT_FALSE(DeleteObject(emf));
  EXPECT_GT(GetEnhMetaFileBits(emf, 0, nullptr), 0u);
  HDC wrec = CreateMetaFile(nullptr);
  Rectangle(wrec, 0, 0, 10, 10);
  HMETAFILE wmf = CloseMetaFile(wrec);
  ASSERT_NE(wmf, nullptr);
  EXPECT_FALSE(DeleteObject(wmf));
  EXPECT_GT(GetMetaFileBitsEx(wmf, 0, nullptr), 0u);
  EXPECT_TRUE(DeleteEnhMetaFile(emf));
  EXPECT_TRUE(DeleteMetaFile(wmf));
}

// An icon with alpha is kept as an alpha blend of its premultiplied image,
// which plays to within one level of the direct drawing's straight blend.
TEST(MetafileHandles, AlphaIconPlaysWithinOneLevel) {
  Dib color(8, 8, 32);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      color.SetPixel32(x, y, (uint32_t(x * 36) << 24) | (uint32_t(200) << 16) | uint32_t(y * 30));
  HBITMAP mask = CreateBitmap(8, 8, 1, 1, nullptr);
  ICONINFO ii{TRUE, 0, 0, mask, color.bitmap()};
  HICON icon = CreateIconIndirect(&ii);
  auto scene = [&](HDC dc) { DrawIconEx(dc, 10, 10, icon, 24, 16, 0, nullptr, DI_NORMAL); };
  TMetafile mf;
  Record(mf, scene);
  auto want = Direct(scene, 1);
  auto got = Played(mf, 1);
  ASSERT_EQ(want.size(), got.size());
  int worst = 0;
  for (size_t i = 0; i < want.size(); ++i) worst = std::max(worst, std::abs(int(want[i]) - int(got[i])));
  EXPECT_LE(worst, 1);
  EXPECT_NE(want, Direct([](HDC) {}, 1));
  DestroyIcon(icon);
  DeleteObject(mask);
}

// The seeds of fuzz/metafile_player.cpp: every scene as an enhanced metafile,
// taken alternately through the picture (first byte 0) and straight to the
// handles (first byte 1), and the scenes WMF can say as placeable WMF. Written
// with QV_WRITE_FUZZ_SEEDS set to fuzz/corpus; otherwise checked to be there.
TEST(FuzzSeeds, MetafileSeedsWrittenWhenAskedAndPresent) {
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  uint8_t steer = 0;
  for (const Case& c : kCases) {
    TMetafile mf;
    Record(mf, c.draw);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;
    std::vector<uint8_t> emf{steer};
    steer ^= 1;
    auto bytes = SaveBytes(mf);
    emf.insert(emf.end(), bytes.begin(), bytes.end());
    seeds.push_back({std::string(c.name) + ".emf", emf});
    if (c.windows) {
      mf.SetEnhanced(false);
      std::vector<uint8_t> wmf{0};
      bytes = SaveBytes(mf);
      wmf.insert(wmf.end(), bytes.begin(), bytes.end());
      seeds.push_back({std::string(c.name) + ".wmf", wmf});
    }
    for (const auto& [name, data] : seeds) {
      ASSERT_GT(data.size(), 100u) << name;
      if (out && *out) {
        const std::filesystem::path dir = std::filesystem::path(out) / "metafile_player";
        std::filesystem::create_directories(dir);
        qvtest::WriteFileBytes((dir / name).string(), data);
        continue;
      }
      const auto file = std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus" / "metafile_player" / name;
      EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
    }
  }
}

}  // namespace
