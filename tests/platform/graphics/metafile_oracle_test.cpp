// Our metafiles as outside programs read them: printemf lists the records and
// bounds, emf2svg (through rsvg) and libwmf draw what our playback draws away
// from shape edges, Pillow reads the sizes and boxes, ImageMagick and file name
// the formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "gdi_test_helpers.h"
#include "pillow_oracle.h"
#include "platform/graphics/graphics.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

using gditest::Dib;

namespace {

constexpr int W = 64, H = 48;

bool Have(const char* tool) { return qvtest::HaveProgram(tool); }

// Solid shapes in distinct colours over a white picture-wide rectangle.
void Scene(TMetafile& mf) {
  mf.SetWidth(W);
  mf.SetHeight(H);
  TMetafileCanvas c(&mf, nullptr);
  c.Pen()->SetStyle(psClear);
  c.Brush()->SetColor(0xFFFFFF);
  c.Rectangle(0, 0, W + 1, H + 1);
  c.Brush()->SetColor(0x0000FF);
  c.Rectangle(4, 4, 30, 40);
  c.Brush()->SetColor(0x00FF00);
  c.Ellipse(30, 8, 60, 44);
  c.Brush()->SetColor(0xFF0000);
  c.Polygon({{8, 44}, {20, 30}, {28, 46}});
}

struct Rendering {
  std::vector<uint32_t> rgb;  // 0x00RRGGBB per pixel
  int width = 0, height = 0;
  uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y * width + x)]; }
};

Rendering Ours(TMetafile& mf) {
  Dib d(W, H, 24);
  RECT r{0, 0, W, H};
  PlayEnhMetaFile(d.dc(), mf.Handle(), &r);
  Rendering out{{}, W, H};
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      COLORREF c = GetPixel(d.dc(), x, y);
      out.rgb.push_back((GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c));
    }
  return out;
}

// A PNG read through Pillow, flattened onto white.
Rendering ReadPng(const std::string& file) {
  std::string out;
  EXPECT_EQ(qvtest::RunPython("from PIL import Image\n"
                              "im = Image.open('" + file + "').convert('RGBA')\n"
                              "bg = Image.new('RGBA', im.size, (255, 255, 255, 255))\n"
                              "im = Image.alpha_composite(bg, im).convert('RGB')\n"
                              "print(im.size[0], im.size[1])\n"
                              "print(' '.join('%d' % ((r << 16) | (g << 8) | b) for r, g, b in im.getdata()))\n",
                              &out),
            0);
  Rendering r;
  std::istringstream in(out);
  in >> r.width >> r.height;
  uint32_t v;
  while (in >> v) r.rgb.push_back(v);
  return r;
}

// Pixels of ours at least two pixels from any change of colour.
bool Inside(const Rendering& r, int x, int y) {
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx) {
      int xx = x + dx, yy = y + dy;
      if (xx < 0 || yy < 0 || xx >= r.width || yy >= r.height || r.At(xx, yy) != r.At(x, y)) return false;
    }
  return true;
}

// Every inner pixel of ours has its colour in the oracle's picture at the mapped place.
void Agree(const Rendering& ours, const Rendering& oracle, double sx, double sy, double ox, double oy) {
  int compared = 0, differing = 0;
  std::string first;
  for (int y = 0; y < ours.height; ++y)
    for (int x = 0; x < ours.width; ++x) {
      if (!Inside(ours, x, y)) continue;
      int px = static_cast<int>(std::floor((x + 0.5) * sx + ox)), py = static_cast<int>(std::floor((y + 0.5) * sy + oy));
      if (px < 0 || py < 0 || px >= oracle.width || py >= oracle.height) continue;
      ++compared;
      if (oracle.At(px, py) != ours.At(x, y)) {
        if (first.empty()) first = std::to_string(x) + "," + std::to_string(y);
        ++differing;
      }
    }
  EXPECT_GT(compared, W * H / 3);
  EXPECT_EQ(differing, 0) << "first at " << first;
}

class MetafileOracle : public ::testing::Test {
protected:
  void SetUp() override {
    Scene(mf);
    mf.SaveToFile(dir.File("a.emf"));
    TMetafile wmf;
    wmf.Assign(&mf);
    wmf.SetEnhanced(false);
    wmf.SaveToFile(dir.File("a.wmf"));
  }
  qvtest::TempDir dir;
  TMetafile mf;
};

