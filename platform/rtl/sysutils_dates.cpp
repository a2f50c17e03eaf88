// Dates and times: the framework's day-count values, encoding, decoding and formatting.
#include "platform/rtl/sysutils.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <string_view>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/sysutils_internal.h"

// ---- Date and time ----

namespace {
constexpr int kDaysTo1970 = 25569;  // 1899-12-30 to 1970-01-01
const uint16_t kMonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

// Days from 0001-01-01 (day 1) in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;  // days since 1970-01-01
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

}  // namespace

TDateTime DateTimeFromUnixMillis(int64_t ms, bool local) {
  time_t secs = static_cast<time_t>(ms / 1000);
  struct tm t{};
  if (local) localtime_r(&secs, &t);
  else gmtime_r(&secs, &t);
  TDateTime date = static_cast<double>(DaysFromCivil(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday) + kDaysTo1970);
  double time = (t.tm_hour * 3600000.0 + t.tm_min * 60000.0 + t.tm_sec * 1000.0 + static_cast<double>(ms % 1000)) /
                MSecsPerDay;
  return date + time;
}

namespace {

// Milliseconds of the time of day. The fraction of a negative date still counts
// forward from midnight, as the framework stores it.
int64_t TimeMillis(TDateTime t) {
  double frac = std::fabs(t - std::trunc(t));
  int64_t ms = static_cast<int64_t>(Round(frac * MSecsPerDay));
  return std::min<int64_t>(ms, 86399999);
}
}  // namespace

TDateTime Now() {
  using namespace std::chrono;
  int64_t ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return DateTimeFromUnixMillis(ms, true);
}

TDateTime Date() { return std::trunc(Now()); }

TDateTime Time() {
  TDateTime n = Now();
  return n - std::trunc(n);
}

bool IsLeapYear(uint16_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

bool TryEncodeDate(uint16_t year, uint16_t month, uint16_t day, TDateTime& date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > kMonthDays[IsLeapYear(year)][month - 1])
    return false;
  date = static_cast<double>(DaysFromCivil(year, month, day) + kDaysTo1970);
  return true;
}

TDateTime EncodeDate(uint16_t year, uint16_t month, uint16_t day) {
  TDateTime d;
  if (!TryEncodeDate(year, month, day, d)) throw EConvertError("Invalid argument to date encode");
  return d;
}

bool TryEncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec, TDateTime& time) {
  if (hour >= 24 || min >= 60 || sec >= 60 || msec >= 1000) return false;
  time = (hour * 3600000.0 + min * 60000.0 + sec * 1000.0 + msec) / MSecsPerDay;
  return true;
}

TDateTime EncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec) {
  TDateTime t;
  if (!TryEncodeTime(hour, min, sec, msec, t)) throw EConvertError("Invalid argument to time encode");
  return t;
}

void DecodeDate(TDateTime date, uint16_t& year, uint16_t& month, uint16_t& day) {
  int y, m, d;
  if (!std::isfinite(date) || std::fabs(date) > 1e7) {
    year = month = day = 0;
    return;
  }
  CivilFromDays(static_cast<int64_t>(std::trunc(date)) - kDaysTo1970, y, m, d);
  year = static_cast<uint16_t>(y > 0 ? y : 0);
  month = static_cast<uint16_t>(m);
  day = static_cast<uint16_t>(d);
}

void DecodeTime(TDateTime time, uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec) {
  int64_t ms = std::isfinite(time) ? TimeMillis(time) : 0;
  hour = static_cast<uint16_t>(ms / 3600000);
  min = static_cast<uint16_t>(ms / 60000 % 60);
  sec = static_cast<uint16_t>(ms / 1000 % 60);
  msec = static_cast<uint16_t>(ms % 1000);
}

int DayOfWeek(TDateTime date) {
  // 1899-12-30 was a Saturday.
  int64_t d = static_cast<int64_t>(std::trunc(date));
  return static_cast<int>(((d - 1) % 7 + 7) % 7) + 1;
}

const char* const ShortDateFormat = "yyyy-mm-dd";
const char* const LongTimeFormat = "hh:nn:ss";

namespace {
const char* const kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};
const char* const kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

std::string Two(int v) { return PadLeft(std::to_string(v), 2, '0'); }

bool StartsTextAt(const std::string& s, size_t i, const char* what) {
  size_t n = std::strlen(what);
  return s.size() - i >= n && SameText(s.substr(i, n), what);
}

