#include "imaging/io/format_detect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

#include "imaging/core/ie_streams.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/format_descriptor.h"
#include "io_test_support.h"
#include "platform/rtl/exceptions.h"
#include "test_support.h"

namespace {

TImageFileType Detect(const std::string& bytes) {
  TIEMemStream s(bytes.data(), int64_t(bytes.size()));
  return DetectStreamFileType(s);
}

std::string Padded(std::string head, size_t size, char fill = '.') {
  head.resize(size, fill);
  return head;
}

TEST(FormatDetection, MagicTestsNeedMoreThanTheirReadSize) {
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  IEFilters() = TIEFilterSlots{};
  qvtest::ClearFormatProbes();
  const std::string jfif("JFIF\0\0\0\0\0\0\0\0", 12);
  const std::string pcx2("PCX2\0\0\0\0\0\0\0\0", 12);
  const std::string tiff("TIFF\0\0\0\0\0\0\0\0", 12);
  const std::string pcx("PCX\0", 4);
  const std::string pcxHeader("\x0A\x05", 2);
  const struct {
    const char* name;
    std::string bytes;
    TImageFileType code;
  } cases[] = {
      {"JFIF header of 12 bytes", jfif, 0},
      {"JFIF header and one byte", Padded(jfif, 13), 3},
      {"JFIF without its zero byte", Padded("JFIFX", 20), 0},
      {"GIF of 13 bytes", Padded("GIF89a", 13), 0},
      {"GIF of 14 bytes", Padded("GIF89a", 14), 2},
      {"PCX2 header", Padded(pcx2, 13), 4},
      {"old PCX header alone", pcx, 0},
      {"old PCX header and one byte", Padded(pcx, 5), 4},
      {"PCX followed by text", Padded("PCXY", 20), 0},
      {"BMP of 14 bytes", Padded("BM", 14), 0},
      {"BMP of 15 bytes", Padded("BM", 15), 5},
      {"PCX header of 128 bytes", Padded(pcxHeader, 128, '\0'), 0},
      {"PCX header of 129 bytes", Padded(pcxHeader, 129, '\0'), 4},
      {"PCX version 6", Padded("\x0A\x06", 129, '\0'), 0},
      {"TIFF header", Padded(tiff, 13), 1},
      {"empty", "", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(Detect(c.bytes), c.code) << c.name;
}

TEST(FormatDetection, ProbesInOrderAndPositionRestored) {
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  TIEFilterSlots& f = IEFilters();
  f = TIEFilterSlots{};
  qvtest::ClearFormatProbes();
  std::vector<std::string> asked;
  auto probe = [&asked](const char* name, bool answer) {
    return [&asked, name, answer](TStream& s) {
      asked.push_back(name);
      char b[2];
      s.Read(b, 2);  // moves the position: detection must put it back
      return answer;
    };
  };
  // TIFF asks whether a camera wrote it after recognising it.
  FindFormatDescriptor(ioTIFF)->Probe = [tiff = probe("tiff", true), raw = probe("raw", true)](TStream& s) {
    const int64_t at = s.Position();
    if (!tiff(s)) return false;
    s.SetPosition(at);
    return !raw(s);
  };
  FindFormatDescriptor(ioPNG)->Probe = probe("png", false);
  FindFormatDescriptor(ioICO)->Probe = probe("ico", false);
  FindFormatDescriptor(ioPSD)->Probe = probe("psd", true);
  FindFormatDescriptor(ioRAW)->Probe = probe("camera", true);
  TMemoryStream s;
  s.WriteBuffer("0123456789", 10);
  s.SetPosition(3);
  EXPECT_EQ(DetectStreamFileType(s), ioPSD);
  EXPECT_EQ(s.Position(), 3);
  EXPECT_EQ(asked, (std::vector<std::string>{"tiff", "raw", "ico", "psd"}));  // 7 bytes: too few for PNG

  FindFormatDescriptor(ioPSD)->Probe = probe("psd", false);
  asked.clear();
  EXPECT_EQ(DetectStreamFileType(s), ioRAW);  // the camera test comes last
  EXPECT_EQ(asked.back(), "camera");
  EXPECT_EQ(s.Position(), 3);

  FindFormatDescriptor(ioJPEG)->Probe = [](TStream&) { return true; };  // a start of image found further on
  EXPECT_EQ(DetectStreamFileType(s), ioJPEG);

  FindFormatDescriptor(ioHDP)->Probe = [](TStream&) -> bool { throw EReadError("broken probe"); };
  EXPECT_EQ(DetectStreamFileType(s), ioUnknown);
  EXPECT_EQ(s.Position(), 3);
}

// The specialised formats' own content tests: "DICM" after the preamble, the
// JP2 signature box and the code stream's SOC and SIZ markers.
TEST(FormatDetection, SpecialisedFormatsByContent) {
  qvtest::EnsureImageIO();
  std::string dicom(128, '.');
  dicom += "DICM";
  const struct {
    const char* name;
    std::string bytes;
    TImageFileType code;
  } cases[] = {
      {"DICOM", Padded(dicom, 200, '.'), ioDICOM},
      {"DICM one byte early", Padded(std::string(127, '.') + "DICM", 200, '.'), ioUnknown},
      {"JP2", Padded(std::string("\0\0\0\x0CjP  \r\n\x87\n", 12), 40, '\0'), ioJP2},
      {"J2K", Padded("\xFF\x4F\xFF\x51", 40, '\0'), ioJ2K},
  };
  for (const auto& c : cases) EXPECT_EQ(Detect(c.bytes), c.code) << c.name;
}

// A stream that claims 3 GB and holds a few real bytes at its start.
class LargeStream : public TStream {
public:
  explicit LargeStream(std::string head) : FHead(std::move(head)) {}
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, int64_t(FHead.size()) - FPos));
    if (n > 0) std::memcpy(buffer, FHead.data() + FPos, size_t(n));
    std::memset(static_cast<char*>(buffer) + n, 0, size_t(std::max<int64_t>(0, std::min<int64_t>(count, Size() - FPos) - n)));
    const int64_t read = std::min<int64_t>(count, Size() - FPos);
    FPos += read;
    return read;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    FPos = origin == soBeginning ? offset : origin == soCurrent ? FPos + offset : Size() + offset;
    return FPos;
  }
  int64_t Size() override { return int64_t(3) << 30; }

private:
  std::string FHead;
  int64_t FPos = 0;
};

