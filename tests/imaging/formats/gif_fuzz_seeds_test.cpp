// Writes the seeds of the fuzz targets of the GIF load (gif_stream) and the
// picture adapters (picture_adapters): GIFs our writer makes, hand-made
// animations with every disposal, and (where gdk-pixbuf's tests are
// installed) the GIFs of its test suite and its fail/ folder. Run with
// QV_WRITE_FUZZ_SEEDS set to fuzz/corpus; otherwise checks that ours are
// committed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "imaging/formats/gif_filter.h"
#include "imaging/formats/tga_filter.h"
#include "tests/imaging/formats/gif_bytes.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

Bytes Gif(TIEBitmap& b, int bits, bool interlaced) {
  TIOParamsVals params(nullptr);
  params.GifLZWEncoder = GIFLZWCompress;
  params.BitsPerSample = bits;
  params.GifInterlaced = interlaced;
  params.GifComments.Add("seed");
  TMemoryStream out;
  qvtest::Progress p;
  WriteGIFStream(out, b, params, p.rec);
  return qvtest::StreamBytes(out);
}

Bytes Animation() {
  using namespace giftest;
  GifBytes g = HeaderWith(6, 4, {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}, 3);
  for (int f = 0; f < 4; ++f) {
    Control(g, f, 5, f == 2 ? 0 : -1).Image(f, f % 2, 3, 3);
    Pixels(g, 2, Bytes(9, uint8_t(f)), 3, 3);
  }
  return g.Trailer().b;
}

struct TSeed {
  const char* target;
  std::string name;
  Bytes bytes;
};

std::vector<TSeed> Seeds() {
  auto g = qvtest::Gradient(9, 5);
  auto alpha = qvtest::Gradient(6, 4);
  for (int x = 0; x < 6; ++x) alpha->AlphaChannel()->SetPixel8(x, 0, 0);
  std::vector<TSeed> seeds = {{"gif_stream", "ours8.gif", Gif(*g, 8, false)},
                              {"gif_stream", "ours4_interlaced.gif", Gif(*g, 4, true)},
                              {"gif_stream", "ours_alpha.gif", Gif(*alpha, 8, false)},
                              {"gif_stream", "animation.gif", Animation()},
                              {"picture_adapters", "animation.gif", Animation()},
                              {"picture_adapters", "ours1.gif", Gif(*g, 1, false)}};
  TIOParamsVals params(nullptr);
  TMemoryStream tga;
  qvtest::Progress p;
  WriteTGAStream(tga, *g, params, p.rec, nullptr);
  seeds.push_back({"picture_adapters", "ours.tga", qvtest::StreamBytes(tga)});
  // Form-file data: the length, then a GIF.
  Bytes data = Gif(*g, 8, false);
  Bytes framed;
  qvtest::Le32(framed, uint32_t(data.size()));
  framed.insert(framed.end(), data.begin(), data.end());
  seeds.push_back({"picture_adapters", "form_data.bin", framed});
  return seeds;
}

TEST(FuzzSeeds, GifStreamAndPictureAdapterSeedsWrittenWhenAskedAndPresent) {
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (const TSeed& s : Seeds()) {
    ASSERT_GT(s.bytes.size(), 13u) << s.name;
    if (out && *out) {
      const fs::path dir = fs::path(out) / s.target;
      fs::create_directories(dir);
      qvtest::WriteFileBytes((dir / s.name).string(), s.bytes);
      continue;
    }
    const fs::path file = fs::path(QV_SOURCE_DIR) / "fuzz" / "corpus" / s.target / s.name;
    EXPECT_TRUE(fs::exists(file)) << file << " is missing: write the seeds again";
  }
  if (!(out && *out)) return;
  // The GIFs of gdk-pixbuf's tests, damaged ones included, where installed.
  const fs::path pixbuf = "/usr/libexec/installed-tests/gdk-pixbuf/test-images";
  for (const fs::path& folder : {pixbuf / "gif-test-suite", pixbuf / "fail"}) {
    if (!fs::exists(folder)) continue;
    for (const auto& e : fs::directory_iterator(folder))
      if (e.path().extension() == ".gif")
        fs::copy_file(e.path(), fs::path(out) / "gif_stream" / ("pixbuf_" + e.path().filename().string()),
                      fs::copy_options::overwrite_existing);
  }
}

}  // namespace
