// The processing component: its undo and redo stacks by table, attachment to a
// view with layers, the clipboard (CF_DIB and the private raw format), flip,
// rotation, crop, canvas resize and resample; and the raw bitmap stream.
#include "imaging/core/ie_proc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "imaging/core/ie_dib_exchange.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_proc_filters.h"
#include "imaging/core/ie_raw_stream.h"
#include "platform/rtl/streams.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "tests/support/test_support.h"

namespace {

void Paint(TIEBitmap& b, uint32_t seed) {
  for (int y = 0; y < b.Height(); ++y)
    for (int64_t i = 0; i < b.RowLen(); ++i) {
      seed = seed * 1664525u + 1013904223u;
      b.ScanLine(y)[i] = uint8_t(seed >> 24);
    }
}

std::vector<uint8_t> Rows(TIEBitmap& b) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.Height(); ++y) out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + b.RowLen());
  if (b.HasAlphaChannel()) {
    auto a = Rows(*b.AlphaChannel());
    out.insert(out.end(), a.begin(), a.end());
  }
  return out;
}

std::unique_ptr<TIEBitmap> Image(int w, int h, uint32_t seed, TIEBitmapFormat f = ie24RGB, bool alpha = false) {
  auto b = std::make_unique<TIEBitmap>(w, h, f);
  Paint(*b, seed);
  if (alpha) {
    Paint(*b->AlphaChannel(), seed + 99);
    b->AlphaChannel()->SetFull(false);
  }
  return b;
}

// A single-image view with a selection and layers; each layer record is its
// length, GUID, a tag and, when asked, the bitmap in raw form.
class TFakeView : public TIEViewLink, public TIELayeredViewLink {
public:
  struct Layer {
    std::array<uint8_t, 16> guid{};
    int32_t tag = 0;
    std::unique_ptr<TIEBitmap> bitmap = std::make_unique<TIEBitmap>(4, 4, ie24RGB);
  };
  std::vector<Layer> layers;
  int current = 0;
  TIEMask mask;
  bool selected = false;
  int updates = 0, changes = 0;
  std::vector<std::pair<void*, TIEBitmapChangeEvent>> handlers;
  uint32_t background = 0x00FF00;
  int32_t badRecordLength = 0;  // when set, the second record claims this length

  TFakeView(int n) {
    for (int i = 0; i < n; ++i) AddLayer(uint8_t(i + 1), i * 10);
  }
  ~TFakeView() override {
    auto hs = handlers;
    for (auto& h : hs) h.second(nullptr, this, 1);
  }
  void AddLayer(uint8_t id, int32_t tag) {
    Layer l;
    l.guid.fill(id);
    l.tag = tag;
    Paint(*l.bitmap, id);
    layers.push_back(std::move(l));
  }
  TComponent* ViewComponent() override { return nullptr; }
  TIEViewKind ViewKind() const override { return ievkImageView; }
  TBitmap* GetBitmap() override { return nullptr; }
  TIEBitmap* GetIEBitmap() override { return layers[size_t(current)].bitmap.get(); }
  void* AddBitmapChangeHandler(TIEBitmapChangeEvent callback, TObject*) override {
    void* h = reinterpret_cast<void*>(handlers.size() + 1);
    handlers.emplace_back(h, std::move(callback));
    return h;
  }
  void RemoveBitmapChangeHandler(void* handle) override {
    std::erase_if(handlers, [&](auto& p) { return p.first == handle; });
  }
  void Update() override { ++updates; }
  void ImageChange() override { ++changes; }
  int32_t DpiX() const override { return 96; }
  int32_t DpiY() const override { return 72; }
  void SetDpiX(int32_t) override {}
  void SetDpiY(int32_t) override {}
  void LockUpdate() override {}
  void UnlockUpdateNoRefresh() override {}
  uint32_t Background() const override { return background; }
  void SetBackground(uint32_t c) override { background = c; }
  void SaveLayersToFile(const std::string&) override {}
  void SaveAllToFile(const std::string&) override {}

  TIEMask* SelectionMask() override { return &mask; }
  bool Selected() override { return selected; }
  std::vector<POINT> SelectionPolygon() override { return {}; }
  void SaveSelectionToStream(TStream& s) override { s.WriteValue<uint8_t>(selected); }
  void LoadSelectionFromStream(TStream& s) override { selected = s.ReadValue<uint8_t>() != 0; }
  int GetLayersCount() override { return int(layers.size()); }
  TIEBitmap* LayerBitmap(int i) override { return layers[size_t(i)].bitmap.get(); }
  std::array<uint8_t, 16> LayerGUID(int i) override { return layers[size_t(i)].guid; }
  int CurrentLayer() override { return current; }
  void SaveLayerToStream(int i, TStream& s, bool withBitmap) override {
    TMemoryStream body;
    body.WriteBuffer(layers[size_t(i)].guid.data(), 16);
    body.WriteValue(layers[size_t(i)].tag);
    body.WriteValue<uint8_t>(withBitmap);
    if (withBitmap) SaveRawToStream(*layers[size_t(i)].bitmap, body);
    const int32_t length = (badRecordLength && i == 1) ? badRecordLength : int32_t(4 + body.Size());
    s.WriteValue(length);
    s.WriteBuffer(body.Memory(), body.Size());
  }
  void LoadLayerFromStream(int i, TStream& s) override {
    s.ReadValue<int32_t>();
    s.ReadBytes(16);
    layers[size_t(i)].tag = s.ReadValue<int32_t>();
    if (s.ReadValue<uint8_t>()) LoadRawFromStream(*layers[size_t(i)].bitmap, s);
  }
  void SaveLayersToStream(TStream& s, int code) override {
    s.WriteValue<int32_t>(code);
    for (int i = 0; i < GetLayersCount(); ++i) SaveLayerToStream(i, s, true);
  }
  bool LoadLayersFromStream(TStream& s) override {
    s.ReadValue<int32_t>();
    for (int i = 0; i < GetLayersCount(); ++i) LoadLayerFromStream(i, s);
    return true;
  }
};

