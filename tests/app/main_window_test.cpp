// The main window on the headless back end, driven as a user drives it: the
// start with the example picture, sources of every kind loaded from files,
// option changes served at once or at the next idle moment, and the icon that
// Save writes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <memory>
#include <string>

#include "app/config_file.h"
#include "app/data_module.h"
#include "app/dialogs/select_color.h"
#include "app/main_window.h"
#include "app/picture_transfer.h"
#include "app/program_start.h"
#include "imaging/views/image_view.h"
#include "base/registry_helpers.h"
#include "app_data_model.h"
#include "app_test_util.h"
#include "main_window_fixture.h"
#include "base/image_button.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/special/jpeg2000/j2000_filter.h"
#include "platform/ui/com_ctrls.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/headless/headless_backend.h"
#include "platform/ui/std_ctrls.h"
#include "platform/rtl/paths.h"
#include "platform/win/registry.h"
#include "saved_icon_checks.h"
#include "dialogs/dialog_run.h"
#include "icons/icon_library.h"
#include "platform/ui/menus.h"
#include "platform/ui/actions.h"
#include "app/dialogs/icon_grid.h"
#include "app/dialogs/icon_file_dialogs.h"
#include "tests/icons/mingw_samples.h"
#include "test_support.h"

using namespace apptest;

namespace {

// The pictures of the toolbar strip the generator draws.
constexpr int kToolbarGlyphs = 21;

// Writes a picture file through the library's writers (by extension).
void WritePicture(const std::string& file, TBitmap& picture) {
  TIEBitmap ie;
  Bitmap32ToIEBitmap(picture, ie);
  if (picture.PixelFormat() != pf32bit) ie.RemoveAlphaChannel();
  auto io = TImageLibIO::CreateForBitmap(&ie);
  io->SaveFile(file);
  ASSERT_FALSE(io->Aborting()) << file;
}

class MainWindow : public MainWindowFixture {
protected:
  // Runs the loop until nothing is queued, then one idle round as the loop
  // would when it runs out of messages.
  static void Idle() {
    headless::ProcessMessages();
    fmMain->ProcessPendingUpdates();
    headless::ProcessMessages();
  }
  // What Default Settings leaves, with the whole picture as source.
  static void DefaultSettings(int style, bool background) {
    TfmMain& f = *fmMain;
    f.lbStyles->SetItemIndex(style);
    f.rbAsIs->SetChecked(true);
    for (TTrackBar* t : {f.trHue, f.trSaturation, f.trLightness, f.trOpacity}) t->SetPosition(0);
    f.cbColorize->SetChecked(false);
    f.cbMergeBG->SetChecked(background);
    f.cbShrinkToFit->SetChecked(true);
    f.cbZoomToFit->SetChecked(false);
    f.cbConstrainProportions->SetChecked(true);
    f.cbSmoothResample->SetChecked(true);
    for (TCheckBox* b : {f.cbStyle48, f.cbStyle32, f.cbStyle16, f.cbEffects48, f.cbEffects32, f.cbEffects16})
      b->SetChecked(true);
    for (TCheckBox* b : {f.cbShadow48, f.cbShadow32, f.cbShadow16}) b->SetChecked(false);
    f.img->Deselect();
    f.RebuildPending = true;
  }
  static std::string OutputFile(const std::string& name) {
    const auto dir = std::filesystem::path(QV_BINARY_DIR) / "test-output";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
  }
};

TEST_F(MainWindow, FirstActivationShowsTheExampleWithSelectionStyleAndPreviews) {
  TfmMain& f = *fmMain;
  EXPECT_TRUE(f.Activated);
  EXPECT_EQ(f.lbSource->Caption(), std::string(QV_BINARY_DIR) + "/data/example.jpg");
  EXPECT_EQ(f.SourceMessage(), "");
  EXPECT_EQ(f.FilterIndex, 9);
  EXPECT_EQ(f.il->Count(), kToolbarGlyphs);  // from buttons.png
  EXPECT_EQ(f.trSharpness->Position(), 6);  // a JPEG larger than 48 pixels
  // A 140 x 140 square of the view's centre, in picture pixels at the fitted zoom.
  ASSERT_TRUE(f.img->Selected());
  TRect s{};
  f.img->SelectedRect(s.left, s.top, s.right, s.bottom);
  EXPECT_NEAR((s.right - s.left) * f.img->Zoom() / 100, 140, 2);
  EXPECT_NEAR(s.right - s.left, s.bottom - s.top, 1);  // view pixels rounded to picture pixels
  EXPECT_EQ(f.lbStyles->ItemIndex(), 11);
  EXPECT_EQ(f.lbStyles->Count(), f.StyleLibrary->Icons().Count() + 1);
  EXPECT_EQ(Shapes(*f.ResultIcon),
            (std::vector<std::string>{"48x48x8", "32x32x8", "16x16x8", "48x48x32", "32x32x32", "16x16x32"}));
  Idle();
  EXPECT_FALSE(f.ThumbnailsPending);
  EXPECT_EQ(f.StyleStrip->Height(), 48 * f.lbStyles->Count());
  f.SaveToPng(OutputFile("main_window.png"));

  // The 48-pixel preview shows the styled picture: not one flat colour.
  TBitmap* backing = f.Backing();
  const TRect p = f.pb48->FormRect();
  const int top = p.top + f.ClientTop();
  std::set<uint32_t> colours;
  for (int y = top; y < top + 48; ++y)
    for (int x = p.left; x < p.left + 48; ++x) colours.insert(static_cast<uint32_t*>(backing->ScanLine(y))[x] & 0xFFFFFF);
  EXPECT_GT(colours.size(), 20u);
}

// JPEG 2000 files and code streams open like any other source, with the
// sharpness preset of photographs.
TEST_F(MainWindow, OpensJpeg2000FilesAndCodeStreams) {
  TIEBitmap picture(90, 70, ie24RGB);
  for (int y = 0; y < 70; ++y)
    for (int x = 0; x < 90; ++x) picture.SetPixelRGB(x, y, TRGB{uint8_t(x * 2), uint8_t(y * 3), uint8_t(200 - x)});
  for (const char* name : {"photo.jp2", "photo.j2k"}) {
    SCOPED_TRACE(name);
    TIOParamsVals params(nullptr);
    params.J2000Rate = 1;  // lossless
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    TMemoryStream s;
    WriteJ2000Stream(s, picture, params, std::string(name).ends_with(".j2k") ? 1 : 0, progress);
    ASSERT_FALSE(abort);
    qvtest::WriteFileBytes(dir.File(name), std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size()));
    fmMain->trSharpness->SetPosition(0);
    ASSERT_TRUE(fmMain->LoadSourceImage(dir.File(name)));
    EXPECT_EQ(fmMain->SourceMessage(), "");
    EXPECT_EQ(fmMain->trSharpness->Position(), 6);
    TIEBitmap* shown = fmMain->img->GetIEBitmap();
    ASSERT_EQ(shown->Width(), 90);
    EXPECT_EQ(shown->GetPixelRGB(10, 20), (TRGB{20, 60, 190}));
    Idle();
    fmMain->SaveToPng(OutputFile(std::string("main_window_") + name + ".png"));
  }
}

