#pragma once
// Content tests that let format detection recognise Windows metafiles (placeable
// or plain) and enhanced metafiles. The metafiles themselves are rendered by the
// input and output component through the framework's metafile picture.
#include "imaging/io/format_descriptor.h"

class TStream;

// True when an enhanced metafile header stands at the position (record type 1,
// " EMF" at offset 40); the position is restored.
bool IsEMFStream(TStream& stream);
// True when a Windows metafile header stands at the position, with or without
// the 22-byte placeable header; the position is restored.
bool IsWMFStream(TStream& stream);

// The Windows Metafile and Enhanced Windows Metafile formats: the component
// renders them itself; these records give the registry and detection.
TIEFormatDescriptor WMFFormat();
TIEFormatDescriptor EMFFormat();
