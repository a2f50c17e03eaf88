#include "imaging/core/ie_version.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>

#include "platform/win/system_info.h"

uint8_t WindowsVersionCodeFor(uint32_t platformId, uint32_t major, uint32_t minor) {
  if (platformId == VER_PLATFORM_WIN32_WINDOWS && major == 4) {
    if (minor == 0) return 0;
    if (minor == 10) return 1;
    if (minor == 90) return 2;
    return 10;
  }
  if (platformId != VER_PLATFORM_WIN32_NT) return 10;
  if (major == 4 && minor == 0) return 3;
  if (major == 5 && minor <= 2) return static_cast<uint8_t>(4 + minor);
  if (major == 6 && minor <= 2) return static_cast<uint8_t>(7 + minor);
  return 10;
}

uint8_t GetWindowsVersionCode() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return 10;
  return WindowsVersionCodeFor(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}

namespace {

// The whole text must be a number, as the framework's text-to-float demands;
// surrounding blanks are allowed.
bool ConvertWhole(const std::string& text, long double& value) {
  const char* begin = text.c_str();
  while (*begin == ' ' || *begin == '\t') ++begin;
  if (*begin == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long double v = std::strtold(begin, &end);
  if (end == begin || errno == ERANGE) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return false;
  // strtold also reads "inf", "nan" and hexadecimal numbers, which no picture
  // file means by a decimal text.
  for (const char* p = begin; p < end; ++p)
    if ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z'))
      if (*p != 'e' && *p != 'E') return false;
  value = v;
  return true;
}

}  // namespace

long double StrToFloatAnySeparator(const std::string& text, long double defaultValue) {
  long double v = 0;
  if (ConvertWhole(text, v)) return v;
  std::string alt = text;
  const size_t comma = alt.find(',');
  if (comma != std::string::npos) {
    alt[comma] = '.';
  } else {
    const size_t point = alt.find('.');
    if (point == std::string::npos) return defaultValue;
    alt[point] = ',';
  }
  if (ConvertWhole(alt, v)) return v;
  return defaultValue;
}
