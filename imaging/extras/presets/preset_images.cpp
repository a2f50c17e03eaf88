#include "imaging/extras/presets/preset_images.h"

#include <string>

#include "platform/win/resources.h"

TList* PresetImages = nullptr;

namespace {
// The openings, in pixels of each picture (left, top, right, bottom).
constexpr TRect kOpenings[kPresetImageCount] = {
    {18, 29, 140, 119}, {13, 1, 95, 98}, {30, 14, 147, 92}, {17, 17, 131, 131}};
}  // namespace

void BuildPresetImages() {
  FreePresetImages();
  PresetImages = new TList;
  for (int i = 0; i < kPresetImageCount; ++i) {
    auto* item = new TIEPresetImage;
    const std::string name = "PRESETFRAME" + std::to_string(i);
    if (HRSRC found = FindResource(HInstance, name.c_str(), RT_RCDATA)) {
      item->Data = LockResource(LoadResource(HInstance, found));
      item->DataSize = static_cast<int32_t>(SizeofResource(HInstance, found));
    }
    item->InnerRect = kOpenings[i];
    PresetImages->Add(item);
  }
}

void FreePresetImages() {
  if (!PresetImages) return;
  for (int i = 0; i < PresetImages->Count(); ++i) delete static_cast<TIEPresetImage*>(PresetImages->Get(i));
  delete PresetImages;
  PresetImages = nullptr;
}

void InitPresetImages() { BuildPresetImages(); }
void DonePresetImages() { FreePresetImages(); }
