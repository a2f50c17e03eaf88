#include "base/typed_lists.h"

#include <gtest/gtest.h>

#include <vector>

#include "exception_text.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/filer.h"

namespace {

template <class L> std::vector<int> Items(const L& list) {
  std::vector<int> v;
  for (int i = 0; i < list.Count(); ++i) v.push_back(list.Get(i));
  return v;
}

template <class L> void Fill(L& list, std::initializer_list<int> values) {
  for (int v : values) list.Add(static_cast<decltype(list.Get(0))>(v));
}


TEST(TypedLists, AddGrowsByFourUpToEightThenBySixteen) {
  TListLongint list;
  std::vector<int> capacities;
  for (int i = 0; i < 29; ++i) {
    list.Add(i);
    if (capacities.empty() || capacities.back() != list.Capacity()) capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int>{4, 8, 12, 28, 44}));
}

TEST(TypedLists, SetCountZeroFillsToExactCapacityAndClearReleases) {
  TListByte list;
  list.SetCount(5);
  EXPECT_EQ(list.Capacity(), 5);
  EXPECT_EQ(Items(list), (std::vector<int>{0, 0, 0, 0, 0}));
  list.Put(4, 7);
  list.SetCount(2);
  list.SetCount(5);
  EXPECT_EQ(list.Get(4), 0) << "items added again by SetCount are zero";
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
}

TEST(TypedLists, RangeErrorsCarryTheOffendingNumber) {
  TListLongint list;
  Fill(list, {1, 2, 3});
  EXPECT_EQ(MessageOf([&] { list.Get(3); }), "List index out of bounds (3)");
  EXPECT_EQ(MessageOf([&] { list.Put(-1, 0); }), "List index out of bounds (-1)");
  EXPECT_EQ(MessageOf([&] { list.Delete(5); }), "List index out of bounds (5)");
  EXPECT_EQ(MessageOf([&] { list.Exchange(0, 9); }), "List index out of bounds (9)");
  EXPECT_EQ(MessageOf([&] { list.SetCount(-1); }), "List count out of bounds (-1)");
  EXPECT_EQ(MessageOf([&] { list.SetCount(134217728); }), "List count out of bounds (134217728)");
  EXPECT_EQ(MessageOf([&] { list.SetCapacity(2); }), "List capacity out of bounds (2)");
  EXPECT_EQ(MessageOf([&] { list.Insert(4, 0); }), "List index out of bounds (4)");
}

TEST(TypedLists, InsertDeleteAndReverse) {
  TListLongint list;
  Fill(list, {1, 2, 3});
  list.Insert(3, 4);  // at the count: appends
  list.Insert(0, 0);
  EXPECT_EQ(Items(list), (std::vector<int>{0, 1, 2, 3, 4}));
  list.Reverse();
  EXPECT_EQ(Items(list), (std::vector<int>{4, 3, 2, 1, 0}));
  list.Delete(1);
  EXPECT_EQ(Items(list), (std::vector<int>{4, 2, 1, 0}));
  EXPECT_EQ(list.Capacity(), 8);
  TListLongint one;
  one.Add(5);
  one.Reverse();
  EXPECT_EQ(Items(one), (std::vector<int>{5}));
}

TEST(TypedLists, IndexOfFillAndAddMissing) {
  TListLongint a, b;
  Fill(a, {5, 7});
  Fill(b, {7, 8, 8, 9, 5});
  EXPECT_EQ(a.IndexOf(7), 1);
  EXPECT_EQ(a.IndexOf(6), -1);
  a.AddMissing(b);
  EXPECT_EQ(Items(a), (std::vector<int>{5, 7, 8, 9}));
  a.Fill(-3);
  EXPECT_EQ(Items(a), (std::vector<int>{-3, -3, -3, -3}));
}

TEST(TypedLists, SortOrdersSignedIntegersAndUnsignedBytes) {
  TListLongint ints;
  Fill(ints, {5, -1, 3, 3, 0, -7, 100});
  ints.Sort(0, ints.Count() - 1);
  EXPECT_EQ(Items(ints), (std::vector<int>{-7, -1, 0, 3, 3, 5, 100}));
  TListByte bytes;
  Fill(bytes, {200, 1, 128, 0, 255});
  bytes.Sort(1, 3);  // only the middle range
  EXPECT_EQ(Items(bytes), (std::vector<int>{200, 0, 1, 128, 255}));
}

