// Draws the about box's two pictures: the program's name in strokes of our own
// (no font is needed) and a picture of icons at several sizes, each with a
// gloss and a shadow, over a blue gradient. Both are written as 24-bit DIBs.
#include <cstdio>
#include <string>
#include <vector>

#include "drawkit.h"

using namespace drawkit;

namespace {

// One letter of the name in a box of width w and height h at (x, y).
void Letter(Image& img, char c, double x, double y, double w, double h, double pen, Rgba colour) {
  auto seg = [&](double x0, double y0, double x1, double y1) {
    img.Fill(Segment({x + x0 * w, y + y0 * h}, {x + x1 * w, y + y1 * h}, pen), colour);
  };
  switch (c) {
    case 'Q':
      img.Fill(Rim(Ellipse(x + w / 2, y + h / 2, w / 2, h / 2), pen), colour);
      seg(0.6, 0.7, 1.0, 1.05);
      break;
    case 'O': img.Fill(Rim(Ellipse(x + w / 2, y + h / 2, w / 2, h / 2), pen), colour); break;
    case 'U':
      seg(0, 0, 0, 0.65);
      seg(1, 0, 1, 0.65);
      img.Fill(Arc(x + w / 2, y + 0.65 * h, w / 2, pen, 180, 360), colour);
      break;
    case 'R':
      seg(0, 0, 0, 1);
      seg(0, 0, 0.55, 0);
      seg(0, 0.5, 0.55, 0.5);
      img.Fill(Arc(x + 0.55 * w, y + 0.25 * h, 0.25 * h, pen, -90, 90), colour);
      seg(0.45, 0.5, 1, 1);
      break;
    case 'V':
      seg(0, 0, 0.5, 1);
      seg(0.5, 1, 1, 0);
      break;
    case 'A':
      seg(0, 1, 0.5, 0);
      seg(0.5, 0, 1, 1);
      seg(0.22, 0.6, 0.78, 0.6);
      break;
    case 'N':
      seg(0, 1, 0, 0);
      seg(0, 0, 1, 1);
      seg(1, 1, 1, 0);
      break;
    case 'E':
      seg(0, 0, 0, 1);
      seg(0, 0, 1, 0);
      seg(0, 0.5, 0.8, 0.5);
      seg(0, 1, 1, 1);
      break;
    default: break;
  }
}

Image Logo() {
  Image img(167, 27);
  img.Fill([](double, double) { return -1.0; }, Hex(0xFFFFFF));
  const std::string name = "QUORVANE";
  double x = 6;
  for (char c : name) {
    Letter(img, c, x, 5, 14, 17, 2.6, Hex(0x1F4E9A));
    x += 20;
  }
  return img;
}

void GlossyIcon(Image& img, double x, double y, double s, uint32_t colour) {
  img.Fill(RoundRect(x + s * 0.06, y + s * 0.08, x + s * 1.06, y + s * 1.08, s * 0.2), Hex(0x000000, 0.3));
  const Sdf body = RoundRect(x, y, x + s, y + s, s * 0.2);
  img.Fill(body, Linear({0, y}, Mix(Hex(colour), Hex(0xFFFFFF), 0.35), {0, y + s}, Hex(colour)));
  img.Fill(Intersect(body, Ellipse(x + s / 2, y + s * 0.1, s * 0.7, s * 0.38)), Hex(0xFFFFFF, 0.45));
  img.Fill(Rim(body, std::max(1.0, s / 24)), Hex(0x000000, 0.45));
}

Image Picture() {
  Image img(167, 240);
  img.Fill([](double, double) { return -1.0; }, Linear({0, 0}, Hex(0x2A5CAA), {0, 240}, Hex(0x0B1E44)));
  // Rings of light behind the icons.
  for (int k = 0; k < 4; ++k)
    img.Fill(Rim(Circle(84, 110, 30.0 + 18 * k), 1.5), Hex(0xFFFFFF, 0.12));
  GlossyIcon(img, 52, 78, 64, 0xE8A020);
  GlossyIcon(img, 20, 30, 32, 0x30A050);
  GlossyIcon(img, 118, 40, 24, 0xC03040);
  GlossyIcon(img, 122, 168, 32, 0x7040C0);
  GlossyIcon(img, 26, 176, 16, 0x20A0C0);
  GlossyIcon(img, 64, 190, 24, 0xD0D0D0);
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: aboutgen out-folder\n");
    return 2;
  }
  const std::string out = argv[1];
  bool ok = WriteFile(out + "/aboutlogo.dib", Dib24(Logo(), 0xFF00FF, 0xFFFFFF));
  ok = WriteFile(out + "/aboutpicture.dib", Dib24(Picture(), 0xFF00FF, 0x0B1E44)) && ok;
  if (argc > 2) {
    WritePng(std::string(argv[2]) + "/aboutlogo.png", Logo());
    WritePng(std::string(argv[2]) + "/aboutpicture.png", Picture());
  }
  return ok ? 0 : 1;
}
