#include "pictures/gif/gif_reduction.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "pictures/gif/gif_errors.h"
#include "platform/rtl/streams.h"

// ---- Palettes ----

HPALETTE MakePaletteOf(const PALETTEENTRY* entries, int count) {
  if (count <= 0) return nullptr;
  std::vector<uint8_t> buffer(sizeof(LOGPALETTE) + (count - 1) * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buffer.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(count);
  std::copy(entries, entries + count, lp->palPalEntry);
  return static_cast<HPALETTE>(CheckGdiHandle(CreatePalette(lp)));
}

HPALETTE MakeCubePalette() {
  std::vector<PALETTEENTRY> e(216);
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        e[r * 36 + g * 6 + b] = {static_cast<BYTE>(51 * r), static_cast<BYTE>(51 * g), static_cast<BYTE>(51 * b), 0};
  return MakePaletteOf(e.data(), 216);
}

HPALETTE MakeGrayRampPalette() {
  std::vector<PALETTEENTRY> e(256);
  for (int i = 0; i < 256; ++i) e[i] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), PC_NOCOLLAPSE};
  return MakePaletteOf(e.data(), 256);
}

HPALETTE MakeBlackWhitePalette() {
  const PALETTEENTRY e[2] = {{0, 0, 0, PC_NOCOLLAPSE}, {255, 255, 255, PC_NOCOLLAPSE}};
  return MakePaletteOf(e, 2);
}

HPALETTE MakeSystemGrayPalette() {
  const PALETTEENTRY e[4] = {{0, 0, 0, PC_NOCOLLAPSE}, {128, 128, 128, PC_NOCOLLAPSE}, {192, 192, 192, PC_NOCOLLAPSE},
                             {255, 255, 255, PC_NOCOLLAPSE}};
  return MakePaletteOf(e, 4);
}

HPALETTE MakeHalftonePalette() {
  HDC dc = GetDC(nullptr);
  HPALETTE p = CreateHalftonePalette(dc);
  ReleaseDC(nullptr, dc);
  return static_cast<HPALETTE>(CheckGdiHandle(p));
}

HPALETTE MakeSystem20Palette() {
  PALETTEENTRY e[20];
  const UINT n = GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0, 20, e);
  return MakePaletteOf(e, static_cast<int>(n));
}

HGDIOBJ CheckGdiHandle(HGDIOBJ handle) {
  if (!handle) throw EOutOfResources(gifmsg::kOutOfResources);
  return handle;
}

int BitsForColors(int n) {
  if (n <= 0) return 0;
  int b = 1;
  while ((1 << b) < n) ++b;
  return b;
}

// ---- Lookups ----

TFastColorLookup::TFastColorLookup(HPALETTE palette) : TColorLookup(0), FCells(32768, -1) {
  PALETTEENTRY e[256];
  const UINT n = palette ? GetPaletteEntries(palette, 0, 256, e) : 0;
  FEntries.assign(e, e + n);
  FColorCount = static_cast<int>(n);
  for (int i = 0; i < FColorCount; ++i) {
    const int cell = ((e[i].peBlue >> 3) << 10) | ((e[i].peGreen >> 3) << 5) | (e[i].peRed >> 3);
    if (FCells[cell] < 0) FCells[cell] = static_cast<int16_t>(i);
  }
}

int TFastColorLookup::FindIndex(int& red, int& green, int& blue) {
  const int cell = ((blue >> 3) << 10) | ((green >> 3) << 5) | (red >> 3);
  int index = FCells[cell];
  if (index < 0) {
    int best = 1 << 30;
    index = 0;
    for (int i = 0; i < FColorCount; ++i) {
      const int d = std::abs(FEntries[i].peRed - red) + std::abs(FEntries[i].peGreen - green) +
                    std::abs(FEntries[i].peBlue - blue);
      if (d < best) {
        best = d;
        index = i;
      }
    }
    FCells[cell] = static_cast<int16_t>(index);
  }
  red = FEntries[index].peRed;
  green = FEntries[index].peGreen;
  blue = FEntries[index].peBlue;
  return index;
}

int TNetscapeColorLookup::FindIndex(int& red, int& green, int& blue) {
  const int r = (red + 3) / 51, g = (green + 3) / 51, b = (blue + 3) / 51;
  red = 51 * r;
  green = 51 * g;
  blue = 51 * b;
  return b + 6 * g + 36 * r;
}

int TGrayScaleLookup::FindIndex(int& red, int& green, int& blue) {
  const int y = (29 * blue + 150 * green + 77 * red) >> 8;
  red = green = blue = y;
  return y;
}

