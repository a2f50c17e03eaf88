// The format list: every descriptor against the registry's table of formats,
// and each content test against a picture of its own format and of every other.
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/core/ie_streams.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/image_lib_io.h"
#include "platform/rtl/byte_order.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/imaging/io/io_test_support.h"

namespace {

struct FormatRow {
  TImageFileType code;
  const char* name;
  const char* suffixes;
  bool read, write;
  uint16_t page;
};

// The registry's table of formats, in its order.
const FormatRow kTable[] = {
    {1, "TIFF Bitmap", "TIF;TIFF;FAX;G3N;G3F;XIF", true, true, 8},
    {2, "CompuServe Bitmap", "GIF", true, true, 16},
    {3, "JPEG Bitmap", "JPG;JPEG;JPE;JIF", true, true, 4},
    {4, "PaintBrush", "PCX", true, true, 64},
    {5, "Windows Bitmap", "BMP;DIB;RLE", true, true, 32},
    {21, "Raw Bitmap", "", true, true, 0},
    {6, "Windows Icon", "ICO", true, true, 0},
    {7, "Windows Cursor", "CUR", true, false, 0},
    {8, "Portable Network Graphics", "PNG", true, true, 128},
    {28, "DICOM Bitmap", "DCM;DIC;DICOM;V2", true, false, 0},
    {9, "Windows Metafile", "WMF", true, false, 0},
    {10, "Enhanced Windows Metafile", "EMF", true, false, 0},
    {11, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX", true, true, 256},
    {12, "Portable Pixmap, GrayMap, BitMap", "PXM;PPM;PGM;PBM;PNM", true, true, 0},
    {16, "Wireless Bitmap", "WBMP", true, true, 0},
    {13, "JPEG2000", "JP2", true, true, 512},
    {14, "JPEG2000 Code Stream", "J2K;JPC;J2C", true, true, 512},
    {17, "PostScript Level 2", "PS;EPS", false, true, 0},
    {18, "Adobe PDF", "PDF", false, true, 0},
    {19, "Multipage PCX", "DCX", true, true, 0},
    {20, "Camera RAW", "CRW;CR2;NEF;RAW;PEF;RAF;X3F;BAY;ORF;SRF;MRW;DCR;SR2", true, false, 0},
    {24, "Photoshop PSD", "PSD", true, true, 0},
    {25, "Vectorial objects", "IEV", true, true, 0},
    {26, "Layers", "LYR", true, true, 0},
    {27, "Layers and objects", "ALL", true, true, 0},
    {29, "Microsoft HD Photo", "WDP;HDP", true, true, 0},
};

TEST(FormatFilters, EveryDescriptorMatchesTheTableOfFormats) {
  // The formats layer's list, then what the specialised formats add.
  qvtest::FilterSlotsScope slots;
  InstallFormatDescriptors(FormatFilterList());
  AddSpecialFormatDescriptors();
  const std::vector<TIEFormatDescriptor> list = FormatDescriptors();
  ASSERT_EQ(list.size(), std::size(kTable));
  for (size_t i = 0; i < list.size(); ++i) {
    const TIEFormatDescriptor& d = list[i];
    const FormatRow& row = kTable[i];
    SCOPED_TRACE(row.name);
    EXPECT_EQ(d.FileType, row.code);
    EXPECT_EQ(d.FullName, row.name);
    EXPECT_EQ(d.Suffixes, row.suffixes);
    EXPECT_EQ(d.Access == ieaRead || d.Access == ieaReadWrite, row.read);
    EXPECT_EQ(d.Access == ieaWrite || d.Access == ieaReadWrite, row.write);
    EXPECT_EQ(d.DialogPage, row.page);
    // A content test is asked only with an order; an order without a test is a slip.
    EXPECT_EQ(bool(d.Probe), d.ProbeOrder > 0);
    // What the component reads with its own frame has a reader, and what it
    // saves a writer (the layer files and metafiles are served elsewhere).
    if (d.Frame == ieffFilter && row.read) {
      EXPECT_TRUE(bool(d.Read));
    }
    if (d.SaveOrder > 0) {
      EXPECT_TRUE(bool(d.Write));
    }
    if (!row.write) {
      EXPECT_EQ(d.SaveOrder, 0);
    }
  }
}

TEST(FormatFilters, TheComponentFindsEachFormatByCodeAndSuffix) {
  qvtest::FilterSlotsScope slots;
  InstallFormatDescriptors(FormatFilterList());
  AddSpecialFormatDescriptors();
  InitImageIO();
  for (const FormatRow& row : kTable) {
    SCOPED_TRACE(row.name);
    const TIEFormatDescriptor* d = FindFormatDescriptor(row.code);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->FullName, row.name);
    for (int k = 0; k < CountFormatSuffixes(row.code); ++k)
      EXPECT_EQ(GetFileTypeByExtension("." + GetFormatSuffix(row.code, k)), row.code) << k;
  }
  EXPECT_EQ(FindFormatDescriptor(ioAVI), nullptr);
}

// A small picture of each format whose filter has a content test, written by
// the library (or laid out by hand where it has no writer).
std::map<TImageFileType, std::vector<uint8_t>> Samples() {
  std::map<TImageFileType, std::vector<uint8_t>> samples;
  auto picture = qvtest::Gradient(8, 6);
  for (TImageFileType code : {ioJPEG, ioPNG, ioICO, ioTGA, ioPXM, ioDCX, ioPSD, ioJP2, ioJ2K}) {
    TIEBitmap source;
    source.Assign(picture.get());
    auto io = TImageLibIO::CreateForBitmap(&source);
    TMemoryStream s;
    io->SaveStream(s, code);
    EXPECT_FALSE(io->Aborting()) << code;
    samples[code].assign(s.Memory(), s.Memory() + s.Size());
  }
  // A cursor is an icon file of type 2.
  samples[ioCUR] = samples[ioICO];
  samples[ioCUR][2] = 2;
  // A Windows metafile header (type 1, 9 words, version 3.0) and an empty end record.
  std::vector<uint8_t> wmf = {1, 0, 9, 0, 0, 3, 12, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0};
  samples[ioWMF] = wmf;
  // An enhanced metafile header: record 1 of 108 bytes, " EMF" at offset 40.
  std::vector<uint8_t> emf(108, 0);
  WriteLE32(emf.data(), 1);
  WriteLE32(emf.data() + 4, 108);
  WriteLE32(emf.data() + 40, 0x464D4520);
  samples[ioEMF] = emf;
  // A DICOM file: the 128-byte preamble, "DICM" and a group length element.
  std::vector<uint8_t> dicom(128, 0);
  for (uint8_t b : std::vector<uint8_t>{'D', 'I', 'C', 'M', 2, 0, 0, 0, 'U', 'L', 4, 0, 0, 0, 0, 0}) dicom.push_back(b);
  samples[ioDICOM] = dicom;
  return samples;
}

TEST(FormatFilters, EachProbeKnowsItsOwnFormatAndNoOther) {
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  RegisterFormatFilters();
  RegisterSpecialFormats();
  SetLibraryStartupStep(iessImageIO, nullptr, nullptr);  // the start-up tests run without it
  const auto samples = Samples();
  for (const TIEFormatDescriptor& d : FormatDescriptors()) {
    if (!d.Probe || !samples.count(d.FileType)) continue;
    SCOPED_TRACE(d.FullName);
    for (const auto& [code, bytes] : samples) {
      TIEMemStream s(bytes.data(), int64_t(bytes.size()));
      EXPECT_EQ(d.Probe(s), code == d.FileType) << "sample " << code;
    }
  }
  // Detection walks the list and finds each.
  for (const auto& [code, bytes] : samples) {
    TIEMemStream s(bytes.data(), int64_t(bytes.size()));
    EXPECT_EQ(DetectStreamFileType(s), code);
  }
}

}  // namespace
