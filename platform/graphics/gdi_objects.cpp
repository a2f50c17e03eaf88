// The handle table, stock objects, pens and brushes, and the calls every kind of
// object shares (DeleteObject, GetObject, GetObjectType).
#include <cstring>
#include <map>

#include "platform/graphics/gdi_internal.h"

namespace qvgdi {

namespace {

struct Table {
  std::unordered_map<uintptr_t, std::unique_ptr<GdiObject>> objects;
  uintptr_t next = 0x10000;
};

Table& TheTable() {
  static Table* table = new Table();  // lives to the end: handles may be freed from static destructors
  return *table;
}

GdiObject* FindAny(const void* handle) {
  auto& t = TheTable();
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second.get();
}

void* MakeStock(std::unique_ptr<GdiObject> o) {
  o->stock = true;
  return Register(std::move(o));
}

HBRUSH StockBrush(UINT style, COLORREF color) {
  auto b = std::make_unique<BrushObj>();
  b->style = style;
  b->color = color;
  return static_cast<HBRUSH>(MakeStock(std::move(b)));
}

HPEN StockPen(UINT style, COLORREF color) {
  auto p = std::make_unique<PenObj>();
  p->style = style;
  p->color = color;
  return static_cast<HPEN>(MakeStock(std::move(p)));
}

HFONT StockFont(const char* face, LONG height, LONG weight, BYTE pitch) {
  auto f = std::make_unique<FontObj>();
  std::strncpy(f->logFont.lfFaceName, face, LF_FACESIZE - 1);
  f->logFont.lfHeight = height;
  f->logFont.lfWeight = weight;
  f->logFont.lfPitchAndFamily = pitch;
  return static_cast<HFONT>(MakeStock(std::move(f)));
}

struct Stock {
  HGDIOBJ objects[18] = {};
  HBITMAP defaultBitmap = nullptr;
};

Stock& TheStock() {
  static Stock* stock = [] {
    auto* s = new Stock();
    s->objects[WHITE_BRUSH] = StockBrush(BS_SOLID, RGB(255, 255, 255));
    s->objects[LTGRAY_BRUSH] = StockBrush(BS_SOLID, RGB(192, 192, 192));
    s->objects[GRAY_BRUSH] = StockBrush(BS_SOLID, RGB(128, 128, 128));
    s->objects[DKGRAY_BRUSH] = StockBrush(BS_SOLID, RGB(64, 64, 64));
    s->objects[BLACK_BRUSH] = StockBrush(BS_SOLID, RGB(0, 0, 0));
    s->objects[NULL_BRUSH] = StockBrush(BS_NULL, 0);
    s->objects[WHITE_PEN] = StockPen(PS_SOLID, RGB(255, 255, 255));
    s->objects[BLACK_PEN] = StockPen(PS_SOLID, RGB(0, 0, 0));
    s->objects[NULL_PEN] = StockPen(PS_NULL, 0);
    s->objects[OEM_FIXED_FONT] = StockFont("Terminal", 12, FW_NORMAL, FIXED_PITCH);
    s->objects[ANSI_FIXED_FONT] = StockFont("Courier", 13, FW_NORMAL, FIXED_PITCH);
    s->objects[ANSI_VAR_FONT] = StockFont("MS Sans Serif", 13, FW_NORMAL, VARIABLE_PITCH);
    s->objects[SYSTEM_FONT] = StockFont("System", 16, FW_BOLD, VARIABLE_PITCH);
    s->objects[DEVICE_DEFAULT_FONT] = StockFont("System", 16, FW_BOLD, VARIABLE_PITCH);
    s->objects[SYSTEM_FIXED_FONT] = StockFont("Fixedsys", 15, FW_NORMAL, FIXED_PITCH);
    s->objects[DEFAULT_GUI_FONT] = StockFont("MS Shell Dlg", -11, FW_NORMAL, VARIABLE_PITCH);
    auto pal = std::make_unique<PaletteObj>();
    pal->entries = StaticPaletteEntries();
    s->objects[DEFAULT_PALETTE] = MakeStock(std::move(pal));
    auto bmp = std::make_unique<BitmapObj>();
    AllocateSurface(bmp->surface, 1, 1, 1);
    bmp->surface.mono = true;
    s->defaultBitmap = static_cast<HBITMAP>(MakeStock(std::move(bmp)));
    return s;
  }();
  return *stock;
}

}  // namespace

void* Register(std::unique_ptr<GdiObject> object) {
  auto& t = TheTable();
  uintptr_t key = t.next;
  t.next += 4;
  t.objects.emplace(key, std::move(object));
  return reinterpret_cast<void*>(key);
}

GdiObject* Find(const void* handle) {
  GdiObject* o = FindAny(handle);
  return o && !o->deletePending ? o : nullptr;
}

GdiObject* FindHeld(const void* handle) { return FindAny(handle); }

void Unregister(const void* handle) { TheTable().objects.erase(reinterpret_cast<uintptr_t>(handle)); }

void Hold(const void* handle) {
  if (GdiObject* o = FindAny(handle)) ++o->selections;
}

void Release(const void* handle) {
  GdiObject* o = FindAny(handle);
  if (!o) return;
  if (o->selections > 0) --o->selections;
  if (o->selections == 0 && o->deletePending) Unregister(handle);
}

HBITMAP NewBitmap(Surface surface, bool dibSection) {
  auto b = std::make_unique<BitmapObj>();
  b->surface = std::move(surface);
  b->dibSection = dibSection;
  return static_cast<HBITMAP>(Register(std::move(b)));
}

HBITMAP DefaultBitmap() { return TheStock().defaultBitmap; }
HPALETTE DefaultPalette() { return static_cast<HPALETTE>(TheStock().objects[DEFAULT_PALETTE]); }

}  // namespace qvgdi

