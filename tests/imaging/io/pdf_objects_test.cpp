// The PDF object model's text, the document skeleton's numbering and trailer,
// and the ASCII85 and run-length encoders: worked examples, then round trips
// through Python's a85decode, Pillow's PackBits reader and qpdf.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "imaging/io/pdf_objects.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "tests/support/test_support.h"

namespace {

std::string TextOf(TIEPDFObject& object) {
  TStringStream s("");
  object.Write(s);
  return s.DataString();
}

std::string Ascii85(const std::string& bytes, int64_t* counter = nullptr) {
  std::vector<char> out(size_t(ASCII85EncodedBound(int64_t(bytes.size()))));
  int64_t c = 0;
  const int64_t n =
      ASCII85Encode(reinterpret_cast<const uint8_t*>(bytes.data()), int64_t(bytes.size()), out.data(), c);
  if (counter) *counter = c;
  return std::string(out.data(), size_t(n));
}

std::vector<uint8_t> PackBits(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out(size_t(PackBitsEncodedBound(int64_t(in.size()))));
  out.resize(size_t(PackBitsEncode(in.data(), int64_t(in.size()), out.data())));
  return out;
}

// Undoes PackBitsEncode the way the RunLengthDecode filter does.
std::vector<uint8_t> UnpackBits(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < in.size() && in[i] != 128) {
    const int n = in[i++];
    if (n < 128) {
      out.insert(out.end(), in.begin() + long(i), in.begin() + long(i) + n + 1);
      i += size_t(n) + 1;
    } else {
      out.insert(out.end(), size_t(257 - n), in[i++]);
    }
  }
  return out;
}

TEST(PdfObjects, TextsOfTheObjectKinds) {
  struct Case {
    std::unique_ptr<TIEPDFObject> object;
    std::string text;
  };
  std::vector<Case> cases;
  cases.push_back({std::make_unique<TIEPDFNumericObject>(0.5), "0.5"});
  cases.push_back({std::make_unique<TIEPDFNumericObject>(595), "595"});
  cases.push_back({std::make_unique<TIEPDFNumericObject>(-0.0000001), "0"});
  cases.push_back({std::make_unique<TIEPDFNumericObject>(1e20), "100000000000000000000"});
  cases.push_back({std::make_unique<TIEPDFNumericObject>(1.0 / 3), "0.333333"});
  cases.push_back({std::make_unique<TIEPDFNumericObject>(-2.5), "-2.5"});
  cases.push_back({std::make_unique<TIEPDFNameObject>("Image 1"), "/Image#201"});
  cases.push_back({std::make_unique<TIEPDFNameObject>("A#B/C"), "/A#23B#2FC"});
  cases.push_back({std::make_unique<TIEPDFStringObject>("a(b)"), "(a\\(b\\))"});
  cases.push_back({std::make_unique<TIEPDFStringObject>("x\\y\n\t"), "(x\\\\y\\n\\t)"});
  // UTF-8 text as UTF-16BE with its mark; a stray byte stands for itself.
  cases.push_back({std::make_unique<TIEPDFStringObject>("\xC3\xA9t\xC3\xA9"), "<FEFF00E9007400E9>"});
  cases.push_back({std::make_unique<TIEPDFStringObject>("\xF0\x9F\x98\x80\xFF"), "<FEFFD83DDE0000FF>"});
  cases.push_back({std::make_unique<TIEPDFRefObject>(7, 0), "7 0 R"});
  cases.push_back({std::make_unique<TIEPDFBooleanObject>(true), "true"});
  for (Case& c : cases) EXPECT_EQ(TextOf(*c.object), c.text);

  TIEPDFDictionaryObject dict;
  dict.Add("Type", std::make_unique<TIEPDFNameObject>("Page"));
  auto arr = std::make_unique<TIEPDFArrayObject>();
  arr->Add(std::make_unique<TIEPDFNumericObject>(1));
  arr->Add(std::make_unique<TIEPDFNumericObject>(2));
  dict.Add("My Key", std::move(arr));
  EXPECT_EQ(TextOf(dict), "<< /Type /Page\n/My#20Key [1 2 ]\n>>");
}

TEST(PdfObjects, NumbersIgnoreTheLocaleAndRefuseNonFinite) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  // Any comma locale the machine has; the text must not change with it.
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
    EXPECT_EQ(PDFNumberText(0.5), "0.5");
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_THROW(TIEPDFNumericObject(std::numeric_limits<double>::quiet_NaN()), EConvertError);
  EXPECT_THROW(TIEPDFNumericObject(std::numeric_limits<double>::infinity()), EConvertError);
}

TEST(PdfObjects, StreamsWriteTheirLengthAndDataFromMemoryOrTempFile) {
  for (const bool moved : {false, true}) {
    TIEPDFStreamObject s("abc", 3);
    s.Dictionary().Add("Filter", std::make_unique<TIEPDFNameObject>("X"));
    if (moved) s.MoveToTempFile();
    EXPECT_EQ(s.InTempFile(), moved);
    EXPECT_EQ(TextOf(s), "<< /Length 3\n/Filter /X\n>>\nstream\nabc\nendstream");
    EXPECT_EQ(TextOf(s), "<< /Length 3\n/Filter /X\n>>\nstream\nabc\nendstream");  // twice the same
  }
}

