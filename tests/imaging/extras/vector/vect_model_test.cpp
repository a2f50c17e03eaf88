// The object model of the vector view: records, ids, selection, shared bitmaps,
// polylines, and the settings that measure.
#include <memory>

#include "vect_test_support.h"

namespace {

TEST_F(VectTest, SpecialIdsNameTheDefaultTheLastSlotOrNothing) {
  const int a = Add(*Obj(ievkBox, 0, 0, 5, 5));
  const int b = Add(*Obj(ievkLine, 0, 0, 5, 5));
  EXPECT_EQ(vect->GetObjectRec(IEV_DEFAULT_OBJECT)->X2, 63);
  EXPECT_EQ(vect->GetObjectRec(IEV_PREVIOUS_INSERTED_OBJECT), vect->GetObjectRec(b));
  EXPECT_NE(vect->GetObjectRec(a), nullptr);
  for (int id : {IEV_ALL_OBJECTS, IEV_NO_OBJECT, 2, 5000, -77}) EXPECT_EQ(vect->GetObjectRec(id), nullptr) << id;
}

TEST_F(VectTest, UnknownAndFreedIdsGiveNoRecordAndChangeNothing) {
  const int a = Add(*Obj(ievkText, 0, 0, 5, 5));
  vect->RemoveAllObjects();
  EXPECT_EQ(vect->GetObjectRec(a), nullptr);
  // None of these may touch memory that is not there.
  for (int id : {a, 12345, -5}) {
    vect->SetObjText(id, "x");
    vect->SetObjBitmapIndex(id, 0);
    vect->AddPolylinePoint(id, 1, 1);
    vect->SetObjPolylineClosed(id, true);
    vect->SetObjUserDataLen(id, 9);
    EXPECT_EQ(vect->GetObjPolylinePoint(id, 0).x, -1);
  }
  EXPECT_EQ(vect->ObjectsCount(), 0);
  EXPECT_EQ(vect->BitmapSlotCount(), 1);  // the default record's bitmap only
  EXPECT_EQ(vect->BitmapRefCount(0), 1);
}

TEST_F(VectTest, AddingCopiesOwnedPartsOrdersBoxesAndDropsUserData) {
  auto box = Obj(ievkBox, 50, 40, 10, 20);
  uint8_t data[4] = {1, 2, 3, 4};
  box->UserData = data;
  box->UserDataLen = 4;
  box->AuxText = "aux";
  const int id = Add(*box);
  const TIEVObject* r = vect->GetObjectRec(id);
  EXPECT_EQ((std::vector<int>{r->X1, r->Y1, r->X2, r->Y2}), (std::vector<int>{10, 20, 50, 40}));
  EXPECT_EQ(r->UserData, nullptr);
  EXPECT_EQ(r->UserDataLen, 0);
  EXPECT_EQ(r->AuxText, "aux");
  const int line = Add(*Obj(ievkLine, 50, 40, 10, 20));
  r = vect->GetObjectRec(line);
  EXPECT_EQ((std::vector<int>{r->X1, r->Y1, r->X2, r->Y2}), (std::vector<int>{50, 40, 10, 20}));
  // A text's font is the copy's own.
  auto text = Obj(ievkText, 0, 0, 9, 9);
  text->Font = std::make_unique<LOGFONTA>(Font("Arial", 12));
  text->Text = "t";
  const int t = Add(*text);
  text->Font->lfHeight = 99;
  EXPECT_EQ(vect->GetObjectRec(t)->Font->lfHeight, 12);
  EXPECT_EQ(vect->GetObjectRec(t)->Text, "t");
}

TEST_F(VectTest, SharedBitmapsCountTheirObjectsAndFreeWithTheLast) {
  auto pic = Picture(4, 4, 0);
  auto same = TIEBitmap::CreateCopy(*pic);
  const int a = Add(*Obj(ievkBitmap, 0, 0, 9, 9));
  const int b = Add(*Obj(ievkBitmap, 0, 0, 9, 9));
  vect->SetObjBitmap(a, pic.get());
  vect->SetObjBitmap(b, same.get());
  const int slot = vect->GetObjectRec(a)->BitmapIndex;
  EXPECT_EQ(vect->GetObjectRec(b)->BitmapIndex, slot);
  EXPECT_EQ(vect->BitmapRefCount(slot), 2);
  vect->SetObjBitmap(a, nullptr);
  EXPECT_EQ(vect->GetObjectRec(a)->BitmapIndex, -1);
  EXPECT_NE(vect->GetBitmapAt(slot), nullptr);
  vect->SetObjBitmap(b, nullptr);
  EXPECT_EQ(vect->GetBitmapAt(slot), nullptr);
  EXPECT_EQ(vect->NewBitmapSlot(), slot);
  // A different picture takes a slot of its own.
  auto other = Picture(4, 4, 9);
  vect->SetObjBitmap(a, pic.get());
  vect->SetObjBitmap(b, other.get());
  EXPECT_NE(vect->GetObjectRec(a)->BitmapIndex, vect->GetObjectRec(b)->BitmapIndex);
}

TEST_F(VectTest, UnsharedIndexOnAFreeSlotStoresNoBitmap) {
  vect->SetShareBitmaps(false);
  const int a = Add(*Obj(ievkBitmap, 0, 0, 9, 9));
  const int free = vect->NewBitmapSlot();
  vect->SetObjBitmapIndex(a, free);
  EXPECT_EQ(vect->GetObjectRec(a)->BitmapIndex, -1);
  // A slot that holds a bitmap is copied into a slot of the object's own.
  vect->SetObjBitmapIndex(a, 0);
  const int own = vect->GetObjectRec(a)->BitmapIndex;
  EXPECT_NE(own, 0);
  EXPECT_EQ(vect->BitmapRefCount(own), 1);
  EXPECT_TRUE(SameBitmaps(*vect->GetBitmapAt(own), *vect->GetBitmapAt(0)));
}

TEST_F(VectTest, PackingRewritesEveryLiveRecord) {
  auto p1 = Picture(4, 4, 1), p2 = Picture(4, 4, 2), p3 = Picture(4, 4, 3);
  const int a = Add(*Obj(ievkBitmap, 0, 0, 9, 9));
  const int b = Add(*Obj(ievkBitmap, 0, 0, 9, 9));
  const int c = Add(*Obj(ievkBitmap, 0, 0, 9, 9));
  vect->SetObjBitmap(a, p1.get());
  vect->SetObjBitmap(b, p2.get());
  vect->SetObjBitmap(c, p3.get());
  vect->SetObjBitmap(a, nullptr);  // leaves a hole at slot 1
  vect->PackBitmaps();
  EXPECT_EQ(vect->BitmapSlotCount(), 3);
  EXPECT_EQ(vect->GetObjectRec(IEV_DEFAULT_OBJECT)->BitmapIndex, 0);
  EXPECT_TRUE(SameBitmaps(*vect->GetBitmapAt(vect->GetObjectRec(b)->BitmapIndex), *p2));
  EXPECT_TRUE(SameBitmaps(*vect->GetBitmapAt(vect->GetObjectRec(c)->BitmapIndex), *p3));
}

TEST_F(VectTest, PolylinePointsGrowTheBoxAndMapThroughTheirBase) {
  const int p = Add(*Obj(ievkPolyline, 0, 0, 0, 0));
  vect->AddPolylinePoint(p, 10, 10);
  vect->AddPolylinePoint(p, 10, 10);
  EXPECT_EQ(vect->GetObjPolylinePointCount(p), 1);
  vect->AddPolylinePoint(p, 30, 50);
  vect->AddPolylinePoint(p, 5, 20);
  TIEVObject* r = vect->GetObjectRec(p);
  EXPECT_EQ((std::vector<int>{r->X1, r->Y1, r->X2, r->Y2}), (std::vector<int>{5, 10, 30, 50}));
  EXPECT_EQ(r->PointsBase.left, 5);
  // Doubling the box doubles the distances from its corner.
  r->X2 = 55;
  r->Y2 = 90;
  EXPECT_EQ(vect->GetObjPolylinePoint(p, 1).x, 55);
  EXPECT_EQ(vect->GetObjPolylinePoint(p, 1).y, 90);
  EXPECT_EQ(vect->GetObjPolylinePoint(p, 3).x, -1);
  // A base of zero width maps x with a factor of one.
  r->PointsBase.right = r->PointsBase.left;
  EXPECT_EQ(vect->GetObjPolylinePoint(p, 1).x, 5 + 25);
}

TEST_F(VectTest, SelectionKeepsSelectableObjectsInOrder) {
  const int a = Add(*Obj(ievkBox, 0, 0, 5, 5));
  auto fixed = Obj(ievkBox, 0, 0, 5, 5);
  fixed->Flags = ievfVisible;
  const int b = Add(*fixed);
  const int c = Add(*Obj(ievkBox, 0, 0, 5, 5));
  int notices = 0;
  vect->OnSelectObject = [&](TObject*) { ++notices; };
  vect->AddSelObject(c);
  vect->AddSelObject(b);
  vect->AddSelObject(a);
  EXPECT_EQ(vect->SelObjectCount(), 2);
  EXPECT_EQ(vect->GetSelObject(0), c);
  EXPECT_EQ(vect->GetSelObject(7), 0);
  EXPECT_EQ(notices, 3);
  vect->UnSelObject(b);
  EXPECT_EQ(notices, 3);
  vect->UnSelObject(IEV_PREVIOUS_INSERTED_OBJECT);
  EXPECT_FALSE(vect->IsSelObject(c));
  EXPECT_EQ(notices, 4);
}

TEST_F(VectTest, AnglePointsCountUpToTheFirstUnset) {
  TPoint pts[3] = {{1, 1}, {kIEVUnsetPoint, 0}, {3, 3}};
  EXPECT_EQ(TImageLibVect::GetAnglePointCount(pts), 1);
  pts[1].x = 2;
  EXPECT_EQ(TImageLibVect::GetAnglePointCount(pts), 3);
  pts[0].x = kIEVUnsetPoint;
  EXPECT_EQ(TImageLibVect::GetAnglePointCount(pts), 0);
}

TEST_F(VectTest, MouseModesKeepOneNewItemAndTheStampFlag) {
  vect->SetMouseInteract(TIEMouseInteract{miZoom});
  vect->SetMouseInteractVt(TIEMouseInteractVt{miPutBox, miPutLine});
  EXPECT_TRUE(vect->MouseInteractVt() == TIEMouseInteractVt{miPutLine});
  EXPECT_TRUE(vect->MouseInteract() == TIEMouseInteract{});
  vect->SetMouseInteract(TIEMouseInteract{miZoom});
  vect->SetMouseInteractVt(TIEMouseInteractVt{miArea, miUnStampMode});
  EXPECT_TRUE((vect->MouseInteractVt() == TIEMouseInteractVt{miArea, miUnStampMode}));
  EXPECT_TRUE(vect->MouseInteract() == TIEMouseInteract{miZoom});
}

TEST_F(VectTest, UnitsMeasureThroughTheResolutionAndTheScale) {
  vect->SetDpiX(254);
  vect->SetDpiY(254);
  vect->SetMUnit(ieuCENTIMETERS);
  EXPECT_NEAR(vect->UnitFactorX(), 0.01, 1e-12);
  EXPECT_EQ(vect->GetObjectRec(IEV_DEFAULT_OBJECT)->RulerUnit, ieuCENTIMETERS);
  vect->SetMeasureScale(2);
  EXPECT_NEAR(vect->UnitFactorY(), 0.02, 1e-12);
  EXPECT_STREQ(IEUnitName(ieuMETERS), "mt");
}

TEST_F(VectTest, ExtentIsOnePastTheLargestCorner) {
  EXPECT_EQ(R4(vect->GetObjectsExtent()), R4(TRect{0, 0, 0, 0}));
  Add(*Obj(ievkLine, 10, 20, 5, 40));
  EXPECT_EQ(R4(vect->GetObjectsExtent()), R4(TRect{0, 0, 11, 41}));
}

TEST_F(VectTest, UndoKeepsTheNewestStepsUpToItsLimit) {
  int saves = 0;
  vect->SetOnSaveUndo([&](TObject*, TIEUndoSource s) {
    EXPECT_EQ(s, ieuObject);
    ++saves;
  });
  vect->SetObjUndoLimit(2);
  for (int i = 0; i < 3; ++i) {
    Add(*Obj(ievkBox, 0, 0, i, i));
    vect->ObjSaveUndo();
  }
  EXPECT_EQ(vect->ObjUndoCount(), 2);
  EXPECT_EQ(saves, 3);
  // The oldest kept step holds two objects.
  TImageLibVect other(nullptr);
  vect->ObjUndoAt(0)->SetPosition(0);
  ASSERT_TRUE(other.LoadObjectsFromStream(*vect->ObjUndoAt(0), false));
  EXPECT_EQ(other.ObjectsCount(), 2);
  vect->SetObjUndoLimit(0);
  vect->ObjSaveUndo();
  EXPECT_EQ(saves, 3);
}

TEST_F(VectTest, TheVectorUnitRegistersItsFormatShortcutsAndEmptyRegistry) {
  InitVectUnit();
  EXPECT_NE(VectClipboardFormat(), 0u);
  EXPECT_EQ(VectEditorShortcuts()[0], 0x404C);
  EXPECT_EQ(VectEditorShortcuts()[11], 0x4047);
  EXPECT_EQ(CreateExtendedObject("TSomething"), nullptr);
  DoneVectUnit();
}

}  // namespace
