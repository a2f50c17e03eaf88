#pragma once
// GIF: one frame of a GIF stream read into a library bitmap (1-bit for a
// black-and-white frame, 8-bit palette when the caller wants the native
// format, else 24-bit) with a mask of its transparent pixels, and a bitmap
// written as a single-frame GIF. The blocks and the LZW codec are the GIF
// picture's (pictures/gif); this filter adds the parameters, the pixel formats
// and the single-frame layout.
#include <cstdint>

#include "imaging/io/format_descriptor.h"
#include "imaging/io/ie_filters.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// Reads the frame GifImageIndex (counted from 0); frameCount receives the
// frames of the stream. mask is made when the frame has transparent pixels and
// ignoreTransparency is off, and reset otherwise. paramsOnly fills the
// parameters without decoding pixels. Bad data sets the abort flag with a
// reason; nothing is raised.
void ReadGIFStream(TStream& stream, TIEBitmap& bitmap, int& frameCount, bool ignoreTransparency, TIEMaskOut& mask,
                   bool paramsOnly, TProgressRecord& progress, TIOParamsVals& params);
// Writes the bitmap as a GIF of one frame at BitsPerSample bits (an alpha
// channel takes the last palette entry as the transparent one).
void WriteGIFStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress);

// The library's LZW codec of a frame's index buffer. The decoder leaves the
// stream where it found it when it can decode nothing (a code size above 8).
void GIFLZWDecompress(TStream& stream, int height, int width, uint8_t* indices, bool interlaced);
void GIFLZWCompress(TStream& stream, int height, int width, int bitsPerPixel, const uint8_t* indices,
                    bool interlaced);

// The format's record for the registry and the component's frames.
TIEFormatDescriptor GIFFormat();
