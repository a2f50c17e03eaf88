#include "platform/win/locale.h"

#include <cstdlib>
#include <cstring>

namespace {

struct TLanguageCode {
  const char* Code;
  WORD Primary;
};

// ISO 639-1 codes and the primary language ids Windows documents for them.
constexpr TLanguageCode kLanguages[] = {
    {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06}, {"de", 0x07},
    {"el", 0x08}, {"en", 0x09}, {"es", 0x0A}, {"fi", 0x0B}, {"fr", 0x0C}, {"he", 0x0D}, {"hu", 0x0E},
    {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11}, {"ko", 0x12}, {"nl", 0x13}, {"nb", 0x14}, {"no", 0x14},
    {"pl", 0x15}, {"pt", 0x16}, {"ro", 0x18}, {"ru", 0x19}, {"hr", 0x1A}, {"sr", 0x1A}, {"sk", 0x1B},
    {"sq", 0x1C}, {"sv", 0x1D}, {"th", 0x1E}, {"tr", 0x1F}, {"ur", 0x20}, {"id", 0x21}, {"uk", 0x22},
    {"be", 0x23}, {"sl", 0x24}, {"et", 0x25}, {"lv", 0x26}, {"lt", 0x27}, {"fa", 0x29}, {"vi", 0x2A},
};

WORD ChineseSubLanguage(const std::string& territory) {
  if (territory == "TW") return SUBLANG_CHINESE_TRADITIONAL;
  if (territory == "HK") return SUBLANG_CHINESE_HONGKONG;
  if (territory == "SG") return SUBLANG_CHINESE_SINGAPORE;
  if (territory == "MO") return SUBLANG_CHINESE_MACAU;
  return SUBLANG_CHINESE_SIMPLIFIED;
}

LCID ProcessLocale() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return LocaleNameToLCID(value);
  }
  return LocaleNameToLCID("");
}

thread_local LCID tThreadLocale = 0;

}  // namespace

LCID LocaleNameToLCID(const std::string& name) {
  const LCID english = MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT);
  const size_t end = name.find_first_of("_.@");
  const std::string language = name.substr(0, end);
  std::string territory;
  if (end != std::string::npos && name[end] == '_') territory = name.substr(end + 1, name.find_first_of(".@", end) - end - 1);
  for (const TLanguageCode& l : kLanguages)
    if (language == l.Code)
      return MAKELANGID(l.Primary, l.Primary == LANG_CHINESE ? ChineseSubLanguage(territory) : SUBLANG_DEFAULT);
  return english;
}

LCID GetUserDefaultLCID() {
  static const LCID locale = ProcessLocale();
  return locale;
}

LCID GetThreadLocale() { return tThreadLocale ? tThreadLocale : GetUserDefaultLCID(); }

BOOL SetThreadLocale(LCID locale) {
  tThreadLocale = locale;
  return TRUE;
}
