// Between the two metafile formats. Enhanced to Windows metafile: each record
// becomes its 16-bit counterpart (coordinates cut to 16 bits, béziers
// flattened, region fills as pattern blits, UTF-16 text as the system's UTF-8);
// a path is built by playing its records into a shadow DC and what filling or
// stroking it paints is written as polygons and poly-lines, and so are shapes
// and lines under a world transform; what the Windows format cannot say (text,
// blits and clips under a world transform, alpha blends, clip regions and clip
// paths) is left out. Windows to enhanced: the Windows metafile is played
// into an enhanced recording DC.
#include <algorithm>
#include <cmath>
#include <set>
#include <unordered_map>

#include "platform/graphics/gdi_metafile_internal.h"

namespace qvgdi {

namespace {

int16_t Cut(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX)); }

class WmfWriter {
public:
  void Record(uint16_t fn, const std::vector<int16_t>& words, const std::vector<uint8_t>& tail = {}) {
    size_t bytes = 6 + words.size() * 2 + ((tail.size() + 1) & ~size_t{1});
    uint32_t size = static_cast<uint32_t>(bytes / 2);
    FBody.U32(size);
    FBody.U16(fn);
    for (int16_t w : words) FBody.U16(static_cast<uint16_t>(w));
    FBody.Raw(tail.data(), tail.size());
    if (tail.size() % 2) FBody.U8(0);
    FMaxRecord = std::max(FMaxRecord, size);
  }
  void Color(uint16_t fn, uint32_t c, std::vector<int16_t> before = {}) {
    before.insert(before.begin(), {static_cast<int16_t>(c & 0xFFFF), static_cast<int16_t>(c >> 16)});
    Record(fn, before);
  }
  // Objects take the lowest free slot, as players number them.
  int Create(uint16_t fn, const std::vector<int16_t>& words, const std::vector<uint8_t>& tail = {}) {
    Record(fn, words, tail);
    for (size_t i = 0; i < FSlots.size(); ++i)
      if (!FSlots[i]) {
        FSlots[i] = true;
        return static_cast<int>(i);
      }
    FSlots.push_back(true);
    return static_cast<int>(FSlots.size() - 1);
  }
  void Delete(int slot) {
    if (slot < 0 || slot >= static_cast<int>(FSlots.size()) || !FSlots[slot]) return;
    Record(0x01F0, {static_cast<int16_t>(slot)});
    FSlots[slot] = false;
  }
  std::vector<uint8_t> Finish() {
    Record(0x0000, {});
    Bytes out;
    out.U16(1);
    out.U16(9);
    out.U16(0x0300);
    out.U32(static_cast<uint32_t>((18 + FBody.Size()) / 2));
    out.U16(static_cast<uint32_t>(FSlots.size()));
    out.U32(FMaxRecord);
    out.U16(0);
    out.Raw(FBody.v.data(), FBody.Size());
    return std::move(out.v);
  }

private:
  Bytes FBody;
  uint32_t FMaxRecord = 3;
  std::vector<bool> FSlots;
};

std::vector<int16_t> Points16(const std::vector<POINT>& pts) {
  std::vector<int16_t> w{static_cast<int16_t>(pts.size())};
  for (const POINT& p : pts) {
    w.push_back(Cut(p.x));
    w.push_back(Cut(p.y));
  }
  return w;
}

// Records that set up the map, the pen, the font or the current position: the
// shadow needs them to build paths as the enhanced metafile would.
bool ShapesPaths(uint32_t type) {
  switch (type) {
    case EMR_SETMAPMODE: case EMR_SETWINDOWORGEX: case EMR_SETWINDOWEXTEX: case EMR_SETVIEWPORTORGEX:
    case EMR_SETVIEWPORTEXTEX: case EMR_SCALEVIEWPORTEXTEX: case EMR_SCALEWINDOWEXTEX: case EMR_SETWORLDTRANSFORM:
    case EMR_MODIFYWORLDTRANSFORM: case EMR_SAVEDC: case EMR_RESTOREDC: case EMR_SETPOLYFILLMODE:
    case EMR_SETTEXTALIGN: case EMR_CREATEPEN: case EMR_EXTCREATEPEN: case EMR_EXTCREATEFONTINDIRECTW:
    case EMR_SELECTOBJECT: case EMR_DELETEOBJECT: case EMR_MOVETOEX:
      return true;
    default:
      return false;
  }
}

