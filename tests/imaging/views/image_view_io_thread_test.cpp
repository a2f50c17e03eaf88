// A view's component loading in the background: the worker posts refresh,
// progress and finish to the view's window, and the view hands them to its
// handlers on the user-interface thread; the form is saved for a person to look at.
#include <chrono>
#include <thread>

#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/io/image_lib_io.h"
#include "platform/rtl/streams.h"
#include "platform/ui/forms.h"
#include "platform/ui/picture_file.h"
#include "tests/imaging/io/io_test_support.h"
#include "view_test_support.h"

namespace {

TEST_F(ViewTest, BackgroundLoadNotifiesTheViewOnTheUserInterfaceThread) {
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  RegisterFormatFilters();
  RegisterSpecialFormats();
  MakeView(120, 90);
  // The picture to load, as BMP bytes made in the foreground.
  TIEBitmap picture;
  Pattern(picture, 100, 70);
  auto writer = TImageLibIO::CreateForBitmap(&picture);
  TMemoryStream bmp;
  writer->SaveBMPStream(bmp);
  bmp.SetPosition(0);

  const std::thread::id ui = std::this_thread::get_id();
  std::vector<std::thread::id> progressOn, finishOn;
  int changes = 0;
  view->SetOnProgress([&](TObject*, int) { progressOn.push_back(std::this_thread::get_id()); });
  view->SetOnFinishWork([&](TObject*) { finishOn.push_back(std::this_thread::get_id()); });
  view->OnImageChange = [&](TObject*) { ++changes; };
  TImageLibIO* io = view->GetIO();
  ASSERT_FALSE(io->OwnsBitmap());
  io->Asynchronous = true;
  io->LoadBMPStream(bmp);
  io->WaitThreads(false);
  // Nothing reached the handlers yet: the notifications wait in the queue.
  EXPECT_TRUE(finishOn.empty());
  for (int i = 0; i < 100 && finishOn.empty(); ++i) {
    headless::ProcessMessages();
    if (finishOn.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(finishOn.size(), 1u);
  EXPECT_EQ(finishOn[0], ui);
  ASSERT_FALSE(progressOn.empty());
  for (const auto& id : progressOn) EXPECT_EQ(id, ui);
  EXPECT_GE(changes, 1);
  EXPECT_EQ(view->GetIEBitmap()->Width(), 100);
  Paint();
  // The picture is centred in the larger view.
  EXPECT_EQ(Shown(view->OffsetX() + 10, view->OffsetY() + 10), ColorOf(PatternPixel(10, 10)));
  SavePicturePng(form->Backing(), ViewTestOutput("view_background_load.png"));
}

}  // namespace