TEST(FormatDetection, StreamsOverTwoGigabytes) {
  qvtest::EnsureImageIO();
  LargeStream gif("GIF89a");
  EXPECT_EQ(DetectStreamFileType(gif), ioGIF);
  LargeStream bmp("BM");
  EXPECT_EQ(DetectStreamFileType(bmp), ioBMP);
}

TEST(FormatDetection, ByNameReconcilesSuffixAndContent) {
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  TIEFilterSlots& f = IEFilters();
  f = TIEFilterSlots{};
  qvtest::ClearFormatProbes();
  auto starts = [](const char* magic) {
    return [magic](TStream& s) {
      char b[4] = {};
      return s.Read(b, 4) == 4 && std::memcmp(b, magic, 4) == 0;
    };
  };
  FindFormatDescriptor(ioTIFF)->Probe = starts("II*\0");
  FindFormatDescriptor(ioICO)->Probe = starts("\0\0\1\0");
  FindFormatDescriptor(ioPNG)->Probe = starts("\x89PNG");
  qvtest::TempDir dir;
  auto put = [&](const char* name, std::string head) {
    qvtest::WriteFileBytes(dir.File(name), std::vector<uint8_t>(head.begin(), head.end()));
    head.resize(40, '\0');
    qvtest::WriteFileBytes(dir.File(name), std::vector<uint8_t>(head.begin(), head.end()));
    return dir.File(name);
  };
  const std::string cr2 = put("a.cr2", std::string("II*\0", 4));
  const std::string cur = put("a.cur", std::string("\0\0\1\0", 4));
  const std::string jpg = put("a.jpg", "\x89PNG");
  const std::string txt = put("a.txt", "GIF89a");
  EXPECT_EQ(DetectFileTypeByName(cr2, false), ioRAW);
  EXPECT_EQ(DetectFileTypeByName(cr2, true), ioRAW);
  EXPECT_EQ(DetectFileTypeByName(cur, true), ioCUR);
  EXPECT_EQ(DetectFileTypeByName(cur, false), ioICO);
  EXPECT_EQ(DetectFileTypeByName(jpg, true), ioUnknown);
  EXPECT_EQ(DetectFileTypeByName(jpg, false), ioPNG);
  EXPECT_EQ(DetectFileTypeByName(txt, true), ioUnknown);
  EXPECT_EQ(DetectFileTypeByName(txt, false), ioGIF);
  EXPECT_EQ(DetectFileTypeByName(dir.File("missing.png"), false), ioUnknown);
  EXPECT_EQ(DetectFileTypeByName(std::string(), false), ioUnknown);
  EXPECT_EQ(DetectFileTypeByName(dir.Path().string(), false), ioUnknown);  // a folder
}

// ---- against file(1), python-magic and Pillow ----

// The probe that decides each format, or nil for the tests detection does itself.
const TIEStreamTest* ProbeOf(TImageFileType code) {
  switch (code) {
    case ioTIFF:
    case ioPNG:
    case ioPXM:
    case ioTGA:
    case ioICO:
    case ioJPEG: return &FindFormatDescriptor(code)->Probe;
    default: return nullptr;
  }
}

