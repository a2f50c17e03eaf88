#include "drawkit.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace drawkit {

namespace {

constexpr double kPi = 3.14159265358979323846;

double Len(double x, double y) { return std::sqrt(x * x + y * y); }

double SegmentDistance(Point p, Point a, Point b) {
  const double vx = b.x - a.x, vy = b.y - a.y, wx = p.x - a.x, wy = p.y - a.y;
  const double l2 = vx * vx + vy * vy;
  const double t = l2 > 0 ? std::clamp((wx * vx + wy * vy) / l2, 0.0, 1.0) : 0.0;
  return Len(p.x - (a.x + t * vx), p.y - (a.y + t * vy));
}

uint8_t Byte(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); }

Rgba Over(const Rgba& s, double sa, const Rgba& d) {
  const double outA = sa + d.a * (1 - sa);
  if (outA <= 0) return Rgba{};
  auto ch = [&](double sc, double dc) { return (sc * sa + dc * d.a * (1 - sa)) / outA; };
  return Rgba{ch(s.r, d.r), ch(s.g, d.g), ch(s.b, d.b), outA};
}

// The colour an 8-bit RGBA pixel shows over the face colour, as 0xRRGGBB; an
// opaque pixel keeps its own bytes exactly.
uint32_t Flatten(const uint8_t* p, uint32_t face) {
  auto ch = [&](int c, int b) { return uint32_t((c * p[3] + b * (255 - p[3]) + 127) / 255); };
  return ch(p[0], int(face >> 16) & 0xFF) << 16 | ch(p[1], int(face >> 8) & 0xFF) << 8 | ch(p[2], int(face) & 0xFF);
}

// The key colour for pixels of little cover, else the flattened colour.
std::vector<uint32_t> FlatPixels(const Image& img, uint32_t key, uint32_t face) {
  const std::vector<uint8_t> rgba = img.Rgba8();
  std::vector<uint32_t> out;
  for (size_t i = 0; i < rgba.size(); i += 4) out.push_back(rgba[i + 3] < 90 ? key : Flatten(&rgba[i], face));
  return out;
}

constexpr uint32_t kVga[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                               0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

std::vector<uint8_t> DibHeader(int w, int h, int bits, int colours, size_t imageBytes) {
  std::vector<uint8_t> d(40 + size_t(colours) * 4, 0);
  Put32(d, 0, 40);
  Put32(d, 4, uint32_t(w));
  Put32(d, 8, uint32_t(h));
  Put16(d, 12, 1);
  Put16(d, 14, uint32_t(bits));
  Put32(d, 20, uint32_t(imageBytes));
  Put32(d, 32, uint32_t(colours));
  return d;
}

size_t RowBytes(int w, int bits) { return size_t((w * bits + 31) / 32) * 4; }

}  // namespace

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = uint8_t(x);
  v[at + 1] = uint8_t(x >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + size_t(i)] = uint8_t(x >> (8 * i));
}