TEST(TypedLists, SortingAnEmptyOrOneItemRangeDoesNothing) {
  TListLongint empty;
  EXPECT_NO_THROW(empty.Sort(0, -1));
  EXPECT_NO_THROW(empty.Sort(0, empty.Count() - 1));
  TListByte one;
  one.Add(9);
  EXPECT_NO_THROW(one.Sort(0, 0));
  EXPECT_EQ(one.Get(0), 9);
  TListLongint three;
  Fill(three, {3, 2, 1});
  EXPECT_THROW(three.Sort(0, 3), EListError) << "a range past the end is refused";
}

TEST(TypedLists, SortHandlesLargeOrderedAndReversedRuns) {
  // Ordered, reversed and constant runs are where a careless partition recurses
  // once per item.
  for (int pattern = 0; pattern < 3; ++pattern) {
    TListLongint list;
    for (int i = 0; i < 100000; ++i) list.Add(pattern == 0 ? i : pattern == 1 ? -i : 5);
    list.Sort(0, list.Count() - 1);
    for (int i = 1; i < list.Count(); ++i) ASSERT_LE(list.Get(i - 1), list.Get(i)) << pattern;
  }
}

TEST(TypedLists, BaseClassCannotSortOrAdd) {
  struct TBare : TListCustom {
    void SetCapacity(int32_t) override {}
    void SetCount(int32_t) override {}
    void Clear() override {}
    void Delete(int32_t) override {}
    void Exchange(int32_t, int32_t) override {}
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream&) override {}
  } bare;
  EXPECT_EQ(MessageOf([&] { bare.Sort(0, 1); }), "Sort not available");
  TListByte other;
  EXPECT_EQ(MessageOf([&] { bare.AddList(nullptr); }).rfind("Cannot add a nil to a ", 0), 0u);
}

TEST(TypedLists, AddListAppendsSameClassAndRefusesOthers) {
  TListLongint a, b;
  Fill(a, {1, 2});
  Fill(b, {3});
  a.AddList(&b);
  a.AddList(&a);  // appending itself doubles it
  EXPECT_EQ(Items(a), (std::vector<int>{1, 2, 3, 1, 2, 3}));
  TListByte bytes;
  EXPECT_EQ(MessageOf([&] { a.AddList(&bytes); }), "Cannot assign a TListByte to a TListLongint");
  EXPECT_EQ(MessageOf([&] { a.AddList(nullptr); }), "Cannot assign a nil to a TListLongint");
}

TEST(TypedLists, AssignCopiesBetweenListsOfOneClass) {
  TListByte a, b;
  Fill(a, {7, 255});
  b.Assign(&a);
  EXPECT_EQ(Items(b), (std::vector<int>{7, 255}));
  TListLongint l;
  EXPECT_THROW(l.Assign(&a), EConvertError);
}

TEST(TypedLists, TextLinesInAndOut) {
  TListByte bytes;
  Fill(bytes, {7, 255});
  TStringList lines;
  lines.Add("old");
  lines.Assign(&bytes);
  ASSERT_EQ(lines.Count(), 2);
  EXPECT_EQ(lines[0], "7");
  EXPECT_EQ(lines[1], "255");

  TListLongint ints;
  ints.Add(99);
  TStringList in;
  in.Add("-5");
  in.Add("$10");
  ints.Assign(&in);
  EXPECT_EQ(Items(ints), (std::vector<int>{-5, 16}));
  ints.AddList(&in);
  EXPECT_EQ(Items(ints), (std::vector<int>{-5, 16, -5, 16}));

  TListByte low;
  TStringList wide;
  wide.Add("258");
  low.AddList(&wide);
  EXPECT_EQ(low.Get(0), 2) << "a byte list keeps the low 8 bits";

  in.Add("x1");
  in.Add("4");
  TListLongint partial;
  EXPECT_THROW(partial.AddList(&in), EConvertError);
  EXPECT_EQ(Items(partial), (std::vector<int>{-5, 16})) << "lines before the bad one stay added";
}

