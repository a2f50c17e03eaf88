#include <gtest/gtest.h>

#include "platform/rtl/tset.h"

namespace {
enum TStyle : uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };
enum TWide : uint8_t { wFirst = 0, wMiddle = 100, wLast = 255 };
}  // namespace

TEST(Set, PascalSetOperations) {
  using S = TSet<TStyle>;
  S a{fsBold, fsItalic};
  S b{fsItalic, fsUnderline};
  EXPECT_EQ(a + b, (S{fsBold, fsItalic, fsUnderline}));
  EXPECT_EQ(a - b, S{fsBold});
  EXPECT_EQ(a * b, S{fsItalic});
  EXPECT_TRUE(S{fsItalic} <= a);
  EXPECT_FALSE(a <= b);
  EXPECT_TRUE(a >= S{});
  EXPECT_TRUE((a * S{fsStrikeOut}).Empty());
  EXPECT_EQ(a.Count(), 2);
  a += fsStrikeOut;
  a -= fsBold;
  EXPECT_FALSE(a.Contains(fsBold));
  EXPECT_TRUE(a.Contains(fsStrikeOut));
  EXPECT_EQ(a.LowBits(), 0b1010u);
  EXPECT_EQ(S::FromLowBits(0b0101), (S{fsBold, fsUnderline}));
  EXPECT_NE(a, b);

  // Members up to 255, as Pascal sets allow.
  TSet<TWide> w{wFirst, wLast};
  EXPECT_TRUE(w.Contains(wLast));
  EXPECT_FALSE(w.Contains(wMiddle));
  w.Exclude(wLast).Include(wMiddle);
  EXPECT_EQ(w, (TSet<TWide>{wFirst, wMiddle}));
  static_assert(TSet<TStyle>{fsBold}.Contains(fsBold), "usable in constant expressions");
}
