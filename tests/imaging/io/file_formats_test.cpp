#include "imaging/io/file_formats.h"

#include <gtest/gtest.h>

#include "imaging/core/ie_startup.h"
#include "io_test_support.h"

namespace {

struct RegistryRow {
  TImageFileType code;
  const char* name;
  int suffixes;
  bool read;
  bool write;
  uint16_t page;
};

// The built-in list, in search order, with HD Photo last (its filter registers
// it where its codec is there, as it is in every build of this program).
const RegistryRow kRows[] = {
    {1, "TIFF Bitmap", 6, true, true, 8},
    {2, "CompuServe Bitmap", 1, true, true, 16},
    {3, "JPEG Bitmap", 4, true, true, 4},
    {4, "PaintBrush", 1, true, true, 64},
    {5, "Windows Bitmap", 3, true, true, 32},
    {21, "Raw Bitmap", 0, true, true, 0},
    {6, "Windows Icon", 1, true, true, 0},
    {7, "Windows Cursor", 1, true, false, 0},
    {8, "Portable Network Graphics", 1, true, true, 128},
    {28, "DICOM Bitmap", 4, true, false, 0},
    {9, "Windows Metafile", 1, true, false, 0},
    {10, "Enhanced Windows Metafile", 1, true, false, 0},
    {11, "Targa Bitmap", 6, true, true, 256},
    {12, "Portable Pixmap, GrayMap, BitMap", 5, true, true, 0},
    {16, "Wireless Bitmap", 1, true, true, 0},
    {13, "JPEG2000", 1, true, true, 512},
    {14, "JPEG2000 Code Stream", 3, true, true, 512},
    {17, "PostScript Level 2", 2, false, true, 0},
    {18, "Adobe PDF", 1, false, true, 0},
    {19, "Multipage PCX", 1, true, true, 0},
    {20, "Camera RAW", 13, true, false, 0},
    {24, "Photoshop PSD", 1, true, true, 0},
    {25, "Vectorial objects", 1, true, true, 0},
    {26, "Layers", 1, true, true, 0},
    {27, "Layers and objects", 1, true, true, 0},
    {29, "Microsoft HD Photo", 2, true, true, 0},
};

TEST(FileFormatRegistry, BuiltinListInOrder) {
  qvtest::EnsureImageIO();
  ASSERT_EQ(FileFormatCount(), 26);
  for (int i = 0; i < 26; ++i) {
    SCOPED_TRACE(i);
    const TIEFileFormatInfo* f = FileFormatAt(i);
    EXPECT_EQ(f->FileType, kRows[i].code);
    EXPECT_EQ(f->FullName, kRows[i].name);
    EXPECT_EQ(CountFormatSuffixes(f->FileType), kRows[i].suffixes);
    EXPECT_EQ(bool(f->ReadFunction), kRows[i].read);
    EXPECT_EQ(bool(f->WriteFunction), kRows[i].write);
    EXPECT_EQ(f->DialogPage, kRows[i].page);
    EXPECT_TRUE(f->InternalFormat);
    EXPECT_EQ(FindFileFormatByType(f->FileType), f);
  }
  for (TImageFileType never : {0, 15, 22, 23}) EXPECT_EQ(FindFileFormatByType(never), nullptr) << never;
}

TEST(FileFormatRegistry, ExtensionLookups) {
  qvtest::EnsureImageIO();
  const struct {
    const char* ext;
    TImageFileType code;
  } cases[] = {
      {".JPEG", 3}, {"jpeg", 3}, {"JpEg", 3}, {".jif", 3}, {"", 0},    {".", 0},   {"..jpg", 0},
      {"pix", 11},  {"xif", 1},  {"wmv", 0},  {"avi", 0},  {"win", 0}, {"hdp", 29}, {"wdp", 29},
      {"sr2", 20},  {"v2", 28},  {"dib", 5},  {"pbm", 12}, {".pnm", 12}, {"lyr", 26}, {"tif;", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(GetFileTypeByExtension(c.ext), c.code) << c.ext;
}

TEST(FileFormatRegistry, SuffixesByIndex) {
  qvtest::EnsureImageIO();
  EXPECT_EQ(GetFormatSuffix(20, 0), "CRW");
  EXPECT_EQ(GetFormatSuffix(20, 12), "SR2");
  EXPECT_EQ(GetFormatSuffix(20, 13), "");
  EXPECT_EQ(GetFormatSuffix(20, -1), "");
  EXPECT_EQ(GetFormatSuffix(99, 0), "");
  EXPECT_EQ(CountFormatSuffixes(20), 13);
  EXPECT_EQ(CountFormatSuffixes(21), 0);
  EXPECT_EQ(CountFormatSuffixes(99), 0);
}

TEST(FileFormatRegistry, OutsideFormatRegistersAndUnregisters) {
  qvtest::EnsureImageIO();
  UnregisterFileFormat(99);
  EXPECT_EQ(FileFormatCount(), 26);

  auto entry = std::make_unique<TIEFileFormatInfo>();
  entry->FileType = 40;
  entry->FullName = "Test Format";
  entry->Suffix = "QVT;QVX";
  RegisterFileFormat(std::move(entry));
  EXPECT_EQ(FileFormatCount(), 27);
  EXPECT_EQ(GetFileTypeByExtension(".qvx"), 40);
  EXPECT_EQ(GetFormatSuffix(40, 1), "QVX");
  UnregisterFileFormat(40);
  EXPECT_EQ(FileFormatCount(), 26);
  EXPECT_EQ(GetFileTypeByExtension(".qvx"), 0);
}

TEST(FileFormatRegistry, HDPhotoOnlyWithTheImagingComponent) {
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  FindFormatDescriptor(ioHDP)->Available = [] { return true; };
  InitImageIO();
  EXPECT_EQ(FileFormatCount(), 26);
  EXPECT_EQ(GetFileTypeByExtension("wdp"), 29);
  FindFormatDescriptor(ioHDP)->Available = [] { return false; };
  InitImageIO();
  EXPECT_EQ(FileFormatCount(), 25);
}

}  // namespace

namespace {

TEST(FileFormatRegistry, BuiltAndFreedByTheLibraryStartup) {
  qvtest::EnsureImageIO();
  if (LibraryStartupCount() != 0) GTEST_SKIP() << "library already started";
  FreeFileFormats();
  InstallImageIOStartup();
  LibraryStaticInit();
  EXPECT_EQ(FileFormatCount(), 26);
  LibraryStaticDone();
  EXPECT_EQ(FileFormatCount(), 0);
  SetLibraryStartupStep(iessImageIO, nullptr, nullptr);
  InitImageIO();  // the other tests of this program find the list as before
}

}  // namespace
