#pragma once
// Types every reader and writer of the imaging library shares with the
// input/output component: the format codes and the progress record.
#include <atomic>
#include <cstdint>
#include <functional>

#include "imaging/core/ie_progress.h"

class TObject;
class TStream;

// The format codes of the registry, the parameter set and every load and save.
using TImageFileType = int32_t;
constexpr TImageFileType ioUnknown = 0;
constexpr TImageFileType ioTIFF = 1;
constexpr TImageFileType ioGIF = 2;
constexpr TImageFileType ioJPEG = 3;
constexpr TImageFileType ioPCX = 4;
constexpr TImageFileType ioBMP = 5;
constexpr TImageFileType ioICO = 6;
constexpr TImageFileType ioCUR = 7;
constexpr TImageFileType ioPNG = 8;
constexpr TImageFileType ioWMF = 9;
constexpr TImageFileType ioEMF = 10;
constexpr TImageFileType ioTGA = 11;
constexpr TImageFileType ioPXM = 12;
constexpr TImageFileType ioJP2 = 13;
constexpr TImageFileType ioJ2K = 14;
constexpr TImageFileType ioAVI = 15;
constexpr TImageFileType ioWBMP = 16;
constexpr TImageFileType ioPS = 17;
constexpr TImageFileType ioPDF = 18;
constexpr TImageFileType ioDCX = 19;
constexpr TImageFileType ioRAW = 20;
constexpr TImageFileType ioBMPRAW = 21;
constexpr TImageFileType ioWMV = 22;
constexpr TImageFileType ioMPEG = 23;
constexpr TImageFileType ioPSD = 24;
constexpr TImageFileType ioIEV = 25;
constexpr TImageFileType ioLYR = 26;
constexpr TImageFileType ioALL = 27;
constexpr TImageFileType ioDICOM = 28;
constexpr TImageFileType ioHDP = 29;


// Handed by the component to every reader and writer. A filter reports bad or
// short data by setting *AbortFlag and returning, and stops when another thread
// sets it. A reader that refuses its data says why through Refuse: the user
// only learns that the load failed, a test or a log reads the rule that fired.
struct TProgressRecord {
  TIEProgressEvent ProgressEvent;  // empty: nothing is reported
  TObject* Sender = nullptr;
  int32_t Counter = 0;
  int32_t Total = 0;
  double Step = 0;
  double Step2 = 0;
  std::atomic<bool>* AbortFlag = nullptr;
  const char* Refusal = nullptr;  // the first reason given to Refuse; null if none

  void Report(int per) const {
    if (ProgressEvent) ProgressEvent(Sender, per);
  }
  bool Aborted() const { return AbortFlag != nullptr && AbortFlag->load(); }
  void Abort() const {
    if (AbortFlag != nullptr) AbortFlag->store(true);
  }
  // Aborts, keeping why; a later, more general refusal of the same load does
  // not hide the rule that fired first.
  void Refuse(const char* why) {
    if (Refusal == nullptr) Refusal = why;
    Abort();
  }
};
