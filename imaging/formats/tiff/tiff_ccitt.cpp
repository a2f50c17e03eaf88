#include "imaging/formats/tiff/tiff_ccitt.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/rtl/streams.h"

namespace {

// One code of the run-length tables: its bit length, its bits and the run it
// stands for (-3 an EOL, -1 an ignored code).
struct TCCITTCode {
  uint8_t length;
  uint16_t code;
  int16_t run;
};

// Records 0..63 terminating codes, 64..90 make-up codes of 64..1728; the
// extended make-up codes 1792..2560 (91..103) are shared by both colours.
constexpr TCCITTCode kWhite[91] = {
    {8, 0x35, 0},   {6, 0x07, 1},   {4, 0x07, 2},   {4, 0x08, 3},   {4, 0x0B, 4},   {4, 0x0C, 5},   {4, 0x0E, 6},
    {4, 0x0F, 7},   {5, 0x13, 8},   {5, 0x14, 9},   {5, 0x07, 10},  {5, 0x08, 11},  {6, 0x08, 12},  {6, 0x03, 13},
    {6, 0x34, 14},  {6, 0x35, 15},  {6, 0x2A, 16},  {6, 0x2B, 17},  {7, 0x27, 18},  {7, 0x0C, 19},  {7, 0x08, 20},
    {7, 0x17, 21},  {7, 0x03, 22},  {7, 0x04, 23},  {7, 0x28, 24},  {7, 0x2B, 25},  {7, 0x13, 26},  {7, 0x24, 27},
    {7, 0x18, 28},  {8, 0x02, 29},  {8, 0x03, 30},  {8, 0x1A, 31},  {8, 0x1B, 32},  {8, 0x12, 33},  {8, 0x13, 34},
    {8, 0x14, 35},  {8, 0x15, 36},  {8, 0x16, 37},  {8, 0x17, 38},  {8, 0x28, 39},  {8, 0x29, 40},  {8, 0x2A, 41},
    {8, 0x2B, 42},  {8, 0x2C, 43},  {8, 0x2D, 44},  {8, 0x04, 45},  {8, 0x05, 46},  {8, 0x0A, 47},  {8, 0x0B, 48},
    {8, 0x52, 49},  {8, 0x53, 50},  {8, 0x54, 51},  {8, 0x55, 52},  {8, 0x24, 53},  {8, 0x25, 54},  {8, 0x58, 55},
    {8, 0x59, 56},  {8, 0x5A, 57},  {8, 0x5B, 58},  {8, 0x4A, 59},  {8, 0x4B, 60},  {8, 0x32, 61},  {8, 0x33, 62},
    {8, 0x34, 63},  {5, 0x1B, 64},  {5, 0x12, 128}, {6, 0x17, 192}, {7, 0x37, 256}, {8, 0x36, 320}, {8, 0x37, 384},
    {8, 0x64, 448}, {8, 0x65, 512}, {8, 0x68, 576}, {8, 0x67, 640}, {9, 0xCC, 704}, {9, 0xCD, 768}, {9, 0xD2, 832},
    {9, 0xD3, 896}, {9, 0xD4, 960}, {9, 0xD5, 1024}, {9, 0xD6, 1088}, {9, 0xD7, 1152}, {9, 0xD8, 1216},
    {9, 0xD9, 1280}, {9, 0xDA, 1344}, {9, 0xDB, 1408}, {9, 0x98, 1472}, {9, 0x99, 1536}, {9, 0x9A, 1600},
    {6, 0x18, 1664}, {9, 0x9B, 1728}};

constexpr TCCITTCode kBlack[91] = {
    {10, 0x37, 0},   {3, 0x02, 1},    {2, 0x03, 2},    {2, 0x02, 3},    {3, 0x03, 4},    {4, 0x03, 5},
    {4, 0x02, 6},    {5, 0x03, 7},    {6, 0x05, 8},    {6, 0x04, 9},    {7, 0x04, 10},   {7, 0x05, 11},
    {7, 0x07, 12},   {8, 0x04, 13},   {8, 0x07, 14},   {9, 0x18, 15},   {10, 0x17, 16},  {10, 0x18, 17},
    {10, 0x08, 18},  {11, 0x67, 19},  {11, 0x68, 20},  {11, 0x6C, 21},  {11, 0x37, 22},  {11, 0x28, 23},
    {11, 0x17, 24},  {11, 0x18, 25},  {12, 0xCA, 26},  {12, 0xCB, 27},  {12, 0xCC, 28},  {12, 0xCD, 29},
    {12, 0x68, 30},  {12, 0x69, 31},  {12, 0x6A, 32},  {12, 0x6B, 33},  {12, 0xD2, 34},  {12, 0xD3, 35},
    {12, 0xD4, 36},  {12, 0xD5, 37},  {12, 0xD6, 38},  {12, 0xD7, 39},  {12, 0x6C, 40},  {12, 0x6D, 41},
    {12, 0xDA, 42},  {12, 0xDB, 43},  {12, 0x54, 44},  {12, 0x55, 45},  {12, 0x56, 46},  {12, 0x57, 47},
    {12, 0x64, 48},  {12, 0x65, 49},  {12, 0x52, 50},  {12, 0x53, 51},  {12, 0x24, 52},  {12, 0x37, 53},
    {12, 0x38, 54},  {12, 0x27, 55},  {12, 0x28, 56},  {12, 0x58, 57},  {12, 0x59, 58},  {12, 0x2B, 59},
    {12, 0x2C, 60},  {12, 0x5A, 61},  {12, 0x66, 62},  {12, 0x67, 63},  {10, 0x0F, 64},  {12, 0xC8, 128},
    {12, 0xC9, 192}, {12, 0x5B, 256}, {12, 0x33, 320}, {12, 0x34, 384}, {12, 0x35, 448}, {13, 0x6C, 512},
    {13, 0x6D, 576}, {13, 0x4A, 640}, {13, 0x4B, 704}, {13, 0x4C, 768}, {13, 0x4D, 832}, {13, 0x72, 896},
    {13, 0x73, 960}, {13, 0x74, 1024}, {13, 0x75, 1088}, {13, 0x76, 1152}, {13, 0x77, 1216}, {13, 0x52, 1280},
    {13, 0x53, 1344}, {13, 0x54, 1408}, {13, 0x55, 1472}, {13, 0x5A, 1536}, {13, 0x5B, 1600}, {13, 0x64, 1664},
    {13, 0x65, 1728}};

constexpr TCCITTCode kExtended[13] = {{11, 0x08, 1792}, {11, 0x0C, 1856}, {11, 0x0D, 1920}, {12, 0x12, 1984},
                                      {12, 0x13, 2048}, {12, 0x14, 2112}, {12, 0x15, 2176}, {12, 0x16, 2240},
                                      {12, 0x17, 2304}, {12, 0x1C, 2368}, {12, 0x1D, 2432}, {12, 0x1E, 2496},
                                      {12, 0x1F, 2560}};

constexpr int kRecords = 128;
constexpr int kEOLRecord = 104;
constexpr int kLastEOL = 127;
constexpr int kNone = -1;

// The record of index i of a colour's table.
TCCITTCode Record(bool black, int i) {
  if (i < 91) return black ? kBlack[i] : kWhite[i];
  if (i < 104) return kExtended[i - 91];
  if (i == 104) return {12, 1, -3};
  if (i < 108) return {uint8_t(9 + i - 105), 1, -1};
  return {uint8_t(13 + i - 108), 1, -3};
}

// Decoding tables from the 128 records: for each 13-bit window, the record of
// the code it starts with and that code's length. A window of 13 zeros starts
// one of the long EOL codes, found by counting zeros.
constexpr int kPeek = 13;
struct TCCITTTable {
  uint8_t length[1 << kPeek];
  uint8_t record[1 << kPeek];
};
TCCITTTable gTables[2];
std::once_flag gBuilt;

void BuildTables() {
  for (int colour = 0; colour < 2; ++colour) {
    TCCITTTable& t = gTables[colour];
    std::memset(&t, 0, sizeof t);
    for (int i = 0; i < kRecords; ++i) {
      const TCCITTCode c = Record(colour == 1, i);
      if (c.length > kPeek) continue;
      const int shift = kPeek - c.length;
      for (int k = 0; k < (1 << shift); ++k) {
        const int index = (c.code << shift) | k;
        t.length[index] = c.length;
        t.record[index] = uint8_t(i);
      }
    }
  }
}

void EnsureTables() { std::call_once(gBuilt, BuildTables); }

// Bits from position p of the data, most significant first; bits past the
// data read as 0.
struct TBitReader {
  const uint8_t* data;
  int64_t length;
  bool reverse;

