// Layers of the image view: the list operations, coordinates and grips, hit
// tests over transparency, composing positioned, masked and clipped layers,
// baking sizes and rotations, dragging with the mouse, and the layers stream
// (golden bytes, round trips, old versions and hostile streams).
#include <cmath>
#include <cstring>
#include <filesystem>

#include "imaging/core/ie_raw_stream.h"
#include "imaging/core/ie_stretch_merge.h"
#include "imaging/formats/format_filters.h"
#include "imaging/io/ie_filters.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/io/zlib_streams.h"
#include "platform/rtl/streams.h"
#include "platform/ui/forms.h"
#include "platform/ui/picture_file.h"
#include "tests/support/test_support.h"
#include "tests/imaging/io/io_test_support.h"
#include "view_test_support.h"

namespace {

class LayersTest : public ViewTest {
protected:
  void SetUp() override {
    ViewTest::SetUp();
    RegisterFormatFilters();
    qvtest::EnsureImageIO();
    RegisterLayersStream();
  }
  // Layer 0: a 40 x 30 pattern; then a 10 x 8 layer of one colour at (pos).
  int AddSolidLayer(int x, int y, int w, int h, TRGB colour) {
    const int i = view->AddLayer();
    TIEBitmap* b = view->GetIEBitmap();
    b->Allocate(w, h, ie24RGB);
    for (int yy = 0; yy < h; ++yy)
      for (int xx = 0; xx < w; ++xx) b->SetPixelRGB(xx, yy, colour);
    view->GetLayer(i)->PosX = x;
    view->GetLayer(i)->PosY = y;
    view->Update();
    return i;
  }
  void Setup3() {
    MakeView(200, 150);
    view->SetBackground(clWhite);
    ShowPattern(40, 30);
  }
};

TEST_F(LayersTest, ListOperations) {
  Setup3();
  EXPECT_EQ(view->GetLayersCount(), 1);
  view->RemoveLayer(0);  // the only layer stays
  EXPECT_EQ(view->GetLayersCount(), 1);
  const int a = AddSolidLayer(5, 5, 10, 8, MakeRGB(255, 0, 0));
  const int b = AddSolidLayer(7, 9, 10, 8, MakeRGB(0, 255, 0));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(view->CurrentLayer(), 2);
  EXPECT_EQ(view->GetIEBitmap(), view->GetLayer(2)->Bitmap());
  // Removing below the current one keeps the same layer current.
  view->RemoveLayer(1);
  EXPECT_EQ(view->GetLayersCount(), 2);
  EXPECT_EQ(view->CurrentLayer(), 1);
  EXPECT_EQ(view->GetIEBitmap()->GetPixelRGB(0, 0).g, 255);
  // Removing layer 0 makes the former layer 1 layer 0 and current.
  view->RemoveLayer(0);
  EXPECT_EQ(view->GetLayersCount(), 1);
  EXPECT_EQ(view->CurrentLayer(), 0);
  EXPECT_EQ(view->GetIEBitmap()->Width(), 10);
  // Honour flag: a layer that is not selectable is stepped past.
  AddSolidLayer(0, 0, 4, 4, MakeRGB(1, 2, 3));
  AddSolidLayer(0, 0, 4, 4, MakeRGB(4, 5, 6));
  view->GetLayer(2)->Selectable = false;
  view->SetCurrentLayer(0);
  view->SetCurrentLayer(2);
  EXPECT_EQ(view->CurrentLayer(), 1);
  view->SetHonourSelectable(false);
  view->SetCurrentLayer(2);
  EXPECT_EQ(view->CurrentLayer(), 2);
  view->SetCurrentLayer(7);  // out of range: ignored
  EXPECT_EQ(view->CurrentLayer(), 2);
  view->ClearLayers();
  EXPECT_EQ(view->GetLayersCount(), 1);
  EXPECT_EQ(view->CurrentLayer(), 0);
  EXPECT_TRUE(view->GetLayer(0)->Locked);
  EXPECT_FALSE(view->GetLayer(0)->VisibleBox);
}

TEST_F(LayersTest, RotateStoresWholeTurnsAsZero) {
  TIELayer l(nullptr, false, nullptr);
  const struct {
    double in, out;
  } cases[] = {{720, 0}, {720.5, 720.5}, {-360, 0}, {45, 45}, {360.0001, 360.0001}};
  for (auto c : cases) {
    l.SetRotate(c.in);
    EXPECT_EQ(l.Rotate(), c.out) << c.in;
  }
}

TEST_F(LayersTest, ScreenRectanglesGripsAndHitTests) {
  Setup3();
  view->SetZoom(200);
  const int i = AddSolidLayer(10, 5, 10, 8, MakeRGB(255, 0, 0));
  Paint();
  TIELayer* l = view->GetLayer(i);
  const int ox = view->OffsetX(), oy = view->OffsetY();
  EXPECT_EQ(l->ScreenRect[0], ox + 20);
  EXPECT_EQ(l->ScreenRect[1], oy + 10);
  EXPECT_EQ(l->ScreenRect[2], ox + 40);
  EXPECT_EQ(l->ScreenRect[3], oy + 26);
  const auto g = view->LayerGripRects(i);
  EXPECT_EQ(g[0].left, ox + 20 - 5);
  EXPECT_EQ(g[2].right, ox + 40 + 5);
  EXPECT_EQ(g[4].top, oy + 18 - 5);  // middle of the left side
  EXPECT_EQ(g[6].left, ox + 30 - 5);  // middle of the top
  view->SetMouseInteract(TIEMouseInteract{miResizeLayers});
  EXPECT_EQ(view->LayerGripAt(ox + 40, oy + 26), 3);
  EXPECT_EQ(view->LayerGripAt(ox + 30, oy + 18), 0);
  EXPECT_EQ(view->LayerAt(ox + 30, oy + 18), i);
  EXPECT_EQ(view->LayerAt(ox + 2, oy + 2), 0);
  EXPECT_EQ(view->LayerAt(-50, -50), -1);
  // A transparent pixel of the top layer shows the layer below...
  TIEBitmap* b = l->Bitmap();
  b->AlphaChannel()->Fill(255);
  b->AlphaChannel()->SetPixel8(5, 4, 0);
  b->AlphaChannel()->SetFull(false);
  view->Update();
  Paint();
  EXPECT_EQ(view->LayerAt(ox + 31, oy + 19), 0);
  // ...unless transparent layers are picked too.
  view->SetSelectionOptions(view->SelectionOptions() + iesoSelectTranspLayers);
  EXPECT_EQ(view->LayerAt(ox + 31, oy + 19), i);
  // Turned: the grips are the outline's corners and side middles.
  view->GetLayer(i)->SetRotate(90);
  view->Update();
  Paint();
  const auto t = view->LayerGripRects(i);
  EXPECT_EQ(t[0].left + 5, l->Outline[0]);
  EXPECT_EQ(t[5].top + 5, (l->Outline[3] + l->Outline[5]) / 2);
  EXPECT_TRUE(view->IsPointOnLayer((l->Outline[0] + l->Outline[4]) / 2, (l->Outline[1] + l->Outline[5]) / 2, i));
}

TEST_F(LayersTest, ComposedLayersMatchTheirOwnCompositing) {
  // Three layers at 100 %: positioned, half opaque and masked by a mask layer,
  // against the same pictures merged by the alpha merge.
  Setup3();
  const int a = AddSolidLayer(5, 4, 12, 10, MakeRGB(200, 40, 10));
  view->GetLayer(a)->Transparency = 128;
  const int b = AddSolidLayer(20, 10, 15, 12, MakeRGB(10, 220, 90));
  const int m = view->AddLayer();  // the mask of b: left half open
  TIEBitmap* mb = view->GetIEBitmap();
  mb->Allocate(15, 12, ie8g);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 15; ++x) mb->SetPixel8(x, y, x < 7 ? 255 : 0);
  view->GetLayer(m)->PosX = 20;
  view->GetLayer(m)->PosY = 10;
  view->GetLayer(m)->IsMask = true;
  view->GetLayer(m)->Visible = false;
  view->Update();
  TIEBitmap flat;
  view->LayersDrawToChecked(flat);
  ASSERT_EQ(flat.Width(), 40);
  ASSERT_EQ(flat.Height(), 30);
  TIEBitmap expect;
  expect.Assign(view->GetLayer(0)->Bitmap());
  TIEBitmap la;
  la.Assign(view->GetLayer(a)->Bitmap());
  MergeWithAlpha(expect, la, 5, 4, -1, -1, 0, 0, false, rfNone, iebmNormal, 128);
  TIEBitmap lb;
  lb.Assign(view->GetLayer(b)->Bitmap());
  TIEBitmap* lba = lb.AlphaChannel();
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 15; ++x) lba->SetPixel8(x, y, x < 7 ? 255 : 0);
  lba->SetFull(false);
  MergeWithAlpha(expect, lb, 20, 10);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const TRGB p = flat.GetPixelRGB(x, y), q = expect.GetPixelRGB(x, y);
      ASSERT_LE(std::abs(p.r - q.r), 1) << x << "," << y;
      ASSERT_LE(std::abs(p.g - q.g), 1) << x << "," << y;
      ASSERT_LE(std::abs(p.b - q.b), 1) << x << "," << y;
    }
  // Far positions are refused rather than allocated.
  view->GetLayer(a)->PosX = 2000000000;
  TIEBitmap far;
  EXPECT_FALSE(view->LayersDrawToChecked(far));
  EXPECT_TRUE(far.IsEmpty());
}

