// Device contexts: memory DCs and the virtual screen, their drawing state, saved
// states, origins and clipping.
#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/graphics/gdi_metafile_internal.h"
#include "platform/win/system_info.h"

namespace qvgdi {

namespace {

// Stands for "no clip": bigger than any surface.
constexpr int kHuge = 1 << 27;

int ScreenBitCount() {
  int bpp = VirtualScreen().BitsPerPixel;
  return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 ? bpp : 32;
}

// The virtual screen's pixels, made when a screen DC is first asked for and
// made again when the screen's size or depth has changed and no DC holds it.
HBITMAP ScreenBitmap() {
  static HBITMAP screen = nullptr;
  TVirtualScreen vs = VirtualScreen();
  auto* cur = static_cast<BitmapObj*>(FindHeld(screen));
  if (cur && ((cur->surface.width == vs.Width && cur->surface.height == vs.Height &&
              cur->surface.bitCount == ScreenBitCount()) || cur->selections > 0))
    return screen;
  if (cur) Unregister(screen);
  auto b = std::make_unique<BitmapObj>();
  int w = std::clamp(vs.Width, 1, kMaxDimension), h = std::clamp(vs.Height, 1, kMaxDimension);
  if (!AllocateSurface(b->surface, w, h, ScreenBitCount())) AllocateSurface(b->surface, 1, 1, 32);
  b->stock = true;
  screen = static_cast<HBITMAP>(Register(std::move(b)));
  return screen;
}

void HoldState(const DCState& s) {
  Hold(s.bitmap);
  Hold(s.pen);
  Hold(s.brush);
  Hold(s.font);
  Hold(s.palette);
}

void ReleaseState(const DCState& s) {
  Release(s.bitmap);
  Release(s.pen);
  Release(s.brush);
  Release(s.font);
  Release(s.palette);
}

HDC NewDC(bool screen) {
  auto dc = std::make_unique<DCObj>();
  dc->screen = screen;
  DCState& s = dc->state;
  s.bitmap = screen ? ScreenBitmap() : DefaultBitmap();
  s.pen = static_cast<HPEN>(GetStockObject(BLACK_PEN));
  s.brush = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  s.font = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
  s.palette = DefaultPalette();
  HoldState(s);
  return static_cast<HDC>(Register(std::move(dc)));
}

void SetSelectedInto(HBITMAP bitmap, HDC dc) {
  if (auto* b = static_cast<BitmapObj*>(FindHeld(bitmap)); b && !b->stock) b->selectedInto = dc;
}

int ClipResult(DCObj* dc) { return DrawableArea(dc).Type(); }

int ClipWith(HDC hdc, int left, int top, int right, int bottom, int mode) {
  DCObj* dc = FindDC(hdc);
  if (!dc) return ERROR;
  if (dc->recorder)
    RecState(dc, mode == RGN_AND ? EMR_INTERSECTCLIPRECT : EMR_EXCLUDECLIPRECT,
             {static_cast<uint32_t>(left), static_cast<uint32_t>(top), static_cast<uint32_t>(right),
              static_cast<uint32_t>(bottom)});
  Region rect = Region::FromRect(DevX(dc, left), DevY(dc, top), DevX(dc, right), DevY(dc, bottom));
  Region current = dc->state.clip ? *dc->state.clip : Region::FromRect(-kHuge, -kHuge, kHuge, kHuge);
  dc->state.clip = Region::Combine(current, rect, mode);
  return ClipResult(dc);
}

}  // namespace

BitmapObj* DCBitmap(DCObj* dc) { return static_cast<BitmapObj*>(FindHeld(dc->state.bitmap)); }
Surface* DCSurface(DCObj* dc) { return &DCBitmap(dc)->surface; }

const std::vector<PALETTEENTRY>* DCPaletteEntries(DCObj* dc) {
  auto* p = static_cast<PaletteObj*>(FindHeld(dc->state.palette));
  return p ? &p->entries : nullptr;
}

Region DrawableArea(DCObj* dc) {
  const Surface* s = DCSurface(dc);
  Region all = Region::FromRect(0, 0, s->width, s->height);
  return dc->state.clip ? Region::Combine(all, *dc->state.clip, RGN_AND) : all;
}

bool CompatibleSurface(DCObj* dc, int width, int height, Surface& out) {
  if (!dc || dc->screen) return AllocateSurface(out, width, height, ScreenBitCount());
  const Surface* cur = DCSurface(dc);
  if (dc->state.bitmap == DefaultBitmap()) {
    if (!AllocateSurface(out, width, height, 1)) return false;
    out.mono = true;
    return true;
  }
  if (!AllocateSurface(out, width, height, cur->bitCount)) return false;
  out.mono = cur->mono;
  out.compression = cur->compression;
  std::memcpy(out.masks, cur->masks, sizeof(out.masks));
  if (cur->bitCount <= 8) {
    out.colors = cur->colors;
    out.colorsUsed = cur->colorsUsed;
  }
  return true;
}

}  // namespace qvgdi

