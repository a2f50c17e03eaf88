#pragma once
// How a language procedure stores its words: slot by slot in ascending order,
// so that a slot given twice keeps the later text.
#include <initializer_list>
#include <utility>

#include "imaging/core/ie_word_table.h"

using TWordEntry = std::pair<int, const char*>;

inline void SetWords(TMsgLanguage row, std::initializer_list<TWordEntry> words) {
  for (const TWordEntry& w : words) SetLanguageWord(row, w.first, w.second);
}