// Shapes and lines, and whether they are filled.
bool IsShape(uint32_t type, bool& filled) {
  switch (type) {
    case EMR_RECTANGLE: case EMR_ELLIPSE: case EMR_ROUNDRECT: case EMR_PIE: case EMR_CHORD: case EMR_POLYGON:
    case EMR_POLYGON16: case EMR_POLYPOLYGON: case EMR_POLYPOLYGON16:
      filled = true;
      return true;
    case EMR_ARC: case EMR_LINETO: case EMR_POLYLINE: case EMR_POLYLINE16: case EMR_POLYBEZIER:
    case EMR_POLYBEZIER16: case EMR_POLYPOLYLINE: case EMR_POLYPOLYLINE16: case EMR_POLYLINETO:
    case EMR_POLYLINETO16: case EMR_POLYBEZIERTO: case EMR_POLYBEZIERTO16:
      filled = false;
      return true;
    default:
      return false;
  }
}

struct Converter {
  WmfWriter w;
  EmfShadow* shadow = nullptr;
  std::unordered_map<uint32_t, int> slots;  // enhanced index -> Windows slot
  std::unordered_map<uint32_t, int> stock;  // stock number -> Windows slot
  int currentBrush = -1;
  POINT position{};

  void CreateFromObject(uint32_t index, GdiObject* o) {
    int slot = -1;
    if (o->kind == Kind::Pen) {
      auto* p = static_cast<PenObj*>(o);
      slot = w.Create(0x02FA, {static_cast<int16_t>(p->style & 0xFFFF), Cut(p->width), 0,
                               static_cast<int16_t>(p->color & 0xFFFF), static_cast<int16_t>(p->color >> 16)});
    } else if (o->kind == Kind::Brush) {
      auto* b = static_cast<BrushObj*>(o);
      slot = w.Create(0x02FC, {static_cast<int16_t>(b->style), static_cast<int16_t>(b->color & 0xFFFF),
                               static_cast<int16_t>(b->color >> 16), static_cast<int16_t>(b->hatch)});
    } else if (o->kind == Kind::Font) {
      slot = Font(static_cast<FontObj*>(o)->logFont);
    }
    if (slot >= 0) stock[index] = slot;
  }

  int Font(const LOGFONTA& lf) {
    std::vector<uint8_t> tail{lf.lfItalic, lf.lfUnderline, lf.lfStrikeOut, lf.lfCharSet, lf.lfOutPrecision,
                              lf.lfClipPrecision, lf.lfQuality, lf.lfPitchAndFamily};
    size_t len = strnlen(lf.lfFaceName, LF_FACESIZE);
    tail.insert(tail.end(), lf.lfFaceName, lf.lfFaceName + len);
    tail.resize(8 + LF_FACESIZE, 0);
    return w.Create(0x02FB, {Cut(lf.lfHeight), Cut(lf.lfWidth), Cut(lf.lfEscapement), Cut(lf.lfOrientation),
                             Cut(lf.lfWeight)},
                    tail);
  }

  int SlotOf(uint32_t index) {
    if (index & kStockFlag) {
      uint32_t n = index & ~kStockFlag;
      auto it = stock.find(n);
      if (it != stock.end()) return it->second;
      GdiObject* o = FindHeld(GetStockObject(static_cast<int>(n)));
      if (!o) return -1;
      CreateFromObject(n, o);
      it = stock.find(n);
      return it == stock.end() ? -1 : it->second;
    }
    auto it = slots.find(index);
    return it == slots.end() ? -1 : it->second;
  }

  void Replace(uint32_t index, int slot) {
    auto it = slots.find(index);
    if (it != slots.end()) w.Delete(it->second);
    slots[index] = slot;
  }

  void Select(int slot, bool isBrush) {
    if (slot < 0) return;
    w.Record(0x012D, {static_cast<int16_t>(slot)});
    if (isBrush) currentBrush = slot;
  }

  // A region painted as pattern blits with a brush, the selected brush put back afterwards.
  void PaintRects(const std::vector<RECT>& rects, int brushSlot) {
    int keep = currentBrush;
    if (brushSlot >= 0) w.Record(0x012D, {static_cast<int16_t>(brushSlot)});
    for (const RECT& r : rects)
      w.Record(0x061D, {static_cast<int16_t>(PATCOPY & 0xFFFF), static_cast<int16_t>(PATCOPY >> 16),
                        Cut(int64_t{r.bottom} - r.top), Cut(int64_t{r.right} - r.left), Cut(r.top), Cut(r.left)});
    if (brushSlot >= 0 && keep >= 0) w.Record(0x012D, {static_cast<int16_t>(keep)});
  }

