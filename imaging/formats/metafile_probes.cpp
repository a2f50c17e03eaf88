#include "imaging/formats/metafile_probes.h"

#include <cstdint>

#include "imaging/io/ie_filters.h"
#include "platform/rtl/streams.h"

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

// Reads exactly count bytes; false, with nothing read past the end, when the
// stream holds fewer.
bool ReadExactly(TStream& stream, uint8_t* buffer, int64_t count) {
  if (stream.Size() - stream.Position() < count) return false;
  return stream.Read(buffer, count) == count;
}

struct PositionKeeper {
  TStream& stream;
  int64_t start;
  explicit PositionKeeper(TStream& s) : stream(s), start(s.Position()) {}
  ~PositionKeeper() { stream.SetPosition(start); }
};

}  // namespace

bool IsEMFStream(TStream& stream) {
  PositionKeeper keep(stream);
  uint8_t head[100];
  if (!ReadExactly(stream, head, sizeof(head))) return false;
  return Le32(head) == 1 && Le32(head + 40) == 0x464D4520;
}

bool IsWMFStream(TStream& stream) {
  PositionKeeper keep(stream);
  uint8_t head[20];
  if (!ReadExactly(stream, head, sizeof(head))) return false;
  stream.SetPosition(keep.start + (Le32(head) == 0x9AC6CDD7 ? 22 : 0));
  uint8_t mh[18];
  if (!ReadExactly(stream, mh, sizeof(mh))) return false;
  return Le16(mh) == 1 && Le16(mh + 2) == 9 && Le16(mh + 16) == 0;
}

void RegisterMetafileProbes() {
  IEFilters().IsWMFStream = IsWMFStream;
  IEFilters().IsEMFStream = IsEMFStream;
}