using namespace qvgdi;

HGDIOBJ GetStockObject(int index) {
  auto lock = Lock();
  if (index < 0 || index >= 18) return nullptr;
  return TheStock().objects[index];
}

BOOL DeleteObject(HGDIOBJ h) {
  auto lock = Lock();
  GdiObject* o = Find(h);
  // DCs, icons and metafiles have release calls of their own; freeing them here
  // would leave their owners holding a dead handle.
  if (!o || o->kind == Kind::DC || o->kind == Kind::Icon || o->kind == Kind::EnhMetaFile ||
      o->kind == Kind::MetaFile)
    return FALSE;
  if (o->stock) return TRUE;
  if (o->selections > 0) {
    // A bitmap still selected into a DC cannot go; other objects are freed when
    // the DC lets go of them.
    if (o->kind == Kind::Bitmap) return FALSE;
    o->deletePending = true;
    return TRUE;
  }
  Unregister(h);
  return TRUE;
}

DWORD GetObjectType(HGDIOBJ h) {
  auto lock = Lock();
  GdiObject* o = Find(h);
  if (!o) return 0;
  switch (o->kind) {
    case Kind::DC: return static_cast<DCObj*>(o)->screen ? OBJ_DC : OBJ_MEMDC;
    case Kind::Bitmap: return OBJ_BITMAP;
    case Kind::Pen: return static_cast<PenObj*>(o)->extended ? OBJ_EXTPEN : OBJ_PEN;
    case Kind::Brush: return OBJ_BRUSH;
    case Kind::Font: return OBJ_FONT;
    case Kind::Palette: return OBJ_PAL;
    case Kind::Region: return OBJ_REGION;
    default: return 0;
  }
}