TEST_F(LayersTest, ClippingModesAndScreenshot) {
  Setup3();
  view->SetBackgroundStyle(iebsChessboard);
  view->SetZoom(300);
  const int a = AddSolidLayer(25, 15, 30, 20, MakeRGB(250, 200, 0));
  view->GetLayer(a)->Cropped = false;
  const int r = AddSolidLayer(-5, 18, 12, 12, MakeRGB(0, 90, 250));
  view->GetLayer(r)->SetRotate(30);
  view->SetMouseInteract(TIEMouseInteract{miMoveLayers, miResizeLayers});
  view->SetCurrentLayer(a);
  for (int mode : {0, 2, 3}) {
    view->SetLayerClipMode(mode);
    Paint();
    SavePicturePng(form->Backing(), ViewTestOutput("view_layers_clip" + std::to_string(mode) + ".png"));
  }
  // Mode 2 checkers the outside of layer 0 grey 128, mode 3 lightens it.
  const TIELayer* l0 = view->GetLayer(0);
  const int outsideX = l0->ScreenRect[2] + 3, y = l0->ScreenRect[1] + 20;
  view->SetLayerClipMode(2);
  Paint();
  const TColor c1 = Shown(outsideX, y), c2 = Shown(outsideX + 1, y);
  EXPECT_TRUE(c1 == 0x808080 || c2 == 0x808080);
}

