// IEV and ALL streams: round trips, the edge cases of their versions, and a
// table of damaged streams that must change nothing.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <zlib.h>

#include "platform/rtl/streams.h"
#include "support/test_support.h"
#include "vect_test_support.h"

namespace {

std::vector<uint8_t> Bytes(TMemoryStream& s) {
  const auto* p = static_cast<const uint8_t*>(s.Memory());
  return std::vector<uint8_t>(p, p + s.Size());
}

std::vector<uint8_t> SaveIEV(TImageLibVect& v) {
  TMemoryStream s;
  EXPECT_TRUE(v.SaveObjectsToStream(s, IEV_ALL_OBJECTS));
  return Bytes(s);
}

bool LoadIEV(TImageLibVect& v, const std::vector<uint8_t>& bytes, bool append = false) {
  TMemoryStream s;
  s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  s.SetPosition(0);
  return v.LoadObjectsFromStream(s, append);
}

// A whole IEV stream of one version around an object part written by hand.
std::vector<uint8_t> HandmadeIEV(char version, const std::vector<uint8_t>& objects, int32_t slots = 0) {
  std::vector<uint8_t> out = {'I', 'E', 'V', uint8_t(version), 0, 0, 0, 0};
  const double scale = 1;
  out.insert(out.end(), reinterpret_cast<const uint8_t*>(&scale), reinterpret_cast<const uint8_t*>(&scale) + 8);
  out.insert(out.end(), reinterpret_cast<const uint8_t*>(&slots), reinterpret_cast<const uint8_t*>(&slots) + 4);
  for (int32_t i = 0; i < slots; ++i) out.insert(out.end(), 4, 0);
  uLongf size = compressBound(uLong(objects.size()));
  std::vector<uint8_t> packed(size);
  compress2(packed.data(), &size, objects.data(), uLong(objects.size()), Z_DEFAULT_COMPRESSION);
  out.insert(out.end(), packed.begin(), packed.begin() + long(size));
  return out;
}

struct Rec {
  std::vector<uint8_t> b;
  Rec& I(int32_t v) {
    b.insert(b.end(), reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + 4);
    return *this;
  }
  Rec& U(uint8_t v) {
    b.push_back(v);
    return *this;
  }
  Rec& D(double v) {
    b.insert(b.end(), reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + 8);
    return *this;
  }
  Rec& S(const std::string& s) {
    I(int32_t(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  // The common part of a version "S" record.
  Rec& Common(uint8_t kind, int x1 = 1, int y1 = 2, int x2 = 30, int y2 = 40) {
    I(0).I(x1).I(y1).I(x2).I(y2).U(kind).U(0).U(0).I(0);
    U(0).D(3).I(2).I(2).I(100).U(0).U(0).U(0);
    S("").I(0).I(0x0000FF).U(psSolid).I(1).I(0xFFFFFF).U(bsClear).U(15).I(255).U(0).U(0).I(0);
    return *this;
  }
};

TEST_F(VectTest, EveryKindSurvivesSaveLoadSave) {
  AddEveryKind();
  vect->SetMeasureScale(2.5);
  const std::vector<uint8_t> first = SaveIEV(*vect);
  TImageLibVect other(nullptr);
  ASSERT_TRUE(LoadIEV(other, first)) << other.LastLoadError();
  EXPECT_EQ(other.ObjectsCount(), vect->ObjectsCount());
  EXPECT_EQ(other.MeasureScale(), 2.5);
  EXPECT_EQ(SaveIEV(other), first);
  // Fields of a few kinds come back as they were.
  const TIEVObject* memo = other.GetObjectRec(other.GetObjFromIndex(9));
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(memo->Kind, ievkMemo);
  EXPECT_EQ(memo->Text, "two\nlines");
  EXPECT_EQ(memo->CharFormats.size(), 1u);
  EXPECT_EQ(memo->CharFormats[0][279], 7);
  const TIEVObject* bitmap = other.GetObjectRec(other.GetObjFromIndex(4));
  ASSERT_NE(other.GetBitmapAt(bitmap->BitmapIndex), nullptr);
  auto pic = Picture(8, 6, 1);
  EXPECT_TRUE(SameBitmaps(*other.GetBitmapAt(bitmap->BitmapIndex), *pic));
  const TIEVObject* poly = other.GetObjectRec(other.GetObjFromIndex(7));
  EXPECT_EQ(poly->PointCount(), 4);
  EXPECT_TRUE(poly->Closed);
}

TEST_F(VectTest, AnUnusedDefaultBitmapIsAnEmptySlotAndComesBack) {
  Add(*Obj(ievkBox, 0, 0, 9, 9));
  const std::vector<uint8_t> bytes = SaveIEV(*vect);
  int32_t slots, count;
  std::memcpy(&slots, bytes.data() + 16, 4);
  std::memcpy(&count, bytes.data() + 20, 4);
  EXPECT_EQ(slots, 1);
  EXPECT_EQ(count, 0);
  TImageLibVect other(nullptr);
  ASSERT_TRUE(LoadIEV(other, bytes));
  TIEBitmap* def = other.GetBitmapAt(other.GetObjectRec(IEV_DEFAULT_OBJECT)->BitmapIndex);
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->Width(), 64);
}

TEST_F(VectTest, AppendedObjectsReferToAppendedSlots) {
  auto pic = Picture(5, 5, 3);
  const int a = Add(*Obj(ievkBitmap, 0, 0, 9, 9));
  const int b = Add(*Obj(ievkBitmap, 10, 0, 19, 9));
  vect->SetObjBitmap(a, pic.get());
  vect->SetObjBitmap(b, pic.get());
  const std::vector<uint8_t> bytes = SaveIEV(*vect);
  TImageLibVect other(nullptr);
  auto mine = Picture(3, 3, 9);
  const int own = other.AddObjectRec(*Obj(ievkBitmap, 0, 0, 5, 5));
  other.SetObjBitmap(own, mine.get());
  ASSERT_TRUE(LoadIEV(other, bytes, true));
  EXPECT_EQ(other.ObjectsCount(), 3);
  const int slot = other.GetObjectRec(other.GetObjFromIndex(1))->BitmapIndex;
  EXPECT_EQ(other.GetObjectRec(other.GetObjFromIndex(2))->BitmapIndex, slot);
  EXPECT_EQ(other.BitmapRefCount(slot), 2);
  EXPECT_TRUE(SameBitmaps(*other.GetBitmapAt(slot), *pic));
  EXPECT_TRUE(SameBitmaps(*other.GetBitmapAt(other.GetObjectRec(own)->BitmapIndex), *mine));
}

TEST_F(VectTest, OnlyAllObjectsAreSaved) {
  TMemoryStream s;
  EXPECT_FALSE(vect->SaveObjectsToStream(s, 0));
  EXPECT_EQ(s.Size(), 0);
}

TEST_F(VectTest, ProbesLookAndPutThePositionBack) {
  Add(*Obj(ievkBox, 0, 0, 9, 9));
  TMemoryStream s;
  s.WriteBuffer("xx", 2);
  vect->SaveObjectsToStream(s, IEV_ALL_OBJECTS);
  s.SetPosition(2);
  EXPECT_TRUE(TImageLibVect::IsIEVStream(s));
  EXPECT_EQ(s.Position(), 2);
  s.SetPosition(0);
  EXPECT_FALSE(TImageLibVect::IsIEVStream(s));
  // An ALL offset beyond the stream is no ALL stream.
  TMemoryStream all;
  all.WriteValue<int32_t>(1000);
  all.WriteBuffer("IEVS", 4);
  all.SetPosition(0);
  EXPECT_FALSE(TImageLibVect::IsALLStream(all));
  EXPECT_EQ(all.Position(), 0);
}

TEST_F(VectTest, AnAllStreamRoundTripsAndKeepsItsOffsetAtItsOwnStart) {
  AddEveryKind();
  TMemoryStream s;
  s.WriteBuffer("prefix!!", 8);
  ASSERT_TRUE(vect->SaveAllToStream(s, -1));
  const std::vector<uint8_t> bytes = Bytes(s);
  int32_t at0, at8;
  std::memcpy(&at0, bytes.data(), 4);
  std::memcpy(&at8, bytes.data() + 8, 4);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "prefix!!");
  EXPECT_GE(at8, 12);
  EXPECT_EQ(std::memcmp(bytes.data() + at8, "IEVS", 4), 0);
  s.SetPosition(8);
  EXPECT_TRUE(TImageLibVect::IsALLStream(s));
  TImageLibVect other(nullptr);
  s.SetPosition(8);
  ASSERT_TRUE(other.LoadAllFromStream(s)) << other.LastLoadError();
  EXPECT_EQ(other.ObjectsCount(), vect->ObjectsCount());
}

TEST_F(VectTest, OlderVersionsReadWithTheirOwnFields) {
  // A version "E" bitmap record has no text; one of "F" has one (skipped).
  auto bitmapRecord = [](char v) {
    Rec r;
    r.I(1);
    if (v >= '<') r.I(0);
    r.I(0).I(0).I(9).I(9).U(ievkBitmap);
    if (v >= 'M') r.U(0);
    if (v >= 'R') r.U(0);
    if (v >= 'S') r.I(0);
    r.U(0).D(3).I(2).I(2);
    if (v >= 'O') r.I(100).U(0).U(0).U(0);
    r.S("").I(0).I(0).U(0).I(1).I(0).U(1).U(15).I(255).U(0);
    if (v >= 'I') r.I(0);
    r.I(7).U(1);  // a slot that is not there: the placeholder
    if (v >= 'F') r.S("ignored");
    r.U(1);
    return r.b;
  };
  for (char v : {'E', 'F'}) {
    SCOPED_TRACE(v);
    TImageLibVect other(nullptr);
    ASSERT_TRUE(LoadIEV(other, HandmadeIEV(v, bitmapRecord(v)))) << other.LastLoadError();
    ASSERT_EQ(other.ObjectsCount(), 1);
    const TIEVObject* r = other.GetObjectRec(other.GetObjFromIndex(0));
    EXPECT_EQ(r->BitmapIndex, -1);
    EXPECT_TRUE(r->BitmapOption);
    EXPECT_TRUE(r->Text.empty());
  }
}

// ---- damaged streams ----

struct Hostile {
  const char* name;
  std::function<std::vector<uint8_t>()> bytes;
  const char* reason;  // a part of the reason the load gives
};

TEST_F(VectTest, DamagedStreamsAreRefusedWithTheirReasonAndChangeNothing) {
  const std::vector<uint8_t> good = [&] {
    TImageLibVect v(nullptr);
    auto text = Obj(ievkText, 0, 0, 40, 20);
    text->Text = "abc";
    v.AddObjectRec(*text);
    auto pic = Picture(4, 4, 2);
    const int b = v.AddObjectRec(*Obj(ievkBitmap, 0, 0, 9, 9));
    v.SetObjBitmap(b, pic.get());
    return SaveIEV(v);
  }();
  auto memo = [](int32_t k, int32_t f, int32_t index) {
    Rec r;
    r.I(1).Common(ievkMemo).S("ab").U(0).U(1).I(index).I(index).I(f);
    for (int32_t i = 0; i < std::min(f, 4); ++i) r.b.insert(r.b.end(), 280, 0);
    (void)k;
    r.U(1).U(0).I(0).I(0).U(0).U(0).I(0).U(0).D(0).D(0).D(0).D(0).U(0).U(1);
    return r.b;
  };
  auto group = [](int depth) {
    Rec r;
    r.I(1);
    for (int i = 0; i < depth; ++i) r.Common(ievkNone).I(1).U(1);
    r.Common(ievkBox).U(1);
    return r.b;
  };
  const Hostile cases[] = {
      {"not IEV", [] { return std::vector<uint8_t>{'I', 'E', 'X', 'S'}; }, "not an IEV"},
      {"version past S", [] { return std::vector<uint8_t>{'I', 'E', 'V', 'T', 0, 0, 0, 0}; }, "not an IEV"},
      {"huge slot count", [] {
         auto b = HandmadeIEV('S', Rec().I(0).b);
         const int32_t n = 0x7FFFFFFF;
         std::memcpy(b.data() + 16, &n, 4);
         return b; }, "slot count"},
      {"negative object count", [] { return HandmadeIEV('S', Rec().I(-1).b); }, "negative object count"},
      {"huge object count", [] { return HandmadeIEV('S', Rec().I(0x7FFFFFFF).b); }, "too large object count"},
      {"huge text", [] { return HandmadeIEV('S', Rec().I(1).Common(ievkText).U(0).U(0).I(0x7FFFFF00).b); },
       "too large a text"},
      {"huge user data", [] {
         Rec r;
         r.I(1).Common(ievkBox);
         r.b.resize(r.b.size() - 4);
         r.I(1 << 30);
         return HandmadeIEV('S', r.b); }, "user data"},
      {"huge curve", [] {
         return HandmadeIEV('S', Rec().I(1).Common(ievkText).U(0).U(0).S("a").U(0).I(1 << 28).b); }, "curve point"},
      {"huge points", [] { return HandmadeIEV('S', Rec().I(1).Common(ievkPolyline).U(1).I(1 << 28).b); }, "point count"},
      {"huge formats", [&] { return HandmadeIEV('S', memo(2, 1 << 24, 0)); }, "character format count"},
      {"format index outside", [&] { return HandmadeIEV('S', memo(2, 1, 3)); }, "character format index"},
      {"negative format index", [&] { return HandmadeIEV('S', memo(2, 1, -1)); }, "character format index"},
      {"unknown kind", [] { return HandmadeIEV('S', Rec().I(1).Common(40).U(1).b); }, "unknown object kind"},
      {"unregistered class", [] {
         return HandmadeIEV('S', Rec().I(1).Common(ievkExtended).U(0).U(0).S("").U(0).I(0).U(1).U(1).S("TMine").b); },
       "unregistered class"},
      {"deep groups", [&] { return HandmadeIEV('S', group(40)); }, "nest too deep"},
      {"group count past the data", [] { return HandmadeIEV('S', Rec().I(1).Common(ievkNone).I(1000).U(1).b); },
       "group count"},
      {"zlib bomb", [] {
         // the first bytes of 64 MB of zeros: far more out than in, and no end
         std::vector<uint8_t> zeros(64 << 20, 0);
         auto b = HandmadeIEV('S', zeros);
         b.resize(std::min<size_t>(b.size(), 2000));
         return b; }, "object data"},
      {"damaged zlib", [&] {
         auto b = good;
         b[b.size() - 10] ^= 0x55;
         b[b.size() - 20] ^= 0x55;
         return b; }, "compressed object data"},
  };
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.name);
    TImageLibVect v(nullptr);
    ASSERT_TRUE(LoadIEV(v, good));
    const std::vector<uint8_t> before = SaveIEV(v);
    EXPECT_FALSE(LoadIEV(v, c.bytes()));
    EXPECT_NE(v.LastLoadError().find(c.reason), std::string::npos) << v.LastLoadError();
    EXPECT_EQ(SaveIEV(v), before);
  }
}

