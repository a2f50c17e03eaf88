#pragma once
// The CCITT fax codings of TIFF: modified Huffman (compression 2), Group 3
// one- and two-dimensional (3) and Group 4 (4). Decoders write rows with a set
// bit for white, most significant bit leftmost; encoders take rows with a set
// bit for black. Data is read with its first bit in the most significant bit
// of each byte (fill order 1) or the least (fill order 2), never past its length.
#include <cstdint>
#include <vector>

class TStream;

// Builds the code tables the decoders walk; the library's start-up runs it
// (decoding before it builds them on first use).
void BuildCCITTTrees();
void FreeCCITTTrees();

// One row of one-dimensional codes from bitPosition; returns the bit position
// after the row.
int64_t CCITTDecodeRow1D(uint8_t* row, const uint8_t* data, int64_t dataLength, int fillOrder, int64_t bitPosition,
                         int width);
// One modified-Huffman row from bit 0; returns the bytes it used (rows start on
// byte boundaries).
int64_t CCITTDecode1D(uint8_t* row, const uint8_t* data, int64_t dataLength, int fillOrder, int width);
// One two-dimensional row against referenceRow (ceil(width / 8) bytes, set
// bits white; all white at a strip's start), which then receives the row.
// With eolHandling an EOL before the row's first code says whether it is coded
// one-dimensionally (Group 3 two-dimensional). Returns the bit position after the row.
int64_t CCITTDecode2D(uint8_t* row, const uint8_t* data, int64_t dataLength, bool eolHandling, int fillOrder,
                      int64_t bitPosition, uint8_t* referenceRow, int width);

// Encoder state of one strip, kept by the caller between rows.
struct TCCITTEncoderState {
  int PendingBits = 0;
  uint8_t PendingByte = 0;
  std::vector<uint8_t> ReferenceRow;  // empty at a strip's start
  bool HasReference = false;
};

// Each writes one row (a nil row ends the strip) through the stream's raising
// write. Rows hold ceil(width / 8) bytes, a set bit black.
void CCITTEncodeHuffman(const uint8_t* row, int width, TStream& stream, int fillOrder);
void CCITTEncodeG3(const uint8_t* row, int width, TStream& stream, int fillOrder, TCCITTEncoderState& state);
void CCITTEncodeG3_2D(const uint8_t* row, int width, TStream& stream, int fillOrder, TCCITTEncoderState& state);
void CCITTEncodeG4(const uint8_t* row, int width, TStream& stream, int fillOrder, TCCITTEncoderState& state);
