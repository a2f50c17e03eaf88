#include "platform/rtl/filer.h"

#include <limits>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/sysutils.h"

TFiler::TFiler(TStream* stream, int) : FStream(stream) {
  if (!stream) throw EStreamError("No stream to read from or write to");
}

// ---- TWriter ----

void TWriter::Write(const void* buffer, int64_t count) { FStream->WriteBuffer(buffer, count); }

void TWriter::WriteValue(TValueType value) { FStream->WriteValue<uint8_t>(value); }

void TWriter::WriteInteger(int32_t value) {
  if (value >= -128 && value <= 127) {
    WriteValue(vaInt8);
    FStream->WriteValue<int8_t>(static_cast<int8_t>(value));
  } else if (value >= -32768 && value <= 32767) {
    WriteValue(vaInt16);
    FStream->WriteValue<int16_t>(static_cast<int16_t>(value));
  } else {
    WriteValue(vaInt32);
    FStream->WriteValue<int32_t>(value);
  }
}

void TWriter::WriteInteger(int64_t value) {
  if (value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max()) {
    WriteInteger(static_cast<int32_t>(value));
    return;
  }
  WriteValue(vaInt64);
  FStream->WriteValue<int64_t>(value);
}

void TWriter::WriteBoolean(bool value) { WriteValue(value ? vaTrue : vaFalse); }

