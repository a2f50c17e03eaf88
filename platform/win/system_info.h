#pragma once
// What the program asks Windows about the machine: the Windows version (a
// setting of the model, 6.1 unless changed), the metrics of a virtual screen of
// 1280 x 1024 pixels at 32 bits and 96 DPI, and the real processor count, memory
// size and clock of this machine.
#include <string>

#include "platform/win/win_types.h"

// ---- version ----

constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
constexpr BYTE VER_NT_WORKSTATION = 1;

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  char szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148);

struct OSVERSIONINFOEXA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  char szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
};
static_assert(sizeof(OSVERSIONINFOEXA) == 156);

using OSVERSIONINFO = OSVERSIONINFOA;
using OSVERSIONINFOEX = OSVERSIONINFOEXA;

// dwOSVersionInfoSize must be 148 or 156 (the extended form), else FALSE with
// ERROR_INSUFFICIENT_BUFFER.
BOOL GetVersionEx(OSVERSIONINFOA* info);
inline BOOL GetVersionEx(OSVERSIONINFOEXA* info) { return GetVersionEx(reinterpret_cast<OSVERSIONINFOA*>(info)); }
inline BOOL GetVersionExA(OSVERSIONINFOA* info) { return GetVersionEx(info); }
// Major version in the low byte, minor in the next, build in the high word
// (bit 31 set outside the NT family).
DWORD GetVersion();

struct TWindowsVersion {
  DWORD Major = 6;
  DWORD Minor = 1;
  DWORD Build = 7601;
  DWORD PlatformId = VER_PLATFORM_WIN32_NT;
  std::string CSDVersion = "Service Pack 1";
  WORD ServicePackMajor = 1;
  WORD ServicePackMinor = 0;
};
TWindowsVersion WindowsVersion();
// The version the model reports; tests try the program's paths for older systems.
void SetWindowsVersion(const TWindowsVersion& version);

// ---- screen and system metrics ----

struct TVirtualScreen {
  int Width = 1280;
  int Height = 1024;
  int BitsPerPixel = 32;
  int DpiX = 96;
  int DpiY = 96;
};
TVirtualScreen VirtualScreen();
void SetVirtualScreen(const TVirtualScreen& screen);
// The screen's answer to GetDeviceCaps (the drawing layer asks this for screen
// device contexts); 0 for an index the screen has no value for.
int ScreenDeviceCaps(int index);

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CXVSCROLL = 2;
constexpr int SM_CYHSCROLL = 3;
constexpr int SM_CYCAPTION = 4;
constexpr int SM_CXBORDER = 5;
constexpr int SM_CYBORDER = 6;
constexpr int SM_CXDLGFRAME = 7;
constexpr int SM_CXFIXEDFRAME = 7;
constexpr int SM_CYDLGFRAME = 8;
constexpr int SM_CYFIXEDFRAME = 8;
constexpr int SM_CYVTHUMB = 9;
constexpr int SM_CXHTHUMB = 10;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int SM_CXCURSOR = 13;
constexpr int SM_CYCURSOR = 14;
constexpr int SM_CYMENU = 15;
constexpr int SM_CXFULLSCREEN = 16;
constexpr int SM_CYFULLSCREEN = 17;
constexpr int SM_CYKANJIWINDOW = 18;
constexpr int SM_MOUSEPRESENT = 19;
constexpr int SM_CYVSCROLL = 20;
constexpr int SM_CXHSCROLL = 21;
constexpr int SM_DEBUG = 22;
constexpr int SM_SWAPBUTTON = 23;
constexpr int SM_CXMIN = 28;
constexpr int SM_CYMIN = 29;
constexpr int SM_CXSIZE = 30;
constexpr int SM_CYSIZE = 31;
constexpr int SM_CXFRAME = 32;
constexpr int SM_CXSIZEFRAME = 32;
constexpr int SM_CYFRAME = 33;
constexpr int SM_CYSIZEFRAME = 33;
constexpr int SM_CXMINTRACK = 34;
constexpr int SM_CYMINTRACK = 35;
constexpr int SM_CXDOUBLECLK = 36;
constexpr int SM_CYDOUBLECLK = 37;
constexpr int SM_CXICONSPACING = 38;
constexpr int SM_CYICONSPACING = 39;
constexpr int SM_MENUDROPALIGNMENT = 40;
constexpr int SM_CMOUSEBUTTONS = 43;
constexpr int SM_CXEDGE = 45;
constexpr int SM_CYEDGE = 46;
constexpr int SM_CXSMICON = 49;
constexpr int SM_CYSMICON = 50;
constexpr int SM_CYSMCAPTION = 51;
constexpr int SM_CXSMSIZE = 52;
constexpr int SM_CYSMSIZE = 53;
constexpr int SM_CXMENUSIZE = 54;
constexpr int SM_CYMENUSIZE = 55;
constexpr int SM_CXMAXIMIZED = 61;
constexpr int SM_CYMAXIMIZED = 62;
constexpr int SM_CXDRAG = 68;
constexpr int SM_CYDRAG = 69;
constexpr int SM_CXMENUCHECK = 71;
constexpr int SM_CYMENUCHECK = 72;
constexpr int SM_XVIRTUALSCREEN = 76;
constexpr int SM_YVIRTUALSCREEN = 77;
constexpr int SM_CXVIRTUALSCREEN = 78;
constexpr int SM_CYVIRTUALSCREEN = 79;
constexpr int SM_CMONITORS = 80;
constexpr int SM_SAMEDISPLAYFORMAT = 81;
constexpr int SM_CXFOCUSBORDER = 83;
constexpr int SM_CYFOCUSBORDER = 84;
constexpr int SM_REMOTESESSION = 0x1000;

