// Reading GIF streams: the reader's lenient paths, its warnings, and hostile data.
#include <gtest/gtest.h>

#include <cstring>

#include "gif_test_util.h"

using namespace giftest;

namespace {

struct Outcome {
  bool loaded = false;
  std::string error;
  std::vector<std::string> warnings;
};

Outcome Load(TGIFImage& image, const std::vector<uint8_t>& bytes) {
  Outcome o;
  image.OnReportWarning = [&](TObject*, int severity, const std::string& m) {
    EXPECT_EQ(severity, 1);
    o.warnings.push_back(m);
  };
  try {
    LoadFromBytes(image, bytes);
    o.loaded = true;
  } catch (const Exception& e) {
    o.error = e.Message();
  }
  image.OnReportWarning = nullptr;
  return o;
}

std::vector<uint8_t> FramePixels(TGIFImage& image, int i) {
  TGIFSubImage* f = image.Frames()[i];
  return std::vector<uint8_t>(f->Pixels(), f->Pixels() + f->PixelBytes());
}

bool Has(const std::vector<std::string>& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

// A 4x1 frame of two-bit codes: clear, 1, 2, 3, 0, end.
GifBytes Simple() {
  GifBytes g;
  g.Header(4, 1, 2).Image(0, 0, 4, 1).Codes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {0, 4}, {5, 4}});
  return g;
}

TEST(GifRead, SignatureMayBeLowerCaseOrFollowFourBytes) {
  std::vector<uint8_t> bytes = Simple().Trailer().b;
  for (int variant = 0; variant < 2; ++variant) {
    std::vector<uint8_t> b = bytes;
    if (variant == 0) std::memcpy(b.data(), "gif", 3);
    else b.insert(b.begin(), {0x12, 0x34, 0x56, 0x78});
    TGIFImage image;
    const Outcome o = Load(image, b);
    ASSERT_TRUE(o.loaded) << o.error;
    EXPECT_EQ(FramePixels(image, 0), (std::vector<uint8_t>{1, 2, 3, 0}));
  }
  TGIFImage image;
  std::vector<uint8_t> bad = bytes;
  bad[1] = 'X';
  EXPECT_EQ(Load(image, bad).error, "Invalid GIF signature");
}

TEST(GifRead, ZeroBytesBetweenFramesAndExtensionsAfterTheLastImage) {
  GifBytes g = Simple();
  g.Raw({0, 0, 0});
  g.Image(0, 0, 4, 1).Codes(2, {{4, 3}, {3, 3}, {3, 3}, {3, 3}, {3, 4}, {5, 4}});
  g.Raw({0x21, 0xFE, 3, 'e', 'n', 'd', 0});
  g.Trailer();
  TGIFImage image;
  const Outcome o = Load(image, g.b);
  ASSERT_TRUE(o.loaded) << o.error;
  ASSERT_EQ(image.Frames().Count(), 3);
  EXPECT_EQ(FramePixels(image, 1), (std::vector<uint8_t>{3, 3, 3, 3}));
  EXPECT_TRUE(image.Frames()[2]->IsEmpty());
  EXPECT_EQ(image.Frames()[2]->ExtensionBlocks().Count(), 1);
  EXPECT_TRUE(o.warnings.empty());
}

TEST(GifRead, InterlacedRowsFillInPassOrder) {
  // Height 3: rows 0, 2, 1 receive the values 1, 2, 3.
  GifBytes g;
  g.Header(1, 3, 2).Image(0, 0, 1, 3, 0x40).Codes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 4}}).Trailer();
  TGIFImage image;
  ASSERT_TRUE(Load(image, g.b).loaded);
  EXPECT_EQ(FramePixels(image, 0), (std::vector<uint8_t>{1, 3, 2}));
}

TEST(GifRead, FrameOfNoSizeTakesTheScreenAndScreenOfNoSizeTakesTheFrames) {
  GifBytes g;
  g.Header(3, 2, 2).Image(0, 0, 0, 5).Codes(2, {{4, 3}, {1, 3}, {5, 3}}).Trailer();
  TGIFImage image;
  Outcome o = Load(image, g.b);
  ASSERT_TRUE(o.loaded);
  EXPECT_TRUE(Has(o.warnings, "Image exceeds Logical Screen size"));
  EXPECT_EQ(image.Frames()[0]->Width(), 3);
  EXPECT_EQ(image.Frames()[0]->Height(), 2);

  GifBytes h;
  h.Header(0, 0, 2).Image(2, 1, 4, 1).Codes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {0, 4}, {5, 4}}).Trailer();
  TGIFImage screenless;
  ASSERT_TRUE(Load(screenless, h.b).loaded);
  EXPECT_EQ(screenless.Width(), 6);
  EXPECT_EQ(screenless.Height(), 2);
}

