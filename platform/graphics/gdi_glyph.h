#pragma once
// Glyph metrics (GetGlyphOutline with GGO_METRICS), beside the text calls of gdi.h.
#include "platform/graphics/gdi.h"

// Glyph outlines: only the metrics (GGO_METRICS) of a glyph under the identity
// transform are given here.
struct FIXED {
  WORD fract = 0;
  short value = 0;
};
struct MAT2 {
  FIXED eM11, eM12, eM21, eM22;
};
struct GLYPHMETRICS {
  UINT gmBlackBoxX = 0;
  UINT gmBlackBoxY = 0;
  POINT gmptGlyphOrigin{};
  short gmCellIncX = 0;
  short gmCellIncY = 0;
};
static_assert(sizeof(GLYPHMETRICS) == 20);
constexpr UINT GGO_METRICS = 0;
// ch is a character of the font's code page (or a Unicode value above 255).
// The black box and the origin are those of the glyph as it is drawn, the
// escapement included; 0 on success, GDI_ERROR for other formats or a
// transform other than the identity.
DWORD GetGlyphOutline(HDC hdc, UINT ch, UINT format, GLYPHMETRICS* metrics, DWORD bufferSize, void* buffer,
                      const MAT2* matrix);
inline DWORD GetGlyphOutlineA(HDC hdc, UINT ch, UINT format, GLYPHMETRICS* metrics, DWORD bufferSize, void* buffer,
                              const MAT2* matrix) {
  return GetGlyphOutline(hdc, ch, format, metrics, bufferSize, buffer, matrix);
}
