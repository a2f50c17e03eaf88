#include "imaging/core/ie_word_table.h"

#include <array>
#include <mutex>

#include "platform/win/locale.h"

namespace {

struct TWordTable {
  std::mutex Lock;
  std::array<std::string, size_t(kIELanguageCount) * kIEWordCount> Words;
  std::function<void()> Filler;
};

TWordTable& Table() {
  static TWordTable table;
  return table;
}

std::wstring Widen(const std::string& text) {
  // UTF-8 to code points; a broken sequence gives U+FFFD for its lead byte.
  std::wstring out;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    uint32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    bool ok = extra >= 0 && i + size_t(extra) < text.size();
    for (int k = 1; ok && k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(text[i + size_t(k)]);
      ok = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok) {
      out.push_back(L'\xFFFD');
      ++i;
      continue;
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += size_t(extra) + 1;
  }
  return out;
}

const std::string& Word(TMsgLanguage language, int word) {
  return Table().Words[size_t(language) * kIEWordCount + size_t(word)];
}

}  // namespace

void SetLanguageWord(TMsgLanguage language, int word, const std::string& text) {
  if (language >= kIELanguageCount || word < 0 || word >= kIEWordCount) return;
  std::lock_guard<std::mutex> guard(Table().Lock);
  Table().Words[size_t(language) * kIEWordCount + size_t(word)] = text;
}

void SetLanguageWordFromResource(TMsgLanguage language, int word, const std::string& text) {
  SetLanguageWord(language, word, text);
}

TMsgLanguage LanguageOfLocale(uint32_t lcid) {
  const LANGID id = LANGIDFROMLCID(lcid);
  switch (PRIMARYLANGID(id)) {
    case 0x01: return msArabic;
    case 0x04: {
      // Taiwan, Hong Kong and Macau write the traditional characters.
      const WORD sub = SUBLANGID(id);
      return sub == SUBLANG_CHINESE_TRADITIONAL || sub == SUBLANG_CHINESE_HONGKONG || sub == SUBLANG_CHINESE_MACAU
                 ? msChineseTraditional
                 : msChinese;
    }
    case 0x05: return msCzech;
    case 0x06: return msDanish;
    case 0x07: return msGerman;
    case 0x08: return msGreek;
    case 0x0A: return msSpanish;
    case 0x0B: return msFinnish;
    case 0x0C: return msFrench;
    case 0x0E: return msHungarian;
    case 0x10: return msItalian;
    case 0x11: return msJapanese;
    case 0x12: return msKorean;
    case 0x13: return msDutch;
    case 0x15: return msPolish;
    case 0x16: return msPortuguese;
    case 0x19: return msRussian;
    case 0x1A: return msSerbian;
    case 0x1D: return msSwedish;
    case 0x1F: return msTurkish;
    case 0x29: return msFarsi;
    default: return msEnglish;
  }
}

std::wstring GetLanguageWord(int word, TMsgLanguage language) {
  if (word < 0 || word >= kIEWordCount || language >= kIELanguageCount) return {};
  std::lock_guard<std::mutex> guard(Table().Lock);
  if (language == msSystem) return Widen(Word(LanguageOfLocale(GetThreadLocale()), word));
  const std::string& text = Word(language, word);
  return Widen(text.empty() ? Word(msEnglish, word) : text);
}

void FillWordTables() {
  std::function<void()> filler;
  {
    std::lock_guard<std::mutex> guard(Table().Lock);
    filler = Table().Filler;
  }
  if (filler) filler();
}

void SetWordTableFiller(std::function<void()> filler) {
  std::lock_guard<std::mutex> guard(Table().Lock);
  Table().Filler = std::move(filler);
}

void ClearWordTables() {
  std::lock_guard<std::mutex> guard(Table().Lock);
  for (std::string& w : Table().Words) w.clear();
}
