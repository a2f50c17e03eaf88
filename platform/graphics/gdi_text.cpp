// Fonts and text: logical fonts opened through the font engine, glyph coverage
// blended into the destination in the text colour, and the measuring and
// formatting calls (GetTextExtentPoint32, GetTextMetrics, DrawText).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

#include "platform/graphics/gdi_glyph.h"
#include "platform/graphics/gdi_metafile_internal.h"

namespace qvgdi {

namespace {

fontengine::FontSpec SpecOf(const LOGFONTA& lf) {
  fontengine::FontSpec spec;
  spec.face.assign(lf.lfFaceName, strnlen(lf.lfFaceName, LF_FACESIZE));
  spec.height = lf.lfHeight;
  spec.width = std::abs(lf.lfWidth);
  spec.weight = lf.lfWeight == 0 ? 400 : std::clamp<int>(lf.lfWeight, 1, 1000);
  spec.italic = lf.lfItalic != 0;
  spec.underline = lf.lfUnderline != 0;
  spec.strikeout = lf.lfStrikeOut != 0;
  spec.escapement = lf.lfEscapement;
  spec.antialiased = lf.lfQuality != NONANTIALIASED_QUALITY;
  return spec;
}

FontObj* CurrentFont(DCObj* dc) { return static_cast<FontObj*>(FindHeld(dc->state.font)); }

constexpr double kPi = 3.14159265358979323846;

// How far a map turns the logical x axis on the screen, counter-clockwise, in
// tenths of a degree (0 when the map keeps the axes apart).
int MapTurn(const DCObj* dc) {
  if (AxisAligned(dc)) return 0;
  Matrix m = DeviceMatrix(dc);
  return static_cast<int>(std::lround(std::atan2(-m.m12, m.m11) * 1800 / kPi));
}

// How a run of text lies on the device under the DC's map: an offset of the
// face's pixels along the baseline goes along `along`, one down from the
// baseline along `down`.
struct TextFrame {
  double height = 1;  // face pixels per logical unit of the font's height
  double unit = 1;    // face pixels per logical unit of advance along the baseline
  PointD along{1, 0};
  PointD down{0, 1};
  int turn = 0;         // how far the map turns the baseline, tenths of a degree counter-clockwise
  bool shaped = false;  // the map leans, stretches or mirrors the glyphs, not only turns and scales them
};

// Which way text reads along logical x (1 or -1) and which way its lines go
// down along logical y. A page or a metafile placement that mirrors keeps text
// upright and reading forwards, as text without a world transform always is
// (a map with y up, such as MM_TWIPS, has its lines go down the screen
// towards smaller y); only the world transform's own mirrors flip the glyphs.
struct Reading {
  int x = 1, y = 1;
};

Reading ReadingOf(const DCObj* dc) {
  Reading r;
  if (dc->state.plain) return r;
  Matrix page = dc->state.play.After(PageMatrix(dc->state));
  if (page.AxisAligned()) {
    r.x = page.m11 < 0 ? -1 : 1;
    r.y = page.m22 < 0 ? -1 : 1;
  } else if (page.m11 * page.m22 - page.m12 * page.m21 < 0) {
    r.y = -1;
  }
  return r;
}

TextFrame FrameOf(const DCObj* dc, const LOGFONTA& lf) {
  TextFrame fr;
  if (dc->state.plain) return fr;
  Matrix m = DeviceMatrix(dc);
  const Reading reading = ReadingOf(dc);
  const double fx = reading.x, fy = reading.y;
  auto linear = [&](double x, double y) {
    return PointD{m.m11 * fx * x + m.m21 * fy * y, m.m12 * fx * x + m.m22 * fy * y};
  };
  PointD axis = linear(1, 0);
  fr.turn = static_cast<int>(std::lround(std::atan2(-axis.y, axis.x) * 1800 / kPi));
  fr.height = std::hypot(m.m12, m.m22);
  fr.unit = std::hypot(m.m11, m.m12);
  if (dc->state.graphicsMode == GM_ADVANCED) {
    // The glyphs go through the whole map, the escapement turning them in
    // logical space first. The face is opened at the height the font's logical
    // height maps to, measured square to the mapped baseline (a lean keeps the
    // glyphs' size and advances); what else the map does goes to the face as a
    // shape.
    const double e = lf.lfEscapement * kPi / 1800;
    PointD a = linear(std::cos(e), -std::sin(e)), d = linear(std::sin(e), std::cos(e));
    const double s = std::abs(a.x * d.y - a.y * d.x) / std::hypot(a.x, a.y);
    if (s > 0 && std::isfinite(s)) {
      a = PointD{a.x / s, a.y / s};
      d = PointD{d.x / s, d.y / s};
      // A map that only turns and scales evenly keeps drawing as a turned font.
      constexpr double kEps = 1e-4;
      const bool turnOnly = std::abs(std::hypot(a.x, a.y) - 1) < kEps && std::abs(a.x - d.y) < kEps &&
                            std::abs(a.y + d.x) < kEps;
      if (!turnOnly) {
        fr.shaped = true;
        fr.height = fr.unit = s;
        fr.along = a;
        fr.down = d;
        return fr;
      }
    }
  }
  const double angle = (lf.lfEscapement + fr.turn) * kPi / 1800;
  fr.along = PointD{std::cos(angle), -std::sin(angle)};
  fr.down = PointD{std::sin(angle), std::cos(angle)};
  return fr;
}

// The face of the DC's font; null when no font can be opened at all.
fontengine::Face* FaceOf(DCObj* dc) {
  FontObj* f = CurrentFont(dc);
  if (!f) return nullptr;
  if (!dc->state.plain) {
    // A scaling map opens the face at its device size.
    TextFrame fr = FrameOf(dc, f->logFont);
    Matrix m = DeviceMatrix(dc);
    double sy = fr.shaped ? fr.height : std::sqrt(m.m12 * m.m12 + m.m22 * m.m22);
    double sx = fr.shaped ? fr.height : std::sqrt(m.m11 * m.m11 + m.m21 * m.m21);
    fontengine::FontSpec spec = SpecOf(f->logFont);
    int h = f->logFont.lfHeight == 0 ? -13 : f->logFont.lfHeight;
    spec.height = static_cast<int>(std::lround(std::clamp(h * sy, -1e6, 1e6)));
    if (spec.height == 0) spec.height = h < 0 ? -1 : 1;
    spec.width = static_cast<int>(std::lround(std::clamp(std::abs(f->logFont.lfWidth) * sx, 0.0, 1e6)));
    if (fr.shaped) {
      // The escapement is part of the shape.
      spec.escapement = 0;
      spec.matrix = {fr.along.x, -fr.down.x, -fr.along.y, fr.down.y};
    } else {
      // A turning map turns the glyphs with it.
      spec.escapement = f->logFont.lfEscapement + fr.turn;
    }
    if (spec.height != f->logFont.lfHeight || spec.width != std::abs(f->logFont.lfWidth) ||
        spec.escapement != f->logFont.lfEscapement || fr.shaped) {
      if (!f->scaledFace || f->scaledHeight != spec.height || f->scaledWidth != spec.width ||
          f->scaledEscapement != spec.escapement || f->scaledMatrix != spec.matrix) {
        try {
          f->scaledFace = fontengine::OpenFace(spec);
        } catch (...) {
          return nullptr;
        }
        f->scaledHeight = spec.height;
        f->scaledWidth = spec.width;
        f->scaledEscapement = spec.escapement;
        f->scaledMatrix = spec.matrix;
      }
      return f->scaledFace.get();
    }
  }
  if (!f->face) {
    try {
      f->face = fontengine::OpenFace(SpecOf(f->logFont));
    } catch (...) {
      return nullptr;
    }
  }
  return f->face.get();
}

// How many of the face's pixels one logical unit spans: along the baseline
// (advances and widths) and across it (heights). The face is opened at the
// size the map gives the font, so measurements taken on it go back through
// these to come out in the DC's logical units, as the caller's coordinates are.
struct TextScale {
  double along = 1;
  double across = 1;
};

TextScale ScaleOf(DCObj* dc) {
  FontObj* f = CurrentFont(dc);
  if (dc->state.plain || !f) return {};
  const TextFrame fr = FrameOf(dc, f->logFont);
  return {fr.unit, fr.height};
}

// A length in face pixels as logical units; a map that squeezes text to
// nothing gives lengths of nothing rather than a division by zero.
int ToLogical(double pixels, double scale) {
  if (scale == 1) return static_cast<int>(std::clamp<double>(pixels, INT32_MIN / 2, INT32_MAX / 2));
  if (!(scale > 0) || !std::isfinite(scale)) return 0;
  return static_cast<int>(std::lround(std::clamp(pixels / scale, INT32_MIN / 2.0, INT32_MAX / 2.0)));
}

// A logical length as face pixels.
int ToFace(int logical, double scale) {
  if (scale == 1) return logical;
  if (!(scale > 0) || !std::isfinite(scale)) return 0;
  return static_cast<int>(std::lround(std::clamp(logical * scale, INT32_MIN / 2.0, INT32_MAX / 2.0)));
}

// The face's metrics in logical units. The height and the em are mapped back
// and the rest derived from them, so ascent and descent still make the
// height, and a font asked for by its character height keeps that em with the
// internal leading on top. The decoration lines stay in face pixels: only
// drawing, on the face, uses them.
fontengine::Metrics MetricsOf(const fontengine::Metrics& m, const TextScale& sc) {
  fontengine::Metrics lm = m;
  lm.height = ToLogical(m.height, sc.across);
  lm.ascent = std::min(lm.height, ToLogical(m.ascent, sc.across));
  lm.descent = lm.height - lm.ascent;
  const int em = ToLogical(m.height - m.internalLeading, sc.across);
  lm.internalLeading = std::max(0, lm.height - em);
  lm.externalLeading = ToLogical(m.externalLeading, sc.across);
  lm.aveCharWidth = ToLogical(m.aveCharWidth, sc.along);
  lm.maxCharWidth = ToLogical(m.maxCharWidth, sc.along);
  return lm;
}

// Text of the DC's font: UTF-8, or bytes in the code page of the font's character set.
std::vector<uint32_t> Decode(DCObj* dc, const char* text, size_t count) {
  if (!text || count == 0) return {};
  FontObj* f = CurrentFont(dc);
  const int cp = fontengine::CodePageOfCharset(f ? f->logFont.lfCharSet : ANSI_CHARSET);
  return fontengine::DecodeText(std::string(text, count), cp);
}

int RunWidth(fontengine::Face& face, const std::vector<uint32_t>& cps) {
  int64_t w = 0;
  for (uint32_t cp : cps) w += face.GetGlyph(cp).advance;
  return static_cast<int>(std::min<int64_t>(w, INT32_MAX / 2));
}

void FillDevice(DCObj* dc, const Region& clip, const RECT& r, COLORREF color) {
  FillRegionSolid(dc, Region::Combine(clip, Region::FromRect(r.left, r.top, r.right, r.bottom), RGN_AND), color);
}

// Calls fn(code point, glyph, pen x, pen y) for each glyph of a run whose pen
// starts at (x, baseline) in device coordinates; advances come from dx when
// given, along the baseline's direction (ux, uy).
// How far from the origin a pen may go, in 1/64 pixel.
constexpr int64_t kPenLimit64 = int64_t{1} << 36;

template <class Fn>
void WalkRun(fontengine::Face& face, const std::vector<uint32_t>& cps, int x, int baseline, const INT* dx, double ux,
             double uy, Fn fn) {
  int64_t px64 = int64_t{x} * 64, py64 = int64_t{baseline} * 64;
  for (size_t i = 0; i < cps.size(); ++i) {
    const fontengine::Glyph& g = face.GetGlyph(cps[i]);
    fn(cps[i], g, static_cast<int>((px64 + 32) >> 6), static_cast<int>((py64 + 32) >> 6));
    if (dx && ux == 1 && uy == 0) {
      px64 += int64_t{dx[i]} * 64;
    } else if (dx) {
      // Given advances run along the turned baseline.
      px64 += std::llround(std::clamp(dx[i] * ux * 64, -double(kPenLimit64), double(kPenLimit64)));
      py64 += std::llround(std::clamp(dx[i] * uy * 64, -double(kPenLimit64), double(kPenLimit64)));
    } else {
      px64 += g.advanceX64;
      py64 -= g.advanceY64;
    }
    // A pen this far off every surface draws nothing more; keeping it there
    // keeps the sums and the pixel positions in range.
    px64 = std::clamp(px64, -kPenLimit64, kPenLimit64);
    py64 = std::clamp(py64, -kPenLimit64, kPenLimit64);
  }
}

// Draws code points with the pen starting at (x, baseline) in device
// coordinates. Coverage blends the text colour over what is there; the alpha
// byte of 32-bit pixels becomes 0 like any drawing.
void DrawRun(DCObj* dc, fontengine::Face& face, const std::vector<uint32_t>& cps, int x, int baseline,
             const Region& clip, const INT* dx, double ux = 1, double uy = 0) {
  Surface* s = DCSurface(dc);
  PixelCodec codec(*s);
  COLORREF tc = dc->state.textColor;
  int tr = GetRValue(tc), tg = GetGValue(tc), tb = GetBValue(tc);
  uint32_t solid = codec.FromColor(tc);
  RECT bounds = clip.Bounds();
  WalkRun(face, cps, x, baseline, dx, ux, uy, [&](uint32_t, const fontengine::Glyph& g, int ox, int oy) {
    int left = ox + g.left, top = oy - g.top;
    if (top < bounds.bottom && top + g.height > bounds.top && left < bounds.right && left + g.width > bounds.left) {
      for (int gy = 0; gy < g.height; ++gy) {
        int y = top + gy;
        const auto* spans = clip.SpansAt(y);
        if (!spans) continue;
        uint8_t* row = s->Row(y);
        const uint8_t* cov = g.coverage.data() + static_cast<size_t>(gy) * g.width;
        for (const Span& sp : *spans) {
          int x0 = std::max(sp.x0, left), x1 = std::min(sp.x1, left + g.width);
          for (int px = x0; px < x1; ++px) {
            uint32_t c = cov[px - left];
            if (c == 0) continue;
            if (c == 255) {
              codec.Write(row, px, solid);
              continue;
            }
            COLORREF d = codec.ToColor(codec.Read(row, px));
            auto mix = [&](int t, int v) { return static_cast<BYTE>((t * c + v * (255 - c) + 127) / 255); };
            codec.Write(row, px, codec.FromColor(RGB(mix(tr, GetRValue(d)), mix(tg, GetGValue(d)), mix(tb, GetBValue(d)))));
          }
        }
      }
    }
  });
}

// Text drawn while a path is open: the glyphs' outlines become closed figures.
void PathRun(DCObj* dc, fontengine::Face& face, const std::vector<uint32_t>& cps, int x, int baseline, const INT* dx,
             double ux = 1, double uy = 0) {
  std::unordered_map<uint32_t, fontengine::GlyphOutline> outlines;
  WalkRun(face, cps, x, baseline, dx, ux, uy, [&](uint32_t cp, const fontengine::Glyph&, int ox, int oy) {
    if (dc->state.path.points >= kMaxPathPoints) return;
    auto it = outlines.find(cp);
    if (it == outlines.end()) it = outlines.emplace(cp, face.GetOutline(cp)).first;
    for (const auto& contour : it->second) {
      std::vector<POINT> pts;
      pts.reserve(contour.size());
      for (const fontengine::OutlinePoint& p : contour) pts.push_back(POINT{RoundDevice(ox + p.x), RoundDevice(oy - p.y)});
      PathAdd(dc, pts, true, true);
    }
  });
}

// A band along a run's baseline: over a length from the pen at (px, py) along
// u, from one distance below the baseline to another along v (negative
// distances are above it). Lengths are in the face's pixels; u and v are what
// one such pixel is on the device along the baseline and down from it.
std::vector<PointD> BaselineBand(double px, double py, double length, double from, double to, PointD u, PointD v) {
  return {{px + v.x * from, py + v.y * from},
          {px + u.x * length + v.x * from, py + u.y * length + v.y * from},
          {px + u.x * length + v.x * to, py + u.y * length + v.y * to},
          {px + v.x * to, py + v.y * to}};
}

// The underline and strike-out bands of a run of a width.
std::vector<std::vector<PointD>> DecorationBands(const FontObj& f, const fontengine::Metrics& m, double px, double py,
                                                 double width, PointD u, PointD v) {
  std::vector<std::vector<PointD>> out;
  if (f.logFont.lfUnderline)
    out.push_back(BaselineBand(px, py, width, m.underlinePosition, m.underlinePosition + m.underlineThickness, u, v));
  if (f.logFont.lfStrikeOut)
    out.push_back(BaselineBand(px, py, width, -m.strikeoutPosition, -m.strikeoutPosition + m.strikeoutThickness, u, v));
  return out;
}

void FillBand(DCObj* dc, const Region& clip, const std::vector<PointD>& band, COLORREF color) {
  int first = 0;
  auto rows = PolygonRowsD({band}, ALTERNATE, 0, DCSurface(dc)->height, first);
  FillRegionSolid(dc, Region::Combine(clip, Region::FromRows(first, std::move(rows)), RGN_AND), color);
}

void PathBand(DCObj* dc, const std::vector<PointD>& band) {
  std::vector<POINT> pts;
  for (const PointD& p : band) pts.push_back(POINT{RoundDevice(p.x), RoundDevice(p.y)});
  PathAdd(dc, pts, true, true);
}

// Underline and strike-out of an unrotated run.
void DrawDecorations(DCObj* dc, fontengine::Face& face, int x, int baseline, int width, const Region& clip) {
  FontObj* f = CurrentFont(dc);
  if (!f || f->logFont.lfEscapement != 0 || MapTurn(dc) != 0) return;
  const auto& m = face.GetMetrics();
  if (f->logFont.lfUnderline) {
    int y = baseline + m.underlinePosition;
    FillDevice(dc, clip, RECT{x, y, x + width, y + m.underlineThickness}, dc->state.textColor);
  }
  if (f->logFont.lfStrikeOut) {
    int y = baseline - m.strikeoutPosition;
    FillDevice(dc, clip, RECT{x, y, x + width, y + m.strikeoutThickness}, dc->state.textColor);
  }
}

int SumDx(const INT* dx, size_t n) {
  int64_t w = 0;
  for (size_t i = 0; i < n; ++i) w += dx[i];
  return static_cast<int>(std::clamp<int64_t>(w, INT32_MIN / 2, INT32_MAX / 2));
}

// Text under a map that turns, leans, stretches or mirrors it: the option
// rectangle becomes the mapped quadrilateral, the glyphs go through the map (or
// only turn with it, in the compatible mode), and the alignment moves the pen
// along the mapped baseline and the glyphs' mapped down direction.
BOOL OutputTurnedText(DCObj* dc, int x, int y, UINT options, const RECT* rect, const char* text, size_t count,
                      const INT* dx) {
  Matrix m = DeviceMatrix(dc);
  auto map = [&](double lx, double ly) { return PointD{m.m11 * lx + m.m21 * ly + m.dx, m.m12 * lx + m.m22 * ly + m.dy}; };
  Region clip = DrawableArea(dc);
  const bool inPath = PathOpen(dc);
  if (rect && !inPath) {
    std::vector<PointD> quad{map(rect->left, rect->top), map(rect->right, rect->top), map(rect->right, rect->bottom),
                             map(rect->left, rect->bottom)};
    int first = 0;
    auto rows = PolygonRowsD({quad}, ALTERNATE, 0, DCSurface(dc)->height, first);
    Region box = Region::FromRows(first, std::move(rows));
    if (options & ETO_OPAQUE) FillRegionSolid(dc, Region::Combine(clip, box, RGN_AND), dc->state.bkColor);
    if (options & ETO_CLIPPED) clip = Region::Combine(clip, box, RGN_AND);
  }
  std::vector<uint32_t> cps = Decode(dc, text, count);
  if (cps.empty()) return TRUE;
  fontengine::Face* face = FaceOf(dc);
  FontObj* f = CurrentFont(dc);
  if (!face || !f) return FALSE;
  const TextFrame fr = FrameOf(dc, f->logFont);
  const double unit = fr.unit;
  std::vector<INT> devDx;  // in the face's pixels along the baseline
  if (dx) {
    int64_t sum = 0, prev = 0;
    for (size_t i = 0; i < cps.size(); ++i) {
      sum += dx[i];
      int64_t next = std::llround(std::clamp(sum * unit, -1e9, 1e9));
      devDx.push_back(static_cast<INT>(next - prev));
      prev = next;
    }
  }
  const auto& metrics = face->GetMetrics();
  int width = dx ? SumDx(devDx.data(), devDx.size()) : RunWidth(*face, cps);
  const PointD u = fr.along, v = fr.down;
  UINT align = dc->state.textAlign;
  bool updateCP = align & TA_UPDATECP;
  PointD ref = updateCP ? map(dc->state.position.x, dc->state.position.y) : map(x, y);
  double along = 0, down = metrics.ascent;
  if ((align & TA_CENTER) == TA_CENTER) along = -width / 2.0;
  else if (align & TA_RIGHT) along = -width;
  if ((align & TA_BASELINE) == TA_BASELINE) down = 0;
  else if (align & TA_BOTTOM) down = -metrics.descent;
  int penX = RoundDevice(ref.x + u.x * along + v.x * down), penY = RoundDevice(ref.y + u.y * along + v.y * down);
  if (inPath) {
    PathRun(dc, *face, cps, penX, penY, dx ? devDx.data() : nullptr, u.x, u.y);
    for (const auto& band : DecorationBands(*f, metrics, penX, penY, width, u, v)) PathBand(dc, band);
  } else {
    // The background and the lines lie along the mapped baseline.
    if (dc->state.bkMode == OPAQUE && !(options & ETO_OPAQUE))
      FillBand(dc, clip, BaselineBand(penX, penY, width, -metrics.ascent, metrics.descent, u, v), dc->state.bkColor);
    DrawRun(dc, *face, cps, penX, penY, clip, dx ? devDx.data() : nullptr, u.x, u.y);
    for (const auto& band : DecorationBands(*f, metrics, penX, penY, width, u, v))
      FillBand(dc, clip, band, dc->state.textColor);
  }
  if (updateCP && (align & TA_CENTER) != TA_CENTER && unit > 0)
    dc->state.position.x += static_cast<LONG>(std::lround(((align & TA_RIGHT) ? -width : width) / unit));
  return TRUE;
}

// Moves the current position past a run drawn along the device's x axis: its
// width in device pixels goes back through the map to logical units.
void AdvancePosition(DCObj* dc, int width) {
  LONG& x = dc->state.position.x;
  if (dc->state.plain) {
    x += width;
    return;
  }
  const double m11 = DeviceMatrix(dc).m11;
  if (m11 == 0 || !std::isfinite(m11)) return;
  x = ClampCoord(x + std::llround(std::clamp(width / m11, -double(kCoordLimit), double(kCoordLimit))));
}

// Text output at a reference point, following the DC's alignment.
BOOL OutputText(DCObj* dc, int x, int y, UINT options, const RECT* rect, const char* text, size_t count,
                const INT* dx) {
  if (!AxisAligned(dc)) return OutputTurnedText(dc, x, y, options, rect, text, count, dx);
  if (!dc->state.plain) {
    // A world transform that keeps the axes may still stretch, mirror or turn
    // the glyphs half round.
    if (FontObj* f = CurrentFont(dc)) {
      const TextFrame fr = FrameOf(dc, f->logFont);
      if (fr.shaped || fr.turn != 0) return OutputTurnedText(dc, x, y, options, rect, text, count, dx);
    }
  }
  Region clip = DrawableArea(dc);
  const bool inPath = PathOpen(dc);
  RECT devRect{};
  if (rect && !inPath) {
    devRect = RECT{DevX(dc, rect->left), DevY(dc, rect->top), DevX(dc, rect->right), DevY(dc, rect->bottom)};
    if (options & ETO_OPAQUE) FillDevice(dc, clip, devRect, dc->state.bkColor);
    if (options & ETO_CLIPPED)
      clip = Region::Combine(clip, Region::FromRect(devRect.left, devRect.top, devRect.right, devRect.bottom), RGN_AND);
  }
  std::vector<uint32_t> cps = Decode(dc, text, count);
  if (cps.empty()) return TRUE;
  std::vector<INT> scaledDx;
  if (dx && !dc->state.plain) {
    // Advances are logical: the pen positions go through the map and their steps become device advances.
    int64_t sum = 0;
    int prev = DevX(dc, 0);
    for (size_t i = 0; i < cps.size(); ++i) {
      sum += dx[i];
      int next = DevX(dc, static_cast<int>(std::clamp<int64_t>(sum, INT32_MIN / 2, INT32_MAX / 2)));
      scaledDx.push_back(next - prev);
      prev = next;
    }
    dx = scaledDx.data();
  }
  fontengine::Face* face = FaceOf(dc);
  if (!face) return FALSE;
  const auto& m = face->GetMetrics();
  int width = dx ? SumDx(dx, cps.size()) : RunWidth(*face, cps);
  UINT align = dc->state.textAlign;
  bool updateCP = align & TA_UPDATECP;
  int dxDev = updateCP ? DevX(dc, dc->state.position.x) : DevX(dc, x);
  int dyDev = updateCP ? DevY(dc, dc->state.position.y) : DevY(dc, y);
  int left = dxDev;
  if ((align & TA_CENTER) == TA_CENTER) left = dxDev - width / 2;
  else if (align & TA_RIGHT) left = dxDev - width;
  int baseline = dyDev + m.ascent;
  if ((align & TA_BASELINE) == TA_BASELINE) baseline = dyDev;
  else if (align & TA_BOTTOM) baseline = dyDev - m.descent;
  FontObj* f = CurrentFont(dc);
  bool rotated = f && f->logFont.lfEscapement != 0;
  // A font turned by its escapement runs its advances, background and lines
  // along its own baseline.
  double angle = rotated ? f->logFont.lfEscapement * kPi / 1800 : 0;
  double ux = rotated ? std::cos(angle) : 1, uy = rotated ? -std::sin(angle) : 0;
  if (inPath) {
    PathRun(dc, *face, cps, left, baseline, dx, ux, uy);
    if (f)
      for (const auto& band : DecorationBands(*f, m, left, baseline, width, {ux, uy}, {-uy, ux})) PathBand(dc, band);
    if (updateCP && (align & TA_CENTER) != TA_CENTER) AdvancePosition(dc, (align & TA_RIGHT) ? -width : width);
    return TRUE;
  }
  if (rotated) {
    if (dc->state.bkMode == OPAQUE && !(options & ETO_OPAQUE))
      FillBand(dc, clip, BaselineBand(left, baseline, width, -m.ascent, m.descent, {ux, uy}, {-uy, ux}),
               dc->state.bkColor);
    DrawRun(dc, *face, cps, left, baseline, clip, dx, ux, uy);
    for (const auto& band : DecorationBands(*f, m, left, baseline, width, {ux, uy}, {-uy, ux}))
      FillBand(dc, clip, band, dc->state.textColor);
  } else {
    if (dc->state.bkMode == OPAQUE && !(options & ETO_OPAQUE))
      FillDevice(dc, clip, RECT{left, baseline - m.ascent, left + width, baseline + m.descent}, dc->state.bkColor);
    DrawRun(dc, *face, cps, left, baseline, clip, dx);
    DrawDecorations(dc, *face, left, baseline, width, clip);
  }
  if (updateCP && (align & TA_CENTER) != TA_CENTER) AdvancePosition(dc, (align & TA_RIGHT) ? -width : width);
  return TRUE;
}

// DrawText's view of the string: lines, with prefixes and tabs resolved.
struct Line {
  std::vector<uint32_t> cps;
  int width = 0;
};

std::vector<uint32_t> ResolvePrefixes(const std::vector<uint32_t>& in, bool prefix) {
  if (!prefix) return in;
  std::vector<uint32_t> out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '&') {
      if (i + 1 < in.size() && in[i + 1] == '&') {
        out.push_back('&');
        ++i;
      }
      continue;
    }
    out.push_back(in[i]);
  }
  return out;
}

