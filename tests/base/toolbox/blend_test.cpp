#include "base/toolbox/blend.h"

#include "platform/graphics/graphics_bitmap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "python_oracle.h"
#include "test_support.h"

namespace {

uint32_t Px(int a, int r, int g, int b) {
  return (static_cast<uint32_t>(a) << 24) | (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) |
         static_cast<uint32_t>(b);
}
int A(uint32_t p) { return p >> 24; }
int R(uint32_t p) { return (p >> 16) & 0xFF; }
int G(uint32_t p) { return (p >> 8) & 0xFF; }
int B(uint32_t p) { return p & 0xFF; }

struct TableGuard {
  ~TableGuard() { UnloadBlendTable(); }
};

TEST(BlendWeight, WorkedValues) {
  // An opaque destination takes the source colour by its own alpha; an empty
  // one takes it whole; 128 over 128 gives 255 * 128 / 191.75 = 170.2.
  EXPECT_EQ(BlendWeight(255, 77), 77);
  EXPECT_EQ(BlendWeight(0, 1), 255);
  EXPECT_EQ(BlendWeight(0, 0), 0);
  EXPECT_EQ(BlendWeight(128, 128), 170);
  EXPECT_EQ(BlendWeight(200, 50), 60);  // 12750 / (250 - 39.22) = 60.49
}

TEST(BlendPixel, ShortCuts) {
  const uint32_t d = Px(100, 10, 20, 30);
  EXPECT_EQ(BlendPixel(Px(255, 1, 2, 3), d), Px(255, 1, 2, 3));
  EXPECT_EQ(BlendPixel(Px(7, 1, 2, 3), Px(0, 9, 9, 9)), Px(7, 1, 2, 3));
  EXPECT_EQ(BlendPixel(Px(0, 1, 2, 3), d), d);
}

TEST(BlendPixel, OverOpaqueTruncatesTowardZero) {
  // 128 * (0 - 201) / 255 = -100.9 -> -100: the colour stays on the D side.
  const uint32_t out = BlendPixel(Px(128, 0, 255, 100), Px(255, 201, 0, 100));
  EXPECT_EQ(A(out), 255);
  EXPECT_EQ(R(out), 101);
  EXPECT_EQ(G(out), 128);
  EXPECT_EQ(B(out), 100);
}

TEST(BlendPixel, PartialOverPartialUsesTableEntry) {
  TableGuard guard;
  qvtest::TempDir dir;
  std::vector<uint8_t> table(kBlendTableSize, 0);
  table[100 * 256 + 50] = 200;  // only the entry for da = 100, sa = 50
  qvtest::WriteFileBytes(dir.File("blend.dat"), table);
  ASSERT_TRUE(LoadBlendTable(dir.File("blend.dat")));
  const uint32_t out = BlendPixel(Px(50, 255, 0, 100), Px(100, 0, 255, 200));
  EXPECT_EQ(A(out), 50 + 100 - 5000 / 255);
  EXPECT_EQ(R(out), 200 * 255 / 255);
  EXPECT_EQ(G(out), 55 * 255 / 255);
  EXPECT_EQ(B(out), (200 * 100 + 55 * 200) / 255);
}

TEST(BlendPixel, TableFileMissingOrShortFallsBackToFormula) {
  TableGuard guard;
  qvtest::TempDir dir;
  const uint32_t s = Px(90, 250, 10, 128), d = Px(140, 5, 240, 60);
  const uint32_t computed = BlendPixel(s, d);
  EXPECT_FALSE(LoadBlendTable(dir.File("absent.dat")));
  EXPECT_EQ(BlendTable(), nullptr);
  qvtest::WriteFileBytes(dir.File("short.dat"), std::vector<uint8_t>(1000, 0));
  EXPECT_FALSE(LoadBlendTable(dir.File("short.dat")));
  EXPECT_EQ(BlendTable(), nullptr);
  EXPECT_EQ(BlendPixel(s, d), computed);
  EXPECT_NE(G(computed), 240);  // a zero weight would have kept the destination
}

TEST(BlendTableFile, GeneratedBesideTheProgramMatchesFormula) {
  TableGuard guard;
  const std::string file = std::string(QV_BINARY_DIR) + "/data/blend.dat";
  const auto bytes = qvtest::ReadFileBytes(file);
  ASSERT_EQ(bytes.size(), static_cast<size_t>(kBlendTableSize));
  EXPECT_EQ(bytes[255 * 256 + 77], 77);
  EXPECT_EQ(bytes[0 * 256 + 1], 255);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[128 * 256 + 128], 170);
  ASSERT_TRUE(LoadBlendTable(file));
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    const uint32_t s = rng(), d = rng();
    const uint32_t withTable = BlendPixel(s, d);
    UnloadBlendTable();
    EXPECT_EQ(BlendPixel(s, d), withTable);
    ASSERT_TRUE(LoadBlendTable(file));
  }
}

// Run as a child of the test below, in a folder of its own: the program's
// first use of the table must look beside the program, never in the current
// folder, and nothing may have been read before main.
TEST(BlendTableStartUp, ChildLooksOnlyBesideTheProgram) {
  const char* expected = std::getenv("QV_BLEND_CHILD_EXPECT");
  if (!expected) GTEST_SKIP() << "runs only as the child of FirstUseIgnoresTheCurrentFolder";
  const uint8_t* table = BlendTable();
  if (std::string(expected) == "none") {
    EXPECT_EQ(table, nullptr);
  } else {
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table[128 * 256 + 128], 170);
  }
}

