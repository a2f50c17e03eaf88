#pragma once
// Text, number, path, file and date helpers with the framework's behaviour.
//
// Paths: the program builds Windows-style paths, so every helper here accepts both
// '\' and '/' as separators. Helpers that touch the disk map the name through
// NativePath (platform/rtl/paths.h): a drive letter lands in the Windows model, a
// native absolute path passes through unchanged.
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/rtl/tset.h"

// ---- Format -------------------------------------------------------------------

// One argument of Format: an integer, a floating-point value, a string, a
// character or a pointer, as the framework's open array of constants.
class TVarRec {
public:
  enum TKind : uint8_t { vkInteger, vkUnsigned, vkFloat, vkString, vkChar, vkPointer };
  template <std::integral T>
  TVarRec(T v) : FKind(std::is_signed_v<T> ? vkInteger : vkUnsigned), FInt(static_cast<int64_t>(v)) {
    if constexpr (std::is_same_v<T, char>) FKind = vkChar;
    if constexpr (std::is_same_v<T, bool>) FKind = vkInteger;
  }
  template <class T>
    requires std::is_enum_v<T>
  TVarRec(T v) : FKind(vkInteger), FInt(static_cast<int64_t>(v)) {}
  TVarRec(double v) : FKind(vkFloat), FFloat(v) {}
  TVarRec(float v) : FKind(vkFloat), FFloat(v) {}
  TVarRec(long double v) : FKind(vkFloat), FFloat(static_cast<double>(v)) {}
  TVarRec(const char* s) : FKind(vkString), FString(s ? s : "") {}
  TVarRec(std::string s) : FKind(vkString), FString(std::move(s)) {}
  TVarRec(const void* p) : FKind(vkPointer), FInt(static_cast<int64_t>(reinterpret_cast<uintptr_t>(p))) {}

  TKind Kind() const { return FKind; }
  int64_t Int() const { return FInt; }
  double Float() const { return FFloat; }
  const std::string& String() const { return FString; }

private:
  TKind FKind;
  int64_t FInt = 0;
  double FFloat = 0;
  std::string FString;
};

// Format with the framework's directives: "%" [index ":"] ["-"] [width] ["." precision] type,
// type one of d u x e f g n p s; width and precision may be "*". Precision pads integers
// with zeros ("%.3d" of 7 is "007"), "%x" is upper-case hexadecimal, "%f" defaults to two
// decimals and rounds halves away from zero. A directive without a fitting argument
// raises EConvertError.
std::string Format(const std::string& format, std::initializer_list<TVarRec> args);
template <class... A> std::string Format(const std::string& format, A&&... args) {
  return Format(format, std::initializer_list<TVarRec>{TVarRec(std::forward<A>(args))...});
}

// ---- Integers -----------------------------------------------------------------

std::string IntToStr(int64_t value);
std::string UIntToStr(uint64_t value);
template <std::integral T> std::string IntToStr(T value) {
  if constexpr (std::is_signed_v<T>) return IntToStr(static_cast<int64_t>(value));
  else return UIntToStr(static_cast<uint64_t>(value));
}
// Upper-case hexadecimal with at least digits digits; a negative value shows the
// two's complement of its own width (IntToHex(-1, 2) of a 32-bit value is "FFFFFFFF").
std::string IntToHexBits(uint64_t value, int digits);
template <std::integral T> std::string IntToHex(T value, int digits) {
  return IntToHexBits(static_cast<uint64_t>(static_cast<std::make_unsigned_t<T>>(value)), digits);
}

// Decimal with an optional sign, or hexadecimal after "$", "0x" or "0X"; leading
// blanks are skipped, anything after the digits makes the text invalid. StrToInt
// raises EConvertError "'%s' is not a valid integer value"; it takes a 32-bit
// value, StrToInt64 a 64-bit one.
bool TryStrToInt(const std::string& s, int32_t& value);
bool TryStrToInt64(const std::string& s, int64_t& value);
int32_t StrToInt(const std::string& s);
int64_t StrToInt64(const std::string& s);
int32_t StrToIntDef(const std::string& s, int32_t defaultValue);
int64_t StrToInt64Def(const std::string& s, int64_t defaultValue);

// ---- Floating point ----------------------------------------------------------

enum TFloatFormat : uint8_t { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };
constexpr char DecimalSeparator = '.';
constexpr char ThousandSeparator = ',';

