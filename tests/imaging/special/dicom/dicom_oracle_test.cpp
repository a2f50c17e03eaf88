// The DICOM reader against pydicom and DCMTK: pydicom's test files and files
// that DCMTK's tools make from them (every encoding, RLE, baseline and
// lossless JPEG with each predictor and point transform), their top-level
// elements against dcmdump, their stored values against pydicom's pixel
// arrays, and the windowed and min-max output against dcm2pnm.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "imaging/io/dicom_tags.h"
#include "imaging/special/dicom/dicom_reader.h"
#include "test_support.h"
#include "tests/imaging/special/dicom/dicom_test_util.h"

namespace {

using qvtest::Bytes;
using qvtest::TDicomRead;

const char* kPython = "/usr/bin/python3";

// Prints "rows cols samples" and then the values our reader keeps in range
// mode 1: grey values through the rescale, moved up to be positive (8-bit
// native grey shifted to the top of the byte instead), MONOCHROME1 inverted;
// colour as red, green, blue. Compressed data that pydicom cannot decode
// here is first decompressed by DCMTK.
const char* kScript = R"(
import subprocess, sys, tempfile, os
import numpy as np, pydicom
from pydicom.pixel_data_handlers.util import convert_color_space
path, frame = sys.argv[1], int(sys.argv[2])
ds = pydicom.dcmread(path, force=True)
ts = str(ds.file_meta.get('TransferSyntaxUID', '')) if hasattr(ds, 'file_meta') else ''
if ts.startswith('1.2.840.10008.1.2.4.5') or ts.startswith('1.2.840.10008.1.2.4.7'):
    out = tempfile.mktemp(suffix='.dcm')
    subprocess.run(['dcmdjpeg', path, out], check=True)
    ds = pydicom.dcmread(out)
    os.remove(out)
    native = False
else:
    native = ts in ('', '1.2.840.10008.1.2', '1.2.840.10008.1.2.1', '1.2.840.10008.1.2.2')
if not ts:
    ds.file_meta = pydicom.dataset.FileMetaDataset()
    ds.file_meta.TransferSyntaxUID = '1.2.840.10008.1.2'
a = ds.pixel_array
if int(ds.get('NumberOfFrames', 1) or 1) > 1:
    a = a[frame]
spp = int(ds.SamplesPerPixel)
pi = ds.PhotometricInterpretation.strip().upper()
if spp == 1:
    bs = int(ds.BitsStored)
    top = 0xFF if bs <= 8 else 0xFFFF
    if bs <= 8 and native:
        out = (a.astype(np.int64) << (8 - bs)) & 0xFF
    else:
        v = a.astype(np.float64) * float(ds.get('RescaleSlope', 1) or 1) + float(ds.get('RescaleIntercept', 0) or 0)
        e = max(0.0, float(-v.min()))
        out = np.trunc(v + e).astype(np.int64) & top
    if pi == 'MONOCHROME1':
        out = top - out
else:
    if pi.startswith('YBR'):
        a = convert_color_space(a, pi, 'RGB')
    out = a.astype(np.int64)
print(a.shape[0], a.shape[1], spp)
print(' '.join(str(int(x)) for x in out.flatten()))
)";

// Writes a 40 x 30 8-bit grey picture, explicit little-endian, to argv[1].
const char* kGreyWriter =
    "import sys, numpy as np, pydicom; from pydicom.dataset import Dataset, FileMetaDataset; "
    "from pydicom.uid import ExplicitVRLittleEndian, generate_uid; "
    "m = FileMetaDataset(); m.TransferSyntaxUID = ExplicitVRLittleEndian; "
    "m.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.7'; m.MediaStorageSOPInstanceUID = generate_uid(); "
    "d = Dataset(); d.file_meta = m; d.is_little_endian = True; d.is_implicit_VR = False; "
    "d.SOPClassUID = m.MediaStorageSOPClassUID; d.SOPInstanceUID = m.MediaStorageSOPInstanceUID; "
    "d.Rows = 30; d.Columns = 40; d.SamplesPerPixel = 1; d.PhotometricInterpretation = 'MONOCHROME2'; "
    "d.BitsAllocated = 8; d.BitsStored = 8; d.HighBit = 7; d.PixelRepresentation = 0; "
    "y, x = np.mgrid[0:30, 0:40]; d.PixelData = ((x * 6 + y * 3) % 256).astype(np.uint8).tobytes(); "
    "d.save_as(sys.argv[1], write_like_original=False)";

