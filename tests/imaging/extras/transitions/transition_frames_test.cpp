// Frames of every transition type: a contact sheet for a person to look at,
// the exact families against a numpy transcription of their formulas, the
// random families' repeatability, and hostile sizes and steps.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/extras/transitions/transition_engine.h"
#include "platform/rtl/random.h"
#include "support/test_support.h"
#include "transition_test_support.h"

using namespace transitiontest;

namespace {

// A picture a person can tell apart from the other: stripes or rings.
std::unique_ptr<TBitmap> Drawn(int w, int h, bool rings) {
  return PaintedPicture(w, h, [&](int x, int y, uint8_t* p) {
    const int dx = x - w / 2, dy = y - h / 2;
    const bool on = rings ? ((dx * dx + dy * dy) / 60) % 2 == 0 : ((x + y) / 8) % 2 == 0;
    if (rings) p[0] = on ? 40 : 10, p[1] = on ? 140 : 60, p[2] = on ? 250 : 180;  // orange rings
    else p[0] = on ? 230 : 150, p[1] = uint8_t(80 + x * 100 / w), p[2] = on ? 40 : 20;  // blue stripes
  });
}

void SaveSheet(const std::string& name, const std::vector<uint8_t>& rgb, int w, int h) {
  const auto dir = std::filesystem::path(QV_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(dir);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(w);
  image.height = png_uint_32(h);
  image.format = PNG_FORMAT_RGB;
  EXPECT_TRUE(png_image_write_to_file(&image, (dir / name).string().c_str(), 0, rgb.data(), 0, nullptr));
}

// Slowly varying colours, the two pictures apart in every pixel (red 40 or
// 200): box filters that weigh coverage differently agree on such pictures.
std::unique_ptr<TBitmap> Smooth(int w, int h, bool second) {
  return PaintedPicture(w, h, [&](int x, int y, uint8_t* p) {
    p[0] = uint8_t(second ? 255 * y / h : 255 * x / w);
    p[1] = uint8_t(128 + 60 * std::sin((x + y) / 40.0));
    p[2] = second ? 200 : 40;
  });
}

class TransitionFrames : public ::testing::Test {
public:
  enum TPictures { kRandom, kDrawn, kSmooth };
  std::unique_ptr<TIETransitionEffects> Engine(int w, int h, TPictures kind = kRandom) {
    auto e = std::make_unique<TIETransitionEffects>(nullptr);
    start = kind == kDrawn ? Drawn(w, h, false) : kind == kSmooth ? Smooth(w, h, false) : RandomPicture(w, h, 11);
    end = kind == kDrawn ? Drawn(w, h, true) : kind == kSmooth ? Smooth(w, h, true) : RandomPicture(w, h, 12);
    e->Prepare(start.get(), end.get(), w, h);
    e->BackgroundColor = 0x00202020;
    source = std::make_unique<TIEBitmap>(w * 2, h * 2, ie24RGB);
    for (int y = 0; y < h * 2; ++y)
      for (int x = 0; x < w * 2; ++x) source->SetPixelRGB(x, y, TRGB{uint8_t(x * 3), uint8_t(y * 3), 128});
    e->PanZoomSource = source.get();
    e->PanZoomStartRect = TRect{0, 0, w * 2, h * 2};
    e->PanZoomEndRect = TRect{w / 2, h / 2, w, h};
    return e;
  }
  std::unique_ptr<TBitmap> start, end;
  std::unique_ptr<TIEBitmap> source;
};

TEST_F(TransitionFrames, ContactSheetOfEveryTypeAtFiveSteps) {
  const int cw = 64, ch = 40, steps[] = {0, 256, 512, 768, 1024};
  const int perRow = 3;  // types side by side, each five frames wide
  const int rows = (227 + perRow - 1) / perRow;
  const int sheetW = perRow * (5 * (cw + 2) + 6), sheetH = rows * (ch + 2);
  std::vector<uint8_t> sheet(size_t(sheetW) * sheetH * 3, 255);
  auto e = Engine(cw, ch, kDrawn);
  for (int type = 1; type <= 227; ++type) {
    const int r = (type - 1) / perRow, c = (type - 1) % perRow;
    for (int k = 0; k < 5; ++k) {
      RandSeed = 5;
      const std::vector<uint8_t> f = FrameAt(*e, TIETransitionType(type), steps[k]);
      const int ox = c * (5 * (cw + 2) + 6) + k * (cw + 2), oy = r * (ch + 2);
      for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
          const uint8_t* p = &f[(size_t(y) * cw + x) * 3];
          uint8_t* q = &sheet[(size_t(oy + y) * sheetW + ox + x) * 3];
          q[0] = p[2], q[1] = p[1], q[2] = p[0];
        }
    }
  }
  SaveSheet("transition_frames_sheet.png", sheet, sheetW, sheetH);
}

TEST_F(TransitionFrames, EveryTypeShowsTheStartPictureFirst) {
  auto e = Engine(97, 61);
  for (int type = 1; type <= 227; ++type) {
    // A fade in starts from the background, the two red-line wipes draw their
    // line at the first edge, and the pan-zoom shows its source.
    if (type == iettFadeIn || type == iettLeftRight2 || type == iettUpDown2 || type == iettPanZoom)
      continue;
    e->Transition = TIETransitionType(type);
    e->CurrentStep = 0;
    e->FirstStep = true;
    e->PaintStep(nullptr);
    EXPECT_EQ(Pixels(e->FrameImage()), Pixels(start.get())) << type;
  }
}

TEST_F(TransitionFrames, RandomFamiliesRepeatForAPercentAndGrowWithIt) {
  auto e = Engine(97, 61);
  for (int type : {185, 192, 193, 194, 195}) {
    const std::vector<uint8_t> a = FrameAt(*e, TIETransitionType(type), 512);
    RandSeed = 12345;  // the caller's seed plays no part and comes back
    const std::vector<uint8_t> b = FrameAt(*e, TIETransitionType(type), 512);
    EXPECT_EQ(RandSeed, 12345u);
    EXPECT_EQ(a, b) << type;
    const std::vector<uint8_t> ends = Pixels(end.get());
    auto shown = [&](const std::vector<uint8_t>& f) {
      int n = 0;
      for (size_t i = 0; i < f.size(); i += 3)
        n += f[i] == ends[i] && f[i + 1] == ends[i + 1] && f[i + 2] == ends[i + 2];
      return n;
    };
    const int low = shown(FrameAt(*e, TIETransitionType(type), 200));
    const int high = shown(FrameAt(*e, TIETransitionType(type), 800));
    EXPECT_LT(low, high) << type;
  }
}

TEST_F(TransitionFrames, HostileSizesAndStepsStayInTheFrame) {
  for (int w = 1; w <= 9; w += 2)
    for (int h = 1; h <= 9; h += 4) {
      auto e = Engine(w, h);
      e->PanZoomEndRect = TRect{50, 40, -10, -20};  // inverted
      for (int type = 0; type <= 227; ++type)
        for (int step : {-5, 0, 1, 512, 1024, 5000}) {
          e->Transition = TIETransitionType(type);
          e->CurrentStep = step;
          e->FirstStep = false;
          e->PaintStep(nullptr);
        }
      EXPECT_EQ(e->FrameImage()->GetWidth(), w);
    }
  // A zero-sized request still gives a 1 x 1 frame that paints.
  auto e = Engine(0, 0);
  for (int type = 1; type <= 227; ++type) {
    e->Transition = TIETransitionType(type);
    e->CurrentStep = 700;
    e->PaintStep(nullptr);
  }
  EXPECT_EQ(e->FrameImage()->GetWidth(), 1);
}

void Put32(std::vector<uint8_t>& v, int32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(uint32_t(x) >> (8 * i)));
}

