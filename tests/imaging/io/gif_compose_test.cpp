// Composition of GIF frames by the input/output component on hand-made
// animations: the canvas of the logical screen, disposal to background and to
// previous, a frame index past the end, progress, the background colour, and
// screens too large to hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/format_filters.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "tests/imaging/formats/gif_bytes.h"
#include "tests/imaging/io/io_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using giftest::Control;
using giftest::GifBytes;
using giftest::HeaderWith;
using giftest::Pixels;

// Black, red, green, blue; background entry 3 (blue).
const Bytes kTable = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};

struct Frame {
  int x, y, w, h, disposal, transparent;
  uint8_t index;
};

Bytes Animation(int screenW, int screenH, const std::vector<Frame>& frames) {
  GifBytes g = HeaderWith(screenW, screenH, kTable, 3);
  for (const Frame& f : frames) {
    Control(g, f.disposal, 5, f.transparent).Image(f.x, f.y, f.w, f.h);
    Bytes px(size_t(f.w) * f.h, f.index);
    if (f.transparent >= 0) px[0] = uint8_t(f.transparent);  // the top left pixel is see-through
    Pixels(g, 2, px, f.w, f.h);
  }
  return g.Trailer().b;
}

class GifCompose : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterFormatFilters();
    qvtest::EnsureImageIO();
    io.OnProgress = [this](TObject*, int per) { events.push_back("p" + std::to_string(per)); };
    io.OnFinishWork = [this](TObject*) { events.push_back("finish"); };
  }
  int Load(const Bytes& bytes, int index) {
    io.Params().GifImageIndex = index;
    events.clear();
    TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
    return io.LoadGIFStream(s);
  }
  // "r", "g", "b", "k" for a seen pixel, "." for alpha 0.
  std::string Row(int y) {
    TIEBitmap& b = *io.IEBitmap();
    std::string s;
    for (int x = 0; x < b.Width(); ++x) {
      if (b.HasAlphaChannel() && b.GetAlpha(x, y) == 0) {
        s += '.';
        continue;
      }
      const TRGB c = b.GetPixelAsRGB(x, y);
      s += c.r ? 'r' : c.g ? 'g' : c.b ? 'b' : 'k';
    }
    return s;
  }
  qvtest::FilterSlotsScope slots;
  TImageLibIO io{nullptr};
  std::vector<std::string> events;
};

TEST_F(GifCompose, ASingleFrameIsNotComposed) {
  const Bytes one = Animation(8, 8, {{2, 2, 3, 2, 0, -1, 1}});
  EXPECT_EQ(Load(one, 0), 1);
  ASSERT_FALSE(io.Aborting());
  EXPECT_EQ(io.IEBitmap()->Width(), 3);
  EXPECT_EQ(io.IEBitmap()->Height(), 2);
  EXPECT_EQ(Row(0), "rrr");
}

TEST_F(GifCompose, DisposalsAndPositionsBuildEachFrame) {
  const Bytes anim = Animation(5, 2, {{0, 0, 2, 2, 1, -1, 1},   // red, kept
                                      {1, 0, 2, 1, 2, -1, 2},   // green, then cleared
                                      {3, 0, 2, 2, 3, 0, 2},    // green with a hole, then restored
                                      {2, 1, 3, 1, 0, -1, 0}}); // black
  struct Case {
    int index;
    std::vector<std::string> rows;
  } cases[] = {
      {0, {"rr...", "rr..."}},
      {1, {"rgg..", "rr..."}},
      {2, {"r...g", "rr.gg"}},
      {3, {"r....", "rrkkk"}},
      {9, {"r....", "rrkkk"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(Load(anim, c.index), 4);
    ASSERT_FALSE(io.Aborting());
    EXPECT_EQ(Row(0), c.rows[0]);
    EXPECT_EQ(Row(1), c.rows[1]);
    EXPECT_EQ(io.Params().GifImageIndex, c.index);
    EXPECT_EQ(io.Params().GifXPos, 0);
    EXPECT_EQ(io.Params().GifDisposal, 2);
  }
  // Where a cleared area shows, its colour is the background's.
  Load(anim, 1);
  EXPECT_EQ(io.IEBitmap()->GetPixelAsRGB(4, 0), MakeRGB(0, 0, 255));
}

TEST_F(GifCompose, RestoreToPreviousOnTheFirstFrameKeepsIt) {
  const Bytes anim = Animation(3, 1, {{0, 0, 3, 1, 3, -1, 1}, {1, 0, 1, 1, 3, -1, 2}, {2, 0, 1, 1, 0, -1, 0}});
  Load(anim, 1);
  EXPECT_EQ(Row(0), "rgr");
  Load(anim, 2);
  EXPECT_EQ(Row(0), "rrk") << "the second frame's pixel restored";
}

TEST_F(GifCompose, ProgressComesFromTheLoopThenTheFinish) {
  const Bytes anim = Animation(2, 2, {{0, 0, 2, 2, 0, -1, 1}, {0, 0, 1, 1, 0, -1, 2}, {0, 0, 1, 1, 0, -1, 3},
                                      {0, 0, 1, 1, 0, -1, 0}});
  Load(anim, 3);
  EXPECT_EQ(events, (std::vector<std::string>{"p0", "p25", "p50", "p75", "p100", "finish"}));
  Load(anim, 0);
  EXPECT_EQ(events, (std::vector<std::string>{"p0", "p30", "p70", "p100", "p0", "p100", "finish"}));
}

TEST_F(GifCompose, TransparentFileGivesItsTransparentColourAsBackground) {
  const Bytes anim = Animation(2, 1, {{0, 0, 2, 1, 0, 1, 2}, {0, 0, 1, 1, 0, -1, 2}});
  Load(anim, 0);
  EXPECT_EQ(io.Background(), 0x0000FFu) << "red, the transparent entry";
  const Bytes plain = Animation(2, 1, {{0, 0, 2, 1, 0, -1, 2}, {0, 0, 1, 1, 0, -1, 2}});
  Load(plain, 0);
  EXPECT_EQ(io.Background(), 0xFF0000u) << "blue, the background entry";
}

TEST_F(GifCompose, AFrameLargerThanTheScreenGrowsTheCanvasTransparent) {
  const Bytes anim = Animation(2, 1, {{0, 0, 1, 1, 1, -1, 1}, {2, 0, 2, 2, 0, -1, 2}});
  Load(anim, 1);
  ASSERT_FALSE(io.Aborting());
  EXPECT_EQ(Row(0), "r.gg");
  EXPECT_EQ(Row(1), "..gg");
}

TEST_F(GifCompose, AScreenTooLargeToHoldAbortsAndKeepsTheBitmap) {
  io.IEBitmap()->Allocate(3, 3, ie24RGB);
  const Bytes anim = Animation(65535, 65535, {{0, 0, 1, 1, 0, -1, 1}, {5, 5, 1, 1, 0, -1, 2}});
  EXPECT_EQ(Load(anim, 1), 2);
  EXPECT_TRUE(io.Aborting());
  EXPECT_EQ(io.IEBitmap()->Width(), 3);
}

TEST_F(GifCompose, ABrokenLaterFrameKeepsTheFramesBeforeIt) {
  Bytes anim = Animation(2, 1, {{0, 0, 2, 1, 0, -1, 1}, {0, 0, 1, 1, 0, -1, 2}});
  // The second frame's code size becomes 12: nothing of it can be decoded.
  const size_t second = anim.size() - 1 - 5;
  anim[second] = 12;
  Load(anim, 1);
  EXPECT_TRUE(io.Aborting());
  EXPECT_EQ(Row(0), "rr");
}

}  // namespace
