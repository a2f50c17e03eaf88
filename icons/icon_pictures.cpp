#include "icons/icon_pictures.h"

#include <algorithm>
#include <cstring>

#include "icons/sub_icon.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/bmp_codec.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_icon.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "platform/win/system_info.h"

namespace {

// The user sees one text; the reader keeps the rule that fired beside it.
using EIconOrCursorRefused = ERefused<EInvalidGraphic>;

[[noreturn]] void InvalidIconOrCursor(const char* reason = "") {
  throw EIconOrCursorRefused(kInvalidIconOrCursor, reason);
}

constexpr TColor kDefaultTransparent = 0x00F8E6FE;  // red 254, green 230, blue 248

uint32_t MaskRowBytes(int width) { return static_cast<uint32_t>(DibRowBytes(width, 1)); }

BITMAPINFOHEADER HeaderAt(const std::vector<uint8_t>& bytes, size_t at) {
  if (bytes.size() < at + sizeof(BITMAPINFOHEADER)) InvalidIconOrCursor();
  BITMAPINFOHEADER h;
  std::memcpy(&h, bytes.data() + at, sizeof h);
  return h;
}

// Where the header of an image's DIB begins: behind the hotspot for cursors.
size_t DibStart(const TExIconImage& im) { return im.isIcon ? 0 : 4; }

HPALETTE MakePalette(const std::vector<PALETTEENTRY>& entries) {
  std::vector<uint8_t> block(sizeof(LOGPALETTE) + entries.size() * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(block.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(entries.size());
  std::memcpy(lp->palPalEntry, entries.data(), entries.size() * sizeof(PALETTEENTRY));
  return CreatePalette(lp);
}

HPALETTE CopyPalette(HPALETTE palette) {
  PALETTEENTRY entries[256];
  const UINT n = GetPaletteEntries(palette, 0, 256, entries);
  return n ? MakePalette(std::vector<PALETTEENTRY>(entries, entries + n)) : nullptr;
}

TPixelFormat FormatForPaletteCount(UINT n, TPixelFormat otherwise) {
  if (n >= 1 && n <= 2) return pf1bit;
  if (n >= 3 && n <= 16) return pf4bit;
  if (n >= 17 && n <= 256) return pf8bit;
  return otherwise;
}

// A header size the bytes hold, and no smaller than the header every field is
// read from; the sizes computed from it could otherwise wrap.
bool HeaderSizeFits(const BITMAPINFOHEADER& h, size_t available) {
  return h.biSize >= sizeof(BITMAPINFOHEADER) && h.biSize <= available;
}

// The colour and mask parts of an icon DIB (header with doubled height) as BMP
// streams, after checking that the bytes hold them.
struct TIconParts {
  BITMAPINFOHEADER header{};
  uint32_t tableSize = 0;  // header and colour table
  uint32_t colourSize = 0;
  uint32_t maskSize = 0;
};

TIconParts PartsOf(const std::vector<uint8_t>& bytes, size_t at) {
  TIconDibLayout l;
  if (at > bytes.size() || ReadIconDibLayout(bytes.data() + at, bytes.size() - at, l) || l.width == 0 || l.height == 0)
    InvalidIconOrCursor();
  TIconParts p;
  p.header = l.header;
  p.tableSize = uint32_t(l.headerBytes);
  p.colourSize = uint32_t(l.colourBytes);
  p.maskSize = uint32_t(l.maskBytes);
  return p;
}

// A PNG image decoded as the icon model decodes it: the entry's bit count
// chooses the depth, and the colour is cleared where the mask shows the screen.
void DecodePngImage(const TExIconImage& im, TSubIcon& image) {
  const size_t dib = DibStart(im);
  TSubIcon png;
  png.SetBits(std::vector<uint8_t>(im.bytes.begin() + static_cast<ptrdiff_t>(dib), im.bytes.end()));
  if (im.isIcon) png.Head().wBitCount = static_cast<int16_t>(im.entryWord2);
  DecodePNG(png, image);
}

}  // namespace

// ---------------------------------------------------------------- helpers

int ColorCountOfPixelFormat(TPixelFormat pf) {
  switch (pf) {
    case pf1bit: return 2;
    case pf4bit: return 16;
    case pf8bit: return 256;
    default: return 0;
  }
}

int BitsOfPixelFormat(TPixelFormat pf) {
  switch (pf) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
    default: return 0;
  }
}

TPixelFormat PixelFormatOfHeader(const BITMAPINFOHEADER& h) {
  switch (h.biBitCount) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 16:
      if (h.biCompression == BI_RGB) return pf15bit;
      if (h.biCompression == BI_BITFIELDS) return pf16bit;
      break;
    case 24: return pf24bit;
    case 32: return pf32bit;
    default: break;
  }
  throw EInvalidGraphic("Pixel Format Not Valid for Icons or Cursors");
}

