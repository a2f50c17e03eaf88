// Icon and cursor libraries over PE files built by the mingw-w64 cross tools,
// NE files of the test-side writer, and files the raw scan has to search.
#include "icons/icon_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "icons/module_readers.h"
#include "icons/pe_module.h"
#include "mingw_samples.h"
#include "ne_test_writer.h"
#include "platform/win/shell.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using icontest::DibImage;
using icontest::IcoFile;

using mingwtest::IcotoolImages;
using mingwtest::WrestoolEntry;
using mingwtest::WrestoolList;

std::string ImageLine(TSubIcon* image, bool cursor) {
  std::string hx = "-", hy = "-";
  if (cursor) hx = std::to_string(image->HotspotX()), hy = std::to_string(image->HotspotY());
  return std::to_string(image->GetWidth()) + " " + std::to_string(image->GetHeight()) + " " +
         std::to_string(image->GetBitsPerPixel()) + " " + hx + " " + hy;
}

Bytes CursorFile(int size, int bpp, uint16_t x, uint16_t y) {
  return IcoFile({{DibImage(size, size, bpp), 0, 0, x, y}}, 2);
}

// An EXE and a DLL with numbered and named icon and cursor groups, a group in
// a second language, and an ICL-style name list in the DLL.
class LibraryFixture : public mingwtest::SampleSuite<LibraryFixture> {
protected:
  static void SetUpTestSuite() {
    RegisterExecutableLoaders();
    Make(
        [](const qvtest::TempDir& d) {
          qvtest::WriteFileBytes(d.File("q.cur"), CursorFile(32, 4, 10, 20));
          mingwtest::WriteText(d.File("r.rc"),
                               "MAINICON ICON \"a.ico\"\n2 ICON \"b.ico\"\nPOINTER CURSOR \"p.cur\"\n5 CURSOR \"q.cur\"\n"
                               "LANGUAGE 7, 1\nGERMAN ICON \"c.ico\"\n");
          mingwtest::WriteText(d.File("d.rc"),
                               "1 ICON \"a.ico\"\n2 ICON \"c.ico\"\n1 301 { \"\\003ICL\\004STAR\\004MOON\" }\n");
          mingwtest::WriteText(d.File("l.c"), "int f(void){return 1;}\n");
        },
        "i686-w64-mingw32-windres r.rc -O coff -o r.o && i686-w64-mingw32-windres d.rc -O coff -o d.o && "
        "i686-w64-mingw32-gcc -s m.c r.o -o t.exe && i686-w64-mingw32-gcc -s -shared l.c d.o -o t.dll");
    if (built) exe = dir->File("t.exe"), dll = dir->File("t.dll");
  }
  static inline std::string exe, dll;
};

TEST_F(LibraryFixture, OracleIconGroupsMatchWrestoolAndIcotool) {
  if (!qvtest::HaveProgram("wrestool") || !qvtest::HaveProgram("icotool")) GTEST_SKIP() << "icoutils missing";
  for (const std::string& file : {exe, dll}) {
    TIconLibrary library;
    EXPECT_TRUE(library.LoadFromFile(file)) << file;
    EXPECT_TRUE(library.IsMZ());
    EXPECT_TRUE(library.IsPE());
    const std::vector<WrestoolEntry> groups = WrestoolList(file, "14");
    EXPECT_EQ(library.IconGroupCount(), int(groups.size()));
    ASSERT_EQ(library.Icons().Count(), int(groups.size())) << file;
    for (size_t g = 0; g < groups.size(); ++g) {
      EXPECT_EQ(library.Icons().Strings(int(g)), groups[g].name);
      const std::string ico = dir->File("x.ico");
      ASSERT_EQ(qvtest::RunCommand("wrestool -x --type=14 --name=" + groups[g].name + " -o '" + ico + "' '" + file +
                                   "'"),
                0);
      std::vector<std::string> ours;
      TAdvancedIcon* icon = library.GetIcon(int(g));
      for (int i = 0; i < icon->Count(); ++i) ours.push_back(ImageLine(icon->Images()[i], false));
      EXPECT_EQ(ours, IcotoolImages(ico)) << groups[g].name;
    }
  }
}

