#include "imaging/formats/pending_formats.h"

// Layer and object files carry no reader here: the input/output component
// hands them to a view (or a temporary one) that reads its own layers.

TIEFormatDescriptor IEVFormat() {
  return {.FileType = ioIEV, .FullName = "Vectorial objects", .Suffixes = "IEV", .Access = ieaReadWrite,
          .Frame = ieffLayers};
}

TIEFormatDescriptor LYRFormat() {
  return {.FileType = ioLYR, .FullName = "Layers", .Suffixes = "LYR", .Access = ieaReadWrite, .Frame = ieffLayers};
}

TIEFormatDescriptor ALLFormat() {
  return {.FileType = ioALL, .FullName = "Layers and objects", .Suffixes = "ALL", .Access = ieaReadWrite,
          .Frame = ieffLayers};
}
