// The PostScript and PDF writers: document structure, page counts and object
// numbering by worked examples, then every page kind and coding rendered back
// by Ghostscript and Poppler and checked by qpdf.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cctype>
#include <filesystem>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/formats/pdf_filter.h"
#include "imaging/formats/ps_filter.h"
#include "imaging/formats/format_filters.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/imaging/formats/ps_pdf_check.h"
#include "tests/imaging/io/io_test_support.h"
#include "tests/support/test_support.h"

namespace {

std::string ToText(TMemoryStream& s) {
  std::vector<uint8_t> b = qvtest::StreamBytes(s);
  return std::string(b.begin(), b.end());
}

// A bilevel page of stripes, a disc and fine detail.
std::unique_ptr<TIEBitmap> Bilevel(int w, int h) {
  auto b = std::make_unique<TIEBitmap>(w, h, ie1g);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int dx = x - w / 2, dy = y - h / 2;
      const bool black = (dx * dx + dy * dy < w * h / 8) != ((x / 5 + y / 3) % 4 == 0) || (x == y);
      // ie1g rows: a set bit is white.
      uint8_t& byte = b->ScanLine(y)[x / 8];
      const uint8_t bit = uint8_t(0x80 >> (x % 8));
      byte = black ? uint8_t(byte & ~bit) : uint8_t(byte | bit);
    }
  return b;
}

std::string WritePdf(TIEBitmap& b, TIOParamsVals& p, int pages = 1) {
  qvtest::Progress pr;
  TMemoryStream out;
  if (pages == 1) {
    WritePDFStream(out, b, p, pr.rec);
  } else {
    auto doc = CreatePDFDocument();
    for (int i = 0; i < pages; ++i) AddPDFPage(*doc, b, p, pr.rec);
    WritePDFDocument(std::move(doc), out, p);
  }
  EXPECT_FALSE(pr.Aborted());
  return ToText(out);
}

