// Playback of a multi-frame file: an AVI that ffmpeg makes plays at its frame
// delay by stepping pages, loops, and stops on the first frame without looping.
#include <string>

#include "imaging/formats/format_filters.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/special/video/video_frames.h"
#include "tests/support/test_support.h"
#include "tests/imaging/io/io_test_support.h"
#include "view_test_support.h"

namespace {

class PlaybackOracle : public ViewTest {
protected:
  void SetUp() override {
    ViewTest::SetUp();
    RegisterFormatFilters();
    qvtest::EnsureImageIO();
    RegisterVideoFrameReader();
  }
  // Moves the scripted clock by ms and lets the due timers run.
  void Wait(uint64_t ms) {
    Headless().AdvanceClock(ms);
    headless::ProcessMessages();
  }
};

TEST_F(PlaybackOracle, AviPlaysAtItsFrameDelayAndStopsWithoutLooping) {
  if (!qvtest::HaveProgram("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  qvtest::TempDir dir;
  const std::string clip = dir.File("clip.avi");
  ASSERT_EQ(qvtest::RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=20 -frames:v 3 "
                               "-c:v rawvideo -pix_fmt bgr24 " + clip + " 2>&1"),
            0);
  MakeView(64, 48);
  TImageLibIO* io = view->GetIO();
  io->LoadFile(std::wstring(clip.begin(), clip.end()));
  ASSERT_FALSE(io->Aborting());
  ASSERT_EQ(io->Params().ImageCount, 3);
  view->SetPlaying(true);
  EXPECT_EQ(view->PlayTimerDelay(), 50);
  EXPECT_EQ(io->Params().ImageIndex, 0);
  Wait(49);
  EXPECT_EQ(io->Params().ImageIndex, 0);
  Wait(1);
  EXPECT_EQ(io->Params().ImageIndex, 1);
  Wait(50);
  EXPECT_EQ(io->Params().ImageIndex, 2);
  Wait(50);  // looping: back to the first frame, still playing
  EXPECT_EQ(io->Params().ImageIndex, 0);
  EXPECT_TRUE(view->Playing());
  view->SetPlayLoop(false);
  Wait(50);
  Wait(50);
  Wait(50);
  EXPECT_EQ(io->Params().ImageIndex, 0);
  EXPECT_FALSE(view->Playing());
  Wait(200);
  EXPECT_EQ(io->Params().ImageIndex, 0);
}

}  // namespace
