// JPEG reading against djpeg on cjpeg's files (every subsampling, grey,
// optimised, restart markers, progressive twins, DCT scaling), truncated
// files, and the marker scans on hostile segments.
#include <algorithm>
#include <gtest/gtest.h>

#include <lcms2.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/core/ie_icc.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/io/jpeg_markers.h"
#include "imaging/io/xmp_packet.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/support/test_support.h"

namespace {

bool HaveTools() {
  return qvtest::HaveProgram("cjpeg") && qvtest::HaveProgram("djpeg") && qvtest::HaveProgram("jpegtran");
}

// A binary PPM of a smooth and busy colour picture.
std::vector<uint8_t> Ppm(int w, int h) {
  std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  std::vector<uint8_t> v(head.begin(), head.end());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      v.push_back(uint8_t(x * 255 / w));
      v.push_back(uint8_t((x * y) % 251));
      v.push_back(uint8_t(y * 255 / h));
    }
  return v;
}

// The pixels after a PNM header (P5 or P6).
std::vector<uint8_t> PnmPixels(const std::vector<uint8_t>& pnm, int& w, int& h, int& channels) {
  std::string s(pnm.begin(), pnm.begin() + std::min<size_t>(pnm.size(), 64));
  channels = s[1] == '6' ? 3 : 1;
  size_t pos = 2;
  int fields[3], n = 0;
  while (n < 3) {
    while (isspace(uint8_t(pnm[pos]))) ++pos;
    size_t e = pos;
    while (isdigit(pnm[e])) ++e;
    fields[n++] = std::stoi(std::string(pnm.begin() + long(pos), pnm.begin() + long(e)));
    pos = e;
  }
  w = fields[0], h = fields[1];
  return std::vector<uint8_t>(pnm.begin() + long(pos) + 1, pnm.end());
}

struct Decoded {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  qvtest::Progress progress;
  int rows = 0;
};

std::unique_ptr<Decoded> Decode(const std::vector<uint8_t>& bytes, int scale = 1, bool native = false) {
  auto d = std::make_unique<Decoded>();
  d->params.JpegScale = TIOJpegScale(scale);
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  TJpegReadOptions options;
  options.NativeFormat = native;
  d->rows = ReadJpegStream(s, nullptr, &d->bitmap, options, d->progress.rec, d->params);
  return d;
}

std::vector<uint8_t> RgbRows(TIEBitmap& b, int channels) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      if (channels == 1) {
        out.push_back(b.PixelFormat() == ie8g ? b.GetPixel8(x, y) : b.GetPixelRGB(x, y).r);
      } else {
        const TRGB p = b.GetPixelRGB(x, y);
        out.insert(out.end(), {p.r, p.g, p.b});
      }
    }
  return out;
}

TEST(JpegOracle, CjpegFilesDecodeToDjpegPixels) {
  if (!HaveTools()) GTEST_SKIP() << "libjpeg-turbo-progs missing";
  qvtest::TempDir dir;
  const std::string ppm = dir.File("src.ppm");
  qvtest::WriteFileBytes(ppm, Ppm(67, 45));
  const char* variants[][2] = {{"s444", "-sample 1x1"}, {"s422", "-sample 2x1"}, {"s420", "-sample 2x2"},
                               {"grey", "-grayscale"},  {"opt", "-optimize"},     {"restart", "-restart 1"},
                               {"rgb", "-rgb"}};
  for (const auto& v : variants) {
    for (bool progressive : {false, true}) {
      std::string jpg = dir.File(std::string(v[0]) + ".jpg");
      ASSERT_EQ(qvtest::RunCommand("cjpeg -quality 85 " + std::string(v[1]) + " " + ppm + " > " + jpg), 0);
      if (progressive) {
        const std::string p = dir.File(std::string(v[0]) + "p.jpg");
        ASSERT_EQ(qvtest::RunCommand("jpegtran -progressive " + jpg + " > " + p), 0);
        jpg = p;
      }
      const auto bytes = qvtest::ReadFileBytes(jpg);
      for (int scale : {1, 2, 3, 4}) {
        const char* frac[] = {"", "1/1", "1/2", "1/4", "1/8"};
        const std::string ref = dir.File("ref.pnm");
        ASSERT_EQ(qvtest::RunCommand("djpeg -dct int -scale " + std::string(frac[scale]) + " " + jpg + " > " + ref), 0);
        int w, h, channels;
        const auto want = PnmPixels(qvtest::ReadFileBytes(ref), w, h, channels);
        auto d = Decode(bytes, scale, true);
        ASSERT_FALSE(d->progress.Aborted()) << jpg;
        EXPECT_EQ(d->params.JpegProgressive, progressive);
        ASSERT_EQ(d->bitmap.Width(), w) << jpg << " 1/" << (1 << (scale - 1));
        ASSERT_EQ(d->bitmap.Height(), h);
        EXPECT_EQ(d->rows, h);
        EXPECT_EQ(RgbRows(d->bitmap, channels), want) << jpg << " scale " << scale;
      }
    }
  }
}

