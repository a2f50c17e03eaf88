#pragma once
// The DICOM reader: the data elements of a file into the parameter set's
// element list, the elements that describe the pixels into a context, and
// the pixel data through the pixel decoder (dicom_pixels.h).
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/io/format_descriptor.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// What one read collects about the pixels.
struct TDICOMContext {
  TIOParamsVals* Params = nullptr;
  TIEBitmap* Bitmap = nullptr;  // the work bitmap; null when no pixels are wanted
  TProgressRecord* Progress = nullptr;
  TStream* Stream = nullptr;  // the data, position 0 where the file starts
  int64_t StreamSize = 0;

  bool NoPreamble = false;
  bool LittleEndian = true;
  std::string TransferSyntax;

  int SamplesPerPixel = 1;
  std::string Photometric;  // trimmed, upper case
  int PlanarConfiguration = 0;
  int Frames = 1;
  int PixelRepresentation = 0;  // 1: signed
  int Columns = 0;
  int Rows = 0;
  int BitsAllocated = 0;
  int BitsStored = 0;
  int BytesPerSample = 0;

  // Palette colour tables: 2^(bits allocated) entries, those the element does
  // not hold left 0.
  std::vector<uint16_t> Red, Green, Blue;

  // A window applies when both values were there and the width is above 0.
  bool HasWindowCentre = false, HasWindowWidth = false;
  double WindowCentre = -1, WindowWidth = -1;
  double RescaleIntercept = 0, RescaleSlope = 1;

  int64_t PixelDataPosition = -1;      // first byte of the pixel data's value
  int64_t PixelDataLength = -1;        // its length; -1 undefined (encapsulated)
  int64_t JpegPixelDataPosition = -1;  // a value that starts like a JFIF file
  int64_t JpegPixelDataLength = -1;

  bool HasWindow() const { return HasWindowCentre && HasWindowWidth && WindowWidth > 0; }
};

// "DICM" 128 bytes past the position (kept).
bool IsDICOMStream(TStream& stream);

// Reads the elements into params.DicomTags and the picture's fields into
// params and, unless paramsOnly, the pixels into bitmap (which may be null).
// Failures set the abort flag with a reason and leave bitmap as it was.
void ReadDICOMStream(TStream& stream, TIOParamsVals& params, TIEBitmap* bitmap, bool paramsOnly,
                     TProgressRecord& progress);

// The DICOM format for the input/output component.
TIEFormatDescriptor DICOMFormat();
