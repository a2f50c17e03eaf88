// What the thumbnail grid paints: every cell style in screenshots a person
// looks at (build/test-output/thumb_grid_*.png), a few pixels pinned, and a
// stored thumbnail against Pillow's area-average reduction.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "imaging/core/ie_bitmap.h"
#include "imaging/views/thumb_grid.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/picture_file.h"
#include "platform/ui/ui_test_support.h"
#include "test_support.h"
#include "view_test_support.h"

namespace {

class GridPaint : public UiTest {
protected:
  TForm* form = nullptr;
  TImageLibMView* grid = nullptr;

  void MakeGrid(int width, int height) {
    form = MakeForm(width + 20, height + 20);
    grid = new TImageLibMView(form);
    grid->SetParent(form);
    grid->SetBorderStyle(bsNone);
    grid->SetBounds(0, 0, width, height);
    grid->SetThreadPoolSize(0);
    grid->SetGridWidth(-1);
    form->Show();
    headless::ProcessMessages();
  }
  void Paint() {
    grid->Invalidate();
    headless::ProcessMessages();
  }
  TColor Shown(int x, int y) { return form->Backing()->Canvas()->Pixels(grid->Left() + x, grid->Top() + y); }
  void Save(const std::string& name) { SavePicturePng(form->Backing(), ViewTestOutput(name)); }

  // Six pictures: landscape gradient, portrait, tiny, with alpha, grey, palette.
  void FillEntries() {
    for (int k = 0; k < 6; ++k) {
      const int i = grid->AppendEntry();
      TIEBitmap b;
      switch (k) {
        case 0:
          b.Allocate(160, 90, ie24RGB);
          for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 160; ++x) b.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 255 / 159), uint8_t(y * 2), 60));
          break;
        case 1:
          b.Allocate(60, 120, ie24RGB);
          b.Fill(0x2080E0);
          break;
        case 2:
          b.Allocate(16, 16, ie24RGB);
          b.Fill(0x00A000);
          break;
        case 3: {
          b.Allocate(80, 80, ie24RGB);
          b.Fill(0x0000FF);
          TIEBitmap* a = b.AlphaChannel();
          for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 80; ++x) {
              const int d2 = (x - 40) * (x - 40) + (y - 40) * (y - 40);
              a->SetPixel8(x, y, d2 < 900 ? 255 : d2 < 1600 ? 120 : 0);
            }
          a->SetFull(false);
          break;
        }
        case 4:
          b.Allocate(100, 70, ie8g);
          for (int y = 0; y < 70; ++y)
            for (int x = 0; x < 100; ++x) b.SetPixel8(x, y, uint8_t((x + y) * 255 / 170));
          break;
        case 5:
          b.Allocate(50, 50, ie8p);
          for (int c = 0; c < 4; ++c) b.SetPaletteColor(c, MakeRGB(uint8_t(c * 80), 40, uint8_t(255 - c * 60)));
          for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 50; ++x) b.SetPixel8(x, y, uint8_t((x / 13 + y / 13) % 4));
          break;
      }
      grid->SetImage(i, &b);
      grid->ImageBottomText(i)->Caption = k == 0 ? "a rather long file name.jpg" : "pic" + std::to_string(k);
      grid->ImageInfoText(i)->Caption = std::to_string(b.Width()) + "x" + std::to_string(b.Height());
      grid->ImageTopText(i)->Caption = k == 3 ? "alpha" : "";
    }
    grid->SetBottomGap(16);
    grid->SetUpperGap(4);
  }
};

