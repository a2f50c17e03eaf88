// The framework-bitmap location of TIEBitmap: pixels kept in a TBitmap so that
// code can draw on them with the framework's canvas.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_memory.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/exceptions.h"

namespace {

// The framework depth that holds a library format, pfCustom for none.
TPixelFormat FrameworkFormatFor(TIEBitmapFormat f) {
  switch (f) {
    case ie1g: return pf1bit;
    case ie8p:
    case ie8g:
    case ie16g: return pf8bit;  // ie16g lives there as ie8g
    case ie24RGB: return pf24bit;
    case ie32RGB: return pf32bit;
    default: return pfCustom;
  }
}

const char* RefusalText(TIEBitmapFormat f) {
  switch (f) {
    case ie32f:
      return "ie32f pixel format not allowed when Location=ieTBitmap Please set TImageLibView.LegacyBitmap=false.";
    case ieCMYK:
      return "ieCMYK pixel format not allowed when Location=ieTBitmap Please set TImageLibView.LegacyBitmap=false.";
    case ieRGB48:
      return "ieRGB48 pixel format not allowed when Location=ieTBitmap Please set TImageLibView.LegacyBitmap=false.";
    case ieCIELab:
      return "ieCIELab pixel format not allowed when Location=ieTBitmap Please set TImageLibView.LegacyBitmap=false.";
    default:
      return "Pixel format not allowed when Location=ieTBitmap";
  }
}

// A framework bitmap takes a colour table through a palette, which keeps its
// own record of the table and the DIB section's table in step.
void SetTBitmapColorTable(TBitmap& bitmap, const TRGB* colors, int n) {
  std::vector<uint8_t> buf(sizeof(LOGPALETTE) + size_t(n) * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(n);
  for (int i = 0; i < n; ++i) lp->palPalEntry[i] = PALETTEENTRY{colors[i].r, colors[i].g, colors[i].b, 0};
  HPALETTE palette = CreatePalette(lp);
  if (palette) bitmap.SetPalette(palette);  // the bitmap owns it from here
}

}  // namespace

void SetGrayColorTable(TBitmap& bitmap) {
  TRGB table[256];
  for (int i = 0; i < 256; ++i) table[i] = MakeRGB(uint8_t(i), uint8_t(i), uint8_t(i));
  SetTBitmapColorTable(bitmap, table, 256);
}

bool HasGrayColorTable(TBitmap& bitmap) {
  const bmpcodec::DibView v = bitmap.View();
  if (!v.colors || v.colorCount == 0) return false;
  for (int i = 0; i < v.colorCount; ++i)
    if (v.colors[i].rgbRed != i || v.colors[i].rgbGreen != i || v.colors[i].rgbBlue != i) return false;
  return true;
}

void CopyColorTableToBitmap(TBitmap& bitmap, TIEBitmap& target) {
  if (bitmap.PixelFormat() != pf8bit || target.PixelFormat() != ie8p) return;
  const bmpcodec::DibView v = bitmap.View();
  for (int i = 0; i < v.colorCount && i < target.PaletteLength(); ++i)
    target.SetPaletteColor(i, MakeRGB(v.colors[i].rgbRed, v.colors[i].rgbGreen, v.colors[i].rgbBlue));
}

void TIEBitmap::FreeFrameworkBitmap() {
  FOwnedTBitmap.reset();
  FFrameworkBitmap = nullptr;
}

bool TIEBitmap::AllocateFrameworkBitmap() {
  try {
    const TPixelFormat pf = FrameworkFormatFor(FPixelFormat);
    if (pf == pfCustom) throw EInvalidGraphic(RefusalText(FPixelFormat));
    if (FPixelFormat == ie16g) {
      FPixelFormat = ie8g;
      FBitsPerPixel = 8;
      FChannels = 1;
    }
    // Framework rows are always padded to 32 bits.
    FRowLength = AlignedRowLength(FWidth, FBitsPerPixel, 32);
    const int64_t physical = GetPhysicalMemory(false);
    if (IEAllocationRefused(FRowLength * FHeight) || (physical > 0 && FRowLength * FHeight > physical))
      return false;
    if (!FFrameworkBitmap) {
      FOwnedTBitmap = std::make_unique<TBitmap>();
      FFrameworkBitmap = FOwnedTBitmap.get();
    }
    FFrameworkBitmap->SetPixelFormat(pf);
    FFrameworkBitmap->SetSize(FWidth, FHeight);
    if (FFrameworkBitmap->GetWidth() != FWidth || FFrameworkBitmap->GetHeight() != FHeight) return false;
    if (FPixelFormat == ie8g) SetGrayColorTable(*FFrameworkBitmap);
    BuildRowTable();
    return true;
  } catch (const std::exception&) {
    if (!FBorrowedTBitmap) FreeFrameworkBitmap();
    return false;
  }
}

void TIEBitmap::BuildRowTable() {
  FRowTable.clear();
  if (!FFrameworkBitmap) return;
  const int h = FFrameworkBitmap->GetHeight();
  FRowTable.reserve(static_cast<size_t>(std::max(h, 0)));
  for (int y = 0; y < h; ++y) FRowTable.push_back(static_cast<uint8_t*>(FFrameworkBitmap->ScanLine(y)));
}

void TIEBitmap::TakeGeometryFromTBitmap() {
  TBitmap& b = *FFrameworkBitmap;
  // Depths no library format reads are widened to 24 bits, colours kept.
  TPixelFormat pf = b.PixelFormat();
  if (!b.GetEmpty() && pf != pf1bit && pf != pf8bit && pf != pf24bit && pf != pf32bit) {
    b.SetPixelFormat(pf24bit);
    pf = pf24bit;
  }
  TIEBitmapFormat f = ie24RGB;
  if (pf == pf1bit)
    f = ie1g;
  else if (pf == pf8bit)
    f = (FIsAlphaChannel || HasGrayColorTable(b)) ? ie8g : ie8p;
  else if (pf == pf32bit)
    f = ie32RGB;
  const int w = b.GetWidth(), h = b.GetHeight();
  const bool sizeChanged = w != FWidth || h != FHeight;
  if (sizeChanged || f != FPixelFormat) {
    FWidth = w;
    FHeight = h;
    FPixelFormat = f;
    FBitsPerPixel = IEBitsPerPixel(f);
    FChannels = IEChannels(f);
    FRowLength = AlignedRowLength(w, FBitsPerPixel, 32);
    if (sizeChanged && FAlphaBitmap && (FAlphaBitmap->FWidth != w || FAlphaBitmap->FHeight != h)) {
      // The canvas grew or shrank the picture: the channel follows, and pixels
      // it did not have are opaque rather than whatever memory held.
      if (FAlphaBitmap->Allocate(w, h, ie8g)) FAlphaBitmap->Fill(255);
    }
    BuildRowTable();
  } else if (h > 0 && (FRowTable.empty() || b.ScanLine(0) != FRowTable[0])) {
    BuildRowTable();
  }
  if (f == ie8p) {
    if (FPaletteData.size() != 256) {
      FPaletteData.assign(256, TRGB{});
      FPaletteCount = 256;
    }
    const bmpcodec::DibView v = b.View();
    for (int i = 0; i < v.colorCount && i < 256; ++i)
      FPaletteData[static_cast<size_t>(i)] = MakeRGB(v.colors[i].rgbRed, v.colors[i].rgbGreen, v.colors[i].rgbBlue);
  }
}

void TIEBitmap::SyncFromTBitmap() {
  if (!FFrameworkBitmap) return;
  TakeGeometryFromTBitmap();
}

void TIEBitmap::UpdateTBitmapPalette() {
  if (FLocation != ieTBitmap || !FFrameworkBitmap || FPaletteCount < 1) return;
  if (FFrameworkBitmap->PixelFormat() != pf8bit) return;
  SetTBitmapColorTable(*FFrameworkBitmap, FPaletteData.data(), std::min(FPaletteCount, 256));
}

void TIEBitmap::CopyPaletteFromTBitmap(TBitmap* bitmap, int n) {
  if (!bitmap) return;
  if (FPaletteData.size() != 256) {
    FPaletteData.assign(256, TRGB{});
    FPaletteCount = 256;
  }
  const bmpcodec::DibView v = bitmap->View();
  for (int i = 0; i < n && i < v.colorCount && i < 256; ++i)
    FPaletteData[static_cast<size_t>(i)] = MakeRGB(v.colors[i].rgbRed, v.colors[i].rgbGreen, v.colors[i].rgbBlue);
}

void TIEBitmap::UpdateTBitmapOrientation() {
  // Rows reach a framework bitmap through ScanLine, which already turns a
  // top-down buffer the right way up: the framework bitmap itself is never
  // top-down and needs no drawing transform.
}

TBitmap* TIEBitmap::VclBitmap() {
  if (FLocation != ieTBitmap && !SetLocation(ieTBitmap)) return nullptr;
  if (FLocation != ieTBitmap) return nullptr;
  if (!FFrameworkBitmap) {
    // An empty picture still gets a bitmap to draw on.
    FOwnedTBitmap = std::make_unique<TBitmap>();
    FFrameworkBitmap = FOwnedTBitmap.get();
  }
  UpdateTBitmapOrientation();
  return FFrameworkBitmap;
}

TCanvas* TIEBitmap::Canvas() {
  TBitmap* b = VclBitmap();
  return b ? b->Canvas() : nullptr;
}

void TIEBitmap::EncapsulateTBitmap(TBitmap* bitmap, bool freeFirst) {
  if (freeFirst) FreeImage(true);
  if (!bitmap) return;
  if (bitmap == FFrameworkBitmap && FLocation == ieTBitmap) {
    SyncFromTBitmap();
    return;
  }
  if (!freeFirst) FreeImage(false);
  FFrameworkBitmap = bitmap;
  FBorrowedTBitmap = true;
  FLocation = ieTBitmap;
  FCachedObject.reset();
  FWidth = -1;  // forces the geometry to be taken
  TakeGeometryFromTBitmap();
  if (FPixelFormat == ie8p) CopyPaletteFromTBitmap(bitmap, 256);
}

bool TIEBitmap::AssignIntoFrameworkBitmap(TIEBitmap& source) {
  if (source.IsEmpty()) return false;
  const TPixelFormat pf = FrameworkFormatFor(source.FPixelFormat);
  // ie16g would arrive as 8 bits with 16-bit rows: refused with the others.
  if (pf == pfCustom || source.FPixelFormat == ie16g) return false;
  FNeedsReallocation = true;
  try {
    FFrameworkBitmap->SetSize(1, 1);
    FFrameworkBitmap->SetPixelFormat(pf);
    FFrameworkBitmap->SetSize(source.FWidth, source.FHeight);
    if (source.FPixelFormat == ie8g) SetGrayColorTable(*FFrameworkBitmap);
  } catch (const std::exception&) {
    return false;
  }
  FCachedObject.reset();
  FWidth = -1;
  TakeGeometryFromTBitmap();
  FPixelFormat = source.FPixelFormat;  // ie8p and ie8g share a depth
  CopyRowsFrom(source);
  FFull = source.FFull;
  if (!FIsAlphaChannel) {
    if (source.HasAlphaChannel())
      AlphaChannel()->Assign(source.FAlphaBitmap.get());
    else
      FAlphaBitmap.reset();
  }
  source.CopyPaletteTo(this);
  FBWConversion = source.FBWConversion;
  FNeedsReallocation = false;
  return true;
}

// ---- exchange with framework bitmaps ----

namespace {

// A 1-bit framework bitmap whose colour table is black then white reads as ie1g.
bool HasBlackWhiteTable(const bmpcodec::DibView& v) {
  if (!v.colors || v.colorCount < 2) return true;  // the default table
  const RGBQUAD& c0 = v.colors[0];
  const RGBQUAD& c1 = v.colors[1];
  return c0.rgbRed == 0 && c0.rgbGreen == 0 && c0.rgbBlue == 0 && c1.rgbRed == 255 && c1.rgbGreen == 255 &&
         c1.rgbBlue == 255;
}

}  // namespace

void TIEBitmap::CopyToTBitmap(TBitmap& bitmap) {
  const TIEBitmapFormat f = PixelFormat();
  if (f == ieCMYK) throw EInvalidGraphic("CMYK to TBitmap not supported");
  if (f == ieRGB48) throw EInvalidGraphic("RGB48 to TBitmap not supported");
  if (f == ieCIELab) throw EInvalidGraphic("CIELab to TBitmap not supported");
  if (IsEmpty() || f == ieNoFormat) {
    bitmap.SetSize(0, 0);
    return;
  }
  bitmap.SetSize(1, 1);
  switch (f) {
    case ie1g: {
      bitmap.SetPixelFormat(pf1bit);
      const TRGB blackWhite[2] = {MakeRGB(0, 0, 0), MakeRGB(255, 255, 255)};
      SetTBitmapColorTable(bitmap, blackWhite, 2);
      break;
    }
    case ie8p:
      bitmap.SetPixelFormat(pf8bit);
      if (FPaletteCount > 0) SetTBitmapColorTable(bitmap, FPaletteData.data(), std::min(FPaletteCount, 256));
      break;
    case ie8g:
    case ie16g:
    case ie32f:
      bitmap.SetPixelFormat(pf8bit);
      SetGrayColorTable(bitmap);
      break;
    case ie32RGB: bitmap.SetPixelFormat(pf32bit); break;
    default: bitmap.SetPixelFormat(pf24bit); break;
  }
  bitmap.SetSize(Width(), Height());
  if (bitmap.GetWidth() != Width() || bitmap.GetHeight() != Height()) return;
  TIEAccessScope reading(*this, 1);
  const int64_t len = std::min<int64_t>(RowLen(), bitmap.View().RowBytes());
  for (int y = 0; y < Height(); ++y) {
    const uint8_t* src = ScanLine(y);
    auto* dst = static_cast<uint8_t*>(bitmap.ScanLine(y));
    if (f == ie16g) {
      // The high byte of each word; words are stored little-endian.
      for (int x = 0; x < Width(); ++x) dst[x] = src[2 * x + 1];
    } else if (f == ie32f) {
      const auto* v = reinterpret_cast<const float*>(src);
      for (int x = 0; x < Width(); ++x) {
        const float s = std::isfinite(v[x]) ? std::clamp(v[x], 0.0f, 1.0f) : 0.0f;
        dst[x] = static_cast<uint8_t>(s * 255);
      }
    } else {
      std::memcpy(dst, src, size_t(len));
    }
  }
}

namespace {

// Rows of a framework bitmap in library rows: 1-bit rows as they are (two
// colours black and white) or one index byte per pixel, 4-bit rows one index
// byte per pixel, 15- and 16-bit pixels widened to RGB, the rest copied. The
// layout is chosen once, then one loop does every row.
template <class DestRow>
void CopyFrameworkRows(const bmpcodec::DibView& v, TPixelFormat pf, bool blackWhite, int w, int h, int64_t len,
                       DestRow destRow) {
  auto eachRow = [&](auto copyRow) {
    for (int y = 0; y < h; ++y) copyRow(v.Row(y), destRow(y));
  };
  auto copyWhole = [len](const uint8_t* src, uint8_t* dst) { std::memcpy(dst, src, size_t(len)); };
  switch (pf) {
    case pf1bit:
      if (blackWhite) {
        eachRow(copyWhole);
      } else {
        eachRow([w](const uint8_t* src, uint8_t* dst) {
          for (int x = 0; x < w; ++x) dst[x] = (src[x >> 3] & kIEBitMask[x & 7]) ? 1 : 0;
        });
      }
      break;
    case pf4bit:
      eachRow([w](const uint8_t* src, uint8_t* dst) {
        for (int x = 0; x < w; ++x) dst[x] = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
      });
      break;
    case pf15bit:
      eachRow([w](const uint8_t* src, uint8_t* dst) {
        for (int x = 0; x < w; ++x) {
          const unsigned p = unsigned(src[2 * x]) | (unsigned(src[2 * x + 1]) << 8);
          TRGB& o = reinterpret_cast<TRGB*>(dst)[x];
          o.r = uint8_t(((p >> 10) & 31) << 3);
          o.g = uint8_t(((p >> 5) & 31) << 3);
          o.b = uint8_t((p & 31) << 3);
        }
      });
      break;
    case pf16bit:
      eachRow([w](const uint8_t* src, uint8_t* dst) {
        for (int x = 0; x < w; ++x) {
          const unsigned p = unsigned(src[2 * x]) | (unsigned(src[2 * x + 1]) << 8);
          TRGB& o = reinterpret_cast<TRGB*>(dst)[x];
          o.r = uint8_t((p >> 11) << 3);
          o.g = uint8_t(((p >> 5) & 63) << 2);
          o.b = uint8_t((p & 31) << 3);
        }
      });
      break;
    default: eachRow(copyWhole); break;
  }
}

}  // namespace

void TIEBitmap::CopyFromTBitmap(TBitmap& bitmap) {
  if (FLocation == ieTBitmap) {
    if (!FFrameworkBitmap) {
      FOwnedTBitmap = std::make_unique<TBitmap>();
      FFrameworkBitmap = FOwnedTBitmap.get();
    }
    if (&bitmap != FFrameworkBitmap) FFrameworkBitmap->Assign(&bitmap);
    // Only 1-, 24- and 32-bit rows live here; the caller's bitmap is left as it is.
    const TPixelFormat pf = FFrameworkBitmap->PixelFormat();
    if (!FFrameworkBitmap->GetEmpty() && pf != pf1bit && pf != pf24bit && pf != pf32bit)
      FFrameworkBitmap->SetPixelFormat(pf24bit);
    FAlphaBitmap.reset();
    FCachedObject.reset();
    FNeedsReallocation = true;
    FWidth = -1;
    TakeGeometryFromTBitmap();
    FFull = false;
    return;
  }
  if (bitmap.GetEmpty()) {
    FreeImage(true);
    return;
  }
  TPixelFormat pf = bitmap.PixelFormat();
  TBitmap widened;
  TBitmap* from = &bitmap;
  if (pf != pf1bit && pf != pf4bit && pf != pf8bit && pf != pf15bit && pf != pf16bit && pf != pf24bit &&
      pf != pf32bit) {
    // Device and custom layouts are read through a 24-bit copy rather than dropped.
    widened.Assign(&bitmap);
    widened.SetPixelFormat(pf24bit);
    from = &widened;
    pf = pf24bit;
  }
  const bmpcodec::DibView v = from->View();
  const int w = from->GetWidth(), h = from->GetHeight();
  TIEBitmapFormat f = ie24RGB;
  if (pf == pf1bit)
    f = HasBlackWhiteTable(v) ? ie1g : ie8p;
  else if (pf == pf4bit || pf == pf8bit)
    f = ie8p;
  else if (pf == pf32bit)
    f = ie32RGB;
  FNeedsReallocation = true;
  if (!Allocate(w, h, f)) return;
  if (f == ie8p) {
    std::fill(FPaletteData.begin(), FPaletteData.end(), TRGB{});
    for (int i = 0; i < v.colorCount && i < 256; ++i)
      FPaletteData[size_t(i)] = MakeRGB(v.colors[i].rgbRed, v.colors[i].rgbGreen, v.colors[i].rgbBlue);
  }
  TIEAccessScope writing(*this, 2);
  const int64_t len = std::min<int64_t>(RowLen(), v.RowBytes());
  CopyFrameworkRows(v, pf, f == ie1g, w, h, len, [this](int y) { return ScanLine(y); });
  FFull = false;
}
