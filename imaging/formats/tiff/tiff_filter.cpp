#include "imaging/formats/tiff/tiff_filter.h"

#include "imaging/formats/tiff/tiff_reader.h"
#include "imaging/formats/tiff/tiff_writer.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

namespace {

void ReadTIFFFormat(TIEFormatReadArgs& a) {
  int pages = 0;
  TIEBitmap* bitmap = a.ParamsOnly ? nullptr : a.Bitmap;
  ReadTIFFStream(bitmap, a.Stream, pages, a.Params, a.Progress, a.ParamsOnly, a.AlphaMask, a.FromPosition, a.ParamsOnly,
                 false, false, nullptr);
  a.Params.TiffImageCount = pages;
}

void WriteTIFFFormat(TIEFormatWriteArgs& a) { WriteTIFFStream(a.Stream, false, &a.Bitmap, a.Progress, a.Params); }

bool ProbeTIFF(TStream& s) {
  const int64_t start = s.Position();
  if (!IsTIFFStream(s)) return false;
  s.SetPosition(start);
  return !IsRawTIFFStream(s);
}

}  // namespace

TIEFormatDescriptor TIFFFormat() {
  return {
      .FileType = ioTIFF,
      .FullName = "TIFF Bitmap",
      .Suffixes = "TIF;TIFF;FAX;G3N;G3F;XIF",
      .Access = ieaReadWrite,
      .DialogPage = iedpTIFF,
      .Probe = ProbeTIFF,
      .ProbeOrder = 20,
      .Read = ReadTIFFFormat,
      .ReadParams = ReadTIFFFormat,
      .Write = WriteTIFFFormat,
      .LoadOptions = {ielAlphaFromMask, ielFixDPI, ielAdjustDPI, ielSyncView, ielResetMetadata},
      .LoadOpenFailure = ieofKeepFlag,
      .FileReadBuffer = 8192,
      .StreamReadBuffer = 8192,
      .SaveOrder = 70,
      .SaveSuffixes = "TIF;TIFF;FAX;G3F;G3N",
      .StreamTag = "TIFF",
  };
}
