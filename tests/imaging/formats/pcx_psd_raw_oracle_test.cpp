// PCX, DCX, PSD and raw pixel files from netpbm, ImageMagick and Pillow read to
// the pixels those tools put in; what our writers make opens in pcxtoppm,
// Pillow, ImageMagick and exiftool with the pixels and resources we meant.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/formats/pcx_filter.h"
#include "imaging/formats/psd_filter.h"
#include "imaging/formats/raw_pixel_filter.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
const char* kPython = "/usr/bin/python3";

std::string Script() { return std::string(QV_SOURCE_DIR) + "/tests/imaging/formats/pcx_psd_raw_oracle.py"; }

bool HaveTools() {
  return qvtest::RunCommand(std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1") == 0 &&
         qvtest::HaveProgram("ppmtopcx") && qvtest::HaveProgram("pcxtoppm") && qvtest::HaveProgram("exiftool") &&
         qvtest::RunCommand("/usr/bin/convert -version >/dev/null 2>&1") == 0;
}

Bytes FromHex(const std::string& hex) {
  Bytes v;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) v.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return v;
}

// "w h hex" from the script; empty when the tool failed.
Bytes ScriptImage(const std::string& args, int* w = nullptr, int* h = nullptr) {
  std::string out;
  if (qvtest::RunCommand(std::string(kPython) + " " + Script() + " " + args + " 2>/dev/null", &out) != 0) return {};
  std::istringstream in(out);
  int ww = 0, hh = 0;
  std::string hex;
  in >> ww >> hh >> hex;
  if (w) *w = ww;
  if (h) *h = hh;
  return FromHex(hex);
}

std::string ScriptText(const std::string& args) {
  std::string out;
  qvtest::RunCommand(std::string(kPython) + " " + Script() + " " + args + " 2>/dev/null", &out);
  return out;
}

// RGBA rows of a bitmap (alpha from its channel, else opaque).
Bytes Rgba(TIEBitmap& bitmap) {
  TIEBitmap c;
  c.Assign(&bitmap);
  if (c.PixelFormat() != ie24RGB) c.SetPixelFormat(ie24RGB);
  Bytes out;
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x) {
      const TRGB p = c.GetPixelRGB(x, y);
      out.insert(out.end(), {p.r, p.g, p.b, uint8_t(bitmap.HasAlphaChannel() ? bitmap.GetAlpha(x, y) : 255)});
    }
  return out;
}

// Equal within tolerance; colours only where the expected pixel is not transparent.
void ExpectPixels(const Bytes& got, const Bytes& want, int tolerance, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  int bad = 0;
  for (size_t i = 0; i < want.size(); i += 4) {
    bool same = std::abs(got[i + 3] - want[i + 3]) <= tolerance;
    if (want[i + 3] != 0)
      for (int k = 0; k < 3; ++k) same = same && std::abs(got[i + k] - want[i + k]) <= tolerance;
    if (!same && bad++ < 3)
      ADD_FAILURE() << what << " pixel " << i / 4 << ": " << int(got[i]) << "," << int(got[i + 1]) << ","
                    << int(got[i + 2]) << "," << int(got[i + 3]) << " want " << int(want[i]) << ","
                    << int(want[i + 1]) << "," << int(want[i + 2]) << "," << int(want[i + 3]);
  }
  EXPECT_EQ(bad, 0) << what;
}

struct Entry {
  std::string name, ext, extra;
  int index = 0, w = 0, h = 0;
};

std::vector<Entry> Manifest(qvtest::TempDir& dir) {
  std::vector<Entry> entries;
  if (qvtest::RunCommand(std::string(kPython) + " " + Script() + " make " + dir.File("") + " 2>/dev/null") != 0)
    return entries;
  std::ifstream manifest(dir.File("manifest"));
  std::string line;
  while (std::getline(manifest, line)) {
    std::istringstream in(line);
    Entry e;
    in >> e.name >> e.ext >> e.index >> e.w >> e.h;
    std::getline(in, e.extra);
    if (!e.extra.empty() && e.extra[0] == ' ') e.extra.erase(0, 1);
    entries.push_back(e);
  }
  return entries;
}