TEST(JpegOracle, AutomaticScaleTruncationAndStreamPosition) {
  if (!HaveTools()) GTEST_SKIP() << "libjpeg-turbo-progs missing";
  qvtest::TempDir dir;
  const std::string ppm = dir.File("big.ppm");
  qvtest::WriteFileBytes(ppm, Ppm(1600, 1200));
  ASSERT_EQ(qvtest::RunCommand("cjpeg -quality 50 " + ppm + " > " + dir.File("big.jpg")), 0);
  auto bytes = qvtest::ReadFileBytes(dir.File("big.jpg"));

  Decoded d;
  d.params.JpegScale = jscAuto;
  d.params.Width = 200;
  d.params.Height = 200;
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  TJpegReadOptions options;
  options.ReadICC = options.ApplyICC = options.ReadMetadata = false;
  ReadJpegStream(s, nullptr, &d.bitmap, options, d.progress.rec, d.params);
  EXPECT_EQ(d.params.JpegScaleUsed, 4);
  EXPECT_EQ(d.bitmap.Width(), 400);
  EXPECT_EQ(d.bitmap.Height(), 300);
  // The stream stands right after the JPEG data, as GetJpegStreamLength measures it.
  EXPECT_EQ(s.Position(), int64_t(bytes.size()));
  s.SetPosition(0);
  EXPECT_EQ(GetJpegStreamLength(s), int64_t(bytes.size()));

  // A truncated file stops where its data stops: the rows djpeg would make up
  // after the cut are not taken for the picture's, and the load says so.
  const std::vector<uint8_t> whole = bytes;
  bytes.resize(bytes.size() * 2 / 3);
  auto t = Decode(bytes, 4);
  EXPECT_TRUE(t->progress.Aborted());
  EXPECT_STREQ(t->progress.rec.Refusal, "the rows are cut short");
  EXPECT_GT(t->rows, 50);
  EXPECT_LT(t->rows, 150);
  EXPECT_GT(t->params.JpegWarningCount, 0);
  bytes = whole;

  // Nothing at all, or a JPEG start 150 bytes in, is an error.
  EXPECT_TRUE(Decode({})->progress.Aborted());
  std::vector<uint8_t> late(150, 0);
  late.insert(late.end(), bytes.begin(), bytes.end());
  EXPECT_TRUE(Decode(late)->progress.Aborted());
  late.erase(late.begin());
  EXPECT_FALSE(Decode(late, 4)->progress.Aborted());
}

// An SOI followed by the given segments (marker, payload) and an EOI.
std::vector<uint8_t> Segments(const std::vector<std::pair<uint8_t, std::vector<uint8_t>>>& segs) {
  std::vector<uint8_t> v = {0xFF, 0xD8};
  for (const auto& [m, payload] : segs) {
    v.insert(v.end(), {0xFF, m, uint8_t((payload.size() + 2) >> 8), uint8_t(payload.size() + 2)});
    v.insert(v.end(), payload.begin(), payload.end());
  }
  v.insert(v.end(), {0xFF, 0xD9});
  return v;
}

