#pragma once
// What the sysutils units share among themselves and nobody else needs.
#include <cstdint>
#include <string>

#include "platform/rtl/sysutils.h"

// ASCII case, as the framework's plain (non-Ansi) routines fold it.
inline char Up(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
inline char Low(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The text with pad characters in front, up to minDigits characters.
inline std::string PadLeft(std::string s, int minDigits, char pad) {
  if (static_cast<int>(s.size()) < minDigits) s.insert(0, static_cast<size_t>(minDigits) - s.size(), pad);
  return s;
}

// A moment given in milliseconds since 1970-01-01 UTC, as a TDateTime in
// local time or UTC.
TDateTime DateTimeFromUnixMillis(int64_t ms, bool local);