  uint8_t Byte(int64_t i) const {
    if (i >= length) return 0;
    uint8_t b = data[i];
    if (reverse) {
      b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
      b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
      b = uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
    }
    return b;
  }
  uint32_t Fetch(int64_t p) const {
    const int64_t byte = p >> 3;
    uint64_t w = 0;
    if (!reverse && byte + 8 <= length) {
      for (int i = 0; i < 5; ++i) w = w << 8 | data[byte + i];
    } else {
      for (int i = 0; i < 5; ++i) w = w << 8 | Byte(byte + i);
    }
    return uint32_t((w << (p & 7)) >> 8);
  }
  bool AtEnd(int64_t p) const { return p >= length * 8; }
};

// The record at p for a colour and its length; an EOL at or past the end.
int DecodeRun(const TBitReader& in, int64_t p, bool black, int& codeLength) {
  if (in.AtEnd(p)) {
    codeLength = 0;
    return kLastEOL;
  }
  const uint32_t w = in.Fetch(p);
  const TCCITTTable& t = gTables[black ? 1 : 0];
  const uint32_t index = w >> (32 - kPeek);
  if (t.length[index] != 0) {
    codeLength = t.length[index];
    return t.record[index];
  }
  if (w == 0) return kNone;
  int zeros = 0;
  while (!(w & (0x80000000u >> zeros))) ++zeros;
  codeLength = zeros + 1;
  return 108 + zeros + 1 - 13;
}

bool IsEOL(int record) { return record == kEOLRecord || record >= 108; }

int RunOf(bool black, int record) { return Record(black, record).run; }

// Row bits: set = the colour whose bit value is 1.
inline bool Bit(const uint8_t* row, int64_t i) { return (row[i >> 3] >> (7 - (i & 7))) & 1; }

// Clears bits from..to-1 (clipped to the row): black on decoded rows.
void ClearBits(uint8_t* row, int64_t from, int64_t to, int width) {
  from = std::max<int64_t>(from, 0);
  to = std::min<int64_t>(to, width);
  while (from < to && (from & 7)) {
    row[from >> 3] &= uint8_t(~(0x80 >> (from & 7)));
    ++from;
  }
  if (to - from >= 8) {
    std::memset(row + (from >> 3), 0, size_t((to - from) >> 3));
    from += (to - from) & ~int64_t(7);
  }
  for (; from < to; ++from) row[from >> 3] &= uint8_t(~(0x80 >> (from & 7)));
}

// First position at or after from whose bit equals bit; position -1 is the
// imaginary white pixel before the row (a set bit in decoded rows, a clear
// one in rows to encode). width when there is none.
int64_t NextChange(const uint8_t* row, int width, int64_t from, bool bit, bool imaginary = false) {
  if (from < 0) {
    if (bit == imaginary) return -1;
    from = 0;
  }
  const uint8_t skip = bit ? 0x00 : 0xFF;
  while (from < width) {
    if ((from & 7) == 0 && from + 8 <= width && row[from >> 3] == skip) {
      from += 8;
      continue;
    }
    if (Bit(row, from) == bit) return from;
    ++from;
  }
  return width;
}

// b1: the first change on the reference row after a0 to the colour opposite
// the current one; b2: the next change after it. colourBit is the current
// colour's bit value.
void FindB1B2(const uint8_t* ref, int width, int64_t a0, bool colourBit, bool whiteBit, int64_t& b1, int64_t& b2) {
  const int64_t x = NextChange(ref, width, a0, colourBit, whiteBit);
  b1 = x >= width ? width : NextChange(ref, width, x + 1, !colourBit);
  b2 = b1 >= width ? width : NextChange(ref, width, b1 + 1, colourBit);
}

void FillWhite(uint8_t* row, int width) { std::memset(row, 0xFF, size_t((width + 7) / 8)); }

// The two-dimensional modes: 0 none, 1 pass, 2 horizontal, 3..9 vertical
// -3..+3, 10 and 11 uncompressed-mode extensions, 12 EOL.
int DecodeMode(const TBitReader& in, int64_t p, int& length) {
  const uint32_t w = in.Fetch(p);
  if (w & 0x80000000u) return length = 1, 6;
  switch (w >> 29) {
    case 2: return length = 3, 5;
    case 3: return length = 3, 7;
    case 1: return length = 3, 2;
    default: break;
  }
  if ((w >> 28) == 1) return length = 4, 1;
  switch (w >> 26) {
    case 2: return length = 6, 4;
    case 3: return length = 6, 8;
    default: break;
  }
  switch (w >> 25) {
    case 2: return length = 7, 3;
    case 3: return length = 7, 9;
    default: break;
  }
  if ((w >> 22) == 0x0F) return length = 10, 10;
  if ((w >> 20) == 0x00F) return length = 12, 11;
  if ((w >> 20) == 0x001) return length = 12, 12;
  length = 12;
  return 0;
}

// Sum of run records of one colour up to a terminating code; -1 when an EOL,
// an ignored code or the data's end comes first (nothing is consumed then).
int64_t ReadRun(const TBitReader& in, int64_t& p, bool black) {
  int64_t total = 0, q = p;
  for (;;) {
    int length = 0;
    const int record = DecodeRun(in, q, black, length);
    if (record == kNone || IsEOL(record) || (record >= 105 && record <= 107)) return -1;
    total += RunOf(black, record);
    q += length;
    if (record < 64) break;
  }
  p = q;
  return total;
}

}  // namespace