void AppendDateTime(std::string& out, const std::string& f, TDateTime dt, int depth) {
  uint16_t year, month, day, hour, min, sec, msec;
  DecodeDate(dt, year, month, day);
  DecodeTime(dt, hour, min, sec, msec);
  bool lastWasHour = false;
  // Twelve-hour clock when the pattern holds am/pm or a/p anywhere.
  std::string upper = UpperCase(f);
  bool twelve = upper.find("AM/PM") != std::string::npos || upper.find("A/P") != std::string::npos;
  size_t i = 0;
  while (i < f.size()) {
    char c = f[i];
    char u = Up(c);
    size_t run = 1;
    while (i + run < f.size() && Up(f[i + run]) == u) ++run;
    if (c == '"' || c == '\'') {
      size_t end = f.find(c, i + 1);
      if (end == std::string::npos) end = f.size();
      out += f.substr(i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    if (StartsTextAt(f, i, "am/pm")) {
      out += hour < 12 ? "am" : "pm";
      if (std::isupper(static_cast<unsigned char>(c))) out.replace(out.size() - 2, 2, hour < 12 ? "AM" : "PM");
      i += 5;
      continue;
    }
    if (StartsTextAt(f, i, "a/p")) {
      out += (std::isupper(static_cast<unsigned char>(c)) ? (hour < 12 ? "A" : "P") : (hour < 12 ? "a" : "p"));
      i += 3;
      continue;
    }
    switch (u) {
      case 'Y':
        out += run <= 2 ? Two(year % 100) : PadLeft(std::to_string(year), 4, '0');
        break;
      case 'M':
        if (lastWasHour) {
          out += run == 1 ? std::to_string(min) : Two(min);
        } else if (run == 1) {
          out += std::to_string(month);
        } else if (run == 2) {
          out += Two(month);
        } else if (month >= 1 && month <= 12) {
          out += run == 3 ? kShortMonths[month - 1] : kLongMonths[month - 1];
        }
        break;
      case 'D': {
        int wd = DayOfWeek(dt) - 1;
        if (run == 1) out += std::to_string(day);
        else if (run == 2) out += Two(day);
        else if (run == 3) out += kShortDays[wd];
        else if (run == 4) out += kLongDays[wd];
        else if (depth == 0) AppendDateTime(out, ShortDateFormat, dt, 1);
        break;
      }
      case 'H': {
        int h = twelve ? (hour % 12 == 0 ? 12 : hour % 12) : hour;
        out += run == 1 ? std::to_string(h) : Two(h);
        break;
      }
      case 'N': out += run == 1 ? std::to_string(min) : Two(min); break;
      case 'S': out += run == 1 ? std::to_string(sec) : Two(sec); break;
      case 'Z': out += run >= 3 ? PadLeft(std::to_string(msec), 3, '0') : std::to_string(msec); break;
      case 'T':
        if (depth == 0) AppendDateTime(out, run >= 2 ? LongTimeFormat : "hh:nn", dt, 1);
        break;
      case 'C':
        if (depth == 0) {
          AppendDateTime(out, ShortDateFormat, dt, 1);
          if (TimeMillis(dt) != 0) {
            out += ' ';
            AppendDateTime(out, LongTimeFormat, dt, 1);
          }
        }
        break;
      default: out.append(run, c); break;
    }
    // Only letters count: in "h:mm" the m still follows the hour.
    if (u >= 'A' && u <= 'Z') lastWasHour = u == 'H';
    i += run;
  }
}
}  // namespace

std::string FormatDateTime(const std::string& format, TDateTime dateTime) {
  std::string out;
  AppendDateTime(out, format.empty() ? "c" : format, dateTime, 0);
  return out;
}

std::string DateTimeToStr(TDateTime dateTime) { return FormatDateTime("c", dateTime); }
std::string DateToStr(TDateTime date) { return FormatDateTime(ShortDateFormat, date); }
std::string TimeToStr(TDateTime time) { return FormatDateTime(LongTimeFormat, time); }

TDateTime FileDateToDateTime(int32_t fileDate) {
  auto u = static_cast<uint32_t>(fileDate);
  uint16_t date = static_cast<uint16_t>(u >> 16);
  uint16_t time = static_cast<uint16_t>(u & 0xFFFF);
  TDateTime d = 0, t = 0;
  TryEncodeDate(static_cast<uint16_t>((date >> 9) + 1980), (date >> 5) & 15, date & 31, d);
  TryEncodeTime(time >> 11, (time >> 5) & 63, static_cast<uint16_t>((time & 31) * 2), 0, t);
  return d + t;
}

int32_t DateTimeToFileDate(TDateTime dateTime) {
  uint16_t y, m, d, h, n, s, ms;
  DecodeDate(dateTime, y, m, d);
  if (y < 1980 || y > 2107) return 0;
  DecodeTime(dateTime, h, n, s, ms);
  uint32_t date = (static_cast<uint32_t>(y - 1980) << 9) | (static_cast<uint32_t>(m) << 5) | d;
  uint32_t time = (static_cast<uint32_t>(h) << 11) | (static_cast<uint32_t>(n) << 5) | (s / 2u);
  return static_cast<int32_t>((date << 16) | time);
}
