#pragma once
// Conversion between our UTF-8 text and the UTF-16LE bytes that Windows stores
// where it keeps wide text (registry export files, CF_UNICODETEXT).
#include <cstdint>
#include <string>
#include <vector>

// Every byte sequence converts: a byte that is not valid UTF-8 becomes U+FFFD.
// A NUL byte becomes a NUL code unit, so terminators survive the trip.
std::vector<uint8_t> Utf8ToUtf16LE(const std::string& text);
// An odd trailing byte is dropped; an unpaired surrogate becomes U+FFFD.
std::string Utf16LEToUtf8(const uint8_t* data, size_t size);
inline std::string Utf16LEToUtf8(const std::vector<uint8_t>& bytes) { return Utf16LEToUtf8(bytes.data(), bytes.size()); }
