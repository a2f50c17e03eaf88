// What the view paints: the chessboard behind transparent pixels, composing
// only when needed, hint boxes, the attached components, cursors, and two
// screenshots for a person to look at.
#include <cmath>
#include <filesystem>

#include "imaging/core/ie_startup.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/io/image_lib_io.h"
#include "platform/graphics/gdi.h"
#include "platform/ui/cursors.h"
#include "platform/ui/forms.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/picture_file.h"
#include "platform/ui/std_ctrls.h"
#include "view_test_support.h"

namespace {

constexpr TColor kScrollBarGrey = 212 | (208 << 8) | (200 << 16);

// A 16 x 16 icon: an opaque red disc on a transparent ground, half-transparent rim.
void MakeIcon(TIEBitmap& b) {
  b.Allocate(16, 16, ie24RGB);
  b.Fill(0x0000FF);
  TIEBitmap* a = b.AlphaChannel();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const int d2 = (x - 8) * (x - 8) + (y - 8) * (y - 8);
      a->SetPixel8(x, y, d2 < 25 ? 255 : d2 < 36 ? 128 : 0);
    }
  a->SetFull(false);
}

TEST_F(ViewTest, IconWithAlphaAtEightHundredPercentShowsTheChessboard) {
  MakeView(128, 128);
  view->SetBackground(clWhite);
  view->SetBackgroundStyle(iebsChessboard);
  MakeIcon(*view->GetIEBitmap());
  view->Update();
  view->SetZoom(800);
  Paint();
  ASSERT_EQ(view->OffsetX(), 0);
  // Transparent corner pixels show squares of 16 alternating white and the scroll-bar grey.
  EXPECT_EQ(Shown(2, 2), clWhite);
  EXPECT_EQ(Shown(17, 2), kScrollBarGrey);
  EXPECT_EQ(Shown(17, 17), clWhite);
  EXPECT_EQ(Shown(2, 17), kScrollBarGrey);
  EXPECT_EQ(Shown(127, 127), clWhite);
  EXPECT_EQ(Shown(64, 64), clRed);  // the opaque middle
  const TColor rim = Shown(8 * 8 + 2, 8 * 3 + 2);  // pixel (8, 3): half transparent over its square
  EXPECT_NE(rim, clRed);
  EXPECT_NE(rim, clWhite);
}

TEST_F(ViewTest, OpaqueCoverSkipsTheBackgroundAndExposureDoesNotRecompose) {
  MakeView(100, 80);
  int backgrounds = 0;
  view->OnDrawBackground = [&](TObject*, TCanvas*, const TRect&, bool&) { ++backgrounds; };
  ShowPattern(300, 300);
  view->SetScrollBars(ssNone);
  Paint();
  EXPECT_EQ(backgrounds, 0);
  const int composed = view->Compositions();
  view->Invalidate();  // an exposure: the buffer is copied again, not composed
  headless::ProcessMessages();
  EXPECT_EQ(view->Compositions(), composed);
  view->SetViewX(10);
  headless::ProcessMessages();
  EXPECT_EQ(view->Compositions(), composed + 1);
  ShowPattern(20, 20);  // now the background shows around the picture
  Paint();
  EXPECT_GT(backgrounds, 0);
}

