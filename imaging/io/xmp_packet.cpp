#include "imaging/io/xmp_packet.h"

#include <cstring>

#include "imaging/io/io_params.h"

const char kXMPIdentifier[29] = "http://ns.adobe.com/xap/1.0/";

const uint8_t* FindXMPPacket(const uint8_t* data, int64_t length) {
  if (data == nullptr || length < 30 || std::memcmp(data, kXMPIdentifier, 24) != 0) return nullptr;
  // The zero byte that ends the identifier, looked for inside the marker only.
  const void* zero = std::memchr(data, 0, size_t(length));
  if (zero == nullptr) return nullptr;
  return static_cast<const uint8_t*>(zero) + 1;
}

bool ParseXMPMarker(const uint8_t* data, int64_t length, TIOParamsVals& params) {
  const uint8_t* packet = FindXMPPacket(data, length);
  if (packet == nullptr) return false;
  params.XmpPacket.assign(reinterpret_cast<const char*>(packet), size_t(data + length - packet));
  return true;
}

std::vector<uint8_t> BuildXMPMarker(const TIOParamsVals& params) {
  std::vector<uint8_t> block(29 + params.XmpPacket.size());
  std::memcpy(block.data(), kXMPIdentifier, 29);
  if (!params.XmpPacket.empty()) std::memcpy(block.data() + 29, params.XmpPacket.data(), params.XmpPacket.size());
  return block;
}

void* SafeGetMem(size_t size) { return std::malloc(size == 0 ? 1 : size); }
