#include "imaging/io/ie_filters.h"

TIEFilterSlots& IEFilters() {
  static TIEFilterSlots slots;
  return slots;
}
