// libFuzzer target: the PE resource reader must refuse any image with an
// exception of its own and never read outside it.
#include <cstddef>
#include <cstdint>

#include "icons/pe_module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    TPEResourceModule module;
    module.ParseImage(data, size);
  } catch (const Exception&) {
  }
  return 0;
}
