// Metafile handles and playback. An enhanced metafile is kept as its bytes,
// checked once when the handle is made; playback walks the records and calls
// the drawing functions on the target DC, so what a recording DC kept draws
// exactly as the calls would have. Every count, size and offset inside a record
// is checked against the record before use; a record that fails is skipped.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <functional>
#include <optional>

#include "platform/graphics/gdi_metafile_internal.h"
#include "platform/graphics/font_engine.h"

namespace qvgdi {

struct EnhMetaObj : GdiObject {
  EnhMetaObj() : GdiObject(Kind::EnhMetaFile) {}
  std::vector<uint8_t> bytes;
  size_t end = 0;  // the records end here (nBytes, or what there is)
};

struct MetaObj : GdiObject {
  MetaObj() : GdiObject(Kind::MetaFile) {}
  std::vector<uint8_t> bytes;  // header and records, without a placeable header
};

namespace {

constexpr uint32_t kMaxPoints = 1u << 20;

EnhMetaObj* FindEmf(HENHMETAFILE h) { return FindAs<EnhMetaObj>(h, Kind::EnhMetaFile); }
MetaObj* FindWmf(HMETAFILE h) { return FindAs<MetaObj>(h, Kind::MetaFile); }

std::string Utf8Of(const std::u16string& w) { return Utf8FromUtf16(w); }

// Bytes of a DIB's header with its colour table; 0 when it is not one we read.
size_t DibInfoBytes(const uint8_t* p, size_t avail, UINT usage, size_t& bitsBytes, int rows = -1) {
  if (avail < 12) return 0;
  const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(p);
  int width, height, bitCount;
  bool topDown;
  uint32_t hs = ReadLE32(p);
  if (hs != 12 && (hs < 40 || hs > avail)) return 0;
  if (hs > avail) return 0;
  if (!ParseDibHeader(h, width, height, topDown, bitCount)) return 0;
  size_t bytes = hs;
  bool core = hs == 12;
  if (!core && h->biCompression == BI_BITFIELDS && hs == 40) bytes += 12;
  if (bitCount <= 8) {
    size_t n = core ? (size_t{1} << bitCount) : h->biClrUsed;
    if (n == 0 || n > (size_t{1} << bitCount)) n = size_t{1} << bitCount;
    bytes += n * (usage == DIB_PAL_COLORS ? 2 : core ? 3 : 4);
  }
  if (bytes > avail) return 0;
  bitsBytes = static_cast<size_t>(DibRowBytes(width, bitCount)) * static_cast<size_t>(rows < 0 ? height : rows);
  return bytes;
}

// A DIB inside a record at the given offsets, checked to lie inside it.
bool DibInRecord(const uint8_t* rec, size_t size, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits, uint32_t cbBits,
                 UINT usage, const BITMAPINFO*& info, const uint8_t*& bits, int rows = -1) {
  if (offBmi < 8 || offBits < 8 || offBmi > size || cbBmi > size - offBmi || offBits > size || cbBits > size - offBits)
    return false;
  size_t need = 0;
  size_t ib = DibInfoBytes(rec + offBmi, cbBmi, usage, need, rows);
  if (!ib || need > cbBits) return false;
  info = reinterpret_cast<const BITMAPINFO*>(rec + offBmi);
  bits = rec + offBits;
  return true;
}

// ---------------------------------------------------------------------------
// Enhanced metafile header and record walk
// ---------------------------------------------------------------------------

// Checks the header; the records then lie in [nSize, end).
bool CheckEmf(const uint8_t* p, size_t size, size_t& end) {
  if (size < 88) return false;
  if (ReadLE32(p) != EMR_HEADER || ReadLE32(p + 40) != 0x464D4520) return false;
  uint32_t nSize = ReadLE32(p + 4), nBytes = ReadLE32(p + 48);
  if (nSize < 88 || nSize % 4 || nSize > size) return false;
  end = nBytes >= nSize && nBytes <= size ? nBytes : size;
  return true;
}

// The frame of a header in pixels of the reference device (left, top, right,
// bottom; right and bottom exclusive), through the header's own device size.
struct FramePx {
  double l, t, r, b;
};
FramePx FramePixels(const ENHMETAHEADER& h) {
  double px = kRefDpi / 2540.0, py = kRefDpi / 2540.0;
  if (h.nSize >= 108 && h.szlMicrometers.cx > 0 && h.szlMicrometers.cy > 0 && h.szlDevice.cx > 0 &&
      h.szlDevice.cy > 0) {
    px = 10.0 * h.szlDevice.cx / h.szlMicrometers.cx;
    py = 10.0 * h.szlDevice.cy / h.szlMicrometers.cy;
  } else if (h.szlMillimeters.cx > 0 && h.szlMillimeters.cy > 0 && h.szlDevice.cx > 0 && h.szlDevice.cy > 0) {
    px = h.szlDevice.cx / (100.0 * h.szlMillimeters.cx);
    py = h.szlDevice.cy / (100.0 * h.szlMillimeters.cy);
  }
  return FramePx{std::round(h.rclFrame.left * px), std::round(h.rclFrame.top * py),
                 std::round(double(h.rclFrame.right) * px), std::round(double(h.rclFrame.bottom) * py)};
}

ENHMETAHEADER HeaderOf(const EnhMetaObj& e) {
  ENHMETAHEADER h{};
  size_t n = std::min<size_t>(sizeof(h), ReadLE32(e.bytes.data() + 4));
  std::memcpy(static_cast<void*>(&h), e.bytes.data(), n);
  return h;
}

HENHMETAFILE NewEmf(std::vector<uint8_t> bytes) {
  size_t end = 0;
  if (!CheckEmf(bytes.data(), bytes.size(), end)) return nullptr;
  auto o = std::make_unique<EnhMetaObj>();
  o->bytes = std::move(bytes);
  o->end = end;
  return static_cast<HENHMETAFILE>(Register(std::move(o)));
}

// Checks a Windows metafile (no placeable header): type 1 or 2, header of 9 words.
bool CheckWmf(const uint8_t* p, size_t size) {
  if (size < 18) return false;
  uint16_t type = ReadLE16(p), words = ReadLE16(p + 2);
  return (type == 1 || type == 2) && words == 9;
}

HMETAFILE NewWmf(std::vector<uint8_t> bytes) {
  if (!CheckWmf(bytes.data(), bytes.size())) return nullptr;
  auto o = std::make_unique<MetaObj>();
  o->bytes = std::move(bytes);
  return static_cast<HMETAFILE>(Register(std::move(o)));
}

// ---------------------------------------------------------------------------
// Enhanced metafile playback
// ---------------------------------------------------------------------------

struct Player {
  HDC hdc;
  std::vector<HGDIOBJ> table;
  int baseLevel = 0;  // SaveDC level at the start; the metafile cannot restore past it
  int saves = 0;
};

HGDIOBJ& Slot(Player& p, uint32_t index) {
  static HGDIOBJ none = nullptr;
  none = nullptr;
  if (index == 0 || index >= p.table.size()) return none;
  return p.table[index];
}

void Store(Player& p, uint32_t index, HGDIOBJ object) {
  if (index == 0 || index >= p.table.size()) {
    if (object) DeleteObject(object);
    return;
  }
  if (p.table[index]) DeleteObject(p.table[index]);
  p.table[index] = object;
}

HBRUSH PatternBrush(const BITMAPINFO* info, const uint8_t* bits, UINT usage, bool mono) {
  Surface view;
  if (!SurfaceFromDib(view, info, bits, usage == DIB_PAL_COLORS ? DIB_RGB_COLORS : usage, nullptr)) return nullptr;
  auto b = std::make_unique<BrushObj>();
  b->style = mono ? BS_PATTERN : BS_DIBPATTERNPT;
  if (!CopySurface(b->pattern, view)) return nullptr;
  if (mono) {
    if (b->pattern.bitCount != 1) return nullptr;
    b->pattern.mono = true;
    b->pattern.colors = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
  }
  return static_cast<HBRUSH>(Register(std::move(b)));
}

std::vector<POINT> ReadPoints(const uint8_t* p, uint32_t count, bool small) {
  std::vector<POINT> pts(count);
  for (uint32_t i = 0; i < count; ++i)
    pts[i] = small ? POINT{ReadLEI16(p + 4 * i), ReadLEI16(p + 4 * i + 2)} : POINT{ReadLEI32(p + 8 * i), ReadLEI32(p + 8 * i + 4)};
  return pts;
}

Region RegionFromData(const uint8_t* p, size_t n) {
  if (n < 32) return Region();
  uint32_t count = ReadLE32(p + 8);
  if (ReadLE32(p) != 32 || count > (n - 32) / 16) return Region();
  Region out;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* r = p + 32 + 16 * i;
    out = Region::Combine(out, Region::FromRect(ReadLEI32(r), ReadLEI32(r + 4), ReadLEI32(r + 8), ReadLEI32(r + 12)), RGN_OR);
  }
  return out;
}

HRGN RegionHandle(const Region& r) {
  auto o = std::make_unique<RegionObj>();
  o->region = r;
  return static_cast<HRGN>(Register(std::move(o)));
}

// A region in the recording device's pixels, placed where the metafile plays.
Region PlacedRegion(DCObj* dc, const Region& r) {
  const Matrix& m = dc->state.play;
  if (m == Matrix()) return r;
  Region out;
  for (const RECT& rc : r.Rects()) {
    double x0 = m.m11 * rc.left + m.dx, x1 = m.m11 * rc.right + m.dx;
    double y0 = m.m22 * rc.top + m.dy, y1 = m.m22 * rc.bottom + m.dy;
    out = Region::Combine(out,
                          Region::FromRect(RoundDevice(std::min(x0, x1)), RoundDevice(std::min(y0, y1)),
                                           RoundDevice(std::max(x0, x1)), RoundDevice(std::max(y0, y1))),
                          RGN_OR);
  }
  return out;
}

void SelectMetaClip(DCObj* dc, const Region* r, int mode) {
  DCState& s = dc->state;
  if (mode == RGN_COPY) {
    if (!r) s.clip = s.metaClip;
    else s.clip = s.metaClip ? Region::Combine(*s.metaClip, PlacedRegion(dc, *r), RGN_AND) : PlacedRegion(dc, *r);
    return;
  }
  if (!r) return;
  constexpr int kHuge = 1 << 27;
  Region current = s.clip ? *s.clip : Region::FromRect(-kHuge, -kHuge, kHuge, kHuge);
  Region next = Region::Combine(current, PlacedRegion(dc, *r), mode);
  s.clip = s.metaClip ? Region::Combine(next, *s.metaClip, RGN_AND) : next;
}

XFORM ReadXform(const uint8_t* p) {
  float f[6];
  std::memcpy(f, p, 24);
  for (float& v : f)
    if (!std::isfinite(v) || std::abs(v) > 1e7f) v = 0;
  return XFORM{f[0], f[1], f[2], f[3], f[4], f[5]};
}

void SetXformDirect(DCObj* dc, const XFORM& x, uint32_t mode) {
  Matrix m{x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy};
  DCState& s = dc->state;
  if (mode == 0) s.world = m;
  else if (mode == MWT_IDENTITY) s.world = Matrix();
  else if (mode == MWT_LEFTMULTIPLY) s.world = s.world.After(m);
  else if (mode == MWT_RIGHTMULTIPLY) s.world = m.After(s.world);
  UpdatePlain(s);
}

// A DIB of a record selected into a memory DC for the blit calls; empty when
// the DIB does not lie inside its record.
class RecordDib {
public:
  RecordDib(const uint8_t* rec, size_t size, uint32_t usage, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits,
            uint32_t cbBits) {
    const BITMAPINFO* info;
    const uint8_t* bits;
    if (!DibInRecord(rec, size, offBmi, cbBmi, offBits, cbBits, usage, info, bits)) return;
    void* dibBits = nullptr;
    FBitmap = CreateDIBSection(nullptr, info, usage, &dibBits, nullptr, 0);
    if (!FBitmap) return;
    std::memcpy(dibBits, bits, FindBitmap(FBitmap)->surface.ImageBytes());
    FDC = CreateCompatibleDC(nullptr);
    FOld = SelectObject(FDC, FBitmap);
  }
  ~RecordDib() {
    if (FDC) {
      SelectObject(FDC, FOld);
      DeleteDC(FDC);
    }
    if (FBitmap) DeleteObject(FBitmap);
  }
  RecordDib(const RecordDib&) = delete;
  RecordDib& operator=(const RecordDib&) = delete;
  HDC DC() const { return FDC; }
  HBITMAP Bitmap() const { return FBitmap; }

private:
  HBITMAP FBitmap = nullptr;
  HDC FDC = nullptr;
  HGDIOBJ FOld = nullptr;
};

// MaskBlt and PlgBlt: the source DIB (absent for operations without a
// source) and the mask DIB follow the fixed part; the mask may be absent.
void PlayMaskedBlit(Player& pl, uint32_t type, const uint8_t* rec, size_t size) {
  size_t need = type == EMR_MASKBLT ? 128 : 140;
  if (size < need) return;
  auto u = [&](size_t at) { return ReadLE32(rec + at); };
  auto s = [&](size_t at) { return ReadLEI32(rec + at); };
  size_t srcAt = type == EMR_MASKBLT ? 80 : 92;  // usage, then the DIB's place
  size_t maskAt = srcAt + 28;                    // after xMask, yMask: usage, place
  std::optional<RecordDib> src, mask;
  if (u(srcAt + 8)) src.emplace(rec, size, u(srcAt), u(srcAt + 4), u(srcAt + 8), u(srcAt + 12), u(srcAt + 16));
  if (u(maskAt + 8)) {
    mask.emplace(rec, size, u(maskAt), u(maskAt + 4), u(maskAt + 8), u(maskAt + 12), u(maskAt + 16));
    if (!mask->Bitmap()) return;
  }
  if (src && !src->DC()) return;
  HBITMAP maskBmp = mask ? mask->Bitmap() : nullptr;
  int xMask = s(srcAt + 20), yMask = s(srcAt + 24);
  if (type == EMR_MASKBLT) {
    MaskBlt(pl.hdc, s(24), s(28), s(32), s(36), src ? src->DC() : nullptr, s(44), s(48), maskBmp, xMask, yMask, u(40));
    return;
  }
  if (!src) return;
  POINT pts[3] = {{s(24), s(28)}, {s(32), s(36)}, {s(40), s(44)}};
  PlgBlt(pl.hdc, pts, src->DC(), s(48), s(52), s(56), s(60), maskBmp, xMask, yMask);
}

void PlayGradient(Player& pl, const uint8_t* rec, size_t size) {
  if (size < 36) return;
  uint32_t nVer = ReadLE32(rec + 24), nMesh = ReadLE32(rec + 28), mode = ReadLE32(rec + 32);
  if (mode > GRADIENT_FILL_TRIANGLE || nVer == 0 || nVer > (size - 36) / 16) return;
  size_t words = mode == GRADIENT_FILL_TRIANGLE ? 3 : 2;
  if (nMesh > (size - 36 - size_t{nVer} * 16) / (4 * words)) return;
  std::vector<TRIVERTEX> v(nVer);
  for (uint32_t i = 0; i < nVer; ++i) {
    const uint8_t* q = rec + 36 + 16 * i;
    v[i].x = ReadLEI32(q);
    v[i].y = ReadLEI32(q + 4);
    v[i].Red = ReadLE16(q + 8);
    v[i].Green = ReadLE16(q + 10);
    v[i].Blue = ReadLE16(q + 12);
    v[i].Alpha = ReadLE16(q + 14);
  }
  std::vector<ULONG> mesh(size_t{nMesh} * words);
  for (size_t i = 0; i < mesh.size(); ++i) mesh[i] = ReadLE32(rec + 36 + size_t{nVer} * 16 + 4 * i);
  if (!mesh.empty()) GradientFill(pl.hdc, v.data(), nVer, mesh.data(), nMesh, mode);
}

void PlayBlit(Player& pl, uint32_t type, const uint8_t* rec, size_t size) {
  size_t need = type == EMR_BITBLT ? 100 : 108;
  if (size < need) return;
  const uint8_t* p = rec + 8;
  int x = ReadLEI32(p + 16), y = ReadLEI32(p + 20), w = ReadLEI32(p + 24), h = ReadLEI32(p + 28);
  uint32_t rop = ReadLE32(p + 32);
  int xs = ReadLEI32(p + 36), ys = ReadLEI32(p + 40);
  uint32_t usage = ReadLE32(p + 72), offBmi = ReadLE32(p + 76), cbBmi = ReadLE32(p + 80), offBits = ReadLE32(p + 84),
           cbBits = ReadLE32(p + 88);
  int ws = w, hs = h;
  if (type != EMR_BITBLT) {
    ws = ReadLEI32(p + 92);
    hs = ReadLEI32(p + 96);
  }
  if (cbBmi == 0) {
    if (type == EMR_BITBLT) PatBlt(pl.hdc, x, y, w, h, rop);
    return;
  }
  RecordDib dib(rec, size, usage, offBmi, cbBmi, offBits, cbBits);
  HDC mem = dib.DC();
  if (!mem) return;
  if (type == EMR_BITBLT) {
    BitBlt(pl.hdc, x, y, w, h, mem, xs, ys, rop);
  } else if (type == EMR_STRETCHBLT) {
    StretchBlt(pl.hdc, x, y, w, h, mem, xs, ys, ws, hs, rop);
  } else if (type == EMR_TRANSPARENTBLT) {
    TransparentBlt(pl.hdc, x, y, w, h, mem, xs, ys, ws, hs, rop);
  } else {
    BLENDFUNCTION bf{static_cast<BYTE>(rop), static_cast<BYTE>(rop >> 8), static_cast<BYTE>(rop >> 16),
                     static_cast<BYTE>(rop >> 24)};
    AlphaBlend(pl.hdc, x, y, w, h, mem, xs, ys, ws, hs, bf);
  }
}

void PlayText(Player& pl, uint32_t type, const uint8_t* rec, size_t size) {
  if (size < 76) return;
  const uint8_t* p = rec + 8;
  int x = ReadLEI32(p + 28), y = ReadLEI32(p + 32);
  uint32_t n = ReadLE32(p + 36), offString = ReadLE32(p + 40), options = ReadLE32(p + 44);
  RECT r{ReadLEI32(p + 48), ReadLEI32(p + 52), ReadLEI32(p + 56), ReadLEI32(p + 60)};
  uint32_t offDx = ReadLE32(p + 64);
  size_t unit = type == EMR_EXTTEXTOUTW ? 2 : 1;
  if (n > (1u << 20) || (n && (offString > size || n * unit > size - offString))) return;
  if (offDx && (offDx > size || size_t{n} * 4 > size - offDx)) return;
  std::string text;
  std::vector<int32_t> unitDx;
  if (offDx)
    for (uint32_t i = 0; i < n; ++i) unitDx.push_back(ReadLEI32(rec + offDx + 4 * i));
  std::vector<INT> byteDx;
  if (type == EMR_EXTTEXTOUTW) {
    // Each UTF-16 unit becomes its UTF-8 bytes; a character's advance goes on its first byte.
    for (uint32_t i = 0; i < n; ++i) {
      std::u16string one(1, static_cast<char16_t>(ReadLE16(rec + offString + 2 * i)));
      if (one[0] >= 0xD800 && one[0] < 0xDC00 && i + 1 < n) {
        one.push_back(static_cast<char16_t>(ReadLE16(rec + offString + 2 * (i + 1))));
        if (one[1] >= 0xDC00 && one[1] < 0xE000) {
          std::string bytes = Utf8Of(one);
          text += bytes;
          if (offDx) {
            byteDx.push_back(unitDx[i] + unitDx[i + 1]);
            byteDx.insert(byteDx.end(), bytes.size() - 1, 0);
          }
          ++i;
          continue;
        }
        one.pop_back();
      }
      std::string bytes = Utf8Of(one);
      text += bytes;
      if (offDx) {
        byteDx.push_back(unitDx[i]);
        byteDx.insert(byteDx.end(), bytes.size() - 1, 0);
      }
    }
  } else {
    // Single-byte text of other programs: Latin-1 for us.
    for (uint32_t i = 0; i < n; ++i) {
      std::u16string one(1, static_cast<char16_t>(rec[offString + i]));
      std::string bytes = Utf8Of(one);
      text += bytes;
      if (offDx) {
        byteDx.push_back(unitDx[i]);
        byteDx.insert(byteDx.end(), bytes.size() - 1, 0);
      }
    }
  }
  bool hasRect = (options & (ETO_OPAQUE | ETO_CLIPPED)) != 0;
  // The record says whether its text went through the world transform whole
  // (the advanced mode) or only turned with it; it draws as it was drawn.
  DCObj* dc = FindDC(pl.hdc);
  const int mode = dc ? dc->state.graphicsMode : GM_COMPATIBLE;
  if (dc) dc->state.graphicsMode = ReadLE32(p + 16) == GM_ADVANCED ? GM_ADVANCED : GM_COMPATIBLE;
  ExtTextOut(pl.hdc, x, y, options, hasRect ? &r : nullptr, text.data(), static_cast<UINT>(text.size()),
             offDx ? byteDx.data() : nullptr);
  if (dc) dc->state.graphicsMode = mode;
}

void PlayCreateFont(Player& pl, const uint8_t* rec, size_t size) {
  if (size < 12 + 92) return;
  const uint8_t* p = rec + 8;
  LOGFONTA lf;
  lf.lfHeight = ReadLEI32(p + 4);
  lf.lfWidth = ReadLEI32(p + 8);
  lf.lfEscapement = ReadLEI32(p + 12);
  lf.lfOrientation = ReadLEI32(p + 16);
  lf.lfWeight = ReadLEI32(p + 20);
  ReadLogFontBytes(lf, p + 24);
  std::u16string face;
  for (int i = 0; i < LF_FACESIZE; ++i) {
    char16_t c = static_cast<char16_t>(ReadLE16(p + 32 + 2 * i));
    if (!c) break;
    face.push_back(c);
  }
  std::string utf8 = Utf8Of(face);
  utf8.resize(std::min<size_t>(utf8.size(), LF_FACESIZE - 1));
  std::memcpy(lf.lfFaceName, utf8.data(), utf8.size());
  lf.lfFaceName[utf8.size()] = 0;
  Store(pl, ReadLE32(p), CreateFontIndirect(&lf));
}

// Plays one record; false when the walk should stop (end of file).
bool PlayEmfRecord(Player& pl, const uint8_t* rec, size_t size) {
  uint32_t type = ReadLE32(rec);
  const uint8_t* p = rec + 8;
  size_t n = size - 8;
  HDC hdc = pl.hdc;
  DCObj* dc = FindDC(hdc);
  if (!dc) return false;
  auto u = [&](size_t i) { return ReadLE32(p + 4 * i); };
  auto s = [&](size_t i) { return ReadLEI32(p + 4 * i); };
  auto has = [&](size_t words) { return n >= 4 * words; };
  switch (type) {
    case EMR_EOF: return false;
    case EMR_HEADER:
    case EMR_GDICOMMENT: return true;  // comments, EMF+ included, carry nothing we draw
    case EMR_SETBKCOLOR: if (has(1)) SetBkColor(hdc, u(0)); break;
    case EMR_SETTEXTCOLOR: if (has(1)) SetTextColor(hdc, u(0)); break;
    case EMR_SETBKMODE: if (has(1)) SetBkMode(hdc, s(0)); break;
    case EMR_SETPOLYFILLMODE: if (has(1)) SetPolyFillMode(hdc, s(0)); break;
    case EMR_SETROP2: if (has(1)) SetROP2(hdc, s(0)); break;
    case EMR_SETSTRETCHBLTMODE: if (has(1)) SetStretchBltMode(hdc, s(0)); break;
    case EMR_SETTEXTALIGN: if (has(1)) SetTextAlign(hdc, u(0)); break;
    case EMR_SETMAPMODE: if (has(1)) SetMapMode(hdc, s(0)); break;
    case EMR_SETWINDOWEXTEX: if (has(2)) SetWindowExtEx(hdc, s(0), s(1), nullptr); break;
    case EMR_SETWINDOWORGEX: if (has(2)) SetWindowOrgEx(hdc, s(0), s(1), nullptr); break;
    case EMR_SETVIEWPORTEXTEX: if (has(2)) SetViewportExtEx(hdc, s(0), s(1), nullptr); break;
    case EMR_SETVIEWPORTORGEX: if (has(2)) SetViewportOrgEx(hdc, s(0), s(1), nullptr); break;
    case EMR_SCALEVIEWPORTEXTEX: if (has(4)) ScaleViewportExtEx(hdc, s(0), s(1), s(2), s(3), nullptr); break;
    case EMR_SCALEWINDOWEXTEX: if (has(4)) ScaleWindowExtEx(hdc, s(0), s(1), s(2), s(3), nullptr); break;
    case EMR_SETBRUSHORGEX: if (has(2)) SetBrushOrgEx(hdc, s(0), s(1), nullptr); break;
    case EMR_MOVETOEX: if (has(2)) MoveToEx(hdc, s(0), s(1), nullptr); break;
    case EMR_LINETO: if (has(2)) LineTo(hdc, s(0), s(1)); break;
    case EMR_SETPIXELV: if (has(3)) SetPixelV(hdc, s(0), s(1), u(2)); break;
    case EMR_BEGINPATH: BeginPath(hdc); break;
    case EMR_ENDPATH: EndPath(hdc); break;
    case EMR_ABORTPATH: AbortPath(hdc); break;
    case EMR_CLOSEFIGURE: CloseFigure(hdc); break;
    case EMR_FLATTENPATH: FlattenPath(hdc); break;
    case EMR_WIDENPATH: WidenPath(hdc); break;
    case EMR_FILLPATH: FillPath(hdc); break;
    case EMR_STROKEPATH: StrokePath(hdc); break;
    case EMR_STROKEANDFILLPATH: StrokeAndFillPath(hdc); break;
    case EMR_SELECTCLIPPATH: if (has(1)) SelectClipPath(hdc, s(0)); break;
    case EMR_SAVEDC:
      if (SaveDC(hdc)) ++pl.saves;
      break;
    case EMR_RESTOREDC: {
      if (!has(1)) break;
      int rel = s(0);
      // Only the metafile's own saves can be restored.
      if (rel < 0 && -rel <= pl.saves) {
        RestoreDC(hdc, rel);
        pl.saves += rel;
      } else if (rel > 0 && rel <= pl.saves) {
        RestoreDC(hdc, pl.baseLevel + rel);
        pl.saves = rel - 1;
      }
      break;
    }
    case EMR_SETWORLDTRANSFORM: if (has(6)) SetXformDirect(dc, ReadXform(p), 0); break;
    case EMR_MODIFYWORLDTRANSFORM: if (has(7)) SetXformDirect(dc, ReadXform(p), u(6)); break;
    case EMR_INTERSECTCLIPRECT: if (has(4)) IntersectClipRect(hdc, s(0), s(1), s(2), s(3)); break;
    case EMR_EXCLUDECLIPRECT: if (has(4)) ExcludeClipRect(hdc, s(0), s(1), s(2), s(3)); break;
    case EMR_OFFSETCLIPRGN: if (has(2)) OffsetClipRgn(hdc, s(0), s(1)); break;
    case EMR_EXTSELECTCLIPRGN: {
      if (!has(2)) break;
      uint32_t cb = u(0);
      int mode = s(1);
      if (mode < RGN_AND || mode > RGN_COPY || cb > n - 8) break;
      if (cb == 0) {
        SelectMetaClip(dc, nullptr, mode);
      } else {
        Region r = RegionFromData(p + 8, cb);
        SelectMetaClip(dc, &r, mode);
      }
      break;
    }
    case EMR_SELECTOBJECT: {
      if (!has(1)) break;
      uint32_t i = u(0);
      HGDIOBJ h = (i & kStockFlag) ? GetStockObject(static_cast<int>(i & ~kStockFlag)) : Slot(pl, i);
      if (h) SelectObject(hdc, h);
      break;
    }
    case EMR_DELETEOBJECT: {
      if (!has(1)) break;
      HGDIOBJ& slot = Slot(pl, u(0));
      if (slot) {
        DeleteObject(slot);
        slot = nullptr;
      }
      break;
    }
    case EMR_CREATEPEN:
      if (has(5)) Store(pl, u(0), CreatePen(s(1), s(2), u(4)));
      break;
    case EMR_EXTCREATEPEN: {
      if (!has(11)) break;
      uint32_t count = u(10);
      if (count > 16 || !has(11 + count)) break;
      LOGBRUSH lb{u(7), u(8), u(9)};
      if (lb.lbStyle != BS_SOLID && lb.lbStyle != BS_NULL && lb.lbStyle != BS_HATCHED) lb.lbStyle = BS_SOLID;
      std::vector<DWORD> styles(count);
      for (uint32_t i = 0; i < count; ++i) styles[i] = u(11 + i);
      HPEN pen = ExtCreatePen(u(5), u(6), &lb, count, count ? styles.data() : nullptr);
      if (!pen) pen = CreatePen(static_cast<int>(u(5) & PS_STYLE_MASK), s(6), u(8));
      Store(pl, u(0), pen);
      break;
    }
    case EMR_CREATEBRUSHINDIRECT: {
      if (!has(4)) break;
      // Only the styles whose data is in the record; pattern styles refer to memory of the recording program.
      LOGBRUSH lb{u(1), u(2), u(3)};
      if (lb.lbStyle != BS_SOLID && lb.lbStyle != BS_NULL && lb.lbStyle != BS_HATCHED) lb.lbStyle = BS_SOLID;
      HBRUSH br = CreateBrushIndirect(&lb);
      if (lb.lbStyle == BS_NULL) br = nullptr;  // the stock null brush is not ours to delete
      Store(pl, u(0), br ? br : static_cast<HBRUSH>(nullptr));
      if (lb.lbStyle == BS_NULL && u(0) < pl.table.size() && u(0)) {
        auto nb = std::make_unique<BrushObj>();
        nb->style = BS_NULL;
        pl.table[u(0)] = Register(std::move(nb));
      }
      break;
    }
    case EMR_CREATEDIBPATTERNBRUSHPT:
    case EMR_CREATEMONOBRUSH: {
      if (!has(6)) break;
      const BITMAPINFO* info;
      const uint8_t* bits;
      if (!DibInRecord(rec, size, u(2), u(3), u(4), u(5), u(1), info, bits)) break;
      Store(pl, u(0), PatternBrush(info, bits, u(1), type == EMR_CREATEMONOBRUSH));
      break;
    }
    case EMR_EXTCREATEFONTINDIRECTW: PlayCreateFont(pl, rec, size); break;
    case EMR_RECTANGLE: if (has(4)) Rectangle(hdc, s(0), s(1), s(2), s(3)); break;
    case EMR_ELLIPSE: if (has(4)) Ellipse(hdc, s(0), s(1), s(2), s(3)); break;
    case EMR_ROUNDRECT: if (has(6)) RoundRect(hdc, s(0), s(1), s(2), s(3), s(4), s(5)); break;
    case EMR_ARC: if (has(8)) Arc(hdc, s(0), s(1), s(2), s(3), s(4), s(5), s(6), s(7)); break;
    case EMR_PIE: if (has(8)) Pie(hdc, s(0), s(1), s(2), s(3), s(4), s(5), s(6), s(7)); break;
    case EMR_CHORD: if (has(8)) Chord(hdc, s(0), s(1), s(2), s(3), s(4), s(5), s(6), s(7)); break;
    case EMR_POLYLINE: case EMR_POLYGON: case EMR_POLYBEZIER: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
    case EMR_POLYLINE16: case EMR_POLYGON16: case EMR_POLYBEZIER16: case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16: {
      if (!has(5)) break;
      bool small = type >= EMR_POLYBEZIER16;
      uint32_t count = u(4);
      if (count > kMaxPoints || count > (n - 20) / (small ? 4 : 8)) break;
      std::vector<POINT> pts = ReadPoints(p + 20, count, small);
      uint32_t kind = small ? type - EMR_POLYBEZIER16 + EMR_POLYBEZIER : type;
      if (kind == EMR_POLYLINE) Polyline(hdc, pts.data(), static_cast<int>(count));
      else if (kind == EMR_POLYGON) Polygon(hdc, pts.data(), static_cast<int>(count));
      else if (kind == EMR_POLYBEZIER) PolyBezier(hdc, pts.data(), count);
      else if (kind == EMR_POLYBEZIERTO) PolyBezierTo(hdc, pts.data(), count);
      else PolylineTo(hdc, pts.data(), count);
      break;
    }
    case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16: {
      if (!has(6)) break;
      bool small = type >= EMR_POLYPOLYLINE16;
      uint32_t polys = u(4), total = u(5);
      if (polys == 0 || polys > (1u << 16) || total > kMaxPoints) break;
      if (size_t{polys} * 4 > n - 24 || size_t{total} * (small ? 4 : 8) > n - 24 - size_t{polys} * 4) break;
      std::vector<DWORD> counts(polys);
      uint64_t sum = 0;
      for (uint32_t i = 0; i < polys; ++i) sum += counts[i] = u(6 + i);
      if (sum != total) break;
      std::vector<POINT> pts = ReadPoints(p + 24 + 4 * polys, total, small);
      if (type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16) {
        std::vector<INT> ic(counts.begin(), counts.end());
        PolyPolygon(hdc, pts.data(), ic.data(), static_cast<int>(polys));
      } else {
        PolyPolyline(hdc, pts.data(), counts.data(), polys);
      }
      break;
    }
    case EMR_EXTTEXTOUTW:
    case EMR_EXTTEXTOUTA: PlayText(pl, type, rec, size); break;
    case EMR_FILLRGN: case EMR_FRAMERGN: case EMR_PAINTRGN: {
      size_t head = type == EMR_PAINTRGN ? 5 : type == EMR_FILLRGN ? 6 : 8;
      if (!has(head)) break;
      uint32_t cb = u(4);
      if (cb > n - 4 * head) break;
      Region r = RegionFromData(p + 4 * head, cb);
      HRGN rgn = RegionHandle(r);
      if (type == EMR_PAINTRGN) {
        PaintRgn(hdc, rgn);
      } else {
        uint32_t i = u(5);
        HGDIOBJ brush = (i & kStockFlag) ? GetStockObject(static_cast<int>(i & ~kStockFlag)) : Slot(pl, i);
        if (brush && type == EMR_FILLRGN) FillRgn(hdc, rgn, static_cast<HBRUSH>(brush));
        else if (brush) FrameRgn(hdc, rgn, static_cast<HBRUSH>(brush), s(6), s(7));
      }
      DeleteObject(rgn);
      break;
    }
    case EMR_BITBLT: case EMR_STRETCHBLT: case EMR_ALPHABLEND: case EMR_TRANSPARENTBLT:
      PlayBlit(pl, type, rec, size);
      break;
    case EMR_MASKBLT: case EMR_PLGBLT: PlayMaskedBlit(pl, type, rec, size); break;
    case EMR_GRADIENTFILL: PlayGradient(pl, rec, size); break;
    case EMR_STRETCHDIBITS: {
      if (size < 80) break;
      const BITMAPINFO* info;
      const uint8_t* bits;
      if (!DibInRecord(rec, size, u(10), u(11), u(12), u(13), u(14), info, bits)) break;
      StretchDIBits(hdc, s(4), s(5), s(16), s(17), s(6), s(7), s(8), s(9), bits, info, u(14), u(15));
      break;
    }
    case EMR_SETDIBITSTODEVICE: {
      if (size < 76) break;
      const BITMAPINFO* info;
      const uint8_t* bits;
      uint32_t scans = u(16);
      if (scans > (1u << 16)) break;
      if (!DibInRecord(rec, size, u(10), u(11), u(12), u(13), u(14), info, bits, static_cast<int>(scans))) break;
      SetDIBitsToDevice(hdc, s(4), s(5), u(8), u(9), s(6), s(7), u(15), scans, bits, info, u(14));
      break;
    }
    default: break;  // unknown and unsupported records are passed over
  }
  return true;
}

// Puts the DC into the state a fresh DC has, as recording DCs start.
void ResetForPlayback(HDC hdc, DCObj* dc) {
  SelectObject(hdc, GetStockObject(BLACK_PEN));
  SelectObject(hdc, GetStockObject(WHITE_BRUSH));
  SelectObject(hdc, GetStockObject(SYSTEM_FONT));
  DCState& s = dc->state;
  s.bkColor = RGB(255, 255, 255);
  s.textColor = 0;
  s.bkMode = OPAQUE;
  s.rop2 = R2_COPYPEN;
  s.stretchMode = BLACKONWHITE;
  s.polyFillMode = ALTERNATE;
  s.textAlign = 0;
  s.brushOrg = POINT{};
  s.position = POINT{};
  s.mapMode = MM_TEXT;
  s.windowOrg = s.viewportOrg = POINT{};
  s.windowExt = s.viewportExt = SIZE{1, 1};
  s.world = Matrix();
  s.path = DCPath();
  UpdatePlain(s);
}

using RecordFn = std::function<bool(const uint8_t* rec, size_t size)>;

// Walks the records after the header; a record whose size does not fit ends the walk.
void WalkEmf(const EnhMetaObj& e, const RecordFn& fn) {
  const uint8_t* base = e.bytes.data();
  size_t at = ReadLE32(base + 4);
  while (at + 8 <= e.end) {
    uint32_t size = ReadLE32(base + at + 4);
    if (size < 8 || size % 4 || size > e.end - at) break;
    if (!fn(base + at, size)) break;
    at += size;
  }
}

BOOL PlayEmf(HDC hdc, HENHMETAFILE emf, const RECT* rect, ENHMFENUMPROC proc, LPVOID data) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  EnhMetaObj* e = FindEmf(emf);
  if (!e || (!dc && !proc)) return FALSE;
  if (!dc) {
    // Enumeration without a DC only reads the records.
    WalkEmf(*e, [&](const uint8_t* rec, size_t) {
      return proc(nullptr, nullptr, reinterpret_cast<const ENHMETARECORD*>(rec), 1, reinterpret_cast<LPARAM>(data)) != 0;
    });
    return TRUE;
  }
  if (!rect) return FALSE;
  ENHMETAHEADER h = HeaderOf(*e);
  FramePx f = FramePixels(h);
  double fw = f.r - f.l, fh = f.b - f.t;
  if (fw <= 0 || fh <= 0) {
    f = FramePx{double(h.rclBounds.left), double(h.rclBounds.top), double(h.rclBounds.right) + 1,
                double(h.rclBounds.bottom) + 1};
    fw = f.r - f.l;
    fh = f.b - f.t;
  }
  if (fw <= 0 || fh <= 0) return TRUE;
  int level = SaveDC(hdc);
  if (!level) return FALSE;
  // The frame goes onto the rectangle, which is in the target's logical units.
  Matrix target = DeviceMatrix(dc);
  Matrix place{(rect->right - rect->left) / fw, 0, 0, (rect->bottom - rect->top) / fh, 0, 0};
  place.dx = rect->left - f.l * place.m11;
  place.dy = rect->top - f.t * place.m22;
  std::optional<Region> clip = dc->state.clip;
  ResetForPlayback(hdc, dc);
  dc->state.play = target.After(place);
  dc->state.metaClip = clip;
  dc->state.playing = true;
  UpdatePlain(dc->state);
  Player pl{hdc, std::vector<HGDIOBJ>(std::max<size_t>(h.nHandles, 1)), level, 0};
  std::vector<HGDIOBJ> handleTable;
  WalkEmf(*e, [&](const uint8_t* rec, size_t size) {
    if (proc) {
      handleTable = pl.table;
      int go = proc(hdc, handleTable.data(), reinterpret_cast<const ENHMETARECORD*>(rec),
                    static_cast<int>(handleTable.size()), reinterpret_cast<LPARAM>(data));
      return go != 0;
    }
    return PlayEmfRecord(pl, rec, size);
  });
  RestoreDC(hdc, level);
  for (HGDIOBJ o : pl.table)
    if (o) DeleteObject(o);
  return TRUE;
}

