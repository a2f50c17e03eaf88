// libFuzzer target: the PE resource reader must refuse any image with an
// exception of its own and never read outside it; what it reads must list its
// icon groups and write back (or refuse to) just as safely.
#include <cstddef>
#include <cstdint>

#include "icons/graphics_resources.h"
#include "icons/module_readers.h"
#include "icons/pe_module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RegisterGraphicsResourceClasses();
  TPEResourceModule module;
  try {
    module.ParseImage(data, size);
  } catch (const Exception&) {
    return 0;
  }
  TIconList icons;
  ReadPEIconGroups(module, icons);
  try {
    TMemoryStream out;
    module.SaveToStream(out);
  } catch (const Exception&) {
  }
  return 0;
}