TEST_F(LibraryFixture, OracleCursorGroupsMatchWrestoolAndIcotool) {
  if (!qvtest::HaveProgram("wrestool") || !qvtest::HaveProgram("icotool")) GTEST_SKIP() << "icoutils missing";
  TCursorLibrary library;
  ASSERT_TRUE(library.LoadFromFile(exe));
  const std::vector<WrestoolEntry> groups = WrestoolList(exe, "12");
  ASSERT_EQ(library.Cursors().Count(), int(groups.size()));
  for (size_t g = 0; g < groups.size(); ++g) {
    EXPECT_EQ(library.Cursors().Strings(int(g)), groups[g].name);
    const std::string cur = dir->File("x.cur");
    ASSERT_EQ(qvtest::RunCommand("wrestool -x --type=12 --name=" + groups[g].name + " -o '" + cur + "' '" + exe + "'"),
              0);
    TAdvancedIcon* cursor = library.GetCursor(int(g));
    ASSERT_EQ(cursor->Count(), 1);
    // icotool refuses wrestool's cursor files (their byte count still holds
    // the hotspot), so the one entry is read by hand.
    const Bytes c = qvtest::ReadFileBytes(cur);
    ASSERT_GE(c.size(), 22u + 40u);
    const uint32_t dib = icontest::Get32(c, 18);
    ASSERT_LT(dib + 16, c.size());
    const std::string theirs = std::to_string(c[6]) + " " + std::to_string(c[7]) + " " +
                               std::to_string(icontest::Get16(c, dib + 14)) + " " +
                               std::to_string(icontest::Get16(c, 10)) + " " + std::to_string(icontest::Get16(c, 12));
    EXPECT_EQ(ImageLine(cursor->Images()[0], true), theirs);
  }
  // The DLL has no cursors: the reader runs and finds none.
  EXPECT_TRUE(library.LoadFromFile(dll));
  EXPECT_EQ(library.Cursors().Count(), 0);
}

TEST_F(LibraryFixture, ReadersThroughTheModuleLoader) {
  TIconLibrary library;
  ASSERT_TRUE(library.LoadWithReaders(exe));
  EXPECT_EQ(library.IconGroupCount(), 3);  // ExtractIconEx's count
  ASSERT_EQ(library.Icons().Count(), 3);
  const int main = IndexOfLibraryIcon(exe, "MAINICON");
  ASSERT_GE(main, 0);
  EXPECT_EQ(library.GetIcon(main)->Count(), 2);
  EXPECT_EQ(IndexOfLibraryIcon(exe, "mainicon"), -1);  // exact names only
  EXPECT_GE(IndexOfLibraryIcon(exe, "2"), 0);

  // The names of an icon library DLL come from its name list.
  T32BitReader reader(dll);
  ASSERT_TRUE(reader.ReadLibrary());
  ASSERT_EQ(reader.Result().Count(), 2);
  EXPECT_EQ(reader.Result().Strings(0), "STAR");
  EXPECT_EQ(reader.Result().Strings(1), "MOON");
  EXPECT_EQ(reader.Result().GetIconObject(1)->Count(), 1);

  EXPECT_EQ(ExtractIconExA(dll.c_str(), -1, nullptr, nullptr, 0), 2u);
  HICON large = nullptr;
  EXPECT_EQ(ExtractIconExA(exe.c_str(), 0, &large, nullptr, 1), 1u);
  EXPECT_NE(large, nullptr);
  DestroyIcon(large);
}

TEST_F(LibraryFixture, NamesKeepTheirCaseThroughEitherReader) {
  // windres upper-cases names; other tools (and our own writer) keep them as given.
  TPEResourceModule module;
  module.LoadFromFile(exe);
  TResourceDetails* group = module.FindByTypeAndName("14", "MAINICON");
  ASSERT_NE(group, nullptr);
  group->Rename("MainIcon");
  module.SortResources();
  const std::string file = dir->File("mixed.exe");
  module.SaveToFile(file);

  TIconLibrary direct, loader;
  EXPECT_TRUE(direct.LoadFromFile(file));
  ASSERT_TRUE(loader.LoadWithReaders(file));
  std::vector<std::string> a, b;
  for (int i = 0; i < direct.Icons().Count(); ++i) a.push_back(direct.Icons().Strings(i));
  for (int i = 0; i < loader.Icons().Count(); ++i) b.push_back(loader.Icons().Strings(i));
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
  const int at = IndexOfLibraryIcon(file, "MainIcon");
  ASSERT_GE(at, 0);
  EXPECT_EQ(loader.Icons().Strings(at), "MainIcon");
  EXPECT_EQ(loader.GetIcon(at)->Count(), 2);  // found again by the loader's look-up
  EXPECT_EQ(IndexOfLibraryIcon(file, "MAINICON"), -1);
}