std::vector<Line> LayOut(fontengine::Face& face, const std::vector<uint32_t>& all, UINT format, int maxWidth) {
  std::vector<std::vector<uint32_t>> paragraphs(1);
  for (size_t i = 0; i < all.size(); ++i) {
    uint32_t c = all[i];
    if (c == '\r' || c == '\n') {
      if (format & DT_SINGLELINE) continue;
      if (c == '\r' && i + 1 < all.size() && all[i + 1] == '\n') ++i;
      paragraphs.emplace_back();
      continue;
    }
    if (c == '\t' && (format & DT_EXPANDTABS)) {
      for (int k = 0; k < 8; ++k) paragraphs.back().push_back(' ');
      continue;
    }
    paragraphs.back().push_back(c);
  }
  std::vector<Line> lines;
  for (auto& p : paragraphs) {
    if (!(format & DT_WORDBREAK) || (format & DT_SINGLELINE)) {
      lines.push_back(Line{p, RunWidth(face, p)});
      continue;
    }
    // Words go on a line while they fit; a word wider than the line stands alone.
    size_t i = 0;
    while (true) {
      std::vector<uint32_t> line;
      int width = 0, breakWidth = 0;
      size_t breakLen = 0, breakNext = 0, j = i;
      while (j < p.size()) {
        int adv = face.GetGlyph(p[j]).advance;
        if (p[j] == ' ') {
          breakLen = line.size();
          breakWidth = width;
          breakNext = j + 1;
        } else if (width + adv > maxWidth && breakNext > i) {
          line.resize(breakLen);
          width = breakWidth;
          j = breakNext;
          break;
        }
        line.push_back(p[j]);
        width += adv;
        ++j;
      }
      while (!line.empty() && line.back() == ' ') {
        width -= face.GetGlyph(' ').advance;
        line.pop_back();
      }
      lines.push_back(Line{std::move(line), width});
      i = j;
      while (i < p.size() && p[i] == ' ') ++i;
      if (i >= p.size()) break;
    }
  }
  return lines;
}

