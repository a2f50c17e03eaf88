#pragma once
// A vector view without a form, and objects of every kind to put in it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_bitmap_compare.h"
#include "imaging/core/ie_canvas.h"
#include "imaging/extras/extras_registration.h"
#include "imaging/extras/vector/image_lib_vect.h"
#include "imaging/formats/format_filters.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/ui_test_support.h"
#include "tests/imaging/io/io_test_support.h"

inline std::vector<int> R4(const TRect& r) { return {r.left, r.top, r.right, r.bottom}; }

// A white 24-bit framework bitmap.
inline std::unique_ptr<TBitmap> WhiteDib(int w, int h) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(w, h);
  b->Canvas()->Brush()->SetColor(clWhite);
  b->Canvas()->FillRect(TRect{0, 0, w, h});
  return b;
}

class VectTest : public UiTest {
protected:
  void SetUp() override {
    UiTest::SetUp();
    RegisterFormatFilters();
    qvtest::EnsureImageIO();
    RegisterImagingExtras();
    ResetGdiPlusState();
    vect = std::make_unique<TImageLibVect>(nullptr);
  }
  void TearDown() override {
    vect.reset();
    UiTest::TearDown();
  }
  static std::unique_ptr<TIEVObject> Obj(TIEVKind kind, int x1, int y1, int x2, int y2) {
    auto o = std::make_unique<TIEVObject>();
    o->Kind = kind;
    o->X1 = x1;
    o->Y1 = y1;
    o->X2 = x2;
    o->Y2 = y2;
    return o;
  }
  static LOGFONTA Font(const char* face, int height, int escapement = 0) {
    LOGFONTA lf{};
    lf.lfHeight = height;
    lf.lfWeight = 400;
    lf.lfEscapement = escapement;
    lf.lfOrientation = escapement;
    std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    return lf;
  }
  int Add(const TIEVObject& o) { return vect->AddObjectRec(o); }
  // A small picture with a colour gradient and a half-transparent corner.
  static std::unique_ptr<TIEBitmap> Picture(int w, int h, int seed) {
    auto b = std::make_unique<TIEBitmap>(w, h, ie24RGB);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t* p = b->ScanLine(y) + 3 * x;
        p[0] = uint8_t(x * 16 + seed);
        p[1] = uint8_t(y * 16);
        p[2] = uint8_t(200 - seed);
      }
    for (int y = 0; y < h / 2; ++y)
      for (int x = 0; x < w / 2; ++x) b->AlphaChannel()->SetPixel8(x, y, 128);
    return b;
  }
  // One object of every kind, with the fields each kind stores.
  void AddEveryKind() {
    auto line = Obj(ievkLine, 10, 10, 90, 40);
    line->BeginShape = 1;
    line->EndShape = 2;
    line->PenWidth = 3;
    line->PenColor = 0x0000C0;
    Add(*line);
    auto box = Obj(ievkBox, 100, 10, 150, 50);
    box->BrushStyle = bsSolid;
    box->BrushColor = 0x80FF80;
    box->Transparency = 128;
    box->SoftShadow.Enabled = true;
    Add(*box);
    auto ellipse = Obj(ievkEllipse, 160, 10, 220, 60);
    ellipse->PenColor = 0xC00000;
    ellipse->PenWidth = 2;
    Add(*ellipse);
    auto arc = Obj(ievkArc, 10, 60, 70, 110);
    arc->StartAngle = 0.5;
    arc->EndAngle = 3.5;
    Add(*arc);
    auto pic = Picture(8, 6, 1);
    auto bitmap = Obj(ievkBitmap, 80, 60, 120, 100);
    bitmap->BitmapOption = true;
    bitmap->PenWidth = 2;
    const int b = Add(*bitmap);
    vect->SetObjBitmap(b, pic.get());
    auto text = Obj(ievkText, 130, 60, 230, 90);
    text->Text = "Hello";
    text->Font = std::make_unique<LOGFONTA>(Font("Liberation Sans", -16));
    text->TextAlign = 2;
    text->PenStyle = psClear;
    Add(*text);
    auto ruler = Obj(ievkRuler, 10, 130, 200, 130);
    ruler->RulerType = 2;
    ruler->Font = std::make_unique<LOGFONTA>(Font("Liberation Sans", 10));
    Add(*ruler);
    auto poly = Obj(ievkPolyline, 0, 0, 0, 0);
    const int p = Add(*poly);
    for (auto pt : {TPoint{10, 150}, TPoint{40, 140}, TPoint{70, 170}, TPoint{30, 190}}) vect->AddPolylinePoint(p, pt.x, pt.y);
    vect->SetObjPolylineClosed(p, true);
    auto angle = Obj(ievkAngle, 0, 0, 0, 0);
    angle->AnglePoints[0] = TPoint{100, 190};
    angle->AnglePoints[1] = TPoint{130, 150};
    angle->AnglePoints[2] = TPoint{170, 190};
    angle->Font = std::make_unique<LOGFONTA>(Font("Liberation Sans", 9));
    Add(*angle);
    auto memo = Obj(ievkMemo, 180, 140, 260, 190);
    memo->Text = "two\nlines";
    memo->Font = std::make_unique<LOGFONTA>(Font("Liberation Sans", -12));
    memo->CharFormatIndex.assign(memo->Text.size() + 1, 0);
    memo->CharFormats.resize(1);
    memo->CharFormats[0].fill(7);
    memo->MemoFrame[0] = 5;
    Add(*memo);
    auto label = Obj(ievkLineLabel, 240, 20, 280, 60);
    label->Text = "label";
    label->Font = std::make_unique<LOGFONTA>(Font("Liberation Sans", -12));
    label->LabelBorder = 2;
    label->EndShape = 2;
    Add(*label);
  }
  std::unique_ptr<TImageLibVect> vect;
};