// One shared set of tool files for the tests of this file.
class ToolFiles : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!HaveTools()) return;
    dir_ = new qvtest::TempDir;
    entries_ = new std::vector<Entry>(Manifest(*dir_));
  }
  static void TearDownTestSuite() {
    delete entries_;
    delete dir_;
    entries_ = nullptr, dir_ = nullptr;
  }
  void SetUp() override {
    if (!HaveTools()) GTEST_SKIP() << "Pillow, netpbm, exiftool or ImageMagick missing";
    ASSERT_FALSE(entries_->empty()) << "the tools made no files";
  }
  static std::string File(const std::string& name) { return dir_->File(name); }
  static std::vector<Entry> Of(const std::string& ext) {
    std::vector<Entry> out;
    for (const Entry& e : *entries_)
      if (e.ext == ext) out.push_back(e);
    return out;
  }
  static qvtest::TempDir* dir_;
  static std::vector<Entry>* entries_;
};
qvtest::TempDir* ToolFiles::dir_ = nullptr;
std::vector<Entry>* ToolFiles::entries_ = nullptr;

using PcxFilterOracle = ToolFiles;
using PsdFilterOracle = ToolFiles;
using RawPixelFilterOracle = ToolFiles;

TEST_F(PcxFilterOracle, NetpbmPillowAndImageMagickFilesReadToTheirPixels) {
  int count = 0;
  for (const std::string ext : {"pcx", "dcx"})
    for (const Entry& e : Of(ext)) {
      ++count;
      const Bytes bytes = qvtest::ReadFileBytes(File(e.ext == "dcx" ? "multi.dcx" : e.name + ".pcx"));
      TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
      TIEBitmap bitmap;
      TIOParamsVals params(nullptr);
      params.DcxImageIndex = e.index;
      qvtest::Progress progress;
      if (e.ext == "dcx") ReadDCXStream(s, bitmap, params, false, progress.rec);
      else ReadPCXStream(s, bitmap, params, false, progress.rec, int64_t(bytes.size()));
      ASSERT_FALSE(progress.Aborted()) << e.name;
      ASSERT_EQ(bitmap.Width(), e.w) << e.name;
      ASSERT_EQ(bitmap.Height(), e.h) << e.name;
      ExpectPixels(Rgba(bitmap), qvtest::ReadFileBytes(File(e.name + ".rgba")), 0, e.name);
      if (e.ext == "dcx") { EXPECT_EQ(params.ImageCount, 3) << e.name; }
    }
  EXPECT_EQ(count, 12);
}