void Ellipsize(fontengine::Face& face, Line& line, int maxWidth) {
  if (line.width <= maxWidth) return;
  int dots = 3 * face.GetGlyph('.').advance;
  while (!line.cps.empty() && line.width + dots > maxWidth) {
    line.width -= face.GetGlyph(line.cps.back()).advance;
    line.cps.pop_back();
  }
  for (int k = 0; k < 3; ++k) line.cps.push_back('.');
  line.width += dots;
}

}  // namespace

}  // namespace qvgdi

using namespace qvgdi;

HFONT CreateFontIndirect(const LOGFONTA* font) {
  auto lock = Lock();
  if (!font) return nullptr;
  auto f = std::make_unique<FontObj>();
  f->logFont = *font;
  f->logFont.lfFaceName[LF_FACESIZE - 1] = 0;
  return static_cast<HFONT>(Register(std::move(f)));
}

BOOL TextOut(HDC hdc, int x, int y, const char* text, int count) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || count < 0 || (count > 0 && !text)) return FALSE;
  if (dc->recorder) return RecText(dc, x, y, 0, nullptr, text, static_cast<UINT>(count), nullptr);
  return OutputText(dc, x, y, 0, nullptr, text, static_cast<size_t>(count), nullptr);
}

BOOL ExtTextOut(HDC hdc, int x, int y, UINT options, const RECT* rect, const char* text, UINT count, const INT* dx) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || (count > 0 && !text) || count > (1u << 24)) return FALSE;
  if (dc->recorder) return RecText(dc, x, y, options, rect, text, count, dx);
  if (dx && count > 0) {
    // Advances are given per character; a multi-byte character takes the first of its bytes'.
    std::vector<uint32_t> cps = Decode(dc, text, count);
    if (cps.size() != count) {
      std::vector<INT> perChar;
      size_t byte = 0;
      for (uint32_t cp : cps) {
        perChar.push_back(dx[std::min<size_t>(byte, count - 1)]);
        byte += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
      }
      return OutputText(dc, x, y, options, rect, text, count, perChar.data());
    }
  }
  return OutputText(dc, x, y, options, rect, text, count, dx);
}

