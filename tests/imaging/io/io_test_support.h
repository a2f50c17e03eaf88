#pragma once
// Shared set-up of the input/output tests: the format registry exists once per
// test program, and the filter slots are put back after each test that fills them.
#include "imaging/io/file_formats.h"
#include "imaging/io/ie_filters.h"

namespace qvtest {

// Builds the registry (as the library's start-up does) unless it stands, also
// when a test of the start-up sequence has taken it down.
inline void EnsureImageIO() {
  if (FileFormatCount() == 0) InitImageIO();
}

// Keeps the slot table as it was and restores it when the test ends.
class FilterSlotsScope {
public:
  FilterSlotsScope() : FSaved(IEFilters()) {}
  ~FilterSlotsScope() { IEFilters() = FSaved; }

private:
  TIEFilterSlots FSaved;
};

}  // namespace qvtest
