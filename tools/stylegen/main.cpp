// Draws the style library and writes it as a 16-bit NE icon library: the
// resource table holds an RT_ICON block with every image and an RT_GROUP_ICON
// block with one named group per style; each group lists, for 48, 32 and 16
// pixels, a shape and an overlay for the display images and a shape and an
// overlay for the result images, all 32-bit.
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "drawkit.h"

using namespace drawkit;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Style {
  std::string name;
  std::function<Sdf(double s)> shape;
  std::function<void(Image& overlay, const Sdf& shape, double s)> overlay;
};

// ---- overlays ----

// A soft white highlight over the upper part of the shape.
void Gloss(Image& img, const Sdf& shape, double s, double strength = 0.6) {
  const Sdf area = Intersect(Offset(shape, -s * 0.06), Ellipse(s / 2, s * 0.12, s * 0.7, s * 0.42));
  img.Fill(area, Linear({0, s * 0.05}, Hex(0xFFFFFF, strength), {0, s * 0.5}, Hex(0xFFFFFF, 0.04)));
}

// A dark outline inside the edge and a faint light line inside that.
void Outline(Image& img, const Sdf& shape, double s, uint32_t colour = 0x000000, double alpha = 0.5) {
  const double w = std::max(1.0, s / 22);
  img.Fill(Rim(shape, w), Hex(colour, alpha));
  if (s >= 32) img.Fill(Rim(Offset(shape, -w), w * 0.8), Hex(0xFFFFFF, 0.25));
}

// A light crescent along the bottom, as glass catches light from behind.
void Reflection(Image& img, const Sdf& shape, double s) {
  const Sdf band = Subtract(Offset(shape, -s * 0.07), Offset(Circle(s / 2, s * 0.42, s * 0.42), 0));
  img.Fill(Intersect(band, Offset(shape, -s * 0.07)),
           Linear({0, s * 0.6}, Hex(0xFFFFFF, 0.0), {0, s * 0.92}, Hex(0xFFFFFF, 0.45)));
}

void Standard(Image& img, const Sdf& shape, double s) {
  Gloss(img, shape, s);
  Outline(img, shape, s);
}

// ---- shapes ----

std::vector<Point> Heart(double s) {
  std::vector<Point> p;
  for (int i = 0; i < 96; ++i) {
    const double t = 2 * kPi * i / 96;
    const double x = 16 * std::pow(std::sin(t), 3);
    const double y = 13 * std::cos(t) - 5 * std::cos(2 * t) - 2 * std::cos(3 * t) - std::cos(4 * t);
    p.push_back({s / 2 + x * s / 36, s * 0.46 - y * s / 36});
  }
  return p;
}

Sdf Squircle(double s) {
  const double c = s / 2, r = s * 0.45;
  return [=](double x, double y) {
    const double dx = std::abs(x - c), dy = std::abs(y - c);
    return std::pow(std::pow(dx, 4) + std::pow(dy, 4), 0.25) - r;
  };
}