TEST_F(LayersTest, BakingSizesAndRotations) {
  Setup3();
  const int i = AddSolidLayer(10, 10, 20, 10, MakeRGB(255, 0, 0));
  TIELayer* l = view->GetLayer(i);
  l->Width = 40;
  l->Height = 5;
  view->ApplyLayerSizes(i);
  EXPECT_EQ(l->Bitmap()->Width(), 40);
  EXPECT_EQ(l->Bitmap()->Height(), 5);
  EXPECT_EQ(l->Width, 0);
  l->SetRotate(90);
  view->ApplyLayerRotations(i);
  EXPECT_EQ(l->Rotate(), 0);
  EXPECT_EQ(l->Bitmap()->Width(), 5);
  EXPECT_EQ(l->Bitmap()->Height(), 40);
  // Turned about its centre (30, 12.5): the 40 x 5 strip stands 5 x 40 there.
  EXPECT_NEAR(l->PosX, 10 + 20 - 2, 1);
  EXPECT_NEAR(l->PosY, 10 + 2 - 20, 1);
}

TEST_F(LayersTest, DraggingMovesResizesAndRotatesWithEvents) {
  Setup3();
  const int i = AddSolidLayer(10, 10, 10, 10, MakeRGB(255, 0, 0));
  std::vector<int> events;
  view->OnLayerNotify = [&](TObject*, int, int e) { events.push_back(e); };
  view->SetMouseInteract(TIEMouseInteract{miMoveLayers});
  Paint();
  const int ox = view->OffsetX(), oy = view->OffsetY();
  headless::MouseDown(view, ox + 15, oy + 15, mbLeft, {});
  headless::ProcessMessages();
  headless::MouseMove(view, ox + 20, oy + 17, {});
  headless::ProcessMessages();
  headless::MouseUp(view, ox + 20, oy + 17, mbLeft, {});
  headless::ProcessMessages();
  EXPECT_EQ(view->GetLayer(i)->PosX, 15);
  EXPECT_EQ(view->GetLayer(i)->PosY, 12);
  EXPECT_EQ(events, (std::vector<int>{0, 8, 3, 1}));
  // Resize by the bottom-right grip.
  events.clear();
  view->SetMouseInteract(TIEMouseInteract{miResizeLayers});
  Paint();
  const TIELayer* l = view->GetLayer(i);
  headless::MouseDown(view, l->ScreenRect[2], l->ScreenRect[3], mbLeft, {});
  headless::ProcessMessages();
  headless::MouseMove(view, l->ScreenRect[2] + 6, l->ScreenRect[3] + 4, {});
  headless::ProcessMessages();
  headless::MouseUp(view, l->ScreenRect[2], l->ScreenRect[3], mbLeft, {});
  headless::ProcessMessages();
  EXPECT_EQ(l->GetDisplayWidth(), 16);
  EXPECT_EQ(l->GetDisplayHeight(), 14);
  EXPECT_EQ(events.front(), 7);
  EXPECT_EQ(events.back(), 2);
  // Rotate with Shift: snapped to 45 degrees; a snap of 0 leaves the angle.
  events.clear();
  view->SetMouseInteract(TIEMouseInteract{miRotateLayers});
  Paint();
  headless::MouseDown(view, 150, 5, mbLeft, {});
  headless::ProcessMessages();
  headless::MouseMove(view, 150 + 150, 5, TShiftState{ssShift});
  headless::ProcessMessages();
  const double snapped = view->GetLayer(i)->Rotate();
  EXPECT_EQ(std::fmod(snapped, 45.0), 0.0);
  headless::MouseUp(view, 300, 5, mbLeft, TShiftState{ssShift});
  headless::ProcessMessages();
  EXPECT_EQ(events.back(), 6);
  view->SetRotationSnap(0);
  EXPECT_EQ(view->SnapRotation(33.3), 33.3);
}

