#include "imaging/formats/metafile_probes.h"

#include <cstdint>

#include "platform/rtl/streams.h"
#include "platform/rtl/byte_order.h"

namespace {


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
  return ReadLE32(head) == 1 && ReadLE32(head + 40) == 0x464D4520;
}

bool IsWMFStream(TStream& stream) {
  PositionKeeper keep(stream);
  uint8_t head[20];
  if (!ReadExactly(stream, head, sizeof(head))) return false;
  stream.SetPosition(keep.start + (ReadLE32(head) == 0x9AC6CDD7 ? 22 : 0));
  uint8_t mh[18];
  if (!ReadExactly(stream, mh, sizeof(mh))) return false;
  return ReadLE16(mh) == 1 && ReadLE16(mh + 2) == 9 && ReadLE16(mh + 16) == 0;
}

TIEFormatDescriptor WMFFormat() {
  return {
      .FileType = ioWMF,
      .FullName = "Windows Metafile",
      .Suffixes = "WMF",
      .Access = ieaRead,
      .Probe = IsWMFStream,
      .ProbeOrder = 120,
      .Frame = ieffMetafile,
  };
}

TIEFormatDescriptor EMFFormat() {
  return {
      .FileType = ioEMF,
      .FullName = "Enhanced Windows Metafile",
      .Suffixes = "EMF",
      .Access = ieaRead,
      .Probe = IsEMFStream,
      .ProbeOrder = 130,
      .Frame = ieffMetafile,
  };
}
