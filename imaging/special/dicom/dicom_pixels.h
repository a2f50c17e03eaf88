#pragma once
// The pixel data of a DICOM file into the read's work bitmap: native data,
// RLE, JPEG, lossless JPEG and JPEG 2000, one frame of several, palette
// colour, and the mapping of stored values by rescale and window.
struct TDICOMContext;

// With the context's stream at the first byte of the pixel data's value.
// Failures set the abort flag with a reason.
void DecodeDICOMImage(TDICOMContext& ctx);