std::vector<Style> Styles() {
  std::vector<Style> v;
  v.push_back(
      {"Rounded Tile", [](double s) { return RoundRect(s * 0.04, s * 0.04, s * 0.96, s * 0.96, s * 0.22); }, Standard});
  v.push_back({"Round Button", [](double s) { return Circle(s / 2, s / 2, s * 0.46); }, Standard});
  v.push_back({"Framed Square", [](double s) { return RoundRect(s * 0.03, s * 0.03, s * 0.97, s * 0.97, s * 0.06); },
               [](Image& img, const Sdf& shape, double s) {
                 img.Fill(Rim(shape, std::max(2.0, s * 0.1)), Linear({0, 0}, Hex(0xF4F4F4), {s, s}, Hex(0x9098A8)));
                 img.Fill(Rim(shape, std::max(1.0, s / 40)), Hex(0x303040, 0.7));
                 img.Fill(Rim(Offset(shape, -std::max(2.0, s * 0.1)), std::max(1.0, s / 48)), Hex(0x000000, 0.35));
               }});
  v.push_back({"Hexagon", [](double s) { return Polygon(RegularPoints(s / 2, s / 2, 6, s * 0.5, 30)); }, Standard});
  v.push_back({"Shield",
               [](double s) {
                 return Polygon({{s * 0.1, s * 0.08},
                                 {s * 0.9, s * 0.08},
                                 {s * 0.9, s * 0.5},
                                 {s * 0.78, s * 0.74},
                                 {s * 0.5, s * 0.96},
                                 {s * 0.22, s * 0.74},
                                 {s * 0.1, s * 0.5}});
               },
               [](Image& img, const Sdf& shape, double s) {
                 img.Fill(Intersect(shape, RoundRect(s * 0.5, 0, s, s, 0)), Hex(0x000000, 0.18));
                 Outline(img, shape, s, 0x202020, 0.6);
                 Gloss(img, shape, s, 0.45);
               }});
  v.push_back({"Star", [](double s) { return Polygon(StarPoints(s / 2, s * 0.53, 5, s * 0.5, s * 0.24, 0)); },
               [](Image& img, const Sdf& shape, double s) {
                 Outline(img, shape, s, 0x604000, 0.55);
                 Gloss(img, shape, s, 0.5);
               }});
  v.push_back({"Heart", [](double s) { return Polygon(Heart(s)); },
               [](Image& img, const Sdf& shape, double s) {
                 img.Fill(Intersect(shape, Ellipse(s * 0.33, s * 0.3, s * 0.14, s * 0.09)), Hex(0xFFFFFF, 0.6));
                 Outline(img, shape, s, 0x400010, 0.45);
               }});
  v.push_back({"Diamond", [](double s) { return Polygon(RegularPoints(s / 2, s / 2, 4, s * 0.5, 0)); },
               [](Image& img, const Sdf& shape, double s) {
                 img.Fill(Intersect(shape, Polygon({{0, 0}, {s, 0}, {s, s / 2}, {0, s / 2}})), Hex(0xFFFFFF, 0.3));
                 img.Fill(Intersect(shape, Polygon({{s / 2, 0}, {s, 0}, {s, s}, {s / 2, s}})), Hex(0x000000, 0.15));
                 Outline(img, shape, s);
               }});
  v.push_back({"Octagon", [](double s) { return Polygon(RegularPoints(s / 2, s / 2, 8, s * 0.5, 22.5)); }, Standard});
  v.push_back({"Squircle", Squircle, [](Image& img, const Sdf& shape, double s) {
                 img.Fill(Intersect(Offset(shape, -s * 0.05),
                                    Polygon({{0, s * 0.55}, {s * 0.55, 0}, {s * 0.75, 0}, {0, s * 0.75}})),
                          Hex(0xFFFFFF, 0.35));
                 Outline(img, shape, s);
               }});
  v.push_back({"Glass Disc", [](double s) { return Circle(s / 2, s / 2, s * 0.47); },
               [](Image& img, const Sdf& shape, double s) {
                 Reflection(img, shape, s);
                 Gloss(img, shape, s, 0.75);
                 Outline(img, shape, s, 0x102040, 0.55);
               }});
  v.push_back({"Ticket",
               [](double s) {
                 const Sdf card = RoundRect(s * 0.02, s * 0.14, s * 0.98, s * 0.86, s * 0.08);
                 return Subtract(Subtract(card, Circle(s * 0.02, s / 2, s * 0.1)), Circle(s * 0.98, s / 2, s * 0.1));
               },
               Standard});
  v.push_back({"Drop",
               [](double s) {
                 return Union(Circle(s / 2, s * 0.64, s * 0.32),
                              Polygon({{s / 2, s * 0.02}, {s * 0.79, s * 0.54}, {s * 0.21, s * 0.54}}));
               },
               [](Image& img, const Sdf& shape, double s) {
                 img.Fill(Intersect(shape, Ellipse(s * 0.38, s * 0.62, s * 0.07, s * 0.12)), Hex(0xFFFFFF, 0.55));
                 Outline(img, shape, s, 0x002040, 0.5);
               }});
  v.push_back({"Speech Bubble",
               [](double s) {
                 return Union(RoundRect(s * 0.03, s * 0.06, s * 0.97, s * 0.74, s * 0.18),
                              Polygon({{s * 0.2, s * 0.6}, {s * 0.45, s * 0.6}, {s * 0.14, s * 0.96}}));
               },
               Standard});
  return v;
}

// ---- the NE library ----

