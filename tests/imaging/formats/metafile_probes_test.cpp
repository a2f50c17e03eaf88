// The content tests for Windows and enhanced metafiles.
#include "imaging/formats/metafile_probes.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <vector>

#include "platform/rtl/streams.h"

namespace {

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

std::vector<uint8_t> Emf() {
  std::vector<uint8_t> v(108, 0);
  Put32(v, 0, 1);
  Put32(v, 4, 108);
  Put32(v, 40, 0x464D4520);
  return v;
}

std::vector<uint8_t> Wmf(uint16_t type = 1) {
  std::vector<uint8_t> v(24, 0);
  Put16(v, 0, type);
  Put16(v, 2, 9);
  Put16(v, 4, 0x300);
  Put32(v, 6, 12);
  return v;
}

std::vector<uint8_t> Placeable(std::vector<uint8_t> wmf) {
  std::vector<uint8_t> v(22 + wmf.size(), 0);
  Put32(v, 0, 0x9AC6CDD7);
  std::copy(wmf.begin(), wmf.end(), v.begin() + 22);
  return v;
}

// Runs a probe over exactly these bytes, placed after a prefix, and checks the position comes back.
bool Probe(bool (*probe)(TStream&), const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> all{0xAA, 0xBB};
  all.insert(all.end(), bytes.begin(), bytes.end());
  TCustomMemoryStream s(all.data(), static_cast<int64_t>(all.size()));
  s.SetPosition(2);
  bool result = probe(s);
  EXPECT_EQ(s.Position(), 2);
  return result;
}

TEST(MetafileProbes, EnhancedHeaderNeedsTypeOneAndTheSignature) {
  EXPECT_TRUE(Probe(IsEMFStream, Emf()));
  auto type = Emf();
  Put32(type, 0, 2);
  EXPECT_FALSE(Probe(IsEMFStream, type));
  auto sig = Emf();
  Put32(sig, 40, 0x464D4521);
  EXPECT_FALSE(Probe(IsEMFStream, sig));
  EXPECT_FALSE(Probe(IsWMFStream, Emf()));
  // Shorter than the 100 bytes read: false, nothing read past the end.
  auto shortEmf = Emf();
  shortEmf.resize(99);
  EXPECT_FALSE(Probe(IsEMFStream, shortEmf));
}

TEST(MetafileProbes, WindowsHeaderWithOrWithoutThePlaceableHeader) {
  EXPECT_TRUE(Probe(IsWMFStream, Wmf()));
  EXPECT_TRUE(Probe(IsWMFStream, Placeable(Wmf())));
  EXPECT_FALSE(Probe(IsWMFStream, Wmf(2)));  // a disk metafile type
  auto params = Wmf();
  Put16(params, 16, 1);  // the parameter count must be 0
  EXPECT_FALSE(Probe(IsWMFStream, params));
  EXPECT_FALSE(Probe(IsEMFStream, Placeable(Wmf())));
  const std::vector<uint8_t> wmf = Wmf(), placeable = Placeable(Wmf());
  const std::vector<uint8_t> shortOnes[] = {{wmf.begin(), wmf.begin() + 19},
                                            {placeable.begin(), placeable.begin() + 39}, {}};
  for (const auto& bytes : shortOnes) EXPECT_FALSE(Probe(IsWMFStream, bytes)) << bytes.size();
}

}  // namespace
