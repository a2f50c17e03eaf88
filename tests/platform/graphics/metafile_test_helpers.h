#pragma once
// A metafile's saved bytes, and a metafile loaded from bytes, for the tests.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

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

// A played picture (rows of blue, green, red) in the build's test output, for a
// person to look at.
inline void SavePicture(const std::string& name, const std::vector<uint8_t>& bgr, int w, int h) {
  const auto dir = std::filesystem::path(QV_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(dir);
  std::string header = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  for (size_t i = 0; i + 2 < bgr.size(); i += 3) bytes.insert(bytes.end(), {bgr[i + 2], bgr[i + 1], bgr[i]});
  qvtest::WriteFileBytes((dir / name).string(), bytes);
}

}  // namespace metafiletest