  void Dib(uint16_t fn, std::vector<int16_t> words, const uint8_t* rec, size_t size, uint32_t offBmi, uint32_t cbBmi,
           uint32_t offBits, uint32_t cbBits) {
    if (offBmi > size || cbBmi > size - offBmi || offBits > size || cbBits > size - offBits) return;
    std::vector<uint8_t> tail(rec + offBmi, rec + offBmi + cbBmi);
    tail.insert(tail.end(), rec + offBits, rec + offBits + cbBits);
    w.Record(fn, words, tail);
  }

  // The shadow's path in the Windows metafile's logical units: device points
  // back through the window and viewport (the Windows format has no world
  // transform, so that is all its player will apply).
  bool PathFigures(std::vector<std::vector<POINT>>& figures, std::vector<bool>& closed) {
    DCObj* dc = shadow->DC();
    if (!dc || dc->state.path.open || !dc->state.path.ready) return false;
    Matrix m = PageMatrix(dc->state);
    double det = m.m11 * m.m22 - m.m12 * m.m21;
    if (det == 0) return false;
    for (const PathFigure& f : dc->state.path.figures) {
      if (f.points.size() < 2 || f.points.size() > 0x7FFF || figures.size() >= 0x7FFF) continue;
      std::vector<POINT> pts;
      pts.reserve(f.points.size());
      for (const POINT& d : f.points) {
        double x = d.x - m.dx, y = d.y - m.dy;
        pts.push_back(POINT{RoundDevice((x * m.m22 - y * m.m21) / det), RoundDevice((y * m.m11 - x * m.m12) / det)});
      }
      figures.push_back(std::move(pts));
      closed.push_back(f.closed);
    }
    return !figures.empty();
  }

  // What filling and stroking the path paints: the figures as one poly-polygon
  // without a pen, then each outline without a brush, closed figures as
  // polygons and open ones as poly-lines. The DC's pen and brush come back
  // with a restore.
  void PaintPath(uint32_t type) {
    std::vector<std::vector<POINT>> figures;
    std::vector<bool> closed;
    if (!PathFigures(figures, closed)) return;
    if (type != EMR_STROKEPATH) {
      w.Record(0x001E, {});
      int nullPen = SlotOf(kStockFlag | NULL_PEN);
      if (nullPen >= 0) w.Record(0x012D, {static_cast<int16_t>(nullPen)});
      std::vector<int16_t> words{static_cast<int16_t>(figures.size())};
      for (const auto& f : figures) words.push_back(static_cast<int16_t>(f.size()));
      for (const auto& f : figures)
        for (const POINT& pt : f) {
          words.push_back(Cut(pt.x));
          words.push_back(Cut(pt.y));
        }
      w.Record(0x0538, words);
      w.Record(0x0127, {-1});
    }
    if (type != EMR_FILLPATH) {
      w.Record(0x001E, {});
      int nullBrush = SlotOf(kStockFlag | NULL_BRUSH);
      if (nullBrush >= 0) w.Record(0x012D, {static_cast<int16_t>(nullBrush)});
      for (size_t i = 0; i < figures.size(); ++i) w.Record(closed[i] ? 0x0324 : 0x0325, Points16(figures[i]));
      w.Record(0x0127, {-1});
    }
  }

  // The picture's pen follows the shadow's after lines were drawn there.
  void FollowPosition() {
    POINT cp{};
    GetCurrentPositionEx(shadow->Handle(), &cp);
    if (cp.x == position.x && cp.y == position.y) return;
    position = cp;
    w.Record(0x0214, {Cut(position.y), Cut(position.x)});
  }