using namespace qvgdi;

HDC CreateCompatibleDC(HDC hdc) {
  auto lock = Lock();
  if (hdc && !FindDC(hdc)) return nullptr;
  return NewDC(false);
}

BOOL DeleteDC(HDC hdc) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc) return FALSE;
  SetSelectedInto(dc->state.bitmap, nullptr);
  for (const DCState& s : dc->saved) {
    SetSelectedInto(s.bitmap, nullptr);
    ReleaseState(s);
  }
  ReleaseState(dc->state);
  Unregister(hdc);
  return TRUE;
}

namespace {
TScreenReader& ScreenReader() {
  static TScreenReader reader;
  return reader;
}
}  // namespace

void SetScreenReader(TScreenReader reader) {
  auto lock = Lock();
  ScreenReader() = std::move(reader);
}

void qvgdi::RefreshScreenArea(DCObj* dc, int x, int y, int width, int height) {
  if (!dc || !dc->screen || !ScreenReader()) return;
  Surface* s = DCSurface(dc);
  int left = std::max(x, 0), top = std::max(y, 0);
  int right = std::min<int64_t>(int64_t(x) + width, s->width), bottom = std::min<int64_t>(int64_t(y) + height, s->height);
  if (left >= right || top >= bottom) return;
  std::vector<uint32_t> pixels;
  const RECT area{left, top, right, bottom};
  const size_t w = size_t(right - left), h = size_t(bottom - top);
  // The reader may draw (the headless screen paints its forms), so it runs
  // under the drawing lock like any other caller on this thread.
  if (!ScreenReader()(area, pixels) || pixels.size() != w * h) return;
  PixelCodec codec(*s);
  for (size_t r = 0; r < h; ++r) {
    uint8_t* row = s->Row(top + int(r));
    for (size_t c = 0; c < w; ++c) {
      const uint32_t p = pixels[r * w + c];
      codec.Write(row, left + int(c), codec.FromColor(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF)));
    }
  }
}

HDC GetDC(HWND) {
  auto lock = Lock();
  return NewDC(true);
}

int ReleaseDC(HWND, HDC hdc) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !dc->screen) return 0;
  return DeleteDC(hdc);
}

int SaveDC(HDC hdc) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || dc->saved.size() >= 4096) return 0;
  if (dc->recorder) RecState(dc, EMR_SAVEDC, {});
  dc->saved.push_back(dc->state);
  HoldState(dc->state);
  return static_cast<int>(dc->saved.size());
}

BOOL RestoreDC(HDC hdc, int savedDC) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc) return FALSE;
  int depth = static_cast<int>(dc->saved.size());
  int level = savedDC < 0 ? depth + 1 + savedDC : savedDC;
  if (savedDC == 0 || level < 1 || level > depth) return FALSE;
  if (dc->recorder) RecState(dc, EMR_RESTOREDC, {static_cast<uint32_t>(level - depth - 1)});
  while (static_cast<int>(dc->saved.size()) > level) {
    ReleaseState(dc->saved.back());
    dc->saved.pop_back();
  }
  SetSelectedInto(dc->state.bitmap, nullptr);
  ReleaseState(dc->state);
  dc->state = std::move(dc->saved.back());  // the hold of the saved copy passes to the state
  dc->saved.pop_back();
  SetSelectedInto(dc->state.bitmap, hdc);
  return TRUE;
}

