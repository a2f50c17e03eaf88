// Metafile import: a framework metafile rendered into the working bitmap at a
// chosen size over the background colour, and, when asked, rendered a second
// time over a marker colour so that what the drawing did not cover becomes
// transparent.
#include <algorithm>
#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_dib_bitmap.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/exceptions.h"

namespace {

// Red 3, green 2, blue 1: a colour drawings hardly use, whose pixels after the
// second rendering mark what the metafile left alone.
constexpr COLORREF kMarker = 0x010203;

void FillAndPlay(TIEDibbitmap& dib, TMetafile& metafile, COLORREF background) {
  HBRUSH brush = CreateSolidBrush(background);
  RECT all{0, 0, dib.Width(), dib.Height()};
  FillRect(dib.DC(), &all, brush);
  DeleteObject(brush);
  PlayEnhMetaFile(dib.DC(), metafile.Handle(), &all);
}

void SetMetafileParams(TIOParamsVals& p, bool enhanced, int width, int height) {
  p.FileName.clear();
  p.FileType = enhanced ? ioEMF : ioWMF;
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 3;
  p.Width = p.StoredWidth = width;
  p.Height = p.StoredHeight = height;
  p.SetDpiX(gDefaultDPIX);
  p.SetDpiY(gDefaultDPIY);
  p.FreePalette();
}

}  // namespace

void TImageLibIO::RenderMetafile(TMetafile* metafile, int width, bool withAlpha, int height) {
  FAborting = false;
  if (!metafile || metafile->Empty() || metafile->Width() == 0 || metafile->Height() == 0) {
    FAborting = true;
    return;
  }
  // A size of 0 asks for nothing to be drawn: that is a failure, not a success.
  if (width == 0 || height == 0) {
    FAborting = true;
    return;
  }
  if (!PrepareBitmap()) return;
  FParams->ResetMetadata();
  const int64_t mw = metafile->Width(), mh = metafile->Height();
  int64_t w = mw, h = mh;
  if (width >= 1 && height >= 1) {
    w = width;
    h = height;
  } else if (width < 0 && height >= 1) {
    h = height;
    w = h * mw / mh;
  } else if (height < 0 && width >= 1) {
    w = width;
    h = mh * w / mw;
  }
  const int64_t limit = std::max<int32_t>(IEMetafileSizeLimit, 1);
  if (w > limit || h > limit) {
    if (w < h) {
      w = w * limit / h;
      h = limit;
    } else {
      h = h * limit / w;
      w = limit;
    }
  }
  w = std::max<int64_t>(w, 1);
  h = std::max<int64_t>(h, 1);
  TIEDibbitmap dib;
  if (!dib.AllocateDIB(static_cast<int>(w), static_cast<int>(h), 24)) {
    FAborting = true;
    return;
  }
  SetMetafileParams(*FParams, metafile->Enhanced(), static_cast<int>(w), static_cast<int>(h));
  SyncViewDPI();
  FillAndPlay(dib, *metafile, static_cast<COLORREF>(Background()) & 0xFFFFFF);
  FIEBitmap->CopyFromDibbitmap(&dib);
  FIEBitmap->RemoveAlphaChannel(false);
  if (withAlpha) {
    FillAndPlay(dib, *metafile, kMarker);
    TIEBitmap* alpha = FIEBitmap->AlphaChannel();
    bool full = true;
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = dib.ScanLine(y);
      uint8_t* a = alpha->ScanLine(y);
      for (int x = 0; x < w; ++x, row += 3) {
        const bool untouched = row[0] == 1 && row[1] == 2 && row[2] == 3;
        a[x] = untouched ? 0 : 255;
        full = full && !untouched;
      }
    }
    alpha->SetFull(full);
  }
  UpdateAttached();
}

void TImageLibIO::ReadMetafileParams(TStream& stream) {
  TMetafile metafile;
  try {
    metafile.LoadFromStream(stream);
  } catch (const Exception&) {
    FAborting = true;
    return;
  }
  SetMetafileParams(*FParams, metafile.Enhanced(), metafile.Width(), metafile.Height());
}