TEST_F(MetafileOracle, PrintemfListsOurRecordsAndBounds) {
  if (!Have("printemf")) GTEST_SKIP() << "printemf is not installed";
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("printemf " + dir.File("a.emf") + " 2>/dev/null", &out), 0);
  ENHMETAHEADER h;
  GetEnhMetaFileHeader(mf.Handle(), sizeof(h), &h);
  std::string bounds = "(" + std::to_string(h.rclBounds.left) + ", " + std::to_string(h.rclBounds.top) + ") - (" +
                       std::to_string(h.rclBounds.right) + ", " + std::to_string(h.rclBounds.bottom) + ")";
  EXPECT_NE(out.find("rclBounds\t\t: " + bounds), std::string::npos) << out.substr(0, 400);
  for (const char* record : {"*RECTANGLE*", "*ELLIPSE*", "*POLYGON16*", "*CREATEBRUSHINDIRECT*", "*EOF*"})
    EXPECT_NE(out.find(record), std::string::npos) << record;
}

TEST_F(MetafileOracle, Emf2svgAgreesWithOurPlaybackAwayFromEdges) {
  if (!Have("emf2svg-conv") || !Have("rsvg-convert") || !qvtest::HavePillow()) GTEST_SKIP() << "tools missing";
  ASSERT_EQ(qvtest::RunCommand("emf2svg-conv -i " + dir.File("a.emf") + " -o " + dir.File("a.svg")), 0);
  ASSERT_EQ(qvtest::RunCommand("rsvg-convert " + dir.File("a.svg") + " -o " + dir.File("a.png")), 0);
  Rendering oracle = ReadPng(dir.File("a.png"));
  // emf2svg draws the bounds at one unit a pixel, from the bounds' corner.
  ENHMETAHEADER h;
  GetEnhMetaFileHeader(mf.Handle(), sizeof(h), &h);
  Agree(Ours(mf), oracle, 1, 1, -h.rclBounds.left, -h.rclBounds.top);
}

// libwmf's drawing of a WMF file of ours (through rsvg) against our playback
// of the metafile it was saved from.
void LibwmfAgrees(TMetafile& mf, const qvtest::TempDir& dir, const std::string& wmf) {
  ASSERT_EQ(qvtest::RunCommand("wmf2svg -o " + dir.File("w.svg") + " " + dir.File(wmf) + " 2>/dev/null"), 0);
  ASSERT_EQ(qvtest::RunCommand("rsvg-convert " + dir.File("w.svg") + " -o " + dir.File("w.png")), 0);
  // libwmf fits what it finds drawn into its picture: the first rectangle is
  // our picture-wide one (0, 0)-(W + 1, H + 1), which gives its mapping.
  std::vector<uint8_t> svgBytes = qvtest::ReadFileBytes(dir.File("w.svg"));
  std::string svg(svgBytes.begin(), svgBytes.end());
  std::smatch m;
  ASSERT_TRUE(std::regex_search(svg, m, std::regex("<rect x=\"([0-9.]+)\" y=\"([0-9.]+)\" width=\"([0-9.]+)\" height=\"([0-9.]+)\"")));
  double sx = std::stod(m[3]) / (W + 1), sy = std::stod(m[4]) / (H + 1);
  Agree(Ours(mf), ReadPng(dir.File("w.png")), sx, sy, std::stod(m[1]), std::stod(m[2]));
}

TEST_F(MetafileOracle, LibwmfAgreesWithOurPlaybackAwayFromEdges) {
  if (!Have("wmf2svg") || !Have("rsvg-convert") || !qvtest::HavePillow()) GTEST_SKIP() << "tools missing";
  LibwmfAgrees(mf, dir, "a.wmf");
}