// ---- undo and redo ----

TEST(ProcUndo, LimitsOneZeroAndNegativeAndTinyImages) {
  struct Case {
    int32_t limit;
    int w, h;
    int entries;
  } cases[] = {{1, 6, 4, 1}, {3, 6, 4, 2}, {0, 6, 4, 0}, {-1, 6, 4, 0}, {5, 1, 5, 0}, {5, 5, 1, 0}};
  for (const Case& c : cases) {
    auto b = Image(c.w, c.h, 1);
    TComponent owner(nullptr);
    auto* proc = new TImageLibProc(&owner);
    proc->AttachBitmap(b.get());
    proc->SetUndoLimit(c.limit);
    int events = 0;
    proc->OnSaveUndo = [&](TObject*, TIEUndoSource k) { events += k == ieuImage; };
    const auto original = Rows(*b);
    proc->Flip(1);
    const auto afterFirst = Rows(*b);
    proc->Flip(0);
    EXPECT_EQ(proc->UndoCount(), c.entries) << "limit " << c.limit << " " << c.w << "x" << c.h;
    // Operations on an image under 2 x 2 save nothing; SaveUndo still tells.
    EXPECT_EQ(events, c.limit > 0 && c.w >= 2 && c.h >= 2 ? 2 : 0) << "limit " << c.limit;
    if (c.entries == 0) {
      proc->SaveUndo(ieuImage);
      EXPECT_EQ(events, c.limit > 0 ? 1 : 0) << "limit " << c.limit;
      EXPECT_EQ(proc->UndoCount(), 0);
      continue;
    }
    // The newest entry is the state before the second operation.
    EXPECT_EQ(proc->GetUndoCaption(0), "Flip");
    proc->Undo();
    EXPECT_EQ(Rows(*b), afterFirst);
    if (c.entries == 2) {
      proc->UndoAt(1);
      EXPECT_EQ(Rows(*b), original);
    }
  }
}

TEST(ProcUndo, UndoDoesNotPopCaptionsCountFromNewestKindsFromOldest) {
  auto b = Image(6, 4, 2);
  auto proc = TImageLibProc::CreateForBitmap(b.get());
  proc->SetUndoLimit(4);
  proc->SetAutoUndo(true);
  const auto original = Rows(*b);
  proc->Flip(0);
  proc->Rotate(90);
  ASSERT_EQ(proc->UndoCount(), 2);
  EXPECT_EQ(proc->GetUndoCaption(0), "Rotate 90.00");
  EXPECT_EQ(proc->GetUndoCaption(1), "Flip");
  EXPECT_EQ(proc->GetUndoCaption(2), "");
  EXPECT_EQ(proc->GetUndoKind(0), ieuImage);
  EXPECT_EQ(proc->GetUndoKind(2), 0);
  proc->UndoAt(1, true);
  proc->UndoAt(1);
  EXPECT_EQ(Rows(*b), original);
  EXPECT_EQ(proc->UndoCount(), 2);
  ASSERT_EQ(proc->RedoCount(), 1);
  proc->Redo();
  EXPECT_EQ(b->Width(), 4);  // the rotated state came back
  proc->DiscardUndoAt(0);
  EXPECT_EQ(proc->GetUndoCaption(0), "Flip");
  proc->DiscardLastUndo();
  proc->DiscardLastUndo();
  EXPECT_FALSE(proc->CanUndo());
}

TEST(ProcUndo, KindsOneToSixOnAViewWithLayers) {
  struct Case {
    TIEUndoSource kind;
    bool entry;
  } cases[] = {{ieuImage, true},  {ieuSelection, true},      {ieuObject, false},
               {ieuLayer, true},  {ieuLayerAndBitmap, true}, {ieuFullReserved, true}};
  for (const Case& c : cases) {
    TFakeView view(3);
    view.current = 1;
    TImageLibProc proc(nullptr);
    proc.SetAttachedImageLib(&view);
    proc.SetUndoLimit(2);
    proc.SaveUndo(c.kind);
    ASSERT_EQ(proc.UndoCount(), c.entry ? 1 : 0) << int(c.kind);
    if (!c.entry) continue;
    const auto bitmapBefore = Rows(*view.layers[1].bitmap);
    view.selected = true;
    for (auto& l : view.layers) l.tag += 1000;
    Paint(*view.layers[1].bitmap, 77);
    proc.Undo();
    const bool tagsBack = view.layers[0].tag == 0 && view.layers[2].tag == 20;
    const bool bitmapBack = Rows(*view.layers[1].bitmap) == bitmapBefore;
    EXPECT_EQ(!view.selected, c.kind == ieuSelection) << int(c.kind);
    EXPECT_EQ(tagsBack, c.kind >= ieuLayer) << int(c.kind);
    EXPECT_EQ(bitmapBack, c.kind == ieuImage || c.kind >= ieuLayerAndBitmap) << int(c.kind);
  }
}