int HeaderColorCount(const BITMAPINFOHEADER& h) {
  if (h.biBitCount > 8) return 0;
  return h.biClrUsed ? int(std::min<DWORD>(h.biClrUsed, 256)) : (1 << h.biBitCount);
}

void DIBSizes(const BITMAPINFOHEADER& h, bool halve, uint32_t& headerSize, uint32_t& imageSize) {
  const int colours = HeaderColorCount(h);
  headerSize = 40 + 4 * uint32_t(colours);
  if (colours == 0 && h.biCompression != 0) headerSize += 12;
  int64_t rows = h.biHeight < 0 ? -int64_t(h.biHeight) : h.biHeight;
  if (halve) rows /= 2;
  imageSize = uint32_t(DibRowBytes(h.biWidth, h.biBitCount) * rows);
}

HPALETTE SharedTwoColourPalette() {
  static HPALETTE palette = MakePalette({{0, 0, 0, 0}, {255, 255, 255, 0}});
  return palette;
}

HPALETTE Shared256ColourPalette() {
  static HPALETTE palette = [] {
    std::vector<PALETTEENTRY> e;
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) e.push_back({uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51), 0});
    for (int grey = 10; grey <= 240; grey += 10) e.push_back({uint8_t(grey), uint8_t(grey), uint8_t(grey), 0});
    for (const RGBQUAD& q : DefaultColorTable(4)) e.push_back({q.rgbRed, q.rgbGreen, q.rgbBlue, 0});
    return MakePalette(e);
  }();
  return palette;
}

// ---------------------------------------------------------------- the image

TExIconImage::~TExIconImage() {
  if (palette) DeleteObject(palette);
}

// ---------------------------------------------------------------- the picture

TExIconCursor::TExIconCursor() : TExIconCursor(false) {}

TExIconCursor::TExIconCursor(bool isCursor) : FTransparentColor(kDefaultTransparent), FIsCursor(isCursor) {
  FImages.push_back(std::make_shared<TExIconImage>());
  FImages[0]->isIcon = !isCursor;
}

TExIconCursor::~TExIconCursor() = default;

TExIcon::TExIcon() : TExIconCursor(false) {
  Current().width = GetSystemMetrics(SM_CXICON);
  Current().height = GetSystemMetrics(SM_CYICON);
  Current().pixelFormat = pf4bit;
}

TExCursor::TExCursor() : TExIconCursor(true) {
  Current().width = GetSystemMetrics(SM_CXCURSOR);
  Current().height = GetSystemMetrics(SM_CYCURSOR);
  Current().pixelFormat = pf1bit;
}

void TExIconCursor::SetCurrentIndex(int index) {
  if (index < 0 || index >= ImageCount()) throw EListError("List index out of bounds");
  FCurrent = index;
}

bool TExIconCursor::GetEmpty() { return Current().bytes.empty(); }
int TExIconCursor::GetWidth() { return Current().width; }
int TExIconCursor::GetHeight() { return Current().height; }
TPixelFormat TExIconCursor::PixelFormat() { return Current().pixelFormat; }

void TExIconCursor::NewImage(int width, int height, TPixelFormat pf) {
  auto im = std::make_shared<TExIconImage>();
  im->isIcon = !FIsCursor;
  im->width = width;
  im->height = height;
  im->pixelFormat = pf;
  FImages[static_cast<size_t>(FCurrent)] = std::move(im);
}