// 0 for an index Windows does not know, as Windows answers.
int GetSystemMetrics(int index);
// Overrides one metric (tests of remote sessions, swapped buttons); reset puts
// every metric back to the model's.
void SetSystemMetric(int index, int value);
void ResetSystemMetrics();

// ---- processors and memory ----

struct SYSTEM_INFO {
  WORD wProcessorArchitecture;
  WORD wReserved;
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};
constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
constexpr WORD PROCESSOR_ARCHITECTURE_AMD64 = 9;
void GetSystemInfo(SYSTEM_INFO* info);

enum LOGICAL_PROCESSOR_RELATIONSHIP : int32_t {
  RelationProcessorCore = 0,
  RelationNumaNode = 1,
  RelationCache = 2,
  RelationProcessorPackage = 3,
};

// The record as Windows declares it for this program's pointer size (24 bytes in
// a 32-bit process, 32 here); callers divide by sizeof.
// The member types are named so the union stays standard C++.
struct TLogicalProcessorCore {
  BYTE Flags;  // 1: the core runs more than one logical processor
};
struct TLogicalProcessorNode {
  DWORD NodeNumber;
};
struct SYSTEM_LOGICAL_PROCESSOR_INFORMATION {
  ULONG_PTR ProcessorMask;
  LOGICAL_PROCESSOR_RELATIONSHIP Relationship;
  union {
    TLogicalProcessorCore ProcessorCore;
    TLogicalProcessorNode NumaNode;
    ULONGLONG Reserved[2];
  };
};

// One RelationProcessorCore record per physical core of this machine, then one
// RelationProcessorPackage per package. With a missing or short buffer: FALSE,
// ERROR_INSUFFICIENT_BUFFER and the length needed in *returnedLength.
BOOL GetLogicalProcessorInformation(SYSTEM_LOGICAL_PROCESSOR_INFORMATION* buffer, DWORD* returnedLength);

// The 32-bit record of the older call (values above 4 GB read 0xFFFFFFFF, as
// Windows reports an overflow).
struct MEMORYSTATUS {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  DWORD dwTotalPhys;
  DWORD dwAvailPhys;
  DWORD dwTotalPageFile;
  DWORD dwAvailPageFile;
  DWORD dwTotalVirtual;
  DWORD dwAvailVirtual;
};
static_assert(sizeof(MEMORYSTATUS) == 32);

struct MEMORYSTATUSEX {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  DWORDLONG ullTotalPhys;
  DWORDLONG ullAvailPhys;
  DWORDLONG ullTotalPageFile;
  DWORDLONG ullAvailPageFile;
  DWORDLONG ullTotalVirtual;
  DWORDLONG ullAvailVirtual;
  DWORDLONG ullAvailExtendedVirtual;
};
static_assert(sizeof(MEMORYSTATUSEX) == 64);

void GlobalMemoryStatus(MEMORYSTATUS* status);
// dwLength must be 64, else FALSE with ERROR_INVALID_PARAMETER.
BOOL GlobalMemoryStatusEx(MEMORYSTATUSEX* status);

// ---- time ----

// Milliseconds since the machine started; wraps after 49.7 days like Windows'.
DWORD GetTickCount();
ULONGLONG GetTickCount64();
DWORD timeGetTime();
void Sleep(DWORD milliseconds);

// ---- arithmetic ----

// a * b / c in 64 bits, rounded to the nearest integer (halves away from
// zero); -1 when c is 0 or the result does not fit in 32 bits.
int MulDiv(int a, int b, int c);
