// The picture class's side towards framework bitmaps: building a PNG from a
// bitmap, turning it back into a bitmap (with a mask for icons), drawing, and
// the clipboard.
#include <cstring>
#include <vector>

#include <algorithm>

#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/row_convert.h"
#include "pictures/png/png_image.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

namespace {

// A memory DC that goes away with the scope.
class TMemoryDC {
public:
  TMemoryDC() : FDC(CreateCompatibleDC(nullptr)) {}
  ~TMemoryDC() {
    if (FDC) DeleteDC(FDC);
  }
  TMemoryDC(const TMemoryDC&) = delete;
  TMemoryDC& operator=(const TMemoryDC&) = delete;
  HDC Get() const { return FDC; }

private:
  HDC FDC;
};

// A GDI object released when the scope ends.
template <class THandle> class TGdiObject {
public:
  explicit TGdiObject(THandle h) : FHandle(h) {}
  ~TGdiObject() {
    if (FHandle) DeleteObject(FHandle);
  }
  TGdiObject(const TGdiObject&) = delete;
  TGdiObject& operator=(const TGdiObject&) = delete;
  THandle Get() const { return FHandle; }

private:
  THandle FHandle;
};

int IndexAt(const uint8_t* row, int x, int bits) {
  switch (bits) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
    default: return row[x];
  }
}

uint32_t RgbQuadValue(const RGBQUAD& c) {
  return uint32_t(c.rgbBlue) | (uint32_t(c.rgbGreen) << 8) | (uint32_t(c.rgbRed) << 16);
}

TPixelFormat FormatForBits(int bits) {
  switch (bits) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    default: return pf24bit;
  }
}

void SetColorTable(TBitmap* bitmap, const RGBQUAD* colors, int count) {
  if (count > 0) SetDIBColorTable(bitmap->Canvas()->Handle(), 0, UINT(count), colors);
}

// A 1-bit mask written straight into its rows: index 1 of its black-and-white
// table is white (transparent), index 0 black (opaque).
class TMaskWriter {
public:
  TMaskWriter(TBitmap* mask, int width, int height) : FMask(mask) {
    if (FMask) MakeOpaqueMask(FMask, width, height);
  }
  void Set(int x, int y, bool white) {
    if (!FMask) return;
    auto* row = static_cast<uint8_t*>(FMask->ScanLine(y));
    const uint8_t bit = uint8_t(0x80 >> (x & 7));
    row[x >> 3] = white ? uint8_t(row[x >> 3] | bit) : uint8_t(row[x >> 3] & ~bit);
  }

private:
  TBitmap* FMask;
};

}  // namespace

// ------------------------------------------------------------ from bitmaps

void TPNGImage::HeaderFromBitmap(HBITMAP bitmap, const BITMAP& info) {
  const int bits = info.bmBitsPixel * std::max<int>(1, info.bmPlanes);
  TChunkIHDR* header = Header();
  header->SetWidth(info.bmWidth);
  header->SetHeight(std::abs(info.bmHeight));
  header->SetBitDepth(uint8_t(bits < 16 ? bits : 8));
  header->SetColorType(bits < 16 ? 3 : 2);
  header->SetCompressionMethod(0);
  header->SetFilterMethod(0);
  header->SetInterlaceMethod(0);
  header->PrepareImage();
  if (!header->ImageBits()) return;
  TMemoryDC dc;
  // GetDIBits fills the colour table of palette bitmaps too.
  GetDIBits(dc.Get(), bitmap, 0, UINT(header->Height()), header->ImageBits(),
            reinterpret_cast<BITMAPINFO*>(&header->BitmapInfo()), DIB_RGB_COLORS);
  if (auto* plte = ChunkList().FirstOfClass<TChunkPLTE>()) plte->SetCount(bits < 16 ? 1 << bits : 0);
}

bool TPNGImage::AssignBitmapHandle(HBITMAP bitmap, bool withTransparency) {
  BITMAP info{};
  ClearChunks();
  if (!bitmap || !GetObject(bitmap, sizeof(info), &info) || info.bmWidth <= 0 || info.bmHeight == 0) return false;
  const int bits = info.bmBitsPixel * std::max<int>(1, info.bmPlanes);
  ChunkList().Append(std::make_unique<TChunkIHDR>(this));
  if (bits < 16) ChunkList().Append(std::make_unique<TChunkPLTE>(this));
  if (withTransparency) ChunkList().Append(std::make_unique<TChunktRNS>(this));
  ChunkList().Append(std::make_unique<TChunkIDAT>(this));
  ChunkList().Append(std::make_unique<TChunkIEND>(this));
  HeaderFromBitmap(bitmap, info);
  return true;
}