struct TOracle {
  int rows = 0, cols = 0, samples = 0;
  std::vector<int> values;
};

bool HaveTools() {
  return qvtest::HaveProgram("dcmdump") && qvtest::HaveProgram("dcmdjpeg") &&
         qvtest::RunCommand(std::string(kPython) + " -c 'import pydicom, numpy' 2>/dev/null") == 0;
}

std::string TestFile(const std::string& name) {
  std::string out;
  qvtest::RunCommand(std::string(kPython) + " -c 'from pydicom.data import get_testdata_file as g; print(g(\"" +
                         name + "\"))' 2>/dev/null",
                     &out);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

bool Oracle(const qvtest::TempDir& dir, const std::string& file, int frame, TOracle& o) {
  const std::string script = dir.File("oracle.py");
  if (!std::ifstream(script)) {
    std::ofstream(script) << kScript;
  }
  std::string out;
  if (qvtest::RunCommand(std::string(kPython) + " " + script + " '" + file + "' " + std::to_string(frame) + " 2>/dev/null",
                         &out) != 0)
    return false;
  std::istringstream in(out);
  in >> o.rows >> o.cols >> o.samples;
  int v;
  while (in >> v) o.values.push_back(v);
  return size_t(o.rows) * o.cols * o.samples == o.values.size();
}

void ReadFile(const std::string& file, TDicomRead& r, int frame = 0, uint8_t range = 1) {
  r.params->DicomRange = range;
  r.params->ImageIndex = frame;
  qvtest::ReadDicomBytes(qvtest::ReadFileBytes(file), r);
}

void ExpectPixelsMatch(const std::string& file, const qvtest::TempDir& dir, int frame = 0, int tolerance = 0) {
  SCOPED_TRACE(file + " frame " + std::to_string(frame));
  TOracle o;
  ASSERT_TRUE(Oracle(dir, file, frame, o));
  TDicomRead r;
  ReadFile(file, r, frame);
  ASSERT_FALSE(r.abort) << r.Refusal();
  TIEBitmap& b = *r.bitmap;
  ASSERT_EQ(b.Width(), o.cols);
  ASSERT_EQ(b.Height(), o.rows);
  int bad = 0;
  for (int y = 0; y < o.rows; ++y)
    for (int x = 0; x < o.cols; ++x)
      for (int c = 0; c < o.samples; ++c) {
        const int expected = o.values[(size_t(y) * o.cols + x) * o.samples + c];
        int mine;
        if (o.samples == 3) mine = b.ScanLine(y)[3 * x + 2 - c];
        else if (b.PixelFormat() == ie16g) mine = b.GetPixel16(x, y);
        else mine = b.GetPixel8(x, y);
        if (std::abs(mine - expected) > tolerance && bad++ < 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " sample " << c << ": " << mine << " vs " << expected;
      }
}

struct TDumped {
  uint16_t group, element;
  std::string vr;
  long length;  // -1: undefined
};

// dcmdump's elements outside sequences, up to and with the pixel data.
std::vector<TDumped> DcmdumpTopLevel(const std::string& file) {
  std::string out;
  qvtest::RunCommand("dcmdump -q +L '" + file + "' 2>/dev/null", &out);
  std::vector<TDumped> list;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 14 || line[0] != '(') continue;
    TDumped d;
    d.group = uint16_t(std::stoul(line.substr(1, 4), nullptr, 16));
    d.element = uint16_t(std::stoul(line.substr(6, 4), nullptr, 16));
    d.vr = line.substr(12, 2);
    const size_t hash = line.rfind('#');
    const std::string len = line.substr(hash + 1, line.find(',', hash) - hash - 1);
    d.length = len.find("u/l") != std::string::npos ? -1 : std::stol(len);
    if (d.group == 0xFFFE) continue;  // a top-level sequence's delimiter stands at its level
    list.push_back(d);
    if (d.group == 0x7FE0 && d.element == 0x0010) break;
  }
  return list;
}

