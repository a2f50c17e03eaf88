#include <gtest/gtest.h>

#include "base/toolbox/bitmap_utils.h"
#include "exception_text.h"
#include "pictures/common/picture_pixels.h"
#include "pictures/xpm/xpm_image.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/sysutils.h"
#include "test_support.h"

using pictest::Bytes;

namespace {

void LoadText(TXPMImage& picture, const std::string& text) { pictest::LoadBytes(picture, Bytes(text.begin(), text.end())); }

std::string SaveText(TXPMImage& picture) {
  const Bytes b = pictest::SaveBytes(picture);
  return std::string(b.begin(), b.end());
}

uint32_t PixelAt(TBitmap& bitmap, int x, int y) { return static_cast<uint32_t*>(bitmap.ScanLine(y))[x]; }

// An XPM of one row whose pixels are the given colour lines' codes in order.
std::string OneRow(const std::vector<std::string>& colourLines) {
  std::string text = "/* XPM */\nstatic char *t_xpm[] = {\n\"" + std::to_string(colourLines.size()) + " 1 " +
                     std::to_string(colourLines.size()) + " 1\",\n";
  std::string row;
  for (size_t i = 0; i < colourLines.size(); ++i) {
    const char code = static_cast<char>('a' + i);
    text += "\"" + std::string(1, code) + " " + colourLines[i] + "\",\n";
    row += code;
  }
  return text + "\"" + row + "\"};\n";
}

}  // namespace

TEST(XPMImage, ColourValuesAsX11NamesThem) {
  struct TCase {
    const char* line;
    uint32_t pixel;
  } cases[] = {
      {"c None", 0},
      {"c none", 0},
      {"c #FFFF00000000", 0xFFFF0000},
      {"c #ffee00118800", 0xFFFF0088},   // top 8 bits of each 16-bit channel
      {"c #fe1000881", 0xFFFE0088},      // and of each 12-bit one
      {"c #f80", 0xFFF08000},            // a digit a channel is its top four bits
      {"c #1a2B3c", 0xFF1A2B3C},
      {"c grey50", 0xFF808080},          // 127.5 goes to the even neighbour
      {"c gray100", 0xFFFFFFFF},
      {"c grey101", 0xFF000000},         // X11 greys stop at 100
      {"c red3", 0xFFCD0000},
      {"c red5", 0xFF000000},
      {"c teal", 0xFF008080},
      {"c Light Grey", 0xFFD3D3D3},
      {"c FloralWhite", 0xFFFFFAF0},
      {"c florawhite", 0xFFFFFAF0},      // the old spelling still reads
      {"c nosuchcolour", 0xFF000000},
      {"s topic c #000", 0xFF000000},    // keys are whole words: "topic" holds no key
      {"c #00FF00 s topic", 0xFF00FF00}, // a key after the value ends it
      {"m white", 0},                    // no colour key: the code stays unknown
  };
  for (const TCase& c : cases) {
    TXPMImage picture;
    LoadText(picture, OneRow({"c #123456", c.line}));
    EXPECT_EQ(PixelAt(picture, 1, 0), c.pixel) << c.line;
    EXPECT_EQ(PixelAt(picture, 0, 0), 0xFF123456u);
  }
}