// ---------------------------------------------------------------------------
// Windows metafile playback
// ---------------------------------------------------------------------------

struct WmfPlayer {
  HDC hdc;
  std::vector<HGDIOBJ> objects;
  int saves = 0;
};

int AddWmfObject(WmfPlayer& w, HGDIOBJ h) {
  for (size_t i = 0; i < w.objects.size(); ++i)
    if (!w.objects[i]) {
      w.objects[i] = h;
      return static_cast<int>(i);
    }
  if (w.objects.size() >= 0xFFFF) {
    if (h) DeleteObject(h);
    return -1;
  }
  w.objects.push_back(h);
  return static_cast<int>(w.objects.size() - 1);
}

// A placeholder that holds a table slot for objects we do not draw with.
HGDIOBJ Placeholder() {
  auto b = std::make_unique<BrushObj>();
  b->style = BS_NULL;
  return Register(std::move(b));
}

std::string Latin1Text(const uint8_t* p, size_t n) {
  // WMF text is in the system code page, which is UTF-8 here; other bytes are taken as Latin-1.
  std::string s(reinterpret_cast<const char*>(p), n);
  auto cps = fontengine::DecodeText(s);
  bool valid = true;
  for (uint32_t c : cps)
    if (c == 0xFFFD) valid = false;
  if (valid) return s;
  std::u16string w;
  for (size_t i = 0; i < n; ++i) w.push_back(p[i]);
  return Utf8Of(w);
}