// Our list without what sits inside undefined-length sequences and items
// (an undefined length is listed as 0 and followed by its items).
std::vector<TDumped> OurTopLevel(const TIEDICOMTags& tags) {
  std::vector<TDumped> list;
  int depth = 0;
  for (int i = 0; i < tags.Count(); ++i) {
    const TIEDICOMTag& t = tags.Tag(i);
    const bool item = t.Group == 0xFFFE && t.Element == 0xE000;
    const TIEDICOMTag* next = i + 1 < tags.Count() ? &tags.Tag(i + 1) : nullptr;
    if (t.Group == 0xFFFE && t.Element == 0xE0DD) {
      --depth;
      continue;
    }
    if (t.Group == 0xFFFE && t.Element == 0xE00D) {
      --depth;
      continue;
    }
    if (item) {
      // An item of undefined length is followed by elements, not by items.
      if (t.Data.empty() && t.DataLen == 0 && next && next->Group != 0xFFFE) ++depth;
      else if (t.Data.empty() && t.DataLen == 0 && next && next->Group == 0xFFFE && next->Element == 0xE00D) ++depth;
      continue;
    }
    // Undefined lengths are listed without data (a value of length 0 keeps
    // its terminating zero), and items follow.
    const bool undefinedSequence = t.Data.empty() && t.DataLen == 0 && next && next->Group == 0xFFFE &&
                                   (next->Element == 0xE000 || next->Element == 0xE0DD);
    if (depth == 0) list.push_back({t.Group, t.Element, std::string(t.VR, 2), undefinedSequence ? -1 : t.DataLen});
    if (undefinedSequence) ++depth;
  }
  return list;
}

void ExpectElementsMatch(const std::string& file) {
  SCOPED_TRACE(file);
  TDicomRead r;
  r.params->DicomRange = 1;
  qvtest::ReadDicomBytes(qvtest::ReadFileBytes(file), r, true);
  ASSERT_FALSE(r.abort) << r.Refusal();
  const auto theirs = DcmdumpTopLevel(file);
  const auto mine = OurTopLevel(*r.params->DicomTags);
  for (size_t i = 0; i < std::min(mine.size(), theirs.size()); ++i)
    if (mine[i].group != theirs[i].group || mine[i].element != theirs[i].element) {
      ADD_FAILURE() << "first difference at " << i << std::hex << ": (" << mine[i].group << "," << mine[i].element
                    << ") vs (" << theirs[i].group << "," << theirs[i].element << ")";
      break;
    }
  ASSERT_EQ(mine.size(), theirs.size());
  for (size_t i = 0; i < mine.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(mine[i].group, theirs[i].group);
    EXPECT_EQ(mine[i].element, theirs[i].element);
    // DCMTK reads an undefined-length "UN" as the sequence it must be.
    if (mine[i].vr != "xs" && mine[i].vr != "UN" && theirs[i].vr != "UN" && theirs[i].vr != "ox" && theirs[i].vr != "xs") {
      EXPECT_EQ(mine[i].vr, theirs[i].vr) << std::hex << mine[i].group << "," << mine[i].element;
    }
    const bool pixelSequence = mine[i].group == 0x7FE0 && theirs[i].length == -1;
    if (theirs[i].length >= 0 || !pixelSequence) {
      EXPECT_EQ(mine[i].length, theirs[i].length);
    }
  }
}

int Shell(const std::string& command) { return qvtest::RunCommand(command + " >/dev/null 2>&1"); }