struct RoadCase {
  const char* name;
  const char* file;
  std::function<std::unique_ptr<TBitmap>()> picture;
  bool background;
  int style;
  int sharpness;  // the preset the load gives
  int rows[3][2];
};
// How the case reads in the test list and in a failure.
void PrintTo(const RoadCase& c, std::ostream* os) { *os << c.name; }

std::unique_ptr<TBitmap> Gradient100x60() {
  return Bitmap24(100, 60, [](int x, int y) { return 0xFF000000u | uint32_t(x * 2) << 16 | uint32_t(y * 4) << 8 | 0x40u; });
}

class MainWindowRoadOracle : public MainWindow, public ::testing::WithParamInterface<RoadCase> {};

TEST_P(MainWindowRoadOracle, SavedIconFromDefaultSettingsWithoutSelection) {
  const RoadCase& c = GetParam();
  const std::string source = dir.File(c.file);
  auto picture = c.picture();
  WritePicture(source, *picture);
  ASSERT_TRUE(fmMain->LoadSourceImage(source));
  EXPECT_EQ(fmMain->trSharpness->Position(), c.sharpness);
  // A new picture starts with the start-up selection; the case wants none.
  EXPECT_TRUE(fmMain->img->Selected());
  DefaultSettings(c.style, c.background);
  Idle();
  const std::string ico = dir.File("result.ico");
  fmMain->ResultIcon->SaveToFile(ico);
  ExpectSavedIcon(ico, SavedIconExpectation{c.name, c.background, c.style,
                                            {{c.rows[0][0], c.rows[0][1]},
                                             {c.rows[1][0], c.rows[1][1]},
                                             {c.rows[2][0], c.rows[2][1]}}});
}

INSTANTIATE_TEST_SUITE_P(
    Sources, MainWindowRoadOracle,
    ::testing::Values(
        RoadCase{"bmp100x60", "a.bmp", Gradient100x60, false, 0, 0, {{10, 37}, {6, 25}, {3, 12}}},
        RoadCase{"pngAlphaGradient64",
                 "b.png",
                 [] {
                   return Bitmap32(64, 64, [](int x, int y) { return uint32_t(x * 4) << 24 | uint32_t(y * 4) << 8 | 0x80u; });
                 },
                 false,
                 0,
                 0,
                 {{-1, -1}, {-1, -1}, {-1, -1}}},
        RoadCase{"large1000x500",
                 "c.png",
                 [] {
                   return Bitmap24(1000, 500,
                                   [](int x, int y) { return 0xFF000000u | uint32_t(x % 256) << 16 | uint32_t(y % 256); });
                 },
                 false,
                 0,
                 0,
                 {{12, 35}, {8, 23}, {4, 11}}},
        RoadCase{"jpegSharpened",
                 "d.jpg",
                 [] {
                   return Bitmap24(120, 80, [](int x, int y) {
                     return 0xFF000000u | uint32_t(x * 2) << 16 | uint32_t(y * 3) << 8 | uint32_t((x + y) % 200);
                   });
                 },
                 false,
                 0,
                 6,
                 {{8, 39}, {-1, -1}, {-1, -1}}},
        RoadCase{"style1", "e.bmp", [] {
                   return Bitmap24(64, 64, [](int x, int y) { return 0xFF000000u | uint32_t(x * 4) << 16 | uint32_t(y * 4) << 8; });
                 },
                 false, 1, 0, {{-1, -1}, {-1, -1}, {-1, -1}}},
        RoadCase{"backgroundWhite", "f.bmp", Gradient100x60, true, 0, 0, {{0, 47}, {0, 31}, {0, 15}}}),
    [](const ::testing::TestParamInfo<RoadCase>& p) { return std::string(p.param.name); });