TEST_F(LayersTest, MagnifierShowsLayerZeroEnlarged) {
  Setup3();
  const int m = AddSolidLayer(10, 10, 20, 20, MakeRGB(0, 0, 0));
  TIELayer* l = view->GetLayer(m);
  l->Magnify.Enabled = true;
  l->Magnify.Rate = 2;
  l->Magnify.Source = 0;
  l->Magnify.Shape = 1;
  view->Update();
  Paint();
  TIEBitmap* b = l->Bitmap();
  ASSERT_EQ(b->Width(), 20);
  // The 10 x 10 pixels around the centre (20, 20), twice as large.
  EXPECT_EQ(ColorOf(b->GetPixelRGB(10, 10)), ColorOf(PatternPixel(20, 20)));
  EXPECT_EQ(ColorOf(b->GetPixelRGB(2, 10)), ColorOf(PatternPixel(16, 20)));
  EXPECT_EQ(b->GetAlpha(0, 0), 0);  // outside the ellipse
  EXPECT_EQ(b->GetAlpha(10, 10), 255);
}

TEST_F(LayersTest, PixelGridFromFourHundredPercentOnly) {
  MakeView(200, 150);
  Pattern(*view->GetIEBitmap(), 10, 10);
  view->GetIEBitmap()->Fill(0xFFFFFF);
  view->Update();
  view->SetShowPixelGrid(true);
  for (double zoom : {300.0, 400.0, 800.0}) {
    view->SetZoom(zoom);
    Paint();
    const int ox = view->OffsetX(), oy = view->OffsetY();
    const int step = int(zoom / 100);
    // Inside a cell the picture's white; on a cell's edge the inverted line, from 400 % up.
    EXPECT_EQ(Shown(ox + step / 2, oy + step / 2 + step), clWhite) << zoom;
    EXPECT_EQ(Shown(ox + step, oy + step / 2 + step) == clBlack, zoom >= 400) << zoom;
  }
  SavePicturePng(form->Backing(), ViewTestOutput("view_pixel_grid.png"));
}