std::string WritePs(TIEBitmap& b, TIOParamsVals& p, int pages = 1) {
  qvtest::Progress pr;
  TMemoryStream out;
  auto doc = BeginPSDocument(out, p);
  for (int i = 0; i < pages; ++i) AddPSPage(*doc, out, b, pr.rec, p);
  EndPSDocument(std::move(doc), out);
  EXPECT_FALSE(pr.Aborted());
  return ToText(out);
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

TEST(PdfWriter, OneBilevelPageNumbersSevenObjects) {
  auto b = Bilevel(40, 30);
  TIOParamsVals p(nullptr);
  const std::string pdf = WritePdf(*b, p);
  EXPECT_EQ(qvtest::CheckPDFStructure(pdf), "");
  EXPECT_NE(pdf.find("/Size 8\n"), std::string::npos);
  EXPECT_NE(pdf.find("7 0 obj\n<< /CreationDate (D:"), std::string::npos);
  EXPECT_NE(pdf.find("3 0 obj\n<< /Type /XObject\n/Subtype /Image\n/Length "), std::string::npos);
  EXPECT_NE(pdf.find("/Filter /CCITTFaxDecode\n/DecodeParms << /K -1\n/BlackIs1 true\n/Columns 40\n/Rows 30"),
            std::string::npos);
  EXPECT_NE(pdf.find("1 0 obj\n<< /Type /Catalog\n/Pages 6 0 R\n>>"), std::string::npos);
  EXPECT_EQ(p.BitsPerSample, 1);
  EXPECT_EQ(p.SamplesPerPixel, 1);
}

TEST(PdfWriter, CodingsByKindAndParameter) {
  struct Case {
    bool bilevel;
    uint8_t compression;
    const char* expect;
    uint8_t after;
  };
  const Case cases[] = {
      {false, 2, "/Length 2250\n/ColorSpace /DeviceRGB\n/BitsPerComponent 8\n/Width 30\n/Height 25", 2},
      {false, 0, "/ColorSpace /DeviceRGB\n/BitsPerComponent 8", 0},
      {false, 4, "/Filter /DCTDecode\n/ColorSpace /DeviceRGB\n/BitsPerComponent 8", 4},
      {true, 0, "/Length 100\n/ColorSpace /DeviceGray\n/BitsPerComponent 1", 0},
      {true, 1, "/Filter [/RunLengthDecode ]\n/ColorSpace /DeviceGray", 1},
      {true, 4, "/DecodeParms << /K 25\n", 3},
      {true, 9, "/Length 100\n/ColorSpace /DeviceGray", 9},
  };
  for (const Case& c : cases) {
    auto b = c.bilevel ? Bilevel(30, 25) : qvtest::Gradient(30, 25);
    TIOParamsVals p(nullptr);
    p.PdfCompression = c.compression;
    const std::string pdf = WritePdf(*b, p);
    EXPECT_NE(pdf.find(c.expect), std::string::npos) << int(c.compression) << " " << c.bilevel;
    EXPECT_EQ(p.PdfCompression, c.after);
    EXPECT_EQ(qvtest::CheckPDFStructure(pdf), "");
  }
}

TEST(PdfWriter, PagesShareResourcesAndNameTheirImages) {
  auto b = qvtest::Gradient(20, 10);
  TIOParamsVals p(nullptr);
  p.PdfTitle = "Caf\xC3\xA9 (menu)";
  p.PdfAuthor = "ASCII";
  const std::string pdf = WritePdf(*b, p, 3);
  EXPECT_EQ(qvtest::CheckPDFStructure(pdf), "");
  EXPECT_NE(pdf.find("/XObject << /lm1 3 0 R\n/lm2 6 0 R\n/lm3 9 0 R\n>>"), std::string::npos);
  EXPECT_NE(pdf.find("/lm2 Do"), std::string::npos);
  EXPECT_NE(pdf.find("/Count 3"), std::string::npos);
  EXPECT_NE(pdf.find("/Title <FEFF00430061006600E900200028006D0065006E00750029>"), std::string::npos);
  EXPECT_NE(pdf.find("/Author (ASCII)"), std::string::npos);
  // Fitted to the A4 page at its top: 595 / 20 < 842 / 10.
  EXPECT_NE(pdf.find("q\n595 0 0 297 0 545 cm\n/lm1 Do\nQ"), std::string::npos);
}

TEST(PsWriter, DocumentCommentsAndPageCount) {
  auto b = qvtest::Gradient(1190, 500);
  TIOParamsVals p(nullptr);
  p.PsTitle = "Line one\nand (two) \xC3\xA9";
  const std::string ps = WritePs(*b, p, 2);
  EXPECT_EQ(ps.rfind("%!PS-Adobe-3.0\r\n%%Creator: ImageLib\r\n", 0), 0u);
  EXPECT_NE(ps.find("%%Title: Line one\\012and \\(two\\) \\303\\251\r\n"), std::string::npos);
  EXPECT_NE(ps.find("%%Pages: 2     \r\n"), std::string::npos);
  EXPECT_NE(ps.find("%%BoundingBox: 0 0 594 841\r\n"), std::string::npos);
  EXPECT_NE(ps.find("%%Page: 1 1\r\n"), std::string::npos);
  EXPECT_NE(ps.find("%%Page: 2 2\r\n"), std::string::npos);
  EXPECT_NE(ps.find("595 -250 scale\r\n"), std::string::npos);
  EXPECT_EQ(Count(ps, "%%Trailer"), 1);
  EXPECT_EQ(ps.substr(ps.size() - 18), "%%Trailer\r\n%%EOF\r\n");
  EXPECT_EQ(qvtest::CheckDSCDataCounts(ps), "");
  // Every header line is printable ASCII, as Clean7Bit promises.
  for (const char ch : ps.substr(0, ps.find("%%EndComments")))
    EXPECT_TRUE(ch == '\r' || ch == '\n' || (ch >= 32 && ch < 127));
  // English names whatever the locale.
  EXPECT_EQ(PSDateText(2026, 12, 10, 5, 14, 3, 0), "Thu Dec 10 14:03:00 2026");
}

TEST(PsWriter, SamplesFollowTheBitmap) {
  auto grey = std::make_unique<TIEBitmap>(8, 4, ie8g);
  TIOParamsVals p(nullptr);
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 1;
  const std::string ps = WritePs(*grey, p);
  EXPECT_EQ(p.SamplesPerPixel, 3);
  EXPECT_NE(ps.find("8 4 8\r\n[ 8 0 0 4 0 0 ]\r\n/rstr 8 string def"), std::string::npos);
  EXPECT_NE(ps.find("true 3\r\n%%BeginData:"), std::string::npos);
  auto bw = Bilevel(9, 9);
  p.PsCompression = 3;  // no JPEG for a bilevel page: run-length instead
  const std::string ps1 = WritePs(*bw, p);
  EXPECT_NE(ps1.find("9 9 1\r\n"), std::string::npos);
  EXPECT_NE(ps1.find("/RunLengthDecode filter\r\n%%BeginData:"), std::string::npos);
  EXPECT_EQ(qvtest::CheckDSCDataCounts(ps1), "");
}

// ---- rendered back by other programs ----

struct Ppm {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
};

// A binary PPM as pdftoppm and Ghostscript write it (with comment lines).
Ppm ReadPpm(const std::string& path) {
  Ppm out;
  std::vector<uint8_t> f = qvtest::ReadFileBytes(path);
  size_t p = 2;
  int fields[3] = {0, 0, 0};
  if (f.size() < 2 || f[0] != 'P' || f[1] != '6') return out;
  for (int& field : fields) {
    while (p < f.size() && (std::isspace(f[p]) || f[p] == '#')) {
      if (f[p] == '#')
        while (p < f.size() && f[p] != '\n') ++p;
      else
        ++p;
    }
    while (p < f.size() && std::isdigit(f[p])) field = field * 10 + (f[p++] - '0');
  }
  out.w = fields[0], out.h = fields[1];
  if (p < f.size()) out.rgb.assign(f.begin() + long(p) + 1, f.end());
  return out;
}

int MaxDifference(TIEBitmap& b, const Ppm& r) {
  if (r.w != b.Width() || r.h != b.Height() || r.rgb.size() < size_t(r.w) * r.h * 3) return 1000;
  int worst = 0;
  for (int y = 0; y < r.h; ++y)
    for (int x = 0; x < r.w; ++x) {
      const TRGB c = b.GetPixelAsRGB(x, y);
      const uint8_t* q = &r.rgb[(size_t(y) * r.w + x) * 3];
      worst = std::max({worst, std::abs(c.r - q[0]), std::abs(c.g - q[1]), std::abs(c.b - q[2])});
    }
  return worst;
}

bool HaveRenderers() {
  return qvtest::HaveProgram("gs") && qvtest::HaveProgram("pdftoppm") && qvtest::HaveProgram("qpdf") &&
         qvtest::HaveProgram("pdfimages") && qvtest::HaveProgram("pdfinfo");
}

struct RenderCase {
  bool bilevel;
  int w, h;
  uint8_t compression;
  int tolerance;
};

std::string Name(const RenderCase& c) {
  return std::string(c.bilevel ? "bw" : "rgb") + std::to_string(c.w) + "x" + std::to_string(c.h) + "c" +
         std::to_string(c.compression);
}

// A JPEG-coded page gets a smooth picture, whose coding error stays small;
// the other codings must keep every pixel, so they get a busy one.
std::unique_ptr<TIEBitmap> Picture(const RenderCase& c) {
  if (c.bilevel) return Bilevel(c.w, c.h);
  if (c.tolerance == 0) return qvtest::Gradient(c.w, c.h);
  auto b = std::make_unique<TIEBitmap>(c.w, c.h, ie24RGB);
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x)
      b->SetPixelRGB(x, y, MakeRGB(uint8_t(x * 255 / c.w), uint8_t(y * 255 / c.h), uint8_t(128 + (x + y) % 16)));
  return b;
}

