#pragma once
// Which format a stream or a named file holds: by content first and, for
// files, reconciled with the suffix.
#include <string>

#include "imaging/io/io_types.h"

class TStream;

// The format of the data at the stream's position, 0 when nothing matches. The
// position is restored on every path; nothing raises out of it.
TImageFileType DetectStreamFileType(TStream& stream);
// By content and suffix; 0 for an empty name, a missing file or, with verify,
// a suffix that disagrees with the content. Never raises.
TImageFileType DetectFileTypeByName(const std::wstring& fileName, bool verify);
TImageFileType DetectFileTypeByName(const std::string& fileName, bool verify);
// "RIFF", four bytes, "AVI "; the position is restored.
bool IsAVIStream(TStream& stream);

// Text of a name as the file system spells it, and back.
std::wstring UTF8ToWide(const std::string& text);
// The lower-cased extension with its dot ("" when the name has none).
std::string LowerExtension(const std::wstring& fileName);
