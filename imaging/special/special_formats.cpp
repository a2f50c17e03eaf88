#include "imaging/special/special_formats.h"

#include "imaging/io/format_descriptor.h"
#include "imaging/io/ie_filters.h"
#include "imaging/special/jpeg2000/j2000_filter.h"
#include "imaging/special/raw/raw_reader.h"
#include "imaging/special/wic/wic_codec.h"

void RegisterSpecialFormats() {
  TIEFilterSlots& f = IEFilters();
  f.IsJP2Stream = IsJP2Stream;
  f.IsJ2KStream = IsJ2KStream;
  f.ReadJ2000Stream = ReadJ2000Stream;
  f.WriteJ2000Stream = WriteJ2000Stream;
  AddSpecialFormatDescriptors();
}

void AddSpecialFormatDescriptors() {
  // Camera RAW stands where the registry has always listed it, before PSD.
  RegisterFormatDescriptor(CameraRawFormat(), ioPSD);
  // HD Photo closes the list; a second registration replaces its entry.
  std::vector<TIEFormatDescriptor>& list = FormatDescriptors();
  if (TIEFormatDescriptor* d = FindFormatDescriptor(ioHDP))
    *d = HDPhotoFormat();
  else
    list.push_back(HDPhotoFormat());
}
