#include "imaging/special/special_formats.h"

#include "imaging/core/ie_startup.h"
#include "imaging/io/format_descriptor.h"
#include "imaging/special/dicom/dicom_reader.h"
#include "imaging/special/jpeg2000/j2000_filter.h"

void RegisterSpecialFormats() {
  AddFormatDescriptor(DICOMFormat(), ioPNG);
  AddFormatDescriptor(JP2Format(), ioWBMP);
  AddFormatDescriptor(J2KFormat(), ioJP2);
  SetLibraryStartupStep(iessJ2000Codec, nullptr, DoneJ2000Codec);
}
