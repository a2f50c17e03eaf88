// A frame made from bitmaps and other graphics, rendered into an 8-bit DIB with
// its transparency mask, and drawn on a canvas.
#include <algorithm>
#include <cstring>

#include "pictures/gif/gif_blocks.h"
#include "pictures/gif/gif_extensions.h"
#include "pictures/gif/gif_image.h"
#include "pictures/gif/gif_reduction.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_icon.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/rounding.h"

namespace {

// The frame's own bitmap of a source: 1-, 4- and 8-bit bitmaps as they are,
// others reduced to at most 256 colours by the image's settings.
std::unique_ptr<TBitmap> FrameBitmapOf(TBitmap* bitmap, TGIFImage* image) {
  const TPixelFormat pf = bitmap->PixelFormat();
  if (pf == pf1bit || pf == pf4bit || pf == pf8bit) {
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(bitmap);
    return copy;
  }
  return ReduceBitmapColors(bitmap, image ? image->ReductionMethod() : rdCube216,
                            image ? image->DitherKind() : dkNearest, nullptr, image ? image->QuantizeBits() : 8);
}

// The mask as one byte per pixel, non-zero where a pixel is transparent.
std::vector<uint8_t> MaskBytes(TBitmap* mask, int width, int height) {
  std::vector<uint8_t> out(static_cast<size_t>(width) * height, 0);
  if (!mask || mask->Empty()) return out;
  TDIBReader reader(mask, pf8bit);
  const int w = std::min(width, reader.Width());
  const int h = std::min(height, reader.Height());
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = reader.RowPointer(y);
    std::memcpy(&out[static_cast<size_t>(y) * width], row, static_cast<size_t>(w));
  }
  return out;
}

struct MemoryDC {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = nullptr;
  explicit MemoryDC(HBITMAP bitmap) {
    if (bitmap) old = SelectObject(dc, bitmap);
  }
  ~MemoryDC() {
    if (old) SelectObject(dc, old);
    DeleteDC(dc);
  }
};

}  // namespace

// ---- Assigning ----

void TGIFSubImage::Assign(TPersistent* source) {
  if (source == this) return;
  if (!source) {
    Reset();
    return;
  }
  if (auto* frame = dynamic_cast<TGIFSubImage*>(source)) {
    AssignFromFrame(frame);
  } else if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
    AssignFromBitmap(bitmap);
  } else if (auto* picture = dynamic_cast<TPicture*>(source)) {
    Assign(picture->Graphic());
  } else if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
    AssignFromGraphic(graphic);
  } else {
    TGIFItem::Assign(source);
  }
}

void TGIFSubImage::AssignFromFrame(TGIFSubImage* source) {
  Reset();
  if (source->IsEmpty()) return;
  ImageBlock = source->ImageBlock;
  FIsTransparent = source->FIsTransparent;
  FPixels = source->FPixels;
  FLocalMap->Assign(&source->LocalMap());
  TMemoryStream stream;
  source->ExtensionBlocks().SaveToStream(stream);
  stream.SetPosition(0);
  FExtensions->LoadFromStream(stream, this);
  FIsTransparent = source->FIsTransparent;
  if (source->FRenderedBitmap) {
    FRenderedBitmap = std::make_unique<TBitmap>();
    FRenderedBitmap->Assign(source->FRenderedBitmap.get());
  }
}