// A vector view: layers as above plus a list of objects, kept by value.
class TFakeVectView : public TFakeView, public TIEVectViewLink {
public:
  std::vector<int32_t> objects{7, 8};
  int32_t savedWhich = 0, loadFlag = -99;
  explicit TFakeVectView(int n) : TFakeView(n) {}
  TIEViewKind ViewKind() const override { return ievkVectView; }
  bool SaveObjectsToStream(TStream& s, int which) override {
    savedWhich = which;
    s.WriteValue<int32_t>(int32_t(objects.size()));
    for (int32_t o : objects) s.WriteValue(o);
    return true;
  }
  bool LoadObjectsFromStream(TStream& s, bool append) override {
    loadFlag = append ? 1 : 0;
    objects.assign(size_t(s.ReadValue<int32_t>()), 0);
    for (int32_t& o : objects) o = s.ReadValue<int32_t>();
    return true;
  }
  bool SaveAllToStream(TStream& s, int which) override {
    savedWhich = which;
    SaveLayersToStream(s, which);
    SaveObjectsToStream(s, which);
    return true;
  }
  bool LoadAllFromStream(TStream& s) override {
    LoadLayersFromStream(s);
    LoadObjectsFromStream(s, true);
    return true;
  }
};

TEST(ProcUndo, ObjectsAndEverythingOfAVectorView) {
  struct Case {
    TIEUndoSource kind;
    int32_t which;       // what the view was asked to save
    bool layersBack;     // undo restores the layers too
  } cases[] = {{ieuObject, -3, false}, {ieuFullReserved, -1, true}};
  for (const Case& c : cases) {
    TFakeVectView view(2);
    TImageLibProc proc(nullptr);
    proc.SetAttachedImageLib(&view);
    proc.SetUndoLimit(3);
    proc.SaveUndoCaptioned("Move object", c.kind);
    ASSERT_EQ(proc.UndoCount(), 1) << int(c.kind);
    EXPECT_EQ(proc.GetUndoKind(0), int(c.kind));
    EXPECT_EQ(proc.GetUndoCaption(0), "Move object");
    EXPECT_EQ(view.savedWhich, c.which);
    view.objects = {1};
    view.layers[1].tag = 555;
    proc.Undo(true);
    EXPECT_EQ(view.objects, (std::vector<int32_t>{7, 8})) << int(c.kind);
    EXPECT_EQ(view.layers[1].tag == 10, c.layersBack) << int(c.kind);
    // The redo entry holds the state undone, of the same kind.
    ASSERT_EQ(proc.RedoCount(), 1);
    proc.Redo();
    EXPECT_EQ(view.objects, (std::vector<int32_t>{1})) << int(c.kind);
    EXPECT_EQ(view.layers[1].tag, 555) << int(c.kind);
  }
  // The object entry is restored with the flag 0 the objects' loader expects.
  TFakeVectView view(1);
  TImageLibProc proc(nullptr);
  proc.SetAttachedImageLib(&view);
  proc.SaveUndo(ieuObject);
  proc.Undo();
  EXPECT_EQ(view.loadFlag, 0);
  // A plain view with layers keeps no object entries.
  TFakeView plain(2);
  proc.SetAttachedImageLib(&plain);
  proc.ClearAllUndo();
  proc.SaveUndo(ieuObject);
  EXPECT_EQ(proc.UndoCount(), 0);
}

TEST(ProcUndo, LayerRecordsOfDeletedLayersAreSkippedAndBadLengthsStopTheWalk) {
  TFakeView view(3);
  TImageLibProc proc(nullptr);
  proc.SetAttachedImageLib(&view);
  proc.SaveUndo(ieuLayer);
  view.layers.erase(view.layers.begin() + 1);
  view.AddLayer(9, 90);  // added since: keeps its state
  for (auto& l : view.layers) l.tag = -1;
  proc.Undo();
  EXPECT_EQ(view.layers[0].tag, 0);
  EXPECT_EQ(view.layers[1].tag, 20);
  EXPECT_EQ(view.layers[2].tag, -1);

  for (int32_t bad : {8, 19, 1 << 30}) {
    TFakeView v(3);
    v.badRecordLength = bad;
    TImageLibProc p(nullptr);
    p.SetAttachedImageLib(&v);
    p.SaveUndo(ieuLayer);
    for (auto& l : v.layers) l.tag = -1;
    p.Undo();  // must end, not loop or read past the stream
    EXPECT_EQ(v.layers[0].tag, 0) << bad;
    EXPECT_EQ(v.layers[2].tag, -1) << bad;
  }
}

// ---- attachment ----

TEST(ProcAttach, FollowsTheViewsBitmapAndFallsBackWhenTheViewGoes) {
  auto view = std::make_unique<TFakeView>(2);
  TImageLibProc proc(nullptr);
  proc.SetAttachedImageLib(view.get());
  EXPECT_EQ(proc.GetIEBitmap(), view->layers[0].bitmap.get());
  EXPECT_EQ(proc.Background(), 0x00FF00u);
  EXPECT_EQ(proc.GetDpiY(), 72);
  view->current = 1;
  view->handlers[0].second(nullptr, view.get(), 0);
  EXPECT_EQ(proc.GetIEBitmap(), view->layers[1].bitmap.get());
  proc.Flip(0);
  EXPECT_EQ(view->updates, 1);
  EXPECT_EQ(view->changes, 1);
  view.reset();
  EXPECT_EQ(proc.AttachedImageLib(), nullptr);
  ASSERT_NE(proc.GetIEBitmap(), nullptr);
  EXPECT_TRUE(proc.GetIEBitmap()->IsEmpty());
}

