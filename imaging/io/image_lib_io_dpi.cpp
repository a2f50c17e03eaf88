// Square pixels from a picture whose horizontal and vertical resolutions differ.
#include <cmath>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_pixel_convert.h"
#include "imaging/core/ie_resample.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"

namespace {

// The new size: the shorter side is rescaled to the resolution of the other
// (cut toward zero, in extended precision).
void SquareSize(int w, int h, int dx, int dy, int& newW, int& newH, int& newDpi) {
  newW = w;
  newH = h;
  if (h < w) {
    newH = static_cast<int>(std::trunc(static_cast<long double>(h) / dy * dx));
    newDpi = dx;
  } else {
    newW = static_cast<int>(std::trunc(static_cast<long double>(w) / dx * dy));
    newDpi = dy;
  }
}

// A new bitmap of the given size holding the picture stretched into it.
std::unique_ptr<TIEBitmap> Stretched(TIEBitmap& source, int w, int h, bool filtered) {
  std::unique_ptr<TIEBitmap> result;
  if (filtered) {
    result = std::make_unique<TIEBitmap>(w, h, ie24RGB);
    if (source.PixelFormat() != ie24RGB) {
      TIEBitmap rgb(source.Width(), source.Height(), ie24RGB);
      ConvertBitmapPixels(source, rgb);
      ResampleEx(&rgb, result.get(), nullptr, nullptr, nullptr, rfFastLinear);
    } else {
      ResampleEx(&source, result.get(), nullptr, nullptr, nullptr, rfFastLinear);
    }
  } else {
    result = std::make_unique<TIEBitmap>(w, h, source.PixelFormat());
    IEBmpStretchEx(&source, result.get());
  }
  return result;
}

}  // namespace

void TImageLibIO::AdjustDPI() {
  if (!PrepareBitmap()) return;
  TIOParamsVals& p = *FParams;
  const int dx = p.DpiX, dy = p.DpiY;
  if (dx == dy || dx <= 0 || dy <= 0 || FIEBitmap->Width() <= 0 || FIEBitmap->Height() <= 0 || p.Width <= 0 ||
      p.Height <= 0)
    return;
  int w = 0, h = 0, dpi = 0;
  SquareSize(p.Width, p.Height, dx, dy, w, h, dpi);
  if (w <= 0 || h <= 0) return;
  // Written directly: the view takes the resolution when the frame syncs it.
  p.DpiX = p.DpiY = dpi;
  p.Width = w;
  p.Height = h;
  std::unique_ptr<TIEBitmap> alpha;
  if (FIEBitmap->HasAlphaChannel()) alpha = TIEBitmap::CreateCopy(*FIEBitmap->AlphaChannel());
  std::unique_ptr<TIEBitmap> result = Stretched(*FIEBitmap, w, h, FilteredAdjustDPI);
  FIEBitmap->Assign(result.get());
  if (alpha) IEBmpStretchEx(alpha.get(), FIEBitmap->AlphaChannel());
}

std::unique_ptr<TIEBitmap> ResampleToSquareDPI(TIEBitmap& bitmap, TIOParamsVals& params, bool filtered) {
  const int dx = params.DpiX, dy = params.DpiY;
  if (dx == dy || dx <= 0 || dy <= 0 || bitmap.IsEmpty()) return nullptr;
  int w = 0, h = 0, dpi = 0;
  SquareSize(bitmap.Width(), bitmap.Height(), dx, dy, w, h, dpi);
  if (w <= 0 || h <= 0) return nullptr;
  params.SetDpiX(dpi);
  params.SetDpiY(dpi);
  return Stretched(bitmap, w, h, filtered);
}