// Sources the window cannot use: the red message for five seconds, the base
// icon as it was, and no rebuild.
TEST_F(MainWindow, UnusableSourcesShowTheRedMessageAndKeepTheIcon) {
  struct Case {
    const char* file;
    std::vector<uint8_t> bytes;
    bool unknownFormat;  // else: the icon file gives no image
  };
  const std::vector<Case> cases = {
      {"noise.dat", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}, true},
      {"empty.png", {}, true},
      // A Targa header whose pixels are missing.
      {"cut.tga", {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0, 64, 0, 24, 0, 0x10}, true},
      // An icon directory whose only entry points past the end of the file.
      {"none.ico", {0, 0, 1, 0, 1, 0, 32, 32, 0, 0, 1, 0, 32, 0, 0, 4, 0, 0, 22, 0, 0, 0}, false},
  };
  const std::vector<std::string> before = Shapes(*fmMain->BaseIcon);
  for (const Case& c : cases) {
    const std::string file = dir.File(c.file);
    qvtest::WriteFileBytes(file, c.bytes);
    const int rebuilds = fmMain->RebuildCount();
    const bool loaded = fmMain->LoadSourceImage(file);
    EXPECT_FALSE(loaded) << c.file;
    const std::string message = fmMain->SourceMessage();
    if (c.unknownFormat)
      EXPECT_EQ(message, "Unknown file format: " + file);
    else
      EXPECT_EQ(message, NoImageSourceMessage(file));
    EXPECT_FALSE(fmMain->lbSource->Visible());
    EXPECT_EQ(fmMain->RebuildCount(), rebuilds) << c.file;
    EXPECT_EQ(Shapes(*fmMain->BaseIcon), before);
    // The message goes after five seconds.
    Headless().AdvanceClock(4990);
    headless::ProcessMessages();
    EXPECT_EQ(fmMain->SourceMessage(), message);
    Headless().AdvanceClock(20);
    headless::ProcessMessages();
    EXPECT_EQ(fmMain->SourceMessage(), "");
    EXPECT_TRUE(fmMain->lbSource->Visible());
  }
}

// A GIF goes through the library's GIF filter into the view.
TEST_F(MainWindow, AGifSourceLoadsIntoTheView) {
  TIEBitmap picture(30, 20, ie24RGB);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) picture.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 8), uint8_t(y * 12), 90));
  const std::string file = dir.File("source.gif");
  auto io = TImageLibIO::CreateForBitmap(&picture);
  io->SaveFile(file);
  ASSERT_FALSE(io->Aborting());
  EXPECT_TRUE(fmMain->LoadSourceImage(file));
  EXPECT_EQ(fmMain->SourceMessage(), "");
  EXPECT_EQ(fmMain->img->GetIEBitmap()->Width(), 30);
  EXPECT_EQ(fmMain->img->GetIEBitmap()->Height(), 20);
}

TEST_F(MainWindow, ASourceMessageGoesAtAClickOrAKey) {
  fmMain->LoadSourceImage(dir.File("missing.png"));
  ASSERT_NE(fmMain->SourceMessage(), "");
  headless::Click(fmMain->pnSrc);
  headless::ProcessMessages();
  EXPECT_EQ(fmMain->SourceMessage(), "");
  fmMain->LoadSourceImage(dir.File("missing.png"));
  headless::PressKey(VK_SHIFT);
  headless::ProcessMessages();
  EXPECT_EQ(fmMain->SourceMessage(), "");
}

