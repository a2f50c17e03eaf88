#pragma once
// What the main window's option controls mean for a rebuild of the base icon:
// the resample filter, the transparency mode and colour, the sharpness preset of
// a new source, and the red message shown for a source no reader accepts.
#include <cstdint>
#include <string>

#include "base/file_type_sniffer.h"
#include "base/toolbox/resample_filters.h"
#include "platform/graphics/graphics.h"

// The filter for a picture of width x height to become a 48-pixel icon: the
// chosen one, with irfAuto resolved to Lanczos3 for pictures wider than 48 or
// at least 48 high and to BSpline otherwise; irfNone when smoothing is off.
// What comes out is never irfAuto, so nothing below the window meets it.
TIconResampleFilter ResolveResampleFilter(TIconResampleFilter filter, int width, int height, bool smoothResample);

// The transparency radio buttons of the window.
enum TTransparencyChoice : uint8_t { tcAsIs, tcCustomColor, tcLeftBottom };
void TransparencyFromChoice(TTransparencyChoice choice, TColor customColour, int& mode, TColor& colour);

// The Resampling and Transparency controls; the defaults are those of Default
// Settings.
struct TBaseIconOptions {
  TTransparencyChoice Transparency = tcAsIs;
  TColor CustomColor = clNone;
  TIconResampleFilter FilterIndex = irfAuto;
  bool SmoothResample = true;
  bool ShrinkToFit = true;
  bool ZoomToFit = false;
  bool ConstrainProportions = true;
};
class TAdvancedIcon;
// The base icon (48, 32 and 16 pixels at 32 bits) of the picture as the
// controls say; the picture may be changed on the way.
void BuildBaseIcon(TBitmap* picture, const TBaseIconOptions& options, TAdvancedIcon& base);

// True when the options key a colour, which the converter clears in (or masks
// out of) the picture it is given.
bool WritesIntoSource(const TBaseIconOptions& options);

// The Sharpness slider's position for a newly loaded source: 6 for a JPEG,
// TIFF or JPEG 2000 picture wider and higher than 48 pixels, else 0.
int SharpnessPreset(int width, int height, TSniffedFileType fileType, const std::string& lowerExtension);

// "Unknown file format: name".
std::string UnknownSourceMessage(const std::string& fileName);
// The text shown when an icon, cursor or project file gives no image to load.
std::string NoImageSourceMessage(const std::string& fileName);
