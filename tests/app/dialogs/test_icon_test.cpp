// The test window: the icon saved to a temporary file under a free name,
// loaded back as the window's icon, and every image drawn on the four bands.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/dialogs/test_icon.h"
#include "../app_test_util.h"
#include "app_ui_test.h"
#include "base/path_utils.h"
#include "icons/advanced_icon.h"
#include "platform/graphics/graphics_icon.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/std_ctrls.h"

using namespace headless;
using namespace apptest;

namespace {

// Six images: 48, 32, 16 at 8 bits, then at 32 bits; each a flat colour with
// a transparent left column.
std::unique_ptr<TAdvancedIcon> SixImages() {
  auto icon = std::make_unique<TAdvancedIcon>();
  for (int bits : {8, 32})
    for (int s : {48, 32, 16}) {
      auto b = Bitmap32(s, s, [](int x, int) { return x == 0 ? 0x00000000u : 0xFF20A040u; });
      if (bits == 8) {
        TBitmap mask;
        mask.SetPixelFormat(pf1bit);
        mask.SetSize(s, s);
        mask.Canvas()->Brush()->SetColor(clBlack);
        mask.Canvas()->FillRect(TRect{0, 0, s, s});
        mask.Canvas()->Brush()->SetColor(clWhite);
        mask.Canvas()->FillRect(TRect{0, 0, 1, s});
        b->SetPixelFormat(pf8bit);
        icon->Images().AddBitmap(b.get(), &mask, 0);
      } else {
        icon->Images().AddBitmap(b.get(), nullptr, 80);
      }
    }
  return icon;
}

class TestIconWindow : public AppUiTest {};

TEST_F(TestIconWindow, TemporaryNameStepsAroundAFileThatCannotBeRemoved) {
  const std::string folder = dir.Path().string() + "/";
  EXPECT_EQ(FreeTestIconPath(folder), folder + "t$$$$.ico");
  // A file that is only stale goes.
  qvtest::WriteFileBytes(folder + "t$$$$.ico", {1, 2, 3});
  EXPECT_EQ(FreeTestIconPath(folder), folder + "t$$$$.ico");
  EXPECT_FALSE(FileExists(folder + "t$$$$.ico"));
  // One that stays (a folder by that name stands for a locked file) is stepped around.
  std::filesystem::create_directories(folder + "t$$$$.ico");
  std::filesystem::create_directories(folder + "t$$$$1.ico");
  EXPECT_EQ(FreeTestIconPath(folder), folder + "t$$$$2.ico");
}

TEST_F(TestIconWindow, ShowsTheIconAsItsOwnAndEveryImageOnFourBands) {
  auto icon = SixImages();
  ASSERT_EQ(Shapes(*icon), (std::vector<std::string>{"48x48x8", "32x32x8", "16x16x8", "48x48x32", "32x32x32", "16x16x32"}));
  bool iconSet = false, label = false, ownButton = false;
  uint32_t px[4][6] = {};
  uint32_t bands[4] = {};
  std::string caption;
  Headless().Then([&] {
    TfmTestIcon& f = *OpenTestIconWindow();
    caption = f.Caption();
    iconSet = !f.Icon()->Empty();
    label = f.lbNotIconXP->Visible();
    ownButton = Headless().HasTaskbarButton(f.Handle());
    TBitmap* b = f.im->Picture()->Bitmap();
    const int ys[6] = {4, 56, 92, 112, 164, 200};
    for (int band = 0; band < 4; ++band) {
      const int x = band * 90 + 29;
      // A pixel inside each image (right of its transparent column), and the band below them all.
      for (int i = 0; i < 6; ++i) px[band][i] = b->Canvas()->Pixels(x + 5, ys[i] + 5) & 0xFFFFFF;
      bands[band] = b->Canvas()->Pixels(x, 230) & 0xFFFFFF;
    }
    // The transparent column shows the band.
    EXPECT_EQ(b->Canvas()->Pixels(29, 10) & 0xFFFFFF, 0u);
    EXPECT_EQ(b->Canvas()->Pixels(270 + 29, 10) & 0xFFFFFF, 0xFFFFFFu);
    f.SaveToPng(OutputFile("test_icon_window.png"));
    Click(f.btClose);
  });
  ShowTestIcon(icon.get());
  EXPECT_EQ(caption, "Test Icon");
  EXPECT_TRUE(iconSet);
  EXPECT_FALSE(label);  // this platform draws semitransparent icons
  EXPECT_TRUE(ownButton);
  const uint32_t bandColours[4] = {0x000000, 0x808080, 0xC0C0C0, 0xFFFFFF};
  for (int band = 0; band < 4; ++band) {
    EXPECT_EQ(bands[band], bandColours[band]) << band;
    // The 8-bit images hold the nearest palette colour; the 32-bit ones their own.
    for (int i = 0; i < 3; ++i) EXPECT_NE(px[band][i], bandColours[band]) << band << " image " << i;
    for (int i = 3; i < 6; ++i) EXPECT_EQ(px[band][i], 0x40A020u) << band << " image " << i;
  }
  // The temporary file is gone again.
  EXPECT_FALSE(FileExists(GetTempDir() + "t$$$$.ico"));
}

TEST_F(TestIconWindow, AnEmptyIconIsRefusedBeforeTheWindowShows) {
  TAdvancedIcon empty;
  EXPECT_THROW(ShowTestIcon(&empty), Exception);
  EXPECT_EQ(OpenTestIconWindow(), nullptr);
}

}  // namespace
