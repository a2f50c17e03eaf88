#include "icons/advanced_icon.h"

#include "base/rus_clipboard.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/rus_clipboard.h"
#include "platform/graphics/bmp_codec.h"
#include "platform/graphics/dib_header.h"
#include "platform/graphics/dib_types.h"
#include "platform/graphics/gdi.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_picture.h"

namespace {

[[noreturn]] void InvalidBitmap() { throw EInvalidGraphic("Bitmap image is not valid"); }


// AND-mask rows, bottom-up, of a 32-bit bitmap: a bit is set (transparent)
// where alpha is at most the threshold.
std::vector<uint8_t> MaskRowsFromAlpha(TBitmap& bitmap, uint8_t threshold) {
  const int w = bitmap.GetWidth(), h = bitmap.GetHeight();
  const int64_t rowBytes = DibRowBytes(w, 1);
  std::vector<uint8_t> rows(static_cast<size_t>(rowBytes * h), 0);
  for (int y = 0; y < h; ++y) {
    const auto* px = static_cast<const uint8_t*>(bitmap.ScanLine(y));
    uint8_t* out = rows.data() + static_cast<size_t>(h - 1 - y) * rowBytes;
    for (int x = 0; x < w; ++x)
      if (px[x * 4 + 3] <= threshold) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  return rows;
}

}  // namespace

// ---------------------------------------------------------------- the list

void TSubIconList::Grow(size_t needed) {
  if (needed > static_cast<size_t>(kMaxImages)) throw EListError("Too many images in icon");
  if (static_cast<int>(needed) > FCapacity) SetCapacity(static_cast<int>(needed));
}

void TSubIconList::SetCapacity(int n) {
  n = std::clamp(n, Count(), kMaxImages);
  FItems.reserve(static_cast<size_t>(n));
  FCapacity = n;
}

void TSubIconList::Add(std::unique_ptr<TSubIcon> image) {
  Grow(FItems.size() + 1);
  FItems.push_back(std::move(image));
}

void TSubIconList::Insert(int index, std::unique_ptr<TSubIcon> image) {
  if (index < 0 || index >= Count()) {
    Add(std::move(image));
    return;
  }
  Grow(FItems.size() + 1);
  FItems.insert(FItems.begin() + index, std::move(image));
}

std::unique_ptr<TSubIcon> TSubIconList::RemoveAt(int index, bool free) {
  if (index < 0 || index >= Count()) return nullptr;
  std::unique_ptr<TSubIcon> image = std::move(FItems[static_cast<size_t>(index)]);
  FItems.erase(FItems.begin() + index);
  if (free) image.reset();
  return image;
}

void TSubIconList::Move(int from, int to) {
  if (from == to) return;
  if (from < 0 || from >= Count() || to < 0 || to >= Count()) throw EListError("List index out of bounds");
  auto image = std::move(FItems[static_cast<size_t>(from)]);
  FItems.erase(FItems.begin() + from);
  FItems.insert(FItems.begin() + to, std::move(image));
}

void TSubIconList::TakeImage(TAdvancedIcon* icon, int index) {
  if (!icon || index < 0 || index >= icon->Count()) return;
  Grow(FItems.size() + 1);
  Add(icon->Images().RemoveAt(index, false));
}

void TSubIconList::TakeAllImages(TAdvancedIcon* icon) {
  if (!icon || &icon->Images() == this) return;
  auto& from = icon->Images().FItems;
  Grow(FItems.size() + from.size());
  // Moved in one go: taking them one by one from the front costs the square of
  // their number.
  for (auto& image : from) FItems.push_back(std::move(image));
  from.clear();
}

TSubIcon* TSubIconList::GetItem(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(index)].get();
}

void TSubIconList::Clear() {
  FItems.clear();
  FItems.shrink_to_fit();
  FCapacity = 0;
}

