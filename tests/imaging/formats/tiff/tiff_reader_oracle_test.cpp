// TIFF files written by libtiff's tiffcp, Pillow and ImageMagick in every
// compression, bit order, layout and depth they offer, read to the raster
// libtiff's tiff2rgba decodes from each (exact when lossless, within a stated
// tolerance for JPEG, CIE L*a*b* and CMYK, whose colour formulas differ).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/core/ie_mask.h"
#include "imaging/formats/tiff/tiff_lzw.h"
#include "imaging/formats/tiff/tiff_reader.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/support/test_support.h"

namespace {

const char* kPython = "/usr/bin/python3";

std::string Script() { return std::string(QV_SOURCE_DIR) + "/tests/imaging/formats/tiff/tiff_oracle.py"; }

bool HaveTools() {
  return qvtest::RunCommand(std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1") == 0 &&
         qvtest::HaveProgram("tiffcp") && qvtest::HaveProgram("tiff2rgba") && qvtest::HaveProgram("convert");
}

struct TDecoded {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  TIEMaskOut mask;
  qvtest::Progress progress;
  int pages = 0;
};

std::unique_ptr<TDecoded> Read(const std::vector<uint8_t>& bytes) {
  auto d = std::make_unique<TDecoded>();
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  d->params.TiffLZWDecoder = TIFFLZWDecompress;
  ReadTIFFStream(&d->bitmap, s, d->pages, d->params, d->progress.rec, false, d->mask, false, false, false, false,
                 nullptr);
  return d;
}

// Largest difference between our pixels, premultiplied by our alpha as the
// raster is, and the raster's.
int Difference(TDecoded& d, const std::vector<uint8_t>& raster, int w, int h, bool premultiplied,
               std::string& where) {
  TIEBitmap c;
  c.Assign(&d.bitmap);
  if (c.PixelFormat() != ie24RGB) c.SetPixelFormat(ie24RGB);
  int worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TRGB p = c.GetPixelRGB(x, y);
      const int a = d.mask ? d.mask->GetPixel(x, y) : 255;
      const int m = premultiplied ? a : 255;
      const uint8_t* r = raster.data() + 4 * (size_t(y) * size_t(w) + size_t(x));
      const int ours[4] = {(p.r * m + 127) / 255, (p.g * m + 127) / 255, (p.b * m + 127) / 255, a};
      for (int k = 0; k < 4; ++k) {
        const int diff = std::abs(ours[k] - r[k]);
        if (diff > worst) {
          worst = diff;
          where = "pixel " + std::to_string(x) + "," + std::to_string(y) + " channel " + std::to_string(k) +
                  " ours " + std::to_string(ours[k]) + " libtiff " + std::to_string(r[k]);
        }
      }
    }
  return worst;
}

}  // namespace

TEST(TiffReaderOracle, EveryToolFileEqualsLibtiffRaster) {
  if (!HaveTools()) GTEST_SKIP() << "libtiff tools, Pillow or ImageMagick missing";
  qvtest::TempDir dir;
  ASSERT_EQ(qvtest::RunCommand(std::string(kPython) + " " + Script() + " make " + dir.File("") + " 2>&1"), 0);
  std::ifstream manifest(dir.File("manifest"));
  std::string line;
  int files = 0;
  while (std::getline(manifest, line)) {
    std::istringstream in(line);
    std::string name;
    int w = 0, h = 0, tolerance = 0, premultiplied = 1;
    in >> name >> w >> h >> tolerance >> premultiplied;
    SCOPED_TRACE(name);
    ++files;
    auto d = Read(qvtest::ReadFileBytes(dir.File(name + ".tif")));
    EXPECT_FALSE(d->progress.Aborted()) << (d->progress.rec.Refusal ? d->progress.rec.Refusal : "");
    if (d->progress.Aborted()) continue;
    ASSERT_EQ(d->bitmap.Width(), w);
    ASSERT_EQ(d->bitmap.Height(), h);
    std::string where;
    const int worst = Difference(*d, qvtest::ReadFileBytes(dir.File(name + ".rgba")), w, h, premultiplied != 0, where);
    EXPECT_LE(worst, tolerance) << where;
  }
  EXPECT_GT(files, 40);
}
