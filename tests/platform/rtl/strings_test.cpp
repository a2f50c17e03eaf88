#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/strings.h"
#include "platform/rtl/sysutils.h"
#include "string_lines.h"
#include "test_support.h"

TEST(StringList, SortedAddFindAndDuplicates) {
  TStringList list;
  list.SetSorted(true);
  for (const char* s : {"pear", "Apple", "fig", "apple", "banana"}) list.Add(s);
  // Case-insensitive by default: "apple" is a duplicate of "Apple" and is ignored.
  EXPECT_EQ(Lines(list), (V{"Apple", "banana", "fig", "pear"}));
  int index = -1;
  EXPECT_TRUE(list.Find("FIG", index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(list.Find("cherry", index));
  EXPECT_EQ(index, 2);  // where it would go
  EXPECT_EQ(list.IndexOf("PEAR"), 3);
  EXPECT_EQ(list.Add("BANANA"), 1);  // dupIgnore answers with the existing line

  list.SetDuplicates(dupError);
  try {
    list.Add("Fig");
    FAIL();
  } catch (const EStringListError& e) {
    EXPECT_EQ(e.Message(), "String list does not allow duplicates");
  }
  list.SetDuplicates(dupAccept);
  list.Add("FIG");
  EXPECT_EQ(list.Count(), 5);
  EXPECT_TRUE(list.Find("fig", index));
  EXPECT_EQ(index, 2);  // the first of the equal lines

  EXPECT_THROW(list.Insert(0, "x"), EStringListError);
  EXPECT_THROW(list.SetStrings(0, "x"), EStringListError);

  list.SetCaseSensitive(true);
  // Byte order now: upper case before lower case.
  EXPECT_EQ(Lines(list), (V{"Apple", "FIG", "banana", "fig", "pear"}));
  EXPECT_EQ(list.IndexOf("Fig"), -1);
  EXPECT_EQ(list.IndexOf("fig"), 3);
}

TEST(StringList, SortAndCustomSortOnAnUnsortedList) {
  TStringList list;
  list.SetCommaText("c,a,b,a,d,e,b");
  list.Sort();
  EXPECT_EQ(Lines(list), (V{"a", "a", "b", "b", "c", "d", "e"}));
  list.CustomSort([](TStringList* l, int i, int j) { return CompareStr(l->Strings(j), l->Strings(i)); });
  EXPECT_EQ(Lines(list), (V{"e", "d", "c", "b", "b", "a", "a"}));
  // A comparison that is no order at all must not run off the list.
  list.CustomSort([](TStringList*, int, int) { return -1; });
  EXPECT_EQ(list.Count(), 7);
  int a = 1;
  list.Clear();
  list.AddObject("one", reinterpret_cast<TObject*>(&a));
  list.Add("two");
  list.Exchange(0, 1);
  EXPECT_EQ(list.Objects(1), reinterpret_cast<TObject*>(&a));
  EXPECT_EQ(list.IndexOfObject(reinterpret_cast<TObject*>(&a)), 1);
  EXPECT_THROW(list.Objects(2), EStringListError);
  list.Move(1, 0);
  EXPECT_EQ(Lines(list), (V{"one", "two"}));
  EXPECT_EQ(list.Objects(0), reinterpret_cast<TObject*>(&a));
}

TEST(StringList, NamesAndValues) {
  TStringList list;
  list.SetText("Width=48\r\nheight=32\r\nno separator\r\nEmpty=\r\nPath=C:\\a=b\r\n");
  EXPECT_EQ(list.Names(0), "Width");
  EXPECT_EQ(list.Names(2), "");
  EXPECT_EQ(list.Values("HEIGHT"), "32");
  EXPECT_EQ(list.Values("Path"), "C:\\a=b");  // only the first '=' separates
  EXPECT_EQ(list.Values("missing"), "");
  EXPECT_EQ(list.Values("Empty"), "");
  EXPECT_EQ(list.IndexOfName("empty"), 3);
  EXPECT_EQ(list.IndexOfName("no separator"), -1);
  EXPECT_EQ(list.ValueFromIndex(2), "");
  list.SetValues("height", "16");
  EXPECT_EQ(list[1], "height=16");
  list.SetValues("Depth", "32");
  EXPECT_EQ(list[5], "Depth=32");
  list.SetValues("Width", "");
  EXPECT_EQ(list.IndexOfName("Width"), -1);

  TStringList sorted;
  sorted.SetSorted(true);
  sorted.SetValues("b", "1");
  sorted.SetValues("a", "2");
  sorted.SetValues("b", "3");  // a sorted list cannot Put; the value must still change
  EXPECT_EQ(Lines(sorted), (V{"a=2", "b=3"}));
}

TEST(StringList, CommaAndDelimitedText) {
  struct Case {
    const char* text;
    V lines;
  } cases[] = {
      {"a,b,c", {"a", "b", "c"}},
      {"a b,c", {"a", "b", "c"}},  // a blank splits too
      {"\"a b\",\"say \"\"hi\"\"\"", {"a b", "say \"hi\""}},
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a", ""}},
      {"  a , b  ", {"a", "b"}},
      {"\"\"", {""}},
      {"", {}},
      {"\"unterminated", {"unterminated"}},
  };
  for (const auto& c : cases) {
    TStringList list;
    list.SetCommaText(c.text);
    EXPECT_EQ(Lines(list), c.lines) << c.text;
  }
  TStringList list;
  for (const char* s : {"plain", "with space", "q\"uote", "com,ma", ""}) list.Add(s);
  EXPECT_EQ(list.CommaText(), "plain,\"with space\",\"q\"\"uote\",\"com,ma\",");
  TStringList back;
  back.SetCommaText(list.CommaText());
  EXPECT_TRUE(back.Equals(list));
  TStringList one;
  one.Add("");
  EXPECT_EQ(one.CommaText(), "\"\"");

  TStringList semi;
  semi.SetDelimiter(';');
  semi.SetQuoteChar('\'');
  semi.SetStrictDelimiter(true);
  semi.SetDelimitedText("a b;'c;d';e");
  EXPECT_EQ(Lines(semi), (V{"a b", "c;d", "e"}));
  EXPECT_EQ(semi.DelimitedText(), "a b;'c;d';e");
}

TEST(StringList, TextSplitsOnAnyLineEndAndWritesCrLf) {
  TStringList list;
  list.SetText("one\rtwo\nthree\r\nfour\n\nsix");
  EXPECT_EQ(Lines(list), (V{"one", "two", "three", "four", "", "six"}));
  EXPECT_EQ(list.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n\r\nsix\r\n");
  list.SetText("last\r\n");
  EXPECT_EQ(Lines(list), (V{"last"}));

  qvtest::TempDir dir;
  std::string file = dir.File("list.txt");
  list.SetText("a\nb");
  list.SaveToFile(file);
  EXPECT_EQ(qvtest::ReadFileBytes(file), (std::vector<uint8_t>{'a', '\r', '\n', 'b', '\r', '\n'}));
  TStringList loaded;
  loaded.LoadFromFile(file);
  EXPECT_EQ(Lines(loaded), (V{"a", "b"}));
  EXPECT_THROW(loaded.LoadFromFile(dir.File("missing.txt")), EFOpenError);
  // A failed save leaves the old file as it was.
  EXPECT_THROW(list.SaveToFile(dir.File("no/such/dir/x.txt")), EFCreateError);

  TMemoryStream stream;
  stream.WriteBuffer("skip|x\ny", 8);
  stream.SetPosition(5);
  loaded.LoadFromStream(stream);  // from the current position on
  EXPECT_EQ(Lines(loaded), (V{"x", "y"}));
}

TEST(StringList, ChangeEventsWaitForTheLastEndUpdate) {
  TStringList list;
  int changes = 0, changing = 0;
  list.OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, &list);
    ++changes;
  };
  list.OnChanging = [&](TObject*) { ++changing; };
  list.Add("a");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(changing, 1);
  list.BeginUpdate();
  list.BeginUpdate();
  list.Add("b");
  list.Delete(0);
  list.EndUpdate();
  EXPECT_EQ(changes, 1);
  list.EndUpdate();
  EXPECT_EQ(changes, 2);
  list.SetCommaText("x,y,z");  // one change for the whole text
  EXPECT_EQ(changes, 3);
}

TEST(StringList, AssignTakesLinesAndObjectsOnly) {
  TStringList a, b;
  int tag = 0;
  a.AddObject("x", reinterpret_cast<TObject*>(&tag));
  a.Add("y");
  b.Add("old");
  b.Assign(&a);
  EXPECT_EQ(Lines(b), (V{"x", "y"}));
  EXPECT_EQ(b.Objects(0), reinterpret_cast<TObject*>(&tag));
  b.AddStrings(&b);  // adding a list to itself doubles it once
  EXPECT_EQ(b.Count(), 4);
  TPersistent other;
  try {
    b.Assign(&other);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TPersistent to a TStringList");
  }
}

TEST(StringList, ChangeHandlerExceptionsReachTheCaller) {
  TStringList list;
  bool armed = true;
  list.OnChange = [&](TObject*) {
    if (armed) throw EAbort("stop");
  };
  EXPECT_THROW(list.SetCommaText("a,b"), EAbort);
  EXPECT_EQ(list.UpdateCount(), 0);
  // A failure inside the update wins over the handler's.
  armed = false;
  list.SetSorted(true);
  list.SetDuplicates(dupError);
  armed = true;
  EXPECT_THROW(list.SetCommaText("x,x"), EStringListError);
  EXPECT_EQ(list.UpdateCount(), 0);
}
