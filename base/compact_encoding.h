#pragma once
// A byte-saving stream encoding of integers and strings (the texts of icon
// projects use it), a rectangle builder and a reader of a file's first bytes.
#include <cstdint>
#include <string>

#include "platform/rtl/streams.h"
#include "platform/win/win_types.h"

// 0..251 take one byte, 252..65535 the byte 252 and a 16-bit value, -1 the byte
// 253 alone, anything else the byte 254 and a signed 32-bit value.
void WriteCompactInt(TStream& stream, int32_t value);
// Reads one compact integer. A stream that ends inside the value raises
// EReadError: a truncated record must not pass as a value.
int32_t ReadCompactInt(TStream& stream);

void WriteCompactString(TStream& stream, const std::string& text);
// Raises EReadError for a negative length, a length past the end of the stream,
// or a stream that ends early.
std::string ReadCompactString(TStream& stream);

TRect MakeRect(int32_t left, int32_t top, int32_t right, int32_t bottom);

// Reads up to count bytes from the start of the file into buffer (opened
// read-only, sharing with everyone). A shorter file leaves the rest of the
// buffer as it was. Raises EFOpenError when the file cannot be opened.
void ReadFileToBuffer(void* buffer, int64_t count, const std::string& fileName);
