// Draws the image view's cursors (screen cursors 1778 to 1814): crosses for
// selecting, magnifiers for zooming, a hand for scrolling, arrows for moving and
// resizing, curved arrows for rotating. Each becomes a cursor resource group of
// one 32 x 32 image with its hotspot, written as <file>_group.bin and <file>_1.bin.
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "drawkit.h"

using namespace drawkit;

namespace {

const Rgba kBlack = Hex(0x000000);
const Rgba kWhite = Hex(0xFFFFFF);
const Rgba kGlass = Hex(0xDCEBFA, 0.85);

struct Cursor {
  std::string file;  // file name stem
  int hotX, hotY;
  std::function<Sdf()> shape;                    // the black shape, haloed in white
  std::function<void(Image&)> extra = nullptr;  // drawn over it
};

Sdf Cross(double cx, double cy, double arm, double gap) {
  Sdf s = Union(Union(Segment({cx - arm, cy}, {cx - gap, cy}, 1), Segment({cx + gap, cy}, {cx + arm, cy}, 1)),
                Union(Segment({cx, cy - arm}, {cx, cy - gap}, 1), Segment({cx, cy + gap}, {cx, cy + arm}, 1)));
  return s;
}

// A small sign at the lower right: +1 plus, -1 minus, 0 none.
Sdf Sign(int sign) {
  Sdf minus = Segment({21, 24}, {27, 24}, 1.6);
  if (sign < 0) return minus;
  return Union(minus, Segment({24, 21}, {24, 27}, 1.6));
}

Sdf WithSign(Sdf base, int sign) { return sign == 0 ? base : Union(base, Sign(sign)); }

Sdf Arrow(Point from, Point to, double width, double head) {
  const double dx = to.x - from.x, dy = to.y - from.y, len = std::hypot(dx, dy);
  const double ux = dx / len, uy = dy / len;
  const Point base{to.x - ux * head, to.y - uy * head};
  Sdf tip = Polygon({to, {base.x - uy * head * 0.7, base.y + ux * head * 0.7},
                     {base.x + uy * head * 0.7, base.y - ux * head * 0.7}});
  return Union(Segment(from, base, width), tip);
}

Sdf DoubleArrow(Point a, Point b) { return Union(Arrow(a, b, 1.6, 5), Arrow(b, a, 1.6, 5)); }

// The sign inside the lens: minus, and for +1 plus.
Sdf LensSign(int sign) {
  Sdf minus = Segment({8, 12}, {16, 12}, 1.6);
  if (sign < 0) return minus;
  return Union(minus, Segment({12, 8}, {12, 16}, 1.6));
}

Sdf Magnifier(int sign) {
  Sdf ring = Rim(Circle(12, 12, 8), 1.8);
  Sdf handle = Segment({18, 18}, {27, 27}, 3.2);
  return Union(Union(ring, handle), LensSign(sign));
}

Sdf Hand() {
  Sdf palm = RoundRect(9, 13, 23, 27, 4);
  Sdf fingers = Union(Union(RoundRect(9, 5, 12.5, 16, 1.7), RoundRect(12.5, 3, 16, 16, 1.7)),
                      Union(RoundRect(16, 4, 19.5, 16, 1.7), RoundRect(19.5, 7, 23, 16, 1.7)));
  Sdf thumb = Segment({9.5, 20}, {5, 15}, 3.2);
  return Union(Union(palm, fingers), thumb);
}

Sdf Pen() {
  return Union(Polygon({{2, 30}, {4, 23}, {23, 4}, {28, 9}, {9, 28}}), Segment({2, 30}, {5, 27}, 1));
}

Sdf Eraser() { return Polygon({{3, 22}, {16, 9}, {26, 19}, {13, 32}}); }

Sdf RotateArrow(int quadrant) {
  // An arc a quarter turn long with a head, opened toward the quadrant.
  const double start[] = {100, 190, 280, 10};
  const double a0 = start[quadrant], a1 = a0 + 110;
  Sdf arc = Arc(16, 16, 9, 2.2, a0, a1);
  const double rad = a1 * M_PI / 180;
  const Point end{16 + 9 * std::cos(rad), 16 - 9 * std::sin(rad)};
  const Point dir{-std::sin(rad), -std::cos(rad)};  // along the arc, counter-clockwise on screen
  const Point tip{end.x + dir.x * 5, end.y + dir.y * 5};
  Sdf head = Polygon({tip, {end.x - dir.y * 4, end.y + dir.x * 4}, {end.x + dir.y * 4, end.y - dir.x * 4}});
  return Union(arc, head);
}

Image Draw(const Cursor& c) {
  Image img(32, 32);
  const Sdf s = c.shape();
  img.Fill(Offset(s, 1.2), kWhite);
  img.Fill(s, kBlack);
  if (c.extra) c.extra(img);
  return img;
}

std::vector<Cursor> Cursors() {
  std::vector<Cursor> list;
  auto add = [&](std::string file, int hx, int hy, std::function<Sdf()> shape,
                 std::function<void(Image&)> extra = nullptr) {
    list.push_back({std::move(file), hx, hy, std::move(shape), std::move(extra)});
  };
  // The glass goes over the lens, the sign again over the glass so it stays black.
  auto glass = [](int sign) {
    return [sign](Image& img) {
      img.Fill(Circle(12, 12, 6.2), kGlass);
      img.Fill(LensSign(sign), kBlack);
    };
  };
  add("zoommeno", 12, 12, [] { return Magnifier(-1); }, glass(-1));
  add("zoompiu", 12, 12, [] { return Magnifier(+1); }, glass(+1));
  add("croce", 15, 15, [] { return Cross(15, 15, 12, 0); });
  add("gomma", 8, 27, [] { return Eraser(); }, [](Image& img) { img.Fill(Polygon({{6, 19}, {16, 9}, {23, 16}, {13, 26}}), Hex(0xF08080)); });
  add("mano", 15, 12, [] { return Hand(); }, [](Image& img) { img.Fill(Offset(Hand(), -1.3), Hex(0xFFF4E6)); });
  add("penna", 2, 30, [] { return Pen(); }, [](Image& img) { img.Fill(Polygon({{6, 24}, {23, 7}, {25, 9}, {8, 26}}), Hex(0x6090E0)); });
  add("croce1", 15, 15, [] { return Union(Cross(15, 15, 12, 3), Rim(Circle(15, 15, 5), 1)); });
  for (int sign : {0, +1, -1}) {
    const std::string tail = sign == 0 ? "" : sign > 0 ? "plus" : "minus";
    add("croce3" + tail, 15, 15, [sign] { return WithSign(Cross(15, 15, 11, 3), sign); });
    add("croce2" + tail, 15, 15, [sign] { return WithSign(Union(Cross(15, 15, 11, 0), Rim(RoundRect(11, 11, 20, 20, 0), 1)), sign); });
  }
  add("move2", 15, 15, [] { return DoubleArrow({6, 6}, {25, 25}); });
  add("movey", 15, 15, [] { return DoubleArrow({15, 3}, {15, 28}); });
  add("move1", 15, 15, [] { return DoubleArrow({25, 6}, {6, 25}); });
  add("movex", 15, 15, [] { return DoubleArrow({3, 15}, {28, 15}); });
  add("move", 15, 15, [] { return Union(DoubleArrow({3, 15}, {28, 15}), DoubleArrow({15, 3}, {15, 28})); });
  // The numbered cursors: crosses with a marker whose place tells them apart.
  for (int id : {1795, 1796, 1797, 1798, 1799, 1800, 1801, 1802, 1803, 1805, 1806, 1807, 1808}) {
    const int k = id - 1795;
    const double mx = 21 + (k % 4) * 2.0, my = 20 + (k / 4) * 2.5;
    add(std::to_string(id), 15, 15, [mx, my] { return Union(Cross(13, 13, 10, 2), RoundRect(mx, my, mx + 5, my + 5, 1)); });
  }
  for (int q = 0; q < 4; ++q) add("rot" + std::to_string(q + 1), 16, 16, [q] { return RotateArrow(q); });
  return list;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: cursorgen RESOURCE-FOLDER\n");
    return 2;
  }
  const std::string out = argv[1];
  bool ok = true;
  // Image resource ids follow the list: 1778 for the first cursor, and so on
  // (tools/cursorgen/CMakeLists.txt embeds them in the same order).
  uint16_t id = 1778;
  for (const Cursor& c : Cursors()) {
    std::vector<uint8_t> image(4, 0);
    Put16(image, 0, uint32_t(c.hotX));
    Put16(image, 2, uint32_t(c.hotY));
    const std::vector<uint8_t> dib = IconDib32(Draw(c));
    image.insert(image.end(), dib.begin(), dib.end());
    ok = ok && WriteFile(out + "/" + c.file + "_1.bin", image);
    ok = ok && WriteFile(out + "/" + c.file + "_group.bin", GroupDirectory(2, {image}, {id}));
    ++id;
  }
  return ok ? 0 : 1;
}