// Option controls either rebuild the base icon at once, leave it to the next
// idle moment, or recompute only the result from it.
TEST_F(MainWindow, ControlsRebuildAtOnceAtIdleOrOnlyTheResult) {
  DefaultSettings(0, false);
  Idle();
  TfmMain& f = *fmMain;
  struct Step {
    const char* what;
    std::function<void()> act;
    int rebuildsNow;   // rebuilds done by the action itself
    bool pending;      // a rebuild waits for the idle moment
    bool resultChange; // the display icon changes at once
  };
  const std::vector<Step> steps = {
      {"Left bottom pixel", [&] { headless::Click(f.rbLeftBottom); }, 1, false, true},
      {"Zoom to fit", [&] { headless::Click(f.cbZoomToFit); }, 0, true, false},
      {"selection", [&] {
         headless::MouseDown(f.img, 100, 100);
         headless::MouseMove(f.img, 150, 130);
         headless::MouseUp(f.img, 150, 130);
       }, 0, true, false},
      {"Hue", [&] { f.trHue->SetPosition(90); }, 0, false, true},
      {"Shadow 32", [&] { headless::Click(f.cbShadow32); }, 0, false, true},
      {"style 2", [&] {
         const TRect item = f.lbStyles->ItemRect(2);
         headless::Click(f.lbStyles, 20, (item.top + item.bottom) / 2);
       }, 0, false, true},
  };
  for (const Step& s : steps) {
    const int rebuilds = f.RebuildCount();
    TAdvancedIcon display;
    display.Assign(f.DisplayIcon.get());
    s.act();
    headless::ProcessMessages();
    EXPECT_EQ(f.RebuildCount(), rebuilds + s.rebuildsNow) << s.what;
    EXPECT_EQ(f.RebuildPending, s.pending) << s.what;
    bool same = display.Count() == f.DisplayIcon->Count();
    for (int i = 0; same && i < display.Count(); ++i) {
      const Image a = Read(*display.Images().GetItem(i)), b = Read(*f.DisplayIcon->Images().GetItem(i));
      same = a.px == b.px;
    }
    EXPECT_EQ(!same, s.resultChange) << s.what;
    f.ProcessPendingUpdates();
    EXPECT_EQ(f.RebuildCount(), rebuilds + s.rebuildsNow + (s.pending ? 1 : 0)) << s.what;
    EXPECT_FALSE(f.ThumbnailsPending);
  }
  // The selection was square (the view keeps it so) and is what the icon shows.
  ASSERT_TRUE(f.img->Selected());
  TRect r{};
  f.img->SelectedRect(r.left, r.top, r.right, r.bottom);
  EXPECT_EQ(r.right - r.left, r.bottom - r.top);
}

// Processing the queue inside a rebuild may bring another rebuild request
// (an option clicked meanwhile); it must wait for the idle moment instead of
// running inside the first.
TEST_F(MainWindow, ARebuildRequestedDuringARebuildRunsAfterIt) {
  Idle();
  TfmMain& f = *fmMain;
  const int rebuilds = f.RebuildCount();
  headless::Click(f.rbLeftBottom);  // queued: runs inside the rebuild's message processing
  f.RebuildBaseIcon();
  EXPECT_EQ(f.RebuildCount(), rebuilds + 1);
  EXPECT_TRUE(f.rbLeftBottom->Checked());
  EXPECT_TRUE(f.RebuildPending);
  f.ProcessPendingUpdates();
  EXPECT_EQ(f.RebuildCount(), rebuilds + 2);
  EXPECT_FALSE(f.RebuildPending);
}

// The window's own picture sources: icons and cursors through the icon model
// (their best 48-pixel image keeps its alpha), and an icon as the result.
TEST_F(MainWindow, AnIconSourceGivesItsBestImageWithAlpha) {
  auto picture = Bitmap32(48, 48, [](int x, int y) {
    const bool inside = (x - 24) * (x - 24) + (y - 24) * (y - 24) < 20 * 20;
    return inside ? 0xFF2080E0u : 0x00000000u;
  });
  TAdvancedIcon icon;
  icon.Images().AddBitmap(picture.get(), nullptr, 80);
  const std::string file = dir.File("round.ico");
  icon.SaveToFile(file);
  DefaultSettings(0, false);
  ASSERT_TRUE(fmMain->LoadSourceImage(file));
  EXPECT_EQ(fmMain->SourceFileType, sftIconOrCursor);
  EXPECT_EQ(fmMain->SourceExt, "ico");
  ASSERT_TRUE(fmMain->img->GetIEBitmap()->HasAlphaChannel());
  EXPECT_EQ(fmMain->img->GetIEBitmap()->GetAlpha(0, 0), 0);
  EXPECT_EQ(fmMain->img->GetIEBitmap()->GetAlpha(24, 24), 255);
  Idle();
  TSubIcon* big = fmMain->DisplayIcon->FindImage(48, 48, 32);
  ASSERT_NE(big, nullptr);
  const Image out = Read(*big);
  EXPECT_EQ(out.alpha(0, 0), 0);
  EXPECT_EQ(out.alpha(24, 24), 255);
}

TEST_F(MainWindow, ClosingWritesThePlacementToTheSettingsFile) {
  fmMain->SetBounds(40, 30, 700, 520);
  headless::CloseWindow(fmMain);
  headless::ProcessMessages();
  TConfigFile ini(GetConfigFileName());
  EXPECT_EQ(ini.ReadInteger("Cfg", "WinWidth", 0), 700);
  EXPECT_EQ(ini.ReadInteger("Cfg", "WinHeight", 0), 520);
  EXPECT_EQ(ini.ReadInteger("Cfg", "WinLeft", 0), 40);
  EXPECT_TRUE(ini.ReadBool("Cfg", "SaveWinSize", false));
}

// Settings that cannot be written: the user is told once, and the window
// closes all the same.
TEST_F(MainWindow, SettingsThatCannotBeWrittenAreToldAndTheWindowStillCloses) {
  const std::filesystem::path folder = std::filesystem::path(NativePath(GetConfigFileName())).parent_path();
  std::filesystem::remove_all(folder);
  qvtest::WriteFileBytes(folder.string(), {'x'});  // a file where the folder should be
  std::vector<std::string> boxes;
  Headless().Then([&] {
    boxes.push_back(Screen->ActiveForm()->Caption());
    headless::PressKey(VK_RETURN);
  });
  headless::CloseWindow(fmMain);
  headless::ProcessMessages();
  EXPECT_EQ(boxes, std::vector<std::string>{kProgramName});
  EXPECT_TRUE(Application->Terminated());
}

