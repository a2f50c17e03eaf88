// Faces come from fontconfig, glyphs from FreeType. Windows programs ask for
// faces by their Windows names, so those are mapped onto the metric-compatible
// or look-alike families a Linux system ships before fontconfig is asked.
#include "platform/graphics/font_engine.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <list>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/rtl/exceptions.h"

namespace fontengine {
namespace {

// FreeType's library object and fontconfig's configuration are shared by every
// face; opening and closing faces goes through this lock.
std::mutex& LibraryLock() {
  static std::mutex m;
  return m;
}

FT_Library Library() {
  static FT_Library lib = [] {
    FT_Library l = nullptr;
    if (FT_Init_FreeType(&l) != 0) throw Exception("The font rasteriser could not be started");
    return l;
  }();
  return lib;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// Families to try, in order, for the Windows faces programs of this kind name.
const std::vector<std::string>* CandidatesFor(const std::string& lowerName) {
  static const std::vector<std::string> arial{"Liberation Sans", "Arimo", "DejaVu Sans"};
  static const std::vector<std::string> ui{"DejaVu Sans", "Liberation Sans", "Arimo"};
  static const std::vector<std::string> mono{"Liberation Mono", "Cousine", "DejaVu Sans Mono"};
  static const std::vector<std::string> serif{"Liberation Serif", "Tinos", "DejaVu Serif"};
  static const std::map<std::string, const std::vector<std::string>*> table{
      {"arial", &arial},           {"helvetica", &arial},       {"arial narrow", &arial},
      {"ms sans serif", &ui},      {"microsoft sans serif", &ui}, {"ms shell dlg", &ui},
      {"ms shell dlg 2", &ui},     {"tahoma", &ui},             {"segoe ui", &ui},
      {"verdana", &ui},            {"system", &ui},             {"default", &ui},
      {"small fonts", &ui},        {"courier new", &mono},      {"courier", &mono},
      {"lucida console", &mono},   {"consolas", &mono},         {"fixedsys", &mono},
      {"terminal", &mono},         {"times new roman", &serif}, {"times", &serif},
      {"ms serif", &serif},        {"georgia", &serif},
  };
  auto it = table.find(lowerName);
  return it == table.end() ? nullptr : it->second;
}

// The family fontconfig really has for a name, or empty when it would only
// substitute another one.
std::string InstalledFamily(const std::string& family) {
  FcPattern* pat = FcPatternCreate();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pat, &result);
  std::string found;
  if (match) {
    FcChar8* name = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
      if (Lower(reinterpret_cast<const char*>(name)) == Lower(family)) {
        found = reinterpret_cast<const char*>(name);
        break;
      }
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pat);
  return found;
}

std::string ResolveFamilyLocked(const std::string& windowsFace) {
  static std::map<std::string, std::string> cache;
  static bool fcReady = false;
  if (!fcReady) {
    if (!FcInit()) throw Exception("The font configuration could not be loaded");
    fcReady = true;
  }
  const std::string key = Lower(Trim(windowsFace));
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;

  std::vector<std::string> tries;
  if (const auto* list = CandidatesFor(key)) {
    tries = *list;
  } else if (!key.empty()) {
    tries.push_back(Trim(windowsFace));
  }
  tries.insert(tries.end(), {"DejaVu Sans", "Liberation Sans", "sans-serif"});
  std::string family;
  for (const auto& t : tries) {
    family = InstalledFamily(t);
    if (!family.empty()) break;
  }
  if (family.empty()) family = "sans-serif";  // fontconfig's own choice below
  cache[key] = family;
  return family;
}

struct MatchedFile {
  std::string path;
  int index = 0;
  int weight = FC_WEIGHT_REGULAR;
  int slant = FC_SLANT_ROMAN;
};

MatchedFile MatchFile(const std::string& family, int weight, bool italic) {
  FcPattern* pat = FcPatternCreate();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pat, FC_WEIGHT, FcWeightFromOpenType(weight));
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pat, &result);
  FcPatternDestroy(pat);
  MatchedFile out;
  if (!match) throw Exception("No font is installed");
  FcChar8* file = nullptr;
  if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) out.path = reinterpret_cast<const char*>(file);
  FcPatternGetInteger(match, FC_INDEX, 0, &out.index);
  FcPatternGetInteger(match, FC_WEIGHT, 0, &out.weight);
  FcPatternGetInteger(match, FC_SLANT, 0, &out.slant);
  FcPatternDestroy(match);
  if (out.path.empty()) throw Exception("No font is installed");
  return out;
}