void PlayWmfRecord(WmfPlayer& w, uint16_t fn, const uint8_t* p, size_t n) {
  HDC hdc = w.hdc;
  size_t words = n / 2;
  auto at = [&](size_t i) { return ReadLEI16(p + 2 * i); };
  auto uat = [&](size_t i) { return ReadLE16(p + 2 * i); };
  auto color = [&](size_t i) { return static_cast<COLORREF>(uat(i) | (uint32_t{uat(i + 1)} << 16)); };
  auto dword = [&](size_t i) { return static_cast<DWORD>(uat(i) | (uint32_t{uat(i + 1)} << 16)); };
  auto need = [&](size_t k) { return words >= k; };
  auto object = [&](size_t i) -> HGDIOBJ { return i < w.objects.size() ? w.objects[i] : nullptr; };
  switch (fn) {
    case 0x0201: if (need(2)) SetBkColor(hdc, color(0)); break;
    case 0x0209: if (need(2)) SetTextColor(hdc, color(0)); break;
    case 0x0102: if (need(1)) SetBkMode(hdc, at(0)); break;
    case 0x0103: if (need(1)) SetMapMode(hdc, at(0)); break;
    case 0x0104: if (need(1)) SetROP2(hdc, at(0)); break;
    case 0x0106: if (need(1)) SetPolyFillMode(hdc, at(0)); break;
    case 0x0107: if (need(1)) SetStretchBltMode(hdc, at(0)); break;
    case 0x012E: if (need(1)) SetTextAlign(hdc, uat(0)); break;
    case 0x020B: if (need(2)) SetWindowOrgEx(hdc, at(1), at(0), nullptr); break;
    case 0x020C: if (need(2)) SetWindowExtEx(hdc, at(1), at(0), nullptr); break;
    case 0x020D: if (need(2)) SetViewportOrgEx(hdc, at(1), at(0), nullptr); break;
    case 0x020E: if (need(2)) SetViewportExtEx(hdc, at(1), at(0), nullptr); break;
    case 0x020F: if (need(2)) OffsetWindowOrgEx(hdc, at(1), at(0), nullptr); break;
    case 0x0211: if (need(2)) OffsetViewportOrgEx(hdc, at(1), at(0), nullptr); break;
    case 0x0410: if (need(4)) ScaleWindowExtEx(hdc, at(3), at(2), at(1), at(0), nullptr); break;
    case 0x0412: if (need(4)) ScaleViewportExtEx(hdc, at(3), at(2), at(1), at(0), nullptr); break;
    case 0x0213: if (need(2)) LineTo(hdc, at(1), at(0)); break;
    case 0x0214: if (need(2)) MoveToEx(hdc, at(1), at(0), nullptr); break;
    case 0x0415: if (need(4)) ExcludeClipRect(hdc, at(3), at(2), at(1), at(0)); break;
    case 0x0416: if (need(4)) IntersectClipRect(hdc, at(3), at(2), at(1), at(0)); break;
    case 0x0220: if (need(2)) OffsetClipRgn(hdc, at(1), at(0)); break;
    case 0x0817: if (need(8)) Arc(hdc, at(7), at(6), at(5), at(4), at(3), at(2), at(1), at(0)); break;
    case 0x081A: if (need(8)) Pie(hdc, at(7), at(6), at(5), at(4), at(3), at(2), at(1), at(0)); break;
    case 0x0830: if (need(8)) Chord(hdc, at(7), at(6), at(5), at(4), at(3), at(2), at(1), at(0)); break;
    case 0x0418: if (need(4)) Ellipse(hdc, at(3), at(2), at(1), at(0)); break;
    case 0x041B: if (need(4)) Rectangle(hdc, at(3), at(2), at(1), at(0)); break;
    case 0x061C: if (need(6)) RoundRect(hdc, at(5), at(4), at(3), at(2), at(1), at(0)); break;
    case 0x061D: if (need(6)) PatBlt(hdc, at(5), at(4), at(3), at(2), dword(0)); break;
    case 0x041F: if (need(4)) SetPixelV(hdc, at(3), at(2), color(0)); break;
    case 0x001E: if (SaveDC(hdc)) ++w.saves; break;
    case 0x0127: {
      if (!need(1)) break;
      int rel = at(0);
      if (rel < 0 && -rel <= w.saves) {
        RestoreDC(hdc, rel);
        w.saves += rel;
      }
      break;
    }
    case 0x0324: case 0x0325: {
      if (!need(1)) break;
      size_t count = uat(0);
      if (words < 1 + 2 * count) break;
      std::vector<POINT> pts(count);
      for (size_t i = 0; i < count; ++i) pts[i] = POINT{at(1 + 2 * i), at(2 + 2 * i)};
      if (fn == 0x0324) Polygon(hdc, pts.data(), static_cast<int>(count));
      else Polyline(hdc, pts.data(), static_cast<int>(count));
      break;
    }
    case 0x0538: {
      if (!need(1)) break;
      size_t polys = uat(0);
      if (words < 1 + polys || polys == 0) break;
      std::vector<INT> counts(polys);
      size_t total = 0;
      for (size_t i = 0; i < polys; ++i) total += counts[i] = uat(1 + i);
      if (words < 1 + polys + 2 * total) break;
      std::vector<POINT> pts(total);
      for (size_t i = 0; i < total; ++i) pts[i] = POINT{at(1 + polys + 2 * i), at(2 + polys + 2 * i)};
      PolyPolygon(hdc, pts.data(), counts.data(), static_cast<int>(polys));
      break;
    }
    case 0x0521: {
      if (!need(1)) break;
      size_t len = uat(0), strWords = (len + 1) / 2;
      if (words < 1 + strWords + 2) break;
      std::string text = Latin1Text(p + 2, len);
      TextOut(hdc, at(2 + strWords), at(1 + strWords), text.data(), static_cast<int>(text.size()));
      break;
    }
    case 0x0A32: {
      if (!need(4)) break;
      int y = at(0), x = at(1);
      size_t len = uat(2);
      UINT options = uat(3);
      size_t at2 = 4;
      RECT r{};
      bool hasRect = options & (ETO_OPAQUE | ETO_CLIPPED);
      if (hasRect) {
        if (!need(8)) break;
        r = RECT{at(4), at(5), at(6), at(7)};
        at2 = 8;
      }
      size_t strWords = (len + 1) / 2;
      if (words < at2 + strWords) break;
      std::string raw(reinterpret_cast<const char*>(p + 2 * at2), len);
      std::string text = Latin1Text(p + 2 * at2, len);
      std::vector<INT> dx;
      if (words >= at2 + strWords + len && text.size() == len) {
        for (size_t i = 0; i < len; ++i) dx.push_back(at(at2 + strWords + i));
      }
      ExtTextOut(hdc, x, y, options, hasRect ? &r : nullptr, text.data(), static_cast<UINT>(text.size()),
                 dx.empty() ? nullptr : dx.data());
      break;
    }
    case 0x012D: {
      if (!need(1)) break;
      HGDIOBJ h = object(uat(0));
      if (h) SelectObject(hdc, h);
      break;
    }
    case 0x012C: {
      if (!need(1)) break;
      auto* r = FindRegion(object(uat(0)));
      SelectClipRgn(hdc, r ? static_cast<HRGN>(object(uat(0))) : nullptr);
      break;
    }
    case 0x01F0: {
      if (!need(1)) break;
      size_t i = uat(0);
      if (i < w.objects.size() && w.objects[i]) {
        DeleteObject(w.objects[i]);
        w.objects[i] = nullptr;
      }
      break;
    }
    case 0x02FA: {
      if (!need(5)) break;
      UINT style = uat(0);
      HPEN pen = nullptr;
      if (style & 0xFF00) {
        // End caps and joins only exist on geometric pens.
        LOGBRUSH lb{BS_SOLID, color(3), 0};
        pen = ExtCreatePen(PS_GEOMETRIC | style, static_cast<DWORD>(std::max<int>(at(1), 1)), &lb, 0, nullptr);
      }
      if (!pen) pen = CreatePen(style & 0xFF, at(1), color(3));
      if (!pen) pen = CreatePen(PS_SOLID, at(1), color(3));
      AddWmfObject(w, pen);
      break;
    }
    case 0x02FC: {
      if (!need(4)) break;
      LOGBRUSH lb{uat(0), color(1), uat(3)};
      if (lb.lbStyle != BS_SOLID && lb.lbStyle != BS_HATCHED && lb.lbStyle != BS_NULL) lb.lbStyle = BS_SOLID;
      HGDIOBJ b = lb.lbStyle == BS_NULL ? Placeholder() : CreateBrushIndirect(&lb);
      AddWmfObject(w, b ? b : Placeholder());
      break;
    }
    case 0x02FB: {
      if (!need(9)) break;
      LOGFONTA lf;
      lf.lfHeight = at(0);
      lf.lfWidth = at(1);
      lf.lfEscapement = at(2);
      lf.lfOrientation = at(3);
      lf.lfWeight = at(4);
      ReadLogFontBytes(lf, p + 10);
      size_t faceBytes = std::min<size_t>(n - 18, LF_FACESIZE - 1);
      size_t len = strnlen(reinterpret_cast<const char*>(p + 18), faceBytes);
      std::string face = Latin1Text(p + 18, len);
      face.resize(std::min<size_t>(face.size(), LF_FACESIZE - 1));
      std::memcpy(lf.lfFaceName, face.data(), face.size());
      lf.lfFaceName[face.size()] = 0;
      HFONT f = CreateFontIndirect(&lf);
      AddWmfObject(w, f ? f : Placeholder());
      break;
    }
    case 0x0142: {
      if (!need(2)) break;
      UINT usage = uat(1);
      size_t bitsBytes = 0;
      size_t ib = DibInfoBytes(p + 4, n - 4, usage, bitsBytes);
      HBRUSH b = nullptr;
      if (ib && bitsBytes <= n - 4 - ib)
        b = PatternBrush(reinterpret_cast<const BITMAPINFO*>(p + 4), p + 4 + ib, usage, false);
      AddWmfObject(w, b ? static_cast<HGDIOBJ>(b) : Placeholder());
      break;
    }
    case 0x00F7: case 0x01F9: case 0x06FF: AddWmfObject(w, Placeholder()); break;
    case 0x0940: case 0x0B41: {
      // With a DIB: raster operation, source size (stretch only), source origin,
      // destination size and origin, then the DIB. Without one the record is a pattern blit.
      size_t geo = fn == 0x0B41 ? 10 : 8;
      if (!need(geo)) break;
      DWORD rop = dword(0);
      size_t i = 2;
      int sh = 0, sw = 0;
      if (fn == 0x0B41) {
        sh = at(i++);
        sw = at(i++);
      }
      int sy = at(i++), sx = at(i++);
      int dh = at(i++), dw = at(i++), dy = at(i++), dx = at(i++);
      if (fn == 0x0940) {
        sw = dw;
        sh = dh;
      }
      size_t bitsBytes = 0;
      size_t ib = n > 2 * i ? DibInfoBytes(p + 2 * i, n - 2 * i, DIB_RGB_COLORS, bitsBytes) : 0;
      if (!ib) {
        if (fn == 0x0940 && words == 9) PatBlt(hdc, at(8), at(7), at(6), at(5), rop);
        break;
      }
      if (bitsBytes > n - 2 * i - ib) break;
      const auto* info = reinterpret_cast<const BITMAPINFO*>(p + 2 * i);
      StretchDIBits(hdc, dx, dy, dw, dh, sx, info->bmiHeader.biHeight > 0 ? info->bmiHeader.biHeight - sy - sh : sy,
                    sw, sh, p + 2 * i + ib, info, DIB_RGB_COLORS, rop);
      break;
    }
    case 0x0F43: {
      if (!need(11)) break;
      DWORD rop = dword(0);
      UINT usage = uat(2);
      int sh = at(3), sw = at(4), sy = at(5), sx = at(6), dh = at(7), dw = at(8), dy = at(9), dx = at(10);
      // The DIB sits at an odd word: copied so its header is read aligned.
      std::vector<uint32_t> copy(n > 22 ? (n - 22 + 3) / 4 : 0);
      if (!copy.empty()) std::memcpy(copy.data(), p + 22, n - 22);
      const auto* dib = reinterpret_cast<const uint8_t*>(copy.data());
      size_t bitsBytes = 0;
      size_t ib = n > 22 ? DibInfoBytes(dib, n - 22, usage, bitsBytes) : 0;
      if (!ib || bitsBytes > n - 22 - ib) break;
      StretchDIBits(hdc, dx, dy, dw, dh, sx, sy, sw, sh, dib + ib, reinterpret_cast<const BITMAPINFO*>(dib), usage,
                    rop);
      break;
    }
    case 0x0D33: {
      if (!need(9)) break;
      UINT usage = uat(0);
      UINT scans = uat(1), start = uat(2);
      int sy = at(3), sx = at(4), h = at(5), wd = at(6), dy = at(7), dx = at(8);
      std::vector<uint32_t> copy(n > 18 ? (n - 18 + 3) / 4 : 0);
      if (!copy.empty()) std::memcpy(copy.data(), p + 18, n - 18);
      const auto* dib = reinterpret_cast<const uint8_t*>(copy.data());
      size_t bitsBytes = 0;
      size_t ib = n > 18 ? DibInfoBytes(dib, n - 18, usage, bitsBytes, static_cast<int>(scans)) : 0;
      if (!ib || bitsBytes > n - 18 - ib) break;
      SetDIBitsToDevice(hdc, dx, dy, static_cast<DWORD>(std::max(wd, 0)), static_cast<DWORD>(std::max(h, 0)), sx, sy,
                        start, scans, dib + ib, reinterpret_cast<const BITMAPINFO*>(dib), usage);
      break;
    }
    default: break;
  }
}

