#pragma once
// The registry entries of the layer and object files, which the views read
// and write themselves.
#include "imaging/io/format_descriptor.h"

// Layer and object files, read and written by the views.
TIEFormatDescriptor IEVFormat();
TIEFormatDescriptor LYRFormat();
TIEFormatDescriptor ALLFormat();
