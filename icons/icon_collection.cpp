#include "icons/icon_collection.h"

#include <cstring>
#include <memory>

#include "base/compact_encoding.h"
#include "icons/advanced_icon.h"
#include "platform/rtl/exceptions.h"

namespace {

// A record is at least its flag byte.
constexpr int64_t kMinRecordSize = 1;

bool Magic(TStream& stream, const char* word) {
  char got[4] = {};
  if (stream.Read(got, 4) != 4) return false;
  return std::memcmp(got, word, 4) == 0;
}

// The record at the stream's position must hold the bytes its head claims;
// the stream is left where it was.
void CheckRecord(TStream& stream) {
  const int64_t at = stream.Position();
  if (stream.Remaining() < 1) throw EReadError("Stream read error");
  if (stream.ReadValue<uint8_t>() != 0) {
    if (stream.Remaining() < int64_t(sizeof(TIconEntryHead))) throw EReadError("Stream read error");
    TIconEntryHead head;
    stream.ReadBuffer(&head, sizeof(head));
    if (int64_t(head.dwBytesInRes) > stream.Remaining()) throw EReadError("Stream read error");
  }
  stream.SetPosition(at);
}

// One entry from the stream's position: its images into icon when wanted,
// else skipped. Raises EReadError for damaged data.
void ReadOneEntry(TStream& stream, TAdvancedIcon* icon) {
  (void)ReadCompactString(stream);
  if (stream.Remaining() < 4) throw EReadError("Stream read error");
  const int32_t k = stream.ReadValue<int32_t>();
  if (k < 0 || k > stream.Remaining() / kMinRecordSize) throw EReadError("Stream read error");
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
  if (stream.Remaining() < 8) throw EReadError("Stream read error");
  stream.Seek(8, soCurrent);
}

}  // namespace

int32_t ReadIconCollectionHeader(TStream& stream) {
  try {
    if (!Magic(stream, "ICC0")) return -1;
    if (stream.Remaining() < 4 || stream.ReadValue<int32_t>() != 1) return -1;
    if (!Magic(stream, "ICON")) return -1;
    if (stream.Remaining() < 4) return -1;
    const int32_t count = stream.ReadValue<int32_t>();
    if (count < 0 || count > stream.Remaining() / kMinCollectionEntrySize) return -1;
    return count;
  } catch (const Exception&) {
    return -1;
  }
}

bool TIconCollectionReader::ReadEntry(const std::string& fileName, int32_t n, TAdvancedIcon& icon) {
  try {
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    return ReadEntry(file, n, icon);
  } catch (const Exception&) {
    icon.Clear();
    return false;
  }
}

bool TIconCollectionReader::ReadEntry(TStream& stream, int32_t n, TAdvancedIcon& icon) {
  icon.Clear();
  FWalked = 0;
  if (n < 0) return false;
  try {
    int32_t entry = 0;
    if (FLastEntry < 0 || FLastEntry >= n || FPosition > stream.Size()) {
      stream.SetPosition(0);
      const int32_t count = ReadIconCollectionHeader(stream);
      if (n >= count) throw EReadError("Stream read error");
    } else {
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
  } catch (const Exception&) {
    icon.Clear();
    Reset();
    return false;
  }
}
