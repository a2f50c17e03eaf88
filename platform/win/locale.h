#pragma once
// The user's locale as Windows names it: a locale id whose low 10 bits are the
// primary language and whose upper 6 bits are the sub-language. It comes from
// the process's locale settings (LC_ALL, LC_MESSAGES, LANG), English (United
// States) when none is set or it is "C" / "POSIX"; SetThreadLocale changes it
// for the calling thread.
#include <string>

#include "platform/win/win_types.h"

using LANGID = WORD;

constexpr WORD LANG_NEUTRAL = 0x00;
constexpr WORD LANG_CHINESE = 0x04;
constexpr WORD LANG_ENGLISH = 0x09;
constexpr WORD SUBLANG_DEFAULT = 0x01;
constexpr WORD SUBLANG_CHINESE_TRADITIONAL = 0x01;
constexpr WORD SUBLANG_CHINESE_SIMPLIFIED = 0x02;
constexpr WORD SUBLANG_CHINESE_HONGKONG = 0x03;
constexpr WORD SUBLANG_CHINESE_SINGAPORE = 0x04;
constexpr WORD SUBLANG_CHINESE_MACAU = 0x05;

constexpr LANGID MAKELANGID(WORD primary, WORD sub) { return LANGID((sub << 10) | primary); }
constexpr WORD PRIMARYLANGID(LANGID id) { return WORD(id & 0x3FF); }
constexpr WORD SUBLANGID(LANGID id) { return WORD(id >> 10); }
constexpr LANGID LANGIDFROMLCID(LCID id) { return LANGID(id & 0xFFFF); }

LCID GetThreadLocale();
BOOL SetThreadLocale(LCID locale);
LCID GetUserDefaultLCID();
// "de_DE.UTF-8" -> 0x0407, "zh_TW" -> 0x0404; 0x0409 for "C", "POSIX", an empty
// name or a language without a Windows id here.
LCID LocaleNameToLCID(const std::string& name);
