// Writes the seeds that our own writers make for the fuzz targets of the PCX
// (with DCX), PSD and raw pixel filters: run with QV_WRITE_FUZZ_SEEDS set to
// fuzz/corpus; otherwise checks that they are committed. The seeds that
// netpbm and ImageMagick made (tools' files) sit beside them.
#include <algorithm>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "imaging/formats/pcx_filter.h"
#include "imaging/formats/psd_filter.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pcx(TIEBitmap& b, int bits, int samples, bool compressed) {
  TIOParamsVals params(nullptr);
  params.BitsPerSample = bits, params.SamplesPerPixel = samples, params.PcxCompression = compressed;
  TMemoryStream out;
  qvtest::Progress p;
  WritePCXStream(out, b, params, p.rec);
  return qvtest::StreamBytes(out);
}

Bytes Dcx(TIEBitmap& a, TIEBitmap& b) {
  TMemoryStream out;
  for (TIEBitmap* page : {&a, &b}) {
    TIOParamsVals params(nullptr);
    params.DcxImageIndex = 9;
    params.BitsPerSample = 8, params.SamplesPerPixel = 1;
    qvtest::Progress p;
    out.SetPosition(0);
    WriteDCXStream(out, *page, params, p.rec);
  }
  return qvtest::StreamBytes(out);
}

Bytes Psd(TIEBitmap& merged, TPSDLayerList* layers, bool thumbnail) {
  TIOParamsVals params(nullptr);
  params.DpiX = params.DpiY = 72;
  if (thumbnail) params.ExifThumbnail = qvtest::Gradient(8, 6);
  params.XmpPacket = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
  TMemoryStream out;
  qvtest::Progress p;
  WritePSDStream(out, params, p.rec, layers, &merged);
  return qvtest::StreamBytes(out);
}

// The fuzz target's four steering bytes, then the data.
Bytes Raw(uint8_t format, uint8_t w, uint8_t h, uint8_t layout, const Bytes& data) {
  Bytes b(4 + data.size());
  b[0] = uint8_t(format - 1), b[1] = uint8_t(w - 1), b[2] = uint8_t(h - 1), b[3] = layout;
  std::copy(data.begin(), data.end(), b.begin() + 4);
  return b;
}

struct TSeed {
  const char* target;
  const char* name;
  Bytes bytes;
};

std::vector<TSeed> Seeds() {
  auto g = qvtest::Gradient(9, 5);
  TIEBitmap few(7, 4, ie24RGB);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 7; ++x) few.SetPixelRGB(x, y, MakeRGB(uint8_t((x % 3) * 100), uint8_t(y * 60), 5));
  std::vector<TSeed> seeds = {{"pcx_filter", "ours8.pcx", Pcx(*g, 8, 1, true)},
                              {"pcx_filter", "ours24raw.pcx", Pcx(*g, 8, 3, false)},
                              {"pcx_filter", "ours4.pcx", Pcx(few, 4, 1, true)},
                              {"pcx_filter", "ours1.pcx", Pcx(few, 1, 1, true)},
                              {"pcx_filter", "ours.dcx", Dcx(*g, few)}};
  // A layered document: a layer with alpha and a user mask, and a grey one.
  TPSDLayerList layers(3);
  auto first = qvtest::Gradient(4, 3);
  first->AlphaChannel()->Fill(200);
  layers[0].Bitmap = first.get(), layers[0].PosX = 2, layers[0].Name = "a";
  TIEBitmap mask(3, 2, ie8g);
  mask.Fill(90);
  layers[1].Bitmap = &mask, layers[1].IsMask = true;
  TIEBitmap grey(2, 2, ie8g);
  grey.Fill(30);
  layers[2].Bitmap = &grey, layers[2].Name = "b", layers[2].Visible = false;
  seeds.push_back({"psd_filter", "layers.psd", Psd(*g, &layers, true)});
  TIEBitmap indexed;
  indexed.Assign(&few);
  indexed.SetPixelFormat(ie8p);
  indexed.AlphaChannel()->Fill(255);
  indexed.SetAlpha(0, 0, 0);
  seeds.push_back({"psd_filter", "indexed.psd", Psd(indexed, nullptr, false)});
  for (auto [name, format] : {std::pair{"lab.psd", ieCIELab}, {"rgb48.psd", ieRGB48}, {"cmyk.psd", ieCMYK},
                              {"bilevel.psd", ie1g}}) {
    TIEBitmap b;
    b.Assign(g.get());
    b.SetPixelFormat(format);
    seeds.push_back({"psd_filter", name, Psd(b, nullptr, false)});
  }
  Bytes rgb, words;
  for (int i = 0; i < 4 * 3 * 3; ++i) rgb.push_back(uint8_t(i * 7));
  for (int i = 0; i < 4 * 3 * 3; ++i) qvtest::Le16(words, uint32_t(i * 1800));
  const std::string decimal = "0 10,20;30 40 50 60 70 80 90 100 110 120", hex = "00 1A FF 7F 80 C0";
  seeds.push_back({"raw_pixel_filter", "rgb24.raw", Raw(ie24RGB, 4, 3, 0x00, rgb)});
  seeds.push_back({"raw_pixel_filter", "rgb48planar.raw", Raw(ieRGB48, 4, 3, 0x01, words)});
  seeds.push_back({"raw_pixel_filter", "grey_decimal.raw", Raw(ie8g, 4, 3, 0x04, Bytes(decimal.begin(), decimal.end()))});
  seeds.push_back({"raw_pixel_filter", "grey_hex_aligned.raw", Raw(ie8g, 3, 2, 0x28, Bytes(hex.begin(), hex.end()))});
  return seeds;
}

TEST(FuzzSeeds, PcxPsdAndRawPixelFilterSeedsWrittenWhenAskedAndPresent) {
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (const TSeed& s : Seeds()) {
    ASSERT_GT(s.bytes.size(), 4u) << s.name;
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