TEST(XPMImage, CommentsOutsideStringsGoEverywhere) {
  TXPMImage picture;
  LoadText(picture,
           "/* XPM */\n/* a comment \"with a quote */ static char * my_icon_xpm[] = {\n"
           "/* columns rows colours chars-per-pixel */\n\"2 1 2 1\",\n/* colors */\n"
           "\"a c #ff0000\", /* \"b c #00ff00\", */\n\"b c #0000ff\",\n/* pixels */\n\"a/*b\"};");
  EXPECT_EQ(picture.XpmName, "my_icon");
  EXPECT_EQ(PixelAt(picture, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(PixelAt(picture, 1, 0), 0u);  // "/" is no code; the comment mark inside the row is text
}

TEST(XPMImage, SavedPicturesReadBackWithTheirAlphaMadeWhole) {
  TXPMImage picture;
  picture.SetSize(7, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x)
      static_cast<uint32_t*>(picture.ScanLine(y))[x] =
          x == 0 ? 0 : x == 1 ? 0x80FFFFFF : x == 2 ? 0xFF000000 : 0xFF000000u | (x * 40 << 16 | y * 90 << 8 | 7);
  picture.XpmName = "My Icon";
  const Bytes before(static_cast<uint8_t*>(picture.ScanLine(2)), static_cast<uint8_t*>(picture.ScanLine(2)) + 28);
  const std::string text = SaveText(picture);
  EXPECT_EQ(picture.XpmName, "my_icon");
  EXPECT_EQ(Bytes(static_cast<uint8_t*>(picture.ScanLine(2)), static_cast<uint8_t*>(picture.ScanLine(2)) + 28), before);
  EXPECT_EQ(text.rfind("/* XPM */ \nstatic const unsigned char * my_icon_xpm[] = {\n\"7 3 ", 0), 0u) << text;
  EXPECT_NE(text.find("\" \tc None\",\n"), std::string::npos);
  EXPECT_NE(text.find("\tc white\""), std::string::npos);
  EXPECT_NE(text.find("\tc black\""), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 3), "\"};");

  TXPMImage back;
  LoadText(back, text);
  EXPECT_EQ(back.XpmName, "my_icon");
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x) {
      const uint32_t p = PixelAt(picture, x, y);
      EXPECT_EQ(PixelAt(back, x, y), p == 0 ? 0u : p | 0xFF000000u) << x << "," << y;
    }
}

TEST(XPMImage, CharactersPerPixelGrowPastNinetyTwoCodes) {
  for (int colours : {91, 92}) {
    TXPMImage picture;
    picture.SetSize(colours, 1);
    for (int x = 0; x < colours; ++x) static_cast<uint32_t*>(picture.ScanLine(0))[x] = 0xFF000000u | (x * 2 + 1);
    const std::string text = SaveText(picture);
    // With the transparent entry there are 92 or 93 codes.
    EXPECT_NE(text.find("\"" + std::to_string(colours) + " 1 " + std::to_string(colours + 1) +
                        (colours == 91 ? " 1\"" : " 2\"")),
              std::string::npos)
        << colours;
  }
}

TEST(XPMImage, TwentyFourBitPicturesSaveOpaque) {
  TXPMImage picture;
  TBitmap colour;
  colour.SetPixelFormat(pf24bit);
  colour.SetSize(2, 1);
  picture.Assign(&colour);
  const std::string text = SaveText(picture);
  EXPECT_NE(text.find("\"!!\"};"), std::string::npos) << text;  // two black pixels, not transparent ones
}

