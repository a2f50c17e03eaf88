#include "icons/sub_icon_render.h"

#include <algorithm>
#include <cstring>

#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/blend.h"
#include "base/toolbox/palettes.h"
#include "base/toolbox/row_convert.h"
#include "icons/advanced_icon.h"
#include "pictures/png/png_image.h"
#include "platform/graphics/dib_types.h"
#include "platform/graphics/png_header.h"
#include "platform/rtl/byte_order.h"

namespace {

using TDibLayout = TIconDibLayout;

TDibLayout LayoutOf(const TSubIcon& image) {
  TDibLayout l;
  if (ReadIconDibLayout(image.Bits().data(), image.Bits().size(), l)) throw Exception(kInvalidImage);
  return l;
}

void FallbackFill(TBitmap& b, const TDibLayout& l, TColor background) {
  const TPixelFormat pf = BitsToPixelFormat(l.bpp);
  b.SetPixelFormat(pf == pfDevice ? pf24bit : pf);
  b.SetSize(l.width, l.height);
  b.Canvas()->Brush()->SetColor(background == kNoBackground ? clBlack : background);
  b.Canvas()->FillRect(Rect(0, 0, l.width, l.height));
}

// The colour rows go straight from the image's bits into the bitmap, with the
// colour table or bit fields the header names: what reading them as a BMP file
// would give. ReadIconDibLayout has seen that the bits hold the header, table
// and rows. What a BMP file may not hold (more than 256 colours, broken bit
// fields) draws as the background.
void LoadColourPart(const TSubIcon& image, const TDibLayout& l, TBitmap& target, TColor background) {
  bmpcodec::Dib head;
  try {
    head = bmpcodec::ReadDibHead(image.Bits().data(), image.Bits().size());
  } catch (const Exception&) {
    FallbackFill(target, l, background);
    return;
  }
  bmpcodec::DibView dib = head.View();
  dib.height = l.height;
  dib.bits = const_cast<uint8_t*>(image.Bits().data() + l.headerBytes);
  target.LoadFromDibView(dib);
  if (target.PixelFormat() == pfDevice || target.PixelFormat() == pfCustom) target.SetPixelFormat(pf24bit);
}

// The AND mask as a 1-bit bitmap, colour 0 black and 1 white, read in place
// from the image's bits.
void LoadMask(const TSubIcon& image, const TDibLayout& l, TBitmap& target) {
  static const RGBQUAD kBlackWhite[2] = {{0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0}};
  bmpcodec::DibView dib;
  dib.width = l.width;
  dib.height = l.height;
  dib.bitCount = 1;
  dib.colors = kBlackWhite;
  dib.colorCount = 2;
  // A mask cut short by the file counts as opaque where it is missing.
  std::vector<uint8_t> padded;
  const uint8_t* rows = image.Bits().data() + l.headerBytes + l.colourBytes;
  if (l.maskPresent < l.maskBytes) {
    padded.assign(l.maskBytes, 0);
    if (l.maskPresent) std::memcpy(padded.data(), rows, l.maskPresent);
    rows = padded.data();
  }
  dib.bits = const_cast<uint8_t*>(rows);
  target.LoadFromDibView(dib);
}

void EmptyBitmap(TBitmap* b, TPixelFormat pf) {
  if (!b) return;
  b->SetPixelFormat(pf);
  b->SetSize(0, 0);
}

// The PNG images that decode straight into the bitmaps a caller asks for:
// 8-bit RGBA whose entry names 32 bits, 8-bit RGB whose entry names 24. Their
// DIB form would hold the picture's own pixels (fully transparent ones
// cleared) with the AND mask where alpha is 0, which is what the PNG picture
// gives for an icon image; other PNG images take the way through DecodePNG.
bool DecodesDirect(const TSubIcon& image) {
  const std::vector<uint8_t>& bits = image.Bits();
  const int64_t ihdr = FindPngHeader(bits);
  if (ihdr < 0 || size_t(ihdr) + 18 > bits.size()) return false;
  const uint8_t depth = bits[size_t(ihdr) + 16], colourType = bits[size_t(ihdr) + 17];
  const int bitCount = image.Head().wBitCount;
  return depth == 8 && ((colourType == 6 && bitCount == 32) || (colourType == 2 && bitCount == 24));
}

void ExtractPngDirect(const TSubIcon& image, TBitmap* composite, TBitmap* raw, TColor background, TBitmap* mask);

}  // namespace