void TGIFSubImage::ImportBitmap(TBitmap* bitmap, bool reportProgress) {
  PlaceFrame(Left(), Top(), bitmap->Width(), bitmap->Height());
  std::unique_ptr<TBitmap> own = FrameBitmapOf(bitmap, FImage);
  AllocatePixels();
  if (reportProgress && FImage) FImage->ReportProgress(this, psStarting, 0, false, gifmsg::kConverting);
  const int w = Width(), h = Height();
  auto progress = [&](int y) {
    if (reportProgress && FImage && y % 32 == 0) FImage->ReportProgress(this, psRunning, y * 100 / h, false, gifmsg::kConverting);
  };
  const TPixelFormat pf = own->PixelFormat();
  const bmpcodec::DibView view = own->View();
  if ((pf == pf1bit || pf == pf4bit || pf == pf8bit) && view.colorCount > 0) {
    FLocalMap->CopyFromColorTable(view.colors, std::min(view.colorCount, 1 << view.bitCount));
    for (int y = 0; y < h; ++y) {
      progress(y);
      const auto* src = static_cast<const uint8_t*>(own->ScanLine(y));
      uint8_t* dst = RowAddress(y);
      if (pf == pf8bit) {
        std::memcpy(dst, src, static_cast<size_t>(w));
      } else if (pf == pf4bit) {
        for (int x = 0; x < w; ++x) dst[x] = (x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4;
      } else {
        for (int x = 0; x < w; ++x) dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
      }
    }
  } else {
    FLocalMap->Reset();
    TDIBReader reader(own.get(), pf24bit);
    // The eight colours met last, searched from the newest.
    uint32_t cacheColor[8];
    int cacheIndex[8];
    int cacheCount = 0, cacheNext = 0;
    for (int y = 0; y < h; ++y) {
      progress(y);
      const uint8_t* src = reader.RowPointer(y);
      uint8_t* dst = RowAddress(y);
      for (int x = 0; x < w; ++x, src += 3) {
        const uint32_t color = src[2] | (src[1] << 8) | (src[0] << 16);
        int index = -1;
        for (int k = 0, at = cacheNext; k < cacheCount; ++k) {
          at = (at + 7) & 7;
          if (cacheColor[at] == color) {
            index = cacheIndex[at];
            break;
          }
        }
        if (index < 0) {
          index = FLocalMap->FindOrAppendColor(color);
          cacheColor[cacheNext] = color;
          cacheIndex[cacheNext] = index;
          cacheNext = (cacheNext + 1) & 7;
          cacheCount = std::min(cacheCount + 1, 8);
        }
        dst[x] = static_cast<uint8_t>(index);
      }
    }
  }
  FRenderedBitmap = std::move(own);
  FMaskPending = true;
}

void TGIFSubImage::AssignFromBitmap(TBitmap* bitmap) {
  Reset();
  if (bitmap->Empty()) return;
  ImportBitmap(bitmap, true);
  if (bitmap->Transparent()) {
    // The bitmap's own mask (white where its transparent colour is).
    TBitmap mask;
    mask.SetHandle(bitmap->ReleaseMaskHandle());
    ApplyAppendedColorMask(&mask);
  }
  if (FImage) FImage->ReportProgress(this, psEnding, 100, true, gifmsg::kConverting);
}

void TGIFSubImage::AssignFromGraphic(TGraphic* graphic) {
  Reset();
  if (graphic->Empty()) return;
  TBitmap bitmap;
  auto drawn = [&] {
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(graphic->Width(), graphic->Height());
    bitmap.Canvas()->Draw(0, 0, graphic);
  };
  auto* icon = dynamic_cast<TIcon*>(graphic);
  auto* metafile = dynamic_cast<TMetafile*>(graphic);
  if (icon || metafile) {
    try {
      drawn();
    } catch (const Exception&) {
      bitmap.Assign(graphic);
    }
  } else {
    try {
      bitmap.Assign(graphic);
    } catch (const EConvertError&) {
      drawn();
    }
  }
  AssignFromBitmap(&bitmap);
  if (icon) {
    ICONINFO info;
    if (GetIconInfo(icon->Handle(), &info)) {
      TBitmap mask;
      mask.SetHandle(info.hbmMask);  // the bitmap owns and deletes it
      if (info.hbmColor) DeleteObject(info.hbmColor);
      ApplyAppendedColorMask(&mask);
    }
  }
  if (metafile) ApplyMetafileMask(metafile);
}

// Where a metafile did not paint, it shows what was under it: drawn once over
// white and once over black, the pixels that differ are its transparent ones.
void TGIFSubImage::ApplyMetafileMask(TMetafile* metafile) {
  const int w = metafile->Width(), h = metafile->Height();
  if (w <= 0 || h <= 0) return;
  TBitmap over[2];
  for (int i = 0; i < 2; ++i) {
    over[i].SetPixelFormat(pf24bit);
    over[i].SetSize(w, h);
    over[i].Canvas()->Brush()->SetColor(i == 0 ? clWhite : clBlack);
    over[i].Canvas()->FillRect(TRect{0, 0, w, h});
    over[i].Canvas()->Draw(0, 0, metafile);
  }
  TBitmap mask;
  mask.SetPixelFormat(pf8bit);
  mask.SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    const auto* a = static_cast<const uint8_t*>(over[0].ScanLine(y));
    const auto* b = static_cast<const uint8_t*>(over[1].ScanLine(y));
    auto* m = static_cast<uint8_t*>(mask.ScanLine(y));
    for (int x = 0; x < w; ++x) m[x] = (a[x * 3] ^ b[x * 3]) | (a[x * 3 + 1] ^ b[x * 3 + 1]) | (a[x * 3 + 2] ^ b[x * 3 + 2]) ? 255 : 0;
  }
  ApplyAppendedColorMask(&mask);
}

