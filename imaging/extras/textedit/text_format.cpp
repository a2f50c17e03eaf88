#include "imaging/extras/textedit/text_format.h"

#include <algorithm>

#include "platform/graphics/font_engine.h"

void TIETextFormat::SetName(const std::string& name) {
  const size_t n = std::min<size_t>(name.size(), 255);
  std::memset(FontName, 0, sizeof FontName);
  FontName[0] = static_cast<uint8_t>(n);
  std::memcpy(FontName + 1, name.data(), n);
}

TFontStyles TIETextFormat::Styles() const {
  TFontStyles s;
  if (FontStyle & 1) s.Include(fsBold);
  if (FontStyle & 2) s.Include(fsItalic);
  if (FontStyle & 4) s.Include(fsUnderline);
  if (FontStyle & 8) s.Include(fsStrikeOut);
  return s;
}

void TIETextFormat::SetStyles(TFontStyles styles) {
  FontStyle = static_cast<uint8_t>((styles.Contains(fsBold) ? 1 : 0) | (styles.Contains(fsItalic) ? 2 : 0) |
                                   (styles.Contains(fsUnderline) ? 4 : 0) | (styles.Contains(fsStrikeOut) ? 8 : 0));
}

int32_t TIETextFormat::SafeFontHeight() const {
  return std::clamp(FontHeight, -kMaxTextFontHeight, kMaxTextFontHeight);
}

bool SameTextFormat(const TIETextFormat& a, const TIETextFormat& b) {
  uint8_t x[kTextFormatSize], y[kTextFormatSize];
  TextFormatToBytes(a, x);
  TextFormatToBytes(b, y);
  return std::memcmp(x + 4, y + 4, kTextFormatSize - 4) == 0;
}

TIETextFormat MakeTextFormat(TFont* font, TBrush* back, uint8_t alignment) {
  TIETextFormat f;
  f.SetName(font->Name());
  f.FontHeight = font->Height();
  f.SetStyles(font->Style());
  f.FontColor = font->Color();
  f.BackColor = back->Color();
  f.BackStyle = static_cast<uint8_t>(back->Style());
  f.Alignment = alignment;
  return f;
}

namespace {
void PutLE32(uint8_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
  p[2] = static_cast<uint8_t>(u >> 16);
  p[3] = static_cast<uint8_t>(u >> 24);
}
int32_t GetLE32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}
}  // namespace

void TextFormatToBytes(const TIETextFormat& f, uint8_t* out) {
  std::memset(out, 0, kTextFormatSize);
  PutLE32(out, f.RefCount);
  std::memcpy(out + 4, f.FontName, 256);
  PutLE32(out + 260, f.FontHeight);
  out[264] = f.FontStyle;
  std::memcpy(out + 265, f.Reserved1, 3);
  PutLE32(out + 268, f.FontColor);
  PutLE32(out + 272, f.BackColor);
  out[276] = f.BackStyle;
  out[277] = f.Alignment;
  std::memcpy(out + 278, f.Reserved2, 2);
}

TIETextFormat TextFormatFromBytes(const uint8_t* p) {
  TIETextFormat f;
  f.RefCount = GetLE32(p);
  std::memcpy(f.FontName, p + 4, 256);
  f.FontHeight = GetLE32(p + 260);
  f.FontStyle = p[264];
  std::memcpy(f.Reserved1, p + 265, 3);
  f.FontColor = GetLE32(p + 268);
  f.BackColor = GetLE32(p + 272);
  f.BackStyle = p[276];
  f.Alignment = p[277];
  std::memcpy(f.Reserved2, p + 278, 2);
  return f;
}

uint32_t Windows1252CodePoint(uint8_t byte) { return fontengine::Windows1252ToCodePoint(byte); }

int Windows1252Byte(uint32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) return static_cast<int>(codePoint);
  for (int b = 0x80; b <= 0x9F; ++b)
    if (fontengine::Windows1252ToCodePoint(static_cast<uint8_t>(b)) == codePoint) return b;
  return -1;
}

std::string Utf8ToMemoText(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (uint32_t cp : fontengine::DecodeText(utf8)) {
    if (cp == '\r' || cp == 0) continue;
    const int b = Windows1252Byte(cp);
    if (b >= 0) out.push_back(static_cast<char>(b));
  }
  return out;
}

std::string MemoTextToUtf8(const std::string& memo) {
  std::string out;
  out.reserve(memo.size() + memo.size() / 8);
  for (char c : memo) {
    const auto b = static_cast<uint8_t>(c);
    if (b == '\n') out += "\r\n";
    else fontengine::AppendUtf8(out, Windows1252CodePoint(b));
  }
  return out;
}