// precision is the number of significant digits (1..18); digits the decimals of
// ffFixed and ffNumber or the least exponent digits of ffExponent. Values are rounded
// halves away from zero on their decimal digits, as the framework prints them.
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits);
// ffGeneral with 15 digits: "0.1", "1E20", "1E-5".
std::string FloatToStr(double value);
// Blanks around the number are allowed; the decimal separator is '.'. StrToFloat
// raises EConvertError "'%s' is not a valid floating point value".
bool TryStrToFloat(const std::string& s, double& value);
double StrToFloat(const std::string& s);
double StrToFloatDef(const std::string& s, double defaultValue);

// ---- Text -----------------------------------------------------------------------

// Case changes and case-insensitive comparisons work on ASCII letters; other bytes
// (UTF-8 sequences among them) pass through unchanged.
std::string UpperCase(const std::string& s);
std::string LowerCase(const std::string& s);
int CompareStr(const std::string& a, const std::string& b);
int CompareText(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);
inline std::string AnsiUpperCase(const std::string& s) { return UpperCase(s); }
inline std::string AnsiLowerCase(const std::string& s) { return LowerCase(s); }
inline int AnsiCompareText(const std::string& a, const std::string& b) { return CompareText(a, b); }
inline int AnsiCompareStr(const std::string& a, const std::string& b) { return CompareStr(a, b); }
inline bool AnsiSameText(const std::string& a, const std::string& b) { return SameText(a, b); }

// Trim removes blanks and control characters (every byte up to ' ') at either end.
std::string Trim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);

enum TReplaceFlag : uint8_t { rfReplaceAll, rfIgnoreCase };
using TReplaceFlags = TSet<TReplaceFlag>;
std::string StringReplace(const std::string& s, const std::string& oldPattern, const std::string& newPattern,
                          TReplaceFlags flags);

// Encloses s in quote characters, doubling the quote characters inside.
std::string AnsiQuotedStr(const std::string& s, char quote);
std::string QuotedStr(const std::string& s);
// Reads a quoted text starting at s[pos] (the quote): doubled quotes become one, the
// next single quote ends it (as does the end of s). pos ends after the closing quote.
std::string AnsiExtractQuotedStr(const std::string& s, size_t& pos, char quote);

// 1-based index of the last character of s that is one of delimiters, 0 for none.
int LastDelimiter(const std::string& delimiters, const std::string& s);

// ---- Paths (both separators accepted) -----------------------------------------

constexpr char PathDelim = '\\';
constexpr char DriveDelim = ':';
bool IsPathSeparator(char c);
// "C:\a\b.txt" -> "C:\a\"; "b.txt" -> "".
std::string ExtractFilePath(const std::string& fileName);
// "C:\a\b.txt" -> "C:\a"; "C:\b.txt" -> "C:\"; "/b.txt" -> "/".
std::string ExtractFileDir(const std::string& fileName);
std::string ExtractFileName(const std::string& fileName);
// The extension with its dot (".txt"); "" when the name has none.
std::string ExtractFileExt(const std::string& fileName);
// "C:" for a drive path, "\\server\share" for a network path, else "".
std::string ExtractFileDrive(const std::string& fileName);
std::string ChangeFileExt(const std::string& fileName, const std::string& extension);
// Adds the separator the path already uses ('/' for a native path, else '\').
std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExcludeTrailingPathDelimiter(const std::string& path);
inline std::string IncludeTrailingBackslash(const std::string& p) { return IncludeTrailingPathDelimiter(p); }
inline std::string ExcludeTrailingBackslash(const std::string& p) { return ExcludeTrailingPathDelimiter(p); }
// A full path with "." and ".." resolved: a relative name is taken from the current
// folder; drive and network paths keep their Windows form.
std::string ExpandFileName(const std::string& fileName);

// ---- Files ----------------------------------------------------------------------

bool FileExists(const std::string& fileName);       // a file, not a folder
bool DirectoryExists(const std::string& directory);
bool CreateDir(const std::string& directory);
bool RemoveDir(const std::string& directory);
// Creates the folder and every missing parent; false when that fails or dir is empty.
bool ForceDirectories(const std::string& directory);
bool DeleteFile(const std::string& fileName);
// Fails, as on Windows, when newName already exists.
bool RenameFile(const std::string& oldName, const std::string& newName);
std::string GetCurrentDir();
bool SetCurrentDir(const std::string& directory);
// Size in bytes, -1 when no such file.
int64_t FileGetSize(const std::string& fileName);

