#include "imaging/extras/words/word_tables.h"

#include "platform/win/resources.h"

void SetEnglishWords() {
  for (int slot = 0; slot < kIEWordCount; ++slot)
    SetLanguageWordFromResource(msEnglish, slot, LoadStr(HInstance, kWordResourceBase + unsigned(slot)));
}

void FillAllWordTables() {
  SetEnglishWords();
  SetItalianWords();
  SetGermanWords();
  SetSpanishWords();
  SetFrenchWords();
  SetPortugueseWords();
  SetGreekWords();
  SetRussianWords();
  SetDutchWords();
  SetSwedishWords();
  SetPolishWords();
  SetJapaneseWords();
  SetCzechWords();
  SetFinnishWords();
  SetFarsiWords();
  SetChineseWords();
  SetChineseTraditionalWords();
  SetDanishWords();
  SetTurkishWords();
  SetKoreanWords();
  SetHungarianWords();
  SetArabicWords();
  SetSerbianWords();
}