class TCounted : public TObject {
public:
  explicit TCounted(int& frees) : FFrees(frees) {}
  ~TCounted() override { ++FFrees; }

private:
  int& FFrees;
};

TEST(ObjectLists, FreeListObjectsFreesEachObjectOnce) {
  int frees = 0;
  TList list;
  auto* a = new TCounted(frees);
  auto* b = new TCounted(frees);
  list.Add(a);
  list.Add(nullptr);
  list.Add(a);
  list.Add(b);
  list.Add(a);
  FreeListObjects(&list);
  EXPECT_EQ(frees, 2);
  EXPECT_EQ(list.Count(), 0);
}

TEST(ObjectLists, DeleteListObjectFreesOnlyTheLastReference) {
  int frees = 0;
  TList list;
  auto* a = new TCounted(frees);
  list.Add(a);
  list.Add(a);
  list.Add(nullptr);
  DeleteListObject(&list, 0);
  EXPECT_EQ(frees, 0);
  EXPECT_EQ(list.Count(), 2);
  DeleteListObject(&list, 1);  // the nil slot
  DeleteListObject(&list, 0);
  EXPECT_EQ(frees, 1);
  EXPECT_EQ(list.Count(), 0);
}

TEST(ObjectLists, SwapAndCopyContents) {
  int x = 0, y = 0, z = 0;
  TList a, b;
  a.Add(&x);
  a.Add(&y);
  b.Add(&z);
  SwapListContents(&a, &b);
  ASSERT_EQ(a.Count(), 1);
  ASSERT_EQ(b.Count(), 2);
  EXPECT_EQ(a[0], &z);
  EXPECT_EQ(b[1], &y);
  CopyListContents(&b, &a);
  ASSERT_EQ(a.Count(), 2);
  EXPECT_EQ(a[0], &x);
}

// ---- form streaming ----

template <class L> void SaveProperties(L& list, TMemoryStream& s) {
  TWriter writer(&s);
  writer.WriteProperties(&list);
  s.SetPosition(0);
}

TEST(TypedLists, FormStreamingRoundTripsAndSkipsEmptyLists) {
  TListLongint longs;
  Fill(longs, {1, -300, 70000});
  TMemoryStream s;
  SaveProperties(longs, s);
  // "Longs", then 3 as an Int8 value, then the items in their smallest integer form.
  const std::vector<uint8_t> expected = {5, 'L', 'o', 'n', 'g', 's', vaInt8, 3, vaInt8, 1, vaInt16, 0xD4, 0xFE,
                                         vaInt32, 0x70, 0x11, 0x01, 0x00, vaNull};
  EXPECT_EQ(std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size()), expected);
  TListLongint back;
  TReader reader(&s);
  reader.ReadProperties(&back);
  EXPECT_EQ(Items(back), Items(longs));

  TListByte bytes;
  Fill(bytes, {9, 255});
  TMemoryStream b;
  SaveProperties(bytes, b);
  const std::vector<uint8_t> expectedBytes = {5, 'B', 'y', 't', 'e', 's', vaInt8, 2, 9, 255, vaNull};
  EXPECT_EQ(std::vector<uint8_t>(b.Memory(), b.Memory() + b.Size()), expectedBytes);
  TListByte bytesBack;
  TReader bytesReader(&b);
  bytesReader.ReadProperties(&bytesBack);
  EXPECT_EQ(Items(bytesBack), Items(bytes));

  TListByte empty;
  TMemoryStream e;
  SaveProperties(empty, e);
  EXPECT_EQ(e.Size(), 1) << "an empty list stores no property";
}

