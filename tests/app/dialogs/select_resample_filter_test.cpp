// The resample-filter chooser: clicks reach the caller while it is open, OK
// and Cancel, and the refusal of OK without a selection.
#include <gtest/gtest.h>

#include <vector>

#include "app/dialogs/select_resample_filter.h"
#include "app_ui_test.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"

using namespace headless;

namespace {

class SelectResampleFilterTest : public AppUiTest {
protected:
  static TfmSelectRF& Chooser() { return *OpenResampleFilterChooser(); }
  static void ClickItem(int index) {
    TListBox* list = Chooser().ListBox;
    const TRect r = list->ItemRect(index);
    Click(list, r.left + 4, r.top + 2);
  }
};

TEST_F(SelectResampleFilterTest, ListsTheTenFiltersWithTheGivenOneSelected) {
  std::vector<std::string> items;
  int selected = -2;
  std::string caption;
  Headless().Then([&] {
    for (int i = 0; i < Chooser().ListBox->Count(); ++i) items.push_back(Chooser().ListBox->Items()->Strings(i));
    selected = Chooser().ListBox->ItemIndex();
    caption = Chooser().Caption();
    Chooser().SaveToPng(OutputFile("select_resample_filter.png"));
    Click(Chooser().btOk);
  });
  EXPECT_EQ(SelectResampleFilter(6), 6);
  EXPECT_EQ(items, (std::vector<std::string>{"None", "Triangle", "Hermite", "Bell", "BSpline", "Lanczos3", "Mitchell",
                                             "Nearest", "Linear", "Auto"}));
  EXPECT_EQ(selected, 6);
  EXPECT_EQ(caption, "Select Resample Filter ");
}

TEST_F(SelectResampleFilterTest, ClicksReachTheCallerWhileOpenAndCancelGivesMinusOne) {
  std::vector<int> clicks;
  Headless().Then([&] { ClickItem(5); });
  Headless().Then([&] { ClickItem(1); });
  Headless().Then([&] { Click(Chooser().btCancel); });
  EXPECT_EQ(SelectResampleFilter(9, [&](int i) { clicks.push_back(i); }), -1);
  EXPECT_EQ(clicks, (std::vector<int>{5, 1}));
}

TEST_F(SelectResampleFilterTest, DoubleClickChoosesAndOkWithoutSelectionIsRefused) {
  Headless().Then([&] {
    const TRect r = Chooser().ListBox->ItemRect(7);
    DoubleClick(Chooser().ListBox, r.left + 4, r.top + 2);
  });
  EXPECT_EQ(SelectResampleFilter(0), 7);

  std::string refusal;
  bool stillOpen = false;
  Headless().Then([&] { Click(Chooser().btOk); });
  Headless().Then([&] {
    // The message box is the active form now.
    refusal = Screen->ActiveForm() ? Screen->ActiveForm()->Caption() : "";
    PressKey(VK_RETURN);
  });
  Headless().Then([&] {
    stillOpen = OpenResampleFilterChooser() && Chooser().Visible();
    ClickItem(2);
    Click(Chooser().btOk);
  });
  EXPECT_EQ(SelectResampleFilter(-1), 2);
  EXPECT_EQ(refusal, "Select Resample Filter ");
  EXPECT_TRUE(stillOpen);
}

}  // namespace