void TExIconCursor::ReadImages(TStream& stream, bool cursorFile) {
  FLastRefusal.clear();
  try {
    ReadDirectoryImages(stream, cursorFile);
  } catch (const EIconOrCursorRefused& e) {
    FLastRefusal = e.Reason();
    throw;
  }
}

void TExIconCursor::ReadDirectoryImages(TStream& stream, bool cursorFile) {
  const int64_t start = stream.Position();
  const int64_t size = stream.Size();
  if (size - start < kIconDirHeaderBytes) InvalidIconOrCursor("the directory header is cut short");
  const TIconDirHeader head = ReadIconDirHeader(stream);
  const bool typeOk = FIsCursor ? head.idType != 1 : head.idType == 1;
  if (head.idReserved != 0 || !typeOk) InvalidIconOrCursor("a directory of another type");
  if (cursorFile && head.idType != 2) throw EIconOrCursorRefused("Invalid cursor", "a directory of another type");
  if (head.idCount == 0) InvalidIconOrCursor("a directory without images");
  if (int64_t(head.idCount) * 16 > size - stream.Position()) InvalidIconOrCursor("the directory runs past the end");
  std::vector<std::shared_ptr<TExIconImage>> images;
  for (int i = 0; i < head.idCount; ++i) {
    stream.SetPosition(start + kIconDirHeaderBytes + int64_t{kIconDirEntryBytes} * i);
    const TIconDirEntry e = ReadIconDirEntry(stream);
    const int64_t at = start + e.dwImageOffset;
    // Each image must lie inside the data; nothing is allocated before that is known.
    if (at < start || at > size || e.head.dwBytesInRes > size - at) InvalidIconOrCursor("an image runs past the end");
    auto im = std::make_shared<TExIconImage>();
    im->isIcon = !FIsCursor;
    if (cursorFile) {
      im->bytes.resize(4);
      std::memcpy(im->bytes.data(), &e.head.wPlanes, 2);
      std::memcpy(im->bytes.data() + 2, &e.head.wBitCount, 2);
    }
    const size_t lead = im->bytes.size();
    im->bytes.resize(lead + e.head.dwBytesInRes);
    stream.SetPosition(at);
    if (e.head.dwBytesInRes) stream.ReadBuffer(im->bytes.data() + lead, e.head.dwBytesInRes);
    const size_t dib = DibStart(*im);
    // Sides of 256 are stored as 0.
    im->width = e.head.bWidth ? e.head.bWidth : 256;
    im->height = e.head.bHeight ? e.head.bHeight : 256;
    if (im->bytes.size() >= dib + 8 && HasPngSignature(im->bytes.data() + dib, im->bytes.size() - dib)) {
      im->isPNG = true;
      im->entryWord1 = e.head.wPlanes;
      im->entryWord2 = static_cast<uint16_t>(e.head.wBitCount);
    } else {
      // The same checks as the icon model's, now rather than when drawn.
      TIconDibLayout layout;
      if (im->bytes.size() < dib) InvalidIconOrCursor("an image shorter than its hotspot words");
      if (const char* reason = ReadIconDibLayout(im->bytes.data() + dib, im->bytes.size() - dib, layout))
        InvalidIconOrCursor(reason);
      BITMAPINFOHEADER h = layout.header;
      im->pixelFormat = PixelFormatOfHeader(h);
      h.biSizeImage = 0;
      std::memcpy(im->bytes.data() + dib, &h, sizeof h);
    }
    images.push_back(std::move(im));
  }
  FImages = std::move(images);
  FCurrent = 0;
  Changed(this);
}

void TExIconCursor::LoadFromStream(TStream& stream) { ReadImages(stream, false); }