int RoundDiv(double v) { return static_cast<int>(std::lround(v)); }

constexpr int kDefaultHeight = -13;
// Sizes past this are no text anyone reads; they would only cost memory.
constexpr int64_t kMaxPixels = 4096;

// A matrix entry in FreeType's 16.16 fixed point, within what it can hold.
int64_t FixedOf(double v) { return std::llround(std::clamp(std::isfinite(v) ? v : 0.0, -16384.0, 16384.0) * 0x10000); }

// Whether a spec's matrix changes the glyphs at all (as FreeType would see it).
bool Shaped(const FontSpec& s) {
  return FixedOf(s.matrix[0]) != 0x10000 || FixedOf(s.matrix[1]) != 0 || FixedOf(s.matrix[2]) != 0 ||
         FixedOf(s.matrix[3]) != 0x10000;
}

class FtFace final : public Face {
public:
  FtFace(const FontSpec& spec, const std::string& family);
  ~FtFace() override {
    std::lock_guard<std::mutex> lock(LibraryLock());
    FT_Done_Face(FFace);
  }
  const Metrics& GetMetrics() const override { return FMetrics; }
  const Glyph& GetGlyph(uint32_t codePoint) override;
  int Kerning(uint32_t left, uint32_t right) override;
  GlyphOutline GetOutline(uint32_t codePoint) override;

private:
  void ComputeMetrics(const FontSpec& spec, int ppem, int xppem);
  // Loads a glyph into the face's slot with the simulated styles and the turn
  // and shape applied to its outline; the advance comes back transformed too.
  bool Load(uint32_t codePoint, FT_Vector& advance);
  Glyph Render(uint32_t codePoint);

  FT_Face FFace = nullptr;
  Metrics FMetrics;
  std::mutex FLock;
  std::unordered_map<uint32_t, Glyph> FGlyphs;
  bool FEmbolden = false;
  bool FOblique = false;
  bool FTransform = false;
  bool FAntialiased = true;
  FT_Matrix FTransformation{0x10000, 0, 0, 0x10000};
};