void ExtractBitmaps(TSubIcon& image, TBitmap* composite, TBitmap* raw, TColor background, TBitmap* mask) {
  if (!image.HasBits()) {
    for (TBitmap* b : {composite, raw, mask})
      if (b) b->SetSize(0, 0);
    return;
  }
  if (!composite && !raw && !mask) return;
  if (image.HasPNGBits()) {
    if (DecodesDirect(image)) {
      ExtractPngDirect(image, composite, raw, background, mask);
      return;
    }
    TSubIcon decoded;
    DecodePNG(image, decoded);
    ExtractBitmaps(decoded, composite, raw, background, mask);
    return;
  }
  const TDibLayout l = LayoutOf(image);
  if (l.width == 0 || l.height == 0) {
    EmptyBitmap(raw, pf24bit);
    EmptyBitmap(composite, pf24bit);
    EmptyBitmap(mask, pf1bit);
    return;
  }
  if (raw) LoadColourPart(image, l, *raw, background);
  if (composite) {
    LoadColourPart(image, l, *composite, background);
    if (composite->PixelFormat() == pf32bit) {
      const uint32_t bg = background == kNoBackground ? 0 : uint32_t(background) & 0xFFFFFF;
      for (int y = 0; y < l.height; ++y) {
        auto* px = static_cast<uint32_t*>(composite->ScanLine(y));
        for (int x = 0; x < l.width; ++x) px[x] = BlendPixelOverOpaque(px[x], bg);
      }
    } else {
      TColor fill = background == kNoBackground ? clBlack : background;
      if (l.bpp == 1 && background != 0) fill = clWhite;
      TBitmap m;
      LoadMask(image, l, m);
      const TColor inverse = (fill ^ 0xFFFFFF) & 0xFFFFFF;
      TMaskPixels screen(&m);
      TColourPixels pixels(composite);
      for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x) {
          if (!screen.IsWhite(x, y)) continue;
          const TColor c = pixels.Get(x, y);
          pixels.Set(x, y, c == clWhite ? inverse : fill);
        }
    }
  }
  if (mask) LoadMask(image, l, *mask);
}

void DrawSubIcon(TCanvas* canvas, int x, int y, TSubIcon& image, TColor background) {
  if (!canvas || !image.HasBits()) return;
  if (image.HasPNGBits() && !DecodesDirect(image)) {
    // Decoded once; the decoded image's own depth says whether it has alpha.
    TSubIcon decoded;
    DecodePNG(image, decoded);
    DrawSubIcon(canvas, x, y, decoded, background);
    return;
  }
  if (image.Head().wBitCount == 32) {
    TBitmap raw;
    ExtractBitmaps(image, nullptr, &raw, kNoBackground, nullptr);
    if (background != kNoBackground) {
      canvas->Brush()->SetColor(background);
      canvas->FillRect(Rect(x, y, x + raw.GetWidth(), y + raw.GetHeight()));
    }
    raw.SetAlphaFormat(afDefined);
    canvas->Draw(x, y, &raw);
    return;
  }
  TBitmap raw, mask;
  ExtractBitmaps(image, nullptr, &raw, background, &mask);
  DrawThroughMask(canvas, Rect(x, y, x + mask.GetWidth(), y + mask.GetHeight()), raw, mask);
}

// The mask clears what the image covers (SRCAND), then the colour part is
// laid in (SRCINVERT), both stretched into dest; the canvas's copy mode stays.
void DrawThroughMask(TCanvas* canvas, const TRect& dest, TBitmap& colour, TBitmap& mask) {
  const TRect src = Rect(0, 0, mask.GetWidth(), mask.GetHeight());
  const TCopyMode old = canvas->CopyMode();
  canvas->SetCopyMode(SRCAND);
  canvas->CopyRect(dest, mask.Canvas(), src);
  canvas->SetCopyMode(SRCINVERT);
  canvas->CopyRect(dest, colour.Canvas(), src);
  canvas->SetCopyMode(old);
}