// ---- operations ----

TEST(ProcRotate, QuarterTurnsAreExactWithAlphaAndAngleZeroDoesNothing) {
  auto b = Image(48, 32, 5, ie24RGB, true);
  auto old = TIEBitmap::CreateCopy(*b);
  TComponent owner(nullptr);
  auto* proc = new TImageLibProc(&owner);
  proc->AttachBitmap(b.get());
  int finished = 0;
  proc->OnFinishWork = [&](TObject*) { ++finished; };
  proc->Rotate(0);
  EXPECT_EQ(finished, 0);
  EXPECT_EQ(proc->UndoCount(), 0);
  proc->Rotate(-90);  // Rotate Right
  ASSERT_EQ(b->Width(), 32);
  ASSERT_EQ(b->Height(), 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 32; ++x) {
      ASSERT_EQ(b->GetPixelRGB(x, y), old->GetPixelRGB(y, 31 - x)) << x << "," << y;
      ASSERT_EQ(b->GetAlpha(x, y), old->GetAlpha(y, 31 - x)) << x << "," << y;
    }
  proc->Rotate(90);
  EXPECT_EQ(Rows(*b), Rows(*old));
  EXPECT_EQ(finished, 2);
}

TEST(ProcCrop, ClipsToTheImageAndIgnoresEmptyOrOutsideRectangles) {
  struct Case {
    int x1, y1, x2, y2;
    int w, h;  // 0: unchanged
  } cases[] = {{1, 2, 4, 3, 4, 2},     {-5, -5, 2, 2, 3, 3},  {3, 3, 99, 99, 7, 5},  {0, 0, 9, 7, 0, 0},
               {5, 5, 2, 2, 0, 0},     {20, 20, 30, 30, 0, 0}, {-9, -9, -1, -1, 0, 0}};
  for (const Case& c : cases) {
    auto b = Image(10, 8, 3, ie8p, true);
    auto old = TIEBitmap::CreateCopy(*b);
    auto proc = TImageLibProc::CreateForBitmap(b.get());
    proc->SetAutoUndo(true);
    proc->Crop(c.x1, c.y1, c.x2, c.y2);
    if (c.w == 0) {
      EXPECT_EQ(Rows(*b), Rows(*old)) << c.x1 << "," << c.y1;
      EXPECT_EQ(proc->UndoCount(), 0);
      continue;
    }
    ASSERT_EQ(b->Width(), c.w);
    ASSERT_EQ(b->Height(), c.h);
    const int ox = std::max(c.x1, 0), oy = std::max(c.y1, 0);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        ASSERT_EQ(b->GetPixel8(x, y), old->GetPixel8(x + ox, y + oy));
        ASSERT_EQ(b->GetAlpha(x, y), old->GetAlpha(x + ox, y + oy));
      }
    TRGB p1, p2;
    b->GetPaletteColor(200, p1);
    old->GetPaletteColor(200, p2);
    EXPECT_EQ(p1, p2);
  }
}

TEST(ProcCrop, TransparentBorderAndAllTransparent) {
  auto b = Image(8, 6, 4, ie24RGB, true);
  b->AlphaChannel()->Fill(0);
  auto proc = TImageLibProc::CreateForBitmap(b.get());
  proc->CropTransparentBorder();
  EXPECT_EQ(b->Width(), 8);
  b->SetAlpha(2, 1, 9);
  b->SetAlpha(5, 3, 200);
  proc->CropTransparentBorder();
  EXPECT_EQ(b->Width(), 4);
  EXPECT_EQ(b->Height(), 3);
  EXPECT_EQ(b->GetAlpha(0, 0), 9);
  EXPECT_EQ(b->GetAlpha(3, 2), 200);
}

TEST(ProcResize, CanvasAndResampleSizes) {
  auto b = Image(4, 4, 6);
  auto old = TIEBitmap::CreateCopy(*b);
  auto proc = TImageLibProc::CreateForBitmap(b.get());
  proc->SetBackground(0x0000FF);
  proc->ImageResize(10, 10, 1, 1, 0);
  ASSERT_EQ(b->Width(), 10);
  EXPECT_EQ(b->GetPixelRGB(3, 3), old->GetPixelRGB(0, 0));
  EXPECT_EQ(b->GetAlpha(3, 3), 255);
  EXPECT_EQ(b->GetAlpha(0, 0), 0);
  EXPECT_EQ(b->GetPixelRGB(0, 0), MakeRGB(255, 0, 0));

  struct Case {
    int sw, sh, w, h;
    bool fit;
    int ew, eh;
  } cases[] = {{200, 50, -1, 100, false, 400, 100}, {400, 200, 100, 100, true, 100, 50},
               {40, 20, 100, 100, true, 100, 50},   {30, 20, 0, 0, false, 30, 20},
               {30, 20, -7, 5, false, 7, 5},        {30, 20, -1, -1, false, -1, -1}};
  for (const Case& c : cases) {
    int w = c.w, h = c.h;
    ComputeResampleSize(w, h, c.sw, c.sh, c.fit);
    EXPECT_EQ(w, c.ew) << c.sw << "x" << c.sh << " -> " << c.w << "x" << c.h;
    EXPECT_EQ(h, c.eh);
  }
  auto r = Image(20, 10, 7, ie24RGB, true);
  auto rp = TImageLibProc::CreateForBitmap(r.get());
  rp->Resample(-1, -1, rfTriangle);
  EXPECT_EQ(r->Width(), 20);
  rp->Resample(-1, 5, rfTriangle);
  EXPECT_EQ(r->Width(), 10);
  EXPECT_EQ(r->Height(), 5);
  EXPECT_TRUE(r->HasAlphaChannel());
}