int TMonochromeLookup::FindIndex(int& red, int& green, int& blue) {
  const bool white = 29 * blue + 150 * green + 77 * red >= 32513;
  red = green = blue = white ? 255 : 0;
  return white ? 1 : 0;
}

// ---- Ditherers ----

int TDitherEngine::DitherPixel(int& red, int& green, int& blue) {
  const int index = FLookup->FindIndex(red, green, blue);
  AdvanceColumn();
  return index;
}

void TDitherEngine::NextRow() {
  FDirection = -FDirection;
  FColumn = FDirection > 0 ? 0 : FWidth - 1;
}

TKernelDitherer::TKernelDitherer(int width, TColorLookup* lookup, int divisor, std::vector<Weight> weights, int margin)
    : TDitherEngine(width, lookup), FDivisor(divisor), FWeights(std::move(weights)), FMargin(margin) {
  FRows = 1;
  for (const Weight& w : FWeights) FRows = std::max(FRows, w.row + 1);
  for (auto& rows : FErrors) rows.assign(FRows, std::vector<int>(static_cast<size_t>(width) + 2 * margin, 0));
}

int TKernelDitherer::DitherPixel(int& red, int& green, int& blue) {
  const int at = FColumn + FMargin;
  int* channel[3] = {&red, &green, &blue};
  int wanted[3];
  for (int c = 0; c < 3; ++c) {
    const int e = FErrors[c][0][at];
    wanted[c] = std::clamp(*channel[c] + (e + FDivisor / 2) / FDivisor, 0, 255);
    *channel[c] = wanted[c];
  }
  const int index = FLookup->FindIndex(red, green, blue);
  for (int c = 0; c < 3; ++c) {
    const int error = wanted[c] - *channel[c];
    if (error == 0) continue;
    for (const Weight& w : FWeights) FErrors[c][w.row][at + w.offset * FDirection] += error * w.weight;
  }
  AdvanceColumn();
  return index;
}

void TKernelDitherer::NextRow() {
  for (auto& rows : FErrors) {
    std::vector<int> done = std::move(rows[0]);
    std::fill(done.begin(), done.end(), 0);
    rows.erase(rows.begin());
    rows.push_back(std::move(done));
  }
  TDitherEngine::NextRow();
}

