#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

#include <filesystem>
#include <unistd.h>

TEST(MemoryStream, ShortReadReturnsCountButReadBufferRaises) {
  TMemoryStream s;
  const char data[] = "abcdef";
  s.WriteBuffer(data, 6);
  EXPECT_EQ(s.Size(), 6);
  EXPECT_EQ(s.Seek(-2, soEnd), 4);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 2);
  EXPECT_EQ(std::string(buf, 2), "ef");
  EXPECT_EQ(s.Read(buf, 8), 0);
  s.SetPosition(3);
  EXPECT_THROW(s.ReadBuffer(buf, 4), EReadError);
}

TEST(MemoryStream, WritePastEndGrowsAndSeekBeyondSizeIsAllowed) {
  TMemoryStream s;
  s.Seek(10, soBeginning);
  uint8_t b = 7;
  s.WriteBuffer(&b, 1);
  EXPECT_EQ(s.Size(), 11);
  EXPECT_EQ(s.Memory()[10], 7);
  s.SetSize(4);
  EXPECT_EQ(s.Position(), 4);
}

TEST(CustomMemoryStream, ForeignMemoryIsReadOnly) {
  const uint8_t data[3] = {1, 2, 3};
  TCustomMemoryStream s(data, 3);
  EXPECT_EQ(s.ReadValue<uint8_t>(), 1);
  EXPECT_THROW(s.WriteValue<uint8_t>(9), EWriteError);
}

TEST(FileStream, CreateWriteReopenAndErrorsNameTheFile) {
  qvtest::TempDir dir;
  std::string name = dir.File("a.bin");
  {
    TFileStream f(name, fmCreate);
    f.WriteValue<uint32_t>(0x11223344);
  }
  TFileStream f(name, fmOpenRead | fmShareDenyNone);
  EXPECT_EQ(f.Size(), 4);
  EXPECT_EQ(f.ReadValue<uint32_t>(), 0x11223344u);
  try {
    TFileStream missing(dir.File("missing.bin"), fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message().find("missing.bin"), std::string::npos);
  }
  EXPECT_THROW(TFileStream(dir.File("no/such/dir/x"), fmCreate), EFCreateError);
}

TEST(Rounding, HalvesGoToEven) {
  struct Case { double in; int64_t out; } cases[] = {
      {0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {2.4999, 2}, {2.5001, 3}};
  for (auto c : cases) EXPECT_EQ(Round(c.in), c.out) << c.in;
}

TEST(MemoryStream, GapsAndGrowthReadAsZeros) {
  TMemoryStream s;
  // Dirty the block first so that leftovers would show.
  std::vector<uint8_t> junk(64, 0xEE);
  s.WriteBuffer(junk.data(), 64);
  s.SetSize(0);
  s.Seek(8, soBeginning);
  s.WriteValue<uint8_t>(1);
  s.SetSize(16);
  std::vector<uint8_t> want(16, 0);
  want[8] = 1;
  EXPECT_EQ(std::vector<uint8_t>(s.Memory(), s.Memory() + 16), want);
  EXPECT_THROW(s.SetSize(-1), EStreamError);
}

TEST(Streams, EdgesOfEveryKind) {
  TStringStream str("hello");
  char buf[8] = {};
  EXPECT_EQ(str.Seek(2, soEnd), 7);  // seeking past the end is allowed
  EXPECT_EQ(str.Read(buf, 4), 0);
  str.WriteString("!");
  EXPECT_EQ(str.DataString(), std::string("hello\0\0!", 8));
  EXPECT_THROW(str.SetSize(-1), EStreamError);
  str.SetSize(2);
  EXPECT_EQ(str.Position(), 2);
  EXPECT_EQ(str.Seek(-10, soCurrent), 0);
  EXPECT_EQ(str.ReadString(10), "he");

  TMemoryStream src;
  src.WriteBuffer("abcdef", 6);
  TMemoryStream dst;
  EXPECT_EQ(dst.CopyFrom(src, 0), 6);  // 0 copies everything from the start
  src.SetPosition(4);
  EXPECT_THROW(dst.CopyFrom(src, 3), EReadError);
  src.SetPosition(4);
  EXPECT_THROW(src.ReadBytes(3), EReadError);
  EXPECT_EQ(src.ReadBytes(2), (std::vector<uint8_t>{'e', 'f'}));
  src.Seek(10, soBeginning);
  EXPECT_TRUE(src.ReadBytes(0).empty());
  EXPECT_THROW(src.ReadBytes(int64_t{1} << 40), EReadError);  // no allocation for what is not there
  EXPECT_THROW(src.ReadBuffer(buf, -1), EReadError);
}

TEST(HandleStream, ShortReadsFromAPipeReturnCounts) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    THandleStream out(fds[1]);
    out.WriteBuffer("xyz", 3);
  }
  ::close(fds[1]);
  THandleStream in(fds[0]);
  char buf[8];
  EXPECT_EQ(in.Read(buf, 8), 3);
  EXPECT_EQ(in.Read(buf, 8), 0);
  EXPECT_THROW(in.ReadBuffer(buf, 1), EReadError);
  ::close(fds[0]);
}

TEST(FileStream, ShareModesKeepWritersApart) {
  qvtest::TempDir dir;
  std::string name = dir.File("shared.bin");
  TFileStream first(name, fmCreate);
  first.WriteValue<uint32_t>(7);
  TFileStream exclusive(name, fmOpenReadWrite | fmShareExclusive);
  EXPECT_THROW(TFileStream(name, fmOpenRead | fmShareDenyWrite), EFOpenError);
  TFileStream anyone(name, fmOpenRead | fmShareDenyNone);  // asks for no lock
  EXPECT_EQ(anyone.ReadValue<uint32_t>(), 7u);
}

TEST(SaveBytesToFile, ReplacesWholeOrNotAtAll) {
  qvtest::TempDir dir;
  std::string name = dir.File("keep.bin");
  SaveBytesToFile(name, "old", 3);
  SaveBytesToFile(name, "newer", 5);
  EXPECT_EQ(qvtest::ReadFileBytes(name), (std::vector<uint8_t>{'n', 'e', 'w', 'e', 'r'}));
  // The target is a folder: the rename fails, and nothing is left behind.
  std::string folder = dir.File("folder");
  std::filesystem::create_directory(folder);
  std::filesystem::create_directory(folder + "/inner");
  EXPECT_THROW(SaveBytesToFile(folder, "x", 1), EFCreateError);
  EXPECT_TRUE(std::filesystem::is_directory(folder + "/inner"));
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.Path())) entries += e.is_regular_file();
  EXPECT_EQ(entries, 1);

  TMemoryStream m;
  m.WriteBuffer("mem", 3);
  m.SaveToFile(name);
  EXPECT_EQ(qvtest::ReadFileBytes(name), (std::vector<uint8_t>{'m', 'e', 'm'}));
}