void TPNGImage::CopyAlphaFromBitmap(TBitmap* bitmap) {
  TChunkIHDR* header = Header();
  for (int y = 0; y < header->Height(); y++) {
    const auto* src = static_cast<const uint8_t*>(bitmap->ScanLine(y));
    uint8_t* alpha = header->AlphaRowOf(y);
    for (int x = 0; x < header->Width(); x++) alpha[x] = src[x * 4 + 3];
  }
}

void TPNGImage::AssignFromBitmap(TBitmap* bitmap) {
  if (!AssignBitmapHandle(bitmap->Handle(), false)) return;
  if (bitmap->PixelFormat() == pf32bit) {
    TChunkIHDR* header = Header();
    header->SetColorType(6);
    header->NewAlphaPlane();
    CopyAlphaFromBitmap(bitmap);
  }
}

void TPNGImage::SetFromPaletteBitmap(TBitmap* bitmap, int transparentIndex) {
  if (!AssignBitmapHandle(bitmap->Handle(), true)) return;
  TChunktRNS* trns = ChunkList().FirstOfClass<TChunktRNS>();
  if (!trns) return;
  const int t = std::clamp(transparentIndex, 0, 255);
  std::memset(trns->Alpha(), 255, 256);
  trns->Alpha()[t] = 0;
  trns->SetCount(t + 1);
}

// ------------------------------------------------------------ to bitmaps

void TPNGImage::AssignToBitmap(TBitmap* bitmap) {
  const TChunkIHDR* header = Header();
  if (!header || !header->ImageBits()) {
    bitmap->SetSize(0, 0);
    return;
  }
  const int width = header->Width(), height = header->Height();
  const int bits = header->BitmapInfo().bmiHeader.biBitCount;
  const uint8_t colorType = header->ColorType();

  if (colorType == 4 || colorType == 6) {
    // Images with an alpha channel become 32-bit pixels with straight alpha.
    bitmap->SetPixelFormat(pf32bit);
    bitmap->SetSize(width, height);
    for (int y = 0; y < height; y++) {
      const uint8_t* src = header->DibRow(y);
      const uint8_t* alpha = header->AlphaRowOf(y);
      auto* dst = static_cast<uint8_t*>(bitmap->ScanLine(y));
      if (colorType == 6) {
        BgrAndAlphaToBgra(src, alpha, dst, width);
        continue;
      }
      for (int x = 0; x < width; x++, dst += 4) {
        if (colorType == 6) {
          dst[0] = src[x * 3];
          dst[1] = src[x * 3 + 1];
          dst[2] = src[x * 3 + 2];
        } else {
          const RGBQUAD& c = header->BitmapInfo().bmiColors[src[x]];
          dst[0] = c.rgbBlue;
          dst[1] = c.rgbGreen;
          dst[2] = c.rgbRed;
        }
        dst[3] = alpha[x];
      }
    }
    return;
  }

  // Without alpha the picture's DIB rows are already the bitmap's: the bitmap
  // holds them together with the picture rather than a copy.
  const TChunkPLTE* plte = ChunkList().FirstOfClass<TChunkPLTE>();
  const int tableCount = bits > 8 ? 0 : colorType == 3 ? (plte ? plte->Count() : 0) : 1 << bits;
  if (bitmap->TakeSharedBits(FormatForBits(bits), width, height, header->BitmapInfo().bmiColors, tableCount,
                             header->SharedImage(), size_t(header->BytesPerRow()) * size_t(height))) {
    if (colorType == 3 && bits == 8) PaletteToIndexBitmap(bitmap, 80);
    return;
  }
  bitmap->SetPixelFormat(FormatForBits(bits));
  bitmap->SetSize(width, height);
  const size_t rowBytes = size_t(DibRowBytes(width, bits));
  for (int y = 0; y < height; y++) std::memcpy(bitmap->ScanLine(y), header->DibRow(y), rowBytes);
  if (bits > 8) return;
  SetColorTable(bitmap, header->BitmapInfo().bmiColors, tableCount);
  if (colorType == 3 && bits == 8) PaletteToIndexBitmap(bitmap, 80);
}

