#pragma once
// The formats of the library, one descriptor each, and the one registration
// call of this folder.
#include <vector>

#include "imaging/io/format_descriptor.h"

// Every format's descriptor, in the registry's order (which is also the order
// in which suffixes are searched).
std::vector<TIEFormatDescriptor> FormatFilterList();

// Installs the list into the input/output component, fills the hooks this
// folder serves and puts the component's start-up into the library's. A
// program calls it once, before LibraryStaticInit.
void RegisterFormatFilters();