TEST(GifRead, UnknownExtensionIsSkippedWithAWarning) {
  GifBytes g;
  g.Header(4, 1, 2).Raw({0x21, 0x77, 2, 'a', 'b', 1, 'c', 0});
  g.Image(0, 0, 4, 1).Codes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {0, 4}, {5, 4}}).Trailer();
  TGIFImage image;
  const Outcome o = Load(image, g.b);
  ASSERT_TRUE(o.loaded) << o.error;
  EXPECT_TRUE(Has(o.warnings, "Unknown extension type"));
  EXPECT_EQ(FramePixels(image, 0), (std::vector<uint8_t>{1, 2, 3, 0}));
}

TEST(GifRead, FailedLoadLeavesThePictureAndStreamAsTheyWere) {
  TGIFImage image;
  ASSERT_TRUE(Load(image, Simple().Trailer().b).loaded);
  GifBytes bad;
  bad.Header(4, 1, 2).Raw({0x21, 0xFF, 5, 1, 2, 3, 4, 5, 0}).Trailer();
  TCustomMemoryStream s(bad.b.data(), static_cast<int64_t>(bad.b.size()));
  s.SetPosition(0);
  EXPECT_THROW(image.LoadFromStream(s), GIFException);
  EXPECT_EQ(s.Position(), 0);
  ASSERT_EQ(image.Frames().Count(), 1);
  EXPECT_EQ(FramePixels(image, 0), (std::vector<uint8_t>{1, 2, 3, 0}));
}

TEST(GifRead, FillAndSkipRulesAroundTheImageData) {
  // Data after the last pixel: the decoder leaves the stream after the frame's
  // terminator, so the next frame still reads.
  GifBytes after;
  after.Header(2, 1, 2).Image(0, 0, 2, 1).Codes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {3, 4}, {2, 4}, {5, 4}});
  after.Raw({0x21, 0xFE, 1, 'x', 0}).Image(0, 0, 2, 1).Codes(2, {{4, 3}, {3, 3}, {3, 3}, {5, 3}}).Trailer();
  TGIFImage image;
  Outcome o = Load(image, after.b);
  ASSERT_TRUE(o.loaded) << o.error;
  ASSERT_EQ(image.Frames().Count(), 2);
  EXPECT_EQ(FramePixels(image, 0), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(FramePixels(image, 1), (std::vector<uint8_t>{3, 3}));

  // Data that ends early: transparent frames keep their transparent index.
  GifBytes early;
  early.Header(4, 1, 2).Raw({0x21, 0xF9, 4, 1, 0, 0, 2, 0}).Image(0, 0, 4, 1).Codes(2, {{4, 3}, {1, 3}});
  early.Trailer();
  TGIFImage cut;
  o = Load(cut, early.b);
  ASSERT_TRUE(o.loaded) << o.error;
  EXPECT_EQ(FramePixels(cut, 0), (std::vector<uint8_t>{1, 2, 2, 2}));
}

struct HostileCase {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* warning;  // expected among the warnings, or null
  const char* error;    // expected error, or null when the file loads
  const char* reason;   // the rule that fired, as LastRefusal names it
};