FtFace::FtFace(const FontSpec& spec, const std::string& family) {
  const int weight = spec.weight <= 0 ? 400 : std::clamp(spec.weight, 1, 1000);
  MatchedFile file;
  {
    std::lock_guard<std::mutex> lock(LibraryLock());
    file = MatchFile(family, weight, spec.italic);
    if (FT_New_Face(Library(), file.path.c_str(), file.index, &FFace) != 0)
      throw Exception("The font file " + file.path + " could not be opened");
  }
  // Windows simulates bold and italic when the family lacks them.
  FEmbolden = weight >= 600 && file.weight < FC_WEIGHT_DEMIBOLD;
  FOblique = spec.italic && file.slant == FC_SLANT_ROMAN;
  FAntialiased = spec.antialiased;

  const int upem = FFace->units_per_EM > 0 ? FFace->units_per_EM : 2048;
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(FFace, FT_SFNT_OS2));
  int cellUnits = os2 && os2->usWinAscent + os2->usWinDescent > 0 ? os2->usWinAscent + os2->usWinDescent
                                                                    : FFace->ascender - FFace->descender;
  if (cellUnits <= 0) cellUnits = upem;
  const int64_t height = std::clamp<int64_t>(spec.height == 0 ? kDefaultHeight : spec.height, -kMaxPixels, kMaxPixels);
  // A negative height asks for the em (character) size, a positive one for the
  // cell, which also holds the internal leading.
  int ppem = height < 0 ? static_cast<int>(-height) : RoundDiv(static_cast<double>(height) * upem / cellUnits);
  ppem = std::max(ppem, 1);
  int xppem = ppem;
  if (spec.width > 0) {
    int avg = os2 && os2->xAvgCharWidth > 0 ? os2->xAvgCharWidth : upem / 2;
    xppem = std::clamp(RoundDiv(static_cast<double>(std::min<int64_t>(spec.width, kMaxPixels)) * upem / avg), 1, static_cast<int>(kMaxPixels) * 4);
  }
  if (FT_Set_Pixel_Sizes(FFace, static_cast<FT_UInt>(xppem), static_cast<FT_UInt>(ppem)) != 0) {
    // Bitmap-only faces offer fixed sizes; take the first one.
    if (FFace->num_fixed_sizes > 0) FT_Select_Size(FFace, 0);
  }
  FT_Select_Charmap(FFace, FT_ENCODING_UNICODE);
  const bool shaped = Shaped(spec);
  if (spec.escapement % 3600 != 0 || shaped) {
    FTransform = true;
    const double a = spec.escapement / 10.0 * M_PI / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    double t[4] = {c, -s, s, c};
    if (shaped) {
      // The shape goes after the turn. A shape that would blow a glyph up past
      // any readable size is scaled down to it, so no glyph bitmap grows
      // without bound.
      double m[4];
      for (int i = 0; i < 4; ++i) m[i] = static_cast<double>(FixedOf(spec.matrix[i])) / 0x10000;
      double r[4] = {m[0] * c + m[1] * s, -m[0] * s + m[1] * c, m[2] * c + m[3] * s, -m[2] * s + m[3] * c};
      const double reach = std::max({std::abs(r[0]) + std::abs(r[1]), std::abs(r[2]) + std::abs(r[3])});
      const double limit = static_cast<double>(kMaxPixels) / std::max(ppem, xppem);
      const double k = reach > limit ? limit / reach : 1;
      for (int i = 0; i < 4; ++i) t[i] = r[i] * k;
    }
    FTransformation.xx = static_cast<FT_Fixed>(std::lround(t[0] * 0x10000));
    FTransformation.xy = static_cast<FT_Fixed>(std::lround(t[1] * 0x10000));
    FTransformation.yx = static_cast<FT_Fixed>(std::lround(t[2] * 0x10000));
    FTransformation.yy = static_cast<FT_Fixed>(std::lround(t[3] * 0x10000));
  }
  ComputeMetrics(spec, ppem, xppem);
  FMetrics.weight = weight;
  FMetrics.italic = spec.italic;
  FMetrics.faceName = FFace->family_name ? FFace->family_name : family;
  if (height > 0 && FMetrics.height != height) {
    // Rounding the em to whole pixels may miss the asked cell by one; the cell
    // is what the caller laid out for, so the descent takes the difference.
    FMetrics.descent = std::max(0, static_cast<int>(height) - FMetrics.ascent);
    FMetrics.height = FMetrics.ascent + FMetrics.descent;
    FMetrics.internalLeading = std::max(0, FMetrics.height - ppem);
  }
}

void FtFace::ComputeMetrics(const FontSpec& spec, int ppem, int xppem) {
  const double upem = FFace->units_per_EM > 0 ? FFace->units_per_EM : 2048;
  const double sy = ppem / upem;
  const double sx = xppem / upem;
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(FFace, FT_SFNT_OS2));
  const int hheaAscent = FFace->ascender;
  const int hheaDescent = -FFace->descender;
  const int winAscent = os2 && os2->usWinAscent + os2->usWinDescent > 0 ? os2->usWinAscent : hheaAscent;
  const int winDescent = os2 && os2->usWinAscent + os2->usWinDescent > 0 ? os2->usWinDescent : hheaDescent;
  Metrics& m = FMetrics;
  m.ascent = std::max(0, RoundDiv(winAscent * sy));
  m.descent = std::max(0, RoundDiv(winDescent * sy));
  m.height = m.ascent + m.descent;
  m.internalLeading = std::max(0, m.height - ppem);
  const int lineGap = FFace->height - (hheaAscent + hheaDescent);
  const int extra = lineGap - ((winAscent + winDescent) - (hheaAscent + hheaDescent));
  m.externalLeading = std::max(0, RoundDiv(extra * sy));
  m.aveCharWidth = os2 && os2->xAvgCharWidth > 0 ? RoundDiv(os2->xAvgCharWidth * sx) : RoundDiv(xppem / 2.0);
  if (spec.width > 0) m.aveCharWidth = spec.width;
  m.maxCharWidth = RoundDiv(FFace->max_advance_width * sx);
  m.underlinePosition = std::max(1, RoundDiv(-FFace->underline_position * sy));
  m.underlineThickness = std::max(1, RoundDiv(FFace->underline_thickness * sy));
  if (os2 && os2->yStrikeoutSize > 0) {
    m.strikeoutPosition = RoundDiv(os2->yStrikeoutPosition * sy);
    m.strikeoutThickness = std::max(1, RoundDiv(os2->yStrikeoutSize * sy));
  } else {
    m.strikeoutPosition = m.ascent / 3;
    m.strikeoutThickness = m.underlineThickness;
  }
  if (FEmbolden) {
    m.aveCharWidth += 1;
    m.maxCharWidth += 1;
  }
}

