#include "imaging/formats/pending_formats.h"

#include "imaging/io/ie_filters.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

namespace {

const TIEFilterSlots& Hooks() { return IEFilters(); }

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