struct Resource {
  uint16_t id;  // with bit 15 for an integer id; else the name's offset
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> GroupDirectory(const std::vector<std::pair<const std::vector<uint8_t>*, uint16_t>>& images) {
  std::vector<uint8_t> g(6 + 14 * images.size(), 0);
  Put16(g, 2, 1);
  Put16(g, 4, uint32_t(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const std::vector<uint8_t>& dib = *images[i].first;
    const size_t at = 6 + 14 * i;
    g[at] = dib[4];      // width (below 256)
    g[at + 1] = dib[4];  // square
    Put16(g, at + 4, 1);
    Put16(g, at + 6, 32);
    Put32(g, at + 8, uint32_t(dib.size()));
    Put16(g, at + 12, images[i].second);
  }
  return g;
}

// MZ stub, NE header, resource table with its name strings, resident names,
// then every resource at a multiple of the alignment unit.
std::vector<uint8_t> WriteNE(const std::vector<Resource>& icons, const std::vector<Resource>& groups,
                             const std::vector<std::string>& names) {
  size_t dataBytes = 0;
  for (const auto& r : icons) dataBytes += r.bytes.size() + 64;
  for (const auto& r : groups) dataBytes += r.bytes.size() + 64;
  uint16_t shift = 4;
  while ((dataBytes >> shift) > 0xF000) ++shift;
  const size_t unit = size_t(1) << shift;

  std::vector<uint8_t> f(128, 0);
  f[0] = 'M', f[1] = 'Z';
  Put32(f, 60, 64);
  f[64] = 'N', f[65] = 'E';
  f[66] = 5;
  const size_t table = 128;
  const size_t tableSize = 2 + (8 + 12 * icons.size()) + (8 + 12 * groups.size()) + 2;
  std::vector<uint8_t> strings;
  for (const auto& n : names) {
    strings.push_back(uint8_t(n.size()));
    strings.insert(strings.end(), n.begin(), n.end());
  }
  strings.push_back(0);
  const size_t resident = table + tableSize + strings.size();
  const std::vector<uint8_t> residentNames = {6, 'S', 'T', 'Y', 'L', 'E', 'S', 0, 0, 0};
  Put16(f, 64 + 36, uint32_t(table - 64));
  Put16(f, 64 + 38, uint32_t(resident - 64));
  size_t at = (resident + residentNames.size() + unit - 1) / unit * unit;

  std::vector<uint8_t> t(2, 0), data;
  Put16(t, 0, shift);
  auto block = [&](uint16_t type, const std::vector<Resource>& list) {
    std::vector<uint8_t> head(8, 0);
    Put16(head, 0, type);
    Put16(head, 2, uint32_t(list.size()));
    t.insert(t.end(), head.begin(), head.end());
    for (const auto& r : list) {
      std::vector<uint8_t> e(12, 0);
      Put16(e, 0, uint32_t(at >> shift));
      Put16(e, 2, uint32_t((r.bytes.size() + unit - 1) >> shift));
      Put16(e, 4, 0x1C30);  // moveable, pure, discardable
      Put16(e, 6, r.id);
      t.insert(t.end(), e.begin(), e.end());
      data.insert(data.end(), r.bytes.begin(), r.bytes.end());
      data.resize((data.size() + unit - 1) / unit * unit, 0);
      at += (r.bytes.size() + unit - 1) / unit * unit;
    }
  };
  block(0x8003, icons);
  block(0x800E, groups);
  t.insert(t.end(), {0, 0});
  f.insert(f.end(), t.begin(), t.end());
  f.insert(f.end(), strings.begin(), strings.end());
  f.insert(f.end(), residentNames.begin(), residentNames.end());
  f.resize((f.size() + unit - 1) / unit * unit, 0);
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: stylegen OUTPUT.icl [PNG-FOLDER]\n");
    return 2;
  }
  const std::vector<Style> styles = Styles();
  std::vector<Resource> icons, groups;
  // Name strings: "ICL" first, then one per style; a group's id is the offset
  // of its name from the start of the resource table.
  std::vector<std::string> names = {"ICL"};
  size_t nameAt = 2 + (8 + 12 * styles.size() * 12) + (8 + 12 * styles.size()) + 2 + 4;
  uint16_t nextId = 1;
  for (const Style& st : styles) {
    std::vector<std::pair<size_t, uint16_t>> members;  // index in icons, id
    for (int s : {48, 32, 16}) {
      const Sdf shape = st.shape(s);
      Image mask(s, s), overlay(s, s);
      mask.Fill(shape, Hex(0xFFFFFF));
      st.overlay(overlay, shape, s);
      if (argc > 2) {
        std::string base = std::string(argv[2]) + "/" + st.name + "_" + std::to_string(s);
        for (char& c : base)
          if (c == ' ') c = '_';
        WritePng(base + "_shape.png", mask);
        WritePng(base + "_overlay.png", overlay);
      }
      // Display shape and overlay, then result shape and overlay.
      for (const Image* img : {&mask, &overlay, &mask, &overlay}) {
        icons.push_back({uint16_t(0x8000 | nextId), IconDib32(*img)});
        members.push_back({icons.size() - 1, nextId});
        ++nextId;
      }
    }
    std::vector<std::pair<const std::vector<uint8_t>*, uint16_t>> entries;
    for (auto [index, id] : members) entries.push_back({&icons[index].bytes, id});
    groups.push_back({uint16_t(nameAt), GroupDirectory(entries)});
    names.push_back(st.name);
    nameAt += 1 + st.name.size();
  }
  return WriteFile(argv[1], WriteNE(icons, groups, names)) ? 0 : 1;
}