int CompareSubIconsForSort(TSubIcon* a, TSubIcon* b) {
  const int da = a->GetBitsPerPixel(), db = b->GetBitsPerPixel();
  if (da != db) return da > db ? -1 : 1;
  const int wa = a->GetWidth() - (a->IsMacHiResElement() ? 1 : 0);
  const int wb = b->GetWidth() - (b->IsMacHiResElement() ? 1 : 0);
  if (wa == wb) return 0;
  return wa > wb ? -1 : 1;
}

void TSubIconList::Sort() {
  // A stable sort: images that compare equal keep the order they were added in,
  // so the same icon always saves the same way.
  std::stable_sort(FItems.begin(), FItems.end(), [](const auto& a, const auto& b) {
    return CompareSubIconsForSort(a.get(), b.get()) < 0;
  });
}

int TSubIconList::FindBestIndex(int width, int height, int depth) const {
  if (Count() < 2) return 0;
  auto term = [](int have, int want) -> int64_t {
    if (want == 0) return 0;
    const int64_t d = static_cast<int64_t>(have) - want;
    if (static_cast<double>(d) / want < -0.125) return 4096;
    return d < 0 ? -d : d;
  };
  auto sizeScore = [&](TSubIcon* im) { return term(im->GetWidth(), width) + term(im->GetHeight(), height); };
  auto depthScore = [&](TSubIcon* im) -> int64_t {
    if (depth == 0) return 0;
    const int bpp = im->GetBitsPerPixel();
    int64_t s = std::abs(bpp - depth);
    if (depth == 16 && bpp < 8) s += 8;
    return s;
  };
  int best = 0;
  int64_t bestSize = sizeScore(GetItem(0)), bestDepth = depthScore(GetItem(0));
  for (int i = 1; i < Count(); ++i) {
    const int64_t s = sizeScore(GetItem(i)), d = depthScore(GetItem(i));
    if (s < bestSize || (s == bestSize && d < bestDepth)) {
      best = i;
      bestSize = s;
      bestDepth = d;
    }
  }
  return best;
}

int TSubIconList::IndexOfImage(int width, int height, int depth) const {
  for (int i = 0; i < Count(); ++i) {
    TSubIcon* im = GetItem(i);
    if (im->GetWidth() == width && im->GetHeight() == height && im->GetBitsPerPixel() == depth) return i;
  }
  return -1;
}