std::vector<HostileCase> HostileCases() {
  std::vector<HostileCase> cases;
  auto add = [&](const char* name, GifBytes g, const char* warning, const char* error, const char* reason = "") {
    cases.push_back({name, g.b, warning, error, reason});
  };
  {
    GifBytes g;
    g.Header(4, 1, 2).Image(0, 0, 4, 1).Codes(2, {{4, 3}, {1, 3}, {7, 3}, {3, 3}, {0, 4}, {5, 4}}).Trailer();
    add("code above the next free one", g, nullptr, nullptr);
  }
  {
    // A prefix chain that loops: entry 6 points at 7, which the corrupt stream
    // made point back at 6.
    GifBytes g;
    std::vector<std::pair<int, int>> codes = {{4, 3}, {1, 3}, {7, 3}};
    for (int i = 0; i < 20; ++i) codes.push_back({6, 4});
    g.Header(64, 64, 2).Image(0, 0, 64, 64).Codes(2, codes).Trailer();
    add("cycle in the table", g, nullptr, "Circular decoder table entry", "Circular decoder table entry");
  }
  {
    GifBytes g;
    g.Header(4, 1, 2).Image(0, 0, 4, 1).Codes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {0, 4}}).Trailer();
    add("no end code", g, nullptr, nullptr);
  }
  // Sizes up to 11 fit the table (see ReadsCodeSizesUpToEleven); 12 and more do not.
  for (int size : {0, 12, 255}) {
    GifBytes g;
    g.Header(4, 1, 2).Image(0, 0, 4, 1).Codes(size, {{4, 3}, {1, 3}, {5, 3}}).Trailer();
    add(size == 0 ? "code size 0" : "code size above 11", g, size ? "Invalid LZW minimum code size" : nullptr, nullptr);
  }
  {
    GifBytes g;
    g.Header(65535, 65535, 2).Image(0, 0, 65535, 65535).Codes(2, {{4, 3}, {1, 3}, {5, 3}}).Trailer();
    add("65535x65535 frame in a few bytes", g, nullptr, "Image is too large",
        "a frame of more pixels than the reader holds");
  }
  {
    GifBytes g;
    g.Header(40, 40, 2).Image(0, 0, 40, 40).Codes(2, {{4, 3}, {1, 3}, {6, 3}, {7, 3}, {8, 4}, {9, 4}, {5, 4}}, 1).Trailer();
    add("one-byte sub-blocks", g, nullptr, nullptr);
  }
  {
    GifBytes g;
    g.Header(4, 1, 2).Image(0, 0, 4, 1).Raw({2, 200, 1, 2, 3});
    add("sub-block longer than the data", g, "Premature end of data", nullptr);
  }
  {
    GifBytes g;
    // clear, 1, 2, 3 and 0 fill two bytes exactly; then the stream ends.
    g.Header(8, 1, 2).Image(0, 0, 8, 1).Raw({2, 2, 140, 6});
    add("data that stops mid-frame", g, "Decoder bit buffer under-run", nullptr);
  }
  {
    GifBytes g;
    g.Header(4, 1, 2).Raw({0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 2, 1, 0, 0});
    add("loop sub-block too short", g, nullptr, "Invalid GIF data", "a loop sub-block shorter than 3 bytes");
  }
  {
    GifBytes g;
    g.Header(4, 1, 2).Raw({0x21, 0xFF, 12, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '1', '2', '3', '4', 1, 9, 0});
    g.Image(0, 0, 4, 1).Codes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {0, 4}, {5, 4}}).Trailer();
    add("application block of size 12", g, nullptr, nullptr);
  }
  {
    GifBytes g;
    g.Header(4, 1, 2).Raw({0x21, 0xF9, 9, 1, 5, 0, 2, 0, 0, 0, 0, 0, 0});
    g.Image(0, 0, 4, 1).Codes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {0, 4}, {5, 4}}).Trailer();
    add("control block of size 9", g, nullptr, nullptr);
  }
  {
    GifBytes g;
    g.Header(4, 1, 2).Raw({0x21, 0xFE, 200, 'a'});
    add("comment cut short", g, nullptr, "Premature end of data", "a text sub-block runs past the end");
  }
  {
    GifBytes g;
    g.Raw({'G', 'I', 'F', '8', '9', 'a', 4, 0, 1, 0, 0x87, 0, 0, 1, 2, 3});
    add("global table cut short", g, nullptr, "Premature end of data", "a colour table runs past the end");
  }
  {
    GifBytes g;
    g.Header(4, 1, 2).Raw({0x99});
    add("unknown block", g, "Unknown GIF block type", nullptr);
  }
  {
    GifBytes g;
    g.Header(4, 1, 2).Image(0, 0, 4, 1).Codes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {0, 4}, {5, 4}}).Raw({0x2A});
    add("bad trailer", g, "Invalid Image trailer", nullptr);
  }
  return cases;
}

TEST(GifRead, ReadsCodeSizesUpToEleven) {
  // Encoders that never reset their table may start at 9 to 11 bits (the GIF
  // test suite's max-codes.gif): the frame was left black with a warning.
  for (int size : {9, 10, 11}) {
    SCOPED_TRACE(size);
    const int clear = 1 << size, width = size + 1;
    GifBytes g;
    g.Header(4, 1, 2).Image(0, 0, 4, 1);
    g.Codes(size, {{clear, width}, {1, width}, {2, width}, {3, width}, {0, width}, {clear + 1, width}}).Trailer();
    TGIFImage image;
    const Outcome o = Load(image, g.b);
    ASSERT_TRUE(o.loaded) << o.error;
    EXPECT_TRUE(o.warnings.empty()) << (o.warnings.empty() ? "" : o.warnings.front());
    EXPECT_EQ(FramePixels(image, 0), (std::vector<uint8_t>{1, 2, 3, 0}));
  }
}

TEST(GifRead, HostileStreamsWarnOrRaiseAndNeverReadOutside) {
  for (const HostileCase& c : HostileCases()) {
    SCOPED_TRACE(c.name);
    TGIFImage image;
    const Outcome o = Load(image, c.bytes);
    EXPECT_EQ(image.LastRefusal(), c.reason);
    if (c.error) {
      EXPECT_FALSE(o.loaded);
      EXPECT_EQ(o.error, c.error);
      EXPECT_EQ(image.Frames().Count(), 0);
    } else {
      EXPECT_TRUE(o.loaded) << o.error;
    }
    if (c.warning) { EXPECT_TRUE(Has(o.warnings, c.warning)) << (o.warnings.empty() ? "" : o.warnings[0]); }
    // Whatever loaded renders and saves again.
    if (o.loaded && !image.GetEmpty()) {
      TBitmap b;
      b.Assign(&image);
      TMemoryStream s;
      image.SaveToStream(s);
    }
    // Every truncation of the stream is survived too.
    for (size_t n = 0; n < c.bytes.size(); ++n) {
      TGIFImage cut;
      Load(cut, std::vector<uint8_t>(c.bytes.begin(), c.bytes.begin() + n));
    }
  }
}

}  // namespace