// Walks the records of a Windows metafile; stops at the end record or a bad size.
template <class Fn>
void WalkWmf(const std::vector<uint8_t>& bytes, Fn fn) {
  size_t at = size_t{ReadLE16(bytes.data() + 2)} * 2;
  while (at + 6 <= bytes.size()) {
    uint64_t size = uint64_t{ReadLE32(bytes.data() + at)} * 2;
    uint16_t func = ReadLE16(bytes.data() + at + 4);
    if (size < 6 || size > bytes.size() - at) break;
    if (func == 0) break;
    if (!fn(func, bytes.data() + at + 6, static_cast<size_t>(size - 6))) break;
    at += static_cast<size_t>(size);
  }
}

}  // namespace

void WalkWmfRecords(HMETAFILE wmf, const std::function<bool(uint16_t, const uint8_t*, size_t)>& fn) {
  MetaObj* m = FindWmf(wmf);
  if (m) WalkWmf(m->bytes, fn);
}

EmfShadow::EmfShadow(int width, int height, size_t handles) : FTable(std::max<size_t>(handles, 1)) {
  FHdc = CreateCompatibleDC(nullptr);
  FBitmap = CreateBitmap(std::clamp(width, 1, 4096), std::clamp(height, 1, 4096), 1, 1, nullptr);
  if (FHdc && FBitmap) FOld = SelectObject(FHdc, FBitmap);
}

