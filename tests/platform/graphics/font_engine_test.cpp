#include "platform/graphics/font_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
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