bool FtFace::Load(uint32_t codePoint, FT_Vector& adv) {
  FT_UInt index = FT_Get_Char_Index(FFace, codePoint);
  FT_Int32 flags = FT_LOAD_NO_BITMAP | (FAntialiased ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO);
  if (FT_Load_Glyph(FFace, index, flags) != 0 && FT_Load_Glyph(FFace, 0, flags) != 0) return false;
  FT_GlyphSlot slot = FFace->glyph;
  adv = FT_Vector{slot->metrics.horiAdvance, 0};
  if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    if (FOblique) {
      FT_Matrix shear{0x10000, 0x0366A, 0, 0x10000};  // about 12 degrees, as italics lean
      FT_Outline_Transform(&slot->outline, &shear);
    }
    if (FEmbolden) {
      // One pixel wider and one pixel more advance, as simulated bold is.
      FT_Outline_EmboldenXY(&slot->outline, 64, 0);
      adv.x += 64;
    }
    if (FTransform) {
      FT_Outline_Transform(&slot->outline, &FTransformation);
      FT_Vector_Transform(&adv, &FTransformation);
    }
  }
  return true;
}

Glyph FtFace::Render(uint32_t codePoint) {
  Glyph g;
  FT_Vector adv{0, 0};
  if (!Load(codePoint, adv)) return g;
  FT_GlyphSlot slot = FFace->glyph;
  g.advance = static_cast<int>((slot->metrics.horiAdvance + (FEmbolden ? 64 : 0) + 32) >> 6);
  g.advanceX64 = FTransform ? static_cast<int>(adv.x) : g.advance * 64;
  g.advanceY64 = FTransform ? static_cast<int>(adv.y) : 0;
  if (FT_Render_Glyph(slot, FAntialiased ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0) return g;
  const FT_Bitmap& bm = slot->bitmap;
  g.width = static_cast<int>(bm.width);
  g.height = static_cast<int>(bm.rows);
  g.left = slot->bitmap_left;
  g.top = slot->bitmap_top;
  g.coverage.assign(static_cast<size_t>(g.width) * g.height, 0);
  for (int y = 0; y < g.height; ++y) {
    const unsigned char* row = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
    uint8_t* out = g.coverage.data() + static_cast<size_t>(y) * g.width;
    if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
      for (int x = 0; x < g.width; ++x) out[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    } else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
      const int levels = bm.num_grays > 1 ? bm.num_grays - 1 : 255;
      for (int x = 0; x < g.width; ++x) out[x] = static_cast<uint8_t>(row[x] * 255 / levels);
    }
  }
  return g;
}

const Glyph& FtFace::GetGlyph(uint32_t codePoint) {
  std::lock_guard<std::mutex> lock(FLock);
  auto it = FGlyphs.find(codePoint);
  if (it != FGlyphs.end()) return it->second;
  return FGlyphs.emplace(codePoint, Render(codePoint)).first->second;
}

namespace {

// Walks an outline into contours of points, curves cut into short lines.
struct OutlineWalk {
  GlyphOutline out;
  FT_Vector last{0, 0};

  static OutlineWalk& Of(void* user) { return *static_cast<OutlineWalk*>(user); }
  void Add(double x, double y) { out.back().push_back(OutlinePoint{x / 64, y / 64}); }
  // Enough pieces that each spans about a pixel, within bounds.
  static int Pieces(double length64) { return static_cast<int>(std::clamp(length64 / 64, 2.0, 64.0)); }

