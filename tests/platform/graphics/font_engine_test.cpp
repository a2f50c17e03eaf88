#include "platform/graphics/font_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <sstream>

#include "pillow_oracle.h"

using namespace fontengine;

namespace {

FontSpec Spec(const std::string& face, int height, int weight = 400) {
  FontSpec s;
  s.face = face;
  s.height = height;
  s.weight = weight;
  return s;
}

int Advance(Face& face, const std::string& text) {
  int w = 0;
  for (uint32_t cp : DecodeText(text)) w += face.GetGlyph(cp).advance;
  return w;
}

}  // namespace

TEST(FontEngine, WindowsFaceNamesMapOntoInstalledFamilies) {
  struct Case {
    const char* windowsName;
    const char* mustContain;  // a family of the same kind: sans, mono or serif
  } cases[] = {
      {"MS Sans Serif", "Sans"}, {"Arial", "Sans"},          {"Tahoma", "Sans"},
      {"Segoe UI", "Sans"},      {"Verdana", "Sans"},        {"Courier New", "Mono"},
      {"Times New Roman", "Serif"}, {"", "Sans"},            {"No Such Face 4711", "Sans"},
  };
  for (const auto& c : cases) {
    std::string family = ResolveFamily(c.windowsName);
    EXPECT_NE(family.find(c.mustContain), std::string::npos) << c.windowsName << " -> " << family;
    // A serif request must not land on the sans face or the other way round.
    if (std::string(c.mustContain) == "Sans") {
      EXPECT_EQ(family.find("Mono"), std::string::npos) << c.windowsName;
    }
  }
  EXPECT_EQ(ResolveFamily("arial"), ResolveFamily("  Arial "));
}

TEST(FontEngine, HeightFollowsLogicalFontRules) {
  // Negative: the em is the asked size, the cell adds internal leading.
  for (int h : {-8, -11, -13, -24, -48}) {
    auto f = OpenFace(Spec("Tahoma", h));
    const Metrics& m = f->GetMetrics();
    EXPECT_EQ(m.height, m.ascent + m.descent) << h;
    EXPECT_EQ(m.height - m.internalLeading, -h) << h;
    EXPECT_GT(m.internalLeading, 0) << h;
  }
  // Positive: the cell is the asked size.
  for (int h : {8, 13, 16, 32, 49}) {
    auto f = OpenFace(Spec("Tahoma", h));
    const Metrics& m = f->GetMetrics();
    EXPECT_EQ(m.height, h) << h;
    EXPECT_EQ(m.height, m.ascent + m.descent) << h;
    EXPECT_LT(m.height - m.internalLeading, h) << h;
  }
  // Zero is the default size, not an empty font.
  EXPECT_EQ(OpenFace(Spec("Tahoma", 0))->GetMetrics().height, OpenFace(Spec("Tahoma", -13))->GetMetrics().height);
}

TEST(FontEngine, HugeAndHostileSpecsStayBounded) {
  for (int h : {INT32_MIN, INT32_MAX, -100000}) {
    FontSpec s = Spec("Arial", h);
    s.width = INT32_MAX;
    auto f = OpenFace(s);
    EXPECT_LE(f->GetMetrics().height, 8192) << h;
  }
}

TEST(FontEngine, GlyphsAreCachedAndWellFormed) {
  auto f = OpenFace(Spec("Arial", -16));
  const Glyph& a = f->GetGlyph('A');
  EXPECT_EQ(&a, &f->GetGlyph('A'));
  EXPECT_GT(a.width, 0);
  EXPECT_GT(a.height, 0);
  EXPECT_EQ(a.coverage.size(), static_cast<size_t>(a.width * a.height));
  EXPECT_GT(a.top, 0);  // a capital stands on the baseline
  EXPECT_EQ(a.advanceX64, a.advance * 64);
  const Glyph& space = f->GetGlyph(' ');
  EXPECT_GT(space.advance, 0);
  EXPECT_TRUE(std::all_of(space.coverage.begin(), space.coverage.end(), [](uint8_t c) { return c == 0; }));
  // The same spec gives the same face object back.
  EXPECT_EQ(f.get(), OpenFace(Spec("arial", -16)).get());
}

TEST(FontEngine, NonAntialiasedGlyphsAreTwoLevel) {
  FontSpec s = Spec("Arial", -14);
  s.antialiased = false;
  const Glyph& g = OpenFace(s)->GetGlyph('W');
  ASSERT_FALSE(g.coverage.empty());
  EXPECT_TRUE(std::all_of(g.coverage.begin(), g.coverage.end(), [](uint8_t c) { return c == 0 || c == 255; }));
  const Glyph& aa = OpenFace(Spec("Arial", -14))->GetGlyph('W');
  EXPECT_TRUE(std::any_of(aa.coverage.begin(), aa.coverage.end(), [](uint8_t c) { return c != 0 && c != 255; }));
}

TEST(FontEngine, BoldAndItalicChangeTheGlyphs) {
  auto regular = OpenFace(Spec("Arial", -20));
  auto bold = OpenFace(Spec("Arial", -20, 700));
  EXPECT_GT(Advance(*bold, "mmmm"), Advance(*regular, "mmmm"));
  EXPECT_EQ(bold->GetMetrics().weight, 700);
  FontSpec it = Spec("Arial", -20);
  it.italic = true;
  auto italic = OpenFace(it);
  EXPECT_TRUE(italic->GetMetrics().italic);
  EXPECT_NE(italic->GetGlyph('l').coverage, regular->GetGlyph('l').coverage);
}