EmfShadow::~EmfShadow() {
  if (FOld) SelectObject(FHdc, FOld);
  for (HGDIOBJ o : FTable)
    if (o) DeleteObject(o);
  if (FHdc) DeleteDC(FHdc);
  if (FBitmap) DeleteObject(FBitmap);
}

void EmfShadow::Play(const uint8_t* rec, size_t size) {
  if (!FHdc) return;
  Player pl{FHdc, std::move(FTable), 0, FSaves};
  PlayEmfRecord(pl, rec, size);
  FTable = std::move(pl.table);
  FSaves = pl.saves;
}

void WalkEmfRecords(HENHMETAFILE emf, const std::function<bool(const uint8_t*, size_t)>& fn) {
  EnhMetaObj* e = FindEmf(emf);
  if (e) WalkEmf(*e, fn);
}


}  // namespace qvgdi

using namespace qvgdi;

namespace {

std::optional<std::vector<uint8_t>> ReadWholeFile(const char* fileName) {
  if (!fileName) return std::nullopt;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return std::nullopt;
  in.seekg(0, std::ios::end);
  std::streamoff len = in.tellg();
  if (len < 0 || len > (std::streamoff{1} << 30)) return std::nullopt;
  in.seekg(0);
  std::vector<uint8_t> bytes(static_cast<size_t>(len));
  if (len && !in.read(reinterpret_cast<char*>(bytes.data()), len)) return std::nullopt;
  return bytes;
}

bool WriteWholeFile(const std::string& fileName, const std::vector<uint8_t>& bytes) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

HDC CreateEnhMetaFile(HDC reference, const char* fileName, const RECT* frame, const char* description) {
  auto lock = Lock();
  if (reference && !FindDC(reference)) return nullptr;
  std::string desc;
  if (description) {
    // Two strings, each with its zero, and a final zero.
    const char* p = description;
    size_t first = std::strlen(p);
    size_t second = std::strlen(p + first + 1);
    desc.assign(p, first + 1 + second + 1);
    desc.push_back('\0');
  }
  HDC hdc = CreateCompatibleDC(nullptr);
  DCObj* dc = FindDC(hdc);
  if (!dc) return nullptr;
  RECT f;
  if (frame) {
    f = RECT{std::min(frame->left, frame->right), std::min(frame->top, frame->bottom),
             std::max(frame->left, frame->right), std::max(frame->top, frame->bottom)};
  }
  dc->recorder.reset(new MetaRecorder(false, frame ? &f : nullptr, desc, fileName ? fileName : ""));
  return hdc;
}

HDC CreateMetaFile(const char* fileName) {
  HDC hdc = CreateEnhMetaFile(nullptr, nullptr, nullptr, nullptr);
  auto lock = Lock();
  if (DCObj* dc = FindDC(hdc)) dc->recorder.reset(new MetaRecorder(true, nullptr, "", fileName ? fileName : ""));
  return hdc;
}

HENHMETAFILE CloseEnhMetaFile(HDC hdc) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !dc->recorder || dc->recorder->WindowsFormat()) return nullptr;
  std::vector<uint8_t> bytes = dc->recorder->Finish(dc);
  std::string fileName = dc->recorder->FileName();
  DeleteDC(hdc);
  if (!fileName.empty() && !WriteWholeFile(fileName, bytes)) return nullptr;
  return NewEmf(std::move(bytes));
}