void SetFrom32BitBitmap(TSubIcon& image, TBitmap& bitmap) {
  const int w = bitmap.GetWidth(), h = bitmap.GetHeight();
  const size_t colourBytes = size_t(w) * size_t(h) * 4;
  const size_t maskRow = size_t(DibRowBytes(w, 1));
  std::vector<uint8_t> bits(40 + colourBytes + maskRow * size_t(h), 0);
  BITMAPINFOHEADER bih{};
  bih.biSize = 40;
  bih.biWidth = w;
  bih.biHeight = 2 * h;
  bih.biPlanes = 1;
  bih.biBitCount = 32;
  bih.biSizeImage = uint32_t(colourBytes);
  std::memcpy(bits.data(), &bih, sizeof bih);
  uint8_t* maskAt = bits.data() + 40 + colourBytes;
  for (int y = 0; y < h; ++y) {
    const auto* px = static_cast<const uint8_t*>(bitmap.ScanLine(y));
    const size_t row = size_t(h - 1 - y);
    std::memcpy(bits.data() + 40 + row * size_t(w) * 4, px, size_t(w) * 4);
    for (int x = 0; x < w; ++x)
      if (px[x * 4 + 3] < 96) maskAt[row * maskRow + size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
  }
  image.SetBits(std::move(bits));
  TIconEntryHead& head = image.Head();
  head.bWidth = uint8_t(w);
  head.bHeight = uint8_t(h);
  head.bColorCount = 0;
  head.bReserved = 0;
  head.wPlanes = 1;
  head.wBitCount = 32;
  image.ClearBitsPerPixelCache();
}

void AssignSubIconToBitmap(TSubIcon& image, TBitmap& bitmap) {
  switch (image.GetBitsPerPixel()) {
    case 1: bitmap.SetPixelFormat(pf1bit); break;
    case 4: bitmap.SetPixelFormat(pf4bit); break;
    case 8: bitmap.SetPixelFormat(pf8bit); break;
    case 16: bitmap.SetPixelFormat(pf16bit); break;
    case 24: bitmap.SetPixelFormat(pf24bit); break;
    case 32: bitmap.SetPixelFormat(pf32bit); break;
    default: break;
  }
  bitmap.SetSize(image.GetWidth(), image.GetHeight());
  image.Draw(bitmap.Canvas(), 0, 0);
}

// ---------------------------------------------------------------- PNG

namespace {

[[noreturn]] void InvalidImage() { throw Exception(kInvalidImage); }

// Deflate cannot expand its input by more than 1032 to 1.
constexpr uint64_t kMaxDeflateRatio = 1032;

}  // namespace

bool PngWithinIconLimits(const std::vector<uint8_t>& bits) {
  const int64_t ihdr = FindPngHeader(bits);
  if (ihdr < 0) return false;
  const uint64_t w = PngWidth(bits), h = PngHeight(bits);
  if (w == 0 || h == 0 || w > kMaxIconSide || h > kMaxIconSide) return false;
  const uint8_t depth = bits[size_t(ihdr) + 16], colourType = bits[size_t(ihdr) + 17];
  int samples = 0;
  switch (colourType) {
    case 0: case 3: samples = 1; break;
    case 2: samples = 3; break;
    case 4: samples = 2; break;
    case 6: samples = 4; break;
    default: return false;
  }
  const uint64_t pixelBytes = h * ((w * uint64_t(samples) * depth + 7) / 8);
  uint64_t compressed = 0;
  size_t at = 8;
  while (at + 8 <= bits.size()) {
    const uint64_t length = ReadBE32(bits.data() + at);
    const uint8_t* type = bits.data() + at + 4;
    const uint64_t present = std::min<uint64_t>(length, bits.size() - at - 8);
    if (std::memcmp(type, "IDAT", 4) == 0) compressed += present;
    if (std::memcmp(type, "IEND", 4) == 0 || present < length) break;
    at += size_t(length) + 12;
  }
  return compressed * kMaxDeflateRatio >= pixelBytes;
}

namespace {

// The PNG picture puts the colour table of a palette bitmap straight into its
// DIB section; the bitmap's own copy, which its BMP writer uses, is brought in
// line with it here.
void TakeSectionColours(TBitmap& bitmap) {
  const TPixelFormat pf = bitmap.PixelFormat();
  if ((pf != pf1bit && pf != pf4bit && pf != pf8bit) || bitmap.GetWidth() == 0) return;
  RGBQUAD table[256];
  const UINT n = GetDIBColorTable(bitmap.Canvas()->Handle(), 0, 256, table);
  if (n == 0) return;
  int32_t colours[256];
  for (UINT i = 0; i < n; ++i) colours[i] = table[i].rgbRed | (table[i].rgbGreen << 8) | (table[i].rgbBlue << 16);
  WritePaletteColours(&bitmap, colours, int(n));
}

// A 1- or 4-bit bitmap of exactly the picture's colours; false when it has
// more than the depth can index.
bool ReduceExactly(TBitmap& source, int bits, TBitmap& target) {
  const int w = source.GetWidth(), h = source.GetHeight();
  const size_t room = size_t(1) << bits;
  std::vector<int32_t> colours;
  std::vector<uint8_t> indices(size_t(w) * size_t(h));
  const TRows24 rows(&source);
  for (int y = 0; y < h; ++y) {
    const uint8_t* p = rows.Rows().Row(y);
    for (int x = 0; x < w; ++x, p += 3) {
      const int32_t c = p[2] | (p[1] << 8) | (p[0] << 16);
      size_t i = 0;
      while (i < colours.size() && colours[i] != c) ++i;
      if (i == colours.size()) {
        if (colours.size() == room) return false;
        colours.push_back(c);
      }
      indices[size_t(y) * size_t(w) + size_t(x)] = uint8_t(i);
    }
  }
  colours.resize(room, 0);
  target.SetPixelFormat(bits == 1 ? pf1bit : pf4bit);
  target.SetSize(w, h);
  WritePaletteColours(&target, colours.data(), int(room));
  const int perByte = 8 / bits;
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint8_t*>(target.ScanLine(y));
    std::memset(row, 0, size_t(DibRowBytes(w, bits)));
    for (int x = 0; x < w; ++x) {
      const int shift = (perByte - 1 - x % perByte) * bits;
      row[x / perByte] |= uint8_t(indices[size_t(y) * size_t(w) + size_t(x)] << shift);
    }
  }
  return true;
}

// The bitmap a decoded PNG is kept as, chosen by the depth its entry names.
// The entry only asks: a picture is brought down to 1, 4 or 8 bits only when
// its colours fit and it has no partial alpha, since anything else would throw
// away what the PNG holds.
TBitmap* ChooseDecodedBitmap(int bitCount, TBitmap& colour, TBitmap& reduced) {
  if (HasPartialAlpha(&colour)) return &colour;
  switch (bitCount) {
    case 1:
    case 4:
      if (colour.PixelFormat() == BitsToPixelFormat(bitCount)) return &colour;
      return ReduceExactly(colour, bitCount, reduced) ? &reduced : &colour;
    case 8:
      if (colour.PixelFormat() == pf8bit) return &colour;
      return ConvertExactTo8Bit(&colour, &reduced, true, false) ? &reduced : &colour;
    case 24:
      // Alpha is 0 or 255 here; the AND mask carries it.
      if (colour.PixelFormat() != pf32bit) return &colour;
      reduced.Assign(&colour);
      reduced.SetPixelFormat(pf24bit);
      return &reduced;
    default: return &colour;
  }
}

// An 8-bit copy of a 1- or 4-bit bitmap with the same palette entries and
// indices, so that nothing of its colours is lost on the way to PNG.
void ExpandTo8Bit(TBitmap& source, TBitmap& target) {
  const int w = source.GetWidth(), h = source.GetHeight();
  const int bits = source.PixelFormat() == pf1bit ? 1 : 4;
  int32_t colours[256];
  const int n = ReadPaletteColours(&source, colours, 256);
  target.SetPixelFormat(pf8bit);
  target.SetSize(w, h);
  WritePaletteColours(&target, colours, n > 0 ? n : 2);
  const int perByte = 8 / bits, mask = (1 << bits) - 1;
  for (int y = 0; y < h; ++y) {
    const auto* in = static_cast<const uint8_t*>(source.ScanLine(y));
    auto* out = static_cast<uint8_t*>(target.ScanLine(y));
    for (int x = 0; x < w; ++x) out[x] = uint8_t((in[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & mask);
  }
}

bool AllAlphaZero(TBitmap& bitmap) {
  const uint32_t* p = Block32(&bitmap);
  if (!p) return false;
  const size_t n = size_t(bitmap.GetWidth()) * size_t(bitmap.GetHeight());
  return std::all_of(p, p + n, [](uint32_t v) { return (v >> 24) == 0; });
}

void LoadPngBits(const TSubIcon& image, TPNGImage& png) {
  TCustomMemoryStream s(image.Bits().data(), int64_t(image.Bits().size()));
  png.LoadFromStream(s);
}

// An image with alpha decodes straight into the 32-bit rows of target; one
// pass then clears what is fully transparent and writes the mask, which is
// what the PNG picture's extraction gives. False, with nothing changed, for a
// picture the direct decoder leaves to the PNG picture.
bool DecodeRgbaInto(const TSubIcon& image, TBitmap& target, TBitmap* mask) {
  TCustomMemoryStream s(image.Bits().data(), int64_t(image.Bits().size()));
  const bool decoded = DecodePngToBgra(s, [&target](int w, int h) {
    target.SetPixelFormat(pf32bit);
    // A bitmap of the same size would keep its pixels where the data stops short.
    if (target.GetWidth() == w && target.GetHeight() == h) target.SetSize(0, 0);
    target.SetSize(w, h);
    if (w <= 0 || h <= 0) return TBgraRows{};
    auto* top = static_cast<uint8_t*>(target.ScanLine(0));
    const ptrdiff_t stride = h > 1 ? static_cast<uint8_t*>(target.ScanLine(1)) - top : 0;
    return TBgraRows{top, stride};
  });
  if (!decoded) return false;
  const int w = target.GetWidth(), h = target.GetHeight();
  if (mask) MakeOpaqueMask(mask, w, h);
  for (int y = 0; y < h; ++y)
    ClearTransparentBgra(static_cast<uint8_t*>(target.ScanLine(y)),
                         mask ? static_cast<uint8_t*>(mask->ScanLine(y)) : nullptr, w);
  return true;
}

// The colour part and mask of such an image straight from the PNG: one
// decode (into the caller's bitmap where the image has alpha), where the way
// through a DIB image writes and reads it as bitmap streams several times over.
void ExtractPngDirect(const TSubIcon& image, TBitmap* composite, TBitmap* raw, TColor background, TBitmap* mask) {
  if (!PngWithinIconLimits(image.Bits())) InvalidImage();
  TBitmap colour;
  TBitmap* target = raw ? raw : &colour;
  if (image.Head().wBitCount != 32 || !DecodeRgbaInto(image, *target, mask)) {
    TPNGImage png;
    LoadPngBits(image, png);
    if (png.GetWidth() <= 0 || png.GetHeight() <= 0) InvalidImage();
    png.ExtractBitmapAndMask(target, mask, 80);
  }
  if (!composite) return;
  composite->Assign(target);
  if (composite->PixelFormat() != pf32bit) return;  // opaque: it shows as it is
  const uint32_t bg = background == kNoBackground ? 0 : uint32_t(background) & 0xFFFFFF;
  for (int y = 0; y < composite->GetHeight(); ++y) {
    auto* px = static_cast<uint32_t*>(composite->ScanLine(y));
    for (int x = 0; x < composite->GetWidth(); ++x) px[x] = BlendPixelOverOpaque(px[x], bg);
  }
}

}  // namespace

void AssignToPNG(TSubIcon& image, TPNGImage& png) {
  if (image.HasPNGBits()) {
    LoadPngBits(image, png);
    return;
  }
  if (!image.HasBits()) InvalidImage();
  const int depth = image.GetBitsPerPixel();
  TBitmap raw, mask;
  if (depth == 32) {
    ExtractBitmaps(image, nullptr, &raw, kNoBackground, &mask);
    if (raw.GetWidth() == 0 || raw.GetHeight() == 0) InvalidImage();
    if (raw.PixelFormat() == pf32bit && AllAlphaZero(raw)) {
      // An old 32-bit image without alpha: its AND mask says what shows.
      auto colour = CopyTo24Bit(&raw);
      TBitmap withAlpha;
      ToBitmap32(colour.get(), &mask, &withAlpha);
      png.Assign(&withAlpha);
      return;
    }
    png.Assign(&raw);
    return;
  }
  ExtractBitmaps(image, nullptr, &raw, 0, &mask);
  if (raw.GetWidth() == 0 || raw.GetHeight() == 0) InvalidImage();
  auto black = NewBitmap(pf24bit, mask.GetWidth(), mask.GetHeight(), clBlack);
  if (BitmapsEqual(&mask, black.get())) {
    png.Assign(&raw);  // opaque: the PNG keeps the image's own depth
    return;
  }
  const TPixelFormat pf = raw.PixelFormat();
  if (depth <= 8 && (pf == pf1bit || pf == pf4bit || pf == pf8bit)) {
    // A palette image keeps its palette, with one entry freed for the
    // transparent pixels.
    TBitmap indexed;
    TBitmap* eight = &raw;
    if (pf != pf8bit) {
      ExpandTo8Bit(raw, indexed);
      eight = &indexed;
    }
    int index = 0;
    ReserveTransparentIndex(eight, &mask, index, clNone);
    png.SetFromPaletteBitmap(eight, index);
    return;
  }
  TBitmap withAlpha;
  ToBitmap32(&raw, &mask, &withAlpha);
  png.Assign(&withAlpha);
}

void EncodePNG(TSubIcon& source, TSubIcon& target) {
  if (source.HasPNGBits()) {
    // Already compressed: the stream is kept as it is.
    if (&source != &target) target.Assign(&source);
    target.SetStoreAsPNG(true);
    return;
  }
  if (!source.HasBits()) InvalidImage();
  TPNGImage png;
  AssignToPNG(source, png);
  TMemoryStream stream;
  png.SaveToStream(stream);
  std::vector<uint8_t> bytes(stream.Memory(), stream.Memory() + stream.Size());
  if (&source != &target) {
    target.Head() = source.Head();
    target.SetHotspot(source.HotspotX(), source.HotspotY());
  }
  target.SetBits(std::move(bytes));
  target.SetStoreAsPNG(true);
}

void DecodePNG(TSubIcon& source, TSubIcon& target) {
  if (!source.HasPNGBits()) InvalidImage();
  // Refused before any image memory is taken: a hostile entry may claim an
  // enormous picture in a few bytes.
  if (!PngWithinIconLimits(source.Bits())) InvalidImage();
  const TIconEntryHead head = source.Head();
  const int16_t hotspotX = source.HotspotX(), hotspotY = source.HotspotY();
  TPNGImage png;
  LoadPngBits(source, png);
  TBitmap decoded;
  decoded.Assign(&png);
  if (decoded.GetWidth() <= 0 || decoded.GetHeight() <= 0) InvalidImage();
  const int bitCount = head.wBitCount;
  if (decoded.PixelFormat() == pf32bit && (bitCount == ~1 || bitCount == ~4 || bitCount == ~8)) {
    // The writer asked for the full 32 bits whatever depth the image had.
    target.Head() = head;
    SetFrom32BitBitmap(target, decoded);
  } else {
    TBitmap colour, mask, reduced;
    png.ExtractBitmapAndMask(&colour, &mask, 80);
    TakeSectionColours(colour);
    TSubIconList made;
    TSubIcon* image = made.AddBitmap(ChooseDecodedBitmap(bitCount, colour, reduced), &mask, 0);
    target.Assign(image);
  }
  // The hotspot belongs to the image, not to its encoding.
  target.SetHotspot(hotspotX, hotspotY);
  target.SetStoreAsPNG(false);
}