TEST(DICOMReaderOracle, PydicomTestFiles) {
  if (!HaveTools()) GTEST_SKIP() << "pydicom or DCMTK is not installed";
  qvtest::TempDir dir;
  for (const char* name : {"CT_small.dcm", "MR_small.dcm", "MR_small_bigendian.dcm", "MR_small_implicit.dcm",
                           "MR_small_expb.dcm", "MR_small_padded.dcm", "MR_small_RLE.dcm", "SC_rgb_small_odd.dcm",
                           "SC_rgb_rle.dcm", "SC_rgb_rle_2frame.dcm", "MR_small_jp2klossless.dcm", "JPEG2000.dcm",
                           "SC_rgb_jpeg_dcmtk.dcm", "SC_rgb_dcmtk_+eb+cr.dcm", "SC_rgb_dcmtk_+eb+cy+s2.dcm",
                           "ExplVR_BigEnd.dcm"}) {
    const std::string file = TestFile(name);
    if (file.empty() || !std::ifstream(file)) {
      ADD_FAILURE() << name << " is not in pydicom's test files";
      continue;
    }
    const bool lossy = std::string(name).find("jpeg") != std::string::npos ||
                       std::string(name).find("+eb") != std::string::npos;
    ExpectPixelsMatch(file, dir, 0, lossy ? 2 : 0);
    if (std::string(name).find("2frame") != std::string::npos) ExpectPixelsMatch(file, dir, 1);
    ExpectElementsMatch(file);
  }
  // Data sets without preamble and meta group, and files without pixels.
  for (const char* name : {"ExplVR_LitEndNoMeta.dcm", "rtplan.dcm", "rtstruct.dcm", "nested_priv_SQ.dcm",
                           "UN_sequence.dcm", "test-SR.dcm"})
    ExpectElementsMatch(TestFile(name));
}

TEST(DICOMReaderOracle, FilesMadeByDcmtk) {
  if (!HaveTools() || !qvtest::HaveProgram("dcmcjpeg") || !qvtest::HaveProgram("dcmcrle") ||
      !qvtest::HaveProgram("dcmconv"))
    GTEST_SKIP() << "pydicom or DCMTK is not installed";
  qvtest::TempDir dir;
  const std::string mr = TestFile("MR_small.dcm"), ct = TestFile("CT_small.dcm");
  std::vector<std::string> made;
  auto make = [&](const std::string& name, const std::string& command) {
    const std::string out = dir.File(name);
    ASSERT_EQ(Shell(command + " " + out), 0) << command;
    made.push_back(out);
  };
  for (const std::string& source : {mr, ct}) {
    const std::string tag = source == mr ? "mr" : "ct";
    make(tag + "_ti.dcm", "dcmconv +ti '" + source + "'");
    make(tag + "_te.dcm", "dcmconv +te '" + source + "'");
    make(tag + "_tb.dcm", "dcmconv +tb '" + source + "'");
    make(tag + "_nometa.dcm", "dcmconv -F +ti '" + source + "'");
    make(tag + "_rle.dcm", "dcmcrle '" + source + "'");
    make(tag + "_e1.dcm", "dcmcjpeg +e1 '" + source + "'");
    for (int sv = 1; sv <= 7; ++sv)
      for (int pt : {0, 2})
        make(tag + "_sv" + std::to_string(sv) + "_pt" + std::to_string(pt) + ".dcm",
             "dcmcjpeg +el +sv " + std::to_string(sv) + " +pt " + std::to_string(pt) + " '" + source + "'");
  }
  // Baseline JPEG of 8-bit grey (a picture pydicom writes) and of colour.
  const std::string grey = dir.File("grey8.dcm");
  ASSERT_EQ(Shell(std::string(kPython) + " -c \"" + kGreyWriter + "\" " + grey), 0);
  make("grey8_eb.dcm", "dcmcjpeg +eb " + grey);
  make("grey8_sv1.dcm", "dcmcjpeg +el +sv 1 " + grey);
  make("rgb_eb.dcm", "dcmcjpeg +eb '" + TestFile("SC_rgb_small_odd.dcm") + "'");
  make("rgb_native.dcm", "dcmdrle '" + TestFile("SC_rgb_rle.dcm") + "'");
  make("rgb_sv1.dcm", "dcmcjpeg +el +sv 1 " + made.back());
  for (const std::string& file : made) {
    const bool lossy = file.find("_eb") != std::string::npos;
    ExpectPixelsMatch(file, dir, 0, lossy ? 2 : 0);
    ExpectElementsMatch(file);
  }
}

