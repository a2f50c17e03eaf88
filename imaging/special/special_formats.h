#pragma once
// Puts the readers and writers of the specialised formats into the
// input/output component's filter slots and format list; call after
// RegisterFormatFilters.
void RegisterSpecialFormats();
// Adds the descriptors of the formats this layer defines (HD Photo) to the
// installed list; part of RegisterSpecialFormats.
void AddSpecialFormatDescriptors();