void BuildCCITTTrees() { EnsureTables(); }

void FreeCCITTTrees() {}

int64_t CCITTDecodeRow1D(uint8_t* row, const uint8_t* data, int64_t dataLength, int fillOrder, int64_t p, int width) {
  EnsureTables();
  const TBitReader in{data, dataLength, fillOrder == 2};
  FillWhite(row, width);
  bool black = false, carry = false;
  int64_t a = 0;
  const int64_t start = p;
  while (a < width || carry) {
    int length = 0;
    const int record = DecodeRun(in, p, black, length);
    if (record == kNone) {
      ++p;  // stray bits before the first code
      continue;
    }
    if (IsEOL(record)) {
      if (length == 0) break;  // the data's end
      if (p == start) {
        p += length;
        continue;
      }
      if (black) ClearBits(row, a, width, width);
      p += length;
      break;
    }
    p += length;
    if (record >= 105) {
      carry = true;
      continue;
    }
    const int run = RunOf(black, record);
    if (black) ClearBits(row, a, a + run, width);
    a = std::min<int64_t>(a + run, int64_t(width) + 2560);
    carry = record >= 64;
    if (!carry) black = !black;
  }
  return p;
}

int64_t CCITTDecode1D(uint8_t* row, const uint8_t* data, int64_t dataLength, int fillOrder, int width) {
  const int64_t end = CCITTDecodeRow1D(row, data, dataLength, fillOrder, 0, width);
  return std::max<int64_t>(1, (end + 7) / 8);
}