TEST_F(LibraryFixture, LibraryIconHandles) {
  TIconLibrary library;
  library.LoadFromFile(exe);
  EXPECT_EQ(GetLibraryIconHandle(exe, library.Icons().Count(), 32, 32), nullptr);
  EXPECT_EQ(GetLibraryIconHandle(exe, -1, 32, 32), nullptr);
  HICON h = GetLibraryIconHandle(exe, 0, 32, 32);
  ASSERT_NE(h, nullptr);
  ICONINFO info{};
  EXPECT_TRUE(GetIconInfo(h, &info));
  DestroyIcon(h);
}

TEST_F(LibraryFixture, SixtyFourBitImagesAreRefusedCleanly) {
  Bytes b = qvtest::ReadFileBytes(dll);
  const uint32_t e = icontest::Get32(b, 60);
  icontest::Put16(b, e + 24, 0x20B);
  const std::string file = dir->File("wide.dll");
  qvtest::WriteFileBytes(file, b);
  TPEResourceModule module;
  EXPECT_THROW(module.LoadFromFile(file), EPEException);
  T32BitReader reader(file);
  EXPECT_FALSE(reader.ReadNames());
  EXPECT_FALSE(reader.ReadLibrary());
  TCursorLibrary cursors;
  EXPECT_FALSE(cursors.LoadFromFile(file));
  TIconLibrary library;
  EXPECT_NO_THROW(library.LoadFromFile(file));
}

TEST_F(LibraryFixture, DamagedImagesDoNotThrowFromTheLibrary) {
  const Bytes good = qvtest::ReadFileBytes(exe);
  TPEResourceModule probe;
  probe.LoadFromFile(exe);
  const uint32_t rsrc = probe.GetResourceSection()->Header().PointerToRawData;
  const std::vector<std::function<void(Bytes&)>> damage = {
      [rsrc](Bytes& b) { icontest::Put32(b, rsrc + 16 + 4, 0x80000000u); },  // a cycle
      [rsrc](Bytes& b) { icontest::Put16(b, rsrc + 14, 0xFFFF); },           // a huge count
      [rsrc](Bytes& b) { b.resize(rsrc + 100); },                            // cut short
  };
  for (const auto& d : damage) {
    Bytes b = good;
    d(b);
    const std::string file = dir->File("bad.exe");
    qvtest::WriteFileBytes(file, b);
    TIconLibrary library;
    EXPECT_NO_THROW(library.LoadFromFile(file));
    EXPECT_NO_THROW(library.LoadWithReaders(file));
    TCursorLibrary cursors;
    EXPECT_NO_THROW(cursors.LoadFromFile(file));
  }
}

// ---- files without a reader's help -------------------------------------------

TEST(IconLibrary, TextFileIsNoLibrary) {
  qvtest::TempDir dir;
  const std::string file = dir.File("notes.icl");
  const std::string text(1000, 'x');
  qvtest::WriteFileBytes(file, Bytes(text.begin(), text.end()));
  TIconLibrary library;
  EXPECT_FALSE(library.LoadFromFile(file));
  EXPECT_FALSE(library.IsMZ());
  EXPECT_EQ(library.IconGroupCount(), -1);
  EXPECT_EQ(library.Icons().Count(), 0);
  EXPECT_THROW(library.LoadFromFile(dir.File("missing.icl")), Exception);
}

