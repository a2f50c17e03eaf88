// Draws the program's small pictures and writes them: the toolbar strip of
// 16 x 16 glyphs as a PNG with alpha (buttons.png) and as a 24-bit bitmap on
// the mask colour 0xFF00FF (ILMAIN), the 16-colour preview glyph, the
// colour-pick cursor and the application icon, each resource in the layout the
// program's resource section holds.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "drawkit.h"

using namespace drawkit;

namespace {

constexpr uint32_t kKey = 0xFF00FF;
constexpr uint32_t kFace = 0xF0F0F0;

const Rgba kInk = Hex(0x3A4048);
const Rgba kBlue = Hex(0x2F6FD0);
const Rgba kLightBlue = Hex(0x9CC4F0);
const Rgba kYellow = Hex(0xF2C14E);
const Rgba kDarkYellow = Hex(0xC8922A);
const Rgba kWhite = Hex(0xFFFFFF);
const Rgba kGreen = Hex(0x3C9A3C);
const Rgba kRed = Hex(0xD03A30);

// A shape filled and given a thin dark outline.
void Outlined(Image& img, const Sdf& shape, const Paint& paint, Rgba outline = kInk, double width = 1) {
  img.Fill(shape, paint);
  img.Fill(Rim(shape, width), outline);
}
void Outlined(Image& img, const Sdf& shape, Rgba fill) { Outlined(img, shape, Solid(fill)); }

void SmallStar(Image& img) {
  Outlined(img, Polygon(StarPoints(12, 12.2, 5, 4.2, 1.9, 0)), Solid(Hex(0xF5B700)), Hex(0x8A5A00), 0.8);
}

void Folder(Image& img, bool open) {
  Outlined(img, RoundRect(1, 2.5, 7.5, 6, 1), kDarkYellow);
  Outlined(img, RoundRect(1, 4, 15, 14, 1), kDarkYellow);
  if (open)
    Outlined(img, Polygon({{3.5, 7}, {15.5, 7}, {13.5, 14}, {1, 14}}), Linear({0, 7}, Hex(0xFFE08A), {0, 14}, kYellow));
  else
    Outlined(img, RoundRect(1, 6, 15, 14, 1), Linear({0, 6}, Hex(0xFFE08A), {0, 14}, kYellow));
}

void Page(Image& img, double x0, double y0, double x1, double y1) {
  Outlined(img, Polygon({{x0, y0}, {x1 - 3, y0}, {x1, y0 + 3}, {x1, y1}, {x0, y1}}), kWhite);
  img.Fill(Polygon({{x1 - 3, y0}, {x1 - 3, y0 + 3}, {x1, y0 + 3}}), Hex(0xB0B8C0));
}

void Magnifier(Image& img) {
  img.Fill(Segment({10.5, 10.5}, {14.2, 14.2}, 2.8), kInk);
  img.Fill(Circle(6.5, 6.5, 5), Hex(0xDCEBFA, 0.9));
  img.Fill(Rim(Circle(6.5, 6.5, 5), 1.5), kInk);
}

void TurnArrow(Image& img, bool left) {
  // An arc most of the way round with a head at its end.
  const double cx = 8, cy = 8.5, r = 5;
  if (left) {
    img.Fill(Arc(cx, cy, r, 2, -60, 170), kBlue);
    img.Fill(Polygon({{0.5, 6.5}, {6.2, 6.5}, {3.2, 11}}), kBlue);
  } else {
    img.Fill(Arc(cx, cy, r, 2, 10, 240), kBlue);
    img.Fill(Polygon({{9.8, 6.5}, {15.5, 6.5}, {12.8, 11}}), kBlue);
  }
}

void Dropper(Image& img, double s, bool halo) {
  // Drawn in a 16-unit box scaled by s; the tip is at the bottom left.
  auto P = [s](double x, double y) { return Point{x * s, y * s}; };
  const Sdf body = Segment(P(4.5, 11.5), P(10.5, 5.5), 3.2 * s);
  const Sdf bulb = Circle(12.2 * s, 3.8 * s, 2.8 * s);
  const Sdf tip = Segment(P(1.3, 14.7), P(5, 11), 1.4 * s);
  const Sdf whole = Union(Union(body, bulb), tip);
  if (halo) img.Fill(Offset(whole, 1.2 * s / 2), kWhite);
  img.Fill(tip, Hex(0x707880));
  img.Fill(body, Linear(P(4, 8), Hex(0xD8E2EA), P(9, 12), Hex(0x8A98A6)));
  img.Fill(Rim(body, 0.8 * s), kInk);
  img.Fill(bulb, Hex(0x30343A));
  img.Fill(Segment(P(9, 4), P(13, 8), 1.6 * s), Hex(0x30343A));
}

using Glyph = std::function<void(Image&)>;

// The toolbar pictures in the order the image list holds them.
std::vector<std::pair<const char*, Glyph>> Glyphs() {
  return {
      {"Open", [](Image& g) { Folder(g, true); }},
      {"Save",
       [](Image& g) {
         Outlined(g, RoundRect(1.5, 1.5, 14.5, 14.5, 1.5), kBlue);
         g.Fill(RoundRect(4.5, 1.5, 11.5, 6, 0.5), Hex(0xD8DEE6));
         g.Fill(RoundRect(8.5, 2.5, 10, 5, 0.3), kInk);
         g.Fill(RoundRect(3.5, 8.5, 12.5, 14.5, 0.6), kWhite);
       }},
      {"Copy",
       [](Image& g) {
         Page(g, 1.5, 1.5, 10.5, 11.5);
         Page(g, 5.5, 4.5, 14.5, 14.5);
       }},
      {"Paste",
       [](Image& g) {
         Outlined(g, RoundRect(1.5, 2.5, 12.5, 15, 1.5), Hex(0xB07A3A));
         Outlined(g, RoundRect(4.5, 1, 9.5, 4.5, 1), Hex(0xC8CED6));
         Page(g, 7, 6.5, 15, 15);
       }},
      {"Selection",
       [](Image& g) {
         for (int i = 0; i < 4; ++i) {
           const double a = 2.5 + i * 3;
           for (auto [p, q] : std::vector<std::pair<Point, Point>>{{{a, 2.5}, {a + 1.6, 2.5}},
                                                                   {{a, 13.5}, {a + 1.6, 13.5}},
                                                                   {{2.5, a}, {2.5, a + 1.6}},
                                                                   {{13.5, a}, {13.5, a + 1.6}}})
             g.Fill(Segment(p, q, 1.2), kInk);
         }
       }},
      {"PickColor", [](Image& g) { Dropper(g, 1, false); }},
      {"RotateLeft", [](Image& g) { TurnArrow(g, true); }},
      {"RotateRight", [](Image& g) { TurnArrow(g, false); }},
      {"FlipHorizontal",
       [](Image& g) {
         g.Fill(Polygon({{7, 2.5}, {7, 13.5}, {1, 13.5}}), kBlue);
         Outlined(g, Polygon({{9, 2.5}, {9, 13.5}, {15, 13.5}}), kLightBlue);
         g.Fill(Segment({8, 0.5}, {8, 15.5}, 0.8), Hex(0x808890));
       }},
      {"FlipVertical",
       [](Image& g) {
         g.Fill(Polygon({{2.5, 7}, {13.5, 7}, {13.5, 1}}), kBlue);
         Outlined(g, Polygon({{2.5, 9}, {13.5, 9}, {13.5, 15}}), kLightBlue);
         g.Fill(Segment({0.5, 8}, {15.5, 8}, 0.8), Hex(0x808890));
       }},
      {"ZoomIn",
       [](Image& g) {
         Magnifier(g);
         g.Fill(Segment({4.2, 6.5}, {8.8, 6.5}, 1.5), kBlue);
         g.Fill(Segment({6.5, 4.2}, {6.5, 8.8}, 1.5), kBlue);
       }},
      {"ZoomOut",
       [](Image& g) {
         Magnifier(g);
         g.Fill(Segment({4.2, 6.5}, {8.8, 6.5}, 1.5), kBlue);
       }},
      {"AutoZoom",
       [](Image& g) {
         Magnifier(g);
         g.Fill(Rim(RoundRect(4, 4, 9, 9, 0.5), 1.1), kBlue);
       }},
      {"Test",
       [](Image& g) {
         const Rgba quarters[4] = {kWhite, Hex(0x000000), Hex(0x3A6EA5), Hex(0x808080)};
         for (int i = 0; i < 4; ++i)
           g.Fill(RoundRect(1 + 7 * (i % 2), 1 + 7 * (i / 2), 8 + 7 * (i % 2), 8 + 7 * (i / 2), 0), quarters[i]);
         g.Fill(Rim(RoundRect(1, 1, 15, 15, 0), 1), kInk);
         Outlined(g, Circle(8, 8, 3.6), Radial({7, 7}, 4, Hex(0xFFD84A), Hex(0xE07B12)));
       }},
      {"CustomizeFolders",
       [](Image& g) {
         Folder(g, false);
         SmallStar(g);
       }},
      {"CustomizeFileTypes",
       [](Image& g) {
         Page(g, 2.5, 1, 12.5, 15);
         g.Fill(Segment({4.5, 6}, {9.5, 6}, 1), Hex(0x9AA4AE));
         g.Fill(Segment({4.5, 8.5}, {8, 8.5}, 1), Hex(0x9AA4AE));
         SmallStar(g);
       }},
      {"CustomizeWindows",
       [](Image& g) {
         Outlined(g, RoundRect(0.5, 1.5, 15.5, 13.5, 1), kWhite);
         g.Fill(RoundRect(1, 2, 15, 5, 0.5), kBlue);
         SmallStar(g);
       }},
      {"ReadyIcons",
       [](Image& g) {
         const Rgba c[4] = {kRed, kGreen, kBlue, kYellow};
         for (int i = 0; i < 4; ++i) {
           const double x = 1.5 + 7 * (i % 2), y = 1.5 + 7 * (i / 2);
           Outlined(g, RoundRect(x, y, x + 6, y + 6, 1.5), c[i]);
         }
       }},
      {"Contents",
       [](Image& g) {
         g.Fill(Circle(8, 8, 7.2), Radial({6, 5}, 9, Hex(0x6FA8F0), kBlue));
         g.Fill(Arc(8, 6, 2.6, 1.9, -60, 180), kWhite);
         g.Fill(Segment({9.3, 8.3}, {8, 9.8}, 1.9), kWhite);
         g.Fill(Circle(8, 12.3, 1.2), kWhite);
       }},
      {"Exit",
       [](Image& g) {
         Outlined(g, RoundRect(2, 1, 10, 15, 0.5), Hex(0xB07A3A));
         g.Fill(Circle(8, 8.5, 0.9), kYellow);
         g.Fill(Segment({8.5, 8}, {13.5, 8}, 1.8), kGreen);
         g.Fill(Polygon({{12, 4.8}, {15.8, 8}, {12, 11.2}}), kGreen);
       }},
      {"About",
       [](Image& g) {
         g.Fill(Circle(8, 8, 7.2), Radial({6, 5}, 9, Hex(0x6FA8F0), kBlue));
         g.Fill(Circle(8, 4.6, 1.3), kWhite);
         g.Fill(Segment({8, 7.3}, {8, 12.2}, 2.1), kWhite);
       }},
  };
}

// The program's icon: a picture tile turned into an icon, with a small spark.
Image AppIcon(int s) {
  Image img(s, s);
  const double k = s / 48.0;
  const Sdf tile = RoundRect(3 * k, 5 * k, 41 * k, 43 * k, 8 * k);
  img.Fill(Offset(tile, 0.5), Hex(0x000000, 0.25));
  img.Fill(tile, Linear({0, 5 * k}, Hex(0x5AA0F0), {0, 43 * k}, Hex(0x1F4FA8)));
  img.Fill(Intersect(tile, Circle(16 * k, 46 * k, 20 * k)), Hex(0x4DB84A));
  img.Fill(Intersect(tile, Circle(36 * k, 50 * k, 18 * k)), Hex(0x2E8B36));
  img.Fill(Circle(30 * k, 17 * k, 6 * k), Hex(0xFFD84A));
  img.Fill(Intersect(Offset(tile, -2 * k), Ellipse(22 * k, 8 * k, 24 * k, 12 * k)), Hex(0xFFFFFF, 0.3));
  img.Fill(Rim(tile, std::max(1.0, 1.5 * k)), Hex(0x102850, 0.8));
  img.Fill(Polygon(StarPoints(38 * k, 38 * k, 4, 10 * k, 3 * k, 0)), Hex(0xFFF2A0));
  img.Fill(Rim(Polygon(StarPoints(38 * k, 38 * k, 4, 10 * k, 3 * k, 0)), std::max(0.8, k)), Hex(0x8A5A00));
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: uigen BUTTONS.png RESOURCE-FOLDER\n");
    return 2;
  }
  const std::string res = argv[2];
  const auto glyphs = Glyphs();
  Image strip(16 * int(glyphs.size()), 16);
  for (size_t i = 0; i < glyphs.size(); ++i) {
    Image g(16, 16);
    glyphs[i].second(g);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) strip.At(int(i) * 16 + x, y) = g.At(x, y);
  }
  bool ok = WritePng(argv[1], strip);
  ok = ok && WriteFile(res + "/ilmain.dib", Dib24(strip, kKey, kFace));

  Image preview(16, 16);
  Magnifier(preview);
  preview.Fill(Circle(6.5, 6.5, 2.2), Hex(0x2F6FD0));
  ok = ok && WriteFile(res + "/previewglyph.dib", Dib4(preview, kKey, kFace));

  Image cursor(32, 32);
  Dropper(cursor, 2, true);
  std::vector<uint8_t> cursorImage(4, 0);
  Put16(cursorImage, 0, 1);  // hotspot at the tip
  Put16(cursorImage, 2, 30);
  const std::vector<uint8_t> dib = IconDib32(cursor);
  cursorImage.insert(cursorImage.end(), dib.begin(), dib.end());
  ok = ok && WriteFile(res + "/colorpick_1.bin", cursorImage);
  ok = ok && WriteFile(res + "/colorpick_group.bin", GroupDirectory(2, {cursorImage}, {201}));

  std::vector<std::vector<uint8_t>> icons;
  for (int s : {48, 32, 16}) icons.push_back(IconDib32(AppIcon(s)));
  for (size_t i = 0; i < icons.size(); ++i)
    ok = ok && WriteFile(res + "/mainicon_" + std::to_string(i + 1) + ".bin", icons[i]);
  ok = ok && WriteFile(res + "/mainicon_group.bin", GroupDirectory(1, icons, {1, 2, 3}));
  return ok ? 0 : 1;
}