int64_t CCITTDecode2D(uint8_t* row, const uint8_t* data, int64_t dataLength, bool eolHandling, int fillOrder,
                      int64_t p, uint8_t* ref, int width) {
  EnsureTables();
  const TBitReader in{data, dataLength, fillOrder == 2};
  FillWhite(row, width);
  int64_t a0 = -1;
  bool black = false;
  int64_t rowStart = p;
  const int64_t rowBytes = (width + 7) / 8;
  while (a0 < width && !in.AtEnd(p)) {
    const int64_t codeStart = p;
    int length = 0;
    int m = DecodeMode(in, p, length);
    p += length;
    if (eolHandling && m == 0) {
      // Fill zeros before an EOL, up to its 1 bit, never past the data.
      while (!in.AtEnd(p) && !(in.Fetch(p) & 0x80000000u)) ++p;
      if (in.AtEnd(p)) break;
      ++p;
      m = 12;
    }
    const int64_t a = std::max<int64_t>(a0, 0);
    int64_t b1, b2;
    FindB1B2(ref, width, a0, !black, true, b1, b2);
    switch (m) {
      case 1:
        if (black) ClearBits(row, a, b2, width);
        a0 = b2;
        break;
      case 2: {
        int64_t q = p;
        int64_t first = ReadRun(in, q, black);
        int64_t second = first < 0 ? -1 : ReadRun(in, q, !black);
        if (first < 0 || second < 0) break;  // dropped; an EOL there ends the row next
        p = q;
        first = std::min<int64_t>(first, width - a);
        if (black) ClearBits(row, a, a + first, width);
        const int64_t mid = a + first;
        second = std::min<int64_t>(second, width - mid);
        if (!black) ClearBits(row, mid, mid + second, width);
        a0 = mid + second;
        break;
      }
      case 3:
      case 4:
      case 5:
      case 6:
      case 7:
      case 8:
      case 9: {
        // A code that would put a1 outside the row is clipped to it.
        const int64_t a1 = std::clamp<int64_t>(b1 + (m - 6), a, width);
        if (black) ClearBits(row, a, a1, width);
        a0 = a1;
        black = !black;
        break;
      }
      case 10:
      case 11: {
        int64_t x = a;
        while (!in.AtEnd(p) && x < width) {
          const uint32_t w = in.Fetch(p);
          int k = 0;
          while (k < 11 && !(w & (0x80000000u >> k))) ++k;
          if (k == 11) break;
          ++k;  // position of the 1 bit, 1..11
          p += k;
          if (k <= 5) {
            ClearBits(row, x + k - 1, x + k, width);
            x += k;
          } else if (k == 6) {
            x += 5;
          } else {
            x += k - 7;
            black = !in.AtEnd(p) && (in.Fetch(p) & 0x80000000u);
            ++p;
            break;
          }
        }
        a0 = std::min<int64_t>(x, width);
        break;
      }
      case 12:
        if (codeStart == rowStart) {
          // An EOL before the row's first code: its tag bit says how the row is coded.
          const bool oneD = !in.AtEnd(p) && (in.Fetch(p) & 0x80000000u);
          ++p;
          if (oneD) {
            p = CCITTDecodeRow1D(row, data, dataLength, fillOrder, p, width);
            std::memcpy(ref, row, size_t(rowBytes));
            return p;
          }
          rowStart = p;
          break;
        }
        if (black && a0 >= 0) ClearBits(row, a0, width, width);
        p = codeStart;  // the next row begins with this EOL
        a0 = width;
        break;
      default: break;
    }
  }
  std::memcpy(ref, row, size_t(rowBytes));
  return p;
}