BOOL GetTextExtentPoint32(HDC hdc, const char* text, int count, SIZE* size) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !size || count < 0 || (count > 0 && !text)) return FALSE;
  fontengine::Face* face = FaceOf(dc);
  if (!face) return FALSE;
  const TextScale sc = ScaleOf(dc);
  size->cx = ToLogical(RunWidth(*face, Decode(dc, text, static_cast<size_t>(count))), sc.along);
  size->cy = MetricsOf(face->GetMetrics(), sc).height;
  return TRUE;
}

BOOL GetTextMetrics(HDC hdc, TEXTMETRICA* tm) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !tm) return FALSE;
  fontengine::Face* face = FaceOf(dc);
  FontObj* f = CurrentFont(dc);
  if (!face || !f) return FALSE;
  const auto& m = face->GetMetrics();
  const fontengine::Metrics lm = MetricsOf(m, ScaleOf(dc));
  *tm = TEXTMETRICA();
  tm->tmHeight = lm.height;
  tm->tmAscent = lm.ascent;
  tm->tmDescent = lm.descent;
  tm->tmInternalLeading = lm.internalLeading;
  tm->tmExternalLeading = lm.externalLeading;
  tm->tmAveCharWidth = lm.aveCharWidth;
  tm->tmMaxCharWidth = lm.maxCharWidth;
  tm->tmWeight = m.weight;
  tm->tmDigitizedAspectX = 96;
  tm->tmDigitizedAspectY = 96;
  tm->tmFirstChar = 0x20;
  tm->tmLastChar = 0xFF;
  tm->tmDefaultChar = 0x1F;
  tm->tmBreakChar = 0x20;
  tm->tmItalic = m.italic ? 1 : 0;
  tm->tmUnderlined = f->logFont.lfUnderline ? 1 : 0;
  tm->tmStruckOut = f->logFont.lfStrikeOut ? 1 : 0;
  // The "fixed pitch" bit is set for variable-pitch fonts, as documented.
  bool fixed = face->GetGlyph('i').advance == face->GetGlyph('W').advance;
  tm->tmPitchAndFamily = static_cast<BYTE>(TMPF_TRUETYPE | TMPF_VECTOR | (fixed ? 0 : TMPF_FIXED_PITCH) | FF_SWISS);
  tm->tmCharSet = ANSI_CHARSET;
  return TRUE;
}

