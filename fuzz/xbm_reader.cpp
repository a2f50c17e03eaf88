// Feeds arbitrary text to the XBM reader through a file, as the picture
// registry does: it must load or raise its own error.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "pictures/xpm/xpm_image.h"
#include "platform/rtl/exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/fuzz_xbm_" + std::to_string(getpid()) + ".xbm";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  TXBMImage picture;
  try {
    picture.LoadFromFile(path);
  } catch (const Exception&) {
  }
  return 0;
}
