#include "app/rebuild_options.h"

#include "app/icon_converter.h"
#include "base/app_messages.h"
#include "base/toolbox/resample_filters.h"

TIconResampleFilter ResolveResampleFilter(TIconResampleFilter filter, int width, int height, bool smoothResample) {
  if (!smoothResample) return irfNone;
  if (filter == irfAuto) return (width > 48 || height >= 48) ? irfLanczos3 : irfBSpline;
  return filter;
}

void TransparencyFromChoice(TTransparencyChoice choice, TColor customColour, int& mode, TColor& colour) {
  switch (choice) {
    case tcCustomColor:
      colour = customColour;
      mode = customColour != clNone ? itmColor : itmNone;
      return;
    case tcLeftBottom:
      mode = itmBottomLeft;
      colour = clNone;
      return;
    case tcAsIs:
    default:
      mode = itmNone;
      colour = clNone;
      return;
  }
}

int SharpnessPreset(int width, int height, TSniffedFileType fileType, const std::string& lowerExtension) {
  if (width <= 48 || height <= 48) return 0;
  // Our sniffer tells CMYK JPEG files apart; they are JPEG sources all the same.
  const bool jpegOrTiff = fileType == sftJpeg || fileType == sftJpegCmyk || fileType == sftTiff;
  const bool jpeg2000 =
      lowerExtension == "jp2" || lowerExtension == "jpe" || lowerExtension == "j2k" || lowerExtension == "j2c";
  return jpegOrTiff || jpeg2000 ? 6 : 0;
}

void BuildBaseIcon(TBitmap* picture, const TBaseIconOptions& options, TAdvancedIcon& base) {
  if (!picture) return;
  int mode = itmNone;
  TColor colour = clNone;
  TransparencyFromChoice(options.Transparency, options.CustomColor, mode, colour);
  const TIconResampleFilter filter =
      ResolveResampleFilter(options.FilterIndex, picture->Width(), picture->Height(), options.SmoothResample);
  MakeIconFromBitmap(picture, &base, options.ZoomToFit, colour, mode, filter, options.ConstrainProportions,
                     options.ShrinkToFit);
}

bool WritesIntoSource(const TBaseIconOptions& options) {
  int mode = itmNone;
  TColor colour = clNone;
  TransparencyFromChoice(options.Transparency, options.CustomColor, mode, colour);
  return mode != itmNone;
}

std::string UnknownSourceMessage(const std::string& fileName) {
  return std::string(AppMessages.UnknownFileFormat) + ": " + fileName;
}

std::string NoImageSourceMessage(const std::string& fileName) { return "No image to load in " + fileName; }
