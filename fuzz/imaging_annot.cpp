// Feeds arbitrary bytes to the annotation parser, then writes what it read.
#include <cstddef>
#include <cstdint>

#include "imaging/io/imaging_annot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TIEImagingAnnot annot;
  LoadImagingAnnot(annot, data, int64_t(size));
  const std::vector<uint8_t> block = SaveImagingAnnot(annot);
  TIEImagingAnnot back;
  LoadImagingAnnot(back, block.data(), int64_t(block.size()));
  return 0;
}