TEST_F(VectTest, EveryCutOfAStreamIsRefusedAndChangesNothing) {
  AddEveryKind();
  const std::vector<uint8_t> good = SaveIEV(*vect);
  const std::vector<uint8_t> before = SaveIEV(*vect);
  for (size_t cut = 0; cut < good.size(); cut += (cut < 64 ? 1 : 37)) {
    std::vector<uint8_t> part(good.begin(), good.begin() + long(cut));
    EXPECT_FALSE(LoadIEV(*vect, part)) << cut;
  }
  EXPECT_EQ(SaveIEV(*vect), before);
}

}  // namespace

// The seeds of fuzz/iev_stream: run with QV_WRITE_FUZZ_SEEDS set to fuzz/corpus
// to write them; otherwise checks that they are committed.
TEST(FuzzSeeds, VectorStreamSeedsWrittenWhenAskedAndPresent) {
  RegisterFormatFilters();
  qvtest::EnsureImageIO();
  TImageLibVect v(nullptr);
  auto line = std::make_unique<TIEVObject>();
  line->Kind = ievkLine;
  line->X2 = 40;
  line->Y2 = 20;
  line->EndShape = 2;
  v.AddObjectRec(*line);
  auto text = std::make_unique<TIEVObject>();
  text->Kind = ievkText;
  text->X2 = 40;
  text->Y2 = 12;
  text->Text = "fuzz";
  text->CurvePoints = {{0, 0}, {1, 1}};
  v.AddObjectRec(*text);
  auto memo = std::make_unique<TIEVObject>();
  memo->Kind = ievkMemo;
  memo->X2 = 30;
  memo->Y2 = 30;
  memo->Text = "ab";
  memo->CharFormatIndex = {0, 0, 0};
  memo->CharFormats.resize(1);
  v.AddObjectRec(*memo);
  auto ruler = std::make_unique<TIEVObject>();
  ruler->Kind = ievkRuler;
  ruler->X2 = 30;
  ruler->RulerType = 0;
  v.AddObjectRec(*ruler);
  auto pic = std::make_unique<TIEBitmap>(3, 2, ie24RGB);
  pic->Fill(0x123456);
  auto bitmap = std::make_unique<TIEVObject>();
  bitmap->Kind = ievkBitmap;
  bitmap->X2 = 9;
  bitmap->Y2 = 9;
  v.SetObjBitmap(v.AddObjectRec(*bitmap), pic.get());
  TMemoryStream iev, all;
  ASSERT_TRUE(v.SaveObjectsToStream(iev, IEV_ALL_OBJECTS));
  ASSERT_TRUE(v.SaveAllToStream(all, -1));
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } seeds[] = {{"objects.iev", Bytes(iev)}, {"objects.all", Bytes(all)}};
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (const auto& s : seeds) {
    if (out && *out) {
      const std::filesystem::path dir = std::filesystem::path(out) / "iev_stream";
      std::filesystem::create_directories(dir);
      qvtest::WriteFileBytes((dir / s.name).string(), s.bytes);
      continue;
    }
    const std::filesystem::path file = std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus" / "iev_stream" / s.name;
    EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
  }
}
