#include "platform/win/utf16_text.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at text[i], advancing i; malformed input yields U+FFFD
// and consumes one byte so that decoding always makes progress.
char32_t DecodeUtf8(const std::string& text, size_t& i) {
  auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  uint8_t b0 = byte(i);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + extra >= text.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    uint8_t b = byte(i + k);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += extra + 1;
  return cp;
}

void PutUnit(std::vector<uint8_t>& out, char16_t u) {
  out.push_back(static_cast<uint8_t>(u & 0xFF));
  out.push_back(static_cast<uint8_t>(u >> 8));
}

void PutUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::vector<uint8_t> Utf8ToUtf16LE(const std::string& text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() * 2);
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp = DecodeUtf8(text, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      PutUnit(out, static_cast<char16_t>(0xD800 + (cp >> 10)));
      PutUnit(out, static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      PutUnit(out, static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16LEToUtf8(const uint8_t* data, size_t size) {
  std::string out;
  size_t units = size / 2;
  auto unit = [&](size_t k) { return static_cast<char16_t>(data[2 * k] | (data[2 * k + 1] << 8)); };
  for (size_t k = 0; k < units; ++k) {
    char16_t u = unit(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units && unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF) {
      char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (unit(k + 1) - 0xDC00);
      PutUtf8(out, cp);
      ++k;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      PutUtf8(out, kReplacement);
    } else {
      PutUtf8(out, u);
    }
  }
  return out;
}
