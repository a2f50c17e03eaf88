#include "platform/graphics/graphics_icon.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/icon_directory.h"
#include "platform/graphics/png_header.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/byte_order.h"

namespace {

constexpr int kSystemIconSize = 32;  // SM_CXICON / SM_CYICON
constexpr uint32_t kMaxIconImages = 1024;

[[noreturn]] void InvalidIcon() { throw EInvalidGraphic("Icon image is not valid"); }



// Size and depth from the image itself, which is what Windows goes by: a PNG
// stream's IHDR, or the DIB header (whose height counts the AND mask too).
bool ReadImageInfo(const uint8_t* p, uint32_t size, int* width, int* height, int* bitCount) {
  if (FindPngHeader(p, size) >= 0) {
    *width = static_cast<int>(std::min<uint32_t>(PngWidth(p, size), 0x7FFFFFFF));
    *height = static_cast<int>(std::min<uint32_t>(PngHeight(p, size), 0x7FFFFFFF));
    *bitCount = 32;
    return *width > 0 && *height > 0;
  }
  if (size < 40 || ReadLE32(p) < 40) return false;
  const int32_t w = static_cast<int32_t>(ReadLE32(p + 4));
  const int32_t h = static_cast<int32_t>(ReadLE32(p + 8));
  if (w <= 0 || h <= 0 || w > 65535 || h > 2 * 65535) return false;
  *width = w;
  *height = h / 2;
  *bitCount = ReadLE16(p + 14);
  return *height > 0;
}

}  // namespace

TIcon::~TIcon() { DestroyHandle(); }

void TIcon::DestroyHandle() {
  if (FHandle) DestroyIcon(FHandle);
  FHandle = nullptr;
}

void TIcon::SetRequestedSize(int width, int height) {
  FRequestedWidth = std::max(width, 0);
  FRequestedHeight = std::max(height, 0);
  if (!FData.empty()) {
    DestroyHandle();
    ChooseImage();
  }
}

void TIcon::DoSetWidth(int value) {
  if (!GetEmpty()) throw EInvalidGraphicOperation("Cannot change the size of an icon");
  FRequestedWidth = std::max(value, 0);
}

void TIcon::DoSetHeight(int value) {
  if (!GetEmpty()) throw EInvalidGraphicOperation("Cannot change the size of an icon");
  FRequestedHeight = std::max(value, 0);
}

void TIcon::ChooseImage() {
  // The closest size to the one asked for, then the deepest colour.
  const int wantW = FRequestedWidth > 0 ? FRequestedWidth : kSystemIconSize;
  const int wantH = FRequestedHeight > 0 ? FRequestedHeight : kSystemIconSize;
  int best = -1;
  int64_t bestDistance = 0;
  for (size_t i = 0; i < FEntries.size(); ++i) {
    const Entry& e = FEntries[i];
    const int64_t d = std::llabs(static_cast<int64_t>(e.width) - wantW) + std::llabs(static_cast<int64_t>(e.height) - wantH);
    if (best < 0 || d < bestDistance || (d == bestDistance && e.bitCount > FEntries[best].bitCount)) {
      best = static_cast<int>(i);
      bestDistance = d;
    }
  }
  FChosen = best;
  FWidth = best >= 0 ? FEntries[best].width : 0;
  FHeight = best >= 0 ? FEntries[best].height : 0;
}

void TIcon::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  const int64_t available = stream.Size() - start;
  // A TIcon takes icons only (type 1), and no more than kMaxIconImages of them.
  TIconDirHeader header;
  std::vector<TIconDirEntry> dir;
  if (ReadIconDirectory(stream, header, dir, kMaxIconImages, true) != idrNone || header.idType != 1) InvalidIcon();
  const int64_t dirEnd = kIconDirHeaderBytes + int64_t{kIconDirEntryBytes} * header.idCount;

  std::vector<Entry> entries;
  int64_t end = dirEnd;
  for (const TIconDirEntry& d : dir) {
    Entry e;
    e.size = d.head.dwBytesInRes;
    e.offset = d.dwImageOffset;
    if (e.offset < dirEnd || e.size < 26 || int64_t{e.offset} + e.size > available) InvalidIcon();
    end = std::max<int64_t>(end, int64_t{e.offset} + e.size);
    entries.push_back(e);
  }
  std::vector<uint8_t> data(static_cast<size_t>(end));
  stream.SetPosition(start);
  if (stream.Read(data.data(), end) != end) InvalidIcon();
  for (Entry& e : entries) {
    if (!ReadImageInfo(data.data() + e.offset, e.size, &e.width, &e.height, &e.bitCount)) InvalidIcon();
  }
  DestroyHandle();
  FData = std::move(data);
  FEntries = std::move(entries);
  ChooseImage();
  Changed(this);
}

HICON TIcon::Handle() {
  if (!FHandle && FChosen >= 0 && !FData.empty()) {
    const Entry& e = FEntries[static_cast<size_t>(FChosen)];
    FHandle = CreateIconFromResourceEx(FData.data() + e.offset, e.size, TRUE, ICON_RESOURCE_VERSION, e.width,
                                       e.height, LR_DEFAULTCOLOR);
    if (!FHandle) InvalidIcon();
  }
  return FHandle;
}

void TIcon::SetHandle(HICON icon) {
  if (icon == FHandle) return;
  DestroyHandle();
  FData.clear();
  FEntries.clear();
  FChosen = -1;
  FHandle = icon;
  FWidth = FHeight = 0;
  ICONINFO ii;
  if (icon && GetIconInfo(icon, &ii)) {
    BITMAP bm;
    HBITMAP probe = ii.hbmColor ? ii.hbmColor : ii.hbmMask;
    if (probe && GetObject(probe, sizeof bm, &bm)) {
      FWidth = bm.bmWidth;
      FHeight = ii.hbmColor ? bm.bmHeight : bm.bmHeight / 2;  // a monochrome mask holds both halves
    }
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
  }
  Changed(this);
}

