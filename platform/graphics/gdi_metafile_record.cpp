// Recording DCs: every drawing call on a DC made by CreateEnhMetaFile or
// CreateMetaFile becomes an enhanced-metafile record (a Windows metafile is
// converted from it when the DC is closed). Objects get a table index when
// first selected; the bounds collect the device pixels each call may touch.
#include <algorithm>
#include <cmath>

#include "platform/graphics/gdi_metafile_internal.h"
#include "platform/graphics/font_engine.h"

namespace qvgdi {

void RecorderDeleter::operator()(MetaRecorder* r) const { delete r; }

namespace {

bool Fits16(const POINT* pts, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (pts[i].x < INT16_MIN || pts[i].x > INT16_MAX || pts[i].y < INT16_MIN || pts[i].y > INT16_MAX) return false;
  return true;
}

// Points in 16 bits when they all fit, else in 32; says which.
bool PutPoints(Bytes& b, const POINT* pts, size_t n) {
  bool small = Fits16(pts, n);
  for (size_t i = 0; i < n; ++i) {
    if (small) {
      b.U16(static_cast<uint16_t>(pts[i].x));
      b.U16(static_cast<uint16_t>(pts[i].y));
    } else {
      b.I32(pts[i].x);
      b.I32(pts[i].y);
    }
  }
  return small;
}

void PutRect(Bytes& b, const RECT& r) {
  b.I32(r.left);
  b.I32(r.top);
  b.I32(r.right);
  b.I32(r.bottom);
}

// How far outside its outline a shape of the current pen reaches, in device pixels.
int PenPad(DCObj* dc) {
  auto* pen = static_cast<PenObj*>(FindHeld(dc->state.pen));
  if (!pen || pen->Kind() == PS_NULL) return 0;
  int w = DevPenWidth(dc, pen->width);
  return w <= 1 ? 0 : w / 2 + 1;
}

// The stock index of a handle, or -1.
int StockIndex(HGDIOBJ h) {
  for (int i = 0; i < 18; ++i)
    if (GetStockObject(i) == h && h) return i;
  return -1;
}

}  // namespace

std::string Utf8FromUtf16(const std::u16string& w) {
  std::string out;
  for (size_t i = 0; i < w.size(); ++i) {
    uint32_t c = w[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string Utf16Of(const std::vector<uint32_t>& cps) {
  std::u16string out;
  for (uint32_t c : cps) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::u16string Utf16At(const uint8_t* p, size_t units) {
  std::u16string out(units, u'\0');
  for (size_t i = 0; i < units; ++i) out[i] = static_cast<char16_t>(ReadLE16(p + 2 * i));
  return out;
}

PackedDib PackSurface(const Surface& s, int x, int y, int w, int h, COLORREF monoZero, COLORREF monoOne) {
  PackedDib out;
  w = std::max(w, 1);
  h = std::max(h, 1);
  BITMAPINFOHEADER bih;
  bih.biWidth = w;
  bih.biHeight = h;
  bih.biBitCount = static_cast<WORD>(s.bitCount);
  bool fields = (s.bitCount == 16 || s.bitCount == 32) && s.compression == BI_BITFIELDS;
  bih.biCompression = fields ? BI_BITFIELDS : BI_RGB;
  std::vector<RGBQUAD> colors = s.colors;
  if (s.mono) {
    auto quad = [](COLORREF c) { return RGBQUAD{GetBValue(c), GetGValue(c), GetRValue(c), 0}; };
    colors = {quad(monoZero), quad(monoOne)};
  }
  if (s.bitCount <= 8) {
    colors.resize(size_t{1} << s.bitCount);
    bih.biClrUsed = static_cast<DWORD>(colors.size());
  }
  size_t stride = static_cast<size_t>(DibRowBytes(w, s.bitCount));
  bih.biSizeImage = static_cast<DWORD>(stride * static_cast<size_t>(h));
  Bytes info;
  info.Raw(&bih, sizeof(bih));
  if (fields) info.Raw(s.masks, 12);
  if (s.bitCount <= 8) info.Raw(colors.data(), colors.size() * sizeof(RGBQUAD));
  out.info = std::move(info.v);
  out.bits.assign(stride * static_cast<size_t>(h), 0);
  // Copied pixel by pixel through the source's own layout, so any bit depth packs alike.
  PixelCodec codec(s);
  Surface dest;
  dest.width = w;
  dest.height = h;
  dest.bitCount = s.bitCount;
  dest.stride = stride;
  dest.bits = out.bits.data();
  PixelCodec to(dest);
  for (int r = 0; r < h; ++r) {
    int sy = y + r;
    if (sy < 0 || sy >= s.height) continue;
    const uint8_t* srow = s.Row(sy);
    uint8_t* drow = dest.Row(r);
    for (int c = 0; c < w; ++c) {
      int sx = x + c;
      if (sx < 0 || sx >= s.width) continue;
      to.Write(drow, c, codec.Read(srow, sx));
    }
  }
  return out;
}

void MetaRecorder::Add(uint32_t type, const Bytes& params) {
  Bytes rec;
  rec.U32(type);
  size_t size = 8 + ((params.Size() + 3) & ~size_t{3});
  rec.U32(static_cast<uint32_t>(size));
  rec.Raw(params.v.data(), params.Size());
  rec.Pad4();
  FBody.insert(FBody.end(), rec.v.begin(), rec.v.end());
  ++FRecords;
}

void MetaRecorder::AddValues(uint32_t type, std::initializer_list<uint32_t> values) {
  Bytes b;
  for (uint32_t v : values) b.U32(v);
  Add(type, b);
}

void MetaRecorder::Touch(int left, int top, int right, int bottom) {
  if (right <= left || bottom <= top) return;
  if (!FTouched) {
    FBounds[0] = left;
    FBounds[1] = top;
    FBounds[2] = right;
    FBounds[3] = bottom;
    FTouched = true;
    return;
  }
  FBounds[0] = std::min<int64_t>(FBounds[0], left);
  FBounds[1] = std::min<int64_t>(FBounds[1], top);
  FBounds[2] = std::max<int64_t>(FBounds[2], right);
  FBounds[3] = std::max<int64_t>(FBounds[3], bottom);
}

void MetaRecorder::TouchPoints(DCObj* dc, const POINT* pts, size_t n, int pad) {
  if (n == 0) return;
  int l = INT32_MAX, t = INT32_MAX, r = INT32_MIN, b = INT32_MIN;
  for (size_t i = 0; i < n; ++i) {
    POINT p = DevPoint(dc, pts[i].x, pts[i].y);
    l = std::min<int>(l, p.x);
    t = std::min<int>(t, p.y);
    r = std::max<int>(r, p.x);
    b = std::max<int>(b, p.y);
  }
  Touch(l - pad, t - pad, r + pad + 1, b + pad + 1);
}

void MetaRecorder::TouchBox(DCObj* dc, int left, int top, int right, int bottom, int pad) {
  // Boxes end before their right and bottom edges.
  POINT c[4] = {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
  int l = INT32_MAX, t = INT32_MAX, r = INT32_MIN, b = INT32_MIN;
  for (const POINT& pt : c) {
    POINT p = DevPoint(dc, pt.x, pt.y);
    l = std::min<int>(l, p.x);
    t = std::min<int>(t, p.y);
    r = std::max<int>(r, p.x);
    b = std::max<int>(b, p.y);
  }
  Touch(l - pad, t - pad, r + pad, b + pad);
}

uint32_t MetaRecorder::FreeSlot() {
  for (size_t i = 1; i < FSlots.size(); ++i)
    if (!FSlots[i]) {
      FSlots[i] = true;
      return static_cast<uint32_t>(i);
    }
  FSlots.push_back(true);
  return static_cast<uint32_t>(FSlots.size() - 1);
}

void MetaRecorder::ForgetDeleted() {
  for (auto it = FObjects.begin(); it != FObjects.end();) {
    if (!FindHeld(reinterpret_cast<void*>(it->first))) {
      AddValues(EMR_DELETEOBJECT, {it->second});
      FSlots[it->second] = false;
      it = FObjects.erase(it);
    } else {
      ++it;
    }
  }
}

bool MetaRecorder::WriteCreation(GdiObject* o, uint32_t index) {
  Bytes b;
  b.U32(index);
  switch (o->kind) {
    case Kind::Pen: {
      auto* p = static_cast<PenObj*>(o);
      if (!p->extended) {
        b.U32(p->style);
        b.I32(p->width);
        b.I32(0);
        b.U32(p->color);
        Add(EMR_CREATEPEN, b);
      } else {
        for (int i = 0; i < 4; ++i) b.U32(0);  // no pattern bitmap
        b.U32(p->style);
        b.U32(static_cast<uint32_t>(p->width));
        b.U32(p->Kind() == PS_NULL ? BS_NULL : BS_SOLID);
        b.U32(p->color);
        b.U32(0);
        b.U32(0);
        Add(EMR_EXTCREATEPEN, b);
      }
      return true;
    }
    case Kind::Brush: {
      auto* br = static_cast<BrushObj*>(o);
      if (br->style == BS_SOLID || br->style == BS_HATCHED || br->style == BS_NULL) {
        b.U32(br->style);
        b.U32(br->color);
        b.U32(static_cast<uint32_t>(br->hatch));
        Add(EMR_CREATEBRUSHINDIRECT, b);
        return true;
      }
      // Pattern brushes carry their tile as a DIB; a monochrome tile takes its
      // colours from the DC when used, so it keeps two placeholder entries.
      bool mono = br->pattern.mono;
      PackedDib dib = PackSurface(br->pattern, 0, 0, br->pattern.width, br->pattern.height, RGB(0, 0, 0),
                                  RGB(255, 255, 255));
      uint32_t offBmi = 8 + 24;
      b.U32(mono ? DIB_PAL_COLORS : DIB_RGB_COLORS);
      b.U32(offBmi);
      b.U32(static_cast<uint32_t>(dib.info.size()));
      b.U32(offBmi + static_cast<uint32_t>(dib.info.size()));
      b.U32(static_cast<uint32_t>(dib.bits.size()));
      b.Raw(dib.info.data(), dib.info.size());
      b.Raw(dib.bits.data(), dib.bits.size());
      Add(mono ? EMR_CREATEMONOBRUSH : EMR_CREATEDIBPATTERNBRUSHPT, b);
      return true;
    }
    case Kind::Font: {
      auto* f = static_cast<FontObj*>(o);
      const LOGFONTA& lf = f->logFont;
      b.I32(lf.lfHeight);
      b.I32(lf.lfWidth);
      b.I32(lf.lfEscapement);
      b.I32(lf.lfOrientation);
      b.I32(lf.lfWeight);
      for (BYTE v : {lf.lfItalic, lf.lfUnderline, lf.lfStrikeOut, lf.lfCharSet, lf.lfOutPrecision,
                     lf.lfClipPrecision, lf.lfQuality, lf.lfPitchAndFamily})
        b.U8(v);
      std::u16string face = Utf16Of(fontengine::DecodeText(std::string(lf.lfFaceName, strnlen(lf.lfFaceName, LF_FACESIZE))));
      face.resize(LF_FACESIZE, u'\0');
      face[LF_FACESIZE - 1] = 0;
      for (char16_t c : face) b.U16(c);
      Add(EMR_EXTCREATEFONTINDIRECTW, b);
      return true;
    }
    default: return false;
  }
}

uint32_t MetaRecorder::ObjectIndex(HGDIOBJ h) {
  int stock = StockIndex(h);
  if (stock >= 0) return kStockFlag | static_cast<uint32_t>(stock);
  auto it = FObjects.find(reinterpret_cast<uintptr_t>(h));
  if (it != FObjects.end()) return it->second;
  ForgetDeleted();
  GdiObject* o = FindHeld(h);
  if (!o) return 0;
  uint32_t index = FreeSlot();
  if (!WriteCreation(o, index)) {
    FSlots[index] = false;
    return 0;
  }
  FObjects[reinterpret_cast<uintptr_t>(h)] = index;
  return index;
}

void MetaRecorder::Select(HGDIOBJ h) {
  GdiObject* o = FindHeld(h);
  if (!o || (o->kind != Kind::Pen && o->kind != Kind::Brush && o->kind != Kind::Font)) return;
  uint32_t index = ObjectIndex(h);
  if (index) AddValues(EMR_SELECTOBJECT, {index});
}

std::vector<uint8_t> MetaRecorder::Finish(DCObj* dc) {
  (void)dc;
  AddValues(EMR_EOF, {0, 16, 20});
  // Bounds are inclusive device pixels; a picture that draws nothing has an empty box.
  RECT bounds{0, 0, -1, -1};
  if (FTouched)
    bounds = RECT{ClampCoord(FBounds[0]), ClampCoord(FBounds[1]), ClampCoord(FBounds[2] - 1),
                  ClampCoord(FBounds[3] - 1)};
  RECT frame = FFrame;
  if (!FHasFrame) {
    // Framed by what was drawn: the pixel edges in hundredths of a millimetre.
    auto mm = [](int64_t px) { return static_cast<LONG>(std::llround(px * 2540.0 / kRefDpi)); };
    frame = FTouched ? RECT{mm(bounds.left), mm(bounds.top), mm(int64_t{bounds.right} + 1),
                            mm(int64_t{bounds.bottom} + 1)}
                     : RECT{0, 0, 0, 0};
  }
  std::u16string desc;
  if (!FDescription.empty()) desc = Utf16Of(fontengine::DecodeText(FDescription));
  ENHMETAHEADER h;
  h.rclBounds = bounds;
  h.rclFrame = frame;
  HDC screen = GetDC(nullptr);
  int screenW = GetDeviceCaps(screen, HORZRES), screenH = GetDeviceCaps(screen, VERTRES);
  ReleaseDC(nullptr, screen);
  if (screenW <= 0) screenW = 1024;
  if (screenH <= 0) screenH = 768;
  h.szlDevice = SIZE{screenW, screenH};
  h.szlMillimeters = SIZE{static_cast<LONG>(std::llround(screenW * 25.4 / kRefDpi)),
                          static_cast<LONG>(std::llround(screenH * 25.4 / kRefDpi))};
  // Micrometres to the unit, so sizes read back to the pixel through the frame.
  h.szlMicrometers = SIZE{static_cast<LONG>(std::llround(screenW * 25400.0 / kRefDpi)),
                          static_cast<LONG>(std::llround(screenH * 25400.0 / kRefDpi))};
  size_t descBytes = ((desc.size() * 2) + 3) & ~size_t{3};
  h.nDescription = static_cast<DWORD>(desc.size());
  h.offDescription = desc.empty() ? 0 : sizeof(ENHMETAHEADER);
  h.nSize = static_cast<DWORD>(sizeof(ENHMETAHEADER) + descBytes);
  h.nRecords = FRecords + 1;
  h.nHandles = static_cast<WORD>(std::min<size_t>(FSlots.size(), 0xFFFF));
  h.nBytes = static_cast<DWORD>(h.nSize + FBody.size());
  Bytes out;
  out.Raw(&h, sizeof(h));
  for (char16_t c : desc) out.U16(c);
  out.Pad4();
  out.Raw(FBody.data(), FBody.size());
  return std::move(out.v);
}

// ---------------------------------------------------------------------------
// Helpers the drawing calls use
// ---------------------------------------------------------------------------

void RecState(DCObj* dc, uint32_t type, std::initializer_list<uint32_t> values) {
  dc->recorder->AddValues(type, values);
}

BOOL RecBox(DCObj* dc, uint32_t type, int left, int top, int right, int bottom, std::initializer_list<int32_t> extra) {
  MetaRecorder& r = *dc->recorder;
  Bytes b;
  PutRect(b, RECT{left, top, right, bottom});
  for (int32_t v : extra) b.I32(v);
  r.Add(type, b);
  r.TouchBox(dc, left, top, right, bottom, PenPad(dc));
  return TRUE;
}

BOOL RecPoints(DCObj* dc, uint32_t type16, uint32_t type32, const POINT* pts, size_t n) {
  MetaRecorder& r = *dc->recorder;
  Bytes b;
  RECT box{0, 0, -1, -1};
  if (n) {
    box = RECT{pts[0].x, pts[0].y, pts[0].x, pts[0].y};
    for (size_t i = 0; i < n; ++i) {
      box.left = std::min(box.left, pts[i].x);
      box.top = std::min(box.top, pts[i].y);
      box.right = std::max(box.right, pts[i].x);
      box.bottom = std::max(box.bottom, pts[i].y);
    }
  }
  PutRect(b, box);
  b.U32(static_cast<uint32_t>(n));
  bool small = PutPoints(b, pts, n);
  r.Add(small ? type16 : type32, b);
  r.TouchPoints(dc, pts, n, PenPad(dc));
  return TRUE;
}

BOOL RecPolyPoly(DCObj* dc, uint32_t type16, uint32_t type32, const POINT* pts, const uint32_t* counts,
                 size_t polys) {
  MetaRecorder& r = *dc->recorder;
  size_t total = 0;
  for (size_t i = 0; i < polys; ++i) total += counts[i];
  Bytes b;
  RECT box{0, 0, -1, -1};
  for (size_t i = 0; i < total; ++i) {
    if (i == 0) box = RECT{pts[0].x, pts[0].y, pts[0].x, pts[0].y};
    box.left = std::min(box.left, pts[i].x);
    box.top = std::min(box.top, pts[i].y);
    box.right = std::max(box.right, pts[i].x);
    box.bottom = std::max(box.bottom, pts[i].y);
  }
  PutRect(b, box);
  b.U32(static_cast<uint32_t>(polys));
  b.U32(static_cast<uint32_t>(total));
  for (size_t i = 0; i < polys; ++i) b.U32(counts[i]);
  bool small = PutPoints(b, pts, total);
  r.Add(small ? type16 : type32, b);
  r.TouchPoints(dc, pts, total, PenPad(dc));
  return TRUE;
}

BOOL RecText(DCObj* dc, int x, int y, UINT options, const RECT* rect, const char* text, UINT count, const INT* dx) {
  MetaRecorder& r = *dc->recorder;
  std::vector<uint32_t> cps = count ? fontengine::DecodeText(std::string(text, count)) : std::vector<uint32_t>{};
  // Spacing is given per byte; each character keeps its first byte's advance.
  std::vector<int32_t> perChar;
  if (dx) {
    size_t byte = 0;
    for (uint32_t cp : cps) {
      perChar.push_back(dx[std::min<size_t>(byte, count - 1)]);
      byte += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    }
  }
  std::u16string wide = Utf16Of(cps);
  std::vector<int32_t> wideDx;
  if (dx) {
    for (size_t i = 0; i < cps.size(); ++i) {
      wideDx.push_back(perChar[i]);
      if (cps[i] >= 0x10000) wideDx.push_back(0);
    }
  }
  Bytes b;
  RECT bounds{x, y, x, y};
  b.I32(0), b.I32(0), b.I32(0), b.I32(0);  // rclBounds, filled in below
  b.U32(dc->state.graphicsMode == GM_ADVANCED ? GM_ADVANCED : GM_COMPATIBLE);
  b.F32(0);
  b.F32(0);
  b.I32(x);
  b.I32(y);
  b.U32(static_cast<uint32_t>(wide.size()));
  uint32_t offString = 8 + 16 + 12 + 40;
  size_t stringBytes = ((wide.size() * 2) + 3) & ~size_t{3};
  b.U32(wide.empty() ? 0 : offString);
  b.U32(options);
  PutRect(b, rect ? *rect : RECT{});
  b.U32(dx && !wide.empty() ? offString + static_cast<uint32_t>(stringBytes) : 0);
  for (char16_t c : wide) b.U16(c);
  b.Pad4();
  if (dx)
    for (int32_t v : wideDx) b.I32(v);
  // The box the text may cover: its run measured with the DC's font, or the
  // option rectangle, whichever is larger.
  auto* font = static_cast<FontObj*>(FindHeld(dc->state.font));
  int64_t runWidth = 0, height = 0;
  if (font) {
    for (int32_t v : perChar) runWidth += v;
    if (!dx) runWidth = static_cast<int64_t>(count) * std::max<int64_t>(std::abs(font->logFont.lfHeight), 16);
    height = std::max<int64_t>(std::abs(font->logFont.lfHeight), 16);
  }
  int64_t reach = std::max(runWidth, height) + height;
  bounds = RECT{ClampCoord(x - reach), ClampCoord(y - reach), ClampCoord(x + reach), ClampCoord(y + reach)};
  if (options & ETO_CLIPPED && rect) bounds = *rect;
  else if (options & ETO_OPAQUE && rect) {
    bounds.left = std::min(bounds.left, rect->left);
    bounds.top = std::min(bounds.top, rect->top);
    bounds.right = std::max(bounds.right, rect->right);
    bounds.bottom = std::max(bounds.bottom, rect->bottom);
  }
  std::memcpy(b.v.data(), &bounds, sizeof(bounds));
  r.Add(EMR_EXTTEXTOUTW, b);
  r.TouchBox(dc, bounds.left, bounds.top, bounds.right, bounds.bottom, 1);
  return TRUE;
}

BOOL RecRegion(DCObj* dc, uint32_t type, const Region& logical, HBRUSH brush, int w, int h) {
  MetaRecorder& r = *dc->recorder;
  std::vector<RECT> rects = logical.Rects();
  RECT box = logical.Empty() ? RECT{} : logical.Bounds();
  uint32_t brushIndex = 0;
  if (type != EMR_PAINTRGN) {
    brushIndex = r.ObjectIndex(brush);
    if (!brushIndex) return FALSE;
  }
  Bytes b;
  PutRect(b, box);
  uint32_t rgnBytes = static_cast<uint32_t>(32 + rects.size() * 16);
  b.U32(rgnBytes);
  if (type != EMR_PAINTRGN) b.U32(brushIndex);
  if (type == EMR_FRAMERGN) {
    b.I32(w);
    b.I32(h);
  }
  b.U32(32);
  b.U32(RDH_RECTANGLES);
  b.U32(static_cast<uint32_t>(rects.size()));
  b.U32(static_cast<uint32_t>(rects.size() * 16));
  PutRect(b, box);
  for (const RECT& rc : rects) PutRect(b, rc);
  r.Add(type, b);
  r.TouchBox(dc, box.left, box.top, box.right, box.bottom, 0);
  return TRUE;
}

namespace {

// A DIB's place in a record: usage, then offset and size of header and bits.
void PutDibPlace(Bytes& b, const PackedDib& dib, uint32_t at) {
  b.U32(DIB_RGB_COLORS);
  bool has = !dib.info.empty();
  b.U32(has ? at : 0);
  b.U32(static_cast<uint32_t>(dib.info.size()));
  b.U32(has ? at + static_cast<uint32_t>(dib.info.size()) : 0);
  b.U32(static_cast<uint32_t>(dib.bits.size()));
}

void PutIdentity(Bytes& b) {
  XFORM identity;
  for (float f : {identity.eM11, identity.eM12, identity.eM21, identity.eM22, identity.eDx, identity.eDy}) b.F32(f);
}

uint32_t DibBytes(const PackedDib& d) { return static_cast<uint32_t>(d.info.size() + d.bits.size()); }

void PutDib(Bytes& b, const PackedDib& d) {
  b.Raw(d.info.data(), d.info.size());
  b.Raw(d.bits.data(), d.bits.size());
}

// The mask bitmap of a masked blit: its own 1-bit pixels, 0 black and 1 white.
PackedDib MaskDib(const Surface* mask, int x, int y, int w, int h) {
  if (!mask) return PackedDib();
  return PackSurface(*mask, x, y, w, h, RGB(0, 0, 0), RGB(255, 255, 255));
}

}  // namespace

PackedDib SourceDib(DCObj* dc, DCObj* src, int xs, int ys, int ws, int hs) {
  // The source pixels as the source DC maps them.
  int sx = DevX(src, std::min(xs, xs + ws)), sy = DevY(src, std::min(ys, ys + hs));
  return PackSurface(*DCSurface(src), sx, sy, std::abs(ws), std::abs(hs), dc->state.textColor, dc->state.bkColor);
}

BOOL RecMaskBlt(DCObj* dc, int x, int y, int w, int h, DCObj* src, int xs, int ys, const Surface* mask, int xm,
                int ym, uint32_t rop) {
  MetaRecorder& r = *dc->recorder;
  PackedDib source = src ? SourceDib(dc, src, xs, ys, w, h) : PackedDib();
  PackedDib maskDib = MaskDib(mask, xm, ym, w, h);
  constexpr uint32_t kHeader = 128;
  Bytes b;
  RECT box{std::min(x, x + w), std::min(y, y + h), std::max(x, x + w), std::max(y, y + h)};
  PutRect(b, box);
  for (int v : {x, y, w, h}) b.I32(v);
  b.U32(rop);
  b.I32(0);
  b.I32(0);
  PutIdentity(b);
  b.U32(dc->state.bkColor);
  PutDibPlace(b, source, kHeader);
  b.I32(0);
  b.I32(0);
  PutDibPlace(b, maskDib, kHeader + DibBytes(source));
  PutDib(b, source);
  PutDib(b, maskDib);
  r.Add(EMR_MASKBLT, b);
  r.TouchBox(dc, box.left, box.top, box.right, box.bottom, 0);
  return TRUE;
}

BOOL RecPlgBlt(DCObj* dc, const POINT* points, DCObj* src, int xs, int ys, int w, int h, const Surface* mask, int xm,
               int ym) {
  MetaRecorder& r = *dc->recorder;
  PackedDib source = SourceDib(dc, src, xs, ys, w, h);
  PackedDib maskDib = MaskDib(mask, xm, ym, w, h);
  constexpr uint32_t kHeader = 140;
  // The fourth corner completes the parallelogram.
  POINT all[4] = {points[0], points[1], points[2],
                  POINT{points[1].x + points[2].x - points[0].x, points[1].y + points[2].y - points[0].y}};
  RECT box{all[0].x, all[0].y, all[0].x, all[0].y};
  for (const POINT& p : all) {
    box.left = std::min(box.left, p.x);
    box.top = std::min(box.top, p.y);
    box.right = std::max(box.right, p.x);
    box.bottom = std::max(box.bottom, p.y);
  }
  Bytes b;
  PutRect(b, box);
  for (int i = 0; i < 3; ++i) {
    b.I32(points[i].x);
    b.I32(points[i].y);
  }
  for (int v : {0, 0, w, h}) b.I32(v);
  PutIdentity(b);
  b.U32(dc->state.bkColor);
  PutDibPlace(b, source, kHeader);
  b.I32(0);
  b.I32(0);
  PutDibPlace(b, maskDib, kHeader + DibBytes(source));
  PutDib(b, source);
  PutDib(b, maskDib);
  r.Add(EMR_PLGBLT, b);
  r.TouchPoints(dc, all, 4, 1);
  return TRUE;
}

BOOL RecGradient(DCObj* dc, const TRIVERTEX* vertices, ULONG vertexCount, const void* mesh, ULONG meshCount,
                 ULONG mode) {
  MetaRecorder& r = *dc->recorder;
  std::vector<POINT> pts;
  for (ULONG i = 0; i < vertexCount; ++i) pts.push_back(POINT{vertices[i].x, vertices[i].y});
  RECT box{0, 0, -1, -1};
  for (size_t i = 0; i < pts.size(); ++i) {
    if (i == 0) box = RECT{pts[0].x, pts[0].y, pts[0].x, pts[0].y};
    box.left = std::min(box.left, pts[i].x);
    box.top = std::min(box.top, pts[i].y);
    box.right = std::max(box.right, pts[i].x);
    box.bottom = std::max(box.bottom, pts[i].y);
  }
  Bytes b;
  PutRect(b, box);
  b.U32(vertexCount);
  b.U32(meshCount);
  b.U32(mode);
  for (ULONG i = 0; i < vertexCount; ++i) {
    const TRIVERTEX& v = vertices[i];
    b.I32(v.x);
    b.I32(v.y);
    for (COLOR16 c : {v.Red, v.Green, v.Blue, v.Alpha}) b.U16(c);
  }
  size_t words = mode == GRADIENT_FILL_TRIANGLE ? 3 : 2;
  const auto* m = static_cast<const ULONG*>(mesh);
  for (size_t i = 0; i < size_t{meshCount} * words; ++i) b.U32(m[i]);
  r.Add(EMR_GRADIENTFILL, b);
  r.TouchPoints(dc, pts.data(), pts.size(), 1);
  return TRUE;
}

BOOL RecBlit(DCObj* dc, uint32_t type, int x, int y, int w, int h, DCObj* src, int xs, int ys, int ws, int hs,
             uint32_t rop) {
  MetaRecorder& r = *dc->recorder;
  PackedDib dib;
  if (src) dib = SourceDib(dc, src, xs, ys, ws, hs);
  Bytes b;
  RECT box{std::min(x, x + w), std::min(y, y + h), std::max(x, x + w), std::max(y, y + h)};
  PutRect(b, box);
  b.I32(x);
  b.I32(y);
  b.I32(w);
  b.I32(h);
  b.U32(rop);
  b.I32(src && ws < 0 ? std::abs(ws) : 0);
  b.I32(src && hs < 0 ? std::abs(hs) : 0);
  XFORM identity;
  for (float f : {identity.eM11, identity.eM12, identity.eM21, identity.eM22, identity.eDx, identity.eDy}) b.F32(f);
  b.U32(dc->state.bkColor);
  b.U32(DIB_RGB_COLORS);
  uint32_t header = type == EMR_BITBLT ? 100 : 108;
  b.U32(src ? header : 0);
  b.U32(static_cast<uint32_t>(dib.info.size()));
  b.U32(src ? header + static_cast<uint32_t>(dib.info.size()) : 0);
  b.U32(static_cast<uint32_t>(dib.bits.size()));
  if (type != EMR_BITBLT) {
    b.I32(ws);
    b.I32(hs);
  }
  b.Raw(dib.info.data(), dib.info.size());
  b.Raw(dib.bits.data(), dib.bits.size());
  r.Add(type, b);
  r.TouchBox(dc, box.left, box.top, box.right, box.bottom, 0);
  return TRUE;
}

BOOL RecDib(DCObj* dc, uint32_t type, const int32_t* values, size_t valueCount, const BITMAPINFO* info,
            const void* bits, UINT usage, int bitsHeight) {
  MetaRecorder& r = *dc->recorder;
  int width, height, bitCount;
  bool topDown;
  if (!info || !bits || !ParseDibHeader(&info->bmiHeader, width, height, topDown, bitCount)) return FALSE;
  size_t infoBytes = info->bmiHeader.biSize;
  bool core = infoBytes == sizeof(BITMAPCOREHEADER);
  if (!core && info->bmiHeader.biCompression == BI_BITFIELDS && infoBytes == 40) infoBytes += 12;
  if (bitCount <= 8) {
    size_t n = core ? (size_t{1} << bitCount) : info->bmiHeader.biClrUsed;
    if (n == 0 || n > (size_t{1} << bitCount)) n = size_t{1} << bitCount;
    infoBytes += n * (usage == DIB_PAL_COLORS ? 2 : core ? 3 : 4);
  }
  size_t bitsBytes = static_cast<size_t>(DibRowBytes(width, bitCount)) * static_cast<size_t>(bitsHeight);
  // values: destination x, y, then the call's own numbers; the layout differs
  // per record, so the caller gives them in record order after the bounds.
  Bytes b;
  b.I32(0), b.I32(0), b.I32(0), b.I32(0);
  uint32_t header = static_cast<uint32_t>(8 + 16 + 4 * (valueCount + 5));
  size_t usageAt = 0;
  for (size_t i = 0; i < valueCount; ++i) {
    if (i == 6) {
      // After destination and source geometry: where the DIB lies.
      b.U32(header);
      b.U32(static_cast<uint32_t>((infoBytes + 3) & ~size_t{3}));
      b.U32(header + static_cast<uint32_t>((infoBytes + 3) & ~size_t{3}));
      b.U32(static_cast<uint32_t>(bitsBytes));
      usageAt = b.Size();
      b.U32(usage);
    }
    b.I32(values[i]);
  }
  (void)usageAt;
  b.Raw(info, infoBytes);
  b.Pad4();
  b.Raw(bits, bitsBytes);
  // Destination rectangle for the bounds.
  int x = values[0], y = values[1];
  int w = type == EMR_STRETCHDIBITS ? values[valueCount - 2] : values[4];
  int h = type == EMR_STRETCHDIBITS ? values[valueCount - 1] : values[5];
  RECT box{std::min(x, x + w), std::min(y, y + h), std::max(x, x + w), std::max(y, y + h)};
  std::memcpy(b.v.data(), &box, sizeof(box));
  r.Add(type, b);
  r.TouchBox(dc, box.left, box.top, box.right, box.bottom, 0);
  return TRUE;
}

void RecSelectClip(DCObj* dc, const Region* region, int mode) {
  Bytes b;
  std::vector<RECT> rects = region ? region->Rects() : std::vector<RECT>{};
  RECT box = region && !region->Empty() ? region->Bounds() : RECT{};
  b.U32(region ? static_cast<uint32_t>(32 + rects.size() * 16) : 0);
  b.U32(static_cast<uint32_t>(mode));
  if (region) {
    b.U32(32);
    b.U32(RDH_RECTANGLES);
    b.U32(static_cast<uint32_t>(rects.size()));
    b.U32(static_cast<uint32_t>(rects.size() * 16));
    PutRect(b, box);
    for (const RECT& rc : rects) PutRect(b, rc);
  }
  dc->recorder->Add(EMR_EXTSELECTCLIPRGN, b);
}

void RecWorld(DCObj* dc, uint32_t type, const XFORM& x, uint32_t mode) {
  Bytes b;
  for (float f : {x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy}) b.F32(f);
  if (type == EMR_MODIFYWORLDTRANSFORM) b.U32(mode);
  dc->recorder->Add(type, b);
}

}  // namespace qvgdi