// Sends the frames of the types at the steps, on two sizes of the pictures,
// to an oracle script (see transition_formulas.py) and returns what it found.
std::string FramesOracle(TransitionFrames& t, const std::string& script, const std::vector<int>& types,
                         const std::vector<int>& steps, bool smooth) {
  std::vector<uint8_t> input;
  const int sizes[][2] = {{97, 61}, {320, 200}};
  Put32(input, int(std::size(sizes)));
  for (const auto& s : sizes) {
    auto e = t.Engine(s[0], s[1], smooth ? TransitionFrames::kSmooth : TransitionFrames::kRandom);
    Put32(input, s[0]), Put32(input, s[1]), Put32(input, int32_t(e->BackgroundColor));
    const std::vector<uint8_t> a = Pixels(t.start.get()), b = Pixels(t.end.get());
    input.insert(input.end(), a.begin(), a.end());
    input.insert(input.end(), b.begin(), b.end());
    Put32(input, int(types.size() * steps.size()));
    for (int type : types)
      for (int step : steps) {
        const std::vector<uint8_t> f = FrameAt(*e, TIETransitionType(type), step);
        Put32(input, type), Put32(input, step);
        input.insert(input.end(), f.begin(), f.end());
      }
  }
  std::vector<uint8_t> output;
  std::string log;
  const int status = qvtest::RunOracleScript(
      std::string(QV_SOURCE_DIR) + "/tests/imaging/extras/transitions/" + script, input, output, &log);
  return status == 0 ? std::string(output.begin(), output.end()) : "the oracle failed: " + log;
}

TEST_F(TransitionFrames, ExactFamiliesMatchTheirFormulasOracle) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "numpy is not available";
  // Blends, shading, wipes, slides, row moves, copies and soft wipes.
  std::vector<int> types;
  for (int t = 1; t <= 24; ++t) types.push_back(t);
  for (int t : {27, 28, 49, 50, 51, 52, 53, 54, 55, 56, 65, 66, 67, 68, 74, 76, 151, 152, 153, 154, 219, 220, 221, 222})
    types.push_back(t);
  EXPECT_EQ(FramesOracle(*this, "frames_oracle.py", types, {1, 40, 512, 777, 1024}, false), "");
}

TEST_F(TransitionFrames, ClipCopiesAndStretchesMatchScikitImageAndPillowOracle) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import skimage, scipy, PIL' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "scikit-image, SciPy or Pillow is not available";
  // Stretches on smooth pictures (Pillow's BOX weighs part-covered pixels
  // otherwise than an area average), clip-copies of polygons, grids and blinds,
  // and the two single twists.
  const std::vector<int> types = {31,  32,  35,  48,  113, 116, 133, 134, 135, 136, 137, 138, 141,
                                  142, 159, 160, 171, 172, 173, 174, 175, 176, 177, 178, 181, 182, 223, 224};
  EXPECT_EQ(FramesOracle(*this, "clip_oracle.py", types, {40, 512, 777, 1024}, true), "");
}

}  // namespace