// ---- clipboard ----

class ProcClipboard : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
  }
  static std::vector<uint8_t> Data(UINT format) {
    std::vector<uint8_t> out;
    if (!OpenClipboard(nullptr)) return out;
    if (HANDLE h = GetClipboardData(format)) {
      auto* p = static_cast<const uint8_t*>(GlobalLock(static_cast<HGLOBAL>(h)));
      out.assign(p, p + GlobalSize(static_cast<HGLOBAL>(h)));
      GlobalUnlock(static_cast<HGLOBAL>(h));
    }
    CloseClipboard();
    return out;
  }
  static void Put(UINT format, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
    SetClipboardData(format, h);
    CloseClipboard();
  }
};

TEST_F(ProcClipboard, OnePixelDibIs48BytesAndRawKeepsFormatAndAlpha) {
  auto one = Image(1, 1, 8);
  auto p1 = TImageLibProc::CreateForBitmap(one.get());
  ASSERT_TRUE(p1->CopyImageToClipboard(false));
  EXPECT_EQ(Data(CF_DIB).size(), 48u);
  EXPECT_TRUE(Data(ImageLibRawClipboardFormat()).empty());

  auto src = Image(5, 3, 9, ie8p, true);
  auto ps = TImageLibProc::CreateForBitmap(src.get());
  ASSERT_TRUE(ps->CopyImageToClipboard(true));
  auto dst = Image(2, 2, 1);
  auto pd = TImageLibProc::CreateForBitmap(dst.get());
  pd->SetAutoUndo(true);
  pd->PasteFromClipboard();  // raw comes before CF_DIB
  EXPECT_EQ(dst->PixelFormat(), ie8p);
  EXPECT_EQ(Rows(*dst), Rows(*src));
  EXPECT_EQ(pd->GetUndoCaption(0), "PasteFromClipboard");

  SetClipboardHeldByOtherWindow(true);
  EXPECT_FALSE(ps->CopyImageToClipboard(true));
  SetClipboardHeldByOtherWindow(false);
}

TEST_F(ProcClipboard, DibPasteAndFailedPastesLeaveTheImage) {
  auto src = Image(3, 2, 10);
  auto ps = TImageLibProc::CreateForBitmap(src.get());
  ASSERT_TRUE(ps->CopyImageToClipboard(false));
  auto dst = Image(4, 4, 11, ie24RGB, true);
  auto pd = TImageLibProc::CreateForBitmap(dst.get());
  pd->PasteFromClipboard();
  ASSERT_EQ(dst->Width(), 3);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(dst->GetPixelRGB(x, y), src->GetPixelRGB(x, y));
  EXPECT_FALSE(dst->HasAlphaChannel());

  // A raw block cut short and a DIB header claiming more rows than it holds.
  auto raw = SaveRawToBytes(*src);
  raw.resize(raw.size() - 5);
  auto dib = Data(CF_DIB);
  dib.resize(dib.size() - 8);
  for (auto [format, bytes] : {std::pair{ImageLibRawClipboardFormat(), raw}, std::pair{UINT(CF_DIB), dib}}) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
    Put(format, bytes);
    auto keep = Image(4, 4, 12);
    auto pk = TImageLibProc::CreateForBitmap(keep.get());
    pk->SetAutoUndo(true);
    const auto before = Rows(*keep);
    pk->PasteFromClipboard();
    EXPECT_EQ(Rows(*keep), before) << format;
    EXPECT_EQ(pk->UndoCount(), 0) << format;
  }
}

TEST_F(ProcClipboard, SelectionCopiesItsBoxWithTheRestInBackground) {
  TFakeView view(1);
  auto& layer = *view.layers[0].bitmap;
  TImageLibProc proc(nullptr);
  proc.SetAttachedImageLib(&view);
  view.mask.Allocate(4, 4, 1);
  view.mask.SetPixel(1, 1, 1);
  view.mask.SetPixel(2, 2, 1);
  view.selected = true;
  ASSERT_TRUE(proc.CopySelectionToClipboard(true));
  TIEBitmap pasted;
  const auto raw = Data(ImageLibRawClipboardFormat());
  ASSERT_TRUE(LoadRawFromMemory(pasted, raw.data(), raw.size()));
  ASSERT_EQ(pasted.Width(), 2);
  EXPECT_EQ(pasted.GetPixelRGB(0, 0), layer.GetPixelRGB(1, 1));
  TIEBitmap fromDib;
  auto dib = Data(CF_DIB);
  ASSERT_GT(DIBToIEBitmap(dib.data(), dib.size(), fromDib), 0);
  ASSERT_EQ(fromDib.Width(), 2);
  EXPECT_EQ(fromDib.GetPixelRGB(1, 1), layer.GetPixelRGB(2, 2));
  EXPECT_EQ(fromDib.GetPixelRGB(1, 0), MakeRGB(0, 255, 0));  // the view's background
}

// ---- the raw bitmap stream ----