TEST(PdfObjects, DocumentNumbersObjectsAndTrailerCountsThem) {
  TIEPDFObjectList objects;
  auto catalog = AddPDFCatalog(objects);
  std::vector<TIEPDFDictionaryObject*> pages;
  TIEPDFStreamObject content("q Q", 3);
  AddPDFIndirect(objects, &content);
  auto box = std::make_unique<TIEPDFArrayObject>();
  for (int v : {0, 0, 10, 10}) box->Add(std::make_unique<TIEPDFNumericObject>(v));
  auto page = AddPDFPageObject(objects, pages, nullptr, content.ObjectNumber, std::move(box));
  auto pagesDict = AddPDFPages(objects, pages);
  TIEPDFDictionaryObject info;
  AddPDFIndirect(objects, &info);
  ASSERT_EQ(objects.size(), 5u);
  EXPECT_EQ(pagesDict->ObjectNumber, 4);
  EXPECT_EQ(TextOf(*catalog), "<< /Type /Catalog\n/Pages 4 0 R\n>>");

  TStringStream out("");
  WritePDFHeader(out);
  WritePDFObjects(out, objects);
  WritePDFTrailer(out, objects, info);
  const std::string pdf = out.DataString();
  EXPECT_EQ(pdf.substr(0, 15), std::string("%PDF-1.4\n%\xC8\xD2\xF0\xFE\n", 15));
  EXPECT_NE(pdf.find("xref\n0 6\n0000000000 65535 f \n"), std::string::npos);
  EXPECT_NE(pdf.find("<< /Size 6\n/Root 1 0 R\n/Info 5 0 R\n>>"), std::string::npos);
  for (TIEPDFObject* o : objects) {
    const std::string head = std::to_string(o->ObjectNumber) + " 0 obj";
    EXPECT_EQ(pdf.compare(size_t(o->FileOffset), head.size(), head), 0);
  }
}

TEST(PdfEncoders, ASCII85WorkedExamples) {
  EXPECT_EQ(Ascii85(std::string(4, '\0')), "z~>\r\n");
  int64_t counter = 0;
  EXPECT_EQ(Ascii85("abc", &counter), std::string({64, 58, 69, 94}) + "~>\r\n");
  EXPECT_EQ(counter, 4);
  // Nothing to encode gives only the end marker.
  EXPECT_EQ(Ascii85("", &counter), "~>\r\n");
  EXPECT_EQ(counter, 0);
  // Lines break once they pass 74 characters.
  const std::string long85 = Ascii85(std::string(200, 'x'));
  EXPECT_EQ(long85.find("\r\n"), 75u);
}

TEST(PdfEncoders, PackBitsWorkedExamples) {
  EXPECT_EQ(PackBits({'A', 'B', 'C', 'C'}), (std::vector<uint8_t>{0x02, 'A', 'B', 'C', 0x00, 'C', 0x80}));
  EXPECT_EQ(PackBits(std::vector<uint8_t>(200, 7)), (std::vector<uint8_t>{0x81, 7, 0xB9, 7, 0x80}));
  EXPECT_EQ(PackBits({}), (std::vector<uint8_t>{0x80}));
  std::vector<uint8_t> mixed;
  for (int i = 0; i < 1000; ++i) mixed.push_back(uint8_t(i % 7 == 0 ? 5 : (i * 31) >> (i % 3)));
  mixed.insert(mixed.end(), 300, 9);
  const std::vector<uint8_t> packed = PackBits(mixed);
  EXPECT_LE(int64_t(packed.size()), PackBitsEncodedBound(int64_t(mixed.size())));
  EXPECT_EQ(UnpackBits(packed), mixed);
  // Pairs in a row are the worst case: each literal takes two bytes and its code.
  std::vector<uint8_t> pairs = {1};
  for (int i = 0; i < 3000; ++i) pairs.insert(pairs.end(), 2, uint8_t(2 + i % 200));
  const std::vector<uint8_t> packedPairs = PackBits(pairs);
  EXPECT_EQ(packedPairs.size(), pairs.size() * 3 / 2 + 2);
  EXPECT_LE(int64_t(packedPairs.size()), PackBitsEncodedBound(int64_t(pairs.size())));
  EXPECT_EQ(UnpackBits(packedPairs), pairs);
}