std::vector<uint8_t> IccChunk(int seq, int count, const std::string& body) {
  const uint8_t head[14] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, uint8_t(seq), uint8_t(count)};
  std::vector<uint8_t> v(sizeof head + body.size());
  std::copy(head, head + sizeof head, v.begin());
  std::copy(body.begin(), body.end(), v.begin() + sizeof head);
  return v;
}

TEST(JpegMarkers, HostileSegmentsEndTheScans) {
  // A segment length below 2 must not loop for ever.
  std::vector<uint8_t> bad = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01, 0x55, 0x55};
  TCustomMemoryStream s(bad.data(), int64_t(bad.size()));
  EXPECT_LE(GetJpegStreamLength(s), int64_t(bad.size()));
  EXPECT_EQ(s.Position(), 0);
  TIOParamsVals params(nullptr);
  ReadJpegICCProfile(s, params);
  EXPECT_EQ(s.Position(), 0);

  // Chunks numbered 0 or past their count, and too-short APP2s, are passed over.
  const auto file = Segments({{0xE2, {1, 2, 3}},
                              {0xE2, IccChunk(0, 2, "zero")},
                              {0xE2, IccChunk(3, 2, "three")},
                              {0xE2, IccChunk(2, 2, "BB")},
                              {0xE2, IccChunk(1, 2, "AA")}});
  TCustomMemoryStream f(file.data(), int64_t(file.size()));
  ReadJpegICCProfile(f, params);
  EXPECT_EQ(f.Position(), 0);
  EXPECT_EQ(GetJpegStreamLength(f), int64_t(file.size()));
  TIEICC* icc = params.GetInputICC();
  ASSERT_NE(icc, nullptr);
  EXPECT_EQ(std::string(icc->Raw().begin(), icc->Raw().end()), "AABB");
}

}  // namespace

namespace {

TEST(JpegOracle, WrittenFilesOpenInDjpegWithTheirMarkers) {
  if (!HaveTools() || !qvtest::HaveProgram("exiftool")) GTEST_SKIP() << "libjpeg-turbo-progs or exiftool missing";
  qvtest::TempDir dir;
  // Smooth, so that subsampled chroma stays close.
  auto src = std::make_unique<TIEBitmap>(40, 24, ie24RGB);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x) src->SetPixelRGB(x, y, MakeRGB(uint8_t(x * 6), uint8_t(y * 10), uint8_t((x + y) * 3)));
  struct Form {
    const char* name;
    int space;
    bool progressive;
  };
  for (const Form& f : {Form{"ycc", 2, false}, Form{"prog", 2, true}, Form{"grey", 1, false}, Form{"rgb", 0, false},
                        Form{"cmyk", 3, false}}) {
    TIOParamsVals params(nullptr);
    params.JpegColorSpace = TIOJpegColorSpace(f.space);
    params.JpegQuality = 95;
    params.JpegProgressive = f.progressive;
    params.SetDpiX(150);
    params.SetDpiY(150);
    params.JpegMarkers = std::make_unique<TIEMarkerList>();
    params.JpegMarkers->AddMarker(0xFE, "made here", 9);
    params.JpegMarkers->AddMarker(0xEE, "Adobe", 5);  // never written: the codec writes its own
    TMemoryStream out;
    qvtest::Progress p;
    WriteJpegStream(out, *src, params, p.rec);
    ASSERT_FALSE(p.Aborted()) << f.name;
    const std::string path = dir.File(std::string(f.name) + ".jpg");
    qvtest::WriteFileBytes(path, qvtest::StreamBytes(out));
    std::string info;
    ASSERT_EQ(qvtest::RunCommand("exiftool -s -Comment -XResolution -ProgressiveDCT " + path, &info), 0);
    EXPECT_NE(info.find("made here"), std::string::npos) << f.name << info;
    // RGB and CMYK files carry no JFIF header of their own (CMYK gets one here).
    if (f.space != 0) { EXPECT_NE(info.find("150"), std::string::npos) << f.name << info; }
    ASSERT_EQ(qvtest::RunCommand("djpeg -dct int " + path + " > " + dir.File("out.pnm")), 0) << f.name;
    // Read back: close to the source.
    auto d = Decode(qvtest::StreamBytes(out));
    ASSERT_FALSE(d->progress.Aborted()) << f.name;
    EXPECT_EQ(d->params.JpegProgressive, f.progressive);
    int worst = 0;
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 40; ++x) {
        const TRGB a = src->GetPixelRGB(x, y), b = d->bitmap.GetPixelRGB(x, y);
        if (f.space == 1) continue;
        worst = std::max({worst, std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
      }
    EXPECT_LT(worst, 12) << f.name;
    int adobe = 0;
    for (int i = 0; i < d->params.JpegMarkers->Count(); ++i) adobe += d->params.JpegMarkers->MarkerType(i) == 0xEE;
    EXPECT_LE(adobe, 1) << f.name;
  }
  TIEBitmap empty;
  TIOParamsVals params(nullptr);
  TMemoryStream out;
  qvtest::Progress p;
  WriteJpegStream(out, empty, params, p.rec);
  EXPECT_TRUE(p.Aborted());
}

}  // namespace

