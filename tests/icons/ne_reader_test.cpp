// The 16-bit readers over NE files written by the test-side writer.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "icons/module_readers.h"
#include "mingw_samples.h"
#include "ne_test_writer.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using icontest::DibImage;

constexpr uint16_t kIcon = 0x8003, kGroupIcon = 0x800E, kCursor = 0x8001, kGroupCursor = 0x800C;

// Three groups: Star (32 and 16 pixels), Moon (32), and one with an integer id.
// The name strings are stored in the opposite order to the groups, so that
// names matched by position would go to the wrong groups.
netest::NEFile Library() {
  const Bytes a = DibImage(32, 32, 4), b = DibImage(16, 16, 8), c = DibImage(32, 32, 8);
  netest::TypeBlock images{kIcon, {{"", 1, a}, {"", 2, b}, {"", 3, c}}};
  netest::TypeBlock groups{kGroupIcon,
                           {{"", 7, netest::IconGroup({{c, 3}})},
                            {"MOON", 0, netest::IconGroup({{c, 3}})},
                            {"STAR", 0, netest::IconGroup({{a, 1}, {b, 2}})}}};
  return netest::Write({images, groups}, 4, {"ICL"});
}

std::string WriteTemp(qvtest::TempDir& dir, const std::string& name, const Bytes& bytes) {
  const std::string path = dir.File(name);
  qvtest::WriteFileBytes(path, bytes);
  return path;
}

TEST(NEReader, GroupsTakeTheNamesTheirIdsPointAt) {
  qvtest::TempDir dir;
  const std::string file = WriteTemp(dir, "styles.icl", Library().bytes);
  T16BitReader reader(file);
  ASSERT_TRUE(reader.ReadLibrary());
  TIconList& r = reader.Result();
  ASSERT_EQ(r.Count(), 3);
  EXPECT_EQ(r.Strings(0), "styles 001");
  EXPECT_EQ(r.Strings(1), "MOON");
  EXPECT_EQ(r.Strings(2), "STAR");
  ASSERT_EQ(r.GetIconObject(2)->Count(), 2);
  EXPECT_EQ(r.GetIconObject(2)->Images()[0]->GetWidth(), 32);
  EXPECT_EQ(r.GetIconObject(2)->Images()[0]->GetBitsPerPixel(), 4);
  EXPECT_EQ(r.GetIconObject(2)->Images()[1]->GetWidth(), 16);
  EXPECT_EQ(r.GetIconObject(1)->Images()[0]->GetBitsPerPixel(), 8);
  EXPECT_NE(dynamic_cast<TICL16IconImage*>(r.GetIconObject(1)->Images()[0]), nullptr);
  EXPECT_EQ(dynamic_cast<TICL16Icon*>(r.GetIconObject(2))->Name, "STAR");

  T16BitReader names(file);
  ASSERT_TRUE(names.ReadNames());
  ASSERT_EQ(names.Result().Count(), 3);
  EXPECT_EQ(names.Result().Strings(2), "STAR");
  EXPECT_EQ(names.Result().Objects(2), nullptr);
}

TEST(NEReader, OracleWrestoolListsTheSameGroups) {
  if (!qvtest::HaveProgram("wrestool")) GTEST_SKIP() << "icoutils missing";
  qvtest::TempDir dir;
  const std::string file = WriteTemp(dir, "lib.icl", Library().bytes);
  std::vector<std::string> theirs;
  for (const auto& e : mingwtest::WrestoolList(file, "14")) theirs.push_back(e.name);
  T16BitReader reader(file);
  ASSERT_TRUE(reader.ReadLibrary());
  // wrestool names an integer group by its number.
  ASSERT_EQ(theirs.size(), 3u);
  EXPECT_EQ(theirs[0], "7");
  EXPECT_EQ(theirs[1], reader.Result().Strings(1));
  EXPECT_EQ(theirs[2], reader.Result().Strings(2));
  // And extracts the same images of each group.
  for (int g = 1; g < 3; ++g) {
    const std::string ico = dir.File("g.ico");
    ASSERT_EQ(qvtest::RunCommand("wrestool -x --type=14 --name=" + theirs[size_t(g)] + " -o '" + ico + "' '" +
                                 file + "' 2>/dev/null"),
              0);
    TAdvancedIcon icon;
    ASSERT_TRUE(icon.LoadFromFile(ico));
    TAdvancedIcon* ours = reader.Result().GetIconObject(g);
    ASSERT_EQ(icon.Count(), ours->Count());
    // Our images keep the resource's whole length, alignment padding and all.
    for (int i = 0; i < icon.Count(); ++i) {
      const Bytes& a = icon.Images()[i]->Bits();
      Bytes b = ours->Images()[i]->Bits();
      ASSERT_GE(b.size(), a.size());
      EXPECT_LT(b.size() - a.size(), 16u);
      b.resize(a.size());
      EXPECT_EQ(a, b);
    }
  }
}

