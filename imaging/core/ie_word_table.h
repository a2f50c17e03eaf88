#pragma once
// The library's table of dialog words: 158 words in each of 25 language rows.
// The rows are filled at start-up by whoever installs a filler (the dialog
// texts live with the vector objects and transitions); until then every word
// is empty.
#include <cstdint>
#include <functional>
#include <string>

enum TMsgLanguage : uint8_t {
  msSystem, msEnglish, msItalian, msGerman, msSpanish, msFrench, msPortuguese, msGreek, msRussian,
  msDutch, msSwedish, msPolish, msJapanese, msCzech, msFinnish, msFarsi, msChinese, msChineseTraditional,
  msDanish, msTurkish, msKorean, msHungarian, msArabic, msSerbian, msUser,
};
constexpr int kIELanguageCount = 25;
constexpr int kIEWordCount = 158;

// Store a copy of the text at (language, word); out of range is ignored. The
// second form is the one the English row is loaded through.
void SetLanguageWord(TMsgLanguage language, int word, const std::string& text);
void SetLanguageWordFromResource(TMsgLanguage language, int word, const std::string& text);
// The word of a named language, the English word when that one is empty. For
// msSystem the row of the thread locale's primary language (English for one
// without a row), with no English fallback. Wide text from the stored UTF-8.
std::wstring GetLanguageWord(int word, TMsgLanguage language);
// The row msSystem stands for under a Windows locale id.
TMsgLanguage LanguageOfLocale(uint32_t lcid);

// The start-up step that fills the table: runs the installed filler, if any.
void FillWordTables();
void SetWordTableFiller(std::function<void()> filler);
// Empties every row (the library's shutdown).
void ClearWordTables();
