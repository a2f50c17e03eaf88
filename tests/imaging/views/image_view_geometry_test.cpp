// Zoom, scrolling and the mapping between view and bitmap, checked against
// what the view really shows on its form.
#include <filesystem>
#include <vector>

#include "imaging/views/image_view.h"
#include "platform/rtl/rounding.h"
#include "platform/ui/messages.h"
#include "platform/win/system_info.h"
#include "view_test_support.h"

std::string ViewTestOutput(const std::string& name) {
  std::filesystem::path dir = std::filesystem::path(QV_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

namespace {

TEST_F(ViewTest, NewViewHasTheDocumentedDefaults) {
  MakeView();
  EXPECT_EQ(view->Zoom(), 100);
  EXPECT_EQ(view->DpiX(), 300);
  EXPECT_EQ(view->DpiY(), 300);
  EXPECT_EQ(view->ScrollBars(), ssBoth);
  EXPECT_TRUE(view->LegacyBitmap());
  EXPECT_NE(view->GetBitmap(), nullptr);
  EXPECT_EQ(view->ViewCursor(), 1785);
  EXPECT_EQ(view->GetLayersCount(), 1);
  EXPECT_TRUE(view->GetLayer(0)->Locked);
  EXPECT_FALSE(view->GetLayer(0)->VisibleBox);
  EXPECT_TRUE(view->IsEmpty());  // nothing shown yet
  EXPECT_EQ(view->GetImageLibVersion(), "4.3.0");
  EXPECT_TRUE(view->SelectionOptions().Contains(iesoAnimated));
  EXPECT_TRUE(view->SelectionOptions().Contains(iesoCanScroll));
  EXPECT_FALSE(view->SelectionOptions().Contains(iesoFilled));
}

TEST_F(ViewTest, ZoomAtOrBelowZeroIsIgnoredButAnnounced) {
  MakeView();
  ShowPattern(40, 30);
  std::vector<std::pair<int, double>> changing;
  view->OnViewChanging = [&](TObject*, int change, double v) { changing.push_back({change, v}); };
  view->SetZoom(0);
  view->SetZoom(-5);
  EXPECT_EQ(view->Zoom(), 100);
  ASSERT_EQ(changing.size(), 2u);
  EXPECT_EQ(changing[0], std::make_pair(2, 0.0));
  EXPECT_EQ(changing[1], std::make_pair(2, -5.0));
}

TEST_F(ViewTest, SmallPictureIsCentredWithoutBars) {
  MakeView(200, 150);
  ShowPattern(41, 30);
  EXPECT_EQ(view->OffsetX(), (200 - 41) / 2);
  EXPECT_EQ(view->OffsetY(), (150 - 30) / 2);
  EXPECT_EQ(view->ViewX(), 0);
  EXPECT_FALSE(ScrollBarVisible(view->Handle(), SB_HORZ));
  EXPECT_FALSE(ScrollBarVisible(view->Handle(), SB_VERT));
  Paint();
  EXPECT_EQ(Shown(view->OffsetX(), view->OffsetY()), ColorOf(PatternPixel(0, 0)));
  EXPECT_EQ(Shown(view->OffsetX() + 40, view->OffsetY() + 29), ColorOf(PatternPixel(40, 29)));
  EXPECT_EQ(Shown(view->OffsetX() - 1, view->OffsetY()), ColorToRGB(clBtnFace));  // the background
}

TEST_F(ViewTest, AtThreeHundredPercentEachPixelTakesThreeColumns) {
  MakeView(200, 150);
  view->SetCenter(false);
  ShowPattern(10, 10);
  view->SetZoom(300);
  EXPECT_EQ(view->ExtentX(), 30);
  for (int x = 0; x < 30; ++x) EXPECT_EQ(view->ScreenToBitmapX(x), x / 3) << x;
  for (int bx = 0; bx < 10; ++bx) EXPECT_EQ(view->BitmapToScreenX(bx), bx * 3) << bx;
  Paint();
  for (int x = 0; x < 30; ++x) EXPECT_EQ(Shown(x, 4), ColorOf(PatternPixel(x / 3, 1))) << x;
}

// Over zooms and scroll positions the pixel shown at a column is the one ScreenToBitmapX names there.
TEST_F(ViewTest, ShownPixelsFollowScreenToBitmapAtEveryZoomAndScroll) {
  MakeView(160, 120);
  ShowPattern(300, 220);
  const double zooms[] = {5, 10, 33, 50, 66.6, 75, 100, 125, 150, 200, 250, 300, 333, 800, 1600};
  for (double z : zooms) {
    view->SetZoom(z);
    int maxX = 0, maxY = 0;
    view->GetMaxViewXY(maxX, maxY);
    const int positions[][2] = {{0, 0}, {maxX / 3, maxY / 2}, {maxX, maxY}};
    for (const auto& pos : positions) {
      view->SetViewXY(pos[0], pos[1]);
      Paint();
      SCOPED_TRACE(testing::Message() << "zoom " << z << " at " << view->ViewX() << "," << view->ViewY());
      int bad = 0;
      for (int y = view->OffsetY(); y < view->OffsetY() + std::min(view->DrawHeight(), view->ScreenHeightOfSource()); y += 7)
        for (int x = view->OffsetX(); x < view->OffsetX() + std::min(view->DrawWidth(), view->ScreenWidthOfSource()); ++x) {
          const int bx = view->ScreenToBitmapX(x), by = view->ScreenToBitmapY(y);
          ASSERT_GE(bx, 0);
          ASSERT_LT(bx, 300);
          if (Shown(x, y) != ColorOf(PatternPixel(bx, by)) && ++bad < 4) ADD_FAILURE() << x << "," << y;
        }
    }
  }
}

TEST_F(ViewTest, ScrollBarsTakeClientSpaceAndScaleToSixteenBits) {
  MakeView(200, 150);
  ShowPattern(100, 100);
  view->SetZoom(400);
  EXPECT_TRUE(ScrollBarVisible(view->Handle(), SB_HORZ));
  EXPECT_TRUE(ScrollBarVisible(view->Handle(), SB_VERT));
  EXPECT_EQ(view->GetViewWidth(), 200 - GetSystemMetrics(SM_CXVSCROLL));
  EXPECT_EQ(view->GetViewHeight(), 150 - GetSystemMetrics(SM_CYHSCROLL));
  int maxX = 0, maxY = 0;
  view->GetMaxViewXY(maxX, maxY);
  // One more pixel of room: (100 + 1) x 4 less the view.
  EXPECT_EQ(maxX, 404 - view->GetViewWidth());
  SCROLLINFO si;
  si.fMask = SIF_ALL;
  GetScrollInfo(view->Handle(), SB_HORZ, &si);
  EXPECT_EQ(si.nMin, 0);
  EXPECT_EQ(si.nMax, 65535);
  EXPECT_DOUBLE_EQ(view->HScrollFactor(), (view->GetViewWidth() + maxX) / 65536.0);
  view->SetViewX(maxX);
  EXPECT_EQ(GetScrollPos(view->Handle(), SB_HORZ), int(Round(maxX / view->HScrollFactor())));
  EXPECT_LE(GetScrollPos(view->Handle(), SB_HORZ), 65535);
}

struct ScrollCase {
  WORD code;
  int from;
  int expected;  // -1: the maximum
};

TEST_F(ViewTest, ScrollMessagesMoveByLinesPagesAndThumb) {
  MakeView(200, 150);
  ShowPattern(100, 100);
  view->SetZoom(300);
  int maxX = 0, maxY = 0;
  view->GetMaxViewXY(maxX, maxY);
  const int page = view->GetViewWidth();
  const ScrollCase cases[] = {
      {SB_LINEDOWN, 10, 13}, {SB_LINEUP, 10, 7},          {SB_PAGEDOWN, 0, page},
      {SB_PAGEUP, 150, 150 - page}, {SB_TOP, 50, 0},      {SB_BOTTOM, 0, -1},
      {SB_ENDSCROLL, 40, 40},
  };
  for (const ScrollCase& c : cases) {
    view->SetViewX(c.from);
    view->Perform(WM_HSCROLL, c.code, 0);
    EXPECT_EQ(view->ViewX(), c.expected == -1 ? maxX : std::clamp(c.expected, 0, maxX)) << c.code;
  }
  // The thumb: position times the factor; a track is ignored without Tracking.
  view->SetViewX(0);
  view->Perform(WM_HSCROLL, MAKELONG(SB_THUMBTRACK, 10000), 0);
  EXPECT_EQ(view->ViewX(), int(Round(10000 * view->HScrollFactor())));
  view->HScrollBarParams().Tracking = false;
  view->Perform(WM_HSCROLL, MAKELONG(SB_THUMBTRACK, 0), 0);
  EXPECT_NE(view->ViewX(), 0);
  view->Perform(WM_HSCROLL, MAKELONG(SB_THUMBPOSITION, 0), 0);
  EXPECT_EQ(view->ViewX(), 0);
  // LineStep counts zoomed pixels.
  view->HScrollBarParams().LineStep = 5;
  view->ScrollHorizontal(3, 0);
  EXPECT_EQ(view->ViewX(), 15);
}

TEST_F(ViewTest, ZoomKeepsTheCentreOnTheSameBitmapPoint) {
  MakeView(200, 150);
  ShowPattern(200, 200);
  view->SetZoom(200);
  view->SetViewXY(100, 80);
  const int cx = view->GetViewWidth() / 2, cy = view->GetViewHeight() / 2;
  const int bx = view->ScreenToBitmapX(cx), by = view->ScreenToBitmapY(cy);
  view->SetZoom(400);
  EXPECT_NEAR(view->ScreenToBitmapX(cx), bx, 1);
  EXPECT_NEAR(view->ScreenToBitmapY(cy), by, 1);
}

TEST_F(ViewTest, ZoomAtKeepsThePointUnderThePointer) {
  MakeView(200, 150);
  ShowPattern(200, 200);
  view->SetZoom(150);
  const int bx = view->ScreenToBitmapX(60), by = view->ScreenToBitmapY(40);
  view->ZoomAt(60, 40, 500, false);
  EXPECT_EQ(view->Zoom(), 500);
  EXPECT_NEAR(view->ScreenToBitmapX(60), bx, 1);
  EXPECT_NEAR(view->ScreenToBitmapY(40), by, 1);
  view->ZoomAt(60, 40, 300, true);  // centred on the point
  EXPECT_NEAR(view->ScreenToBitmapX(view->GetViewWidth() / 2), view->ScreenToBitmapX(view->GetViewWidth() / 2), 0);
}

TEST_F(ViewTest, FitZoomPerBackgroundStyleAndBorder) {
  MakeView(200, 150);
  ShowPattern(400, 100);
  struct Case {
    TIEBackgroundStyle style;
    TBorderStyle border;
    int margin;
  } cases[] = {{iebsSolid, bsNone, 0}, {iebsCropShadow, bsNone, 5}, {iebsSoftShadow, bsNone, 9},
               {iebsSolid, bsSingle, GetSystemMetrics(SM_CXEDGE)}};
  for (const Case& c : cases) {
    view->SetBackgroundStyle(c.style);
    view->SetBorderStyle(c.border);
    const double expected = std::min((200 - 2 * c.margin) / 4.0, (150 - 2 * c.margin) / 1.0);
    EXPECT_DOUBLE_EQ(view->GetFitZoom(), expected) << int(c.style);
  }
  view->SetBorderStyle(bsNone);
  view->SetBackgroundStyle(iebsSolid);
  view->Fit();
  EXPECT_DOUBLE_EQ(view->Zoom(), 50);
  EXPECT_FALSE(ScrollBarVisible(view->Handle(), SB_HORZ));
}

TEST_F(ViewTest, AutoFitRefitsOnResizeAndIgnoresTheWheel) {
  MakeView(200, 150, 400, 300);
  view->SetAutoFit(true);
  ShowPattern(400, 100);
  EXPECT_DOUBLE_EQ(view->Zoom(), 50);
  view->SetBounds(0, 0, 100, 150);
  EXPECT_DOUBLE_EQ(view->Zoom(), 25);
  view->Perform(WM_MOUSEWHEEL, MAKELONG(0, 120), 0);
  EXPECT_DOUBLE_EQ(view->Zoom(), 25);
  ShowPattern(1, 1);
  EXPECT_DOUBLE_EQ(view->Zoom(), 100);  // a 1 x 1 picture is shown as it is
}

TEST_F(ViewTest, ForwardWheelZoomsOutByEightPercentOfTheZoom) {
  MakeView(200, 150);
  ShowPattern(100, 100);
  view->SetZoom(200);
  view->Perform(WM_MOUSEWHEEL, MAKELONG(0, 120), 0);
  EXPECT_DOUBLE_EQ(view->Zoom(), 184);
  view->Perform(WM_MOUSEWHEEL, MAKELONG(0, static_cast<WORD>(-120)), 0);
  EXPECT_DOUBLE_EQ(view->Zoom(), 184 + 15);  // round(8 x 184 / 100) = 15
  view->MouseWheelParams().InvertWheel = true;
  view->Perform(WM_MOUSEWHEEL, MAKELONG(0, 120), 0);
  EXPECT_DOUBLE_EQ(view->Zoom(), 199 + 16);
  // Scrolling by wheel: vertically unless Ctrl.
  view->MouseWheelParams().InvertWheel = false;
  view->MouseWheelParams().Action = 1;
  view->MouseWheelParams().Variation = 0;
  view->SetViewXY(0, 0);
  view->Perform(WM_MOUSEWHEEL, MAKELONG(0, static_cast<WORD>(-120)), 0);
  EXPECT_EQ(view->ViewY(), 8 * 2);
  EXPECT_EQ(view->ViewX(), 0);
}

TEST_F(ViewTest, UpdateTakesASecondPassWhenBarsAppear) {
  MakeView(200, 150);
  ShowPattern(195, 100);  // fits until the vertical bar takes its width
  view->SetZoom(140);
  // With both bars shown the maxima are computed for the smaller client area.
  int maxX = 0, maxY = 0;
  view->GetMaxViewXY(maxX, maxY);
  EXPECT_EQ(view->GetViewWidth(), 200 - GetSystemMetrics(SM_CXVSCROLL));
  EXPECT_GT(maxX, 0);
  EXPECT_GT(maxY, 0);
}

TEST_F(ViewTest, BitmapChangeHandlersHearChangesAndTheEnd) {
  MakeView();
  std::vector<std::string> heard;
  void* a = view->AddBitmapChangeHandler([&](TObject*, TIEViewLink*, int code) { heard.push_back("a" + std::to_string(code)); }, nullptr);
  view->AddBitmapChangeHandler([&](TObject*, TIEViewLink*, int code) { heard.push_back("b" + std::to_string(code)); }, nullptr);
  void* twice = view->AddBitmapChangeHandler([&](TObject*, TIEViewLink*, int code) { heard.push_back("c" + std::to_string(code)); }, nullptr);
  view->AddBitmapChangeHandler([&](TObject*, TIEViewLink*, int code) { heard.push_back("c" + std::to_string(code)); }, nullptr);
  view->RemoveBitmapChangeHandler(twice);
  view->RemoveBitmapChangeHandler(nullptr);
  view->RemoveBitmapChangeHandler(&heard);  // not a handle: ignored
  view->NotifyBitmapChange();
  EXPECT_EQ(heard, (std::vector<std::string>{"a0", "b0", "c0"}));
  heard.clear();
  // A handler that removes itself while hearing of the end.
  void* self = nullptr;
  self = view->AddBitmapChangeHandler(
      [&](TObject*, TIEViewLink* v, int code) {
        heard.push_back("self" + std::to_string(code));
        v->RemoveBitmapChangeHandler(self);
      },
      nullptr);
  (void)a;
  delete view;
  view = nullptr;
  EXPECT_EQ(heard, (std::vector<std::string>{"a1", "b1", "c1", "self1"}));
}

TEST_F(ViewTest, SetDpiIgnoresZero) {
  MakeView();
  view->SetDPI(0, 150);
  EXPECT_EQ(view->DpiX(), 300);
  EXPECT_EQ(view->DpiY(), 150);
}

}  // namespace

namespace {

TEST_F(ViewTest, DraggingTheScrollBarThumbScrollsTheView) {
  MakeView(200, 150);
  ShowPattern(100, 100);
  view->SetZoom(400);
  view->SetViewXY(0, 0);
  const int bar = view->GetViewWidth();  // the vertical bar's left edge
  const int thick = GetSystemMetrics(SM_CXVSCROLL);
  // The arrow at the bottom: one line down.
  headless::Click(view, bar + 2, view->GetViewHeight() - 3);
  headless::ProcessMessages();
  EXPECT_EQ(view->ViewY(), 4);
  // The thumb, dragged 30 pixels down: tracked while it moves, placed at the end.
  headless::MouseDown(view, bar + 2, thick + 3);
  headless::ProcessMessages();
  headless::MouseMove(view, bar + 2, thick + 33);
  headless::ProcessMessages();
  const int tracked = view->ViewY();
  EXPECT_GT(tracked, 4);
  headless::MouseUp(view, bar + 2, thick + 33);
  headless::ProcessMessages();
  EXPECT_EQ(view->ViewY(), tracked);
  EXPECT_FALSE(view->Selected());  // the bar took the press, not the view
}

}  // namespace
