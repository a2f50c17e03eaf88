#include "base/file_type_sniffer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A little builder for hand-made headers: bytes are placed at offsets and the
// file is padded with zeros to a size.
class TBuilder {
public:
  explicit TBuilder(size_t size = 0) : FBytes(size, 0) {}
  TBuilder& At(size_t offset, const Bytes& bytes) {
    if (FBytes.size() < offset + bytes.size()) FBytes.resize(offset + bytes.size(), 0);
    std::copy(bytes.begin(), bytes.end(), FBytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return *this;
  }
  TBuilder& Text(size_t offset, const std::string& s) { return At(offset, Bytes(s.begin(), s.end())); }
  TBuilder& Word(size_t offset, uint16_t v) { return At(offset, {uint8_t(v), uint8_t(v >> 8)}); }
  TBuilder& DWord(size_t offset, uint32_t v) {
    return At(offset, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
  }
  TBuilder& Size(size_t size) {
    FBytes.resize(size, 0);
    return *this;
  }
  const Bytes& Data() const { return FBytes; }

private:
  Bytes FBytes;
};

struct TResult {
  int code;
  int sub;
};

TResult Sniff(const std::string& file) {
  TSniffedFileType code = -99;
  int32_t sub = -99;
  DetectFileType(file, code, sub);
  return {code, sub};
}

TResult SniffBytes(const qvtest::TempDir& dir, const Bytes& bytes) {
  const std::string file = dir.File("sample.bin");
  qvtest::WriteFileBytes(file, bytes);
  return Sniff(file);
}

// A sparse file of the given size whose first bytes are head.
std::string SparseFile(const qvtest::TempDir& dir, const Bytes& head, int64_t size) {
  const std::string file = dir.File("large.bin");
  qvtest::WriteFileBytes(file, head);
  std::filesystem::resize_file(file, static_cast<uintmax_t>(size));
  return file;
}

TBuilder Riff(const std::string& form, size_t size, int lengthAdjust) {
  TBuilder b(size);
  b.Text(0, "RIFF").DWord(4, static_cast<uint32_t>(size - lengthAdjust)).Text(8, form);
  return b;
}

TBuilder Tga() {
  // Uncompressed true-colour Targa, 2 by 2 pixels of 24 bits.
  TBuilder b(18 + 12);
  b.At(2, {2}).Word(12, 2).Word(14, 2).At(16, {24});
  return b;
}

TBuilder Jpeg(const Bytes& segments) {
  TBuilder b;
  b.At(0, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}).Text(6, "JFIF").Size(20);
  b.At(20, segments);
  return b;
}

// A start-of-frame segment of the given marker with n components.
Bytes Frame(uint8_t marker, uint8_t n) {
  Bytes f = {0xFF, marker, 0x00, uint8_t(8 + 3 * n), 8, 0, 16, 0, 16, n};
  for (int i = 0; i < n; ++i) f.insert(f.end(), {uint8_t(i + 1), 0x11, 0});
  return f;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct TCase {
  const char* what;
  Bytes bytes;
  TResult expected;
};

TEST(FileTypeSniffer, SizeOutcomes) {
  qvtest::TempDir dir;
  EXPECT_EQ(Sniff(dir.File("missing")).code, 0);
  EXPECT_EQ(SniffBytes(dir, {}).code, 22);
  EXPECT_EQ(SniffBytes(dir, {'B', 'M', 0, 0}).code, 0) << "four bytes are too few for anything";
  EXPECT_EQ(SniffBytes(dir, {'B', 'M', 0, 0, 0}).code, 6);
}

TEST(FileTypeSniffer, UnopenableFileIs23) {
  qvtest::TempDir dir;
  const std::string file = dir.File("locked.png");
  qvtest::WriteFileBytes(file, {0x89, 'P', 'N', 'G', 13, 10, 26, 10});
  chmod(file.c_str(), 0);
  if (access(file.c_str(), R_OK) == 0) GTEST_SKIP() << "this user reads every file";
  EXPECT_EQ(Sniff(file).code, 23);
}

TEST(FileTypeSniffer, HandBuiltHeaders) {
  const TCase cases[] = {
      {"32-bit resource file", TBuilder(32).DWord(4, 32).DWord(8, 0xFFFF).DWord(12, 0xFFFF).Data(), {19, 0}},
      {"resource-like header with a non-empty first resource", TBuilder(32).DWord(4, 32).DWord(8, 0xFFFF).DWord(12, 0xFFFF).DWord(16, 1).Data(), {0, 0}},
      {"icon directory", TBuilder(22).Word(2, 1).Word(4, 1).At(6, {16, 16}).Data(), {1, 1}},
      {"cursor directory", TBuilder(22).Word(2, 2).Word(4, 3).At(6, {32, 32}).Data(), {1, 2}},
      {"icon directory without images", TBuilder(22).Word(2, 1).Data(), {0, 0}},
      {"bare one-image icon", TBuilder(80).Word(0, 1).DWord(18, 40).Data(), {1, 4}},
      {"word 1 without a bitmap header", TBuilder(80).Word(0, 1).DWord(18, 12).Data(), {0, 0}},
      {"NE executable", TBuilder(128).Text(0, "MZ").DWord(60, 64).Text(64, "NE").Data(), {2, 1}},
      {"PE executable", TBuilder(128).Text(0, "MZ").DWord(60, 64).Text(64, "PE").Data(), {2, 2}},
      {"PE header past 64 KB", TBuilder(0x10008).Text(0, "MZ").DWord(60, 0x10000).Text(0x10000, "PE").Data(), {2, 2}},
      {"DOS program", TBuilder(128).Text(0, "MZ").DWord(60, 64).Text(64, "LE").Data(), {0, 0}},
      {"animated cursor", Riff("ACON", 64, 8).Data(), {4, 0}},
      {"animated cursor, length is size", Riff("ACON", 64, 0).Data(), {4, 0}},
      {"animated cursor, length is size - 4", Riff("ACON", 64, 4).Data(), {4, 0}},
      {"animated cursor, wrong length", Riff("ACON", 64, 12).Data(), {0, 0}},
      {"RIFF palette", Riff("PAL ", 64, 8).Data(), {10, 0}},
      {"RIFF wave", Riff("WAVE", 64, 8).Data(), {0, 0}},
      {"JPEG with SOF0", Jpeg(Frame(0xC0, 3)).Data(), {5, 3}},
      {"progressive JPEG", Jpeg(Frame(0xC2, 1)).Data(), {5, 1}},
      {"CMYK JPEG", Jpeg(Frame(0xC0, 4)).Data(), {25, 4}},
      {"SOF1 only", Jpeg(Concat({Frame(0xC1, 3), {0xFF, 0xDA, 0, 2}, {0x12, 0x34}})).Data(), {5, -1}},
      {"SOF1 then SOF0", Jpeg(Concat({Frame(0xC1, 3), {0xFF, 0xD0}, Frame(0xC0, 1)})).Data(), {5, 1}},
      {"GIF89a", TBuilder(16).Text(0, "GIF89a").Data(), {7, 0}},
      {"GIF with a zero byte", TBuilder(16).Text(0, "GIF").Data(), {7, 0}},
      {"PNG", TBuilder(16).At(0, {0x89, 'P', 'N', 'G', 13, 10, 26, 10}).Data(), {8, 0}},
      {"PNG with a broken signature", TBuilder(16).At(0, {0x89, 'P', 'N', 'G', 13, 10, 26, 0}).Data(), {0, 0}},
      {"PSD version 1", TBuilder(32).Text(0, "8BPS").At(4, {0, 1}).Data(), {9, 1}},
      {"PSD version 2", TBuilder(32).Text(0, "8BPS").At(4, {0, 2}).Data(), {0, 2}},
      {"icon collection", TBuilder(16).Text(0, "ICC0").DWord(4, 1).Text(8, "ICON").Data(), {11, 0}},
      {"icon collection of another version", TBuilder(16).Text(0, "ICC0").DWord(4, 2).Text(8, "ICON").Data(), {0, 0}},
      {"icon project", TBuilder(16).At(0, {0xB7}).Text(1, "ICP").At(4, {3}).Data(), {13, 3}},
      {"icns", TBuilder(64).Text(0, "icns").Text(8, "is32").Data(), {16, 0}},
      {"icns without icon tags", TBuilder(64).Text(0, "icns").Text(8, "info").Data(), {21, 0}},
      {"AppleDouble", TBuilder(64).At(0, {0, 5, 0x16, 7}).Text(40, "ICN#").Data(), {16, 0}},
      {"PCX", TBuilder(200).At(0, {10, 5, 1, 8}).Data(), {14, 0}},
      {"PCX of 128 bytes", TBuilder(128).At(0, {10, 5, 1, 8}).Data(), {0, 0}},
      {"ZIP", TBuilder(30).At(0, {'P', 'K', 3, 4}).Data(), {17, 0}},
      {"old RAR", TBuilder(30).Text(0, "Rar!").Data(), {17, 0}},
      {"RAR 1.5", TBuilder(30).Text(0, "Rar!").At(4, {0x1A, 7, 0}).Data(), {18, 0}},
      {"TIFF little-endian", TBuilder(16).At(0, {'I', 'I', 42, 0}).Data(), {15, 42}},
      {"TIFF big-endian", TBuilder(16).At(0, {'M', 'M', 0, 42}).Data(), {15, 42}},
      {"component resource file", TBuilder(32).At(0, {0xFF, 2, 0, 'T'}).Data(), {20, 0}},
      {"component resource file of 20 bytes", TBuilder(20).At(0, {0xFF, 2, 0, 'T'}).Data(), {0, 0}},
      {"Targa", Tga().Data(), {12, 0}},
      {"Targa with an odd depth", Tga().At(16, {12}).Data(), {0, 0}},
      {"Targa of 18 bytes", Tga().Size(18).Data(), {0, 0}},
      {"icon directory that is a Targa", TBuilder(40).Word(2, 1).At(16, {8}).Data(), {12, 0}},
  };
  qvtest::TempDir dir;
  for (const auto& c : cases) {
    const TResult r = SniffBytes(dir, c.bytes);
    EXPECT_EQ(r.code, c.expected.code) << c.what;
    EXPECT_EQ(r.sub, c.expected.sub) << c.what;
  }
}

TEST(FileTypeSniffer, LongWalksOverTinySegmentsEnd) {
  // 4 MB of empty segments: each moves on by its own four bytes.
  Bytes body;
  body.reserve(4 << 20);
  while (body.size() < (4u << 20)) body.insert(body.end(), {0xFF, 0xE2, 0x00, 0x02});
  qvtest::TempDir dir;
  const TResult r = SniffBytes(dir, Jpeg(Concat({body, Frame(0xC0, 3)})).Data());
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(r.sub, 3);
}

TEST(FileTypeSniffer, SizeLimitsAreStrict) {
  qvtest::TempDir dir;
  const Bytes jpegHead = Jpeg({}).Data();
  EXPECT_EQ(Sniff(SparseFile(dir, jpegHead, 52428800)).code, 5);
  EXPECT_EQ(Sniff(SparseFile(dir, jpegHead, 52428801)).code, 21);
  const Bytes bareIcon = TBuilder(40).Word(0, 1).DWord(18, 40).Data();
  EXPECT_EQ(Sniff(SparseFile(dir, bareIcon, 52428800)).code, 1);
  EXPECT_EQ(Sniff(SparseFile(dir, bareIcon, 52428801)).code, 21);
  // A RIFF of another form whose length matches is refused by size alone.
  EXPECT_EQ(SniffBytes(dir, Riff("WAVE", 2 * 1048576, 8).Data()).code, 21);
  EXPECT_EQ(SniffBytes(dir, Riff("WAVE", 100 * 1024, 8).Data()).code, 0);
  EXPECT_EQ(SniffBytes(dir, Riff("ACON", 1048576, 8).Data()).code, 4);
  EXPECT_EQ(SniffBytes(dir, Riff("ACON", 1048577, 8).Data()).code, 21);
  const Bytes icns = TBuilder(16).Text(0, "icns").Text(8, "it32").Data();
  EXPECT_EQ(Sniff(SparseFile(dir, icns, 16777216)).code, 16);
  EXPECT_EQ(Sniff(SparseFile(dir, icns, 16777217)).code, 21);
}

TBuilder ResourceFork(size_t size) {
  // Data at 256, map at 512; the map starts with a copy of the header.
  TBuilder b(size);
  b.At(0, {0, 0, 1, 0, 0, 0, 2, 0}).At(512, {0, 0, 1, 0, 0, 0, 2, 0});
  return b;
}

TEST(FileTypeSniffer, MacResourceForks) {
  qvtest::TempDir dir;
  EXPECT_EQ(SniffBytes(dir, ResourceFork(700).Text(540, "ICN#").Data()).code, 16);
  EXPECT_EQ(SniffBytes(dir, ResourceFork(700).Text(540, "STR ").Data()).code, 21);
  // No copy of the header in the map, but a map of the usual shape at 271.
  TBuilder shaped(700);
  shaped.At(0, {0, 0, 1, 0, 0, 0, 2, 0}).Word(271, 1).Word(273, 2).Word(275, 3).Word(277, 5).Word(279, 4);
  EXPECT_EQ(SniffBytes(dir, shaped.Data()).code, 16);
  shaped.Word(279, 9);
  EXPECT_EQ(SniffBytes(dir, shaped.Data()).code, 0);
  EXPECT_EQ(SniffBytes(dir, ResourceFork(1048577).Text(540, "ICN#").Data()).code, 21);
}

TEST(FileTypeSniffer, HostileFilesEndWithACode) {
  const TCase cases[] = {
      {"JPEG segment length 0", Jpeg({0xFF, 0xE1, 0x00, 0x00, 0xFF, 0xE1, 0x00, 0x00}).Data(), {5, -1}},
      {"JPEG segment length 1", Jpeg({0xFF, 0xE1, 0x00, 0x01, 0xFF, 0xE1}).Data(), {5, -1}},
      {"JPEG segment past the end", Jpeg({0xFF, 0xE1, 0xFF, 0xFF}).Data(), {5, -1}},
      {"JPEG frame header cut short", Jpeg({0xFF, 0xC0, 0x00, 0x11, 8, 0}).Data(), {5, -1}},
      {"JPEG of markers without lengths", Jpeg(Bytes(4000, 0xFF)).Data(), {5, -1}},
      {"PE offset near 4 GB", TBuilder(128).Text(0, "MZ").DWord(60, 0xFFFFFFF0).Data(), {0, 0}},
      {"PE signature cut short", TBuilder(66).Text(0, "MZ").DWord(60, 64).Text(64, "PE").Data(), {0, 0}},
      {"MZ too short for its header", TBuilder(40).Text(0, "MZ").Data(), {0, 0}},
      {"resource fork map offset past the end", TBuilder(300).At(0, {0, 0, 1, 0, 0, 0, 0xFF, 0}).Data(), {0, 0}},
      {"resource fork map near the end", TBuilder(300).At(0, {0, 0, 1, 0, 0, 0, 1, 0x28}).Data(), {0, 0}},
      {"RIFF length beyond the file", TBuilder(64).Text(0, "RIFF").DWord(4, 0xFFFFFFFF).Text(8, "ACON").Data(), {0, 0}},
      {"PSD cut after the signature", TBuilder(5).Text(0, "8BPS").Data(), {0, 0}},
      {"resource file cut after its header", TBuilder(16).DWord(4, 32).DWord(8, 0xFFFF).DWord(12, 0xFFFF).Data(), {0, 0}},
  };
  qvtest::TempDir dir;
  for (const auto& c : cases) {
    const TResult r = SniffBytes(dir, c.bytes);
    EXPECT_EQ(r.code, c.expected.code) << c.what;
    EXPECT_EQ(r.sub, c.expected.sub) << c.what;
  }
}

TEST(FileTypeSniffer, ProbesRestoreThePosition) {
  TBuilder tga = Tga();
  TMemoryStream s;
  s.WriteBuffer(tga.Data().data(), static_cast<int64_t>(tga.Data().size()));
  s.SetPosition(0);
  EXPECT_TRUE(IsTgaHeader(s, s.Size()));
  EXPECT_EQ(s.Position(), 0);
  s.SetPosition(1);
  EXPECT_FALSE(HasMacIconTag(s, s.Size()));
  EXPECT_EQ(s.Position(), 1);
  EXPECT_FALSE(HasMacResourceMap(s));
  EXPECT_EQ(s.Position(), 1);
}

TEST(FileTypeSniffer, SwapBytes32) {
  EXPECT_EQ(SwapBytes32(0x11223344u), 0x44332211u);
  EXPECT_EQ(SwapBytes32(0x000000FFu), 0xFF000000u);
}

// ---- icon groups of executables ----

// A PE image with one section holding the resource directory: an icon type
// with no entries, and an icon-group type with two names, the first in two
// languages.
TBuilder PeImage(uint16_t magic = 0x10B, uint16_t optionalSize = 224) {
  TBuilder b(0x200 + 136);
  b.Text(0, "MZ").DWord(60, 64).Text(64, "PE");
  const size_t fh = 68, oh = fh + 20;
  b.Word(fh, 0x14C).Word(fh + 2, 1).Word(fh + 16, optionalSize);
  b.Word(oh, magic);
  if (optionalSize >= 116) b.DWord(oh + 112, 0x1000).DWord(oh + 116, 136);
  const size_t sh = oh + optionalSize;
  b.Text(sh, ".rsrc").DWord(sh + 8, 136).DWord(sh + 12, 0x1000).DWord(sh + 16, 136).DWord(sh + 20, 0x200);
  const size_t t = 0x200;
  b.Word(t + 14, 2).DWord(t + 16, 3).DWord(t + 20, 0x80000000u | 32).DWord(t + 24, 14).DWord(t + 28, 0x80000000u | 48);
  b.Word(t + 48 + 14, 2).DWord(t + 64, 1).DWord(t + 68, 0x80000000u | 80).DWord(t + 72, 2).DWord(t + 76, 0x80000000u | 112);
  b.Word(t + 80 + 14, 2).DWord(t + 96, 1033).DWord(t + 104, 1031);
  b.Word(t + 112 + 14, 1).DWord(t + 128, 1033);
  return b;
}

TBuilder NeImage(uint16_t iconGroups) {
  TBuilder b(128);
  b.Text(0, "MZ").DWord(60, 64).Text(64, "NE").Word(64 + 36, 64);
  size_t p = 128;
  b.Word(p, 4);  // alignment shift
  p += 2;
  b.Word(p, 0x8003).Word(p + 2, 2);
  p += 8 + 2 * 12;
  b.Word(p, 0x800E).Word(p + 2, iconGroups);
  p += 8 + iconGroups * 12;
  b.Word(p, 0).Size(p + 2);
  return b;
}

struct TExeCase {
  const char* what;
  Bytes bytes;
  int32_t count;
  bool is64;
  bool has;  // FileHasIconGroups: the icon-group type is there, even when empty
};

TEST(ExecutableIconGroups, CountsNameAndLanguagePairs) {
  TBuilder noIcons = PeImage();
  noIcons.DWord(0x200 + 24, 6);  // the second type becomes RT_STRING
  TBuilder shortOptional = PeImage(0x10B, 96);
  TBuilder hugeSectionCount = PeImage();
  hugeSectionCount.Word(68 + 2, 0xFFFF);
  TBuilder hugeOptional = PeImage();
  hugeOptional.Word(68 + 16, 0xFFFF);
  TBuilder selfLoop = PeImage();
  selfLoop.DWord(0x200 + 28, 0x80000000u);  // the icon groups point back at the root
  TBuilder manyEntries = PeImage();
  manyEntries.Word(0x200 + 48 + 12, 0xFFFF).Word(0x200 + 48 + 14, 0xFFFF);
  TBuilder tableOutside = PeImage();
  tableOutside.DWord(68 + 20 + 224 + 20, 0x7FFFFFF0);
  TBuilder neHugeBlock = NeImage(1);
  neHugeBlock.Word(130 + 2, 0xFFFF);  // the icon block's count runs far past the file

  const TExeCase cases[] = {
      {"PE with three pairs", PeImage().Data(), 3, false, true},
      {"PE without icon groups", noIcons.Data(), 0, false, false},
      {"PE32+", PeImage(0x20B, 240).Data(), -1, true, false},
      {"ROM image magic", PeImage(0x107).Data(), 3, false, true},
      {"optional header without a resource entry", shortOptional.Data(), -1, false, false},
      {"section count past the file", hugeSectionCount.Data(), 3, false, true},
      {"optional header size past the file", hugeOptional.Data(), -1, false, false},
      {"directory pointing back at the root", selfLoop.Data(), 2, false, true},
      {"directory claiming 131070 entries", manyEntries.Data(), 0, false, true},
      {"resource table outside the file", tableOutside.Data(), -1, false, false},
      {"NE with five icon groups", NeImage(5).Data(), 5, false, true},
      {"NE without icon groups", NeImage(0).Data(), 0, false, true},
      {"NE with a block past the end", neHugeBlock.Data(), 0, false, false},
      {"NE table outside the file", TBuilder(128).Text(0, "MZ").DWord(60, 64).Text(64, "NE").Word(100, 0xFFFF).Data(), -1, false, false},
      {"not an executable", TBuilder(128).Text(0, "BM").Data(), -1, false, false},
      {"truncated DOS header", TBuilder(40).Text(0, "MZ").Data(), -1, false, false},
      {"new header near 4 GB", TBuilder(128).Text(0, "MZ").DWord(60, 0xFFFFFFF0).Data(), -1, false, false},
      {"PE file header cut short", TBuilder(75).Text(0, "MZ").DWord(60, 64).Text(64, "PE").Data(), -1, false, false},
  };
  qvtest::TempDir dir;
  for (const auto& c : cases) {
    const std::string file = dir.File("module.dll");
    qvtest::WriteFileBytes(file, c.bytes);
    bool is64 = !c.is64;
    EXPECT_EQ(CountIconGroupsInFile(file, is64), c.count) << c.what;
    EXPECT_EQ(is64, c.is64) << c.what;
    EXPECT_EQ(FileHasIconGroups(file), c.has) << c.what;
  }
}

TEST(ExecutableIconGroups, PE32PlusIsStillAnExecutableToTheSniffer) {
  qvtest::TempDir dir;
  const auto r = SniffBytes(dir, PeImage(0x20B, 240).Data());
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.sub, 2);
}

TEST(ExecutableIconGroups, MissingOrEmptyFileHasNone) {
  qvtest::TempDir dir;
  bool is64 = true;
  EXPECT_EQ(CountIconGroupsInFile(dir.File("missing.exe"), is64), -1);
  EXPECT_FALSE(is64);
  qvtest::WriteFileBytes(dir.File("empty.exe"), {});
  EXPECT_EQ(CountIconGroupsInFile(dir.File("empty.exe"), is64), -1);
  EXPECT_FALSE(FileHasIconGroups(dir.File("empty.exe")));
}

// ---- files written by other programs ----

bool HavePillow() {
  return qvtest::HaveProgram("/usr/bin/python3") &&
         qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0;
}

struct TToolCase {
  const char* file;
  const char* pythonSave;  // Pillow: how the picture im is saved
  TResult expected;
};

TEST(FileTypeSnifferOracle, FilesWrittenByPillow) {
  if (!HavePillow()) GTEST_SKIP() << "Pillow is not installed";
  const TToolCase cases[] = {
      {"a.png", "im.save(f)", {8, 0}},
      {"a.jpg", "im.save(f)", {5, 3}},
      {"p.jpg", "im.save(f, progressive=True)", {5, 3}},
      {"g.jpg", "im.convert('L').save(f)", {5, 1}},
      {"c.jpg", "im.convert('CMYK').save(f)", {25, 4}},
      {"e.jpg", "im.save(f, exif=b'Exif\\x00\\x00MM\\x00*\\x00\\x00\\x00\\x08\\x00\\x00')", {5, 3}},
      {"a.gif", "im.save(f)", {7, 0}},
      {"a.bmp", "im.save(f)", {6, 0}},
      {"a.tif", "im.save(f)", {15, 42}},
      {"a.pcx", "im.save(f)", {14, 0}},
      {"a.ico", "im.save(f)", {1, 1}},
      {"a.tga", "im.save(f)", {12, 0}},
      {"r.tga", "im.save(f, compression='tga_rle')", {12, 0}},
      {"a.icns", "im.save(f)", {16, 0}},
  };
  qvtest::TempDir dir;
  for (const auto& c : cases) {
    const std::string file = dir.File(c.file);
    const std::string script = "from PIL import Image\n"
                               "im = Image.new('RGB', (32, 32), (200, 30, 40))\n"
                               "f = '" + file + "'\n" + c.pythonSave + "\n";
    const std::string scriptFile = dir.File("make.py");
    std::ofstream(scriptFile) << script;
    if (qvtest::RunCommand("/usr/bin/python3 " + scriptFile + " 2>/dev/null") != 0) {
      ADD_FAILURE() << "Pillow could not write " << c.file;
      continue;
    }
    const TResult r = Sniff(file);
    EXPECT_EQ(r.code, c.expected.code) << c.file;
    EXPECT_EQ(r.sub, c.expected.sub) << c.file;
  }
}

TEST(FileTypeSnifferOracle, FilesWrittenByImageMagick) {
  if (!qvtest::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  struct {
    const char* file;
    const char* options;
    TResult expected;
  } cases[] = {
      {"a.psd", "", {9, 1}},
      {"le.tif", "-define tiff:endian=lsb", {15, 42}},
      {"be.tif", "-define tiff:endian=msb", {15, 42}},
      {"a.jpg", "", {5, 3}},
      {"p.jpg", "-interlace Plane", {5, 3}},
      {"c.jpg", "-colorspace CMYK", {25, 4}},
      {"a.pcx", "", {14, 0}},
      {"a.tga", "", {12, 0}},
      {"a.gif", "", {7, 0}},
      {"a.bmp", "", {6, 0}},
      {"a.png", "", {8, 0}},
  };
  qvtest::TempDir dir;
  for (const auto& c : cases) {
    const std::string file = dir.File(c.file);
    if (qvtest::RunCommand("convert -size 24x16 gradient:red-blue " + std::string(c.options) + " '" + file +
                           "' 2>/dev/null") != 0) {
      ADD_FAILURE() << "convert could not write " << c.file;
      continue;
    }
    const TResult r = Sniff(file);
    EXPECT_EQ(r.code, c.expected.code) << c.file;
    EXPECT_EQ(r.sub, c.expected.sub) << c.file;
  }
}

TEST(FileTypeSnifferOracle, CursorWrittenByIcotoolAndArchiveByZip) {
  qvtest::TempDir dir;
  if (qvtest::HaveProgram("icotool") && HavePillow()) {
    const std::string png = dir.File("a.png");
    qvtest::RunCommand("/usr/bin/python3 -c \"from PIL import Image; Image.new('RGBA', (32, 32)).save('" + png + "')\"");
    ASSERT_EQ(qvtest::RunCommand("icotool -c --cursor -o " + dir.File("a.cur") + " " + png + " 2>/dev/null"), 0);
    ASSERT_EQ(qvtest::RunCommand("icotool -c -o " + dir.File("b.ico") + " " + png + " " + png + " 2>/dev/null"), 0);
    EXPECT_EQ(Sniff(dir.File("a.cur")).code, 1);
    EXPECT_EQ(Sniff(dir.File("a.cur")).sub, 2);
    EXPECT_EQ(Sniff(dir.File("b.ico")).sub, 1);
  }
  if (qvtest::HaveProgram("zip")) {
    qvtest::WriteFileBytes(dir.File("note.txt"), {'h', 'i'});
    ASSERT_EQ(qvtest::RunCommand("cd " + dir.Path().string() + " && zip -q a.zip note.txt"), 0);
    EXPECT_EQ(Sniff(dir.File("a.zip")).code, 17);
  }
}

}  // namespace

#include <random>

namespace {

// Mutated copies of valid headers (bytes flipped, lengths and offsets set to
// extremes, files cut short) must always end with a code.
TEST(FileTypeSniffer, MutatedHeadersNeverHangOrCrash) {
  const Bytes seeds[] = {PeImage().Data(), NeImage(3).Data(), Jpeg(Frame(0xC0, 3)).Data(),
                         ResourceFork(700).Text(540, "ICN#").Data(), Tga().Data(),
                         TBuilder(64).Text(0, "icns").Text(8, "is32").Data(), Riff("ACON", 64, 8).Data()};
  std::mt19937 random(1234);
  qvtest::TempDir dir;
  for (int round = 0; round < 200; ++round) {
    Bytes bytes = seeds[round % std::size(seeds)];
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits; ++e) {
      const size_t at = random() % bytes.size();
      switch (random() % 4) {
        case 0: bytes[at] = static_cast<uint8_t>(random()); break;
        case 1: bytes[at] = 0xFF; break;
        case 2: bytes[at] = 0x00; break;
        case 3: bytes.resize(std::max<size_t>(at, 1)); break;
      }
    }
    const TResult r = SniffBytes(dir, bytes);
    EXPECT_GE(r.code, 0);
    EXPECT_LE(r.code, 25);
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    bool is64 = false;
    EXPECT_GE(CountIconGroupsInStream(s, is64), -1);
  }
}

}  // namespace