HMETAFILE CloseMetaFile(HDC hdc) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !dc->recorder || !dc->recorder->WindowsFormat()) return nullptr;
  std::string fileName = dc->recorder->FileName();
  HENHMETAFILE emf = NewEmf(dc->recorder->Finish(dc));
  DeleteDC(hdc);
  if (!emf) return nullptr;
  // The calls were kept as enhanced records; the Windows form keeps the device units.
  UINT size = GetWinMetaFileBits(emf, 0, nullptr, MM_TEXT, nullptr);
  std::vector<uint8_t> bytes(size);
  if (size) GetWinMetaFileBits(emf, size, bytes.data(), MM_TEXT, nullptr);
  DeleteEnhMetaFile(emf);
  if (!size) return nullptr;
  if (!fileName.empty() && !WriteWholeFile(fileName, bytes)) return nullptr;
  return NewWmf(std::move(bytes));
}

BOOL DeleteEnhMetaFile(HENHMETAFILE emf) {
  auto lock = Lock();
  if (!FindEmf(emf)) return FALSE;
  Unregister(emf);
  return TRUE;
}

BOOL DeleteMetaFile(HMETAFILE wmf) {
  auto lock = Lock();
  if (!FindWmf(wmf)) return FALSE;
  Unregister(wmf);
  return TRUE;
}

