// The icon Save writes, from a picture through the converter and result
// assembly: its layout read byte by byte, then listed by icotool and opened by
// Pillow.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/icon_converter.h"
#include "app/rebuild_options.h"
#include "app/result_assembly.h"
#include "app_test_util.h"
#include "saved_icon_checks.h"
#include "icons/icon_library.h"
#include "test_support.h"

using namespace apptest;

namespace {

struct SavedCase {
  const char* name;
  std::function<std::unique_ptr<TBitmap>()> picture;
  bool background;
  int style;  // item of the style list: 0 none, k the library's icon k - 1
  // Rows of the centre column that hold the picture in the 48, 32 and 16 images;
  // first < 0: not checked.
  int rows[3][2];
};
// How the case reads in the test list and in a failure.
void PrintTo(const SavedCase& c, std::ostream* os) { *os << c.name; }

std::vector<uint8_t> SaveThroughTheMainRoad(const SavedCase& c, const std::string& file) {
  auto source = c.picture();
  TAdvancedIcon base, display, result, thumb;
  // Default settings with no selection: the whole picture.
  BuildBaseIcon(source.get(), TBaseIconOptions{}, base);
  TResultOptions o;
  o.MergeBackground = c.background;
  TIconLibrary styles;
  if (c.style > 0) {
    EXPECT_TRUE(styles.LoadFromFile(std::string(QV_BINARY_DIR) + "/data/styles.icl"));
    o.StyleIcon = styles.GetIcon(c.style - 1);
    EXPECT_NE(o.StyleIcon, nullptr);
  }
  UpdateResultIcon(base, o, display, result, thumb);
  result.SaveToFile(file);
  return qvtest::ReadFileBytes(file);
}

class SavedIconOracle : public ::testing::TestWithParam<SavedCase> {};

TEST_P(SavedIconOracle, SixImagesInStandardOrderWithAlphaMasks) {
  const SavedCase& c = GetParam();
  qvtest::TempDir dir;
  const std::string file = dir.File("result.ico");
  SaveThroughTheMainRoad(c, file);
  ExpectSavedIcon(file, SavedIconExpectation{c.name, c.background, c.style,
                                             {{c.rows[0][0], c.rows[0][1]},
                                              {c.rows[1][0], c.rows[1][1]},
                                              {c.rows[2][0], c.rows[2][1]}}});
}

std::unique_ptr<TBitmap> Picture100x60() {
  return Bitmap24(100, 60,
                  [](int x, int y) { return 0xFF000000u | uint32_t(x * 2) << 16 | uint32_t(y * 4) << 8 | 0x40u; });
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SavedIconOracle,
    ::testing::Values(SavedCase{"bitmap100x60", Picture100x60, false, 0, {{10, 37}, {6, 25}, {3, 12}}},
                      SavedCase{"alphaGradient64",
                                [] {
                                  return Bitmap32(64, 64, [](int x, int y) {
                                    return uint32_t(x * 4) << 24 | uint32_t(y * 4) << 8 | 0x80u;
                                  });
                                },
                                false,
                                0,
                                {{-1, -1}, {-1, -1}, {-1, -1}}},
                      SavedCase{"large1000x500",
                                [] {
                                  return Bitmap24(1000, 500, [](int x, int y) {
                                    return 0xFF000000u | uint32_t(x % 256) << 16 | uint32_t(y % 256);
                                  });
                                },
                                false,
                                0,
                                {{12, 35}, {8, 23}, {4, 11}}},
                      SavedCase{"backgroundWhite", Picture100x60, true, 0, {{0, 47}, {0, 31}, {0, 15}}},
                      SavedCase{"style1",
                                [] {
                                  return Bitmap24(64, 64, [](int x, int y) {
                                    return 0xFF000000u | uint32_t(x * 4) << 16 | uint32_t(y * 4) << 8;
                                  });
                                },
                                false,
                                1,
                                {{-1, -1}, {-1, -1}, {-1, -1}}}),
    [](const ::testing::TestParamInfo<SavedCase>& p) { return std::string(p.param.name); });

}  // namespace