TEST(IconLibrary, NEFileOpensAsNamedIcons) {
  const Bytes a = DibImage(32, 32, 4);
  netest::TypeBlock images{0x8003, {{"", 1, a}}};
  netest::TypeBlock groups{0x800E, {{"SUN", 0, netest::IconGroup({{a, 1}})}}};
  qvtest::TempDir dir;
  const std::string file = dir.File("lib.icl");
  qvtest::WriteFileBytes(file, netest::Write({images, groups}).bytes);
  TIconLibrary library;
  EXPECT_TRUE(library.LoadFromFile(file));
  EXPECT_FALSE(library.IsPE());
  EXPECT_EQ(library.IconGroupCount(), 1);
  ASSERT_EQ(library.Icons().Count(), 1);
  EXPECT_EQ(library.Icons().Strings(0), "SUN");
  EXPECT_TRUE(library.LoadWithReaders(file));
  EXPECT_EQ(library.Icons().Strings(0), "SUN");
}

// An NE file whose group names an icon block it lacks, so that the readers
// fail, followed by raw images for the scan to find.
Bytes ScanFile(const Bytes& tail) {
  netest::TypeBlock groups{0x800E, {{"", 1, netest::IconGroup({{DibImage(16, 16, 4), 1}})}}};
  Bytes f = netest::Write({groups}).bytes;
  f.insert(f.end(), tail.begin(), tail.end());
  f.resize(f.size() + 600, 0);
  return f;
}

TEST(IconLibrary, ScanFindsImagesAndMergesSizes) {
  Bytes tail;
  // A stray PNG signature first: its bytes are no PNG and must not end the scan.
  const Bytes sig = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 1, 2, 3, 4, 5, 6, 7, 8};
  tail.insert(tail.end(), sig.begin(), sig.end());
  for (int s : {48, 32, 16}) {
    const Bytes d = DibImage(s, s, 4, uint8_t(s));
    tail.insert(tail.end(), d.begin(), d.end());
  }
  // A header that claims more bytes than the file holds, near its end.
  Bytes last = DibImage(128, 128, 32);
  last.resize(700);
  tail.insert(tail.end(), last.begin(), last.end());

  qvtest::TempDir dir;
  const std::string file = dir.File("scan.icl");
  qvtest::WriteFileBytes(file, ScanFile(tail));
  TIconLibrary library;
  EXPECT_TRUE(library.LoadFromFile(file));
  ASSERT_EQ(library.Icons().Count(), 1);
  EXPECT_EQ(library.Icons().Strings(0), "Icon 1");
  TAdvancedIcon* icon = library.GetIcon(0);
  ASSERT_EQ(icon->Count(), 3);
  EXPECT_EQ(icon->Images()[0]->GetWidth(), 48);
  EXPECT_EQ(icon->Images()[1]->GetWidth(), 32);
  EXPECT_EQ(icon->Images()[2]->GetWidth(), 16);
}

TEST(IconLibrary, MergeRules) {
  struct Case {
    std::vector<std::pair<int, int>> images;  // size, depth per scanned entry
    std::vector<int> counts;                 // images per entry after the merge
  } cases[] = {
      {{{48, 8}, {32, 8}, {16, 8}}, {3}},
      {{{16, 8}, {32, 32}}, {2}},   // larger and deeper
      {{{16, 8}, {32, 8}}, {1, 1}}, // larger, same depth
      {{{32, 8}, {32, 32}}, {1, 1}},  // equal sizes never merge
      {{{32, 32}, {16, 8}}, {1, 1}},  // smaller but shallower
  };
  for (const Case& c : cases) {
    TIconLibrary library;
    for (auto [size, depth] : c.images) {
      auto icon = std::make_unique<TAdvancedIcon>();
      TCustomMemoryStream s(nullptr, 0);
      const Bytes d = DibImage(size, size, depth);
      TCustomMemoryStream bits(d.data(), int64_t(d.size()));
      icon->Images().Add(TSubIcon::CreateFromBitsStream(bits));
      library.Icons().AddIcon("", std::move(icon));
    }
    library.MergeScannedIcons(0);
    std::vector<int> counts;
    for (int i = 0; i < library.Icons().Count(); ++i) counts.push_back(library.GetIcon(i)->Count());
    EXPECT_EQ(counts, c.counts);
  }
}

