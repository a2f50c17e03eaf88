#include <gtest/gtest.h>

#include <set>

#include "platform/rtl/random.h"

namespace {

TEST(Random, ASeedGivesItsSequenceAndRangesAreKept) {
  RandSeed = 42;
  std::vector<int> first;
  for (int i = 0; i < 20; ++i) first.push_back(Random(1000));
  RandSeed = 42;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Random(1000), first[size_t(i)]);
  std::set<int> seen;
  for (int i = 0; i < 2000; ++i) {
    const int r = Random(7);
    ASSERT_GE(r, 0);
    ASSERT_LT(r, 7);
    seen.insert(r);
  }
  EXPECT_EQ(seen.size(), 7u);
  EXPECT_EQ(Random(0), 0);
  EXPECT_EQ(Random(-3), 0);
  const double d = Random();
  EXPECT_GE(d, 0.0);
  EXPECT_LT(d, 1.0);
}

}  // namespace
