#pragma once
// The formats whose filters are still to come: their registry entries, the
// input/output frames they take and their readers and writers as hooks that
// other layers fill (ie_filters.h). A format's own filter file replaces its
// record here once it is written (and its line in format_filters.cpp).
#include "imaging/io/format_descriptor.h"

TIEFormatDescriptor TIFFFormat();
TIEFormatDescriptor GIFFormat();
TIEFormatDescriptor PSFormat();
TIEFormatDescriptor PDFFormat();
TIEFormatDescriptor CameraRawFormat();
// Layer and object files, read and written by the views.
TIEFormatDescriptor IEVFormat();
TIEFormatDescriptor LYRFormat();
TIEFormatDescriptor ALLFormat();
TIEFormatDescriptor HDPFormat();
