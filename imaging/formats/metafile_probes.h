#pragma once
// Content tests that let format detection recognise Windows metafiles (placeable
// or plain) and enhanced metafiles. The metafiles themselves are rendered by the
// input and output component through the framework's metafile picture.
class TStream;

// True when an enhanced metafile header stands at the position (record type 1,
// " EMF" at offset 40); the position is restored.
bool IsEMFStream(TStream& stream);
// True when a Windows metafile header stands at the position, with or without
// the 22-byte placeable header; the position is restored.
bool IsWMFStream(TStream& stream);

// Puts both tests into the detection slots of the input and output component.
void RegisterMetafileProbes();