// Memory DCs answer for the screen they are compatible with.
int GetDeviceCaps(HDC hdc, int index) {
  auto lock = Lock();
  if (!FindDC(hdc)) return 0;
  return ScreenDeviceCaps(index);
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  GdiObject* o = Find(h);
  if (!dc || !o) return nullptr;
  DCState& s = dc->state;
  if (dc->recorder && h != s.pen && h != s.brush && h != s.font) dc->recorder->Select(h);
  auto swap = [&](auto& slot, auto handle) -> HGDIOBJ {
    auto old = slot;
    if (old == handle) return old;
    Hold(handle);
    slot = handle;
    Release(old);  // may free an object deleted while selected; old stays a valid return value
    return old;
  };
  switch (o->kind) {
    case Kind::Bitmap: {
      auto* b = static_cast<BitmapObj*>(o);
      if (dc->screen) return nullptr;
      if (!b->stock && b->selectedInto && b->selectedInto != hdc) return nullptr;
      HBITMAP old = s.bitmap;
      SetSelectedInto(old, nullptr);
      swap(s.bitmap, static_cast<HBITMAP>(h));
      SetSelectedInto(s.bitmap, hdc);
      return old;
    }
    case Kind::Pen: return swap(s.pen, static_cast<HPEN>(h));
    case Kind::Brush: return swap(s.brush, static_cast<HBRUSH>(h));
    case Kind::Font: return swap(s.font, static_cast<HFONT>(h));
    case Kind::Region: {
      int type = SelectClipRgn(hdc, static_cast<HRGN>(h));
      return reinterpret_cast<HGDIOBJ>(static_cast<intptr_t>(type));
    }
    default: return nullptr;
  }
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc) return nullptr;
  switch (type) {
    case OBJ_BITMAP: return dc->state.bitmap;
    case OBJ_PEN: return dc->state.pen;
    case OBJ_BRUSH: return dc->state.brush;
    case OBJ_FONT: return dc->state.font;
    case OBJ_PAL: return dc->state.palette;
    default: return nullptr;
  }
}

BOOL GdiFlush() { return TRUE; }

namespace {

template <class T, class F>
T SetField(HDC hdc, T fail, F field, uint32_t record = 0, uint32_t value = 0) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (dc && dc->recorder && record) RecState(dc, record, {value});
  return dc ? field(dc->state) : fail;
}

}  // namespace

COLORREF SetBkColor(HDC hdc, COLORREF color) {
  return SetField(hdc, CLR_INVALID, [&](DCState& s) { return std::exchange(s.bkColor, color & 0xFFFFFF); },
                  EMR_SETBKCOLOR, color & 0xFFFFFF);
}
COLORREF GetBkColor(HDC hdc) { return SetField(hdc, CLR_INVALID, [](DCState& s) { return s.bkColor; }); }
int SetBkMode(HDC hdc, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  return SetField(hdc, 0, [&](DCState& s) { return std::exchange(s.bkMode, mode); }, EMR_SETBKMODE,
                  static_cast<uint32_t>(mode));
}
int GetBkMode(HDC hdc) { return SetField(hdc, 0, [](DCState& s) { return s.bkMode; }); }
COLORREF SetTextColor(HDC hdc, COLORREF color) {
  return SetField(hdc, CLR_INVALID, [&](DCState& s) { return std::exchange(s.textColor, color & 0xFFFFFF); },
                  EMR_SETTEXTCOLOR, color & 0xFFFFFF);
}
COLORREF GetTextColor(HDC hdc) { return SetField(hdc, CLR_INVALID, [](DCState& s) { return s.textColor; }); }
UINT SetTextAlign(HDC hdc, UINT align) {
  return SetField(hdc, GDI_ERROR, [&](DCState& s) { return std::exchange(s.textAlign, align); }, EMR_SETTEXTALIGN,
                  align);
}
UINT GetTextAlign(HDC hdc) { return SetField(hdc, GDI_ERROR, [](DCState& s) { return s.textAlign; }); }
int SetROP2(HDC hdc, int rop2) {
  if (rop2 < R2_BLACK || rop2 > R2_WHITE) return 0;
  return SetField(hdc, 0, [&](DCState& s) { return std::exchange(s.rop2, rop2); }, EMR_SETROP2,
                  static_cast<uint32_t>(rop2));
}
int GetROP2(HDC hdc) { return SetField(hdc, 0, [](DCState& s) { return s.rop2; }); }
int SetStretchBltMode(HDC hdc, int mode) {
  if (mode < BLACKONWHITE || mode > HALFTONE) return 0;
  return SetField(hdc, 0, [&](DCState& s) { return std::exchange(s.stretchMode, mode); },
                  EMR_SETSTRETCHBLTMODE, static_cast<uint32_t>(mode));
}
int GetStretchBltMode(HDC hdc) { return SetField(hdc, 0, [](DCState& s) { return s.stretchMode; }); }
int SetPolyFillMode(HDC hdc, int mode) {
  if (mode != ALTERNATE && mode != WINDING) return 0;
  return SetField(hdc, 0, [&](DCState& s) { return std::exchange(s.polyFillMode, mode); },
                  EMR_SETPOLYFILLMODE, static_cast<uint32_t>(mode));
}
int GetPolyFillMode(HDC hdc) { return SetField(hdc, 0, [](DCState& s) { return s.polyFillMode; }); }

