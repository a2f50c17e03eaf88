#include "imaging/special/special_formats.h"

#include "imaging/core/ie_startup.h"
#include "imaging/io/format_descriptor.h"
#include "imaging/special/dicom/dicom_reader.h"
#include "imaging/special/jpeg2000/j2000_filter.h"
#include "imaging/special/raw/raw_reader.h"
#include "imaging/special/wic/wic_codec.h"

void RegisterSpecialFormats() {
  AddSpecialFormatDescriptors();
  SetLibraryStartupStep(iessJ2000Codec, nullptr, DoneJ2000Codec);
}

void AddSpecialFormatDescriptors() {
  // Each stands where the registry has always listed it; a second
  // registration replaces the entry.
  RegisterFormatDescriptor(DICOMFormat(), ioWMF);
  RegisterFormatDescriptor(JP2Format(), ioPS);
  RegisterFormatDescriptor(J2KFormat(), ioPS);
  RegisterFormatDescriptor(CameraRawFormat(), ioPSD);
  // HD Photo closes the list.
  std::vector<TIEFormatDescriptor>& list = FormatDescriptors();
  if (TIEFormatDescriptor* d = FindFormatDescriptor(ioHDP))
    *d = HDPhotoFormat();
  else
    list.push_back(HDPhotoFormat());
}
