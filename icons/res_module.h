#pragma once
// 32-bit resource files (.RES, what a resource compiler writes) as a resource
// module, and the import of their icons, cursors and bitmaps into icon and
// cursor libraries; a 16-bit component resource file (DCR) whose first
// resource is a bitmap imports as one icon.
#include <cstdint>
#include <string>

#include "icons/pe_module.h"
#include "icons/resource_model.h"

class TIconLibrary;
class TCursorLibrary;

// The resources of a container that keeps them in a plain owning list.
class TResourceList : public TResourceListOf<TResourceModule> {};

// What a RES entry the reader cannot follow raises: the user sees "RES entry
// lies outside the file", a test asks which rule refused it.
class EResEntryRefused : public ERefused<Exception> {
public:
  explicit EResEntryRefused(const char* reason) : ERefused("RES entry lies outside the file", reason) {}
};

class TResModule : public TResourceList {
public:
  // Reads the entries from the stream's position to its end, replacing the
  // list. An entry whose sizes point outside the data ends the reading with an
  // exception; the entries before it stay in the list.
  void LoadFromStream(TStream& stream) override;
  // Writes the leading empty entry (unless the file read had none) and every
  // resource. Numeric names up to 65535 are written as ordinals, every other
  // name as text.
  void SaveToStream(TStream& stream) override;
  bool NoLeadingEntry() const { return FNoLeadingEntry; }

private:
  bool FNoLeadingEntry = false;
};

// The icons (from icon and cursor groups, stray images and bitmaps) of a RES
// stream added to the library; true when at least one was added.
bool ImportResStreamIcons(TStream& stream, TIconLibrary& library);
bool ImportResStreamCursors(TStream& stream, TCursorLibrary& library);
// A RES file (or, for icons, a DCR file) added to a library. Files shorter than
// 76 bytes hold nothing to import; a missing file raises the file-open error.
void ImportResIcons(const std::string& fileName, TIconLibrary& library);
void ImportResCursors(const std::string& fileName, TCursorLibrary& library);
// A DCR's first resource as a RES-like entry in memory: marker, type, name,
// memory flags, data size, then the bitmap with its colour table and bits.
void ConvertDcrToRes(TStream& file, TMemoryStream& out);
void ImportDcrBitmapIcon(TMemoryStream& stream, TIconLibrary& library);
