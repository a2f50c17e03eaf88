#pragma once
// The processing unit's filters: the unsharp step behind the icon maker's
// sharpness slider, the 3x3 kernel filter with its named presets, and the
// unit's start-up work.
#include <cstdint>
#include <string>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_progress.h"

// Nine weights in row order (top-left .. bottom-right) and a divisor; 0 as
// divisor means 1.
struct TIEFilterPreset {
  int32_t Values[3][3] = {};
  int32_t Divisor = 0;
};

// Sharpens x1..x2-1, y1..y2-1 of an ie24RGB bitmap (x2 and y2 capped at the
// size): each channel becomes p + (p - mean) x amount / 10, clamped, with the
// mean taken over the size x size box around the pixel without its own row.
// A pixel whose box is empty (an image one pixel high or wide) is kept, and
// pixels outside the rectangle stay as they were. Other formats are left alone.
void SharpenArea(TIEBitmap& bitmap, int x1, int y1, TObject* sender, const TIEProgressEvent& progress, int size,
                 int amount, int y2, int x2);

// Filters x1..x2-1, y1..y2-1 of an ie8g bitmap (capped at the size) with a
// preset: |weighted 3x3 sum| div divisor, at most 255, with the neighbours
// clamped to the image. Other formats are left alone. The argument order is the
// one every caller of the library already uses.
void ApplyKernel3x3Gray(TIEBitmap& bitmap, const TIEFilterPreset& preset, int x1, int y2, int x2, int y1);

// Rearranges the three samples of each pixel of an ie24RGB or ieRGB48 bitmap:
// the letters of spec (any case) name, for the first, second and third sample
// in memory order (blue, green, red; an ieRGB48 pixel's words are named in
// that same order), where it comes from: "B", "G", "R", or "0" for zero. "BGR" keeps the picture and "RGB" swaps red and blue. A spec
// of fewer than three letters, or with another letter, changes nothing and
// gives false; so does any other format.
bool ReorderChannels(TIEBitmap& bitmap, const std::string& spec, TObject* sender, const TIEProgressEvent& progress);

// The preset list: "None", "Blur", "Edges", "Emboss", "High Pass 1" to "3",
// "Low Pass 1" and "2" after InitFilterPresets.
void InitFilterPresets();
void FreeFilterPresets();
void AddFilterPreset(const TIEFilterPreset& preset, const std::string& name);
int FilterPresetCount();
// Empty / a zero preset outside 0..count-1.
std::string GetFilterPresetName(int index);
TIEFilterPreset GetFilterPreset(int index);

// The registered id of "IMAGELIB RAW FORMAT" (registered on first use when the
// start-up has not run).
unsigned ImageLibRawClipboardFormat();

// Start-up and shutdown of the unit: presets and the private clipboard format.
void InitImageProcUnit();
void DoneImageProcUnit();
