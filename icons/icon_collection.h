#pragma once
// Reading icon collection files (".icc"): the header "ICC0", version 1,
// "ICON", an entry count, then entries back to back: a compact-string name,
// an image count, that many image records as TSubIcon::SaveToStream writes
// them, and two 32-bit values. Only reading is offered.
//
// Every count and length comes from the file, so each is bounded by the bytes
// that are really left before anything is allocated or skipped.
#include <cstdint>
#include <string>

#include "platform/rtl/streams.h"

class TAdvancedIcon;

// The smallest entry: a one-byte name length, the image count, the two values.
inline constexpr int64_t kMinCollectionEntrySize = 1 + 4 + 8;
inline constexpr int64_t kCollectionHeaderSize = 16;

// Reads the 16-byte header from the stream's position: the entry count, or -1
// when the header is not "ICC0", 1, "ICON", the count is negative, or more
// entries are claimed than the bytes left could hold; then refusal (when
// given) names the rule that refused it.
int32_t ReadIconCollectionHeader(TStream& stream, const char** refusal = nullptr);

// Reads entries in file order, remembering where the last one ended, so that
// reading entries 0, 1, 2 ... goes through the file once; asking for an entry
// at or before the last one read starts again behind the header.
class TIconCollectionReader {
public:
  // The images of entry n go into icon (appended). False, with icon left
  // empty, when the file cannot be opened or the entries up to n are damaged.
  bool ReadEntry(const std::string& fileName, int32_t n, TAdvancedIcon& icon);
  bool ReadEntry(TStream& stream, int32_t n, TAdvancedIcon& icon);
  // Entry n read from behind the 16-byte header, walking entries 0 to n.
  bool ReadCollectionIcon(TStream& stream, int32_t n, TAdvancedIcon& icon);
  // Entry n read on from just after the entry read last (which must be before
  // n; otherwise this starts from the header like ReadCollectionIcon).
  bool ReadNextCollectionIcon(TStream& stream, int32_t n, TAdvancedIcon& icon);
  // Forgets the position (a new file was opened).
  void Reset() {
    FLastEntry = -1;
    FPosition = 0;
  }
  int32_t LastEntry() const { return FLastEntry; }
  int64_t Position() const { return FPosition; }
  // How many entries the last ReadEntry went over (for the read-once rule).
  int32_t EntriesWalked() const { return FWalked; }
  // Why the last ReadEntry failed (the rule that fired); "" after a good read.
  const std::string& LastRefusal() const { return FLastRefusal; }

private:
  bool Walk(TStream& stream, int32_t n, TAdvancedIcon& icon, bool fromStart);

  std::string FLastRefusal;
  int32_t FLastEntry = -1;
  int64_t FPosition = 0;
  int32_t FWalked = 0;
};
