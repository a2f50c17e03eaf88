#pragma once
// The words of the library's dialogs: English from the program's string
// resources (so they can be replaced there), the other languages from their
// own procedures, each setting its words slot by slot. Stored as UTF-8.
#include "imaging/core/ie_word_table.h"

// The string id of the English word of a slot.
constexpr unsigned kWordResourceBase = 28672;

// English, then every other language in row order (Italian .. Serbian).
void FillAllWordTables();
void SetEnglishWords();
// One procedure per language, rows 2..23.
void SetItalianWords();
void SetGermanWords();
void SetSpanishWords();
void SetFrenchWords();
void SetPortugueseWords();
void SetGreekWords();
void SetRussianWords();
void SetDutchWords();
void SetSwedishWords();
void SetPolishWords();
void SetJapaneseWords();
void SetCzechWords();
void SetFinnishWords();
void SetFarsiWords();
void SetChineseWords();
void SetChineseTraditionalWords();
void SetDanishWords();
void SetTurkishWords();
void SetKoreanWords();
void SetHungarianWords();
void SetArabicWords();
void SetSerbianWords();
