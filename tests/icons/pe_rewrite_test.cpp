// Writing a PE image back when its resource section is the last one: the
// section may grow there, everything before it stays where it was.
#include <gtest/gtest.h>

#include <sstream>

#include "icons/pe_module.h"
#include "mingw_samples.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(PERewrite, OracleGrownLastResourceSectionStillLoads) {
  if (!mingwtest::HaveTools()) GTEST_SKIP() << "mingw-w64 cross tools missing";
  qvtest::TempDir dir;
  mingwtest::WriteSamples(dir);
  mingwtest::WriteText(dir.File("r.rc"), "1 RCDATA { \"abc\" }\nNAMED RCDATA { \"defg\" }\nMAINICON ICON \"a.ico\"\n");
  // Without relocations the resource section is the last in the file and in memory.
  ASSERT_TRUE(mingwtest::Build(dir, "i686-w64-mingw32-windres r.rc -O coff -o r.o && "
                                    "i686-w64-mingw32-gcc -s m.c r.o -o t.exe -Wl,--disable-reloc-section"));
  const std::string exe = dir.File("t.exe"), out = dir.File("out.exe");

  TPEResourceModule m;
  m.LoadFromFile(exe);
  const TImageDataDirectory before = m.GetDataDirectory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
  Bytes big(100000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7);
  m.AddResource(std::make_unique<TResourceDetails>(&m, 1033, "BLOB", "10", big.size(), big.data()));
  m.SortResources();
  m.SaveToFile(out);

  TPEResourceModule orig, back;
  orig.LoadFromFile(exe);
  back.LoadFromFile(out);
  ASSERT_NE(back.FindByTypeAndName("10", "BLOB"), nullptr);
  TResourceDetails* blob = back.FindByTypeAndName("10", "BLOB");
  EXPECT_EQ(Bytes(blob->Data().Memory(), blob->Data().Memory() + blob->Data().Size()), big);
  const TImageDataDirectory after = back.GetDataDirectory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
  EXPECT_EQ(after.VirtualAddress, before.VirtualAddress);
  EXPECT_GT(after.Size, 100000u);
  ASSERT_EQ(back.GetSectionCount(), orig.GetSectionCount());
  for (int i = 0; i < orig.GetSectionCount(); ++i) {
    const TImageSectionHeader& a = orig.GetSection(i)->Header();
    const TImageSectionHeader& b = back.GetSection(i)->Header();
    EXPECT_EQ(a.VirtualAddress, b.VirtualAddress) << i;
    EXPECT_EQ(a.PointerToRawData, b.PointerToRawData) << i;
    if (orig.GetSection(i)->SectionName() == ".rsrc") {
      EXPECT_GE(b.SizeOfRawData, after.Size);
      continue;
    }
    EXPECT_EQ(a.SizeOfRawData, b.SizeOfRawData) << i;
    EXPECT_EQ(a.VirtualSize, b.VirtualSize) << i;
  }

  // pefile: the checksum verifies, SizeOfImage covers the grown section, and
  // every resource is found in the rewritten directory.
  std::string py = "/usr/bin/python3";
  if (qvtest::RunCommand(py + " -c 'import pefile' 2>/dev/null") != 0) GTEST_SKIP() << "python3-pefile missing";
  std::string text;
  ASSERT_EQ(qvtest::RunCommand(
                py + " -c \"import pefile,sys\n"
                     "p=pefile.PE(sys.argv[1])\n"
                     "s=p.sections[-1]\n"
                     "n=sum(len(l.directory.entries) for t in p.DIRECTORY_ENTRY_RESOURCE.entries for l in "
                     "t.directory.entries)\n"
                     "print(p.verify_checksum(), p.OPTIONAL_HEADER.SizeOfImage >= s.VirtualAddress + s.Misc_VirtualSize,"
                     " n, len(p.get_warnings()))\" '" +
                     out + "' 2>&1",
                &text),
            0)
      << text;
  EXPECT_EQ(text, "True True " + std::to_string(m.GetResourceCount()) + " 0\n");
}

TEST(PERewrite, LoadFromFileReportsParseErrors) {
  qvtest::TempDir dir;
  const std::string file = dir.File("x.exe");
  Bytes b(300, 0);
  b[0] = 'M', b[1] = 'Z';
  qvtest::WriteFileBytes(file, b);
  TPEResourceModule m;
  EXPECT_THROW(m.LoadFromFile(file), EPEException);
  EXPECT_THROW(m.LoadFromFile(dir.File("missing.exe")), Exception);
}

}  // namespace