TEST_F(ViewTest, OpaquePictureSmallerThanTheViewLeavesNoStalePixels) {
  // The background fills only the margins around an opaque picture; the
  // picture must then paint every pixel of its rectangle, at any zoom, filter,
  // scroll position and background style. A fuchsia frame first: any pixel
  // painted by neither shows it.
  struct Case {
    TIEBackgroundStyle style;
    double zoom;
    TResampleFilter filter;
    int viewX, viewY;
  } cases[] = {
      {iebsSolid, 33, rfNone, 0, 0},         {iebsSolid, 57, rfTriangle, 0, 0},
      {iebsChessboard, 100, rfNone, 0, 0},   {iebsChessboard, 73, rfTriangle, 0, 0},
      {iebsChessboard, 250, rfNone, 40, 0},  {iebsSolid, 180, rfTriangle, 0, 35},
      {iebsSolid, 100, rfNone, 0, 0},
  };
  MakeView(200, 150);
  view->SetScrollBars(ssNone);
  view->SetBackground(clWhite);
  for (const Case& c : cases) {
    TIEBitmap& b = *view->GetIEBitmap();
    b.Allocate(300, 300, ie24RGB);
    b.Fill(0xFF00FF);
    view->SetZoomFilter(rfNone);
    view->Update();
    view->SetZoom(100);
    Paint();
    ASSERT_EQ(Shown(100, 75), clFuchsia);
    Pattern(b, 120, 70);
    view->SetBackgroundStyle(c.style);
    view->SetZoomFilter(c.filter);
    view->Update();
    view->SetZoom(c.zoom);
    view->SetViewXY(c.viewX, c.viewY);
    Paint();
    int stale = 0, margin = 0;
    for (int y = 0; y < 150; ++y)
      for (int x = 0; x < 200; ++x) {
        const TColor shown = Shown(x, y);
        stale += shown == clFuchsia;
        const bool inside = x >= view->OffsetX() && y >= view->OffsetY() && x < 200 - view->OffsetX() &&
                            y < 150 - view->OffsetY();
        margin += !inside && shown != clWhite && shown != kScrollBarGrey;
      }
    EXPECT_EQ(stale, 0) << "zoom " << c.zoom << " filter " << int(c.filter) << " style " << int(c.style);
    EXPECT_EQ(margin, 0) << "zoom " << c.zoom << " filter " << int(c.filter) << " style " << int(c.style);
  }
}

TEST_F(ViewTest, HintBoxAtANegativePlaceIsDrawnAtZero) {
  MakeView(200, 100);
  view->SetBackground(clWhite);
  ShowPattern(1, 1);
  view->SetInteractionHint("X=1 Y=2", -30, -40, "X=000 Y=000");
  Paint();
  // The box's fill starts 6 pixels in: white weighed with the hint's yellow.
  const TColor inside = Shown(10, 10);
  EXPECT_EQ(GetRValue(COLORREF(inside)), 255);
  EXPECT_LT(GetBValue(COLORREF(inside)), 200);
  EXPECT_EQ(Shown(3, 3), clWhite);
  view->SetEnableInteractionHints(false);
  Paint();
  EXPECT_EQ(Shown(10, 10), clWhite);
}

TEST_F(ViewTest, ComponentsAreMadeOnceAndTakeTheHandlers) {
  MakeView();
  int progress = 0;
  view->SetOnProgress([&](TObject*, int) { ++progress; });
  TImageLibIO* io = view->GetIO();
  EXPECT_EQ(view->GetIO(), io);
  EXPECT_EQ(io->AttachedImageLib(), view);
  ASSERT_TRUE(io->OnProgress);
  io->OnProgress(io, 50);
  view->SetOnFinishWork([&](TObject*) { progress += 10; });
  ASSERT_TRUE(io->OnFinishWork);
  io->OnFinishWork(io);
  EXPECT_EQ(progress, 11);
  TImageLibProc* proc = view->GetProc();
  EXPECT_EQ(view->GetProc(), proc);
  EXPECT_EQ(proc->AttachedImageLib(), view);
  EXPECT_TRUE(proc->OnProgress);
  // The private messages of background work reach the stored handlers.
  view->Perform(WM_USER + 7003, 40, 0);
  view->Perform(WM_USER + 7004, 0, 0);
  EXPECT_EQ(progress, 22);
}

TEST_F(ViewTest, LegacyBitmapOffAndOnKeepsThePixels) {
  MakeView();
  ShowPattern(30, 20);
  view->SetLegacyBitmap(false);
  EXPECT_EQ(view->GetBitmap(), nullptr);
  EXPECT_EQ(ColorOf(view->GetIEBitmap()->GetPixelRGB(29, 19)), ColorOf(PatternPixel(29, 19)));
  view->SetLegacyBitmap(true);
  TBitmap* b = view->GetBitmap();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Canvas()->Pixels(29, 19), ColorOf(PatternPixel(29, 19)));
  // Drawing on the framework bitmap is what the view shows.
  b->SetSize(40, 20);
  view->Update();
  EXPECT_EQ(view->IEBitmapWidth(), 40);
}

TEST_F(ViewTest, BlankEmptiesAndAnImageChangeFillsAgain) {
  MakeView();
  ShowPattern(30, 20);
  EXPECT_FALSE(view->IsEmpty());
  view->Blank();
  EXPECT_TRUE(view->IsEmpty());
  EXPECT_EQ(view->GetIEBitmap()->Width(), 1);
  view->SetBackground(clGreen);  // a new background is no picture
  EXPECT_TRUE(view->IsEmpty());
  ShowPattern(30, 20);
  EXPECT_FALSE(view->IsEmpty());
}