Rgba Mix(const Rgba& a, const Rgba& b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

Sdf Circle(double cx, double cy, double r) {
  return [=](double x, double y) { return Len(x - cx, y - cy) - r; };
}

Sdf Ellipse(double cx, double cy, double rx, double ry) {
  // Scaled distance: close enough to a true distance for the rims we draw.
  return [=](double x, double y) {
    const double k = Len((x - cx) / rx, (y - cy) / ry);
    return (k - 1) * std::min(rx, ry);
  };
}

Sdf RoundRect(double x0, double y0, double x1, double y1, double radius) {
  const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2, hx = (x1 - x0) / 2, hy = (y1 - y0) / 2;
  radius = std::min({radius, hx, hy});
  return [=](double x, double y) {
    const double qx = std::abs(x - cx) - hx + radius, qy = std::abs(y - cy) - hy + radius;
    return Len(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - radius;
  };
}

Sdf Polygon(std::vector<Point> pts) {
  return [pts](double x, double y) {
    double d = std::numeric_limits<double>::max();
    bool inside = false;
    const size_t n = pts.size();
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
      d = std::min(d, SegmentDistance({x, y}, pts[j], pts[i]));
      if ((pts[i].y > y) != (pts[j].y > y) &&
          x < (pts[j].x - pts[i].x) * (y - pts[i].y) / (pts[j].y - pts[i].y) + pts[i].x)
        inside = !inside;
    }
    return inside ? -d : d;
  };
}

Sdf Segment(Point a, Point b, double width) {
  return [=](double x, double y) { return SegmentDistance({x, y}, a, b) - width / 2; };
}

Sdf Stroke(std::vector<Point> pts, double width) {
  return [pts, width](double x, double y) {
    double d = std::numeric_limits<double>::max();
    for (size_t i = 1; i < pts.size(); ++i) d = std::min(d, SegmentDistance({x, y}, pts[i - 1], pts[i]));
    return d - width / 2;
  };
}

Sdf Arc(double cx, double cy, double r, double width, double a0, double a1) {
  const double span = a1 - a0;
  const Point e0{cx + r * std::cos(a0 * kPi / 180), cy - r * std::sin(a0 * kPi / 180)};
  const Point e1{cx + r * std::cos(a1 * kPi / 180), cy - r * std::sin(a1 * kPi / 180)};
  return [=](double x, double y) {
    double t = std::atan2(-(y - cy), x - cx) * 180 / kPi - a0;
    t = std::fmod(std::fmod(t, 360) + 360, 360);
    if (t <= span) return std::abs(Len(x - cx, y - cy) - r) - width / 2;
    return std::min(Len(x - e0.x, y - e0.y), Len(x - e1.x, y - e1.y)) - width / 2;
  };
}

Sdf Union(Sdf a, Sdf b) {
  return [=](double x, double y) { return std::min(a(x, y), b(x, y)); };
}
Sdf Intersect(Sdf a, Sdf b) {
  return [=](double x, double y) { return std::max(a(x, y), b(x, y)); };
}
Sdf Subtract(Sdf a, Sdf b) {
  return [=](double x, double y) { return std::max(a(x, y), -b(x, y)); };
}
Sdf Offset(Sdf a, double d) {
  return [=](double x, double y) { return a(x, y) - d; };
}
Sdf Rim(Sdf a, double d) {
  return [=](double x, double y) {
    const double v = a(x, y);
    return std::max(v, -v - d);
  };
}

std::vector<Point> StarPoints(double cx, double cy, int n, double outer, double inner, double rotationDeg) {
  std::vector<Point> p;
  for (int i = 0; i < 2 * n; ++i) {
    const double a = (rotationDeg + 180.0 * i / n) * kPi / 180, r = i % 2 ? inner : outer;
    p.push_back({cx + r * std::sin(a), cy - r * std::cos(a)});
  }
  return p;
}

std::vector<Point> RegularPoints(double cx, double cy, int n, double r, double rotationDeg) {
  std::vector<Point> p;
  for (int i = 0; i < n; ++i) {
    const double a = (rotationDeg + 360.0 * i / n) * kPi / 180;
    p.push_back({cx + r * std::sin(a), cy - r * std::cos(a)});
  }
  return p;
}

Paint Solid(Rgba c) {
  return [c](double, double) { return c; };
}

Paint Linear(Point p0, Rgba a, Point p1, Rgba b) {
  const double vx = p1.x - p0.x, vy = p1.y - p0.y, l2 = vx * vx + vy * vy;
  return [=](double x, double y) { return Mix(a, b, l2 > 0 ? ((x - p0.x) * vx + (y - p0.y) * vy) / l2 : 0); };
}

Paint Radial(Point c, double radius, Rgba inner, Rgba outer) {
  return [=](double x, double y) { return Mix(inner, outer, Len(x - c.x, y - c.y) / radius); };
}

void Image::Fill(const Sdf& shape, const Paint& paint, int samples) {
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const double cx = x + 0.5, cy = y + 0.5;
      const double d = shape(cx, cy);
      double cover;
      if (d > 0.75) continue;
      if (d < -0.75) {
        cover = 1;
      } else {
        int in = 0;
        for (int sy = 0; sy < samples; ++sy)
          for (int sx = 0; sx < samples; ++sx) in += shape(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples) <= 0;
        cover = double(in) / (samples * samples);
      }
      if (cover <= 0) continue;
      const Rgba p = paint(cx, cy);
      At(x, y) = Over(p, p.a * cover, At(x, y));
    }
}

std::vector<uint8_t> Image::Rgba8() const {
  std::vector<uint8_t> out;
  out.reserve(Px.size() * 4);
  for (const Rgba& p : Px) {
    const uint8_t a = Byte(p.a);
    out.push_back(a ? Byte(p.r) : 0);
    out.push_back(a ? Byte(p.g) : 0);
    out.push_back(a ? Byte(p.b) : 0);
    out.push_back(a);
  }
  return out;
}