TEST(RawStream, SizesRoundTripAndRefusals) {
  auto b = Image(2, 2, 13);
  EXPECT_EQ(RawSize(*b), 92);
  EXPECT_EQ(SaveRawToBytes(*b).size(), 92u);
  b->AlphaChannel();
  EXPECT_EQ(SaveRawToBytes(*b).size(), 101u);

  auto p = Image(3, 3, 14, ie8p, true);
  TRGB c = MakeRGB(1, 2, 3);
  p->SetPaletteColor(7, c);
  auto bytes = SaveRawToBytes(*p);
  TIEBitmap back;
  ASSERT_TRUE(LoadRawFromMemory(back, bytes.data(), bytes.size()));
  TRGB got;
  back.GetPaletteColor(7, got);
  EXPECT_EQ(got, c);
  EXPECT_EQ(Rows(back), Rows(*p));

  // Version 7 reads as 0; a stream without alpha removes the receiver's alpha.
  auto plain = SaveRawToBytes(*Image(2, 2, 15));
  plain[12] = 7;
  ASSERT_TRUE(LoadRawFromMemory(back, plain.data(), plain.size()));
  EXPECT_FALSE(back.HasAlphaChannel());

  struct Bad {
    size_t offset;
    uint8_t value;
  } bads[] = {// magic, negative version, palette count, height, format, row alignment
              {11, 'X'}, {15, 0x80}, {19, 0x7F}, {795, 0x7F}, {796, 11}, {839, 3}};
  for (const Bad& bad : bads) {
    auto copy = bytes;
    copy[bad.offset] = bad.value;
    auto keep = Image(2, 2, 16);
    const auto before = Rows(*keep);
    EXPECT_FALSE(LoadRawFromMemory(*keep, copy.data(), copy.size())) << bad.offset;
    EXPECT_EQ(Rows(*keep), before);
  }
  // Rows written at another alignment are read at the writer's row length.
  TIEBitmap narrow;
  narrow.SetLocation(ieMemory);
  narrow.SetRowAlignment(8);
  ASSERT_TRUE(narrow.Allocate(9, 3, ie1g));
  Paint(narrow, 17);
  ASSERT_EQ(narrow.RowLen(), 2);
  auto narrowBytes = SaveRawToBytes(narrow);
  TIEBitmap wide;
  ASSERT_TRUE(LoadRawFromMemory(wide, narrowBytes.data(), narrowBytes.size()));
  for (int y = 0; y < 3; ++y)
    EXPECT_EQ(std::vector<uint8_t>(wide.ScanLine(y), wide.ScanLine(y) + 2),
              std::vector<uint8_t>(narrow.ScanLine(y), narrow.ScanLine(y) + 2))
        << y;

  for (size_t cut : {size_t(5), size_t(80), bytes.size() - 10}) {
    auto keep = Image(2, 2, 16);
    EXPECT_FALSE(LoadRawFromMemory(*keep, bytes.data(), cut)) << cut;
    EXPECT_EQ(keep->Width(), 2);
  }
}

}  // namespace

namespace {

std::vector<uint8_t> RgbBytes(TIEBitmap& b) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const TRGB p = b.GetPixelRGB(x, y);
      out.insert(out.end(), {p.r, p.g, p.b});
    }
  return out;
}

TEST(ProcRotateOracle, QuarterTurnsEqualImageMagick) {
  if (!qvtest::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick is not available";
  qvtest::TempDir dir;
  auto src = Image(7, 5, 21);
  qvtest::WriteFileBytes(dir.File("in.rgb"), RgbBytes(*src));
  // ImageMagick turns clockwise for positive angles, we counter-clockwise.
  for (int magick : {90, 180, 270}) {
    const std::string out = dir.File("out" + std::to_string(magick) + ".rgb");
    ASSERT_EQ(qvtest::RunCommand("convert -size 7x5 -depth 8 rgb:" + dir.File("in.rgb") + " -rotate " +
                                 std::to_string(magick) + " -depth 8 rgb:" + out + " 2>/dev/null"),
              0);
    auto b = TIEBitmap::CreateCopy(*src);
    auto proc = TImageLibProc::CreateForBitmap(b.get());
    proc->Rotate(-magick);
    EXPECT_EQ(RgbBytes(*b), qvtest::ReadFileBytes(out)) << magick;
  }
}

TEST_F(ProcClipboard, OracleCopiedDibReadsInPillowAndIdentify) {
  if (!qvtest::HaveProgram("identify") ||
      qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "identify or Pillow is not available";
  qvtest::TempDir dir;
  struct Case {
    TIEBitmapFormat format;
    const char* depth;
    const char* mode;
  } cases[] = {{ie24RGB, "8", "RGB"}, {ie8g, "8", "L"}, {ie1g, "1", "1"}};
  for (const Case& c : cases) {
    TFakeView view(1);
    view.layers[0].bitmap = Image(9, 4, 22, c.format);
    TImageLibProc proc(nullptr);
    proc.SetAttachedImageLib(&view);
    ASSERT_TRUE(proc.CopyImageToClipboard(false));
    const auto dib = Data(CF_DIB);
    ASSERT_GT(dib.size(), 40u);
    uint32_t headerEnd = 14 + 40 + (c.format == ie24RGB ? 0 : c.format == ie1g ? 8 : 1024);
    std::vector<uint8_t> file = {'B', 'M'};
    for (uint32_t v : {uint32_t(14 + dib.size()), 0u, headerEnd})
      for (int i = 0; i < 4; ++i) file.push_back(uint8_t(v >> (8 * i)));
    file.insert(file.end(), dib.begin(), dib.end());
    const std::string path = dir.File("copy.bmp");
    qvtest::WriteFileBytes(path, file);
    std::string out;
    ASSERT_EQ(qvtest::RunCommand("identify -format '%w %h %z' " + path + " 2>/dev/null", &out), 0);
    EXPECT_EQ(out, std::string("9 4 ") + c.depth) << int(c.format);
    std::string pil;
    ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 -c \"from PIL import Image; i = Image.open('" + path +
                                     "'); i.load(); print(i.size[0], i.size[1], i.mode, "
                                     "round(i.info['dpi'][0]), round(i.info['dpi'][1]))\"",
                                 &pil),
              0);
    EXPECT_EQ(pil, std::string("9 4 ") + c.mode + " 96 72\n") << int(c.format);
  }
}

}  // namespace

