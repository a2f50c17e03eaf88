// TIFF files other projects ship with their tests: read as Pillow reads them
// (pixels, alpha, resolution, pages); their damaged ones refuse or load.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "imaging/core/ie_mask.h"
#include "imaging/formats/tiff/tiff_lzw.h"
#include "imaging/formats/tiff/tiff_reader.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/support/test_support.h"

namespace {

std::string Script() { return std::string(QV_SOURCE_DIR) + "/tests/imaging/formats/tiff/tiff_oracle.py"; }

struct TPillow {
  int width = 0, height = 0, dpiX = 0, dpiY = 0, pages = 0;
  std::vector<uint8_t> rgba;
};

bool PillowRead(const std::string& file, int index, const qvtest::TempDir& dir, TPillow& out) {
  std::string text;
  if (qvtest::RunCommand("/usr/bin/python3 " + Script() + " dump " + file + " " + std::to_string(index) + " " +
                             dir.File("p.rgba"),
                         &text) != 0)
    return false;
  std::istringstream in(text);
  in >> out.width >> out.height >> out.dpiX >> out.dpiY >> out.pages;
  out.rgba = qvtest::ReadFileBytes(dir.File("p.rgba"));
  return true;
}

struct TOurs {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  TIEMaskOut mask;
  qvtest::Progress progress;
  int pages = 0;
};

std::unique_ptr<TOurs> Ours(const std::vector<uint8_t>& bytes, int index) {
  auto o = std::make_unique<TOurs>();
  o->params.TiffImageIndex = index;
  o->params.TiffLZWDecoder = TIFFLZWDecompress;
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  ReadTIFFStream(&o->bitmap, s, o->pages, o->params, o->progress.rec, false, o->mask, false, false, false, false,
                 nullptr);
  return o;
}

}  // namespace

TEST(TiffPublicFilesOracle, ReadAsPillowReadsThem) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0) GTEST_SKIP() << "Pillow missing";
  struct Case {
    std::string file;
    int pages;
    bool checkDpi;
  };
  const std::vector<Case> cases = {
      {"/usr/libexec/installed-tests/gdk-pixbuf/dpi.tiff", 1, true},
      {"/usr/lib/python3/dist-packages/skimage/data/chessboard_GRAY_U16B.tif", 1, false},
      {"/usr/lib/python3/dist-packages/skimage/data/multipage.tif", 2, false},
      {"/usr/libexec/installed-tests/SDL2_image/sample.tif", 1, true},
  };
  qvtest::TempDir dir;
  int seen = 0;
  for (const Case& c : cases) {
    if (!std::filesystem::exists(c.file)) continue;
    ++seen;
    const auto bytes = qvtest::ReadFileBytes(c.file);
    for (int page = 0; page < c.pages; ++page) {
      SCOPED_TRACE(c.file + " page " + std::to_string(page));
      TPillow p;
      ASSERT_TRUE(PillowRead(c.file, page, dir, p));
      auto o = Ours(bytes, page);
      ASSERT_FALSE(o->progress.Aborted()) << (o->progress.rec.Refusal ? o->progress.rec.Refusal : "");
      EXPECT_EQ(o->pages, p.pages);
      ASSERT_EQ(o->bitmap.Width(), p.width);
      ASSERT_EQ(o->bitmap.Height(), p.height);
      if (c.checkDpi) {
        EXPECT_EQ(o->params.DpiX, p.dpiX);
        EXPECT_EQ(o->params.DpiY, p.dpiY);
      }
      int worst = 0;
      for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
          const TRGB c3 = o->bitmap.GetPixelAsRGB(x, y);
          const uint8_t* q = p.rgba.data() + 4 * (size_t(y) * size_t(p.width) + size_t(x));
          const int a = o->mask ? o->mask->GetPixel(x, y) : 255;
          worst = std::max({worst, std::abs(c3.r - q[0]), std::abs(c3.g - q[1]), std::abs(c3.b - q[2]),
                            std::abs(a - q[3])});
        }
      EXPECT_EQ(worst, 0);
    }
  }
  if (seen == 0) GTEST_SKIP() << "no public test files installed";
  // SDL_image's sample.tif is its sample.bmp.
  const std::string bmp = "/usr/libexec/installed-tests/SDL2_image/sample.bmp";
  if (std::filesystem::exists(bmp)) {
    TPillow p;
    ASSERT_TRUE(PillowRead(bmp, 0, dir, p));
    auto o = Ours(qvtest::ReadFileBytes("/usr/libexec/installed-tests/SDL2_image/sample.tif"), 0);
    ASSERT_EQ(o->bitmap.Width(), p.width);
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        const TRGB c3 = o->bitmap.GetPixelAsRGB(x, y);
        const uint8_t* q = p.rgba.data() + 4 * (size_t(y) * size_t(p.width) + size_t(x));
        ASSERT_EQ(std::vector<int>({c3.r, c3.g, c3.b}), std::vector<int>({q[0], q[1], q[2]})) << x << "," << y;
      }
  }
}

TEST(TiffPublicFiles, DamagedFilesRefuseOrLoad) {
  const std::string root = "/usr/libexec/installed-tests/gdk-pixbuf/test-images";
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "gdk-pixbuf tests not installed";
  int files = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = e.path().string();
    if (name.find(".tif") == std::string::npos) continue;
    ++files;
    auto o = Ours(qvtest::ReadFileBytes(name), 0);
    if (o->progress.Aborted()) EXPECT_NE(o->progress.rec.Refusal, nullptr) << name;
    else EXPECT_GT(o->bitmap.Width(), 0) << name;
  }
  EXPECT_GT(files, 0);
}