// ---- encoders ----

namespace {

// Codes gathered for one call, most significant bit first, after the bits the
// previous call left pending.
struct TBitWriter {
  std::vector<uint8_t> bytes;
  uint32_t acc = 0;
  int count = 0;

  TBitWriter(const TCCITTEncoderState* state) {
    if (state != nullptr && state->PendingBits > 0) {
      acc = state->PendingByte >> (8 - state->PendingBits);
      count = state->PendingBits;
    }
  }
  void Put(int length, uint32_t code) {
    while (length > 16) {
      Put(16, code >> (length - 16));
      length -= 16;
    }
    acc = (acc << length) | (code & ((1u << length) - 1));
    count += length;
    while (count >= 8) {
      count -= 8;
      bytes.push_back(uint8_t(acc >> count));
    }
  }
  void PadToByte() {
    if (count > 0) Put(8 - count, 0);
  }
  // Writes the whole bytes and keeps the rest pending.
  void Flush(TStream& stream, int fillOrder, TCCITTEncoderState* state) {
    if (fillOrder == 2)
      for (uint8_t& b : bytes) {
        b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
        b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
        b = uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
      }
    if (!bytes.empty()) stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    if (state != nullptr) {
      state->PendingBits = count;
      state->PendingByte = count > 0 ? uint8_t(acc << (8 - count)) : 0;
    }
  }
};

void PutCode(TBitWriter& w, const TCCITTCode& c) { w.Put(c.length, c.code); }

void PutRun(TBitWriter& w, int64_t n, bool black) {
  while (n >= 64) {
    const int64_t chunk = n <= 2560 ? (n / 64) * 64 : 2560;
    const int index = int(chunk / 64);  // 1..40
    PutCode(w, index <= 27 ? Record(black, 63 + index) : kExtended[index - 28]);
    n -= chunk;
  }
  PutCode(w, Record(black, int(n)));
}

void PutEOL(TBitWriter& w) { w.Put(12, 1); }

// Encoder rows: a set bit is black.
void EncodeRow1D(TBitWriter& w, const uint8_t* row, int width) {
  int64_t a = 0;
  bool black = false;
  while (a < width) {
    const int64_t next = NextChange(row, width, a, !black);
    PutRun(w, next - a, black);
    a = next;
    black = !black;
  }
  if (width == 0) PutRun(w, 0, false);
}

void EncodeRow2D(TBitWriter& w, const uint8_t* row, const uint8_t* ref, int width) {
  int64_t a0 = -1;
  bool black = false;
  while (a0 < width) {
    const int64_t a1 = NextChange(row, width, a0 + 1, !black);
    int64_t b1, b2;
    // Reference bits are set for black here, so the current colour's bit is 'black'.
    FindB1B2(ref, width, a0, black, false, b1, b2);
    if (b2 < a1) {
      w.Put(4, 1);  // pass
      a0 = b2;
    } else if (b1 - a1 >= -3 && b1 - a1 <= 3) {
      static constexpr struct {
        int length;
        uint32_t code;
      } kVertical[7] = {{7, 0x02}, {6, 0x02}, {3, 0x02}, {1, 0x01}, {3, 0x03}, {6, 0x03}, {7, 0x03}};
      const auto& v = kVertical[a1 - b1 + 3];
      w.Put(v.length, v.code);
      a0 = a1;
      black = !black;
    } else {
      const int64_t a2 = a1 >= width ? width : NextChange(row, width, a1 + 1, black);
      const int64_t start = std::max<int64_t>(a0, 0);
      w.Put(3, 1);  // horizontal
      PutRun(w, a1 - start, black);
      PutRun(w, a2 - a1, !black);
      a0 = a2;
    }
  }
}

}  // namespace

