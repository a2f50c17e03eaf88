#pragma once
// Icon and cursor libraries: the named icons (or cursors) of one executable
// file (PE EXE or DLL, NE file, ICL icon library), read by the readers of
// module_readers.h; RES and DCR imports fill the same lists. When a file that
// claims icon groups yields none, its bytes are scanned for icon images.
#include <cstdint>
#include <memory>
#include <string>

#include "icons/icon_list.h"
#include "platform/graphics/gdi.h"
#include "platform/rtl/object.h"

// True when the file begins with "MZ" and its new header (at the 32-bit offset
// found at 60) begins with "PE" or "NE"; isPE for "PE". The file-open error of
// a missing file reaches the caller.
bool IsExecutableImage(const std::string& fileName, bool& isPE);

class TIconLibrary : public TObject {
public:
  TIconLibrary() = default;

  // Reads the icon groups of an executable file. True when the library holds
  // icons afterwards (read from the file's resources or found by the scan);
  // a file that is no executable is not read and gives false.
  bool LoadFromFile(const std::string& fileName);
  // The names of the icon groups through the module loader (PE) or the NE
  // reader, for PE files with their icons; true when the reader ran.
  bool LoadWithReaders(const std::string& fileName);

  TAdvancedIcon* GetIcon(int index) const { return FIcons.GetIconObject(index); }
  TIconList& Icons() { return FIcons; }
  const TIconList& Icons() const { return FIcons; }
  const std::string& FileName() const { return FFileName; }
  bool IsMZ() const { return FIsMZ; }
  bool IsPE() const { return FIsPE; }
  // The icon groups the file reports: -1 when it is no NE or PE file.
  int32_t IconGroupCount() const { return FIconGroupCount; }

  void LoadFromPEResources(const std::string& fileName);
  void ScanForImages(const std::string& fileName);
  // Folds runs of one-image entries from index n on into icons of several
  // sizes, as a scan of an executable finds them one by one.
  void MergeScannedIcons(int n);

private:
  std::string FFileName;
  bool FIsMZ = false;
  bool FIsPE = false;
  int32_t FIconGroupCount = -1;
  TIconList FIcons;
};

class TCursorLibrary : public TObject {
public:
  TCursorLibrary() = default;
  // The cursor groups of a PE or NE file; true when the reader ran.
  bool LoadFromFile(const std::string& fileName);
  TAdvancedIcon* GetCursor(int index) const { return FCursors.GetIconObject(index); }
  TIconList& Cursors() { return FCursors; }
  const std::string& FileName() const { return FFileName; }
  bool IsMZ() const { return FIsMZ; }
  bool IsPE() const { return FIsPE; }

private:
  std::string FFileName;
  bool FIsMZ = false;
  bool FIsPE = false;
  TIconList FCursors;
};

// A component that carries an icon list, so that one can be stored with a form.
class TIconListHolder : public TComponent {
public:
  explicit TIconListHolder(TComponent* owner);
  ~TIconListHolder() override;
  TIconList* IconList() const { return FIconList.get(); }
  void DefineProperties(TFiler* filer) override;

private:
  std::unique_ptr<TIconList> FIconList;
};

// The index of the first entry named exactly iconName after LoadWithReaders, or -1.
int IndexOfLibraryIcon(const std::string& fileName, const std::string& iconName);
// A copy of the best handle of the library's icon at index for a square of the
// size and depth (the caller destroys it), or nil.
HICON GetLibraryIconHandle(const std::string& fileName, int index, int size, int bitsPerPixel);

// Plugs the readers of executable files into the platform: LoadLibraryEx with
// LOAD_LIBRARY_AS_DATAFILE reads PE files through TPEResourceModule, and the
// shell's ExtractIcon(Ex) count and hand out the icons of executables, icon
// libraries and icon files. Called once at start-up (and by tests).
void RegisterExecutableLoaders();
