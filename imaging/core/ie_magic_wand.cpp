#include "imaging/core/ie_magic_wand.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"

namespace {

// One bit per pixel, rows of width div 8 + 1 bytes.
class TBitPlane {
public:
  bool Allocate(int width, int height) {
    FRowBytes = int64_t(width) / 8 + 1;
    try {
      FBits.assign(size_t(FRowBytes * height), 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  bool Get(int x, int y) const { return (FBits[size_t(y * FRowBytes + x / 8)] & (0x80 >> (x & 7))) != 0; }
  void Set(int x, int y) { FBits[size_t(y * FRowBytes + x / 8)] |= uint8_t(0x80 >> (x & 7)); }

private:
  int64_t FRowBytes = 0;
  std::vector<uint8_t> FBits;
};

// Which pixels are close enough to the seed's colour; each row is compared once,
// when the fill first reaches it.
class TSimilarity {
public:
  TSimilarity(TIEBitmap& bitmap, int seedX, int seedY, int tolerance)
      : FBitmap(bitmap), FSeed(bitmap.GetPixelAsRGB(seedX, seedY)), FTolerance(std::clamp(tolerance, 0, 255)) {}

  bool Allocate() {
    try {
      FDone.assign(size_t(FBitmap.Height()), false);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return FPlane.Allocate(FBitmap.Width(), FBitmap.Height());
  }

  bool Similar(TRGB c) const {
    return std::abs(c.r - FSeed.r) <= FTolerance && std::abs(c.g - FSeed.g) <= FTolerance &&
           std::abs(c.b - FSeed.b) <= FTolerance;
  }

  bool At(int x, int y) {
    if (!FDone[size_t(y)]) {
      for (int i = 0; i < FBitmap.Width(); ++i)
        if (Similar(FBitmap.GetPixelAsRGB(i, y))) FPlane.Set(i, y);
      FDone[size_t(y)] = true;
    }
    return FPlane.Get(x, y);
  }

private:
  TIEBitmap& FBitmap;
  TRGB FSeed;
  int FTolerance;
  std::vector<bool> FDone;
  TBitPlane FPlane;
};

// The scan-line seed fill over a stack of row segments: the similar pixels
// 4-connected to the seed, each visited once, and their bounding box.
class TRegionFill {
public:
  TRegionFill(TIEBitmap& bitmap, int seedX, int seedY, int tolerance)
      : FWidth(bitmap.Width()), FHeight(bitmap.Height()), FSimilar(bitmap, seedX, seedY, tolerance),
        FSeedX(seedX), FSeedY(seedY) {}

  // False when the work memory cannot be had.
  bool Run() {
    if (!FSimilar.Allocate() || !FVisited.Allocate(FWidth, FHeight)) return false;
    try {
      Fill();
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  bool Visited(int x, int y) const { return FVisited.Get(x, y); }
  bool Empty() const { return X2 < X1; }

  int X1 = 0, Y1 = 0, X2 = -1, Y2 = -1;

private:
  struct Segment {
    int y, x1, x2, dy;
  };

  bool Open(int x, int y) { return !FVisited.Get(x, y) && FSimilar.At(x, y); }

  void Mark(int x, int y) {
    FVisited.Set(x, y);
    if (Empty()) {
      X1 = X2 = x;
      Y1 = Y2 = y;
      return;
    }
    X1 = std::min(X1, x);
    X2 = std::max(X2, x);
    Y1 = std::min(Y1, y);
    Y2 = std::max(Y2, y);
  }

  void Push(int y, int x1, int x2, int dy) {
    if (y + dy >= 0 && y + dy < FHeight) FStack.push_back({y, x1, x2, dy});
  }

  void Fill() {
    Push(FSeedY, FSeedX, FSeedX, 1);
    Push(FSeedY + 1, FSeedX, FSeedX, -1);
    while (!FStack.empty()) {
      const Segment s = FStack.back();
      FStack.pop_back();
      const int y = s.y + s.dy;
      int x = s.x1;
      while (x >= 0 && Open(x, y)) Mark(x--, y);
      int left = x + 1;
      bool inRun = x < s.x1;
      if (inRun) {
        // The run reaches left of the segment: that part leaks back.
        if (left < s.x1) Push(y, left, s.x1 - 1, -s.dy);
        x = s.x1 + 1;
      }
      do {
        if (inRun) {
          while (x < FWidth && Open(x, y)) Mark(x++, y);
          Push(y, left, x - 1, s.dy);
          if (x > s.x2 + 1) Push(y, s.x2 + 1, x - 1, -s.dy);
        }
        for (++x; x <= s.x2 && !Open(x, y); ++x) {
        }
        left = x;
        inRun = true;
      } while (x <= s.x2);
    }
  }

  int FWidth, FHeight;
  TSimilarity FSimilar;
  int FSeedX, FSeedY;
  TBitPlane FVisited;
  std::vector<Segment> FStack;
};

bool SeedInside(TIEBitmap& bitmap, int x, int y) {
  return !bitmap.IsEmpty() && x >= 0 && y >= 0 && x < bitmap.Width() && y < bitmap.Height();
}

// Chain codes of the contour walk: 0 east, then counter-clockwise in 45 degree
// steps (y grows downwards).
constexpr int kCodeDX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kCodeDY[8] = {0, -1, -1, -1, 0, 1, 1, 1};
// The order in which the walk looks for its next cell: the four sides first.
constexpr int kSearchOrder[8] = {0, 2, 4, 6, 1, 3, 5, 7};

constexpr uint8_t kInside = 1, kWalked = 2, kBorder = 3;

// The byte grid of the tracer: 4 x 4 cells per pixel of the region's box and a
// margin of 2 cells all round.
class TContourGrid {
public:
  bool Allocate(int boxWidth, int boxHeight) {
    FWidth = 4 * int64_t(boxWidth) + 4;
    FHeight = 4 * int64_t(boxHeight) + 4;
    const int64_t size = FWidth * FHeight;
    if (FWidth <= 0 || FHeight <= 0 || size / FHeight != FWidth) return false;
    FCells.reset(new (std::nothrow) uint8_t[size_t(size)]());
    return FCells != nullptr;
  }
  int64_t Width() const { return FWidth; }
  int64_t Height() const { return FHeight; }
  uint8_t& At(int64_t c, int64_t r) { return FCells[size_t(r * FWidth + c)]; }
  uint8_t Peek(int64_t c, int64_t r) const {
    return c < 0 || r < 0 || c >= FWidth || r >= FHeight ? 0 : FCells[size_t(r * FWidth + c)];
  }

  void FillPixel(int i, int j) {
    for (int64_t r = 4 * int64_t(j) + 2; r < 4 * int64_t(j) + 6; ++r)
      std::fill_n(&At(4 * int64_t(i) + 2, r), 4, kInside);
  }

  // The cells just outside every run of inside cells, along rows and columns.
  void MarkBorder() {
    for (int64_t r = 0; r < FHeight; ++r)
      for (int64_t c = 1; c < FWidth; ++c) {
        uint8_t& a = At(c - 1, r);
        uint8_t& b = At(c, r);
        if (b == kInside && a != kInside) a = kBorder;
        if (a == kInside && b != kInside) b = kBorder;
      }
    for (int64_t c = 0; c < FWidth; ++c)
      for (int64_t r = 1; r < FHeight; ++r) {
        uint8_t& a = At(c, r - 1);
        uint8_t& b = At(c, r);
        if (b == kInside && a != kInside) a = kBorder;
        if (a == kInside && b != kInside) b = kBorder;
      }
  }

  // The border cell nearest the top-left corner of the border's box, the first
  // in row order on ties; false when there is none.
  bool FindStart(int64_t& sc, int64_t& sr) {
    int64_t c1 = FWidth, r1 = FHeight;
    for (int64_t r = 0; r < FHeight; ++r)
      for (int64_t c = 0; c < FWidth; ++c)
        if (At(c, r) == kBorder) {
          c1 = std::min(c1, c);
          r1 = std::min(r1, r);
        }
    if (r1 == FHeight) return false;
    int64_t best = -1;
    for (int64_t r = r1; r < FHeight; ++r)
      for (int64_t c = c1; c < FWidth; ++c)
        if (At(c, r) == kBorder) {
          const int64_t d = (c - c1) * (c - c1) + (r - r1) * (r - r1);
          if (best < 0 || d < best) {
            best = d;
            sc = c;
            sr = r;
          }
        }
    return true;
  }

  // Follows the border from the start, turning each visited cell into a walked
  // one; the chain codes of the steps, closed back to the start when it is next
  // to the last cell.
  std::vector<uint8_t> Walk(int64_t sc, int64_t sr) {
    std::vector<uint8_t> codes;
    int64_t c = sc, r = sr;
    At(c, r) = kWalked;
    int direction = 1;  // north-east
    auto step = [&](int code) {
      c += kCodeDX[code];
      r += kCodeDY[code];
      At(c, r) = kWalked;
      codes.push_back(uint8_t(code));
    };
    for (;;) {
      if (Peek(c + kCodeDX[direction], r + kCodeDY[direction]) == kBorder) step(direction);
      bool found = false;
      for (int code : kSearchOrder)
        if (Peek(c + kCodeDX[code], r + kCodeDY[code]) == kBorder) {
          step(code);
          direction = code;
          found = true;
          break;
        }
      if (!found) break;
    }
    for (int code = 0; code < 8; ++code)
      if (c + kCodeDX[code] == sc && r + kCodeDY[code] == sr && (c != sc || r != sr)) {
        codes.push_back(uint8_t(code));
        break;
      }
    return codes;
  }

private:
  int64_t FWidth = 0, FHeight = 0;
  std::unique_ptr<uint8_t[]> FCells;
};

}  // namespace

void FloodFillToMask(TIEBitmap& bitmap, int x, int y, int maskValue, TIEMask& mask, int tolerance, bool grow) {
  if (!SeedInside(bitmap, x, y)) return;
  TRegionFill fill(bitmap, x, y, tolerance);
  if (!fill.Run() || fill.Empty()) return;
  const int w = bitmap.Width(), h = bitmap.Height();
  for (int j = fill.Y1; j <= fill.Y2; ++j)
    for (int i = fill.X1; i <= fill.X2; ++i) {
      if (!fill.Visited(i, j)) continue;
      if (!grow) {
        mask.SetPixel(i, j, maskValue);
        continue;
      }
      for (int v = std::max(j - 1, 0); v <= std::min(j + 1, h - 1); ++v)
        for (int u = std::max(i - 1, 0); u <= std::min(i + 1, w - 1); ++u) mask.SetPixel(u, v, maskValue);
    }
}

void SelectColorToMask(TIEBitmap& bitmap, int x, int y, int maskValue, TIEMask& mask, int tolerance) {
  if (!SeedInside(bitmap, x, y)) return;
  TSimilarity similar(bitmap, x, y, tolerance);
  for (int j = 0; j < bitmap.Height(); ++j)
    for (int i = 0; i < bitmap.Width(); ++i)
      if (similar.Similar(bitmap.GetPixelAsRGB(i, j))) mask.SetPixel(i, j, maskValue);
}

std::unique_ptr<POINT[]> TraceMagicWandContour(TIEBitmap& bitmap, int x, int y, int& count, int tolerance,
                                               bool grow) {
  count = 0;
  if (!SeedInside(bitmap, x, y)) return nullptr;
  TRegionFill fill(bitmap, x, y, tolerance);
  if (!fill.Run() || fill.Empty()) return nullptr;
  int bx1 = fill.X1, by1 = fill.Y1, bx2 = fill.X2, by2 = fill.Y2;
  if (grow) {
    bx1 = std::max(bx1 - 1, 0);
    by1 = std::max(by1 - 1, 0);
    bx2 = std::min(bx2 + 1, bitmap.Width() - 1);
    by2 = std::min(by2 + 1, bitmap.Height() - 1);
  }
  TContourGrid grid;
  if (!grid.Allocate(bx2 - bx1 + 1, by2 - by1 + 1)) return nullptr;
  for (int j = fill.Y1; j <= fill.Y2; ++j)
    for (int i = fill.X1; i <= fill.X2; ++i) {
      if (!fill.Visited(i, j)) continue;
      if (!grow) {
        grid.FillPixel(i - bx1, j - by1);
        continue;
      }
      for (int v = std::max(j - 1, by1); v <= std::min(j + 1, by2); ++v)
        for (int u = std::max(i - 1, bx1); u <= std::min(i + 1, bx2); ++u) grid.FillPixel(u - bx1, v - by1);
    }
  grid.MarkBorder();
  int64_t sc = 0, sr = 0;
  if (!grid.FindStart(sc, sr)) return nullptr;
  const std::vector<uint8_t> codes = grid.Walk(sc, sr);

  // The corners of the path: the start, every cell where the direction changes
  // and the end. Shifted by four times the box's corner less one, the border
  // cells beside a pixel fall on its edges once divided by 4.
  std::vector<POINT> corners;
  int64_t px = sc + 4 * int64_t(bx1) - 1, py = sr + 4 * int64_t(by1) - 1;
  auto add = [&](int64_t cx, int64_t cy) { corners.push_back(POINT{LONG(cx / 4), LONG(cy / 4)}); };
  add(px, py);
  for (size_t k = 0; k < codes.size(); ++k) {
    if (k > 0 && codes[k] != codes[k - 1]) add(px, py);
    px += kCodeDX[codes[k]];
    py += kCodeDY[codes[k]];
  }
  if (!codes.empty() && (px != sc + 4 * int64_t(bx1) - 1 || py != sr + 4 * int64_t(by1) - 1)) add(px, py);

  std::unique_ptr<POINT[]> points(new (std::nothrow) POINT[corners.size()]);
  if (!points) return nullptr;
  std::copy(corners.begin(), corners.end(), points.get());
  count = int(corners.size());
  return points;
}