TEST_F(MetafileOracle, PillowReadsSizesAndBoxes) {
  QV_REQUIRE_PILLOW();
  std::string out;
  ASSERT_EQ(qvtest::RunPython("from PIL import Image\n"
                              "for f in ['" + dir.File("a.emf") + "', '" + dir.File("a.wmf") + "']:\n"
                              "    im = Image.open(f)\n"
                              "    print(im.format, im.size[0], im.size[1], *im.info['wmf_bbox'])\n",
                              &out),
            0);
  ENHMETAHEADER h;
  GetEnhMetaFileHeader(mf.Handle(), sizeof(h), &h);
  // Enhanced: the bounds, inclusive. Placeable: the box in its units, drawn at 72 DPI.
  std::string emf = "WMF " + std::to_string(h.rclBounds.right - h.rclBounds.left) + " " +
                    std::to_string(h.rclBounds.bottom - h.rclBounds.top) + " " + std::to_string(h.rclBounds.left) +
                    " " + std::to_string(h.rclBounds.top) + " " + std::to_string(h.rclBounds.right) + " " +
                    std::to_string(h.rclBounds.bottom);
  std::string wmf = "WMF " + std::to_string(W * 72 / 96) + " " + std::to_string(H * 72 / 96) + " 0 0 " +
                    std::to_string(W) + " " + std::to_string(H);
  EXPECT_EQ(out, emf + "\n" + wmf + "\n");
}

TEST_F(MetafileOracle, ImageMagickAndFileNameTheFormats) {
  std::string out;
  if (Have("identify") &&
      qvtest::RunCommand("identify -format '%m %w %h' " + dir.File("a.wmf") + " 2>/dev/null", &out) == 0) {
    EXPECT_EQ(out, "WMF " + std::to_string(W * 72 / 96) + " " + std::to_string(H * 72 / 96));
  }
  if (!Have("file")) GTEST_SKIP() << "file is not installed";
  ASSERT_EQ(qvtest::RunCommand("file -b " + dir.File("a.emf"), &out), 0);
  EXPECT_NE(out.find("Windows Enhanced Metafile"), std::string::npos) << out;
  ASSERT_EQ(qvtest::RunCommand("file -b " + dir.File("a.wmf"), &out), 0);
  EXPECT_NE(out.find("Windows metafile"), std::string::npos) << out;
}

// Paths and a turned world, in solid colours. (emf2svg writes no clip paths
// and breaks ellipses inside paths, so those are left to the exactness table.)
void PathScene(TMetafile& mf) {
  mf.SetWidth(W);
  mf.SetHeight(H);
  TMetafileCanvas c(&mf, nullptr);
  HDC dc = c.Handle();
  HBRUSH white = CreateSolidBrush(RGB(255, 255, 255)), blue = CreateSolidBrush(RGB(0, 0, 255)),
         red = CreateSolidBrush(RGB(255, 0, 0)), green = CreateSolidBrush(RGB(0, 255, 0));
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
  HGDIOBJ oldBrush = SelectObject(dc, white);
  Rectangle(dc, 0, 0, W + 1, H + 1);
  SelectObject(dc, blue);
  BeginPath(dc);
  POINT tri[] = {{4, 46}, {16, 26}, {28, 46}};
  Polygon(dc, tri, 3);
  MoveToEx(dc, 4, 4, nullptr);
  LineTo(dc, 30, 4);
  POINT bez[] = {{30, 20}, {20, 24}, {4, 20}};
  PolyBezierTo(dc, bez, 3);
  CloseFigure(dc);
  EndPath(dc);
  FillPath(dc);
  SetGraphicsMode(dc, GM_ADVANCED);
  XFORM turn{0.8660254f, 0.5f, -0.5f, 0.8660254f, 48, 32};
  SetWorldTransform(dc, &turn);
  SelectObject(dc, green);
  Rectangle(dc, -10, -7, 10, 7);
  XFORM up{1, 0, 0, 1, 0, -20};
  ModifyWorldTransform(dc, &up, MWT_RIGHTMULTIPLY);
  SelectObject(dc, red);
  Ellipse(dc, -12, -7, 12, 7);
  ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
  SetGraphicsMode(dc, GM_COMPATIBLE);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  for (HBRUSH b : {white, blue, red, green}) DeleteObject(b);
}