TSubIcon* TSubIconList::AddDIB(TStream& colour, TStream* mask, uint8_t fillByte, int64_t available) {
  const int64_t start = colour.Position();
  available = std::min<int64_t>(available, colour.Size() - start);
  if (available < 4) InvalidBitmap();
  // The header, its masks and a full colour table fit in this prefix.
  uint8_t prefix[kDibPrefixBytes];
  const int64_t got = std::max<int64_t>(colour.Read(prefix, std::min<int64_t>(available, sizeof prefix)), 0);
  TDibHeader h;
  if (ReadDibHeader(prefix, static_cast<size_t>(got), h) != drNone) InvalidBitmap();
  // Rows stored top-down are not what an icon holds, nor are run-length rows;
  // such DIBs are refused.
  if (h.width <= 0 || h.height <= 0) InvalidBitmap();
  if (h.compression != BI_RGB && h.compression != BI_BITFIELDS) InvalidBitmap();
  if (static_cast<uint32_t>(h.width) > kMaxIconSide || static_cast<uint32_t>(h.height) > kMaxIconSide)
    throw Exception(kInvalidImage);
  // More colours than the depth can index, or than 256, is no DIB.
  const uint64_t coloursUsed = h.tableEntries;
  if ((h.bitCount <= 8 && coloursUsed > h.PaletteSize()) || coloursUsed > 256) InvalidBitmap();
  std::vector<RGBQUAD> table;
  if (ReadDibColours(prefix, static_cast<size_t>(got), h, static_cast<size_t>(coloursUsed), table) != drNone)
    InvalidBitmap();

  // The icon keeps the header as stored (a core one widened to 40 bytes), the
  // masks stored after a short header, and the colour table in 4-byte entries.
  BITMAPINFOHEADER bih{};
  std::vector<uint8_t> extraHeader, masks;  // bytes of a longer header beyond the first 40
  if (!h.core) {
    std::memcpy(&bih, prefix, sizeof bih);
    extraHeader.assign(prefix + sizeof bih, prefix + h.size);
    masks.assign(prefix + h.size, prefix + h.tableOffset);
  }
  bih.biSize = h.core ? 40 : h.size;
  bih.biWidth = h.width;
  bih.biHeight = h.height;
  bih.biPlanes = 1;
  bih.biBitCount = static_cast<WORD>(h.bitCount);
  bih.biClrUsed = static_cast<DWORD>(coloursUsed);

  // The row size is computed, not taken from the header: a wrong image size
  // field would otherwise make us copy too little or read past the rows.
  const int64_t colourBytes = DibRowBytes(bih.biWidth, h.bitCount) * bih.biHeight;
  if (colourBytes > available - static_cast<int64_t>(h.BitsOffset())) InvalidBitmap();
  colour.SetPosition(start + static_cast<int64_t>(h.BitsOffset()));
  const int64_t maskBytes = DibRowBytes(bih.biWidth, 1) * bih.biHeight;
  bih.biSizeImage = static_cast<DWORD>(colourBytes + maskBytes);
  bih.biHeight *= 2;

  TMemoryStream dib;
  dib.WriteBuffer(&bih, sizeof bih);
  if (!extraHeader.empty()) dib.WriteBuffer(extraHeader.data(), static_cast<int64_t>(extraHeader.size()));
  if (!masks.empty()) dib.WriteBuffer(masks.data(), static_cast<int64_t>(masks.size()));
  if (!table.empty()) dib.WriteBuffer(table.data(), static_cast<int64_t>(table.size() * sizeof(RGBQUAD)));
  dib.CopyFrom(colour, colourBytes);
  if (mask) {
    if (mask->Size() - mask->Position() < maskBytes) InvalidBitmap();
    dib.CopyFrom(*mask, maskBytes);
  } else {
    std::vector<uint8_t> fill(static_cast<size_t>(maskBytes), fillByte);
    dib.WriteBuffer(fill.data(), maskBytes);
  }
  TIconEntryHead head;
  head.dwBytesInRes = static_cast<uint32_t>(dib.Size());
  dib.SetPosition(0);
  auto image = TSubIcon::CreateFromEntryKeepPosition<TFileIconImage>(dib, head);
  TSubIcon* result = image.get();
  Add(std::move(image));
  return result;
}

TSubIcon* TSubIconList::AddBitmap(TBitmap* bitmap, TBitmap* mask, uint8_t byte) {
  if (!bitmap) return nullptr;
  // An empty mask object is no mask: a 32-bit bitmap then takes its mask from
  // alpha, any other bitmap gets the fill byte.
  if (mask && mask->GetWidth() == 0) mask = nullptr;
  TBitmap work;
  TBitmap* source = bitmap;
  const TPixelFormat pf = bitmap->PixelFormat();
  if (pf == pfDevice || pf == pf15bit || pf == pf16bit || pf == pfCustom || bitmap->GetWidth() == 0 ||
      bitmap->GetHeight() == 0) {
    if (bitmap->GetWidth() == 0 || bitmap->GetHeight() == 0) {
      work.SetPixelFormat(pf24bit);
      work.SetSize(1, 1);
    } else {
      work.Assign(bitmap);
      work.SetPixelFormat(pf24bit);
    }
    source = &work;
  }
  // The mask rows: from alpha, straight from a 1-bit mask of the same size,
  // or through a 1-bit copy of any other mask.
  std::vector<uint8_t> alphaMask;
  std::vector<uint8_t> copiedMask;
  const uint8_t* maskRows = nullptr;
  if (!mask && bitmap->PixelFormat() == pf32bit && bitmap->GetWidth() > 0 && bitmap->GetHeight() > 0) {
    alphaMask = MaskRowsFromAlpha(*bitmap, byte);
    maskRows = alphaMask.data();
  } else if (mask) {
    if (mask->PixelFormat() == pf1bit && mask->GetWidth() == source->GetWidth() &&
        mask->GetHeight() == source->GetHeight()) {
      GdiFlush();
      maskRows = mask->View().bits;
    } else {
      TBitmap monoMask;
      monoMask.Assign(mask);
      if (monoMask.PixelFormat() != pf1bit) monoMask.SetPixelFormat(pf1bit);
      if (monoMask.GetWidth() != source->GetWidth() || monoMask.GetHeight() != source->GetHeight())
        monoMask.SetSize(source->GetWidth(), source->GetHeight());
      if (const bmpcodec::DibView v = monoMask.View(); v.bits) {
        copiedMask.assign(v.bits, v.bits + size_t(v.RowBytes()) * size_t(v.height));
        maskRows = copiedMask.data();
      }
    }
  }
  return AddBitmapRows(*source, maskRows, byte);
}