namespace {

int CopyOut(const void* from, int size, int available, LPVOID out) {
  if (!out) return size;
  if (available < size) return 0;
  std::memcpy(out, from, static_cast<size_t>(size));
  return size;
}

int GetBitmapObject(BitmapObj* b, int size, LPVOID out) {
  const Surface& s = b->surface;
  DIBSECTION ds;
  ds.dsBm.bmType = 0;
  ds.dsBm.bmWidth = s.width;
  ds.dsBm.bmHeight = s.height;
  ds.dsBm.bmPlanes = 1;
  ds.dsBm.bmBitsPixel = static_cast<WORD>(s.bitCount);
  if (!b->dibSection) {
    // Device bitmaps report WORD-aligned rows and no bits pointer.
    ds.dsBm.bmWidthBytes = static_cast<LONG>(((static_cast<int64_t>(s.width) * s.bitCount + 15) / 16) * 2);
    return CopyOut(&ds.dsBm, sizeof(BITMAP), size, out);
  }
  ds.dsBm.bmWidthBytes = static_cast<LONG>(s.stride);
  ds.dsBm.bmBits = s.bits;
  if (!out) return sizeof(DIBSECTION);
  if (size < static_cast<int>(sizeof(DIBSECTION))) return CopyOut(&ds.dsBm, sizeof(BITMAP), size, out);
  ds.dsBmih.biWidth = s.width;
  ds.dsBmih.biHeight = s.topDown ? -s.height : s.height;
  ds.dsBmih.biBitCount = static_cast<WORD>(s.bitCount);
  ds.dsBmih.biCompression = s.compression;
  ds.dsBmih.biSizeImage = static_cast<DWORD>(s.ImageBytes());
  ds.dsBmih.biClrUsed = s.bitCount <= 8 ? s.colorsUsed : 0;
  if (s.compression == BI_BITFIELDS) std::memcpy(ds.dsBitfields, s.masks, sizeof(ds.dsBitfields));
  return CopyOut(&ds, sizeof(DIBSECTION), size, out);
}

}  // namespace

int GetObject(HGDIOBJ h, int size, LPVOID out) {
  auto lock = Lock();
  GdiObject* o = Find(h);
  if (!o || size < 0) return 0;
  switch (o->kind) {
    case Kind::Bitmap: return GetBitmapObject(static_cast<BitmapObj*>(o), size, out);
    case Kind::Pen: {
      auto* p = static_cast<PenObj*>(o);
      LOGPEN lp;
      lp.lopnStyle = p->style;
      lp.lopnWidth.x = p->width;
      lp.lopnColor = p->color;
      return CopyOut(&lp, sizeof(lp), size, out);
    }
    case Kind::Brush: {
      auto* b = static_cast<BrushObj*>(o);
      LOGBRUSH lb;
      lb.lbStyle = b->style;
      lb.lbColor = b->color;
      lb.lbHatch = static_cast<ULONG_PTR>(b->hatch);
      return CopyOut(&lb, sizeof(lb), size, out);
    }
    case Kind::Font: return CopyOut(&static_cast<FontObj*>(o)->logFont, sizeof(LOGFONTA), size, out);
    case Kind::Palette: {
      WORD count = static_cast<WORD>(static_cast<PaletteObj*>(o)->entries.size());
      return CopyOut(&count, sizeof(count), size, out);
    }
    default: return 0;
  }
}

HPEN CreatePen(int style, int width, COLORREF color) {
  auto lock = Lock();
  if (style < 0 || static_cast<UINT>(style) > PS_INSIDEFRAME) return nullptr;
  auto p = std::make_unique<PenObj>();
  p->style = static_cast<UINT>(style);
  p->width = width < 1 ? 1 : width;
  // Dashes and dots exist only for one-pixel pens; wider ones draw solid.
  if (p->width > 1 && style >= static_cast<int>(PS_DASH) && style <= static_cast<int>(PS_DASHDOTDOT))
    p->style = PS_SOLID;
  p->color = color & 0xFFFFFF;
  return static_cast<HPEN>(Register(std::move(p)));
}

HPEN CreatePenIndirect(const LOGPEN* pen) {
  if (!pen) return nullptr;
  return CreatePen(static_cast<int>(pen->lopnStyle), pen->lopnWidth.x, pen->lopnColor);
}

HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* styles) {
  auto lock = Lock();
  if (!brush) return nullptr;
  UINT kind = style & PS_STYLE_MASK;
  bool geometric = (style & PS_TYPE_MASK) == PS_GEOMETRIC;
  if (kind > PS_ALTERNATE || (!geometric && width != 1) || width > (1u << 16)) return nullptr;
  if (kind == PS_USERSTYLE && (styleCount == 0 || styleCount > 16 || !styles)) return nullptr;
  if (brush->lbStyle != BS_SOLID && brush->lbStyle != BS_NULL && brush->lbStyle != BS_HATCHED) return nullptr;
  auto p = std::make_unique<PenObj>();
  p->style = style;
  if (brush->lbStyle == BS_NULL) p->style = (style & ~PS_STYLE_MASK) | PS_NULL;
  p->width = width < 1 ? 1 : static_cast<int>(width);
  p->color = brush->lbColor & 0xFFFFFF;
  p->extended = true;
  return static_cast<HPEN>(Register(std::move(p)));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  auto lock = Lock();
  auto b = std::make_unique<BrushObj>();
  b->color = color & 0xFFFFFF;
  return static_cast<HBRUSH>(Register(std::move(b)));
}

HBRUSH CreateHatchBrush(int hatch, COLORREF color) {
  auto lock = Lock();
  if (hatch < HS_HORIZONTAL || hatch > HS_DIAGCROSS) return nullptr;
  auto b = std::make_unique<BrushObj>();
  b->style = BS_HATCHED;
  b->hatch = hatch;
  b->color = color & 0xFFFFFF;
  return static_cast<HBRUSH>(Register(std::move(b)));
}

HBRUSH CreatePatternBrush(HBITMAP bitmap) {
  auto lock = Lock();
  BitmapObj* bmp = FindBitmap(bitmap);
  if (!bmp) return nullptr;
  auto b = std::make_unique<BrushObj>();
  b->style = BS_PATTERN;
  if (!CopySurface(b->pattern, bmp->surface)) return nullptr;
  return static_cast<HBRUSH>(Register(std::move(b)));
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) {
  if (!brush) return nullptr;
  switch (brush->lbStyle) {
    case BS_SOLID: return CreateSolidBrush(brush->lbColor);
    case BS_NULL: return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    case BS_HATCHED: return CreateHatchBrush(static_cast<int>(brush->lbHatch), brush->lbColor);
    case BS_PATTERN: return CreatePatternBrush(reinterpret_cast<HBITMAP>(brush->lbHatch));
    case BS_DIBPATTERNPT: {
      auto lock = Lock();
      Surface view;
      const auto* info = reinterpret_cast<const BITMAPINFO*>(brush->lbHatch);
      if (!info || !ParseDibHeader(&info->bmiHeader, view.width, view.height, view.topDown, view.bitCount))
        return nullptr;
      UINT usage = LOWORD(brush->lbColor);
      size_t tableBytes = 0;
      if (view.bitCount <= 8) {
        size_t n = info->bmiHeader.biClrUsed ? info->bmiHeader.biClrUsed : (size_t{1} << view.bitCount);
        if (n > (size_t{1} << view.bitCount)) n = size_t{1} << view.bitCount;
        tableBytes = n * (usage == DIB_PAL_COLORS ? 2 : 4);
      } else if (info->bmiHeader.biCompression == BI_BITFIELDS && info->bmiHeader.biSize == 40) {
        tableBytes = 12;
      }
      const uint8_t* bits = reinterpret_cast<const uint8_t*>(info) + info->bmiHeader.biSize + tableBytes;
      if (!SurfaceFromDib(view, info, bits, usage, nullptr)) return nullptr;
      auto b = std::make_unique<BrushObj>();
      b->style = BS_DIBPATTERNPT;
      if (!CopySurface(b->pattern, view)) return nullptr;
      return static_cast<HBRUSH>(Register(std::move(b)));
    }
    default: return nullptr;
  }
}
