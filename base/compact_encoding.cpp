#include "base/compact_encoding.h"

#include "platform/rtl/exceptions.h"

namespace {

constexpr uint8_t kWordFollows = 252;
constexpr uint8_t kMinusOne = 253;
constexpr uint8_t kLongFollows = 254;

}  // namespace

void WriteCompactInt(TStream& stream, int32_t value) {
  if (value >= 0 && value <= 251) {
    stream.WriteValue<uint8_t>(static_cast<uint8_t>(value));
  } else if (value >= 252 && value <= 65535) {
    stream.WriteValue<uint8_t>(kWordFollows);
    stream.WriteValue<uint16_t>(static_cast<uint16_t>(value));
  } else if (value == -1) {
    stream.WriteValue<uint8_t>(kMinusOne);
  } else {
    stream.WriteValue<uint8_t>(kLongFollows);
    stream.WriteValue<int32_t>(value);
  }
}

int32_t ReadCompactInt(TStream& stream) {
  const uint8_t head = stream.ReadValue<uint8_t>();
  switch (head) {
    case kWordFollows: return stream.ReadValue<uint16_t>();
    case kMinusOne: return -1;
    case kLongFollows: return stream.ReadValue<int32_t>();
    default: return head;  // 255 is never written but reads as itself
  }
}

void WriteCompactString(TStream& stream, const std::string& text) {
  WriteCompactInt(stream, static_cast<int32_t>(text.size()));
  if (!text.empty()) stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

std::string ReadCompactString(TStream& stream) {
  const int32_t length = ReadCompactInt(stream);
  // The length comes from the file: never allocate more than is really there.
  if (length < 0 || length > stream.Remaining()) throw EReadError("Stream read error");
  std::string text(static_cast<size_t>(length), '\0');
  if (length != 0) stream.ReadBuffer(text.data(), length);
  return text;
}

TRect MakeRect(int32_t left, int32_t top, int32_t right, int32_t bottom) { return Rect(left, top, right, bottom); }

void ReadFileToBuffer(void* buffer, int64_t count, const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
  if (count > 0) file.Read(buffer, count);
}