TEST_F(ViewTest, LoadedBmpIsShownFitted) {
  MakeView(200, 150);
  view->SetAutoFit(true);
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(400, 100);
  bmp.Canvas()->Brush()->SetColor(clBlue);
  bmp.Canvas()->FillRect(Rect(0, 0, 400, 100));
  const std::string file = ViewTestOutput("view_loaded.bmp");
  bmp.SaveToFile(file);
  RegisterFormatFilters();
  RegisterSpecialFormats();
  LibraryStaticInit();
  view->GetIO()->LoadFile(file);
  EXPECT_FALSE(view->GetIO()->Aborting());
  EXPECT_DOUBLE_EQ(view->Zoom(), 50);
  EXPECT_FALSE(view->IsEmpty());
  Paint();
  EXPECT_EQ(Shown(100, 75), clBlue);
}

TEST_F(ViewTest, ViewCursorsAreRegistered) {
  MakeView();
  for (int id = 1778; id <= 1814; ++id) {
    HCURSOR c = Screen->Cursors(id);
    ASSERT_NE(c, nullptr) << id;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(c, &info)) << id;
    EXPECT_FALSE(info.fIcon);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
  }
  EXPECT_EQ(ViewCursorResourceName(1806), "1803");
  EXPECT_EQ(ViewCursorResourceName(1796), "CROCE2-");
  // A sheet of them to look at.
  TBitmap sheet;
  sheet.SetPixelFormat(pf24bit);
  sheet.SetSize(37 * 36, 40);
  sheet.Canvas()->Brush()->SetColor(0xC0C0C0);
  sheet.Canvas()->FillRect(Rect(0, 0, 37 * 36, 40));
  for (int id = 1778; id <= 1814; ++id)
    DrawIconEx(sheet.Canvas()->Handle(), (id - 1778) * 36 + 2, 4, Screen->Cursors(id), 32, 32, 0, nullptr, DI_NORMAL);
  SavePicturePng(&sheet, ViewTestOutput("view_cursors.png"));
}

TEST_F(ViewTest, SoftShadowDarkensTheRimOutsideThePicture) {
  MakeView(120, 100);
  view->SetBackground(clWhite);
  view->SetBackgroundStyle(iebsSoftShadow);
  ShowPattern(60, 40);
  Paint();
  const int right = view->OffsetX() + 60, bottom = view->OffsetY() + 40;
  EXPECT_LT(GetRValue(COLORREF(Shown(right + 1, bottom + 1))), 200);  // in the shadow
  EXPECT_EQ(Shown(right + 8, bottom + 8), clWhite);                  // beyond it
  EXPECT_EQ(Shown(view->OffsetX(), view->OffsetY()), ColorOf(PatternPixel(0, 0)));
  SavePicturePng(form->Backing(), ViewTestOutput("view_soft_shadow.png"));
}

// A control of the form's, with its caption and place on its parent.
template <class T>
T* Place(TWinControl* parent, const std::string& caption, const TRect& bounds) {
  auto* control = new T(GetParentForm(parent));
  control->SetParent(parent);
  control->SetCaption(caption);
  control->SetBoundsRect(bounds);
  return control;
}