  // Paths go to the shadow, and so do shapes under a world transform, which
  // the Windows format cannot say: they come out as the polygons and lines
  // their path would give. True when the record was dealt with here and is
  // not to be converted as a drawing of its own.
  bool PathRecord(uint32_t type, const uint8_t* rec, size_t size) {
    if (!shadow) return false;
    HDC h = shadow->Handle();
    DCObj* dc = shadow->DC();
    bool filled = false;
    if (dc && !dc->state.path.open && !(dc->state.world == Matrix()) && IsShape(type, filled)) {
      MoveToEx(h, position.x, position.y, nullptr);
      BeginPath(h);
      shadow->Play(rec, size);
      EndPath(h);
      PaintPath(filled ? EMR_STROKEANDFILLPATH : EMR_STROKEPATH);
      AbortPath(h);
      FollowPosition();
      return true;
    }
    switch (type) {
      case EMR_BEGINPATH:
        // Figures that go on from the current position start where the picture's pen stands.
        MoveToEx(h, position.x, position.y, nullptr);
        shadow->Play(rec, size);
        return true;
      case EMR_ENDPATH: case EMR_ABORTPATH: case EMR_CLOSEFIGURE: case EMR_FLATTENPATH: case EMR_WIDENPATH: {
        shadow->Play(rec, size);
        // Lines drawn into the path moved the pen.
        if (type == EMR_ENDPATH || type == EMR_ABORTPATH) FollowPosition();
        return true;
      }
      case EMR_FILLPATH: case EMR_STROKEPATH: case EMR_STROKEANDFILLPATH:
        PaintPath(type);
        AbortPath(h);
        return true;
      case EMR_SELECTCLIPPATH:
        AbortPath(h);  // no clip paths in the Windows format
        return true;
      default:
        break;
    }
    if (ShapesPaths(type)) {
      shadow->Play(rec, size);
      return false;
    }
    // Lines, shapes and text drawn while a path is open join it; blits paint
    // at once, as they do when the picture plays.
    bool joins = IsShape(type, filled) || type == EMR_EXTTEXTOUTW || type == EMR_EXTTEXTOUTA;
    if (dc && dc->state.path.open && joins) {
      shadow->Play(rec, size);
      return true;
    }
    return false;
  }

