#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/filer.h"
#include "platform/rtl/streams.h"

namespace {

std::vector<uint8_t> Bytes(TMemoryStream& s) { return {s.Memory(), s.Memory() + s.Size()}; }

// An object with the kinds of defined properties the typed lists and icons use:
// a counted list of integers, a counted block of raw bytes and a binary property.
class TSample : public TPersistent {
public:
  std::vector<int32_t> FLongs;
  std::vector<uint8_t> FBytes;
  std::string FBlob;

  void DefineProperties(TFiler* filer) override {
    filer->DefineProperty(
        "Longs",
        [this](TReader* r) {
          FLongs.resize(static_cast<size_t>(r->ReadInteger()));
          for (auto& v : FLongs) v = r->ReadInteger();
        },
        [this](TWriter* w) {
          w->WriteInteger(static_cast<int32_t>(FLongs.size()));
          for (int32_t v : FLongs) w->WriteInteger(v);
        },
        !FLongs.empty());
    filer->DefineProperty(
        "Bytes",
        [this](TReader* r) {
          int32_t n = r->ReadInteger();
          if (n < 0 || n > r->Stream()->Remaining()) throw EReadError("Stream read error");
          FBytes.resize(static_cast<size_t>(n));
          r->Read(FBytes.data(), n);
        },
        [this](TWriter* w) {
          w->WriteInteger(static_cast<int32_t>(FBytes.size()));
          w->Write(FBytes.data(), static_cast<int64_t>(FBytes.size()));
        },
        !FBytes.empty());
    filer->DefineBinaryProperty(
        "Blob", [this](TStream& s) { FBlob = std::string(static_cast<size_t>(s.Size()), '\0'), s.ReadBuffer(FBlob.data(), s.Size()); },
        [this](TStream& s) { s.WriteBuffer(FBlob.data(), static_cast<int64_t>(FBlob.size())); }, !FBlob.empty());
  }
};

}  // namespace

TEST(Writer, IntegersTakeTheSmallestValueType) {
  struct Case {
    int64_t value;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {0, {vaInt8, 0x00}},
      {127, {vaInt8, 0x7F}},
      {-128, {vaInt8, 0x80}},
      {128, {vaInt16, 0x80, 0x00}},
      {-129, {vaInt16, 0x7F, 0xFF}},
      {32767, {vaInt16, 0xFF, 0x7F}},
      {32768, {vaInt32, 0x00, 0x80, 0x00, 0x00}},
      {-32769, {vaInt32, 0xFF, 0x7F, 0xFF, 0xFF}},
      {-2147483648LL, {vaInt32, 0x00, 0x00, 0x00, 0x80}},
      {4294967296LL, {vaInt64, 0, 0, 0, 0, 1, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    TMemoryStream s;
    TWriter w(&s);
    w.WriteInteger(c.value);
    EXPECT_EQ(Bytes(s), c.bytes) << c.value;
    s.SetPosition(0);
    TReader r(&s);
    EXPECT_EQ(r.ReadInt64(), c.value);
    EXPECT_EQ(s.Position(), s.Size());
  }
  TMemoryStream s;
  TWriter w(&s);
  w.WriteString("ab");
  w.WriteString(std::string(256, 'x'));
  w.WriteBoolean(true);
  auto b = Bytes(s);
  EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 4), (std::vector<uint8_t>{vaString, 2, 'a', 'b'}));
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 4, b.begin() + 9), (std::vector<uint8_t>{vaLString, 0, 1, 0, 0}));
  EXPECT_EQ(b.back(), vaTrue);
  s.SetPosition(0);
  TReader r(&s);
  EXPECT_EQ(r.ReadString(), "ab");
  EXPECT_EQ(r.ReadString(), std::string(256, 'x'));
  EXPECT_THROW(r.ReadInteger(), EReadError);  // a boolean is next, not an integer
  EXPECT_TRUE(r.ReadBoolean());
}