TEST(PsPdfWriterOracle, PagesRenderAsTheirPictures) {
  if (!HaveRenderers()) GTEST_SKIP() << "ghostscript, poppler-utils or qpdf is missing";
  qvtest::TempDir dir;
  std::vector<RenderCase> pdfCases, psCases;
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{17, 9}, std::pair{640, 480}}) {
    for (uint8_t c : {0, 1, 2, 3, 5}) pdfCases.push_back({true, w, h, c, 0});
    for (uint8_t c : {0, 5}) pdfCases.push_back({false, w, h, c, 0});
    pdfCases.push_back({false, w, h, 4, 60});
    for (uint8_t c : {0, 1, 2}) psCases.push_back({true, w, h, c, 0});
    psCases.push_back({false, w, h, 0, 0});
    psCases.push_back({false, w, h, 3, 60});
  }
  std::string out;
  for (const RenderCase& c : pdfCases) {
    auto b = Picture(c);
    TIOParamsVals p(nullptr);
    p.PdfCompression = c.compression;
    p.PdfPaperWidth = c.w;
    p.PdfPaperHeight = c.h;
    const std::string pdf = WritePdf(*b, p);
    const std::string file = dir.File(Name(c) + ".pdf");
    qvtest::WriteFileBytes(file, std::vector<uint8_t>(pdf.begin(), pdf.end()));
    EXPECT_EQ(qvtest::RunCommand("qpdf --check " + file + " >/dev/null 2>&1"), 0) << Name(c);
    // Poppler's renderer resamples small images drawn 1:1, so its side of the
    // check is the image as pdfimages decodes it.
    ASSERT_EQ(qvtest::RunCommand("pdfimages -png " + file + " " + dir.File("i") +
                                 " && /usr/bin/python3 -c \"import sys; from PIL import Image; "
                                 "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])\" " +
                                 dir.File("i-000.png") + " " + dir.File("p.ppm")),
              0)
        << Name(c);
    EXPECT_LE(MaxDifference(*b, ReadPpm(dir.File("p.ppm"))), c.tolerance) << "pdfimages " << Name(c);
    ASSERT_EQ(qvtest::RunCommand("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r72 -o " + dir.File("g.ppm") +
                                 " " + file + " 2>/dev/null"),
              0)
        << Name(c);
    EXPECT_LE(MaxDifference(*b, ReadPpm(dir.File("g.ppm"))), c.tolerance) << "gs " << Name(c);
  }
  for (const RenderCase& c : psCases) {
    auto b = Picture(c);
    TIOParamsVals p(nullptr);
    p.PsCompression = c.compression;
    p.PsPaperWidth = c.w;
    p.PsPaperHeight = c.h;
    const std::string ps = WritePs(*b, p);
    EXPECT_EQ(qvtest::CheckDSCDataCounts(ps), "") << Name(c);
    const std::string file = dir.File(Name(c) + ".ps");
    qvtest::WriteFileBytes(file, std::vector<uint8_t>(ps.begin(), ps.end()));
    ASSERT_EQ(qvtest::RunCommand("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r72 -dFIXEDMEDIA -g" +
                                 std::to_string(c.w) + "x" + std::to_string(c.h) + " -o " + dir.File("g.ppm") + " " +
                                 file + " 2>&1",
                                 &out),
              0)
        << Name(c) << out;
    EXPECT_LE(MaxDifference(*b, ReadPpm(dir.File("g.ppm"))), c.tolerance) << "gs " << Name(c) << out;
  }
}