HENHMETAFILE CopyEnhMetaFile(HENHMETAFILE emf, const char* fileName) {
  auto lock = Lock();
  EnhMetaObj* e = FindEmf(emf);
  if (!e) return nullptr;
  if (fileName && !WriteWholeFile(fileName, e->bytes)) return nullptr;
  return NewEmf(e->bytes);
}

HMETAFILE CopyMetaFile(HMETAFILE wmf, const char* fileName) {
  auto lock = Lock();
  MetaObj* m = FindWmf(wmf);
  if (!m) return nullptr;
  if (fileName && !WriteWholeFile(fileName, m->bytes)) return nullptr;
  return NewWmf(m->bytes);
}

HENHMETAFILE GetEnhMetaFile(const char* fileName) {
  auto bytes = ReadWholeFile(fileName);
  if (!bytes) return nullptr;
  auto lock = Lock();
  return NewEmf(std::move(*bytes));
}

HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* data) {
  if (!data) return nullptr;
  auto lock = Lock();
  return NewEmf(std::vector<uint8_t>(data, data + size));
}

UINT GetEnhMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* data) {
  auto lock = Lock();
  EnhMetaObj* e = FindEmf(emf);
  if (!e) return 0;
  UINT n = static_cast<UINT>(e->bytes.size());
  if (!data) return n;
  if (size < n) return 0;
  std::memcpy(data, e->bytes.data(), n);
  return n;
}