  bool Convert(const uint8_t* rec, size_t size, DCObj* scratch) {
    uint32_t type = ReadLE32(rec);
    if (PathRecord(type, rec, size)) return true;
    const uint8_t* p = rec + 8;
    size_t n = size - 8;
    auto u = [&](size_t i) { return ReadLE32(p + 4 * i); };
    auto s = [&](size_t i) { return ReadLEI32(p + 4 * i); };
    auto has = [&](size_t k) { return n >= 4 * k; };
    auto c16 = [&](size_t i) { return Cut(s(i)); };
    switch (type) {
      case EMR_EOF: return false;
      case EMR_SETBKCOLOR: if (has(1)) w.Color(0x0201, u(0)); break;
      case EMR_SETTEXTCOLOR: if (has(1)) w.Color(0x0209, u(0)); break;
      case EMR_SETBKMODE: if (has(1)) w.Record(0x0102, {c16(0)}); break;
      case EMR_SETMAPMODE: if (has(1)) w.Record(0x0103, {c16(0)}); break;
      case EMR_SETROP2: if (has(1)) w.Record(0x0104, {c16(0)}); break;
      case EMR_SETPOLYFILLMODE: if (has(1)) w.Record(0x0106, {c16(0)}); break;
      case EMR_SETSTRETCHBLTMODE: if (has(1)) w.Record(0x0107, {c16(0)}); break;
      case EMR_SETTEXTALIGN: if (has(1)) w.Record(0x012E, {c16(0)}); break;
      case EMR_SETWINDOWORGEX: if (has(2)) w.Record(0x020B, {c16(1), c16(0)}); break;
      case EMR_SETWINDOWEXTEX: if (has(2)) w.Record(0x020C, {c16(1), c16(0)}); break;
      case EMR_SETVIEWPORTORGEX: if (has(2)) w.Record(0x020D, {c16(1), c16(0)}); break;
      case EMR_SETVIEWPORTEXTEX: if (has(2)) w.Record(0x020E, {c16(1), c16(0)}); break;
      case EMR_MOVETOEX:
        if (has(2)) {
          w.Record(0x0214, {c16(1), c16(0)});
          position = POINT{s(0), s(1)};
        }
        break;
      case EMR_LINETO:
        if (has(2)) {
          w.Record(0x0213, {c16(1), c16(0)});
          position = POINT{s(0), s(1)};
        }
        break;
      case EMR_SETPIXELV: if (has(3)) w.Color(0x041F, u(2), {c16(1), c16(0)}); break;
      case EMR_SAVEDC: w.Record(0x001E, {}); break;
      case EMR_RESTOREDC: if (has(1)) w.Record(0x0127, {c16(0)}); break;
      case EMR_INTERSECTCLIPRECT: if (has(4)) w.Record(0x0416, {c16(3), c16(2), c16(1), c16(0)}); break;
      case EMR_EXCLUDECLIPRECT: if (has(4)) w.Record(0x0415, {c16(3), c16(2), c16(1), c16(0)}); break;
      case EMR_OFFSETCLIPRGN: if (has(2)) w.Record(0x0220, {c16(1), c16(0)}); break;
      case EMR_RECTANGLE: if (has(4)) w.Record(0x041B, {c16(3), c16(2), c16(1), c16(0)}); break;
      case EMR_ELLIPSE: if (has(4)) w.Record(0x0418, {c16(3), c16(2), c16(1), c16(0)}); break;
      case EMR_ROUNDRECT: if (has(6)) w.Record(0x061C, {c16(5), c16(4), c16(3), c16(2), c16(1), c16(0)}); break;
      case EMR_ARC: case EMR_PIE: case EMR_CHORD:
        if (has(8))
          w.Record(type == EMR_ARC ? 0x0817 : type == EMR_PIE ? 0x081A : 0x0830,
                   {c16(7), c16(6), c16(5), c16(4), c16(3), c16(2), c16(1), c16(0)});
        break;
      case EMR_POLYLINE: case EMR_POLYGON: case EMR_POLYBEZIER: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
      case EMR_POLYLINE16: case EMR_POLYGON16: case EMR_POLYBEZIER16: case EMR_POLYBEZIERTO16:
      case EMR_POLYLINETO16: {
        if (!has(5)) break;
        bool small = type >= EMR_POLYBEZIER16;
        uint32_t count = u(4);
        if (count > 0x7FFF || count > (n - 20) / (small ? 4 : 8)) break;
        std::vector<POINT> pts(count);
        for (uint32_t i = 0; i < count; ++i)
          pts[i] = small ? POINT{ReadLEI16(p + 20 + 4 * i), ReadLEI16(p + 22 + 4 * i)}
                         : POINT{ReadLEI32(p + 20 + 8 * i), ReadLEI32(p + 24 + 8 * i)};
        uint32_t kind = small ? type - EMR_POLYBEZIER16 + EMR_POLYBEZIER : type;
        if (kind == EMR_POLYGON) {
          w.Record(0x0324, Points16(pts));
          break;
        }
        if (kind == EMR_POLYBEZIER && count >= 4 && (count - 1) % 3 == 0)
          pts = FlattenBeziers(scratch, pts[0], pts.data() + 1, count - 1);
        else if (kind == EMR_POLYBEZIERTO && count % 3 == 0)
          pts = FlattenBeziers(scratch, position, pts.data(), count);
        else if (kind == EMR_POLYLINETO)
          pts.insert(pts.begin(), position);
        if (pts.size() > 0x7FFF) break;
        if (kind == EMR_POLYBEZIERTO || kind == EMR_POLYLINETO) {
          position = pts.back();
          w.Record(0x0325, Points16(pts));
          w.Record(0x0214, {Cut(position.y), Cut(position.x)});
        } else {
          w.Record(0x0325, Points16(pts));
        }
        break;
      }
      case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16: {
        if (!has(6)) break;
        bool small = type >= EMR_POLYPOLYLINE16;
        uint32_t polys = u(4), total = u(5);
        if (polys == 0 || polys > 0x7FFF || total > 0x7FFF) break;
        if (size_t{polys} * 4 > n - 24 || size_t{total} * (small ? 4 : 8) > n - 24 - size_t{polys} * 4) break;
        std::vector<uint32_t> counts(polys);
        uint64_t sum = 0;
        for (uint32_t i = 0; i < polys; ++i) sum += counts[i] = u(6 + i);
        if (sum != total) break;
        const uint8_t* at = p + 24 + 4 * polys;
        std::vector<POINT> pts(total);
        for (uint32_t i = 0; i < total; ++i)
          pts[i] = small ? POINT{ReadLEI16(at + 4 * i), ReadLEI16(at + 4 * i + 2)} : POINT{ReadLEI32(at + 8 * i), ReadLEI32(at + 8 * i + 4)};
        if (type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16) {
          std::vector<int16_t> words{static_cast<int16_t>(polys)};
          for (uint32_t c : counts) words.push_back(static_cast<int16_t>(c));
          for (const POINT& pt : pts) {
            words.push_back(Cut(pt.x));
            words.push_back(Cut(pt.y));
          }
          w.Record(0x0538, words);
        } else {
          size_t k = 0;
          for (uint32_t c : counts) {
            w.Record(0x0325, Points16(std::vector<POINT>(pts.begin() + k, pts.begin() + k + c)));
            k += c;
          }
        }
        break;
      }
      case EMR_EXTTEXTOUTW: {
        if (size < 76) break;
        int x = s(7), y = s(8);
        uint32_t count = u(9), offString = u(10), options = u(11);
        uint32_t offDx = u(16);
        if (count > 0x7FFF || (count && (offString > size || size_t{count} * 2 > size - offString))) break;
        if (offDx && (offDx > size || size_t{count} * 4 > size - offDx)) offDx = 0;
        std::string text = count ? Utf8FromUtf16(Utf16At(rec + offString, count)) : std::string();
        std::vector<int16_t> words{Cut(y), Cut(x), static_cast<int16_t>(text.size()), static_cast<int16_t>(options)};
        if (options & (ETO_OPAQUE | ETO_CLIPPED)) {
          for (size_t i = 12; i < 16; ++i) words.push_back(c16(i));
        }
        std::vector<uint8_t> tail(text.begin(), text.end());
        if (tail.size() % 2) tail.push_back(0);
        if (offDx) {
          // Per byte: each character's advance on its first byte, 0 on the others.
          size_t unit = 0;
          for (size_t b = 0; b < text.size();) {
            unsigned char lead = static_cast<unsigned char>(text[b]);
            size_t len = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            int32_t adv = unit < count ? ReadLEI32(rec + offDx + 4 * unit) : 0;
            if (len == 4 && unit + 1 < count) adv += ReadLEI32(rec + offDx + 4 * (unit + 1));
            unit += len == 4 ? 2 : 1;
            for (size_t k = 0; k < len && b < text.size(); ++k, ++b) {
              int16_t v = k == 0 ? Cut(adv) : 0;
              tail.push_back(static_cast<uint8_t>(v & 0xFF));
              tail.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
            }
          }
        }
        w.Record(0x0A32, words, tail);
        break;
      }
      case EMR_CREATEPEN:
        if (has(5))
          Replace(u(0), w.Create(0x02FA, {static_cast<int16_t>(u(1) & 0xFFFF), c16(2), 0,
                                         static_cast<int16_t>(u(4) & 0xFFFF), static_cast<int16_t>(u(4) >> 16)}));
        break;
      case EMR_EXTCREATEPEN:
        if (has(10))
          Replace(u(0), w.Create(0x02FA, {static_cast<int16_t>(u(5) & 0xFFFF), c16(6), 0,
                                         static_cast<int16_t>(u(8) & 0xFFFF), static_cast<int16_t>(u(8) >> 16)}));
        break;
      case EMR_CREATEBRUSHINDIRECT:
        if (has(4))
          Replace(u(0), w.Create(0x02FC, {static_cast<int16_t>(u(1)), static_cast<int16_t>(u(2) & 0xFFFF),
                                         static_cast<int16_t>(u(2) >> 16), static_cast<int16_t>(u(3))}));
        break;
      case EMR_CREATEDIBPATTERNBRUSHPT: case EMR_CREATEMONOBRUSH: {
        if (!has(6)) break;
        uint32_t offBmi = u(2), cbBmi = u(3), offBits = u(4), cbBits = u(5);
        if (offBmi > size || cbBmi > size - offBmi || offBits > size || cbBits > size - offBits) break;
        std::vector<uint8_t> tail(rec + offBmi, rec + offBmi + cbBmi);
        tail.insert(tail.end(), rec + offBits, rec + offBits + cbBits);
        Replace(u(0), w.Create(0x0142, {static_cast<int16_t>(BS_DIBPATTERN), 0}, tail));
        break;
      }
      case EMR_EXTCREATEFONTINDIRECTW: {
        if (size < 12 + 92) break;
        LOGFONTA lf;
        lf.lfHeight = s(1);
        lf.lfWidth = s(2);
        lf.lfEscapement = s(3);
        lf.lfOrientation = s(4);
        lf.lfWeight = s(5);
        ReadLogFontBytes(lf, p + 24);
        size_t units = 0;
        while (units < LF_FACESIZE && ReadLE16(p + 32 + 2 * units)) ++units;
        std::string face = Utf8FromUtf16(Utf16At(p + 32, units));
        face.resize(std::min<size_t>(face.size(), LF_FACESIZE - 1));
        std::memcpy(lf.lfFaceName, face.data(), face.size());
        lf.lfFaceName[face.size()] = 0;
        Replace(u(0), Font(lf));
        break;
      }
      case EMR_SELECTOBJECT: {
        if (!has(1)) break;
        uint32_t i = u(0);
        int slot = SlotOf(i);
        GdiObject* o = (i & kStockFlag) ? FindHeld(GetStockObject(static_cast<int>(i & ~kStockFlag))) : nullptr;
        bool brush = o ? o->kind == Kind::Brush : false;
        if (!o) {
          // Our own objects: the slot's creation record says what it is; brushes are
          // tracked so region fills can put them back.
          brush = brushSlots.count(slot) > 0;
        }
        Select(slot, brush);
        break;
      }
      case EMR_DELETEOBJECT: {
        if (!has(1)) break;
        auto it = slots.find(u(0));
        if (it != slots.end()) {
          if (currentBrush == it->second) currentBrush = -1;
          w.Delete(it->second);
          slots.erase(it);
        }
        break;
      }
      case EMR_FILLRGN: case EMR_PAINTRGN: case EMR_FRAMERGN: {
        size_t head = type == EMR_PAINTRGN ? 5 : type == EMR_FILLRGN ? 6 : 8;
        if (!has(head)) break;
        uint32_t cb = u(4);
        if (cb > n - 4 * head || cb < 32) break;
        const uint8_t* d = p + 4 * head;
        uint32_t count = ReadLE32(d + 8);
        if (count > (cb - 32) / 16) break;
        Region r;
        for (uint32_t i = 0; i < count; ++i) {
          const uint8_t* q = d + 32 + 16 * i;
          r = Region::Combine(r, Region::FromRect(ReadLEI32(q), ReadLEI32(q + 4), ReadLEI32(q + 8), ReadLEI32(q + 12)), RGN_OR);
        }
        if (type == EMR_FRAMERGN) {
          int fw = s(6), fh = s(7);
          if (fw <= 0 || fh <= 0) break;
          Region inner = r;
          for (auto [dx, dy] : {std::pair{fw, 0}, std::pair{-fw, 0}, std::pair{0, fh}, std::pair{0, -fh}}) {
            Region moved = r;
            moved.Offset(dx, dy);
            inner = Region::Combine(inner, moved, RGN_AND);
          }
          r = Region::Combine(r, inner, RGN_DIFF);
        }
        PaintRects(r.Rects(), type == EMR_PAINTRGN ? -1 : SlotOf(u(5)));
        break;
      }
      case EMR_BITBLT: case EMR_STRETCHBLT: {
        size_t need = type == EMR_BITBLT ? 100 : 108;
        if (size < need) break;
        int x = s(4), y = s(5), wd = s(6), ht = s(7);
        uint32_t rop = u(8);
        int xs = s(9), ys = s(10);
        uint32_t offBmi = u(19), cbBmi = u(20), offBits = u(21), cbBits = u(22);
        int ws = type == EMR_BITBLT ? wd : s(23), hs = type == EMR_BITBLT ? ht : s(24);
        if (cbBmi == 0) {
          w.Record(0x061D, {static_cast<int16_t>(rop & 0xFFFF), static_cast<int16_t>(rop >> 16), Cut(ht), Cut(wd),
                            Cut(y), Cut(x)});
          break;
        }
        Dib(0x0B41, {static_cast<int16_t>(rop & 0xFFFF), static_cast<int16_t>(rop >> 16), Cut(hs), Cut(ws), Cut(ys),
                     Cut(xs), Cut(ht), Cut(wd), Cut(y), Cut(x)},
            rec, size, offBmi, cbBmi, offBits, cbBits);
        break;
      }
      case EMR_STRETCHDIBITS: {
        if (size < 80) break;
        uint32_t rop = u(15);
        Dib(0x0F43, {static_cast<int16_t>(rop & 0xFFFF), static_cast<int16_t>(rop >> 16),
                     static_cast<int16_t>(u(14)), c16(9), c16(8), c16(7), c16(6), c16(17), c16(16), c16(5), c16(4)},
            rec, size, u(10), u(11), u(12), u(13));
        break;
      }
      case EMR_SETDIBITSTODEVICE: {
        if (size < 76) break;
        Dib(0x0D33, {static_cast<int16_t>(u(14)), c16(16), c16(15), c16(7), c16(6), c16(9), c16(8), c16(5), c16(4)},
            rec, size, u(10), u(11), u(12), u(13));
        break;
      }
      default: break;
    }
    if (type == EMR_CREATEBRUSHINDIRECT || type == EMR_CREATEDIBPATTERNBRUSHPT || type == EMR_CREATEMONOBRUSH) {
      auto it = slots.find(has(1) ? u(0) : 0);
      if (it != slots.end()) brushSlots.insert(it->second);
    } else if (type == EMR_CREATEPEN || type == EMR_EXTCREATEPEN || type == EMR_EXTCREATEFONTINDIRECTW) {
      auto it = slots.find(has(1) ? u(0) : 0);
      if (it != slots.end()) brushSlots.erase(it->second);
    }
    return true;
  }