namespace {

const char* kPython = "/usr/bin/python3";

std::string OracleScript() { return std::string(QV_SOURCE_DIR) + "/tests/imaging/formats/jpeg_oracle.py"; }

bool HavePillow() { return qvtest::RunCommand(std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1") == 0; }

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> v;
  v.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) v.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return v;
}

// "w h MODE" and the hex samples the script prints.
std::vector<uint8_t> PillowSamples(const std::string& command, std::string* mode = nullptr) {
  std::string out;
  if (qvtest::RunCommand(std::string(kPython) + " " + OracleScript() + " " + command, &out) != 0) return {};
  std::istringstream in(out);
  int w = 0, h = 0;
  std::string m, hex;
  in >> w >> h >> m >> hex;
  if (mode) *mode = m;
  return FromHex(hex);
}

std::vector<uint8_t> BitmapBytes(TIEBitmap& b, int bytesPerPixel) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* row = b.ScanLine(y);
    out.insert(out.end(), row, row + size_t(b.Width()) * bytesPerPixel);
  }
  return out;
}

TEST(JpegOracle, CmykAndYcckFilesReadNativelyArePillowsValuesInverted) {
  if (!HaveTools() || !HavePillow() || !qvtest::HaveProgram("convert")) GTEST_SKIP() << "Pillow or ImageMagick missing";
  qvtest::TempDir dir;
  const std::string ppm = dir.File("src.ppm");
  qvtest::WriteFileBytes(ppm, Ppm(37, 21));
  std::vector<std::string> files;
  // Pillow's and ImageMagick's Adobe CMYK files.
  ASSERT_EQ(qvtest::RunCommand(std::string(kPython) + " " + OracleScript() + " make_cmyk " + ppm + " " +
                               dir.File("pillow.jpg")),
            0);
  files.push_back(dir.File("pillow.jpg"));
  ASSERT_EQ(qvtest::RunCommand("convert " + ppm + " -colorspace CMYK -quality 92 " + dir.File("magick.jpg")), 0);
  files.push_back(dir.File("magick.jpg"));
  // Our own CMYK and YCCK files: the codec turns YCCK back into CMYK.
  auto src = qvtest::Gradient(37, 21);
  for (int space : {3, 4}) {
    TIOParamsVals params(nullptr);
    params.JpegColorSpace = TIOJpegColorSpace(space);
    params.JpegQuality = 90;
    TMemoryStream out;
    qvtest::Progress p;
    WriteJpegStream(out, *src, params, p.rec);
    ASSERT_FALSE(p.Aborted());
    files.push_back(dir.File(space == 3 ? "ours_cmyk.jpg" : "ours_ycck.jpg"));
    qvtest::WriteFileBytes(files.back(), qvtest::StreamBytes(out));
  }
  for (const std::string& file : files) {
    std::string mode;
    const std::vector<uint8_t> pillow = PillowSamples("cmyk " + file, &mode);
    ASSERT_EQ(mode, "CMYK") << file;
    const auto bytes = qvtest::ReadFileBytes(file);
    for (bool invert : {false, true}) {
      Decoded d;
      TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
      TJpegReadOptions options;
      options.NativeFormat = true;
      options.InvertCMYK = invert;
      ReadJpegStream(s, nullptr, &d.bitmap, options, d.progress.rec, d.params);
      ASSERT_FALSE(d.progress.Aborted()) << file;
      ASSERT_EQ(d.bitmap.PixelFormat(), ieCMYK) << file;
      EXPECT_EQ(d.params.SamplesPerPixel, 4);
      // ImageMagick stores CMYK as YCCK (Adobe transform 2), as exiftool says.
      const bool ycck = file.find("ycck") != std::string::npos || file.find("magick") != std::string::npos;
      EXPECT_EQ(d.params.JpegColorSpace, ycck ? 4 : 3) << file;
      std::vector<uint8_t> want = pillow;
      if (!invert)
        for (uint8_t& v : want) v = uint8_t(255 - v);
      EXPECT_EQ(BitmapBytes(d.bitmap, 4), want) << file << (invert ? " inverted" : "");
    }
    // Read as colour: the last pixel of each row is converted too.
    auto d = Decode(bytes);
    ASSERT_FALSE(d->progress.Aborted()) << file;
    ASSERT_EQ(d->bitmap.PixelFormat(), ie24RGB);
    const size_t last = (size_t(21) * 37 - 1) * 4;
    TCMYK ink{uint8_t(255 - pillow[last]), uint8_t(255 - pillow[last + 1]), uint8_t(255 - pillow[last + 2]),
              uint8_t(255 - pillow[last + 3])};
    TRGB want;
    CMYKToRGBPixel(ink, want);
    const TRGB got = d->bitmap.GetPixelRGB(36, 20);
    EXPECT_EQ(got.r, want.r) << file;
    EXPECT_EQ(got.g, want.g) << file;
    EXPECT_EQ(got.b, want.b) << file;
  }
}