// A program folder without its data files: no style but "none", the red
// message for the missing example picture, and a window that works.
class MainWindowWithoutData : public MainWindow {
protected:
  std::string ProgramFolder() override { return dir.File("bare") + "/"; }
};

TEST_F(MainWindowWithoutData, StartsWithNoStylesAndSaysTheExampleIsMissing) {
  EXPECT_EQ(fmMain->lbStyles->Count(), 1);
  EXPECT_EQ(fmMain->il->Count(), kToolbarGlyphs);  // the built-in strip
  EXPECT_EQ(fmMain->SourceMessage(), "Unknown file format: " + dir.File("bare") + "/data/example.jpg");
  EXPECT_EQ(fmMain->ResultIcon->Count(), 0);
  Idle();
  const std::string source = dir.File("a.bmp");
  auto picture = Gradient100x60();
  WritePicture(source, *picture);
  ASSERT_TRUE(fmMain->LoadSourceImage(source));
  Idle();
  EXPECT_EQ(fmMain->ResultIcon->Count(), 6);
  EXPECT_EQ(fmMain->StyleStrip->Height(), 48);
}

}  // namespace

namespace {

// While the view shows the colour-pick cursor the picture is a palette to pick
// from: requests wait, and the rebuild that ends the mode serves them.
TEST_F(MainWindow, NoRebuildInColourPickMode) {
  Idle();
  TfmMain& f = *fmMain;
  const int rebuilds = f.RebuildCount();
  const TCursor before = f.img->ViewCursor();
  f.img->SetViewCursor(crColorPick);
  ASSERT_TRUE(f.InColorPickMode());
  headless::Click(f.cbZoomToFit);
  headless::Click(f.rbLeftBottom);  // a rebuild at once, in other modes
  Idle();
  EXPECT_EQ(f.RebuildCount(), rebuilds);
  EXPECT_FALSE(f.RebuildPending);
  f.img->SetViewCursor(before);
  f.RebuildBaseIcon();
  EXPECT_EQ(f.RebuildCount(), rebuilds + 1);
  EXPECT_EQ(f.img->MouseInteract(), TIEMouseInteract{miSelect});
}

// The colour buttons ask for a colour; a chosen one goes to the button and
// ticks its box, which recomputes the result; a cancelled question changes
// nothing.
TEST_F(MainWindow, ColourButtonsSetTheirColourAndTickTheirBox) {
  TfmMain& f = *fmMain;
  DefaultSettings(0, false);
  // A picture whose left half is clear.
  auto picture = Bitmap32(64, 64, [](int x, int) { return x < 32 ? 0u : 0xFF20A040u; });
  const std::string source = dir.File("half.png");
  WritePicture(source, *picture);
  ASSERT_TRUE(f.LoadSourceImage(source));
  Idle();
  std::vector<TColor> asked;
  TColor answer = 0x0000FF;
  bool cancel = true;
  f.ChooseColor = [&](TColor& c) {
    asked.push_back(c);
    if (cancel) return false;
    c = answer;
    return true;
  };
  headless::Click(f.btColorMergeBG);
  headless::ProcessMessages();
  EXPECT_EQ(asked, std::vector<TColor>{clWhite});
  EXPECT_FALSE(f.cbMergeBG->Checked());
  EXPECT_EQ(f.btColorMergeBG->Color(), clWhite);

  cancel = false;
  headless::Click(f.btColorMergeBG);
  headless::ProcessMessages();
  EXPECT_TRUE(f.cbMergeBG->Checked());
  EXPECT_EQ(f.btColorMergeBG->Color(), TColor(0x0000FF));
  // Merged onto red: the clear half of the 32-pixel preview image is opaque red.
  const Image merged = Read(*f.DisplayIcon->FindImage(32, 32, 32));
  EXPECT_EQ(merged.at(2, 16), 0xFFFF0000u);

  answer = 0x00FF00;
  headless::Click(f.btColorColorize);
  headless::ProcessMessages();
  EXPECT_TRUE(f.cbColorize->Checked());
  EXPECT_EQ(f.btColorColorize->Color(), TColor(0x00FF00));
  // A second colour for a ticked box still recomputes the result.
  TAdvancedIcon before;
  before.Assign(f.DisplayIcon.get());
  answer = 0xFF0000;
  headless::Click(f.btColorColorize);
  headless::ProcessMessages();
  EXPECT_NE(Read(*before.FindImage(48, 48, 32)).px, Read(*f.DisplayIcon->FindImage(48, 48, 32)).px);
}

}  // namespace