std::unique_ptr<TDitherEngine> MakeDitherer(TGIFDitherKind kind, int width, TColorLookup* lookup) {
  using W = TKernelDitherer::Weight;
  switch (kind) {
    case dkNearest: return std::make_unique<TDitherEngine>(width, lookup);
    case dkFloydSteinberg:
      return std::make_unique<TKernelDitherer>(width, lookup, 16, std::vector<W>{{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}}, 1);
    case dkStucki:
      return std::make_unique<TKernelDitherer>(
          width, lookup, 42,
          std::vector<W>{{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
                         {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}},
          2);
    case dkSierra:
      return std::make_unique<TKernelDitherer>(
          width, lookup, 32,
          std::vector<W>{{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
                         {2, -1, 2}, {2, 0, 3}, {2, 1, 2}},
          2);
    case dkJarvisJudiceNinke:
      return std::make_unique<TKernelDitherer>(
          width, lookup, 48,
          std::vector<W>{{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
                         {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}},
          2);
    case dkStevensonArce:
      return std::make_unique<TKernelDitherer>(
          width, lookup, 200,
          std::vector<W>{{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16}, {2, -2, 12}, {2, 0, 26},
                         {2, 2, 12}, {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}},
          3);
    case dkBurkes:
      return std::make_unique<TKernelDitherer>(
          width, lookup, 32,
          std::vector<W>{{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}, 2);
  }
  return nullptr;
}

// ---- DIB reader and writer ----

TDIBReader::TDIBReader(TBitmap* bitmap, TPixelFormat format) {
  FCopy.Assign(bitmap);
  FCopy.SetPixelFormat(format);
}

uint8_t* TDIBReader::RowPointer(int row) { return static_cast<uint8_t*>(FCopy.ScanLine(row)); }

TDIBWriter::TDIBWriter(TBitmap* target, HPALETTE palette, int height, int width, TPixelFormat format)
    : FTarget(target), FHeight(height) {
  if (format != pf8bit && format != pf24bit) throw GIFException(gifmsg::kUnsupportedPixelFormat);
  if (width <= 0 || height <= 0) throw GIFException(gifmsg::kInvalidDimensions);
  FBitCount = format == pf8bit ? 8 : 24;
  FStride = static_cast<size_t>(RowBytes(width, FBitCount, 32));
  const size_t tableBytes = FBitCount == 8 ? 256 * 4 : 0;
  FHeaderBytes = 14 + 40 + tableBytes;
  try {
    FFile.assign(FHeaderBytes + FStride * static_cast<size_t>(height), 0);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory(gifmsg::kDIBAllocation);
  }
  uint8_t* p = FFile.data();
  auto put32 = [](uint8_t* q, uint32_t v) { std::memcpy(q, &v, 4); };
  auto put16 = [](uint8_t* q, uint16_t v) { std::memcpy(q, &v, 2); };
  p[0] = 'B';
  p[1] = 'M';
  put32(p + 2, static_cast<uint32_t>(FFile.size()));
  put32(p + 10, static_cast<uint32_t>(FHeaderBytes));
  put32(p + 14, 40);
  put32(p + 18, static_cast<uint32_t>(width));
  put32(p + 22, static_cast<uint32_t>(height));
  put16(p + 26, 1);
  put16(p + 28, static_cast<uint16_t>(FBitCount));
  if (FBitCount == 8) {
    PALETTEENTRY e[256];
    const UINT n = palette ? GetPaletteEntries(palette, 0, 256, e) : 0;
    put32(p + 46, 256);
    put32(p + 50, n);
    for (UINT i = 0; i < n; ++i) {
      p[54 + i * 4] = e[i].peBlue;
      p[54 + i * 4 + 1] = e[i].peGreen;
      p[54 + i * 4 + 2] = e[i].peRed;
    }
  }
}

TDIBWriter::~TDIBWriter() {
  try {
    Finish();
  } catch (...) {
    // Finish has already been called on every path that can report its failure.
  }
}

uint8_t* TDIBWriter::RowPointer(int row) {
  if (FFile.empty()) throw GIFException(gifmsg::kNoDIB);
  if (row < 0 || row >= FHeight) throw EInvalidGraphicOperation(gifmsg::kScanLineRange);
  return FFile.data() + FHeaderBytes + FStride * static_cast<size_t>(FHeight - 1 - row);
}

void TDIBWriter::Finish() {
  if (FDone) return;
  FDone = true;
  TCustomMemoryStream stream(FFile.data(), static_cast<int64_t>(FFile.size()));
  FTarget->LoadFromStream(stream);
}

// ---- Octree ----

namespace {

struct TOctreeNode {
  bool leaf = false;
  int64_t count = 0, red = 0, green = 0, blue = 0;
  TOctreeNode* next = nullptr;
  std::unique_ptr<TOctreeNode> child[8];
};

class TColorQuantizer {
public:
  TColorQuantizer(int limit, int bits) : FLimit(limit), FBits(std::clamp(bits, 1, 8)) { FRoot = NewNode(0); }

  void Add(int r, int g, int b) {
    TOctreeNode* node = FRoot.get();
    for (int level = 0; !node->leaf; ++level) {
      const int s = 7 - level;
      const int m = 0x80 >> level;
      const int i = (((r & m) >> s) << 2) | (((g & m) >> s) << 1) | ((b & m) >> s);
      if (!node->child[i]) node->child[i] = NewNode(level + 1);
      node = node->child[i].get();
    }
    ++node->count;
    node->red += r;
    node->green += g;
    node->blue += b;
    while (FLeaves > FLimit && Reduce()) {
    }
  }

  void Colors(std::vector<PALETTEENTRY>& out) const { Walk(FRoot.get(), out); }

private:
  std::unique_ptr<TOctreeNode> NewNode(int level) {
    auto n = std::make_unique<TOctreeNode>();
    if (level >= FBits) {
      n->leaf = true;
      ++FLeaves;
    } else {
      n->next = FReducible[level];
      FReducible[level] = n.get();
    }
    return n;
  }

  bool Reduce() {
    int level = FBits - 1;
    while (level > 0 && !FReducible[level]) --level;
    TOctreeNode* node = FReducible[level];
    if (!node) return false;
    FReducible[level] = node->next;
    int children = 0;
    for (auto& c : node->child)
      if (c) {
        node->count += c->count;
        node->red += c->red;
        node->green += c->green;
        node->blue += c->blue;
        c.reset();
        ++children;
      }
    node->leaf = true;
    FLeaves -= children - 1;
    return true;
  }

  static void Walk(const TOctreeNode* node, std::vector<PALETTEENTRY>& out) {
    if (node->leaf) {
      PALETTEENTRY e{0, 0, 0, 0};
      if (node->count > 0)
        e = {static_cast<BYTE>(node->red / node->count), static_cast<BYTE>(node->green / node->count),
             static_cast<BYTE>(node->blue / node->count), 0};
      out.push_back(e);
      return;
    }
    for (const auto& c : node->child)
      if (c) Walk(c.get(), out);
  }

  int FLimit;
  int FBits;
  int FLeaves = 0;
  TOctreeNode* FReducible[8] = {};
  std::unique_ptr<TOctreeNode> FRoot;
};

}  // namespace

HPALETTE MakeOctreePalette(TDIBReader& reader, int colorCount, int colorBits, bool withSystemColors) {
  const int entries = withSystemColors ? 256 : std::clamp(colorCount, 1, 256);
  const int limit = withSystemColors ? 236 : entries;
  TColorQuantizer quantizer(limit, colorBits);
  for (int y = 0; y < reader.Height(); ++y) {
    const uint8_t* p = reader.RowPointer(y);
    for (int x = 0; x < reader.Width(); ++x, p += 3) quantizer.Add(p[2], p[1], p[0]);
  }
  std::vector<PALETTEENTRY> palette(entries, PALETTEENTRY{0, 0, 0, 0});
  std::vector<PALETTEENTRY> colors;
  quantizer.Colors(colors);
  const int first = withSystemColors ? 10 : 0;
  for (size_t i = 0; i < colors.size() && first + i < static_cast<size_t>(first + limit); ++i) palette[first + i] = colors[i];
  if (withSystemColors) {
    PALETTEENTRY statics[20];
    GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0, 20, statics);
    for (int i = 0; i < 10; ++i) {
      palette[i] = statics[i];
      palette[246 + i] = statics[10 + i];
    }
  }
  return MakePaletteOf(palette.data(), entries);
}

HPALETTE MakeOctreePaletteOfBitmap(TBitmap* bitmap, int colorCount, int colorBits, bool withSystemColors) {
  TDIBReader reader(bitmap, pf24bit);
  return MakeOctreePalette(reader, colorCount, colorBits, withSystemColors);
}

// ---- Reduction ----

std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap* bitmap, TGIFReductionMethod method, TGIFDitherKind dither,
                                            HPALETTE customPalette, int bits) {
  auto result = std::make_unique<TBitmap>();
  if (method == rdNone) {
    result->Assign(bitmap);
    result->SetPixelFormat(pf24bit);
    return result;
  }
  if (method > rdCustomPalette || bitmap->Empty()) return result;
  TDIBReader reader(bitmap, pf24bit);
  HPALETTE palette = nullptr;
  std::unique_ptr<TColorLookup> lookup;
  switch (method) {
    case rdSystem20: palette = MakeSystem20Palette(); break;
    case rdHalftone256: palette = MakeHalftonePalette(); break;
    case rdSystemGray4: palette = MakeSystemGrayPalette(); break;
    case rdMonochrome:
      palette = MakeBlackWhitePalette();
      lookup = std::make_unique<TMonochromeLookup>();
      break;
    case rdGray256:
      palette = MakeGrayRampPalette();
      lookup = std::make_unique<TGrayScaleLookup>();
      break;
    case rdCube216:
      palette = MakeCubePalette();
      lookup = std::make_unique<TNetscapeColorLookup>();
      break;
    case rdOctree: palette = MakeOctreePalette(reader, 1 << std::clamp(bits, 1, 8), 8, false); break;
    case rdOctreeWithSystem: palette = MakeOctreePalette(reader, 256, 8, true); break;
    case rdCustomPalette: {
      PALETTEENTRY e[256];
      const UINT n = customPalette ? GetPaletteEntries(customPalette, 0, 256, e) : 0;
      palette = n ? MakePaletteOf(e, static_cast<int>(n)) : nullptr;
      break;
    }
    default: break;
  }
  struct PaletteGuard {
    HPALETTE p;
    ~PaletteGuard() {
      if (p) DeleteObject(p);
    }
  } guard{palette};
  if (!lookup && palette) lookup = std::make_unique<TFastColorLookup>(palette);
  if (!lookup || lookup->ColorCount() == 0 || dither > dkBurkes) return result;
  const int w = reader.Width(), h = reader.Height();
  std::unique_ptr<TDitherEngine> ditherer = MakeDitherer(dither, w, lookup.get());
  TDIBWriter writer(result.get(), palette, h, w, pf8bit);
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = reader.RowPointer(y);
    uint8_t* dst = writer.RowPointer(y);
    for (int x = ditherer->Column(); x >= 0 && x < w; x = ditherer->Column()) {
      int r = src[x * 3 + 2], g = src[x * 3 + 1], b = src[x * 3];
      dst[x] = static_cast<uint8_t>(ditherer->DitherPixel(r, g, b));
    }
    ditherer->NextRow();
  }
  writer.Finish();
  return result;
}
