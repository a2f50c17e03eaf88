#pragma once
// The XMP packet of a JPEG picture, carried in an APP1 marker after the XMP
// namespace identifier and a zero byte.
#include <cstdint>
#include <cstdlib>
#include <vector>

class TIOParamsVals;

// "http://ns.adobe.com/xap/1.0/", the identifier the XMP standard gives JPEG files.
extern const char kXMPIdentifier[29];

// Where the packet starts inside the payload, or nil: the payload must hold at
// least 30 bytes, begin with the identifier's first 24 characters and hold a
// zero byte with a packet after it.
const uint8_t* FindXMPPacket(const uint8_t* data, int64_t length);
// XmpPacket becomes the packet's bytes; false (nothing changed) when there is none.
bool ParseXMPMarker(const uint8_t* data, int64_t length, TIOParamsVals& params);
// The identifier, its zero byte and XmpPacket.
std::vector<uint8_t> BuildXMPMarker(const TIOParamsVals& params);

// Allocates size bytes; nil instead of an exception when memory runs out.
void* SafeGetMem(size_t size);