namespace {

// The whole picture goes to the converter where the view keeps it; whatever
// the converter does (its one-time reduction, a colour key) leaves the
// picture the user sees as it was.
TEST_F(MainWindow, RebuildsLeaveTheViewsPictureAsItWas) {
  TfmMain& f = *fmMain;
  DefaultSettings(0, false);
  auto picture = Bitmap24(1000, 500, [](int x, int y) { return 0xFF000000u | uint32_t(x % 256) << 16 | uint32_t(y % 256); });
  const std::string source = dir.File("wide.bmp");
  WritePicture(source, *picture);
  ASSERT_TRUE(f.LoadSourceImage(source));
  Idle();
  auto expectUnchanged = [&](const char* what) {
    TIEBitmap* view = f.img->GetIEBitmap();
    ASSERT_EQ(view->Width(), 1000) << what;
    ASSERT_EQ(view->Height(), 500) << what;
    for (int y : {0, 250, 499})
      for (int x : {0, 300, 999}) {
        const uint8_t* p = view->PixelAddress(y, x, 3);  // blue, green, red
        EXPECT_EQ(p[2], x % 256) << what;
        EXPECT_EQ(p[0], y % 256) << what;
      }
  };
  EXPECT_EQ(Shapes(*f.BaseIcon), (std::vector<std::string>{"48x48x32", "32x32x32", "16x16x32"}));
  expectUnchanged("as is");
  headless::Click(f.rbLeftBottom);  // keys the bottom-left pixel's colour out
  headless::ProcessMessages();
  expectUnchanged("left bottom pixel");
}

}  // namespace

namespace {

// Without a stand-in the colour buttons ask through the program's colour
// picker.
TEST_F(MainWindow, ColourButtonsAskThroughTheColourPicker) {
  TfmMain& f = *fmMain;
  Headless().Then([] {
    SelectColorForm()->edHex->SetText("#00FF00");
    headless::Click(SelectColorForm()->btOk);
  });
  headless::Click(f.btColorColorize);
  headless::ProcessMessages();
  EXPECT_EQ(f.btColorColorize->Color(), TColor(0x00FF00));
  EXPECT_TRUE(f.cbColorize->Checked());
  Headless().Then([] { headless::Click(SelectColorForm()->btCancel); });
  headless::Click(f.btColorMergeBG);
  headless::ProcessMessages();
  EXPECT_EQ(f.btColorMergeBG->Color(), clWhite);
  EXPECT_FALSE(f.cbMergeBG->Checked());
}

}  // namespace

namespace {

// A damaged Photoshop file raises from its reader: the error goes to the
// application's handler (the cursor back to normal, the message shown), and
// the view and the icon keep what they held.
TEST_F(MainWindow, ADamagedPictureFileLeavesViewAndIconAsTheyWere) {
  TfmMain& f = *fmMain;
  Idle();
  const std::string file = dir.File("cut.psd");
  qvtest::WriteFileBytes(file, {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 64, 0, 0, 0, 64, 0, 8, 0, 3});
  const int width = f.img->GetIEBitmap()->Width();
  const std::vector<std::string> before = Shapes(*f.ResultIcon);
  const int rebuilds = f.RebuildCount();
  std::vector<std::string> shown;
  Headless().Then([&] {
    if (Screen->ActiveForm() != fmMain) shown.push_back(Screen->ActiveForm()->Caption());
    headless::PressKey(VK_RETURN);
  });
  try {
    f.LoadSourceImage(file);
  } catch (...) {
    Application->HandleException(nullptr);
  }
  headless::ProcessMessages();
  EXPECT_EQ(shown, std::vector<std::string>{"Quorvane 1.0"});
  EXPECT_EQ(Screen->Cursor(), crDefault);
  EXPECT_EQ(f.img->GetIEBitmap()->Width(), width);
  EXPECT_EQ(Shapes(*f.ResultIcon), before);
  EXPECT_EQ(f.RebuildCount(), rebuilds);
}

// Every byte of the view's picture and its alpha channel.
std::vector<uint8_t> ViewBytes(TImageLibView& view) {
  std::vector<uint8_t> out;
  TIEBitmap* picture = view.GetIEBitmap();
  for (TIEBitmap* b : {picture, picture->HasAlphaChannel() ? picture->AlphaChannel() : nullptr}) {
    if (!b) continue;
    out.push_back(uint8_t(b->Width()));
    out.push_back(uint8_t(b->Height()));
    for (int y = 0; y < b->Height(); ++y) {
      const uint8_t* row = b->ScanLine(y);
      out.insert(out.end(), row, row + (int64_t(b->Width()) * b->BitCount() + 7) / 8);
    }
  }
  return out;
}

std::vector<uint8_t> IconBytes(TAdvancedIcon& icon) {
  TMemoryStream stream;
  if (icon.Count() > 0) icon.SaveToStream(stream);
  const auto* p = static_cast<const uint8_t*>(stream.Memory());
  return std::vector<uint8_t>(p, p + stream.Size());
}

// A file that gives no picture puts back the picture the window had, with its
// selection: the base icon and the icon Save writes stay as they were, also
// when the next option change rebuilds them.
TEST_F(MainWindow, AFailedLoadPutsBackThePictureTheBaseIconAndTheResult) {
  TfmMain& f = *fmMain;
  Idle();
  // A JPEG cut in the middle of its data decodes to a half-grey picture.
  auto picture = Gradient100x60();
  const std::string whole = dir.File("whole.jpg");
  WritePicture(whole, *picture);
  std::vector<uint8_t> half = qvtest::ReadFileBytes(whole);
  half.resize(half.size() / 2);
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"half.jpg", half},
      {"empty.jpg", {}},
      {"cut.tga", {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0, 64, 0, 24, 0, 0x10}},
  };
  const std::vector<uint8_t> view = ViewBytes(*f.img);
  const std::vector<uint8_t> base = IconBytes(*f.BaseIcon);
  const std::vector<uint8_t> result = IconBytes(*f.ResultIcon);
  int left = 0, top = 0, right = 0, bottom = 0;
  f.img->SelectedRect(left, top, right, bottom);
  ASSERT_TRUE(f.img->Selected());
  ASSERT_FALSE(base.empty());
  bool saved = false;
  for (const auto& [name, bytes] : files) {
    const std::string file = dir.File(name);
    qvtest::WriteFileBytes(file, bytes);
    EXPECT_FALSE(f.LoadSourceImage(file)) << name;
    EXPECT_EQ(f.SourceMessage(), "Unknown file format: " + file) << name;
    Idle();
    if (!saved) {
      f.SaveToPng(OutputFile("main-window-failed-load.png"));
      saved = true;
    }
    EXPECT_TRUE(ViewBytes(*f.img) == view) << name;
    EXPECT_TRUE(f.img->Selected()) << name;
    int l = 0, t = 0, r = 0, b = 0;
    f.img->SelectedRect(l, t, r, b);
    EXPECT_EQ(std::vector<int>({l, t, r, b}), std::vector<int>({left, top, right, bottom})) << name;
    // The next change of an option builds from the picture put back.
    f.RebuildPending = true;
    Idle();
    EXPECT_TRUE(IconBytes(*f.BaseIcon) == base) << name;
    EXPECT_TRUE(IconBytes(*f.ResultIcon) == result) << name;
    EXPECT_EQ(f.SourceFileType, sftJpeg) << name;
  }
}

}  // namespace