TEST(FormatDetectionOracle, AgreesWithFileMagicAndPillow) {
  for (const char* tool : {"file", "convert", "cjpeg", "ppmmake"})
    if (!qvtest::HaveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL.Image, magic' 2>/dev/null") != 0)
    GTEST_SKIP() << "Pillow or python3-magic is not installed";
  qvtest::EnsureImageIO();
  // The real stream tests, as far as they stand.
  qvtest::FilterSlotsScope slots;
  RegisterFormatFilters();
  RegisterSpecialFormats();
  SetLibraryStartupStep(iessImageIO, nullptr, nullptr);  // the start-up tests run without it
  qvtest::TempDir dir;
  const std::string ppm = dir.File("src.ppm");
  ASSERT_EQ(qvtest::RunCommand("ppmmake rgb:ff/80/00 24 16 > " + ppm), 0);
  ASSERT_EQ(qvtest::RunCommand("cjpeg " + ppm + " > " + dir.File("a.jpg")), 0);
  for (const char* ext : {"gif", "bmp", "pcx", "png", "tif", "tga"})
    ASSERT_EQ(qvtest::RunCommand("convert " + ppm + " " + dir.File(std::string("a.") + ext)), 0) << ext;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 -c \"import PIL.Image as I; I.open('" + ppm + "').save('" +
                               dir.File("a.ico") + "')\""),
            0);
  qvtest::RunCommand("cp " + ppm + " " + dir.File("a.ppm"));

  const std::map<std::string, TImageFileType> byPillow = {
      {"JPEG", ioJPEG}, {"GIF", ioGIF}, {"BMP", ioBMP}, {"PCX", ioPCX}, {"PNG", ioPNG},
      {"TIFF", ioTIFF}, {"TGA", ioTGA}, {"ICO", ioICO}, {"PPM", ioPXM}};
  const std::map<std::string, TImageFileType> byMime = {
      {"image/jpeg", ioJPEG}, {"image/gif", ioGIF},   {"image/bmp", ioBMP},     {"image/x-ms-bmp", ioBMP},
      {"image/vnd.zbrush.pcx", ioPCX}, {"image/x-pcx", ioPCX}, {"image/png", ioPNG}, {"image/tiff", ioTIFF},
      {"image/x-tga", ioTGA}, {"image/vnd.microsoft.icon", ioICO}, {"image/x-portable-pixmap", ioPXM}};

  // Every file and its cut copies, then one run of each oracle over all of them.
  struct Piece {
    std::string name;
    std::vector<uint8_t> bytes;
    bool whole;
  };
  std::vector<Piece> pieces;
  for (const char* ext : {"jpg", "gif", "bmp", "pcx", "png", "tif", "tga", "ico", "ppm"}) {
    const std::vector<uint8_t> full = qvtest::ReadFileBytes(dir.File(std::string("a.") + ext));
    for (size_t cut : {size_t(12), size_t(13), size_t(14), size_t(15), size_t(128), size_t(129), full.size()}) {
      if (cut > full.size()) continue;
      Piece piece{dir.File(std::string("cut_") + ext + "_" + std::to_string(cut)),
                  std::vector<uint8_t>(full.begin(), full.begin() + std::ptrdiff_t(cut)), cut == full.size()};
      qvtest::WriteFileBytes(piece.name, piece.bytes);
      pieces.push_back(std::move(piece));
    }
  }
  std::string names;
  for (const Piece& p : pieces) names += " " + p.name;
  std::string fileOut, pyOut;
  qvtest::RunCommand("file --mime-type -b" + names, &fileOut);
  qvtest::RunCommand("/usr/bin/python3 -c \"import sys, magic, PIL.Image as I\n"
                     "for n in sys.argv[1:]:\n"
                     "  try: f = I.open(n).format\n"
                     "  except Exception: f = '-'\n"
                     "  print(magic.from_file(n, mime=True), f)\" " + names + " 2>/dev/null",
                     &pyOut);
  std::istringstream fileLines(fileOut), pyLines(pyOut);
  for (const Piece& piece : pieces) {
    SCOPED_TRACE(piece.name);
    std::string mime, pymime, pillow;
    std::getline(fileLines, mime);
    pyLines >> pymime >> pillow;
    TIEMemStream stream(piece.bytes.data(), int64_t(piece.bytes.size()));
    const TImageFileType ours = DetectStreamFileType(stream);
    const auto m = byMime.find(mime);
    const auto pm = byMime.find(pymime);
    const auto p = byPillow.find(pillow);
    // Where an oracle names a picture format, we name the same one or none.
    if (ours != ioUnknown) {
      if (m != byMime.end()) { EXPECT_EQ(m->second, ours) << "file says " << mime; }
      if (pm != byMime.end()) { EXPECT_EQ(pm->second, ours) << "magic says " << pymime; }
      if (p != byPillow.end()) { EXPECT_EQ(p->second, ours) << "Pillow says " << pillow; }
    }
    if (!piece.whole) continue;
    // Whole files: every oracle knows them, and every format whose test stands is found.
    ASSERT_NE(p, byPillow.end()) << pillow;
    ASSERT_NE(m, byMime.end()) << mime;
    EXPECT_EQ(m->second, p->second);
    const TIEStreamTest* probe = ProbeOf(p->second);
    const bool landed =
        p->second == ioGIF || p->second == ioBMP || p->second == ioPCX || (probe != nullptr && *probe);
    if (landed) { EXPECT_EQ(ours, p->second); }
  }
}

}  // namespace
