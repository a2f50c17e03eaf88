#pragma once
// Readers that take the icon or cursor groups out of executable-format files
// for the icon and cursor libraries: 16-bit NE files (ICL icon libraries among
// them) are parsed here; 32-bit PE files are read through the module loader of
// the platform (LoadLibraryEx as a data file) or through TPEResourceModule.
// Each reader fills a list of names, each with one icon or cursor; the library
// that runs the reader takes the icons over.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "icons/advanced_icon.h"
#include "icons/icon_list.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/win/win_types.h"

// Where one message stands for several rules, the reason names the one that fired.
class EICLReadError : public ERefused<Exception> {
public:
  explicit EICLReadError(std::string message, const char* reason = nullptr) : ERefused(std::move(message), reason) {}
};

// An icon or cursor read from a 16-bit file, and its images.
class TICL16Icon : public TAdvancedIcon {
public:
  std::unique_ptr<TAdvancedIcon> Create() const override { return std::make_unique<TICL16Icon>(); }
  std::string Name;
};
class TICL16Cursor : public TAdvancedCursor {
public:
  std::unique_ptr<TAdvancedIcon> Create() const override { return std::make_unique<TICL16Cursor>(); }
  std::string Name;
};
class TICL16IconImage : public TSubIcon {
public:
  std::unique_ptr<TSubIcon> CreateCopy() const override;
};
class TICL16CursorImage : public TSubCursor {
public:
  std::unique_ptr<TSubIcon> CreateCopy() const override;
};

class TICLReader : public TObject {
public:
  explicit TICLReader(std::string fileName) : FFileName(std::move(fileName)) {}
  virtual bool ReadLibrary() = 0;
  virtual bool ReadNames() = 0;
  TIconList& Result() { return FResult; }
  const std::string& FileName() const { return FFileName; }
  // Why the last read refused the file, or else passed the first group or
  // image over; "" when it read everything.
  const std::string& LastRefusal() const { return FLastRefusal; }

protected:
  std::string FFileName;
  TIconList FResult;
  std::string FLastRefusal;
};

class TICLReaderC : public TObject {
public:
  explicit TICLReaderC(std::string fileName) : FFileName(std::move(fileName)) {}
  virtual bool ReadLibrary() = 0;
  TIconList& Result() { return FResult; }
  // As TICLReader::LastRefusal.
  const std::string& LastRefusal() const { return FLastRefusal; }

protected:
  std::string FLastRefusal;
  std::string FFileName;
  TIconList FResult;
};

// One resource of an NE resource table: where its bytes lie (in units of the
// alignment) and its id.
struct TNEResourceEntry {
  uint16_t Offset = 0;
  uint16_t Length = 0;
  uint16_t Flags = 0;
  uint16_t Id = 0;
};

// The parts of an NE file that both 16-bit readers use. Every offset and length
// taken from the file is checked against the file's size before it is used.
class TNEResourceFile {
public:
  // Opens the file (others may not write to it while it is read).
  explicit TNEResourceFile(const std::string& fileName);
  // Reads a stream that holds the whole file; the stream is not owned.
  TNEResourceFile(TStream& stream, std::string baseName);
  // Reads the headers and the blocks of the two resource types (type ids with
  // bit 15 set, compared on their low 8 bits when lowByteOnly). Raises
  // EICLReadError.
  void ReadTable(uint16_t imageType, uint16_t groupType, bool lowByteOnly);

  // The bytes of a resource, its offset and length scaled by the alignment.
  std::vector<uint8_t> ResourceBytes(const TNEResourceEntry& entry);
  const TNEResourceEntry* FindImage(uint16_t id) const;
  // The name of a group: the string its id points at when the id is not an
  // integer, else "base nnn" with the group's 1-based number.
  std::string GroupName(size_t index) const;
  const std::vector<TNEResourceEntry>& Groups() const { return FGroups; }
  const std::string& BaseName() const { return FBaseName; }

private:
  std::vector<uint8_t> ReadAt(int64_t offset, int64_t count);
  uint16_t Read16At(int64_t offset);
  void ReadBlock(int64_t& at, uint16_t count, std::vector<TNEResourceEntry>& into);
  void ReadNameStrings(int64_t at);

  std::unique_ptr<TStream> FOwned;
  TStream& FFile;
  int64_t FFileSize = 0;
  uint16_t FAlignShift = 0;
  int64_t FNEOffset = 0;
  int64_t FResourceTable = 0;
  int64_t FNameTable = 0;
  std::vector<TNEResourceEntry> FImages;
  std::vector<TNEResourceEntry> FGroups;
  // The resource name strings after the table, by their offset from the
  // table's start.
  std::vector<std::pair<uint16_t, std::string>> FNames;
  std::string FBaseName;
  // Bytes all resources may copy together: a group that names one image a
  // thousand times cannot turn a small file into a huge allocation.
  int64_t FBudget = 0;
};

class T16BitReader : public TICLReader {
public:
  explicit T16BitReader(const std::string& fileName);
  bool ReadLibrary() override;
  bool ReadNames() override;

private:
  std::unique_ptr<TICL16Icon> ReadGroup(size_t index);
  std::unique_ptr<TNEResourceFile> FFile;
};

class T16BitReaderC : public TICLReaderC {
public:
  explicit T16BitReaderC(const std::string& fileName);
  bool ReadLibrary() override;

private:
  std::unique_ptr<TICL16Cursor> ReadGroup(size_t index);
  std::unique_ptr<TNEResourceFile> FFile;
};

class T32BitReader : public TICLReader {
public:
  using TICLReader::TICLReader;
  ~T32BitReader() override;
  // Through TPEResourceModule; entries renamed from an "ICL" name list (type 301).
  bool ReadLibrary() override;
  // Through the module loader: the icon groups of the file loaded as data.
  bool ReadNames() override;

private:
  HMODULE FModule = nullptr;
};

class T32BitReaderC : public TICLReaderC {
public:
  using TICLReaderC::TICLReaderC;
  ~T32BitReaderC() override;
  bool ReadLibrary() override;

private:
  HMODULE FModule = nullptr;
};

// Appends every icon group (type "14") of a resource module, in resource order,
// under its own name.
void ReadPEIconGroups(const TResourceModule& module, TIconList& into);

// The decimal text of an integer resource id, or the name itself.
std::string ResourceIdText(const char* idOrName);
