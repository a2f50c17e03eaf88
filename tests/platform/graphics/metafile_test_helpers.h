#pragma once
// A metafile's saved bytes, and a metafile loaded from bytes, for the tests.
#include <cstdint>
#include <vector>

#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/streams.h"

namespace metafiletest {

inline std::vector<uint8_t> SaveBytes(TMetafile& mf) {
  TMemoryStream s;
  mf.SaveToStream(s);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

inline void LoadBytes(TMetafile& mf, const std::vector<uint8_t>& bytes) {
  TMemoryStream s;
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  s.SetPosition(0);
  mf.LoadFromStream(s);
}

}  // namespace metafiletest
