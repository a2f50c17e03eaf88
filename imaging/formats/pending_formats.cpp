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

template <int CodeStream>
void WriteJ2000Format(TIEFormatWriteArgs& a) {
  const auto& write = Hooks().WriteJ2000Stream;
  if (!write) return a.Progress.Abort();
  write(a.Stream, a.Bitmap, a.Params, CodeStream, a.Progress);
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

TIEFormatDescriptor DICOMFormat() {
  return {
      .FileType = ioDICOM,
      .FullName = "DICOM Bitmap",
      .Suffixes = "DCM;DIC;DICOM;V2",
      .Access = ieaRead,
      .Probe = ProbeBySlot<&TIEFilterSlots::IsDICOMStream>,
      .ProbeOrder = 40,
      .Read = ReadSpecialFormat<&TIEFilterSlots::ReadDICOMStream>,
      .ReadParams = ReadSpecialFormat<&TIEFilterSlots::ReadDICOMStream>,
      .LoadOptions = {ielResetMetadata},
  };
}

TIEFormatDescriptor JP2Format() {
  return {
      .FileType = ioJP2,
      .FullName = "JPEG2000",
      .Suffixes = "JP2",
      .Access = ieaReadWrite,
      .DialogPage = iedpJ2000,
      .Probe = ProbeBySlot<&TIEFilterSlots::IsJP2Stream>,
      .ProbeOrder = 90,
      .Read = ReadSpecialFormat<&TIEFilterSlots::ReadJ2000Stream>,
      .ReadParams = ReadSpecialFormat<&TIEFilterSlots::ReadJ2000Stream>,
      .Write = WriteJ2000Format<0>,
      .SaveOptions = {iesConvert24},
      .SaveOrder = 20,
      .SaveSuffixes = "JP2",
  };
}

TIEFormatDescriptor J2KFormat() {
  return {
      .FileType = ioJ2K,
      .FullName = "JPEG2000 Code Stream",
      .Suffixes = "J2K;JPC;J2C",
      .Access = ieaReadWrite,
      .DialogPage = iedpJ2000,
      .Probe = ProbeBySlot<&TIEFilterSlots::IsJ2KStream>,
      .ProbeOrder = 100,
      .Read = ReadSpecialFormat<&TIEFilterSlots::ReadJ2000Stream>,
      .ReadParams = ReadSpecialFormat<&TIEFilterSlots::ReadJ2000Stream>,
      .Write = WriteJ2000Format<1>,
      .SaveOptions = {iesConvert24},
      .SaveOrder = 30,
      .SaveSuffixes = "J2K;JPC;J2C",
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