TEST_F(LayersTest, NavigatorFrameDarkensOutsideItsRectangle) {
  MakeView(200, 150, 420, 170);
  view->GetIEBitmap()->Allocate(400, 300, ie24RGB);
  view->GetIEBitmap()->Fill(0xFFFFFF);
  view->Update();
  auto* nav = new TImageLibView(form);
  nav->SetParent(form);
  nav->SetBorderStyle(bsNone);
  nav->SetBounds(210, 0, 200, 150);
  headless::ProcessMessages();
  view->SetNavigator(nav, 2);
  view->SetZoom(100);
  view->Update();
  view->SyncNavigator();
  nav->Invalidate();
  headless::ProcessMessages();
  nav->Invalidate();
  headless::ProcessMessages();
  SavePicturePng(form->Backing(), ViewTestOutput("view_navigator_frame.png"));
  ASSERT_TRUE(nav->Selected());
  int bl = 0, bt = 0, br = 0, bb = 0;
  nav->SelectedRect(bl, bt, br, bb);
  const TRect r = Rect(nav->BitmapToScreenX(bl), nav->BitmapToScreenY(bt), nav->BitmapToScreenX(br),
                       nav->BitmapToScreenY(bb));
  ASSERT_GT(r.right, r.left);
  const auto shownNav = [&](int x, int y) { return form->Backing()->Canvas()->Pixels(nav->Left() + x, nav->Top() + y); };
  // Inside the frame white; outside, over the picture, white darkened to 105.
  EXPECT_EQ(shownNav((r.left + r.right) / 2, (r.top + r.bottom) / 2), clWhite);
  const TIELayer* l = nav->GetLayer(0);
  EXPECT_EQ(shownNav(l->ScreenRect[2] - 2, l->ScreenRect[3] - 2), TColor(0x696969));
}

// ---- the layers stream ----

void PutI32(std::vector<uint8_t>& v, int32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(uint32_t(x) >> (8 * i)));
}
void PutF64(std::vector<uint8_t>& v, double d) {
  uint8_t b[8];
  std::memcpy(b, &d, 8);
  v.insert(v.end(), b, b + 8);
}

// One record of the given version; position is patched by the caller at the returned offset.
size_t PutRecord(std::vector<uint8_t>& v, int version, int posX, const std::string& name, bool mask) {
  v.insert(v.end(), {1, 0});
  PutI32(v, 255);
  PutI32(v, posX);
  PutI32(v, 3);
  v.insert(v.end(), {0, 0, 0});
  PutF64(v, 2.0);
  v.push_back(0);
  if (version > 2) v.push_back(1);
  v.push_back(0);
  PutI32(v, 0);
  PutI32(v, 0);
  if (version > 2) {
    v.insert(v.end(), {0, 0});
    PutI32(v, int32_t(name.size()));
    v.insert(v.end(), name.begin(), name.end());
    PutI32(v, 0);
    v.push_back(mask ? 1 : 0);
  }
  if (version > 3) v.push_back(1);
  if (version > 5) v.push_back(0);
  const size_t at = v.size();
  PutI32(v, 0);
  PutI32(v, 0);
  return at;
}

std::vector<uint8_t> Header(int version, int code, int count) {
  std::vector<uint8_t> v = {'V', 'I', 'V', 'A', 'D', 'I', 'Z', 'E', 'R', 'U', 'V', 'E', 'Z'};
  PutI32(v, version);
  PutI32(v, code);
  PutI32(v, count);
  return v;
}

void AppendRawBitmap(std::vector<uint8_t>& v, size_t entry, TIEBitmap& b) {
  const int32_t at = int32_t(v.size());
  std::memcpy(v.data() + entry, &at, 4);
  const std::vector<uint8_t> raw = SaveRawToBytes(b);
  PutI32(v, int32_t(raw.size()));
  v.insert(v.end(), raw.begin(), raw.end());
}

TEST_F(LayersTest, SingleLayerRawStreamHasTheGoldenBytes) {
  Setup3();
  TMemoryStream s;
  view->SaveLayersToStream(s, -2);
  std::vector<uint8_t> expect = Header(6, -2, 1);
  // Layer 0 as the view keeps it: visible, no box, opaque, at (0, 0), locked.
  expect.insert(expect.end(), {1, 0});
  PutI32(expect, 255);
  PutI32(expect, 0);
  PutI32(expect, 0);
  expect.insert(expect.end(), {0, 1, 0});
  PutF64(expect, 2.0);
  expect.insert(expect.end(), {0, 1, 0});
  PutI32(expect, 0);
  PutI32(expect, 0);
  expect.insert(expect.end(), {0, 0});
  PutI32(expect, 0);
  PutI32(expect, 0);
  expect.insert(expect.end(), {0, 1, 0});
  const size_t entry = expect.size();
  PutI32(expect, 0);
  PutI32(expect, 0);
  AppendRawBitmap(expect, entry, *view->GetLayer(0)->Bitmap());
  std::vector<uint8_t> got(size_t(s.Size()));
  std::memcpy(got.data(), s.Memory(), got.size());
  ASSERT_EQ(got.size(), expect.size());
  EXPECT_EQ(got, expect);
  s.SetPosition(0);
  EXPECT_TRUE(TImageLibView::IsLayersStream(s));
  EXPECT_TRUE(view->LoadLayersFromStream(s));
}