// sRGB's primaries with linear curves, and a private tag of pad bytes.
std::vector<uint8_t> SaveLinearRGBProfile(int64_t pad) {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  cmsToneCurve* curves[3] = {linear, linear, linear};
  cmsHPROFILE h = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(linear);
  if (pad > 0) {
    std::vector<uint8_t> filler(size_t(pad), 0x5A);
    cmsWriteRawTag(h, cmsTagSignature(0x71767064), filler.data(), cmsUInt32Number(filler.size()));
  }
  cmsUInt32Number length = 0;
  cmsSaveProfileToMem(h, nullptr, &length);
  std::vector<uint8_t> bytes(length);
  cmsSaveProfileToMem(h, bytes.data(), &length);
  cmsCloseProfile(h);
  return bytes;
}

// A valid RGB profile of the given size (0: as small as it comes).
std::vector<uint8_t> LinearRGBProfile(int64_t size) {
  std::vector<uint8_t> bytes = SaveLinearRGBProfile(0);
  int64_t pad = size - int64_t(bytes.size()) - 12;
  for (int tries = 0; size > 0 && tries < 8 && int64_t(bytes.size()) != size; ++tries) {
    bytes = SaveLinearRGBProfile(pad);
    pad += size - int64_t(bytes.size());
  }
  return bytes;
}

