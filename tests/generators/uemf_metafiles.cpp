// Writes small metafiles through libUEMF, a library that knows nothing of ours,
// so the tests can check that our player draws what another program wrote.
//
//   uemf_metafiles <folder>
//
// makes "shapes.emf", "shapes.wmf" (placeable) and "plain.wmf" (no placeable
// header) in the folder. Every file is 100 x 80 units, one unit a pixel at
// 96 DPI, on a white ground:
//   - a red rectangle (10, 10)-(40, 35) with a black one-pixel outline;
//   - a green ellipse in (50, 8)-(90, 38), no outline;
//   - a blue polyline three pixels wide through (10, 50), (40, 50), (40, 70);
//   - a 2 x 2 DIB of 24 bits stretched over (56, 44)-(72, 60): yellow, magenta
//     on top, cyan, black below;
//   - a triangle (87, 42), (99, 78), (75, 78) in blue: a filled path in the
//     EMF, a polygon in the WMFs (which have no paths);
//   - the EMF only: a pie in the bounding box (2, 60)-(22, 80) from the right
//     radial to the top one, in magenta, no outline.
// The test that runs this program checks those shapes' pixels.
#include <uemf.h>
#include <uwmf.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int W = 100, H = 80;

// The 2 x 2 picture: bottom-up rows of blue, green, red, padded to four bytes.
std::vector<char> DibPixels() {
  const unsigned char bytes[16] = {
      255, 255, 0, 0, 0, 0, 0, 0,    // bottom row: cyan, black
      0, 255, 255, 255, 0, 255, 0, 0,  // top row: yellow, magenta
  };
  return std::vector<char>(bytes, bytes + 16);
}

// The pens and brushes of both formats, by their place in the object lists.
enum Object { kNullPen, kBlackPen, kWidePen, kWhite, kRed, kGreen, kBlue, kMagenta, kObjects };
struct PenSpec {
  uint16_t style, width;
  uint8_t r, g, b;
};
const PenSpec kPens[] = {{U_PS_NULL, 0, 0, 0, 0}, {U_PS_SOLID, 1, 0, 0, 0}, {U_PS_SOLID, 3, 0, 0, 255}};
const uint8_t kBrushes[][3] = {{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 0, 255}};

U_BITMAPINFO DibInfo() {
  U_BITMAPINFO bmi{};
  bmi.bmiHeader = bitmapinfoheader_set(2, 2, 1, 24, U_BI_RGB, 16, 3780, 3780, 0, 0);
  return bmi;
}

bool Check(int rc, const char* what) {
  if (rc) std::fprintf(stderr, "uemf_metafiles: %s failed (%d)\n", what, rc);
  return rc == 0;
}

bool Add(char* rec, EMFTRACK* et) {
  return rec && Check(emf_append(reinterpret_cast<U_ENHMETARECORD*>(rec), et, 1), "emf_append");
}

bool WriteEmf(const std::string& name) {
  EMFTRACK* et = nullptr;
  EMFHANDLES* eht = nullptr;
  if (!Check(emf_start(name.c_str(), 4096, 4096, &et), "emf_start")) return false;
  if (!Check(emf_htable_create(16, 16, &eht), "emf_htable_create")) return false;
  // A reference device of exactly 96 pixels an inch: 960 pixels on 254 mm.
  U_RECTL bounds = rectl_set(point32_set(0, 0), point32_set(W - 1, H - 1));
  U_RECTL frame = rectl_set(point32_set(0, 0), point32_set(W * 2540 / 96 + 1, H * 2540 / 96 + 1));
  bool ok = Add(U_EMRHEADER_set(bounds, frame, nullptr, 0, nullptr, sizel_set(960, 960), sizel_set(254, 254), 0), et);
  uint32_t ih[kObjects] = {};
  for (int i = kNullPen; i <= kWidePen; ++i) {
    const PenSpec& pen = kPens[i];
    ok = ok && Add(createpen_set(&ih[i], eht, logpen_set(pen.style, point32_set(pen.width, 0), U_RGB(pen.r, pen.g, pen.b))), et);
  }
  for (int i = kWhite; i <= kMagenta; ++i) {
    const uint8_t* c = kBrushes[i - kWhite];
    ok = ok && Add(createbrushindirect_set(&ih[i], eht, logbrush_set(U_BS_SOLID, U_RGB(c[0], c[1], c[2]), 0)), et);
  }
  auto use = [&](Object o) { return Add(selectobject_set(ih[o], eht), et); };
  // The white ground.
  ok = ok && use(kNullPen) && use(kWhite);
  ok = ok && Add(U_EMRRECTANGLE_set(rectl_set(point32_set(0, 0), point32_set(W + 1, H + 1))), et);
  // The rectangle and the ellipse.
  ok = ok && use(kBlackPen) && use(kRed);
  ok = ok && Add(U_EMRRECTANGLE_set(rectl_set(point32_set(10, 10), point32_set(40, 35))), et);
  ok = ok && use(kNullPen) && use(kGreen);
  ok = ok && Add(U_EMRELLIPSE_set(rectl_set(point32_set(50, 8), point32_set(90, 38))), et);
  // The wide polyline.
  U_POINT16 line[3] = {point16_set(10, 50), point16_set(40, 50), point16_set(40, 70)};
  ok = ok && use(kWidePen);
  ok = ok && Add(U_EMRPOLYLINE16_set(rectl_set(point32_set(8, 48), point32_set(42, 72)), 3, line), et);
  // The DIB.
  U_BITMAPINFO bmi = DibInfo();
  std::vector<char> px = DibPixels();
  ok = ok && Add(U_EMRSTRETCHDIBITS_set(rectl_set(point32_set(56, 44), point32_set(71, 59)), point32_set(56, 44),
                                        point32_set(16, 16), point32_set(0, 0), point32_set(2, 2), U_DIB_RGB_COLORS,
                                        U_SRCCOPY, &bmi, static_cast<uint32_t>(px.size()), px.data()),
                 et);
  // The triangle as a filled path.
  U_POINT16 tri[3] = {point16_set(87, 42), point16_set(99, 78), point16_set(75, 78)};
  U_RECTL triBox = rectl_set(point32_set(75, 42), point32_set(99, 78));
  ok = ok && use(kNullPen) && use(kBlue);
  ok = ok && Add(U_EMRBEGINPATH_set(), et) && Add(U_EMRPOLYGON16_set(triBox, 3, tri), et) &&
       Add(U_EMRENDPATH_set(), et) && Add(U_EMRFILLPATH_set(triBox), et);
  // The pie: a quarter from the right radial round to the top one.
  ok = ok && use(kMagenta);
  ok = ok && Add(U_EMRPIE_set(rectl_set(point32_set(2, 60), point32_set(22, 80)), point32_set(30, 70),
                              point32_set(12, 50)),
                 et);
  ok = ok && Add(U_EMREOF_set(0, nullptr, et), et);
  ok = ok && Check(emf_finish(et, eht), "emf_finish");
  emf_free(&et);
  emf_htable_free(&eht);
  return ok;
}