namespace {

int WhiteBits(TIEBitmap& b) {
  int n = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) n += (b.ScanLine(y)[x / 8] & kIEBitMask[x % 8]) != 0;
  return n;
}

TEST(ProcColors, DitherLevelsByTable) {
  struct Case {
    TRGB colour;
    int white;  // of a 16 x 8 image: two 8 x 8 tiles
  } cases[] = {{MakeRGB(255, 255, 255), 128}, {MakeRGB(0, 0, 0), 0},         {MakeRGB(128, 128, 128), 64},
               {MakeRGB(251, 251, 251), 128}, {MakeRGB(250, 255, 255), 126}};
  for (const Case& c : cases) {
    TIEBitmap b(16, 8, ie24RGB);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 16; ++x) b.SetPixelRGB(x, y, c.colour);
    auto proc = TImageLibProc::CreateForBitmap(&b);
    proc->ConvertTo(2);
    ASSERT_EQ(b.PixelFormat(), ie1g);
    EXPECT_EQ(WhiteBits(b), c.white) << int(c.colour.r) << "," << int(c.colour.g);
  }
}

TEST(ProcColors, QuantizeLimitsAndPaletteSizes) {
  auto b = Image(20, 20, 30);
  auto proc = TImageLibProc::CreateForBitmap(b.get());
  proc->SetAutoUndo(true);
  std::vector<int> percents;
  proc->OnProgress = [&](TObject*, int p) { percents.push_back(p); };
  const auto before = Rows(*b);
  proc->ConvertTo(2000);
  EXPECT_EQ(Rows(*b), before);
  EXPECT_EQ(proc->GetUndoCaption(0), "ConvertTo 2000");
  ASSERT_EQ(percents, std::vector<int>{100});

  TRGB palette[16];
  proc->ConvertToPalette(16, palette);
  std::set<uint32_t> colours;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) {
      const TRGB p = b->GetPixelRGB(x, y);
      colours.insert(uint32_t(p.r) << 16 | p.g << 8 | p.b);
      ASSERT_NE(std::find(std::begin(palette), std::end(palette), p), std::end(palette));
    }
  EXPECT_LE(colours.size(), 16u);

  // One entry asked for, one written.
  TRGB one[2] = {MakeRGB(1, 2, 3), MakeRGB(4, 5, 6)};
  proc->ConvertToPalette(1, one);
  EXPECT_EQ(one[0], MakeRGB(0, 0, 0));
  EXPECT_EQ(one[1], MakeRGB(4, 5, 6));

  // A 1-bit image with conversion switched off stays as it is.
  auto bits = Image(9, 3, 31, ie1g);
  auto p2 = TImageLibProc::CreateForBitmap(bits.get());
  p2->SetAutoConvertFormat(false);
  p2->ConvertTo(8);
  EXPECT_EQ(bits->PixelFormat(), ie1g);
  p2->SetAutoConvertFormat(true);
  p2->ConvertTo(8);
  EXPECT_EQ(bits->PixelFormat(), ie24RGB);
}

}  // namespace

namespace {

TEST(ProcCorners, RoundedCornersAreSymmetricAndFillTransparentPixels) {
  TIEBitmap b(12, 10, ie24RGB);
  b.Fill(0x102030);
  RoundImageCorners(b, 0, 3);
  EXPECT_FALSE(b.HasAlphaChannel() && !b.AlphaChannel()->Full());
  RoundImageCorners(b, 3, 3);
  TIEBitmap& a = *b.AlphaChannel();
  EXPECT_FALSE(a.Full());
  for (auto [x, y] : {std::pair{0, 0}, {11, 0}, {0, 9}, {11, 9}}) EXPECT_EQ(a.GetPixel8(x, y), 0) << x << "," << y;
  EXPECT_EQ(a.GetPixel8(6, 5), 255);
  EXPECT_EQ(a.GetPixel8(6, 0), 255);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) ASSERT_EQ(a.GetPixel8(x, y), a.GetPixel8(11 - x, y)) << x << "," << y;
  FillTransparentPixels(b, MakeRGB(9, 8, 7));
  EXPECT_EQ(b.GetPixelRGB(0, 0), MakeRGB(9, 8, 7));
  EXPECT_EQ(b.GetPixelRGB(6, 5), b.GetPixelRGB(6, 0));
  EXPECT_NE(b.GetPixelRGB(6, 5), MakeRGB(9, 8, 7));
}

}  // namespace