TEST_F(PcxFilterOracle, OurFilesOpenInPcxtoppmPillowAndImageMagick) {
  // Few colours, so the 4- and 8-bit forms hold every pixel; two for 1 bit.
  auto gradient = qvtest::Gradient(23, 13);
  TIEBitmap few(23, 13, ie24RGB), two(23, 13, ie24RGB);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 23; ++x) {
      few.SetPixelRGB(x, y, MakeRGB(uint8_t((x % 4) * 60), uint8_t((y % 3) * 100), 77));
      two.SetPixelRGB(x, y, (x + y) % 3 ? MakeRGB(250, 250, 250) : MakeRGB(0, 0, 0));
    }
  struct Form {
    const char* name;
    TIEBitmap* picture;
    int bits, samples;
    bool compressed;
  } forms[] = {{"rgb24", gradient.get(), 8, 3, true}, {"rgb24raw", gradient.get(), 8, 3, false},
               {"pal8", &few, 8, 1, true},            {"pal4", &few, 4, 1, true},
               {"pal4raw", &few, 4, 1, false},        {"bw1", &two, 1, 1, true}};
  for (const Form& f : forms) {
    TIOParamsVals params(nullptr);
    params.BitsPerSample = f.bits, params.SamplesPerPixel = f.samples, params.PcxCompression = f.compressed;
    TMemoryStream out;
    qvtest::Progress p;
    WritePCXStream(out, *f.picture, params, p.rec);
    ASSERT_FALSE(p.Aborted()) << f.name;
    const std::string path = File(std::string("ours_") + f.name + ".pcx");
    qvtest::WriteFileBytes(path, qvtest::StreamBytes(out));
    const Bytes want = Rgba(*f.picture);
    // Each tool where it reads the form: pcxtoppm reads run-length files only;
    // Pillow reads stored lines without their bytes-per-line padding, has no
    // 4-bit single-plane form and draws 1-bit files black and white whatever
    // their palette; ImageMagick 6 swaps the two colours of 1-bit files
    // (netpbm's own too).
    if (f.compressed) {
      ASSERT_EQ(qvtest::RunCommand("pcxtoppm " + path + " > " + path + ".ppm 2>/dev/null"), 0) << f.name;
      ExpectPixels(ScriptImage("dump " + path + ".ppm"), want, 0, std::string("pcxtoppm ") + f.name);
    }
    if (f.compressed && f.bits * f.samples >= 8)
      ExpectPixels(ScriptImage("dump " + path), want, 0, std::string("Pillow ") + f.name);
    if (f.bits > 1) ExpectPixels(ScriptImage("magick " + path), want, 0, std::string("ImageMagick ") + f.name);
  }
  // A DCX of three pages written one page at a time, the middle one inserted last.
  TFileStream dcx(File("ours.dcx"), fmCreate);
  auto writePage = [&](TIEBitmap& page, int index) {
    TIOParamsVals params(nullptr);
    params.DcxImageIndex = index;
    qvtest::Progress p;
    dcx.SetPosition(0);
    WriteDCXStream(dcx, page, params, p.rec);
    ASSERT_FALSE(p.Aborted());
  };
  writePage(*gradient, 0);
  writePage(few, 1);
  writePage(two, 1);  // before the page of few colours
  const std::string path = File("ours.dcx");
  EXPECT_EQ(ScriptText("frames " + path), "3\n");
  TIEBitmap* order[] = {gradient.get(), &two, &few};
  for (int k = 0; k < 3; ++k) {
    const Bytes want = Rgba(*order[k]);
    ExpectPixels(ScriptImage("dump " + path + " " + std::to_string(k)), want, 0, "Pillow page " + std::to_string(k));
    ExpectPixels(ScriptImage("magick " + path + "[" + std::to_string(k) + "]"), want, 0,
                 "ImageMagick page " + std::to_string(k));
  }
}

std::unique_ptr<TIEBitmap> ReadPsd(const std::string& path, TPSDLayerList* layers, TIOParamsVals& params,
                                   bool* aborted) {
  const Bytes bytes = qvtest::ReadFileBytes(path);
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  auto bitmap = std::make_unique<TIEBitmap>();
  qvtest::Progress progress;
  ReadPSDStream(s, bitmap.get(), params, layers, layers != nullptr, progress.rec);
  *aborted = progress.Aborted();
  return bitmap;
}

