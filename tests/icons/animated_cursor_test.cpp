// Animated cursors: reading, writing and editing TAnimatedCursor, scanning a
// file for its frames, and the cursor opened as a GIF picture.
#include <gtest/gtest.h>

#include "ani_test_util.h"
#include "exception_text.h"
#include "icons/ani_cursor_image.h"
#include "icons/animated_cursor.h"
#include "icons/sub_icon_render.h"
#include "test_support.h"

using namespace anitest;

namespace {

void LoadBytes(TAnimatedCursor& c, const std::vector<uint8_t>& bytes) {
  TCustomMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  c.LoadFromStream(s);
}

std::vector<uint8_t> SaveBytes(TAnimatedCursor& c) {
  TMemoryStream s;
  c.SaveToStream(s);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

std::vector<int> List(TListLongint& l) {
  std::vector<int> v;
  for (int i = 0; i < l.Count(); ++i) v.push_back(l[i]);
  return v;
}

std::vector<uint8_t> TwoFrameFile(const Options& o = {}) {
  return Riff({Info("Spin", "Quorvane tests"), Anih(2, 4, 10, 3), Chunk{"rate", Words({6, 12, 6, 1})},
               Chunk{"seq ", Words({0, 1, 0, 1})}, Frames({CursorFrame(0x11, 3, 5), CursorFrame(0x22, 7, 9, 16)})},
              o);
}

TEST(AnimatedCursor, ReadsFramesStepsRatesTitleAndArtist) {
  TAnimatedCursor c;
  LoadBytes(c, TwoFrameFile());
  ASSERT_EQ(c.GetFrameCount(), 2);
  EXPECT_EQ(List(c.Steps()), (std::vector<int>{0, 1, 0, 1}));
  EXPECT_EQ(List(c.Rates()), (std::vector<int>{6, 12, 6, 1}));
  EXPECT_EQ(c.Title, "Spin");
  EXPECT_EQ(c.Artist, "Quorvane tests");
  EXPECT_EQ(c.GetFrameImage(0)->HotspotX(), 3);
  EXPECT_EQ(c.GetFrameImage(1)->HotspotY(), 9);
  EXPECT_EQ(c.GetStepImage(3)->GetWidth(), 16);
  EXPECT_EQ(c.Header.nFrames, 2);
  EXPECT_EQ(c.Header.iWidth, 32);
}

TEST(AnimatedCursor, PaddedOrNotAndEitherRiffSizeReadAlike) {
  for (bool pad : {true, false})
    for (bool whole : {true, false}) {
      TAnimatedCursor c;
      LoadBytes(c, TwoFrameFile(Options{pad, whole}));
      EXPECT_EQ(c.GetFrameCount(), 2) << pad << whole;
      EXPECT_EQ(c.Title, "Spin");
      EXPECT_EQ(c.Artist, "Quorvane tests");
      EXPECT_EQ(List(c.Steps()), (std::vector<int>{0, 1, 0, 1}));
    }
}

TEST(AnimatedCursor, MissingSequenceAndRatesAreCompleted) {
  TAnimatedCursor c;
  LoadBytes(c, Riff({Anih(3, 3, 8, 1), Frames({CursorFrame(1, 0, 0), CursorFrame(2, 0, 0), CursorFrame(3, 0, 0)})}));
  EXPECT_EQ(List(c.Steps()), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(List(c.Rates()), (std::vector<int>{8, 8, 8}));
  EXPECT_TRUE(c.Header.bfAttributes & kAniFlagSequence);

  // A sequence past the frames loses those steps; rates follow the steps.
  TAnimatedCursor d;
  LoadBytes(d, Riff({Anih(2, 5, 4, 3), Chunk{"seq ", Words({0, 7, 1, 2, 1})}, Chunk{"rate", Words({1, 2})},
                     Frames({CursorFrame(1, 0, 0), CursorFrame(2, 0, 0)})}));
  EXPECT_EQ(List(d.Steps()), (std::vector<int>{0, 1, 1}));
  EXPECT_EQ(List(d.Rates()), (std::vector<int>{1, 4, 4}));
}

TEST(AnimatedCursor, HostileFilesFailOrLoadWithoutReadingOutside) {
  std::vector<uint8_t> good = TwoFrameFile();
  for (int64_t size : {43, 2000001}) {
    TAnimatedCursor c;
    EXPECT_EQ(MessageOf([&] { LoadBytes(c, Riff({Anih(0, 0, 1, 1)}, {}, size)); }), "Invalid stream format");
    EXPECT_EQ(c.LastRefusal(), "a RIFF size outside what a cursor file has");
  }
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int frames;
    const char* reason;  // the first rule that fired, as LastRefusal names it
  };
  Chunk longIcon = CursorFrame(1, 0, 0);
  longIcon.sizeOverride = 400000;
  Chunk shortList = Frames({CursorFrame(1, 0, 0)});
  shortList.sizeOverride = 2;
  Chunk hugeList = Frames({CursorFrame(1, 0, 0)});
  hugeList.sizeOverride = 0xFFFFFFF0;
  Chunk bigRate{"rate", Words({1, 2})};
  bigRate.sizeOverride = 0x7FFFFFFF;
  Chunk garbage{"icon", std::vector<uint8_t>(60, 0xAB)};
  Chunk infoLie = Info("t", "a");
  infoLie.children[0].sizeOverride = 9999;
  const std::vector<Case> cases = {
      {"icon chunk past the end", Riff({Anih(1, 1, 1, 1), Frames({longIcon})}), 0, "an icon chunk runs past the end"},
      {"list shorter than its type", Riff({Anih(1, 1, 1, 1), shortList}), 0, "a list shorter than its type"},
      {"list past the end", Riff({Anih(1, 1, 1, 1), hugeList}), 1, "a list runs past the end"},
      {"rate past the end", Riff({Anih(1, 1, 1, 1), bigRate, Frames({CursorFrame(1, 0, 0)})}), 0,
       "a chunk runs past the end"},
      {"icon without a directory", Riff({Anih(1, 1, 1, 1), Frames({garbage, CursorFrame(1, 2, 3)})}), 1,
       "an icon chunk without a directory"},
      {"text past its list", Riff({infoLie, Anih(1, 1, 1, 1), Frames({CursorFrame(1, 2, 3)})}), 1,
       "a text runs past its list"},
      {"every chunk read", Riff({Anih(1, 1, 1, 1), Frames({CursorFrame(1, 2, 3)})}), 1, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TAnimatedCursor c;
    LoadBytes(c, k.bytes);
    EXPECT_EQ(c.GetFrameCount(), k.frames);
    EXPECT_EQ(c.LastRefusal(), k.reason);
    for (int s = 0; s < c.GetStepCount(); ++s) EXPECT_LT(c.Steps()[s], c.GetFrameCount());
    EXPECT_EQ(c.Rates().Count(), c.GetStepCount());
  }
  // Without a whole anih header there is no cursor (such files loaded as
  // cursors of no frames).
  {
    TAnimatedCursor c;
    EXPECT_EQ(MessageOf([&] { LoadBytes(c, Riff({Frames({CursorFrame(1, 2, 3)})})); }), "Invalid stream format");
    EXPECT_EQ(c.LastRefusal(), "no anih header");
  }
  // Every cut of a good file either is refused or loads; a refused load keeps
  // what the cursor held, and every cut before the header's end is refused.
  const std::string text(good.begin(), good.end());
  const size_t anihEnd = text.find("anih") + 8 + 36;
  TAnimatedCursor held;
  LoadBytes(held, good);
  for (size_t n = 0; n < good.size(); n += 3) {
    bool refused = false;
    try {
      LoadBytes(held, std::vector<uint8_t>(good.begin(), good.begin() + n));
    } catch (const EInvalidGraphic&) {
      refused = true;
      EXPECT_LT(n, anihEnd);
      EXPECT_EQ(held.GetFrameCount(), 2);
    }
    if (n < anihEnd) {
      EXPECT_TRUE(refused) << n;
    }
  }
}

TEST(AnimatedCursor, WritesTheRiffLayoutAndChangesNothingInMemory) {
  TAnimatedCursor c;
  LoadBytes(c, Riff({Anih(2, 4, 10, 1), Chunk{"rate", Words({6, 6, 6, 6})}, Chunk{"seq ", Words({0, 1, 0, 1})},
                     Frames({CursorFrame(0x11, 3, 5), CursorFrame(0x22, 7, 9)})}));
  c.Title = "abcd";
  const std::vector<uint8_t> out = SaveBytes(c);
  EXPECT_EQ(icontest::Get32(out, 4), out.size() - 8);
  // INFO: "INAM" 5, "abcd", 0, pad; "IART" 1, 0, pad.
  const std::vector<uint8_t> info = {'I', 'N', 'A', 'M', 5, 0, 0, 0, 'a', 'b', 'c', 'd', 0, 0,
                                     'I', 'A', 'R', 'T', 1, 0, 0, 0, 0, 0};
  const size_t infoAt = 12 + 8 + 36 + 12;  // after the header chunk and the list's own head
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + infoAt, out.begin() + infoAt + info.size()), info);
  const std::string text(out.begin(), out.end());
  EXPECT_EQ(text.find("rate"), std::string::npos) << "equal rates go into the header";
  EXPECT_NE(text.find("seq "), std::string::npos);
  // In memory: rates, hotspots and steps as before.
  EXPECT_EQ(List(c.Rates()), (std::vector<int>{6, 6, 6, 6}));
  EXPECT_EQ(c.GetFrameImage(1)->HotspotX(), 7);

  TAnimatedCursor back;
  LoadBytes(back, out);
  EXPECT_EQ(List(back.Rates()), (std::vector<int>{6, 6, 6, 6}));
  EXPECT_EQ(back.Header.iDispRate, 6);
  EXPECT_EQ(back.GetFrameImage(0)->HotspotY(), 5);
  EXPECT_EQ(back.GetFrameImage(1)->HotspotX(), 7) << "each frame keeps its own hotspot";
  EXPECT_EQ(back.Title, "abcd");
  EXPECT_EQ(back.Artist, "");
  EXPECT_TRUE(back.Header.bfAttributes & kAniFlagSequence);

  // Identity steps: no sequence flag, no "seq " chunk.
  TAnimatedCursor plain;
  LoadBytes(plain, Riff({Anih(2, 2, 5, 1), Frames({CursorFrame(1, 0, 0), CursorFrame(2, 0, 0)})}));
  const std::vector<uint8_t> p = SaveBytes(plain);
  const std::string ptext(p.begin(), p.end());
  EXPECT_EQ(ptext.find("seq "), std::string::npos);
  const size_t anih = ptext.find("anih");
  EXPECT_EQ(icontest::Get32(p, anih + 8 + 32), kAniFlagIcon);
}

TEST(AnimatedCursor, EditingKeepsStepsFramesAndRatesTogether) {
  TAnimatedCursor c;
  LoadBytes(c, Riff({Anih(3, 3, 5, 1), Chunk{"rate", Words({1, 2, 3})},
                     Frames({CursorFrame(1, 0, 0), CursorFrame(2, 0, 0), CursorFrame(3, 0, 0)})}));
  TAdvancedIcon* second = c.GetFrame(1);
  c.MoveStep(0, 2);  // identity steps: the frame moves, steps stay the identity
  EXPECT_EQ(List(c.Steps()), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(c.GetFrame(0), second);
  EXPECT_EQ(List(c.Rates()), (std::vector<int>{2, 3, 1}));
  c.ReverseSteps();
  EXPECT_EQ(c.GetFrame(2), second);
  EXPECT_EQ(List(c.Rates()), (std::vector<int>{1, 3, 2}));
  c.InsertStep(1, std::make_unique<TAdvancedCursor>(), "new");
  EXPECT_EQ(List(c.Steps()), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(c.Frames()[1], "new");
  EXPECT_EQ(List(c.Rates()), (std::vector<int>{1, 3, 3, 2}));
  c.DeleteStep(1);
  EXPECT_EQ(c.GetFrameCount(), 3);
  EXPECT_EQ(List(c.Steps()), (std::vector<int>{0, 1, 2}));

  auto other = std::make_unique<TAnimatedCursor>();
  LoadBytes(*other, Riff({Anih(1, 2, 7, 3), Chunk{"seq ", Words({0, 0})}, Frames({CursorFrame(9, 0, 0)})}));
  c.AppendCursor(std::move(other));
  EXPECT_EQ(c.GetFrameCount(), 4);
  EXPECT_EQ(List(c.Steps()), (std::vector<int>{0, 1, 2, 3, 3}));
  EXPECT_EQ(List(c.Rates()), (std::vector<int>{1, 3, 2, 7, 7}));

  TAnimatedCursor copy;
  copy.Assign(&c);
  EXPECT_EQ(copy.GetFrameCount(), 4);
  EXPECT_NE(copy.GetFrame(0), c.GetFrame(0));
  EXPECT_EQ(List(copy.Steps()), List(c.Steps()));
}

TEST(AnimatedCursor, ScanningAFileFindsTheFrameImages) {
  qvtest::TempDir dir;
  const std::string file = dir.File("a.ani");
  qvtest::WriteFileBytes(file, TwoFrameFile());
  TAdvancedIcon icon;
  EXPECT_TRUE(icon.LoadFromAniFile(file, 0, nullptr));
  EXPECT_EQ(icon.Count(), 2);
  TAdvancedIcon limited;
  EXPECT_TRUE(limited.LoadFromAniFile(file, 1, nullptr));
  EXPECT_EQ(limited.Count(), 1);
  TIconList list;
  TAdvancedIcon unused;
  EXPECT_TRUE(unused.LoadFromAniFile(file, 0, &list));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(unused.Count(), 0);

  // An old writer's file without the form type: the scan finds "ACON" later.
  std::vector<uint8_t> old = TwoFrameFile();
  std::vector<uint8_t> noForm = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'a', 'n', 'i', 'h', 0, 'A', 'C', 'O', 'N'};
  noForm.insert(noForm.end(), old.begin() + 12, old.end());
  icontest::Put32(noForm, 4, uint32_t(noForm.size() - 8));
  qvtest::WriteFileBytes(file, noForm);
  TAdvancedIcon scanned;
  EXPECT_TRUE(scanned.LoadFromAniFile(file, 0, nullptr));
  EXPECT_EQ(scanned.Count(), 2);

  std::vector<uint8_t> big = TwoFrameFile();
  big.resize(2000001, 0);
  icontest::Put32(big, 4, uint32_t(big.size() - 8));
  qvtest::WriteFileBytes(file, big);
  TAdvancedIcon none;
  EXPECT_FALSE(none.LoadFromAniFile(file, 0, nullptr));
}

TEST(AniCursorImage, StepsBecomeGifFramesWithDelaysLoopAndDisposal) {
  TAniCursorImage image;
  std::vector<uint8_t> bytes = TwoFrameFile();
  TCustomMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  image.LoadFromStream(s);
  EXPECT_EQ(image.StepCount(), 4);
  EXPECT_EQ(image.Depth(), 4);
  ASSERT_EQ(image.Frames().Count(), 4);
  const int delays[] = {10, 20, 10, 2};
  for (int i = 0; i < 4; ++i) {
    TGIFGraphicControlExtension* g = image.Frames()[i]->ControlExtension();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->FrameDelay(), delays[i]);
    EXPECT_EQ(g->DisposalMethod(), 2);
    EXPECT_FALSE(g->HasTransparency()) << "composited on the button face";
  }
  TGIFExtensionList& first = image.Frames()[0]->ExtensionBlocks();
  auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(first.GetExtensionAt(0));
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(loop->LoopCount, 0);
  int comments = 0;
  for (int k = 0; k < first.Count(); ++k)
    if (auto* c = dynamic_cast<TGIFCommentExtension*>(first.GetExtensionAt(k))) {
      ++comments;
      EXPECT_TRUE(c->CommentLines[0] == "Title: Spin" || c->CommentLines[0] == "Artist: Quorvane tests");
    }
  EXPECT_EQ(comments, 2);

  // Not an animated cursor: refused, the frames stay.
  std::vector<uint8_t> junk(100, 7);
  TCustomMemoryStream j(junk.data(), 100);
  EXPECT_EQ(MessageOf([&] { image.LoadFromStream(j); }), "Invalid stream format");
  EXPECT_EQ(image.Frames().Count(), 4);
}

TEST(AniCursorImage, TransparentBackgroundKeepsMaskedPixels) {
  // A cursor whose mask marks the left half transparent.
  icontest::Entry e;
  e.bits = icontest::DibImage(16, 16, 4, 0x55);
  const size_t maskAt = 40 + 16 * 4 + icontest::RowBytes(16, 4) * 16;
  for (int y = 0; y < 16; ++y) e.bits[maskAt + y * 4] = 0xFF;
  e.planes = 1;
  e.bitCount = 1;
  std::vector<uint8_t> bytes = Riff({Anih(1, 1, 3, 1), Frames({Chunk{"icon", icontest::IcoFile({e}, 2)}})});
  TAniCursorImage image;
  image.SetBackground(kNoBackground);
  TCustomMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  image.LoadFromStream(s);
  ASSERT_EQ(image.Frames().Count(), 1);
  TGIFSubImage* f = image.Frames()[0];
  ASSERT_TRUE(f->IsTransparent());
  EXPECT_EQ(f->PixelAt(0, 0), f->TransparentIndex());
  EXPECT_NE(f->PixelAt(12, 0), f->TransparentIndex());
  EXPECT_EQ(f->ControlExtension()->FrameDelay(), 5);
}

}  // namespace