  std::set<int> brushSlots;
};

}  // namespace

}  // namespace qvgdi

using namespace qvgdi;

UINT GetWinMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* data, int mapMode, HDC reference) {
  auto lock = Lock();
  (void)reference;
  ENHMETAHEADER h;
  if (!GetEnhMetaFileHeader(emf, sizeof(h), &h)) return 0;
  Converter c;
  if (mapMode == MM_ANISOTROPIC || mapMode == MM_ISOTROPIC) {
    // The picture's frame, in the recording device's pixels, as window origin and extent.
    double sx = kRefDpi / 2540.0, sy = kRefDpi / 2540.0;
    if (h.szlMicrometers.cx > 0 && h.szlMicrometers.cy > 0 && h.szlDevice.cx > 0 && h.szlDevice.cy > 0) {
      sx = 10.0 * h.szlDevice.cx / h.szlMicrometers.cx;
      sy = 10.0 * h.szlDevice.cy / h.szlMicrometers.cy;
    }
    int l = static_cast<int>(std::lround(h.rclFrame.left * sx)), t = static_cast<int>(std::lround(h.rclFrame.top * sy));
    int r = static_cast<int>(std::lround(double(h.rclFrame.right) * sx));
    int b = static_cast<int>(std::lround(double(h.rclFrame.bottom) * sy));
    c.w.Record(0x0103, {static_cast<int16_t>(mapMode)});
    c.w.Record(0x020B, {Cut(t), Cut(l)});
    c.w.Record(0x020C, {Cut(std::max(b - t, 1)), Cut(std::max(r - l, 1))});
  }
  // A scratch DC answers the flattening's questions about scale (none: device units).
  HDC scratch = CreateCompatibleDC(nullptr);
  DCObj* sdc = FindDC(scratch);
  auto side = [](LONG edge) { return static_cast<int>(std::clamp<int64_t>(int64_t{edge} + 1, 1, 4096)); };
  EmfShadow shadow(side(h.rclBounds.right), side(h.rclBounds.bottom), h.nHandles);
  c.shadow = &shadow;
  WalkEmfRecords(emf, [&](const uint8_t* rec, size_t n) { return c.Convert(rec, n, sdc); });
  DeleteDC(scratch);
  std::vector<uint8_t> bytes = c.w.Finish();
  if (!data) return static_cast<UINT>(bytes.size());
  if (size < bytes.size()) return 0;
  std::memcpy(data, bytes.data(), bytes.size());
  return static_cast<UINT>(bytes.size());
}

HENHMETAFILE SetWinMetaFileBits(UINT size, const BYTE* data, HDC reference, const METAFILEPICT* picture) {
  HMETAFILE wmf = SetMetaFileBitsEx(size, data);
  if (!wmf) return nullptr;
  RECT frame{};
  bool framed = picture && (picture->mm == MM_ANISOTROPIC || picture->mm == MM_ISOTROPIC) && picture->xExt > 0 &&
                picture->yExt > 0;
  if (framed) frame = RECT{0, 0, picture->xExt, picture->yExt};
  HDC rec = CreateEnhMetaFile(reference, nullptr, framed ? &frame : nullptr, nullptr);
  if (framed) {
    // The metafile's window goes onto the frame: its own window records set the window.
    SetMapMode(rec, picture->mm);
    SetViewportExtEx(rec, static_cast<int>(std::lround(picture->xExt * kRefDpi / 2540.0)),
                     static_cast<int>(std::lround(picture->yExt * kRefDpi / 2540.0)), nullptr);
  }
  PlayMetaFile(rec, wmf);
  DeleteMetaFile(wmf);
  return CloseEnhMetaFile(rec);
}
