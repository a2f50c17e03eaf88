#pragma once
// Shared set-up of the input/output tests: the format list and registry exist
// once per test program, and the filter slots and format descriptors are put
// back after each test that changes them.
#include "imaging/formats/format_filters.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/format_descriptor.h"
#include "imaging/io/ie_filters.h"
#include "imaging/special/special_formats.h"

namespace qvtest {

// Installs the formats' descriptors and builds the registry (as the library's
// start-up does) unless they stand, also when a test of the start-up sequence
// has taken the registry down.
inline void InstallAllFormats() {
  InstallFormatDescriptors(FormatFilterList());
  RegisterSpecialFormats();
}

inline void EnsureImageIO() {
  if (FormatDescriptors().empty()) InstallAllFormats();
  if (FileFormatCount() == 0) InitImageIO();
}

// Keeps the slot table and the descriptor list as they were and restores them
// when the test ends.
class FilterSlotsScope {
public:
  FilterSlotsScope() : FSaved(IEFilters()), FFormats(FormatDescriptors()) {}
  ~FilterSlotsScope() {
    IEFilters() = FSaved;
    FormatDescriptors() = FFormats;
  }

private:
  TIEFilterSlots FSaved;
  std::vector<TIEFormatDescriptor> FFormats;
};

// Takes the content tests of the formats with filters of their own away. The
// formats still read through hooks (TIFF, HD Photo) test through the slots,
// which the caller clears or fills.
inline void ClearFormatProbes() {
  for (TIEFormatDescriptor& d : FormatDescriptors()) {
    const TImageFileType c = d.FileType;
    if (c != ioTIFF && c != ioHDP) d.Probe = nullptr;
  }
}

}  // namespace qvtest