TEST(XPMImage, XvThumbnailBytesAreThreeThreeTwoColours) {
  const std::string head = "P7 332\n#XVVERSION:Version 3.10a\n#END_OF_COMMENTS\n4 1 255\n";
  std::string text = head + std::string{static_cast<char>(0xE0), 0x1C, 0x03, static_cast<char>(0xFF)};
  TXPMImage picture;
  LoadText(picture, text);
  EXPECT_EQ(PixelAt(picture, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(PixelAt(picture, 1, 0), 0xFF00FF00u);
  EXPECT_EQ(PixelAt(picture, 2, 0), 0xFF0000FFu);
  EXPECT_EQ(PixelAt(picture, 3, 0), 0xFFFFFFFFu);
}

TEST(XPMImage, HostileTextsAreRefusedAndLeaveThePicture) {
  const std::string colour = "\"a c red\",\n";
  const char* noValues = "no values string after the opening brace";
  const char* outOfRange = "size, colour count or characters per pixel out of range";
  const char* noRows = "the text cannot hold the rows";
  const struct TCase {
    const char* name;
    std::string text;
    const char* message;
    const char* reason;  // the rule that fired, as LastRefusal names it
  } cases[] = {
      {"no brace", "\"1 1 1 1\"", kXpmErr1, noValues},
      {"no values string", "static char *x[] = { ", kXpmErr1, noValues},
      {"unterminated values", "{ \"1 1 1 1", kXpmErr1, noValues},
      {"zero width", "{\"0 1 1 1\"," + colour + "\"a\"}", kXpmErr2, outOfRange},
      {"negative height", "{\"1 -1 1 1\"," + colour + "\"a\"}", kXpmErr2, outOfRange},
      {"five characters per pixel", "{\"1 1 1 5\"," + colour + "\"aaaaa\"}", kXpmErr2, outOfRange},
      {"huge size without rows", "{\"65535 65535 1 1\"," + colour + "\"a\"}", kXpmErr2, noRows},
      {"rows missing", "{\"2 3 1 1\"," + colour + "\"aa\"}", kXpmErr2, noRows},
      {"endless comment", "/* XPM */ static char *x[] = {\"1 1 1 1\", /* never closed " + colour, kXpmErr2, noRows},
      {"three numbers", "{\"1 1 1\"}", nullptr, ""},
      {"thumbnail without end of comments", "P7 332\n#nothing\n", kXpmNoEndOfComments, ""},
      {"thumbnail too large", "P7 332\n#END_OF_COMMENTS\n60000 60000 255\nxyz", kXpmErr3,
       "thumbnail pixels past the end of the text"},
      {"thumbnail bad maximum", "P7 332\n#END_OF_COMMENTS\n1 1 0\nx", kXpmErr3, "thumbnail size or maximum out of range"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TXPMImage picture;
    LoadText(picture, OneRow({"c blue"}));
    const std::string message = MessageOf([&] { LoadText(picture, c.text); });
    if (c.message) EXPECT_EQ(message, c.message);
    else EXPECT_NE(message, kNothingRaised);
    EXPECT_EQ(picture.LastRefusal(), c.reason);
    EXPECT_EQ(picture.Width(), 1);
    EXPECT_EQ(PixelAt(picture, 0, 0), 0xFF0000FFu);
  }
}

TEST(XPMImage, RegisteredForXpmAndXbm) {
  EXPECT_TRUE(FileFormatClass("xpm") == TGraphicClass::Of<TXPMImage>());
  EXPECT_TRUE(FileFormatClass("xbm") == TGraphicClass::Of<TXBMImage>());
}

// ---- XBM ----

namespace {

std::string XbmFile(const std::string& name, int w, int h, const std::vector<int>& bytes, const char* hot = nullptr) {
  std::string t = "#define " + name + "_width " + std::to_string(w) + "\n#define " + name + "_height " +
                  std::to_string(h) + "\n";
  if (hot) t += hot;
  t += "static unsigned char " + name + "_bits[] = {\n";
  char buffer[8];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "0x%02x", bytes[i]);
    t += buffer;
    t += i + 1 < bytes.size() ? ", " : "};\n";
  }
  return t;
}

void WriteText(const std::string& path, const std::string& text) { qvtest::WriteFileBytes(path, Bytes(text.begin(), text.end())); }

bool Black(TBitmap& b, int x, int y) { return !(static_cast<uint8_t*>(b.ScanLine(y))[x / 8] >> (7 - x % 8) & 1); }

}  // namespace

TEST(XBMImage, ReadsBitsHotspotAndMask) {
  qvtest::TempDir dir;
  // 3 x 2: row 0 pixels 0 and 2 set, row 1 pixel 1 set.
  WriteText(dir.File("a.xbm"), XbmFile("a", 3, 2, {0x05, 0x02}, "#define a_x_hot 2\n#define a_y_hot 1\n"));
  TXBMImage picture;
  picture.LoadFromFile(dir.File("a.xbm"));
  EXPECT_EQ(picture.PixelFormat(), pf1bit);
  EXPECT_TRUE(Black(picture, 0, 0));
  EXPECT_FALSE(Black(picture, 1, 0));
  EXPECT_TRUE(Black(picture, 2, 0));
  EXPECT_TRUE(Black(picture, 1, 1));
  EXPECT_EQ(picture.HotSpotX, 2);
  EXPECT_EQ(picture.HotSpotY, 1);
  EXPECT_EQ(picture.MaskBitmap, nullptr);

  // The mask makes pixel (0, 1) and (2, 1) transparent (clear bits): those
  // picture pixels are inverted, no others.
  WriteText(dir.File("a.xbm.mask"), XbmFile("a", 3, 2, {0x07, 0x02}));
  WriteText(dir.File("b.xbm"), XbmFile("b", 3, 2, {0x05, 0x02}));
  picture.LoadFromFile(dir.File("b.xbm"));
  EXPECT_EQ(picture.HotSpotX, 0);
  picture.LoadFromFile(dir.File("a.xbm"));
  ASSERT_NE(picture.MaskBitmap, nullptr);
  EXPECT_TRUE(Black(picture, 0, 0));
  EXPECT_TRUE(Black(picture, 0, 1));
  EXPECT_TRUE(Black(picture, 1, 1));
  EXPECT_TRUE(Black(picture, 2, 1));
  EXPECT_FALSE(Black(picture, 1, 0));
}

TEST(XBMImage, SavingKeepsThePictureAndDropsAStaleMaskFile) {
  qvtest::TempDir dir;
  WriteText(dir.File("a.xbm.mask"), XbmFile("a", 3, 2, {0x07, 0x05}));
  WriteText(dir.File("a.xbm"), XbmFile("a", 3, 2, {0x05, 0x02}));
  TXBMImage picture;
  picture.LoadFromFile(dir.File("a.xbm"));
  TBitmap before;
  before.Assign(&picture);
  picture.XbmName = "Saved 1";
  picture.SaveToFile(dir.File("out.xbm"));
  EXPECT_TRUE(BitmapsEqual(&before, &picture));
  EXPECT_TRUE(FileExists(dir.File("out.xbm.mask")));
  TXBMImage back;
  back.LoadFromFile(dir.File("out.xbm"));
  EXPECT_TRUE(BitmapsEqual(&back, &picture));
  EXPECT_TRUE(BitmapsEqual(back.MaskBitmap.get(), picture.MaskBitmap.get()));
  EXPECT_EQ(picture.XbmName, "saved_1");

  // An all-black (opaque) mask writes no mask file and removes the old one.
  FillBitmap(picture.MaskBitmap.get(), clBlack);
  picture.SaveToFile(dir.File("out.xbm"));
  EXPECT_FALSE(FileExists(dir.File("out.xbm.mask")));
  const Bytes text = qvtest::ReadFileBytes(dir.File("out.xbm"));
  EXPECT_EQ(std::string(text.begin(), text.end()),
            "#define saved_1_width 3\n#define saved_1_height 2\n#define saved_1_x_hot 0\n#define saved_1_y_hot 0\n"
            "static char saved_1_bits[] = {\n  0x05,0x00\n};");
}

TEST(XBMImage, SizesAndBadFiles) {
  qvtest::TempDir dir;
  const char* size = "a size missing or outside 1..65534 x 1..65535";
  struct TCase {
    const char* name;
    std::string text;
    const char* message;  // nullptr: loads
    const char* reason;   // the rule that fired, as LastRefusal names it
  } cases[] = {
      {"widest", XbmFile("w", 65534, 1, std::vector<int>(8192, 0)), nullptr, ""},
      {"too wide", XbmFile("w", 65535, 1, std::vector<int>(8192, 0)), kXpmErr4, size},
      {"tallest", XbmFile("t", 1, 65535, std::vector<int>(65535, 1)), nullptr, ""},
      {"zero height", XbmFile("z", 1, 0, {0}), kXpmErr4, size},
      {"empty", "", kXpmZeroFile, "an empty file"},
      {"no bits", "#define a_width 8\n#define a_height 8\n", kXpmErr4, "no bits array"},
      {"huge and short", XbmFile("h", 65534, 65535, {1, 2, 3}), kXpmErr4, "the text cannot hold the rows"},
      {"too many bytes", XbmFile("m", 8, 1, {1, 2, 3}), kXpmErr5, "more bytes than the rows hold"},
      // A short array was taken with its missing rows white.
      {"too few bytes", XbmFile("f", 8, 3, {1, 2}), kXpmErr5, "fewer bytes than the rows hold"},
      {"endless comment", "#define a_width 8\n#define a_height 1\n/* static char a_bits[] = {0x01};", kXpmErr4,
       "no bits array"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText(dir.File("x.xbm"), c.text);
    TXBMImage picture;
    const std::string message = MessageOf([&] { picture.LoadFromFile(dir.File("x.xbm")); });
    EXPECT_EQ(message, c.message ? c.message : kNothingRaised);
    EXPECT_EQ(picture.LastRefusal(), c.reason);
    if (c.message) { EXPECT_EQ(picture.Width(), 1); }
  }
}

TEST(XBMImage, ReadsTheX10FormOfShorts) {
  // 16 pixels a value, low byte first, rows padded to whole values (X10's
  // bitmap files): read a byte a value, this was refused or shifted.
  qvtest::TempDir dir;
  WriteText(dir.File("x.xbm"),
            "#define x_width 10\n#define x_height 2\nstatic short x_bits[] = {\n   0x0201, 0x0003};\n");
  TXBMImage picture;
  picture.LoadFromFile(dir.File("x.xbm"));
  ASSERT_EQ(picture.Width(), 10);
  ASSERT_EQ(picture.Height(), 2);
  std::string rows;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 10; ++x) rows += Black(picture, x, y) ? '#' : '.';
  EXPECT_EQ(rows, "#........#"
                  "##........");
}

TEST(XBMImage, NamesBecomeCIdentifiers) {
  EXPECT_EQ(MakeCIdentifier("My-Icon 2"), "my_icon_2");
  EXPECT_EQ(MakeCIdentifier(""), "noname");
  EXPECT_EQ(MakeCIdentifier("2x"), "s2x");
  EXPECT_EQ(MakeCIdentifier("_a"), "_a");
  EXPECT_EQ(ReverseBits8(0x01), 0x80);
  EXPECT_EQ(ReverseBits8(0xC4), 0x23);
}

TEST(XPMColourNames, LoadX11ColorNamesGivesTheTableTheReaderUses) {
  std::vector<std::string> names;
  std::vector<uint32_t> values;
  LoadX11ColorNames(names, values);
  ASSERT_EQ(names.size(), values.size());
  ASSERT_GE(names.size(), 146u);
  EXPECT_EQ(names.front(), "black");
  EXPECT_EQ(names[2], "aliceblue");
  EXPECT_EQ(names.back(), "teal") << "the last entry is taken too";
  EXPECT_EQ(values.back(), 0x008080u);
  for (size_t i = 0; i < names.size(); ++i) {
    uint32_t found = 0;
    ASSERT_TRUE(FindX11Color(names[i], found)) << names[i];
    EXPECT_EQ(found, values[i]) << names[i];
  }
}

TEST(XPMColourNames, SvgColorKeywordsAreNoneThenAlphabetical) {
  const auto keywords = SvgColorKeywords();
  ASSERT_EQ(keywords.size(), 145u);
  EXPECT_EQ(keywords[0].Name, u"none");
  EXPECT_EQ(keywords[0].Color, -2);
  for (size_t i = 2; i < keywords.size(); ++i) EXPECT_LT(keywords[i - 1].Name, keywords[i].Name);
  for (const auto& k : keywords)
    EXPECT_TRUE(k.Name != u"lightgrey" && k.Name != u"slategrey" && k.Name != u"snow");
}