TEST(PsPdfWriterOracle, DocumentsAsOtherToolsSeeThem) {
  if (!HaveRenderers() || !qvtest::HaveProgram("ps2pdf") || !qvtest::HaveProgram("psselect"))
    GTEST_SKIP() << "ghostscript, poppler-utils, qpdf or psutils is missing";
  qvtest::TempDir dir;
  std::string out;
  auto colour = qvtest::Gradient(64, 48);
  TIOParamsVals p(nullptr);
  p.PdfTitle = "R\xC3\xA9sum\xC3\xA9";
  p.PdfCompression = 4;
  const std::string pdf = WritePdf(*colour, p, 3);
  const std::string pdfFile = dir.File("three.pdf");
  qvtest::WriteFileBytes(pdfFile, std::vector<uint8_t>(pdf.begin(), pdf.end()));
  ASSERT_EQ(qvtest::RunCommand("pdfinfo " + pdfFile, &out), 0);
  EXPECT_NE(out.find("Pages:           3"), std::string::npos) << out;
  EXPECT_NE(out.find("Title:           R\xC3\xA9sum\xC3\xA9"), std::string::npos) << out;
  EXPECT_NE(out.find("Page size:       595 x 842 pts"), std::string::npos) << out;
  ASSERT_EQ(qvtest::RunCommand("pdfimages -list " + pdfFile, &out), 0);
  EXPECT_EQ(Count(out, " jpeg "), 3) << out;
  EXPECT_NE(out.find("image      64    48  rgb     3   8  jpeg"), std::string::npos) << out;
  // The JPEG bytes come out of the document as they went in.
  ASSERT_EQ(qvtest::RunCommand("cd " + dir.Path().string() + " && pdfimages -j -f 1 -l 1 three.pdf img"), 0);
  TMemoryStream jpeg;
  qvtest::Progress pr;
  WriteJpegStream(jpeg, *colour, p, pr.rec);
  EXPECT_EQ(qvtest::ReadFileBytes(dir.File("img-000.jpg")), qvtest::StreamBytes(jpeg));

  // Red through a CMYK JPEG renders red.
  auto red = std::make_unique<TIEBitmap>(16, 16, ie24RGB);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) red->SetPixelRGB(x, y, MakeRGB(230, 20, 20));
  TIOParamsVals cmyk(nullptr);
  cmyk.PdfCompression = 4;
  cmyk.JpegColorSpace = 3;
  cmyk.PdfPaperWidth = 16;
  cmyk.PdfPaperHeight = 16;
  const std::string redPdf = WritePdf(*red, cmyk);
  qvtest::WriteFileBytes(dir.File("red.pdf"), std::vector<uint8_t>(redPdf.begin(), redPdf.end()));
  for (const std::string& render :
       {"pdftoppm -r 72 -singlefile " + dir.File("red.pdf") + " " + dir.File("r"),
        "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r72 -o " + dir.File("r.ppm") + " " + dir.File("red.pdf")}) {
    ASSERT_EQ(qvtest::RunCommand(render), 0) << render;
    const Ppm r = ReadPpm(dir.File("r.ppm"));
    ASSERT_FALSE(r.rgb.empty());
    EXPECT_GT(r.rgb[0], 150) << render;
    EXPECT_LT(r.rgb[1], 100) << render;
    EXPECT_LT(r.rgb[2], 100) << render;
  }

  // PostScript: three pages, accepted by ps2pdf; psselect takes page 2 whole.
  auto bw = Bilevel(100, 60);
  TIOParamsVals q(nullptr);
  const std::string ps = WritePs(*bw, q, 3);
  const std::string psFile = dir.File("three.ps");
  qvtest::WriteFileBytes(psFile, std::vector<uint8_t>(ps.begin(), ps.end()));
  EXPECT_EQ(qvtest::RunCommand("ps2pdf " + psFile + " " + dir.File("fromps.pdf") + " 2>&1", &out), 0) << out;
  ASSERT_EQ(qvtest::RunCommand("pdfinfo " + dir.File("fromps.pdf"), &out), 0);
  EXPECT_NE(out.find("Pages:           3"), std::string::npos) << out;
  ASSERT_EQ(qvtest::RunCommand("psselect -p2 " + psFile + " " + dir.File("p2.ps") + " 2>&1", &out), 0) << out;
  std::vector<uint8_t> p2 = qvtest::ReadFileBytes(dir.File("p2.ps"));
  const std::string page2(p2.begin(), p2.end());
  EXPECT_NE(page2.find("%%Page: 2 1"), std::string::npos);
  EXPECT_EQ(Count(page2, "%%Page: "), 1);
  EXPECT_EQ(Count(page2, "showpage"), 1);
}