bool Add(char* rec, WMFTRACK* wt) {
  return rec && Check(wmf_append(reinterpret_cast<U_METARECORD*>(rec), wt, 1), "wmf_append");
}

bool WriteWmf(const std::string& name, bool placeable) {
  WMFTRACK* wt = nullptr;
  WMFHANDLES* wht = nullptr;
  if (!Check(wmf_start(name.c_str(), 4096, 4096, &wt), "wmf_start")) return false;
  if (!Check(wmf_htable_create(16, 16, &wht), "wmf_htable_create")) return false;
  // The placeable box in inches at 96 units an inch: (0, 0)-(100, 80).
  U_PAIRF size{float(W) / 96, float(H) / 96};
  char* header = U_WMRHEADER_set(placeable ? &size : nullptr, 96);
  bool ok = header && Check(wmf_header_append(reinterpret_cast<U_METARECORD*>(header), wt, 1), "wmf_header_append");
  ok = ok && Add(U_WMRSETWINDOWORG_set(point16_set(0, 0)), wt);
  ok = ok && Add(U_WMRSETWINDOWEXT_set(point16_set(W, H)), wt);
  uint32_t ih[kObjects] = {};
  for (int i = kNullPen; i <= kWidePen; ++i) {
    const PenSpec& pen = kPens[i];
    ok = ok && Add(wcreatepenindirect_set(&ih[i], wht, U_PEN_set(pen.style, pen.width, U_RGB(pen.r, pen.g, pen.b))), wt);
  }
  for (int i = kWhite; i < kMagenta; ++i) {
    const uint8_t* c = kBrushes[i - kWhite];
    ok = ok && Add(wcreatebrushindirect_set(&ih[i], wht, U_WLOGBRUSH_set(U_BS_SOLID, U_RGB(c[0], c[1], c[2]), 0)), wt);
  }
  auto use = [&](Object o) { return Add(wselectobject_set(ih[o], wht), wt); };
  ok = ok && use(kNullPen) && use(kWhite);
  ok = ok && Add(U_WMRRECTANGLE_set(U_RECT16_set(point16_set(0, 0), point16_set(W + 1, H + 1))), wt);
  ok = ok && use(kBlackPen) && use(kRed);
  ok = ok && Add(U_WMRRECTANGLE_set(U_RECT16_set(point16_set(10, 10), point16_set(40, 35))), wt);
  ok = ok && use(kNullPen) && use(kGreen);
  ok = ok && Add(U_WMRELLIPSE_set(U_RECT16_set(point16_set(50, 8), point16_set(90, 38))), wt);
  U_POINT16 line[3] = {point16_set(10, 50), point16_set(40, 50), point16_set(40, 70)};
  ok = ok && use(kWidePen) && Add(U_WMRPOLYLINE_set(3, line), wt);
  U_BITMAPINFO bmi = DibInfo();
  std::vector<char> px = DibPixels();
  ok = ok && Add(U_WMRSTRETCHDIB_set(point16_set(56, 44), point16_set(16, 16), point16_set(0, 0), point16_set(2, 2),
                                     U_DIB_RGB_COLORS, U_SRCCOPY, &bmi, static_cast<uint32_t>(px.size()), px.data()),
                 wt);
  U_POINT16 tri[3] = {point16_set(87, 42), point16_set(99, 78), point16_set(75, 78)};
  ok = ok && use(kNullPen) && use(kBlue);
  ok = ok && Add(U_WMRPOLYGON_set(3, tri), wt);
  ok = ok && Add(U_WMREOF_set(), wt);
  ok = ok && Check(wmf_finish(wt), "wmf_finish");
  wmf_free(&wt);
  wmf_htable_free(&wht);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: uemf_metafiles <folder>\n");
    return 2;
  }
  std::string dir = argv[1];
  bool ok = WriteEmf(dir + "/shapes.emf") && WriteWmf(dir + "/shapes.wmf", true) &&
            WriteWmf(dir + "/plain.wmf", false);
  return ok ? 0 : 1;
}