TEST_F(GridPaint, EveryStyleInScreenshots) {
  MakeGrid(340, 240);
  FillEntries();
  grid->SelectIndex(1);
  grid->SetStyle(iemsACD);
  Paint();
  Save("thumb_grid_3d.png");
  // The selection frame in its colour just outside the selected cell.
  const int sx = grid->ImageX(1), sy = grid->ImageY(1);
  bool frame = false;
  for (int d = 1; d <= 4; ++d) frame = frame || Shown(sx + 50, sy - d) == grid->SelectionColor();
  EXPECT_TRUE(frame);
  EXPECT_NE(Shown(sx + 50, sy - 6), grid->SelectionColor());
  // A wide bottom text is shortened: the cell's own pixels end at the cell.
  grid->SetStyle(iemsFlat);
  grid->SetSelectionStyle(iessACD);
  grid->SetThumbnailsBorderWidth(2);
  grid->SetThumbnailsBorderColor(clRed);
  grid->SetThumbnailsInternalBorder(true);
  Paint();
  Save("thumb_grid_flat_acd.png");
  // The selected cell is filled with the highlight colour.
  EXPECT_EQ(Shown(sx + 2, sy + 2), ColorToRGB(clHighlight));
  EXPECT_EQ(Shown(grid->ImageX(0) - 1, grid->ImageY(0) + 50), clRed);  // the border
  grid->SetSelectionStyle(iessAround);
  grid->SetThumbnailsBorderWidth(0);
  grid->SetThumbnailsInternalBorder(false);
  grid->SoftShadow = true;
  grid->RoundedCornersDivisor = 6;
  grid->SetThumbnailsBackgroundStyle(iebsChessboard);
  grid->SetThumbnailsBackground(clWhite);
  Paint();
  Save("thumb_grid_shadow_round_chess.png");
  // The alpha picture's transparent corner shows the chessboard, its middle the picture.
  const int ax = grid->ImageX(3), ay = grid->ImageY(3);
  EXPECT_NE(Shown(ax + 2, ay + 10), clRed);
  EXPECT_EQ(Shown(ax + 50, ay + 4 + 40), clRed);
}

TEST_F(GridPaint, ShortenedTextEndsWithDots) {
  MakeGrid(340, 240);
  FillEntries();
  grid->SetStyle(iemsFlat);
  Paint();
  // Draw the cell's bottom text again into a plain canvas to see what was kept.
  TBitmap probe;
  probe.SetWidth(10);
  probe.SetHeight(10);
  probe.Canvas()->Font()->Assign(grid->ImageBottomText(0)->Font());
  const std::string text = grid->ImageBottomText(0)->Caption;
  ASSERT_GT(probe.Canvas()->TextWidth(text), grid->ThumbWidth());
  // Pixels beyond the cell's right edge on the text line stay background.
  const int x = grid->ImageX(0) + grid->ThumbWidth() + 1;
  const int y = grid->ImageY(0) + grid->ThumbHeight() - 16 - 6;
  EXPECT_EQ(Shown(x, y), ColorToRGB(grid->Background()));
}

TEST_F(GridPaint, SingleModeShowsTheCurrentEntryAlone) {
  MakeGrid(200, 150);
  FillEntries();
  grid->SelectIndex(1);
  grid->SetDisplayMode(mdSingle);
  Paint();
  Save("thumb_grid_single.png");
  EXPECT_EQ(Shown(100, 75), TColor(0x2080E0));  // portrait picture fitted in the middle
}

TEST_F(GridPaint, OracleThumbnailEqualsPillowBoxReduction) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "Pillow is not available";
  MakeGrid(330, 200);
  grid->SetStoreType(ietThumb);
  grid->SetStyle(iemsFlat);
  grid->SetSelectionWidth(0);
  TIEBitmap src;
  src.Allocate(400, 200, ie24RGB);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 400; ++x)
      src.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 255 / 399), uint8_t(y * 255 / 199), uint8_t((x + 2 * y) * 255 / 799)));
  qvtest::TempDir dir;
  TBitmap tb;
  src.CopyToTBitmap(tb);
  SavePicturePng(&tb, dir.File("src.png"));
  grid->AppendEntry();
  grid->SetImage(0, &src);
  ASSERT_EQ(grid->StoredImageWidth(0), 100);
  ASSERT_EQ(grid->StoredImageHeight(0), 50);
  Paint();
  Save("thumb_grid_oracle.png");
  const std::string script = std::string(QV_SOURCE_DIR) + "/tests/imaging/views/thumb_grid_oracle.py";
  std::string log;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " + script + " box " + dir.File("src.png") + " " +
                                   dir.File("out.rgb") + " 100 50 2>&1",
                               &log),
            0)
      << log;
  const std::vector<uint8_t> want = qvtest::ReadFileBytes(dir.File("out.rgb"));
  ASSERT_EQ(want.size(), 100u * 50 * 3);
  const int x0 = grid->ImageX(0), y0 = grid->ImageY(0) + 25;
  int worst = 0;
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x) {
      const TColor c = Shown(x0 + x, y0 + y);
      const uint8_t* p = &want[size_t(y * 100 + x) * 3];
      worst = std::max({worst, std::abs(int(c & 0xFF) - p[0]), std::abs(int((c >> 8) & 0xFF) - p[1]),
                        std::abs(int((c >> 16) & 0xFF) - p[2])});
    }
  EXPECT_LE(worst, 3);
}

}  // namespace
