#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/lists.h"

namespace {
// Counts its own destructions, so a test sees what a list freed.
struct Counted : TObject {
  explicit Counted(int* deaths) : FDeaths(deaths) {}
  ~Counted() override { ++*FDeaths; }
  int* FDeaths;
};
}  // namespace

TEST(List, IndexErrorsCarryTheIndex) {
  TList list;
  int a = 1, b = 2, c = 3;
  list.Add(&a);
  list.Add(&b);
  list.Insert(0, &c);
  EXPECT_EQ(list.IndexOf(&a), 1);
  EXPECT_EQ(list.First(), &c);
  EXPECT_EQ(list.Last(), &b);
  try {
    list.Get(3);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (3)");
  }
  EXPECT_THROW(list.Insert(4, &a), EListError);
  EXPECT_THROW(list.Delete(-1), EListError);
  EXPECT_THROW(list.SetCount(-1), EListError);
  list.Move(0, 2);
  EXPECT_EQ(list[2], &c);
  list.SetCount(5);
  EXPECT_EQ(list[4], nullptr);
  list.Pack();
  EXPECT_EQ(list.Count(), 3);
  list.Sort([](void* x, void* y) { return *static_cast<int*>(x) - *static_cast<int*>(y); });
  EXPECT_EQ(list[0], &a);
  EXPECT_EQ(list[2], &c);
  TList empty;
  EXPECT_THROW(empty.First(), EListError);
}

TEST(ObjectList, FreesWhatItDeletesButNotWhatItHandsBack) {
  int deaths = 0;
  auto* kept = new Counted(&deaths);
  {
    TObjectList list;
    list.Add(new Counted(&deaths));
    list.Add(kept);
    list.Add(new Counted(&deaths));
    list.Add(new Counted(&deaths));
    list.Delete(0);
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(list.Extract(kept), kept);
    EXPECT_EQ(deaths, 1);
    list.SetItems(0, new Counted(&deaths));  // the replaced object goes
    EXPECT_EQ(deaths, 2);
    EXPECT_EQ(list.Count(), 2);
  }
  EXPECT_EQ(deaths, 4);  // the two left were freed with the list
  delete kept;

  deaths = 0;
  Counted borrowed(&deaths);
  {
    TObjectList list(false);
    list.Add(&borrowed);
    list.Remove(&borrowed);
    list.Add(&borrowed);
  }
  EXPECT_EQ(deaths, 0);
}