void TExIconCursor::WriteDirectory(TStream& stream, bool cursorFile) {
  for (const auto& im : FImages)
    if (im->bytes.empty()) InvalidIconOrCursor();
  TIconDirHeader head;
  head.idType = FIsCursor ? 2 : 1;
  head.idCount = static_cast<uint16_t>(FImages.size());
  stream.WriteBuffer(&head, sizeof head);
  uint32_t offset = 6 + 16 * uint32_t(FImages.size());
  const size_t skip = cursorFile ? 4 : 0;
  for (const auto& im : FImages) {
    if (im->width > 256 || im->height > 256 || im->width < 0 || im->height < 0)
      throw ERangeError("Range check error");
    TIconDirEntry e;
    e.head.bWidth = static_cast<uint8_t>(im->width & 0xFF);  // 256 is written as 0
    e.head.bHeight = static_cast<uint8_t>(im->height & 0xFF);
    if (im->isPNG) {
      e.head.wPlanes = im->entryWord1;
      e.head.wBitCount = static_cast<int16_t>(im->entryWord2);
    } else {
      const TPixelFormat pf = im->pixelFormat;
      e.head.bColorCount = pf == pf1bit ? 2 : (pf == pf4bit ? 16 : 0);
      e.head.wPlanes = 1;
      switch (pf) {
        case pf1bit:
        case pf4bit: e.head.wBitCount = 0; break;
        case pf8bit: e.head.wBitCount = 8; break;
        case pf16bit: e.head.wBitCount = 16; break;
        case pf24bit: e.head.wBitCount = 24; break;
        case pf32bit: e.head.wBitCount = 32; break;
        default: InvalidIconOrCursor();
      }
    }
    if (cursorFile) {
      if (im->bytes.size() < 4) InvalidIconOrCursor();
      std::memcpy(&e.head.wPlanes, im->bytes.data(), 2);
      std::memcpy(&e.head.wBitCount, im->bytes.data() + 2, 2);
    }
    e.head.dwBytesInRes = static_cast<uint32_t>(im->bytes.size() - skip);
    e.dwImageOffset = offset;
    offset += e.head.dwBytesInRes;
    stream.WriteBuffer(&e, sizeof e);
  }
  for (const auto& im : FImages)
    stream.WriteBuffer(im->bytes.data() + skip, static_cast<int64_t>(im->bytes.size() - skip));
}

void TExIconCursor::SaveToStream(TStream& stream) { WriteDirectory(stream, false); }

void TExCursor::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  ReadImages(file, true);
}

void TExCursor::SaveToFile(const std::string& fileName) {
  TMemoryStream data;
  WriteDirectory(data, true);
  SaveBytesToFile(fileName, data.Memory(), data.Size());
}

