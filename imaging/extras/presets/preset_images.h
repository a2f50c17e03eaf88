#pragma once
// The four picture frames the library carries as embedded PNG data, each with
// the opening where a picture goes. Listed at the library's start-up, freed at
// its shutdown; nothing in the program reads the list.
#include <cstdint>

#include "platform/rtl/lists.h"
#include "platform/win/win_types.h"

class TIEPresetImage : public TObject {
public:
  int32_t DataSize = 0;
  const void* Data = nullptr;  // part of the program: never freed, never changed
  int32_t FileType = 8;        // PNG
  TRect InnerRect{};
};

// The items in order (card, film strip, notepad, metal frame); nil outside
// the library's start-up and shutdown.
extern TList* PresetImages;

// The embedded resource of frame index (RT_RCDATA "PRESETFRAME0".."3").
constexpr int kPresetImageCount = 4;

void BuildPresetImages();
void FreePresetImages();
void InitPresetImages();
void DonePresetImages();