TSubIcon* TSubIconList::AddBitmapRows(TBitmap& source, const uint8_t* maskRows, uint8_t fillByte) {
  // The image is the bitmap's own header, colour table and rows (an icon DIB
  // is bottom-up, as the bitmap holds them) with the mask rows behind; this is
  // the DIB that its bitmap file would give, without writing and reading one.
  GdiFlush();
  const bmpcodec::DibView v = source.View();
  if (!v.bits || v.width <= 0 || v.height <= 0) InvalidBitmap();
  if (static_cast<uint32_t>(v.width) > kMaxIconSide || static_cast<uint32_t>(v.height) > kMaxIconSide)
    throw Exception(kInvalidImage);
  const int bitCount = v.bitCount;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    InvalidBitmap();
  const int maxColours = bitCount <= 8 ? 1 << bitCount : 0;
  // A palette bitmap without a table uses the full table of its depth, as
  // its bitmap file would say; more entries than the depth indexes are not
  // written.
  const int colours = maxColours ? std::min(maxColours, v.colorCount > 0 ? v.colorCount : maxColours) : 0;
  const bool fields = v.compression == BI_BITFIELDS && (bitCount == 16 || bitCount == 32);
  const int64_t colourBytes = DibRowBytes(v.width, bitCount) * v.height;
  const int64_t maskBytes = DibRowBytes(v.width, 1) * v.height;
  BITMAPINFOHEADER bih{};
  bih.biWidth = v.width;
  bih.biHeight = v.height * 2;
  bih.biBitCount = static_cast<WORD>(bitCount);
  bih.biCompression = v.compression;
  bih.biSizeImage = static_cast<DWORD>(colourBytes + maskBytes);
  bih.biClrUsed = static_cast<DWORD>(colours);
  const size_t headerBytes = sizeof bih + (fields ? 12 : 0) + size_t(colours) * 4;
  std::vector<uint8_t> dib(headerBytes + size_t(colourBytes) + size_t(maskBytes));
  uint8_t* at = dib.data();
  std::memcpy(at, &bih, sizeof bih);
  at += sizeof bih;
  if (fields) {
    std::memcpy(at, v.masks, 12);
    at += 12;
  }
  for (int i = 0; i < colours; ++i, at += 4) {
    RGBQUAD q = i < v.colorCount ? v.colors[i] : RGBQUAD{0, 0, 0, 0};
    q.rgbReserved = 0;
    std::memcpy(at, &q, 4);
  }
  std::memcpy(at, v.bits, size_t(colourBytes));
  at += colourBytes;
  if (maskRows)
    std::memcpy(at, maskRows, size_t(maskBytes));
  else
    std::memset(at, fillByte, size_t(maskBytes));
  auto image = std::make_unique<TFileIconImage>();
  image->SetBits(std::move(dib));
  image->ParseBits();
  TSubIcon* result = image.get();
  Add(std::move(image));
  return result;
}

