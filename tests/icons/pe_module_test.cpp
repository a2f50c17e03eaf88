#include "icons/pe_module.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

#include "icons/icon_library.h"
#include "mingw_samples.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Rd32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}
void Wr32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
void Wr16(Bytes& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}

Bytes IcoFile(int size) {
  Bytes d;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) d.push_back(uint8_t(v >> (8 * i)));
  };
  const uint32_t bytes = 40 + size * size * 4 + ((size + 31) / 32) * 4 * size;
  put(0, 2), put(1, 2), put(1, 2);
  put(size, 1), put(size, 1), put(0, 1), put(0, 1), put(1, 2), put(32, 2), put(bytes, 4), put(22, 4);
  put(40, 4), put(size, 4), put(size * 2, 4), put(1, 2), put(32, 2);
  for (int i = 0; i < 6; ++i) put(0, 4);
  d.resize(22 + bytes, 0x7F);
  return d;
}

// One executable built by the mingw-w64 cross tools for the whole test run:
// named and numbered icon groups, a cursor, and two languages.
class PEFixture : public mingwtest::SampleSuite<PEFixture> {
protected:
  static void SetUpTestSuite() {
    Make(
        [](const qvtest::TempDir& d) {
          qvtest::WriteFileBytes(d.File("a.ico"), IcoFile(16));
          qvtest::WriteFileBytes(d.File("b.ico"), IcoFile(32));
          Bytes cur = IcoFile(32);
          cur[2] = 2;  // a cursor file: type 2, hotspot in the planes/bit-count fields
          qvtest::WriteFileBytes(d.File("c.cur"), cur);
          mingwtest::WriteText(d.File("r.rc"),
                               "MAINICON ICON \"a.ico\"\n2 ICON \"b.ico\"\nPOINTER CURSOR \"c.cur\"\n"
                               "LANGUAGE 7, 1\n2 ICON \"a.ico\"\n");
        },
        "i686-w64-mingw32-windres r.rc -O coff -o r.o && i686-w64-mingw32-gcc -s m.c r.o -o t.exe");
    if (built) exe = dir->File("t.exe");
  }
  static inline std::string exe;
};