bool TGIFSubImage::ApplyAppendedColorMask(TBitmap* mask) {
  FLocalMap->SortByUse();
  if (FLocalMap->EntryCount() == 0 || FLocalMap->EntryCount() == 256) return false;
  ApplyTransparencyMask(mask, -1);
  return FIsTransparent;
}

void TGIFSubImage::SetFromBitmap(TBitmap* bitmap, TBitmap* mask, int transparentIndex) {
  Reset();
  if (!bitmap || bitmap->Empty()) return;
  ImportBitmap(bitmap, false);
  if (mask) ApplyTransparencyMask(mask, transparentIndex);
}

void TGIFSubImage::ApplyTransparencyMask(TBitmap* mask, int transparentIndex) {
  if (IsEmpty()) return;
  int index = transparentIndex;
  bool appended = false;
  if (index < 0) {
    FLocalMap->SortByUse();
    if (FLocalMap->EntryCount() == 0 || FLocalMap->EntryCount() == 256) return;
    index = FLocalMap->AppendColor(0);
    appended = true;
  }
  const std::vector<uint8_t> m = MaskBytes(mask, Width(), Height());
  size_t marked = 0;
  for (size_t i = 0; i < m.size(); ++i)
    if (m[i]) {
      FPixels[i] = static_cast<uint8_t>(index);
      ++marked;
    }
  if (marked == 0) {
    if (appended) FLocalMap->RemoveEntry(index);
    return;
  }
  // One control extension per frame: an existing one takes the transparency.
  TGIFGraphicControlExtension* gce = FControlExtension;
  if (!gce) {
    auto created = std::make_unique<TGIFGraphicControlExtension>(this);
    gce = created.get();
    FExtensions->AppendItem(std::move(created));
  }
  gce->SetTransparentEntry(index);
  gce->SetTransparencyFlag(true);
  DropRendering();
  DropMask();
}

void TGIFSubImage::AssignTo(TPersistent* dest) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    if (TBitmap* r = GetRendering()) bitmap->Assign(r);
    else bitmap->Assign(nullptr);
    return;
  }
  TGIFItem::AssignTo(dest);
}

// ---- Rendering ----

TBitmap* TGIFSubImage::GetRendering() {
  if (FRenderedBitmap || IsEmpty()) return FRenderedBitmap.get();
  if (FImage) FImage->ReportProgress(this, psStarting, 0, false, gifmsg::kRendering);
  try {
    FRenderedBitmap = FImage && FImage->GetDitherActive() ? RenderDithered() : RenderPlain();
  } catch (const EAbort&) {
    FRenderedBitmap.reset();
    if (FImage) FImage->ReportProgress(this, psEnding, 0, FImage->PaletteModified(), gifmsg::kRendering);
    return nullptr;
  } catch (...) {
    if (FImage) FImage->ReportProgress(this, psEnding, 0, FImage->PaletteModified(), gifmsg::kRendering);
    throw;
  }
  if (FImage) {
    FImage->ReportProgress(this, psEnding, 100, FImage->PaletteModified(), gifmsg::kRendering);
    if (FImage->PaletteModified()) FImage->NotifyChanged(this);
  }
  return FRenderedBitmap.get();
}