TEST_F(PsdFilterOracle, ImageMagickDocumentsReadToItsPixelsLayersAndResolution) {
  for (const Entry& e : Of("psd")) {
    TIOParamsVals params(nullptr);
    bool aborted = true;
    auto merged = ReadPsd(File(e.name + ".psd"), nullptr, params, &aborted);
    ASSERT_FALSE(aborted) << e.name;
    ASSERT_EQ(merged->Width(), e.w) << e.name;
    // 16-bit samples may round either way to 8 bits.
    ExpectPixels(Rgba(*merged), qvtest::ReadFileBytes(File(e.name + ".rgba")), 1, e.name);
  }
  // The layered document: Pillow lists the layers, ImageMagick draws each.
  TIOParamsVals params(nullptr);
  TPSDLayerList layers;
  bool aborted = true;
  auto merged = ReadPsd(File("layered.psd"), &layers, params, &aborted);
  ASSERT_FALSE(aborted);
  EXPECT_TRUE(merged->IsEmpty());
  const std::string pillowLayers = ScriptText("layers " + File("layered.psd"));
  std::istringstream listed(pillowLayers);
  const std::vector<Entry> expected = Of("psdlayer");
  ASSERT_EQ(layers.size(), expected.size()) << pillowLayers;
  for (size_t i = 0; i < layers.size(); ++i) {
    std::string name;
    int x0, y0, x1, y1;
    listed >> name >> x0 >> y0 >> x1 >> y1;
    TPSDLayerRecord& l = layers[i];
    EXPECT_EQ(l.Name, name);
    EXPECT_EQ(l.PosX, x0);
    EXPECT_EQ(l.PosY, y0);
    EXPECT_EQ(l.Bitmap->Width(), x1 - x0);
    EXPECT_EQ(l.Bitmap->Height(), y1 - y0);
    ExpectPixels(Rgba(*l.Bitmap), qvtest::ReadFileBytes(File(expected[i].name + ".rgba")), 0, expected[i].name);
  }
  // exiftool's resolution (16.16 fixed) is ours in whole dots.
  std::string exif;
  qvtest::RunCommand("exiftool -v " + File("layered.psd"), &exif);
  const size_t at = exif.find("XResolution = ");
  ASSERT_NE(at, std::string::npos) << exif;
  EXPECT_EQ(params.DpiX, std::stol(exif.substr(at + 14)) / 65536);
  EXPECT_EQ(params.DpiX, 72);
}

TEST_F(PsdFilterOracle, OurDocumentsOpenInPillowImageMagickAndExiftool) {
  auto picture = qvtest::Gradient(23, 13);
  TPSDLayerList layers(2);
  auto first = qvtest::Gradient(10, 6);
  layers[0].Bitmap = first.get(), layers[0].PosX = 4, layers[0].PosY = 3, layers[0].Name = "first";
  auto second = qvtest::Gradient(23, 13);
  second->AlphaChannel()->Fill(255);
  for (int x = 0; x < 23; ++x) second->SetAlpha(x, 2, uint8_t(x * 10));
  layers[1].Bitmap = second.get(), layers[1].Name = "second";
  TIOParamsVals params(nullptr);
  params.DpiX = 150, params.DpiY = 150;
  params.XmpPacket =
      "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
      "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
      "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:format>image/vnd.adobe.photoshop</dc:format>"
      "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
  TMemoryStream out;
  qvtest::Progress p;
  WritePSDStream(out, params, p.rec, &layers, picture.get());
  ASSERT_FALSE(p.Aborted());
  const std::string path = File("ours.psd");
  qvtest::WriteFileBytes(path, qvtest::StreamBytes(out));
  const Bytes want = Rgba(*picture);
  ExpectPixels(ScriptImage("dump " + path), want, 0, "Pillow merged");
  ExpectPixels(ScriptImage("magick " + path + "[0]"), want, 0, "ImageMagick merged");
  EXPECT_EQ(ScriptText("layers " + path), "first 4 3 14 9\nsecond 0 0 23 13\n");
  ExpectPixels(ScriptImage("magick " + path + "[1]"), Rgba(*first), 0, "ImageMagick layer 1");
  ExpectPixels(ScriptImage("magick " + path + "[2]"), Rgba(*second), 0, "ImageMagick layer 2");
  std::string exif;
  qvtest::RunCommand("exiftool -v " + path, &exif);
  EXPECT_NE(exif.find("XResolution = 9830400"), std::string::npos) << exif;
  EXPECT_NE(exif.find("Format = image/vnd.adobe.photoshop"), std::string::npos) << exif;
  EXPECT_NE(exif.find("LayerNames = first"), std::string::npos) << exif;

  // Other modes: grey, 16-bit colour and indexed with one transparent entry.
  struct Mode {
    const char* name;
    TIEBitmapFormat format;
  } modes[] = {{"grey", ie8g}, {"rgb48", ieRGB48}, {"indexed", ie8p}, {"bilevel", ie1g}};
  for (const Mode& m : modes) {
    TIEBitmap b;
    b.Assign(picture.get());
    b.SetPixelFormat(m.format);
    TIOParamsVals plain(nullptr);
    TMemoryStream s;
    qvtest::Progress q;
    WritePSDStream(s, plain, q.rec, nullptr, &b);
    ASSERT_FALSE(q.Aborted()) << m.name;
    const std::string file = File(std::string("ours_") + m.name + ".psd");
    qvtest::WriteFileBytes(file, qvtest::StreamBytes(s));
    const Bytes modeWant = Rgba(b);
    // ImageMagick 6 refuses every indexed document, its own too.
    if (m.format != ie8p) ExpectPixels(ScriptImage("magick " + file), modeWant, 1, std::string("ImageMagick ") + m.name);
    // Pillow has no 16-bit colour, and takes the set bits of a bitmap document
    // as white where Photoshop and ImageMagick take them as black.
    if (m.format != ieRGB48 && m.format != ie1g) ExpectPixels(ScriptImage("dump " + file), modeWant, 0, std::string("Pillow ") + m.name);
  }
}