std::vector<uint8_t> IconDib32(const Image& img) {
  const size_t maskRow = RowBytes(img.W, 1), pixels = size_t(img.W) * size_t(img.H) * 4;
  std::vector<uint8_t> d = DibHeader(img.W, img.H * 2, 32, 0, pixels + maskRow * size_t(img.H));
  const std::vector<uint8_t> rgba = img.Rgba8();
  std::vector<uint8_t> mask(maskRow * size_t(img.H), 0);
  for (int y = img.H - 1; y >= 0; --y)
    for (int x = 0; x < img.W; ++x) {
      const uint8_t* p = &rgba[(size_t(y) * size_t(img.W) + size_t(x)) * 4];
      d.insert(d.end(), {p[2], p[1], p[0], p[3]});
      if (p[3] == 0) mask[size_t(img.H - 1 - y) * maskRow + size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
    }
  d.insert(d.end(), mask.begin(), mask.end());
  return d;
}

std::vector<uint8_t> Dib24(const Image& img, uint32_t key, uint32_t face) {
  const size_t row = RowBytes(img.W, 24);
  std::vector<uint8_t> d = DibHeader(img.W, img.H, 24, 0, row * size_t(img.H));
  const std::vector<uint32_t> flat = FlatPixels(img, key, face);
  for (int y = img.H - 1; y >= 0; --y) {
    std::vector<uint8_t> r(row, 0);
    for (int x = 0; x < img.W; ++x) {
      const uint32_t c = flat[size_t(y) * size_t(img.W) + size_t(x)];
      r[size_t(x) * 3] = uint8_t(c), r[size_t(x) * 3 + 1] = uint8_t(c >> 8), r[size_t(x) * 3 + 2] = uint8_t(c >> 16);
    }
    d.insert(d.end(), r.begin(), r.end());
  }
  return d;
}

std::vector<uint8_t> Dib4(const Image& img, uint32_t key, uint32_t face) {
  const size_t row = RowBytes(img.W, 4);
  std::vector<uint8_t> d = DibHeader(img.W, img.H, 4, 16, row * size_t(img.H));
  for (int i = 0; i < 16; ++i) Put32(d, 40 + size_t(i) * 4, kVga[i]);
  const std::vector<uint32_t> flat = FlatPixels(img, key, face);
  auto nearest = [](uint32_t c) {
    int best = 0;
    long bestD = std::numeric_limits<long>::max();
    for (int i = 0; i < 16; ++i) {
      long dist = 0;
      for (int s = 0; s < 24; s += 8) {
        const long v = long((c >> s) & 0xFF) - long((kVga[i] >> s) & 0xFF);
        dist += v * v;
      }
      if (dist < bestD) bestD = dist, best = i;
    }
    return best;
  };
  for (int y = img.H - 1; y >= 0; --y) {
    std::vector<uint8_t> r(row, 0);
    for (int x = 0; x < img.W; ++x) {
      const int index = nearest(flat[size_t(y) * size_t(img.W) + size_t(x)]);
      r[size_t(x / 2)] |= uint8_t(x % 2 ? index : index << 4);
    }
    d.insert(d.end(), r.begin(), r.end());
  }
  return d;
}

bool WritePng(const std::string& file, const Image& img) {
  const std::vector<uint8_t> rgba = img.Rgba8();
  png_image p{};
  p.version = PNG_IMAGE_VERSION;
  p.width = uint32_t(img.W);
  p.height = uint32_t(img.H);
  p.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&p, file.c_str(), 0, rgba.data(), 0, nullptr) != 0;
}

bool WriteFile(const std::string& file, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) {
    std::perror(file.c_str());
    return false;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) {
    std::fprintf(stderr, "cannot write %s\n", file.c_str());
    return false;
  }
  return true;
}

std::vector<uint8_t> GroupDirectory(uint16_t type, const std::vector<std::vector<uint8_t>>& images,
                                    const std::vector<uint16_t>& ids) {
  std::vector<uint8_t> g(6 + 14 * images.size(), 0);
  Put16(g, 2, type);
  Put16(g, 4, uint32_t(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const std::vector<uint8_t>& res = images[i];
    const size_t head = type == 2 ? 4 : 0;  // cursor images start with the hotspot
    const uint32_t w = res[head + 4];
    const size_t at = 6 + 14 * i;
    if (type == 1) {
      g[at] = uint8_t(w), g[at + 1] = uint8_t(w);
    } else {
      Put16(g, at, w);
      Put16(g, at + 2, w * 2);
    }
    Put16(g, at + 4, 1);
    Put16(g, at + 6, 32);
    Put32(g, at + 8, uint32_t(res.size()));
    Put16(g, at + 12, ids[i]);
  }
  return g;
}

}  // namespace drawkit
