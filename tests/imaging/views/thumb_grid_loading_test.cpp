// The thumbnail grid's background loading: at most ThreadPoolSize readers,
// cancellation of entries scrolled away, pictures that stay with their
// entries while entries come and go, and a grid destroyed during loads.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/format_filters.h"
#include "imaging/formats/pcx_filter.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/views/thumb_grid.h"
#include "platform/rtl/streams.h"
#include "platform/ui/forms.h"
#include "platform/ui/picture_file.h"
#include "platform/ui/ui_test_support.h"
#include "test_support.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/imaging/io/io_test_support.h"
#include "view_test_support.h"

namespace {

class GridLoading : public UiTest {
protected:
  TForm* form = nullptr;
  TImageLibMView* grid = nullptr;
  qvtest::TempDir dir;
  std::unique_ptr<qvtest::FilterSlotsScope> slots;

  void SetUp() override {
    UiTest::SetUp();
    qvtest::EnsureImageIO();
    slots = std::make_unique<qvtest::FilterSlotsScope>();
    RegisterFormatFilters();
  }
  void TearDown() override {
    slots.reset();
    UiTest::TearDown();
  }
  void MakeGrid(int width, int height, int poolSize) {
    form = MakeForm(width + 20, height + 20);
    grid = new TImageLibMView(form);
    grid->SetParent(form);
    grid->SetBorderStyle(bsNone);
    grid->SetBounds(0, 0, width, height);
    grid->SetThreadPoolSize(poolSize);
    grid->SetGridWidth(-1);
    form->Show();
    headless::ProcessMessages();
  }
  static TColor ColourOf(int i) { return TColor((i * 5) | ((255 - i * 5) << 8) | ((i * 3) << 16)); }
  // A BMP file of one colour per number.
  std::string MakeFile(int i, int w = 64, int h = 48) {
    TIEBitmap b(w, h, ie24RGB);
    b.Fill(double(ColourOf(i)));
    auto io = TImageLibIO::CreateForBitmap(&b);
    const std::string name = dir.File("p" + std::to_string(i) + ".bmp");
    io->SaveBMPFile(UTF8ToWide(name));
    return name;
  }
  // Paints and handles messages until the condition holds (or about 20 s).
  template <class F> bool PaintUntil(F done) {
    for (int i = 0; i < 2000; ++i) {
      grid->Invalidate();
      headless::ProcessMessages();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  bool AllLoaded() {
    for (int i = 0; i < grid->ImageCount(); ++i)
      if (!grid->HasImage(i) && !grid->ImageFileName(i).empty()) return false;
    return true;
  }
  TColor StoredColour(int i) {
    TIEBitmap* b = grid->GetEntryBitmap(i);
    if (!b) return TColor(0xFFFFFFFF);
    const TRGB p = b->GetPixelRGB(b->Width() / 2, b->Height() / 2);
    grid->ReleaseEntryBitmap(i, false);
    return TColor(p.r | (p.g << 8) | (p.b << 16));
  }
};

TEST_F(GridLoading, PoolOfTwoRunsAtMostTwoReadersAndQueuesInVisibleOrder) {
  MakeGrid(560, 240, 2);
  for (int i = 0; i < 10; ++i) {
    grid->AppendEntry();
    grid->SetImageFileName(i, MakeFile(i, 600, 400));
  }
  grid->Invalidate();
  headless::ProcessMessages();
  // The first paint queued what it could not show, in the order it drew them.
  const std::vector<int> queued = grid->QueuedEntries();
  for (size_t k = 1; k < queued.size(); ++k) EXPECT_LT(queued[k - 1], queued[k]);
  ASSERT_TRUE(PaintUntil([&] { return AllLoaded(); }));
  EXPECT_LE(grid->PeakRunningJobs(), 2);
  EXPECT_GE(grid->PeakRunningJobs(), 1);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(StoredColour(i), ColourOf(i)) << i;
  // An entry that has its picture is not queued again.
  EXPECT_TRUE(grid->RequestLoad(3, -1));
  EXPECT_EQ(grid->QueueIndexOf(3), -1);
  grid->Invalidate();
  headless::ProcessMessages();
  SavePicturePng(form->Backing(), ViewTestOutput("thumb_grid_loaded.png"));
}

TEST_F(GridLoading, FrameReferencesAndIdentifierEntriesAreNeverQueued) {
  MakeGrid(300, 200, 2);
  grid->AppendEntry();
  grid->SetImageFileName(0, MakeFile(0) + "::0");
  EXPECT_FALSE(grid->RequestLoad(0, -1));
  grid->AppendEntry();
  grid->SetImageID(1, 4);
  grid->OnImageIDRequestEx = [](TObject*, int, TIEBitmap*& b) { b = nullptr; };
  EXPECT_FALSE(grid->RequestLoad(1, -1));
  EXPECT_TRUE(grid->QueuedEntries().empty());
}

TEST_F(GridLoading, InsertsAndDeletesDuringLoadsLeaveEachPictureInItsOwnCell) {
  MakeGrid(900, 600, 3);
  grid->SetThumbWidth(40);
  grid->SetThumbHeight(40);
  grid->SetHorizBorder(2);
  grid->SetVertBorder(2);
  std::map<std::string, int> colourOfName;
  for (int i = 0; i < 50; ++i) {
    const std::string name = MakeFile(i, 400, 300);
    colourOfName[name] = i;
    grid->AppendEntry();
    grid->SetImageFileName(i, name);
  }
  grid->Invalidate();
  headless::ProcessMessages();
  // While the readers run: entries without pictures come in before the
  // loading ones, and loading ones go.
  for (int k = 0; k < 10; ++k) {
    grid->InsertEntry(k * 3);
    if (k % 2) grid->DeleteEntry(k * 5 + 1);
    headless::ProcessMessages();
  }
  ASSERT_TRUE(PaintUntil([&] { return AllLoaded(); }));
  int checked = 0;
  for (int i = 0; i < grid->ImageCount(); ++i) {
    const std::string name = grid->ImageFileName(i);
    if (name.empty()) {
      EXPECT_FALSE(grid->HasImage(i)) << i;
      continue;
    }
    EXPECT_EQ(StoredColour(i), ColourOf(colourOfName[name])) << i << " " << name;
    ++checked;
  }
  EXPECT_EQ(checked, 45);
}

TEST_F(GridLoading, ScrollingAwayCancelsAndTheLatePictureIsNotStored) {
  MakeGrid(220, 120, 1);
  grid->SetGridWidth(1);
  for (int i = 0; i < 6; ++i) {
    grid->AppendEntry();
    grid->SetImageFileName(i, MakeFile(i, 3000, 2000));
  }
  grid->Invalidate();
  headless::ProcessMessages();
  // Entry 0 is being read; scroll it out of sight before it is done.
  for (int i = 0; i < 200 && grid->RunningJobs() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const bool wasRunning = grid->RunningJobs() > 0 && !grid->HasImage(0);
  grid->SetScrollY(4 * 104);
  grid->Invalidate();
  headless::ProcessMessages();  // the paint moves the view; the loader cancels what left it
  grid->PurgeJobs();
  grid->StopLoading();
  headless::ProcessMessages();
  if (!wasRunning) GTEST_SKIP() << "the first picture was read before the view moved";
  EXPECT_FALSE(grid->HasImage(0));
  EXPECT_EQ(grid->RunningJobs(), 0);
}

TEST_F(GridLoading, GridDestroyedWhileReadersRun) {
  for (int round = 0; round < 3; ++round) {
    MakeGrid(600, 400, 4);
    for (int i = 0; i < 12; ++i) {
      grid->AppendEntry();
      grid->SetImageFileName(i, MakeFile(i, 1500, 1000));
    }
    grid->Invalidate();
    headless::ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(round * 20));
    delete form;  // the grid stops its readers and waits for them
    form = nullptr;
    grid = nullptr;
  }
  SUCCEED();
}

TEST_F(GridLoading, UnreadableFileIsReadOnceMoreWhilePaintingAndRemovedWhenAsked) {
  MakeGrid(330, 200, 2);
  grid->IconWhenWrong = false;
  grid->AppendEntry();
  grid->SetImageFileName(0, dir.File("missing.bmp"));
  grid->AppendEntry();
  grid->SetImageFileName(1, MakeFile(1));
  ASSERT_TRUE(PaintUntil([&] { return grid->HasImage(0) && grid->HasImage(1); }));
  EXPECT_EQ(grid->StoredImageWidth(0), 100);  // the placeholder
  grid->RemoveCorrupted = true;
  grid->InsertEntry(0);
  grid->SetImageFileName(0, dir.File("missing2.bmp"));
  ASSERT_TRUE(PaintUntil([&] { return grid->ImageCount() == 2; }));
  EXPECT_EQ(grid->ImageFileName(0), dir.File("missing.bmp"));
}

TEST_F(GridLoading, ThumbStoreReadsReducedAndKeepsTheOriginalSize) {
  MakeGrid(330, 200, 2);
  grid->SetStoreType(ietThumb);
  grid->AppendEntry();
  grid->SetImageFileName(0, MakeFile(7, 1000, 500));
  ASSERT_TRUE(PaintUntil([&] { return grid->HasImage(0); }));
  EXPECT_EQ(grid->StoredImageWidth(0), 100);
  EXPECT_EQ(grid->StoredImageHeight(0), 50);
  EXPECT_EQ(grid->ImageOriginalWidth(0), 1000);
  EXPECT_EQ(grid->ImageOriginalHeight(0), 500);
}

TEST_F(GridLoading, FrameReferenceIntoADcx) {
  // Three pages of different colours in one DCX; the entry names page 1.
  TIEBitmap page(40, 30, ie24RGB);
  const std::string name = dir.File("pages.dcx");
  // Pages are inserted by the filter itself: a save through the component
  // starts a new file each time.
  TMemoryStream dcx;
  for (int p = 0; p < 3; ++p) {
    page.Fill(double(ColourOf(p * 10)));
    TIOParamsVals params(nullptr);
    params.DcxImageIndex = p;
    qvtest::Progress progress;
    dcx.SetPosition(0);
    WriteDCXStream(dcx, page, params, progress.rec);
    ASSERT_FALSE(progress.Aborted());
  }
  dcx.SaveToFile(name);
  MakeGrid(330, 200, 2);
  grid->AppendEntry();
  grid->SetImageFileName(0, name + "::1");
  grid->Invalidate();
  headless::ProcessMessages();
  ASSERT_TRUE(grid->HasImage(0));  // read while painting, never queued
  EXPECT_EQ(StoredColour(0), ColourOf(10));
}

}  // namespace