TEST_F(LayersTest, RoundTripsInEveryCompression) {
  for (int code : {-1, -2, 8, 3, 1}) {
    Setup3();
    const int a = AddSolidLayer(-4, 6, 9, 7, MakeRGB(10, 200, 30));
    view->GetLayer(a)->Name = "first layer";
    view->GetLayer(a)->Transparency = 99;
    const int m = view->AddLayer();
    TIEBitmap* mb = view->GetIEBitmap();
    mb->Allocate(9, 7, ie8g);
    mb->Fill(200);
    view->GetLayer(m)->IsMask = true;
    const uint8_t user[3] = {7, 8, 9};
    view->GetLayer(m)->SetUserDataCopy(user, 3);
    TMemoryStream s;
    view->SaveLayersToStream(s, code);
    const TRGB corner = view->GetLayer(0)->Bitmap()->GetPixelRGB(3, 3);
    view->ClearLayers();
    s.SetPosition(0);
    ASSERT_TRUE(view->LoadLayersFromStream(s)) << code;
    ASSERT_EQ(view->GetLayersCount(), 3) << code;
    EXPECT_EQ(view->GetLayer(a)->Name, "first layer");
    EXPECT_EQ(view->GetLayer(a)->PosX, -4);
    EXPECT_EQ(view->GetLayer(a)->Transparency, 99);
    EXPECT_TRUE(view->GetLayer(m)->IsMask);
    ASSERT_EQ(view->GetLayer(m)->UserDataLen, 3);
    EXPECT_EQ(static_cast<uint8_t*>(view->GetLayer(m)->UserData)[2], 9);
    EXPECT_EQ(view->GetLayer(m)->Bitmap()->Width(), 9);
    const TRGB back = view->GetLayer(0)->Bitmap()->GetPixelRGB(3, 3);
    const int tolerance = code == 3 ? 40 : 0;  // JPEG
    EXPECT_LE(std::abs(back.g - corner.g), tolerance) << code;
    if (code != 3) {
      EXPECT_EQ(view->GetLayer(m)->Bitmap()->GetPixel8(4, 4), 200) << code;
    }
  }
}

TEST_F(LayersTest, OlderVersionsAreRead) {
  for (int version : {2, 3, 5}) {
    Setup3();
    std::vector<uint8_t> v = Header(version, -2, 2);
    const size_t e0 = PutRecord(v, version, 0, "base", false);
    const size_t e1 = PutRecord(v, version, 7, "top", false);
    TIEBitmap b0(6, 5, ie24RGB), b1(3, 3, ie24RGB);
    b0.Fill(0x102030);
    b1.Fill(0x405060);
    AppendRawBitmap(v, e0, b0);
    AppendRawBitmap(v, e1, b1);
    TMemoryStream s;
    s.WriteBuffer(v.data(), int64_t(v.size()));
    s.SetPosition(0);
    ASSERT_TRUE(view->LoadLayersFromStream(s)) << version;
    ASSERT_EQ(view->GetLayersCount(), 2);
    EXPECT_EQ(view->GetLayer(1)->PosX, 7);
    EXPECT_EQ(view->GetLayer(1)->Name, version > 2 ? "top" : "");
    EXPECT_EQ(view->GetLayer(1)->Magnify.Source, version > 2 ? 1 : 1);
    EXPECT_EQ(view->GetLayer(0)->Bitmap()->Width(), 6);
  }
}

