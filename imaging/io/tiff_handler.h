#pragma once
// The TIFF structure editor: every page of a TIFF file in memory with its
// entries, their values, the strip, tile and JPEG data they point to, and the
// EXIF, GPS and interoperability sub-directories; tags are found, read, set,
// copied and deleted, and the structure is written out again with all offsets
// recomputed. Values stay in the file's byte order throughout.
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "imaging/io/tiff_ifd.h"
#include "platform/rtl/object.h"

class TStream;

struct TIETIFFTagList;

// One entry with what it owns: an out-of-line value, a sub-directory, or the
// blocks a data-offsets tag points to (one per strip or tile).
struct TIETIFFEntry {
  uint8_t Raw[12] = {};  // tag, type, count and value field in the file's order
  std::vector<uint8_t> Data;
  std::unique_ptr<TIETIFFTagList> Sub;
  std::vector<std::vector<uint8_t>> Blocks;
  bool HasBlocks = false;
};

struct TIETIFFTagList {
  std::vector<TIETIFFEntry> Entries;
};

using TIETIFFValue = std::variant<int64_t, double, std::string>;

class TIETIFFHandler : public TObject {
public:
  TIETIFFHandler();
  ~TIETIFFHandler() override;
  static std::unique_ptr<TIETIFFHandler> CreateFromFile(const std::string& name);
  static std::unique_ptr<TIETIFFHandler> CreateFromStream(TStream& stream);

  bool ReadFile(const std::string& name);
  // False when the stream is not TIFF; damaged directories end the reading early.
  bool ReadStream(TStream& stream);
  void Clear();

  bool BigEndian() const { return FBigEndian; }
  uint16_t Version() const { return FVersion; }
  uint16_t Order16(uint16_t fileValue) const;
  uint32_t Order32(uint32_t fileValue) const;

  int PageCount() const { return int(FPages.size()); }
  // nil past the pages.
  TIETIFFTagList* Page(int page);
  void DeletePage(int page);
  void DeleteTagAt(int page, int entry) { DeletePageTag(page, entry, true); }
  void DeletePageTag(int page, int entry, bool freeCaptured);
  void DeleteEntry(TIETIFFTagList& list, int entry, bool freeCaptured);

  int FindEntry(const TIETIFFTagList& list, int tag) const;
  int FindTag(int page, int tag);
  uint16_t EntryTag(const TIETIFFEntry& e) const;
  uint16_t EntryType(const TIETIFFEntry& e) const;
  uint32_t EntryCount(const TIETIFFEntry& e) const;
  // Address of element of the entry's values, nil past them.
  uint8_t* ValuePointer(TIETIFFEntry& e, int element);
  int64_t GetValue(TIETIFFTagList& list, int entry, int element);
  int64_t GetIntegerValue(TIETIFFTagList& list, int tag, int element);
  // Replaces the tag by one value of type (ASCII: the text with its zero).
  void SetTag(TIETIFFTagList& list, int tag, const TIETIFFValue& value, int type);

  // Copies entry of the source page into the destination page; false when
  // nothing was copied (a page missing, the entry missing, byte orders differ).
  bool CopyTag(int sourcePage, int entry, int destinationPage, TIETIFFHandler& source);
  bool CopyEntry(TIETIFFTagList& sourceList, int entry, TIETIFFTagList& destinationList, TIETIFFHandler& source);

  void SortPage(int page);
  void SortTags(TIETIFFTagList& list);

  // Every page (page outside the pages) or the one page, at the position.
  void WriteStream(TStream& stream, int page);
  bool WriteFile(const std::string& name, int page);

  static bool IsSubIFDTag(int tag);
  bool DataTagPair(int tag, int& offsetsTag, int& countsTag) const;

private:
  bool ReadHeader(TStream& stream, uint32_t& first);
  bool ReadIFD(TStream& stream, uint32_t offset, TIETIFFTagList& list, int depth, uint32_t& next);
  void CaptureData(TStream& stream, TIETIFFTagList& list);
  void WriteIFD(TStream& stream, TIETIFFTagList& list, int64_t& endPosition);
  void SetRaw(TIETIFFEntry& e, uint16_t tag, uint16_t type, uint32_t count) const;

  bool FBigEndian = false;
  uint16_t FVersion = 42;
  std::vector<std::unique_ptr<TIETIFFTagList>> FPages;
  std::vector<uint32_t> FSeenOffsets;
  int64_t FCaptured = 0;
  int64_t FCaptureLimit = 0;
};

// Writes one zero byte when the position is odd; returns the even position.
int64_t AlignStreamEven(TStream& stream);
