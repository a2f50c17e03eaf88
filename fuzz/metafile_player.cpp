// Feeds arbitrary bytes to the metafile code: loaded as an enhanced or Windows
// metafile (the first byte chooses how), played into 256 x 256, converted
// between the two formats, drawn at 32 bits and probed by the content tests.
// Nothing may read or write out of bounds, hang or allocate without bound.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/toolbox/shadows_metafile.h"
#include "imaging/formats/metafile_probes.h"
#include "platform/graphics/graphics.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

namespace {

void Play(HENHMETAFILE h) {
  BITMAPINFO info{};
  info.bmiHeader.biWidth = 256;
  info.bmiHeader.biHeight = 256;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bmp);
  RECT r{0, 0, 256, 256};
  PlayEnhMetaFile(dc, h, &r);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bmp);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;
  {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    IsWMFStream(s);
    IsEMFStream(s);
  }
  if (mode & 1) {
    // Straight to the handles, without the picture's own checks.
    if (HENHMETAFILE h = SetEnhMetaFileBits(static_cast<UINT>(size), data)) {
      Play(h);
      UINT n = GetWinMetaFileBits(h, 0, nullptr, MM_ANISOTROPIC, nullptr);
      std::vector<uint8_t> wmf(n);
      if (n && GetWinMetaFileBits(h, n, wmf.data(), MM_ANISOTROPIC, nullptr)) {
        METAFILEPICT pict{MM_ANISOTROPIC, 2000, 1000, nullptr};
        if (HENHMETAFILE back = SetWinMetaFileBits(n, wmf.data(), nullptr, &pict)) DeleteEnhMetaFile(back);
      }
      DeleteEnhMetaFile(h);
    }
    if (HENHMETAFILE h = SetWinMetaFileBits(static_cast<UINT>(size), data, nullptr, nullptr)) {
      Play(h);
      DeleteEnhMetaFile(h);
    }
    return 0;
  }
  TMetafile picture;
  try {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    picture.LoadFromStream(s);
  } catch (const Exception&) {
    return 0;
  }
  Play(picture.Handle());
  TBitmap small;
  MetafileToBitmap32(&picture, &small, 16, 16);
  TMemoryStream out;
  picture.SaveToStream(out);
  picture.SetEnhanced(!picture.Enhanced());
  picture.SaveToStream(out);
  return 0;
}
