#include "icons/sub_icon_render.h"

#include <cstring>

#include "base/toolbox/blend.h"
#include "platform/graphics/dib_types.h"

namespace {

// Where the parts of a DIB icon image lie in its bits, each checked against
// the length of the bits.
struct TDibLayout {
  BITMAPINFOHEADER header{};
  int width = 0;
  int height = 0;  // of the image: half the header's
  int bpp = 0;
  size_t headerBytes = 0;  // header and colour table (or bit-field masks)
  size_t colourBytes = 0;
  size_t maskBytes = 0;
  size_t maskPresent = 0;  // mask bytes the bits really hold
};

TDibLayout LayoutOf(const TSubIcon& image) {
  const auto& bits = image.Bits();
  TDibLayout l;
  if (bits.size() < sizeof(BITMAPINFOHEADER)) throw Exception(kInvalidImage);
  std::memcpy(&l.header, bits.data(), sizeof l.header);
  l.width = l.header.biWidth;
  l.height = l.header.biHeight / 2;
  l.bpp = l.header.biPlanes * l.header.biBitCount;
  if (l.header.biSize < 40 || l.header.biSize > bits.size() || l.width < 0 || l.height < 0 ||
      l.width > int(kMaxIconSide) || l.height > int(kMaxIconSide) || l.bpp > 32)
    throw Exception(kInvalidImage);
  size_t table = 0;
  if (l.bpp >= 1 && l.bpp <= 8)
    table = 4 * size_t(l.header.biClrUsed ? l.header.biClrUsed : (1u << l.bpp));
  else if (l.header.biCompression == BI_BITFIELDS)
    table = 12;
  l.headerBytes = l.header.biSize + table;
  l.colourBytes = size_t(DibRowBytes(l.width, l.bpp)) * size_t(l.height);
  l.maskBytes = size_t(DibRowBytes(l.width, 1)) * size_t(l.height);
  // The sizes come from the header; the bits must hold the colour part.
  if (l.headerBytes > bits.size() || l.colourBytes > bits.size() - l.headerBytes) throw Exception(kInvalidImage);
  const size_t left = bits.size() - l.headerBytes - l.colourBytes;
  l.maskPresent = left < l.maskBytes ? left : l.maskBytes;
  return l;
}

void WriteFileHeader(TStream& s, uint32_t fileSize, uint32_t offBits) {
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfSize = fileSize;
  fh.bfOffBits = offBits;
  s.WriteBuffer(&fh, sizeof fh);
}

TPixelFormat BitsToPixelFormat(int bpp) {
  switch (bpp) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 16: return pf16bit;
    case 24: return pf24bit;
    case 32: return pf32bit;
    default: return pf24bit;
  }
}

void FallbackFill(TBitmap& b, const TDibLayout& l, TColor background) {
  b.SetPixelFormat(BitsToPixelFormat(l.bpp));
  b.SetSize(l.width, l.height);
  b.Canvas()->Brush()->SetColor(background == kNoBackground ? clBlack : background);
  b.Canvas()->FillRect(Rect(0, 0, l.width, l.height));
}

void LoadColourPart(const TSubIcon& image, const TDibLayout& l, TBitmap& target, TColor background) {
  TMemoryStream s;
  const uint32_t partBytes = uint32_t(l.headerBytes + l.colourBytes);
  WriteFileHeader(s, partBytes + 14, uint32_t(l.headerBytes + 14));
  BITMAPINFOHEADER h = l.header;
  h.biHeight = l.height;
  h.biSizeImage = uint32_t(l.colourBytes);
  s.WriteBuffer(&h, sizeof h);
  s.WriteBuffer(image.Bits().data() + sizeof h, int64_t(partBytes - sizeof h));
  s.SetPosition(0);
  try {
    target.LoadFromStream(s);
    if (target.PixelFormat() == pfDevice || target.PixelFormat() == pfCustom) target.SetPixelFormat(pf24bit);
  } catch (const Exception&) {
    FallbackFill(target, l, background);
  }
}

void LoadMask(const TSubIcon& image, const TDibLayout& l, TBitmap& target, TColor background) {
  TMemoryStream s;
  WriteFileHeader(s, uint32_t(l.maskBytes + 62), 62);
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = l.width;
  h.biHeight = l.height;
  h.biPlanes = 1;
  h.biBitCount = 1;
  h.biClrUsed = 2;
  h.biSizeImage = uint32_t(l.maskBytes);
  s.WriteBuffer(&h, sizeof h);
  const uint8_t palette[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
  s.WriteBuffer(palette, 8);
  // A mask cut short by the file counts as opaque where it is missing.
  std::vector<uint8_t> rows(l.maskBytes, 0);
  if (l.maskPresent)
    std::memcpy(rows.data(), image.Bits().data() + l.headerBytes + l.colourBytes, l.maskPresent);
  if (!rows.empty()) s.WriteBuffer(rows.data(), int64_t(rows.size()));
  s.SetPosition(0);
  try {
    target.LoadFromStream(s);
  } catch (const Exception&) {
    target.SetMonochrome(true);
    target.SetSize(l.width, l.height);
    target.Canvas()->Brush()->SetColor(background == kNoBackground ? clBlack : background);
    target.Canvas()->FillRect(Rect(0, 0, l.width, l.height));
  }
}

void EmptyBitmap(TBitmap* b, TPixelFormat pf) {
  if (!b) return;
  b->SetPixelFormat(pf);
  b->SetSize(0, 0);
}

}  // namespace

void ExtractBitmaps(TSubIcon& image, TBitmap* composite, TBitmap* raw, TColor background, TBitmap* mask) {
  if (!image.HasBits()) {
    for (TBitmap* b : {composite, raw, mask})
      if (b) b->SetSize(0, 0);
    return;
  }
  if (image.HasPNGBits()) throw EInvalidGraphicOperation("PNG images cannot be drawn yet");
  if (!composite && !raw && !mask) return;
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
      LoadMask(image, l, m, background);
      const TColor inverse = (fill ^ 0xFFFFFF) & 0xFFFFFF;
      for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x) {
          if (m.Canvas()->Pixels(x, y) == clBlack) continue;
          const TColor c = composite->Canvas()->Pixels(x, y);
          composite->Canvas()->SetPixels(x, y, c == clWhite ? inverse : fill);
        }
    }
  }
  if (mask) LoadMask(image, l, *mask, background);
}

void DrawSubIcon(TCanvas* canvas, int x, int y, TSubIcon& image, TColor background) {
  if (!canvas || !image.HasBits()) return;
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
  const TRect dest = Rect(x, y, x + mask.GetWidth(), y + mask.GetHeight());
  const TRect src = Rect(0, 0, mask.GetWidth(), mask.GetHeight());
  const TCopyMode old = canvas->CopyMode();
  canvas->SetCopyMode(SRCAND);
  canvas->CopyRect(dest, mask.Canvas(), src);
  canvas->SetCopyMode(SRCINVERT);
  canvas->CopyRect(dest, raw.Canvas(), src);
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