TEST(JpegOracle, WrittenMetadataReadBackByExiftool) {
  if (!HaveTools() || !qvtest::HaveProgram("exiftool")) GTEST_SKIP() << "libjpeg-turbo-progs or exiftool missing";
  qvtest::TempDir dir;
  auto src = qvtest::Gradient(48, 32);
  TIOParamsVals params(nullptr);
  params.SetDpiX(150);
  params.SetDpiY(72);
  params.JpegMarkers = std::make_unique<TIEMarkerList>();
  params.JpegMarkers->AddMarker(0xFE, "made by Quorvane", 16);
  TIEIPTCInfoList iptc;
  iptc.AddItem(2, 5, 9, "The title");
  iptc.AddItem(2, 25, 5, "sunny");
  const std::vector<uint8_t> app13 = iptc.SaveToBuffer(true);
  params.JpegMarkers->AddMarker(0xED, app13.data(), int64_t(app13.size()));
  params.XmpPacket =
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
      "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:format>image/jpeg</dc:format>"
      "</rdf:Description></rdf:RDF></x:xmpmeta>";
  const std::vector<uint8_t> xmp = BuildXMPMarker(params);
  params.JpegMarkers->AddMarker(0xE1, xmp.data(), int64_t(xmp.size()));
  const std::vector<uint8_t> profile = LinearRGBProfile(70000);
  ASSERT_EQ(profile.size(), 70000u);
  ASSERT_TRUE(params.GetInputICC()->LoadFromBuffer(profile.data(), int64_t(profile.size())));
  TMemoryStream out;
  qvtest::Progress p;
  WriteJpegStream(out, *src, params, p.rec);
  ASSERT_FALSE(p.Aborted());
  const std::string path = dir.File("meta.jpg");
  qvtest::WriteFileBytes(path, qvtest::StreamBytes(out));

  std::string info;
  ASSERT_EQ(qvtest::RunCommand("exiftool -s -s -s -Comment -IPTC:ObjectName -IPTC:Keywords -XMP-dc:Format "
                               "-JFIF:XResolution -JFIF:YResolution -JFIF:ResolutionUnit " +
                                   path,
                               &info),
            0);
  EXPECT_EQ(info, "made by Quorvane\nThe title\nsunny\nimage/jpeg\n150\n72\ninches\n");
  ASSERT_EQ(qvtest::RunCommand("exiftool -b -icc_profile " + path + " > " + dir.File("out.icc")), 0);
  EXPECT_TRUE(qvtest::ReadFileBytes(dir.File("out.icc")) == profile);

  // Three chunks of 32,000, 32,000 and 6,000 bytes, read back whole.
  auto d = Decode(qvtest::StreamBytes(out));
  ASSERT_FALSE(d->progress.Aborted());
  std::vector<int64_t> chunks;
  for (int i = 0; i < d->params.JpegMarkers->Count(); ++i)
    if (d->params.JpegMarkers->MarkerType(i) == 0xE2) {
      const uint8_t* m = d->params.JpegMarkers->MarkerData(i);
      EXPECT_EQ(m[12], chunks.size() + 1);
      EXPECT_EQ(m[13], 3);
      chunks.push_back(d->params.JpegMarkers->MarkerLength(i) - 14);
    }
  EXPECT_EQ(chunks, (std::vector<int64_t>{32000, 32000, 6000}));
  ASSERT_NE(d->params.InputICC, nullptr);
  EXPECT_TRUE(d->params.InputICC->Raw() == profile);
  EXPECT_EQ(d->params.DpiX, 150);
  EXPECT_EQ(d->params.DpiY, 72);
}

