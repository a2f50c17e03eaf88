#pragma once
// Lossless JPEG (the Huffman-coded lossless process, SOF3, predictors 1 to 7)
// as DICOM stores it: one fragment in memory decoded into the caller's
// samples. libjpeg-turbo's lossless mode is not there in Debian's build, so
// the DICOM reader has its own decoder.
#include <cstddef>
#include <cstdint>
#include <vector>

class TStream;
struct TProgressRecord;

// What the frame header says.
struct TLosslessJpegFrame {
  int Precision = 0;   // P, 2 to 16
  int Lines = 0;       // Y
  int Samples = 0;     // X, per line
  int Components = 0;  // Nf
};

// Decodes the fragment of fragmentLength bytes at the stream position into
// one of the two buffers (the other is null): the 8-bit one takes precisions
// up to 8, the 16-bit one any. Rows follow each other top first, the
// components of a pixel side by side; capacity is the buffer's size in
// samples and a frame that does not fit fails. Samples are shifted left by
// the point transform. Returns false with a reason on failure; the buffer may
// then hold what was decoded so far. frame, when given, receives the header.
bool DecodeLosslessJPEG(TStream& stream, uint16_t* buffer16, uint8_t* buffer8, size_t capacity,
                        TProgressRecord& progress, int64_t fragmentLength, const char*& reason,
                        TLosslessJpegFrame* frame = nullptr);

// The same over bytes in memory.
bool DecodeLosslessJPEG(const uint8_t* data, size_t size, uint16_t* buffer16, uint8_t* buffer8, size_t capacity,
                        TProgressRecord& progress, const char*& reason, TLosslessJpegFrame* frame = nullptr);

// Reads only the frame header of the fragment in memory; false when there is
// no lossless (SOF3) frame header before the scan.
bool ReadLosslessJpegFrame(const uint8_t* data, size_t size, TLosslessJpegFrame& frame);
