#pragma once
// The LZW codec of TIFF compression 5: codes of 9 to 12 bits, most significant
// bit first, 256 Clear and 257 End of Information, the code width growing one
// code early (at 511, 1023 and 2047) as every TIFF writer does.
#include <cstdint>

class TStream;

// Each call returns the next rowBytes bytes of the strip whose inputSize bytes
// start at input; state is nil before the first call of a strip and a nil input
// releases it. Codes are never read past inputSize. A row the data leaves short
// is padded with zeros; a call after the code stream ended, or bad codes, give
// nil. With fillOrder 2 every data byte is bit-reversed before use.
const uint8_t* TIFFLZWDecompress(const uint8_t* input, int64_t inputSize, int rowBytes, void*& state, int fillOrder);

// Compresses length bytes into stream, continuing the strip held in state (nil
// before its first call); nil data ends the strip (the last code and End of
// Information) and releases the state. Writes through the stream's raising
// write, so a short write raises instead of leaving a short strip.
void TIFFLZWCompress(const uint8_t* data, int64_t length, TStream* stream, void*& state);