namespace {

// A dropped file becomes the source; a folder among the dropped names makes
// the drop load nothing, whichever place it has.
TEST_F(MainWindow, DroppedFileIsLoadedUnlessAFolderComesWithIt) {
  TfmMain& f = *fmMain;
  Idle();
  auto picture = Gradient100x60();
  const std::string file = dir.File("dropped.bmp");
  WritePicture(file, *picture);
  const std::string folder = dir.File("folder");
  std::filesystem::create_directories(folder);
  const std::string shown = f.lbSource->Caption();
  for (const auto& names : {std::vector<std::string>{folder, file}, std::vector<std::string>{file, folder}}) {
    const int rebuilds = f.RebuildCount();
    headless::DropFiles(f.img, names, 40, 40);
    headless::ProcessMessages();
    EXPECT_EQ(f.RebuildCount(), rebuilds);
    EXPECT_EQ(f.lbSource->Caption(), shown);
  }
  headless::DropFiles(f.img, {file, dir.File("other.png")}, 40, 40);
  headless::ProcessMessages();
  EXPECT_EQ(f.lbSource->Caption(), file);
  EXPECT_EQ(f.img->GetIEBitmap()->Width(), 100);
}

}  // namespace

namespace {

// The open dialog of the data module starts at the last file opened, as the
// settings file remembers it; its grid does no default drawing.
TEST_F(MainWindow, TheOpenDialogStartsAtTheLastFileOpened) {
  const std::string file = dir.File("last.png");
  qvtest::WriteFileBytes(file, {1, 2, 3});
  {
    TConfigFile ini(GetConfigFileName());
    ini.WriteString("Last", "Open", file);
  }
  Tdm module(nullptr);
  EXPECT_EQ(module.OpenDialog->FileName(), file);
  EXPECT_FALSE(module.OpenDialog->GridDefaultDrawing());
  EXPECT_TRUE(module.OpenDialog->Options().Contains(ofFileMustExist));
  EXPECT_EQ(module.SaveIconDialog->Filter(), "Icon (*.ico)|*.ico");
}

}  // namespace