  static int MoveTo(const FT_Vector* to, void* user) {
    OutlineWalk& w = Of(user);
    w.out.emplace_back();
    w.Add(to->x, to->y);
    w.last = *to;
    return 0;
  }
  static int LineTo(const FT_Vector* to, void* user) {
    OutlineWalk& w = Of(user);
    if (w.out.empty()) w.out.emplace_back();
    w.Add(to->x, to->y);
    w.last = *to;
    return 0;
  }
  static int ConicTo(const FT_Vector* c, const FT_Vector* to, void* user) {
    OutlineWalk& w = Of(user);
    if (w.out.empty()) w.out.emplace_back();
    const double x0 = w.last.x, y0 = w.last.y;
    int n = Pieces(std::hypot(c->x - x0, c->y - y0) + std::hypot(to->x - c->x, to->y - c->y));
    for (int i = 1; i <= n; ++i) {
      double t = double(i) / n, s = 1 - t;
      w.Add(s * s * x0 + 2 * s * t * c->x + t * t * to->x, s * s * y0 + 2 * s * t * c->y + t * t * to->y);
    }
    w.last = *to;
    return 0;
  }
  static int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    OutlineWalk& w = Of(user);
    if (w.out.empty()) w.out.emplace_back();
    const double x0 = w.last.x, y0 = w.last.y;
    int n = Pieces(std::hypot(c1->x - x0, c1->y - y0) + std::hypot(c2->x - c1->x, c2->y - c1->y) +
                   std::hypot(to->x - c2->x, to->y - c2->y));
    for (int i = 1; i <= n; ++i) {
      double t = double(i) / n, s = 1 - t;
      double a = s * s * s, b = 3 * s * s * t, c = 3 * s * t * t, d = t * t * t;
      w.Add(a * x0 + b * c1->x + c * c2->x + d * to->x, a * y0 + b * c1->y + c * c2->y + d * to->y);
    }
    w.last = *to;
    return 0;
  }
};

}  // namespace

GlyphOutline FtFace::GetOutline(uint32_t codePoint) {
  std::lock_guard<std::mutex> lock(FLock);
  FT_Vector adv{0, 0};
  if (!Load(codePoint, adv) || FFace->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return {};
  OutlineWalk walk;
  FT_Outline_Funcs funcs{};
  funcs.move_to = &OutlineWalk::MoveTo;
  funcs.line_to = &OutlineWalk::LineTo;
  funcs.conic_to = &OutlineWalk::ConicTo;
  funcs.cubic_to = &OutlineWalk::CubicTo;
  if (FT_Outline_Decompose(&FFace->glyph->outline, &funcs, &walk) != 0) return {};
  std::erase_if(walk.out, [](const auto& contour) { return contour.size() < 3; });
  return std::move(walk.out);
}

int FtFace::Kerning(uint32_t left, uint32_t right) {
  std::lock_guard<std::mutex> lock(FLock);
  if (!FT_HAS_KERNING(FFace)) return 0;
  FT_Vector k{0, 0};
  if (FT_Get_Kerning(FFace, FT_Get_Char_Index(FFace, left), FT_Get_Char_Index(FFace, right), FT_KERNING_DEFAULT, &k) != 0)
    return 0;
  return static_cast<int>((k.x + 32) >> 6);
}

std::string CacheKey(const FontSpec& s) {
  std::string key = Lower(Trim(s.face)) + '|' + std::to_string(s.height) + '|' + std::to_string(s.width) + '|' +
                    std::to_string(s.weight) + '|' + std::to_string(s.italic) + '|' +
                    std::to_string(s.escapement % 3600) + '|' + std::to_string(s.antialiased);
  if (Shaped(s))
    for (double v : s.matrix) key += '|' + std::to_string(FixedOf(v));
  return key;
}

// Recently used faces stay open; a drawing loop that selects the same font again
// and again must not reopen the file each time.
constexpr size_t kFaceCacheSize = 32;

}  // namespace

std::string ResolveFamily(const std::string& windowsFace) {
  std::lock_guard<std::mutex> lock(LibraryLock());
  return ResolveFamilyLocked(windowsFace);
}