TEST(MetafileOracleRecords, PrintemfReadsPathClipPathAndNewBlitRecords) {
  if (!Have("printemf")) GTEST_SKIP() << "printemf is not installed";
  qvtest::TempDir dir;
  TMetafile mf;
  mf.SetWidth(W);
  mf.SetHeight(H);
  {
    TMetafileCanvas c(&mf, nullptr);
    HDC dc = c.Handle();
    BeginPath(dc);
    Rectangle(dc, 2, 2, 20, 20);
    CloseFigure(dc);
    EndPath(dc);
    StrokeAndFillPath(dc);
    BeginPath(dc);
    Ellipse(dc, 2, 2, 20, 20);
    EndPath(dc);
    SelectClipPath(dc, RGN_AND);
    Dib src(8, 8, 24);
    TransparentBlt(dc, 0, 0, 16, 16, src.dc(), 0, 0, 8, 8, 0);
    POINT plg[3] = {{0, 0}, {8, 2}, {2, 8}};
    PlgBlt(dc, plg, src.dc(), 0, 0, 8, 8, nullptr, 0, 0);
    HBITMAP mask = CreateBitmap(8, 8, 1, 1, nullptr);
    MaskBlt(dc, 20, 20, 8, 8, src.dc(), 0, 0, mask, 0, 0, MAKEROP4(SRCCOPY, PATCOPY));
    DeleteObject(mask);
    TRIVERTEX v[2] = {{0, 0, 0xFF00, 0, 0, 0}, {30, 30, 0, 0, 0xFF00, 0}};
    GRADIENT_RECT gr{0, 1};
    GradientFill(dc, v, 2, &gr, 1, GRADIENT_FILL_RECT_V);
  }
  mf.SaveToFile(dir.File("r.emf"));
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("printemf " + dir.File("r.emf") + " 2>&1", &out), 0);
  for (const char* record : {"*BEGINPATH*", "*CLOSEFIGURE*", "*ENDPATH*", "*STROKEANDFILLPATH*", "*EOF*"})
    EXPECT_NE(out.find(record), std::string::npos) << record;
  // Records it has no printer for it names by type and size as it reads past
  // them, which shows each one framed where we say.
  std::vector<std::pair<uint32_t, uint32_t>> records;
  EnumEnhMetaFile(
      nullptr, mf.Handle(),
      [](HDC, HANDLETABLE*, const ENHMETARECORD* r, int, LPARAM data) {
        reinterpret_cast<std::vector<std::pair<uint32_t, uint32_t>>*>(data)->push_back({r->iType, r->nSize});
        return 1;
      },
      &records, nullptr);
  for (uint32_t type : {67u, 116u, 79u, 78u, 118u}) {
    auto it = std::find_if(records.begin(), records.end(), [&](const auto& r) { return r.first == type; });
    ASSERT_NE(it, records.end()) << type;
    std::string line = "record type " + std::to_string(type) + " of size " + std::to_string(it->second);
    EXPECT_NE(out.find(line), std::string::npos) << line;
  }
}

TEST(MetafileOracleRecords, Emf2svgAgreesOnPathsAndTurnedShapes) {
  if (!Have("emf2svg-conv") || !Have("rsvg-convert") || !qvtest::HavePillow()) GTEST_SKIP() << "tools missing";
  qvtest::TempDir dir;
  TMetafile mf;
  PathScene(mf);
  mf.SaveToFile(dir.File("p.emf"));
  ASSERT_EQ(qvtest::RunCommand("emf2svg-conv -i " + dir.File("p.emf") + " -o " + dir.File("p.svg")), 0);
  ASSERT_EQ(qvtest::RunCommand("rsvg-convert " + dir.File("p.svg") + " -o " + dir.File("p.png")), 0);
  ENHMETAHEADER h;
  GetEnhMetaFileHeader(mf.Handle(), sizeof(h), &h);
  Agree(Ours(mf), ReadPng(dir.File("p.png")), 1, 1, -h.rclBounds.left, -h.rclBounds.top);
}

// The same scene saved as WMF, where the paths and the turned shapes become
// polygons: libwmf draws them where our playback of the EMF does.
TEST(MetafileOracleRecords, LibwmfAgreesOnPathsAndTurnedShapesAsPolygons) {
  if (!Have("wmf2svg") || !Have("rsvg-convert") || !qvtest::HavePillow()) GTEST_SKIP() << "tools missing";
  qvtest::TempDir dir;
  TMetafile mf;
  PathScene(mf);
  TMetafile wmf;
  wmf.Assign(&mf);
  wmf.SetEnhanced(false);
  wmf.SaveToFile(dir.File("p.wmf"));
  LibwmfAgrees(mf, dir, "p.wmf");
}

}  // namespace
