// The TIFF structure editor: files libtiff wrote, read and written back
// unchanged; tags set, copied and deleted; damaged chains and tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/io/tiff_handler.h"
#include "platform/rtl/streams.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Written(TIETIFFHandler& h, int page = -1) {
  TMemoryStream s;
  h.WriteStream(s, page);
  Bytes out(size_t(s.Size()));
  s.SetPosition(0);
  s.Read(out.data(), s.Size());
  return out;
}

std::unique_ptr<TIETIFFHandler> FromBytes(const Bytes& b) {
  TCustomMemoryStream s(b.data(), int64_t(b.size()));
  return TIETIFFHandler::CreateFromStream(s);
}

// A little-endian file of pages of one 2 x 1 grey strip each.
Bytes Pages(int count) {
  Bytes f = {'I', 'I', 42, 0, 8, 0, 0, 0};
  for (int p = 0; p < count; ++p) {
    const size_t at = f.size();
    const uint16_t tags[][3] = {{256, 3, 2}, {257, 3, 1}, {258, 3, 8}, {273, 4, 0}, {277, 3, 1}, {279, 4, 2}};
    f.push_back(6), f.push_back(0);
    for (const auto& t : tags) {
      const uint32_t value = t[0] == 273 ? uint32_t(at + 2 + 72 + 4) : t[2];
      const uint8_t e[12] = {uint8_t(t[0]), uint8_t(t[0] >> 8), uint8_t(t[1]), 0, 1, 0, 0, 0,
                             uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
      f.insert(f.end(), e, e + 12);
    }
    const uint32_t next = p + 1 < count ? uint32_t(at + 2 + 72 + 4 + 2) : 0;
    for (int i = 0; i < 4; ++i) f.push_back(uint8_t(next >> (8 * i)));
    f.push_back(uint8_t(10 * p + 1)), f.push_back(uint8_t(10 * p + 2));
  }
  return f;
}

}  // namespace

TEST(TiffHandler, PagesChainsAndCycles) {
  const Bytes three = Pages(3);
  auto h = FromBytes(three);
  EXPECT_EQ(h->PageCount(), 3);
  // Written back as three chained directories ending with a zero offset, and read the same.
  const Bytes again = Written(*h);
  auto back = FromBytes(again);
  ASSERT_EQ(back->PageCount(), 3);
  EXPECT_EQ(back->Page(2)->Entries[size_t(back->FindTag(2, 273))].Blocks[0], (Bytes{21, 22}));
  EXPECT_EQ(Written(*back), again);
  // A page pointing at itself is read once; A -> B -> A ends.
  Bytes self = Pages(1);
  self[8 + 2 + 72] = 8;
  EXPECT_EQ(FromBytes(self)->PageCount(), 1);
  Bytes cycle = Pages(2);
  cycle[8 + 2 + 72 + 4 + 2 + 2 + 72] = 8;
  EXPECT_EQ(FromBytes(cycle)->PageCount(), 2);
  // Directories start on even positions.
  const Bytes one = Written(*FromBytes(Pages(1)), 0);
  EXPECT_EQ(one[4] % 2, 0);
}

TEST(TiffHandler, SetCopyAndDeleteTags) {
  auto h = FromBytes(Pages(2));
  TIETIFFTagList& page = *h->Page(0);
  h->SetTag(page, 305, std::string("abc"), ttASCII);
  TIETIFFEntry& inline3 = page.Entries.back();
  EXPECT_EQ(h->EntryCount(inline3), 4u);
  EXPECT_TRUE(inline3.Data.empty());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(inline3.Raw + 8), 4), std::string("abc\0", 4));
  h->SetTag(page, 305, std::string("abcd"), ttASCII);
  EXPECT_EQ(page.Entries.back().Data, (Bytes{'a', 'b', 'c', 'd', 0}));
  h->SetTag(page, 282, 72.5, ttRATIONAL);
  h->SortPage(0);
  EXPECT_EQ(h->GetIntegerValue(page, 256, 0), 2);
  // Copying strips copies their bytes.
  auto other = FromBytes(Pages(1));
  EXPECT_TRUE(other->CopyTag(1, h->FindTag(1, 273), 0, *h));
  EXPECT_EQ(other->Page(0)->Entries[size_t(other->FindTag(0, 273))].Blocks[0], (Bytes{11, 12}));
  EXPECT_FALSE(other->CopyTag(5, 0, 0, *h));
  // Byte orders that differ copy nothing and say so.
  Bytes mm = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 1, 0, 0, 3, 0, 0, 0, 1, 0, 5, 0, 0, 0, 0, 0, 0};
  auto big = FromBytes(mm);
  ASSERT_EQ(big->PageCount(), 1);
  EXPECT_EQ(big->GetIntegerValue(*big->Page(0), 256, 0), 5);
  EXPECT_FALSE(big->CopyTag(0, 0, 0, *h));
  h->DeleteTagAt(0, h->FindTag(0, 305));
  EXPECT_EQ(h->FindTag(0, 305), -1);
}

