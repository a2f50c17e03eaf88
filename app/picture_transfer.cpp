#include "app/picture_transfer.h"

#include <cstring>

#include "base/toolbox/bitmap_fix32.h"
#include "icons/advanced_icon.h"
#include "icons/sub_icon_render.h"
#include "pictures/png/png_image.h"

void IEBitmapToBitmap32(TIEBitmap& source, TBitmap& target) {
  if (!source.HasAlphaChannel() || source.IsEmpty()) {
    source.CopyToTBitmap(target);
    return;
  }
  const int w = source.Width(), h = source.Height();
  // Colour through the framework copy, so that every library format is read.
  source.CopyToTBitmap(target);
  if (target.PixelFormat() != pf24bit) target.SetPixelFormat(pf24bit);
  TBitmap colour;
  colour.Assign(&target);
  target.SetPixelFormat(pf32bit);
  target.SetSize(w, h);
  TIEBitmap* alpha = source.AlphaChannel();
  bool anyAlpha = false;
  for (int y = 0; y < h && !anyAlpha; ++y) {
    const uint8_t* a = alpha->ScanLine(y);
    for (int x = 0; x < w; ++x) anyAlpha = anyAlpha || a[x] != 0;
  }
  for (int y = 0; y < h; ++y) {
    const auto* c = static_cast<const uint8_t*>(colour.ScanLine(y));
    const uint8_t* a = alpha->ScanLine(y);
    auto* t = static_cast<uint8_t*>(target.ScanLine(y));
    for (int x = 0; x < w; ++x) {
      t[x * 4] = c[x * 3], t[x * 4 + 1] = c[x * 3 + 1], t[x * 4 + 2] = c[x * 3 + 2];
      t[x * 4 + 3] = anyAlpha ? a[x] : 255;
    }
  }
}

TBitmap* SharedFrameworkBitmap(TIEBitmap& picture) {
  if (picture.IsEmpty() || picture.HasAlphaChannel() || picture.PixelFormat() != ie24RGB ||
      picture.Location() != ieTBitmap)
    return nullptr;
  TBitmap* bitmap = picture.VclBitmap();
  return bitmap && bitmap->PixelFormat() == pf24bit && bitmap->Width() == picture.Width() &&
                 bitmap->Height() == picture.Height()
             ? bitmap
             : nullptr;
}

void Bitmap32ToIEBitmap(TBitmap& source, TIEBitmap& target) {
  if (source.PixelFormat() != pf32bit || source.Width() <= 0 || source.Height() <= 0) {
    target.CopyFromTBitmap(source);
    return;
  }
  const int w = source.Width(), h = source.Height();
  target.Allocate(w, h, ie24RGB);
  TIEBitmap* alpha = target.AlphaChannel();
  alpha->Allocate(w, h, ie8g);
  bool anyAlpha = false;
  for (int y = 0; y < h; ++y) {
    const auto* s = static_cast<const uint8_t*>(source.ScanLine(y));
    uint8_t* c = target.ScanLine(y);
    uint8_t* a = alpha->ScanLine(y);
    for (int x = 0; x < w; ++x) {
      c[x * 3] = s[x * 4], c[x * 3 + 1] = s[x * 4 + 1], c[x * 3 + 2] = s[x * 4 + 2];
      a[x] = s[x * 4 + 3];
      anyAlpha = anyAlpha || a[x] != 0;
    }
  }
  if (!anyAlpha)
    for (int y = 0; y < h; ++y) std::memset(alpha->ScanLine(y), 255, size_t(w));
  alpha->SetFull(!anyAlpha);
  if (anyAlpha) alpha->CheckFull();
}

bool IconToPngStream(TAdvancedIcon& icon, TStream& stream) {
  TSubIcon* image = icon.GetBestImage(48, 48, 32);
  if (!image) return false;
  TPNGImage png;
  AssignToPNG(*image, png);
  png.SaveToStream(stream);
  return true;
}

void PictureToBmpStream(TGraphic* picture, TStream& stream) {
  TBitmapFix32 bitmap;
  bitmap.Assign(picture);
  bitmap.SaveToStream(stream);
}
