#pragma once
// Adds the specialised formats (DICOM, JP2, J2K, Camera RAW, HD Photo) to the
// input/output component's format list, each in its place in the registry,
// and the JPEG 2000 codec's shutdown to the library's; call after
// RegisterFormatFilters and before LibraryStaticInit.
void RegisterSpecialFormats();
// Adds the descriptors of the formats this layer defines (HD Photo) to the
// installed list; part of RegisterSpecialFormats.
void AddSpecialFormatDescriptors();