namespace {

// The View menu by keyboard alone: Alt+V lights its first item, Return runs
// it (Zoom In), and the window zooms.
TEST_F(MainWindow, TheViewMenuRunsAZoomByKeyboardAlone) {
  TfmMain& f = *fmMain;
  Idle();
  const double zoom = f.img->Zoom();
  std::vector<std::string> captions;
  Headless().Then([&] {
    TCustomForm* menu = ActivePopupForm();
    ASSERT_NE(menu, nullptr);
    menu->SaveToPng(OutputFile("main-window-view-menu.png"));
    headless::PressKey(VK_RETURN);
  });
  headless::PressKey('V', {ssAlt});
  Idle();
  EXPECT_EQ(ActivePopupForm(), nullptr);
  EXPECT_GT(f.img->Zoom(), zoom);
  EXPECT_FALSE(f.aDisplayAutoZoom->Checked());
  // The items show their own captions beside the shortcuts.
  TMenuItem* view = f.mnScale1->Parent()->Parent();
  for (int i = 0; i < view->Count(); ++i) captions.push_back(view->Items(i)->Caption());
  EXPECT_EQ(std::vector<std::string>(captions.begin(), captions.begin() + 4),
            (std::vector<std::string>{"Zoom In", "Zoom Out", "Zoom Factor", "Automatic Zoom"}));
}

// The open dialog starts at the last name with its text selected, so that a
// name typed at once replaces it.
TEST_F(MainWindow, TheNameTypedAfterOpeningTheDialogIsTheNameOpened) {
  TfmMain& f = *fmMain;
  Idle();
  auto picture = Gradient100x60();
  WritePicture(dir.File("alpha.png"), *picture);
  WritePicture(dir.File("beta.bmp"), *picture);
  dm->OpenDialog->SetFileName(dir.File("alpha.png"));
  std::string shownName;
  Headless().Then([&] {
    headless::TypeText("beta.bmp");
    headless::PressKey(VK_RETURN);
  });
  f.aFileOpenExecute(nullptr);
  Idle();
  EXPECT_EQ(f.lbSource->Caption(), dir.File("beta.bmp"));
  EXPECT_EQ(f.SourceMessage(), "");
}

// An executable chosen in the open dialog gives the window the icon picked in
// the dialog's grid, as that icon's own file would.
TEST_F(MainWindow, TheIconPickedInAnExecutableReachesThePreviews) {
  if (!mingwtest::HaveTools()) GTEST_SKIP() << "mingw-w64 cross tools missing";
  TfmMain& f = *fmMain;
  Idle();
  qvtest::TempDir work;
  mingwtest::WriteSamples(work);
  mingwtest::WriteText(work.File("r.rc"), "1 ICON \"a.ico\"\n2 ICON \"b.ico\"\n3 ICON \"c.ico\"\n");
  ASSERT_TRUE(mingwtest::Build(work, "i686-w64-mingw32-windres r.rc -O coff -o r.o && i686-w64-mingw32-gcc -s m.c r.o -o t.exe"));
  // What b.ico gives the window on its own.
  ASSERT_TRUE(f.LoadSourceImage(work.File("b.ico")));
  Idle();
  const std::vector<uint8_t> view = ViewBytes(*f.img);
  const std::vector<uint8_t> result = IconBytes(*f.ResultIcon);
  ASSERT_TRUE(f.LoadSourceImage(work.File("a.ico")));
  Idle();
  ASSERT_FALSE(ViewBytes(*f.img) == view);

  dm->OpenDialog->SetFileName(work.File("m.c"));
  dm->OpenDialog->SetFilterIndex(17);  // All files
  std::string caption;
  Headless().Then([&] { DialogRun::Select("t.exe"); });
  Headless().Then([&] {
    // The second icon, chosen from the keyboard.
    TOpenIcoDialog& dialog = *dm->OpenDialog;
    caption = dialog.Caption();
    headless::Click(dialog.Grid, 4, 4);
    headless::PressKey(VK_RIGHT);
  });
  Headless().Then([&] {
    Screen->ActiveForm()->SaveToPng(OutputFile("open-dialog-executable.png"));
    DialogRun::Press("&Open");
  });
  f.aFileOpenExecute(nullptr);
  Idle();
  EXPECT_EQ(caption, "Icons: 3");
  EXPECT_EQ(dm->OpenDialog->IconIndex, 1);
  EXPECT_EQ(f.lbSource->Caption(), work.File("t.exe"));
  EXPECT_EQ(f.SourceMessage(), "");
  EXPECT_TRUE(ViewBytes(*f.img) == view);
  EXPECT_TRUE(IconBytes(*f.ResultIcon) == result);
}

// TIFF sources: an LZW photo and a Group 4 fax page (made by ImageMagick) open
// in the view at their size and rebuild the icon.
TEST_F(MainWindow, OracleOpensAnLzwPhotoAndAGroup4Page) {
  if (!qvtest::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick missing";
  TfmMain& f = *fmMain;
  Idle();
  const std::string photo = dir.File("photo.tif"), page = dir.File("page.tif");
  ASSERT_EQ(qvtest::RunCommand("convert -size 200x150 gradient:red-blue -compress lzw '" + photo + "'"), 0);
  ASSERT_EQ(qvtest::RunCommand("convert -size 300x200 xc:white -fill black -draw 'circle 150,100 150,30' "
                               "-draw 'rectangle 20,20 80,180' -monochrome -compress group4 '" + page + "'"),
            0);
  f.LoadSourceImage(photo);
  Idle();
  EXPECT_EQ(f.lbSource->Caption(), photo);
  EXPECT_EQ(f.img->GetIEBitmap()->Width(), 200);
  EXPECT_EQ(f.img->GetIEBitmap()->Height(), 150);
  const TRGB left = f.img->GetIEBitmap()->GetPixelAsRGB(0, 0), bottom = f.img->GetIEBitmap()->GetPixelAsRGB(0, 149);
  EXPECT_GT(left.r, 200);
  EXPECT_GT(bottom.b, 200);
  f.SaveToPng(OutputFile("main_window_tiff_lzw.png"));
  f.LoadSourceImage(page);
  Idle();
  EXPECT_EQ(f.img->GetIEBitmap()->Width(), 300);
  EXPECT_EQ(f.img->GetIEBitmap()->Height(), 200);
  const TRGB centre = f.img->GetIEBitmap()->GetPixelAsRGB(150, 100), corner = f.img->GetIEBitmap()->GetPixelAsRGB(295, 5);
  EXPECT_EQ(centre.r, 0);
  EXPECT_EQ(corner.r, 255);
  f.SaveToPng(OutputFile("main_window_tiff_g4.png"));
}

}  // namespace
