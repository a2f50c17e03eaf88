#include "base/toolbox/bitmap_fix32.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/toolbox/bitmap_utils.h"
#include "platform/graphics/bmp_codec.h"
#include "platform/graphics/dib_header.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/win/clipboard.h"
#include "platform/win/system_info.h"

void TBitmapFix32::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  BITMAPFILEHEADER file;
  if (stream.Read(&file, sizeof(file)) != sizeof(file) || file.bfType != 0x4D42)
    throw bmpcodec::EBitmapRefused(drNotBitmap);
  uint8_t prefix[kDibPrefixBytes];
  const int64_t got = std::max<int64_t>(stream.Read(prefix, sizeof prefix), 0);
  TDibHeader h;
  if (const TDibRefusal reason = ReadDibHeader(prefix, static_cast<size_t>(got), h); reason != drNone)
    throw bmpcodec::EBitmapRefused(reason);
  // What follows the headers: the masks and colour table the header declares.
  int64_t pixelStart = start + 14 + static_cast<int64_t>(h.BitsOffset());
  int64_t available = stream.Size() - pixelStart;
  const bool trim = h.bitCount == 32 && (h.compression == BI_RGB || h.compression == BI_BITFIELDS);
  if (trim) {
    // The pixels start where the file header says, when that lies past the headers.
    const int64_t declared = start + file.bfOffBits;
    if (file.bfOffBits >= 14 + h.size && declared <= stream.Size()) {
      available -= declared - pixelStart;
      pixelStart = declared;
    }
    const int64_t needed = DibRowBytes(h.width, 32) * h.Rows();
    const int64_t imageSize = h.sizeImage ? h.sizeImage : needed;
    available = std::min(available, imageSize);
    if (needed > 0 && available > needed) {
      TMemoryStream exact;
      stream.SetPosition(start);
      exact.CopyFrom(stream, pixelStart + needed - start);
      exact.SetPosition(0);
      TBitmap::LoadFromStream(exact);
      stream.SetPosition(pixelStart + available);
      if (PixelFormat() == pf32bit) FixZeroAlpha(this);
      return;
    }
  }
  stream.SetPosition(start);
  TBitmap::LoadFromStream(stream);
  if (PixelFormat() == pf32bit) FixZeroAlpha(this);
}

void TBitmapFix32::SaveToStream(TStream& stream) {
  if (PixelFormat() != pf32bit) {
    TBitmap::SaveToStream(stream);
    return;
  }
  const int w = Width(), h = Height();
  const uint32_t image = static_cast<uint32_t>(w) * static_cast<uint32_t>(h) * 4;
  BITMAPFILEHEADER file;
  file.bfSize = image + 54;
  file.bfOffBits = 54;
  BITMAPINFOHEADER info;
  info.biWidth = w;
  info.biHeight = h;
  info.biBitCount = 32;
  info.biSizeImage = image;
  stream.WriteBuffer(&file, sizeof(file));
  stream.WriteBuffer(&info, sizeof(info));
  if (image) stream.WriteBuffer(Block32(this), image);
}

THiResIcon::THiResIcon()
    : FTrueWidth(GetSystemMetrics(SM_CXICON)), FTrueHeight(GetSystemMetrics(SM_CYICON)) {}

void THiResIcon::Changed(TObject* sender) {
  TIcon::Changed(sender);
  FReadSize = true;
}

void THiResIcon::UpdateTrueSize() {
  if (!FReadSize) return;
  FReadSize = false;
  ICONINFO info{};
  if (!GetIconInfo(Handle(), &info)) return;
  BITMAP bm{};
  const bool ok = (info.hbmColor && GetObject(info.hbmColor, sizeof(bm), &bm)) ||
                  (info.hbmMask && GetObject(info.hbmMask, sizeof(bm), &bm));
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  // Icons are square: a monochrome icon's double-height mask must not double it.
  if (ok) FTrueWidth = FTrueHeight = bm.bmWidth;
}

int THiResIcon::GetWidth() {
  UpdateTrueSize();
  return FTrueWidth;
}

int THiResIcon::GetHeight() {
  UpdateTrueSize();
  return FTrueHeight;
}

void THiResIcon::Draw(TCanvas* canvas, const TRect& rect) {
  UpdateTrueSize();
  if (canvas && canvas->Handle())
    DrawIconEx(canvas->Handle(), rect.left, rect.top, Handle(), FTrueWidth, FTrueHeight, 0, nullptr, DI_NORMAL);
}

TBitmap* SharedDrawBitmap() {
  static const std::unique_ptr<TBitmap> bitmap = [] {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    return b;
  }();
  return bitmap.get();
}

void RegisterBitmapFix32() {
  TPicture::RegisterFileFormat("BMP", "Bitmap", TGraphicClass::Of<TBitmapFix32>());
  TPicture::RegisterClipboardFormat(CF_BITMAP, TGraphicClass::Of<TBitmapFix32>());
}