namespace {

BOOL SetPoint(HDC hdc, POINT DCState::*field, int x, int y, POINT* old, bool relative, uint32_t record = 0) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc) return FALSE;
  POINT& p = dc->state.*field;
  if (old) *old = p;
  if (relative) {
    p.x += x;
    p.y += y;
  } else {
    p.x = x;
    p.y = y;
  }
  if (dc->recorder && record) RecState(dc, record, {static_cast<uint32_t>(p.x), static_cast<uint32_t>(p.y)});
  return TRUE;
}

BOOL GetPoint(HDC hdc, POINT DCState::*field, POINT* out) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !out) return FALSE;
  *out = dc->state.*field;
  return TRUE;
}

}  // namespace

BOOL SetBrushOrgEx(HDC hdc, int x, int y, POINT* oldOrg) {
  return SetPoint(hdc, &DCState::brushOrg, x, y, oldOrg, false, EMR_SETBRUSHORGEX);
}
BOOL GetBrushOrgEx(HDC hdc, POINT* org) { return GetPoint(hdc, &DCState::brushOrg, org); }
BOOL SetViewportOrgEx(HDC hdc, int x, int y, POINT* oldOrg) {
  return SetPoint(hdc, &DCState::viewportOrg, x, y, oldOrg, false, EMR_SETVIEWPORTORGEX);
}
BOOL GetViewportOrgEx(HDC hdc, POINT* org) { return GetPoint(hdc, &DCState::viewportOrg, org); }
BOOL OffsetViewportOrgEx(HDC hdc, int dx, int dy, POINT* oldOrg) {
  return SetPoint(hdc, &DCState::viewportOrg, dx, dy, oldOrg, true, EMR_SETVIEWPORTORGEX);
}
BOOL SetWindowOrgEx(HDC hdc, int x, int y, POINT* oldOrg) {
  return SetPoint(hdc, &DCState::windowOrg, x, y, oldOrg, false, EMR_SETWINDOWORGEX);
}
BOOL GetWindowOrgEx(HDC hdc, POINT* org) { return GetPoint(hdc, &DCState::windowOrg, org); }
BOOL GetCurrentPositionEx(HDC hdc, POINT* pt) { return GetPoint(hdc, &DCState::position, pt); }

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
  auto lock = Lock();
  return ClipWith(hdc, left, top, right, bottom, RGN_AND);
}

int ExcludeClipRect(HDC hdc, int left, int top, int right, int bottom) {
  auto lock = Lock();
  return ClipWith(hdc, left, top, right, bottom, RGN_DIFF);
}

int SelectClipRgn(HDC hdc, HRGN rgn) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc) return ERROR;
  if (!rgn) {
    if (dc->recorder) RecSelectClip(dc, nullptr, RGN_COPY);
    dc->state.clip.reset();
    return SIMPLEREGION;
  }
  RegionObj* r = FindRegion(rgn);
  if (!r) return ERROR;
  if (dc->recorder) RecSelectClip(dc, &r->region, RGN_COPY);
  dc->state.clip = r->region;
  return ClipResult(dc);
}

int GetClipBox(HDC hdc, RECT* rect) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !rect) return ERROR;
  Region area = DrawableArea(dc);
  RECT b = area.Bounds();
  int dx = dc->state.viewportOrg.x - dc->state.windowOrg.x, dy = dc->state.viewportOrg.y - dc->state.windowOrg.y;
  *rect = area.Empty() ? RECT{} : RECT{b.left - dx, b.top - dy, b.right - dx, b.bottom - dy};
  return area.Type();
}

int GetClipRgn(HDC hdc, HRGN rgn) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  RegionObj* r = FindRegion(rgn);
  if (!dc || !r) return -1;
  if (!dc->state.clip) return 0;
  r->region = *dc->state.clip;
  return 1;
}
