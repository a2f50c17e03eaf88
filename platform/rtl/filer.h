#pragma once
// The framework's binary property stream: TWriter writes the properties an object
// defines (TPersistent::DefineProperties) as name + typed value, TReader reads them
// back and hands each to the object that defined it.
//
// Values carry a type byte (TValueType, the framework's values). Integers take the
// smallest of vaInt8, vaInt16 and vaInt32 that holds them, little-endian; strings
// up to 255 bytes are vaString with a length byte, longer ones vaLString with a
// 32-bit length. Property names are a length byte and the name, no type byte.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/rtl/object.h"

class TStream;
class TReader;
class TWriter;

enum TValueType : uint8_t {
  vaNull = 0,
  vaList = 1,
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,
  vaString = 6,
  vaIdent = 7,
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,
  vaSet = 11,
  vaLString = 12,
  vaNil = 13,
  vaCollection = 14,
  vaSingle = 15,
  vaCurrency = 16,
  vaDate = 17,
  vaWString = 18,
  vaInt64 = 19,
  vaUTF8String = 20,
};

using TReaderProc = std::function<void(TReader* reader)>;
using TWriterProc = std::function<void(TWriter* writer)>;
using TStreamProc = std::function<void(TStream& stream)>;

class TFiler : public TObject {
public:
  explicit TFiler(TStream* stream, int bufSize = 4096);
  TStream* Stream() const { return FStream; }
  // The object this one is compared with when only differences are stored; none here.
  TPersistent* Ancestor() const { return FAncestor; }
  void SetAncestor(TPersistent* ancestor) { FAncestor = ancestor; }

  // An object's DefineProperties names its extra properties here. hasData says
  // whether the writer stores the property at all.
  virtual void DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc& writeData,
                              bool hasData) = 0;
  // A property of raw bytes, stored as vaBinary with a 32-bit length.
  virtual void DefineBinaryProperty(const std::string& name, const TStreamProc& readData,
                                    const TStreamProc& writeData, bool hasData) = 0;

protected:
  TStream* FStream;
  TPersistent* FAncestor = nullptr;
};

class TWriter : public TFiler {
public:
  using TFiler::TFiler;

  void DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc& writeData,
                      bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const TStreamProc& readData, const TStreamProc& writeData,
                            bool hasData) override;

  // The properties instance defines, then the end-of-list marker.
  void WriteProperties(TPersistent* instance);

  void Write(const void* buffer, int64_t count);
  void WriteValue(TValueType value);
  void WriteInteger(int32_t value);
  void WriteInteger(int64_t value);  // vaInt64 only when 32 bits do not hold it
  void WriteBoolean(bool value);
  void WriteString(const std::string& value);
  void WriteListBegin() { WriteValue(vaList); }
  void WriteListEnd() { WriteValue(vaNull); }
  // A short string: a length byte and at most 255 bytes, no type byte.
  void WriteStr(const std::string& value);
  void WriteSignature();  // "TPF0"
};

class TReader : public TFiler {
public:
  using TFiler::TFiler;

  void DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc& writeData,
                      bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const TStreamProc& readData, const TStreamProc& writeData,
                            bool hasData) override;

  // Reads properties up to and including the end-of-list marker, handing each to the
  // DefineProperties of instance. A property nobody defines raises EReadError.
  void ReadProperties(TPersistent* instance);

  // Raw bytes: all of them or EReadError.
  void Read(void* buffer, int64_t count);
  TValueType ReadValue();
  TValueType NextValue();
  // Raise EReadError "Invalid property value" when the next value is of another type.
  int32_t ReadInteger();
  int64_t ReadInt64();
  bool ReadBoolean();
  std::string ReadString();
  void ReadListBegin() { CheckValue(vaList); }
  void ReadListEnd() { CheckValue(vaNull); }
  bool EndOfList() { return NextValue() == vaNull; }
  std::string ReadStr();
  void ReadSignature();
  // Steps over one value of any type this reader knows.
  void SkipValue();
  // The name of the property being read, "" once an object has taken it.
  const std::string& PropName() const { return FPropName; }

private:
  void CheckValue(TValueType value);
  [[noreturn]] static void PropValueError();
  int64_t ReadLength32();
  std::string FPropName;
};