TEST(PsPdfWriter, TheComponentSavesByNameAndToStreams) {
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  RegisterFormatFilters();
  qvtest::TempDir dir;
  auto picture = qvtest::Gradient(40, 30);
  for (const char* name : {"x.ps", "x.eps", "x.pdf"}) {
    TIEBitmap source;
    source.Assign(picture.get());
    auto io = TImageLibIO::CreateForBitmap(&source);
    io->SaveFile(dir.File(name));
    ASSERT_FALSE(io->Aborting()) << name;
    const std::vector<uint8_t> bytes = qvtest::ReadFileBytes(dir.File(name));
    const std::string text(bytes.begin(), bytes.end());
    if (std::string(name) == "x.pdf") EXPECT_EQ(qvtest::CheckPDFStructure(text), "");
    else EXPECT_EQ(text.rfind("%!PS-Adobe-3.0", 0), 0u) << name;
    TMemoryStream stream;
    io->SaveStream(stream, std::string(name) == "x.pdf" ? ioPDF : ioPS);
    EXPECT_FALSE(io->Aborting()) << name;
    EXPECT_GT(stream.Size(), 100);
  }
  // Nothing but the saved files is left in the folder.
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++files;
  EXPECT_EQ(files, 3);
}

TEST(PsPdfWriter, ASaveThatFailsPartWayKeepsTheOldFile) {
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  RegisterFormatFilters();
  qvtest::TempDir dir;
  const std::string file = dir.File("old.pdf");
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  qvtest::WriteFileBytes(file, old);
  auto big = qvtest::Gradient(600, 400);
  auto io = TImageLibIO::CreateForBitmap(big.get());
  io->Params().PdfCompression = 0;
  // Files may not grow past 64 KB while the save runs.
  struct rlimit saved {};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = saved;
  limit.rlim_cur = 64 * 1024;
  setrlimit(RLIMIT_FSIZE, &limit);
  io->SaveFile(file);
  const bool aborted = io->Aborting();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(aborted);
  EXPECT_EQ(qvtest::ReadFileBytes(file), old);
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++files;
  EXPECT_EQ(files, 1);
}