void TExIconCursor::CurrentBitmaps(TBitmap* colour, TBitmap* mask) {
  const TExIconImage& im = Current();
  const size_t dib = DibStart(im);
  if (im.isPNG) {
    TSubIcon image;
    DecodePngImage(im, image);
    ExtractBitmaps(image, nullptr, colour, kNoBackground, mask);
    return;
  }
  const TIconParts p = PartsOf(im.bytes, dib);
  const int w = p.header.biWidth, h = p.header.biHeight / 2;
  if (colour) {
    TMemoryStream s;
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfSize = 14 + p.tableSize + p.colourSize;
    fh.bfOffBits = 14 + p.tableSize;
    s.WriteBuffer(&fh, sizeof fh);
    BITMAPINFOHEADER hh = p.header;
    hh.biHeight = h;
    hh.biSizeImage = p.colourSize;
    s.WriteBuffer(&hh, sizeof hh);
    s.WriteBuffer(im.bytes.data() + dib + 40, p.tableSize - 40 + p.colourSize);
    s.SetPosition(0);
    colour->LoadFromStream(s);
  }
  if (mask) {
    TMemoryStream s;
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfSize = 62 + p.maskSize;
    fh.bfOffBits = 62;
    s.WriteBuffer(&fh, sizeof fh);
    BITMAPINFOHEADER hh{};
    hh.biSize = 40;
    hh.biWidth = w;
    hh.biHeight = h;
    hh.biPlanes = 1;
    hh.biBitCount = 1;
    hh.biClrUsed = 2;
    s.WriteBuffer(&hh, sizeof hh);
    const uint8_t table[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    s.WriteBuffer(table, 8);
    std::vector<uint8_t> rows(p.maskSize, 0);
    const size_t maskAt = dib + p.tableSize + p.colourSize;
    if (maskAt < im.bytes.size())
      std::memcpy(rows.data(), im.bytes.data() + maskAt, std::min<size_t>(p.maskSize, im.bytes.size() - maskAt));
    s.WriteBuffer(rows.data(), int64_t(rows.size()));
    s.SetPosition(0);
    mask->LoadFromStream(s);
  }
}

void TExIconCursor::Draw(TCanvas* canvas, const TRect& rect) {
  if (!canvas || GetEmpty()) return;
  TBitmap colour, mask;
  CurrentBitmaps(&colour, &mask);
  // The colour rows are cleared where the mask is set, so AND with the mask
  // then XOR with the colours draws the picture through its mask.
  const int w = colour.GetWidth(), h = colour.GetHeight();
  HDC dc = canvas->Handle();
  StretchBlt(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, mask.Canvas()->Handle(), 0,
             0, w, h, SRCAND);
  StretchBlt(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, colour.Canvas()->Handle(),
             0, 0, w, h, SRCINVERT);
}

HPALETTE TExIconCursor::GetPalette() {
  TExIconImage& im = Current();
  if (im.paletteMade || im.bytes.empty() || im.isPNG) return im.palette;
  im.paletteMade = true;
  if (im.pixelFormat != pf1bit && im.pixelFormat != pf4bit && im.pixelFormat != pf8bit) return nullptr;
  const size_t dib = DibStart(im);
  const BITMAPINFOHEADER h = HeaderAt(im.bytes, dib);
  const int n = HeaderColorCount(h);
  if (n == 1) {
    im.palette = CopyPalette(SharedTwoColourPalette());
    return im.palette;
  }
  if (dib + h.biSize + size_t(n) * 4 > im.bytes.size()) return nullptr;
  std::vector<PALETTEENTRY> e;
  for (int i = 0; i < n; ++i) {
    const uint8_t* q = im.bytes.data() + dib + h.biSize + size_t(i) * 4;
    e.push_back({q[2], q[1], q[0], 0});
  }
  im.palette = MakePalette(e);
  return im.palette;
}

void TExIconCursor::SetPalette(HPALETTE palette) {
  PALETTEENTRY entries[256];
  const UINT n = palette ? GetPaletteEntries(palette, 0, 256, entries) : 0;
  if (n >= 1 && n <= 256 && GetEmpty()) {
    NewImage(Current().width, Current().height, FormatForPaletteCount(n, Current().pixelFormat));
    Current().palette = palette;
    Current().paletteMade = true;
    Changed(this);
    return;
  }
  if (n < 1 || n > 256) {
    // No palette to keep: the image is made again without one.
    if (palette) DeleteObject(palette);
    if (!GetEmpty()) {
      TBitmap self;
      AssignTo(&self);
      RenderGraphic(&self, nullptr, Current().width, Current().height, Current().pixelFormat);
    }
    return;
  }
  TBitmap self;
  AssignTo(&self);
  RenderGraphic(&self, palette, Current().width, Current().height, FormatForPaletteCount(n, Current().pixelFormat));
  Changed(this);
}

namespace {

// The source stretched over w x h pixels of its transparent colour, 24 bits.
void DrawOnTransparent(TBitmap& drawn, TGraphic* source, TColor transparent, int w, int h) {
  drawn.SetPixelFormat(pf24bit);
  drawn.SetSize(w, h);
  drawn.Canvas()->Brush()->SetColor(transparent);
  drawn.Canvas()->FillRect(Rect(0, 0, w, h));
  drawn.Canvas()->StretchDraw(Rect(0, 0, w, h), source);
}

// The AND-mask rows (a set bit is transparent) of a two-colour bitmap, as its
// BMP stores them, bottom-up.
std::vector<uint8_t> MaskRowsOf(TBitmap& mask, int w, int h) {
  TMemoryStream maskBmp;
  mask.SaveToStream(maskBmp);
  std::vector<uint8_t> maskRows(size_t(MaskRowBytes(w)) * size_t(h), 0);
  BITMAPFILEHEADER fh;
  std::memcpy(&fh, maskBmp.Memory(), sizeof fh);
  BITMAPINFOHEADER mh;
  std::memcpy(&mh, maskBmp.Memory() + 14, sizeof mh);
  const uint8_t* rows = maskBmp.Memory() + fh.bfOffBits;
  const uint8_t* table = maskBmp.Memory() + 14 + mh.biSize;
  // A mask whose first table entry is white has its bits the other way round.
  const bool inverted = table[0] == 0xFF;
  const size_t have = std::min<size_t>(maskRows.size(), size_t(maskBmp.Size()) - fh.bfOffBits);
  for (size_t i = 0; i < have; ++i) maskRows[i] = inverted ? uint8_t(~rows[i]) : rows[i];
  return maskRows;
}

// Calls fn(y, x) for every pixel the mask rows mark transparent.
template <class Fn>
void ForEachMasked(const std::vector<uint8_t>& maskRows, int w, int h, Fn fn) {
  const size_t maskRow = MaskRowBytes(w);
  for (int y = 0; y < h; ++y) {
    const uint8_t* m = maskRows.data() + size_t(y) * maskRow;
    for (int x = 0; x < w; ++x)
      if ((m[x / 8] >> (7 - x % 8)) & 1) fn(y, x);
  }
}

// Transparent pixels of the colour rows cleared: to the palette entry black
// (the one nearest black) at 8 bits and less, to 0 above. The depth is chosen
// once, then one loop does its pixels.
void ClearMaskedPixels(uint8_t* rowsAt, const std::vector<uint8_t>& maskRows, int w, int h, int bpp, int black) {
  const size_t rowBytes = size_t(DibRowBytes(w, bpp));
  auto row = [&](int y) { return rowsAt + size_t(y) * rowBytes; };
  switch (bpp) {
    case 1:
      ForEachMasked(maskRows, w, h, [&](int y, int x) {
        uint8_t& b = row(y)[x / 8];
        b = uint8_t((b & ~(0x80 >> (x % 8))) | ((black & 1) << (7 - x % 8)));
      });
      break;
    case 4:
      ForEachMasked(maskRows, w, h, [&](int y, int x) {
        uint8_t& b = row(y)[x / 2];
        b = x % 2 ? uint8_t((b & 0xF0) | (black & 0xF)) : uint8_t((b & 0x0F) | ((black & 0xF) << 4));
      });
      break;
    case 8: ForEachMasked(maskRows, w, h, [&](int y, int x) { row(y)[x] = uint8_t(black); }); break;
    default: {
      const size_t pixelBytes = size_t(bpp / 8);
      ForEachMasked(maskRows, w, h, [&](int y, int x) { std::memset(row(y) + size_t(x) * pixelBytes, 0, pixelBytes); });
      break;
    }
  }
}

}  // namespace

void TExIconCursor::RenderGraphic(TGraphic* source, HPALETTE palette, int w, int h, TPixelFormat pf) {
  if (w <= 0 || h <= 0 || w > int(kMaxIconSide) || h > int(kMaxIconSide)) InvalidIconOrCursor();
  if (palette) {
    PALETTEENTRY entries[256];
    pf = FormatForPaletteCount(GetPaletteEntries(palette, 0, 256, entries), pf);
  }
  if (BitsOfPixelFormat(pf) == 0) pf = pf24bit;
  std::vector<uint8_t> hotspot(4, 0);
  if (FIsCursor && Current().bytes.size() >= 4) std::memcpy(hotspot.data(), Current().bytes.data(), 4);

  // The mask: white where the source shows its transparent colour.
  TColor transparent = clBlack;
  if (auto* b = dynamic_cast<TBitmap*>(source)) transparent = b->TransparentColor();
  if (auto* ic = dynamic_cast<TExIconCursor*>(source)) transparent = ic->TransparentColor();
  TBitmap drawn;
  DrawOnTransparent(drawn, source, transparent, w, h);
  TBitmap mask;
  mask.Assign(&drawn);
  mask.Mask(transparent);
  mask.SetPixelFormat(pf1bit);

  TBitmap colour;
  colour.SetPixelFormat(pf);
  if (palette) colour.SetPalette(CopyPalette(palette));
  colour.SetSize(w, h);
  colour.Canvas()->Draw(0, 0, &drawn);

  TMemoryStream bmp;
  colour.SaveToStream(bmp);
  const std::vector<uint8_t> cb(bmp.Memory() + 14, bmp.Memory() + bmp.Size());
  BITMAPINFOHEADER hh = HeaderAt(cb, 0);
  uint32_t headerSize, imageSize;
  DIBSizes(hh, false, headerSize, imageSize);
  headerSize += hh.biSize - 40;
  if (cb.size() < headerSize + imageSize) InvalidIconOrCursor();
  const std::vector<uint8_t> maskRows = MaskRowsOf(mask, w, h);
  std::vector<uint8_t> bytes;
  if (FIsCursor) bytes = hotspot;
  const size_t dib = bytes.size();
  bytes.insert(bytes.end(), cb.begin(), cb.begin() + headerSize + imageSize);
  // Transparent pixels are cleared: to the entry nearest black, or to 0.
  const int bpp = BitsOfPixelFormat(pf);
  const int colours = HeaderColorCount(hh);
  int black = 0;
  if (bpp <= 8 && colours > 0)
    black = bmpcodec::NearestColorIndex(reinterpret_cast<const RGBQUAD*>(bytes.data() + dib + hh.biSize), colours, 0,
                                        0, 0);
  ClearMaskedPixels(bytes.data() + dib + headerSize, maskRows, w, h, bpp, black);
  bytes.insert(bytes.end(), maskRows.begin(), maskRows.end());
  hh.biHeight *= 2;
  std::memcpy(bytes.data() + dib, &hh, sizeof hh);
  NewImage(w, h, colour.PixelFormat());
  Current().bytes = std::move(bytes);
  if (palette) {
    Current().palette = palette;
    Current().paletteMade = true;
  }
}

void TExIconCursor::Assign(TPersistent* source) {
  if (!source) {
    NewImage(Current().width, Current().height, Current().pixelFormat);
    Changed(this);
    return;
  }
  if (auto* other = dynamic_cast<TExIconCursor*>(source)) {
    if (other == this) return;
    FTransparentColor = other->FTransparentColor;
    FImages = other->FImages;
    FCurrent = other->FCurrent;
    Changed(this);
    return;
  }
  if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
    RenderGraphic(graphic, Current().palette ? CopyPalette(Current().palette) : nullptr, Current().width,
                  Current().height, Current().pixelFormat);
    Changed(this);
    return;
  }
  TGraphic::Assign(source);
}