std::vector<std::string> ResourceLines(const TResourceModule& m) {
  std::vector<std::string> lines;
  for (int i = 0; i < m.GetResourceCount(); ++i) {
    TResourceDetails* r = m.GetResource(i);
    lines.push_back(r->ResourceType() + " " + r->Name() + " " + std::to_string(r->Language()) + " " +
                    std::to_string(r->Data().Size()));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// wrestool -l lines as "type name language size".
std::vector<std::string> WrestoolLines(const std::string& file) {
  std::vector<std::string> lines;
  for (const auto& e : mingwtest::WrestoolList(file)) lines.push_back(e.type + " " + e.name + " " + e.language + " " + e.size);
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST_F(PEFixture, OracleResourcesMatchWrestool) {
  if (!qvtest::HaveProgram("wrestool")) GTEST_SKIP();
  TPEResourceModule m;
  m.LoadFromFile(exe);
  EXPECT_EQ(ResourceLines(m), WrestoolLines(exe));
  TResourceDetails* named = m.FindByTypeAndName("14", "MAINICON");
  ASSERT_NE(named, nullptr);
  EXPECT_TRUE(named->NameIsText());
  EXPECT_FALSE(m.FindByTypeAndName("14", "2")->NameIsText());
  // The bytes are those wrestool extracts.
  std::string raw;
  qvtest::RunCommand("wrestool -x --raw --type=14 --name=MAINICON '" + exe + "' | od -An -tx1 -v", &raw);
  std::string ours;
  char hex[4];
  for (int64_t i = 0; i < named->Data().Size(); ++i) {
    snprintf(hex, sizeof hex, " %02x", named->Data().Memory()[i]);
    ours += hex;
  }
  raw.erase(std::remove(raw.begin(), raw.end(), '\n'), raw.end());
  EXPECT_EQ(ours, raw);
}

TEST_F(PEFixture, OracleEachLanguageOfAGroupKeepsItsOwnImages) {
  if (!qvtest::HaveProgram("wrestool") || !qvtest::HaveProgram("icotool")) GTEST_SKIP() << "icoutils missing";
  // Group 2 is in English (32 pixels) and in German (16 pixels): two entries,
  // each with the images wrestool extracts for its language.
  TIconLibrary library;
  EXPECT_TRUE(library.LoadFromFile(exe));
  const std::vector<mingwtest::WrestoolEntry> groups = mingwtest::WrestoolList(exe, "14");
  ASSERT_EQ(groups.size(), 3u);
  ASSERT_EQ(library.Icons().Count(), 3);
  EXPECT_EQ(library.IconGroupCount(), 3);
  std::vector<std::vector<std::string>> ours, theirs;
  for (int g = 0; g < 3; ++g) {
    EXPECT_EQ(library.Icons().Strings(g), groups[size_t(g)].name);
    const std::string ico = dir->File("x.ico");
    ASSERT_EQ(qvtest::RunCommand("wrestool -x --type=14 --name=" + groups[size_t(g)].name + " --language=" +
                                 groups[size_t(g)].language + " -o '" + ico + "' '" + exe + "'"),
              0);
    theirs.push_back(mingwtest::IcotoolImages(ico));
    ours.emplace_back();
    for (int i = 0; i < library.GetIcon(g)->Count(); ++i) {
      TSubIcon* image = library.GetIcon(g)->Images()[i];
      ours.back().push_back(std::to_string(image->GetWidth()) + " " + std::to_string(image->GetHeight()) + " " +
                            std::to_string(image->GetBitsPerPixel()) + " - -");
    }
  }
  EXPECT_EQ(ours, theirs);
  EXPECT_NE(ours[1], ours[2]);
}

TEST_F(PEFixture, OracleRewrittenImageKeepsSectionsAndPassesPefile) {
  TPEResourceModule m;
  m.LoadFromFile(exe);
  // Resources that no longer fit where the section lies, with sections after
  // it, are refused rather than moving code and data away from their addresses.
  Bytes big(100000, 0xAB);
  const int blob = m.AddResource(std::make_unique<TResourceDetails>(&m, 1033, "BLOB", "10", big.size(), big.data()));
  const std::string outFile = dir->File("out.exe");
  EXPECT_THROW(m.SaveToFile(outFile), EPEException);
  m.DeleteResource(blob);
  // A change that fits: a small new resource, the German group gone.
  const Bytes small(100, 0xCD);
  m.AddResource(std::make_unique<TResourceDetails>(&m, 1033, "BLOB", "10", small.size(), small.data()));
  for (int i = 0; i < m.GetResourceCount(); ++i)
    if (m.GetResource(i)->Language() == 1031 && m.GetResource(i)->ResourceType() == "14") m.DeleteResource(i);
  m.SortResources();
  m.SaveToFile(outFile);

  TPEResourceModule back;
  back.LoadFromFile(outFile);
  EXPECT_EQ(back.GetResourceCount(), m.GetResourceCount());
  ASSERT_NE(back.FindByTypeAndName("10", "BLOB"), nullptr);
  EXPECT_EQ(back.FindByTypeAndName("10", "BLOB")->Data().Size(), 100);

  // Every section but the resource one is where it was, field by field.
  TPEResourceModule orig;
  orig.LoadFromFile(exe);
  ASSERT_EQ(back.GetSectionCount(), orig.GetSectionCount());
  const TImageSection* rsrc = orig.GetResourceSection();
  for (int i = 0; i < orig.GetSectionCount(); ++i) {
    const TImageSectionHeader& a = orig.GetSection(i)->Header();
    const TImageSectionHeader& b = back.GetSection(i)->Header();
    EXPECT_EQ(a.VirtualAddress, b.VirtualAddress) << i;
    EXPECT_EQ(a.PointerToRawData, b.PointerToRawData) << i;
    EXPECT_EQ(a.Characteristics, b.Characteristics) << i;
    if (orig.GetSection(i) == rsrc) continue;
    EXPECT_EQ(a.VirtualSize, b.VirtualSize) << i;
    EXPECT_EQ(a.SizeOfRawData, b.SizeOfRawData) << i;
    EXPECT_EQ(orig.GetSection(i)->DataSize(), back.GetSection(i)->DataSize());
    // An empty section (.bss) has no bytes to point at.
    if (orig.GetSection(i)->DataSize() > 0) {
      EXPECT_EQ(0, memcmp(orig.GetSection(i)->DataBytes(), back.GetSection(i)->DataBytes(),
                          size_t(orig.GetSection(i)->DataSize())));
    }
  }
  // The optional header differs only in SizeOfImage, SizeOfInitializedData,
  // CheckSum and the resource directory's size.
  const Bytes& oa = orig.OptionalHeader();
  const Bytes& ob = back.OptionalHeader();
  ASSERT_EQ(oa.size(), ob.size());
  const std::vector<size_t> allowed = {8, 9, 10, 11, 56, 57, 58, 59, 64, 65, 66, 67, 116, 117, 118, 119};
  for (size_t i = 0; i < oa.size(); ++i) {
    if (std::find(allowed.begin(), allowed.end(), i) == allowed.end()) {
      EXPECT_EQ(oa[i], ob[i]) << "offset " << i;
    }
  }
  EXPECT_EQ(orig.FileHeader(), back.FileHeader());

  // Debian's python3-pefile lives with the system interpreter.
  std::string py = "/usr/bin/python3";
  if (qvtest::RunCommand(py + " -c 'import pefile' 2>/dev/null") != 0) py = "python3";
  if (qvtest::RunCommand(py + " -c 'import pefile' 2>/dev/null") != 0) GTEST_SKIP() << "python3-pefile missing";
  // The rewritten file's checksum verifies, its directory parses with every
  // resource, and pefile warns no more than about the original.
  std::string out;
  const int rc = qvtest::RunCommand(
      py + " -c \"import pefile,sys\n"
      "for f in sys.argv[1:]:\n"
      " p=pefile.PE(f)\n"
      " n=sum(len(l.directory.entries) for t in p.DIRECTORY_ENTRY_RESOURCE.entries for l in t.directory.entries)\n"
      " print(p.verify_checksum() or f==sys.argv[1], n, len(p.get_warnings()))\" '" + exe + "' '" + outFile + "' 2>&1",
      &out);
  ASSERT_EQ(rc, 0) << out;
  std::istringstream lines(out);
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(second.substr(0, 4), "True") << out;
  EXPECT_EQ(second.substr(second.find(' ') + 1),
            std::to_string(m.GetResourceCount()) + " " + first.substr(first.rfind(' ') + 1))
      << out;
}

TEST_F(PEFixture, HostileImagesFailCleanly) {
  const Bytes good = qvtest::ReadFileBytes(exe);
  const uint32_t e = Rd32(good, 60);
  TPEResourceModule probe;
  probe.LoadFromFile(exe);
  const uint32_t rsrcRaw = probe.GetResourceSection()->Header().PointerToRawData;
  // The language table under the first name of the first type.
  const uint32_t names = rsrcRaw + (Rd32(good, rsrcRaw + 20) & 0x7FFFFFFF);
  const uint32_t languages = rsrcRaw + (Rd32(good, names + 20) & 0x7FFFFFFF);
  struct Case {
    const char* what;
    std::function<void(Bytes&)> mutate;
    const char* message;  // the text the reader gives: each rule has its own
  } cases[] = {
      {"truncated header", [](Bytes& b) { b.resize(100); }, "Invalid COFF signature"},
      {"no MZ", [](Bytes& b) { b[0] = 'X'; }, "Invalid DOS signature"},
      {"e_lfanew past the end", [](Bytes& b) { Wr32(b, 60, 0xFFFFFFF0u); }, "Invalid COFF signature"},
      {"PE32+", [e](Bytes& b) { Wr16(b, e + 24, 0x20B); }, "Invalid Windows Image"},
      {"two data directories", [e](Bytes& b) { Wr32(b, e + 24 + 92, 2); }, "Index exceeds data dictionary count"},
      {"named language",
       [languages](Bytes& b) {
         Wr16(b, languages + 12, 1);
         Wr16(b, languages + 14, 0);
       },
       "Unsupported non-integer language ID in resource"},
      {"huge section count", [e](Bytes& b) { Wr16(b, e + 6, 0xFFFF); }, "Section table lies outside the image"},
      {"section past end", [e](Bytes& b) { Wr32(b, e + 24 + (b[e + 20] | (b[e + 21] << 8)) + 16, 0x7FFFFFFF); },
       "Section data lies outside the image"},
      {"cyclic directory", [rsrcRaw](Bytes& b) { Wr32(b, rsrcRaw + 16 + 4, 0x80000000u); }, "Resource directory contains a cycle"},
      {"huge entry count", [rsrcRaw](Bytes& b) { Wr16(b, rsrcRaw + 14, 0xFFFF); },
       "Resource directory lies outside the resource section"},
      {"file cut inside resources", [rsrcRaw](Bytes& b) { b.resize(rsrcRaw + 40); }, "Section data lies outside the image"},
  };
  for (const Case& c : cases) {
    Bytes b = good;
    c.mutate(b);
    TPEResourceModule m;
    TCustomMemoryStream s(b.data(), int64_t(b.size()));
    try {
      m.LoadFromStream(s);
      ADD_FAILURE() << c.what;
    } catch (const Exception& x) {
      EXPECT_EQ(std::string(x.what()), c.message) << c.what;
    }
  }
}

TEST_F(PEFixture, ImagesWithAlignmentsThatCannotBeKeptAreNotWritten) {
  const Bytes good = qvtest::ReadFileBytes(exe);
  const uint32_t opt = Rd32(good, 60) + 24;
  struct Case {
    const char* what;
    uint32_t sectionAlignment, fileAlignment;
  } cases[] = {
      {"file alignment of gigabytes", 0x100000, 0xB1000000u},
      {"file alignment no power of two", 0x1000, 0x300},
      {"file alignment above the memory's", 0x200, 0x1000},
      {"no alignment", 0, 0},
  };
  for (const Case& c : cases) {
    Bytes b = good;
    Wr32(b, opt + 32, c.sectionAlignment);
    Wr32(b, opt + 36, c.fileAlignment);
    TPEResourceModule m;
    TCustomMemoryStream in(b.data(), int64_t(b.size()));
    m.LoadFromStream(in);
    TMemoryStream out;
    EXPECT_THROW(m.SaveToStream(out), EPEException) << c.what;
    EXPECT_EQ(out.Size(), 0) << c.what;
  }
}

// A load and save of an unchanged module gives its bytes back, also when the
// resource section's VirtualSize passes its raw size (memory beyond the file's
// bytes), and a second round changes nothing either.
TEST_F(PEFixture, UnchangedModulesSaveTheirOwnBytes) {
  const Bytes good = qvtest::ReadFileBytes(exe);
  TPEResourceModule probe;
  probe.LoadFromFile(exe);
  const int rsrcIndex = [&] {
    for (int i = 0; i < probe.GetSectionCount(); ++i)
      if (probe.GetSection(i) == probe.GetResourceSection()) return i;
    return -1;
  }();
  ASSERT_GE(rsrcIndex, 0);
  const uint32_t e = Rd32(good, 60);
  const uint32_t sectionTable = e + 24 + (good[e + 20] | (good[e + 21] << 8));
  const uint32_t header = sectionTable + 40 * uint32_t(rsrcIndex);
  auto saved = [](const Bytes& in) {
    TPEResourceModule m;
    TCustomMemoryStream s(in.data(), int64_t(in.size()));
    m.LoadFromStream(s);
    TMemoryStream out;
    m.SaveToStream(out);
    return Bytes(out.Memory(), out.Memory() + out.Size());
  };
  Bytes beyond = good;
  Wr32(beyond, header + 8, Rd32(good, header + 16) + 0x30);  // VirtualSize = raw + 0x30
  for (const Bytes* file : {&good, static_cast<const Bytes*>(&beyond)}) {
    const Bytes once = saved(*file);
    EXPECT_EQ(Rd32(once, header + 8), Rd32(*file, header + 8));
    EXPECT_EQ(once.size(), file->size());
    EXPECT_EQ(saved(once), once);
  }
}

TEST(PEModule, ChecksumOfKnownBlock) {
  // Words 0x0201 + 0x0403 + the length 4.
  const uint8_t b[] = {1, 2, 3, 4};
  EXPECT_EQ(ComputePEChecksum(b, 4, 100), 0x0201u + 0x0403u + 4u);
  // The checksum field itself is skipped.
  EXPECT_EQ(ComputePEChecksum(b, 4, 0), 4u);
}

}  // namespace