DWORD GetGlyphOutline(HDC hdc, UINT ch, UINT format, GLYPHMETRICS* metrics, DWORD, void*, const MAT2* matrix) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !metrics || format != GGO_METRICS) return GDI_ERROR;
  if (matrix && (matrix->eM11.value != 1 || matrix->eM11.fract != 0 || matrix->eM22.value != 1 ||
                 matrix->eM22.fract != 0 || matrix->eM12.value != 0 || matrix->eM12.fract != 0 ||
                 matrix->eM21.value != 0 || matrix->eM21.fract != 0))
    return GDI_ERROR;
  fontengine::Face* face = FaceOf(dc);
  if (!face) return GDI_ERROR;
  uint32_t cp = ch;
  if (ch < 0x100) {
    const char byte = static_cast<char>(ch);
    std::vector<uint32_t> cps = Decode(dc, &byte, 1);
    if (!cps.empty()) cp = cps[0];
  }
  const fontengine::Glyph& g = face->GetGlyph(cp);
  *metrics = GLYPHMETRICS();
  // An empty glyph (a space) has a one-pixel black box, as documented.
  metrics->gmBlackBoxX = static_cast<UINT>(std::max(g.width, 1));
  metrics->gmBlackBoxY = static_cast<UINT>(std::max(g.height, 1));
  metrics->gmptGlyphOrigin = POINT{g.left, g.top};
  metrics->gmCellIncX = static_cast<short>(std::clamp(g.advanceX64 / 64, -32768, 32767));
  metrics->gmCellIncY = static_cast<short>(std::clamp(-g.advanceY64 / 64, -32768, 32767));
  return 0;
}