void TExIconCursor::AssignTo(TPersistent* dest) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    bitmap->SetSize(0, 0);
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(GetWidth(), GetHeight());
    bitmap->SetTransparent(true);
    bitmap->SetTransparentColor(FTransparentColor);
    bitmap->Canvas()->Brush()->SetColor(FTransparentColor);
    bitmap->Canvas()->FillRect(Rect(0, 0, GetWidth(), GetHeight()));
    Draw(bitmap->Canvas(), Rect(0, 0, GetWidth(), GetHeight()));
    return;
  }
  TGraphic::AssignTo(dest);
}

void TExIconCursor::Resize(int width, int height) {
  // The image may be shared with another picture: a new one is made, the old
  // one is left as it is.
  HPALETTE palette = Current().palette ? CopyPalette(Current().palette) : nullptr;
  if (GetEmpty()) {
    NewImage(width, height, Current().pixelFormat);
    if (palette) DeleteObject(palette);
  } else {
    TBitmap self;
    AssignTo(&self);
    RenderGraphic(&self, palette, width, height, Current().pixelFormat);
  }
  Changed(this);
}

void TExIconCursor::DoSetWidth(int value) {
  if (value != Current().width) Resize(value, Current().height);
}

void TExIconCursor::DoSetHeight(int value) {
  if (value != Current().height) Resize(Current().width, value);
}