TEST_F(LayersTest, HostileStreamsLeaveTheViewAsItWas) {
  Setup3();
  AddSolidLayer(3, 3, 5, 5, MakeRGB(1, 2, 3));
  TIEBitmap small(4, 4, ie24RGB);
  small.Fill(0);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"count 2^31", Header(6, -2, INT32_MIN)});
  cases.push_back({"count huge", Header(6, -2, 0x7FFFFFFF)});
  {
    std::vector<uint8_t> v = Header(6, -2, 1);
    PutRecord(v, 6, 0, "name", false);
    // The name's length claims more than there is.
    const size_t nameAt = 25 + 2 + 12 + 3 + 8 + 1 + 1 + 1 + 8 + 2;
    const int32_t huge = 1 << 30;
    std::memcpy(v.data() + nameAt, &huge, 4);
    cases.push_back({"name past the end", v});
  }
  {
    std::vector<uint8_t> v = Header(6, -2, 1);
    const size_t e = PutRecord(v, 6, 0, "x", false);
    const int64_t far = int64_t(1) << 40;
    std::memcpy(v.data() + e, &far, 8);
    cases.push_back({"position outside", v});
  }
  {
    std::vector<uint8_t> v = Header(6, -1, 1);
    const size_t e = PutRecord(v, 6, 0, "x", false);
    const int32_t at = int32_t(v.size());
    std::memcpy(v.data() + e, &at, 4);
    TMemoryStream zs;
    {
      TZCompressionStream c(&zs);
      SaveRawToStream(small, c);
      c.Finish();
    }
    const int64_t cut = zs.Size() / 2;
    PutI32(v, int32_t(cut));
    v.insert(v.end(), static_cast<uint8_t*>(zs.Memory()), static_cast<uint8_t*>(zs.Memory()) + cut);
    cases.push_back({"cut zlib data", v});
  }
  {
    std::vector<uint8_t> v = Header(6, -2, 2);
    const size_t e0 = PutRecord(v, 6, 0, "ok", false);
    const size_t e1 = PutRecord(v, 6, 0, "bad", false);
    AppendRawBitmap(v, e0, small);
    const int32_t at = int32_t(v.size());
    std::memcpy(v.data() + e1, &at, 4);
    PutI32(v, 1000);  // byte count past the end
    cases.push_back({"second layer cut", v});
  }
  cases.push_back({"wrong magic", std::vector<uint8_t>(40, 'V')});
  for (const Case& c : cases) {
    TMemoryStream s;
    s.WriteBuffer(c.bytes.data(), int64_t(c.bytes.size()));
    s.SetPosition(0);
    EXPECT_FALSE(view->LoadLayersFromStream(s)) << c.what;
    EXPECT_EQ(s.Position(), 0) << c.what;
    ASSERT_EQ(view->GetLayersCount(), 2) << c.what;
    EXPECT_EQ(view->GetLayer(1)->PosX, 3) << c.what;
    EXPECT_EQ(view->GetLayer(0)->Bitmap()->Width(), 40) << c.what;
  }
}

TEST_F(LayersTest, LayeredFilesLoadWithAndWithoutAView) {
  Setup3();
  AddSolidLayer(30, 20, 20, 20, MakeRGB(255, 0, 0));
  qvtest::TempDir dir;
  const std::string file = dir.File("three.lyr");
  view->SaveLayersToFile(file, -1);
  // No view attached: a temporary one flattens the layers into the picture.
  TIEBitmap picture;
  auto io = TImageLibIO::CreateForBitmap(&picture);
  io->LoadLayeredFile(std::wstring(file.begin(), file.end()), ioLYR);
  EXPECT_FALSE(io->Aborting());
  EXPECT_EQ(picture.Width(), 50);
  EXPECT_EQ(picture.Height(), 40);
  EXPECT_EQ(picture.GetPixelRGB(45, 35).r, 255);
  EXPECT_EQ(io->Params().FileType, ioLYR);
  // Detected by content.
  TFileStream f(file, fmOpenRead);
  EXPECT_TRUE(TImageLibView::IsLayersStream(f));
  // Through an attached view the layers themselves come back.
  view->ClearLayers();
  view->GetIO()->LoadLayeredFile(std::wstring(file.begin(), file.end()), ioLYR);
  EXPECT_FALSE(view->GetIO()->Aborting());
  EXPECT_EQ(view->GetLayersCount(), 2);
  // A broken file aborts and leaves the view as it was.
  qvtest::WriteFileBytes(dir.File("bad.lyr"), Header(6, -2, 5));
  const std::string bad = dir.File("bad.lyr");
  view->GetIO()->LoadLayeredFile(std::wstring(bad.begin(), bad.end()), ioLYR);
  EXPECT_TRUE(view->GetIO()->Aborting());
  EXPECT_EQ(view->GetLayersCount(), 2);
}

}  // namespace
