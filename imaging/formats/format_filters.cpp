#include "imaging/formats/format_filters.h"

#include "imaging/formats/metafile_probes.h"

#include "imaging/io/file_formats.h"
#include "imaging/io/ie_filters.h"

void RegisterFormatFilters() {
  TIEFilterSlots& slots = IEFilters();
  (void)slots;
  // Each filter family fills its own slots here, one line a family.
  RegisterMetafileProbes();
  InstallImageIOStartup();
}