void CCITTEncodeHuffman(const uint8_t* row, int width, TStream& stream, int fillOrder) {
  TBitWriter w(nullptr);
  EncodeRow1D(w, row, width);
  w.PadToByte();
  w.Flush(stream, fillOrder, nullptr);
}

void CCITTEncodeG3(const uint8_t* row, int width, TStream& stream, int fillOrder, TCCITTEncoderState& state) {
  TBitWriter w(&state);
  if (row == nullptr) {
    w.PadToByte();
  } else {
    PutEOL(w);
    EncodeRow1D(w, row, width);
  }
  w.Flush(stream, fillOrder, &state);
}

void CCITTEncodeG3_2D(const uint8_t* row, int width, TStream& stream, int fillOrder, TCCITTEncoderState& state) {
  TBitWriter w(&state);
  const size_t rowBytes = size_t((width + 31) / 32) * 4;
  if (row == nullptr) {
    PutEOL(w);
    w.PadToByte();
    state.ReferenceRow.clear();
    state.HasReference = false;
  } else if (!state.HasReference) {
    PutEOL(w);
    w.Put(1, 1);
    EncodeRow1D(w, row, width);
  } else {
    PutEOL(w);
    w.Put(1, 0);
    EncodeRow2D(w, row, state.ReferenceRow.data(), width);
  }
  if (row != nullptr) {
    state.ReferenceRow.assign(row, row + std::min(rowBytes, size_t((width + 7) / 8)));
    state.ReferenceRow.resize(rowBytes, 0);
    state.HasReference = true;
  }
  w.Flush(stream, fillOrder, &state);
}

void CCITTEncodeG4(const uint8_t* row, int width, TStream& stream, int fillOrder, TCCITTEncoderState& state) {
  TBitWriter w(&state);
  const size_t rowBytes = size_t((width + 31) / 32) * 4;
  if (row == nullptr) {
    PutEOL(w);
    PutEOL(w);
    w.PadToByte();
    state.ReferenceRow.clear();
    state.HasReference = false;
  } else {
    if (!state.HasReference) state.ReferenceRow.assign(rowBytes, 0);  // all white
    EncodeRow2D(w, row, state.ReferenceRow.data(), width);
    state.ReferenceRow.assign(row, row + size_t((width + 7) / 8));
    state.ReferenceRow.resize(rowBytes, 0);
    state.HasReference = true;
  }
  w.Flush(stream, fillOrder, &state);
}