HICON TIcon::ReleaseHandle() {
  HICON h = Handle();
  FHandle = nullptr;
  if (FData.empty()) FWidth = FHeight = 0;
  return h;
}

void TIcon::Assign(TPersistent* source) {
  if (!source) {
    DestroyHandle();
    FData.clear();
    FEntries.clear();
    FChosen = -1;
    FWidth = FHeight = 0;
    Changed(this);
    return;
  }
  auto* src = dynamic_cast<TIcon*>(source);
  if (!src) {
    TGraphic::Assign(source);
    return;
  }
  if (src == this) return;
  DestroyHandle();
  FRequestedWidth = src->FRequestedWidth;
  FRequestedHeight = src->FRequestedHeight;
  FData = src->FData;
  FEntries = src->FEntries;
  FChosen = src->FChosen;
  FWidth = src->FWidth;
  FHeight = src->FHeight;
  if (FData.empty() && src->FHandle) FHandle = CopyIcon(src->FHandle);
  Changed(this);
}

void TIcon::Draw(TCanvas* canvas, const TRect& rect) {
  if (!canvas || GetEmpty()) return;
  DrawIconEx(canvas->Handle(), rect.left, rect.top, Handle(), rect.right - rect.left, rect.bottom - rect.top, 0,
             nullptr, DI_NORMAL);
}

void TIcon::SaveToStream(TStream& stream) {
  if (!FData.empty()) {
    stream.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
    return;
  }
  if (!FHandle) return;
  ICONINFO ii;
  if (!GetIconInfo(FHandle, &ii)) InvalidIcon();
  TBitmap color, mask;
  if (ii.hbmColor) color.SetHandle(ii.hbmColor);
  if (ii.hbmMask) mask.SetHandle(ii.hbmMask);
  if (mask.Empty()) InvalidIcon();
  const bool monochrome = color.Empty();
  const int w = mask.Width();
  const int h = monochrome ? mask.Height() / 2 : mask.Height();
  if (w <= 0 || h <= 0) InvalidIcon();

  // The colour image keeps its own depth where an icon file can hold it.
  if (!monochrome) {
    switch (color.PixelFormat()) {
      case pf1bit: case pf4bit: case pf8bit: case pf24bit: case pf32bit: break;
      case pfDevice: color.SetPixelFormat(pf32bit); break;
      default: color.SetPixelFormat(pf24bit); break;
    }
  }
  const bmpcodec::DibView mv = mask.View();
  const int bits = monochrome ? 1 : color.View().bitCount;
  const std::vector<RGBQUAD> table =
      monochrome ? DefaultColorTable(1) : std::vector<RGBQUAD>(color.View().colors, color.View().colors + color.View().colorCount);
  const int64_t xorRow = DibRowBytes(w, bits);
  const int64_t andRow = DibRowBytes(w, 1);
  std::vector<uint8_t> image;
  AppendLE32(image, 40);
  AppendLE32(image, static_cast<uint32_t>(w));
  AppendLE32(image, static_cast<uint32_t>(h * 2));
  AppendLE16(image, 1);
  AppendLE16(image, static_cast<uint32_t>(bits));
  AppendLE32(image, BI_RGB);
  AppendLE32(image, static_cast<uint32_t>((xorRow + andRow) * h));
  AppendLE32(image, 0);
  AppendLE32(image, 0);
  AppendLE32(image, bits <= 8 ? static_cast<uint32_t>(table.size()) : 0);
  AppendLE32(image, 0);
  for (const RGBQUAD& c : table) {
    image.push_back(c.rgbBlue);
    image.push_back(c.rgbGreen);
    image.push_back(c.rgbRed);
    image.push_back(0);
  }
  // XOR rows bottom-up, then AND rows bottom-up (1 where the mask is white).
  for (int y = h - 1; y >= 0; --y) {
    if (monochrome) {
      std::vector<uint8_t> row(static_cast<size_t>(xorRow), 0);
      for (int x = 0; x < w; ++x)
        if (bmpcodec::PixelAt(mv, x, h + y).r >= 128) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      image.insert(image.end(), row.begin(), row.end());
    } else {
      const uint8_t* src = static_cast<const uint8_t*>(color.ScanLine(y));
      image.insert(image.end(), src, src + xorRow);
    }
  }
  for (int y = h - 1; y >= 0; --y) {
    std::vector<uint8_t> row(static_cast<size_t>(andRow), 0);
    for (int x = 0; x < w; ++x)
      if (bmpcodec::PixelAt(mv, x, y).r >= 128) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    image.insert(image.end(), row.begin(), row.end());
  }
  std::vector<uint8_t> file;
  AppendLE16(file, 0);
  AppendLE16(file, 1);
  AppendLE16(file, 1);
  file.push_back(static_cast<uint8_t>(w >= 256 ? 0 : w));
  file.push_back(static_cast<uint8_t>(h >= 256 ? 0 : h));
  file.push_back(static_cast<uint8_t>(bits < 8 ? 1u << bits : 0));
  file.push_back(0);
  AppendLE16(file, 1);
  AppendLE16(file, static_cast<uint32_t>(bits));
  AppendLE32(file, static_cast<uint32_t>(image.size()));
  AppendLE32(file, 22);
  file.insert(file.end(), image.begin(), image.end());
  stream.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
}
