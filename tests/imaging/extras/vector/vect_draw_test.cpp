// Drawing of vector objects: the frame, line ends, the AND fill, the work
// bitmap, bitmaps with borders, painting into bitmaps of every format, and a
// gallery of every kind for a person to look at.
#include <filesystem>

#include "imaging/io/image_lib_io.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/picture_file.h"
#include "vect_test_support.h"

std::string VectTestOutput(const std::string& name) {
  std::filesystem::path dir = std::filesystem::path(QV_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

namespace {


TRGB At(TBitmap& b, int x, int y) {
  const auto* p = static_cast<const uint8_t*>(b.ScanLine(y)) + 3 * x;
  return TRGB{p[0], p[1], p[2]};
}

TEST_F(VectTest, ALineEndArrowIsTheTriangleOfItsSizes) {
  auto line = Obj(ievkLine, 0, 0, 100, 0);
  line->BeginShape = 2;
  line->ShapeWidth = 10;
  line->ShapeHeight = 20;
  const int id = Add(*line);
  auto b = WhiteDib(120, 40);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, true);
  const TRect& d = vect->GetObjectRec(id)->DrawnRect;
  EXPECT_EQ(R4(d), R4(TRect{0, -5, 100, 5}));
  // The inverted form puts the base at the end point.
  vect->GetObjectRec(id)->BeginShape = 1;
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, true);
  EXPECT_EQ(R4(vect->GetObjectRec(id)->DrawnRect), R4(TRect{0, -5, 100, 5}));
}

TEST_F(VectTest, AnAndFilledBoxKeepsOnlyTheBrushChannelsAndAThinPen) {
  auto box = Obj(ievkBox, 10, 10, 29, 29);
  box->AndFill = true;
  box->PenWidth = 7;
  box->BrushColor = 0x0000FF;  // red
  const int id = Add(*box);
  auto b = WhiteDib(40, 40);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, true);
  EXPECT_EQ(vect->GetObjectRec(id)->PenWidth, 1);
  EXPECT_EQ(At(*b, 20, 20), (TRGB{0, 0, 255}));
  EXPECT_EQ(At(*b, 10, 10), (TRGB{0, 0, 255}));
  EXPECT_EQ(At(*b, 5, 5), (TRGB{255, 255, 255}));
  EXPECT_EQ(At(*b, 35, 20), (TRGB{255, 255, 255}));
}

TEST_F(VectTest, AnAndFillFarOutsideTheBitmapEnds) {
  auto box = Obj(ievkBox, -2147483000, -2147483000, 2147483000, 2147483000);
  box->AndFill = true;
  box->BrushColor = 0x00FF00;
  const int id = Add(*box);
  auto b = WhiteDib(16, 16);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, true);
  EXPECT_EQ(At(*b, 8, 8), (TRGB{0, 255, 0}));
}

TEST_F(VectTest, TranslucentTextGoesThroughTheWorkBitmapAndABoxDoesNot) {
  auto box = Obj(ievkBox, 2, 2, 20, 20);
  box->Transparency = 128;
  box->BrushStyle = bsSolid;
  box->BrushColor = 0;
  const int b1 = Add(*box);
  auto b = WhiteDib(40, 40);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, b1, true);
  EXPECT_EQ(vect->ObjWorkBitmap(), nullptr);
  const TRGB half = At(*b, 10, 10);
  EXPECT_NEAR(half.r, 127, 2);
  auto text = Obj(ievkText, 0, 0, 39, 20);
  text->Text = "W";
  text->Transparency = 128;
  const int t = Add(*text);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, t, true);
  ASSERT_NE(vect->ObjWorkBitmap(), nullptr);
  EXPECT_EQ(vect->ObjWorkBitmap()->Width(), 40);
}

TEST_F(VectTest, AnInvisibleObjectFiresNoEventAndIsNotDrawn) {
  auto box = Obj(ievkBox, 0, 0, 10, 10);
  box->Flags = ievfSelectable;
  box->BrushStyle = bsSolid;
  box->BrushColor = 0;
  const int id = Add(*box);
  int events = 0;
  vect->OnBeforeDrawObject = [&](TObject*, int, TBitmap*, const TRect&, bool, bool&) { ++events; };
  vect->OnAfterDrawObject = [&](TObject*, int, TBitmap*, const TRect&, bool, bool&) { ++events; };
  auto b = WhiteDib(20, 20);
  EXPECT_FALSE(vect->DrawObject(*vect->GetObjectRec(id), id, -1, false, 1, nullptr, false, false, *b));
  EXPECT_EQ(events, 0);
  EXPECT_EQ(At(*b, 5, 5), (TRGB{255, 255, 255}));
  vect->GetObjectRec(id)->Flags |= ievfVisible;
  EXPECT_TRUE(vect->DrawObject(*vect->GetObjectRec(id), id, -1, false, 1, nullptr, false, false, *b));
  EXPECT_EQ(events, 2);
}

TEST_F(VectTest, ObjectsOfOtherLayersAreLeftForTheirLayer) {
  auto box = Obj(ievkBox, 0, 0, 10, 10);
  box->Layer = 2;
  box->BrushStyle = bsSolid;
  box->BrushColor = 0;
  const int id = Add(*box);
  auto b = WhiteDib(20, 20);
  EXPECT_FALSE(vect->DrawObject(*vect->GetObjectRec(id), id, 0, false, 1, nullptr, false, false, *b));
  EXPECT_TRUE(vect->DrawObject(*vect->GetObjectRec(id), id, 2, false, 1, nullptr, false, false, *b));
}