void TExIconCursor::LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE) {
  if (format != CF_DIB || !data) return;
  const SIZE_T size = GlobalSize(data);
  if (size == 0) return;
  const auto* p = static_cast<const uint8_t*>(GlobalLock(data));
  if (!p) return;
  std::vector<uint8_t> dibBytes(p, p + size);
  GlobalUnlock(data);
  BITMAPINFOHEADER h = HeaderAt(dibBytes, 0);
  const TPixelFormat pf = PixelFormatOfHeader(h);
  if (h.biWidth <= 0 || h.biHeight <= 0 || h.biWidth > int(kMaxIconSide) || h.biHeight > int(kMaxIconSide) ||
      !HeaderSizeFits(h, dibBytes.size()))
    InvalidIconOrCursor();
  uint32_t headerSize, imageSize;
  DIBSizes(h, false, headerSize, imageSize);
  headerSize += h.biSize - 40;
  // Mask rows are DWORD-aligned like every DIB row.
  const uint32_t maskSize = MaskRowBytes(h.biWidth) * uint32_t(h.biHeight);
  if (dibBytes.size() < headerSize + imageSize) InvalidIconOrCursor();
  std::vector<uint8_t> bytes(dibBytes.begin(), dibBytes.begin() + headerSize + imageSize);
  if (dibBytes.size() == size_t(headerSize) + imageSize + maskSize)
    bytes.insert(bytes.end(), dibBytes.begin() + headerSize + imageSize, dibBytes.end());
  else
    bytes.resize(bytes.size() + maskSize, 0);
  const int w = h.biWidth, hh = h.biHeight;
  h.biHeight *= 2;
  std::memcpy(bytes.data(), &h, sizeof h);
  if (FIsCursor) bytes.insert(bytes.begin(), 4, 0);  // clipboard data carries no hotspot
  NewImage(w, hh, pf);
  Current().bytes = std::move(bytes);
  Changed(this);
}