TEST(PsPdfWriter, OpenOutputsEndWhenClosedOrWithTheComponent) {
  qvtest::TempDir dir;
  auto picture = qvtest::Gradient(20, 10);
  for (const bool viaDestructor : {false, true}) {
    auto io = TImageLibIO::CreateForBitmap(picture.get());
    auto ps = std::make_unique<TFileStream>(dir.File("m.ps"), fmCreate);
    auto pdf = std::make_unique<TFileStream>(dir.File("m.pdf"), fmCreate);
    qvtest::Progress pr;
    auto psDoc = BeginPSDocument(*ps, io->Params());
    AddPSPage(*psDoc, *ps, *picture, pr.rec, io->Params());
    AddPSPage(*psDoc, *ps, *picture, pr.rec, io->Params());
    auto pdfDoc = CreatePDFDocument();
    AddPDFPage(*pdfDoc, *picture, io->Params(), pr.rec);
    AddPDFPage(*pdfDoc, *picture, io->Params(), pr.rec);
    io->SetPSOutput(std::move(ps), PSOutput(std::move(psDoc)));
    io->SetPDFOutput(std::move(pdf), PDFOutput(std::move(pdfDoc)));
    if (viaDestructor) {
      io.reset();
    } else {
      io->ClosePSFile();
      io->ClosePDFFile();
      io->ClosePSFile();  // a second close finds nothing open
    }
    const std::vector<uint8_t> a = qvtest::ReadFileBytes(dir.File("m.ps"));
    const std::string psText(a.begin(), a.end());
    EXPECT_NE(psText.find("%%Pages: 2     "), std::string::npos);
    EXPECT_EQ(psText.substr(psText.size() - 18), "%%Trailer\r\n%%EOF\r\n");
    const std::vector<uint8_t> b = qvtest::ReadFileBytes(dir.File("m.pdf"));
    const std::string pdfText(b.begin(), b.end());
    EXPECT_EQ(qvtest::CheckPDFStructure(pdfText), "");
    EXPECT_NE(pdfText.find("/Count 2"), std::string::npos);
  }
}

}  // namespace
