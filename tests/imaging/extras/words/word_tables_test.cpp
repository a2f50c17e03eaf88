// The dialog word tables as the library's start-up fills them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/core/ie_word_table.h"
#include "imaging/extras/words/word_tables.h"
#include "platform/win/locale.h"
#include "platform/win/resources.h"
#include "support/test_support.h"

namespace {

std::string Utf8(const std::wstring& w) {
  std::string out;
  for (wchar_t c : w) {
    const uint32_t cp = uint32_t(c);
    if (cp < 0x80) out += char(cp);
    else if (cp < 0x800) out += char(0xC0 | (cp >> 6)), out += char(0x80 | (cp & 0x3F));
    else if (cp < 0x10000)
      out += char(0xE0 | (cp >> 12)), out += char(0x80 | ((cp >> 6) & 0x3F)), out += char(0x80 | (cp & 0x3F));
    else
      out += char(0xF0 | (cp >> 18)), out += char(0x80 | ((cp >> 12) & 0x3F)), out += char(0x80 | ((cp >> 6) & 0x3F)),
          out += char(0x80 | (cp & 0x3F));
  }
  return out;
}

class WordTables : public ::testing::Test {
protected:
  void SetUp() override {
    ClearWordTables();
    SetWordTableFiller(FillAllWordTables);
    FillWordTables();
  }
  void TearDown() override {
    SetThreadLocale(0);
    ClearWordTables();
  }
};

TEST_F(WordTables, EnglishRowEqualsTheStringResources) {
  for (int slot = 0; slot < kIEWordCount; ++slot) {
    const std::string resource = LoadStr(HInstance, kWordResourceBase + unsigned(slot));
    EXPECT_FALSE(resource.empty()) << slot;
    EXPECT_EQ(Utf8(GetLanguageWord(slot, msEnglish)), resource) << slot;
  }
  EXPECT_EQ(Utf8(GetLanguageWord(0, msEnglish)), "Preview");
  EXPECT_EQ(Utf8(GetLanguageWord(128, msEnglish)),
            "Automatically updates your preview with the changes you have selected");
  EXPECT_EQ(Utf8(GetLanguageWord(157, msEnglish)), "Thumbnails");
  char buffer[8];
  EXPECT_EQ(LoadString(HInstance, kWordResourceBase + 128, buffer, sizeof buffer), 7);
  EXPECT_STREQ(buffer, "Automat");
  EXPECT_EQ(LoadString(HInstance, kWordResourceBase + 200, buffer, sizeof buffer), 0);
}

TEST_F(WordTables, TheUserRowStaysEmpty) {
  // With English emptied, a word read for msUser is its own: empty.
  for (int slot = 0; slot < kIEWordCount; ++slot) SetLanguageWord(msEnglish, slot, "");
  for (int slot = 0; slot < kIEWordCount; ++slot) EXPECT_EQ(GetLanguageWord(slot, msUser), L"") << slot;
}

TEST_F(WordTables, SampleWordsGapsAndRepeats) {
  struct Case {
    TMsgLanguage language;
    int slot;
    const char* word;
  };
  const Case cases[] = {
      {msItalian, 0, "Anteprima"},          {msGerman, 0, "Vorschau"},
      {msFrench, 0, "Prévisualisation"},    {msGreek, 0, "Προεπισκόπηση"},
      {msRussian, 0, "Просмотр"},           {msJapanese, 0, "プレビュー"},
      {msChinese, 0, "预览"},               {msChineseTraditional, 0, "預覽"},
      {msItalian, 4, "Annulla"},            {msGerman, 4, "Abbruch"},
      {msFrench, 4, "Annuler"},             {msGreek, 4, "Άκυρο"},
      {msRussian, 4, "Отмена"},             {msJapanese, 4, "キャンセル"},
      {msChinese, 4, "取消"},               {msChineseTraditional, 4, "取消"},
      {msItalian, 153, "Pagina %d di %d"},  {msGerman, 153, "Seite %d of %d"},
      {msFrench, 153, "Page %d sur %d"},    {msGreek, 153, "Σελίδα %d από %d"},
      {msRussian, 153, "страница %d из %d"}, {msJapanese, 153, "Page %d of %d"},
      {msFrench, 157, "Miniatures"},        {msGreek, 157, "Μικρογραφίες"},
      {msRussian, 157, "Эскизы"},           {msItalian, 157, "Thumbnails"},
      // Gaps read as English; Portuguese keeps the second of its two texts.
      {msGreek, 128, "Automatically updates your preview with the changes you have selected"},
      {msPolish, 123, "Rate"},              {msArabic, 157, "Thumbnails"},
      {msSerbian, 157, "Thumbnails"},       {msPortuguese, 152, "Selecionar um Dispositivo"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8(GetLanguageWord(c.slot, c.language)), c.word) << int(c.language) << " " << c.slot;
}

TEST_F(WordTables, TheSystemRowFollowsTheLocaleWithoutFallback) {
  SetThreadLocale(0x0407);  // German
  EXPECT_EQ(Utf8(GetLanguageWord(4, msSystem)), "Abbruch");
  SetThreadLocale(0x0409);  // English
  EXPECT_EQ(Utf8(GetLanguageWord(4, msSystem)), "Cancel");
  SetThreadLocale(0x0408);  // Greek: the gap stays a gap
  EXPECT_EQ(GetLanguageWord(128, msSystem), L"");
  SetThreadLocale(0x0C04);  // Hong Kong keeps the traditional row
  EXPECT_EQ(Utf8(GetLanguageWord(4, msSystem)), "取消");
}

void Put32(std::vector<uint8_t>& v, int32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(uint32_t(x) >> (8 * i)));
}

TEST_F(WordTables, EveryWordEncodesInItsRowsCodePageAndKeepsItsPlaceholdersOracle) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import codecs' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 is not available";
  std::vector<uint8_t> input;
  for (int row = 1; row <= 23; ++row)
    for (int slot = 0; slot < kIEWordCount; ++slot) {
      const std::string w = Utf8(GetLanguageWord(slot, TMsgLanguage(row)));
      Put32(input, row), Put32(input, slot), Put32(input, int32_t(w.size()));
      input.insert(input.end(), w.begin(), w.end());
    }
  std::vector<uint8_t> output;
  std::string log;
  ASSERT_EQ(qvtest::RunOracleScript(std::string(QV_SOURCE_DIR) + "/tests/imaging/extras/words/words_oracle.py", input,
                                    output, &log),
            0)
      << log;
  EXPECT_EQ(std::string(output.begin(), output.end()), "");
}

}  // namespace

namespace {

TEST_F(WordTables, HunspellKnowsEveryTranslatedWordButAFewTermsOracle) {
  if (!qvtest::HaveProgram("hunspell")) GTEST_SKIP() << "hunspell is not available";
  std::vector<uint8_t> input;
  for (int row = 2; row <= 23; ++row)
    for (int slot = 0; slot < kIEWordCount; ++slot) {
      const std::string w = Utf8(GetLanguageWord(slot, TMsgLanguage(row)));
      const bool english = w == Utf8(GetLanguageWord(slot, msEnglish));
      Put32(input, row), Put32(input, slot), Put32(input, english ? 1 : 0), Put32(input, int32_t(w.size()));
      input.insert(input.end(), w.begin(), w.end());
    }
  std::vector<uint8_t> output;
  std::string log;
  ASSERT_EQ(qvtest::RunOracleScript(std::string(QV_SOURCE_DIR) + "/tests/imaging/extras/words/spell_oracle.py", input,
                                    output, &log),
            0)
      << log;
  EXPECT_EQ(std::string(output.begin(), output.end()), "");
}

}  // namespace
