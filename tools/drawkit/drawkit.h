#pragma once
// A small rasteriser for the program's own pictures: shapes are signed distance
// functions in pixel units (negative inside), filled with a paint by
// supersampling, composited "over" into a straight-alpha RGBA image; and the
// few file layouts the generators write (icon DIBs, PNG).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace drawkit {

struct Rgba {
  double r = 0, g = 0, b = 0, a = 0;  // 0..1, not premultiplied
};
inline Rgba Hex(uint32_t rgb, double a = 1) {
  return {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, a};
}
Rgba Mix(const Rgba& a, const Rgba& b, double t);

struct Point {
  double x, y;
};

using Sdf = std::function<double(double x, double y)>;
using Paint = std::function<Rgba(double x, double y)>;

// ---- shapes (pixel centres are at +0.5) ----
Sdf Circle(double cx, double cy, double r);
Sdf Ellipse(double cx, double cy, double rx, double ry);
Sdf RoundRect(double x0, double y0, double x1, double y1, double radius);
Sdf Polygon(std::vector<Point> points);
// A line of the given width with round ends.
Sdf Segment(Point a, Point b, double width);
// A polyline of round-ended segments.
Sdf Stroke(std::vector<Point> points, double width);
// An arc of a circle of radius r and width, from angle a0 to a1 (degrees,
// counter-clockwise from the x axis, y pointing down on screen).
Sdf Arc(double cx, double cy, double r, double width, double a0, double a1);
Sdf Union(Sdf a, Sdf b);
Sdf Intersect(Sdf a, Sdf b);
Sdf Subtract(Sdf a, Sdf b);
// The shape grown (positive) or shrunk (negative) by d pixels.
Sdf Offset(Sdf a, double d);
// The band between the outline and d pixels inside it.
Sdf Rim(Sdf a, double d);
// A regular star or polygon: n points, outer and inner radius, rotated.
std::vector<Point> StarPoints(double cx, double cy, int n, double outer, double inner, double rotationDeg);
std::vector<Point> RegularPoints(double cx, double cy, int n, double r, double rotationDeg);

// ---- paints ----
Paint Solid(Rgba c);
// Linear gradient from colour a at p0 to colour b at p1.
Paint Linear(Point p0, Rgba a, Point p1, Rgba b);
Paint Radial(Point centre, double radius, Rgba inner, Rgba outer);

class Image {
 public:
  Image(int w, int h) : W(w), H(h), Px(size_t(w) * size_t(h)) {}
  int W, H;
  std::vector<Rgba> Px;  // rows top-down
  Rgba& At(int x, int y) { return Px[size_t(y) * size_t(W) + size_t(x)]; }
  const Rgba& At(int x, int y) const { return Px[size_t(y) * size_t(W) + size_t(x)]; }
  // Composites the paint over the image where the shape is, antialiased.
  void Fill(const Sdf& shape, const Paint& paint, int samples = 4);
  void Fill(const Sdf& shape, Rgba colour, int samples = 4) { Fill(shape, Solid(colour), samples); }
  // 8-bit straight RGBA, rows top-down.
  std::vector<uint8_t> Rgba8() const;
};

// ---- file layouts ----
// A packed 32-bit icon DIB (header with doubled height, bottom-up BGRA rows,
// AND mask set where alpha is 0).
std::vector<uint8_t> IconDib32(const Image& img);
// A packed DIB of a 24-bit or 4-bit picture (for RT_BITMAP resources): pixels
// of little cover become the key colour, the others are flattened onto the face
// colour; 4-bit maps every pixel to the nearest of the 16 standard colours.
std::vector<uint8_t> Dib24(const Image& img, uint32_t key, uint32_t face);
std::vector<uint8_t> Dib4(const Image& img, uint32_t key, uint32_t face);
bool WritePng(const std::string& file, const Image& img);
bool WriteFile(const std::string& file, const std::vector<uint8_t>& bytes);
void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x);
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x);
// The directory of an icon (type 1) or cursor (type 2) resource group: one
// entry per image resource (cursor images start with their hotspot) and its id.
std::vector<uint8_t> GroupDirectory(uint16_t type, const std::vector<std::vector<uint8_t>>& images,
                                    const std::vector<uint16_t>& ids);

}  // namespace drawkit
