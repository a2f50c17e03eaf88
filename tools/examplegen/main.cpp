// Draws the picture the icon maker opens at start: a flower against sky and
// hills, its blossom in the middle where the first selection falls, and writes
// it as a baseline JPEG.
#include <cmath>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "drawkit.h"

using namespace drawkit;

namespace {

constexpr int kWidth = 400, kHeight = 300;
constexpr double kPi = 3.14159265358979323846;

// An ellipse turned by angle degrees about its centre.
Sdf TurnedEllipse(double cx, double cy, double rx, double ry, double angle) {
  const double c = std::cos(angle * kPi / 180), s = std::sin(angle * kPi / 180);
  const Sdf e = Ellipse(0, 0, rx, ry);
  return [=](double x, double y) {
    const double dx = x - cx, dy = y - cy;
    return e(dx * c + dy * s, -dx * s + dy * c);
  };
}

Image Scene() {
  Image img(kWidth, kHeight);
  const Sdf all = RoundRect(-10, -10, kWidth + 10, kHeight + 10, 0);
  img.Fill(all, Linear({0, 0}, Hex(0x2F6FD0), {0, kHeight * 0.75}, Hex(0xB8E2F6)));
  img.Fill(Circle(330, 60, 70), Radial({330, 60}, 70, Hex(0xFFF6C0, 0.8), Hex(0xFFF6C0, 0)));
  img.Fill(Circle(330, 60, 26), Radial({324, 54}, 26, Hex(0xFFFBE0), Hex(0xFFD84A)));
  const Sdf cloud =
      Union(Union(Circle(60, 62, 20), Circle(86, 68, 26)), Union(Circle(112, 62, 20), RoundRect(60, 62, 112, 88, 12)));
  img.Fill(cloud, Linear({0, 40}, Hex(0xFFFFFF), {0, 92}, Hex(0xDDE8F2)));
  img.Fill(Circle(80, 470, 260), Linear({0, 210}, Hex(0x5DBB4A), {0, 300}, Hex(0x2E7D32)));
  img.Fill(Circle(360, 500, 270), Linear({0, 230}, Hex(0x7CCF5A), {0, 300}, Hex(0x3D8B36)));

  const double cx = 200, cy = 140;
  img.Fill(Stroke({{cx, cy + 20}, {cx - 6, cy + 90}, {cx + 2, 300}}, 9), Hex(0x2F7A2A));
  img.Fill(TurnedEllipse(cx - 30, cy + 100, 30, 11, -30), Linear({cx - 60, 0}, Hex(0x5CB848), {cx, 0}, Hex(0x2F7A2A)));
  img.Fill(TurnedEllipse(cx + 30, cy + 118, 30, 11, 25), Linear({cx, 0}, Hex(0x2F7A2A), {cx + 60, 0}, Hex(0x5CB848)));
  for (int i = 0; i < 12; ++i) {
    const double a = i * 30.0, r = 44;
    const double px = cx + r * std::cos(a * kPi / 180), py = cy + r * std::sin(a * kPi / 180);
    img.Fill(TurnedEllipse(px, py, 40, 17, a), Radial({cx, cy}, 86, Hex(0xFF4FA0), Hex(0xB0126A)));
    img.Fill(TurnedEllipse(cx + 30 * std::cos(a * kPi / 180), cy + 30 * std::sin(a * kPi / 180), 20, 4, a),
             Hex(0xFFFFFF, 0.25));
  }
  img.Fill(Circle(cx, cy, 26), Radial({cx - 8, cy - 8}, 34, Hex(0xFFE45C), Hex(0xE07B12)));
  for (int i = 0; i < 14; ++i) {
    const double a = i * 137.5 * kPi / 180, r = 4 + 1.4 * i;
    img.Fill(Circle(cx + r * std::cos(a), cy + r * std::sin(a), 2.2), Hex(0x8A3F08, 0.8));
  }
  return img;
}

bool WriteJpeg(const char* file, const Image& img) {
  std::FILE* f = std::fopen(file, "wb");
  if (!f) {
    std::perror(file);
    return false;
  }
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = JDIMENSION(img.W);
  c.image_height = JDIMENSION(img.H);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 92, TRUE);
  jpeg_start_compress(&c, TRUE);
  const std::vector<uint8_t> rgba = img.Rgba8();
  std::vector<uint8_t> row(size_t(img.W) * 3);
  while (c.next_scanline < c.image_height) {
    const uint8_t* p = &rgba[size_t(c.next_scanline) * size_t(img.W) * 4];
    for (int x = 0; x < img.W; ++x)
      for (int k = 0; k < 3; ++k) row[size_t(x) * 3 + size_t(k)] = p[x * 4 + k];
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  const bool ok = std::ferror(f) == 0;
  if (std::fclose(f) != 0 || !ok) {
    std::fprintf(stderr, "examplegen: cannot write %s\n", file);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: examplegen OUTPUT.jpg\n");
    return 2;
  }
  return WriteJpeg(argv[1], Scene()) ? 0 : 1;
}