TEST(IconList, NamesAndOwnership) {
  TIconList list;
  list.AddIcon("A", std::make_unique<TAdvancedIcon>());
  list.AddIcon("", nullptr);
  list.AddIcon("B", std::make_unique<TAdvancedIcon>());
  list.AddIcon("", std::make_unique<TAdvancedCursor>());
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Strings(2), "Icon 3");
  list.Delete(0);
  EXPECT_EQ(list.Strings(0), "B");
  TIconList other;
  other.TakeEntries(list);
  EXPECT_EQ(list.Count(), 0);
  ASSERT_EQ(other.Count(), 2);
  EXPECT_NE(dynamic_cast<TAdvancedCursor*>(other.GetIconObject(1)), nullptr);
}

TEST(IconList, MovingAndExchangingKeepEveryIcon) {
  // Move went through the list's Delete, which frees the entry's icon: the
  // moved entry was left pointing at freed memory.
  TIconList list;
  std::vector<TAdvancedIcon*> icons;
  for (const char* name : {"A", "B", "C", "D"}) {
    auto icon = std::make_unique<TAdvancedIcon>();
    icons.push_back(icon.get());
    list.AddIcon(name, std::move(icon));
  }
  list.Move(0, 3);
  list.Move(2, 0);
  list.Exchange(1, 3);
  std::string names;
  for (int i = 0; i < list.Count(); ++i) names += list.Strings(i);
  EXPECT_EQ(names, "DACB");
  const std::vector<TAdvancedIcon*> expected = {icons[3], icons[0], icons[2], icons[1]};
  for (int i = 0; i < list.Count(); ++i) {
    ASSERT_EQ(list.GetIconObject(i), expected[size_t(i)]) << i;
    EXPECT_EQ(list.GetIconObject(i)->Count(), 0);  // a live object (ASan reads it)
  }
}

}  // namespace

namespace {

TEST(IconList, StreamsWithItsHolder) {
  TIconListHolder holder(nullptr);
  for (int s : {32, 16}) {
    auto icon = std::make_unique<TAdvancedIcon>();
    const Bytes d = DibImage(s, s, 8, uint8_t(s));
    TCustomMemoryStream bits(d.data(), int64_t(d.size()));
    icon->Images().Add(TSubIcon::CreateFromBitsStream(bits));
    holder.IconList()->AddIcon(s == 32 ? "BIG" : "", std::move(icon));
  }
  TMemoryStream stream;
  {
    TWriter writer(&stream);
    writer.WriteProperties(&holder);
  }
  stream.SetPosition(0);
  TIconListHolder back(nullptr);
  back.IconList()->AddIcon("OLD", std::make_unique<TAdvancedIcon>());
  {
    TReader reader(&stream);
    reader.ReadProperties(&back);
  }
  TIconList& list = *back.IconList();
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Strings(0), "BIG");
  EXPECT_EQ(list.Strings(1), "Icon 2");
  ASSERT_EQ(list.GetIconObject(1)->Count(), 1);
  EXPECT_EQ(list.GetIconObject(1)->Images()[0]->Bits(), holder.IconList()->GetIconObject(1)->Images()[0]->Bits());

  // An empty list stores nothing.
  TIconListHolder empty(nullptr);
  TMemoryStream none;
  {
    TWriter writer(&none);
    writer.WriteProperties(&empty);
  }
  EXPECT_EQ(none.Size(), 1);  // the end-of-list marker only
}

}  // namespace

namespace {

TEST(IconLibrary, ExecutableSignatureAtTheWholeOffset) {
  struct Case {
    uint32_t lfanew;
    const char* signature;
    bool executable, pe;
  } cases[] = {
      {0x80, "PE", true, true},
      {0x80, "NE", true, false},
      {0x80, "LE", false, false},
      {0x00010080, "PE", false, false},  // only the low half points at "PE"
      {0xFFFFFFF0u, "PE", false, false},
  };
  qvtest::TempDir dir;
  for (const Case& c : cases) {
    Bytes f(0x100, 0);
    f[0] = 'M', f[1] = 'Z';
    icontest::Put32(f, 60, c.lfanew);
    f[0x80] = uint8_t(c.signature[0]), f[0x81] = uint8_t(c.signature[1]);
    qvtest::WriteFileBytes(dir.File("x.exe"), f);
    bool pe = !c.pe;
    EXPECT_EQ(IsExecutableImage(dir.File("x.exe"), pe), c.executable) << c.lfanew;
    EXPECT_EQ(pe, c.pe) << c.lfanew;
  }
}

}  // namespace