void TWriter::WriteString(const std::string& value) {
  if (value.size() <= 255) {
    WriteValue(vaString);
    FStream->WriteValue<uint8_t>(static_cast<uint8_t>(value.size()));
  } else {
    if (value.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
      throw EWriteError("Stream write error");
    WriteValue(vaLString);
    FStream->WriteValue<int32_t>(static_cast<int32_t>(value.size()));
  }
  Write(value.data(), static_cast<int64_t>(value.size()));
}

void TWriter::WriteStr(const std::string& value) {
  // A short string cannot say more than 255; a longer name is a programming error.
  if (value.size() > 255) throw EWriteError("Property name too long: " + value.substr(0, 32) + "...");
  FStream->WriteValue<uint8_t>(static_cast<uint8_t>(value.size()));
  Write(value.data(), static_cast<int64_t>(value.size()));
}

void TWriter::WriteSignature() { Write("TPF0", 4); }

void TWriter::DefineProperty(const std::string& name, const TReaderProc&, const TWriterProc& writeData,
                             bool hasData) {
  if (!hasData || !writeData) return;
  WriteStr(name);
  writeData(this);
}

void TWriter::DefineBinaryProperty(const std::string& name, const TStreamProc&, const TStreamProc& writeData,
                                   bool hasData) {
  if (!hasData || !writeData) return;
  TMemoryStream data;
  writeData(data);
  if (data.Size() > std::numeric_limits<int32_t>::max()) throw EWriteError("Stream write error");
  WriteStr(name);
  WriteValue(vaBinary);
  FStream->WriteValue<int32_t>(static_cast<int32_t>(data.Size()));
  Write(data.Memory(), data.Size());
}

void TWriter::WriteProperties(TPersistent* instance) {
  if (instance) instance->DefineProperties(this);
  WriteListEnd();
}

// ---- TReader ----

void TReader::PropValueError() { throw EReadError("Invalid property value"); }

void TReader::Read(void* buffer, int64_t count) { FStream->ReadBuffer(buffer, count); }

TValueType TReader::ReadValue() {
  uint8_t v = FStream->ReadValue<uint8_t>();
  if (v > vaUTF8String) PropValueError();
  return static_cast<TValueType>(v);
}

TValueType TReader::NextValue() {
  TValueType v = ReadValue();
  FStream->Seek(-1, soCurrent);
  return v;
}

void TReader::CheckValue(TValueType value) {
  if (ReadValue() != value) {
    FStream->Seek(-1, soCurrent);
    PropValueError();
  }
}

int64_t TReader::ReadInt64() {
  switch (ReadValue()) {
    case vaInt8: return FStream->ReadValue<int8_t>();
    case vaInt16: return FStream->ReadValue<int16_t>();
    case vaInt32: return FStream->ReadValue<int32_t>();
    case vaInt64: return FStream->ReadValue<int64_t>();
    default: FStream->Seek(-1, soCurrent); PropValueError();
  }
}

int32_t TReader::ReadInteger() {
  if (NextValue() == vaInt64) PropValueError();
  return static_cast<int32_t>(ReadInt64());
}

bool TReader::ReadBoolean() {
  TValueType v = ReadValue();
  if (v != vaTrue && v != vaFalse) {
    FStream->Seek(-1, soCurrent);
    PropValueError();
  }
  return v == vaTrue;
}

int64_t TReader::ReadLength32() {
  int32_t n = FStream->ReadValue<int32_t>();
  // Never trust a length beyond what the stream still holds.
  if (n < 0 || n > FStream->Remaining()) throw EReadError("Stream read error");
  return n;
}

std::string TReader::ReadString() {
  int64_t n;
  switch (ReadValue()) {
    case vaString: n = FStream->ReadValue<uint8_t>(); break;
    case vaLString:
    case vaUTF8String: n = ReadLength32(); break;
    default: FStream->Seek(-1, soCurrent); PropValueError();
  }
  std::string s(static_cast<size_t>(n), '\0');
  Read(s.data(), n);
  return s;
}

std::string TReader::ReadStr() {
  uint8_t n = FStream->ReadValue<uint8_t>();
  std::string s(n, '\0');
  Read(s.data(), n);
  return s;
}

void TReader::ReadSignature() {
  char sig[4];
  if (FStream->Read(sig, 4) != 4 || std::string(sig, 4) != "TPF0") throw EReadError("Invalid stream format");
}

void TReader::SkipValue() {
  auto skip = [&](int64_t n) {
    if (n < 0 || n > FStream->Remaining()) throw EReadError("Stream read error");
    FStream->Seek(n, soCurrent);
  };
  switch (ReadValue()) {
    case vaNull: case vaFalse: case vaTrue: case vaNil: break;
    case vaInt8: skip(1); break;
    case vaInt16: skip(2); break;
    case vaInt32: case vaSingle: skip(4); break;
    case vaInt64: case vaCurrency: case vaDate: skip(8); break;
    case vaExtended: skip(10); break;
    case vaString: case vaIdent: skip(FStream->ReadValue<uint8_t>()); break;
    case vaLString: case vaUTF8String: case vaBinary: skip(ReadLength32()); break;
    case vaWString: {
      int64_t n = ReadLength32();
      if (n > FStream->Remaining() / 2) throw EReadError("Stream read error");
      skip(n * 2);
      break;
    }
    case vaList:
      while (!EndOfList()) SkipValue();
      ReadListEnd();
      break;
    case vaSet:
      // Member names up to an empty one.
      while (true) {
        uint8_t n = FStream->ReadValue<uint8_t>();
        if (n == 0) break;
        skip(n);
      }
      break;
    case vaCollection:
      while (!EndOfList()) {
        TValueType v = NextValue();
        if (v == vaInt8 || v == vaInt16 || v == vaInt32) ReadInteger();
        CheckValue(vaList);
        while (!EndOfList()) {
          ReadStr();
          SkipValue();
        }
        ReadListEnd();
      }
      ReadListEnd();
      break;
  }
}

void TReader::DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc&, bool) {
  if (FPropName.empty() || !readData || !SameText(name, FPropName)) return;
  // Taken: later definitions of the same name must not read it again.
  FPropName.clear();
  readData(this);
}

void TReader::DefineBinaryProperty(const std::string& name, const TStreamProc& readData, const TStreamProc&,
                                   bool) {
  if (FPropName.empty() || !readData || !SameText(name, FPropName)) return;
  FPropName.clear();
  CheckValue(vaBinary);
  int64_t n = ReadLength32();
  TMemoryStream data;
  data.SetSize(n);
  Read(data.Memory(), n);
  data.SetPosition(0);
  readData(data);
}

void TReader::ReadProperties(TPersistent* instance) {
  while (!EndOfList()) {
    // A name never starts with 0: that byte is the end marker.
    FPropName = ReadStr();
    std::string name = FPropName;
    if (instance) instance->DefineProperties(this);
    if (!FPropName.empty()) {
      FPropName.clear();
      throw EReadError("Property " + name + " does not exist");
    }
  }
  ReadListEnd();
}