int DrawText(HDC hdc, const char* text, int count, RECT* rect, UINT format) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !rect || (count != 0 && !text)) return 0;
  size_t n = count < 0 ? std::strlen(text) : static_cast<size_t>(count);
  fontengine::Face* face = FaceOf(dc);
  if (!face) return 0;
  // Lines are broken and measured on the face at its device size, and laid
  // out in logical units, the rectangle's: across the way the text reads and
  // down the way its lines go under the map.
  const auto& m = face->GetMetrics();
  const TextScale sc = ScaleOf(dc);
  const fontengine::Metrics lm = MetricsOf(m, sc);
  const Reading rd = ReadingOf(dc);
  auto narrow = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  const int64_t startX = int64_t{rd.x} * rect->left, endX = int64_t{rd.x} * rect->right;
  const int64_t startY = int64_t{rd.y} * rect->top, endY = int64_t{rd.y} * rect->bottom;
  const int lineHeight = lm.height + ((format & DT_EXTERNALLEADING) ? lm.externalLeading : 0);
  const int boxWidth = narrow(endX - startX);
  const int faceWidth = ToFace(boxWidth, sc.along);
  std::vector<uint32_t> cps = ResolvePrefixes(Decode(dc, text, n), !(format & DT_NOPREFIX));
  std::vector<Line> lines = LayOut(*face, cps, format, faceWidth);
  if (format & (DT_END_ELLIPSIS | DT_WORD_ELLIPSIS | DT_PATH_ELLIPSIS))
    for (Line& l : lines) Ellipsize(*face, l, faceWidth);
  int textHeight = static_cast<int>(std::min<int64_t>(int64_t{lineHeight} * static_cast<int64_t>(lines.size()), INT32_MAX / 2));
  if (format & DT_CALCRECT) {
    int widest = 0;
    for (const Line& l : lines) widest = std::max(widest, ToLogical(l.width, sc.along));
    if (!(format & DT_WORDBREAK) || widest > boxWidth || n == 0) rect->right = narrow(rect->left + int64_t{rd.x} * widest);
    rect->bottom = narrow(rect->top + int64_t{rd.y} * textHeight);
    return textHeight;
  }
  int64_t top = startY;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER) top = startY + (endY - startY - textHeight) / 2;
    else if (format & DT_BOTTOM) top = endY - textHeight;
  }
  Region clip = DrawableArea(dc);
  if (!(format & DT_NOCLIP)) {
    RECT d{DevX(dc, rect->left), DevY(dc, rect->top), DevX(dc, rect->right), DevY(dc, rect->bottom)};
    clip = Region::Combine(clip, Region::FromRect(d.left, d.top, d.right, d.bottom), RGN_AND);
  }
  // Under a map that turns, leans, stretches or mirrors text, each line goes
  // out as text at its place, the way its record plays back.
  bool mapped = false;
  if (!dc->state.plain && !dc->recorder) {
    FontObj* f = CurrentFont(dc);
    const TextFrame fr = f ? FrameOf(dc, f->logFont) : TextFrame{};
    mapped = !AxisAligned(dc) || fr.shaped || fr.turn != 0;
  }
  // The lines' records hang from their top left corners: the metafile says so
  // itself, so that it plays back as drawn whatever alignment the DC had.
  const UINT align = dc->state.textAlign;
  const bool realign = dc->recorder && align != (TA_TOP | TA_LEFT);
  if (realign) RecState(dc, EMR_SETTEXTALIGN, {TA_TOP | TA_LEFT});
  int64_t down = top;
  for (const Line& l : lines) {
    const int width = ToLogical(l.width, sc.along);
    int64_t along = startX;
    if (format & DT_CENTER) along = startX + (int64_t{boxWidth} - width) / 2;
    else if (format & DT_RIGHT) along = endX - width;
    const int x = narrow(rd.x * along), y = narrow(rd.y * down);
    down += lineHeight;
    if (dc->recorder || mapped) {
      // Kept as text records, one per line, clipped like the box.
      std::string bytes;
      for (uint32_t c : l.cps) AppendUtf8(bytes, c);
      const UINT options = (format & DT_NOCLIP) ? 0 : ETO_CLIPPED;
      if (dc->recorder) {
        RecText(dc, x, y, options, rect, bytes.data(), static_cast<UINT>(bytes.size()), nullptr);
      } else {
        dc->state.textAlign = TA_TOP | TA_LEFT;
        OutputTurnedText(dc, x, y, options, rect, bytes.data(), bytes.size(), nullptr);
        dc->state.textAlign = align;
      }
      continue;
    }
    int dx = DevX(dc, x), dy = DevY(dc, y);
    if (dc->state.bkMode == OPAQUE)
      FillDevice(dc, clip, RECT{dx, dy, dx + l.width, dy + m.height}, dc->state.bkColor);
    DrawRun(dc, *face, l.cps, dx, dy + m.ascent, clip, nullptr);
    DrawDecorations(dc, *face, dx, dy + m.ascent, l.width, clip);
  }
  if (realign) RecState(dc, EMR_SETTEXTALIGN, {align});
  return (format & (DT_VCENTER | DT_BOTTOM)) && (format & DT_SINGLELINE) ? narrow(top - startY + textHeight) : textHeight;
}