TEST_F(ViewTest, ViewAmongOtherControlsOnAFormRepaintsEveryPixel) {
  // A tool bar above, a status line below, a label on the form under the view's
  // corner: the view paints its own rectangle, the form and the others the rest.
  form = MakeForm(420, 300);
  int formPaints = 0;
  form->OnPaint = [&](TObject*) {
    ++formPaints;
    form->Canvas()->Brush()->SetColor(clRed);  // would show through anything not painted over
    form->Canvas()->FillRect(Rect(0, 0, 420, 300));
  };
  auto* tools = Place<TPanel>(form, "", Rect(0, 0, 420, 34));
  Place<TButton>(tools, "Open...", Rect(6, 5, 86, 29));
  Place<TCheckBox>(tools, "Fit", Rect(96, 8, 156, 26));
  Place<TLabel>(form, "under the view", Rect(2, 258, 122, 274));
  Place<TPanel>(form, "900 x 600, 24 bits", Rect(0, 276, 420, 300));
  view = new TImageLibView(form);
  view->SetParent(form);
  view->SetBorderStyle(bsNone);
  view->SetBounds(40, 40, 340, 230);
  form->Show();
  headless::ProcessMessages();
  view->SetBackgroundStyle(iebsChessboard);
  view->SetZoomFilter(rfTriangle);
  TIEBitmap& photo = *view->GetIEBitmap();
  photo.Allocate(900, 600, ie24RGB);
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 900; ++x)
      photo.SetPixelRGB(x, y, MakeRGB(uint8_t(60 + x / 5), uint8_t(90 + y / 4), uint8_t(200 - (x + y) / 10)));
  view->Update();
  view->Fit();
  headless::ProcessMessages();
  // Scribbled over, then repainted whole: every pixel is someone's again.
  TCanvas* shown = form->Backing()->Canvas();
  shown->Brush()->SetColor(clFuchsia);
  shown->FillRect(Rect(0, 0, 420, 300));
  form->Invalidate();
  const int before = formPaints;
  headless::ProcessMessages();
  EXPECT_EQ(formPaints, before + 1);
  const std::string file = ViewTestOutput("view_among_controls_marked.png");
  SavePicturePng(form->Backing(), file);
  int scribbled = 0;
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 420; ++x) scribbled += shown->Pixels(x, y) == clFuchsia;
  EXPECT_EQ(scribbled, 0) << "see " << file;
  // The picture fills the view's middle; the form's own red shows only outside it.
  const TPoint mid = Point(40 + 170, 40 + 115);
  EXPECT_NE(shown->Pixels(mid.x, mid.y), clRed);
  EXPECT_EQ(shown->Pixels(20, 150), clRed);
  EXPECT_EQ(shown->Pixels(300, 10), ColorToRGB(clBtnFace)) << "the tool bar";
  // The corner label's part outside the view is drawn; inside, the view wins.
  int labelInk = 0;
  for (int y = 258; y < 274; ++y)
    for (int x = 2; x < 40; ++x) labelInk += shown->Pixels(x, y) != clRed && shown->Pixels(x, y) != clFuchsia;
  EXPECT_GT(labelInk, 0);
  // The same form as a person sees it, without the red marking.
  form->OnPaint = nullptr;
  form->SaveToPng(ViewTestOutput("view_among_controls.png"));
}

// ---- for a person to look at ----

TEST_F(ViewTest, ScreenshotOfAFittedPhotoAndAZoomedIconWithSelection) {
  MakeView(320, 220);
  view->SetBackground(clWhite);
  view->SetBackgroundStyle(iebsChessboard);
  view->SetAutoFit(true);
  view->SetZoomFilter(rfTriangle);
  TIEBitmap& photo = *view->GetIEBitmap();
  photo.Allocate(900, 600, ie24RGB);
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 900; ++x) {
      const int sky = y < 360;
      const double hill = 360 + 50 * std::sin(x / 90.0);
      TRGB p = sky ? MakeRGB(uint8_t(90 + y / 4), uint8_t(150 + y / 6), 240)
                   : MakeRGB(uint8_t(40 + x % 30), uint8_t(120 + (x * y) % 40), 50);
      if (!sky && y < hill) p = MakeRGB(110, 150, 90);
      if ((x - 700) * (x - 700) + (y - 120) * (y - 120) < 2500) p = MakeRGB(255, 220, 80);
      photo.SetPixelRGB(x, y, p);
    }
  view->Update();
  view->ImageChange();
  Paint();
  SavePicturePng(form->Backing(), ViewTestOutput("view_fitted_photo.png"));

  view->SetAutoFit(false);
  view->SetZoomFilter(rfNone);  // enlarged pixels stay crisp, as the icon maker shows them
  MakeIcon(*view->GetIEBitmap());
  view->Update();
  view->SetZoom(800);
  view->SetViewXY(0, 0);
  view->SetSelectionBase(iesbBitmap);
  view->Select(4, 4, 13, 12);
  view->SetInteractionHint("X=4 Y=4", 150, 20, "X=000 Y=000");
  Paint();
  SavePicturePng(form->Backing(), ViewTestOutput("view_zoomed_icon.png"));
  EXPECT_TRUE(std::filesystem::exists(ViewTestOutput("view_zoomed_icon.png")));
}

}  // namespace