TEST_F(VectTest, ABitmapWithABorderShowsThePenAroundIt) {
  auto pic = std::make_unique<TIEBitmap>(10, 10, ie24RGB);
  pic->Fill(0x00FF00);
  auto obj = Obj(ievkBitmap, 5, 5, 24, 24);
  obj->BitmapOption = true;
  obj->PenWidth = 3;
  obj->PenColor = 0xFF0000;  // blue
  const int id = Add(*obj);
  vect->SetObjBitmap(id, pic.get());
  auto b = WhiteDib(30, 30);
  vect->DrawObjectsToBitmap(true, *b, nullptr, -1, id, true);
  for (int x : {5, 6, 7}) EXPECT_EQ(At(*b, x, 15), (TRGB{255, 0, 0})) << x;
  EXPECT_EQ(At(*b, 8, 15), (TRGB{0, 255, 0}));
  EXPECT_EQ(At(*b, 4, 15), (TRGB{255, 255, 255}));
}

TEST_F(VectTest, PaintingIntoOtherFormatsKeepsUntouchedPixelsAndTheFormat) {
  auto box = Obj(ievkBox, 2, 2, 5, 5);
  box->BrushStyle = bsSolid;
  box->BrushColor = 0;
  box->PenColor = 0;
  Add(*box);
  struct Case {
    TIEBitmapFormat format;
  } cases[] = {{ie16g}, {ieRGB48}, {ieCMYK}, {ie8g}, {ie24RGB}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.format));
    TIEBitmap b(10, 10, c.format);
    // values a 24-bit round trip would not keep
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) {
        if (c.format == ie16g) b.SetPixel16(x, y, 1001);
        if (c.format == ieRGB48) b.SetPixelRGB48(x, y, TRGB48{1001, 2002, 3003});
        if (c.format == ieCMYK) b.SetPixelCMYK(x, y, TCMYK{10, 20, 30, 40});
        if (c.format == ie8g) b.SetPixel8(x, y, 77);
        if (c.format == ie24RGB) b.SetPixelRGB(x, y, TRGB{1, 2, 3});
      }
    vect->CopyObjectsToBitmap(b, true, true, false, -1, IEV_ALL_OBJECTS);
    EXPECT_EQ(b.PixelFormat(), c.format);
    EXPECT_EQ(b.GetPixelAsRGB(3, 3), (TRGB{0, 0, 0}));
    switch (c.format) {
      case ie16g: EXPECT_EQ(b.GetPixel16(8, 8), 1001); break;
      case ieRGB48: EXPECT_EQ(b.GetPixelRGB48(8, 8).b, 3003); break;
      case ieCMYK: EXPECT_EQ(b.GetPixelCMYK(8, 8).k, 40); break;
      case ie8g: EXPECT_EQ(b.GetPixel8(8, 8), 77); break;
      default: EXPECT_EQ(b.GetPixelRGB(8, 8), (TRGB{1, 2, 3})); break;
    }
  }
}

TEST_F(VectTest, PaintingWithAlphaGivesTheObjectsTheirOpacity) {
  auto box = Obj(ievkBox, 2, 2, 5, 5);
  box->BrushStyle = bsSolid;
  box->BrushColor = 0;
  box->Transparency = 200;
  Add(*box);
  TIEBitmap b(10, 10, ie16g);
  b.Fill(0);
  b.AlphaChannel()->Fill(0);
  vect->CopyObjectsToBitmap(b, true, true, true, -1, IEV_ALL_OBJECTS);
  EXPECT_NEAR(b.AlphaChannel()->GetPixel8(3, 3), 200, 1);
  EXPECT_EQ(b.AlphaChannel()->GetPixel8(8, 8), 0);
}

TEST_F(VectTest, GalleryOfEveryKindAtTwoZooms) {
  AddEveryKind();
  for (int zoom : {100, 250}) {
    const double z = zoom / 100.0;
    TIEBitmap b(int(300 * z), int(210 * z), ie24RGB);
    b.Fill(0xFFFFFF);
    // Objects drawn at the zoom: the view draws them in its own coordinates.
    for (int i = 0; i < vect->ObjectsCount(); ++i) {
      TIEVObject* r = vect->GetObjectRec(vect->GetObjFromIndex(i));
      (void)r;
    }
    TImageLibVect zoomed(nullptr);
    TMemoryStream s;
    vect->SaveObjectsToStream(s, IEV_ALL_OBJECTS);
    s.SetPosition(0);
    ASSERT_TRUE(zoomed.LoadObjectsFromStream(s, false));
    for (int i = 0; i < zoomed.ObjectsCount(); ++i) {
      TIEVObject* r = zoomed.GetObjectRec(zoomed.GetObjFromIndex(i));
      r->X1 = int(r->X1 * z);
      r->Y1 = int(r->Y1 * z);
      r->X2 = int(r->X2 * z);
      r->Y2 = int(r->Y2 * z);
      r->PenWidth = int(r->PenWidth * z + 0.5);
      if (r->Font) r->Font->lfHeight = int(r->Font->lfHeight * z);
      for (TPoint& p : r->AnglePoints) p = TPoint{int(p.x * z), int(p.y * z)};
    }
    zoomed.CopyObjectsToBitmap(b, true, false, false, -1, IEV_ALL_OBJECTS);
    TBitmap out;
    b.CopyToTBitmap(out);
    SavePicturePng(&out, VectTestOutput("vector_gallery_" + std::to_string(zoom) + ".png"));
    EXPECT_TRUE(std::filesystem::exists(VectTestOutput("vector_gallery_" + std::to_string(zoom) + ".png")));
  }
}

}  // namespace
