// Draws the stock icons of the Windows model's shell library and writes them as
// a 32-bit PE library holding only resources: 47 icon groups (numbers 1 to 45,
// which are the positions 0 to 44, then 137 and 138), each with 48, 32 and 16
// pixel images at 32 bits. The pictures are simple motifs of our own (folders,
// drives, documents, screens, a globe, a printer ...) in a colour per number, so
// that two stock icons never look the same.
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "drawkit.h"

using namespace drawkit;

namespace {

enum class Motif { Document, Application, Folder, OpenFolder, Drive, Disc, Screen, Globe, Printer, Network, Star, Power };

// What each stock position shows (the shell's own order of meanings).
Motif MotifOf(int n) {
  switch (n) {
    case 0: case 1: return Motif::Document;
    case 2: case 24: return Motif::Application;
    case 3: case 19: case 20: case 36: case 39: return Motif::Folder;
    case 4: return Motif::OpenFolder;
    case 5: case 6: case 7: case 8: case 9: case 10: case 12: return Motif::Drive;
    case 11: case 40: return Motif::Disc;
    case 15: case 26: case 34: case 35: return Motif::Screen;
    case 13: case 14: case 17: case 18: return Motif::Network;
    case 16: return Motif::Printer;
    case 27: case 25: case 44: return Motif::Power;
    case 137: return Motif::Screen;
    case 138: return Motif::Printer;
    default: return n % 2 ? Motif::Globe : Motif::Star;
  }
}

Rgba ColourOf(int n) {
  // Hues spread by the golden angle, so neighbours differ.
  const double h = std::fmod(n * 137.508, 360.0) / 60.0;
  const double x = 1 - std::fabs(std::fmod(h, 2.0) - 1);
  double r = 0, g = 0, b = 0;
  switch (static_cast<int>(h)) {
    case 0: r = 1; g = x; break;
    case 1: r = x; g = 1; break;
    case 2: g = 1; b = x; break;
    case 3: g = x; b = 1; break;
    case 4: r = x; b = 1; break;
    default: r = 1; b = x; break;
  }
  return {0.25 + 0.6 * r, 0.25 + 0.6 * g, 0.25 + 0.6 * b, 1};
}

Image Draw(int n, int s) {
  Image img(s, s);
  const double u = s / 32.0;
  const Rgba c = ColourOf(n);
  const Rgba dark = Mix(c, Hex(0x000000), 0.55);
  const Rgba light = Mix(c, Hex(0xFFFFFF), 0.55);
  const double line = std::max(1.0, u);
  auto framed = [&](const Sdf& shape, const Paint& fill) {
    img.Fill(shape, fill);
    img.Fill(Rim(shape, line), dark);
  };
  switch (MotifOf(n)) {
    case Motif::Document: {
      const Sdf page = Polygon({{7 * u, 2 * u}, {20 * u, 2 * u}, {26 * u, 8 * u}, {26 * u, 30 * u}, {7 * u, 30 * u}});
      framed(page, Solid(Hex(0xFFFFFF)));
      for (int k = 0; k < 4; ++k) img.Fill(Segment({10 * u, (13 + 4 * k) * u}, {23 * u, (13 + 4 * k) * u}, line), c);
      break;
    }
    case Motif::Application: {
      framed(RoundRect(3 * u, 5 * u, 29 * u, 27 * u, 2 * u), Solid(Hex(0xF4F4F4)));
      img.Fill(RoundRect(3 * u, 5 * u, 29 * u, 10 * u, 2 * u), c);
      break;
    }
    case Motif::Folder:
    case Motif::OpenFolder: {
      framed(Union(RoundRect(2 * u, 6 * u, 14 * u, 12 * u, 2 * u), RoundRect(2 * u, 9 * u, 30 * u, 27 * u, 2 * u)),
             Linear({0, 6 * u}, light, {0, 27 * u}, c));
      if (MotifOf(n) == Motif::OpenFolder)
        framed(Polygon({{6 * u, 14 * u}, {31 * u, 14 * u}, {27 * u, 27 * u}, {2 * u, 27 * u}}), Solid(light));
      break;
    }
    case Motif::Drive: {
      framed(RoundRect(2 * u, 11 * u, 30 * u, 23 * u, 3 * u), Linear({0, 11 * u}, light, {0, 23 * u}, c));
      img.Fill(Circle(25 * u, 17 * u, 1.6 * u), Hex(0x20C020));
      img.Fill(Segment({6 * u, 17 * u}, {16 * u, 17 * u}, line), dark);
      break;
    }
    case Motif::Disc: {
      framed(Circle(16 * u, 16 * u, 14 * u), Radial({12 * u, 12 * u}, 16 * u, light, c));
      img.Fill(Circle(16 * u, 16 * u, 3 * u), Hex(0xFFFFFF));
      break;
    }
    case Motif::Screen: {
      framed(RoundRect(3 * u, 3 * u, 29 * u, 22 * u, 2 * u), Solid(dark));
      img.Fill(RoundRect(5 * u, 5 * u, 27 * u, 20 * u, 1 * u), Linear({0, 5 * u}, light, {0, 20 * u}, c));
      framed(RoundRect(10 * u, 24 * u, 22 * u, 29 * u, 1 * u), Solid(Hex(0xC0C0C0)));
      break;
    }
    case Motif::Globe: {
      framed(Circle(16 * u, 16 * u, 13 * u), Radial({12 * u, 11 * u}, 16 * u, light, c));
      img.Fill(Rim(Ellipse(16 * u, 16 * u, 6 * u, 13 * u), line), dark);
      img.Fill(Segment({3 * u, 16 * u}, {29 * u, 16 * u}, line), dark);
      break;
    }
    case Motif::Printer: {
      framed(RoundRect(8 * u, 3 * u, 24 * u, 14 * u, 1 * u), Solid(Hex(0xFFFFFF)));
      framed(RoundRect(2 * u, 12 * u, 30 * u, 25 * u, 2 * u), Linear({0, 12 * u}, light, {0, 25 * u}, c));
      framed(RoundRect(8 * u, 21 * u, 24 * u, 29 * u, 1 * u), Solid(Hex(0xFFFFFF)));
      break;
    }
    case Motif::Network: {
      framed(RoundRect(2 * u, 4 * u, 14 * u, 13 * u, 1 * u), Solid(light));
      framed(RoundRect(18 * u, 4 * u, 30 * u, 13 * u, 1 * u), Solid(light));
      img.Fill(Stroke({{8 * u, 13 * u}, {8 * u, 18 * u}, {24 * u, 18 * u}, {24 * u, 13 * u}}, 1.5 * line), dark);
      img.Fill(Segment({16 * u, 18 * u}, {16 * u, 24 * u}, 1.5 * line), dark);
      framed(RoundRect(10 * u, 23 * u, 22 * u, 30 * u, 1 * u), Solid(c));
      break;
    }
    case Motif::Star: {
      framed(Polygon(StarPoints(16 * u, 17 * u, 5, 14 * u, 6 * u, -90)), Radial({16 * u, 14 * u}, 14 * u, light, c));
      break;
    }
    case Motif::Power: {
      img.Fill(Arc(16 * u, 17 * u, 11 * u, 3.5 * u, 120, 420), c);
      img.Fill(Segment({16 * u, 3 * u}, {16 * u, 15 * u}, 3.5 * u), c);
      break;
    }
  }
  return img;
}

// ---- a PE library that holds only resources ----

void Append16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void Append32(std::vector<uint8_t>& v, uint32_t x) {
  Append16(v, x & 0xFFFF);
  Append16(v, x >> 16);
}
void Pad(std::vector<uint8_t>& v, size_t alignment) {
  while (v.size() % alignment) v.push_back(0);
}

using TResources = std::map<uint16_t, std::map<uint16_t, std::vector<uint8_t>>>;  // type -> id -> data

constexpr uint32_t kSectionRva = 0x1000;
constexpr uint16_t kLanguage = 0x0409;

// The resource section: the three directory levels (type, id, language), the
// data entries, then the data, as the format lays them out.
std::vector<uint8_t> ResourceSection(const TResources& resources) {
  size_t dirBytes = 16 + 8 * resources.size();
  size_t leaves = 0;
  for (const auto& [type, ids] : resources) {
    dirBytes += 16 + 8 * ids.size();
    dirBytes += (16 + 8) * ids.size();
    leaves += ids.size();
  }
  const size_t entriesAt = dirBytes;
  size_t dataAt = entriesAt + 16 * leaves;
  std::vector<uint8_t> dirs, entries, data;
  auto table = [](std::vector<uint8_t>& v, size_t count) {
    Append32(v, 0);
    Append32(v, 0);
    Append16(v, 0);
    Append16(v, 0);
    Append16(v, 0);
    Append16(v, uint32_t(count));
  };
  // Level 1.
  table(dirs, resources.size());
  size_t next = 16 + 8 * resources.size();
  std::vector<size_t> typeAt;
  for (const auto& [type, ids] : resources) {
    Append32(dirs, type);
    Append32(dirs, 0x80000000u | uint32_t(next));
    typeAt.push_back(next);
    next += 16 + 8 * ids.size();
  }
  // Level 2, then level 3 after all level-2 tables.
  size_t languageAt = next;
  size_t leaf = 0;
  for (const auto& [type, ids] : resources) {
    table(dirs, ids.size());
    for (const auto& [id, bytes] : ids) {
      Append32(dirs, id);
      Append32(dirs, 0x80000000u | uint32_t(languageAt));
      languageAt += 16 + 8;
    }
  }
  for (const auto& [type, ids] : resources) {
    for (const auto& [id, bytes] : ids) {
      table(dirs, 1);
      Append32(dirs, kLanguage);
      Append32(dirs, uint32_t(entriesAt + 16 * leaf));
      ++leaf;
      Append32(entries, uint32_t(kSectionRva + dataAt + data.size()));
      Append32(entries, uint32_t(bytes.size()));
      Append32(entries, 0);
      Append32(entries, 0);
      data.insert(data.end(), bytes.begin(), bytes.end());
      Pad(data, 4);
    }
  }
  std::vector<uint8_t> section = dirs;
  section.insert(section.end(), entries.begin(), entries.end());
  section.insert(section.end(), data.begin(), data.end());
  return section;
}

std::vector<uint8_t> WritePE(const TResources& resources) {
  const std::vector<uint8_t> rsrc = ResourceSection(resources);
  const uint32_t rawSize = uint32_t((rsrc.size() + 0x1FF) & ~size_t(0x1FF));
  const uint32_t virtualSize = uint32_t(rsrc.size());
  const uint32_t imageSize = kSectionRva + ((virtualSize + 0xFFF) & ~0xFFFu);
  std::vector<uint8_t> f(0x40, 0);
  f[0] = 'M';
  f[1] = 'Z';
  Put32(f, 0x3C, 0x40);
  for (char ch : {'P', 'E', '\0', '\0'}) f.push_back(uint8_t(ch));
  // File header: i386, one section, a DLL.
  Append16(f, 0x014C);
  Append16(f, 1);
  Append32(f, 0);
  Append32(f, 0);
  Append32(f, 0);
  Append16(f, 224);
  Append16(f, 0x2102);
  // Optional header (PE32).
  Append16(f, 0x010B);
  f.push_back(6);
  f.push_back(0);
  Append32(f, 0);             // size of code
  Append32(f, rawSize);       // size of initialised data
  Append32(f, 0);             // size of uninitialised data
  Append32(f, 0);             // entry point: none, a resource-only library
  Append32(f, 0);             // base of code
  Append32(f, kSectionRva);   // base of data
  Append32(f, 0x10000000);    // image base
  Append32(f, 0x1000);        // section alignment
  Append32(f, 0x200);         // file alignment
  Append16(f, 4);
  Append16(f, 0);             // operating system version
  Append16(f, 0);
  Append16(f, 0);             // image version
  Append16(f, 4);
  Append16(f, 0);             // subsystem version
  Append32(f, 0);
  Append32(f, imageSize);
  Append32(f, 0x200);         // size of headers
  Append32(f, 0);             // checksum
  Append16(f, 2);             // Windows GUI
  Append16(f, 0);
  Append32(f, 0x100000);
  Append32(f, 0x1000);
  Append32(f, 0x100000);
  Append32(f, 0x1000);
  Append32(f, 0);
  Append32(f, 16);
  for (int d = 0; d < 16; ++d) {
    Append32(f, d == 2 ? kSectionRva : 0);
    Append32(f, d == 2 ? virtualSize : 0);
  }
  // The one section.
  for (char ch : {'.', 'r', 's', 'r', 'c', '\0', '\0', '\0'}) f.push_back(uint8_t(ch));
  Append32(f, virtualSize);
  Append32(f, kSectionRva);
  Append32(f, rawSize);
  Append32(f, 0x200);
  Append32(f, 0);
  Append32(f, 0);
  Append16(f, 0);
  Append16(f, 0);
  Append32(f, 0x40000040);  // initialised data, readable
  Pad(f, 0x200);
  f.insert(f.end(), rsrc.begin(), rsrc.end());
  Pad(f, 0x200);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: shellgen shell32.dll [png-folder]\n");
    return 2;
  }
  constexpr uint16_t RT_ICON = 3, RT_GROUP_ICON = 14;
  TResources resources;
  uint16_t nextImage = 1;
  std::vector<int> stock;
  for (int n = 0; n <= 44; ++n) stock.push_back(n);
  stock.push_back(137);
  stock.push_back(138);
  for (size_t k = 0; k < stock.size(); ++k) {
    const int n = stock[k];
    std::vector<std::vector<uint8_t>> images;
    std::vector<uint16_t> ids;
    for (int s : {48, 32, 16}) {
      Image img = Draw(n, s);
      if (argc > 2 && s == 32) WritePng(std::string(argv[2]) + "/stock_" + std::to_string(n) + ".png", img);
      images.push_back(IconDib32(img));
      ids.push_back(nextImage);
      resources[RT_ICON][nextImage++] = images.back();
    }
    // Groups 1..45 are the positions 0..44; 137 and 138 keep their numbers and
    // sort after them.
    const uint16_t group = n <= 44 ? uint16_t(n + 1) : uint16_t(n);
    resources[RT_GROUP_ICON][group] = GroupDirectory(1, images, ids);
  }
  return WriteFile(argv[1], WritePE(resources)) ? 0 : 1;
}