// File handles, as THandleStream takes them: -1 when the call fails, errno
// saying why. FileOpen's mode is 0 (read), 1 (write) or 2 (read and write).
int FileOpen(const std::string& fileName, uint32_t mode);
// Creates the file, or empties the one there, for reading and writing.
int FileCreate(const std::string& fileName, int rights = 0666);
// Creates the file only when nothing has the name yet: testing and taking the
// name are one step, so another process cannot slip in between (errno EEXIST).
int FileCreateNew(const std::string& fileName, int rights = 0600);
// A scratch file only its handle reaches: created under the name, which is
// removed at once, so the file goes when the handle closes, however the
// program ends.
int FileCreateUnnamed(const std::string& fileName);
void FileClose(int handle);
// Writes what the system still holds of the file to the disk.
bool FileFlush(int handle);
// Sets size bytes of disk aside for the file; false when the disk has not
// that much room.
bool FileReserve(int handle, int64_t size);

// ---- Searching folders ----------------------------------------------------------

// File attributes with their Windows values.
constexpr int faReadOnly = 0x01;
constexpr int faHidden = 0x02;
constexpr int faSysFile = 0x04;
constexpr int faVolumeID = 0x08;
constexpr int faDirectory = 0x10;
constexpr int faArchive = 0x20;
constexpr int faAnyFile = 0x3F;

struct TFindState;
struct TSearchRec {
  int32_t Time = 0;  // DOS date and time of the last write
  int64_t Size = 0;  // 0 for a folder
  int Attr = 0;
  std::string Name;
  int ExcludeAttr = 0;
  std::shared_ptr<TFindState> FindHandle;
};

// Windows error codes the search returns.
constexpr int kErrorFileNotFound = 2;
constexpr int kErrorPathNotFound = 3;
constexpr int kErrorNoMoreFiles = 18;

// Searches the folder of path for names matching its last part, where '*' and '?'
// are wildcards and case does not count ("*.*" matches names without a dot too).
// Entries that are hidden, system or folders appear only when attr asks for them.
// Names come in case-insensitive order; "." and ".." are listed for folders that
// are not roots, as Windows lists them. Hidden are names starting with '.', read-only
// are entries we may not write. Returns 0 and fills rec, or a Windows error code.
int FindFirst(const std::string& path, int attr, TSearchRec& rec);
int FindNext(TSearchRec& rec);
void FindClose(TSearchRec& rec);

// ---- Date and time ------------------------------------------------------------

// Days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;
constexpr double MSecsPerDay = 86400000.0;

TDateTime Now();
TDateTime Date();
TDateTime Time();
// Raise EConvertError for an invalid date or time.
TDateTime EncodeDate(uint16_t year, uint16_t month, uint16_t day);
TDateTime EncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec);
bool TryEncodeDate(uint16_t year, uint16_t month, uint16_t day, TDateTime& date);
bool TryEncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec, TDateTime& time);
void DecodeDate(TDateTime date, uint16_t& year, uint16_t& month, uint16_t& day);
void DecodeTime(TDateTime time, uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec);
bool IsLeapYear(uint16_t year);
int DayOfWeek(TDateTime date);  // 1 = Sunday .. 7 = Saturday

// Short date "yyyy-mm-dd", long time "hh:nn:ss".
extern const char* const ShortDateFormat;
extern const char* const LongTimeFormat;
// Patterns: yyyy yy m mm mmm mmmm d dd ddd dddd h hh n nn s ss z zzz am/pm a/p,
// c (date, and the time when it is not midnight), ddddd (short date), tt (long
// time), / and : as they are, and text in "..." or '...' copied.
std::string FormatDateTime(const std::string& format, TDateTime dateTime);
std::string DateTimeToStr(TDateTime dateTime);
std::string DateToStr(TDateTime date);
std::string TimeToStr(TDateTime time);

// The packed DOS date and time of file systems (date in the high word).
TDateTime FileDateToDateTime(int32_t fileDate);
int32_t DateTimeToFileDate(TDateTime dateTime);
// The last-write time of a file as a DOS date and time, -1 when no such file.
int32_t FileAge(const std::string& fileName);
bool FileAge(const std::string& fileName, TDateTime& fileDateTime);