TEST(PdfEncodersOracle, ASCII85MatchesPythonAndPackBitsReadsInPillow) {
  if (!qvtest::HaveProgram("/usr/bin/python3")) GTEST_SKIP() << "python3 is missing";
  qvtest::TempDir dir;
  std::string bytes;
  for (int i = 0; i < 3001; ++i) bytes += char(i % 5 == 0 ? 0 : (i * 131) & 0xFF);
  bytes += std::string(8, '\0');
  qvtest::WriteFileBytes(dir.File("in.bin"), std::vector<uint8_t>(bytes.begin(), bytes.end()));
  const std::string ours = Ascii85(bytes);
  qvtest::WriteFileBytes(dir.File("ours.a85"), std::vector<uint8_t>(ours.begin(), ours.end()));
  std::string out;
  const std::string script =
      "import base64,sys\n"
      "d=open(sys.argv[1],'rb').read(); o=open(sys.argv[2],'rb').read()\n"
      "ref=base64.a85encode(d,adobe=True)[2:]\n"
      "ours=o.replace(b'\\r\\n',b'')\n"
      "print('same' if ours==ref else 'differ')\n";
  qvtest::WriteFileBytes(dir.File("a85.py"), std::vector<uint8_t>(script.begin(), script.end()));
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " + dir.File("a85.py") + " " + dir.File("in.bin") + " " +
                                   dir.File("ours.a85"),
                               &out),
            0);
  EXPECT_EQ(out, "same\n");

  // A one-strip PackBits TIFF (compression 32773) of an 8-bit grey picture.
  const int w = 61, h = 17;
  std::vector<uint8_t> pixels;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) pixels.push_back(uint8_t(x < 20 ? 200 : (x * 7 + y * 13) & 0xFF));
  std::vector<uint8_t> packed = PackBits(pixels);
  packed.pop_back();  // TIFF strips carry no end-of-data code
  std::vector<uint8_t> tif = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto le16 = [&](uint32_t v) { tif.push_back(uint8_t(v)), tif.push_back(uint8_t(v >> 8)); };
  auto le32 = [&](uint32_t v) { le16(v & 0xFFFF), le16(v >> 16); };
  const uint32_t dataAt = 8 + 2 + 8 * 12 + 4;
  le16(8);
  const uint32_t tags[8][3] = {{256, 3, w},   {257, 3, h},          {258, 3, 8}, {259, 3, 32773},
                               {262, 3, 1},   {273, 4, dataAt},     {278, 3, h}, {279, 4, uint32_t(packed.size())}};
  for (const auto& t : tags) {
    le16(t[0]), le16(t[1]), le32(1);
    if (t[1] == 3) le16(t[2]), le16(0);
    else le32(t[2]);
  }
  le32(0);
  tif.insert(tif.end(), packed.begin(), packed.end());
  qvtest::WriteFileBytes(dir.File("p.tif"), tif);
  qvtest::WriteFileBytes(dir.File("p.raw"), pixels);
  const std::string check =
      "import sys\nfrom PIL import Image\n"
      "im=Image.open(sys.argv[1]); print('same' if im.tobytes()==open(sys.argv[2],'rb').read() else 'differ')\n";
  qvtest::WriteFileBytes(dir.File("pb.py"), std::vector<uint8_t>(check.begin(), check.end()));
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " + dir.File("pb.py") + " " + dir.File("p.tif") + " " + dir.File("p.raw"),
                               &out),
            0);
  EXPECT_EQ(out, "same\n");
}

TEST(PdfObjectsOracle, HandBuiltDocumentPassesQpdf) {
  if (!qvtest::HaveProgram("qpdf")) GTEST_SKIP() << "qpdf is missing";
  TIEPDFObjectList objects;
  auto catalog = AddPDFCatalog(objects);
  auto resources = std::make_unique<TIEPDFDictionaryObject>();
  AddPDFIndirect(objects, resources.get());
  const std::string ops = "0.5 0.25 0.125 rg 10.5 10 80 80 re f";
  TIEPDFStreamObject content(ops.data(), int64_t(ops.size()));
  content.MoveToTempFile();
  AddPDFIndirect(objects, &content);
  std::vector<TIEPDFDictionaryObject*> pages;
  auto box = std::make_unique<TIEPDFArrayObject>();
  for (double v : {0.0, 0.0, 100.5, 100.0}) box->Add(std::make_unique<TIEPDFNumericObject>(v));
  auto page = AddPDFPageObject(objects, pages, resources.get(), content.ObjectNumber, std::move(box));
  page->Add("Odd Name#1", std::make_unique<TIEPDFStringObject>("a (nested) \\ string"));
  auto pagesDict = AddPDFPages(objects, pages);
  TIEPDFDictionaryObject info;
  info.Add("Title", std::make_unique<TIEPDFStringObject>("T\xC3\xAAte (1)"));
  AddPDFIndirect(objects, &info);
  qvtest::TempDir dir;
  {
    TFileStream f(dir.File("doc.pdf"), fmCreate);
    WritePDFHeader(f);
    WritePDFObjects(f, objects);
    WritePDFTrailer(f, objects, info);
  }
  std::string out;
  EXPECT_EQ(qvtest::RunCommand("qpdf --check " + dir.File("doc.pdf") + " 2>&1", &out), 0) << out;
  EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
}

}  // namespace