TEST(Writer, DefinedPropertiesRoundTrip) {
  TSample out;
  out.FLongs = {1, -300, 70000};
  out.FBytes = {9, 8, 7};
  out.FBlob = "blob";
  TMemoryStream s;
  {
    TWriter w(&s);
    w.WriteProperties(&out);
  }
  std::vector<uint8_t> want = {5, 'L', 'o', 'n', 'g', 's', vaInt8, 3, vaInt8, 1, vaInt16, 0xD4, 0xFE,
                               vaInt32, 0x70, 0x11, 0x01, 0x00,
                               5, 'B', 'y', 't', 'e', 's', vaInt8, 3, 9, 8, 7,
                               4, 'B', 'l', 'o', 'b', vaBinary, 4, 0, 0, 0, 'b', 'l', 'o', 'b', vaNull};
  EXPECT_EQ(Bytes(s), want);

  s.SetPosition(0);
  TSample in;
  TReader r(&s);
  r.ReadProperties(&in);
  EXPECT_EQ(in.FLongs, out.FLongs);
  EXPECT_EQ(in.FBytes, out.FBytes);
  EXPECT_EQ(in.FBlob, "blob");
  EXPECT_EQ(s.Position(), s.Size());

  // An empty object stores nothing but the end marker.
  TMemoryStream e;
  TSample empty;
  TWriter(&e).WriteProperties(&empty);
  EXPECT_EQ(Bytes(e), std::vector<uint8_t>{vaNull});
}

TEST(Reader, BadInputRaisesReadErrors) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"unknown property", {3, 'F', 'o', 'o', vaInt8, 1, vaNull}},
      {"truncated name", {5, 'L', 'o'}},
      {"missing end", {5, 'L', 'o', 'n', 'g', 's', vaInt8, 0}},
      {"truncated integer", {5, 'L', 'o', 'n', 'g', 's', vaInt32, 1, 0}},
      {"string where integer", {5, 'L', 'o', 'n', 'g', 's', vaString, 0, vaNull}},
      {"byte count beyond data", {5, 'B', 'y', 't', 'e', 's', vaInt32, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2}},
      {"binary length beyond data", {4, 'B', 'l', 'o', 'b', vaBinary, 0xFF, 0xFF, 0xFF, 0x7F, 1}},
      {"negative binary length", {4, 'B', 'l', 'o', 'b', vaBinary, 0xFF, 0xFF, 0xFF, 0xFF, vaNull}},
      {"unknown value type", {5, 'L', 'o', 'n', 'g', 's', 0xEE, vaNull}},
      {"nothing", {}},
  };
  for (const auto& c : cases) {
    TCustomMemoryStream s(c.bytes.data(), static_cast<int64_t>(c.bytes.size()));
    TReader r(&s);
    TSample in;
    EXPECT_THROW(r.ReadProperties(&in), EReadError) << c.what;
  }
  // A huge string length is refused before anything is allocated.
  std::vector<uint8_t> huge = {vaLString, 0xFF, 0xFF, 0xFF, 0x7F, 'a'};
  TCustomMemoryStream s(huge.data(), 6);
  EXPECT_THROW(TReader(&s).ReadString(), EReadError);
}

TEST(Reader, SkipsValuesOfEveryKind) {
  TMemoryStream s;
  TWriter w(&s);
  w.WriteListBegin();
  w.WriteInteger(5);
  w.WriteString(std::string(300, 'y'));
  w.WriteBoolean(false);
  w.WriteInteger(int64_t{1} << 40);
  w.WriteListEnd();
  w.WriteInteger(77);
  s.SetPosition(0);
  TReader r(&s);
  r.SkipValue();
  EXPECT_EQ(r.ReadInteger(), 77);
}

TEST(Reader, SignatureAndLists) {
  TMemoryStream s;
  TWriter w(&s);
  w.WriteSignature();
  w.WriteListBegin();
  w.WriteListEnd();
  s.SetPosition(0);
  TReader r(&s);
  r.ReadSignature();
  r.ReadListBegin();
  EXPECT_TRUE(r.EndOfList());
  r.ReadListEnd();
  TMemoryStream bad;
  bad.WriteBuffer("TPF1", 4);
  bad.SetPosition(0);
  EXPECT_THROW(TReader(&bad).ReadSignature(), EReadError);
}
