#pragma once
// The TIFF format's registry record: detection (a TIFF that a camera wrote is
// left to the camera raw reader), the reader and the writer.
#include "imaging/io/format_descriptor.h"

TIEFormatDescriptor TIFFFormat();
