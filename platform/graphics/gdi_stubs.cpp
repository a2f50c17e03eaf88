// Temporary: text and icon calls fail until their units land.
#include "platform/graphics/gdi.h"

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
