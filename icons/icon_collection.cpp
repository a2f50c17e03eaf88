#include "icons/icon_collection.h"

#include <cstring>
#include <memory>

#include "base/compact_encoding.h"
#include "icons/advanced_icon.h"
#include "platform/rtl/exceptions.h"

namespace {

// A record is at least its flag byte.
constexpr int64_t kMinRecordSize = 1;

// Damaged data raises the stream's own error; the reason names the rule.
[[noreturn]] void Refuse(const char* reason) { throw ERefused<EReadError>("Stream read error", reason); }

bool Magic(TStream& stream, const char* word) {
  char got[4] = {};
  if (stream.Read(got, 4) != 4) return false;
  return std::memcmp(got, word, 4) == 0;
}

// The record at the stream's position must hold the bytes its head claims;
// the stream is left where it was.
void CheckRecord(TStream& stream) {
  const int64_t at = stream.Position();
  if (stream.Remaining() < 1) Refuse("an image record is cut short");
  if (stream.ReadValue<uint8_t>() != 0) {
    if (stream.Remaining() < int64_t(sizeof(TIconEntryHead))) Refuse("an image record is cut short");
    TIconEntryHead head;
    stream.ReadBuffer(&head, sizeof(head));
    if (int64_t(head.dwBytesInRes) > stream.Remaining()) Refuse("an image runs past the end");
  }
  stream.SetPosition(at);
}

// One entry from the stream's position: its images into icon when wanted,
// else skipped. Raises EReadError for damaged data.
void ReadOneEntry(TStream& stream, TAdvancedIcon* icon) {
  try {
    (void)ReadCompactString(stream);
  } catch (const EReadError&) {
    Refuse("a name runs past the end");
  }
  if (stream.Remaining() < 4) Refuse("an entry is cut short");
  const int32_t k = stream.ReadValue<int32_t>();
  if (k < 0) Refuse("a negative image count");
  if (k > stream.Remaining() / kMinRecordSize) Refuse("an image count the data cannot hold");
  for (int32_t i = 0; i < k; ++i) {
    CheckRecord(stream);
    if (!icon) {
      TSubIcon::SkipRecord(stream);
      continue;
    }
    const int64_t at = stream.Position();
    const bool empty = stream.ReadValue<uint8_t>() == 0;
    stream.SetPosition(at);
    auto image = std::make_unique<TSubIcon>();
    image->LoadFromStream(stream);
    if (!empty) icon->Images().Add(std::move(image));
  }
  if (stream.Remaining() < 8) Refuse("an entry is cut short");
  stream.Seek(8, soCurrent);
}

}  // namespace

int32_t ReadIconCollectionHeader(TStream& stream, const char** refusal) {
  auto refuse = [refusal](const char* why) {
    if (refusal) *refusal = why;
    return -1;
  };
  try {
    if (!Magic(stream, "ICC0")) return refuse("no ICC0 signature");
    if (stream.Remaining() < 4 || stream.ReadValue<int32_t>() != 1) return refuse("a version other than 1");
    if (!Magic(stream, "ICON")) return refuse("no ICON signature");
    if (stream.Remaining() < 4) return refuse("the header is cut short");
    const int32_t count = stream.ReadValue<int32_t>();
    if (count < 0) return refuse("a negative entry count");
    if (count > stream.Remaining() / kMinCollectionEntrySize) return refuse("an entry count the data cannot hold");
    return count;
  } catch (const Exception&) {
    return refuse("the header is cut short");
  }
}

bool TIconCollectionReader::ReadEntry(const std::string& fileName, int32_t n, TAdvancedIcon& icon) {
  try {
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    return ReadEntry(file, n, icon);
  } catch (const Exception& e) {
    FLastRefusal = e.Message();
    icon.Clear();
    return false;
  }
}

bool TIconCollectionReader::ReadEntry(TStream& stream, int32_t n, TAdvancedIcon& icon) {
  if (FLastEntry < 0 || FLastEntry >= n || FPosition > stream.Size()) return ReadCollectionIcon(stream, n, icon);
  return ReadNextCollectionIcon(stream, n, icon);
}

bool TIconCollectionReader::ReadCollectionIcon(TStream& stream, int32_t n, TAdvancedIcon& icon) {
  return Walk(stream, n, icon, /*fromStart=*/true);
}

bool TIconCollectionReader::ReadNextCollectionIcon(TStream& stream, int32_t n, TAdvancedIcon& icon) {
  // Without a remembered entry before n there is nothing to go on from.
  if (FLastEntry < 0 || FLastEntry >= n) return ReadCollectionIcon(stream, n, icon);
  return Walk(stream, n, icon, /*fromStart=*/false);
}

bool TIconCollectionReader::Walk(TStream& stream, int32_t n, TAdvancedIcon& icon, bool fromStart) {
  icon.Clear();
  FWalked = 0;
  FLastRefusal.clear();
  if (n < 0) {
    FLastRefusal = "a negative entry number";
    return false;
  }
  try {
    int32_t entry = 0;
    if (fromStart) {
      stream.SetPosition(0);
      const char* headerRefusal = nullptr;
      const int32_t count = ReadIconCollectionHeader(stream, &headerRefusal);
      if (count < 0) Refuse(headerRefusal);
      if (n >= count) Refuse("an entry past the count");
    } else {
      if (FPosition > stream.Size()) Refuse("a collection position past the end");
      stream.SetPosition(FPosition);
      entry = FLastEntry + 1;
    }
    for (; entry <= n; ++entry) {
      ReadOneEntry(stream, entry == n ? &icon : nullptr);
      ++FWalked;
    }
    FPosition = stream.Position();
    FLastEntry = n;
    return true;
  } catch (const Exception& e) {
    FLastRefusal = RefusalOf(e);
    icon.Clear();
    Reset();
    return false;
  }
}