// Pixels whose palette entry is more transparent than the threshold take index 0.
void TPNGImage::PaletteToIndexBitmap(TBitmap* bitmap, int threshold) {
  const TChunktRNS* trns = ChunkList().FirstOfClass<TChunktRNS>();
  if (!trns) return;
  // Rows the bitmap shares with the picture are copied only when a pixel changes.
  if (std::none_of(trns->Alpha(), trns->Alpha() + 256, [&](uint8_t a) { return a < threshold; })) return;
  const TChunkIHDR* header = Header();
  for (int y = 0; y < header->Height(); y++) {
    auto* row = static_cast<uint8_t*>(bitmap->ScanLine(y));
    for (int x = 0; x < header->Width(); x++)
      if (trns->Alpha()[row[x]] < threshold) row[x] = 0;
  }
}

void TPNGImage::ExtractBitmapAndMask(TBitmap* picture, TBitmap* mask, uint8_t threshold) {
  if (!picture) return;
  const TChunkIHDR* header = Header();
  if (!header || !header->ImageBits()) {
    picture->SetSize(0, 0);
    if (mask) mask->SetSize(0, 0);
    return;
  }
  const int width = header->Width(), height = header->Height();
  const int bits = header->BitmapInfo().bmiHeader.biBitCount;
  const uint8_t colorType = header->ColorType();

  if (bits <= 8 && colorType == 4) {
    // Grey with alpha: 8-bit greys, transparent pixels black.
    picture->SetPixelFormat(pf8bit);
    picture->SetSize(width, height);
    RGBQUAD greys[256];
    for (int i = 0; i < 256; i++) greys[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    SetColorTable(picture, greys, 256);
    TMaskWriter maskWriter(mask, width, height);
    for (int y = 0; y < height; y++) {
      const uint8_t* src = header->DibRow(y);
      const uint8_t* alpha = header->AlphaRowOf(y);
      auto* dst = static_cast<uint8_t*>(picture->ScanLine(y));
      for (int x = 0; x < width; x++) {
        const bool transparent = alpha[x] < threshold;
        dst[x] = transparent ? 0 : src[x];
        maskWriter.Set(x, y, transparent);
      }
    }
    return;
  }

  if (bits <= 8 && colorType == 3) {
    ExtractPaletteImage(picture, mask, threshold);
    return;
  }

  if (colorType != 6) {
    AssignToBitmap(picture);
    TMaskWriter maskWriter(mask, width, height);  // all black: opaque
    return;
  }
  // Fully transparent pixels carry no colour, so that an icon's colour image
  // leaves the screen alone where its mask lets it through; the pixels, their
  // clearing and the mask bits are one pass over each row.
  picture->SetPixelFormat(pf32bit);
  picture->SetSize(width, height);
  TMaskWriter maskWriter(mask, width, height);
  for (int y = 0; y < height; y++)
    BgrAndAlphaToBgraClearingTransparent(header->DibRow(y), header->AlphaRowOf(y),
                                         static_cast<uint8_t*>(picture->ScanLine(y)),
                                         mask ? static_cast<uint8_t*>(mask->ScanLine(y)) : nullptr, width);
}

void TPNGImage::ExtractPaletteImage(TBitmap* picture, TBitmap* mask, uint8_t threshold) {
  const TChunkIHDR* header = Header();
  const int width = header->Width(), height = header->Height();
  const int bits = header->BitmapInfo().bmiHeader.biBitCount;
  const TChunkPLTE* plte = ChunkList().FirstOfClass<TChunkPLTE>();
  const TChunktRNS* trns = ChunkList().FirstOfClass<TChunktRNS>();
  picture->SetPixelFormat(pf8bit);
  picture->SetSize(width, height);
  // Transparent pixels show the first black entry of the colour table.
  int black = -1;
  if (plte) {
    SetColorTable(picture, header->BitmapInfo().bmiColors, 256);
    for (int i = 0; i < 256 && black < 0; i++)
      if (RgbQuadValue(header->BitmapInfo().bmiColors[i]) == 0) black = i;
  }
  TMaskWriter maskWriter(mask, width, height);
  bool partial = false;
  for (int y = 0; y < height; y++) {
    const uint8_t* src = header->DibRow(y);
    auto* dst = static_cast<uint8_t*>(picture->ScanLine(y));
    for (int x = 0; x < width; x++) {
      const int i = IndexAt(src, x, bits);
      const int a = trns ? trns->Alpha()[i] : 255;
      const bool below = a < threshold;
      partial |= a > 0 && a < 255;
      dst[x] = uint8_t(below && black >= 0 ? black : i);
      maskWriter.Set(x, y, below);
    }
  }
  // Without a black entry the transparent pixels keep their own index; the
  // mask still marks them. (The colour reduction that would make room for
  // black is the toolbox's ReduceToPalette, not called here yet.)
  if (!partial) return;
  // Partial transparency needs real alpha: rebuild as 32-bit pixels.
  picture->SetPixelFormat(pf32bit);
  picture->SetSize(width, height);
  for (int y = 0; y < height; y++) {
    const uint8_t* src = header->DibRow(y);
    auto* px = static_cast<uint8_t*>(picture->ScanLine(y));
    for (int x = 0; x < width; x++, px += 4) {
      const int i = IndexAt(src, x, bits);
      if (!plte) throw EPngError(kPngNoPaletteEntryText);
      const uint32_t c = plte->PaletteEntry(i);
      const int a = trns->Alpha()[i];
      px[0] = uint8_t(c);
      px[1] = uint8_t(c >> 8);
      px[2] = uint8_t(c >> 16);
      px[3] = uint8_t(a);
      maskWriter.Set(x, y, a < threshold);
    }
  }
}

// ------------------------------------------------------------ drawing

void TPNGImage::Draw(TCanvas* canvas, const TRect& rect) {
  const TChunkIHDR* header = Header();
  if (GetEmpty() || !header || !header->ImageBits()) return;
  if (!HasAlphaData()) {
    StretchDIBits(canvas->Handle(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, 0, 0,
                  header->Width(), header->Height(), header->ImageBits(),
                  reinterpret_cast<const BITMAPINFO*>(&header->BitmapInfo()), DIB_RGB_COLORS, SRCCOPY);
    return;
  }
  DrawWithAlpha(canvas, rect);
}

// Draws at the image's own size at the rectangle's top-left corner, blending
// over what the canvas shows there.
void TPNGImage::DrawWithAlpha(TCanvas* canvas, const TRect& rect) {
  const TChunkIHDR* header = Header();
  const int width = header->Width(), height = header->Height();
  TMemoryDC dc;
  if (!dc.Get()) throw EPNGOutMemory();
  BITMAPINFO info{};
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  TGdiObject<HBITMAP> section(CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!section.Get() || !bits) throw EPNGOutMemory();
  HGDIOBJ old = SelectObject(dc.Get(), section.Get());
  HDC target = canvas->Handle();
  StretchBlt(dc.Get(), 0, 0, width, height, target, rect.left, rect.top, width, height, SRCCOPY);

  const int dibBits = header->BitmapInfo().bmiHeader.biBitCount;
  const uint8_t colorType = header->ColorType();
  const TChunkPLTE* plte = ChunkList().FirstOfClass<TChunkPLTE>();
  const TChunktRNS* trns = ChunkList().FirstOfClass<TChunktRNS>();
  for (int y = 0; y < height; y++) {
    const uint8_t* src = header->DibRow(y);
    const uint8_t* alphaRow = header->AlphaRowOf(y);
    uint8_t* d = static_cast<uint8_t*>(bits) + size_t(y) * width * 4;
    for (int x = 0; x < width; x++, d += 4) {
      uint8_t s[3];
      int a;
      if (colorType == 3) {
        const int i = IndexAt(src, x, dibBits);
        if (!plte) throw EPngError(kPngNoPaletteEntryText);
        const uint32_t c = plte->PaletteEntry(i);
        s[0] = uint8_t(c);
        s[1] = uint8_t(c >> 8);
        s[2] = uint8_t(c >> 16);
        a = trns ? trns->Alpha()[i] : 255;
      } else if (colorType == 4) {
        s[0] = s[1] = s[2] = src[x];
        a = alphaRow[x];
      } else {
        s[0] = src[x * 3];
        s[1] = src[x * 3 + 1];
        s[2] = src[x * 3 + 2];
        a = alphaRow ? alphaRow[x] : 255;
      }
      for (int c = 0; c < 3; c++) d[c] = uint8_t((s[c] * a + (255 - a) * d[c] + 255) >> 8);
    }
  }
  StretchBlt(target, rect.left, rect.top, width, height, dc.Get(), 0, 0, width, height, SRCCOPY);
  SelectObject(dc.Get(), old);
}
