#pragma once
// Library-wide state of the imaging library, its one-time start-up and its
// shutdown, and the processor-core count that sizes the worker threads.
//
// The variables start with the values that start-up gives them, so code that
// runs before LibraryStaticInit (static constructors, tests) sees sane settings.
#include <cstdint>
#include <functional>
#include <string>

// Grey = (21 R + 71 G + 8 B) div 100 everywhere in the library.
extern int IEGrayWeightRed;
extern int IEGrayWeightGreen;
extern int IEGrayWeightBlue;
// Background picture of the library's dialogs: 0 none, 1 striped, 2 brushed.
extern uint8_t IEDialogBackground;

extern uint8_t IEWindowsVersion;      // GetWindowsVersionCode
extern bool IEWideAPI;                // NT family: wide-character calls
extern uint8_t IEPreviewZoomFilter;   // rfFastLinear
// Bitmap storage switches: -1 = no override of the per-bitmap memory limit.
extern int64_t MemoryLimitOverride;
extern bool AllowFileFallback;
extern bool AllowSegments;
// FileExistsA asks the framework's FileExists when set; nothing sets it.
extern bool IEFileTestSwitch;
// The blend table of the interpolation mode: round(64 - cos(i * pi / 255) * 64).
extern uint8_t InterpolationTable[256];

void InitGrayWeights();
void InitUtilityGlobals();
void DoneUtilityGlobals();
bool IsVistaOrLater();

// Processor cores (not logical processors), counted once; 1 when unknown.
int32_t GetProcessorCoreCount();

// The units above the core take part in start-up and shutdown through these
// slots, in the order listed; the core cannot call up into them directly.
enum TIEStartupStep : uint8_t {
  iessGdiPlus,           // canvas state
  iessGrayWeights,       // core
  iessUtilityGlobals,    // core
  iessVectUnit,          // vector objects
  iessImageIO,           // input and output framework
  iessImageProcUnit,     // processing unit
  iessViewGlobals,       // views
  iessCCITTTrees,        // fax codec
  iessTextMemoFormat,    // text control
  iessPresetImages,      // preset images
  iessJ2000Codec,        // shutdown only: the codec starts on first use
  iessStepCount
};
// Installs the start-up and shutdown routine of a slot (either may be empty).
void SetLibraryStartupStep(TIEStartupStep step, std::function<void()> init, std::function<void()> done);

// Runs every start-up step once per process, under the start-up lock; later
// calls only count. A step that raises leaves the count alone and the exception
// passes on; the steps that did finish are not run again by the next call.
void LibraryStaticInit();
// Matches one LibraryStaticInit; the last one runs the shutdown steps of the
// steps that ran, in reverse order. Without a start-up it does nothing.
void LibraryStaticDone();
// Number of start-ups not yet matched by a shutdown.
int LibraryStartupCount();
