#include "imaging/formats/pending_formats.h"

#include "imaging/io/ie_filters.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

namespace {

const TIEFilterSlots& Hooks() { return IEFilters(); }

// ---- TIFF ----

void ReadTIFFFormat(TIEFormatReadArgs& a) {
  const auto& read = Hooks().ReadTIFFStream;
  if (!read) return a.Progress.Abort();
  int pages = 0;
  TIEBitmap* bitmap = a.ParamsOnly ? nullptr : a.Bitmap;
  read(bitmap, a.Stream, pages, a.Params, a.Progress, a.ParamsOnly, a.AlphaMask, a.FromPosition, a.ParamsOnly, false,
       false, false);
  a.Params.TiffImageCount = pages;
}

void WriteTIFFFormat(TIEFormatWriteArgs& a) {
  const auto& write = Hooks().WriteTIFFStream;
  if (!write) return a.Progress.Abort();
  write(a.Stream, false, &a.Bitmap, a.Progress, a.Params);
}

// A TIFF that a camera wrote is left to the camera RAW reader.
bool ProbeTIFF(TStream& s) {
  const TIEFilterSlots& f = Hooks();
  if (!f.IsTIFFStream) return false;
  const int64_t start = s.Position();
  if (!f.IsTIFFStream(s)) return false;
  s.SetPosition(start);
  return !(f.IsRawTIFFStream && f.IsRawTIFFStream(s));
}

// ---- GIF ----

void ReadGIFFormat(TIEFormatReadArgs& a) {
  const auto& read = Hooks().ReadGIFStream;
  if (!read) return a.Progress.Abort();
  int frames = 0;
  read(a.Stream, *a.Bitmap, frames, false, a.AlphaMask, a.ParamsOnly, a.Progress, a.Params);
  if (!a.ParamsOnly) a.Params.GifImageCount = frames;
}

void WriteGIFFormat(TIEFormatWriteArgs& a) {
  const auto& write = Hooks().WriteGIFStream;
  if (!write) return a.Progress.Abort();
  write(a.Stream, a.Bitmap, a.Params, a.Progress);
}

// ---- the specialised readers ----

using TSpecialSlot = TIEFilterSlots::TSpecialReader TIEFilterSlots::*;

template <TSpecialSlot Slot>
void ReadSpecialFormat(TIEFormatReadArgs& a) {
  const auto& read = Hooks().*Slot;
  if (!read) return a.Progress.Abort();
  read(a.Stream, a.Bitmap, a.Params, a.ParamsOnly, a.Progress);
}

using TWriterSlot = TIEFilterSlots::TSimpleWriter TIEFilterSlots::*;

template <TWriterSlot Slot>
void WriteSimpleFormat(TIEFormatWriteArgs& a) {
  const auto& write = Hooks().*Slot;
  if (!write) return a.Progress.Abort();
  write(a.Stream, a.Bitmap, a.Params, a.Progress);
}

using TTestSlot = TIEStreamTest TIEFilterSlots::*;

template <TTestSlot Slot>
bool ProbeBySlot(TStream& s) {
  const auto& test = Hooks().*Slot;
  return test && test(s);
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

TIEFormatDescriptor GIFFormat() {
  return {
      .FileType = ioGIF,
      .FullName = "CompuServe Bitmap",
      .Suffixes = "GIF",
      .Access = ieaReadWrite,
      .DialogPage = iedpGIF,
      .Read = ReadGIFFormat,
      .ReadParams = ReadGIFFormat,
      .Write = WriteGIFFormat,
      .LoadOptions = {ielAlphaFromMask, ielFixDPI, ielAdjustDPI, ielResetMetadata},
      .LoadOpenFailure = ieofKeepFlag,
      .SaveOrder = 60,
      .SaveSuffixes = "GIF",
  };
}

TIEFormatDescriptor PSFormat() {
  return {
      .FileType = ioPS,
      .FullName = "PostScript Level 2",
      .Suffixes = "PS;EPS",
      .Access = ieaWrite,
      .Write = WriteSimpleFormat<&TIEFilterSlots::WritePSStream>,
      .SaveOptions = {iesConvert24},
      .SaveOpenFailure = ieofKeepFlag,
      .SaveOrder = 140,
      .SaveSuffixes = "PS;EPS",
  };
}

TIEFormatDescriptor PDFFormat() {
  return {
      .FileType = ioPDF,
      .FullName = "Adobe PDF",
      .Suffixes = "PDF",
      .Access = ieaWrite,
      .Write = WriteSimpleFormat<&TIEFilterSlots::WritePDFStream>,
      .SaveOptions = {iesConvert24},
      .SaveOpenFailure = ieofKeepFlag,
      .SaveOrder = 150,
      .SaveSuffixes = "PDF",
  };
}

// Detection asks the camera test after every other one (format_detect.cpp).
TIEFormatDescriptor CameraRawFormat() {
  return {
      .FileType = ioRAW,
      .FullName = "Camera RAW",
      .Suffixes = "CRW;CR2;NEF;RAW;PEF;RAF;X3F;BAY;ORF;SRF;MRW;DCR;SR2",
      .Access = ieaRead,
      .Read = ReadSpecialFormat<&TIEFilterSlots::ReadCameraRawStream>,
      .ReadParams = ReadSpecialFormat<&TIEFilterSlots::ReadCameraRawStream>,
      .LoadOpenFailure = ieofKeepFlag,
  };
}

TIEFormatDescriptor IEVFormat() {
  return {.FileType = ioIEV, .FullName = "Vectorial objects", .Suffixes = "IEV", .Access = ieaReadWrite,
          .Frame = ieffLayers};
}

TIEFormatDescriptor LYRFormat() {
  return {.FileType = ioLYR, .FullName = "Layers", .Suffixes = "LYR", .Access = ieaReadWrite, .Frame = ieffLayers};
}

TIEFormatDescriptor ALLFormat() {
  return {.FileType = ioALL, .FullName = "Layers and objects", .Suffixes = "ALL", .Access = ieaReadWrite,
          .Frame = ieffLayers};
}

// Listed only where the platform's imaging component is there to read it.
TIEFormatDescriptor HDPFormat() {
  return {
      .FileType = ioHDP,
      .FullName = "Microsoft HD Photo",
      .Suffixes = "WDP;HDP",
      .Access = ieaReadWrite,
      .Available = [] { return Hooks().IsWICAvailable && Hooks().IsWICAvailable(); },
      .Probe = ProbeBySlot<&TIEFilterSlots::IsHDPhotoStream>,
      .ProbeOrder = 10,
      .Read = ReadSpecialFormat<&TIEFilterSlots::ReadHDPhotoStream>,
      .ReadParams = ReadSpecialFormat<&TIEFilterSlots::ReadHDPhotoStream>,
      .Write = WriteSimpleFormat<&TIEFilterSlots::WriteHDPhotoStream>,
      .LoadOpenFailure = ieofKeepFlag,
      .SaveOpenFailure = ieofAbortQuietly,
      .SaveOrder = 170,
      .SaveSuffixes = "HDP;WDP",
  };
}
