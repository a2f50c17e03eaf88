#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

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
