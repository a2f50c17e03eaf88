// IEV streams against iev_oracle.py, a reader and writer made from the layout
// tables with Python's struct and zlib: its stream of every version loads as
// the objects it describes, and what we write reads back in it, with PNGs
// that pngcheck and Pillow accept.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_support.h"
#include "vect_test_support.h"

namespace {

std::string Latin1ToUtf8(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Summary(TImageLibVect& v, const TIEVObject& o) {
  char buf[256];
  std::ostringstream s;
  s << int(o.Kind) << ' ' << o.X1 << ' ' << o.Y1 << ' ' << o.X2 << ' ' << o.Y2 << " pen=" << int32_t(o.PenColor) << '/'
    << o.PenWidth << " brush=" << int32_t(o.BrushColor) << '/' << int(o.BrushStyle) << " alpha=" << o.Transparency
    << " and=" << (o.AndFill ? 1 : 0);
  const int k = o.Kind;
  if (k == ievkLine || k == ievkLineLabel)
    s << " shapes=" << int(o.BeginShape) << ',' << int(o.EndShape) << ',' << o.ShapeWidth << ',' << o.ShapeHeight;
  if (k == ievkArc) {
    std::snprintf(buf, sizeof buf, " arc=%.3f,%.3f", o.StartAngle, o.EndAngle);
    s << buf;
  }
  if (k == ievkText || k == ievkLineLabel || k == ievkExtended || k == ievkMemo) {
    std::string t = o.Text;
    for (char& c : t) c = c == ' ' ? '_' : c == '\n' ? '|' : c;
    s << " text=" << Latin1ToUtf8(t);
  }
  if (k == ievkText || k == ievkLineLabel || k == ievkExtended || k == ievkRuler || k == ievkAngle || k == ievkMemo) {
    if (o.Font)
      s << " font=" << o.Font->lfHeight;
    else
      s << " font=-";
  }
  if (k == ievkText) s << " curve=" << o.CurvePointCount();
  if (k == ievkBitmap) {
    TIEBitmap* b = v.GetBitmapAt(o.BitmapIndex);
    if (b)
      s << " bitmap=" << b->Width() << 'x' << b->Height();
    else
      s << " bitmap=-";
  }
  if (k == ievkRuler) s << " ruler=" << int(o.RulerUnit) << ',' << int(o.RulerType);
  if (k == ievkPolyline) s << " points=" << o.PointCount();
  if (k == ievkAngle)
    s << " angle=" << o.AnglePoints[0].x << ':' << o.AnglePoints[0].y << ',' << o.AnglePoints[1].x << ':'
      << o.AnglePoints[1].y << ',' << o.AnglePoints[2].x << ':' << o.AnglePoints[2].y;
  if (k == ievkMemo) s << " formats=" << o.CharFormats.size();
  return s.str();
}

std::string Summaries(TImageLibVect& v) {
  std::string out;
  for (int i = 0; i < v.ObjectsCount(); ++i) out += Summary(v, *v.GetObjectRec(v.GetObjFromIndex(i))) + "\n";
  return out;
}

std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

const std::string kScript = QV_SOURCE_DIR "/tests/imaging/extras/vector/iev_oracle.py";

TEST_F(VectTest, StreamOracleGoldenStreamsOfEveryVersionLoad) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no Pillow";
  qvtest::TempDir dir;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " + kScript + " write " + dir.Path().string()), 0);
  for (char v : std::string("1237<=?@BCFIMS")) {
    char name[8];
    std::snprintf(name, sizeof name, "%02x", unsigned(uint8_t(v)));
    SCOPED_TRACE(std::string("version ") + v);
    TImageLibVect loaded(nullptr);
    ASSERT_TRUE(loaded.LoadObjectsFromFile(dir.File(std::string(name) + ".iev"), false)) << loaded.LastLoadError();
    EXPECT_EQ(Summaries(loaded), ReadText(dir.File(std::string(name) + ".txt")));
    if (v >= '7' && v <= '<') {
      // the separate alpha block reached the bitmap: alpha 40 y + x
      TIEBitmap* b = loaded.GetBitmapAt(loaded.GetObjectRec(loaded.GetObjFromIndex(4))->BitmapIndex);
      ASSERT_NE(b, nullptr);
      ASSERT_TRUE(b->HasAlphaChannel());
      EXPECT_EQ(b->AlphaChannel()->GetPixel8(3, 2), 83);
    }
  }
}

TEST_F(VectTest, StreamOracleReadsWhatWeWrite) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no Pillow";
  qvtest::TempDir dir;
  AddEveryKind();
  const std::string file = dir.File("ours.iev");
  ASSERT_TRUE(vect->SaveObjectsToFile(file));
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " + kScript + " read " + file, &out), 0);
  // Our summary and the oracle's differ only in how extended objects would show: there are none.
  EXPECT_EQ(out, Summaries(*vect));
  if (!qvtest::HaveProgram("pngcheck")) GTEST_SKIP() << "no pngcheck";
  int pngs = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    if (e.path().extension() == ".png") {
      ++pngs;
      EXPECT_EQ(qvtest::RunCommand("pngcheck -q " + e.path().string()), 0) << e.path();
    }
  EXPECT_EQ(pngs, 1);
}

}  // namespace
