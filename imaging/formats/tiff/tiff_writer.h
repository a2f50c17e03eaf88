#pragma once
// The TIFF writer: one bitmap with the TIFF, EXIF and GPS fields and the
// metadata blocks of its parameter set, as a new little-endian TIFF at the
// stream's position or as one more directory inserted into an existing
// little-endian TIFF. Without a bitmap it writes a directory of metadata tags
// only (the EXIF block builder uses that).
#include <cstdint>
#include <vector>

#include "imaging/formats/tiff/tiff_tag_writer.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// Returns the pages of the file after the write (1 for a new file), 0 when the
// write failed (abort flag set with a reason: a short write, a stream to insert
// into that is no little-endian TIFF or whose chain of directories loops).
// The parameters take the layout the writer chose (BitsPerSample,
// SamplesPerPixel, TiffPhotometric, TiffCompression). carried: entries of an
// EXIF block read that a rebuilt block keeps.
int WriteTIFFStream(TStream& stream, bool insert, TIEBitmap* bitmap, TProgressRecord& progress,
                    TIOParamsVals& params, const TEXIFCarried* carried = nullptr);

// PackBits of one row into the stream (the PSD filter's rule: runs of 4 or
// more repeat, shorter ones stay in literals of at most 128 bytes).
void TIFFPackBitsEncode(const uint8_t* data, int length, TFilterWriter& w);