TEST_F(RawPixelFilterOracle, ConvertSamplesReadInEveryLayout) {
  int count = 0;
  for (const Entry& e : Of("raw")) {
    ++count;
    std::istringstream layout(e.extra);
    std::string kind, tag;
    int depth = 8;
    layout >> kind >> depth >> tag;
    const TIEBitmapFormat format = kind == "rgb" ? (depth == 16 ? ieRGB48 : ie24RGB)
                                   : kind == "gray" ? (depth == 16 ? ie16g : ie8g)
                                                    : ieCMYK;
    TIEBitmap bitmap(e.w, e.h, format);
    TIOParamsVals params(nullptr);
    params.RawPixelPlanar = tag == "p" ? 1 : 0;
    const Bytes bytes = qvtest::ReadFileBytes(File(e.name + ".raw"));
    TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
    qvtest::Progress progress;
    ReadRawPixelStream(s, bitmap, params, progress.rec);
    ASSERT_FALSE(progress.Aborted()) << e.name;
    const Bytes want = qvtest::ReadFileBytes(File(e.name + ".rgba"));
    const int perPixel = kind == "rgb" ? 4 : kind == "gray" ? 1 : 4;
    ASSERT_EQ(want.size(), size_t(e.w * e.h * perPixel)) << e.name;
    int bad = 0;
    for (int y = 0; y < e.h; ++y)
      for (int x = 0; x < e.w; ++x) {
        const uint8_t* w = &want[size_t((y * e.w + x) * perPixel)];
        bool same = true;
        if (format == ie24RGB) same = bitmap.GetPixelRGB(x, y) == MakeRGB(w[0], w[1], w[2]);
        if (format == ieRGB48) same = bitmap.GetPixelRGB48(x, y) == TRGB48{uint16_t(w[0] * 257), uint16_t(w[1] * 257), uint16_t(w[2] * 257)};
        if (format == ie8g) same = bitmap.GetPixel8(x, y) == w[0];
        // ImageMagick's grey levels are made at 16 bits; the 8-bit file rounds them.
        if (format == ie16g) same = std::abs(bitmap.GetPixel16(x, y) - w[0] * 257) <= 128;
        if (format == ieCMYK) same = bitmap.GetPixelCMYK(x, y) == TCMYK{w[0], w[1], w[2], w[3]};
        if (!same && bad++ < 3) ADD_FAILURE() << e.name << " pixel " << x << "," << y;
      }
  }
  EXPECT_EQ(count, 8);
}

}  // namespace