TEST(TypedLists, FormStreamingRefusesCountsTheStreamDoesNotHold) {
  const std::vector<uint8_t> cases[] = {
      {5, 'L', 'o', 'n', 'g', 's', vaInt32, 0xFF, 0xFF, 0xFF, 0x07, vaInt8, 1, vaNull},
      {5, 'L', 'o', 'n', 'g', 's', vaInt8, 0xFF, vaNull},
      {5, 'B', 'y', 't', 'e', 's', vaInt32, 0x00, 0x00, 0x00, 0x40, 1, 2, vaNull},
      {5, 'B', 'y', 't', 'e', 's', vaInt8, 0xFE, vaNull},
  };
  for (const auto& bytes : cases) {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    s.SetPosition(0);
    TReader reader(&s);
    if (bytes[1] == 'L') {
      TListLongint list;
      EXPECT_THROW(reader.ReadProperties(&list), EReadError);
      EXPECT_LE(list.Capacity(), 4);
    } else {
      TListByte list;
      EXPECT_THROW(reader.ReadProperties(&list), EReadError);
      EXPECT_LE(list.Capacity(), 4);
    }
  }
}

// ---- stream records ----

TEST(TypedLists, LongintRecordRoundTrips) {
  TListLongint a;
  Fill(a, {1, -2, 0x7FFFFFFF});
  TMemoryStream s;
  a.SaveToStream(s);
  EXPECT_EQ(s.Size(), 16);
  EXPECT_EQ(s.Memory()[0], 3);
  EXPECT_EQ(s.Memory()[8], 0xFE);
  s.SetPosition(0);
  TListLongint b;
  b.LoadFromStream(s);
  EXPECT_EQ(Items(b), Items(a));
}

struct TByteRecordCase {
  int count;
  std::vector<uint8_t> head;  // the bytes before the items
};
// How the case reads in the test list and in a failure.
void PrintTo(const TByteRecordCase& c, std::ostream* os) { *os << c.count << " records"; }

class ByteRecordTest : public ::testing::TestWithParam<TByteRecordCase> {};

TEST_P(ByteRecordTest, CountByteOrLongCountThenItems) {
  const auto& c = GetParam();
  TListByte a;
  for (int i = 0; i < c.count; ++i) a.Add(static_cast<uint8_t>(i * 7));
  TMemoryStream s;
  a.SaveToStream(s);
  ASSERT_EQ(s.Size(), static_cast<int64_t>(c.head.size()) + c.count);
  EXPECT_EQ(std::vector<uint8_t>(s.Memory(), s.Memory() + c.head.size()), c.head);
  s.SetPosition(0);
  TListByte b;
  b.Add(1);
  b.LoadFromStream(s);
  EXPECT_EQ(Items(b), Items(a));
}

INSTANTIATE_TEST_SUITE_P(Counts, ByteRecordTest,
                         ::testing::Values(TByteRecordCase{0, {0}}, TByteRecordCase{1, {1}},
                                           TByteRecordCase{250, {250}},
                                           TByteRecordCase{251, {251, 251, 0, 0, 0}},
                                           TByteRecordCase{70000, {251, 0x70, 0x11, 0x01, 0x00}}));

TEST(TypedLists, CorruptRecordsAreRefusedWithoutHugeAllocations) {
  struct TCase {
    const char* what;
    bool longs;
    std::vector<uint8_t> bytes;
  };
  const TCase cases[] = {
      {"long count past the data", true, {0xFF, 0xFF, 0xFF, 0x07, 1, 2, 3, 4}},
      {"negative long count", true, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"truncated long items", true, {2, 0, 0, 0, 1, 0, 0, 0, 2}},
      {"short long count", true, {2, 0}},
      {"empty stream", true, {}},
      {"byte count past the data", false, {5, 1, 2}},
      {"long byte count past the data", false, {251, 0xFF, 0xFF, 0xFF, 0x07, 1}},
      {"negative long byte count", false, {251, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"short long byte count", false, {251, 1, 0}},
      {"count byte never written", false, {252, 1, 2, 3}},
      {"empty stream", false, {}},
  };
  for (const auto& c : cases) {
    TMemoryStream s;
    s.WriteBuffer(c.bytes.data(), static_cast<int64_t>(c.bytes.size()));
    s.SetPosition(0);
    if (c.longs) {
      TListLongint list;
      EXPECT_THROW(list.LoadFromStream(s), EReadError) << c.what;
      EXPECT_LE(list.Capacity(), 4) << c.what;
    } else {
      TListByte list;
      EXPECT_THROW(list.LoadFromStream(s), EReadError) << c.what;
      EXPECT_LE(list.Capacity(), 4) << c.what;
    }
  }
}

}  // namespace