UINT GetEnhMetaFileHeader(HENHMETAFILE emf, UINT size, ENHMETAHEADER* header) {
  auto lock = Lock();
  EnhMetaObj* e = FindEmf(emf);
  if (!e) return 0;
  UINT n = std::min<UINT>(ReadLE32(e->bytes.data() + 4), sizeof(ENHMETAHEADER));
  if (!header) return n;
  ENHMETAHEADER h = HeaderOf(*e);
  std::memcpy(header, &h, std::min<UINT>(size, sizeof(h)));
  return std::min<UINT>(size, n);
}

UINT GetEnhMetaFileDescription(HENHMETAFILE emf, UINT size, char* description) {
  auto lock = Lock();
  EnhMetaObj* e = FindEmf(emf);
  if (!e) return GDI_ERROR;
  ENHMETAHEADER h = HeaderOf(*e);
  if (!h.nDescription || !h.offDescription) return 0;
  if (h.offDescription > e->bytes.size() || size_t{h.nDescription} * 2 > e->bytes.size() - h.offDescription)
    return GDI_ERROR;
  std::u16string w;
  for (DWORD i = 0; i < h.nDescription; ++i) w.push_back(static_cast<char16_t>(ReadLE16(e->bytes.data() + h.offDescription + 2 * i)));
  std::string text = Utf8Of(w);
  if (!description) return static_cast<UINT>(text.size());
  UINT n = std::min<UINT>(size, static_cast<UINT>(text.size()));
  std::memcpy(description, text.data(), n);
  return n;
}

HMETAFILE SetMetaFileBitsEx(UINT size, const BYTE* data) {
  if (!data) return nullptr;
  auto lock = Lock();
  return NewWmf(std::vector<uint8_t>(data, data + size));
}

UINT GetMetaFileBitsEx(HMETAFILE wmf, UINT size, LPVOID data) {
  auto lock = Lock();
  MetaObj* m = FindWmf(wmf);
  if (!m) return 0;
  UINT n = static_cast<UINT>(m->bytes.size());
  if (!data) return n;
  if (size < n) return 0;
  std::memcpy(data, m->bytes.data(), n);
  return n;
}

BOOL PlayEnhMetaFile(HDC hdc, HENHMETAFILE emf, const RECT* rect) { return PlayEmf(hdc, emf, rect, nullptr, nullptr); }

BOOL EnumEnhMetaFile(HDC hdc, HENHMETAFILE emf, ENHMFENUMPROC proc, LPVOID data, const RECT* rect) {
  if (!proc) return FALSE;
  return PlayEmf(hdc, emf, rect, proc, data);
}

BOOL PlayEnhMetaFileRecord(HDC hdc, HANDLETABLE* table, const ENHMETARECORD* record, UINT objects) {
  auto lock = Lock();
  if (!FindDC(hdc) || !record || record->nSize < 8 || record->nSize % 4) return FALSE;
  Player pl{hdc, std::vector<HGDIOBJ>(table, table + (table ? objects : 0)), 0, 0};
  PlayEmfRecord(pl, reinterpret_cast<const uint8_t*>(record), record->nSize);
  if (table)
    for (UINT i = 0; i < objects; ++i) table[i] = pl.table[i];
  return TRUE;
}

BOOL PlayMetaFile(HDC hdc, HMETAFILE wmf) {
  auto lock = Lock();
  MetaObj* m = FindWmf(wmf);
  if (!FindDC(hdc) || !m) return FALSE;
  int level = SaveDC(hdc);
  WmfPlayer w{hdc, {}, 0};
  std::vector<uint8_t> bytes = m->bytes;  // the handle may go while we play
  // Records lie at word offsets: each is played from a copy on a 4-byte boundary
  // so the DIBs inside them are read aligned.
  std::vector<uint32_t> aligned;
  WalkWmf(bytes, [&](uint16_t fn, const uint8_t* p, size_t n) {
    if (aligned.size() < (n + 3) / 4) aligned.resize((n + 3) / 4);
    if (n) std::memcpy(aligned.data(), p, n);
    PlayWmfRecord(w, fn, reinterpret_cast<const uint8_t*>(aligned.data()), n);
    return true;
  });
  if (level) RestoreDC(hdc, level);
  for (HGDIOBJ o : w.objects)
    if (o) DeleteObject(o);
  return TRUE;
}