namespace {

TEST(ProcFill, SelectionBoxOnlySelectedPixelsAndUndo) {
  struct Case {
    std::string name;
    bool selected;
    bool withMask;
  } cases[] = {{"no selection: whole image", false, false},
               {"selection without pixels: whole image", true, false},
               {"masked selection", true, true}};
  for (const Case& c : cases) {
    TFakeView view(1);
    auto& layer = *view.layers[0].bitmap;
    layer.AlphaChannel()->Fill(200);
    TComponent owner(nullptr);
    auto* proc = new TImageLibProc(&owner);
    proc->SetAttachedImageLib(&view);
    view.mask.Allocate(4, 4, 1);
    if (c.withMask) {
      view.mask.SetPixel(1, 1, 1);
      view.mask.SetPixel(2, 2, 1);
    }
    view.selected = c.selected;
    const TRGB before = layer.GetPixelRGB(2, 1);
    int finished = 0;
    proc->OnFinishWork = [&](TObject*) { ++finished; };
    proc->Fill(0x102030);
    const TRGB fill = MakeRGB(0x10, 0x20, 0x30);
    EXPECT_EQ(layer.GetPixelRGB(1, 1), fill) << c.name;
    EXPECT_EQ(layer.GetPixelRGB(2, 2), fill) << c.name;
    // Inside the box but not selected: kept.
    EXPECT_EQ(layer.GetPixelRGB(2, 1), c.withMask ? before : fill) << c.name;
    EXPECT_EQ(layer.GetPixelRGB(3, 3) == fill, !c.withMask) << c.name;
    EXPECT_EQ(layer.GetAlpha(1, 1), 200) << c.name;
    EXPECT_EQ(finished, 1) << c.name;
    EXPECT_GE(view.updates, 1) << c.name;
    EXPECT_EQ(proc->GetUndoCaption(0), "Fill (16, 32, 48)") << c.name;
    proc->Undo();
    EXPECT_EQ(layer.GetPixelRGB(2, 1), before) << c.name;
    EXPECT_NE(layer.GetPixelRGB(1, 1), fill) << c.name;
  }
}

TEST(ProcGrey, ConvertToGrayConvertsFormatOrLeavesItWhenAsked) {
  // A 1-bit image becomes 24-bit first; with conversion off it stays as it
  // is, though its undo entry was taken.
  for (bool convert : {true, false}) {
    TIEBitmap b(5, 3, ie1g);
    b.Fill(0);
    SetBit(b.ScanLine(1), 2, true);
    TComponent owner(nullptr);
    auto* proc = new TImageLibProc(&owner);
    proc->AttachBitmap(&b);
    proc->SetAutoConvertFormat(convert);
    proc->ConvertToGray();
    EXPECT_EQ(b.PixelFormat(), convert ? ie24RGB : ie1g);
    EXPECT_EQ(b.GetPixelAsRGB(2, 1), MakeRGB(255, 255, 255));
    EXPECT_EQ(proc->UndoCount(), 1);
    EXPECT_EQ(proc->GetUndoCaption(0), "ConvertToGray");
  }
  TFakeView view(1);
  auto& layer = *view.layers[0].bitmap;
  layer.SetPixelRGB(1, 2, MakeRGB(200, 100, 50));
  layer.SetPixelRGB(0, 0, MakeRGB(200, 100, 50));
  TImageLibProc proc(nullptr);
  proc.SetAttachedImageLib(&view);
  view.mask.Allocate(4, 4, 8);
  view.mask.SetPixel(1, 2, 255);
  view.selected = true;
  proc.ConvertToGray();
  EXPECT_EQ(layer.GetPixelRGB(1, 2), MakeRGB(117, 117, 117));
  EXPECT_EQ(layer.GetPixelRGB(0, 0), MakeRGB(200, 100, 50));
}

}  // namespace

#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/ui/ext_ctrls.h"

namespace {

TEST(ProcAttach, FrameworkImageControlIsProcessedInItsBitmapAndForgottenWhenFreed) {
  TComponent owner(nullptr);
  auto* image = new TImage(&owner);
  TBitmap* tb = image->Picture()->Bitmap();
  tb->SetPixelFormat(pf24bit);
  tb->SetSize(4, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      auto* p = static_cast<uint8_t*>(tb->ScanLine(y)) + 3 * x;
      p[0] = uint8_t(10 * x), p[1] = uint8_t(10 * y), p[2] = 7;
    }
  TImageLibProc proc(nullptr);
  proc.SetAttachedTImage(image);
  EXPECT_EQ(proc.AttachedTImage(), image);
  ASSERT_EQ(proc.GetIEBitmap()->Width(), 4);
  proc.Flip(0);
  EXPECT_EQ(static_cast<uint8_t*>(tb->ScanLine(1))[0], 30);  // column 3 now first
  // A quarter turn builds a new picture: the image's bitmap takes it.
  proc.Rotate(90);
  ASSERT_EQ(tb->GetWidth(), 3);
  ASSERT_EQ(tb->GetHeight(), 4);
  // Counter-clockwise: pixel (2, 3) is the flipped picture's (0, 2).
  EXPECT_EQ(static_cast<uint8_t*>(tb->ScanLine(3))[6], 30);
  EXPECT_EQ(static_cast<uint8_t*>(tb->ScanLine(3))[7], 20);
  // The bitmap changed behind the component: the next operation sees it.
  tb->SetSize(5, 2);
  proc.Clear();
  EXPECT_EQ(proc.GetIEBitmap()->Width(), 5);
  delete image;
  EXPECT_EQ(proc.AttachedTImage(), nullptr);
  EXPECT_TRUE(proc.GetIEBitmap()->IsEmpty());
  proc.Flip(1);  // nothing to work on, nothing breaks
}

}  // namespace