TEST(JpegOracle, ExifSurvivesALoadAndASave) {
  if (!HaveTools() || !qvtest::HaveProgram("exiftool")) GTEST_SKIP() << "libjpeg-turbo-progs or exiftool missing";
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("src.ppm"), Ppm(40, 30));
  const std::string in = dir.File("in.jpg"), saved = dir.File("saved.jpg");
  ASSERT_EQ(qvtest::RunCommand("cjpeg -quality 90 " + dir.File("src.ppm") + " > " + in), 0);
  ASSERT_EQ(qvtest::RunCommand("exiftool -q -overwrite_original -Make=Quorvane -Model='Test camera' "
                               "-DateTimeOriginal='2024:05:06 07:08:09' -ExposureTime=1/250 -FNumber=5.6 "
                               "-ISO=200 -Orientation#=6 -XResolution=240 -YResolution=240 -ResolutionUnit=inches "
                               "-GPSLatitude=48.5 -GPSLatitudeRef=N -UserComment='kept as it was' " +
                                   in),
            0);
  const auto bytes = qvtest::ReadFileBytes(in);
  auto d = Decode(bytes);
  ASSERT_FALSE(d->progress.Aborted());
  TMemoryStream out;
  qvtest::Progress p;
  WriteJpegStream(out, d->bitmap, d->params, p.rec);
  ASSERT_FALSE(p.Aborted());
  qvtest::WriteFileBytes(saved, qvtest::StreamBytes(out));
  std::string before, after;
  ASSERT_EQ(qvtest::RunCommand("exiftool -s -EXIF:all " + in, &before), 0);
  ASSERT_EQ(qvtest::RunCommand("exiftool -s -EXIF:all " + saved, &after), 0);
  EXPECT_NE(before.find("Quorvane"), std::string::npos) << before;
  EXPECT_NE(before.find("GPSLatitude"), std::string::npos) << before;
  EXPECT_EQ(after, before);
}

TEST(JpegOracle, EmbeddedProfileAppliedLikePillowsImageCms) {
  if (!HaveTools() || !HavePillow()) GTEST_SKIP() << "Pillow missing";
  qvtest::TempDir dir;
  auto src = qvtest::Gradient(29, 17);
  TIOParamsVals params(nullptr);
  params.JpegQuality = 100;
  params.JpegChromaSubsampling = 2;
  const std::vector<uint8_t> profile = LinearRGBProfile(0);
  ASSERT_TRUE(params.GetInputICC()->LoadFromBuffer(profile.data(), int64_t(profile.size())));
  for (int space : {2, 0}) {  // YCbCr, and an RGB-stored file
    params.JpegColorSpace = TIOJpegColorSpace(space);
    TMemoryStream out;
    qvtest::Progress p;
    WriteJpegStream(out, *src, params, p.rec);
    ASSERT_FALSE(p.Aborted());
    const std::string path = dir.File("icc" + std::to_string(space) + ".jpg");
    const auto bytes = qvtest::StreamBytes(out);
    qvtest::WriteFileBytes(path, bytes);
    const std::vector<uint8_t> want = PillowSamples("to_srgb " + path);
    ASSERT_EQ(want.size(), size_t(29) * 17 * 3);

    auto plain = Decode(bytes);
    ReaderProfileManagement = true;
    auto managed = Decode(bytes);
    ReaderProfileManagement = false;
    ASSERT_FALSE(managed->progress.Aborted());
    const std::vector<uint8_t> got = RgbRows(managed->bitmap, 3);
    ASSERT_EQ(got.size(), want.size());
    int worst = 0, moved = 0;
    for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(int(got[i]) - int(want[i])));
    const std::vector<uint8_t> raw = RgbRows(plain->bitmap, 3);
    for (size_t i = 0; i < raw.size(); ++i) moved = std::max(moved, std::abs(int(raw[i]) - int(want[i])));
    EXPECT_LE(worst, 2) << space;
    EXPECT_GT(moved, 20) << space;  // the profile changes the picture visibly
    // Once applied the profile is marked so and its markers are gone.
    EXPECT_TRUE(managed->params.InputICC->Applied());
    EXPECT_EQ(managed->params.JpegMarkers->IndexOfType(0xE2), -1);
    EXPECT_FALSE(plain->params.InputICC->Applied());
    EXPECT_GE(plain->params.JpegMarkers->IndexOfType(0xE2), 0);
  }
}

}  // namespace