TEST(NEReader, MissingImageKeepsTheImagesBeforeIt) {
  const Bytes a = DibImage(16, 16, 4);
  netest::TypeBlock images{kIcon, {{"", 1, a}}};
  netest::TypeBlock groups{kGroupIcon, {{"", 1, netest::IconGroup({{a, 1}, {a, 9}, {a, 1}})}}};
  qvtest::TempDir dir;
  T16BitReader reader(WriteTemp(dir, "m.icl", netest::Write({images, groups}).bytes));
  ASSERT_TRUE(reader.ReadLibrary());
  ASSERT_EQ(reader.Result().Count(), 1);
  EXPECT_EQ(reader.Result().GetIconObject(0)->Count(), 1);
}

TEST(NEReader, CursorsWithHotspotsAndEmptyGroupsDropped) {
  const Bytes dib = DibImage(32, 32, 1);
  netest::TypeBlock images{kCursor, {{"", 1, netest::CursorImage(dib, 5, 9)}}};
  netest::TypeBlock groups{kGroupCursor,
                           {{"ARROW", 0, netest::IconGroup({{dib, 1}}, 2)},
                            {"BROKEN", 0, netest::IconGroup({{dib, 4}}, 2)}}};
  qvtest::TempDir dir;
  T16BitReaderC reader(WriteTemp(dir, "c.exe", netest::Write({images, groups}).bytes));
  ASSERT_TRUE(reader.ReadLibrary());
  ASSERT_EQ(reader.Result().Count(), 1);
  EXPECT_EQ(reader.Result().Strings(0), "ARROW");
  TSubIcon* image = reader.Result().GetIconObject(0)->Images()[0];
  EXPECT_EQ(image->HotspotX(), 5);
  EXPECT_EQ(image->HotspotY(), 9);
  EXPECT_EQ(image->GetWidth(), 32);
  EXPECT_EQ(image->Bits(), dib);
  // The icon reader finds no icon blocks in a cursor file.
  T16BitReader icons(dir.File("c.exe"));
  EXPECT_FALSE(icons.ReadLibrary());
}

TEST(NEReader, HostileFilesFailCleanly) {
  const netest::NEFile good = Library();
  const size_t t = good.resourceTable, ne = good.neHeader, e0 = good.entryOffsets[0];
  const size_t g0 = good.entryOffsets[3];
  using icontest::Put16;
  using icontest::Put32;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> mutate;
    bool reads;  // still a library (with fewer images) rather than a refusal
    const char* reason;  // the first rule that fired, as LastRefusal names it ("" for none)
  };
  const char* block = "a block of the resource table runs past the end";
  const char* outside = "Resource lies outside the file";
  const char* headerPast = "the new header lies past the end";
  const Case cases[] = {
      {"not MZ", [](Bytes& b) { b[0] = 'X'; }, false, "Not a valid ICL File"},
      {"new header below 60", [](Bytes& b) { Put32(b, 60, 20); }, false, "Invalid Windows 16 Offset"},
      {"new header past the end", [](Bytes& b) { Put32(b, 60, 0xFFFFFF00u); }, false, headerPast},
      {"high half of e_lfanew set", [](Bytes& b) { Put32(b, 60, 0x00010040u); }, false, headerPast},
      {"no NE", [ne](Bytes& b) { b[ne] = 'X'; }, false, "no NE signature"},
      {"no resource table", [ne](Bytes& b) { Put16(b, ne + 36, 0); }, false, "No Resources in file"},
      {"no names table", [ne](Bytes& b) { Put16(b, ne + 38, 0); }, false, "Names Table not found"},
      {"resource table past the end", [ne](Bytes& b) { Put16(b, ne + 36, 0xFFF0); }, false,
       "the resource table lies past the end"},
      {"huge shift", [t](Bytes& b) { Put16(b, t, 40); }, false, "an alignment shift above 20"},
      {"huge entry count", [t](Bytes& b) { Put16(b, t + 4, 0xFFFF); }, false, block},
      {"cut inside the table", [t](Bytes& b) { b.resize(t + 20); }, false, block},
      {"image offset past the end", [e0](Bytes& b) { Put16(b, e0, 0xFFFF); }, true, outside},
      {"image length past the end", [e0](Bytes& b) { Put16(b, e0 + 2, 0xFFFF); }, true, outside},
      {"group length past the end", [g0](Bytes& b) { Put16(b, g0 + 2, 0xFFFF); }, true, outside},
      {"name offset past the end", [g0](Bytes& b) { Put16(b, g0 + 6, 0x7FFF); }, true, ""},
  };
  qvtest::TempDir dir;
  for (const Case& c : cases) {
    Bytes b = good.bytes;
    c.mutate(b);
    const std::string file = WriteTemp(dir, "h.icl", b);
    T16BitReader reader(file);
    EXPECT_EQ(reader.ReadLibrary(), c.reads) << c.what;
    EXPECT_EQ(reader.LastRefusal(), c.reason) << c.what;
    T16BitReaderC cursors(file);
    EXPECT_FALSE(cursors.ReadLibrary()) << c.what;
  }
}

}  // namespace