namespace {

// The mask being built: one bit per pixel, rows of whole words, set where transparent.
struct TMaskBuilder {
  int width = 0;
  size_t stride = 0;
  std::vector<uint8_t> bits;
  bool any = false;
  void Start(int w, int h) {
    width = w;
    stride = static_cast<size_t>((w + 15) / 16 * 2);
    bits.assign(stride * static_cast<size_t>(h), 0);
  }
  void Set(int x, int y) {
    bits[static_cast<size_t>(y) * stride + static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
    any = true;
  }
};

}  // namespace

std::unique_ptr<TBitmap> TGIFSubImage::RenderPlain() {
  auto bitmap = std::make_unique<TBitmap>();
  const int w = Width(), h = Height();
  HPALETTE palette = FramePalette();
  TMaskBuilder mask;
  const bool buildMask = FMaskPending && FIsTransparent && !FTransparencyMask;
  FMaskPending = false;
  if (buildMask) mask.Start(w, h);
  const uint8_t t = static_cast<uint8_t>(TransparentIndex());
  {
    TDIBWriter writer(bitmap.get(), palette, h, w, pf8bit);
    for (int y = 0; y < h; ++y) {
      if (FImage && y % 32 == 0) FImage->ReportProgress(this, psRunning, y * 100 / h, false, gifmsg::kRendering);
      const uint8_t* src = RowAddress(y);
      std::memcpy(writer.RowPointer(y), src, static_cast<size_t>(w));
      if (buildMask)
        for (int x = 0; x < w; ++x)
          if (src[x] == t) mask.Set(x, y);
    }
    writer.Finish();
  }
  if (buildMask && mask.any) FTransparencyMask = static_cast<HBITMAP>(CheckGdiHandle(CreateBitmap(w, h, 1, 1, mask.bits.data())));
  return bitmap;
}

std::unique_ptr<TBitmap> TGIFSubImage::RenderDithered() {
  auto bitmap = std::make_unique<TBitmap>();
  const int w = Width(), h = Height();
  // The indices written are the cube's, whatever palette the frame cached before.
  struct Cube {
    HPALETTE p = MakeCubePalette();
    ~Cube() { DeleteObject(p); }
  } cube;
  HPALETTE palette = cube.p;
  TMaskBuilder mask;
  const bool buildMask = FMaskPending && FIsTransparent && !FTransparencyMask;
  FMaskPending = false;
  if (buildMask) mask.Start(w, h);
  TGIFColorMap& map = EffectiveColorMap();
  const int t = TransparentIndex();
  uint8_t fill = 0;
  if (buildMask) {
    const uint32_t c = t < map.EntryCount() ? map.RawColor(t) : 0;
    const int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    const int v = b / 51 + Round(6.0 * g / 51) + Round(36.0 * r / 51) + 1;
    fill = static_cast<uint8_t>(std::min(v, 215));  // an index of the 216-colour cube
  }
  TNetscapeColorLookup lookup;
  std::unique_ptr<TDitherEngine> ditherer = MakeDitherer(dkFloydSteinberg, w, &lookup);
  TDIBWriter writer(bitmap.get(), palette, h, w, pf8bit);
  for (int y = 0; y < h; ++y) {
    if (FImage && y % 32 == 0) FImage->ReportProgress(this, psRunning, y * 100 / h, false, gifmsg::kRendering);
    const uint8_t* src = RowAddress(y);
    uint8_t* dst = writer.RowPointer(y);
    if (buildMask) std::memset(dst, fill, static_cast<size_t>(w));
    for (int x = ditherer->Column(); x >= 0 && x < w; x = ditherer->Column()) {
      const uint8_t p = src[x];
      if (buildMask && p == t) {
        mask.Set(x, y);
        ditherer->AdvanceColumn();
        continue;
      }
      const uint32_t c = p < map.EntryCount() ? map.RawColor(p) : 0;
      int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
      dst[x] = static_cast<uint8_t>(ditherer->DitherPixel(r, g, b));
    }
    ditherer->NextRow();
  }
  writer.Finish();
  if (buildMask && mask.any) FTransparencyMask = static_cast<HBITMAP>(CheckGdiHandle(CreateBitmap(w, h, 1, 1, mask.bits.data())));
  return bitmap;
}

// ---- Drawing ----

TRect TGIFSubImage::ScaleFrameRect(const TRect& rect) {
  const int sw = FImage && FImage->Width() > 0 ? FImage->Width() : std::max(Left() + Width(), 1);
  const int sh = FImage && FImage->Height() > 0 ? FImage->Height() : std::max(Top() + Height(), 1);
  const int tw = rect.right - rect.left, th = rect.bottom - rect.top;
  auto scale = [](int v, int num, int den) { return static_cast<int>(Round(static_cast<double>(v) * num / den)); };
  return TRect{rect.left + scale(Left(), tw, sw), rect.top + scale(Top(), th, sh),
               rect.left + scale(Left() + Width(), tw, sw), rect.top + scale(Top() + Height(), th, sh)};
}

void TGIFSubImage::DrawFrame(TCanvas* canvas, const TRect& rect, bool tiled, bool masked) {
  StretchDrawFrame(canvas, tiled ? rect : ScaleFrameRect(rect), tiled, masked);
}

void TGIFSubImage::StretchDrawFrame(TCanvas* canvas, const TRect& rect, bool tiled, bool masked) {
  if (IsEmpty()) return;
  TBitmap* rendering = GetRendering();
  if (!rendering) return;
  const int sw = FImage ? FImage->Width() : 0, sh = FImage ? FImage->Height() : 0;
  // Tiles step by the logical screen; a screen of no size has no tiles to step by.
  auto eachTile = [&](auto&& f) {
    if (sw <= 0 || sh <= 0) {
      f(TRect{rect.left + Left(), rect.top + Top(), rect.left + Left() + Width(), rect.top + Top() + Height()});
      return;
    }
    for (int y = rect.top + Top(); y < rect.bottom; y += sh)
      for (int x = rect.left + Left(); x < rect.right; x += sw) f(TRect{x, y, x + Width(), y + Height()});
  };
  if (masked && FIsTransparent && EnsureMask()) {
    rendering = FRenderedBitmap.get();
    MemoryDC maskDC(FTransparencyMask);
    HDC src = rendering->Canvas()->Handle();
    HDC dst = canvas->Handle();
    auto blt = [&](const TRect& r) {
      TransparentStretchBlt(dst, r.left, r.top, r.right - r.left, r.bottom - r.top, src, 0, 0, Width(), Height(),
                            maskDC.dc, 0, 0);
    };
    if (tiled) eachTile(blt);
    else blt(rect);
    if (canvas->OnChange) canvas->OnChange(canvas);
    return;
  }
  if (tiled) eachTile([&](const TRect& r) { canvas->StretchDraw(r, rendering); });
  else canvas->StretchDraw(rect, rendering);
}

bool TransparentStretchBlt(HDC dest, int destX, int destY, int destWidth, int destHeight, HDC source, int srcX,
                           int srcY, int srcWidth, int srcHeight, HDC mask, int maskX, int maskY) {
  if (srcWidth <= 0 || srcHeight <= 0) return true;
  // The source's colours where it is opaque, black where it is transparent...
  HBITMAP colour = CreateCompatibleBitmap(dest, srcWidth, srcHeight);
  {
    MemoryDC dc(colour);
    BitBlt(dc.dc, 0, 0, srcWidth, srcHeight, source, srcX, srcY, SRCCOPY);
    const COLORREF oldText = SetTextColor(dc.dc, RGB(255, 255, 255));
    const COLORREF oldBack = SetBkColor(dc.dc, RGB(0, 0, 0));
    BitBlt(dc.dc, 0, 0, srcWidth, srcHeight, mask, maskX, maskY, SRCAND);
    SetTextColor(dc.dc, oldText);
    SetBkColor(dc.dc, oldBack);
  }
  // ...then the destination cleared where opaque, kept where transparent, and the
  // colours put in; both stretched alike, so they meet at any size.
  const COLORREF oldText = SetTextColor(dest, RGB(0, 0, 0));
  const COLORREF oldBack = SetBkColor(dest, RGB(255, 255, 255));
  StretchBlt(dest, destX, destY, destWidth, destHeight, mask, maskX, maskY, srcWidth, srcHeight, SRCAND);
  {
    MemoryDC dc(colour);
    StretchBlt(dest, destX, destY, destWidth, destHeight, dc.dc, 0, 0, srcWidth, srcHeight, SRCPAINT);
  }
  SetTextColor(dest, oldText);
  SetBkColor(dest, oldBack);
  DeleteObject(colour);
  return true;
}
