// Writes the seeds of the fuzz targets over the imaging core and its streams
// (see tests/icons/fuzz_seeds_test.cpp): run with QV_WRITE_FUZZ_SEEDS set to
// fuzz/corpus; otherwise checks that they are committed.
#include <algorithm>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <lcms2.h>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_icc.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "imaging/io/jpeg_markers.h"
#include "imaging/io/zlib_streams.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Little CMS's sRGB profile, written out.
Bytes SrgbProfile() {
  cmsHPROFILE h = cmsCreate_sRGBProfile();
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(h, nullptr, &size);
  Bytes bytes(size);
  cmsSaveProfileToMem(h, bytes.data(), &size);
  cmsCloseProfile(h);
  return bytes;
}

// The first byte steers the target's read sizes; a zlib stream follows.
Bytes Deflated(uint8_t steer, const Bytes& plain, TZCompressionLevel level) {
  TMemoryStream out;
  {
    TZCompressionStream z(&out, level);
    z.WriteBuffer(plain.data(), int64_t(plain.size()));
  }
  // Sized once and filled: GCC 12 misreads an insert behind one byte as out of bounds.
  Bytes b(1 + size_t(out.Size()));
  b[0] = steer;
  std::copy(out.Memory(), out.Memory() + out.Size(), b.begin() + 1);
  return b;
}

// A small JPEG of the given colour space with a comment, an "Exif" APP1 and
// the sRGB profile in APP2 chunks: the reader's marker and colour paths.
Bytes MarkedJpeg(int colorSpace, bool progressive) {
  TIEBitmap bitmap(16, 8, ie24RGB);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) bitmap.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 16), uint8_t(y * 32), uint8_t(x * y)));
  TIOParamsVals params(nullptr);
  params.JpegColorSpace = TIOJpegColorSpace(colorSpace);
  params.JpegProgressive = progressive;
  params.JpegQuality = 50;
  params.JpegMarkers = std::make_unique<TIEMarkerList>();
  params.JpegMarkers->AddMarker(0xFE, "seed", 4);
  params.JpegMarkers->AddMarker(0xE1, "Exif\0\0MM\0*\0\0\0\x08", 14);
  const Bytes icc = SrgbProfile();
  params.GetInputICC()->LoadFromBuffer(icc.data(), int64_t(icc.size()));
  std::atomic<bool> abort{false};
  TProgressRecord progress;
  progress.AbortFlag = &abort;
  TMemoryStream out;
  WriteJpegStream(out, bitmap, params, progress);
  if (abort) return {};
  return Bytes(out.Memory(), out.Memory() + out.Size());
}

struct TSeed {
  const char* target;
  const char* name;
  Bytes bytes;
};

// A transition frame: width, height, picture seeds, type, colour, pan-zoom
// source size, two rectangles (16-bit little-endian), frame count and steps.
Bytes TransitionSeed(uint8_t w, uint8_t h, uint8_t type, std::initializer_list<int16_t> rects,
                     std::initializer_list<int16_t> steps) {
  Bytes b = {w, h, 17, 99, type, 0x40, 40, 30};
  for (int16_t v : rects) b.push_back(uint8_t(v)), b.push_back(uint8_t(uint16_t(v) >> 8));
  b.push_back(uint8_t(steps.size() - 1));
  for (int16_t v : steps) b.push_back(uint8_t(v)), b.push_back(uint8_t(uint16_t(v) >> 8));
  return b;
}

std::vector<TSeed> Seeds() {
  Bytes text;
  for (int i = 0; i < 600; ++i) text.push_back(uint8_t("quorvane "[i % 9]));
  return {{"icc_profile", "srgb.icc", SrgbProfile()},
          {"zlib_streams", "text.z", Deflated(3, text, zcDefault)},
          {"zlib_streams", "stored.z", Deflated(200, Bytes(100, 7), zcNone)},
          {"imaging_jpeg_filter", "ycck_markers.jpg", MarkedJpeg(4, false)},
          {"imaging_jpeg_filter", "rgb_progressive_markers.jpg", MarkedJpeg(0, true)},
          {"transition_step", "cross_fade.bin", TransitionSeed(32, 20, 1, {0, 0, 40, 30, 5, 5, 20, 15}, {0, 300, 1024})},
          {"transition_step", "shredded.bin", TransitionSeed(64, 64, 107, {0, 0, 0, 0, 0, 0, 0, 0}, {0, 512, 900})},
          {"transition_step", "pan_zoom_inverted.bin",
           TransitionSeed(17, 9, 227, {50, 40, -10, -20, -5, 0, 90, 70}, {0, 100, 2000})},
          {"transition_step", "twist.bin", TransitionSeed(7, 3, 225, {0, 0, 1, 1, 0, 0, 1, 1}, {-4, 1, 1024})}};
}

TEST(FuzzSeeds, ImagingSeedsWrittenWhenAskedAndPresent) {
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (const TSeed& s : Seeds()) {
    ASSERT_FALSE(s.bytes.empty()) << s.name;
    if (out && *out) {
      const std::filesystem::path dir = std::filesystem::path(out) / s.target;
      std::filesystem::create_directories(dir);
      qvtest::WriteFileBytes((dir / s.name).string(), s.bytes);
      continue;
    }
    const std::filesystem::path file = std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus" / s.target / s.name;
    EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
  }
}

}  // namespace
