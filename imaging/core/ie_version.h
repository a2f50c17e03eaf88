#pragma once
// The Windows-version class the library keeps at start-up, and reading numbers
// written with either decimal separator.
#include <cstdint>
#include <string>

// 0 Windows 95, 1 98, 2 Me, 3 NT 4.0, 4 2000, 5 XP, 6 Server 2003 / XP x64,
// 7 Vista, 8 Windows 7, 9 Windows 8, 10 anything else.
uint8_t WindowsVersionCodeFor(uint32_t platformId, uint32_t major, uint32_t minor);
// The code of the system we run on (GetVersionExA); 10 when the call fails.
uint8_t GetWindowsVersionCode();

// The text as a number under the current locale; failing that with its first
// comma turned into a point (or, without a comma, its first point into a comma);
// failing that the default. Never raises.
long double StrToFloatAnySeparator(const std::string& text, long double defaultValue);