TEST(FontEngine, EscapementTurnsThePenDirection) {
  FontSpec s = Spec("Arial", -20);
  s.escapement = 900;  // straight up
  const Glyph& g = OpenFace(s)->GetGlyph('I');
  EXPECT_NEAR(g.advanceX64, 0, 2);
  EXPECT_NEAR(g.advanceY64, g.advance * 64, 64);
  EXPECT_GT(g.width, g.height);  // an upright I laid on its side is wider than high
}

// A matrix leans, stretches or mirrors the glyphs after the escapement's turn;
// the pen advance goes through it too, and faces of different matrices are
// different faces.
TEST(FontEngine, MatrixShapesGlyphsAndAdvances) {
  auto plainFace = OpenFace(Spec("Arial", -20));
  const Glyph plainI = plainFace->GetGlyph('I');
  const Glyph plainM = plainFace->GetGlyph('m');
  struct Case {
    std::array<double, 4> matrix;
    int escapement;
    double advanceX, advanceY;  // of 'm', in its plain advances
    double width;               // of 'I', in its plain heights added to its plain width
  } cases[] = {
      {{1, 0.5, 0, 1}, 0, 1, 0, 0.5},     // leaning right keeps the advance
      {{2, 0, 0, 1}, 0, 2, 0, 1},         // twice as wide (and the I's width doubles)
      {{-1, 0, 0, 1}, 0, -1, 0, 0},       // mirrored: the pen runs left
      {{1, 0, 0, -1}, 0, 1, 0, 0},        // upside down
      {{1, 0.5, 0, 1}, 900, 0.5, 1, -1},  // turned up, then leaned
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.matrix[0] << " " << c.matrix[1] << " " << c.matrix[2] << " " << c.matrix[3]
                                    << " @" << c.escapement);
    FontSpec s = Spec("Arial", -20);
    s.matrix = c.matrix;
    s.escapement = c.escapement;
    auto face = OpenFace(s);
    EXPECT_NE(face.get(), plainFace.get());
    const Glyph& m = face->GetGlyph('m');
    EXPECT_EQ(m.advance, plainM.advance);
    EXPECT_NEAR(m.advanceX64, c.advanceX * plainM.advance * 64, 40);
    EXPECT_NEAR(m.advanceY64, c.advanceY * plainM.advance * 64, 40);
    const Glyph& i = face->GetGlyph('I');
    if (c.width >= 0) {
      double want = c.matrix[0] == 2 ? 2 * plainI.width : plainI.width + c.width * plainI.height;
      EXPECT_NEAR(i.width, want, 2);
      EXPECT_NEAR(i.height, plainI.height, 1);
    }
  }
  // The mirror puts the I's mask on the other side of the pen.
  FontSpec mirrored = Spec("Arial", -20);
  mirrored.matrix = {-1, 0, 0, 1};
  const Glyph& mi = OpenFace(mirrored)->GetGlyph('I');
  EXPECT_NEAR(mi.left, -(plainI.left + plainI.width), 1);
  // A matrix past any readable size is scaled down: no glyph mask grows
  // without bound.
  for (double stretch : {3e3, 1e6, 1e300}) {
    FontSpec huge = Spec("Arial", -20);
    huge.matrix = {stretch, 0, 0, stretch};
    const Glyph& big = OpenFace(huge)->GetGlyph('W');
    EXPECT_LE(big.width, 4096 + 64);
    EXPECT_LE(big.height, 4096 + 64);
    EXPECT_GT(big.width, 3000) << "kept as large as allowed";
    huge.matrix = {stretch, 0, 0, 1};
    EXPECT_LE(OpenFace(huge)->GetGlyph('W').width, 4096 + 64);
  }
  FontSpec bad = Spec("Arial", -20);
  bad.matrix = {std::nan(""), 0, 0, 1};
  EXPECT_NO_THROW(OpenFace(bad)->GetGlyph('W'));
}

TEST(FontEngine, DecodeTextTakesUtf8AndFallsBackToWindows1252) {
  struct Case {
    std::string bytes;
    std::vector<uint32_t> codePoints;
  } cases[] = {
      {"Ab", {'A', 'b'}},
      {"\xC3\xA9", {0xE9}},                       // UTF-8 e acute
      {"\xE2\x82\xAC", {0x20AC}},                 // UTF-8 euro
      {"\xF0\x9F\x98\x80", {0x1F600}},
      {"\xB0", {0xB0}},                           // a lone degree sign of the code page
      {"\x80", {0x20AC}},                         // Windows-1252 euro
      {"\x93x\x94", {0x201C, 'x', 0x201D}},
      {"\xC0\x80", {0xC0, 0x20AC}},               // overlong forms are bytes, not NUL
      {"\xE2\x82", {0xE2, 0x201A}},               // truncated sequence
      {"\xED\xA0\x80", {0xED, 0xA0, 0x20AC}},     // a surrogate is not a character
      {std::string("a\0b", 3), {'a', 0, 'b'}},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeText(c.bytes), c.codePoints) << c.bytes;
}

// FreeType through Pillow lays text out with the same hinted advances.
TEST(FontEngine, AdvancesMatchPillowOracle) {
  QV_REQUIRE_PILLOW();
  auto face = OpenFace(Spec("Tahoma", -13));
  const std::string family = face->GetMetrics().faceName;
  const std::string text = "Hello, Quorvane 0123";
  std::string out;
  ASSERT_EQ(qvtest::RunPython(
                "from PIL import ImageFont\n"
                "import subprocess\n"
                "path = subprocess.run(['fc-match', '-f', '%{file}', '" + family + "'], capture_output=True, text=True).stdout\n"
                "f = ImageFont.truetype(path, 13, layout_engine=ImageFont.Layout.BASIC)\n"
                "print(int(f.getlength('" + text + "')))\n",
                &out),
            0);
  EXPECT_EQ(Advance(*face, text), std::stoi(out));
}