std::shared_ptr<Face> OpenFace(const FontSpec& spec) {
  static std::mutex cacheLock;
  static std::list<std::pair<std::string, std::shared_ptr<Face>>> cache;
  const std::string key = CacheKey(spec);
  std::lock_guard<std::mutex> lock(cacheLock);
  for (auto it = cache.begin(); it != cache.end(); ++it) {
    if (it->first == key) {
      cache.splice(cache.begin(), cache, it);
      return cache.front().second;
    }
  }
  std::string family = ResolveFamily(spec.face);
  auto face = std::make_shared<FtFace>(spec, family);
  cache.emplace_front(key, face);
  if (cache.size() > kFaceCacheSize) cache.pop_back();
  return face;
}

std::vector<std::string> InstalledFamilies() {
  std::lock_guard<std::mutex> lock(LibraryLock());
  if (!FcInit()) return {};
  FcPattern* pat = FcPatternCreate();
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* set = FcFontList(nullptr, pat, os);
  std::vector<std::string> out;
  if (set) {
    for (int i = 0; i < set->nfont; ++i) {
      FcChar8* name = nullptr;
      if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &name) == FcResultMatch && name)
        out.emplace_back(reinterpret_cast<const char*>(name));
    }
    FcFontSetDestroy(set);
  }
  FcObjectSetDestroy(os);
  FcPatternDestroy(pat);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

uint32_t Windows1252ToCodePoint(uint8_t b) {
  static const uint16_t cp1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return b >= 0x80 && b <= 0x9F ? cp1252[b - 0x80] : b;
}

namespace {

// Bytes 0x80 to 0xFF of the two other code pages text may come in.
const uint16_t kCp1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};
const uint16_t kCp1253[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x0088, 0x2030, 0x008A, 0x2039, 0x008C, 0x008D, 0x008E, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x009A, 0x203A, 0x009C, 0x009D, 0x009E, 0x009F,
    0x00A0, 0x0385, 0x0386, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x2015,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x0384, 0x00B5, 0x00B6, 0x00B7,
    0x0388, 0x0389, 0x038A, 0x00BB, 0x038C, 0x00BD, 0x038E, 0x038F,
    0x0390, 0x0391, 0x0392, 0x0393, 0x0394, 0x0395, 0x0396, 0x0397,
    0x0398, 0x0399, 0x039A, 0x039B, 0x039C, 0x039D, 0x039E, 0x039F,
    0x03A0, 0x03A1, 0x00D2, 0x03A3, 0x03A4, 0x03A5, 0x03A6, 0x03A7,
    0x03A8, 0x03A9, 0x03AA, 0x03AB, 0x03AC, 0x03AD, 0x03AE, 0x03AF,
    0x03B0, 0x03B1, 0x03B2, 0x03B3, 0x03B4, 0x03B5, 0x03B6, 0x03B7,
    0x03B8, 0x03B9, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BE, 0x03BF,
    0x03C0, 0x03C1, 0x03C2, 0x03C3, 0x03C4, 0x03C5, 0x03C6, 0x03C7,
    0x03C8, 0x03C9, 0x03CA, 0x03CB, 0x03CC, 0x03CD, 0x03CE, 0x00FF,
};

}  // namespace

int CodePageOfCharset(int charset) { return charset == 161 ? 1253 : charset == 204 ? 1251 : 1252; }

std::vector<uint32_t> DecodeText(const std::string& text) { return DecodeText(text, 1252); }

std::vector<uint32_t> DecodeText(const std::string& text, int codePage) {
  std::vector<uint32_t> out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    uint8_t b = p[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int len = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    uint32_t cp = len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
    bool ok = len > 0 && i + len <= n;
    for (int k = 1; ok && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not text of ours.
    if (ok && ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
               (cp >= 0xD800 && cp <= 0xDFFF)))
      ok = false;
    if (ok) {
      out.push_back(cp);
      i += len;
    } else {
      if (codePage == 1251)
        out.push_back(kCp1251[b - 0x80]);
      else if (codePage == 1253)
        out.push_back(kCp1253[b - 0x80]);
      else
        out.push_back(Windows1252ToCodePoint(b));
      ++i;
    }
  }
  return out;
}

}  // namespace fontengine