void TSubIconList::ReplaceWithBitmap(TBitmap* bitmap, TBitmap* mask, int index, uint8_t byte) {
  // Without a new image there is nothing to put in the place of the old one.
  if (!AddBitmap(bitmap, mask, byte)) return;
  if (Count() > 1 && index >= 0 && index < Count() - 1) {
    const bool flagged = GetItem(index)->StoreAsPNG();
    FItems[static_cast<size_t>(index)] = std::move(FItems.back());
    FItems.pop_back();
    // The new image takes the place's wish to be stored compressed.
    if (flagged) EncodePNG(*GetItem(index), *GetItem(index));
  }
}

// ---------------------------------------------------------------- the icon

TAdvancedIcon::TAdvancedIcon() : FImages(std::make_unique<TSubIconList>()) {}
TAdvancedIcon::~TAdvancedIcon() = default;

void TAdvancedIcon::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TAdvancedIcon*>(source)) {
    if (other == this) return;
    FImages->Clear();
    FImages->SetCapacity(other->Count());
    for (int i = 0; i < other->Count(); ++i) FImages->Add(other->Images().GetItem(i)->CreateCopy());
    return;
  }
  // Assigning the clipboard object is how a paste reaches an icon.
  if (dynamic_cast<TRusClipboard*>(source)) {
    PasteFromClipboard();
    return;
  }
  TPersistent::Assign(source);
}

TSubIcon* TAdvancedIcon::GetBestImage(int width, int height, int depth) {
  if (Count() == 0) return nullptr;
  if (Count() == 1) return FImages->GetItem(0);
  return FImages->GetItem(FImages->FindBestIndex(width, height, depth));
}

HICON TAdvancedIcon::GetBestHandle(int width, int height, int depth) {
  TSubIcon* image = GetBestImage(width, height, depth);
  return image ? image->GetHandle() : nullptr;
}

TSubIcon* TAdvancedIcon::FindImage(int width, int height, int depth) {
  TSubIcon* similar = nullptr;
  for (int i = 0; i < Count(); ++i) {
    TSubIcon* im = FImages->GetItem(i);
    if (im->GetWidth() != width || im->GetHeight() != height) continue;
    const int bpp = im->GetBitsPerPixel();
    if (bpp == depth) return im;
    if (bpp >= 8 && bpp <= 24) similar = im;
  }
  return depth >= 8 && depth <= 24 ? similar : nullptr;
}

void TAdvancedIcon::GetMaxDimensions(int& width, int& height, int& depth) {
  width = height = depth = 0;
  for (int i = 0; i < Count(); ++i) {
    TSubIcon* im = FImages->GetItem(i);
    width = std::max(width, im->GetWidth());
    height = std::max(height, im->GetHeight());
    depth = std::max(depth, im->GetBitsPerPixel());
  }
}

void TAdvancedIcon::ReleaseHandles() {
  for (int i = 0; i < Count(); ++i) FImages->GetItem(i)->ReleaseHandle();
}

void DrawBestIconImage(TPicture* picture, TAdvancedIcon* icon, int width, int height, int depth, TColor background) {
  if (!picture) return;
  TBitmap bitmap;
  TSubIcon* image = icon ? icon->GetBestImage(width, height, depth) : nullptr;
  if (image) {
    const int w = image->GetWidth(), h = image->GetHeight();
    if (image->Head().wBitCount == 32) {
      bitmap.SetPixelFormat(pf32bit);
      bitmap.SetSize(w, h);
      DrawSubIcon(bitmap.Canvas(), 0, 0, *image, background);
    } else {
      bitmap.SetSize(w, h);
      bitmap.Canvas()->Brush()->SetColor(background);
      bitmap.Canvas()->FillRect(Rect(0, 0, w, h));
      HICON handle = w < 127 && h < 127 ? image->GetHandle() : nullptr;
      if (handle)
        DrawIconEx(bitmap.Canvas()->Handle(), 0, 0, handle, 0, 0, 0, nullptr, DI_NORMAL);
      else
        DrawSubIcon(bitmap.Canvas(), 0, 0, *image, background);
    }
  }
  picture->Assign(&bitmap);
}