void TExIconCursor::SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) {
  const TExIconImage& im = Current();
  if (im.bytes.empty()) InvalidIconOrCursor();
  // A PNG image goes to the clipboard as the DIB it decodes to.
  TSubIcon decoded;
  if (im.isPNG) DecodePngImage(im, decoded);
  const std::vector<uint8_t>& bytes = im.isPNG ? decoded.Bits() : im.bytes;
  const size_t dib = im.isPNG ? 0 : DibStart(im);
  const TIconParts p = PartsOf(bytes, dib);
  const size_t total = size_t(p.tableSize) + p.colourSize + p.maskSize;
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, total);
  auto* out = static_cast<uint8_t*>(GlobalLock(mem));
  std::memset(out, 0, total);
  const size_t have = std::min(total, bytes.size() - dib);
  std::memcpy(out, bytes.data() + dib, have);
  BITMAPINFOHEADER h = p.header;
  h.biHeight /= 2;
  std::memcpy(out, &h, sizeof h);
  GlobalUnlock(mem);
  format = CF_DIB;
  data = mem;
  palette = nullptr;
}

// ---------------------------------------------------------------- registration

void RegisterIconPictureClasses() {
  TPicture::UnregisterGraphicClass(TGraphicClass::Of<TIcon>());
  TPicture::RegisterFileFormat("ICO", "Icons", TGraphicClass::Of<TExIcon>());
  TPicture::RegisterFileFormat("CUR", "Cursors", TGraphicClass::Of<TExCursor>());
  SharedTwoColourPalette();
  Shared256ColourPalette();
}

void UnregisterIconPictureClasses() {
  TPicture::UnregisterGraphicClass(TGraphicClass::Of<TExIcon>());
  TPicture::UnregisterGraphicClass(TGraphicClass::Of<TExCursor>());
  TPicture::RegisterFileFormat("ICO", "Icon", TGraphicClass::Of<TIcon>());
}
