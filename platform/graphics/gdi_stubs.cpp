// Temporary: every call fails until its unit lands.
#include "platform/graphics/gdi.h"

HDC CreateCompatibleDC(HDC hdc) { return {}; }
BOOL DeleteDC(HDC hdc) { return {}; }
HDC GetDC(HWND hwnd) { return {}; }
int ReleaseDC(HWND hwnd, HDC hdc) { return {}; }
int SaveDC(HDC hdc) { return {}; }
BOOL RestoreDC(HDC hdc, int savedDC) { return {}; }
int GetDeviceCaps(HDC hdc, int index) { return {}; }
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) { return {}; }
HGDIOBJ GetCurrentObject(HDC hdc, UINT type) { return {}; }
BOOL GdiFlush() { return {}; }
COLORREF SetBkColor(HDC hdc, COLORREF color) { return {}; }
COLORREF GetBkColor(HDC hdc) { return {}; }
int SetBkMode(HDC hdc, int mode) { return {}; }
int GetBkMode(HDC hdc) { return {}; }
COLORREF SetTextColor(HDC hdc, COLORREF color) { return {}; }
COLORREF GetTextColor(HDC hdc) { return {}; }
UINT SetTextAlign(HDC hdc, UINT align) { return {}; }
UINT GetTextAlign(HDC hdc) { return {}; }
int SetROP2(HDC hdc, int rop2) { return {}; }
int GetROP2(HDC hdc) { return {}; }
int SetStretchBltMode(HDC hdc, int mode) { return {}; }
int GetStretchBltMode(HDC hdc) { return {}; }
int SetPolyFillMode(HDC hdc, int mode) { return {}; }
int GetPolyFillMode(HDC hdc) { return {}; }
BOOL SetBrushOrgEx(HDC hdc, int x, int y, POINT* oldOrg) { return {}; }
BOOL GetBrushOrgEx(HDC hdc, POINT* org) { return {}; }
BOOL SetViewportOrgEx(HDC hdc, int x, int y, POINT* oldOrg) { return {}; }
BOOL GetViewportOrgEx(HDC hdc, POINT* org) { return {}; }
BOOL OffsetViewportOrgEx(HDC hdc, int dx, int dy, POINT* oldOrg) { return {}; }
BOOL SetWindowOrgEx(HDC hdc, int x, int y, POINT* oldOrg) { return {}; }
BOOL GetWindowOrgEx(HDC hdc, POINT* org) { return {}; }
BOOL GetCurrentPositionEx(HDC hdc, POINT* pt) { return {}; }
int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) { return {}; }
int ExcludeClipRect(HDC hdc, int left, int top, int right, int bottom) { return {}; }
int SelectClipRgn(HDC hdc, HRGN rgn) { return {}; }
int GetClipBox(HDC hdc, RECT* rect) { return {}; }
int GetClipRgn(HDC hdc, HRGN rgn) { return {}; }
HGDIOBJ GetStockObject(int index) { return {}; }
BOOL DeleteObject(HGDIOBJ h) { return {}; }
DWORD GetObjectType(HGDIOBJ h) { return {}; }
int GetObject(HGDIOBJ h, int size, LPVOID out) { return {}; }
HPEN CreatePen(int style, int width, COLORREF color) { return {}; }
HPEN CreatePenIndirect(const LOGPEN* pen) { return {}; }
HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* styles) { return {}; }
HBRUSH CreateSolidBrush(COLORREF color) { return {}; }
HBRUSH CreateHatchBrush(int hatch, COLORREF color) { return {}; }
HBRUSH CreatePatternBrush(HBITMAP bitmap) { return {}; }
HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) { return {}; }
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits) { return {}; }
HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) { return {}; }
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,                          DWORD offset) { return {}; }
HBITMAP CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,                        const BITMAPINFO* info, UINT usage) { return {}; }
int GetDIBits(HDC hdc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info, UINT usage) { return {}; }
int SetDIBits(HDC hdc, HBITMAP bitmap, UINT start, UINT lines, const void* bits, const BITMAPINFO* info,               UINT usage) { return {}; }
int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,                       UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info, UINT usage) { return {}; }
int StretchDIBits(HDC hdc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,                   int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage,                   DWORD rop) { return {}; }
UINT GetDIBColorTable(HDC hdc, UINT start, UINT count, RGBQUAD* colors) { return {}; }
UINT SetDIBColorTable(HDC hdc, UINT start, UINT count, const RGBQUAD* colors) { return {}; }
LONG GetBitmapBits(HBITMAP bitmap, LONG count, LPVOID bits) { return {}; }
LONG SetBitmapBits(HBITMAP bitmap, DWORD count, const void* bits) { return {}; }
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop) { return {}; }
BOOL StretchBlt(HDC dest, int xDest, int yDest, int destWidth, int destHeight, HDC src, int xSrc, int ySrc,                 int srcWidth, int srcHeight, DWORD rop) { return {}; }
BOOL PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop) { return {}; }
BOOL MaskBlt(HDC dest, int xDest, int yDest, int width, int height, HDC src, int xSrc, int ySrc, HBITMAP mask,              int xMask, int yMask, DWORD rop) { return {}; }
BOOL PlgBlt(HDC dest, const POINT* points, HDC src, int xSrc, int ySrc, int width, int height, HBITMAP mask,             int xMask, int yMask) { return {}; }
BOOL AlphaBlend(HDC dest, int xDest, int yDest, int destWidth, int destHeight, HDC src, int xSrc, int ySrc,                 int srcWidth, int srcHeight, BLENDFUNCTION blend) { return {}; }
BOOL TransparentBlt(HDC dest, int xDest, int yDest, int destWidth, int destHeight, HDC src, int xSrc, int ySrc,                     int srcWidth, int srcHeight, UINT transparent) { return {}; }
BOOL GradientFill(HDC hdc, TRIVERTEX* vertices, ULONG vertexCount, void* mesh, ULONG meshCount, ULONG mode) { return {}; }
COLORREF GetPixel(HDC hdc, int x, int y) { return {}; }
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) { return {}; }
BOOL SetPixelV(HDC hdc, int x, int y, COLORREF color) { return {}; }
COLORREF GetNearestColor(HDC hdc, COLORREF color) { return {}; }
BOOL MoveToEx(HDC hdc, int x, int y, POINT* oldPos) { return {}; }
BOOL LineTo(HDC hdc, int x, int y) { return {}; }
BOOL Polyline(HDC hdc, const POINT* points, int count) { return {}; }
BOOL Polygon(HDC hdc, const POINT* points, int count) { return {}; }
BOOL PolyPolygon(HDC hdc, const POINT* points, const INT* counts, int polygons) { return {}; }
BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) { return {}; }
BOOL RoundRect(HDC hdc, int left, int top, int right, int bottom, int width, int height) { return {}; }
BOOL Ellipse(HDC hdc, int left, int top, int right, int bottom) { return {}; }
BOOL Arc(HDC hdc, int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd) { return {}; }
BOOL Pie(HDC hdc, int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd) { return {}; }
int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) { return {}; }
int FrameRect(HDC hdc, const RECT* rect, HBRUSH brush) { return {}; }
BOOL InvertRect(HDC hdc, const RECT* rect) { return {}; }
BOOL DrawEdge(HDC hdc, RECT* rect, UINT edge, UINT flags) { return {}; }
BOOL DrawFocusRect(HDC hdc, const RECT* rect) { return {}; }
BOOL FillRgn(HDC hdc, HRGN rgn, HBRUSH brush) { return {}; }
BOOL FrameRgn(HDC hdc, HRGN rgn, HBRUSH brush, int width, int height) { return {}; }
BOOL PaintRgn(HDC hdc, HRGN rgn) { return {}; }
HRGN CreateRectRgn(int left, int top, int right, int bottom) { return {}; }
HRGN CreateRectRgnIndirect(const RECT* rect) { return {}; }
HRGN CreateEllipticRgn(int left, int top, int right, int bottom) { return {}; }
HRGN CreateEllipticRgnIndirect(const RECT* rect) { return {}; }
HRGN CreateRoundRectRgn(int left, int top, int right, int bottom, int width, int height) { return {}; }
HRGN CreatePolygonRgn(const POINT* points, int count, int fillMode) { return {}; }
HRGN ExtCreateRegion(const XFORM* xform, DWORD count, const RGNDATA* data) { return {}; }
int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode) { return {}; }
BOOL SetRectRgn(HRGN rgn, int left, int top, int right, int bottom) { return {}; }
int OffsetRgn(HRGN rgn, int dx, int dy) { return {}; }
int GetRgnBox(HRGN rgn, RECT* rect) { return {}; }
BOOL PtInRegion(HRGN rgn, int x, int y) { return {}; }
BOOL RectInRegion(HRGN rgn, const RECT* rect) { return {}; }
BOOL EqualRgn(HRGN a, HRGN b) { return {}; }
DWORD GetRegionData(HRGN rgn, DWORD count, RGNDATA* data) { return {}; }
HPALETTE CreatePalette(const LOGPALETTE* palette) { return {}; }
HPALETTE SelectPalette(HDC hdc, HPALETTE palette, BOOL forceBackground) { return {}; }
UINT RealizePalette(HDC hdc) { return {}; }
UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries) { return {}; }
UINT SetPaletteEntries(HPALETTE palette, UINT start, UINT count, const PALETTEENTRY* entries) { return {}; }
UINT GetNearestPaletteIndex(HPALETTE palette, COLORREF color) { return {}; }
UINT GetSystemPaletteEntries(HDC hdc, UINT start, UINT count, PALETTEENTRY* entries) { return {}; }
HFONT CreateFontIndirect(const LOGFONTA* font) { return {}; }
BOOL TextOut(HDC hdc, int x, int y, const char* text, int count) { return {}; }
BOOL ExtTextOut(HDC hdc, int x, int y, UINT options, const RECT* rect, const char* text, UINT count,                 const INT* dx) { return {}; }
int DrawText(HDC hdc, const char* text, int count, RECT* rect, UINT format) { return {}; }
BOOL GetTextExtentPoint32(HDC hdc, const char* text, int count, SIZE* size) { return {}; }
BOOL GetTextMetrics(HDC hdc, TEXTMETRICA* metrics) { return {}; }
HICON CreateIconIndirect(const ICONINFO* info) { return {}; }
HICON CreateIconFromResourceEx(const BYTE* bits, DWORD size, BOOL icon, DWORD version, int cxDesired,                                int cyDesired, UINT flags) { return {}; }
HICON CreateIconFromResource(const BYTE* bits, DWORD size, BOOL icon, DWORD version) { return {}; }
BOOL GetIconInfo(HICON icon, ICONINFO* info) { return {}; }
HICON CopyIcon(HICON icon) { return {}; }
BOOL DestroyIcon(HICON icon) { return {}; }
BOOL DrawIconEx(HDC hdc, int x, int y, HICON icon, int cxWidth, int cyWidth, UINT step, HBRUSH flickerFree,                 UINT flags) { return {}; }
BOOL DrawIcon(HDC hdc, int x, int y, HICON icon) { return {}; }