TEST(DICOMReaderOracle, WindowAndMinMaxAgainstDcm2pnm) {
  if (!HaveTools() || !qvtest::HaveProgram("dcm2pnm") || !qvtest::HaveProgram("dcmodify"))
    GTEST_SKIP() << "pydicom or DCMTK is not installed";
  qvtest::TempDir dir;
  struct TWindowCase {
    const char* source;
    const char* centre;
    const char* width;
  } cases[] = {{"MR_small.dcm", "600", "1600"}, {"CT_small.dcm", "40", "400"}, {"CT_small.dcm", "0", "80"},
               {"CT_small.dcm", "-600", "1"}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string file = dir.File("w" + std::to_string(n++) + ".dcm");
    ASSERT_EQ(Shell("cp '" + TestFile(c.source) + "' " + file), 0);
    ASSERT_EQ(Shell(std::string("dcmodify -nb -i '(0028,1050)=") + c.centre + "' -i '(0028,1051)=" + c.width + "' " + file), 0);
    for (bool minMax : {false, true}) {
      SCOPED_TRACE(std::string(c.source) + " " + c.centre + "/" + c.width + (minMax ? " min-max" : " window"));
      const std::string pgm = file + (minMax ? ".m.pgm" : ".w.pgm");
      ASSERT_EQ(Shell(std::string("dcm2pnm ") + (minMax ? "+Wm" : "+Wi 1") + " +op " + file + " " + pgm), 0);
      TDicomRead r;
      if (minMax) {
        const std::string plain = file + ".plain.dcm";
        ASSERT_EQ(Shell("cp " + file + " " + plain + " && dcmodify -nb -e '(0028,1050)' -e '(0028,1051)' " + plain), 0);
        ReadFile(plain, r, 0, 0);
      } else {
        ReadFile(file, r, 0, 0);
      }
      ASSERT_FALSE(r.abort) << r.Refusal();
      const Bytes p = qvtest::ReadFileBytes(pgm);
      // "P5\nW H\n255\n" then the samples.
      std::istringstream head(std::string(p.begin(), p.begin() + std::min<size_t>(p.size(), 40)));
      std::string magic;
      int w, h, maxval;
      head >> magic >> w >> h >> maxval;
      ASSERT_EQ(w, r.bitmap->Width());
      ASSERT_EQ(h, r.bitmap->Height());
      const size_t start = p.size() - size_t(w) * h;
      int bad = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int theirs = p[start + size_t(y) * w + x];
          const int mine = r.bitmap->GetPixel16(x, y) / 257;
          if (std::abs(mine - theirs) > 1 && bad++ < 5)
            ADD_FAILURE() << x << "," << y << ": " << mine << " vs " << theirs;
        }
    }
  }
}

TEST(DICOMReaderOracle, RefusedTransferSyntaxes) {
  if (!HaveTools() || !qvtest::HaveProgram("dcmcjpls")) GTEST_SKIP() << "DCMTK is not installed";
  qvtest::TempDir dir;
  const std::string mr = TestFile("MR_small.dcm");
  const struct {
    std::string file, expect;
  } cases[] = {
      {dir.File("ls.dcm"), "JPEG-LS"},
      {dir.File("deflate.dcm"), "deflated"},
      {TestFile("JPGExtended.dcm"), "12-bit"},
      {TestFile("MR_small_jpeg_ls_lossless.dcm"), "JPEG-LS"},
  };
  ASSERT_EQ(Shell("dcmcjpls '" + mr + "' " + cases[0].file), 0);
  ASSERT_EQ(Shell("dcmconv +td '" + mr + "' " + cases[1].file), 0);
  for (const auto& c : cases) {
    TDicomRead r;
    r.bitmap->Allocate(2, 2, ie8g);
    ReadFile(c.file, r);
    EXPECT_TRUE(r.abort) << c.file;
    EXPECT_NE(r.Refusal().find(c.expect), std::string::npos) << c.file << ": " << r.Refusal();
    EXPECT_EQ(r.bitmap->Width(), 2);
  }
}

}  // namespace
