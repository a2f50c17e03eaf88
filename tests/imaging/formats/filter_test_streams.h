#pragma once
// Streams that misbehave on purpose, for the filter tests: one that takes only
// so many bytes (a full disk) and one that claims more data than it gives.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/rtl/streams.h"

namespace qvtest {

// Takes the first limit bytes written, then refuses.
class TFullDiskStream : public TMemoryStream {
public:
  explicit TFullDiskStream(int64_t limit) : FLeft(limit) {}
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t n = std::min(count, FLeft);
    FLeft -= n;
    return n > 0 ? TMemoryStream::Write(buffer, n) : 0;
  }

private:
  int64_t FLeft;
};

// Holds data but reports claimedSize as its size, as a file that shrank
// after it was opened: reads past the data come back short.
class TShrunkStream : public TCustomMemoryStream {
public:
  TShrunkStream(const std::vector<uint8_t>& data, int64_t claimedSize) : FData(data), FClaimed(claimedSize) {
    SetPointer(FData.data(), int64_t(FData.size()));
  }
  int64_t Size() override { return FClaimed; }

private:
  std::vector<uint8_t> FData;
  int64_t FClaimed;
};

}  // namespace qvtest