TEST(BlendTableStartUp, FirstUseIgnoresTheCurrentFolder) {
  qvtest::TempDir dir;
  std::filesystem::create_directories(dir.Path() / "data");
  // A foreign table of zero weights in the current folder's "data" folder.
  qvtest::WriteFileBytes(dir.File("data/blend.dat"), std::vector<uint8_t>(kBlendTableSize, 0));
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  // The test program's own folder holds no table.
  const std::string none = "cd '" + dir.Path().string() + "' && QV_BLEND_CHILD_EXPECT=none '" + self +
                           "' --gtest_filter=BlendTableStartUp.ChildLooksOnlyBesideTheProgram >/dev/null 2>&1";
  EXPECT_EQ(qvtest::RunCommand(none), 0);
  // A copy of the program beside a real table takes that one.
  qvtest::TempDir home;
  std::filesystem::create_directories(home.Path() / "data");
  std::filesystem::copy_file(self, home.File("tests_copy"));
  std::filesystem::permissions(home.File("tests_copy"), std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  std::filesystem::copy_file(std::string(QV_BINARY_DIR) + "/data/blend.dat", home.File("data/blend.dat"));
  const std::string beside = "cd '" + dir.Path().string() + "' && QV_BLEND_CHILD_EXPECT=formula '" +
                             home.File("tests_copy") +
                             "' --gtest_filter=BlendTableStartUp.ChildLooksOnlyBesideTheProgram >/dev/null 2>&1";
  EXPECT_EQ(qvtest::RunCommand(beside), 0);
}

TEST(BlendPixel, OverOpaqueColour) {
  // Colour 0x00BBGGRR: red 0x10 lands in the pixel's red byte.
  const uint32_t out = BlendPixelOverOpaque(Px(255, 1, 2, 3), 0x00302010);
  EXPECT_EQ(out, Px(255, 1, 2, 3));
  const uint32_t half = BlendPixelOverOpaque(Px(128, 200, 100, 0), 0x00FF0010);
  EXPECT_EQ(R(half), 0x10 + 128 * 200 / 255 - 128 * 0x10 / 255);
  EXPECT_EQ(B(half), 255 + 0 - 128 * 255 / 255);
  EXPECT_EQ(A(half), 255);
}

// Each pixel goes over the colour, not the colour over the pixels: an opaque
// colour must not cover the picture.
TEST(CompositeOverColor32Test, PixelsGoOverTheColour) {
  TBitmap b;
  b.SetPixelFormat(pf32bit);
  b.SetSize(3, 1);
  auto* row = static_cast<uint32_t*>(b.ScanLine(0));
  row[0] = Px(255, 10, 20, 30);
  row[1] = Px(0, 1, 2, 3);
  row[2] = Px(128, 200, 100, 0);
  const uint32_t white = Px(255, 255, 255, 255);
  CompositeOverColor32(&b, white);
  EXPECT_EQ(row[0], Px(255, 10, 20, 30));
  EXPECT_EQ(row[1], white);
  EXPECT_EQ(row[2], Px(255, 255 + 128 * (200 - 255) / 255, 255 + 128 * (100 - 255) / 255, 255 - 128 * 255 / 255));
}

TEST(FadeAlphaRow, EndsOfTheRange) {
  std::vector<uint32_t> px = {Px(255, 1, 2, 3), Px(128, 4, 5, 6), Px(0, 7, 8, 9)};
  auto copy = px;
  FadeAlphaRow(copy.data(), 3, 0);
  EXPECT_EQ(copy, px);
  FadeAlphaRow(copy.data(), 3, 255);
  for (uint32_t p : copy) EXPECT_EQ(A(p), 0);
  EXPECT_EQ(copy[1] & 0xFFFFFF, px[1] & 0xFFFFFF);
}

TEST(BlendPixel, MatchesPillowAlphaCompositeOracle) {
  if (!qvtest::HavePython("PIL")) GTEST_SKIP() << "python3 with Pillow is not available";
  std::mt19937 rng(11);
  std::vector<uint32_t> src, dst;
  for (int sa : {1, 17, 64, 128, 200, 254})
    for (int da : {1, 30, 128, 250, 255})
      for (int k = 0; k < 20; ++k) {
        src.push_back((rng() & 0x00FFFFFF) | (static_cast<uint32_t>(sa) << 24));
        dst.push_back((rng() & 0x00FFFFFF) | (static_cast<uint32_t>(da) << 24));
      }
  const int n = static_cast<int>(src.size());
  std::vector<uint8_t> in;
  for (const auto* v : {&src, &dst})
    for (uint32_t p : *v) in.insert(in.end(), {uint8_t(R(p)), uint8_t(G(p)), uint8_t(B(p)), uint8_t(A(p))});
  const auto out = qvtest::RunPython(
      "import sys\nfrom PIL import Image\n"
      "d=open(sys.argv[1],'rb').read(); n=len(d)//8\n"
      "s=Image.frombytes('RGBA',(n,1),d[:4*n]); t=Image.frombytes('RGBA',(n,1),d[4*n:])\n"
      "open(sys.argv[2],'wb').write(Image.alpha_composite(t,s).tobytes())\n",
      in);
  ASSERT_EQ(out.size(), static_cast<size_t>(4 * n));
  for (int i = 0; i < n; ++i) {
    const uint32_t p = BlendPixel(src[i], dst[i]);
    const int want[4] = {out[4 * i], out[4 * i + 1], out[4 * i + 2], out[4 * i + 3]};
    const int got[4] = {R(p), G(p), B(p), A(p)};
    for (int c = 0; c < 4; ++c)
      EXPECT_NEAR(got[c], want[c], 1) << "pixel " << i << " channel " << c << " src " << std::hex << src[i]
                                      << " dst " << dst[i];
  }
}

}  // namespace