TEST(TiffHandler, HostileTablesEndReadingInsideTheFile) {
  Bytes f = Pages(1);
  // A strip byte count far beyond the file is cut to the bytes there.
  f[8 + 2 + 5 * 12 + 8] = 0xFF, f[8 + 2 + 5 * 12 + 9] = 0xFF;
  auto h = FromBytes(f);
  ASSERT_EQ(h->PageCount(), 1);
  EXPECT_EQ(h->Page(0)->Entries[size_t(h->FindTag(0, 273))].Blocks[0].size(), 2u);
  EXPECT_EQ(h->GetIntegerValue(*h->Page(0), 279, 0), 2);
  // Not TIFF, a cut header, an entry count past the end.
  EXPECT_FALSE(TIETIFFHandler().ReadStream(*std::make_unique<TCustomMemoryStream>("XX", 2)));
  Bytes cut = Pages(1);
  cut[8] = 0xFF;
  EXPECT_LE(FromBytes(cut)->PageCount(), 1);
}

// Files of libtiff's tiffcp (pages, big-endian, tiles, JPEG) written back by
// the editor: tiffcmp finds no difference and tiffdump the same tags.
TEST(TiffHandlerOracle, TiffcpFilesWrittenBackUnchanged) {
  if (!qvtest::HaveProgram("tiffcp") || !qvtest::HaveProgram("tiffcmp") || !qvtest::HaveProgram("convert"))
    GTEST_SKIP() << "libtiff tools or ImageMagick missing";
  qvtest::TempDir dir;
  ASSERT_EQ(qvtest::RunCommand("convert -size 40x30 gradient:red-blue -depth 8 " + dir.File("a.tif") +
                               " && convert -size 40x30 plasma:fractal -seed 3 -depth 8 " + dir.File("b.tif")),
            0);
  const std::vector<std::string> variants = {"-c lzw", "-c zip -B", "-c lzw -t -w 16 -l 16", "-c jpeg",
                                             "-c packbits -r 7"};
  for (const std::string& args : variants) {
    SCOPED_TRACE(args);
    const std::string in = dir.File("in.tif"), out = dir.File("out.tif");
    ASSERT_EQ(qvtest::RunCommand("tiffcp " + args + " " + dir.File("a.tif") + " " + dir.File("b.tif") + " " + in), 0);
    auto h = TIETIFFHandler::CreateFromFile(in);
    ASSERT_EQ(h->PageCount(), 2);
    ASSERT_TRUE(h->WriteFile(out, -1));
    // tiffcmp reads scanlines: tiled and JPEG pages are compared as plain strips.
    std::string diff, a = in, b = out;
    if (args.find("-t") != std::string::npos || args.find("jpeg") != std::string::npos) {
      a = dir.File("in_s.tif"), b = dir.File("out_s.tif");
      ASSERT_EQ(qvtest::RunCommand("tiffcp -s -c none " + in + " " + a + " && tiffcp -s -c none " + out + " " + b), 0);
    }
    EXPECT_EQ(qvtest::RunCommand("tiffcmp " + a + " " + b + " 2>&1", &diff), 0) << diff;
    std::string before, after;
    qvtest::RunCommand("tiffdump " + in + " | grep -v 'Directory\\|Magic\\|^$\\|^" + in + "' | sed 's/<.*//' | "
                       "grep -v 'StripOffsets\\|TileOffsets'", &before);
    qvtest::RunCommand("tiffdump " + out + " | grep -v 'Directory\\|Magic\\|^$\\|^" + out + "' | sed 's/<.*//' | "
                       "grep -v 'StripOffsets\\|TileOffsets'", &after);
    EXPECT_EQ(before, after);
  }
}
