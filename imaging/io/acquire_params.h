#pragma once
// The acquisition objects an input/output component owns. Scanning and camera
// transfer are not part of this program; the objects only carry the abort flag
// the component sets with its own, so a transfer would stop with it.
#include <cstdint>
#include <functional>

#include "platform/rtl/object.h"

class TIEAcquireParams : public TComponent {
public:
  explicit TIEAcquireParams(TComponent* owner) : TComponent(owner) {}
  uint8_t Aborting = 0;
};

class TIETwainParams : public TComponent {
public:
  explicit TIETwainParams(TComponent* owner) : TComponent(owner) {}
};

class TIEDcimAcquire : public TComponent {
public:
  explicit TIEDcimAcquire(TComponent* owner) : TComponent(owner) {}
  uint8_t Aborting = 0;
};

// Windows Image Acquisition: no device exists on this platform; the object
// keeps the progress hook a transfer would report through (percentage in,
// false to stop).
class TIEWia : public TComponent {
public:
  explicit TIEWia(TComponent* owner) : TComponent(owner) {}
  std::function<bool(int percentage)> OnProgress;
};

// Settings of a print preview; no dialog of this program reads them.
struct TIOPrintPreviewParams {
  double MarginLeft = 1.0, MarginTop = 1.0, MarginRight = 1.0, MarginBottom = 1.0;
  uint8_t Position = 4;
  uint8_t Size = 1;
  double Width = -1.0;
  double Height = -1.0;
  double Gamma = 1.0;
  int32_t Spare1 = 0;
  int32_t Spare2 = 4;
  int32_t Spare3 = 5;
  double Step = 0.1;
  uint8_t Flag1 = 1;
  uint8_t Flag2 = 1;
  int32_t Spare4 = 0;
  int32_t Spare5 = 0;
};
