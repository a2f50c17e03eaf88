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

// The formats layer's descriptors with those the specialised layer adds
// (RegisterSpecialFormats), in the order the library lists them.
inline std::vector<TIEFormatDescriptor> AllFormats() {
  const std::vector<TIEFormatDescriptor> saved = FormatDescriptors();
  InstallFormatDescriptors(FormatFilterList());
  AddSpecialFormatDescriptors();
  std::vector<TIEFormatDescriptor> list = FormatDescriptors();
  FormatDescriptors() = saved;
  return list;
}

// Installs every format's descriptor, as the library's start-up does.
inline void InstallAllFormats() { InstallFormatDescriptors(AllFormats()); }

// Installs the formats' descriptors and builds the registry (as the library's
// start-up does) unless they stand, also when a test of the start-up sequence
// has taken the registry down.
inline void EnsureImageIO() {
  if (FormatDescriptors().empty()) InstallFormatDescriptors(FormatFilterList());
  // A test that installed the formats layer's list alone leaves the
  // specialised formats out.
  if (FindFormatDescriptor(ioHDP) == nullptr) {
    AddSpecialFormatDescriptors();
    if (FileFormatCount() != 0) InitImageIO();
  }
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

// Takes the content tests of every format away, so a test decides detection
// through the readers it stubs.
inline void ClearFormatProbes() {
  for (TIEFormatDescriptor& d : FormatDescriptors()) d.Probe = nullptr;
}

}  // namespace qvtest
